// The generic action table: one entry per action, which an action! value
// names by its slot. An entry reads the action's arguments from the current
// frame (the natives' calling convention, natives.h: `args` holds one
// position per refinement, from args[0]), applies the checks every datatype
// shares (/part and /dup of insertion, /types of copy, the /part limit of
// form and mold, the index of pick and poke, comparison results), and calls
// the function of the first argument's datatype through the datatype
// registry. The runtime's own code calls the typed dispatch directly.
//
// GC: entries run datatype functions, which may allocate and, through
// owners' change handlers and comparators, run any code.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/evaluator/natives.h"

namespace kiv::actions {

// The entries, in slot order: `actions::entries::append` for `append`. The
// set-path slot has none.
namespace entries {
#define KIV_ACTION_ENTRY_DECLARE(slot, ident, name, arg, ret, params) \
    Status ident(const std::int32_t* args, std::int32_t count);
KIV_ACTION_LIST(KIV_ACTION_ENTRY_DECLARE)
#undef KIV_ACTION_ENTRY_DECLARE
}  // namespace entries

// Opens the generic table. Start-up calls it after the datatypes register.
void init();

namespace detail {
extern const natives::Entry* table;  // a table of nulls until init
}
// The entry of a 1-based slot, or null (set-path, before init, or outside
// the table). One unsigned compare covers both ends of the range.
inline natives::Entry entry(std::int32_t slot) {
    const auto index = static_cast<std::uint32_t>(slot) - 1u;
    if (index >= static_cast<std::uint32_t>(action_count)) [[unlikely]]
        return nullptr;
    return detail::table[index];
}
// The whole table, slot 1 first (action_count entries).
const natives::Entry* table_start();

// The typed dispatch: the function of the first argument's datatype for
// action A, called with the arguments; an unsupported datatype fires the
// "does not allow" error.
template <Action A, class... Rest>
inline auto dispatch(Cell* first, Rest... rest) {
    return registry::find<A>(first)(first, rest...);
}

// make and to: by the datatype a datatype! prototype names, else by the
// prototype's own datatype. The result goes to `proto`'s cell or is
// answered.
Cell* make(Cell* proto, Cell* spec);
Cell* to(Cell* proto, Cell* spec);

// The comparison of two values under an op code, as `equal?` and the
// ordering natives see it: -2 (not comparable) under an ordering op fires
// script invalid-compare.
bool compare(Cell* value1, Cell* value2, CompareOp op);
// The raw comparison (-1, 0, 1, or not_comparable) that sorting and the
// containers use: logic! by payload, native!/action!/op! by slot,
// function!/routine! by identity, anything else by its datatype.
int compare_values(Cell* value1, Cell* value2, CompareOp op);
// Compares the frame's first two arguments and makes the first cell the
// logic result.
void compare_args(CompareOp op);

// The frame's second argument as an index: an integer! as it is, a char!
// as its code point, true 1 and false 2, anything else 0.
std::int32_t get_index_argument();

// Forms or molds a value onto the tail of a string (`limit` < 0: no
// limit, else the text is cut to that many characters).
void form_into(Cell* value, Cell* out, std::int32_t limit = -1);
void mold_into(Cell* value, Cell* out, bool only, bool all, bool flat, std::int32_t limit = -1);

}  // namespace kiv::actions
