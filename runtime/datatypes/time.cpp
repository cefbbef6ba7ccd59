// time!: fields, makers from parts, the text form and parity; then the
// actions and the registration under float!.
#include "runtime/datatypes/time.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/evaluator/lexer-scalars.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"

namespace kiv::time {

namespace {

// A field value as an integer!; beyond the 32-bit range (or NaN) it fires
// script type-limit with integer!, as `to integer!` does.
std::int32_t checked_int(double d) {
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) {
        Cell type;
        registry::make_datatype(&type, Type::integer);
        fire(ErrorId::script_type_limit, &type);
    }
    return static_cast<std::int32_t>(d);
}

double whole_field(const Cell* value) {
    if (!value->is(Type::integer)) fire(ErrorId::script_invalid_arg, value);
    return integer::get(value);
}

}  // namespace

Cell* make_in(Cell* block, double seconds) { return float_::make_in(block, seconds, Type::time); }

std::int32_t get_hours(double seconds) { return checked_int(std::trunc(seconds / 3600.0)); }

std::int32_t get_minutes(double seconds) {
    return checked_int(std::floor(std::fmod(std::fabs(seconds), 3600.0) / 60.0));
}

double get_seconds(double seconds) { return std::fmod(seconds, 60.0); }

// Each write moves the time by the difference between the field as read and
// the new value, so reads and writes agree for negative times as well.
double set_field(double t, int field, const Cell* value) {
    switch (field) {
        case hour: {
            const double h = std::trunc(t / 3600.0);
            return t - (h - whole_field(value)) * 3600.0;
        }
        case minute: {
            const double m = std::floor(std::fmod(std::fabs(t), 3600.0) / 60.0);
            const double sign = t < 0 ? -1.0 : 1.0;
            return t - sign * (m - whole_field(value)) * 60.0;
        }
        default: {
            double v;
            if (value->is(Type::integer)) {
                v = integer::get(value);
            } else if (value->is(Type::float_)) {
                v = float_::get(value);
            } else {
                fire(ErrorId::script_invalid_arg, value);
            }
            return t - (std::fmod(t, 60.0) - v);
        }
    }
}

double from_parts(const Cell* parts, std::int64_t count, const Cell* spec) {
    if (count > 3) registry::fire_bad_to(Type::time, spec);
    constexpr double unit[3] = {3600.0, 60.0, 1.0};
    double total = 0.0;
    bool negative = false;
    for (std::int64_t i = 0; i < count; ++i) {
        const Cell* part = parts + i;
        double v;
        if (part->is(Type::integer)) {
            v = integer::get(part);
        } else if (part->is(Type::float_) && i == 2) {
            v = float_::get(part);
        } else {
            registry::fire_bad_to(Type::time, spec);
        }
        if (v < 0) {
            if (i != 0) registry::fire_bad_to(Type::time, spec);
            negative = true;
            v = -v;
        }
        total += v * unit[i];
    }
    return negative ? -total : total;
}

std::size_t format(double t, char (&out)[text_size]) {
    if (!std::isfinite(t)) {
        std::snprintf(out, text_size, "%s", float_::form_float(t, float_::Kind::float64));
        return std::strlen(out);
    }
    char* p = out;
    if (t < 0) {
        *p++ = '-';
        t = -t;
    }
    const double s = std::fmod(t, 60.0);
    char seconds[32] = "00";
    if (s >= 0.000001) {
        std::snprintf(seconds, sizeof seconds, "%s", float_::form_float(s, float_::Kind::seconds));
        // Seconds just below a minute print as 60 at six digits: carry the
        // minute instead.
        if (std::strcmp(seconds, "60") == 0) {
            t = t - s + 60.0;
            std::strcpy(seconds, "00");
        }
    }
    const double hours = std::floor(t / 3600.0);
    const int minutes = static_cast<int>(std::floor(std::fmod(t, 3600.0) / 60.0));
    const bool pad = seconds[1] == '\0' || seconds[1] == '.';
    const int n = std::snprintf(p, text_size - (p - out), "%.0f:%02d:%s%s", hours, minutes,
                                pad ? "0" : "", seconds);
    return static_cast<std::size_t>(p - out + n);
}

namespace {

// The whole seconds of the seconds field, nudged away from zero so that a
// time stored a hair below a whole second counts as that second. -1 for a
// non-finite time, which is neither even nor odd.
int whole_seconds(double t) {
    if (!std::isfinite(t)) return -1;
    t += t >= 0 ? 0.000001 : -0.000001;
    return static_cast<int>(std::fmod(t, 60.0));
}

}  // namespace

bool even_q(double t) { return std::isfinite(t) && (whole_seconds(t) & 1) == 0; }

bool odd_q(double t) { return std::isfinite(t) && (whole_seconds(t) & 1) != 0; }

// ---------------------------------------------------------------------------
// Actions.

namespace {

int field_of_word(const Cell* word) {
    if (words::is(word, words::Sym::hour)) return hour;
    if (words::is(word, words::Sym::minute)) return minute;
    if (words::is(word, words::Sym::second)) return second;
    return -1;
}

Cell* field_value(double t, int field, Cell* out) {
    switch (field) {
        case hour: *out = integer::make_cell(get_hours(t)); break;
        case minute: *out = integer::make_cell(get_minutes(t)); break;
        default: *out = float_::make_cell(get_seconds(t)); break;
    }
    return out;
}

Cell* make(Cell* proto, Cell* spec, Type) {
    double t;
    switch (spec->type()) {
        case Type::integer: t = integer::get(spec); break;
        case Type::time:
        case Type::float_:
        case Type::percent: t = get(spec); break;
        case Type::block:
        case Type::paren:
        case Type::hash: {
            memory::SeriesBuffer* buffer = memory::buffer_of(spec->data2);
            const std::uint32_t length = buffer->length();
            const std::uint32_t index = spec->data1 < length ? spec->data1 : length;
            t = from_parts(buffer->cells() + index, length - index, spec);
            break;
        }
        case Type::string:
        case Type::file:
        case Type::url:
        case Type::tag:
        case Type::email:
        case Type::ref: {
            // The text must load as exactly one time! value.
            Cell loaded;
            if (!lexer::load_one(spec, Type::time, &loaded)) registry::fire_bad_to(Type::time, spec);
            t = get(&loaded);
            break;
        }
        default: registry::fire_bad_to(Type::time, spec);
    }
    *proto = make_cell(t);
    return proto;
}

int form(Cell* value, Cell* buffer, Cell*, int part) {
    char text[text_size];
    const std::size_t length = format(get(value), text);
    string::append_literal(buffer, text);
    return part - static_cast<int>(length);
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part_arg, int part, int) {
    return form(value, buffer, part_arg, part);
}

// A field read answers a scalar, so this cell names no series and the
// collector need not see it; the caller copies it at once.
// FIXME: push on the argument stack once it exists.
Cell path_result;

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent,
                Cell* previous, int, bool, bool, bool, bool report) {
    int field = -1;
    if (element->is(Type::integer)) {
        const std::int32_t n = integer::get(element);
        if (n >= hour && n <= second) field = n;
    } else if (element->is(Type::word)) {
        field = field_of_word(element);
    }
    if (field < 0) fire(ErrorId::script_invalid_path, path, element);
    if (!value) return field_value(get(parent), field, &path_result);
    // Every check happens in set_field, before the store.
    const double t = set_field(get(parent), field, value);
    const Cell old = *parent;
    float_::set(parent, t);
    if (report) pair::report_path_write(grand_parent, previous, &old, parent, value, field);
    return value;
}

Cell* add(Cell* value1, Cell* value2) {
    if (value2->is(Type::date)) {
        std::swap(*value1, *value2);
        return integer::run_math_action(value1, value1, value2, MathOp::add);
    }
    return float_::do_math(value1, value2, MathOp::add);
}

Cell* divide(Cell* value1, Cell* value2) {
    const bool ratio = value2->is(Type::time);
    float_::do_math(value1, value2, MathOp::divide);
    if (ratio) value1->set_type(Type::float_);
    return value1;
}

Cell* multiply(Cell* value1, Cell* value2) {
    if (value2->is(Type::time)) integer::fire_not_related("multiply", Type::time);
    return float_::do_math(value1, value2, MathOp::multiply);
}

Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    float_::round_value(n, scale, RoundMode{even, down, half_down, floor, ceiling, half_ceiling});
    const double t = n->is(Type::integer) ? integer::get(n) : get(n);
    return make_at(n, t);
}

Cell* subtract(Cell* value1, Cell* value2) {
    if (value2->is(Type::date)) integer::fire_not_related("subtract", Type::time);
    return float_::do_math(value1, value2, MathOp::subtract);
}

bool even(Cell* number) { return even_q(get(number)); }
bool odd(Cell* number) { return odd_q(get(number)); }

Cell* pick(Cell* series, int index, Cell* index_arg) {
    int field = index;
    if (index_arg && index_arg->is(Type::word)) {
        field = field_of_word(index_arg);
        if (field < 0) fire(ErrorId::script_cannot_use, index_arg, series);
    } else if (field < hour || field > second) {
        const Cell n = index_arg ? *index_arg : integer::make_cell(index);
        fire(ErrorId::script_out_of_range, &n);
    }
    return field_value(get(series), field, series);
}

constexpr ActionRow actions{
    .make = make,
    .random = inherit,
    .to = make,
    .form = form,
    .mold = mold,
    .eval_path = eval_path,
    .compare = inherit,
    .absolute = inherit,
    .add = add,
    .divide = divide,
    .multiply = multiply,
    .negate = inherit,
    .remainder = inherit,
    .round = round,
    .subtract = subtract,
    .even_q = even,
    .odd_q = odd,
    .pick = pick,
};

}  // namespace

void init() { registry::register_type(Type::time, Type::float_, "time!", actions); }

}  // namespace kiv::time
