// word!: a name bound to a context. The word family (word!, set-word!,
// lit-word!, get-word!, refinement!, and issue!, which shares the layout)
// uses one cell layout: data1 the node of the context it is bound to (the
// global context by default; 0 for an unbound refinement), data2 the symbol
// (its spelling), data3 the slot index in that context (-1 while
// unresolved). Two words are equal without regard to case when their
// canonical symbols are.
//
// The family shares make, to, form, compare and index? (the functions of
// word!); each member molds its own way.
//
// GC: loading and making words may intern symbols and add global words,
// which allocates.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kiv::word {

// Registers word! (parent symbol!). A datatype registration of start-up.
void init();

// The global word for a UTF-8 spelling, in `out`; a new word's value is
// unset. Start-up makes every word the runtime refers to with it.
Cell* load(const char* text, Cell* out);
// Makes `cell` a word! for the symbol bound in the global context.
Cell* make_at(std::uint32_t symbol, Cell* cell);
// The context's word for the symbol by exact spelling, else the global word.
Cell* lookup_in(NodeId context, std::uint32_t symbol, Cell* out);

// Words and values by context and index (no checks).
Cell* get_local_word(NodeId context, std::int32_t index);
Cell* get_in(NodeId context, std::int32_t index);
// Value i, read from the running frame for a stack context; a context
// without values fires script not-defined with word i.
Cell* get_local(NodeId context, std::int32_t index);
// Copies the value into heap value i; an object field gets the written mark.
Cell* set_local(NodeId context, std::int32_t index, const Cell* value);
// As set_local, first copying the old value to `old_value`.
Cell* set_local_keep_old(NodeId context, std::int32_t index, const Cell* value, Cell* old_value);

// The word's value cell; an unset! value fires script no-value.
Cell* get(const Cell* word);
// The word's value cell, unset or not.
Cell* get_any(const Cell* word);
// Sets the word; an unset! value fires script need-value.
Cell* set(Cell* word, const Cell* value);

// The symbol's cell, with its string built.
Cell* symbol_cell(const Cell* word);
// A string! value (index 0) on the symbol's string, built on demand.
Cell* name_string(const Cell* word, Cell* out);

// Whether the value is a word, set-word, get-word or lit-word.
inline bool is_any_word(const Cell* c) {
    return c->is(Type::word) || c->is(Type::set_word) || c->is(Type::get_word) || c->is(Type::lit_word);
}
// Whether the value is of the word family (the word kinds, refinement,
// issue): the values that hold a symbol id.
inline bool is_word_family(const Cell* c) {
    return c->type_id() >= static_cast<std::uint32_t>(Type::word) &&
           c->type_id() <= static_cast<std::uint32_t>(Type::issue);
}

// The functions the family shares (issue! and error! form with `form`).
Cell* make(Cell* proto, Cell* spec, Type type);
int form(Cell* value, Cell* buffer, Cell* part_arg, int part);
int compare(Cell* value1, Cell* value2, CompareOp op);
// Appends prefix, spelling and suffix; answers the budget less what was
// appended. The family's molds use it.
int mold_with(Cell* value, Cell* buffer, const char* prefix, const char* suffix, int part);

// Loads text as exactly one value into `out`; false when it is not one
// value. The lexer installs it; make and to of words from text use it.
using TextLoader = bool (*)(Cell* text, Cell* out);
void set_text_loader(TextLoader loader);

}  // namespace kiv::word

namespace kiv::lit_word {
void init();
}
namespace kiv::set_word {
void init();
}
namespace kiv::get_word {
void init();
}
namespace kiv::refinement {
void init();
// An unbound refinement! for a UTF-8 spelling.
Cell* load(const char* text, Cell* out);
}  // namespace kiv::refinement
