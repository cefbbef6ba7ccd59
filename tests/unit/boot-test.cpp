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

// Every step is a source or a binder; every built-in source has its place
// in the binding order, every listed
// source is built in, and each one loads with its header.
TEST(Boot, EverySourceIsBoundOnceAndLoads) {
    std::set<std::string> listed;
    for (int g = 0; g < boot::group_count(); ++g) {
        const boot::Group& group = boot::groups()[g];
        EXPECT_EQ(group.number, g);
        for (int i = 0; i < group.count; ++i) {
            const boot::Step& step = group.steps[i];
            EXPECT_NE(step.source == nullptr, step.bind == nullptr) << step.name;
            if (!step.source) continue;
            EXPECT_TRUE(listed.insert(step.source).second) << step.source << " listed twice";
            EXPECT_NE(boot::source_text(step.source), nullptr) << step.source << " is not built in";
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

// Each boot object has its own class id, given after a group that exists.
TEST(Boot, ClassIdsAreUniqueAndFollowTheirGroup) {
    std::set<std::int32_t> ids;
    std::set<std::string> paths;
    for (int i = 0; i < boot::class_id_count(); ++i) {
        const boot::ClassId& row = boot::class_ids()[i];
        EXPECT_TRUE(ids.insert(row.id).second) << row.path;
        EXPECT_TRUE(paths.insert(row.path).second) << row.path;
        ASSERT_GE(row.group, 0);
        ASSERT_LT(row.group, boot::group_count());
        EXPECT_GT(boot::groups()[row.group].count, 0) << row.path << " after an empty group";
    }
}

}  // namespace

}  // namespace kiv
