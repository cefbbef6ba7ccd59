// series!: the actions shared by every series. See series.h.
//
// Positions are computed in units and turned into bytes with the buffer's
// unit shift; 64-bit arithmetic keeps a head past the tail (or a huge /part)
// from wrapping before it is clamped.
#include "runtime/datatypes/series.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/word.h"
#include "runtime/fixed-words.h"
#include "runtime/ownership.h"
#include "runtime/evaluator/random.h"
#include "runtime/fire.h"
#include "runtime/hashtable.h"

namespace kiv::series {

VectorHooks vector_hooks;
MoveText move_text_hook = nullptr;

namespace {

std::uint8_t* unit_at(SeriesBuffer* b, std::int64_t index) {
    return b->head() + (index << shift_of(b->unit()));
}

std::int32_t units_of(const SeriesBuffer* b) {
    return static_cast<std::int32_t>(b->used_bytes() >> shift_of(b->unit()));
}

void set_tail_units(SeriesBuffer* b, std::int64_t units) {
    b->tail = b->offset + static_cast<std::uint32_t>(units << shift_of(b->unit()));
}

// Exchanges two records of `bytes` bytes through a small stack temporary.
void swap_units(std::uint8_t* a, std::uint8_t* b, std::uint32_t bytes) {
    std::uint8_t tmp[64];
    while (bytes) {
        const std::uint32_t n = bytes < sizeof tmp ? bytes : sizeof tmp;
        std::memcpy(tmp, a, n);
        std::memcpy(a, b, n);
        std::memcpy(b, tmp, n);
        a += n;
        b += n;
        bytes -= n;
    }
}

// Makes `out` the element at `p` of the series as a value of its own:
// the cell itself for cell series, the element type for a vector!, an
// integer! for a binary!, a char! for the string family.
void box_unit(const Cell* series, const std::uint8_t* p, std::uint32_t unit, Cell* out) {
    if (unit == 16) {
        std::memcpy(out, p, sizeof(Cell));
    } else if (series->is(Type::vector)) {
        if (!vector_hooks.push_value) fire(ErrorId::internal_not_done);
        vector_hooks.push_value(p, unit, static_cast<Type>(series->data3), out);
    } else if (series->is(Type::binary)) {
        make_integer(out, *p);
    } else {
        make_char(out, string::get_char(p, unit));
    }
}

// The new series value of `series`' datatype over a new buffer of `count`
// units; vector! keeps its element type.
Cell* make_like(const Cell* series, std::int64_t count, Cell* out) {
    const SeriesBuffer* src = buffer(series);
    const std::uint32_t unit = src->unit();
    const std::uint32_t complement = src->flags & memory::series_flag::complement;
    const Type type = series->type();
    const std::uint32_t fourth = series->is(Type::vector) ? series->data3 : 0;
    // GC: `out` reads as unset! until the node is in place.
    *out = Cell{static_cast<std::uint32_t>(Type::unset), 0, 0, 0};
    NodeId node = memory::alloc_series(count > 0 ? count : 1, unit, 0);
    memory::buffer_of(node)->flags |= complement;
    *out = Cell{static_cast<std::uint32_t>(type), 0, node, fourth};
    return out;
}

// Whether `part` is a series of the value's datatype sharing its buffer.
bool same_series(const Cell* value, const Cell* part) {
    return part->type() == value->type() && part->data2 == value->data2;
}

}  // namespace

// ---------------------------------------------------------------------------
// Change reports.

namespace {

// The owner's words of a change: its action word and its past tense.
// `insert` and `remove` are global words of the fixed symbols.
Cell* change_word(Change change, bool after, Cell* out) {
    using words::W;
    switch (change) {
        case Change::append: return words::word(after ? W::appended : W::append, out);
        case Change::insert:
            return after ? words::word(W::inserted, out) : words::word(words::Sym::insert, out);
        case Change::change: return words::word(after ? W::changed : W::change, out);
        case Change::clear: return words::word(after ? W::cleared : W::clear, out);
        case Change::move: return words::word(after ? W::moved : W::move, out);
        case Change::poke: return words::word(after ? W::poked : W::poke, out);
        case Change::put: return words::word(after ? W::put_ed : W::put, out);
        case Change::remove:
            return after ? words::word(W::removed, out) : words::word(words::Sym::remove, out);
        case Change::random: return words::word(after ? W::randomized : W::random, out);
        case Change::reverse: return words::word(after ? W::reversed : W::reverse, out);
        case Change::sort: return words::word(after ? W::sorted : W::sort, out);
        case Change::swap: return words::word(after ? W::swaped : W::swap, out);
        case Change::take: return words::word(after ? W::taken : W::take, out);
        case Change::trim: return words::word(after ? W::trimmed : W::trim, out);
    }
    return out;
}

}  // namespace

bool report_before(Cell* series, Change change, const Cell* value, std::int32_t index,
                   std::int32_t count) {
    Cell word;
    change_word(change, false, &word);
    return ownership::check(series, &word, value, index, count);
}

void report_owner(bool owned, Cell* series, Change change, std::int32_t index,
                  std::int32_t count) {
    if (!owned) return;
    Cell word;
    change_word(change, true, &word);
    ownership::check(series, &word, nullptr, index, count);
}

void sync_index(Cell* series, std::int32_t position, std::int32_t removed, std::int32_t added) {
    const NodeId table = series->data3;
    if (!table) return;
    const std::int32_t length = ks_abs_length(series);
    if (removed > 0 && position == 0 && removed >= length) {
        // Every old position goes: index the block afresh.
        hashtable::clear(table);
        hashtable::rehash_block(table, 0);
        return;
    }
    if (removed > 0) hashtable::remove_range(table, position, removed);
    if (added != removed && hashtable::refresh(table, added - removed, position + removed)) {
        hashtable::resize(table, length);
        return;
    }
    for (std::int32_t i = 0; i < added; ++i) {
        int found = 0;
        hashtable::put(table, buffer(series)->cells() + position + i, &found);
        if (found == 2) return;  // the table grew and indexed the whole block
    }
}

// ---------------------------------------------------------------------------
// Helpers.

bool ks_tail_q(const Cell* value) {
    const SeriesBuffer* b = buffer(value);
    return std::int64_t{head(value)} >= units_of(b);
}

std::int32_t ks_abs_length(const Cell* value) { return units_of(buffer(value)); }

bool move_index(Cell* value, std::int32_t n) {
    const std::int64_t units = ks_abs_length(value);
    const std::int64_t to = std::int64_t{head(value)} + n;
    if (to <= units) set_head(value, to);
    return to >= units;
}

std::int32_t ks_length(Cell* value, bool from_head) {
    const std::int32_t units = ks_abs_length(value);
    const std::int32_t h = head(value);
    if (h > units) {
        set_head(value, units);
        return 0;
    }
    return from_head ? units : units - h;
}

std::int32_t get_at_index(const Cell* value, const Cell* arg, bool at) {
    if (!arg->is(Type::integer)) fire(ErrorId::script_invalid_arg, arg);
    const std::int64_t n = int_of(arg);
    const std::int64_t h = head(value);
    std::int64_t index = at && n >= 1 ? h + n - 1 : h + n;
    index = std::clamp<std::int64_t>(index, 0, ks_abs_length(value));
    return static_cast<std::int32_t>(index);
}

void fire_refine_arg(words::Ref refinement, const Cell* value) {
    Cell word;
    words::refinement(refinement, &word);
    fire(ErrorId::script_invalid_refine_arg, &word, value);
}

void fire_out_of_range(const Cell* value) { fire(ErrorId::script_out_of_range, value); }

std::int32_t part_length(const Cell* value, const Cell* part) {
    if (part->is(Type::integer)) return int_of(part);
    if (same_series(value, part)) return head(part) - head(value);
    fire_refine_arg(words::Ref::part, part);
}

// ---------------------------------------------------------------------------
// Actions, in action order.

namespace {

// Shuffles the rest in place: the unit at each position from the head
// trades places with one drawn from the units that remain.
void shuffle(Cell* value, bool secure) {
    const std::int32_t h = head(value);
    const std::int32_t rest = ks_length(value);
    const bool owned = check_owner(value, Change::random, nullptr, h, rest);
    SeriesBuffer* b = buffer(value);
    const std::uint32_t unit = b->unit();
    // Re-read after the owner's handler.
    const std::int32_t n = std::min(rest, units_of(b) - h);
    std::int32_t r = n;
    for (std::int64_t i = h; r > 0; ++i, --r) {
        const std::int32_t k = random::uniform(secure, r);
        if (k > 1) swap_units(unit_at(b, i), unit_at(b, i + k - 1), unit);
    }
    if (n > 0) hash_changed(value, h, n, n);
    report_owner(owned, value, Change::random, h, rest);
}

Cell* random_(Cell* value, bool seed, bool secure, bool only) {
    if (seed) {
        SeriesBuffer* b = buffer(value);
        const std::int32_t rest = ks_length(value);
        const std::uint32_t bytes = static_cast<std::uint32_t>(rest) << shift_of(b->unit());
        random::seed(static_cast<std::int32_t>(hashtable::murmur3(unit_at(b, head(value)), bytes)));
        *value = Cell{static_cast<std::uint32_t>(Type::unset), 0, 0, 0};
        return value;
    }
    if (!only) {
        shuffle(value, secure);
        return value;
    }
    const std::int32_t rest = ks_length(value);
    if (rest < 1) return none::make_at(value);
    const std::int32_t k = random::uniform(secure, rest);
    SeriesBuffer* b = buffer(value);
    box_unit(value, unit_at(b, head(value) + k - 1), b->unit(), value);
    return value;
}

bool is_owned_field(const Cell* field) {
    return (field->is(Type::word) || field->is(Type::lit_word)) &&
           words::is(field, words::Sym::owned);
}

Cell* reflect(Cell* value, Cell* field) {
    if (!is_owned_field(field)) fire(ErrorId::internal_not_done);
    const Cell* owner = ownership::get_owner(value->data2);
    if (owner) *value = *owner;
    else none::make_at(value);
    return value;
}

Cell* at(Cell* series, Cell* index) {
    set_head(series, get_at_index(series, index, true));
    return series;
}

Cell* back(Cell* series) {
    if (head(series) > 0) set_head(series, head(series) - 1);
    return series;
}

Cell* clear(Cell* series) {
    const std::int32_t h = head(series);
    const std::int32_t rest = ks_abs_length(series) - h;
    if (rest <= 0) return series;
    const bool owned = check_owner(series, Change::clear, nullptr, h, rest);
    // The owner's handler may have changed the series: cut where it is now.
    SeriesBuffer* b = buffer(series);
    const std::int32_t now = units_of(b);
    if (h < now) {
        // Cut first: a hash! index is brought in step with the cells as
        // they are after the change.
        set_tail_units(b, h);
        hash_changed(series, h, now - h, 0);
    }
    report_owner(owned, series, Change::clear, h, rest);
    return series;
}

Cell* head_(Cell* series) {
    set_head(series, 0);
    return series;
}

Cell* head_q(Cell* series) { return logic::make_at(series, head(series) == 0); }

Cell* index_q(Cell* series) { return make_integer(series, head(series) + 1); }

int length_q(Cell* series) { return ks_length(series); }

// ---- move

[[noreturn]] void fire_move_target(const Cell* target) {
    Cell function;
    Cell type;
    Cell arg;
    words::word(words::W::move, &function);
    registry::make_datatype(&type, target->type());
    word::load("target", &arg);
    fire(ErrorId::script_expect_arg, &function, &type, &arg);
}

// Whether units can travel between two different series; raises move-bad
// when they cannot.
void check_move_kinds(const Cell* origin, const Cell* target) {
    const bool cells_o = is_block_like(origin->type());
    const bool cells_t = is_block_like(target->type());
    const std::uint32_t uo = buffer(origin)->unit();
    const std::uint32_t ut = buffer(target)->unit();
    const bool raw = origin->is(Type::binary) || origin->is(Type::vector) ||
                     target->is(Type::binary) || target->is(Type::vector);
    if (cells_o != cells_t || (uo != ut && raw) ||
        origin->is(Type::image) != target->is(Type::image)) {
        Cell a;
        Cell b;
        registry::make_datatype(&a, origin->type());
        registry::make_datatype(&b, target->type());
        fire(ErrorId::script_move_bad, &a, &b);
    }
}

// Moves `count` units from the origin's head into a gap opened at the
// target's head; both buffers share one unit.
void move_between(Cell* origin, Cell* target, std::int32_t count) {
    const std::int32_t s = head(origin);
    const bool owned = check_owner(origin, Change::move, nullptr, s, count);
    // Re-read after the handler: lengths may have changed.
    count = std::min<std::int32_t>(count, ks_abs_length(origin) - s);
    if (count <= 0) return;
    std::int32_t d = std::min(head(target), ks_abs_length(target));
    SeriesBuffer* tb = buffer(target);
    const std::uint32_t shift = shift_of(tb->unit());
    const std::uint64_t need =
        std::uint64_t{tb->used_bytes()} + (static_cast<std::uint64_t>(count) << shift);
    if (need > static_cast<std::uint64_t>(cage::offset_of(tb->end()) - tb->offset))
        tb = memory::expand_series(tb, static_cast<std::int64_t>(need * 2));
    // GC: the expansion may have moved the origin's buffer too.
    SeriesBuffer* ob = buffer(origin);
    const std::uint32_t bytes = static_cast<std::uint32_t>(count) << shift;
    std::uint8_t* gap = unit_at(tb, d);
    std::memmove(gap + bytes, gap, tb->tail - cage::offset_of(gap));
    tb->tail += bytes;
    std::uint8_t* from = unit_at(ob, s);
    std::memcpy(gap, from, bytes);
    std::memmove(from, from + bytes, ob->tail - cage::offset_of(from) - bytes);
    ob->tail -= bytes;
    hash_changed(origin, s, count, 0);
    hash_changed(target, d, 0, count);
    report_owner(owned, origin, Change::move, s, count);
    // The target's owner hears of the units that arrived.
    report_owner((tb->flags & memory::series_flag::owned) != 0, target, Change::move, d, count);
}

// Whether a move inside one buffer moves nothing: onto itself, or into the
// run being moved.
bool still(std::int32_t s, std::int32_t d, std::int32_t count) {
    return count <= 0 || s == d || (s < d && d < s + count);
}

// Moves `count` units inside one buffer from s to the place given by d:
// forwards they land after the unit at d (at the tail when d is the tail),
// backwards at d.
void move_within(Cell* origin, std::int32_t s, std::int32_t d, std::int32_t count) {
    d = std::min(d, ks_abs_length(origin));
    if (still(s, d, count)) return;
    const bool owned = check_owner(origin, Change::move, nullptr, s, count);
    // Re-read after the owner's handler.
    SeriesBuffer* b = buffer(origin);
    const std::int32_t units = units_of(b);
    count = std::min(count, units - s);
    d = std::min(d, units);
    if (still(s, d, count)) return;
    const std::uint32_t unit = b->unit();
    const std::uint32_t bytes = static_cast<std::uint32_t>(count) * unit;
    // GC: no allocation from here on, so the temporary may hold cells unseen.
    std::unique_ptr<std::uint8_t[]> saved(new std::uint8_t[bytes]);
    std::memcpy(saved.get(), unit_at(b, s), bytes);
    std::int32_t first;  // where the moved units land
    if (s < d) {
        const std::int32_t end = d == units ? units : d + 1;
        std::memmove(unit_at(b, s), unit_at(b, s + count), std::size_t(end - s - count) * unit);
        first = end - count;
    } else {
        std::memmove(unit_at(b, d + count), unit_at(b, d), std::size_t(s - d) * unit);
        first = d;
    }
    std::memcpy(unit_at(b, first), saved.get(), bytes);
    const std::int32_t low = std::min(s, first);
    const std::int32_t span = std::max(s, first) + count - low;
    hash_changed(origin, low, span, span);
    report_owner(owned, origin, Change::move, s, count);
}

Cell* move(Cell* origin, Cell* target, Cell* part) {
    if (!is_series(target->type())) fire_move_target(target);
    if (ks_tail_q(origin)) return target;
    std::int32_t count = 1;
    if (part) {
        count = part_length(origin, part);
        if (count < 1) return target;
    }
    count = std::min(count, ks_length(origin));
    if (origin->data2 == target->data2) {
        move_within(origin, head(origin), head(target), count);
        return target;
    }
    check_move_kinds(origin, target);
    if (buffer(origin)->unit() != buffer(target)->unit()) {
        if (!move_text_hook) fire(ErrorId::internal_not_done);
        move_text_hook(origin, target, count);
        return target;
    }
    move_between(origin, target, count);
    return target;
}

Cell* next(Cell* series) {
    move_index(series, 1);
    return series;
}

// ---- remove

Cell* remove(Cell* series, Cell* part, Cell* key) {
    std::int32_t count = 1;
    if (part) count = part_length(series, part);
    if (key) {
        Cell found = *series;
        auto find = registry::find<Action::find>(series);
        find(&found, key, nullptr, false, true, false, false, nullptr, nullptr, false, false,
             false, false);
        if (found.is(Type::none)) return none::make_at(series);
        set_head(series, head(&found));
        // The key goes too; a count at the integer limit already reaches
        // past any tail.
        if (count < std::numeric_limits<std::int32_t>::max()) ++count;
    }
    if (count < 1) return series;
    const std::int32_t h = head(series);
    if (h >= ks_abs_length(series)) return series;
    const bool owned = check_owner(series, Change::remove, nullptr, h, count);
    SeriesBuffer* b = buffer(series);
    const std::int32_t units = units_of(b);
    if (h < units) {
        const std::int32_t n = std::min<std::int64_t>(count, units - h);
        std::uint8_t* at = unit_at(b, h);
        std::memmove(at, unit_at(b, h + n), std::size_t(units - h - n) << shift_of(b->unit()));
        set_tail_units(b, units - n);
        hash_changed(series, h, n, 0);
    }
    report_owner(owned, series, Change::remove, h, count);
    return series;
}

// ---- reverse

Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    if (ks_tail_q(series)) return series;
    const std::int32_t rest = ks_length(series);
    std::int32_t len = rest;
    if (part) len = std::min(part_length(series, part), rest);
    if (len < 1) return series;
    std::int32_t size = 1;
    if (skip) {
        if (!skip->is(Type::integer)) fire_refine_arg(words::Ref::skip, skip);
        size = int_of(skip);
        if (size < 1) fire_out_of_range(skip);
        if (size == len) return series;
        if (len < size || len % size != 0) fire_refine_arg(words::Ref::skip, skip);
    }
    const std::int32_t h = head(series);
    const bool owned = check_owner(series, Change::reverse, nullptr, h, len);
    SeriesBuffer* b = buffer(series);
    len = std::min(len, units_of(b) - h);
    len -= len % size;
    const std::uint32_t bytes = static_cast<std::uint32_t>(size) * b->unit();
    std::uint8_t* first = unit_at(b, h);
    std::uint8_t* last = unit_at(b, std::int64_t{h} + len - size);
    for (; first < last; first += bytes, last -= bytes) swap_units(first, last, bytes);
    hash_changed(series, h, len, len);
    report_owner(owned, series, Change::reverse, h, len);
    return series;
}

Cell* skip(Cell* series, Cell* offset) {
    set_head(series, get_at_index(series, offset, false));
    return series;
}

Cell* tail(Cell* series) {
    set_head(series, ks_abs_length(series));
    return series;
}

Cell* tail_q(Cell* series) { return logic::make_at(series, ks_tail_q(series)); }

// ---- modify

Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    if (!is_owned_field(field)) return value;
    if (value->is(Type::none)) {
        ownership::unbind(target);
    } else if (value->is(Type::block) && ks_length(value) >= 2) {
        const Cell* pair = buffer(value)->cells() + head(value);
        const Cell owner = pair[0];
        const Cell word = pair[1];
        if (!owner.is(Type::object)) fire(ErrorId::script_invalid_arg, &owner);
        ownership::bind_object(target, &owner, &word);
    }
    return value;
}

constexpr ActionRow actions{
    .random = random_,
    .reflect = reflect,
    .at = at,
    .back = back,
    .clear = clear,
    .copy = copy,
    .head = head_,
    .head_q = head_q,
    .index_q = index_q,
    .length_q = length_q,
    .move = move,
    .next = next,
    .pick = pick,
    .poke = poke,
    .remove = remove,
    .reverse = reverse,
    .skip = skip,
    .tail = tail,
    .tail_q = tail_q,
    .take = take,
    .modify = modify,
};

}  // namespace

// ---- copy

Cell* copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
    const std::int64_t h = head(value);
    const std::int64_t units = ks_abs_length(value);
    std::int64_t start = h;
    std::int64_t count = std::max<std::int64_t>(units - h, 0);
    if (part) {
        if (part->is(Type::pair)) {
            const std::int64_t x = static_cast<std::int32_t>(part->data2);
            const std::int64_t y = static_cast<std::int32_t>(part->data3);
            start = x > 0 ? h + x - 1 : std::max<std::int64_t>(h + x, 0);
            count = std::max<std::int64_t>(y - x, 0);
        } else {
            count = part_length(value, part);
        }
        if (count < 0) {
            start += count;
            count = -count;
            if (start < 0) {
                start = 0;
                count = h;
            }
        }
    }
    if (start > units) count = 0;
    else if (start + count > units) count = units - start;
    const Cell source = *value;
    // GC: the source stays reachable through `source`; re-read its buffer
    // after the allocation.
    make_like(&source, count, result);
    result->header |= source.header & cell_flag::new_line;
    if (count > 0) {
        SeriesBuffer* from = buffer(&source);
        SeriesBuffer* to = buffer(result);
        const std::uint32_t shift = shift_of(from->unit());
        std::memcpy(to->head(), unit_at(from, start), static_cast<std::size_t>(count) << shift);
        set_tail_units(to, count);
    }
    return result;
}

// ---- pick and poke

Cell* pick(Cell* series, int index, Cell*) {
    const std::int64_t h = head(series);
    const std::int64_t p = index > 0 ? h + index - 1 : h + index;
    SeriesBuffer* b = buffer(series);
    if (index == 0 || p < 0 || p >= units_of(b)) return const_cast<Cell*>(&none::value);
    if (b->unit() == 16) return b->cells() + p;
    box_unit(series, unit_at(b, p), b->unit(), series);
    return series;
}

namespace {

// The checks of a poke, made before anything is reported or changed.
void check_poke_value(const Cell* series, const Cell* value) {
    if (series->is(Type::vector)) {
        if (value->type_id() != series->data3) fire(ErrorId::script_invalid_arg, value);
    } else if (series->is(Type::binary)) {
        if (!value->is(Type::integer) && !value->is(Type::char_))
            fire(ErrorId::script_invalid_arg, value);
    } else if (!is_block_like(series->type()) && !series->is(Type::map)) {
        if (!value->is(Type::char_)) fire(ErrorId::script_invalid_arg, value);
    }
}

void store_unit(Cell* series, std::int64_t p, const Cell* value) {
    SeriesBuffer* b = buffer(series);
    if (b->unit() == 16) {
        b->cells()[p] = *value;
        hash_changed(series, static_cast<std::int32_t>(p), 1, 1);
    } else if (series->is(Type::vector)) {
        if (!vector_hooks.set_value) fire(ErrorId::internal_not_done);
        vector_hooks.set_value(unit_at(b, p), value, b->unit());
    } else if (series->is(Type::binary)) {
        *unit_at(b, p) = static_cast<std::uint8_t>(value->data2);
    } else {
        string::overwrite_char(b, p, value->data2);
    }
}

}  // namespace

Cell* poke(Cell* series, int index, Cell* value, Cell*) {
    const std::int64_t h = head(series);
    const std::int64_t p = index > 0 ? h + index - 1 : h + index;
    if (index == 0 || p < 0 || p >= ks_abs_length(series)) {
        Cell n;
        fire_out_of_range(make_integer(&n, index));
    }
    check_poke_value(series, value);
    const Cell saved = *value;
    const bool owned = check_owner(series, Change::poke, &saved, static_cast<std::int32_t>(p), 1);
    // The handler may have shortened the series.
    if (p < ks_abs_length(series)) store_unit(series, p, &saved);
    report_owner(owned, series, Change::poke, static_cast<std::int32_t>(p), 1);
    return value;
}

// ---- take

namespace {

// Where the units of a take come from, and how many: the rules of /part
// and /last over the rest after the head.
struct TakeRange {
    std::int64_t first = 0;
    std::int32_t count = 0;
};

TakeRange take_range(Cell* series, Cell* part, bool last, std::int32_t rest) {
    const std::int64_t h = head(series);
    TakeRange r{h, 1};
    if (!part) {
        if (last) r.first = h + rest - 1;
        return r;
    }
    std::int64_t n;
    if (part->is(Type::integer)) {
        n = int_of(part);
    } else if (same_series(series, part)) {
        const std::int64_t ph = head(part);
        n = ph < h ? 0 : last ? h + rest - ph : ph - h;
    } else {
        fire_refine_arg(words::Ref::part, part);
    }
    if (n <= 0) {
        // Backwards: the units just before the head; nothing with /last.
        // A count of 0 takes nothing.
        r.count = last ? 0 : static_cast<std::int32_t>(std::min<std::int64_t>(-n, h));
        r.first = h - r.count;
        return r;
    }
    r.count = static_cast<std::int32_t>(std::min<std::int64_t>(n, rest));
    r.first = last ? h + rest - r.count : h;
    return r;
}

// Removes the range's units from the series, copying them to `to` first
// (null: dropped). Answers the count removed.
std::int32_t cut_range(Cell* series, TakeRange r, std::uint8_t* to) {
    SeriesBuffer* b = buffer(series);
    const std::int32_t units = units_of(b);
    // The owner's handler may have shortened the series.
    if (r.first >= units) return 0;
    r.count = static_cast<std::int32_t>(std::min<std::int64_t>(r.count, units - r.first));
    const std::size_t bytes = static_cast<std::size_t>(r.count) << shift_of(b->unit());
    std::uint8_t* from = unit_at(b, r.first);
    if (to) std::memcpy(to, from, bytes);
    std::memmove(from, from + bytes, b->tail - cage::offset_of(from) - bytes);
    b->tail -= static_cast<std::uint32_t>(bytes);
    hash_changed(series, static_cast<std::int32_t>(r.first), r.count, 0);
    return r.count;
}

Cell* take_units(Cell* series, Cell* part, bool last, bool unwrap) {
    const std::int32_t rest = ks_length(series);
    if (rest < 1) return none::make_at(series);
    const TakeRange r = take_range(series, part, last, rest);
    const std::int32_t first = static_cast<std::int32_t>(r.first);
    if (!part && unwrap) {
        // One unit, answered as a value: no series is made for it.
        const bool owned = check_owner(series, Change::take, nullptr, first, 1);
        SeriesBuffer* b = buffer(series);
        if (r.first >= units_of(b)) return none::make_at(series);
        Cell value;
        box_unit(series, unit_at(b, r.first), b->unit(), &value);
        cut_range(series, r, nullptr);
        report_owner(owned, series, Change::take, first, 1);
        *series = value;
        return series;
    }
    Cell result;
    make_like(series, r.count, &result);
    if (r.count > 0) {
        const bool owned = check_owner(series, Change::take, nullptr, first, r.count);
        const std::int32_t n = cut_range(series, r, buffer(&result)->head());
        set_tail_units(buffer(&result), n);
        hash_changed(&result, 0, 0, n);
        report_owner(owned, series, Change::take, first, n);
    }
    *series = result;
    return series;
}

}  // namespace

Cell* take(Cell* series, Cell* part, bool, bool last) {
    return take_units(series, part, last, false);
}

Cell* take_value(Cell* series, Cell* part, bool last) {
    return take_units(series, part, last, true);
}

void init() { registry::register_type(Type::series, registry::no_parent, "series!", actions); }

}  // namespace kiv::series
