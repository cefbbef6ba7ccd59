// Deflate, zlib and gzip: see compression.h.
//
// Sections: the code tables, the compressor (bit writer, match finder), the
// inflater (bit reader, Huffman tables, blocks), the framings, and the hooks
// the natives call.
#include "runtime/services/compression.h"

#include <array>
#include <bit>
#include <cstring>

#include "runtime/evaluator/checksum.h"
#include "runtime/evaluator/natives-system.h"

namespace kiv::compression {

namespace {

static_assert(std::endian::native == std::endian::little, "the bit reader loads words little-endian");

// ---------------------------------------------------------------------------
// Code tables shared by both directions

// Length symbols 257..285: base length and extra bits.
constexpr std::array<std::uint16_t, 29> length_base = {
    3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
    35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint8_t, 29> length_extra = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

// Distance symbols 0..29: base distance and extra bits.
constexpr std::array<std::uint16_t, 30> distance_base = {
    1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193,
    257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint8_t, 30> distance_extra = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

constexpr std::uint32_t reverse_bits(std::uint32_t v, int n) {
    std::uint32_t r = 0;
    for (int i = 0; i < n; ++i) r = (r << 1) | ((v >> i) & 1);
    return r;
}

// The fixed literal/length code lengths: 8 for 0-143, 9 for 144-255, 7 for
// 256-279, 8 for 280-287.
constexpr int fixed_length(int symbol) {
    return symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
}

// A fixed code as the bit writer sends it: reversed, so that the code's
// most significant bit goes first.
struct Code {
    std::uint16_t bits;
    std::uint8_t length;
};

constexpr std::array<Code, 288> make_fixed_codes() {
    std::array<Code, 288> codes{};
    for (int s = 0; s < 288; ++s) {
        const std::uint32_t code = s < 144 ? 0x30 + s
                                 : s < 256 ? 0x190 + (s - 144)
                                 : s < 280 ? s - 256
                                           : 0xC0 + (s - 280);
        const int n = fixed_length(s);
        codes[s] = {static_cast<std::uint16_t>(reverse_bits(code, n)), static_cast<std::uint8_t>(n)};
    }
    return codes;
}
constexpr std::array<Code, 288> fixed_codes = make_fixed_codes();

// The length symbol (less 257) of each match length 3..258; 258 has its own
// symbol 285 rather than 284's last extra value.
constexpr std::array<std::uint8_t, 259> make_length_symbols() {
    std::array<std::uint8_t, 259> t{};
    for (int i = 0; i < 28; ++i)
        for (int l = length_base[i]; l < length_base[i] + (1 << length_extra[i]) && l < 258; ++l)
            t[l] = static_cast<std::uint8_t>(i);
    t[258] = 28;
    return t;
}
constexpr std::array<std::uint8_t, 259> length_symbols = make_length_symbols();

// The distance symbol of a distance 1..32768.
int distance_symbol(std::uint32_t d) {
    if (d <= 4) return static_cast<int>(d - 1);
    const int n = std::bit_width(d - 1) - 1;
    return 2 * n + static_cast<int>(((d - 1) >> (n - 1)) & 1);
}

// ---------------------------------------------------------------------------
// Compressor

// Packs bits LSB first. Bytes past the capacity are counted but not stored,
// so `pos` ends as the size the whole stream needs.
struct BitWriter {
    std::uint8_t* out;
    std::size_t capacity;
    std::size_t pos = 0;
    std::uint64_t acc = 0;
    int count = 0;

    void put(std::uint32_t v, int n) {
        acc |= std::uint64_t{v} << count;
        count += n;
        while (count > 7) {
            if (pos < capacity) out[pos] = static_cast<std::uint8_t>(acc);
            acc >>= 8;
            count -= 8;
            ++pos;
        }
    }
    void put_code(const Code& c) { put(c.bits, c.length); }
    void align() { put(0, (8 - count) & 7); }
};

void put_match(BitWriter& w, std::uint32_t length, std::uint32_t distance) {
    const int ls = length_symbols[length];
    w.put_code(fixed_codes[257 + ls]);
    w.put(length - length_base[ls], length_extra[ls]);
    const int ds = distance_symbol(distance);
    w.put(reverse_bits(static_cast<std::uint32_t>(ds), 5), 5);
    w.put(distance - distance_base[ds], distance_extra[ds]);
}

constexpr int hash_buckets = 1024;
constexpr int bucket_slots = 4;
constexpr std::size_t window = 32768;
constexpr std::uint32_t max_match = 258;

std::uint32_t three_bytes(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
}

std::uint32_t bucket_of(std::uint32_t v) {
    v ^= v >> 16;
    v *= 0x7FEB352Du;
    v ^= v >> 15;
    v *= 0x846CA68Bu;
    v ^= v >> 16;
    return v & (hash_buckets - 1);
}

// A slot holds an input position + 1 above the three bytes found there; 0
// is an empty slot.
// PERF: keeping the bytes in the slot spares a probe reading the input back:
// 374M instructions before, 277M after, for the compressor's two passes over
// 1 MB of random bytes (callgrind).
using Slot = std::uint64_t;

Slot make_slot(std::size_t position, std::uint32_t bytes) {
    return static_cast<Slot>(position + 1) << 24 | bytes;
}

// The position of the first slot of the bucket that holds an earlier
// position within the window whose three bytes equal `here`, those at p;
// p when none does.
std::size_t find_match(const Slot* slots, std::size_t p, std::uint32_t here) {
    for (int k = 0; k < bucket_slots; ++k) {
        const Slot e = slots[k];
        if (e == 0 || (e & 0xFFFFFF) != here) continue;
        const std::size_t s = static_cast<std::size_t>(e >> 24) - 1;
        if (s < p && p - s < window) return s;
    }
    return p;
}

// The three bytes at p, zeros standing for those past the end.
std::uint32_t three_bytes_at(const std::uint8_t* in, std::size_t p, std::size_t n) {
    if (n - p >= 3) return three_bytes(in + p);
    std::uint8_t last[3] = {};
    std::memcpy(last, in + p, n - p);
    return three_bytes(last);
}

}  // namespace

Result deflate(std::uint8_t* out, std::size_t* size, const std::uint8_t* in, std::size_t n) {
    // The table lives on the stack and is cleared per call; nothing is
    // allocated.
    Slot table[hash_buckets][bucket_slots] = {};
    BitWriter w{out, out ? *size : 0};
    w.put(1, 1);  // final block
    w.put(1, 2);  // fixed codes
    std::size_t p = 0;
    while (p < n) {
        const std::size_t start = p;
        const bool has_three = n - p >= 3;
        const std::uint32_t here = has_three ? three_bytes(in + p) : 0;
        Slot* slots = table[bucket_of(here)];
        const std::size_t s = has_three && p >= 3 ? find_match(slots, p, here) : p;
        if (s != p) {
            std::uint32_t length = 3;
            while (length < max_match && p + length < n && in[s + length] == in[p + length]) ++length;
            put_match(w, length, static_cast<std::uint32_t>(p - s));
            p += length;
        } else {
            w.put_code(fixed_codes[in[p]]);
            ++p;
        }
        // Only the position each step began at is remembered; the slot is
        // chosen by the bytes at the next step (zeros past the end).
        if (has_three) {
            const std::uint32_t v = three_bytes_at(in, p, n);
            slots[((v >> 14) - v) & (bucket_slots - 1)] = make_slot(start, here);
        }
    }
    w.put_code(fixed_codes[256]);
    w.align();
    *size = w.pos;
    return w.pos > w.capacity ? Result::too_small : Result::ok;
}

namespace {

// ---------------------------------------------------------------------------
// Inflater: bit reader

// Takes bits LSB first. Past the end of the input it supplies zero bits and
// counts them in `pad`; they are always the top `pad` of the `count` bits
// held, so taking one of them (count < pad) means the stream was cut short.
struct BitReader {
    const std::uint8_t* p;
    const std::uint8_t* end;
    std::uint64_t acc = 0;
    int count = 0;
    int pad = 0;

    void refill() {
        if (end - p >= 8) {
            // Bits above the new count hold the next bytes already; the next
            // refill ORs the same bytes over them.
            std::uint64_t word;
            std::memcpy(&word, p, 8);
            acc |= word << count;
            const int take = (63 - count) >> 3;
            p += take;
            count += take * 8;
            return;
        }
        while (count <= 56) {
            if (p < end) acc |= std::uint64_t{*p++} << count;
            else pad += 8;
            count += 8;
        }
    }
    std::uint32_t peek(int n) {
        if (count < n) refill();
        return static_cast<std::uint32_t>(acc & ((std::uint64_t{1} << n) - 1));
    }
    void drop(int n) {
        acc >>= n;
        count -= n;
    }
    std::uint32_t take(int n) {
        const std::uint32_t v = peek(n);
        drop(n);
        return v;
    }
    bool overrun() const { return count < pad; }
    // Drops the bits of a partial byte and gives the unread whole bytes held
    // back to the input, so bytes can be copied straight from it.
    void to_byte_boundary() {
        drop(count & 7);
        p -= (count - pad) >> 3;
        acc = 0;
        count = 0;
        pad = 0;
    }
};

// ---------------------------------------------------------------------------
// Inflater: Huffman tables

constexpr int max_bits = 15;
constexpr int fast_bits = 10;

// A canonical code: the count of codes of each length and the symbols in
// code order, plus a direct table for codes of up to fast_bits bits indexed
// by the next fast_bits input bits; an entry is symbol << 4 | length, 0 when
// the code there is longer or unused.
struct Huffman {
    std::array<std::uint16_t, max_bits + 1> count;
    std::array<std::uint16_t, 288> symbol;
    std::array<std::uint16_t, 1 << fast_bits> fast;
};

// Builds the code of `n` symbols from their lengths (0 = unused). An
// over-subscribed set of lengths is refused; an incomplete one is kept, and
// its unused patterns fail when met.
bool build(Huffman& h, const std::uint8_t* lengths, int n) {
    h.count.fill(0);
    for (int s = 0; s < n; ++s) ++h.count[lengths[s]];
    h.count[0] = 0;
    int left = 1;
    for (int len = 1; len <= max_bits; ++len) {
        left = (left << 1) - h.count[len];
        if (left < 0) return false;
    }
    std::array<std::uint16_t, max_bits + 2> offset{};
    std::array<std::uint32_t, max_bits + 1> next_code{};
    std::uint32_t code = 0;
    for (int len = 1; len <= max_bits; ++len) {
        offset[len + 1] = static_cast<std::uint16_t>(offset[len] + h.count[len]);
        code = (code + h.count[len - 1]) << 1;
        next_code[len] = code;
    }
    h.fast.fill(0);
    for (int s = 0; s < n; ++s) {
        const int len = lengths[s];
        if (len == 0) continue;
        h.symbol[offset[len]++] = static_cast<std::uint16_t>(s);
        const std::uint32_t c = next_code[len]++;
        if (len > fast_bits) continue;
        const auto entry = static_cast<std::uint16_t>(s << 4 | len);
        for (std::uint32_t e = reverse_bits(c, len); e < (1u << fast_bits); e += 1u << len) h.fast[e] = entry;
    }
    return true;
}

// The next symbol, or -1 for a bit pattern that is no code.
int decode(BitReader& in, const Huffman& h) {
    const std::uint32_t bits = in.peek(max_bits);
    const std::uint16_t entry = h.fast[bits & ((1u << fast_bits) - 1)];
    if (entry) {
        in.drop(entry & 15);
        return entry >> 4;
    }
    // A long code: walk the lengths, one bit at a time, in canonical order.
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= max_bits; ++len) {
        code |= static_cast<int>((bits >> (len - 1)) & 1);
        const int c = h.count[len];
        if (code - c < first) {
            in.drop(len);
            return h.symbol[index + code - first];
        }
        index += c;
        first = (first + c) << 1;
        code <<= 1;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Inflater: blocks

// Output that stores only what fits and counts everything.
struct Sink {
    std::uint8_t* out;
    std::size_t capacity;
    std::size_t pos = 0;

    void put(std::uint8_t b) {
        if (pos < capacity) out[pos] = b;
        ++pos;
    }
    // Copies byte by byte, so an overlapping copy repeats its pattern.
    void copy(std::size_t distance, std::size_t length) {
        if (pos + length <= capacity) {
            std::uint8_t* o = out + pos;
            const std::uint8_t* s = o - distance;
            for (std::size_t i = 0; i < length; ++i) o[i] = s[i];
            pos += length;
        } else if (pos >= capacity) {
            pos += length;
        } else {
            // The copy crosses the capacity: past it, nothing is stored and
            // nothing may be read back.
            for (std::size_t i = 0; i < length; ++i, ++pos)
                if (pos < capacity) out[pos] = out[pos - distance];
        }
    }
};

const Huffman& fixed_literals() {
    static const Huffman h = [] {
        Huffman t;
        std::array<std::uint8_t, 288> lengths;
        for (int s = 0; s < 288; ++s) lengths[s] = static_cast<std::uint8_t>(fixed_length(s));
        build(t, lengths.data(), 288);
        return t;
    }();
    return h;
}

const Huffman& fixed_distances() {
    static const Huffman h = [] {
        Huffman t;
        std::array<std::uint8_t, 32> lengths;
        lengths.fill(5);
        build(t, lengths.data(), 32);
        return t;
    }();
    return h;
}

constexpr std::array<std::uint8_t, 19> code_length_order = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Reads a dynamic block's code lengths and builds its two codes.
Result read_dynamic(BitReader& in, Huffman& literals, Huffman& distances) {
    const int hlit = static_cast<int>(in.take(5)) + 257;
    const int hdist = static_cast<int>(in.take(5)) + 1;
    const int hclen = static_cast<int>(in.take(4)) + 4;
    std::array<std::uint8_t, 19> cl{};
    for (int i = 0; i < hclen; ++i) cl[code_length_order[i]] = static_cast<std::uint8_t>(in.take(3));
    if (in.overrun()) return Result::short_input;
    Huffman cl_code;
    if (!build(cl_code, cl.data(), 19)) return Result::bad_code;
    std::array<std::uint8_t, 288 + 32> lengths{};
    const int total = hlit + hdist;
    int i = 0;
    while (i < total) {
        const int sym = decode(in, cl_code);
        if (in.overrun()) return Result::short_input;
        if (sym < 0) return Result::bad_code;
        if (sym < 16) {
            lengths[i++] = static_cast<std::uint8_t>(sym);
            continue;
        }
        std::uint8_t value = 0;
        int repeat;
        if (sym == 16) {
            if (i == 0) return Result::bad_code;
            value = lengths[i - 1];
            repeat = 3 + static_cast<int>(in.take(2));
        } else if (sym == 17) {
            repeat = 3 + static_cast<int>(in.take(3));
        } else {
            repeat = 11 + static_cast<int>(in.take(7));
        }
        if (in.overrun()) return Result::short_input;
        if (i + repeat > total) return Result::bad_code;
        for (int k = 0; k < repeat; ++k) lengths[i++] = value;
    }
    if (!build(literals, lengths.data(), hlit) || !build(distances, lengths.data() + hlit, hdist))
        return Result::bad_code;
    return Result::ok;
}

// Decodes the symbols of one Huffman block up to its end code.
Result read_codes(BitReader& in, Sink& out, const Huffman& literals, const Huffman& distances) {
    for (;;) {
        const int sym = decode(in, literals);
        if (in.overrun()) return Result::short_input;
        if (sym < 0) return Result::bad_code;
        if (sym < 256) {
            out.put(static_cast<std::uint8_t>(sym));
            continue;
        }
        if (sym == 256) return Result::ok;
        const int ls = sym - 257;
        if (ls >= 29) return Result::bad_code;
        const std::size_t length = length_base[ls] + in.take(length_extra[ls]);
        const int ds = decode(in, distances);
        if (in.overrun()) return Result::short_input;
        if (ds < 0 || ds >= 30) return Result::bad_code;
        const std::size_t distance = distance_base[ds] + in.take(distance_extra[ds]);
        if (in.overrun()) return Result::short_input;
        if (distance > out.pos) return Result::bad_distance;
        out.copy(distance, length);
        if (out.pos > max_output) return Result::too_small;
    }
}

Result read_stored(BitReader& in, Sink& out) {
    in.to_byte_boundary();
    if (in.end - in.p < 4) return Result::short_input;
    const std::size_t length = in.p[0] | std::size_t{in.p[1]} << 8;  // the complement is not checked
    in.p += 4;
    if (static_cast<std::size_t>(in.end - in.p) < length) return Result::short_input;
    if (out.pos + length <= out.capacity) {
        if (length) std::memcpy(out.out + out.pos, in.p, length);
        out.pos += length;
    } else {
        for (std::size_t i = 0; i < length; ++i) out.put(in.p[i]);
    }
    in.p += length;
    return Result::ok;
}

Result read_blocks(BitReader& in, Sink& out) {
    Huffman literals, distances;
    for (;;) {
        const std::uint32_t final_block = in.take(1);
        const std::uint32_t type = in.take(2);
        if (in.overrun()) return Result::short_input;
        Result r;
        if (type == 0) {
            r = read_stored(in, out);
        } else if (type == 1) {
            r = read_codes(in, out, fixed_literals(), fixed_distances());
        } else if (type == 2) {
            r = read_dynamic(in, literals, distances);
            if (r == Result::ok) r = read_codes(in, out, literals, distances);
        } else {
            return Result::bad_block;
        }
        if (r != Result::ok) return r;
        if (out.pos > max_output) return Result::too_small;
        if (final_block) return Result::ok;
    }
}

}  // namespace

Result inflate(std::uint8_t* out, std::size_t* size, const std::uint8_t* in, std::size_t n) {
    BitReader reader{in, in + n};
    Sink sink{out, out ? *size : 0};
    const Result r = read_blocks(reader, sink);
    *size = sink.pos;
    if (r != Result::ok) return r;
    return sink.pos > sink.capacity ? Result::too_small : Result::ok;
}

// ---------------------------------------------------------------------------
// Framings

namespace {

void put_be32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}
void put_le32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t be32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
std::uint32_t le32(const std::uint8_t* p) {
    return std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
}
std::uint32_t le16(const std::uint8_t* p) { return std::uint32_t{p[1]} << 8 | p[0]; }

// A deflate stream between a header and a trailer: compresses into the room
// after the header and answers the stream's length, or fails with the total
// size needed.
Result framed_deflate(std::uint8_t* out, std::size_t* size, const std::uint8_t* in, std::size_t n,
                      std::size_t header, std::size_t trailer, std::size_t* stream) {
    const std::size_t capacity = out ? *size : 0;
    const bool room = capacity >= header;
    *stream = room ? capacity - header : 0;
    deflate(room ? out + header : nullptr, stream, in, n);
    const std::size_t total = header + *stream + trailer;
    *size = total;
    return total > capacity ? Result::too_small : Result::ok;
}

constexpr std::uint8_t gzip_header[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04};

namespace gzip_flag {
constexpr std::uint8_t hcrc = 2;
constexpr std::uint8_t extra = 4;
constexpr std::uint8_t name = 8;
constexpr std::uint8_t comment = 16;
}  // namespace gzip_flag

// The offset just after a gzip header's optional fields, or 0 when the
// header is malformed or leaves no room for the 8-byte trailer.
std::size_t gzip_body(const std::uint8_t* in, std::size_t n) {
    if (n < 18 || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || in[3] >= 32) return 0;
    const std::uint8_t flags = in[3];
    const std::size_t limit = n - 8;
    std::size_t h = 10;
    if (flags & gzip_flag::extra) {
        if (limit - h < 2) return 0;
        const std::size_t length = le16(in + h);
        h += 2;
        if (limit - h < length) return 0;
        h += length;
    }
    for (const std::uint8_t flag : {gzip_flag::name, gzip_flag::comment}) {
        if (!(flags & flag)) continue;
        const void* nul = std::memchr(in + h, 0, limit - h);
        if (!nul) return 0;
        h = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - in) + 1;
    }
    if (flags & gzip_flag::hcrc) {
        if (limit - h < 2) return 0;
        const std::uint32_t crc = checksum::crc32(checksum::Bytes(in, h));
        if ((crc & 0xFFFF) != le16(in + h)) return 0;
        h += 2;
    }
    return h;
}

}  // namespace

Result zlib_compress(std::uint8_t* out, std::size_t* size, const std::uint8_t* in, std::size_t n) {
    std::size_t stream;
    const Result r = framed_deflate(out, size, in, n, 2, 4, &stream);
    if (r != Result::ok) return r;
    out[0] = 0x78;
    out[1] = 0x01;
    put_be32(out + 2 + stream, checksum::adler32(checksum::Bytes(in, n)));
    return Result::ok;
}

Result zlib_decompress(std::uint8_t* out, std::size_t* size, const std::uint8_t* in,
                       std::size_t n) {
    if (n < 6) return Result::bad_frame;
    const std::uint32_t cmf = in[0], flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 15) != 8 || (cmf & 0x80) || (flg & 0x20))
        return Result::bad_frame;
    const Result r = inflate(out, size, in + 2, n - 6);
    if (r != Result::ok) return r;
    if (checksum::adler32(checksum::Bytes(out, *size)) != be32(in + n - 4)) return Result::bad_frame;
    return Result::ok;
}

Result gzip_compress(std::uint8_t* out, std::size_t* size, const std::uint8_t* in, std::size_t n) {
    if (n > 2 && in[0] == 0x1F && in[1] == 0x8B && in[2] == 0x08) {
        const std::size_t capacity = out ? *size : 0;
        *size = n;
        if (capacity < n) return Result::too_small;
        std::memcpy(out, in, n);
        return Result::ok;
    }
    std::size_t stream;
    const Result r = framed_deflate(out, size, in, n, 10, 8, &stream);
    if (r != Result::ok) return r;
    std::memcpy(out, gzip_header, 10);
    put_le32(out + 10 + stream, checksum::crc32(checksum::Bytes(in, n)));
    put_le32(out + 14 + stream, static_cast<std::uint32_t>(n));
    return Result::ok;
}

Result gzip_decompress(std::uint8_t* out, std::size_t* size, const std::uint8_t* in,
                       std::size_t n) {
    const std::size_t body = gzip_body(in, n);
    if (body == 0) return Result::bad_frame;
    // The stored length is only compared with what the stream produces; it
    // never sizes anything.
    const Result r = inflate(out, size, in + body, n - 8 - body);
    if (r == Result::too_small && *size > max_output) return r;
    if (r != Result::ok && r != Result::too_small) return r;
    if ((*size & 0xFFFFFFFF) != le32(in + n - 4)) return Result::bad_frame;
    if (r != Result::ok) return r;
    if (checksum::crc32(checksum::Bytes(out, *size)) != le32(in + n - 8)) return Result::bad_frame;
    return Result::ok;
}

// ---------------------------------------------------------------------------
// The hooks of the compress and decompress natives

namespace {

using natives_system::Codec;
using natives_system::CodecResult;
using Entry = Result (*)(std::uint8_t*, std::size_t*, const std::uint8_t*, std::size_t);

// By natives_system::Codec: zlib, deflate, gzip.
constexpr Entry compressors[] = {zlib_compress, deflate, gzip_compress};
constexpr Entry decompressors[] = {zlib_decompress, inflate, gzip_decompress};

CodecResult codec_result(Result r) {
    if (r == Result::ok) return CodecResult::ok;
    return r == Result::too_small ? CodecResult::too_small : CodecResult::failed;
}

CodecResult compress_hook(Codec codec, const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                          std::size_t* size) {
    return codec_result(compressors[static_cast<int>(codec)](out, size, in, n));
}

// With no output, measures: the size needed is the answer, not a shortfall.
CodecResult decompress_hook(Codec codec, const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                            std::size_t* size) {
    if (!out) *size = 0;
    const Result r = decompressors[static_cast<int>(codec)](out, size, in, n);
    if (!out && r == Result::too_small) return CodecResult::ok;
    return codec_result(r);
}

}  // namespace

void init() {
    natives_system::codec_service.compress = compress_hook;
    natives_system::codec_service.decompress = decompress_hook;
}

}  // namespace kiv::compression
