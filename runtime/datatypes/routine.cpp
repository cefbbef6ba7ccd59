// routine!: the routine table, making, calling, and the actions form, mold
// and compare (reflect is function!'s).
#include "runtime/datatypes/routine.h"

#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"

namespace kiv::routine {

namespace {

constexpr std::uint32_t type_header(Type t) { return static_cast<std::uint32_t>(t); }

struct Slot {
    const char* name;
    Entry entry;
};

// C++ function pointers and names only: nothing here is a language value.
Slot table[table_capacity];
std::int32_t table_used = 0;

// How an argument reaches the C++ function, read from its type block.
enum class RawKind { cell, integer, logic };

RawKind raw_kind(const Cell* word, const Cell* tail) {
    const Cell* types = word + 1;
    if (types >= tail || !types->is(Type::block)) return RawKind::cell;
    memory::SeriesBuffer* b = memory::buffer_of(types->data2);
    if (b->length() - types->data1 != 1) return RawKind::cell;
    const Cell* name = b->cells() + types->data1;
    if (!name->is(Type::word)) return RawKind::cell;
    const std::uint32_t s = symbol::resolve(name->data2);
    if (s == symbol::resolve(words::symbol(words::Sym::integer_type))) return RawKind::integer;
    if (s == symbol::resolve(words::symbol(words::Sym::logic_type))) return RawKind::logic;
    return RawKind::cell;
}

Raw convert(Cell* arg, RawKind kind) {
    Raw raw;
    switch (kind) {
        case RawKind::integer:
            if (arg->is(Type::integer)) { raw.number = static_cast<std::int32_t>(arg->data2); return raw; }
            break;
        case RawKind::logic:
            if (arg->is(Type::logic)) { raw.number = arg->data1 ? 1 : 0; return raw; }
            break;
        case RawKind::cell: break;
    }
    raw.cell = arg;
    return raw;
}

}  // namespace

std::int32_t register_entry(const char* name, Entry entry) {
    if (table_used == table_capacity) fire(ErrorId::internal_no_memory);
    table[table_used] = Slot{name, entry};
    return ++table_used;
}

std::int32_t find_entry(const char* name) {
    for (std::int32_t i = 0; i < table_used; ++i) {
        if (std::strcmp(table[i].name, name) == 0) return i + 1;
    }
    return 0;
}

Entry entry_at(std::int32_t slot) {
    return slot >= 1 && slot <= table_used ? table[slot - 1].entry : nullptr;
}

const char* entry_name(std::int32_t slot) {
    return slot >= 1 && slot <= table_used ? table[slot - 1].name : nullptr;
}

void clear_table() { table_used = 0; }

Cell* make_at(Cell* out, Cell* spec, Cell* body, std::int32_t slot, std::int32_t result_type) {
    out->header = type_header(Type::unset);
    const Cell spec_value = *spec;
    const Cell body_value = body ? *body : none::value;
    const NodeId context = context::make(&spec_value, true, false, context::Kind::function);
    const NodeId more = memory::alloc_unset_cells(function::more::size);
    memory::SeriesBuffer* b = memory::buffer_of(more);
    b->tail = b->offset + function::more::size * sizeof(Cell);
    Cell* cells = b->cells();
    cells[function::more::body] = body_value;
    cells[function::more::entry] = Cell{type_header(Type::integer), 0, static_cast<std::uint32_t>(slot), 0};
    cells[function::more::result_type] =
        Cell{type_header(Type::integer), 0, static_cast<std::uint32_t>(result_type), 0};
    *out = Cell{type_header(Type::unset), context, spec_value.data2, more};
    out->set_type(Type::routine);
    *context::owner(context) = *out;
    count_arity(out);
    return out;
}

Cell* push(Cell* spec, Cell* body, std::int32_t slot, std::int32_t result_type) {
    return make_at(stack::push_cell(), spec, body, slot, result_type);
}

std::int32_t count_arity(Cell* routine) {
    memory::SeriesBuffer* b = memory::buffer_of(routine->data2);
    std::int32_t count = 0;
    for (const Cell* c = b->cells(); c < b->cells_tail(); ++c) {
        if (c->is(Type::word)) ++count;
    }
    // More than the header field holds cannot be told apart; no routine of
    // the library comes near it.
    const std::int32_t stored = count > 31 ? 31 : count;
    routine->header = (routine->header & ~arity_mask) | (static_cast<std::uint32_t>(stored) << arity_shift);
    return count;
}

Cell* call(const Cell* routine, Cell* args, Cell* result) {
    const Cell r = *routine;
    Raw raw[32];
    memory::SeriesBuffer* b = memory::buffer_of(r.data2);
    std::int32_t n = 0;
    for (const Cell* c = b->cells(); c < b->cells_tail() && n < get_arity(&r); ++c) {
        if (c->is(Type::word)) {
            raw[n] = convert(&args[n], raw_kind(c, b->cells_tail()));
            ++n;
        }
    }
    const Entry entry = entry_at(static_cast<std::int32_t>(function::more_cell(&r, function::more::entry)->data2));
    if (!entry) fire(ErrorId::internal_not_done);
    // A routine without a result type answers through the cell after its
    // arguments. It is not `result` itself, which may be the first
    // argument's cell: the routine must still read its arguments.
    Cell answer;
    unset::make_at(&answer);
    raw[n].cell = &answer;
    const std::int32_t value = entry(raw);
    const auto type = static_cast<std::int32_t>(function::more_cell(&r, function::more::result_type)->data2);
    if (type == static_cast<std::int32_t>(Type::logic))
        *result = Cell{type_header(Type::logic), value != 0 ? 1u : 0u, 0, 0};
    else if (type == static_cast<std::int32_t>(Type::integer))
        *result = Cell{type_header(Type::integer), 0, static_cast<std::uint32_t>(value), 0};
    else
        *result = answer;
    return result;
}

namespace {

int form(Cell*, Cell* buffer, Cell*, int part) {
    string::append_literal(buffer, "?routine?");
    return part - 9;
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part, int indent) {
    const Cell r = *value;
    string::append_literal(buffer, "routine ");
    Cell spec;
    block::init_at(&spec, r.data2);
    part = block::mold(&spec, buffer, only, all, flat, part_arg, part - 8, indent);
    Cell body = *function::more_cell(&r, function::more::body);
    if (body.is(Type::block)) return block::mold(&body, buffer, only, all, flat, part_arg, part, indent);
    string::append_literal(buffer, " ");
    return registry::find<Action::mold>(&body)(&body, buffer, only, all, flat, part_arg, part - 1, indent);
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    return function::compare_identity(value1, value2, op);
}

constexpr ActionRow actions{
    .reflect = inherit,
    .form = form,
    .mold = mold,
    .compare = compare,
};

}  // namespace

void init() { registry::register_type(Type::routine, Type::function, "routine!", actions); }

}  // namespace kiv::routine
