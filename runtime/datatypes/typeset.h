// typeset!: a set of datatypes held inline in the cell: the three payload
// words form a 96-bit set read as 12 bytes in memory order (byte 0 is the
// low byte of data1). Datatype id t is bit 0x80 >> (t & 7) of byte t >> 3:
// bits run most significant first within each byte.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::typeset {

// Registers typeset!. A datatype registration of start-up.
void init();

inline const std::uint8_t* bytes(const Cell* set) {
    return reinterpret_cast<const std::uint8_t*>(&set->data1);
}
inline std::uint8_t* bytes(Cell* set) { return reinterpret_cast<std::uint8_t*>(&set->data1); }

inline bool has(const Cell* set, std::uint32_t type_id) {
    return type_id < 96 && (bytes(set)[type_id >> 3] & (0x80u >> (type_id & 7))) != 0;
}
inline void set_bit(Cell* set, std::uint32_t type_id) {
    if (type_id < 96) bytes(set)[type_id >> 3] |= static_cast<std::uint8_t>(0x80u >> (type_id & 7));
}

// Makes `out` a typeset! of the three payload words.
Cell* make_at(Cell* out, std::uint32_t w1, std::uint32_t w2, std::uint32_t w3);
// Makes `out` the default argument typeset: every datatype except unset!.
Cell* make_default_at(Cell* out);
// Appends a typeset! to the block. May expand the block.
Cell* make_in(Cell* block, std::uint32_t w1, std::uint32_t w2, std::uint32_t w3);
Cell* make_default_in(Cell* block);
// Appends the typeset of a function argument's type block: datatypes and
// typesets, words standing for them; a word whose value is a word adds
// object!; inner blocks are skipped; anything else fires script
// invalid-type-spec.
Cell* make_from_block(Cell* block, Cell* spec);

void clear(Cell* set);
// Members among the registered ids.
int count(const Cell* set);
// Adds a datatype, the members of a typeset, or what a word stands for;
// anything else fires script invalid-arg.
void add(Cell* set, const Cell* value);
// A new block of the datatype words of the members, in id order. Allocates.
Cell* to_block(const Cell* set, Cell* out);
// The set operations: op 5 or 9 union, 6 or 10 intersection, 7 or 12
// difference, 11 exclude, 8 unique (the set itself). The second value is a
// typeset! or a datatype!, else script invalid-arg fires. The result is
// written into `value1`.
Cell* do_bitwise(Cell* value1, const Cell* value2, int op);

}  // namespace kiv::typeset
