// image!: pixels, positions, the path fields, the codec entries, then the
// actions in action order, then the registration. See image.h.
#include "runtime/datatypes/image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/collector.h"
#include "runtime/console-output.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"
#include "runtime/services/file-io.h"

namespace kiv::image {

using imaging::pixel_word;

namespace {

constexpr std::uint32_t header_of(Type t) { return static_cast<std::uint32_t>(t); }

std::uint32_t* pixels_of(const Cell* value) { return imaging::pixels(value->data2); }
std::int64_t head_of(const Cell* value) { return series::head(value); }

// The tuple r.g.b.t of a pixel word.
Cell* pixel_tuple(std::uint32_t px, Cell* out) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(px >> 16), static_cast<std::uint8_t>(px >> 8),
                                   static_cast<std::uint8_t>(px),
                                   static_cast<std::uint8_t>(255 - (px >> 24))};
    *out = Cell{header_of(Type::tuple), 0, 0, 0};
    return tuple::make_at(out, 4, bytes);
}

// Tells the owner of the image's record of a change.
bool report(Cell* image, series::Change change, const Cell* value, std::int64_t index,
            std::int64_t count) {
    return series::check_owner(image, change, value, static_cast<std::int32_t>(index),
                               static_cast<std::int32_t>(count));
}

// ---------------------------------------------------------------------------
// Positions.

struct Position {
    std::int64_t index;  // clamped to 0 .. the pixel count
    bool out_of_range;
};

// The absolute index that a position names, counted from the current pixel:
// base 1 for pick, poke and at, base 0 for skip. An integer counts pixels,
// a pair x, y counts columns and rows.
Position position_of(const Cell* image, const Cell* pos, int base) {
    const std::int64_t w = width(image);
    const std::int64_t h = height(image);
    const std::int64_t total = w * h;
    std::int64_t n = 0;
    bool out = false;
    if (pos->is(Type::pair)) {
        const std::int64_t x = pair::x(pos);
        const std::int64_t y = pair::y(pos);
        const std::int64_t rows = base == 1 && y > 0 ? y - 1 : y;
        n = x + w * rows;
        out = base == 1 ? (x > w || x <= 0 || y > h || y <= 0) : (x >= w || x < 0 || y >= h || y < 0);
    } else if (pos->is(Type::integer)) {
        n = series::int_of(pos);
    } else {
        fire(ErrorId::script_invalid_arg, pos);
    }
    if (n == 0) out = true;
    const std::int64_t step = base == 1 && n <= 0 ? n + 1 : n;
    const std::int64_t at = head_of(image) + step - base;
    if (at < 0 || at >= total) out = true;
    return {std::clamp<std::int64_t>(at, 0, total), out};
}

// The position cell of pick and poke: the argument itself, or the index.
Cell position_arg(int index, const Cell* index_arg) {
    return index_arg ? *index_arg : integer::make_cell(index);
}

// ---------------------------------------------------------------------------
// The text of form and mold.

class Writer {
public:
    Writer(Cell* out, Cell* part_arg, int part) : out_(out), limited_(part_arg != nullptr), part_(part) {}

    void text(const char* s) {
        const std::size_t n = std::strlen(s);
        buffer_.append(s, n);
        part_ -= static_cast<int>(n);
    }
    void line(int level) {
        buffer_ += '\n';
        buffer_.append(static_cast<std::size_t>(4 * level), ' ');
        part_ -= 1 + 4 * level;
    }
    void hex(std::uint32_t byte) {
        constexpr char digits[] = "0123456789ABCDEF";
        buffer_ += digits[byte >> 4 & 15];
        buffer_ += digits[byte & 15];
        part_ -= 2;
    }
    bool spent() const { return limited_ && part_ <= 0; }
    int finish() {
        string::append_literal(out_, buffer_.c_str());
        return part_;
    }

private:
    Cell* out_;
    bool limited_;
    int part_;
    std::string buffer_;
};

// The pixel words from the index, copied out so that appending the text
// (which allocates) reads nothing from the heap.
std::vector<std::uint32_t> pixels_from_index(const Cell* value) {
    const std::int64_t total = pixel_total(value);
    const std::int64_t from = std::clamp<std::int64_t>(head_of(value), 0, total);
    const std::uint32_t* p = pixels_of(value);
    return std::vector<std::uint32_t>(p + from, p + total);
}

int serialize(Cell* value, Cell* out, bool only, bool flat, Cell* part_arg, int part, int indent) {
    Writer w(out, part_arg, part);
    if (!only) w.text("make image! [");
    w.text(integer::form_signed(static_cast<std::int32_t>(width(value))));
    w.text("x");
    w.text(integer::form_signed(static_cast<std::int32_t>(height(value))));
    if (pixel_total(value) == 0) {
        w.text(" #{}");
        if (!only) w.text("]");
        return w.finish();
    }
    const std::vector<std::uint32_t> px = pixels_from_index(value);
    const std::size_t n = px.size();
    const bool rows = !flat && n * 4 > 30;
    w.text(" #{");
    if (rows) w.line(indent + 1);
    for (std::size_t i = 0; i < n; ++i) {
        w.hex(px[i] >> 16 & 0xFF);
        w.hex(px[i] >> 8 & 0xFF);
        w.hex(px[i] & 0xFF);
        if (rows && (i + 1) % 10 == 0) w.line(indent + 1);
        if (w.spent()) return w.finish();
    }
    if (rows && n % 10 != 0) w.line(indent);
    w.text("}");
    const bool transparent = std::any_of(px.begin(), px.end(), [](std::uint32_t p) { return (p >> 24) < 255; });
    if (transparent) {
        // LINUX: under /flat the alpha block keeps to one line as well.
        w.text(" #{");
        if (!flat) w.line(indent + 1);
        for (std::size_t i = 0; i < n; ++i) {
            w.hex(255 - (px[i] >> 24));
            if (!flat && (i + 1) % 10 == 0) w.line(indent + 1);
            if (w.spent()) return w.finish();
        }
        if (!flat) w.line(indent);
        w.text("}");
    }
    if (!only) w.text("]");
    return w.finish();
}

}  // namespace

// ---------------------------------------------------------------------------
// Makers and pixel data.

Cell* make_at(Cell* cell, NodeId record, std::uint32_t w, std::uint32_t h) {
    *cell = Cell{header_of(Type::image), 0, record, imaging::pack_size(w, h)};
    return cell;
}

Cell* make_empty(Cell* cell) { return make_at(cell, imaging::alloc_record(0, 0), 0, 0); }

Cell* extract_data(const Cell* image, int mode, Cell* out) {
    const std::int64_t total = pixel_total(image);
    const std::int64_t per = mode == 0 ? 1 : mode == 1 ? 3 : 4;
    const Cell img = *image;
    binary::make_at(out, total * per);
    // GC: the pixels are read after the binary is made.
    const std::uint32_t* p = pixels_of(&img);
    memory::SeriesBuffer* b = binary::buffer(out);
    std::uint8_t* dst = b->head();
    for (std::int64_t i = 0; i < total; ++i) {
        const std::uint32_t px = p[i];
        switch (mode) {
            case 0: *dst++ = static_cast<std::uint8_t>(255 - (px >> 24)); break;
            case 1:
                *dst++ = static_cast<std::uint8_t>(px >> 16);
                *dst++ = static_cast<std::uint8_t>(px >> 8);
                *dst++ = static_cast<std::uint8_t>(px);
                break;
            default: std::memcpy(dst, &px, 4); dst += 4;
        }
    }
    b->set_tail(dst);
    return out;
}

void load_data(Cell* image, const Cell* value, int mode) {
    const std::int64_t total = pixel_total(image);
    std::uint32_t* p = pixels_of(image);
    if (value->is(Type::binary)) {
        Cell v = *value;
        const std::int64_t n = binary::ks_length(&v);
        const std::uint8_t* src = binary::ks_head(&v);
        if (mode == 2) {
            std::memcpy(p, src, static_cast<std::size_t>(std::min(n, total * 4)));
        } else if (mode == 1) {
            for (std::int64_t i = 0, k = std::min(n / 3, total); i < k; ++i)
                p[i] = (p[i] & 0xFF000000) | pixel_word(src[3 * i], src[3 * i + 1], src[3 * i + 2], 0);
        } else {
            for (std::int64_t i = 0, k = std::min(n, total); i < k; ++i)
                p[i] = (p[i] & 0x00FFFFFF) | std::uint32_t{static_cast<std::uint8_t>(255 - src[i])} << 24;
        }
    } else if (value->is(Type::tuple) || value->is(Type::integer)) {
        std::uint8_t b[4];
        int length = 4;
        if (value->is(Type::tuple)) {
            length = tuple::length(value);
            std::memcpy(b, tuple::bytes(value), 4);
        } else {
            const std::uint32_t n = value->data2;
            for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(n >> (8 * i));
        }
        const std::uint32_t a = length > 3 ? 255u - b[3] : 255u;
        for (std::int64_t i = 0; i < total; ++i) {
            if (mode == 2) p[i] = pixel_word(b[0], b[1], b[2], static_cast<std::uint8_t>(a));
            else if (mode == 1) p[i] = (p[i] & 0xFF000000) | pixel_word(b[0], b[1], b[2], 0);
            else p[i] = (p[i] & 0x00FFFFFF) | std::uint32_t{static_cast<std::uint8_t>(255 - b[0])} << 24;
        }
    } else {
        fire(ErrorId::script_invalid_arg, value);
    }
    report(image, series::Change::poke, value, 0, total);
}

// ---------------------------------------------------------------------------
// Codec entries.

namespace {

// Makes `out` the decoded image; false when no decoder took the bytes.
bool decode_bytes(const imaging::Bytes& bytes, Cell* out) {
    imaging::Decoded d;
    if (!imaging::decode(bytes, &d)) return false;
    make_at(out, d.record, d.width, d.height);
    return true;
}

// The whole content of a file, or false when it cannot be read.
bool read_file(const char* path, imaging::Bytes* out) {
    std::FILE* f = path ? std::fopen(path, "rb") : nullptr;
    if (!f) return false;
    char chunk[65536];
    std::size_t n;
    bool ok = true;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (out->size() + n > static_cast<std::size_t>(imaging::max_pixels) * 4) {
            ok = false;
            break;
        }
        out->insert(out->end(), chunk, chunk + n);
    }
    ok = ok && !std::ferror(f);
    std::fclose(f);
    return ok;
}

}  // namespace

Cell* load_binary(const Cell* binary, Cell* out) {
    Cell v = *binary;
    const std::int32_t n = binary::ks_length(&v);
    const std::uint8_t* p = binary::ks_head(&v);
    if (imaging::signature_of(p, static_cast<std::size_t>(n)) == imaging::Signature::none)
        return none::make_at(out);
    // GC: decoding allocates the record; the bytes are copied out first.
    const imaging::Bytes bytes(p, p + n);
    if (!decode_bytes(bytes, out)) fire(ErrorId::access_bad_media);
    return out;
}

Cell* load_file(Cell* file, Cell* out) {
    const Cell name = *file;
    const char* path = file_io::os_path(file);
    imaging::Bytes bytes;
    if (!read_file(path, &bytes) || !decode_bytes(bytes, out)) fire(ErrorId::access_cannot_open, &name);
    return out;
}

Cell* decode(Cell* source, Cell* out) {
    Cell data = *source;
    if (data.is(Type::url))
        registry::find<Action::read>(&data)(&data, nullptr, nullptr, true, false, false, nullptr);
    if (data.is(Type::binary)) {
        *out = data;  // GC: keeps the bytes reachable while they are read
        return load_binary(&data, out);
    }
    if (data.is(Type::file)) return load_file(&data, out);
    fire(ErrorId::script_invalid_arg, source);
}

Cell* encode(const Cell* image, std::int32_t format, Cell* out) {
    if (format < 0 || format > 4) {
        constexpr char message[] = "Cannot find image encoder";
        console_output::write_latin1_line(message, sizeof message - 1);
        return none::make_at(out);
    }
    const std::uint32_t w = width(image);
    const std::uint32_t h = height(image);
    if (w == 0 || h == 0) fire(ErrorId::access_bad_media);
    imaging::Bytes bytes;
    if (!imaging::encode(image->data2, w, h, static_cast<imaging::Format>(format), &bytes))
        fire(ErrorId::access_bad_media);
    return binary::load_at(out, bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

// ---------------------------------------------------------------------------
// Actions.

namespace {

Cell path_result;

Cell* copy(Cell* value, Cell* result, Cell* part, bool, Cell*);

Cell* to(Cell*, Cell* spec, Type) {
    if (!spec->is(Type::image)) registry::fire_bad_to(Type::image, spec);
    Cell source = *spec;
    return copy(&source, spec, nullptr, false, nullptr);
}

// A side of a size: negative counts as 0; above the largest side fires
// script invalid-arg with the spec.
std::uint32_t side(std::int32_t n, const Cell* spec) {
    if (n < 0) return 0;
    if (static_cast<std::uint32_t>(n) > imaging::max_side) fire(ErrorId::script_invalid_arg, spec);
    return static_cast<std::uint32_t>(n);
}

Cell* make_sized(Cell* out, const Cell* size, const Cell* rgb, const Cell* alpha, const Cell* colour,
                 const Cell* spec) {
    const std::uint32_t w = side(pair::x(size), spec);
    const std::uint32_t h = side(pair::y(size), spec);
    if (w == 0 || h == 0) return make_empty(out);
    const NodeId record = imaging::make(w, h, rgb, alpha, colour);
    return make_at(out, record, w, h);
}

Cell* make(Cell* proto, Cell* spec, Type type) {
    if (spec->is(Type::pair)) return make_sized(proto, spec, nullptr, nullptr, nullptr, spec);
    if (!spec->is(Type::block)) return to(proto, spec, type);
    const Cell s = *spec;
    const std::int32_t n = block::ks_length(spec);
    if (n == 0) {
        if (!proto->is(Type::image)) fire(ErrorId::script_invalid_arg, &s);
        Cell source = *proto;
        return copy(&source, proto, nullptr, false, nullptr);
    }
    // GC: the elements are copied out of the block before anything allocates.
    const Cell* first = block::ks_abs_at(&s, series::head(&s));
    const Cell size = first[0];
    const Cell second = n > 1 ? first[1] : none::value;
    const Cell third = n > 2 ? first[2] : none::value;
    if (!size.is(Type::pair)) fire(ErrorId::script_invalid_arg, &s);
    if (n > 1 && !second.is(Type::binary) && !second.is(Type::tuple)) fire(ErrorId::script_invalid_arg, &s);
    if (n > 2 && !third.is(Type::binary)) fire(ErrorId::script_invalid_arg, &s);
    Cell* out = proto;
    *out = s;  // GC: keeps the block, and so its binaries, reachable
    return make_sized(out, &size, second.is(Type::binary) ? &second : nullptr,
                      third.is(Type::binary) ? &third : nullptr, second.is(Type::tuple) ? &second : nullptr, &s);
}

int form(Cell* value, Cell* buffer, Cell* part_arg, int part) {
    return serialize(value, buffer, false, false, part_arg, part, 0);
}

int mold(Cell* value, Cell* buffer, bool only, bool, bool flat, Cell* part_arg, int part, int indent) {
    return serialize(value, buffer, only, flat, part_arg, part, indent);
}

Cell* pick(Cell* series, int index, Cell* index_arg);
Cell* poke(Cell* series, int index, Cell* value, Cell* index_arg);

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int, bool, bool, bool,
                bool) {
    if (element->is(Type::integer) || element->is(Type::pair)) {
        if (value) {
            poke(parent, 0, value, element);
            return value;
        }
        return pick(parent, 0, element);
    }
    int mode = -1;
    if (words::is(element, words::Sym::argb)) mode = 2;
    else if (words::is(element, words::Sym::rgb)) mode = 1;
    else if (words::is(element, words::Sym::alpha)) mode = 0;
    const bool size = words::is(element, words::Sym::size);
    if (!element->is(Type::word) || (mode < 0 && !size) || (size && value))
        fire(ErrorId::script_invalid_path, path, element);
    if (size) {
        path_result = pair::make_cell(static_cast<std::int32_t>(width(parent)),
                                      static_cast<std::int32_t>(height(parent)));
        return &path_result;
    }
    if (value) {
        load_data(parent, value, mode);
        return value;
    }
    return extract_data(parent, mode, &path_result);
}

bool equality_op(CompareOp op) {
    switch (op) {
        case CompareOp::equal: case CompareOp::not_equal: case CompareOp::strict_equal:
        case CompareOp::sort: case CompareOp::sort_case: case CompareOp::find:
        case CompareOp::strict_word: case CompareOp::equal_word:
            return true;
        default:
            return false;
    }
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(Type::image)) return not_comparable;
    const bool same = value1->data2 == value2->data2 && value1->data1 == value2->data1;
    if (op == CompareOp::same) return same ? 0 : -1;
    if (!equality_op(op)) return not_comparable;
    if (same && op <= CompareOp::strict_equal) return 0;
    const std::int64_t n1 = pixel_total(value1);
    const std::int64_t n2 = pixel_total(value2);
    if (n1 != n2) return n1 < n2 ? -1 : 1;
    if (n1 == 0) return 0;
    const int d = std::memcmp(pixels_of(value1), pixels_of(value2), static_cast<std::size_t>(n1) * 4);
    return (d > 0) - (d < 0);
}

Cell* at(Cell* series, Cell* index) {
    series::set_head(series, position_of(series, index, 1).index);
    return series;
}

// Change of pixels from a tuple (one pixel) or an image (a block of rows).
Cell* change(Cell* series, Cell* value, int part, bool, int dup) {
    if (part >= 0 || dup > 1) fire(ErrorId::internal_not_done);
    const std::int64_t w = width(series);
    const std::int64_t total = pixel_total(series);
    const std::int64_t h0 = head_of(series);
    if (value->is(Type::tuple)) {
        if (h0 < 0 || h0 >= total) fire(ErrorId::script_out_of_range, series);
        const bool owned = report(series, series::Change::change, value, h0, 1);
        pixels_of(series)[h0] = imaging::tuple_pixel(value);
        series::set_head(series, h0 + 1);
        series::report_owner(owned, series, series::Change::change, static_cast<std::int32_t>(h0), 1);
        return series;
    }
    if (!value->is(Type::image)) {
        Cell type;
        registry::make_datatype(&type, value->type());
        fire(ErrorId::script_invalid_type, &type);
    }
    if (h0 < 0 || h0 >= total) return series;
    const bool owned = report(series, series::Change::change, value, h0, 0);
    const std::int64_t sw = width(value);
    const std::int64_t sh = height(value);
    const std::vector<std::uint32_t> source(pixels_of(value), pixels_of(value) + sw * sh);
    const std::int64_t x = h0 % w;
    const std::int64_t y = h0 / w;
    const std::int64_t columns = std::min(sw, w - x);
    const std::int64_t rows = std::min(sh, total / w - y);
    std::uint32_t* p = pixels_of(series);
    for (std::int64_t r = 0; r < rows && columns > 0; ++r)
        std::memcpy(p + (y + r) * w + x, source.data() + r * sw, static_cast<std::size_t>(columns) * 4);
    if (rows > 0 && columns > 0) series::set_head(series, (y + rows - 1) * w + std::min(x + sw, w));
    series::report_owner(owned, series, series::Change::change, static_cast<std::int32_t>(h0),
                         static_cast<std::int32_t>(std::max<std::int64_t>(rows * columns, 0)));
    return series;
}

// The region (x, y, w, h) of a copy, or an empty one.
struct Region {
    std::int64_t x = 0, y = 0, w = 0, h = 0;
};

// One side of a copy that extends left or up from `at` by `extent`; an
// `at` of 0 counts from the far edge.
void backward(std::int64_t at, std::int64_t extent, std::int64_t edge, std::int64_t* start, std::int64_t* size) {
    if (at == 0) at = edge;
    if (extent > at) {
        *size = at;
        *start = 0;
    } else {
        *size = extent;
        *start = at - extent;
    }
}

Region region_of(const Cell* value, const Cell* part) {
    const std::int64_t w = width(value);
    const std::int64_t h = height(value);
    const std::int64_t total = w * h;
    const std::int64_t at = std::clamp<std::int64_t>(head_of(value), 0, total);
    const std::int64_t x = at % w;
    const std::int64_t y = at / w;
    Region r;
    if (!part) {
        if (at == 0) return Region{0, 0, w, h};
        return Region{x, y, w - x, h - y};
    }
    if (part->is(Type::integer)) fire(ErrorId::internal_not_done);
    if (part->is(Type::pair)) {
        const std::int64_t pw = pair::x(part);
        const std::int64_t ph = pair::y(part);
        if (pw >= 1 && ph >= 1 && at < total) return Region{x, y, std::min(pw, w - x), std::min(ph, h - y)};
        if (pw < 0 && ph < 0 && at > 0) {
            backward(x, -pw, w, &r.x, &r.w);
            backward(y < h ? y + 1 : y, -ph, h, &r.y, &r.h);
        }
        return r;
    }
    if (part->is(Type::image) && part->data2 == value->data2) {
        const std::int64_t other = std::clamp<std::int64_t>(head_of(part), 0, total);
        const std::int64_t lo = std::min(at, other);
        const std::int64_t hi = std::max(at, other);
        return Region{lo % w, lo / w, hi % w - lo % w, hi / w - lo / w};
    }
    series::fire_refine_arg(words::Ref::part, part);
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool, Cell*) {
    if (width(value) == 0 || height(value) == 0) {
        if (part && part->is(Type::integer)) fire(ErrorId::internal_not_done);
        return make_empty(result);
    }
    const Region r = region_of(value, part);
    if (r.w < 1 || r.h < 1) return make_empty(result);
    const Cell source = *value;
    const NodeId record = imaging::copy_region(source.data2, width(&source), static_cast<std::uint32_t>(r.x),
                                               static_cast<std::uint32_t>(r.y), static_cast<std::uint32_t>(r.w),
                                               static_cast<std::uint32_t>(r.h));
    return make_at(result, record, static_cast<std::uint32_t>(r.w), static_cast<std::uint32_t>(r.h));
}

int length_q(Cell* series) { return static_cast<int>(pixel_total(series)); }

Cell* next(Cell* series) {
    if (head_of(series) < pixel_total(series)) series::set_head(series, head_of(series) + 1);
    return series;
}

Cell* pick(Cell* series, int index, Cell* index_arg) {
    const Cell pos = position_arg(index, index_arg);
    const Position p = position_of(series, &pos, 1);
    if (p.out_of_range) return none::make_at(series);
    return pixel_tuple(pixels_of(series)[p.index], series);
}

Cell* poke(Cell* series, int index, Cell* value, Cell* index_arg) {
    const Cell pos = position_arg(index, index_arg);
    const Position p = position_of(series, &pos, 1);
    if (p.out_of_range) fire(ErrorId::script_out_of_range, &pos);
    if (!value->is(Type::tuple)) fire(ErrorId::script_invalid_arg, value);
    imaging::set_pixel(series->data2, p.index, imaging::tuple_pixel(value));
    report(series, series::Change::poke, value, p.index, 1);
    return value;
}

Cell* skip(Cell* series, Cell* offset) {
    series::set_head(series, position_of(series, offset, 0).index);
    return series;
}

Cell* tail(Cell* series) {
    series::set_head(series, pixel_total(series));
    return series;
}

Cell* tail_q(Cell* series) { return logic::make_at(series, head_of(series) >= pixel_total(series)); }

constexpr ActionRow actions{
    .make = make,
    .to = to,
    .form = form,
    .mold = mold,
    .eval_path = eval_path,
    .compare = compare,
    .at = at,
    .back = inherit,
    .change = change,
    .copy = copy,
    .head = inherit,
    .head_q = inherit,
    .index_q = inherit,
    .length_q = length_q,
    .next = next,
    .pick = pick,
    .poke = poke,
    .skip = skip,
    .tail = tail,
    .tail_q = tail_q,
    .modify = inherit,
};

}  // namespace

void init() {
    path_result = none::value;
    collector::register_root_cell(&path_result);
    registry::register_type(Type::image, Type::series, "image!", actions);
}

}  // namespace kiv::image
