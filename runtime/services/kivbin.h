// KIVBIN: the binary image of language values.
//
// An image is the preamble ("KIVBIN", a version byte, a flags byte), a
// mode-specific header, an optional symbol table and the records. Compact
// mode writes byte records (a tag byte, LEB128 and zigzag numbers); normal
// mode writes records of little-endian 32-bit words with a header word. The
// bytes after the preamble may be LZ-compressed (lz.h). Words, issues and
// context fields name their symbols by index into the image's table, so an
// image does not depend on the symbol ids of the run that wrote it.
//
// A series, context or function met a second time while writing is written
// as a reference: the path of indexes that leads to its first occurrence
// from the block that receives the decoded records. So cycles end and
// sharing survives the round trip.
//
// Two kinds of images: user data (what `save` and `load` exchange: one
// top-level value) and the boot image (a stream of top-level records that
// start-up decodes into its root block; its words may name contexts by root
// index and its C4 records define words).
//
// Decoding trusts nothing: every read is bounded by the image's end, every
// symbol index, context index, length and path step is checked, and a fault
// fires script `kb-invalid-record` with the 1-based byte position of the
// record being read (positions in a compressed image count in the
// decompressed bytes, as if the image had been written uncompressed).
//
// GC: decoding allocates and may collect; every value it makes is reachable
// from the target block (or from the C++ stack) at every allocation.
// Encoding reads the value without allocating until the finished image is
// copied into a new binary!.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kiv::kivbin {

// What an encoder writes.
enum class Mode : std::uint8_t { normal, compact };

// Decodes a whole image of `length` bytes, appending its top-level records
// to the block value `target`. `from_language` selects the user-data rules;
// clear, the boot-image rules (C4 definitions, words bound by root index).
// A missing magic or a compressed payload that does not decompress fires
// script invalid-data with `data` (null: none); a bad record fires script
// kb-invalid-record; routine!, triple!, handle!, port! and event! records
// fire access no-codec. Values appended before an error stay in `target`.
void decode(const std::uint8_t* image, std::size_t length, Cell* target, bool from_language,
            const Cell* data = nullptr);

// A new binary! in `out` holding the image of `value`: normal mode (the
// writer's default) or compact. A routine!, triple!, handle!, port! or
// event! anywhere inside fires access no-codec with it (an op! over a
// routine! names the op!). Nothing of a refused encode is left behind.
Cell* encode(const Cell* value, Mode mode, Cell* out);

// The kivbin codec of `load`: decodes the binary (from its index) into a
// new block; `out` is that block's only value when it holds exactly one,
// else the block. `payload` (null: the binary) is what an invalid-data
// error names: the file or URL the bytes were read from.
Cell* load(const Cell* binary, Cell* out, const Cell* payload = nullptr);
// The kivbin codec of `save`: `encode` in normal mode, or compact when asked.
Cell* save(const Cell* value, bool compact, Cell* out);

// ---------------------------------------------------------------------------
// The boot image: the program's Kiv sources (the library, the console
// engine, the view), loaded at build time and written as one compact image
// that the build embeds, so start-up decodes values instead of lexing text.
// For each source of the start-up binding order (boot.h) the image holds
// two top-level records: its path as a file! and its values as loaded, a
// block!.

// The records of the boot image, from the sources built into the program,
// in a new block in `out`. A syntax error in a source fires.
Cell* boot_records(Cell* out);

// Writes a boot image: compact, version 1, every cell of `records` (a
// block, from its first cell) as one top-level record. `compress` packs the
// body with the LZ coder. Words must be bound to the global context or be
// unbound refinements; anything else fires script invalid-arg with it.
Cell* encode_boot(const Cell* records, bool compress, Cell* out);

// Decodes a boot image into a new boot root block (a collector root), with
// collection switched off meanwhile. A missing magic
// or a corrupt payload prints its line and ends the process with status 1,
// as does any other fault in the image.
void boot_load(const std::uint8_t* image, std::size_t length);

// The runtime-init step: `boot_load` of the image built into the program
// (in a test build, of the file that KIV_TEST_BOOT_IMAGE names when set).
// Nothing when the program was built without one.
void init();

// The boot root block (none! before `boot_load`).
Cell* boot_roots(Cell* out);
// The loaded values of a source in the boot image, by its path as boot.h
// names it ("console/engine.kiv"); false when the image has none.
bool boot_source(const char* path, Cell* out);

// The boot image built into the program. Each executable links one
// definition: the generated image (kiv), or an empty one (the image
// builder itself and the tests).
extern const std::uint8_t boot_image[];
extern const std::size_t boot_image_size;

}  // namespace kiv::kivbin
