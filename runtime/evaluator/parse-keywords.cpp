// The parse keywords: the word state, which either runs a keyword or acts on
// the value a word stands for, and the completion of every keyword rule
// when its frame comes back to the top of the rule stack (loops, to and
// thru, copy and set, into, collect and keep, remove, change, case).
//
// GC: insert, change, remove, copy and keep allocate and may run an owner's
// handler; collect targets wait on the argument stack, where the collector
// sees them. After any of these the input is re-read through its node.
#include <algorithm>
#include <array>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/parse-engine.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/state.h"

namespace kiv::parse::detail {

namespace {

using words::Sym;
using words::W;

// The keywords' spellings, in Keyword order after none_.
struct Spelling {
    Keyword keyword;
    bool fixed_word;  // a W word rather than a Sym symbol
    int id;
};

constexpr Spelling spellings[] = {
    {Keyword::bar, false, int(Sym::bar)},       {Keyword::skip, false, int(Sym::skip)},
    {Keyword::any, false, int(Sym::any)},       {Keyword::some, false, int(Sym::some)},
    {Keyword::copy, false, int(Sym::copy)},     {Keyword::to, false, int(Sym::to)},
    {Keyword::thru, false, int(Sym::thru)},     {Keyword::remove, false, int(Sym::remove)},
    {Keyword::break_, false, int(Sym::break_)}, {Keyword::opt, false, int(Sym::opt)},
    {Keyword::keep, false, int(Sym::keep)},     {Keyword::fail, false, int(Sym::fail)},
    {Keyword::ahead, false, int(Sym::ahead)},   {Keyword::while_, false, int(Sym::while_)},
    {Keyword::into, false, int(Sym::into)},     {Keyword::insert, false, int(Sym::insert)},
    {Keyword::change, true, int(W::change)},    {Keyword::end, false, int(Sym::end)},
    {Keyword::if_, false, int(Sym::if_)},       {Keyword::not_, false, int(Sym::not_)},
    {Keyword::quote, false, int(Sym::quote)},   {Keyword::collect, false, int(Sym::collect)},
    {Keyword::case_, false, int(Sym::case_)},   {Keyword::reject, false, int(Sym::reject)},
    {Keyword::set, false, int(Sym::set)},       {Keyword::none, false, int(Sym::none)},
};

std::array<std::uint32_t, sizeof(spellings) / sizeof(spellings[0]) + 1> symbol_of{};

Keyword lookup_keyword(std::uint32_t id) {
    const std::uint32_t canonical = symbol::resolve(id);
    for (const Spelling& s : spellings) {
        if (symbol_of[static_cast<std::size_t>(s.keyword)] == canonical) return s.keyword;
    }
    return Keyword::none_;
}

std::uint32_t spelling_symbol(const Spelling& s) {
    return s.fixed_word ? words::symbol(static_cast<W>(s.id)) : words::symbol(static_cast<Sym>(s.id));
}

Cell triple_of(std::int32_t a, std::int32_t b, std::int32_t c) {
    Cell t{};
    return *triple::make_at(&t, a, b, c);
}

bool is_word(const Cell* c, Sym s) { return c && c->is(Type::word) && words::is(c, s); }

// The series a collect target word refers to.
Cell* target_series(const Cell* target) {
    Cell w = *target;
    w.set_type(Type::word);
    return context::get(&w);
}

}  // namespace

void init_keywords() {
    keyword_by_symbol.fill(keyword_unknown);
    for (const Spelling& s : spellings) {
        symbol_of[static_cast<std::size_t>(s.keyword)] = symbol::resolve(spelling_symbol(s));
    }
}

std::array<std::uint8_t, keyword_table_size> keyword_by_symbol{};

Keyword keyword_of_slow(std::uint32_t id) {
    const Keyword k = lookup_keyword(id);
    if (id < keyword_table_size) keyword_by_symbol[id] = static_cast<std::uint8_t>(k);
    return k;
}

Cell* keyword_word(Keyword k, Cell* out) {
    return word::make_at(symbol_of[static_cast<std::size_t>(k)], out);
}

// ---------------------------------------------------------------------------
// The word state.

Step Engine::word_state() {
    const Keyword k = keyword_of(&value);
    if (k != Keyword::none_) return keyword(k);
    const Cell* v = word::get(&value);
    const bool served = keyword_rule && top_is_rule() && top_type() != rule::collect &&
                        top_type() != rule::keep && top_type() != rule::keep_paren;
    keyword_rule = false;
    if (served) {
        value = *v;
        return v->is(Type::word) ? Step::match : Step::match_rule;
    }
    if (v->is(Type::word)) fire(ErrorId::script_parse_rule, v);
    value = *v;
    return Step::do_action;
}

Step Engine::keyword(Keyword k) {
    switch (k) {
        case Keyword::bar:
            cmd = rule_tail();
            return top_is_rule() ? Step::pop_rule : Step::pop_block;
        case Keyword::skip:
            match = !end;
            if (!trace(W::match)) return Step::halt;
            return match ? Step::next_input : check_pending();
        case Keyword::any: return repeat(k, 0, -1, rule::repeat);
        case Keyword::some: return repeat(k, 1, -1, rule::repeat);
        case Keyword::opt: return repeat(k, 0, 1, rule::repeat);
        case Keyword::while_: return repeat(k, 0, -1, rule::while_);
        case Keyword::copy:
        case Keyword::set: {
            const Cell* w = rule_at(1);
            if (!w || !rule_at(2) || !w->is(Type::word)) fire_end(k);
            ++cmd;
            target = *w;
            return keyword_rule_of(k == Keyword::copy ? rule::copy : rule::set, -1);
        }
        case Keyword::to:
        case Keyword::thru: return to_thru_keyword(k);
        case Keyword::remove: return remove_keyword();
        case Keyword::break_:
        case Keyword::reject:
            match = k == Keyword::break_;
            break_flag = pop_flag = true;
            if (!trace(W::match)) return Step::halt;
            return Step::pop_rule;
        case Keyword::fail:
            // The alternative fails, as a failed match would: the pending
            // rule, or else the block, sees the failure.
            match = false;
            if (!trace(W::match)) return Step::halt;
            return check_pending();
        case Keyword::ahead: return keyword_rule_of(rule::ahead, -1);
        case Keyword::not_: return keyword_rule_of(rule::not_, -1);
        case Keyword::end: match = end; break;
        case Keyword::none: match = true; break;
        case Keyword::if_: {
            const Cell* code = rule_at(1);
            if (!code || !code->is(Type::paren)) fire_end(k);
            ++cmd;
            if (!eval_paren(code)) return Step::halt;
            match = !logic::falsy(&last_paren);
            break;
        }
        case Keyword::quote: {
            const Cell* literal = rule_at(1);
            if (!literal) fire_end(k);
            ++cmd;
            value = *literal;
            return Step::match;
        }
        case Keyword::into: return into_keyword();
        case Keyword::insert: return insert_keyword(false);
        case Keyword::change: return insert_keyword(true);
        case Keyword::collect: return collect_keyword();
        case Keyword::keep: return keep_keyword();
        case Keyword::case_: return case_keyword();
        case Keyword::none_: break;
    }
    if (!trace(W::match)) return Step::halt;
    return check_pending();
}

const Cell* Engine::simple_rule(Cell* scratch) const {
    if (tracing) return nullptr;
    const Cell* next = rule_at(1);
    if (!next) return nullptr;
    const Cell* v = next;
    if (next->is(Type::word)) {
        if (keyword_of(next) != Keyword::none_) return nullptr;
        *scratch = *word::get(next);
        v = scratch;
    }
    switch (v->type()) {
        case Type::block: case Type::word: case Type::integer: case Type::paren:
        case Type::typeset: case Type::datatype:
            return nullptr;
        default:
            return v;
    }
}

Step Engine::repeat(Keyword k, std::int32_t low, std::int32_t high, std::int32_t t) {
    if (t == rule::repeat && cmd + 1 >= rule_tail()) fire_end(k);
    // PERF: a simple value is counted at once, without a frame.
    Cell scratch;
    if (const Cell* simple = simple_rule(&scratch)) {
        match = count_repetitions(simple, low, high);
        ++cmd;
        recompute_end();
        return check_pending();
    }
    min = low;
    max = high;
    type = t;
    return Step::push_rule;
}

Step Engine::keyword_rule_of(std::int32_t t, std::int32_t extra) {
    min = -1;
    max = extra;
    type = t;
    return Step::push_rule;
}

Step Engine::to_thru_keyword(Keyword k) {
    const Cell* next = rule_at(1);
    if (next && next->is(Type::word) && keyword_of(next) == Keyword::end) {
        ++cmd;
        set_pos(stop_at());
        match = end = true;
        if (!trace(W::match)) return Step::halt;
        return check_pending();
    }
    Cell scratch;
    if (const Cell* simple = simple_rule(&scratch)) {
        const Found found = search(simple);
        if (found.at >= 0) set_pos(k == Keyword::to ? found.at : found.at + found.length);
        match = found.at >= 0 || (limit > 0 && pos() > limit);
        ++cmd;
        recompute_end();
        return check_pending();
    }
    // The frame keeps where the search began, for a failure to go back to.
    return keyword_rule_of(k == Keyword::to ? rule::to : rule::thru, pos());
}

// ---------------------------------------------------------------------------
// Completing keyword rules.

Step Engine::complete_rule(std::int32_t t) {
    Cell* f = top_frame();
    const std::int32_t start = std::min(triple::b(f + 1), length());
    switch (t) {
        case rule::repeat:
        case rule::while_: return loop_rule(t);
        case rule::to:
        case rule::thru: return to_thru_rule(t);
        case rule::copy:
            if (match) {
                const Cell w = f[0];
                last_copy = copy_part(start, pos());
                set_word(&w, &last_copy);
            }
            break;
        case rule::set:
            if (match) {
                const Cell w = f[0];
                Cell item;
                if (pos() > start) item = item_at(start);
                else none::make_at(&item);
                set_word(&w, &item);
            }
            break;
        case rule::not_:
            match = !match;
            set_pos(start);
            break;
        case rule::ahead: set_pos(start); break;
        case rule::into: return into_done();
        case rule::remove:
            if (match && pos() > start) remove_range(start, pos());
            break;
        case rule::collect: return collect_done();
        case rule::keep:
        case rule::keep_paren: return keep_done(t);
        case rule::change:
        case rule::change_only: return change_done(t);
        case rule::case_: op = static_cast<CompareOp>(triple::b(f)); break;
        default: break;
    }
    recompute_end();
    return finish_rule();
}

Step Engine::loop_rule(std::int32_t t) {
    Cell* f = top_frame();
    const std::int32_t low = triple::a(f);
    const std::int32_t high = triple::b(f);
    const std::int32_t round = triple::c(f);
    bool again = match && (high == -1 || round < high);
    // No progress in an iteration ends the loop, except for while.
    if (again && t == rule::repeat && pos() == triple::b(f + 1) && length() >= triple::c(f + 1))
        again = false;
    if (break_flag) {
        break_flag = false;
        again = false;
    }
    if (again) {
        const std::int32_t keyword_index = triple::a(f + 1);
        f[0] = triple_of(low, high, round + 1);
        f[1] = triple_of(keyword_index, pos(), length());
        cmd = rule_head() + keyword_index;
        if (!trace(W::iterate)) return Step::halt;
        refetch = true;
        return Step::next_action;
    }
    if (!match) {
        // A failed round gives back what it consumed (a reject may leave a
        // block before its alternatives reset the input).
        set_pos(std::min(triple::b(f + 1), length()));
        recompute_end();
        match = round - 1 >= low || low == 0;
    } else {
        match = round >= low;
    }
    return finish_rule();
}

Step Engine::to_thru_rule(std::int32_t t) {
    Cell* f = top_frame();
    const std::int32_t start = triple::b(f + 1);
    if (match) {
        if (t == rule::to) set_pos(start);
        recompute_end();
        return finish_rule();
    }
    const std::int32_t next = start + 1;
    if (next >= stop_at()) {
        set_pos(std::min(triple::b(f), length()));
        recompute_end();
        return finish_rule();
    }
    const std::int32_t keyword_index = triple::a(f + 1);
    f[0] = triple_of(triple::a(f), triple::b(f), triple::c(f) + 1);
    f[1] = triple_of(keyword_index, next, length());
    set_pos(next);
    recompute_end();
    cmd = rule_head() + keyword_index;
    if (!trace(W::pop) || !trace(W::iterate)) return Step::halt;
    refetch = true;
    return Step::next_action;
}

// ---------------------------------------------------------------------------
// into

Step Engine::into_keyword() {
    if (kind != InputKind::block) fire(ErrorId::script_parse_block, &input);
    const Cell* next = rule_at(1);
    if (!next) fire_end(Keyword::into);
    const Cell* rule_value = next;
    if (next->is(Type::word) && keyword_of(next) == Keyword::none_) rule_value = word::get(next);
    if (!rule_value->is(Type::block)) fire_end(Keyword::into);
    const Type item_type = end ? Type::none : block::buffer(&input)->cells()[pos()].type();
    if (end || !(series::is_block_like(item_type) || series::is_any_string(item_type) ||
                 item_type == Type::binary)) {
        match = false;
        if (!trace(W::match)) return Step::halt;
        return check_pending();
    }
    // The outer input waits below, at its position.
    const Cell item = block::buffer(&input)->cells()[pos()];
    Cell* inputs = &state.parse_inputs;
    block::buffer(inputs)->cells()[block::buffer(inputs)->length() - 1] = input;
    block::ks_append(inputs, &item);
    enter_input(&item, 0);
    return keyword_rule_of(rule::into, -1);
}

Step Engine::into_done() {
    const bool whole = match && end && block_done;
    Cell* inputs = &state.parse_inputs;
    const std::int32_t depth = static_cast<std::int32_t>(block::buffer(inputs)->length());
    block::ks_truncate(inputs, depth - 1);
    const Cell outer = block::buffer(inputs)->cells()[depth - 2];
    enter_input(&outer, block::ks_length(inputs) == 1 ? top_limit : 0);
    match = whole;
    if (match) set_pos(pos() + 1);
    recompute_end();
    return finish_rule();
}

// ---------------------------------------------------------------------------
// insert, change and remove

std::int32_t Engine::position_word(std::int32_t n) const {
    const Cell* c = rule_at(n);
    if (!c || !(c->is(Type::word) || c->is(Type::get_word))) return -1;
    if (keyword_of(c) != Keyword::none_) return -1;
    const Cell* v = context::get(c);
    if (!is_input(v)) return -1;
    return std::clamp(series::head(v), 0, length());
}

bool Engine::operand(std::int32_t n, Cell* out) {
    const Cell* c = rule_at(n);
    if (c->is(Type::path)) fire(ErrorId::script_parse_rule, c);
    if (c->is(Type::paren)) {
        const Cell code = *c;
        cmd += n;
        const bool done = eval_paren(&code) && trace(W::paren);
        cmd -= n;
        *out = last_paren;
        return done;
    }
    *out = c->is(Type::word) ? *word::get(c) : *c;
    return true;
}

void Engine::remove_range(std::int32_t from, std::int32_t to) {
    Cell series = input;
    series::set_head(&series, from);
    Cell part;
    series::make_integer(&part, to - from);
    registry::find<Action::remove>(&series)(&series, &part, nullptr);
    sync();
    set_pos(std::min(from, length()));
}

Step Engine::insert_keyword(bool change) {
    const Keyword k = change ? Keyword::change : Keyword::insert;
    std::int32_t n = 1;
    bool only = false;
    if (is_word(rule_at(n), Sym::only)) {
        only = true;
        ++n;
    }
    if (!rule_at(n)) fire_end(k);
    const std::int32_t at = position_word(n);
    if (at < 0 && change) {
        // change rule value: the rule runs first.
        cmd += n - 1;
        return keyword_rule_of(only ? rule::change_only : rule::change, -1);
    }
    if (at >= 0) {
        ++n;
        if (!rule_at(n)) fire_rule(k);
    }
    Cell v;
    if (!operand(n, &v)) return Step::halt;
    cmd += n;
    const std::int32_t before = pos();
    Cell series = input;
    if (change) {
        const std::int32_t from = std::min(at, before);
        series::set_head(&series, from);
        registry::find<Action::change>(&series)(&series, &v, std::max(at, before) - from, only, 1);
        sync();
        set_pos(std::min(from, length()));
    } else {
        const std::int32_t where = at < 0 ? before : at;
        const std::int32_t old_length = length();
        series::set_head(&series, where);
        registry::find<Action::insert>(&series)(&series, &v, -1, only, 1, false);
        sync();
        if (where <= before) set_pos(std::min(before + length() - old_length, length()));
    }
    recompute_end();
    return check_pending();
}

Step Engine::remove_keyword() {
    const Cell* next = rule_at(1);
    if (next && next->is(Type::path)) fire_rule(Keyword::remove);
    const std::int32_t at = position_word(1);
    if (at < 0) return keyword_rule_of(rule::remove, -1);
    ++cmd;
    const std::int32_t here = pos();
    remove_range(std::min(at, here), std::max(at, here));
    recompute_end();
    return check_pending();
}

Step Engine::change_done(std::int32_t t) {
    if (!rule_at(1)) fire_end(Keyword::change);
    const std::int32_t start = std::min(triple::b(top_frame() + 1), length());
    if (match) {
        Cell v;
        if (!operand(1, &v)) return Step::halt;
        Cell series = input;
        series::set_head(&series, start);
        const Cell* after = registry::find<Action::change>(&series)(
            &series, &v, std::max(pos() - start, 0), t == rule::change_only, 1);
        sync();
        set_pos(std::min(series::head(after), length()));
    } else if (rule_at(1)->is(Type::path)) {
        fire(ErrorId::script_parse_rule, rule_at(1));
    }
    ++cmd;
    recompute_end();
    return finish_rule();
}

// ---------------------------------------------------------------------------
// collect and keep

bool Engine::compatible_target(const Cell* series) const {
    const Type t = series->type();
    if (!(series::is_block_like(t) || series::is_any_string(t) || t == Type::binary)) return false;
    if (t == Type::binary && input.type() != Type::binary) return false;
    return !(series::is_any_string(t) && kind == InputKind::block);
}

Step Engine::collect_keyword() {
    const Cell* how = rule_at(1);
    const bool set = is_word(how, Sym::set);
    const bool into = is_word(how, Sym::into);
    const bool after = is_word(how, Sym::after);
    std::int32_t position = -1;
    if (set || into || after) {
        const Cell* w = rule_at(2);
        if (!w || !w->is(Type::word)) fire_end(Keyword::collect);
        const Cell target_word = *w;
        if (into || after) {
            const Cell* series = word::get(&target_word);
            if (!compatible_target(series)) fire(ErrorId::script_parse_into_type);
            if (series->data2 == input.data2) fire(ErrorId::script_parse_into_bad);
            position = series::head(series);
            Cell* slot = stack::push_copy(&target_word);
            slot->set_type(into ? Type::get_word : Type::refinement);
        } else {
            stack::push_copy(&target_word);
        }
        cmd += 2;
    }
    if (!into && !after) {
        Cell* slot = stack::push_cell();
        none::make_at(slot);
        block::make_at(slot, 8);
    }
    ++collect_depth;
    return keyword_rule_of(rule::collect, position);
}

Step Engine::keep_keyword() {
    if (collect_depth == 0) fire(ErrorId::script_parse_keep);
    if (is_word(rule_at(1), Sym::pick)) {
        pick = true;
        ++cmd;
    }
    const Cell* next = rule_at(1);
    return keyword_rule_of(next && next->is(Type::paren) ? rule::keep_paren : rule::keep, -1);
}

void Engine::keep_value(const Cell* v) {
    Cell* top = state.stack_top - 1;
    const Cell kept = *v;
    if (top->is(Type::block)) {
        block::ks_append(top, &kept);
        return;
    }
    Cell* series_cell = target_series(top);
    if (!compatible_target(series_cell)) fire(ErrorId::script_parse_into_type);
    Cell series = *series_cell;
    Cell item = kept;
    const bool after = top->is(Type::refinement);
    const Cell* moved = registry::find<Action::insert>(&series)(&series, &item, -1, true, 1, after);
    const Cell advanced = *moved;
    sync();
    if (after) return;
    Cell w = *top;
    w.set_type(Type::word);
    set_word(&w, &advanced);
}

bool Engine::bytes_into_text() const {
    if (kind != InputKind::binary) return false;
    const Cell* top = state.stack_top - 1;
    if (top->is(Type::block)) return false;
    const Cell* series = target_series(top);
    return series::is_any_string(series->type()) && memory::buffer_of(series->data2)->unit() == 1;
}

Step Engine::keep_done(std::int32_t t) {
    if (!match) return finish_rule();
    const Cell* f = top_frame();
    const bool spread = (f[2].data3 & 1) != 0;
    const std::int32_t start = std::min(triple::b(f + 1), length());
    if (t == rule::keep_paren) {
        const Cell kept = last_paren;
        if (spread && kept.is(Type::block)) {
            for (std::int32_t i = series::head(&kept); i < block::ks_length(&kept) + series::head(&kept); ++i) {
                const Cell item = block::buffer(&kept)->cells()[i];
                keep_value(&item);
            }
        } else {
            keep_value(&kept);
        }
    } else if (triple::c(f) == rule::copy) {
        const Cell kept = last_copy;
        keep_value(&kept);
    } else if (pos() > start && !spread && bytes_into_text()) {
        // Bytes kept into a text of one-byte units go in as they are, one
        // character each, as units of the same width are copied.
        Cell part = copy_part(start, pos());
        part.set_type(Type::string);
        keep_value(&part);
    } else if (spread) {
        for (std::int32_t i = start; i < pos(); ++i) {
            const Cell item = item_at(i);
            keep_value(&item);
        }
    } else if (pos() - start == 1) {
        const Cell item = item_at(start);
        keep_value(&item);
    } else if (pos() - start > 1) {
        const Cell part = copy_part(start, pos());
        keep_value(&part);
    }
    return finish_rule();
}

Step Engine::collect_done() {
    --collect_depth;
    const std::int32_t position = triple::b(top_frame());
    Cell* top = state.stack_top - 1;
    if (!top->is(Type::block)) {
        // into or after: the target goes back to where it was.
        Cell series = *target_series(top);
        series::set_head(&series, position);
        Cell w = *top;
        w.set_type(Type::word);
        set_word(&w, &series);
        stack::drop(1);
        return finish_rule();
    }
    const Cell collected = *top;
    Cell* below = top - 1;
    stack::drop(1);
    if (below == base) {
        result = collected;
        result_is_block = true;
    } else if (below->is(Type::word)) {
        set_word(below, &collected);
        stack::drop(1);
    } else {
        keep_value(&collected);
    }
    return finish_rule();
}

Step Engine::case_keyword() {
    const Cell* w = rule_at(1);
    if (!w || !w->is(Type::word)) fire_end(Keyword::case_);
    ++cmd;
    const bool strict = !logic::falsy(word::get(w));
    const std::int32_t previous = static_cast<std::int32_t>(op);
    op = strict ? CompareOp::strict_equal : CompareOp::equal;
    return keyword_rule_of(rule::case_, previous);
}

}  // namespace kiv::parse::detail
