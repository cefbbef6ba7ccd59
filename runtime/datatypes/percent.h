// percent!: a float! whose text shows the value times 100 with a "%" sign;
// the literal 5% holds 0.05. It is a child of float! and takes float!'s
// actions for everything but its text forms; float!'s arithmetic keeps
// percent! as the result type when the left operand is percent! (unless a
// time! takes part), and its round counts a number scale in percents.
#pragma once

#include "runtime/cell.h"
#include "runtime/datatypes/float.h"

namespace kiv::percent {

inline double get(const Cell* value) { return float_::get(value); }

// Retypes `out` to percent!, keeping its header flags, and stores the
// fraction.
inline Cell* make_at(Cell* out, double fraction) {
    return float_::make_at(out, fraction, Type::percent);
}

// Appends a percent! at the block's tail. GC: may expand the block.
Cell* make_in(Cell* block, double fraction);

// Registers percent!; float! must be registered first.
void init();

}  // namespace kiv::percent
