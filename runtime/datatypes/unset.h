// unset!: the value of nothing (an unset word, a function that returns
// nothing). Header only; no payload is read.
#pragma once

#include "runtime/cell.h"

namespace kiv::unset {

// The shared read-only unset value.
extern const Cell value;

inline Cell* make_at(Cell* out) {
    *out = Cell{static_cast<std::uint32_t>(Type::unset), 0, 0, 0};
    return out;
}

// Appends an unset value at the block's tail. May expand the block.
Cell* make_in(Cell* block);

void init();

}  // namespace kiv::unset
