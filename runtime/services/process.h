// Running other programs for the `call` native: the command runs as
// `/bin/sh -c` with its text, its standard input, output and error wired
// to the caller's own streams, to the null device, to files or to pipes;
// input bytes are fed while output and error are collected, and the caller
// waits for the exit code or gets the process id at once.
//
// LINUX: every command goes through the shell, so a built-in, a pipeline
// or a program on the search path all run the same way; a missing program
// is the shell's exit code 127. Showing or hiding a window has no meaning
// here. Captured text is UTF-8 with each CR before an LF dropped.
//
// Output and error are read until every writer has closed them: a
// background process that the command leaves holding them keeps the call
// waiting until it ends, as the shell's own command substitution does.
//
// Every descriptor the runtime opens for a call is close-on-exec, and all
// of them are closed before the call returns, on failure too. A waited
// child is reaped by the call; a child that nobody waits for is started
// through a short-lived intermediate process, which is reaped at once, so
// the child belongs to the system's reaper and never stays a zombie.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/cell.h"

namespace kiv::process {

// The result of a call that could not start its process.
constexpr std::int32_t failed = -1;

// One redirected standard stream of the child.
struct Stream {
    // A file: read by the child (input) or appended to (output and error).
    const char* path = nullptr;
    // Input bytes fed to the child through a pipe (when path is null).
    const std::uint8_t* data = nullptr;
    std::int64_t count = 0;
    // Output and error without a path: the bytes the child wrote, in a
    // tracked buffer the caller releases with memory::free (null when none
    // came), and their count.
    std::uint8_t* captured = nullptr;
    // More arrived than a series can hold: the rest was read and dropped.
    bool overflow = false;
};

// Runs the command through the shell. A null stream is not redirected:
// the child shares the caller's standard input, and its output and error
// go to the caller's own streams when `console` is set, else to the null
// device. Any redirection makes the call wait. Answers the exit code when
// waiting (128 plus the signal's number for a child ended by a signal),
// else the process id; `failed` when a file cannot be opened, a pipe
// cannot be made or the process cannot be started. Touches no language
// value and never runs the collector.
std::int32_t os_call(const char* command, bool wait, bool console, Stream* in, Stream* out,
                     Stream* err);

// The text in single quotes for the shell, each single quote inside
// written as '\''.
std::string shell_quote(std::string_view text);

// The `call` native's service. cmd is a string! (a shell command) or a
// file! (one program, its path quoted for the shell); in is a string!
// (fed as UTF-8), a binary! (its bytes from the index) or a file!; out and
// err are a file! (appended to) or a string! or binary! into which the
// captured output is inserted at its index. Null values are not given.
// Answers as os_call; a command or path holding a NUL character cannot
// be passed to the system and answers `failed`. Captured text that is not
// UTF-8 fires access invalid-utf8, and more than a series holds fires
// script too-long, both once the child has ended. Allocates.
std::int32_t call(Cell* cmd, bool wait, bool show, bool console, bool shell, Cell* in, Cell* out,
                  Cell* err);

}  // namespace kiv::process
