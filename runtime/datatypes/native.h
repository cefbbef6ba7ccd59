// native!, action! and op!: the built-in callables. A native! names a slot
// of the natives table, an action! a slot of the generic action table (both
// 1-based, kept in data1: a C++ entry point has no 32-bit address, so the
// slot stands for it and the value is compared and reflected by it). An op!
// is an infix operator made from a two-argument native!, action!, function!
// or routine!: it copies the three payload words of its source and keeps
// the source's datatype id in header bits 16-23.
//
// native! and action! cells: data2 the spec block's node, data3 the node of
// a two-cell more block (cell 0 the argument context's header cell, made
// from the spec; cell 1 none!). An op! made from a function! or routine!
// shares that value's more block and leaves a copy of the value in its
// cell 3, so the op leads back to its function.
//
// GC: making allocates; molding allocates in the output string.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kiv::native {

// The natives the natives table holds: slots 1 to this are valid.
constexpr std::int32_t natives_present = 107;
// The room of the natives table.
constexpr std::int32_t natives_capacity = 120;

// Makes `out` a native! (or action!) for a table slot, its spec a block.
Cell* make_at(Cell* out, Type type, Cell* spec, std::int32_t slot);

// Registers native!. A datatype registration of start-up.
void init();

// Shared by all three: reflect with spec and body.
Cell* reflect(Cell* value, Cell* field);

}  // namespace kiv::native

namespace kiv::action {
// Registers action! (parent native!).
void init();
}  // namespace kiv::action

namespace kiv::op {

constexpr std::uint32_t source_shift = 16;

// The datatype an op! was made from.
inline Type source_type(const Cell* op) {
    return static_cast<Type>((op->header >> source_shift) & 0xFF);
}

// Whether a spec takes exactly two arguments, the first one evaluated.
bool valid_spec_q(NodeId spec);

// Registers op! (parent native!).
void init();

}  // namespace kiv::op
