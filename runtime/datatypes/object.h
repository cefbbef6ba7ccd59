// object!: the language's record, a context of named fields. The value cell
// (also that of error! and port!): data1 the context's node (kind object,
// with self), data2 the class id (signed), data3 the node of the
// change-handler record, 0 when the object has none. The context's owner
// cell holds a copy of the object cell: every maker stores it.
//
// Class ids: objects made at run time take ids from a counter that starts
// at first_class_id (the first one made is first_class_id + 1); objects
// built at start-up carry small fixed ids; every error has id 1. Two
// objects share a class id when one was made from the other without new
// fields.
//
// The change-handler record: a node of two pair! cells, the first for
// `on-change*`, the second for `on-deep-change*`. Each packs the handler
// field's index (upper 16 bits, -1 when the object has no such field) and
// the number of local slots a call of it pushes (lower 16 bits) in data1,
// and in data2 the spec node that count was taken from. An object with
// neither field has no record.
//
// The written mark (cell_flag::written) on a field's word cell says that
// the field was stored into since the marks were last cleared.
//
// GC: making objects and molding allocate; setting a field may run the
// owner's change handler, and making from a spec block runs the spec:
// both may run any code.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/evaluator/eval-api.h"
#include "runtime/memory.h"

namespace kiv::object {

constexpr std::int32_t first_class_id = 1000000;
constexpr std::int32_t error_class_id = 1;

// Registers object! (no parent), resets the class-id counter and installs
// the change handlers with contexts and the ownership table. A datatype
// registration of start-up.
void init();

inline NodeId context_of(const Cell* object) { return object->data1; }
inline std::int32_t class_id(const Cell* object) { return static_cast<std::int32_t>(object->data2); }

// The next class id from the counter.
std::int32_t get_new_class_id();

// Makes `out` a value of `type` (object!, error!, port!) over the context,
// with no change-handler record, and stores it as the context's self.
Cell* make_from_context(Cell* out, NodeId context, std::int32_t class_id, Type type = Type::object);
// The same with a record (0: none).
Cell* make_with_record(Cell* out, NodeId context, NodeId record, std::int32_t class_id,
                       Type type = Type::object);
// make_with_record on a new cell pushed on the argument stack.
Cell* push(NodeId context, NodeId record, std::int32_t class_id);
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

// Clears the new-line flag of every cell of the buffer.
void clear_cells_flag(memory::SeriesBuffer* buffer);
// Clears the written mark of every field's word.
void clear_written(NodeId context);

// ---------------------------------------------------------------------------
// Change handlers.

// The record for a context's handler fields, or 0 without them. A handler
// field holding anything but a function! or routine! fires script
// bad-field-set with the word and the value's datatype.
NodeId make_on_set_record(NodeId context);
// Gives the object its record (indexes -1 for absent handlers); with an
// on-deep-change* handler the object comes to own its series. Stores self.
Cell* init_events(Cell* object, std::int32_t on_change, std::int32_t on_change_locals,
                  std::int32_t on_deep, std::int32_t on_deep_locals);
// Whether the object has an on-deep-change* handler.
bool on_deep_q(const Cell* object);
// The handler indexes of a record (-1: absent).
std::int32_t on_change_index(NodeId record);
std::int32_t on_deep_index(NodeId record);

// Calls the object's on-change* handler with the word, the old and the new
// value; nothing without one. A handler field that holds no function! fires
// script invalid-obj-evt with it. Unless the caller `passes_codes` (answers
// thrown on), a break, return or throw out of the handler raises its error
// instead.
Status fire_on_set(Cell* object, Cell* word, Cell* old_value, Cell* new_value, bool passes_codes = false);
// The same with the old value in the top cell of the argument stack and the
// new value in the cell below it.
Status fire_on_set_stack(Cell* object, Cell* word);
// The same for the object that `holder` (a word) refers to.
Status fire_on_set_by_word(const Cell* holder, Cell* word, Cell* old_value, Cell* new_value);
// Calls the owner's on-deep-change* handler with the owner, the owning
// field's word, the series, the action word, the new value (none when
// null), the index and the part. An owner without a record fires script
// invalid-obj-evt with it.
Status fire_on_deep(Cell* owner, Cell* word, Cell* target, Cell* action, Cell* new_value,
                          std::int32_t index, std::int32_t part);

// Whether the word's value, or the context's value at the index, is still
// an object! of the class id.
bool unchanged_q(const Cell* word, std::int32_t class_id);
bool unchanged_at_q(NodeId context, std::int32_t index, std::int32_t class_id);

// ---------------------------------------------------------------------------
// Making, copying and setting.

// Makes `target` a value of the source's datatype with its words, class id
// and values
// (functions remade; with `deep` series copied; with `types` only values of
// those types copied). `copy` (the copy action) drops the source's record
// and builds it again; without it the record is kept.
Cell* copy_into(const Cell* source, Cell* target, bool deep, Cell* types, bool copy);

// The `construct` native: an object from set-words and the values after
// them, without evaluation; from a deep copy of the prototype when it is
// an object. Without `only`, the words true, yes, on, false, no, off and
// none stand for their values.
Cell* construct(Cell* spec, const Cell* prototype, bool only, Cell* out);

// The `set` native on an object.
Status set_many(Cell* object, Cell* value, bool any, bool only, bool some);

// ---------------------------------------------------------------------------
// Molding and the actions other datatypes of the family reuse.

// The fields as mold writes them between "[" and "]", at `indent` levels
// for the object itself: each field's word, ": " and its value molded.
// Answers the part budget left.
int mold_body(NodeId context, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg,
              int part, int indent);

// Molds the object as `opening`, the body and "]" (without them when only).
int mold_with(Cell* value, Cell* buffer, const char* opening, bool only, bool all, bool flat,
              Cell* part_arg, int part, int indent);

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part,
         int indent);
int compare(Cell* value1, Cell* value2, CompareOp op);
Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent,
                Cell* previous, int index, bool case_, bool get, bool last, bool report);

}  // namespace kiv::object
