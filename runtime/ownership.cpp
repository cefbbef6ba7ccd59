// Series ownership: the owners table and binding, unbinding and checking.
#include "runtime/ownership.h"

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/context.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/state.h"

namespace kiv::ownership {

namespace {

DeepChangeHandler deep_change_handler = nullptr;

constexpr std::int32_t initial_entries = 1000;
constexpr std::uint32_t unset_header = static_cast<std::uint32_t>(Type::unset);

bool is_block_like(const Cell* c) {
    switch (c->type()) {
        case Type::block: case Type::paren: case Type::hash: case Type::path:
        case Type::lit_path: case Type::set_path: case Type::get_path:
            return true;
        default: return false;
    }
}

// Series that can be owned, bitset! apart.
bool is_ownable_series(const Cell* c) {
    if (is_block_like(c)) return true;
    switch (c->type()) {
        case Type::string: case Type::file: case Type::url: case Type::tag: case Type::email:
        case Type::ref: case Type::binary: case Type::vector: case Type::image:
            return true;
        default: return false;
    }
}

void prune() {
    if (state.owners) hashtable::prune_weak(state.owners);
}

// Enters (node -> value, owner, word) unless the series is owned already.
void enter(const Cell* value, const Cell* owner, const Cell* word) {
    const NodeId node = value->data2;
    memory::SeriesBuffer* b = memory::buffer_of(node);
    if (b->flags & owned_flag) return;
    b->flags |= owned_flag;
    const Cell entry[3] = {*value, *owner, *word};
    Cell* cells = hashtable::put_key(state.owners, node);
    for (int i = 0; i < 3; ++i) cells[i] = entry[i];
}

void bind_cells(const Cell* value, const Cell* owner, const Cell* word) {
    const NodeId node = value->data2;
    if (cycles::find(node)) return;
    cycles::Guard guard;
    cycles::push(node);
    for (std::uint32_t i = value->data1; i < memory::buffer_of(node)->length(); ++i) {
        const Cell item = memory::buffer_of(node)->cells()[i];
        bind(&item, owner, word);
    }
}

void bind_fields(const Cell* object, const Cell* owner) {
    const NodeId ctx = object->data1;
    if (context::header(ctx)->header & context::flag::owner) return;
    if (cycles::find(ctx)) return;
    cycles::Guard guard;
    cycles::push(ctx);
    for (std::int32_t i = 0; i < context::word_count(ctx); ++i) {
        const Cell field = *context::slot(ctx, i);
        if (field.is(Type::object) && field.data1 == owner->data1) continue;
        const Cell field_word = *context::get_word_at(ctx, i);
        bind(&field, owner, &field_word);
    }
}

// Drops the entry of a node; whether there was one.
bool drop_entry(NodeId node) {
    Cell* cells = hashtable::get_key(state.owners, node);
    if (!cells) return false;
    for (int i = 0; i < 3; ++i) cells[i] = Cell{unset_header, 0, 0, 0};
    hashtable::delete_key(state.owners, node);
    return true;
}

}  // namespace

void init() {
    state.owners = hashtable::init(initial_entries, nullptr, hashtable::Kind::owners, 3);
    // The entries are held weakly: pruned after each marking.
    collector::register_root(&state.owners);
    collector::register_after_mark_hook(prune);
}

NodeId table() { return state.owners; }

void bind(const Cell* value, const Cell* owner, const Cell* word) {
    if (value->is(Type::bitset)) {
        enter(value, owner, word);
        return;
    }
    if (value->is(Type::object)) {
        bind_fields(value, owner);
        return;
    }
    if (!is_ownable_series(value)) return;
    enter(value, owner, word);
    if (is_block_like(value)) bind_cells(value, owner, word);
}

void bind_object(const Cell* value, const Cell* owner, const Cell* word) {
    const Cell owner_copy = *owner;
    bind(value, owner, word);
    context::header(owner_copy.data1)->header |= context::flag::owner;
}

void unbind(const Cell* value) {
    if (value->is(Type::object)) {
        const NodeId ctx = value->data1;
        if ((context::header(ctx)->header & context::flag::owner) || cycles::find(ctx)) return;
        cycles::Guard guard;
        cycles::push(ctx);
        for (std::int32_t i = 0; i < context::word_count(ctx); ++i) {
            const Cell field = *context::slot(ctx, i);
            unbind(&field);
        }
        return;
    }
    if (!value->is(Type::bitset) && !is_ownable_series(value)) return;
    const NodeId node = value->data2;
    memory::buffer_of(node)->flags &= ~owned_flag;
    if (!drop_entry(node) || !is_block_like(value)) return;
    for (std::uint32_t i = value->data1; i < memory::buffer_of(node)->length(); ++i) {
        const Cell item = memory::buffer_of(node)->cells()[i];
        unbind(&item);
    }
}

Cell* get_owner(NodeId node) {
    Cell* cells = hashtable::get_key(state.owners, node);
    return cells ? cells + 1 : nullptr;
}

bool check(Cell* value, const Cell* action, const Cell* new_value, std::int32_t index,
           std::int32_t part) {
    const NodeId key = value->is(Type::object) ? value->data1 : value->data2;
    const Cell* cells = hashtable::get_key(state.owners, key);
    if (!cells || !cells[1].data3 || !deep_change_handler) return false;
    // GC: the handler may run any code; everything it is given sits on
    // this frame.
    Cell owner = cells[1];
    Cell word = cells[2];
    Cell action_word = *action;
    Cell change;
    if (new_value) change = *new_value;
    deep_change_handler(&owner, &word, value, &action_word, new_value ? &change : nullptr, index,
                        part);
    return true;
}

void set_deep_change_handler(DeepChangeHandler handler) { deep_change_handler = handler; }

}  // namespace kiv::ownership
