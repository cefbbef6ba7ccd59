// The memory manager: nodes and series buffers, and the frames that hold them.
//
// Every value that owns storage keeps it in a series buffer reached through a
// node. A node is a 4-byte slot in a node frame that holds the cage offset of
// its buffer's header; a buffer's header holds the node back. Values store
// node ids, never buffer addresses, so the collector can move buffers and
// re-point their nodes. Nodes themselves move only when the collector
// evacuates a sparse node frame, and then only nodes that no C++ stack word
// names.
//
// Buffers are carved from series frames (1 MB, then 2 MB each) by bumping a
// heap pointer; a request of a slot of 2 MB or more gets a big frame of its
// own; a fixed series never moves and is never reclaimed. Nothing is freed by
// its user: the collector reclaims what no root reaches.
//
// GC: every series allocation below (alloc_*, expand_*, reallocate_series,
// copy_series, alloc_tail_*, append_slot) may run a full collection, which
// moves buffers that no C++ stack word points into. A buffer pointer or a
// pointer into a buffer held in a C++ local stays valid (the buffer is pinned
// for that cycle), but a buffer that is expanded moves by design: re-read
// through the node after any call that may expand the same series. Node
// allocation alone never collects.
#pragma once

#include <cstdint>

#include "runtime/cage.h"
#include "runtime/cell.h"

namespace kiv::memory {

// A buffer of unit 16 holds value cells, and the collector marks through
// them; any other storage uses another unit.
namespace series_flag {
constexpr std::uint32_t unit_mask = 0x0000001F;   // unit size in bytes: 1, 2, 4, 8 or 16
constexpr std::uint32_t in_use = 0x80000000;      // cleared on a buffer abandoned by expansion
constexpr std::uint32_t middle = 0x10000000;      // made with head room at its start
constexpr std::uint32_t mark = 0x08000000;        // the collector's mark
constexpr std::uint32_t pinned = 0x04000000;      // a C++ stack word points into it (one cycle)
constexpr std::uint32_t big = 0x01000000;         // lives alone in a big frame
constexpr std::uint32_t fixed = 0x00100000;       // never moves, never reclaimed
constexpr std::uint32_t complement = 0x00080000;  // bitset bits stored complemented
constexpr std::uint32_t owned = 0x00020000;       // has an entry in the owners table
// Code of the library's built-in sources. It stands for compiled library
// code, which leaves the interpreter's position (an error's near) alone.
constexpr std::uint32_t library_code = 0x00040000;
}  // namespace series_flag

// A series buffer: this 20-byte header, `size` bytes of capacity, then one
// trailing 4-byte word, so the next buffer of a frame starts 24 + size bytes
// after this one. `offset` and `tail` are cage offsets of the first used byte
// and one past the last; a value's index counts units from `offset`.
struct SeriesBuffer {
    std::uint32_t flags;
    NodeId node;          // back-pointer; 0 once expansion abandoned the buffer
    std::uint32_t size;   // capacity in bytes, a multiple of 16
    std::uint32_t offset;
    std::uint32_t tail;

    std::uint32_t unit() const { return flags & series_flag::unit_mask; }
    std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(this + 1); }
    std::uint8_t* end() { return data() + size; }
    std::uint8_t* head() { return cage::ptr(offset); }
    std::uint8_t* tail_ptr() { return cage::ptr(tail); }
    Cell* cells() { return cage::at<Cell>(offset); }
    Cell* cells_tail() { return cage::at<Cell>(tail); }
    std::uint32_t used_bytes() const { return tail - offset; }
    std::uint32_t length() const { return (tail - offset) / unit(); }
    // Room left between the tail and the end of the capacity, in bytes.
    std::uint32_t room() const { return cage::offset_of(this + 1) + size - tail; }
    void set_tail(const void* p) { tail = cage::offset_of(p); }
    void set_offset(const void* p) { offset = cage::offset_of(p); }
    std::uint32_t slot_length() const { return size + 24; }
};
static_assert(sizeof(SeriesBuffer) == 20);

// A node's slot: the buffer's header offset while in use.
inline std::uint32_t& node_slot(NodeId node) { return *cage::at<std::uint32_t>(node); }
inline SeriesBuffer* buffer_of(NodeId node) { return cage::at<SeriesBuffer>(node_slot(node)); }

// ---------------------------------------------------------------------------
// Sizes and limits.
constexpr std::uint32_t nodes_per_frame = 10000;
constexpr std::uint32_t default_frame_size = 1048576;
constexpr std::uint32_t max_frame_size = 2097152;  // also where big frames begin
// A frame with this little room or less is not worth filling after a
// collection, and receives no moved buffers during compaction.
constexpr std::uint32_t min_frame_room = 0xCCCC;
// The head offset that asks for the offset in the middle of the capacity.
constexpr std::int64_t middle_offset = -1;

// ---------------------------------------------------------------------------
// Frames (the collector's view; other units have no need of them).

// Header of a node frame; its nodes follow it.
struct NodeFrame {
    std::uint32_t next;       // cage offsets of the neighbours in the list
    std::uint32_t previous;
    std::uint32_t capacity;   // number of nodes
    std::uint32_t free_head;  // first free node, 0 when none
    std::uint32_t used;
    std::uint32_t cycle_stamp;
    std::uint32_t used_at_last_cycle;
    std::uint32_t stability;  // one bit per cycle: 1 when `used` did not change
    std::uint32_t evacuated;

    std::uint32_t* nodes() { return reinterpret_cast<std::uint32_t*>(this + 1); }
    NodeId first_node() const { return cage::offset_of(this + 1); }
    NodeId end_node() const { return first_node() + capacity * 4; }
};
static_assert(sizeof(NodeFrame) == 36);

// Header of a series frame; buffers follow it back to back up to `heap`.
struct SeriesFrame {
    std::uint32_t next;
    std::uint32_t previous;
    std::uint32_t size;  // data size + 20
    std::uint32_t heap;  // cage offset of the first free byte
    std::uint32_t end;   // cage offset of the first byte after the frame

    std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(this + 1); }
    SeriesBuffer* first() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
    std::uint32_t room() const { return end - heap; }
};
static_assert(sizeof(SeriesFrame) == 20);

// Header of a big frame; its single buffer follows it.
struct BigFrame {
    std::uint32_t next;
    std::uint32_t zero;
    std::uint32_t requested;  // slot length asked for
    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};
static_assert(sizeof(BigFrame) == 12);

// The manager's record. Frame fields hold cage offsets of frame headers.
struct Record {
    std::uint64_t total;  // bytes held by all frames, page-rounded
    std::uint32_t node_head, node_tail, node_current;
    std::uint32_t series_head, series_current, series_tail;
    std::uint32_t default_series_size;
    std::uint32_t next_series_size;
    std::uint32_t max_series_size;
    std::uint32_t big_head;
};
extern Record record;

inline NodeFrame* node_frame(std::uint32_t off) { return off ? cage::at<NodeFrame>(off) : nullptr; }
inline SeriesFrame* series_frame(std::uint32_t off) {
    return off ? cage::at<SeriesFrame>(off) : nullptr;
}
inline BigFrame* big_frame(std::uint32_t off) { return off ? cage::at<BigFrame>(off) : nullptr; }

// The node frame that holds `node`, or null when `node` lies in no live node
// frame's node area.
inline NodeFrame* frame_of_node(std::uint32_t node) {
    if (node < cage::high_start) return nullptr;
    const std::uint32_t index = cage::node_slot_index(node);
    if (!cage::node_slot_live(index)) return nullptr;
    auto* f = cage::at<NodeFrame>(cage::node_slot_offset(index) + 4);
    if (node < f->first_node() || node >= f->end_node()) return nullptr;
    return f;
}
// Whether `word` names an in-use node: it lies in a node frame's node area,
// on a slot boundary, and the slot holds a buffer offset. The slots of an
// evacuated frame hold forwards (high-half ids) or 0, never an offset.
inline bool is_live_node(std::uint32_t word) {
    if ((word & 3) != 0) return false;
    if (!frame_of_node(word)) return false;
    // Node areas start 40 bytes into a slot, on a 4-byte boundary.
    const std::uint32_t content = node_slot(word);
    return content != 0 && content < cage::high_start;
}

// ---------------------------------------------------------------------------
// Set-up.

// Reserves the cage, fills the record and makes the first node frame and the
// first series frame; sets up the collector (which records the calling
// thread's stack as the one to scan). Reads KIV_GC_STRESS and
// KIV_GC_VERIFY. A second call does nothing.
void init();
bool initialized();
// For tests that need a known heap layout (run them in a child process):
// gives back every frame and fixed series, forgets every root and hook, and
// starts afresh. Every node id held anywhere becomes invalid.
void reset();

// ---------------------------------------------------------------------------
// Allocation. Counts and capacities are 64-bit; a byte size above 2^31 - 1,
// a negative count or a heap that cannot grow fires internal `no-memory`
// before anything is allocated.

// A buffer of count units, with `head_offset` bytes of head room
// (`middle_offset`: half the capacity). Not yet tied to a node.
SeriesBuffer* alloc_series_buffer(std::int64_t count, std::uint32_t unit,
                                  std::int64_t head_offset);
// A buffer as above, tied to a new node.
NodeId alloc_series(std::int64_t count, std::uint32_t unit, std::int64_t head_offset);
// A buffer that never moves and is never reclaimed.
NodeId alloc_fixed_series(std::int64_t count, std::uint32_t unit, std::int64_t head_offset);
NodeId alloc_cells(std::int64_t count);
// Every cell of the whole capacity reads as unset!; the series stays empty.
NodeId alloc_unset_cells(std::int64_t count);
// Count 0 gives 16 bytes.
NodeId alloc_bytes(std::int64_t count);
// Count 0 gives 16 bytes' worth: 16, 8 or 4 code points.
NodeId alloc_codepoints(std::int64_t count, std::uint32_t unit);
// The whole capacity is set to `byte`.
NodeId alloc_filled_bytes(std::int64_t count, std::uint8_t byte);
void fill_bytes(std::uint8_t* first, std::uint8_t* end, std::uint8_t byte);
void set_series_flags(NodeId node, std::uint32_t mask);

// A new buffer of `new_capacity` bytes (0: twice the old) takes the old
// buffer's node, flags and used length; the data is not copied. The old
// buffer is abandoned. Never shrinks below the used length.
SeriesBuffer* reallocate_series(SeriesBuffer* buffer, std::int64_t new_capacity);
// One node whose buffer's moves by reallocate_series are reported: `moved`
// runs after its buffer is given a new one (node 0: none). Lets a cache
// keep the buffer's address between collections.
struct MoveWatch {
    NodeId node;
    void (*moved)();
};
extern MoveWatch move_watch;
// Reallocates and copies the content; the used bytes arrive whole at the new
// offset (head room is given up).
SeriesBuffer* expand_series(SeriesBuffer* buffer, std::int64_t new_capacity);
// Expands, then sets the added capacity to `byte`.
SeriesBuffer* expand_series_filled(SeriesBuffer* buffer, std::int64_t new_capacity,
                                   std::uint8_t byte);
// A new series with the same capacity, unit, complement flag and content.
NodeId copy_series(SeriesBuffer* buffer);

// A new unset! cell at the tail (the buffer doubles first when full).
// GC: may expand: re-read the buffer through its node afterwards.
Cell* alloc_tail_cell(SeriesBuffer* buffer);
// `alloc_tail_cell` on the series of a block value.
Cell* append_slot(const Cell* block);
// Reserves n bytes at the tail and answers their start.
// GC: may expand: re-read the buffer through its node afterwards.
std::uint8_t* alloc_tail_bytes(SeriesBuffer* buffer, std::int64_t n);

// A node from the current node frame; never collects.
NodeId alloc_node();
// Returns a node to its frame (the collector's use only).
inline void free_node(NodeFrame* frame, NodeId node) {
    node_slot(node) = frame->free_head;
    frame->free_head = node;
    --frame->used;
}

// ---------------------------------------------------------------------------
// Frames, for the collector and for tests.

// A new series frame of the next frame size, linked in address order.
SeriesFrame* new_series_frame();
void drop_series_frame(SeriesFrame* frame);
SeriesFrame* find_series_frame(std::uint32_t slot_length);
NodeFrame* new_node_frame(std::uint32_t count);
void drop_node_frame(NodeFrame* frame);
// Buffer of a big frame of its own; `slot_length` covers header and trailer.
SeriesBuffer* alloc_big_frame(std::uint32_t slot_length);
void free_big_frame(SeriesBuffer* buffer);
// Frees the big frames whose buffers are unmarked and unpinned (queueing
// their nodes); clears the marks of the others.
void sweep_big_frames();
// Drops empty and evacuated node frames, picks the current node frame and
// shifts the stability bits.
void release_empty_node_frames();
// Visits each fixed buffer.
template <class F>
void for_each_fixed(F&& visit);
std::uint32_t fixed_count();
SeriesBuffer* fixed_at(std::uint32_t i);

// Notes the bytes a cycle left in the series frames; the allocator lets the
// heap grow by about as much before it collects again (the collector's use).
void cycle_done();

// Whether full collections run at series allocations whether needed or not:
// KIV_GC_STRESS=1 collects at every one, KIV_GC_STRESS=n at every n-th.
bool stress();
void set_stress(bool on);
// The stress interval itself (0: off), to set aside and put back.
std::uint32_t stress_interval();
void set_stress_interval(std::uint32_t n);

struct Stats {
    std::uint64_t total;  // bytes held by frames
    std::uint32_t node_frames;
    std::uint32_t series_frames;
    std::uint32_t big_frames;
    std::uint32_t nodes_used;
    std::uint64_t series_bytes_used;  // carved bytes of all series frames
};
Stats stats();

template <class F>
void for_each_fixed(F&& visit) {
    for (std::uint32_t i = 0, n = fixed_count(); i < n; ++i) visit(fixed_at(i));
}

}  // namespace kiv::memory
