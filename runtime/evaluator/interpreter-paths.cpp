// Paths: reading, calling through and assigning.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/evaluator/interpreter-internal.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"

namespace kiv::interpreter {

using namespace internal;

namespace {

bool is_callable(const Cell* v) {
    switch (v->type()) {
        case Type::native: case Type::action: case Type::function: case Type::routine: return true;
        default: return false;
    }
}

// Whether the step that sets the last element must ask its datatype to
// report the change to the parent's owner.
bool reports_change(const Cell* grand_parent, const Cell* previous) {
    if (grand_parent->is(Type::object)) return grand_parent->data3 != 0 && previous->is(Type::word);
    return grand_parent->is(Type::block) || grand_parent->is(Type::paren) ||
           grand_parent->is(Type::hash) || series::is_any_path(grand_parent->type());
}

// The value before the first step: the owner of the first word's context
// when that is neither the global context nor an object's.
Cell first_parent(const Cell* word) {
    const NodeId bound = word->data1;
    if (bound && bound != context::global()) {
        const Cell* owner = context::owner(bound);
        if (!owner->is(Type::object)) return *owner;
    }
    return none::value;
}

[[noreturn, gnu::cold]] void fire_bad_path_type(const Cell* path, const Cell* value,
                                                std::int32_t cut) {
    Cell p = *path;
    Cell type;
    registry::make_datatype(&type, value->type());
    Cell copy;
    block::clone(&p, false, false, &copy);
    block::ks_truncate(&copy, cut);
    fire(ErrorId::script_bad_path_type, &p, &type, &copy);
}

// The selector an item stands for, pushed.
Status push_selector(Cell* item) {
    switch (item->type()) {
        case Type::get_word: stack::push_copy(word_slot(item)); return Status::ok;
        case Type::paren: return eval_paren(item, body_symbol);
        default: stack::push_copy(item); return Status::ok;
    }
}

// Datatypes whose whole value sits in the cell, so that writing one of its
// fields through a path must write the cell where the value lives.
bool held_in_cell(Type type) {
    switch (type) {
        case Type::time:
        case Type::date:
        case Type::pair:
        case Type::tuple:
        case Type::point2d:
        case Type::point3d:
        case Type::money: return true;
        default: return false;
    }
}

// Marks the object field a path wrote into in place, as a set-word's store
// would: `grand_parent` the object and `previous` the field's word, or, for
// the path's first step, the first word when it is bound to an object.
void mark_written(const Cell* grand_parent, const Cell* previous, const Cell* first_word, bool first_step) {
    if (grand_parent->is(Type::object) && previous->is(Type::word)) {
        const std::int32_t index = object::find_field(grand_parent, previous);
        if (index >= 0) context::get_word_at(object::context_of(grand_parent), index)->header |= cell_flag::written;
        return;
    }
    if (!first_step) return;
    const NodeId bound = first_word->data1;
    const auto index = static_cast<std::int32_t>(first_word->data3);
    if (bound && context::kind_of(bound) == context::Kind::object && index >= 0 && index < context::word_count(bound))
        context::get_word_at(bound, index)->header |= cell_flag::written;
}

// A set-path that runs through values held whole in their cells (the time
// of a date in `d/time/hour: 5`) reads each of them as a copy. The chain
// keeps those copies and the selectors between them, so that after the
// innermost write each level is set into the one holding it, out to the
// cell where the outermost value lives.
// GC: the copies are scalars; `home` points into a block, a context or a
// word slot, as the one-level write's slot does.
struct HeldChain {
    static constexpr int max_levels = 8;
    Cell* home = nullptr;   // the outermost value's own cell
    Cell grand_parent;      // what holds `home`, and the selector that reached it
    Cell previous;
    int step = 0;           // the outermost value's step in the path
    int depth = 0;          // copies held, innermost last
    Cell copies[max_levels];
    Cell selectors[max_levels + 1];
};

// Sets each level of the chain into the one holding it, innermost first;
// the outermost write reports to its owner as a one-level write does.
void write_back(HeldChain& chain, Cell* path, const Cell* first_word) {
    for (int i = chain.depth - 1; i >= 0; --i) {
        Cell* target = i == 0 ? chain.home : &chain.copies[i - 1];
        auto fn = registry::lookup<Action::eval_path>(target->type());
        const bool outermost = i == 0;
        const bool report = outermost && chain.step >= 2 && reports_change(&chain.grand_parent, &chain.previous);
        fn(target, &chain.selectors[i], &chain.copies[i], path, &chain.grand_parent, &chain.previous,
           chain.step + i, false, false, true, report);
    }
    mark_written(&chain.grand_parent, &chain.previous, first_word, chain.step == 1);
}

}  // namespace

Status eval_path(const Cell* path_value, Cell*& pos, Cell* end, const Cell* code, const Cell* value,
                 bool get_only) {
    const Cell path = *path_value;
    const bool get = get_only || path.is(Type::get_path);
    const bool setting = value != nullptr;
    memory::SeriesBuffer* b = block::buffer(&path);
    const std::int32_t head = series::head(&path) < 0 ? 0 : series::head(&path);
    Cell* first = b->cells() + head;
    Cell* last = b->cells_tail();
    if (first >= last) fire(ErrorId::script_empty_path);
    if (tracing()) [[unlikely]] {
        KIV_PROPAGATE(fire_event(Event::enter, &path, nullptr, nullptr, nullptr));
        KIV_PROPAGATE(fire_event(Event::fetch, &path, first, nullptr, first));
    }
    Cell* const saved_top = state.stack_top;
    Cell p = path;
    if (!first->is(Type::word)) fire(ErrorId::script_word_first, &p);
    const Cell* start = word_slot(first);
    if (start->is(Type::unset)) {
        Cell w = *first;
        fire(ErrorId::script_unset_path, &w, &p);
    }
    if (is_callable(start)) {
        if (setting) fire(ErrorId::script_invalid_path_set, &p);
        if (get) fire(ErrorId::script_invalid_path_get, &p);
        Cell anon;
        words::word(words::W::anon, &anon);
        return call_value(start, first, &anon, pos, end, code, &path, first + 1, last);
    }
    Cell current = *start;
    Cell grand_parent = first_parent(first);
    Cell previous = *first;
    const std::int32_t count = static_cast<std::int32_t>(last - first);
    Cell to_set = setting ? *value : none::value;
    // Where `current` lives (the word's slot, a field, a block cell): a
    // field write of a value held whole in its cell (the hour of a time, the
    // x of a pair) changes that cell, not a copy.
    Cell* slot = const_cast<Cell*>(start);
    HeldChain chain;
    for (Cell* item = first + 1; item < last; ++item) {
        KIV_PROPAGATE(push_selector(item));
        Cell selector = *(state.stack_top - 1);
        stack::drop(1);
        if (tracing()) [[unlikely]]
            KIV_PROPAGATE(fire_event(Event::push, &path, item, nullptr, &selector));
        if (selector.is(Type::unset)) {
            Cell it = *item;
            fire(ErrorId::script_invalid_path, &p, &it);
        }
        const bool is_last = item + 1 == last;
        auto fn = registry::lookup<Action::eval_path>(current.type());
        if (!fn) fire_bad_path_type(&path, &current, static_cast<std::int32_t>(item - first) + head);
        const bool report = setting && is_last && count >= 3 && reports_change(&grand_parent, &previous);
        Cell parent = current;
        const bool held = setting && slot && held_in_cell(current.type());
        Cell* target = held && is_last ? slot : &parent;
        Cell* next = fn(target, &selector, setting && is_last ? &to_set : nullptr, &p, &grand_parent,
                        &previous, static_cast<int>(item - first), false, get, is_last, report);
        if (held && is_last) {
            if (chain.depth) write_back(chain, &p, first);
            else mark_written(&grand_parent, &previous, first, item == first + 1);
        }
        if (setting && !is_last) {
            if (!held) {
                chain.depth = 0;
            } else {
                if (chain.depth == 0) {
                    chain.home = slot;
                    chain.grand_parent = grand_parent;
                    chain.previous = previous;
                    chain.step = static_cast<int>(item - first);
                } else if (chain.depth == HeldChain::max_levels) {
                    Cell it = *item;
                    fire(ErrorId::script_invalid_path, &p, &it);
                }
                chain.selectors[chain.depth] = selector;
                chain.copies[chain.depth] = *next;
                next = &chain.copies[chain.depth++];
            }
        }
        slot = next;
        grand_parent = current;
        previous = *item;
        current = *next;
        if (!setting && !get && !path.is(Type::set_path) && is_callable(&current)) {
            state.stack_top = saved_top;
            Cell anon;
            words::word(words::W::anon, &anon);
            Cell name = *item;
            name.set_type(Type::word);
            return call_value(&current, &name, &anon, pos, end, code, &path, item + 1, last);
        }
    }
    if (tracing()) [[unlikely]]
        KIV_PROPAGATE(fire_event(Event::exit, &path, nullptr, nullptr, &current));
    state.stack_top = saved_top;
    stack::push_copy(&current);
    return Status::ok;
}

}  // namespace kiv::interpreter
