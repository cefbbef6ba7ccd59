#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/evaluator/checksum.h"
#include "runtime/fire.h"

namespace kiv::checksum {

namespace {

Bytes bytes(std::string_view text) {
    return Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::string hex(const Digest& d) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : d.view()) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

const std::string hi_there = "Hi There";
const std::string large_key_text = "Test Using Larger Than Block-Size Key - Hash Key First";
const std::string abc56 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

}  // namespace

TEST(Checksum, Crc32AndAdler32) {
    const std::vector<std::uint8_t> ff(100000, 0xFF);
    EXPECT_EQ(crc32(bytes("")), 0u);
    EXPECT_EQ(crc32(bytes("123456789")), 0xCBF43926u);
    EXPECT_EQ(crc32(bytes("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
    EXPECT_EQ(adler32(bytes("")), 1u);
    EXPECT_EQ(adler32(bytes("Wikipedia")), 0x11E60398u);
    // Long runs of 0xFF drive both sums to their largest between reductions.
    EXPECT_EQ(adler32(ff), 0x149A302Cu);
}

TEST(Checksum, TcpAddsOddLastByteUnshifted) {
    struct Case { std::vector<std::uint8_t> data; std::uint16_t sum; };
    const Case cases[] = {
        {{}, 0xFFFF},
        {{0x01}, 65534},
        {{0x01, 0x02, 0x03}, 0xFEFA},  // 0x0102 + 0x03
        {{0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7}, 0x220D},
        {{0xFF, 0xFF, 0x00, 0x01}, 0xFFFE},  // the carry folds back in
    };
    for (const Case& c : cases) EXPECT_EQ(tcp_checksum(c.data), c.sum) << c.data.size();
}

TEST(Checksum, TcpSurvivesInputsPastSixtyFourKiB) {
    // 35,000 words of 0xFFFF overflow a 32-bit signed sum; their ones'
    // complement sum is 0xFFFF, whose complement is 0.
    const std::vector<std::uint8_t> ff(70000, 0xFF);
    EXPECT_EQ(tcp_checksum(ff), 0);
}

TEST(Checksum, DigestVectors) {
    struct Case { Method method; std::string data; const char* digest; };
    const Case cases[] = {
        {Method::md5, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {Method::md5, "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {Method::md5, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {Method::sha1, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {Method::sha1, abc56, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {Method::sha256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {Method::sha256, abc56, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {Method::sha384, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed"
         "8086072ba1e7cc2358baeca134c825a7"},
        {Method::sha512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
         "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hex(digest(c.method, bytes(c.data))), c.digest) << method_word(c.method);
}

TEST(Checksum, HmacVectors) {
    struct Case { Method method; std::string key; std::string data; const char* mac; };
    const std::string k0b16(16, '\x0b'), k0b20(20, '\x0b');
    const std::string kaa64(64, '\xaa'), kaa80(80, '\xaa'), kaa100(100, '\xaa'), kaa131(131, '\xaa');
    const Case cases[] = {
        {Method::md5, k0b16, hi_there, "9294727a3638bb1c13f48ef8158bfc9d"},
        {Method::md5, kaa80, large_key_text, "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {Method::sha1, k0b20, hi_there, "b617318655057264e28bc0b6fb378c8ef146be00"},
        {Method::sha1, kaa80, large_key_text, "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
        {Method::sha256, "Jefe", "what do ya want for nothing?",
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {Method::sha256, k0b20, hi_there,
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {Method::sha256, kaa131, large_key_text,
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {Method::sha384, k0b20, hi_there,
         "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59c"
         "faea9ea9076ede7f4af152e8b2fa9cb6"},
        {Method::sha384, kaa131, large_key_text,
         "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c6"
         "0c2ef6ab4030fe8296248df163f44952"},
        {Method::sha512, k0b20, hi_there,
         "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cde"
         "daa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1702e696c203a126854"},
        {Method::sha512, kaa131, large_key_text,
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f352"
         "6b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0aec8b915a985d786598"},
        // A key of exactly one block is used as it is; so is a 100-byte key
        // under the 128-byte block of sha384.
        {Method::sha256, kaa64, hi_there,
         "ebef34e13d0a0fe04593d043bc7a865106db0604211d404c18206d862e5d7852"},
        {Method::sha384, kaa100, hi_there,
         "91c2453fce427e190b74520d00eb72245d1d92277e3d7cc74142b0ff5e2293b8"
         "8d5867837cdcc2fbe33fbf0ecb369406"},
        {Method::sha256, "", "", "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hex(hmac(c.method, bytes(c.data), bytes(c.key))), c.mac)
            << method_word(c.method) << " key " << c.key.size();
}

TEST(Checksum, NonDigestMethodsAreRefusedWithTheirCode) {
    for (Method m : {Method::tcp, Method::crc32, Method::adler32, Method::hash}) {
        for (bool with_key : {false, true}) {
            try {
                if (with_key) hmac(m, bytes("abc"), bytes("key"));
                else digest(m, bytes("abc"));
                ADD_FAILURE() << method_word(m);
            } catch (const KivError& e) {
                EXPECT_EQ(e.id, ErrorId::script_invalid_arg);
                ASSERT_EQ(e.arg_count, 1);
                EXPECT_TRUE(e.args[0].is(Type::integer));
                EXPECT_EQ(e.args[0].data2, static_cast<std::uint32_t>(m));
            }
        }
    }
}

}  // namespace kiv::checksum

namespace kiv::checksum {

// A library that offers no digests (only OpenSSL's null provider loaded)
// must give an error, never a digest made of whatever the buffer held. The
// configuration is read once per process, so the check runs in a fresh one.
TEST(ChecksumDeathTest, LibraryFailureFiresFeatureNotAvailable) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto run = [] {
        const std::string conf = testing::TempDir() + "kiv-null-provider.cnf";
        if (FILE* f = std::fopen(conf.c_str(), "w")) {
            std::fputs("openssl_conf = init\n[init]\nproviders = providers\n"
                       "[providers]\nnull = null\n[null]\nactivate = 1\n", f);
            std::fclose(f);
        }
        setenv("OPENSSL_CONF", conf.c_str(), 1);
        int fired = 0;
        for (int i = 0; i < 2; ++i) {
            try {
                if (i == 0) digest(Method::sha256, bytes("abc"));
                else hmac(Method::md5, bytes("abc"), bytes("key"));
            } catch (const KivError& e) {
                if (e.id == ErrorId::internal_feature_na) ++fired;
            }
        }
        std::exit(fired == 2 ? 0 : 1);
    };
    EXPECT_EXIT(run(), testing::ExitedWithCode(0), "");
}

}  // namespace kiv::checksum
