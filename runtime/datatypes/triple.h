// triple!: an internal marker of three signed 32-bit integers (a, b, c in
// payload order). The lexer keeps one for every open container on its
// output stack and parse saves positions in them; it has no literal form, so
// users meet one only by accident. It only forms and molds.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::triple {

inline std::int32_t a(const Cell* value) { return static_cast<std::int32_t>(value->data1); }
inline std::int32_t b(const Cell* value) { return static_cast<std::int32_t>(value->data2); }
inline std::int32_t c(const Cell* value) { return static_cast<std::int32_t>(value->data3); }

// Retypes `cell` to triple!, keeping its header flags.
inline Cell* make_at(Cell* cell, std::int32_t pa, std::int32_t pb, std::int32_t pc) {
    cell->set_type(Type::triple);
    cell->data1 = static_cast<std::uint32_t>(pa);
    cell->data2 = static_cast<std::uint32_t>(pb);
    cell->data3 = static_cast<std::uint32_t>(pc);
    return cell;
}

// Registers triple!.
void init();

}  // namespace kiv::triple
