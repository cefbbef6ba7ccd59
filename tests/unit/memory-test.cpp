#include <gtest/gtest.h>

#include "runtime/memory.h"

namespace kiv {

using memory::SeriesBuffer;

TEST(Memory, CountZeroSizes) {
    memory::init();
    struct Case {
        NodeId (*make)();
        std::uint32_t capacity;
        std::uint32_t unit;
    } cases[] = {
        {[] { return memory::alloc_bytes(0); }, 16, 1},
        {[] { return memory::alloc_codepoints(0, 1); }, 16, 1},
        {[] { return memory::alloc_codepoints(0, 2); }, 16, 2},
        {[] { return memory::alloc_codepoints(0, 4); }, 16, 4},
        {[] { return memory::alloc_cells(0); }, 0, 16},
    };
    for (const Case& c : cases) {
        SeriesBuffer* b = memory::buffer_of(c.make());
        EXPECT_EQ(b->size, c.capacity);
        EXPECT_EQ(b->unit(), c.unit);
        EXPECT_EQ(b->length(), 0u);
    }
}

}  // namespace kiv
