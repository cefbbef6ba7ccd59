// The text and byte natives: percent coding (dehex, enhex), the binary
// bases (debase, enbase), case changes (uppercase, lowercase) and checksum.
// They allocate their results; the coders themselves run over raw bytes
// read after the last allocation.
#include <cstring>
#include <string>

#include "runtime/case-folding.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/evaluator/checksum.h"
#include "runtime/evaluator/natives-args.h"
#include "runtime/evaluator/natives.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/typed-print.h"

namespace kiv::natives {

namespace {

// The base of debase and enbase: 64 unless /base gives 64, 58, 16 or 2.
int base_arg(const std::int32_t* args) {
    const Cell* base = ref_arg(args, 1);
    if (!base) return 64;
    const std::int32_t n = integer::get(base);
    if (n != 64 && n != 58 && n != 16 && n != 2) natives_args::fire_invalid_arg(base);
    return n;
}

// The characters enbase reserves for n input bytes, or -1 when that does
// not fit a signed 32-bit size.
std::int64_t enbase_room(int base, std::int64_t n) {
    std::int64_t room;
    switch (base) {
        case 58: room = n * 2; break;
        case 16: room = n * 2 + n / 32 + 32; break;
        case 2: room = n * 8 + (n / 8) * 2 + 4; break;
        default: room = (n / 3) * 4 + ((n % 3) * 4) / 3 + (n / 32) * 2 + 5; break;
    }
    return room > INT32_MAX ? -1 : room;
}

using Encoder = std::uint8_t* (*)(std::uint8_t*, const std::uint8_t*, std::int64_t);
using Decoder = NodeId (*)(const std::uint8_t*, std::int64_t, int);

Encoder encoder_of(int base) {
    switch (base) {
        case 58: return binary::encode_58;
        case 16: return binary::encode_16;
        case 2: return binary::encode_2;
        default: return binary::encode_64;
    }
}

Decoder decoder_of(int base) {
    switch (base) {
        case 58: return binary::decode_58;
        case 16: return binary::decode_16;
        case 2: return binary::decode_2;
        default: return binary::decode_64;
    }
}

// The bytes a string (UTF-8 from its index) or a binary (from its index)
// stands for. A binary's bytes are copied: the caller allocates before it
// reads them.
std::string bytes_of(Cell* value) {
    if (value->is(Type::binary)) {
        const std::int32_t n = binary::ks_length(value);
        return std::string(reinterpret_cast<const char*>(binary::ks_head(value)),
                           static_cast<std::size_t>(n));
    }
    return string::to_utf8(value);
}

checksum::Bytes view(const std::string& s) {
    return checksum::Bytes(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

[[noreturn]] void fire_with_refinement(const Cell* value) {
    Cell with;
    words::refinement(words::Ref::with, &with);
    fire(ErrorId::script_invalid_refine_arg, &with, value);
}

// The checksum method of a word, or -1.
int method_of(const Cell* word) {
    for (int i = 0; i < checksum::method_count; ++i) {
        const auto m = static_cast<checksum::Method>(i);
        if (natives_args::spelled_q(word, checksum::method_word(m))) return i;
    }
    return -1;
}

Cell* make_binary(Cell* out, checksum::Bytes bytes) {
    return binary::load_at(out, bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

// Replaces a file! by its content, read whole as binary.
void read_file(Cell* data) {
    if (!file::services.read) fire(ErrorId::internal_not_done);
    Cell read;
    none::make_at(&read);
    file::services.read(data, nullptr, nullptr, true, false, &read);
    *data = read;
}

// The integer checksums: CRC-32, the TCP checksum and Adler-32.
std::uint32_t sum_of(checksum::Method method, checksum::Bytes bytes) {
    switch (method) {
        case checksum::Method::crc32: return checksum::crc32(bytes);
        case checksum::Method::tcp: return checksum::tcp_checksum(bytes);
        default: return checksum::adler32(bytes);
    }
}

Status change_case(const std::int32_t* args, bool upper) {
    Cell part_word;
    words::refinement(words::Ref::part, &part_word);
    case_folding::change_case(arg(0), ref_arg(args, 1), &part_word, upper);
    return Status::ok;
}

}  // namespace

namespace entries {

Status dehex(const std::int32_t*, std::int32_t) {
    Cell out;
    string::make_at(&out, string::ks_abs_length(arg(0)));
    url::decode_text(arg(0), &out);
    *arg(0) = out;
    return Status::ok;
}

Status enhex(const std::int32_t*, std::int32_t) {
    Cell out;
    string::make_at(&out, string::ks_abs_length(arg(0)));
    url::encode_text(arg(0), &out);
    *arg(0) = out;
    return Status::ok;
}

Status debase(const std::int32_t* args, std::int32_t) {
    Cell* value = arg(0);
    const int base = base_arg(args);
    const Cell text = *value;
    none::make_at(value);
    Cell source = text;
    const std::int32_t count = string::ks_length(&source);
    const NodeId node = decoder_of(base)(string::ks_head(&source), count,
                                         static_cast<int>(string::buffer(&source)->unit()));
    if (node) *value = Cell{static_cast<std::uint32_t>(Type::binary), 0, node, 0};
    return Status::ok;
}

Status enbase(const std::int32_t* args, std::int32_t) {
    Cell* value = arg(0);
    const int base = base_arg(args);
    const std::string input = bytes_of(value);
    const auto n = static_cast<std::int64_t>(input.size());
    const std::int64_t room = enbase_room(base, n);
    if (room < 0) fire(ErrorId::script_too_long);
    Cell out;
    string::make_at(&out, std::max(room, binary::encoded_size(base, n)));
    memory::SeriesBuffer* b = string::buffer(&out);
    std::uint8_t* end =
        encoder_of(base)(b->head(), reinterpret_cast<const std::uint8_t*>(input.data()), n);
    b->set_tail(end);
    *value = out;
    return Status::ok;
}

Status uppercase(const std::int32_t* args, std::int32_t) {
    return change_case(args, true);
}
Status lowercase(const std::int32_t* args, std::int32_t) {
    return change_case(args, false);
}

Status checksum(const std::int32_t* args, std::int32_t) {
    Cell* data = arg(0);
    if (data->is(Type::file)) read_file(data);
    if (!data->is(Type::binary) && !string::is_any_string(data->type()))
        natives_args::fire_invalid_arg(data);
    const Cell* method_word = arg(1);
    const int code = method_of(method_word);
    if (code < 0) natives_args::fire_invalid_arg(method_word);
    const auto method = static_cast<checksum::Method>(code);
    const bool plain_sum = method == checksum::Method::crc32 || method == checksum::Method::tcp ||
                           method == checksum::Method::adler32;
    const Cell* spec = ref_arg(args, 1);
    if (spec && plain_sum) fire_with_refinement(method_word);
    const std::string bytes = bytes_of(data);
    if (plain_sum) {
        *data = integer::make_cell(static_cast<std::int32_t>(sum_of(method, view(bytes))));
        return Status::ok;
    }
    if (!spec) {
        if (method == checksum::Method::hash) fire_with_refinement(method_word);
        make_binary(data, checksum::digest(method, view(bytes)).view());
        return Status::ok;
    }
    if (spec->is(Type::integer)) {
        print_line({TypedItem::of_text("** /hash support not yet implemented; algorithm TBD.")});
        *data = integer::make_cell(0);
        return Status::ok;
    }
    if (!spec->is(Type::binary) && !string::is_any_string(spec->type()))
        natives_args::fire_invalid_arg(spec);
    if (method == checksum::Method::hash) fire_with_refinement(spec);
    Cell key_value = *spec;
    const std::string key = bytes_of(&key_value);
    make_binary(data, checksum::hmac(method, view(bytes), view(key)).view());
    return Status::ok;
}

}  // namespace entries

}  // namespace kiv::natives
