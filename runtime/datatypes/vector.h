// vector!: a series of packed numbers of one element type and one size. A
// child of string!: the series actions it does not fill itself (navigation,
// copy, pick, poke, remove, reverse, sort, take and the rest) are string!'s
// and series!', which work on any fixed unit size.
//
// The value cell: data1 the index (`head`, in elements), data2 the node of a
// buffer whose unit is the element size in bytes, data3 the element datatype
// id: char!, integer!, float! or percent!.
//
// Element sizes: char! and integer! 1, 2 or 4 bytes (default 4); float! 4 or
// 8 bytes (default 8); percent! always 8 bytes. Elements are stored
// little-endian. integer! elements are two's complement, read back
// sign-extended; char! elements hold code points, read back zero-extended.
// Stores keep the low bytes of the value. float! elements are IEEE singles
// or doubles; a percent! element holds the fraction (50% is 0.5).
//
// GC: making and growing a vector allocates; pointers into its buffer must
// be recomputed afterwards.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/integer.h"

namespace kiv::vector {

// Whether a datatype can be an element type.
constexpr bool element_type_q(Type t) {
    return t == Type::char_ || t == Type::integer || t == Type::float_ || t == Type::percent;
}
// Whether elements of the type are floats (float!, percent!).
constexpr bool floats_q(Type t) { return t == Type::float_ || t == Type::percent; }
// The element size a type gets when none is given.
constexpr std::uint32_t default_size(Type t) { return floats_q(t) ? 8 : 4; }

inline Type element_type(const Cell* value) { return static_cast<Type>(value->data3); }

// An integer or char! element as a number: integer! sign-extended, char!
// zero-extended.
std::int64_t get_integer(const std::uint8_t* p, std::uint32_t size, Type element);
// A float element as a double (a single is widened).
double get_real(const std::uint8_t* p, std::uint32_t size);

// Makes `out` a value of the element type from the element at `p`.
void push_value(const std::uint8_t* p, std::uint32_t size, Type element, Cell* out);

// Stores a value at `dst`: a char! or integer! its low `size` bytes, a
// float! or percent! a double (size 8) or a single (size 4). Any other
// value fires script invalid-type with its datatype.
void set_value(std::uint8_t* dst, const Cell* value, std::uint32_t size);

// Makes `cell` an empty vector (index 0) over a new buffer with room for
// `count` elements of `size` bytes. A byte size past the heap's limit fires
// internal no-memory.
Cell* make_at(Cell* cell, std::int64_t count, Type element, std::uint32_t size);

// The arithmetic of a vector with a scalar (integer!, float!, percent! or
// char!; anything else fires internal not-done): changes the elements from
// the index to the tail in place and answers the vector.
Cell* do_math_scalar(MathOp op, Cell* vector, Cell* scalar);

// The arithmetic of a vector with a vector or a scalar. With a vector the
// result is a new buffer of the shorter length and the larger size; `value1`
// is re-pointed to it at index 0.
Cell* do_math(Cell* value1, Cell* value2, MathOp op);

// Registers vector!; string! must be registered first.
void init();

}  // namespace kiv::vector
