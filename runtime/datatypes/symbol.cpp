// The symbol table and symbol!'s one action, compare, which orders symbols by
// their texts as strings are ordered.
#include "runtime/datatypes/symbol.h"

#include <cstring>
#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/state.h"

namespace kiv::symbol {

namespace {

Cell* cell_of(std::uint32_t id) { return memory::buffer_of(state.symbol_block)->cells() + (id - 1); }

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(Type::symbol)) return not_comparable;
    return string::compare_strings(value1, value2, op, false);
}

constexpr ActionRow actions{
    .compare = compare,
};

}  // namespace

void init() { registry::register_type(Type::symbol, registry::no_parent, "symbol!", actions); }

void init_table(std::int32_t size) {
    state.symbol_block = memory::alloc_cells(size < 1 ? 1 : size);
    state.symbol_table = 0;
    collector::register_root(&state.symbol_block);
}

void init_index(std::int32_t size) {
    const Cell block{static_cast<std::uint32_t>(Type::block), 0, state.symbol_block, 0};
    state.symbol_table = hashtable::init(size, &block, hashtable::Kind::context);
    collector::register_root(&state.symbol_table);
}

NodeId table() { return state.symbol_table; }

std::uint32_t count() { return memory::buffer_of(state.symbol_block)->length(); }

std::uint32_t make(const char* text) {
    return make_from_buffer(reinterpret_cast<const std::uint8_t*>(text),
                            static_cast<std::int32_t>(std::strlen(text)));
}

std::uint32_t make_from_buffer(const std::uint8_t* text, std::int32_t length) {
    return hashtable::intern_symbol(state.symbol_table, text, length, false);
}

std::uint32_t make_from_string(Cell* string) {
    const std::string utf8 = string::to_utf8(string);
    return make_from_buffer(reinterpret_cast<const std::uint8_t*>(utf8.data()),
                            static_cast<std::int32_t>(utf8.size()));
}

std::uint32_t make_any_case(const char* text) {
    return hashtable::intern_symbol(state.symbol_table, reinterpret_cast<const std::uint8_t*>(text),
                                    static_cast<std::int32_t>(std::strlen(text)), true);
}

Cell* get(std::uint32_t id) {
    cache_string(id);
    return cell_of(id);
}

void cache_string(std::uint32_t id) {
    if (cell_of(id)->data2) return;
    memory::SeriesBuffer* t = memory::buffer_of(cell_of(id)->data3);
    // GC: `t` stays pinned by this frame while the string is loaded.
    const NodeId string = string::load_utf8_new(t->head(), t->used_bytes());
    cell_of(id)->data2 = string;
}

std::uint32_t resolve(std::uint32_t id) {
    const auto alias = static_cast<std::int32_t>(cell_of(id)->data1);
    return alias > 0 ? static_cast<std::uint32_t>(alias) : id;
}

std::int32_t alias_of(std::uint32_t id) { return static_cast<std::int32_t>(cell_of(id)->data1); }

std::string_view text(std::uint32_t id) {
    memory::SeriesBuffer* t = memory::buffer_of(cell_of(id)->data3);
    return {reinterpret_cast<const char*>(t->head()), t->used_bytes()};
}

}  // namespace kiv::symbol
