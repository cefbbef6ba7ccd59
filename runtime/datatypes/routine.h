// routine!: a function whose body is C++ code taking raw values. Routines
// are registered by name at start-up in the routine table; a routine! value
// names its C++ function by its 1-based slot in that table. The language
// cannot make routines (make is unsupported).
//
// The cell is function!'s (data1 the function context, data2 the spec node,
// the block given and not copied, data3 the five-cell more block) with the
// arity (the count of word! values in the spec, 0 to 31) in header bits
// 25-29. More cell 0: the body as given (not copied, not bound) or none!;
// cell 2: integer! slot of the C++ function; cell 4: integer! id of the
// result's datatype (logic! or integer!), -1 when it returns nothing.
//
// GC: making allocates; a call may run anything its C++ function runs.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::routine {

constexpr std::uint32_t arity_shift = 25;
constexpr std::uint32_t arity_mask = 0x1Fu << arity_shift;
constexpr std::int32_t no_result = -1;

// One argument as the C++ function receives it: an integer!, char! or
// logic! argument whose spec type block names that datatype alone arrives
// as its number (logic: 0 or 1); any other as a pointer to its cell.
union Raw {
    std::int32_t number;
    Cell* cell;
};
// The entry answers the result of a routine with a logic! or integer!
// result type; a routine without one may make args[arity].cell (unset! on
// entry) its result.
using Entry = std::int32_t (*)(const Raw* args);

constexpr std::int32_t table_capacity = 512;

// Adds a C++ function to the routine table; answers its slot. Start-up
// registers every routine before the library is bound.
std::int32_t register_entry(const char* name, Entry entry);
// The slot of a registered name, or 0.
std::int32_t find_entry(const char* name);
Entry entry_at(std::int32_t slot);
const char* entry_name(std::int32_t slot);
// Empties the table (for tests).
void clear_table();

// Makes `out` a routine! for a spec, a body (null: none), a table slot and
// a result datatype id (or no_result).
Cell* make_at(Cell* out, Cell* spec, Cell* body, std::int32_t slot, std::int32_t result_type);

// make_at on a new cell pushed on the argument stack.
Cell* push(Cell* spec, Cell* body, std::int32_t slot, std::int32_t result_type);

// Counts the spec's word! values into the header; answers the count.
std::int32_t count_arity(Cell* routine);
inline std::int32_t get_arity(const Cell* routine) {
    return static_cast<std::int32_t>((routine->header & arity_mask) >> arity_shift);
}

// Calls the routine with its arguments (arity cells), converted by the
// spec, and makes `result` the converted result (without a result type,
// the cell the routine answered through).
Cell* call(const Cell* routine, Cell* args, Cell* result);

// Registers routine! (parent function!).
void init();

}  // namespace kiv::routine
