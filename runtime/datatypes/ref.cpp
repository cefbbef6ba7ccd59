// ref!: the molded form, then the registration.
#include "runtime/datatypes/ref.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/tag.h"

namespace kiv::ref {

namespace {

// "@" and the text; the "@" spends one unit of the budget.
int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part_arg, int part, int) {
    string::append_literal(buffer, "@");
    return tag::form_text(value, buffer, part_arg, part - 1);
}

constexpr ActionRow actions{
    .make = inherit,
    .reflect = inherit,
    .to = inherit,
    .form = inherit,
    .mold = mold,
    .compare = inherit,
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

void init() { registry::register_type(Type::ref, Type::string, "ref!", actions); }

}  // namespace kiv::ref
