// issue!: a word-like value written with a leading "#". It has the word
// family's cell (data1 the global context's node, data2 the symbol of its
// text, data3 -1) and shares its spelling and comparison rules, but it is
// never bound or evaluated as a variable. Its text keeps its letter case;
// two issues are equal without regard to case (`#abc = #ABC`) and strictly
// equal only with the same spelling.
#pragma once

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kiv::issue {

// Makes `cell` an issue! for the symbol of a NUL-terminated UTF-8 text
// (interned as symbols are). Allocates when the spelling is new.
Cell* make_at(Cell* cell, const char* text);
// The same in a new cell appended at the block's tail.
Cell* make_in(Cell* block, const char* text);

// make and to: an issue! of the type's kind from a char!, a string! (from
// its index), a word-family value (retyped, keeping its symbol and
// binding), or whatever word!'s make accepts.
Cell* make(Cell* proto, Cell* spec, Type type);
// "#" and the text.
int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part,
         int indent);
// Not comparable with anything but an issue!; else word!'s comparison.
int compare(Cell* value1, Cell* value2, CompareOp op);

// Registers issue!. A datatype registration of start-up, after word!.
void init();

}  // namespace kiv::issue
