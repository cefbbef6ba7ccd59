// The loops and their iteration steps.
//
// Every loop opens a loop frame (named <body>) on the call stack, where
// break and continue find it, and keeps its state (cursor, words, counters)
// as cells on the argument stack below that frame. The frame's first cell
// holds the value of the last round, or what break left there; closing the
// frame copies it down to the native's result slot.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/compiled.h"
#include "runtime/evaluator/interpreter-internal.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"

namespace kiv::natives {

namespace {

using interpreter::internal::word_slot;

enum class Round : std::uint8_t { normal, continued, broke };

void open_loop() { stack::push_named_frame(interpreter::internal::body_symbol, stack::header::loop); }

// One evaluation of the body under the loop protocol: the stack top goes
// back to the loop frame first; break and continue end here, any other
// code passes on.
Status run_round(const Cell* body, Round* round) {
    state.stack_top = state.stack_arguments;
    if (interpreter::eval_block(body, true) == Status::ok) [[likely]] {
        *round = Round::normal;
        return Status::ok;
    }
    switch (stack::take_loop_exit()) {
        case stack::LoopExit::continued: *round = Round::continued; return Status::ok;
        case stack::LoopExit::broke: *round = Round::broke; return Status::ok;
        case stack::LoopExit::passes_on: break;
    }
    return Status::thrown;
}

// Closes the loop frame, its first cell becoming the native's result.
Status close_loop() {
    state.stack_top = state.stack_arguments + 1;
    stack::close_copy();
    return Status::ok;
}

// A loop count: a float! is truncated toward zero, in place.
std::int32_t loop_count(Cell* value) {
    const std::int32_t n = compiled::integer_arg(value);
    *value = integer::make_cell(n);
    return n;
}

// Whether the cursor has a value at its index.
bool more_values(const Cell* cursor) { return !series::ks_tail_q(cursor); }

void set_word(const Cell* word, const Cell* value) {
    // PERF: a word of a global or function context is stored directly.
    if (Cell* slot = interpreter::internal::plain_slot(word)) {
        *slot = *value;
        return;
    }
    Cell w = *word;
    context::set(&w, value);
}

// The value at a 1-based position from the cursor, as `pick` gives it.
Cell pick_at(const Cell* cursor, std::int32_t i) {
    if (series::is_block_like(cursor->type())) {
        memory::SeriesBuffer* b = block::buffer(cursor);
        const std::int64_t at = static_cast<std::int64_t>(series::head(cursor)) + i - 1;
        if (at < 0 || at >= static_cast<std::int64_t>(b->length())) return none::value;
        return b->cells()[at];
    }
    Cell c = *cursor;
    Cell index = integer::make_cell(i);
    return *actions::dispatch<Action::pick>(&c, i, &index);
}

// Word i of a list of words. The body may have changed the list since the
// loop began: a value that is no word fires script invalid-arg, and so does
// a position past the list's end (none).
Cell list_word(const Cell* list, std::int32_t i) {
    const std::int64_t at = static_cast<std::int64_t>(series::head(list) < 0 ? 0 : series::head(list)) + i;
    memory::SeriesBuffer* b = block::buffer(list);
    Cell w = at < static_cast<std::int64_t>(b->length()) ? b->cells()[at] : none::value;
    if (!word::is_any_word(&w)) fire(ErrorId::script_invalid_arg, &w);
    return w;
}

// Sets the loop's word (or words) from the cursor and advances it.
void step(Cell* cursor, const Cell* words, std::int32_t count) {
    if (words->is(Type::word)) {
        const Cell v = pick_at(cursor, 1);
        set_word(words, &v);
    } else if (series::is_block_like(cursor->type())) {
        Cell values = *cursor;
        Cell list = *words;
        assign_words(&list, &values, count, false, false, false);
    } else {
        if (cursor->is(Type::map)) fire(ErrorId::internal_not_done);
        for (std::int32_t i = 0; i < count; ++i) {
            const Cell w = list_word(words, i);
            const Cell v = pick_at(cursor, i + 1);
            set_word(&w, &v);
        }
    }
    series::set_head(cursor, static_cast<std::int64_t>(series::head(cursor)) + count);
}

// The word count of foreach and remove-each: a block's length, else 1.
std::int32_t word_count(const Cell* words, const Cell* series) {
    if (!words->is(Type::block)) {
        if (series->is(Type::map)) {
            Cell w = *words;
            fire(ErrorId::script_invalid_arg, &w);
        }
        return 1;
    }
    const std::int32_t n = block::ks_length(words);
    if (n <= 0 || (series->is(Type::map) && n != 2)) {
        Cell w = *words;
        fire(ErrorId::script_invalid_arg, &w);
    }
    return n;
}

bool iterable(Type t) {
    return series::is_block_like(t) || series::is_any_string(t) || t == Type::binary ||
           t == Type::vector || t == Type::image;
}

}  // namespace

void assign_words(Cell* words, Cell* values, std::int32_t count, bool any, bool only, bool some) {
    const Type vt = values->type();
    const bool each = !only && (series::is_block_like(vt) || vt == Type::map);
    const Cell list = *words;
    for (std::int32_t i = 0; i < count; ++i) {
        const Cell w = list_word(&list, i);
        if (each && !any) {
            const Cell v = pick_at(values, i + 1);
            if (v.is(Type::unset)) fire(ErrorId::script_need_value, &w);
        }
    }
    for (std::int32_t i = 0; i < count; ++i) {
        const Cell w = list_word(&list, i);
        const Cell v = each ? pick_at(values, i + 1) : *values;
        if (some && v.is(Type::none)) continue;
        set_word(&w, &v);
    }
}

namespace entries {

Status while_(const std::int32_t*, std::int32_t) {
    Cell* const f = state.stack_arguments;
    open_loop();
    KIV_PROPAGATE(interpreter::internal::while_rounds(f));
    return close_loop();
}

Status until(const std::int32_t*, std::int32_t) {
    Cell* const f = state.stack_arguments;
    open_loop();
    Cell* const result = state.stack_arguments;
    for (;;) {
        Round round;
        KIV_PROPAGATE(run_round(f, &round));
        if (round == Round::broke) break;
        if (round == Round::continued) continue;
        if (truthy_strict(result)) break;
    }
    return close_loop();
}

Status loop(const std::int32_t*, std::int32_t) {
    Cell* const f = state.stack_arguments;
    std::int32_t n = loop_count(f);
    if (n <= 0) {
        none::make_at(f);
        return Status::ok;
    }
    open_loop();
    unset::make_at(state.stack_arguments);
    KIV_PROPAGATE(interpreter::internal::count_rounds(f, n));
    return close_loop();
}

Status repeat(const std::int32_t*, std::int32_t) {
    Cell* const f = state.stack_arguments;
    const std::int32_t n = loop_count(f + 1);
    if (n <= 0) {
        none::make_at(f);
        return Status::ok;
    }
    open_loop();
    unset::make_at(state.stack_arguments);
    KIV_PROPAGATE(interpreter::internal::repeat_rounds(f, n));
    return close_loop();
}

Status forever(const std::int32_t*, std::int32_t) {
    Cell* const f = state.stack_arguments;
    open_loop();
    for (;;) {
        Round round;
        KIV_PROPAGATE(run_round(f, &round));
        if (round == Round::broke) break;
    }
    return close_loop();
}

Status foreach(const std::int32_t*, std::int32_t) {
    Cell* const f = state.stack_arguments;
    const std::int32_t count = word_count(f, f + 1);
    Cell* cursor = stack::push_copy(f + 1);
    Cell* words = stack::push_copy(f);
    open_loop();
    Cell* const result = state.stack_arguments;
    unset::make_at(result);
    state.stack_top = result + 1;
    const bool map = cursor->is(Type::map);
    if (words->is(Type::word) && series::is_block_like(cursor->type())) {
        KIV_PROPAGATE(interpreter::internal::foreach_block_rounds(cursor, words, f + 2));
        return close_loop();
    }
    while (map ? map::foreach_next(words, cursor) : more_values(cursor)) {
        if (!map) step(cursor, words, count);
        Round round;
        KIV_PROPAGATE(run_round(f + 2, &round));
        if (round == Round::broke) break;
        state.stack_top = result + 1;
    }
    return close_loop();
}

Status forall(const std::int32_t*, std::int32_t) {
    Cell* const f = state.stack_arguments;
    const Cell start = *word_slot(f);
    if (!iterable(start.type())) {
        Cell name;
        word::load("forall", &name);
        Cell type;
        registry::make_datatype(&type, start.type());
        Cell w = *f;
        fire(ErrorId::script_expect_arg, &name, &type, &w);
    }
    Cell* word = stack::push_copy(f);
    Cell* saved = stack::push_copy(&start);
    open_loop();
    Cell* const result = state.stack_arguments;
    unset::make_at(result);
    bool broke = false;
    while (more_values(word_slot(word))) {
        Round round;
        KIV_PROPAGATE(run_round(f + 1, &round));
        if (round == Round::broke) {
            broke = true;
            break;
        }
        Cell* now = word_slot(word);
        if (now->data2 != saved->data2 || !iterable(now->type())) {
            Cell bad = *now;
            fire(ErrorId::script_bad_loop_series, &bad);
        }
        series::set_head(now, static_cast<std::int64_t>(series::head(now)) + 1);
    }
    if (!broke) set_word(word, saved);
    return close_loop();
}

Status remove_each(const std::int32_t*, std::int32_t) {
    Cell* const f = state.stack_arguments;
    const std::int32_t count = word_count(f, f + 1);
    Cell* const data = stack::push_copy(f + 1);
    Cell* const cursor = stack::push_copy(f + 1);
    Cell* const words = stack::push_copy(f);
    Cell part = integer::make_cell(count);
    open_loop();
    Cell* const result = state.stack_arguments;
    for (;;) {
        if (!more_values(cursor)) {
            *result = *data;
            break;
        }
        step(cursor, words, count);
        Round round;
        KIV_PROPAGATE(run_round(f + 2, &round));
        if (round == Round::broke) {
            // A plain break leaves unset; break/return its value.
            if (result->is(Type::unset)) *result = *data;
            break;
        }
        if (round == Round::continued || !truthy(result)) continue;
        series::set_head(cursor, static_cast<std::int64_t>(series::head(cursor)) - count);
        Cell at = *cursor;
        actions::dispatch<Action::remove>(&at, count > 1 ? &part : nullptr, nullptr);
    }
    return close_loop();
}

}  // namespace entries

}  // namespace kiv::natives
