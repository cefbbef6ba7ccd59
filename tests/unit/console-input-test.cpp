#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "console/console-input.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/string.h"
#include "runtime/fire.h"
#include "tests/unit/scalar-support.h"

namespace kiv {

namespace {

// Standard input replaced by a pipe holding `data`, for the test's length.
class RedirectedStdin {
public:
    explicit RedirectedStdin(const std::string& data) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        EXPECT_EQ(::write(fds[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
        ::close(fds[1]);
        saved_ = ::dup(STDIN_FILENO);
        ::dup2(fds[0], STDIN_FILENO);
        ::close(fds[0]);
    }
    ~RedirectedStdin() {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
    }

private:
    int saved_;
};

class ConsoleInputTest : public test::ScalarTest {
protected:
    // `ask` as the console runs it: a new string, the history, the read.
    std::string ask(Cell* history) {
        Cell line;
        string::make_at(&line, 1);
        console_input::set_buffer_history(&line, history);
        Cell prompt = test::text_of(">> ", Type::string);
        console_input::read_input(&prompt, false);
        return string::to_utf8(&line);
    }
};

TEST_F(ConsoleInputTest, RedirectedInputIsReadLineByLine) {
    RedirectedStdin in("1 + 1\nsecond\r\n\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD\n\nlast");
    Cell history;
    block::make_at(&history, 4);
    EXPECT_EQ(ask(&history), "1 + 1");
    EXPECT_EQ(ask(&history), "second\r");
    EXPECT_EQ(ask(&history), "\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD");
    EXPECT_EQ(ask(&history), "");
    EXPECT_EQ(ask(&history), "last");
    // Redirected lines are never added to the history.
    EXPECT_EQ(block::ks_length(&history), 0);
    // Nothing is left: the console ends, with status 0.
    EXPECT_EXIT(ask(&history), ::testing::ExitedWithCode(0), "");
}

TEST_F(ConsoleInputTest, MalformedInputFires) {
    const char* inputs[] = {"ab\xC3(\n", "\x80x\n", "\xED\xA0\x80\n"};
    for (const char* data : inputs) {
        RedirectedStdin in(data);
        Cell history;
        block::make_at(&history, 4);
        EXPECT_THROW(ask(&history), KivError) << data;
    }
}

TEST_F(ConsoleInputTest, PlainReaders) {
    RedirectedStdin in("one\ntwo and more");
    Cell line;
    string::make_at(&line, 1);
    console_input::input_stdin(&line);
    EXPECT_EQ(string::to_utf8(&line), "one");
    Cell bytes;
    binary::make_at(&bytes, 4);
    EXPECT_EQ(console_input::read_stdin(&bytes, 3), 3);
    EXPECT_EQ(console_input::read_stdin(&bytes, 100), 9);
    EXPECT_EQ(binary::ks_length(&bytes), 12);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(binary::ks_head(&bytes)), 12), "two and more");
    EXPECT_EQ(console_input::read_stdin(&bytes, 10), 0);
    EXPECT_EQ(binary::ks_length(&bytes), 12);
    string::make_at(&line, 1);
    console_input::input_stdin(&line);
    EXPECT_EQ(string::to_utf8(&line), "");
}

TEST(ConsoleSettings, FolderFromTheEnvironment) {
    struct Case {
        const char* appdata;
        const char* xdg;
        const char* home;
        std::string dir;
    };
    const Case cases[] = {
        {"/a", "/x", "/h", "/a/Kiv-Console/"},
        {"/a/", nullptr, nullptr, "/a/Kiv-Console/"},
        {"", "/x", "/h", "/x/Kiv-Console/"},
        {nullptr, "/x", "/h", "/x/Kiv-Console/"},
        {nullptr, nullptr, "/h", "/h/.cache/Kiv-Console/"},
        {nullptr, nullptr, "/h/", "/h/.cache/Kiv-Console/"},
        {nullptr, nullptr, nullptr, ""},
    };
    const char* names[] = {"APPDATA", "XDG_CACHE_HOME", "HOME"};
    std::string saved[3];
    bool had[3];
    for (int i = 0; i < 3; ++i) {
        const char* v = std::getenv(names[i]);
        had[i] = v != nullptr;
        if (v) saved[i] = v;
    }
    for (const Case& c : cases) {
        const char* values[] = {c.appdata, c.xdg, c.home};
        for (int i = 0; i < 3; ++i) {
            if (values[i]) ::setenv(names[i], values[i], 1);
            else ::unsetenv(names[i]);
        }
        EXPECT_EQ(console_input::settings_dir(), c.dir);
    }
    for (int i = 0; i < 3; ++i) {
        if (had[i]) ::setenv(names[i], saved[i].c_str(), 1);
        else ::unsetenv(names[i]);
    }
}

}  // namespace

}  // namespace kiv
