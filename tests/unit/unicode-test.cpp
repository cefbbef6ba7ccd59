#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "runtime/fire.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

using Bytes = std::vector<std::uint8_t>;

// Runs f and answers the error id it fires, or count_ when it returns.
template <typename F>
ErrorId fired(F f) {
    try {
        f();
    } catch (const KivError& e) {
        return e.id;
    }
    return ErrorId::count_;
}

Bytes units(const std::vector<std::uint32_t>& cps, int unit) {
    Bytes b(cps.size() * static_cast<std::size_t>(unit));
    for (std::size_t i = 0; i < cps.size(); ++i) unicode::store_unit(&b[i * unit], unit, cps[i]);
    return b;
}

// The errors carry a binary!, so the heap must be there.
struct Unicode : ::testing::Test {
    static void SetUpTestSuite() { memory::init(); }
};

}  // namespace

TEST_F(Unicode, FastDecoder) {
    struct Case { Bytes in; std::int32_t cp; std::size_t consumed; };
    const Case cases[] = {
        {{0x41}, 0x41, 1},
        {{0xC3, 0xA9}, 0xE9, 2},
        {{0xE2, 0x82, 0xAC}, 0x20AC, 3},
        {{0xF0, 0x90, 0x80, 0x80}, 0x10000, 4},
        {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},
        {{0xC3, 0x28}, -1, 2},         // the ASCII byte that broke it is taken too
        {{0x80}, -1, 1},               // lone continuation
        {{0xC0, 0x80}, -1, 1},         // overlong lead
        {{0xE0, 0x80, 0x80}, -1, 2},   // overlong three-byte form
        {{0xED, 0xA0, 0x80}, -1, 2},   // surrogate
        {{0xF4, 0x90, 0x80, 0x80}, -1, 2},  // above 0x10FFFF
        {{0xF5}, -1, 1},
        {{0xE2, 0x82}, -1, 2},         // cut by the end: stops at the end
        {{0xF0}, -1, 1},
    };
    for (const Case& c : cases) {
        std::int32_t cp = 0;
        const std::uint8_t* end = c.in.data() + c.in.size();
        const std::uint8_t* next = unicode::fast_decode_utf8_char(c.in.data(), end, &cp);
        EXPECT_EQ(cp, c.cp) << "case starting " << std::hex << int(c.in[0]);
        EXPECT_EQ(static_cast<std::size_t>(next - c.in.data()), c.consumed) << std::hex << int(c.in[0]);
    }
}

TEST_F(Unicode, CountAndSkipStopAtTheEnd) {
    const Bytes text = {'a', 0xC3, 0xA9, 0x80, 0xE2, 0x82, 0xAC, 0xF0, 0x90};
    const std::uint8_t* b = text.data();
    const std::uint8_t* e = b + text.size();
    EXPECT_EQ(unicode::count_codepoints(b, e), 5u);  // a, é, bad, €, cut
    EXPECT_EQ(unicode::skip_codepoints(b, e, 2), b + 3);
    EXPECT_EQ(unicode::skip_codepoints(b, e, 4), b + 7);
    EXPECT_EQ(unicode::skip_codepoints(b, e, 100), e);
    EXPECT_EQ(unicode::count_codepoints(b, b), 0u);
}

TEST_F(Unicode, ValidatingDecoder) {
    struct Case { Bytes in; std::int32_t cp; int len; };
    const Case good[] = {
        {{0x41}, 0x41, 1},
        {{0xC3, 0xA9}, 0xE9, 2},
        {{0xEF, 0xBF, 0xBD}, 0xFFFD, 3},
        {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},
        {{0xC3}, -1, 1},              // cut: nothing consumed
        {{0xF0, 0x90, 0x80}, -1, 3},
    };
    for (const Case& c : good) {
        int len = static_cast<int>(c.in.size());
        EXPECT_EQ(unicode::read_utf8_char(c.in.data(), &len), c.cp) << std::hex << int(c.in[0]);
        if (c.cp >= 0) {
            EXPECT_EQ(len, c.len);
        }
    }
    const Bytes bad[] = {
        {0x80},                    // continuation as lead
        {0xC0, 0x80},              // overlong NUL
        {0xC1, 0xBF},
        {0xE0, 0x9F, 0xBF},        // overlong three-byte form
        {0xF0, 0x8F, 0xBF, 0xBF},  // overlong four-byte form
        {0xED, 0xA0, 0x80},        // 0xD800
        {0xED, 0xB2, 0x80},        // 0xDC80
        {0xF4, 0x90, 0x80, 0x80},  // above 0x10FFFF
        {0xEF, 0xBF, 0xBE},        // U+FFFE marks invalid
        {0xF8, 0x88, 0x80, 0x80, 0x80},
        {0xC3, 0x28},
        {0xE0, 0x80},              // bad already, though cut
    };
    for (const Bytes& b : bad) {
        int len = static_cast<int>(b.size());
        EXPECT_EQ(fired([&] { unicode::read_utf8_char(b.data(), &len); }),
                  ErrorId::access_invalid_utf8)
            << std::hex << int(b[0]);
    }
}

TEST_F(Unicode, Encoders) {
    struct Case { std::uint32_t cp; Bytes utf8; std::vector<std::uint16_t> utf16; };
    const Case cases[] = {
        {0x41, {0x41}, {0x41}},
        {0xE9, {0xC3, 0xA9}, {0xE9}},
        {0x20AC, {0xE2, 0x82, 0xAC}, {0x20AC}},
        {0x10000, {0xF0, 0x90, 0x80, 0x80}, {0xD800, 0xDC00}},
        {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}, {0xDBFF, 0xDFFF}},
    };
    for (const Case& c : cases) {
        std::uint8_t b[4];
        ASSERT_EQ(unicode::encode_utf8_char(c.cp, b), static_cast<int>(c.utf8.size()));
        EXPECT_EQ(Bytes(b, b + c.utf8.size()), c.utf8);
        EXPECT_EQ(unicode::utf8_char_size(c.cp), static_cast<int>(c.utf8.size()));
        std::uint16_t w[2];
        ASSERT_EQ(unicode::encode_utf16_char(c.cp, w), static_cast<int>(c.utf16.size()));
        EXPECT_EQ(std::vector<std::uint16_t>(w, w + c.utf16.size()), c.utf16);
    }
    std::uint8_t b[4] = {};
    EXPECT_EQ(fired([&] { unicode::encode_utf8_char(0x110000, b); }), ErrorId::script_invalid_char);
    EXPECT_EQ(fired([&] { unicode::utf8_char_size(0x110000); }), ErrorId::script_invalid_char);
    std::uint16_t w[2];
    EXPECT_EQ(unicode::encode_utf16_char(0x110000, w), 0);
    EXPECT_EQ(unicode::encode_utf8_char_bounded(0xE9, b, 1), 1);
    EXPECT_EQ(b[0], 0xC3);
    EXPECT_EQ(unicode::encode_utf8_char_bounded(0xE9, b, 0), 0);
}

TEST_F(Unicode, UnitsToUtf8) {
    Bytes u4 = units({'a', '\n', 0xE9, 0x10000}, 4);
    Bytes out(32);
    std::size_t n = unicode::units_to_utf8(u4.data(), 4, 4, out.data(), true);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + n),
              (Bytes{'a', '\r', '\n', 0xC3, 0xA9, 0xF0, 0x90, 0x80, 0x80}));
    EXPECT_EQ(unicode::utf8_size(u4.data(), u4.data() + u4.size(), 4), 8u);
    Bytes u1 = units({0xE9, 'b'}, 1);
    n = unicode::units_to_utf8_bounded(u1.data(), 2, 1, out.data(), 1);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(out[0], 0xC3);
    n = unicode::units_to_utf8_bounded(u1.data(), 2, 1, out.data(), 10);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + n), (Bytes{0xC3, 0xA9, 'b'}));
}

// Loads UTF-8 the way the string loader does, widening when asked.
struct Loaded { std::vector<std::uint32_t> cps; int unit; unicode::LoadStop stop; std::size_t left; };

Loaded load(const Bytes& in, bool cr) {
    std::vector<std::uint8_t> buf(in.size() * 4 + 4);
    int unit = 1;
    std::size_t used = 0;
    const std::uint8_t* p = in.data();
    const std::uint8_t* end = p + in.size();
    std::int32_t cp;
    unicode::LoadStop stop;
    while ((stop = unicode::load_utf8_units(&p, end, buf.data(), unit, &used, in.size(), cr, &cp)) ==
           unicode::LoadStop::widen) {
        int to = unicode::unit_for(static_cast<std::uint32_t>(cp));
        unicode::widen_units(buf.data(), used, unit, to);
        unit = to;
    }
    Loaded r{{}, unit, stop, static_cast<std::size_t>(end - p)};
    for (std::size_t i = 0; i < used; ++i) r.cps.push_back(unicode::unit_at(&buf[i * unit], unit));
    return r;
}

TEST_F(Unicode, LoadUtf8Widens) {
    struct Case { Bytes in; bool cr; std::vector<std::uint32_t> cps; int unit; std::size_t left; };
    const Case cases[] = {
        {{0x63, 0x61, 0x66, 0xC3, 0xA9}, false, {'c', 'a', 'f', 0xE9}, 1, 0},
        {{0x61, 0xC4, 0x81, 0x62}, false, {'a', 0x101, 'b'}, 2, 0},
        {{0x61, 0xC4, 0x81, 0x62, 0xF0, 0x90, 0x80, 0x80}, false, {'a', 0x101, 'b', 0x10000}, 4, 0},
        {{0x61, 0xF0, 0x90, 0x80, 0x80}, false, {'a', 0x10000}, 4, 0},
        {{0x61, 0x62, 0xE2, 0x82}, false, {'a', 'b'}, 1, 2},
        {{0x61, 0x0D, 0x0A, 0x62, 0x0D, 0x63}, true, {'a', '\n', 'b', '\n', 'c'}, 1, 0},
        {{0x61, 0x0D}, true, {'a', '\n'}, 1, 0},
        {{0x61, 0x0D, 0x0A}, false, {'a', '\r', '\n'}, 1, 0},
    };
    for (const Case& c : cases) {
        Loaded r = load(c.in, c.cr);
        EXPECT_EQ(r.cps, c.cps);
        EXPECT_EQ(r.unit, c.unit);
        EXPECT_EQ(r.left, c.left);
    }
    EXPECT_EQ(fired([] { load({0x61, 0xC0, 0x80}, false); }), ErrorId::access_invalid_utf8);
}

TEST_F(Unicode, Utf16Loading) {
    struct Case { Bytes in; bool cr; int unit; std::vector<std::uint32_t> cps; };
    const Case cases[] = {
        {{0x41, 0, 0x42, 0}, false, 1, {'A', 'B'}},
        {{0x41, 0, 0xAC, 0x20}, false, 2, {'A', 0x20AC}},
        {{0x00, 0xD8, 0x00, 0xDC}, false, 4, {0x10000}},
        {{0x00, 0xDC, 0x41, 0x00}, false, 4, {0xDC00, 'A'}},  // lone low surrogate kept
        {{0x61, 0, 0x0D, 0, 0x0A, 0, 0x62, 0, 0x0D, 0, 0x63, 0}, true, 1, {'a', '\n', 'b', 'c'}},
    };
    for (const Case& c : cases) {
        std::size_t count = c.in.size() / 2;
        int unit = unicode::utf16_unit_needed(c.in.data(), count);
        EXPECT_EQ(unit, c.unit);
        Bytes out(count * 4);
        std::size_t n = unicode::utf16le_to_units(c.in.data(), count, unit, out.data(), c.cr);
        std::vector<std::uint32_t> cps;
        for (std::size_t i = 0; i < n; ++i) cps.push_back(unicode::unit_at(&out[i * unit], unit));
        EXPECT_EQ(cps, c.cps);
    }
    // a broken pair fires, also when the high surrogate is the last unit
    const Bytes broken[] = {{0x3D, 0xD8, 0x41, 0x00}, {0x41, 0x00, 0x3D, 0xD8}};
    for (const Bytes& b : broken) {
        Bytes out(16);
        EXPECT_EQ(fired([&] { unicode::utf16le_to_units(b.data(), 2, 4, out.data(), false); }),
                  ErrorId::script_invalid_data);
    }
}

TEST_F(Unicode, UnitsToUtf16) {
    Bytes u4 = units({0x10000}, 4);
    std::uint16_t out[8];
    EXPECT_EQ(unicode::units_to_utf16(u4.data(), 1, 4, out, false), 2);
    EXPECT_EQ(out[0], 0xD800);
    EXPECT_EQ(out[1], 0xDC00);
    Bytes u1 = units({'a', '\n'}, 1);
    EXPECT_EQ(unicode::utf16_extra_bytes(u1.data(), u1.data() + 2, 1), 2u);
    ASSERT_EQ(unicode::units_to_utf16(u1.data(), 2, 1, out, true), 3);
    EXPECT_EQ(out[0], 'a');
    EXPECT_EQ(out[1], '\r');
    EXPECT_EQ(out[2], '\n');
    Bytes huge = units({'a', 0x110000}, 4);
    EXPECT_EQ(unicode::units_to_utf16(huge.data(), 2, 4, out, false), -1);
}

TEST_F(Unicode, WideningKeepsEveryCodePoint) {
    const std::vector<std::uint32_t> cps = {0, 'a', 0x7F, 0xFF};
    for (auto [from, to] : {std::pair{1, 2}, std::pair{1, 4}, std::pair{2, 4}}) {
        Bytes b = units(cps, from);
        b.resize(cps.size() * to);
        unicode::widen_units(b.data(), cps.size(), from, to);
        EXPECT_EQ(b, units(cps, to)) << from << " to " << to;
    }
}

}  // namespace kiv
