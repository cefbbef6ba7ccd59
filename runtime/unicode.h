// Text encodings: UTF-8 and UTF-16LE byte streams to and from the
// fixed-width code-point units of string buffers (1, 2 or 4 bytes per code
// point, little-endian), plus the small per-character encoders and decoders.
//
// This header holds the raw layer: every function works on plain pointers
// and lengths and never reads outside the range it is given; the layer on
// string series is unicode-strings.h. Nothing here allocates, except that
// the errors the validating decoder and the UTF-16 loader fire
// (invalid-utf8, invalid-data) carry a new binary! of the offending bytes;
// the encoders fire invalid-char; the fast decoder never fires.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kiv::unicode {

constexpr std::uint32_t max_code_point = 0x10FFFF;

// ---------------------------------------------------------------- units

// The code point held by the unit at p (unit 1, 2 or 4, little-endian).
inline std::uint32_t unit_at(const std::uint8_t* p, int unit) {
    if (unit == 1) return *p;
    if (unit == 2) return static_cast<std::uint32_t>(p[0] | (p[1] << 8));
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Stores v at p in the given unit; v must fit the unit.
inline void store_unit(std::uint8_t* p, int unit, std::uint32_t v) {
    if (unit == 1) {
        *p = static_cast<std::uint8_t>(v);
    } else if (unit == 2) {
        p[0] = static_cast<std::uint8_t>(v);
        p[1] = static_cast<std::uint8_t>(v >> 8);
    } else {
        std::memcpy(p, &v, 4);
    }
}

// The narrowest unit that holds v.
inline int unit_for(std::uint32_t v) { return v <= 0xFF ? 1 : v <= 0xFFFF ? 2 : 4; }

// Rewrites count units of width `from` at base as units of width `to`
// (to > from), in place from the last unit down, so the content needs no
// second buffer. base must have room for count * to bytes.
void widen_units(std::uint8_t* base, std::size_t count, int from, int to);

// ---------------------------------------------------------------- UTF-8

// Decodes one sequence starting at p (p < end) with the strict automaton.
// Returns the position after the sequence; *cp receives the code point, or
// -1 when the sequence is invalid (the position is then after the byte that
// broke it) or cut short by end (the position is then end).
const std::uint8_t* fast_decode_utf8_char(const std::uint8_t* p, const std::uint8_t* end,
                                          std::int32_t* cp);

// Sequences in [first, end); each one, valid or not, counts 1.
std::size_t count_codepoints(const std::uint8_t* first, const std::uint8_t* end);

// The position n sequences after p, or end when fewer remain.
const std::uint8_t* skip_codepoints(const std::uint8_t* p, const std::uint8_t* end,
                                    std::size_t n);

// 4, 3 or 2 for a lead byte by its high bits, 0 for any other byte.
int utf8_sequence_length(std::uint8_t lead);

// Bytes of the UTF-8 form of cp (1-4); above 0x10FFFF fires invalid-char.
int utf8_char_size(std::uint32_t cp);

// UTF-8 size of the units in [first, end).
std::size_t utf8_size(const std::uint8_t* first, const std::uint8_t* end, int unit);

// Writes the UTF-8 form of cp; returns its length. Above 0x10FFFF fires
// invalid-char.
int encode_utf8_char(std::uint32_t cp, std::uint8_t* dst);

// As encode_utf8_char, but writes only the leading bytes that fit in room
// (room <= 0 writes nothing); returns the bytes written.
int encode_utf8_char_bounded(std::uint32_t cp, std::uint8_t* dst, long room);

// The validating decoder. *len holds the bytes available on entry (at least
// 1) and receives the sequence length. Returns the code point, or -1 when a
// sequence whose bytes so far are valid is cut by the end (nothing is
// consumed). Overlong forms, surrogates, U+FFFE and anything above 0x10FFFF
// fire access invalid-utf8 with up to 4 of the bytes at p.
std::int32_t read_utf8_char(const std::uint8_t* p, int* len);

// UTF-8 of count units at first; with crlf each LF is written as CR LF.
// dst needs utf8_size bytes (plus one per LF with crlf). Returns the bytes
// written. Fires invalid-char for a unit above 0x10FFFF.
std::size_t units_to_utf8(const std::uint8_t* first, std::size_t count, int unit,
                          std::uint8_t* dst, bool crlf);

// As units_to_utf8 without crlf, but writes no more than room bytes; the
// last sequence may be cut. Returns the bytes written.
std::size_t units_to_utf8_bounded(const std::uint8_t* first, std::size_t count, int unit,
                                  std::uint8_t* dst, std::size_t room);

// Why load_utf8_units stopped.
enum class LoadStop {
    done,   // all input loaded
    cut,    // the input ends inside a sequence; *in is at its first byte
    widen,  // *cp needs a wider unit; *in is at its sequence
    room,   // the output is full; *in is at the next sequence
};

// Decodes UTF-8 from *in up to end into units of width `unit` at out,
// starting at unit index *used and stopping before capacity. With cr, CR LF
// loads as LF and a lone CR as LF. A leading byte order mark is the caller's
// business. Resumable: after widen or room the caller makes the change and
// calls again with the same *in and *used.
LoadStop load_utf8_units(const std::uint8_t** in, const std::uint8_t* end, std::uint8_t* out,
                         int unit, std::size_t* used, std::size_t capacity, bool cr,
                         std::int32_t* cp);

// ---------------------------------------------------------------- UTF-16

// Writes cp as UTF-16: one unit below 0x10000, a surrogate pair up to
// 0x10FFFF; above that nothing. Returns the units written.
int encode_utf16_char(std::uint32_t cp, std::uint16_t* dst);

// The unit a string needs for count UTF-16LE units: 4 as soon as a high
// byte is a surrogate's, else 2 when any high byte is set, else 1.
int utf16_unit_needed(const std::uint8_t* bytes, std::size_t count);

// Extra bytes of a UTF-16 copy with CR before LF over the units in
// [first, end): 2 for each LF and 2 for each code point from 0x10000.
std::size_t utf16_extra_bytes(const std::uint8_t* first, const std::uint8_t* end, int unit);

// Converts count UTF-16LE units into units of width `unit` (as chosen by
// utf16_unit_needed) at out. With cr every CR unit is dropped. Unit 4 joins
// surrogate pairs; a lone low surrogate is stored as it is. A high surrogate
// not followed by a low one fires script invalid-data with those units.
// Returns the units stored. out needs room for count units.
std::size_t utf16le_to_units(const std::uint8_t* bytes, std::size_t count, int unit,
                             std::uint8_t* out, bool cr);

// UTF-16 of count units at first, with crlf writing LF as CR LF. dst needs
// count * 2 + utf16_extra_bytes bytes. Returns the 16-bit units written, or
// -1 when a unit holds 0x110000 or more (dst then holds what came before).
long units_to_utf16(const std::uint8_t* first, std::size_t count, int unit, std::uint16_t* dst,
                    bool crlf);

}  // namespace kiv::unicode
