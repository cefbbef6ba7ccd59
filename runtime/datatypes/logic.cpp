// logic!: true and false, with the truthiness tests of the conditionals.
// Two logic values compare by flag (false sorts first) but have no order for
// lesser? and the like.
#include "runtime/datatypes/logic.h"

#include <cstring>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/random.h"
#include "runtime/fire.h"
#include "runtime/memory.h"

namespace kiv::logic {

const Cell true_value{static_cast<std::uint32_t>(Type::logic), 1, 0, 0};
const Cell false_value{static_cast<std::uint32_t>(Type::logic), 0, 0, 0};

bool truthy(const Cell* value, bool check, const Cell* arg) {
    if (check && value->is(Type::unset)) fire(ErrorId::script_no_value, arg);
    return !falsy(value);
}

bool result_truthy(const Cell* result) {
    if (result->is(Type::unset)) fire(ErrorId::script_no_return);
    return !falsy(result);
}

Cell* make_in(Cell* block, bool flag) { return make_at(memory::append_slot(block), flag); }

namespace {

double float_of(const Cell* value) {
    double d;
    std::uint32_t words[2] = {value->data2, value->data3};
    std::memcpy(&d, words, sizeof d);
    return d;
}

Cell* to(Cell* proto, Cell* spec, Type) {
    bool flag = spec->is(Type::logic) ? get(spec) : !spec->is(Type::none);
    return make_at(proto, flag);
}

// make tests numbers for zero; every other spec converts as `to` does.
Cell* make(Cell* proto, Cell* spec, Type type) {
    switch (spec->type()) {
        case Type::integer: return make_at(proto, spec->data2 != 0);
        // NaN compares unequal to 0.0, so it is true.
        case Type::float_:
        case Type::percent: return make_at(proto, float_of(spec) != 0.0);
        default: return to(proto, spec, type);
    }
}

// With /seed the generator is seeded with the flag and the value becomes
// unset; otherwise the value becomes a fair draw, changed in place.
Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(get(value) ? 1 : 0);
        return unset::make_at(value);
    }
    const std::int32_t draw = secure ? random::secure_next() : random::next();
    return make_at(value, draw > 0x3FFFFFFF);
}

int form(Cell* value, Cell* buffer, Cell*, int part) {
    const bool flag = get(value);
    string::append_literal(buffer, flag ? "true" : "false");
    return part - (flag ? 4 : 5);
}

int mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int part, int) {
    const bool flag = get(value);
    if (!all) return form(value, buffer, nullptr, part);
    string::append_literal(buffer, flag ? "#(true)" : "#(false)");
    return part - (flag ? 7 : 8);
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(Type::logic)) return not_comparable;
    switch (op) {
        case CompareOp::lesser:
        case CompareOp::lesser_or_equal:
        case CompareOp::greater:
        case CompareOp::greater_or_equal:
            return not_comparable;
        default:
            return static_cast<int>(value1->data1) - static_cast<int>(value2->data1);
    }
}

enum class Bitwise { and_, or_, xor_ };

Cell* do_bitwise(Cell* value1, Cell* value2, Bitwise op, Action action) {
    if (!value2->is(Type::logic)) {
        Cell function;
        Cell type;
        Cell arg;
        word::load(registry::action_name(action), &function);
        registry::make_datatype(&type, value2->type());
        word::load("value2", &arg);
        fire(ErrorId::script_expect_arg, &function, &type, &arg);
    }
    const bool a = get(value1);
    const bool b = get(value2);
    const bool r = op == Bitwise::and_ ? (a && b) : op == Bitwise::or_ ? (a || b) : (a != b);
    value1->data1 = r ? 1 : 0;
    return value1;
}

Cell* and_(Cell* value1, Cell* value2) {
    return do_bitwise(value1, value2, Bitwise::and_, Action::and_);
}
Cell* or_(Cell* value1, Cell* value2) {
    return do_bitwise(value1, value2, Bitwise::or_, Action::or_);
}
Cell* xor_(Cell* value1, Cell* value2) {
    return do_bitwise(value1, value2, Bitwise::xor_, Action::xor_);
}

Cell* complement(Cell* value) {
    value->data1 ^= 1;
    return value;
}

constexpr ActionRow actions{
    .make = make,
    .random = random,
    .to = to,
    .form = form,
    .mold = mold,
    .compare = compare,
    .and_ = and_,
    .complement = complement,
    .or_ = or_,
    .xor_ = xor_,
};

}  // namespace

void init() { registry::register_type(Type::logic, registry::no_parent, "logic!", actions); }

}  // namespace kiv::logic
