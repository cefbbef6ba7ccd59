// Text encodings on string buffers: loading UTF-8 and UTF-16LE into the
// fixed-width units of a string series (1, 2 or 4 bytes per code point,
// widened in place as wider code points arrive), the in-place widening
// itself, and the encoded copies of a string value that operating-system
// calls take, kept in the value's side buffer.
//
// A string value is a string-family cell: word 1 the head index (in units),
// word 2 the node of its buffer, word 3 the node of its side buffer (0 until
// first needed). The buffer's flag bits 0-4 hold the unit.
//
// GC: every function here may allocate or expand a series and so collect;
// buffers are re-read through their nodes after each such call, and a
// widening or loading function answers the buffer to use from then on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kiv::unicode {

// Widen every unit of the buffer (from its offset to its tail) in place;
// the buffer is first expanded when it lacks room for the wider units and
// one more. Answer the buffer to use from then on (a new one when it was
// expanded); indexes in units stay valid.
memory::SeriesBuffer* widen_1to2(memory::SeriesBuffer* buffer);
memory::SeriesBuffer* widen_1to4(memory::SeriesBuffer* buffer);
memory::SeriesBuffer* widen_2to4(memory::SeriesBuffer* buffer);

// Loads `length` bytes of UTF-8 into `target` (its content is replaced, its
// unit kept or widened) or, with a null target, into a new unit-1 series.
// A leading byte order mark is skipped. With `cr`, CR LF loads as LF and a
// lone CR as LF. A sequence cut by the end stops the loading: *remainder
// (when given) receives the count of unconsumed bytes, else 0. Invalid
// UTF-8 fires access invalid-utf8. Answers the buffer's node.
NodeId load_utf8(const std::uint8_t* bytes, std::size_t length, memory::SeriesBuffer* target,
                 std::size_t* remainder, bool cr);
NodeId load_utf8_into(const std::uint8_t* bytes, std::size_t length, const Cell* value,
                      std::size_t* remainder);
NodeId load_utf8_new(const std::uint8_t* bytes, std::size_t length);

// Loads count UTF-16LE units into the buffer of `target` (overwritten, its
// unit set to what the text needs) or into a new series. With `cr` every
// CR is dropped. A broken surrogate pair fires script invalid-data.
NodeId load_utf16le(const std::uint8_t* bytes, std::size_t count, const Cell* target, bool cr);

// Code points from the value's head index to its tail.
std::size_t string_length(const Cell* value);

// The value's side buffer with room for size bytes, made or enlarged as
// needed (it never shrinks); answers the start of its data.
std::uint8_t* get_side_buffer(Cell* value, std::size_t size);

// UTF-8 of the value from its head index into the side buffer, NUL
// terminated. *length: on entry -1 or a limit in code points; on return
// the bytes without the NUL. With crlf each LF is written as CR LF.
// Fires script invalid-char for a code point above 0x10FFFF.
NodeId encode_to_side_buffer(Cell* value, long* length, bool crlf);
std::uint8_t* to_utf8(Cell* value, long* length);
std::uint8_t* to_utf8_crlf(Cell* value, long* length, bool crlf);

// UTF-16 of the value in the side buffer, 0-unit terminated; *length as
// above, on return the 16-bit units without the terminator. Answers null
// when a code point is 0x110000 or more.
std::uint16_t* to_utf16(Cell* value, long* length, bool crlf);
std::uint16_t* to_utf16_crlf(Cell* value);

// UTF-8 of at most `part` code points (-1: all) from the value's head index
// into dst, with a NUL after them when `terminate` (not counted). Answers
// the bytes written.
std::size_t write_utf8(const Cell* value, std::uint8_t* dst, long part, bool terminate);
// As write_utf8 (part <= 0: all), but no more than room bytes; the last
// sequence may be cut, and the NUL goes right after what was written.
std::size_t write_utf8_bounded(const Cell* value, std::uint8_t* dst, std::size_t room, long part,
                               bool terminate);

}  // namespace kiv::unicode
