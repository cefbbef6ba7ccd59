// Support for compiled code: refinements of direct calls, path evaluation,
// the switch and select lookup, and the shared small helpers.
#include "runtime/evaluator/compiled.h"

#include <cmath>
#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/fire.h"

namespace kiv::compiled {

namespace {

// C++ entry points only: nothing here is a language value.
struct Tables {
    const Entry* natives = nullptr;
    std::int32_t native_count = 0;
    const Entry* actions = nullptr;
    std::int32_t action_count = 0;
};
Tables tables;

// Whether a step sets the last element of a set-path that the parent's
// owner must hear of.
bool reports_change(const Cell* grand_parent, const Cell* previous) {
    if (grand_parent->is(Type::object)) return grand_parent->data3 != 0 && previous->is(Type::word);
    return grand_parent->is(Type::block) || grand_parent->is(Type::paren) ||
           grand_parent->is(Type::hash) || series::is_any_path(grand_parent->type());
}

}  // namespace

void install_tables(const Entry* natives, std::int32_t native_count, const Entry* actions,
                    std::int32_t action_count) {
    tables = Tables{natives, native_count, actions, action_count};
}

void set_refinement(const Cell* value, Cell* flag_slot, std::int32_t n) {
    if (logic::truthy(value, false, nullptr)) {
        flag_slot->data1 = 1;
        return;
    }
    for (std::int32_t i = 1; i <= n; ++i) none::make_at(flag_slot + i);
}

Status call_with_refinements(std::int32_t slot, bool native, Cell* frame, std::int32_t refinements,
                             const RefinementUse* uses, std::int32_t use_count) {
    const Entry* table = native ? tables.natives : tables.actions;
    const std::int32_t size = native ? tables.native_count : tables.action_count;
    if (slot < 1 || slot > size || refinements > max_refinements) fire(ErrorId::internal_not_done);
    std::int32_t args[max_refinements + 1];
    std::int32_t* positions = args + (native ? 1 : 0);
    args[0] = 1;
    for (std::int32_t k = 0; k < refinements; ++k) positions[k] = -1;
    for (std::int32_t u = 0; u < use_count; ++u) {
        const RefinementUse& use = uses[u];
        if (use.number < 1 || use.number > refinements) continue;
        if (logic::truthy(use.value, false, nullptr)) {
            positions[use.number - 1] = use.slot;
        } else {
            for (std::int32_t i = 0; i < use.count; ++i) none::make_at(frame + use.slot + i);
        }
    }
    if (!table[slot - 1]) fire(ErrorId::internal_not_done);
    return table[slot - 1](args, refinements + (native ? 1 : 0));
}

Cell* eval_path(Cell* path, const Cell* value, Cell* result) {
    const Cell the_path = *path;
    const std::int32_t first = series::head(&the_path) < 0 ? 0 : series::head(&the_path);
    const auto count = static_cast<std::int32_t>(block::buffer(&the_path)->length()) - first;
    if (count <= 0) return none::make_at(result);
    Cell to_set;
    if (value) to_set = *value;
    Cell grand_parent = none::value;
    Cell current = block::buffer(&the_path)->cells()[first];
    if (current.is(Type::word)) {
        const NodeId bound = current.data1;
        if (bound && bound != context::global()) {
            const Cell* owner = context::owner(bound);
            if (!owner->is(Type::object)) grand_parent = *owner;
        }
        current = *context::get(&current);
    }
    Cell previous = block::buffer(&the_path)->cells()[first];
    for (std::int32_t i = 0; i + 1 < count; ++i) {
        // GC: handlers may change the path; its cell is read again each step.
        Cell* element = block::buffer(&the_path)->cells() + first + 1 + i;
        const bool last = i + 2 == count;
        const bool setting = value && last;
        const bool report = setting && count > 2 && reports_change(&grand_parent, &previous);
        Cell parent = current;
        Cell* next = registry::find<Action::eval_path>(&parent)(
            &parent, element, setting ? &to_set : nullptr, path, &grand_parent, &previous, i, false,
            false, last, report);
        grand_parent = current;
        previous = *element;
        current = *next;
    }
    *result = current;
    return result;
}

Cell* switch_select(const Cell* value, Cell* cases, bool by_one, bool switch_, Cell* result) {
    const Cell key = *value;
    const Cell list = *cases;
    if (key.is(Type::block)) return none::make_at(result);
    const std::int32_t step = by_one ? 1 : 2;
    const std::int32_t first = series::head(&list) < 0 ? 0 : series::head(&list);
    for (std::int32_t i = first;; i += step) {
        memory::SeriesBuffer* b = block::buffer(&list);
        const auto tail = static_cast<std::int32_t>(b->length());
        if (i >= tail) break;
        Cell candidate = b->cells()[i];
        if (candidate.type() != key.type()) continue;
        Cell left = key;
        if (registry::find<Action::compare>(&left)(&left, &candidate, CompareOp::equal) != 0) continue;
        // GC: compare may allocate (a symbol's string); read the cells again.
        b = block::buffer(&list);
        if (!switch_) return cell::copy(i + 1 < tail ? &b->cells()[i + 1] : &b->cells()[i], result);
        for (std::int32_t j = i + 1; j < tail; ++j) {
            if (b->cells()[j].is(Type::block)) return cell::copy(&b->cells()[j], result);
        }
        break;
    }
    return none::make_at(result);
}

std::int32_t integer_arg(const Cell* value) {
    switch (value->type()) {
        case Type::integer: return static_cast<std::int32_t>(value->data2);
        case Type::float_: case Type::percent: {
            const double d = float_::get(value);
            if (!(d >= -2147483648.0 && d <= 2147483647.0)) fire(ErrorId::script_out_of_range, value);
            return static_cast<std::int32_t>(std::trunc(d));
        }
        default: fire(ErrorId::script_invalid_arg, value);
    }
}

int append_indent(Cell* string, std::int32_t level, int part) {
    for (std::int32_t i = 0; i < level; ++i) string::append_literal(string, "    ");
    return part - 4 * level;
}

std::uint8_t* repeat_pattern(std::uint8_t* buffer, std::int64_t n, std::int64_t count) {
    if (n <= 0 || count <= 0) return buffer;
    const std::int64_t total = n * count;
    std::int64_t filled = n;
    while (total - filled >= filled) {
        std::memcpy(buffer + filled, buffer, static_cast<std::size_t>(filled));
        filled *= 2;
    }
    if (total > filled) std::memcpy(buffer + filled, buffer, static_cast<std::size_t>(total - filled));
    return buffer + total;
}

}  // namespace kiv::compiled
