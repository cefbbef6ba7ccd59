// Argument checks that natives and compiled library functions run on their
// own arguments. A failed check fires script expect-arg naming the function
// being called (the nearest call frame not named <body> or <anon>), the
// value's datatype and the argument's word from that function's spec.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::typecheck {

// The value, when its datatype is in the typeset; `n` is the argument's
// position among the spec's words, for the message.
const Cell* check_type(const Cell* typeset, std::int32_t n, const Cell* value);
// Checks the cell at the frame's base + `n` (nothing when n is negative: the
// argument is absent), naming the argument at `message_n`.
void check_arg(std::int32_t n, const Cell* typeset, std::int32_t message_n);
// Checks the value only when the refinement was given (its payload word 1
// is not zero).
const Cell* check_optional_arg(const Cell* refinement, const Cell* typeset, std::int32_t n,
                               const Cell* value);
// Refuses unset!, whatever the typeset would allow.
const Cell* check_set(std::int32_t n, const Cell* value);

}  // namespace kiv::typecheck
