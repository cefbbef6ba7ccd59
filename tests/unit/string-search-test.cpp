// The forward text search against a plain reference: every needle of a
// small alphabet rich in case pairs (and in code points whose upper case
// leaves or enters the byte range) over every unit of text and needle.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/case-folding.h"
#include "runtime/datatypes/string-search.h"

namespace kiv {
namespace {

using Points = std::vector<std::uint32_t>;

std::vector<std::uint8_t> encode(const Points& points, std::uint32_t unit) {
    std::vector<std::uint8_t> bytes(points.size() * unit + 1);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::uint32_t cp = points[i];
        if (unit == 1) bytes[i] = static_cast<std::uint8_t>(cp);
        if (unit == 2) {
            const auto v = static_cast<std::uint16_t>(cp);
            std::memcpy(&bytes[i * 2], &v, 2);
        }
        if (unit == 4) std::memcpy(&bytes[i * 4], &cp, 4);
    }
    return bytes;
}

std::uint32_t unit_for(const Points& points) {
    std::uint32_t unit = 1;
    for (std::uint32_t cp : points) unit = std::max(unit, cp > 0xFFFF ? 4u : cp > 0xFF ? 2u : 1u);
    return unit;
}

std::int64_t reference(const Points& text, std::int64_t low, const Points& needle, bool fold) {
    auto f = [&](std::uint32_t c) { return fold ? case_folding::change_char(c, true) : c; };
    const auto m = static_cast<std::int64_t>(needle.size());
    for (std::int64_t p = low; p + m <= static_cast<std::int64_t>(text.size()); ++p) {
        std::int64_t i = 0;
        while (i < m && f(text[p + i]) == f(needle[i])) ++i;
        if (i == m) return p;
    }
    return -1;
}

std::int64_t searched(const Points& text, std::uint32_t unit, std::int64_t low,
                      const Points& needle, bool fold) {
    const std::uint32_t needle_unit = unit_for(needle);
    const auto t = encode(text, unit);
    const auto n = encode(needle, needle_unit);
    const string::TextNeedle tn{n.data(), needle_unit, static_cast<std::int64_t>(needle.size())};
    if (needle.size() == 1) {
        const std::uint32_t cp = fold ? case_folding::change_char(needle[0], true) : needle[0];
        const std::int64_t one = string::find_char_forward(t.data(), unit, low,
                                                           static_cast<std::int64_t>(text.size()), cp, fold);
        EXPECT_EQ(one, string::find_forward(t.data(), unit, low,
                                            static_cast<std::int64_t>(text.size()), tn, fold));
    }
    return string::find_forward(t.data(), unit, low, static_cast<std::int64_t>(text.size()), tn, fold);
}

TEST(StringSearch, AgreesWithAPlainScan) {
    case_folding::init();
    // Text of bytes: letters, 0xB5 and 0xFF (whose upper cases lie beyond
    // 0xFF) and a separator.
    const Points text_alphabet = {'a', 'A', 'i', 's', 'K', 0xB5, 0xFF, ';'};
    // Needles add code points of two bytes that fold onto bytes.
    const Points needle_alphabet = {'a', 'I', 'S', 'k', ';', 0x131, 0x17F, 0x178, 0x39C, 0x212A};
    Points text;
    for (int i = 0; i < 40; ++i) text.push_back(text_alphabet[(i * 7 + i / 3) % text_alphabet.size()]);
    std::vector<Points> needles;
    for (std::uint32_t a : needle_alphabet) {
        needles.push_back({a});
        for (std::uint32_t b : needle_alphabet) needles.push_back({a, b});
    }
    for (std::size_t i = 0; i + 3 <= text.size(); i += 5) needles.emplace_back(text.begin() + i, text.begin() + i + 3);
    for (std::uint32_t unit : {1u, 2u, 4u}) {
        for (const Points& needle : needles) {
            for (bool fold : {false, true}) {
                for (std::int64_t low : {0, 9}) {
                    EXPECT_EQ(searched(text, unit, low, needle, fold), reference(text, low, needle, fold))
                        << "unit " << unit << " fold " << fold << " needle[0] " << needle[0]
                        << " length " << needle.size();
                }
            }
        }
    }
}

TEST(StringSearch, ByteTableFoldsAsTheCaseTables) {
    case_folding::init();
    string::fill_byte_upper();
    for (std::uint32_t cp = 0; cp < 0x300; ++cp)
        EXPECT_EQ(string::fold_point(cp), case_folding::change_char(cp, true)) << cp;
}

TEST(StringSearch, LongNeedlesAndFarMatches) {
    case_folding::init();
    // A match far past the first candidates, and a needle longer than the
    // short buffer the search keeps on the stack.
    Points text(300, 'b');
    Points needle(70, 'b');
    needle.back() = 'c';
    text[250] = 'C';
    for (bool fold : {false, true}) {
        for (std::uint32_t unit : {1u, 2u}) {
            EXPECT_EQ(searched(text, unit, 0, needle, fold), reference(text, 0, needle, fold));
            EXPECT_EQ(searched(text, unit, 0, {'C'}, fold), 250);
            EXPECT_EQ(searched(text, unit, 0, {'c'}, fold), fold ? 250 : -1);
        }
    }
}

}  // namespace
}  // namespace kiv
