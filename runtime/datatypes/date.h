// date!: a calendar date with an optional time of day and time zone, in one
// cell. data1 is the packed date word, data2-3 the time as a double in the
// float! layout:
//
//   bits 31-17  year, signed            bit 16     has-time flag
//   bits 15-12  month 1-12              bits 11-7  day 1-31
//   bit 6       zone sign (1 = west)    bits 5-2   zone hours 0-15
//   bits 1-0    zone quarter hours
//
// Year, month and day are the local calendar date in the value's zone. The
// time is kept in universal time relative to the midnight that starts that
// local date, so local time = stored time + zone offset: 1-Jan-2020/1:00+2:00
// stores -3600.0. A date without time stores 0.0.
//
// Calendar arithmetic runs on day numbers, days since 1 March of year 0 of
// the proleptic Gregorian calendar (day 0, a Wednesday).
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/float.h"

namespace kiv::date {

constexpr std::uint32_t has_time_bit = 0x10000;
constexpr std::uint32_t zone_mask = 0x7F;
constexpr std::uint32_t zone_sign_bit = 0x40;

// ---------------------------------------------------------------------------
// The packed word.

inline std::int32_t year_of(std::uint32_t d) { return static_cast<std::int32_t>(d) >> 17; }
inline int month_of(std::uint32_t d) { return (d >> 12) & 0xF; }
inline int day_of(std::uint32_t d) { return (d >> 7) & 0x1F; }
inline bool has_time(std::uint32_t d) { return (d & has_time_bit) != 0; }
inline std::uint32_t zone_of(std::uint32_t d) { return d & zone_mask; }

inline std::uint32_t pack(std::int32_t year, int month, int day, std::uint32_t zone, bool time) {
    return (static_cast<std::uint32_t>(year) << 17) | (static_cast<std::uint32_t>(month & 0xF) << 12) |
           (static_cast<std::uint32_t>(day & 0x1F) << 7) | (zone & zone_mask) |
           (time ? has_time_bit : 0);
}

// Zone bits for hours (-15 to 15, reduced modulo 16) and minutes (whole
// quarters are kept); the sign is that of the hours.
std::uint32_t zone_bits(std::int32_t hours, std::int32_t minutes);
// The zone's offset from universal time in seconds.
std::int32_t zone_seconds(std::uint32_t zone);

inline std::uint32_t packed(const Cell* value) { return value->data1; }
inline double time_of(const Cell* value) { return float_::get(value); }

// ---------------------------------------------------------------------------
// Calendar.

std::int32_t to_days(std::uint32_t packed);
// The packed word of a day number, with the zone bits and has-time flag.
std::uint32_t from_days(std::int32_t days, std::uint32_t zone, bool has_time);
// Day number of 1 January of the packed date's year.
std::int32_t jan_first(std::uint32_t packed);
bool leap_year_q(std::int32_t year);
// 1 for 1 January.
std::int32_t year_day(std::uint32_t packed);
// 1 = Monday ... 7 = Sunday.
int weekday_of_days(std::int32_t days);
// The Monday that starts ISO week 1 of the packed date's year; the weekday
// of 1 January goes to *jan_weekday when given.
std::int32_t week_one_start(std::uint32_t packed, int* jan_weekday = nullptr);
// ISO 8601 week number; weeks starting on Sunday with week 1 holding
// 1 January.
int iso_week(std::uint32_t packed);
int sunday_week(std::uint32_t packed);

double to_local(double time, std::uint32_t zone);
double to_utc(double time, std::uint32_t zone);
// Carries whole days of the stored time `*time` (universal, relative to the
// local midnight of day number `days`) into the day number, so that the
// local time lands in [0, 24h). Answers the new day number.
std::int32_t normalize(std::int32_t days, double* time, std::uint32_t zone);

// ---------------------------------------------------------------------------
// Makers and in-place changes. Every change keeps the zone and the has-time
// flag unless it says otherwise.

// A date! cell with no flags.
inline Cell make_cell(std::uint32_t packed, double time) {
    Cell c{static_cast<std::uint32_t>(Type::date), packed, 0, 0};
    float_::set(&c, time);
    return c;
}
// Retypes `out` to date!, keeping its header flags.
Cell* make_at(Cell* out, std::uint32_t packed, double time);
// Appends a date! at the block's tail. GC: may expand the block.
Cell* make_in(Cell* block, std::uint32_t packed, double time);

// The lexer's maker: a local date and time in a zone, without carrying days;
// without has_time the time is 0.0 and the zone bits are still stored.
Cell* make_at_zone(Cell* out, std::int32_t year, int month, int day, double time,
                   std::int32_t zone_hours, std::int32_t zone_minutes, bool has_time);
// The file services' maker: universal time, zone 0.
Cell* make_at_time(Cell* out, std::int32_t year, int month, int day, int hour, int minute,
                   int second, std::int32_t nanoseconds);

// Stores a time (a local one has the zone offset taken off first) and
// carries whole days into the date.
void set_time(Cell* value, double time, bool local);
// Sets the month, carrying whole years either way (13 is January of the
// next year, 0 December of the previous one); a day past the month's end
// carries into the next month.
void set_month(Cell* value, std::int32_t month);
// Writes the zone from an integer! (hours) or time!; keep_instant moves
// the local date and time with it (timezone), else the local time stays
// (zone). Any other value fires script invalid-arg.
void set_zone(Cell* value, const Cell* zone, bool keep_instant);
// Moves the date to a day of the year, a weekday of its week (Monday first)
// or the Monday of an ISO week.
void set_yearday(Cell* value, std::int32_t n);
void set_weekday(Cell* value, std::int32_t n);
void set_isoweek(Cell* value, std::int32_t n);

// Seconds since 1-Jan-1970 in universal time, to the nearest second (halves
// up, also before 1970).
std::int64_t to_epoch(const Cell* value);
// The time between two dates: date1 - date2 in seconds.
double difference(const Cell* date1, const Cell* date2);

// The fields of path access and pick, by index.
enum Field : int {
    f_date = 1, f_year, f_month, f_day, f_zone, f_time, f_hour, f_minute, f_second,
    f_weekday, f_yearday, f_timezone, f_week, f_isoweek
};
constexpr int field_count = 14;
// The field of a word (julian is yearday), or -1.
int field_index(const Cell* word);
// Reads a field into `out`.
Cell* get_field(const Cell* value, int field, Cell* out);
// Writes a field in place; a value of the wrong type fires script
// invalid-arg with it.
void set_field(Cell* value, int field, const Cell* new_value);

// add (op add) and subtract on a date and an integer! (days), time! or, for
// subtract, another date (the whole days between them, an integer!). The
// result replaces `left`.
Cell* do_math(Cell* left, Cell* right, MathOp op);

// The month names that form and mold write (their first three characters).
// The source answers the block of names (system/locale/months once the
// system object exists), or nullptr for the built-in English names.
using MonthsSource = const Cell* (*)();
void set_months_source(MonthsSource source);

// Registers date!.
void init();

}  // namespace kiv::date
