// Deflate (RFC 1951) with the zlib (RFC 1950) and gzip (RFC 1952) framings:
// the codecs behind the natives compress and decompress. The compressor is
// small and fast rather than tight: one final block of fixed Huffman codes,
// greedy first-match search over a 1,024 x 4 hash table. The inflater takes
// stored, fixed and dynamic blocks.
//
// Every entry takes (input, its length, output or null, room) and answers a
// result code with *size set to the bytes produced or needed. Nothing here
// allocates or raises a language error; the natives turn codes into errors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::compression {

// Result codes. Anything but ok and too_small is a failure.
enum Result : int {
    ok = 0,
    too_small = 1,  // *size holds the room the output needs
    bad_frame = 2,  // a zlib or gzip header, trailer or check is wrong
    short_stored = 3,
    bad_block_type = 4,
    bad_distance = 5,
    bad_code = 6,  // a Huffman table or a code in the stream is invalid
};

// Raw deflate stream of the input. The output cursor runs past the room, so
// too_small comes back with the exact size needed.
Result deflate_compress(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t* size);
// 78 01, the deflate stream, the Adler-32 of the input (big-endian).
Result zlib_compress(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t* size);
// A 10-byte header, the deflate stream, CRC-32 and length (little-endian).
// An input that already begins 1F 8B 08 is copied unchanged.
Result gzip_compress(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t* size);

// Inflates into `out` (room *size). Bytes are stored only inside the room
// and counted in any case; with a null `out` nothing is stored, so a call
// measures the output. The framed forms check their header and, when the
// bytes were stored, their trailer.
Result deflate_decompress(const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                          std::size_t* size);
Result zlib_decompress(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t* size);
Result gzip_decompress(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t* size);

// Hands the codecs to the natives compress and decompress. Start-up calls it.
void init();

}  // namespace kiv::compression
