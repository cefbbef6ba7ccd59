// Native code for function bodies and loops: x86-64 machine code made at
// run time for the bodies of function! values that are called often, and
// for the rounds of `while` and `repeat` loops that run long, when every
// statement is of a small subset (integer literals, the function's own
// argument words, global words and set-words of both, the fast integer
// operators, `either`, `if` and `unless` with literal block branches,
// parens, calls of functions and of the integer actions add, subtract,
// multiply and remainder, and `return` in a function).
//
// Exactness: the code does what the interpreter does, cell for cell. It
// reads every cell and every word value where the interpreter would and
// compares it with the one it was made for (a guard); any difference, a
// value of another datatype, an overflow or tracing switched on hands the
// rest of the block over to the interpreter at that point, with the stacks,
// the frames and `near` as the interpreter would have them there. Node ids
// and addresses it uses come from cells it has just compared, never from
// its own constants alone, so moved buffers and renumbered nodes at most
// fail a guard. Buffers it reads are held in its native frame, which the
// collector scans as any other (so they are pinned, as the interpreter's).
//
// Errors raised by code it calls are caught at the call and raised again
// once the native code has returned to the interpreter.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::native_code {

// What run answered.
enum class Ran : std::uint8_t { ok, thrown, not_run };

// Runs the body of the function! `fn` in its frame (opened, its arguments
// fetched, its context's values at `base`, the body flag set), as
// run_block of its body would, with return and exit taken; or answers
// not_run when it has no native code (yet) or its guards at entry fail,
// having done nothing. `cache` is the function's argument cache. Tracing
// must be off.
Ran run(const Cell* fn, const Cell* cache, Cell* base);

// Where the rounds of a loop stand when its native code returns, for the
// loop's native to go on from there with the interpreter: the loop ended
// (its value cell set), a code pending from the condition or the body, or
// the next step: a round's start, while's test of the condition's value
// (at the value cell), the end of a round (its body done), the body (the
// condition tested true). not_run: nothing done.
enum class LoopAt : std::uint8_t {
    ended = 0, cond_thrown = 1, body_thrown = 3, round = 4, test = 5, after_body = 6, body = 7, not_run = 8
};

// A repeat's counter: the round to run next, and the last.
struct LoopCounter {
    std::int64_t i;
    std::int64_t count;
};

// Rounds a loop's interpreter runs before it tries native code.
constexpr std::uint32_t loop_rounds_first = 16;

// The rounds of `while` (its frame `f`: the condition and the body) or
// `repeat` (the word, the count and the body) from a round's start, with
// the loop frame open and its value cell at `result`, as the loop's native
// runs them, its words being global words; or not_run.
LoopAt run_while(Cell* f, Cell* result);
LoopAt run_repeat(Cell* f, Cell* result, LoopCounter* counter);

// Whether native code is made at all (KIV_NATIVE_CODE=0 switches it off).
extern bool enabled;

// By the more block's node, the functions found to have no native code
// (a direct-mapped table, as run's).
constexpr std::uint32_t table_size = 256;
extern NodeId without_code[table_size];

// Whether run may do anything for a function with this more block: a
// test the interpreter makes before calling it.
inline bool worth_running(NodeId more) { return enabled && without_code[(more >> 2) % table_size] != more; }

// Forgets every function's code (bodies keep running; their code stays).
void forget();

// Reads KIV_NATIVE_CODE and registers the collector hook that forgets the
// code when nodes are renumbered.
void init();

}  // namespace kiv::native_code
