#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "runtime/case-folding.h"
#include "runtime/fire.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

constexpr std::uint32_t none = 0xFFFFFFFF;  // no mapping: maps to itself

struct CaseFolding : ::testing::Test {
    static void SetUpTestSuite() { case_folding::init(); }
};

}  // namespace

TEST_F(CaseFolding, TellingRows) {
    struct Row { std::uint32_t cp, upper, lower; };
    const Row rows[] = {
        {0x61, 0x41, none},     {0x7A, 0x5A, none},     {0x41, none, 0x61},
        {0xB5, 0x39C, none},    {0xDF, 0x53, none},     {0xFF, 0x178, none},
        {0x130, none, 0x69},    {0x131, 0x49, none},    {0x17F, 0x53, none},
        {0x1C4, none, 0x1C6},   {0x1C5, 0x1C4, 0x1C6},  {0x1C6, 0x1C4, none},
        {0x345, 0x399, none},   {0x3C2, 0x3A3, none},   {0x1E9E, none, 0xDF},
        {0x2126, none, 0x3C9},  {0x212A, none, 0x6B},   {0x10428, 0x10400, none},
        {0x10400, none, 0x10428}, {0x1E922, 0x1E900, none},
        // several-character upper cases give their first character
        {0x149, 0x2BC, none},   {0x1E96, 0x48, none},   {0xFB00, 0x46, none},
        {0x1F80, 0x1F08, none},
        // nothing to map, inside and outside the supplementary lists' range
        {0x10450, none, none},  {0x20000, none, none},  {0x10FFFF, none, none},
        {0x31, none, none},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(case_folding::change_char(r.cp, true), r.upper == none ? r.cp : r.upper)
            << std::hex << r.cp;
        EXPECT_EQ(case_folding::change_char(r.cp, false), r.lower == none ? r.cp : r.lower)
            << std::hex << r.cp;
    }
}

TEST(DisplayWidth, Columns) {
    struct Case { std::uint32_t cp; int width; };
    const Case cases[] = {
        {0, 0},       {0x0A, 1},     {0x1B, 1},     {0x41, 1},     {0x7F, 1},
        {0x9F, 1},    {0xAD, 1},     {0x200B, 1},   {0x301, 0},    {0x600, 0},
        {0x1160, 0},  {0x11FF, 0},   {0xFE0F, 0},   {0xE0100, 0},  {0x1100, 2},
        {0x3000, 2},  {0x302A, 0},   {0x4E00, 2},   {0xAC00, 2},   {0xFF01, 2},
        {0xFF61, 1},  {0x1F600, 2},  {0x20000, 2},  {0x3FFFD, 2},  {0x40000, 1},
        {0xE9, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(unicode::display_width(c.cp), c.width) << std::hex << c.cp;
}

}  // namespace kiv

namespace kiv {

namespace {

Cell text_value(const std::vector<std::uint32_t>& cps, int unit, std::uint32_t index = 0) {
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

std::vector<std::uint32_t> text_of(const Cell& v) {
    memory::SeriesBuffer* b = memory::buffer_of(v.data2);
    std::vector<std::uint32_t> out;
    for (std::uint8_t* p = b->head(); p < b->tail_ptr(); p += b->unit())
        out.push_back(unicode::unit_at(p, static_cast<int>(b->unit())));
    return out;
}

Cell integer(std::int32_t v) { return Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(v), 0}; }

}  // namespace

TEST_F(CaseFolding, ChangeCaseOfValues) {
    memory::init();
    using CPs = std::vector<std::uint32_t>;
    Cell c{static_cast<std::uint32_t>(Type::char_), 0, 0xE9, 0};
    case_folding::change_case(&c, nullptr, nullptr, true);
    EXPECT_EQ(c.data2, 0xC9u);

    Cell y = text_value({'a', 0xFF}, 1);
    case_folding::change_case(&y, nullptr, nullptr, true);
    EXPECT_EQ(text_of(y), (CPs{'A', 0x178}));
    EXPECT_EQ(memory::buffer_of(y.data2)->unit(), 2u);

    Cell astral = text_value({0x10428, 'b'}, 4);
    case_folding::change_case(&astral, nullptr, nullptr, true);
    EXPECT_EQ(text_of(astral), (CPs{0x10400, 'B'}));

    struct Case { std::int32_t part; CPs result; };
    const Case parts[] = {{2, {'A', 'B', 'c'}}, {0, {'a', 'b', 'c'}}, {-5, {'a', 'b', 'c'}}, {99, {'A', 'B', 'C'}}};
    for (const Case& k : parts) {
        Cell abc = text_value({'a', 'b', 'c'}, 1);
        Cell part = integer(k.part);
        case_folding::change_case(&abc, &part, nullptr, true);
        EXPECT_EQ(text_of(abc), k.result) << k.part;
    }

    Cell abc = text_value({'A', 'B', 'C', 'D'}, 1, 1);
    Cell position = abc;
    position.data1 = 3;  // the same series, two further on
    case_folding::change_case(&abc, &position, nullptr, false);
    EXPECT_EQ(text_of(abc), (CPs{'A', 'b', 'c', 'D'}));

    Cell beyond = text_value({'a'}, 1, 5);
    case_folding::change_case(&beyond, nullptr, nullptr, true);
    EXPECT_EQ(beyond.data1, 1u);  // set to the tail
    EXPECT_EQ(text_of(beyond), CPs{'a'});

    Cell other = text_value({'x'}, 1);
    Cell refinement{static_cast<std::uint32_t>(Type::refinement), 0, 0, 0};
    try {
        case_folding::change_case(&abc, &other, &refinement, true);
        FAIL();
    } catch (const KivError& e) {
        EXPECT_EQ(e.id, ErrorId::script_invalid_refine_arg);
        ASSERT_EQ(e.arg_count, 2);
        EXPECT_EQ(e.args[0].type(), Type::refinement);
        EXPECT_EQ(e.args[1].data2, other.data2);
    }
}

}  // namespace kiv
