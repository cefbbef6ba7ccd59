// The library's top level, until the boot image carries it: start-up makes
// the datatype words stand for their datatypes, binds `make`, and then
// evaluates the embedded library sources in path order (each source's
// "Kiv [...]" header skipped). The sources bind the natives, the actions,
// the operators and the typeset words.
//
// GC: evaluates code: allocates and may collect.
#pragma once

#include <cstddef>

namespace kiv::library_boot {

// Needs the runtime initialised and a text loader installed
// (block::load_text_hook). An error ends the process as any error outside
// a try does.
void run();

// Loads the UTF-8 text and evaluates it, skipping a "Kiv [...]" header.
void eval_source(const char* text, std::size_t size);

}  // namespace kiv::library_boot
