// The lexer's loaders for the compound scalars and the text-like values:
// pairs, tuples, points, binaries, tags, emails and refs. Each checks its
// token with the decoders of lexer-numbers.h and lexer-text.h and, when
// loading, pushes the value it makes (see `LoaderFn`).
//
// `load_one` is what conversions use to turn text into one such value
// (`to pair! "1x2"`): it scans the text with these loaders in place of the
// checking ones.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/lexer.h"

namespace kiv::lexer {

namespace load {
void pair(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void tuple(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void point(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void binary(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void tag(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void email(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void ref(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
}  // namespace load

// The checking hooks with the loaders above in their slots.
const Hooks& scalar_hooks();

// Loads the text of a string-family value, from its index, and answers
// whether it is exactly one value of `type`, then copied to `out`. A syntax
// error, or a token whose value these loaders cannot make, answers false.
bool load_one(Cell* text, Type type, Cell* out);

}  // namespace kiv::lexer
