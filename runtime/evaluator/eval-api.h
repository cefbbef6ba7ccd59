// The evaluator's entry points as the datatypes see them. Making an object
// from a spec block, calling a change handler and running a function body
// need the interpreter, which sits above the datatypes; it installs its
// entry points here at start-up, and the datatypes call through them.
//
// Every entry answers a Status (runtime/throw.h): `thrown` means a break,
// continue, return, exit or throw code is pending in the runtime record and
// the caller must return at once, passing the status on (KIV_PROPAGATE).
// Language errors do not travel here: they are C++ exceptions raised by
// `fire`.
//
// GC: every entry may run any code: it may allocate, collect and change any
// series. Callers re-read buffers, indexes and lengths afterwards.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/throw.h"

namespace kiv::eval {

using kiv::Status;

// Evaluates the block's expressions from its index in the current frame; the
// last value goes to `result`.
using EvalBlockFn = Status (*)(Cell* block, Cell* result);
// Calls a function! in the function frame that the caller opened (named
// by `name`) and whose cells, from `args`, hold `count` values: its
// arguments, then the slots of its refinements and locals, in spec order.
// The result goes to `result`; the caller closes the frame.
using CallFn = Status (*)(Cell* function, const Cell* name, const Cell* args, std::int32_t count,
                          Cell* result);

struct Entries {
    EvalBlockFn eval_block = nullptr;
    CallFn call_function = nullptr;
};

// Installs the interpreter's entries (tests install their own). Returns the
// entries that were installed before.
Entries install(const Entries& entries);

// Without an installed interpreter these fire internal not-done.
Status eval_block(Cell* block, Cell* result);
Status call_function(Cell* function, const Cell* name, const Cell* args, std::int32_t count,
                     Cell* result);

}  // namespace kiv::eval
