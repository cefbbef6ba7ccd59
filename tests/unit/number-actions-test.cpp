// The actions of integer!, float!, percent! and time! as the dispatcher
// reaches them through the registry: mixed arithmetic, conversions, text,
// rounding and the time fields.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"
#include "tests/unit/runtime-support.h"

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

Cell i(std::int32_t n) { return integer::make_cell(n); }
Cell f(double d) { return float_::make_cell(d); }
Cell pc(double d) { return float_::make_cell(d, Type::percent); }
Cell t(double s) { return time::make_cell(s); }
Cell ch(std::uint32_t cp) { return Cell{static_cast<std::uint32_t>(Type::char_), 0, cp, 0}; }
Cell of_type(Type type) { return Cell{static_cast<std::uint32_t>(type), 0, 0, 0}; }
Cell pair(std::int32_t x, std::int32_t y) {
    return Cell{static_cast<std::uint32_t>(Type::pair), static_cast<std::uint32_t>(x),
                static_cast<std::uint32_t>(y), 0};
}

// A stand-in pair! with just add and negate, to see what integer! hands over.
Cell* pair_add(Cell* a, Cell* b) {
    a->data1 += b->data2;
    a->data2 += b->data2;
    return a;
}
Cell* pair_negate(Cell* a) {
    a->data1 = -a->data1;
    a->data2 = -a->data2;
    return a;
}

Cell* run(MathOp op, Cell* a, Cell* b) { return integer::run_math_action(a, a, b, op); }

std::string text_of(const Cell& value, bool mold, int* left = nullptr) {
    Cell buffer;
    string::make_at(&buffer, 0);
    Cell v = value;
    const int part = mold ? registry::find<Action::mold>(&v)(&v, &buffer, false, false, false, nullptr, 100, 0)
                          : registry::find<Action::form>(&v)(&v, &buffer, nullptr, 100);
    if (left) *left = part;
    return string::to_utf8(&buffer);
}

Cell binary_of(std::vector<std::uint8_t> bytes) {
    Cell b{static_cast<std::uint32_t>(Type::binary), 0, memory::alloc_bytes(8), 0};
    memory::SeriesBuffer* buffer = memory::buffer_of(b.data2);
    for (std::uint8_t byte : bytes) *memory::alloc_tail_bytes(buffer, 1) = byte;
    return b;
}

Cell block_of(std::vector<Cell> cells) {
    Cell b{static_cast<std::uint32_t>(Type::block), 0, memory::alloc_cells(4), 0};
    for (const Cell& c : cells) *memory::append_slot(&b) = c;
    return b;
}

class NumberActions : public ::testing::Test {
protected:
    void SetUp() override {
        test::start_runtime();
        integer::init();
        float_::init();
        percent::init();
        time::init();
        registry::register_type(Type::pair, registry::no_parent, "pair!",
                                ActionRow{.add = pair_add, .negate = pair_negate});
    }
    void TearDown() override { collector::set_active(false); }
};

struct Expect {
    Type type;
    double value;
};

void expect_value(const Cell* r, Expect e) {
    EXPECT_EQ(r->type(), e.type);
    if (r->is(Type::integer)) {
        EXPECT_EQ(integer::get(r), e.value);
    } else if (std::isnan(e.value)) {
        EXPECT_TRUE(std::isnan(float_::get(r)));
    } else {
        EXPECT_EQ(float_::get(r), e.value);
    }
}

}  // namespace

TEST_F(NumberActions, MixedArithmetic) {
    struct Case { Cell a; MathOp op; Cell b; Expect result; };
    const double inf = 1.0 / 0.0;
    const Case cases[] = {
        {i(2147483647), MathOp::add, i(1), {Type::float_, 2147483648.0}},
        {i(-2147483648), MathOp::subtract, i(1), {Type::float_, -2147483649.0}},
        {i(7), MathOp::divide, i(2), {Type::float_, 3.5}},
        {i(8), MathOp::divide, i(2), {Type::integer, 4}},
        {i(3), MathOp::add, ch('A'), {Type::integer, 68}},
        {i(1), MathOp::add, pc(0.5), {Type::float_, 1.5}},
        {pc(0.5), MathOp::add, i(1), {Type::percent, 1.5}},
        {pc(0.1), MathOp::multiply, pc(0.1), {Type::percent, 0.1 * 0.1}},
        {f(1.5), MathOp::add, ch('A'), {Type::float_, 66.5}},
        {f(0.1), MathOp::add, f(0.2), {Type::float_, 0.1 + 0.2}},
        {f(1.0), MathOp::divide, f(0.0), {Type::float_, inf}},
        {f(-1.0), MathOp::divide, i(0), {Type::float_, -inf}},
        {f(0.0), MathOp::divide, f(0.0), {Type::float_, NAN}},
        {f(1.0), MathOp::remainder, f(0.0), {Type::float_, NAN}},
        {pc(0.5), MathOp::divide, i(0), {Type::percent, inf}},
        {i(2), MathOp::multiply, t(3600), {Type::time, 7200}},
        {f(0.5), MathOp::multiply, t(3600), {Type::time, 1800}},
        {i(10), MathOp::subtract, t(4), {Type::time, 6}},
        {t(3600), MathOp::divide, t(1800), {Type::float_, 2.0}},
        {t(3600), MathOp::divide, i(2), {Type::time, 1800}},
        {t(3600), MathOp::subtract, i(30), {Type::time, 3570}},
        {t(3600), MathOp::add, pc(0.5), {Type::time, 3600.5}},
        {t(100), MathOp::remainder, i(30), {Type::time, 10}},
        {i(10), MathOp::subtract, pair(3, 4), {Type::pair, 0}},
        {i(5), MathOp::add, pair(1, 2), {Type::pair, 0}},
    };
    int row = 0;
    for (const Case& c : cases) {
        Cell a = c.a;
        Cell b = c.b;
        SCOPED_TRACE("row " + std::to_string(row++));
        Cell* r = run(c.op, &a, &b);
        if (c.result.type == Type::pair) {
            EXPECT_TRUE(r->is(Type::pair));
        } else {
            expect_value(r, c.result);
        }
    }
    Cell a = i(10), p = pair(3, 4);
    run(MathOp::subtract, &a, &p);
    EXPECT_EQ(static_cast<std::int32_t>(a.data1), 7);
    EXPECT_EQ(static_cast<std::int32_t>(a.data2), 6);
}

TEST_F(NumberActions, ArithmeticErrors) {
    struct Case { Cell a; MathOp op; Cell b; ErrorId error; };
    const Case cases[] = {
        {i(1), MathOp::divide, i(0), ErrorId::math_zero_divide},
        {i(1), MathOp::remainder, i(0), ErrorId::math_zero_divide},
        {i(-2147483648), MathOp::divide, i(-1), ErrorId::math_overflow},
        {t(3600), MathOp::divide, i(0), ErrorId::math_zero_divide},
        {t(3600), MathOp::remainder, f(0.0), ErrorId::math_zero_divide},
        {i(1), MathOp::divide, t(0), ErrorId::math_zero_divide},
        {t(3600), MathOp::multiply, t(3600), ErrorId::script_not_related},
        {t(3600), MathOp::subtract, of_type(Type::date), ErrorId::script_not_related},
        {i(2), MathOp::subtract, of_type(Type::tuple), ErrorId::script_not_related},
        {i(2), MathOp::remainder, of_type(Type::tuple), ErrorId::script_not_related},
        {i(6), MathOp::divide, pair(1, 2), ErrorId::script_not_related},
        {f(6), MathOp::subtract, pair(1, 2), ErrorId::script_not_related},
        {f(6), MathOp::remainder, pair(1, 2), ErrorId::script_invalid_type},
        {i(1), MathOp::multiply, of_type(Type::date), ErrorId::script_not_related},
        {t(1), MathOp::add, pair(1, 2), ErrorId::script_invalid_type},
        {pc(0.5), MathOp::add, ch('A'), ErrorId::script_invalid_type},
        {t(1), MathOp::add, ch('A'), ErrorId::script_invalid_type},
        {i(1), MathOp::add, of_type(Type::string), ErrorId::script_invalid_type},
        {f(1), MathOp::add, of_type(Type::none), ErrorId::script_invalid_type},
        {i(1), MathOp::multiply, pair(1, 2), ErrorId::script_expect_arg},  // pair! has no multiply here
    };
    // The double core has no bitwise ops (vector! reaches it with them).
    EXPECT_EQ(fired([] { float_::do_math_op(1.0, 2.0, MathOp::and_); }), ErrorId::script_cannot_use);
    for (const Case& c : cases) {
        Cell a = c.a;
        Cell b = c.b;
        EXPECT_EQ(fired([&] { run(c.op, &a, &b); }), c.error)
            << "type " << int(c.a.type()) << " op" << int(c.op) << " type " << int(c.b.type());
    }
}

TEST_F(NumberActions, OneOperandActions) {
    Cell z = f(0.0);
    registry::find<Action::negate>(&z)(&z);
    EXPECT_FALSE(std::signbit(float_::get(&z)));
    Cell p = pc(-0.025);
    registry::find<Action::absolute>(&p)(&p);
    expect_value(&p, {Type::percent, 0.025});
    Cell n = t(-90);
    registry::find<Action::negate>(&n)(&n);
    expect_value(&n, {Type::time, 90});
    Cell m = i(-2147483648);
    EXPECT_EQ(fired([&] { registry::find<Action::negate>(&m)(&m); }), ErrorId::math_overflow);
    EXPECT_EQ(fired([&] { registry::find<Action::absolute>(&m)(&m); }), ErrorId::math_overflow);
    Cell c = i(5);
    registry::find<Action::complement>(&c)(&c);
    EXPECT_EQ(integer::get(&c), -6);

    struct Parity { Cell v; bool even, odd; };
    const Parity cases[] = {
        {i(-3), false, true},       {i(0), true, false},       {f(2.5), true, false},
        {f(-3.7), false, true},     {f(1e300), true, false},   {f(NAN), false, false},
        {t(3602), true, false},     {t(1.5), false, true},     {pc(0.5), true, false},
    };
    for (Parity x : cases) {
        EXPECT_EQ(registry::find<Action::even_q>(&x.v)(&x.v), x.even) << text_of(x.v, true);
        EXPECT_EQ(registry::find<Action::odd_q>(&x.v)(&x.v), x.odd) << text_of(x.v, true);
    }
}

TEST_F(NumberActions, Compare) {
    struct Case { Cell a; Cell b; CompareOp op; int result; };
    const Case cases[] = {
        {i(1), f(1.0), CompareOp::equal, 0},
        {i(1), f(1.0), CompareOp::strict_equal, 1},
        {i(1), f(1.0), CompareOp::same, 1},
        {i(1), ch(1), CompareOp::equal, 0},
        {i(1), ch(1), CompareOp::strict_equal, 1},
        {i(2), i(3), CompareOp::lesser, -1},
        {i(1), of_type(Type::string), CompareOp::lesser, not_comparable},
        {i(3), t(2), CompareOp::greater, 1},
        {f(0.1 + 0.2), f(0.3), CompareOp::equal, 0},
        {f(0.1 + 0.2), f(0.3), CompareOp::strict_equal, 1},
        {f(NAN), f(NAN), CompareOp::equal, 1},
        {f(1), pc(1), CompareOp::equal, 0},
        {t(60), t(60), CompareOp::strict_equal, 0},
        {pc(0.5), f(0.5), CompareOp::strict_equal, 1},
    };
    for (Case c : cases) {
        EXPECT_EQ(registry::find<Action::compare>(&c.a)(&c.a, &c.b, c.op), c.result)
            << text_of(c.a, true) << " op" << int(c.op) << " " << text_of(c.b, true);
    }
}

TEST_F(NumberActions, Power) {
    struct Case { Cell base; Cell exp; Expect result; };
    const Case cases[] = {
        {i(2), i(10), {Type::integer, 1024}},
        {i(2), i(31), {Type::float_, 2147483648.0}},
        {i(-2), i(31), {Type::integer, -2147483648.0}},
        {i(2), i(-1), {Type::float_, 0.5}},
        {i(4), f(0.5), {Type::float_, 2.0}},
        {f(1.5), i(2), {Type::float_, 2.25}},
        {pc(0.5), i(2), {Type::percent, 0.25}},
    };
    for (Case c : cases) expect_value(registry::find<Action::power>(&c.base)(&c.base, &c.exp), c.result);
    Cell b = i(2), e = pc(0.5);
    EXPECT_EQ(fired([&] { registry::find<Action::power>(&b)(&b, &e); }), ErrorId::script_expect_arg);
}

TEST_F(NumberActions, Round) {
    struct Case { Cell n; const Cell* scale; RoundMode mode; Expect result; };
    const Cell two = i(2), ten = i(10), sixty = i(60), cent = f(0.01), one_pc = pc(0.01),
               half = f(2.5), tenth = f(0.1), two_s = t(2);
    RoundMode even;
    even.even = true;
    const Case cases[] = {
        {f(2.5), nullptr, {}, {Type::float_, 3.0}},
        {f(2.5), nullptr, even, {Type::float_, 2.0}},
        {f(7.3), &two, {}, {Type::integer, 8}},
        {f(1.2345), &cent, {}, {Type::float_, 1.23}},
        {i(7), &two, {}, {Type::integer, 8}},
        {i(7), &half, {}, {Type::float_, 7.5}},
        {i(5), &two_s, {}, {Type::time, 6}},
        {pc(0.12345), nullptr, {}, {Type::percent, 0.12}},
        {pc(0.12345), &one_pc, {}, {Type::percent, 0.12}},
        {pc(0.12345), &tenth, {}, {Type::float_, 0.123}},
        {pc(0.125), &ten, {}, {Type::integer, 0}},
        {t(3600.6), nullptr, {}, {Type::time, 3601}},
        {t(3640), &sixty, {}, {Type::time, 3660}},
        {t(-3640), &sixty, {}, {Type::time, -3660}},
    };
    for (Case c : cases) {
        Cell* scale = const_cast<Cell*>(c.scale);
        Cell* r = registry::find<Action::round>(&c.n)(&c.n, scale, c.mode.even, c.mode.down,
                                                       c.mode.half_down, c.mode.floor,
                                                       c.mode.ceiling, c.mode.half_ceiling);
        SCOPED_TRACE(text_of(c.n, true));
        expect_value(r, c.result);
    }
    Cell money = of_type(Type::money);
    for (Cell n : {i(5), f(5), t(5)}) {
        EXPECT_EQ(fired([&] {
                      registry::find<Action::round>(&n)(&n, &money, false, false, false, false,
                                                        false, false);
                  }),
                  ErrorId::script_not_related);
    }
    Cell big = f(1e10);
    Cell scale = i(1);
    EXPECT_EQ(fired([&] {
                  registry::find<Action::round>(&big)(&big, &scale, false, false, false, false,
                                                      false, false);
              }),
              ErrorId::math_overflow);
}

TEST_F(NumberActions, Conversions) {
    const auto text = [](const char* s) {
        Cell cell;
        string::make_at(&cell, 0);
        string::append_literal(&cell, s);
        return cell;
    };
    const Cell yes{static_cast<std::uint32_t>(Type::logic), 1, 0, 0};
    const auto issue = [](const char* name) {
        return Cell{static_cast<std::uint32_t>(Type::issue), 0, symbol::make(name), 0};
    };
    struct Case { Type target; Cell spec; bool make; Expect result; ErrorId error; };
    const ErrorId ok = ErrorId::count_;
    const Case cases[] = {
        {Type::integer, f(2.9), false, {Type::integer, 2}, ok},
        {Type::integer, f(-2.9), false, {Type::integer, -2}, ok},
        {Type::integer, pc(1.5), false, {Type::integer, 1}, ok},
        {Type::integer, f(-2147483648.0), false, {Type::integer, -2147483648.0}, ok},
        {Type::integer, f(2147483647.5), false, {}, ErrorId::script_type_limit},
        {Type::integer, f(NAN), false, {}, ErrorId::script_type_limit},
        {Type::integer, t(1.5), false, {Type::integer, 2}, ok},
        {Type::integer, t(-1.5), false, {Type::integer, -2}, ok},
        {Type::integer, t(1e10), false, {}, ErrorId::script_type_limit},
        {Type::integer, ch('A'), false, {Type::integer, 65}, ok},
        {Type::integer, binary_of({1, 2, 3, 4, 5}), false, {Type::integer, 16909060}, ok},
        {Type::integer, binary_of({1, 2}), false, {Type::integer, 258}, ok},
        {Type::integer, binary_of({0xFF, 0xFF, 0xFF, 0xFF}), false, {Type::integer, -1}, ok},
        {Type::integer, binary_of({}), false, {Type::integer, 0}, ok},
        {Type::integer, text("1'000"), false, {Type::integer, 1000}, ok},
        {Type::integer, text("+12"), false, {Type::integer, 12}, ok},
        {Type::integer, text("12a"), false, {}, ErrorId::script_bad_to_arg},
        {Type::integer, text(""), false, {}, ErrorId::script_bad_to_arg},
        {Type::integer, text("-"), false, {}, ErrorId::script_bad_to_arg},
        {Type::integer, text("-2147483648"), false, {Type::integer, -2147483648.0}, ok},
        {Type::integer, text("2147483648"), false, {}, ErrorId::script_bad_to_arg},
        {Type::integer, issue("ff"), false, {Type::integer, 255}, ok},
        {Type::integer, issue("FFFFFFFF"), false, {Type::integer, -1}, ok},
        {Type::integer, issue("123456789"), false, {}, ErrorId::script_invalid_data},
        {Type::integer, issue("12g"), false, {}, ErrorId::script_invalid_data},
        {Type::integer, issue("\xC2\xB1"), false, {}, ErrorId::script_invalid_data},
        {Type::integer, yes, true, {Type::integer, 1}, ok},
        {Type::integer, yes, false, {}, ErrorId::script_bad_to_arg},
        {Type::float_, i(5), false, {Type::float_, 5.0}, ok},
        {Type::float_, t(90), false, {Type::float_, 90.0}, ok},
        {Type::float_, binary_of({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}), false, {Type::float_, 1.0}, ok},
        {Type::float_, block_of({i(1), i(3)}), true, {Type::float_, 1000.0}, ok},
        {Type::float_, block_of({i(15), i(-1)}), true, {Type::float_, 1.5}, ok},
        {Type::float_, block_of({f(1.5), f(2.0)}), true, {Type::float_, 150.0}, ok},
        {Type::float_, block_of({i(1), i(2), i(3)}), true, {}, ErrorId::script_bad_to_arg},
        {Type::float_, block_of({i(1), yes}), true, {}, ErrorId::script_bad_to_arg},
        {Type::float_, yes, false, {}, ErrorId::script_bad_to_arg},
        {Type::float_, text("1,5"), false, {Type::float_, 1.5}, ok},
        {Type::float_, text("-1'000.25e1"), false, {Type::float_, -10002.5}, ok},
        {Type::float_, text(""), false, {}, ErrorId::script_bad_to_arg},
        {Type::float_, text("1e"), false, {}, ErrorId::script_bad_to_arg},
        {Type::percent, f(0.5), false, {Type::percent, 0.5}, ok},
        {Type::time, i(90), false, {Type::time, 90}, ok},
        {Type::time, f(1.5), false, {Type::time, 1.5}, ok},
        {Type::time, block_of({i(1), i(30)}), true, {Type::time, 5400}, ok},
        {Type::time, block_of({i(-1), i(30), f(15.5)}), true, {Type::time, -5415.5}, ok},
        {Type::time, block_of({}), true, {Type::time, 0}, ok},
        {Type::time, block_of({i(1), f(2.5)}), true, {}, ErrorId::script_bad_to_arg},
        {Type::time, yes, false, {}, ErrorId::script_bad_to_arg},
    };
    for (Case c : cases) {
        SCOPED_TRACE(std::string(registry::entry(c.target).name) + " from type " +
                     std::to_string(int(c.spec.type())));
        Cell proto;
        registry::make_datatype(&proto, c.target);
        const auto fn = c.make ? registry::lookup<Action::make>(c.target)
                               : registry::lookup<Action::to>(c.target);
        Cell* r = nullptr;
        EXPECT_EQ(fired([&] { r = fn(&proto, &c.spec, c.target); }), c.error);
        if (c.error == ok) expect_value(r, c.result);
    }
}

TEST_F(NumberActions, FormAndMold) {
    struct Case { Cell value; bool mold; const char* text; };
    const Case cases[] = {
        {f(0.1 + 0.2), false, "0.3"},
        {f(0.1 + 0.2), true, "0.30000000000000004"},
        {f(1e16), false, "1.0e16"},
        {f(1e16), true, "10000000000000000.0"},
        {f(1.0e17), true, "1.0e17"},
        {f(100.0), true, "100.0"},
        {f(1.0 / 0.0), true, "1.#INF"},
        {f(-1.0 / 0.0), false, "-1.#INF"},
        {f(NAN), true, "1.#NaN"},
        {pc(0.05), true, "5%"},
        {pc(0.005), true, "0.5%"},
        {pc(0.125), false, "12.5%"},
        {pc(1.5), true, "150%"},
        {i(-2147483648), false, "-2147483648"},
        {i(42), true, "42"},
        {t(3661.5), true, "1:01:01.5"},
        {t(-90), false, "-0:01:30"},
    };
    for (const Case& c : cases) {
        int left = 0;
        const std::string text = text_of(c.value, c.mold, &left);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(left, 100 - static_cast<int>(text.size())) << c.text;
    }
}

TEST_F(NumberActions, TimeFieldsThroughPathsAndPick) {
    Cell path = of_type(Type::path);
    Cell time = t(-5415);  // -1:30:15
    Cell hour, minute, second, other;
    word::load("hour", &hour);
    word::load("minute", &minute);
    word::load("second", &second);
    word::load("day", &other);
    const auto eval_path = registry::lookup<Action::eval_path>(Type::time);
    struct Read { Cell element; Expect result; };
    const Read reads[] = {
        {hour, {Type::integer, -1}}, {minute, {Type::integer, 30}}, {second, {Type::float_, -15}},
        {i(1), {Type::integer, -1}}, {i(3), {Type::float_, -15}},
    };
    for (Read r : reads) {
        expect_value(eval_path(&time, &r.element, nullptr, &path, nullptr, nullptr, 1, false, false,
                               true, false),
                     r.result);
    }
    for (Cell bad : {i(4), i(0), other, f(1.0)}) {
        EXPECT_EQ(fired([&] {
                      eval_path(&time, &bad, nullptr, &path, nullptr, nullptr, 1, false, false,
                                true, false);
                  }),
                  ErrorId::script_invalid_path);
    }
    Cell t1 = t(5400);
    t1.header |= cell_flag::new_line;
    Cell v45 = i(45);
    EXPECT_EQ(eval_path(&t1, &minute, &v45, &path, nullptr, nullptr, 1, false, false, true, false),
              &v45);
    expect_value(&t1, {Type::time, 6300});
    EXPECT_TRUE(t1.header & cell_flag::new_line);
    Cell bad_hour = f(2.5);
    EXPECT_EQ(fired([&] {
                  eval_path(&t1, &hour, &bad_hour, &path, nullptr, nullptr, 1, false, false, true,
                            false);
              }),
              ErrorId::script_invalid_arg);
    expect_value(&t1, {Type::time, 6300});

    const auto pick = registry::lookup<Action::pick>(Type::time);
    Cell p = t(5415);
    expect_value(pick(&p, 0, &second), {Type::float_, 15});
    p = t(5415);
    expect_value(pick(&p, 2, nullptr), {Type::integer, 30});
    p = t(5415);
    EXPECT_EQ(fired([&] { pick(&p, 0, &other); }), ErrorId::script_cannot_use);
    Cell four = i(4);
    EXPECT_EQ(fired([&] { pick(&p, 4, &four); }), ErrorId::script_out_of_range);
}

TEST_F(NumberActions, Random) {
    Cell v = i(5);
    registry::find<Action::random>(&v)(&v, true, false, false);
    EXPECT_TRUE(v.is(Type::unset));
    Cell zero = i(0);
    expect_value(registry::find<Action::random>(&zero)(&zero, false, false, false), {Type::integer, 0});
    for (int k = 0; k < 50; ++k) {
        Cell n = i(-3);
        const std::int32_t r = integer::get(registry::find<Action::random>(&n)(&n, false, false, false));
        EXPECT_TRUE(r >= -3 && r <= -1) << r;
        Cell d = pc(2.0);
        Cell* x = registry::find<Action::random>(&d)(&d, false, k % 2 == 1, false);
        EXPECT_TRUE(x->is(Type::percent));
        EXPECT_TRUE(float_::get(x) >= 0.0 && float_::get(x) <= 2.0) << float_::get(x);
    }
}

}  // namespace kiv
