// money!: an exact decimal amount with an optional currency, in one cell.
//
//   bytes 0-3   header: type id, bit 14 the sign (1 = negative)
//   byte 4      currency: 0 none, else the 1-based position of its code in
//               the currency list
//   bytes 5-15  22 packed decimal digits, most significant first (the high
//               nibble of byte 5 is digit 1): digits 1-17 before the point,
//               18-22 the five decimals
//
// A zero amount has every digit 0 and no sign, whatever its sign bit holds.
// The arithmetic is exact integer arithmetic on the digits (as a count of
// 1/100000 units); only the conversions from and to float! touch doubles.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/datatypes/integer.h"

namespace kiv::money {

constexpr int digit_count = 22;
constexpr int integer_digits = 17;
constexpr int decimals = 5;
constexpr std::uint32_t sign_mask = 0x4000;
constexpr int sign_shift = 14;

// ---------------------------------------------------------------------------
// The cell.

inline bool get_sign(const Cell* value) { return (value->header & sign_mask) != 0; }
inline void set_sign(Cell* value, bool negative) {
    value->header = negative ? value->header | sign_mask : value->header & ~sign_mask;
}
inline int get_currency(const Cell* value) { return static_cast<int>(value->data1 & 0xFF); }
inline void set_currency(Cell* value, int index) {
    value->data1 = (value->data1 & ~0xFFu) | (static_cast<std::uint32_t>(index) & 0xFF);
}

// Digit n (1-22).
int digit(const Cell* value, int n);
// The count of digits from the first non-zero one, at least 1.
int significant_digits(const Cell* value);

bool zero_q(const Cell* value);
inline bool negative_q(const Cell* value) { return get_sign(value) && !zero_q(value); }
inline bool positive_q(const Cell* value) { return !get_sign(value) && !zero_q(value); }
// -1, 0 or 1.
int sign(const Cell* value);

// A zero money! cell with no flags.
inline Cell zero_cell() { return Cell{static_cast<std::uint32_t>(Type::money), 0, 0, 0}; }

// Writes the cell as stored: sign, currency index and the 11 digit bytes.
Cell* make_at(Cell* out, bool negative, int currency, const std::uint8_t digits[11]);

// ---------------------------------------------------------------------------
// Currencies.

// The position (1-based) of a currency word, or of a code's text, in the
// list, without regard to case; -1 when absent.
int find_currency(const Cell* word);
int find_currency_code(std::string_view code);
// The currency's word, or none without currency.
Cell* currency_word(const Cell* value, Cell* out);

// The currency list is system/locale/currencies/list once the system object
// exists; the source answers that block of words, or nullptr for the
// built-in list of 170 codes.
using CurrencySource = const Cell* (*)();
void set_currency_source(CurrencySource source);
constexpr int builtin_currency_count = 170;

// ---------------------------------------------------------------------------
// Conversions.

// The lexer's maker: integer digits (right-aligned at the units, "'"
// skipped) and fraction digits (the first five kept). False, leaving `out`
// alone, for an unknown currency code or more than 17 integer digits.
bool make_at_text(Cell* out, bool negative, std::string_view currency, std::string_view integer_text,
                  std::string_view fraction_text);

Cell* from_integer(Cell* out, std::int32_t n);
// The float's shortest round-trip digits; infinities, NaN, magnitudes of
// 1e17 or more and non-zero ones below 1e-5 fire script bad-make-arg, as
// (strict only) do more than five decimals.
Cell* from_float(Cell* out, double d, bool strict);
// Toward zero; beyond the 32-bit range script type-limit with integer!.
std::int32_t to_integer(const Cell* value);
double to_float(const Cell* value);

// Text form: "-", the currency code, "$", the integer digits ("'" between
// groups of three with `grouping`), then the decimals: all five with
// `all_decimals`, else as many as system/options/money-digits asks (2 by
// default), cut, not rounded. Answers the budget less what it wrote.
int form(const Cell* value, Cell* buffer, int part, bool all_decimals, bool grouping);

// The number of decimals form writes: the source reads
// system/options/money-digits into *digits and answers whether it holds an
// integer.
using DigitsSource = bool (*)(std::int32_t* digits);
void set_digits_source(DigitsSource source);

// ---------------------------------------------------------------------------
// Arithmetic.

// add, subtract, multiply, divide or remainder of money, integer!, float!
// and percent! operands (at least one of them money!); the result replaces
// `left`.
Cell* do_math(Cell* left, Cell* right, MathOp op);

// Registers money!.
void init();

}  // namespace kiv::money
