// function!: spec validation, making, gathering locals for `function`, and
// the actions make, reflect, form, mold and compare.
#include "runtime/datatypes/function.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/cycles.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"

namespace kiv::function {

namespace {

using memory::SeriesBuffer;

constexpr std::uint32_t type_header(Type t) { return static_cast<std::uint32_t>(t); }
constexpr Cell logic_false{static_cast<std::uint32_t>(Type::logic), 0, 0, 0};

// The cells of a block from its index (clamped) to its tail.
struct Span {
    Cell* first;
    Cell* last;
    std::int32_t size() const { return static_cast<std::int32_t>(last - first); }
};

Span span_of(Cell* block) {
    Cell* first = block::ks_head(block);  // clamps the index first
    return Span{first, block::ks_tail(block)};
}

bool is_arg_word(const Cell* c) {
    return c->is(Type::word) || c->is(Type::lit_word) || c->is(Type::get_word);
}

bool same_symbol(const Cell* a, const Cell* b) {
    return symbol::resolve(a->data2) == symbol::resolve(b->data2);
}

bool is_refinement(const Cell* c, words::Ref r) {
    return c->is(Type::refinement) && symbol::resolve(c->data2) == symbol::resolve(words::symbol(r));
}

bool is_word_of(const Cell* c, words::Sym s) {
    return c->is(Type::word) && symbol::resolve(c->data2) == symbol::resolve(words::symbol(s));
}

// ---------------------------------------------------------------------------
// Validation.

[[noreturn]] void fire_bad_def(const Cell* spec) { fire(ErrorId::script_bad_func_def, spec); }

std::uint32_t check_attributes(Cell* attributes, const Cell* spec) {
    std::uint32_t flags = 0;
    const Span s = span_of(attributes);
    for (Cell* c = s.first; c < s.last; ++c) {
        if (!c->is(Type::word)) fire_bad_def(spec);
        if (is_word_of(c, words::Sym::trace)) flags |= flag::trace;
        if (is_word_of(c, words::Sym::no_trace)) flags |= flag::no_trace;
    }
    return flags;
}

// Each entry of a type block names a datatype, a typeset or a word, itself
// or through the value of a word.
void check_type_block(Cell* types) {
    const Span s = span_of(types);
    for (Cell* c = s.first; c < s.last; ++c) {
        const Cell* value = c->is(Type::word) ? word::get(c) : c;
        if (!value->is(Type::datatype) && !value->is(Type::typeset) && !value->is(Type::word))
            fire(ErrorId::script_invalid_type_spec, value);
    }
}

// The walk's state: `returned` after `return:`, `locals` after /local.
struct SpecWalk {
    const Cell* spec;
    Span s;
    bool returned = false;
    bool locals = false;

    const Cell* at(Cell* c) const { return c < s.last ? c : nullptr; }

    // Answers the last cell the argument word covered.
    Cell* argument(Cell* c) {
        const Cell* next = at(c + 1);
        const Cell* after = at(c + 2);
        if (locals && !c->is(Type::word)) fire_bad_def(spec);
        if (next && next->is(Type::string) && after && after->is(Type::block)) fire_bad_def(spec);
        if (returned && !locals) fire_bad_def(spec);
        if (next && next->is(Type::block)) {
            check_type_block(c + 1);
            return c + 1;
        }
        return c;
    }

    Cell* return_type(Cell* c) {
        if (symbol::resolve(c->data2) != symbol::resolve(words::symbol(words::Sym::return_)))
            fire_bad_def(spec);
        if (returned || locals) fire_bad_def(spec);
        const Cell* types = at(c + 1);
        if (!types || !types->is(Type::block)) fire_bad_def(spec);
        const Cell* after = at(c + 2);
        if (after && !after->is(Type::refinement) && !after->is(Type::string)) fire_bad_def(spec);
        returned = true;
        return c + 1;
    }

    void refinement(Cell* c) {
        if (is_refinement(c, words::Ref::local)) {
            locals = true;
        } else if (locals || returned) {
            fire_bad_def(spec);
        }
        const Cell* next = at(c + 1);
        if (!next) return;
        switch (next->type()) {
            case Type::word: case Type::get_word: case Type::lit_word: case Type::refinement:
            case Type::set_word: case Type::string:
                return;
            default: fire_bad_def(spec);
        }
    }
};

bool is_spec_name(const Cell* c) { return is_arg_word(c) || c->is(Type::refinement); }

// A name given twice (a word and a refinement of one name count as one).
void check_duplicates(Span s) {
    for (Cell* a = s.first; a < s.last; ++a) {
        if (!is_spec_name(a)) continue;
        for (Cell* b = a + 1; b < s.last; ++b) {
            if (is_spec_name(b) && same_symbol(a, b)) fire(ErrorId::script_dup_vars, b);
        }
    }
}

// ---------------------------------------------------------------------------
// Making.

NodeId make_more(Cell* body, std::int32_t entry) {
    const NodeId more_node = memory::alloc_unset_cells(more::size);
    SeriesBuffer* b = memory::buffer_of(more_node);
    b->tail = b->offset + more::size * sizeof(Cell);
    Cell* cells = b->cells();
    if (body) cells[more::body] = *body; else none::make_at(&cells[more::body]);
    if (entry) cells[more::entry] = Cell{type_header(Type::integer), 0, static_cast<std::uint32_t>(entry), 0};
    return more_node;
}

// ---------------------------------------------------------------------------
// Gathering locals.

// The locals being gathered and the words already known (a copy of the
// spec with every name retyped to word!).
struct Gather {
    Cell* locals;
    Cell* known;

    bool knows(const Cell* word) {
        const Span s = span_of(known);
        for (Cell* c = s.first; c < s.last; ++c) {
            if (c->is(Type::word) && same_symbol(c, word)) return true;
        }
        return false;
    }

    void collect(const Cell* value) {
        Cell word = *value;
        word.header = type_header(Type::word);
        if (knows(&word)) return;
        block::ks_append(locals, &word);
        block::ks_append(known, &word);
    }

    void collect_loop_words(const Cell* next) {
        if (next->is(Type::block)) {
            Cell inner = *next;
            const Span s = span_of(&inner);
            for (Cell* c = s.first; c < s.last; ++c) {
                if (is_arg_word(c)) collect(c);
            }
        } else if (next->is(Type::word) || next->is(Type::set_word)) {
            collect(next);
        }
    }

    void walk(const Cell* block) {
        Cell here = *block;
        // GC: collecting appends to other blocks only; this buffer stays.
        const Span s = span_of(&here);
        for (Cell* c = s.first; c < s.last; ++c) {
            const Cell* next = c + 1 < s.last ? c + 1 : nullptr;
            if (c->is(Type::set_word)) {
                collect(c);
            } else if ((c->is(Type::block) || c->is(Type::paren)) && !cycles::find(c->data2)) {
                // A block met again inside itself has nothing new; the
                // guard's depth limit ends a runaway nesting in too-deep.
                cycles::push(c->data2);
                walk(c);
                cycles::pop();
            } else if (next && (is_word_of(c, words::Sym::foreach) || is_word_of(c, words::Sym::remove_each))) {
                collect_loop_words(next);
            } else if (next && is_word_of(c, words::Sym::repeat)) {
                if (next->is(Type::word) || next->is(Type::set_word)) collect(next);
            }
        }
    }
};

// The position of /extern in the spec (the first name spelled extern when it
// is a refinement), or -1.
std::int32_t find_extern(Cell* spec) {
    const Span s = span_of(spec);
    for (Cell* c = s.first; c < s.last; ++c) {
        if (c->type_id() < type_header(Type::word) || c->type_id() > type_header(Type::refinement)) continue;
        if (symbol::resolve(c->data2) != symbol::resolve(words::symbol(words::Ref::extern_))) continue;
        return c->is(Type::refinement) ? static_cast<std::int32_t>(c - s.first) : -1;
    }
    return -1;
}

// Takes /extern and what follows it out of the spec; the words after a
// /local that follows the /extern words join the locals.
void cut_extern(Cell* spec, std::int32_t at, Cell* locals) {
    Span s = span_of(spec);
    Cell* c = s.first + at + 1;
    while (c < s.last && c->is(Type::word)) ++c;
    if (c < s.last && is_refinement(c, words::Ref::local)) {
        for (++c; c < s.last; ++c) {
            if (!c->is(Type::word)) continue;
            const Cell word = *c;
            block::ks_append(locals, &word);
            s = span_of(spec);  // GC: the locals block is another series
        }
    }
    block::ks_truncate(spec, static_cast<std::int32_t>(spec->data1) + at);
}

// Retypes the names of the known-words copy to word!; with /extern only
// words, blocks and strings may stand in the spec.
void retype_known(Cell* known, bool has_extern) {
    const Span s = span_of(known);
    for (Cell* c = s.first; c < s.last; ++c) {
        switch (c->type()) {
            case Type::set_word: case Type::lit_word: case Type::get_word: case Type::refinement:
                c->set_type(Type::word);
                break;
            case Type::word: case Type::block: case Type::string: break;
            default:
                if (has_extern) fire(ErrorId::script_bad_func_extern, c);
        }
    }
}

// Appends the gathered words to the spec, after a /local added when absent;
// a gathered `local` is dropped.
void append_locals(Cell* spec, Cell* locals) {
    if (count_locals(spec->data2, static_cast<std::int32_t>(spec->data1), true) < 0) {
        Cell local;
        words::refinement(words::Ref::local, &local);
        block::ks_append(spec, &local);
    }
    const Span s = span_of(locals);
    for (Cell* c = s.first; c < s.last; ++c) {
        if (symbol::resolve(c->data2) == symbol::resolve(words::symbol(words::W::local))) {
            const Cell local = *c;
            block::remove_value(locals, &local, true);
            break;
        }
    }
    block::ks_append_block(spec, locals);
}

}  // namespace

// ---------------------------------------------------------------------------

Cell* more_cell(const Cell* value, std::int32_t i) {
    return memory::buffer_of(value->data3)->cells() + i;
}

std::uint32_t validate_spec(Cell* spec) {
    SpecWalk walk{spec, span_of(spec)};
    Cell* c = walk.s.first;
    std::uint32_t flags = 0;
    if (c < walk.s.last && c->is(Type::block)) flags = check_attributes(c++, spec);
    for (; c < walk.s.last; ++c) {
        switch (c->type()) {
            case Type::word: case Type::lit_word: case Type::get_word:
                c = walk.argument(c);
                break;
            case Type::set_word: c = walk.return_type(c); break;
            case Type::refinement: walk.refinement(c); break;
            case Type::string: break;
            default: fire_bad_def(spec);
        }
    }
    check_duplicates(walk.s);
    return flags;
}

NodeId make_at(Cell* out, Cell* spec, Cell* body, NodeId context, std::int32_t entry,
               std::uint32_t flags) {
    out->header = type_header(Type::unset);
    Cell spec_value = *spec;
    block::ks_head(&spec_value);
    if (spec_value.data1 != 0) block::clone(&spec_value, false, false, &spec_value);
    Cell body_copy;
    if (body) {
        Cell body_value = *body;
        block::ks_head(&body_value);
        block::clone(&body_value, true, true, &body_copy);
    }
    const NodeId more_node = make_more(body ? &body_copy : nullptr, entry);
    const bool made_here = context == 0;
    if (made_here) context = context::make(&spec_value, true, false, context::Kind::function);
    *out = Cell{type_header(Type::unset) | flags, context, spec_value.data2, more_node};
    out->set_type(Type::function);
    *context::owner(context) = *out;
    if (made_here && body) context::bind(&body_copy, context, false);
    return context;
}

NodeId push(Cell* spec, Cell* body, NodeId context, std::int32_t entry, std::uint32_t flags) {
    // GC: the pushed cell reads as unset until make_at types it last.
    return make_at(stack::push_cell(), spec, body, context, entry, flags);
}

std::int32_t count_locals(NodeId spec, std::int32_t start, bool require) {
    SeriesBuffer* b = memory::buffer_of(spec);
    std::int32_t count = 0;
    for (Cell* c = b->cells() + start; c < b->cells_tail(); ++c) {
        if (count == 0) {
            if (is_refinement(c, words::Ref::local)) count = 1;
        } else if (c->is(Type::word)) {
            ++count;
        }
    }
    return count == 0 && require ? -1 : count;
}

Cell* collect_words(Cell* spec, Cell* body, Cell* locals) {
    block::make_at(locals, 4);
    Cell known;
    block::clone(spec, false, false, &known);
    const std::int32_t at = find_extern(spec);
    if (at >= 0) cut_extern(spec, at, locals);
    retype_known(&known, at >= 0);
    Gather gather{locals, &known};
    cycles::Guard guard;
    cycles::push(body->data2);
    gather.walk(body);
    if (block::ks_length(locals) > 0) append_locals(spec, locals);
    return locals;
}

void refinement_defaults(Cell* out, std::int32_t n) {
    if (n <= 0) return;
    *out = Cell{type_header(Type::logic), 0, 0, 0};
    for (std::int32_t i = 1; i < n; ++i) none::make_at(out + i);
}

void push_refinement_defaults(std::int32_t n) {
    if (n <= 0) return;
    stack::push_copy(&logic_false);
    for (std::int32_t i = 1; i < n; ++i) stack::push_copy(&none::value);
}

Cell* func(Cell* out, Cell* spec, Cell* body) {
    Cell spec_value = *spec;
    Cell body_value = *body;
    block::ks_head(&spec_value);
    block::ks_head(&body_value);
    const std::uint32_t flags = validate_spec(&spec_value);
    make_at(out, &spec_value, &body_value, 0, 0, flags);
    return out;
}

Cell* function(Cell* out, Cell* spec, Cell* body) {
    Cell spec_copy;
    block::clone(spec, false, false, &spec_copy);
    Cell locals;
    collect_words(&spec_copy, body, &locals);
    return func(out, &spec_copy, body);
}

// ---------------------------------------------------------------------------
// Actions.

Cell* reflect(Cell* value, Cell* field) {
    if (!field->is(Type::word)) fire(ErrorId::script_invalid_arg, field);
    const Cell fn = *value;
    if (words::is(field, words::Sym::spec)) return block::init_at(value, fn.data2);
    if (words::is(field, words::Sym::body)) return cell::copy(more_cell(&fn, more::body), value);
    if (words::is(field, words::Sym::words)) {
        const NodeId words_node = memory::copy_series(context::get_words(fn.data1));
        return block::init_at(value, words_node);
    }
    fire(ErrorId::internal_not_done);
}

int compare_identity(const Cell* value1, const Cell* value2, CompareOp op) {
    if (value1->type() != value2->type()) return not_comparable;
    switch (op) {
        case CompareOp::lesser: case CompareOp::lesser_or_equal: case CompareOp::greater:
        case CompareOp::greater_or_equal:
            return not_comparable;
        default: break;
    }
    if (value1->data3 == value2->data3) return 0;
    return value1->data3 < value2->data3 ? -1 : 1;
}

namespace {

Cell* make(Cell* proto, Cell* spec, Type) {
    if (!spec->is(Type::block) || block::ks_length(spec) < 2) fire_bad_def(spec);
    Cell parts = *spec;
    Cell* first = block::ks_head(&parts);
    if (!first->is(Type::block)) fire_bad_def(spec);
    Cell fn_spec = first[0];
    Cell fn_body = first[1];
    const std::uint32_t flags = validate_spec(&fn_spec);
    if (!fn_body.is(Type::block)) fire_bad_def(spec);
    make_at(proto, &fn_spec, &fn_body, 0, 0, flags);
    return proto;
}

int form(Cell*, Cell* buffer, Cell*, int part) {
    string::append_literal(buffer, "?function?");
    return part - 10;
}

int mold(Cell* value, Cell* buffer, bool, bool all, bool flat, Cell* part_arg, int part, int indent) {
    const Cell fn = *value;
    string::append_literal(buffer, "func ");
    Cell spec;
    block::init_at(&spec, fn.data2);
    part = block::mold(&spec, buffer, false, all, flat, part_arg, part - 5, indent);
    Cell body = *more_cell(&fn, more::body);
    if (!body.is(Type::block)) {
        string::append_literal(buffer, " none");
        return part - 5;
    }
    return block::mold(&body, buffer, false, all, flat, part_arg, part, indent);
}

int compare(Cell* value1, Cell* value2, CompareOp op) { return compare_identity(value1, value2, op); }

constexpr ActionRow actions{
    .make = make,
    .reflect = reflect,
    .form = form,
    .mold = mold,
    .compare = compare,
};

}  // namespace

void init() { registry::register_type(Type::function, Type::context, "function!", actions); }

}  // namespace kiv::function
