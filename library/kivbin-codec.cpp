// The kivbin codec's routines and their binding into the codec object.
#include "library/kivbin-codec.h"

#include "library/routines.h"
#include "runtime/boot.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/memory.h"
#include "runtime/services/kivbin.h"

namespace kiv::kivbin_codec {

namespace {

using routine::Raw;

// No image fits in fewer bytes: the preamble and the two smallest header
// fields already take 10.
constexpr std::int64_t shortest_image = 11;

std::int32_t encode_star(const Raw* args) {
    const Cell data = *args[0].cell;
    kivbin::save(&data, args[1].number != 0, args[2].cell);
    return 0;
}

// A file or URL is read as binary first; only a binary is an image.
std::int32_t decode(const Raw* args) {
    Cell* payload = args[0].cell;
    Cell* out = args[1].cell;
    Cell data = *payload;
    if (data.is(Type::file) || data.is(Type::url)) {
        registry::find<Action::read>(&data)(&data, nullptr, nullptr, true, false, false, nullptr);
    }
    if (!data.is(Type::binary)) fire(ErrorId::script_invalid_data, payload);
    const std::int64_t length = binary::buffer(&data)->used_bytes() - static_cast<std::int64_t>(data.data1);
    if (length < shortest_image) fire(ErrorId::script_invalid_data, payload);
    *out = data;  // GC: keeps the bytes reachable while they are decoded
    kivbin::load(&data, out, payload);
    return 0;
}

// Named in the routine table by the codec's key, so the image codecs'
// routines of the same field names stay apart.
constexpr library_routines::Definition encode_definition{
    "kivbin/encode*", "data [any-type!] compact? [logic!]", encode_star};
constexpr library_routines::Definition decode_definition{"kivbin/decode", "payload [any-type!]", decode};

}  // namespace

void bind() {
    library_routines::set_codec_routine("kivbin", "encode*", encode_definition);
    library_routines::set_codec_routine("kivbin", "decode", decode_definition);
}

}  // namespace kiv::kivbin_codec
