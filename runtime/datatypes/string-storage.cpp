// Storage helpers of the string family: making, reading, widening, appending
// and loading code points. See string-storage.h for the buffer's invariants.
#include "runtime/datatypes/string-storage.h"

#include <cstring>
#include <vector>

#include "runtime/datatypes/string-search.h"
#include "runtime/fire.h"
#include "runtime/float-text.h"
#include "runtime/tracked-alloc.h"
#include "runtime/unicode-strings.h"
#include "runtime/unicode.h"

namespace kiv::string {

namespace {

constexpr std::uint32_t string_header = static_cast<std::uint32_t>(Type::string);
constexpr std::uint32_t unset_header = static_cast<std::uint32_t>(Type::unset);

void store(std::uint8_t* p, std::uint32_t unit, std::uint32_t cp) {
    unicode::store_unit(p, static_cast<int>(unit), cp);
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
    if (b->unit() == 1) {
        // ASCII onto 1-byte text (formed numbers, most literals): one
        // reservation and a copy instead of a reservation a character.
        std::int64_t i = 0;
        while (i < count && static_cast<std::uint8_t>(text[i]) < 0x80) ++i;
        if (i == count) {
            if (count > 0) std::memcpy(memory::alloc_tail_bytes(b, count), text, count);
            return;
        }
    }
    for (std::int64_t i = 0; i < count; ++i)
        b = append_char(b, static_cast<std::uint8_t>(text[i]));
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
            ca = fold_point(ca);
            cb = fold_point(cb);
        }
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return match ? 0 : sign(std::int64_t{length1} - ks_length(&b));
}

// ---------------------------------------------------------------------------
// More access, writing at positions and removing.

namespace {

// Makes room for `required` bytes from the offset, at least doubling the
// capacity when it must grow, so that repeated growth is amortised.
SeriesBuffer* grow_for(SeriesBuffer* b, std::uint64_t required) {
    const std::uint64_t have = cage::offset_of(b->end()) - b->offset;
    if (have >= required) return b;
    const std::uint64_t doubled = have * 2;
    return memory::expand_series(b, static_cast<std::int64_t>(required > doubled ? required : doubled));
}

}  // namespace

SeriesBuffer* store_char(SeriesBuffer* b, std::int64_t position, std::uint32_t cp) {
    const std::uint32_t need = unit_for(cp);
    if (need > b->unit()) b = widen_buffer(b, b->unit(), need);
    store(b->head() + (position << shift_of(b->unit())), b->unit(), cp);
    return b;
}

SeriesBuffer* insert_char(SeriesBuffer* b, std::int64_t position, std::uint32_t cp) {
    const std::uint32_t need = unit_for(cp);
    if (need > b->unit()) b = widen_buffer(b, b->unit(), need);
    const std::uint32_t unit = b->unit();
    b = grow_for(b, std::uint64_t{b->used_bytes()} + unit);
    std::uint8_t* at = b->head() + position * unit;
    std::memmove(at + unit, at, b->tail_ptr() - at);
    store(at, unit, cp);
    b->tail += unit;
    return b;
}

void remove_chars(SeriesBuffer* b, std::int64_t position, std::int64_t count) {
    const std::int64_t length = b->length();
    if (position < 0 || position >= length || count <= 0) return;
    if (count > length - position) count = length - position;
    const std::uint32_t shift = shift_of(b->unit());
    std::uint8_t* at = b->head() + (position << shift);
    const std::uint64_t removed = static_cast<std::uint64_t>(count) << shift;
    std::memmove(at, at + removed, b->tail_ptr() - (at + removed));
    b->tail -= static_cast<std::uint32_t>(removed);
}

SeriesBuffer* truncate_buffer(SeriesBuffer* b, std::int64_t count) {
    if (count >= 0 && count < static_cast<std::int64_t>(b->length()))
        b->tail = b->offset + static_cast<std::uint32_t>(count << shift_of(b->unit()));
    return b;
}

void move_chars(Cell* value, Cell* target, std::int64_t count) {
    const std::int64_t position = value->data1;
    concatenate(target, value, count, 0, Mode::insert);
    remove_chars(buffer(value), position, count);
}

// ---------------------------------------------------------------------------
// Searching.

std::int64_t find_char(Cell* value, std::uint32_t cp) {
    const std::uint8_t* p = ks_head(value);
    const std::uint8_t* end = ks_tail(value);
    const std::uint32_t unit = buffer(value)->unit();
    for (std::int64_t i = 0; p < end; p += unit, ++i)
        if (get_char(p, unit) == cp) return i;
    return -1;
}

bool find_char_skip_q(Cell* value, std::uint32_t cp, std::int64_t skip, bool case_sensitive) {
    const std::uint8_t* p = ks_head(value);
    const std::uint8_t* end = ks_tail(value);
    const std::uint32_t unit = buffer(value)->unit();
    if (!case_sensitive) cp = fold_point(cp);
    const std::int64_t step = skip * unit;
    for (; p < end; p += step) {
        std::uint32_t c = get_char(p, unit);
        if (!case_sensitive) c = fold_point(c);
        if (c == cp) return true;
        if (end - p <= step) break;
    }
    return false;
}

bool starts_with_literal_q(Cell* value, const char* literal) {
    const std::int64_t n = static_cast<std::int64_t>(std::strlen(literal));
    if (ks_length(value) < n) return false;
    const std::uint8_t* p = ks_head(value);
    const std::uint32_t unit = buffer(value)->unit();
    for (std::int64_t i = 0; i < n; ++i, p += unit)
        if (get_char(p, unit) != static_cast<std::uint8_t>(literal[i])) return false;
    return true;
}

bool char_in_bitset_q(Cell* value, const Cell* bitset) {
    const std::uint32_t cp = get_char(ks_head(value), buffer(value)->unit());
    SeriesBuffer* bits = memory::buffer_of(bitset->data2);
    if (std::uint64_t{cp} >= std::uint64_t{bits->used_bytes()} * 8)
        return (bits->flags & memory::series_flag::complement) != 0;
    return (bits->head()[cp >> 3] & (0x80 >> (cp & 7))) != 0;
}

bool tag_delimited_q(Cell* value, Cell* tag) {
    const std::int64_t n = ks_length(tag);
    if (ks_length(value) < n + 2) return false;
    const std::uint8_t* p = ks_head(value);
    const std::uint32_t unit = buffer(value)->unit();
    return get_char(p, unit) == '<' && get_char(p + (n + 1) * unit, unit) == '>';
}

bool match_at_q(Cell* value, Cell* v, CompareOp op) {
    switch (v->type()) {
        case Type::string:
        case Type::file:
        case Type::url:
        case Type::email:
        case Type::ref:
            return compare_strings(value, v, op, true) == 0;
        case Type::char_: {
            std::uint32_t a = get_char(ks_head(value), buffer(value)->unit());
            std::uint32_t b = v->data2;
            if (op != CompareOp::strict_equal) {
                a = fold_point(a);
                b = fold_point(b);
            }
            return a == b;
        }
        case Type::tag: {
            if (!tag_delimited_q(value, v)) return false;
            Cell inner = *value;
            inner.data1 += 1;
            return compare_strings(&inner, v, op, true) == 0;
        }
        default:
            return false;
    }
}

// ---------------------------------------------------------------------------
// Copying.

namespace {

void copy_units(std::uint8_t* out, std::uint32_t to, const std::uint8_t* in, std::uint32_t from,
                std::int64_t count) {
    if (from == to) {
        std::memmove(out, in, count * to);
        return;
    }
    // Only ever widening here: the destination took the wider unit first.
    for (std::int64_t i = count; i-- > 0;) store(out + i * to, to, get_char(in + i * from, from));
}

constexpr std::size_t scratch_standard = 65536;
std::uint8_t* scratch = nullptr;
std::size_t scratch_size = 0;

// `count` code points of the source from `index` (both checked) at the
// destination's tail, widening and growing it as needed.
[[gnu::noinline]] SeriesBuffer* append_widening(Cell* destination, Cell* source,
                                                std::int64_t index, std::int64_t count) {
    const std::uint32_t from = buffer(source)->unit();
    SeriesBuffer* d = buffer(destination);
    if (d->unit() < from) d = widen_buffer(d, d->unit(), from);
    const std::uint32_t to = d->unit();
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) << shift_of(to);
    if (bytes > d->room()) {
        const std::uint64_t need = std::uint64_t{d->used_bytes()} + bytes;
        if (need > 0x7FFFFFFF) fire(ErrorId::internal_no_memory);
        d = grow_for(d, need);
    }
    // GC: widening and growing may have moved the source; read it afresh.
    const std::uint8_t* in = buffer(source)->head() + (index << shift_of(from));
    std::uint8_t* out = d->tail_ptr();
    if (from != to) {
        copy_units(out, to, in, from, count);
    } else if (bytes <= 16) {
        copy_short(out, in, bytes);
    } else {
        std::memcpy(out, in, bytes);
    }
    d->tail += static_cast<std::uint32_t>(bytes);
    return d;
}

}  // namespace

// Appending, the common case, without the bookkeeping that writing inside
// the text needs: the source's text and the room past the destination's tail
// never overlap, even in one buffer. Text of the destination's unit that
// fits its room is copied at once; the rest widens or grows first.
SeriesBuffer* append_string(Cell* destination, Cell* source, std::int64_t part) {
    SeriesBuffer* d = buffer(destination);
    if (append_short(d, source, part)) return d;
    const std::int64_t length = ks_abs_length(source);
    const std::int64_t index = static_cast<std::int32_t>(source->data1);
    if (index >= length) {
        source->data1 = static_cast<std::uint32_t>(length);
        return d;
    }
    std::int64_t count = length - index;
    if (part >= 0 && part < count) count = part;
    if (count == 0) return d;
    return append_widening(destination, source, index, count);
}

SeriesBuffer* concatenate(Cell* destination, Cell* source, std::int64_t part, std::int64_t offset,
                          Mode mode) {
    if (mode == Mode::append) return append_string(destination, source, part);
    std::int64_t count = ks_length(source);
    if (part >= 0 && part < count) count = part;
    SeriesBuffer* d = buffer(destination);
    if (count == 0) return d;
    const std::uint32_t from = buffer(source)->unit();
    if (d->unit() < from) d = widen_buffer(d, d->unit(), from);
    const std::uint32_t to = d->unit();
    const std::uint64_t bytes = static_cast<std::uint64_t>(count) * to;
    const std::uint64_t position = static_cast<std::uint64_t>(destination->data1 + offset) * to;
    const std::uint64_t end = position + bytes;
    const std::uint64_t need = mode == Mode::overwrite ? (end > d->used_bytes() ? end : d->used_bytes())
                                                       : std::uint64_t{d->used_bytes()} + bytes;
    if (need > 0x7FFFFFFF) fire(ErrorId::internal_no_memory);
    const bool shared = source->data2 == destination->data2;
    // A source in the same buffer is read before anything moves.
    std::vector<std::uint8_t> saved;
    if (shared) {
        const std::uint8_t* in = ks_head(source);
        saved.assign(in, in + count * from);
    }
    // GC: growing may move the destination, and the source with it when they
    // share the buffer; both are re-read through their nodes below.
    d = grow_for(d, need);
    std::uint8_t* at = d->head() + position;
    if (mode == Mode::insert) std::memmove(at + bytes, at, d->tail_ptr() - at);
    const std::uint8_t* in = saved.empty() ? ks_head(source) : saved.data();
    copy_units(at, to, in, from, count);
    const std::uint32_t old_tail = d->tail;
    if (mode == Mode::insert) {
        d->tail = old_tail + static_cast<std::uint32_t>(bytes);
    } else if (d->offset + end > old_tail) {
        d->tail = d->offset + static_cast<std::uint32_t>(end);
    }
    return d;
}

void swap_regions(std::uint8_t* a, std::size_t length_a, std::size_t length_b) {
    if (length_a == 0 || length_b == 0) return;
    std::uint8_t* b = a + length_a;
    const std::size_t small = length_a < length_b ? length_a : length_b;
    std::uint8_t* area = scratch;
    if (!area || small > scratch_size) area = static_cast<std::uint8_t*>(memory::allocate(small));
    if (length_b <= length_a) {
        std::memcpy(area, b, length_b);
        std::memmove(a + length_b, a, length_a);
        std::memcpy(a, area, length_b);
    } else {
        std::memcpy(area, a, length_a);
        std::memmove(a, b, length_b);
        std::memcpy(a + length_b, area, length_a);
    }
    // A region larger than the scratch area borrows a block for this call.
    if (area != scratch) memory::free(area);
}

SeriesBuffer* repeat_tail(SeriesBuffer* b, std::uint64_t length, std::int64_t copies) {
    if (copies < 2 || length == 0) return b;
    const std::uint64_t total = length * static_cast<std::uint64_t>(copies);
    const std::uint64_t need = b->used_bytes() - length + total;
    if (total / static_cast<std::uint64_t>(copies) != length || need > 0x7FFFFFFF)
        fire(ErrorId::internal_no_memory);
    b = grow_for(b, need);
    std::uint8_t* first = b->tail_ptr() - length;
    // Doubling copies: each pass copies everything made so far.
    std::uint64_t made = length;
    while (made < total) {
        const std::uint64_t n = made < total - made ? made : total - made;
        std::memcpy(first + made, first, n);
        made += n;
    }
    b->tail = cage::offset_of(first + total);
    return b;
}

// ---------------------------------------------------------------------------
// Decoding bytes.

Cell* make_binary(Cell* out, const std::uint8_t* bytes, std::int64_t length) {
    out->header = unset_header;
    const NodeId node = memory::alloc_bytes(length);
    SeriesBuffer* b = memory::buffer_of(node);
    if (length > 0) std::memcpy(b->head(), bytes, length);
    b->tail = b->offset + static_cast<std::uint32_t>(length);
    *out = Cell{static_cast<std::uint32_t>(Type::binary), 0, node, 0};
    return out;
}

void check_utf8(const std::uint8_t* bytes, std::int64_t length) {
    const std::uint8_t* end = bytes + length;
    for (const std::uint8_t* p = bytes; p < end;) {
        std::int32_t cp;
        const std::uint8_t* next = unicode::fast_decode_utf8_char(p, end, &cp);
        // 0xFFFE marks undecodable text inside the runtime, so it is refused
        // as well.
        if (cp < 0 || cp == 0xFFFE) {
            Cell rest;
            make_binary(&rest, p, end - p);
            fire(ErrorId::access_invalid_utf8, &rest);
        }
        p = next;
    }
}

Cell* decode_utf8(const std::uint8_t* bytes, std::int64_t length, Cell* out) {
    check_utf8(bytes, length);
    out->header = unset_header;
    const NodeId node = load_utf8_new(bytes, length);
    *out = Cell{string_header, 0, node, 0};
    return out;
}

Cell* load_encoded(const std::uint8_t* bytes, std::int64_t length, Cell* out, int encoding) {
    if (encoding != 0 && encoding != -1) {
        Cell arg{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(encoding), 0};
        fire(ErrorId::script_invalid_arg, &arg);
    }
    out->header = unset_header;
    NodeId node;
    if (encoding == 0) {
        node = load_utf8_new(bytes, length);
    } else {
        node = unicode::load_utf16le(bytes, static_cast<std::size_t>(length), nullptr, false);
    }
    *out = Cell{string_header, 0, node, 0};
    return out;
}

Cell* load_in(const std::uint8_t* bytes, std::int64_t length, Cell* block, int encoding) {
    // GC: the text is made first, on this frame, so that the block is
    // expanded only once the value to store exists.
    Cell text;
    load_encoded(bytes, length, &text, encoding);
    Cell* slot = memory::append_slot(block);
    *slot = text;
    return slot;
}

// ---------------------------------------------------------------------------
// Text helpers.

double to_float(const char* text, std::int64_t length, bool* error) {
    int unread = 0;
    const double d = dtoa::text_to_float(text, text + length, 0, &unread);
    *error = length == 0 || unread != 0;
    return d;
}

namespace {
constexpr char hex_digits[] = "0123456789ABCDEF";
}  // namespace

const char* byte_to_hex(std::uint8_t byte) {
    static char text[3];
    text[0] = hex_digits[byte >> 4];
    text[1] = hex_digits[byte & 15];
    text[2] = 0;
    return text;
}

const char* int_to_hex(std::uint32_t value, bool trim) {
    static char text[9];
    for (int i = 7; i >= 0; --i, value >>= 4) text[i] = hex_digits[value & 15];
    text[8] = 0;
    if (!trim) return text;
    int first = 0;
    while (first < 6 && text[first] == '0') ++first;
    // Significant digits, but never fewer than two.
    return text + first;
}

void init_storage() {
    fill_byte_upper();
    if (!scratch) {
        scratch = static_cast<std::uint8_t*>(memory::allocate(scratch_standard));
        scratch_size = scratch_standard;
    }
}

// ---------------------------------------------------------------------------
// Loading and reading back.

NodeId load_utf8_new(const std::uint8_t* bytes, std::int64_t length) {
    return unicode::load_utf8_new(bytes, static_cast<std::size_t>(length));
}

std::string units_to_utf8(const std::uint8_t* first, const std::uint8_t* end, std::uint32_t unit) {
    const int u = static_cast<int>(unit);
    std::string out(unicode::utf8_size(first, end, u), '\0');
    unicode::units_to_utf8(first, static_cast<std::size_t>(end - first) / unit, u,
                           reinterpret_cast<std::uint8_t*>(out.data()), false);
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
