// string! actions through the registry: conversion, comparison, find and
// select, sort, form and mold, the modifying actions and the set operations.
#include <gtest/gtest.h>

#include <string>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/hashtable.h"
#include "runtime/ownership.h"
#include "text-values.h"

namespace kiv {
namespace {

using test::block_of;
using test::character;
using test::integer;
using test::text;
using test::unit_of;
using test::utf8;

const ActionFns& row() { return registry::row(Type::string); }

class StringActions : public test::TextTest {};

// Molds or forms into a fresh string and answers the text.
std::string molded(Cell v, bool all = false) {
    Cell out;
    string::make_at(&out, 0);
    registry::find<Action::mold>(&v)(&v, &out, false, all, false, nullptr, 0, 0);
    return utf8(out);
}

TEST_F(StringActions, MakeAndTo) {
    Cell proto;
    Cell spec = integer(0);
    row().make(&proto, &spec, Type::string);
    EXPECT_TRUE(proto.is(Type::string));
    EXPECT_EQ(utf8(proto), "");
    spec = test::real(2.7);
    row().make(&proto, &spec, Type::file);
    EXPECT_TRUE(proto.is(Type::file));
    EXPECT_EQ(string::buffer(&proto)->size, 16u);
    spec = integer(-1);
    EXPECT_EQ(test::error_of([&] { row().make(&proto, &spec, Type::string); }),
              ErrorId::script_out_of_range);

    spec = block_of({text("x"), text("a"), character('b'), logic::true_value});
    row().to(&proto, &spec, Type::string);
    EXPECT_EQ(utf8(proto), "xabtrue");
    spec = text("a b");
    spec.data1 = 0;
    row().to(&proto, &spec, Type::file);
    EXPECT_TRUE(proto.is(Type::file));
    EXPECT_EQ(utf8(proto), "a b");
    spec = text("\xF0\x9F\x98\x80z", 4);
    spec.data1 = 1;
    row().to(&proto, &spec, Type::string);
    EXPECT_EQ(utf8(proto), "z");
    spec = none::value;
    EXPECT_EQ(test::error_of([&] { row().to(&proto, &spec, Type::string); }),
              ErrorId::script_bad_to_arg);
    spec = character(0xE9);
    row().to(&proto, &spec, Type::string);
    EXPECT_EQ(utf8(proto), "é");
}

TEST_F(StringActions, CompareAcrossTheFamily) {
    struct Case {
        Type type_b;
        CompareOp op;
        int expected;
    } cases[] = {
        {Type::file, CompareOp::equal, 0},
        {Type::file, CompareOp::strict_equal, not_comparable},
        {Type::file, CompareOp::lesser, not_comparable},
        {Type::string, CompareOp::lesser, 0},
        {Type::url, CompareOp::not_equal, 0},
    };
    for (const Case& c : cases) {
        Cell a = text("abc");
        Cell b = text("ABC", 2, c.type_b);
        EXPECT_EQ(row().compare(&a, &b, c.op), c.expected);
    }
    Cell a = text("abc");
    Cell n = integer(1);
    EXPECT_EQ(row().compare(&a, &n, CompareOp::equal), not_comparable);
}

struct FindCase {
    const char* haystack;
    std::uint32_t unit;
    std::int32_t index;
    Cell needle;
    const char* refinements;  // letters: l last, r reverse, t tail, m match, c case
    std::int32_t part;        // -1: none
    std::int32_t skip;        // 0: none
    std::int32_t expected;    // -1: none
};

// A needle read from its index.
Cell from_index(Cell needle, std::uint32_t index) {
    needle.data1 = index;
    return needle;
}

TEST_F(StringActions, Find) {
    FindCase cases[] = {
        {"abcabc", 1, 0, text("bc"), "", -1, 0, 1},
        {"abcabc", 1, 0, text("bc"), "l", -1, 0, 4},
        {"abcabc", 1, 0, text("bc"), "t", -1, 0, 3},
        {"abcabc", 1, 0, text("ab"), "m", -1, 0, 0},
        {"abcabc", 1, 0, text("ab"), "mt", -1, 0, 2},
        {"abcabc", 1, 0, text("b"), "m", -1, 0, -1},
        {"abcabc", 1, 0, text("ca"), "", 3, 0, -1},
        {"abcabc", 1, 0, text("ca"), "", 4, 0, 2},
        {"abcabc", 1, 5, text("ab"), "r", -1, 0, 3},
        {"abcabc", 1, 4, text("ab"), "r", -1, 0, 0},
        {"abcabc", 1, 4, text("b"), "r", -1, 0, 1},
        {"abcabc", 1, 4, text("b"), "rt", -1, 0, 2},
        {"abcabc", 1, 4, text("b"), "rm", -1, 0, -1},
        {"abcabc", 1, 0, text("c"), "r", -1, 0, -1},
        {"aBc", 1, 0, text("b"), "", -1, 0, 1},
        {"aBc", 1, 0, text("b"), "c", -1, 0, -1},
        {"aBc", 1, 0, character('b'), "", -1, 0, 1},
        {"aBc", 1, 0, character('b'), "c", -1, 0, -1},
        {"a1b2", 1, 0, text("b"), "", -1, 2, 2},
        {"a1b2", 1, 0, text("1"), "", -1, 2, -1},
        {"abc", 1, 1, text(""), "", -1, 0, 1},
        {"abc", 1, 1, text(""), "t", -1, 0, 1},
        {"abc", 1, 3, text("c"), "", -1, 0, -1},
        // The needle from its index: the rest of it, or nothing at its tail
        // (which matches where the search starts).
        {"xabcab", 1, 0, from_index(text("zAB"), 1), "", -1, 0, 1},
        {"xabcab", 1, 2, from_index(text("zAB"), 1), "t", -1, 0, 6},
        {"xabcab", 1, 0, from_index(text("zAB"), 1), "c", -1, 0, -1},
        {"xabcab", 1, 2, from_index(text("ab"), 2), "", -1, 0, 2},
        // Case folding across units: the haystack wider or narrower than
        // the needle, letters beyond ASCII and beyond the BMP.
        {"xÉy\xF0\x9F\x98\x80", 4, 0, text("é"), "", -1, 0, 1},
        {"xÉy", 2, 0, text("éY", 1), "", -1, 0, 1},
        {"straße", 1, 0, text("SSE"), "", -1, 0, -1},
        {"a\xF0\x90\x90\x80", 4, 0, text("\xF0\x90\x90\xA8", 4), "", -1, 0, 1},
        {"a\xF0\x90\x90\x80", 4, 0, text("\xF0\x90\x90\xA8", 4), "c", -1, 0, -1},
    };
    for (FindCase& c : cases) {
        Cell s = text(c.haystack, c.unit);
        s.data1 = static_cast<std::uint32_t>(c.index);
        const std::string r = c.refinements;
        auto has = [&](char f) { return r.find(f) != std::string::npos; };
        Cell part = integer(c.part);
        Cell skip = integer(c.skip);
        Cell* result = row().find(&s, &c.needle, c.part >= 0 ? &part : nullptr, false, has('c'),
                                  false, false, nullptr, c.skip ? &skip : nullptr, has('l'),
                                  has('r'), has('t'), has('m'));
        if (c.expected < 0) {
            EXPECT_TRUE(result->is(Type::none)) << c.haystack << " /" << r;
        } else {
            ASSERT_TRUE(result->is(Type::string)) << c.haystack << " /" << r;
            EXPECT_EQ(static_cast<std::int32_t>(result->data1), c.expected) << c.haystack << " /" << r;
        }
    }
}

TEST_F(StringActions, FindErrors) {
    Cell s = text("abc");
    Cell v = text("b");
    Cell zero = integer(0);
    EXPECT_EQ(test::error_of([&] {
                  row().find(&s, &v, nullptr, false, false, false, true, nullptr, nullptr, false,
                             false, false, false);
              }),
              ErrorId::internal_not_done);
    EXPECT_EQ(test::error_of([&] {
                  row().find(&s, &v, nullptr, false, false, false, false, nullptr, &zero, false,
                             false, false, false);
              }),
              ErrorId::script_out_of_range);
    Cell other = text("abc");
    EXPECT_EQ(test::error_of([&] {
                  row().find(&s, &v, &other, false, false, false, false, nullptr, nullptr, false,
                             false, false, false);
              }),
              ErrorId::script_invalid_refine_arg);
    // A position on the same series bounds the search.
    Cell end = s;
    end.data1 = 1;
    EXPECT_TRUE(row().find(&s, &v, &end, false, false, false, false, nullptr, nullptr, false, false,
                           false, false)->is(Type::none));
}

TEST_F(StringActions, Select) {
    struct Case {
        const char* haystack;
        Cell value;
        std::int32_t expected;  // code point, -1: none
    } cases[] = {
        {"a=b", text("="), 'b'},
        {"ab", text("b"), -1},
        {"key:value", text("KEY:"), 'v'},
        {"xÿz", character(0xFF), 'z'},
    };
    for (Case& c : cases) {
        Cell s = text(c.haystack);
        Cell* r = row().select(&s, &c.value, nullptr, false, false, false, false, nullptr, nullptr,
                               false, false);
        if (c.expected < 0) {
            EXPECT_TRUE(r->is(Type::none)) << c.haystack;
        } else {
            ASSERT_TRUE(r->is(Type::char_)) << c.haystack;
            EXPECT_EQ(r->data2, static_cast<std::uint32_t>(c.expected));
        }
    }
}

struct SortCase {
    const char* input;
    std::uint32_t unit;
    bool case_;
    std::int32_t skip;  // 0: none
    bool reverse;
    bool stable;
    const char* expected;
};

TEST_F(StringActions, Sort) {
    const SortCase cases[] = {
        {"cBa", 1, false, 0, false, false, "aBc"},
        {"cBa", 1, true, 0, false, false, "Bac"},
        {"cBa", 2, false, 0, false, true, "aBc"},
        {"a_", 1, false, 0, false, false, "a_"},
        {"a_", 2, false, 0, false, false, "a_"},
        {"a_", 4, false, 0, false, false, "a_"},
        {"b2a1", 1, false, 2, false, false, "a1b2"},
        {"abc", 1, false, 0, true, false, "cba"},
        // Case-insensitive across widths: é and É tie and keep their order
        // when stable; ÿ folds to Ÿ (U+0178), above the ASCII letters.
        {"ÿbÉaé", 2, false, 0, false, true, "abÉéÿ"},
        {"éÉ", 1, false, 0, false, true, "éÉ"},
        {"Éé", 4, false, 0, false, true, "Éé"},
        {"Éé", 1, true, 0, false, true, "Éé"},
        {"\xF0\x90\x90\x81\xF0\x90\x90\xA8" "a", 4, false, 0, false, true, "a\xF0\x90\x90\xA8\xF0\x90\x90\x81"},
    };
    for (const SortCase& c : cases) {
        Cell s = text(c.input, c.unit);
        Cell skip = integer(c.skip);
        row().sort(&s, c.case_, c.skip ? &skip : nullptr, nullptr, nullptr, false, c.reverse,
                   c.stable);
        EXPECT_EQ(utf8(s), c.expected) << c.input << " unit " << c.unit;
    }
}

TEST_F(StringActions, SortRefinements) {
    Cell s = text("b2a1c3");
    Cell skip = integer(2);
    Cell second = integer(2);
    row().sort(&s, false, &skip, &second, nullptr, false, false, false);
    EXPECT_EQ(utf8(s), "a1b2c3");
    s = text("a2a1");
    row().sort(&s, false, &skip, nullptr, nullptr, true, false, false);
    EXPECT_EQ(utf8(s), "a1a2");
    s = text("dcba");
    Cell part = integer(2);
    row().sort(&s, false, nullptr, nullptr, &part, false, false, false);
    EXPECT_EQ(utf8(s), "cdba");
    s = text("dcba");
    s.data1 = 3;
    part = integer(-2);
    row().sort(&s, false, nullptr, nullptr, &part, false, false, false);
    EXPECT_EQ(s.data1, 1u);
    s.data1 = 0;
    EXPECT_EQ(utf8(s), "dbca");

    struct Bad {
        const char* input;
        std::int32_t skip;  // 0: none
        bool all;
        Cell* compare;
        ErrorId error;
    };
    Cell three = integer(3);
    Cell word = text("x");
    const Bad bad[] = {
        {"b2a", 2, false, nullptr, ErrorId::script_invalid_refine_arg},
        {"ab", 0, true, nullptr, ErrorId::script_bad_refines},
        {"ab", 0, false, &second, ErrorId::script_bad_refines},
        {"abcd", 2, false, &three, ErrorId::script_out_of_range},
        {"ab", 0, false, &word, ErrorId::script_invalid_refine_arg},
    };
    for (const Bad& b : bad) {
        Cell v = text(b.input);
        Cell k = integer(b.skip);
        EXPECT_EQ(test::error_of([&] {
                      row().sort(&v, false, b.skip ? &k : nullptr, b.compare, nullptr, b.all, false,
                                 false);
                  }),
                  b.error)
            << b.input;
        EXPECT_EQ(utf8(v), b.input) << "a refused sort changes nothing";
    }
}

// Comparators standing in for function! values: whether the first
// argument sorts before the second.
void descending(Cell*, Cell* a, Cell* b, Cell* result) {
    logic::make_at(result, a->data2 > b->data2);
}
void case_blind_ascending(Cell*, Cell* a, Cell* b, Cell* result) {
    logic::make_at(result, (a->data2 | 0x20) < (b->data2 | 0x20));
}
void integer_answer(Cell*, Cell* a, Cell* b, Cell* result) {
    *result = integer(static_cast<std::int32_t>(a->data2) - static_cast<std::int32_t>(b->data2));
}

Cell sorted_series;
// A comparator that grows the series it sorts.
void meddling(Cell*, Cell* a, Cell* b, Cell* result) {
    for (int i = 0; i < 64; ++i) string::append_char(string::buffer(&sorted_series), 'z');
    logic::make_at(result, a->data2 < b->data2);
}

TEST_F(StringActions, SortWithAFunctionComparator) {
    Cell function{static_cast<std::uint32_t>(Type::function), 0, 0, 0};
    const auto saved = block::call_comparator_hook;
    struct Case {
        block::CallComparator comparator;
        const char* input;
        bool reverse;
        bool stable;
        const char* expected;
    } cases[] = {
        {descending, "bdacé", false, false, "édcba"},
        {descending, "bdacé", true, false, "abcdé"},
        {descending, "bdacé", false, true, "édcba"},
        {integer_answer, "bdacé", false, true, "abcdé"},
        // Equal records keep their order under /stable, either way round.
        {case_blind_ascending, "bBaAbA", false, true, "aAAbBb"},
        {case_blind_ascending, "bBaAbA", true, true, "bBbaAA"},
    };
    for (const Case& c : cases) {
        block::call_comparator_hook = c.comparator;
        Cell s = text(c.input, 2);
        row().sort(&s, false, nullptr, &function, nullptr, false, c.reverse, c.stable);
        EXPECT_EQ(utf8(s), c.expected) << c.input << (c.reverse ? " /reverse" : "");
    }
    block::call_comparator_hook = meddling;
    sorted_series = text("dcba");
    EXPECT_EQ(test::error_of([&] {
                  row().sort(&sorted_series, false, nullptr, &function, nullptr, false, false, true);
              }),
              ErrorId::script_protected_);
    block::call_comparator_hook = nullptr;
    Cell s = text("ba");
    EXPECT_EQ(test::error_of([&] { row().sort(&s, false, nullptr, &function, nullptr, false, false, false); }),
              ErrorId::internal_not_done);
    block::call_comparator_hook = saved;
}

TEST_F(StringActions, Mold) {
    const std::string fifty(50, 'x');
    const std::string forty_nine(49, 'x');
    struct Case {
        std::string input;
        std::uint32_t unit;
        bool all;
        std::string expected;
    } cases[] = {
        {"", 1, false, "\"\""},
        {"a\"b", 1, false, "{a\"b}"},
        {"a^b", 1, false, "\"a^^b\""},
        {"a\tb", 1, false, "\"a^-b\""},
        {forty_nine, 1, false, "\"" + forty_nine + "\""},
        {fifty, 1, false, "{" + fifty + "}"},
        {"a\nb\nc", 1, false, "\"a^/b^/c\""},
        {"a\nb\nc\nd", 1, false, "{a^/b^/c^/d}"},
        {"a{b}c\"", 1, false, "{a{b}c\"}"},
        {"a{b}c", 1, false, "\"a{b}c\""},
        {"\"{a{b}", 1, false, "{\"^{a^{b^}}"},
        {"\"a}b{c}", 1, false, "{\"a^}b{c}}"},
        {"a^{b}\"", 2, false, "{a^^{b}\"}"},
        {std::string("\x1E", 1), 1, false, "\"^(1E)\""},
        {"\xC2\x85", 1, false, "\"^(85)\""},
        {"\x7F", 1, false, "\"^~\""},
        {std::string("\0", 1), 1, false, "\"^@\""},
        {"\x1B\x1C\x1D\x1F\x01\x1A", 1, false, "\"^[^\\^]^_^A^Z\""},
        {"é", 1, false, "\"é\""},
        {"é", 1, true, "\"^(E9)\""},
        {"é", 2, true, "\"^(E9)\""},
        {"\xF0\x90\x80\x80", 4, true, "\"^(10000)\""},
        {"\xF0\x90\x80\x80", 4, false, "\"\xF0\x90\x80\x80\""},
    };
    for (const Case& c : cases) {
        Cell s;
        string::make_at(&s, 0);
        string::append_utf8(&s, c.input);
        if (unit_of(s) < c.unit) string::widen_buffer(string::buffer(&s), unit_of(s), c.unit);
        EXPECT_EQ(molded(s, c.all), c.expected) << c.input;
    }
    // Only the rest from the index counts towards the long-text rule.
    Cell s = text(fifty.c_str());
    s.data1 = 1;
    EXPECT_EQ(molded(s), "\"" + forty_nine + "\"");
}

TEST_F(StringActions, MoldAndFormUnderABudget) {
    Cell s = text("abcdef");
    Cell out;
    string::make_at(&out, 0);
    Cell part = integer(3);
    EXPECT_EQ(row().mold(&s, &out, false, false, false, &part, 3, 0), -2);
    EXPECT_EQ(utf8(out), "\"abc\"");
    string::make_at(&out, 0);
    EXPECT_EQ(row().form(&s, &out, &part, 4), -2);
    EXPECT_EQ(utf8(out), "abcd");
    // A string molded into itself reads its old text.
    Cell self = text("a\"b");
    row().mold(&self, &self, false, false, false, nullptr, 0, 0);
    EXPECT_EQ(utf8(self), "a\"b{a\"b}");
}

Cell appended(const char* start, Cell value, std::int32_t part = -1, bool only = false,
              std::int32_t dup = 1) {
    Cell s = text(start);
    return *row().append(&s, &value, part, only, dup, true);
}

TEST_F(StringActions, Append) {
    struct Case {
        Cell result;
        const char* expected;
    } cases[] = {
        {appended("ab", text("c")), "abc"},
        {appended("ab", text("xyz"), 2), "abxy"},
        {appended("ab", text("xyz"), 0), "ab"},
        {appended("x", block_of({text("1"), text("2"), text("3")})), "x123"},
        {appended("x", block_of({text("1"), text("2"), text("3")}), 2), "x12"},
        {appended("x", block_of({text("12"), text("34")}), 3, true), "x123"},
        {appended("ab", logic::true_value, 2), "abtrue"},
        {appended("ab", logic::true_value, 2, true), "abtr"},
        {appended("", text("ab"), -1, false, 3), "ababab"},
        {appended("", text("b", 1, Type::tag)), "<b>"},
        {appended("", text("bc", 1, Type::tag), 2), "<b"},
        {appended("", character('-'), -1, false, 4), "----"},
        {appended("a", text("\xF0\x9F\x98\x80", 4), -1, false, 2), "a\xF0\x9F\x98\x80\xF0\x9F\x98\x80"},
        // Integers: their digits, on 1-byte and wider text, with and
        // without the general path's /dup and /part.
        {appended("k", integer(-5)), "k-5"},
        {appended("k", integer(0)), "k0"},
        {appended("k", integer(-2147483647 - 1)), "k-2147483648"},
        {appended("\xE2\x98\xBA", integer(123)), "\xE2\x98\xBA" "123"},
        {appended("k", integer(42), -1, false, 2), "k4242"},
        {appended("k", integer(12345), 2, true), "k12"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utf8(c.result), c.expected);
        EXPECT_EQ(c.result.data1, 0u);
    }
    // Text of every length and unit mix onto text: the copy sizes below and
    // above 16 bytes, a narrower source into a wider text, a source read
    // from its index, and a text appended to itself.
    struct UnitCase {
        const char* start;
        std::uint32_t start_unit;
        const char* added;
        std::uint32_t added_unit;
        std::uint32_t added_index;
        const char* expected;
        std::uint32_t unit;
    } unit_cases[] = {
        {"ab", 1, "0123456789abcdefghij", 1, 0, "ab0123456789abcdefghij", 1},
        {"ab", 1, "0123456789abcdefghij", 1, 12, "abcdefghij", 1},
        {"Ã©", 2, "xyz", 1, 0, "Ã©xyz", 2},
        {"Ã©", 4, "0123456789", 2, 1, "Ã©" "123456789", 4},
        {"ab", 1, "â¬" "0123456789", 2, 0, "abâ¬" "0123456789", 2},
        {"ab", 1, "ð", 4, 0, "abð", 4},
        {"ab", 1, "x", 1, 5, "ab", 1},
    };
    for (const UnitCase& c : unit_cases) {
        Cell s = text(c.start, c.start_unit);
        Cell v = text(c.added, c.added_unit);
        v.data1 = c.added_index;
        row().append(&s, &v, -1, false, 1, true);
        EXPECT_EQ(utf8(s), c.expected) << c.added;
        EXPECT_EQ(unit_of(s), c.unit) << c.added;
        EXPECT_EQ(unit_of(v), c.added_unit) << c.added;
    }
    Cell self = text("abc");
    for (int i = 0; i < 6; ++i) {
        Cell from = self;
        from.data1 = 1;
        row().append(&self, &from, -1, false, 1, true);
    }
    EXPECT_EQ(string::ks_abs_length(&self), 3 + 2 + 4 + 8 + 16 + 32 + 64);
    EXPECT_EQ(utf8(self).substr(0, 9), "abcbcbcbc");
    Cell e = appended("", character(0xE9));
    EXPECT_EQ(unit_of(e), 2u);
    EXPECT_EQ(utf8(e), "é");
    Cell a = appended("", character('a'));
    EXPECT_EQ(unit_of(a), 1u);
}

// An owner hears of an append before and after it, whatever is appended.
int owner_calls = 0;
std::int32_t owner_index = -1, owner_part = -1;

TEST_F(StringActions, AppendToAnOwnedStringIsReported) {
    owner_calls = 0;
    ownership::set_deep_change_handler(
        [](Cell*, Cell*, Cell*, Cell*, Cell*, std::int32_t index, std::int32_t part) {
            ++owner_calls;
            owner_index = index;
            owner_part = part;
        });
    const NodeId ctx = context::create(1, false, true, 0, context::Kind::object);
    const Cell field = test::word_of("name");
    context::add_word(ctx, &field);
    const Cell owner{static_cast<std::uint32_t>(Type::object), ctx, 0, 0};
    *context::owner(ctx) = owner;
    Cell name = text("ab");
    ownership::bind(&name, &owner, &field);
    hashtable::get_key(ownership::table(), name.data2)[1].data3 = owner.data1;
    Cell added = text("cd");
    row().append(&name, &added, -1, false, 1, true);
    ownership::set_deep_change_handler(nullptr);
    EXPECT_EQ(utf8(name), "abcd");
    EXPECT_EQ(owner_calls, 2);
    EXPECT_EQ(owner_index, 2);
    EXPECT_EQ(owner_part, 2);
}

struct EditCase {
    const char* start;
    std::uint32_t index;
    Cell value;
    std::int32_t part;
    std::int32_t dup;
    const char* expected;
    std::uint32_t index_after;
};

TEST_F(StringActions, Insert) {
    EditCase cases[] = {
        {"ab", 1, text("xy"), -1, 1, "axyb", 3},
        {"ab", 2, text("xy"), -1, 1, "abxy", 4},
        {"ab", 0, text("xyz"), 2, 1, "xyab", 2},
        {"ab", 0, text("xyz"), 0, 1, "xyzab", 3},
        {"ab", 1, character(0xE9), -1, 3, "aéééb", 4},
        {"ab", 1, character(0x1F600), -1, 1, "a\xF0\x9F\x98\x80" "b", 2},
        {"ab", 1, block_of({text("x"), character('y')}), -1, 2, "axyxyb", 5},
        {"ab", 1, text("t", 1, Type::tag), -1, 1, "a<t>b", 4},
        {"ab", 1, logic::false_value, 3, 1, "afalb", 4},
    };
    for (EditCase& c : cases) {
        Cell s = text(c.start);
        s.data1 = c.index;
        Cell* r = row().insert(&s, &c.value, c.part, false, c.dup, false);
        EXPECT_EQ(r->data1, c.index_after) << c.expected;
        r->data1 = 0;
        EXPECT_EQ(utf8(*r), c.expected);
    }
}

TEST_F(StringActions, Change) {
    EditCase cases[] = {
        {"ab", 0, text("X"), -1, 1, "Xb", 1},
        {"ab", 0, text("X"), 2, 1, "X", 1},
        {"ab", 2, text("X"), -1, 1, "abX", 3},
        {"abcdef", 1, text("XY"), 3, 1, "aXYef", 3},
        {"abcdef", 1, text("XY"), -1, 2, "aXYXYf", 5},
        {"abc", 1, character(0x3A9), -1, 1, "aΩc", 2},
        {"abc", 0, block_of({text("x"), text("y")}), -1, 1, "xyc", 2},
        {"abc", 1, text("\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 4), -1, 1, "a\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 3},
    };
    for (EditCase& c : cases) {
        Cell s = text(c.start);
        s.data1 = c.index;
        Cell* r = row().change(&s, &c.value, c.part, false, c.dup);
        EXPECT_EQ(r->data1, c.index_after) << c.expected;
        r->data1 = 0;
        EXPECT_EQ(utf8(*r), c.expected);
    }
    // A new text that lives in the same buffer is read before it moves.
    Cell s = text("abcd");
    Cell from = s;
    from.data1 = 2;
    row().change(&s, &from, 1, false, 1);
    s.data1 = 0;
    EXPECT_EQ(utf8(s), "cdbcd");
}

TEST_F(StringActions, Swap) {
    Cell a = text("ab");
    Cell b = text("cd");
    row().swap(&a, &b);
    EXPECT_EQ(utf8(a), "cb");
    EXPECT_EQ(utf8(b), "ad");
    Cell wide = text("Ωx", 2);
    row().swap(&a, &wide);
    EXPECT_EQ(utf8(a), "Ωb");
    Cell n = integer(1);
    EXPECT_EQ(test::error_of([&] { row().swap(&a, &n); }), ErrorId::script_invalid_arg);
}

TEST_F(StringActions, Trim) {
    struct Case {
        const char* input;
        const char* refinements;  // h head, t tail, l lines, a all
        const char* with;         // nullptr: none
        const char* expected;
    } cases[] = {
        {"  a  b  ", "", nullptr, "a  b"},
        {"  a  b  ", "l", nullptr, "a b"},
        {"  a  b  ", "a", nullptr, "ab"},
        {"  a  b  ", "h", nullptr, "a  b  "},
        {"  a  b  ", "t", nullptr, "  a  b"},
        {"abba", "", "b", "aa"},
        {"abba", "", "", "abba"},
        {"a \n  b \n", "", nullptr, "a\nb\n"},
        {"a \n  b \n", "t", nullptr, "a \n  b"},
        {"\t x \xE3\x80\x80y\n\n", "", nullptr, "x \xE3\x80\x80y\n"},
        {"a\r\nb", "a", nullptr, "ab"},
        {" \xC2\xA0 a \xC2\x85", "", nullptr, "a"},
    };
    for (const Case& c : cases) {
        Cell s = text(c.input);
        const std::string r = c.refinements;
        auto has = [&](char f) { return r.find(f) != std::string::npos; };
        Cell with = c.with ? text(c.with) : none::value;
        row().trim(&s, has('h'), has('t'), false, has('l'), has('a'), c.with ? &with : nullptr);
        EXPECT_EQ(utf8(s), c.expected) << c.input << " /" << r;
    }
    Cell s = text("x");
    EXPECT_EQ(test::error_of([&] { row().trim(&s, false, false, true, false, false, nullptr); }),
              ErrorId::internal_not_done);
}

TEST_F(StringActions, SetOperations) {
    struct Case {
        const char* a;
        const char* b;
        string::SetOp op;
        bool case_;
        std::int32_t skip;
        const char* expected;
    } cases[] = {
        {"abca", nullptr, string::SetOp::unique, false, 0, "abc"},
        {"aA", nullptr, string::SetOp::unique, false, 0, "a"},
        {"aA", nullptr, string::SetOp::unique, true, 0, "aA"},
        {"ab", "bc", string::SetOp::union_, false, 0, "abc"},
        {"ab", "bc", string::SetOp::difference, false, 0, "ac"},
        {"abc", "BCD", string::SetOp::intersect, false, 0, "bc"},
        {"abc", "BCD", string::SetOp::exclude, false, 0, "a"},
        {"a1b2a3", nullptr, string::SetOp::unique, false, 2, "a1b2"},
        {"éÉ", nullptr, string::SetOp::unique, false, 0, "é"},
    };
    for (const Case& c : cases) {
        Cell a = text(c.a, 1, Type::file);
        Cell b = c.b ? text(c.b) : none::value;
        Cell skip = integer(c.skip);
        string::set_operation(&a, c.b ? &b : nullptr, c.case_, c.skip ? &skip : nullptr, c.op);
        EXPECT_TRUE(a.is(Type::file));
        EXPECT_EQ(utf8(a), c.expected) << c.a;
    }
    Cell a = text("ab");
    Cell zero = integer(0);
    EXPECT_EQ(test::error_of([&] { string::set_operation(&a, nullptr, false, &zero, string::SetOp::unique); }),
              ErrorId::script_invalid_refine_arg);
}

TEST_F(StringActions, PathAccess) {
    Cell s = text("a=b");
    Cell path = none::value;
    Cell key = text("=");
    Cell* r = row().eval_path(&s, &key, nullptr, &path, nullptr, nullptr, 0, false, true, true, false);
    EXPECT_EQ(r->data2, static_cast<std::uint32_t>('b'));
    Cell w;
    word::load("x", &w);
    s = text("a=b");
    EXPECT_EQ(test::error_of([&] {
                  row().eval_path(&s, &w, nullptr, &path, nullptr, nullptr, 0, false, true, true, false);
              }),
              ErrorId::script_invalid_path);
    Cell missing = text("?");
    Cell v = character('c');
    EXPECT_EQ(test::error_of([&] {
                  row().eval_path(&s, &missing, &v, &path, nullptr, nullptr, 0, false, false, true, false);
              }),
              ErrorId::script_bad_path_set);
}

TEST_F(StringActions, TakePickAndMoveThroughSeries) {
    Cell s = text("abc");
    Cell* r = row().take(&s, nullptr, false, false);
    ASSERT_TRUE(r->is(Type::char_));
    EXPECT_EQ(r->data2, static_cast<std::uint32_t>('a'));
    s = text("abc");
    Cell one = integer(1);
    r = row().take(&s, &one, false, false);
    ASSERT_TRUE(r->is(Type::string));
    EXPECT_EQ(utf8(*r), "a");
    s = text("\xF0\x9F\x98\x80x", 4);
    r = row().take(&s, nullptr, false, true);
    EXPECT_EQ(r->data2, static_cast<std::uint32_t>('x'));

    // Paths: an integer picks and pokes.
    s = text("abc");
    Cell path = none::value;
    Cell two = integer(2);
    r = row().eval_path(&s, &two, nullptr, &path, nullptr, nullptr, 0, false, true, true, false);
    EXPECT_EQ(r->data2, static_cast<std::uint32_t>('b'));
    s = text("abc");
    Cell e = character(0x3A9);
    row().eval_path(&s, &one, &e, &path, nullptr, nullptr, 0, false, false, true, false);
    EXPECT_EQ(utf8(s), "Ωbc");
    // Setting through a found key pokes the code point after it.
    s = text("a=b");
    Cell key = text("=");
    row().eval_path(&s, &key, &e, &path, nullptr, nullptr, 0, false, false, true, false);
    EXPECT_EQ(utf8(s), "a=Ω");

    // Moving text between strings of different units.
    Cell origin = text("abc");
    Cell target = text("x\xF0\x9F\x98\x80", 4);
    target.data1 = 1;
    row().move(&origin, &target, &two);
    EXPECT_EQ(utf8(origin), "c");
    target.data1 = 0;
    EXPECT_EQ(utf8(target), "xab\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace kiv
