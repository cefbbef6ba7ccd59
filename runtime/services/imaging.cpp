// The imaging service's records and geometry, and the choice of a format's
// decoder. See imaging.h.
#include "runtime/services/imaging.h"

#include <algorithm>
#include <cstring>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/fire.h"
#include "runtime/memory.h"

namespace kiv::imaging {

// ---------------------------------------------------------------------------
// Records.

NodeId alloc_record(std::int64_t width, std::int64_t height) {
    const std::int64_t count = width * height;
    if (width < 0 || height < 0 || count > max_pixels) fire(ErrorId::internal_no_memory);
    const NodeId node = memory::alloc_series(count, 4, 0);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    b->tail = b->offset + static_cast<std::uint32_t>(count * 4);
    return node;
}

std::uint32_t* pixels(NodeId record) {
    return reinterpret_cast<std::uint32_t*>(memory::buffer_of(record)->head());
}

std::int64_t pixel_count(NodeId record) { return memory::buffer_of(record)->length(); }

namespace {

// The bytes of a binary from its index, or none.
struct ByteRun {
    const std::uint8_t* p = nullptr;
    std::int64_t n = 0;
};
ByteRun bytes_of(const Cell* value) {
    if (!value || !value->is(Type::binary)) return {};
    Cell v = *value;
    const std::int32_t n = binary::ks_length(&v);
    return {binary::ks_head(&v), n};
}

}  // namespace

std::uint32_t tuple_pixel(const Cell* t) {
    const std::uint8_t* b = tuple::bytes(t);
    const std::uint8_t a = tuple::length(t) > 3 ? static_cast<std::uint8_t>(255 - b[3]) : 255;
    return pixel_word(b[0], b[1], b[2], a);
}

NodeId make(std::int64_t width, std::int64_t height, const Cell* rgb, const Cell* alpha,
            const Cell* color) {
    if (width <= 0 || height <= 0) return alloc_record(0, 0);
    const NodeId record = alloc_record(width, height);
    // GC: the binaries are read only after the record is made.
    std::uint32_t* out = pixels(record);
    const std::int64_t count = width * height;
    if (color && color->is(Type::tuple)) {
        std::fill(out, out + count, tuple_pixel(color));
        return record;
    }
    const ByteRun colours = bytes_of(rgb);
    const ByteRun alphas = bytes_of(alpha);
    const std::int64_t triples = colours.n / 3;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::uint8_t a = i < alphas.n ? static_cast<std::uint8_t>(255 - alphas.p[i]) : 255;
        if (i < triples) {
            const std::uint8_t* c = colours.p + 3 * i;
            out[i] = pixel_word(c[0], c[1], c[2], a);
        } else {
            out[i] = pixel_word(255, 255, 255, a);
        }
    }
    return record;
}

NodeId copy_region(NodeId record, std::uint32_t width, std::uint32_t x, std::uint32_t y,
                   std::uint32_t w, std::uint32_t h) {
    const NodeId copy = alloc_record(w, h);
    const std::uint32_t* from = pixels(record);
    std::uint32_t* to = pixels(copy);
    for (std::uint32_t row = 0; row < h; ++row)
        std::memcpy(to + std::size_t{row} * w, from + (std::size_t{y} + row) * width + x,
                    std::size_t{w} * 4);
    return copy;
}

NodeId resize(NodeId record, std::uint32_t width, std::uint32_t height, std::uint32_t new_w,
              std::uint32_t new_h) {
    const NodeId scaled = alloc_record(new_w, new_h);
    const std::uint32_t* from = pixels(record);
    std::uint32_t* to = pixels(scaled);
    for (std::uint32_t row = 0; row < new_h; ++row) {
        const std::size_t sy = std::size_t{row} * height / new_h;
        for (std::uint32_t col = 0; col < new_w; ++col) {
            const std::size_t sx = std::size_t{col} * width / new_w;
            to[std::size_t{row} * new_w + col] = from[sy * width + sx];
        }
    }
    return scaled;
}

namespace {

void check_index(NodeId record, std::int64_t index) {
    if (index < 0 || index >= pixel_count(record)) {
        const Cell n = integer::make_cell(static_cast<std::int32_t>(index));
        fire(ErrorId::script_out_of_range, &n);
    }
}

}  // namespace

std::uint32_t get_pixel(NodeId record, std::int64_t index) {
    check_index(record, index);
    return pixels(record)[index];
}

void set_pixel(NodeId record, std::int64_t index, std::uint32_t pixel) {
    check_index(record, index);
    pixels(record)[index] = pixel;
}

// ---------------------------------------------------------------------------
// Formats.

Signature signature_of(const std::uint8_t* bytes, std::size_t length) {
    const auto starts = [&](std::initializer_list<std::uint8_t> sig) {
        return length >= sig.size() && std::equal(sig.begin(), sig.end(), bytes);
    };
    if (starts({0x89, 0x50, 0x4E, 0x47})) return Signature::png;
    if (starts({0xFF, 0xD8, 0xFF})) return Signature::jpeg;
    if (starts({0x42, 0x4D})) return Signature::bmp;
    if (starts({0x47, 0x49, 0x46, 0x38, 0x37, 0x61}) || starts({0x47, 0x49, 0x46, 0x38, 0x39, 0x61}))
        return Signature::gif;
    if (starts({0x49, 0x49, 0x2A, 0x00}) || starts({0x4D, 0x4D, 0x00, 0x2A})) return Signature::tiff;
    return Signature::none;
}

namespace {

std::uint32_t* alloc_decoded(void* context, std::uint32_t width, std::uint32_t height) {
    auto* out = static_cast<Decoded*>(context);
    out->record = alloc_record(width, height);
    out->width = width;
    out->height = height;
    return pixels(out->record);
}

}  // namespace

bool decode(const Bytes& bytes, Decoded* out) {
    *out = Decoded{};
    const Sink sink{alloc_decoded, out};
    bool done = false;
    switch (signature_of(bytes.data(), bytes.size())) {
        case Signature::none: return false;
        case Signature::bmp: done = bmp::decode(bytes.data(), bytes.size(), false, sink); break;
        case Signature::png: done = codecs::decode_png(bytes, sink); break;
        case Signature::jpeg: done = codecs::decode_jpeg(bytes, sink); break;
        case Signature::gif: done = codecs::decode_gif(bytes, sink); break;
        case Signature::tiff: done = codecs::decode_tiff(bytes, sink); break;
    }
    return done && out->record != 0;
}

bool decode_dib(const Bytes& bytes, Decoded* out) {
    *out = Decoded{};
    return bmp::decode(bytes.data(), bytes.size(), true, Sink{alloc_decoded, out}) && out->record != 0;
}

bool encode(NodeId record, std::uint32_t width, std::uint32_t height, Format format, Bytes* out) {
    const std::uint32_t* p = pixels(record);
    switch (format) {
        case Format::bmp: bmp::encode(p, width, height, false, out); return true;
        case Format::png: return codecs::encode_png(p, width, height, out);
        case Format::gif: return codecs::encode_gif(p, width, height, out);
        case Format::jpeg: return codecs::encode_jpeg(p, width, height, out);
        case Format::tiff: return codecs::encode_tiff(p, width, height, out);
    }
    return false;
}

}  // namespace kiv::imaging
