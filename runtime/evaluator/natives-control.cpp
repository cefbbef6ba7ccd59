// Conditionals, switch, case, do, and the natives that take or start the
// non-local exits: try, catch, throw, break, continue, exit and return.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter-internal.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"

namespace kiv::natives {

namespace {

// The cells of a block from its index (clamped) to its tail.
struct Span {
    Cell* pos;
    Cell* end;
};
Span span_of(const Cell* block) {
    memory::SeriesBuffer* b = block::buffer(block);
    const std::int32_t head = series::head(block);
    Cell* end = b->cells_tail();
    Cell* pos = b->cells() + (head < 0 ? 0 : head);
    return {pos < end ? pos : end, end};
}

Cell word_of(words::W w) {
    Cell c;
    words::word(w, &c);
    return c;
}

// Puts back what an evaluation that left by an error may have changed of
// the interpreter's state.
struct InterpreterState {
    Cell near = state.near;
    bool tracing = state.tracing;
    void restore() const {
        state.near = near;
        state.tracing = tracing;
    }
};

// ---------------------------------------------------------------------------
// any and all.

template <bool Any>
Status any_all() {
    const Cell code = *arg(0);
    Span s = span_of(&code);
    stack::push_copy(&code);
    Cell* base = state.stack_arguments;
    while (s.pos < s.end) {
        state.stack_top = base + 2;
        KIV_PROPAGATE(interpreter::eval_next_at(&code, s.pos, s.end, false));
        const bool t = truthy(base);
        if (Any && t) return Status::ok;
        if (!Any && !t) break;
        if (!Any && s.pos >= s.end) return Status::ok;
    }
    none::make_at(base);
    return Status::ok;
}

// ---------------------------------------------------------------------------
// switch.

// The first block after a case equal to the value (same datatype and
// equal?), or null; `matched` tells whether a case matched at all.
const Cell* find_case(const Cell* value, const Cell* cases, bool* matched) {
    *matched = false;
    if (value->is(Type::block)) return nullptr;
    const Cell list = *cases;
    const std::int32_t head = series::head(&list) < 0 ? 0 : series::head(&list);
    for (std::int32_t i = head;; ++i) {
        memory::SeriesBuffer* b = block::buffer(&list);
        const auto tail = static_cast<std::int32_t>(b->length());
        if (i >= tail) return nullptr;
        Cell candidate = b->cells()[i];
        if (candidate.type() != value->type()) continue;
        Cell left = *value;
        if (actions::dispatch<Action::compare>(&left, &candidate, CompareOp::equal) != 0) continue;
        *matched = true;
        // GC: compare may allocate; read the cells again.
        b = block::buffer(&list);
        for (std::int32_t j = i + 1; j < static_cast<std::int32_t>(b->length()); ++j)
            if (b->cells()[j].is(Type::block)) return b->cells() + j;
        return nullptr;
    }
}

// ---------------------------------------------------------------------------
// do.

// Runs the library's preprocessor over the code in place (do/expand).
// GC: the call block is made before anything is put in it; the code is a
// local copy, which the collector finds on the C++ stack.
Status expand_first(const Cell* value) {
    const Cell code = *value;
    Cell call;
    block::make_at(&call, 3);
    Cell item;
    block::append_value(&call, word::load("expand-directives", &item));
    block::append_value(&call, word::load("quote", &item));
    block::append_value(&call, &code);
    return interpreter::eval_block(&call, true);
}

Status do_block(const Cell* value, const std::int32_t* args) {
    Cell code = *value;
    if (ref_used(args, 1)) KIV_PROPAGATE(expand_first(&code));
    const std::int32_t length = static_cast<std::int32_t>(block::buffer(&code)->length());
    if (series::head(&code) > length) series::set_head(&code, length);
    if (Cell* position = ref_arg(args, 3)) {
        const Cell word = *position;
        Span s = span_of(&code);
        Cell* const first = block::buffer(&code)->cells();
        KIV_PROPAGATE(interpreter::eval_next_at(&code, s.pos, s.end, false));
        Cell after = code;
        series::set_head(&after, s.pos - first);
        Cell w = word;
        context::set(&w, &after);
        return Status::ok;
    }
    return interpreter::eval_block(&code, true);
}

// Runs a script file or url through the library's do-file, with the /args
// value (none without it).
// GC: the call block is made before the words are loaded into it; the
// values come from argument cells, which the collector scans.
Status do_file(const Cell* value, const std::int32_t* args) {
    Cell call;
    block::make_at(&call, 4);
    Cell item;
    block::append_value(&call, word::load("do-file", &item));
    block::append_value(&call, value);
    block::append_value(&call, none::make_at(&item));
    const Cell* script_args = ref_arg(args, 2);
    block::append_value(&call, script_args ? script_args : none::make_at(&item));
    return interpreter::eval_block(&call, true);
}

Status do_value(Cell* value, const std::int32_t* args) {
    switch (value->type()) {
        case Type::block: case Type::paren: case Type::hash: return do_block(value, args);
        case Type::string: {
            if (!block::load_text_hook) fire(ErrorId::internal_not_done);
            Cell text = *value;
            Cell loaded;
            none::make_at(&loaded);
            block::load_text_hook(&text, &loaded);
            *arg(0) = loaded;
            return do_block(&loaded, args);
        }
        case Type::file: case Type::url: return do_file(value, args);
        case Type::error: {
            Cell error = *value;
            stack::raise_error(&error);
        }
        default: {
            // Any other value is one expression of its own.
            Cell* pos = value;
            KIV_PROPAGATE(interpreter::eval_expression(pos, value + 1, nullptr, 0));
            *arg(0) = *(state.stack_top - 1);
            return Status::ok;
        }
    }
}

// Whether a thrown name matches the /name of a catch.
bool name_matches(const Cell* thrown, const Cell* wanted) {
    if (!thrown->is(Type::word)) return false;
    const std::uint32_t t = symbol::resolve(thrown->data2);
    if (wanted->is(Type::word)) return symbol::resolve(wanted->data2) == t;
    const Cell list = *wanted;
    Span s = span_of(&list);
    for (Cell* c = s.pos; c < s.end; ++c) {
        if (!c->is(Type::word)) {
            Cell refinement;
            refinement::load("name", &refinement);
            Cell bad = list;
            fire(ErrorId::script_invalid_refine_arg, &refinement, &bad);
        }
        if (symbol::resolve(c->data2) == t) return true;
    }
    return false;
}

}  // namespace

namespace entries {

// ---------------------------------------------------------------------------
// Conditionals.

Status if_(const std::int32_t*, std::int32_t) {
    if (truthy(arg(0))) return interpreter::eval_block(arg(1), true);
    none::make_at(arg(0));
    state.stack_top = state.stack_arguments + 1;
    return Status::ok;
}

Status unless(const std::int32_t*, std::int32_t) {
    if (!truthy(arg(0))) return interpreter::eval_block(arg(1), true);
    none::make_at(arg(0));
    state.stack_top = state.stack_arguments + 1;
    return Status::ok;
}

Status either(const std::int32_t*, std::int32_t) {
    return interpreter::eval_block(truthy_strict(arg(0)) ? arg(1) : arg(2), true);
}

Status any(const std::int32_t*, std::int32_t) { return any_all<true>(); }
Status all(const std::int32_t*, std::int32_t) { return any_all<false>(); }

Status switch_(const std::int32_t* args, std::int32_t) {
    bool matched;
    const Cell* found = find_case(arg(0), arg(1), &matched);
    if (found) {
        const Cell block = *found;
        return interpreter::eval_block(&block, true);
    }
    if (!matched) {
        if (Cell* fallback = ref_arg(args, 1)) {
            const Cell block = *fallback;
            return interpreter::eval_block(&block, true);
        }
    }
    none::make_at(arg(0));
    return Status::ok;
}

Status case_(const std::int32_t* args, std::int32_t) {
    const bool all = ref_used(args, 1);
    const Cell cases = *arg(0);
    Span s = span_of(&cases);
    Cell* result = arg(0);
    if (s.pos >= s.end) {
        none::make_at(result);
        return Status::ok;
    }
    const Cell anon = word_of(words::W::anon);
    stack::push_native_frame(&anon);
    Cell* base = state.stack_arguments;
    none::make_at(result);
    while (s.pos < s.end) {
        state.stack_top = base;
        none::make_at(result);
        KIV_PROPAGATE(interpreter::eval_expression(s.pos, s.end, &cases, 0));
        if (s.pos >= s.end) {
            Cell w;
            words::word(words::Sym::case_, &w);
            fire(ErrorId::script_need_value, &w);
        }
        if (!truthy_strict(base)) {
            ++s.pos;
            continue;
        }
        if (s.pos->is(Type::block)) {
            const Cell block = *s.pos++;
            KIV_PROPAGATE(interpreter::eval_block(&block, false));
        } else {
            KIV_PROPAGATE(interpreter::eval_expression(s.pos, s.end, &cases, 0));
        }
        *result = *(state.stack_top - 1);
        if (!all) break;
    }
    stack::close();
    state.stack_top = result + 1;
    return Status::ok;
}

// Ends a trace run that an error is leaving. The error's raising has
// already unrolled the frames to the try that takes it, the try frame
// included, so the end event's callback runs under a try frame of its own:
// an error it raises there is dropped and the first error goes on. The
// stacks are put back as the raising left them, which the catcher expects.
void end_trace_after_error() {
    Cell* const top = state.stack_top;
    Cell* const arguments = state.stack_arguments;
    Cell* const end = state.stack_end;
    stack::CallFrame* const frames = state.frames_top;
    const Cell near = state.near;
    state.thrown_code = 0;
    const Cell name = word_of(words::W::try_);
    stack::push_try_frame(&name);
    try {
        (void)interpreter::end_trace();
    } catch (const KivError&) {
    }
    state.near = near;
    state.thrown_code = 0;
    state.stack_top = top;
    state.stack_arguments = arguments;
    state.stack_end = end;
    stack::set_call_top(frames);
}

Status do_(const std::int32_t* args, std::int32_t) {
    Cell* callback = ref_arg(args, 4);
    bool started = false;
    if (callback) KIV_PROPAGATE(interpreter::start_trace(callback, &started));
    if (!started) return do_value(arg(0), args);
    Status s;
    try {
        s = do_value(arg(0), args);
    } catch (const KivError&) {
        end_trace_after_error();
        throw;
    }
    KIV_PROPAGATE(interpreter::end_trace());
    return state.thrown_code ? Status::thrown : s;
}

// ---------------------------------------------------------------------------
// try and catch.

Status try_(const std::int32_t* args, std::int32_t) {
    const bool all = ref_used(args, 1);
    const bool keep = ref_used(args, 2);
    const Cell block = *arg(0);
    const InterpreterState saved;
    const Cell name = word_of(words::W::try_);
    if (all) stack::push_try_all_frame(&name);
    else stack::push_try_frame(&name);
    try {
        const Status s = interpreter::eval_block(&block, true);
        if (s == Status::thrown) return Status::thrown;
    } catch (const KivError&) {
        // The error's raising made this native's frame current again, the
        // error above its top.
        saved.restore();
        state.thrown_code = 0;
        stack::keep_error();
        if (keep) error::capture_stack(arg(0));
        return Status::ok;
    }
    stack::close_copy();
    return Status::ok;
}

Status catch_(const std::int32_t* args, std::int32_t) {
    const Cell block = *arg(0);
    Cell* wanted = ref_arg(args, 1);
    stack::push_named_frame(interpreter::internal::body_symbol, stack::header::catch_);
    if (wanted) stack::set_catch_names(wanted);
    const stack::CallFrame* const own = stack::top_frame();
    const Status s = interpreter::eval_block(&block, true);
    if (s == Status::ok) {
        stack::close_copy();
        return Status::ok;
    }
    // A throw whose names this catch does not take went to a catch below:
    // the stacks are unwound to that one already.
    if (state.thrown_code != throw_code::throw_ || stack::top_frame() != own) return Status::thrown;
    // The catch frame is current: the thrown value, then its name.
    Cell* base = state.stack_arguments;
    if (wanted && !name_matches(base + 1, wanted)) {
        const Cell value = base[0];
        const Cell thrown_name = base[1];
        state.thrown_code = 0;
        stack::revert();
        return stack::throw_value(throw_code::throw_, &value, &thrown_name);
    }
    stack::took_throw();
    if (interpreter::tracing()) [[unlikely]] {
        const Cell caught = base[0];
        KIV_PROPAGATE(interpreter::fire_event(interpreter::Event::catch_, nullptr, nullptr, nullptr, &caught));
    }
    state.stack_top = base + 1;
    stack::close_copy();
    return Status::ok;
}

Status throw_(const std::int32_t* args, std::int32_t) {
    if (interpreter::tracing()) [[unlikely]]
        KIV_PROPAGATE(interpreter::fire_event(interpreter::Event::throw_, nullptr, nullptr, nullptr, arg(0)));
    const Cell value = *arg(0);
    const Cell* name = ref_arg(args, 1);
    return stack::throw_value(throw_code::throw_, &value, name);
}

// ---------------------------------------------------------------------------
// Loop and function exits.

Status break_(const std::int32_t* args, std::int32_t) {
    const Cell* value = ref_arg(args, 1);
    return stack::throw_break(value != nullptr, false, value);
}

Status continue_(const std::int32_t*, std::int32_t) { return stack::throw_break(false, true, nullptr); }

Status exit(const std::int32_t*, std::int32_t) { return stack::throw_return(false, false, nullptr); }

Status return_(const std::int32_t*, std::int32_t) {
    const Cell value = *arg(0);
    return stack::throw_return(true, false, &value);
}

}  // namespace entries

}  // namespace kiv::natives
