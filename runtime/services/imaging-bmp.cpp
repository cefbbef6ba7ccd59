// BMP files and device-independent bitmaps, read and written by this
// service itself.
//
// Read: the OS/2 core header (12 bytes) and the Windows headers of 40 bytes
// and more (V2 to V5), 1, 4, 8, 16, 24 and 32 bits per pixel, palettes, bit
// fields (with an alpha mask from a V3 or later header, or after a 40-byte
// header with compression 6), rows bottom-up or top-down. Run-length
// compressed and embedded JPEG/PNG bitmaps are refused. 32-bit pixels
// without an alpha mask are opaque, as their writers mean them. Every
// field is checked against the bytes present, and the pixel rows must all
// be there, before the image is allocated.
//
// Written: 32-bit pixels with a BITMAPV5HEADER carrying the four channel
// masks, so transparency survives the round trip.
#include <algorithm>
#include <bit>
#include <cstring>

#include "runtime/services/imaging.h"

namespace kiv::imaging::bmp {

namespace {

constexpr std::size_t file_header_size = 14;
constexpr std::uint32_t v5_header_size = 124;

std::uint32_t u16(const std::uint8_t* p) { return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8; }
std::uint32_t u32(const std::uint8_t* p) { return u16(p) | u16(p + 2) << 16; }

// One channel's mask: where it starts, how many bits, and what a value of
// those bits becomes on the 0..255 scale.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;  // (1 << bits) - 1; 0 for an empty mask

    explicit Channel(std::uint32_t m = 0) : mask(m) {
        if (m == 0) return;
        shift = std::countr_zero(m);
        const int bits = std::min(std::popcount(m >> shift), 31);
        max = (1u << bits) - 1;
    }
    std::uint8_t get(std::uint32_t px, std::uint8_t missing) const {
        if (max == 0) return missing;
        const std::uint64_t v = (px & mask) >> shift;
        return static_cast<std::uint8_t>(std::min<std::uint64_t>(v, max) * 255 / max);
    }
};

struct Layout {
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool top_down = false;
    std::uint32_t bits = 0;
    std::uint32_t compression = 0;
    std::size_t palette_at = 0;      // offset of the palette
    std::uint32_t palette_entry = 4;  // bytes per entry: 3 for core headers
    std::uint32_t colours = 0;       // palette entries present
    Channel red, green, blue, alpha;
    std::size_t data_at = 0;
};

// Reads the headers at `at`; false for anything unsupported or cut short.
bool read_layout(const std::uint8_t* bytes, std::size_t length, std::size_t at, Layout* l) {
    if (length < at + 4) return false;
    const std::uint32_t header = u32(bytes + at);
    if (header < 12 || header > length - at) return false;
    const std::uint8_t* h = bytes + at;
    std::size_t after = at + header;
    if (header == 12) {
        l->width = u16(h + 4);
        l->height = u16(h + 6);
        l->bits = u16(h + 10);
        l->palette_entry = 3;
    } else if (header >= 40) {
        l->width = static_cast<std::int32_t>(u32(h + 4));
        const auto height = static_cast<std::int32_t>(u32(h + 8));
        l->top_down = height < 0;
        l->height = height < 0 ? -static_cast<std::int64_t>(height) : height;
        l->bits = u16(h + 14);
        l->compression = u32(h + 16);
        l->colours = u32(h + 32);
        if (l->compression == 3 || l->compression == 6) {
            const std::uint32_t masks = header >= 56 ? 4 : header >= 52 ? 3 : 0;
            std::uint32_t m[4] = {0, 0, 0, 0};
            if (masks == 0) {
                const std::uint32_t follow = l->compression == 6 ? 4 : 3;
                if (length < after + 4 * follow) return false;
                for (std::uint32_t i = 0; i < follow; ++i) m[i] = u32(bytes + after + 4 * i);
                after += 4 * follow;
            } else {
                for (std::uint32_t i = 0; i < masks; ++i) m[i] = u32(h + 40 + 4 * i);
            }
            l->red = Channel(m[0]);
            l->green = Channel(m[1]);
            l->blue = Channel(m[2]);
            l->alpha = Channel(m[3]);
        } else if (l->compression != 0) {
            return false;  // run-length, JPEG and PNG bitmaps
        }
    } else {
        return false;
    }
    switch (l->bits) {
        case 1: case 4: case 8:
            if (l->compression != 0) return false;
            if (l->colours == 0 || l->colours > (1u << l->bits)) l->colours = 1u << l->bits;
            break;
        case 16:
            if (l->compression == 0) {
                l->red = Channel(0x7C00);
                l->green = Channel(0x03E0);
                l->blue = Channel(0x001F);
            }
            l->colours = 0;
            break;
        case 24:
            if (l->compression != 0) return false;
            l->colours = 0;
            break;
        case 32:
            if (l->compression == 0) {
                l->red = Channel(0x00FF0000);
                l->green = Channel(0x0000FF00);
                l->blue = Channel(0x000000FF);
            }
            l->colours = 0;
            break;
        default:
            return false;
    }
    l->palette_at = after;
    // A palette may be cut short by the pixel data's offset; what is there
    // is used and the rest reads as black.
    l->data_at = after + std::size_t{l->colours} * l->palette_entry;
    return true;
}

void decode_rows(const std::uint8_t* bytes, const Layout& l, std::size_t stride, std::size_t palette_end,
                 std::uint32_t* out) {
    const auto w = static_cast<std::size_t>(l.width);
    const auto h = static_cast<std::size_t>(l.height);
    const auto colour = [&](std::uint32_t index) {
        const std::size_t at = l.palette_at + std::size_t{index} * l.palette_entry;
        if (index >= l.colours || at + 3 > palette_end) return pixel_word(0, 0, 0, 255);
        return pixel_word(bytes[at + 2], bytes[at + 1], bytes[at], 255);
    };
    for (std::size_t row = 0; row < h; ++row) {
        const std::uint8_t* src = bytes + l.data_at + (l.top_down ? row : h - 1 - row) * stride;
        std::uint32_t* dst = out + row * w;
        for (std::size_t x = 0; x < w; ++x) {
            switch (l.bits) {
                case 1: dst[x] = colour(src[x / 8] >> (7 - x % 8) & 1); break;
                case 4: dst[x] = colour(src[x / 2] >> (x % 2 ? 0 : 4) & 15); break;
                case 8: dst[x] = colour(src[x]); break;
                case 24: dst[x] = pixel_word(src[3 * x + 2], src[3 * x + 1], src[3 * x], 255); break;
                default: {
                    const std::uint32_t px = l.bits == 16 ? u16(src + 2 * x) : u32(src + 4 * x);
                    dst[x] = pixel_word(l.red.get(px, 0), l.green.get(px, 0), l.blue.get(px, 0),
                                        l.alpha.get(px, 255));
                }
            }
        }
    }
}

void put16(Bytes& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

}  // namespace

bool decode(const std::uint8_t* bytes, std::size_t length, bool dib, const Sink& sink) {
    std::size_t at = 0;
    std::size_t data_at = 0;
    if (!dib) {
        if (length < file_header_size + 4 || bytes[0] != 'B' || bytes[1] != 'M') return false;
        data_at = u32(bytes + 10);
        at = file_header_size;
    }
    Layout l;
    if (!read_layout(bytes, length, at, &l)) return false;
    const std::size_t palette_end = dib ? l.data_at : std::min<std::size_t>(data_at, length);
    if (!dib) {
        if (data_at < l.palette_at) return false;
        l.data_at = data_at;
    }
    if (!size_ok(static_cast<std::uint64_t>(std::max<std::int64_t>(l.width, 0)),
                 static_cast<std::uint64_t>(l.height)))
        return false;
    const std::uint64_t row_bits = static_cast<std::uint64_t>(l.width) * l.bits;
    const std::uint64_t stride = (row_bits + 31) / 32 * 4;
    // The last row may lack its padding; every other byte must be there.
    const std::uint64_t needed = stride * (static_cast<std::uint64_t>(l.height) - 1) + (row_bits + 7) / 8;
    if (l.data_at > length || needed > length - l.data_at) return false;
    std::uint32_t* out = sink.pixels_for(static_cast<std::uint32_t>(l.width),
                                         static_cast<std::uint32_t>(l.height));
    decode_rows(bytes, l, static_cast<std::size_t>(stride), palette_end, out);
    return true;
}

void encode(const std::uint32_t* pixels, std::uint32_t width, std::uint32_t height, bool dib,
            Bytes* out) {
    const std::uint32_t data = width * height * 4;
    out->clear();
    out->reserve(file_header_size + v5_header_size + data);
    if (!dib) {
        out->push_back('B');
        out->push_back('M');
        put32(*out, static_cast<std::uint32_t>(file_header_size) + v5_header_size + data);
        put32(*out, 0);
        put32(*out, static_cast<std::uint32_t>(file_header_size) + v5_header_size);
    }
    put32(*out, v5_header_size);
    put32(*out, width);
    put32(*out, dib ? static_cast<std::uint32_t>(-static_cast<std::int64_t>(height)) : height);
    put16(*out, 1);   // planes
    put16(*out, 32);  // bits per pixel
    put32(*out, 3);   // bit fields
    put32(*out, data);
    put32(*out, 0);  // resolution
    put32(*out, 0);
    put32(*out, 0);  // palette
    put32(*out, 0);
    put32(*out, 0x00FF0000);
    put32(*out, 0x0000FF00);
    put32(*out, 0x000000FF);
    put32(*out, 0xFF000000);
    put32(*out, 0x57696E20);  // "Win ": the system's colour space
    out->resize(out->size() + 36 + 12, 0);  // end points and gamma
    put32(*out, 4);  // intent: images
    put32(*out, 0);  // no profile
    put32(*out, 0);
    put32(*out, 0);
    for (std::uint32_t row = 0; row < height; ++row) {
        const std::uint32_t* src = pixels + std::size_t{dib ? row : height - 1 - row} * width;
        for (std::uint32_t x = 0; x < width; ++x) put32(*out, src[x]);
    }
}

}  // namespace kiv::imaging::bmp
