// Trace events: the tracing run that `do` starts with a callback, and the
// events handed to that callback.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/evaluator/interpreter-internal.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"

namespace kiv::interpreter {

using namespace internal;

namespace {

// The word that names an event.
Cell* event_word(Event event, Cell* out) {
    using words::W;
    switch (event) {
        case Event::init: return words::word(W::init, out);
        case Event::end: return words::word(W::end, out);
        case Event::prolog: return words::word(W::prolog, out);
        case Event::epilog: return words::word(W::epilog, out);
        case Event::enter: return words::word(W::enter, out);
        case Event::exit: return words::word(W::exit, out);
        case Event::open: return words::word(W::open, out);
        case Event::return_: return words::word(W::return_, out);
        case Event::fetch: return words::word(W::fetch, out);
        case Event::push: return words::word(W::push, out);
        case Event::set: return words::word(words::Sym::set, out);
        case Event::call: return words::word(W::call, out);
        case Event::error: return words::word(W::error, out);
        case Event::throw_: return words::word(W::throw_, out);
        case Event::catch_: return words::word(W::catch_, out);
        case Event::expr: return words::word(W::expr, out);
    }
    return none::make_at(out);
}

constexpr Event all_event_list[] = {
#define KIV_TRACE_EVENT_ITEM(ident, bit) Event::ident,
    KIV_TRACE_EVENTS(KIV_TRACE_EVENT_ITEM)
#undef KIV_TRACE_EVENT_ITEM
};

bool passes_ref(Event event) {
    switch (event) {
        case Event::set: case Event::epilog: case Event::prolog: case Event::return_: case Event::call:
            return true;
        default: return false;
    }
}

void trace_error(Cell* error) {
    if (fire_event(Event::error, nullptr, nullptr, nullptr, error) == Status::thrown) {
        // fire puts back the code pending before the report; a code the
        // callback started has nowhere to go from inside fire.
    }
}

}  // namespace

namespace internal {

void init_tracing() { set_error_tracer(trace_error); }

}  // namespace internal

std::uint32_t event_mask(const Cell* callback) {
    const Cell body = *function::more_cell(callback, function::more::body);
    if (!body.is(Type::block) || block::ks_length(&body) < 1) return all_events;
    const Cell first = block::buffer(&body)->cells()[series::head(&body)];
    if (!first.is(Type::block) || block::ks_length(&first) < 1) return all_events;
    std::uint32_t mask = 0;
    memory::SeriesBuffer* b = block::buffer(&first);
    for (const Cell* c = b->cells() + series::head(&first); c < b->cells_tail(); ++c) {
        if (!c->is(Type::word)) continue;
        for (Event e : all_event_list) {
            Cell w;
            event_word(e, &w);
            if (symbol::resolve(w.data2) == symbol::resolve(c->data2)) mask |= static_cast<std::uint32_t>(e);
        }
    }
    return mask;
}

Status fire_event(Event event, const Cell* code, const Cell* position, const Cell* ref,
                  const Cell* value) {
    if (!state.tracing || !(state.trace_mask & static_cast<std::uint32_t>(event))) return Status::ok;
    const Cell callback = state.trace_callback;
    if (!callback.is(Type::function)) return Status::ok;
    Cell* const saved_top = state.stack_top;
    stack::CallFrame* const saved_frames = state.frames_top;
    const auto base_at = static_cast<std::int32_t>(state.stack_arguments - state.stack_bottom);
    const auto top_at = static_cast<std::int32_t>(state.stack_top - state.stack_bottom);
    // The cell just above the top stays as it is while the callback runs.
    stack::push_cell()->header = static_cast<std::uint32_t>(Type::unset);
    Cell args[6];
    event_word(event, &args[0]);
    std::int32_t offset = -1;
    if (code && series::is_block_like(code->type())) {
        args[1] = *code;
        memory::SeriesBuffer* b = block::buffer(code);
        if (position && position >= b->cells() && position < b->cells_tail())
            offset = static_cast<std::int32_t>(position - b->cells());
    } else {
        none::make_at(&args[1]);
    }
    args[2] = Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(offset), 0};
    if (value) args[3] = *value;
    else none::make_at(&args[3]);
    if (ref && passes_ref(event)) args[4] = *ref;
    else none::make_at(&args[4]);
    args[5] = Cell{static_cast<std::uint32_t>(Type::pair), 0, static_cast<std::uint32_t>(base_at),
                   static_cast<std::uint32_t>(top_at)};
    Cell name;
    words::word(words::W::interp_callback, &name);
    state.tracing = false;
    Cell result;
    // The callback's own locals are filled in by the call.
    KIV_PROPAGATE(call_with_arguments(&callback, &name, args, 6, &result));
    state.tracing = true;
    state.stack_top = saved_top;
    stack::set_call_top(saved_frames);
    return Status::ok;
}

Status start_trace(const Cell* callback, bool* started) {
    *started = false;
    if (state.trace_run || !callback->is(Type::function)) return Status::ok;
    state.trace_callback = *callback;
    state.trace_extra = static_cast<std::int32_t>(argument_cache(callback)->data3) - 6;
    state.trace_mask = event_mask(callback);
    state.tracing = true;
    state.trace_run = true;
    *started = true;
    return fire_event(Event::init, nullptr, nullptr, nullptr, nullptr);
}

Status end_trace() {
    // The run is closed however the end event's callback leaves, an error
    // included: a run left open would keep every later do/trace from
    // starting one.
    struct CloseRun {
        ~CloseRun() {
            none::make_at(&state.trace_callback);
            state.tracing = false;
            state.trace_run = false;
            state.trace_mask = 0;
        }
    } close_run;
    const std::uint32_t pending = state.thrown_code;
    state.thrown_code = 0;
    Status s = Status::ok;
    if (state.trace_run) {
        state.tracing = true;
        s = fire_event(Event::end, nullptr, nullptr, nullptr, nullptr);
    }
    if (s == Status::ok) state.thrown_code = pending;
    return s;
}

// Outside a run there is no handler to send events to, so nothing changes;
// the run itself goes on either way and ends with its end event.
void set_tracing(bool on) {
    state.tracing = on && state.trace_run && state.trace_callback.is(Type::function);
}

}  // namespace kiv::interpreter
