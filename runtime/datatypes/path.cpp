// The path family: make, to, form and the molds of the four kinds; every
// other supported action is block!'s.
#include "runtime/datatypes/path.h"

#include <algorithm>

#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/evaluator/compiled.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"

namespace kiv::path {

namespace {

// Forms or molds the values from the index with "/" between them.
template <bool Mold>
int walk(Cell* value, Cell* buffer, bool all, bool flat, Cell* part_arg, int part, int indent) {
    std::int32_t remaining = part;
    if (const char* marker = cycles::detect(value, Mold, &remaining)) {
        string::append_literal(buffer, marker);
        return remaining;
    }
    const Cell path = *value;
    cycles::Guard guard;
    cycles::push(path.data2);
    const std::int32_t first = std::max(series::head(&path), 0);
    const auto tail = static_cast<std::int32_t>(block::buffer(&path)->length());
    for (std::int32_t i = first; i < tail; ++i) {
        if (i != first) {
            string::append_literal(buffer, "/");
            --part;
        }
        Cell item = block::buffer(&path)->cells()[i];
        if constexpr (Mold) {
            part = registry::find<Action::mold>(&item)(&item, buffer, false, all, flat, part_arg, part, indent);
        } else {
            part = registry::find<Action::form>(&item)(&item, buffer, part_arg, part);
        }
        if (part_arg && part <= 0) break;
    }
    return part;
}

Cell* make(Cell* proto, Cell* spec, Type type) {
    switch (spec->type()) {
        case Type::integer: case Type::float_: case Type::percent:
            make_at(proto, compiled::integer_arg(spec));
            break;
        default:
            if (!series::is_block_like(spec->type())) {
                Cell target;
                registry::make_datatype(&target, type);
                fire(ErrorId::script_bad_make_arg, &target, spec);
            }
            block::to(proto, spec, type);
    }
    proto->set_type(type);
    return proto;
}

Cell* to(Cell* proto, Cell* spec, Type type) {
    switch (spec->type()) {
        case Type::map: case Type::object: case Type::typeset: {
            const Cell value = *spec;
            make_at(proto, 1);
            block::ks_append(proto, &value);
            break;
        }
        default: block::to(proto, spec, type);
    }
    proto->header = static_cast<std::uint32_t>(type);
    return proto;
}

int form(Cell* value, Cell* buffer, Cell* part_arg, int part) {
    return walk<false>(value, buffer, false, false, part_arg, part, 0);
}

int mold(Cell* value, Cell* buffer, bool, bool all, bool flat, Cell* part_arg, int part, int indent) {
    return walk<true>(value, buffer, all, flat, part_arg, part, indent);
}

// The kinds' marks, each one character of the budget.
int mark(Cell* buffer, const char* text, int part) {
    string::append_literal(buffer, text);
    return part - 1;
}

int lit_mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part, int indent) {
    part = mark(buffer, "'", part);
    return mold(value, buffer, only, all, flat, part_arg, part, indent);
}

int get_mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part, int indent) {
    part = mark(buffer, ":", part);
    return mold(value, buffer, only, all, flat, part_arg, part, indent);
}

int set_mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part, int indent) {
    part = mold(value, buffer, only, all, flat, part_arg, part, indent);
    return mark(buffer, ":", part);
}

// Every block! action that a path supports comes from its parent's row.
constexpr ActionRow path_row{
    .make = make,
    .reflect = inherit,
    .to = to,
    .form = form,
    .mold = mold,
    .eval_path = inherit,
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

// The kinds take path!'s row, except their molds.
constexpr ActionRow kind_row(action_fn::mold kind_mold) {
    ActionRow row = path_row;
    row.make = inherit;
    row.to = inherit;
    row.form = inherit;
    row.mold = kind_mold;
    return row;
}

constexpr ActionRow lit_path_row = kind_row(lit_mold);
constexpr ActionRow set_path_row = kind_row(set_mold);
constexpr ActionRow get_path_row = kind_row(get_mold);

}  // namespace

Cell* make_at(Cell* cell, std::int64_t size) {
    block::make_at(cell, size < 1 ? 1 : size);
    cell->set_type(Type::path);
    return cell;
}

Cell* push(Cell* cell, Type kind) {
    cell->set_type(kind);
    return stack::push_copy(cell);
}

void init() {
    registry::register_type(Type::path, Type::block, "path!", path_row);
    registry::register_type(Type::lit_path, Type::path, "lit-path!", lit_path_row);
    registry::register_type(Type::set_path, Type::path, "set-path!", set_path_row);
    registry::register_type(Type::get_path, Type::path, "get-path!", get_path_row);
}

}  // namespace kiv::path
