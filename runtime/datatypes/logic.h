// logic!: true and false. Payload word 1 is the flag, 1 or 0 and nothing else.
// The truthiness tests of every conditional live here: a value is false when
// it is none! or a logic! false, and true otherwise (unset! included, unless
// the test checks for it).
#pragma once

#include "runtime/cell.h"

namespace kiv::logic {

// The shared read-only true and false values.
extern const Cell true_value;
extern const Cell false_value;

inline Cell* make_at(Cell* out, bool flag) {
    *out = Cell{static_cast<std::uint32_t>(Type::logic), flag ? 1u : 0u, 0, 0};
    return out;
}

inline bool get(const Cell* value) { return value->data1 != 0; }

inline bool falsy(const Cell* value) {
    return value->is(Type::none) || (value->is(Type::logic) && value->data1 == 0);
}

// Whether the value counts as true. With `check`, an unset! value raises
// script no-value naming `arg`.
bool truthy(const Cell* value, bool check, const Cell* arg);

// The tests of a result: unset! raises script no-return in result_truthy,
// and counts as true in result_falsy.
bool result_truthy(const Cell* result);
inline bool result_falsy(const Cell* result) { return falsy(result); }

// Appends a logic value at the block's tail. May expand the block.
Cell* make_in(Cell* block, bool flag);

void init();

}  // namespace kiv::logic
