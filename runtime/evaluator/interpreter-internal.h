// What the interpreter's own files share: the fast word read, one call in
// progress, and the call and body runners. Not for other units.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/context.h"
#include "runtime/evaluator/compiled.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/state.h"
#include "runtime/fire.h"
#include "runtime/memory.h"
#include "runtime/throw.h"

// The hot paths' small functions: always inlined in an optimised build.
// An unoptimised build (the sanitizer build) keeps them as calls, so that
// deep recursion does not grow every level's native frame by the locals of
// everything inlined into it.
#ifdef __OPTIMIZE__
#define KIV_HOT [[gnu::always_inline]] inline
#else
#define KIV_HOT inline
#endif

namespace kiv::interpreter::internal {

constexpr std::int32_t compiled_max_refinements = compiled::max_refinements;

// Symbols of the frame names <body> and <anon>.
extern std::uint32_t body_symbol;
extern std::uint32_t anon_symbol;

// The context node of an empty cache: no word is ever bound to it, so the
// lookups compare against it without testing for an unbound word first.
constexpr NodeId no_context = 0xFFFFFFFF;

// The global context and the address of its values, kept between lookups.
// PERF: a global word costs no node-to-buffer step (a while round, 5
// lookups: 336 instructions before, 315 after; fib 20: 37.10M before,
// 36.49M after). The values block's moves clear the cache: an expansion
// through the memory unit's move watch, every collection through its hook
// (node compaction may also renumber the nodes). (An earlier form kept the
// first value's address and checked the node and the offset before each
// use: 3 more instructions and 2 more branches a lookup, and no faster.)
struct GlobalValues {
    NodeId context;  // the global context's node, no_context while the cache is empty
    Cell* cells;     // its first value
};
extern GlobalValues global_values;

// The global value cell at the index when the cache holds the context, else
// null.
KIV_HOT Cell* cached_global(NodeId context, std::int32_t index) {
    const GlobalValues& g = global_values;
    if (context != g.context) return nullptr;
    // PERF: the cells are there whenever the context is; telling so spares
    // the callers a test of the result (while, 1,000,000 rounds: 332.6M
    // instructions before, 323.6M after; fib 20: 36.49M -> 36.21M).
    if (!g.cells) __builtin_unreachable();
    return g.cells + index;
}
// Fills the cache from the global context (its node given).
void cache_global_values(NodeId context);

// The header cell of the function context last read, kept between
// lookups. PERF: a function's own words skip the node-to-buffer step. A
// context's header buffer never grows, so only a collection moves it, and
// every collection clears the cache.
struct LocalContext {
    NodeId context;  // no_context while the cache is empty
    const Cell* header;
};
extern LocalContext local_context;

// Clears the lookup caches: both above and the call cache (every
// collection does).
void forget_lookup_caches();

// The value cell of a word of a context whose values are on the stack,
// from its header cell: null while the function does not run.
inline Cell* stack_value(const Cell* header, std::int32_t index) {
    if (!header->data2) return nullptr;
    // PERF: the values are there when the function runs; telling so
    // spares the callers a second test of the result (while, 1,000,000
    // rounds: 272.6M instructions before, 271.6M after; iterate at
    // 100,000: 148.69M -> 148.59M; fib 20 unchanged).
    Cell* values = cage::at<Cell>(header->data2);
    if (!values) __builtin_unreachable();
    return values + index;
}

// The value cell of a word when it can be read at once, else null: an
// unresolved word, a context without values (a function that does not
// run) and, unless `objects`, a word of an object's context (a set-word
// stores into such a field through the context unit, which marks it
// written and runs the change handler). The slow path goes through the
// context unit, which raises the right error.
template <bool objects>
KIV_HOT Cell* context_slot(const Cell* word) {
    const auto index = static_cast<std::int32_t>(word->data3);
    if (index < 0) [[unlikely]]
        return nullptr;
    if (Cell* v = cached_global(word->data1, index)) [[likely]]
        return v;
    if (word->data1 == local_context.context) [[likely]]
        return stack_value(local_context.header, index);
    if (!word->data1) [[unlikely]]
        return nullptr;
    if (word->data1 == state.global_context) [[unlikely]]
        cache_global_values(word->data1);
    const Cell* h = memory::buffer_of(word->data1)->cells();
    if (!h->data2) [[unlikely]]
        return nullptr;
    if constexpr (!objects) {
        if ((h->header & context::flag::kind_mask) ==
            static_cast<std::uint32_t>(context::Kind::object) << context::flag::kind_shift)
            return nullptr;
    }
    if (h->header & context::flag::values_on_stack) {
        local_context = LocalContext{word->data1, h};
        return cage::at<Cell>(h->data2) + index;
    }
    return memory::buffer_of(h->data2)->cells() + index;
}
KIV_HOT Cell* word_slot_fast(const Cell* word) { return context_slot<true>(word); }
Cell* word_slot_slow(const Cell* word);
// The value cell a set-word may store into directly: a word of a global or
// function context; null otherwise.
KIV_HOT Cell* plain_slot(const Cell* word) { return context_slot<false>(word); }
inline Cell* word_slot(const Cell* word) {
    Cell* slot = word_slot_fast(word);
    return slot ? slot : word_slot_slow(word);
}

[[noreturn, gnu::cold, gnu::noinline]] void fire_with_word(ErrorId id, const Cell* word);

// ---------------------------------------------------------------------------
// Frames, inline: the same entries the stack unit writes, without a call.
// PERF: opening and closing frames is most of a call's cost.

// Whether the native stack has less than native_reserve left. PERF: reads
// the stack pointer itself; taking the frame address would cost the caller
// its frame-pointer register.
inline bool native_stack_short() {
    std::uintptr_t sp;
    asm("mov %%rsp, %0" : "=r"(sp));
    return sp < reinterpret_cast<std::uintptr_t>(state.stack_low) + stack::native_reserve;
}

// Opens a frame with the function context's values word saved (0: no
// context). A full call stack, or (with `native_check`) a native stack
// nearly used up, goes through the stack unit, which raises
// stack-overflow.
// Frames opened without the native check are those of `either`, `if`,
// infix operators and set-words: code that recurses through them alone
// (a conditional whose branch is a word naming a block that holds the
// conditional) adds a call frame per level, so the frame limit ends it
// while the native stack still has plenty left (a few kilobytes a level
// even unoptimised, against the runtime thread's 512 MiB); every other
// call checks both. PERF: 5 instructions less a frame (fib 20: 48.07M
// instructions before, 47.88M after; return at 50,000 rounds: 84.48M ->
// 83.69M; alloc of 100,000 rounds: 248.23M -> 246.72M; block at 100,000:
// 327.78M -> 326.27M).
template <bool native_check = true>
inline void push_frame(std::uint32_t symbol, NodeId word_context, std::uint32_t header,
                        NodeId function_context, std::uint32_t saved_values) {
    if (state.frames_top >= state.frames_end || (native_check && native_stack_short())) [[unlikely]]
        stack::push_named_frame(symbol, header);
    stack::CallFrame* e = state.frames_top++;
    *e = stack::CallFrame{header, cage::offset_of(state.stack_arguments), word_context, symbol, function_context,
                          saved_values};
    state.stack_arguments = state.stack_top;
}

// Opens a frame, the function context's values word saved when there is a
// context.
template <bool native_check = true>
inline void open_frame(std::uint32_t symbol, NodeId word_context, std::uint32_t header,
                        NodeId function_context) {
    push_frame<native_check>(symbol, word_context, header, function_context,
               function_context ? memory::buffer_of(function_context)->cells()->data2 : 0);
}

// open_frame for a function's frame, whose context is never 0. PERF: no
// test for one (see call_function_plain).
inline void open_function_frame(std::uint32_t symbol, NodeId word_context, NodeId function_context) {
    push_frame(symbol, word_context, stack::header::interpreted_function, function_context,
               memory::buffer_of(function_context)->cells()->data2);
}

// Drops the newest frame `e`, keeping its result pushed.
inline void leave_frame(const stack::CallFrame* e) {
    state.stack_top = state.stack_arguments + 1;
    state.stack_arguments = cage::at<Cell>(e->saved_base);
}

// Closes the newest frame keeping its result pushed (the function
// context's values put back when it has one).
inline void close_frame() {
    stack::CallFrame* e = --state.frames_top;
    if (e->function_context) memory::buffer_of(e->function_context)->cells()->data2 = e->saved_values;
    leave_frame(e);
}

// close_frame for a frame opened with a function context. PERF: no test
// for one (see call_function_plain).
inline void close_function_frame() {
    stack::CallFrame* e = --state.frames_top;
    memory::buffer_of(e->function_context)->cells()->data2 = e->saved_values;
    leave_frame(e);
}

// close_frame for a frame opened without a function context. PERF: no
// test for one.
inline void close_native_frame() { leave_frame(--state.frames_top); }

// Sets a native's check flag (positions[0]) and marks its `refinements`
// refinements unused (-1 from positions[1]); the array holds
// 1 + compiled_max_refinements entries. PERF: up to eight refinements take
// two vector stores, where the counted loop became a string store whose
// start-up dominated (alloc bench: see the commit).
KIV_HOT void clear_positions(std::int32_t* positions, std::int32_t refinements) {
    static_assert(compiled_max_refinements >= 8);
    positions[0] = 0;
    if (refinements <= 8) [[likely]] {
        for (std::int32_t k = 1; k <= 8; ++k) positions[k] = -1;
    } else {
        for (std::int32_t k = 1; k <= refinements; ++k) positions[k] = -1;
    }
}

// One call in progress.
struct Call {
    const Cell* fn;          // the function value (natives, actions, functions, routines)
    const Cell* fn_word;     // the word that names it in messages and events
    const Cell* frame_name;  // the word that names its frame
    Cell*& pos;              // where its arguments come from
    Cell* end;
    const Cell* code;        // the block holding them (null: none)
    const Cell* path;        // the calling path, or null
    Cell* refs;              // the refinements the path asks for, up to refs_end
    Cell* refs_end;
    bool infix;              // the left operand is pushed and starts the frame
};

// The argument cache of a callable (its header cell, the entries after
// it), built on the first call.
const Cell* build_cache(const Cell* function);
inline const Cell* argument_cache(const Cell* function) {
    const Cell* c = memory::buffer_of(function->data3)->cells() + 1;
    if (c->is(Type::block)) [[likely]]
        return memory::buffer_of(c->data2)->cells() + 1;
    return build_cache(function);
}

// Opens the frame, fetches the arguments, calls and closes; the result is
// the top cell (the frame's base).
Status invoke(Call& c);
// Calls a function value met in code: a copy of it is pushed first and
// the result takes its cell.
Status call_value(const Cell* fn, const Cell* word, const Cell* frame_name, Cell*& pos, Cell* end,
                  const Cell* code, const Cell* path, Cell* refs, Cell* refs_end);
// Runs a function!'s body in its frame (the current one): the context's
// values are the frame's cells, return and exit stop here, the result is
// the frame's first cell. The frame is left open.
Status run_body(const Cell* fn, const Cell* name);
// Evaluates a paren, its value pushed.
Status eval_paren(const Cell* paren, std::uint32_t frame_symbol);

// The rounds of `while`, `repeat`, `loop` and `foreach`, with their blocks run in place.
// PERF: each round's blocks skip a call level (a while round: 425
// instructions before, 372 after). Called with the loop frame open; answers
// ok when the loop ends or breaks (the frame's first cell holding what the
// last round or the break left), thrown for any other pending code.
// while: `f` holds the condition block and then the body; the result is
// unset when the condition fails.
Status while_rounds(Cell* f);
// repeat: `f` holds the word, the count and the body; the word takes 1 to
// `count`.
Status repeat_rounds(Cell* f, std::int32_t count);
// loop: `f` holds the count and then the body.
Status count_rounds(Cell* f, std::int32_t count);
// foreach with one word over a block-like series: the word takes each
// value from the cursor on, the cursor moving past it before the round.
Status foreach_block_rounds(Cell* cursor, const Cell* word, const Cell* body);

// Where native code finds the call table (entries of {more node, cache},
// two per set: the set's byte offset is (more << 3) & set_mask) and the
// entries of `if`, `either` (2 in a row) and `return`.
struct NativeCodeTables {
    void* call_entries;
    std::uintptr_t set_mask;
    void* conditionals;
    void* return_entry;
};
NativeCodeTables native_code_tables();
// The argument cache of a callable through the call table. GC: may build it.
const Cell* cached_arguments_of(const Cell* function);

// Whether an argument cache entry is an evaluated argument taking `type`.
bool entry_takes(const Cell* entry, Type type);
// The bits of an op's cache header that pick its arithmetic after an
// operand that needed a call (its kind, and that it takes one that way).
std::uint32_t cache_infix_mask();
// The bits of that mask's arithmetic kind which a cache of the callable (a
// native, action or op) holds when its calls may compute it without the
// entry; 0 when they may not.
std::uint32_t fast_bits_of(const Cell* callable);
// The cache header's flag of a body of user code run from its head.
std::uint32_t cache_user_body();
// The body of a function! called by the plain path, its frame open with
// the arguments fetched (the context's values at `base`, the body flag
// set): as call_function_plain runs it, return and exit taken.
Status run_function_body(const Cell* fn, Cell* base);

// Entry points for native code (native-code.h) handing a block back to the
// interpreter. resume_block finishes a block from a statement's start or
// (with `infix`) from an operator, its left value pushed at `base`; a null
// `saved_near` leaves `near` as the block leaves it (a loop's block).
Status resume_block(const Cell* code, Cell* first, Cell* pos, Cell* end, Cell* base, const Cell* saved_near,
                    bool chain, bool infix);
// resume_set_word does the same inside the frame of the set-word at
// `word`, open at `base` with the word and the value so far pushed: it
// applies the operators (with `infix`, from `pos`), ends the set-word and
// goes on with the block.
Status resume_set_word(const Cell* code, Cell* first, Cell* word, Cell* pos, Cell* end, Cell* base,
                       const Cell* saved_near, bool chain, bool infix);
// finish_infix ends an op call whose frame holds both operands.
Status finish_infix(const Cell* kept_op, const Cell* word, Cell* pos, Cell* end, const Cell* code);

// The trace machinery's start-up.
void init_tracing();

}  // namespace kiv::interpreter::internal
