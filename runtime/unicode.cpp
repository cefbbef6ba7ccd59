// Raw encoding layer of the unicode unit: see unicode.h. The errors it
// fires carry a binary! of the offending bytes, so firing allocates.
#include "runtime/unicode.h"

#include "runtime/fire.h"
#include "runtime/memory.h"

namespace kiv::unicode {

namespace {

// ---------------------------------------------------------------- automaton
// The UTF-8 decoding automaton with states that are multiples of 12 (accept
// 0, reject 12): 256 byte classes, then the transitions indexed by state +
// class. It rejects overlong forms, surrogates and code points above
// 0x10FFFF by construction.

constexpr int accept = 0;
constexpr int reject = 12;

struct ClassRange { int first, last, cls; };
constexpr ClassRange class_ranges[] = {
    {0x00, 0x7F, 0}, {0x80, 0x8F, 1},  {0x90, 0x9F, 9},  {0xA0, 0xBF, 7},
    {0xC0, 0xC1, 8}, {0xC2, 0xDF, 2},  {0xE0, 0xE0, 10}, {0xE1, 0xEC, 3},
    {0xED, 0xED, 4}, {0xEE, 0xEF, 3},  {0xF0, 0xF0, 11}, {0xF1, 0xF3, 6},
    {0xF4, 0xF4, 5}, {0xF5, 0xFF, 8},
};

constexpr std::uint8_t transitions[9][12] = {
    {0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72},
    {12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12},
    {12, 0, 12, 12, 12, 12, 12, 0, 12, 0, 12, 12},
    {12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12},
    {12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12},
    {12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12},
    {12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12},
    {12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12},
    {12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12},
};

struct Automaton {
    std::uint8_t table[256 + 108];
    constexpr Automaton() : table{} {
        for (const ClassRange& r : class_ranges)
            for (int b = r.first; b <= r.last; ++b) table[b] = static_cast<std::uint8_t>(r.cls);
        for (int s = 0; s < 9; ++s)
            for (int c = 0; c < 12; ++c) table[256 + s * 12 + c] = transitions[s][c];
    }
};

constexpr Automaton automaton;

Cell integer_cell(std::int32_t v) {
    return Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(v), 0};
}

[[noreturn]] void fire_invalid_char(std::uint32_t cp) {
    Cell arg = integer_cell(static_cast<std::int32_t>(cp));
    fire(ErrorId::script_invalid_char, &arg);
}

// Fires with a binary! holding the n offending bytes.
[[noreturn]] void fire_with_bytes(ErrorId id, const std::uint8_t* p, std::size_t n) {
    NodeId node = memory::alloc_bytes(static_cast<std::int64_t>(n));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    std::memcpy(b->head(), p, n);
    b->set_tail(b->head() + n);
    Cell arg{static_cast<std::uint32_t>(Type::binary), 0, node, 0};
    fire(id, &arg);
}

bool is_continuation(std::uint8_t b) { return (b & 0xC0) == 0x80; }

}  // namespace

// ---------------------------------------------------------------- units

void widen_units(std::uint8_t* base, std::size_t count, int from, int to) {
    for (std::size_t i = count; i-- > 0;) store_unit(base + i * to, to, unit_at(base + i * from, from));
}

// ---------------------------------------------------------------- UTF-8

const std::uint8_t* fast_decode_utf8_char(const std::uint8_t* p, const std::uint8_t* end,
                                          std::int32_t* cp) {
    std::uint8_t b = *p++;
    std::uint32_t cls = automaton.table[b];
    std::uint32_t value = (0xFFu >> cls) & b;
    std::uint32_t state = automaton.table[256 + cls];
    while (state != accept && state != reject) {
        if (p == end) {
            *cp = -1;
            return p;
        }
        b = *p++;
        value = (value << 6) | (b & 0x3Fu);
        state = automaton.table[256 + state + automaton.table[b]];
    }
    *cp = state == accept ? static_cast<std::int32_t>(value) : -1;
    return p;
}

std::size_t count_codepoints(const std::uint8_t* first, const std::uint8_t* end) {
    std::size_t n = 0;
    std::int32_t cp;
    while (first < end) {
        if (*first < 0x80) {
            ++first;
        } else {
            first = fast_decode_utf8_char(first, end, &cp);
        }
        ++n;
    }
    return n;
}

const std::uint8_t* skip_codepoints(const std::uint8_t* p, const std::uint8_t* end,
                                    std::size_t n) {
    std::int32_t cp;
    while (n-- > 0 && p < end) p = fast_decode_utf8_char(p, end, &cp);
    return p;
}

int utf8_sequence_length(std::uint8_t lead) {
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 0;
}

int utf8_char_size(std::uint32_t cp) {
    if (cp <= 0x7F) return 1;
    if (cp <= 0x7FF) return 2;
    if (cp <= 0xFFFF) return 3;
    if (cp <= max_code_point) return 4;
    fire_invalid_char(cp);
}

std::size_t utf8_size(const std::uint8_t* first, const std::uint8_t* end, int unit) {
    std::size_t n = 0;
    for (; first < end; first += unit) n += static_cast<std::size_t>(utf8_char_size(unit_at(first, unit)));
    return n;
}

int encode_utf8_char(std::uint32_t cp, std::uint8_t* dst) {
    if (cp <= 0x7F) {
        dst[0] = static_cast<std::uint8_t>(cp);
        return 1;
    }
    if (cp <= 0x7FF) {
        dst[0] = static_cast<std::uint8_t>(0xC0 | (cp >> 6));
        dst[1] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp <= 0xFFFF) {
        dst[0] = static_cast<std::uint8_t>(0xE0 | (cp >> 12));
        dst[1] = static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        dst[2] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
        return 3;
    }
    if (cp > max_code_point) fire_invalid_char(cp);
    dst[0] = static_cast<std::uint8_t>(0xF0 | (cp >> 18));
    dst[1] = static_cast<std::uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    dst[2] = static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    dst[3] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
    return 4;
}

int encode_utf8_char_bounded(std::uint32_t cp, std::uint8_t* dst, long room) {
    std::uint8_t bytes[4];
    int n = encode_utf8_char(cp, bytes);
    if (room <= 0) return 0;
    if (n > room) n = static_cast<int>(room);
    std::memcpy(dst, bytes, static_cast<std::size_t>(n));
    return n;
}

std::int32_t read_utf8_char(const std::uint8_t* p, int* len) {
    int avail = *len;
    std::uint8_t b0 = p[0];
    if (b0 < 0x80) {
        *len = 1;
        return b0;
    }
    int need = utf8_sequence_length(b0);
    // The smallest code point and the second-byte range of each lead rule out
    // overlong forms and surrogates before the value is even assembled.
    std::uint8_t lo = 0x80, hi = 0xBF;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
    bool bad = need == 0 || b0 == 0xC0 || b0 == 0xC1 || b0 > 0xF4;
    int seen = avail < need ? avail : need;
    if (!bad && seen > 1 && (p[1] < lo || p[1] > hi)) bad = true;
    for (int i = 2; !bad && i < seen; ++i) bad = !is_continuation(p[i]);
    if (bad) fire_with_bytes(ErrorId::access_invalid_utf8, p, static_cast<std::size_t>(avail < 4 ? avail : 4));
    if (avail < need) return -1;
    std::uint32_t cp = b0 & (0x7Fu >> need);
    for (int i = 1; i < need; ++i) cp = (cp << 6) | (p[i] & 0x3Fu);
    if (cp == 0xFFFE) fire_with_bytes(ErrorId::access_invalid_utf8, p, static_cast<std::size_t>(avail < 4 ? avail : 4));
    *len = need;
    return static_cast<std::int32_t>(cp);
}

std::size_t units_to_utf8(const std::uint8_t* first, std::size_t count, int unit,
                          std::uint8_t* dst, bool crlf) {
    std::uint8_t* out = dst;
    for (std::size_t i = 0; i < count; ++i, first += unit) {
        std::uint32_t cp = unit_at(first, unit);
        if (cp == '\n' && crlf) *out++ = '\r';
        out += encode_utf8_char(cp, out);
    }
    return static_cast<std::size_t>(out - dst);
}

std::size_t units_to_utf8_bounded(const std::uint8_t* first, std::size_t count, int unit,
                                  std::uint8_t* dst, std::size_t room) {
    std::size_t written = 0;
    for (std::size_t i = 0; i < count && written < room; ++i, first += unit)
        written += static_cast<std::size_t>(
            encode_utf8_char_bounded(unit_at(first, unit), dst + written, static_cast<long>(room - written)));
    return written;
}

LoadStop load_utf8_units(const std::uint8_t** in, const std::uint8_t* end, std::uint8_t* out,
                         int unit, std::size_t* used, std::size_t capacity, bool cr,
                         std::int32_t* cp) {
    const std::uint8_t* p = *in;
    std::size_t n = *used;
    LoadStop stop = LoadStop::done;
    while (p < end) {
        if (n >= capacity) {
            stop = LoadStop::room;
            break;
        }
        int len = static_cast<int>(end - p < 4 ? end - p : 4);
        std::int32_t c = read_utf8_char(p, &len);
        if (c < 0) {
            stop = LoadStop::cut;
            break;
        }
        if (cr && c == '\r') {
            if (p + 1 < end && p[1] == '\n') {
                ++p;  // the LF that follows is loaded on the next turn
                continue;
            }
            c = '\n';
        }
        if (unit_for(static_cast<std::uint32_t>(c)) > unit) {
            *cp = c;
            stop = LoadStop::widen;
            break;
        }
        store_unit(out + n * unit, unit, static_cast<std::uint32_t>(c));
        ++n;
        p += len;
    }
    *in = p;
    *used = n;
    return stop;
}

// ---------------------------------------------------------------- UTF-16

int encode_utf16_char(std::uint32_t cp, std::uint16_t* dst) {
    if (cp < 0x10000) {
        dst[0] = static_cast<std::uint16_t>(cp);
        return 1;
    }
    if (cp > max_code_point) return 0;
    std::uint32_t v = cp - 0x10000;
    dst[0] = static_cast<std::uint16_t>(0xD800 | (v >> 10));
    dst[1] = static_cast<std::uint16_t>(0xDC00 | (v & 0x3FF));
    return 2;
}

int utf16_unit_needed(const std::uint8_t* bytes, std::size_t count) {
    int unit = 1;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t high = bytes[2 * i + 1];
        if (high >= 0xD8 && high <= 0xDF) return 4;
        if (high != 0) unit = 2;
    }
    return unit;
}

std::size_t utf16_extra_bytes(const std::uint8_t* first, const std::uint8_t* end, int unit) {
    std::size_t extra = 0;
    for (; first < end; first += unit) {
        std::uint32_t cp = unit_at(first, unit);
        if (cp == '\n' || cp >= 0x10000) extra += 2;
    }
    return extra;
}

std::size_t utf16le_to_units(const std::uint8_t* bytes, std::size_t count, int unit,
                             std::uint8_t* out, bool cr) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t u = unit_at(bytes + 2 * i, 2);
        if (cr && u == '\r') continue;
        if (unit == 4 && u >= 0xD800 && u <= 0xDBFF) {
            std::uint32_t low = i + 1 < count ? unit_at(bytes + 2 * (i + 1), 2) : 0;
            if (i + 1 >= count || low < 0xDC00 || low > 0xDFFF)
                fire_with_bytes(ErrorId::script_invalid_data, bytes + 2 * i, i + 1 < count ? 4 : 2);
            u = 0x10000 + (((u & 0x3FF) << 10) | (low & 0x3FF));
            ++i;
        }
        store_unit(out + n * unit, unit, u);
        ++n;
    }
    return n;
}

long units_to_utf16(const std::uint8_t* first, std::size_t count, int unit, std::uint16_t* dst,
                    bool crlf) {
    if (unit == 2 && !crlf) {
        std::memcpy(dst, first, count * 2);
        return static_cast<long>(count);
    }
    std::uint16_t* out = dst;
    for (std::size_t i = 0; i < count; ++i, first += unit) {
        std::uint32_t cp = unit_at(first, unit);
        if (cp > max_code_point) return -1;
        if (cp == '\n' && crlf) *out++ = '\r';
        out += encode_utf16_char(cp, out);
    }
    return static_cast<long>(out - dst);
}

}  // namespace kiv::unicode
