// The apply native: calls a function with arguments taken from a block.
// Without /all the block holds the mandatory arguments and then groups of a
// refinement!, a value whose truth makes it active, and its arguments; with
// /all it holds every argument and refinement state of the spec in order.
// Values missing at the end of the block count as none (and refinements as
// inactive); /safer evaluates each argument from one value only and skips
// the arguments of inactive refinements instead of evaluating them.
//
// The values are gathered into a scratch frame laid out as a function's
// frame (arguments, each refinement's state and arguments, locals) on the
// argument stack, then passed to the callee: a function! or routine! takes
// the cells as they are, a native! or action! its mandatory arguments and
// the arguments of its active refinements with their positions.
//
// GC: evaluating the block's values runs any code; the scratch cells sit
// on the argument stack, and the positions in the block are pointers that
// keep its buffer in place.
#include <cstdint>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter-internal.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/natives-args.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"

namespace kiv::natives {

namespace {

// The layout of an argument cache entry (see the interpreter): the kind of
// an argument in header bits 20-21, its position in the spec in bits 8-19;
// a refinement's first frame slot in the upper half of data1, its argument
// count in the lower half, its canonical symbol in data2, its ordinal in
// data3.
constexpr std::uint32_t kind_shift = 20;
enum ArgKind : std::uint32_t { evaluated = 0, get_argument = 1, literal = 2 };

bool is_callable(Type t) {
    return t == Type::native || t == Type::action || t == Type::function || t == Type::routine ||
           t == Type::op;
}

bool is_any_word(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word;
}

struct Apply {
    Cell fn;              // the callee (an op! retyped to what it was made from)
    Cell name;            // the word that names it
    const Cell* cache;    // its argument cache
    Cell* base;           // the scratch frame
    Cell code;            // the block of values
    Cell* pos;
    Cell* end;
    bool safer;
    std::uint64_t used = 0;  // refinements already given, by ordinal
};

Cell* entry_word(const Apply& a, const Cell* entry, Cell* out) {
    const std::uint32_t position = (entry->header >> 8) & 0xFFF;
    memory::SeriesBuffer* sb = memory::buffer_of(a.fn.data2);
    if (position >= sb->length()) return words::word(words::W::anon, out);
    *out = sb->cells()[position];
    out->header = static_cast<std::uint32_t>(Type::word);
    return out;
}

[[noreturn]] void fire_expect(const Apply& a, const Cell* entry, const Cell* value) {
    Cell name = a.name;
    Cell type;
    Cell arg;
    registry::make_datatype(&type, value->type());
    entry_word(a, entry, &arg);
    fire(ErrorId::script_expect_arg, &name, &type, &arg);
}

// Pops the value the last evaluation pushed into `out`.
void pop_into(Cell* out) {
    *out = *(state.stack_top - 1);
    stack::drop(1);
}

// Evaluates the next expression of the block into `out`; with /safer the
// expression is the next value alone.
Status evaluate(Apply& a, Cell* out) {
    Cell* stop = a.safer ? a.pos + 1 : a.end;
    KIV_PROPAGATE(interpreter::eval_expression(a.pos, stop, &a.code, interpreter::flag::sub));
    pop_into(out);
    return Status::ok;
}

// Takes the next value of the block as the entry's kind asks into `out`
// (none at the end of the block), checked against the entry's typeset: a
// native reads its frame as its spec allows, none included.
Status fetch(Apply& a, const Cell* entry, Cell* out) {
    if (a.pos >= a.end) {
        none::make_at(out);
        if (!typeset::has(entry, out->type_id())) fire_expect(a, entry, out);
        return Status::ok;
    }
    switch ((entry->header >> kind_shift) & 3) {
        case evaluated:
            KIV_PROPAGATE(evaluate(a, out));
            break;
        case get_argument:
            *out = *a.pos++;
            break;
        default: {
            Cell* v = a.pos++;
            if (v->is(Type::paren)) {
                KIV_PROPAGATE(
                    interpreter::internal::eval_paren(v, interpreter::internal::anon_symbol));
                pop_into(out);
            } else if (v->is(Type::get_word)) {
                *out = *interpreter::internal::word_slot(v);
            } else if (v->is(Type::get_path)) {
                KIV_PROPAGATE(interpreter::eval_path(v, a.pos, a.end, &a.code, nullptr));
                pop_into(out);
            } else {
                *out = *v;
            }
            break;
        }
    }
    if (!typeset::has(entry, out->type_id())) fire_expect(a, entry, out);
    return Status::ok;
}

// Fills the refinement's slots: its state, then its arguments from the
// block when active. An inactive one's arguments are taken and dropped;
// with /safer they are skipped unevaluated, or with /all as well not taken
// at all.
Status fill_refinement(Apply& a, const Cell* e, bool active, bool all = false) {
    const auto slot = static_cast<std::int32_t>(e->data1 >> 16);
    const auto count = static_cast<std::int32_t>(e->data1 & 0xFFFF);
    logic::make_at(a.base + slot, active);
    for (std::int32_t i = 0; i < count; ++i) {
        Cell* cell = a.base + slot + 1 + i;
        if (active) {
            KIV_PROPAGATE(fetch(a, e + 1 + i, cell));
        } else if (a.safer) {
            if (!all && a.pos < a.end) ++a.pos;
        } else {
            Cell dropped;
            if (a.pos < a.end) KIV_PROPAGATE(fetch(a, e + 1 + i, &dropped));
            none::make_at(cell);
        }
    }
    return Status::ok;
}

// The refinement entry of a word's symbol, marked as used; a name the
// callee lacks or gives twice raises.
const Cell* claim_refinement(Apply& a, const Cell* item) {
    const std::uint32_t wanted = symbol::resolve(item->data2);
    const Cell* e = a.cache + 1 + a.cache->data1;
    for (std::int32_t left = static_cast<std::int32_t>(a.cache->data2); left > 0; ++e) {
        if (!e->is(Type::refinement)) continue;
        if (e->data2 == wanted) {
            const std::uint64_t bit = std::uint64_t{1} << (e->data3 & 63);
            if (a.used & bit) {
                Cell bad = *item;
                fire(ErrorId::script_dup_refine, &bad);
            }
            a.used |= bit;
            return e;
        }
        --left;
    }
    Cell name = a.name;
    Cell bad = *item;
    fire(ErrorId::script_no_refine, &name, &bad);
}

// The scratch frame with every refinement inactive, the /local slot false
// and every other cell none.
void push_frame_cells(const Apply& a, const Cell* cache_block) {
    const auto slots = static_cast<std::int32_t>(a.cache->data3);
    for (std::int32_t i = 0; i < slots; ++i) none::make_at(stack::push_cell());
    const Cell* e = a.cache + 1 + a.cache->data1;
    for (std::int32_t left = static_cast<std::int32_t>(a.cache->data2); left > 0; ++e) {
        if (!e->is(Type::refinement)) continue;
        logic::make_at(a.base + (e->data1 >> 16), false);
        --left;
    }
    const Cell* last = block::buffer(cache_block)->cells_tail() - 1;
    if (last > a.cache && last->is(Type::integer) && last->data2 > 0)
        logic::make_at(a.base + slots - static_cast<std::int32_t>(last->data2), false);
}

Status fill_all(Apply& a) {
    const Cell* e = a.cache + 1 + a.cache->data1;
    for (std::int32_t left = static_cast<std::int32_t>(a.cache->data2); left > 0; ++e) {
        if (!e->is(Type::refinement)) continue;
        --left;
        bool active = false;
        if (a.pos < a.end) {
            Cell state_value;
            KIV_PROPAGATE(evaluate(a, &state_value));
            if (!state_value.is(Type::logic)) {
                Cell name = a.name;
                Cell type;
                Cell word = *e;
                word.header = static_cast<std::uint32_t>(Type::word);
                word.data1 = 0;
                registry::make_datatype(&type, state_value.type());
                fire(ErrorId::script_expect_arg, &name, &type, &word);
            }
            active = logic::get(&state_value);
        }
        KIV_PROPAGATE(fill_refinement(a, e, active, true));
    }
    return Status::ok;
}

Status fill_groups(Apply& a) {
    while (a.pos < a.end) {
        if (!a.pos->is(Type::refinement)) {
            if (a.cache->data2 == 0) return Status::ok;
            Cell bad = *a.pos;
            fire(ErrorId::script_bad_refine, &bad);
        }
        const Cell* e = claim_refinement(a, a.pos++);
        bool active = false;
        if (a.pos < a.end) {
            Cell state_value;
            KIV_PROPAGATE(evaluate(a, &state_value));
            active = truthy_strict(&state_value);
        }
        KIV_PROPAGATE(fill_refinement(a, e, active));
    }
    return Status::ok;
}

// The refinements a calling path asks for: a word! makes its refinement
// active, a get-word! when its value is truthy; their arguments come next
// in the block.
Status fill_path_refinements(Apply& a, const Cell* path) {
    const std::int32_t first = series::head(path) < 0 ? 0 : series::head(path);
    for (std::int32_t i = first + 1;; ++i) {
        // GC: the refinement's arguments run code; read the path again.
        memory::SeriesBuffer* b = block::buffer(path);
        if (i >= static_cast<std::int32_t>(b->length())) return Status::ok;
        const Cell item = b->cells()[i];
        bool active;
        if (item.is(Type::word)) {
            active = true;
        } else if (item.is(Type::get_word)) {
            active = truthy_strict(interpreter::internal::word_slot(&item));
        } else {
            fire(ErrorId::script_bad_refine, &item);
        }
        KIV_PROPAGATE(fill_refinement(a, claim_refinement(a, &item), active));
    }
}

// Calls a native or action with the scratch frame's mandatory arguments and
// the arguments of its active refinements.
Status call_builtin(Apply& a, Cell* result) {
    const bool is_native = a.fn.is(Type::native);
    const auto refinements = static_cast<std::int32_t>(a.cache->data2);
    if (refinements > compiled::max_refinements) fire(ErrorId::internal_not_done);
    std::int32_t positions[1 + compiled::max_refinements];
    positions[0] = 0;
    stack::push_interpreted_native_frame(&a.name);
    Cell* frame = state.stack_arguments;
    const auto mandatory = static_cast<std::int32_t>(a.cache->data1);
    for (std::int32_t i = 0; i < mandatory; ++i) stack::push_copy(a.base + i);
    const Cell* e = a.cache + 1 + mandatory;
    for (std::int32_t k = 1; k <= refinements; ++e) {
        if (!e->is(Type::refinement)) continue;
        const auto slot = static_cast<std::int32_t>(e->data1 >> 16);
        const auto count = static_cast<std::int32_t>(e->data1 & 0xFFFF);
        positions[k] = -1;
        if (logic::get(a.base + slot)) {
            positions[k] = static_cast<std::int32_t>(state.stack_top - frame);
            for (std::int32_t i = 0; i < count; ++i) stack::push_copy(a.base + slot + 1 + i);
        }
        ++k;
    }
    const auto s = static_cast<std::int32_t>(a.fn.data1);
    const Entry entry = is_native ? natives::entry(s) : actions::entry(s);
    if (!entry) fire(ErrorId::internal_not_done);
    if (is_native) KIV_PROPAGATE(entry(positions, refinements + 1));
    else KIV_PROPAGATE(entry(positions + 1, refinements));
    *result = *frame;
    stack::close();
    return Status::ok;
}

// The callee and its name from apply's first argument.
void resolve_callee(Apply& a, const Cell* target) {
    Cell word;
    if (is_any_word(target->type()) || series::is_any_path(target->type())) {
        if (series::is_any_path(target->type())) {
            memory::SeriesBuffer* b = block::buffer(target);
            const std::int32_t head = series::head(target) < 0 ? 0 : series::head(target);
            if (head >= static_cast<std::int32_t>(b->length()))
                fire(ErrorId::script_invalid_arg, target);
            word = b->cells()[head];
            if (!is_any_word(word.type())) fire(ErrorId::script_invalid_arg, target);
        } else {
            word = *target;
        }
        a.fn = *interpreter::internal::word_slot(&word);
        a.name = word;
        a.name.set_type(Type::word);
    } else {
        a.fn = *target;
        words::word(words::W::anon, &a.name);
    }
    if (!is_callable(a.fn.type())) fire(ErrorId::script_invalid_arg, target);
    // An operator calls what it was made from.
    if (a.fn.is(Type::op)) a.fn.set_type(static_cast<Type>((a.fn.header >> 16) & 0xFF));
}

}  // namespace

namespace entries {

Status apply(const std::int32_t* args, std::int32_t) {
    Apply a;
    const Cell target = *arg(0);
    resolve_callee(a, &target);
    a.code = *arg(1);
    a.safer = ref_used(args, 2);
    // GC: the callee's copy lives on the stack for the whole call.
    Cell* fn_slot = stack::push_copy(&a.fn);
    a.cache = interpreter::internal::argument_cache(fn_slot);
    memory::SeriesBuffer* b = block::buffer(&a.code);
    const std::int32_t head = series::head(&a.code) < 0 ? 0 : series::head(&a.code);
    a.end = b->cells_tail();
    a.pos = b->cells() + head < a.end ? b->cells() + head : a.end;
    a.base = state.stack_top;
    push_frame_cells(a, function::more_cell(fn_slot, 1));
    const auto mandatory = static_cast<std::int32_t>(a.cache->data1);
    for (std::int32_t i = 0; i < mandatory; ++i)
        KIV_PROPAGATE(fetch(a, a.cache + 1 + i, a.base + i));
    if (series::is_any_path(target.type())) KIV_PROPAGATE(fill_path_refinements(a, &target));
    if (ref_used(args, 1)) KIV_PROPAGATE(fill_all(a));
    else KIV_PROPAGATE(fill_groups(a));
    Cell result;
    none::make_at(&result);
    if (a.fn.is(Type::native) || a.fn.is(Type::action)) {
        KIV_PROPAGATE(call_builtin(a, &result));
    } else {
        KIV_PROPAGATE(interpreter::call_with_arguments(
            fn_slot, &a.name, a.base, static_cast<std::int32_t>(a.cache->data3), &result));
    }
    *arg(0) = result;
    return Status::ok;
}

}  // namespace entries

}  // namespace kiv::natives
