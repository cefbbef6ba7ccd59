// KIVBIN: what the image's front end (kivbin.cpp) hands the record reader
// (kivbin-decode.cpp). Not for other units.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/services/kivbin-format.h"
#include "runtime/services/kivbin.h"

namespace kiv::kivbin {

// The symbol table as the image holds it: `count` little-endian int32
// offsets into `size` bytes of NUL-terminated texts. Checked by the front
// end: the offsets and the area lie inside the image and a non-empty area
// ends with a NUL.
struct SymbolTable {
    const std::uint8_t* offsets = nullptr;
    std::uint32_t count = 0;
    const std::uint8_t* strings = nullptr;
    std::uint32_t size = 0;
};

// An image whose preamble and header were read: where its records lie.
struct Image {
    const std::uint8_t* body;        // the bytes after the preamble
    std::size_t body_offset;         // the body's position in the image
    const std::uint8_t* records;
    const std::uint8_t* records_end;
    bool compact;
    SymbolTable symbols;
};

// Reads every record into the block whose node is `root`.
void decode_records(const Image& image, NodeId root, bool user);

// Why an image was refused before its records were read.
enum class Refusal { none, magic, payload };

// Checks the preamble and decodes the records into the block of `root`; a
// refusal before the records is answered rather than raised, so start-up
// can print its own line. Faults in the records fire as `decode` says.
Refusal decode_image(const std::uint8_t* image, std::size_t length, NodeId root, bool user,
                     const Cell* data);

}  // namespace kiv::kivbin
