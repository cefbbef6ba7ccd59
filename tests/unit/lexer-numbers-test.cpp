// Number text: the float syntax, correctly rounded reading, and the
// conversion scanners over string characters of every width.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "runtime/evaluator/lexer-numbers.h"

namespace kiv::lexer {

namespace {

// The characters of `text` as units of `width` bytes.
std::vector<std::uint8_t> units(const std::string& text, int width) {
    std::vector<std::uint8_t> out(text.size() * static_cast<std::size_t>(width) + 4);
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = static_cast<std::uint8_t>(text[i]);
        std::memcpy(out.data() + i * static_cast<std::size_t>(width), &c, static_cast<std::size_t>(width));
    }
    return out;
}

}  // namespace

TEST(LexerNumbers, FloatSyntax) {
    struct Case { const char* text; bool ok; };
    const Case cases[] = {
        {"1", true},     {"-1.5", true},  {"+.5", true},   {".", true},    {"1.", true},
        {"1'000.5", true}, {"1.5'5", true}, {"1'", true},  {"1e5", true},  {"1E-5", true},
        {"--1", true},   {"", false},     {"+", false},    {"1e", false},  {"1e+", false},
        {"1.e5", false}, {"1''0", false}, {"1.5.5", false}, {"1,5", false}, {"1x", false},
        {"'1", false},   {"1.'5", false}, {"1e5.5", false},
    };
    for (const Case& c : cases) EXPECT_EQ(float_syntax(c.text, std::strlen(c.text)), c.ok) << c.text;
    std::string longest = "1" + std::string(max_float_text - 1, '0');
    EXPECT_TRUE(float_syntax(longest.data(), longest.size()));
    longest += "0";
    EXPECT_FALSE(float_syntax(longest.data(), longest.size()));
}

TEST(LexerNumbers, ReadingIsCorrectlyRounded) {
    struct Case { const char* text; int extra; double value; };
    const Case cases[] = {
        {"0.1", 0, 0.1},
        {"1'000.5", 0, 1000.5},
        {"1,5", 0, 1.5},
        {"-0.0", 0, -0.0},
        {"5", -2, 0.05},
        {"50", -2, 0.5},
        {"2.2250738585072014e-308", 0, 2.2250738585072014e-308},
        {"4.9406564584124654e-324", 0, 4.9406564584124654e-324},
        {"1.7976931348623157e308", 0, 1.7976931348623157e308},
        {"9007199254740993", 0, 9007199254740992.0},  // a tie rounds to even
        {"9007199254740993.000000000000000000001", 0, 9007199254740994.0},
        {"1e400", 0, std::numeric_limits<double>::infinity()},
        {"-1e400", 0, -std::numeric_limits<double>::infinity()},
        {"1e-400", 0, 0.0},
        {"1e99999999999", 0, std::numeric_limits<double>::infinity()},
        {"0.000000000000000000000000000000000000000000000000001", 0, 1e-51},
    };
    for (const Case& c : cases) {
        double v = -1;
        ASSERT_TRUE(text_to_float(c.text, std::strlen(c.text), c.extra, v)) << c.text;
        EXPECT_EQ(v, c.value) << c.text;
        EXPECT_EQ(std::signbit(v), std::signbit(c.value)) << c.text;
    }
    // more digits than a double can tell apart still round by all of them
    std::string tail = "9007199254740993." + std::string(900, '0') + "1";
    double v;
    ASSERT_TRUE(text_to_float(tail.data(), tail.size(), 0, v));
    EXPECT_EQ(v, 9007199254740994.0);
    for (const char* bad : {"", ".", "+", "--1", "1e", "1x", "1.5.5"})
        EXPECT_FALSE(text_to_float(bad, std::strlen(bad), 0, v)) << bad;
}

TEST(LexerNumbers, ScanInteger) {
    struct Case { const char* text; std::int32_t value; int error; };
    const Case cases[] = {
        {"1'000", 1000, 0},
        {"+42", 42, 0},
        {"-7", -7, 0},
        {"12a", 12, -1},
        {"-12a", -12, -1},
        {"1-2", 1, -1},
        {"2147483647", 2147483647, 0},
        {"2147483648", 0, -2},
        {"-2147483648", std::numeric_limits<std::int32_t>::min(), 0},
        {"-2147483649", 0, -2},
        {"-21474836480", 0, -2},
        {"99999999999999999999", 0, -2},
        {"", 0, 0},
    };
    for (int width : {1, 2, 4}) {
        for (const Case& c : cases) {
            auto u = units(c.text, width);
            int error = 99;
            EXPECT_EQ(scan_integer(u.data(), static_cast<int>(std::strlen(c.text)), width, error), c.value)
                << c.text << " width " << width;
            EXPECT_EQ(error, c.error) << c.text << " width " << width;
        }
    }
}

TEST(LexerNumbers, ScanFloat) {
    struct Case { const char* text; double value; };  // NaN: not a float
    const double no = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {"1,5", 1.5}, {"1.5", 1.5}, {"-1'000.25", -1000.25}, {"1e3", 1000.0}, {"1e", no},
        {"1.5x", no}, {"", no},     {".", no},               {" 1", no},
    };
    for (int width : {1, 2, 4}) {
        for (const Case& c : cases) {
            auto u = units(c.text, width);
            int error = 99;
            double v = scan_float(u.data(), static_cast<int>(std::strlen(c.text)), width, error);
            if (std::isnan(c.value)) {
                EXPECT_TRUE(std::isnan(v)) << c.text;
                EXPECT_EQ(error, -1) << c.text;
            } else {
                EXPECT_EQ(v, c.value) << c.text;
                EXPECT_EQ(error, 0) << c.text;
            }
        }
    }
    std::string long_text(313, '1');
    auto u = units(long_text, 1);
    int error = 0;
    EXPECT_TRUE(std::isnan(scan_float(u.data(), 313, 1, error)));
    EXPECT_EQ(error, -1);
    // a wide character must not pass for the digit its low byte spells
    std::uint16_t wide[] = {'1', 0x0131};
    EXPECT_TRUE(std::isnan(scan_float(wide, 2, 2, error)));
}

TEST(LexerNumbers, ScanMoney) {
    struct Case { const char* text; const char* money; };  // "" for a failure
    const Case cases[] = {
        {"USD$1.50", "USD 1.50"}, {"$1", " 1"},      {"1.50", " 1.50"},  {"-$1'000.5", "- 1000.5"},
        {"+usd$2", "usd 2"},      {"US$1", ""},      {"USD1", ""},       {"$'1", ""},
        {"$1.", ""},              {"$1.2'3", ""},    {"$1''0", ""},      {"$.5", ""},
        {"1'", ""},               {"1.2.3", ""},     {"", ""},           {"$", ""},
        {"-", ""},                {"USD$", ""},      {"$1x", ""},
    };
    for (int width : {1, 2, 4}) {
        for (const Case& c : cases) {
            auto u = units(c.text, width);
            MoneyText m;
            int status = scan_money(u.data(), static_cast<int>(std::strlen(c.text)), width, m);
            std::string got;
            if (status == 0) {
                got = std::string(m.negative ? "-" : "") + m.currency + " " + m.integer_digits;
                if (!m.fraction_digits.empty()) got += "." + m.fraction_digits;
            }
            EXPECT_EQ(got, c.money) << c.text << " width " << width;
        }
    }
}

TEST(LexerNumbers, TokenReaders) {
    std::int32_t v;
    auto b = [](const char* s) { return reinterpret_cast<const std::uint8_t*>(s); };
    auto hex = [&](const char* s) { return read_hex(b(s), b(s) + std::strlen(s), v); };
    EXPECT_EQ(hex("0Ah"), 0);
    EXPECT_EQ(v, 10);
    EXPECT_EQ(hex("FFFFFFFFh"), 0);
    EXPECT_EQ(v, -1);
    EXPECT_EQ(hex("Ah"), static_cast<int>(Type::word));
    EXPECT_EQ(hex("1h"), static_cast<int>(Type::integer));
    EXPECT_EQ(hex("123456789h"), static_cast<int>(Type::integer));

    std::uint8_t parts[12];
    auto tuple = [&](const char* s) { return read_tuple(b(s), b(s) + std::strlen(s), parts); };
    EXPECT_EQ(tuple("1.2"), 0);
    EXPECT_EQ(tuple("1.2.3"), 3);
    EXPECT_EQ(tuple("1.2.3.4.5.6.7.8.9.10.11.255"), 12);
    EXPECT_EQ(parts[11], 255);
    EXPECT_EQ(tuple("1.2.3.4.5.6.7.8.9.10.11.12.13"), 0);
    EXPECT_EQ(tuple("1.2.99999999999"), 0);

    double seconds;
    auto time = [&](const char* s) { return read_time(b(s), b(s) + std::strlen(s), seconds); };
    ASSERT_TRUE(time("1:30:45,5"));  // "," is a decimal point in the seconds
    EXPECT_EQ(seconds, 5445.5);
    ASSERT_TRUE(time("2147483647:0"));
    EXPECT_EQ(seconds, 2147483647.0 * 3600);
    EXPECT_FALSE(time("2147483648:0"));
    EXPECT_FALSE(time("1:2e1"));
    EXPECT_FALSE(time("1:"));
}

}  // namespace kiv::lexer
