#include <gtest/gtest.h>

#include "runtime/array.h"
#include "runtime/memory.h"

namespace kiv {

TEST(Array, AppendPickFindRemove) {
    memory::init();
    NodeId a = array::make(0, 4);
    EXPECT_EQ(array::length(a), 0u);
    EXPECT_EQ(array::get_flags(a) & memory::series_flag::unit_mask, 4u);
    for (std::uint32_t i = 1; i <= 1000; ++i) array::append_int(a, i * 3);
    EXPECT_EQ(array::length(a), 1000u);
    EXPECT_EQ(array::pick_int(a, 1000), 3000u);
    EXPECT_EQ(array::find_int(a, 9), 8);
    EXPECT_EQ(array::find_int(a, 10), -1);
    EXPECT_EQ(array::length(a), 1000u);
    EXPECT_EQ(array::remove_int(a, 9), 8);
    EXPECT_EQ(array::find_int(a, 12), 8);
    EXPECT_EQ(array::remove_int(a, 9), -1);
    array::poke(a, 2, 77);
    EXPECT_EQ(array::pick_int(a, 2), 77u);
    NodeId copy = array::copy(a);
    EXPECT_EQ(array::length(copy), 999u);
    EXPECT_EQ(array::pick_int(copy, 999), 3000u);
    array::truncate_at(a, 3);
    EXPECT_EQ(array::length(a), 2u);
    array::truncate_at(a, 1);
    EXPECT_EQ(array::length(a), 0u);
    EXPECT_EQ(array::length(copy), 999u);
}

TEST(Array, Bytes) {
    memory::init();
    NodeId a = array::make(0, 1);
    for (int i = 0; i < 40; ++i) array::append_byte(a, static_cast<std::uint8_t>(i));
    array::append_bytes(a, "xyz", 3);
    EXPECT_EQ(array::length(a), 43u);
    array::remove_at(a, 1, 38);
    memory::SeriesBuffer* b = memory::buffer_of(a);
    ASSERT_EQ(b->length(), 5u);
    EXPECT_EQ(b->head()[0], 0);
    EXPECT_EQ(b->head()[1], 39);
    EXPECT_EQ(b->head()[2], 'x');
    array::clear(a);
    EXPECT_EQ(array::length(a), 0u);
}

}  // namespace kiv
