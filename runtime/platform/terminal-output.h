// Standard output as the console output layer needs it: whether it is a
// terminal, writing bytes to it, and the two questions the terminal answers
// (its size and where its cursor is). Nothing here touches language values.
#pragma once

#include <cstddef>

namespace kiv::platform {

bool stdout_is_terminal();

// Writes every byte, retrying interrupted and partial writes; failures (a
// closed pipe, a full disk) lose the text silently.
void write_stdout(const void* bytes, std::size_t count);

// Columns and rows of the terminal on standard output; false when unknown.
bool terminal_size(int* columns, int* rows);

// The cursor's 0-based column and row, asked of the controlling terminal
// with a cursor-position report; false when it does not answer in time.
// Bytes the terminal sends before its report (typed-ahead keys) are lost.
bool terminal_cursor(int* column, int* row);

}  // namespace kiv::platform
