// handle!: form, mold and compare, then the registration.
#include "runtime/datatypes/handle.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/evaluator/stack.h"
#include "runtime/state.h"

namespace kiv::handle {

namespace {

// Class names from class 1 on.
constexpr const char* class_names[] = {"fd", "monitor", "window", "font", "rich-text"};
constexpr std::int32_t class_name_count = sizeof class_names / sizeof class_names[0];

std::int32_t text_length(const Cell* buffer) { return string::ks_abs_length(buffer); }

// "0000ABCDh": eight upper-case hexadecimal digits and "h".
int form(Cell* value, Cell* buffer, Cell*, int part) {
    const std::int32_t before = text_length(buffer);
    string::append_literal(buffer, string::int_to_hex(value_of(value), false));
    string::append_literal(buffer, "h");
    return part - (text_length(buffer) - before);
}

// "handle!"; with /all "#[handle! 000000FFh window]" (the class name only
// for a named class above null).
int mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int part, int) {
    const std::int32_t before = text_length(buffer);
    if (!all) {
        string::append_literal(buffer, "handle!");
        return part - (text_length(buffer) - before);
    }
    string::append_literal(buffer, "#[handle! ");
    form(value, buffer, nullptr, 0);
    const std::int32_t klass = class_of(value);
    if (klass > 0 && klass <= class_name_count) {
        string::append_literal(buffer, " ");
        string::append_literal(buffer, class_names[klass - 1]);
    }
    string::append_literal(buffer, "]");
    return part - (text_length(buffer) - before);
}

// By the signed values alone, the class aside; never equal to another type.
int compare(Cell* value1, Cell* value2, CompareOp) {
    if (!value2->is(Type::handle)) return 1;
    const auto a = static_cast<std::int32_t>(value_of(value1));
    const auto b = static_cast<std::int32_t>(value_of(value2));
    return a < b ? -1 : a > b ? 1 : 0;
}

constexpr ActionRow actions{.form = form, .mold = mold, .compare = compare};

}  // namespace

Cell* box(std::uint32_t value, std::int32_t klass) { return make_at(state.stack_arguments, value, klass); }

Cell* push_null() { return make_at(stack::push_cell(), 0, static_cast<std::int32_t>(Class::null)); }

void init() { registry::register_type(Type::handle, Type::integer, "handle!", actions); }

}  // namespace kiv::handle
