// The lexer's loaders for dates and money: each checks its token with the
// readers of lexer-numbers.h and, when loading, pushes the value that the
// date! and money! makers build (see `LoaderFn`). Map literals are made by
// `map::make_from_items` from the container maker.
#pragma once

#include <cstdint>

#include "runtime/evaluator/lexer.h"

namespace kiv::lexer {

namespace load {
void date(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void money(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
}  // namespace load

// The checking hooks with the two loaders above in their slots.
const Hooks& date_money_hooks();

}  // namespace kiv::lexer
