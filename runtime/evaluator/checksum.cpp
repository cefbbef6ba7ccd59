// Checksums computed here (CRC-32, Adler-32, the internet checksum) and the
// digests behind md5 and the SHA methods. Every libcrypto call is checked:
// a failure fires internal `feature-na` instead of handing back whatever the
// output buffer held.
#include "runtime/evaluator/checksum.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <iterator>
#include <memory>

#include "runtime/fire.h"

namespace kiv::checksum {

namespace {

struct MethodRow {
    const char* word;
    std::uint8_t digest_size;
    std::uint8_t block_size;
};

constexpr MethodRow method_rows[] = {
#define KIV_CHECKSUM_METHOD_ROW(ident, word, code, size, block) {word, size, block},
    KIV_CHECKSUM_METHODS(KIV_CHECKSUM_METHOD_ROW)
#undef KIV_CHECKSUM_METHOD_ROW
};
static_assert(std::size(method_rows) == method_count);

const MethodRow& row(Method method) { return method_rows[static_cast<int>(method)]; }

// ---- CRC-32 ---------------------------------------------------------------

struct CrcTable {
    std::uint32_t entries[256];
    constexpr CrcTable() : entries{} {
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entries[n] = c;
        }
    }
};

constexpr CrcTable crc_table;

// ---- Digests --------------------------------------------------------------

[[noreturn]] void crypto_failed() { fire(ErrorId::internal_feature_na); }

const EVP_MD* evp_method(Method method) {
    switch (method) {
        case Method::md5: return EVP_md5();
        case Method::sha1: return EVP_sha1();
        case Method::sha256: return EVP_sha256();
        case Method::sha384: return EVP_sha384();
        case Method::sha512: return EVP_sha512();
        default: break;
    }
    // The code travels as an integer! value, the way the error reports it.
    Cell code{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(method), 0};
    fire(ErrorId::script_invalid_arg, &code);
}

struct ContextFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

// One running digest; every step checks libcrypto's answer.
class Hasher {
public:
    explicit Hasher(Method method) : method_(method), ctx_(EVP_MD_CTX_new()) {
        const EVP_MD* md = evp_method(method);
        if (!ctx_ || !md || EVP_DigestInit_ex(ctx_.get(), md, nullptr) != 1) crypto_failed();
    }

    void update(Bytes data) {
        if (data.empty()) return;
        if (EVP_DigestUpdate(ctx_.get(), data.data(), data.size()) != 1) crypto_failed();
    }

    Digest finish() {
        Digest out{};
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(ctx_.get(), out.bytes.data(), &length) != 1) crypto_failed();
        // A length other than the method's means the wrong algorithm ran.
        if (length != digest_size(method_)) crypto_failed();
        out.size = length;
        return out;
    }

private:
    Method method_;
    std::unique_ptr<EVP_MD_CTX, ContextFree> ctx_;
};

// The HMAC key block; wiped on every exit since it holds key material.
struct KeyBlock {
    std::array<std::uint8_t, 128> bytes{};
    ~KeyBlock() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

}  // namespace

const char* method_word(Method method) { return row(method).word; }

std::size_t digest_size(Method method) { return row(method).digest_size; }

bool is_digest(Method method) { return digest_size(method) != 0; }

std::uint32_t crc32(Bytes data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t b : data) crc = crc_table.entries[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t adler32(Bytes data) {
    constexpr std::uint32_t modulus = 65521;
    // The most bytes whose sums cannot overflow 32 unsigned bits between
    // two reductions.
    constexpr std::size_t run = 5552;
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    while (!data.empty()) {
        const std::size_t n = data.size() < run ? data.size() : run;
        for (std::uint8_t byte : data.first(n)) {
            a += byte;
            b += a;
        }
        a %= modulus;
        b %= modulus;
        data = data.subspan(n);
    }
    return (b << 16) | a;
}

std::uint16_t tcp_checksum(Bytes data) {
    // A 64-bit sum, so inputs beyond 64 KiB cannot overflow it; folding the
    // carries back in gives the same value a 32-bit sum gives below that.
    std::uint64_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < data.size(); i += 2) sum += (std::uint32_t{data[i]} << 8) | data[i + 1];
    if (i < data.size()) sum += data[i];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

Digest digest(Method method, Bytes data) {
    Hasher hasher(method);
    hasher.update(data);
    return hasher.finish();
}

Digest hmac(Method method, Bytes data, Bytes key) {
    evp_method(method);  // refuse a non-digest method before touching the key
    const std::size_t block = row(method).block_size;
    KeyBlock pad;
    if (key.size() > block) {
        const Digest short_key = digest(method, key);
        std::copy_n(short_key.bytes.data(), short_key.size, pad.bytes.data());
    } else {
        std::copy(key.begin(), key.end(), pad.bytes.data());
    }
    const Bytes padded(pad.bytes.data(), block);

    for (std::size_t i = 0; i < block; ++i) pad.bytes[i] ^= 0x36;
    Hasher inner(method);
    inner.update(padded);
    inner.update(data);
    const Digest inner_digest = inner.finish();

    for (std::size_t i = 0; i < block; ++i) pad.bytes[i] ^= 0x36 ^ 0x5C;
    Hasher outer(method);
    outer.update(padded);
    outer.update(inner_digest.view());
    return outer.finish();
}

}  // namespace kiv::checksum
