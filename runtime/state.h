// The runtime record: the one place that holds the process's single global
// instances. Each unit keeps its globals here, in a section of its own, in the
// order in which the runtime init sets the units up; the collector's root
// marking walks the roots listed here. Everything is set up once at start-up
// and never torn down before exit.
//
// Only the runtime thread touches the record, except the fatal-signal
// handlers, which read the stack bounds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/tracked-alloc.h"

namespace kiv {

namespace stack {
struct CallFrame;
}

struct State {
    // --- entry and throw ---
    // The throw code in flight; 0 while no throw travels.
    std::uint32_t thrown_code;
    // Set while start-up makes the values that must live for the whole run.
    bool keep_in_root;
    // The command line as the process received it.
    int argc;
    char** argv;

    // --- native stack of the runtime thread ---
    // [stack_low, stack_high) is usable; the guard region sits right below
    // stack_low. native_stack_bound is the frame address taken just before
    // the runtime init, the top of what the collector's stack scan must see.
    char* stack_low;
    char* stack_high;
    std::size_t stack_guard;
    char* native_stack_bound;

    // --- tracked raw allocation ---
    memory::TrackedList tracked;

    // --- argument stack and call stack (runtime/evaluator/stack.h) ---
    // Cells of [stack_bottom, stack_top) are in use; stack_arguments is the
    // current frame's base, its result slot. Both stacks live in fixed
    // series, so these pointers never go stale.
    Cell* stack_bottom;
    Cell* stack_top;
    Cell* stack_arguments;
    Cell* stack_end;
    // Entries of [frames_bottom, frames_top) are open call frames.
    stack::CallFrame* frames_bottom;
    stack::CallFrame* frames_top;
    stack::CallFrame* frames_end;
    // Where the where-lookup of the next error starts after a throw found no
    // catch; null when unused.
    stack::CallFrame* throw_start;
    // The block position being evaluated: the interpreter keeps it up to
    // date, and every new error copies it as its `near`. A collector root.
    Cell near;

    // --- symbols, global context, ownership ---
    // GC: collector root slots, re-pointed when node compaction moves the
    // nodes. The symbol block, its hash index (over that block), the global
    // context and the owners table (whose entries are held weakly).
    NodeId symbol_block;
    NodeId symbol_table;
    NodeId global_context;
    NodeId owners;

    // --- blocks ---
    // The cell that block::make_in and make_fixed_in fill when given no
    // parent block. GC: a collector root cell.
    Cell block_scratch;

    // --- objects ---
    // The last class id handed out at run time.
    std::int32_t class_id_counter;

    // --- interpreter (runtime/evaluator/interpreter.h) ---
    // Whether trace events fire now, and whether a tracing run started by
    // `do` is active.
    bool tracing;
    bool trace_run;
    // The events the run's callback asked for, and its count of locals.
    std::uint32_t trace_mask;
    std::int32_t trace_extra;
    // The run's callback (a function!), or none. A collector root.
    Cell trace_callback;

    // --- natives (runtime/evaluator/natives.h) ---
    // The block `print` and `prin` reduce into, shared by nested prints.
    // A collector root.
    Cell print_scratch;

    // --- parse (runtime/evaluator/parse.h) ---
    // The input stack and the rule stack: block! values whose head is the
    // position of the run using them. GC: collector root cells.
    Cell parse_inputs;
    Cell parse_rules;

    // --- exit ---
    // Puts the terminal back into the state the process found it in (raw
    // mode, alternate screen, mouse reporting, cursor). Runs on every way
    // out, from signal handlers too, so it must be async-signal-safe.
    void (*restore_terminal)();
};

extern State state;

// Bytes left on the runtime thread's stack below the caller's frame; code
// that recurses checks it before opening another level.
inline std::size_t native_stack_room() {
    char* here = static_cast<char*>(__builtin_frame_address(0));
    return here > state.stack_low ? static_cast<std::size_t>(here - state.stack_low) : 0;
}

}  // namespace kiv
