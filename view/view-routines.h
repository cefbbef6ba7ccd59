// The C++ routines of the graphics engine that its Kiv sources call.
#pragma once

namespace kiv::view_routines {

// Makes the engine's routines and binds their words. Runs in the graphics
// boot group before the engine's Kiv sources.
void bind();

}  // namespace kiv::view_routines
