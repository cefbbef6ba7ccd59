// PNG, JPEG, GIF and TIFF through the system's libraries, each opened at
// its first use (start-up never loads them). Only the headers come from the
// build machine; the entry points are looked up by name, so a machine
// without a library runs everything but that format, which fires internal
// feature-na.
//
// None of these paths reports through longjmp into this code or prints:
// libpng is used through its simplified interface (errors come back as
// results), turbojpeg and giflib return error codes, and libtiff's message
// handlers are switched off when it is loaded.
#include <gif_lib.h>
#include <png.h>
#include <tiffio.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "runtime/fire.h"
#include "runtime/platform/shared-library.h"
#include "runtime/services/imaging.h"

namespace kiv::imaging::codecs {

namespace {

using shared_library::find;

// Loads a library's entry points once: `bind` fills them from the handle
// and answers whether all were found. Null (feature-na at the caller) when
// the library or one of its entry points is missing.
template <class Api>
const Api* try_load(const char* soname, bool (*bind)(void*, Api*)) {
    static Api api{};
    static int state = 0;  // 0 not tried, 1 loaded, -1 missing
    if (state == 0) {
        void* library = shared_library::open(soname);
        state = library && bind(library, &api) ? 1 : -1;
    }
    return state > 0 ? &api : nullptr;
}

template <class Api>
const Api* load(const char* soname, bool (*bind)(void*, Api*)) {
    const Api* api = try_load(soname, bind);
    if (!api) fire(ErrorId::internal_feature_na);
    return api;
}

// ---------------------------------------------------------------------------
// PNG

struct Png {
    decltype(&png_image_begin_read_from_memory) begin_read;
    decltype(&png_image_finish_read) finish_read;
    decltype(&png_image_free) free;
    decltype(&png_image_write_to_memory) write_to_memory;
};

bool bind_png(void* lib, Png* api) {
    return find(lib, "png_image_begin_read_from_memory", &api->begin_read) &&
           find(lib, "png_image_finish_read", &api->finish_read) &&
           find(lib, "png_image_free", &api->free) &&
           find(lib, "png_image_write_to_memory", &api->write_to_memory);
}

constexpr const char* png_library = "libpng16.so.16";
const Png* png() { return load<Png>(png_library, bind_png); }

png_image blank_png_image() {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    return image;
}

// ---------------------------------------------------------------------------
// JPEG

struct Jpeg {
    decltype(&tjInitDecompress) init_decompress;
    decltype(&tjInitCompress) init_compress;
    decltype(&tjDecompressHeader3) header;
    decltype(&tjDecompress2) decompress;
    decltype(&tjCompress2) compress;
    decltype(&tjGetErrorCode) error_code;
    decltype(&tjFree) free;
    decltype(&tjDestroy) destroy;
};

bool bind_jpeg(void* lib, Jpeg* api) {
    return find(lib, "tjInitDecompress", &api->init_decompress) &&
           find(lib, "tjInitCompress", &api->init_compress) &&
           find(lib, "tjDecompressHeader3", &api->header) &&
           find(lib, "tjDecompress2", &api->decompress) && find(lib, "tjCompress2", &api->compress) &&
           find(lib, "tjGetErrorCode", &api->error_code) && find(lib, "tjFree", &api->free) &&
           find(lib, "tjDestroy", &api->destroy);
}

const Jpeg* jpeg() { return load<Jpeg>("libturbojpeg.so.0", bind_jpeg); }

constexpr int jpeg_quality = 90;

// ---------------------------------------------------------------------------
// GIF

struct Gif {
    decltype(&DGifOpen) open;
    decltype(&DGifGetRecordType) record_type;
    decltype(&DGifGetExtension) extension;
    decltype(&DGifGetExtensionNext) extension_next;
    decltype(&DGifGetImageDesc) image_desc;
    decltype(&DGifGetLine) line;
    decltype(&DGifCloseFile) close;
    decltype(&EGifOpen) e_open;
    decltype(&EGifSetGifVersion) e_version;
    decltype(&EGifPutScreenDesc) e_screen;
    decltype(&EGifGCBToExtension) e_gcb;
    decltype(&EGifPutExtension) e_extension;
    decltype(&EGifPutImageDesc) e_image_desc;
    decltype(&EGifPutLine) e_line;
    decltype(&EGifCloseFile) e_close;
    decltype(&GifMakeMapObject) make_map;
    decltype(&GifFreeMapObject) free_map;
};

bool bind_gif(void* lib, Gif* api) {
    return find(lib, "DGifOpen", &api->open) && find(lib, "DGifGetRecordType", &api->record_type) &&
           find(lib, "DGifGetExtension", &api->extension) &&
           find(lib, "DGifGetExtensionNext", &api->extension_next) &&
           find(lib, "DGifGetImageDesc", &api->image_desc) && find(lib, "DGifGetLine", &api->line) &&
           find(lib, "DGifCloseFile", &api->close) && find(lib, "EGifOpen", &api->e_open) &&
           find(lib, "EGifSetGifVersion", &api->e_version) &&
           find(lib, "EGifPutScreenDesc", &api->e_screen) &&
           find(lib, "EGifGCBToExtension", &api->e_gcb) &&
           find(lib, "EGifPutExtension", &api->e_extension) &&
           find(lib, "EGifPutImageDesc", &api->e_image_desc) && find(lib, "EGifPutLine", &api->e_line) &&
           find(lib, "EGifCloseFile", &api->e_close) && find(lib, "GifMakeMapObject", &api->make_map) &&
           find(lib, "GifFreeMapObject", &api->free_map);
}

const Gif* gif() { return load<Gif>("libgif.so.7", bind_gif); }

// A read position over bytes in memory, for giflib's and libtiff's input.
struct Reader {
    const Bytes* bytes;
    std::size_t at;
};

int gif_read(GifFileType* file, GifByteType* into, int n) {
    auto* r = static_cast<Reader*>(file->UserData);
    const std::size_t left = r->bytes->size() - r->at;
    const std::size_t take = std::min<std::size_t>(left, n < 0 ? 0 : static_cast<std::size_t>(n));
    if (take == 0) return 0;
    std::memcpy(into, r->bytes->data() + r->at, take);
    r->at += take;
    return static_cast<int>(take);
}

int gif_write(GifFileType* file, const GifByteType* from, int n) {
    auto* out = static_cast<Bytes*>(file->UserData);
    out->insert(out->end(), from, from + n);
    return n;
}

// The graphic control extension's transparent colour index, or -1.
int transparent_index(const GifByteType* ext) {
    if (ext && ext[0] >= 4 && (ext[1] & 1)) return ext[4];
    return -1;
}

// Reads the first image's rows into the canvas (frame rectangle clipped
// to it). False when the data ends early or is damaged.
bool read_gif_frame(const Gif* api, GifFileType* file, int transparent, std::uint32_t* out,
                    std::uint32_t canvas_w, std::uint32_t canvas_h) {
    const GifImageDesc& d = file->Image;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : file->SColorMap;
    const int width = d.Width;
    std::vector<GifPixelType> line(static_cast<std::size_t>(width) + 1);
    const auto put_row = [&](int row) {
        const std::int64_t y = std::int64_t{d.Top} + row;
        if (y < 0 || y >= canvas_h) return;
        for (int x = 0; x < width; ++x) {
            const std::int64_t cx = std::int64_t{d.Left} + x;
            if (cx < 0 || cx >= canvas_w) continue;
            const int index = line[static_cast<std::size_t>(x)];
            std::uint32_t px = pixel_word(0, 0, 0, 0);
            if (index != transparent) {
                if (map && index < map->ColorCount) {
                    const GifColorType& c = map->Colors[index];
                    px = pixel_word(c.Red, c.Green, c.Blue, 255);
                } else {
                    px = pixel_word(0, 0, 0, 255);
                }
            }
            out[static_cast<std::size_t>(y) * canvas_w + static_cast<std::size_t>(cx)] = px;
        }
    };
    if (d.Interlace) {
        constexpr int start[] = {0, 4, 2, 1};
        constexpr int step[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (int row = start[pass]; row < d.Height; row += step[pass]) {
                if (api->line(file, line.data(), width) != GIF_OK) return false;
                put_row(row);
            }
        return true;
    }
    for (int row = 0; row < d.Height; ++row) {
        if (api->line(file, line.data(), width) != GIF_OK) return false;
        put_row(row);
    }
    return true;
}

bool decode_gif_file(const Gif* api, GifFileType* file, const Sink& sink) {
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (api->record_type(file, &type) != GIF_OK) return false;
        if (type == TERMINATE_RECORD_TYPE) return false;
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* ext = nullptr;
            if (api->extension(file, &code, &ext) != GIF_OK) return false;
            if (code == GRAPHICS_EXT_FUNC_CODE) transparent = transparent_index(ext);
            while (ext)
                if (api->extension_next(file, &ext) != GIF_OK) return false;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        if (api->image_desc(file) != GIF_OK) return false;
        const GifImageDesc& d = file->Image;
        if (d.Width <= 0 || d.Height <= 0) return false;
        // A logical screen of no size takes the first image's.
        std::uint64_t w = file->SWidth > 0 ? file->SWidth : d.Width;
        std::uint64_t h = file->SHeight > 0 ? file->SHeight : d.Height;
        if (!size_ok(w, h) || !size_ok(static_cast<std::uint64_t>(d.Width), static_cast<std::uint64_t>(d.Height)))
            return false;
        std::uint32_t* out = sink.pixels_for(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h));
        std::fill(out, out + w * h, pixel_word(0, 0, 0, 0));
        return read_gif_frame(api, file, transparent, out, static_cast<std::uint32_t>(w),
                              static_cast<std::uint32_t>(h));
    }
}

// The palette of an image to be written: its colours exactly when they are
// few enough, else a 6 x 7 x 6 colour cube; one more entry for the
// transparent pixels (alpha below 128) when there are any.
struct Palette {
    std::vector<GifColorType> colours;
    int transparent = -1;
    std::unordered_map<std::uint32_t, std::uint8_t> exact;
    bool cube = false;

    std::uint8_t index_of(std::uint32_t px) const {
        if ((px >> 24) < 128) return static_cast<std::uint8_t>(transparent);
        if (!cube) return exact.at(px & 0xFFFFFF);
        const std::uint32_t r = (px >> 16 & 0xFF) * 6 / 256;
        const std::uint32_t g = (px >> 8 & 0xFF) * 7 / 256;
        const std::uint32_t b = (px & 0xFF) * 6 / 256;
        return static_cast<std::uint8_t>((r * 7 + g) * 6 + b);
    }
};

Palette make_palette(const std::uint32_t* pixels, std::size_t count) {
    Palette p;
    bool any_transparent = false;
    for (std::size_t i = 0; i < count; ++i) {
        if ((pixels[i] >> 24) < 128) {
            any_transparent = true;
            continue;
        }
        if (p.cube) continue;
        const std::uint32_t rgb = pixels[i] & 0xFFFFFF;
        if (p.exact.count(rgb)) continue;
        if (p.exact.size() == 255) {
            p.cube = true;
            continue;
        }
        p.exact.emplace(rgb, static_cast<std::uint8_t>(p.colours.size()));
        p.colours.push_back(GifColorType{static_cast<GifByteType>(rgb >> 16),
                                         static_cast<GifByteType>(rgb >> 8), static_cast<GifByteType>(rgb)});
    }
    if (p.cube) {
        p.exact.clear();
        p.colours.clear();
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 7; ++g)
                for (int b = 0; b < 6; ++b)
                    p.colours.push_back(GifColorType{static_cast<GifByteType>(r * 255 / 5),
                                                     static_cast<GifByteType>(g * 255 / 6),
                                                     static_cast<GifByteType>(b * 255 / 5)});
    }
    if (any_transparent) {
        p.transparent = static_cast<int>(p.colours.size());
        p.colours.push_back(GifColorType{0, 0, 0});
    }
    // giflib wants a power of two entries, 2 at least.
    std::size_t size = 2;
    while (size < p.colours.size()) size *= 2;
    p.colours.resize(size, GifColorType{0, 0, 0});
    return p;
}

int bits_for(std::size_t entries) {
    int bits = 1;
    while ((std::size_t{1} << bits) < entries) ++bits;
    return bits;
}

bool write_gif(const Gif* api, GifFileType* file, const std::uint32_t* pixels, std::uint32_t width,
               std::uint32_t height, const Palette& palette, ColorMapObject* map) {
    api->e_version(file, true);
    if (api->e_screen(file, static_cast<int>(width), static_cast<int>(height),
                      bits_for(palette.colours.size()), 0, map) != GIF_OK)
        return false;
    if (palette.transparent >= 0) {
        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, palette.transparent};
        GifByteType ext[4];
        api->e_gcb(&gcb, ext);
        if (api->e_extension(file, GRAPHICS_EXT_FUNC_CODE, 4, ext) != GIF_OK) return false;
    }
    if (api->e_image_desc(file, 0, 0, static_cast<int>(width), static_cast<int>(height), false, nullptr) !=
        GIF_OK)
        return false;
    std::vector<GifPixelType> line(width);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x)
            line[x] = palette.index_of(pixels[std::size_t{y} * width + x]);
        if (api->e_line(file, line.data(), static_cast<int>(width)) != GIF_OK) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// TIFF

struct Tiff {
    decltype(&TIFFClientOpen) client_open;
    decltype(&TIFFClose) close;
    decltype(&TIFFGetField) get_field;
    decltype(&TIFFSetField) set_field;
    decltype(&TIFFReadRGBAImageOriented) read_rgba;
    decltype(&TIFFWriteScanline) write_scanline;
    decltype(&TIFFReadScanline) read_scanline;
    decltype(&TIFFScanlineSize) scanline_size;
    decltype(&TIFFIsTiled) is_tiled;
    decltype(&TIFFSetErrorHandler) set_error_handler;
    decltype(&TIFFSetWarningHandler) set_warning_handler;
};

bool bind_tiff(void* lib, Tiff* api) {
    const bool found =
        find(lib, "TIFFClientOpen", &api->client_open) && find(lib, "TIFFClose", &api->close) &&
        find(lib, "TIFFGetField", &api->get_field) && find(lib, "TIFFSetField", &api->set_field) &&
        find(lib, "TIFFReadRGBAImageOriented", &api->read_rgba) &&
        find(lib, "TIFFWriteScanline", &api->write_scanline) &&
        find(lib, "TIFFReadScanline", &api->read_scanline) &&
        find(lib, "TIFFScanlineSize", &api->scanline_size) && find(lib, "TIFFIsTiled", &api->is_tiled) &&
        find(lib, "TIFFSetErrorHandler", &api->set_error_handler) &&
        find(lib, "TIFFSetWarningHandler", &api->set_warning_handler);
    if (!found) return false;
    // The library would print its complaints to standard error; a damaged
    // file is reported by the result alone.
    api->set_error_handler(nullptr);
    api->set_warning_handler(nullptr);
    return true;
}

const Tiff* tiff() { return load<Tiff>("libtiff.so.6", bind_tiff); }

// A file in memory for libtiff: read from bytes, or written into a growing
// buffer that libtiff may seek back into.
struct TiffStream {
    const Bytes* in = nullptr;
    Bytes* out = nullptr;
    std::size_t at = 0;
    std::size_t size() const { return in ? in->size() : out->size(); }
};

tmsize_t tiff_read(thandle_t h, void* into, tmsize_t n) {
    auto* s = static_cast<TiffStream*>(h);
    if (!s->in || n < 0 || s->at >= s->in->size()) return 0;
    const std::size_t take = std::min(s->in->size() - s->at, static_cast<std::size_t>(n));
    std::memcpy(into, s->in->data() + s->at, take);
    s->at += take;
    return static_cast<tmsize_t>(take);
}

tmsize_t tiff_write(thandle_t h, void* from, tmsize_t n) {
    auto* s = static_cast<TiffStream*>(h);
    if (!s->out || n < 0) return -1;
    const auto count = static_cast<std::size_t>(n);
    if (s->out->size() < s->at + count) s->out->resize(s->at + count);
    std::memcpy(s->out->data() + s->at, from, count);
    s->at += count;
    return n;
}

toff_t tiff_seek(thandle_t h, toff_t offset, int whence) {
    auto* s = static_cast<TiffStream*>(h);
    std::uint64_t base = whence == SEEK_CUR ? s->at : whence == SEEK_END ? s->size() : 0;
    const std::uint64_t target = base + offset;
    if (target > (std::uint64_t{1} << 40)) return static_cast<toff_t>(-1);
    s->at = static_cast<std::size_t>(target);
    return target;
}

int tiff_close(thandle_t) { return 0; }
toff_t tiff_size(thandle_t h) { return static_cast<TiffStream*>(h)->size(); }
int tiff_map(thandle_t, void**, toff_t*) { return 0; }
void tiff_unmap(thandle_t, void*, toff_t) {}

TIFF* open_tiff(const Tiff* api, TiffStream* stream, const char* mode) {
    return api->client_open("image", mode, stream, tiff_read, tiff_write, tiff_seek, tiff_close,
                            tiff_size, tiff_map, tiff_unmap);
}

bool write_tiff(const Tiff* api, TIFF* t, const std::uint32_t* pixels, std::uint32_t width,
                std::uint32_t height) {
    const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    const std::uint32_t rows_per_strip = std::max<std::uint32_t>(1, 65536 / (width * 4));
    api->set_field(t, TIFFTAG_IMAGEWIDTH, width);
    api->set_field(t, TIFFTAG_IMAGELENGTH, height);
    api->set_field(t, TIFFTAG_BITSPERSAMPLE, 8);
    api->set_field(t, TIFFTAG_SAMPLESPERPIXEL, 4);
    api->set_field(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
    api->set_field(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    api->set_field(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    api->set_field(t, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    api->set_field(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    api->set_field(t, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
    std::vector<std::uint8_t> row(std::size_t{width} * 4);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t px = pixels[std::size_t{y} * width + x];
            std::uint8_t* p = row.data() + 4 * std::size_t{x};
            p[0] = static_cast<std::uint8_t>(px >> 16);
            p[1] = static_cast<std::uint8_t>(px >> 8);
            p[2] = static_cast<std::uint8_t>(px);
            p[3] = static_cast<std::uint8_t>(px >> 24);
        }
        if (api->write_scanline(t, row.data(), y, 0) < 0) return false;
    }
    return true;
}

// Whether the file holds plain 8-bit RGB or RGB with straight alpha in
// strips: read row by row as it stands. libtiff's general reader hands back
// premultiplied colours, which would not give back what was written.
int plain_rgb_samples(const Tiff* api, TIFF* t) {
    std::uint16_t bits = 0, samples = 0, photometric = 0, planar = 0;
    if (api->is_tiled(t) || api->get_field(t, TIFFTAG_BITSPERSAMPLE, &bits) != 1 || bits != 8 ||
        api->get_field(t, TIFFTAG_SAMPLESPERPIXEL, &samples) != 1 ||
        api->get_field(t, TIFFTAG_PHOTOMETRIC, &photometric) != 1 || photometric != PHOTOMETRIC_RGB ||
        api->get_field(t, TIFFTAG_PLANARCONFIG, &planar) != 1 || planar != PLANARCONFIG_CONTIG)
        return 0;
    if (samples == 3) return 3;
    if (samples != 4) return 0;
    std::uint16_t count = 0;
    std::uint16_t* kinds = nullptr;
    if (api->get_field(t, TIFFTAG_EXTRASAMPLES, &count, &kinds) != 1 || count != 1 || !kinds ||
        kinds[0] != EXTRASAMPLE_UNASSALPHA)
        return 0;
    return 4;
}

bool read_plain_tiff(const Tiff* api, TIFF* t, int samples, std::uint32_t width, std::uint32_t height,
                     std::uint32_t* out) {
    const tmsize_t size = api->scanline_size(t);
    if (size < static_cast<tmsize_t>(width) * samples) return false;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(size));
    for (std::uint32_t y = 0; y < height; ++y) {
        if (api->read_scanline(t, row.data(), y, 0) < 0) return false;
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint8_t* p = row.data() + std::size_t{x} * samples;
            out[std::size_t{y} * width + x] = pixel_word(p[0], p[1], p[2], samples == 4 ? p[3] : 255);
        }
    }
    return true;
}

// libtiff's general reader packs R in the low byte and premultiplies by
// alpha: turn each pixel into this service's order with straight alpha.
void straighten(std::uint32_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t px = p[i];
        const std::uint32_t a = px >> 24;
        std::uint32_t r = px & 0xFF, g = px >> 8 & 0xFF, b = px >> 16 & 0xFF;
        if (a != 0 && a != 255) {
            r = std::min<std::uint32_t>(255, (r * 255 + a / 2) / a);
            g = std::min<std::uint32_t>(255, (g * 255 + a / 2) / a);
            b = std::min<std::uint32_t>(255, (b * 255 + a / 2) / a);
        }
        p[i] = a << 24 | r << 16 | g << 8 | b;
    }
}

// A file of 16-bit samples: libpng's simplified reader takes those for
// linear light and would brighten them on the way to 8-bit sRGB. Read them
// as they are (linear output, which it premultiplies) and take straight
// 8-bit values from them.
bool read_png_16(const Png* api, png_image* image, const Sink& sink) {
    image->format = PNG_FORMAT_LINEAR_RGB_ALPHA;
    const std::size_t count = std::size_t{image->width} * image->height;
    std::vector<std::uint16_t> samples(count * 4);
    std::uint32_t* out = sink.pixels_for(image->width, image->height);
    const bool done = api->finish_read(image, nullptr, samples.data(), 0, nullptr) != 0;
    api->free(image);
    if (!done) return false;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t* p = samples.data() + 4 * i;
        const std::uint32_t a = p[3];
        const auto channel = [a](std::uint32_t v) {
            if (a == 0) return std::uint8_t{0};
            const std::uint32_t straight = std::min<std::uint32_t>(65535, (v * 65535 + a / 2) / a);
            return static_cast<std::uint8_t>((straight + 128) / 257);
        };
        out[i] = pixel_word(channel(p[0]), channel(p[1]), channel(p[2]), static_cast<std::uint8_t>((a + 128) / 257));
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Entry points.

bool png_available() { return try_load<Png>(png_library, bind_png) != nullptr; }

bool decode_png(const Bytes& bytes, const Sink& sink) {
    const Png* api = png();
    png_image image = blank_png_image();
    if (!api->begin_read(&image, bytes.data(), bytes.size())) return false;
    if (!size_ok(image.width, image.height)) {
        api->free(&image);
        return false;
    }
    if (image.format & PNG_FORMAT_FLAG_LINEAR) return read_png_16(api, &image, sink);
    image.format = PNG_FORMAT_BGRA;
    std::uint32_t* out = sink.pixels_for(image.width, image.height);
    const bool done = api->finish_read(&image, nullptr, out, 0, nullptr) != 0;
    api->free(&image);
    return done;
}

bool encode_png(const std::uint32_t* pixels, std::uint32_t width, std::uint32_t height, Bytes* out) {
    const Png* api = png();
    png_image image = blank_png_image();
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_BGRA;
    png_alloc_size_t size = 0;
    if (!api->write_to_memory(&image, nullptr, &size, 0, pixels, 0, nullptr)) return false;
    out->resize(size);
    image = blank_png_image();
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_BGRA;
    if (!api->write_to_memory(&image, out->data(), &size, 0, pixels, 0, nullptr)) return false;
    out->resize(size);
    return true;
}

bool decode_jpeg(const Bytes& bytes, const Sink& sink) {
    const Jpeg* api = jpeg();
    tjhandle h = api->init_decompress();
    if (!h) return false;
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    bool done = api->header(h, bytes.data(), bytes.size(), &width, &height, &subsampling, &colourspace) == 0 &&
                size_ok(static_cast<std::uint64_t>(std::max(width, 0)), static_cast<std::uint64_t>(std::max(height, 0)));
    if (done) {
        std::uint32_t* out = sink.pixels_for(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
        // A warning (a file cut short, say) still leaves a picture: keep it.
        done = api->decompress(h, bytes.data(), bytes.size(), reinterpret_cast<unsigned char*>(out), width, 0,
                               height, TJPF_BGRA, 0) == 0 ||
               api->error_code(h) == TJERR_WARNING;
    }
    api->destroy(h);
    return done;
}

bool encode_jpeg(const std::uint32_t* pixels, std::uint32_t width, std::uint32_t height, Bytes* out) {
    const Jpeg* api = jpeg();
    tjhandle h = api->init_compress();
    if (!h) return false;
    unsigned char* data = nullptr;
    unsigned long size = 0;
    const bool done = api->compress(h, reinterpret_cast<const unsigned char*>(pixels), static_cast<int>(width), 0,
                                    static_cast<int>(height), TJPF_BGRA, &data, &size, TJSAMP_444,
                                    jpeg_quality, 0) == 0;
    if (done) out->assign(data, data + size);
    if (data) api->free(data);
    api->destroy(h);
    return done;
}

bool decode_gif(const Bytes& bytes, const Sink& sink) {
    const Gif* api = gif();
    Reader reader{&bytes, 0};
    int error = 0;
    GifFileType* file = api->open(&reader, gif_read, &error);
    if (!file) return false;
    const bool done = decode_gif_file(api, file, sink);
    api->close(file, &error);
    return done;
}

bool encode_gif(const std::uint32_t* pixels, std::uint32_t width, std::uint32_t height, Bytes* out) {
    const Gif* api = gif();
    const Palette palette = make_palette(pixels, std::size_t{width} * height);
    ColorMapObject* map = api->make_map(static_cast<int>(palette.colours.size()), palette.colours.data());
    if (!map) return false;
    out->clear();
    int error = 0;
    GifFileType* file = api->e_open(out, gif_write, &error);
    bool done = false;
    if (file) {
        done = write_gif(api, file, pixels, width, height, palette, map);
        done = api->e_close(file, &error) == GIF_OK && done;
    }
    api->free_map(map);
    return done;
}

bool decode_tiff(const Bytes& bytes, const Sink& sink) {
    const Tiff* api = tiff();
    TiffStream stream;
    stream.in = &bytes;
    TIFF* t = open_tiff(api, &stream, "rm");
    if (!t) return false;
    std::uint32_t width = 0, height = 0;
    bool done = api->get_field(t, TIFFTAG_IMAGEWIDTH, &width) == 1 &&
                api->get_field(t, TIFFTAG_IMAGELENGTH, &height) == 1 && size_ok(width, height);
    if (done) {
        std::uint32_t* out = sink.pixels_for(width, height);
        const int samples = plain_rgb_samples(api, t);
        if (samples) {
            done = read_plain_tiff(api, t, samples, width, height, out);
        } else {
            done = api->read_rgba(t, width, height, out, ORIENTATION_TOPLEFT, 1) == 1;
            if (done) straighten(out, std::size_t{width} * height);
        }
    }
    api->close(t);
    return done;
}

bool encode_tiff(const std::uint32_t* pixels, std::uint32_t width, std::uint32_t height, Bytes* out) {
    const Tiff* api = tiff();
    out->clear();
    TiffStream stream;
    stream.out = out;
    TIFF* t = open_tiff(api, &stream, "w");
    if (!t) return false;
    const bool done = write_tiff(api, t, pixels, width, height);
    api->close(t);
    return done;
}

}  // namespace kiv::imaging::codecs
