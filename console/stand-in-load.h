// A stand-in loader of source text, until the lexer's own loaders exist: it
// runs the lexer's automaton with loaders for the values the evaluator's
// tests and the stand-in console need (words of every kind, refinements,
// issues, integers, floats, percents, strings, chars, files, constructs,
// blocks, parens and paths). Other tokens raise their syntax error.
#pragma once

#include "runtime/cell.h"

namespace kiv::console {

// Loads UTF-8 text into a new block in `out`. Syntax errors are raised as
// language errors.
Cell* load_text(const char* text, std::size_t length, Cell* out);

// Installs the loader as the blocks' text loader when no other is
// installed.
void install_stand_in_loader();

}  // namespace kiv::console
