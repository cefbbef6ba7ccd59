// hash!: a block whose values are also indexed by a hash table, so that
// lookups hash instead of scanning. The cell is block!'s (data1 the head,
// data2 the block's node) with data3 the node of a hash-kind table that
// holds every position of the block from its first cell. hash! is a child
// of block!: the block and series actions keep the index in step whenever
// they change a hash!, and hash! adds its own make, to, mold, copy, sort
// and trim.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::hash {

// Makes `out` a hash! over the block's buffer (not a copy), at the block's
// head, indexing every value; the table is made for `size` values.
// Allocates.
Cell* make_at(Cell* out, const Cell* block, std::int32_t size);

// Registers hash!; block! must be registered first.
void init();

}  // namespace kiv::hash
