// email!: a string value holding a whole address (user@host). A child of
// string!; it molds as its text without quotes, and its paths `user` and
// `host` read or replace the parts before and after the first "@".
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::email {

// The offset of the first "@" from the index, or the length from the index
// to the tail when there is none.
std::int32_t split_at(Cell* value);

// Registers email!; string! must be registered first.
void init();

}  // namespace kiv::email
