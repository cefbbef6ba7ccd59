#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/console-output.h"

namespace kiv {

// The screen that tests/terminal-check.sh reads back from a real terminal
// (tmux). It runs only when that script asks for it; elsewhere there is no
// terminal to look at.
TEST(TerminalDemo, DrawsForTheTerminalCheck) {
    if (!std::getenv("KIV_TERMINAL_DEMO")) return;
    console_output::init();
    ASSERT_TRUE(console_output::is_console());
    const char* steps[] = {
        "\x1b[2J", "junk0\r\njunk1",
        "\x1b[0;2H\x1b[1J",                           // rows 0 and 1 erased, cursor stays
        "\x1b[0;0Hplain",
        "\x1b[0;2H\x1b[31mRED\x1b[0m",
        "\x1b[0;3H\x1b[1;33;44mYB\x1b[0m",
        "\x1b[10;4HX",                                 // column 10, row 4
        "\x1b[0;6Habcdefghij\x1b[5D\x1b[K",            // erase from the cursor on
        "\x1b[0;7H0123456789\x1b[3D\x1b[1K",           // erase left of the cursor
        "\x1b[0;8Hkeep-row8",
        "\x1b[0;9Hgone-row9\x1b[4D\x1b[2KZ",           // whole row, cursor to column 0
        "\x1b[0;12H\x1b[2Aup",                         // two rows up, to row 10
        "\x1b[0;11H\x1b[s\x1b[30;0Hfar\x1b[uS",         // save, move away, restore
        "\x1b[0;15Htail15\r\ntail16\x1b[3;15H\x1b[JJ",  // row 15 down erased, cursor kept
        "\x1b[0;18Hready",
    };
    for (const char* s : steps) console_output::write_latin1(s, std::strlen(s));
    // The script reads the screen, then presses Enter to end the test.
    std::getchar();
}

}  // namespace kiv
