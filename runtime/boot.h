// Start-up binding: the language environment assembled from the Kiv sources
// built into the program and the C++ routines, in a fixed order of groups;
// the command line is handed to the library, the boot objects receive their
// fixed class ids, and the console is launched last.
//
// A group is a list of steps, each either a Kiv source (its path as
// embedded, relative to the source root; its values evaluated after its
// "Kiv [...]" header) or a C++ binder (routines made and bound to their
// words or fields, runtime values handed to the library). Groups whose
// subsystems are not built yet are left empty. No file is read from disk.
//
// The library's functions are made by evaluating their sources, whose
// loaded values the boot image holds (kivbin::boot_source): each word
// receives a function! with its spec and body.
//
// GC: binding evaluates code: it allocates and may collect.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kiv::boot {

struct Step {
    const char* source;  // an embedded source, or null
    void (*bind)();      // a C++ binder, or null
    const char* name;    // what the binder binds (for messages and tests)
};

struct Group {
    int number;
    const char* name;
    const Step* steps;
    int count;
};

// The groups in binding order; group 0 makes the built-in words (datatypes,
// actions, natives, operators, typesets) that every later group uses.
const Group* groups();
int group_count();

// The text of an embedded source, or null when it is not built in.
const char* source_text(const char* path);

// A boot object and its fixed class id, by its path from the global
// context; `group` is the group after which it exists.
struct ClassId {
    const char* path;
    std::int32_t id;
    int group;
};
const ClassId* class_ids();
int class_id_count();

// Runs every group in order (errors end the process, as any error outside
// a try), fills system/script/args from the command line and runs
// extract-boot-args. Needs the runtime initialised.
void run(int argc, const char* const* argv);

// Calls the console's launch in a function frame named `launch` and
// answers the process's exit status: the integer launch answers, else 0.
int launch();

// Loads the UTF-8 text and evaluates it, skipping a "Kiv [...]" header.
void eval_source(const char* text, std::size_t size);
// Evaluates a source's loaded values (as the boot image holds them),
// skipping a "Kiv [...]" header.
void eval_loaded(Cell* code);

// The value cell that a path of words names, read from the global context
// field by field (an object! at each step but the last, or a map! whose
// key is the next word); null when a step is missing. The cell is valid until the next allocation.
Cell* resolve(const char* path);

// The command line as one text: the program's path, then each argument,
// joined by single spaces; an argument that is empty or holds a space or a
// tab is wrapped in double quotes. It becomes system/script/args.
std::string command_line(int argc, const char* const* argv);

}  // namespace kiv::boot
