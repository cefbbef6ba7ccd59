#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "heap-support.h"
#include "runtime/collector.h"
#include "runtime/fire.h"
#include "runtime/memory.h"
#include "runtime/unicode-strings.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

using Bytes = std::vector<std::uint8_t>;
using CodePoints = std::vector<std::uint32_t>;

// The collector runs for these tests (at every allocation under
// KIV_GC_STRESS=1), so buffers really move while the text functions work.
struct UnicodeStrings : ::testing::Test {
    bool was_active = false;
    void SetUp() override {
        memory::init();
        was_active = collector::active();
        collector::set_active(true);
    }
    void TearDown() override { collector::set_active(was_active); }
};

CodePoints code_points(NodeId node) {
    memory::SeriesBuffer* b = memory::buffer_of(node);
    CodePoints out;
    for (std::uint8_t* p = b->head(); p < b->tail_ptr(); p += b->unit()) out.push_back(unicode::unit_at(p, static_cast<int>(b->unit())));
    return out;
}

Cell string_value(const CodePoints& cps, int unit, std::uint32_t index = 0) {
    NodeId node = memory::alloc_codepoints(static_cast<std::int64_t>(cps.size()), static_cast<std::uint32_t>(unit));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    std::uint8_t* p = b->head();
    for (std::uint32_t cp : cps) {
        unicode::store_unit(p, unit, cp);
        p += unit;
    }
    b->set_tail(p);
    return Cell{static_cast<std::uint32_t>(Type::string), index, node, 0};
}

Bytes binary_bytes(const Cell& c) {
    memory::SeriesBuffer* b = memory::buffer_of(c.data2);
    return Bytes(b->head(), b->tail_ptr());
}

}  // namespace

TEST_F(UnicodeStrings, LoadUtf8WidensAsCodePointsArrive) {
    struct Case { Bytes in; bool cr; CodePoints cps; std::uint32_t unit; std::size_t left; };
    const Case cases[] = {
        {{0x63, 0x61, 0x66, 0xC3, 0xA9}, false, {'c', 'a', 'f', 0xE9}, 1, 0},
        {{0x61, 0xC4, 0x81, 0x62}, false, {'a', 0x101, 'b'}, 2, 0},
        {{0x61, 0xC4, 0x81, 0x62, 0xF0, 0x90, 0x80, 0x80}, false, {'a', 0x101, 'b', 0x10000}, 4, 0},
        {{0xEF, 0xBB, 0xBF}, false, {}, 1, 0},
        {{0xEF, 0xBB, 0xBF, 0x41}, false, {'A'}, 1, 0},
        {{0x61, 0x62, 0xE2, 0x82}, false, {'a', 'b'}, 1, 2},
        {{0x61, 0x0D, 0x0A, 0x62, 0x0D, 0x63}, true, {'a', '\n', 'b', '\n', 'c'}, 1, 0},
        {{}, false, {}, 1, 0},
    };
    for (const Case& c : cases) {
        std::size_t left = 99;
        NodeId node = unicode::load_utf8(c.in.data(), c.in.size(), nullptr, &left, c.cr);
        EXPECT_EQ(code_points(node), c.cps);
        EXPECT_EQ(memory::buffer_of(node)->unit(), c.unit);
        EXPECT_EQ(left, c.left);
    }
    int len = 2;
    const std::uint8_t bad[] = {0xC0, 0x80};
    EXPECT_THROW(unicode::load_utf8_new(bad, 2), KivError);
    (void)len;
}

// On a fresh heap with a collection at every allocation, so the heap check
// sees only what loading left.
TEST_F(UnicodeStrings, LongTextWidensTwiceAndGrows) {
    test::isolated([] {
        collector::set_active(true);
        memory::set_stress(true);
        Bytes in(3000, 'a');
        in.insert(in.end(), {0xC4, 0x81});
        in.insert(in.end(), 3000, 'b');
        in.insert(in.end(), {0xF0, 0x9F, 0x98, 0x80});
        in.insert(in.end(), 100, 'c');
        NodeId node = unicode::load_utf8_new(in.data(), in.size());
        CodePoints cps = code_points(node);
        ASSERT_EQ(cps.size(), 6102u);
        EXPECT_EQ(cps[2999], 'a');
        EXPECT_EQ(cps[3000], 0x101u);
        EXPECT_EQ(cps[4000], 'b');
        EXPECT_EQ(cps[6001], 0x1F600u);
        EXPECT_EQ(cps[6101], 'c');
        EXPECT_EQ(memory::buffer_of(node)->unit(), 4u);
        memory::set_stress(false);
        test::expect_heap_sound();
    });
}

TEST_F(UnicodeStrings, LoadIntoATargetReplacesItsText) {
    Cell target = string_value({'x', 'y', 'z', 0x100}, 2);
    const std::uint8_t ab[] = {'a', 'b'};
    std::size_t left = 99;
    unicode::load_utf8_into(ab, 2, &target, &left);
    EXPECT_EQ(code_points(target.data2), (CodePoints{'a', 'b'}));
    EXPECT_EQ(memory::buffer_of(target.data2)->unit(), 2u);  // the unit stays
    unicode::load_utf8_into(ab, 0, &target, &left);
    EXPECT_EQ(code_points(target.data2), CodePoints{});
    EXPECT_EQ(left, 0u);
}

TEST_F(UnicodeStrings, Widening) {
    for (int to : {2, 4}) {
        // a buffer with head room, so the offset is not the data start
        NodeId node = memory::alloc_series(8, 1, 4);
        memory::SeriesBuffer* b = memory::buffer_of(node);
        const char* text = "abcdefgh";
        std::memcpy(b->head(), text, 8);
        b->set_tail(b->head() + 8);
        b = to == 2 ? unicode::widen_1to2(b) : unicode::widen_1to4(b);
        EXPECT_EQ(b, memory::buffer_of(node));
        EXPECT_EQ(code_points(node), (CodePoints{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}));
        EXPECT_EQ(b->unit(), static_cast<std::uint32_t>(to));
        EXPECT_GE(b->end() - b->tail_ptr(), to);  // room for one more unit
    }
    Cell two = string_value({0x100, 'q'}, 2);
    memory::SeriesBuffer* b = unicode::widen_2to4(memory::buffer_of(two.data2));
    EXPECT_EQ(b->unit(), 4u);
    EXPECT_EQ(code_points(two.data2), (CodePoints{0x100, 'q'}));
}

TEST_F(UnicodeStrings, LoadUtf16le) {
    struct Case { Bytes in; bool cr; CodePoints cps; std::uint32_t unit; };
    const Case cases[] = {
        {{0x41, 0, 0x42, 0}, false, {'A', 'B'}, 1},
        {{0x41, 0, 0xAC, 0x20}, false, {'A', 0x20AC}, 2},
        {{0x00, 0xD8, 0x00, 0xDC}, false, {0x10000}, 4},
        {{0x61, 0, 0x0D, 0, 0x0A, 0, 0x62, 0, 0x0D, 0, 0x63, 0}, true, {'a', '\n', 'b', 'c'}, 1},
        {{}, false, {}, 2},
    };
    for (const Case& c : cases) {
        NodeId node = unicode::load_utf16le(c.in.data(), c.in.size() / 2, nullptr, c.cr);
        EXPECT_EQ(code_points(node), c.cps);
        EXPECT_EQ(memory::buffer_of(node)->unit(), c.unit);
    }
    Cell target = string_value({'o', 'l', 'd'}, 1);
    const std::uint8_t euro[] = {0xAC, 0x20};
    unicode::load_utf16le(euro, 1, &target, false);
    EXPECT_EQ(code_points(target.data2), CodePoints{0x20AC});
    EXPECT_EQ(memory::buffer_of(target.data2)->unit(), 2u);
    const std::uint8_t broken[] = {0x3D, 0xD8, 0x41, 0x00};
    try {
        unicode::load_utf16le(broken, 2, nullptr, false);
        FAIL();
    } catch (const KivError& e) {
        EXPECT_EQ(e.id, ErrorId::script_invalid_data);
        EXPECT_EQ(binary_bytes(e.args[0]), (Bytes{0x3D, 0xD8, 0x41, 0x00}));
    }
}

TEST_F(UnicodeStrings, InvalidUtf8CarriesTheBytesThatRemain) {
    struct Case { Bytes in; Bytes reported; };
    const Case cases[] = {
        {{0xED, 0xB2, 0x80, 0x41, 0x42}, {0xED, 0xB2, 0x80, 0x41}},
        {{0xF4, 0x90}, {0xF4, 0x90}},
    };
    for (const Case& c : cases) {
        try {
            int len = static_cast<int>(c.in.size());
            unicode::read_utf8_char(c.in.data(), &len);
            FAIL();
        } catch (const KivError& e) {
            EXPECT_EQ(e.id, ErrorId::access_invalid_utf8);
            ASSERT_EQ(e.arg_count, 1);
            EXPECT_EQ(e.args[0].type(), Type::binary);
            EXPECT_EQ(binary_bytes(e.args[0]), c.reported);
        }
    }
}

TEST_F(UnicodeStrings, SideCopies) {
    Cell s = string_value({'a', '\n', 'b'}, 1);
    long len = -1;
    std::uint8_t* text = unicode::to_utf8_crlf(&s, &len, true);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text)), "a\r\nb");
    EXPECT_EQ(len, 4);
    NodeId side = s.data3;
    len = 2;  // a limit in code points
    text = unicode::to_utf8(&s, &len);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text)), "a\n");
    EXPECT_EQ(s.data3, side);  // reused

    Cell wide = string_value({0xE9, 0x10000, 'z'}, 4, 1);  // from the second code point
    len = -1;
    text = unicode::to_utf8(&wide, &len);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(text)), "\xF0\x90\x80\x80z");
    len = -1;
    std::uint16_t* w = unicode::to_utf16(&wide, &len, false);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(w[0], 0xD800);
    EXPECT_EQ(w[1], 0xDC00);
    EXPECT_EQ(w[2], 'z');
    EXPECT_EQ(w[3], 0);

    w = unicode::to_utf16_crlf(&s);
    EXPECT_EQ((std::vector<std::uint16_t>(w, w + 5)), (std::vector<std::uint16_t>{'a', '\r', '\n', 'b', 0}));

    Cell huge = string_value({'a', 0x110000}, 4);
    len = -1;
    EXPECT_EQ(unicode::to_utf16(&huge, &len, false), nullptr);
    len = -1;
    EXPECT_THROW(unicode::to_utf8(&huge, &len), KivError);

    // a longer text enlarges the side buffer
    CodePoints many(500, 0x20AC);
    Cell big = string_value(many, 2);
    big.data3 = s.data3;
    len = -1;
    text = unicode::to_utf8(&big, &len);
    EXPECT_EQ(len, 1500);
    EXPECT_EQ(text[1497], 0xE2);
    EXPECT_EQ(text[1500], 0);
}

TEST_F(UnicodeStrings, WriteUtf8) {
    Cell s = string_value({0xE9, 'b', 'c'}, 1);
    std::uint8_t out[16];
    EXPECT_EQ(unicode::write_utf8(&s, out, 2, true), 3u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out)), "\xC3\xA9" "b");
    EXPECT_EQ(unicode::write_utf8(&s, out, -1, false), 4u);
    EXPECT_EQ(unicode::write_utf8_bounded(&s, out, 1, 0, true), 1u);
    EXPECT_EQ(out[0], 0xC3);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(unicode::write_utf8_bounded(&s, out, 10, 1, false), 2u);
    s.data1 = 9;  // an index beyond the tail reads as empty
    EXPECT_EQ(unicode::write_utf8(&s, out, -1, true), 0u);
    EXPECT_EQ(unicode::string_length(&s), 0u);
}

}  // namespace kiv
