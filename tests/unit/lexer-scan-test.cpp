// Scan modes, one-value scans, events and the shared output stack.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/evaluator/lexer.h"
#include "tests/unit/lexer-harness.h"

namespace kiv::lexer {

namespace {

const std::uint8_t* bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

}  // namespace

TEST(LexerScan, ModesReportTheTypeOfTheLastToken) {
    struct Case { const char* source; Mode mode; bool one; const char* type; };
    const Case cases[] = {
        {"12x", Mode::scan, true, "error!"},
        {"1x2", Mode::scan, true, "pair!"},
        {"", Mode::prescan, true, "none"},
        {"", Mode::scan, false, "none"},
        {"a ;c", Mode::scan, true, "word!"},
        // prescan checks structure and strings, not the value tokens
        {"1''0", Mode::prescan, true, "integer!"},
        {"1''0", Mode::scan, true, "error!"},
        {"\"a^(zz)\"", Mode::prescan, true, "error!"},
        {"[a 1''0", Mode::prescan, false, "error!"},
        {"[a b] c", Mode::scan, true, "block!"},
        {"a/b c", Mode::prescan, true, "path!"},
        {"a/b: c", Mode::scan, true, "set-path!"},
        {"{a{b}c} d", Mode::scan, true, "string!"},
        {"#(true) x", Mode::scan, true, "logic!"},
        {"12345678901", Mode::scan, true, "float!"},
        {"a: 1", Mode::scan, true, "set-word!"},
        {"a:b", Mode::scan, true, "url!"},
    };
    for (const Case& c : cases) EXPECT_EQ(test::scan(c.source, c.mode, c.one), c.type) << c.source;
}

TEST(LexerScan, OneValueStopsAfterTheFirstValue) {
    struct Case { const char* source; int values; std::size_t consumed; };
    const Case cases[] = {
        {"a b", 1, 1},
        {"  [a [b]] c", 1, 9},
        {"; x\n a/b/c d", 1, 10},
        {"{a} b", 1, 3},
        {"(1, 2) x", 1, 6},
        {"", 0, 0},
    };
    for (const Case& c : cases) {
        std::string source = c.source;
        Scan scan(test::describing_hooks(), bytes(source), source.size(), Mode::load, true);
        scan.run();
        EXPECT_EQ(scan.value_count(), c.values) << c.source;
        EXPECT_EQ(scan.consumed(), c.consumed) << c.source;
    }
}

TEST(LexerScan, ANulByteEndsTheInput) {
    std::string source("a [b]\0c", 7);
    Scan scan(test::describing_hooks(), bytes(source), source.size(), Mode::load, false);
    scan.run();
    EXPECT_EQ(scan.value_count(), 2);
    EXPECT_EQ(scan.consumed(), 5u);
}

TEST(LexerScan, EventsInOrder) {
    using V = std::vector<std::string>;
    EXPECT_EQ(test::events("[a {b}] c/d"),
              (V{"open block! 1-2", "scan word! 2-3", "load word! a", "open string! 4-5", "close string! 6-7",
                 "scan string! 4-6", "load string! \"b\"", "close block! 7-8", "open path! 9-10",
                 "scan word! 11-12", "load word! d", "close path! 12-13", "=> [a \"b\"] c/d"}));
    EXPECT_EQ(test::events("a ;c\n(1, 2)", Mode::scan),
              (V{"scan word! 1-2", "scan comment 3-5", "scan point2D! 6-11", "=> point2D!"}));
    EXPECT_EQ(test::events("[a (1, 2) %{r}%", Mode::prescan),
              (V{"open block! 1-2", "prescan block! 1-2", "prescan word! 2-3", "prescan point2D! 4-10",
                 "open string! 11-12", "close string! 15-16", "prescan string! 11-16", "=> error!"}));
    EXPECT_EQ(test::events("x: 1''0"),
              (V{"scan set-word! 1-3", "load set-word! x:", "error integer! 4-8",
                 "raised (line 1) invalid integer! at 1''0"}));
    EXPECT_EQ(test::events("\"abc", Mode::scan), (V{"error error! 1-5", "=> error!"}));
}

TEST(LexerScan, EventMaskSelectsEvents) {
    using V = std::vector<std::string>;
    // what a console needs to follow open delimiters
    EXPECT_EQ(test::events("[a (b", Mode::load, ev_open | ev_close | ev_error),
              (V{"open block! 1-2", "open paren! 4-5", "error paren! 4-6", "raised (line 1) missing ) at (b"}));
    EXPECT_EQ(test::events("a/b {x", Mode::load, ev_open | ev_close | ev_error),
              (V{"open path! 1-2", "close path! 4-5", "open string! 5-6", "error string! 5-7",
                 "raised (line 1) invalid string! at {x"}));
    EXPECT_EQ(test::events("a/b:/c", Mode::load, ev_close | ev_error),
              (V{"close path! 4-5", "error path! 1-4", "raised (line 1) invalid path! at a/b:/c"}));
}

TEST(LexerScan, RefusedEventsDropValuesOrSkipTokens) {
    using V = std::vector<std::string>;
    // a refused load drops the value
    EXPECT_EQ(test::events("a b", Mode::load, ev_load, ev_load), (V{"load word! a", "load word! b", "=> "}));
    // a refused scan skips loading
    EXPECT_EQ(test::events("a [b]", Mode::load, ev_scan, ev_scan), (V{"scan word! 1-2", "scan word! 4-5", "=> []"}));
    // a refused error skips the bad token and goes on
    EXPECT_EQ(test::events("a 1''0 b", Mode::load, ev_error, ev_error), (V{"error integer! 3-7", "=> a b"}));
    EXPECT_EQ(test::events("[a b", Mode::load, ev_error, ev_error), (V{"error block! 1-5", "=> [a b]"}));
    EXPECT_EQ(test::events("a } b", Mode::load, ev_error, ev_error), (V{"error error! 3-3", "=> a b"}));
    // a refused open leaves its closer without a match
    EXPECT_EQ(test::events("[a] b", Mode::load, ev_open, ev_open),
              (V{"open block! 1-2", "raised (line 1) missing [ at [a] b"}));
}

namespace {

// A hook that starts a second scan in the middle of the first one, big
// enough to move the shared output stack.
int nested_count = 0;

bool nest(Lexer&, const EventInfo& info) {
    if (info.event != ev_close) return true;
    std::string many;
    for (int i = 0; i < 3000; ++i) many += "x ";
    Scan inner(test::describing_hooks(), bytes(many), many.size(), Mode::load, false);
    inner.run();
    nested_count = inner.value_count();
    return true;
}

}  // namespace

TEST(LexerScan, ScansNestOnTheSharedOutputStack) {
    std::string source = "a [b [c] d] e";
    Hooks hooks = test::describing_hooks();
    hooks.event = nest;
    hooks.event_mask = ev_close;
    test::forget_descriptions();
    Scan outer(hooks, bytes(source), source.size(), Mode::load, false);
    outer.run();
    EXPECT_EQ(nested_count, 3000);
    EXPECT_EQ(test::describe(outer), "a [b [c] d] e");
    EXPECT_EQ(innermost_scan(), &outer.state());
}

TEST(LexerScan, OutputStackGrowsAndDeepNestingHolds) {
    std::string many;
    for (int i = 0; i < 5000; ++i) many += "[a] ";
    Scan scan(test::describing_hooks(), bytes(many), many.size(), Mode::load, false);
    scan.run();
    EXPECT_EQ(scan.value_count(), 5000);

    std::string deep = std::string(20000, '[') + std::string(20000, ']');
    EXPECT_EQ(test::scan(deep, Mode::scan, false), "block!");
    EXPECT_EQ(test::load(std::string(3, '[') + "a" + std::string(3, ']')), "[[[a]]]");
}

}  // namespace kiv::lexer

namespace kiv::lexer {

// The built-in checking loaders type every token without making values, and
// refuse to load what they cannot make.
TEST(LexerScan, CheckingHooksTypeTokensAndRefuseToLoad) {
    struct Case { const char* source; const char* type; };
    const Case cases[] = {
        {"a:", "set-word!"},     {"/a", "refinement!"}, {"'/", "lit-word!"},  {"#a", "issue!"},
        {"12345678901", "float!"}, {"FFh", "integer!"}, {"1.#NaN", "float!"}, {"5%", "percent!"},
        {"(1, 2, 3)", "point3D!"}, {"1x2", "pair!"},    {"1.2.3", "tuple!"},  {"1:30", "time!"},
        {"1-Jan-2000", "date!"}, {"$1", "money!"},      {"<a>", "tag!"},      {"a:b", "url!"},
        {"a@b", "email!"},       {"@a", "ref!"},        {"%{a}%", "string!"}, {"%a", "file!"},
        {"64#{QQ==}", "binary!"}, {"#\"a\"", "char!"},  {"#(none)", "none!"}, {"{a}", "string!"},
        {"1''0", "error!"},      {"$1.123456", "error!"}, {"#(int)", "error!"}, {"2#{1}", "error!"},
    };
    for (const Case& c : cases) {
        std::string source = c.source;
        Scan scan(checking_hooks, reinterpret_cast<const std::uint8_t*>(source.data()), source.size(), Mode::scan,
                  true);
        EXPECT_STREQ(test::type_name(scan.run()), c.type) << c.source;
    }
    for (const char* source : {"a", "[]", "1", "\"s\""}) {
        std::string text = source;
        Scan scan(checking_hooks, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), Mode::load,
                  false);
        EXPECT_THROW(scan.run(), SyntaxError) << source;
    }
}

}  // namespace kiv::lexer

namespace kiv::lexer {

namespace {

bool refuse_errors(Lexer&, const EventInfo& info) { return info.event != ev_error; }

}  // namespace

// A callback that refuses errors without moving the input still lets the
// scan go on past each bad token and end.
TEST(LexerScan, RefusedErrorsAlwaysMoveOn) {
    Hooks hooks = test::describing_hooks();
    hooks.event = refuse_errors;
    hooks.event_mask = ev_error;
    for (const char* source : {"a } 1''0 b", "{a\xFF b", "a/b} c", "\xC2\xA0\xC2 x", "[a (b"}) {
        std::string text = source;
        Scan scan(hooks, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), Mode::load, false);
        scan.run();
        EXPECT_EQ(scan.consumed(), text.size()) << source;
    }
}

}  // namespace kiv::lexer
