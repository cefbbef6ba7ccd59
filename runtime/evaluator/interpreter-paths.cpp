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
        case Type::money:
        case Type::event: return true;
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

// Where a value read along a set-path lives, kept so that it survives the
// evaluation of the parens further on: a paren may append to the block the
// value sits in (its buffer moves), clear it, or add words to a context.
// The cell is found again just before the write.
struct Home {
    enum class Kind : std::uint8_t { none, word, series, entry, field, local };
    Kind kind = Kind::none;
    Type type = Type::none;  // the datatype read there
    NodeId node = 0;         // series, entry: the buffer's node; field: the context
    std::int32_t index = 0;
    Cell word{};             // word: the word whose value it is; entry: the key
    Cell* local = nullptr;   // local: a copy the held chain keeps
};

Home word_home(const Cell* word, const Cell* value) {
    Home h;
    h.kind = Home::Kind::word;
    h.type = value->type();
    h.word = *word;
    return h;
}

// Where `next`, just answered by a step on `parent`, lives: a cell of a
// block's buffer, a map's entry (the value cell after its key), or a field
// of an object. Anything else (a temporary, the none value) has no home and
// takes no write-back.
Home locate(const Cell* parent, const Cell* next) {
    Home h;
    h.type = next->type();
    const Type t = parent->type();
    if (series::is_block_like(t) || t == Type::map) {
        memory::SeriesBuffer* b = memory::buffer_of(parent->data2);
        if (next >= b->cells() && next < b->cells_tail()) {
            h.kind = Home::Kind::series;
            h.node = parent->data2;
            h.index = static_cast<std::int32_t>(next - b->cells());
        }
        if (h.kind == Home::Kind::series && t == Type::map) {
            // An entry is its key then its value.
            h.kind = h.index % 2 ? Home::Kind::entry : Home::Kind::none;
            if (h.index % 2) h.word = next[-1];
        }
    } else if (t == Type::object || t == Type::error) {
        const NodeId ctx = object::context_of(parent);
        const std::int32_t n = context::word_count(ctx);
        if (n > 0 && context::header(ctx)->data2) {
            const Cell* base = context::slot(ctx, 0);
            if (next >= base && next < base + n) {
                h.kind = Home::Kind::field;
                h.node = ctx;
                h.index = static_cast<std::int32_t>(next - base);
            }
        }
    }
    return h;
}

bool same_bits(const Cell* a, const Cell* b) {
    return a->header == b->header && a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
}

// The cell `h` names now, or null when it is gone: the series shrank below
// it, the map entry was removed or its place taken by another key.
Cell* resolve(const Home& h) {
    Cell* c = nullptr;
    switch (h.kind) {
        case Home::Kind::none: break;
        case Home::Kind::word: c = word_slot(&h.word); break;
        case Home::Kind::local: c = h.local; break;
        case Home::Kind::series:
        case Home::Kind::entry: {
            memory::SeriesBuffer* b = memory::buffer_of(h.node);
            if (static_cast<std::uint32_t>(h.index) < b->length()) c = b->cells() + h.index;
            if (c && h.kind == Home::Kind::entry && !same_bits(c - 1, &h.word)) c = nullptr;
            break;
        }
        case Home::Kind::field:
            if (h.index < context::word_count(h.node)) c = context::slot(h.node, h.index);
            break;
    }
    return c && c->header != 0 ? c : nullptr;
}

// The cell `h` names now. When it is gone, or holds a value of another
// datatype than the one read there, the step at `cut` fails as a step on
// that value (or on none) does.
Cell* resolve_or_fire(const Home& h, const Cell* path, std::int32_t cut) {
    Cell* c = resolve(h);
    if (!c) fire_bad_path_type(path, &none::value, cut);
    if (!c->is(h.type)) {
        const Cell found = *c;
        fire_bad_path_type(path, &found, cut);
    }
    return c;
}

// The object whose field the word is, told of a write through it as a
// path from the object would tell it; none for any other word.
Cell field_owner(const Cell* word) {
    const NodeId bound = word->data1;
    if (bound && static_cast<std::int32_t>(word->data3) >= 0 &&
        context::kind_of(bound) == context::Kind::object) {
        const Cell* owner = context::owner(bound);
        if (owner->is(Type::object)) return *owner;
    }
    return none::value;
}

// A set-path that runs through values held whole in their cells (the time
// of a date in `d/time/hour: 5`) reads each of them as a copy. The chain
// keeps those copies and the selectors between them, so that after the
// innermost write each level is set into the one holding it, out to the
// cell where the outermost value lives.
// GC: the copies are scalars; `home` names the outermost value's cell by
// node and index, found again at the write.
struct HeldChain {
    static constexpr int max_levels = 8;
    Home home;              // where the outermost value lives
    Cell grand_parent;      // what holds it, and the selector that reached it
    Cell previous;
    int step = 0;           // the outermost value's step in the path
    int depth = 0;          // copies held, innermost last
    Cell copies[max_levels];
    Cell selectors[max_levels + 1];
};

// Sets each level of the chain into the one holding it, innermost first;
// the outermost write reports to its owner as a one-level write does.
void write_back(HeldChain& chain, Cell* path, const Cell* first_word, std::int32_t head) {
    for (int i = chain.depth - 1; i >= 0; --i) {
        const bool outermost = i == 0;
        Cell* target =
            outermost ? resolve_or_fire(chain.home, path, chain.step + 1 + head) : &chain.copies[i - 1];
        auto fn = registry::lookup<Action::eval_path>(target->type());
        const bool report = outermost && (chain.step >= 2 || chain.grand_parent.is(Type::object)) &&
                            reports_change(&chain.grand_parent, &chain.previous);
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
    const Cell first_word = *first;
    Home home = word_home(&first_word, start);
    // A word bound to an object field is written as a path from the object
    // writes it: the object hears of the change.
    Cell owner = setting ? field_owner(&first_word) : none::value;
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
        const bool first_step = item == first + 1;
        const std::int32_t cut = static_cast<std::int32_t>(item - first) + head;
        auto fn = registry::lookup<Action::eval_path>(current.type());
        if (!fn) fire_bad_path_type(&path, &current, cut);
        const bool held = setting && home.kind != Home::Kind::none && held_in_cell(current.type());
        Cell* holder = held && first_step && owner.is(Type::object) ? &owner : &grand_parent;
        const bool report =
            setting && is_last && (count >= 3 || holder == &owner) && reports_change(holder, &previous);
        Cell parent = current;
        // GC: the paren just evaluated may have moved or shrunk the
        // container, so the cell is found again here.
        Cell* target = held && is_last ? resolve_or_fire(home, &p, cut) : &parent;
        Cell* next = fn(target, &selector, setting && is_last ? &to_set : nullptr, &p, holder,
                        &previous, static_cast<int>(item - first), false, get, is_last, report);
        if (held && is_last) {
            if (chain.depth) write_back(chain, &p, &first_word, head);
            else mark_written(holder, &previous, &first_word, first_step);
        }
        if (setting && !is_last) {
            if (!held) {
                chain.depth = 0;
                home = locate(&parent, next);
            } else {
                if (chain.depth == 0) {
                    chain.home = home;
                    chain.grand_parent = *holder;
                    chain.previous = previous;
                    chain.step = static_cast<int>(item - first);
                } else if (chain.depth == HeldChain::max_levels) {
                    Cell it = *item;
                    fire(ErrorId::script_invalid_path, &p, &it);
                }
                chain.selectors[chain.depth] = selector;
                chain.copies[chain.depth] = *next;
                next = &chain.copies[chain.depth++];
                home.kind = Home::Kind::local;
                home.type = next->type();
                home.local = next;
            }
        }
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
