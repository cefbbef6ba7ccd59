// bitset!: a set of non-negative integers (usually code points) as a bit
// array. The cell holds the node of a byte series in data2. Bit n lives in
// byte n >> 3 under the mask 128 >> (n & 7), so the most significant bit of
// a byte is the lowest number.
//
// The stored bits are the members. A complemented set (made with `not`)
// carries the buffer's complement flag, and every number beyond its buffer
// is a member; beyond a plain set's buffer nothing is. So a buffer grows
// with 0xFF bytes for a complemented set and 0 bytes for a plain one, and
// the size of a set is its byte count times 8.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kiv::bitset {

inline NodeId node(const Cell* value) { return value->data2; }
inline memory::SeriesBuffer* buffer(const Cell* value) { return memory::buffer_of(value->data2); }
bool complemented_q(const Cell* value);

// Makes `out` a plain bitset! of `bytes` zero bytes. Allocates.
Cell* make_at(Cell* out, std::int64_t bytes);

// Whether n is a member.
bool member_q(const Cell* value, std::int64_t n);

// What process_spec does with the numbers its spec names.
enum class SpecOp : int { max = 0, set = 1, test = 2, clear = 3 };
// Who asks, for the error a value of the wrong type raises: make
// (bad-make-arg), to (bad-to-arg) or another action (invalid-arg).
enum class SpecMode : int { make = 0, to = 1, other = 2 };

// Walks a spec: a char!, an integer!, a float! (truncated), a string! from
// its index, or a block of those with ranges (`#"a" - #"z"`, `1 - 10`).
// max answers the largest number named (-1 for none); test answers 1 when
// every number is a member, else 0; set and clear answer 0.
// GC: set and clear may grow the buffer.
std::int64_t process_spec(const Cell* spec, Cell* bitset, SpecOp op, SpecMode mode);

// The set operations: or~, and~, xor~ (the action codes of MathOp), the
// first argument itself, union, intersect, exclude and difference.
enum class SetOp : int {
    or_ = 5, and_ = 6, xor_ = 7, first = 8, union_ = 9, intersect = 10, exclude = 11, difference = 12
};
// A new bitset in `left` from two bitsets; a second argument of another
// datatype fires script invalid-type with it. Allocates.
Cell* do_bitwise(Cell* left, Cell* right, SetOp op);

// Registers bitset!.
void init();

}  // namespace kiv::bitset
