#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "runtime/services/compression.h"

namespace kiv::compression {

namespace {

using Bytes = std::vector<std::uint8_t>;
using Entry = Result (*)(std::uint8_t*, std::size_t*, const std::uint8_t*, std::size_t);

Bytes bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// Runs an entry point on an exact-size copy of the input (so a read past its
// end is a sanitizer error) into a buffer of `capacity` bytes followed by
// guard bytes, which must come back untouched.
struct Outcome {
    Result result;
    std::size_t size;
    Bytes out;  // the bytes stored, up to min(size, capacity)
};

Outcome run(Entry fn, const Bytes& in, std::size_t capacity) {
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[in.size() + 1]);
    std::copy(in.begin(), in.end(), exact.get());
    Bytes buffer(capacity + 16, 0xA5);
    std::size_t size = capacity;
    const Result r = fn(buffer.data(), &size, exact.get(), in.size());
    for (std::size_t i = capacity; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xA5) << "guard " << i;
    buffer.resize(std::min(size, capacity));
    return {r, size, buffer};
}

// The size query, then a call with exactly that room.
Outcome run_sized(Entry fn, const Bytes& in) {
    std::size_t size = 0;
    const Result query = fn(nullptr, &size, in.data(), in.size());
    if (query != Result::too_small && query != Result::ok) return {query, size, {}};
    return run(fn, in, size);
}

// LSB-first bit packing, as deflate streams are written; Huffman codes go
// most significant bit first.
struct BitPacker {
    Bytes bytes;
    int used = 8;
    void bits(std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) {
            if (used == 8) {
                bytes.push_back(0);
                used = 0;
            }
            bytes.back() |= static_cast<std::uint8_t>(((v >> i) & 1) << used++);
        }
    }
    void code(std::uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bits((v >> i) & 1, 1);
    }
};

// A fixed-code block read back as tokens: "a" for a literal, "<258,1>" for
// a match of length 258 at distance 1. Written independently of the coder,
// reading the codes one bit at a time.
struct BitTaker {
    const Bytes& b;
    std::size_t pos = 0;
    std::uint32_t bit() {
        const std::uint32_t v = (b.at(pos / 8) >> (pos % 8)) & 1;
        ++pos;
        return v;
    }
    std::uint32_t bits(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= bit() << i;
        return v;
    }
    std::uint32_t code(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 1 | bit();
        return v;
    }
};

std::vector<std::string> tokens(const Bytes& stream) {
    static const int lbase[] = {3, 4, 5, 6, 7, 8, 9, 10, 11, 13, 15, 17, 19, 23, 27, 31,
                                35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int lextra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    BitTaker t{stream};
    std::vector<std::string> out;
    if (t.bits(3) != 3) return {"not a final fixed block"};
    for (;;) {
        std::uint32_t c = t.code(7);
        int sym;
        if (c <= 23) {
            sym = 256 + static_cast<int>(c);
        } else {
            c = c << 1 | t.bit();
            if (c >= 0x30 && c <= 0xBF) sym = static_cast<int>(c - 0x30);
            else if (c >= 0xC0 && c <= 0xC7) sym = static_cast<int>(c - 0xC0 + 280);
            else sym = static_cast<int>((c << 1 | t.bit()) - 0x190 + 144);
        }
        if (sym < 256) {
            out.push_back(std::string(1, static_cast<char>(sym)));
            continue;
        }
        if (sym == 256) break;
        const int length = lbase[sym - 257] + static_cast<int>(t.bits(lextra[sym - 257]));
        const int d = static_cast<int>(t.code(5));
        int distance = 1, extra = 0;
        for (int k = 0; k < d; ++k) {
            distance += 1 << extra;
            if (k >= 2 && k % 2 == 1) ++extra;
        }
        distance += static_cast<int>(t.bits(extra));
        out.push_back("<" + std::to_string(length) + "," + std::to_string(distance) + ">");
    }
    // Padding to the byte boundary, and nothing after it.
    if (t.pos + 7 < stream.size() * 8 || t.pos > stream.size() * 8) out.push_back("bad end");
    return out;
}

Bytes data_of_kind(int kind, std::size_t n, std::uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes d(n);
    static const char* words[] = {"the ", "quick ", "brown ", "fox ", "jumps\n", "over ", "lazy ", "dog. "};
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        switch (kind) {
            case 0: d[i] = 0; break;                                               // one byte repeated
            case 1: d[i] = static_cast<std::uint8_t>(rng()); break;                 // incompressible
            case 2: d[i] = static_cast<std::uint8_t>("abcdefg"[i % 7]); break;      // short period
            case 3: d[i] = static_cast<std::uint8_t>(rng() % 4 + 'a'); break;       // small alphabet
            default:                                                               // text-like
                while (text.size() <= i) text += words[rng() % 8];
                d[i] = static_cast<std::uint8_t>(text[i]);
        }
    }
    return d;
}

}  // namespace

TEST(Compression, EmptyInputFrames) {
    struct Case { Entry fn; Bytes out; };
    const Case cases[] = {
        {deflate, {0x03, 0x00}},
        {zlib_compress, {0x78, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}},
        {gzip_compress, {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04, 0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const Outcome r = run_sized(c.fn, {});
        EXPECT_EQ(r.result, Result::ok);
        EXPECT_EQ(r.out, c.out);
    }
}

TEST(Compression, CompressorTokens) {
    struct Case { std::string in; std::vector<std::string> tokens; };
    const std::string run300(300, 'x');
    std::vector<std::string> x300 = {"x", "x", "x", "<258,1>", "<39,258>"};
    const Case cases[] = {
        {"a", {"a"}},
        {"ab", {"a", "b"}},
        {"aaaa", {"a", "a", "a", "a"}},       // too few bytes after the first three
        {"aaaaaa", {"a", "a", "a", "<3,1>"}},
        {"abcabc", {"a", "b", "c", "<3,3>"}},
        {"abcdabcx", {"a", "b", "c", "d", "<3,4>", "x"}},
        {"\xff\x90\x8f", {"\xff", "\x90", "\x8f"}},  // 9- and 8-bit literal codes
        {run300, x300},
    };
    for (const Case& c : cases) {
        const Outcome r = run_sized(deflate, bytes(c.in));
        ASSERT_EQ(r.result, Result::ok);
        EXPECT_EQ(tokens(r.out), c.tokens) << c.in.substr(0, 10);
    }
}

TEST(Compression, MatchesStayInsideTheWindow) {
    // "abc", zeros, then "abc" again at distance 32,767 (found) and 32,768
    // (too far: literals).
    for (std::size_t distance : {32767u, 32768u}) {
        Bytes in(distance + 3, 0);
        for (std::size_t at : {std::size_t{0}, distance}) {
            in[at] = 'a';
            in[at + 1] = 'b';
            in[at + 2] = 'c';
        }
        const Outcome r = run_sized(deflate, in);
        ASSERT_EQ(r.result, Result::ok);
        const std::vector<std::string> t = tokens(r.out);
        const std::vector<std::string> tail(t.end() - (distance == 32767 ? 1 : 3), t.end());
        if (distance == 32767) EXPECT_EQ(tail, std::vector<std::string>{"<3,32767>"});
        else EXPECT_EQ(tail, (std::vector<std::string>{"a", "b", "c"}));
    }
}

TEST(Compression, RoundTripsAcrossSizesAndKinds) {
    const std::size_t sizes[] = {0, 1, 2, 3, 4, 257, 258, 259, 1000, 32767, 32768, 32769, 100000, 1 << 20};
    struct Codec { Entry compress, decompress; };
    const Codec codecs[] = {{deflate, inflate}, {zlib_compress, zlib_decompress},
                            {gzip_compress, gzip_decompress}};
    for (int kind = 0; kind < 5; ++kind) {
        for (std::size_t n : sizes) {
            Bytes in = data_of_kind(kind, n, static_cast<std::uint32_t>(n + kind));
            if (n > 0) in[0] = 0;  // never the gzip magic, which passes through
            for (const Codec& c : codecs) {
                const Outcome packed = run_sized(c.compress, in);
                ASSERT_EQ(packed.result, Result::ok);
                const Outcome back = run_sized(c.decompress, packed.out);
                ASSERT_EQ(back.result, Result::ok) << kind << " " << n;
                EXPECT_TRUE(back.out == in) << kind << " " << n;
            }
        }
    }
    // Incompressible input grows by at most a ninth plus the frame.
    Bytes noise = data_of_kind(1, 1 << 20, 7);
    noise[0] = 0;
    const Outcome packed = run_sized(gzip_compress, noise);
    EXPECT_LE(packed.size, noise.size() * 9 / 8 + 20);
    EXPECT_TRUE(run_sized(gzip_decompress, packed.out).out == noise);
}

TEST(Compression, ShortOutputReportsTheSizeNeeded) {
    const Bytes in = data_of_kind(4, 5000, 3);
    const Outcome full = run_sized(zlib_compress, in);
    struct Case { Entry fn; Bytes in; std::size_t size; };
    const Outcome raw = run_sized(deflate, in);
    const Outcome gz = run_sized(gzip_compress, in);
    const Case cases[] = {
        {deflate, in, raw.size}, {zlib_compress, in, full.size}, {gzip_compress, in, gz.size},
        {inflate, raw.out, in.size()}, {zlib_decompress, full.out, in.size()},
        {gzip_decompress, gz.out, in.size()},
    };
    for (const Case& c : cases) {
        for (std::size_t capacity : {std::size_t{0}, std::size_t{1}, std::size_t{5}, c.size - 1}) {
            const Outcome r = run(c.fn, c.in, capacity);
            EXPECT_EQ(r.result, Result::too_small) << capacity;
            EXPECT_EQ(r.size, c.size) << capacity;
        }
        const Outcome exact = run(c.fn, c.in, c.size);
        EXPECT_EQ(exact.result, Result::ok);
        EXPECT_EQ(exact.size, c.size);
    }
}

TEST(Compression, InflateBlocks) {
    // A fixed block of one literal "a", with the final flag given.
    auto fixed_a = [](bool final_block) {
        BitPacker p;
        p.bits(final_block, 1);
        p.bits(1, 2);
        p.code(0x30 + 'a', 8);
        p.code(0, 7);
        return p.bytes;
    };
    Bytes empty_stored_then_a = {0x00, 0x00, 0x00, 0xFF, 0xFF};
    for (std::uint8_t b : fixed_a(true)) empty_stored_then_a.push_back(b);
    BitPacker a_then_stored;  // the stored block's header bits follow at once
    a_then_stored.bytes = fixed_a(false);
    a_then_stored.used = 2;
    a_then_stored.bits(1, 1);
    a_then_stored.bits(0, 2);
    for (std::uint8_t b : Bytes{0x03, 0x00, 0xFC, 0xFF, 'x', 'y', 'z'}) a_then_stored.bytes.push_back(b);
    BitPacker far;  // a match at the very start reaches before the output
    far.bits(1, 1);
    far.bits(1, 2);
    far.code(1, 7);  // length 3
    far.code(0, 5);  // distance 1
    BitPacker overlap;  // "ab" then 5 bytes from 2 back
    overlap.bits(3, 3);
    overlap.code(0x30 + 'a', 8);
    overlap.code(0x30 + 'b', 8);
    overlap.code(3, 7);  // length 5
    overlap.code(1, 5);  // distance 2
    overlap.code(0, 7);
    BitPacker far_distance;  // distance symbol 30 does not exist
    far_distance.bits(3, 3);
    far_distance.code(0x30 + 'a', 8);
    far_distance.code(1, 7);
    far_distance.code(30, 5);
    struct Case { const char* name; Bytes in; Result result; std::string out; };
    const Case cases[] = {
        {"stored, empty and not final, then fixed", empty_stored_then_a, Result::ok, "a"},
        {"fixed, then stored", a_then_stored.bytes, Result::ok, "axyz"},
        {"overlapping copy repeats", overlap.bytes, Result::ok, "abababa"},
        {"stored block longer than the input", {0x01, 0x05, 0x00, 0xFA, 0xFF, 'x'}, Result::short_input, ""},
        {"stored block without its lengths", {0x01, 0x05, 0x00}, Result::short_input, ""},
        {"block type 3", {0x07, 0x00}, Result::bad_block, ""},
        {"distance before the output", far.bytes, Result::bad_distance, ""},
        {"distance symbol 30", far_distance.bytes, Result::bad_code, ""},
        {"no input", {}, Result::short_input, ""},
        {"fixed block without its end", Bytes{fixed_a(true)[0]}, Result::short_input, ""},
    };
    for (const Case& c : cases) {
        const Outcome r = run(inflate, c.in, 100);
        EXPECT_EQ(r.result, c.result) << c.name;
        if (c.result == Result::ok) {
            EXPECT_EQ(std::string(r.out.begin(), r.out.end()), c.out) << c.name;
        }
    }
}

TEST(Compression, EveryTruncationIsRefused) {
    const Bytes in = data_of_kind(4, 3000, 11);
    for (Entry pair : {deflate, zlib_compress, gzip_compress}) {
        const Bytes packed = run_sized(pair, in).out;
        const Entry back = pair == deflate ? inflate : pair == zlib_compress ? zlib_decompress : gzip_decompress;
        for (std::size_t k = 0; k < packed.size(); ++k) {
            const Bytes cut(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(k));
            const Result r = run(back, cut, in.size() + 10).result;
            EXPECT_NE(r, Result::ok) << k;
            EXPECT_NE(r, Result::too_small) << k;
        }
    }
}

TEST(Compression, MalformedDynamicBlocks) {
    // A dynamic block header with HLIT 257, HDIST 1 and all 19 code-length
    // codes 5 bits long, so code-length symbol s is the 5-bit code s; then
    // the given code-length symbols (with their extra bits).
    auto dynamic = [](std::initializer_list<std::pair<int, int>> symbols, int cl_length = 5) {
        BitPacker p;
        p.bits(1, 1);
        p.bits(2, 2);
        p.bits(0, 5);
        p.bits(0, 5);
        p.bits(15, 4);
        for (int i = 0; i < 19; ++i) p.bits(static_cast<std::uint32_t>(cl_length), 3);
        for (auto [sym, extra] : symbols) {
            p.code(static_cast<std::uint32_t>(sym), 5);
            if (sym == 16) p.bits(static_cast<std::uint32_t>(extra), 2);
            if (sym == 17) p.bits(static_cast<std::uint32_t>(extra), 3);
            if (sym == 18) p.bits(static_cast<std::uint32_t>(extra), 7);
        }
        for (int i = 0; i < 4; ++i) p.bits(0, 8);
        return p.bytes;
    };
    // An unused pattern of the code-length code: 19 five-bit codes leave
    // codes 19..31 free.
    BitPacker unused;
    unused.bits(1, 1);
    unused.bits(2, 2);
    unused.bits(0, 10);
    unused.bits(15, 4);
    for (int i = 0; i < 19; ++i) unused.bits(5, 3);
    unused.code(31, 5);
    // Four literal/length codes of length 1 are over-subscribed.
    const Bytes all_ones = dynamic({{1, 0}, {16, 0}, {18, 127}, {18, 105}});
    struct Case { const char* name; Bytes in; Result result; };
    const Case cases[] = {
        {"first code-length symbol 16", dynamic({{16, 0}}), Result::bad_code},
        {"zeros past HLIT + HDIST", dynamic({{18, 127}, {18, 127}}), Result::bad_code},
        {"code-length code over-subscribed", dynamic({}, 1), Result::bad_code},
        {"pattern with no symbol", unused.bytes, Result::bad_code},
        {"literal code over-subscribed", all_ones, Result::bad_code},
        {"header cut short", Bytes{0x05, 0x00}, Result::short_input},
    };
    for (const Case& c : cases) EXPECT_EQ(run(inflate, c.in, 1000).result, c.result) << c.name;
}

TEST(Compression, ZlibFrameChecks) {
    const Bytes good = run_sized(zlib_compress, bytes("zlib frame")).out;
    auto with = [&](std::size_t at, std::uint8_t v) {
        Bytes b = good;
        b[at] = v;
        return b;
    };
    auto checked = [](std::uint8_t cmf, std::uint8_t flg) {  // FLG made to pass the check
        return static_cast<std::uint8_t>(flg + (31 - (cmf * 256 + flg) % 31) % 31);
    };
    Bytes dictionary = with(1, checked(0x78, 0x20));
    Bytes method7 = with(0, 0x77);
    method7[1] = checked(0x77, 0);
    Bytes window_too_big = with(0, 0x88);
    window_too_big[1] = checked(0x88, 0);
    Bytes python_header = with(1, 0x9C);  // another level, same data
    struct Case { const char* name; Bytes in; Result result; };
    const Case cases[] = {
        {"as written", good, Result::ok},
        {"header of another level", python_header, Result::ok},
        {"preset dictionary", dictionary, Result::bad_frame},
        {"not a multiple of 31", with(1, 0x02), Result::bad_frame},
        {"method 7", method7, Result::bad_frame},
        {"CMF bit 7", window_too_big, Result::bad_frame},
        {"Adler-32 changed", with(good.size() - 1, good.back() ^ 1), Result::bad_frame},
        {"shorter than a frame", Bytes{0x78, 0x01, 0x03, 0x00, 0x00}, Result::bad_frame},
    };
    for (const Case& c : cases) EXPECT_EQ(run(zlib_decompress, c.in, 100).result, c.result) << c.name;
}

TEST(Compression, GzipHeaderFieldsAndTrailer) {
    const Bytes packed = run_sized(gzip_compress, bytes("gzip member")).out;
    const Bytes body(packed.begin() + 10, packed.end());  // deflate stream and trailer
    // A member with the given flags and optional fields before the body.
    auto member = [&](std::uint8_t flags, const Bytes& fields) {
        Bytes m = {0x1F, 0x8B, 0x08, flags, 0, 0, 0, 0, 0, 3};
        m.insert(m.end(), fields.begin(), fields.end());
        m.insert(m.end(), body.begin(), body.end());
        return m;
    };
    // FHCRC: the low 16 bits of the CRC-32 of the header before it.
    auto header_crc = [](const Bytes& head) {
        std::uint32_t crc = 0xFFFFFFFF;
        for (std::uint8_t b : head) {
            crc ^= b;
            for (int k = 0; k < 8; ++k) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
        }
        crc ^= 0xFFFFFFFF;
        return Bytes{static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8)};
    };
    const Bytes name_head = {0x1F, 0x8B, 0x08, 0x0A, 0, 0, 0, 0, 0, 3, 'f', '.', 't', 'x', 't', 0};
    Bytes hcrc_fields = {'f', '.', 't', 'x', 't', 0};
    const Bytes crc = header_crc(name_head);
    hcrc_fields.insert(hcrc_fields.end(), crc.begin(), crc.end());
    Bytes bad_hcrc_fields = hcrc_fields;
    bad_hcrc_fields.back() ^= 1;
    auto trailer_changed = [&](std::size_t from_end) {
        Bytes b = packed;
        b[b.size() - from_end] ^= 1;
        return b;
    };
    struct Case { const char* name; Bytes in; Result result; };
    const Case cases[] = {
        {"plain", member(0, {}), Result::ok},
        {"extra field", member(4, {3, 0, 'x', 'y', 'z'}), Result::ok},
        {"name and comment", member(8 | 16, {'n', 0, 'c', 0}), Result::ok},
        {"header CRC", member(0x0A, hcrc_fields), Result::ok},
        {"header CRC wrong", member(0x0A, bad_hcrc_fields), Result::bad_frame},
        {"extra field longer than the input", member(4, {0xFF, 0x7F}), Result::bad_frame},
        {"name not ended before the trailer", {0x1F, 0x8B, 0x08, 8, 0, 0, 0, 0, 0, 3, 'n', 'n', 'n', 0, 0, 0, 0, 0},
         Result::bad_frame},
        {"reserved flag", member(32, {}), Result::bad_frame},
        {"method 7", [&] { Bytes b = packed; b[2] = 7; return b; }(), Result::bad_frame},
        {"CRC-32 changed", trailer_changed(8), Result::bad_frame},
        {"size changed", trailer_changed(4), Result::bad_frame},
        {"size larger than the data", trailer_changed(1), Result::bad_frame},
        {"shorter than 18 bytes", Bytes(packed.begin(), packed.begin() + 17), Result::bad_frame},
    };
    for (const Case& c : cases) {
        const Outcome r = run(gzip_decompress, c.in, 100);
        EXPECT_EQ(r.result, c.result) << c.name;
        if (c.result == Result::ok) {
            EXPECT_EQ(std::string(r.out.begin(), r.out.end()), "gzip member") << c.name;
        }
    }
    // A stored size far beyond the data sizes nothing: the size query
    // answers what the stream produces, and the mismatch is refused.
    const Bytes huge = trailer_changed(1);
    std::size_t size = 0;
    EXPECT_EQ(gzip_decompress(nullptr, &size, huge.data(), huge.size()), Result::bad_frame);
    size = 0;
    EXPECT_EQ(gzip_decompress(nullptr, &size, packed.data(), packed.size()), Result::too_small);
    EXPECT_EQ(size, 11u);
}

TEST(Compression, GzipInputPassesThroughTheCompressor) {
    const Bytes member = run_sized(gzip_compress, bytes("inner")).out;
    const Outcome again = run_sized(gzip_compress, member);
    EXPECT_EQ(again.result, Result::ok);
    EXPECT_EQ(again.out, member);
    // Only the three bytes decide: two bytes alone are compressed.
    const Bytes two = {0x1F, 0x8B};
    const Outcome packed = run_sized(gzip_compress, two);
    EXPECT_NE(packed.out, two);
    EXPECT_EQ(run_sized(gzip_decompress, packed.out).out, two);
}

// Damaged and random streams end in a result code, never a read or write
// outside the buffers (the sanitizer build checks that) and never more
// output than the room given.
TEST(Compression, DamagedStreamsStayInBounds) {
    // Another coder's zlib stream with a dynamic block (120 bytes of text).
    const Bytes dynamic = {
        0x78, 0xDA, 0x35, 0x8C, 0x81, 0x0D, 0xC0, 0x40, 0x08, 0x02, 0x67, 0x3D, 0x60, 0xFF, 0x19, 0x8A,
        0x7C, 0xAA, 0x46, 0x05, 0x11, 0x24, 0x88, 0xE8, 0x10, 0x31, 0xED, 0x2D, 0xF9, 0xC6, 0x90, 0xEF,
        0xB8, 0xFD, 0x38, 0xE3, 0x63, 0x95, 0x94, 0x0A, 0x13, 0xA6, 0xF9, 0xA2, 0xEA, 0x3D, 0x99, 0xDF,
        0x90, 0x53, 0x16, 0x6A, 0x16, 0x8A, 0xDE, 0xC1, 0xFA, 0x00, 0xD8, 0xBB, 0x2D, 0xE7};
    const Bytes text = run_sized(zlib_decompress, dynamic).out;
    ASSERT_EQ(text.size(), 120u);
    for (std::size_t bit = 0; bit < dynamic.size() * 8; ++bit) {
        Bytes d = dynamic;
        d[bit / 8] ^= static_cast<std::uint8_t>(1 << (bit % 8));
        const Bytes raw(d.begin() + 2, d.end() - 4);
        for (std::size_t capacity : {std::size_t{0}, std::size_t{60}, std::size_t{200}}) {
            // Some changes pass the Adler-32 check: padding bits, a match
            // now copying equal bytes, or letters swapped in a way the sum
            // does not see (bits 408 and 423, as another inflater agrees).
            for (const Outcome& o : {run(zlib_decompress, d, capacity), run(inflate, raw, capacity)}) {
                if (o.result == Result::ok) {
                    EXPECT_LE(o.size, capacity) << bit;
                }
            }
        }
    }
    std::mt19937 rng(1234);
    for (int i = 0; i < 20000; ++i) {
        Bytes in(rng() % 120);
        for (std::uint8_t& b : in) b = static_cast<std::uint8_t>(rng());
        if (i % 3 == 1 && in.size() > 10) {  // a plausible gzip header
            in[0] = 0x1F, in[1] = 0x8B, in[2] = 8, in[3] &= 31;
        }
        for (Entry fn : {inflate, zlib_decompress, gzip_decompress}) {
            const Outcome r = run(fn, in, 64);
            EXPECT_GE(static_cast<int>(r.result), 0);
            EXPECT_LE(static_cast<int>(r.result), 6);
        }
    }
}

}  // namespace kiv::compression
