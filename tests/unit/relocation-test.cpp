// The symbol table, contexts, words, hash indexes and the owners table keep
// working after the collector moves their nodes out of a sparse node frame.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <alloca.h>

#include <cstdio>
#include <thread>

#include "runtime/hashtable.h"
#include "runtime/state.h"
#include "tests/unit/runtime-support.h"

namespace kiv {

namespace {

NodeId filler_block = 0;

Cell global(const char* name) { return test::word_of(name); }

[[gnu::noinline]] void set_global(const char* name, const Cell& value) {
    Cell w = global(name);
    word::set(&w, &value);
}

[[gnu::noinline]] Cell get_global(const char* name) {
    Cell w = global(name);
    return *word::get(&w);
}

// Values reachable only from the global context: an integer, an object with
// a field, a block owned by the object, and a hash! over a block of words.
[[gnu::noinline]] void build_values() {
    set_global("alpha", test::integer(1));
    const NodeId ctx = context::create(1, false, true, 0, context::Kind::object);
    const Cell field = test::word_of("field");
    context::add_word(ctx, &field);
    *context::slot(ctx, 0) = test::integer(42);
    const Cell object{static_cast<std::uint32_t>(Type::object), ctx, 0, 0};
    *context::owner(ctx) = object;
    set_global("obj", object);
    const Cell list = test::block_of({test::integer(7)});
    set_global("list", list);
    ownership::bind(&list, &object, &field);
    Cell words = test::block_of({test::word_of("k1"), test::word_of("k2"), test::word_of("k1")});
    const NodeId table = hashtable::init(3, &words, hashtable::Kind::hash);
    set_global("h", Cell{static_cast<std::uint32_t>(Type::hash), 0, words.data2, table});
}

// Fills the node frames so that the first ends up sparse behind a full
// second frame and a third more than half full.
[[gnu::noinline]] void fill_frames() {
    filler_block = memory::alloc_cells(30000);
    collector::register_root(&filler_block);
    const std::uint32_t first = memory::record.node_head;
    auto add_filler = [] {
        const NodeId n = memory::alloc_bytes(16);
        *memory::alloc_tail_cell(memory::buffer_of(filler_block)) =
            Cell{static_cast<std::uint32_t>(Type::binary), 0, n, 0};
    };
    // A third frame is made only once the first two are full.
    while (memory::stats().node_frames < 3) add_filler();
    for (int i = 0; i < 6000; ++i) add_filler();
    int in_first = 0;
    // Drop the fillers of the first frame.
    memory::SeriesBuffer* b = memory::buffer_of(filler_block);
    for (Cell* c = b->cells(); c < b->cells_tail(); ++c)
        if (memory::frame_of_node(c->data2) == memory::node_frame(first)) {
            *c = Cell{static_cast<std::uint32_t>(Type::none), 0, 0, 0};
            ++in_first;
        }
    ASSERT_GT(in_first, 0);
}

[[gnu::noinline]] bool values_intact() {
    bool ok = get_global("alpha").data2 == 1;
    const Cell object = get_global("obj");
    ok = ok && context::slot(object.data1, 0)->data2 == 42;
    ok = ok && context::find_word(object.data1, symbol::make("FIELD"), true) == 0;
    const Cell list = get_global("list");
    const Cell* owner = ownership::get_owner(list.data2);
    ok = ok && owner && owner->data1 == object.data1;
    const Cell h = get_global("h");
    const Cell k1 = test::word_of("k1");
    const Cell* found = hashtable::find(h.data3, &k1, 1, 1, CompareOp::equal, false, false);
    ok = ok && found == memory::buffer_of(h.data2)->cells() + 2;
    return ok;
}

// Runs f well below the frames that the collections will scan, so that no
// stale word of its frames names a node of the first frame.
// Each attempt runs it at another depth, so that attempts do not all meet
// the same stale words.
int attempt_index = 0;

[[gnu::noinline]] void run_deep(void (*f)()) {
    volatile char* pad = static_cast<volatile char*>(alloca((128 + 8 * attempt_index) * 1024));
    pad[0] = 0;
    f();
    pad[1] = pad[0];
}

// Sets up, collects and checks; whether the nodes moved.
[[gnu::noinline]] bool moved_and_checked() {
    static std::uint32_t symbols;
    run_deep([] {
        test::start_runtime();
        memory::set_stress(false);
        collector::set_verify(false);
        collector::set_active(false);
        symbols = symbol::count();
        build_values();
        fill_frames();
    });
    const std::uint32_t moves = collector::node_compaction_count();
    for (int cycle = 0; cycle < 8; ++cycle) test::collect();
    const bool moved = collector::node_compaction_count() > moves;
    EXPECT_TRUE(values_intact());
    // Interning finds the existing spellings.
    const std::uint32_t count = symbol::count();
    EXPECT_GT(count, symbols);
    EXPECT_EQ(symbol::make("alpha"), test::word_of("alpha").data2);
    EXPECT_EQ(symbol::make("Windows"), words::symbol(words::Sym::windows));
    EXPECT_EQ(symbol::count(), count);
    test::expect_heap_sound();
    return moved;
}

// One attempt in a child process on a fresh heap: 0 when the nodes moved
// and everything still works, 3 when nothing moved (a stale word on the
// stack can keep the frame in place), 1 on a failure.
int attempt() {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        // A new thread has a fresh stack, free of stale words from earlier
        // tests; the collector scans the stack of the thread that collects.
        bool moved = false;
        std::thread run([&moved] { moved = moved_and_checked(); });
        run.join();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : moved ? 0 : 3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

TEST(Relocation, TablesFollowMovedNodes) {
    // The stack scan is conservative, so a word that happens to name a node
    // of the sparse frame keeps it in place; that is the collector's rule,
    // not a fault. Every attempt checks that the values survive; one in a few
    // dozen runs sees no attempt move, and then reports a skip, not a pass.
    bool moved = false;
    for (int i = 0; i < 30 && !moved; ++i) {
        attempt_index = i;
        const int result = attempt();
        ASSERT_NE(result, 1);
        moved = result == 0;
    }
    if (!moved) GTEST_SKIP() << "a stale stack word kept the node frame in place";
}

}  // namespace
}  // namespace kiv
