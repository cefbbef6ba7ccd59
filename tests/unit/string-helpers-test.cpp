// String storage helpers: widening in the middle of a text, writing at
// positions, concatenation across units and modes, comparison and search
// across units, decoding bytes, and the small text helpers.
#include <gtest/gtest.h>

#include <cstring>

#include "text-values.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/unicode.h"

namespace kiv {
namespace {

using test::text;
using test::unit_of;
using test::utf8;

class StringHelpers : public test::TextTest {};

TEST_F(StringHelpers, AppendingWidensLatin1ToUcs2ToUcs4MidWay) {
    struct Step {
        std::uint32_t cp;
        std::uint32_t unit;
    } steps[] = {
        {'a', 1}, {0x7F, 1}, {0xE9, 2}, {'b', 2}, {0xFFFF, 2}, {0x1F600, 4}, {'c', 4},
    };
    Cell s;
    string::make_at(&s, 0);
    std::string expected;
    for (const Step& step : steps) {
        string::append_char(string::buffer(&s), step.cp);
        std::uint8_t bytes[4];
        expected.append(reinterpret_cast<char*>(bytes), unicode::encode_utf8_char(step.cp, bytes));
        EXPECT_EQ(unit_of(s), step.unit) << "after U+" << std::hex << step.cp;
        EXPECT_EQ(utf8(s), expected);
    }
    // Widening straight from 1 to 4 keeps every earlier code point.
    Cell t = text("xyz");
    string::append_char(string::buffer(&t), 0x10000);
    EXPECT_EQ(unit_of(t), 4u);
    EXPECT_EQ(utf8(t), "xyz\xF0\x90\x80\x80");
}

TEST_F(StringHelpers, WritingAtAPositionKeepsLatin1Longer) {
    Cell s = text("a");
    string::overwrite_char(string::buffer(&s), 0, 0xE9);
    EXPECT_EQ(unit_of(s), 1u);
    EXPECT_EQ(utf8(s), "é");
    string::insert_char(string::buffer(&s), 0, 0xFF);
    EXPECT_EQ(unit_of(s), 1u);
    string::insert_char(string::buffer(&s), 1, 0x100);
    EXPECT_EQ(unit_of(s), 2u);
    string::store_char(string::buffer(&s), 2, 0x10FFFF);
    EXPECT_EQ(unit_of(s), 4u);
    EXPECT_EQ(utf8(s), "ÿĀ\xF4\x8F\xBF\xBF");
    string::remove_chars(string::buffer(&s), 1, 5);
    EXPECT_EQ(utf8(s), "ÿ");
    string::remove_chars(string::buffer(&s), 3, 1);  // past the tail: nothing
    EXPECT_EQ(utf8(s), "ÿ");
}

TEST_F(StringHelpers, ConcatenationAcrossUnitsAndModes) {
    struct Case {
        const char* destination;
        std::uint32_t dest_unit;
        std::int32_t index;
        const char* source;
        std::uint32_t source_unit;
        std::int64_t part;
        string::Mode mode;
        const char* expected;
    } cases[] = {
        {"ab", 1, 0, "cd", 1, -1, string::Mode::append, "abcd"},
        {"ab", 1, 0, "\xC4\x80" "d", 2, -1, string::Mode::append, "ab\xC4\x80" "d"},
        {"ab", 4, 0, "cd", 1, 1, string::Mode::append, "abc"},
        {"ab", 1, 1, "XY", 1, -1, string::Mode::insert, "aXYb"},
        {"ab", 1, 1, "\xF0\x9F\x98\x80", 4, -1, string::Mode::insert, "a\xF0\x9F\x98\x80" "b"},
        {"abcd", 1, 1, "XY", 2, -1, string::Mode::overwrite, "aXYd"},
        {"ab", 1, 1, "XYZ", 1, -1, string::Mode::overwrite, "aXYZ"},
        {"ab", 1, 0, "", 1, -1, string::Mode::insert, "ab"},
    };
    for (const Case& c : cases) {
        Cell d = text(c.destination, c.dest_unit);
        d.data1 = static_cast<std::uint32_t>(c.index);
        Cell s = text(c.source, c.source_unit);
        string::concatenate(&d, &s, c.part, 0, c.mode);
        d.data1 = 0;
        EXPECT_EQ(utf8(d), c.expected) << c.destination << " + " << c.source;
        EXPECT_EQ(unit_of(s), c.source_unit) << "the source keeps its unit";
    }
}

TEST_F(StringHelpers, ConcatenationWithinOneBuffer) {
    Cell s = text("abc");
    Cell tail = s;
    tail.data1 = 1;
    string::concatenate(&s, &tail, -1, 0, string::Mode::insert);
    EXPECT_EQ(utf8(s), "bcabc");
    Cell t = text("abc");
    Cell same = t;
    string::concatenate(&t, &same, -1, 0, string::Mode::append);
    EXPECT_EQ(utf8(t), "abcabc");
}

TEST_F(StringHelpers, RepeatingAndSwappingRegions) {
    Cell s = text("xab");
    string::repeat_tail(string::buffer(&s), 2, 4);
    EXPECT_EQ(utf8(s), "xabababab");
    std::uint8_t bytes[] = "12345abc";
    string::swap_regions(bytes, 5, 3);
    EXPECT_STREQ(reinterpret_cast<char*>(bytes), "abc12345");
    string::swap_regions(bytes, 2, 6);
    EXPECT_STREQ(reinterpret_cast<char*>(bytes), "c12345ab");
    // A region larger than the scratch area still swaps.
    std::vector<std::uint8_t> big(200000, 'x');
    big.push_back('y');
    big.push_back('z');
    string::swap_regions(big.data(), 200000, 2);
    EXPECT_EQ(big[0], 'y');
    EXPECT_EQ(big[1], 'z');
    EXPECT_EQ(big.back(), 'x');
}

TEST_F(StringHelpers, CompareStringsAcrossUnits) {
    struct Case {
        const char* a;
        std::uint32_t unit_a;
        const char* b;
        std::uint32_t unit_b;
        CompareOp op;
        bool match;
        int sign;
    } cases[] = {
        {"éa", 1, "ÉA", 2, CompareOp::equal, false, 0},
        {"x\xF0\x90\x90\xA8", 4, "X\xF0\x90\x90\x80", 2, CompareOp::equal, false, 0},
        {"a", 2, "_", 4, CompareOp::sort, false, -1},
        {"ÿ", 1, "Ÿ", 2, CompareOp::equal, false, 0},
        {"ÿ", 1, "z", 2, CompareOp::sort, false, 1},
        {"abcdé", 2, "ABC", 1, CompareOp::equal, true, 0},
    };
    for (const Case& c : cases) {
        Cell a = text(c.a, c.unit_a);
        Cell b = text(c.b, c.unit_b);
        const int r = string::compare_strings(&a, &b, c.op, c.match);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b << " op " << int(c.op);
    }
}

TEST_F(StringHelpers, SearchHelpers) {
    Cell s = text("aBcbd");
    EXPECT_EQ(string::find_char(&s, 'b'), 3);
    EXPECT_EQ(string::find_char(&s, 'z'), -1);
    EXPECT_TRUE(string::find_char_skip_q(&s, 'b', 1, false));
    EXPECT_FALSE(string::find_char_skip_q(&s, 'b', 2, true));  // B at 1, b at 3: odd places
    EXPECT_TRUE(string::find_char_skip_q(&s, 'C', 2, false));
    EXPECT_TRUE(string::starts_with_literal_q(&s, "aBc"));
    EXPECT_FALSE(string::starts_with_literal_q(&s, "aBcbde"));

    Cell tag = text("b", 1, Type::tag);
    Cell markup = text("<b>x", 2);
    EXPECT_TRUE(string::tag_delimited_q(&markup, &tag));
    EXPECT_TRUE(string::match_at_q(&markup, &tag, CompareOp::equal));
    Cell c = test::character('A');
    EXPECT_TRUE(string::match_at_q(&s, &c, CompareOp::equal));
    EXPECT_FALSE(string::match_at_q(&s, &c, CompareOp::strict_equal));
}

TEST_F(StringHelpers, DecodingBytes) {
    const std::uint8_t good[] = {'c', 'a', 'f', 0xC3, 0xA9};
    Cell s;
    string::decode_utf8(good, sizeof good, &s);
    EXPECT_EQ(utf8(s), "café");
    EXPECT_EQ(unit_of(s), 1u);

    struct Bad {
        std::vector<std::uint8_t> bytes;
        std::string rest;  // the bytes the error carries
    } bad[] = {
        {{'a', 0xC3, 0x28, 'b'}, "\xC3(b"},
        {{'a', 'b', 0xE2, 0x82}, "\xE2\x82"},
        {{0xED, 0xA0, 0x80}, "\xED\xA0\x80"},
    };
    for (const Bad& b : bad) {
        EXPECT_EQ(test::error_arg_text([&] {
                      Cell out;
                      string::decode_utf8(b.bytes.data(), b.bytes.size(), &out);
                  }),
                  b.rest);
    }

    const std::uint8_t utf16[] = {'A', 0, 'B', 0};
    string::load_encoded(utf16, 2, &s, -1);
    EXPECT_EQ(utf8(s), "AB");
    EXPECT_EQ(unit_of(s), 1u);
    const std::uint8_t pair[] = {0x00, 0xD8, 0x00, 0xDC};
    string::load_encoded(pair, 2, &s, -1);
    EXPECT_EQ(unit_of(s), 4u);
    EXPECT_EQ(utf8(s), "\xF0\x90\x80\x80");
    EXPECT_EQ(test::error_of([&] { string::load_encoded(utf16, 2, &s, 1); }),
              ErrorId::script_invalid_arg);
}

TEST_F(StringHelpers, HexAndFloatText) {
    struct Case {
        std::uint32_t value;
        bool trim;
        const char* text;
    } cases[] = {
        {0x1E, true, "1E"}, {0, true, "00"}, {0xFFFFFFFF, false, "FFFFFFFF"},
        {0x10000, true, "10000"}, {0xE9, false, "000000E9"},
    };
    for (const Case& c : cases) EXPECT_STREQ(string::int_to_hex(c.value, c.trim), c.text);
    EXPECT_STREQ(string::byte_to_hex(0xA5), "A5");
    bool error = false;
    EXPECT_EQ(string::to_float("2.5e3", 5, &error), 2500.0);
    EXPECT_FALSE(error);
    string::to_float("2.5x", 4, &error);
    EXPECT_TRUE(error);
}

}  // namespace
}  // namespace kiv
