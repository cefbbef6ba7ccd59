// Hash tables of every kind; see hashtable.h for the design.
#include "runtime/hashtable.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "runtime/case-folding.h"
#include "runtime/collector.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/memory.h"
#include "runtime/raw-array.h"

namespace kiv::hashtable {

using memory::SeriesBuffer;

namespace {

constexpr std::uint32_t node_header = static_cast<std::uint32_t>(Type::binary);
constexpr std::uint32_t deep_header = static_cast<std::uint32_t>(Type::block);
constexpr std::uint32_t unset_header = static_cast<std::uint32_t>(Type::unset);
constexpr double load_factor = 0.77;
// Beyond this many values a hash! index is rebuilt rather than shifted.
constexpr std::int32_t refresh_limit = 30000;

std::uint32_t murmur_seed = 0x4B1D5EEDu;

// ---------------------------------------------------------------------------
// Record access.

std::uint32_t* flag_words(const Record* r) {
    return reinterpret_cast<std::uint32_t*>(memory::buffer_of(r->flags)->head());
}
std::uint32_t* key_words(const Record* r) {
    return reinterpret_cast<std::uint32_t*>(memory::buffer_of(r->keys)->head());
}
Cell* block_cells(const Record* r) { return memory::buffer_of(r->values)->cells(); }
std::int32_t block_length(const Record* r) {
    return static_cast<std::int32_t>(memory::buffer_of(r->values)->length());
}
std::int32_t* index_words(const Record* r) {
    return reinterpret_cast<std::int32_t*>(memory::buffer_of(r->index)->head());
}
// Map kind: in place of the keys, each bucket's hash and key in one slot,
// so that a lookup reads one array, compares hashes before keys, and growth
// re-inserts without hashing again. A slot's key also says whether the
// bucket is empty or deleted, as its flags do.
struct MapSlot {
    std::uint32_t hash;
    std::uint32_t key;
};
constexpr std::uint32_t empty_slot = 0xFFFFFFFFu;
constexpr std::uint32_t deleted_slot = 0xFFFFFFFEu;
MapSlot* map_slots(const Record* r) {
    return reinterpret_cast<MapSlot*>(memory::buffer_of(r->index)->head());
}
void clear_slots(const Record* r) {
    SeriesBuffer* b = memory::buffer_of(r->index);
    std::memset(b->head(), 0xFF, b->used_bytes());
}

int flag_at(const std::uint32_t* flags, std::int32_t i) {
    return static_cast<int>((flags[i >> 4] >> ((i & 15) * 2)) & 3);
}
void set_flag(std::uint32_t* flags, std::int32_t i, int value) {
    const int shift = (i & 15) * 2;
    flags[i >> 4] = (flags[i >> 4] & ~(3u << shift)) | (static_cast<std::uint32_t>(value) << shift);
}

std::uint32_t code_point_at(const std::uint8_t* p, std::uint32_t unit) {
    if (unit == 1) return *p;
    if (unit == 2) return static_cast<std::uint32_t>(p[0] | p[1] << 8);
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Case folding as every case-insensitive comparison and hash does it, with
// the first 256 code points read from a table of its own, filled on first
// use (latin_ready() before fold_case()).
std::uint32_t latin_fold[256];
bool latin_filled = false;

void latin_ready() {
    if (latin_filled) return;
    case_folding::init();
    for (std::uint32_t c = 0; c < 256; ++c) latin_fold[c] = case_folding::change_char(c, true);
    latin_filled = true;
}

inline std::uint32_t fold_case(std::uint32_t cp) {
    return cp < 256 ? latin_fold[cp] : case_folding::change_char(cp, true);
}

std::int32_t bound_for(std::int32_t buckets) {
    return static_cast<std::int32_t>(buckets * load_factor);
}

NodeId make_flags(std::int32_t buckets) {
    const std::int64_t bytes = buckets < 16 ? 4 : buckets / 4;
    const NodeId node = memory::alloc_filled_bytes(bytes, 0xAA);
    SeriesBuffer* b = memory::buffer_of(node);
    b->tail = b->offset + static_cast<std::uint32_t>(bytes);
    return node;
}

NodeId make_keys(std::int32_t buckets) {
    const NodeId node = memory::alloc_bytes(std::int64_t{buckets} * 4);
    SeriesBuffer* b = memory::buffer_of(node);
    b->tail = b->offset + static_cast<std::uint32_t>(buckets) * 4;
    return node;
}

// A record whose node fields are all 0; each field's cell is typed so that
// marking the record marks what the field names (a block's cells deeply).
NodeId new_record(Kind kind) {
    const NodeId table = memory::alloc_cells(5);
    SeriesBuffer* b = memory::buffer_of(table);
    b->tail = b->offset + sizeof(Record);
    auto* r = reinterpret_cast<Record*>(b->head());
    *r = Record{};
    r->flags_header = node_header;
    r->keys_header = node_header;
    r->values_header = deep_header;
    r->index_header = node_header;
    r->chains_header = deep_header;
    r->kind = kind;
    return table;
}

// Gives the record new empty buckets: keys, or a map's slots.
void new_buckets(NodeId table, std::int32_t buckets) {
    const NodeId flags = make_flags(buckets);
    const bool map = record(table)->kind == Kind::map;
    NodeId keys = 0;
    NodeId slots = 0;
    if (map) {
        slots = memory::alloc_filled_bytes(std::int64_t{buckets} * 8, 0xFF);
        SeriesBuffer* b = memory::buffer_of(slots);
        b->tail = b->offset + static_cast<std::uint32_t>(buckets) * 8;
    } else {
        keys = make_keys(buckets);
    }
    Record* r = record(table);
    r->flags = flags;
    r->keys = keys;
    if (map) r->index = slots;
    r->buckets = buckets;
    r->bound = bound_for(buckets);
    r->size = 0;
    r->occupied = 0;
}

// ---------------------------------------------------------------------------
// Probing.

struct Slot {
    std::int32_t found = -1;  // the bucket that matched
    std::int32_t free = -1;   // where an absent key goes
};

// What a probe finds in a bucket.
enum class Bucket { empty, deleted, live, hit };

// Walks the probe sequence of `hash`: `at` answers for each bucket. The
// first empty or deleted bucket is where an absent key goes.
template <class At>
Slot probe_sequence(const Record* r, std::uint32_t hash, At&& at) {
    const std::uint32_t mask = static_cast<std::uint32_t>(r->buckets) - 1;
    const std::uint32_t home = hash & mask;
    std::uint32_t i = home;
    std::uint32_t step = 0;
    Slot slot;
    for (;;) {
        switch (at(i)) {
            case Bucket::empty:
                if (slot.free < 0) slot.free = static_cast<std::int32_t>(i);
                return slot;
            case Bucket::deleted:
                if (slot.free < 0) slot.free = static_cast<std::int32_t>(i);
                break;
            case Bucket::hit:
                slot.found = static_cast<std::int32_t>(i);
                return slot;
            case Bucket::live:
                break;
        }
        i = (i + ++step) & mask;
        if (i == home) return slot;
    }
}

// `match` receives the bucket of each live key on the probe.
template <class Match>
Slot probe_buckets(const Record* r, std::uint32_t hash, Match&& match) {
    const std::uint32_t* flags = flag_words(r);
    return probe_sequence(r, hash, [&](std::uint32_t i) {
        const int f = flag_at(flags, static_cast<std::int32_t>(i));
        if (f == empty) return Bucket::empty;
        if (f == deleted) return Bucket::deleted;
        return match(i) ? Bucket::hit : Bucket::live;
    });
}

// The key of a live bucket, from the keys or a map's slots.
std::uint32_t key_at(const Record* r, std::int32_t bucket) {
    return r->kind == Kind::map ? map_slots(r)[bucket].key : key_words(r)[bucket];
}

// `match` receives the key of each live bucket on the probe.
template <class Match>
Slot probe(const Record* r, std::uint32_t hash, Match&& match) {
    return probe_buckets(r, hash, [&](std::uint32_t bucket) {
        return match(key_at(r, static_cast<std::int32_t>(bucket)));
    });
}

// Enters a key in the free bucket a probe found; a map keeps its hash.
void occupy(Record* r, std::int32_t bucket, std::uint32_t key, std::uint32_t hash) {
    std::uint32_t* flags = flag_words(r);
    if (flag_at(flags, bucket) == empty) ++r->occupied;
    ++r->size;
    set_flag(flags, bucket, live);
    if (r->kind == Kind::map) {
        map_slots(r)[bucket] = MapSlot{hash, key};
    } else {
        key_words(r)[bucket] = key;
    }
}

// The first bucket on the key's probe that holds no live key.
std::int32_t free_bucket(const Record* r, std::uint32_t hash) {
    const std::uint32_t* flags = flag_words(r);
    const std::uint32_t mask = static_cast<std::uint32_t>(r->buckets) - 1;
    std::uint32_t i = hash & mask;
    for (std::uint32_t step = 1; flag_at(flags, static_cast<std::int32_t>(i)) == live; ++step) {
        i = (i + step) & mask;
    }
    return static_cast<std::int32_t>(i);
}

std::int32_t grow_target(const Record* r) {
    return 2 * r->size < r->buckets ? r->buckets - 1 : r->buckets + 1;
}

// ---------------------------------------------------------------------------
// Keys of each kind.

std::uint32_t resolve_in(const Cell* symbols, std::uint32_t id) {
    const auto alias = static_cast<std::int32_t>(symbols[id - 1].data1);
    return alias > 0 ? static_cast<std::uint32_t>(alias) : id;
}

Cell* chain_cell(const Record* r, std::int32_t key) {
    return memory::buffer_of(r->chains)->cells() + (-key - 1);
}
std::uint32_t* chain_first(const Record* r, std::int32_t key) {
    return reinterpret_cast<std::uint32_t*>(memory::buffer_of(chain_cell(r, key)->data2)->head());
}
std::int32_t chain_length(const Record* r, std::int32_t key) {
    return static_cast<std::int32_t>(memory::buffer_of(chain_cell(r, key)->data2)->used_bytes() / 4);
}

// The cell that stands for a bucket of the hash and map kinds.
Cell* key_cell(const Record* r, std::uint32_t key) {
    const auto k = static_cast<std::int32_t>(key);
    return block_cells(r) + (k >= 0 ? k : static_cast<std::int32_t>(chain_first(r, k)[0]));
}

std::uint32_t text_hash_of(const Cell* symbol) {
    SeriesBuffer* t = memory::buffer_of(symbol->data3);
    return hash_text_folded(t->head(), static_cast<std::int32_t>(t->used_bytes()));
}

// The hash of a stored key, for re-insertion.
std::uint32_t key_hash(const Record* r, std::uint32_t key) {
    switch (r->kind) {
        case Kind::hash:
        case Kind::map: return hash_value(key_cell(r, key), true);
        case Kind::context: {
            const Cell* cells = block_cells(r);
            const Cell* c = cells + key;
            if (c->is(Type::symbol)) return text_hash_of(c);
            return hash_int(symbol::resolve(c->data2));
        }
        default: return hash_int(detail::entry_at(r, key)->data1);
    }
}

bool text_type(Type t) {
    switch (t) {
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email:
        case Type::ref:
            return true;
        default: return false;
    }
}

// The word datatypes that the find operation takes for one another.
bool findable_word(Type t) {
    switch (t) {
        case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
        case Type::refinement:
            return true;
        default: return false;
    }
}

// Two texts of one datatype compared as the string comparison does for
// equality, without its generic set-up: lengths from the indexes, then
// code points, folded unless strict.
bool texts_equal(const Cell* a, const Cell* b, bool fold) {
    if (a->data2 == b->data2 && a->data1 == b->data1) return true;
    SeriesBuffer* ba = memory::buffer_of(a->data2);
    SeriesBuffer* bb = memory::buffer_of(b->data2);
    const std::uint32_t la = ba->length();
    const std::uint32_t lb = bb->length();
    const std::uint32_t ia = a->data1 < la ? a->data1 : la;
    const std::uint32_t ib = b->data1 < lb ? b->data1 : lb;
    const std::uint32_t n = la - ia;
    if (n != lb - ib) return false;
    const std::uint32_t ua = ba->unit();
    const std::uint32_t ub = bb->unit();
    const std::uint8_t* pa = ba->head() + std::size_t{ia} * ua;
    const std::uint8_t* pb = bb->head() + std::size_t{ib} * ub;
    if (ua == ub) {
        // Equal units: the same bytes are the same text under any folding,
        // and a hit usually has them, so the scan by code point is left for
        // keys that differ.
        if (std::memcmp(pa, pb, std::size_t{n} * ua) == 0) return true;
        if (!fold) return false;
    }
    latin_ready();
    for (std::uint32_t i = 0; i < n; ++i, pa += ua, pb += ub) {
        std::uint32_t ca = code_point_at(pa, ua);
        std::uint32_t cb = code_point_at(pb, ub);
        if (ca == cb) continue;
        if (!fold || fold_case(ca) != fold_case(cb)) return false;
    }
    return true;
}

// Under the find operation a word of one kind matches the same word of
// another kind, as a block search finds it.
bool same_key(Cell* stored, const Cell* value, CompareOp op) {
    if (stored->type_id() != value->type_id()) {
        if (op != CompareOp::find || !findable_word(stored->type()) || !findable_word(value->type()))
            return false;
    } else if (op != CompareOp::same && text_type(stored->type())) {
        return texts_equal(stored, value, op != CompareOp::strict_equal);
    }
    auto compare = registry::lookup<Action::compare>(stored->type());
    if (!compare) {
        return stored->data1 == value->data1 && stored->data2 == value->data2 &&
               stored->data3 == value->data3;
    }
    return compare(stored, const_cast<Cell*>(value), op) == 0;
}

// Probes a map over its slots: `match` receives the key cell of each live
// bucket on the probe whose hash is `hash`.
template <class Match>
Slot probe_slots(const Record* r, std::uint32_t hash, Match&& match) {
    const MapSlot* slots = map_slots(r);
    Cell* cells = block_cells(r);
    return probe_sequence(r, hash, [&](std::uint32_t i) {
        const MapSlot at = slots[i];
        if (at.key == empty_slot) return Bucket::empty;
        if (at.key == deleted_slot) return Bucket::deleted;
        return at.hash == hash && match(cells + at.key) ? Bucket::hit : Bucket::live;
    });
}

Slot probe_map(const Record* r, std::uint32_t hash, const Cell* key, CompareOp op) {
    return probe_slots(r, hash, [&](Cell* c) { return same_key(c, key, op); });
}

// Whether a value's hash depends on a node id.
bool refers_to_node(const Cell* value) {
    switch (value->type()) {
        case Type::block: case Type::paren: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path: case Type::native: case Type::action:
        case Type::op: case Type::function: case Type::routine: case Type::object:
        case Type::error: case Type::hash: case Type::map: case Type::port:
        case Type::image: case Type::event:
            return true;
        default: return false;
    }
}

// ---------------------------------------------------------------------------
// The hash kind's index and chains.

void ensure_index(NodeId table, std::int32_t positions) {
    Record* r = record(table);
    SeriesBuffer* b = memory::buffer_of(r->index);
    const std::int64_t needed = std::int64_t{positions} * 4;
    if (needed <= b->size) return;
    const std::int64_t grown = needed > 2 * std::int64_t{b->size} ? needed : 2 * std::int64_t{b->size};
    b = memory::expand_series_filled(b, grown, 0xFF);
    b->tail = b->offset + b->size;
}

void clear_index(const Record* r) {
    SeriesBuffer* b = memory::buffer_of(r->index);
    std::memset(b->head(), 0xFF, b->size);
    if (r->chains) {
        SeriesBuffer* c = memory::buffer_of(r->chains);
        c->tail = c->offset;
    }
}

void index_bucket(NodeId table, std::int32_t bucket, std::uint32_t key) {
    const Record* r = record(table);
    const auto k = static_cast<std::int32_t>(key);
    std::int32_t* index = index_words(r);
    if (k >= 0) {
        index[k] = bucket + 1;
        return;
    }
    const std::uint32_t* chain = chain_first(r, k);
    for (std::int32_t i = 0, n = chain_length(r, k); i < n; ++i) index[chain[i]] = bucket + 1;
}

// Rewrites every position's bucket in the index from the buckets.
void reindex(NodeId table) {
    ensure_index(table, block_length(record(table)));
    const Record* r = record(table);
    std::memset(memory::buffer_of(r->index)->head(), 0xFF, memory::buffer_of(r->index)->size);
    const std::uint32_t* flags = flag_words(r);
    for (std::int32_t b = 0; b < r->buckets; ++b)
        if (flag_at(flags, b) == live) index_bucket(table, b, key_words(r)[b]);
}

// Adds a position to the bucket of its equal values, making a chain when the
// bucket held one position.
void chain_add(NodeId table, std::int32_t bucket, std::int32_t position) {
    if (!record(table)->chains) {
        const NodeId chains = memory::alloc_cells(4);
        record(table)->chains = chains;
    }
    const auto key = static_cast<std::int32_t>(key_words(record(table))[bucket]);
    if (key >= 0) {
        const NodeId chain = memory::alloc_bytes(16);
        SeriesBuffer* cb = memory::buffer_of(chain);
        auto* words = reinterpret_cast<std::uint32_t*>(cb->head());
        words[0] = static_cast<std::uint32_t>(key);
        words[1] = static_cast<std::uint32_t>(position);
        cb->tail = cb->offset + 8;
        SeriesBuffer* chains = memory::buffer_of(record(table)->chains);
        const std::uint32_t number = chains->length() + 1;
        Cell* c = memory::alloc_tail_cell(chains);
        *c = Cell{node_header, 0, chain, 0};
        key_words(record(table))[bucket] = static_cast<std::uint32_t>(-static_cast<std::int32_t>(number));
    } else {
        SeriesBuffer* cb = memory::buffer_of(chain_cell(record(table), key)->data2);
        auto* at = reinterpret_cast<std::uint32_t*>(memory::alloc_tail_bytes(cb, 4));
        *at = static_cast<std::uint32_t>(position);
    }
    ensure_index(table, position + 1);
    index_words(record(table))[position] = bucket + 1;
}

// Adds one block position of a hash or map table; no growth check.
int add_position(NodeId table, std::int32_t position) {
    Record* r = record(table);
    Cell* value = block_cells(r) + position;
    if (r->stamp == 0 && refers_to_node(value)) r->stamp = collector::node_compaction_count() + 1;
    const std::uint32_t hash = hash_value(value, true);
    const Slot slot = probe(r, hash, [&](std::uint32_t key) {
        return same_key(key_cell(r, key), value, CompareOp::equal);
    });
    if (slot.found >= 0) {
        if (r->kind == Kind::hash) chain_add(table, slot.found, position);
        return 1;
    }
    occupy(r, slot.free, static_cast<std::uint32_t>(position), hash);
    if (r->kind == Kind::hash) {
        ensure_index(table, position + 1);
        index_words(record(table))[position] = slot.free + 1;
    }
    return 0;
}

// Re-inserts every live key into `buckets` new buckets (all kinds but hash).
// A map's removed entries keep their buckets, so its live buckets may
// outnumber its size.
void reinsert(NodeId table, std::int32_t buckets) {
    Record* r = record(table);
    if (buckets < 4) buckets = 4;
    const auto bound = static_cast<std::int32_t>(buckets * load_factor + 0.5);
    std::int32_t in_use = 0;
    for (std::int32_t b = 0; b < r->buckets; ++b) in_use += flag_at(flag_words(r), b) == live;
    if (in_use >= bound) return;
    const NodeId old_flags = r->flags;
    const NodeId old_keys = r->keys;
    const NodeId old_slots = r->kind == Kind::map ? r->index : 0;
    const std::int32_t old_buckets = r->buckets;
    const std::int32_t size = r->size;
    new_buckets(table, buckets);
    r = record(table);
    r->bound = bound;
    const auto* flags = reinterpret_cast<const std::uint32_t*>(memory::buffer_of(old_flags)->head());
    for (std::int32_t b = 0; b < old_buckets; ++b) {
        if (flag_at(flags, b) != live) continue;
        if (old_slots) {
            const MapSlot at = reinterpret_cast<const MapSlot*>(memory::buffer_of(old_slots)->head())[b];
            occupy(r, free_bucket(r, at.hash), at.key, at.hash);
            continue;
        }
        const auto* keys = reinterpret_cast<const std::uint32_t*>(memory::buffer_of(old_keys)->head());
        const std::uint32_t key = keys[b];
        const std::uint32_t hash = key_hash(r, key);
        occupy(r, free_bucket(r, hash), key, hash);
    }
    r->size = size;
}

// Node compaction stays off while a table that may hash node ids is rebuilt,
// whatever way the rebuild is left.
class CompactionPause {
public:
    CompactionPause() : was_(collector::node_compaction()) { collector::set_node_compaction(false); }
    ~CompactionPause() { collector::set_node_compaction(was_); }
    CompactionPause(const CompactionPause&) = delete;
    CompactionPause& operator=(const CompactionPause&) = delete;

private:
    bool was_;
};

// Applies a position mapping to every stored position of a hash table.
template <class Map>
void remap_positions(NodeId table, Map&& map) {
    const Record* r = record(table);
    const std::uint32_t* flags = flag_words(r);
    std::uint32_t* keys = key_words(r);
    for (std::int32_t b = 0; b < r->buckets; ++b) {
        if (flag_at(flags, b) != live) continue;
        const auto k = static_cast<std::int32_t>(keys[b]);
        if (k >= 0) {
            keys[b] = static_cast<std::uint32_t>(map(k));
            continue;
        }
        std::uint32_t* chain = chain_first(r, k);
        for (std::int32_t i = 0, n = chain_length(r, k); i < n; ++i)
            chain[i] = static_cast<std::uint32_t>(map(static_cast<std::int32_t>(chain[i])));
    }
}

// Removes one position from its bucket: from the chain, or the bucket.
void unindex_position(NodeId table, std::int32_t position) {
    Record* r = record(table);
    std::int32_t* index = index_words(r);
    if (position * 4 >= static_cast<std::int32_t>(memory::buffer_of(r->index)->size)) return;
    const std::int32_t bucket = index[position] - 1;
    if (bucket < 0) return;
    index[position] = -1;
    const auto key = static_cast<std::int32_t>(key_words(r)[bucket]);
    if (key < 0) {
        SeriesBuffer* cb = memory::buffer_of(chain_cell(r, key)->data2);
        auto* chain = reinterpret_cast<std::uint32_t*>(cb->head());
        std::int32_t n = static_cast<std::int32_t>(cb->used_bytes() / 4);
        for (std::int32_t i = 0; i < n; ++i) {
            if (static_cast<std::int32_t>(chain[i]) != position) continue;
            std::memmove(chain + i, chain + i + 1, static_cast<std::size_t>(n - i - 1) * 4);
            cb->tail -= 4;
            --n;
            break;
        }
        if (n > 0) return;
    }
    set_flag(flag_words(r), bucket, deleted);
    --r->size;
}

// Enters every position of an existing block in a context-kind table.
void add_block_keys(NodeId table) {
    const std::int32_t length = block_length(record(table));
    for (std::int32_t at = 0; at < length; ++at) {
        if (record(table)->occupied >= record(table)->bound) grow(table, grow_target(record(table)));
        Record* r = record(table);
        const std::uint32_t hash = key_hash(r, static_cast<std::uint32_t>(at));
        occupy(r, free_bucket(r, hash), static_cast<std::uint32_t>(at), hash);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Detail and sizes.

namespace detail {
int bucket_flag(const Record* r, std::int32_t bucket) { return flag_at(flag_words(r), bucket); }
std::uint32_t bucket_key(const Record* r, std::int32_t bucket) { return key_at(r, bucket); }
Cell* entry_at(const Record* r, std::uint32_t offset) {
    return reinterpret_cast<Cell*>(memory::buffer_of(r->values)->head() + offset);
}
}  // namespace detail

Record* record(NodeId table) {
    return reinterpret_cast<Record*>(memory::buffer_of(table)->head());
}

std::uint32_t next_power_of_two(std::uint32_t v) {
    v -= 1;
    v |= v >> 1;
    v |= v >> 2;
    v |= v >> 4;
    v |= v >> 8;
    v |= v >> 16;
    return v + 1;
}

std::int32_t bucket_count_for(std::int32_t size) {
    if (size < 4) size = 4;
    return static_cast<std::int32_t>(
        next_power_of_two(static_cast<std::uint32_t>(static_cast<std::int32_t>(size / load_factor))));
}

// ---------------------------------------------------------------------------
// Making.

NodeId init(std::int32_t size, const Cell* block, Kind kind, std::int32_t cells) {
    if (kind == Kind::context && size >= 4000) size *= 2;
    const NodeId table = new_record(kind);
    new_buckets(table, bucket_count_for(size));
    const std::int64_t room = size < 1 ? 1 : size;
    switch (kind) {
        case Kind::hash: {
            const NodeId index = memory::alloc_filled_bytes(room * 4, 0xFF);
            memory::buffer_of(index)->tail = memory::buffer_of(index)->offset + memory::buffer_of(index)->size;
            record(table)->index = index;
            [[fallthrough]];
        }
        case Kind::map: {
            const NodeId values = block ? block->data2 : memory::alloc_cells(room);
            record(table)->values = values;
            if (block) rehash_block(table, 0);
            break;
        }
        case Kind::context: {
            // The symbol table's index is made over the existing symbol block.
            const NodeId words = block ? block->data2 : memory::alloc_cells(room);
            record(table)->values = words;
            if (block) add_block_keys(table);
            break;
        }
        case Kind::integer:
        case Kind::owners: {
            // The owners' entries sit in a byte series, so that marking the
            // table does not mark what the entries refer to.
            const NodeId entries = kind == Kind::owners ? memory::alloc_bytes(room * 16)
                                                        : memory::alloc_cells(room);
            Record* r = record(table);
            r->values = entries;
            r->entry_size = 16 + 16 * static_cast<std::uint32_t>(cells);
            // Owner keys are nodes: the table depends on node ids.
            if (kind == Kind::owners) r->stamp = collector::node_compaction_count() + 1;
            break;
        }
    }
    return table;
}

namespace {

// A copy of the record with its own flags and keys, and its own values
// unless `values` names them.
NodeId copy_record(NodeId table, NodeId values) {
    const NodeId copy = new_record(record(table)->kind);
    const NodeId flags = memory::copy_series(memory::buffer_of(record(table)->flags));
    record(copy)->flags = flags;
    if (record(table)->keys) {
        const NodeId keys = memory::copy_series(memory::buffer_of(record(table)->keys));
        record(copy)->keys = keys;
    }
    if (!values) values = memory::copy_series(memory::buffer_of(record(table)->values));
    Record* from = record(table);
    Record* to = record(copy);
    to->values = values;
    to->size = from->size;
    to->occupied = from->occupied;
    to->buckets = from->buckets;
    to->bound = from->bound;
    to->stamp = from->stamp;
    to->entry_size = from->entry_size;
    to->variants = from->variants;
    return copy;
}

}  // namespace

NodeId copy_buffers(NodeId table) { return copy_record(table, 0); }

NodeId copy(NodeId table, NodeId new_values) {
    const NodeId copy = copy_record(table, new_values);
    if (record(table)->index) {
        const NodeId index = memory::copy_series(memory::buffer_of(record(table)->index));
        record(copy)->index = index;
    }
    if (record(table)->chains) {
        const NodeId chains = memory::copy_series(memory::buffer_of(record(table)->chains));
        record(copy)->chains = chains;
        const std::uint32_t n = memory::buffer_of(chains)->length();
        for (std::uint32_t i = 0; i < n; ++i) {
            const NodeId chain =
                memory::copy_series(memory::buffer_of(memory::buffer_of(chains)->cells()[i].data2));
            memory::buffer_of(chains)->cells()[i].data2 = chain;
        }
    }
    return copy;
}

// ---------------------------------------------------------------------------
// Hash and map kinds.

Cell* put(NodeId table, Cell* value, int* found) {
    check_refresh(table);
    Record* r = record(table);
    const auto position = static_cast<std::int32_t>(value - block_cells(r));
    if (r->occupied >= r->bound) {
        if (r->kind == Kind::hash) {
            grow(table, grow_target(r));
            if (found) *found = 2;
            return value;
        }
        grow(table, r->buckets + 1);
    }
    const int result = add_position(table, position);
    if (found) *found = result;
    return value;
}

Cell* put_value(NodeId table, Cell* value) { return put(table, value, nullptr); }

Cell* find_next(NodeId table, const Cell* key, Probe* p, CompareOp op) {
    check_refresh(table);
    const Record* r = record(table);
    const std::uint32_t mask = static_cast<std::uint32_t>(r->buckets) - 1;
    const std::uint32_t* flags = flag_words(r);
    Cell* cells = block_cells(r);
    for (;;) {
        if (p->in_chain >= 0) {
            const auto k = static_cast<std::int32_t>(key_at(r, p->bucket));
            const std::uint32_t* chain = chain_first(r, k);
            const std::int32_t n = chain_length(r, k);
            while (p->in_chain < n) {
                Cell* c = cells + chain[p->in_chain++];
                if (same_key(c, key, op)) return c;
            }
            p->in_chain = -1;
        }
        if (p->bucket == -1) {
            p->home = static_cast<std::int32_t>(hash_value(key, true) & mask);
            p->bucket = p->home;
            p->step = 0;
        } else {
            if (p->step < 0) return nullptr;  // the probe has ended
            p->bucket = static_cast<std::int32_t>((static_cast<std::uint32_t>(p->bucket) + ++p->step) & mask);
            if (p->bucket == p->home) {
                p->step = -1;
                return nullptr;
            }
        }
        const int f = flag_at(flags, p->bucket);
        if (f == empty) {
            p->step = -1;
            return nullptr;
        }
        if (f == deleted) continue;
        const auto k = static_cast<std::int32_t>(key_at(r, p->bucket));
        if (k < 0) {
            // A chain holds values equal to its first: a match among them
            // has to be equal to that one, or a word of another kind.
            Cell* first = key_cell(r, key_at(r, p->bucket));
            const bool other_kind = op == CompareOp::find && first->type_id() != key->type_id();
            if (same_key(first, key, other_kind ? CompareOp::find : CompareOp::equal)) p->in_chain = 0;
            continue;
        }
        if (same_key(cells + k, key, op)) return cells + k;
    }
}

Cell* find(NodeId table, const Cell* value, std::int32_t start, std::int32_t skip, CompareOp op,
           bool last, bool reverse) {
    Cell key = *value;
    if (record(table)->kind == Kind::map &&
        (key.is(Type::word) || key.is(Type::lit_word) || key.is(Type::get_word)))
        key.set_type(Type::set_word);
    if (skip < 1) skip = 1;
    Probe p;
    Cell* best = nullptr;
    std::int32_t best_at = -1;
    while (Cell* c = find_next(table, &key, &p, op)) {
        const auto at = static_cast<std::int32_t>(c - block_cells(record(table)));
        const std::int32_t distance = reverse ? start - at : at - start;
        if (distance < 0 || distance % skip != 0) continue;
        const bool better = best_at < 0 || (reverse ? at > best_at : last ? at > best_at : at < best_at);
        if (better) {
            best = c;
            best_at = at;
        }
    }
    return best;
}

namespace {

bool live_entry(const Cell* key) { return key[1].header != 0; }

// Whether the key cell `c` should answer a lookup rather than `best`.
bool preferred(const Cell* c, const Cell* best) {
    if (!best) return true;
    if (live_entry(c) != live_entry(best)) return live_entry(c);
    return c < best;
}

}  // namespace

Cell* find_map_key(NodeId table, const Cell* key, CompareOp op, std::uint32_t* hash_out) {
    check_refresh(table);
    Cell k = *key;
    if (k.is(Type::word) || k.is(Type::lit_word) || k.is(Type::get_word)) k.set_type(Type::set_word);
    const std::uint32_t hash = hash_value(&k, true);
    if (hash_out) *hash_out = hash;
    const Record* r = record(table);
    // Strictly equal keys never repeat, nor do equal ones until a
    // case-sensitive store adds a variant: then the first match is the one.
    const bool first = op == CompareOp::strict_equal || (op == CompareOp::equal && !r->variants);
    Cell* best = nullptr;
    probe_slots(r, hash, [&](Cell* c) {
        if (!same_key(c, &k, op)) return false;
        if (preferred(c, best)) best = c;
        return first;
    });
    return best;
}

void add_map_key(NodeId table, std::int32_t position, bool case_, std::uint32_t hash) {
    if (record(table)->occupied >= record(table)->bound) grow(table, record(table)->buckets + 1);
    Record* r = record(table);
    const Cell* key = block_cells(r) + position;
    if (case_ && !r->variants && probe_map(r, hash, key, CompareOp::equal).found >= 0) r->variants = 1;
    // The lookup that found the key absent has just read these slots.
    const MapSlot* slots = map_slots(r);
    const std::uint32_t mask = static_cast<std::uint32_t>(r->buckets) - 1;
    std::uint32_t i = hash & mask;
    for (std::uint32_t step = 1; slots[i].key < deleted_slot; ++step) i = (i + step) & mask;
    occupy(r, static_cast<std::int32_t>(i), static_cast<std::uint32_t>(position), hash);
}

std::int32_t find_position(NodeId table, const Cell* value, CompareOp op, std::int32_t from,
                           std::int32_t step, std::int32_t low, std::int32_t high) {
    const std::int32_t stride = step < 0 ? -step : step;
    std::int32_t best = -1;
    Probe p;
    while (Cell* c = find_next(table, value, &p, op)) {
        const auto at = static_cast<std::int32_t>(c - block_cells(record(table)));
        if (at < low || at >= high) continue;
        const std::int32_t distance = step < 0 ? from - at : at - from;
        if (distance < 0 || distance % stride != 0) continue;
        if (best < 0 || (step < 0 ? at > best : at < best)) best = at;
    }
    return best;
}

bool indexable_q(const Cell* value) {
    switch (value->type()) {
        case Type::none: case Type::logic: case Type::char_: case Type::integer: case Type::float_:
        case Type::percent: case Type::pair: case Type::time: case Type::date: case Type::tuple:
        case Type::binary: case Type::issue:
            return true;
        default: return text_type(value->type()) || findable_word(value->type());
    }
}

void delete_value(NodeId table, Cell* cell) {
    Record* r = record(table);
    if (r->kind == Kind::map) {
        cell[1].header = 0;
        --r->size;
        return;
    }
    unindex_position(table, static_cast<std::int32_t>(cell - block_cells(r)));
}

void remove_range(NodeId table, std::int32_t position, std::int32_t count) {
    Record* r = record(table);
    if (position == 0 && count >= block_length(r)) {
        clear(table);
        return;
    }
    for (std::int32_t i = 0; i < count; ++i) {
        if (r->kind == Kind::hash) {
            unindex_position(table, position + i);
            continue;
        }
        // A map's entries leave their buckets outright.
        const auto at = static_cast<std::uint32_t>(position + i);
        std::uint32_t* flags = flag_words(r);
        for (std::int32_t b = 0; b < r->buckets; ++b) {
            if (flag_at(flags, b) == live && key_at(r, b) == at) {
                set_flag(flags, b, deleted);
                map_slots(r)[b].key = deleted_slot;
                --r->size;
            }
        }
    }
}

void rehash_block(NodeId table, std::int32_t position) {
    Record* r = record(table);
    const bool is_map = r->kind == Kind::map;
    for (std::int32_t at = position; at < block_length(record(table)); at += is_map ? 2 : 1) {
        if (record(table)->occupied >= record(table)->bound) {
            if (!is_map) {
                // The rebuild adds the whole block, this value included.
                grow(table, grow_target(record(table)));
                return;
            }
            grow(table, record(table)->buckets + 1);
        }
        if (!is_map) {
            add_position(table, at);
            continue;
        }
        r = record(table);
        Cell* cells = block_cells(r);
        Cell* key = cells + at;
        const std::uint32_t hash = hash_value(key, true);
        const Slot slot = probe_map(r, hash, key, CompareOp::equal);
        if (slot.found < 0) {
            occupy(r, slot.free, static_cast<std::uint32_t>(at), hash);
            continue;
        }
        // A repeated key: the earlier key takes the later value and the
        // later pair leaves the block.
        SeriesBuffer* b = memory::buffer_of(r->values);
        cells[key_at(r, slot.found) + 1] = key[1];
        std::memmove(key, key + 2, static_cast<std::size_t>(b->cells_tail() - (key + 2)) * sizeof(Cell));
        b->tail -= 2 * sizeof(Cell);
        at -= 2;
    }
}

bool refresh(NodeId table, std::int32_t delta, std::int32_t start) {
    // Values added at the tail move no stored position.
    if (delta > 0 && start >= block_length(record(table)) - delta) return false;
    if (block_length(record(table)) > refresh_limit) return true;
    remap_positions(table, [&](std::int32_t p) { return p >= start ? p + delta : p; });
    reindex(table);
    return false;
}

void move(NodeId table, std::int32_t to, std::int32_t from, std::int32_t count) {
    if (to == from || count <= 0) return;
    remap_positions(table, [&](std::int32_t p) {
        if (p >= from && p < from + count) return p - from + to;
        if (to < from && p >= to && p < from) return p + count;
        if (to > from && p >= from + count && p < to + count) return p - count;
        return p;
    });
    reindex(table);
}

void clear(NodeId table) {
    Record* r = record(table);
    SeriesBuffer* f = memory::buffer_of(r->flags);
    std::memset(f->head(), 0xAA, f->used_bytes());
    r->size = 0;
    r->occupied = 0;
    if (r->kind == Kind::hash) clear_index(r);
    if (r->kind == Kind::map) clear_slots(r);
}

void resize(NodeId table, std::int32_t size) {
    std::int32_t buckets = static_cast<std::int32_t>(
        next_power_of_two(static_cast<std::uint32_t>(static_cast<std::int32_t>(size * 1.5))));
    if (buckets < 4) buckets = 4;
    const bool stamped = record(table)->stamp != 0;
    new_buckets(table, buckets);
    Record* r = record(table);
    r->stamp = stamped ? collector::node_compaction_count() + 1 : 0;
    clear_index(r);
    for (std::int32_t at = 0; at < block_length(record(table)); ++at) {
        // A table never fills: a block with more distinct values than the
        // new size allows is rebuilt larger.
        if (record(table)->occupied >= record(table)->bound) {
            resize(table, grow_target(record(table)));
            return;
        }
        add_position(table, at);
    }
}

void grow(NodeId table, std::int32_t size) {
    CompactionPause pause;
    Record* r = record(table);
    switch (r->kind) {
        case Kind::hash: resize(table, size); return;
        case Kind::context:
            reinsert(table, static_cast<std::int32_t>(next_power_of_two(static_cast<std::uint32_t>(size) * 16)));
            return;
        default:
            reinsert(table, static_cast<std::int32_t>(next_power_of_two(static_cast<std::uint32_t>(size))));
            return;
    }
}

void rebuild_index(NodeId table) {
    Record* r = record(table);
    // Tracked memory, reused from call to call: a rebuild may run inside a
    // collection, where nothing is taken from the heap.
    static raw::RawArray<std::uint32_t> live_keys;
    live_keys.clear();
    const std::uint32_t* flags = flag_words(r);
    for (std::int32_t b = 0; b < r->buckets; ++b)
        if (flag_at(flags, b) == live) live_keys.push(key_at(r, b));
    SeriesBuffer* fb = memory::buffer_of(r->flags);
    std::memset(fb->head(), 0xAA, fb->used_bytes());
    // A map's removed entries keep their buckets but leave its size.
    const std::int32_t size = r->size;
    r->size = 0;
    r->occupied = 0;
    if (r->kind == Kind::map) clear_slots(r);
    for (std::uint32_t key : live_keys) {
        const std::uint32_t hash = key_hash(r, key);
        occupy(r, free_bucket(r, hash), key, hash);
    }
    if (r->kind == Kind::map) r->size = size;
    if (r->kind == Kind::hash) {
        // GC: nothing above allocated, so the index is rewritten in place.
        std::memset(memory::buffer_of(r->index)->head(), 0xFF, memory::buffer_of(r->index)->size);
        for (std::int32_t b = 0; b < r->buckets; ++b)
            if (flag_at(flag_words(r), b) == live) {
                const auto k = static_cast<std::int32_t>(key_words(r)[b]);
                if (k >= 0) {
                    index_words(r)[k] = b + 1;
                } else {
                    const std::uint32_t* chain = chain_first(r, k);
                    for (std::int32_t i = 0, n = chain_length(r, k); i < n; ++i)
                        index_words(r)[chain[i]] = b + 1;
                }
            }
    }
}

void check_refresh(NodeId table) {
    Record* r = record(table);
    const std::uint32_t now = collector::node_compaction_count() + 1;
    if (r->stamp == 0 || r->stamp == now || collector::collecting()) return;
    if (r->kind == Kind::hash) {
        grow(table, block_length(r));
    } else {
        rebuild_index(table);
    }
    record(table)->stamp = now;
}

// ---------------------------------------------------------------------------
// Integer kinds.

namespace {

Slot probe_key(const Record* r, std::uint32_t key) {
    return probe(r, hash_int(key), [&](std::uint32_t offset) {
        return detail::entry_at(r, offset)->data1 == key;
    });
}

}  // namespace

Cell* put_key(NodeId table, std::uint32_t key) {
    check_refresh(table);
    const Slot found = probe_key(record(table), key);
    if (found.found >= 0) {
        const Record* r = record(table);
        return detail::entry_at(r, key_words(r)[found.found]) + 1;
    }
    if (record(table)->occupied >= record(table)->bound) grow(table, grow_target(record(table)));
    // GC: the entry is reserved before the probe that places it, since a
    // collection may prune the owners table and rebuild its buckets.
    const std::uint32_t entry_size = record(table)->entry_size;
    memory::alloc_tail_bytes(memory::buffer_of(record(table)->values), entry_size);
    Record* r = record(table);
    const std::uint32_t offset = memory::buffer_of(r->values)->used_bytes() - entry_size;
    Cell* entry = detail::entry_at(r, offset);
    for (std::uint32_t i = 0; i < entry_size / sizeof(Cell); ++i) entry[i] = Cell{unset_header, 0, 0, 0};
    entry->data1 = key;
    occupy(r, probe_key(r, key).free, offset, 0);
    return entry + 1;
}

Cell* get_key(NodeId table, std::uint32_t key) {
    check_refresh(table);
    const Record* r = record(table);
    const Slot slot = probe_key(r, key);
    return slot.found < 0 ? nullptr : detail::entry_at(r, key_words(r)[slot.found]) + 1;
}

Cell* delete_key(NodeId table, std::uint32_t key) {
    check_refresh(table);
    Record* r = record(table);
    const Slot slot = probe_key(r, key);
    if (slot.found < 0) return nullptr;
    Cell* entry = detail::entry_at(r, key_words(r)[slot.found]);
    set_flag(flag_words(r), slot.found, deleted);
    --r->size;
    entry->header = 0;
    return entry + 1;
}

void prune_weak(NodeId table) {
    Record* r = record(table);
    const std::uint32_t cells = r->entry_size / sizeof(Cell);
    bool moved = false;
    for (std::int32_t b = 0; b < r->buckets; ++b) {
        if (flag_at(flag_words(r), b) != live) continue;
        Cell* entry = detail::entry_at(r, key_words(r)[b]);
        const NodeId key = collector::relocated(entry->data1);
        moved = moved || key != entry->data1;
        entry->data1 = key;
        collector::relocate_range(&entry[1].header, &entry[cells].header);
        // The owner is the entry's second value cell; an object! names its
        // context in payload word 1.
        const bool owner_dead = cells > 2 && entry[2].data1 && !collector::is_marked(entry[2].data1);
        if (!collector::is_marked(key) || owner_dead) {
            // A series that outlives its owner may be owned again.
            if (collector::is_marked(key)) memory::buffer_of(key)->flags &= ~memory::series_flag::owned;
            set_flag(flag_words(r), b, deleted);
            --r->size;
            for (std::uint32_t i = 0; i < cells; ++i) entry[i] = Cell{unset_header, 0, 0, 0};
            entry->header = 0;
        }
    }
    if (moved) rebuild_index(table);
}

// ---------------------------------------------------------------------------
// Context words.

std::int32_t find_context_word(NodeId table, std::uint32_t symbol, bool by_canonical,
                               NodeId context, std::int32_t* index) {
    if (context && record(table)->occupied >= record(table)->bound)
        grow(table, grow_target(record(table)));
    const std::uint32_t canonical = symbol::resolve(symbol);
    Record* r = record(table);
    const Cell* words = block_cells(r);
    const Slot slot = probe(r, hash_int(canonical), [&](std::uint32_t key) {
        const std::uint32_t s = words[key].data2;
        return by_canonical ? symbol::resolve(s) == canonical : s == symbol;
    });
    if (slot.found >= 0) {
        // A word's own index: a case variant's word in the global context
        // carries the index of the canonical spelling's word.
        const auto found = static_cast<std::int32_t>(words[key_words(r)[slot.found]].data3);
        if (index) *index = found;
        return found;
    }
    if (!context) return -1;
    SeriesBuffer* wb = memory::buffer_of(r->values);
    const auto added = static_cast<std::int32_t>(wb->length());
    Cell* word = memory::alloc_tail_cell(wb);
    *word = Cell{static_cast<std::uint32_t>(Type::word), context, symbol, static_cast<std::uint32_t>(added)};
    occupy(record(table), slot.free, static_cast<std::uint32_t>(added), 0);
    if (index) *index = added;
    return -1;
}

// ---------------------------------------------------------------------------
// Interning.

namespace {

bool ascii_equal_ci(const std::uint8_t* a, const std::uint8_t* b, std::int32_t n) {
    for (std::int32_t i = 0; i < n; ++i) {
        std::uint8_t x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        if (x != y) return false;
    }
    return true;
}

}  // namespace

std::uint32_t intern_symbol(NodeId table, const std::uint8_t* text, std::int32_t length,
                            bool any_case) {
    if (record(table)->occupied >= record(table)->bound) grow(table, grow_target(record(table)));
    Record* r = record(table);
    const Cell* symbols = block_cells(r);
    const std::uint32_t hash = hash_text_folded(text, length);
    auto same_length = [&](std::uint32_t key, const std::uint8_t** other) {
        SeriesBuffer* t = memory::buffer_of(symbols[key].data3);
        *other = t->head();
        return static_cast<std::int32_t>(t->used_bytes()) == length;
    };
    auto loose = [&](std::uint32_t key) {
        const std::uint8_t* other;
        return same_length(key, &other) && ascii_equal_ci(other, text, length);
    };
    std::int32_t alias = -1;
    Slot slot;
    if (any_case) {
        slot = probe(r, hash, loose);
        if (slot.found >= 0) return key_words(r)[slot.found] + 1;
    } else {
        slot = probe(r, hash, [&](std::uint32_t key) {
            const std::uint8_t* other;
            return same_length(key, &other) && std::memcmp(other, text, static_cast<std::size_t>(length)) == 0;
        });
        if (slot.found >= 0) return key_words(r)[slot.found] + 1;
        const Slot variant = probe(r, hash, loose);
        if (variant.found >= 0)
            alias = static_cast<std::int32_t>(resolve_in(symbols, key_words(r)[variant.found] + 1));
    }
    // GC: `text` may point into a heap buffer; a pointer on the stack pins it.
    const NodeId bytes = memory::alloc_bytes(length + 1);
    SeriesBuffer* tb = memory::buffer_of(bytes);
    std::memcpy(tb->head(), text, static_cast<std::size_t>(length));
    tb->head()[length] = 0;
    tb->tail = tb->offset + static_cast<std::uint32_t>(length);
    SeriesBuffer* block = memory::buffer_of(record(table)->values);
    const std::uint32_t position = block->length();
    Cell* symbol = memory::alloc_tail_cell(block);
    *symbol = Cell{static_cast<std::uint32_t>(Type::symbol), static_cast<std::uint32_t>(alias), 0, bytes};
    occupy(record(table), slot.free, position, 0);
    return position + 1;
}

// ---------------------------------------------------------------------------
// Hashing.

void set_seed(std::uint32_t seed) { murmur_seed = seed; }

namespace {

constexpr std::uint32_t rotl(std::uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

struct Murmur {
    std::uint32_t h = murmur_seed;
    std::uint32_t length = 0;
    void block(std::uint32_t k) {
        k *= 0xCC9E2D51;
        k = rotl(k, 15);
        k *= 0x1B873593;
        h ^= k;
        h = rotl(h, 13);
        h = h * 5 + 0xE6546B64;
        length += 4;
    }
    std::uint32_t finish(const std::uint8_t* tail, std::uint32_t n) {
        std::uint32_t k = 0;
        switch (n) {
            case 3: k ^= static_cast<std::uint32_t>(tail[2]) << 16; [[fallthrough]];
            case 2: k ^= static_cast<std::uint32_t>(tail[1]) << 8; [[fallthrough]];
            case 1:
                k ^= tail[0];
                k *= 0xCC9E2D51;
                k = rotl(k, 15);
                k *= 0x1B873593;
                h ^= k;
        }
        h ^= length + n;
        return hash_int(h);
    }
};

std::uint32_t load32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

std::uint32_t murmur_words(const std::uint32_t* words, int count) {
    return murmur3(words, static_cast<std::size_t>(count) * 4);
}

// Dates compare as instants, so equal instants in different zones, and a
// date without time and its midnight, must hash alike. The instant is
// taken to the nearest second: dates a fraction apart share a hash but
// still compare unequal.
std::uint32_t hash_instant(const Cell* value) {
    const double seconds = static_cast<double>(date::to_days(date::packed(value))) * 86400.0 +
                           date::time_of(value);
    const std::int64_t whole = std::llround(seconds);
    return murmur3(&whole, sizeof whole);
}

}  // namespace

std::uint32_t murmur3(const void* data, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    Murmur m;
    const std::size_t blocks = length / 4;
    for (std::size_t i = 0; i < blocks; ++i) m.block(load32(p + i * 4));
    return m.finish(p + blocks * 4, static_cast<std::uint32_t>(length & 3));
}

std::uint32_t hash_text_folded(const std::uint8_t* text, std::int32_t length) {
    Murmur m;
    std::uint8_t folded[4];
    std::int32_t i = 0;
    auto fold = [](std::uint8_t c) { return static_cast<std::uint8_t>(c >= 'a' && c <= 'z' ? c - 32 : c); };
    for (; i + 4 <= length; i += 4) {
        for (int j = 0; j < 4; ++j) folded[j] = fold(text[i + j]);
        m.block(load32(folded));
    }
    const std::int32_t rest = length - i;
    for (std::int32_t j = 0; j < rest; ++j) folded[j] = fold(text[i + j]);
    return m.finish(folded, static_cast<std::uint32_t>(rest));
}

std::uint32_t hash_string(const Cell* value, bool fold) {
    SeriesBuffer* b = memory::buffer_of(value->data2);
    const std::uint32_t unit = b->unit();
    std::uint32_t index = value->data1;
    if (index > b->length()) index = b->length();
    Murmur m;
    const std::uint8_t* end = b->tail_ptr();
    const std::uint8_t* p = b->head() + index * unit;
    if (fold) latin_ready();
    if (unit == 1) {
        if (fold) {
            for (; p < end; ++p) m.block(fold_case(*p));
        } else {
            for (; p < end; ++p) m.block(*p);
        }
        return m.finish(nullptr, 0);
    }
    for (; p < end; p += unit) {
        const std::uint32_t cp = code_point_at(p, unit);
        m.block(fold ? fold_case(cp) : cp);
    }
    return m.finish(nullptr, 0);
}

std::uint32_t hash_symbol(const Cell* symbol) { return text_hash_of(symbol); }

std::uint32_t hash_value(const Cell* value, bool fold) {
    const std::uint32_t words[3] = {value->data1, value->data2, value->data3};
    switch (value->type()) {
        case Type::unset: return static_cast<std::uint32_t>(-2);
        case Type::none: return static_cast<std::uint32_t>(-1);
        case Type::datatype: case Type::logic: case Type::object: case Type::error:
        case Type::port:
            return hash_int(value->data1);
        case Type::char_: case Type::integer: case Type::map: case Type::handle:
        case Type::event:
            return hash_int(value->data2);
        case Type::native: case Type::action: return hash_int(value->data3);
        case Type::block: case Type::paren: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path: case Type::hash: case Type::image:
        case Type::point2d:
            return murmur_words(words, 2);
        case Type::float_: case Type::percent: case Type::time: {
            // -0.0 equals 0.0, so both hash as 0.0.
            const std::uint32_t zero[2] = {0, 0};
            return murmur_words(float_::get(value) == 0.0 ? zero : words + 1, 2);
        }
        case Type::pair: return murmur_words(words + 1, 2);
        case Type::date: return hash_instant(value);
        case Type::op: case Type::function: case Type::triple: case Type::typeset:
        case Type::point3d:
            return murmur_words(words, 3);
        case Type::tuple: {
            const std::uint32_t length = (value->header >> 19) & 0xF;
            return murmur3(&value->data1, length > 12 ? 12 : length);
        }
        case Type::binary: {
            SeriesBuffer* b = memory::buffer_of(value->data2);
            std::uint32_t index = value->data1;
            if (index > b->used_bytes()) index = b->used_bytes();
            return murmur3(b->head() + index, b->used_bytes() - index);
        }
        case Type::money: {
            Cell copy = *value;
            copy.header &= 0xFF | 0x4000;
            return murmur3(&copy, sizeof copy);
        }
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email:
        case Type::ref:
            return hash_string(value, fold);
        case Type::symbol: return hash_symbol(value);
        case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
        case Type::refinement: case Type::issue:
            return hash_int(symbol::resolve(value->data2));
        default: return 0;
    }
}

}  // namespace kiv::hashtable
