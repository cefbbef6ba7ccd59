// map!: the dictionary. The cell: data1 the index (0), data2 the node of a
// block of entries, data3 the node of a map-kind hash table over it.
//
// The entry block holds key and value cells in turn, key first; entries are
// appended at the tail and never move while the map lives. A removed entry
// keeps its key, and its value cell's header becomes 0, which every walk
// skips; setting the key again revives the entry where it stands. The
// table's size is the count of live entries.
//
// Keys: text and binary keys are copied when stored; word!, lit-word! and
// get-word! keys are stored as set-word!, so the four name one key; scalar
// keys are stored as they are; other datatypes cannot be keys. Lookups
// ignore case unless asked (by canonical symbol for words).
//
// GC: storing a key may allocate (copies, block growth, table growth); a
// Cell* into the entry block is stale after it.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::map {

// The datatypes a key may have (the lexer checks map literals with it).
bool valid_key_type_q(Type type);

// Makes `out` a map over `block` (its cells become the entries as they
// are), or over a new empty block with room for `size` entries.
Cell* make_at(Cell* out, const Cell* block, std::int32_t size);

// A map literal: makes `out` a map of the `count` loaded cells, keys and
// values in turn. False, making nothing, when the count is odd or a key's
// datatype cannot be a key. Allocates.
bool make_from_items(const Cell* items, std::int32_t count, Cell* out);

// Makes a key cell ready to be stored: copies text and binary keys,
// retypes words to set-word!. Another datatype fires script invalid-path
// with its datatype.
Cell* prepare_key(Cell* key);

// The live entry's value cell for a key, or nullptr; case-sensitive with
// `case_`.
Cell* get(const Cell* map, const Cell* key, bool case_);
// Stores the value under the key, adding or reviving the entry; answers
// the stored value cell.
Cell* put(Cell* map, const Cell* key, const Cell* value, bool case_);
// Adds the key/value pairs of a block, or the live entries of a map
// (`extend`); an odd length fires script invalid-arg with the block.
Cell* extend(Cell* map, const Cell* spec, bool case_);
// The count of live entries.
std::int32_t length(const Cell* map);

// The step of `foreach [k v] map`: from the cursor's index (in cells) the
// removed entries are skipped; a live entry sets the first word to its key
// (a set-word! key as word!) and the second to its value, and the cursor
// moves past it; words left over are set to none. A non-word in `words`
// fires script invalid-arg. Answers whether any word received a value.
bool foreach_next(const Cell* words, Cell* cursor);

// Registers map!.
void init();

}  // namespace kiv::map
