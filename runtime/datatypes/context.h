// Contexts: maps from words to value slots. A context is a node of two
// cells: the header cell (context!, with the kind and flags in its header;
// data1 the words table; data2 the values) and the owner cell (the object!,
// error!, port! or function! that owns it, unset! until its maker sets it).
//
// The words table's block holds one word! cell per word, in order of
// addition, each bound to this context with its own index; value i belongs
// to word i. A heap context keeps its values in a block (data2 its node); a
// stack context's values are the running function's frame on the argument
// stack (data2 the cage offset of its first cell, 0 while the function does
// not run).
//
// In the global context a case variant of an existing word has a word cell
// of its own whose index is the canonical spelling's, so every spelling
// shares one value. `self` in an object context is index -1 and reads as the
// owner cell.
//
// GC: creating, adding and setting may allocate. Value-cell pointers stay
// valid until the next addition to the same context.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kiv::context {

enum class Kind : std::uint32_t { global = 0, function = 1, object = 2 };

namespace flag {
constexpr std::uint32_t kind_shift = 11;
constexpr std::uint32_t kind_mask = 3u << kind_shift;
constexpr std::uint32_t values_on_stack = 0x400000;
constexpr std::uint32_t has_self = 0x1000000;
// On the header cell of an object context: the object owns its series.
constexpr std::uint32_t owner = 0x00010000;
// On the header cell of a boot object's context (the library's and the
// console's objects made at start-up): the calls its functions make among
// themselves stand for compiled library code, which names its frames by
// global words, so call frames named through its words are read in the
// global context.
constexpr std::uint32_t library = 0x00020000;
}  // namespace flag

// Registers context! (no actions). A datatype registration of start-up.
void init();
// Makes the global context for `size` words and keeps it as a collector root.
void init_global(std::int32_t size = 4000);
NodeId global();

// The header cell and the owner cell.
Cell* header(NodeId context);
Cell* owner(NodeId context);
Kind kind_of(NodeId context);

// A new context for `size` words (0 counts as 1) with the words of
// `prototype` (0: none), rebound to it; heap values start unset.
NodeId create(std::int32_t size, bool on_stack, bool self, NodeId prototype, Kind kind);
// A context with the words (not set-words) of a spec block, by canonical
// symbol, from the first cell of the block's series.
NodeId make(const Cell* spec, bool on_stack, bool self, Kind kind);
// A fresh context like the one `value` names (data1) with copies of its
// words rebound to it and unset values; `value` is re-pointed to it.
NodeId clone_words(Cell* value, Kind kind);

// The index of the symbol's word, or -1.
std::int32_t find_word(NodeId context, std::uint32_t symbol, bool by_canonical);
// The existing index, or -1 after adding a word (its index in `*index`).
std::int32_t find_or_add(NodeId context, std::uint32_t symbol, bool by_canonical,
                         std::int32_t* index);
// The index of the word's symbol (by canonical), added with an unset value
// when new.
std::int32_t add_word(NodeId context, const Cell* word);
// Adds a new word with a copy of the value and answers the value cell;
// nullptr when the word was there.
Cell* add_with_value(NodeId context, const Cell* word, const Cell* value);
// Adds the word with a copy of the value, or overwrites its value.
void add_or_set(NodeId context, const Cell* word, const Cell* value);
// Adds every set-word of the block from its index; whether the context grew.
bool collect_set_words(NodeId context, Cell* block);

// The global word for a symbol in `out` (added with an unset value when
// absent). Found by canonical symbol with `keep_spelling`, a word of another
// spelling is answered with the given spelling and the same binding.
Cell* add_global(std::uint32_t symbol, bool by_canonical, bool keep_spelling, Cell* out);
// add_global with exact lookup and keep-spelling.
Cell* get_global_word(std::uint32_t symbol, Cell* out);

Cell* get_word_at(NodeId context, std::int32_t index);
memory::SeriesBuffer* get_words(NodeId context);
NodeId get_words_node(NodeId context);
std::int32_t word_count(NodeId context);

// Slot i of the context's values (no checks).
Cell* slot(NodeId context, std::int32_t index);
// The value cell of a symbol (by canonical) in the context, or in the global
// context when the given one keeps its values on the stack.
Cell* get_symbol_value(std::uint32_t symbol, NodeId context);
// The word's value cell in a context: index -1 reads `self` as the owner
// cell and fires script no-value for any other word; a context without
// values fires script not-in-context.
Cell* value_cell_in(const Cell* word, NodeId context);
Cell* get(const Cell* word);
// Stores a copy of the value in the word's slot, resolving (or adding) the
// word first when its index is -1. An object field gets the written mark,
// and with `on_change` the owner's change handler is called. A function
// context that is not running fires script not-defined. Answers the slot.
Cell* set_in(Cell* word, const Cell* value, NodeId context, bool on_change);
Cell* set(Cell* word, const Cell* value);

// Binds a word whose symbol (by canonical) is in the context; answers the
// index or -1 (the word is left alone).
std::int32_t bind_word(NodeId context, Cell* word);
// Binds a block deeply (words of every kind, inner blocks, parens, paths
// and hash! blocks); with `self`, a word! `self` binds to index -1.
Cell* bind(Cell* block, NodeId context, bool self);

// The change handler of objects: called with the owner, the word, the old
// and the new value after a field was set. object! installs it.
using ChangeHandler = void (*)(Cell* owner, Cell* word, Cell* old_value, Cell* new_value);
void set_change_handler(ChangeHandler handler);

}  // namespace kiv::context
