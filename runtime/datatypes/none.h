// none!: the empty value. Header only; no payload is read.
#pragma once

#include "runtime/cell.h"

namespace kiv::none {

// The shared read-only none value.
extern const Cell value;

inline Cell* make_at(Cell* out) {
    *out = Cell{static_cast<std::uint32_t>(Type::none), 0, 0, 0};
    return out;
}

// Appends a none value at the block's tail. May expand the block.
Cell* make_in(Cell* block);

void init();

}  // namespace kiv::none
