#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/platform/host.h"

namespace kiv::host {

TEST(Host, FileSizeOfFilesFoldersAndMissingPaths) {
    char path[] = "/tmp/kiv-host-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "12345", 5), 5);
    close(fd);
    EXPECT_EQ(file_size(path), 5);
    unlink(path);
    EXPECT_EQ(file_size(path), -1);
    EXPECT_EQ(file_size(""), -1);
    EXPECT_EQ(file_size("/tmp"), -1);
}

TEST(Host, EnvironmentVisitSeesEveryVariable) {
    setenv("KIV_HOST_TEST", "a=b", 1);
    setenv("KIV_HOST_EMPTY", "", 1);
    std::string seen;
    int empty_seen = 0;
    for_each_env([&](std::string_view name, std::string_view value) {
        if (name == "KIV_HOST_TEST") seen = std::string(value);
        if (name == "KIV_HOST_EMPTY" && value.empty()) ++empty_seen;
    });
    EXPECT_EQ(seen, "a=b");  // only the first "=" separates the name
    EXPECT_EQ(empty_seen, 1);
    unsetenv("KIV_HOST_TEST");
    unsetenv("KIV_HOST_EMPTY");
}

TEST(Host, EnvironmentNamesEndAtTheFirstEqualsSignAfterTheFirstCharacter) {
    char e1[] = "=C:=C:\\work";
    char e2[] = "A==1";
    char e3[] = "B=";
    char e4[] = "NOVALUE";
    char e5[] = "=";
    char* entries[] = {e1, e2, e3, e4, e5, nullptr};
    char** saved = environ;
    environ = entries;
    std::string seen;
    for_each_env([&](std::string_view name, std::string_view value) {
        seen.append(name).append("|").append(value).append(";");
    });
    environ = saved;
    EXPECT_EQ(seen, "=C:|C:\\work;A|=1;B|;NOVALUE|;=|;");
}

TEST(Host, ProgramsAreFoundOnThePath) {
    EXPECT_TRUE(program_on_path_q("sh"));
    EXPECT_FALSE(program_on_path_q("kiv-no-such-program-anywhere"));
    const char* saved = std::getenv("PATH");
    const std::string path = saved ? saved : "";
    setenv("PATH", "/nonexistent-folder", 1);
    EXPECT_FALSE(program_on_path_q("sh"));
    setenv("PATH", path.c_str(), 1);
}

TEST(Host, LaunchDetachedStartsTheProgram) {
    char path[] = "/tmp/kiv-launch-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    unlink(path);
    ASSERT_TRUE(launch_detached("touch", path));
    // The program runs in the background: give it a moment.
    for (int i = 0; i < 200 && file_size(path) < 0; ++i) usleep(10000);
    EXPECT_EQ(file_size(path), 0);
    unlink(path);
}

}  // namespace kiv::host
