// The runtime init: sets up every unit of the runtime, one after the other,
// in a fixed order. The order is visible to programs (symbol ids follow the
// order in which words are first made), so a unit takes its place in the
// list and never moves.
#pragma once

namespace kiv::runtime {

void init();

}  // namespace kiv::runtime
