// pair!: a two-dimensional integer coordinate or size, written 10x20. The
// cell keeps x in payload word 2 and y in word 3, each a signed 32-bit
// integer; word 1 is not read.
//
// Arithmetic runs per coordinate through integer!'s checked operations. It
// never wraps: when a coordinate overflows or a division does not come out
// even, or when the other operand is a point2D!, the whole operation is
// redone in point2D! arithmetic and the result is a point2D!.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/integer.h"

namespace kiv::pair {

inline std::int32_t x(const Cell* value) { return static_cast<std::int32_t>(value->data2); }
inline std::int32_t y(const Cell* value) { return static_cast<std::int32_t>(value->data3); }

// Retypes `cell` to pair!, keeping its header flags, and stores x and y.
inline Cell* make_at(Cell* cell, std::int32_t px, std::int32_t py) {
    cell->set_type(Type::pair);
    cell->data1 = 0;
    cell->data2 = static_cast<std::uint32_t>(px);
    cell->data3 = static_cast<std::uint32_t>(py);
    return cell;
}

// A fresh pair! cell with no flags.
inline Cell make_cell(std::int32_t px, std::int32_t py) {
    Cell c{static_cast<std::uint32_t>(Type::pair), 0, 0, 0};
    return *make_at(&c, px, py);
}

// Appends a pair at the block's tail. GC: may expand the block.
Cell* make_in(Cell* block, std::int32_t px, std::int32_t py);

// The arithmetic with the pair as the left operand; the result (a pair! or
// a point2D!) replaces the left.
Cell* do_math(Cell* left, Cell* right, MathOp op);

// Turns the pair in `slot` into a point2D! of the same coordinates.
Cell* to_point2d(Cell* slot);

// The owner of a value changed in place through a path hears of it: an
// object through its on-change* handler (with the field word `previous`,
// the whole value before and after), an owning series through the
// ownership table (with the word set-path, the element value `value` and
// its index `index`). `old` is the value before the write, `updated` after.
// GC: the object's handler may run any code.
void report_path_write(Cell* grand_parent, Cell* previous, const Cell* old, const Cell* updated,
                       Cell* value, std::int32_t index);

// Registers pair!.
void init();

}  // namespace kiv::pair
