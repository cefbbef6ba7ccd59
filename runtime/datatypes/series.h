// series!: the abstract parent of block!, string! and image!. No value ever
// has this datatype; its action row holds the actions that work alike on
// every series whatever its unit (16 bytes for cells, 1, 2 or 4 for code
// points, 1 for bytes, the element size for vectors), and its children take
// them through their inherited slots.
//
// A series value: data1 the head index (signed, in units from the buffer's
// first used unit), data2 the node, data3 a word of its own (hash!: the node
// of its index; vector!: the element datatype; strings: a cached encoded
// copy). Several values may share one buffer at different heads, so a head
// may lie past a tail that another value cut: every action clamps it as it
// says, and none of them fails because of it.
//
// Modifying actions report to the series' owner before and after the change
// (`check_owner` / `report_owner`) and keep a hash! index in step
// (`hash_changed`).
//
// GC: actions that allocate (copy, take, move, poke on a string) may move
// buffers; they re-read positions through the node after each allocation.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"

namespace kiv::series {

using memory::SeriesBuffer;

// ---------------------------------------------------------------------------
// Datatype sets.

constexpr bool is_block_like(Type t) {
    switch (t) {
        case Type::block: case Type::paren: case Type::hash: case Type::path:
        case Type::lit_path: case Type::set_path: case Type::get_path:
            return true;
        default:
            return false;
    }
}

constexpr bool is_any_string(Type t) {
    switch (t) {
        case Type::string: case Type::file: case Type::url: case Type::tag:
        case Type::email: case Type::ref:
            return true;
        default:
            return false;
    }
}

// The series set that deep copies descend into.
constexpr bool is_series(Type t) {
    return is_block_like(t) || is_any_string(t) || t == Type::binary || t == Type::vector ||
           t == Type::image;
}

constexpr bool is_any_path(Type t) {
    return t == Type::path || t == Type::lit_path || t == Type::set_path || t == Type::get_path;
}

// ---------------------------------------------------------------------------
// Access.

inline SeriesBuffer* buffer(const Cell* value) { return memory::buffer_of(value->data2); }
inline std::int32_t head(const Cell* value) { return static_cast<std::int32_t>(value->data1); }
inline void set_head(Cell* value, std::int64_t index) {
    value->data1 = static_cast<std::uint32_t>(static_cast<std::int32_t>(index));
}
constexpr std::uint32_t shift_of(std::uint32_t unit) {
    return unit == 16 ? 4 : unit == 8 ? 3 : unit == 4 ? 2 : unit == 2 ? 1 : 0;
}

// Whether the head (scaled to bytes) is at or past the tail.
bool ks_tail_q(const Cell* value);
// Units in the whole buffer, ignoring the head.
std::int32_t ks_abs_length(const Cell* value);
// Adds n to the head when the new position is at or before the tail, and
// answers whether the requested position is at or past the tail.
bool move_index(Cell* value, std::int32_t n);
// Units from the head (from the buffer start with `from_head`) to the tail;
// a head past the tail is set to the tail and 0 answered.
std::int32_t ks_length(Cell* value, bool from_head = false);
// The new head for `at` (at set) or `skip` from an integer! argument,
// clamped to 0 .. the units in the buffer; any other argument raises script
// invalid-arg.
std::int32_t get_at_index(const Cell* value, const Cell* arg, bool at);

// ---------------------------------------------------------------------------
// Scalars that the series actions read and make. An integer! and a char!
// hold their value in payload word 2; a pair! holds x and y in words 2 and 3.

inline std::int32_t int_of(const Cell* value) { return static_cast<std::int32_t>(value->data2); }
inline Cell* make_integer(Cell* out, std::int32_t n) {
    *out = Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(n), 0};
    return out;
}
inline Cell* make_char(Cell* out, std::uint32_t cp) {
    *out = Cell{static_cast<std::uint32_t>(Type::char_), 0, cp, 0};
    return out;
}

// Raises script invalid-refine-arg with the refinement and the value.
[[noreturn, gnu::cold]] void fire_refine_arg(words::Ref refinement, const Cell* value);
// Raises script out-of-range with the value.
[[noreturn, gnu::cold]] void fire_out_of_range(const Cell* value);

// The length that a /part argument gives from the value's head: an integer!
// as it is, or a series of the same datatype and node (its head minus the
// value's head). Anything else raises invalid-refine-arg naming `part`.
std::int32_t part_length(const Cell* value, const Cell* part);

// ---------------------------------------------------------------------------
// Change reports.

// The in-place changes reported to an owner: the action word before the
// change and its past tense after it.
enum class Change : std::uint8_t {
    append, insert, change, clear, move, poke, put, remove, random, reverse, sort, swap, take,
    trim,
};

// Tells the owner of an owned series of a change about to happen (with the
// new value, when there is one); answers whether the owner's handler ran,
// and only then is the report after the change made.
// GC: the handler runs user code: re-read buffers and positions through
// the node afterwards, clamping as the action clamps.
bool report_before(Cell* series, Change change, const Cell* value, std::int32_t index,
                   std::int32_t count);
inline bool check_owner(Cell* series, Change change, const Cell* value, std::int32_t index,
                        std::int32_t count) {
    if (!(buffer(series)->flags & memory::series_flag::owned)) return false;
    return report_before(series, change, value, index, count);
}
// The report after the change, with the past-tense word.
void report_owner(bool owned, Cell* series, Change change, std::int32_t index,
                  std::int32_t count);

// A hash! keeps an index over its cells: after the cells [position,
// position + removed) of a hash! were replaced by `added` new cells (either
// count may be 0, the cells after them moved accordingly), this brings the
// index in step. Other values are left alone.
void sync_index(Cell* series, std::int32_t position, std::int32_t removed, std::int32_t added);
inline void hash_changed(Cell* series, std::int32_t position, std::int32_t removed,
                         std::int32_t added) {
    if (series->is(Type::hash)) sync_index(series, position, removed, added);
}

// The element access of vector!, installed by vector!: `push_value` makes
// `out` a value of the element type from the element at `p`; `set_value`
// stores a value at `p` (raising for a value it cannot hold).
struct VectorHooks {
    void (*push_value)(const std::uint8_t* p, std::uint32_t unit, Type element,
                       Cell* out) = nullptr;
    void (*set_value)(std::uint8_t* p, const Cell* value, std::uint32_t unit) = nullptr;
};
extern VectorHooks vector_hooks;

// Moving text between strings of different units, installed by string!:
// moves `count` code points from the origin's head to the target's head.
using MoveText = void (*)(Cell* origin, Cell* target, std::int32_t count);
extern MoveText move_text_hook;

// ---------------------------------------------------------------------------
// The shared actions that children call from their own.

// Makes `result` a shallow copy of the requested range (see copy's rules):
// the source's datatype and new-line marker, a new node, head 0, and the
// fourth word for vector! only.
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
// Removes units and leaves them in a new series in `series`, or none when
// nothing remains from the head.
Cell* take(Cell* series, Cell* part, bool deep, bool last);
// The same, except that without /part the one unit taken is left as a value
// of its own (the cell itself, a char!, an integer! or a vector element) and
// no series is made for it: the take of block! and string!.
Cell* take_value(Cell* series, Cell* part, bool last);
// The cell or new value at a 1-based index (none outside); see pick.
Cell* pick(Cell* series, int index, Cell* index_arg);
Cell* poke(Cell* series, int index, Cell* value, Cell* index_arg);

// Registers series!. A datatype registration of start-up, before block!.
void init();

}  // namespace kiv::series
