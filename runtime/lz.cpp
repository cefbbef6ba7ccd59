// LZ decompression: see lz.h.
#include "runtime/lz.h"

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
