// binary!: the byte series, written #{0A1B}. A child of string!: the series
// actions it does not fill itself are string!'s, which work on any series of
// 1-byte units.
//
// The value cell: data1 the index (`head`, in bytes from the buffer's first
// used byte; it may lie past the tail when the buffer shrank under the
// value, and then counts as the tail), data2 the node of a unit-1 buffer,
// data3 0. A binary never widens.
//
// Multi-byte conversions are big-endian: an integer! gives 4 bytes, a float!
// or percent! the 8 bytes of its double, most significant first.
//
// GC: every function that grows or makes a buffer may collect; pointers
// into the binary's old buffer must be recomputed afterwards (an expanded
// buffer moves). Helpers that answer pointers answer them into the buffer
// as it stands on return.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/memory.h"

namespace kiv::binary {

inline memory::SeriesBuffer* buffer(const Cell* value) { return memory::buffer_of(value->data2); }

// Bytes from the index to the tail; an index past the tail is first moved
// back to the tail.
std::int32_t ks_length(Cell* value);
// The byte at the index (after the same clamping).
std::uint8_t* ks_head(Cell* value);
// The byte at an offset from the buffer's first used byte.
std::uint8_t get_byte(const Cell* value, std::int32_t offset);

// Reserves n bytes at the tail (growing the buffer) and copies them there;
// answers where they went.
std::uint8_t* append_bytes(Cell* value, const std::uint8_t* source, std::int32_t n);
// Makes room for n bytes at `offset` from the index, moving the rest up, and
// copies them there; answers where they went.
std::uint8_t* insert_bytes(Cell* value, std::int32_t offset, const std::uint8_t* source,
                           std::int32_t n);
// Writes 4 big-endian bytes at the tail; the caller has reserved the room.
void write_int32(std::int32_t n, Cell* value);

// Makes `cell` an empty binary (index 0) over a new buffer of `capacity`
// bytes.
Cell* make_at(Cell* cell, std::int64_t capacity);
// Makes `cell` a binary holding a copy of n bytes.
Cell* load_at(Cell* cell, const std::uint8_t* source, std::int64_t n);
// The same as a new cell at the block's tail. GC: may expand the block.
Cell* load_in(Cell* block, const std::uint8_t* source, std::int64_t n);

// Stores the low 8 bits of an integer! or char! at `dst` (no range check);
// any other value fires script invalid-arg.
void set_value(std::uint8_t* dst, const Cell* value);

// Compares the bytes of a binary with a binary or a string-family value from
// their indexes under an op code. Answers below, at or above 0, or -2 when
// the second value is of another kind. In match mode the second value must
// be a prefix of the first (0 when it is).
int compare_bytes(Cell* value1, Cell* value2, CompareOp op, bool match);

// Whether the byte at the binary's index is in the bitset.
bool byte_in_bitset(Cell* binary, const Cell* bitset);

// parse's match at the binary's index: a string-family value or binary by
// its bytes, a char! by its code point; anything else does not match.
bool match_value(Cell* binary, Cell* value, CompareOp op);

// What `insert_value` does.
enum class Mode : int {
    measure = 0,  // count the bytes only
    write = 1,    // write them
    change = 2,   // write when dst is given, else count; any datatype is formed
};

// The bytes a value contributes to a binary: counts them and, when writing,
// stores them at dst. A positive limit cuts a value's bytes; in a block it
// counts elements, or bytes with `limit_counts_bytes`. An integer outside
// -128..255 fires script invalid-arg; a datatype that has no bytes fires
// script bad-to-arg (except in change mode, where its form is taken).
std::int64_t insert_value(std::uint8_t* dst, Cell* value, std::int64_t limit, bool limit_counts_bytes,
                          Mode mode);

// The bytes whose hexadecimal spelling is the issue's name; a name that is
// not hexadecimal fires script invalid-data.
Cell* from_issue(const Cell* issue, Cell* result);

// Converts a value to a binary! (to binary!, and make binary! from anything
// but a size); an unsupported value fires script bad-to-arg.
Cell* to_binary(Cell* result, Cell* spec);

// Removes zero bytes at the head and at the tail of the view.
void trim_zeros(Cell* value, bool head, bool tail);

// The text of form and mold; answers the budget left.
int serialize(Cell* value, Cell* out, bool only, bool all, bool flat, Cell* part_arg, int part,
              int indent);

// ---------------------------------------------------------------------------
// The coders of enbase and debase.

// Encoders write n source bytes as characters (one byte each) from `out`,
// which has room for them, and answer the position after the last.
std::uint8_t* encode_2(std::uint8_t* out, const std::uint8_t* source, std::int64_t n);
std::uint8_t* encode_16(std::uint8_t* out, const std::uint8_t* source, std::int64_t n);
std::uint8_t* encode_58(std::uint8_t* out, const std::uint8_t* source, std::int64_t n);
std::uint8_t* encode_64(std::uint8_t* out, const std::uint8_t* source, std::int64_t n);

// The characters each encoder writes for n bytes (an upper bound for 58).
std::int64_t encoded_size(int base, std::int64_t n);

// Decoders read `count` characters of `unit` bytes each and answer the node
// of a new byte buffer with the decoded bytes, or 0 when the text is not
// valid in the base.
NodeId decode_2(const std::uint8_t* source, std::int64_t count, int unit);
NodeId decode_16(const std::uint8_t* source, std::int64_t count, int unit);
NodeId decode_58(const std::uint8_t* source, std::int64_t count, int unit);
NodeId decode_64(const std::uint8_t* source, std::int64_t count, int unit);

// Registers binary!; string! must be registered first.
void init();

}  // namespace kiv::binary
