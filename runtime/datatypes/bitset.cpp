// bitset!: bits, growth, the spec walker and the set operations; then the
// actions in action order and the registration.
#include "runtime/datatypes/bitset.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/ownership.h"

namespace kiv::bitset {

namespace {

using memory::SeriesBuffer;

constexpr std::uint32_t complement_flag = memory::series_flag::complement;

std::int64_t byte_count(const Cell* value) { return buffer(value)->used_bytes(); }
std::uint8_t* bytes(const Cell* value) { return buffer(value)->head(); }
std::uint8_t mask(std::int64_t n) { return static_cast<std::uint8_t>(128u >> (n & 7)); }

Cell make_cell(NodeId node) { return Cell{static_cast<std::uint32_t>(Type::bitset), 0, node, 0}; }

// Makes bit n writable: the buffer grows to (n >> 3) + 1 bytes, the new
// ones 0xFF for a complemented set and 0 for a plain one.
// GC: may move the buffer.
void grow_to(Cell* value, std::int64_t n) {
    const std::int64_t needed = (n >> 3) + 1;
    SeriesBuffer* b = buffer(value);
    const std::int64_t used = b->used_bytes();
    if (needed <= used) return;
    const std::uint8_t fill = (b->flags & complement_flag) ? 0xFF : 0x00;
    if (needed - used > b->room()) {
        b = memory::expand_series(b, std::max(needed, 2 * std::int64_t{b->size}));
    }
    std::memset(b->head() + used, fill, static_cast<std::size_t>(needed - used));
    b->set_tail(b->head() + needed);
}

bool in_range(const Cell* value, std::int64_t n) { return (n >> 3) < byte_count(value); }

void set_bit(Cell* value, std::int64_t n) {
    if (!in_range(value, n)) {
        if (complemented_q(value)) return;  // a member already
        grow_to(value, n);
    }
    bytes(value)[n >> 3] |= mask(n);
}

void clear_bit(Cell* value, std::int64_t n) {
    if (!in_range(value, n)) {
        if (!complemented_q(value)) return;  // not a member anyway
        grow_to(value, n);
    }
    bytes(value)[n >> 3] &= static_cast<std::uint8_t>(~mask(n));
}

[[noreturn, gnu::cold]] void fire_spec(const Cell* value, SpecMode mode) {
    if (mode == SpecMode::other) fire(ErrorId::script_invalid_arg, value);
    Cell type;
    registry::make_datatype(&type, Type::bitset);
    fire(mode == SpecMode::make ? ErrorId::script_bad_make_arg : ErrorId::script_bad_to_arg, &type, value);
}

// The bit number a char!, integer! or float! names; a negative or
// non-finite one is refused like a value of the wrong type.
std::int64_t bit_of(const Cell* v, SpecMode mode) {
    std::int64_t n;
    switch (v->type()) {
        case Type::char_: return v->data2;
        case Type::integer: n = integer::get(v); break;
        default: {
            const double d = std::trunc(float_::get(v));
            if (!(d >= 0 && d <= 2147483647.0)) fire_spec(v, mode);
            n = static_cast<std::int64_t>(d);
        }
    }
    if (n < 0) fire_spec(v, mode);
    return n;
}

struct Walk {
    Cell* bitset;
    SpecOp op;
    SpecMode mode;
    std::int64_t max = -1;
    bool all = true;
};

void apply_range(Walk& w, std::int64_t low, std::int64_t high) {
    switch (w.op) {
        case SpecOp::max: w.max = std::max(w.max, high); return;
        case SpecOp::test:
            for (std::int64_t n = low; n <= high && w.all; ++n) w.all = member_q(w.bitset, n);
            return;
        case SpecOp::set:
            if (!complemented_q(w.bitset)) grow_to(w.bitset, high);
            for (std::int64_t n = low; n <= high; ++n) set_bit(w.bitset, n);
            return;
        case SpecOp::clear:
            if (complemented_q(w.bitset)) grow_to(w.bitset, high);
            for (std::int64_t n = low; n <= high; ++n) clear_bit(w.bitset, n);
            return;
    }
}

void walk_string(Walk& w, const Cell* value) {
    Cell s = *value;
    const std::int32_t length = string::ks_length(&s);
    for (std::int32_t k = 0; k < length && w.all; ++k) {
        const std::int64_t n = string::ks_abs_at(&s, static_cast<std::int32_t>(s.data1) + k);
        apply_range(w, n, n);
    }
}

void walk_one(Walk& w, const Cell* v) {
    switch (v->type()) {
        case Type::char_:
        case Type::integer:
        case Type::float_: {
            const std::int64_t n = bit_of(v, w.mode);
            apply_range(w, n, n);
            return;
        }
        case Type::string: walk_string(w, v); return;
        default: fire_spec(v, w.mode);
    }
}

// A block's elements; `a - b` of two chars or two integers is a range.
void walk_block(Walk& w, const Cell* block) {
    const std::uint32_t length = memory::buffer_of(block->data2)->length();
    for (std::uint32_t k = block->data1; k < length && w.all; ++k) {
        // GC: growth never touches the block, but re-read its cells anyway
        // after every step, as the walk may allocate.
        const Cell v = memory::buffer_of(block->data2)->cells()[k];
        if (v.is(Type::binary)) fire(ErrorId::internal_not_done);
        const bool rangeable = v.is(Type::char_) || v.is(Type::integer);
        const Cell* after = k + 1 < length ? memory::buffer_of(block->data2)->cells() + k + 1 : nullptr;
        if (!rangeable || !after || !after->is(Type::word) || !words::is(after, words::Sym::dash)) {
            walk_one(w, &v);
            continue;
        }
        if (k + 2 >= length) fire(ErrorId::script_past_end);
        const Cell end = memory::buffer_of(block->data2)->cells()[k + 2];
        if (end.type() != v.type()) fire(ErrorId::script_invalid_arg, &end);
        const std::int64_t low = bit_of(&v, w.mode);
        const std::int64_t high = bit_of(&end, w.mode);
        if (high < low) fire(ErrorId::script_past_end);
        apply_range(w, low, high);
        k += 2;
    }
}

}  // namespace

bool complemented_q(const Cell* value) { return (buffer(value)->flags & complement_flag) != 0; }

Cell* make_at(Cell* out, std::int64_t count) {
    const NodeId node = memory::alloc_filled_bytes(count, 0);
    SeriesBuffer* b = memory::buffer_of(node);
    b->set_tail(b->head() + count);
    *out = make_cell(node);
    return out;
}

bool member_q(const Cell* value, std::int64_t n) {
    if (n < 0) return false;
    if (!in_range(value, n)) return complemented_q(value);
    return (bytes(value)[n >> 3] & mask(n)) != 0;
}

std::int64_t process_spec(const Cell* spec, Cell* bitset, SpecOp op, SpecMode mode) {
    Walk w{bitset, op, mode};
    if (spec->is(Type::block)) {
        walk_block(w, spec);
    } else {
        walk_one(w, spec);
    }
    if (op == SpecOp::max) return w.max;
    if (op == SpecOp::test) return w.all ? 1 : 0;
    return 0;
}

namespace {

std::uint8_t combine(SetOp op, std::uint8_t a, std::uint8_t b) {
    switch (op) {
        case SetOp::or_:
        case SetOp::union_: return a | b;
        case SetOp::and_:
        case SetOp::intersect: return a & b;
        case SetOp::xor_:
        case SetOp::difference: return a ^ b;
        case SetOp::exclude: return static_cast<std::uint8_t>(a & ~b);
        case SetOp::first: break;
    }
    return a;
}

}  // namespace

// Each byte combines the two sets' bytes, a byte beyond a set's buffer
// standing for what lies there (0xFF when complemented, else 0), and the
// complement flags combine the same way, so the result is right beyond its
// own buffer too.
Cell* do_bitwise(Cell* left, Cell* right, SetOp op) {
    if (!right->is(Type::bitset)) integer::fire_invalid_type(right);
    if (op == SetOp::first) return left;
    const Cell a = *left;
    const Cell b = *right;
    const bool fa = complemented_q(&a);
    const bool fb = complemented_q(&b);
    const std::int64_t la = byte_count(&a);
    const std::int64_t lb = byte_count(&b);
    std::int64_t length = std::max(la, lb);
    const bool and_op = op == SetOp::and_;
    if (and_op && ((la < lb && !fa) || (lb < la && !fb))) length = std::min(la, lb);
    const bool flag = combine(op, fa ? 1 : 0, fb ? 1 : 0) & 1;
    Cell result;
    make_at(&result, length);
    std::uint8_t* out = bytes(&result);
    const std::uint8_t* pa = bytes(&a);
    const std::uint8_t* pb = bytes(&b);
    for (std::int64_t k = 0; k < length; ++k) {
        const std::uint8_t x = k < la ? pa[k] : (fa ? 0xFF : 0);
        const std::uint8_t y = k < lb ? pb[k] : (fb ? 0xFF : 0);
        out[k] = combine(op, x, y);
    }
    if (flag) buffer(&result)->flags |= complement_flag;
    *left = result;
    return left;
}

// ---------------------------------------------------------------------------
// Actions.

namespace {

// The owner of the set's buffer hears of a change before (the action's
// word) and after it (the past tense).
void notify(Cell* value, const Cell* word, const Cell* new_value) {
    if (!(buffer(value)->flags & ownership::owned_flag)) return;
    ownership::check(value, word, new_value, 0, 0);
}

template <class Id>
Cell word_of(Id id) {
    Cell w;
    words::word(id, &w);
    return w;
}

Cell* copy_into(Cell* out, const Cell* value) {
    const NodeId node = memory::copy_series(buffer(value));
    *out = make_cell(node);
    return out;
}

Cell* from_binary(Cell* out, const Cell* binary, bool inverted) {
    SeriesBuffer* source = memory::buffer_of(binary->data2);
    const std::int64_t length = binary->data1 < source->used_bytes() ? source->used_bytes() - binary->data1 : 0;
    make_at(out, length);
    // GC: the source is re-read after the allocation.
    const std::uint8_t* from = memory::buffer_of(binary->data2)->head() + binary->data1;
    std::uint8_t* to = bytes(out);
    for (std::int64_t k = 0; k < length; ++k) to[k] = inverted ? static_cast<std::uint8_t>(~from[k]) : from[k];
    if (inverted) buffer(out)->flags |= complement_flag;
    return out;
}

// Sizes the buffer for the largest number named, then sets them, or clears
// them from a full buffer for a `not` spec.
Cell* from_spec(Cell* out, const Cell* spec, bool negated, SpecMode mode) {
    const std::int64_t max = process_spec(spec, nullptr, SpecOp::max, mode);
    const std::int64_t count = std::max<std::int64_t>((max + 8) / 8, 1);
    Cell result;
    make_at(&result, count);
    if (negated) {
        std::memset(bytes(&result), 0xFF, static_cast<std::size_t>(count));
        buffer(&result)->flags |= complement_flag;
    }
    process_spec(spec, &result, negated ? SpecOp::clear : SpecOp::set, mode);
    *out = result;
    return out;
}

Cell* make_or_to(Cell* proto, Cell* spec, SpecMode mode) {
    switch (spec->type()) {
        case Type::integer:
        case Type::float_: {
            if (mode == SpecMode::to) fire_spec(spec, mode);
            const double n = spec->is(Type::integer) ? integer::get(spec) : std::trunc(float_::get(spec));
            if (!(n >= 0)) fire(ErrorId::script_out_of_range, spec);
            if (n > 2147483647.0) fire(ErrorId::internal_no_memory);
            return make_at(proto, (static_cast<std::int64_t>(n) + 7) / 8);
        }
        case Type::bitset: return copy_into(proto, spec);
        case Type::binary: return from_binary(proto, spec, false);
        case Type::block: {
            SeriesBuffer* b = memory::buffer_of(spec->data2);
            const Cell* first = spec->data1 < b->length() ? b->cells() + spec->data1 : nullptr;
            if (!first || !first->is(Type::word) || !words::is(first, words::Sym::not_)) {
                return from_spec(proto, spec, false, mode);
            }
            Cell rest = *spec;
            rest.data1 += 1;
            const Cell* second = rest.data1 < b->length() ? b->cells() + rest.data1 : nullptr;
            if (second && second->is(Type::binary)) return from_binary(proto, second, true);
            return from_spec(proto, &rest, true, mode);
        }
        default: return from_spec(proto, spec, false, mode);
    }
}

Cell* make(Cell* proto, Cell* spec, Type) { return make_or_to(proto, spec, SpecMode::make); }

Cell* reflect(Cell* value, Cell* field) {
    if (!field->is(Type::word) || !words::is(field, words::Sym::owned)) fire(ErrorId::internal_not_done);
    const Cell* owner = ownership::get_owner(node(value));
    if (!owner) return none::make_at(value);
    *value = *owner;
    return value;
}

Cell* to(Cell* proto, Cell* spec, Type) { return make_or_to(proto, spec, SpecMode::to); }

int form(Cell* value, Cell* buffer_cell, Cell* part_arg, int part) {
    const bool negated = complemented_q(value);
    std::string text = negated ? "make bitset! [not #{" : "make bitset! #{";
    const std::int64_t count = byte_count(value);
    const std::uint8_t* b = bytes(value);
    static constexpr char hex[] = "0123456789ABCDEF";
    for (std::int64_t k = 0; k < count; ++k) {
        if (part_arg && static_cast<std::int64_t>(text.size()) >= part) break;
        const std::uint8_t byte = negated ? static_cast<std::uint8_t>(~b[k]) : b[k];
        text.push_back(hex[byte >> 4]);
        text.push_back(hex[byte & 15]);
    }
    text += negated ? "}]" : "}";
    if (part_arg && static_cast<std::int64_t>(text.size()) > part) text.resize(part > 0 ? part : 0);
    string::append_bytes(buffer_cell, text.data(), static_cast<std::int64_t>(text.size()));
    return part - static_cast<int>(text.size());
}

int mold(Cell* value, Cell* buffer_cell, bool, bool, bool, Cell* part_arg, int part, int) {
    return form(value, buffer_cell, part_arg, part);
}

Cell* pick_spec(Cell* series, const Cell* spec) {
    const bool member = process_spec(spec, series, SpecOp::test, SpecMode::other) != 0;
    return logic::make_at(series, member);
}

bool clears(const Cell* value) {
    switch (value->type()) {
        case Type::none: return true;
        case Type::logic: return !logic::get(value);
        case Type::integer: return integer::get(value) == 0;
        case Type::float_: return value->data2 == 0 && (value->data3 & 0x7FFFFFFF) == 0;
        default: return false;
    }
}

// Sets or clears the spec's bits by the value, telling the owner.
void poke_spec(Cell* series, const Cell* spec, const Cell* value) {
    const Cell poke = word_of(words::W::poke);
    notify(series, &poke, value);
    process_spec(spec, series, clears(value) ? SpecOp::clear : SpecOp::set, SpecMode::other);
    const Cell poked = word_of(words::W::poked);
    notify(series, &poked, value);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell*, Cell*, int, bool, bool, bool, bool) {
    if (!element->is(Type::integer) && !element->is(Type::char_)) integer::fire_invalid_type(element);
    if (!value) {
        static Cell path_result;  // a logic!, which names no series
        path_result = *parent;
        return pick_spec(&path_result, element);
    }
    poke_spec(parent, element, value);
    return value;
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(Type::bitset)) return not_comparable;
    if (op == CompareOp::same) return node(value1) == node(value2) ? 0 : 1;
    const std::int64_t l1 = byte_count(value1);
    const std::int64_t l2 = byte_count(value2);
    if (l1 != l2) return l1 < l2 ? -1 : 1;
    if (l1 == 0) return 0;
    const bool f1 = complemented_q(value1);
    const bool f2 = complemented_q(value2);
    if (f1 != f2) return f1 ? 1 : -1;
    const std::uint8_t* a = bytes(value1);
    const std::uint8_t* b = bytes(value2);
    for (std::int64_t k = l1 - 1; k >= 0; --k) {
        if (a[k] != b[k]) return a[k] < b[k] ? -1 : 1;
    }
    return 0;
}

Cell* complement(Cell* value) {
    Cell result;
    copy_into(&result, value);
    std::uint8_t* b = bytes(&result);
    for (std::int64_t k = 0, n = byte_count(&result); k < n; ++k) b[k] = static_cast<std::uint8_t>(~b[k]);
    buffer(&result)->flags ^= complement_flag;
    *value = result;
    return value;
}

Cell* and_(Cell* value1, Cell* value2) { return do_bitwise(value1, value2, SetOp::and_); }
Cell* or_(Cell* value1, Cell* value2) { return do_bitwise(value1, value2, SetOp::or_); }
Cell* xor_(Cell* value1, Cell* value2) { return do_bitwise(value1, value2, SetOp::xor_); }

Cell* append(Cell* series, Cell* value, int, bool, int, bool appending) {
    const Cell before = appending ? word_of(words::W::append) : word_of(words::Sym::insert);
    const Cell after = appending ? word_of(words::W::appended) : word_of(words::W::inserted);
    notify(series, &before, value);
    process_spec(value, series, SpecOp::set, SpecMode::other);
    notify(series, &after, value);
    return series;
}

Cell* clear(Cell* series) {
    const Cell before = word_of(words::W::clear);
    notify(series, &before, nullptr);
    const std::uint8_t fill = complemented_q(series) ? 0xFF : 0;
    std::memset(bytes(series), fill, static_cast<std::size_t>(byte_count(series)));
    const Cell after = word_of(words::W::cleared);
    notify(series, &after, nullptr);
    return series;
}

Cell* copy(Cell* value, Cell* result, Cell*, bool, Cell*) {
    const Cell source = *value;
    return copy_into(result, &source);
}

Cell* find(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool, bool) {
    if (process_spec(value, series, SpecOp::test, SpecMode::other) != 0) return logic::make_at(series, true);
    return none::make_at(series);
}

// A bitset of 2^31 bits (`make bitset! 2147483647` rounds up to whole
// bytes) has a length past the integer range.
int length_q(Cell* series) {
    const std::int64_t bits = static_cast<std::int64_t>(byte_count(series)) * 8;
    if (bits > std::numeric_limits<std::int32_t>::max()) fire(ErrorId::math_overflow);
    return static_cast<int>(bits);
}

Cell* pick(Cell* series, int index, Cell* index_arg) {
    const Cell spec = index_arg ? *index_arg : integer::make_cell(index);
    return pick_spec(series, &spec);
}

Cell* poke(Cell* series, int index, Cell* value, Cell* index_arg) {
    const Cell spec = index_arg ? *index_arg : integer::make_cell(index);
    poke_spec(series, &spec, value);
    return value;
}

Cell* remove(Cell* series, Cell* part, Cell*) {
    if (!part) fire(ErrorId::script_missing_arg);
    const Cell before = word_of(words::Sym::remove);
    notify(series, &before, part);
    process_spec(part, series, SpecOp::clear, SpecMode::other);
    const Cell after = word_of(words::W::removed);
    notify(series, &after, part);
    return series;
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    if (!field->is(Type::word) || !words::is(field, words::Sym::owned)) fire(ErrorId::internal_not_done);
    if (value->is(Type::none)) {
        ownership::unbind(target);
    } else if (value->is(Type::block)) {
        SeriesBuffer* b = memory::buffer_of(value->data2);
        if (b->length() < value->data1 + 2) fire(ErrorId::script_invalid_arg, value);
        const Cell owner = b->cells()[value->data1];
        const Cell word = b->cells()[value->data1 + 1];
        if (!owner.is(Type::object)) fire(ErrorId::script_invalid_arg, &owner);
        ownership::bind(target, &owner, &word);
    }
    return value;
}

constexpr ActionRow actions{
    .make = make,
    .reflect = reflect,
    .to = to,
    .form = form,
    .mold = mold,
    .eval_path = eval_path,
    .compare = compare,
    .negate = complement,
    .and_ = and_,
    .complement = complement,
    .or_ = or_,
    .xor_ = xor_,
    .append = append,
    .clear = clear,
    .copy = copy,
    .find = find,
    .insert = append,
    .length_q = length_q,
    .pick = pick,
    .poke = poke,
    .remove = remove,
    .modify = modify,
};

}  // namespace

void init() { registry::register_type(Type::bitset, registry::no_parent, "bitset!", actions); }

}  // namespace kiv::bitset
