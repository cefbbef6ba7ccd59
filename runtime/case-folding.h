// Case mapping and display width of code points.
//
// Upper and lower case of the Basic Multilingual Plane come from two flat
// 65,536-entry arrays filled once by `case_folding::init` from compact pair
// tables; code points above 0xFFFF scan short sorted pair lists. Every
// case-insensitive comparison and hash folds through `change_char`, so the
// BMP path is a single array read. Display width answers how many terminal
// columns a code point takes. The tables are generated from the Unicode
// Character Database by tools/gen-case-tables.py.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kiv::case_folding {

// Fills the mapping arrays; later calls do nothing. Must run before the
// first change_char.
void init();

// The upper (to_upper) or lower case of cp, or cp itself when it has none.
std::uint32_t change_char(std::uint32_t cp, bool to_upper);

// Changes the case of a char! or string-family value in place. For a
// string, an index past the tail is first set to the tail; `part` is null
// without /part, else its argument: an integer! count, or a position in the
// same series (same datatype and buffer). Any other part fires script
// invalid-refine-arg with `refinement` (the /part refinement) and the part.
// A code point that no longer fits the buffer's unit widens the buffer.
// GC: widening may allocate.
void change_case(Cell* value, const Cell* part, const Cell* refinement, bool to_upper);

}  // namespace kiv::case_folding

namespace kiv::unicode {

// An inclusive range of code points.
struct Interval {
    std::uint32_t first, last;
};

// Whether cp lies in one of count sorted intervals.
bool in_intervals_q(std::uint32_t cp, const Interval* table, std::size_t count);

// Terminal columns of cp: 0 for NUL and zero-width marks, 2 for East Asian
// wide and fullwidth characters, 1 for everything else (controls included).
int display_width(std::uint32_t cp);

}  // namespace kiv::unicode
