// integer!: makers, the decimal formatter, the overflow-detecting op core,
// rounding and exact powers; then the actions and the registration.
#include "runtime/datatypes/integer.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/lexer-numbers.h"
#include "runtime/evaluator/random.h"
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
    *slot = make_cell(n);
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

// ---------------------------------------------------------------------------
// Helpers shared with the other numeric units.

Action action_of(MathOp op) {
    switch (op) {
        case MathOp::add: return Action::add;
        case MathOp::subtract: return Action::subtract;
        case MathOp::multiply: return Action::multiply;
        case MathOp::divide: return Action::divide;
        case MathOp::remainder: return Action::remainder;
        case MathOp::or_: return Action::or_;
        case MathOp::and_: return Action::and_;
        case MathOp::xor_: return Action::xor_;
    }
    return Action::add;
}

namespace {

template <Action A>
Cell* call_binary(const Cell* owner, Cell* left, Cell* right) {
    return registry::find<A>(owner)(left, right);
}

}  // namespace

Cell* run_math_action(const Cell* owner, Cell* left, Cell* right, MathOp op) {
    Cell* result = nullptr;
    switch (op) {
        case MathOp::add: result = call_binary<Action::add>(owner, left, right); break;
        case MathOp::subtract: result = call_binary<Action::subtract>(owner, left, right); break;
        case MathOp::multiply: result = call_binary<Action::multiply>(owner, left, right); break;
        case MathOp::divide: result = call_binary<Action::divide>(owner, left, right); break;
        case MathOp::remainder: result = call_binary<Action::remainder>(owner, left, right); break;
        case MathOp::or_: result = call_binary<Action::or_>(owner, left, right); break;
        case MathOp::and_: result = call_binary<Action::and_>(owner, left, right); break;
        case MathOp::xor_: result = call_binary<Action::xor_>(owner, left, right); break;
    }
    return cell::copy(result, left);
}

void fire_not_related(const char* word, Type type) {
    // GC: both argument cells live on this frame, where the stack scan sees
    // them.
    Cell name;
    Cell datatype;
    word::load(word, &name);
    registry::make_datatype(&datatype, type);
    fire(ErrorId::script_not_related, &name, &datatype);
}

void fire_invalid_type(const Cell* value) {
    Cell datatype;
    registry::make_datatype(&datatype, value->type());
    fire(ErrorId::script_invalid_type, &datatype);
}

void fire_expect_arg(Action action, const Cell* value, const char* arg) {
    Cell name;
    Cell datatype;
    Cell arg_word;
    word::load(registry::action_name(action), &name);
    registry::make_datatype(&datatype, value->type());
    word::load(arg, &arg_word);
    fire(ErrorId::script_expect_arg, &name, &datatype, &arg_word);
}

// ---------------------------------------------------------------------------
// Conversions.

namespace {

[[noreturn]] void fire_type_limit() {
    Cell datatype;
    registry::make_datatype(&datatype, Type::integer);
    fire(ErrorId::script_type_limit, &datatype);
}

std::int32_t truncate_checked(double d) {
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) fire_type_limit();
    return static_cast<std::int32_t>(d);
}

// The first (at most) four bytes from the index, big-endian.
std::int32_t from_binary(const Cell* spec) {
    memory::SeriesBuffer* buffer = memory::buffer_of(spec->data2);
    const std::uint32_t length = buffer->length();
    std::uint32_t n = 0;
    for (std::uint32_t i = spec->data1; i < length && i - spec->data1 < 4; ++i) {
        n = n << 8 | buffer->head()[i];
    }
    return static_cast<std::int32_t>(n);
}

int hex_digit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Decimal text from the index: an optional sign, then digits with "'"
// separators skipped among them. A text without a digit ("", "-") is no
// number.
std::int32_t from_text(Cell* spec) {
    const std::int32_t count = string::ks_length(spec);
    const std::uint8_t* chars = string::ks_head(spec);
    const std::uint32_t unit = string::buffer(spec)->unit();
    bool digit = false;
    for (std::int32_t i = 0; i < count && !digit; ++i) {
        const std::uint32_t c = string::get_char(chars + std::size_t(i) * unit, unit);
        digit = c >= '0' && c <= '9';
    }
    int error = 0;
    const std::int32_t n = lexer::scan_integer(chars, count, static_cast<int>(unit), error);
    if (error != 0 || !digit) registry::fire_bad_to(Type::integer, spec);
    return n;
}

// The issue's name read as hexadecimal: at most 8 digits, so #FFFFFFFF
// gives -1. Anything but an ASCII hex digit fires script invalid-data.
std::int32_t from_issue(const Cell* issue) {
    const std::string_view name = symbol::text(issue->data2);
    if (name.size() > 8) fire(ErrorId::script_invalid_data, issue);
    std::uint32_t n = 0;
    for (const char c : name) {
        const int digit = hex_digit(static_cast<unsigned char>(c));
        if (digit < 0) fire(ErrorId::script_invalid_data, issue);
        n = n << 4 | static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::int32_t>(n);
}

}  // namespace

// ---------------------------------------------------------------------------
// Actions.

namespace {

Cell* to(Cell* proto, Cell* spec, Type) {
    std::int32_t n;
    switch (spec->type()) {
        case Type::integer:
        case Type::char_: n = get(spec); break;
        case Type::float_:
        case Type::percent:
            if (float_out_of_range(spec)) fire_type_limit();
            n = static_cast<std::int32_t>(float_::get(spec));
            break;
        // Whole seconds, halves away from zero.
        case Type::time: n = truncate_checked(std::round(float_::get(spec))); break;
        case Type::binary: n = from_binary(spec); break;
        case Type::string:
        case Type::file:
        case Type::url:
        case Type::tag:
        case Type::email:
        case Type::ref: n = from_text(spec); break;
        case Type::issue: n = from_issue(spec); break;
        case Type::money: n = money::to_integer(spec); break;
        // Seconds since 1-Jan-1970.
        case Type::date: n = truncate_checked(static_cast<double>(date::to_epoch(spec))); break;
        default: registry::fire_bad_to(Type::integer, spec);
    }
    *proto = make_cell(n);
    return proto;
}

Cell* make(Cell* proto, Cell* spec, Type type) {
    if (spec->is(Type::logic)) {
        *proto = make_cell(spec->data1 != 0 ? 1 : 0);
        return proto;
    }
    return to(proto, spec, type);
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(get(value));
        return unset::make_at(value);
    }
    // The value is replaced in place, so a char! (which inherits this
    // action) stays a char! from #"^A" to itself.
    value->data2 = static_cast<std::uint32_t>(random::uniform(secure, get(value)));
    return value;
}

int form(Cell* value, Cell* buffer, Cell*, int part) {
    const char* text = form_signed(get(value));
    string::append_literal(buffer, text);
    return part - static_cast<int>(std::strlen(text));
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part_arg, int part, int) {
    return form(value, buffer, part_arg, part);
}

// Turns the integer into a money! through money!'s own maker and lets
// money! compare.
int compare_money(Cell* value1, Cell* value2, CompareOp op) {
    const auto make_money = registry::lookup<Action::make>(Type::money);
    const auto compare_fn = registry::lookup<Action::compare>(Type::money);
    if (!make_money || !compare_fn) return not_comparable;
    Cell money{static_cast<std::uint32_t>(Type::money), 0, 0, 0};
    Cell* m = make_money(&money, value1, Type::money);
    return compare_fn(m, value2, op);
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if ((op == CompareOp::strict_equal || op == CompareOp::find) && !value2->is(Type::integer)) {
        return 1;
    }
    switch (value2->type()) {
        case Type::integer:
        case Type::char_: {
            const std::int32_t a = get(value1);
            const std::int32_t b = get(value2);
            return (a > b) - (a < b);
        }
        case Type::money: return compare_money(value1, value2, op);
        case Type::float_:
        case Type::percent:
        case Type::time: return float_::compare_double(get(value1), Type::integer, value2, op);
        default: return not_comparable;
    }
}

Cell* absolute(Cell* value) { return make_at(value, abs(get(value))); }

Cell* negate(Cell* number) {
    if (get(number) == min_value) fire(ErrorId::math_overflow);
    return make_at(number, -get(number));
}

Cell* complement(Cell* value) { return make_at(value, ~get(value)); }

bool even_q(Cell* number) { return (get(number) & 1) == 0; }
bool odd_q(Cell* number) { return (get(number) & 1) != 0; }

Cell* swap_and_run(Cell* left, Cell* right, MathOp op) {
    std::swap(*left, *right);
    return run_math_action(left, left, right, op);
}

// Pairs and points take the integer as their second operand: a - p is
// computed as -p + a.
Cell* math_with_pair(Cell* left, Cell* right, MathOp op) {
    // The swapped remainder would compute p // a, not a // p.
    if (op == MathOp::divide || op == MathOp::remainder) {
        fire_not_related(registry::action_name(action_of(op)), Type::integer);
    }
    std::swap(*left, *right);
    if (op == MathOp::subtract) {
        cell::copy(registry::find<Action::negate>(left)(left), left);
        op = MathOp::add;
    }
    return run_math_action(left, left, right, op);
}

Cell* do_math(Cell* left, Cell* right, MathOp op) {
    switch (right->type()) {
        case Type::integer:
        case Type::char_: do_math_op(get(left), get(right), op, left); return left;
        case Type::money: return run_math_action(right, left, right, op);
        case Type::float_:
        case Type::percent:
        case Type::time: return float_::do_math(left, right, op);
        case Type::tuple:
            if (op == MathOp::subtract || op == MathOp::divide || op == MathOp::remainder) {
                fire_not_related(registry::action_name(action_of(op)), Type::integer);
            }
            return swap_and_run(left, right, op);
        case Type::pair:
        case Type::point2d:
        case Type::point3d: return math_with_pair(left, right, op);
        case Type::vector: return swap_and_run(left, right, op);
        case Type::date:
            if (op != MathOp::add) fire_not_related(registry::action_name(action_of(op)), Type::integer);
            return swap_and_run(left, right, op);
        default: fire_invalid_type(right);
    }
}

Cell* add(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::add); }
Cell* divide(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::divide); }
Cell* multiply(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::multiply); }

Cell* power(Cell* number, Cell* exponent) {
    if (!exponent->is(Type::integer) && !exponent->is(Type::float_)) {
        fire_expect_arg(Action::power, exponent, "exponent");
    }
    std::int32_t r;
    if (exponent->is(Type::integer) && get(exponent) >= 0 && power_exact(get(number), get(exponent), &r)) {
        return make_at(number, r);
    }
    float_::make_at(number, get(number));
    return float_::power(number, exponent);
}

Cell* remainder(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::remainder); }

Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    const RoundMode mode{even, down, half_down, floor, ceiling, half_ceiling};
    if (scale && scale->is(Type::money)) fire_not_related("round", Type::money);
    if (scale && !scale->is(Type::integer)) {
        float_::make_at(n, get(n));
        return float_::round_value(n, scale, mode);
    }
    const std::int32_t s = scale ? abs(get(scale)) : 1;
    return make_at(n, round_to(get(n), s, mode));
}

Cell* subtract(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::subtract); }
Cell* and_(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::and_); }
Cell* or_(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::or_); }
Cell* xor_(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::xor_); }

constexpr ActionRow actions{
    .make = make,
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
    .and_ = and_,
    .complement = complement,
    .or_ = or_,
    .xor_ = xor_,
};

}  // namespace

void init() { registry::register_type(Type::integer, registry::no_parent, "integer!", actions); }

}  // namespace kiv::integer
