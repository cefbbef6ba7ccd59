// Checksums and digests over byte ranges: CRC-32, Adler-32 and the internet
// (TCP) checksum computed here, MD5 and the SHA family through libcrypto, and
// HMAC built over those digests. Nothing here touches the language heap; the
// digest and HMAC routines fire internal `feature-na` when libcrypto fails,
// so a caller never sees a half-computed digest.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kiv::checksum {

using Bytes = std::span<const std::uint8_t>;

// The methods of the `checksum` native: (ident, word, code, digest bytes,
// HMAC block bytes). tcp..sha512 carry their algorithm codes 0..6, of which
// `digest` and `hmac` take 2..6; adler32 and hash have no algorithm code and
// are numbered after them.
#define KIV_CHECKSUM_METHODS(M)          \
    M(tcp, "tcp", 0, 0, 0)               \
    M(crc32, "crc32", 1, 0, 0)           \
    M(md5, "md5", 2, 16, 64)             \
    M(sha1, "sha1", 3, 20, 64)           \
    M(sha256, "sha256", 4, 32, 64)       \
    M(sha384, "sha384", 5, 48, 128)      \
    M(sha512, "sha512", 6, 64, 128)      \
    M(adler32, "adler32", 7, 0, 0)       \
    M(hash, "hash", 8, 0, 0)

enum class Method : std::uint8_t {
#define KIV_CHECKSUM_METHOD_ENUM(ident, word, code, size, block) ident = code,
    KIV_CHECKSUM_METHODS(KIV_CHECKSUM_METHOD_ENUM)
#undef KIV_CHECKSUM_METHOD_ENUM
};

constexpr int method_count = 9;
constexpr std::size_t max_digest_size = 64;

// The method's word as the native's callers intern it (lower case).
const char* method_word(Method method);
// The digest size in bytes; 0 for the methods that give an integer.
std::size_t digest_size(Method method);
// True for md5 and the SHA methods, the ones `digest` and `hmac` take.
bool is_digest(Method method);

// A digest or HMAC result: the first `size` bytes of `bytes` hold it.
struct Digest {
    std::array<std::uint8_t, max_digest_size> bytes;
    std::size_t size;
    Bytes view() const { return Bytes(bytes.data(), size); }
};

// Reflected CRC-32 (polynomial 0xEDB88320, as gzip uses it); 0 for no bytes.
std::uint32_t crc32(Bytes data);
// Adler-32 as zlib uses it; 1 for no bytes.
std::uint32_t adler32(Bytes data);
// The internet checksum of big-endian 16-bit words, except that an odd last
// byte is added as it is (low byte), not shifted into the high byte.
std::uint16_t tcp_checksum(Bytes data);

// The digest of `data` by a digest method. Any other method fires script
// `invalid-arg` with its code; a libcrypto failure fires internal `feature-na`.
Digest digest(Method method, Bytes data);
// HMAC of `data` under `key`, the digest size of the method. A key longer
// than the method's block is digested first. Fires as `digest` does.
Digest hmac(Method method, Bytes data, Bytes key);

}  // namespace kiv::checksum
