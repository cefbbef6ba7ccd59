// The deflate codecs on raw bytes: the compressor's token choices and its
// size answers, the inflater's measuring pass, and the refusal of streams
// whose Huffman tables are malformed.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/services/compression.h"

namespace kiv {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes deflate(const Bytes& in) {
    std::size_t size = 0;
    EXPECT_EQ(compression::deflate_compress(in.data(), in.size(), nullptr, &size),
              compression::too_small);
    Bytes out(size);
    EXPECT_EQ(compression::deflate_compress(in.data(), in.size(), out.data(), &size), compression::ok);
    EXPECT_EQ(size, out.size());
    return out;
}

compression::Result inflate(const Bytes& in, Bytes* out) {
    std::size_t size = 0;
    const compression::Result measured = compression::deflate_decompress(in.data(), in.size(), nullptr, &size);
    if (measured != compression::ok && measured != compression::too_small) return measured;
    out->assign(size, 0);
    return compression::deflate_decompress(in.data(), in.size(), out->data(), &size);
}

// Writes bits LSB first, as a deflate stream holds them.
struct BitOut {
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
    // A Huffman code, most significant bit first.
    void code(std::uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bits((v >> i) & 1, 1);
    }
};

// A dynamic block header with HLIT 257, HDIST 1 and the code-length code
// lengths given for the symbols 16, 17, 18 and 0.
BitOut dynamic_header(int l16, int l17, int l18, int l0) {
    BitOut w;
    w.bits(1, 1);
    w.bits(2, 2);
    w.bits(0, 5);
    w.bits(0, 5);
    w.bits(0, 4);
    for (int l : {l16, l17, l18, l0}) w.bits(static_cast<std::uint32_t>(l), 3);
    return w;
}

TEST(Compression, RunOfEqualBytesIsThreeLiteralsAndTwoMatches) {
    const Bytes out = deflate(Bytes(300, 'A'));
    // 3 header bits, 3 literals of 8 bits, length 258 (8 bits) at distance
    // 1 (5 bits), length 39 (7 + 3 bits) at distance 258 (5 + 7 bits), the
    // end code (7 bits): 69 bits in 9 bytes.
    EXPECT_EQ(out, (Bytes{0x73, 0x74, 0x74, 0x1C, 0x05, 0x44, 0x86, 0x00, 0x00}));
    Bytes back;
    EXPECT_EQ(inflate(out, &back), compression::ok);
    EXPECT_EQ(back, Bytes(300, 'A'));
}

TEST(Compression, SizeAnswersAreExact) {
    const Bytes in(1000, 'x');
    std::size_t size = 3;
    Bytes small(8);
    // Below room for the frame alone the answer is a failure with a size
    // to try; above it, too_small with the exact size.
    EXPECT_EQ(compression::zlib_compress(in.data(), in.size(), small.data(), &size), compression::bad_frame);
    size = small.size();
    EXPECT_EQ(compression::zlib_compress(in.data(), in.size(), small.data(), &size), compression::too_small);
    Bytes out(size);
    EXPECT_EQ(compression::zlib_compress(in.data(), in.size(), out.data(), &size), compression::ok);
    EXPECT_EQ(size, out.size());
    std::size_t measured = 0;
    EXPECT_EQ(compression::zlib_decompress(out.data(), out.size(), nullptr, &measured), compression::too_small);
    EXPECT_EQ(measured, in.size());
}

TEST(Compression, NoMatchReachesBackAWholeWindow) {
    // A block of 40,000 distinct-looking bytes followed by its own start:
    // the repeat lies 40,000 bytes back, beyond any allowed distance.
    Bytes in;
    std::uint32_t x = 1;
    for (int i = 0; i < 40000; ++i) {
        x = x * 1103515245u + 12345u;
        in.push_back(static_cast<std::uint8_t>(x >> 16));
    }
    in.insert(in.end(), in.begin(), in.begin() + 100);
    Bytes back;
    EXPECT_EQ(inflate(deflate(in), &back), compression::ok);
    EXPECT_EQ(back, in);
}

TEST(Compression, MalformedDynamicTablesAreRefused) {
    // Symbol 0 has code 0 and 16 code 1; a first "repeat the previous
    // length" has nothing to repeat.
    BitOut first = dynamic_header(1, 0, 0, 1);
    first.bits(1, 1);
    Bytes out;
    EXPECT_EQ(inflate(first.bytes, &out), compression::bad_code);
    // Symbol 0 has code 0 and 18 code 1; two runs of 138 zeros overrun the
    // 258 lengths.
    BitOut overrun = dynamic_header(0, 0, 1, 1);
    for (int i = 0; i < 2; ++i) {
        overrun.bits(1, 1);
        overrun.bits(127, 7);
    }
    EXPECT_EQ(inflate(overrun.bytes, &out), compression::bad_code);
    // Four symbols of length 1 over-subscribe the code.
    EXPECT_EQ(inflate(dynamic_header(1, 1, 1, 1).bytes, &out), compression::bad_code);
}

TEST(Compression, FramingChecks) {
    std::size_t size = 0;
    const Bytes dictionary{0x78, 0xBB, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
    EXPECT_EQ(compression::zlib_decompress(dictionary.data(), dictionary.size(), nullptr, &size),
              compression::bad_frame);
    const Bytes block3{0x07};
    EXPECT_EQ(compression::deflate_decompress(block3.data(), block3.size(), nullptr, &size),
              compression::bad_block_type);
    // A fixed block: the literal 0, then length 3 at distance 2.
    BitOut far;
    far.bits(1, 1);
    far.bits(1, 2);
    far.code(0x30, 8);
    far.code(1, 7);
    far.code(1, 5);
    far.code(0, 7);
    Bytes out;
    EXPECT_EQ(inflate(far.bytes, &out), compression::bad_distance);
    const Bytes gz{0x1F, 0x8B, 0x08, 0x00};
    std::size_t g = 0;
    EXPECT_EQ(compression::gzip_compress(gz.data(), gz.size(), nullptr, &g), compression::too_small);
    EXPECT_EQ(g, gz.size());
}

}  // namespace
}  // namespace kiv
