#include <gtest/gtest.h>

#include <string>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
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

constexpr std::int32_t min = integer::min_value;
constexpr std::int32_t max = integer::max_value;

}  // namespace

TEST(Integer, ArithmeticStaysIntegerOrTurnsFloat) {
    struct Case {
        std::int32_t a, b;
        MathOp op;
        Type type;
        double value;
    };
    const Case cases[] = {
        {max, 1, MathOp::add, Type::float_, 2147483648.0},
        {min, -1, MathOp::subtract, Type::integer, -2147483647},
        {min, 1, MathOp::subtract, Type::float_, -2147483649.0},
        {65536, 65536, MathOp::multiply, Type::float_, 4294967296.0},
        {min, -1, MathOp::multiply, Type::float_, 2147483648.0},
        {max, 0, MathOp::add, Type::integer, max},
        {-5, 3, MathOp::multiply, Type::integer, -15},
        {7, 2, MathOp::divide, Type::float_, 3.5},
        {-7, 2, MathOp::divide, Type::float_, -3.5},
        {8, 2, MathOp::divide, Type::integer, 4},
        {min, 2, MathOp::divide, Type::integer, -1073741824},
        {-7, 2, MathOp::remainder, Type::integer, -1},
        {7, -2, MathOp::remainder, Type::integer, 1},
        {min, 1, MathOp::remainder, Type::integer, 0},
        {12, 3, MathOp::or_, Type::integer, 15},
        {12, 10, MathOp::and_, Type::integer, 8},
        {12, 10, MathOp::xor_, Type::integer, 6},
    };
    for (const Case& c : cases) {
        Cell result = integer::make_cell(c.a);
        result.header |= cell_flag::new_line;
        integer::do_math_op(c.a, c.b, c.op, &result);
        SCOPED_TRACE(std::to_string(c.a) + " op" + std::to_string(int(c.op)) + " " +
                     std::to_string(c.b));
        EXPECT_EQ(result.type(), c.type);
        EXPECT_TRUE(result.header & cell_flag::new_line);
        if (c.type == Type::integer) {
            EXPECT_EQ(integer::get(&result), static_cast<std::int32_t>(c.value));
        } else {
            EXPECT_EQ(float_::get(&result), c.value);
        }
    }
}

TEST(Integer, DivisionWithoutResultCellTruncates) {
    EXPECT_EQ(integer::do_math_op(7, 2, MathOp::divide, nullptr), 3);
    EXPECT_EQ(integer::do_math_op(-7, 2, MathOp::divide, nullptr), -3);
}

TEST(Integer, UnrepresentableResultsFire) {
    Cell r = integer::make_cell(0);
    EXPECT_EQ(fired([&] { integer::do_math_op(1, 0, MathOp::divide, &r); }), ErrorId::math_zero_divide);
    EXPECT_EQ(fired([&] { integer::do_math_op(1, 0, MathOp::remainder, &r); }), ErrorId::math_zero_divide);
    EXPECT_EQ(fired([&] { integer::do_math_op(min, -1, MathOp::divide, &r); }), ErrorId::math_overflow);
    EXPECT_EQ(fired([&] { integer::do_math_op(min, -1, MathOp::remainder, &r); }), ErrorId::math_overflow);
    EXPECT_EQ(fired([] { integer::abs(min); }), ErrorId::math_overflow);
    EXPECT_EQ(integer::abs(-max), max);
}

TEST(Integer, FormSigned) {
    struct Case { std::int32_t n; const char* text; };
    const Case cases[] = {{0, "0"}, {42, "42"}, {-7, "-7"}, {max, "2147483647"},
                          {min, "-2147483648"}, {-1000000000, "-1000000000"}};
    for (const Case& c : cases) EXPECT_STREQ(integer::form_signed(c.n), c.text);
}

TEST(Integer, FloatRangeIsCheckedBeforeTruncation) {
    struct Case { double d; bool out; };
    const Case cases[] = {{2147483647.0, false}, {2147483647.5, true}, {-2147483648.0, false},
                          {-2147483648.5, true}, {0.0 / 0.0, true}, {1.0 / 0.0, true}};
    for (const Case& c : cases) {
        const Cell f = float_::make_cell(c.d);
        EXPECT_EQ(integer::float_out_of_range(&f), c.out) << c.d;
    }
}

TEST(Integer, RoundToScale) {
    RoundMode plain, even, down, half_down, floor, ceiling, half_ceiling;
    even.even = true;
    down.down = true;
    half_down.half_down = true;
    floor.floor = true;
    ceiling.ceiling = true;
    half_ceiling.half_ceiling = true;
    struct Case { std::int32_t n, scale; RoundMode mode; std::int32_t result; };
    const Case cases[] = {
        {7, 2, plain, 8},         {-7, 2, plain, -8},        {5, 2, even, 4},
        {7, 2, even, 8},          {5, 2, half_down, 4},      {-7, 2, floor, -8},
        {-7, 2, ceiling, -6},     {7, 2, floor, 6},          {7, 2, ceiling, 8},
        {7, 0, plain, 7},         {7, 1, plain, 7},          {17, 5, down, 15},
        {-17, 5, down, -15},      {-5, 2, half_ceiling, -4}, {5, 2, half_ceiling, 6},
        {13, 10, plain, 10},      {16, 10, half_down, 20},   {15, 10, plain, 20},
        {min, 2, plain, min},     {min, 1, plain, min},      {-max, 2, plain, min},
        {min + 1, 2, down, min + 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(integer::round_to(c.n, c.scale, c.mode), c.result) << c.n << " to " << c.scale;
    }
    EXPECT_EQ(fired([&] { integer::round_to(max, 2, plain); }), ErrorId::math_overflow);
    EXPECT_EQ(fired([&] { integer::round_to(min, 3, plain); }), ErrorId::math_overflow);
}

TEST(Integer, PowerIsExactUntilItOverflows) {
    struct Case { std::int32_t base, exp; bool exact; std::int32_t result; };
    const Case cases[] = {
        {2, 10, true, 1024},  {2, 31, false, 0},     {-2, 31, true, min}, {2, 30, true, 1 << 30},
        {0, 0, true, 1},      {-1, max, true, -1},   {3, 20, false, 0},   {46341, 2, false, 0},
        {46340, 2, true, 2147395600},
    };
    for (const Case& c : cases) {
        std::int32_t r = 0;
        EXPECT_EQ(integer::power_exact(c.base, c.exp, &r), c.exact) << c.base << " ** " << c.exp;
        if (c.exact) {
            EXPECT_EQ(r, c.result);
        }
    }
}

}  // namespace kiv
