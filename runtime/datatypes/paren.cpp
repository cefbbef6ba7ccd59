// paren!: block!'s row with a mold of its own.
//
// Its mold makes no cycle check of its own: the contents walk pushes the
// paren's node at every level, so a paren! that holds itself ends in
// internal too-deep once the cycle stack is full, never in a crash.
#include "runtime/datatypes/paren.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"

namespace kiv::paren {

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part,
         int indent) {
    if (!only) {
        string::append_literal(buffer, "(");
        --part;
    }
    part = block::mold_each(value, buffer, only, all, flat, part_arg, part, indent);
    if (!only) {
        string::append_literal(buffer, ")");
        --part;
    }
    return part;
}

namespace {

constexpr ActionRow actions{
    .make = inherit,
    .random = inherit,
    .reflect = inherit,
    .to = inherit,
    .form = inherit,
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
    .sort = inherit,
    .skip = inherit,
    .swap = inherit,
    .tail = inherit,
    .tail_q = inherit,
    .take = inherit,
    .modify = inherit,
};

}  // namespace

void init() { registry::register_type(Type::paren, Type::block, "paren!", actions); }

}  // namespace kiv::paren
