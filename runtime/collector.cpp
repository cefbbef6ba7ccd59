// The collector: roots, marking by datatype, the conservative stack scan,
// node compaction, series compaction and the sweeps.
//
// Marks live in the buffers' flags. Marking is iterative: a newly marked
// buffer of cells goes on a work list, so deep nesting costs no C++ stack.
// Pins (a C++ stack word points into the buffer) live in the flags too; a
// pinned buffer counts as marked, never moves and keeps its bytes even when
// it was abandoned by expansion. Every mark and pin is cleared before the
// cycle ends.
//
// Node compaction forwards in place: each live slot of an evacuated frame is
// overwritten with its new node id (a high-half value, so it can't be taken
// for a buffer offset) and its free slots with 0. Marking through a slot
// follows the forward and rewrites the slot. Evacuated frames are released at
// the end of the cycle, which ends the forwarding.
#include "runtime/collector.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/cycles.h"
#include "runtime/externals.h"
#include "runtime/memory.h"
#include "runtime/raw-array.h"

namespace kiv::collector {

using memory::NodeFrame;
using memory::SeriesBuffer;
using memory::SeriesFrame;
namespace flag = memory::series_flag;

namespace {

bool is_active = false;
bool in_cycle = false;
bool node_compaction_on = true;
bool verify_each_cycle = false;
bool nodes_moved = false;  // some node frame was evacuated this cycle
std::uint32_t cycles_done = 0;
std::uint32_t node_compactions = 0;
// The stack being scanned: [scan_low, scan_base).
void* scan_base = nullptr;
void* scan_low = nullptr;

Hook hooks[max_hooks];
int hook_count = 0;
raw::RawArray<Hook> after_mark_hooks;
raw::RawArray<NodeId*> root_slots;
raw::RawArray<Cell*> root_cells;

void mark_table_node(NodeId* slot) { mark_block(slot); }
SlotMarker hashtable_marker = mark_table_node;
void (*image_marker)(NodeId) = nullptr;

// Cage offsets of buffers of cells that are marked but not yet scanned.
raw::RawArray<std::uint32_t> gray;
constexpr std::uint32_t free_queue_limit = 20000;
raw::RawArray<NodeId> free_queue;
// What the stack scan found: node ids (sorted, unique) and the cage
// offsets that C++ pointers into the low half hold.
raw::RawArray<NodeId> stack_nodes;
raw::RawArray<std::uint32_t> candidates;
raw::RawArray<std::uint32_t> slot_pointers;
raw::RawArray<std::uint32_t> pinned;
// Frame headers sorted by address, rebuilt each cycle.
raw::RawArray<std::uint32_t> series_frames;
raw::RawArray<std::uint32_t> big_frames;

constexpr std::uint32_t values_on_stack = 0x400000;
constexpr std::uint32_t event_by_language = 0x1000;

}  // namespace

// ---------------------------------------------------------------------------
// Marking by datatype. ORDER: one row per datatype that refers to storage;
// every other datatype refers to none.

enum class Refs : std::uint8_t {
    none,
    series,    // word 2: cells, deeply
    text,      // word 2, and word 3 (cached encoded copy) when set
    symbol,    // word 3, and word 2 when set
    context,   // word 1: word table; word 2: values unless kept on the stack
    word,      // word 1: the context, when bound
    native,    // words 2 and 3; an op! made from a function or routine also word 1
    function,  // words 1, 2 and 3
    node2,     // word 2
    object,    // word 1: context; word 3: change-handler record when set
    map,       // word 2: the block; word 3: the hash table
    handle,    // word 3: external handle registry slot when not negative
    image,     // word 2 when set, then the imaging unit's marker
    event,     // word 2 as a block when made by the language
};

#define KIV_MARK_ROWS(X)                                                              \
    X(block, series) X(paren, series) X(path, series) X(lit_path, series)            \
    X(set_path, series) X(get_path, series)                                          \
    X(string, text) X(file, text) X(url, text) X(tag, text) X(email, text)           \
    X(ref, text)                                                                     \
    X(symbol, symbol)                                                                \
    X(context, context)                                                              \
    X(word, word) X(set_word, word) X(lit_word, word) X(get_word, word)              \
    X(refinement, word)                                                              \
    X(native, native) X(action, native) X(op, native)                                \
    X(function, function) X(routine, function)                                       \
    X(bitset, node2) X(vector, node2) X(binary, node2)                               \
    X(object, object) X(error, object) X(port, object)                               \
    X(hash, map) X(map, map)                                                         \
    X(handle, handle)                                                                \
    X(image, image)                                                                  \
    X(event, event)

namespace {

struct RefTable {
    Refs rows[256] = {};
    constexpr RefTable() {
#define KIV_MARK_ROW(type, refs) rows[static_cast<int>(Type::type)] = Refs::refs;
        KIV_MARK_ROWS(KIV_MARK_ROW)
#undef KIV_MARK_ROW
    }
};
constexpr RefTable ref_table;

enum class RefKind { node, table, handle, image };

// Calls visit(slot, kind) for each reference the cell holds.
template <class Visit>
void for_each_ref(Cell* c, Visit&& visit) {
    switch (ref_table.rows[c->type_id()]) {
    case Refs::none: return;
    case Refs::series:
    case Refs::node2: visit(&c->data2, RefKind::node); return;
    case Refs::text:
        visit(&c->data2, RefKind::node);
        if (c->data3) visit(&c->data3, RefKind::node);
        return;
    case Refs::symbol:
        visit(&c->data3, RefKind::node);
        if (c->data2) visit(&c->data2, RefKind::node);
        return;
    case Refs::context:
        if (c->data1) visit(&c->data1, RefKind::table);
        if (!(c->header & values_on_stack)) visit(&c->data2, RefKind::node);
        return;
    case Refs::word:
        if (c->data1) visit(&c->data1, RefKind::node);
        return;
    case Refs::native: {
        visit(&c->data2, RefKind::node);
        visit(&c->data3, RefKind::node);
        std::uint32_t made_from = (c->header >> 16) & 0xFF;
        if (c->is(Type::op) && (made_from == static_cast<std::uint32_t>(Type::function) ||
                                made_from == static_cast<std::uint32_t>(Type::routine)))
            visit(&c->data1, RefKind::node);
        return;
    }
    case Refs::function:
        visit(&c->data1, RefKind::node);
        visit(&c->data2, RefKind::node);
        visit(&c->data3, RefKind::node);
        return;
    case Refs::object:
        visit(&c->data1, RefKind::node);
        if (c->data3) visit(&c->data3, RefKind::node);
        return;
    case Refs::map:
        visit(&c->data2, RefKind::node);
        if (c->data3) visit(&c->data3, RefKind::table);
        return;
    case Refs::handle:
        if (static_cast<std::int32_t>(c->data3) >= 0) visit(&c->data3, RefKind::handle);
        return;
    case Refs::image:
        if (c->data2) visit(&c->data2, RefKind::image);
        return;
    case Refs::event:
        if ((c->header & event_by_language) && c->data2) visit(&c->data2, RefKind::node);
        return;
    }
}

// The node's id after node compaction; 0 when it was a free node of an
// evacuated frame.
NodeId forward(NodeId n) {
    while (NodeFrame* f = memory::frame_of_node(n)) {
        if (!f->evacuated) break;
        n = memory::node_slot(n);
    }
    return n;
}

// The buffer of the node in the slot when it is newly marked, else null.
[[gnu::always_inline]] inline SeriesBuffer* mark_slot(NodeId* slot) {
    NodeId n = *slot;
    if (!n) return nullptr;
    if (nodes_moved) [[unlikely]] {
        n = forward(n);
        *slot = n;
    }
    if (!memory::is_live_node(n)) return nullptr;
    SeriesBuffer* b = memory::buffer_of(n);
    if (b->flags & flag::mark) return nullptr;
    b->flags |= flag::mark;
    return b;
}

// Whether a buffer of a few cells refers to nothing, so that marking it is
// done once it carries the mark.
// PERF: a small block of scalars, such as a loop keeps by the thousand, is
// read here rather than pushed onto the gray list and popped again (alloc
// of 1,000,000 rounds, 13 cycles either way: 130.4M instructions in the
// cycles before, 123.3M after; 100,000 rounds: no change).
inline bool is_small_leaf(SeriesBuffer* b) {
    constexpr std::uint32_t small = 4 * sizeof(Cell);
    if (b->used_bytes() > small) return false;
    for (Cell* c = b->cells(), *e = b->cells_tail(); c < e; ++c)
        if (ref_table.rows[c->type_id()] != Refs::none) return false;
    return true;
}

[[gnu::always_inline]] inline bool mark_slot_deeply(NodeId* slot) {
    SeriesBuffer* b = mark_slot(slot);
    if (!b) return false;
    if (b->unit() == 16 && !is_small_leaf(b)) gray.push(cage::offset_of(b));
    return true;
}

// Asks the cache for the header of the buffer of a cell that names a node
// in word 2, when the word lies in a committed node frame slot (a prefetch
// never faults, but the slot must be readable).
inline void prefetch_buffer_of(const Cell* c) {
    const Refs refs = ref_table.rows[c->type_id()];
    if (refs != Refs::series && refs != Refs::node2) return;
    const NodeId n = c->data2;
    if (n < cage::high_start || !cage::node_slot_live(cage::node_slot_index(n))) return;
    __builtin_prefetch(cage::ptr(memory::node_slot(n & ~3u)));
}

void drain_gray() {
    constexpr std::ptrdiff_t ahead = 8;
    while (!gray.empty()) {
        auto* b = cage::at<SeriesBuffer>(gray.pop());
        // PERF: most cells refer to nothing, and most of the others to one
        // node in word 2, or, for a word, to its context in word 1 (alloc
        // of 1,000,000 rounds: 2,637.3M instructions with words on the
        // general path, 2,632.6M without); only the rest take the general
        // path. The headers of the buffers that cells a few places on refer
        // to are fetched while these cells are marked.
        for (Cell* c = b->cells(), *e = b->cells_tail(); c < e; ++c) {
            if (e - c > ahead) prefetch_buffer_of(c + ahead);
            const Refs refs = ref_table.rows[c->type_id()];
            if (refs == Refs::none) continue;
            if (refs == Refs::series || refs == Refs::node2) mark_slot_deeply(&c->data2);
            else if (refs == Refs::word) mark_slot_deeply(&c->data1);
            else mark_cell(c);
        }
    }
}

}  // namespace

bool mark_node(NodeId* slot) { return mark_slot(slot) != nullptr; }

bool mark_block(NodeId* slot) { return mark_slot_deeply(slot); }

bool mark_series_value(Cell* value) { return mark_block(&value->data2); }
void mark_context(NodeId* slot) { mark_block(slot); }

void mark_cell(Cell* c) {
    for_each_ref(c, [](std::uint32_t* slot, RefKind kind) {
        switch (kind) {
        case RefKind::node: mark_block(slot); break;
        case RefKind::table: hashtable_marker(slot); break;
        case RefKind::handle: externals::mark(static_cast<std::int32_t>(*slot), 0); break;
        case RefKind::image:
            mark_block(slot);
            if (image_marker) image_marker(*slot);
            break;
        }
    });
}

void mark_values(Cell* first, Cell* end) {
    for (Cell* c = first; c < end; ++c) mark_cell(c);
}

void clear_mark(NodeId node) {
    if (memory::is_live_node(node)) memory::buffer_of(node)->flags &= ~flag::mark;
}

bool is_marked(NodeId node) {
    node = relocated(node);
    if (!memory::is_live_node(node)) return false;
    return (memory::buffer_of(node)->flags & (flag::mark | flag::pinned)) != 0;
}

NodeId relocated(NodeId node) { return nodes_moved ? forward(node) : node; }

void relocate_range(std::uint32_t* first, std::uint32_t* end) {
    if (!nodes_moved) return;
    for (std::uint32_t* p = first; p < end; ++p) {
        NodeFrame* f = memory::frame_of_node(*p);
        if (f && f->evacuated) *p = forward(*p);
    }
}

// ---------------------------------------------------------------------------
// Roots and settings.

namespace {

// Scans the calling thread's stack from now on, up to `base` (null: the top
// of the thread's stack).
void use_current_stack(void* base) {
    pthread_attr_t attr;
    void* addr = nullptr;
    std::size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        if (pthread_attr_getstack(&attr, &addr, &size) != 0) addr = nullptr;
        pthread_attr_destroy(&attr);
    }
    scan_low = addr;
    scan_base = base ? base : addr ? static_cast<char*>(addr) + size : nullptr;
}

}  // namespace

void init() {
    cycles_done = 0;
    node_compactions = 0;
    const char* v = std::getenv("KIV_GC_VERIFY");
    verify_each_cycle = v && v[0] == '1';
    use_current_stack(nullptr);
}

void set_stack_base(void* base) { use_current_stack(base); }
void* stack_base() { return scan_base; }
void set_active(bool on) { is_active = on; }
bool active() { return is_active; }
bool collecting() { return in_cycle; }
void set_node_compaction(bool on) { node_compaction_on = on; }
bool node_compaction() { return node_compaction_on; }
std::uint32_t cycle_count() { return cycles_done; }
std::uint32_t node_compaction_count() { return node_compactions; }
void set_verify(bool on) { verify_each_cycle = on; }

void forget_roots() {
    hook_count = 0;
    after_mark_hooks.clear();
    root_slots.clear();
    root_cells.clear();
    hashtable_marker = mark_table_node;
    image_marker = nullptr;
    free_queue.clear();
    gray.clear();
    is_active = false;
    node_compaction_on = true;
}

void register_hook(Hook hook) {
    if (hook_count == max_hooks) raw::out_of_memory();
    hooks[hook_count++] = hook;
}
void register_root(NodeId* slot) { root_slots.push(slot); }
void register_root_cell(Cell* cell) { root_cells.push(cell); }
void register_after_mark_hook(Hook hook) { after_mark_hooks.push(hook); }
void set_hashtable_marker(SlotMarker marker) { hashtable_marker = marker ? marker : mark_table_node; }
void set_image_marker(void (*marker)(NodeId)) { image_marker = marker; }

void run_if_enabled() {
    if (is_active) do_cycle();
}

// ---------------------------------------------------------------------------
// The pending-free queue.

// PERF: the nodes go back unsorted; sorting them first took a quarter of
// the time of a loop that makes a million small blocks, and the order in
// which a frame's free chain hands nodes out again is of no consequence.
// PERF: the compaction walk frees the nodes of the dead buffers it meets at
// once, in the order of the walk, which is mostly their allocation order, so
// runs of them share a frame (alloc of 100,000 rounds, 3 cycles either way:
// 13.46M instructions in the cycles before, 12.72M after). Big frames queue
// theirs.
namespace {

// Returns nodes to their frames, keeping the frame of the last one: the
// frame found for one node serves the next while they fall in its node area.
struct NodeFreer {
    NodeFrame* frame = nullptr;
    NodeId first = 0, span = 0;

    void free(NodeId n) {
        if (n - first >= span) [[unlikely]] {
            frame = memory::frame_of_node(n);
            if (!frame) {
                span = 0;
                return;
            }
            first = frame->first_node();
            span = frame->end_node() - first;
        }
        memory::free_node(frame, n);
    }
};

}  // namespace

void flush_node_frees() {
    NodeFreer freer;
    for (NodeId n : free_queue) freer.free(n);
    free_queue.clear();
}

void queue_node_free(NodeId node) {
    if (!node) return;
    if (free_queue.count == free_queue_limit) flush_node_frees();
    free_queue.push(node);
}

// ---------------------------------------------------------------------------
// The stack scan.

namespace {

void sort_frame_lists() {
    series_frames.clear();
    for (std::uint32_t f = memory::record.series_head; f; f = memory::series_frame(f)->next)
        series_frames.push(f);
    big_frames.clear();
    for (std::uint32_t f = memory::record.big_head; f; f = memory::big_frame(f)->next)
        big_frames.push(f);
    std::sort(big_frames.begin(), big_frames.end());
    series_frames.shrink_if_sparse(1000);
    big_frames.shrink_if_sparse(1000);
}

// GC: reads every word between the stack pointer and the base, red zones
// included, so it must not be instrumented; it calls nothing that reads the
// stack.
[[gnu::noinline, gnu::no_sanitize_address]] void scan_words(const std::uint8_t* low,
                                                            const std::uint8_t* high) {
    const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(cage::origin());
    const std::uintptr_t cage_low = base + cage::low_start;
    const std::uintptr_t cage_high = base + cage::high_start;
    const std::uintptr_t cage_end = base + cage::reserved_bytes;
    for (const std::uint8_t* p = low; p + 8 <= high; p += 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        // With the cage at its fixed address a node id held in a 64-bit
        // word also reads as a pointer into the low half (from 512 MB up);
        // like any other stray word it can only pin what lies there.
        if (w >= cage_low && w < cage_high)
            candidates.push(static_cast<std::uint32_t>(w - base));
        // A pointer into a node frame (a reference to a node's slot) keeps
        // the frame from evacuation. With the cage at a fixed address it
        // also keeps the node it points at alive: the compiler may then keep
        // a node's slot address, base + id, in place of the id across a call.
        if (w >= cage_high && w < cage_end) {
            const auto off = static_cast<std::uint32_t>(w - base);
            slot_pointers.push(off);
            if (cage::fixed_origin && memory::is_live_node(off)) stack_nodes.push(off);
        }
        std::uint32_t lo = static_cast<std::uint32_t>(w), hi = static_cast<std::uint32_t>(w >> 32);
        if (lo >= cage::high_start && memory::is_live_node(lo)) stack_nodes.push(lo);
        if (hi >= cage::high_start && memory::is_live_node(hi)) stack_nodes.push(hi);
    }
}

// Spills the callee-saved registers into this frame, then scans from here
// to the stack base.
[[gnu::noinline, gnu::no_sanitize_address]] void scan_native_stack() {
    __builtin_unwind_init();
    std::uintptr_t sp;
    asm volatile("mov %%rsp, %0" : "=r"(sp));
    // A cycle on another thread than the one recorded (a test harness, say)
    // scans its own stack.
    if (sp < reinterpret_cast<std::uintptr_t>(scan_low) ||
        sp >= reinterpret_cast<std::uintptr_t>(scan_base))
        use_current_stack(nullptr);
    const auto* low = reinterpret_cast<const std::uint8_t*>(sp & ~std::uintptr_t{7});
    const auto* high = static_cast<const std::uint8_t*>(scan_base);
    stack_nodes.clear();
    candidates.clear();
    slot_pointers.clear();
    if (high && low < high) scan_words(low, high);
    std::sort(slot_pointers.begin(), slot_pointers.end());
    std::sort(stack_nodes.begin(), stack_nodes.end());
    stack_nodes.count = static_cast<std::uint32_t>(
        std::unique(stack_nodes.begin(), stack_nodes.end()) - stack_nodes.begin());
    std::sort(candidates.begin(), candidates.end());
}

void pin(SeriesBuffer* b) {
    if (b->flags & flag::pinned) return;
    b->flags |= flag::pinned;
    pinned.push(cage::offset_of(b));
}

// The frame among `frames` (sorted) whose range holds `off`, by the
// frame's own extent.
template <class Extent>
std::uint32_t find_frame(raw::RawArray<std::uint32_t>& frames, std::uint32_t off, Extent extent) {
    auto* it = std::upper_bound(frames.begin(), frames.end(), off);
    if (it == frames.begin()) return 0;
    std::uint32_t f = *(it - 1);
    return off < extent(f) ? f : 0;
}

// Turns the candidate pointers into pins on the buffers they point into.
void pin_candidates() {
    pinned.clear();
    SeriesFrame* frame = nullptr;
    std::uint8_t* cursor = nullptr;
    for (std::uint32_t c : candidates) {
        std::uint32_t f = find_frame(series_frames, c,
                                     [](std::uint32_t g) { return memory::series_frame(g)->end; });
        if (f) {
            SeriesFrame* sf = memory::series_frame(f);
            if (c < cage::offset_of(sf->data()) || c >= sf->heap) continue;
            if (sf != frame) frame = sf, cursor = sf->data();
            std::uint8_t* p = cage::ptr(c);
            auto* b = reinterpret_cast<SeriesBuffer*>(cursor);
            while (cursor + b->slot_length() <= p) {
                __builtin_prefetch(cursor + 1024);  // PERF: as in the compaction walk
                cursor += b->slot_length();
                b = reinterpret_cast<SeriesBuffer*>(cursor);
            }
            pin(b);
            continue;
        }
        std::uint32_t g = find_frame(big_frames, c, [](std::uint32_t h) {
            return h + 12 + memory::big_frame(h)->requested;
        });
        if (g && c >= g + 12) pin(memory::big_frame(g)->buffer());
    }
}

// ---------------------------------------------------------------------------
// Node compaction.

constexpr std::uint32_t stability_width = 5;
constexpr std::uint32_t stable_mask = (1u << (stability_width + 1)) - 1;

// Whether a stack word names one of the frame's nodes or points into it.
bool named_on_stack(NodeFrame* f) {
    auto within = [f](raw::RawArray<std::uint32_t>& words, std::uint32_t first) {
        auto* it = std::lower_bound(words.begin(), words.end(), first);
        return it != words.end() && *it < f->end_node();
    };
    return within(stack_nodes, f->first_node()) ||
           within(slot_pointers, cage::offset_of(f) - 4);
}

// A frame with a free node to receive moved nodes, searched from the
// current frame onwards, then from the head.
NodeFrame* receiving_frame(NodeFrame* leaving) {
    auto usable = [&](NodeFrame* g) { return g != leaving && !g->evacuated && g->free_head; };
    NodeFrame* start = memory::node_frame(memory::record.node_current);
    for (NodeFrame* g = start; g; g = memory::node_frame(g->next))
        if (usable(g)) return g;
    for (NodeFrame* g = memory::node_frame(memory::record.node_head); g != start;
         g = memory::node_frame(g->next))
        if (usable(g)) return g;
    return nullptr;
}

void evacuate(NodeFrame* f) {
    std::uint32_t* nodes = f->nodes();
    for (std::uint32_t i = 0; i < f->capacity; ++i) {
        std::uint32_t content = nodes[i];
        if (content == 0 || content >= cage::high_start) {
            nodes[i] = 0;
            continue;
        }
        NodeFrame* r = receiving_frame(f);
        memory::record.node_current = cage::offset_of(r);
        NodeId to = r->free_head;
        r->free_head = memory::node_slot(to);
        ++r->used;
        memory::node_slot(to) = content;
        cage::at<SeriesBuffer>(content)->node = to;
        nodes[i] = to;
        --f->used;
    }
    f->free_head = 0;
    f->evacuated = 1;
}

void compact_nodes() {
    using memory::node_frame;
    NodeFrame* full = node_frame(memory::record.node_head);
    while (full && (full->free_head || full->evacuated)) full = node_frame(full->next);
    if (!full) return;
    memory::record.node_current = cage::offset_of(full);
    std::int64_t free = 0;
    for (NodeFrame* g = node_frame(memory::record.node_head); g; g = node_frame(g->next))
        if (g->free_head && !g->evacuated) free += g->capacity - g->used;
    bool any = false;
    for (NodeFrame* g = node_frame(memory::record.node_tail); g; g = node_frame(g->previous)) {
        if ((g->stability & stable_mask) != stable_mask || g->used >= memory::nodes_per_frame / 2 ||
            free <= memory::nodes_per_frame || g == full || g->evacuated || named_on_stack(g))
            continue;
        free -= g->capacity;
        nodes_moved = true;
        evacuate(g);
        any = true;
    }
    if (any) ++node_compactions;
}

// ---------------------------------------------------------------------------
// Series compaction.

// Moves `length` bytes of whole buffers from `from` to `to` and re-points
// their nodes, offsets and tails.
void move_buffers(std::uint8_t* from, std::uint8_t* to, std::uint32_t length) {
    cage::unpoison(to, length);
    std::memmove(to, from, length);
    std::uint32_t delta = static_cast<std::uint32_t>(from - to);  // buffers only move down
    for (std::uint8_t* p = to; p < to + length;) {
        auto* b = reinterpret_cast<SeriesBuffer*>(p);
        b->offset -= delta;
        b->tail -= delta;
        if (b->node) memory::node_slot(b->node) = cage::offset_of(b);
        p += b->slot_length();
    }
}

// Turns free bytes that a pinned buffer keeps from joining the heap into one
// dead buffer, so the frame stays walkable.
void make_filler(std::uint8_t* at, std::uint8_t* end) {
    cage::unpoison(at, static_cast<std::uint64_t>(end - at));
    auto* b = reinterpret_cast<SeriesBuffer*>(at);
    b->flags = 0;
    b->node = 0;
    b->size = static_cast<std::uint32_t>(end - at) - 24;
    b->offset = b->tail = cage::offset_of(b->data());
    cage::poison(b->data(), b->size);
}

struct Compaction {
    Compaction(SeriesFrame* f, SeriesFrame* preceding) : frame(f), target(preceding) {}

    SeriesFrame* frame;
    SeriesFrame* target;  // the preceding frame, while it can take runs
    std::uint32_t room = 0;
    std::uint8_t* hole = nullptr;  // [hole, cursor) is free
    std::uint8_t* run = nullptr;   // live buffers not yet placed, [run, run + run_length)
    std::uint32_t run_length = 0;
    NodeFreer freer;

    void update_room() {
        room = target ? target->room() : 0;
        if (room <= memory::min_frame_room) room = 0;
    }

    void place_run() {
        if (!run) return;
        if (room && run_length < room) {
            move_buffers(run, cage::ptr(target->heap), run_length);
            target->heap += run_length;
            update_room();
            if (!hole) hole = run;
        } else if (hole) {
            move_buffers(run, hole, run_length);
            hole += run_length;
        } else {
            room = 0;  // the run stays; stop filling the target from this frame
            target = nullptr;
        }
        run = nullptr;
        run_length = 0;
    }

    void live(std::uint8_t* p, std::uint32_t length) {
        if (run && room && run_length + length >= room) place_run();
        if (!run) run = p;
        run_length += length;
    }

    void kept(std::uint8_t* p) {
        place_run();
        if (hole) make_filler(hole, p);
        hole = nullptr;
    }

    void dead(std::uint8_t* p, SeriesBuffer* b) {
        place_run();
        if (b->node && (b->flags & flag::in_use) && memory::node_slot(b->node) == cage::offset_of(b))
            freer.free(b->node);
        if (!hole) hole = p;
    }

    void walk() {
        update_room();
        std::uint8_t* heap = cage::ptr(frame->heap);
        for (std::uint8_t* p = frame->data(); p < heap;) {
            auto* b = reinterpret_cast<SeriesBuffer*>(p);
            // PERF: the walk reads one header per buffer, from front to back;
            // fetching ahead hides the wait for the headers of small buffers.
            __builtin_prefetch(p + 1024);
            std::uint32_t length = b->slot_length();
            if (b->flags & flag::pinned) {
                b->flags &= ~(flag::pinned | flag::mark);
                kept(p);
            } else if (b->flags & flag::mark) {
                b->flags &= ~flag::mark;
                live(p, length);
            } else {
                dead(p, b);
            }
            p += length;
        }
        place_run();
        if (hole) {
            cage::poison(hole, static_cast<std::size_t>(heap - hole));
            frame->heap = cage::offset_of(hole);
        }
    }
};

void compact_series() {
    SeriesFrame* previous = nullptr;
    for (SeriesFrame* f = memory::series_frame(memory::record.series_head); f;) {
        SeriesFrame* next = memory::series_frame(f->next);
        Compaction{f, previous}.walk();
        if (f->heap == cage::offset_of(f->data()) && next) {
            memory::drop_series_frame(f);
        } else {
            previous = f;
        }
        f = next;
    }
}

void mark_roots() {
    for (NodeId* slot : root_slots) mark_block(slot);
    for (Cell* c : root_cells) mark_cell(c);
    for (int i = 0; i < hook_count; ++i) {
        hooks[i]();
        drain_gray();
    }
    for (NodeId n : stack_nodes) mark_block(&n);
    for (std::uint32_t off : pinned) {
        auto* b = cage::at<SeriesBuffer>(off);
        if (b->flags & flag::mark) continue;
        b->flags |= flag::mark;
        if (b->unit() == 16) gray.push(off);
    }
    drain_gray();
}

void clear_fixed_marks() {
    memory::for_each_fixed([](SeriesBuffer* b) { b->flags &= ~(flag::mark | flag::pinned); });
}

}  // namespace

// ---------------------------------------------------------------------------
// Heap checks.

namespace {

struct Checker {
    std::string* problem;
    std::uint32_t in_use_buffers = 0;

    bool fail(const char* what, std::uint32_t where) {
        char text[160];
        std::snprintf(text, sizeof text, "%s at %08Xh", what, where);
        if (problem) *problem = text;
        return false;
    }

    bool cells(SeriesBuffer* b) {
        if (b->unit() != 16) return true;
        for (Cell* c = b->cells(), *e = b->cells_tail(); c < e; ++c) {
            bool ok = true;
            // A word's first payload word is a binding only when it names a
            // node: the argument caches of callables keep a count there in
            // their refinement! entries, which marking passes over.
            const bool word = ref_table.rows[c->type_id()] == Refs::word;
            for_each_ref(c, [&](std::uint32_t* slot, RefKind kind) {
                if (word && *slot < cage::high_start) return;
                if (kind == RefKind::node || kind == RefKind::image || kind == RefKind::table)
                    if (*slot && !memory::is_live_node(*slot)) ok = false;
            });
            if (!ok) return fail("cell refers to a node not in use", cage::offset_of(c));
        }
        return true;
    }

    bool buffer(SeriesBuffer* b) {
        std::uint32_t at = cage::offset_of(b);
        if (b->flags & (flag::mark | flag::pinned)) return fail("mark left on buffer", at);
        if (!(b->flags & flag::in_use)) return true;
        ++in_use_buffers;
        if (!memory::is_live_node(b->node) || memory::node_slot(b->node) != at)
            return fail("buffer's node does not name it", at);
        std::uint32_t data = cage::offset_of(b->data());
        if (b->offset < data || b->offset > b->tail || b->tail > data + b->size)
            return fail("offset or tail outside the capacity", at);
        return cells(b);
    }

    bool series_frames() {
        for (SeriesFrame* f = memory::series_frame(memory::record.series_head); f;
             f = memory::series_frame(f->next)) {
            std::uint8_t* heap = cage::ptr(f->heap);
            std::uint8_t* p = f->data();
            while (p < heap) {
                auto* b = reinterpret_cast<SeriesBuffer*>(p);
                if (!buffer(b)) return false;
                p += b->slot_length();
            }
            if (p != heap) return fail("buffers overrun the heap pointer", cage::offset_of(f));
            if (f->heap >= f->end) return fail("heap pointer past the frame", cage::offset_of(f));
            if (f->next && memory::series_frame(f->next)->previous != cage::offset_of(f))
                return fail("series frame links disagree", cage::offset_of(f));
            if (f->next && f->next < cage::offset_of(f))
                return fail("series frames out of address order", cage::offset_of(f));
        }
        for (std::uint32_t g = memory::record.big_head; g; g = memory::big_frame(g)->next)
            if (!buffer(memory::big_frame(g)->buffer())) return false;
        for (std::uint32_t i = 0; i < memory::fixed_count(); ++i)
            if (!buffer(memory::fixed_at(i))) return false;
        return true;
    }

    bool node_frame(NodeFrame* f, std::uint32_t* live) {
        std::uint32_t count = 0;
        for (std::uint32_t i = 0; i < f->capacity; ++i) {
            std::uint32_t content = f->nodes()[i];
            if (content == 0 || content >= cage::high_start) continue;
            NodeId n = f->first_node() + i * 4;
            auto* b = cage::at<SeriesBuffer>(content);
            if (b->node != n || !(b->flags & flag::in_use))
                return fail("node's buffer does not name it", n);
            ++count;
        }
        std::uint32_t chain = 0;
        for (NodeId n = f->free_head; n; n = memory::node_slot(n))
            if (++chain > f->capacity) return fail("free chain loops", cage::offset_of(f));
        if (count != f->used || chain != f->capacity - f->used)
            return fail("node frame's used count is wrong", cage::offset_of(f));
        if (f->evacuated) return fail("evacuated frame survived the cycle", cage::offset_of(f));
        *live += count;
        return true;
    }

    bool node_frames() {
        std::uint32_t live = 0;
        for (NodeFrame* f = memory::node_frame(memory::record.node_head); f;
             f = memory::node_frame(f->next))
            if (!node_frame(f, &live)) return false;
        if (live != in_use_buffers) return fail("in-use nodes and buffers differ in number", live);
        return true;
    }
};

}  // namespace

bool verify_heap(std::string* problem) {
    Checker check{problem};
    return check.series_frames() && check.node_frames();
}

void do_cycle() {
    if (in_cycle || !memory::initialized()) return;
    in_cycle = true;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    sort_frame_lists();
    scan_native_stack();
    pin_candidates();
    if (node_compaction_on) compact_nodes();
    mark_roots();
    if (nodes_moved) cycles::relocate();
    for (Hook h : after_mark_hooks) h();
    externals::sweep();
    compact_series();
    memory::sweep_big_frames();
    flush_node_frees();
    memory::release_empty_node_frames();
    memory::cycle_done();
    nodes_moved = false;
    clear_fixed_marks();
    ++cycles_done;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    in_cycle = false;
    if (verify_each_cycle) {
        std::string problem;
        if (!verify_heap(&problem)) {
            std::fprintf(stderr, "heap check failed after cycle %u: %s\n", cycles_done,
                         problem.c_str());
            std::abort();
        }
    }
}

}  // namespace kiv::collector
