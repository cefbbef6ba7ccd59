// The function makers, word access (get, set, value?, type?), output
// (print, prin) and construct.
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter-internal.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/output-hooks.h"

namespace kiv::natives {

namespace {

bool is_any_word(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word;
}

// An empty block in the frame's cell i (GC: the frame holds it).
Cell* empty_block(std::int32_t i) {
    Cell* cell = arg(i);
    unset::make_at(cell);
    return block::make_at(cell, 1);
}

// Prints a value, reducing a block into the shared scratch block first.
Status print_value(bool newline) {
    Cell* value = arg(0);
    if (value->is(Type::block)) {
        Cell* scratch = &state.print_scratch;
        const std::int32_t saved_head = series::head(scratch);
        const auto saved_tail = static_cast<std::int32_t>(block::buffer(scratch)->length());
        Cell view = *scratch;
        series::set_head(&view, saved_tail);
        const Cell source = *value;
        const auto restore = [&] {
            block::ks_truncate(&state.print_scratch, saved_tail);
            series::set_head(&state.print_scratch, saved_head);
        };
        Status s;
        try {
            s = reduce_into(const_cast<Cell*>(&source), &view);
        } catch (const KivError&) {
            restore();
            throw;
        }
        if (s == Status::thrown) {
            restore();
            return Status::thrown;
        }
        *value = *scratch;
        series::set_head(value, saved_tail);
        Cell text;
        unset::make_at(&text);
        string::make_at(&text, 64);
        actions::form_into(value, &text);
        console_output::call_print_hooks(&text, newline);
        restore();
    } else if (value->is(Type::string)) {
        const std::int32_t length = string::ks_abs_length(value);
        if (series::head(value) > length) series::set_head(value, length);
        console_output::call_print_hooks(value, newline);
    } else {
        Cell text;
        unset::make_at(&text);
        string::make_at(&text, 16);
        actions::form_into(value, &text);
        console_output::call_print_hooks(&text, newline);
    }
    last_lf = newline;
    unset::make_at(arg(0));
    return Status::ok;
}

// The value of a word argument of get, value? and set.
Cell* word_value(const Cell* word) { return interpreter::internal::word_slot(word); }

}  // namespace

namespace entries {

// ---------------------------------------------------------------------------
// Function makers.

Status func(const std::int32_t*, std::int32_t) {
    function::func(arg(0), arg(0), arg(1));
    return Status::ok;
}

Status function(const std::int32_t*, std::int32_t) {
    function::function(arg(0), arg(0), arg(1));
    return Status::ok;
}

Status does(const std::int32_t*, std::int32_t) {
    // The frame's cells: the body, then an empty spec.
    stack::push_cell();
    Cell* spec = empty_block(1);
    function::func(arg(0), spec, arg(0));
    return Status::ok;
}

Status has(const std::int32_t*, std::int32_t) {
    Cell* vars = arg(0);
    block::clone(vars, true, false, vars);
    Cell local;
    words::refinement(words::Ref::local, &local);
    block::insert_value(vars, &local, false, true);
    function::func(arg(0), vars, arg(1));
    return Status::ok;
}

// ---------------------------------------------------------------------------
// Word access.

Status get(const std::int32_t* args, std::int32_t) {
    Cell* target = arg(0);
    if (series::is_any_path(target->type())) {
        const Cell path = *target;
        Cell* pos = nullptr;
        KIV_PROPAGATE(interpreter::eval_path(&path, pos, nullptr, nullptr, nullptr, true));
        *arg(0) = *(state.stack_top - 1);
        return Status::ok;
    }
    if (target->is(Type::object)) {
        Cell field;
        word::make_at(words::symbol(words::Sym::values), &field);
        Cell* r = actions::dispatch<Action::reflect>(target, &field);
        if (r != arg(0)) *arg(0) = *r;
        return Status::ok;
    }
    const Cell* v = word_value(target);
    if (v->is(Type::unset) && !ref_used(args, 1)) {
        Cell w = *target;
        fire(ErrorId::script_no_value, &w);
    }
    *arg(0) = *v;
    return Status::ok;
}

Status set(const std::int32_t* args, std::int32_t) {
    const bool any = ref_used(args, 1);
    const bool only = ref_used(args, 3);
    const bool some = ref_used(args, 4);
    Cell* target = arg(0);
    Cell* value = arg(1);
    if (value->is(Type::unset) && !any) {
        Cell w = *target;
        fire(ErrorId::script_need_value, &w);
    }
    const Cell result = *value;
    if (series::is_any_path(target->type())) {
        const Cell path = *target;
        Cell* pos = nullptr;
        KIV_PROPAGATE(interpreter::eval_path(&path, pos, nullptr, nullptr, &result));
    } else if (target->is(Type::object)) {
        Cell object = *target;
        KIV_PROPAGATE(object::set_many(&object, value, any, only, some));
    } else if (target->is(Type::block)) {
        Cell anon;
        words::word(words::W::anon, &anon);
        stack::push_native_frame(&anon);
        assign_words(target, value, block::ks_length(target), any, only, some);
        stack::revert();
    } else {
        Cell w = *target;
        context::set(&w, &result);
    }
    *arg(0) = result;
    return Status::ok;
}

Status value_q(const std::int32_t*, std::int32_t) {
    const Cell* v = arg(0);
    if (is_any_word(v->type())) v = word_value(v);
    logic::make_at(arg(0), !v->is(Type::unset));
    return Status::ok;
}

Status type_q(const std::int32_t* args, std::int32_t) {
    const Type t = arg(0)->type();
    if (ref_used(args, 1)) word::make_at(registry::entry(t).symbol, arg(0));
    else registry::make_datatype(arg(0), t);
    return Status::ok;
}

Status construct(const std::int32_t* args, std::int32_t) {
    const Cell* prototype = ref_arg(args, 1);
    Cell spec = *arg(0);
    object::construct(&spec, prototype ? prototype : &none::value, ref_used(args, 2), arg(0));
    return Status::ok;
}

// ---------------------------------------------------------------------------
// Output.

Status print(const std::int32_t*, std::int32_t) { return print_value(true); }
Status prin(const std::int32_t*, std::int32_t) { return print_value(false); }

}  // namespace entries

}  // namespace kiv::natives
