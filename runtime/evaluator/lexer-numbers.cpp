// Number, time, date and money text. See lexer-numbers.h.
#include "runtime/evaluator/lexer-numbers.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "runtime/evaluator/lexer-text.h"
#include "runtime/float-text.h"

namespace kiv::lexer {

namespace {

constexpr int type_id(Type t) { return static_cast<int>(t); }

bool is_digit(int c) { return c >= '0' && c <= '9'; }

const char* chars_of(const std::uint8_t* p) { return reinterpret_cast<const char*>(p); }

}  // namespace

// ---------------------------------------------------------------------------
// Float syntax and reading
// ---------------------------------------------------------------------------

bool float_syntax(const char* s, std::size_t n) {
    if (n > max_float_text) return false;
    // States: 0 start, 1 integer digits, 2 after "'", 3 fraction digits,
    // 4 after a leading "." or a fraction "'", 5 after "digits.", 6 after
    // the exponent letter, 7 exponent sign, 8 exponent digits; -1 rejects.
    enum { sign, digit, exp, dot, quote, other };
    static constexpr signed char next[9][6] = {
        //  sign digit exp dot quote other
        {0, 1, -1, 4, -1, -1},    // 0
        {-1, 1, 6, 5, 2, -1},     // 1
        {-1, 1, -1, -1, -1, -1},  // 2
        {-1, 3, 6, -1, 4, -1},    // 3
        {-1, 3, -1, -1, -1, -1},  // 4
        {-1, 3, -1, -1, -1, -1},  // 5
        {7, 8, -1, -1, -1, -1},   // 6
        {-1, 8, -1, -1, -1, -1},  // 7
        {-1, 8, -1, -1, -1, -1},  // 8
    };
    static constexpr bool accepts_end[9] = {false, true, true, true, true, true, false, false, true};
    int state = 0;
    for (std::size_t i = 0; i < n; ++i) {
        char c = s[i];
        int k = is_digit(c) ? digit
                : (c == '+' || c == '-') ? sign
                : (c == 'e' || c == 'E') ? exp
                : c == '.' ? dot
                : c == '\'' ? quote
                            : other;
        state = next[state][k];
        if (state < 0) return false;
    }
    return accepts_end[state];
}

bool text_to_float(const char* s, std::size_t n, int extra_exponent, double& out) {
    // The shared reader takes "." only and no separators.
    char small[max_float_text + 1];
    std::string large;
    char* text = small;
    if (n > max_float_text) {
        large.resize(n);
        text = large.data();
    }
    std::size_t len = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (s[i] == '\'') continue;
        text[len++] = s[i] == ',' ? '.' : s[i];
    }
    int unread = 0;
    double value = dtoa::text_to_float(text, text + len, extra_exponent, &unread);
    if (unread != 0 || len == 0) return false;
    out = value;
    return true;
}

// ---------------------------------------------------------------------------
// Integer, hex, float, percent, pair, tuple, point tokens
// ---------------------------------------------------------------------------

IntegerToken read_integer(const std::uint8_t* s, const std::uint8_t* e) {
    const std::uint8_t* p = s;
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) negative = *p++ == '-';
    int digits = 0;
    for (const std::uint8_t* q = p; q < e; ++q) {
        if (*q == '\'') {
            if (q > p && q[-1] == '\'') return {IntegerToken::invalid, 0};
        } else if (is_digit(*q)) {
            ++digits;
        } else {
            return {IntegerToken::invalid, 0};
        }
    }
    if (digits == 0 || *p == '\'') return {IntegerToken::invalid, 0};
    if (digits > 10) return {IntegerToken::floating, 0};
    std::int64_t v = 0;
    for (const std::uint8_t* q = p; q < e; ++q)
        if (*q != '\'') v = v * 10 + (*q - '0');
    if (v > 0x7FFFFFFF) {
        if (negative && v == 0x80000000LL && e - s == 11)
            return {IntegerToken::integer, std::numeric_limits<std::int32_t>::min()};
        return {IntegerToken::floating, 0};
    }
    auto value = static_cast<std::int32_t>(v);
    return {IntegerToken::integer, negative ? -value : value};
}

int read_hex(const std::uint8_t* s, const std::uint8_t* e, std::int32_t& out) {
    const std::uint8_t* h = e - 1;
    long n = h - s;
    if (n == 1 && !is_digit(*s)) return type_id(Type::word);
    if (n < 2 || n > 8) return type_id(Type::integer);
    std::uint32_t v = 0;
    for (const std::uint8_t* p = s; p < h; ++p) {
        std::uint8_t b = *p;
        int d = is_digit(b) ? b - '0' : (b >= 'A' && b <= 'F') ? b - 'A' + 10 : -1;
        if (d < 0) return type_id(Type::integer);  // a sign or a "'"
        v = v * 16 + static_cast<std::uint32_t>(d);
    }
    out = static_cast<std::int32_t>(v);
    return 0;
}

bool read_float(const std::uint8_t* s, const std::uint8_t* e, double& out) {
    auto n = static_cast<std::size_t>(e - s);
    return float_syntax(chars_of(s), n) && text_to_float(chars_of(s), n, 0, out);
}

bool read_special_float(const std::uint8_t* s, const std::uint8_t* e, double& out) {
    const std::uint8_t* p = s;
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (e - p != 6 || p[0] != '1' || p[1] != '.' || p[2] != '#') return false;
    auto is = [&](const char* name) {
        for (int i = 0; i < 3; ++i)
            if ((p[3 + i] | 0x20) != name[i]) return false;
        return true;
    };
    if (is("inf")) {
        out = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        return true;
    }
    if (is("nan")) {
        out = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    return false;
}

bool read_percent(const std::uint8_t* s, const std::uint8_t* e, double& out) {
    auto n = static_cast<std::size_t>(e - s);
    return float_syntax(chars_of(s), n) && text_to_float(chars_of(s), n, -2, out);
}

bool read_pair(const std::uint8_t* s, const std::uint8_t* e, std::int32_t& x, std::int32_t& y) {
    if (std::memchr(s, '.', static_cast<std::size_t>(e - s))) return false;
    const std::uint8_t* mid = s + 1;
    while (mid < e && *mid != 'x' && *mid != 'X') ++mid;
    if (mid >= e) return false;
    // A side beyond 32 bits is an error rather than a silently changed value.
    IntegerToken left = read_integer(s, mid), right = read_integer(mid + 1, e);
    if (left.result != IntegerToken::integer || right.result != IntegerToken::integer) return false;
    x = left.value;
    y = right.value;
    return true;
}

int read_tuple(const std::uint8_t* s, const std::uint8_t* e, std::uint8_t out[12]) {
    int count = 0;
    const std::uint8_t* p = s;
    for (;;) {
        if (p == e || !is_digit(*p) || count == 12) return 0;
        int v = 0;
        for (; p < e && is_digit(*p); ++p)
            if ((v = v * 10 + (*p - '0')) > 255) return 0;
        out[count++] = static_cast<std::uint8_t>(v);
        if (p == e) break;
        if (*p++ != '.') return 0;
    }
    return count >= 3 ? count : 0;
}

namespace {

bool is_blank(std::uint8_t b) { return b == ' ' || b == '\t'; }

// One coordinate of a point: a float, or a special float with "#".
bool read_coordinate(const std::uint8_t* s, const std::uint8_t* e, float& out) {
    double v = 0;
    bool ok = std::memchr(s, '#', static_cast<std::size_t>(e - s)) ? read_special_float(s, e, v)
                                                                   : read_float(s, e, v);
    out = static_cast<float>(v);
    return ok;
}

}  // namespace

int read_point(const std::uint8_t* s, const std::uint8_t* e, Point& out) {
    out.count = 0;
    const std::uint8_t* p = s;
    for (;;) {
        while (p < e && is_blank(*p)) ++p;
        const std::uint8_t* q = p;
        while (q < e && *q != ',' && !is_blank(*q)) ++q;
        if (q == p) return type_id(Type::point2d);
        if (!read_coordinate(p, q, out.xyz[out.count++])) return type_id(Type::float_);
        p = q;
        while (p < e && is_blank(*p)) ++p;
        if (p == e) return out.count >= 2 ? 0 : type_id(Type::point2d);
        if (*p != ',' || out.count == 3) return type_id(out.count == 3 ? Type::point3d : Type::point2d);
        ++p;
    }
}

// ---------------------------------------------------------------------------
// Times
// ---------------------------------------------------------------------------

namespace {

// Digits with "'" separators into a 32-bit value; false on overflow or when
// there are none. `p` moves past them.
bool read_count(const std::uint8_t*& p, const std::uint8_t* e, std::int64_t& out) {
    out = 0;
    bool any = false;
    for (; p < e && (is_digit(*p) || (*p == '\'' && any)); ++p) {
        if (*p == '\'') continue;
        any = true;
        out = out * 10 + (*p - '0');
        if (out > 0x7FFFFFFF) return false;
    }
    return any;
}

// Seconds text: "," is a decimal point here too.
bool read_seconds(const std::uint8_t* s, const std::uint8_t* e, double& out) {
    std::string text(chars_of(s), static_cast<std::size_t>(e - s));
    for (char& c : text)
        if (c == ',') c = '.';
    return float_syntax(text.data(), text.size()) && text_to_float(text.data(), text.size(), 0, out) &&
           out >= 0;
}

}  // namespace

bool read_time(const std::uint8_t* s, const std::uint8_t* e, double& seconds) {
    const std::uint8_t* p = s;
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) negative = *p++ == '-';
    std::int64_t hours, minutes;
    if (!read_count(p, e, hours) || p == e || *p != ':') return false;
    const std::uint8_t* minutes_start = ++p;
    if (!read_count(p, e, minutes)) return false;
    double secs = 0;
    if (p < e) {
        if (*p == ':' && p + 1 == e) return false;
        if (std::memchr(s, 'e', static_cast<std::size_t>(e - s)) ||
            std::memchr(s, 'E', static_cast<std::size_t>(e - s)))
            return false;
        if (*p == '.' || *p == ',') {
            // minutes ":" seconds: the first number was the minutes
            if (!read_seconds(minutes_start, e, secs)) return false;
            minutes = hours;
            hours = 0;
        } else if (*p == ':') {
            if (!read_seconds(p + 1, e, secs)) return false;
        } else {
            return false;
        }
    }
    seconds = secs + static_cast<double>(minutes) * 60 + static_cast<double>(hours) * 3600;
    if (negative) seconds = -seconds;
    return true;
}

// ---------------------------------------------------------------------------
// Dates
// ---------------------------------------------------------------------------

namespace {

constexpr const char* month_names[12] = {"january", "february", "march",     "april",   "may",      "june",
                                          "july",    "august",   "september", "october", "november", "december"};

bool leap_year(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int month_length(int y, int m) {
    static constexpr int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap_year(y) ? 29 : lengths[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
long days_from_civil(long y, long m, long d) {
    y -= m <= 2;
    long era = (y >= 0 ? y : y - 399) / 400;
    long yoe = y - era * 400;
    long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_from_days(long z, int& y, int& m, int& d) {
    z += 719468;
    long era = (z >= 0 ? z : z - 146096) / 146097;
    long doe = z - era * 146097;
    long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

// A cursor over a date token.
struct DateText {
    const std::uint8_t* p;
    const std::uint8_t* e;

    bool at(char c) const { return p < e && *p == c; }
    bool at_digit() const { return p < e && is_digit(*p); }
    bool take(char c) {
        if (!at(c)) return false;
        ++p;
        return true;
    }
    // Between `min` and `max` digits; their count in `n`.
    bool digits(int min, int max, int& value, int* n = nullptr) {
        int count = 0;
        value = 0;
        while (count < max && at_digit()) {
            value = value * 10 + (*p++ - '0');
            ++count;
        }
        if (n) *n = count;
        return count >= min;
    }
    // Digits and at most one "." as seconds.
    bool seconds(double& out) {
        const std::uint8_t* s = p;
        while (at_digit()) ++p;
        if (p == s) return false;
        if (at('.')) {
            ++p;
            while (at_digit()) ++p;
        }
        return text_to_float(chars_of(s), static_cast<std::size_t>(p - s), 0, out);
    }
};

// "Z", or a zone "+" or "-" hours [":"] minutes; nothing is also fine.
bool read_zone(DateText& t, Date& out) {
    if (t.take('Z')) {
        out.has_zone = true;
        out.zone_minutes = 0;
        return true;
    }
    if (!t.at('+') && !t.at('-')) return true;
    bool negative = *t.p++ == '-';
    int hours, minutes = 0, n;
    if (!t.digits(1, 2, hours, &n)) return false;
    if (t.take(':')) {
        if (!t.digits(1, 2, minutes)) return false;
    } else if (t.at_digit()) {
        if (n != 2 || !t.digits(2, 2, minutes)) return false;
    }
    if (hours > 15 || minutes >= 60) return false;
    out.has_zone = true;
    out.zone_minutes = (negative ? -1 : 1) * (hours * 60 + minutes);
    return true;
}

// hours ":" minutes [":" seconds], then a zone.
bool read_clock(DateText& t, Date& out) {
    int hours, minutes;
    double secs = 0;
    if (!t.digits(1, 2, hours) || !t.take(':') || !t.digits(1, 2, minutes)) return false;
    if (t.take(':') && !t.seconds(secs)) return false;
    if (hours >= 24 || minutes >= 60 || secs >= 60.0) return false;
    out.has_time = true;
    out.seconds = hours * 3600.0 + minutes * 60.0 + secs;
    return read_zone(t, out);
}

// "20000101T120000Z": after the year's four digits.
bool read_basic_form(DateText& t, Date& out) {
    int hours, minutes;
    double secs = 0;
    if (!t.digits(2, 2, out.month) || !t.digits(2, 2, out.day) || !t.take('T')) return false;
    if (!t.digits(2, 2, hours) || !t.digits(2, 2, minutes)) return false;
    if (t.at_digit() && !t.seconds(secs)) return false;
    if (hours >= 24 || minutes >= 60 || secs >= 60.0) return false;
    out.has_time = true;
    out.seconds = hours * 3600.0 + minutes * 60.0 + secs;
    return read_zone(t, out);
}

// Sets the date from a day count since 1970-01-01.
void set_days(Date& out, long days) { civil_from_days(days, out.year, out.month, out.day); }

// "2000-W01-1": after "-W".
bool read_week_form(DateText& t, Date& out) {
    int week, weekday = 1;
    if (!t.digits(2, 2, week) || week < 1 || week > 53) return false;
    if (t.take('-') && (!t.digits(1, 1, weekday) || weekday < 1 || weekday > 7)) return false;
    // Week 1 is the week (from Monday) that holds 4 January.
    long jan4 = days_from_civil(out.year, 1, 4);
    long jan4_weekday = ((jan4 % 7) + 7 + 3) % 7 + 1;  // 1970-01-01 was a Thursday (4)
    set_days(out, jan4 - (jan4_weekday - 1) + (week - 1) * 7 + (weekday - 1));
    return !t.take('T') || read_clock(t, out);
}

// "2000-032": after "-".
bool read_ordinal_form(DateText& t, Date& out) {
    int day;
    if (!t.digits(3, 3, day) || day < 1 || day > (leap_year(out.year) ? 366 : 365)) return false;
    set_days(out, days_from_civil(out.year, 1, 1) + day - 1);
    return !t.take('T') || read_clock(t, out);
}

// A month: 1 or 2 digits, or 3 to 9 letters that begin a month's name.
bool read_month(DateText& t, int& month) {
    if (t.at_digit()) return t.digits(1, 2, month);
    const std::uint8_t* s = t.p;
    while (t.p < t.e && ((*t.p | 0x20) >= 'a' && (*t.p | 0x20) <= 'z')) ++t.p;
    long n = t.p - s;
    if (n < 3 || n > 9) return false;
    for (int m = 0; m < 12; ++m) {
        const char* name = month_names[m];
        if (static_cast<long>(std::strlen(name)) < n) continue;
        bool same = true;
        for (long i = 0; i < n && same; ++i) same = (s[i] | 0x20) == name[i];
        if (same) {
            month = m + 1;
            return true;
        }
    }
    return false;
}

// An optional "-" and up to four digits.
bool read_field(DateText& t, int& value, int& digit_count) {
    bool negative = t.take('-');
    if (!t.digits(1, 4, value, &digit_count)) return false;
    if (negative) value = -value;
    return true;
}

bool valid_date(const Date& d) {
    return d.month >= 1 && d.month <= 12 && d.year >= -9999 && d.year <= 9999 && d.day >= 1 &&
           d.day <= month_length(d.year, d.month);
}

}  // namespace

bool read_date(const std::uint8_t* s, const std::uint8_t* e, Date& out) {
    out = Date{0, 0, 0, false, 0.0, false, 0};
    DateText t{s, e};
    int first, first_digits;
    if (!read_field(t, first, first_digits)) return false;
    bool ok;
    if (t.at_digit()) {
        out.year = first;
        ok = first_digits == 4 && read_basic_form(t, out);
    } else if (first_digits == 4 && t.at('-') && t.p + 1 < e && t.p[1] == 'W') {
        t.p += 2;
        out.year = first;
        ok = read_week_form(t, out);
    } else if (t.at('-') && e - t.p >= 4 && is_digit(t.p[1]) && is_digit(t.p[2]) && is_digit(t.p[3]) &&
               (t.p + 4 == e || !is_digit(t.p[4]))) {
        ++t.p;
        out.year = first;
        ok = read_ordinal_form(t, out);
    } else {
        char separator = t.p < e ? static_cast<char>(*t.p) : '\0';
        int third, third_digits;
        ok = (separator == '-' || separator == '/') && t.take(separator) && read_month(t, out.month) &&
             t.take(separator) && read_field(t, third, third_digits);
        if (ok) {
            bool day_first = third < 0 || third > 31 || first < 100;
            out.day = day_first ? first : third;
            out.year = day_first ? third : first;
            int year_digits = day_first ? third_digits : first_digits;
            if (out.year >= 0 && out.year < 100 && year_digits < 3) out.year += out.year < 50 ? 2000 : 1900;
            if (t.take('/') || t.take('T')) ok = read_clock(t, out);
        }
    }
    return ok && t.p == e && valid_date(out);
}

// ---------------------------------------------------------------------------
// Money
// ---------------------------------------------------------------------------

bool read_money(const std::uint8_t* s, const std::uint8_t* e, MoneyText& out) {
    out = MoneyText{false, "", {}, {}};
    const std::uint8_t* p = s;
    if (p < e && (*p == '-' || *p == '+')) out.negative = *p++ == '-';
    const std::uint8_t* dollar = p;
    while (dollar < e && *dollar != '$') ++dollar;
    if (dollar == e || (dollar - p != 0 && dollar - p != 3)) return false;
    std::memcpy(out.currency, p, static_cast<std::size_t>(dollar - p));
    out.currency[dollar - p] = '\0';
    p = dollar + 1;
    if (p == e || *p == '.' || *p == ',' || *p == '\'') return false;
    // Leading zeros and separators go; one zero stays before "." or the end.
    while (p + 1 < e && (*p == '0' || *p == '\'') && p[1] != '.' && p[1] != ',') ++p;
    bool after_quote = false;
    for (; p < e && *p != '.' && *p != ','; ++p) {
        if (*p == '\'') {
            if (after_quote) return false;
            after_quote = true;
        } else if (is_digit(*p)) {
            out.integer_digits.push_back(static_cast<char>(*p));
            after_quote = false;
        } else {
            return false;
        }
    }
    if (after_quote || out.integer_digits.empty()) return false;
    if (p < e) {
        if (++p == e) return false;
        for (; p < e; ++p) {
            if (!is_digit(*p)) return false;
            out.fraction_digits.push_back(static_cast<char>(*p));
        }
    }
    return out.integer_digits.size() <= 18 && out.fraction_digits.size() <= 5;
}

// ---------------------------------------------------------------------------
// Conversion scanners
// ---------------------------------------------------------------------------

namespace {

std::uint32_t char_at(const void* chars, int width, int i) {
    switch (width) {
        case 1: return static_cast<const std::uint8_t*>(chars)[i];
        case 2: return static_cast<const std::uint16_t*>(chars)[i];
        default: return static_cast<const std::uint32_t*>(chars)[i];
    }
}

bool is_letter(std::uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::int32_t scan_integer(const void* chars, int count, int width, int& error) {
    error = 0;
    int i = 0;
    bool negative = false;
    if (count > 0 && (char_at(chars, width, 0) == '+' || char_at(chars, width, 0) == '-')) {
        negative = char_at(chars, width, 0) == '-';
        i = 1;
    }
    const std::int64_t limit = negative ? 0x80000000LL : 0x7FFFFFFFLL;
    std::int64_t v = 0;
    for (; i < count; ++i) {
        std::uint32_t c = char_at(chars, width, i);
        if (c == '\'') continue;
        if (c < '0' || c > '9') {
            error = -1;
            break;
        }
        v = v * 10 + (c - '0');
        if (v > limit) {
            error = -2;
            return 0;
        }
    }
    return static_cast<std::int32_t>(negative ? -v : v);
}

double scan_float(const void* chars, int count, int width, int& error) {
    error = -1;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    if (count < 0 || count > static_cast<int>(max_float_text)) return nan;
    char text[max_float_text + 1];
    for (int i = 0; i < count; ++i) {
        std::uint32_t c = char_at(chars, width, i);
        // A character beyond ASCII can be no part of a number (and must not
        // be cut down to a byte that looks like one).
        if (c > 127) return nan;
        text[i] = c == ',' ? '.' : static_cast<char>(c);
    }
    double value;
    auto n = static_cast<std::size_t>(count);
    if (!float_syntax(text, n) || !text_to_float(text, n, 0, value)) return nan;
    error = 0;
    return value;
}

int scan_money(const void* chars, int count, int width, MoneyText& out) {
    out = MoneyText{false, "", {}, {}};
    int i = 0;
    auto at = [&](int k) { return k < count ? char_at(chars, width, k) : 0u; };
    if (count < 1) return -1;
    if (at(0) == '-' || at(0) == '+') out.negative = at(i++) == '-';
    if (is_letter(at(i))) {
        if (count - i < 5 || !is_letter(at(i + 1)) || !is_letter(at(i + 2)) || at(i + 3) != '$') return -1;
        for (int k = 0; k < 3; ++k) out.currency[k] = static_cast<char>(at(i + k));
        out.currency[3] = '\0';
        i += 4;
    } else if (at(i) == '$') {
        ++i;
    }
    const int first = i;
    bool point = false;
    for (; i < count; ++i) {
        std::uint32_t c = at(i);
        bool first_or_last = i == first || i == count - 1;
        if (c == '\'') {
            if (first_or_last || point || at(i - 1) == '\'') return -1;
        } else if (c == '.') {
            if (first_or_last || point || at(i - 1) == '\'') return -1;
            point = true;
        } else if (c >= '0' && c <= '9') {
            (point ? out.fraction_digits : out.integer_digits).push_back(static_cast<char>(c));
        } else {
            return -1;
        }
    }
    return out.integer_digits.empty() ? -1 : 0;
}

// ---------------------------------------------------------------------------
// Checking loaders
// ---------------------------------------------------------------------------

namespace check {

void integer(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    IntegerToken t = read_integer(s, e);
    if (t.result == IntegerToken::invalid) throw_error(lx, s, e, type_id(Type::integer));
    double v;
    if (t.result == IntegerToken::floating && !read_float(s, e, v)) throw_error(lx, s, e, type_id(Type::float_));
    unavailable(lx, s, e, load, type_id(t.result == IntegerToken::floating ? Type::float_ : Type::integer));
}

void hex(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    std::int32_t v;
    if (int error = read_hex(s, e, v)) throw_error(lx, s, e, error);
    unavailable(lx, s, e, load, type_id(Type::integer));
}

void float_(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    double v;
    if (!read_float(s, e, v)) throw_error(lx, s, e, type_id(Type::float_));
    unavailable(lx, s, e, load, type_id(Type::float_));
}

void special_float(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    double v;
    if (!read_special_float(s, e, v)) throw_error(lx, s, e, type_id(Type::float_));
    unavailable(lx, s, e, load, type_id(Type::float_));
}

void percent(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    double v;
    if (!read_percent(s, e, v)) throw_error(lx, s, e, type_id(Type::float_));
    unavailable(lx, s, e, load, type_id(Type::percent));
}

void pair(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    std::int32_t x, y;
    if (!read_pair(s, e, x, y)) throw_error(lx, s, e, type_id(Type::pair));
    unavailable(lx, s, e, load, type_id(Type::pair));
}

void tuple(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    std::uint8_t bytes[12];
    if (!read_tuple(s, e, bytes)) throw_error(lx, s, e, type_id(Type::tuple));
    unavailable(lx, s, e, load, type_id(Type::tuple));
}

void point(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    Point p;
    if (int error = read_point(s, e, p)) throw_error(lx, s, e, error);
    unavailable(lx, s, e, load, type_id(p.count == 3 ? Type::point3d : Type::point2d));
}

void time(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    double v;
    if (!read_time(s, e, v)) throw_error(lx, s, e, type_id(Type::time));
    unavailable(lx, s, e, load, type_id(Type::time));
}

void date(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    Date d;
    if (!read_date(s, e, d)) throw_error(lx, s, e, type_id(Type::date));
    unavailable(lx, s, e, load, type_id(Type::date));
}

void money(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    MoneyText m;
    if (!read_money(s, e, m)) throw_error(lx, s, e, type_id(Type::money));
    unavailable(lx, s, e, load, type_id(Type::money));
}

}  // namespace check

}  // namespace kiv::lexer
