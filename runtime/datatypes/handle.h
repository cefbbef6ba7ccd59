// handle!: an opaque operating-system handle. The cell: data1 the class
// (signed: what kind of object the handle stands for), data2 the handle's
// 32-bit value, data3 a slot index of the external handle registry, -1
// when the handle holds none (the collector marks a slot that is set).
// A child of integer! that owns only form, mold and compare: nothing else
// applies to a handle.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::handle {

// The classes; class names are kept for 1 to 5.
enum class Class : std::int32_t { null = 0, fd = 1, monitor = 2, window = 3, font = 4, rich_text = 5 };

inline std::int32_t class_of(const Cell* value) { return static_cast<std::int32_t>(value->data1); }
inline std::uint32_t value_of(const Cell* value) { return value->data2; }
inline std::int32_t slot_of(const Cell* value) { return static_cast<std::int32_t>(value->data3); }

// Makes `cell` a handle! of the value and class, with no registry slot.
inline Cell* make_at(Cell* cell, std::uint32_t value, std::int32_t klass) {
    *cell = Cell{static_cast<std::uint32_t>(Type::handle), static_cast<std::uint32_t>(klass), value,
                 static_cast<std::uint32_t>(-1)};
    return cell;
}
// The same in the current frame's result slot.
Cell* box(std::uint32_t value, std::int32_t klass);
// Pushes a handle! of value 0 and class null on the argument stack.
Cell* push_null();

// Registers handle! (parent integer!).
void init();

}  // namespace kiv::handle
