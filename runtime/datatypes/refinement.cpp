// refinement!: a word molded with a "/" prefix. It is made unbound, and it
// has no index? (its slot is unsupported); everything else is word!'s.
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace kiv::refinement {

namespace {

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int part, int) {
    return word::mold_with(value, buffer, "/", "", part);
}

constexpr ActionRow actions{
    .make = inherit,
    .to = inherit,
    .form = inherit,
    .mold = mold,
    .compare = inherit,
};

}  // namespace

void init() { registry::register_type(Type::refinement, Type::word, "refinement!", actions); }

Cell* load(const char* text, Cell* out) {
    *out = Cell{static_cast<std::uint32_t>(Type::refinement), 0, symbol::make(text),
                static_cast<std::uint32_t>(-1)};
    return out;
}

}  // namespace kiv::refinement
