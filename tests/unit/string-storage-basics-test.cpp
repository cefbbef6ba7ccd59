#include <gtest/gtest.h>

#include <cstring>

#include "tests/unit/runtime-support.h"

namespace kiv {

namespace {

using test::string_of;

class StringStorageBasics : public test::RuntimeTest {};

std::uint32_t unit_of(const Cell& s) { return string::buffer(&s)->unit(); }

TEST_F(StringStorageBasics, AppendingWidensPastAscii) {
    struct Case {
        std::uint32_t cp;
        std::uint32_t unit;
    } cases[] = {{'a', 1}, {0x7F, 1}, {0xE9, 2}, {0xFFFF, 2}, {0x1F600, 4}};
    for (const Case& c : cases) {
        Cell s;
        string::make_at(&s, 0);
        string::append_char(string::buffer(&s), c.cp);
        EXPECT_EQ(unit_of(s), c.unit) << c.cp;
        EXPECT_EQ(string::ks_abs_at(&s, 0), c.cp);
    }
}

TEST_F(StringStorageBasics, WritingAndLoadingKeepLatin1Narrow) {
    Cell s = string_of("abc");
    string::overwrite_char(string::buffer(&s), 1, 0xE9);
    EXPECT_EQ(unit_of(s), 1u);
    string::overwrite_char(string::buffer(&s), 3, 'd');  // at the tail: the tail moves
    EXPECT_EQ(string::to_utf8(&s), "a\xC3\xA9" "cd");
    string::overwrite_char(string::buffer(&s), 0, 0x100);
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_EQ(string::to_utf8(&s), "\xC4\x80\xC3\xA9" "cd");

    struct Case {
        const char* utf8;
        std::uint32_t unit;
        std::int32_t length;
    } cases[] = {
        {"caf\xC3\xA9", 1, 4},
        {"\xE2\x82\xAC" "1", 2, 2},
        {"a\xF0\x9F\x98\x80z", 4, 3},
        {"\xEF\xBB\xBFhi", 1, 2},  // a leading byte order mark is skipped
    };
    for (const Case& c : cases) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.utf8);
        Cell loaded{static_cast<std::uint32_t>(Type::string), 0,
                    string::load_utf8_new(bytes, static_cast<std::int64_t>(std::strlen(c.utf8))), 0};
        EXPECT_EQ(unit_of(loaded), c.unit) << c.utf8;
        EXPECT_EQ(string::ks_abs_length(&loaded), c.length) << c.utf8;
    }
}

TEST_F(StringStorageBasics, WideningAFullBufferKeepsTheText) {
    Cell s;
    string::make_at(&s, 16);
    const NodeId node = s.data2;
    string::append_literal(&s, "0123456789abcdef");
    EXPECT_EQ(string::buffer(&s)->room(), 0u);
    string::append_char(string::buffer(&s), 0x10400);
    EXPECT_EQ(s.data2, node);
    EXPECT_EQ(unit_of(s), 4u);
    EXPECT_EQ(string::to_utf8(&s), "0123456789abcdef\xF0\x90\x90\x80");
    // Appending a wider string widens the destination; the source keeps its
    // unit.
    Cell narrow = string_of("x");
    string::append_string(&narrow, &s, 3);
    EXPECT_EQ(unit_of(narrow), 4u);
    EXPECT_EQ(string::to_utf8(&narrow), "x012");
    EXPECT_EQ(string::ks_abs_length(&s), 17);
}

TEST_F(StringStorageBasics, IndexesPastTheTailAreClamped) {
    Cell s = string_of("abc");
    s.data1 = 10;
    EXPECT_EQ(string::ks_length(&s), 0);
    EXPECT_EQ(s.data1, 3u);
    s.data1 = 1;
    EXPECT_EQ(string::to_utf8(&s), "bc");
    string::append_char(string::buffer(&s), 0x20AC);
    string::ks_reset(&s);
    EXPECT_EQ(unit_of(s), 1u);
    EXPECT_EQ(string::ks_abs_length(&s), 0);
}

TEST_F(StringStorageBasics, Compared) {
    struct Case {
        const char* a;
        const char* b;
        CompareOp op;
        bool match;
        int sign;
    } cases[] = {
        {"abc", "ABC", CompareOp::equal, false, 0},
        {"abc", "ABC", CompareOp::strict_equal, false, 1},
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", CompareOp::equal, false, 0},
        {"abc", "abcd", CompareOp::equal, false, 1},
        {"abc", "abcd", CompareOp::lesser, false, -1},
        {"abd", "abcd", CompareOp::sort, false, 1},
        {"a", "_", CompareOp::sort, false, -1},  // folded to upper case: A < _
        {"a", "_", CompareOp::sort_case, false, 1},
        {"", "", CompareOp::equal, false, 0},
        {"", "a", CompareOp::lesser, false, -1},
        {"abcdef", "ABC", CompareOp::equal, true, 0},
        {"ab", "abc", CompareOp::equal, true, 1},
        {"abc", "", CompareOp::find, true, 1},
        {"abc", "", CompareOp::equal, true, 0},
    };
    for (const Case& c : cases) {
        Cell a = string_of(c.a);
        Cell b = string_of(c.b);
        const int r = string::compare_strings(&a, &b, c.op, c.match);
        EXPECT_EQ(r < 0 ? -1 : r > 0 ? 1 : 0, c.sign) << c.a << " / " << c.b;
    }
    // Sameness: the same series at the same index.
    Cell a = string_of("x");
    Cell copy = a;
    Cell other = string_of("x");
    EXPECT_EQ(string::compare_strings(&a, &copy, CompareOp::same, false), 0);
    EXPECT_NE(string::compare_strings(&a, &other, CompareOp::same, false), 0);
}

}  // namespace
}  // namespace kiv
