// unset!: the value of nothing. Forms as nothing, molds as "unset", equals
// only another unset value and has no order.
#include "runtime/datatypes/unset.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/memory.h"

namespace kiv::unset {

const Cell value{static_cast<std::uint32_t>(Type::unset), 0, 0, 0};

Cell* make_in(Cell* block) { return make_at(memory::append_slot(block)); }

namespace {

Cell* make(Cell* proto, Cell*, Type) { return make_at(proto); }

int form(Cell*, Cell*, Cell*, int part) { return part; }

int mold(Cell*, Cell* buffer, bool, bool all, bool, Cell*, int part, int) {
    const char* text = all ? "#(unset)" : "unset";
    string::append_literal(buffer, text);
    return part - (all ? 8 : 5);
}

int compare(Cell*, Cell* value2, CompareOp op) {
    if (!value2->is(Type::unset)) return not_comparable;
    switch (op) {
        case CompareOp::lesser:
        case CompareOp::lesser_or_equal:
        case CompareOp::greater:
        case CompareOp::greater_or_equal:
            return not_comparable;
        default:
            return 0;
    }
}

constexpr ActionRow actions{
    .make = make,
    .to = make,
    .form = form,
    .mold = mold,
    .compare = compare,
};

}  // namespace

void init() { registry::register_type(Type::unset, registry::no_parent, "unset!", actions); }

}  // namespace kiv::unset
