// string!: the text datatype and the actions that the whole string family
// (file!, url!, tag!, email!, ref!, and binary! and vector! for the slots
// they inherit) shares through its action row. Storage, widening and the
// low-level helpers are in string-storage.h.
//
// Every action here may allocate, and so collect; the modifying actions
// also report to the series' owner before and after the change, and the
// owner's handler may run user code: after that report they re-read buffer,
// index and length through the node.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"

namespace kiv::string {

// Whether a datatype keeps text in the string layout: string!, file!, url!,
// tag!, email! and ref!.
constexpr bool is_any_string(Type t) {
    return t == Type::string || t == Type::file || t == Type::url || t == Type::tag ||
           t == Type::email || t == Type::ref;
}

// ---------------------------------------------------------------------------
// Molding helpers, shared with char! and file!.

// Appends one code point in molded form: "^(hex)" for 30, 0x80-0x9F and,
// with `all`, everything above 0x7F; the caret escapes for control
// characters, the double quote and the caret; "^~" for 127; else itself.
void append_escaped_char(Cell* out, std::uint32_t cp, bool all);
// Counts double quotes and line feeds in [first, end) of a buffer of `unit`.
void count_quotes_and_newlines(const std::uint8_t* first, const std::uint8_t* end,
                               std::uint32_t unit, int* quotes, int* line_feeds);
// Whether the "{" at `p` has its matching "}" before `end`.
bool brace_closes_q(const std::uint8_t* p, const std::uint8_t* end, std::uint32_t unit);

// ---------------------------------------------------------------------------
// Entry points that other units call by name.

// Appends the value's text to the series as `append` does, without
// reporting to an owner (`to` and other internal callers). part -1: all.
Cell* append_value(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t dup);

// Forms any value onto the tail of `buffer` through its datatype's form.
// With part >= 0 at most that many code points are kept.
void form_value(Cell* value, Cell* buffer, std::int64_t part);

// The set operations on strings (the natives unique, union, intersect,
// exclude and difference). The result goes into `first`, which keeps its
// datatype and gets a new buffer at index 0. `second` is null for unique.
enum class SetOp { unique = 8, union_ = 9, intersect = 10, exclude = 11, difference = 12 };
Cell* set_operation(Cell* first, Cell* second, bool case_sensitive, Cell* skip, SetOp op);

// Registers string!. Needs series! registered first for the slots it
// inherits.
void init();

}  // namespace kiv::string
