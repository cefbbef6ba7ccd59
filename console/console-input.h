// The console's input as the language sees it: the line editor's two steps
// behind `ask` (the line and history handed over, then the line read into
// that string), the two plain readers of standard input, and the console's
// start (title, editor, size) and settings folder.
//
// On a terminal the line is edited (terminal.h); redirected, one UTF-8 line
// is read with no prompt and no echo. When the input has ended (nothing is
// left to read, or the terminal cannot be read) the console is over: the
// process ends with status 0, without saving the settings.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kiv::console_input {

// The string to read into and the history block (taken from its head).
// GC: both are kept in collector root cells until the next call.
void set_buffer_history(const Cell* line, const Cell* history);

// Reads one line into the string given to set_buffer_history. On a terminal
// the prompt (from its index) is shown and the line edited; with `hidden`
// every character shows as "*". An entered line that is not hidden, not
// empty and not the newest entry goes to the head of the history: the
// string itself, not a copy. Allocates.
void read_input(const Cell* prompt, bool hidden);

// Appends one line of standard input (read directly, with no editing) to
// the string. Allocates.
void input_stdin(Cell* line);

// Reads at most `count` bytes of standard input into the binary at its
// index and moves its tail past them; answers the count read (0 at the end
// of the input, -1 on an error). The binary must be empty from its index
// with room for `count` bytes there.
std::int32_t read_stdin(Cell* binary, std::int32_t count);

// Starts the console: the title (on a terminal), the editor, and the size
// as columns and rows, 80x50 when not known.
struct Size {
    std::int32_t columns;
    std::int32_t rows;
};
Size init_console(const Cell* title);
// The size the editor last read, with the same fallback.
Size console_size();

// The folder of the console settings: "Kiv-Console/" under $APPDATA when
// set, else under $XDG_CACHE_HOME, else under $HOME/.cache; "/" ends it.
// Empty when none of them is set.
std::string settings_dir();

}  // namespace kiv::console_input
