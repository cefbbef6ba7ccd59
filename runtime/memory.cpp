// The memory manager: frames, nodes, buffer allocation and expansion.
//
// Invariants: every in-use node holds the offset of a buffer whose `node`
// names it back; a free node holds the next free node of its frame (0 ends
// the chain), which lies in the high half, so a slot's word tells in-use from
// free. Series frames are linked in address order; buffers fill each frame
// back to back from its data start to its heap pointer. Big frames each hold
// one buffer; fixed buffers each have their own pages.
#include "runtime/memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/externals.h"
#include "runtime/fire.h"
#include "runtime/raw-array.h"

namespace kiv::memory {

Record record;

namespace {

bool ready = false;
// Collect at every n-th series allocation (0: only when needed).
std::uint32_t stress_every = 0;
std::uint32_t stress_countdown = 0;
// Slots below this size may be carved on the fast path: the size of a big
// frame, or 0 under stress, which sends every allocation to the slow path.
std::uint32_t fast_slot_limit = 0;

void apply_stress_interval(std::uint32_t n) {
    stress_every = stress_countdown = n;
    fast_slot_limit = n ? 0 : record.max_series_size;
}
// Offsets of the fixed buffers, in creation order.
raw::RawArray<std::uint32_t> fixed_buffers;
std::uint32_t big_tail = 0;
// PERF: full-size series frames that compaction emptied stay committed (and
// counted in the total) for the next frames the heap needs: a heap that
// shrinks at a cycle and grows again after it then takes no new pages.
constexpr std::uint32_t max_spare_frames = 4;
std::uint32_t spare_frames[max_spare_frames];
std::uint32_t spare_count = 0;

// Bytes carved from the series frames when the last cycle ended.
std::uint64_t carved_after_cycle = 0;

constexpr std::uint32_t cell_unset_header = static_cast<std::uint32_t>(Type::unset);

[[noreturn]] void no_memory() { fire(ErrorId::internal_no_memory); }

std::uint64_t align16(std::uint64_t n) { return (n + 15) & ~std::uint64_t{15}; }

// Capacity in bytes for count units; fires before anything is allocated when
// the request is negative or beyond what a buffer can describe.
std::uint32_t capacity_for(std::int64_t count, std::uint32_t unit) {
    // A negative count reads as a huge unsigned one.
    if (unit == 0 || unit > 16 || static_cast<std::uint64_t>(count) > 0x7FFFFFFFu / unit)
        no_memory();
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) * unit;
    return static_cast<std::uint32_t>(unit == 16 ? bytes : align16(bytes));
}

// A frame's block: the rounded length in its first word, the frame after it.
std::uint8_t* allocate_frame(std::uint64_t size) {
    std::uint64_t length = cage::round_to_pages(size + 4);
    std::uint8_t* block = cage::take_low(length);
    if (!block) no_memory();
    *reinterpret_cast<std::uint32_t*>(block) = static_cast<std::uint32_t>(length);
    record.total += length;
    return block + 4;
}

void free_frame(void* frame) {
    std::uint8_t* block = static_cast<std::uint8_t*>(frame) - 4;
    std::uint32_t length = *reinterpret_cast<std::uint32_t*>(block);
    record.total -= length;
    cage::release_low(block, length);
}

void release_spare_frames() {
    while (spare_count) free_frame(series_frame(spare_frames[--spare_count]));
}

// Writes a new buffer's header at `at`.
SeriesBuffer* format_buffer(std::uint8_t* at, std::uint32_t capacity, std::uint32_t unit,
                            std::int64_t head_offset, std::uint32_t extra_flags) {
    auto* b = reinterpret_cast<SeriesBuffer*>(at);
    b->flags = unit | series_flag::in_use | extra_flags;
    b->node = 0;
    b->size = capacity;
    std::uint32_t head;
    if (head_offset == middle_offset) {
        head = capacity >> 1;
        b->flags |= series_flag::middle;
    } else {
        head = head_offset < 0 ? 0 : static_cast<std::uint32_t>(head_offset);
        if (head > capacity) head = capacity;
    }
    b->offset = b->tail = cage::offset_of(b->data()) + head;
    reinterpret_cast<std::uint32_t*>(b->end())[0] = 0;
    return b;
}

SeriesBuffer* carve(SeriesFrame* f, std::uint32_t slot) {
    auto* at = cage::ptr(f->heap);
    cage::unpoison(at, slot);
    f->heap += slot;
    return reinterpret_cast<SeriesBuffer*>(at);
}

bool has_room(const SeriesFrame* f, std::uint32_t slot) { return f->heap + slot < f->end; }

// Bytes carved from all series frames (live, dead and pinned buffers alike).
std::uint64_t carved_bytes() {
    std::uint64_t n = 0;
    for (SeriesFrame* f = series_frame(record.series_head); f; f = series_frame(f->next))
        n += f->heap - cage::offset_of(f->data());
    return n;
}

// PERF: a cycle costs about what the live data it traces and moves costs,
// so when the frames are full the heap first grows until the bytes carved
// since the last cycle reach what that cycle left behind; with a large live
// set this spaces the cycles out in proportion to it, instead of running
// one each time a frame's worth of room runs out. A heap that has not been
// collected yet, that collects at every allocation, or that holds half of
// what the cage's low half can hold (so that a frame can't fail to come when
// a cycle would have found room) collects as soon as no frame has room.
bool grow_instead_of_collecting() {
    constexpr std::uint64_t growth_ceiling = (cage::high_start - cage::low_start) / 2;
    if (!collector::active() || stress_every || carved_after_cycle == 0) return false;
    if (record.total + record.max_series_size > growth_ceiling) return false;
    return carved_bytes() - carved_after_cycle < carved_after_cycle;
}

SeriesFrame* new_frame_for(std::uint32_t slot) {
    if (slot >= record.next_series_size) record.next_series_size = record.max_series_size;
    return new_series_frame();
}

// The frame a new slot goes to, collecting when no frame has room.
SeriesFrame* frame_for(std::uint32_t slot) {
    SeriesFrame* f = series_frame(record.series_current);
    if (f && has_room(f, slot)) return f;
    f = find_series_frame(slot);
    if (!f && grow_instead_of_collecting()) {
        f = new_frame_for(slot);
    } else if (!f) {
        collector::run_if_enabled();
        f = find_series_frame(slot);
        if (!f || f->room() < min_frame_room) f = new_frame_for(slot);
    }
    record.series_current = cage::offset_of(f);
    return f;
}

NodeFrame* node_frame_with_room();

// Pops a node from the current node frame's free chain; the caller fills it.
[[gnu::always_inline]] inline NodeId pop_node() {
    // An evacuated frame has no free node left, so it is never taken here.
    NodeFrame* f = node_frame(record.node_current);
    if (!f || !f->free_head) [[unlikely]]
        f = node_frame_with_room();
    // PERF: counting first keeps the compiler from pairing the two stores
    // through vector registers, which took three more instructions (alloc of
    // 100,000 rounds: 275.39M instructions before, 275.06M after).
    ++f->used;
    const NodeId n = f->free_head;
    f->free_head = node_slot(n);
    return n;
}

[[gnu::always_inline]] inline NodeId tie_to_node(SeriesBuffer* b) {
    const NodeId n = pop_node();
    node_slot(n) = cage::offset_of(b);
    b->node = n;
    return n;
}

}  // namespace

// ---------------------------------------------------------------------------
// Set-up and queries.

void init() {
    if (ready) return;
    cage::init();
    record = Record{};
    record.default_series_size = default_frame_size;
    record.next_series_size = default_frame_size;
    record.max_series_size = max_frame_size;
    carved_after_cycle = 0;
    const char* s = std::getenv("KIV_GC_STRESS");
    apply_stress_interval(s ? static_cast<std::uint32_t>(std::strtoul(s, nullptr, 10)) : 0);
    collector::init();
    ready = true;
    new_node_frame(nodes_per_frame);
    new_series_frame();
}

bool initialized() { return ready; }

void reset() {
    if (!ready) return init();
    while (NodeFrame* f = node_frame(record.node_head)) drop_node_frame(f);
    while (SeriesFrame* f = series_frame(record.series_head)) drop_series_frame(f);
    release_spare_frames();
    while (BigFrame* f = big_frame(record.big_head)) free_big_frame(f->buffer());
    for (std::uint32_t i = 0; i < fixed_buffers.count; ++i) {
        SeriesBuffer* b = fixed_at(i);
        cage::release_low(b, std::uint64_t{b->size} + 24);
    }
    fixed_buffers.clear();
    collector::forget_roots();
    externals::init();
    cycles::reset();
    ready = false;
    init();
}
bool stress() { return stress_every != 0; }
void cycle_done() { carved_after_cycle = carved_bytes(); }
void set_stress(bool on) { apply_stress_interval(on ? 1 : 0); }
std::uint32_t stress_interval() { return stress_every; }
void set_stress_interval(std::uint32_t n) { apply_stress_interval(n); }

Stats stats() {
    Stats s{};
    s.total = record.total;
    for (NodeFrame* f = node_frame(record.node_head); f; f = node_frame(f->next)) {
        ++s.node_frames;
        s.nodes_used += f->used;
    }
    for (SeriesFrame* f = series_frame(record.series_head); f; f = series_frame(f->next)) {
        ++s.series_frames;
        s.series_bytes_used += f->heap - cage::offset_of(f->data());
    }
    for (BigFrame* f = big_frame(record.big_head); f; f = big_frame(f->next)) ++s.big_frames;
    return s;
}

std::uint32_t fixed_count() { return fixed_buffers.count; }
SeriesBuffer* fixed_at(std::uint32_t i) { return cage::at<SeriesBuffer>(fixed_buffers[i]); }

// ---------------------------------------------------------------------------
// Node frames and nodes.

NodeFrame* new_node_frame(std::uint32_t count) {
    std::uint8_t* block = cage::take_node_slot();
    if (!block) no_memory();
    *reinterpret_cast<std::uint32_t*>(block) = cage::node_slot_bytes;
    record.total += cage::node_slot_bytes;
    auto* f = reinterpret_cast<NodeFrame*>(block + 4);
    *f = NodeFrame{};
    f->capacity = count;
    f->cycle_stamp = collector::cycle_count();
    // Chain every node free in address order.
    std::uint32_t* nodes = f->nodes();
    NodeId first = f->first_node();
    for (std::uint32_t i = 0; i + 1 < count; ++i) nodes[i] = first + (i + 1) * 4;
    if (count) nodes[count - 1] = 0;
    f->free_head = count ? first : 0;
    std::uint32_t self = cage::offset_of(f);
    f->previous = record.node_tail;
    if (NodeFrame* tail = node_frame(record.node_tail)) tail->next = self;
    record.node_tail = self;
    if (!record.node_head) record.node_head = record.node_current = self;
    return f;
}

void drop_node_frame(NodeFrame* f) {
    std::uint32_t self = cage::offset_of(f);
    if (NodeFrame* p = node_frame(f->previous)) p->next = f->next;
    else record.node_head = f->next;
    if (NodeFrame* n = node_frame(f->next)) n->previous = f->previous;
    else record.node_tail = f->previous;
    if (record.node_current == self) record.node_current = record.node_tail;
    record.total -= cage::node_slot_bytes;
    cage::release_node_slot(reinterpret_cast<std::uint8_t*>(f) - 4);
}

namespace {

// The first frame in list order with a free node, or a new one; it becomes
// current.
[[gnu::noinline]] NodeFrame* node_frame_with_room() {
    NodeFrame* f = node_frame(record.node_head);
    while (f && (!f->free_head || f->evacuated)) f = node_frame(f->next);
    if (!f) f = new_node_frame(nodes_per_frame);
    record.node_current = cage::offset_of(f);
    return f;
}

}  // namespace

NodeId alloc_node() {
    const NodeId n = pop_node();
    node_slot(n) = 0;
    return n;
}

void release_empty_node_frames() {
    NodeFrame* f = node_frame(record.node_head);
    record.node_current = 0;
    while (f) {
        NodeFrame* next = node_frame(f->next);
        if (f->used == 0 || f->evacuated) {
            drop_node_frame(f);
        } else {
            if (!record.node_current && f->used < f->capacity)
                record.node_current = cage::offset_of(f);
            f->stability = (f->stability << 1) | (f->used == f->used_at_last_cycle ? 1u : 0u);
            f->used_at_last_cycle = f->used;
        }
        f = next;
    }
    if (!record.node_current) record.node_current = record.node_tail;
}

// ---------------------------------------------------------------------------
// Series frames.

SeriesFrame* new_series_frame() {
    std::uint32_t size = record.next_series_size;
    if (record.next_series_size < record.max_series_size) {
        record.next_series_size *= 2;
        if (record.next_series_size > record.max_series_size)
            record.next_series_size = record.max_series_size;
    }
    auto* f = size == record.max_series_size && spare_count
                  ? series_frame(spare_frames[--spare_count])
                  : reinterpret_cast<SeriesFrame*>(allocate_frame(std::uint64_t{size} + 20));
    std::uint32_t self = cage::offset_of(f);
    f->size = size + 20;
    f->heap = cage::offset_of(f->data());
    f->end = self + 20 + size;
    cage::poison(f->data(), size);
    // Link in address order.
    SeriesFrame* before = nullptr;
    for (SeriesFrame* g = series_frame(record.series_head); g && cage::offset_of(g) < self;
         g = series_frame(g->next))
        before = g;
    f->previous = before ? cage::offset_of(before) : 0;
    f->next = before ? before->next : record.series_head;
    if (before) before->next = self;
    else record.series_head = self;
    if (SeriesFrame* n = series_frame(f->next)) n->previous = self;
    else record.series_tail = self;
    if (!record.series_current) record.series_current = self;
    return f;
}

void drop_series_frame(SeriesFrame* f) {
    std::uint32_t self = cage::offset_of(f);
    if (SeriesFrame* p = series_frame(f->previous)) p->next = f->next;
    else record.series_head = f->next;
    if (SeriesFrame* n = series_frame(f->next)) n->previous = f->previous;
    else record.series_tail = f->previous;
    if (record.series_current == self) record.series_current = record.series_tail;
    if (f->size - 20 == record.max_series_size && spare_count < max_spare_frames)
        spare_frames[spare_count++] = self;
    else
        free_frame(f);
}

SeriesFrame* find_series_frame(std::uint32_t slot) {
    for (SeriesFrame* f = series_frame(record.series_head); f; f = series_frame(f->next))
        if (has_room(f, slot)) return f;
    return nullptr;
}

// ---------------------------------------------------------------------------
// Big frames.

SeriesBuffer* alloc_big_frame(std::uint32_t slot) {
    auto* f = reinterpret_cast<BigFrame*>(allocate_frame(std::uint64_t{slot} + 12));
    f->next = 0;
    f->zero = 0;
    f->requested = slot;
    std::uint32_t self = cage::offset_of(f);
    if (BigFrame* t = big_frame(big_tail)) t->next = self;
    else record.big_head = self;
    big_tail = self;
    return f->buffer();
}

void free_big_frame(SeriesBuffer* buffer) {
    auto* f = reinterpret_cast<BigFrame*>(buffer) - 1;
    std::uint32_t self = cage::offset_of(f);
    std::uint32_t prev = 0;
    for (std::uint32_t g = record.big_head; g && g != self; g = big_frame(g)->next) prev = g;
    if (prev) big_frame(prev)->next = f->next;
    else record.big_head = f->next;
    if (big_tail == self) big_tail = prev;
    free_frame(f);
}

void sweep_big_frames() {
    std::uint32_t g = record.big_head;
    while (g) {
        BigFrame* f = big_frame(g);
        g = f->next;
        SeriesBuffer* b = f->buffer();
        if (b->flags & (series_flag::mark | series_flag::pinned)) {
            b->flags &= ~(series_flag::mark | series_flag::pinned);
        } else {
            collector::queue_node_free(b->node);
            free_big_frame(b);
        }
    }
}

// ---------------------------------------------------------------------------
// Buffers.

namespace {

// Stress collections, big slots and a current frame without room.
[[gnu::noinline]] SeriesBuffer* alloc_buffer_slow(std::uint32_t capacity, std::uint32_t unit,
                                                  std::int64_t head_offset) {
    const std::uint32_t slot = capacity + 24;
    bool stressed = false;
    if (stress_every && --stress_countdown == 0) {
        stress_countdown = stress_every;
        stressed = true;
        collector::run_if_enabled();
    }
    if (slot >= record.max_series_size) {
        if (!stressed) collector::run_if_enabled();
        return format_buffer(reinterpret_cast<std::uint8_t*>(alloc_big_frame(slot)), capacity,
                             unit, head_offset, series_flag::big);
    }
    SeriesFrame* f = frame_for(slot);
    return format_buffer(reinterpret_cast<std::uint8_t*>(carve(f, slot)), capacity, unit,
                         head_offset, 0);
}

// PERF: the common case, a small slot carved from the current frame, is a
// few instructions inlined into each allocator; everything else goes to the
// slow path. One compare rules out both stress and big slots, and one the
// count's range (alloc of 100,000 rounds: 277.33M instructions before,
// 276.80M after).
[[gnu::always_inline]] inline SeriesBuffer* alloc_buffer(std::int64_t count, std::uint32_t unit,
                                                         std::int64_t head_offset) {
    const std::uint32_t capacity = capacity_for(count, unit);
    const std::uint32_t slot = capacity + 24;
#ifndef NDEBUG
    // A marking hook or release callback that allocates would get a buffer
    // that the sweep in progress reclaims at once.
    if (collector::collecting()) {
        std::fputs("series allocated during a collection\n", stderr);
        std::abort();
    }
#endif
    // Once memory is set up there is always a current series frame.
    SeriesFrame* f = cage::at<SeriesFrame>(record.series_current);
    if (slot < fast_slot_limit && has_room(f, slot)) [[likely]]
        return format_buffer(reinterpret_cast<std::uint8_t*>(carve(f, slot)), capacity, unit,
                             head_offset, 0);
    return alloc_buffer_slow(capacity, unit, head_offset);
}

}  // namespace

SeriesBuffer* alloc_series_buffer(std::int64_t count, std::uint32_t unit,
                                  std::int64_t head_offset) {
    return alloc_buffer(count, unit, head_offset);
}

NodeId alloc_series(std::int64_t count, std::uint32_t unit, std::int64_t head_offset) {
    return tie_to_node(alloc_buffer(count, unit, head_offset));
}

// Fixed buffers get pages of their own and are never reclaimed.
static SeriesBuffer* alloc_fixed_buffer(std::int64_t count, std::uint32_t unit,
                                        std::int64_t head_offset) {
    std::uint32_t capacity = capacity_for(count, unit);
    std::uint8_t* at = cage::take_low(std::uint64_t{capacity} + 24);
    if (!at) raw::out_of_memory();
    SeriesBuffer* b = format_buffer(at, capacity, unit, head_offset, series_flag::fixed);
    fixed_buffers.push(cage::offset_of(b));
    return b;
}

NodeId alloc_fixed_series(std::int64_t count, std::uint32_t unit, std::int64_t head_offset) {
    return tie_to_node(alloc_fixed_buffer(count, unit, head_offset));
}

NodeId alloc_cells(std::int64_t count) { return tie_to_node(alloc_buffer(count, 16, 0)); }

NodeId alloc_unset_cells(std::int64_t count) {
    NodeId n = alloc_cells(count);
    SeriesBuffer* b = buffer_of(n);
    for (Cell* c = reinterpret_cast<Cell*>(b->data()); c < reinterpret_cast<Cell*>(b->end()); ++c)
        *c = Cell{cell_unset_header, 0, 0, 0};
    return n;
}

NodeId alloc_bytes(std::int64_t count) { return alloc_series(count ? count : 16, 1, 0); }

NodeId alloc_codepoints(std::int64_t count, std::uint32_t unit) {
    return alloc_series(count ? count : 16 >> (unit >> 1), unit, 0);
}

NodeId alloc_filled_bytes(std::int64_t count, std::uint8_t byte) {
    NodeId n = alloc_bytes(count);
    SeriesBuffer* b = buffer_of(n);
    fill_bytes(b->data(), b->end(), byte);
    return n;
}

void fill_bytes(std::uint8_t* first, std::uint8_t* end, std::uint8_t byte) {
    if (end > first) std::memset(first, byte, static_cast<std::size_t>(end - first));
}

void set_series_flags(NodeId node, std::uint32_t mask) { buffer_of(node)->flags |= mask; }

MoveWatch move_watch = {0, nullptr};

SeriesBuffer* reallocate_series(SeriesBuffer* old, std::int64_t new_capacity) {
    if (new_capacity == 0) new_capacity = old->size ? std::int64_t{old->size} * 2 : 16;
    if (new_capacity < 1) no_memory();
    std::int64_t used = old->used_bytes();
    if (new_capacity < used) new_capacity = used;
    std::uint32_t unit = old->unit();
    std::int64_t count = (new_capacity + unit - 1) / unit;
    // GC: `old` is pinned by the stack scan while the new buffer is carved;
    // its node may be re-pointed by node compaction, so read it afterwards.
    SeriesBuffer* b = (old->flags & series_flag::fixed) ? alloc_fixed_buffer(count, unit, 0)
                                                        : alloc_series_buffer(count, unit, 0);
    constexpr std::uint32_t own = series_flag::big | series_flag::fixed;
    b->flags = (old->flags & ~(own | series_flag::middle | series_flag::mark |
                               series_flag::pinned)) |
               (b->flags & own);
    b->node = old->node;
    b->tail = b->offset + static_cast<std::uint32_t>(used);
    if (old->node) node_slot(old->node) = cage::offset_of(b);
    if (old->node == move_watch.node && old->node) move_watch.moved();
    old->node = 0;
    old->flags &= ~series_flag::in_use;
    return b;
}

SeriesBuffer* expand_series(SeriesBuffer* old, std::int64_t new_capacity) {
    SeriesBuffer* b = reallocate_series(old, new_capacity);
    std::uint32_t length = static_cast<std::uint32_t>(old->end() - old->head());
    if (length > b->size) length = b->size;
    std::memmove(b->head(), old->head(), length);
    return b;
}

SeriesBuffer* expand_series_filled(SeriesBuffer* old, std::int64_t new_capacity,
                                   std::uint8_t byte) {
    std::uint32_t old_size = old->size;
    SeriesBuffer* b = expand_series(old, new_capacity);
    std::uint8_t* from = b->head() + old_size;
    if (from < b->end()) fill_bytes(from, b->end(), byte);
    return b;
}

NodeId copy_series(SeriesBuffer* src) {
    // GC: `src` stays pinned while the copy is carved.
    NodeId n = alloc_series(src->size, 1, 0);
    SeriesBuffer* b = buffer_of(n);
    b->flags = (src->flags & (series_flag::unit_mask | series_flag::complement)) |
               series_flag::in_use | (b->flags & series_flag::big);
    std::uint32_t length = static_cast<std::uint32_t>(src->end() - src->head());
    std::memcpy(b->data(), src->head(), length);
    b->tail = b->offset + src->used_bytes();
    return n;
}

Cell* alloc_tail_cell(SeriesBuffer* b) {
    if (std::uint64_t{b->tail} + sizeof(Cell) > cage::offset_of(b->end()))
        b = expand_series(b, 0);
    Cell* c = b->cells_tail();
    c->header = cell_unset_header;
    b->tail += sizeof(Cell);
    return c;
}

Cell* append_slot(const Cell* block) { return alloc_tail_cell(buffer_of(block->data2)); }

std::uint8_t* alloc_tail_bytes(SeriesBuffer* b, std::int64_t n) {
    if (n < 0 || n > 0x7FFFFFFF) no_memory();
    if (std::uint64_t{b->tail} + static_cast<std::uint64_t>(n) > cage::offset_of(b->end())) {
        std::int64_t want = n > b->size ? 2 * n : std::int64_t{b->size} * 2;
        if (want == 0) want = 16;
        b = expand_series(b, want);
    }
    std::uint8_t* at = b->tail_ptr();
    b->tail += static_cast<std::uint32_t>(n);
    return at;
}

}  // namespace kiv::memory
