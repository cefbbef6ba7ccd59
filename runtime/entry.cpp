#include "runtime/entry.h"

namespace kiv::runtime {

int program_entry(int, char**) { return 0; }

}  // namespace kiv::runtime
