#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <string>

#include "runtime/platform/os-identity.h"

namespace kiv::platform {

TEST(OsIdentity, KernelRecordsGiveNameArchVersionAndBuild) {
    struct Case {
        const char* release;
        const char* version;
        const char* machine;
        const char* arch;
        std::int32_t v0, v1, v2, build;
    };
    const Case cases[] = {
        {"6.1.0-13-amd64", "#1 SMP PREEMPT_DYNAMIC Debian 6.1.55-1", "x86_64", "x86-64", 6, 1, 0, 1},
        {"5.15.0-91-generic", "#101-Ubuntu SMP Tue Nov 14", "aarch64", "ARM64", 5, 15, 0, 101},
        {"6.8", "SMP", "arm64", "ARM64", 6, 8, 0, 0},           // two numbers, no "#"
        {"4.9.337", "#7", "i686", "Unknown", 4, 9, 255, 7},     // no wrap-round past 255
        {"", "#99999999999", "riscv64", "Unknown", 0, 0, 0, 2147483647},
        {"10.x.3", "# 5", "x86_64", "x86-64", 10, 0, 0, 0},     // numbers stop at a non-digit
    };
    for (const Case& c : cases) {
        const OsIdentity id = os_identity_from(c.release, c.version, c.machine);
        SCOPED_TRACE(c.release);
        EXPECT_EQ(id.name, std::string("Linux ") + c.release);
        EXPECT_STREQ(id.arch, c.arch);
        EXPECT_EQ(id.version[0], c.v0);
        EXPECT_EQ(id.version[1], c.v1);
        EXPECT_EQ(id.version[2], c.v2);
        EXPECT_EQ(id.build, c.build);
    }
}

TEST(OsIdentity, RunningKernelIsNamedByItsRelease) {
    struct utsname u{};
    ASSERT_EQ(uname(&u), 0);
    EXPECT_EQ(os_identity().name, std::string("Linux ") + u.release);
}

}  // namespace kiv::platform
