// The interpreter: evaluates code held as values. A block is walked
// expression by expression; each expression leaves one value on the
// argument stack. Words are read from their contexts, set-words and
// set-paths assign, paths select and call, parens nest, and natives,
// actions, functions and routines are called with their arguments fetched
// from the code as their specs say. Infix operators apply strictly left to
// right, with no precedence.
//
// Positions in code are cell pointers into the code block's buffer. They
// stay readable when the code changes under them: a pointer on the C++
// stack pins its buffer, and a buffer abandoned by expansion keeps its
// bytes while pinned.
//
// Flow: every entry answers a Status. Status::thrown means a break,
// continue, return, exit or throw code is pending (state.thrown_code) and
// the stacks stand as its thrower set them; callers return at once. Errors
// travel as C++ exceptions (fire).
//
// The argument cache: the first call of a function, native, action or
// routine builds from its spec a block of entries (one typeset! per
// argument, one refinement! per refinement, an integer! for the locals) and
// keeps it in the second cell of the value's "more" block; every later call
// walks it.
//
// GC: evaluation runs any code, so everything here may allocate and
// collect.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/state.h"
#include "runtime/throw.h"

namespace kiv::interpreter {

// Makes the trace callback's root slot and clears `near`. Start-up calls it
// once, after the stacks.
void init();

// How eval_expression treats the code.
namespace flag {
constexpr unsigned no_infix = 1;           // a following operator is not applied
constexpr unsigned literal_functions = 2;  // a function value met in the code is a value
constexpr unsigned sub = 4;                // an argument or sub-expression: no `expr` event
}  // namespace flag

// Evaluates the block's expressions, from its index, in a new evaluation
// frame named <body>. With `chain` the last value goes to the current
// frame's result slot; without, it is left as one pushed cell.
Status eval_block(const Cell* block, bool chain);

// Evaluates one expression from `pos` (inside `code`, before `end`) and
// pushes its value; `pos` moves past it.
Status eval_expression(Cell*& pos, Cell* end, const Cell* code, unsigned flags);

// Evaluates the expression at the block's index in its own frame named
// <body>, the value going to the current frame's result slot; `block`'s
// index moves past it. At the tail the result is unset and the index stays.
Status eval_next(Cell* block);
// The same from a position; with `sub` the value is pushed instead.
Status eval_next_at(const Cell* code, Cell*& pos, Cell* end, bool sub);

// Evaluates a path, get-path or set-path found at `pos - 1` (`pos` after
// it in the code, which gives a called function its arguments). With
// `value` the path assigns it; with `get` (or for a get-path) a function it
// reaches is not called. The result is pushed.
Status eval_path(const Cell* path, Cell*& pos, Cell* end, const Cell* code, const Cell* value,
                 bool get = false);

// Calls a function value of any kind with the argument cells given (its
// arguments in spec order; a function! receives `count` cells for its
// arguments, refinement slots and locals, the rest none) in a frame named
// by `name` (null: <anon>). The result is copied to `result`.
Status call_with_arguments(const Cell* function, const Cell* name, const Cell* args,
                           std::int32_t count, Cell* result);

// The number of argument cells a call of the function takes before its
// first refinement.
std::int32_t arity(const Cell* function);

// ---------------------------------------------------------------------------
// Tracing.

// The trace events, by their bit in the event mask. ORDER EVENTS.
#define KIV_TRACE_EVENTS(X)                                                            \
    X(init, 0x1) X(end, 0x2) X(prolog, 0x4) X(epilog, 0x8) X(enter, 0x10) X(exit, 0x20) \
    X(open, 0x40) X(return_, 0x80) X(fetch, 0x100) X(push, 0x200) X(set, 0x400)        \
    X(call, 0x800) X(error, 0x1000) X(throw_, 0x2000) X(catch_, 0x4000) X(expr, 0x8000)

enum class Event : std::uint32_t {
#define KIV_TRACE_EVENT_ENUM(ident, bit) ident = bit,
    KIV_TRACE_EVENTS(KIV_TRACE_EVENT_ENUM)
#undef KIV_TRACE_EVENT_ENUM
};
constexpr std::uint32_t all_events = 0x1FFFF;

// Whether trace events fire now (one flag test on every hot path).
inline bool tracing() { return state.tracing; }

// Starts a tracing run with the callback (a function!) unless one runs
// already (`started` tells), and fires `init`.
Status start_trace(const Cell* callback, bool* started);
// Ends the tracing run: fires `end` with the pending code kept aside, then
// puts the code back (unless the callback started one of its own) and
// clears the callback and both flags. Answers the `end` event's status.
Status end_trace();
// Fires an event when tracing and the event is in the callback's mask.
// `code` and `position` may be null; `ref` and `value` may be null (none).
Status fire_event(Event event, const Cell* code, const Cell* position, const Cell* ref,
                  const Cell* value);
// The events the callback asks for: the words of a block that starts its
// body, else every event.
std::uint32_t event_mask(const Cell* callback);
// Switches tracing on or off inside a tracing run (the library's `trace`).
void set_tracing(bool on);

}  // namespace kiv::interpreter
