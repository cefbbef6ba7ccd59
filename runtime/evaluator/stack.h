// The argument stack and the call stack: the two global stacks that every
// evaluation runs over.
//
// The argument stack holds value cells. A native, an action or a function
// finds its arguments in the cells of its frame, from `state.stack_arguments`
// (the frame's base, also its result slot) up to `state.stack_top`. Invariant:
// bottom <= arguments <= top <= end.
//
// The call stack holds one CallFrame per active call, evaluation, try, catch
// or loop: which word names it, what kind it is, and where the enclosing
// frame's cells begin. The non-local exits find their target here first:
// errors stop at try and try-all frames, break and continue at loop frames,
// return and exit at the nearest frame with the body flag, throw at catch
// frames; a try-all frame stops them all (the exit then raises its throw
// error instead).
//
// How exits travel: an error is a C++ exception (`raise_error` unrolls the
// call stack to its try frame first, then throws); break, continue, return,
// exit and throw set the pending code and answer Status::thrown, after
// having set the stacks up for the frame that will take the code. Code that
// passes a throw on therefore closes no frame on its way out.
//
// Function contexts keep their values on the argument stack: while a
// function runs, its context's values word names the frame's base. Every
// operation that pops a function frame puts back the pointer the frame
// saved, so recursion sees its caller's values again.
//
// GC: both stacks are fixed series, so pointers into them stay valid; the
// collector marks the cells in use and every frame's contexts. Pushing a
// cell or a frame never allocates, but raises internal stack-overflow when
// a stack is full (or the native stack is nearly used up).
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cage.h"
#include "runtime/cell.h"
#include "runtime/state.h"
#include "runtime/throw.h"

namespace kiv::stack {

constexpr std::int32_t argument_cells = 20000;
// Cells past the argument stack's limit, taken only while the overflow
// error is made and raised: the cells below the limit may all be live.
constexpr std::int32_t overflow_slack = 16;
constexpr std::int32_t max_frames = 12000;
// Room the native stack must keep when a frame opens: enough to make, raise
// and print an error (molding nests as deep as the cycle guard allows).
constexpr std::size_t native_reserve = std::size_t{4} << 20;

enum class Kind : std::uint32_t {
    function = 1,  // a function call
    native = 2,    // a native or action call, or a compiled body
    try_ = 4,
    try_all = 5,
    catch_ = 6,
    eval = 7,  // an interpreted block evaluation
    loop = 8,
};

namespace flag {
constexpr std::uint32_t kind_shift = 24;
constexpr std::uint32_t kind_mask = 0x0F000000;
constexpr std::uint32_t body = 0x10000000;         // return and exit stop here
// No break, continue, return or throw passes this frame: its caller cannot
// hand a pending code on (a change handler's).
constexpr std::uint32_t barrier = 0x20000000;
constexpr std::uint32_t interpreted = 0x80000000;  // opened by the interpreter
}  // namespace flag

// The header each pusher writes.
namespace header {
constexpr std::uint32_t function = 0x01000000;
constexpr std::uint32_t native = 0x02000000;
constexpr std::uint32_t body = 0x12000000;
constexpr std::uint32_t interpreted_native = 0x82000000;
constexpr std::uint32_t interpreted_function = 0x81000000;
constexpr std::uint32_t try_ = 0x04000000;
constexpr std::uint32_t try_all = 0x05000000;
constexpr std::uint32_t catch_ = 0x06000000;
constexpr std::uint32_t eval = 0x87000000;
constexpr std::uint32_t loop = 0x08000000;
}  // namespace header

// One call-stack entry. The symbol has a word of its own, so any symbol id
// fits. Node ids here are collector roots (re-pointed when nodes move).
// PERF: word_context and symbol lie in a word cell's order (data1, data2),
// so opening a frame copies them as one 8-byte word (fib 20: 36.44M
// instructions before, 36.38M after; the return bench at 50,000 rounds:
// 89.09M before, 88.87M after).
struct CallFrame {
    std::uint32_t header;        // kind and flags
    std::uint32_t saved_base;    // cage offset of the enclosing frame's base
    NodeId word_context;         // the naming word's context (a block for `self`)
    std::uint32_t symbol;        // the spelling of the word that names the frame
    NodeId function_context;     // the context of the function running here, or 0
    // That context's values word before this frame, or 0. A catch entry has
    // no function context; it keeps here the cage offset of its names cell
    // (0: it takes every throw).
    std::uint32_t saved_values;

    Kind kind() const { return static_cast<Kind>((header & flag::kind_mask) >> flag::kind_shift); }
    bool has_body_flag() const { return (header & flag::body) != 0; }
    bool is_interpreted() const { return (header & flag::interpreted) != 0; }
    Cell* base() const;
};
static_assert(sizeof(CallFrame) == 24);

// ---------------------------------------------------------------------------
// Set-up.

// Make the argument stack and the call stack (fixed series). Start-up calls
// them at their steps; init follows later.
void make_argument_stack();
void make_call_stack();
// Sets every bound of both stacks, caches the frame-name symbols and
// registers the collector's marking of both stacks. Needs the stacks made
// and the runtime's fixed words.
void init();
// Whether init ran (and forget did not follow).
bool ready();
// Forgets the stacks, so that errors go back to their bare form. Tests only.
void forget();

// ---------------------------------------------------------------------------
// Queries.

// How a loop round that answered thrown ends: break and continue stop at
// the loop (their code is taken here), any other code passes on.
enum class LoopExit : std::uint8_t { passes_on, continued, broke };
inline LoopExit take_loop_exit() {
    if (state.thrown_code == throw_code::continue_) {
        state.thrown_code = 0;
        return LoopExit::continued;
    }
    if (state.thrown_code == throw_code::break_) {
        state.thrown_code = 0;
        return LoopExit::broke;
    }
    return LoopExit::passes_on;
}

inline bool empty() { return state.frames_top == state.frames_bottom; }
inline CallFrame* top_frame() { return state.frames_top - 1; }
inline std::int32_t frame_count() {
    return static_cast<std::int32_t>(state.frames_top - state.frames_bottom);
}
inline void set_call_top(CallFrame* entry) { state.frames_top = entry; }
// The last cell pushed, or the bottom cell when nothing is pushed.
inline Cell* top_value() {
    return state.stack_top > state.stack_bottom ? state.stack_top - 1 : state.stack_bottom;
}
inline Type top_type() { return top_value()->type(); }
// Whether an entry below `entry` (or, with null, any entry from the newest
// down) has the interpreted flag; with one_only only the first looked at.
bool eval_q(const CallFrame* entry, bool one_only);

// ---------------------------------------------------------------------------
// Cells.

[[noreturn, gnu::cold, gnu::noinline]] void overflow_arguments();

// The next cell, not initialised. A full stack raises stack-overflow.
// PERF: always inlined in an optimised build; the compiler's own choice
// varied with the size of the function around it (string at 50,000
// rounds: 0.6M instructions in calls to it when it stopped inlining it
// into the set-word path).
#ifdef __OPTIMIZE__
[[gnu::always_inline]]
#endif
inline Cell* push_cell() {
    Cell* cell = state.stack_top++;
    if (state.stack_top >= state.stack_end) [[unlikely]]
        overflow_arguments();
    return cell;
}
inline Cell* push_copy(const Cell* value) {
    const Cell copy = *value;  // the value may be the cell about to be pushed
    Cell* cell = push_cell();
    *cell = copy;
    return cell;
}
// Drops n cells, never below the bottom.
inline void drop(std::int32_t n) {
    state.stack_top = state.stack_top - state.stack_bottom > n ? state.stack_top - n : state.stack_bottom;
}
// Copies the value into the current frame's result slot.
inline Cell* set_last(const Cell* value) { return cell::copy(value, state.stack_arguments); }
// The same, keeping only the result slot in the frame.
inline Cell* set_result(const Cell* value) {
    set_last(value);
    state.stack_top = state.stack_arguments + 1;
    return state.stack_arguments;
}
inline void reset() { state.stack_top = state.stack_arguments; }
inline void keep_first() { state.stack_top = state.stack_arguments + 1; }
// After a try caught an error: an error! just below the top becomes the
// frame's result; the frame keeps only its result slot.
void keep_error();

// ---------------------------------------------------------------------------
// Opening frames. Each opens the frame at the current top: its base is
// `state.stack_top`, which becomes `state.stack_arguments`. A full call stack,
// or a native stack with less than native_reserve left, raises
// stack-overflow.

// A frame of any kind named by the word (an unbound word counts as global).
void push_frame(const Cell* word, std::uint32_t header);
// A function call; the frame saves the context's values word to put back.
void push_function_frame(const Cell* word, NodeId function_context);
void push_interpreted_function_frame(const Cell* word, NodeId function_context);
void push_native_frame(const Cell* word);
void push_interpreted_native_frame(const Cell* word);
// A compiled body: the context's values are the new frame's cells.
void push_body_frame(const Cell* word, NodeId function_context);
void push_try_frame(const Cell* word);
void push_try_all_frame(const Cell* word);
void push_catch_frame(const Cell* word);
// Gives the newest entry, a catch entry, the names it takes: a word! or a
// block of words in a cell that outlives the entry (the catch native's
// argument). Without names a catch entry takes every throw.
void set_catch_names(const Cell* names);
void push_eval_frame(const Cell* word);
void push_loop_frame(const Cell* word);
// A frame named by a symbol, in the global context.
void push_named_frame(std::uint32_t symbol, std::uint32_t header);

void set_body_flag(bool on);
// Sets the body flag on the entry below the newest and answers it, or null
// when it already had the flag (or there is none).
CallFrame* claim_caller_body_flag();
void release_body_flag(CallFrame* entry);
// Sets the interpreted flag on the newest entry.
void set_interpreted_flag();

// ---------------------------------------------------------------------------
// Closing frames: each pops the newest entry. The *_function forms, and
// pop_frame for a function frame, put the context's values word back.

void pop_frame();            // top: the frame's base; arguments: the saved base
void close();                // top: base + 1, the result stays pushed
void close_function();
void close_copy();           // as close, and the result goes to the caller's slot
void close_function_copy();
void revert();               // top and arguments: the saved base
void revert_function();

// ---------------------------------------------------------------------------
// Unrolling: pops entries, newest first (putting function contexts' values
// back), down to the nearest entry of the kind, a try-all entry, or the
// bottom-most entry, which stays. The top becomes the old base + 1. With
// keep the matched frame is current again; without, its caller's frame is.
void unroll_frames(Kind kind, bool keep);
// Unrolls without keep, then moves the innermost result into the matched
// frame's result slot and makes that frame current, its top at its base.
void unroll_copy(Kind kind);
inline void unroll_loop(bool keep) { unroll_frames(Kind::loop, keep); }

// ---------------------------------------------------------------------------
// Non-local exits.

// Raises the error! value: sets its `where` and call-stack position, unrolls
// to the nearest try or try-all frame, pops it and throws KivError with a
// copy of the error pushed on the argument stack. With no such frame the
// error is printed and the process ends with status -2.
[[noreturn, gnu::cold]] void raise_error(Cell* error);

// break (continue: false) or continue (true), called with the break or
// continue native's frame on top. Sets the stacks to the nearest loop frame
// (its result: the value, or unset) and answers thrown with the code
// pending. A try-all frame on the way, or no loop frame, raises throw
// `break` or `continue` with the stacks as they were.
Status throw_break(bool with_value, bool continue_, const Cell* value);
// return (with_value) or exit, called with the native's frame on top (kept
// with keep_own_frame). Sets the stacks to the nearest frame with the body
// flag, its result the value or unset. Without one: throw `return`.
Status throw_return(bool with_value, bool keep_own_frame, const Cell* value);
// The frame a return from the frames `from` down ends at: the nearest with
// the body flag, when no function frame or try-all frame comes first (so no
// context's values word needs putting back); else null.
inline CallFrame* near_body_frame(CallFrame* from) {
    for (CallFrame* e = from; e >= state.frames_bottom; --e) {
        const std::uint32_t h = e->header;
        if (h & flag::body) [[likely]]
            return e;
        const std::uint32_t kind = h & flag::kind_mask;
        if (kind == header::function || kind == header::try_all) break;
    }
    return nullptr;
}
// The base of an entry's own frame: the base saved by the entry above it,
// or the current base for the newest entry.
inline Cell* own_base(const CallFrame* e) {
    return e + 1 < state.frames_top ? cage::at<Cell>((e + 1)->saved_base) : state.stack_arguments;
}
// Returns the value to the target near_body_frame found: the frames above
// it are dropped and it is current again, the value in its result slot.
inline Status return_to(CallFrame* target, const Cell* value) {
    Cell* base = own_base(target);
    state.frames_top = target + 1;
    *base = *value;
    state.stack_arguments = base;
    state.stack_top = base + 1;
    state.thrown_code = throw_code::return_;
    return Status::thrown;
}
// throw_return(true, false, value), inline for the common case. PERF: the
// return bench at 50,000 rounds: 94.14M instructions before, 92.57M after.
inline Status return_value(const Cell* value) {
    if (CallFrame* target = near_body_frame(state.frames_top - 2)) [[likely]]
        return return_to(target, value);
    return throw_return(true, false, value);
}
// throw, called with the native's frame on top: the catch frame's cells
// become the value and the name (unset for none), and `code` is pending.
// Without a catch frame: throw `throw` with the value.
Status throw_value(std::uint32_t code, const Cell* value, const Cell* name);

// The pending code (0: none).
inline std::uint32_t pending() { return state.thrown_code; }
// Takes the pending code when it is `code`: clears it and answers true.
inline bool take(std::uint32_t code) {
    if (state.thrown_code != code) return false;
    state.thrown_code = 0;
    return true;
}
// A catch frame took the throw: the code is cleared and the where-lookup
// forgets where the throw started.
inline void took_throw() {
    state.thrown_code = 0;
    state.throw_start = nullptr;
}

// ---------------------------------------------------------------------------
// Names and traces.

// The word that names the nearest frame not named <body> or <anon>, looked
// up in the frame's word context, else the global word; <not-found> when
// there is none. `where_name` starts below the entry where a throw started,
// when that is set, and clears it; it answers none when it meets a try-all
// entry first (an error of that region's own code, which no call raised).
Cell* current_function_word(Cell* out);
Cell* where_name(Cell* out);
// For each entry from the newest down to (not including) the bottom-most,
// not named <body> or <anon>: the word for its symbol in its function
// context (else global) and the position of its saved base in cells.
void collect_calls(Cell* block);
// The frames from the bottom-most up to (not including) position `end`
// (a frame count), without <body> and <anon>; listed when `level` is above
// 1, else only those whose word holds a function!. collect_words appends
// the words to the block; form_trace forms them into the string, each
// followed by a blank, within `limit` code points, and answers what is left.
void collect_words(std::int32_t level, Cell* block, std::int32_t end);
int form_trace(std::int32_t level, const Cell* position, Cell* buffer, int limit);

// The collector's marking of both stacks (registered by init).
void mark_frames();

}  // namespace kiv::stack
