// image!: a rectangle of pixels seen as a series, one element per pixel in
// rows from the top-left corner, each read and written as a tuple! r.g.b.t
// where t is the transparency (0 opaque, 255 fully transparent). A child of
// series!.
//
// The value cell: data1 the index of the current pixel (`head`, 0-based,
// row-major: pixel (x, y) has index y * width + x); data2 the node of the
// pixel record of the imaging service (runtime/services/imaging.h: one
// 4-byte word per pixel, bytes B, G, R, A with A the opacity); data3 the
// size, width in the low 16 bits and height in the high 16 bits. Every
// image has a record; an image without pixels (width or height 0) has a
// record of none, and its size is 0x0. Several values may share one record
// at different indexes.
//
// GC: making, copying, converting, encoding and decoding allocate; a pixel
// pointer is valid only until the next allocation.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/services/imaging.h"

namespace kiv::image {

inline std::uint32_t width(const Cell* value) { return imaging::width_of(value->data3); }
inline std::uint32_t height(const Cell* value) { return imaging::height_of(value->data3); }
inline std::int64_t pixel_total(const Cell* value) {
    return std::int64_t{width(value)} * height(value);
}

// Makes `cell` an image (index 0) over a record of width x height pixels.
Cell* make_at(Cell* cell, NodeId record, std::uint32_t width, std::uint32_t height);
// Makes `cell` an image without pixels (size 0x0).
Cell* make_empty(Cell* cell);

// A new binary of the whole image's pixels (whatever the index): mode 0 one
// byte of transparency (255 - A) per pixel, mode 1 the bytes R, G, B, mode
// 2 the pixel words' own bytes B, G, R, A.
Cell* extract_data(const Cell* image, int mode, Cell* out);
// Sets the pixels of the whole image from a binary!, a tuple! or an
// integer! under the same modes (see the actions' rules); any other value
// fires script invalid-arg.
void load_data(Cell* image, const Cell* value, int mode);

// Decodes image bytes (a binary! from its index) into `out`: none when they
// begin with no known signature; access bad-media when they cannot be
// decoded.
Cell* load_binary(const Cell* binary, Cell* out);
// Decodes the named file into `out`; access cannot-open with the file when
// it cannot be read or decoded.
Cell* load_file(Cell* file, Cell* out);
// A binary! or file! (a url! is read first) decoded into `out`; any other
// value fires script invalid-arg.
Cell* decode(Cell* source, Cell* out);
// Encodes the image (format codes 0 BMP, 1 PNG, 2 GIF, 3 JPEG, 4 TIFF) into
// a new binary! in `out`. An image without pixels fires access bad-media;
// an unknown code prints "Cannot find image encoder" and gives none.
Cell* encode(const Cell* image, std::int32_t format, Cell* out);

// Registers image!; series! must be registered first.
void init();

}  // namespace kiv::image
