// Deflate, zlib and gzip. See compression.h for the contract.
//
// Compressor: the input is walked once. At each position the three bytes
// there pick a bucket of four earlier positions; the first slot holding the
// same three bytes less than 32 KB back gives a match, extended up to 258
// bytes. The step's start position is then stored in the bucket, in a slot
// chosen from the bytes at the next position; positions inside a match are
// not stored. Codes are the fixed ones of RFC 1951 in one final block.
//
// Inflater: a bit reader over the input (past its end it yields zero bits)
// and canonical Huffman decoding one bit at a time, which finds an invalid
// code (a pattern no symbol has) without any table reading out of bounds.
#include "runtime/services/compression.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "runtime/evaluator/checksum.h"
#include "runtime/evaluator/natives-system.h"

namespace kiv::compression {

namespace {

// ---------------------------------------------------------------------------
// The fixed tables of RFC 1951.

constexpr int max_match = 258;
constexpr std::size_t window = 32768;

constexpr std::uint16_t length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,
                                           15, 17, 19, 23, 27, 31, 35, 43, 51,  59,
                                           67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t length_extra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t dist_base[30] = {1,    2,    3,    4,    5,    7,     9,     13,
                                         17,   25,   33,   49,   65,   97,    129,   193,
                                         257,  385,  513,  769,  1025, 1537,  2049,  3073,
                                         4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t dist_extra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block gives the code-length code's lengths.
constexpr std::uint8_t length_order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};

// ---------------------------------------------------------------------------
// Compressor

// Bits go out LSB first. A byte is stored only while the cursor is inside
// the room, but the cursor always advances: its final distance from the
// start is the size the output needs.
struct BitWriter {
    std::uint8_t* out;
    std::size_t room;
    std::size_t cursor = 0;
    std::uint32_t acc = 0;
    int count = 0;

    void bits(std::uint32_t value, int n) {
        acc |= value << count;
        count += n;
        while (count > 7) {
            if (cursor < room) out[cursor] = static_cast<std::uint8_t>(acc);
            acc >>= 8;
            count -= 8;
            ++cursor;
        }
    }
    // A Huffman code goes most significant bit first.
    void code(std::uint32_t value, int n) {
        std::uint32_t reversed = 0;
        for (int i = 0; i < n; ++i) reversed |= ((value >> i) & 1) << (n - 1 - i);
        bits(reversed, n);
    }
    void flush() {
        if (count > 0) bits(0, 8 - count);
    }
};

void put_literal(BitWriter& w, int symbol) {
    if (symbol < 144) w.code(0x30 + symbol, 8);
    else if (symbol < 256) w.code(0x190 + symbol - 144, 9);
    else if (symbol < 280) w.code(symbol - 256, 7);
    else w.code(0xC0 + symbol - 280, 8);
}

void put_match(BitWriter& w, int length, std::size_t distance) {
    int i = 28;
    while (length_base[i] > length) --i;
    put_literal(w, 257 + i);
    w.bits(static_cast<std::uint32_t>(length - length_base[i]), length_extra[i]);
    int d = 29;
    while (dist_base[d] > distance) --d;
    w.code(static_cast<std::uint32_t>(d), 5);
    w.bits(static_cast<std::uint32_t>(distance - dist_base[d]), dist_extra[d]);
}

// The three bytes at p as one number; missing bytes at the end count as 0.
std::uint32_t triple_at(const std::uint8_t* in, std::size_t n, std::size_t p) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 3; ++i) v = v << 8 | (p + i < n ? in[p + i] : 0);
    return v;
}

std::uint32_t bucket_of(std::uint32_t v) {
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v & 0x3FF;
}

// The raw deflate stream of the input through `w`.
void deflate_into(BitWriter& w, const std::uint8_t* in, std::size_t n) {
    // Positions plus one, so that 0 marks an empty slot.
    std::array<std::array<std::uint32_t, 4>, 1024> table{};
    w.bits(1, 1);  // final block
    w.bits(1, 2);  // fixed Huffman codes
    std::size_t p = 0;
    while (p < n) {
        const std::size_t start = p;
        const std::uint32_t bucket = bucket_of(triple_at(in, n, p));
        bool matched = false;
        if (p >= 3 && n - p >= 3) {
            for (std::uint32_t slot : table[bucket]) {
                if (slot == 0) continue;
                const std::size_t s = slot - 1;
                if (s >= p || p >= s + window || std::memcmp(in + s, in + p, 3) != 0) continue;
                int length = 3;
                while (length < max_match && p + length < n && in[s + length] == in[p + length])
                    ++length;
                put_match(w, length, p - s);
                p += static_cast<std::size_t>(length);
                matched = true;
                break;
            }
        }
        if (!matched) {
            put_literal(w, in[p]);
            ++p;
        }
        const std::uint32_t next = triple_at(in, n, p);
        table[bucket][((next >> 14) - next) & 3] = static_cast<std::uint32_t>(start + 1);
    }
    w.code(0, 7);  // end of block
    w.flush();
}

void put_be32(std::uint8_t* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

void put_le32(std::uint8_t* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t le32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

// ---------------------------------------------------------------------------
// Inflater

struct BitReader {
    const std::uint8_t* in;
    std::size_t n;
    std::size_t bit = 0;  // bits consumed from the start

    bool exhausted() const { return bit >= n * 8; }
    std::uint32_t take(int count) {
        std::uint32_t v = 0;
        for (int i = 0; i < count; ++i, ++bit) {
            const std::size_t byte = bit >> 3;
            if (byte < n) v |= static_cast<std::uint32_t>((in[byte] >> (bit & 7)) & 1) << i;
        }
        return v;
    }
    void align() { bit = (bit + 7) & ~static_cast<std::size_t>(7); }
};

// A canonical Huffman code: how many codes each length has, and the symbols
// in code order.
struct Huffman {
    std::array<std::uint16_t, 16> count{};
    std::array<std::uint16_t, 320> symbol{};
};

// Builds a code from lengths. False when the code is over-subscribed; an
// incomplete code is taken, its missing patterns failing when met.
bool build(Huffman& h, const std::uint8_t* lengths, int n) {
    h.count.fill(0);
    for (int i = 0; i < n; ++i) ++h.count[lengths[i]];
    h.count[0] = 0;
    int left = 1;
    for (int len = 1; len < 16; ++len) {
        left = (left << 1) - h.count[len];
        if (left < 0) return false;
    }
    std::array<std::uint16_t, 16> offset{};
    for (int len = 1; len < 15; ++len) offset[len + 1] = offset[len] + h.count[len];
    for (int i = 0; i < n; ++i)
        if (lengths[i] != 0) h.symbol[offset[lengths[i]]++] = static_cast<std::uint16_t>(i);
    return true;
}

// The next symbol, or -1 when the bits form no code.
int decode(BitReader& r, const Huffman& h) {
    int code = 0;
    int first = 0;
    int index = 0;
    for (int len = 1; len < 16; ++len) {
        code |= static_cast<int>(r.take(1));
        const int count = h.count[len];
        if (code - first < count) return h.symbol[index + code - first];
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    return -1;
}

struct Inflater {
    BitReader r;
    std::uint8_t* out;
    std::size_t room;
    std::size_t produced = 0;

    void put(std::uint8_t b) {
        if (out && produced < room) out[produced] = b;
        ++produced;
    }

    Result stored() {
        r.align();
        const std::uint32_t len = r.take(16);
        r.take(16);  // NLEN, not checked
        const std::size_t at = r.bit >> 3;
        if (len == 0) return ok;
        if (at > r.n || r.n - at < len) return short_stored;
        for (std::size_t i = 0; i < len; ++i) put(r.in[at + i]);
        r.bit += static_cast<std::size_t>(len) * 8;
        return ok;
    }

    // Symbols up to the end of the block. `done` is set when the input ran
    // out first, which ends the stream with what was produced.
    Result codes(const Huffman& lit, const Huffman& dist, bool* done) {
        for (;;) {
            if (r.exhausted()) {
                *done = true;
                return ok;
            }
            const int symbol = decode(r, lit);
            if (symbol < 0) return bad_code;
            if (symbol < 256) {
                put(static_cast<std::uint8_t>(symbol));
                continue;
            }
            if (symbol == 256) return ok;
            if (symbol > 285) return bad_code;
            const int li = symbol - 257;
            const std::size_t length = length_base[li] + r.take(length_extra[li]);
            const int ds = decode(r, dist);
            if (ds < 0 || ds > 29) return bad_code;
            const std::size_t distance = dist_base[ds] + r.take(dist_extra[ds]);
            if (distance > produced) return bad_distance;
            for (std::size_t i = 0; i < length; ++i) {
                const std::size_t from = produced - distance;
                put(out && from < room ? out[from] : 0);
            }
        }
    }

    Result fixed(bool* done) {
        static const std::pair<Huffman, Huffman> codes_ = [] {
            std::pair<Huffman, Huffman> c;
            std::uint8_t lengths[288];
            std::fill(lengths, lengths + 144, 8);
            std::fill(lengths + 144, lengths + 256, 9);
            std::fill(lengths + 256, lengths + 280, 7);
            std::fill(lengths + 280, lengths + 288, 8);
            build(c.first, lengths, 288);
            std::fill(lengths, lengths + 32, 5);
            build(c.second, lengths, 32);
            return c;
        }();
        return codes(codes_.first, codes_.second, done);
    }

    Result dynamic(bool* done) {
        const int hlit = static_cast<int>(r.take(5)) + 257;
        const int hdist = static_cast<int>(r.take(5)) + 1;
        const int hclen = static_cast<int>(r.take(4)) + 4;
        std::uint8_t lengths[320] = {};
        for (int i = 0; i < hclen; ++i) lengths[length_order[i]] = static_cast<std::uint8_t>(r.take(3));
        Huffman lencode;
        if (!build(lencode, lengths, 19)) return bad_code;
        std::fill(lengths, lengths + 19, 0);
        int i = 0;
        while (i < hlit + hdist) {
            const int symbol = decode(r, lencode);
            if (symbol < 0) return bad_code;
            if (symbol < 16) {
                lengths[i++] = static_cast<std::uint8_t>(symbol);
                continue;
            }
            std::uint8_t value = 0;
            int repeat = 0;
            if (symbol == 16) {
                if (i == 0) return bad_code;
                value = lengths[i - 1];
                repeat = 3 + static_cast<int>(r.take(2));
            } else if (symbol == 17) {
                repeat = 3 + static_cast<int>(r.take(3));
            } else {
                repeat = 11 + static_cast<int>(r.take(7));
            }
            if (i + repeat > hlit + hdist) return bad_code;
            while (repeat-- > 0) lengths[i++] = value;
        }
        Huffman lit;
        Huffman dist;
        if (!build(lit, lengths, hlit) || !build(dist, lengths + hlit, hdist)) return bad_code;
        return codes(lit, dist, done);
    }

    Result run() {
        for (;;) {
            if (r.exhausted()) break;
            const bool last = r.take(1) != 0;
            const std::uint32_t type = r.take(2);
            bool done = false;
            Result res = ok;
            if (type == 0) res = stored();
            else if (type == 1) res = fixed(&done);
            else if (type == 2) res = dynamic(&done);
            else res = bad_block_type;
            if (res != ok) return res;
            if (last || done) break;
        }
        return produced > room ? too_small : ok;
    }
};

Result inflate(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t* size) {
    Inflater f{BitReader{in, n}, out, out ? *size : 0};
    const Result res = f.run();
    *size = f.produced;
    return res;
}

// ---------------------------------------------------------------------------
// The natives' view: one entry per direction, the framing by the method.

using natives_system::Codec;
using natives_system::CodecResult;

CodecResult to_codec(Result r) {
    return r == ok ? CodecResult::ok : r == too_small ? CodecResult::too_small : CodecResult::failed;
}

CodecResult compress_service(Codec codec, const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                             std::size_t* size) {
    switch (codec) {
        case Codec::zlib: return to_codec(zlib_compress(in, n, out, size));
        case Codec::deflate: return to_codec(deflate_compress(in, n, out, size));
        case Codec::gzip: return to_codec(gzip_compress(in, n, out, size));
    }
    return CodecResult::failed;
}

// A null output measures: the size produced is then the answer.
CodecResult decompress_service(Codec codec, const std::uint8_t* in, std::size_t n,
                               std::uint8_t* out, std::size_t* size) {
    if (!out) *size = 0;
    Result r = ok;
    switch (codec) {
        case Codec::zlib: r = zlib_decompress(in, n, out, size); break;
        case Codec::deflate: r = deflate_decompress(in, n, out, size); break;
        case Codec::gzip: r = gzip_decompress(in, n, out, size); break;
    }
    if (!out && r == too_small) r = ok;
    return to_codec(r);
}

}  // namespace

Result deflate_compress(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t* size) {
    BitWriter w{out, out ? *size : 0};
    deflate_into(w, in, n);
    const bool fits = w.cursor <= w.room;
    *size = w.cursor;
    return fits ? ok : too_small;
}

Result zlib_compress(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t* size) {
    const std::size_t room = out ? *size : 0;
    if (room < 6) {
        *size = n + 6;
        return bad_frame;
    }
    out[0] = 0x78;
    out[1] = 0x01;
    std::size_t stream = room - 6;
    const Result r = deflate_compress(in, n, out + 2, &stream);
    *size = stream + 6;
    if (r != ok) return too_small;
    put_be32(out + 2 + stream, checksum::adler32(checksum::Bytes(in, n)));
    return ok;
}

Result gzip_compress(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t* size) {
    const std::size_t room = out ? *size : 0;
    if (n > 2 && in[0] == 0x1F && in[1] == 0x8B && in[2] == 0x08) {
        *size = n;
        if (room < n) return too_small;
        std::memcpy(out, in, n);
        return ok;
    }
    if (room < 18) {
        *size = n + 18;
        return bad_frame;
    }
    static constexpr std::uint8_t header[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04};
    std::memcpy(out, header, sizeof header);
    std::size_t stream = room - 18;
    const Result r = deflate_compress(in, n, out + 10, &stream);
    *size = stream + 18;
    if (r != ok) return too_small;
    put_le32(out + 10 + stream, checksum::crc32(checksum::Bytes(in, n)));
    put_le32(out + 14 + stream, static_cast<std::uint32_t>(n));
    return ok;
}

Result deflate_decompress(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                          std::size_t* size) {
    return inflate(in, n, out, size);
}

Result zlib_decompress(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t* size) {
    if (n < 6) return bad_frame;
    const std::uint32_t cmf = in[0];
    const std::uint32_t flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20))
        return bad_frame;
    const Result r = inflate(in + 2, n - 6, out, size);
    if (r != ok || !out) return r;
    const std::uint8_t* t = in + n - 4;
    const std::uint32_t stored = static_cast<std::uint32_t>(t[0]) << 24 |
                                 static_cast<std::uint32_t>(t[1]) << 16 |
                                 static_cast<std::uint32_t>(t[2]) << 8 | t[3];
    return checksum::adler32(checksum::Bytes(out, *size)) == stored ? ok : bad_frame;
}

Result gzip_decompress(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t* size) {
    if (n <= 17 || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || in[3] >= 32) return bad_frame;
    const std::uint8_t flags = in[3];
    const std::size_t end = n - 8;  // the trailer
    std::size_t p = 10;
    if (flags & 4) {
        if (p + 2 > end) return bad_frame;
        const std::size_t extra = in[p] | static_cast<std::size_t>(in[p + 1]) << 8;
        p += 2;
        if (extra > end - p) return bad_frame;
        p += extra;
    }
    for (const std::uint8_t text : {std::uint8_t{8}, std::uint8_t{16}}) {
        if (!(flags & text)) continue;
        while (p < end && in[p] != 0) ++p;
        if (p >= end) return bad_frame;
        ++p;
    }
    if (flags & 2) {
        if (p + 2 > end) return bad_frame;
        const std::uint32_t crc = checksum::crc32(checksum::Bytes(in, p)) & 0xFFFF;
        if (crc != (in[p] | static_cast<std::uint32_t>(in[p + 1]) << 8)) return bad_frame;
        p += 2;
    }
    const Result r = inflate(in + p, end - p, out, size);
    if (r != ok) return r;
    if (static_cast<std::uint32_t>(*size) != le32(in + n - 4)) return bad_frame;
    if (!out) return ok;
    return checksum::crc32(checksum::Bytes(out, *size)) == le32(in + end) ? ok : bad_frame;
}

void init() {
    natives_system::codec_service.compress = compress_service;
    natives_system::codec_service.decompress = decompress_service;
}

}  // namespace kiv::compression
