// Hash tables: open addressing over power-of-two bucket counts, two flag
// bits per bucket (empty, deleted, live) and 32-bit keys; values stay in a
// block of their own and the table holds only their positions. One design
// serves five kinds:
//   hash     the index of a hash! block (keys: block positions; equal values
//            share one bucket through a chain of positions)
//   map      the keys of a map! block (key/value pairs; keys: positions)
//   context  the words of a context (keys: indexes in the words block)
//   integer  scratch tables keyed by 32-bit integers
//   owners   the series owners table (integer keys: nodes; held weakly)
// The symbol table's interning probes the same way over its own table.
// A map keeps each bucket's key together with the key's hash, so that its
// lookups compare hashes before keys and its growth hashes nothing again;
// keys that differ only in case, stored case-sensitively, take buckets of
// their own.
//
// Probing visits home, home + 1, home + 3, home + 6 ... (the k-th step adds
// k) and gives up back at home. A search stops at an empty bucket and skips
// deleted ones; an insertion reuses the first deleted bucket it passed.
// Growth keeps the occupied count (live + deleted) below 0.77 of the bucket
// count, so a table never fills.
//
// Layout: the table is a node whose buffer holds five cells; each node the
// record refers to sits in the second payload word of a cell typed so that
// the collector's ordinary marking of the record marks (and re-points) it:
// a record found anywhere, the C++ stack included, keeps its whole table.
// The owners table keeps its entries in a byte series, so marking it keeps
// the entries' storage but nothing they refer to.
//
// GC: every insertion, growth, init and copy may allocate and collect.
// Pointers into the block returned by lookups are valid until the next
// allocation that may expand the block.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kiv::hashtable {

enum class Kind : std::int32_t { hash = 0, map = 1, context = 2, integer = 3, owners = 4 };

struct Record {
    std::uint32_t flags_header;
    std::int32_t size;      // live keys
    NodeId flags;           // 2 bits per bucket: 2 empty, 1 deleted, 0 live
    std::int32_t occupied;  // live plus deleted buckets
    std::uint32_t keys_header;
    std::int32_t buckets;   // a power of two, at least 4
    NodeId keys;            // one 32-bit key per bucket (0 in a map, whose
                            // slots hold its keys)
    std::int32_t bound;     // occupied stays below this
    std::uint32_t values_header;
    Kind kind;
    NodeId values;          // the indexed block, or the entries of integer keys
    std::uint32_t stamp;    // 0, or the node-compaction count + 1 when built
    std::uint32_t index_header;
    std::uint32_t entry_size;  // integer kinds: bytes per entry
    NodeId index;           // hash kind: bucket (1-based) of each block position;
                            // map kind: each bucket's hash and key
    std::uint32_t unused1;
    std::uint32_t chains_header;
    std::uint32_t variants; // map kind: 1 once two keys equal but for case coexist
    NodeId chains;          // hash kind: block of chains of equal positions
    std::uint32_t unused3;
};
static_assert(sizeof(Record) == 5 * sizeof(Cell));

Record* record(NodeId table);

// Bucket flags.
constexpr int live = 0;
constexpr int deleted = 1;
constexpr int empty = 2;

// ---------------------------------------------------------------------------
// Sizes.

// The smallest power of two at or above v (v >= 1).
std::uint32_t next_power_of_two(std::uint32_t v);
// The bucket count made for a requested size.
std::int32_t bucket_count_for(std::int32_t size);

// ---------------------------------------------------------------------------
// Making.

// A table for `size` keys. The hash and map kinds given a block index its
// values (map: its keys, step 2; a repeated key keeps the later value and the
// later pair leaves the block); the context kind gets an empty words block;
// the integer kinds a cells block for `size` entries of `cells` value cells.
NodeId init(std::int32_t size, const Cell* block, Kind kind, std::int32_t cells = 0);
// A copy of a context words table with its own words block, flags and keys.
NodeId copy_buffers(NodeId table);
// A copy of a hash or map table for a copied block.
NodeId copy(NodeId table, NodeId new_values);

// ---------------------------------------------------------------------------
// Hash and map kinds. Values are cells of the table's block.

// Adds one value of the block (map: a key). `found` receives 0 when the
// value was new, 1 when an equal value was there (hash: it joins its chain),
// 2 when the table was rebuilt to grow and the value was added by the
// rebuild.
Cell* put(NodeId table, Cell* value, int* found);
Cell* put_value(NodeId table, Cell* value);

// Iteration over the values equal to a key. Start with a default Probe.
struct Probe {
    std::int32_t bucket = -1;  // -1: start from the hash
    std::int32_t step = 0;
    std::int32_t home = 0;
    std::int32_t in_chain = -1;  // next chain entry to visit, -1 when none
};
Cell* find_next(NodeId table, const Cell* key, Probe* probe, CompareOp op);

// The matching cell at or after `start` (positions of the whole block) on
// the grid of `skip`; `last` takes the last such match, `reverse` the
// nearest at or before `start`. In a map, word keys are looked up as
// set-words. nullptr when nothing matches.
Cell* find(NodeId table, const Cell* value, std::int32_t start, std::int32_t skip, CompareOp op,
           bool last, bool reverse);

// Map kind. The key cell of the entry a key names under `op` (equal,
// strict-equal or same; a word key is looked up as a set-word): among
// several matches (keys that differ only in case, stored case-sensitively)
// a live entry before a removed one, then the earliest. nullptr when absent.
// The key's hash goes to `hash` when given.
Cell* find_map_key(NodeId table, const Cell* key, CompareOp op, std::uint32_t* hash = nullptr);
// Enters the key at `position` of the entry block, which the caller found
// absent (case-sensitively with `case_`) by a lookup that gave `hash`: the
// stored key (made ready from the looked-up one) hashes alike. Grows the
// table when full.
void add_map_key(NodeId table, std::int32_t position, bool case_, std::uint32_t hash);

// Hash kind: the position nearest `from` of a value matching `value` under
// `op`, among from, from + step, from + 2 step ... (a negative step
// searches downward) inside [low, high); -1 when none. Under the find
// operation words of the kinds word!, set-word!, lit-word!, get-word! and
// refinement! match one another, as a block search takes them.
std::int32_t find_position(NodeId table, const Cell* value, CompareOp op, std::int32_t from,
                           std::int32_t step, std::int32_t low, std::int32_t high);
// Whether lookups of this value may go through a hash index: its hash
// agrees with the find operation's equality. (Not money!, whose amount
// without a currency equals the amount in every currency.)
bool indexable_q(const Cell* value);

// Removes one position from the index (hash), or marks a map entry removed
// (the header of the value cell after the key becomes 0).
void delete_value(NodeId table, Cell* cell);
// Removes positions [position, position + count) from the index.
void remove_range(NodeId table, std::int32_t position, std::int32_t count);
// Adds the block's values from `position` on (map: step 2).
void rehash_block(NodeId table, std::int32_t position);
// After an insertion or removal in a hash! block: every stored position at
// or after `start` moves by `delta`. Answers true, changing nothing, when
// the block is too long for that (the caller rebuilds).
bool refresh(NodeId table, std::int32_t delta, std::int32_t start);
// After `count` values moved from `from` to `to` inside the block.
void move(NodeId table, std::int32_t to, std::int32_t from, std::int32_t count);
// Empties the table (and a hash index), keeping its size.
void clear(NodeId table);

// Rebuilds a hash table for `size` values, re-adding the whole block.
void resize(NodeId table, std::int32_t size);
// Grows a table to hold `size` (hash kind) or `size` buckets (other kinds),
// with node compaction suspended meanwhile.
void grow(NodeId table, std::int32_t size);
// Re-hashes every key in place.
void rebuild_index(NodeId table);
// Rebuilds a table whose hashes depend on nodes that node compaction moved
// since it was built.
void check_refresh(NodeId table);

// ---------------------------------------------------------------------------
// Integer kinds. Entries: a key cell (header 2 while live, 0 once deleted;
// the key in payload word 1) followed by the value cells.

// Finds or adds the key; answers its first value cell (unset! when new).
Cell* put_key(NodeId table, std::uint32_t key);
Cell* get_key(NodeId table, std::uint32_t key);
// Removes the key; answers its former value cells, or nullptr.
Cell* delete_key(NodeId table, std::uint32_t key);
// Calls visit(key, values) for each live entry.
template <class Visit>
void for_each_key(NodeId table, Visit&& visit);

// After marking: deletes every entry of the owners table whose key node, or
// whose owner's context node, is unmarked; re-points the survivors' nodes
// that node compaction moved. Allocates nothing.
void prune_weak(NodeId table);

// ---------------------------------------------------------------------------
// Context words.

// The index of the symbol's word in a context words table, or -1. By exact
// symbol, or by canonical symbol with `by_canonical`. With `context` (add
// mode), an absent symbol gets a new word! cell bound to that context at the
// end of the words block, `*index` receives the new index and the result is
// -1; a present one gives its index both ways.
std::int32_t find_context_word(NodeId table, std::uint32_t symbol, bool by_canonical,
                               NodeId context, std::int32_t* index);

// ---------------------------------------------------------------------------
// Interning into the symbol table (a context-kind table over the symbol
// block). Answers the symbol id (position + 1).
std::uint32_t intern_symbol(NodeId table, const std::uint8_t* text, std::int32_t length,
                            bool any_case);

// ---------------------------------------------------------------------------
// Hashing.

// The seed of every MurmurHash3 of the run; set once at start-up.
void set_seed(std::uint32_t seed);
std::uint32_t murmur3(const void* data, std::size_t length);
// The 32-bit finaliser of MurmurHash3.
constexpr std::uint32_t hash_int(std::uint32_t h) {
    h ^= h >> 16;
    h *= 0x85EBCA6B;
    h ^= h >> 13;
    h *= 0xC2B2AE35;
    h ^= h >> 16;
    return h;
}
std::uint32_t hash_value(const Cell* value, bool fold);
std::uint32_t hash_string(const Cell* value, bool fold);
std::uint32_t hash_symbol(const Cell* symbol);
// MurmurHash3 of UTF-8 text with ASCII letters folded to one case.
std::uint32_t hash_text_folded(const std::uint8_t* text, std::int32_t length);

namespace detail {
int bucket_flag(const Record* r, std::int32_t bucket);
std::uint32_t bucket_key(const Record* r, std::int32_t bucket);
Cell* entry_at(const Record* r, std::uint32_t offset);
}  // namespace detail

template <class Visit>
void for_each_key(NodeId table, Visit&& visit) {
    for (std::int32_t b = 0; b < record(table)->buckets; ++b) {
        const Record* r = record(table);
        if (detail::bucket_flag(r, b) != live) continue;
        Cell* entry = detail::entry_at(r, detail::bucket_key(r, b));
        visit(entry->data1, entry + 1);
    }
}

}  // namespace kiv::hashtable
