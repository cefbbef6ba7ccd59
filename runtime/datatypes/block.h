// block!: the list of values and the carrier of code. Its cell (and that of
// every block-like datatype: paren!, hash!, the path family) is the series
// cell of series.h over a buffer of 16-byte cells: data1 the head index in
// cells, data2 the node, data3 0 (hash!: the node of its index). A head past
// the tail is legal in a stored value: each routine clamps it as it says.
//
// The new-line marker (cell_flag::new_line) on a cell asks for a line break
// before that value when its block is molded; it travels with the cell.
//
// The routines below are the runtime's ways into blocks; the actions follow
// in block.cpp (and paren!, the paths and hash! run them through inherited
// slots).
//
// GC: every routine that appends, inserts or makes may allocate: a Cell*
// into a block stays readable (the buffer is pinned) but is stale once that
// block itself grew; re-read through the value after such a call. A value
// to insert is copied before anything is allocated, so it may point into
// the same block.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/memory.h"

namespace kiv::block {

using memory::SeriesBuffer;

inline SeriesBuffer* buffer(const Cell* value) { return memory::buffer_of(value->data2); }

// ---------------------------------------------------------------------------
// Making. Each maker writes unset! into the cell first and the final type
// last, so a collection inside the allocation never sees a half-made block.

// An empty block! over a new buffer of n cells (n < 1: one cell).
inline Cell* make_at(Cell* cell, std::int64_t n);
// As make_at; `fixed`: a buffer that never moves (outside the series
// frames); else a movable buffer whose whole capacity reads as unset!.
Cell* make_at_fixed(Cell* cell, std::int64_t n, bool fixed);
// A new cell appended to `parent` (null: the unit's scratch cell) made a
// fixed block of n cells. The runtime's init makes its root blocks with it.
Cell* make_fixed_in(Cell* parent, std::int64_t n);
// The same with an ordinary empty block.
Cell* make_in(Cell* parent, std::int64_t n);
// A block! value over an existing node, at head 0.
inline Cell* init_at(Cell* cell, NodeId node, Type type = Type::block) {
    *cell = Cell{static_cast<std::uint32_t>(type), 0, node, 0};
    return cell;
}
// PERF: inline, for `make block! n` in a loop (alloc of 100,000 rounds:
// 276.80M instructions out of line, 276.09M inline).
inline Cell* make_at(Cell* cell, std::int64_t n) {
    cell->header = static_cast<std::uint32_t>(Type::unset);
    return init_at(cell, memory::alloc_cells(n < 1 ? 1 : n));
}

// ---------------------------------------------------------------------------
// Access.

// Cells from the head to the tail; negative when the head is past the tail.
std::int32_t ks_length(const Cell* value);
// Advances the head by one when a cell remains after it; answers whether
// the head is then at the tail.
bool move_next(Cell* value);
// The cell at the head; a head past the tail is first set to the tail.
Cell* ks_head(Cell* value);
// Just past the last used cell.
Cell* ks_tail(const Cell* value);
bool ks_tail_q(const Cell* value);
// The cell at a 0-based position from the buffer's first used cell; no
// bounds check.
Cell* ks_abs_at(const Cell* value, std::int32_t position);
// Cuts the buffer at the head.
void ks_clear(Cell* value);
// Sets the tail n cells after the first used cell.
void ks_truncate(Cell* value, std::int32_t n);

// ---------------------------------------------------------------------------
// Adding cells. None of these report to an owner.

// Appends a copy of the cell at the tail; answers the new cell.
Cell* ks_append(Cell* block, const Cell* value);
// Appends copies of the source's cells from its head to its tail.
Cell* ks_append_block(Cell* target, const Cell* source);
// Inserts a copy at the head (or before the first cell with `at_head`),
// moving the rest up; `advance` moves the head past it. A hash! index is
// kept in step. Answers the inserted cell.
Cell* insert_value(Cell* block, const Cell* value, bool advance, bool at_head);
// Inserts copies of the source's cells at the target's head, advancing it.
void insert_block(Cell* target, const Cell* source);
// Appends a copy at the tail and adds it to a hash! index (what compiled
// code and natives use to build blocks).
Cell* append_value(Cell* block, const Cell* value);
// Appends a copy of one cell at the tail of a block (not a hash!) that no
// owner watches and that has room for it, and sets the head back to 0, as
// `append` of a single value leaves it. Answers false, having changed
// nothing, when the buffer is full or watched. Nothing is allocated.
inline bool append_cell_in_room(Cell* block, const Cell* value) {
    SeriesBuffer* b = buffer(block);
    if ((b->flags & memory::series_flag::owned) || b->room() < sizeof(Cell)) return false;
    *b->cells_tail() = *value;
    b->tail += sizeof(Cell);
    block->data1 = 0;
    return true;
}

// ---------------------------------------------------------------------------
// Searching.

// The cell after the first cell from the head equal to `key` (find
// equality), or the none value when absent or when the match is last.
const Cell* select_value(Cell* block, const Cell* key);
// The cell after the first word-family cell (word!, set-word!, lit-word!,
// get-word!) naming the word's symbol (`exact`: the same spelling; else the
// same canonical symbol), or the none value.
const Cell* select_word(Cell* block, const Cell* word, bool exact);
// Removes the first cell equal to `value` (find equality), searching from
// the first cell (`from_head`) or from the head. Answers whether a cell was
// removed.
bool remove_value(Cell* block, const Cell* value, bool from_head);

// ---------------------------------------------------------------------------
// Copying.

// Makes `out` a new block of the value's datatype holding copies of its
// cells from the head to the tail; `deep` clones nested block! values (and
// with `deep_any` paren! and path values) the same way, each clone keeping
// its source cell's header. The result's header is the datatype alone.
// A block that contains itself raises internal no-cycle when deep. A clone
// of the library's code keeps that mark.
Cell* clone(const Cell* value, bool deep, bool deep_any, Cell* out);
// Replaces each cell of [from, to) of the block, in steps of `step`, whose
// datatype is in `types` (a typeset! or a datatype!) and that is a series,
// bitset!, object!, error! or map!, by its copy (deep as asked).
void copy_types(Cell* block, std::int32_t from, std::int32_t to, std::int32_t step, bool deep,
                const Cell* types);

// ---------------------------------------------------------------------------
// Comparing, molding and forming, shared with paren! and the paths.

// The raw comparison of two values under an op code: -1, 0 or 1, or
// not_comparable.
int compare_value(const Cell* a, const Cell* b, CompareOp op);
// Whether a comparison under an equality op holds.
bool compare_holds(const Cell* a, const Cell* b, CompareOp op);
// The element-wise comparison of two block-like values.
int compare_each(const Cell* a, const Cell* b, CompareOp op);
// Molds the cells from the head with their line layout; answers the
// remaining /part budget.
int mold_each(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part,
              int indent);

// Whether a typeset! holds the datatype id.
inline bool typeset_has(const Cell* typeset, std::uint32_t id) {
    if (id >= 96) return false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&typeset->data1);
    return (bytes[id >> 3] & (0x80u >> (id & 7))) != 0;
}

// ---------------------------------------------------------------------------
// Hooks installed by units that do not exist when blocks are made.

// Loads source text (from the string's index) into the block `out`; the
// lexer installs it. `to block!` of a string uses it.
using LoadText = void (*)(const Cell* string, Cell* out);
extern LoadText load_text_hook;

// Calls a comparison function of `sort/compare` with two arguments and
// leaves its result in `result`; the interpreter installs it.
using CallComparator = void (*)(Cell* function, Cell* arg1, Cell* arg2, Cell* result);
extern CallComparator call_comparator_hook;

// ---------------------------------------------------------------------------
// Actions that children and natives call directly.

Cell* make(Cell* proto, Cell* spec, Type type);
Cell* to(Cell* proto, Cell* spec, Type type);
int form(Cell* value, Cell* buffer, Cell* part_arg, int part);
int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part,
         int indent);
int compare(Cell* value1, Cell* value2, CompareOp op);
Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable);

// The set operations over blocks and hash!es. ORDER: the op codes.
enum class SetOp : std::uint8_t {
    unique = 8,
    union_ = 9,
    intersect = 10,
    exclude = 11,
    difference = 12
};
// Makes `result` the set operation of the two values (only the first for
// unique): records of `skip` cells (null: 1) of which the first is tested,
// case-sensitive with `case_`. The result is a hash! when an argument is.
Cell* set_operation(Cell* first, Cell* second, bool case_, Cell* skip, SetOp op, Cell* result);

// Registers block!. A datatype registration of start-up, after series!.
void init();

}  // namespace kiv::block
