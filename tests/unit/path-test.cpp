// The path family (making, converting, form and mold) and the compiled-code
// support: path evaluation over blocks, switch and select, refinements of
// direct calls and the shared helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/datatypes/float.h"
#include "runtime/evaluator/compiled.h"
#include "tests/unit/callables-support.h"

namespace kiv {

namespace {

using test::error_of;
using test::read;
using test::read_one;

class Paths : public test::CallableTest {
protected:
    static void define(const char* name, Cell value) {
        Cell w = test::word_of(name);
        context::set(&w, &value);
    }
    static Cell get(const char* name) {
        const Cell w = test::word_of(name);
        return *context::get(&w);
    }
    static Cell eval(const char* path, const Cell* value = nullptr) {
        Cell p = read_one(path);
        Cell result;
        return *compiled::eval_path(&p, value, &result);
    }
};

TEST_F(Paths, Making) {
    const struct {
        Type type;
        Cell spec;
        const char* molded;
    } cases[] = {
        {Type::path, test::integer(0), ""},
        {Type::path, float_::make_cell(2.7), ""},
        {Type::path, test::integer(-5), ""},
        {Type::set_path, read("a b"), "a/b:"},
        {Type::get_path, read_one("x/y/z"), ":x/y/z"},
        {Type::lit_path, read_one("(a 1)"), "'a/1"},
    };
    for (const auto& c : cases) {
        const Cell made = test::make(c.type, c.spec);
        EXPECT_EQ(made.type(), c.type);
        EXPECT_EQ(test::mold(made), c.molded);
    }
    EXPECT_EQ(error_of([] { test::make(Type::path, test::string_of("a")); }), ErrorId::script_bad_make_arg);
    EXPECT_EQ(error_of([] { test::make(Type::path, float_::make_cell(3e10)); }), ErrorId::script_out_of_range);
    // The room asked for is there.
    const Cell roomy = test::make(Type::path, test::integer(40));
    EXPECT_GE(block::buffer(&roomy)->size, 40u * sizeof(Cell));
}

TEST_F(Paths, Converting) {
    Cell set;
    typeset::make_at(&set, 0, 0, 0);
    Cell proto = test::datatype_of(Type::path);
    Cell spec = set;
    const Cell holding = *registry::lookup<Action::to>(Type::path)(&proto, &spec, Type::path);
    EXPECT_EQ(block::ks_length(&holding), 1);
    EXPECT_TRUE(block::ks_head(const_cast<Cell*>(&holding))->is(Type::typeset));
    proto = test::datatype_of(Type::get_path);
    spec = read("a b");
    EXPECT_EQ(test::mold(*registry::lookup<Action::to>(Type::get_path)(&proto, &spec, Type::get_path)),
              ":a/b");
}

TEST_F(Paths, FormAndMold) {
    const struct {
        const char* source;
        const char* formed;
        const char* molded;
    } cases[] = {
        {"'a/b/1", "a/b/1", "'a/b/1"},
        {"a/b:", "a/b", "a/b:"},
        {":a/b", "a/b", ":a/b"},
        {"a/b", "a/b", "a/b"},
    };
    for (const auto& c : cases) {
        const Cell p = read_one(c.source);
        EXPECT_EQ(test::form(p), c.formed) << c.source;
        EXPECT_EQ(test::mold(p), c.molded) << c.source;
    }
    // At its tail a path molds as its kind's marks alone.
    Cell at_tail = read_one("a/b:");
    at_tail.data1 = 2;
    EXPECT_EQ(test::mold(at_tail), ":");
    EXPECT_EQ(test::form(at_tail), "");
    // A path holding a block that holds the path stops at the guard.
    Cell p = read_one("a/b");
    Cell inner = read("x");
    block::ks_append(&inner, &p);
    block::ks_append(&p, &inner);
    EXPECT_EQ(test::mold(p), "a/b/[x ...]");
    // With a /part limit the walk stops once the budget is spent.
    Cell out;
    string::make_at(&out, 16);
    Cell limit = test::integer(3);
    const Cell long_path = read_one("abc/def/ghi");
    Cell value = long_path;
    const int left = registry::find<Action::form>(&value)(&value, &out, &limit, 3);
    EXPECT_EQ(string::to_utf8(&out), "abc");
    EXPECT_LE(left, 0);
}

TEST_F(Paths, BlockActionsAreInherited) {
    Cell p = read_one("a/b/c");
    EXPECT_EQ(registry::find<Action::length_q>(&p)(&p), 3);
    Cell copy;
    registry::find<Action::copy>(&p)(&p, &copy, nullptr, false, nullptr);
    EXPECT_EQ(copy.type(), Type::path);
    EXPECT_NE(copy.data2, p.data2);
    EXPECT_EQ(test::compare(read_one("a/b"), read_one("a/b"), CompareOp::equal), 0);
    EXPECT_FALSE(registry::supports(Type::set_path, Action::sort));
    EXPECT_FALSE(registry::supports(Type::path, Action::random));
}

TEST_F(Paths, EvaluatedOverBlocks) {
    define("data", read("b [c 10 d 20] 30"));
    EXPECT_EQ(eval("data/b/c").data2, 10u);
    EXPECT_EQ(eval("data/3").data2, 30u);
    EXPECT_EQ(test::mold(eval("data/2")), "[c 10 d 20]");
    EXPECT_EQ(eval("data/b/d").data2, 20u);
    // Setting the last element changes the block it selects in.
    const Cell eleven = test::integer(11);
    EXPECT_EQ(eval("data/b/c:", &eleven).data2, 11u);
    const Cell thirty_one = test::integer(31);
    eval("data/3:", &thirty_one);
    EXPECT_EQ(test::mold(get("data")), "[b [c 11 d 20] 31]");
    // A path whose first element is not a word starts from that value.
    Cell p = read_one("x/2");
    *block::ks_abs_at(&p, 0) = read("7 8 9");
    Cell result;
    EXPECT_EQ(compiled::eval_path(&p, nullptr, &result)->data2, 8u);
}

TEST_F(Paths, SwitchAndSelect) {
    const struct {
        const char* value;
        const char* cases;
        bool by_one;
        bool switch_;
        const char* result;
    } cases[] = {
        {"2", "1 \"one\" 2 \"two\"", false, false, "\"two\""},
        {"two", "one 1 two", false, false, "two"},
        {"3", "1 \"one\" 2 \"two\"", false, false, "none"},
        {"\"two\"", "1 \"one\" 2 \"two\"", false, false, "none"},
        {"2", "1 [a] 2 \"x\" [b] 3 [c]", true, true, "[b]"},
        {"3", "1 [a] 2 \"x\" 3", true, true, "none"},
        {"[1]", "[1] [a]", true, true, "none"},
        {"b", "a b c [d]", true, true, "[d]"},
        {"B", "a b [x]", true, true, "[x]"},
        {"'b", "a b [x]", true, true, "none"},
    };
    for (const auto& c : cases) {
        const Cell value = read_one(c.value);
        Cell list = read(c.cases);
        Cell result;
        compiled::switch_select(&value, &list, c.by_one, c.switch_, &result);
        EXPECT_EQ(test::mold(result), c.result) << c.value << " in " << c.cases;
    }
}

// A stand-in natives table that records what it was passed.
std::int32_t seen[8];
std::int32_t seen_count;
Status record(const std::int32_t* args, std::int32_t count) {
    seen_count = count;
    std::memcpy(seen, args, sizeof(std::int32_t) * static_cast<std::size_t>(count));
    return Status::ok;
}

TEST_F(Paths, RefinementsOfDirectCalls) {
    const compiled::Entry entries[] = {record, record};
    compiled::install_tables(entries, 2, entries, 2);
    Cell frame[6];
    for (Cell& c : frame) c = test::integer(5);
    const Cell yes = logic::true_value;
    const Cell no = logic::false_value;
    const compiled::RefinementUse uses[] = {{&yes, 1, 1, 1}, {&no, 3, 3, 2}};
    EXPECT_EQ(compiled::call_with_refinements(2, true, frame, 3, uses, 2), Status::ok);
    ASSERT_EQ(seen_count, 4);
    EXPECT_EQ(seen[0], 1);
    EXPECT_EQ(seen[1], 1);
    EXPECT_EQ(seen[2], -1);
    EXPECT_EQ(seen[3], -1);
    EXPECT_TRUE(frame[1].is(Type::integer));
    EXPECT_TRUE(frame[3].is(Type::none));
    EXPECT_TRUE(frame[4].is(Type::none));
    EXPECT_TRUE(frame[5].is(Type::integer));
    EXPECT_EQ(compiled::call_with_refinements(1, false, frame, 3, uses, 1), Status::ok);
    ASSERT_EQ(seen_count, 3);
    EXPECT_EQ(seen[0], 1);
    EXPECT_EQ(seen[1], -1);
    compiled::install_tables(nullptr, 0, nullptr, 0);

    Cell slots[3] = {logic::false_value, test::integer(1), test::integer(2)};
    compiled::set_refinement(&no, slots, 2);
    EXPECT_TRUE(slots[1].is(Type::none));
    EXPECT_TRUE(slots[2].is(Type::none));
    const Cell unset_value = unset::value;
    compiled::set_refinement(&unset_value, slots, 2);
    EXPECT_EQ(slots[0].data1, 1u);
}

TEST_F(Paths, SharedHelpers) {
    const struct {
        Cell value;
        std::int32_t expected;
        ErrorId error;
    } cases[] = {
        {test::integer(-7), -7, ErrorId::count_},
        {float_::make_cell(2147483647.0), 2147483647, ErrorId::count_},
        {float_::make_cell(-3.7), -3, ErrorId::count_},
        {float_::make_cell(2147483647.5), 0, ErrorId::script_out_of_range},
        {float_::make_cell(-2147483648.5), 0, ErrorId::script_out_of_range},
        {float_::make_cell(std::numeric_limits<double>::quiet_NaN()), 0, ErrorId::script_out_of_range},
    };
    for (const auto& c : cases) {
        std::int32_t got = 0;
        EXPECT_EQ(error_of([&] { got = compiled::integer_arg(&c.value); }), c.error);
        EXPECT_EQ(got, c.expected);
    }
    std::uint8_t bytes[16] = {'a', 'b', 'c'};
    EXPECT_EQ(compiled::repeat_pattern(bytes, 3, 5), bytes + 15);
    EXPECT_EQ(std::memcmp(bytes, "abcabcabcabcabc", 15), 0);
    EXPECT_EQ(bytes[15], 0);
    Cell out;
    string::make_at(&out, 16);
    EXPECT_EQ(compiled::append_indent(&out, 2, 20), 12);
    EXPECT_EQ(string::to_utf8(&out), "        ");
}

}  // namespace

}  // namespace kiv
