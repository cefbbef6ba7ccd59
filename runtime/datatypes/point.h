// point2D! and point3D!: coordinates in 32-bit floating point, written
// (1.5, 2) and (1, 2, 3). The coordinates start at payload word 1 (x, y,
// then z for point3D!), unlike pair!, which starts at word 2.
//
// Both share one design: every computation is done in doubles through
// float!'s arithmetic, and each result coordinate is rounded to float32 when
// it is stored. point2D! also receives pair! arithmetic that leaves the
// integer range.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/cell.h"
#include "runtime/datatypes/integer.h"

namespace kiv::point {

// Coordinate i (0: x, 1: y, 2: z) of a point2D! or point3D! cell: payload
// word i + 1.
inline float get(const Cell* value, int i) {
    float f;
    std::memcpy(&f, reinterpret_cast<const unsigned char*>(value) + 4 + 4 * i, sizeof f);
    return f;
}

inline void set(Cell* value, int i, double d) {
    const float f = static_cast<float>(d);
    std::memcpy(reinterpret_cast<unsigned char*>(value) + 4 + 4 * i, &f, sizeof f);
}

// The number of coordinates of a point2D! (2) or point3D! (3).
inline int dimensions(const Cell* value) { return value->is(Type::point3d) ? 3 : 2; }

}  // namespace kiv::point

namespace kiv::point2d {

// Retypes `cell` to point2D!, keeping its header flags.
inline Cell* make_at(Cell* cell, double x, double y) {
    cell->set_type(Type::point2d);
    point::set(cell, 0, x);
    point::set(cell, 1, y);
    cell->data3 = 0;
    return cell;
}

inline Cell make_cell(double x, double y) {
    Cell c{static_cast<std::uint32_t>(Type::point2d), 0, 0, 0};
    return *make_at(&c, x, y);
}

// The arithmetic (add to remainder) with the point as the left operand; the
// result replaces the left.
Cell* do_math(Cell* left, Cell* right, MathOp op);

// Registers point2D!.
void init();

}  // namespace kiv::point2d

namespace kiv::point3d {

inline Cell* make_at(Cell* cell, double x, double y, double z) {
    cell->set_type(Type::point3d);
    point::set(cell, 0, x);
    point::set(cell, 1, y);
    point::set(cell, 2, z);
    return cell;
}

inline Cell make_cell(double x, double y, double z) {
    Cell c{static_cast<std::uint32_t>(Type::point3d), 0, 0, 0};
    return *make_at(&c, x, y, z);
}

Cell* do_math(Cell* left, Cell* right, MathOp op);

// Registers point3D!.
void init();

}  // namespace kiv::point3d
