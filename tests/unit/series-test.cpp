// series!: navigation, element access and the modifying actions that every
// series shares, on blocks and strings.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "runtime/evaluator/random.h"
#include "tests/unit/block-support.h"

namespace kiv {
namespace {

using test::at;
using test::error_of;
using test::integer;
using test::load;
using test::mold;
using test::value;

class Series : public test::BlockTest {};

Cell skip(Cell s, std::int32_t n) {
    Cell i = integer(n);
    return *registry::find<Action::skip>(&s)(&s, &i);
}
template <Action A>
Cell nav(Cell s) {
    return *registry::find<A>(&s)(&s);
}
Cell pick(Cell s, int n) { return *registry::find<Action::pick>(&s)(&s, n, nullptr); }
Cell poke(Cell s, int n, Cell v) { return *registry::find<Action::poke>(&s)(&s, n, &v, nullptr); }
Cell remove(Cell s, Cell* part = nullptr, Cell* key = nullptr) {
    return *registry::find<Action::remove>(&s)(&s, part, key);
}
Cell reverse(Cell s, Cell* part = nullptr, Cell* skip = nullptr) {
    return *registry::find<Action::reverse>(&s)(&s, part, skip);
}
Cell take(Cell s, Cell* part = nullptr, bool last = false) {
    return *registry::find<Action::take>(&s)(&s, part, false, last);
}
Cell copy(Cell s, Cell* part = nullptr) {
    Cell out;
    return *registry::find<Action::copy>(&s)(&s, &out, part, false, nullptr);
}
Cell move(Cell origin, Cell target, Cell* part = nullptr) {
    return *registry::find<Action::move>(&origin)(&origin, &target, part);
}
Cell pair(std::int32_t x, std::int32_t y) {
    return Cell{static_cast<std::uint32_t>(Type::pair), 0, static_cast<std::uint32_t>(x),
                static_cast<std::uint32_t>(y)};
}
std::int32_t index_of(Cell s) {
    const Cell i = nav<Action::index_q>(s);
    return series::int_of(&i);
}
bool truth(const Cell& c) { return logic::get(&c); }

TEST_F(Series, NavigationClampsAtBothEnds) {
    struct Case {
        const char* name;
        std::function<Cell(Cell)> step;
        const char* expected;
        std::int32_t index;
    } cases[] = {
        {"at 0", [](Cell s) { return at(s, 0); }, "[a b c]", 1},
        {"at 1", [](Cell s) { return at(s, 1); }, "[a b c]", 1},
        {"at 3", [](Cell s) { return at(s, 3); }, "[c]", 3},
        {"at 10", [](Cell s) { return at(s, 10); }, "[]", 4},
        {"at -5 from next", [](Cell s) { return at(at(s, 2), -5); }, "[a b c]", 1},
        {"at -1 from tail", [](Cell s) { return at(at(s, 4), -1); }, "[c]", 3},
        {"skip 0", [](Cell s) { return skip(s, 0); }, "[a b c]", 1},
        {"skip -1", [](Cell s) { return skip(s, -1); }, "[a b c]", 1},
        {"skip 2", [](Cell s) { return skip(s, 2); }, "[c]", 3},
        {"back of head", [](Cell s) { return nav<Action::back>(s); }, "[a b c]", 1},
        {"next of tail", [](Cell s) { return nav<Action::next>(nav<Action::tail>(s)); }, "[]", 4},
        {"back of tail", [](Cell s) { return nav<Action::back>(nav<Action::tail>(s)); }, "[c]", 3},
        {"head", [](Cell s) { return nav<Action::head>(at(s, 3)); }, "[a b c]", 1},
    };
    for (const Case& c : cases) {
        Cell r = c.step(value("[a b c]"));
        EXPECT_EQ(mold(r), c.expected) << c.name;
        EXPECT_EQ(index_of(r), c.index) << c.name;
    }
    Cell word = test::word_of("x");
    EXPECT_EQ(error_of([&] {
                  Cell s = value("[a]");
                  registry::find<Action::at>(&s)(&s, &word);
              }),
              ErrorId::script_invalid_arg);
}

TEST_F(Series, HeadPastTheShrunkTail) {
    Cell block = value("[a b c d]");
    Cell late = at(block, 4);
    nav<Action::clear>(at(block, 2));
    EXPECT_EQ(index_of(late), 4);
    EXPECT_FALSE(truth(nav<Action::head_q>(late)));
    EXPECT_TRUE(truth(nav<Action::tail_q>(late)));
    EXPECT_EQ(registry::find<Action::length_q>(&late)(&late), 0);
    EXPECT_EQ(series::head(&late), 1) << "length? moves the head back to the tail";
    EXPECT_EQ(pick(late, 1).type(), Type::none);
    EXPECT_EQ(mold(copy(late)), "[]");
}

TEST_F(Series, PickAndPoke) {
    Cell abc = value("[a b c]");
    EXPECT_TRUE(pick(abc, 0).is(Type::none));
    EXPECT_TRUE(pick(abc, -1).is(Type::none));
    EXPECT_TRUE(pick(abc, 4).is(Type::none));
    EXPECT_EQ(test::form(pick(at(abc, 2), -1)), "a");
    EXPECT_EQ(test::form(pick(at(abc, 2), 2)), "c");
    Cell text = test::string_of("abc");
    Cell b = pick(text, 2);
    EXPECT_TRUE(b.is(Type::char_));
    EXPECT_EQ(b.data2, 'b');

    poke(abc, 2, test::word_of("x"));
    EXPECT_EQ(mold(abc), "[a x c]");
    Cell wide;
    series::make_char(&wide, 0x3B1);
    poke(text, 1, wide);
    EXPECT_EQ(string::to_utf8(&text), "\xCE\xB1" "bc");

    struct Error {
        const char* name;
        Cell series;
        int index;
        Cell value;
        ErrorId id;
    } errors[] = {
        {"past the tail", abc, 4, integer(1), ErrorId::script_out_of_range},
        {"index 0", abc, 0, integer(1), ErrorId::script_out_of_range},
        {"before the head", abc, -1, integer(1), ErrorId::script_out_of_range},
        {"not a char", text, 1, integer(5), ErrorId::script_invalid_arg},
    };
    for (Error& e : errors)
        EXPECT_EQ(error_of([&] { poke(e.series, e.index, e.value); }), e.id) << e.name;
    EXPECT_EQ(mold(abc), "[a x c]");
}

TEST_F(Series, Remove) {
    Cell five = integer(5);
    Cell zero = integer(0);
    Cell two = integer(2);
    struct Case {
        const char* source;
        int start;
        Cell* part;
        const char* key;
        const char* result;
        const char* whole;
    } cases[] = {
        {"[a b c]", 1, nullptr, nullptr, "[b c]", "[b c]"},
        {"[a b c]", 2, nullptr, nullptr, "[c]", "[a c]"},
        {"[a b c]", 1, &five, nullptr, "[]", "[]"},
        {"[a b c]", 1, &zero, nullptr, "[a b c]", "[a b c]"},
        {"[a b c]", 2, &two, nullptr, "[]", "[a]"},
        {"[a b c]", 4, nullptr, nullptr, "[]", "[a b c]"},
        {"[a 1 b 2]", 1, nullptr, "b", "[]", "[a 1]"},
        {"[a 1 b 2 c 3]", 1, nullptr, "b", "[c 3]", "[a 1 c 3]"},
    };
    for (const Case& c : cases) {
        Cell block = value(c.source);
        Cell key = c.key ? test::word_of(c.key) : Cell{};
        Cell r = remove(at(block, c.start), c.part, c.key ? &key : nullptr);
        EXPECT_EQ(mold(r), c.result) << c.source << " " << c.start;
        EXPECT_EQ(mold(block), c.whole) << c.source << " " << c.start;
    }
    Cell block = value("[a b c d]");
    Cell until = at(block, 3);
    remove(block, &until);
    EXPECT_EQ(mold(block), "[c d]") << "a /part position of the same series";
    Cell missing = test::word_of("z");
    EXPECT_TRUE(remove(value("[a 1]"), nullptr, &missing).is(Type::none));
    Cell other = value("[x]");
    EXPECT_EQ(error_of([&] { remove(block, &other); }), ErrorId::script_invalid_refine_arg);
}

TEST_F(Series, Reverse) {
    Cell two = integer(2);
    Cell three = integer(3);
    Cell four = integer(4);
    struct Case {
        const char* source;
        Cell* part;
        Cell* skip;
        const char* expected;
    } cases[] = {
        {"[1 2 3 4]", nullptr, nullptr, "[4 3 2 1]"},
        {"[1 2 3 4 5]", nullptr, nullptr, "[5 4 3 2 1]"},
        {"[1 2 3 4]", nullptr, &two, "[3 4 1 2]"},
        {"[1 2 3 4 5 6]", nullptr, &two, "[5 6 3 4 1 2]"},
        {"[1 2 3]", &two, nullptr, "[2 1 3]"},
        {"[1 2 3 4]", nullptr, &four, "[1 2 3 4]"},
        {"[]", nullptr, nullptr, "[]"},
    };
    for (const Case& c : cases) {
        Cell block = value(c.source);
        reverse(block, c.part, c.skip);
        EXPECT_EQ(mold(block), c.expected) << c.source;
    }
    Cell text = test::string_of("abcd");
    reverse(text);
    EXPECT_EQ(string::to_utf8(&text), "dcba");

    Cell zero = integer(0);
    Cell word = test::word_of("x");
    Cell block = value("[1 2 3 4]");
    EXPECT_EQ(error_of([&] { reverse(block, nullptr, &three); }),
              ErrorId::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { reverse(block, nullptr, &zero); }), ErrorId::script_out_of_range);
    EXPECT_EQ(error_of([&] { reverse(block, nullptr, &word); }),
              ErrorId::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { reverse(block, &word); }), ErrorId::script_invalid_refine_arg);
    EXPECT_EQ(mold(block), "[1 2 3 4]");
}

TEST_F(Series, CopyPart) {
    Cell three = integer(3);
    Cell back2 = integer(-2);
    Cell back9 = integer(-9);
    Cell range = pair(2, 4);
    Cell low = pair(-1, 2);
    Cell huge = integer(100);
    struct Case {
        const char* source;
        int start;
        Cell* part;
        const char* expected;
    } cases[] = {
        {"[a b c d e f]", 1, &three, "[a b c]"},
        {"[a b c d e f]", 4, &back2, "[b c]"},
        {"[a b c d e f]", 3, &back9, "[a b]"},
        {"[a b c d e]", 1, &range, "[b c]"},
        {"[a b c d e]", 3, &low, "[b c d]"},
        {"[a b c]", 2, &huge, "[b c]"},
        {"[a b c]", 4, nullptr, "[]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mold(copy(at(value(c.source), c.start), c.part)), c.expected) << c.source;

    Cell text = test::string_of("abcdef");
    Cell part = at(text, 4);
    Cell piece = copy(text, &part);
    EXPECT_EQ(string::to_utf8(&piece), "abc");
    EXPECT_NE(piece.data2, text.data2);

    Cell marked = value("[x]");
    marked.header |= cell_flag::new_line;
    EXPECT_TRUE(copy(marked).header & cell_flag::new_line);
}

TEST_F(Series, Take) {
    Cell two = integer(2);
    Cell zero = integer(0);
    Cell back1 = integer(-1);
    struct Case {
        const char* source;
        int start;
        Cell* part;
        bool last;
        const char* taken;
        const char* left;
    } cases[] = {
        {"[1 2 3]", 1, nullptr, false, "1", "[2 3]"},
        {"[1 2 3]", 1, nullptr, true, "3", "[1 2]"},
        {"[a b c]", 2, nullptr, true, "c", "[a b]"},
        {"[1 2 3]", 1, &two, false, "[1 2]", "[3]"},
        {"[1 2 3]", 1, &two, true, "[2 3]", "[1]"},
        {"[1 2 3]", 2, &back1, false, "[1]", "[2 3]"},
        {"[1 2 3]", 2, &back1, true, "[]", "[1 2 3]"},
        {"[1 2 3]", 2, &zero, false, "[]", "[1 2 3]"},
        {"[]", 1, nullptr, false, "none", "[]"},
        {"[x]", 2, nullptr, false, "none", "[x]"},
    };
    for (const Case& c : cases) {
        Cell block = value(c.source);
        EXPECT_EQ(mold(take(at(block, c.start), c.part, c.last)), c.taken) << c.source << c.start;
        EXPECT_EQ(mold(block), c.left) << c.source << c.start;
    }
    Cell block = value("[a b c d]");
    Cell until = at(block, 3);
    EXPECT_EQ(mold(take(block, &until)), "[a b]");
    Cell text = test::string_of("xyz");
    Cell t = take(text, nullptr, true);
    EXPECT_TRUE(t.is(Type::char_));
    EXPECT_EQ(t.data2, 'z');
    Cell word = test::word_of("w");
    EXPECT_EQ(error_of([&] { take(block, &word); }), ErrorId::script_invalid_refine_arg);
}

TEST_F(Series, Move) {
    struct Case {
        const char* name;
        const char* source;
        int from;
        int count;  // 0: no /part
        int to;     // position in the same block
        const char* expected;
    } cases[] = {
        {"to the tail", "[a b c]", 1, 0, 4, "[b c a]"},
        {"after the unit at the target", "[a b c d]", 1, 0, 3, "[b c a d]"},
        {"two forwards", "[a b c d]", 1, 2, 3, "[c a b d]"},
        {"two to the tail", "[a b c d]", 1, 2, 5, "[c d a b]"},
        {"backwards", "[a b c d]", 3, 0, 1, "[c a b d]"},
        {"onto itself", "[a b c d]", 2, 0, 2, "[a b c d]"},
        {"into its own run", "[a b c d]", 1, 3, 2, "[a b c d]"},
        {"last to the tail", "[a b c d]", 4, 0, 5, "[a b c d]"},
    };
    for (const Case& c : cases) {
        Cell block = value(c.source);
        Cell n = integer(c.count);
        move(at(block, c.from), at(block, c.to), c.count ? &n : nullptr);
        EXPECT_EQ(mold(block), c.expected) << c.name;
    }
    Cell origin = value("[a b c]");
    Cell target = value("[x y]");
    Cell two = integer(2);
    Cell r = move(origin, at(target, 2), &two);
    EXPECT_EQ(mold(origin), "[c]");
    EXPECT_EQ(mold(target), "[x a b y]");
    EXPECT_EQ(mold(r), "[a b y]");

    Cell text = test::string_of("abc");
    EXPECT_EQ(error_of([&] { move(origin, integer(1)); }), ErrorId::script_expect_arg);
    EXPECT_EQ(error_of([&] { move(origin, text); }), ErrorId::script_move_bad);
    Cell other = test::string_of("xy");
    move(text, nav<Action::tail>(other));
    EXPECT_EQ(string::to_utf8(&other), "xya");
    EXPECT_EQ(string::to_utf8(&text), "bc");
}

TEST_F(Series, RandomShufflesAPermutationAndSeedsReproducibly) {
    Cell block = load("1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20");
    const std::string before = mold(block);
    auto shuffled = [&](bool seed_first) {
        Cell b = block;
        if (seed_first) {
            Cell s = b;
            EXPECT_TRUE(
                registry::find<Action::random>(&s)(&s, true, false, false)->is(Type::unset));
        }
        registry::find<Action::random>(&b)(&b, false, false, false);
        return mold(block);
    };
    const std::string once = shuffled(false);
    std::vector<std::int32_t> seen;
    for (std::int32_t i = 0; i < 20; ++i)
        seen.push_back(series::int_of(block::ks_abs_at(&block, i)));
    std::sort(seen.begin(), seen.end());
    for (std::int32_t i = 0; i < 20; ++i) EXPECT_EQ(seen[i], i + 1);
    EXPECT_NE(once, before);

    // Seeding hashes the content, so the same content reseeds the same way.
    Cell copy_of = copy(block);
    const std::string a = shuffled(true);
    Cell again = copy_of;
    Cell s = again;
    registry::find<Action::random>(&s)(&s, true, false, false);
    registry::find<Action::random>(&again)(&again, false, false, false);
    EXPECT_EQ(mold(again), a);

    Cell empty = value("[]");
    EXPECT_TRUE(registry::find<Action::random>(&empty)(&empty, false, false, true)->is(Type::none));
    Cell one = value("[x]");
    EXPECT_EQ(mold(*registry::find<Action::random>(&one)(&one, false, false, true)), "x");
}

TEST_F(Series, ReflectOwned) {
    Cell block = value("[a]");
    Cell field = test::word_of("owned");
    Cell r = block;
    EXPECT_TRUE(registry::find<Action::reflect>(&r)(&r, &field)->is(Type::none));
    // Any object-typed cell serves as the owner; its context is never read.
    Cell owner{static_cast<std::uint32_t>(Type::object), block.data2, 0, 0};
    Cell word = test::word_of("f");
    ownership::bind(&block, &owner, &word);
    r = block;
    Cell* found = registry::find<Action::reflect>(&r)(&r, &field);
    EXPECT_TRUE(found->is(Type::object) && found->data1 == block.data2);
    Cell other = test::word_of("size");
    r = block;
    EXPECT_EQ(error_of([&] { registry::find<Action::reflect>(&r)(&r, &other); }),
              ErrorId::internal_not_done);
}

}  // namespace
}  // namespace kiv
