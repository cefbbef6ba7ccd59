// What the natives of the numeric, text, set and system groups share when
// they read their arguments: the numbers behind the numeric datatypes, the
// errors that name the running native, and method words compared by
// spelling without regard to case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace kiv::natives_args {

// Whether the datatype carries a double in the float! layout: float!,
// percent! and time!.
constexpr bool is_float_layout(Type t) {
    return t == Type::float_ || t == Type::percent || t == Type::time;
}

// The double of an integer!, float!, percent! or time!; 0.0 for anything
// else.
double number_of(const Cell* value);

// Raises script expect-arg naming the running native, the value's datatype
// and the argument's name.
[[noreturn, gnu::cold]] void fire_expect_arg(const Cell* value, const char* argument);

// Raises script invalid-arg with the value.
[[noreturn, gnu::cold]] void fire_invalid_arg(const Cell* value);

// Whether a word-family value spells `name` (ASCII, without regard to
// case).
bool spelled_q(const Cell* word, std::string_view name);

// The index in `names` of the word's spelling (without regard to case), or
// -1.
template <std::size_t N>
int spelling_index(const Cell* word, const std::string_view (&names)[N]) {
    for (std::size_t i = 0; i < N; ++i)
        if (spelled_q(word, names[i])) return static_cast<int>(i);
    return -1;
}

}  // namespace kiv::natives_args
