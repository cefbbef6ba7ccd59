// Process calls below the language: which descriptors the child gets, that
// the caller keeps none and leaves no child behind on any outcome, and
// that a quoted text reaches the program unchanged.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

#include "runtime/services/process.h"
#include "runtime/tracked-alloc.h"

namespace kiv::process {
namespace {

class Process : public ::testing::Test {
protected:
    // The runtime ignores SIGPIPE; a child that closes its input early
    // would otherwise end the test.
    void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }
};

std::string captured(const Stream& s) {
    std::string text(reinterpret_cast<const char*>(s.captured), static_cast<std::size_t>(s.count));
    memory::free(s.captured);
    return text;
}

// The descriptors open in this process; with `inheritable` only those
// without close-on-exec, which every child gets.
std::set<int> open_descriptors(bool inheritable) {
    std::set<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    const int own = dirfd(dir);
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const int fd = std::atoi(e->d_name);
        if (fd == own) continue;
        if (inheritable && (fcntl(fd, F_GETFD) & FD_CLOEXEC)) continue;
        fds.insert(fd);
    }
    closedir(dir);
    return fds;
}

bool no_child_left() {
    int status;
    return waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

TEST_F(Process, ChildGetsOnlyItsThreeStreamsAndWhatTheCallerLetsEveryChildInherit) {
    // The shell's own test sees the descriptors without opening one.
    const char* list = "for f in /proc/self/fd/*; do [ -e \"$f\" ] && echo \"${f##*/}\"; done; true";
    std::set<int> expected = open_descriptors(true);
    expected.insert({0, 1, 2});
    Stream in;
    in.data = reinterpret_cast<const std::uint8_t*>("x");
    in.count = 1;
    Stream out;
    Stream err;
    ASSERT_EQ(os_call(list, true, false, &in, &out, &err), 0);
    std::set<int> seen;
    std::istringstream lines(captured(out));
    for (std::string line; std::getline(lines, line);) seen.insert(std::stoi(line));
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(captured(err), "");
}

TEST_F(Process, NoDescriptorOrChildOutlivesACallWhateverItsOutcome) {
    if (!no_child_left()) GTEST_SKIP() << "the test process has children of its own";
    const std::set<int> before = open_descriptors(false);
    const std::string dir = testing::TempDir();
    const std::string missing = dir + "/kiv-process-missing/none";
    struct Case {
        const char* command;
        bool wait;
        const char* in_path;
        const char* out_path;
        std::int32_t result;  // -2: a process id
    } cases[] = {
        {"exit 7", true, nullptr, nullptr, 7},
        {"cat", true, "/dev/null", nullptr, 0},
        {"cat", true, missing.c_str(), nullptr, failed},
        {"echo x", true, nullptr, missing.c_str(), failed},
        {"echo x", true, nullptr, dir.c_str(), failed},  // a directory is no output file
        {"exit 0", false, nullptr, nullptr, -2},
        {"sleep 1", false, nullptr, nullptr, -2},
    };
    for (const Case& c : cases) {
        Stream in;
        Stream out;
        in.path = c.in_path;
        out.path = c.out_path;
        const std::int32_t result = os_call(c.command, c.wait, false, c.in_path ? &in : nullptr,
                                            c.out_path ? &out : nullptr, nullptr);
        if (c.result == -2) EXPECT_GT(result, 0) << c.command;
        else EXPECT_EQ(result, c.result) << c.command;
    }
    EXPECT_EQ(open_descriptors(false), before);
    // A child nobody waits for, still running or not, is not ours to reap.
    EXPECT_TRUE(no_child_left());
}

TEST_F(Process, PipesWorkWhenTheCallersOwnStandardStreamsAreClosed) {
    // New pipes then take the numbers 0 and 1, which the child's wiring
    // must not confuse with its own standard streams.
    const int saved_in = dup(0);
    const int saved_out = dup(1);
    close(0);
    close(1);
    Stream in;
    in.data = reinterpret_cast<const std::uint8_t*>("abc");
    in.count = 3;
    Stream out;
    const std::int32_t result = os_call("cat", true, false, &in, &out, nullptr);
    dup2(saved_in, 0);
    dup2(saved_out, 1);
    close(saved_in);
    close(saved_out);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(captured(out), "abc");
}

TEST_F(Process, QuotedTextReachesTheProgramUnchanged) {
    const char* texts[] = {"a b", "it's", "$(echo no)", "`echo no`", "a\"b\\c", "*", "-n", ""};
    for (const char* text : texts) {
        const std::string command = "printf %s " + shell_quote(text);
        Stream out;
        ASSERT_EQ(os_call(command.c_str(), true, false, nullptr, &out, nullptr), 0);
        EXPECT_EQ(captured(out), text);
    }
}

}  // namespace
}  // namespace kiv::process
