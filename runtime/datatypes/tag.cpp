// tag!: the text form, then the registration.
#include "runtime/datatypes/tag.h"

#include <algorithm>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"

namespace kiv::tag {

int form_text(Cell* value, Cell* out, Cell* part_arg, int part) {
    std::int32_t count = string::ks_length(value);
    if (part_arg) count = std::clamp(part, 0, count);
    string::append_string(out, value, count);
    return part - count;
}

namespace {

// "<", the text, ">"; each delimiter spends one unit of the budget.
int form(Cell* value, Cell* buffer, Cell* part_arg, int part) {
    string::append_literal(buffer, "<");
    part = form_text(value, buffer, part_arg, part - 1);
    string::append_literal(buffer, ">");
    return part - 1;
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part_arg, int part, int) {
    return form(value, buffer, part_arg, part);
}

constexpr ActionRow actions{
    .make = inherit,
    .reflect = inherit,
    .to = inherit,
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

}  // namespace

void init() { registry::register_type(Type::tag, Type::string, "tag!", actions); }

}  // namespace kiv::tag
