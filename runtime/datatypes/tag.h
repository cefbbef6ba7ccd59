// tag!: a string value written between "<" and ">"; the text holds the
// characters without the delimiters. A child of string!, whose series
// actions it takes; it forms and molds with its delimiters.
#pragma once

#include "runtime/cell.h"

namespace kiv::tag {

// Appends the characters of a string-family value from its index, as
// string! forms them: all of them, or with a /part limit in force no more
// than the budget. Answers the budget left. Shared by the text values.
int form_text(Cell* value, Cell* out, Cell* part_arg, int part);

// Registers tag!; string! must be registered first.
void init();

}  // namespace kiv::tag
