// The support that natives, actions and routines (the runtime's compiled
// code) use for what is not a straight call: passing refinements to a
// native or action called directly, evaluating a path, the lookup of
// `switch` and `select`; and small helpers that several datatypes share
// (taking an integer argument that may arrive as a float, indentation for
// molding, filling a buffer with a repeated pattern).
//
// GC: eval_path runs eval-path actions, which may allocate and, through
// change handlers, run any code; call_with_refinements runs the callee.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/throw.h"

namespace kiv::compiled {

// ---------------------------------------------------------------------------
// Refinements.

// The entry of a native or action as the tables hold it: a native receives
// 1 and then one frame position per refinement, an action the positions
// alone; a position is the frame slot of the refinement's first argument,
// or -1 when the refinement is not used.
using Entry = Status (*)(const std::int32_t* args, std::int32_t count);

// The natives and the generic action tables (1-based slots); the evaluator
// installs them at start-up.
void install_tables(const Entry* natives, std::int32_t native_count, const Entry* actions,
                    std::int32_t action_count);

// A refinement's flag slot gets true when the value is true; otherwise the
// n slots after it become none.
void set_refinement(const Cell* value, Cell* flag_slot, std::int32_t n);

// One refinement of a direct call: its value (true: given), its 1-based
// number among the callee's refinements, the frame slot of its first
// argument and its argument count.
struct RefinementUse {
    const Cell* value;
    std::int32_t number;
    std::int32_t slot;
    std::int32_t count;
};

constexpr std::int32_t max_refinements = 32;

// Calls entry `slot` of the natives table (`native`) or of the action
// table with the positions of `refinements` refinements: a use whose value
// is true passes its slot, any other refinement -1; the argument slots of a
// refinement given a false value become none in `frame`.
// Answers the entry's status.
Status call_with_refinements(std::int32_t slot, bool native, Cell* frame, std::int32_t refinements,
                             const RefinementUse* uses, std::int32_t use_count);

// ---------------------------------------------------------------------------
// Paths and lookups.

// Evaluates the elements of `path` from its index: reads the value the path
// leads to, or with `value` sets the last element to it. The result (the
// value read or set) goes to `result`.
Cell* eval_path(Cell* path, const Cell* value, Cell* result);

// The lookup of `switch` (`by_one`: cases are every value) and `select`
// (cases are every other value): the first case of the value's datatype
// that is equal to it. `result` becomes, with `switch_`, the first block!
// after the match; without it, the value after the match (the match itself
// when it is last); none when nothing matches, no block follows, or the
// value is a block!.
Cell* switch_select(const Cell* value, Cell* cases, bool by_one, bool switch_, Cell* result);

// ---------------------------------------------------------------------------
// Shared helpers.

// An integer! as it is, a float! or percent! truncated toward zero; a value
// outside -2147483648.0 to 2147483647.0 (NaN included) fires script
// out-of-range with it, any other datatype script invalid-arg.
std::int32_t integer_arg(const Cell* value);

// Appends 4 × level blanks; answers the part budget less them.
int append_indent(Cell* string, std::int32_t level, int part);

// Fills n × count bytes from `buffer` with its first n bytes repeated;
// answers the address just past them.
std::uint8_t* repeat_pattern(std::uint8_t* buffer, std::int64_t n, std::int64_t count);

}  // namespace kiv::compiled
