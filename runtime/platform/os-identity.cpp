// The operating system's identification from the kernel's uname record.
#include "runtime/platform/os-identity.h"

#include <sys/utsname.h>

#include <cstring>
#include <limits>

namespace kiv::platform {

namespace {

const char* arch_word(const char* machine) {
    if (std::strcmp(machine, "x86_64") == 0) return "x86-64";
    if (std::strcmp(machine, "aarch64") == 0 || std::strcmp(machine, "arm64") == 0) return "ARM64";
    return "Unknown";
}

// The decimal number at p, stopping at `limit` rather than overflowing;
// p is left after its digits.
std::int32_t read_number(const char*& p, std::int32_t limit) {
    std::int32_t n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const int digit = *p - '0';
        n = n > (limit - digit) / 10 ? limit : n * 10 + digit;
    }
    return n;
}

// The first three numbers of the release, dot-separated; those missing are
// 0. A tuple holds bytes, so a number above 255 (a long-lived stable
// series reaches such patch levels) reads 255 rather than wrapping round.
void release_numbers(const char* p, std::int32_t* numbers) {
    bool more = true;
    for (int i = 0; i < 3; ++i) {
        numbers[i] = more ? read_number(p, 255) : 0;
        more = more && *p == '.';
        if (more) ++p;
    }
}

// The number after "#" in the kernel version, else 0.
std::int32_t build_number(const char* version) {
    const char* p = std::strchr(version, '#');
    if (!p) return 0;
    ++p;
    return read_number(p, std::numeric_limits<std::int32_t>::max());
}

}  // namespace

OsIdentity os_identity_from(const char* release, const char* version, const char* machine) {
    OsIdentity id;
    id.name = "Linux ";
    id.name += release;
    id.arch = arch_word(machine);
    release_numbers(release, id.version);
    id.build = build_number(version);
    return id;
}

// LINUX: the kernel's identification stands for the system's version
// record and its processor architecture.
OsIdentity os_identity() {
    struct utsname u{};
    ::uname(&u);
    return os_identity_from(u.release, u.version, u.machine);
}

}  // namespace kiv::platform
