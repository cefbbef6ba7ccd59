// The image codecs' routines and their binding into the codec objects.
#include "library/image-codecs.h"

#include "library/routines.h"
#include "runtime/boot.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"

namespace kiv::image_codecs {

namespace {

using routine::Raw;

// Encodes the image in the format of the code; a file! or url! destination
// is written and answered, anything else gets the bytes.
template <std::int32_t Format>
std::int32_t encode(const Raw* args) {
    const Cell img = *args[0].cell;
    Cell where = *args[1].cell;
    Cell* out = args[2].cell;
    image::encode(&img, Format, out);
    if (where.is(Type::file) || where.is(Type::url)) {
        Cell data = *out;
        registry::find<Action::write>(&where)(&where, &data, true, false, false, false, nullptr, nullptr,
                                              nullptr, nullptr);
        *out = *args[1].cell;
    }
    return 0;
}

std::int32_t decode(const Raw* args) {
    image::decode(args[0].cell, args[1].cell);
    return 0;
}

constexpr const char* encode_spec = "img [image!] where [any-type!]";

struct Codec {
    const char* key;
    library_routines::Definition encode;
};

// ORDER CODECS: the registry order of system/codecs.
constexpr Codec codecs[] = {
    {"png", {"png/encode", encode_spec, encode<1>}},
    {"jpeg", {"jpeg/encode", encode_spec, encode<3>}},
    {"bmp", {"bmp/encode", encode_spec, encode<0>}},
    {"gif", {"gif/encode", encode_spec, encode<2>}},
    {"tiff", {"tiff/encode", encode_spec, encode<4>}},
};
constexpr library_routines::Definition decode_definition{"image/decode", "data [any-type!]", decode};

}  // namespace

void bind() {
    for (const Codec& c : codecs) {
        library_routines::set_codec_routine(c.key, "encode", c.encode);
        library_routines::set_codec_routine(c.key, "decode", decode_definition);
    }
}

}  // namespace kiv::image_codecs
