// tuple! and triple!: making, clamping byte arithmetic, comparison, paths,
// reverse and the text form.
#include <gtest/gtest.h>

#include "tests/unit/scalar-support.h"

namespace kiv {

using namespace test;

namespace {

class Tuples : public ScalarTest {};

template <Action A, class... Args>
Cell act(Cell v, Args... args) {
    return *registry::find<A>(&v)(&v, args...);
}

Cell make_tuple(Cell spec) {
    Cell proto = datatype_of(Type::tuple);
    return *registry::row(Type::tuple).make(&proto, &spec, Type::tuple);
}

Cell path_set(Cell v, Cell element, Cell value) {
    Cell path = none_value();
    registry::find<Action::eval_path>(&v)(&v, &element, &value, &path, nullptr, nullptr, 0, false,
                                          false, true, false);
    return v;
}

TEST_F(Tuples, Making) {
    struct Case {
        Cell spec;
        const char* mold;
    } cases[] = {
        {block_of({i(1), i(2)}), "1.2.0"},
        {block_of({}), "0.0.0"},
        {block_of({f(1.9), ch('A'), i(255), i(0)}), "1.65.255.0"},
        {word_of("F0A", Type::issue), "255.0.170"},
        {word_of("ff0000", Type::issue), "255.0.0"},
        {word_of("FF000080", Type::issue), "255.0.0.128"},
        {bin({1, 2, 3, 4}), "1.2.3.4"},
        {bin({9}), "9.0.0"},
        {bin({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}), "1.2.3.4.5.6.7.8.9.10.11.12"},
        {string_of("1.2.3"), "1.2.3"},
        {tup({7, 8, 9}), "7.8.9"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(make_tuple(c.spec)), c.mold) << c.mold;

    Cell thirteen = block_of({i(1), i(2), i(3), i(4), i(5), i(6), i(7), i(8), i(9), i(10), i(11), i(12), i(13)});
    struct Failure {
        Cell spec;
        ErrorId error;
    } failures[] = {
        {thirteen, ErrorId::script_bad_to_arg},
        {block_of({i(256)}), ErrorId::script_bad_to_arg},
        {block_of({i(-1)}), ErrorId::script_bad_to_arg},
        {block_of({xy(1, 2)}), ErrorId::script_bad_to_arg},
        {string_of("1x2"), ErrorId::script_bad_to_arg},
        {i(1), ErrorId::script_bad_to_arg},
        {word_of("FF00", Type::issue), ErrorId::script_invalid_data},
        {word_of("FGA", Type::issue), ErrorId::script_invalid_data},
        {word_of("F\xC3\xA9", Type::issue), ErrorId::script_invalid_data},
    };
    for (const Failure& c : failures) EXPECT_EQ(error_of([&] { make_tuple(c.spec); }), c.error) << mold(c.spec);
}

TEST_F(Tuples, ArithmeticClamps) {
    struct Case {
        Cell a;
        MathOp op;
        Cell b;
        const char* mold;
    } cases[] = {
        {tup({200, 100, 50}), MathOp::add, i(100), "255.200.150"},
        {tup({1, 2, 3}), MathOp::subtract, i(5), "0.0.0"},
        {i(10), MathOp::add, tup({1, 2, 3}), "11.12.13"},
        {tup({1, 2, 3}), MathOp::add, tup({1, 1, 1, 1}), "2.3.4.1"},
        {tup({1, 2, 3, 4}), MathOp::subtract, tup({1, 1, 1}), "0.1.2.4"},
        {tup({100, 100, 100}), MathOp::multiply, f(0.5), "50.50.50"},
        {tup({3, 3, 3}), MathOp::multiply, f(0.5), "1.1.1"},
        {tup({10, 20, 30}), MathOp::multiply, pc(0.5), "5.10.15"},
        {f(2.5), MathOp::multiply, tup({2, 4, 6}), "5.10.15"},
        {tup({1, 2, 3}), MathOp::multiply, i(2000000000), "255.255.255"},
        {tup({1, 2, 3}), MathOp::add, i(2147483647), "255.255.255"},
        {tup({1, 2, 3}), MathOp::multiply, i(-1), "0.0.0"},
        {tup({7, 8, 9}), MathOp::divide, i(2), "3.4.4"},
        {tup({7, 8, 9}), MathOp::remainder, i(4), "3.0.1"},
        {tup({1, 2, 3}), MathOp::or_, i(4), "5.6.7"},
        {tup({255, 15, 3}), MathOp::and_, tup({15, 15}), "15.15.0"},
        {tup({1, 2, 3}), MathOp::xor_, i(-1), "0.0.0"},
        {tup({1, 2, 3}), MathOp::add, f(-1e300), "0.0.0"},
    };
    for (const Case& c : cases) EXPECT_EQ(math_mold(c.a, c.op, c.b), c.mold) << c.mold;

    struct Failure {
        Cell a;
        MathOp op;
        Cell b;
        ErrorId error;
    } failures[] = {
        {tup({1, 2, 3, 4}), MathOp::divide, tup({1, 2, 3}), ErrorId::math_zero_divide},
        {tup({1, 2, 3}), MathOp::remainder, i(0), ErrorId::math_zero_divide},
        {i(10), MathOp::subtract, tup({1, 2, 3}), ErrorId::script_not_related},
        {i(10), MathOp::remainder, tup({1, 2, 3}), ErrorId::script_not_related},
        {f(10), MathOp::divide, tup({1, 2, 3}), ErrorId::script_not_related},
        {f(10), MathOp::remainder, tup({1, 2, 3}), ErrorId::script_not_related},
        {tup({1, 2, 3}), MathOp::add, xy(1, 2), ErrorId::script_invalid_type},
        {tup({1, 2, 3}), MathOp::or_, f(1.0), ErrorId::script_cannot_use},
    };
    for (const Failure& c : failures) {
        EXPECT_EQ(error_of([&] { math(c.a, c.op, c.b); }), c.error) << static_cast<int>(c.op);
    }
}

TEST_F(Tuples, ComparisonByBytes) {
    EXPECT_EQ(compare(tup({1, 2, 3}), tup({1, 2, 3, 0}), CompareOp::equal), 0);
    EXPECT_EQ(compare(tup({1, 2, 3}), tup({1, 2, 3, 1}), CompareOp::lesser), -1);
    EXPECT_EQ(compare(tup({1, 200, 3}), tup({1, 100, 9}), CompareOp::greater), 1);
    EXPECT_EQ(compare(tup({1, 2, 3}), xy(1, 2), CompareOp::equal), not_comparable);
}

TEST_F(Tuples, PathsPokeAndCut) {
    struct Case {
        Cell tuple;
        Cell index;
        Cell value;
        const char* mold;
    } cases[] = {
        {tup({1, 2, 3, 4}), i(2), none_value(), "1.0.0"},
        {tup({1, 2, 3, 4}), i(4), none_value(), "1.2.3"},
        {tup({1, 2, 3, 4, 5}), i(5), none_value(), "1.2.3.4"},
        {tup({1, 2, 3}), i(1), i(300), "255.2.3"},
        {tup({1, 2, 3}), i(3), i(-4), "1.2.0"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(path_set(c.tuple, c.index, c.value)), c.mold) << c.mold;
    // A cut tuple grows back with zeros, not with the bytes it had.
    const Cell cut = path_set(tup({1, 2, 3, 4}), i(2), none_value());
    EXPECT_EQ(math_mold(cut, MathOp::add, tup({0, 0, 0, 0})), "1.0.0.0");

    EXPECT_EQ(error_of([] { path_set(tup({1, 2, 3}), i(4), i(1)); }), ErrorId::script_out_of_range);
    EXPECT_EQ(error_of([] { path_set(tup({1, 2, 3}), word_of("x"), i(1)); }), ErrorId::script_invalid_type);
    EXPECT_EQ(error_of([] { path_set(tup({1, 2, 3}), i(1), f(1.0)); }), ErrorId::script_invalid_type);
    EXPECT_EQ(mold(act<Action::pick>(tup({1, 2, 3}), 3, nullptr)), "3");
    EXPECT_EQ(error_of([] { act<Action::pick>(tup({1, 2, 3}), 0, nullptr); }), ErrorId::script_out_of_range);
}

TEST_F(Tuples, Reverse) {
    Cell two = i(2);
    Cell four = i(4);
    Cell zero = i(0);
    Cell minus = i(-1);
    Cell word = word_of("a");
    Cell six = tup({1, 2, 3, 4, 5, 6});
    EXPECT_EQ(mold(act<Action::reverse>(six, nullptr, nullptr)), "6.5.4.3.2.1");
    EXPECT_EQ(mold(act<Action::reverse>(six, nullptr, &two)), "5.6.3.4.1.2");
    EXPECT_EQ(mold(act<Action::reverse>(six, &two, nullptr)), "2.1.3.4.5.6");
    EXPECT_EQ(mold(act<Action::reverse>(six, &two, &two)), "1.2.3.4.5.6");
    EXPECT_EQ(error_of([&] { act<Action::reverse>(six, nullptr, &four); }), ErrorId::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { act<Action::reverse>(six, nullptr, &zero); }), ErrorId::script_out_of_range);
    EXPECT_EQ(error_of([&] { act<Action::reverse>(six, &minus, nullptr); }), ErrorId::script_out_of_range);
    EXPECT_EQ(error_of([&] { act<Action::reverse>(six, &word, nullptr); }), ErrorId::script_invalid_refine_arg);
}

TEST_F(Tuples, OtherActions) {
    EXPECT_EQ(mold(act<Action::complement>(tup({0, 255, 16}))), "255.0.239");
    Cell four = tup({1, 2, 3, 4});
    EXPECT_EQ(registry::find<Action::length_q>(&four)(&four), 4);
    const Cell zero = tup({0, 0, 0, 0});
    EXPECT_TRUE(tuple::zero_q(&zero));
    EXPECT_FALSE(tuple::zero_q(&four));
    for (int n = 0; n < 20; ++n) {
        const Cell r = act<Action::random>(tup({0, 3, 255}), false, false, false);
        EXPECT_EQ(tuple::bytes(&r)[0], 0);
        EXPECT_LE(tuple::bytes(&r)[1], 3);
    }
    EXPECT_TRUE(act<Action::random>(tup({1, 2, 3}), true, false, false).is(Type::unset));

    Cell out;
    string::make_at(&out, 16);
    Cell v = tup({255, 128, 0, 64});
    EXPECT_EQ(registry::find<Action::form>(&v)(&v, &out, nullptr, 20), 8);
    EXPECT_EQ(string::to_utf8(&out), "255.128.0.64");
}

TEST_F(Tuples, TripleFormsAsItsConstruction) {
    Cell t{0, 0, 0, 0};
    triple::make_at(&t, 1, 2, -3);
    Cell out;
    string::make_at(&out, 16);
    EXPECT_EQ(registry::find<Action::mold>(&t)(&t, &out, false, false, false, nullptr, 30, 0), 9);
    EXPECT_EQ(string::to_utf8(&out), "make triple! [1 2 -3]");
    EXPECT_EQ(form(t), "make triple! [1 2 -3]");
    EXPECT_EQ(error_of([&] { compare(t, t, CompareOp::equal); }), ErrorId::script_expect_arg);
}

}  // namespace
}  // namespace kiv
