// Series ownership: an object with an on-deep-change* handler owns the series
// in its fields and the series nested in them. The owners table maps a
// series' node (an object's context node) to the owned value as bound, the
// owner object and the owner's field word. Every in-place change of a series
// asks `check` before (action word) and after (past-tense word) it changes
// anything, and the owner's handler hears of it.
//
// Entries are held weakly: an entry whose series or owner died is dropped by
// the collector, so ownership never keeps a value alive.
//
// GC: bind and check may allocate; check runs the owner's handler, which may
// run any code and change the series: callers re-read buffer, index and
// length through the node afterwards.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kiv::ownership {

// The owned mark of a series buffer.
constexpr std::uint32_t owned_flag = memory::series_flag::owned;

// Makes the owners table. Start-up calls it once.
void init();
NodeId table();

// Records the owner of the value's series, deeply; a series already owned
// keeps its first owner.
void bind(const Cell* value, const Cell* owner, const Cell* word);
// bind, then marks the owner's context as owning its series.
void bind_object(const Cell* value, const Cell* owner, const Cell* word);
// Removes the ownership records of the value's series, deeply.
void unbind(const Cell* value);
// The owner cell of the entry for a node, or nullptr.
Cell* get_owner(NodeId node);
// Tells the owner of the value's series of a change; whether its handler ran.
bool check(Cell* value, const Cell* action, const Cell* new_value, std::int32_t index,
           std::int32_t part);

// The deep change handler of objects, called with the owner, the field word,
// the series, the action word, the new value (or nullptr), the index and the
// part count. object! installs it.
using DeepChangeHandler = void (*)(Cell* owner, Cell* word, Cell* series, Cell* action,
                                   Cell* new_value, std::int32_t index, std::int32_t part);
void set_deep_change_handler(DeepChangeHandler handler);

}  // namespace kiv::ownership
