// Process calls over POSIX: the child's standard streams are wired with
// dup2 actions of posix_spawn, input is fed and output and error drained
// together by one poll loop, and the child is reaped before the call
// returns, or handed to the system's reaper when nobody waits for it.
//
// GC: the command, the input bytes and the paths are taken from the values
// (their side buffers or their own buffers, which the pointers on this
// stack keep in place) before the child starts; the captured bytes sit in
// tracked buffers until the child has ended, and only then become values.
#include "runtime/services/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/string.h"
#include "runtime/fire.h"
#include "runtime/services/file-io.h"
#include "runtime/tracked-alloc.h"
#include "runtime/unicode-strings.h"

extern char** environ;

namespace kiv::process {

namespace {

// The largest content a series can hold, in bytes (as for file reads).
constexpr std::int64_t max_content = 0x7FFFFFFF - 64;
// The most bytes moved through a pipe in one read or write.
constexpr std::int64_t chunk = 65536;

// Closes a descriptor on every way out.
class Descriptor {
public:
    Descriptor() = default;
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    void take(int fd) {
        reset();
        fd_ = fd;
    }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

// Moves a descriptor above the standard three, so that wiring it onto 0, 1
// or 2 in the child never meets its own number (a dup2 onto itself would
// leave it close-on-exec). Answers the descriptor to use, or -1.
int above_standard(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

// Opens a file for the child: for reading, or for writing at its end,
// created when missing. A directory is refused. -1 on failure.
int open_for_child(const char* path, bool output) {
    if (!path) return -1;
    const int flags = output ? O_WRONLY | O_CREAT | O_APPEND : O_RDONLY;
    int fd;
    do fd = ::open(path, flags | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    struct stat st;
    if (fd >= 0 && (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
        ::close(fd);
        return -1;
    }
    return above_standard(fd);
}

// A close-on-exec pipe: its read end in `reader`, its write end in `writer`.
bool make_pipe(Descriptor& reader, Descriptor& writer) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    reader.take(above_standard(ends[0]));
    writer.take(above_standard(ends[1]));
    return reader.open() && writer.open();
}

// The child's end of a redirected stream in `child`; for bytes fed or
// captured, the caller's end of the pipe in `parent`.
bool wire(Stream* stream, bool output, Descriptor& child, Descriptor& parent) {
    if (stream->path) {
        child.take(open_for_child(stream->path, output));
        return child.open();
    }
    if (output) return make_pipe(parent, child);
    if (!make_pipe(child, parent)) return false;
    // The feed must never block: poll says when the pipe has room, and the
    // loop writes only what fits.
    return ::fcntl(parent.get(), F_SETFL, O_NONBLOCK) == 0;
}

// The prepared start of `/bin/sh -c command` with three descriptors as its
// standard input, output and error (-1: the caller's own). Preparing
// allocates; starting does not, so a forked intermediate can start it.
class Spawner {
public:
    explicit Spawner(const int child[3]) {
        posix_spawn_file_actions_init(&actions_);
        for (int i = 0; i < 3; ++i)
            if (child[i] >= 0) posix_spawn_file_actions_adddup2(&actions_, child[i], i);
        posix_spawnattr_init(&attributes_);
        // The runtime ignores SIGPIPE, and an ignored signal stays ignored
        // across exec: without this a writer into a closed pipe (`yes |
        // head`) would print errors and run on instead of ending.
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes_, &defaults);
        posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGDEF);
    }
    ~Spawner() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    Spawner(const Spawner&) = delete;
    Spawner& operator=(const Spawner&) = delete;

    // The child's process id, or -1.
    pid_t start(const char* command) const {
        char* const argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                              const_cast<char*>(command), nullptr};
        pid_t pid;
        return posix_spawn(&pid, "/bin/sh", &actions_, &attributes_, argv, environ) == 0 ? pid
                                                                                          : -1;
    }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

// Waits for the child to end: its exit code, 128 plus the signal's number
// when a signal ended it, or -1 when it cannot be waited for.
std::int32_t reap(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return failed;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return failed;
}

// Starts the child through an intermediate process that starts it, reports
// its id through a pipe and exits at once. Reaping the intermediate leaves
// the child to the system's reaper, which collects it when it ends.
pid_t start_detached(const Spawner& spawner, const char* command) {
    Descriptor reader;
    Descriptor writer;
    if (!make_pipe(reader, writer)) return -1;
    const pid_t middle = ::fork();
    if (middle == 0) {
        // Only what is safe after fork in a process with threads: the start
        // was prepared beforehand and allocates nothing.
        const pid_t pid = spawner.start(command);
        const ssize_t ignored = ::write(writer.get(), &pid, sizeof pid);
        (void)ignored;
        ::_exit(0);
    }
    writer.reset();
    if (middle < 0) return -1;
    pid_t pid = -1;
    ssize_t n;
    do n = ::read(reader.get(), &pid, sizeof pid);
    while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(sizeof pid)) pid = -1;
    reap(middle);
    return pid;
}

// One pipe of a running call: the feed of the input, or the drain of the
// output or the error into its stream's tracked buffer.
struct Channel {
    Descriptor* fd;
    Stream* stream;
    bool feed;
    std::int64_t done = 0;      // bytes written (feed)
    std::int64_t capacity = 0;  // bytes of the capture buffer (drain)
};

void feed_step(Channel& c) {
    const std::int64_t rest = c.stream->count - c.done;
    const ssize_t n = ::write(c.fd->get(), c.stream->data + c.done,
                              static_cast<std::size_t>(rest < chunk ? rest : chunk));
    if (n > 0) c.done += n;
    else if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    // The child closed its input (or ended) before reading it all: what it
    // did not take is dropped, as a pipe drops it.
    else c.fd->reset();
    if (c.done >= c.stream->count) c.fd->reset();
}

void drain_step(Channel& c) {
    Stream& s = *c.stream;
    if (!s.overflow && s.count == c.capacity) {
        if (c.capacity >= max_content) {
            s.overflow = true;
        } else {
            c.capacity = c.capacity < chunk ? chunk : c.capacity * 2;
            if (c.capacity > max_content) c.capacity = max_content;
            s.captured = static_cast<std::uint8_t*>(
                memory::resize(s.captured, static_cast<std::size_t>(c.capacity)));
        }
    }
    std::uint8_t dropped[4096];
    const ssize_t n = s.overflow
                          ? ::read(c.fd->get(), dropped, sizeof dropped)
                          : ::read(c.fd->get(), s.captured + s.count,
                                   static_cast<std::size_t>(c.capacity - s.count));
    if (n > 0 && !s.overflow) s.count += n;
    else if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) c.fd->reset();
}

// Feeds the input and drains output and error together until every pipe
// is closed: a child that fills one pipe while the caller still writes
// the other would otherwise block both sides for ever.
void pump(Channel* channels, int count) {
    for (;;) {
        pollfd fds[3];
        Channel* owner[3];
        int n = 0;
        for (int i = 0; i < count; ++i) {
            if (!channels[i].fd->open()) continue;
            fds[n] = {channels[i].fd->get(),
                      static_cast<short>(channels[i].feed ? POLLOUT : POLLIN), 0};
            owner[n++] = channels + i;
        }
        if (n == 0) return;
        if (::poll(fds, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR) continue;
            // Polling itself failed: closing the pipes ends the child's
            // input and output, so the wait that follows cannot hang.
            for (int i = 0; i < n; ++i) owner[i]->fd->reset();
            return;
        }
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents) continue;
            if (owner[i]->feed) feed_step(*owner[i]);
            else drain_step(*owner[i]);
        }
    }
}

}  // namespace

std::int32_t os_call(const char* command, bool wait, bool console, Stream* in, Stream* out,
                     Stream* err) {
    Stream* streams[3] = {in, out, err};
    Descriptor child[3];
    Descriptor parent[3];
    Descriptor null_device;
    for (int i = 0; i < 3; ++i) {
        if (!streams[i]) continue;
        if (i > 0) streams[i]->count = 0;
        if (!wire(streams[i], i > 0, child[i], parent[i])) return failed;
        wait = true;
    }
    int wiring[3] = {child[0].get(), child[1].get(), child[2].get()};
    if (!console && (!out || !err)) {
        null_device.take(open_for_child("/dev/null", true));
        if (!null_device.open()) return failed;
        for (int i = 1; i < 3; ++i)
            if (!streams[i]) wiring[i] = null_device.get();
    }
    pid_t pid;
    {
        const Spawner spawner(wiring);
        pid = wait || console ? spawner.start(command) : start_detached(spawner, command);
    }
    // The child holds its own copies now; the caller's would keep its pipes
    // open and the end of input or output would never be seen.
    for (Descriptor& d : child) d.reset();
    null_device.reset();
    if (pid < 0) return failed;
    if (!wait && !console) return pid;

    Channel channels[3];
    int count = 0;
    for (int i = 0; i < 3; ++i)
        if (parent[i].open()) channels[count++] = Channel{&parent[i], streams[i], i == 0};
    // Empty input: the child sees the end of its input at once.
    if (in && parent[0].open() && in->count <= 0) parent[0].reset();
    pump(channels, count);
    return reap(pid);
}

std::string shell_quote(std::string_view text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    quoted += '\'';
    return quoted;
}

namespace {

// Releases the capture buffers on every way out, fire included.
struct Captures {
    Stream streams[3];
    ~Captures() {
        for (Stream& s : streams) memory::free(s.captured);
    }
};

// The command's text for the shell; false when it holds a NUL, which the
// system would take for the end of a shorter command.
bool command_text(Cell* cmd, std::string* text) {
    if (cmd->is(Type::file)) {
        const char* path = file_io::os_path(cmd);
        if (!path) return false;
        *text = shell_quote(path);
        return true;
    }
    long length = -1;
    const auto* bytes = reinterpret_cast<const char*>(unicode::to_utf8(cmd, &length));
    if (std::strlen(bytes) != static_cast<std::size_t>(length)) return false;
    text->assign(bytes, static_cast<std::size_t>(length));
    return true;
}

// Fills the stream of a redirection value; false for a path holding a NUL.
bool stream_of(Cell* value, Stream* stream) {
    if (value->is(Type::file)) {
        stream->path = file_io::os_path(value);
        return stream->path != nullptr;
    }
    if (value->is(Type::binary)) {
        stream->data = binary::ks_head(value);
        stream->count = binary::ks_length(value);
    } else if (value->is(Type::string)) {
        // LINUX: input text is UTF-8 with its LF line ends as they are.
        long length = -1;
        stream->data = unicode::to_utf8(value, &length);
        stream->count = length;
    }
    return true;
}

// Inserts the captured bytes at the target's index: a binary! takes them
// as they are, a string! takes their UTF-8 text with each CR before an LF
// dropped.
void insert_output(Cell* target, Stream& stream) {
    if (stream.overflow) fire(ErrorId::script_too_long);
    if (stream.count == 0) return;
    const auto n = static_cast<std::int32_t>(stream.count);
    if (target->is(Type::binary)) {
        binary::insert_bytes(target, 0, stream.captured, n);
        return;
    }
    Cell text;
    file_io::load_text(stream.captured, stream.count, &text);
    string::concatenate(target, &text, -1, 0, string::Mode::insert);
}

}  // namespace

std::int32_t call(Cell* cmd, bool wait, bool, bool console, bool, Cell* in, Cell* out,
                  Cell* err) {
    // LINUX: the shell runs every command, so /shell changes nothing, and
    // there is no window for /show to reveal.
    std::string command;
    if (!command_text(cmd, &command)) return failed;
    Captures captures;
    Cell* values[3] = {in, out, err};
    Stream* streams[3] = {nullptr, nullptr, nullptr};
    for (int i = 0; i < 3; ++i) {
        if (!values[i]) continue;
        if (!stream_of(values[i], &captures.streams[i])) return failed;
        streams[i] = &captures.streams[i];
    }
    const std::int32_t result =
        os_call(command.c_str(), wait, console, streams[0], streams[1], streams[2]);
    if (result == failed) return failed;
    for (int i = 1; i < 3; ++i)
        if (values[i] && !values[i]->is(Type::file)) insert_output(values[i], captures.streams[i]);
    return result;
}

}  // namespace kiv::process
