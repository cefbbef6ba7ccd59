// block!: sort (records, refinements, comparison functions through the
// interpreter's hook) and the set operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "runtime/hashtable.h"
#include "tests/unit/block-support.h"

namespace kiv {
namespace {

using test::at;
using test::error_of;
using test::integer;
using test::load;
using test::mold;
using test::value;

class BlockSort : public test::BlockTest {
protected:
    void TearDown() override {
        block::call_comparator_hook = nullptr;
        test::BlockTest::TearDown();
    }
};

struct SortArgs {
    bool case_ = false;
    int skip = 0;
    Cell* compare = nullptr;
    const char* part = nullptr;  // an integer's text
    bool all = false, reverse = false, stable = false;
};

Cell sort(Cell s, const SortArgs& a = {}) {
    Cell skip = integer(a.skip);
    Cell part = a.part ? integer(std::atoi(a.part)) : Cell{};
    return *registry::find<Action::sort>(&s)(&s, a.case_, a.skip ? &skip : nullptr, a.compare,
                                              a.part ? &part : nullptr, a.all, a.reverse, a.stable);
}

TEST_F(BlockSort, OrdersRecords) {
    Cell two = integer(2);
    struct Case {
        const char* source;
        int start;
        SortArgs args;
        const char* expected;  // the whole block
    } cases[] = {
        {"[c a B]", 1, {}, "[a B c]"},
        {"[c a B]", 1, {.case_ = true}, "[B a c]"},
        {"[1 3 2]", 1, {.reverse = true}, "[3 2 1]"},
        {"[b 2 a 1]", 1, {.skip = 2}, "[a 1 b 2]"},
        {"[x 2 y 1]", 1, {.skip = 2, .compare = &two}, "[y 1 x 2]"},
        {"[b 1 a 0 a 2]", 1, {.skip = 2, .all = true}, "[a 0 a 2 b 1]"},
        {"[9 3 1 2]", 2, {.part = "2"}, "[9 1 3 2]"},
        {"[4 3 2 1]", 3, {.part = "-2"}, "[3 4 2 1]"},
        {"[4 3 2 1]", 2, {.part = "-5"}, "[4 3 2 1]"},
        {"[b 2 a 1]", 1, {}, "[1 2 a b]"},
        {"[b 1 a 1 c 0]", 1, {.skip = 2, .compare = &two, .stable = true}, "[c 0 b 1 a 1]"},
        {"[]", 1, {}, "[]"},
    };
    for (const Case& c : cases) {
        for (bool stable : {false, true}) {
            SortArgs a = c.args;
            a.stable |= stable;
            Cell b = value(c.source);
            sort(at(b, c.start), a);
            EXPECT_EQ(mold(b), c.expected) << c.source << (stable ? " stable" : "");
        }
    }
    Cell moved = at(value("[4 3 2 1]"), 3);
    SortArgs back{.part = "-2"};
    const Cell result = sort(moved, back);
    EXPECT_EQ(series::head(&result), 0) << "a negative /part moves the head back";
}

TEST_F(BlockSort, RefinementErrors) {
    Cell zero = integer(0);
    Cell three = integer(3);
    Cell word = test::word_of("w");
    struct Case {
        const char* source;
        SortArgs args;
        ErrorId id;
    } cases[] = {
        {"[b 2 a]", {.skip = 2}, ErrorId::script_invalid_refine_arg},
        {"[b 2 a 1]", {.skip = -1}, ErrorId::script_invalid_refine_arg},
        {"[b a]", {.all = true}, ErrorId::script_bad_refines},
        {"[b a]", {.compare = &three}, ErrorId::script_bad_refines},
        {"[b 2 a 1]", {.skip = 2, .compare = &three}, ErrorId::script_out_of_range},
        {"[b 2 a 1]", {.skip = 2, .compare = &zero}, ErrorId::script_out_of_range},
        {"[b 2 a 1]", {.skip = 2, .compare = &three, .all = true}, ErrorId::script_bad_refines},
        {"[b a]", {.compare = &word}, ErrorId::script_invalid_refine_arg},
    };
    for (const Case& c : cases) {
        Cell b = value(c.source);
        EXPECT_EQ(error_of([&] { sort(b, c.args); }), c.id) << c.source;
        EXPECT_EQ(mold(b), c.source) << "nothing moves before an error";
    }
}

TEST_F(BlockSort, LargeInputsBothSorters) {
    for (bool stable : {false, true}) {
        for (int shape = 0; shape < 3; ++shape) {
            Cell b;
            block::make_at(&b, 10000);
            std::uint32_t r = 12345;
            for (int i = 0; i < 10000; ++i) {
                r = r * 1103515245u + 12345u;
                const std::int32_t v = shape == 0 ? static_cast<std::int32_t>(r >> 8) % 1000
                                       : shape == 1 ? i
                                                    : 10000 - i;
                Cell n = integer(v);
                block::ks_append(&b, &n);
            }
            SortArgs a{.stable = stable};
            sort(b, a);
            for (int i = 1; i < 10000; ++i)
                ASSERT_LE(series::int_of(block::ks_abs_at(&b, i - 1)),
                          series::int_of(block::ks_abs_at(&b, i)))
                    << "shape " << shape << (stable ? " stable" : "");
        }
    }
}

// ---------------------------------------------------------------------------
// Comparison functions run through the interpreter's hook; here a C++
// comparator stands in for it. The function cell is only passed along.

Cell function_cell() { return Cell{static_cast<std::uint32_t>(Type::function), 0, 0, 0}; }

// Answers `a > b` for integers, as a logic!.
void greater(Cell*, Cell* a, Cell* b, Cell* result) {
    logic::make_at(result, series::int_of(a) > series::int_of(b));
}

TEST_F(BlockSort, ComparisonFunction) {
    block::call_comparator_hook = greater;
    Cell f = function_cell();
    for (bool stable : {false, true}) {
        Cell b = value("[1 3 2 5 4]");
        sort(b, {.compare = &f, .stable = stable});
        EXPECT_EQ(mold(b), "[5 4 3 2 1]");
        sort(b, {.compare = &f, .reverse = true, .stable = stable});
        EXPECT_EQ(mold(b), "[1 2 3 4 5]");
    }

    // /all with /skip hands whole records over as blocks.
    block::call_comparator_hook = [](Cell*, Cell* a, Cell* b, Cell* result) {
        ASSERT_TRUE(a->is(Type::block) && b->is(Type::block));
        ASSERT_EQ(block::ks_length(a), 2);
        logic::make_at(result, series::int_of(block::ks_abs_at(a, 1)) <
                                   series::int_of(block::ks_abs_at(b, 1)));
    };
    Cell records = value("[x 3 y 1 z 2]");
    sort(records, {.skip = 2, .compare = &f, .all = true});
    EXPECT_EQ(mold(records), "[y 1 z 2 x 3]");

    // What each kind of answer means: positive, true or anything else puts
    // the first argument first; none, false or negative the second.
    static Cell answer;
    block::call_comparator_hook = [](Cell*, Cell*, Cell*, Cell* result) { *result = answer; };
    struct Answer {
        Cell value;
        const char* expected;
    } answers[] = {
        {integer(1), "[2 1]"}, {integer(-1), "[1 2]"}, {integer(0), "[1 2]"},
        {Cell{static_cast<std::uint32_t>(Type::none), 0, 0, 0}, "[1 2]"},
        {test::word_of("w"), "[2 1]"},
    };
    for (const Answer& a : answers) {
        answer = a.value;
        Cell b = value("[1 2]");
        sort(b, {.compare = &f, .stable = true});
        EXPECT_EQ(mold(b), a.expected) << mold(a.value);
    }
}

// A comparison function that changes the block being sorted stops the sort
// with script protected; every record stays in the block, none is lost or
// doubled, and nothing crashes.
TEST_F(BlockSort, ComparisonFunctionChangingTheBlock) {
    static Cell* sorted = nullptr;
    static int calls = 0;
    struct Change {
        const char* name;
        void (*act)(Cell*);
        bool keeps_records;
    } changes[] = {
        {"append", [](Cell* b) { Cell n = integer(99); block::ks_append(b, &n); }, true},
        {"grow", [](Cell* b) {
             for (int i = 0; i < 100; ++i) {
                 Cell n = integer(100 + i);
                 block::ks_append(b, &n);
             }
         }, true},
        {"clear", [](Cell* b) { block::ks_truncate(b, 0); }, false},
    };
    Cell f = function_cell();
    for (const Change& c : changes) {
        for (bool stable : {false, true}) {
            static void (*act)(Cell*);
            act = c.act;
            calls = 0;
            block::call_comparator_hook = [](Cell*, Cell* a, Cell* b, Cell* result) {
                if (++calls == 5) act(sorted);
                logic::make_at(result, series::int_of(a) > series::int_of(b));
            };
            Cell b = load(
                "8 1 7 2 6 3 5 4 0 9 11 10 13 12 15 14 17 16 19 18 21 20 23 22 25 24 27 26 29 28");
            sorted = &b;
            EXPECT_EQ(error_of([&] { sort(b, {.compare = &f, .stable = stable}); }),
                      ErrorId::script_protected_)
                << c.name << (stable ? " stable" : "");
            if (!c.keeps_records) continue;
            std::vector<std::int32_t> seen;
            for (std::int32_t i = 0; i < 30; ++i)
                seen.push_back(series::int_of(block::ks_abs_at(&b, i)));
            std::sort(seen.begin(), seen.end());
            for (std::int32_t i = 0; i < 30; ++i) EXPECT_EQ(seen[i], i) << c.name;
        }
    }
    sorted = nullptr;
}

// A comparison function may run any code, a collection included: the
// records waiting in the merge sort's work buffer survive it.
TEST_F(BlockSort, CollectionDuringComparison) {
    block::call_comparator_hook = [](Cell*, Cell* a, Cell* b, Cell* result) {
        Cell x = *a;
        Cell y = *b;
        test::collect();
        logic::make_at(result, string::compare_strings(&x, &y, CompareOp::sort, false) < 0);
    };
    Cell b;
    block::make_at(&b, 64);
    for (int i = 0; i < 64; ++i) {
        Cell s = test::string_of(std::to_string((i * 37) % 64 + 100).c_str());
        block::ks_append(&b, &s);
    }
    Cell f = function_cell();
    sort(b, {.compare = &f, .stable = true});
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(string::to_utf8(block::ks_abs_at(&b, i)), std::to_string(100 + i));
    test::expect_heap_sound();
}

// ---------------------------------------------------------------------------
// Set operations.

Cell set_op(block::SetOp op, Cell a, Cell b, bool case_ = false, int skip = 0) {
    Cell step = integer(skip);
    Cell out;
    return *block::set_operation(&a, &b, case_, skip ? &step : nullptr, op, &out);
}

TEST_F(BlockSort, SetOperations) {
    using block::SetOp;
    struct Case {
        SetOp op;
        const char* a;
        const char* b;
        bool case_;
        int skip;
        const char* expected;
    } cases[] = {
        {SetOp::unique, "[a b a c]", "[]", false, 0, "[a b c]"},
        {SetOp::union_, "[a b]", "[b c]", false, 0, "[a b c]"},
        {SetOp::intersect, "[a b c]", "[b c d]", false, 0, "[b c]"},
        {SetOp::exclude, "[a b c]", "[b]", false, 0, "[a c]"},
        {SetOp::difference, "[a b]", "[b c]", false, 0, "[a c]"},
        {SetOp::union_, "[a 1 b 2]", "[a 3 c 4]", false, 2, "[a 1 b 2 c 4]"},
        {SetOp::unique, "[a 1 a 2 b 3]", "[]", false, 2, "[a 1 b 3]"},
        {SetOp::intersect, "[a 1 b 2]", "[b 9]", false, 2, "[b 2]"},
        {SetOp::union_, "[A]", "[a]", false, 0, "[A]"},
        {SetOp::union_, "[A]", "[a]", true, 0, "[A a]"},
        {SetOp::unique, "[[1] [1] 2 2]", "[]", false, 0, "[[1] 2]"},
        {SetOp::intersect, "[[1] [2] 3]", "[[2] 3]", false, 0, "[[2] 3]"},
        {SetOp::exclude, "[1 2 3]", "[]", false, 0, "[1 2 3]"},
        {SetOp::unique, "[]", "[]", false, 0, "[]"},
    };
    for (const Case& c : cases) {
        Cell r = set_op(c.op, value(c.a), value(c.b), c.case_, c.skip);
        EXPECT_TRUE(r.is(Type::block));
        EXPECT_EQ(mold(r), c.expected) << c.a << " " << c.b;
    }
    EXPECT_EQ(mold(set_op(SetOp::union_, at(value("[x a]"), 2), value("[b]"))), "[a b]");
    EXPECT_EQ(error_of([] { set_op(SetOp::unique, value("[a]"), value("[]"), false, -1); }),
              ErrorId::script_invalid_refine_arg);
}

TEST_F(BlockSort, SetOperationOnAHashGivesAHash) {
    Cell h = value("[a b c]");
    h.data3 = hashtable::init(4, &h, hashtable::Kind::hash);
    h.set_type(Type::hash);
    Cell r = set_op(block::SetOp::union_, h, value("[c d e]"));
    ASSERT_TRUE(r.is(Type::hash));
    ASSERT_NE(r.data3, 0u);
    EXPECT_EQ(block::ks_length(&r), 5);
    for (std::int32_t i = 0; i < 5; ++i) {
        const Cell* cell = block::ks_abs_at(&r, i);
        EXPECT_EQ(hashtable::find(r.data3, cell, 0, 1, CompareOp::equal, false, false), cell);
    }
}

}  // namespace
}  // namespace kiv
