// Float and text conversion: see float-text.h.
//
// The correctly rounded cores are the standard library's: std::to_chars for
// digit generation (shortest and fixed-count) and std::from_chars for
// reading. This unit adds the runtime's text layout on top and its own
// scanner for the reading rules (sign, special texts, exponent handling),
// which hands from_chars a canonical "digits e exponent" text.
#include "runtime/float-text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace kiv::dtoa {

namespace {

// digits, "." and "e-324" on top of max_digits, a sign and the NUL
constexpr int result_size = max_digits + 24;
static_assert(result_size >= max_digits + 10);

char digit_buffer[max_digits + 8];
char result_buffer[result_size];  // [0] is the "-" of negative results

// Largest exponent magnitude worth keeping: anything beyond already gives
// an infinity or a zero, whatever the digits.
constexpr long exponent_cap = 100000;

// Digits beyond this many cannot change the rounding of a double except as
// a sticky non-zero tail, which one extra digit keeps.
constexpr int max_significant = 780;

const char* copy_special(const char* text, int* count) {
    std::strcpy(digit_buffer, text);
    *count = static_cast<int>(std::strlen(text));
    return digit_buffer;
}

void append_exponent(char*& out, int e) {
    *out++ = 'e';
    auto r = std::to_chars(out, out + 8, e);
    out = r.ptr;
}

// Step shared by both notations: an integral text ends in "." here.
void finish_dot(char*& out, bool keep_dot_zero) {
    if (out[-1] != '.') return;
    if (keep_dot_zero) {
        *out++ = '0';
    } else {
        --out;
    }
}

}  // namespace

const char* float_to_digits(double d, int digits, int* point, bool* negative, int* count,
                            bool zero_with_dot) {
    *negative = std::signbit(d);
    d = std::fabs(d);
    if (!std::isfinite(d)) {
        *point = point_special;
        if (std::isnan(d)) return copy_special("1.#NaN", count);
        return copy_special(*negative ? "-1.#INF" : "1.#INF", count);
    }
    if (d == 0) {
        *point = point_zero;
        if (zero_with_dot) return copy_special(*negative ? "-0.0" : "0.0", count);
        return copy_special(*negative ? "-0" : "0", count);
    }
    char sci[max_digits + 16];
    std::to_chars_result r =
        digits <= 0 ? std::to_chars(sci, sci + sizeof sci, d, std::chars_format::scientific)
                    : std::to_chars(sci, sci + sizeof sci, d, std::chars_format::scientific,
                                    (digits > max_digits ? max_digits : digits) - 1);
    *r.ptr = '\0';
    // sci is "d[.ddd]e[+-]xx"
    int n = 0;
    const char* p = sci;
    for (; *p != 'e'; ++p)
        if (*p != '.') digit_buffer[n++] = *p;
    while (n > 1 && digit_buffer[n - 1] == '0') --n;
    digit_buffer[n] = '\0';
    *point = std::atoi(p + 1) + 1;
    *count = n;
    return digit_buffer;
}

const char* form_float(double d, int digits, bool keep_dot_zero) {
    int p, n;
    bool negative;
    const char* ds = float_to_digits(d, digits, &p, &negative, &n, keep_dot_zero);
    if (p >= point_zero) {
        std::strcpy(result_buffer, ds);
        return result_buffer;
    }
    result_buffer[0] = '-';
    char* start = result_buffer + 1;
    char* out = start;
    if (p > 17 || p < -6) {
        *out++ = ds[0];
        *out++ = '.';
        for (int i = 1; i < n; ++i) *out++ = ds[i];
        finish_dot(out, keep_dot_zero);
        append_exponent(out, p - 1);
    } else if (p < 1) {
        *out++ = '0';
        *out++ = '.';
        for (int i = 0; i < -p; ++i) *out++ = '0';
        for (int i = 0; i < n; ++i) *out++ = ds[i];
    } else {
        for (int i = 0; i < p; ++i) *out++ = i < n ? ds[i] : '0';
        *out++ = '.';
        for (int i = p; i < n; ++i) *out++ = ds[i];
        finish_dot(out, keep_dot_zero);
    }
    *out = '\0';
    return negative ? start - 1 : start;
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The parts of a decimal text found by the scanner. The significant digits
// run from the first non-zero digit; a "." among them is skipped.
struct Scan {
    const char* digits = nullptr;  // first significant digit
    const char* digits_end = nullptr;
    long exponent = 0;        // power of ten of the last significant digit
    bool saw_zero = false;    // any zero digit (a number without digits but zeros is 0)
};

// "1.#INF", "-1.#nan" ...: exactly one integer digit (after leading zeros),
// ".", "#", then the letter; only the letter is looked at.
bool read_special(const char* s, const char* end, bool negative, double* result) {
    if (end - s < 4 || !is_digit(s[0]) || s[1] != '.' || s[2] != '#') return false;
    char c = s[3];
    if (c == 'I' || c == 'i') {
        *result = negative ? -std::numeric_limits<double>::infinity()
                           : std::numeric_limits<double>::infinity();
        return true;
    }
    if (c == 'N' || c == 'n') {
        *result = std::bit_cast<double>(std::uint64_t{0x7FF8000000000000});
        return true;
    }
    return false;
}

// Reads "e[sign]digits" at s; returns the position after it, or s when no
// digit follows (the "e" then stays unread).
const char* read_exponent(const char* s, const char* end, long* exponent) {
    if (s == end || (*s != 'e' && *s != 'E')) return s;
    const char* p = s + 1;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p == end || !is_digit(*p)) return s;
    long e = 0;
    for (; p < end && is_digit(*p); ++p)
        if (e < exponent_cap) e = e * 10 + (*p - '0');
    *exponent = negative ? -e : e;
    return p;
}

// Integer digits, then "." and fraction digits. Returns the position after
// the last character that belongs to the mantissa.
const char* read_mantissa(const char* s, const char* end, Scan* scan) {
    const char* p = s;
    for (; p < end && *p == '0'; ++p) scan->saw_zero = true;
    for (; p < end && is_digit(*p); ++p)
        if (!scan->digits) scan->digits = p;
    long frac_digits = 0;
    if (p < end && *p == '.') {
        ++p;
        if (!scan->digits) {
            for (; p < end && *p == '0'; ++p) {
                scan->saw_zero = true;
                --scan->exponent;  // zeros after "." with nothing before them
            }
        }
        for (; p < end && is_digit(*p); ++p) {
            if (!scan->digits) scan->digits = p;
            ++frac_digits;
        }
    }
    scan->digits_end = p;
    scan->exponent -= frac_digits;
    return p;
}

// The correctly rounded double of the scanned digits times 10^exponent.
double round_digits(const Scan& scan, long exponent) {
    char text[max_significant + 32];
    int n = 0;
    bool sticky = false;
    for (const char* p = scan.digits; p < scan.digits_end; ++p) {
        if (*p == '.') continue;
        if (n < max_significant) {
            text[n++] = *p;
        } else {
            sticky |= *p != '0';
            ++exponent;  // the digit dropped still counts in the magnitude
        }
    }
    if (sticky) {
        text[n++] = '1';
        --exponent;
    }
    // the magnitude of the leading digit decides overflow against underflow
    long leading = exponent + n - 1;
    if (leading > 400) return std::numeric_limits<double>::infinity();
    if (leading < -400) return 0.0;
    text[n++] = 'e';
    n = static_cast<int>(std::to_chars(text + n, text + sizeof text, exponent).ptr - text);
    double value = 0;
    std::from_chars_result r = std::from_chars(text, text + n, value);
    if (r.ec == std::errc::result_out_of_range)
        return leading > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return value;
}

}  // namespace

double text_to_float(const char* start, const char* end, int extra_exponent, int* unread) {
    const char* s = start;
    bool negative = false;
    if (s < end && (*s == '+' || *s == '-')) negative = *s++ == '-';
    const char* digits_start = s;
    while (s < end && *s == '0') ++s;
    if (s == end && s > digits_start) {  // only zeros: +0.0 whatever the sign
        *unread = 0;
        return 0.0;
    }
    double special;
    if (read_special(s, end, negative, &special)) {
        *unread = 0;
        return special;
    }
    Scan scan;
    s = read_mantissa(digits_start, end, &scan);
    if (!scan.digits && !scan.saw_zero) {  // no number at all
        *unread = static_cast<int>(end - start);
        return 0.0;
    }
    long e10 = 0;
    s = read_exponent(s, end, &e10);
    *unread = static_cast<int>(end - s);
    if (!scan.digits) return negative ? -0.0 : 0.0;
    double value = round_digits(scan, scan.exponent + e10 + extra_exponent);
    return negative ? -value : value;
}

}  // namespace kiv::dtoa
