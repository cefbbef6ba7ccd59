// datatype!: a value naming a datatype by its id (payload word 1).
#pragma once

#include "runtime/cell.h"

namespace kiv::datatype {

// Registers datatype!. The first registration of start-up.
void init();

}  // namespace kiv::datatype
