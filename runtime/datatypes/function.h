// function!: the user-defined function. The cell: header (type id and the
// attribute bits below), data1 the function context (kind function, values
// on the argument stack while it runs), data2 the spec block's node (its
// values from index 0), data3 the node of the five-cell more block:
//
//   0  the body: a block! (a deep copy of the body given) or none!
//   1  unset!
//   2  the compiled entry as an integer!, unset! for an interpreted function
//   3  unset!
//   4  unset! (routine!: the result's datatype id)
//
// The context's owner cell holds a copy of the function! cell, so a context
// leads back to its function. The library's compiled functions are the same
// values with an entry in more cell 2.
//
// A spec holds, in order: an optional attribute block of words; arguments
// (word!, lit-word!, get-word!), each with an optional type block and then
// an optional doc string; refinements, each followed only by argument words,
// refinements, `return:` or doc strings; at most one `return:` with a type
// block, after the arguments and refinements; /local with plain words. Doc
// strings may stand anywhere among the entries.
//
// GC: making functions and gathering locals allocate; reflection allocates.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kiv::function {

namespace flag {
constexpr std::uint32_t trace = 0x400;
constexpr std::uint32_t no_trace = 0x200;
}  // namespace flag

// The cells of the more block.
namespace more {
constexpr std::int32_t size = 5;
constexpr std::int32_t body = 0;
constexpr std::int32_t entry = 2;
constexpr std::int32_t source = 3;  // op!: the function an op was made from
constexpr std::int32_t result_type = 4;  // routine!
}  // namespace more

// The more block's cell i of a function!, routine! or native-family value.
Cell* more_cell(const Cell* value, std::int32_t i);

// Checks a spec block from its index; answers the attribute bits. Fires
// script bad-func-def (with the spec) on a layout fault, invalid-type-spec
// on a type block entry that names no datatype, typeset or word, and
// dup-vars on a repeated argument, refinement or local.
std::uint32_t validate_spec(Cell* spec);

// Makes `out` a new function!. A spec not at its head is replaced by a copy
// from its index. Without a context (0) one is made from the spec and the
// body's deep copy is bound to it; `entry` (0: none) is the compiled entry,
// `flags` or'ed into the header. Answers the function context.
NodeId make_at(Cell* out, Cell* spec, Cell* body, NodeId context, std::int32_t entry,
               std::uint32_t flags);

// make_at on a new cell pushed on the argument stack.
NodeId push(Cell* spec, Cell* body, NodeId context, std::int32_t entry, std::uint32_t flags);

// Gathers the words that the body sets (set-words, and the words of
// foreach, remove-each and repeat) and that the spec does not name, and
// appends them to the spec after /local (added when absent). /extern and the
// words after it leave the spec and are never gathered. Rewrites `spec` in
// place; `locals` becomes the block of the gathered words. Fires script
// bad-func-extern on a value /extern cannot stand with.
Cell* collect_words(Cell* spec, Cell* body, Cell* locals);

// From `start` to the tail of the spec: 1 for the first /local plus 1 for
// each word! after it; 0 without /local, or -1 when `require` is set.
std::int32_t count_locals(NodeId spec, std::int32_t start, bool require);

// The argument slots of a call that leaves a refinement out: false for the
// refinement, then none for each of its n - 1 arguments, written from `out`.
void refinement_defaults(Cell* out, std::int32_t n);
// The same, pushed on the argument stack.
void push_refinement_defaults(std::int32_t n);

// The `func` native: both blocks from their indexes (clamped), the spec
// validated; `out` becomes the new function.
Cell* func(Cell* out, Cell* spec, Cell* body);
// The `function` native: gathers the locals into a copy of the spec first.
Cell* function(Cell* out, Cell* spec, Cell* body);

// Actions that routine! and op! share.
Cell* reflect(Cell* value, Cell* field);
// Compares two callables of one type by their more blocks.
int compare_identity(const Cell* value1, const Cell* value2, CompareOp op);

// Registers function! (parent context!). A datatype registration of start-up.
void init();

}  // namespace kiv::function
