// datatype!: a value naming a datatype by its id (payload word 1). It forms
// as the datatype's name without the "!" and molds with it.
#include "runtime/datatypes/datatype.h"

#include <cstring>
#include <iterator>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/type-list.h"
#include "runtime/memory.h"

namespace kiv::datatype {

namespace {

constexpr const char* type_names[] = {
#define KIV_TYPE_NAME(id, ident, name) name,
    KIV_TYPE_LIST(KIV_TYPE_NAME)
#undef KIV_TYPE_NAME
};

// The name with its "!", and its length without it. A datatype whose unit is
// not registered (its word still holds the datatype!) takes its name from the
// type list, so it forms and molds like the others.
const char* name_of(const Cell* value, int* length) {
    const registry::TypeEntry& e = registry::entry(value->data1);
    if (e.name != nullptr) {
        *length = e.length;
        return e.name;
    }
    const std::uint32_t id = value->data1;
    const char* name = id >= 1 && id <= std::size(type_names) ? type_names[id - 1] : "datatype!";
    *length = static_cast<int>(std::strlen(name)) - 1;
    return name;
}

int form(Cell* value, Cell* buffer, Cell*, int part) {
    int length = 0;
    const char* name = name_of(value, &length);
    string::append_bytes(buffer, name, length);
    return part - length;
}

int mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int part, int) {
    int bare = 0;
    const char* name = name_of(value, &bare);
    const int length = bare + 1;
    if (all) string::append_literal(buffer, "#(");
    string::append_bytes(buffer, name, length);
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
