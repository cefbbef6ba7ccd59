#include "runtime/state.h"

namespace kiv {

// Zero-initialised: no throw in flight, an empty tracked list, no terminal
// to restore.
State state;

}  // namespace kiv
