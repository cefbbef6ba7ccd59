// Storage helpers of the string family: making, reading, widening, appending
// and loading code points. See string-storage.h for the buffer's invariants.
#include "runtime/datatypes/string-storage.h"

#include <cstring>

#include "runtime/case-folding.h"
#include "runtime/unicode-strings.h"
#include "runtime/unicode.h"

namespace kiv::string {

namespace {

constexpr std::uint32_t string_header = static_cast<std::uint32_t>(Type::string);
constexpr std::uint32_t unset_header = static_cast<std::uint32_t>(Type::unset);

std::uint32_t shift_of(std::uint32_t unit) { return unit == 4 ? 2 : unit == 2 ? 1 : 0; }

void store(std::uint8_t* p, std::uint32_t unit, std::uint32_t cp) {
    switch (unit) {
        case 1: *p = static_cast<std::uint8_t>(cp); break;
        case 2: {
            std::uint16_t v = static_cast<std::uint16_t>(cp);
            std::memcpy(p, &v, 2);
            break;
        }
        default: std::memcpy(p, &cp, 4); break;
    }
}

void set_unit(SeriesBuffer* b, std::uint32_t unit) {
    b->flags = (b->flags & ~memory::series_flag::unit_mask) | unit;
}

// Makes room for `required` bytes of capacity, answering the buffer to use.
SeriesBuffer* ensure_capacity(SeriesBuffer* b, std::uint64_t required) {
    const std::uint64_t have = cage::offset_of(b->end()) - b->offset;
    if (have >= required) return b;
    return memory::expand_series(b, static_cast<std::int64_t>(required));
}

// Stores one code point at the tail as loading does: unit 1 keeps 0-0xFF.
SeriesBuffer* load_char(SeriesBuffer* b, std::uint32_t cp) {
    std::uint32_t unit = b->unit();
    const std::uint32_t need = unit_for(cp);
    if (need > unit) {
        b = widen_buffer(b, unit, need);
        unit = need;
    }
    const NodeId node = b->node;
    store(memory::alloc_tail_bytes(b, unit), unit, cp);
    return memory::buffer_of(node);
}

}  // namespace

// ---------------------------------------------------------------------------
// Makers and access.

Cell* make_at(Cell* cell, std::int64_t size) {
    cell->header = unset_header;
    const NodeId node = memory::alloc_series(size ? size : 1, 1, 0);
    *cell = Cell{string_header, 0, node, 0};
    return cell;
}

Cell* make_at_unit(Cell* cell, std::int64_t count, std::uint32_t unit) {
    cell->header = unset_header;
    const NodeId node = memory::alloc_codepoints(count, unit);
    *cell = Cell{string_header, 0, node, 0};
    return cell;
}

std::uint32_t get_char(const std::uint8_t* p, std::uint32_t unit) {
    switch (unit) {
        case 1: return *p;
        case 2: {
            std::uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        case 4: {
            std::uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
        default: __builtin_trap();  // a string buffer has no other unit
    }
}

std::uint8_t* ks_head(Cell* value) {
    SeriesBuffer* b = buffer(value);
    const std::uint32_t length = b->length();
    if (static_cast<std::int32_t>(value->data1) > static_cast<std::int32_t>(length))
        value->data1 = length;
    return b->head() + (value->data1 << shift_of(b->unit()));
}

std::int32_t ks_length(Cell* value) {
    const std::int32_t length = static_cast<std::int32_t>(buffer(value)->length());
    const std::int32_t index = static_cast<std::int32_t>(value->data1);
    if (index >= length) {
        value->data1 = static_cast<std::uint32_t>(length);
        return 0;
    }
    return length - index;
}

std::int32_t ks_abs_length(const Cell* value) {
    return static_cast<std::int32_t>(buffer(value)->length());
}

std::uint32_t ks_abs_at(const Cell* value, std::int32_t position) {
    SeriesBuffer* b = buffer(value);
    return get_char(b->head() + (position << shift_of(b->unit())), b->unit());
}

Cell* ks_reset(Cell* value) {
    SeriesBuffer* b = buffer(value);
    set_unit(b, 1);
    b->tail = b->offset;
    value->data1 = 0;
    return value;
}

// ---------------------------------------------------------------------------
// Widening.

SeriesBuffer* widen_buffer(SeriesBuffer* b, std::uint32_t from, std::uint32_t to) {
    if (to == 2) return unicode::widen_1to2(b);
    return from == 1 ? unicode::widen_1to4(b) : unicode::widen_2to4(b);
}

// ---------------------------------------------------------------------------
// Writing code points.

SeriesBuffer* append_char(SeriesBuffer* b, std::uint32_t cp) {
    std::uint32_t unit = b->unit();
    if (unit == 1 && cp > 0x7F) {
        b = widen_buffer(b, 1, cp <= 0xFFFF ? 2 : 4);
    } else if (unit == 2 && cp > 0xFFFF) {
        b = widen_buffer(b, 2, 4);
    }
    unit = b->unit();
    const NodeId node = b->node;
    std::uint8_t* at = memory::alloc_tail_bytes(b, unit);
    store(at, unit, cp);
    return memory::buffer_of(node);
}

SeriesBuffer* overwrite_char(SeriesBuffer* b, std::int64_t position, std::uint32_t cp) {
    const std::uint32_t need = unit_for(cp);
    if (need > b->unit()) b = widen_buffer(b, b->unit(), need);
    const std::uint32_t unit = b->unit();
    const std::uint64_t end = static_cast<std::uint64_t>(position + 1) * unit;
    b = ensure_capacity(b, end);
    store(b->head() + position * unit, unit, cp);
    if (b->offset + end > b->tail) b->tail = b->offset + static_cast<std::uint32_t>(end);
    return b;
}

void append_literal(Cell* value, const char* text) {
    append_bytes(value, text, static_cast<std::int64_t>(std::strlen(text)));
}

void append_bytes(Cell* value, const char* text, std::int64_t count) {
    SeriesBuffer* b = buffer(value);
    for (std::int64_t i = 0; i < count; ++i)
        b = append_char(b, static_cast<std::uint8_t>(text[i]));
}

SeriesBuffer* append_string(Cell* destination, Cell* source, std::int64_t part) {
    std::int64_t count = ks_length(source);
    if (part >= 0 && part < count) count = part;
    SeriesBuffer* d = buffer(destination);
    if (count == 0) return d;
    const std::uint32_t from = buffer(source)->unit();
    if (d->unit() < from) d = widen_buffer(d, d->unit(), from);
    const std::uint32_t to = d->unit();
    const NodeId node = d->node;
    memory::alloc_tail_bytes(d, count * to);
    d = memory::buffer_of(node);
    // GC: re-read both positions after the reservation, which may collect.
    std::uint8_t* out = d->tail_ptr() - count * to;
    const std::uint8_t* in = ks_head(source);
    if (from == to) {
        std::memmove(out, in, count * to);
    } else {
        for (std::int64_t i = 0; i < count; ++i) store(out + i * to, to, get_char(in + i * from, from));
    }
    return d;
}

void append_utf8(Cell* value, std::string_view utf8) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(utf8.data());
    const std::uint8_t* end = p + utf8.size();
    SeriesBuffer* b = buffer(value);
    while (p < end) {
        std::int32_t cp;
        const std::uint8_t* next = unicode::fast_decode_utf8_char(p, end, &cp);
        // An undecodable byte stands for itself, so nothing is lost.
        if (cp < 0) {
            cp = *p;
            next = p + 1;
        }
        p = next;
        b = load_char(b, static_cast<std::uint32_t>(cp));
    }
}

// ---------------------------------------------------------------------------
// Comparing.

namespace {

// A symbol operand reads as its string from position 0.
Cell text_of(const Cell* value) {
    if (!value->is(Type::symbol)) return *value;
    if (value->data2) return Cell{string_header, 0, value->data2, 0};
    // A copy of a symbol cell whose string was never built: decode its text.
    SeriesBuffer* t = memory::buffer_of(value->data3);
    return Cell{string_header, 0, load_utf8_new(t->head(), t->used_bytes()), 0};
}

int sign(std::int64_t v) { return v < 0 ? -1 : v > 0 ? 1 : 0; }

}  // namespace

int compare_strings(Cell* value1, Cell* value2, CompareOp op, bool match) {
    const bool same = value1->data2 == value2->data2 && value1->data1 == value2->data1 &&
                      !value1->is(Type::symbol) && !value2->is(Type::symbol);
    if (op == CompareOp::same) return same ? 0 : -1;
    const bool equality = op == CompareOp::equal || op == CompareOp::not_equal ||
                          op == CompareOp::strict_equal || op == CompareOp::find;
    if (same && equality) return 0;
    Cell a = text_of(value1);
    Cell b = text_of(value2);
    const std::int32_t length1 = ks_length(&a);
    std::int32_t length2 = ks_length(&b);
    if (match) {
        if (length2 == 0) return op == CompareOp::find ? 1 : 0;
        if (length2 > length1) return 1;
    } else {
        if (length1 != length2 && (equality || length2 == 0)) return 1;
        if (length1 == 0 && length2 == 0) return 0;
        if (length1 == 0) return -1;
        if (length2 > length1) length2 = length1;
    }
    const bool fold = op != CompareOp::strict_equal && op != CompareOp::sort_case;
    SeriesBuffer* ba = buffer(&a);
    SeriesBuffer* bb = buffer(&b);
    const std::uint32_t ua = ba->unit();
    const std::uint32_t ub = bb->unit();
    const std::uint8_t* pa = ks_head(&a);
    const std::uint8_t* pb = ks_head(&b);
    for (std::int32_t i = 0; i < length2; ++i, pa += ua, pb += ub) {
        std::uint32_t ca = get_char(pa, ua);
        std::uint32_t cb = get_char(pb, ub);
        if (fold) {
            ca = case_folding::change_char(ca, true);
            cb = case_folding::change_char(cb, true);
        }
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return match ? 0 : sign(std::int64_t{length1} - ks_length(&b));
}

// ---------------------------------------------------------------------------
// Loading and reading back.

NodeId load_utf8_new(const std::uint8_t* bytes, std::int64_t length) {
    return unicode::load_utf8_new(bytes, static_cast<std::size_t>(length));
}

std::string units_to_utf8(const std::uint8_t* first, const std::uint8_t* end, std::uint32_t unit) {
    std::string out;
    std::uint8_t bytes[4];
    for (const std::uint8_t* p = first; p < end; p += unit) {
        const int n = unicode::encode_utf8_char(get_char(p, unit), bytes);
        out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n));
    }
    return out;
}

std::string to_utf8(const Cell* value) {
    SeriesBuffer* b = buffer(value);
    const std::uint32_t unit = b->unit();
    std::uint32_t index = value->data1;
    if (index > b->length()) index = b->length();
    return units_to_utf8(b->head() + index * unit, b->tail_ptr(), unit);
}

}  // namespace kiv::string
