// Output hooks: `print` and `prin` hand their formed string to every print
// hook; the runtime's own hook writes it through the console output layer.
// Line hooks hear of every low-level text and number print. The lists are
// set up first of all at start-up, so start-up output already uses them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kiv::console_output {

// (string value, newline flag)
using PrintHook = void (*)(const Cell* value, bool newline);
// (text, character count, 0)
using LineHook = void (*)(const char* text, std::size_t count, int extra);

// Makes both lists (room for 5, growing by 5) and registers print_encoded
// as the one print hook. Later calls do nothing.
void init_hooks();
// Appends each non-null hook to its list; a hook registered twice runs twice.
void add_hooks(PrintHook print_hook, LineHook line_hook);
// Call every hook of the list in registration order; nothing before
// init_hooks.
void call_print_hooks(const Cell* value, bool newline);
void call_line_hooks(const char* text, std::size_t count, int extra);

// The standard print hook: the string from its head index to its tail,
// written by its unit, with a line end when newline; a live text-mode view
// steps aside meanwhile.
void print_encoded(const Cell* value, bool newline);
// print_encoded's work on raw units (1, 2 or 4 bytes each).
void print_units(const void* start, std::size_t bytes, int unit, bool newline);

}  // namespace kiv::console_output
