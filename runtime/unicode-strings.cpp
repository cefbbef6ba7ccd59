// Text encodings on string buffers: see unicode-strings.h.
#include "runtime/unicode-strings.h"

#include <cstring>

#include "runtime/unicode.h"

namespace kiv::unicode {

namespace {

namespace flag = memory::series_flag;

memory::SeriesBuffer* buffer_of_value(const Cell* value) { return memory::buffer_of(value->data2); }

int unit_of(memory::SeriesBuffer* b) { return static_cast<int>(b->unit()); }

// The value's text from its head index to the tail (empty when the index
// lies beyond the tail).
struct Text {
    const std::uint8_t* start;
    std::size_t count;  // code points
    int unit;
};

Text text_of(const Cell* value) {
    memory::SeriesBuffer* b = buffer_of_value(value);
    int unit = unit_of(b);
    std::size_t used = b->length();
    std::size_t index = value->data1 < used ? value->data1 : used;
    return Text{b->head() + index * static_cast<std::size_t>(unit), used - index, unit};
}

std::size_t limited(std::size_t count, long limit) {
    return limit >= 0 && static_cast<std::size_t>(limit) < count ? static_cast<std::size_t>(limit) : count;
}

void set_unit(memory::SeriesBuffer* b, int unit) {
    b->flags = (b->flags & ~flag::unit_mask) | static_cast<std::uint32_t>(unit);
}

// Bytes from the buffer's offset to the end of its capacity.
std::int64_t capacity_from_head(memory::SeriesBuffer* b) { return b->end() - b->head(); }

memory::SeriesBuffer* widen(memory::SeriesBuffer* b, int from, int to) {
    std::size_t count = b->used_bytes() / static_cast<std::size_t>(from);
    std::int64_t required = static_cast<std::int64_t>((count + 1) * static_cast<std::size_t>(to));
    if (capacity_from_head(b) < required) b = memory::expand_series(b, required);
    widen_units(b->head(), count, from, to);
    b->set_tail(b->head() + count * static_cast<std::size_t>(to));
    set_unit(b, to);
    return b;
}

// Empties the buffer and makes room for n units of `unit` from its offset.
memory::SeriesBuffer* prepare_target(memory::SeriesBuffer* b, std::size_t n, int unit) {
    b->tail = b->offset;
    std::int64_t bytes = static_cast<std::int64_t>(n * static_cast<std::size_t>(unit));
    if (capacity_from_head(b) < bytes) b = memory::expand_series(b, bytes);
    set_unit(b, unit);
    return b;
}

memory::SeriesBuffer* widen_to(memory::SeriesBuffer* b, int to) {
    if (unit_of(b) == 1) return to == 2 ? widen_1to2(b) : widen_1to4(b);
    return widen_2to4(b);
}

}  // namespace

memory::SeriesBuffer* widen_1to2(memory::SeriesBuffer* b) { return widen(b, 1, 2); }
memory::SeriesBuffer* widen_1to4(memory::SeriesBuffer* b) { return widen(b, 1, 4); }
memory::SeriesBuffer* widen_2to4(memory::SeriesBuffer* b) { return widen(b, 2, 4); }

// ---------------------------------------------------------------- loading

NodeId load_utf8(const std::uint8_t* bytes, std::size_t length, memory::SeriesBuffer* target,
                 std::size_t* remainder, bool cr) {
    std::size_t n = length ? length : 1;
    memory::SeriesBuffer* b;
    if (target) {
        b = prepare_target(target, n, unit_of(target));
    } else {
        b = memory::buffer_of(memory::alloc_codepoints(static_cast<std::int64_t>(n), 1));
    }
    if (remainder) *remainder = 0;
    const std::uint8_t* p = bytes;
    const std::uint8_t* end = bytes + length;
    if (length >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
    std::size_t used = 0;
    for (;;) {
        int unit = unit_of(b);
        std::int32_t cp = 0;
        std::size_t capacity = static_cast<std::size_t>(capacity_from_head(b)) / static_cast<std::size_t>(unit);
        LoadStop stop = load_utf8_units(&p, end, b->head(), unit, &used, capacity, cr, &cp);
        b->set_tail(b->head() + used * static_cast<std::size_t>(unit));
        if (stop == LoadStop::done) break;
        if (stop == LoadStop::cut) {
            if (remainder) *remainder = static_cast<std::size_t>(end - p);
            break;
        }
        // GC: widening or expanding may move the buffer; `b` is the one to
        // use afterwards, and `p` points into the caller's bytes.
        if (stop == LoadStop::widen) {
            b = widen_to(b, unit_for(static_cast<std::uint32_t>(cp)));
        } else {
            // every code point left takes at least one byte of input
            std::size_t left = static_cast<std::size_t>(end - p);
            b = memory::expand_series(b, static_cast<std::int64_t>((used + left) * static_cast<std::size_t>(unit)));
        }
    }
    return b->node;
}

NodeId load_utf8_into(const std::uint8_t* bytes, std::size_t length, const Cell* value,
                      std::size_t* remainder) {
    return load_utf8(bytes, length, buffer_of_value(value), remainder, false);
}

NodeId load_utf8_new(const std::uint8_t* bytes, std::size_t length) {
    return load_utf8(bytes, length, nullptr, nullptr, false);
}

NodeId load_utf16le(const std::uint8_t* bytes, std::size_t count, const Cell* target, bool cr) {
    int unit = utf16_unit_needed(bytes, count);
    memory::SeriesBuffer* b;
    if (target) {
        b = prepare_target(buffer_of_value(target), count, unit);
    } else if (count == 0) {
        b = memory::buffer_of(memory::alloc_codepoints(1, 2));
    } else {
        b = memory::buffer_of(memory::alloc_codepoints(static_cast<std::int64_t>(count), static_cast<std::uint32_t>(unit)));
    }
    std::size_t stored = utf16le_to_units(bytes, count, unit_of(b), b->head(), cr);
    b->set_tail(b->head() + stored * static_cast<std::size_t>(unit_of(b)));
    return b->node;
}

// ---------------------------------------------------------------- copies

std::size_t string_length(const Cell* value) { return text_of(value).count; }

std::uint8_t* get_side_buffer(Cell* value, std::size_t size) {
    if (value->data3 == 0) {
        NodeId side = memory::alloc_bytes(static_cast<std::int64_t>(size));
        value->data3 = side;
    } else {
        memory::SeriesBuffer* b = memory::buffer_of(value->data3);
        if (b->size < size) memory::expand_series(b, static_cast<std::int64_t>(size));
    }
    return memory::buffer_of(value->data3)->data();
}

NodeId encode_to_side_buffer(Cell* value, long* length, bool crlf) {
    std::size_t count = limited(string_length(value), *length);
    int unit = unit_of(buffer_of_value(value));
    std::size_t per_code_point = unit == 1 ? 2 : unit == 2 ? 3 : 4;
    std::uint8_t* out = get_side_buffer(value, (count + 1) * per_code_point);
    // GC: the side buffer's allocation may have moved the string's buffer.
    Text text = text_of(value);
    std::size_t n = units_to_utf8(text.start, count, text.unit, out, crlf);
    out[n] = 0;
    *length = static_cast<long>(n);
    return value->data3;
}

std::uint8_t* to_utf8(Cell* value, long* length) { return to_utf8_crlf(value, length, false); }

std::uint8_t* to_utf8_crlf(Cell* value, long* length, bool crlf) {
    NodeId side = encode_to_side_buffer(value, length, crlf);
    return memory::buffer_of(side)->data();
}

std::uint16_t* to_utf16(Cell* value, long* length, bool crlf) {
    Text text = text_of(value);
    std::size_t count = limited(text.count, *length);
    const std::uint8_t* end = text.start + count * static_cast<std::size_t>(text.unit);
    std::size_t size = count * 2 + 2 + utf16_extra_bytes(text.start, end, text.unit);
    auto* out = reinterpret_cast<std::uint16_t*>(get_side_buffer(value, size));
    text = text_of(value);  // GC: re-read after the side buffer's allocation
    long n = units_to_utf16(text.start, count, text.unit, out, crlf);
    if (n < 0) return nullptr;
    out[n] = 0;
    *length = n;
    return out;
}

std::uint16_t* to_utf16_crlf(Cell* value) {
    long length = -1;
    return to_utf16(value, &length, true);
}

std::size_t write_utf8(const Cell* value, std::uint8_t* dst, long part, bool terminate) {
    Text text = text_of(value);
    std::size_t n = units_to_utf8(text.start, limited(text.count, part), text.unit, dst, false);
    if (terminate) dst[n] = 0;
    return n;
}

std::size_t write_utf8_bounded(const Cell* value, std::uint8_t* dst, std::size_t room, long part,
                               bool terminate) {
    Text text = text_of(value);
    std::size_t count = part <= 0 ? text.count : limited(text.count, part);
    std::size_t n = units_to_utf8_bounded(text.start, count, text.unit, dst, room);
    if (terminate) dst[n] = 0;
    return n;
}

}  // namespace kiv::unicode
