// Widget records: making and freeing them, the small operations on them,
// the focus, and the per-type behaviour of the face types the terminal
// shows (window, field, button, base, progress, group-box, check, radio,
// text-list, rich-text). Any other type keeps the default handlers: drawn
// as a plain face, no events of its own.
//
// GC: the update handlers of progress, check, radio and text-list call the
// text-mode helpers written in Kiv, so `update` may run any code; event
// handlers send events to the engine, which runs actors. Such calls may
// free records: callers hold a WidgetId across them, not a pointer.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "view/backends/terminal/gui.h"

namespace kiv::gui {

// --- records ---

// A zeroed record with the default handlers and the parent given,
// registered in the widget table. Never null.
Widget* make_widget(Widget* parent);
// Unregisters the record and frees it with what it owns: image cells,
// rich-text runs and (for a window) its record, which leaves the window
// stack. Null is ignored.
void free_widget(Widget* w);

// The default handlers.
void no_update(Widget* w);
void default_render(int x, int y, Widget* w);
int no_event(int type, EventRecord* event);

// Gives the record its type's handlers and per-type data (the record's
// face, type, flags and box already set), and runs `update` once for the
// types whose drawn text is built by it.
void construct_widget(Widget* w);

// --- small operations ---

// The face's record: face/state must be a block whose first value is a
// handle!; null otherwise or when that handle no longer resolves.
Widget* face_handle_q(const Cell* face);
// face_handle_q, or the record being made for the face while its type's
// constructor runs (the face holds no handle yet then).
Widget* face_widget(const Cell* face);
// The id held in face/state/1, without checks beyond reading it.
WidgetId get_face_handle(const Cell* face);
bool has_focus_q(const Widget* w);
// The per-type data word: the first visible line of a text-list, else 0.
std::int32_t widget_data(const Widget* w);
// The string the widget draws instead of the face text (none clears it).
void set_widget_ui(Widget* w, const Cell* string);
// Width and height in cells, truncated toward zero.
void widget_size(const Widget* w, int* width, int* height);
// Position in canvas cells: the sum of x1, y1 of the record and its
// ancestors below the window.
void absolute_offset(const Widget* w, int* x, int* y);
// The topmost visible child whose box holds the point (relative to w).
Widget* child_at(const Widget* w, float x, float y);
// The window record above the widget (or its own), or null.
WindowRecord* window_of(const Widget* w);

// --- focus and redraw ---

// Moves the focus to `w` (may be null) and remembers it in the window
// record (the active window's when null). Sends unfocus to the old focus
// and focus to the new one through the engine.
// GC: runs actors.
void set_focus(Widget* w, WindowRecord* window);
// Marks the frame dirty when the widget (the focused one when null) is in
// the active window.
void invalidate(Widget* w);

// Calls TUI-helpers/<name> with `count` arguments (none for any further
// ones it takes); its result goes to `result` when given. Answers false when
// the helper is missing or a throw is pending. GC: runs Kiv code; `args`
// must not point into a series that the call may move.
bool call_tui_helper(const char* name, const Cell* args, std::int32_t count, Cell* result);

// Destroys the face tree of a window widget (frees every record of it and
// sets each face's state to none). Defined by the face lifecycle.
void destroy_window_tree(Widget* window);

}  // namespace kiv::gui
