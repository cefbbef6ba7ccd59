#include "view/backends/terminal/gui-routines.h"

#include "view/backends/terminal/gui.h"

namespace kiv::gui {

void bind_routines() { register_marking(); }

}  // namespace kiv::gui
