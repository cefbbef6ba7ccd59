// Process calls for the native `call`: runs a command, wires the child's
// standard streams to the console, the null device, files or pipes, feeds
// its input, captures its output and error, and answers the exit code or,
// without waiting, the process id.
//
// LINUX: every command runs as /bin/sh -c with the command text. Input text
// goes as UTF-8; captured text is decoded as UTF-8 with each CR before an
// LF dropped. Input and the two captures are served together by poll, so a
// child that fills its output pipe never deadlocks against its input. A
// child started without waiting is started through a short-lived middle
// process, so init adopts and reaps it and no zombie remains. Every
// descriptor the call opens is closed before it returns.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::process {

// Runs `command` (a string! or file!). `input` is a string!, binary! or
// file! or null; `output` and `error` a string!, binary! (captured and
// inserted at its index) or file! (appended to) or null. Any redirection
// waits. Without `console` and without a redirection the child's output and
// error go to the null device. Answers the exit code (128 + the signal for
// a child ended by a signal) when waiting, else the process id; -1 when the
// command cannot start or its input file cannot be opened. Allocates when
// it inserts captured output; decoding invalid UTF-8 fires access
// invalid-utf8.
std::int64_t call(Cell* command, bool wait, bool console, Cell* input, Cell* output, Cell* error);

}  // namespace kiv::process
