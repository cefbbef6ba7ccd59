// map!: keys, lookup and storage, the entry walks; then the actions in
// action order and the registration.
#include "runtime/datatypes/map.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace kiv::map {

namespace {

using memory::SeriesBuffer;

NodeId table_of(const Cell* map) { return map->data3; }
SeriesBuffer* entries(const Cell* map) { return memory::buffer_of(map->data2); }
Cell* cells(const Cell* map) { return entries(map)->cells(); }
std::int32_t cell_count(const Cell* map) { return static_cast<std::int32_t>(entries(map)->length()); }
// A removed entry's value cell has the header 0.
bool removed(const Cell* value_cell) { return value_cell->header == 0; }

CompareOp lookup_op(bool case_) { return case_ ? CompareOp::strict_equal : CompareOp::equal; }

// The key cell of the entry whose key matches, live or removed; the key's
// hash goes to `hash` when given.
Cell* find_key(const Cell* map, const Cell* key, CompareOp op, std::uint32_t* hash = nullptr) {
    return hashtable::find_map_key(table_of(map), key, op, hash);
}

Cell* copy_text(Cell* key) {
    const Cell source = *key;
    Cell copy;
    string::make_at_unit(&copy, std::max(string::ks_length(key), 1), string::buffer(&source)->unit());
    string::append_string(&copy, const_cast<Cell*>(&source), -1);
    copy.set_type(source.type());
    *key = copy;
    return key;
}

Cell* copy_binary(Cell* key) {
    const Cell source = *key;
    SeriesBuffer* from = memory::buffer_of(source.data2);
    const std::uint32_t length = source.data1 < from->used_bytes() ? from->used_bytes() - source.data1 : 0;
    const NodeId node = memory::alloc_bytes(length);
    SeriesBuffer* to = memory::buffer_of(node);
    std::memcpy(to->head(), memory::buffer_of(source.data2)->head() + source.data1, length);
    to->tail = to->offset + length;
    *key = Cell{static_cast<std::uint32_t>(Type::binary), 0, node, 0};
    return key;
}

// Appends a new entry for a key found absent (case-sensitively with
// `case_`) by a lookup that gave `hash`; answers its value cell.
Cell* append_entry(Cell* map, const Cell* key, const Cell* value, bool case_, std::uint32_t hash) {
    Cell k = *key;
    const Cell v = *value;
    prepare_key(&k);
    const Cell m = *map;
    *memory::append_slot(&m) = k;
    *memory::append_slot(&m) = Cell{static_cast<std::uint32_t>(Type::unset), 0, 0, 0};
    const std::int32_t at = cell_count(&m) - 2;
    hashtable::add_map_key(table_of(&m), at, case_, hash);
    Cell* slot = cells(&m) + at + 1;
    *slot = v;
    return slot;
}

}  // namespace

bool valid_key_type_q(Type type) {
    switch (type) {
        case Type::string: case Type::file: case Type::url: case Type::char_: case Type::integer:
        case Type::float_: case Type::word: case Type::set_word: case Type::lit_word:
        case Type::get_word: case Type::refinement: case Type::issue: case Type::pair:
        case Type::percent: case Type::tuple: case Type::binary: case Type::time: case Type::tag:
        case Type::email: case Type::date: case Type::money: case Type::ref: case Type::point2d:
        case Type::point3d:
            return true;
        default:
            return false;
    }
}

Cell* prepare_key(Cell* key) {
    key->clear_new_line();
    switch (key->type()) {
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email:
        case Type::ref:
            return copy_text(key);
        case Type::binary: return copy_binary(key);
        case Type::word: case Type::lit_word: case Type::get_word:
            key->set_type(Type::set_word);
            return key;
        default:
            if (!valid_key_type_q(key->type())) {
                Cell type;
                registry::make_datatype(&type, key->type());
                fire(ErrorId::script_invalid_path, &type);
            }
            return key;
    }
}

Cell* make_at(Cell* out, const Cell* block, std::int32_t size) {
    if (size < 1) size = 2;
    Cell entries_block;
    if (block) {
        entries_block = *block;
    } else {
        entries_block = Cell{static_cast<std::uint32_t>(Type::block), 0, memory::alloc_cells(2 * std::int64_t{size}), 0};
    }
    const NodeId table = hashtable::init(size, &entries_block, hashtable::Kind::map);
    *out = Cell{static_cast<std::uint32_t>(Type::map), 0, entries_block.data2, table};
    return out;
}

bool make_from_items(const Cell* items, std::int32_t count, Cell* out) {
    if (count % 2 != 0) return false;
    for (std::int32_t k = 0; k < count; k += 2) {
        if (!valid_key_type_q(items[k].type())) return false;
    }
    Cell block;
    block::make_at(&block, std::max(count, 1));
    for (std::int32_t k = 0; k < count; ++k) {
        Cell item = items[k];
        item.clear_new_line();
        // Loaded text is fresh, so only words need making ready.
        if (k % 2 == 0 && (item.is(Type::word) || item.is(Type::lit_word) || item.is(Type::get_word))) {
            item.set_type(Type::set_word);
        }
        block::ks_append(&block, &item);
    }
    make_at(out, &block, count / 2);
    return true;
}

Cell* get(const Cell* map, const Cell* key, bool case_) {
    Cell* c = find_key(map, key, lookup_op(case_));
    return c && !removed(c + 1) ? c + 1 : nullptr;
}

Cell* put(Cell* map, const Cell* key, const Cell* value, bool case_) {
    const Cell v = *value;
    std::uint32_t hash = 0;
    Cell* c = find_key(map, key, lookup_op(case_), &hash);
    if (!c) return append_entry(map, key, &v, case_, hash);
    if (removed(c + 1)) ++hashtable::record(table_of(map))->size;  // revived in place
    c[1] = v;
    return c + 1;
}

Cell* extend(Cell* map, const Cell* spec, bool case_) {
    const Cell source = *spec;
    const std::int32_t length = std::max(block::ks_length(&source), 0);
    if (length % 2 != 0) fire(ErrorId::script_invalid_arg, spec);
    // Room for every pair first, so the entry block grows once.
    SeriesBuffer* b = entries(map);
    const std::int64_t needed = std::int64_t{length} * static_cast<std::int64_t>(sizeof(Cell));
    if (needed > b->room()) memory::expand_series(b, std::int64_t{b->used_bytes()} + needed);
    for (std::int32_t k = 0; k < length; k += 2) {
        const Cell key = block::buffer(&source)->cells()[source.data1 + k];
        const Cell value = block::buffer(&source)->cells()[source.data1 + k + 1];
        // A map spec keeps its removed entries in its block: they add nothing.
        if (source.is(Type::map) && removed(&value)) continue;
        put(map, &key, &value, case_);
    }
    return map;
}

std::int32_t length(const Cell* map) { return hashtable::record(table_of(map))->size; }

bool foreach_next(const Cell* words, Cell* cursor) {
    const Cell list = *words;
    const std::int32_t n = std::max(block::ks_length(&list), 0);
    for (std::int32_t k = 0; k < n; ++k) {
        if (!block::buffer(&list)->cells()[list.data1 + k].is(Type::word)) {
            fire(ErrorId::script_invalid_arg, block::buffer(&list)->cells() + list.data1 + k);
        }
    }
    std::int32_t at = static_cast<std::int32_t>(cursor->data1);
    const std::int32_t total = cell_count(cursor);
    while (at + 1 < total && removed(cells(cursor) + at + 1)) at += 2;
    const bool live = at + 1 < total;
    Cell key = none::value;
    Cell value = none::value;
    if (live) {
        key = cells(cursor)[at];
        if (key.is(Type::set_word)) key.set_type(Type::word);
        key.clear_new_line();
        value = cells(cursor)[at + 1];
        cursor->data1 = static_cast<std::uint32_t>(at + 2);
    } else {
        cursor->data1 = static_cast<std::uint32_t>(total);
    }
    for (std::int32_t k = 0; k < n; ++k) {
        const Cell word = block::buffer(&list)->cells()[list.data1 + k];
        const Cell& v = !live || k > 1 ? none::value : k == 0 ? key : value;
        *word::get_any(&word) = v;
    }
    return live;
}

// ---------------------------------------------------------------------------
// Actions.

namespace {

std::int32_t size_arg(const Cell* spec) {
    if (spec->is(Type::integer)) return integer::get(spec);
    const double d = std::trunc(float_::get(spec));
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) fire(ErrorId::script_out_of_range, spec);
    return static_cast<std::int32_t>(d);
}

// A map over a deep copy of the block's pairs, keys made ready.
Cell* from_block(Cell* out, const Cell* spec) {
    const Cell source = *spec;
    const std::int32_t length = std::max(block::ks_length(&source), 0);
    if (length % 2 != 0) fire(ErrorId::script_invalid_arg, spec);
    Cell plain = source;
    plain.set_type(Type::block);
    plain.data3 = 0;
    Cell copy;
    registry::lookup<Action::copy>(Type::block)(&plain, &copy, nullptr, true, nullptr);
    copy.header = static_cast<std::uint32_t>(Type::block);
    for (std::int32_t k = 0; k < length; ++k) block::buffer(&copy)->cells()[k].clear_new_line();
    for (std::int32_t k = 0; k < length; k += 2) {
        Cell key = block::buffer(&copy)->cells()[k];
        prepare_key(&key);
        block::buffer(&copy)->cells()[k] = key;
    }
    return make_at(out, &copy, length / 2);
}

Cell* copy_map(const Cell* map, Cell* result, bool deep, Cell* types) {
    const Cell source = *map;
    Cell entries_block{static_cast<std::uint32_t>(Type::block), 0, source.data2, 0};
    Cell copy;
    registry::lookup<Action::copy>(Type::block)(&entries_block, &copy, nullptr, deep, types);
    const NodeId table = hashtable::copy(table_of(&source), copy.data2);
    *result = Cell{static_cast<std::uint32_t>(Type::map), 0, copy.data2, table};
    return result;
}

Cell* make_or_to(Cell* proto, Cell* spec, bool to) {
    switch (spec->type()) {
        case Type::block:
        case Type::paren:
        case Type::hash: return from_block(proto, spec);
        case Type::integer:
        case Type::float_: {
            if (to) registry::fire_bad_to(Type::map, spec);
            const std::int32_t size = size_arg(spec);
            if (size < 0) fire(ErrorId::script_out_of_range, spec);
            return make_at(proto, nullptr, size);
        }
        case Type::map: return copy_map(spec, proto, false, nullptr);
        default: registry::fire_bad_to(Type::map, spec);
    }
}

Cell* make(Cell* proto, Cell* spec, Type) { return make_or_to(proto, spec, false); }

Cell* reflect(Cell* value, Cell* field) {
    enum Kind { k_words, k_values, k_body } kind;
    if (field->is(Type::word) && words::is(field, words::Sym::words)) kind = k_words;
    else if (field->is(Type::word) && words::is(field, words::Sym::values)) kind = k_values;
    else if (field->is(Type::word) && words::is(field, words::Sym::body)) kind = k_body;
    else fire(ErrorId::internal_not_done);
    const Cell map = *value;
    const std::int32_t live = std::max(length(&map), 1);
    Cell out;
    block::make_at(&out, kind == k_body ? 2 * live : live);
    for (std::int32_t at = 0; at + 1 < cell_count(&map); at += 2) {
        if (removed(cells(&map) + at + 1)) continue;
        Cell key = cells(&map)[at];
        const Cell item = cells(&map)[at + 1];
        if (kind == k_words && key.is(Type::set_word)) key.set_type(Type::word);
        if (kind == k_body) key.header |= cell_flag::new_line;
        if (kind != k_values) block::ks_append(&out, &key);
        if (kind != k_words) block::ks_append(&out, &item);
    }
    *value = out;
    return value;
}

Cell* to(Cell* proto, Cell* spec, Type) { return make_or_to(proto, spec, true); }

void append_indent(Cell* buffer, int level) {
    for (int i = 0; i < level; ++i) string::append_literal(buffer, "    ");
}

// The live entries as "key value" with both molded, separated by a space
// (flat) or a line feed; `indenting` (mold without /only) also opens with
// a line feed, indents each entry to `level` and closes with a line feed.
int write_entries(const Cell* map, Cell* buffer, bool all, bool flat, Cell* part_arg, int part, int level,
                  bool indenting, bool* wrote) {
    *wrote = false;
    for (std::int32_t at = 0; at + 1 < cell_count(map); at += 2) {
        if (removed(cells(map) + at + 1)) continue;
        if (part_arg && part <= 0) return part;
        if (*wrote || indenting) {
            string::append_literal(buffer, flat ? " " : "\n");
            --part;
        }
        if (indenting) {
            append_indent(buffer, level);
            part -= 4 * level;
        }
        Cell key = cells(map)[at];
        part = registry::find<Action::mold>(&key)(&key, buffer, false, all, flat, part_arg, part, level);
        string::append_literal(buffer, " ");
        --part;
        Cell value = cells(map)[at + 1];
        part = registry::find<Action::mold>(&value)(&value, buffer, false, all, flat, part_arg, part, level);
        *wrote = true;
    }
    if (*wrote && indenting) {
        string::append_literal(buffer, "\n");
        --part;
    }
    return part;
}

int form(Cell* value, Cell* buffer, Cell* part_arg, int part) {
    std::int32_t remaining = part;
    if (const char* marker = cycles::detect(value, false, &remaining)) {
        string::append_literal(buffer, marker);
        return remaining;
    }
    const Cell map = *value;
    cycles::Guard guard;
    cycles::push(map.data2);
    bool wrote;
    return write_entries(&map, buffer, false, false, part_arg, part, 0, false, &wrote);
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part, int indent) {
    std::int32_t remaining = part;
    if (const char* marker = cycles::detect(value, true, &remaining)) {
        string::append_literal(buffer, marker);
        return remaining;
    }
    const Cell map = *value;
    cycles::Guard guard;
    cycles::push(map.data2);
    if (!only) {
        string::append_literal(buffer, "#[");
        part -= 2;
    }
    const bool indenting = !only && !flat;
    bool wrote;
    part = write_entries(&map, buffer, all, flat, part_arg, part, indent + 1, indenting, &wrote);
    if (wrote && indenting && indent >= 1) {
        append_indent(buffer, indent);
        part -= 4 * indent;
    }
    if (!only) {
        string::append_literal(buffer, "]");
        --part;
    }
    return part;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell*, Cell*, int, bool case_, bool, bool,
                bool) {
    if (!value) {
        Cell* found = get(parent, element, case_);
        return found ? found : const_cast<Cell*>(&none::value);
    }
    put(parent, element, value, case_);
    return value;
}

// Whether every live entry of `a` has an entry in `b` with an equal key and
// an equal value (keys and values compared by `op`).
bool entries_match(const Cell* a, const Cell* b, CompareOp op) {
    for (std::int32_t at = 0; at + 1 < cell_count(a); at += 2) {
        if (removed(cells(a) + at + 1)) continue;
        const Cell key = cells(a)[at];
        const Cell item = cells(a)[at + 1];
        hashtable::Probe probe;
        bool matched = false;
        while (Cell* c = hashtable::find_next(table_of(b), &key, &probe, op)) {
            if (!removed(c + 1) && block::compare_holds(&item, c + 1, op)) {
                matched = true;
                break;
            }
        }
        if (!matched) return false;
    }
    return true;
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(Type::map)) return not_comparable;
    const std::int32_t n1 = length(value1);
    const std::int32_t n2 = length(value2);
    if (is_ordering(op)) return (n1 > n2) - (n1 < n2);
    if (value1->data3 == value2->data3 && value1->data1 == value2->data1) return 0;
    if (op == CompareOp::same) return 1;
    if (cycles::find(value1->data2)) return cycles::find(value2->data2) ? 0 : 1;
    if (n1 != n2) return 1;
    if (n1 == 0) return 0;
    const Cell a = *value1;
    const Cell b = *value2;
    cycles::Guard guard;
    cycles::push(a.data2);
    cycles::push(b.data2);
    const CompareOp by = op == CompareOp::strict_equal ? CompareOp::strict_equal : CompareOp::equal;
    return entries_match(&a, &b, by) ? 0 : 1;
}

Cell* clear(Cell* series) {
    hashtable::clear(table_of(series));
    // The entries go with their buckets, so nothing of them is left to show.
    SeriesBuffer* b = entries(series);
    b->tail = b->offset;
    return series;
}

Cell* copy(Cell* value, Cell* result, Cell*, bool deep, Cell* types) {
    return copy_map(value, result, deep, types);
}

Cell* find(Cell* series, Cell* value, Cell*, bool, bool case_, bool same, bool, Cell*, Cell*, bool, bool, bool,
           bool) {
    const CompareOp op = same ? CompareOp::same : lookup_op(case_);
    const Cell* c = find_key(series, value, op);
    if (!c || removed(c + 1)) return none::make_at(series);
    Cell key = *c;
    if (key.is(Type::set_word)) key.set_type(Type::word);
    key.clear_new_line();
    *series = key;
    return series;
}

int length_q(Cell* series) { return length(series); }

Cell* put_action(Cell* series, Cell* key, Cell* value, bool case_) {
    put(series, key, value, case_);
    return value;
}

Cell* remove(Cell* series, Cell*, Cell* key) {
    if (!key) fire(ErrorId::script_missing_arg);
    Cell* c = find_key(series, key, CompareOp::strict_equal);
    if (c && !removed(c + 1)) hashtable::delete_value(table_of(series), c);
    return series;
}

Cell* select(Cell* series, Cell* value, Cell*, bool, bool case_, bool same, bool, Cell*, Cell*, bool, bool) {
    const CompareOp op = same ? CompareOp::same : lookup_op(case_);
    const Cell* c = find_key(series, value, op);
    if (!c || removed(c + 1)) return none::make_at(series);
    *series = c[1];
    return series;
}

constexpr ActionRow actions{
    .make = make,
    .reflect = reflect,
    .to = to,
    .form = form,
    .mold = mold,
    .eval_path = eval_path,
    .compare = compare,
    .clear = clear,
    .copy = copy,
    .find = find,
    .length_q = length_q,
    .put = put_action,
    .remove = remove,
    .select = select,
};

}  // namespace

void init() { registry::register_type(Type::map, registry::no_parent, "map!", actions); }

}  // namespace kiv::map
