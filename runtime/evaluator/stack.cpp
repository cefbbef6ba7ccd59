// The argument stack and the call stack: frames, closing and unrolling, the
// non-local exits, frame names and traces, and the collector's marking.
#include "runtime/evaluator/stack.h"

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"

namespace kiv::stack {

namespace {

bool is_ready = false;
// The stacks' buffers (fixed series: they never move).
Cell* argument_cells_start = nullptr;
CallFrame* frames_start = nullptr;
// Symbols of the frame names that stand for no called word.
std::uint32_t body_symbol = 0;
std::uint32_t anon_symbol = 0;
std::uint32_t self_symbol = 0;  // canonical

Cell* cell_at(std::uint32_t offset) { return cage::at<Cell>(offset); }
std::uint32_t offset_of(const Cell* cell) { return cage::offset_of(cell); }

bool is_hidden(const CallFrame* e) { return e->symbol == body_symbol || e->symbol == anon_symbol; }
bool is_self(const CallFrame* e) { return symbol::resolve(e->symbol) == self_symbol; }

// Puts a function frame's context values word back.
void restore_values(const CallFrame* e) {
    if (e->kind() == Kind::function && e->function_context)
        context::header(e->function_context)->data2 = e->saved_values;
}

// Pops every entry above `target` (putting function contexts' values back)
// and answers the target's own base.
Cell* unwind_to(CallFrame* target) {
    Cell* base = own_base(target);
    for (CallFrame* e = top_frame(); e > target; --e) restore_values(e);
    state.frames_top = target + 1;
    return base;
}

// The nearest entry from `from` down that `accepts`; null when a try-all
// entry or a barrier comes first or none does.
template <class Accepts>
CallFrame* find_target(CallFrame* from, Accepts accepts) {
    for (CallFrame* e = from; e >= state.frames_bottom; --e) {
        if (accepts(e)) return e;
        if (e->kind() == Kind::try_all || (e->header & flag::barrier)) return nullptr;
    }
    return nullptr;
}

// Whether an error has a frame to land in.
bool has_try_frame() {
    for (const CallFrame* e = state.frames_bottom; e < state.frames_top; ++e)
        if (e->kind() == Kind::try_ || e->kind() == Kind::try_all) return true;
    return false;
}

// The argument stack's end but for the overflow slack.
Cell* argument_limit() { return state.stack_bottom + argument_cells; }

// A full call stack (or native stack) leaves the cells as they are: a try
// further down takes the error and goes on with its callers' cells, which
// the error must not land on.
[[noreturn, gnu::cold]] void overflow_frames() {
    cycles::reset();
    fire(ErrorId::internal_stack_overflow);
}

CallFrame* open_entry(std::uint32_t symbol, NodeId word_context, std::uint32_t header) {
    if (state.frames_top >= state.frames_end || native_stack_room() < native_reserve) [[unlikely]]
        overflow_frames();
    CallFrame* e = state.frames_top++;
    *e = CallFrame{header, offset_of(state.stack_arguments), word_context, symbol, 0, 0};
    state.stack_arguments = state.stack_top;
    return e;
}

// A context that a frame may still name: stale entries (popped, then read
// for a trace) may name contexts the collector has taken since.
bool usable_context(NodeId ctx) {
    return ctx && memory::is_live_node(ctx) && memory::buffer_of(ctx)->unit() == sizeof(Cell) &&
           context::header(ctx)->is(Type::context);
}

// The context in which a frame's word is read.
NodeId naming_context(const CallFrame* e) {
    if (is_self(e) || !usable_context(e->word_context)) return context::global();
    if (context::header(e->word_context)->header & context::flag::library) return context::global();
    return e->word_context;
}

Cell* frame_word(const CallFrame* e, Cell* out) { return word::lookup_in(naming_context(e), e->symbol, out); }

// The nearest entry below `start` (exclusive) not named <body> or <anon>.
const CallFrame* nearest_named(const CallFrame* start) {
    for (const CallFrame* e = start - 1; e >= state.frames_bottom; --e)
        if (!is_hidden(e)) return e;
    return nullptr;
}

Cell* named_word(const CallFrame* e, Cell* out) {
    return e ? frame_word(e, out) : words::word(words::W::not_found, out);
}

// The value that a trace lists a frame by: the symbol's value in the frame's
// word context, a stack context read as the global one.
const Cell* trace_value(const CallFrame* e) {
    NodeId ctx = naming_context(e);
    if (context::header(ctx)->header & context::flag::values_on_stack) ctx = context::global();
    std::int32_t index = context::find_word(ctx, e->symbol, true);
    if (index < 0) {
        ctx = context::global();
        index = context::find_word(ctx, e->symbol, true);
    }
    return index < 0 ? &unset::value : context::slot(ctx, index);
}

bool listed(const CallFrame* e, std::int32_t level) {
    // Symbol 0: an entry never written (a position an error was given by
    // hand may lie past every frame opened so far).
    if (e->symbol == 0 || is_hidden(e)) return false;
    return level > 1 || trace_value(e)->is(Type::function);
}

// Visits the listed frames from the bottom-most up to `end` (a frame count),
// which may lie above the current top: popped entries keep their bytes.
template <class Visit>
void for_each_listed(std::int32_t level, std::int32_t end, Visit visit) {
    if (end > max_frames) end = max_frames;
    for (std::int32_t i = 0; i < end; ++i) {
        const CallFrame* e = state.frames_bottom + i;
        if (listed(e, level)) visit(e);
    }
}

}  // namespace

Cell* CallFrame::base() const { return cell_at(saved_base); }

// ---------------------------------------------------------------------------
// Set-up.

void make_argument_stack() {
    const NodeId node = memory::alloc_fixed_series(argument_cells + overflow_slack, sizeof(Cell), 0);
    argument_cells_start = memory::buffer_of(node)->cells();
}

void make_call_stack() {
    constexpr std::int64_t cells = max_frames * sizeof(CallFrame) / sizeof(Cell);
    const NodeId node = memory::alloc_fixed_series(cells, sizeof(Cell), 0);
    frames_start = reinterpret_cast<CallFrame*>(memory::buffer_of(node)->data());
}

void init() {
    // A heap reset forgets every hook and root, so each init registers again.
    collector::register_hook(mark_frames);
    collector::register_root_cell(&state.near);
    state.stack_bottom = state.stack_top = state.stack_arguments = argument_cells_start;
    state.stack_end = argument_limit();
    state.frames_bottom = state.frames_top = frames_start;
    state.frames_end = state.frames_bottom + max_frames;
    state.throw_start = nullptr;
    none::make_at(&state.near);
    body_symbol = words::symbol(words::W::body_frame);
    anon_symbol = words::symbol(words::W::anon);
    self_symbol = symbol::resolve(words::symbol(words::Sym::self));
    is_ready = true;
}

bool ready() { return is_ready; }

void forget() {
    is_ready = false;
    state.stack_bottom = state.stack_top = state.stack_arguments = state.stack_end = nullptr;
    state.frames_bottom = state.frames_top = state.frames_end = state.throw_start = nullptr;
    state.thrown_code = 0;
}

bool eval_q(const CallFrame* entry, bool one_only) {
    for (const CallFrame* e = entry ? entry - 1 : state.frames_top - 1; e >= state.frames_bottom; --e) {
        if (e->is_interpreted()) return true;
        if (one_only) return false;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Cells.

// A full argument stack raises its error in the slack past the limit,
// which raise_error takes back: every cell below the top may belong to a
// caller that a try further down goes on with. Only an overflow while the
// error is raised drops the newest cells instead.
void overflow_arguments() {
    Cell* const limit = argument_limit();
    if (state.stack_end > limit) drop(5);
    else state.stack_end = limit + overflow_slack;
    cycles::reset();
    fire(ErrorId::internal_stack_overflow);
}

void keep_error() {
    if (state.stack_top > state.stack_bottom && (state.stack_top - 1)->is(Type::error))
        set_last(state.stack_top - 1);
    keep_first();
}

// ---------------------------------------------------------------------------
// Opening frames.

void push_frame(const Cell* word, std::uint32_t header) { open_entry(word->data2, word->data1, header); }

void push_named_frame(std::uint32_t symbol, std::uint32_t header) {
    open_entry(symbol, context::global(), header);
}

void push_function_frame(const Cell* word, NodeId function_context) {
    CallFrame* e = open_entry(word->data2, word->data1, header::function);
    e->function_context = function_context;
    e->saved_values = function_context ? context::header(function_context)->data2 : 0;
}

void push_interpreted_function_frame(const Cell* word, NodeId function_context) {
    push_function_frame(word, function_context);
    top_frame()->header = header::interpreted_function;
}

void push_native_frame(const Cell* word) { push_frame(word, header::native); }
void push_interpreted_native_frame(const Cell* word) { push_frame(word, header::interpreted_native); }

void push_body_frame(const Cell* word, NodeId function_context) {
    context::header(function_context)->data2 = offset_of(state.stack_arguments);
    push_frame(word, header::body);
}

void push_try_frame(const Cell* word) { push_frame(word, header::try_); }
void push_try_all_frame(const Cell* word) { push_frame(word, header::try_all); }
void push_catch_frame(const Cell* word) { push_frame(word, header::catch_); }

void set_catch_names(const Cell* names) { top_frame()->saved_values = offset_of(names); }
void push_eval_frame(const Cell* word) { push_frame(word, header::eval); }
void push_loop_frame(const Cell* word) { push_frame(word, header::loop); }

void set_body_flag(bool on) {
    CallFrame* e = top_frame();
    e->header = on ? e->header | flag::body : e->header & ~flag::body;
}

CallFrame* claim_caller_body_flag() {
    if (frame_count() < 2) return nullptr;
    CallFrame* e = top_frame() - 1;
    if (e->has_body_flag()) return nullptr;
    e->header |= flag::body;
    return e;
}

void release_body_flag(CallFrame* entry) {
    if (entry) entry->header &= ~flag::body;
}

void set_interpreted_flag() { top_frame()->header |= flag::interpreted; }

// ---------------------------------------------------------------------------
// Closing frames.

namespace {

// Pops the newest entry; answers its base and the enclosing frame's.
CallFrame* pop_entry(bool restore, Cell** base, Cell** saved) {
    CallFrame* e = --state.frames_top;
    if (restore && e->function_context) context::header(e->function_context)->data2 = e->saved_values;
    *base = state.stack_arguments;
    *saved = cell_at(e->saved_base);
    return e;
}

void close_with(bool restore, bool copy) {
    Cell *base, *saved;
    pop_entry(restore, &base, &saved);
    if (copy) *saved = *base;
    state.stack_top = base + 1;
    state.stack_arguments = saved;
}

void revert_with(bool restore) {
    Cell *base, *saved;
    pop_entry(restore, &base, &saved);
    state.stack_top = state.stack_arguments = saved;
}

}  // namespace

void pop_frame() {
    Cell *base, *saved;
    const CallFrame* e = pop_entry(false, &base, &saved);
    restore_values(e);
    if (empty()) {
        state.stack_top = state.stack_arguments = state.stack_bottom;
        return;
    }
    state.stack_top = base;
    state.stack_arguments = saved;
}

void close() { close_with(false, false); }
void close_function() { close_with(true, false); }
void close_copy() { close_with(false, true); }
void close_function_copy() { close_with(true, true); }
void revert() { revert_with(false); }
void revert_function() { revert_with(true); }

// ---------------------------------------------------------------------------
// Unrolling.

namespace {

// Pops down to the matched entry; answers it and its own base, and whether
// it was a match (else the bottom-most entry stopped the walk).
CallFrame* unroll_to_match(Kind kind, Cell** own, bool* matched) {
    CallFrame* e = top_frame();
    *own = state.stack_arguments;
    while (e > state.frames_bottom && e->kind() != kind && e->kind() != Kind::try_all) {
        restore_values(e);
        *own = cell_at(e->saved_base);
        --e;
    }
    *matched = e->kind() == kind || e->kind() == Kind::try_all;
    state.frames_top = e + 1;
    return e;
}

}  // namespace

void unroll_frames(Kind kind, bool keep) {
    Cell* old_base = state.stack_arguments;
    state.stack_top = old_base + 1;
    if (empty()) return;
    Cell* own;
    bool matched;
    CallFrame* e = unroll_to_match(kind, &own, &matched);
    if (keep) state.stack_arguments = own;
    else if (!matched) state.stack_arguments = state.stack_bottom;
    else state.stack_arguments = cell_at(e->saved_base);
}

void unroll_copy(Kind kind) {
    Cell* old_base = state.stack_arguments;
    if (empty()) return;
    Cell* own;
    bool matched;
    unroll_to_match(kind, &own, &matched);
    *own = *old_base;
    state.stack_arguments = state.stack_top = own;
}

// ---------------------------------------------------------------------------
// Non-local exits.

void raise_error(Cell* error) {
    if (!empty()) {
        Cell where;
        error::set_where(error, where_name(&where));
        error::mark_stack(error, frame_count());
    }
    if (!has_try_frame()) error::report_uncaught(error);
    Cell* remembered = state.stack_top;
    unroll_frames(Kind::try_, false);
    pop_frame();
    state.stack_top = remembered;
    Cell* raised = push_copy(error);
    // The catcher takes the error and drops the top below the limit.
    state.stack_end = argument_limit();
    throw error::exception_for(raised);
}

Status throw_break(bool with_value, bool continue_, const Cell* value) {
    const Cell result = with_value && value ? *value : unset::value;
    CallFrame* target = empty() ? nullptr : find_target(top_frame() - 1, [](const CallFrame* e) {
        return e->kind() == Kind::loop;
    });
    if (!target) fire(continue_ ? ErrorId::throw__continue_ : ErrorId::throw__break_);
    Cell* base = unwind_to(target);
    // GC: the result slot stays inside the frame's cells, where the
    // collector sees it until the loop takes it.
    *base = result;
    state.stack_arguments = base;
    state.stack_top = base + 1;
    state.thrown_code = continue_ ? throw_code::continue_ : throw_code::break_;
    return Status::thrown;
}

Status throw_return(bool with_value, bool keep_own_frame, const Cell* value) {
    const Cell result = with_value && value ? *value : unset::value;
    CallFrame* from = empty() ? nullptr : keep_own_frame ? top_frame() : top_frame() - 1;
    CallFrame* target = from ? find_target(from, [](const CallFrame* e) { return e->has_body_flag(); })
                             : nullptr;
    if (!target) fire(ErrorId::throw__return_);
    Cell* base = unwind_to(target);
    *base = result;
    state.stack_arguments = base;
    state.stack_top = base + 1;
    state.thrown_code = with_value ? throw_code::return_ : throw_code::exit;
    return Status::thrown;
}

namespace {

// Whether a catch entry takes a throw of that name: one without names takes
// every throw, one with names only a word! among them (by canonical
// symbol). A names block holding a non-word is taken as a match, so that
// the catch itself raises its error about the block.
bool catch_takes(const CallFrame* e, const Cell* thrown_name) {
    if (!e->saved_values) return true;
    const Cell* names = cell_at(e->saved_values);
    if (!thrown_name->is(Type::word)) return false;
    const std::uint32_t wanted = symbol::resolve(thrown_name->data2);
    if (names->is(Type::word)) return symbol::resolve(names->data2) == wanted;
    memory::SeriesBuffer* b = block::buffer(names);
    const std::int32_t head = series::head(names);
    const Cell* end = b->cells_tail();
    for (const Cell* c = b->cells() + (head < 0 ? 0 : head); c < end; ++c) {
        if (!c->is(Type::word) || symbol::resolve(c->data2) == wanted) return true;
    }
    return false;
}

}  // namespace

Status throw_value(std::uint32_t code, const Cell* value, const Cell* name) {
    const Cell thrown = *value;
    const Cell thrown_name = name ? *name : unset::value;
    if (empty()) fire(ErrorId::throw__throw_, &thrown);
    if (!state.throw_start) state.throw_start = top_frame();
    // A throw that no catch down to the next try/all entry takes fails here,
    // where the stacks still describe the throw call, not after the catches
    // on the way have unwound to themselves and thrown it on.
    CallFrame* target = find_target(top_frame() - 1, [&thrown_name](const CallFrame* e) {
        return e->kind() == Kind::catch_ && catch_takes(e, &thrown_name);
    });
    if (!target) fire(ErrorId::throw__throw_, &thrown);
    Cell* base = unwind_to(target);
    state.stack_arguments = state.stack_top = base;
    push_copy(&thrown);
    push_copy(&thrown_name);
    state.thrown_code = code;
    return Status::thrown;
}

// ---------------------------------------------------------------------------
// Names and traces.

Cell* current_function_word(Cell* out) { return named_word(nearest_named(state.frames_top), out); }

Cell* where_name(Cell* out) {
    const CallFrame* start = state.frames_top;
    if (state.throw_start && state.throw_start < state.frames_top) start = state.throw_start;
    state.throw_start = nullptr;
    // A try/all region holds code handed to it whole (the console's typed
    // input, a script): an error of that code's own top level names no
    // call, and the frames of whoever opened the region are not its place.
    for (const CallFrame* e = start - 1; e >= state.frames_bottom; --e) {
        if (e->kind() == Kind::try_all) return none::make_at(out);
        if (!is_hidden(e)) return frame_word(e, out);
    }
    return words::word(words::W::not_found, out);
}

void collect_calls(Cell* block) {
    for (const CallFrame* e = state.frames_top - 1; e > state.frames_bottom; --e) {
        if (is_hidden(e)) continue;
        Cell pair[2];
        const NodeId ctx = usable_context(e->function_context) ? e->function_context : context::global();
        word::lookup_in(ctx, e->symbol, &pair[0]);
        const auto position = static_cast<std::int32_t>(e->base() - state.stack_bottom);
        pair[1] = Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(position), 0};
        // GC: the words are in locals, seen by the stack scan, while the
        // block grows.
        *memory::append_slot(block) = pair[0];
        *memory::append_slot(block) = pair[1];
    }
}

void collect_words(std::int32_t level, Cell* block, std::int32_t end) {
    for_each_listed(level, end, [block](const CallFrame* e) {
        Cell w;
        frame_word(e, &w);
        *memory::append_slot(block) = w;
    });
}

int form_trace(std::int32_t level, const Cell* position, Cell* buffer, int limit) {
    const auto end = static_cast<std::int32_t>(position->data2);
    for_each_listed(level, end, [buffer, &limit](const CallFrame* e) {
        if (limit <= 0) return;
        Cell w;
        frame_word(e, &w);
        limit = error::form_limited(&w, buffer, limit);
        if (limit > 0) {
            string::append_literal(buffer, " ");
            --limit;
        }
    });
    return limit;
}

// ---------------------------------------------------------------------------
// The collector's marking.

void mark_frames() {
    if (!state.stack_bottom) return;
    collector::mark_values(state.stack_bottom, state.stack_top);
    for (CallFrame* e = state.frames_bottom; e < state.frames_top; ++e) {
        if (e->word_context) {
            if (is_self(e)) collector::mark_block(&e->word_context);
            else collector::mark_context(&e->word_context);
        }
        if (e->function_context) {
            collector::mark_context(&e->function_context);
            if (e->saved_values &&
                !(context::header(e->function_context)->header & context::flag::values_on_stack))
                collector::mark_block(&e->saved_values);
        }
    }
}

}  // namespace kiv::stack
