// float!: the 64-bit IEEE double, held in payload words 2 (low half) and 3
// (high half). percent! and time! use the same layout, and this unit holds
// what the three share: the text of a double by kind, near-equality, the
// arithmetic with type promotion (infinities and NaN, never an error for
// overflow or a zero divisor, except where the result is a time!), the
// comparison, power and round.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/cell.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"

namespace kiv::float_ {

// The smallest gap between two doubles that near-equality tells apart, and
// the magnitude below which pretty forming shows zero.
constexpr double epsilon = 2.220446049250313e-16;

inline double get(const Cell* value) {
    double d;
    std::uint32_t words[2] = {value->data2, value->data3};
    std::memcpy(&d, words, sizeof d);
    return d;
}

// Stores the double, leaving the header alone.
inline void set(Cell* value, double d) {
    std::uint32_t words[2];
    std::memcpy(words, &d, sizeof d);
    value->data2 = words[0];
    value->data3 = words[1];
}

// Retypes `out` to `type` (float!, percent! or time!), keeping its header
// flags, and stores the double.
inline Cell* make_at(Cell* out, double d, Type type = Type::float_) {
    out->set_type(type);
    set(out, d);
    return out;
}

// A fresh cell of float!, percent! or time! with no flags.
inline Cell make_cell(double d, Type type = Type::float_) {
    Cell c{static_cast<std::uint32_t>(type), 0, 0, 0};
    set(&c, d);
    return c;
}

// Appends a float! (or percent!, time!) at the block's tail.
// GC: may expand the block.
Cell* make_in(Cell* block, double d, Type type = Type::float_);

// Exponent all ones and a non-zero mantissa; infinities are not NaN.
bool nan_q(double d);
// An infinity or a NaN.
bool not_finite_q(double d);

// Near-equality: exact, closer than `epsilon`, or within 10 units in the
// last place. NaN equals nothing, not even itself.
bool equal_q(double a, double b);
// The same for 32-bit floats (point coordinates).
bool equal32_q(float a, float b);

// The kinds of float text.
enum class Kind : int {
    float32 = 0,    // "%.7g"
    float64 = 1,    // "%.16g": float! form
    percent32 = 2,  // "%.7g" and "%"
    percent64 = 3,  // "%.13g" and "%": percent! form (of 100 times the value)
    seconds = 4,    // 6 significant digits, shortest: the seconds of a time!
    point = 5,      // "%.7g", never a ".0" added
};

// The text of d by kind. The text lives in a static buffer of the unit,
// valid until the next call.
const char* form_float(double d, Kind kind);

// Pretty forming (on at start-up): zero below `epsilon`, and the
// re-formatting of texts that end in a run of 0s or 9s left by the binary
// representation.
extern bool pretty_print;

// The double arithmetic: add, subtract, multiply and divide as IEEE does
// them; remainder with the sign of a (fmod), NaN by a NaN divisor, a by an
// infinite divisor when a is finite. Other ops fire script cannot-use.
double do_math_op(double a, double b, MathOp op);

// Comparison of a double (of the datatype `type`: a caller with an integer
// passes integer!, so the strict ops see two datatypes) with `other` under
// a comparison op code. Answers 0 when equal, -1 or 1 by order, or -2 when
// `other` is no number.
int compare_double(double a, Type type, const Cell* other, CompareOp op);

// The double rounded to a multiple of scale (scale > 0, already absolute)
// by the mode. A result whose magnitude is the largest finite double fires
// math overflow.
double round_to(double d, double scale, RoundMode mode);

// ---------------------------------------------------------------------------
// The arithmetic entries other numeric units hand their work to.

// The op on two operands, the left integer!, float!, percent! or time!, with
// type promotion; the result replaces the left. The result is time! when a
// time! takes part, else the left's type (float! for an integer!). A time!
// result fires math zero-divide on a zero divisor. tuple!, money!, vector!,
// pair! and point right operands pass to their own arithmetic.
Cell* do_math(Cell* left, Cell* right, MathOp op);

// The value (float!, percent!) to the power of an integer! or float!
// exponent, in the value's type.
Cell* power(Cell* number, Cell* exponent);

// Rounds a float!, percent! or time! value in place. Without a scale the
// result keeps the value's type; with one, it takes the scale's type (an
// integer! scale gives an integer!, which fires math overflow beyond the
// 32-bit range). A money! scale fires script not-related.
Cell* round_value(Cell* n, const Cell* scale, RoundMode mode);

// Registers float!.
void init();

}  // namespace kiv::float_
