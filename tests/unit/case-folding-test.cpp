#include <gtest/gtest.h>

#include <cstdint>

#include "runtime/case-folding.h"

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
