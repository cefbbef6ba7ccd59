#include "runtime/platform/terminal-output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace kiv::platform {

namespace {

// How long a terminal may take to answer a cursor-position request.
constexpr int report_timeout_ms = 300;

bool write_all(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

// Reads the report "ESC [ row ; col R" from fd, skipping whatever comes
// before it.
bool read_report(int fd, int* column, int* row) {
    char buf[64];
    std::size_t n = 0;
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, report_timeout_ms) <= 0) return false;
        char c;
        if (::read(fd, &c, 1) != 1) return false;
        if (c == '\x1b') n = 0;
        if (n < sizeof buf) buf[n++] = c;
        if (c != 'R' || n < 6 || buf[0] != '\x1b' || buf[1] != '[') continue;
        int r = 0, col = 0, *target = &r;
        for (std::size_t i = 2; i + 1 < n; ++i) {
            if (buf[i] == ';') target = &col;
            else if (buf[i] >= '0' && buf[i] <= '9') *target = *target * 10 + (buf[i] - '0');
        }
        if (r < 1 || col < 1) return false;
        *row = r - 1;
        *column = col - 1;
        return true;
    }
}

}  // namespace

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }

void write_stdout(const void* bytes, std::size_t count) {
    write_all(STDOUT_FILENO, static_cast<const char*>(bytes), count);
}

bool terminal_size(int* columns, int* rows) {
    winsize ws{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0 || ws.ws_row == 0)
        return false;
    *columns = ws.ws_col;
    *rows = ws.ws_row;
    return true;
}

bool terminal_cursor(int* column, int* row) {
    int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    termios saved;
    bool ok = false;
    if (::tcgetattr(fd, &saved) == 0) {
        termios raw = saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (::tcsetattr(fd, TCSANOW, &raw) == 0) {
            ok = write_all(fd, "\x1b[6n", 4) && read_report(fd, column, row);
            ::tcsetattr(fd, TCSANOW, &saved);
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace kiv::platform
