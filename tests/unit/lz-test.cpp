#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "runtime/lz.h"

namespace kiv {

namespace {

using Bytes = std::vector<std::uint8_t>;

// Writes the format's codes, so tests can state streams as literals and
// matches rather than as bits.
class StreamWriter {
public:
    void block(std::uint32_t length) {
        flush();
        word(body_, length);
    }
    void bits(std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) {
            if (count_ == 0) body_.push_back(0);
            body_.back() |= static_cast<std::uint8_t>(((v >> i) & 1) << count_);
            count_ = (count_ + 1) % 8;
        }
    }
    void literal(std::uint8_t b) {
        bits(0, 1);
        bits(b, 8);
    }
    // Copies l + 3 bytes from d + 1 back.
    void match(std::uint32_t l, std::uint32_t d) {
        bits(1, 1);
        if (l < 4) { bits(1, 1); bits(l, 2); }
        else if (l < 8) { bits(0b10, 2); bits(l - 4, 2); }
        else if (l < 12) { bits(0b100, 3); bits(l - 8, 2); }
        else if (l < 20) { bits(0b1000, 4); bits(l - 12, 3); }
        else if (l < 52) { bits(0b10000, 5); bits(l - 20, 5); }
        else { bits(0, 5); bits(l - 52, 9); }
        if (d < 8) {
            bits(0, 4);
            bits(d, 3);
        } else {
            int n = 31 - __builtin_clz(d);
            bits(static_cast<std::uint32_t>(n - 2), 4);
            bits(d - (1u << n), n);
        }
    }
    // The stream, with the given uncompressed size (default: as produced).
    Bytes finish(std::uint32_t uncompressed) {
        flush();
        Bytes s;
        word(s, static_cast<std::uint32_t>(body_.size()));
        word(s, uncompressed);
        s.insert(s.end(), body_.begin(), body_.end());
        return s;
    }

private:
    static void word(Bytes& b, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void flush() { count_ = 0; }
    Bytes body_;
    int count_ = 0;
};

// Decodes; answers the output, or "FAIL".
std::string decode(const Bytes& stream) {
    // an exact-size copy, so a read past the end is a sanitizer error
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[stream.size() + 1]);
    std::copy(stream.begin(), stream.end(), exact.get());
    std::size_t size = 12345;
    std::uint8_t* out = lz::decompress(exact.get(), stream.size(), &size);
    if (!out) return "FAIL";
    std::string s(reinterpret_cast<char*>(out), size);
    lz::free_buffer(out);
    return s;
}

}  // namespace

TEST(Lz, Vectors) {
    struct Case { const char* name; Bytes stream; std::string out; };
    StreamWriter lit;
    lit.block(1);
    lit.literal(0x41);
    StreamWriter repeat;  // a literal, then d = 0, L = 0: the byte four times
    repeat.block(4);
    repeat.literal('x');
    repeat.match(0, 0);
    StreamWriter two;  // two blocks; the second starts on a byte boundary
    two.block(6);
    two.literal('a');
    two.literal('b');
    two.match(1, 1);
    two.block(2);
    two.literal('c');
    two.literal('d');
    StreamWriter far;  // a long match from far back
    far.block(1000 + 566);
    for (int i = 0; i < 1000; ++i) far.literal(static_cast<std::uint8_t>(i * 7));
    far.match(563, 999);
    std::string far_out;
    for (int i = 0; i < 1000; ++i) far_out += static_cast<char>(i * 7);
    far_out += far_out.substr(0, 566);
    const Case cases[] = {
        {"literal 0x41 is the bits 0, 1,0,0,0,0,0,1,0", {6, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x82, 0x00}, "A"},
        {"written literal", lit.finish(1), "A"},
        {"empty stream", {0, 0, 0, 0, 0, 0, 0, 0}, ""},
        {"overlapping match repeats", repeat.finish(4), "xxxx"},
        {"two blocks", two.finish(8), "abababcd"},
        {"far match", far.finish(1566), far_out},
    };
    for (const Case& c : cases) EXPECT_EQ(decode(c.stream), c.out) << c.name;
}

TEST(Lz, BlockLengthLimits) {
    for (std::uint32_t length : {lz::max_block, lz::max_block + 1}) {
        StreamWriter w;
        w.block(length);
        w.literal('z');
        std::uint32_t left = length - 1;
        while (left >= 3) {
            std::uint32_t l = left - 3 > 563 ? 563 : left - 3;
            w.match(l, 0);
            left -= l + 3;
        }
        while (left-- > 0) w.literal('z');
        std::string out = decode(w.finish(length));
        if (length == lz::max_block) {
            EXPECT_EQ(out, std::string(length, 'z'));
        } else {
            EXPECT_EQ(out, "FAIL");
        }
    }
}

TEST(Lz, RejectsCraftedInput) {
    struct Case { const char* name; Bytes stream; };
    StreamWriter first;  // a match in a block's first position
    first.block(4);
    first.match(0, 0);
    StreamWriter past;  // a match running past the block's end
    past.block(3);
    past.literal('a');
    past.match(0, 0);
    StreamWriter back;  // a match reaching before the block's start
    back.block(5);
    back.literal('a');
    back.match(0, 1);
    StreamWriter cross;  // a match cannot reach into the previous block
    cross.block(1);
    cross.literal('a');
    cross.block(3);
    cross.match(0, 0);
    StreamWriter zero;
    zero.block(0);
    StreamWriter more;  // blocks produce more than the declared size
    more.block(2);
    more.literal('a');
    more.literal('b');
    const Case cases[] = {
        {"match first", first.finish(4)},
        {"match past block end", past.finish(3)},
        {"match before block start", back.finish(5)},
        {"match into previous block", cross.finish(4)},
        {"zero-length block", zero.finish(0)},
        {"more than declared", more.finish(1)},
        {"less than declared", more.finish(3)},
        {"header cut", {6, 0, 0}},
        {"compressed size beyond input", {200, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x82, 0x00}},
        {"absurd uncompressed size", {6, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 0x82, 0x00}},
        {"block length cut", {2, 0, 0, 0, 1, 0, 0, 0, 1, 0}},
        {"bits cut", {5, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0x82}},
    };
    for (const Case& c : cases) EXPECT_EQ(decode(c.stream), "FAIL") << c.name;
}

// Every truncation of a good stream, with its header told the truth or not,
// fails cleanly; random bytes never crash the decoder.
TEST(Lz, TruncatedAndRandomInputFailsCleanly) {
    StreamWriter w;
    w.block(300);
    for (int i = 0; i < 40; ++i) w.literal(static_cast<std::uint8_t>('a' + i % 26));
    for (int produced = 40; produced < 300;) {
        int l = std::min(20, 300 - produced - 3);
        w.match(static_cast<std::uint32_t>(l), 17);
        produced += l + 3;
    }
    Bytes good = w.finish(300);
    ASSERT_EQ(decode(good).size(), 300u);
    for (std::size_t cut = 0; cut < good.size(); ++cut) {
        Bytes b(good.begin(), good.begin() + static_cast<long>(cut));
        EXPECT_EQ(decode(b), "FAIL") << cut;
        if (cut >= 8) {
            std::uint32_t body = static_cast<std::uint32_t>(cut - 8);
            for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(body >> (8 * i));
            EXPECT_EQ(decode(b), "FAIL") << "told " << cut;
        }
    }
    std::mt19937 rng(99);
    for (int i = 0; i < 20000; ++i) {
        Bytes b(12 + rng() % 40);
        for (auto& x : b) x = static_cast<std::uint8_t>(rng());
        std::uint32_t body = static_cast<std::uint32_t>(b.size() - 8);
        for (int k = 0; k < 4; ++k) b[k] = static_cast<std::uint8_t>(body >> (8 * k));
        b[4] = static_cast<std::uint8_t>(rng() % 64);
        b[5] = b[6] = b[7] = 0;
        b[8] = static_cast<std::uint8_t>(1 + rng() % 40);
        b[9] = b[10] = b[11] = 0;
        decode(b);  // any answer, but within bounds
    }
}

}  // namespace kiv
