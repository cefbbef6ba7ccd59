// The runtime's own LZ77 stream format: the decompressor, and a compressor
// for the images the build writes.
//
// Stream: an 8-byte header (compressed size, the bytes after the header;
// uncompressed size, the total of all block lengths; both 32-bit
// little-endian), then blocks back to back. A block is a 32-bit length (1 to
// 1,048,576 bytes produced), then an LSB-first bit stream padded to a whole
// byte: 0 + 8 bits is a literal byte; 1 + length code + distance code copies
// L + 3 bytes from d + 1 bytes back within the block.
//
// Input is untrusted: every byte fetch is bounded by the declared compressed
// size and the real input length, and any inconsistency is a plain failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiv::lz {

// Largest uncompressed size accepted, so the buffer size fits 31 bits.
constexpr std::uint32_t max_uncompressed = 0x7FFFFFFF - 8;
constexpr std::uint32_t max_block = 1048576;

// Decodes the whole stream of `length` bytes at `stream` into a new buffer
// of the uncompressed size + 8 bytes; *out_size (when given) receives the
// bytes produced. Answers null on any failure, with nothing allocated; the
// blocks must produce exactly the declared uncompressed size.
std::uint8_t* decompress(const std::uint8_t* stream, std::size_t length, std::size_t* out_size);

// Releases a buffer that decompress answered.
void free_buffer(std::uint8_t* buffer);

// A stream that `decompress` turns back into the `length` bytes at `data`:
// greedy matching over hash chains with one step of lazy evaluation, a match
// taken only where its code is shorter than the literals it replaces.
std::vector<std::uint8_t> compress(const std::uint8_t* data, std::size_t length);

}  // namespace kiv::lz
