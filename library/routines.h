// The library routines: routine! values whose bodies are C++ functions of
// this unit, giving the library written in Kiv its way into the runtime
// (ending the process, setting without change events, bit shifts, the
// current directory, directories, system information, tuples, UTF-8
// counting, the stacks, the trace flag, the clipboard and standard output).
//
// Each routine's spec is kept here as Kiv text next to its C++ function;
// `bind` registers the functions in the routine table, makes the routine!
// values from the loaded specs and sets their global words, in the order of
// the table below.
//
// GC: binding loads text and makes values; the routines that make values
// allocate, and write-stdout molds.
#pragma once

#include <cstddef>

#include "runtime/cell.h"
#include "runtime/datatypes/routine.h"

namespace kiv::library_routines {

// Makes the routines and binds their global words. Needs the runtime's
// init done and a text loader installed (block::load_text_hook). Binding
// again re-makes them over the same table slots.
void bind();

// Puts the routine that switches the float printing flags in place of the
// word float-switch in the body of system/options/float/on-change*, so that
// setting pretty? there changes how floats are formed. Needs system.kiv run.
void bind_float_switch();

// Makes money's text forms take their count of decimals from
// system/options/money-digits (2 when it holds no integer).
void bind_money_digits();

// Puts the routines of system/state (interpreted?) and system/state/GC in
// their fields, and makes dates and money read their month names and
// currency list from system/locale. Needs system.kiv run.
void bind_system_fields();

// One routine of the library: its global word, the text of its spec (with
// no outer brackets) and its C++ function.
struct Definition {
    const char* name;
    const char* spec;
    routine::Entry entry;
};

// Makes the routine! of a definition in `out` (registering its function
// once). The result type is read from the spec's `return:` (logic! or
// integer!).
Cell* make(const Definition& definition, Cell* out);
// make, then sets the global word of its name.
void define(const Definition& definition, Cell* out);
// make, then puts the routine into the field of that name of the codec
// object registered under `key` in system/codecs (internal not-done when
// either is missing).
void set_codec_routine(const char* key, const char* field, const Definition& definition);

// A routine that fills a field of an object rather than a global word: the
// field's path from the global context, and the routine.
struct FieldRoutine {
    const char* path;
    Definition definition;
};
// Makes each routine and puts it into its field (internal not-done when a
// path leads nowhere).
void set_field_routines(const FieldRoutine* fields, std::size_t count);
// Makes the routine and puts it in place of each word of its name in the
// body of the function at that path (internal not-done when there is none).
void replace_in_body(const char* function_path, const Definition& definition);

// The clipboard service, installed by it; while unset the clipboard
// routines fire internal not-done. read makes `result` the clipboard's
// content (false on failure, none when empty); write answers success.
struct Clipboard {
    void (*read)(Cell* result);
    bool (*write)(Cell* data);
};
extern Clipboard clipboard;

}  // namespace kiv::library_routines
