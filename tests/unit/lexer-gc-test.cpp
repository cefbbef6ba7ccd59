// The collector sees the values on the lexer's output stack.
#include <gtest/gtest.h>

#include <string>

#include "runtime/evaluator/lexer.h"
#include "tests/unit/runtime-support.h"

namespace kiv::lexer {

namespace {

void load_text(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    lx.type = static_cast<int>(Type::string);
    if (!load) return;
    Cell text = test::string_of(std::string(reinterpret_cast<const char*>(s + 1), e - s - 1).c_str());
    *push(lx) = text;
}

bool keep_block(Lexer&, int type, Cell*, int, Cell* out) {
    out->header = static_cast<std::uint32_t>(type);
    return true;
}

// A collection in the middle of the scan, from a clean stack: the strings
// loaded so far are held only by the output stack.
bool collect_on_close(Lexer&, const EventInfo& info) {
    if (info.event == ev_close) test::collect();
    return true;
}

}  // namespace

TEST(LexerGc, OutputValuesSurviveACollection) {
    test::isolated([] {
        test::start_runtime();
        init();
        Hooks hooks = checking_hooks;
        hooks.loaders[static_cast<int>(Kind::string)] = load_text;
        hooks.make_container = keep_block;
        hooks.event = collect_on_close;
        hooks.event_mask = ev_close;
        std::string source = "\"alpha\" \"beta\" [\"gamma\"]";
        Scan scan(hooks, reinterpret_cast<const std::uint8_t*>(source.data()), source.size(), Mode::load, false);
        scan.run();
        ASSERT_EQ(scan.value_count(), 3);
        EXPECT_EQ(string::to_utf8(&scan.values()[0]), "alpha");
        EXPECT_EQ(string::to_utf8(&scan.values()[1]), "beta");
        std::string problem;
        EXPECT_TRUE(collector::verify_heap(&problem)) << problem;
    });
}

}  // namespace kiv::lexer
