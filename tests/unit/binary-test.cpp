// binary!: molds in rows, conversion to bytes, comparison, append, insert
// and change with their checks, trimming, the bitwise actions and the four
// coders.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/unit/scalar-support.h"

namespace kiv {

using namespace test;

namespace {

class Binaries : public ScalarTest {};

// The bytes from the index as hex digits.
std::string hex(Cell v) {
    Cell out;
    string::make_at(&out, 16);
    binary::serialize(&v, &out, true, false, true, nullptr, 0, 0);
    return string::to_utf8(&out);
}

Cell bytes_of(int n) {
    std::vector<int> b(static_cast<std::size_t>(n));
    for (int k = 0; k < n; ++k) b[static_cast<std::size_t>(k)] = k;
    return bin(b);
}

std::string mold_with(Cell v, bool flat, int indent = 0) {
    Cell out;
    string::make_at(&out, 16);
    registry::find<Action::mold>(&v)(&v, &out, false, false, flat, nullptr, 0, indent);
    return string::to_utf8(&out);
}

Cell insert(Cell series, Cell value, bool append, int part = -1, int dup = 1) {
    return *registry::find<Action::insert>(&series)(&series, &value, part, false, dup, append);
}

Cell change(Cell series, Cell value, int part = -1, int dup = 1) {
    return *registry::find<Action::change>(&series)(&series, &value, part, false, dup);
}

Cell at(Cell v, std::uint32_t index) {
    v.data1 = index;
    return v;
}

Cell whole(Cell v) { return at(v, 0); }

TEST_F(Binaries, MoldsInRowsOfThirtyTwo) {
    const std::string row = hex(bytes_of(32));
    EXPECT_EQ(mold(bytes_of(30)), "#{" + hex(bytes_of(30)) + "}");
    EXPECT_EQ(mold(bytes_of(31)), "#{\n    " + hex(bytes_of(31)) + "\n}");
    EXPECT_EQ(mold(bytes_of(64)), "#{\n    " + row + "\n    " + hex(at(bytes_of(64), 32)) + "\n    }");
    EXPECT_EQ(mold_with(bytes_of(31), false, 1), "#{\n        " + hex(bytes_of(31)) + "\n    }");
    EXPECT_EQ(mold_with(bytes_of(64), true), "#{" + hex(bytes_of(64)) + "}");
    EXPECT_EQ(form(bytes_of(31)), mold(bytes_of(31)));
    EXPECT_EQ(mold(bin({0xAB, 0x0C})), "#{AB0C}");
    EXPECT_EQ(mold(at(bin({1, 2, 3}), 5)), "#{}");

    // A /part budget stops after the byte that spends it, without "}".
    Cell out;
    string::make_at(&out, 16);
    Cell v = bin({1, 2, 3, 4});
    Cell limit = i(5);
    EXPECT_EQ(registry::find<Action::form>(&v)(&v, &out, &limit, 5), -1);
    EXPECT_EQ(string::to_utf8(&out), "#{0102");
}

TEST_F(Binaries, ConversionToBytes) {
    struct Case {
        Cell spec;
        const char* hex;
    } cases[] = {
        {i(1), "00000001"},
        {i(-2), "FFFFFFFE"},
        {f(1.0), "3FF0000000000000"},
        {pc(0.5), "3FE0000000000000"},
        {ch(0xE9), "C3A9"},
        {ch(0x1F600), "F09F9880"},
        {string_of("a\xC3\xA9"), "61C3A9"},
        {tup({1, 2, 3, 4}), "01020304"},
        {at(bin({1, 2, 3}), 1), "0203"},
        {word_of("abcd", Type::issue), "ABCD"},
        {block_of({i(1), ch('A'), bin({0xFF}), string_of("b"), block_of({i(-1)})}), "0141FF62FF"},
    };
    for (const Case& c : cases) {
        Cell proto = datatype_of(Type::binary);
        Cell spec = c.spec;
        EXPECT_EQ(hex(*registry::row(Type::binary).to(&proto, &spec, Type::binary)), c.hex) << c.hex;
    }
    struct Failure {
        Cell spec;
        ErrorId error;
    } failures[] = {
        {word_of("XY", Type::issue), ErrorId::script_invalid_data},
        {xy(1, 2), ErrorId::script_bad_to_arg},
        {block_of({i(256)}), ErrorId::script_invalid_arg},
        {block_of({xy(1, 2)}), ErrorId::script_bad_to_arg},
    };
    for (const Failure& c : failures) {
        Cell proto = datatype_of(Type::binary);
        Cell spec = c.spec;
        EXPECT_EQ(error_of([&] { registry::row(Type::binary).to(&proto, &spec, Type::binary); }), c.error);
    }
}

TEST_F(Binaries, MakeTakesASizeOrConverts) {
    const auto make = [](Cell spec) {
        Cell proto = datatype_of(Type::binary);
        return *registry::row(Type::binary).make(&proto, &spec, Type::binary);
    };
    const Cell sized = make(i(100));
    EXPECT_EQ(hex(sized), "");
    EXPECT_GE(binary::buffer(&sized)->size, 100u);
    EXPECT_EQ(hex(make(string_of("ab"))), "6162");
    EXPECT_EQ(hex(make(i(1))), "");
    EXPECT_EQ(error_of([&] { make(i(-1)); }), ErrorId::script_out_of_range);
    EXPECT_EQ(error_of([&] { make(xy(1, 2)); }), ErrorId::script_bad_to_arg);
}

TEST_F(Binaries, Comparison) {
    const Cell a = bin({1, 2});
    const Cell b = bin({1, 2, 3});
    EXPECT_EQ(compare(a, b, CompareOp::lesser), -1);
    EXPECT_NE(compare(a, b, CompareOp::equal), 0);
    EXPECT_EQ(compare(bin({1, 2}), a, CompareOp::strict_equal), 0);
    EXPECT_EQ(compare(bin({2}), b, CompareOp::greater), 1);
    EXPECT_EQ(compare(bin({}), bin({}), CompareOp::equal), 0);
    EXPECT_EQ(compare(a, a, CompareOp::same), 0);
    EXPECT_EQ(compare(a, bin({1, 2}), CompareOp::same), -1);
    EXPECT_EQ(compare(a, string_of("\x01\x02"), CompareOp::equal), not_comparable);

    // Match mode: the second value is a prefix of the first.
    Cell x = b;
    Cell prefix = string_of("\x01\x02");
    EXPECT_EQ(binary::compare_bytes(&x, &prefix, CompareOp::equal, true), 0);
    Cell longer = bin({1, 2, 3, 4});
    EXPECT_NE(binary::compare_bytes(&x, &longer, CompareOp::equal, true), 0);
    Cell letter = ch(1);
    EXPECT_TRUE(binary::match_value(&x, &letter, CompareOp::equal));
    EXPECT_FALSE(binary::match_value(&x, &longer, CompareOp::equal));
}

TEST_F(Binaries, AppendAndInsert) {
    Cell b = bin({1, 2});
    EXPECT_EQ(hex(insert(b, i(-1), true)), "0102FF");
    EXPECT_EQ(hex(insert(b, bin({7}), true, -1, 3)), "0102FF070707");
    EXPECT_EQ(hex(insert(b, block_of({i(1), i(2), i(3)}), true, 2)), "0102FF0707070102");
    // Nothing to add leaves the series and its index as they were.
    EXPECT_EQ(insert(at(b, 1), bin({}), true).data1, 1u);

    // A refused integer leaves the binary untouched.
    EXPECT_EQ(error_of([&] { insert(at(b, 1), i(256), false); }), ErrorId::script_invalid_arg);
    EXPECT_EQ(error_of([&] { insert(b, block_of({i(5), i(-129)}), true); }), ErrorId::script_invalid_arg);
    EXPECT_EQ(error_of([&] { insert(b, f(1.5), true); }), ErrorId::script_bad_to_arg);
    EXPECT_EQ(hex(b), "0102FF0707070102");

    // insert answers the position past what it put in.
    const Cell r = insert(at(b, 1), string_of("AB"), false);
    EXPECT_EQ(r.data1, 3u);
    EXPECT_EQ(hex(whole(r)), "01414202FF0707070102");
    // Inserting a binary into itself reads its bytes as they were.
    Cell c = bin({1, 2, 3});
    EXPECT_EQ(hex(whole(insert(at(c, 1), c, false))), "01010203" "0203");

    std::uint8_t byte = 9;
    Cell big = i(256);
    binary::set_value(&byte, &big);
    EXPECT_EQ(byte, 0);
    EXPECT_EQ(error_of([&] { binary::set_value(&byte, &b); }), ErrorId::script_invalid_arg);
}

TEST_F(Binaries, Change) {
    struct Case {
        std::vector<int> bytes;
        std::uint32_t index;
        Cell value;
        int part;
        int dup;
        const char* result;
        std::uint32_t next;
    } cases[] = {
        {{1, 2, 3}, 0, bin({0xAA, 0xBB}), -1, 1, "AABB03", 2},
        {{1, 2, 3}, 1, bin({0xAA, 0xBB}), -1, 1, "01AABB", 3},
        {{1, 2, 3}, 2, bin({0xAA, 0xBB}), -1, 1, "0102AABB", 4},
        {{1, 2, 3}, 0, bin({0xAA}), 3, 1, "AA", 1},
        {{1, 2, 3}, 1, bin({}), 1, 1, "0103", 1},
        {{1, 2, 3}, 0, i(9), -1, 2, "090903", 2},
        {{1, 2, 3}, 0, f(1.5), 1, 1, "312E350203", 3},
        {{1, 2, 3}, 9, ch('A'), -1, 1, "01020341", 4},
    };
    for (const Case& c : cases) {
        Cell b = at(bin(c.bytes), c.index);
        const Cell r = change(b, c.value, c.part, c.dup);
        EXPECT_EQ(hex(whole(r)), c.result) << c.result;
        EXPECT_EQ(r.data1, c.next) << c.result;
    }
    Cell same = bin({1, 2, 3});
    EXPECT_EQ(hex(whole(change(at(same, 1), same))), "01010203");
}

TEST_F(Binaries, TrimZeros) {
    const auto trim = [](bool head, bool tail, bool all, Cell* with) {
        Cell b = bin({0, 0, 0xAB, 0, 0xCD, 0, 0});
        return hex(*registry::find<Action::trim>(&b)(&b, head, tail, false, false, all, with));
    };
    Cell ab = i(0xAB);
    Cell both = bin({0, 0xCD});
    EXPECT_EQ(trim(false, false, false, nullptr), "AB00CD");
    EXPECT_EQ(trim(true, false, false, nullptr), "AB00CD0000");
    EXPECT_EQ(trim(false, true, false, nullptr), "0000AB00CD");
    EXPECT_EQ(trim(true, true, false, nullptr), "AB00CD");
    EXPECT_EQ(trim(false, false, true, nullptr), "ABCD");
    EXPECT_EQ(trim(false, false, false, &ab), "000000CD0000");
    EXPECT_EQ(trim(false, false, true, &both), "AB");
    Cell b = bin({0, 1});
    EXPECT_EQ(error_of([&] { registry::find<Action::trim>(&b)(&b, false, false, true, false, false, nullptr); }),
              ErrorId::internal_not_done);
}

TEST_F(Binaries, BitwiseActions) {
    EXPECT_EQ(hex(math(bin({0xFF, 0, 0xFF}), MathOp::and_, bin({0x0F}))), "0F0000");
    EXPECT_EQ(hex(math(bin({0xFF, 0, 0xFF}), MathOp::or_, bin({0x0F}))), "FF00FF");
    EXPECT_EQ(hex(math(bin({0x0F}), MathOp::xor_, bin({0xFF, 0x10}))), "F010");
    EXPECT_EQ(error_of([] { math(bin({1}), MathOp::and_, i(1)); }), ErrorId::script_invalid_arg);
    Cell b = at(bin({0x0F, 0xF0}), 1);
    EXPECT_EQ(hex(whole(*registry::find<Action::complement>(&b)(&b))), "0F0F");
}

TEST_F(Binaries, ByteInBitset) {
    // Bits most significant first: byte 0x41 is bit 1 of byte 8.
    Cell bits = bin({0, 0, 0, 0, 0, 0, 0, 0, 0x40});
    bits.set_type(Type::bitset);
    Cell b = bin({0x41, 0x42});
    EXPECT_TRUE(binary::byte_in_bitset(&b, &bits));
    b.data1 = 1;
    EXPECT_FALSE(binary::byte_in_bitset(&b, &bits));
    Cell high = bin({0xF0});
    EXPECT_FALSE(binary::byte_in_bitset(&high, &bits));
    memory::set_series_flags(bits.data2, memory::series_flag::complement);
    EXPECT_TRUE(binary::byte_in_bitset(&high, &bits));
}

// The bytes a decoder makes, as hex, or "none".
std::string decoded(NodeId node) {
    if (!node) return "none";
    return hex(Cell{static_cast<std::uint32_t>(Type::binary), 0, node, 0});
}

std::string encoded(int base, std::vector<int> bytes) {
    std::vector<std::uint8_t> b(bytes.begin(), bytes.end());
    std::string out(static_cast<std::size_t>(binary::encoded_size(base, static_cast<std::int64_t>(b.size()))), '\0');
    auto* o = reinterpret_cast<std::uint8_t*>(out.data());
    const auto n = static_cast<std::int64_t>(b.size());
    std::uint8_t* end = base == 2    ? binary::encode_2(o, b.data(), n)
                        : base == 16 ? binary::encode_16(o, b.data(), n)
                        : base == 58 ? binary::encode_58(o, b.data(), n)
                                     : binary::encode_64(o, b.data(), n);
    out.resize(static_cast<std::size_t>(end - o));
    return out;
}

TEST_F(Binaries, Encoders) {
    struct Case {
        int base;
        std::vector<int> bytes;
        const char* text;
    } cases[] = {
        {2, {0xA5, 1}, "1010010100000001"},
        {16, {0xAB, 0x0C}, "AB0C"},
        {58, {0, 0}, "11"},
        {58, {0, 0, 1}, "112"},
        {58, {0x61}, "2g"},
        {58, {0x62, 0x62, 0x62}, "a3gV"},
        {58, {}, ""},
        {64, {'M', 'a', 'n'}, "TWFu"},
        {64, {'M', 'a'}, "TWE="},
        {64, {'M'}, "TQ=="},
    };
    for (const Case& c : cases) EXPECT_EQ(encoded(c.base, c.bytes), c.text) << c.text;
}

TEST_F(Binaries, Decoders) {
    struct Case {
        int base;
        const char* text;
        const char* hex;
    } cases[] = {
        {2, "10100101 00000001", "A501"},
        {2, "1010", "none"},
        {2, "10100102", "none"},
        {16, "AB 0c", "AB0C"},
        {16, "AB C", "AB"},
        {16, "AG", "none"},
        {16, "", ""},
        {16, "A;comment B\nB", "AB"},
        {58, "11", "0000"},
        {58, "a3gV", "626262"},
        {58, "1 1'2", "000001"},
        {58, "0", "none"},
        {64, "TWFu", "4D616E"},
        {64, "TWE=", "4D61"},
        {64, "TQ==", "4D"},
        {64, "T===", "none"},
        {64, "TWFuTWE", "4D616E"},
        {64, "TW Fu\n", "4D616E"},
        {64, "TWE=@@@", "4D61"},
        {64, "TW!u", "none"},
    };
    for (const Case& c : cases) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(c.text);
        const auto n = static_cast<std::int64_t>(std::strlen(c.text));
        const NodeId node = c.base == 2    ? binary::decode_2(p, n, 1)
                            : c.base == 16 ? binary::decode_16(p, n, 1)
                            : c.base == 58 ? binary::decode_58(p, n, 1)
                                           : binary::decode_64(p, n, 1);
        EXPECT_EQ(decoded(node), c.hex) << c.base << " " << c.text;
    }
    // Characters of wider units: base 58 stops at the first one above 127,
    // base 64 refuses it.
    const std::uint16_t wide[] = {'2', 'g', 0x100, '2'};
    EXPECT_EQ(decoded(binary::decode_58(reinterpret_cast<const std::uint8_t*>(wide), 4, 2)), "61");
    EXPECT_EQ(decoded(binary::decode_64(reinterpret_cast<const std::uint8_t*>(wide), 4, 2)), "none");
}

}  // namespace
}  // namespace kiv
