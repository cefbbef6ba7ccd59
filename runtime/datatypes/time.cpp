// time!: fields, makers from parts, the text form and parity.
#include "runtime/datatypes/time.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/datatypes/integer.h"
#include "runtime/fire.h"
#include "runtime/memory.h"

namespace kiv::time {

namespace {

Cell datatype_cell(Type type) {
    return Cell{static_cast<std::uint32_t>(Type::datatype), static_cast<std::uint32_t>(type), 0, 0};
}

// A field value as an integer!; beyond the 32-bit range (or NaN) it fires
// script type-limit with integer!, as `to integer!` does.
std::int32_t checked_int(double d) {
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) {
        const Cell type = datatype_cell(Type::integer);
        fire(ErrorId::script_type_limit, &type);
    }
    return static_cast<std::int32_t>(d);
}

[[noreturn]] void fire_bad_part(const Cell* spec) {
    const Cell type = datatype_cell(Type::time);
    fire(ErrorId::script_bad_to_arg, &type, spec);
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
    if (count > 3) fire_bad_part(spec);
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
            fire_bad_part(spec);
        }
        if (v < 0) {
            if (i != 0) fire_bad_part(spec);
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

}  // namespace kiv::time
