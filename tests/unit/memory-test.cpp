#include <gtest/gtest.h>

#include <cstring>

#include "heap-support.h"
#include "runtime/fire.h"
#include "runtime/memory.h"

namespace kiv {

using memory::SeriesBuffer;
namespace flag = memory::series_flag;

TEST(Memory, AllocationShapes) {
    memory::init();
    struct Case {
        const char* name;
        NodeId (*make)();
        std::uint32_t capacity;
        std::uint32_t unit;
        std::uint32_t head;  // bytes from the data start to the offset
        bool middle;
    } cases[] = {
        {"bytes 0", [] { return memory::alloc_bytes(0); }, 16, 1, 0, false},
        {"bytes 17", [] { return memory::alloc_bytes(17); }, 32, 1, 0, false},
        {"codepoints 0 x1", [] { return memory::alloc_codepoints(0, 1); }, 16, 1, 0, false},
        {"codepoints 0 x2", [] { return memory::alloc_codepoints(0, 2); }, 16, 2, 0, false},
        {"codepoints 0 x4", [] { return memory::alloc_codepoints(0, 4); }, 16, 4, 0, false},
        {"cells 0", [] { return memory::alloc_cells(0); }, 0, 16, 0, false},
        {"cells 10 middle", [] { return memory::alloc_series(10, 16, memory::middle_offset); },
         160, 16, 80, true},
        {"head offset 32", [] { return memory::alloc_series(4, 16, 32); }, 64, 16, 32, false},
    };
    for (const Case& c : cases) {
        SeriesBuffer* b = memory::buffer_of(c.make());
        EXPECT_EQ(b->size, c.capacity) << c.name;
        EXPECT_EQ(b->unit(), c.unit) << c.name;
        EXPECT_EQ(b->head() - b->data(), c.head) << c.name;
        EXPECT_EQ(b->offset, b->tail) << c.name;
        EXPECT_EQ((b->flags & flag::middle) != 0, c.middle) << c.name;
        EXPECT_TRUE(b->flags & flag::in_use) << c.name;
    }
}

TEST(Memory, FilledAndUnsetAllocationsCoverTheWholeCapacity) {
    memory::init();
    SeriesBuffer* b = memory::buffer_of(memory::alloc_filled_bytes(20, 0xAB));
    ASSERT_EQ(b->size, 32u);
    for (std::uint8_t* p = b->data(); p < b->end(); ++p) ASSERT_EQ(*p, 0xAB);

    b = memory::buffer_of(memory::alloc_unset_cells(3));
    EXPECT_EQ(b->length(), 0u);
    for (auto* c = reinterpret_cast<Cell*>(b->data()); c < reinterpret_cast<Cell*>(b->end()); ++c)
        EXPECT_TRUE(c->is(Type::unset) && c->data1 == 0 && c->data2 == 0 && c->data3 == 0);
}

TEST(Memory, BigFrameBoundary) {
    memory::init();
    struct Case {
        std::int64_t bytes;
        bool big;
    } cases[] = {
        {2097136, true},   // slot 2,097,160: at least 2 MB
        {2097120, false},  // slot 2,097,144
        {2097128, true},   // rounds up to 2,097,136
    };
    for (const Case& c : cases) {
        SeriesBuffer* b = memory::alloc_series_buffer(c.bytes, 1, 0);
        EXPECT_EQ((b->flags & flag::big) != 0, c.big) << c.bytes;
        EXPECT_EQ(test::frame_holding(b) == nullptr, c.big) << c.bytes;
    }
}

TEST(Memory, SizesBeyondWhatABufferHoldsFireNoMemory) {
    memory::init();
    struct Case {
        std::int64_t count;
        std::uint32_t unit;
    } cases[] = {
        {std::int64_t{1} << 31, 1},
        {std::int64_t{1} << 27, 16},
        {std::int64_t{1} << 40, 16},
        {-1, 1},
    };
    for (const Case& c : cases) {
        memory::Stats before = memory::stats();
        try {
            memory::alloc_series(c.count, c.unit, 0);
            ADD_FAILURE() << c.count << " x " << c.unit << " did not fire";
        } catch (const KivError& e) {
            EXPECT_EQ(e.id, ErrorId::internal_no_memory);
        }
        EXPECT_EQ(memory::stats().nodes_used, before.nodes_used);
    }
    SeriesBuffer* b = memory::buffer_of(memory::alloc_bytes(8));
    EXPECT_THROW(memory::reallocate_series(b, -5), KivError);
}

TEST(Memory, ExpansionMovesContentAndAbandonsTheOldBuffer) {
    memory::init();
    NodeId n = memory::alloc_series(64, 1, 0);
    SeriesBuffer* old = memory::buffer_of(n);
    std::memcpy(memory::alloc_tail_bytes(old, 40), "abcdefghijklmnopqrstuvwxyz0123456789ABCD", 40);
    SeriesBuffer* b = memory::expand_series(old, 0);
    EXPECT_EQ(b->size, 128u);
    EXPECT_EQ(memory::buffer_of(n), b);
    EXPECT_EQ(b->node, n);
    EXPECT_EQ(b->length(), 40u);
    EXPECT_EQ(std::memcmp(b->head(), "abcdefghijklmnopqrstuvwxyz0123456789ABCD", 40), 0);
    EXPECT_EQ(old->node, 0u);
    EXPECT_FALSE(old->flags & flag::in_use);
}

TEST(Memory, ExpansionGivesUpHeadRoomAndKeepsFlags) {
    memory::init();
    NodeId n = memory::alloc_series(4, 16, memory::middle_offset);
    memory::set_series_flags(n, flag::owned);
    SeriesBuffer* b = memory::buffer_of(n);
    for (int i = 0; i < 2; ++i) memory::alloc_tail_cell(b)->data1 = 7 + i;
    b = memory::expand_series(b, 256);
    EXPECT_EQ(b->head(), b->data());
    EXPECT_EQ(b->size, 256u);
    EXPECT_EQ(b->flags & (flag::owned | flag::middle | flag::unit_mask), flag::owned | 16);
    EXPECT_EQ(b->cells()[1].data1, 8u);
}

TEST(Memory, TailReservationGrowsAsNeeded) {
    memory::init();
    struct Case {
        std::int64_t capacity;
        std::int64_t used;
        std::int64_t reserve;
        std::uint32_t grown;  // capacity afterwards
    } cases[] = {
        {16, 0, 16, 16},    // exactly fills: no growth
        {16, 4, 13, 32},    // passes the end: twice the size
        {16, 0, 40, 80},    // more than the whole size: twice the request
        {64, 60, 8, 128},
    };
    for (const Case& c : cases) {
        NodeId n = memory::alloc_bytes(c.capacity);
        memory::alloc_tail_bytes(memory::buffer_of(n), c.used);
        std::uint8_t* at = memory::alloc_tail_bytes(memory::buffer_of(n), c.reserve);
        SeriesBuffer* b = memory::buffer_of(n);
        EXPECT_EQ(b->size, c.grown) << c.capacity << "+" << c.reserve;
        EXPECT_EQ(at, b->head() + c.used);
        EXPECT_EQ(b->used_bytes(), c.used + c.reserve);
    }
}

TEST(Memory, AppendingToAFullBlockDoublesIt) {
    memory::init();
    for (std::int64_t count : {0, 1, 3}) {
        NodeId n = memory::alloc_cells(count);
        Cell block{static_cast<std::uint32_t>(Type::block), 0, n, 0};
        for (std::int64_t i = 0; i < count; ++i) memory::append_slot(&block)->data1 = 1;
        std::uint32_t size = memory::buffer_of(n)->size;
        Cell* c = memory::append_slot(&block);
        EXPECT_TRUE(c->is(Type::unset));
        EXPECT_EQ(memory::buffer_of(n)->size, size ? size * 2 : 16) << count;
        EXPECT_EQ(memory::buffer_of(n)->length(), count + 1);
    }
}

TEST(Memory, CopyTakesOnlyTheFlagsThatDescribeTheContent) {
    memory::init();
    NodeId n = memory::alloc_series(10, 2, memory::middle_offset);
    memory::set_series_flags(n, flag::complement | flag::owned);
    std::memcpy(memory::alloc_tail_bytes(memory::buffer_of(n), 6), "a\0b\0c\0", 6);
    NodeId copy = memory::copy_series(memory::buffer_of(n));
    SeriesBuffer* b = memory::buffer_of(copy);
    EXPECT_EQ(b->flags, flag::in_use | flag::complement | 2);
    EXPECT_EQ(b->size, memory::buffer_of(n)->size);
    EXPECT_EQ(b->length(), 3u);
    EXPECT_EQ(std::memcmp(b->head(), "a\0b\0c\0", 6), 0);
}

TEST(Memory, FirstSeriesFrameIsOneMegabyteThenTwo) {
    test::isolated([] {
        // Two of these fill a 2 MB frame; one fills the first frame.
        for (int i = 0; i < 4; ++i) memory::alloc_series_buffer(1048000, 1, 0);
        std::uint32_t sizes[4] = {};
        int count = 0;
        for (auto* f = memory::series_frame(memory::record.series_head); f && count < 4;
             f = memory::series_frame(f->next))
            sizes[count++] = f->size - 20;
        EXPECT_EQ(count, 3);
        EXPECT_EQ(sizes[0], 1048576u);
        EXPECT_EQ(sizes[1], 2097152u);
        EXPECT_EQ(sizes[2], 2097152u);
    });
}

TEST(Memory, NodesComeFromFramesOfTenThousand) {
    test::isolated([] {
        for (int i = 0; i < 10001; ++i) memory::alloc_node();
        memory::Stats s = memory::stats();
        EXPECT_EQ(s.node_frames, 2u);
        EXPECT_EQ(s.nodes_used, 10001u);
        EXPECT_EQ(memory::node_frame(memory::record.node_tail)->used, 1u);
    });
}

}  // namespace kiv
