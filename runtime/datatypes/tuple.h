// tuple!: 3 to 12 unsigned bytes written with dots (1.2.3, 255.128.0.64):
// version numbers, network addresses, colours. A tuple lives wholly in its
// cell: the header holds the length in bits 19-22, and the three payload
// words hold the bytes in order (byte 1 first in memory). Bytes past the
// length mean nothing and take no part in any operation.
//
// Arithmetic works byte by byte and clamps every result to 0..255.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/integer.h"

namespace kiv::tuple {

constexpr int min_length = 3;
constexpr int max_length = 12;
constexpr std::uint32_t length_shift = 19;
constexpr std::uint32_t length_mask = 0xFu << length_shift;

inline int length(const Cell* value) {
    return static_cast<int>((value->header & length_mask) >> length_shift);
}

inline void set_length(Cell* value, int n) {
    value->header = (value->header & ~length_mask) | (static_cast<std::uint32_t>(n) << length_shift);
}

// The bytes, byte 1 first: the payload after the header word.
inline std::uint8_t* bytes(Cell* value) { return reinterpret_cast<std::uint8_t*>(value) + 4; }
inline const std::uint8_t* bytes(const Cell* value) {
    return reinterpret_cast<const std::uint8_t*>(value) + 4;
}

// Retypes `cell` to a tuple of `n` bytes (n below 3 is padded with zeros to
// 3), keeping its other header flags.
Cell* make_at(Cell* cell, int n, const std::uint8_t* source);

// A tuple of the low bytes of `n` integers (padded to 3): image pixels.
Cell* from_integers(Cell* cell, int n, const std::int32_t* values);

// The first bytes of a binary from its index, at most 12, padded to 3.
Cell* from_binary(const Cell* binary, Cell* result);

// The colour the issue's name spells in hexadecimal: 3 digits (each doubled,
// so F gives 255), 6 digits (r.g.b) or 8 (r.g.b.a). Any other length or a
// character that is not a hex digit fires script invalid-data.
Cell* from_issue(const Cell* issue, Cell* result);

// r.g.b (alpha -1) or r.g.b.a.
Cell* set_rgba(Cell* cell, std::uint8_t r, std::uint8_t g, std::uint8_t b, int alpha);

// The byte arithmetic on the two operands (op codes add to xor); the
// result replaces the left. A left operand that is not a tuple trades
// places with the right first (add, multiply, or, and, xor); subtract,
// divide and remainder then fire script not-related.
Cell* do_math(Cell* left, Cell* right, MathOp op);

// Whether every byte is 0.
bool zero_q(const Cell* value);

// The byte at a 1-based index as an integer!, written to `out`; an index
// outside 1..length fires script out-of-range.
Cell* pick(const Cell* value, std::int32_t index, Cell* out);

// Sets the byte at a 1-based index (an integer!, clamped to 0..255), or cuts
// the tuple there (none!: the length becomes index - 1, but never below 3).
// An index outside 1..length fires script out-of-range.
void poke(Cell* value, std::int32_t index, const Cell* new_value);

// Registers tuple!.
void init();

}  // namespace kiv::tuple
