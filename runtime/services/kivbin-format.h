// KIVBIN: the constants of the format that the reader and the writer share.
// See kivbin.h for the image as a whole.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::kivbin::format {

constexpr char magic[6] = {'K', 'I', 'V', 'B', 'I', 'N'};
constexpr int preamble_size = 8;  // magic, version, flags
constexpr std::uint8_t writer_version = 2;
constexpr std::uint8_t boot_version = 1;

// The flags byte.
constexpr std::uint8_t flag_compact = 1;
constexpr std::uint8_t flag_compressed = 2;
constexpr std::uint8_t flag_symbols = 4;

// Compact prefixes and tags.
constexpr std::uint8_t prefix_new_line = 0xC0;
constexpr std::uint8_t prefix_reference = 0xC1;
constexpr std::uint8_t prefix_define = 0xC4;
constexpr std::uint8_t tag_bit6 = 0x40;
constexpr std::uint8_t tag_long_id = 0x3F;  // the datatype id follows as LEB128
constexpr std::uint8_t tag_small_integer = 0x80;  // 80-BF: integer 0..63
constexpr std::uint8_t tag_true = 0xC2;
constexpr std::uint8_t tag_false = 0xC3;
constexpr std::uint8_t tag_copy = 0xFF;

// Normal record header bits.
namespace header {
constexpr std::uint32_t type_mask = 0xFF;
constexpr std::uint32_t padding = 0;      // a type of 0: a padding word
constexpr std::uint32_t reference_record = 0xFF;  // a stand-alone reference
constexpr std::uint32_t unit_shift = 8;   // strings: unit size; tuple!: length
constexpr std::uint32_t wrapped_shift = 16;  // op!: the wrapped datatype
constexpr std::uint32_t reference = 1u << 19;
constexpr std::uint32_t negative = 1u << 22;      // money!
constexpr std::uint32_t complemented = 1u << 23;  // bitset!
constexpr std::uint32_t handlers = 1u << 24;      // object!
constexpr std::uint32_t word_global = 1u << 25;   // user data: bound globally
constexpr std::uint32_t word_define = 1u << 25;   // boot image: a definition follows
constexpr std::uint32_t context_kind_shift = 26;
constexpr std::uint32_t context_self = 1u << 28;
constexpr std::uint32_t context_on_stack = 1u << 29;
constexpr std::uint32_t context_values = 1u << 30;
constexpr std::uint32_t new_line = 1u << 31;
}  // namespace header

// The flags byte of a compact context record.
namespace context_flag {
constexpr std::uint8_t kind_mask = 3;
constexpr std::uint8_t on_stack = 4;
constexpr std::uint8_t self = 8;
constexpr std::uint8_t values = 16;
}  // namespace context_flag

// The longest reference path a reader accepts.
constexpr std::uint32_t max_path_depth = 65536;
// Nesting deeper than this is refused by both sides, long before the native
// stack could run out.
constexpr int max_nesting = 10000;

// A series of the block family, whose records carry cells.
constexpr bool is_block_record(Type t) {
    switch (t) {
        case Type::block: case Type::paren: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path: case Type::hash:
            return true;
        default:
            return false;
    }
}

constexpr bool is_string_record(Type t) {
    switch (t) {
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email:
        case Type::ref:
            return true;
        default:
            return false;
    }
}

constexpr bool is_word_record(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word ||
           t == Type::refinement;
}

// The datatypes that have no codec: refused both ways.
constexpr bool is_refused(Type t) {
    return t == Type::routine || t == Type::triple || t == Type::handle || t == Type::port ||
           t == Type::event;
}

// Zigzag mapping of signed 32-bit numbers.
constexpr std::uint32_t zigzag(std::int32_t n) {
    return (static_cast<std::uint32_t>(n) << 1) ^ static_cast<std::uint32_t>(n >> 31);
}
constexpr std::int32_t unzigzag(std::uint32_t u) {
    return static_cast<std::int32_t>((u >> 1) ^ (0u - (u & 1)));
}

}  // namespace kiv::kivbin::format
