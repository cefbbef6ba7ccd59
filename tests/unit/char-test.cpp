// char!: conversion, arithmetic held to the code point range, comparison,
// form and mold.
#include <gtest/gtest.h>

#include "text-values.h"

namespace kiv {
namespace {

using test::character;
using test::integer;
using test::text;
using test::utf8;

const ActionFns& row() { return registry::row(Type::char_); }

class CharActions : public test::TextTest {};

Cell binary(std::initializer_list<std::uint8_t> bytes) {
    std::vector<std::uint8_t> v(bytes);
    Cell b;
    return *string::make_binary(&b, v.data(), static_cast<std::int64_t>(v.size()));
}

TEST_F(CharActions, MakeAndTo) {
    Cell at_one = text("abc");
    at_one.data1 = 1;
    struct Case {
        Cell spec;
        std::int64_t expected;  // code point, or -1 with the error below
        ErrorId error;
    } cases[] = {
        {integer(65), 'A', ErrorId::count_},
        {integer(0x10FFFF), 0x10FFFF, ErrorId::count_},
        {integer(0x110000), -1, ErrorId::script_out_of_range},
        {integer(-1), -1, ErrorId::script_out_of_range},
        {test::real(65.9), 'A', ErrorId::count_},
        {test::real(-0.5), 0, ErrorId::count_},
        {test::real(1e300), -1, ErrorId::script_out_of_range},
        {test::real(__builtin_nan("")), -1, ErrorId::script_out_of_range},
        {character(0xE9), 0xE9, ErrorId::count_},
        {at_one, 'b', ErrorId::count_},
        {text("\xF0\x9F\x98\x80", 4, Type::url), 0x1F600, ErrorId::count_},
        {text(""), -1, ErrorId::script_bad_to_arg},
        {binary({0xC3, 0xA9, 'x'}), 0xE9, ErrorId::count_},
        {binary({'A'}), 'A', ErrorId::count_},
        {binary({0x80}), 0xFFFE, ErrorId::count_},
        {binary({0xC3}), -1, ErrorId::access_invalid_utf8},
        {binary({0xE2, 0x82}), -1, ErrorId::access_invalid_utf8},
        {binary({0xC3, 0x28}), -1, ErrorId::access_invalid_utf8},
        {binary({}), -1, ErrorId::script_bad_to_arg},
        {logic::true_value, -1, ErrorId::script_bad_to_arg},
    };
    for (Case& c : cases) {
        Cell out;
        if (c.expected >= 0) {
            row().to(&out, &c.spec, Type::char_);
            EXPECT_TRUE(out.is(Type::char_));
            EXPECT_EQ(out.data2, static_cast<std::uint32_t>(c.expected));
        } else {
            EXPECT_EQ(test::error_of([&] { row().make(&out, &c.spec, Type::char_); }), c.error)
                << "expected error for case with code point " << c.spec.data2;
        }
    }
    // A sequence cut by the end carries exactly the bytes that are there.
    Cell cut = binary({0xE2, 0x82});
    EXPECT_EQ(test::error_arg_text([&] {
                  Cell out;
                  row().to(&out, &cut, Type::char_);
              }),
              "\xE2\x82");
}

TEST_F(CharActions, Arithmetic) {
    using Fn = Cell* (*)(Cell*, Cell*);
    struct Case {
        Fn op;
        std::uint32_t cp;
        Cell operand;
        std::int64_t expected;  // -1: the error below
        ErrorId error;
    } cases[] = {
        {row().add, 'a', integer(1), 'b', ErrorId::count_},
        {row().add, 'a', character(1), 'b', ErrorId::count_},
        {row().add, 'a', test::real(1.9), 'b', ErrorId::count_},
        {row().subtract, 'a', integer(98), -1, ErrorId::math_overflow},
        {row().add, 0x10FFFF, integer(1), -1, ErrorId::math_overflow},
        {row().multiply, 0x10000, integer(0x10000), -1, ErrorId::math_overflow},
        {row().multiply, 'A', integer(2), 130, ErrorId::count_},
        {row().divide, 'd', integer(3), 33, ErrorId::count_},
        {row().divide, 'd', integer(0), -1, ErrorId::math_zero_divide},
        {row().remainder, 'd', integer(7), 2, ErrorId::count_},
        {row().remainder, 'd', integer(0), -1, ErrorId::math_zero_divide},
        {row().or_, 'A', integer(0x20), 'a', ErrorId::count_},
        {row().and_, 'a', integer(0xDF), 'A', ErrorId::count_},
        {row().xor_, 'a', integer(0x20), 'A', ErrorId::count_},
        {row().and_, 'a', integer(-1), 'a', ErrorId::count_},
        {row().add, 'a', text("x"), -1, ErrorId::script_invalid_type},
        {row().add, 'a', test::real(5e9), -1, ErrorId::math_overflow},
    };
    for (Case& c : cases) {
        Cell a = character(c.cp);
        if (c.expected >= 0) {
            Cell* r = c.op(&a, &c.operand);
            EXPECT_TRUE(r->is(Type::char_));
            EXPECT_EQ(r->data2, static_cast<std::uint32_t>(c.expected)) << c.cp;
        } else {
            EXPECT_EQ(test::error_of([&] { c.op(&a, &c.operand); }), c.error) << c.cp;
        }
    }
}

TEST_F(CharActions, Compare) {
    struct Case {
        Cell b;
        CompareOp op;
        int expected;
    } cases[] = {
        {integer(97), CompareOp::equal, 0},
        {integer(97), CompareOp::strict_equal, 1},
        {integer(97), CompareOp::find, 1},
        {integer(98), CompareOp::lesser, -1},
        {character('a'), CompareOp::strict_equal, 0},
        {character('A'), CompareOp::equal, 1},
        {text("a"), CompareOp::equal, not_comparable},
    };
    for (Case& c : cases) {
        Cell a = character('a');
        EXPECT_EQ(row().compare(&a, &c.b, c.op), c.expected);
    }
}

TEST_F(CharActions, FormAndMold) {
    struct Case {
        std::uint32_t cp;
        bool all;
        const char* molded;
    } cases[] = {
        {'a', false, "#\"a\""},
        {'\t', false, "#\"^-\""},
        {'\n', false, "#\"^/\""},
        {0, false, "#\"^@\""},
        {'"', false, "#\"^\"\""},
        {'^', false, "#\"^^\""},
        {30, false, "#\"^(1E)\""},
        {0x7F, false, "#\"^~\""},
        {0x80, false, "#\"^(80)\""},
        {0x9F, false, "#\"^(9F)\""},
        {0xE9, false, "#\"é\""},
        {0xE9, true, "#\"^(E9)\""},
        {0x1F600, false, "#\"\xF0\x9F\x98\x80\""},
    };
    for (const Case& c : cases) {
        Cell v = character(c.cp);
        Cell out;
        string::make_at(&out, 0);
        EXPECT_EQ(row().mold(&v, &out, false, c.all, false, nullptr, 10, 0), 6);
        EXPECT_EQ(utf8(out), c.molded);
    }
    Cell v = character('a');
    Cell out;
    string::make_at(&out, 0);
    EXPECT_EQ(row().form(&v, &out, nullptr, 10), 9);
    EXPECT_EQ(utf8(out), "a");
}

}  // namespace
}  // namespace kiv
