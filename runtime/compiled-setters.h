// The word and slot setters and getters that compiled library code calls:
// the value is the last cell pushed on the argument stack (the bottom cell
// when the stack is empty). The checked forms refuse unset! before anything
// is stored.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::compiled {

// Sets the word to the value (the owner's change handler included); an
// unset value fires script need-value. The stack is left alone.
void set_word_keep(Cell* word);
// The same, then the stack top goes back to the frame's base.
void set_word(Cell* word);
// Stores the value in slot `index` of the context; an unset value fires
// script need-value with the word at that index.
void set_slot_keep(NodeId context, std::int32_t index);
void set_slot(NodeId context, std::int32_t index);
// Stores without the unset check into the context's heap values (an object
// field gets its written mark), then resets the stack top.
void set_slot_unchecked(NodeId context, std::int32_t index);
// The word's value cell; an unset value fires script no-value.
Cell* get_word_checked(const Cell* word);
// Slot `index` of the context; a function context whose function is not
// running fires script not-defined with the word at that index.
Cell* get_slot(NodeId context, std::int32_t index);

}  // namespace kiv::compiled
