// The routines of the terminal backend that its Kiv sources (the platform
// object and the text-mode helpers) call.
#pragma once

namespace kiv::gui {

// Makes the backend's routines and binds their words. Runs in the graphics
// boot group after the engine's Kiv sources and before the platform object.
void bind_routines();

}  // namespace kiv::gui
