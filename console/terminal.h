// The console's input side on Linux: the line editor on a terminal, and
// plain line reading when standard input is redirected.
//
// The console is a terminal when both standard input and standard output
// are terminals. Then each edit puts standard input into raw mode (no echo,
// no line buffering, no signal keys, no flow control) for the duration of
// the edit only, so program output between prompts sees the terminal's
// normal modes; the saved modes come back on every way out of the process
// (normal exit, fatal errors and the interrupting signals) through the
// runtime's terminal-restore hook. The window size is read from standard
// output and again after each SIGWINCH.
//
// Redirected input is read one byte at a time, so nothing past the line is
// consumed, and decoded as UTF-8 one character at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/line-edit.h"

namespace kiv::terminal {

// Decides whether the console is a terminal, reads its size, installs the
// SIGWINCH handler and the restore hook. Later calls only read the size.
void init();
bool is_console();

// The window's columns and rows; false when unknown (redirected, or the
// terminal reports 0).
bool window_size(int* columns, int* rows);

// One edit on the terminal (is_console() must hold).
line_edit::Result edit(std::u32string_view prompt, bool hidden, const line_edit::History& history);
line_edit::Editor& editor();

// Reads one character from standard input: its code point, or -1 at the
// end of the input (or when reading fails). A malformed sequence fires
// access invalid-utf8.
std::int32_t read_char();

// Appends the characters of one line to `line`, up to a line feed (not
// stored) or the end of the input. A carriage return stays in the line.
// Answers false when the input had ended before anything was read.
bool read_line(std::u32string& line);

// Reads up to `count` bytes from standard input; answers the count read, 0
// at the end of the input, -1 on an error.
long read_bytes(std::uint8_t* buffer, std::size_t count);

// Sets the terminal window's title (an operating-system command sequence);
// nothing when standard output is not a terminal. Write errors are ignored.
void set_title(std::string_view title);

}  // namespace kiv::terminal
