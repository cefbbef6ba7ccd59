// The parse engine driven from C++: rules and inputs loaded from text, the
// result molded. Parens and the trace callback run through stand-ins (see
// parse-support.h).
#include <gtest/gtest.h>

#include "tests/unit/parse-support.h"

namespace kiv {

namespace {

using test::ParseOptions;
using test::run;

struct Case {
    const char* input;
    const char* rules;
    const char* expected;
};

void check_cases(std::initializer_list<Case> cases, ParseOptions options = {}) {
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.input, c.rules, options), c.expected) << c.input << "  " << c.rules;
    }
}

class Parse : public test::ParseTest {};

TEST_F(Parse, SequencesAndTheEnd) {
    check_cases({
        {"[]", "", "true"},
        {"\"a\"", "", "false"},
        {"\"abc\"", "\"abc\"", "true"},
        {"\"abc\"", "\"ABC\"", "true"},
        {"\"abc\"", "\"ab\"", "false"},
        {"\"abc\"", "\"a\" \"b\" \"c\"", "true"},
        {"\"abc\"", "#\"a\" #\"B\" #\"c\"", "true"},
        {"\"\"", "\"\"", "true"},
        {"\"abc\"", "\"abc\" \"\"", "true"},
        {"\"a<b>c\"", "\"a\" <b> \"c\"", "true"},
        {"[a b]", "'a 'b", "true"},
        {"[a 1 \"x\"]", "'a quote 1 \"X\"", "true"},
        {"[a]", "[['a]]", "true"},
        {"#{0102}", "#{01} #{02}", "true"},
        {"#{616263}", "\"ab\" #\"c\"", "true"},
        {"#{3C623E}", "<b>", "true"},
        {"\"abc\"", "\"a\" [\"b\"] \"c\" end", "true"},
        {"\"ab\"", "\"a\" end", "false"},
    });
}

TEST_F(Parse, Alternatives) {
    check_cases({
        {"\"ab\"", "[\"a\" \"x\"] | [\"a\" \"b\"]", "true"},
        {"\"ab\"", "\"a\" \"x\" | \"a\" \"b\"", "true"},
        {"\"b\"", "\"a\" | \"b\" | \"c\"", "true"},
        {"\"d\"", "\"a\" | \"b\" | \"c\"", "false"},
        {"\"ac\"", "\"a\" [\"b\" | \"c\"]", "true"},
        {"[1 x]", "integer! 'y | integer! 'x", "true"},
    });
}

TEST_F(Parse, Repetitions) {
    check_cases({
        {"\"aaa\"", "any \"a\"", "true"},
        {"\"aaa\"", "some \"a\"", "true"},
        {"\"\"", "some \"a\"", "false"},
        {"\"\"", "any \"a\"", "true"},
        {"\"aaa\"", "2 \"a\"", "false"},
        {"\"aaa\"", "3 \"a\"", "true"},
        {"\"aa\"", "3 \"a\"", "false"},
        {"\"aaa\"", "2 3 \"a\"", "true"},
        {"\"aaaa\"", "2 3 \"a\"", "false"},
        {"\"a\"", "2 3 \"a\"", "false"},
        {"\"abab\"", "2 [\"a\" \"b\"]", "true"},
        {"\"ababab\"", "1 2 [\"a\" \"b\"] \"ab\"", "true"},
        {"\"b\"", "opt \"a\" \"b\"", "true"},
        {"\"ab\"", "opt \"a\" \"b\"", "true"},
        {"\"aab\"", "opt \"a\" \"b\"", "false"},
        {"\"abc\"", "0 \"x\" \"abc\"", "true"},
        {"\"abc\"", "any [none] \"abc\"", "true"},
        {"\"abc\"", "any [opt \"x\"] \"abc\"", "true"},
        {"\"abc\"", "some [opt \"x\"] \"abc\"", "true"},
        {"\"aAa\"", "some #\"a\"", "true"},
        {"\"aaab\"", "any [\"a\"] \"b\"", "true"},
        {"\"1234x\"", "some digit \"x\"", "true"},
        {"\"x\"", "some digit \"x\"", "false"},
        {"[1 2 3]", "some integer!", "true"},
        {"[1 2 x]", "some integer! word!", "true"},
        {"[a a a]", "3 'a", "true"},
        {"#{010101}", "some #{01}", "true"},
        {"#{303132}", "some digit", "true"},
        {"\"ab\"", "[\"a\" | \"b\"] [\"a\" | \"b\"]", "true"},
    });
}

TEST_F(Parse, RepetitionErrors) {
    check_cases({
        {"\"a\"", "-1 \"a\"", "error: out-of-range"},
        {"\"a\"", "1 -1 \"a\"", "error: out-of-range"},
        {"\"a\"", "2 1 \"a\"", "error: parse-rule"},
        {"\"a\"", "2", "error: parse-rule"},
        {"\"a\"", "1 2", "error: parse-rule"},
        {"\"a\"", "any", "error: parse-end"},
        {"\"a\"", "some", "error: parse-end"},
        {"\"a\"", "opt", "error: parse-end"},
        {"\"a\"", "while", "error: parse-end"},
    });
}

TEST_F(Parse, WhileKeepsLoopingWithoutProgress) {
    test::stand_ins().actions["count"] = [](Cell*, Cell* result) {
        Cell w = test::word_of("n");
        Cell* n = context::get(&w);
        series::make_integer(n, series::int_of(n) + 1);
        logic::make_at(result, series::int_of(n) < 3);
    };
    test::set_word("n", test::integer(0));
    // Each round consumes nothing; `if` ends the loop on its third round.
    EXPECT_EQ(run("\"ab\"", "while [if (count)] \"ab\""), "true");
    EXPECT_EQ(test::value_of("n"), "3");
    test::set_word("n", test::integer(0));
    EXPECT_EQ(run("\"ab\"", "any [if (count)] \"ab\""), "true");
    EXPECT_EQ(test::value_of("n"), "1");
}

TEST_F(Parse, SkipEndNoneFail) {
    check_cases({
        {"\"abc\"", "skip skip skip", "true"},
        {"\"abc\"", "3 skip", "true"},
        {"\"ab\"", "3 skip", "false"},
        {"[a [b] 1]", "3 skip end", "true"},
        {"\"\"", "end", "true"},
        {"\"a\"", "none \"a\" none", "true"},
        {"\"a\"", "fail", "false"},
        {"\"a\"", "fail \"a\"", "false"},
        {"\"a\"", "fail | \"a\"", "true"},
        {"\"a\"", "[fail] | \"a\"", "true"},
        {"\"ab\"", "\"a\" opt fail \"b\"", "true"},
        {"\"a\"", "some fail | \"a\"", "true"},
    });
}

TEST_F(Parse, ToAndThru) {
    check_cases({
        {"\"abc\"", "to end", "true"},
        {"\"aXb\"", "\"a\" to \"b\" \"b\"", "true"},
        {"\"aXb\"", "\"a\" thru \"X\" \"b\"", "true"},
        {"\"aXb\"", "\"a\" thru \"x\" \"b\"", "true"},
        {"\"aXb\"", "thru #\"x\" \"b\"", "true"},
        {"\"aXb\"", "to #\"b\" skip", "true"},
        {"\"a1b\"", "to digit \"1b\"", "true"},
        {"\"a1b\"", "thru digit \"b\"", "true"},
        {"\"abc\"", "to \"z\"", "false"},
        {"\"abc\"", "thru \"abcd\"", "false"},
        {"\"a<b>c\"", "thru <b> \"c\"", "true"},
        {"[a b 1 c]", "to integer! integer! 'c", "true"},
        {"[a b 1 c]", "thru 1 'c", "true"},
        {"[a b c]", "thru 'b 'c", "true"},
        {"#{00010203}", "thru #{02} #{03}", "true"},
        {"#{00010203}", "to #\"^C\" skip", "true"},
        {"\"abcde\"", "to [\"c\" | \"d\"] \"cde\"", "true"},
        {"\"abcde\"", "thru [\"x\" | \"d\"] \"e\"", "true"},
        {"\"abcde\"", "to [\"x\" | \"y\"]", "false"},
        {"\"abc\"", "opt to [\"x\"] \"abc\"", "true"},
        {"\"abc\"", "thru end", "true"},
        {"\"abc\"", "to", "error: parse-end"},
        {"\"abc\"", "thru 1", "error: parse-rule"},
    });
}

TEST_F(Parse, CaseSensitivity) {
    check_cases({
        {"\"aB\"", "case yes \"aB\"", "true"},
        {"\"ab\"", "case yes \"aB\"", "false"},
        {"\"ab\"", "case no \"aB\"", "true"},
        {"\"ab\"", "case yes \"ab\" \"\"", "true"},
        {"\"abAB\"", "case yes \"ab\" \"ab\"", "true"},
        {"\"aA\"", "some #\"a\"", "true"},
        {"[A]", "'a", "true"},
        {"\"a\"", "case 1", "error: parse-end"},
    });
    check_cases({
        {"\"aB\"", "\"aB\"", "true"},
        {"\"ab\"", "\"aB\"", "false"},
        {"\"aA\"", "some #\"a\"", "false"},
        {"\"aXb\"", "thru \"x\"", "false"},
        {"[A]", "'a", "false"},
    },
                ParseOptions{.case_ = true});
}

TEST_F(Parse, CopyAndSet) {
    EXPECT_EQ(run("\"abc\"", "copy x 2 skip skip"), "true");
    EXPECT_EQ(test::value_of("x"), "\"ab\"");
    EXPECT_EQ(run("\"abc\"", "set y skip 2 skip"), "true");
    EXPECT_EQ(test::value_of("y"), "#\"a\"");
    EXPECT_EQ(run("#{0A0B}", "set y skip copy x skip"), "true");
    EXPECT_EQ(test::value_of("y"), "10");
    EXPECT_EQ(test::value_of("x"), "#{0B}");
    EXPECT_EQ(run("[a [b] c]", "set y skip copy x to end"), "true");
    EXPECT_EQ(test::value_of("y"), "a");
    EXPECT_EQ(test::value_of("x"), "[[b] c]");
    EXPECT_EQ(run("\"abc\"", "set y opt \"x\" to end"), "true");
    EXPECT_EQ(test::value_of("y"), "none");
    EXPECT_EQ(run("\"abc\"", "copy x [\"a\" | \"b\"] copy y thru \"c\""), "true");
    EXPECT_EQ(test::value_of("x"), "\"a\"");
    EXPECT_EQ(test::value_of("y"), "\"bc\"");
    check_cases({
        {"\"a\"", "copy x", "error: parse-end"},
        {"\"a\"", "copy \"x\" skip", "error: parse-end"},
        {"\"a\"", "set x", "error: parse-end"},
    });
}

TEST_F(Parse, PositionWords) {
    EXPECT_EQ(run("\"abc\"", "skip p: to end :p \"bc\""), "true");
    EXPECT_EQ(test::value_of("p"), "\"bc\"");
    EXPECT_EQ(run("\"abc\"", "to end :q \"bc\""), "error: parse-invalid-ref");
}

TEST_F(Parse, Into) {
    check_cases({
        {"[[1 2]]", "into [2 integer!]", "true"},
        {"[[1 2]]", "into [integer!]", "false"},
        {"[[1 2] x]", "into [some integer!] 'x", "true"},
        {"[\"ab\" x]", "into [\"a\" \"b\"] 'x", "true"},
        {"[a]", "into [skip]", "false"},
        {"[]", "into [skip]", "false"},
        {"[[[a]]]", "into [into ['a]]", "true"},
        {"\"ab\"", "into [skip]", "error: parse-block"},
        {"[[a]]", "into", "error: parse-end"},
        {"[[a]]", "into 'a", "error: parse-end"},
    });
}

TEST_F(Parse, NotAheadBreakReject) {
    check_cases({
        {"\"ab\"", "not \"b\" \"ab\"", "true"},
        {"\"ab\"", "not \"a\" \"ab\"", "false"},
        {"\"ab\"", "ahead \"a\" \"ab\"", "true"},
        {"\"ab\"", "ahead \"b\" \"ab\"", "false"},
        {"\"ab\"", "opt not \"a\" \"ab\"", "true"},
        {"\"aab\"", "any [\"a\" break] \"ab\"", "true"},
        {"\"aab\"", "some [\"a\" | break] \"b\"", "true"},
        {"\"abc\"", "any [reject] \"abc\"", "true"},
        {"\"abc\"", "some [reject] | \"abc\"", "true"},
        {"\"abc\"", "some [reject]", "false"},
        {"\"aab\"", "any [\"a\" reject] \"aab\"", "true"},
        {"\"a\"", "not", "error: parse-end"},
        {"\"a\"", "ahead", "error: parse-end"},
    });
}

TEST_F(Parse, Quote) {
    check_cases({
        {"[a b]", "quote a quote b", "true"},
        {"[[1 2] 3]", "quote [1 2] quote 3", "true"},
        {"[(x)]", "quote (x)", "true"},
        {"[a]", "quote", "error: parse-end"},
    });
}

TEST_F(Parse, DatatypeRules) {
    check_cases({
        {"[1 \"a\" x]", "integer! string! word!", "true"},
        {"[1]", "any-type!", "error: no-value"},
        {"\"abc\"", "integer!", "error: parse-unsupported"},
        {"#{3132332061}", "integer! skip word!", "true"},
        {"#{3132}", "word!", "false"},
    });
}

TEST_F(Parse, WordsAndRuleErrors) {
    test::set_word("r", test::load("\"b\""));
    test::set_word("w", test::word_of("b"));
    check_cases({
        {"\"ab\"", "\"a\" r", "true"},
        {"\"abb\"", "\"a\" some r", "true"},
        {"\"ab\"", "\"a\" undefined-rule", "error: no-value"},
        {"\"ab\"", "\"a\" w", "error: parse-rule"},
        {"[b b]", "some w", "true"},
        {"\"ab\"", "a/b", "error: parse-rule"},
    });
}

TEST_F(Parse, Part) {
    check_cases({
        {"\"abc\"", "\"ab\"", "true"},
        {"\"abc\"", "to end", "true"},
        {"\"abc\"", "\"abc\"", "false"},
        {"\"abc\"", "some \"a\" skip", "true"},
        {"\"abc\"", "3 skip", "false"},
        {"\"abc\"", "thru #\"c\"", "false"},
        {"[1 2 3]", "2 integer!", "true"},
        {"[[a b c] d e]", "into [3 skip] skip", "true"},
    },
                ParseOptions{.part = "2"});
    check_cases({
        {"\"abc\"", "\"ab\"", "true"},
    },
                ParseOptions{.part = "input"});
    check_cases({
        {"\"abc\"", "to end", "false"},
        {"\"\"", "", "true"},
    },
                ParseOptions{.part = "0"});
    EXPECT_EQ(run("\"abc\"", "", ParseOptions{.part = "\"ab\""}), "error: invalid-refine-arg");
}

TEST_F(Parse, ParensAndIf) {
    int hits = 0;
    test::stand_ins().actions["hit"] = [&hits](Cell*, Cell*) { ++hits; };
    EXPECT_EQ(run("\"aaa\"", "some [\"a\" (hit)]"), "true");
    EXPECT_EQ(hits, 3);
    check_cases({
        {"\"a\"", "if (yes) \"a\"", "true"},
        {"\"a\"", "if (no) \"a\"", "false"},
        {"\"a\"", "if (none) \"a\"", "false"},
        {"\"a\"", "if (1) \"a\"", "true"},
        {"\"a\"", "if \"a\"", "error: parse-end"},
        {"\"a\"", "\"a\" if", "error: parse-end"},
    });
}

TEST_F(Parse, AThrowOutOfAParenLeavesTheStacksEmpty) {
    test::stand_ins().actions["leave"] = [](Cell*, Cell*) { test::stand_ins().throw_next = true; };
    EXPECT_EQ(run("\"ab\"", "\"a\" [(leave)]"), "thrown");
    EXPECT_EQ(block::ks_length(&state.parse_rules), 0);
    EXPECT_EQ(block::ks_length(&state.parse_inputs), 0);
    EXPECT_EQ(run("\"ab\"", "\"ab\""), "true");
}

TEST_F(Parse, CollectAndKeep) {
    check_cases({
        {"\"abc\"", "collect [some [keep skip]]", "[#\"a\" #\"b\" #\"c\"]"},
        {"\"abc\"", "collect [keep 2 skip]", "[\"ab\"]"},
        {"\"abc\"", "collect [keep pick 2 skip]", "[#\"a\" #\"b\"]"},
        {"\"abc\"", "collect [keep copy x 2 skip]", "[\"ab\"]"},
        {"\"abc\"", "collect [keep none]", "[]"},
        {"#{0A0B}", "collect [keep skip keep skip]", "[10 11]"},
        {"[a [b] c]", "collect [keep skip keep skip keep 1 skip]", "[a [b] c]"},
        {"[a b c]", "collect [keep 2 skip]", "[[a b]]"},
        {"\"ab\"", "collect [keep (5) keep pick ([x y]) keep ([z])]", "[5 x y [z]]"},
        {"\"ab\"", "collect [keep skip collect [keep skip]]", "[#\"a\" [#\"b\"]]"},
        {"\"abc\"", "collect [keep skip] \"x\"", "[#\"a\"]"},
        {"\"ab\"", "collect [keep \"a\" keep \"x\"]", "[#\"a\"]"},
        {"\"a\"", "keep skip", "error: parse-keep"},
        {"\"a\"", "collect set", "error: parse-end"},
        {"\"a\"", "collect [keep]", "error: parse-end"},
    });
    EXPECT_EQ(run("\"ab\"", "collect set x [keep skip keep skip]"), "true");
    EXPECT_EQ(test::value_of("x"), "[#\"a\" #\"b\"]");
    EXPECT_EQ(run("\"ab\"", "collect [collect set x [keep skip] keep skip]"), "[#\"b\"]");
    EXPECT_EQ(test::value_of("x"), "[#\"a\"]");
}

TEST_F(Parse, CollectIntoAndAfter) {
    test::set_word("b", test::load("1 2"));
    EXPECT_EQ(run("\"ab\"", "collect into b [keep skip keep skip]"), "true");
    EXPECT_EQ(test::value_of("b"), "[#\"a\" #\"b\" 1 2]");
    Cell tail = test::load("1 2");
    series::set_head(&tail, 1);
    test::set_word("b", tail);
    EXPECT_EQ(run("[x y]", "collect after b [keep skip keep skip]"), "true");
    EXPECT_EQ(test::value_of("b"), "[2 x y]");
    test::set_word("s", test::string_of("12"));
    EXPECT_EQ(run("\"ab\"", "collect into s [keep to end]"), "true");
    EXPECT_EQ(test::value_of("s"), "\"ab12\"");
    test::set_word("b", test::load(""));
    EXPECT_EQ(run("\"ab\"", "collect into b [keep skip collect [keep skip]]"), "true");
    EXPECT_EQ(test::value_of("b"), "[#\"a\" [#\"b\"]]");
    test::set_word("s", test::string_of(""));
    check_cases({
        {"[a]", "collect into s [keep skip]", "error: parse-into-type"},
        {"\"a\"", "collect into input [keep skip]", "error: parse-into-bad"},
        {"\"a\"", "collect into nothing-here [keep skip]", "error: no-value"},
    });
}

TEST_F(Parse, InsertChangeRemove) {
    struct Edit {
        const char* input;
        const char* rules;
        const char* result;
        const char* after;  // the input afterwards
    } cases[] = {
        {"\"abc\"", "skip insert \"X\" \"bc\"", "true", "\"aXbc\""},
        {"\"abc\"", "skip insert #\"X\" \"bc\"", "true", "\"aXbc\""},
        {"[a b]", "skip insert only [x y] 'b", "true", "[a [x y] b]"},
        {"[a b]", "skip insert [x y] 'b", "true", "[a x y b]"},
        {"\"abc\"", "p: 2 skip insert p \"X\" \"c\"", "true", "\"Xabc\""},
        {"\"abc\"", "skip insert (\"XY\") \"bc\"", "true", "\"aXYbc\""},
        {"\"abc\"", "remove \"a\" \"bc\"", "true", "\"bc\""},
        {"\"abc\"", "remove 2 skip \"c\"", "true", "\"c\""},
        {"\"abc\"", "p: 2 skip remove p \"c\"", "true", "\"c\""},
        {"[a b c]", "any [remove 'b | skip]", "true", "[a c]"},
        {"\"abc\"", "change \"a\" \"X\" \"bc\"", "true", "\"Xbc\""},
        {"\"abc\"", "change 2 skip \"XYZ\" \"c\"", "true", "\"XYZc\""},
        {"\"abc\"", "p: skip change p \"XY\" \"XYbc\"", "true", "\"XYbc\""},
        {"[a b]", "change only 'a [1 2] 'b", "true", "[[1 2] b]"},
        {"[a b]", "change 'a [1 2] 'b", "true", "[1 2 b]"},
        {"\"abc\"", "any [change #\"b\" (\"--\") | skip]", "true", "\"a--c\""},
        {"\"abc\"", "change \"x\" \"y\" | \"abc\"", "true", "\"abc\""},
    };
    for (const Edit& c : cases) {
        EXPECT_EQ(run(c.input, c.rules), c.result) << c.rules;
        EXPECT_EQ(test::value_of("input"), c.after) << c.rules;
    }
    check_cases({
        {"\"a\"", "insert", "error: parse-end"},
        {"\"a\"", "insert only", "error: parse-end"},
        {"\"a\"", "p: insert p", "error: parse-rule"},
        {"\"a\"", "insert a/b", "error: parse-rule"},
        {"\"a\"", "remove a/b", "error: parse-rule"},
        {"\"a\"", "change skip", "error: parse-end"},
        {"\"a\"", "remove", "error: parse-end"},
    });
}

TEST_F(Parse, NestedRunsShareTheStacks) {
    test::stand_ins().actions["inner"] = [](Cell*, Cell* result) {
        Cell in = test::string_of("xy");
        Cell rules = test::load("\"x\" [\"y\"]");
        EXPECT_EQ(parse::run(&in, &rules, CompareOp::equal, 0, nullptr, result), Status::ok);
    };
    test::stand_ins().actions["check"] = [](Cell*, Cell* result) {
        Cell in = test::string_of("x");
        Cell rules = test::load("\"y\"");
        EXPECT_EQ(parse::run(&in, &rules, CompareOp::equal, 0, nullptr, result), Status::ok);
    };
    EXPECT_EQ(run("\"ab\"", "\"a\" if (inner) [if (check) | \"b\"]"), "true");
    EXPECT_EQ(block::ks_length(&state.parse_rules), 0);
    EXPECT_EQ(series::head(&state.parse_rules), 0);
    EXPECT_EQ(block::ks_length(&state.parse_inputs), 0);
}

TEST_F(Parse, DeepRecursionEndsInAnError) {
    test::set_word("r", test::load("r"));
    EXPECT_EQ(run("\"a\"", "r"), "error: parse-stack");
    EXPECT_EQ(block::ks_length(&state.parse_rules), 0);
    test::set_word("r", test::load("\"a\" r | end"));
    EXPECT_EQ(run("\"aaaa\"", "r"), "true");
    // Nested input through into grows both stacks.
    Cell nested = test::load("");
    for (int i = 0; i < 5000; ++i) {
        Cell outer = test::load("");
        block::ks_append(&outer, &nested);
        nested = outer;
    }
    test::set_word("deep", nested);
    test::set_word("r", test::load("into r | end"));
    EXPECT_EQ(run(":deep", "r"), "error: parse-stack");
    EXPECT_EQ(run("\"a\"", "skip"), "true");
}

TEST_F(Parse, TraceEvents) {
    EXPECT_EQ(run("\"ab\"", "\"a\" some \"b\"", ParseOptions{.trace = true}), "true");
    std::string seen;
    for (const std::string& e : test::stand_ins().events) seen += e + " ";
    EXPECT_EQ(seen, "push fetch match fetch push match pop pop end ");
    test::stand_ins().events.clear();
    EXPECT_EQ(run("\"ab\"", "any [skip]", ParseOptions{.trace = true}), "true");
    seen.clear();
    for (const std::string& e : test::stand_ins().events) seen += e + " ";
    EXPECT_EQ(seen,
              "push fetch push push fetch match pop iterate fetch push fetch match pop iterate fetch "
              "push fetch match pop pop pop end ");
    // A false answer stops the run: parse answers the match so far.
    test::stand_ins().answer = [](const std::string& e) { return e != "fetch"; };
    EXPECT_EQ(run("\"x\"", "\"a\"", ParseOptions{.trace = true}), "true");
    test::stand_ins().answer = [](const std::string& e) { return e != "end"; };
    EXPECT_EQ(run("\"x\"", "\"a\"", ParseOptions{.trace = true}), "false");
    EXPECT_EQ(block::ks_length(&state.parse_rules), 0);
}

}  // namespace

}  // namespace kiv
