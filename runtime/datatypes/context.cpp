// Contexts: creation, word lookup and addition, value slots, setting with
// the object written mark and change handler, and deep binding.
#include "runtime/datatypes/context.h"

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/hashtable.h"
#include "runtime/state.h"

namespace kiv::context {

using memory::SeriesBuffer;

namespace {

constexpr std::uint32_t context_header = static_cast<std::uint32_t>(Type::context);
constexpr std::uint32_t unset_header = static_cast<std::uint32_t>(Type::unset);

ChangeHandler change_handler = nullptr;

NodeId table_of(NodeId context) { return header(context)->data1; }

bool is_any_word(const Cell* c) {
    switch (c->type()) {
        case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
        case Type::refinement:
            return true;
        default: return false;
    }
}

bool is_bindable_block(const Cell* c) {
    switch (c->type()) {
        case Type::block: case Type::paren: case Type::path: case Type::lit_path:
        case Type::set_path: case Type::get_path: case Type::hash:
            return true;
        default: return false;
    }
}

// Appends one unset value to a heap context's values.
void append_unset_value(NodeId context) {
    if (header(context)->header & flag::values_on_stack) return;
    memory::alloc_tail_cell(memory::buffer_of(header(context)->data2));
}

// Points every word of the words block at the context, each at its own
// position.
void rebind_words(NodeId context) {
    SeriesBuffer* words = get_words(context);
    std::uint32_t i = 0;
    for (Cell* w = words->cells(); w < words->cells_tail(); ++w, ++i) {
        w->data1 = context;
        w->data3 = i;
    }
}

}  // namespace

void init() {
    // context! supports no action.
    registry::register_type(Type::context, registry::no_parent, "context!", ActionRow{});
}

void init_global(std::int32_t size) {
    state.global_context = create(size, false, false, 0, Kind::global);
    collector::register_root(&state.global_context);
}

NodeId global() { return state.global_context; }

Cell* header(NodeId context) { return memory::buffer_of(context)->cells(); }
Cell* owner(NodeId context) { return memory::buffer_of(context)->cells() + 1; }
Kind kind_of(NodeId context) {
    return static_cast<Kind>((header(context)->header & flag::kind_mask) >> flag::kind_shift);
}

NodeId create(std::int32_t size, bool on_stack, bool self, NodeId prototype, Kind kind) {
    if (size < 1) size = 1;
    const NodeId context = memory::alloc_cells(2);
    SeriesBuffer* b = memory::buffer_of(context);
    b->tail = b->offset + 2 * sizeof(Cell);
    std::uint32_t head = context_header | (static_cast<std::uint32_t>(kind) << flag::kind_shift);
    if (on_stack) head |= flag::values_on_stack;
    if (self) head |= flag::has_self;
    b->cells()[0] = Cell{head, 0, 0, 0};
    b->cells()[1] = Cell{unset_header, 0, 0, 0};
    const NodeId table = prototype ? hashtable::copy_buffers(table_of(prototype))
                                   : hashtable::init(size, nullptr, hashtable::Kind::context);
    header(context)->data1 = table;
    if (prototype) rebind_words(context);
    if (!on_stack) {
        const std::int32_t words = word_count(context);
        const NodeId values = memory::alloc_unset_cells(words > size ? words : size);
        SeriesBuffer* vb = memory::buffer_of(values);
        vb->tail = vb->offset + static_cast<std::uint32_t>(words) * sizeof(Cell);
        header(context)->data2 = values;
    }
    return context;
}

NodeId make(const Cell* spec, bool on_stack, bool self, Kind kind) {
    SeriesBuffer* sb = memory::buffer_of(spec->data2);
    const NodeId spec_node = spec->data2;
    const NodeId context = create(static_cast<std::int32_t>(sb->length()), on_stack, self, 0, kind);
    for (std::uint32_t i = 0; i < memory::buffer_of(spec_node)->length(); ++i) {
        const Cell* c = memory::buffer_of(spec_node)->cells() + i;
        if (!is_any_word(c) || c->is(Type::set_word)) continue;
        std::int32_t index;
        find_or_add(context, c->data2, true, &index);
    }
    if (!on_stack) {
        SeriesBuffer* vb = memory::buffer_of(header(context)->data2);
        vb->tail = vb->offset + static_cast<std::uint32_t>(word_count(context)) * sizeof(Cell);
    }
    return context;
}

NodeId clone_words(Cell* value, Kind kind) {
    const NodeId from = value->data1;
    const std::uint32_t flags = header(from)->header;
    const NodeId context =
        create(word_count(from), (flags & flag::values_on_stack) != 0, (flags & flag::has_self) != 0, from, kind);
    value->data1 = context;
    return context;
}

std::int32_t find_word(NodeId context, std::uint32_t symbol, bool by_canonical) {
    return hashtable::find_context_word(table_of(context), symbol, by_canonical, 0, nullptr);
}

std::int32_t find_or_add(NodeId context, std::uint32_t symbol, bool by_canonical,
                         std::int32_t* index) {
    return hashtable::find_context_word(table_of(context), symbol, by_canonical, context, index);
}

std::int32_t add_word(NodeId context, const Cell* word) {
    std::int32_t index;
    if (find_or_add(context, word->data2, true, &index) < 0) append_unset_value(context);
    return index;
}

Cell* add_with_value(NodeId context, const Cell* word, const Cell* value) {
    std::int32_t index;
    if (find_or_add(context, word->data2, true, &index) >= 0) return nullptr;
    // GC: `value` may lie in a block that the appending below leaves alone;
    // keep a copy anyway, as the values block itself may move.
    const Cell copy = *value;
    append_unset_value(context);
    Cell* slot_cell = slot(context, index);
    *slot_cell = copy;
    return slot_cell;
}

void add_or_set(NodeId context, const Cell* word, const Cell* value) {
    const Cell copy = *value;
    const std::int32_t index = add_word(context, word);
    *slot(context, index) = copy;
}

bool collect_set_words(NodeId context, Cell* block) {
    SeriesBuffer* b = memory::buffer_of(block->data2);
    if (block->data1 > b->length()) block->data1 = b->length();
    const NodeId node = block->data2;
    const std::int32_t before = word_count(context);
    for (std::uint32_t i = block->data1; i < memory::buffer_of(node)->length(); ++i) {
        const Cell word = memory::buffer_of(node)->cells()[i];
        if (word.is(Type::set_word)) add_word(context, &word);
    }
    return word_count(context) > before;
}

Cell* add_global(std::uint32_t symbol, bool by_canonical, bool keep_spelling, Cell* out) {
    const std::int32_t found = find_word(state.global_context, symbol, by_canonical);
    if (found >= 0) {
        // `found` is the index of the value, the canonical spelling's word
        // for a case variant: give the word the spelling asked for when it
        // matched exactly or must keep it.
        *out = *get_word_at(state.global_context, found);
        if (!by_canonical || keep_spelling) out->data2 = symbol;
        return out;
    }
    // A case variant gets a word of its own that shares the value of the
    // spelling already there.
    const std::int32_t shared = by_canonical ? -1 : find_word(state.global_context, symbol, true);
    std::int32_t index;
    find_or_add(state.global_context, symbol, by_canonical, &index);
    Cell* added = get_words(state.global_context)->cells() + index;
    if (shared >= 0) added->data3 = static_cast<std::uint32_t>(shared);
    *out = *added;
    append_unset_value(state.global_context);
    return out;
}

Cell* get_global_word(std::uint32_t symbol, Cell* out) { return add_global(symbol, false, true, out); }

Cell* get_word_at(NodeId context, std::int32_t index) { return get_words(context)->cells() + index; }
SeriesBuffer* get_words(NodeId context) {
    return memory::buffer_of(hashtable::record(table_of(context))->values);
}
NodeId get_words_node(NodeId context) { return hashtable::record(table_of(context))->values; }
std::int32_t word_count(NodeId context) { return static_cast<std::int32_t>(get_words(context)->length()); }

Cell* slot(NodeId context, std::int32_t index) {
    const Cell* h = header(context);
    if (h->header & flag::values_on_stack) return cage::at<Cell>(h->data2) + index;
    return memory::buffer_of(h->data2)->cells() + index;
}

Cell* get_symbol_value(std::uint32_t symbol, NodeId context) {
    if (header(context)->header & flag::values_on_stack) context = state.global_context;
    return slot(context, find_word(context, symbol, true));
}

Cell* value_cell_in(const Cell* word, NodeId context) {
    const auto index = static_cast<std::int32_t>(word->data3);
    if (index < 0) {
        if (symbol::resolve(word->data2) == symbol::resolve(words::symbol(words::Sym::self)))
            return owner(context);
        fire(ErrorId::script_no_value, word);
    }
    if (!header(context)->data2) fire(ErrorId::script_not_in_context, word);
    return slot(context, index);
}

Cell* get(const Cell* word) { return value_cell_in(word, word->data1); }

Cell* set_in(Cell* word, const Cell* value, NodeId context, bool on_change) {
    const Cell copy = *value;
    if (static_cast<std::int32_t>(word->data3) < 0) {
        std::int32_t index = find_word(context, word->data2, false);
        if (index < 0) index = add_word(context, word);
        word->data3 = static_cast<std::uint32_t>(index);
    }
    const auto index = static_cast<std::int32_t>(word->data3);
    Cell* h = header(context);
    if (!h->data2) fire(ErrorId::script_not_defined, word);
    if (h->header & flag::values_on_stack) return cell::copy(&copy, slot(context, index));
    if (kind_of(context) == Kind::object) {
        get_word_at(context, index)->header |= cell_flag::written;
        if (on_change && owner(context)->data3 && change_handler) {
            // GC: the old value and the owner stay on this frame during the
            // handler, which may run any code.
            Cell old_value = *slot(context, index);
            *slot(context, index) = copy;
            Cell owner_value = *owner(context);
            Cell new_value = copy;
            change_handler(&owner_value, word, &old_value, &new_value);
            return slot(context, index);
        }
    }
    return cell::copy(&copy, slot(context, index));
}

Cell* set(Cell* word, const Cell* value) { return set_in(word, value, word->data1, true); }

std::int32_t bind_word(NodeId context, Cell* word) {
    const std::int32_t index = find_word(context, word->data2, true);
    if (index >= 0) {
        word->data1 = context;
        word->data3 = static_cast<std::uint32_t>(index);
    }
    return index;
}

Cell* bind(Cell* block, NodeId context, bool self) {
    const NodeId node = block->data2;
    if (cycles::find(node)) return block;
    cycles::Guard guard;
    cycles::push(node);
    const std::uint32_t self_symbol = symbol::resolve(words::symbol(words::Sym::self));
    // GC: binding allocates nothing, so the buffer stays where it is.
    SeriesBuffer* b = memory::buffer_of(node);
    for (Cell* c = b->cells() + block->data1; c < b->cells_tail(); ++c) {
        if (is_any_word(c)) {
            if (self && c->is(Type::word) && symbol::resolve(c->data2) == self_symbol) {
                c->data1 = context;
                c->data3 = static_cast<std::uint32_t>(-1);
            } else {
                bind_word(context, c);
            }
        } else if (is_bindable_block(c)) {
            bind(c, context, self);
        }
    }
    return block;
}

void set_change_handler(ChangeHandler handler) { change_handler = handler; }

}  // namespace kiv::context
