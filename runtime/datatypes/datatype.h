// datatype!: a value naming a datatype by its id (payload word 1).
#pragma once

#include "runtime/cell.h"

namespace kiv::datatype {

// Registers datatype!. The first registration of start-up.
void init();

// Appends a datatype! naming `id` at the block's tail. May expand the block.
Cell* make_in(Cell* block, Type id);

}  // namespace kiv::datatype
