// The path family: path! (a/b/1, parent block!), lit-path! ('a/b),
// set-path! (a/b:) and get-path! (:a/b), the last three children of path!.
// A path is a block in all but its type: the same cell (data1 the index,
// data2 the node of a cells buffer) and block!'s series actions through
// inherited slots. What differs is making and converting, form and mold
// with "/" between the values and the mark of each kind, and copy.
//
// Evaluating a path (reading fields, calling with refinements, setting)
// belongs to the interpreter and to compiled::eval_path; each step runs the
// eval-path action of the value reached so far.
//
// GC: making, converting and molding allocate.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::path {

// Makes `cell` an empty path! (index 0) with room for `size` cells (below
// 1: one).
Cell* make_at(Cell* cell, std::int64_t size);

// Gives the cell the kind (path!, lit-path!, set-path! or get-path!) and
// pushes a copy of it on the argument stack.
Cell* push(Cell* cell, Type kind);

// Registers path!, lit-path!, set-path! and get-path!, in that order, after
// block!.
void init();

}  // namespace kiv::path
