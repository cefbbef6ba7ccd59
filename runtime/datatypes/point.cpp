// point2D! and point3D!: helpers, then the actions in action order, then the
// registrations. The two datatypes share every function; a function tells
// them apart by the cell's datatype (or, for make and to, by the datatype
// asked for).
#include "runtime/datatypes/point.h"

#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/unset.h"
#include "runtime/evaluator/lexer-scalars.h"
#include "runtime/evaluator/random.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/hashtable.h"

namespace kiv {

namespace {

using point::dimensions;
using point::get;
using point::set;

// ---------------------------------------------------------------------------
// Helpers.

// The value of `right` for each coordinate of a point of `n` dimensions, or
// false when `right` cannot take part.
bool operand_of(const Cell* right, int n, double (&out)[3]) {
    switch (right->type()) {
        case Type::integer: out[0] = out[1] = out[2] = integer::get(right); return true;
        case Type::float_:
        case Type::percent: out[0] = out[1] = out[2] = float_::get(right); return true;
        case Type::pair:
            if (n != 2) return false;
            out[0] = pair::x(right);
            out[1] = pair::y(right);
            return true;
        case Type::point2d:
        case Type::point3d:
            if (dimensions(right) != n) return false;
            for (int i = 0; i < n; ++i) out[i] = get(right, i);
            return true;
        default: return false;
    }
}

Cell* do_math(Cell* left, Cell* right, MathOp op) {
    const int n = dimensions(left);
    double o[3];
    if (!operand_of(right, n, o)) integer::fire_invalid_type(right);
    for (int i = 0; i < n; ++i) set(left, i, float_::do_math_op(get(left, i), o[i], op));
    return left;
}

// The coordinate (0-based) an index or a word selects in a point of `n`
// dimensions, or -1.
int coordinate_of(const Cell* selector, int n) {
    int i = -1;
    if (selector->is(Type::integer)) {
        const std::int32_t k = integer::get(selector);
        if (k >= 1 && k <= n) i = k - 1;
    } else if (selector->is(Type::word)) {
        if (words::is(selector, words::Sym::x)) i = 0;
        if (words::is(selector, words::Sym::y)) i = 1;
        if (words::is(selector, words::Sym::z) && n == 3) i = 2;
    }
    return i;
}

// The first `n` values of a block, each an integer! or a float!.
void from_block(const Cell* spec, int n, double (&out)[3]) {
    memory::SeriesBuffer* buffer = memory::buffer_of(spec->data2);
    const std::uint32_t length = buffer->length();
    if (spec->data1 > length || length - spec->data1 < static_cast<std::uint32_t>(n)) {
        fire(ErrorId::syntax_malconstruct, spec);
    }
    const Cell* items = buffer->cells() + spec->data1;
    for (int i = 0; i < n; ++i) {
        if (items[i].is(Type::integer)) {
            out[i] = integer::get(items + i);
        } else if (items[i].is(Type::float_)) {
            out[i] = float_::get(items + i);
        } else {
            fire(ErrorId::syntax_malconstruct, spec);
        }
    }
}

// Whether every coordinate pair passes `same` (coordinates as floats).
template <class Same>
bool all_coordinates(const Cell* a, const Cell* b, int n, Same same) {
    for (int i = 0; i < n; ++i) {
        if (!same(get(a, i), get(b, i))) return false;
    }
    return true;
}

// Two points of `n` dimensions under an op code.
int compare_points(const Cell* a, const Cell* b, int n, CompareOp op) {
    switch (op) {
        case CompareOp::strict_equal:
        case CompareOp::strict_word:
            return all_coordinates(a, b, n, [](float p, float q) { return p == q; }) ? 0 : 1;
        case CompareOp::same:
            return std::memcmp(&a->data1, &b->data1, 4 * static_cast<std::size_t>(n)) == 0 ? 0 : 1;
        default: break;
    }
    if (!is_ordering(op)) return all_coordinates(a, b, n, float_::equal32_q) ? 0 : 1;
    // The first coordinate whose difference is not near zero decides.
    float d = 0.0f;
    for (int i = 0; i < n; ++i) {
        d = get(a, i) - get(b, i);
        if (!float_::equal32_q(d, 0.0f)) break;
    }
    return (d > 0.0f) - (d < 0.0f);
}

}  // namespace

// ---------------------------------------------------------------------------
// Actions.

namespace {

// A coordinate read through a path: a float!, which names no series.
Cell path_result;

Cell* to(Cell* proto, Cell* spec, Type type) {
    const int n = type == Type::point3d ? 3 : 2;
    double c[3] = {0.0, 0.0, 0.0};
    switch (spec->type()) {
        case Type::block: from_block(spec, n, c); break;
        case Type::string: {
            Cell loaded;
            if (!lexer::load_one(spec, type, &loaded)) registry::fire_bad_to(type, spec);
            *proto = loaded;
            proto->clear_new_line();
            return proto;
        }
        case Type::integer: c[0] = c[1] = c[2] = integer::get(spec); break;
        case Type::float_: c[0] = c[1] = c[2] = float_::get(spec); break;
        case Type::pair:
            c[0] = pair::x(spec);
            c[1] = pair::y(spec);
            break;
        case Type::point2d:
            c[0] = get(spec, 0);
            c[1] = get(spec, 1);
            break;
        case Type::point3d:
            if (n != 3) registry::fire_bad_to(type, spec);
            *proto = *spec;
            return proto;
        default: registry::fire_bad_to(type, spec);
    }
    *proto = n == 3 ? point3d::make_cell(c[0], c[1], c[2]) : point2d::make_cell(c[0], c[1]);
    return proto;
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    const int n = dimensions(value);
    if (seed) {
        const std::uint32_t hash = hashtable::murmur3(reinterpret_cast<const std::uint8_t*>(value) + 4, 4 * static_cast<std::size_t>(n));
        random::seed(static_cast<std::int32_t>(hash));
        return unset::make_at(value);
    }
    for (int i = 0; i < n; ++i) {
        if (get(value, i) == 0.0f) continue;
        Cell f = float_::make_cell(get(value, i));
        registry::find<Action::random>(&f)(&f, false, secure, false);
        set(value, i, float_::get(&f));
    }
    return value;
}

int form(Cell* value, Cell* buffer, Cell*, int part) {
    std::string text = "(";
    for (int i = 0, n = dimensions(value); i < n; ++i) {
        if (i > 0) text += ", ";
        text += float_::form_float(get(value, i), float_::Kind::point);
    }
    text += ')';
    string::append_literal(buffer, text.c_str());
    return part - static_cast<int>(text.size());
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part_arg, int part, int) {
    return form(value, buffer, part_arg, part);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent,
                Cell* previous, int, bool, bool, bool, bool report) {
    const int i = coordinate_of(element, dimensions(parent));
    if (i < 0) fire(ErrorId::script_invalid_path, path, element);
    if (!value) {
        path_result = float_::make_cell(get(parent, i));
        return &path_result;
    }
    double d;
    if (value->is(Type::integer)) {
        d = integer::get(value);
    } else if (value->is(Type::float_)) {
        d = float_::get(value);
    } else {
        integer::fire_invalid_type(value);
    }
    const Cell old = *parent;
    set(parent, i, d);
    if (report) pair::report_path_write(grand_parent, previous, &old, parent, value, i + 1);
    return value;
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    const int n = dimensions(value1);
    if (n == 2 && value2->is(Type::pair)) {
        Cell p = *value2;
        pair::to_point2d(&p);
        return compare_points(value1, &p, 2, op);
    }
    if (!value2->is(value1->type())) return not_comparable;
    return compare_points(value1, value2, n, op);
}

Cell* absolute(Cell* value) {
    for (int i = 0, n = dimensions(value); i < n; ++i) set(value, i, std::fabs(get(value, i)));
    return value;
}

Cell* add(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::add); }
Cell* divide(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::divide); }
Cell* multiply(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::multiply); }

// 0.0 - x, so a zero coordinate stays 0.0, never -0.0.
Cell* negate(Cell* number) {
    for (int i = 0, n = dimensions(number); i < n; ++i) set(number, i, 0.0 - get(number, i));
    return number;
}

Cell* remainder(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::remainder); }

// The scale of coordinate i: a pair or point scale gives its own coordinate
// (a point2D! scale gives 0.0, no rounding, for the z of a point3D!);
// any other scale serves every coordinate.
Cell* scale_of(Cell* scale, int n, int i, Cell* out) {
    if (!scale) return nullptr;
    const Type t = scale->type();
    if (t == Type::pair && n == 2) {
        *out = integer::make_cell(i == 0 ? pair::x(scale) : pair::y(scale));
        return out;
    }
    if (t == Type::point2d || t == Type::point3d) {
        *out = float_::make_cell(i < dimensions(scale) ? get(scale, i) : 0.0);
        return out;
    }
    return scale;
}

Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    const RoundMode mode{even, down, half_down, floor, ceiling, half_ceiling};
    if (scale && scale->is(Type::money)) integer::fire_not_related("round", Type::money);
    const int dims = dimensions(n);
    double r[3];
    for (int i = 0; i < dims; ++i) {
        Cell s;
        Cell c = float_::make_cell(get(n, i));
        Cell* result = float_::round_value(&c, scale_of(scale, dims, i, &s), mode);
        r[i] = result->is(Type::integer) ? integer::get(result) : float_::get(result);
    }
    for (int i = 0; i < dims; ++i) set(n, i, r[i]);
    return n;
}

Cell* subtract(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::subtract); }

Cell* pick(Cell* series, int index, Cell* index_arg) {
    const Cell k = index_arg ? *index_arg : integer::make_cell(index);
    const int i = coordinate_of(&k, dimensions(series));
    if (i < 0) fire(ErrorId::script_out_of_range, &k);
    return float_::make_at(series, get(series, i));
}

// x and y trade places in a point2D!, x and z in a point3D!.
Cell* reverse(Cell* series, Cell*, Cell*) {
    const int last = dimensions(series) - 1;
    const float first = get(series, 0);
    set(series, 0, get(series, last));
    set(series, last, first);
    return series;
}

constexpr ActionRow actions{
    .make = to,
    .random = random,
    .to = to,
    .form = form,
    .mold = mold,
    .eval_path = eval_path,
    .compare = compare,
    .absolute = absolute,
    .add = add,
    .divide = divide,
    .multiply = multiply,
    .negate = negate,
    .remainder = remainder,
    .round = round,
    .subtract = subtract,
    .pick = pick,
    .reverse = reverse,
};

}  // namespace

namespace point2d {
Cell* do_math(Cell* left, Cell* right, MathOp op) { return kiv::do_math(left, right, op); }
void init() { registry::register_type(Type::point2d, registry::no_parent, "point2D!", actions); }
}  // namespace point2d

namespace point3d {
Cell* do_math(Cell* left, Cell* right, MathOp op) { return kiv::do_math(left, right, op); }
void init() { registry::register_type(Type::point3d, registry::no_parent, "point3D!", actions); }
}  // namespace point3d

}  // namespace kiv
