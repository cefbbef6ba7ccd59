// The numeric natives: sign and zero tests, max and min, shift, to-hex, the
// trigonometric, logarithmic and root functions. Each reads its arguments
// from the frame and leaves its result over the first one. None of them
// allocates, except to-hex, which interns the issue's spelling.
#include <cmath>
#include <cstdio>
#include <numbers>
#include <utility>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/degree.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/natives-args.h"
#include "runtime/evaluator/natives.h"
#include "runtime/fire.h"

namespace kiv::natives {

namespace {

using natives_args::is_float_layout;
using natives_args::number_of;

// Results below this magnitude of sine and cosine are rounding noise of an
// exact zero (sine 180, cosine 90).
constexpr double trig_noise = 2.220446049250313e-16;
constexpr double ln_2 = 0.6931471805599453;
constexpr double e_rounded = 2.718281828459045;

bool is_number(Type t) { return t == Type::integer || t == Type::float_ || t == Type::percent; }

bool nan_number_q(const Cell* v) {
    return (v->is(Type::float_) || v->is(Type::percent)) && std::isnan(float_::get(v));
}

// -1, 0 or 1 for the sign tests; a NaN has none (0).
int sign_of(const Cell* v, const char* argument) {
    if (v->is(Type::money)) return money::sign(v);
    if (v->is(Type::integer)) return integer::sign(integer::get(v));
    if (is_float_layout(v->type())) {
        const double d = float_::get(v);
        return (d > 0.0) - (d < 0.0);
    }
    natives_args::fire_expect_arg(v, argument);
}

bool value_zero_q(const Cell* v) {
    switch (v->type()) {
        case Type::char_: case Type::integer: return integer::get(v) == 0;
        case Type::float_: case Type::percent: case Type::time: return float_::get(v) == 0.0;
        case Type::pair: return pair::x(v) == 0 && pair::y(v) == 0;
        case Type::tuple: return tuple::zero_q(v);
        case Type::money: return money::zero_q(v);
        case Type::point2d: case Type::point3d:
            for (int i = 0; i < point::dimensions(v); ++i)
                if (point::get(v, i) != 0.0f) return false;
            return true;
        default: return false;
    }
}

// ---------------------------------------------------------------------------
// max and min.

template <class T>
T pick_side(T a, T b, bool max) {
    return max ? (b > a ? b : a) : (b < a ? b : a);
}

// A point coordinate against another: a NaN on the second side wins.
float pick_coordinate(float a, float b, bool max) {
    return std::isnan(b) ? b : pick_side(a, b, max);
}

bool point_with(Cell* a, const Cell* b, bool max) {
    const int n = point::dimensions(a);
    if (b->is(Type::integer) || b->is(Type::float_)) {
        const auto v = static_cast<float>(number_of(b));
        for (int i = 0; i < n; ++i) point::set(a, i, pick_coordinate(point::get(a, i), v, max));
        return true;
    }
    if (b->is(Type::pair)) {
        const float other[2] = {static_cast<float>(pair::x(b)), static_cast<float>(pair::y(b))};
        for (int i = 0; i < 2; ++i)
            point::set(a, i, pick_coordinate(point::get(a, i), other[i], max));
        return true;
    }
    if (b->type() != a->type()) return false;
    for (int i = 0; i < n; ++i)
        point::set(a, i, pick_coordinate(point::get(a, i), point::get(b, i), max));
    return true;
}

bool pair_with(Cell* a, const Cell* b, bool max) {
    std::int32_t n;
    if (b->is(Type::integer)) {
        n = integer::get(b);
    } else if (b->is(Type::float_)) {
        const double d = float_::get(b);
        if (integer::float_out_of_range(b) || std::isinf(d)) {
            // A number no integer holds compares as a point of two equal
            // coordinates.
            pair::to_point2d(a);
            const Cell p = point2d::make_cell(d, d);
            return point_with(a, &p, max);
        }
        n = static_cast<std::int32_t>(d);
    } else if (b->is(Type::pair)) {
        pair::make_at(a, pick_side(pair::x(a), pair::x(b), max),
                      pick_side(pair::y(a), pair::y(b), max));
        return true;
    } else if (b->is(Type::point2d)) {
        pair::to_point2d(a);
        return point_with(a, b, max);
    } else {
        return false;
    }
    pair::make_at(a, pick_side(pair::x(a), n, max), pick_side(pair::y(a), n, max));
    return true;
}

bool tuple_with(Cell* a, const Cell* b, bool max) {
    std::uint8_t* bytes = tuple::bytes(a);
    const int n = tuple::length(a);
    if (b->is(Type::integer) || b->is(Type::float_)) {
        if (b->is(Type::float_) && integer::float_out_of_range(b)) {
            Cell type;
            fire(ErrorId::script_type_limit, registry::make_datatype(&type, Type::integer));
        }
        std::int32_t v = b->is(Type::integer) ? integer::get(b)
                                              : static_cast<std::int32_t>(float_::get(b));
        v = v < 0 ? 0 : v > 255 ? 255 : v;
        for (int i = 0; i < n; ++i)
            bytes[i] = pick_side(bytes[i], static_cast<std::uint8_t>(v), max);
        return true;
    }
    if (!b->is(Type::tuple) || tuple::length(b) != n) return false;
    const std::uint8_t* other = tuple::bytes(b);
    for (int i = 0; i < n; ++i) bytes[i] = pick_side(bytes[i], other[i], max);
    return true;
}

// Leaves the greater (max) or lesser value of the frame's two arguments in
// the first.
void max_min(bool max) {
    Cell* a = arg(0);
    Cell* b = arg(1);
    if (nan_number_q(a) && is_number(b->type())) return;
    if (nan_number_q(b) && is_number(a->type())) {
        *a = *b;
        return;
    }
    const Type bt = b->type();
    if ((bt == Type::pair || bt == Type::point2d || bt == Type::point3d || bt == Type::tuple) &&
        (a->is(Type::integer) || a->is(Type::float_)))
        std::swap(*a, *b);
    switch (a->type()) {
        case Type::pair: if (pair_with(a, b, max)) return; break;
        case Type::point2d: case Type::point3d: if (point_with(a, b, max)) return; break;
        case Type::tuple: if (tuple_with(a, b, max)) return; break;
        default: break;
    }
    // On equal values max keeps the first and min takes the second.
    Cell left = *a;
    Cell right = *b;
    const bool lesser = actions::compare(&left, &right, CompareOp::lesser);
    if (lesser == max) *a = *b;
}

// ---------------------------------------------------------------------------
// Angles, logarithms and roots.

// The argument as a float! in place: an integer! converted, a percent!
// retyped.
double float_arg(Cell* v) {
    const double d = number_of(v);
    float_::make_at(v, d);
    return d;
}

Status trig(const std::int32_t* args, math::TrigMode mode) {
    Cell* v = arg(0);
    double a = float_arg(v);
    if (!ref_used(args, 1)) a = math::degrees_to_radians(a, mode);
    double r;
    switch (mode) {
        case math::TrigMode::sine: r = std::sin(a); break;
        case math::TrigMode::cosine: r = std::cos(a); break;
        default:
            if (a == std::numbers::pi / 2) r = 1.0 / 0.0;
            else if (a == -std::numbers::pi / 2) r = -1.0 / 0.0;
            else r = std::tan(a);
            float_::set(v, r);
            return Status::ok;
    }
    float_::set(v, std::fabs(r) < trig_noise ? 0.0 : r);
    return Status::ok;
}

Status arc(const std::int32_t* args, double (*fn)(double)) {
    Cell* v = arg(0);
    double r = fn(float_arg(v));
    if (!ref_used(args, 1)) r = r * 180.0 / std::numbers::pi;
    float_::set(v, r);
    return Status::ok;
}

Status unary(double (*fn)(double)) {
    Cell* v = arg(0);
    float_::set(v, fn(float_arg(v)));
    return Status::ok;
}

// A pair coordinate: an integer! as it is, a float! truncated toward zero.
// A float no 32-bit integer holds (infinite, NaN or too large) is refused.
std::int32_t pair_coordinate(const Cell* v) {
    if (v->is(Type::integer)) return integer::get(v);
    if (integer::float_out_of_range(v)) natives_args::fire_invalid_arg(v);
    return static_cast<std::int32_t>(float_::get(v));
}

}  // namespace

namespace entries {

Status negative_q(const std::int32_t*, std::int32_t) {
    logic::make_at(arg(0), sign_of(arg(0), "number") < 0);
    return Status::ok;
}

Status positive_q(const std::int32_t*, std::int32_t) {
    logic::make_at(arg(0), sign_of(arg(0), "number") > 0);
    return Status::ok;
}

Status sign_q(const std::int32_t*, std::int32_t) {
    *arg(0) = integer::make_cell(sign_of(arg(0), "number"));
    return Status::ok;
}

Status zero_q(const std::int32_t*, std::int32_t) {
    logic::make_at(arg(0), value_zero_q(arg(0)));
    return Status::ok;
}

Status nan_q(const std::int32_t*, std::int32_t) {
    logic::make_at(arg(0), nan_number_q(arg(0)));
    return Status::ok;
}

Status max(const std::int32_t*, std::int32_t) {
    max_min(true);
    return Status::ok;
}

Status min(const std::int32_t*, std::int32_t) {
    max_min(false);
    return Status::ok;
}

Status shift(const std::int32_t* args, std::int32_t) {
    const std::int32_t data = integer::get(arg(0));
    std::int32_t bits = integer::get(arg(1));
    if (bits < 0) bits = 0;
    const auto u = static_cast<std::uint32_t>(data);
    std::int32_t r;
    if (ref_used(args, 1)) r = bits >= 32 ? 0 : static_cast<std::int32_t>(u << bits);
    else if (ref_used(args, 2)) r = bits >= 32 ? 0 : static_cast<std::int32_t>(u >> bits);
    else r = bits >= 32 ? (data < 0 ? -1 : 0) : data >> bits;
    *arg(0) = integer::make_cell(r);
    return Status::ok;
}

Status to_hex(const std::int32_t* args, std::int32_t) {
    char digits[9];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<std::uint32_t>(integer::get(arg(0))));
    const char* text = digits;
    if (const Cell* size = ref_arg(args, 1)) {
        const std::int32_t n = integer::get(size);
        if (n <= 0) natives_args::fire_invalid_arg(size);
        if (n < 8) text += 8 - n;
    }
    issue::make_at(arg(0), text);
    return Status::ok;
}

Status sine(const std::int32_t* args, std::int32_t) {
    return trig(args, math::TrigMode::sine);
}
Status cosine(const std::int32_t* args, std::int32_t) {
    return trig(args, math::TrigMode::cosine);
}
Status tangent(const std::int32_t* args, std::int32_t) {
    return trig(args, math::TrigMode::tangent);
}
Status arcsine(const std::int32_t* args, std::int32_t) {
    return arc(args, [](double x) { return std::asin(x); });
}
Status arccosine(const std::int32_t* args, std::int32_t) {
    return arc(args, [](double x) { return std::acos(x); });
}
Status arctangent(const std::int32_t* args, std::int32_t) {
    return arc(args, [](double x) { return std::atan(x); });
}

Status arctangent2(const std::int32_t* args, std::int32_t) {
    double r = std::atan2(number_of(arg(0)), number_of(arg(1)));
    if (!ref_used(args, 1)) r = r * 180.0 / std::numbers::pi;
    *arg(0) = float_::make_cell(r);
    return Status::ok;
}

Status log_2(const std::int32_t*, std::int32_t) {
    return unary([](double x) { return std::log(x) / ln_2; });
}
Status log_10(const std::int32_t*, std::int32_t) {
    return unary([](double x) { return std::log10(x); });
}
Status log_e(const std::int32_t*, std::int32_t) {
    return unary([](double x) { return std::log(x); });
}
Status exp(const std::int32_t*, std::int32_t) {
    return unary([](double x) { return std::pow(e_rounded, x); });
}
Status square_root(const std::int32_t*, std::int32_t) {
    return unary([](double x) { return std::sqrt(x); });
}

Status as_pair(const std::int32_t*, std::int32_t) {
    *arg(0) = pair::make_cell(pair_coordinate(arg(0)), pair_coordinate(arg(1)));
    return Status::ok;
}

Status as_point2d(const std::int32_t*, std::int32_t) {
    *arg(0) = point2d::make_cell(number_of(arg(0)), number_of(arg(1)));
    return Status::ok;
}

Status as_point3d(const std::int32_t*, std::int32_t) {
    *arg(0) = point3d::make_cell(number_of(arg(0)), number_of(arg(1)), number_of(arg(2)));
    return Status::ok;
}

Status as_money(const std::int32_t*, std::int32_t) {
    const Cell currency = *arg(0);
    const int index = money::find_currency(&currency);
    if (index < 0) fire(ErrorId::script_bad_denom, &currency);
    const Cell* amount = arg(1);
    Cell out;
    if (amount->is(Type::integer)) money::from_integer(&out, integer::get(amount));
    else money::from_float(&out, float_::get(amount), false);
    money::set_currency(&out, index);
    *arg(0) = out;
    return Status::ok;
}

}  // namespace entries

}  // namespace kiv::natives
