// The services the system natives hand their work to when those services
// live in units of their own: the deflate codecs of compress and
// decompress, and the event loop of a live terminal interface. A service
// sets its entries at start-up; while a codec is unset the native that
// needs it fires internal feature-na.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kiv::natives_system {

// The framings of compress and decompress, by the method word.
enum class Codec : int { zlib = 0, deflate = 1, gzip = 2 };

enum class CodecResult : int {
    ok = 0,
    too_small = 1,  // the output room was too small; *size holds the room needed
    failed = 2,
};

struct CodecService {
    // Writes the compressed form of n bytes into `out` (room *size) and sets
    // *size to the bytes written.
    CodecResult (*compress)(Codec codec, const std::uint8_t* in, std::size_t n, std::uint8_t* out,
                            std::size_t* size) = nullptr;
    // Writes the decompressed form into `out` (room *size) and sets *size to
    // the bytes written; with a null `out` only measures, setting *size to
    // the decompressed size.
    CodecResult (*decompress)(Codec codec, const std::uint8_t* in, std::size_t n,
                              std::uint8_t* out, std::size_t* size) = nullptr;
};
extern CodecService codec_service;

using CodecFn = CodecResult (*)(Codec codec, const std::uint8_t* in, std::size_t n,
                                std::uint8_t* out, std::size_t* size);

// Runs a codec over n bytes into a new binary! in `out`: first with `room`
// bytes, then once more with the room the codec asks for when that was too
// small. Any other failure, or a second one, fires script invalid-data with
// `data`. Allocates.
void run_codec(CodecFn fn, Codec codec, const std::uint8_t* in, std::size_t n, std::size_t room,
               Cell* out, const Cell* data);

// One pass of the terminal user interface's event loop, which `wait` runs
// after sleeping; set by that interface while it is live.
extern void (*wait_events)();

}  // namespace kiv::natives_system
