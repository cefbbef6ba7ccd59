#include <gtest/gtest.h>

#include <string>

#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/hashtable.h"
#include "tests/unit/block-support.h"
#include "tests/unit/text-values.h"

namespace kiv {

namespace {

using test::load;

class HashTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::start_runtime();
        series::init();
        block::init();
        string::init();
        integer::init();
        paren::init();
        issue::init();
        hash::init();
    }
    void TearDown() override { collector::set_active(false); }
};

Cell make_hash(Cell spec, bool to = false) {
    Cell proto;
    auto fn = to ? registry::lookup<Action::to>(Type::hash) : registry::lookup<Action::make>(Type::hash);
    return *fn(&proto, &spec, Type::hash);
}

// Whether the index finds every value of the block at its own position.
::testing::AssertionResult indexed(const Cell& h) {
    if (!h.is(Type::hash) || !h.data3) return ::testing::AssertionFailure() << "no index";
    const std::int32_t n = series::ks_abs_length(&h);
    for (std::int32_t p = 0; p < n; ++p) {
        const Cell* cells = block::buffer(&h)->cells();
        const Cell* found = hashtable::find(h.data3, cells + p, p, 1, CompareOp::strict_equal, false, false);
        if (found != block::buffer(&h)->cells() + p) {
            return ::testing::AssertionFailure() << "position " << p << " of " << test::mold(h);
        }
    }
    const Cell missing = test::word_of("not-there");
    if (hashtable::find(h.data3, &missing, 0, 1, CompareOp::equal, false, false)) {
        return ::testing::AssertionFailure() << "found a value that is not there";
    }
    return ::testing::AssertionSuccess();
}

Cell select(Cell h, Cell key) {
    return *registry::find<Action::select>(&h)(&h, &key, nullptr, false, false, false, false, nullptr, nullptr,
                                               false, false);
}

}  // namespace

TEST_F(HashTest, MakeAndMold) {
    struct Case { Cell spec; bool to; const char* text; };
    const Case cases[] = {
        {test::integer(0), false, "make hash! []"},
        {test::integer(-5), false, "make hash! []"},
        {load("1 2"), false, "make hash! [1 2]"},
        {load("a [b c] \"d\""), false, "make hash! [a [b c] \"d\"]"},
        {test::integer(5), true, "make hash! [5]"},
    };
    for (const Case& c : cases) {
        const Cell h = make_hash(c.spec, c.to);
        EXPECT_EQ(test::mold(h), c.text);
        EXPECT_TRUE(indexed(h));
    }
    EXPECT_EQ(test::mold_with(make_hash(load("1 2")), true, false), "1 2");
    // make indexes a copy; to indexes the given block itself.
    const Cell spec = load("a 1");
    EXPECT_NE(make_hash(spec).data2, spec.data2);
    EXPECT_EQ(make_hash(spec, true).data2, spec.data2);
    // A hash! spec gives a copy with its own index.
    const Cell h = make_hash(load("x 1"));
    const Cell again = make_hash(h);
    EXPECT_NE(again.data2, h.data2);
    EXPECT_NE(again.data3, h.data3);
    EXPECT_TRUE(indexed(again));
}

TEST_F(HashTest, ChangesKeepTheIndex) {
    Cell h = make_hash(load("a 1 b 2"));
    EXPECT_EQ(test::mold(select(h, test::word_of("b"))), "2");
    Cell more = load("c 3");
    registry::find<Action::append>(&h)(&h, &more, -1, false, 1, true);
    EXPECT_EQ(test::mold(select(h, test::word_of("c"))), "3");
    EXPECT_TRUE(indexed(h));
    Cell two = test::integer(2);
    registry::find<Action::remove>(&h)(&h, &two, nullptr);
    EXPECT_EQ(test::mold(h), "make hash! [b 2 c 3]");
    EXPECT_TRUE(indexed(h));
    const Cell a = test::word_of("a");
    EXPECT_EQ(hashtable::find(h.data3, &a, 0, 1, CompareOp::equal, false, false), nullptr);
}

TEST_F(HashTest, CopyDuplicatesOrRebuilds) {
    const Cell h = make_hash(load("a 1 b 2 a 3"));
    Cell whole, rest;
    Cell source = h;
    registry::find<Action::copy>(&source)(&source, &whole, nullptr, false, nullptr);
    Cell next = test::at(h, 2);
    registry::find<Action::copy>(&next)(&next, &rest, nullptr, false, nullptr);
    EXPECT_EQ(test::mold(whole), "make hash! [a 1 b 2 a 3]");
    EXPECT_EQ(test::mold(rest), "make hash! [1 b 2 a 3]");
    EXPECT_TRUE(indexed(whole));
    EXPECT_TRUE(indexed(rest));
    EXPECT_NE(whole.data3, h.data3);
    Cell deep;
    source = h;
    registry::find<Action::copy>(&source)(&source, &deep, nullptr, true, nullptr);
    EXPECT_TRUE(indexed(deep));
}

TEST_F(HashTest, SortAndTrimKeepTheIndex) {
    Cell h = make_hash(load("5 3 9 1 3 7"));
    registry::find<Action::sort>(&h)(&h, false, nullptr, nullptr, nullptr, false, false, false);
    EXPECT_EQ(test::mold(h), "make hash! [1 3 3 5 7 9]");
    EXPECT_TRUE(indexed(h));
    Cell from_third = test::at(h, 3);
    registry::find<Action::sort>(&from_third)(&from_third, false, nullptr, nullptr, nullptr, false, true, false);
    EXPECT_EQ(test::mold(h), "make hash! [1 3 9 7 5 3]");
    EXPECT_TRUE(indexed(h));
    Cell with_none = make_hash(load("a _ b _ c"));
    registry::find<Action::trim>(&with_none)(&with_none, false, false, false, false, false, nullptr);
    EXPECT_EQ(test::mold(with_none), "make hash! [a b c]");
    EXPECT_TRUE(indexed(with_none));
}

}  // namespace kiv
