#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/datatypes/date.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/time.h"
#include "runtime/evaluator/lexer-numbers.h"
#include "tests/unit/runtime-support.h"

namespace kiv {

namespace {

using test::error_of;

class DateTest : public test::RuntimeTest {
protected:
    void SetUp() override {
        test::RuntimeTest::SetUp();
        integer::init();
        float_::init();
        percent::init();
        time::init();
        date::init();
    }
    void TearDown() override {
        date::set_months_source(nullptr);
        test::RuntimeTest::TearDown();
    }
};

// A date from its literal text, as the lexer reads it.
Cell date_of(const char* text) {
    lexer::Date d;
    const auto* s = reinterpret_cast<const std::uint8_t*>(text);
    EXPECT_TRUE(lexer::read_date(s, s + std::strlen(text), d)) << text;
    Cell c;
    date::make_at_zone(&c, d.year, d.month, d.day, d.seconds, d.zone_minutes / 60, d.zone_minutes % 60,
                       d.has_time);
    return c;
}

std::string text(const char* literal) { return test::mold(date_of(literal)); }

Cell time_cell(double seconds) { return time::make_cell(seconds); }

Cell field(Cell d, int f) {
    Cell out;
    date::get_field(&d, f, &out);
    return out;
}

Cell with_field(const char* literal, int f, Cell value) {
    Cell d = date_of(literal);
    date::set_field(&d, f, &value);
    return d;
}

Cell math(Cell a, Cell b, MathOp op) {
    date::do_math(&a, &b, op);
    return a;
}

Cell block_spec(std::initializer_list<Cell> items) { return test::block_of(items); }

Cell made(Cell spec, bool make) {
    Cell proto = date::make_cell(0, 0.0);
    if (make) return *registry::lookup<Action::make>(Type::date)(&proto, &spec, Type::date);
    return *registry::lookup<Action::to>(Type::date)(&proto, &spec, Type::date);
}

std::int32_t int_field(const char* literal, int f) {
    const Cell c = field(date_of(literal), f);
    return integer::get(&c);
}

Cell i(std::int32_t n) { return integer::make_cell(n); }

}  // namespace

TEST(DateCalendar, DayNumbersRoundTripAndStayValid) {
    EXPECT_EQ(date::to_days(date::pack(0, 3, 1, 0, false)), 0);
    EXPECT_EQ(date::weekday_of_days(0), 3);  // 1 March 0000 was a Wednesday
    // Every day of years -2737 to 2737, and the ends of what a packed word
    // holds.
    const std::int32_t first = -1000000;
    const std::int32_t last = 1000000;
    for (std::uint32_t p : {date::pack(-16384, 1, 1, 0, false), date::pack(16383, 12, 31, 0, false)}) {
        EXPECT_EQ(date::from_days(date::to_days(p), 0, false), p);
    }
    int previous_day = 0;
    for (std::int32_t g = first; g <= last; ++g) {
        const std::uint32_t p = date::from_days(g, 0, false);
        ASSERT_EQ(date::to_days(p), g) << g;
        const int day = date::day_of(p);
        ASSERT_TRUE(day == previous_day + 1 || (day == 1 && previous_day >= 28) || g == first) << g;
        previous_day = day;
    }
    // 1-Jan-1970 was a Thursday; 2000 was leap, 1900 and 2100 are not.
    EXPECT_EQ(date::weekday_of_days(date::to_days(date::pack(1970, 1, 1, 0, false))), 4);
    for (auto [year, leap] : {std::pair{2000, true}, {1900, false}, {2100, false}, {2024, true}, {2023, false}}) {
        EXPECT_EQ(date::leap_year_q(year), leap) << year;
        const std::int32_t feb28 = date::to_days(date::pack(year, 2, 28, 0, false));
        EXPECT_EQ(date::day_of(date::from_days(feb28 + 1, 0, false)), leap ? 29 : 1) << year;
    }
}

TEST_F(DateTest, FormAndMold) {
    struct Case { const char* literal; const char* text; };
    const Case cases[] = {
        {"5-Mar-2024/14:30+5:30", "5-Mar-2024/14:30:00+05:30"},
        {"1-Jan-2000", "1-Jan-2000"},
        {"2000-01-01", "1-Jan-2000"},
        {"1/1/2000", "1-Jan-2000"},
        {"1-1-49", "1-Jan-2049"},
        {"1-1-50", "1-Jan-1950"},
        {"5-3-0099", "5-Mar-0099"},
        {"2000-W01-1", "3-Jan-2000"},
        {"2000-032", "1-Feb-2000"},
        {"20000101T120000Z", "1-Jan-2000/12:00:00"},
        {"31-Dec-1999/23:59:59.5-8:00", "31-Dec-1999/23:59:59.5-08:00"},
        {"1-Jan-2020/0:00-3:45", "1-Jan-2020/0:00:00-03:45"},
        {"1/Jan/-44", "1/Jan/-0044"},
        {"1/Jan/-1000", "1/Jan/-1000"},
    };
    for (const Case& c : cases) EXPECT_EQ(text(c.literal), c.text) << c.literal;
    EXPECT_EQ(test::form(date_of("5-Mar-2024/14:30")), "5-Mar-2024/14:30:00");
}

TEST_F(DateTest, FormUsesTheLocaleMonthsAndRefusesABadList) {
    // GC: the list lives in a static cell, which the collector must see.
    static Cell names;
    collector::register_root_cell(&names);
    names = test::block_of({test::string_of("Janvier"), test::string_of("Fe")});
    date::set_months_source([]() -> const Cell* { return &names; });
    EXPECT_EQ(text("3-Jan-2024"), "3-Jan-2024");
    EXPECT_EQ(text("3-Feb-2024"), "3-Fe-2024");
    EXPECT_EQ(error_of([] { text("3-Mar-2024"); }), ErrorId::script_invalid_months);
    names = test::block_of({i(1)});
    EXPECT_EQ(error_of([] { text("3-Jan-2024"); }), ErrorId::script_invalid_months);
}

TEST_F(DateTest, FieldReads) {
    const Cell d = date_of("5-Mar-2024/14:30:15.5+5:30");
    struct Case { int f; const char* molded; };
    const Case cases[] = {
        {date::f_date, "5-Mar-2024"},   {date::f_year, "2024"},    {date::f_month, "3"},
        {date::f_day, "5"},             {date::f_zone, "5:30:00"}, {date::f_time, "14:30:15.5"},
        {date::f_hour, "14"},           {date::f_minute, "30"},    {date::f_second, "15.5"},
        {date::f_weekday, "2"},         {date::f_yearday, "65"},   {date::f_timezone, "5:30:00"},
        {date::f_week, "10"},           {date::f_isoweek, "10"},
    };
    for (const Case& c : cases) EXPECT_EQ(test::mold(field(d, c.f)), c.molded) << c.f;
    // A date without time has no time, zone or timezone.
    const Cell plain = date_of("5-Mar-2024");
    for (int f : {date::f_time, date::f_zone, date::f_timezone}) EXPECT_TRUE(field(plain, f).is(Type::none));
}

TEST_F(DateTest, Weeks) {
    struct Case { const char* literal; int iso; int week; };
    const Case cases[] = {
        {"1-Jan-2021", 53, 1},  // a Friday: the last week of 2020
        {"1-Jan-2022", 52, 1},  // a Saturday, 2021 not leap
        {"1-Jan-2017", 52, 1},  // a Sunday
        {"1-Jan-2005", 53, 1},  // a Saturday after leap 2004
        {"4-Jan-2021", 1, 2},   {"31-Dec-2024", 1, 53}, {"28-Dec-2020", 53, 53},
        {"1-Jan-2024", 1, 1},   {"7-Jan-2024", 1, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(int_field(c.literal, date::f_isoweek), c.iso) << c.literal;
        EXPECT_EQ(int_field(c.literal, date::f_week), c.week) << c.literal;
    }
}

TEST_F(DateTest, FieldWrites) {
    struct Case { const char* literal; int f; Cell value; const char* result; };
    const Case cases[] = {
        {"31-Jan-2024", date::f_month, i(2), "2-Mar-2024"},
        {"15-Jan-2024", date::f_month, i(13), "15-Jan-2025"},
        {"15-Jan-2024", date::f_month, i(0), "15-Dec-2023"},
        {"15-Jan-2024", date::f_month, i(-1), "15-Nov-2023"},
        {"15-Jan-2024", date::f_month, i(-11), "15-Jan-2023"},
        {"15-Jan-2024", date::f_month, i(-12), "15-Dec-2022"},
        {"29-Feb-2024", date::f_year, i(2023), "1-Mar-2023"},
        {"15-Mar-2024", date::f_day, i(0), "29-Feb-2024"},
        {"15-Mar-2024", date::f_day, i(32), "1-Apr-2024"},
        {"6-Mar-2024", date::f_weekday, i(1), "4-Mar-2024"},
        {"6-Mar-2024", date::f_weekday, i(7), "10-Mar-2024"},
        {"6-Mar-2024", date::f_yearday, i(1), "1-Jan-2024"},
        {"6-Mar-2024", date::f_yearday, i(366), "31-Dec-2024"},
        {"6-Mar-2024", date::f_isoweek, i(1), "1-Jan-2024"},
        {"6-Mar-2021", date::f_isoweek, i(1), "4-Jan-2021"},
        {"6-Mar-2024", date::f_week, i(2), "7-Jan-2024"},
        {"6-Mar-2024", date::f_date, date_of("1-Feb-2000/10:00"), "1-Feb-2000/0:00:00"},
        {"6-Mar-2024/10:00+2:00", date::f_zone, i(-5), "6-Mar-2024/10:00:00-05:00"},
        {"6-Mar-2024/10:00+2:00", date::f_zone, time_cell(-1800), "6-Mar-2024/10:00:00-00:30"},
        {"6-Mar-2024/10:00+2:00", date::f_timezone, i(-5), "6-Mar-2024/3:00:00-05:00"},
        {"6-Mar-2024/1:00+2:00", date::f_timezone, i(-5), "5-Mar-2024/18:00:00-05:00"},
        {"6-Mar-2024/23:00", date::f_timezone, time_cell(3 * 3600), "7-Mar-2024/2:00:00+03:00"},
        {"6-Mar-2024", date::f_zone, i(1), "6-Mar-2024/0:00:00+01:00"},
        {"6-Mar-2024/10:00", date::f_time, none::value, "6-Mar-2024"},
        {"6-Mar-2024", date::f_time, time_cell(25 * 3600), "7-Mar-2024/1:00:00"},
        {"6-Mar-2024/10:20:30+2:00", date::f_hour, i(23), "6-Mar-2024/23:20:30+02:00"},
        {"6-Mar-2024/10:20:30+2:00", date::f_minute, i(5), "6-Mar-2024/10:05:30+02:00"},
        {"6-Mar-2024/10:20:30+2:00", date::f_second, float_::make_cell(1.5), "6-Mar-2024/10:20:01.5+02:00"},
        {"6-Mar-2024/23:20", date::f_minute, i(60), "7-Mar-2024/0:00:00"},
        {"6-Mar-2024", date::f_hour, i(5), "6-Mar-2024/5:00:00"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(test::mold(with_field(c.literal, c.f, c.value)), c.result) << c.literal << " field " << c.f;
    }
    // Writing hour, minute or second keeps the instant when the field
    // keeps its value, whatever the zone.
    for (int f : {date::f_hour, date::f_minute, date::f_second}) {
        const Cell d = date_of("6-Mar-2024/10:20:30-7:15");
        EXPECT_EQ(test::compare(with_field("6-Mar-2024/10:20:30-7:15", f, field(d, f)), d, CompareOp::same), 0);
    }
    struct Bad { int f; Cell value; };
    const Bad bad[] = {
        {date::f_year, float_::make_cell(1.0)}, {date::f_date, i(1)}, {date::f_zone, none::value},
        {date::f_time, i(1)},                   {date::f_hour, float_::make_cell(1.0)},
    };
    for (const Bad& b : bad) {
        EXPECT_EQ(error_of([&] { with_field("6-Mar-2024", b.f, b.value); }), ErrorId::script_invalid_arg) << b.f;
    }
}

TEST_F(DateTest, Arithmetic) {
    struct Case { const char* literal; Cell operand; MathOp op; const char* result; };
    const Case cases[] = {
        {"28-Feb-2024", i(1), MathOp::add, "29-Feb-2024"},
        {"28-Feb-2023", i(1), MathOp::add, "1-Mar-2023"},
        {"1-Mar-2024", i(1), MathOp::subtract, "29-Feb-2024"},
        {"1-Jan-2024", i(-366), MathOp::add, "31-Dec-2022"},
        {"31-Dec-2024", time_cell(3600), MathOp::add, "31-Dec-2024/1:00:00"},
        {"31-Dec-2024/23:30", time_cell(3600), MathOp::add, "1-Jan-2025/0:30:00"},
        {"1-Jan-2025/0:30+5:00", time_cell(3600), MathOp::subtract, "31-Dec-2024/23:30:00+05:00"},
        {"1-Jan-2025/0:30-5:00", time_cell(-48 * 3600.0), MathOp::add, "30-Dec-2024/0:30:00-05:00"},
    };
    for (const Case& c : cases) EXPECT_EQ(test::mold(math(date_of(c.literal), c.operand, c.op)), c.result) << c.literal;

    const Cell days = math(date_of("1-Jan-2020/1:00+2:00"), date_of("1-Jan-2020/0:00"), MathOp::subtract);
    ASSERT_TRUE(days.is(Type::integer));
    EXPECT_EQ(integer::get(&days), 0);
    EXPECT_EQ(test::mold(field(date_of("1-Jan-2020/1:00+2:00"), date::f_time)), "1:00:00");
    const Cell span = math(date_of("1-Mar-2024"), date_of("1-Feb-2024"), MathOp::subtract);
    EXPECT_EQ(integer::get(&span), 29);
    const Cell back = math(date_of("1-Feb-2024"), date_of("1-Mar-2024"), MathOp::subtract);
    EXPECT_EQ(integer::get(&back), -29);

    EXPECT_EQ(error_of([] { math(date_of("1-Jan-2020"), date_of("1-Jan-2020"), MathOp::add); }),
              ErrorId::script_not_related);
    EXPECT_EQ(error_of([] { math(date_of("1-Jan-2020"), float_::make_cell(1.0), MathOp::add); }),
              ErrorId::script_invalid_type);
    EXPECT_EQ(error_of([] { math(date_of("1-Jan-9999"), i(3000000), MathOp::add); }),
              ErrorId::script_type_limit);
    // Through the other units' actions: an integer or a time first.
    Cell n = i(2);
    Cell d = date_of("28-Feb-2024");
    EXPECT_EQ(test::mold(*registry::find<Action::add>(&n)(&n, &d)), "1-Mar-2024");
    Cell t = time_cell(90);
    d = date_of("28-Feb-2024");
    EXPECT_EQ(test::mold(*registry::find<Action::add>(&t)(&t, &d)), "28-Feb-2024/0:01:30");
}

TEST_F(DateTest, DifferenceAndEpoch) {
    const Cell a = date_of("2-Jan-2020/1:00");
    const Cell b = date_of("1-Jan-2020");
    EXPECT_EQ(date::difference(&a, &b), 25 * 3600.0);
    const Cell c = date_of("1-Jan-2020/12:00+2:00");
    const Cell d = date_of("1-Jan-2020/12:00");
    EXPECT_EQ(date::difference(&c, &d), -7200.0);
    struct Case { const char* literal; std::int64_t epoch; };
    const Case cases[] = {
        {"1-Jan-1970/0:00", 0}, {"1-Jan-1970", 0}, {"2-Jan-1970/1:00+1:00", 86400},
        {"31-Dec-1969/23:59:59", -1}, {"19-Jan-2038/3:14:08", 2147483648LL},
    };
    for (const Case& c : cases) {
        const Cell v = date_of(c.literal);
        EXPECT_EQ(date::to_epoch(&v), c.epoch) << c.literal;
    }
    // to integer! of a date gives the same seconds, within the 32-bit range.
    auto to_integer = registry::lookup<Action::to>(Type::integer);
    Cell spec = date_of("2-Jan-1970/1:00+1:00");
    Cell proto = i(0);
    EXPECT_EQ(integer::get(to_integer(&proto, &spec, Type::integer)), 86400);
    spec = date_of("19-Jan-2038/3:14:08");
    EXPECT_EQ(error_of([&] { to_integer(&proto, &spec, Type::integer); }), ErrorId::script_type_limit);
}

TEST_F(DateTest, ComparisonIsByInstant) {
    struct Case { const char* a; const char* b; CompareOp op; int result; };
    const Case cases[] = {
        {"1-Jan-2020/12:00+2:00", "1-Jan-2020/10:00", CompareOp::equal, 0},
        {"1-Jan-2020/12:00+2:00", "1-Jan-2020/10:00", CompareOp::strict_equal, 0},
        {"1-Jan-2020/12:00+2:00", "1-Jan-2020/10:00", CompareOp::same, 1},
        {"1-Jan-2020/10:00", "1-Jan-2020/10:00", CompareOp::same, 0},
        {"2-Jan-2020/1:00+3:00", "1-Jan-2020/23:00", CompareOp::lesser, -1},
        {"1-Jan-2020/23:00", "2-Jan-2020/1:00+3:00", CompareOp::greater, 1},
        {"1-Jan-2020", "1-Jan-2020/0:00", CompareOp::equal, 0},
        {"1-Jan-2020", "1-Jan-2020/0:00:01", CompareOp::sort, -1},
        {"1-Jan-2020", "2-Jan-2020", CompareOp::not_equal, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(test::compare(date_of(c.a), date_of(c.b), c.op), c.result) << c.a << " " << c.b;
    }
    EXPECT_EQ(test::compare(date_of("1-Jan-2020"), i(1), CompareOp::equal), not_comparable);
}

TEST_F(DateTest, MakeAndToFromSpecs) {
    struct Case { Cell spec; bool make; const char* result; };
    const Case cases[] = {
        {block_spec({i(2024), i(3), i(5)}), true, "5-Mar-2024"},
        {block_spec({i(5), i(3), i(2024)}), true, "5-Mar-2024"},
        {block_spec({i(5), i(3), i(99)}), true, "5-Mar-0099"},
        {block_spec({i(29), i(2), i(2023)}), false, "1-Mar-2023"},
        {block_spec({i(5), i(3), i(2024), time_cell(3600)}), true, "5-Mar-2024/1:00:00"},
        {block_spec({i(5), i(3), i(2024), i(10), i(20), float_::make_cell(5.5), i(-5), i(30)}), true,
         "5-Mar-2024/10:20:05.5-05:30"},
        {block_spec({i(5), i(3), i(2024), i(10), i(20), i(5), time_cell(2 * 3600)}), true,
         "5-Mar-2024/10:20:05+02:00"},
        {block_spec({i(5), i(3), i(2024), time_cell(3600), time_cell(-1800)}), true,
         "5-Mar-2024/1:00:00-00:30"},
        {block_spec({i(5), i(3), i(2024), i(0), i(0), i(0)}), true, "5-Mar-2024/0:00:00"},
        {block_spec({i(31), i(12), i(2024), time_cell(25 * 3600)}), false, "1-Jan-2025/1:00:00"},
        {block_spec({i(15), i(14), i(2024)}), false, "15-Feb-2025"},
        {i(0), false, "1-Jan-1970/0:00:00"},
        {i(-1), false, "31-Dec-1969/23:59:59"},
        {i(86400 + 3661), false, "2-Jan-1970/1:01:01"},
        {date_of("1-Jan-2000"), true, "1-Jan-2000"},
    };
    for (const Case& c : cases) EXPECT_EQ(test::mold(made(c.spec, c.make)), c.result) << c.result;

    const Cell bad_make[] = {
        block_spec({i(29), i(2), i(2023)}),
        block_spec({i(5), i(3), i(2024), i(10), i(75), i(0)}),
        block_spec({i(5), i(3), i(2024), i(24), i(0)}),
        block_spec({i(5), i(3)}),
        block_spec({i(5), i(3), i(2024), i(1), i(2), i(3), i(4), i(5), i(6)}),
        block_spec({i(5), float_::make_cell(3), i(2024)}),
        block_spec({i(5), i(3), test::string_of("x")}),
        block_spec({i(5), i(3), i(100000)}),
        i(0),
        test::string_of("1-Jan-2000"),
    };
    for (const Cell& spec : bad_make) {
        EXPECT_EQ(error_of([&] { made(spec, true); }), ErrorId::script_bad_to_arg) << test::mold(spec);
    }
}

TEST_F(DateTest, PathsAndPick) {
    auto eval_path = registry::lookup<Action::eval_path>(Type::date);
    auto pick = registry::lookup<Action::pick>(Type::date);
    Cell d = date_of("5-Mar-2024/14:30+1:00");
    Cell path = none::value;
    Cell element = test::word_of("month");
    EXPECT_EQ(test::mold(*eval_path(&d, &element, nullptr, &path, nullptr, nullptr, 0, false, false, true, false)), "3");
    Cell four = i(4);
    Cell value = i(12);
    eval_path(&d, &four, &value, &path, nullptr, nullptr, 0, false, false, true, false);
    EXPECT_EQ(test::mold(d), "12-Mar-2024/14:30:00+01:00");
    Cell julian = test::word_of("julian");
    EXPECT_EQ(test::mold(*eval_path(&d, &julian, nullptr, &path, nullptr, nullptr, 0, false, false, true, false)), "72");
    for (Cell bad : {i(0), i(15), test::word_of("nope"), test::string_of("day")}) {
        EXPECT_EQ(error_of([&] { eval_path(&d, &bad, nullptr, &path, nullptr, nullptr, 0, false, false, true, false); }),
                  ErrorId::script_invalid_path);
    }
    Cell before = d;
    Cell wrong = test::string_of("x");
    EXPECT_EQ(error_of([&] { eval_path(&d, &element, &wrong, &path, nullptr, nullptr, 0, false, false, true, false); }),
              ErrorId::script_invalid_arg);
    EXPECT_EQ(test::compare(d, before, CompareOp::same), 0);

    Cell p = d;
    EXPECT_EQ(test::mold(*pick(&p, 2, nullptr)), "2024");
    p = d;
    Cell weekday = test::word_of("weekday");
    EXPECT_EQ(test::mold(*pick(&p, 0, &weekday)), "2");
    p = d;
    EXPECT_EQ(error_of([&] { pick(&p, 15, nullptr); }), ErrorId::script_out_of_range);
}

TEST_F(DateTest, Random) {
    auto random = registry::lookup<Action::random>(Type::date);
    for (int k = 0; k < 200; ++k) {
        Cell d = date_of("1-Jan-2000");
        random(&d, false, k % 2 == 1, false);
        EXPECT_LT(date::to_days(date::packed(&d)), date::to_days(date::pack(2000, 1, 1, 0, false)));
        EXPECT_FALSE(date::has_time(date::packed(&d)));
        Cell t = date_of("1-Jan-2000/12:00");
        random(&t, false, k % 2 == 1, false);
        const double local = date::to_local(date::time_of(&t), date::zone_of(date::packed(&t)));
        EXPECT_GE(local, 0.0);
        EXPECT_LT(local, 86400.0);
    }
    Cell s = date_of("1-Jan-2000");
    EXPECT_TRUE(random(&s, true, false, false)->is(Type::unset));
}

}  // namespace kiv
