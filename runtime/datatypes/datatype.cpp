// datatype!: a value naming a datatype by its id (payload word 1). It forms
// as the datatype's name without the "!" and molds with it.
#include "runtime/datatypes/datatype.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/memory.h"

namespace kiv::datatype {

namespace {

const registry::TypeEntry& named(const Cell* value) { return registry::entry(value->data1); }

int form(Cell* value, Cell* buffer, Cell*, int part) {
    const registry::TypeEntry& e = named(value);
    string::append_bytes(buffer, e.name, e.length);
    return part - e.length;
}

int mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int part, int) {
    const registry::TypeEntry& e = named(value);
    const int length = e.length + 1;
    if (all) string::append_literal(buffer, "#(");
    string::append_bytes(buffer, e.name, length);
    if (all) string::append_literal(buffer, ")");
    return part - length - (all ? 3 : 0);
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    switch (op) {
        case CompareOp::equal:
        case CompareOp::not_equal:
        case CompareOp::strict_equal:
        case CompareOp::same:
        case CompareOp::find:
            return value2->is(Type::datatype) && value2->data1 == value1->data1 ? 0 : 1;
        default:
            return not_comparable;
    }
}

constexpr ActionRow actions{
    .form = form,
    .mold = mold,
    .compare = compare,
};

}  // namespace

Cell* make_in(Cell* block, Type id) { return registry::make_datatype(memory::append_slot(block), id); }

void init() { registry::register_type(Type::datatype, registry::no_parent, "datatype!", actions); }

}  // namespace kiv::datatype
