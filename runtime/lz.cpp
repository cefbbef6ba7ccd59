// LZ decompression: see lz.h.
#include "runtime/lz.h"

#include <algorithm>
#include <cstdlib>

namespace kiv::lz {

namespace {

// The coder state. A failure sets `failed`; the reader then answers zeros
// and the decoder stops at its next check, so no read passes `limit`.
struct Decoder {
    const std::uint8_t* in;
    std::size_t pos;    // next input byte
    std::size_t limit;  // end of the readable input
    std::uint32_t bits = 0;
    int count = 0;
    std::uint8_t* out = nullptr;
    std::size_t capacity = 0;  // the declared uncompressed size
    std::size_t used = 0;
    bool failed = false;

    // n <= 17 bits, LSB first; whole bytes are loaded only as needed, so a
    // block ends right after the last byte a bit came from.
    std::uint32_t read(int n) {
        while (count < n) {
            if (pos >= limit) {
                failed = true;
                return 0;
            }
            bits |= std::uint32_t{in[pos++]} << count;
            count += 8;
        }
        std::uint32_t v = bits & ((1u << n) - 1);
        bits >>= n;
        count -= n;
        return v;
    }

    std::uint32_t read_word() {
        if (limit - pos < 4) {
            failed = true;
            return 0;
        }
        const std::uint8_t* p = in + pos;
        pos += 4;
        return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
    }
};

// The prefix-coded L of a match (it copies L + 3 bytes).
std::uint32_t read_length(Decoder& d) {
    struct Step { std::uint32_t base; int bits; };
    static constexpr Step steps[] = {{0, 2}, {4, 2}, {8, 2}, {12, 3}, {20, 5}};
    for (const Step& s : steps)
        if (d.read(1)) return s.base + d.read(s.bits);
    return 52 + d.read(9);
}

// d of a match (it copies from d + 1 bytes back): 0 to 262,143.
std::uint32_t read_distance(Decoder& d) {
    int n = static_cast<int>(d.read(4)) + 2;
    if (n == 2) return d.read(3);
    return (1u << n) + d.read(n);
}

bool decode_block(Decoder& d, std::uint32_t length) {
    d.bits = 0;
    d.count = 0;
    if (length < 1 || length > max_block || d.capacity - d.used < length) return false;
    std::uint8_t* block = d.out + d.used;
    std::uint32_t produced = 0;
    while (produced < length && !d.failed) {
        if (d.read(1) == 0) {
            block[produced++] = static_cast<std::uint8_t>(d.read(8));
            continue;
        }
        std::uint32_t copy = read_length(d) + 3;
        std::uint32_t back = read_distance(d) + 1;
        if (d.failed || back > produced || copy > length - produced) return false;
        // one byte at a time: an overlapping source repeats bytes
        for (std::uint32_t i = 0; i < copy; ++i, ++produced) block[produced] = block[produced - back];
    }
    d.used += produced;
    return !d.failed;
}

}  // namespace

std::uint8_t* decompress(const std::uint8_t* stream, std::size_t length, std::size_t* out_size) {
    Decoder d{stream, 0, length};
    std::uint64_t compressed = d.read_word();
    std::uint64_t uncompressed = d.read_word();
    if (d.failed || compressed > length - 8 || uncompressed > max_uncompressed) return nullptr;
    d.limit = 8 + compressed;
    d.capacity = uncompressed;
    d.out = static_cast<std::uint8_t*>(std::malloc(uncompressed + 8));
    if (!d.out) return nullptr;
    while (d.pos < d.limit) {
        std::uint32_t block = d.read_word();
        if (d.failed || !decode_block(d, block)) {
            std::free(d.out);
            return nullptr;
        }
    }
    // Blocks that stop short of the declared size mean a cut stream.
    if (d.used != d.capacity) {
        std::free(d.out);
        return nullptr;
    }
    if (out_size) *out_size = d.used;
    return d.out;
}

void free_buffer(std::uint8_t* buffer) { std::free(buffer); }

}  // namespace kiv::lz

// ---------------------------------------------------------------------------
// Compression.

namespace kiv::lz {

namespace {

constexpr std::uint32_t max_distance = 262144;  // bytes back
constexpr std::uint32_t min_match = 3;
constexpr std::uint32_t max_match = 566;
constexpr int hash_bits = 15;
constexpr int chain_limit = 48;  // candidates tried per position

// LSB-first bit packing into a byte vector.
struct BitWriter {
    std::vector<std::uint8_t>& out;
    std::uint32_t bits = 0;
    int count = 0;

    void put(std::uint32_t v, int n) {
        bits |= v << count;
        count += n;
        while (count >= 8) {
            out.push_back(static_cast<std::uint8_t>(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    void flush() {
        if (count > 0) out.push_back(static_cast<std::uint8_t>(bits));
        bits = 0;
        count = 0;
    }
};

void put_word(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// The prefix length and the value bits of the length code of L, in order.
struct LengthStep { std::uint32_t base; int prefix; int bits; };
constexpr LengthStep length_steps[] = {
    {0, 1, 2}, {4, 2, 2}, {8, 3, 2}, {12, 4, 3}, {20, 5, 5}, {52, 5, 9}};

const LengthStep& length_step(std::uint32_t l) {
    int i = 5;
    while (i > 0 && l < length_steps[i].base) --i;
    return length_steps[i];
}

int distance_bits(std::uint32_t d) { return d < 8 ? 3 : 31 - __builtin_clz(d); }

// Bits a match costs: its flag, length code and distance code.
int match_cost(std::uint32_t length, std::uint32_t back) {
    return 1 + length_step(length - min_match).prefix + length_step(length - min_match).bits + 4 +
           distance_bits(back - 1);
}

void put_match(BitWriter& w, std::uint32_t length, std::uint32_t back) {
    const std::uint32_t l = length - min_match;
    const LengthStep& s = length_step(l);
    w.put(1, 1);
    // The prefix: zeros, then a one, except that the last step has none.
    const int zeros = s.base == 52 ? 5 : s.prefix - 1;
    w.put(0, zeros);
    if (s.base != 52) w.put(1, 1);
    w.put(l - s.base, s.bits);
    const std::uint32_t d = back - 1;
    if (d < 8) {
        w.put(0, 4);
        w.put(d, 3);
        return;
    }
    const int n = 31 - __builtin_clz(d);
    w.put(static_cast<std::uint32_t>(n - 2), 4);
    w.put(d - (1u << n), n);
}

std::uint32_t hash3(const std::uint8_t* p) {
    const std::uint32_t v = p[0] | (p[1] << 8) | (std::uint32_t{p[2]} << 16);
    return (v * 2654435761u) >> (32 - hash_bits);
}

// Finds the longest match for position `i` of a block of `n` bytes through
// the hash chains; answers its length (0 when none) and its distance.
struct Matcher {
    const std::uint8_t* block;
    std::uint32_t n;
    std::vector<std::int32_t> heads = std::vector<std::int32_t>(1u << hash_bits, -1);
    std::vector<std::int32_t> previous;

    explicit Matcher(const std::uint8_t* b, std::uint32_t length)
        : block(b), n(length), previous(length, -1) {}

    void insert(std::uint32_t i) {
        if (i + min_match > n) return;
        const std::uint32_t h = hash3(block + i);
        previous[i] = heads[h];
        heads[h] = static_cast<std::int32_t>(i);
    }

    std::uint32_t find(std::uint32_t i, std::uint32_t* back) const {
        if (i + min_match > n) return 0;
        const std::uint32_t limit = std::min(max_match, n - i);
        std::uint32_t best = 0;
        std::int32_t candidate = heads[hash3(block + i)];
        for (int tries = 0; candidate >= 0 && tries < chain_limit; ++tries) {
            const auto c = static_cast<std::uint32_t>(candidate);
            if (i - c > max_distance) break;
            std::uint32_t len = 0;
            while (len < limit && block[c + len] == block[i + len]) ++len;
            if (len > best) {
                best = len;
                *back = i - c;
                if (len == limit) break;
            }
            candidate = previous[c];
        }
        return best >= min_match ? best : 0;
    }
};

// Whether a match pays: shorter than the literals it replaces.
bool worth(std::uint32_t length, std::uint32_t back) {
    return length >= min_match && match_cost(length, back) < 9 * static_cast<int>(length);
}

void compress_block(const std::uint8_t* block, std::uint32_t n, std::vector<std::uint8_t>& out) {
    put_word(out, n);
    BitWriter w{out};
    Matcher m(block, n);
    std::uint32_t i = 0;
    while (i < n) {
        std::uint32_t back = 0;
        std::uint32_t length = m.find(i, &back);
        if (worth(length, back) && i + 1 < n) {
            // Lazy step: a longer match one byte on wins over this one.
            m.insert(i);
            std::uint32_t next_back = 0;
            const std::uint32_t next = m.find(i + 1, &next_back);
            std::uint32_t first_new = 1;  // position i is in the chains already
            if (next > length + 1 && worth(next, next_back)) {
                w.put(0, 1);
                w.put(block[i], 8);
                ++i;
                length = next;
                back = next_back;
                first_new = 0;
            }
            put_match(w, length, back);
            for (std::uint32_t k = first_new; k < length; ++k) m.insert(i + k);
            i += length;
            continue;
        }
        if (worth(length, back)) {
            put_match(w, length, back);
            for (std::uint32_t k = 0; k < length; ++k) m.insert(i + k);
            i += length;
            continue;
        }
        w.put(0, 1);
        w.put(block[i], 8);
        m.insert(i);
        ++i;
    }
    w.flush();
}

}  // namespace

std::vector<std::uint8_t> compress(const std::uint8_t* data, std::size_t length) {
    std::vector<std::uint8_t> out(8, 0);
    for (std::size_t start = 0; start < length; start += max_block) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(max_block, length - start));
        compress_block(data + start, n, out);
    }
    const auto compressed = static_cast<std::uint32_t>(out.size() - 8);
    const auto uncompressed = static_cast<std::uint32_t>(length);
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(compressed >> (8 * i));
        out[4 + i] = static_cast<std::uint8_t>(uncompressed >> (8 * i));
    }
    return out;
}

}  // namespace kiv::lz
