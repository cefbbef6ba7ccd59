// block!: making, conversion, text forms, comparison, path access, copying,
// modification and search. Sorting and the set operations are in
// block-sort.cpp; the low-level routines in block-storage.cpp.
#include "runtime/datatypes/block.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/hashtable.h"
#include "runtime/state.h"

namespace kiv::block {

LoadText load_text_hook = nullptr;
CallComparator call_comparator_hook = nullptr;

namespace {

using series::Change;
using series::head;
using series::int_of;
using series::is_block_like;
using series::set_head;

constexpr std::int64_t max_cells = 0x7FFFFFFF / sizeof(Cell);

std::int32_t units(const Cell* value) { return static_cast<std::int32_t>(buffer(value)->length()); }

// The head, moved back to the tail when it lies past it.
std::int32_t clamp_head(Cell* value) {
    const std::int32_t n = units(value);
    if (head(value) > n) set_head(value, n);
    return head(value);
}

[[noreturn]] void fire_no_memory() { fire(ErrorId::internal_no_memory); }

// Grows the buffer so that it holds `cells` cells from its first used cell:
// to `cells` (`doubled`: twice that) when it lacks room.
SeriesBuffer* ensure_cells(Cell* value, std::int64_t cells, bool doubled) {
    if (cells > max_cells) fire_no_memory();
    SeriesBuffer* b = buffer(value);
    const std::int64_t have = (cage::offset_of(b->end()) - b->offset) / sizeof(Cell);
    if (cells <= have) return b;
    std::int64_t bytes = cells * static_cast<std::int64_t>(sizeof(Cell));
    if (doubled) bytes = std::min<std::int64_t>(bytes * 2, max_cells * sizeof(Cell));
    return memory::expand_series(b, bytes);
}

// A temporary copy of cells that a change reads from its own block.
// GC: filled after the block grew and emptied before anything allocates.
struct CellSnapshot {
    std::unique_ptr<Cell[]> cells;
    const Cell* take(const Cell* from, std::int64_t count) {
        cells.reset(new Cell[static_cast<std::size_t>(std::max<std::int64_t>(count, 1))]);
        std::memcpy(cells.get(), from, static_cast<std::size_t>(count) * sizeof(Cell));
        return cells.get();
    }
};

// Fills [dst + part, dst + total) by repeating the first `part` cells.
void repeat_cells(Cell* dst, std::int64_t part, std::int64_t total) {
    std::int64_t filled = part;
    while (filled < total && part > 0) {
        const std::int64_t k = std::min(filled, total - filled);
        std::memcpy(dst + filled, dst, static_cast<std::size_t>(k) * sizeof(Cell));
        filled += k;
    }
}

// The integer a make spec gives as a size: an integer!, or a float!
// truncated toward zero within the 32-bit range (else out-of-range).
std::int64_t size_of_spec(const Cell* spec) {
    if (spec->is(Type::integer)) return int_of(spec);
    double d;
    const std::uint64_t bits = std::uint64_t{spec->data2} | (std::uint64_t{spec->data3} << 32);
    std::memcpy(&d, &bits, sizeof d);
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) series::fire_out_of_range(spec);
    return static_cast<std::int64_t>(std::trunc(d));
}

// The body of an object! or map!: its reflect action with the word body.
Cell* body_of(Cell* proto, const Cell* spec) {
    Cell value = *spec;
    Cell field;
    words::word(words::Sym::body, &field);
    Cell* result = registry::find<Action::reflect>(&value)(&value, &field);
    *proto = *result;
    return proto;
}

// A block of a vector's elements from its index.
Cell* vector_elements(Cell* proto, const Cell* spec) {
    const Cell vector = *spec;
    const std::int32_t count = std::max(series::ks_length(const_cast<Cell*>(&vector)), 0);
    make_at(proto, count);
    const std::uint32_t unit = buffer(&vector)->unit();
    for (std::int32_t i = 0; i < count; ++i) {
        if (!series::vector_hooks.push_value) fire(ErrorId::internal_not_done);
        Cell element;
        const std::uint8_t* p = buffer(&vector)->head() + std::size_t(head(&vector) + i) * unit;
        series::vector_hooks.push_value(p, unit, static_cast<Type>(vector.data3), &element);
        ks_append(proto, &element);
    }
    return proto;
}

// The spec forms that make and to share; false when the spec is none of them.
bool make_common(Cell* proto, const Cell* spec) {
    switch (spec->type()) {
        case Type::object: case Type::map: body_of(proto, spec); return true;
        case Type::vector: vector_elements(proto, spec); return true;
        default:
            if (!is_block_like(spec->type())) return false;
            clone(spec, false, false, proto);
            return true;
    }
}

// The last code point written to a string buffer, or 0 when it is empty.
std::uint32_t last_char(const Cell* text) {
    SeriesBuffer* b = string::buffer(text);
    if (b->tail == b->offset) return 0;
    return string::get_char(b->tail_ptr() - b->unit(), b->unit());
}

void append_indent(Cell* text, int indent) {
    for (int i = 0; i < indent; ++i) string::append_literal(text, "    ");
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared walks.

int mold_each(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part,
              int indent) {
    const Cell block = *value;
    cycles::Guard guard;
    cycles::push(block.data2);
    bool line_opened = false;
    const std::int32_t first = std::max(head(&block), 0);
    for (std::int32_t i = first; i < units(&block); ++i) {
        if (part_arg && part <= 0) return part;
        Cell item = block::buffer(&block)->cells()[i];
        if (!flat && (item.header & cell_flag::new_line)) {
            // The first marked value opens the indented layout.
            if (!only && !line_opened) {
                line_opened = true;
                ++indent;
            }
            if (!(only && i == first)) {
                string::append_literal(buffer, "\n");
                --part;
            }
            append_indent(buffer, indent);
            part -= 4 * indent;
        } else if (i != first) {
            string::append_literal(buffer, " ");
            --part;
        }
        part = registry::find<Action::mold>(&item)(&item, buffer, false, all, flat, part_arg, part,
                                                   indent);
    }
    if (line_opened) {
        --indent;
        string::append_literal(buffer, "\n");
        append_indent(buffer, indent);
        part -= 1 + 4 * indent;
    }
    return part;
}

int compare_each(const Cell* a, const Cell* b, CompareOp op) {
    if (a->data2 == b->data2 && a->data1 == b->data1) return 0;
    if (op == CompareOp::same) return -1;
    if (cycles::find(a->data2)) return cycles::find(b->data2) ? 0 : -1;
    const Cell x = *a;
    const Cell y = *b;
    const std::int32_t len1 = std::max(ks_length(&x), 0);
    const std::int32_t len2 = std::max(ks_length(&y), 0);
    const bool equality = !is_ordering(op);
    if (len1 != len2 && equality) return 1;
    if (len1 == 0 && len2 == 0) return 0;
    cycles::Guard guard;
    cycles::push(x.data2);
    cycles::push(y.data2);
    const auto word_kind = [](Type t) { return t >= Type::word && t <= Type::issue; };
    const auto number = [](Type t) {
        return t == Type::integer || t == Type::float_ || t == Type::percent;
    };
    for (std::int32_t i = 0; i < std::min(len1, len2); ++i) {
        const Cell p = buffer(&x)->cells()[head(&x) + i];
        const Cell q = buffer(&y)->cells()[head(&y) + i];
        const Type s = p.type();
        const Type t = q.type();
        if (s != t && !(word_kind(s) && word_kind(t)) && !(number(s) && number(t)))
            return s < t ? -1 : 1;
        const int r = compare_value(&p, &q, op);
        if (r != 0) return r;
    }
    return len1 < len2 ? -1 : len1 > len2 ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Actions, in action order.

Cell* make(Cell* proto, Cell* spec, Type type) {
    if (spec->is(Type::integer) || spec->is(Type::float_)) {
        make_at(proto, size_of_spec(spec));
    } else if (!make_common(proto, spec)) {
        Cell target;
        registry::make_datatype(&target, type);
        fire(ErrorId::script_bad_make_arg, &target, spec);
    }
    proto->set_type(type);
    return proto;
}

Cell* to(Cell* proto, Cell* spec, Type type) {
    if (make_common(proto, spec)) {
        // done
    } else if (spec->is(Type::string)) {
        if (!load_text_hook) fire(ErrorId::internal_not_done);
        const Cell text = *spec;
        load_text_hook(&text, proto);
    } else if (spec->is(Type::typeset)) {
        const Cell set = *spec;
        typeset::to_block(&set, proto);
    } else {
        const Cell value = *spec;
        make_at(proto, 1);
        ks_append(proto, &value);
    }
    proto->header = static_cast<std::uint32_t>(type);
    return proto;
}

int form(Cell* value, Cell* buffer, Cell* part_arg, int part) {
    std::int32_t remaining = part;
    if (const char* marker = cycles::detect(value, false, &remaining)) {
        string::append_literal(buffer, marker);
        return remaining;
    }
    const Cell block = *value;
    cycles::Guard guard;
    cycles::push(block.data2);
    for (std::int32_t i = std::max(head(&block), 0); i < units(&block); ++i) {
        if (part_arg && part <= 0) break;
        Cell item = block::buffer(&block)->cells()[i];
        part = registry::find<Action::form>(&item)(&item, buffer, part_arg, part);
        if (i + 1 < units(&block)) {
            const std::uint32_t c = last_char(buffer);
            if (c != '\t' && c != '\n' && c != '\r') {
                string::append_literal(buffer, " ");
                --part;
            }
        }
    }
    return part;
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part,
         int indent) {
    std::int32_t remaining = part;
    if (const char* marker = cycles::detect(value, true, &remaining)) {
        string::append_literal(buffer, marker);
        return remaining;
    }
    if (!only) {
        string::append_literal(buffer, "[");
        --part;
    }
    part = mold_each(value, buffer, only, all, flat, part_arg, part, indent);
    if (!only) {
        string::append_literal(buffer, "]");
        --part;
    }
    return part;
}

namespace {

// ---- search (find, select, put and path access)

struct SearchArgs {
    Cell* part = nullptr;
    Cell* skip = nullptr;
    bool only = false;
    bool case_ = false;
    bool same = false;
    bool last = false;
    bool reverse = false;
    bool match = false;
};

struct Found {
    std::int32_t at = -1;  // the matched cell, -1 when nothing matched
    std::int32_t run = 1;  // cells the match covers
};

// Whether the value's cells match at p, each under op, never reading at or
// past `end`.
bool run_matches(const Cell* cells, std::int32_t p, std::int32_t end, const Cell* value,
                 std::int32_t n, CompareOp op) {
    const Cell* want = buffer(value)->cells() + head(value);
    for (std::int32_t j = 0; j < n; ++j) {
        if (p + j >= end) return false;
        if (!compare_holds(cells + p + j, want + j, op)) return false;
    }
    return true;
}

// The last searchable cell that a /part argument gives, or -1 for none.
std::int64_t part_limit(const Cell* series, const Cell* part, std::int32_t h) {
    if (part->is(Type::integer)) {
        const std::int64_t n = int_of(part);
        return n < 1 ? -1 : h + n - 1;
    }
    if (part->type() == series->type() && part->data2 == series->data2) return head(part);
    series::fire_refine_arg(words::Ref::part, part);
}

// Where a search starts and stops, and how it compares.
struct Scan {
    bool none = false;     // nothing can match
    std::int64_t start = 0;
    std::int32_t step = 1;  // negative for backward scans
    std::int32_t end = 0;   // forward scans and runs stop before this cell
    std::int32_t low = 0;   // backward scans stop below this cell
    std::int32_t n = 0;     // cells of a run, 0 for one value
    CompareOp op = CompareOp::find;
};

Scan plan(Cell* series, const Cell* value, const SearchArgs& a) {
    Scan s;
    const std::int32_t count = units(series);
    const std::int32_t h = head(series);
    s.none = count == 0 || (!a.reverse && h >= count);
    if (s.none) return s;
    if (a.skip) {
        if (!a.skip->is(Type::integer)) series::fire_refine_arg(words::Ref::skip, a.skip);
        s.step = int_of(a.skip);
        if (s.step < 1) series::fire_out_of_range(a.skip);
    }
    std::int64_t limit = count - 1;
    if (a.part) {
        limit = part_limit(series, a.part, h);
        s.none = limit < 0;
        limit = std::min<std::int64_t>(limit, count - 1);
    }
    s.end = static_cast<std::int32_t>(limit + 1);
    s.op = a.same ? CompareOp::same : a.case_ ? CompareOp::strict_equal : CompareOp::find;
    s.n = a.only || !is_block_like(value->type()) ? 0 : std::max(ks_length(value), 0);
    s.start = h;
    if (a.last || a.reverse) {
        s.step = -s.step;
        const std::int64_t from = a.last ? count : h;
        s.start = a.part ? limit : s.n < 1 ? from - 1 : from - s.n;
        // A head past the tail starts a reverse scan at the last cell.
        s.start = std::min<std::int64_t>(s.start, s.end - 1);
        s.low = a.last ? h : 0;
        s.none = s.none || s.start < 0;
    }
    return s;
}

Found search(Cell* series, const Cell* value, const SearchArgs& a) {
    Found f;
    const Scan s = plan(series, value, a);
    if (s.none) return f;
    const bool type_match = !a.only && value->is(Type::datatype);
    const bool set_match = !a.only && value->is(Type::typeset);
    if (series->is(Type::hash) && series->data3 && s.n == 0 && !a.match && !type_match && !set_match &&
        hashtable::indexable_q(value)) {
        // A hash! looks the value up in its index instead of scanning.
        const auto start = static_cast<std::int32_t>(s.start);
        const bool down = s.step < 0;
        f.at = hashtable::find_position(series->data3, value, s.op, start, s.step, down ? s.low : start,
                                        down ? start + 1 : s.end);
        return f;
    }
    const Cell* cells = buffer(series)->cells();
    for (std::int64_t p = s.start; s.step > 0 ? p < s.end : p >= s.low; p += s.step) {
        const auto at = static_cast<std::int32_t>(p);
        bool hit;
        if (s.n > 0) hit = run_matches(cells, at, s.end, value, s.n, s.op);
        else if (type_match) hit = cells[at].type_id() == value->data1;
        else if (set_match) hit = typeset::has(value, cells[at].type_id());
        else hit = compare_holds(cells + at, value, s.op);
        if (hit) {
            f.at = at;
            f.run = s.n > 0 ? s.n : 1;
            return f;
        }
        if (a.match) break;
    }
    return f;
}

// The cell that select answers for a match, or the none value.
const Cell* selected(Cell* series, const Cell* value, const Found& f, bool only) {
    if (f.at < 0) return &none::value;
    const bool whole_run = !only && (value->is(Type::block) || value->is(Type::paren) ||
                                     series::is_any_path(value->type()));
    const std::int32_t after = f.at + (whole_run ? f.run : 1);
    return after < units(series) ? buffer(series)->cells() + after : &none::value;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int, bool case_,
                bool, bool, bool) {
    if (element->is(Type::integer)) {
        if (!value) return series::pick(parent, int_of(element), element);
        series::poke(parent, int_of(element), value, element);
        return value;
    }
    if (!value) {
        if (element->is(Type::word) && !parent->is(Type::hash))
            return const_cast<Cell*>(select_word(parent, element, case_));
        SearchArgs a;
        a.only = true;
        a.case_ = case_;
        const Cell key = *element;
        return const_cast<Cell*>(selected(parent, &key, search(parent, &key, a), true));
    }
    // A write finds its key as a read selects it: a block key is one value,
    // not a run whose second cell would then be overwritten.
    SearchArgs a;
    a.only = true;
    a.case_ = case_;
    const Found f = search(parent, element, a);
    if (f.at < 0) fire(ErrorId::script_bad_path_set, path, element);
    Cell at = *parent;
    set_head(&at, f.at);
    series::poke(&at, 2, value, nullptr);
    return value;
}

}  // namespace

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (value1->type() != value2->type()) {
        const auto paths = [](Type s, Type t) { return s == Type::path && t == Type::lit_path; };
        const bool word_ops = op == CompareOp::strict_word || op == CompareOp::equal_word;
        if (!word_ops ||
            !(paths(value1->type(), value2->type()) || paths(value2->type(), value1->type())))
            return not_comparable;
    }
    return compare_each(value1, value2, op);
}

namespace {

// ---- append and insert

[[gnu::noipa]] Cell* insert_any(Cell* series, Cell* value, int part, bool only, int dup,
                                   bool append) {
    const Cell v = *value;
    const bool spread = !only && is_block_like(v.type());
    const std::int64_t count = spread ? std::max(ks_length(&v), 0) : 1;
    if (count == 0) return series;
    const std::int64_t take = part < 0 || part > count ? count : part;
    const std::int64_t total = take * std::max(dup, 0);
    if (total > max_cells || units(series) + total > max_cells) fire_no_memory();
    const std::int32_t h = clamp_head(series);
    const bool at_tail = append || h == units(series);
    const Change change = append ? Change::append : Change::insert;
    const bool owned = series::check_owner(series, change, &v, append ? units(series) : h,
                                           static_cast<std::int32_t>(total));
    // The owner's handler may have changed the series.
    const std::int32_t n = units(series);
    const std::int32_t at = at_tail ? n : std::min(clamp_head(series), n);
    SeriesBuffer* b = ensure_cells(series, std::int64_t{n} + total, dup < 5);
    CellSnapshot snapshot;
    const Cell* source = &v;
    if (spread) {
        source = buffer(&v)->cells() + std::max(head(&v), 0);
        if (v.data2 == series->data2) source = snapshot.take(source, take);
    }
    Cell* cells = b->cells();
    std::memmove(cells + at + total, cells + at, std::size_t(n - at) * sizeof(Cell));
    std::memcpy(cells + at, source, static_cast<std::size_t>(std::min(take, total)) * sizeof(Cell));
    repeat_cells(cells + at, take, total);
    b->tail += static_cast<std::uint32_t>(total * sizeof(Cell));
    series::hash_changed(series, at, 0, static_cast<std::int32_t>(total));
    series::report_owner(owned, series, change, at, static_cast<std::int32_t>(total));
    set_head(series, append ? 0 : std::min<std::int64_t>(at + total, units(series)));
    return series;
}

Cell* insert(Cell* series, Cell* value, int part, bool only, int dup, bool append) {
    if (append && dup == 1 && part < 0 && !series->is(Type::hash) &&
        (only || !is_block_like(value->type())) && append_cell_in_room(series, value))
        return series;
    return insert_any(series, value, part, only, dup, append);
}

// ---- change

Cell* change(Cell* series, Cell* value, int part, bool only, int dup) {
    const Cell v = *value;
    const std::int32_t h = clamp_head(series);
    const bool spread = !only && is_block_like(v.type());
    const std::int64_t count = spread ? std::max(ks_length(&v), 0) : 1;
    const std::int64_t added = count * std::max(dup, 0);
    const std::int32_t rest = units(series) - h;
    const std::int64_t asked = part < 0 ? added : part;
    const bool owned =
        series::check_owner(series, Change::change, &v, h,
                            static_cast<std::int32_t>(std::min<std::int64_t>(rest, asked)));
    // Re-read after the owner's handler.
    const std::int32_t size = units(series);
    const std::int32_t at = std::min(clamp_head(series), size);
    const std::int64_t replaced = std::min<std::int64_t>(size - at, part < 0 ? added : part);
    const std::int64_t new_size = size + added - replaced;
    if (added > max_cells || new_size > max_cells) fire_no_memory();
    SeriesBuffer* b = ensure_cells(series, new_size, false);
    CellSnapshot snapshot;
    const Cell* source = &v;
    if (spread) {
        // A change of a block with a part of itself reads a copy taken
        // before anything moves.
        source = buffer(&v)->cells() + std::max(head(&v), 0);
        if (v.data2 == series->data2) source = snapshot.take(source, count);
    }
    Cell* cells = b->cells();
    std::memmove(cells + at + added, cells + at + replaced,
                 static_cast<std::size_t>(size - at - replaced) * sizeof(Cell));
    b->tail = b->offset + static_cast<std::uint32_t>(new_size * sizeof(Cell));
    std::memmove(cells + at, source,
                 static_cast<std::size_t>(std::min(count, added)) * sizeof(Cell));
    repeat_cells(cells + at, count, added);
    series::hash_changed(series, at, static_cast<std::int32_t>(replaced),
                         static_cast<std::int32_t>(added));
    series::report_owner(owned, series, Change::change, at, static_cast<std::int32_t>(added));
    set_head(series, std::min<std::int64_t>(at + added, new_size));
    return series;
}

// ---- copy

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    const Cell source = *value;
    series::copy(value, result, part, deep, types);
    if (!deep && !types) return result;
    if (result->is(Type::hash)) {
        result->set_type(Type::block);
        result->data3 = 0;
    }
    cycles::Guard guard;
    if (deep) {
        if (cycles::find(source.data2)) {
            cycles::reset();
            fire(ErrorId::internal_no_cycle);
        }
        cycles::push(source.data2);
    }
    if (types) {
        const Cell kinds = *types;
        copy_types(result, 0, units(result), 1, deep, &kinds);
        return result;
    }
    for (std::int32_t i = 0; i < units(result); ++i) {
        Cell item = buffer(result)->cells()[i];
        if (!series::is_series(item.type())) continue;
        Cell copied;
        registry::find<Action::copy>(&item)(&item, &copied, nullptr, true, nullptr);
        buffer(result)->cells()[i] = copied;
    }
    return result;
}

}  // namespace

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool,
           Cell*, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    const Cell key = *value;
    const SearchArgs a{part, skip, only, case_, same, last, reverse, match};
    const Found f = search(series, &key, a);
    if (f.at < 0) return none::make_at(series);
    set_head(series, tail ? f.at + f.run : f.at);
    return series;
}

namespace {

// ---- put

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    const Cell k = *key;
    const Cell v = *value;
    SearchArgs a;
    a.case_ = case_;
    const Found f = search(series, &k, a);
    if (f.at < 0) {
        const std::int32_t n = units(series);
        series::check_owner(series, Change::put, &v, n, 1);
        const std::int32_t at = units(series);
        ks_append(series, &k);
        ks_append(series, &v);
        series::hash_changed(series, at, 0, 2);
        return value;
    }
    const bool owned = series::check_owner(series, Change::put, &v, f.at + 1, 1);
    const std::int32_t at = f.at + 1;
    if (at < units(series)) {
        Cell* cell = buffer(series)->cells() + at;
        if (!compare_holds(cell, &v, CompareOp::find)) {
            *cell = v;
            series::hash_changed(series, at, 1, 1);
        }
    } else {
        ks_append(series, &v);
        series::hash_changed(series, units(series) - 1, 0, 1);
    }
    series::report_owner(owned, series, Change::put, at, 1);
    return value;
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool,
             Cell*, Cell* skip, bool last, bool reverse) {
    const Cell key = *value;
    const SearchArgs a{part, skip, only, case_, same, last, reverse, false};
    *series = *selected(series, &key, search(series, &key, a), only);
    return series;
}

// ---- swap, take, trim

Cell* swap(Cell* series1, Cell* series2) {
    if (!is_block_like(series2->type())) fire(ErrorId::script_invalid_arg, series2);
    if (head(series1) >= units(series1) || head(series2) >= units(series2)) return series1;
    const std::int32_t h1 = head(series1);
    const std::int32_t h2 = head(series2);
    const bool owned1 = series::check_owner(series1, Change::swap, series2, h1, 1);
    const bool owned2 = series::check_owner(series2, Change::swap, series1, h2, 1);
    // The owners' handlers may have shortened either series.
    if (h1 < units(series1) && h2 < units(series2)) {
        std::swap(buffer(series1)->cells()[h1], buffer(series2)->cells()[h2]);
        series::hash_changed(series1, h1, 1, 1);
        series::hash_changed(series2, h2, 1, 1);
    }
    series::report_owner(owned1, series1, Change::swap, h1, 1);
    series::report_owner(owned2, series2, Change::swap, h2, 1);
    return series1;
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    series::take_value(series, part, last);
    if (!deep) return series;
    if (!part) {
        if (!series::is_series(series->type())) return series;
        Cell item = *series;
        registry::find<Action::copy>(&item)(&item, series, nullptr, true, nullptr);
        series->header = item.header;
        return series;
    }
    if (series->is(Type::none)) return series;
    for (std::int32_t i = 0; i < units(series); ++i) {
        Cell item = buffer(series)->cells()[i];
        if (!series::is_series(item.type())) continue;
        Cell copied;
        registry::find<Action::copy>(&item)(&item, &copied, nullptr, true, nullptr);
        buffer(series)->cells()[i] = copied;
    }
    return series;
}

Cell* trim(Cell* series, bool, bool, bool, bool, bool, Cell*) {
    const std::int32_t h = clamp_head(series);
    const bool owned = series::check_owner(series, Change::trim, nullptr, h, 0);
    const std::int32_t n = units(series);
    const std::int32_t from = std::min(clamp_head(series), n);
    SeriesBuffer* b = buffer(series);
    Cell* cells = b->cells();
    std::int32_t kept = from;
    for (std::int32_t i = from; i < n; ++i)
        if (!cells[i].is(Type::none)) cells[kept++] = cells[i];
    b->tail = b->offset + static_cast<std::uint32_t>(kept) * sizeof(Cell);
    if (kept != n) series::hash_changed(series, from, n - from, kept - from);
    series::report_owner(owned, series, Change::trim, h, 0);
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
    .append = insert,
    .at = inherit,
    .back = inherit,
    .change = change,
    .clear = inherit,
    .copy = copy,
    .find = find,
    .head = inherit,
    .head_q = inherit,
    .index_q = inherit,
    .insert = insert,
    .length_q = inherit,
    .move = inherit,
    .next = inherit,
    .pick = inherit,
    .poke = inherit,
    .put = put,
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
    registry::register_type(Type::block, Type::series, "block!", actions);
    state.block_scratch = Cell{};
    collector::register_root_cell(&state.block_scratch);
}

}  // namespace kiv::block
