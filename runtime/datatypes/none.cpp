// none!: the empty value. The series actions that may meet none answer none
// whatever their other arguments, so code can chain them on a failed search.
#include "runtime/datatypes/none.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/memory.h"

namespace kiv::none {

const Cell value{static_cast<std::uint32_t>(Type::none), 0, 0, 0};

Cell* make_in(Cell* block) { return make_at(memory::append_slot(block)); }

namespace {

Cell* make(Cell* proto, Cell*, Type) { return make_at(proto); }

int form(Cell*, Cell* buffer, Cell*, int part) {
    string::append_literal(buffer, "none");
    return part - 4;
}

int mold(Cell*, Cell* buffer, bool, bool all, bool, Cell*, int part, int) {
    string::append_literal(buffer, all ? "#(none)" : "none");
    return part - (all ? 7 : 4);
}

int compare(Cell*, Cell* value2, CompareOp op) {
    if (!value2->is(Type::none)) return not_comparable;
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

// clear, find, remove, select and take of none answer none.
Cell* answer_none(Cell* series) { return make_at(series); }
Cell* clear(Cell* series) { return answer_none(series); }
Cell* find(Cell* series, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool, bool,
           bool) {
    return answer_none(series);
}
Cell* remove(Cell* series, Cell*, Cell*) { return answer_none(series); }
Cell* select(Cell* series, Cell*, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) {
    return answer_none(series);
}
Cell* take(Cell* series, Cell*, bool, bool) { return answer_none(series); }

// -1 makes the length? action answer none.
int length_q(Cell*) { return -1; }

constexpr ActionRow actions{
    .make = make,
    .to = make,
    .form = form,
    .mold = mold,
    .compare = compare,
    .clear = clear,
    .find = find,
    .length_q = length_q,
    .remove = remove,
    .select = select,
    .take = take,
};

}  // namespace

void init() { registry::register_type(Type::none, registry::no_parent, "none!", actions); }

}  // namespace kiv::none
