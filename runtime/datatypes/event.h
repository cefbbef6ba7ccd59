// event!: what the graphics engine hands to actors and event functions. Two
// kinds share one cell layout: data1 the event type id (0 for a made event
// whose spec named no type), data3 the flag bits (event_flag in the
// backend's event-record.h) and, for made events, the key's code point in
// bits 0-15. A made event (`make event!`) has `made_by_language` in its
// header and in data2 the node of a block of four cells (face, window,
// offset, picked), or 0 when its spec gave none of them; the collector marks
// that block. A backend event has in data2 the serial of the record its
// dispatch is running on, read through the backend's readers.
//
// GC: make allocates the fields block; reading fields may make words and
// refills the backend's flags block.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::event {

constexpr std::uint32_t made_by_language = 0x1000;

inline bool is_made(const Cell* value) { return (value->header & made_by_language) != 0; }

// Registers event!, then makes the routines event? and send-event-os.
// Start-up runs it just before the graphics library is made.
void bind();

}  // namespace kiv::event
