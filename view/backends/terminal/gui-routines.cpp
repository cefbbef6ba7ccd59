#include "view/backends/terminal/gui-routines.h"

namespace kiv::gui {

void bind_routines() {}

}  // namespace kiv::gui
