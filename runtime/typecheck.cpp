// Argument checks.
#include "runtime/typecheck.h"

#include "runtime/datatypes/error.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/state.h"

namespace kiv::typecheck {

namespace {

[[noreturn, gnu::cold]] void fire_expect_arg(std::int32_t n, Type type) {
    Cell function_word, datatype, argument_word;
    stack::current_function_word(&function_word);
    registry::make_datatype(&datatype, type);
    error::get_arg_word(n, &argument_word);
    fire(ErrorId::script_expect_arg, &function_word, &datatype, &argument_word);
}

}  // namespace

const Cell* check_type(const Cell* typeset, std::int32_t n, const Cell* value) {
    if (!typeset::has(typeset, value->type_id())) fire_expect_arg(n, value->type());
    return value;
}

void check_arg(std::int32_t n, const Cell* typeset, std::int32_t message_n) {
    if (n >= 0) check_type(typeset, message_n, state.stack_arguments + n);
}

const Cell* check_optional_arg(const Cell* refinement, const Cell* typeset, std::int32_t n,
                               const Cell* value) {
    return refinement->data1 ? check_type(typeset, n, value) : value;
}

const Cell* check_set(std::int32_t n, const Cell* value) {
    if (value->is(Type::unset)) fire_expect_arg(n, Type::unset);
    return value;
}

}  // namespace kiv::typecheck
