// pair!, point2D! and point3D!: per-coordinate arithmetic and its move to
// points, comparison, conversions, paths, rounding and the one-operand
// actions.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/unit/scalar-support.h"

namespace kiv {

using namespace test;

namespace {

class Coordinates : public ScalarTest {};

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

template <Action A, class... Args>
Cell act(Cell v, Args... args) {
    return *registry::find<A>(&v)(&v, args...);
}

Cell path_get(Cell v, Cell element) {
    Cell path = none_value();
    return *registry::find<Action::eval_path>(&v)(&v, &element, nullptr, &path, nullptr, nullptr, 0,
                                                  false, true, true, false);
}

Cell path_set(Cell v, Cell element, Cell value) {
    Cell path = none_value();
    registry::find<Action::eval_path>(&v)(&v, &element, &value, &path, nullptr, nullptr, 0, false,
                                          false, true, false);
    return v;
}

TEST_F(Coordinates, ArithmeticPerCoordinate) {
    struct Case {
        Cell a;
        MathOp op;
        Cell b;
        const char* mold;
    } cases[] = {
        {xy(3, 4), MathOp::add, i(1), "4x5"},
        {xy(3, 4), MathOp::multiply, f(2.5), "(7.5, 10)"},
        {xy(3, 4), MathOp::multiply, pc(0.5), "(1.5, 2)"},
        {xy(4, 6), MathOp::divide, i(2), "2x3"},
        {xy(3, 4), MathOp::divide, i(2), "(1.5, 2)"},
        {xy(3, 4), MathOp::divide, f(0.0), "(1.#INF, 1.#INF)"},
        {xy(3, 4), MathOp::add, f(1.7), "4x5"},
        {xy(3, 4), MathOp::subtract, xy(1, 1), "2x3"},
        {xy(7, 9), MathOp::remainder, i(2), "1x1"},
        {xy(2147483647, 0), MathOp::add, xy(1, 0), "(2.147484e9, 0)"},
        {xy(12, 10), MathOp::and_, xy(6, 3), "4x2"},
        {xy(12, 10), MathOp::or_, xy(6, 3), "14x11"},
        {xy(12, 10), MathOp::xor_, xy(6, 3), "10x9"},
        {xy(3, 4), MathOp::add, p2(1, 2), "(4, 6)"},
        // The number on the left: integer! and float! hand over to the pair.
        {i(1), MathOp::add, xy(3, 4), "4x5"},
        {i(10), MathOp::subtract, xy(3, 4), "7x6"},
        {f(2.5), MathOp::multiply, xy(3, 4), "(7.5, 10)"},
        {p2(1, 2), MathOp::add, xy(1, 1), "(2, 3)"},
        {p2(1, 2), MathOp::multiply, i(2), "(2, 4)"},
        {p2(1, 2), MathOp::multiply, f(0.5), "(0.5, 1)"},
        {p2(7, 2.5), MathOp::remainder, i(2), "(1, 0.5)"},
        {p2(1, 1), MathOp::divide, f(3), "(0.3333333, 0.3333333)"},
        {p3(1, 2, 3), MathOp::subtract, i(1), "(0, 1, 2)"},
        {p3(1, 2, 3), MathOp::add, p3(1, 1, 1), "(2, 3, 4)"},
        {i(1), MathOp::add, p3(1, 2, 3), "(2, 3, 4)"},
    };
    for (const Case& c : cases) EXPECT_EQ(math_mold(c.a, c.op, c.b), c.mold) << c.mold;
}

TEST_F(Coordinates, ArithmeticErrors) {
    struct Case {
        Cell a;
        MathOp op;
        Cell b;
        ErrorId error;
    } cases[] = {
        {xy(3, 4), MathOp::divide, i(0), ErrorId::math_zero_divide},
        {xy(3, 4), MathOp::remainder, xy(1, 0), ErrorId::math_zero_divide},
        {xy(3, 4), MathOp::add, ch('A'), ErrorId::script_invalid_type},
        {xy(3, 4), MathOp::add, p3(1, 2, 3), ErrorId::script_invalid_type},
        {xy(3, 4), MathOp::multiply, f(inf), ErrorId::script_invalid_arg},
        {xy(3, 4), MathOp::divide, f(nan), ErrorId::script_invalid_arg},
        {xy(3, 4), MathOp::add, f(inf), ErrorId::script_invalid_arg},
        {xy(3, 4), MathOp::add, f(1e10), ErrorId::script_invalid_arg},
        {i(10), MathOp::divide, xy(3, 4), ErrorId::script_not_related},
        {p2(1, 2), MathOp::add, p3(1, 2, 3), ErrorId::script_invalid_type},
        {p3(1, 2, 3), MathOp::add, xy(1, 2), ErrorId::script_invalid_type},
        {p2(1, 2), MathOp::and_, i(1), ErrorId::script_expect_arg},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(error_of([&] { math(c.a, c.op, c.b); }), c.error) << static_cast<int>(c.op);
    }
}

TEST_F(Coordinates, Comparison) {
    struct Case {
        Cell a;
        Cell b;
        CompareOp op;
        int result;
    } cases[] = {
        {xy(1, 2), xy(1, 3), CompareOp::lesser, -1},
        {xy(2, 0), xy(1, 9), CompareOp::greater, 1},
        {xy(-1, 5), xy(1, 0), CompareOp::lesser, -1},
        {xy(1, 2), xy(1, 2), CompareOp::strict_equal, 0},
        {xy(1, 2), i(1), CompareOp::equal, not_comparable},
        {xy(1, 2), p2(1, 2), CompareOp::equal, 0},
        {p2(1, 2), xy(1, 2), CompareOp::equal, 0},
        {p2(1, 2), p2(1, 3), CompareOp::lesser, -1},
        {p2(1, 2), p2(0.5, 3), CompareOp::lesser, 1},
        {p3(1, 2, 3), p3(1, 2, 2), CompareOp::greater, 1},
        {p3(1, 2, 3), p2(1, 2), CompareOp::equal, not_comparable},
        {p2(1, 2), p3(1, 2, 0), CompareOp::equal, not_comparable},
        // Near-equal floats are equal, but neither strictly equal nor the same.
        {p2(1, 2), p2(std::nextafter(1.0f, 2.0f), 2), CompareOp::equal, 0},
        {p2(1, 2), p2(std::nextafter(1.0f, 2.0f), 2), CompareOp::strict_equal, 1},
        {p2(0.0, 2), p2(-0.0, 2), CompareOp::strict_equal, 0},
        {p2(0.0, 2), p2(-0.0, 2), CompareOp::same, 1},
        {p2(nan, 2), p2(nan, 2), CompareOp::equal, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(compare(c.a, c.b, c.op), c.result) << mold(c.a) << " " << mold(c.b);
    }
}

TEST_F(Coordinates, MakeAndTo) {
    Cell bad_block = block_of({i(1), word_of("a")});
    struct Case {
        Type type;
        Cell spec;
        const char* mold;
    } cases[] = {
        {Type::pair, block_of({f(1.9), f(-1.9)}), "1x-1"},
        {Type::pair, block_of({i(3), i(4), i(5)}), "3x4"},
        {Type::pair, i(5), "5x5"},
        {Type::pair, f(-2.7), "-2x-2"},
        {Type::pair, p2(1.5, -2.5), "1x-2"},
        {Type::pair, string_of(" 3x4 "), "3x4"},
        {Type::point2d, block_of({i(1), f(2.5)}), "(1, 2.5)"},
        {Type::point2d, i(3), "(3, 3)"},
        {Type::point2d, xy(1, 2), "(1, 2)"},
        {Type::point2d, string_of("(1.5, -2)"), "(1.5, -2)"},
        {Type::point3d, xy(1, 2), "(1, 2, 0)"},
        {Type::point3d, p2(1, 2), "(1, 2, 0)"},
        {Type::point3d, f(0.25), "(0.25, 0.25, 0.25)"},
        {Type::point3d, block_of({i(1), i(2), i(3)}), "(1, 2, 3)"},
        {Type::point3d, string_of("(1, 2, 3)"), "(1, 2, 3)"},
    };
    for (const Case& c : cases) {
        Cell proto = datatype_of(c.type);
        Cell spec = c.spec;
        EXPECT_EQ(mold(*registry::row(c.type).make(&proto, &spec, c.type)), c.mold) << c.mold;
    }
    struct Failure {
        Type type;
        Cell spec;
        ErrorId error;
    } failures[] = {
        {Type::pair, block_of({i(1)}), ErrorId::syntax_malconstruct},
        {Type::pair, bad_block, ErrorId::syntax_malconstruct},
        {Type::pair, string_of("3.4"), ErrorId::script_bad_to_arg},
        {Type::pair, string_of("3x4 5"), ErrorId::script_bad_to_arg},
        {Type::pair, p2(inf, 0), ErrorId::script_invalid_arg},
        {Type::pair, tup({1, 2, 3}), ErrorId::script_bad_to_arg},
        {Type::point2d, p3(1, 2, 3), ErrorId::script_bad_to_arg},
        {Type::point2d, string_of("1x2"), ErrorId::script_bad_to_arg},
        {Type::point3d, block_of({i(1), i(2)}), ErrorId::syntax_malconstruct},
        {Type::point3d, string_of("(1, 2)"), ErrorId::script_bad_to_arg},
    };
    for (const Failure& c : failures) {
        Cell proto = datatype_of(c.type);
        Cell spec = c.spec;
        EXPECT_EQ(error_of([&] { registry::row(c.type).to(&proto, &spec, c.type); }), c.error)
            << mold(c.spec);
    }
}

TEST_F(Coordinates, PathsAndPick) {
    EXPECT_EQ(mold(path_get(xy(3, 4), word_of("y"))), "4");
    EXPECT_EQ(mold(path_get(xy(3, 4), i(1))), "3");
    EXPECT_EQ(mold(path_set(xy(3, 4), word_of("x"), i(-9))), "-9x4");
    EXPECT_EQ(error_of([] { path_get(xy(3, 4), i(3)); }), ErrorId::script_invalid_path);
    EXPECT_EQ(error_of([] { path_get(xy(3, 4), word_of("z")); }), ErrorId::script_invalid_path);
    EXPECT_EQ(error_of([] { path_set(xy(3, 4), i(1), f(1.5)); }), ErrorId::script_invalid_type);

    // A point coordinate written as an integer reads back as a float.
    const Cell x = path_get(path_set(p2(1, 2), word_of("x"), i(3)), word_of("x"));
    EXPECT_TRUE(x.is(Type::float_));
    EXPECT_EQ(float_::get(&x), 3.0);
    EXPECT_EQ(mold(path_set(p3(1, 2, 3), i(3), f(0.5))), "(1, 2, 0.5)");
    EXPECT_EQ(error_of([] { path_get(p2(1, 2), word_of("z")); }), ErrorId::script_invalid_path);
    EXPECT_EQ(error_of([] { path_set(p2(1, 2), i(1), xy(1, 1)); }), ErrorId::script_invalid_type);

    EXPECT_EQ(mold(act<Action::pick>(xy(3, 4), 2, nullptr)), "4");
    EXPECT_EQ(mold(act<Action::pick>(p3(1, 2, 3.5), 3, nullptr)), "3.5");
    EXPECT_EQ(error_of([] { act<Action::pick>(xy(3, 4), 0, nullptr); }), ErrorId::script_out_of_range);
    EXPECT_EQ(error_of([] { act<Action::pick>(p2(1, 2), 3, nullptr); }), ErrorId::script_out_of_range);
}

TEST_F(Coordinates, Rounding) {
    Cell scale_pair = xy(5, 10);
    Cell scale_float = f(2.5);
    Cell scale_point = p2(0.5, 1);
    Cell scale_money{static_cast<std::uint32_t>(Type::money), 0, 0, 0};
    const auto round = [](Cell v, Cell* scale, bool floor = false) {
        return mold(act<Action::round>(v, scale, false, false, false, floor, false, false));
    };
    EXPECT_EQ(round(xy(7, 12), &scale_pair), "5x10");
    EXPECT_EQ(round(xy(7, 13), &scale_float), "7x12");
    EXPECT_EQ(round(xy(-7, 7), nullptr), "-7x7");
    EXPECT_EQ(round(p2(1.4, -2.5), nullptr), "(1, -3)");
    EXPECT_EQ(round(p2(1.4, 2.6), nullptr, true), "(1, 2)");
    EXPECT_EQ(round(p2(1.26, 3.3), &scale_point), "(1.5, 3)");
    EXPECT_EQ(round(p2(1.26, 3.3), &scale_pair), "(0, 0)");
    // A point2D! scale leaves the z of a point3D! alone.
    EXPECT_EQ(round(p3(1.26, 3.3, 7.7), &scale_point), "(1.5, 3, 7.7)");
    EXPECT_EQ(error_of([&] { round(xy(1, 2), &scale_money); }), ErrorId::script_not_related);
    EXPECT_EQ(error_of([&] { round(p3(1, 2, 3), &scale_pair); }), ErrorId::script_invalid_type);
}

TEST_F(Coordinates, OneOperandActions) {
    EXPECT_EQ(mold(act<Action::reverse>(xy(1, 2), nullptr, nullptr)), "2x1");
    EXPECT_EQ(mold(act<Action::reverse>(p3(1, 2, 3), nullptr, nullptr)), "(3, 2, 1)");
    EXPECT_EQ(mold(act<Action::negate>(xy(-2147483647 - 1, 3))), "-2147483648x-3");
    EXPECT_EQ(mold(act<Action::negate>(p2(0, 1))), "(0, -1)");
    EXPECT_EQ(mold(act<Action::absolute>(xy(-1, 2))), "1x2");
    EXPECT_EQ(mold(act<Action::absolute>(p2(-1.5, 2))), "(1.5, 2)");
    EXPECT_EQ(error_of([] { act<Action::absolute>(xy(-2147483647 - 1, 0)); }), ErrorId::math_overflow);

    // Zero coordinates draw nothing; the others stay within their range.
    for (int n = 0; n < 20; ++n) {
        const Cell r = act<Action::random>(xy(5, 0), false, false, false);
        EXPECT_GE(pair::x(&r), 1);
        EXPECT_LE(pair::x(&r), 5);
        EXPECT_EQ(pair::y(&r), 0);
        const Cell q = act<Action::random>(p2(0, -2), false, false, false);
        EXPECT_EQ(point::get(&q, 0), 0.0f);
        EXPECT_LE(point::get(&q, 1), 0.0f);
        EXPECT_GE(point::get(&q, 1), -2.0f);
    }
    EXPECT_TRUE(act<Action::random>(xy(5, 0), true, false, false).is(Type::unset));
    EXPECT_TRUE(act<Action::random>(p2(1, 2), true, false, false).is(Type::unset));
}

TEST_F(Coordinates, FormKeepsTheBudget) {
    Cell out;
    string::make_at(&out, 16);
    Cell v = xy(-5, -7);
    EXPECT_EQ(registry::find<Action::form>(&v)(&v, &out, nullptr, 10), 5);
    Cell p = p3(1.5, 2, -0.25);
    EXPECT_EQ(registry::find<Action::mold>(&p)(&p, &out, false, false, false, nullptr, 30, 0), 15);
    EXPECT_EQ(string::to_utf8(&out), "-5x-7(1.5, 2, -0.25)");
}

}  // namespace
}  // namespace kiv
