// The operating system's identification, as `os-info` reports it: a name,
// an architecture word, a three-number version and a build number, read
// from the kernel (uname). Nothing here touches language values.
#pragma once

#include <cstdint>
#include <string>

namespace kiv::platform {

struct OsIdentity {
    std::string name;      // "Linux " and the kernel release
    const char* arch;      // "x86-64", "ARM64" or "Unknown"
    std::int32_t version[3];  // each 0 to 255, so that it fits a tuple
    std::int32_t build;    // 0 to 2147483647
};

// The identification of the running kernel.
OsIdentity os_identity();

// The identification from the kernel's release ("6.1.0-13-amd64"), version
// ("#1 SMP PREEMPT_DYNAMIC Debian 6.1.55-1") and machine name ("x86_64").
OsIdentity os_identity_from(const char* release, const char* version, const char* machine);

}  // namespace kiv::platform
