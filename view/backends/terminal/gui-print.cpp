#include "view/backends/terminal/gui-print.h"

namespace kiv::gui {

// FIXME: no text-mode view can be live until the backend exists; these stay
// empty until then.
void before_print() {}
void after_print() {}

}  // namespace kiv::gui
