// string!: conversion, comparison, search, sort, form and mold, the
// modifying actions and the set operations, shared by the string family.
//
// Text values are read from their index to the tail. Functions that put
// text into a series first build it at the tail (forming values there when
// they are not text) and then rotate it into place, so that every kind of
// value takes one path and a source in the same buffer is read before
// anything moves. GC: forming a value runs its datatype's form, which
// allocates; buffers are re-read through their nodes after it.
#include "runtime/datatypes/string.h"

#include <cstring>
#include <limits>
#include <vector>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-search.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/fixed-words.h"
#include "runtime/fire.h"
#include "runtime/sorting.h"
#include "runtime/state.h"
#include "runtime/unicode.h"

namespace kiv::string {


namespace {

constexpr std::int64_t unlimited = std::numeric_limits<std::int64_t>::max();

Cell integer_cell(std::int64_t n) {
    return Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(n), 0};
}

Cell char_cell(std::uint32_t cp) {
    return Cell{static_cast<std::uint32_t>(Type::char_), 0, cp, 0};
}

std::int32_t integer_of(const Cell* value) { return static_cast<std::int32_t>(value->data2); }

double float_of(const Cell* value) {
    double d;
    const std::uint32_t words[2] = {value->data2, value->data3};
    std::memcpy(&d, words, sizeof d);
    return d;
}

bool is_block_like(Type t) { return t == Type::block || t == Type::paren || t == Type::hash; }

// Whether the value's text is taken as it is (not formed): the any-string
// datatypes and char!.
bool is_text(Type t) { return is_any_string(t) || t == Type::char_; }

std::uint32_t fold_upper(std::uint32_t cp) { return fold_point(cp); }

// A new empty string! in `out` with room for `count` code points of unit 1.
Cell* new_string(Cell* out, std::int64_t count) { return make_at_unit(out, count, 1); }

}  // namespace

// ---------------------------------------------------------------------------
// Molding helpers.

namespace {

// The character written after "^" for code points below 95; 0 for none.
// Code point 30 has "^" here but is written in hexadecimal before the
// table is consulted.
constexpr char caret_escape(std::uint32_t cp) {
    if (cp == 0) return '@';
    if (cp == 9) return '-';
    if (cp == 10) return '/';
    if (cp < 27) return static_cast<char>(0x40 + cp);
    switch (cp) {
        case 27: return '[';
        case 28: return '\\';
        case 29: return ']';
        case 30: return '^';
        case 31: return '_';
        case 34: return '"';
        case 94: return '^';
        default: return 0;
    }
}

void append_ascii(Cell* out, const char* text) { append_literal(out, text); }

}  // namespace

void append_escaped_char(Cell* out, std::uint32_t cp, bool all) {
    if (cp == 30 || (cp >= 0x80 && cp <= 0x9F) || (all && cp > 0x7F)) {
        append_ascii(out, "^(");
        append_ascii(out, int_to_hex(cp, true));
        append_ascii(out, ")");
        return;
    }
    if (cp < 95) {
        if (const char e = caret_escape(cp)) {
            const char text[3] = {'^', e, 0};
            append_ascii(out, text);
            return;
        }
    }
    if (cp == 127) {
        append_ascii(out, "^~");
        return;
    }
    append_char(buffer(out), cp);
}

void count_quotes_and_newlines(const std::uint8_t* first, const std::uint8_t* end,
                               std::uint32_t unit, int* quotes, int* line_feeds) {
    int q = 0;
    int n = 0;
    for (const std::uint8_t* p = first; p < end; p += unit) {
        const std::uint32_t cp = get_char(p, unit);
        q += cp == '"';
        n += cp == '\n';
    }
    *quotes = q;
    *line_feeds = n;
}

bool brace_closes_q(const std::uint8_t* p, const std::uint8_t* end, std::uint32_t unit) {
    std::int64_t depth = 0;
    for (; p < end; p += unit) {
        const std::uint32_t cp = get_char(p, unit);
        if (cp == '{') ++depth;
        if (cp == '}' && --depth == 0) return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Owners, forming and the text of values.

void form_value(Cell* value, Cell* out, std::int64_t part) {
    const std::int64_t before = buffer(out)->length();
    Cell copy = *value;
    auto form = registry::find<Action::form>(&copy);
    if (part < 0) {
        form(&copy, out, nullptr, std::numeric_limits<std::int32_t>::max());
        return;
    }
    const int budget = part > std::numeric_limits<std::int32_t>::max()
                           ? std::numeric_limits<std::int32_t>::max()
                           : static_cast<int>(part);
    form(&copy, out, &copy, budget);
    truncate_buffer(buffer(out), before + part);
}

namespace {

// Limits on the text a value adds: `elements` counts the elements of a
// block that are formed, `points` the code points kept; -1 means none.
struct Limits {
    std::int64_t elements = -1;
    std::int64_t points = -1;
};

// Forms the elements of a block-like value onto the tail, one after
// another with no separator.
void form_elements(Cell* block, Cell* out, Limits limits) {
    const std::int64_t before = buffer(out)->length();
    const NodeId node = block->data2;
    std::int64_t index = static_cast<std::int32_t>(block->data1);
    std::int64_t formed = 0;
    for (;; ++index, ++formed) {
        if (limits.elements >= 0 && formed >= limits.elements) break;
        // GC: forming may move the block; re-read it for every element.
        SeriesBuffer* b = memory::buffer_of(node);
        if (index < 0 || index >= static_cast<std::int64_t>(b->length())) break;
        Cell element = b->cells()[index];
        form_value(&element, out, -1);
        if (limits.points >= 0 && buffer(out)->length() - before >= limits.points) {
            truncate_buffer(buffer(out), before + limits.points);
            break;
        }
    }
}

// Puts "<", the tag's text and ">" at the tail, within `points` code points.
void put_tag(Cell* series, Cell* tag, std::int64_t points) {
    std::int64_t budget = points < 0 ? unlimited : points;
    if (budget > 0) {
        append_char(buffer(series), '<');
        --budget;
    }
    const std::int64_t before = buffer(series)->length();
    concatenate(series, tag, budget == unlimited ? -1 : budget, 0, Mode::append);
    budget -= buffer(series)->length() - before;
    if (budget > 0) append_char(buffer(series), '>');
}

// Adds the value's text once at the tail of the series; answers the code
// points added.
std::int64_t put_at_tail(Cell* series, Cell* value, Limits limits) {
    const std::int64_t before = buffer(series)->length();
    const Type t = value->type();
    if (t == Type::char_) {
        append_char(buffer(series), value->data2);
    } else if (t == Type::tag) {
        put_tag(series, value, limits.points);
    } else if (is_any_string(t)) {
        concatenate(series, value, limits.points, 0, Mode::append);
    } else if (is_block_like(t)) {
        form_elements(value, series, limits);
    } else {
        form_value(value, series, limits.points);
    }
    return static_cast<std::int64_t>(buffer(series)->length()) - before;
}

// Repeats the last `count` code points so that there are `dup` copies.
// When the copies do not fit (too large a size, or no memory for it) the
// one copy already added is dropped before the error goes on, so that the
// failing append, insert or change leaves the series as it was.
void repeat_added(Cell* series, std::int64_t count, std::int64_t dup) {
    if (dup < 2 || count <= 0) return;
    SeriesBuffer* b = buffer(series);
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) << shift_of(b->unit());
    // The node is kept apart: by the time the error reaches here the stack
    // has been unrolled, and the series' own cell may hold something else.
    const NodeId node = series->data2;
    try {
        repeat_tail(b, bytes, dup);
    } catch (const KivError&) {
        // A failed growth leaves the node on the old buffer.
        memory::buffer_of(node)->tail -= static_cast<std::uint32_t>(bytes);
        throw;
    }
}

// Moves the `count` code points at the tail to `position`, the text from
// there moving up.
void rotate_into_place(Cell* series, std::int64_t position, std::int64_t count) {
    SeriesBuffer* b = buffer(series);
    const std::uint32_t shift = shift_of(b->unit());
    const std::int64_t length = b->length();
    std::uint8_t* at = b->head() + (position << shift);
    swap_regions(at, static_cast<std::size_t>((length - count - position) << shift),
                 static_cast<std::size_t>(count << shift));
}

// The index clamped to the tail.
std::int64_t clamped_index(Cell* series) {
    ks_length(series);
    return static_cast<std::int32_t>(series->data1);
}

// A number joined to text (keys, labels): its digits without the general
// forming path. Out of line, so that text onto text stays lean.
[[gnu::noinline]] void append_digits(Cell* series, const Cell* value) {
    const char* digits = integer::form_signed(integer::get(value));
    append_bytes(series, digits, static_cast<std::int64_t>(std::strlen(digits)));
}

// Text or a char! onto text, once and with no owner to hear of it: the
// common case, which goes straight to the copy. Answers false, touching
// nothing, when the append needs the general path.
[[gnu::always_inline]] inline bool append_plain(Cell* series, Cell* value, std::int32_t part,
                                               std::int32_t dup, bool report) {
    const Type t = value->type();
    if (dup > 1) return false;
    SeriesBuffer* d = buffer(series);
    if (report && (d->flags & memory::series_flag::owned)) return false;
    if (is_any_string(t) && t != Type::tag) {
        if (!append_short(d, value, part)) append_string(series, value, part);
    } else if (t == Type::char_) {
        append_char(d, value->data2);
    } else if (t == Type::integer && part < 0) {
        append_digits(series, value);
    } else {
        return false;
    }
    series->data1 = 0;
    return true;
}

[[gnu::noinline]] Cell* append_text(Cell* series, Cell* value, std::int32_t part, bool only,
                                    std::int32_t dup, bool report) {
    if (append_plain(series, value, part, dup, report)) return series;
    const std::int32_t start = ks_abs_length(series);
    const bool owned = report && series::check_owner(series, series::Change::append, value, start, 0);
    Limits limits;
    if (is_block_like(value->type())) {
        (only ? limits.points : limits.elements) = part;
    } else if (!is_text(value->type())) {
        if (only) limits.points = part;
    } else if (value->type() != Type::char_) {
        limits.points = part;
    }
    const std::int64_t old_length = ks_abs_length(series);
    const std::int64_t added = put_at_tail(series, value, limits);
    if (added == 0 && !is_text(value->type())) return series;
    repeat_added(series, added, dup);
    series::report_owner(owned, series, series::Change::append, static_cast<std::int32_t>(old_length),
                         ks_abs_length(series) - static_cast<std::int32_t>(old_length));
    series->data1 = 0;
    return series;
}

[[gnu::noinline]] Cell* insert_text(Cell* series, Cell* value, std::int32_t part, bool only,
                                    std::int32_t dup) {
    const bool owned = series::check_owner(series, series::Change::insert, value,
                                           static_cast<std::int32_t>(clamped_index(series)), 0);
    // GC: the owner's handler may have changed the series: read it afresh.
    const std::int64_t index = clamped_index(series);
    const std::int64_t length = ks_abs_length(series);
    if (index >= length) {
        append_text(series, value, part, only, dup, false);
        series->data1 = static_cast<std::uint32_t>(ks_abs_length(series));
    } else {
        Limits limits;
        if (!is_text(value->type())) {
            limits.points = part;
        } else if (value->type() != Type::char_ && part >= 1) {
            limits.points = part;
        }
        const std::int64_t added = put_at_tail(series, value, limits);
        repeat_added(series, added, dup);
        const std::int64_t total = ks_abs_length(series) - length;
        rotate_into_place(series, index, total);
        series->data1 = static_cast<std::uint32_t>(index + total);
    }
    series::report_owner(owned, series, series::Change::insert, static_cast<std::int32_t>(index),
                         ks_abs_length(series) - static_cast<std::int32_t>(length));
    return series;
}

}  // namespace

Cell* append_value(Cell* series, Cell* value, std::int32_t part, bool only, std::int32_t dup) {
    return append_text(series, value, part, only, dup, false);
}

// ---------------------------------------------------------------------------
// Searching.

namespace {

// What `find` looks for.
struct Needle {
    enum Kind { point, bitset, number, text } kind = point;
    std::uint32_t cp = 0;                // point
    const Cell* set = nullptr;           // bitset
    bool is_float = false;               // number
    std::int64_t integer = 0;
    double real = 0;
    const std::uint8_t* first = nullptr;  // text
    std::uint32_t unit = 1;
    std::int64_t length = 1;             // code points a match covers
};

// Where a search runs: positions [low, high) of the buffer, visited from
// `start` by `step` (negative backwards).
struct Scan {
    std::int64_t low, high, start, step;
    bool backward;
};

struct Found {
    std::int64_t answer = -1;  // the position the result stands at
    std::int64_t start = -1;   // the start of the matched text
    std::int64_t length = 0;
};

// A vector! element as a number: integers sign-extended, char! elements
// zero-extended, floats widened.
bool vector_floats(const Cell* series) {
    return series->data3 == static_cast<std::uint32_t>(Type::float_) ||
           series->data3 == static_cast<std::uint32_t>(Type::percent);
}

bool number_matches(const Cell* series, const std::uint8_t* p, std::uint32_t unit,
                    const Needle& n) {
    if (series->is(Type::vector) && vector_floats(series)) {
        const double e = vector::get_real(p, unit);
        return e == (n.is_float ? n.real : static_cast<double>(n.integer));
    }
    const std::int64_t e = series->is(Type::vector)
                               ? vector::get_integer(p, unit, static_cast<Type>(series->data3))
                               : get_char(p, unit);
    return n.is_float ? static_cast<double>(e) == n.real : e == n.integer;
}

bool in_bitset(std::uint32_t cp, const Cell* set) {
    SeriesBuffer* bits = memory::buffer_of(set->data2);
    if (std::uint64_t{cp} >= std::uint64_t{bits->used_bytes()} * 8)
        return (bits->flags & memory::series_flag::complement) != 0;
    return (bits->head()[cp >> 3] & (0x80 >> (cp & 7))) != 0;
}

// Whether the needle matches with its text starting at `at`.
bool matches_at(const Cell* series, const std::uint8_t* head, std::uint32_t unit,
                std::int64_t at, const Needle& n, bool fold) {
    const std::uint8_t* p = head + at * unit;
    switch (n.kind) {
        case Needle::point: {
            std::uint32_t c = get_char(p, unit);
            if (fold) c = fold_upper(c);
            return c == n.cp;
        }
        case Needle::bitset: return in_bitset(get_char(p, unit), n.set);
        case Needle::number: return number_matches(series, p, unit, n);
        case Needle::text:
            for (std::int64_t i = 0; i < n.length; ++i) {
                std::uint32_t a = get_char(p + i * unit, unit);
                std::uint32_t b = get_char(n.first + i * n.unit, n.unit);
                if (fold) {
                    a = fold_upper(a);
                    b = fold_upper(b);
                }
                if (a != b) return false;
            }
            return true;
    }
    return false;
}

// Walks the scan; answers the match nearest the start.
Found search(const Cell* series, const Scan& s, const Needle& n, bool fold, bool tail, bool match) {
    SeriesBuffer* b = buffer(series);
    const std::uint32_t unit = b->unit();
    const std::uint8_t* head = b->head();
    const std::int64_t m = n.kind == Needle::text ? n.length : 1;
    if (m == 0) {
        // An empty text matches where the search starts, reading nothing.
        if (s.start < s.low || s.start >= s.high) return Found{};
        return Found{s.start, s.start, 0};
    }
    const bool plain = !s.backward && s.step == 1 && !match && s.start == s.low &&
                       unit <= 4 && !series->is(Type::vector);
    if (plain && (n.kind == Needle::text || n.kind == Needle::point)) {
        const std::int64_t first =
            n.kind == Needle::text
                ? find_forward(head, unit, s.low, s.high, TextNeedle{n.first, n.unit, m}, fold)
                : find_char_forward(head, unit, s.low, s.high, n.cp, fold);
        if (first < 0) return Found{};
        return Found{tail ? first + m : first, first, m};
    }
    for (std::int64_t p = s.start; p >= s.low && p < s.high; p += s.step) {
        // A candidate starts at a forward position and ends at a backward
        // one; once one does not fit, none further along does.
        const std::int64_t first = s.backward ? p - m + 1 : p;
        if (first < s.low || first + m > s.high) break;
        if (matches_at(series, head, unit, first, n, fold)) {
            Found f;
            f.start = first;
            f.length = m;
            f.answer = tail ? first + m : first;
            return f;
        }
        if (match) break;
    }
    return Found{};
}

// Makes the needle for a value; `holder` keeps a formed text alive.
Needle make_needle(Cell* series, Cell* value, bool fold, Cell* holder) {
    Needle n;
    const Type t = value->type();
    if (t == Type::char_) {
        n.cp = fold ? fold_upper(value->data2) : value->data2;
        return n;
    }
    if (t == Type::bitset) {
        n.kind = Needle::bitset;
        n.set = value;
        return n;
    }
    if ((t == Type::integer || t == Type::float_) &&
        (series->is(Type::vector) || series->is(Type::binary))) {
        n.kind = Needle::number;
        n.is_float = t == Type::float_;
        n.integer = integer_of(value);
        n.real = n.is_float ? float_of(value) : 0;
        return n;
    }
    if (t == Type::binary && !series->is(Type::binary)) fire(ErrorId::script_invalid_arg, value);
    Cell* text = value;
    if (!(is_any_string(t) && t != Type::tag) && t != Type::binary) {
        // Words search their spelling, and every other value its formed text.
        new_string(holder, 0);
        form_value(value, holder, -1);
        text = holder;
    }
    n.kind = Needle::text;
    n.length = ks_length(text);
    n.first = ks_head(text);
    n.unit = buffer(text)->unit();
    return n;
}

struct FindArgs {
    Cell* part;
    bool case_, same, any;
    Cell* with;
    Cell* skip;
    bool last, reverse, tail, match;
};

// The common core of find and select. Answers the found match, or a
// negative answer for none.
Found find_in(Cell* series, Cell* value, const FindArgs& a) {
    const std::int64_t total = ks_abs_length(series);
    if (total == 0) return Found{};
    const std::int64_t index = static_cast<std::int32_t>(series->data1);
    if (index >= total && !a.reverse) return Found{};
    if (a.any || a.with) fire(ErrorId::internal_not_done);
    std::int64_t step = 1;
    if (a.skip) {
        step = integer_of(a.skip);
        if (step < 1) fire(ErrorId::script_out_of_range, a.skip);
    }
    const std::int64_t here = index > total ? total : index;
    const std::int64_t left = a.reverse ? here : total - here;
    std::int64_t length = left;
    if (a.part) {
        length = series::part_length(series, a.part);
        if (length <= 0) return Found{};
        if (length > left) length = left;
    }
    Scan s{};
    if (a.reverse) {
        s = Scan{here - length, here, here - 1, -step, true};
        if (s.start < s.low || a.match) return Found{};
    } else if (a.last) {
        s = Scan{here, here + length, here + length - 1, -step, true};
    } else {
        s = Scan{here, here + length, here, step, false};
    }
    const bool fold = is_any_string(series->type()) && !a.case_ && !a.same;
    Cell holder{static_cast<std::uint32_t>(Type::none), 0, 0, 0};
    const Needle n = make_needle(series, value, fold, &holder);
    return search(series, s, n, fold, a.tail, a.match);
}

// The element at a position as a value: a char! for the string family, an
// integer! for binary!, a number of the element type for vector!.
Cell element_at(const Cell* series, std::int64_t position) {
    SeriesBuffer* b = buffer(series);
    const std::uint32_t unit = b->unit();
    const std::uint8_t* p = b->head() + position * unit;
    if (series->is(Type::binary)) return integer_cell(*p);
    if (series->is(Type::vector)) {
        if (vector_floats(series)) {
            const double d = vector::get_real(p, unit);
            std::uint32_t words[2];
            std::memcpy(words, &d, 8);
            return Cell{series->data3, 0, words[0], words[1]};
        }
        const std::int64_t n = vector::get_integer(p, unit, static_cast<Type>(series->data3));
        return Cell{series->data3, 0, static_cast<std::uint32_t>(n), 0};
    }
    return char_cell(get_char(p, unit));
}

}  // namespace

// ---------------------------------------------------------------------------
// Sorting.

namespace {

enum class Fold { none, upper, ascii_lower };

struct SortContext {
    std::uint32_t unit;
    std::int64_t record;   // units per record
    std::int64_t offset;   // units into a record where the comparison starts
    std::int64_t compared; // units compared per record
    Fold fold;
    bool floats;           // a vector! of floats
    bool signed_units;     // a vector! of integer! elements
    int direction;         // -1 under /reverse
    Cell* function;        // a function! comparator, or null
    NodeId node;           // the series' node
    // The buffer as the sort found it; a comparator that changes the series
    // is caught by comparing against this after each call.
    SeriesBuffer* buffer;
    std::uint32_t first, tail, flags;
};

std::uint32_t fold_for_sort(std::uint32_t c, Fold fold) {
    if (fold == Fold::upper) return fold_upper(c);
    if (fold == Fold::ascii_lower && c >= 'A' && c <= 'Z') return c + 32;
    return c;
}

int compare_units(const std::uint8_t* a, const std::uint8_t* b, const SortContext& c) {
    for (std::int64_t i = 0; i < c.compared; ++i, a += c.unit, b += c.unit) {
        if (c.floats) {
            const double x = vector::get_real(a, c.unit);
            const double y = vector::get_real(b, c.unit);
            // An unordered pair counts as equal.
            if (x < y) return -1;
            if (x > y) return 1;
            continue;
        }
        if (c.signed_units) {
            const std::int64_t x = vector::get_integer(a, c.unit, Type::integer);
            const std::int64_t y = vector::get_integer(b, c.unit, Type::integer);
            if (x != y) return x < y ? -1 : 1;
            continue;
        }
        const std::uint32_t x = fold_for_sort(get_char(a, c.unit), c.fold);
        const std::uint32_t y = fold_for_sort(get_char(b, c.unit), c.fold);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

// A record handed to a function comparator: its first code point as a
// char!, or with /all and /skip the whole record as a string!.
void record_value(const std::uint8_t* record, const SortContext& c, bool whole, Cell* out) {
    if (!whole) {
        *out = char_cell(get_char(record, c.unit));
        return;
    }
    make_at_unit(out, c.record, c.unit);
    SeriesBuffer* b = buffer(out);
    std::memcpy(b->head(), record, c.record * c.unit);
    b->tail = b->offset + static_cast<std::uint32_t>(c.record * c.unit);
}

// Whether a comparator's answer puts its first argument first: true, a
// negative number and any other value do; false, none and a positive number
// put it second; zero is a tie (0).
int first_goes_first(const Cell* r) {
    switch (r->type()) {
        case Type::logic: return logic::get(r) ? 1 : -1;
        case Type::none: return -1;
        case Type::integer: {
            const std::int32_t n = integer_of(r);
            return n < 0 ? 1 : n > 0 ? -1 : 0;
        }
        case Type::float_: {
            const double d = float_of(r);
            return d < 0 ? 1 : d > 0 ? -1 : 0;
        }
        default: return 1;
    }
}

// The sorters ask whether a comes after b. The function is asked about
// (b, a) (under /reverse about (a, b)), so that a strict comparator answers
// "no" for equal records and the stable sort keeps their order.
int call_function(const std::uint8_t* a, const std::uint8_t* b, SortContext& c) {
    if (!block::call_comparator_hook) fire(ErrorId::internal_not_done);
    // Once the function has thrown (break, return, throw...), it is not
    // called again: the rest of the sort sees ties.
    if (state.thrown_code) return 0;
    // GC: the argument cells live on this frame, where the stack scan sees
    // the strings they may hold.
    Cell x;
    Cell y;
    Cell result;
    const bool whole = c.compared > 1;
    record_value(c.direction < 0 ? a : b, c, whole, &x);
    record_value(c.direction < 0 ? b : a, c, whole, &y);
    block::call_comparator_hook(c.function, &x, &y, &result);
    // The comparator may have changed the series under the sort; writing on
    // would then scribble over a buffer that is no longer the series'.
    SeriesBuffer* now = memory::buffer_of(c.node);
    if (now != c.buffer || now->offset != c.first || now->tail != c.tail ||
        now->unit() != c.unit)
        fire(ErrorId::script_protected_);
    return first_goes_first(&result);
}

int compare_records(const void* a, const void* b, void* context, std::uint32_t) {
    SortContext& c = *static_cast<SortContext*>(context);
    auto* pa = static_cast<const std::uint8_t*>(a);
    auto* pb = static_cast<const std::uint8_t*>(b);
    if (c.function) return call_function(pa, pb, c);
    return compare_units(pa + c.offset * c.unit, pb + c.offset * c.unit, c) * c.direction;
}

// The stretch of the series to sort, from its index; 0 when nothing is
// sorted. A negative /part moves the index back first.
std::int64_t sort_length(Cell* series, Cell* part) {
    const std::int64_t length = ks_length(series);
    if (!part) return length;
    std::int64_t n = series::part_length(series, part);
    if (n >= 0) return n < length ? n : length;
    const std::int64_t index = static_cast<std::int32_t>(series->data1);
    if (index + n < 0) {
        series->data1 = 0;
        return 0;
    }
    series->data1 = static_cast<std::uint32_t>(index + n);
    return -n;
}

void setup_comparison(SortContext& c, Cell* series, Cell* skip, Cell* comparator, bool all,
                      bool case_) {
    if (all && !skip) fire(ErrorId::script_bad_refines);
    c.offset = 0;
    c.compared = all ? c.record : 1;
    if (comparator) {
        if (comparator->is(Type::integer)) {
            if (!skip || all) fire(ErrorId::script_bad_refines);
            const std::int64_t n = integer_of(comparator);
            if (n < 1 || n > c.record) fire(ErrorId::script_out_of_range, comparator);
            c.offset = n - 1;
        } else if (comparator->is(Type::function)) {
            c.function = comparator;
        } else {
            series::fire_refine_arg(words::Ref::compare, comparator);
        }
    }
    const bool is_vector = series->is(Type::vector);
    c.floats = is_vector && vector_floats(series);
    // char! elements are code points and sort as the string units do.
    c.signed_units = is_vector && series->data3 == static_cast<std::uint32_t>(Type::integer);
    if (case_ || is_vector) {
        c.fold = Fold::none;
    } else {
        // binary! keeps byte order with only ASCII letters made lower case;
        // every text unit folds to upper case, so the order never depends
        // on the unit.
        c.fold = series->is(Type::binary) ? Fold::ascii_lower : Fold::upper;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Trimming.

namespace {

// Spaces beyond ASCII that trimming treats as whitespace.
bool is_wide_space(std::uint32_t c) {
    return c == 0x85 || c == 0xA0 || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}
// Whitespace at the ends and between words: every control and the space
// (but not NUL), and the wide spaces.
bool is_space_a(std::uint32_t c) { return (c >= 1 && c <= 32) || is_wide_space(c); }
// Whitespace within a line: space, tab and the wide spaces.
bool is_space_b(std::uint32_t c) { return c == ' ' || c == '\t' || is_wide_space(c); }

// In-place rewriting of a stretch of one buffer: units are read at `read`
// and written at `write`, which never passes it.
struct Rewrite {
    SeriesBuffer* b;
    std::uint32_t unit;
    std::int64_t write;
    std::uint32_t at(std::int64_t i) const { return get_char(b->head() + i * unit, unit); }
    void put(std::uint32_t c) {
        unicode::store_unit(b->head() + write++ * unit, static_cast<int>(unit), c);
    }
    void finish() { b->tail = b->offset + static_cast<std::uint32_t>(write * unit); }
};

void trim_set(Cell* series, Cell* with) {
    std::vector<std::uint32_t> set;
    if (!with) {
        set = {9, 10, 13, 32};
    } else if (with->is(Type::char_) || with->is(Type::integer)) {
        set.push_back(with->data2);
    } else if (!is_any_string(with->type()) && !with->is(Type::binary)) {
        fire(ErrorId::script_invalid_arg, with);
    } else {
        // Text or the bytes of a binary! (unit 1), from its index.
        const std::uint32_t u = buffer(with)->unit();
        const std::uint8_t* end = ks_tail(with);
        for (const std::uint8_t* p = ks_head(with); p < end; p += u) set.push_back(get_char(p, u));
    }
    if (set.empty()) return;
    SeriesBuffer* b = buffer(series);
    Rewrite r{b, b->unit(), static_cast<std::int32_t>(series->data1)};
    const std::int64_t length = b->length();
    for (std::int64_t i = r.write; i < length; ++i) {
        const std::uint32_t c = r.at(i);
        bool drop = false;
        for (std::uint32_t s : set) drop = drop || s == c;
        if (!drop) r.put(c);
    }
    r.finish();
}

void trim_lines(Cell* series) {
    SeriesBuffer* b = buffer(series);
    Rewrite r{b, b->unit(), static_cast<std::int32_t>(series->data1)};
    const std::int64_t length = b->length();
    bool started = false;
    bool space = false;
    for (std::int64_t i = r.write; i < length; ++i) {
        const std::uint32_t c = r.at(i);
        if (is_space_a(c)) {
            space = started;
            continue;
        }
        if (space) r.put(' ');
        space = false;
        started = true;
        r.put(c);
    }
    r.finish();
}

// Copies a line's text, dropping whitespace at its start and a run of
// whitespace right before its line feed.
void rewrite_lines(Rewrite& r, std::int64_t i, std::int64_t end) {
    bool line_start = false;
    while (i < end) {
        const std::uint32_t c = r.at(i);
        if (c == '\n') {
            r.put(c);
            line_start = true;
            ++i;
        } else if (!is_space_b(c)) {
            r.put(c);
            line_start = false;
            ++i;
        } else if (line_start) {
            ++i;
        } else {
            std::int64_t j = i;
            while (j < end && is_space_b(r.at(j))) ++j;
            if (j == end || r.at(j) != '\n')
                for (; i < j; ++i) r.put(r.at(i));
            i = j;
        }
    }
}

void trim_ends(Cell* series, bool head, bool tail) {
    SeriesBuffer* b = buffer(series);
    Rewrite r{b, b->unit(), static_cast<std::int32_t>(series->data1)};
    std::int64_t first = r.write;
    std::int64_t end = b->length();
    if (!(tail && !head))
        while (first < end && is_space_a(r.at(first))) ++first;
    bool dropped_line_feed = false;
    if (!(head && !tail)) {
        while (end > first && is_space_a(r.at(end - 1))) {
            dropped_line_feed = dropped_line_feed || r.at(end - 1) == '\n';
            --end;
        }
    }
    if (head || tail) {
        for (std::int64_t i = first; i < end; ++i) r.put(r.at(i));
    } else {
        rewrite_lines(r, first, end);
    }
    // A dropped final line feed comes back as one; there is room for it.
    if (dropped_line_feed && !tail) r.put('\n');
    r.finish();
}

}  // namespace

// ---------------------------------------------------------------------------
// Set operations.

namespace {

// Adds the records of `from` that pass the test to `result`, skipping
// those whose first code point already starts a record there.
void gather_records(Cell* from, Cell* other, bool want_present, Cell* result, std::int64_t size,
                    bool case_sensitive) {
    const std::int64_t length = ks_abs_length(from);
    for (std::int64_t at = static_cast<std::int32_t>(from->data1); at < length; at += size) {
        const std::uint32_t cp = ks_abs_at(from, static_cast<std::int32_t>(at));
        if (other && find_char_skip_q(other, cp, size, case_sensitive) != want_present) continue;
        if (find_char_skip_q(result, cp, size, case_sensitive)) continue;
        const std::int64_t end = at + size < length ? at + size : length;
        // GC: appending may collect; the source is re-read for every unit.
        for (std::int64_t i = at; i < end; ++i)
            append_char(buffer(result), ks_abs_at(from, static_cast<std::int32_t>(i)));
    }
}

}  // namespace

Cell* set_operation(Cell* first, Cell* second, bool case_sensitive, Cell* skip, SetOp op) {
    std::int64_t size = 1;
    if (skip) {
        size = integer_of(skip);
        if (size < 1) series::fire_refine_arg(words::Ref::skip, skip);
    }
    ks_length(first);
    if (second) ks_length(second);
    Cell result;
    new_string(&result, 0);
    switch (op) {
        case SetOp::unique: gather_records(first, nullptr, true, &result, size, case_sensitive); break;
        case SetOp::union_:
            gather_records(first, nullptr, true, &result, size, case_sensitive);
            gather_records(second, nullptr, true, &result, size, case_sensitive);
            break;
        case SetOp::intersect:
            gather_records(first, second, true, &result, size, case_sensitive);
            break;
        case SetOp::exclude: gather_records(first, second, false, &result, size, case_sensitive); break;
        case SetOp::difference:
            gather_records(first, second, false, &result, size, case_sensitive);
            gather_records(second, first, false, &result, size, case_sensitive);
            break;
    }
    result.set_type(first->type());
    *first = result;
    return first;
}

// ---------------------------------------------------------------------------
// Actions.

namespace {

Cell* to(Cell* proto, Cell* spec, Type type);

Cell* make(Cell* proto, Cell* spec, Type type) {
    if (spec->is(Type::integer) || spec->is(Type::float_)) {
        std::int64_t n = integer_of(spec);
        if (spec->is(Type::float_)) {
            const double d = float_of(spec);
            if (!(d > -2147483649.0 && d < 2147483648.0)) fire(ErrorId::script_out_of_range, spec);
            n = static_cast<std::int64_t>(d);
        }
        if (n < 0) fire(ErrorId::script_out_of_range, spec);
        proto->header = static_cast<std::uint32_t>(Type::unset);
        const NodeId node = memory::alloc_bytes(n);
        *proto = Cell{static_cast<std::uint32_t>(type), 0, node, 0};
        return proto;
    }
    if (type == Type::binary) {
        if (spec->is(Type::money)) {
            Cell binary;
            registry::make_datatype(&binary, Type::binary);
            fire(ErrorId::script_bad_make_arg, &binary, spec);
        }
        auto convert = registry::lookup<Action::to>(Type::binary);
        if (!convert || convert == to) registry::fire_unsupported(Action::to, spec);
        return convert(proto, spec, type);
    }
    return to(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, Type type) {
    // GC: the new value is built on this frame and copied out last, since
    // the spec may live in the prototype's neighbourhood.
    Cell result;
    const Type from = spec->type();
    if (is_any_string(from)) {
        make_at_unit(&result, ks_length(spec), buffer(spec)->unit());
        concatenate(&result, spec, -1, 0, Mode::append);
    } else if (from == Type::binary) {
        decode_utf8(ks_head(spec), ks_length(spec), &result);
    } else if (from == Type::none) {
        registry::fire_bad_to(Type::string, spec);
    } else if (is_block_like(from)) {
        new_string(&result, 16);
        append_value(&result, spec, -1, false, 1);
    } else if (from == Type::refinement && type != Type::string) {
        make_at(&result, 16);
        Cell copy = *spec;
        registry::find<Action::mold>(&copy)(&copy, &result, false, false, false, nullptr, 0, 0);
    } else {
        make_at(&result, 16);
        form_value(spec, &result, -1);
    }
    result.set_type(type);
    *proto = result;
    return proto;
}

int form(Cell* value, Cell* out, Cell* part_arg, int part) {
    const std::int64_t length = ks_length(value);
    concatenate(out, value, part_arg ? (part < 0 ? 0 : part) : -1, 0, Mode::append);
    return static_cast<int>(part - length);
}

void mold_braced(Cell* out, const std::uint8_t* p, const std::uint8_t* end, std::uint32_t unit,
                 bool all) {
    std::int64_t depth = 0;
    bool balanced = true;
    for (; p < end; p += unit) {
        const std::uint32_t c = get_char(p, unit);
        if (c == '{') {
            if (balanced && !brace_closes_q(p, end, unit)) balanced = false;
            if (balanced) ++depth;
            append_ascii(out, balanced ? "{" : "^{");
        } else if (c == '}') {
            append_ascii(out, depth > 0 ? "}" : "^}");
            if (depth > 0) --depth;
        } else if (c == '"') {
            append_ascii(out, "\"");
        } else {
            append_escaped_char(out, c, all);
        }
    }
}

int mold(Cell* value, Cell* out, bool, bool all, bool, Cell* part_arg, int part, int) {
    const std::int64_t rest = ks_length(value);
    std::int64_t range = rest;
    if (part_arg && part != 0) range = part < 0 ? 0 : (part < rest ? part : rest);
    // GC: `value` may be the output itself; read positions only after any
    // growth, through fresh pointers for each piece.
    int quotes;
    int line_feeds;
    {
        const std::uint8_t* p = ks_head(value);
        count_quotes_and_newlines(p, p + (range << shift_of(buffer(value)->unit())),
                                  buffer(value)->unit(), &quotes, &line_feeds);
    }
    const bool braces = line_feeds >= 3 || quotes > 0 || rest >= 50;
    append_ascii(out, braces ? "{" : "\"");
    // The text is copied first when it lives in the output's own buffer,
    // which grows as it is written.
    Cell text = *value;
    if (value->data2 == out->data2) {
        make_at_unit(&text, range, buffer(value)->unit());
        concatenate(&text, value, range, 0, Mode::append);
    }
    const std::uint32_t unit = buffer(&text)->unit();
    const std::uint8_t* p = ks_head(&text);
    const std::uint8_t* end = p + (range << shift_of(unit));
    if (braces) {
        mold_braced(out, p, end, unit, all);
    } else {
        for (; p < end; p += unit) append_escaped_char(out, get_char(p, unit), all);
    }
    append_ascii(out, braces ? "}" : "\"");
    return static_cast<int>(part - range - 2);
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (value1->type() != value2->type()) {
        if (!is_any_string(value2->type())) return not_comparable;
        if (op != CompareOp::equal && op != CompareOp::not_equal) return not_comparable;
    }
    if (op == CompareOp::strict_word) op = CompareOp::strict_equal;
    if (op == CompareOp::equal_word) op = CompareOp::equal;
    return compare_strings(value1, value2, op, false);
}

// find with no refinement but /case and /tail, of text or a char! in a
// text: straight to the forward search. Answers false, touching nothing,
// when the call needs the general path.
bool find_plain(Cell* series, Cell* value, bool fold, bool tail) {
    const Type t = value->type();
    const bool is_char = t == Type::char_;
    if (!is_char && (!is_any_string(t) || t == Type::tag)) return false;
    SeriesBuffer* b = buffer(series);
    const std::uint32_t unit = b->unit();
    const std::int64_t total = b->used_bytes() >> shift_of(unit);
    const std::int64_t index = static_cast<std::int32_t>(series->data1);
    std::int64_t m = 1;
    std::int64_t first = -1;
    if (index < total) {
        if (is_char) {
            const std::uint32_t cp = fold ? fold_upper(value->data2) : value->data2;
            first = find_char_forward(b->head(), unit, index, total, cp, fold);
        } else {
            SeriesBuffer* nb = buffer(value);
            const std::uint32_t nunit = nb->unit();
            const std::int64_t from = static_cast<std::int32_t>(value->data1);
            m = (nb->used_bytes() >> shift_of(nunit)) - from;
            if (m <= 0) {
                // An empty text matches where the search starts.
                m = 0;
                first = index;
            } else if (fold && unit == 1 && nunit == 1) {
                first = find_folded_byte_text(b->head(), index, total, nb->head() + from, m);
            } else {
                const TextNeedle n{nb->head() + (from << shift_of(nunit)), nunit, m};
                first = find_forward(b->head(), unit, index, total, n, fold);
            }
        }
    }
    if (first < 0) {
        none::make_at(series);
    } else {
        series->data1 = static_cast<std::uint32_t>(tail ? first + m : first);
    }
    return true;
}

[[gnu::noinline]] Cell* find_general(Cell* series, Cell* value, Cell* part, bool case_, bool same,
                                     bool any, Cell* with, Cell* skip, bool last, bool reverse,
                                     bool tail, bool match) {
    const Found f = find_in(series, value,
                            FindArgs{part, case_, same, any, with, skip, last, reverse, tail, match});
    if (f.answer < 0) return none::make_at(series);
    series->data1 = static_cast<std::uint32_t>(f.answer);
    return series;
}

Cell* find(Cell* series, Cell* value, Cell* part, bool, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    if (!part && !any && !with && !skip && !last && !reverse && !match &&
        is_any_string(series->type()) && find_plain(series, value, !case_ && !same, tail))
        return series;
    return find_general(series, value, part, case_, same, any, with, skip, last, reverse, tail,
                        match);
}

Cell* select(Cell* series, Cell* value, Cell* part, bool, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse) {
    const Found f = find_in(series, value,
                            FindArgs{part, case_, same, any, with, skip, last, reverse, false, false});
    const std::int64_t next = f.start + f.length;
    if (f.answer < 0 || next >= ks_abs_length(series)) return none::make_at(series);
    *series = element_at(series, next);
    return series;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int,
                bool case_, bool, bool, bool) {
    if (element->is(Type::integer)) {
        const int n = integer_of(element);
        if (!value) {
            auto pick = registry::lookup<Action::pick>(parent->type());
            if (!pick) registry::fire_unsupported(Action::pick, parent);
            return pick(parent, n, element);
        }
        auto poke = registry::lookup<Action::poke>(parent->type());
        if (!poke) registry::fire_unsupported(Action::poke, parent);
        poke(parent, n, value, element);
        return value;
    }
    if (element->is(Type::word)) fire(ErrorId::script_invalid_path, path, element);
    if (!value)
        return select(parent, element, nullptr, false, case_, false, false, nullptr, nullptr, false,
                      false);
    Cell found = *parent;
    find(&found, element, nullptr, false, case_, false, false, nullptr, nullptr, false, false, false,
         false);
    if (found.is(Type::none)) fire(ErrorId::script_bad_path_set, path, element);
    auto poke = registry::lookup<Action::poke>(found.type());
    if (!poke) registry::fire_unsupported(Action::poke, &found);
    poke(&found, 2, value, element);
    return value;
}

Cell* append_insert(Cell* series, Cell* value, int part, bool only, int dup, bool append) {
    if (append && append_plain(series, value, part, dup, true)) return series;
    return append ? append_text(series, value, part, only, dup, true)
                  : insert_text(series, value, part, only, dup);
}

Cell* change(Cell* series, Cell* value, int part, bool, int dup) {
    std::int64_t index = clamped_index(series);
    std::int64_t length = ks_abs_length(series);
    // Formed values are formed apart first, so that the count they replace
    // is known before the owner hears of the change.
    Cell formed;
    if (!is_text(value->type())) {
        new_string(&formed, 16);
        put_at_tail(&formed, value, Limits{});
        value = &formed;
    }
    const std::int64_t count = value->is(Type::char_) ? 1
                               : ks_length(value) + (value->is(Type::tag) ? 2 : 0);
    const std::int64_t copies = dup < 1 ? 0 : dup;
    std::int64_t replaced = part >= 0 ? part : (part == -1 ? copies * count : 0);
    if (replaced > length - index) replaced = length - index;
    const bool owned = series::check_owner(series, series::Change::change, value,
                                           static_cast<std::int32_t>(index),
                                static_cast<std::int32_t>(replaced));
    index = clamped_index(series);
    length = ks_abs_length(series);
    if (replaced > length - index) replaced = length - index;
    const std::int64_t added = put_at_tail(series, value, Limits{});
    repeat_added(series, added, copies);
    const std::int64_t total = ks_abs_length(series) - length;
    if (index < length) {
        rotate_into_place(series, index, total);
        remove_chars(buffer(series), index + total, replaced);
    }
    series->data1 = static_cast<std::uint32_t>(index + total);
    series::report_owner(owned, series, series::Change::change, static_cast<std::int32_t>(index),
                         static_cast<std::int32_t>(total));
    return series;
}

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable) {
    std::int64_t length = sort_length(series, part);
    if (length == 0) return series;
    SortContext c{};
    c.record = 1;
    if (skip) {
        c.record = skip->is(Type::integer) ? integer_of(skip) : 0;
        if (c.record < 1 || length % c.record != 0 || length < c.record)
            series::fire_refine_arg(words::Ref::skip, skip);
    }
    setup_comparison(c, series, skip, comparator, all, case_);
    c.direction = reverse ? -1 : 1;
    const std::int32_t index = static_cast<std::int32_t>(series->data1);
    const bool owned = series::check_owner(series, series::Change::sort, nullptr, index,
                                           static_cast<std::int32_t>(length));
    // The owner's handler may have shortened the series.
    const std::int64_t left = ks_length(series);
    if (length > left) length = left - left % c.record;
    SeriesBuffer* b = buffer(series);
    c.unit = b->unit();
    // GC: a throw from the function clears the frame's cells; the node id
    // in this frame keeps the series alive until the sort ends.
    c.node = series->data2;
    c.buffer = b;
    c.first = b->offset;
    c.tail = b->tail;
    const std::size_t bytes = static_cast<std::size_t>(c.record * c.unit);
    const std::size_t n = static_cast<std::size_t>(length / c.record);
    if (stable) {
        sort::merge_sort(ks_head(series), n, bytes, &c, 0, compare_records);
    } else {
        sort::quicksort(ks_head(series), n, bytes, &c, 0, compare_records);
    }
    if (state.thrown_code) return series;
    series::report_owner(owned, series, series::Change::sort, index, static_cast<std::int32_t>(length));
    return series;
}

// Writes a code point that swap brings. A binary! holds one byte per unit:
// it keeps the code point's low byte, as poke writes into it, and never
// widens.
void put_swapped(Cell* series, std::int32_t position, std::uint32_t cp) {
    SeriesBuffer* b = buffer(series);
    if (series->is(Type::binary)) {
        b->head()[position] = static_cast<std::uint8_t>(cp);
    } else {
        store_char(b, position, cp);
    }
}

Cell* swap(Cell* series1, Cell* series2) {
    const Type t = series2->type();
    if (!is_any_string(t) && t != Type::binary) fire(ErrorId::script_invalid_arg, series2);
    if (ks_tail_q(series1) || ks_tail_q(series2)) return series1;
    const std::int32_t i1 = static_cast<std::int32_t>(series1->data1);
    const std::int32_t i2 = static_cast<std::int32_t>(series2->data1);
    const bool owned1 = series::check_owner(series1, series::Change::swap, series2, i1, 1);
    const bool owned2 = series::check_owner(series2, series::Change::swap, series1, i2, 1);
    if (ks_tail_q(series1) || ks_tail_q(series2)) return series1;
    const std::uint32_t c1 = ks_abs_at(series1, i1);
    const std::uint32_t c2 = ks_abs_at(series2, i2);
    put_swapped(series1, i1, c2);
    put_swapped(series2, i2, c1);
    series::report_owner(owned1, series1, series::Change::swap, i1, 1);
    series::report_owner(owned2, series2, series::Change::swap, i2, 1);
    return series1;
}

// Without /part the one code point taken comes back as a char! (an integer!
// for binary!, an element for vector!).
Cell* take(Cell* series, Cell* part, bool, bool last) { return series::take_value(series, part, last); }

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    if (auto_ && !all && !with) fire(ErrorId::internal_not_done);
    const std::int32_t index = static_cast<std::int32_t>(clamped_index(series));
    const bool owned =
        series::check_owner(series, series::Change::trim, nullptr, index, ks_length(series));
    clamped_index(series);
    if (all || with) {
        trim_set(series, with);
    } else if (lines) {
        trim_lines(series);
    } else {
        trim_ends(series, head, tail);
    }
    series::report_owner(owned, series, series::Change::trim, index, ks_length(series));
    return series;
}

constexpr ActionRow actions{
    .make = make,
    .random = inherit,
    .reflect = inherit,
    .to = to,
    .form = form,
    .mold = mold,
    .eval_path = eval_path,
    .compare = compare,
    .append = append_insert,
    .at = inherit,
    .back = inherit,
    .change = change,
    .clear = inherit,
    .copy = inherit,
    .find = find,
    .head = inherit,
    .head_q = inherit,
    .index_q = inherit,
    .insert = append_insert,
    .length_q = inherit,
    .move = inherit,
    .next = inherit,
    .pick = inherit,
    .poke = inherit,
    .remove = inherit,
    .reverse = inherit,
    .select = select,
    .sort = sort,
    .skip = inherit,
    .swap = swap,
    .tail = inherit,
    .tail_q = inherit,
    .take = take,
    .trim = trim,
    .modify = inherit,
};

}  // namespace

void init() {
    init_storage();
    series::move_text_hook = [](Cell* origin, Cell* target, std::int32_t count) {
        move_chars(origin, target, count);
    };
    registry::register_type(Type::string, Type::series, "string!", actions);
}

}  // namespace kiv::string
