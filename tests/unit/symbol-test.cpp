#include <gtest/gtest.h>

#include <string>

#include "runtime/hashtable.h"
#include "tests/unit/runtime-support.h"

namespace kiv {

namespace {

// A symbol table of its own, empty, so ids start at 1.
class Symbols : public ::testing::Test {
protected:
    void SetUp() override {
        test::start_runtime();
        symbol::init_table(8);
        symbol::init_index(8);
    }
    void TearDown() override { collector::set_active(false); }
};

TEST_F(Symbols, CaseVariantsAreAliasedToTheFirstSpelling) {
    struct Case {
        const char* text;
        bool any_case;
        std::uint32_t id;
        std::int32_t alias;
    } cases[] = {
        {"foo", false, 1, -1},
        {"Foo", false, 2, 1},
        {"foo", false, 1, -1},
        {"FOO", true, 1, -1},  // any case: the existing spelling, nothing new
        {"FOO", false, 3, 1},
        {"bar", true, 4, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::uint32_t id = c.any_case ? symbol::make_any_case(c.text) : symbol::make(c.text);
        EXPECT_EQ(id, c.id);
        EXPECT_EQ(symbol::alias_of(id), c.alias);
        EXPECT_EQ(symbol::resolve(id), c.alias > 0 ? static_cast<std::uint32_t>(c.alias) : id);
    }
    EXPECT_EQ(symbol::count(), 4u);
    EXPECT_EQ(symbol::text(2), "Foo");
}

TEST_F(Symbols, AnAliasAlwaysNamesTheCanonicalSymbol) {
    // A spelling whose home is the last of the 16 buckets: its first variant
    // wraps round to bucket 0, so when the table grows the variant is
    // re-inserted before the canonical spelling and a later variant's
    // case-blind probe meets the variant first.
    std::string base;
    for (int i = 0; base.empty(); ++i) {
        const std::string candidate = "ab" + std::to_string(i);
        const auto* p = reinterpret_cast<const std::uint8_t*>(candidate.data());
        if ((hashtable::hash_text_folded(p, static_cast<std::int32_t>(candidate.size())) & 15) == 15)
            base = candidate;
    }
    std::string variant = base;
    variant[0] = 'A';
    const std::uint32_t canonical = symbol::make(base.c_str());
    const std::uint32_t first_variant = symbol::make(variant.c_str());
    for (int i = 0; i < 20; ++i) symbol::make(("filler" + std::to_string(i)).c_str());
    ASSERT_GT(hashtable::record(symbol::table())->buckets, 16);
    variant[1] = 'B';
    const std::uint32_t later_variant = symbol::make(variant.c_str());
    EXPECT_EQ(symbol::alias_of(first_variant), static_cast<std::int32_t>(canonical));
    EXPECT_EQ(symbol::alias_of(later_variant), static_cast<std::int32_t>(canonical));
}

TEST_F(Symbols, NonAsciiTextsDifferInCase) {
    // Only ASCII letters fold when interning.
    const std::uint32_t lower = symbol::make("\xC3\xA9t\xC3\xA9");
    const std::uint32_t upper = symbol::make("\xC3\x89T\xC3\x89");
    EXPECT_NE(lower, upper);
    EXPECT_EQ(symbol::alias_of(upper), -1);
    EXPECT_EQ(symbol::make("\xC3\xA9T\xC3\xA9"), upper + 1);
    EXPECT_EQ(symbol::alias_of(upper + 1), static_cast<std::int32_t>(lower));
}

TEST_F(Symbols, StringsAreBuiltOnFirstUse) {
    const std::uint32_t id = symbol::make("na\xC3\xAFve");
    Cell* cell = memory::buffer_of(hashtable::record(symbol::table())->values)->cells() + (id - 1);
    EXPECT_EQ(cell->data2, 0u);
    const Cell* built = symbol::get(id);
    ASSERT_NE(built->data2, 0u);
    const Cell text{static_cast<std::uint32_t>(Type::string), 0, built->data2, 0};
    EXPECT_EQ(string::to_utf8(&text), "na\xC3\xAFve");
    EXPECT_EQ(string::ks_abs_length(&text), 5);
    EXPECT_EQ(string::buffer(&text)->unit(), 1u);  // Latin-1 stays one byte per code point
}

TEST_F(Symbols, TheTableGrowsAndKeepsEveryId) {
    // Made for 8 symbols: 16 buckets, bound 12. The 13th symbol grows it
    // to the next power of two of 17 x 16 (512 buckets, bound 394), the
    // 395th to that of 513 x 16.
    EXPECT_EQ(hashtable::record(symbol::table())->buckets, 16);
    EXPECT_EQ(hashtable::record(symbol::table())->bound, 12);
    for (int i = 1; i <= 300; ++i)
        EXPECT_EQ(symbol::make(("s" + std::to_string(i)).c_str()), static_cast<std::uint32_t>(i));
    EXPECT_EQ(hashtable::record(symbol::table())->buckets, 512);
    EXPECT_EQ(hashtable::record(symbol::table())->bound, 394);
    for (int i = 1; i <= 300; ++i)
        EXPECT_EQ(symbol::make(("S" + std::to_string(i)).c_str()), static_cast<std::uint32_t>(300 + i));
    EXPECT_EQ(hashtable::record(symbol::table())->buckets, 16384);
    for (int i = 1; i <= 300; ++i) {
        EXPECT_EQ(symbol::make(("s" + std::to_string(i)).c_str()), static_cast<std::uint32_t>(i));
        EXPECT_EQ(symbol::alias_of(300 + i), i);
    }
    test::expect_heap_sound();
}

TEST_F(Symbols, SymbolsCompareAsTheirTexts) {
    symbol::make("apple");
    symbol::make("Banana");
    symbol::make("APPLE");
    const Cell apple = *symbol::get(1);
    const Cell banana = *symbol::get(2);
    const Cell upper = *symbol::get(3);
    EXPECT_LT(test::compare(apple, banana, CompareOp::sort), 0);
    EXPECT_GT(test::compare(apple, banana, CompareOp::sort_case), 0);  // "a" > "B"
    EXPECT_EQ(test::compare(apple, upper, CompareOp::equal), 0);
    EXPECT_NE(test::compare(apple, upper, CompareOp::strict_equal), 0);
    EXPECT_EQ(test::compare(apple, test::integer(1), CompareOp::equal), not_comparable);
}

}  // namespace
}  // namespace kiv
