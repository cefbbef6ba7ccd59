// error!: the value of a language error, an object (child of object!) over
// a context of exactly ten fields, and the error catalogue it is made from.
//
// The catalogue (`system/catalog/errors`) is an object whose fields are the
// categories in catalogue order; each category is an object whose fields
// are `code` (integer!), `type` (its title, a string!) and then one field
// per error id holding the id's message template. An error's code is its
// category's code plus the id's position among the ids.
//
// Until the boot image carries them, start-up builds the catalogue, the
// prototype `system/standard/error` and the values read from
// `system/state` (`stack-trace`, `source-files`) here, from the catalogue
// list of error-list.h; they are collector roots.
//
// GC: making and forming errors allocate; make with a block of set-words
// evaluates it (any code).
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/fire.h"
#include "runtime/throw.h"

namespace kiv::error {

// The fields of an error, in context order.
enum class Field : std::int32_t {
    code = 0,
    type = 1,
    id = 2,
    arg1 = 3,
    arg2 = 4,
    arg3 = 5,
    near = 6,
    where = 7,
    stack = 8,
    files = 9,
};
constexpr std::int32_t field_count = 10;
constexpr std::int32_t class_id = 1;

// Registers error! (parent object!). A datatype registration of start-up.
void init();
// Builds the catalogue, the prototype error and the state values. Needs the
// symbol table, the global context and the fixed words.
void init_catalog();
bool catalog_ready();
// Forgets the catalogue, so that errors go back to their bare form. Tests
// only.
void forget();

// The catalogue object, a category object (by index), the prototype error,
// and `system/state/stack-trace` and `system/state/source-files`.
Cell* catalog();
Cell* category(std::int32_t index);
Cell* standard();
Cell* stack_trace();
Cell* source_files();
// From now on `stack-trace` and `source-files` are read from this object
// (the library's system/state) when it has them.
void attach_state(const Cell* state);

// A new error from the catalogue, pushed on the argument stack: the
// category's word and the id's word, as fields of the catalogue, then up to
// three arguments (null: none). Its `near` is the interpreter's position.
Cell* create(const Cell* category_word, const Cell* id_word, const Cell* arg1, const Cell* arg2,
             const Cell* arg3);
Cell* create(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3);
// Makes the error and prints it through the print hooks, without raising.
void report(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3);

// A field of an error.
Cell* field(const Cell* error, Field which);
// Copies the value into `where` when that is none.
void set_where(Cell* error, const Cell* value);
// Stores the call-stack position (a frame count) in `stack` unless that
// holds a block already.
void mark_stack(Cell* error, std::int32_t position);
// The symbols of the `type` and `id` words (0 when they are not words).
std::uint32_t get_type(const Cell* error);
std::uint32_t get_id(const Cell* error);
constexpr std::int32_t get_stack_field_index() { return static_cast<std::int32_t>(Field::stack); }
// The catalogue id that the error names, or ErrorId::count_.
ErrorId id_of(const Cell* error);
// The exception that carries the error (at the argument stack's top).
KivError exception_for(const Cell* error);
// The error a try region caught: the cell at the argument stack's top.
Cell* caught();

// The n-th argument word (from 0, over word!, lit-word!, get-word! and
// refinement! elements) of the spec of the function being called, or the
// word <anon>.
Cell* get_arg_word(std::int32_t n, Cell* out);
// Turns an integer `stack` into a block of the call frames' words and
// copies `system/state/source-files` into `files` when not empty.
void capture_stack(Cell* error);

// The error's text form (what the console prints for it) in a new string.
Cell* form_text(Cell* error, Cell* out);
// Forms or molds (flat) a value into the string within `limit` code points,
// cutting what goes past; answers the limit left.
int form_limited(Cell* value, Cell* buffer, int limit);
int mold_limited(Cell* value, Cell* buffer, bool only, int limit);

// An error with no try frame to go to: printed, then the process ends with
// status -2.
[[noreturn, gnu::cold]] void report_uncaught(Cell* error);

// script bad-make-arg with the value and the datatype.
[[noreturn, gnu::cold]] void fire_bad_make_arg(const Cell* value, Type type);

// Evaluates a spec block of set-words bound to a new error's context; the
// interpreter installs it.
using SpecEvaluator = Status (*)(Cell* block);
void set_spec_evaluator(SpecEvaluator evaluator);

}  // namespace kiv::error
