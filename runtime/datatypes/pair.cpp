// pair!: helpers, then the actions in action order, then the registration.
#include "runtime/datatypes/pair.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/unset.h"
#include "runtime/evaluator/lexer-scalars.h"
#include "runtime/evaluator/random.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"

namespace kiv::pair {

// ---------------------------------------------------------------------------
// Helpers.

Cell* make_in(Cell* block, std::int32_t px, std::int32_t py) {
    Cell* slot = memory::append_slot(block);
    *slot = make_cell(px, py);
    return slot;
}

Cell* to_point2d(Cell* slot) {
    const double px = x(slot);
    const double py = y(slot);
    return point2d::make_at(slot, px, py);
}

void report_path_write(Cell* grand_parent, Cell* previous, const Cell* old, const Cell* updated,
                       Cell* value, std::int32_t index) {
    if (!grand_parent) return;
    if (grand_parent->is(Type::object)) {
        // GC: the handler may run any code; it gets copies, so the field
        // cell may move or change under it.
        Cell object = *grand_parent;
        Cell word = *previous;
        Cell before = *old;
        Cell after = *updated;
        // A throw out of the handler raises its error there: this setter
        // cannot hand it on.
        static_cast<void>(object::fire_on_set(&object, &word, &before, &after));
        return;
    }
    if (grand_parent->is(Type::hash)) {
        // The value changed inside a hash! block: its index entry was made
        // from the old value, so the cell is indexed afresh.
        memory::SeriesBuffer* b = memory::buffer_of(grand_parent->data2);
        const Cell* first = b->cells();
        if (updated >= first && updated < first + b->length()) {
            series::hash_changed(grand_parent, static_cast<std::int32_t>(updated - first), 1, 1);
        }
    }
    Cell action;
    words::word(words::W::set_path, &action);
    ownership::check(grand_parent, &action, value, index, 1);
}

namespace {

// A double truncated toward zero into a coordinate; an infinity, a NaN or a
// value beyond the 32-bit range fires script invalid-arg with `culprit`.
std::int32_t truncate_coordinate(double d, const Cell* culprit) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ErrorId::script_invalid_arg, culprit);
    return static_cast<std::int32_t>(d);
}

// The coordinate (1: x, 2: y) an index or a word selects, or 0.
int coordinate_of(const Cell* selector) {
    if (selector->is(Type::integer)) {
        const std::int32_t n = integer::get(selector);
        return n == 1 || n == 2 ? n : 0;
    }
    if (selector->is(Type::word)) {
        if (words::is(selector, words::Sym::x)) return 1;
        if (words::is(selector, words::Sym::y)) return 2;
    }
    return 0;
}

// make pair! [1.9 -1.9]: the first two values of a block, integers or
// floats (truncated).
Cell* from_block(Cell* proto, Cell* spec) {
    memory::SeriesBuffer* buffer = memory::buffer_of(spec->data2);
    const std::uint32_t length = buffer->length();
    const Cell* items = buffer->cells() + spec->data1;
    std::int32_t xy[2];
    for (int i = 0; i < 2; ++i) {
        const Cell* item = items + i;
        if (spec->data1 + i >= length) fire(ErrorId::syntax_malconstruct, spec);
        if (item->is(Type::integer)) {
            xy[i] = integer::get(item);
        } else if (item->is(Type::float_)) {
            const double d = float_::get(item);
            if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ErrorId::syntax_malconstruct, spec);
            xy[i] = static_cast<std::int32_t>(d);
        } else {
            fire(ErrorId::syntax_malconstruct, spec);
        }
    }
    *proto = make_cell(xy[0], xy[1]);
    return proto;
}

// The operation redone on points: the left pair becomes a point2D!, and so
// does the other operand (ox, oy).
Cell* redo_as_points(Cell* left, std::int32_t ox, std::int32_t oy, MathOp op) {
    Cell other = point2d::make_cell(ox, oy);
    to_point2d(left);
    return point2d::do_math(left, &other, op);
}

}  // namespace

Cell* do_math(Cell* left, Cell* right, MathOp op) {
    std::int32_t ox;
    std::int32_t oy;
    switch (right->type()) {
        case Type::integer: ox = oy = integer::get(right); break;
        case Type::pair:
            ox = x(right);
            oy = y(right);
            break;
        case Type::point2d:
            to_point2d(left);
            return point2d::do_math(left, right, op);
        case Type::float_:
        case Type::percent: {
            const double f = float_::get(right);
            if (op == MathOp::multiply || op == MathOp::divide) {
                const bool refused = op == MathOp::multiply ? !std::isfinite(f) : std::isnan(f);
                if (refused) fire(ErrorId::script_invalid_arg, right);
                const double px = x(left);
                const double py = y(left);
                return op == MathOp::multiply ? point2d::make_at(left, px * f, py * f)
                                              : point2d::make_at(left, px / f, py / f);
            }
            ox = oy = truncate_coordinate(f, right);
            break;
        }
        default: integer::fire_invalid_type(right);
    }
    Cell rx = integer::make_cell(0);
    Cell ry = integer::make_cell(0);
    integer::do_math_op(x(left), ox, op, &rx);
    integer::do_math_op(y(left), oy, op, &ry);
    if (!rx.is(Type::integer) || !ry.is(Type::integer)) return redo_as_points(left, ox, oy, op);
    return make_at(left, integer::get(&rx), integer::get(&ry));
}

// ---------------------------------------------------------------------------
// Actions.

namespace {

// A coordinate read through a path: an integer, which names no series, so
// the caller may copy it at leisure.
Cell path_result;

Cell* to(Cell* proto, Cell* spec, Type) {
    switch (spec->type()) {
        case Type::block: return from_block(proto, spec);
        case Type::string: {
            Cell loaded;
            if (!lexer::load_one(spec, Type::pair, &loaded)) registry::fire_bad_to(Type::pair, spec);
            *proto = loaded;
            proto->clear_new_line();
            return proto;
        }
        case Type::pair: *proto = *spec; return proto;
        case Type::integer: *proto = make_cell(integer::get(spec), integer::get(spec)); return proto;
        case Type::float_: {
            const std::int32_t n = truncate_coordinate(float_::get(spec), spec);
            *proto = make_cell(n, n);
            return proto;
        }
        case Type::point2d: {
            const std::int32_t px = truncate_coordinate(point::get(spec, 0), spec);
            const std::int32_t py = truncate_coordinate(point::get(spec, 1), spec);
            *proto = make_cell(px, py);
            return proto;
        }
        default: registry::fire_bad_to(Type::pair, spec);
    }
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(x(value) ^ y(value));
        return unset::make_at(value);
    }
    // A zero coordinate draws nothing and stays 0.
    const std::int32_t px = random::uniform(secure, x(value));
    const std::int32_t py = random::uniform(secure, y(value));
    return make_at(value, px, py);
}

int form(Cell* value, Cell* buffer, Cell*, int part) {
    char text[32];
    const int n = std::snprintf(text, sizeof text, "%dx%d", x(value), y(value));
    string::append_literal(buffer, text);
    return part - n;
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part_arg, int part, int) {
    return form(value, buffer, part_arg, part);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent,
                Cell* previous, int, bool, bool, bool, bool report) {
    const int which = coordinate_of(element);
    if (which == 0) fire(ErrorId::script_invalid_path, path, element);
    if (!value) {
        path_result = integer::make_cell(which == 1 ? x(parent) : y(parent));
        return &path_result;
    }
    if (!value->is(Type::integer)) integer::fire_invalid_type(value);
    const Cell old = *parent;
    (which == 1 ? parent->data2 : parent->data3) = value->data2;
    if (report) report_path_write(grand_parent, previous, &old, parent, value, which);
    return value;
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (value2->is(Type::point2d)) {
        Cell p = *value1;
        to_point2d(&p);
        return registry::find<Action::compare>(&p)(&p, value2, op);
    }
    if (!value2->is(Type::pair)) return not_comparable;
    const std::int32_t a = x(value1) != x(value2) ? x(value1) : y(value1);
    const std::int32_t b = x(value1) != x(value2) ? x(value2) : y(value2);
    return (a > b) - (a < b);
}

Cell* absolute(Cell* value) { return make_at(value, integer::abs(x(value)), integer::abs(y(value))); }

Cell* add(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::add); }
Cell* divide(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::divide); }
Cell* multiply(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::multiply); }

// Two's complement: the minimum stays as it is.
Cell* negate(Cell* number) {
    const auto neg = [](std::int32_t n) { return static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(n)); };
    return make_at(number, neg(x(number)), neg(y(number)));
}

Cell* remainder(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::remainder); }

// One coordinate rounded by integer!'s round; a float result (from a float
// scale) is truncated back.
std::int32_t round_coordinate(std::int32_t n, Cell* scale, const RoundMode& m) {
    Cell c = integer::make_cell(n);
    Cell* r = registry::find<Action::round>(&c)(&c, scale, m.even, m.down, m.half_down, m.floor, m.ceiling, m.half_ceiling);
    if (r->is(Type::integer)) return integer::get(r);
    const double d = float_::get(r);
    if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ErrorId::math_overflow);
    return static_cast<std::int32_t>(d);
}

Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    const RoundMode mode{even, down, half_down, floor, ceiling, half_ceiling};
    if (scale && scale->is(Type::money)) integer::fire_not_related("round", Type::money);
    Cell sx;
    Cell sy;
    Cell* scale_x = scale;
    Cell* scale_y = scale;
    if (scale && scale->is(Type::pair)) {
        sx = integer::make_cell(x(scale));
        sy = integer::make_cell(y(scale));
        scale_x = &sx;
        scale_y = &sy;
    }
    const std::int32_t px = round_coordinate(x(n), scale_x, mode);
    const std::int32_t py = round_coordinate(y(n), scale_y, mode);
    return make_at(n, px, py);
}

Cell* subtract(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::subtract); }
Cell* and_(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::and_); }
Cell* or_(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::or_); }
Cell* xor_(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::xor_); }

Cell* pick(Cell* series, int index, Cell* index_arg) {
    const Cell n = index_arg ? *index_arg : integer::make_cell(index);
    const int which = coordinate_of(&n);
    if (which == 0) fire(ErrorId::script_out_of_range, &n);
    return integer::make_at(series, which == 1 ? x(series) : y(series));
}

Cell* reverse(Cell* series, Cell*, Cell*) { return make_at(series, y(series), x(series)); }

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
    .and_ = and_,
    .or_ = or_,
    .xor_ = xor_,
    .pick = pick,
    .reverse = reverse,
};

}  // namespace

void init() { registry::register_type(Type::pair, registry::no_parent, "pair!", actions); }

}  // namespace kiv::pair
