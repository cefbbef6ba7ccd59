// integer!: the 32-bit signed integer. Payload word 2 holds the value (also
// the layout of char!); words 1 and 3 are not read.
//
// Integer arithmetic never wraps: an add, subtract or multiply that leaves
// the 32-bit range, and a divide that does not come out even, turn the
// result cell into a float! holding the exact double result. Only the
// quotients and remainders that no type can hold (by zero, the minimum by
// -1) raise math errors.
//
// This header also holds the op codes and the rounding modes that every
// numeric datatype shares.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kiv {

// The arithmetic op codes of the numeric datatypes. ORDER MATHOP: pair!,
// tuple!, vector! and the float arithmetic use the same numbers.
enum class MathOp : int {
    add = 0,
    subtract = 1,
    multiply = 2,
    divide = 3,
    remainder = 4,
    or_ = 5,
    and_ = 6,
    xor_ = 7,
};

// The refinements of `round`. With several set, the first in this order
// that applies wins: down, floor, ceiling; then the half rules even,
// half_down, half_ceiling; none set rounds halves away from zero.
struct RoundMode {
    bool even = false;
    bool down = false;
    bool half_down = false;
    bool floor = false;
    bool ceiling = false;
    bool half_ceiling = false;
};

}  // namespace kiv

namespace kiv::integer {

constexpr std::int32_t min_value = INT32_MIN;
constexpr std::int32_t max_value = INT32_MAX;

// The value of an integer! or char! cell; no type check.
inline std::int32_t get(const Cell* value) { return static_cast<std::int32_t>(value->data2); }

// Retypes `out` to integer!, keeping its header flags, and stores the value.
inline Cell* make_at(Cell* out, std::int32_t n) {
    out->set_type(Type::integer);
    out->data2 = static_cast<std::uint32_t>(n);
    return out;
}

// A fresh integer! cell with no flags.
inline Cell make_cell(std::int32_t n) {
    return Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(n), 0};
}

// Appends an integer at the block's tail. GC: may expand the block.
Cell* make_in(Cell* block, std::int32_t n);

inline std::int32_t sign(std::int32_t n) { return (n > 0) - (n < 0); }

// The absolute value; the minimum fires math overflow.
std::int32_t abs(std::int32_t n);

// Whether a float!, percent! or time! cell's double lies outside the 32-bit
// range (or is NaN), so it cannot become an integer.
bool float_out_of_range(const Cell* value);

// The decimal text of n, with "-" for negatives. The text lives in a static
// buffer of the unit, valid until the next call.
const char* form_signed(std::int32_t n);

// The overflow-detecting core. With a result cell, an integer result is
// stored in its payload (the header is left alone), and an overflowing add,
// subtract or multiply, or an inexact divide, retypes the cell to float!
// holding the exact double result and answers 0. Only divide may go without
// a result cell (it then truncates). A zero divisor fires math zero-divide;
// the minimum divided by -1 fires math overflow.
std::int32_t do_math_op(std::int32_t a, std::int32_t b, MathOp op, Cell* result);

// n rounded to a multiple of scale (scale >= 0; 0 leaves n unchanged) by
// the mode. A result outside the 32-bit range fires math overflow.
std::int32_t round_to(std::int32_t n, std::int32_t scale, RoundMode mode);

// base to the power exp (exp >= 0) by repeated squaring. Answers false,
// leaving *out alone, when an intermediate product overflows.
bool power_exact(std::int32_t base, std::int32_t exp, std::int32_t* out);

// ---------------------------------------------------------------------------
// Shared by the numeric units when an operation passes to another datatype.

// The action that carries an op code.
Action action_of(MathOp op);

// Runs the arithmetic action of `owner`'s datatype for the op on the two
// operands (owner is one of them) and leaves the result in `left`. An
// unsupported action fires script expect-arg.
Cell* run_math_action(const Cell* owner, Cell* left, Cell* right, MathOp op);

// script not-related: the word (an action's name) and a datatype.
[[noreturn, gnu::cold]] void fire_not_related(const char* word, Type type);
// script invalid-type with the value's datatype.
[[noreturn, gnu::cold]] void fire_invalid_type(const Cell* value);
// script expect-arg: the action, the value's datatype, the argument's name.
[[noreturn, gnu::cold]] void fire_expect_arg(Action action, const Cell* value, const char* arg);

// Registers integer!.
void init();

}  // namespace kiv::integer
