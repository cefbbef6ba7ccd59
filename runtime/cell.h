// The value cell: every language value is one 16-byte cell, a header word
// (datatype id in the low byte, flags above) and three payload words whose
// meaning belongs to the datatype. Cells are copied by value; a copy shares
// whatever series its payload names.
#pragma once

#include <cstdint>
#include <type_traits>

#include "runtime/datatypes/type-list.h"

namespace kiv {

enum class Type : std::uint8_t {
#define KIV_TYPE_ENUM(id, ident, name) ident = id,
    KIV_TYPE_LIST(KIV_TYPE_ENUM)
#undef KIV_TYPE_ENUM
};

constexpr int type_count = 54;

// A node id: the cage offset of a 4-byte node slot (0 = no node).
using NodeId = std::uint32_t;

namespace cell_flag {
constexpr std::uint32_t new_line = 0x40000000;  // molded after a line break
constexpr std::uint32_t written = 0x2000;       // object field was stored into
}  // namespace cell_flag

struct Cell {
    std::uint32_t header;
    std::uint32_t data1;
    std::uint32_t data2;
    std::uint32_t data3;

    Type type() const { return static_cast<Type>(header & 0xFF); }
    std::uint32_t type_id() const { return header & 0xFF; }
    bool is(Type t) const { return type() == t; }
    // Retyping keeps every flag bit.
    void set_type(Type t) { header = (header & ~0xFFu) | static_cast<std::uint32_t>(t); }
    void clear_new_line() { header &= ~cell_flag::new_line; }
};

static_assert(sizeof(Cell) == 16);
static_assert(std::is_trivially_copyable_v<Cell>);
static_assert(std::is_standard_layout_v<Cell>);

namespace cell {
inline Cell* copy(const Cell* src, Cell* dst) {
    if (src != dst) *dst = *src;
    return dst;
}
}  // namespace cell

}  // namespace kiv
