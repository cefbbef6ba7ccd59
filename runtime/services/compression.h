// Deflate streams (one fixed-Huffman block out, every block type in) and
// their zlib and gzip framings, behind the `compress` and `decompress`
// natives. `init` hands the six entry points to the natives through
// natives_system::codec_service.
//
// Every entry point takes (output, in/out size, input, input length). On
// entry *size is the output's capacity; on return it holds the bytes
// produced, or the bytes needed when the result is too_small. The output
// may be null with capacity 0: nothing is written and the call only
// measures. Output is stored only while it fits, so one call always yields
// the exact size to allocate for a second one.
//
// Input is untrusted: every read is bounded by the input length, no table is
// read outside its bounds, and a stream that would produce more than
// max_output bytes stops there with too_small and a size above max_output.
// Nothing here allocates or touches the language heap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::compression {

enum class Result : int {
    ok = 0,
    too_small = 1,     // *size holds the bytes needed
    bad_frame = 2,     // zlib or gzip header, trailer, checksum or size
    short_input = 3,   // the stream ends before its final block does
    bad_block = 4,     // block type 3
    bad_distance = 5,  // a match reaches before the first byte produced
    bad_code = 6,      // malformed code lengths or a bit pattern with no symbol
};

// The most bytes one call produces: the size of the largest binary!.
constexpr std::size_t max_output = 0x7FFFFFFF;

// A raw deflate stream of the input: one final block of fixed Huffman codes,
// greedy first-found matches over a small hash table. ok or too_small.
Result deflate(std::uint8_t* out, std::size_t* size, const std::uint8_t* in, std::size_t n);
// The bytes of a raw deflate stream, up to the end of its final block.
Result inflate(std::uint8_t* out, std::size_t* size, const std::uint8_t* in, std::size_t n);

// 78 01, the deflate stream, the Adler-32 of the input (big-endian).
Result zlib_compress(std::uint8_t* out, std::size_t* size, const std::uint8_t* in, std::size_t n);
Result zlib_decompress(std::uint8_t* out, std::size_t* size, const std::uint8_t* in,
                       std::size_t n);

// A 10-byte header, the deflate stream, the CRC-32 and the length of the
// input (little-endian). An input that already begins 1F 8B 08 is copied
// unchanged.
Result gzip_compress(std::uint8_t* out, std::size_t* size, const std::uint8_t* in, std::size_t n);
// The first member's bytes; its size modulo 2^32 must equal the trailer's.
Result gzip_decompress(std::uint8_t* out, std::size_t* size, const std::uint8_t* in,
                       std::size_t n);

// Installs the codecs for the compress and decompress natives.
void init();

}  // namespace kiv::compression
