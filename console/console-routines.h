// The console's routines: the C++ functions behind routine! values of the
// console group, with the specs they are bound with. Start-up registers
// them in the routine table and binds each to its word or object field.
#pragma once

#include "runtime/datatypes/routine.h"

namespace kiv::console_routines {

struct Row {
    const char* name;  // the word, or the path of the object field
    const char* spec;  // Kiv text of the spec block
    routine::Entry entry;  // answers nothing the language sees
};

// In binding order; ends with a row whose name is null.
const Row* rows();

}  // namespace kiv::console_routines
