// Float and text conversion (the dtoa unit): the shortest decimal digits
// that read back to the same 64-bit float, correctly rounded digits of a
// given count, the runtime's float text layout with its special texts for
// zero, infinities and NaN, and correctly rounded reading of decimal text.
//
// The results of float_to_digits and form_float live in static buffers of
// the unit and stay valid until the next conversion. Nothing here touches
// the heap or raises errors.
#pragma once

namespace kiv::dtoa {

// Decimal-point positions that mark the special texts.
constexpr int point_special = 9999;  // infinities and NaN
constexpr int point_zero = 9998;

// The most significant digits a caller can ask for; larger counts are
// clamped to it.
constexpr int max_digits = 40;

// Digits of d: digits <= 0 gives the shortest string that reads back to d,
// digits > 0 that many significant digits correctly rounded; trailing zeros
// are removed. *point is the position of the decimal point (value =
// 0.d1d2... x 10^point), *negative the sign bit, *count the digit count.
// Infinities and NaN give "1.#INF", "-1.#INF", "1.#NaN" with point_special;
// zero gives "0.0"/"-0.0" (zero_with_dot) or "0"/"-0" with point_zero.
const char* float_to_digits(double d, int digits, int* point, bool* negative, int* count,
                            bool zero_with_dot);

// The runtime's text of d: plain notation for decimal-point positions 1 to
// 17 and -6 to 0, scientific ("1.5e-8", "1.0e20") beyond; keep_dot_zero
// ends an integral value with ".0" instead of dropping the ".".
const char* form_float(double d, int digits, bool keep_dot_zero);

// Reads decimal text in [start, end): optional sign, digits with an
// optional ".", an optional exponent, or the special texts "1.#INF" and
// "1.#NaN" (letter case free). extra_exponent is added to the decimal
// exponent before rounding (-2 reads a percent). *unread receives the
// count of characters left after the number; callers treat non-zero as
// invalid. Overflow gives a signed infinity, underflow a signed zero.
double text_to_float(const char* start, const char* end, int extra_exponent, int* unread);

}  // namespace kiv::dtoa
