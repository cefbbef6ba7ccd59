// The collector: a stop-the-world mark, sweep and compact collector for the
// nodes and series buffers of the memory manager.
//
// Roots: every unit that keeps values outside the heap registers them here at
// its init, either as root slots (a static NodeId, marked deeply and updated
// when node compaction moves the node) or as a marking hook that calls the
// mark functions below on its own state. The C++ stack is scanned
// conservatively: a 32-bit word that names an in-use node marks it and keeps
// its node frame from evacuation this cycle; a 64-bit word that points into a
// series buffer (header to end of capacity) marks and pins that buffer, so it
// neither dies nor moves this cycle (its cells are marked too, even when
// expansion abandoned it); a 64-bit word that points into a node frame keeps
// that frame from evacuation.
//
// One cycle: scan the stack, evacuate sparse stable node frames, mark (roots,
// hooks, stack finds), run the after-mark hooks (weak tables), sweep the
// external handles, compact the series frames, sweep the big frames, return
// dead nodes to their frames, release empty node frames, clear the marks of
// fixed series.
//
// GC: node ids held in C++ statics or heap memory are invisible to the scan
// and are not updated by node compaction: register them as root slots.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"

namespace kiv::collector {

using Hook = void (*)();
// Marks the node in a slot with whatever the slot's owner knows about it.
using SlotMarker = void (*)(NodeId* slot);

// Sets counters and records the calling thread's stack base (its highest
// address) as the end of the stack scan. Called by `memory::init`.
void init();
// The scan runs from the collecting frame up to this address on the calling
// thread's stack (by default the top of the stack of the thread that ran
// `init`). A cycle that runs on another thread scans that thread's whole
// stack instead.
void set_stack_base(void* base);
void* stack_base();

// The switch that lets allocation collect (off until start-up switches it on).
void set_active(bool on);
bool active();
// A full cycle when the switch is on.
void run_if_enabled();
// One full cycle, whatever the switch holds. Does nothing when called during
// a cycle.
void do_cycle();
bool collecting();

// Node compaction is on by default; a hash table that keys on node ids turns
// it off while it grows.
void set_node_compaction(bool on);
bool node_compaction();

std::uint32_t cycle_count();
// Counts the cycles that moved nodes; tables that hash node ids rebuild when
// it changed since they were built.
std::uint32_t node_compaction_count();

// ---------------------------------------------------------------------------
// Roots.

constexpr int max_hooks = 100;
// Hooks run during marking, in registration order.
void register_hook(Hook hook);
// A static slot holding a node (or 0): marked deeply each cycle, re-pointed
// when node compaction moves the node.
void register_root(NodeId* slot);
// A static cell: its references are marked each cycle.
void register_root_cell(Cell* cell);
// Hooks that run after marking and before anything is freed: a weak table
// drops its entries whose nodes are unmarked here. Node ids it keeps must go
// through `relocated` first (node compaction may have moved them).
// Hooks and markers run inside the cycle: they must not allocate series.
void register_after_mark_hook(Hook hook);

// The marking of a hash table's node (its buckets and keys) belongs to the
// hash table unit; until it registers its marker, a table's node is marked
// like any other node.
void set_hashtable_marker(SlotMarker marker);
// The imaging unit's marking of an image's extra state.
void set_image_marker(void (*marker)(NodeId image));

// ---------------------------------------------------------------------------
// Marking, for hooks and markers. A slot is the address of a word that holds
// a node id; marking through a slot first re-points it when node compaction
// moved the node. All return true when the node was newly marked.

bool mark_node(NodeId* slot);
// Marks the node and, when newly marked and its unit is 16, its cells
// (deeply, through a work list).
bool mark_block(NodeId* slot);
bool mark_series_value(Cell* value);
void mark_context(NodeId* slot);
// Marks each cell of [first, end) by its datatype.
void mark_values(Cell* first, Cell* end);
// Marks the references of one cell by its datatype.
void mark_cell(Cell* cell);
void clear_mark(NodeId node);
// Whether the node's buffer carries the mark (for after-mark hooks).
bool is_marked(NodeId node);

// The node's new id when node compaction moved it this cycle, else the node.
NodeId relocated(NodeId node);
// Re-points every word of [first, end) that names a moved node.
void relocate_range(std::uint32_t* first, std::uint32_t* end);

// Nodes of big frames that died wait here until the end of the cycle.
void queue_node_free(NodeId node);
void flush_node_frees();

// ---------------------------------------------------------------------------
// Checks for tests.

// Walks the whole heap: every in-use buffer's node points back at it, every
// in-use node's buffer names the node, frame counters agree with their
// nodes, no mark or pin is left, and every cell of every in-use cell buffer
// refers only to in-use nodes. Answers true, or false with a description.
bool verify_heap(std::string* problem);
// When on (or KIV_GC_VERIFY=1), every cycle ends with `verify_heap` and
// aborts on a problem.
void set_verify(bool on);
// Drops every registered root, hook and marker (the heap reset's use).
void forget_roots();

}  // namespace kiv::collector
