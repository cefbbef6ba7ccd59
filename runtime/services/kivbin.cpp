// KIVBIN: the image's front end (preamble, decompression, headers and
// symbol table) and the codec entry of load. The records themselves are
// read in kivbin-decode.cpp and written in kivbin-encode.cpp; the boot
// image is loaded in kivbin-boot.cpp.
#include "runtime/services/kivbin.h"

#include <cstring>
#include <memory>
#include <string>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/none.h"
#include "runtime/fire.h"
#include "runtime/lz.h"
#include "runtime/memory.h"
#include "runtime/services/kivbin-internal.h"

namespace kiv::kivbin {

namespace {

using namespace format;

[[noreturn]] void fire_invalid_at(const std::uint8_t* at, const std::uint8_t* body,
                                  std::size_t body_offset) {
    const auto position = static_cast<std::int32_t>(at - body + body_offset + 1);
    const Cell arg{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(position), 0};
    fire(ErrorId::script_kb_invalid_record, &arg);
}

// Reads the header fields after the preamble, each read bounded.
struct Cursor {
    const std::uint8_t* p;
    const std::uint8_t* end;
    const std::uint8_t* body;
    std::size_t body_offset;

    [[noreturn]] void invalid(const std::uint8_t* at) const { fire_invalid_at(at, body, body_offset); }
    std::size_t left() const { return static_cast<std::size_t>(end - p); }
    std::uint32_t leb() {
        const std::uint8_t* at = p;
        std::uint32_t v = 0;
        for (int i = 0; i < 5; ++i) {
            if (p >= end) invalid(at);
            const std::uint8_t b = *p++;
            if (i == 4 && (b & 0xF0)) invalid(at);
            v |= static_cast<std::uint32_t>(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        invalid(at);
    }
    std::uint32_t word() {
        if (left() < 4) invalid(p);
        const std::uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
        p += 4;
        return v;
    }
    std::uint32_t field(bool compact) { return compact ? leb() : word(); }
};

// The symbol table, then the records area: checks both fit.
void read_tables(Cursor& c, bool compact, bool symbols, std::uint32_t records_size, Image& image) {
    const std::uint8_t* at = c.p;
    if (symbols) {
        const std::uint32_t count = c.field(compact);
        const std::uint32_t size = c.field(compact);
        if (count > c.left() / 4 || size > c.left() - 4 * std::size_t{count}) c.invalid(at);
        image.symbols.offsets = c.p;
        image.symbols.count = count;
        image.symbols.strings = c.p + 4 * std::size_t{count};
        image.symbols.size = size;
        if (size > 0 && image.symbols.strings[size - 1] != 0) c.invalid(at);
        c.p += 4 * std::size_t{count} + size;
    }
    if (records_size > c.left()) c.invalid(at);
    image.records = c.p;
    image.records_end = c.p + records_size;
}

// Reads the header of the body (decompressed when it was packed).
Image read_header(const std::uint8_t* body, std::size_t length, std::uint8_t flags, const Cell* data) {
    Image image{body, preamble_size, nullptr, nullptr, (flags & flag_compact) != 0, {}};
    Cursor c{body, body + length, body, preamble_size};
    if (!image.compact && length < 8) {
        const Cell arg = data ? *data : none::value;
        fire(ErrorId::script_invalid_data, &arg);
    }
    c.field(image.compact);  // the record count says nothing the records do not
    const std::uint32_t records_size = c.field(image.compact);
    read_tables(c, image.compact, (flags & flag_symbols) != 0, records_size, image);
    return image;
}

struct LzBuffer {
    void operator()(std::uint8_t* p) const { lz::free_buffer(p); }
};

}  // namespace

Refusal decode_image(const std::uint8_t* image, std::size_t length, NodeId root, bool user,
                     const Cell* data) {
    if (length < preamble_size || std::memcmp(image, magic, sizeof magic) != 0) return Refusal::magic;
    const std::uint8_t flags = image[7];
    const std::uint8_t* body = image + preamble_size;
    std::size_t body_length = length - preamble_size;
    std::unique_ptr<std::uint8_t, LzBuffer> unpacked;
    if (flags & flag_compressed) {
        unpacked.reset(lz::decompress(body, body_length, &body_length));
        if (!unpacked) return Refusal::payload;
        body = unpacked.get();
    }
    decode_records(read_header(body, body_length, flags, data), root, user);
    return Refusal::none;
}

void decode(const std::uint8_t* image, std::size_t length, Cell* target, bool from_language,
            const Cell* data) {
    const NodeId root = target->data2;
    if (decode_image(image, length, root, from_language, data) != Refusal::none) {
        const Cell arg = data ? *data : none::value;
        fire(ErrorId::script_invalid_data, &arg);
    }
}

Cell* load(const Cell* binary, Cell* out, const Cell* payload) {
    const Cell data = *binary;
    const Cell named = payload ? *payload : data;
    Cell block;
    block::make_at(&block, 1);
    *out = block;  // GC: the block is reachable from `out` while decoding
    memory::SeriesBuffer* b = binary::buffer(&data);
    std::int64_t head = static_cast<std::int32_t>(data.data1);
    if (head < 0) head = 0;
    if (head > b->used_bytes()) head = b->used_bytes();
    // GC: decoding may collect; the binary's buffer is pinned by the
    // pointer held here, and nothing writes to it.
    const std::uint8_t* bytes = b->head() + head;
    decode(bytes, b->used_bytes() - static_cast<std::size_t>(head), out, true, &named);
    const Cell result = *out;
    if (block::buffer(&result)->length() == 1) *out = block::buffer(&result)->cells()[0];
    return out;
}

}  // namespace kiv::kivbin
