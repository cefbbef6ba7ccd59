// Number, time, date and money text: the readers behind the lexer's number
// tokens and behind text-to-number conversions. All are pure functions over
// text that return plain results and never raise; the token readers take the
// exact bytes of one token, the conversion scanners (`scan_*`) take the
// characters of a string of any unit width.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/evaluator/lexer.h"

namespace kiv::lexer {

// Longest float text accepted.
constexpr std::size_t max_float_text = 312;

// The float syntax: signs, digits, single "'" separators, one ".", an
// exponent "e"/"E" with an optional sign and digits. Texts longer than
// `max_float_text` fail.
bool float_syntax(const char* s, std::size_t n);

// Correctly rounded decimal reading (the runtime's float reader) of a text
// of digits, "'" separators, one "." (or ","), an exponent, and one optional
// leading sign, with `extra_exponent` added to the decimal exponent.
// Overflow gives an infinity, underflow a zero, both with the sign. False
// when the text is not such a number.
bool text_to_float(const char* s, std::size_t n, int extra_exponent, double& out);

// ---------------------------------------------------------------------------
// Token readers; each answers false (or an error datatype) for the invalid
// error of its token.
// ---------------------------------------------------------------------------

// Decimal integers. More than 10 digits, or a value beyond 32 bits, makes
// the token a float (`floating`), except the exact text "-2147483648".
struct IntegerToken {
    enum Result : std::uint8_t { integer, floating, invalid } result;
    std::int32_t value;
};
IntegerToken read_integer(const std::uint8_t* s, const std::uint8_t* e);

// "FFh": 2 to 8 hex digits and "h". Returns 0, or the datatype of the
// invalid error (integer!, or word! for a single non-digit before "h").
int read_hex(const std::uint8_t* s, const std::uint8_t* e, std::int32_t& out);

bool read_float(const std::uint8_t* s, const std::uint8_t* e, double& out);
// "1.#INF", "-1.#INF", "1.#NaN", letters in any case.
bool read_special_float(const std::uint8_t* s, const std::uint8_t* e, double& out);
// The number before "%" (`e` is the "%"), divided by 100.
bool read_percent(const std::uint8_t* s, const std::uint8_t* e, double& out);
// "1x2": each side a 32-bit integer.
bool read_pair(const std::uint8_t* s, const std::uint8_t* e, std::int32_t& x, std::int32_t& y);
// "1.2.3": 3 to 12 parts of 0 to 255; returns the count, 0 when invalid.
int read_tuple(const std::uint8_t* s, const std::uint8_t* e, std::uint8_t out[12]);

// The text of a point literal after "(" up to its ")" (`e`).
struct Point {
    int count;  // 2 or 3
    float xyz[3];
};
// Returns 0, or the datatype of the invalid error (point2D!, point3D!, float!).
int read_point(const std::uint8_t* s, const std::uint8_t* e, Point& out);

// "1:30", "1:30:45.5", "-1:30", "1:30.5" (minutes and seconds): seconds.
bool read_time(const std::uint8_t* s, const std::uint8_t* e, double& seconds);

struct Date {
    int year, month, day;
    bool has_time;
    double seconds;   // time of day
    bool has_zone;
    int zone_minutes;  // offset from UTC, signed
};
bool read_date(const std::uint8_t* s, const std::uint8_t* e, Date& out);

// Money as its parts; the money maker checks the currency code.
struct MoneyText {
    bool negative;
    char currency[4];  // "" for none
    std::string integer_digits;
    std::string fraction_digits;
};
bool read_money(const std::uint8_t* s, const std::uint8_t* e, MoneyText& out);

// ---------------------------------------------------------------------------
// Conversion scanners over string characters of 1, 2 or 4 bytes each
// ---------------------------------------------------------------------------

// `error`: 0, -1 for a character that is not a digit (or a leading sign, or
// "'"), -2 on overflow (the result is then 0).
std::int32_t scan_integer(const void* chars, int count, int width, int& error);
// `error`: 0, or -1 when the text is not a float (the result is then a NaN).
// "," is a decimal point.
double scan_float(const void* chars, int count, int width, int& error);
// "USD$1.50", "$1", "1.50"; returns 0, or -1 on any failure.
int scan_money(const void* chars, int count, int width, MoneyText& out);

// Checking loaders of the number kinds (see `checking_hooks`).
namespace check {
void integer(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void hex(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void float_(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void special_float(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void percent(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void pair(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void tuple(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void point(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void time(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void date(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void money(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
}  // namespace check

}  // namespace kiv::lexer
