#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "runtime/float-text.h"

namespace kiv {

namespace {

constexpr double inf = std::numeric_limits<double>::infinity();

double read(const std::string& text, int* unread, int extra = 0) {
    return dtoa::text_to_float(text.data(), text.data() + text.size(), extra, unread);
}

std::uint64_t bits(double d) { return std::bit_cast<std::uint64_t>(d); }

}  // namespace

TEST(FloatText, Layout) {
    struct Case { double value; int digits; bool keep_dot_zero; const char* text; };
    const Case cases[] = {
        {0.1, 0, true, "0.1"},
        {1.0, 0, true, "1.0"},
        {100.0, 0, true, "100.0"},
        {1e16, 0, true, "10000000000000000.0"},
        {1e17, 0, true, "1.0e17"},
        {0.000001, 0, true, "0.000001"},
        {1e-7, 0, true, "0.0000001"},
        {1e-8, 0, true, "1.0e-8"},
        {1.5e-8, 0, true, "1.5e-8"},
        {123456789.125, 0, true, "123456789.125"},
        {0.00123, 0, true, "0.00123"},
        {123.5, 0, true, "123.5"},
        {1e20, 0, true, "1.0e20"},
        {-2.5e300, 0, true, "-2.5e300"},
        {5e-324, 0, true, "5.0e-324"},
        {-0.0, 0, true, "-0.0"},
        {0.0, 0, true, "0.0"},
        {inf, 0, true, "1.#INF"},
        {-inf, 0, true, "-1.#INF"},
        {std::nan(""), 0, true, "1.#NaN"},
        {-std::nan(""), 0, true, "1.#NaN"},
        // without the keep-dot-zero flag
        {1.0, 0, false, "1"},
        {100.0, 0, false, "100"},
        {1e17, 0, false, "1e17"},
        {-0.0, 0, false, "-0"},
        {0.5, 0, false, "0.5"},
        // fixed digit counts: rounded, trailing zeros dropped
        {2.0 / 3, 6, false, "0.666667"},
        {59.9999999, 6, false, "60"},
        {123456.0, 3, true, "123000.0"},
        {0.1, 22, false, "0.1000000000000000055511"},
        {1.0 / 3, 1000, false, "0.3333333333333333148296162562473909929395"},  // clamped to 40
        {1e22, 30, true, "1.0e22"},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(dtoa::form_float(c.value, c.digits, c.keep_dot_zero), c.text)
            << c.value << " digits " << c.digits;
}

TEST(FloatText, DigitsAndPoint) {
    int point, count;
    bool negative;
    const char* d = dtoa::float_to_digits(-1234.5, 0, &point, &negative, &count, false);
    EXPECT_STREQ(d, "12345");
    EXPECT_EQ(point, 4);
    EXPECT_TRUE(negative);
    EXPECT_EQ(count, 5);
    d = dtoa::float_to_digits(0.0, 0, &point, &negative, &count, false);
    EXPECT_EQ(point, dtoa::point_zero);
    d = dtoa::float_to_digits(-inf, 0, &point, &negative, &count, false);
    EXPECT_STREQ(d, "-1.#INF");
    EXPECT_EQ(point, dtoa::point_special);
}

TEST(FloatText, Reading) {
    struct Case { const char* text; int extra; double value; int unread; };
    const Case cases[] = {
        {"0.1", 0, 0.1, 0},
        {"1.#INF", 0, inf, 0},
        {"-1.#inf", 0, -inf, 0},
        {"1e400", 0, inf, 0},
        {"-1e400", 0, -inf, 0},
        {"1e-400", 0, 0.0, 0},
        {"1e99999999999", 0, inf, 0},
        {"1e-99999999999", 0, 0.0, 0},
        {"12abc", 0, 12.0, 3},
        {"1e5x", 0, 100000.0, 1},
        {"1e", 0, 1.0, 1},
        {"1e+", 0, 1.0, 2},
        {"5", -2, 0.05, 0},
        {"50", -2, 0.5, 0},
        {"+.5", 0, 0.5, 0},
        {"000123.4500", 0, 123.45, 0},
        {".000123", 0, 0.000123, 0},
        {"1.7976931348623157e308", 0, 1.7976931348623157e308, 0},
        {"2.4e-324", 0, 0.0, 0},
        {"2.5e-324", 0, 5e-324, 0},
        {"12.#INF", 0, 12.0, 4},
        {"01.#INF", 0, inf, 0},
        {"0.#INF", 0, 0.0, 4},
        {"abc", 0, 0.0, 3},
        {"", 0, 0.0, 0},
        {"-", 0, 0.0, 1},
    };
    for (const Case& c : cases) {
        int unread = -1;
        double v = read(c.text, &unread, c.extra);
        EXPECT_EQ(bits(v), bits(c.value)) << c.text << " read as " << v;
        EXPECT_EQ(unread, c.unread) << c.text;
    }
}

TEST(FloatText, ReadingSignedZerosAndNaN) {
    int unread;
    EXPECT_FALSE(std::signbit(read("-0", &unread)));
    EXPECT_FALSE(std::signbit(read("-000", &unread)));
    EXPECT_TRUE(std::signbit(read("-0.0", &unread)));
    EXPECT_TRUE(std::signbit(read("-0e5", &unread)));
    EXPECT_EQ(bits(read("1.#NaN", &unread)), 0x7FF8000000000000u);
    EXPECT_EQ(bits(read("-1.#nan", &unread)), 0x7FF8000000000000u);
}

// A halfway case decided by a digit far beyond the first 780: the reader
// must keep that it is non-zero.
TEST(FloatText, ReadingLongDigitStrings) {
    // 1 + 2^-53 lies exactly halfway between 1 and the next double.
    std::string half = "1.00000000000000011102230246251565404236316680908203125";
    int unread;
    EXPECT_EQ(read(half, &unread), 1.0);  // ties go to even
    std::string above = half + std::string(2000, '0') + "1";
    EXPECT_EQ(read(above, &unread), std::nextafter(1.0, 2.0));
    EXPECT_EQ(unread, 0);
    std::string many = std::string(1000, '9') + "e-1000";
    EXPECT_EQ(read(many, &unread), 1.0);
}

TEST(FloatText, RandomDoublesRoundTripBitForBit) {
    std::mt19937_64 rng(20240917);
    int failures = 0;
    for (int n = 0; n < 1000000 && failures < 10;) {
        std::uint64_t b = rng();
        double d = std::bit_cast<double>(b);
        if (!std::isfinite(d)) continue;
        ++n;
        const char* text = dtoa::form_float(d, 0, true);
        int unread;
        double back = dtoa::text_to_float(text, text + std::strlen(text), 0, &unread);
        if (bits(back) != b || unread != 0) {
            ADD_FAILURE() << text << " bits " << std::hex << b;
            ++failures;
        }
    }
}

}  // namespace kiv
