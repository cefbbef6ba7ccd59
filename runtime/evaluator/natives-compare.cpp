// The natives that test identity (same?), build blocks from code (compose),
// bind words (bind, in), start parse, combine data sets (union, intersect,
// unique, difference, exclude, complement?) and extend maps.
//
// GC: compose runs the code of its parens, which may change anything; it
// re-reads the source block through its node for every element and keeps
// the blocks it builds on the argument stack.
#include <cstring>

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/natives-args.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/parse.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/hashtable.h"

namespace kiv::natives {

namespace {

// ---------------------------------------------------------------------------
// same?

bool same_values(const Cell* a, const Cell* b) {
    if (a->type() != b->type()) return false;
    const Type t = a->type();
    if (series::is_series(t)) return a->data1 == b->data1 && a->data2 == b->data2;
    switch (t) {
        case Type::datatype: case Type::logic: case Type::object:
            return a->data1 == b->data1;
        case Type::char_: case Type::integer: case Type::bitset:
            return a->data2 == b->data2;
        case Type::float_: case Type::percent: case Type::time: case Type::pair:
            return a->data2 == b->data2 && a->data3 == b->data3;
        case Type::tuple:
            return tuple::length(a) == tuple::length(b) &&
                   std::memcmp(tuple::bytes(a), tuple::bytes(b),
                               static_cast<std::size_t>(tuple::length(a))) == 0;
        case Type::money: {
            Cell left = *a;
            Cell right = *b;
            return registry::find<Action::compare>(&left)(&left, &right, CompareOp::equal) == 0;
        }
        case Type::none: case Type::unset:
            return true;
        case Type::native: case Type::action: case Type::point2d:
            return a->data1 == b->data1 && a->data2 == b->data2;
        case Type::op:
            return a->data2 == b->data2 && a->data3 == b->data3;
        default:
            return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
    }
}

// ---------------------------------------------------------------------------
// compose

std::int32_t length_of(const Cell* block) {
    const std::int32_t n = block::ks_length(block);
    return n < 0 ? 0 : n;
}

// Appends the cells of `values` from its index to `out`.
void splice(Cell* out, const Cell* values) {
    const Cell source = *values;
    for (std::int32_t i = 0;; ++i) {
        // GC: appending may move `out`, never `source`; re-read each time.
        memory::SeriesBuffer* b = block::buffer(&source);
        const std::int32_t at = series::head(&source) + i;
        if (at >= static_cast<std::int32_t>(b->length())) return;
        const Cell c = b->cells()[at];
        block::append_value(out, &c);
    }
}

// Composes the source block's elements into `out` (a block, appended to).
Status compose_into(const Cell* source_block, Cell* out, bool deep, bool only) {
    const Cell source = *source_block;
    const std::int32_t start = series::head(&source) < 0 ? 0 : series::head(&source);
    for (std::int32_t i = start;; ++i) {
        // GC: a paren's code may change the source; read it again each time.
        memory::SeriesBuffer* b = block::buffer(&source);
        if (i >= static_cast<std::int32_t>(b->length())) return Status::ok;
        const Cell item = b->cells()[i];
        if (item.is(Type::paren)) {
            if (length_of(&item) == 0) continue;
            KIV_PROPAGATE(interpreter::eval_block(&item, false));
            const Cell value = *(state.stack_top - 1);
            stack::drop(1);
            if (value.is(Type::unset)) continue;
            if (value.is(Type::block) && !only) splice(out, &value);
            else block::append_value(out, &value);
        } else if (item.is(Type::block) && deep) {
            Cell* nested = stack::push_cell();
            unset::make_at(nested);
            block::make_at(nested, length_of(&item));
            KIV_PROPAGATE(compose_into(&item, nested, deep, only));
            nested->header = (item.header & ~0xFFu) | static_cast<std::uint32_t>(Type::block);
            block::append_value(out, nested);
            stack::drop(1);
        } else {
            block::append_value(out, &item);
        }
    }
}

// Puts the values of `from` into `out`, appended when out is at its tail,
// else inserted at its position; the owner of out hears of it.
void put_values(Cell* out, Cell* from) {
    const bool at_tail = series::ks_tail_q(out);
    if (at_tail) actions::dispatch<Action::append>(out, from, -1, false, 1, true);
    else actions::dispatch<Action::insert>(out, from, -1, false, 1, false);
}

// ---------------------------------------------------------------------------
// bind and in

// The context a bind target names: a word's, an object's or a function's.
NodeId target_context(const Cell* target) { return target->data1; }

// ---------------------------------------------------------------------------
// Set operations

Status set_operation(const std::int32_t* args, int op, const char* first_name) {
    Cell* first = arg(0);
    const bool unique = op == static_cast<int>(block::SetOp::unique);
    const bool case_ = ref_used(args, 1);
    Cell* skip = ref_arg(args, 2);
    Cell* second = unique ? nullptr : arg(1);
    const Type t = first->type();
    const bool block_like = t == Type::block || t == Type::hash;
    if (second) {
        const Type t2 = second->type();
        const bool ok = block_like ? (t2 == Type::block || t2 == Type::hash) : t2 == t;
        if (!ok) {
            Cell expected;
            Cell found;
            registry::make_datatype(&expected, t);
            registry::make_datatype(&found, t2);
            fire(ErrorId::script_expect_val, &expected, &found);
        }
    }
    if (block_like) {
        Cell result;
        none::make_at(&result);
        block::set_operation(first, second, case_, skip, static_cast<block::SetOp>(op), &result);
        *first = result;
        return Status::ok;
    }
    switch (t) {
        case Type::string:
            string::set_operation(first, second, case_, skip, static_cast<string::SetOp>(op));
            return Status::ok;
        case Type::bitset:
            if (unique) break;
            bitset::do_bitwise(first, second, static_cast<bitset::SetOp>(op));
            return Status::ok;
        case Type::typeset:
            if (unique) break;
            typeset::do_bitwise(first, second, op);
            return Status::ok;
        case Type::date:
            if (op != static_cast<int>(block::SetOp::difference)) break;
            *first = time::make_cell(date::difference(first, second));
            return Status::ok;
        default:
            break;
    }
    natives_args::fire_expect_arg(first, first_name);
}

}  // namespace

namespace entries {

Status same_q(const std::int32_t*, std::int32_t) {
    logic::make_at(arg(0), same_values(arg(0), arg(1)));
    return Status::ok;
}

Status compose(const std::int32_t* args, std::int32_t) {
    const Cell value = *arg(0);
    if (!value.is(Type::block)) {
        Cell expected;
        Cell found;
        registry::make_datatype(&expected, Type::block);
        registry::make_datatype(&found, value.type());
        fire(ErrorId::script_expect_val, &expected, &found);
    }
    Cell* into = ref_arg(args, 3);
    Cell* out = stack::push_cell();
    unset::make_at(out);
    block::make_at(out, length_of(&value));
    KIV_PROPAGATE(compose_into(&value, out, ref_used(args, 1), ref_used(args, 2)));
    if (into) {
        // GC: `into` is a frame cell; the stack does not move.
        put_values(into, out);
        *arg(0) = *into;
    } else {
        *arg(0) = *out;
    }
    return Status::ok;
}

Status bind(const std::int32_t* args, std::int32_t) {
    Cell* value = arg(0);
    const Cell* target = arg(1);
    const NodeId context = target_context(target);
    if (!value->is(Type::block)) {
        if (context) context::bind_word(context, value);
        return Status::ok;
    }
    if (ref_used(args, 1)) {
        Cell copy;
        block::clone(value, true, true, &copy);
        *value = copy;
    }
    if (context) context::bind(value, context, target->is(Type::object));
    return Status::ok;
}

Status in(const std::int32_t*, std::int32_t) {
    const Cell holder = *arg(0);
    Cell word = *arg(1);
    if (word.is(Type::refinement)) word.set_type(Type::word);
    switch (holder.type()) {
        case Type::native: case Type::action: case Type::op: {
            // A built-in callable keeps only a copy of its argument
            // context's header (in cell 0 of its more block): the word is
            // looked up in its table and keeps its own binding, as no
            // context of values exists to bind it to.
            const Cell* more = memory::buffer_of(holder.data3)->cells();
            if (hashtable::find_context_word(more->data1, word.data2, true, 0, nullptr) < 0)
                none::make_at(&word);
            break;
        }
        default: {
            const NodeId context = holder.data1;
            const std::int32_t index = context ? context::find_word(context, word.data2, true) : -1;
            if (index < 0) {
                none::make_at(&word);
                break;
            }
            word.data1 = context;
            word.data3 = static_cast<std::uint32_t>(index);
            break;
        }
    }
    *arg(0) = word;
    return Status::ok;
}

// The engine's entry does the work: /case, the /part limit, the /trace
// callback.
Status parse(const std::int32_t* args, std::int32_t) {
    const Cell input = *arg(0);
    const Cell rules = *arg(1);
    return parse::native(&input, &rules, ref_used(args, 1), ref_arg(args, 2), ref_arg(args, 3),
                         arg(0));
}

Status union_(const std::int32_t* args, std::int32_t) {
    return set_operation(args, static_cast<int>(block::SetOp::union_), "set1");
}
Status intersect(const std::int32_t* args, std::int32_t) {
    return set_operation(args, static_cast<int>(block::SetOp::intersect), "set1");
}
Status unique(const std::int32_t* args, std::int32_t) {
    return set_operation(args, static_cast<int>(block::SetOp::unique), "set");
}
Status difference(const std::int32_t* args, std::int32_t) {
    return set_operation(args, static_cast<int>(block::SetOp::difference), "set1");
}
Status exclude(const std::int32_t* args, std::int32_t) {
    return set_operation(args, static_cast<int>(block::SetOp::exclude), "set1");
}

Status complement_q(const std::int32_t*, std::int32_t) {
    const Cell* bits = arg(0);
    if (!bits->is(Type::bitset)) natives_args::fire_expect_arg(bits, "bits");
    logic::make_at(arg(0), bitset::complemented_q(bits));
    return Status::ok;
}

Status extend(const std::int32_t* args, std::int32_t) {
    Cell* target = arg(0);
    if (!target->is(Type::map)) fire(ErrorId::internal_not_done);
    map::extend(target, arg(1), ref_used(args, 1));
    return Status::ok;
}

}  // namespace entries

}  // namespace kiv::natives
