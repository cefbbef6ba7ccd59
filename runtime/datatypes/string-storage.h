// The storage of string! and its family: a series buffer of fixed-width code
// points, 1 byte (0-0xFF), 2 bytes (0-0xFFFF) or 4 bytes per unit. A buffer
// only widens, in place over its whole content, and never narrows (except
// when reset). Code points are stored as numbers, never as UTF-8 or
// surrogate pairs.
//
// The value cell: data1 the index (`head`, in units from the buffer's first
// used unit; it may lie past the tail), data2 the node, data3 the node of a
// cached encoded copy for system calls (0 when none).
//
// How far unit 1 goes depends on the operation, and decides when a buffer
// widens: appending one code point at the tail keeps unit 1 for 0-0x7F only;
// writing at a position and loading UTF-8 keep it for 0-0xFF.
//
// GC: every function that may widen or grow a buffer may allocate; it
// returns the buffer to use afterwards, and callers holding positions into
// the old one recompute them from the new one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/memory.h"

namespace kiv::string {

using memory::SeriesBuffer;

inline SeriesBuffer* buffer(const Cell* value) { return memory::buffer_of(value->data2); }

// ---------------------------------------------------------------------------
// Makers and access.

// Makes `cell` an empty string! over a new unit-1 buffer of `size` bytes (0
// gives 1). Allocates.
Cell* make_at(Cell* cell, std::int64_t size);
// The same over a buffer for `count` code points of `unit` (0: 16 bytes'
// worth). Allocates.
Cell* make_at_unit(Cell* cell, std::int64_t count, std::uint32_t unit);

// The code point stored at `p` in a buffer of `unit`.
std::uint32_t get_char(const std::uint8_t* p, std::uint32_t unit);

// Pointer to the unit at the index; an index past the tail is first set to
// the tail.
std::uint8_t* ks_head(Cell* value);
// Code points from the index to the tail (an index past the tail is set to
// the tail and 0 answered).
std::int32_t ks_length(Cell* value);
// Code points from the head to the tail.
std::int32_t ks_abs_length(const Cell* value);
// Code point at a 0-based position from the head (below the length).
std::uint32_t ks_abs_at(const Cell* value, std::int32_t position);
// Empties the value: unit back to 1, tail at the offset, index 0.
Cell* ks_reset(Cell* value);

// ---------------------------------------------------------------------------
// Widening. The whole buffer is rewritten in place from its tail down; it is
// expanded first when the wider copy does not fit, so the result may be a new
// buffer.

SeriesBuffer* widen_buffer(SeriesBuffer* buffer, std::uint32_t from, std::uint32_t to);

// The unit a buffer needs to hold `cp` when writing at a position: 1 up to
// 0xFF, 2 up to 0xFFFF, else 4.
constexpr std::uint32_t unit_for(std::uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// ---------------------------------------------------------------------------
// Writing code points.

// Appends one code point at the tail, widening as appending requires.
SeriesBuffer* append_char(SeriesBuffer* buffer, std::uint32_t cp);
// Stores a code point at a unit offset from the head, widening as writing at
// a position requires; a position at or past the tail moves the tail to just
// after it.
SeriesBuffer* overwrite_char(SeriesBuffer* buffer, std::int64_t position, std::uint32_t cp);

// Appends each byte of the text as one code point.
void append_literal(Cell* value, const char* text);
// Appends exactly `count` bytes as code points.
void append_bytes(Cell* value, const char* text, std::int64_t count);
// Appends the code points of `source` from its index: at most `part` of them
// when `part` is not negative. The destination widens to the source's unit;
// the source keeps its own.
SeriesBuffer* append_string(Cell* destination, Cell* source, std::int64_t part);
// Decodes UTF-8 text and appends its code points, as loading would store
// them (unit 1 kept up to 0xFF). Undecodable bytes are appended one byte per
// code point. Allocates.
void append_utf8(Cell* value, std::string_view utf8);

// ---------------------------------------------------------------------------
// Comparing.

// Compares the text of two values from their indexes under a comparison op
// code (see registry.h): below, equal to or above 0. A symbol! operand
// stands for its text. Case is folded to upper case unless the op is
// strict_equal or sort_case. In match mode, value 2 must be a prefix of
// value 1 (0 when it is). Builds a symbol's string on first use.
int compare_strings(Cell* value1, Cell* value2, CompareOp op, bool match);

// ---------------------------------------------------------------------------
// Loading and reading back.

// The node of a new series holding the decoded UTF-8 text, unit 1 widened
// as needed. A leading byte order mark is skipped; a sequence cut by the end
// of the text ends the load; invalid UTF-8 fires access invalid-utf8.
// Allocates.
NodeId load_utf8_new(const std::uint8_t* bytes, std::int64_t length);

// The text from the value's index to the tail as UTF-8 (for C-level output
// and tests; allocates nothing in the heap).
std::string to_utf8(const Cell* value);
// The code points of [first, end) of a buffer of `unit`, as UTF-8.
std::string units_to_utf8(const std::uint8_t* first, const std::uint8_t* end, std::uint32_t unit);

}  // namespace kiv::string
