// set-word!: a word molded with a ":" suffix; everything else is word!'s.
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/word.h"

namespace kiv::set_word {

namespace {

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int part, int) {
    return word::mold_with(value, buffer, "", ":", part);
}

constexpr ActionRow actions{
    .make = inherit,
    .to = inherit,
    .form = inherit,
    .mold = mold,
    .compare = inherit,
    .index_q = inherit,
};

}  // namespace

void init() { registry::register_type(Type::set_word, Type::word, "set-word!", actions); }

}  // namespace kiv::set_word
