// float!: the double helpers shared with percent! and time!; then the
// arithmetic entries, the actions and the registration.
#include "runtime/datatypes/float.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "runtime/datatypes/money.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/lexer-numbers.h"
#include "runtime/evaluator/lexer-scalars.h"
#include "runtime/evaluator/random.h"
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
    *slot = make_cell(d, type);
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

int compare_double(double a, Type type, const Cell* other, CompareOp op) {
    if ((op == CompareOp::strict_equal || op == CompareOp::same || op == CompareOp::find) &&
        other->type() != type) {
        return 1;
    }
    double b;
    switch (other->type()) {
        case Type::integer: b = integer::get(other); break;
        case Type::float_:
        case Type::percent:
        case Type::time: b = get(other); break;
        default: return not_comparable;
    }
    switch (op) {
        case CompareOp::equal:
        case CompareOp::not_equal: return equal_q(a, b) ? 0 : 1;
        case CompareOp::strict_equal: return a == b ? 0 : 1;
        case CompareOp::same:
            return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b) ? 0 : 1;
        default: break;
    }
    if (std::isnan(a) || std::isnan(b)) {
        // Every ordering with NaN is false.
        switch (op) {
            case CompareOp::lesser:
            case CompareOp::lesser_or_equal: return 1;
            case CompareOp::greater:
            case CompareOp::greater_or_equal: return -1;
            default: return 0;
        }
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
    Cell name;
    Cell datatype;
    word::load(registry::action_name(integer::action_of(op)), &name);
    registry::make_datatype(&datatype, Type::float_);
    fire(ErrorId::script_cannot_use, &name, &datatype);
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
    // A scale too fine to change the value (zero included) leaves it alone.
    if (scale == 0.0 || scale < std::fabs(d) * 0x1p-53) return d;
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

// ---------------------------------------------------------------------------
// Arithmetic entries.

namespace {

bool is_pair_like(Type type) {
    return type == Type::pair || type == Type::point2d || type == Type::point3d;
}

[[noreturn]] void fire_op_not_related(MathOp op, Type type) {
    integer::fire_not_related(registry::action_name(integer::action_of(op)), type);
}

// The right operand as a double, or a hand-over to another datatype's
// arithmetic (answered through `handed`).
double right_operand(Cell* left, Cell* right, MathOp op, Cell** handed) {
    const Type lt = left->type();
    const Type rt = right->type();
    switch (rt) {
        case Type::tuple:
        case Type::money: *handed = integer::run_math_action(right, left, right, op); return 0;
        case Type::vector:
            std::swap(*left, *right);
            *handed = integer::run_math_action(left, left, right, op);
            return 0;
        case Type::char_:
            if (lt == Type::time || lt == Type::percent) integer::fire_invalid_type(right);
            return integer::get(right);
        case Type::integer: return integer::get(right);
        case Type::float_:
        case Type::percent:
        case Type::time: return get(right);
        default: break;
    }
    // A pair or point takes part in add, multiply, subtract and divide only;
    // remainder refuses it like any other type.
    if (!is_pair_like(rt) || lt == Type::time || op == MathOp::remainder) {
        integer::fire_invalid_type(right);
    }
    // The swapped operation would compute p - a and p / a.
    if (op != MathOp::add && op != MathOp::multiply) fire_op_not_related(op, rt);
    std::swap(*left, *right);
    *handed = integer::run_math_action(left, left, right, op);
    return 0;
}

}  // namespace

Cell* do_math(Cell* left, Cell* right, MathOp op) {
    Cell* handed = nullptr;
    const double b = right_operand(left, right, op, &handed);
    if (handed) return handed;
    const Type lt = left->type();
    const double a = lt == Type::integer ? integer::get(left) : get(left);
    Type type = lt == Type::integer ? Type::float_ : lt;
    if (right->is(Type::time)) type = Type::time;
    if (type == Type::time && b == 0.0 && (op == MathOp::divide || op == MathOp::remainder)) {
        fire(ErrorId::math_zero_divide);
    }
    return make_at(left, do_math_op(a, b, op), type);
}

Cell* power(Cell* number, Cell* exponent) {
    double e;
    if (exponent->is(Type::integer)) {
        e = integer::get(exponent);
    } else if (exponent->is(Type::float_)) {
        e = get(exponent);
    } else {
        integer::fire_expect_arg(Action::power, exponent, "exponent");
    }
    return make_at(number, std::pow(get(number), e), number->type());
}

namespace {

double scale_of(const Cell* value, const Cell* scale) {
    double s;
    switch (scale->type()) {
        case Type::integer: s = integer::get(scale); break;
        case Type::float_:
        case Type::time: s = get(scale); break;
        // A percent! scale is already a fraction: 1% rounds a percent to
        // whole percents.
        case Type::percent: return std::fabs(get(scale));
        default: integer::fire_invalid_type(scale);
    }
    s = std::fabs(s);
    // A number scale counts in percents for a percent! value.
    return value->is(Type::percent) ? s / 100.0 : s;
}

}  // namespace

Cell* round_value(Cell* n, const Cell* scale, RoundMode mode) {
    if (scale && scale->is(Type::money)) integer::fire_not_related("round", Type::money);
    const double unit = n->is(Type::percent) ? 0.01 : 1.0;
    const double s = scale ? scale_of(n, scale) : unit;
    const double r = round_to(get(n), s, mode);
    if (!scale) return make_at(n, r, n->type());
    if (scale->is(Type::integer)) {
        if (!(r >= -2147483648.0 && r <= 2147483647.0)) fire(ErrorId::math_overflow);
        return integer::make_at(n, static_cast<std::int32_t>(r));
    }
    return make_at(n, r, scale->type());
}

// ---------------------------------------------------------------------------
// Conversions.

namespace {

// Up to eight bytes from the index, big-endian, filling the pattern from
// its low end.
double from_binary(const Cell* spec) {
    memory::SeriesBuffer* buffer = memory::buffer_of(spec->data2);
    const std::uint32_t length = buffer->length();
    std::uint64_t bits = 0;
    for (std::uint32_t i = spec->data1; i < length && i - spec->data1 < 8; ++i) {
        bits = bits << 8 | buffer->head()[i];
    }
    return std::bit_cast<double>(bits);
}

bool number_of(const Cell* value, double* out) {
    if (value->is(Type::integer)) {
        *out = integer::get(value);
    } else if (value->is(Type::float_)) {
        *out = get(value);
    } else {
        return false;
    }
    return true;
}

// mantissa x 10^exponent. A whole exponent scales the mantissa's shortest
// decimal digits, so the result is the correctly rounded decimal value
// ([15 -1] gives exactly 1.5).
double from_parts(const Cell* spec, Type type) {
    memory::SeriesBuffer* buffer = memory::buffer_of(spec->data2);
    const std::uint32_t length = buffer->length();
    double m;
    double e;
    if (length < spec->data1 || length - spec->data1 != 2 ||
        !number_of(buffer->cells() + spec->data1, &m) ||
        !number_of(buffer->cells() + spec->data1 + 1, &e)) {
        registry::fire_bad_to(type, spec);
    }
    if (std::isfinite(m) && e == std::trunc(e) && std::fabs(e) < 100000) {
        const char* digits = dtoa::form_float(m, 0, false);
        int unread = 0;
        return dtoa::text_to_float(digits, digits + std::strlen(digits), static_cast<int>(e), &unread);
    }
    return m * std::pow(10.0, e);
}

// float!: the characters from the index read as a float ("," may stand for
// the decimal point, "'" separates digits).
// percent!: the text must load as exactly one number, a percent!, float!
// or integer! ("5%" and "0.05" both give 5%).
double from_text(Cell* spec, Type type) {
    if (type == Type::percent) {
        Cell loaded;
        if (lexer::load_one(spec, Type::percent, &loaded) || lexer::load_one(spec, Type::float_, &loaded))
            return get(&loaded);
        if (lexer::load_one(spec, Type::integer, &loaded)) return integer::get(&loaded);
        registry::fire_bad_to(type, spec);
    }
    if (type != Type::float_) registry::fire_bad_to(type, spec);
    const std::int32_t count = string::ks_length(spec);
    const std::uint32_t unit = string::buffer(spec)->unit();
    int error = 0;
    const double d = lexer::scan_float(string::ks_head(spec), count, static_cast<int>(unit), error);
    if (error != 0) registry::fire_bad_to(type, spec);
    return d;
}

}  // namespace

// ---------------------------------------------------------------------------
// Actions.

namespace {

Cell* to(Cell* proto, Cell* spec, Type type) {
    double d;
    switch (spec->type()) {
        case Type::integer:
        case Type::char_: d = integer::get(spec); break;
        case Type::float_:
        case Type::percent:
        case Type::time: d = get(spec); break;
        case Type::binary: d = from_binary(spec); break;
        case Type::block:
        case Type::paren:
        case Type::hash: d = from_parts(spec, type); break;
        case Type::string:
        case Type::file:
        case Type::url:
        case Type::tag:
        case Type::email:
        case Type::ref: d = from_text(spec, type); break;
        case Type::money: d = money::to_float(spec); break;
        default: registry::fire_bad_to(type, spec);
    }
    *proto = make_cell(d, type);
    return proto;
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(static_cast<std::int32_t>(value->data2 ^ value->data3));
        return unset::make_at(value);
    }
    const double d = get(value);
    double draw, scale;
    if (secure) {
        const double r1 = random::secure_next();
        const double r2 = random::secure_next();
        draw = r2 + r1 / 2147483647.0;
        scale = 2147483648.0;
    } else {
        draw = random::next();
        scale = 2147483647.0;
    }
    double r = d * draw / scale;
    // Near the float limit the product overflows before the division brings
    // it back; scaling the draw first keeps the result between 0 and d.
    if (std::isinf(r) && std::isfinite(d)) r = d * (draw / scale);
    set(value, r);
    return value;
}

int append_text(Cell* buffer, const char* text, int part) {
    string::append_literal(buffer, text);
    return part - static_cast<int>(std::strlen(text));
}

int form(Cell* value, Cell* buffer, Cell*, int part) {
    return append_text(buffer, form_float(get(value), Kind::float64), part);
}

// The shortest text that reads back to the same double.
int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int part, int) {
    return append_text(buffer, dtoa::form_float(get(value), 0, true), part);
}

// money! compares the two the other way round, the number (a percent too)
// taken as a float!, so a float beyond the range of amounts orders the same
// whichever side it stands on.
int compare_money(Cell* value1, Cell* value2, CompareOp op) {
    const auto compare_fn = registry::lookup<Action::compare>(Type::money);
    if (!compare_fn) return not_comparable;
    Cell number = make_cell(get(value1));
    const int c = compare_fn(value2, &number, op);
    return c == not_comparable ? c : -c;
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (value2->is(Type::money) && !value1->is(Type::money)) {
        const bool strict = op == CompareOp::strict_equal || op == CompareOp::same || op == CompareOp::find;
        return strict ? 1 : compare_money(value1, value2, op);
    }
    return compare_double(get(value1), value1->type(), value2, op);
}

Cell* absolute(Cell* value) { return make_at(value, std::fabs(get(value)), value->type()); }

// 0.0 - x, so negating 0.0 gives 0.0, not -0.0.
Cell* negate(Cell* number) { return make_at(number, 0.0 - get(number), number->type()); }

Cell* add(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::add); }
Cell* divide(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::divide); }
Cell* multiply(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::multiply); }
Cell* remainder(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::remainder); }
Cell* subtract(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::subtract); }

Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    return round_value(n, scale, RoundMode{even, down, half_down, floor, ceiling, half_ceiling});
}

// Parity of the value truncated toward zero; beyond 2^53 every double is
// even, and infinities and NaN are neither even nor odd.
bool even_q(Cell* number) {
    const double d = get(number);
    return std::isfinite(d) && std::fmod(std::trunc(d), 2.0) == 0.0;
}
bool odd_q(Cell* number) {
    const double d = get(number);
    return std::isfinite(d) && std::fmod(std::trunc(d), 2.0) != 0.0;
}

constexpr ActionRow actions{
    .make = to,
    .random = random,
    .to = to,
    .form = form,
    .mold = mold,
    .compare = compare,
    .absolute = absolute,
    .add = add,
    .divide = divide,
    .multiply = multiply,
    .negate = negate,
    .power = power,
    .remainder = remainder,
    .round = round,
    .subtract = subtract,
    .even_q = even_q,
    .odd_q = odd_q,
};

}  // namespace

void init() { registry::register_type(Type::float_, registry::no_parent, "float!", actions); }

}  // namespace kiv::float_
