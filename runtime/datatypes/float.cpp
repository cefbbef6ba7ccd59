// float!: the double helpers shared with percent! and time!.
#include "runtime/datatypes/float.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/fire.h"
#include "runtime/float-text.h"
#include "runtime/memory.h"

namespace kiv::float_ {

bool pretty_print = true;

namespace {

// Room for "-1.234567890123456e-308", a ".0" or "%" and the NUL.
char form_buffer[32];

// The bits of a double, mapped so that integer order is numeric order and
// -0.0 meets +0.0.
std::uint64_t ordered_bits(double d) {
    const auto bits = std::bit_cast<std::uint64_t>(d);
    constexpr std::uint64_t top = std::uint64_t{1} << 63;
    return (bits & top) ? (~bits + 1) : (bits | top);
}

const char* format_of(Kind kind, bool again) {
    switch (kind) {
        case Kind::float64: return again ? "%.14g" : "%.16g";
        case Kind::percent64: return again ? "%.14g" : "%.13g";
        case Kind::percent32: return again ? "%.14g" : "%.7g";
        default: return again ? "%.5g" : "%.7g";
    }
}

// Whether the digits of a printed text end in a run of 0s or 9s that only the
// binary representation put there: a long text whose last two digits (before
// any exponent) are "01" or "99".
bool ends_in_noise(const char* text) {
    const char* e = std::strchr(text, 'e');
    const std::size_t length = e ? static_cast<std::size_t>(e - text) : std::strlen(text);
    if (e) {
        if (length <= 16) return false;
    } else {
        const char* digits = text[0] == '-' ? text + 1 : text;
        if (length <= 16 || (digits[0] == '0' && length <= 17)) return false;
    }
    const char* last = text + length - 2;
    return (last[0] == '0' && last[1] == '1') || (last[0] == '9' && last[1] == '9');
}

// "1e+020" becomes "1e20", "1e-05" becomes "1e-5".
void clean_exponent(char* text) {
    char* e = std::strchr(text, 'e');
    if (!e) return;
    char* from = e + 1;
    char* to = e + 1;
    if (*from == '+') ++from;
    if (*from == '-') *to++ = *from++;
    while (*from == '0' && from[1] != '\0') ++from;
    std::memmove(to, from, std::strlen(from) + 1);
}

// Inserts ".0" before the exponent or at the end of a text without ".".
void add_dot_zero(char* text) {
    if (std::strchr(text, '.')) return;
    char* e = std::strchr(text, 'e');
    char* at = e ? e : text + std::strlen(text);
    std::memmove(at + 2, at, std::strlen(at) + 1);
    at[0] = '.';
    at[1] = '0';
}

const char* zero_text(Kind kind) {
    switch (kind) {
        case Kind::percent32:
        case Kind::percent64: return "0%";
        case Kind::point: return "0";
        default: return "0.0";
    }
}

}  // namespace

Cell* make_in(Cell* block, double d, Type type) {
    Cell* slot = memory::append_slot(block);
    *slot = make(d, type);
    return slot;
}

bool nan_q(double d) { return std::isnan(d); }

bool not_finite_q(double d) { return !std::isfinite(d); }

bool equal_q(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b || std::fabs(a - b) < epsilon) return true;
    // An infinity is next to the largest finite double in the bit order, but
    // no finite value is near it.
    if (std::isinf(a) || std::isinf(b)) return false;
    const std::uint64_t x = ordered_bits(a);
    const std::uint64_t y = ordered_bits(b);
    return (x > y ? x - y : y - x) <= 10;
}

bool equal32_q(float a, float b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    if (a == b) return true;
    const auto ba = std::bit_cast<std::uint32_t>(a);
    const auto bb = std::bit_cast<std::uint32_t>(b);
    const std::uint32_t ma = ba & 0x7FFFFFFFu;
    const std::uint32_t mb = bb & 0x7FFFFFFFu;
    if (ma >= 0x7F7FFFFFu || mb >= 0x7F7FFFFFu) {
        const std::uint32_t gap = ma > mb ? ma - mb : mb - ma;
        return (ba >> 31) == (bb >> 31) && gap <= 0xFFFFFu;
    }
    const std::int64_t sa = (ba >> 31) ? -std::int64_t{ma} : std::int64_t{ma};
    const std::int64_t sb = (bb >> 31) ? -std::int64_t{mb} : std::int64_t{mb};
    return (sa > sb ? sa - sb : sb - sa) <= 10;
}

const char* form_float(double d, Kind kind) {
    if (std::isnan(d)) return "1.#NaN";
    if (std::isinf(d)) return d > 0 ? "1.#INF" : "-1.#INF";
    if (pretty_print && std::fabs(d) < epsilon) return zero_text(kind);
    if (kind == Kind::seconds) return dtoa::form_float(d, 6, false);
    std::snprintf(form_buffer, sizeof form_buffer - 3, format_of(kind, false), d);
    if (pretty_print && ends_in_noise(form_buffer)) {
        std::snprintf(form_buffer, sizeof form_buffer - 3, format_of(kind, true), d);
    }
    clean_exponent(form_buffer);
    if (kind == Kind::percent32 || kind == Kind::percent64) {
        std::strcat(form_buffer, "%");
    } else if (kind != Kind::point) {
        add_dot_zero(form_buffer);
    }
    return form_buffer;
}

int compare_double(double a, Type type, const Cell* other, int op) {
    if ((op == 2 || op == 9 || op == 12) && other->type() != type) return 1;
    double b;
    switch (other->type()) {
        case Type::integer: b = integer::get(other); break;
        case Type::float_:
        case Type::percent:
        case Type::time: b = get(other); break;
        default: return -2;
    }
    switch (op) {
        case 0:
        case 1: return equal_q(a, b) ? 0 : 1;
        case 2: return a == b ? 0 : 1;
        case 9: return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ? 0 : 1;
        default: break;
    }
    if (std::isnan(a) || std::isnan(b)) {
        // Every ordering with NaN is false.
        if (op == 3 || op == 4) return 1;
        if (op == 5 || op == 6) return -1;
        return 0;
    }
    return (a > b) - (a < b);
}

double do_math_op(double a, double b, MathOp op) {
    switch (op) {
        case MathOp::add: return a + b;
        case MathOp::subtract: return a - b;
        case MathOp::multiply: return a * b;
        case MathOp::divide: return a / b;
        // fmod gives NaN for a NaN divisor or an infinite dividend, and the
        // dividend itself for an infinite divisor.
        case MathOp::remainder: return std::fmod(a, b);
        default: break;
    }
    fire(ErrorId::script_cannot_use);
}

// Halves and directions decided on the magnitude: its floor, its ceiling and
// the midpoint between them.
namespace {

double round_scaled(double v, RoundMode mode) {
    const bool negative = std::signbit(v);
    const double a = std::fabs(v);
    const double down = std::floor(a);
    const double up = std::ceil(a);
    if (down == up) return v;
    const double mid = down + 0.5;
    double m;
    if (mode.down) {
        m = down;
    } else if (mode.floor) {
        m = negative ? up : down;
    } else if (mode.ceiling) {
        m = negative ? down : up;
    } else if (a < mid) {
        m = down;
    } else if (a > mid) {
        m = up;
    } else if (mode.even) {
        m = std::fmod(down, 2.0) == 0.0 ? down : up;
    } else if (mode.half_down) {
        m = down;
    } else if (mode.half_ceiling) {
        m = negative ? down : up;
    } else {
        m = up;
    }
    return negative ? -m : m;
}

}  // namespace

double round_to(double d, double scale, RoundMode mode) {
    if (scale < std::fabs(d) * 0x1p-53) return d;
    double result;
    if (scale >= 1.0) {
        result = round_scaled(d / scale, mode) * scale;
    } else {
        int exponent;
        const double mantissa = std::frexp(scale, &exponent);
        if (exponent <= -1022) {
            // The inverse of so small a scale overflows: scale the value by
            // the scale's power of two first.
            const double v = std::ldexp(d, -exponent) / mantissa;
            result = std::ldexp(round_scaled(v, mode) * mantissa, exponent);
        } else {
            // Dividing by the inverse keeps decimal scales exact where the
            // inverse is integral (0.1 gives 10): 0.3 stays 0.3, not
            // 0.30000000000000004.
            const double inverse = 1.0 / scale;
            result = round_scaled(d * inverse, mode) / inverse;
        }
    }
    if (std::fabs(result) == DBL_MAX || (std::isinf(result) && std::isfinite(d))) {
        fire(ErrorId::math_overflow);
    }
    return result;
}

}  // namespace kiv::float_
