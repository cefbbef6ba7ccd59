#include <gtest/gtest.h>

#include <vector>

#include "heap-support.h"
#include "runtime/externals.h"

namespace kiv {

namespace {

std::vector<std::uint64_t> released;
void record_release(std::uint64_t object) { released.push_back(object); }

}  // namespace

TEST(Externals, TakingTheLastFreeSlotDoublesTheTable) {
    test::isolated([] {
        int kind = externals::register_kind("image", record_release);
        for (std::uint64_t i = 0; i < 999; ++i) EXPECT_EQ(externals::register_object(100 + i, kind), i);
        EXPECT_EQ(externals::slot_count(), 1000u);
        EXPECT_EQ(externals::register_object(1099, kind), 999);
        EXPECT_EQ(externals::slot_count(), 2000u);
        EXPECT_EQ(externals::register_object(1100, kind), 1000);
        for (std::int32_t i = 0; i <= 1000; ++i) EXPECT_EQ(externals::object_at(i), 100u + i);
    });
}

TEST(Externals, SweepReleasesWhatNoValueMarked) {
    test::isolated([] {
        released.clear();
        int kind = externals::register_kind("image", record_release);
        std::int32_t a = externals::register_object(11, kind);
        std::int32_t b = externals::register_object(22, kind);
        std::int32_t c = externals::register_object(33, 0);  // a kind of 0 releases nothing
        EXPECT_TRUE(externals::mark(a, 0));
        EXPECT_FALSE(externals::mark(a, 44));  // already marked; the object is replaced
        externals::sweep();
        EXPECT_EQ(released, std::vector<std::uint64_t>{22});
        EXPECT_EQ(externals::object_at(a), 44u);
        externals::sweep();
        EXPECT_EQ(released, (std::vector<std::uint64_t>{22, 44}));
        // Freed slots are handed out again, the last freed first.
        EXPECT_EQ(externals::register_object(55, kind), a);
        EXPECT_EQ(externals::register_object(66, kind), b);
        EXPECT_EQ(externals::register_object(77, kind), c);
    });
}

TEST(Externals, UnregisterReleasesOnlyWhenAsked) {
    test::isolated([] {
        released.clear();
        int kind = externals::register_kind("image", record_release);
        std::int32_t a = externals::register_object(1, kind);
        std::int32_t b = externals::register_object(2, kind);
        EXPECT_EQ(externals::unregister(a, false), -1);
        EXPECT_TRUE(released.empty());
        externals::unregister(b, true);
        EXPECT_EQ(released, std::vector<std::uint64_t>{2});
        externals::sweep();  // nothing left in use
        EXPECT_EQ(released.size(), 1u);
    });
}

// A handle! value in a live block keeps its slot through a cycle.
TEST(Externals, HandleValuesKeepTheirSlots) {
    test::isolated([] {
        released.clear();
        int kind = externals::register_kind("image", record_release);
        static NodeId block;
        block = memory::alloc_cells(2);
        collector::register_root(&block);
        for (std::uint64_t object : {7, 8}) {
            std::int32_t slot = externals::register_object(object, kind);
            *memory::alloc_tail_cell(memory::buffer_of(block)) =
                Cell{static_cast<std::uint32_t>(Type::handle), 0, 0, static_cast<std::uint32_t>(slot)};
        }
        memory::buffer_of(block)->cells()[1].data3 = static_cast<std::uint32_t>(-1);
        test::collect();
        EXPECT_EQ(released, std::vector<std::uint64_t>{8});
        memory::buffer_of(block)->tail = memory::buffer_of(block)->offset;
        test::collect();
        EXPECT_EQ(released, (std::vector<std::uint64_t>{8, 7}));
    });
}

}  // namespace kiv
