// The terminal backend's side of printing: before text is written, a live
// text-mode view takes itself off the screen; after it, the view is marked
// for drawing again below the printed text at the next frame. With no view
// live both do nothing.
#pragma once

namespace kiv::gui {

void before_print();
void after_print();

}  // namespace kiv::gui
