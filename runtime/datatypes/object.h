// object!: the language's record, a context of named fields. The value cell
// (also that of error! and port!): data1 the context's node (kind object,
// with self), data2 the class id (signed), data3 the node of the
// change-handler record, 0 when the object has none. The context's owner
// cell holds a copy of the object cell: every maker stores it.
//
// This unit holds what error! builds on: the cell, making an object over a
// context, field lookup, and the actions form, mold, compare, eval-path and
// select.
//
// GC: making objects and molding allocate; a path write may run the
// owner's change handler (any code).
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kiv::object {

// Registers object! (no parent). A datatype registration of start-up.
void init();

inline NodeId context_of(const Cell* object) { return object->data1; }
inline std::int32_t class_id(const Cell* object) { return static_cast<std::int32_t>(object->data2); }

// Makes `out` a value of `type` (object!, error!, port!) over the context,
// with no change-handler record, and stores it as the context's self.
Cell* make_from_context(Cell* out, NodeId context, std::int32_t class_id, Type type = Type::object);
// Makes `out` a new empty object! with room for `size` words, class id 0.
Cell* make_at(Cell* out, std::int32_t size);

// The word cell at an index of the context's words.
Cell* get_word_at(NodeId context, std::int32_t index);
std::int32_t field_count(const Cell* object);
// The index of the word's symbol among the fields, without regard to case;
// -1 when absent.
std::int32_t find_field(const Cell* object, const Cell* word);
// The field's value cell, or the shared none value when absent.
const Cell* ks_select(const Cell* object, const Cell* word);
// Value i of the context; a slot past the values written so far reads as
// unset.
Cell* field_value(NodeId context, std::int32_t index);

// The fields as mold writes them between "[" and "]", at `indent` levels
// for the object itself: each field's word, ": " and its value molded.
// Answers the part budget left.
int mold_body(NodeId context, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg,
              int part, int indent);

// Molds the object as `opening`, the body and "]" (without them when only).
int mold_with(Cell* value, Cell* buffer, const char* opening, bool only, bool all, bool flat,
              Cell* part_arg, int part, int indent);

// The actions other datatypes of the family reuse.
int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part,
         int indent);
int compare(Cell* value1, Cell* value2, CompareOp op);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent,
                Cell* previous, int index, bool case_, bool get, bool last, bool report);

}  // namespace kiv::object
