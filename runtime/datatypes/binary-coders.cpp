// binary!: the base 2, 16, 58 and 64 coders behind enbase and debase.
//
// Decoders read characters of any unit width. In every base ";" starts a
// comment that runs to the next line feed; the line feed itself is then
// read like any other character. A decoder that fails answers 0 and leaves
// its half-filled buffer to the collector.
#include <array>
#include <cstring>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/unicode.h"

namespace kiv::binary {

namespace {

constexpr char hex_digits[] = "0123456789ABCDEF";
constexpr char base58_alphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char base64_alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The classes of the base 58 and 64 decoding tables, besides a digit value.
constexpr std::uint8_t skip = 0x40;
constexpr std::uint8_t invalid = 0x80;

// 128 entries: a digit's value, `skip` for backspace, tab, line feed, form
// feed, carriage return, space and apostrophe, else `invalid`.
constexpr std::array<std::uint8_t, 128> make_table(const char* alphabet) {
    std::array<std::uint8_t, 128> t{};
    for (auto& e : t) e = invalid;
    for (std::uint8_t i = 0; alphabet[i]; ++i) t[static_cast<unsigned char>(alphabet[i])] = i;
    for (int c : {8, 9, 10, 12, 13, 32, 39}) t[c] = skip;
    return t;
}

constexpr auto base58_table = make_table(base58_alphabet);
constexpr auto base64_table = make_table(base64_alphabet);

// Walks the characters of a source, skipping comments.
class Reader {
public:
    Reader(const std::uint8_t* source, std::int64_t count, int unit)
        : p_(source), count_(count), unit_(unit) {}

    // The next character, or -1 at the end. `cut` masks the code before the
    // comment test (base 16 reads only the low 7 bits).
    std::int64_t next(std::uint32_t cut = 0xFFFFFFFFu) {
        while (i_ < count_) {
            const std::uint32_t c = at(i_++) & cut;
            if (c != ';') return c;
            while (i_ < count_ && (at(i_) & cut) != '\n') ++i_;
        }
        return -1;
    }

private:
    std::uint32_t at(std::int64_t i) const { return unicode::unit_at(p_ + i * unit_, unit_); }

    const std::uint8_t* p_;
    std::int64_t count_;
    int unit_;
    std::int64_t i_ = 0;
};

// A new byte buffer holding `bytes`.
NodeId new_buffer(const std::uint8_t* bytes, std::size_t n) {
    const NodeId node = memory::alloc_bytes(static_cast<std::int64_t>(n));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    if (n) std::memcpy(b->head(), bytes, n);
    b->tail = b->offset + static_cast<std::uint32_t>(n);
    return node;
}

}  // namespace

// ---------------------------------------------------------------------------
// Encoders.

std::uint8_t* encode_2(std::uint8_t* out, const std::uint8_t* source, std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i) {
        for (int bit = 7; bit >= 0; --bit) *out++ = (source[i] >> bit) & 1 ? '1' : '0';
    }
    return out;
}

std::uint8_t* encode_16(std::uint8_t* out, const std::uint8_t* source, std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i) {
        *out++ = static_cast<std::uint8_t>(hex_digits[source[i] >> 4]);
        *out++ = static_cast<std::uint8_t>(hex_digits[source[i] & 15]);
    }
    return out;
}

// Leading zero bytes become "1"s; the rest is one big-endian number written
// in base 58, found by repeated division of a scratch copy.
std::uint8_t* encode_58(std::uint8_t* out, const std::uint8_t* source, std::int64_t n) {
    std::int64_t zeros = 0;
    while (zeros < n && source[zeros] == 0) ++zeros;
    for (std::int64_t i = 0; i < zeros; ++i) *out++ = '1';
    std::vector<std::uint8_t> digits(static_cast<std::size_t>((n - zeros) * 138 / 100 + 1), 0);
    std::size_t used = 0;  // digits in use, from the end of `digits`
    for (std::int64_t i = zeros; i < n; ++i) {
        std::uint32_t carry = source[i];
        std::size_t j = 0;
        for (auto d = digits.rbegin(); d != digits.rend() && (carry != 0 || j < used); ++d, ++j) {
            carry += 256u * *d;
            *d = static_cast<std::uint8_t>(carry % 58);
            carry /= 58;
        }
        used = j;
    }
    for (std::size_t k = digits.size() - used; k < digits.size(); ++k) {
        *out++ = static_cast<std::uint8_t>(base58_alphabet[digits[k]]);
    }
    return out;
}

std::uint8_t* encode_64(std::uint8_t* out, const std::uint8_t* source, std::int64_t n) {
    std::int64_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const std::uint32_t v = source[i] << 16 | source[i + 1] << 8 | source[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) *out++ = static_cast<std::uint8_t>(base64_alphabet[(v >> shift) & 63]);
    }
    if (i < n) {
        const bool two = i + 1 < n;
        const std::uint32_t v = source[i] << 16 | (two ? source[i + 1] << 8 : 0);
        *out++ = static_cast<std::uint8_t>(base64_alphabet[(v >> 18) & 63]);
        *out++ = static_cast<std::uint8_t>(base64_alphabet[(v >> 12) & 63]);
        *out++ = two ? static_cast<std::uint8_t>(base64_alphabet[(v >> 6) & 63]) : '=';
        *out++ = '=';
    }
    return out;
}

std::int64_t encoded_size(int base, std::int64_t n) {
    switch (base) {
        case 2: return n * 8;
        case 16: return n * 2;
        case 58: return n * 138 / 100 + 2;
        default: return (n + 2) / 3 * 4;
    }
}

// ---------------------------------------------------------------------------
// Decoders.

// Characters up to space are skipped; "0" and "1" are bits, most significant
// first; a byte left unfinished at the end fails.
NodeId decode_2(const std::uint8_t* source, std::int64_t count, int unit) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(count / 8));
    Reader in(source, count, unit);
    std::uint32_t acc = 0;
    int bits = 0;
    for (std::int64_t c; (c = in.next()) >= 0;) {
        if (c <= 32) continue;
        if (c != '0' && c != '1') return 0;
        acc = acc << 1 | static_cast<std::uint32_t>(c - '0');
        if (++bits == 8) {
            bytes.push_back(static_cast<std::uint8_t>(acc));
            acc = 0;
            bits = 0;
        }
    }
    if (bits != 0) return 0;
    return new_buffer(bytes.data(), bytes.size());
}

// Codes are cut to 7 bits first; codes up to space are skipped; a lone last
// digit is dropped.
NodeId decode_16(const std::uint8_t* source, std::int64_t count, int unit) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(count / 2));
    Reader in(source, count, unit);
    int high = -1;
    for (std::int64_t c; (c = in.next(0x7F)) >= 0;) {
        if (c <= 32) continue;
        int d;
        if (c >= '0' && c <= '9') {
            d = static_cast<int>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            d = static_cast<int>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            d = static_cast<int>(c - 'a' + 10);
        } else {
            return 0;
        }
        if (high < 0) {
            high = d;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | d));
            high = -1;
        }
    }
    return new_buffer(bytes.data(), bytes.size());
}

// Leading "1"s become zero bytes; the rest is converted to base 256 by
// repeated multiplication. A character above 127 ends the input.
NodeId decode_58(const std::uint8_t* source, std::int64_t count, int unit) {
    std::vector<std::uint8_t> digits;
    Reader in(source, count, unit);
    for (std::int64_t c; (c = in.next()) >= 0;) {
        if (c > 127) break;
        const std::uint8_t d = base58_table[static_cast<std::size_t>(c)];
        if (d == skip) continue;
        if (d == invalid) return 0;
        digits.push_back(d);
    }
    std::size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) ++zeros;
    std::vector<std::uint8_t> number((digits.size() - zeros) * 733 / 1000 + 1, 0);
    std::size_t used = 0;
    for (std::size_t i = zeros; i < digits.size(); ++i) {
        std::uint32_t carry = digits[i];
        std::size_t j = 0;
        for (auto b = number.rbegin(); b != number.rend() && (carry != 0 || j < used); ++b, ++j) {
            carry += 58u * *b;
            *b = static_cast<std::uint8_t>(carry & 0xFF);
            carry >>= 8;
        }
        used = j;
    }
    std::vector<std::uint8_t> bytes(zeros, 0);
    bytes.insert(bytes.end(), number.end() - static_cast<std::ptrdiff_t>(used), number.end());
    return new_buffer(bytes.data(), bytes.size());
}

// "=" ends the data: after 3 digits of a group it gives 2 bytes, after 2
// one byte, after 0 or 1 the text fails. Digits of a group left unfinished
// at the end without "=" are dropped. A character above 127 fails.
NodeId decode_64(const std::uint8_t* source, std::int64_t count, int unit) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>((count + 3) * 3 / 4));
    Reader in(source, count, unit);
    std::uint32_t acc = 0;
    int digits = 0;
    for (std::int64_t c; (c = in.next()) >= 0;) {
        if (c == '=') {
            if (digits < 2) return 0;
            bytes.push_back(static_cast<std::uint8_t>(acc >> (digits == 3 ? 10 : 4)));
            if (digits == 3) bytes.push_back(static_cast<std::uint8_t>(acc >> 2));
            digits = 0;
            break;
        }
        const std::uint8_t d = c > 127 ? invalid : base64_table[static_cast<std::size_t>(c)];
        if (d == skip) continue;
        if (d == invalid) return 0;
        acc = acc << 6 | d;
        if (++digits == 4) {
            bytes.push_back(static_cast<std::uint8_t>(acc >> 16));
            bytes.push_back(static_cast<std::uint8_t>(acc >> 8));
            bytes.push_back(static_cast<std::uint8_t>(acc));
            acc = 0;
            digits = 0;
        }
    }
    return new_buffer(bytes.data(), bytes.size());
}

}  // namespace kiv::binary
