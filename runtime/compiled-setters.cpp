// The setters and getters of compiled code.
#include "runtime/compiled-setters.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"

namespace kiv::compiled {

void set_word_keep(Cell* word) {
    const Cell* value = stack::top_value();
    if (value->is(Type::unset)) fire(ErrorId::script_need_value, word);
    context::set(word, value);
}

void set_word(Cell* word) {
    set_word_keep(word);
    stack::reset();
}

void set_slot_keep(NodeId ctx, std::int32_t index) {
    const Cell* value = stack::top_value();
    if (value->is(Type::unset)) fire(ErrorId::script_need_value, context::get_word_at(ctx, index));
    *context::slot(ctx, index) = *value;
}

void set_slot(NodeId ctx, std::int32_t index) {
    set_slot_keep(ctx, index);
    stack::reset();
}

void set_slot_unchecked(NodeId ctx, std::int32_t index) {
    word::set_local(ctx, index, stack::top_value());
    stack::reset();
}

Cell* get_word_checked(const Cell* word) {
    Cell* value = context::get(word);
    if (value->is(Type::unset)) fire(ErrorId::script_no_value, word);
    return value;
}

Cell* get_slot(NodeId ctx, std::int32_t index) {
    if (!context::header(ctx)->data2) fire(ErrorId::script_not_defined, context::get_word_at(ctx, index));
    return context::slot(ctx, index);
}

}  // namespace kiv::compiled
