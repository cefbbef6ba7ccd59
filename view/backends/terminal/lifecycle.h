// The face lifecycle of the terminal backend: a face's record made from
// the face (make-view), the engine's recorded changes applied to it
// (update-view, update-facet), face trees destroyed (destroy-view), the
// backend's start-up, image cells and face timers bound to `rate`.
//
// GC: everything here may run Kiv code (the widgets' update handlers, the
// engine's events sent on focus changes) and allocate.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "view/backends/terminal/gui.h"

namespace kiv::gui {

// The backend's start-up: the platform's version fields, the colour mode,
// the arrays of the state, the timers, the event loop's buffers.
void init();
// Makes the face's record under the parent (null: none) and answers it.
Widget* OS_make_view(Cell* face, Widget* parent);
void OS_update_view(Cell* face);
void OS_update_facet(Cell* owner, const Cell* word, const Cell* value, const Cell* action,
                     const Cell* new_value, std::int32_t index, std::int32_t part);
// Destroys the face's record and those of its pane, depth first; each
// face's state becomes none.
void OS_destroy_view(Cell* face, bool empty);
void update_font(Cell* font, std::int32_t kind);
// Image cells of the widget made afresh from the image (none frees them).
void image_to_cells(Widget* w, const Cell* image);
// Starts, restarts or stops the widget's face timer for a rate value;
// fires script invalid-facet-type for a bad rate.
void set_rate(Widget* w, const Cell* rate);

}  // namespace kiv::gui
