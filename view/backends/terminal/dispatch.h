// Event dispatch: decoded input and the backend's own events go first to a
// widget's native handler, then, when the widget has a face, to the
// language through system/view/awake. Mouse input is routed down the
// widget tree by hit testing; the state keeps the hover widget (for `over`
// and away events), the capture widget (pressed, and still told of the
// pointer after it leaves), the focused widget (for keys) and the
// double-click detector.
//
// Every awake call may run any code: an actor may destroy the widget being
// dispatched to (alert's OK closes its window). The functions here hold
// WidgetIds across such calls and stop at a widget that died.
//
// Every function below but send_to_awake does nothing and answers 0 for a
// disabled widget (and for null).
//
// GC: all of them may run actors, which allocate and collect.
#pragma once

#include <cstdint>

#include "view/backends/terminal/gui.h"

namespace kiv::gui {

// Calls system/view/awake with a backend event of the type, the record and
// the flags; an error or other throw from the actors is discarded there.
// Answers 1 when awake answered the word `done`, else 0.
int send_to_awake(int type, EventRecord* record, std::uint32_t flags);
// A record with only the widget: native handler, then awake when the
// widget has a face. Answers the awake result (0 without a face).
int send_event(int type, Widget* w, std::uint32_t flags);
// A record with the widget and the value: only awake, only when the widget
// has a face; flags 0.
int send_value_event(int type, Widget* w, std::int32_t value);
// A record with widget, x and y: native handler, then awake when the
// widget has a face.
int send_mouse_event(int type, Widget* w, float x, float y, std::uint32_t flags);
// A key for `w`, the focused widget when null. A non-zero `special` is a
// special key code (10: Shift+Tab). key-down, then key go to awake; the
// native handler sees the key only when neither answered `done`.
void send_key_event(Widget* w, std::int32_t code, std::int32_t special);

// The mouse entry points: the window widget of the active window, x and y
// relative to it, the modifier flags.
// A button press or release (types down to alt-up).
int on_button(int type, Widget* window, float x, float y, std::uint32_t flags);
// A pointer move (type over); `top` on the first call of the descent.
int process_over(int type, Widget* w, float x, float y, std::uint32_t flags, bool top);
// A wheel turn, delta +1 or -1.
int process_wheel(int delta, Widget* w, float x, float y, std::uint32_t flags);

// Whether b is a proper ancestor of a, or a and b have the same parent.
bool related_q(const Widget* a, const Widget* b);
// x and y (relative to the window widget) made relative to `w`.
void to_widget_offset(const Widget* w, float* x, float* y);

}  // namespace kiv::gui
