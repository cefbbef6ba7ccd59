// date!: calendar arithmetic on day numbers, zones, the field table, the
// spec-block reader; then the actions in action order and the registration.
#include "runtime/datatypes/date.h"

#include <cmath>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unset.h"
#include "runtime/evaluator/random.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"

namespace kiv::date {

namespace {

constexpr double day_seconds = 86400.0;
// The years a packed word holds.
constexpr std::int64_t min_year = -16384;
constexpr std::int64_t max_year = 16383;

MonthsSource months_source = nullptr;

[[noreturn, gnu::cold]] void fire_type_limit() {
    Cell type;
    registry::make_datatype(&type, Type::date);
    fire(ErrorId::script_type_limit, &type);
}

// Division and remainder rounding toward minus infinity.
std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}
std::int64_t floor_mod(std::int64_t a, std::int64_t b) { return a - floor_div(a, b) * b; }

// Days from day 0 to 1 March of year y. The divisions round down so that
// the years before year 0 keep the Gregorian leap rule too (truncating ones
// would leave day numbers without a valid date there).
std::int64_t year_base(std::int64_t y) {
    return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400);
}

}  // namespace

// ---------------------------------------------------------------------------
// Zones.

std::uint32_t zone_bits(std::int32_t hours, std::int32_t minutes) {
    const bool west = hours < 0 || (hours == 0 && minutes < 0);
    const std::uint32_t h = static_cast<std::uint32_t>(hours < 0 ? -hours : hours) % 16;
    const std::uint32_t m = static_cast<std::uint32_t>(minutes < 0 ? -minutes : minutes) % 60;
    const std::uint32_t bits = (h << 2) | (m / 15);
    return bits == 0 ? 0 : bits | (west ? zone_sign_bit : 0);
}

std::int32_t zone_seconds(std::uint32_t zone) {
    const std::int32_t s = static_cast<std::int32_t>((zone >> 2) & 0xF) * 3600 +
                           static_cast<std::int32_t>(zone & 3) * 900;
    return (zone & zone_sign_bit) ? -s : s;
}

double to_local(double time, std::uint32_t zone) { return time + zone_seconds(zone); }
double to_utc(double time, std::uint32_t zone) { return time - zone_seconds(zone); }

// ---------------------------------------------------------------------------
// Calendar.

std::int32_t to_days(std::uint32_t packed) {
    const std::int64_t m = (month_of(packed) + 9) % 12;
    const std::int64_t y = year_of(packed) - m / 10;
    return static_cast<std::int32_t>(year_base(y) + (306 * m + 5) / 10 + (day_of(packed) - 1));
}

std::uint32_t from_days(std::int32_t g, std::uint32_t zone, bool time) {
    auto y = static_cast<std::int64_t>(std::floor((10000.0 * g + 14780.0) / 3652425.0));
    std::int64_t ddd = g - year_base(y);
    if (ddd < 0) {
        --y;
        ddd = g - year_base(y);
    }
    const std::int64_t mi = (100 * ddd + 52) / 3060;
    const std::int64_t year = y + (mi + 2) / 12;
    if (year < min_year || year > max_year) fire_type_limit();
    const int month = static_cast<int>((mi + 2) % 12 + 1);
    const int day = static_cast<int>(ddd - (306 * mi + 5) / 10 + 1);
    return pack(static_cast<std::int32_t>(year), month, day, zone, time);
}

std::int32_t jan_first(std::uint32_t packed) {
    return to_days(pack(year_of(packed), 1, 1, 0, false));
}

bool leap_year_q(std::int32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

std::int32_t year_day(std::uint32_t packed) { return to_days(packed) - jan_first(packed) + 1; }

int weekday_of_days(std::int32_t days) { return static_cast<int>(floor_mod(days + 2, 7)) + 1; }

std::int32_t week_one_start(std::uint32_t packed, int* jan_weekday) {
    const std::int32_t jan1 = jan_first(packed);
    const int w = weekday_of_days(jan1);
    if (jan_weekday) *jan_weekday = w;
    return jan1 + (w < 5 ? 1 : 8) - w;
}

int iso_week(std::uint32_t packed) {
    const std::int32_t d = to_days(packed);
    int w;
    const std::int32_t start = week_one_start(packed, &w);
    if (d < start) {
        // The last week of the previous year.
        if (w == 5) return 53;
        if (w == 6) return leap_year_q(year_of(packed) - 1) ? 53 : 52;
        return 52;
    }
    const std::int32_t next = week_one_start(pack(year_of(packed) + 1, 1, 1, 0, false));
    return d < next ? (d - start) / 7 + 1 : 1;
}

int sunday_week(std::uint32_t packed) {
    const auto e = static_cast<std::int32_t>(floor_mod(jan_first(packed) + 3, 7));
    const std::int32_t yd = year_day(packed);
    return yd <= 7 - e ? 1 : (yd + e - 1) / 7 + 1;
}

std::int32_t normalize(std::int32_t days, double* time, std::uint32_t zone) {
    const double z = zone_seconds(zone) / 3600.0;
    double t = *time;
    const double hours = std::trunc(t / 3600.0 + z);
    // Beyond any day count a packed word can hold: let from_days refuse it.
    if (!(std::fabs(hours) < 1e12)) fire_type_limit();
    const auto k = static_cast<std::int64_t>(hours) / 24;
    std::int64_t d = days + k;
    t -= static_cast<double>(k) * day_seconds;
    if (z * 3600.0 + t < 0) {
        --d;
        t += day_seconds;
    }
    if (d < INT32_MIN || d > INT32_MAX) fire_type_limit();
    *time = t;
    return static_cast<std::int32_t>(d);
}

// ---------------------------------------------------------------------------
// Makers and in-place changes.

Cell* make_at(Cell* out, std::uint32_t packed, double time) {
    out->set_type(Type::date);
    out->data1 = packed;
    float_::set(out, time);
    return out;
}

Cell* make_in(Cell* block, std::uint32_t packed, double time) {
    Cell* slot = memory::append_slot(block);
    *slot = make_cell(packed, time);
    return slot;
}

Cell* make_at_zone(Cell* out, std::int32_t year, int month, int day, double time,
                   std::int32_t zone_hours, std::int32_t zone_minutes, bool time_q) {
    const std::uint32_t zone = zone_bits(zone_hours, zone_minutes);
    *out = make_cell(pack(year, month, day, zone, time_q), time_q ? to_utc(time, zone) : 0.0);
    return out;
}

Cell* make_at_time(Cell* out, std::int32_t year, int month, int day, int hour, int minute,
                   int second, std::int32_t nanoseconds) {
    const double t = hour * 3600.0 + minute * 60.0 + second + nanoseconds * 1e-9;
    *out = make_cell(pack(year, month, day, 0, true), t);
    return out;
}

void set_time(Cell* value, double time, bool local) {
    const std::uint32_t p = packed(value);
    if (local) time = to_utc(time, zone_of(p));
    const std::int32_t d = normalize(to_days(p), &time, zone_of(p));
    value->data1 = from_days(d, zone_of(p), has_time(p));
    float_::set(value, time);
}

void set_month(Cell* value, std::int32_t month) {
    const std::uint32_t p = packed(value);
    const std::int64_t m0 = static_cast<std::int64_t>(month) - 1;
    const std::int64_t year = year_of(p) + floor_div(m0, 12);
    if (year < min_year || year > max_year) fire_type_limit();
    const std::uint32_t moved = pack(static_cast<std::int32_t>(year),
                                     static_cast<int>(floor_mod(m0, 12)) + 1, day_of(p), 0, false);
    value->data1 = from_days(to_days(moved), zone_of(p), has_time(p));
}

namespace {

void move_to_day(Cell* value, std::int64_t days) {
    if (days < INT32_MIN || days > INT32_MAX) fire_type_limit();
    const std::uint32_t p = packed(value);
    value->data1 = from_days(static_cast<std::int32_t>(days), zone_of(p), has_time(p));
}

}  // namespace

void set_zone(Cell* value, const Cell* zone, bool keep_instant) {
    std::uint32_t bits;
    if (zone->is(Type::integer)) {
        bits = zone_bits(integer::get(zone) % 16, 0);
    } else if (zone->is(Type::time)) {
        // Seconds modulo 16 hours; the sign is the time's, so -0:30 stays west.
        const double t = std::fmod(time::get(zone), 57600.0);
        // An infinite or NaN time has no remainder and names no zone.
        if (std::isnan(t)) fire(ErrorId::script_invalid_arg, zone);
        const auto minutes = static_cast<std::int32_t>(std::trunc(t / 60.0));
        bits = zone_bits(minutes / 60, minutes % 60);
    } else {
        fire(ErrorId::script_invalid_arg, zone);
    }
    const std::uint32_t p = packed(value);
    const double stored = time_of(value);
    value->data1 = (p & ~zone_mask) | bits | has_time_bit;
    if (keep_instant) {
        set_time(value, stored + zone_seconds(bits), true);
    } else {
        float_::set(value, to_utc(to_local(stored, zone_of(p)), bits));
    }
}

void set_yearday(Cell* value, std::int32_t n) {
    move_to_day(value, std::int64_t{jan_first(packed(value))} + n - 1);
}

void set_weekday(Cell* value, std::int32_t n) {
    const std::int64_t d = to_days(packed(value));
    move_to_day(value, d + (std::int64_t{n} - 1) - floor_mod(d + 2, 7));
}

void set_isoweek(Cell* value, std::int32_t n) {
    move_to_day(value, week_one_start(packed(value)) + 7 * (std::int64_t{n} - 1));
}

namespace {

void set_sunday_week(Cell* value, std::int32_t n) {
    const std::int64_t jan1 = jan_first(packed(value));
    const std::int64_t e = floor_mod(jan1 + 3, 7);
    move_to_day(value, n <= 1 ? jan1 : jan1 + 7 * std::int64_t{n} - e - 7);
}

const std::int32_t epoch_days = to_days(pack(1970, 1, 1, 0, false));

}  // namespace

std::int64_t to_epoch(const Cell* value) {
    const double s = (static_cast<double>(to_days(packed(value))) - epoch_days) * day_seconds +
                     time_of(value) + 0.5;
    return static_cast<std::int64_t>(std::floor(s));
}

double difference(const Cell* date1, const Cell* date2) {
    const double days = static_cast<double>(to_days(packed(date1))) - to_days(packed(date2));
    return days * day_seconds + (time_of(date1) - time_of(date2));
}

// ---------------------------------------------------------------------------
// Fields.

int field_index(const Cell* word) {
    using words::Sym;
    static constexpr Sym names[field_count] = {
        Sym::date, Sym::year, Sym::month, Sym::day, Sym::zone, Sym::time, Sym::hour,
        Sym::minute, Sym::second, Sym::weekday, Sym::yearday, Sym::timezone, Sym::week,
        Sym::isoweek,
    };
    for (int i = 0; i < field_count; ++i) {
        if (words::is(word, names[i])) return i + 1;
    }
    return words::is(word, Sym::julian) ? f_yearday : -1;
}

Cell* get_field(const Cell* value, int field, Cell* out) {
    const std::uint32_t p = packed(value);
    const double local = to_local(time_of(value), zone_of(p));
    switch (field) {
        case f_date: *out = make_cell(pack(year_of(p), month_of(p), day_of(p), 0, false), 0.0); break;
        case f_year: *out = integer::make_cell(year_of(p)); break;
        case f_month: *out = integer::make_cell(month_of(p)); break;
        case f_day: *out = integer::make_cell(day_of(p)); break;
        case f_zone:
        case f_timezone:
            if (!has_time(p)) return none::make_at(out);
            *out = time::make_cell(zone_seconds(zone_of(p)));
            break;
        case f_time:
            if (!has_time(p)) return none::make_at(out);
            *out = time::make_cell(local);
            break;
        case f_hour: *out = integer::make_cell(time::get_hours(local)); break;
        case f_minute: *out = integer::make_cell(time::get_minutes(local)); break;
        case f_second: *out = float_::make_cell(time::get_seconds(local)); break;
        case f_weekday: *out = integer::make_cell(weekday_of_days(to_days(p))); break;
        case f_yearday: *out = integer::make_cell(year_day(p)); break;
        case f_week: *out = integer::make_cell(sunday_week(p)); break;
        default: *out = integer::make_cell(iso_week(p)); break;
    }
    return out;
}

namespace {

std::int32_t integer_arg(const Cell* v) {
    if (!v->is(Type::integer)) fire(ErrorId::script_invalid_arg, v);
    return integer::get(v);
}

void set_year(Cell* value, std::int32_t year) {
    if (year < min_year || year > max_year) fire_type_limit();
    const std::uint32_t p = packed(value);
    move_to_day(value, to_days(pack(year, month_of(p), day_of(p), 0, false)));
}

void set_day(Cell* value, std::int32_t day) {
    const std::uint32_t p = packed(value);
    move_to_day(value, std::int64_t{to_days(pack(year_of(p), month_of(p), 1, 0, false))} - 1 + day);
}

// hour, minute and second change the local time through time!'s field
// writer, so the instant moves by exactly the change.
void set_clock_field(Cell* value, int field, const Cell* v) {
    const std::uint32_t p = packed(value);
    const double local = time::set_field(to_local(time_of(value), zone_of(p)), field - f_hour + 1, v);
    value->data1 = p | has_time_bit;
    set_time(value, local, true);
}

}  // namespace

void set_field(Cell* value, int field, const Cell* v) {
    const std::uint32_t p = packed(value);
    switch (field) {
        case f_date:
            if (!v->is(Type::date)) fire(ErrorId::script_invalid_arg, v);
            value->data1 = (packed(v) & ~zone_mask) | zone_of(p);
            // A date without time keeps no time, as `time: none` leaves it.
            if (!has_time(value->data1)) float_::set(value, 0.0);
            break;
        case f_year: set_year(value, integer_arg(v)); break;
        case f_month: set_month(value, integer_arg(v)); break;
        case f_day: set_day(value, integer_arg(v)); break;
        case f_zone: set_zone(value, v, false); break;
        case f_timezone: set_zone(value, v, true); break;
        case f_time:
            if (v->is(Type::none)) {
                value->data1 = p & ~has_time_bit;
                float_::set(value, 0.0);
            } else if (v->is(Type::time)) {
                value->data1 = p | has_time_bit;
                set_time(value, time::get(v), true);
            } else {
                fire(ErrorId::script_invalid_arg, v);
            }
            break;
        case f_hour:
        case f_minute:
        case f_second: set_clock_field(value, field, v); break;
        case f_weekday: set_weekday(value, integer_arg(v)); break;
        case f_yearday: set_yearday(value, integer_arg(v)); break;
        case f_week: set_sunday_week(value, integer_arg(v)); break;
        default: set_isoweek(value, integer_arg(v)); break;
    }
}

// ---------------------------------------------------------------------------
// Arithmetic.

Cell* do_math(Cell* left, Cell* right, MathOp op) {
    std::int64_t days = 0;
    double seconds = 0.0;
    bool gives_time = false;
    switch (right->type()) {
        case Type::integer: days = integer::get(right); break;
        case Type::time:
            seconds = time::get(right);
            gives_time = true;
            break;
        case Type::date:
            if (op == MathOp::add) integer::fire_not_related("add", Type::date);
            days = to_days(packed(right));
            seconds = time_of(right);
            break;
        default: integer::fire_invalid_type(right);
    }
    const std::uint32_t p = packed(left);
    const bool add = op == MathOp::add;
    const std::int64_t d = std::int64_t{to_days(p)} + (add ? days : -days);
    double t = add ? time_of(left) + seconds : time_of(left) - seconds;
    if (d < INT32_MIN || d > INT32_MAX) fire_type_limit();
    const std::int32_t carried = normalize(static_cast<std::int32_t>(d), &t, zone_of(p));
    if (right->is(Type::date)) return integer::make_at(left, carried);
    return make_at(left, from_days(carried, zone_of(p), has_time(p) || gives_time), t);
}

void set_months_source(MonthsSource source) { months_source = source; }

// ---------------------------------------------------------------------------
// The spec block of make and to: day month year, then a time as hour minute
// second or as a time!, then a zone as hours minutes or as a time!.

namespace {

enum Slot : std::int8_t {
    s_day, s_month, s_year, s_hour, s_minute, s_isecond, s_zone_hours, s_zone_minutes,
    s_fsecond, s_time, s_zone_time, slot_count
};

struct Step {
    std::int8_t next;  // -1: dead
    std::int8_t slot;
};

constexpr Step dead{-1, 0};

// By state, for an integer!, a time! and a float!.
constexpr Step spec_steps[14][3] = {
    {{1, s_day}, dead, dead},
    {{2, s_month}, dead, dead},
    {{3, s_year}, dead, dead},
    {{8, s_hour}, {4, s_time}, dead},
    {{6, s_zone_hours}, {5, s_zone_time}, dead},
    {dead, dead, dead},
    {{7, s_zone_minutes}, dead, dead},
    {dead, dead, dead},
    {{9, s_minute}, dead, dead},
    {{10, s_isecond}, dead, {10, s_fsecond}},
    {{12, s_zone_hours}, {11, s_zone_time}, dead},
    {dead, dead, dead},
    {{13, s_zone_minutes}, dead, dead},
    {dead, dead, dead},
};

struct SpecFields {
    double slot[slot_count] = {};
    int state = 0;
    std::int64_t count = 0;
};

SpecFields read_spec(const Cell* spec) {
    memory::SeriesBuffer* b = memory::buffer_of(spec->data2);
    const std::uint32_t length = b->length();
    SpecFields f;
    for (std::uint32_t i = spec->data1; i < length; ++i, ++f.count) {
        const Cell* v = b->cells() + i;
        int kind;
        double n;
        switch (v->type()) {
            case Type::integer: kind = 0; n = integer::get(v); break;
            case Type::time: kind = 1; n = time::get(v); break;
            case Type::float_: kind = 2; n = float_::get(v); break;
            default: registry::fire_bad_to(Type::date, spec);
        }
        const Step step = spec_steps[f.state][kind];
        if (step.next < 0) registry::fire_bad_to(Type::date, spec);
        f.state = step.next;
        f.slot[step.slot] = n;
    }
    if (f.count < 3) registry::fire_bad_to(Type::date, spec);
    return f;
}

// The zone as signed minutes east of universal time.
std::int32_t spec_zone_minutes(const SpecFields& f) {
    if (f.state == 5 || f.state == 11) {
        return static_cast<std::int32_t>(std::trunc(std::fmod(f.slot[s_zone_time], 57600.0) / 60.0));
    }
    const auto hours = static_cast<std::int32_t>(f.slot[s_zone_hours]) % 16;
    const auto minutes = static_cast<std::int32_t>(f.slot[s_zone_minutes]) % 60;
    return hours * 60 + (hours < 0 ? -std::abs(minutes) : std::abs(minutes));
}

double spec_time(const SpecFields& f) {
    if (f.state < 8) return f.slot[s_time];
    const double s = f.slot[s_fsecond] != 0.0 ? f.slot[s_fsecond] : f.slot[s_isecond];
    return f.slot[s_hour] * 3600.0 + f.slot[s_minute] * 60.0 + s;
}

Cell* from_spec(Cell* out, const Cell* spec, bool validate) {
    SpecFields f = read_spec(spec);
    double& day = f.slot[s_day];
    double& year = f.slot[s_year];
    if (day >= 100 && day > year) std::swap(day, year);
    if (!(year >= min_year && year <= max_year) || !(std::fabs(day) < 1e9) ||
        !(std::fabs(f.slot[s_month]) < 1e9)) {
        registry::fire_bad_to(Type::date, spec);
    }
    const double t = spec_time(f);
    if (!std::isfinite(t) || !std::isfinite(f.slot[s_zone_time])) registry::fire_bad_to(Type::date, spec);
    const auto y = static_cast<std::int32_t>(year);
    const auto m = static_cast<std::int32_t>(f.slot[s_month]);
    const auto d = static_cast<std::int32_t>(day);
    Cell value = make_cell(pack(y, 0, 0, 0, false), 0.0);
    set_month(&value, m);
    move_to_day(&value, std::int64_t{to_days(packed(&value))} + d);
    if (f.count > 3) value.data1 |= has_time_bit;
    set_time(&value, t, false);
    if (validate) {
        const std::uint32_t p = packed(&value);
        bool ok = year_of(p) == y && month_of(p) == m && day_of(p) == d;
        if (t != 0.0) {
            const std::int32_t hours = time::get_hours(t);
            ok = ok && hours >= 0 && hours <= 23;
            if (f.state >= 8) ok = ok && time::get_minutes(t) == f.slot[s_minute];
        }
        if (!ok) registry::fire_bad_to(Type::date, spec);
    }
    const std::int32_t zone = spec_zone_minutes(f);
    value.data1 = (value.data1 & ~zone_mask) | zone_bits(zone / 60, zone % 60);
    set_time(&value, time_of(&value), true);
    return make_at(out, packed(&value), time_of(&value));
}

Cell* from_epoch(Cell* out, std::int32_t n) {
    make_at(out, from_days(epoch_days + n / 86400, 0, true), n % 86400);
    if (n < 0) set_time(out, time_of(out), false);
    return out;
}

Cell* make_or_to(Cell* proto, Cell* spec, bool validate) {
    switch (spec->type()) {
        case Type::date: return cell::copy(spec, proto);
        case Type::integer:
            if (validate) registry::fire_bad_to(Type::date, spec);
            return from_epoch(proto, integer::get(spec));
        case Type::block:
        case Type::paren:
        case Type::hash: return from_spec(proto, spec, validate);
        default: registry::fire_bad_to(Type::date, spec);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Actions.

namespace {

Cell* make(Cell* proto, Cell* spec, Type) { return make_or_to(proto, spec, true); }
Cell* to(Cell* proto, Cell* spec, Type) { return make_or_to(proto, spec, false); }

std::int32_t random_word(bool secure) { return secure ? random::secure_next() : random::next(); }

Cell* random(Cell* value, bool seed, bool secure, bool) {
    const std::uint32_t p = packed(value);
    if (seed) {
        const double t = std::trunc(time_of(value));
        const auto whole = std::isfinite(t) && std::fabs(t) < 2147483648.0 ? static_cast<std::int32_t>(t) : 0;
        random::seed(static_cast<std::int32_t>(p + static_cast<std::uint32_t>(whole)));
        return unset::make_at(value);
    }
    const std::int32_t r = random::uniform(secure, to_days(p));
    value->data1 = from_days(r - 1, zone_of(p), has_time(p));
    if (!has_time(p)) return value;
    value->data1 = (value->data1 & ~zone_mask) | (static_cast<std::uint32_t>(random_word(secure)) & zone_mask);
    double x;
    if (secure) {
        const double r1 = random_word(true);
        const double r2 = random_word(true);
        x = (r1 / 2147483647.0 + r2) / (2147483648.0 / 3600.0);
    } else {
        x = random_word(false) / 2147483647.0 * 3600.0;
    }
    set_time(value, std::floor(x) * 24.0, true);
    return value;
}

// The built-in month names, until system/locale/months takes over.
constexpr const char* english_months[12] = {
    "January", "February", "March", "April", "May", "June",
    "July", "August", "September", "October", "November", "December",
};

// Writes the month's first three characters; answers how many it wrote.
int append_month(Cell* buffer, int month) {
    const Cell* names = months_source ? months_source() : nullptr;
    if (!names) {
        string::append_bytes(buffer, english_months[month - 1], 3);
        return 3;
    }
    memory::SeriesBuffer* b = memory::buffer_of(names->data2);
    const std::uint32_t at = names->data1 + static_cast<std::uint32_t>(month) - 1;
    if (at >= b->length() || !b->cells()[at].is(Type::string)) fire(ErrorId::script_invalid_months);
    Cell name = b->cells()[at];
    const std::int32_t length = string::ks_length(&name);
    string::append_string(buffer, &name, 3);
    return length < 3 ? length : 3;
}

int form(Cell* value, Cell* buffer, Cell*, int part) {
    const std::uint32_t p = packed(value);
    const char* separator = year_of(p) < 0 ? "/" : "-";
    char text[32];
    int n = std::snprintf(text, sizeof text, "%d%s", day_of(p), separator);
    string::append_literal(buffer, text);
    int written = n + append_month(buffer, month_of(p));
    const std::int32_t y = year_of(p) < 0 ? -year_of(p) : year_of(p);
    n = std::snprintf(text, sizeof text, y < 100 ? "%s%s%04d" : "%s%s%d", separator,
                      year_of(p) < 0 ? "-" : "", y);
    string::append_literal(buffer, text);
    written += n;
    if (has_time(p)) {
        char clock[time::text_size + 16];
        char t[time::text_size];
        time::format(to_local(time_of(value), zone_of(p)), t);
        n = std::snprintf(clock, sizeof clock, "/%s", t);
        const std::uint32_t z = zone_of(p);
        if (z != 0) {
            n += std::snprintf(clock + n, sizeof clock - n, "%c%02u:%02u", (z & zone_sign_bit) ? '-' : '+',
                               (z >> 2) & 0xF, (z & 3) * 15);
        }
        string::append_literal(buffer, clock);
        written += n;
    }
    return part - written;
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part_arg, int part, int) {
    return form(value, buffer, part_arg, part);
}

// A field read answers a scalar or none, so this cell names no series and
// the collector need not see it; the caller copies it at once.
// FIXME: push on the argument stack once it exists.
Cell path_result;

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent,
                Cell* previous, int, bool, bool, bool, bool report) {
    int field = -1;
    if (element->is(Type::integer)) {
        const std::int32_t n = integer::get(element);
        if (n >= 1 && n <= field_count) field = n;
    } else if (element->is(Type::word)) {
        field = field_index(element);
    }
    if (field < 0) fire(ErrorId::script_invalid_path, path, element);
    if (!value) return get_field(parent, field, &path_result);
    // Every check happens before the cell changes.
    const Cell old = *parent;
    Cell changed = old;
    set_field(&changed, field, value);
    *parent = changed;
    if (report) pair::report_path_write(grand_parent, previous, &old, parent, value, field);
    return value;
}

// Two dates compare as instants: the day number in seconds plus the stored
// time, which is universal time from the local midnight.
double instant(const Cell* value) {
    return static_cast<double>(to_days(packed(value))) * day_seconds + time_of(value);
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(Type::date)) return not_comparable;
    if (op == CompareOp::same) {
        return value1->data1 == value2->data1 && value1->data2 == value2->data2 &&
                       value1->data3 == value2->data3
                   ? 0
                   : 1;
    }
    const double a = instant(value1);
    const double b = instant(value2);
    if (float_::equal_q(a, b)) return 0;
    if (!is_ordering(op)) return 1;
    if (std::isnan(a) || std::isnan(b)) return 0;
    return a < b ? -1 : 1;
}

Cell* add(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::add); }
Cell* subtract(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::subtract); }

Cell* pick(Cell* series, int index, Cell* index_arg) {
    int field = index;
    if (index_arg && index_arg->is(Type::word)) {
        field = field_index(index_arg);
        if (field < 0) fire(ErrorId::script_out_of_range, index_arg);
    } else if (field < 1 || field > field_count) {
        const Cell n = index_arg ? *index_arg : integer::make_cell(index);
        fire(ErrorId::script_out_of_range, &n);
    }
    const Cell date = *series;
    return get_field(&date, field, series);
}

constexpr ActionRow actions{
    .make = make,
    .random = random,
    .to = to,
    .form = form,
    .mold = mold,
    .eval_path = eval_path,
    .compare = compare,
    .add = add,
    .subtract = subtract,
    .pick = pick,
};

}  // namespace

void init() { registry::register_type(Type::date, registry::no_parent, "date!", actions); }

}  // namespace kiv::date
