// The clipboard. See clipboard.h for the contract.
//
// The store holds one content, as the clipboard's formats would: text, a
// list of file names or an image, or nothing. An image is kept as the two
// formats a display clipboard is given: PNG bytes (left out when libpng is
// missing) and a 32-bit top-down bitmap with alpha; reading prefers the
// PNG. A write prepares the whole new content first and swaps it in only
// when every value was accepted, so a refused value leaves the old content
// in place.
#include "runtime/services/clipboard.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "library/routines.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/fire.h"
#include "runtime/services/imaging.h"

namespace kiv::clipboard {

namespace {

struct Content {
    enum class Kind { empty, text, files, image };
    Kind kind = Kind::empty;
    std::u32string text;
    std::vector<std::u32string> files;
    imaging::Bytes png;
    imaging::Bytes bitmap;
};

// GC: code points and paths, never cells, so the store needs no root.
Content store;

// The code points of a string-layout value from its index.
std::u32string code_points(const Cell* value) {
    Cell v = *value;
    const std::int32_t length = string::ks_length(&v);
    const std::uint8_t* p = string::ks_head(&v);
    const std::uint32_t unit = string::buffer(&v)->unit();
    std::u32string out;
    out.reserve(static_cast<std::size_t>(length));
    for (std::int32_t i = 0; i < length; ++i) out.push_back(string::get_char(p + i * unit, unit));
    return out;
}

// Makes `out` a value of `type` in the string layout holding the code
// points, in the narrowest unit that holds them all, as loading would.
// GC: allocates; `out` must be a cell the collector scans.
Cell* make_text(Cell* out, const std::u32string& text, Type type) {
    std::uint32_t unit = 1;
    for (char32_t cp : text) unit = std::max(unit, string::unit_for(cp));
    string::make_at_unit(out, static_cast<std::int64_t>(text.size()), unit);
    memory::SeriesBuffer* b = string::buffer(out);
    for (std::size_t i = 0; i < text.size(); ++i)
        b = string::overwrite_char(b, static_cast<std::int64_t>(i), text[i]);
    out->set_type(type);
    return out;
}

// The text as read back: up to its first NUL, each CR before an LF dropped.
std::u32string text_as_read(const std::u32string& text) {
    std::u32string out;
    const std::size_t end = std::min(text.find(U'\0'), text.size());
    for (std::size_t i = 0; i < end; ++i)
        if (!(text[i] == U'\r' && i + 1 < end && text[i + 1] == U'\n')) out.push_back(text[i]);
    return out;
}

// The operating system's form of each file! or string! of the block, from
// its index; any other value fires invalid-arg before anything is changed.
// GC: converting allocates and may move the block's buffer, so each value
// is copied out of it by position first.
std::vector<std::u32string> os_paths(const Cell* data) {
    Cell list = *data;
    const std::int32_t head = static_cast<std::int32_t>(list.data1);
    const std::int32_t length = std::max(block::ks_length(&list), 0);
    for (std::int32_t i = 0; i < length; ++i) {
        const Cell value = *block::ks_abs_at(&list, head + i);
        if (!value.is(Type::file) && !value.is(Type::string)) fire(ErrorId::script_invalid_arg, &value);
    }
    std::vector<std::u32string> paths;
    for (std::int32_t i = 0; i < length; ++i) {
        Cell value = *block::ks_abs_at(&list, head + i);
        Cell os;
        string::make_at(&os, 0);
        file::convert_to_os_path(&value, &os, false);
        paths.push_back(code_points(&os));
    }
    return paths;
}

// The image's two clipboard formats; nothing for an image without pixels.
void prepare_image(const Cell* data, Content* prepared) {
    const std::uint32_t w = image::width(data);
    const std::uint32_t h = image::height(data);
    if (w == 0 || h == 0) return;
    prepared->kind = Content::Kind::image;
    if (imaging::codecs::png_available())
        imaging::encode(data->data2, w, h, imaging::Format::png, &prepared->png);
    imaging::bmp::encode(imaging::pixels(data->data2), w, h, true, &prepared->bitmap);
}

// The stored image: the PNG when there is one, else the bitmap; none when
// neither decodes.
void read_image(const Content& content, Cell* result) {
    imaging::Decoded decoded;
    if ((!content.png.empty() && imaging::decode(content.png, &decoded)) ||
        imaging::decode_dib(content.bitmap, &decoded))
        image::make_at(result, decoded.record, decoded.width, decoded.height);
    else
        none::make_at(result);
}

}  // namespace

void read(Cell* result) {
    const Content& content = store;
    switch (content.kind) {
        case Content::Kind::empty:
            none::make_at(result);
            return;
        case Content::Kind::text:
            make_text(result, text_as_read(content.text), Type::string);
            return;
        case Content::Kind::files:
            // LINUX: a path is the file's own text, so it becomes the file!
            // unchanged; rewriting it as a local path would turn a ":" or
            // "\" in a Linux name into a separator.
            block::make_at(result, static_cast<std::int64_t>(content.files.size()));
            for (const std::u32string& path : content.files) {
                Cell file;
                make_text(&file, path, Type::file);
                block::ks_append(result, &file);
            }
            return;
        case Content::Kind::image:
            read_image(content, result);
            return;
    }
}

bool write(Cell* data) {
    Content prepared;
    switch (data->type()) {
        case Type::none:
            break;
        case Type::string:
            prepared.kind = Content::Kind::text;
            prepared.text = code_points(data);
            break;
        case Type::block:
            prepared.kind = Content::Kind::files;
            prepared.files = os_paths(data);
            break;
        case Type::image:
            prepare_image(data, &prepared);
            break;
        default:
            fire(ErrorId::script_invalid_arg, data);
    }
    store = std::move(prepared);
    return true;
}

void init() { library_routines::clipboard = {read, write}; }

}  // namespace kiv::clipboard
