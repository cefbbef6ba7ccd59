// Forward search of a short text: see string-search.h.
#include "runtime/datatypes/string-search.h"

#include <cstring>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "runtime/case-folding.h"
#include "runtime/unicode.h"

namespace kiv::string {

namespace {

std::uint32_t read_unit(const std::uint8_t* p, std::uint32_t unit) {
    return unicode::unit_at(p, static_cast<int>(unit));
}

std::uint32_t fold_upper(std::uint32_t cp) { return case_folding::change_char(cp, true); }

// The bytes whose upper case is one code point: the first three of them and
// how many there are.
struct ByteClass {
    std::uint16_t count = 0;
    std::uint8_t bytes[3] = {};
};

// Case folding of the 256 byte values. A folded code point names the class
// of bytes folding to it: directly below 0x100, through a short list above
// (the few bytes whose upper case lies beyond, such as 0xB5 and 0xFF).
struct ByteFolding {
    std::uint32_t upper[256];
    ByteClass low[256];
    std::uint32_t high_points[256];
    ByteClass high[256];
    int high_count = 0;
    // The class of each byte's upper case (every byte is in one).
    const ByteClass* byte_class[256];

    const ByteClass* class_of(std::uint32_t folded) const {
        if (folded <= 0xFF) return low[folded].count ? &low[folded] : nullptr;
        for (int i = 0; i < high_count; ++i)
            if (high_points[i] == folded) return &high[i];
        return nullptr;
    }

    void add(std::uint32_t byte, std::uint32_t folded) {
        ByteClass* c = nullptr;
        if (folded <= 0xFF) {
            c = &low[folded];
        } else {
            for (int i = 0; i < high_count && !c; ++i)
                if (high_points[i] == folded) c = &high[i];
            if (!c) {
                high_points[high_count] = folded;
                c = &high[high_count++];
            }
        }
        if (c->count < 3) c->bytes[c->count] = static_cast<std::uint8_t>(byte);
        ++c->count;
    }
};

ByteFolding folding_table;
bool folding_ready = false;

const ByteFolding& byte_folding() {
    if (!folding_ready) [[unlikely]] {
        case_folding::init();
        for (std::uint32_t b = 0; b < 256; ++b) {
            folding_table.upper[b] = fold_upper(b);
            folding_table.add(b, folding_table.upper[b]);
        }
        for (std::uint32_t b = 0; b < 256; ++b)
            folding_table.byte_class[b] = folding_table.class_of(folding_table.upper[b]);
        folding_ready = true;
        std::memcpy(byte_upper, folding_table.upper, sizeof byte_upper);
        byte_upper_ready = true;
    }
    return folding_table;
}

// The first byte in [p, end) that is `a` or `b`, or null.
const std::uint8_t* find_either(const std::uint8_t* p, const std::uint8_t* end, std::uint8_t a,
                                std::uint8_t b) {
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(static_cast<char>(a));
    const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
    for (; end - p >= 16; p += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(x, va), _mm_cmpeq_epi8(x, vb)));
        if (mask) return p + __builtin_ctz(static_cast<unsigned>(mask));
    }
#endif
    for (; p < end; ++p)
        if (*p == a || *p == b) return p;
    return nullptr;
}

// The first byte in [p, end) of the class (whose folded code point is
// `folded`), or null.
[[gnu::always_inline]] inline const std::uint8_t* next_in_class(
    const std::uint8_t* p, const std::uint8_t* end, const ByteClass& c, std::uint32_t folded,
    const ByteFolding& t) {
    if (c.count == 1) {
        // The next candidate is often close by: look there before paying
        // for a call.
        const std::uint8_t* near = end - p > 16 ? p + 16 : end;
        for (; p < near; ++p)
            if (*p == c.bytes[0]) return p;
        return p == end ? nullptr
                        : static_cast<const std::uint8_t*>(std::memchr(p, c.bytes[0], end - p));
    }
    if (c.count == 2) return find_either(p, end, c.bytes[0], c.bytes[1]);
    for (; p < end; ++p)
        if (t.upper[*p] == folded) return p;
    return nullptr;
}

// Folded search in 1-byte text: candidates come from the needle position
// whose class has the fewest bytes; each is then checked whole.
std::int64_t find_folded_bytes(const std::uint8_t* head, std::int64_t low, std::int64_t high,
                               const std::uint32_t* f, std::int64_t m) {
    const ByteFolding& t = byte_folding();
    const ByteClass* anchor = nullptr;
    std::int64_t k = 0;
    for (std::int64_t i = 0; i < m; ++i) {
        const ByteClass* c = t.class_of(f[i]);
        // A code point that no byte folds to never matches 1-byte text.
        if (!c) return -1;
        if (!anchor || c->count < anchor->count) {
            anchor = c;
            k = i;
            if (c->count == 1) break;
        }
    }
    const std::uint8_t* end = head + (high - m) + k + 1;
    for (const std::uint8_t* p = head + low + k; p < end; ++p) {
        p = next_in_class(p, end, *anchor, f[k], t);
        if (!p) return -1;
        const std::uint8_t* start = p - k;
        std::int64_t i = 0;
        while (i < m && t.upper[start[i]] == f[i]) ++i;
        if (i == m) return start - head;
    }
    return -1;
}

// Exact search in 1-byte text.
std::int64_t find_exact_bytes(const std::uint8_t* head, std::int64_t low, std::int64_t high,
                              const std::uint32_t* f, std::int64_t m) {
    if (m < 1) return -1;
    std::uint8_t small[64];
    std::vector<std::uint8_t> large;
    std::uint8_t* bytes = small;
    if (m > static_cast<std::int64_t>(sizeof small)) {
        large.resize(static_cast<std::size_t>(m));
        bytes = large.data();
    }
    for (std::int64_t i = 0; i < m; ++i) {
        if (f[i] > 0xFF) return -1;
        bytes[i] = static_cast<std::uint8_t>(f[i]);
    }
    const void* at = memmem(head + low, static_cast<std::size_t>(high - low), bytes,
                            static_cast<std::size_t>(m));
    return at ? static_cast<const std::uint8_t*>(at) - head : -1;
}

// Search in 2- or 4-byte text: the first code point filters the candidates.
// One copy a unit and a folding, so that the scan has no branch on either.
template <int Unit, bool Fold>
std::int64_t find_in_units(const std::uint8_t* head, std::int64_t low, std::int64_t high,
                           const std::uint32_t* f, std::int64_t m) {
    const ByteFolding& t = byte_folding();
    // Code points below 0x100 fold through the byte table, without a call.
    auto at = [&](std::int64_t p) {
        const std::uint32_t c = unicode::unit_at(head + p * Unit, Unit);
        if constexpr (Fold) return c <= 0xFF ? t.upper[c] : fold_upper(c);
        return c;
    };
    for (std::int64_t p = low; p + m <= high; ++p) {
        if (at(p) != f[0]) continue;
        std::int64_t i = 1;
        while (i < m && at(p + i) == f[i]) ++i;
        if (i == m) return p;
    }
    return -1;
}

std::int64_t find_points(const std::uint8_t* head, std::uint32_t unit, std::int64_t low,
                         std::int64_t high, const std::uint32_t* f, std::int64_t m, bool fold) {
    if (high - low < m) return -1;
    if (unit == 2) {
        return fold ? find_in_units<2, true>(head, low, high, f, m)
                    : find_in_units<2, false>(head, low, high, f, m);
    }
    if (unit == 4) {
        return fold ? find_in_units<4, true>(head, low, high, f, m)
                    : find_in_units<4, false>(head, low, high, f, m);
    }
    return fold ? find_folded_bytes(head, low, high, f, m) : find_exact_bytes(head, low, high, f, m);
}

}  // namespace

namespace {

// The needle's code points, folded when `fold`, into f.
void fold_needle(const TextNeedle& needle, bool fold, std::uint32_t* f) {
    if (fold && needle.unit == 1) {
        const ByteFolding& t = byte_folding();
        for (std::int64_t i = 0; i < needle.length; ++i) f[i] = t.upper[needle.first[i]];
        return;
    }
    for (std::int64_t i = 0; i < needle.length; ++i) {
        const std::uint32_t c = read_unit(needle.first + i * needle.unit, needle.unit);
        f[i] = fold ? fold_upper(c) : c;
    }
}

constexpr std::int64_t short_needle = 64;

[[gnu::noinline]] std::int64_t find_long(const std::uint8_t* head, std::uint32_t unit,
                                         std::int64_t low, std::int64_t high,
                                         const TextNeedle& needle, bool fold) {
    std::vector<std::uint32_t> f(static_cast<std::size_t>(needle.length));
    fold_needle(needle, fold, f.data());
    return find_points(head, unit, low, high, f.data(), needle.length, fold);
}

}  // namespace

std::int64_t find_forward(const std::uint8_t* head, std::uint32_t unit, std::int64_t low,
                          std::int64_t high, const TextNeedle& needle, bool fold) {
    if (fold && unit == 1 && needle.unit == 1)
        return find_folded_byte_text(head, low, high, needle.first, needle.length);
    if (needle.length > short_needle) return find_long(head, unit, low, high, needle, fold);
    std::uint32_t f[short_needle];
    fold_needle(needle, fold, f);
    return find_points(head, unit, low, high, f, needle.length, fold);
}

// Folded search in 1-byte text for a needle of 1-byte units, read in place:
// the same candidate scan, with each needle byte's class and upper case
// taken from the tables instead of a folded copy of the needle.
std::int64_t find_folded_byte_text(const std::uint8_t* head, std::int64_t low, std::int64_t high,
                                   const std::uint8_t* needle, std::int64_t m) {
    if (high - low < m) return -1;
    const ByteFolding& t = byte_folding();
    const ByteClass* anchor = t.byte_class[needle[0]];
    std::int64_t k = 0;
    for (std::int64_t i = 1; i < m && anchor->count > 1; ++i) {
        const ByteClass* c = t.byte_class[needle[i]];
        if (c->count < anchor->count) {
            anchor = c;
            k = i;
        }
    }
    const std::uint32_t folded = t.upper[needle[k]];
    const std::uint8_t* end = head + (high - m) + k + 1;
    for (const std::uint8_t* p = head + low + k; p < end; ++p) {
        p = next_in_class(p, end, *anchor, folded, t);
        if (!p) return -1;
        const std::uint8_t* start = p - k;
        std::int64_t i = 0;
        while (i < m && t.upper[start[i]] == t.upper[needle[i]]) ++i;
        if (i == m) return start - head;
    }
    return -1;
}

std::uint32_t byte_upper[256];
bool byte_upper_ready = false;

void fill_byte_upper() { byte_folding(); }

std::uint32_t fold_code_point(std::uint32_t cp) { return fold_upper(cp); }

std::int64_t find_char_forward(const std::uint8_t* head, std::uint32_t unit, std::int64_t low,
                               std::int64_t high, std::uint32_t cp, bool fold) {
    return find_points(head, unit, low, high, &cp, 1, fold);
}

}  // namespace kiv::string
