// time!: a duration or a time of day, held as seconds in a double in the
// float! layout (negative for negative durations), written h:mm:ss with
// optional fractions of a second. Its parent is float!: random, compare,
// absolute, negate and remainder are float!'s, and the arithmetic runs
// through the float arithmetic with time's own checks in front.
//
// The fields as read: hour (integer!, truncated toward zero), minute
// (integer!, 0-59, from the magnitude) and second (float!, with the sign of
// the time). So -1:30:15 reads as hour -1, minute 30, second -15.0.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/float.h"

namespace kiv::time {

inline double get(const Cell* value) { return float_::get(value); }

// Retypes `out` to time!, keeping its header flags, and stores the seconds.
inline Cell* make_at(Cell* out, double seconds) {
    return float_::make_at(out, seconds, Type::time);
}
inline Cell make_cell(double seconds) { return float_::make_cell(seconds, Type::time); }

// Appends a time! at the block's tail. GC: may expand the block.
Cell* make_in(Cell* block, double seconds);

// The field indexes of path access and pick.
enum Field : int { hour = 1, minute = 2, second = 3 };

// The hour field; a time whose hours leave the 32-bit range fires script
// type-limit with integer!.
std::int32_t get_hours(double seconds);
std::int32_t get_minutes(double seconds);
double get_seconds(double seconds);

// Writes the field (1-3) with `value` and answers the new seconds. hour and
// minute need an integer!, second an integer! or float!; else script
// invalid-arg with the value. Writing a field the value it reads leaves the
// time unchanged, for negative times too; values beyond their usual range
// carry (minute 75 adds an hour and a quarter).
double set_field(double seconds, int field, const Cell* value);

// The seconds of hours, minutes and seconds given as `count` cells (at most
// three; integer!, the third may be float!); only the first may be
// negative, and then the whole time is. Anything else fires script
// bad-to-arg with time! and `spec`.
double from_parts(const Cell* parts, std::int64_t count, const Cell* spec);

// The text form, h:mm:ss[.fraction], written to `out` (NUL-terminated);
// answers its length. Non-finite seconds write the float special texts.
constexpr std::size_t text_size = 352;
std::size_t format(double seconds, char (&out)[text_size]);

// The parity of the whole seconds (of the seconds field, so 1:00:02 is
// even whatever the hours and minutes). A non-finite time is neither.
bool even_q(double seconds);
bool odd_q(double seconds);

// Registers time!; float! must be registered first.
void init();

}  // namespace kiv::time
