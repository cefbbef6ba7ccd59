// The parse engine: its two stacks, the run loop and the states that walk
// the rules. Matching values lives in parse-match.cpp, the keywords and the
// completion of keyword rules in parse-keywords.cpp.
//
// A run: save the stacks' state, push the input, push a block frame for the
// top-level rules, then one state per turn until the end state. Every way
// out clears what the run pushed (StackGuard), so an error, a throw or a
// stop asked by the callback leaves the stacks as the run found them.
//
// GC: the run's cells live on the C++ stack (seen by the stack scan), the
// stacks are root cells, the collect targets sit on the argument stack.
// Code that runs inside (parens, the callback, insert and change) may move
// the rule block and the input or cut them: positions are kept as indexes
// and put back in range after each such call.
#include "runtime/evaluator/parse.h"

#include <algorithm>
#include <limits>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/parse-engine.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/state.h"

namespace kiv::parse {

namespace detail {

namespace {

Cell* input_stack() { return &state.parse_inputs; }
Cell* rule_stack() { return &state.parse_rules; }
std::int32_t used(const Cell* stack) { return static_cast<std::int32_t>(block::buffer(stack)->length()); }
Cell* stack_cells(const Cell* stack) { return block::buffer(stack)->cells(); }

Cell triple_of(std::int32_t a, std::int32_t b, std::int32_t c) {
    Cell t{};
    return *triple::make_at(&t, a, b, c);
}

Cell marker_of(std::int32_t type, bool pick) {
    return Cell{static_cast<std::uint32_t>(Type::pair), 0, static_cast<std::uint32_t>(type),
                pick ? 1u : 0u};
}

// Saves the stacks' positions when another run is using them, and clears
// what this run pushed on every way out.
class StackGuard {
public:
    StackGuard() {
        Cell* rules = rule_stack();
        Cell* inputs = input_stack();
        if (block::ks_length(rules) <= 0) return;
        const Cell mark = triple_of(series::head(rules), series::head(inputs), 0);
        block::ks_append(rules, &mark);
        series::set_head(rules, used(rules));
        series::set_head(inputs, used(inputs));
        marked_ = true;
    }
    ~StackGuard() {
        Cell* rules = rule_stack();
        Cell* inputs = input_stack();
        block::ks_truncate(rules, series::head(rules));
        block::ks_truncate(inputs, series::head(inputs));
        if (!marked_) return;
        const std::int32_t at = series::head(rules) - 1;
        const Cell mark = stack_cells(rules)[at];
        series::set_head(rules, triple::a(&mark));
        series::set_head(inputs, triple::b(&mark));
        block::ks_truncate(rules, at);
    }
    StackGuard(const StackGuard&) = delete;
    StackGuard& operator=(const StackGuard&) = delete;

private:
    bool marked_ = false;
};

// While language code runs, the input stack's position stands past its
// entries.
class InputsAside {
public:
    InputsAside() : saved_(series::head(input_stack())) {
        series::set_head(input_stack(), used(input_stack()));
    }
    ~InputsAside() { series::set_head(input_stack(), saved_); }
    InputsAside(const InputsAside&) = delete;
    InputsAside& operator=(const InputsAside&) = delete;

private:
    std::int32_t saved_;
};

std::int32_t input_depth() { return block::ks_length(input_stack()); }

}  // namespace

// ---------------------------------------------------------------------------
// Input position.

void Engine::set_pos(std::int32_t p) { series::set_head(&input, p); }

void Engine::enter_input(const Cell* series, std::int32_t stop) {
    input = *series;
    input.clear_new_line();
    const Type t = input.type();
    kind = series::is_block_like(t) ? InputKind::block
           : t == Type::binary      ? InputKind::binary
                                    : InputKind::string;
    limit = stop;
    if (pos() > length()) set_pos(length());
    if (pos() < 0) set_pos(0);
    recompute_end();
}

// ---------------------------------------------------------------------------
// Rules.

void Engine::fire_end(Keyword k) const {
    Cell w;
    keyword_word(k, &w);
    fire(ErrorId::script_parse_end, &w);
}

void Engine::fire_rule(Keyword k) const {
    Cell w;
    keyword_word(k, &w);
    fire(ErrorId::script_parse_rule, &w);
}

// ---------------------------------------------------------------------------
// The rule stack.

void Engine::check_stacks() const {
    if (used(rule_stack()) > max_stack_cells || used(input_stack()) > max_stack_cells)
        fire(ErrorId::script_parse_stack);
}

void Engine::push_frame(const Cell& c1, const Cell& c2, const Cell& c3) {
    check_stacks();
    const Cell frame[3] = {c1, c2, c3};
    memory::SeriesBuffer* b = frames();
    // GC: the cells are copied before the stack may grow (and move).
    Cell* at;
    if (b->room() >= sizeof(frame)) {
        at = b->cells_tail();
        b->tail += sizeof(frame);
    } else {
        at = reinterpret_cast<Cell*>(memory::alloc_tail_bytes(b, sizeof(frame)));
        sync();
    }
    at[0] = frame[0];
    at[1] = frame[1];
    at[2] = frame[2];
}

void Engine::drop_frame() { frames_->tail -= 3 * sizeof(Cell); }

void Engine::set_word(const Cell* word, const Cell* v) {
    Cell w = *word;
    context::set(&w, v);
    sync();
}

void Engine::drop_rule_frame() {
    const std::int32_t t = top_type();
    drop_frame();
    // A keep learns this way that the rule it kept was a copy.
    if (top_is_rule() && (top_type() == rule::keep || top_type() == rule::keep_paren)) {
        Cell* f = top_frame();
        f[0] = triple_of(triple::a(f), triple::b(f), t);
    }
}

// ---------------------------------------------------------------------------
// Language code: parens and the callback.

void Engine::after_code(bool on_cell) {
    // cmd stood on a cell (a paren): it stays on one; else it may be at the tail.
    sync();
    const std::int32_t tail = rule_tail();
    if (cmd > tail - (on_cell ? 1 : 0)) cmd = tail - (on_cell ? 1 : 0);
    if (pos() > length()) set_pos(length());
    recompute_end();
}

bool Engine::eval_paren(const Cell* paren) {
    Cell code = *paren;
    Status status;
    {
        InputsAside aside;
        status = eval::eval_block(&code, &last_paren);
    }
    if (status == Status::thrown) {
        thrown = true;
        return false;
    }
    after_code(true);
    return true;
}

bool Engine::call_callback(words::W event) {
    // The callback's frame: event, match?, rule, input and stack, then its
    // local slots (false for /local, none for the words after it).
    const NodeId context = callback.data1;
    const std::int32_t count = context::word_count(context);
    const std::int32_t locals = function::count_locals(callback.data2, 0, false);
    Cell name;
    words::word(words::W::parse_callback, &name);
    stack::push_function_frame(&name, context);
    for (std::int32_t i = 0; i < count; ++i) {
        Cell arg;
        switch (i < count - locals ? i : -1) {
            case 0: words::word(event, &arg); break;
            case 1: logic::make_at(&arg, match); break;
            case 2:
                arg = rules;
                series::set_head(&arg, std::max(cmd, 0));
                break;
            case 3: arg = input; break;
            case 4:
                // A copy: the callback may change it, the engine's own must
                // stay as the engine left it.
                block::clone(rule_stack(), false, false, &arg);
                break;
            default:
                if (i == count - locals) logic::make_at(&arg, false);
                else none::make_at(&arg);
        }
        stack::push_copy(&arg);
    }
    Cell answer;
    Cell function = callback;
    Status status;
    {
        InputsAside aside;
        status = eval::call_function(&function, &name, state.stack_arguments, count, &answer);
    }
    if (status == Status::thrown) {
        thrown = true;
        return false;
    }
    // The top goes back where the frame began: the parse native's frame
    // (and the cells of collect) below it stays whole.
    stack::pop_frame();
    after_code(false);
    return !logic::falsy(&answer);
}

// ---------------------------------------------------------------------------
// The states.

Step Engine::push_block() {
    Cell none_cell;
    none::make_at(&none_cell);
    push_frame(none_cell, triple_of(cmd - rule_head(), pos(), length()), rules);
    rules = value;
    rules.clear_new_line();
    sync_rules();
    cmd = rule_head() - 1;
    match = true;
    recompute_end();
    if (!trace(words::W::push)) return Step::halt;
    return Step::next_action;
}

Step Engine::pop_block() {
    if (frames_length() <= 3) {
        if (!trace(words::W::pop)) return Step::halt;
        return Step::end;
    }
    block_done = cmd_at_tail();
    if (!trace(words::W::pop)) return Step::halt;
    const Cell* f = top_frame();
    const std::int32_t index = triple::a(f + 1);
    rules = f[2];
    sync_rules();
    cmd = rule_head() + index;
    drop_frame();
    if (top_is_rule()) return Step::pop_rule;
    return match ? Step::next_action : Step::find_alternative;
}

Step Engine::push_rule() {
    const Cell first = type == rule::copy || type == rule::set ? target : triple_of(min, max, 1);
    push_frame(first, triple_of(cmd - rule_head(), pos(), length()), marker_of(type, pick));
    pick = false;
    if (!cmd_at_tail()) ++cmd;
    if (!trace(words::W::push)) return Step::halt;
    return rule_of_frame();
}

// The cell at cmd is the rule of the keyword on top of the rule stack.
Step Engine::rule_of_frame() {
    if (cmd_at_tail()) {
        switch (top_type()) {
            case rule::to: fire_end(Keyword::to);
            case rule::thru: fire_end(Keyword::thru);
            case rule::not_: fire_end(Keyword::not_);
            case rule::remove: fire_end(Keyword::remove);
            case rule::while_: fire_end(Keyword::while_);
            case rule::collect: fire_end(Keyword::collect);
            case rule::keep:
            case rule::keep_paren: fire_end(Keyword::keep);
            case rule::ahead: fire_end(Keyword::ahead);
            default: break;
        }
        match = true;
        return check_pending();
    }
    value = rule_cells()[cmd];
    return Step::match_rule;
}

Step Engine::pop_rule() {
    if (!top_is_rule()) {
        if (pop_flag) {
            pop_flag = false;
            return Step::pop_block;
        }
        return Step::next_action;
    }
    return complete_rule(top_type());
}

Step Engine::finish_rule() {
    if (!trace(words::W::pop)) return Step::halt;
    drop_rule_frame();
    return check_pending();
}

Step Engine::do_action() {
    switch (value.type()) {
        case Type::word:
            keyword_rule = false;
            return Step::word;
        case Type::block:
            return Step::push_block;
        case Type::datatype:
        case Type::typeset:
            return datatype_rule();
        case Type::set_word:
            set_word(&value, &input);
            return check_pending();
        case Type::get_word:
            return get_word_rule();
        case Type::integer:
            return integer_rule();
        case Type::paren:
            if (!eval_paren(&value)) return Step::halt;
            if (!trace(words::W::paren)) return Step::halt;
            return check_pending();
        case Type::path:
            fire(ErrorId::script_parse_rule, &value);
        default:
            return Step::match;
    }
}

Step Engine::next_input() {
    set_pos(pos() + 1);
    recompute_end();
    return check_pending();
}

Step Engine::next_action() {
    ++cmd;
    if (!cmd_at_tail()) {
        if (tracing && !call_callback(words::W::fetch)) return Step::halt;
        if (!tracing || !cmd_at_tail()) {
            value = rule_cells()[cmd];
            if (refetch) {
                refetch = false;
                return Step::match_rule;
            }
            // PERF: words, the most common items, go to their state at once.
            if (value.is(Type::word)) {
                keyword_rule = false;
                return word_state();
            }
            return Step::do_action;
        }
    }
    refetch = false;
    return top_is_rule() ? Step::pop_rule : Step::pop_block;
}

Step Engine::match_value() {
    std::int32_t covered = 0;
    match = match_at(pos(), &value, &covered);
    if (match) set_pos(pos() + covered);
    recompute_end();
    if (!trace(words::W::match)) return Step::halt;
    return check_pending();
}

// Applies a keyword's rule: sub-rules go through the states, a simple value
// under a repetition or to/thru is counted or searched for at once.
Step Engine::match_rule() {
    switch (value.type()) {
        case Type::block:
            return Step::push_block;
        case Type::word:
            keyword_rule = true;
            return Step::word;
        case Type::integer:
        case Type::paren:
        case Type::typeset:
        case Type::datatype:
            return Step::do_action;
        default:
            break;
    }
    const std::int32_t t = top_type();
    if (t == rule::repeat || t == rule::while_) {
        const Cell* f = top_frame();
        match = count_repetitions(&value, triple::a(f), triple::b(f));
    } else if (t == rule::to || t == rule::thru) {
        const Found found = search(&value);
        if (found.at >= 0) {
            match = true;
            set_pos(t == rule::to ? found.at : found.at + found.length);
        } else {
            match = limit > 0 && pos() > limit;
        }
    } else {
        return Step::do_action;
    }
    recompute_end();
    if (!trace(words::W::match)) return Step::halt;
    return finish_rule();
}

Step Engine::find_alternative() {
    set_pos(std::min(triple::b(top_frame() + 1), length()));
    recompute_end();
    const Cell* cells = rule_cells();
    for (std::int32_t i = std::max(cmd, rule_head()), tail = rule_tail(); i < tail; ++i) {
        if (cells[i].is(Type::word) && keyword_of(cells + i) == Keyword::bar) {
            cmd = i;
            match = true;
            return Step::next_action;
        }
    }
    match = false;
    return Step::pop_block;
}

Step Engine::end_state() {
    if (!cmd_at_tail()) match = false;
    if (input_depth() == 1 && !end) match = false;
    if (!trace(words::W::end)) return Step::halt;
    return Step::exit;
}

Step Engine::integer_rule() {
    const std::int32_t low = series::int_of(&value);
    if (low < 0) series::fire_out_of_range(&value);
    const Cell* next = rule_at(1);
    if (!next) fire(ErrorId::script_parse_rule, &value);
    Cell second = *next;
    if (second.is(Type::word) && keyword_of(&second) == Keyword::none_) second = *context::get(next);
    std::int32_t high = low;
    if (second.is(Type::integer)) {
        high = series::int_of(&second);
        if (high < 0) series::fire_out_of_range(&second);
        if (high < low || !rule_at(2)) fire(ErrorId::script_parse_rule, &value);
        ++cmd;
    }
    if (high == 0) {
        ++cmd;  // skips the rule: match? stays as it is
        return check_pending();
    }
    Cell scratch;
    if (const Cell* simple = simple_rule(&scratch)) {
        match = count_repetitions(simple, low, high);
        ++cmd;
        recompute_end();
        return check_pending();
    }
    min = low;
    max = high;
    type = rule::repeat;
    return Step::push_rule;
}

Step Engine::datatype_rule() {
    if (kind == InputKind::string) fire(ErrorId::script_parse_unsupported);
    std::int32_t covered = 0;
    match = !end && match_type(&value, &covered);
    if (!match) {
        if (!trace(words::W::match)) return Step::halt;
        return check_pending();
    }
    // The event sees the input on the last unit of the item.
    set_pos(pos() + covered - 1);
    if (!trace(words::W::match)) return Step::halt;
    return Step::next_input;
}

Step Engine::get_word_rule() {
    const Cell* v = context::get(&value);
    if (!is_input(v)) fire(ErrorId::script_parse_invalid_ref, &value);
    set_pos(std::min(series::head(v), length()));
    match = true;
    recompute_end();
    return check_pending();
}

// ---------------------------------------------------------------------------
// The run.

Status Engine::run(const Cell* input_value, const Cell* rule_block, Cell* out) {
    StackGuard guard;
    base = stack::push_cell();
    none::make_at(base);
    none::make_at(&result);
    none::make_at(&last_paren);
    none::make_at(&last_copy);
    block::ks_append(input_stack(), input_value);
    enter_input(input_value, top_limit);
    rules = *rule_block;
    rules.clear_new_line();
    sync();
    value = rules;
    cmd = rule_head() - 1;
    Step step = Step::push_block;
    for (;;) {
        switch (step) {
            case Step::push_block: step = push_block(); break;
            case Step::pop_block: step = pop_block(); break;
            case Step::push_rule: step = push_rule(); break;
            case Step::pop_rule: step = pop_rule(); break;
            case Step::check_pending: step = check_pending(); break;
            case Step::do_action: step = do_action(); break;
            case Step::next_input: step = next_input(); break;
            case Step::next_action: step = next_action(); break;
            case Step::match: step = match_value(); break;
            case Step::match_rule: step = match_rule(); break;
            case Step::find_alternative: step = find_alternative(); break;
            case Step::word: step = word_state(); break;
            case Step::end: step = end_state(); break;
            case Step::exit:
            case Step::halt:
                // GC: a throw set the argument stack for the frame that takes it.
                if (thrown) return Status::thrown;
                if (step == Step::exit && result_is_block) *out = result;
                else logic::make_at(out, match);
                state.stack_top = base;
                return Status::ok;
        }
    }
}

}  // namespace detail

// ---------------------------------------------------------------------------
// Entry points.

void init() {
    // GC: the cells are roots before the blocks are made, so that making the
    // second cannot collect the first.
    none::make_at(&state.parse_inputs);
    none::make_at(&state.parse_rules);
    collector::register_root_cell(&state.parse_inputs);
    collector::register_root_cell(&state.parse_rules);
    block::make_at(&state.parse_inputs, 8);
    block::make_at(&state.parse_rules, 100);
    detail::init_keywords();
}

Status run(const Cell* input, const Cell* rules, CompareOp op, std::int32_t limit,
                 const Cell* callback, Cell* result) {
    detail::Engine engine;
    engine.op = op;
    engine.top_limit = limit;
    if (callback && callback->is(Type::function)) {
        engine.callback = *callback;
        engine.tracing = true;
    }
    return engine.run(input, rules, result);
}

Status native(const Cell* input, const Cell* rules, bool case_, const Cell* part,
                    const Cell* callback, Cell* result) {
    std::int32_t limit = 0;
    if (part) {
        const std::int32_t at = series::head(input);
        std::int64_t stop = 0;
        if (part->is(Type::integer)) {
            stop = std::int64_t{at} + series::int_of(part);
        } else if (part->type() == input->type() && part->data2 == input->data2) {
            stop = series::head(part);
        } else {
            // The error names the native, as its argument is no length.
            Cell name;
            word::load("parse", &name);
            fire(ErrorId::script_invalid_refine_arg, &name, part);
        }
        if (stop <= at) {
            Cell copy = *input;
            logic::make_at(result, series::ks_length(&copy) == 0);
            return Status::ok;
        }
        limit = static_cast<std::int32_t>(std::min<std::int64_t>(stop, std::numeric_limits<std::int32_t>::max()));
    }
    return run(input, rules, case_ ? CompareOp::strict_equal : CompareOp::equal, limit, callback,
               result);
}

}  // namespace kiv::parse
