// Forward search of a short text in string-family buffers: the path that
// `find` and `select` take for a text or char! needle read front to back one
// code point at a time.
//
// Both sides are compared as code points, whatever their units. With
// folding, each side is folded to upper case first, so that a needle unit
// wider than the text's can still match ("ı" folds to "I", "Ÿ" matches "ÿ").
// On 1-byte text the scan jumps between candidates with a byte search on the
// needle's least ambiguous code point and checks the rest through a
// 256-entry table of folded bytes.
//
// Nothing here allocates in the heap.
#pragma once

#include <cstdint>

namespace kiv::string {

// A needle as the search reads it: `length` code points of `unit` bytes
// from `first`.
// The upper case of any code point (the case-folding tables).
std::uint32_t fold_code_point(std::uint32_t cp);

struct TextNeedle {
    const std::uint8_t* first;
    std::uint32_t unit;
    std::int64_t length;
};

// The first position p in [low, high - length] of a buffer of `unit`
// (positions in units from `head`) where the needle's code points follow
// one another, both sides folded to upper case when `fold`; -1 when there
// is none. The needle is not empty.
std::int64_t find_forward(const std::uint8_t* head, std::uint32_t unit, std::int64_t low,
                          std::int64_t high, const TextNeedle& needle, bool fold);

// The same, folded, for a needle of `length` 1-byte units from `needle` in
// 1-byte text: the needle is read in place.
std::int64_t find_folded_byte_text(const std::uint8_t* head, std::int64_t low, std::int64_t high,
                                   const std::uint8_t* needle, std::int64_t length);

// The same for one code point, given already folded when `fold`.
std::int64_t find_char_forward(const std::uint8_t* head, std::uint32_t unit, std::int64_t low,
                               std::int64_t high, std::uint32_t cp, bool fold);

// The upper case of each of the 256 byte values, once `byte_upper_ready`
// (from the first search or `fill_byte_upper` on).
extern std::uint32_t byte_upper[256];
extern bool byte_upper_ready;
void fill_byte_upper();

// The upper case of a code point, through the byte table below 0x100.
inline std::uint32_t fold_point(std::uint32_t cp) {
    return cp <= 0xFF && byte_upper_ready ? byte_upper[cp] : fold_code_point(cp);
}

}  // namespace kiv::string
