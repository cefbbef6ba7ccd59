#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/terminal.h"
#include "runtime/platform/terminal-output.h"

namespace kiv {

namespace {

class Lines : public line_edit::History {
public:
    int count() const override { return static_cast<int>(entries.size()); }
    std::u32string entry(int index) const override {
        return entries[static_cast<std::size_t>(index)];
    }
    std::vector<std::u32string> entries;
};

std::string utf8(const std::u32string& s) {
    std::string out;
    for (char32_t c : s) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void say(const std::string& text) { platform::write_stdout(text.data(), text.size()); }

}  // namespace

// The line editor on a real terminal, driven by tests/line-edit-check.sh
// through tmux. Each line read is echoed as "got [line]"; the line "hide"
// makes the next edit hidden; "q" (Ctrl-C, Ctrl-D) ends. It runs only when
// that script asks for it.
TEST(LineEditDemo, EditsOnARealTerminal) {
    if (!std::getenv("KIV_LINE_EDIT_DEMO")) return;
    terminal::init();
    ASSERT_TRUE(terminal::is_console());
    Lines history;
    bool hidden = false;
    for (;;) {
        line_edit::Result r = terminal::edit(hidden ? U"pw: " : U">> ", hidden, history);
        if (r.input_ended) break;
        if (r.add_to_history) history.entries.insert(history.entries.begin(), r.line);
        std::string line = utf8(r.line);
        for (char& c : line) {
            if (c == '\x1b') c = '~';
            if (c == '\t') c = '_';
        }
        say("got [" + line + "]\n");
        if (r.line == U"q") break;
        hidden = r.line == U"hide";
    }
    say("done\n");
}

}  // namespace kiv
