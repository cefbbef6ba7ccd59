#include "view/backends/terminal/terminal-control.h"

#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "runtime/boot.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/pair.h"
#include "runtime/platform/raw-modes.h"
#include "runtime/platform/terminal-output.h"
#include "runtime/state.h"
#include "view/backends/terminal/cells.h"
#include "view/backends/terminal/gui.h"
#include "view/backends/terminal/screen.h"

namespace kiv::gui {

namespace {

constexpr int default_columns = 80;
constexpr int default_rows = 24;

// How long leaving the terminal waits for cursor-position answers still
// owed. A terminal that never answers costs this once per loop.
constexpr int report_wait_ms = 250;

constexpr int mouse_modes[] = {1000, 1003, 1015, 1006};
constexpr int mode_alt_screen = 1049;
constexpr int mode_cursor_visible = 25;

// The modes found when terminal mode was entered. The flags below are read
// by the restore hook, which may run inside a signal handler.
termios saved_modes;
volatile std::sig_atomic_t modes_saved = 0;
volatile std::sig_atomic_t reports_owed = 0;
volatile std::sig_atomic_t window_changed = 0;
bool hook_installed = false;
void (*previous_restore)() = nullptr;
struct sigaction previous_winch {};

void on_window_change(int signal) {
    window_changed = 1;
    // The console's line editor watches resizes too.
    if (!(previous_winch.sa_flags & SA_SIGINFO) && previous_winch.sa_handler != SIG_DFL &&
        previous_winch.sa_handler != SIG_IGN && previous_winch.sa_handler)
        previous_winch.sa_handler(signal);
}

void install_winch_handler() {
    struct sigaction action {};
    action.sa_handler = on_window_change;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGWINCH, &action, &previous_winch);
}

void restore_winch_handler() { ::sigaction(SIGWINCH, &previous_winch, nullptr); }

// ESC [ <prefix> n <final>, formatted without the C library: the restore
// hook writes these from signal handlers.
void write_sequence(const char* prefix, int n, char final_byte) {
    char text[24] = {'\x1b', '['};
    std::size_t length = 2;
    for (const char* p = prefix; *p; ++p) text[length++] = *p;
    char digits[12];
    int count = 0;
    unsigned value = n < 0 ? 0u : static_cast<unsigned>(n);
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (count) text[length++] = digits[--count];
    text[length++] = final_byte;
    write_raw(text, length);
}

void write_mode(int n, char set) { write_sequence("?", n, set); }

std::int64_t now_ms() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Counts the cursor-position answers (ESC [ digits ; digits R) in a byte
// stream that may arrive in pieces. No allocation: the restore hook uses it.
struct ReportScanner {
    int stage = 0;  // 0 outside, 1 after ESC, 2 in the parameters
    int found = 0;
    void feed(std::uint8_t b) {
        if (b == 0x1B) {
            stage = 1;
        } else if (stage == 1) {
            stage = b == '[' ? 2 : 0;
        } else if (stage == 2) {
            if (b == 'R') ++found;
            if (!((b >= '0' && b <= '9') || b == ';')) stage = 0;
        }
    }
};

void settle_reports(const ReportScanner& scanner) {
    reports_owed = scanner.found >= reports_owed ? 0 : reports_owed - scanner.found;
}

// Reads and drops standard input: what is pending now, and while answers
// are owed, what arrives within wait_ms. Async-signal-safe.
void discard_input(int wait_ms) {
    ReportScanner scanner;
    const std::int64_t deadline = now_ms() + wait_ms;
    for (;;) {
        int timeout = 0;
        if (scanner.found < reports_owed) {
            const std::int64_t left = deadline - now_ms();
            timeout = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        int ready = ::poll(&pfd, 1, timeout);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0 || !(pfd.revents & POLLIN)) break;
        std::uint8_t bytes[256];
        ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t i = 0; i < n; ++i) scanner.feed(bytes[i]);
    }
    settle_reports(scanner);
}

// Before the modes go back: the answers still owed are awaited and dropped
// while echo is off, so none of them shows up as typed text.
void swallow_owed_reports() {
    discard_input(report_wait_ms);
    reports_owed = 0;
    ::tcflush(STDIN_FILENO, TCIFLUSH);
}

// The way out of the process while a view is live. Async-signal-safe: only
// writes, reads and terminal calls, on flags.
void restore_on_exit() {
    if (modes_saved) {
        if (gui::state.mouse_tracking) {
            for (int mode : mouse_modes) write_mode(mode, 'l');
            gui::state.mouse_tracking = false;
        }
        if (gui::state.alt_screen) {
            write_mode(mode_alt_screen, 'l');
            gui::state.alt_screen = false;
        } else if (gui::state.shown) {
            // The prompt that follows starts below the view.
            leave_inline();
            gui::state.shown = false;
        }
        if (gui::state.cursor_hidden) {
            write_mode(mode_cursor_visible, 'h');
            gui::state.cursor_hidden = false;
        }
        swallow_owed_reports();
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_modes);
        modes_saved = 0;
        gui::state.live = false;
    }
    if (previous_restore) previous_restore();
}

void install_restore_hook() {
    if (hook_installed) return;
    hook_installed = true;
    previous_restore = kiv::state.restore_terminal;
    kiv::state.restore_terminal = restore_on_exit;
}

bool enter_raw_mode() {
    if (::tcgetattr(STDIN_FILENO, &saved_modes) != 0) return false;
    termios raw = platform::raw_modes(saved_modes);
    modes_saved = 1;
    // The results are not checked: a terminal that refuses a mode still
    // shows the view.
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    return true;
}

// The first screen face's size, written in place without telling anyone.
void update_screen_size() {
    Cell* screens = boot::resolve("system/view/screens");
    if (!screens || !screens->is(Type::block) || block::ks_length(screens) < 1) return;
    Cell* screen = block::ks_head(screens);
    if (!screen->is(Type::object)) return;
    Cell* size = face_value_mut(screen, face_field::size);
    if (size) pair::make_at(size, gui::state.columns, gui::state.rows);
}

}  // namespace

void write_raw(const void* bytes, std::size_t count) { platform::write_stdout(bytes, count); }

// Nothing but write_raw writes while the terminal is not live: redirected
// output never receives a control sequence.
void set_private_mode(int n) {
    if (gui::state.live) write_mode(n, 'h');
}
void reset_private_mode(int n) {
    if (gui::state.live) write_mode(n, 'l');
}

void query_cursor() {
    if (!gui::state.live) return;
    reports_owed = reports_owed + 1;
    write_raw("\x1b[6n", 4);
}

void cursor_report_seen() {
    if (reports_owed > 0) reports_owed = reports_owed - 1;
}

void alt_screen_on() {
    if (!gui::state.live) return;
    set_private_mode(mode_alt_screen);
    write_raw("\x1b[2J", 4);
}

void alt_screen_off() { reset_private_mode(mode_alt_screen); }

void mouse_on() {
    for (int mode : mouse_modes) set_private_mode(mode);
}

void mouse_off() {
    for (int mode : mouse_modes) reset_private_mode(mode);
}

void hide_cursor() {
    if (gui::state.cursor_hidden || !gui::state.live) return;
    reset_private_mode(mode_cursor_visible);
    gui::state.cursor_hidden = true;
}

void show_cursor() {
    if (!gui::state.cursor_hidden) return;
    set_private_mode(mode_cursor_visible);
    gui::state.cursor_hidden = false;
}

void cursor_down(int rows) {
    if (rows >= 1 && gui::state.live) write_sequence("", rows, 'B');
}

bool terminal_available() { return ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1; }

void enter_terminal() {
    if (!gui::state.live && terminal_available() && enter_raw_mode()) {
        install_restore_hook();
        install_winch_handler();
        window_changed = 0;
        on_resize();
        gui::state.live = true;
    }
    // LINUX: asked only while live; elsewhere nobody reads the answer.
    if (gui::state.live && !gui::state.fullscreen) query_cursor();
}

int leave_terminal() {
    if (!gui::state.live) return 0;
    swallow_owed_reports();
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_modes);
    modes_saved = 0;
    restore_winch_handler();
    gui::state.live = false;
    return 1;
}

void drain_pending_input() {
    if (gui::state.live) discard_input(0);
}

int fetch_console_size() {
    if (platform::terminal_size(&gui::state.columns, &gui::state.rows)) return 0;
    gui::state.columns = default_columns;
    gui::state.rows = default_rows;
    return -1;
}

void on_resize() {
    fetch_console_size();
    update_screen_size();
    if (gui::state.live) resized(gui::state.columns, gui::state.rows);
}

bool take_resize() {
    if (!window_changed) return false;
    window_changed = 0;
    return true;
}

}  // namespace kiv::gui
