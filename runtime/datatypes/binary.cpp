// binary!: the low-level helpers, conversion, comparison and the text form,
// then the actions in action order, then the registration. The coders are in
// binary-coders.cpp.
#include "runtime/datatypes/binary.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/cycles.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/ownership.h"
#include "runtime/unicode.h"

namespace kiv::binary {

using memory::SeriesBuffer;

// ---------------------------------------------------------------------------
// Access and makers.

std::int32_t ks_length(Cell* value) {
    const std::uint32_t used = buffer(value)->used_bytes();
    if (value->data1 >= used) {
        value->data1 = used;
        return 0;
    }
    return static_cast<std::int32_t>(used - value->data1);
}

std::uint8_t* ks_head(Cell* value) {
    SeriesBuffer* b = buffer(value);
    if (value->data1 > b->used_bytes()) value->data1 = b->used_bytes();
    return b->head() + value->data1;
}

std::uint8_t get_byte(const Cell* value, std::int32_t offset) { return buffer(value)->head()[offset]; }

std::uint8_t* append_bytes(Cell* value, const std::uint8_t* source, std::int32_t n) {
    std::uint8_t* at = memory::alloc_tail_bytes(buffer(value), n);
    if (n > 0) std::memcpy(at, source, static_cast<std::size_t>(n));
    return at;
}

std::uint8_t* insert_bytes(Cell* value, std::int32_t offset, const std::uint8_t* source,
                           std::int32_t n) {
    ks_head(value);  // clamps the index
    SeriesBuffer* b = buffer(value);
    if (b->room() < static_cast<std::uint32_t>(n)) {
        b = memory::expand_series(b, std::int64_t{n} + 2 * std::int64_t{b->size});
    }
    const std::uint32_t used = b->used_bytes();
    const std::uint32_t at = std::min(value->data1 + static_cast<std::uint32_t>(offset), used);
    std::uint8_t* p = b->head() + at;
    std::memmove(p + n, p, used - at);
    std::memcpy(p, source, static_cast<std::size_t>(n));
    b->tail += static_cast<std::uint32_t>(n);
    return p;
}

void write_int32(std::int32_t n, Cell* value) {
    SeriesBuffer* b = buffer(value);
    const auto u = static_cast<std::uint32_t>(n);
    std::uint8_t* p = b->tail_ptr();
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(u >> (24 - 8 * i));
    b->tail += 4;
}

Cell* make_at(Cell* cell, std::int64_t capacity) {
    // The cell names no buffer while the allocation may collect.
    *cell = Cell{static_cast<std::uint32_t>(Type::unset), 0, 0, 0};
    const NodeId node = memory::alloc_bytes(capacity);
    *cell = Cell{static_cast<std::uint32_t>(Type::binary), 0, node, 0};
    return cell;
}

Cell* load_at(Cell* cell, const std::uint8_t* source, std::int64_t n) {
    make_at(cell, n);
    SeriesBuffer* b = buffer(cell);
    if (n > 0) std::memcpy(b->head(), source, static_cast<std::size_t>(n));
    b->tail = b->offset + static_cast<std::uint32_t>(n);
    return cell;
}

Cell* load_in(Cell* block, const std::uint8_t* source, std::int64_t n) {
    Cell value;
    load_at(&value, source, n);
    Cell* slot = memory::append_slot(block);
    *slot = value;
    return slot;
}

void set_value(std::uint8_t* dst, const Cell* value) {
    if (!value->is(Type::integer) && !value->is(Type::char_)) fire(ErrorId::script_invalid_arg, value);
    *dst = static_cast<std::uint8_t>(value->data2);
}

// ---------------------------------------------------------------------------
// Comparison.

namespace {

bool is_text(Type t) {
    switch (t) {
        case Type::string:
        case Type::file:
        case Type::url:
        case Type::tag:
        case Type::email:
        case Type::ref: return true;
        default: return false;
    }
}

bool is_equality(CompareOp op) {
    return op == CompareOp::equal || op == CompareOp::not_equal || op == CompareOp::strict_equal ||
           op == CompareOp::find;
}

// The units of a binary or a string-family value from its index.
struct Units {
    const std::uint8_t* p;
    std::int32_t count;
    std::uint32_t unit;
    std::uint32_t at(std::int32_t i) const { return unicode::unit_at(p + std::size_t(i) * unit, static_cast<int>(unit)); }
};

Units units_of(Cell* value) {
    if (value->is(Type::binary)) {
        const std::int32_t n = ks_length(value);
        return {ks_head(value), n, 1};
    }
    const std::int32_t n = string::ks_length(value);
    return {string::ks_head(value), n, string::buffer(value)->unit()};
}

}  // namespace

int compare_bytes(Cell* value1, Cell* value2, CompareOp op, bool match) {
    if (!value2->is(Type::binary) && !is_text(value2->type())) return not_comparable;
    const bool same_view = value1->data2 == value2->data2 && value1->data1 == value2->data1;
    if (op == CompareOp::same) return same_view ? 0 : -1;
    if (same_view && is_equality(op)) return 0;
    const Units a = units_of(value1);
    const Units b = units_of(value2);
    std::int32_t n;
    if (match) {
        if (b.count == 0) return op == CompareOp::not_equal || is_ordering(op) ? 1 : 0;
        // Past the first value's tail there is nothing to match.
        if (a.count < b.count) return 1;
        n = b.count;
    } else {
        if (a.count != b.count && is_equality(op)) return 1;
        n = std::min(a.count, b.count);
    }
    for (std::int32_t i = 0; i < n; ++i) {
        const std::uint32_t x = a.at(i);
        const std::uint32_t y = b.at(i);
        if (x != y) return x < y ? -1 : 1;
    }
    if (match) return 0;
    return (a.count > b.count) - (a.count < b.count);
}

bool byte_in_bitset(Cell* binary, const Cell* bitset) {
    if (ks_length(binary) == 0) return false;
    const std::uint8_t byte = *ks_head(binary);
    SeriesBuffer* bits = memory::buffer_of(bitset->data2);
    if (byte / 8u >= bits->used_bytes()) return (bits->flags & memory::series_flag::complement) != 0;
    return (bits->head()[byte / 8] & (0x80 >> (byte % 8))) != 0;
}

bool match_value(Cell* binary, Cell* value, CompareOp op) {
    if (value->is(Type::binary) || is_text(value->type())) return compare_bytes(binary, value, op, true) == 0;
    if (value->is(Type::char_)) return ks_length(binary) > 0 && *ks_head(binary) == value->data2;
    return false;
}

// ---------------------------------------------------------------------------
// The bytes of a value.

namespace {

std::int64_t cut(std::int64_t n, std::int64_t limit) { return limit > 0 && limit < n ? limit : n; }

// UTF-8 of a string-family value from its index: its size, and the first n
// bytes of it written to dst.
std::int64_t text_size(Cell* text) {
    const std::uint8_t* head = string::ks_head(text);
    const std::uint32_t unit = string::buffer(text)->unit();
    return static_cast<std::int64_t>(
        unicode::utf8_size(head, head + std::size_t(string::ks_length(text)) * unit, static_cast<int>(unit)));
}

void write_text(Cell* text, std::uint8_t* dst, std::int64_t n) {
    const std::uint8_t* head = string::ks_head(text);
    const auto unit = static_cast<int>(string::buffer(text)->unit());
    unicode::units_to_utf8_bounded(head, static_cast<std::size_t>(string::ks_length(text)), unit, dst,
                                   static_cast<std::size_t>(n));
}

std::int64_t text_bytes(std::uint8_t* dst, Cell* text, std::int64_t limit) {
    const std::int64_t n = cut(text_size(text), limit);
    if (dst) write_text(text, dst, n);
    return n;
}

std::int64_t char_bytes(std::uint8_t* dst, std::uint32_t cp, std::int64_t limit) {
    std::uint8_t utf8[4];
    const int size = unicode::encode_utf8_char(cp, utf8);
    const std::int64_t n = cut(size, limit);
    if (dst) std::memcpy(dst, utf8, static_cast<std::size_t>(n));
    return n;
}

std::int64_t copy_bytes(std::uint8_t* dst, const std::uint8_t* source, std::int64_t size, std::int64_t limit) {
    const std::int64_t n = cut(size, limit);
    if (dst) std::memmove(dst, source, static_cast<std::size_t>(n));
    return n;
}

// The elements of a block from its index, each by insert_value. The limit
// counts elements, or bytes with `counts_bytes` (no limit when negative).
std::int64_t block_bytes(std::uint8_t* dst, Cell* block, std::int64_t limit, bool counts_bytes, Mode mode) {
    const NodeId node = block->data2;
    const std::uint32_t first = block->data1;
    const std::uint32_t length = memory::buffer_of(node)->length();
    const std::int64_t count = first < length ? length - first : 0;
    if (!counts_bytes && (limit < 0 || limit > count)) limit = count;
    if (counts_bytes && limit < 0) limit = INT64_MAX;
    // A block that holds itself ends in the guard's too-deep error.
    cycles::Guard guard;
    cycles::push(node);
    std::int64_t total = 0;
    for (std::uint32_t i = first; limit > 0 && i < memory::buffer_of(node)->length(); ++i) {
        Cell item = memory::buffer_of(node)->cells()[i];
        const std::int64_t n =
            insert_value(dst ? dst + total : nullptr, &item, counts_bytes ? limit : -1, counts_bytes, mode);
        total += n;
        limit -= counts_bytes ? n : 1;
    }
    return total;
}

}  // namespace

std::int64_t insert_value(std::uint8_t* dst, Cell* value, std::int64_t limit, bool limit_counts_bytes,
                          Mode mode) {
    if (mode == Mode::measure) dst = nullptr;
    switch (value->type()) {
        case Type::char_: return char_bytes(dst, value->data2, limit);
        case Type::integer: {
            // Checked when measuring too, so that a bad value is refused
            // before the target changes.
            const std::int32_t n = integer::get(value);
            if (n < -128 || n > 255) fire(ErrorId::script_invalid_arg, value);
            if (dst) *dst = static_cast<std::uint8_t>(n);
            return 1;
        }
        case Type::binary: return copy_bytes(dst, ks_head(value), ks_length(value), limit);
        case Type::tuple: return copy_bytes(dst, tuple::bytes(value), tuple::length(value), limit);
        case Type::block:
        case Type::paren:
        case Type::hash: return block_bytes(dst, value, limit, limit_counts_bytes, mode);
        case Type::string:
        case Type::file:
        case Type::url:
        case Type::tag:
        case Type::email:
        case Type::ref: return text_bytes(dst, value, limit);
        default: break;
    }
    if (mode != Mode::change) registry::fire_bad_to(Type::binary, value);
    Cell text;
    string::make_at(&text, 16);
    registry::find<Action::form>(value)(value, &text, nullptr, 0);
    return text_bytes(dst, &text, limit);
}

// ---------------------------------------------------------------------------
// Conversion.

Cell* from_issue(const Cell* issue, Cell* result) {
    const std::string_view name = symbol::text(issue->data2);
    const std::string spelling(name);  // the symbol block may move while decoding allocates
    const NodeId node = decode_16(reinterpret_cast<const std::uint8_t*>(spelling.data()),
                                  static_cast<std::int64_t>(spelling.size()), 1);
    if (!node) fire(ErrorId::script_invalid_data, issue);
    *result = Cell{static_cast<std::uint32_t>(Type::binary), 0, node, 0};
    return result;
}

namespace {

// The big-endian bytes of a number's bits.
template <class U>
Cell* load_big_endian(Cell* result, U bits) {
    std::uint8_t b[sizeof(U)];
    for (std::size_t i = 0; i < sizeof(U); ++i) b[i] = static_cast<std::uint8_t>(bits >> (8 * (sizeof(U) - 1 - i)));
    return load_at(result, b, sizeof(U));
}

Cell* text_to_binary(Cell* result, Cell* text) {
    const std::int64_t n = text_size(text);
    make_at(result, n);
    SeriesBuffer* b = buffer(result);
    write_text(text, b->head(), n);
    b->tail = b->offset + static_cast<std::uint32_t>(n);
    return result;
}

Cell* insert_series(Cell* series, Cell* value, int part, bool only, int dup, bool append);

}  // namespace

Cell* to_binary(Cell* result, Cell* spec) {
    Cell r;
    switch (spec->type()) {
        case Type::block:
        case Type::paren:
        case Type::hash:
            make_at(&r, 16);
            insert_series(&r, spec, -1, false, 1, true);
            break;
        case Type::string:
        case Type::file:
        case Type::url:
        case Type::tag:
        case Type::email:
        case Type::ref: text_to_binary(&r, spec); break;
        case Type::char_: {
            std::uint8_t utf8[4];
            load_at(&r, utf8, unicode::encode_utf8_char(spec->data2, utf8));
            break;
        }
        case Type::integer: load_big_endian(&r, spec->data2); break;
        case Type::float_:
        case Type::percent: load_big_endian(&r, std::bit_cast<std::uint64_t>(float_::get(spec))); break;
        case Type::issue: from_issue(spec, &r); break;
        case Type::bitset: {
            SeriesBuffer* bits = memory::buffer_of(spec->data2);
            load_at(&r, bits->head(), bits->used_bytes());
            break;
        }
        case Type::tuple: load_at(&r, tuple::bytes(spec), tuple::length(spec)); break;
        case Type::binary: load_at(&r, ks_head(spec), ks_length(spec)); break;
        case Type::image: image::extract_data(spec, 2, &r); break;
        default: registry::fire_bad_to(Type::binary, spec);
    }
    *result = r;
    return result;
}

// ---------------------------------------------------------------------------
// Trimming and the text form.

void trim_zeros(Cell* value, bool head, bool tail) {
    std::uint8_t* p = ks_head(value);
    std::int32_t start = 0;
    std::int32_t end = ks_length(value);
    if (head) {
        while (start < end && p[start] == 0) ++start;
    }
    if (tail) {
        while (end > start && p[end - 1] == 0) --end;
    }
    std::memmove(p, p + start, static_cast<std::size_t>(end - start));
    buffer(value)->set_tail(p + (end - start));
}

int serialize(Cell* value, Cell* out, bool only, bool, bool flat, Cell* part_arg, int part,
              int indent) {
    constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    if (!only) {
        text += "#{";
        part -= 2;
    }
    const std::int32_t n = ks_length(value);
    const bool rows = n > 30 && !flat;
    int level = indent + 1;
    const auto new_line = [&](int at_level) {
        text += '\n';
        text.append(static_cast<std::size_t>(4 * at_level), ' ');
    };
    if (rows) {
        new_line(level);
        part -= 4 * level;
    }
    const std::uint8_t* p = ks_head(value);
    for (std::int32_t i = 0; i < n; ++i) {
        text += digits[p[i] >> 4];
        text += digits[p[i] & 15];
        part -= 2;
        if (rows && (i + 1) % 32 == 0) {
            new_line(level);
            part -= 4 * level + 1;
        }
        if (part_arg && part <= 0) {
            string::append_literal(out, text.c_str());
            return part;
        }
    }
    --level;
    if (rows && n % 32 != 0) new_line(level);
    if (!only) {
        text += '}';
        part -= 1;
    }
    string::append_literal(out, text.c_str());
    return part;
}

// ---------------------------------------------------------------------------
// Actions.

namespace {

// Tells an owner of the binary's buffer of a change.
void notify(Cell* series, words::W action, Cell* value, std::int32_t index, std::int32_t part) {
    if (!(buffer(series)->flags & ownership::owned_flag)) return;
    Cell word;
    words::word(action, &word);
    ownership::check(series, &word, value, index, part);
}

[[noreturn]] void fire_no_memory() { fire(ErrorId::internal_no_memory); }

// The bytes a value contributes, written once and repeated `dup` times.
// They are gathered apart before the target changes, so a value that is the
// target itself (or holds it) reads its bytes as they were.
std::vector<std::uint8_t> gather(Cell* value, std::int64_t limit, Mode mode, int dup) {
    const std::int64_t n = insert_value(nullptr, value, limit, false, mode == Mode::write ? Mode::measure : mode);
    const std::int64_t copies = std::max(dup, 0);
    if (n > 0 && copies > 0x7FFFFFFF / n) fire_no_memory();
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n * copies));
    if (bytes.empty()) return bytes;
    insert_value(bytes.data(), value, limit, false, mode);
    // The pattern repeat: each copy doubles what is already there.
    for (std::size_t have = static_cast<std::size_t>(n); have < bytes.size(); have *= 2) {
        std::memcpy(bytes.data() + have, bytes.data(), std::min(have, bytes.size() - have));
    }
    return bytes;
}

// Makes room for a used size of `used`: to that size, or twice the capacity
// when that is more.
SeriesBuffer* reserve(SeriesBuffer* b, std::int64_t used) {
    if (used > 0x7FFFFFFF) fire_no_memory();
    if (used - b->used_bytes() <= std::int64_t{b->room()}) return b;
    const std::int64_t twice = 2 * std::int64_t{b->size};
    return memory::expand_series(b, used < twice ? twice : used);
}

Cell* to(Cell* proto, Cell* spec, Type) { return to_binary(proto, spec); }

int form(Cell* value, Cell* buffer, Cell* part_arg, int part) {
    return serialize(value, buffer, false, false, false, part_arg, part, 0);
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part, int indent) {
    return serialize(value, buffer, only, all, flat, part_arg, part, indent);
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(Type::binary)) return not_comparable;
    return compare_bytes(value1, value2, op, false);
}

// and~, or~ and xor~: a new binary as long as the longer operand.
Cell* bitwise(Cell* value1, Cell* value2, MathOp op) {
    if (!value2->is(Type::binary)) fire(ErrorId::script_invalid_arg, value2);
    const std::int32_t n1 = ks_length(value1);
    const std::int32_t n2 = ks_length(value2);
    Cell result;
    make_at(&result, std::max(n1, n2));
    const std::uint8_t* a = ks_head(value1);
    const std::uint8_t* b = ks_head(value2);
    std::uint8_t* out = buffer(&result)->head();
    const std::int32_t shorter = std::min(n1, n2);
    for (std::int32_t i = 0; i < shorter; ++i) {
        out[i] = static_cast<std::uint8_t>(op == MathOp::and_ ? a[i] & b[i] : op == MathOp::or_ ? a[i] | b[i] : a[i] ^ b[i]);
    }
    const std::uint8_t* longer = n1 > n2 ? a : b;
    for (std::int32_t i = shorter; i < std::max(n1, n2); ++i) {
        out[i] = op == MathOp::and_ ? 0 : longer[i];
    }
    buffer(&result)->tail += static_cast<std::uint32_t>(std::max(n1, n2));
    *value1 = result;
    return value1;
}

Cell* and_(Cell* value1, Cell* value2) { return bitwise(value1, value2, MathOp::and_); }

Cell* complement(Cell* value) {
    std::uint8_t* p = ks_head(value);
    for (std::int32_t i = 0, n = ks_length(value); i < n; ++i) p[i] = static_cast<std::uint8_t>(~p[i]);
    return value;
}

Cell* or_(Cell* value1, Cell* value2) { return bitwise(value1, value2, MathOp::or_); }
Cell* xor_(Cell* value1, Cell* value2) { return bitwise(value1, value2, MathOp::xor_); }

Cell* insert_series(Cell* series, Cell* value, int part, bool, int dup, bool append) {
    ks_head(series);  // clamps the index
    notify(series, words::W::append, value, static_cast<std::int32_t>(series->data1), part);
    ks_head(series);
    const std::vector<std::uint8_t> bytes = gather(value, part, Mode::write, dup);
    if (bytes.empty()) return series;
    SeriesBuffer* b = buffer(series);
    const std::uint32_t used = b->used_bytes();
    const std::uint32_t at = append || series->data1 >= used ? used : series->data1;
    b = reserve(b, std::int64_t{used} + static_cast<std::int64_t>(bytes.size()));
    std::uint8_t* p = b->head() + at;
    std::memmove(p + bytes.size(), p, used - at);
    std::memcpy(p, bytes.data(), bytes.size());
    b->tail += static_cast<std::uint32_t>(bytes.size());
    notify(series, words::W::appended, value, static_cast<std::int32_t>(at), static_cast<std::int32_t>(bytes.size()));
    series->data1 = append ? 0 : at + static_cast<std::uint32_t>(bytes.size());
    return series;
}

Cell* change(Cell* series, Cell* value, int part, bool, int dup) {
    ks_head(series);
    const std::vector<std::uint8_t> bytes = gather(value, -1, Mode::change, dup);
    SeriesBuffer* b = buffer(series);
    const std::uint32_t index = series->data1;
    const std::uint32_t remaining = b->used_bytes() - index;
    const std::uint32_t size = static_cast<std::uint32_t>(bytes.size());
    const std::uint32_t count = std::min(part >= 0 ? static_cast<std::uint32_t>(part) : size, remaining);
    notify(series, words::W::change, value, static_cast<std::int32_t>(index), static_cast<std::int32_t>(count));
    // The owner's handler may have shortened the series: what is changed is
    // clamped to what is left of it.
    b = buffer(series);
    const std::uint32_t used = b->used_bytes();
    const std::uint32_t at = std::min(index, used);
    const std::uint32_t cut = std::min(count, used - at);
    b = reserve(b, std::int64_t{used} - cut + size);
    std::uint8_t* p = b->head() + at;
    std::memmove(p + size, p + cut, used - at - cut);
    if (size) std::memcpy(p, bytes.data(), size);
    b->tail = b->offset + used - cut + size;
    notify(series, words::W::changed, value, static_cast<std::int32_t>(at), static_cast<std::int32_t>(size));
    series->data1 = at + size;
    return series;
}

// The bytes /with names: a string's or binary's units, a char!, an integer!.
void bytes_named(Cell* with, bool (&set)[256]) {
    if (with->is(Type::binary) || is_text(with->type())) {
        const Units u = units_of(with);
        for (std::int32_t i = 0; i < u.count; ++i) {
            if (u.at(i) < 256) set[u.at(i)] = true;
        }
    } else if (with->is(Type::char_) || with->is(Type::integer)) {
        if (with->data2 < 256) set[with->data2] = true;
    } else {
        fire(ErrorId::script_invalid_arg, with);
    }
}

void remove_bytes(Cell* series, const bool (&set)[256]) {
    std::uint8_t* p = ks_head(series);
    const std::int32_t n = ks_length(series);
    std::uint8_t* end = std::remove_if(p, p + n, [&](std::uint8_t byte) { return set[byte]; });
    buffer(series)->set_tail(end);
}

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    if (with || all) {
        bool set[256] = {};
        if (with) {
            bytes_named(with, set);
        } else {
            set[0] = true;
        }
        remove_bytes(series, set);
    } else if (auto_ || lines) {
        fire(ErrorId::internal_not_done);
    } else {
        trim_zeros(series, !(tail && !head), !(head && !tail));
    }
    notify(series, words::W::trim, nullptr, static_cast<std::int32_t>(series->data1), 0);
    return series;
}

constexpr ActionRow actions{
    .make = inherit,
    .random = inherit,
    .reflect = inherit,
    .to = to,
    .form = form,
    .mold = mold,
    .eval_path = inherit,
    .compare = compare,
    .and_ = and_,
    .complement = complement,
    .or_ = or_,
    .xor_ = xor_,
    .append = insert_series,
    .at = inherit,
    .back = inherit,
    .change = change,
    .clear = inherit,
    .copy = inherit,
    .find = inherit,
    .head = inherit,
    .head_q = inherit,
    .index_q = inherit,
    .insert = insert_series,
    .length_q = inherit,
    .move = inherit,
    .next = inherit,
    .pick = inherit,
    .poke = inherit,
    .remove = inherit,
    .reverse = inherit,
    .select = inherit,
    .sort = inherit,
    .skip = inherit,
    .swap = inherit,
    .tail = inherit,
    .tail_q = inherit,
    .take = inherit,
    .trim = trim,
    .modify = inherit,
};

}  // namespace

void init() { registry::register_type(Type::binary, Type::string, "binary!", actions); }

}  // namespace kiv::binary
