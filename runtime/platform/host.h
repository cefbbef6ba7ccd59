// The host services the system natives reach beyond platform.h: the size
// of a file, the process environment as a whole, finding a program on the
// search path and starting one that outlives nobody's wait. Text crosses
// as UTF-8. Nothing here touches language values or runs the collector.
#pragma once

#include <cstdint>
#include <string_view>

namespace kiv::host {

// The size in bytes of the file at the path, opened for reading; -1 when it
// cannot be opened, its size cannot be read, or it is a folder.
std::int64_t file_size(const char* path);

// Calls fn(name, value) for every variable of the process environment, in
// the environment's order. The name ends at the first "=" after the entry's
// first character; an entry with no such "=" is all name.
template <class Fn>
void for_each_env(Fn fn);
using EnvVisitor = void (*)(std::string_view name, std::string_view value, void* context);
void visit_env(EnvVisitor visitor, void* context);

// Whether an executable file of that name lies in a folder of PATH.
bool program_on_path_q(const char* name);

// Starts `program` with one argument, detached: its output goes nowhere and
// nobody waits for it. Answers whether it could be started.
bool launch_detached(const char* program, const char* argument);

template <class Fn>
void for_each_env(Fn fn) {
    visit_env([](std::string_view n, std::string_view v, void* c) { (*static_cast<Fn*>(c))(n, v); },
              &fn);
}

}  // namespace kiv::host
