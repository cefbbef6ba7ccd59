#include "runtime/evaluator/natives-args.h"

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"

namespace kiv::natives_args {

double number_of(const Cell* value) {
    if (value->is(Type::integer)) return integer::get(value);
    if (is_float_layout(value->type())) return float_::get(value);
    return 0.0;
}

void fire_expect_arg(const Cell* value, const char* argument) {
    Cell name;
    Cell type;
    Cell arg_word;
    if (stack::ready()) stack::current_function_word(&name);
    else word::load("<not-found>", &name);
    registry::make_datatype(&type, value->type());
    word::load(argument, &arg_word);
    fire(ErrorId::script_expect_arg, &name, &type, &arg_word);
}

void fire_invalid_arg(const Cell* value) { fire(ErrorId::script_invalid_arg, value); }

bool spelled_q(const Cell* word, std::string_view name) {
    const std::string_view text = symbol::text(word->data2);
    if (text.size() != name.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(text[i]) != lower(name[i])) return false;
    }
    return true;
}

}  // namespace kiv::natives_args
