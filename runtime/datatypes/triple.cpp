// triple!: form and mold, then the registration.
#include "runtime/datatypes/triple.h"

#include <cstdio>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"

namespace kiv::triple {

namespace {

// "make triple! [1 2 -3]"; form and mold write the same text.
int form(Cell* value, Cell* buffer, Cell*, int part) {
    char text[64];
    const int n = std::snprintf(text, sizeof text, "make triple! [%d %d %d]", a(value), b(value), c(value));
    string::append_literal(buffer, text);
    return part - n;
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part_arg, int part, int) {
    return form(value, buffer, part_arg, part);
}

constexpr ActionRow actions{.form = form, .mold = mold};

}  // namespace

void init() { registry::register_type(Type::triple, registry::no_parent, "triple!", actions); }

}  // namespace kiv::triple
