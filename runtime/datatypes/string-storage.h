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
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

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
inline std::uint32_t get_char(const std::uint8_t* p, std::uint32_t unit) {
    return unicode::unit_at(p, static_cast<int>(unit));
}

// A unit is a power of two, never 0.
inline std::uint32_t shift_of(std::uint32_t unit) { return static_cast<std::uint32_t>(__builtin_ctz(unit)); }

// Code points from the head to the tail.
inline std::int32_t ks_abs_length(const Cell* value) {
    const SeriesBuffer* b = buffer(value);
    return static_cast<std::int32_t>(b->used_bytes() >> shift_of(b->unit()));
}
// Pointer to the unit at the index; an index past the tail is first set to
// the tail.
inline std::uint8_t* ks_head(Cell* value) {
    SeriesBuffer* b = buffer(value);
    const std::uint32_t shift = shift_of(b->unit());
    const std::int32_t length = static_cast<std::int32_t>(b->used_bytes() >> shift);
    if (static_cast<std::int32_t>(value->data1) > length) value->data1 = static_cast<std::uint32_t>(length);
    return b->head() + (value->data1 << shift);
}
// Code points from the index to the tail (an index past the tail is set to
// the tail and 0 answered).
inline std::int32_t ks_length(Cell* value) {
    const std::int32_t length = ks_abs_length(value);
    const std::int32_t index = static_cast<std::int32_t>(value->data1);
    if (index >= length) {
        value->data1 = static_cast<std::uint32_t>(length);
        return 0;
    }
    return length - index;
}
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
// the source keeps its own. The two may share a buffer. Grows by doubling.
// Allocates; returns the destination's buffer.
SeriesBuffer* append_string(Cell* destination, Cell* source, std::int64_t part);

// Copies 1 to 16 bytes between regions that do not overlap, in fixed-size
// moves: short texts are the usual case, and a call to memcpy costs more.
inline void copy_short(std::uint8_t* out, const std::uint8_t* in, std::uint64_t n) {
    if (n >= 8) {
        std::uint64_t a, b;
        std::memcpy(&a, in, 8);
        std::memcpy(&b, in + n - 8, 8);
        std::memcpy(out, &a, 8);
        std::memcpy(out + n - 8, &b, 8);
    } else if (n >= 4) {
        std::uint32_t a, b;
        std::memcpy(&a, in, 4);
        std::memcpy(&b, in + n - 4, 4);
        std::memcpy(out, &a, 4);
        std::memcpy(out + n - 4, &b, 4);
    } else {
        out[0] = in[0];
        out[n / 2] = in[n / 2];
        out[n - 1] = in[n - 1];
    }
}

// The common append in place: the source's text from its index (at most
// `part` code points when `part` is not negative) onto the tail of `d`, when
// it is 1 to 16 bytes of d's unit and fits d's room. Allocates nothing.
// Answers false, touching nothing, when the append needs append_string.
inline bool append_short(SeriesBuffer* d, const Cell* source, std::int64_t part) {
    SeriesBuffer* s = buffer(source);
    const std::uint32_t unit = s->unit();
    if (unit != d->unit()) return false;
    const std::uint32_t shift = shift_of(unit);
    const std::int64_t index = static_cast<std::int32_t>(source->data1);
    const std::int64_t available = static_cast<std::int64_t>(s->used_bytes() >> shift) - index;
    const std::int64_t count = part >= 0 && part < available ? part : available;
    if (count <= 0) return false;
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) << shift;
    if (bytes > 16 || bytes > d->room()) return false;
    copy_short(d->tail_ptr(), s->head() + (static_cast<std::uint64_t>(index) << shift), bytes);
    d->tail += static_cast<std::uint32_t>(bytes);
    return true;
}

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

// ---------------------------------------------------------------------------
// More access, writing at positions and removing. Positions count units
// from the buffer's first used unit (not from a value's index).

// The unit a char! value needs when appended, inserted or changed in: 1
// below 0x80, 2 below 0x10000, else 4.
constexpr std::uint32_t unit_to_append(std::uint32_t cp) {
    return cp < 0x80 ? 1 : cp <= 0xFFFF ? 2 : 4;
}

inline std::uint8_t* ks_tail(const Cell* value) { return buffer(value)->tail_ptr(); }
inline bool ks_tail_q(const Cell* value) {
    return static_cast<std::int32_t>(value->data1) >=
           static_cast<std::int32_t>(buffer(value)->length());
}

// Stores a code point over the unit at `position` (below the length),
// widening as writing at a position requires.
SeriesBuffer* store_char(SeriesBuffer* buffer, std::int64_t position, std::uint32_t cp);
// Inserts a code point at `position` (at most the length), moving the rest
// up one unit, widening as writing at a position requires.
SeriesBuffer* insert_char(SeriesBuffer* buffer, std::int64_t position, std::uint32_t cp);
// Removes `count` code points at `position`; nothing when the position is at
// or past the tail. The count is cut to what remains.
void remove_chars(SeriesBuffer* buffer, std::int64_t position, std::int64_t count);
// Moves the tail back to `count` units when that shortens the text.
SeriesBuffer* truncate_buffer(SeriesBuffer* buffer, std::int64_t count);
// Moves `count` code points from the value's index to the target's index,
// converting between units (the target widens as needed); the source loses
// them. The two values are on different buffers. Allocates.
void move_chars(Cell* value, Cell* target, std::int64_t count);

// ---------------------------------------------------------------------------
// Searching.

// Offset from the index of the first occurrence of `cp`, or -1.
std::int64_t find_char(Cell* value, std::uint32_t cp);
// Whether `cp` occurs at the index or at any `skip`-th unit after it; both
// sides are folded to upper case unless `case_sensitive`.
bool find_char_skip_q(Cell* value, std::uint32_t cp, std::int64_t skip, bool case_sensitive);
// Whether the text from the index begins with the 8-bit literal.
bool starts_with_literal_q(Cell* value, const char* literal);
// Whether the code point at the index is in the bitset (the index must lie
// before the tail).
bool char_in_bitset_q(Cell* value, const Cell* bitset);
// Whether "<", the tag's text and ">" could stand at the index: the code
// point there is "<" and the one after the tag's length is ">".
bool tag_delimited_q(Cell* value, Cell* tag);
// Whether `v` matches at the index: text by prefix comparison, a char! by
// code point (folded unless op is strict_equal), a tag! with its "<" and
// ">". Anything else never matches. For a char! the index must lie before
// the tail.
bool match_at_q(Cell* value, Cell* v, CompareOp op);

// ---------------------------------------------------------------------------
// Copying.

// Where `concatenate` puts the source's text.
enum class Mode { append, insert, overwrite };

// Copies the code points of `source` from its index (at most `part` of them
// when `part` is not negative) into `destination`: at its tail (append), or
// at its index plus `offset` units, moving the rest up (insert) or writing
// over it (overwrite). The destination widens to the source's unit; the
// source keeps its own. The two may share a buffer. Grows by doubling.
// Allocates; returns the destination's buffer.
SeriesBuffer* concatenate(Cell* destination, Cell* source, std::int64_t part,
                          std::int64_t offset, Mode mode);

// Exchanges two adjacent regions of one buffer, A at `a` and B right after
// it, so that B comes first. Lengths in bytes. The smaller region passes
// through a scratch area that is reused between calls.
void swap_regions(std::uint8_t* a, std::size_t length_a, std::size_t length_b);

// Repeats the `length` bytes ending at the buffer's tail until there are
// `copies` of them, growing the buffer as needed. Allocates.
SeriesBuffer* repeat_tail(SeriesBuffer* buffer, std::uint64_t length, std::int64_t copies);

// ---------------------------------------------------------------------------
// Decoding bytes.

// Fires access invalid-utf8, with a binary! of the bytes from the failing
// position to the end, when the bytes are not UTF-8 (a sequence cut by the
// end included); does nothing otherwise.
void check_utf8(const std::uint8_t* bytes, std::int64_t length);

// Makes `out` a string! of the UTF-8 bytes. Bytes that are not UTF-8 fire
// as check_utf8 says. Allocates.
Cell* decode_utf8(const std::uint8_t* bytes, std::int64_t length, Cell* out);
// Makes `out` a string! of text in an encoding: 0 UTF-8, -1 UTF-16LE (the
// length then counts 16-bit units). Any other encoding fires script
// invalid-arg with it. Allocates.
Cell* load_encoded(const std::uint8_t* bytes, std::int64_t length, Cell* out, int encoding);
// `load_encoded` into a new cell at the block's tail. May expand the block.
Cell* load_in(const std::uint8_t* bytes, std::int64_t length, Cell* block, int encoding);
// Makes `out` a binary! holding a copy of the bytes. Allocates.
Cell* make_binary(Cell* out, const std::uint8_t* bytes, std::int64_t length);

// ---------------------------------------------------------------------------
// Text helpers.

// The float of decimal 8-bit text; *error is set when the text is not a
// complete number.
double to_float(const char* text, std::int64_t length, bool* error);
// Two upper-case hexadecimal digits of a byte, high nibble first, in a
// static buffer that the next call overwrites.
const char* byte_to_hex(std::uint8_t byte);
// Eight upper-case hexadecimal digits of a 32-bit value; with `trim` only the
// significant digits ("00" for 0). A static buffer that the next call
// overwrites.
const char* int_to_hex(std::uint32_t value, bool trim);

// Allocates the scratch area that swap_regions uses. Start-up calls it
// before the first string is modified.
void init_storage();

}  // namespace kiv::string
