// The terminal backend's side of printing: before text is written, a live
// text-mode view takes itself off the screen and gives the console back;
// after it, the view takes the console again and redraws. With no view live
// both do nothing.
#pragma once

namespace kiv::gui {

void before_print();
void after_print();

}  // namespace kiv::gui
