#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/percent.h"
#include "runtime/evaluator/lexer-numbers.h"
#include "tests/unit/runtime-support.h"

namespace kiv {

namespace {

using test::error_of;

class MoneyTest : public test::RuntimeTest {
protected:
    void SetUp() override {
        test::RuntimeTest::SetUp();
        integer::init();
        float_::init();
        percent::init();
        money::init();
    }
    void TearDown() override {
        money::set_digits_source(nullptr);
        money::set_currency_source(nullptr);
        test::RuntimeTest::TearDown();
    }
};

// A money! from its literal text, as the lexer reads it.
Cell money_of(const char* text) {
    lexer::MoneyText m;
    const auto* s = reinterpret_cast<const std::uint8_t*>(text);
    EXPECT_TRUE(lexer::read_money(s, s + std::strlen(text), m)) << text;
    Cell c = money::zero_cell();
    EXPECT_TRUE(money::make_at_text(&c, m.negative, m.currency, m.integer_digits, m.fraction_digits)) << text;
    return c;
}

Cell i(std::int32_t n) { return integer::make_cell(n); }
Cell f(double d) { return float_::make_cell(d); }
Cell pct(double d) { return float_::make_cell(d, Type::percent); }
Cell m(const char* text) { return money_of(text); }

// A text cell for the cases: the mold of a value, or an error's name.
std::string outcome(Cell value, bool all = false) { return test::mold(value, all); }

template <class Body>
std::string outcome_of(Body&& body, bool all = false) {
    try {
        return outcome(body(), all);
    } catch (const KivError& e) {
        return std::string("error ") + error_info(e.id).name;
    }
}

Cell math(Cell a, Cell b, MathOp op) {
    Cell* r = integer::run_math_action(&a, &a, &b, op);
    return *r;
}

Cell rounded(Cell v, const Cell* scale, RoundMode mode) {
    Cell s = scale ? *scale : Cell{};
    auto round = registry::lookup<Action::round>(Type::money);
    return *round(&v, scale ? &s : nullptr, mode.even, mode.down, mode.half_down, mode.floor, mode.ceiling,
                  mode.half_ceiling);
}

}  // namespace

TEST_F(MoneyTest, TextForms) {
    struct Case { const char* literal; const char* formed; const char* molded; const char* molded_all; };
    const Case cases[] = {
        {"$1234567.5", "$1'234'567.50", "$1234567.50", "$1234567.50000"},
        {"-USD$1234567.5", "-USD$1'234'567.50", "-USD$1234567.50", "-USD$1234567.50000"},
        {"$0.1", "$0.10", "$0.10", "$0.10000"},
        {"$0", "$0.00", "$0.00", "$0.00000"},
        {"-$0.009", "-$0.00", "-$0.00", "-$0.00900"},
        {"$12", "$12.00", "$12.00", "$12.00000"},
        {"$123", "$123.00", "$123.00", "$123.00000"},
        {"$1'000", "$1'000.00", "$1000.00", "$1000.00000"},
        {"$99'999'999'999'999'999.99999", "$99'999'999'999'999'999.99", "$99999999999999999.99", nullptr},
        {"eur$0,5", "EUR$0.50", "EUR$0.50", "EUR$0.50000"},
        {"BTC$1.00001", "BTC$1.00", "BTC$1.00", "BTC$1.00001"},
    };
    for (const Case& c : cases) {
        const Cell v = money_of(c.literal);
        EXPECT_EQ(test::form(v), c.formed) << c.literal;
        EXPECT_EQ(test::mold(v), c.molded) << c.literal;
        if (c.molded_all) {
            EXPECT_EQ(test::mold(v, true), c.molded_all) << c.literal;
        }
    }
    // The decimals that form writes follow system/options/money-digits.
    struct Digits { std::int32_t asked; const char* text; };
    static std::int32_t asked;
    money::set_digits_source([](std::int32_t* out) { *out = asked; return true; });
    for (Digits d : {Digits{0, "$1"}, {-3, "$1"}, {4, "$1.2345"}, {9, "$1.23456"}, {1, "$1.2"}}) {
        asked = d.asked;
        EXPECT_EQ(test::form(money_of("$1.23456")), d.text) << d.asked;
    }
    money::set_digits_source([](std::int32_t*) { return false; });
    EXPECT_EQ(test::form(money_of("$1.23456")), "$1.23");
}

TEST_F(MoneyTest, UnknownCurrencyAndLongDigitsAreRefused) {
    Cell c = money::zero_cell();
    EXPECT_FALSE(money::make_at_text(&c, false, "QQQ", "1", ""));
    EXPECT_FALSE(money::make_at_text(&c, false, "", "123456789012345678", ""));
    EXPECT_TRUE(money::make_at_text(&c, false, "", "000000012345678901234567", ""));
    EXPECT_EQ(money::find_currency_code("usd"), money::find_currency_code("USD"));
    EXPECT_EQ(money::find_currency_code("ZMW"), money::builtin_currency_count);
    EXPECT_EQ(money::find_currency_code("ETH"), 46);
    // A list from the locale takes over, by canonical word.
    // GC: the list lives in a static cell, which the collector must see.
    static Cell list;
    collector::register_root_cell(&list);
    list = test::block_of({test::word_of("ABC"), test::word_of("usd")});
    money::set_currency_source([]() -> const Cell* { return &list; });
    EXPECT_EQ(money::find_currency_code("USD"), 2);
    const Cell usd = test::word_of("USD");
    EXPECT_EQ(money::find_currency(&usd), 2);
    EXPECT_EQ(test::mold(money_of("abc$1")), "ABC$1.00");
}

TEST_F(MoneyTest, Arithmetic) {
    struct Case { Cell a; Cell b; MathOp op; const char* result; bool all = false; };
    const Case cases[] = {
        {m("$0.1"), m("$0.2"), MathOp::add, "$0.30"},
        {m("$10"), i(3), MathOp::multiply, "$30.00"},
        {i(3), m("$10"), MathOp::multiply, "$30.00"},
        {m("$7"), m("$2"), MathOp::divide, "3.5"},
        {m("-$7"), m("$2"), MathOp::remainder, "-$1.00"},
        {m("$7"), m("-$2"), MathOp::remainder, "$1.00"},
        {m("$1"), i(3), MathOp::divide, "$0.33333", true},
        {m("-$1"), i(3), MathOp::divide, "-$0.33333", true},
        {m("USD$1"), m("$1"), MathOp::add, "USD$2.00"},
        {m("$1"), m("USD$1"), MathOp::add, "USD$2.00"},
        {m("USD$1"), m("EUR$1"), MathOp::add, "error wrong-denom"},
        {m("$1"), m("$1"), MathOp::multiply, "error invalid-type"},
        {i(3), m("$1"), MathOp::divide, "error invalid-type"},
        {i(3), m("$1"), MathOp::remainder, "error invalid-type"},
        {m("$1"), test::string_of("x"), MathOp::add, "error invalid-type"},
        {m("$99999999999999999"), m("$1"), MathOp::add, "error type-limit"},
        {m("$50000000000000000"), m("$50000000000000000"), MathOp::add, "error type-limit"},
        {m("-$99999999999999999.99999"), m("$0.00001"), MathOp::subtract, "error type-limit"},
        {m("$99999999999999999.99999"), m("-$0.00001"), MathOp::add, "$99999999999999999.99998", true},
        {m("$5"), m("$7"), MathOp::subtract, "-$2.00"},
        {m("-$5"), m("-$7"), MathOp::subtract, "$2.00"},
        {m("-$5"), m("$7"), MathOp::add, "$2.00"},
        {m("-$5"), m("$7"), MathOp::subtract, "-$12.00"},
        {m("$5"), m("-$5"), MathOp::add, "$0.00"},
        {m("$1"), m("$0"), MathOp::divide, "error zero-divide"},
        {m("$1"), i(0), MathOp::remainder, "error zero-divide"},
        {m("$0"), m("$3"), MathOp::divide, "0.0"},
        {f(1.123456), m("$0"), MathOp::add, "$1.12345", true},
        {m("$1"), f(1.5), MathOp::add, "$2.50"},
        {m("$1"), f(0.1), MathOp::subtract, "$0.90"},
        {m("$1"), pct(0.05), MathOp::add, "$1.05"},
        {m("$2"), pct(0.5), MathOp::multiply, "$1.00"},
        {m("$1.23456"), f(1.5), MathOp::multiply, "$1.85184", true},
        {m("$100000000000"), f(100000000000.0), MathOp::multiply, "error type-limit"},
        {m("$0.00001"), f(0.5), MathOp::multiply, "$0.00000", true},
        {m("$10000000000000000"), f(0.5), MathOp::divide, "error type-limit"},
        {m("$1000000000000000"), f(0.5), MathOp::divide, "$2000000000000000.00"},
        {m("$1"), i(-2147483647 - 1), MathOp::subtract, "$2147483649.00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(outcome_of([&] { return math(c.a, c.b, c.op); }, c.all), c.result)
            << test::mold(c.a) << " op " << static_cast<int>(c.op) << " " << test::mold(c.b);
    }
    const Cell sum = math(f(1.123456), m("$0"), MathOp::add);
    EXPECT_EQ(test::form(sum), "$1.12");
}

TEST_F(MoneyTest, Rounding) {
    const RoundMode nearest{};
    const RoundMode even{.even = true};
    const RoundMode down{.down = true};
    const RoundMode floor{.floor = true};
    const RoundMode ceiling{.ceiling = true};
    const RoundMode half_down{.half_down = true};
    const RoundMode half_ceiling{.half_ceiling = true};
    const Cell cent = m("$0.01");
    const Cell five = i(5);
    const Cell tenth = f(0.1);
    const Cell word = test::word_of("x");
    const Cell zero = i(0);
    struct Case { Cell value; const Cell* scale; RoundMode mode; const char* result; };
    const Case cases[] = {
        {m("$2.5"), nullptr, nearest, "$3.00"},
        {m("-$2.5"), nullptr, nearest, "-$3.00"},
        {m("$2.5"), nullptr, even, "$2.00"},
        {m("$3.5"), nullptr, even, "$4.00"},
        {m("-$2.7"), nullptr, down, "-$2.00"},
        {m("-$2.1"), nullptr, floor, "-$3.00"},
        {m("-$2"), nullptr, floor, "-$2.00"},
        {m("$2.1"), nullptr, ceiling, "$3.00"},
        {m("$2"), nullptr, ceiling, "$2.00"},
        {m("-$2.1"), nullptr, ceiling, "-$2.00"},
        {m("$2.5"), nullptr, half_down, "$2.00"},
        {m("$2.6"), nullptr, half_down, "$3.00"},
        {m("-$2.5"), nullptr, half_ceiling, "-$2.00"},
        {m("$2.5"), nullptr, half_ceiling, "$3.00"},
        {m("USD$2.5"), nullptr, nearest, "USD$3.00"},
        {m("$1.2345"), &cent, nearest, "$1.23"},
        {m("$1.235"), &cent, nearest, "$1.24"},
        {m("$1.235"), &cent, even, "$1.24"},
        {m("$1.225"), &cent, even, "$1.22"},
        {m("$1.225"), &cent, half_down, "$1.22"},
        {m("$17"), &five, nearest, "$15.00"},
        {m("$17.5"), &five, nearest, "$20.00"},
        {m("$12.5"), &five, even, "$10.00"},
        {m("$17.5"), &five, even, "$20.00"},
        {m("$1.25"), &tenth, even, "$1.20"},
        {m("$99999999999999999.994"), &cent, nearest, "$99999999999999999.99"},
        {m("$99999999999999999.995"), &cent, nearest, "error type-limit"},
        {m("$1.5"), &zero, nearest, "$1.50"},
        {m("$0"), &five, ceiling, "$0.00"},
        {m("$1.5"), &word, nearest, "error not-related"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(outcome_of([&] { return rounded(c.value, c.scale, c.mode); }), c.result) << test::mold(c.value);
    }
}

TEST_F(MoneyTest, Conversions) {
    struct FloatCase { double d; bool strict; const char* result; };
    const FloatCase floats[] = {
        {0.1, true, "$0.10000"},           {-2.5, true, "-$2.50000"},
        {1.123456, true, "error bad-make-arg"}, {1.123456, false, "$1.12345"},
        {1e-5, true, "$0.00001"},          {1e-6, false, "error bad-make-arg"},
        {1e17, false, "error bad-make-arg"}, {99999999999999984.0, false, "$99999999999999980.00000"},
        {1.0 / 0.0, false, "error bad-make-arg"}, {0.0, true, "$0.00000"},
        {123456789.125, true, "$123456789.12500"},
    };
    for (const FloatCase& c : floats) {
        EXPECT_EQ(outcome_of([&] { Cell out; return *money::from_float(&out, c.d, c.strict); }, true), c.result) << c.d;
    }
    struct IntCase { const char* literal; const char* result; };
    const IntCase ints[] = {
        {"$2147483647", "2147483647"},    {"$2147483647.00001", "error type-limit"},
        {"-$2147483648", "-2147483648"},  {"-$2147483648.00001", "error type-limit"},
        {"-$2.7", "-2"},                  {"$12345678901", "error type-limit"},
    };
    for (const IntCase& c : ints) {
        EXPECT_EQ(outcome_of([&] { return integer::make_cell(money::to_integer(&(const Cell&)money_of(c.literal))); }),
                  c.result)
            << c.literal;
    }
    Cell out;
    money::from_integer(&out, -2147483647 - 1);
    EXPECT_EQ(test::mold(out), "-$2147483648.00");
    EXPECT_EQ(money::to_float(&(const Cell&)money_of("$0.1")), 0.1);
    EXPECT_EQ(money::to_float(&(const Cell&)money_of("-$12345.67891")), -12345.67891);
    // to integer! and to float! of money.
    Cell spec = money_of("-$7.9");
    Cell proto = i(0);
    EXPECT_EQ(test::mold(*registry::lookup<Action::to>(Type::integer)(&proto, &spec, Type::integer)), "-7");
    spec = money_of("$7.25");
    EXPECT_EQ(test::mold(*registry::lookup<Action::to>(Type::float_)(&proto, &spec, Type::float_)), "7.25");
}

TEST_F(MoneyTest, MakeAndTo) {
    auto make = registry::lookup<Action::make>(Type::money);
    auto to = registry::lookup<Action::to>(Type::money);
    auto run = [&](bool making, Cell spec) {
        Cell proto = money::zero_cell();
        return *(making ? make : to)(&proto, &spec, Type::money);
    };
    struct Case { bool make; Cell spec; const char* result; };
    const Case cases[] = {
        {true, test::word_of("usd"), "USD$0.00000"},
        {true, test::word_of("qqq"), "error bad-make-arg"},
        {true, test::block_of({test::word_of("USD"), i(1), i(50)}), "USD$1.00050"},
        {true, test::block_of({i(-1), i(50)}), "-$1.00050"},
        {true, test::block_of({f(1.5)}), "$1.50000"},
        {true, test::block_of({test::word_of("EUR"), f(2.25)}), "EUR$2.25000"},
        {true, test::block_of({test::word_of("QQQ"), i(1)}), "error bad-make-arg"},
        {true, test::block_of({i(1), i(2), i(3)}), "error bad-make-arg"},
        {true, test::block_of({f(1.5), i(2)}), "error bad-make-arg"},
        {true, test::block_of({i(1), i(100000)}), "error bad-make-arg"},
        {true, test::block_of({test::word_of("USD")}), "error bad-make-arg"},
        {true, test::block_of({}), "error bad-make-arg"},
        {true, i(7), "$7.00000"},
        {false, m("USD$3"), "USD$3.00000"},
        {false, test::string_of("USD$1.50"), "USD$1.50000"},
        {false, test::string_of("-1'000.5"), "-$1000.50000"},
        {false, test::string_of("US$1"), "error bad-to-arg"},
        {false, test::string_of("$1."), "error bad-to-arg"},
        {false, test::string_of("$1.123456"), "$1.12345"},
        {false, test::string_of("abc"), "error bad-to-arg"},
        {false, test::string_of("QQQ$1"), "error bad-to-arg"},
        {false, f(1.2345678), "error bad-make-arg"},
        {false, f(0.1), "$0.10000"},
        {false, test::block_of({i(1)}), "error bad-to-arg"},
        {false, pct(0.5), "error bad-to-arg"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(outcome_of([&] { return run(c.make, c.spec); }, true), c.result) << test::mold(c.spec);
    }
}

TEST_F(MoneyTest, Comparison) {
    struct Case { Cell a; Cell b; CompareOp op; const char* result; };
    const Case cases[] = {
        {m("$1"), i(1), CompareOp::equal, "0"},
        {m("$1"), i(1), CompareOp::strict_equal, "1"},
        {m("$0.10"), f(0.1), CompareOp::equal, "0"},
        {m("$1"), f(1.123456), CompareOp::equal, "error bad-make-arg"},
        {m("$1"), f(1e-6), CompareOp::equal, "1"},
        {m("$1"), f(1e17), CompareOp::lesser, "-1"},
        {m("$2"), m("$10"), CompareOp::lesser, "-1"},
        {m("-$2"), m("-$10"), CompareOp::lesser, "1"},
        {m("-$2"), m("$0"), CompareOp::lesser, "-1"},
        {m("USD$1"), m("EUR$2"), CompareOp::lesser, "error wrong-denom"},
        {m("USD$1"), m("$1"), CompareOp::equal, "0"},
        {m("USD$1"), m("$1"), CompareOp::strict_equal, "1"},
        {m("USD$1"), m("EUR$1"), CompareOp::equal, "1"},
        {m("USD$1"), m("$1"), CompareOp::find, "0"},
        {m("$1"), m("USD$1"), CompareOp::find, "1"},
        {m("$5"), m("USD$1"), CompareOp::sort, "-1"},
        {m("USD$1"), m("EUR$5"), CompareOp::sort, "1"},
        {m("EUR$5"), m("EUR$1"), CompareOp::sort, "1"},
        {m("$1"), test::string_of("1"), CompareOp::equal, "-2"},
        {m("$1"), test::string_of("1"), CompareOp::same, "1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(outcome_of([&] { return integer::make_cell(test::compare(c.a, c.b, c.op)); }), c.result)
            << test::mold(c.a) << " " << test::mold(c.b) << " op " << static_cast<int>(c.op);
    }
    // Integers and floats compared with money go through money's rules.
    EXPECT_EQ(test::compare(i(2), m("$1.5"), CompareOp::greater), 1);
    EXPECT_EQ(test::compare(f(0.1), m("$0.10"), CompareOp::equal), 0);
}

TEST_F(MoneyTest, SignsPathsAndParity) {
    Cell negative_zero = money_of("$0");
    money::set_sign(&negative_zero, true);
    EXPECT_FALSE(money::negative_q(&negative_zero));
    EXPECT_FALSE(money::positive_q(&negative_zero));
    EXPECT_EQ(money::sign(&negative_zero), 0);
    EXPECT_EQ(test::mold(negative_zero), "$0.00");
    EXPECT_EQ(money::sign(&(const Cell&)money_of("-$0.00001")), -1);

    Cell v = money_of("-USD$12.5");
    EXPECT_EQ(test::mold(*registry::lookup<Action::absolute>(Type::money)(&v)), "USD$12.50");
    EXPECT_EQ(test::mold(*registry::lookup<Action::negate>(Type::money)(&v)), "-USD$12.50");
    auto even = registry::lookup<Action::even_q>(Type::money);
    for (auto [literal, is_even] : {std::pair{"$12.5", true}, {"$13", false}, {"-$13.9", false}, {"$0", true}}) {
        Cell c = money_of(literal);
        EXPECT_EQ(even(&c), is_even) << literal;
    }

    auto eval_path = registry::lookup<Action::eval_path>(Type::money);
    auto pick = registry::lookup<Action::pick>(Type::money);
    Cell path = none::value;
    Cell money = money_of("USD$12.5");
    Cell code = test::word_of("code");
    Cell amount = test::word_of("amount");
    EXPECT_EQ(test::mold(*eval_path(&money, &code, nullptr, &path, nullptr, nullptr, 0, false, false, true, false)), "USD");
    EXPECT_EQ(test::mold(*eval_path(&money, &amount, nullptr, &path, nullptr, nullptr, 0, false, false, true, false)), "$12.50");
    Cell plain = money_of("$1");
    EXPECT_EQ(test::mold(*eval_path(&plain, &code, nullptr, &path, nullptr, nullptr, 0, false, false, true, false)), "none");
    Cell three = i(3);
    EXPECT_EQ(error_of([&] { eval_path(&money, &three, nullptr, &path, nullptr, nullptr, 0, false, false, true, false); }),
              ErrorId::script_invalid_path);
    EXPECT_EQ(error_of([&] { eval_path(&money, &code, &three, &path, nullptr, nullptr, 0, false, false, true, false); }),
              ErrorId::script_bad_path_set);
    Cell p = money;
    EXPECT_EQ(test::mold(*pick(&p, 1, nullptr)), "USD");
    p = money;
    EXPECT_EQ(test::mold(*pick(&p, 0, &amount)), "$12.50");
    p = money;
    EXPECT_EQ(error_of([&] { pick(&p, 3, nullptr); }), ErrorId::script_out_of_range);
}

TEST_F(MoneyTest, Random) {
    auto random = registry::lookup<Action::random>(Type::money);
    const Cell bound = money_of("-USD$305.25");
    bool below = false;
    for (int k = 0; k < 100; ++k) {
        Cell r = bound;
        random(&r, false, k % 2 == 1, false);
        EXPECT_EQ(money::get_currency(&r), money::get_currency(&bound));
        // A negative bound draws toward zero: at or above the bound.
        EXPECT_GE(test::compare(r, bound, CompareOp::greater), 0) << test::mold(r);
        EXPECT_TRUE(money::sign(&r) <= 0);
        below = below || test::compare(r, money_of("-USD$200"), CompareOp::greater) > 0;
    }
    EXPECT_TRUE(below);
    Cell s = bound;
    EXPECT_TRUE(random(&s, true, false, false)->is(Type::unset));
}

}  // namespace kiv
