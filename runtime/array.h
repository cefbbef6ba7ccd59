// Growable arrays: a plain list of bytes or 32-bit words kept in a series
// buffer, for the runtime's own bookkeeping (integer maps, the terminal
// backend's lists). An array is its node, so it survives moves and growth;
// its unit bits give the element size; its elements lie between the
// buffer's offset and tail.
//
// Positions given to pick, poke and truncate_at are 1-based element indexes
// and are not checked; find and remove work with byte offsets from the
// buffer's offset. Store ids and cage offsets here, never C++ pointers.
//
// GC: make, copy and the appends allocate and may collect; the appends may
// expand, so re-read buffer addresses through the node afterwards.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::array {

NodeId make(std::int64_t count, std::uint32_t element_size);
std::uint32_t length(NodeId array);
void clear(NodeId array);
void truncate_at(NodeId array, std::uint32_t position);
NodeId copy(NodeId array);
std::uint32_t get_flags(NodeId array);

std::uint8_t* append_byte(NodeId array, std::uint8_t byte);
std::uint8_t* append_bytes(NodeId array, const void* source, std::uint32_t count);
std::uint8_t* append_int(NodeId array, std::uint32_t value);

std::uint32_t pick_int(NodeId array, std::uint32_t position);
void poke(NodeId array, std::uint32_t position, std::uint32_t value);
// Byte offset of the first 32-bit element equal to `value`, or -1.
std::int32_t find_int(NodeId array, std::uint32_t value);
void remove_at(NodeId array, std::uint32_t byte_offset, std::uint32_t count);
// Removes the first element equal to `value`; answers its byte offset or -1.
std::int32_t remove_int(NodeId array, std::uint32_t value);

}  // namespace kiv::array
