// Test loaders for the lexer: every value is described by a text (kept in a
// side table the output cells point into), so a whole load reads back as one
// string: "a: [1 \"x\"] 'b/c".
#pragma once

#include <string>
#include <vector>

#include "runtime/evaluator/lexer.h"

namespace kiv::lexer::test {

// Loads `source` and describes the values, or "error: " and the syntax
// error's message. With `show_lines`, a value with the new-line flag is
// preceded by "|".
std::string load(const std::string& source, bool show_lines = false);

// Scans or prescans `source` (one value when `one`), answering the datatype
// name of the result ("error!", "none" for 0).
std::string scan(const std::string& source, Mode mode, bool one = false);

// Loads with an event hook that accepts everything and records one line per
// event: "open block! 1-2" (1-based byte positions of the token), "load
// word! a".
std::vector<std::string> events(const std::string& source, Mode mode = Mode::load,
                                std::uint32_t mask = 0x3F);

// The describing hooks themselves.
const Hooks& describing_hooks();

const char* type_name(int type);

}  // namespace kiv::lexer::test
