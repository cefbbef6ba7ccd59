#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/hashtable.h"
#include "tests/unit/runtime-support.h"

namespace kiv {

namespace {

using hashtable::Kind;
using hashtable::record;

class HashTables : public test::RuntimeTest {};

TEST_F(HashTables, SizesOfNewTables) {
    struct Case {
        std::int32_t size;
        Kind kind;
        std::int32_t buckets;
        std::int32_t bound;
    } cases[] = {
        {0, Kind::integer, 8, 6},      {3, Kind::integer, 8, 6},
        {100, Kind::integer, 256, 197}, {4000, Kind::integer, 8192, 6307},
        {3999, Kind::context, 8192, 6307}, {4000, Kind::context, 16384, 12615},
    };
    for (const auto& c : cases) {
        const NodeId t = hashtable::init(c.size, nullptr, c.kind, 1);
        EXPECT_EQ(record(t)->buckets, c.buckets) << c.size;
        EXPECT_EQ(record(t)->bound, c.bound) << c.size;
        EXPECT_EQ(record(t)->size, 0);
    }
}

TEST_F(HashTables, MurmurHashVectors) {
    // Reference values of MurmurHash3 x86 32-bit.
    hashtable::set_seed(0);
    EXPECT_EQ(hashtable::murmur3("", 0), 0u);
    EXPECT_EQ(hashtable::murmur3("hello", 5), 0x248BFA47u);
    const char* fox = "The quick brown fox jumps over the lazy dog";
    EXPECT_EQ(hashtable::murmur3(fox, std::strlen(fox)), 0x2E4FF723u);
    hashtable::set_seed(1);
    EXPECT_EQ(hashtable::murmur3("", 0), 0x514E28B7u);
    EXPECT_EQ(hashtable::hash_int(0), 0u);
}

TEST_F(HashTables, HashingByDatatype) {
    EXPECT_EQ(hashtable::hash_value(&unset::value, true), static_cast<std::uint32_t>(-2));
    EXPECT_EQ(hashtable::hash_value(&none::value, true), static_cast<std::uint32_t>(-1));
    // Case variants of words and of strings hash alike when folding.
    const Cell a = test::word_of("alpha");
    const Cell b = test::word_of("ALPHA", Type::set_word);
    EXPECT_EQ(hashtable::hash_value(&a, true), hashtable::hash_value(&b, true));
    Cell s1 = test::string_of("Stra\xC3\x9F" "e");
    Cell s2 = test::string_of("STRA\xC3\x9F" "E");
    EXPECT_EQ(hashtable::hash_value(&s1, true), hashtable::hash_value(&s2, true));
    EXPECT_NE(hashtable::hash_value(&s1, false), hashtable::hash_value(&s2, false));
    // The width of the storage does not change a string's hash.
    Cell wide = test::string_of("x");
    string::append_char(string::buffer(&wide), 0x20AC);
    Cell narrow = test::string_of("x\xE2\x82\xAC");
    EXPECT_EQ(string::buffer(&wide)->unit(), 2u);
    EXPECT_EQ(hashtable::hash_value(&wide, true), hashtable::hash_value(&narrow, true));
}

TEST_F(HashTables, IntegerKeysFindReplaceDeleteAndReuseTombstones) {
    const NodeId t = hashtable::init(4, nullptr, Kind::integer, 2);
    for (std::uint32_t k = 1; k <= 5; ++k) hashtable::put_key(t, k * 1000)[1] = test::integer(static_cast<std::int32_t>(k));
    EXPECT_EQ(record(t)->size, 5);
    EXPECT_EQ(hashtable::get_key(t, 3000)[1].data2, 3u);
    EXPECT_EQ(hashtable::get_key(t, 3001), nullptr);
    EXPECT_NE(hashtable::delete_key(t, 3000), nullptr);
    EXPECT_EQ(hashtable::delete_key(t, 3000), nullptr);
    EXPECT_EQ(hashtable::get_key(t, 3000), nullptr);
    EXPECT_EQ(record(t)->size, 4);
    EXPECT_EQ(record(t)->occupied, 5);
    // Putting the key back reuses the deleted bucket: occupied stays.
    Cell* again = hashtable::put_key(t, 3000);
    EXPECT_TRUE(again[0].is(Type::unset));
    EXPECT_EQ(record(t)->size, 5);
    EXPECT_EQ(record(t)->occupied, 5);
    // Finding an existing key answers its cells.
    EXPECT_EQ(hashtable::put_key(t, 5000)[1].data2, 5u);
}

TEST_F(HashTables, IntegerTablesGrowByTheirRules) {
    // 8 buckets, bound 6: the 7th key doubles the table (bound 12, rounded).
    const NodeId t = hashtable::init(0, nullptr, Kind::integer, 1);
    for (std::uint32_t k = 0; k < 6; ++k) hashtable::put_key(t, k);
    EXPECT_EQ(record(t)->buckets, 8);
    hashtable::put_key(t, 6);
    EXPECT_EQ(record(t)->buckets, 16);
    EXPECT_EQ(record(t)->bound, 12);

    // A full table that is mostly deleted keys is rebuilt at its size,
    // dropping the deleted buckets, rather than grown.
    const NodeId u = hashtable::init(0, nullptr, Kind::integer, 1);
    for (std::uint32_t k = 0; k < 6; ++k) hashtable::put_key(u, k);
    for (std::uint32_t k = 1; k < 6; ++k) hashtable::delete_key(u, k);
    EXPECT_EQ(record(u)->occupied, 6);
    hashtable::put_key(u, 100);
    EXPECT_EQ(record(u)->buckets, 8);
    EXPECT_EQ(record(u)->occupied, 2);
    EXPECT_EQ(record(u)->size, 2);
    EXPECT_NE(hashtable::get_key(u, 0), nullptr);
    EXPECT_NE(hashtable::get_key(u, 100), nullptr);
    EXPECT_EQ(hashtable::get_key(u, 3), nullptr);
}

TEST_F(HashTables, EqualValuesOfAHashBlockShareOneBucket) {
    const Cell a = test::word_of("a");
    const Cell b = test::word_of("b");
    Cell block = test::block_of({a, b, a, test::word_of("A"), b});
    const NodeId t = hashtable::init(5, &block, Kind::hash);
    EXPECT_EQ(record(t)->size, 2);
    Cell* cells = memory::buffer_of(block.data2)->cells();
    // a, a and A share a chain of three positions, found in block order.
    EXPECT_EQ(hashtable::find(t, &a, 0, 1, CompareOp::equal, false, false), cells + 0);
    EXPECT_EQ(hashtable::find(t, &a, 1, 1, CompareOp::equal, false, false), cells + 2);
    EXPECT_EQ(hashtable::find(t, &a, 0, 1, CompareOp::equal, true, false), cells + 3);
    EXPECT_EQ(hashtable::find(t, &a, 3, 1, CompareOp::equal, false, true), cells + 3);
    EXPECT_EQ(hashtable::find(t, &a, 1, 2, CompareOp::equal, false, false), cells + 3);
    EXPECT_EQ(hashtable::find(t, &a, 1, 3, CompareOp::equal, false, false), nullptr);
    const Cell upper = test::word_of("A");
    EXPECT_EQ(hashtable::find(t, &upper, 0, 1, CompareOp::strict_equal, false, false), cells + 3);
    // Removing positions leaves the others findable.
    hashtable::delete_value(t, cells + 0);
    hashtable::delete_value(t, cells + 2);
    EXPECT_EQ(hashtable::find(t, &a, 0, 1, CompareOp::equal, false, false), cells + 3);
    hashtable::delete_value(t, cells + 3);
    EXPECT_EQ(hashtable::find(t, &a, 0, 1, CompareOp::equal, false, false), nullptr);
    EXPECT_EQ(record(t)->size, 1);
    EXPECT_EQ(hashtable::find(t, &b, 2, 1, CompareOp::equal, false, false), cells + 4);
}

TEST_F(HashTables, AHashIndexFollowsInsertionsMovesAndGrowth) {
    Cell block = test::block_of({});
    for (int i = 0; i < 40; ++i) {
        *memory::append_slot(&block) = test::word_of(("w" + std::to_string(i % 20)).c_str());
    }
    const NodeId t = hashtable::init(1, &block, Kind::hash);
    EXPECT_EQ(record(t)->size, 20);
    EXPECT_GT(record(t)->buckets, 20);
    auto position_of = [&](const char* text, std::int32_t from) {
        const Cell w = test::word_of(text);
        Cell* found = hashtable::find(t, &w, from, 1, CompareOp::equal, false, false);
        return found ? static_cast<int>(found - memory::buffer_of(block.data2)->cells()) : -1;
    };
    EXPECT_EQ(position_of("w7", 0), 7);
    EXPECT_EQ(position_of("w7", 8), 27);
    // A new value inserted at the head moves every stored position up.
    memory::append_slot(&block);
    Cell* cells = memory::buffer_of(block.data2)->cells();
    std::memmove(cells + 1, cells, 40 * sizeof(Cell));
    cells[0] = test::word_of("new");
    EXPECT_FALSE(hashtable::refresh(t, 1, 0));
    hashtable::put_value(t, cells);
    EXPECT_EQ(position_of("new", 0), 0);
    EXPECT_EQ(position_of("w7", 0), 8);
    EXPECT_EQ(position_of("w7", 9), 28);
    // Moving values 1-2 to position 5 shifts the three between them down.
    const Cell moved[2] = {cells[1], cells[2]};
    std::memmove(cells + 1, cells + 3, 3 * sizeof(Cell));
    cells[4] = moved[0];
    cells[5] = moved[1];
    hashtable::move(t, 4, 1, 2);
    EXPECT_EQ(position_of("w0", 0), 4);
    EXPECT_EQ(position_of("w2", 0), 1);
    EXPECT_EQ(position_of("w4", 0), 3);
}

TEST_F(HashTables, MapKeysKeepTheLaterValueOfARepeatedKey) {
    Cell block = test::block_of({test::word_of("a", Type::set_word), test::integer(1),
                                 test::word_of("b", Type::set_word), test::integer(2),
                                 test::word_of("A", Type::set_word), test::integer(3)});
    const NodeId t = hashtable::init(3, &block, Kind::map);
    EXPECT_EQ(record(t)->size, 2);
    EXPECT_EQ(memory::buffer_of(block.data2)->length(), 4u);
    // A word key is looked up as a set-word.
    const Cell a = test::word_of("a");
    Cell* key = hashtable::find(t, &a, 0, 1, CompareOp::equal, false, false);
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(symbol::text(key->data2), "a");
    EXPECT_EQ(key[1].data2, 3u);
    hashtable::delete_value(t, key);
    EXPECT_EQ(key[1].header, 0u);
    EXPECT_EQ(record(t)->size, 1);
}

TEST_F(HashTables, ContextTablesGrowSixteenfold) {
    const NodeId ctx = context::create(4, false, false, 0, context::Kind::object);
    const NodeId t = context::header(ctx)->data1;
    EXPECT_EQ(record(t)->buckets, 8);
    for (int i = 0; i < 7; ++i) {
        const Cell w = test::word_of(("f" + std::to_string(i)).c_str());
        context::add_word(ctx, &w);
    }
    // The 7th word met a full table (bound 6): 9 x 16 gives 256 buckets.
    EXPECT_EQ(record(t)->buckets, 256);
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(context::find_word(ctx, test::word_of(("F" + std::to_string(i)).c_str()).data2, true), i);
}

// Binds a block that nothing else refers to once this returns.
[[gnu::noinline]] void bind_temporary_block(const Cell* owner, const Cell* word) {
    const Cell dropped = test::block_of({test::integer(2)});
    ownership::bind(&dropped, owner, word);
}

TEST_F(HashTables, OwnersAreHeldWeakly) {
    collector::set_active(false);
    const Cell owner{static_cast<std::uint32_t>(Type::object),
                     context::create(1, false, true, 0, context::Kind::object), 0, 0};
    const Cell word = test::word_of("field");
    const Cell kept = test::block_of({test::integer(1)});
    ownership::bind(&kept, &owner, &word);
    bind_temporary_block(&owner, &word);
    EXPECT_EQ(record(ownership::table())->size, 2);
    test::collect();
    EXPECT_EQ(record(ownership::table())->size, 1);
    EXPECT_NE(ownership::get_owner(kept.data2), nullptr);
    test::expect_heap_sound();
}

}  // namespace
}  // namespace kiv
