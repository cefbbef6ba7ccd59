#include "console/console-routines.h"

#include "console/console-input.h"

namespace kiv::console_routines {

namespace {

std::int32_t set_buffer_history(const routine::Raw* args) {
    console_input::set_buffer_history(args[0].cell, args[1].cell);
    return 0;
}

std::int32_t read_input(const routine::Raw* args) {
    console_input::read_input(args[0].cell, args[1].number != 0);
    return 0;
}

// Nothing to release on this platform: the editor restores the terminal
// after every edit.
std::int32_t terminate_console(const routine::Raw*) { return 0; }

std::int32_t read_stdin(const routine::Raw* args) {
    console_input::read_stdin(args[0].cell, args[1].number);
    return 0;
}

std::int32_t init(const routine::Raw* args) {
    console_input::init_console(args[0].cell);
    return 0;
}

// FIXME: input-stdin answers a string!, which a routine's result cannot
// carry yet.
constexpr Row table[] = {
    {"_set-buffer-history", "[\"Internal Use Only\" line [string!] hist [block!]]",
     set_buffer_history},
    {"_read-input", "[\"Internal Use Only\" prompt [string!] hidden? [logic!]]", read_input},
    {"_terminate-console", "[]", terminate_console},
    {"read-stdin", "[buffer [binary!] buflen [integer!]]", read_stdin},
    {"system/console/init", "[str [string!]]", init},
    {nullptr, nullptr, nullptr},
};

}  // namespace

const Row* rows() { return table; }

}  // namespace kiv::console_routines
