// char!: one Unicode code point as a value. Payload word 2 holds the code
// point, always within 0..0x10FFFF; the other payload words carry nothing.
// Its parent is integer!, whose random, absolute, even? and odd? it takes.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::char_ {

constexpr std::uint32_t max_code_point = 0x10FFFF;

inline Cell* make_at(Cell* out, std::uint32_t cp) {
    *out = Cell{static_cast<std::uint32_t>(Type::char_), 0, cp, 0};
    return out;
}

inline std::uint32_t get(const Cell* value) { return value->data2; }

// Appends a char! at the block's tail. May expand the block.
Cell* make_in(Cell* block, std::uint32_t cp);

// The scalar arithmetic of vector!: applies the op (0 add ... 7 xor, the
// numeric op codes) of every element with the scalar, in place, and answers
// the vector. Set by vector! at start-up; while unset, a vector! operand of
// char! arithmetic is refused as any other datatype is.
using VectorScalarMath = Cell* (*)(int op, Cell* vector, Cell* scalar);
extern VectorScalarMath vector_scalar_math;

// Registers char!, after integer!.
void init();

}  // namespace kiv::char_
