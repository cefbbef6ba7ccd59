// Process calls. See process.h for the contract.
//
// A call is three steps: prepare the child's three standard descriptors
// (inherited, the null device, a file or one end of a pipe), start
// /bin/sh -c with the command, then serve the pipes until the child closes
// them and wait for it. The parent's own descriptors are opened close-on-exec,
// so the child holds only the three it is given. A CLOEXEC status pipe tells
// the parent whether the shell could be executed.
#include "runtime/services/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/file-io.h"

namespace kiv::process {

namespace {

// Descriptors of one call, closed on every way out.
struct Fds {
    int child[3] = {-1, -1, -1};  // what the child gets as 0, 1, 2; -1 inherits
    int feed = -1;                // write end of the input pipe
    int read[2] = {-1, -1};       // read ends of the output and error pipes
    int null = -1;

    ~Fds() {
        for (int fd : child) close_fd(fd);
        close_fd(feed);
        for (int fd : read) close_fd(fd);
        close_fd(null);
    }
    static void close_fd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    // The null device, opened once and shared; -1 when it cannot be opened.
    int null_device() {
        if (null < 0) null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        return null;
    }
};

bool make_pipe(int ends[2]) { return ::pipe2(ends, O_CLOEXEC) == 0; }

int dup_cloexec(int fd) { return fd < 0 ? -1 : ::fcntl(fd, F_DUPFD_CLOEXEC, 3); }

void set_nonblocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// In the child only: async-signal-safe calls.
void place(int from, int to) {
    if (from < 0) return;
    if (from == to) ::fcntl(to, F_SETFD, 0);
    else ::dup2(from, to);
}

[[noreturn]] void exec_shell(const Fds& fds, const char* command, int status) {
    // Take every source before placing any: a source may sit on 0, 1 or 2.
    int from[3];
    for (int i = 0; i < 3; ++i)
        from[i] = fds.child[i] >= 0 && fds.child[i] <= 2 ? dup_cloexec(fds.child[i]) : fds.child[i];
    for (int i = 0; i < 3; ++i) place(from[i], i);
    const char* const argv[] = {"sh", "-c", command, nullptr};
    ::execv("/bin/sh", const_cast<char* const*>(argv));
    const int e = errno;
    [[maybe_unused]] auto n = ::write(status, &e, sizeof e);
    ::_exit(127);
}

// Starts the shell; answers its pid, or -1. Without `keep`, a middle process
// starts it and exits at once, so the child is init's to reap; the middle
// reports the child's pid through a pipe of its own.
pid_t start(const Fds& fds, const char* command, bool keep) {
    int status[2];
    int pids[2] = {-1, -1};
    if (!make_pipe(status)) return -1;
    if (!keep && !make_pipe(pids)) {
        ::close(status[0]);
        ::close(status[1]);
        return -1;
    }
    const pid_t first = ::fork();
    if (first == 0) {
        ::close(status[0]);
        if (keep) exec_shell(fds, command, status[1]);
        ::close(pids[0]);
        const pid_t child = ::fork();
        if (child == 0) exec_shell(fds, command, status[1]);
        [[maybe_unused]] auto n = ::write(pids[1], &child, sizeof child);
        ::_exit(0);
    }
    ::close(status[1]);
    pid_t pid = first;
    if (!keep) {
        ::close(pids[1]);
        pid = -1;
        if (first > 0) {
            while (::read(pids[0], &pid, sizeof pid) < 0 && errno == EINTR) {
            }
            int ignored;
            while (::waitpid(first, &ignored, 0) < 0 && errno == EINTR) {
            }
        }
        ::close(pids[0]);
    }
    // The status pipe ends when the shell runs (close-on-exec); anything on
    // it is the errno of a failed exec.
    int e = 0;
    ssize_t got = 0;
    if (first > 0) {
        while ((got = ::read(status[0], &e, sizeof e)) < 0 && errno == EINTR) {
        }
    }
    ::close(status[0]);
    if (got > 0 || pid <= 0) {
        if (keep && first > 0) {
            int ignored;
            while (::waitpid(first, &ignored, 0) < 0 && errno == EINTR) {
            }
        }
        return -1;
    }
    return pid;
}

// Writes the input and reads both captures until every pipe is closed.
void serve(Fds& fds, const std::string& input, std::string captured[2]) {
    std::size_t sent = 0;
    if (fds.feed >= 0 && input.empty()) Fds::close_fd(fds.feed);
    char chunk[4096];
    for (;;) {
        pollfd set[3];
        int n = 0;
        int slot_of[3];
        if (fds.feed >= 0) {
            set[n] = {fds.feed, POLLOUT, 0};
            slot_of[n++] = 2;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds.read[i] < 0) continue;
            set[n] = {fds.read[i], POLLIN, 0};
            slot_of[n++] = i;
        }
        if (n == 0) return;
        if (::poll(set, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        for (int k = 0; k < n; ++k) {
            if (set[k].revents == 0) continue;
            if (slot_of[k] == 2) {
                const ssize_t w = ::write(fds.feed, input.data() + sent, input.size() - sent);
                if (w > 0) sent += static_cast<std::size_t>(w);
                if ((w < 0 && errno != EAGAIN && errno != EINTR) || sent == input.size())
                    Fds::close_fd(fds.feed);
                continue;
            }
            int& fd = fds.read[slot_of[k]];
            const ssize_t r = ::read(fd, chunk, sizeof chunk);
            if (r > 0) captured[slot_of[k]].append(chunk, static_cast<std::size_t>(r));
            else if (r == 0 || (errno != EAGAIN && errno != EINTR)) Fds::close_fd(fd);
        }
    }
}

std::int64_t wait_for(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Puts captured bytes at the target's index: a binary! takes them as they
// are, a string! as UTF-8 text without the CR of each CR LF.
void insert_captured(Cell* target, std::string& bytes) {
    if (bytes.empty()) return;
    auto* data = reinterpret_cast<std::uint8_t*>(bytes.data());
    const auto n = static_cast<std::int64_t>(bytes.size());
    if (target->is(Type::binary)) {
        binary::insert_bytes(target, 0, data, static_cast<std::int32_t>(n));
        return;
    }
    Cell text;
    file_io::load_text(data, n, &text);
    string::concatenate(target, &text, -1, 0, string::Mode::insert);
}

// Prepares a capture target: a file is appended to (the null device when it
// cannot be opened), a string or binary gets a pipe.
bool prepare_output(Fds& fds, Cell* target, int slot) {
    if (target->is(Type::file)) {
        const char* path = file_io::os_path(target);
        int fd = path ? ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666) : -1;
        if (fd < 0) fd = dup_cloexec(fds.null_device());
        fds.child[slot] = fd;
        return true;
    }
    int ends[2];
    if (!make_pipe(ends)) return false;
    fds.read[slot - 1] = ends[0];
    fds.child[slot] = ends[1];
    set_nonblocking(ends[0]);
    return true;
}

// A file! names one executable: quoted for the shell, so that no character
// of its path is taken as shell syntax.
std::string quoted(const char* path) {
    std::string out = "'";
    for (const char* c = path; *c; ++c) {
        if (*c == '\'') out += "'\\''";
        else out += *c;
    }
    return out + "'";
}

}  // namespace

std::int64_t call(Cell* command, bool wait, bool console, Cell* input, Cell* output, Cell* error) {
    std::string text = command->is(Type::file) ? quoted(file::to_os_path(command))
                                                : string::to_utf8(command);
    Fds fds;
    std::string in_bytes;
    if (input) {
        if (input->is(Type::file)) {
            const char* path = file_io::os_path(input);
            fds.child[0] = path ? ::open(path, O_RDONLY | O_CLOEXEC) : -1;
            if (fds.child[0] < 0) return -1;
        } else {
            in_bytes = input->is(Type::binary)
                           ? std::string(reinterpret_cast<const char*>(binary::ks_head(input)),
                                         static_cast<std::size_t>(binary::ks_length(input)))
                           : string::to_utf8(input);
            int ends[2];
            if (!make_pipe(ends)) return -1;
            fds.child[0] = ends[0];
            fds.feed = ends[1];
            set_nonblocking(fds.feed);
        }
    }
    Cell* targets[2] = {output, error};
    for (int i = 0; i < 2; ++i) {
        if (targets[i]) {
            if (!prepare_output(fds, targets[i], i + 1)) return -1;
        } else if (!console) {
            fds.child[i + 1] = dup_cloexec(fds.null_device());
        }
    }
    if (input || output || error) wait = true;
    const bool keep = wait || console;
    const pid_t pid = start(fds, text.c_str(), keep);
    if (pid < 0) return -1;
    for (int& fd : fds.child) Fds::close_fd(fd);
    std::string captured[2];
    serve(fds, in_bytes, captured);
    if (!keep) return pid;
    const std::int64_t code = wait_for(pid);
    for (int i = 0; i < 2; ++i)
        if (targets[i] && !targets[i]->is(Type::file)) insert_captured(targets[i], captured[i]);
    return code;
}

}  // namespace kiv::process
