#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "heap-support.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/externals.h"
#include "runtime/memory.h"

namespace kiv {

using memory::SeriesBuffer;
using memory::SeriesFrame;
namespace flag = memory::series_flag;
using test::collect;
using test::isolated;

namespace {

// A byte series whose slot is exactly `slot` bytes, full of a pattern.
[[gnu::noinline]] NodeId make_slot(std::uint32_t slot, std::uint8_t seed) {
    NodeId n = memory::alloc_bytes(slot - 24);
    SeriesBuffer* b = memory::buffer_of(n);
    for (std::uint32_t i = 0; i < b->size; ++i) b->data()[i] = static_cast<std::uint8_t>(seed + i);
    b->tail = b->offset + b->size;
    return n;
}

// A buffer that nothing keeps. Made out of line: no copy of its node or
// address stays in the caller's frame, which the stack scan would see.
[[gnu::noinline]] void make_garbage(std::uint32_t slot) { make_slot(slot, 9); }

// Checks and pointers are made out of line so that no copy of a buffer
// address lingers in the test's own registers and pins the buffer.
[[gnu::noinline]] bool has_pattern(SeriesBuffer* b, std::uint8_t seed) {
    if (!(b->flags & flag::in_use)) return false;
    for (std::uint32_t i = 0; i < b->size; ++i)
        if (b->data()[i] != static_cast<std::uint8_t>(seed + i)) return false;
    return true;
}

[[gnu::noinline]] bool intact(NodeId n, std::uint8_t seed) {
    return memory::is_live_node(n) && memory::buffer_of(n)->node == n &&
           has_pattern(memory::buffer_of(n), seed);
}

std::uint32_t where(NodeId n) { return memory::node_slot(n); }

[[gnu::noinline]] std::uint8_t* data_of(NodeId n, std::int32_t distance) {
    return memory::buffer_of(n)->data() + distance;
}

// A new buffer reached only by the pointer returned; its header offset goes
// to `*at`.
[[gnu::noinline]] std::uint8_t* pointer_into_new(std::uint32_t slot, std::uint8_t seed,
                                                 std::int32_t distance, std::uint32_t* at) {
    NodeId n = make_slot(slot, seed);
    *at = where(n);
    return data_of(n, distance);
}

// A new buffer reached only by the address of its node's slot.
[[gnu::noinline]] std::uint32_t* slot_of_new(std::uint32_t slot, std::uint8_t seed) {
    return &memory::node_slot(make_slot(slot, seed));
}

// Root slots for the tests in a child process.
NodeId roots[8];
void root(int i, NodeId n) {
    roots[i] = n;
    collector::register_root(&roots[i]);
}

SeriesFrame* nth_frame(int i) {
    SeriesFrame* f = memory::series_frame(memory::record.series_head);
    while (f && i--) f = memory::series_frame(f->next);
    return f;
}

int frame_count() { return static_cast<int>(memory::stats().series_frames); }

}  // namespace

// A buffer that only a C++ local reaches survives; a pointer into it also
// keeps it in place, while a node id or the address of the node's slot (which
// the compiler may keep in place of the id) lets it move.
TEST(Collector, LocalsKeepBuffers) {
    struct Case {
        const char* name;
        int holder;  // 0: node id, 1: a pointer at this distance from the data start, 2: slot
        std::int32_t distance;
    } cases[] = {
        {"node id", 0, 0},
        {"header", 1, -20},
        {"middle of data", 1, 30},
        {"one past the end", 1, 64},
        {"node's slot", 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A movable cage base is reloaded after each call, so no slot address
        // stands in for an id and none keeps a node alive.
        if (c.holder == 2 && !cage::fixed_origin) continue;
        isolated([&] {
            make_garbage(1032);  // below the kept buffer
            std::uint32_t before = 0;
            volatile NodeId node = 0;
            std::uint8_t* volatile pointer = nullptr;
            std::uint32_t* volatile slot = nullptr;
            if (c.holder == 1) {
                pointer = pointer_into_new(88, 7, c.distance, &before);
            } else if (c.holder == 2) {
                slot = slot_of_new(88, 7);
                before = *slot;
            } else {
                node = make_slot(88, 7);
                before = where(node);
            }
            collect();
            if (c.holder == 2) node = cage::offset_of(slot);
            if (c.holder == 1) {
                auto* b = cage::at<SeriesBuffer>(before);
                EXPECT_EQ(memory::node_slot(b->node), before);
                EXPECT_TRUE(has_pattern(b, 7));
                EXPECT_NE(pointer, nullptr);
            } else {
                EXPECT_TRUE(intact(node, 7));
                EXPECT_LT(where(node), before);  // slid down over the dead buffer
            }
            EXPECT_EQ(memory::stats().nodes_used, 1u);
            test::expect_heap_sound();
        });
    }
}

TEST(Collector, UnreachableBuffersAreReclaimed) {
    isolated([] {
        memory::Stats empty = memory::stats();
        for (int i = 0; i < 100; ++i) make_garbage(1000);
        make_garbage(memory::max_frame_size);
        EXPECT_EQ(memory::stats().nodes_used, 101u);
        collect();
        memory::Stats s = memory::stats();
        EXPECT_EQ(s.nodes_used, 0u);
        EXPECT_EQ(s.series_bytes_used, 0u);
        EXPECT_EQ(s.big_frames, 0u);
        EXPECT_LE(s.total, empty.total);
    });
}

TEST(Collector, LiveRunsSlideDownInTheFirstFrame) {
    isolated([] {
        make_garbage(200);
        root(0, make_slot(104, 2));
        root(1, make_slot(200, 3));
        make_garbage(56);
        root(2, make_slot(504, 5));
        collect();
        std::uint32_t data = cage::offset_of(nth_frame(0)->data());
        EXPECT_EQ(where(roots[0]), data);
        EXPECT_EQ(where(roots[1]), data + 104);
        EXPECT_EQ(where(roots[2]), data + 304);
        EXPECT_EQ(nth_frame(0)->heap, data + 808);
        const std::uint8_t seeds[] = {2, 3, 5};
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(intact(roots[i], seeds[i]));
        test::expect_heap_sound();
    });
}

// Frame 1 keeps a live buffer and frees a large dead one; the live buffers of
// frames 2 and 3 move into it; frame 2 is then empty and given back, frame 3
// stays because it is the last.
TEST(Collector, RunsMoveIntoThePrecedingFrameAndTheLastFrameStays) {
    isolated([] {
        root(0, make_slot(1032, 1));
        make_garbage(1000024);
        root(1, make_slot(60024, 2));  // no room left in frame 1
        root(2, make_slot(60024, 3));
        make_garbage(1900024);
        root(3, make_slot(100024, 4));  // no room in frames 1 or 2
        ASSERT_EQ(frame_count(), 3);
        std::uint32_t third = cage::offset_of(nth_frame(2));
        collect();
        EXPECT_EQ(frame_count(), 2);
        EXPECT_EQ(cage::offset_of(nth_frame(1)), third);
        EXPECT_EQ(nth_frame(1)->heap, cage::offset_of(nth_frame(1)->data()));
        std::uint32_t data = cage::offset_of(nth_frame(0)->data());
        EXPECT_EQ(where(roots[1]), data + 1032);
        EXPECT_EQ(where(roots[2]), data + 1032 + 60024);
        EXPECT_EQ(where(roots[3]), data + 1032 + 120048);
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(intact(roots[i], static_cast<std::uint8_t>(1 + i)));
        test::expect_heap_sound();
    });
}

// A full-size frame that compaction empties keeps its pages for the next
// frame the heap needs.
TEST(Collector, AnEmptiedFrameIsTakenAgainForTheNextFrame) {
    isolated([] {
        root(0, make_slot(1032, 1));
        make_garbage(1000024);
        make_garbage(2000024);
        root(1, make_slot(100024, 2));  // no room in frames 1 or 2
        ASSERT_EQ(frame_count(), 3);
        const std::uint32_t second = cage::offset_of(nth_frame(1));
        const std::uint64_t total = memory::stats().total;
        collect();
        ASSERT_EQ(frame_count(), 2);
        EXPECT_EQ(memory::stats().total, total);
        make_garbage(2000024);  // fills the last frame
        make_garbage(2000024);  // needs a new one
        ASSERT_EQ(frame_count(), 3);
        EXPECT_EQ(cage::offset_of(nth_frame(1)), second);
        EXPECT_EQ(memory::stats().total, total);
        EXPECT_TRUE(intact(roots[1], 2));
        test::expect_heap_sound();
    });
}

// After a collection a frame needs more than 52,428 bytes of room to take
// moved buffers or new ones. Rooms move in steps of 8 bytes.
TEST(Collector, FramesWithLittleRoomAreLeftAlone) {
    struct Case {
        std::uint32_t kept[2];  // live slots at the start of frame 1
        std::uint32_t room;     // left in frame 1 once the dead buffer is gone
        bool used;
    } cases[] = {
        {{996152, 0}, 52424, false},
        {{1624, 994520}, 52432, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.room);
        // Moved by compaction from frame 2.
        isolated([&] {
            for (int i = 0; i < 2; ++i)
                if (c.kept[i]) root(i, make_slot(c.kept[i], 1));
            ASSERT_EQ(nth_frame(0)->room(), c.room);
            make_garbage(52408);  // leaves frame 1 less room than the next slot
            root(2, make_slot(1000, 2));
            ASSERT_EQ(frame_count(), 2);
            collect();
            EXPECT_EQ(test::frame_holding(memory::buffer_of(roots[2])) == nth_frame(0), c.used);
            EXPECT_TRUE(intact(roots[2], 2));
            test::expect_heap_sound();
        });
        // Chosen by allocation after a collection.
        isolated([&] {
            for (int i = 0; i < 2; ++i)
                if (c.kept[i]) root(i, make_slot(c.kept[i], 1));
            make_garbage(52408);
            collector::set_active(true);
            test::clear_stack();
            [[maybe_unused]] NodeId n = make_slot(1000, 2);
            EXPECT_EQ(frame_count(), c.used ? 1 : 2);
            test::expect_heap_sound();
        });
    }
}

namespace {

// Pins a buffer that sits between a dead one and a rooted one through one
// cycle; the pin dies when it returns.
[[gnu::noinline]] void pin_between() {
    make_garbage(400);
    std::uint32_t pinned_at = 0;
    std::uint8_t* volatile pin = pointer_into_new(200, 2, 5, &pinned_at);
    root(0, make_slot(120, 3));
    std::uint32_t rooted_at = where(roots[0]);
    collect();
    EXPECT_TRUE(has_pattern(cage::at<SeriesBuffer>(pinned_at), 2));
    EXPECT_EQ(pin[0], 2 + 5);
    EXPECT_EQ(where(roots[0]), rooted_at);  // no hole after the pinned buffer
    test::expect_heap_sound();
}

}  // namespace

// A pinned buffer stays where it is, the dead space before it stays walkable,
// and an abandoned buffer that a pointer still reads keeps its bytes.
TEST(Collector, PinnedBuffersStayAndKeepTheirBytes) {
    isolated([] {
        pin_between();
        collect();
        EXPECT_EQ(memory::stats().nodes_used, 1u);
        EXPECT_EQ(where(roots[0]), cage::offset_of(nth_frame(0)->data()));
        test::expect_heap_sound();
    });
    isolated([] {
        root(0, make_slot(88, 4));
        std::uint8_t* volatile stale = data_of(roots[0], 0);
        memory::expand_series(memory::buffer_of(roots[0]), 4096);
        collect();
        for (int i = 0; i < 64; ++i) EXPECT_EQ(stale[i], static_cast<std::uint8_t>(4 + i));
        EXPECT_EQ(memory::buffer_of(roots[0])->size, 4096u);
        test::expect_heap_sound();
    });
}

namespace {

// Holds one big buffer by node id and one by a pointer into it through a
// cycle; the holders die when it returns.
[[gnu::noinline]] void hold_big_buffers(std::uint32_t big) {
    volatile NodeId held = make_slot(big + 16, 2);
    volatile NodeId pointed = make_slot(big + 32, 3);
    std::uint8_t* volatile p = data_of(pointed, 100);
    pointed = 0;
    make_garbage(big + 48);
    EXPECT_EQ(memory::stats().big_frames, 4u);
    collect();
    EXPECT_EQ(memory::stats().big_frames, 3u);
    EXPECT_TRUE(intact(held, 2));
    EXPECT_EQ(p[0], static_cast<std::uint8_t>(3 + 100));
    test::expect_heap_sound();
}

}  // namespace

TEST(Collector, BigFramesLiveWhileReached) {
    isolated([] {
        root(0, make_slot(memory::max_frame_size, 1));
        hold_big_buffers(memory::max_frame_size);
        collect();
        EXPECT_EQ(memory::stats().big_frames, 1u);
        EXPECT_TRUE(intact(roots[0], 1));
    });
}

namespace {

// Kept out of the stack, which would keep them alive.
NodeId cell_nodes[3];

// A rooted block of one cell with `header`, whose payload word k + 1 names a
// new node when bit k of `words` is set.
[[gnu::noinline]] void cell_with_nodes(std::uint32_t header, std::uint8_t words) {
    root(0, memory::alloc_cells(1));
    for (int k = 0; k < 3; ++k)
        cell_nodes[k] = words & (1 << k) ? make_slot(40, static_cast<std::uint8_t>(k)) : 0;
    Cell* cell = memory::alloc_tail_cell(memory::buffer_of(roots[0]));
    *cell = Cell{header, cell_nodes[0], cell_nodes[1], cell_nodes[2]};
}

}  // namespace

// Which payload words keep which nodes alive, by datatype.
TEST(Collector, MarkingFollowsTheDatatype) {
    constexpr std::uint32_t on_stack = 0x400000, by_language = 0x1000;
    auto type = [](Type t) { return static_cast<std::uint32_t>(t); };
    struct Case {
        std::uint32_t header;
        std::uint8_t words;  // bit k: payload word k + 1 holds a node
        std::uint8_t kept;   // bit k: that node must survive
    } cases[] = {
        {type(Type::block), 0b010, 0b010},
        {type(Type::string), 0b110, 0b110},
        {type(Type::symbol), 0b110, 0b110},
        {type(Type::binary), 0b110, 0b010},
        {type(Type::context), 0b011, 0b011},
        {type(Type::context) | on_stack, 0b011, 0b001},
        {type(Type::word), 0b001, 0b001},
        {type(Type::native), 0b111, 0b110},
        {type(Type::op) | (type(Type::function) << 16), 0b111, 0b111},
        {type(Type::function), 0b111, 0b111},
        {type(Type::object), 0b111, 0b101},
        {type(Type::map), 0b110, 0b110},
        {type(Type::event) | by_language, 0b010, 0b010},
        {type(Type::event), 0b010, 0b000},
        {type(Type::integer), 0b111, 0b000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        isolated([&] {
            cell_with_nodes(c.header, c.words);
            collect();
            for (int k = 0; k < 3; ++k) {
                if (!(c.words & (1 << k))) continue;
                bool alive = memory::is_live_node(cell_nodes[k]);
                EXPECT_EQ(alive, (c.kept & (1 << k)) != 0) << "word " << k + 1;
                if (alive) {
                    EXPECT_TRUE(intact(cell_nodes[k], static_cast<std::uint8_t>(k)));
                }
            }
        });
    }
}

// The heap check takes a word's first payload word for a binding only when
// it names a node: a count kept there passes, a node that died does not.
TEST(Collector, HeapCheckReadsWordBindingsAsTheMarkingDoes) {
    isolated([] {
        root(0, memory::alloc_cells(2));
        SeriesBuffer* b = memory::buffer_of(roots[0]);
        *memory::alloc_tail_cell(b) =
            Cell{static_cast<std::uint32_t>(Type::refinement), 2u << 16, 0, 1};
        test::expect_heap_sound();
        const NodeId dead = memory::alloc_cells(1);
        *memory::alloc_tail_cell(memory::buffer_of(roots[0])) =
            Cell{static_cast<std::uint32_t>(Type::word), dead, 0, 0};
        memory::buffer_of(dead)->flags &= ~flag::in_use;  // as if reclaimed
        memory::node_slot(dead) = 0;
        std::string problem;
        EXPECT_FALSE(collector::verify_heap(&problem));
        EXPECT_NE(problem.find("not in use"), std::string::npos) << problem;
    });
}

namespace {
NodeId hooked;
bool hooked_seen_marked;
void mark_hooked() { collector::mark_node(&hooked); }
void after_mark() { hooked_seen_marked = collector::is_marked(hooked); }
}  // namespace

TEST(Collector, HooksRootCellsAndDeepNesting) {
    isolated([] {
        static Cell holder;
        hooked = make_slot(64, 5);
        collector::register_hook(mark_hooked);
        collector::register_after_mark_hook(after_mark);
        // A chain of blocks nested 100,000 deep, reached from one root cell.
        NodeId inner = make_slot(48, 6);
        holder = Cell{static_cast<std::uint32_t>(Type::binary), 0, inner, 0};
        for (int i = 0; i < 100000; ++i) {
            NodeId outer = memory::alloc_cells(1);
            Cell* c = memory::alloc_tail_cell(memory::buffer_of(outer));
            *c = Cell{static_cast<std::uint32_t>(Type::block), 0, holder.data2, 0};
            holder = Cell{static_cast<std::uint32_t>(Type::block), 0, outer, 0};
        }
        collector::register_root_cell(&holder);
        collect();
        EXPECT_TRUE(hooked_seen_marked);
        EXPECT_TRUE(intact(hooked, 5));
        EXPECT_TRUE(intact(inner, 6));
        EXPECT_EQ(memory::stats().nodes_used, 100002u);
        test::expect_heap_sound();
    });
}

namespace {

// A block of binary! cells, one per node, kept in root slot 0.
[[gnu::noinline]] void fill_node_frames(int count) {
    root(0, memory::alloc_cells(count));
    for (int i = 0; i < count; ++i) {
        NodeId n = make_slot(24 + 16, static_cast<std::uint8_t>(i));
        Cell* c = memory::alloc_tail_cell(memory::buffer_of(roots[0]));
        *c = Cell{static_cast<std::uint32_t>(Type::binary), 0, n, 0};
    }
}

// Drops the cells [first, first + count) of the root block.
[[gnu::noinline]] void drop_cells(int first, int count) {
    Cell* cells = memory::buffer_of(roots[0])->cells();
    for (int i = first; i < first + count; ++i) cells[i] = Cell{static_cast<std::uint32_t>(Type::none), 0, 0, 0};
}

[[gnu::noinline]] void push_cell_node(int i) {
    cycles::push(memory::buffer_of(roots[0])->cells()[i].data2);
}

bool all_cells_intact() {
    SeriesBuffer* b = memory::buffer_of(roots[0]);
    for (std::uint32_t i = 0; i < b->length(); ++i) {
        Cell& c = b->cells()[i];
        if (c.is(Type::binary) && !intact(c.data2, static_cast<std::uint8_t>(i))) return false;
    }
    return true;
}

bool node_frame_listed(std::uint32_t frame) {
    for (auto* f = memory::node_frame(memory::record.node_head); f; f = memory::node_frame(f->next))
        if (cage::offset_of(f) == frame) return true;
    return false;
}

}  // namespace

// Three node frames: full, then the candidate, then one half full. The
// candidate is evacuated only when it is below half full, unchanged over
// the last six cycles, and named by no stack word.
TEST(Collector, SparseStableNodeFramesAreEvacuated) {
    struct Case {
        const char* name;
        int used;          // live nodes left in the candidate frame
        int changed_at;    // cycle (of 8) in which the candidate lost a node, or -1
        bool on_stack;     // a stack word names one of its nodes
        bool evacuated;
    } cases[] = {
        {"4,999 used, stable", 4999, -1, false, true},
        {"5,000 used, stable", 5000, -1, false, false},
        {"changed two cycles ago", 4999, 5, false, false},
        {"named on the stack", 4999, -1, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        isolated([&] {
            // The root block's node is the first node of frame 1; its cells
            // name nodes 2 .. 25,000, so frame 2 holds cells 9,999 .. 19,998.
            fill_node_frames(24999);
            drop_cells(9999 + c.used, 10000 - c.used);
            push_cell_node(10000);  // on the cycle guard, which must follow moves
            volatile NodeId held = c.on_stack ? memory::buffer_of(roots[0])->cells()[10000].data2 : 0;
            std::uint32_t second = memory::node_frame(memory::record.node_head)->next;
            std::uint32_t moves = collector::node_compaction_count();
            for (int cycle = 0; cycle < 8; ++cycle) {
                if (cycle == c.changed_at) drop_cells(9999 + c.used - 1, 1);
                collect();
            }
            EXPECT_EQ(!node_frame_listed(second), c.evacuated);
            EXPECT_EQ(collector::node_compaction_count() > moves, c.evacuated);
            EXPECT_TRUE(all_cells_intact());
            EXPECT_TRUE(cycles::find(memory::buffer_of(roots[0])->cells()[10000].data2));
            cycles::reset();
            EXPECT_TRUE(held == 0 || memory::is_live_node(held));
            test::expect_heap_sound();
        });
    }
}

// Many blocks and strings made and dropped, some kept, with a full cycle at
// every allocation and the heap checked after each one.
TEST(Collector, ChurnUnderStressStaysSoundAndBounded) {
    isolated([] {
        memory::set_stress(true);
        collector::set_verify(true);
        collector::set_active(true);
        root(0, memory::alloc_cells(64));
        std::uint64_t peak = 0;
        for (int i = 0; i < 3000; ++i) {
            NodeId block = memory::alloc_cells(4);
            Cell text{static_cast<std::uint32_t>(Type::string), 0,
                      memory::alloc_codepoints(10 + i % 50, 1 << (i % 3)), 0};
            *memory::alloc_tail_cell(memory::buffer_of(block)) = text;
            Cell value{static_cast<std::uint32_t>(Type::block), 0, block, 0};
            SeriesBuffer* kept = memory::buffer_of(roots[0]);
            if (i % 10 == 0) {
                if (kept->length() == 64) kept->tail = kept->offset;  // drop the older ones
                Cell list{static_cast<std::uint32_t>(Type::block), 0, roots[0], 0};
                *memory::append_slot(&list) = value;
            }
            peak = std::max(peak, memory::stats().total);
        }
        EXPECT_LT(peak, 8u << 20);
        EXPECT_GT(collector::cycle_count(), 3000u);
    });
}

TEST(Collector, ChurnWithoutStressKeepsTheHeapBounded) {
    isolated([] {
        collector::set_active(true);
        root(0, memory::alloc_cells(1000));
        std::uint64_t peak = 0;
        for (int i = 0; i < 300000; ++i) {
            NodeId n = memory::alloc_bytes(16 + i % 200);
            SeriesBuffer* kept = memory::buffer_of(roots[0]);
            if (i % 10 == 0) {
                if (kept->length() == 1000) kept->tail = kept->offset;
                *memory::alloc_tail_cell(kept) = Cell{static_cast<std::uint32_t>(Type::binary), 0, n, 0};
            }
            peak = std::max(peak, memory::stats().total);
        }
        EXPECT_LT(peak, 16u << 20);
        EXPECT_GT(collector::cycle_count(), 5u);
        test::expect_heap_sound();
    });
}

// With much live data the heap grows by about the live bytes between cycles
// instead of collecting each time a frame runs out of room, and still stays
// within a small multiple of what is live.
TEST(Collector, CyclesAreSpacedByTheLiveData) {
    isolated([] {
        collector::set_active(true);
        constexpr int live = 6000;  // 6 MB in slots of 1,000 bytes
        root(0, memory::alloc_cells(live));
        for (int i = 0; i < live; ++i) {
            NodeId n = make_slot(1000, static_cast<std::uint8_t>(i));
            *memory::alloc_tail_cell(memory::buffer_of(roots[0])) =
                Cell{static_cast<std::uint32_t>(Type::binary), 0, n, 0};
        }
        const std::uint32_t before = collector::cycle_count();
        std::uint64_t peak = 0;
        for (int i = 0; i < 60000; ++i) {
            make_garbage(1000);
            peak = std::max(peak, memory::stats().total);
        }
        EXPECT_LE(collector::cycle_count() - before, 12u);
        EXPECT_GE(collector::cycle_count() - before, 5u);
        EXPECT_LT(peak, 28u << 20);
        SeriesBuffer* kept = memory::buffer_of(roots[0]);
        for (int i = 0; i < live; i += 599)
            EXPECT_TRUE(intact(kept->cells()[i].data2, static_cast<std::uint8_t>(i))) << i;
        test::expect_heap_sound();
    });
}

}  // namespace kiv

namespace kiv {

// The stack scanned is the collecting thread's, even when another thread set
// the heap up.
TEST(Collector, ACycleOnAnotherThreadScansThatThread) {
    isolated([] {
        std::thread other([] {
            std::uint32_t at = 0;
            std::uint8_t* volatile pointer = pointer_into_new(88, 6, 10, &at);
            volatile NodeId node = make_slot(88, 8);
            collect();
            EXPECT_TRUE(has_pattern(cage::at<SeriesBuffer>(at), 6));
            EXPECT_EQ(pointer[0], 6 + 10);
            EXPECT_TRUE(intact(node, 8));
        });
        other.join();
    });
}

}  // namespace kiv

namespace kiv {

// Bytes that a cycle freed or moved away from are unreadable to sanitizer
// builds and read as 0xDD in debug builds.
TEST(Collector, ReclaimedBytesArePoisoned) {
#if defined(KIV_SANITIZE) || !defined(NDEBUG)
    isolated([] {
        make_garbage(104);
        root(0, make_slot(200, 1));
        std::uint32_t moved_from = where(roots[0]);
        collect();
        ASSERT_LT(where(roots[0]), moved_from);
        std::uint32_t freed = moved_from + 150;  // past the slid buffer's new end
#if defined(KIV_SANITIZE)
        EXPECT_DEATH((void)*cage::at<volatile std::uint8_t>(freed), "use-after-poison");
#else
        EXPECT_EQ(*cage::at<std::uint8_t>(freed), 0xDD);
#endif
    });
#endif
}

}  // namespace kiv
