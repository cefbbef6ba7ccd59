#include <gtest/gtest.h>

#include <cstring>

#include "runtime/state.h"
#include "runtime/tracked-alloc.h"

namespace kiv {

namespace {

// Each test works on a list of its own; blocks other tests keep stay put.
class TrackedAlloc : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = state.tracked;
        state.tracked = {nullptr, nullptr};
    }
    void TearDown() override {
        memory::free_all();
        state.tracked = saved_;
    }
    static memory::TrackedBlock* block(void* p) {
        return reinterpret_cast<memory::TrackedBlock*>(static_cast<char*>(p) -
                                                       memory::tracked_header_size);
    }

private:
    memory::TrackedList saved_{};
};

}  // namespace

TEST_F(TrackedAlloc, FreeingTheMiddleLinksItsNeighbours) {
    void* a = memory::allocate(8);
    void* b = memory::allocate(16);
    void* c = memory::allocate(24);
    memory::free(b);
    EXPECT_EQ(state.tracked.first, block(a));
    EXPECT_EQ(state.tracked.last, block(c));
    EXPECT_EQ(block(a)->next, block(c));
    EXPECT_EQ(block(c)->previous, block(a));
    EXPECT_EQ(memory::tracked_bytes(), 8 + 24 + 2 * memory::tracked_header_size);
}

TEST_F(TrackedAlloc, FreeingTheOnlyBlockEmptiesTheList) {
    memory::free(memory::allocate(1));
    EXPECT_EQ(state.tracked.first, nullptr);
    EXPECT_EQ(state.tracked.last, nullptr);
}

TEST_F(TrackedAlloc, ResizeKeepsThePlaceAndTheContents) {
    auto* first = static_cast<char*>(memory::allocate(4));
    void* middle = memory::allocate(4);
    auto* last = static_cast<char*>(memory::allocate(4));
    std::memcpy(first, "abc", 4);
    std::memcpy(last, "xyz", 4);
    first = static_cast<char*>(memory::resize(first, 1 << 20));
    last = static_cast<char*>(memory::resize(last, 1 << 20));
    EXPECT_STREQ(first, "abc");
    EXPECT_STREQ(last, "xyz");
    EXPECT_EQ(state.tracked.first, block(first));
    EXPECT_EQ(state.tracked.last, block(last));
    EXPECT_EQ(block(first)->next, block(middle));
    EXPECT_EQ(block(middle)->next, block(last));
    EXPECT_EQ(block(last)->previous, block(middle));
    EXPECT_EQ(block(middle)->previous, block(first));
    EXPECT_EQ(block(last)->size, std::size_t{1} << 20);
}

TEST_F(TrackedAlloc, ResizeOfNullAllocatesAndToZeroFrees) {
    void* p = memory::resize(nullptr, 32);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(state.tracked.first, block(p));
    EXPECT_EQ(memory::resize(p, 0), nullptr);
    EXPECT_EQ(state.tracked.first, nullptr);
}

TEST_F(TrackedAlloc, StrayPointersAreIgnored) {
    void* p = memory::allocate(16);
    alignas(16) static char outside[64];
    memory::free(outside + memory::tracked_header_size);
    memory::free(nullptr);
    EXPECT_EQ(state.tracked.first, block(p));
    EXPECT_EQ(state.tracked.last, block(p));
}

TEST_F(TrackedAlloc, ZeroedAndFreeAll) {
    auto* z = static_cast<unsigned char*>(memory::allocate_zeroed(100));
    for (int i = 0; i < 100; ++i) ASSERT_EQ(z[i], 0);
    memory::allocate(5);
    memory::free_all();
    EXPECT_EQ(state.tracked.first, nullptr);
    EXPECT_EQ(state.tracked.last, nullptr);
    EXPECT_EQ(memory::tracked_bytes(), 0u);
}

TEST(AlignUp, RoundsToTheNextMultiple) {
    struct Case { std::uint64_t value, alignment, expected; };
    const Case cases[] = {{0, 16, 0}, {1, 16, 16}, {16, 16, 16}, {17, 16, 32}, {4095, 4096, 4096},
                          {0xFFFFFFFF, 8, 0x100000000}};
    for (const Case& c : cases) EXPECT_EQ(memory::align_up(c.value, c.alignment), c.expected) << c.value;
}

}  // namespace kiv
