// email!: helpers, then the actions in action order, then the registration.
#include "runtime/datatypes/email.h"

#include <algorithm>
#include <cstring>

#include "runtime/collector.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/tag.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"

namespace kiv::email {

std::int32_t split_at(Cell* value) {
    const std::int32_t n = string::ks_length(value);
    const std::uint8_t* p = string::ks_head(value);
    const std::uint32_t unit = string::buffer(value)->unit();
    for (std::int32_t i = 0; i < n; ++i) {
        if (string::get_char(p + std::size_t(i) * unit, unit) == '@') return i;
    }
    return n;
}

namespace {

// GC: a part read through a path is a new string!; this root keeps it until
// the caller has copied it.
Cell path_result;

// A new string! of `count` characters from `from` past the value's index.
Cell* copy_part(Cell* value, std::int32_t from, std::int32_t count, Cell* out) {
    const std::uint32_t unit = string::buffer(value)->unit();
    Cell part;
    string::make_at_unit(&part, count, unit);
    memory::SeriesBuffer* b = string::buffer(&part);
    std::memcpy(b->head(), string::ks_head(value) + std::size_t(from) * unit, std::size_t(count) * unit);
    b->tail = b->offset + static_cast<std::uint32_t>(count) * unit;
    *out = part;
    return out;
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part_arg, int part, int) {
    return tag::form_text(value, buffer, part_arg, part);
}

// An integer! element picks or pokes a character as in a string!; the words
// user and host read or replace the parts around the first "@".
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent,
                Cell* previous, int index, bool case_, bool get, bool last, bool report) {
    if (element->is(Type::integer)) {
        const auto string_path = registry::lookup<Action::eval_path>(Type::string);
        if (!string_path) fire(ErrorId::script_invalid_path, path, element);
        return string_path(parent, element, value, path, grand_parent, previous, index, case_, get,
                           last, report);
    }
    const bool user = element->is(Type::word) && words::is(element, words::Sym::user);
    const bool host = element->is(Type::word) && words::is(element, words::Sym::host);
    if (!user && !host) fire(ErrorId::script_invalid_path, path, element);
    const std::int32_t n = string::ks_length(parent);
    const std::int32_t split = split_at(parent);
    const std::int32_t from = user ? 0 : std::min(split + 1, n);
    const std::int32_t count = user ? split : n - from;
    if (!value) return copy_part(parent, from, count, &path_result);
    Cell position = *parent;
    position.data1 += static_cast<std::uint32_t>(from);
    registry::find<Action::change>(&position)(&position, value, count, false, 1);
    return parent;
}

constexpr ActionRow actions{
    .make = inherit,
    .reflect = inherit,
    .to = inherit,
    .form = inherit,
    .mold = mold,
    .eval_path = eval_path,
    .compare = inherit,
    .append = inherit,
    .at = inherit,
    .back = inherit,
    .change = inherit,
    .clear = inherit,
    .copy = inherit,
    .find = inherit,
    .head = inherit,
    .head_q = inherit,
    .index_q = inherit,
    .insert = inherit,
    .length_q = inherit,
    .move = inherit,
    .next = inherit,
    .pick = inherit,
    .poke = inherit,
    .put = inherit,
    .remove = inherit,
    .reverse = inherit,
    .select = inherit,
    .skip = inherit,
    .swap = inherit,
    .tail = inherit,
    .tail_q = inherit,
    .take = inherit,
    .modify = inherit,
};

}  // namespace

void init() {
    path_result = Cell{static_cast<std::uint32_t>(Type::none), 0, 0, 0};
    collector::register_root_cell(&path_result);
    registry::register_type(Type::email, Type::string, "email!", actions);
}

}  // namespace kiv::email
