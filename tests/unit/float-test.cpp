#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "runtime/datatypes/float.h"
#include "runtime/fire.h"

namespace kiv {

namespace {

template <class F>
ErrorId fired(F&& f) {
    try {
        f();
    } catch (const KivError& e) {
        return e.id;
    }
    return ErrorId::count_;
}

constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::nan("");

// Runs with pretty forming set as asked, restoring it afterwards.
struct PrettyScope {
    bool saved = float_::pretty_print;
    explicit PrettyScope(bool on) { float_::pretty_print = on; }
    ~PrettyScope() { float_::pretty_print = saved; }
};

}  // namespace

TEST(Float, FormByKind) {
    using K = float_::Kind;
    struct Case { double d; K kind; const char* text; };
    const Case cases[] = {
        {0.1 + 0.2, K::float64, "0.3"},
        {1e16, K::float64, "1.0e16"},
        {1.0e17, K::float64, "1.0e17"},
        {1e15, K::float64, "1000000000000000.0"},
        {100.0, K::float64, "100.0"},
        {1e20, K::float64, "1.0e20"},
        {1.5e-8, K::float64, "1.5e-8"},
        {-123.456, K::float64, "-123.456"},
        {1.0 / 3.0, K::float64, "0.3333333333333333"},
        {4.35 * 100, K::float64, "435.0"},       // 434.99999999999994
        {1.1 * 1.1, K::float64, "1.21"},
        {1e-300, K::float64, "0.0"},
        {-0.0, K::float64, "0.0"},
        {inf, K::float64, "1.#INF"},
        {-inf, K::percent64, "-1.#INF"},
        {nan, K::float64, "1.#NaN"},
        {-nan, K::point, "1.#NaN"},
        {0.05 * 100, K::percent64, "5%"},
        {0.125 * 100, K::percent64, "12.5%"},
        {0.0, K::percent64, "0%"},
        {1e20, K::percent64, "1e20%"},
        {2.0, K::point, "2"},
        {2.5, K::point, "2.5"},
        {static_cast<double>(0.1f), K::float32, "0.1"},
        {1.5, K::seconds, "1.5"},
        {59.9999999, K::seconds, "60"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(float_::form_float(c.d, c.kind), c.text) << c.d << " kind " << int(c.kind);
    }
}

TEST(Float, FormWithoutPrettyPrinting) {
    PrettyScope plain(false);
    EXPECT_STREQ(float_::form_float(1e-300, float_::Kind::float64), "1.0e-300");
    EXPECT_STREQ(float_::form_float(4.35 * 100, float_::Kind::float64), "434.9999999999999");
    EXPECT_STREQ(float_::form_float(-0.0, float_::Kind::float64), "-0.0");
    EXPECT_STREQ(float_::form_float(0.0, float_::Kind::percent64), "0%");
}

TEST(Float, NearEquality) {
    struct Case { double a, b; bool equal; };
    const Case cases[] = {
        {0.1 + 0.2, 0.3, true},
        {1.0, std::nextafter(1.0, 2.0), true},
        {1e300, 1e300 * (1 + 10 * DBL_EPSILON / 2), true},
        {1.0, 1.0001, false},
        {0.0, -0.0, true},
        {1e-20, -1e-20, true},      // closer than epsilon
        {nan, nan, false},
        {nan, 1.0, false},
        {inf, inf, true},
        {inf, DBL_MAX, false},
        {inf, -inf, false},
    };
    for (const Case& c : cases) EXPECT_EQ(float_::equal_q(c.a, c.b), c.equal) << c.a << " " << c.b;
    double x = 1234.5678;
    double y = x;
    for (int i = 0; i < 10; ++i) y = std::nextafter(y, 2e9);
    EXPECT_TRUE(float_::equal_q(x, y));
    EXPECT_FALSE(float_::equal_q(x, std::nextafter(y, 2e9)));
}

TEST(Float, NearEquality32) {
    struct Case { float a, b; bool equal; };
    const float big = std::numeric_limits<float>::max();
    const float finf = std::numeric_limits<float>::infinity();
    const Case cases[] = {
        {1.0f, 1.0f, true},
        {1.0f, std::nextafter(1.0f, 2.0f), true},
        {1.0f, 1.001f, false},
        {big, finf, true},
        {big, -big, false},
        {std::nanf(""), std::nanf(""), false},
    };
    for (const Case& c : cases) EXPECT_EQ(float_::equal32_q(c.a, c.b), c.equal) << c.a << " " << c.b;
}

TEST(Float, CompareByOp) {
    const Cell one_int = integer::make_cell(1);
    const Cell one = float_::make_cell(1.0);
    const Cell near_third = float_::make_cell(0.1 + 0.2);
    const Cell not_a_number = float_::make_cell(nan);
    const Cell percent = float_::make_cell(1.0, Type::percent);
    const Cell text{static_cast<std::uint32_t>(Type::string), 0, 0, 0};
    struct Case { double a; Type type; const Cell* other; int op; int result; };  // op: CompareOp code
    const Case cases[] = {
        {1.0, Type::float_, &one_int, 0, 0},     // 1.0 = 1
        {1.0, Type::float_, &one_int, 2, 1},     // strict: datatypes differ
        {1.0, Type::integer, &one, 2, 1},
        {1.0, Type::integer, &one, 9, 1},
        {0.3, Type::float_, &near_third, 0, 0},
        {0.3, Type::float_, &near_third, 1, 0},  // not-equal? answers through 0/1
        {0.3, Type::float_, &near_third, 2, 1},
        {0.3, Type::float_, &near_third, 3, -1},
        {nan, Type::float_, &not_a_number, 0, 1},
        {nan, Type::float_, &one, 3, 1},         // lesser? false
        {nan, Type::float_, &one, 4, 1},
        {nan, Type::float_, &one, 5, -1},        // greater? false
        {nan, Type::float_, &one, 7, 0},
        {1.0, Type::float_, &percent, 0, 0},
        {1.0, Type::float_, &percent, 12, 1},
        {2.0, Type::float_, &one, 5, 1},
        {1.0, Type::float_, &text, 3, -2},
        {1.0, Type::float_, &text, 2, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(float_::compare_double(c.a, c.type, c.other, CompareOp(c.op)), c.result)
            << c.a << " op " << c.op;
    }
}

TEST(Float, ArithmeticGivesInfinitiesAndNaN) {
    struct Case { double a, b; MathOp op; double result; };
    const Case cases[] = {
        {1.0, 0.0, MathOp::divide, inf},     {-1.0, 0.0, MathOp::divide, -inf},
        {0.0, 0.0, MathOp::divide, nan},     {5.5, 2.0, MathOp::remainder, 1.5},
        {-5.5, 2.0, MathOp::remainder, -1.5}, {1.0, inf, MathOp::remainder, 1.0},
        {inf, 2.0, MathOp::remainder, nan},  {1.0, nan, MathOp::remainder, nan},
        {1.0, 0.0, MathOp::remainder, nan},  {DBL_MAX, DBL_MAX, MathOp::add, inf},
    };
    for (const Case& c : cases) {
        const double r = float_::do_math_op(c.a, c.b, c.op);
        if (std::isnan(c.result)) {
            EXPECT_TRUE(std::isnan(r)) << c.a << " op" << int(c.op) << " " << c.b;
        } else {
            EXPECT_EQ(r, c.result) << c.a << " op" << int(c.op) << " " << c.b;
        }
    }
}

TEST(Float, RoundToScale) {
    RoundMode plain, even, down, half_down, floor, ceiling, half_ceiling;
    even.even = true;
    down.down = true;
    half_down.half_down = true;
    floor.floor = true;
    ceiling.ceiling = true;
    half_ceiling.half_ceiling = true;
    struct Case { double d, scale; RoundMode mode; double result; };
    const Case cases[] = {
        {2.5, 1, plain, 3.0},          {-2.5, 1, plain, -3.0},        {2.5, 1, even, 2.0},
        {3.5, 1, even, 4.0},           {-2.5, 1, even, -2.0},         {2.5, 1, half_down, 2.0},
        {-2.5, 1, half_down, -2.0},    {2.5, 1, half_ceiling, 3.0},   {-2.5, 1, half_ceiling, -2.0},
        {2.7, 1, down, 2.0},           {-2.7, 1, down, -2.0},         {-2.2, 1, floor, -3.0},
        {2.7, 1, floor, 2.0},          {2.2, 1, ceiling, 3.0},        {-2.7, 1, ceiling, -2.0},
        {2.4, 1, half_ceiling, 2.0},   {1.2345, 0.01, plain, 1.23},   {7.3, 2, plain, 8.0},
        {0.3, 0.1, plain, 0.3},        {1250, 100, even, 1200},       {0.49999999999999994, 1, plain, 0.0},
        {1e300, 1, plain, 1e300},      {inf, 1, plain, inf},          {3.0, 1, plain, 3.0},
        {5e-310, 4e-310, plain, 4e-310}, {0.0, 0.0, plain, 0.0},       {2.5, 0.0, plain, 2.5},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(float_::round_to(c.d, c.scale, c.mode), c.result) << c.d << " to " << c.scale;
    }
    EXPECT_EQ(fired([&] { float_::round_to(1.7e308, 1e308, plain); }), ErrorId::math_overflow);
}

}  // namespace kiv
