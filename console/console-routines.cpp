#include "console/console-routines.h"

#include <unistd.h>

#include <iterator>
#include <string>

#include "console/console-input.h"
#include "library/routines.h"
#include "runtime/boot.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"

namespace kiv::console_routines {

namespace {

using routine::Raw;

std::int32_t set_buffer_history(const Raw* args) {
    console_input::set_buffer_history(args[0].cell, args[1].cell);
    return 0;
}

std::int32_t read_input(const Raw* args) {
    console_input::read_input(args[0].cell, args[1].number != 0);
    return 0;
}

// Nothing to release on this platform: the editor restores the terminal
// after every edit.
std::int32_t terminate_console(const Raw*) { return 0; }

// Answers a new string through the cell after its (no) arguments.
std::int32_t input_stdin(const Raw* args) {
    Cell* line = args[0].cell;
    string::make_at(line, 256);
    console_input::input_stdin(line);
    return 0;
}

std::int32_t read_stdin(const Raw* args) {
    console_input::read_stdin(args[0].cell, args[1].number);
    return 0;
}

// One line on standard error: what the console tells about its settings.
// Write errors are ignored.
std::int32_t write_stderr(const Raw* args) {
    std::string line = string::to_utf8(args[0].cell);
    line += '\n';
    (void)!::write(STDERR_FILENO, line.data(), line.size());
    return 0;
}

std::int32_t init(const Raw* args) {
    console_input::init_console(args[0].cell);
    return 0;
}

struct Row {
    Part part;
    library_routines::Definition definition;
};

constexpr Row table[] = {
    {Part::editor,
     {"_set-buffer-history", R"("Internal Use Only" line [string!] hist [block!])", set_buffer_history}},
    {Part::editor, {"_read-input", R"("Internal Use Only" prompt [string!] hidden? [logic!])", read_input}},
    {Part::editor, {"_terminate-console", "", terminate_console}},
    {Part::editor, {"_write-stderr", R"("Internal Use Only" text [string!])", write_stderr}},
    {Part::stdin_readers, {"input-stdin", "return: [string!]", input_stdin}},
    {Part::stdin_readers, {"read-stdin", "buffer [binary!] buflen [integer!]", read_stdin}},
    {Part::console_init, {"system/console/init", "str [string!]", init}},
};

// The console's own routine goes into its field of system/console.
void bind_field(const library_routines::Definition& definition) {
    Cell routine;
    library_routines::make(definition, &routine);
    Cell* console = boot::resolve("system/console");
    if (!console || !console->is(Type::object)) fire(ErrorId::internal_not_done);
    const Cell object = *console;
    Cell word;
    word::load("init", &word);
    const std::int32_t index = object::find_field(&object, &word);
    if (index < 0) fire(ErrorId::internal_not_done);
    *object::field_value(object::context_of(&object), index) = routine;
}

}  // namespace

void bind(Part part) {
    for (const Row& row : table) {
        if (row.part != part) continue;
        if (part == Part::console_init) {
            bind_field(row.definition);
        } else {
            Cell routine;
            library_routines::define(row.definition, &routine);
        }
    }
}

}  // namespace kiv::console_routines
