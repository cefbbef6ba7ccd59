// The imaging service: the pixel records behind image! values, their
// geometry (making, copying regions, scaling, single pixels) and the file
// formats (BMP, PNG, JPEG, GIF, TIFF) they are decoded from and encoded to.
//
// A record is a series of 4-byte units, one per pixel, row after row from
// the top-left corner with no padding; a pixel's bytes are B, G, R, A in
// memory (the word A << 24 | R << 16 | G << 8 | B), A being opacity
// (255 opaque), not premultiplied. The record holds no size: the image!
// cell that names it carries width and height (each 0..65535). A record of
// no pixels stands for an image without pixels. Records are ordinary heap
// series: the collector keeps them while a value names them and moves them
// like any buffer.
//
// BMP is this unit's own code; PNG, JPEG, GIF and TIFF go through the
// system's libpng, libturbojpeg, giflib and libtiff, each loaded when first
// needed (imaging-codecs.cpp). A format whose library is missing fires
// internal feature-na.
//
// GC: every function that makes a record allocates and may collect; a
// pixel pointer is valid only until the next allocation. Decoders and
// encoders work on bytes held outside the heap, so a collection during
// them cannot move their input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace kiv::imaging {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t max_side = 65535;
// The most pixels a record can hold: its bytes must stay within the size
// limit of one series. Decoders refuse a declared size above it before
// they allocate anything.
constexpr std::int64_t max_pixels = (0x7FFFFFFFLL - 64) / 4;

// The encoder format codes.
enum class Format : std::int32_t { bmp = 0, png = 1, gif = 2, jpeg = 3, tiff = 4 };

// The packed size word of a cell: width low, height high.
constexpr std::uint32_t pack_size(std::uint32_t width, std::uint32_t height) {
    return (width & 0xFFFF) | (height & 0xFFFF) << 16;
}
constexpr std::uint32_t width_of(std::uint32_t size) { return size & 0xFFFF; }
constexpr std::uint32_t height_of(std::uint32_t size) { return size >> 16; }

constexpr std::uint32_t pixel_word(std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    return std::uint32_t{a} << 24 | std::uint32_t{r} << 16 | std::uint32_t{g} << 8 | b;
}
// The pixel word of a colour tuple: A is 255 minus its fourth byte, 255 for
// a tuple of three.
std::uint32_t tuple_pixel(const Cell* t);

// ---------------------------------------------------------------------------
// Records.

// A new record of width x height pixels, content undefined. A pixel count
// above max_pixels, or a heap that cannot grow, fires internal no-memory.
NodeId alloc_record(std::int64_t width, std::int64_t height);
// The first pixel word of a record. GC: valid until the next allocation.
std::uint32_t* pixels(NodeId record);
// The pixels a record holds.
std::int64_t pixel_count(NodeId record);

// A new record: every pixel the colour (a tuple!: R, G, B from its first
// bytes, A = 255 - the fourth, 255 for three bytes), or taken from the rgb
// bytes (whole triples from the binary's index; opaque white past them)
// and the alpha bytes (A = 255 - byte; 255 past them). Either binary may
// be null. Width or height 0 gives a record of no pixels.
NodeId make(std::int64_t width, std::int64_t height, const Cell* rgb, const Cell* alpha,
            const Cell* color);

// A new record holding the region (x, y, w, h) of a record whose rows are
// `width` pixels; the caller keeps the region inside the image.
NodeId copy_region(NodeId record, std::uint32_t width, std::uint32_t x, std::uint32_t y,
                   std::uint32_t w, std::uint32_t h);

// A new record holding the image scaled to new_w x new_h by nearest
// neighbour (both at least 1).
NodeId resize(NodeId record, std::uint32_t width, std::uint32_t height, std::uint32_t new_w,
              std::uint32_t new_h);

// The pixel at a row-major index; an index outside the record fires
// script out-of-range with it.
std::uint32_t get_pixel(NodeId record, std::int64_t index);
void set_pixel(NodeId record, std::int64_t index, std::uint32_t pixel);

// ---------------------------------------------------------------------------
// File formats.

enum class Signature { none, png, jpeg, bmp, gif, tiff };

// The format whose signature the bytes begin with; a run of bytes shorter
// than a signature matches none. Looks at most at the first 6 bytes.
Signature signature_of(const std::uint8_t* bytes, std::size_t length);

// A decoded image: the record and its size.
struct Decoded {
    NodeId record = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
};

// Decodes the first image of the bytes. Answers false when the bytes hold
// no image that a decoder accepts (no known signature, damaged data, or a
// declared size above 65535 on a side or above max_pixels). Fires internal
// feature-na when the format's library is missing. Allocates the record.
bool decode(const Bytes& bytes, Decoded* out);
// Decodes a bitmap without its file header (the clipboard's 32-bit
// top-down bitmap with alpha), with the same answers as decode.
bool decode_dib(const Bytes& bytes, Decoded* out);

// Encodes the pixels of a record of width x height (both at least 1) into
// `out`. Answers false when the encoder fails; fires internal feature-na
// when the format's library is missing. Allocates nothing in the heap.
bool encode(NodeId record, std::uint32_t width, std::uint32_t height, Format format, Bytes* out);

// The format decoders and encoders of the other units of this service.
// Each decoder calls `alloc` once with the image's size, after checking
// it, and writes the pixels where it points; it allocates nothing in the
// heap afterwards.
struct Sink {
    std::uint32_t* (*alloc)(void* context, std::uint32_t width, std::uint32_t height);
    void* context;
    std::uint32_t* pixels_for(std::uint32_t width, std::uint32_t height) const {
        return alloc(context, width, height);
    }
};
// Whether a decoder may make an image of this size.
constexpr bool size_ok(std::uint64_t width, std::uint64_t height) {
    return width >= 1 && height >= 1 && width <= max_side && height <= max_side &&
           width * height <= static_cast<std::uint64_t>(max_pixels);
}

namespace bmp {
// A whole BMP file, or a device-independent bitmap without the file header
// (`dib`: the clipboard's form).
bool decode(const std::uint8_t* bytes, std::size_t length, bool dib, const Sink& sink);
// A BMP file of 32-bit pixels with an alpha mask (a BITMAPV5HEADER, rows
// bottom-up). With `dib` the 14-byte file header is left out and the rows
// run top-down (negative height), as the clipboard's bitmaps do.
void encode(const std::uint32_t* pixels, std::uint32_t width, std::uint32_t height, bool dib,
            Bytes* out);
}  // namespace bmp

namespace codecs {
// Whether libpng can be loaded (never fires).
bool png_available();
bool decode_png(const Bytes& bytes, const Sink& sink);
bool decode_jpeg(const Bytes& bytes, const Sink& sink);
bool decode_gif(const Bytes& bytes, const Sink& sink);
bool decode_tiff(const Bytes& bytes, const Sink& sink);
bool encode_png(const std::uint32_t* pixels, std::uint32_t width, std::uint32_t height, Bytes* out);
bool encode_jpeg(const std::uint32_t* pixels, std::uint32_t width, std::uint32_t height, Bytes* out);
bool encode_gif(const std::uint32_t* pixels, std::uint32_t width, std::uint32_t height, Bytes* out);
bool encode_tiff(const std::uint32_t* pixels, std::uint32_t width, std::uint32_t height, Bytes* out);
}  // namespace codecs

}  // namespace kiv::imaging
