// Terminal control on a pseudo-terminal: standard input and output are
// pointed at its slave side for each test, and the test plays the terminal
// on the master side.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "runtime/state.h"
#include "tests/unit/runtime-support.h"
#include "runtime/tracked-alloc.h"
#include "view/backends/terminal/event-loop.h"
#include "view/backends/terminal/gui-print.h"
#include "view/backends/terminal/gui.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/terminal-control.h"
#include "view/backends/terminal/timers.h"
#include "view/backends/terminal/widgets.h"

namespace kiv::gui {

namespace {

class TerminalControl : public ::testing::Test {
protected:
    int master = -1;
    int slave = -1;
    int saved_in = -1;
    int saved_out = -1;

    void SetUp() override {
        test::start_runtime();
        winsize ws{};
        ws.ws_col = 100;
        ws.ws_row = 30;
        ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, &ws), 0);
        // Text the test runner still buffers must not land on the terminal.
        std::fflush(nullptr);
        saved_in = ::dup(STDIN_FILENO);
        saved_out = ::dup(STDOUT_FILENO);
        ::dup2(slave, STDIN_FILENO);
        ::dup2(slave, STDOUT_FILENO);
        state = State{};
    }

    void TearDown() override {
        if (state.live) {
            answer("\x1b[1;1R\x1b[1;1R\x1b[1;1R");
            leave_terminal();
        }
        state = State{};
        ::dup2(saved_in, STDIN_FILENO);
        ::dup2(saved_out, STDOUT_FILENO);
        ::close(saved_in);
        ::close(saved_out);
        ::close(slave);
        ::close(master);
    }

    // What the program wrote up to and including the marker, which the test
    // writes last: a pseudo-terminal may pass bytes on with a delay, so the
    // reading waits for the marker instead of for a time.
    std::string written_until_marker() {
        write_raw("|", 1);
        std::string seen;
        while (seen.empty() || seen.back() != '|') {
            pollfd pfd{master, POLLIN, 0};
            if (::poll(&pfd, 1, 10000) <= 0) break;
            char bytes[256];
            ssize_t n = ::read(master, bytes, sizeof bytes);
            if (n <= 0) break;
            seen.append(bytes, static_cast<std::size_t>(n));
        }
        return seen;
    }

    // The terminal answers or the user types.
    void answer(const std::string& bytes) { ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }

    static tcflag_t local_modes() {
        termios t{};
        ::tcgetattr(STDIN_FILENO, &t);
        return t.c_lflag;
    }
};

TEST_F(TerminalControl, EnterSavesTheModesOnceAndLeaveRestoresThem) {
    ASSERT_TRUE(local_modes() & ECHO);
    enter_terminal();
    ASSERT_TRUE(state.live);
    EXPECT_EQ(local_modes() & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(state.columns, 100);
    EXPECT_EQ(state.rows, 30);
    // A nested entry asks for the cursor again but keeps the first modes.
    enter_terminal();
    EXPECT_EQ(written_until_marker(), "\x1b[6n\x1b[6n|");
    answer("\x1b[4;1R\x1b[4;1Rtyped");
    EXPECT_EQ(leave_terminal(), 1);
    EXPECT_FALSE(state.live);
    const tcflag_t restored = local_modes();
    EXPECT_TRUE(restored & ECHO);
    EXPECT_TRUE(restored & ICANON);
    // The answers and the keys typed meanwhile are gone: nothing reaches
    // the console's next read.
    int pending = -1;
    ::ioctl(STDIN_FILENO, FIONREAD, &pending);
    EXPECT_EQ(pending, 0);
    EXPECT_EQ(leave_terminal(), 0);
}

TEST_F(TerminalControl, CursorSequencesOnlyOnAChange) {
    enter_terminal();
    written_until_marker();
    hide_cursor();
    hide_cursor();
    show_cursor();
    show_cursor();
    cursor_down(0);
    cursor_down(3);
    EXPECT_EQ(written_until_marker(), "\x1b[?25l\x1b[?25h\x1b[3B|");
}

TEST_F(TerminalControl, NothingIsSentWhileNotLive) {
    hide_cursor();
    mouse_on();
    query_cursor();
    alt_screen_on();
    cursor_down(2);
    EXPECT_EQ(written_until_marker(), "|");
    EXPECT_FALSE(state.cursor_hidden);
}

TEST_F(TerminalControl, SizeFallsBackTo80x24) {
    winsize ws{};
    ::ioctl(master, TIOCSWINSZ, &ws);
    EXPECT_EQ(fetch_console_size(), -1);
    EXPECT_EQ(state.columns, 80);
    EXPECT_EQ(state.rows, 24);
    ws.ws_col = 132;
    ws.ws_row = 43;
    ::ioctl(master, TIOCSWINSZ, &ws);
    EXPECT_EQ(fetch_console_size(), 0);
    EXPECT_EQ(state.columns, 132);
    EXPECT_EQ(state.rows, 43);
}

TEST_F(TerminalControl, ExitPathPutsTheTerminalBack) {
    enter_terminal();
    state.mouse_tracking = true;
    hide_cursor();
    written_until_marker();
    answer("\x1b[2;1R");
    ASSERT_NE(kiv::state.restore_terminal, nullptr);
    kiv::state.restore_terminal();
    EXPECT_EQ(written_until_marker(), "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l\x1b[?25h|");
    EXPECT_FALSE(state.live);
    EXPECT_TRUE(local_modes() & ECHO);
    // A second way out finds nothing left to do.
    kiv::state.restore_terminal();
    EXPECT_EQ(written_until_marker(), "|");
}

// A widget handler that ends the running loop at its first `time` event and
// notes whether the terminal was set up then.
int live_at_time = -1;
int quit_on_time(int type, EventRecord*) {
    if (type == event_type::time) {
        live_at_time = state.live ? 1 : 0;
        post_quit_msg();
    }
    return 0;
}

TEST_F(TerminalControl, TheFirstWaitingLoopSetsUpTheTerminalBesideANoWaitWindow) {
    // Two open windows, the first shown without waiting: no loop runs yet.
    for (int i = 0; i < 2; ++i) {
        auto* record = static_cast<WindowRecord*>(memory::allocate_zeroed(sizeof(WindowRecord)));
        record->widget = make_widget(nullptr);
        record->widget->window = record;
        make_window(record);
    }
    Widget* last = state.windows[1]->widget;
    last->event = quit_on_time;
    add_timer(last, 1);
    answer("\x1b[1;1R");
    live_at_time = -1;
    do_events(false);
    clear_timers();
    EXPECT_EQ(live_at_time, 1);
    // The loop's end put the terminal back and closed the windows.
    EXPECT_FALSE(state.live);
    EXPECT_TRUE(local_modes() & ECHO);
    EXPECT_EQ(state.windows.count, 0u);
}

TEST_F(TerminalControl, PrintErasesTheInlineViewAndAsksWhereTheTextEnded) {
    enter_terminal();
    answer("\x1b[5;1R");
    written_until_marker();
    state.shown = true;
    state.view_lines = 2;
    before_print();
    EXPECT_FALSE(state.shown);
    EXPECT_EQ(written_until_marker(), "\r\x1b[2A\x1b[0J|");
    after_print();
    EXPECT_TRUE(state.dirty);
    EXPECT_EQ(written_until_marker(), "\x1b[6n|");
    answer("\x1b[7;1R");
}

}  // namespace

}  // namespace kiv::gui
