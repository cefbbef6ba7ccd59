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

// Scans with an event hook that records one line per event: "open block!
// 1-2" (1-based byte positions of the token), "load word! a". The hook takes
// the events of `mask` and refuses those of `refuse`; refusing an error, it
// moves the input one byte past the token, as a tracer that skips bad
// tokens does. The last line is "=> " and the values loaded, or "raised "
// and the error's message.
std::vector<std::string> events(const std::string& source, Mode mode = Mode::load,
                                std::uint32_t mask = 0x3F, std::uint32_t refuse = 0);

// The values a scan made with the describing hooks, described.
std::string describe(Scan& scan);

// The describing hooks themselves, and the clearing of their side table.
const Hooks& describing_hooks();
void forget_descriptions();

const char* type_name(int type);

}  // namespace kiv::lexer::test
