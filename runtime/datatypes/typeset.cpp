// typeset!: making, testing, combining, forming and molding sets of
// datatypes.
#include "runtime/datatypes/typeset.h"

#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/memory.h"

namespace kiv::typeset {

namespace {

constexpr std::uint32_t typeset_header = static_cast<std::uint32_t>(Type::typeset);

// The value a word stands for, or the value itself.
const Cell* dereference(const Cell* value) {
    return value->is(Type::word) ? word::get(value) : value;
}

void union_into(Cell* set, const Cell* other) {
    set->data1 |= other->data1;
    set->data2 |= other->data2;
    set->data3 |= other->data3;
}

// One typeset from the cells of a block from its index, through `add`.
Cell* from_block_cells(Cell* out, const Cell* block) {
    make_at(out, 0, 0, 0);
    const NodeId node = block->data2;
    for (std::uint32_t i = block->data1; i < memory::buffer_of(node)->length(); ++i) {
        const Cell item = memory::buffer_of(node)->cells()[i];
        add(out, &item);
    }
    return out;
}

Cell* make(Cell* proto, Cell* spec, Type) {
    if (spec->is(Type::typeset)) return cell::copy(spec, proto);
    if (spec->is(Type::block)) {
        Cell set;
        from_block_cells(&set, spec);
        *proto = set;
        return proto;
    }
    registry::fire_bad_to(Type::typeset, spec);
}

// The names of the members, each costing its length plus one against the
// budget; output stops when a /part budget runs out before a name.
int mold(Cell* value, Cell* buffer, bool only, bool, bool, Cell* part_arg, int part, int) {
    if (!only) {
        string::append_literal(buffer, "make typeset! [");
        part -= 15;
    }
    bool first = true;
    for (int id = 1; id <= registry::top_id(); ++id) {
        if (!has(value, static_cast<std::uint32_t>(id))) continue;
        const registry::TypeEntry& e = registry::entry(static_cast<std::uint32_t>(id));
        if (!e.registered) continue;
        if (part_arg && part <= 0) return part;
        if (!first) string::append_literal(buffer, " ");
        string::append_literal(buffer, e.name);
        part -= e.length + 2;
        first = false;
    }
    if (!only) {
        string::append_literal(buffer, "]");
        if (first) part -= 1;
    }
    return part;
}

int form(Cell* value, Cell* buffer, Cell* part_arg, int part) {
    return mold(value, buffer, false, false, false, part_arg, part, 0);
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(Type::typeset)) return not_comparable;
    switch (op) {
        case CompareOp::sort:
        case CompareOp::sort_case: {
            const int a = count(value1);
            const int b = count(value2);
            return a < b ? -1 : a > b ? 1 : 0;
        }
        case CompareOp::lesser:
        case CompareOp::lesser_or_equal:
        case CompareOp::greater:
        case CompareOp::greater_or_equal:
            return not_comparable;
        default:
            return value1->data1 == value2->data1 && value1->data2 == value2->data2 &&
                           value1->data3 == value2->data3
                       ? 0
                       : 1;
    }
}

Cell* and_(Cell* value1, Cell* value2) { return do_bitwise(value1, value2, 6); }
Cell* or_(Cell* value1, Cell* value2) { return do_bitwise(value1, value2, 5); }
Cell* xor_(Cell* value1, Cell* value2) { return do_bitwise(value1, value2, 7); }

Cell* complement(Cell* value) {
    return make_at(value, ~value->data1, ~value->data2, ~value->data3);
}

Cell* find(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool,
           bool) {
    if (!value->is(Type::datatype)) fire(ErrorId::script_invalid_arg, value);
    return logic::make_at(series, has(series, value->data1));
}

constexpr ActionRow actions{
    .make = make,
    .to = make,
    .form = form,
    .mold = mold,
    .compare = compare,
    .and_ = and_,
    .complement = complement,
    .or_ = or_,
    .xor_ = xor_,
    .find = find,
};

}  // namespace

void init() { registry::register_type(Type::typeset, registry::no_parent, "typeset!", actions); }

Cell* make_at(Cell* out, std::uint32_t w1, std::uint32_t w2, std::uint32_t w3) {
    *out = Cell{typeset_header, w1, w2, w3};
    return out;
}

Cell* make_default_at(Cell* out) {
    make_at(out, ~0u, ~0u, ~0u);
    bytes(out)[0] &= static_cast<std::uint8_t>(~(0x80u >> static_cast<std::uint32_t>(Type::unset)));
    return out;
}

Cell* make_in(Cell* block, std::uint32_t w1, std::uint32_t w2, std::uint32_t w3) {
    return make_at(memory::append_slot(block), w1, w2, w3);
}

Cell* make_default_in(Cell* block) { return make_default_at(memory::append_slot(block)); }

Cell* make_from_block(Cell* block, Cell* spec) {
    Cell set;
    make_at(&set, 0, 0, 0);
    const NodeId node = spec->data2;
    for (std::uint32_t i = spec->data1; i < memory::buffer_of(node)->length(); ++i) {
        const Cell item = memory::buffer_of(node)->cells()[i];
        const Cell* value = dereference(&item);
        if (value->is(Type::datatype)) {
            set_bit(&set, value->data1);
        } else if (value->is(Type::typeset)) {
            union_into(&set, value);
        } else if (value->is(Type::word)) {
            set_bit(&set, static_cast<std::uint32_t>(Type::object));
        } else if (!value->is(Type::block)) {
            fire(ErrorId::script_invalid_type_spec, value);
        }
    }
    Cell* slot = memory::append_slot(block);
    *slot = set;
    return slot;
}

void clear(Cell* set) { make_at(set, 0, 0, 0); }

int count(const Cell* set) {
    int n = 0;
    for (int id = 1; id <= registry::top_id(); ++id)
        if (has(set, static_cast<std::uint32_t>(id))) ++n;
    return n;
}

void add(Cell* set, const Cell* value) {
    value = dereference(value);
    if (value->is(Type::typeset)) {
        union_into(set, value);
    } else if (value->is(Type::datatype)) {
        set_bit(set, value->data1);
    } else {
        fire(ErrorId::script_invalid_arg, value);
    }
}

Cell* to_block(const Cell* set, Cell* out) {
    const Cell members = *set;
    const NodeId block = memory::alloc_cells(4);
    *out = Cell{static_cast<std::uint32_t>(Type::block), 0, block, 0};
    for (int id = 1; id <= registry::top_id(); ++id) {
        if (!has(&members, static_cast<std::uint32_t>(id))) continue;
        const std::uint32_t name = registry::entry(static_cast<std::uint32_t>(id)).symbol;
        if (!name) continue;
        Cell word;
        word::make_at(name, &word);
        *memory::append_slot(out) = word;
    }
    return out;
}

Cell* do_bitwise(Cell* value1, const Cell* value2, int op) {
    if (op == 8) return value1;
    Cell other;
    if (value2->is(Type::datatype)) {
        make_at(&other, 0, 0, 0);
        set_bit(&other, value2->data1);
    } else if (value2->is(Type::typeset)) {
        other = *value2;
    } else {
        fire(ErrorId::script_invalid_arg, value2);
    }
    std::uint32_t* a = &value1->data1;
    const std::uint32_t* b = &other.data1;
    Cell result;
    std::uint32_t* r = &result.data1;
    for (int i = 0; i < 3; ++i) {
        switch (op) {
            case 5: case 9: r[i] = a[i] | b[i]; break;
            case 6: case 10: r[i] = a[i] & b[i]; break;
            case 7: case 12: r[i] = a[i] ^ b[i]; break;
            case 11: r[i] = a[i] & ~b[i]; break;
            default: r[i] = a[i]; break;
        }
    }
    return make_at(value1, result.data1, result.data2, result.data3);
}

}  // namespace kiv::typeset
