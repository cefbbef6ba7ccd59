// paren!: a block that the interpreter evaluates where it stands. As data it
// is a block!: every action but mold is block!'s (or series!'s through it),
// on the same cell layout; only its text uses parentheses.
#pragma once

#include "runtime/cell.h"

namespace kiv::paren {

// Appends "(", the contents molded as a block's contents, and ")" (the
// parentheses left out with `only`); answers the remaining /part budget.
int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part,
         int indent);

// Registers paren!. A datatype registration of start-up, after block!.
void init();

}  // namespace kiv::paren
