#include "console/terminal.h"

#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>

#include "runtime/platform/raw-modes.h"
#include "runtime/platform/terminal-output.h"
#include "runtime/state.h"
#include "runtime/unicode.h"

namespace kiv::terminal {

namespace {

// How long the terminal may take to report the cursor position; one that
// never answers is not asked again.
constexpr int report_wait_ms = 300;

bool initialised = false;
bool console = false;
bool reports_answered = true;

// The modes found before the edit, put back after it and on every exit.
termios saved_modes;
volatile std::sig_atomic_t raw_active = 0;
volatile std::sig_atomic_t window_changed = 0;
void (*previous_restore)() = nullptr;

// Bytes read while waiting for a cursor report (keys typed ahead); they are
// served before anything else is read.
std::string typed_ahead;

line_edit::Editor the_editor;

void on_window_change(int) { window_changed = 1; }

// Async-signal-safe: runs from the fatal and interrupt handlers.
void restore_modes() {
    if (raw_active) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_modes);
        raw_active = 0;
    }
    if (previous_restore) previous_restore();
}

void enter_raw_mode() {
    if (::tcgetattr(STDIN_FILENO, &saved_modes) != 0) return;
    termios raw = platform::raw_modes(saved_modes);
    raw_active = 1;
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) raw_active = 0;
}

void leave_raw_mode() {
    if (!raw_active) return;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_modes);
    raw_active = 0;
}

std::int64_t now_ms() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// One byte of standard input, waiting at most timeout_ms (for ever when
// negative). A window change interrupts the wait; it goes on afterwards.
int read_tty_byte(int timeout_ms) {
    std::int64_t deadline = timeout_ms < 0 ? 0 : now_ms() + timeout_ms;
    for (;;) {
        int wait = -1;
        if (timeout_ms >= 0) {
            std::int64_t left = deadline - now_ms();
            wait = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        int ready = ::poll(&pfd, 1, wait);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return key_decoder::ByteSource::failed;
        }
        if (ready == 0) return key_decoder::ByteSource::timed_out;
        unsigned char b;
        ssize_t n = ::read(STDIN_FILENO, &b, 1);
        if (n == 1) return b;
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return key_decoder::ByteSource::failed;
    }
}

bool digits_and_semicolon(const std::string& s, std::size_t from, std::size_t to) {
    bool semicolon = false;
    for (std::size_t i = from; i < to; ++i) {
        if (s[i] == ';') semicolon = true;
        else if (s[i] < '0' || s[i] > '9') return false;
    }
    return semicolon;
}

// Reads the answer "ESC [ row ; column R"; every other byte met meanwhile
// is kept for the editor.
bool read_cursor_report(int* column) {
    std::string seen;
    std::int64_t deadline = now_ms() + report_wait_ms;
    for (;;) {
        std::int64_t left = deadline - now_ms();
        int b = read_tty_byte(left > 0 ? static_cast<int>(left) : 0);
        if (b < 0) {
            typed_ahead += seen;
            return false;
        }
        seen += static_cast<char>(b);
        std::size_t esc = seen.rfind('\x1b');
        if (b != 'R' || esc == std::string::npos || esc + 1 >= seen.size() || seen[esc + 1] != '[')
            continue;
        if (!digits_and_semicolon(seen, esc + 2, seen.size() - 1)) continue;
        std::size_t semicolon = seen.find(';', esc);
        *column = std::stoi(seen.substr(semicolon + 1)) - 1;
        typed_ahead += seen.substr(0, esc);
        return true;
    }
}

class TerminalIo final : public line_edit::Io {
public:
    int next(int timeout_ms) override {
        if (!typed_ahead.empty()) {
            int b = static_cast<unsigned char>(typed_ahead.front());
            typed_ahead.erase(0, 1);
            return b;
        }
        return read_tty_byte(timeout_ms);
    }
    void write(const char* bytes, std::size_t count) override {
        platform::write_stdout(bytes, count);
    }
    bool size(int* columns, int* rows) override { return window_size(columns, rows); }
    bool resized() override {
        if (!window_changed) return false;
        window_changed = 0;
        return true;
    }
    bool cursor_column(int* column) override {
        if (!reports_answered) return false;
        platform::write_stdout("\x1b[6n", 4);
        reports_answered = read_cursor_report(column);
        return reports_answered;
    }
};

void install_window_handler() {
    struct sigaction action {};
    action.sa_handler = on_window_change;
    sigemptyset(&action.sa_mask);
    // Interrupted reads elsewhere go on by themselves; poll still returns.
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGWINCH, &action, nullptr);
}

int read_stdin_byte() {
    for (;;) {
        unsigned char b;
        ssize_t n = ::read(STDIN_FILENO, &b, 1);
        if (n == 1) return b;
        if (n < 0 && errno == EINTR) continue;
        return -1;
    }
}

}  // namespace

void init() {
    if (initialised) return;
    initialised = true;
    console = ::isatty(STDIN_FILENO) == 1 && ::isatty(STDOUT_FILENO) == 1;
    if (!console) return;
    install_window_handler();
    previous_restore = state.restore_terminal;
    state.restore_terminal = restore_modes;
}

bool is_console() { return console; }

bool window_size(int* columns, int* rows) { return platform::terminal_size(columns, rows); }

line_edit::Editor& editor() { return the_editor; }

line_edit::Result edit(std::u32string_view prompt, bool hidden, const line_edit::History& history) {
    TerminalIo io;
    enter_raw_mode();
    line_edit::Result result = the_editor.edit(io, prompt, hidden, history);
    leave_raw_mode();
    return result;
}

std::int32_t read_char() {
    int lead = read_stdin_byte();
    if (lead < 0) return -1;
    std::uint8_t bytes[4] = {static_cast<std::uint8_t>(lead)};
    int need = unicode::utf8_sequence_length(bytes[0]);
    int have = 1;
    while (have < need) {
        int b = read_stdin_byte();
        if (b < 0) break;
        bytes[have++] = static_cast<std::uint8_t>(b);
    }
    // Fires for a malformed sequence; -1 for one the input's end cut short.
    return unicode::read_utf8_char(bytes, &have);
}

bool read_line(std::u32string& line) {
    bool any = false;
    for (;;) {
        std::int32_t c = read_char();
        if (c < 0) return any;
        any = true;
        if (c == '\n') return true;
        line += static_cast<char32_t>(c);
    }
}

long read_bytes(std::uint8_t* buffer, std::size_t count) {
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, buffer, count);
        if (n < 0 && errno == EINTR) continue;
        return static_cast<long>(n);
    }
}

void set_title(std::string_view title) {
    if (!platform::stdout_is_terminal()) return;
    std::string sequence = "\x1b]0;";
    sequence += title;
    sequence += '\x07';
    platform::write_stdout(sequence.data(), sequence.size());
}

}  // namespace kiv::terminal
