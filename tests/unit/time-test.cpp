#include <gtest/gtest.h>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/time.h"
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

std::string text_of(double t) {
    char out[time::text_size];
    const std::size_t n = time::format(t, out);
    EXPECT_EQ(n, std::strlen(out));
    return out;
}

}  // namespace

TEST(Time, Form) {
    struct Case { double t; const char* text; };
    const Case cases[] = {
        {0, "0:00:00"},           {90, "0:01:30"},          {3661.5, "1:01:01.5"},
        {0.25, "0:00:00.25"},     {-90, "-0:01:30"},        {360000, "100:00:00"},
        {0.0000005, "0:00:00"},   {0.000001, "0:00:00.000001"},
        {-5415.5, "-1:30:15.5"},  {45296.789, "12:34:56.789"},
        {59.9999999, "0:01:00"},  {3599.9999999, "1:00:00"}, {-59.9999999, "-0:01:00"},
        {1.0 / 0.0, "1.#INF"},
    };
    for (const Case& c : cases) EXPECT_EQ(text_of(c.t), c.text) << c.t;
}

TEST(Time, FieldsOfNegativeTimes) {
    const double t = -(3600 + 30 * 60 + 15);  // -1:30:15
    EXPECT_EQ(time::get_hours(t), -1);
    EXPECT_EQ(time::get_minutes(t), 30);
    EXPECT_EQ(time::get_seconds(t), -15.0);
    EXPECT_EQ(time::get_hours(5400), 1);
    EXPECT_EQ(time::get_minutes(5400), 30);
    EXPECT_EQ(fired([] { time::get_hours(1e20); }), ErrorId::script_type_limit);
}

TEST(Time, FieldWrites) {
    const Cell i45 = integer::make_cell(45);
    const Cell i75 = integer::make_cell(75);
    const Cell i2 = integer::make_cell(2);
    const Cell f30 = float_::make_cell(30.5);
    struct Case { double t; int field; const Cell* value; double result; };
    const Case cases[] = {
        {5400, time::minute, &i45, 6300},         // 1:30:00 -> 1:45:00
        {5400, time::minute, &i75, 8100},         // minutes carry into hours
        {5400, time::hour, &i2, 9000},
        {5400, time::second, &f30, 5430.5},
        {-5415, time::minute, &i45, -6315},       // -1:30:15 -> -1:45:15
        {-5415, time::hour, &i2, -5415 + 3 * 3600.0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(time::set_field(c.t, c.field, c.value), c.result) << c.t << " field " << c.field;
    }
    // Writing back the value each field reads leaves the time as it was.
    for (double t : {-5415.25, 5415.25, -0.5, -86399.0}) {
        const Cell h = integer::make_cell(time::get_hours(t));
        const Cell m = integer::make_cell(time::get_minutes(t));
        const Cell s = float_::make_cell(time::get_seconds(t));
        EXPECT_EQ(time::set_field(t, time::hour, &h), t);
        EXPECT_EQ(time::set_field(t, time::minute, &m), t);
        EXPECT_EQ(time::set_field(t, time::second, &s), t);
    }
    const Cell f = float_::make_cell(2.5);
    EXPECT_EQ(fired([&] { time::set_field(0, time::hour, &f); }), ErrorId::script_invalid_arg);
    EXPECT_EQ(fired([&] { time::set_field(0, time::minute, &f); }), ErrorId::script_invalid_arg);
}

TEST(Time, FromParts) {
    const Cell spec{static_cast<std::uint32_t>(Type::block), 0, 0, 0};
    const Cell one = integer::make_cell(1), thirty = integer::make_cell(30), minus_one = integer::make_cell(-1);
    const Cell half = float_::make_cell(15.5), minus_thirty = integer::make_cell(-30), f = float_::make_cell(2.5);
    struct Case { std::vector<Cell> parts; double seconds; };
    const Case ok[] = {
        {{}, 0},
        {{one, thirty}, 5400},
        {{minus_one, thirty, half}, -5415.5},
        {{one, thirty, thirty}, 5430},
    };
    for (const Case& c : ok) {
        EXPECT_EQ(time::from_parts(c.parts.data(), std::ssize(c.parts), &spec), c.seconds);
    }
    const std::vector<Cell> bad[] = {
        {one, one, one, one}, {one, f}, {one, minus_thirty}, {one, one, minus_one}, {spec},
    };
    for (const auto& parts : bad) {
        EXPECT_EQ(fired([&] { time::from_parts(parts.data(), std::ssize(parts), &spec); }),
                  ErrorId::script_bad_to_arg);
    }
}

TEST(Time, ParityOfTheSeconds) {
    struct Case { double t; bool even; };
    const Case cases[] = {{3602, true}, {3603, false}, {1.5, false}, {3600, true},
                          {-3, false}, {2.9999999, false}, {61.9999995, true}};
    for (const Case& c : cases) {
        EXPECT_EQ(time::even_q(c.t), c.even) << c.t;
        EXPECT_EQ(time::odd_q(c.t), !c.even) << c.t;
    }
    EXPECT_FALSE(time::even_q(0.0 / 0.0));
    EXPECT_FALSE(time::odd_q(0.0 / 0.0));
}

}  // namespace kiv
