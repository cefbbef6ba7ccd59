// The parse engine: matches an input series (any-block!, any-string! or
// binary!) against a block of grammar rules and answers logic!, or the block
// that `collect` gathered.
//
// The engine never calls itself natively for sub-rules: nested rule blocks
// and pending keyword rules live as three-cell frames on the rule stack, and
// the inputs entered by `into` on the input stack, both global blocks made
// once at start-up. Language code runs from inside a run only at parens, in
// the trace callback and in the values that `insert` and `change` evaluate;
// that code may call `parse` again, so a run saves the stacks' positions
// when it finds them in use and leaves them as it found them on every way
// out (normal end, error, throw, a stop asked by the callback).
//
// GC: a run may allocate, collect and run any code; the input and the rules
// may be changed by it. Callers re-read whatever they hold afterwards.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/evaluator/eval-api.h"

namespace kiv::parse {

// The most cells either stack may hold; a push beyond raises parse-stack.
constexpr std::int32_t max_stack_cells = 10000;

// Makes the input stack (8 cells) and the rule stack (100 cells) and keeps
// them as collector roots. A step of the runtime init.
void init();

// Runs the engine: `op` is CompareOp::equal or CompareOp::strict_equal
// (/case); `limit` an absolute input position where matching stops, 0 for
// none (a limit at or before the input's position is the caller's to
// answer); `callback` a function! for /trace, or null. `result` becomes
// logic! of the match, or the collected block. Answers thrown when a break,
// continue, return, exit or throw left a paren, an action or the callback.
Status run(const Cell* input, const Cell* rules, CompareOp op, std::int32_t limit,
                 const Cell* callback, Cell* result);

// The whole `parse` native after its argument checks: computes the limit
// from /part (null without it: an integer! length from the input's position,
// or a position in the input's own series; anything else raises script
// invalid-refine-arg), answers at once whether the input is empty when the
// limit does not lie after the input's position, else runs the engine.
Status native(const Cell* input, const Cell* rules, bool case_, const Cell* part,
                    const Cell* callback, Cell* result);

}  // namespace kiv::parse
