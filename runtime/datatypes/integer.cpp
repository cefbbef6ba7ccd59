// integer!: makers, the decimal formatter, the overflow-detecting op core,
// rounding and exact powers.
#include "runtime/datatypes/integer.h"

#include <cmath>

#include "runtime/datatypes/float.h"
#include "runtime/fire.h"
#include "runtime/memory.h"

namespace kiv::integer {

namespace {

// form_signed writes backwards from the end of this buffer.
char form_buffer[12] = "-0000000000";

// The exact result of an op that overflowed 32 bits, as a double.
double exact_double(std::int32_t a, std::int32_t b, MathOp op) {
    const double x = a;
    const double y = b;
    switch (op) {
        case MathOp::add: return x + y;
        case MathOp::subtract: return x - y;
        case MathOp::multiply: return x * y;
        default: return x / y;
    }
}

std::int32_t overflowed(std::int32_t a, std::int32_t b, MathOp op, Cell* result) {
    float_::make_at(result, exact_double(a, b, op));
    return 0;
}

std::int32_t store(Cell* result, std::int32_t n) {
    if (result) result->data2 = static_cast<std::uint32_t>(n);
    return n;
}

void check_divisor(std::int32_t a, std::int32_t b) {
    if (b == 0) fire(ErrorId::math_zero_divide);
    if (a == min_value && b == -1) fire(ErrorId::math_overflow);
}

}  // namespace

Cell* make_in(Cell* block, std::int32_t n) {
    Cell* slot = memory::append_slot(block);
    *slot = make(n);
    return slot;
}

std::int32_t abs(std::int32_t n) {
    if (n == min_value) fire(ErrorId::math_overflow);
    return n < 0 ? -n : n;
}

bool float_out_of_range(const Cell* value) {
    const double d = float_::get(value);
    return std::isnan(d) || d > 2147483647.0 || d < -2147483648.0;
}

const char* form_signed(std::int32_t n) {
    if (n == 0) return "0";
    if (n == min_value) return "-2147483648";
    char* p = form_buffer + sizeof form_buffer - 1;  // at the NUL
    std::int32_t m = n < 0 ? -n : n;
    while (m != 0) {
        *--p = static_cast<char>('0' + m % 10);
        m /= 10;
    }
    if (n < 0) *--p = '-';
    return p;
}

std::int32_t do_math_op(std::int32_t a, std::int32_t b, MathOp op, Cell* result) {
    std::int32_t r = 0;
    switch (op) {
        case MathOp::add:
            if (__builtin_add_overflow(a, b, &r)) return overflowed(a, b, op, result);
            return store(result, r);
        case MathOp::subtract:
            if (__builtin_sub_overflow(a, b, &r)) return overflowed(a, b, op, result);
            return store(result, r);
        case MathOp::multiply:
            if (__builtin_mul_overflow(a, b, &r)) return overflowed(a, b, op, result);
            return store(result, r);
        case MathOp::divide:
            check_divisor(a, b);
            if (result && a % b != 0) return overflowed(a, b, op, result);
            return store(result, a / b);
        case MathOp::remainder:
            check_divisor(a, b);
            return store(result, a % b);
        case MathOp::or_: return store(result, a | b);
        case MathOp::and_: return store(result, a & b);
        case MathOp::xor_: return store(result, a ^ b);
    }
    return 0;
}

// Works on magnitudes in 64 bits, so the minimum and results one step past
// the range are computed exactly before the range check.
std::int32_t round_to(std::int32_t n, std::int32_t scale, RoundMode mode) {
    if (scale == 0) return n;
    const std::int64_t a = n < 0 ? -std::int64_t{n} : std::int64_t{n};
    const std::int64_t r = a % scale;
    if (r == 0) return n;
    const std::int64_t d = scale - r;
    const std::int64_t down = a - r;  // toward zero
    const std::int64_t up = a + d;    // away from zero
    const bool negative = n < 0;
    std::int64_t m;  // the magnitude of the result
    if (mode.down) {
        m = down;
    } else if (mode.floor) {
        m = negative ? up : down;
    } else if (mode.ceiling) {
        m = negative ? down : up;
    } else if (r < d) {
        m = down;
    } else if (r > d) {
        m = up;
    } else if (mode.even) {
        m = (a / scale) % 2 == 0 ? down : up;
    } else if (mode.half_down) {
        m = down;
    } else if (mode.half_ceiling) {
        m = negative ? down : up;
    } else {
        m = up;
    }
    const std::int64_t result = negative ? -m : m;
    if (result > max_value || result < min_value) fire(ErrorId::math_overflow);
    return static_cast<std::int32_t>(result);
}

bool power_exact(std::int32_t base, std::int32_t exp, std::int32_t* out) {
    std::int32_t result = 1;
    std::uint32_t e = static_cast<std::uint32_t>(exp);
    while (e != 0) {
        if ((e & 1) && __builtin_mul_overflow(result, base, &result)) return false;
        e >>= 1;
        if (e != 0 && __builtin_mul_overflow(base, base, &base)) return false;
    }
    *out = result;
    return true;
}

}  // namespace kiv::integer
