// Start-up binding: the language environment assembled from the Kiv sources
// built into the program and the C++ routines, in a fixed order of groups,
// then handed the command line; the console is launched last.
//
// Each group names its Kiv sources (paths as embedded, relative to the
// source root); they are evaluated in the table's order, each file's values
// after its header. A group whose sources are not built yet is left out.
// No file is read from disk.
#pragma once

#include <string>

namespace kiv::boot {

// ORDER BOOT. Group number, name, and its sources in evaluation order.
#define KIV_BOOT_GROUPS(X)                                                     \
    X(1, "low-level routines", "library/actions.kiv", "library/base-types.kiv",  \
      "library/natives.kiv", "library/operators.kiv")                          \
    X(2, "first library functions")                                            \
    X(3, "type predicates")                                                    \
    X(4, "conversions and helpers")                                            \
    X(5, "parse tracing")                                                      \
    X(6, "library functions")                                                  \
    X(7, "the system object")                                                  \
    X(8, "codecs")                                                             \
    X(9, "reactivity")                                                         \
    X(10, "schemes and URLs")                                                  \
    X(11, "preprocessor")                                                      \
    X(12, "tools")                                                             \
    X(13, "command line")                                                      \
    X(14, "JSON and CSV")                                                      \
    X(15, "graphics")                                                          \
    X(16, "console", "console/input.kiv", "console/engine.kiv", "console/shell.kiv", \
      "console/settings.kiv")

struct Group {
    int number;
    const char* name;
    const char* const* sources;  // null-terminated
};

// The groups in binding order.
const Group* groups();
int group_count();

// The text of an embedded source, or null when it is not built in.
const char* source_text(const char* path);

// The command line as one text: the program's path, then each argument,
// joined by single spaces; an argument that is empty or holds a space or a
// tab is wrapped in double quotes. It becomes system/script/args.
std::string command_line(int argc, const char* const* argv);

}  // namespace kiv::boot
