// The routines of the terminal backend that its Kiv sources (the platform
// object and the text-mode helpers) call.
#pragma once

namespace kiv::gui {

// Makes the backend's routines and puts them in their fields of
// system/view/platform and TUI-helpers (and the start-up routine in the
// platform's `init`), sets `null-handle` and registers the widget table's
// collector hook. Runs in the graphics boot group after the platform
// object and the text-mode helpers are made.
void bind_routines();

}  // namespace kiv::gui
