#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "runtime/boot.h"
#include "runtime/embedded.h"
#include "tests/unit/lexer-harness.h"

namespace kiv {

namespace {

TEST(Boot, CommandLineRebuiltFromTheArguments) {
    struct Case {
        std::vector<const char*> argv;
        std::string line;
    };
    const Case cases[] = {
        {{"/usr/bin/kiv"}, "/usr/bin/kiv"},
        {{"kiv", "a.kiv", "x", "y"}, "kiv a.kiv x y"},
        {{"kiv", "--catch", "my script.kiv"}, "kiv --catch \"my script.kiv\""},
        {{"kiv", "", "tab\there"}, "kiv \"\" \"tab\there\""},
        {{"/opt/my kiv/kiv", "a"}, "\"/opt/my kiv/kiv\" a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(boot::command_line(static_cast<int>(c.argv.size()), c.argv.data()), c.line);
}

// Every built-in source has its place in the binding order, every listed
// source is built in, and each one loads with its header.
TEST(Boot, EverySourceIsBoundOnceAndLoads) {
    std::set<std::string> listed;
    for (int g = 0; g < boot::group_count(); ++g) {
        EXPECT_EQ(boot::groups()[g].number, g + 1);
        for (const char* const* s = boot::groups()[g].sources; *s; ++s) {
            EXPECT_TRUE(listed.insert(*s).second) << *s << " listed twice";
            EXPECT_NE(boot::source_text(*s), nullptr) << *s << " is not built in";
        }
    }
    for (const embedded::Source* s = embedded::sources; s->path; ++s) {
        std::string path = s->path;
        if (path.rfind("tests/", 0) == 0) continue;
        EXPECT_EQ(listed.count(path), 1u) << path << " has no group";
        EXPECT_EQ(std::strncmp(s->text, "Kiv [", 5), 0) << path;
        std::string loaded = lexer::test::load(std::string(s->text, s->size));
        EXPECT_EQ(loaded.rfind("error:", 0), std::string::npos) << path << ": " << loaded;
    }
}

}  // namespace

}  // namespace kiv
