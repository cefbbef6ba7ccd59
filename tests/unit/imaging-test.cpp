// The imaging service's file formats, on bytes and pixels held outside the
// heap: BMP layouts read by our own decoder, round trips through every
// encoder, and damaged or cut-short input refused without reading past it.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "runtime/services/imaging.h"
#include "tests/unit/heap-support.h"

namespace kiv::imaging {

namespace {

// A sink that keeps the pixels in a vector and counts its calls.
struct Canvas {
    std::vector<std::uint32_t> pixels;
    std::uint32_t width = 0, height = 0;
    int calls = 0;
    Sink sink() {
        return Sink{[](void* c, std::uint32_t w, std::uint32_t h) {
                        auto* self = static_cast<Canvas*>(c);
                        ++self->calls;
                        self->width = w;
                        self->height = h;
                        self->pixels.assign(std::size_t{w} * h, 0xDEADBEEF);
                        return self->pixels.data();
                    },
                    this};
    }
};

void put16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// A BMP file: file header, a 40-byte info header (or a 12-byte core
// header), then `extra` (masks, palette) and the rows as given.
Bytes bmp_file(std::int32_t w, std::int32_t h, std::uint32_t bits, std::uint32_t compression,
               const Bytes& extra, const Bytes& rows, bool core = false) {
    const std::uint32_t header = core ? 12 : 40;
    Bytes b{'B', 'M'};
    put32(b, 14 + header + static_cast<std::uint32_t>(extra.size() + rows.size()));
    put32(b, 0);
    put32(b, 14 + header + static_cast<std::uint32_t>(extra.size()));
    put32(b, header);
    if (core) {
        put16(b, static_cast<std::uint32_t>(w));
        put16(b, static_cast<std::uint32_t>(h));
        put16(b, 1);
        put16(b, bits);
    } else {
        put32(b, static_cast<std::uint32_t>(w));
        put32(b, static_cast<std::uint32_t>(h));
        put16(b, 1);
        put16(b, bits);
        put32(b, compression);
        for (int i = 0; i < 5; ++i) put32(b, 0);
    }
    b.insert(b.end(), extra.begin(), extra.end());
    b.insert(b.end(), rows.begin(), rows.end());
    return b;
}

constexpr std::uint32_t opaque(std::uint32_t rgb) { return 0xFF000000 | rgb; }

TEST(ImagingBmp, LayoutsDecodeToTheSamePixels) {
    // A 2x2 image: top row red, green; bottom row blue, white.
    const std::vector<std::uint32_t> expected{opaque(0xFF0000), opaque(0x00FF00), opaque(0x0000FF),
                                              opaque(0xFFFFFF)};
    // Palette entries B, G, R, 0: 0 red, 1 green, 2 blue, 3 white.
    const Bytes palette{0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};
    const Bytes core_palette{0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
    Bytes masks;
    for (std::uint32_t m : {0x00FF0000u, 0x0000FF00u, 0x000000FFu}) put32(masks, m);
    struct Case {
        const char* name;
        Bytes file;
    } cases[] = {
        // Rows bottom-up, each padded to 4 bytes.
        {"24-bit", bmp_file(2, 2, 24, 0, {}, {255, 0, 0, 255, 255, 255, 0, 0, 0, 0, 255, 0, 255, 0, 0, 0})},
        {"24-bit top-down", bmp_file(2, -2, 24, 0, {}, {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0})},
        {"8-bit palette", bmp_file(2, 2, 8, 0, palette, {2, 3, 0, 0, 0, 1, 0, 0})},
        {"4-bit palette", bmp_file(2, 2, 4, 0, palette, {0x23, 0, 0, 0, 0x01, 0, 0, 0})},
        {"core header", bmp_file(2, 2, 8, 0, core_palette, {2, 3, 0, 0, 0, 1, 0, 0}, true)},
        {"16-bit 5-5-5", bmp_file(2, 2, 16, 0, {}, {0x1F, 0, 0xFF, 0x7F, 0, 0x7C, 0xE0, 0x03})},
        {"32-bit bit fields", bmp_file(2, 2, 32, 3, masks, {255, 0, 0, 9, 255, 255, 255, 9, 0, 0, 255, 9, 0, 255, 0, 9})},
    };
    for (const Case& c : cases) {
        Canvas canvas;
        ASSERT_TRUE(bmp::decode(c.file.data(), c.file.size(), false, canvas.sink())) << c.name;
        EXPECT_EQ(canvas.width, 2u) << c.name;
        EXPECT_EQ(canvas.pixels, expected) << c.name;
    }
}

TEST(ImagingBmp, OneBitRowsReadMostSignificantFirst) {
    const Bytes palette{0, 0, 0, 0, 255, 255, 255, 0};
    const Bytes file = bmp_file(9, 1, 1, 0, palette, {0xA5, 0x80, 0, 0});
    Canvas canvas;
    ASSERT_TRUE(bmp::decode(file.data(), file.size(), false, canvas.sink()));
    const std::uint32_t w = opaque(0xFFFFFF), k = opaque(0);
    EXPECT_EQ(canvas.pixels, (std::vector<std::uint32_t>{w, k, w, k, k, w, k, w, w}));
}

TEST(ImagingBmp, EncodedFileAndBitmapReadBackWithAlpha) {
    const std::vector<std::uint32_t> px{0x00112233, 0x80445566, 0xFF778899, 0x01AABBCC, 0xFFDDEEFF, 0x7F000000};
    for (bool dib : {false, true}) {
        Bytes out;
        bmp::encode(px.data(), 3, 2, dib, &out);
        EXPECT_EQ(out.size(), (dib ? 0u : 14u) + 124 + px.size() * 4);
        Canvas canvas;
        ASSERT_TRUE(bmp::decode(out.data(), out.size(), dib, canvas.sink()));
        EXPECT_EQ(canvas.width, 3u);
        EXPECT_EQ(canvas.height, 2u);
        EXPECT_EQ(canvas.pixels, px);
    }
}

TEST(ImagingBmp, RefusesWhatItCannotHoldBeforeAllocating) {
    const Bytes rows(16, 0);
    struct Case {
        const char* name;
        Bytes file;
    } cases[] = {
        {"run-length", bmp_file(2, 2, 8, 1, Bytes(8, 0), rows)},
        {"7 bits", bmp_file(2, 2, 7, 0, {}, rows)},
        {"no width", bmp_file(0, 2, 24, 0, {}, rows)},
        {"rows missing", bmp_file(2, 3, 24, 0, {}, rows)},
        {"huge declared size", bmp_file(65535, 65535, 32, 0, {}, rows)},
        {"side too long", bmp_file(70000, 1, 24, 0, {}, rows)},
        {"most negative height", bmp_file(1, INT32_MIN, 24, 0, {}, rows)},
    };
    for (const Case& c : cases) {
        Canvas canvas;
        EXPECT_FALSE(bmp::decode(c.file.data(), c.file.size(), false, canvas.sink())) << c.name;
        EXPECT_EQ(canvas.calls, 0) << c.name;
    }
    // Every cut of a good file short of its last pixel byte is refused.
    const Bytes good = bmp_file(2, 2, 24, 0, {}, rows);
    for (std::size_t n = 0; n + 2 < good.size(); ++n) {
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        Canvas canvas;
        EXPECT_FALSE(bmp::decode(cut.data(), cut.size(), false, canvas.sink())) << n;
        EXPECT_EQ(canvas.calls, 0) << n;
    }
}

TEST(ImagingFormats, SignaturesNeedTheirWholeLength) {
    const Bytes gif{'G', 'I', 'F', '8', '9', 'a'};
    EXPECT_EQ(signature_of(gif.data(), 6), Signature::gif);
    EXPECT_EQ(signature_of(gif.data(), 5), Signature::none);
    const Bytes png{0x89, 'P', 'N', 'G'};
    EXPECT_EQ(signature_of(png.data(), 4), Signature::png);
    EXPECT_EQ(signature_of(png.data(), 3), Signature::none);
    const Bytes tiff{'M', 'M', 0, 0x2A};
    EXPECT_EQ(signature_of(tiff.data(), 4), Signature::tiff);
    EXPECT_EQ(signature_of(tiff.data(), 0), Signature::none);
}

using Encoder = bool (*)(const std::uint32_t*, std::uint32_t, std::uint32_t, Bytes*);
using Decoder = bool (*)(const Bytes&, const Sink&);

struct Format {
    const char* name;
    Encoder encode;
    Decoder decode;
    bool exact;
};
const Format formats[] = {
    {"png", codecs::encode_png, codecs::decode_png, true},
    {"tiff", codecs::encode_tiff, codecs::decode_tiff, true},
    {"gif", codecs::encode_gif, codecs::decode_gif, false},
    {"jpeg", codecs::encode_jpeg, codecs::decode_jpeg, false},
};

// 13 x 7 pixels of varied colours and transparency.
std::vector<std::uint32_t> sample() {
    std::vector<std::uint32_t> px;
    for (std::uint32_t i = 0; i < 13 * 7; ++i)
        px.push_back((i % 5 == 0 ? 0x40u : 0xFFu) << 24 | (i * 37 % 256) << 16 | (i * 11 % 256) << 8 | i);
    return px;
}

TEST(ImagingFormats, LibraryCodecsRoundTrip) {
    const std::vector<std::uint32_t> px = sample();
    for (const Format& f : formats) {
        Bytes out;
        ASSERT_TRUE(f.encode(px.data(), 13, 7, &out)) << f.name;
        Canvas canvas;
        ASSERT_TRUE(f.decode(out, canvas.sink())) << f.name;
        EXPECT_EQ(canvas.width, 13u) << f.name;
        EXPECT_EQ(canvas.height, 7u) << f.name;
        if (f.exact) {
            EXPECT_EQ(canvas.pixels, px) << f.name;
        }
    }
}

TEST(ImagingFormats, GifKeepsFewColoursAndTransparency) {
    const std::vector<std::uint32_t> px{0xFF102030, 0x00FFFFFF, 0xFF405060, 0xFF102030};
    Bytes out;
    ASSERT_TRUE(codecs::encode_gif(px.data(), 2, 2, &out));
    Canvas canvas;
    ASSERT_TRUE(codecs::decode_gif(out, canvas.sink()));
    EXPECT_EQ(canvas.pixels, (std::vector<std::uint32_t>{0xFF102030, 0, 0xFF405060, 0xFF102030}));
}

TEST(ImagingFormats, CutShortFilesFailCleanly) {
    const std::vector<std::uint32_t> px = sample();
    for (const Format& f : formats) {
        Bytes whole;
        ASSERT_TRUE(f.encode(px.data(), 13, 7, &whole)) << f.name;
        for (std::size_t n = 0; n < whole.size(); n += 1 + n / 8) {
            const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
            Canvas canvas;
            f.decode(cut, canvas.sink());  // any answer, but no read past the bytes
            EXPECT_LE(canvas.calls, 1) << f.name << " " << n;
        }
    }
}

// Records in the heap: regions and nearest-neighbour scaling read the right
// rows and columns.
TEST(ImagingRecords, RegionsAndScaling) {
    test::isolated([] {
        const NodeId r = alloc_record(4, 3);
        for (std::uint32_t i = 0; i < 12; ++i) pixels(r)[i] = i;
        const NodeId region = copy_region(r, 4, 1, 1, 2, 2);
        EXPECT_EQ(pixel_count(region), 4);
        EXPECT_EQ((std::vector<std::uint32_t>(pixels(region), pixels(region) + 4)),
                  (std::vector<std::uint32_t>{5, 6, 9, 10}));
        const NodeId up = resize(r, 4, 3, 8, 3);
        EXPECT_EQ(pixels(up)[0], 0u);
        EXPECT_EQ(pixels(up)[1], 0u);
        EXPECT_EQ(pixels(up)[2], 1u);
        EXPECT_EQ(pixels(up)[23], 11u);
        const NodeId down = resize(r, 4, 3, 2, 1);
        EXPECT_EQ((std::vector<std::uint32_t>(pixels(down), pixels(down) + 2)),
                  (std::vector<std::uint32_t>{0, 2}));
        EXPECT_EQ(pixel_count(alloc_record(0, 0)), 0);
    });
}

}  // namespace

}  // namespace kiv::imaging
