#include "runtime/platform/host.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

extern char** environ;

namespace kiv::host {

std::int64_t file_size(const char* path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    // LINUX: a folder opens for reading here, but it has no content to
    // measure, as on systems where it cannot be opened as a file.
    const bool ok = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    close(fd);
    return ok ? static_cast<std::int64_t>(st.st_size) : -1;
}

void visit_env(EnvVisitor visitor, void* context) {
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        // The name ends at the first "=" after its first character, so a
        // name that begins with "=" keeps it.
        const std::size_t eq = text.find('=', 1);
        if (eq == std::string_view::npos) visitor(text, std::string_view(), context);
        else visitor(text.substr(0, eq), text.substr(eq + 1), context);
    }
}

bool program_on_path_q(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string_view rest(path);
    while (true) {
        const std::size_t colon = rest.find(':');
        std::string_view folder = rest.substr(0, colon);
        if (folder.empty()) folder = ".";  // an empty entry names the current folder
        std::string candidate(folder);
        candidate.push_back('/');
        candidate.append(name);
        if (access(candidate.c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        rest.remove_prefix(colon + 1);
    }
}

bool launch_detached(const char* program, const char* argument) {
    // LINUX: a shell starts the program in the background and exits at
    // once; waiting for the shell leaves no child behind, and the program
    // is adopted by init.
    const char* const argv[] = {"sh", "-c", "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &",
                                program, argument, nullptr};
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) !=
        0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace kiv::host
