// percent!: its text forms and its registration under float!.
#include "runtime/datatypes/percent.h"

#include <cstring>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"

namespace kiv::percent {

Cell* make_in(Cell* block, double fraction) {
    return float_::make_in(block, fraction, Type::percent);
}

namespace {

// form and mold are the same: 13 significant digits of the value times 100
// and "%".
int form(Cell* value, Cell* buffer, Cell*, int part) {
    const char* text = float_::form_float(get(value) * 100.0, float_::Kind::percent64);
    string::append_literal(buffer, text);
    return part - static_cast<int>(std::strlen(text));
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part_arg, int part, int) {
    return form(value, buffer, part_arg, part);
}

constexpr ActionRow actions{
    .make = inherit,
    .random = inherit,
    .to = inherit,
    .form = form,
    .mold = mold,
    .compare = inherit,
    .absolute = inherit,
    .add = inherit,
    .divide = inherit,
    .multiply = inherit,
    .negate = inherit,
    .power = inherit,
    .remainder = inherit,
    .round = inherit,
    .subtract = inherit,
    .even_q = inherit,
    .odd_q = inherit,
};

}  // namespace

void init() { registry::register_type(Type::percent, Type::float_, "percent!", actions); }

}  // namespace kiv::percent
