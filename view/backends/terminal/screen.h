// Screen output of the terminal backend: the stack of open windows, the
// canvas of cells sized to the active window and the terminal, and the frame
// that composes the canvas into VT text and sends it in one write.
//
// A frame is drawn only when something marked it dirty. SGR sequences are
// written only where a cell's attributes or colours differ from the cell
// printed before it, and the terminal is left with default attributes after
// the last row. A control character in a cell prints as a space, so nothing
// drawn can send a raw escape to the terminal.
//
// Inline mode draws the view from the cursor's line and redraws it in place
// (state.view_lines is how far above the cursor the view starts); fullscreen
// mode draws in the alternate screen from its home position.
//
// GC: present runs every widget's render handler (which may read faces but
// not run user code); resized runs the engine's event handling, which may
// run any code. The rest never touches the heap.
#pragma once

#include <string>

#include "view/backends/terminal/gui.h"

namespace kiv::gui {

// --- the window stack ---

void make_window(WindowRecord* record);
void activate_window(WindowRecord* record);
// Takes the record off the stack and frees it; the last remaining window
// becomes active.
void remove_window(WindowRecord* record);

// --- frames ---

void mark_dirty();
// Sizes the canvas for the window (only while the terminal is live).
void size_canvas(WindowRecord* record);
// Draws a frame of the active window when the frame is dirty.
void present();
// Renders the active window's tree into the (zeroed) canvas.
void render_window(WindowRecord* record);
// Composes the canvas into state.output: the frame's text, the caret's
// placement included. Returns false (and composes nothing) for an empty
// canvas. Updates state.view_lines.
bool compose_frame();
// The SGR text that takes the terminal from cell p's attributes to q's.
void style_difference(const CanvasCell& p, const CanvasCell& q, raw::RawArray<char>& out);

// --- inline and fullscreen ---

void erase_view();
void leave_inline();
void enter_alt_screen();
void leave_alt_screen();
// The terminal was resized to columns x rows.
void resized(int columns, int rows);
// The end of the outermost event loop: every window tree destroyed, the
// session state reset.
void teardown();

// The caret-taking widget that has the focus, or null.
Widget* caret_focus();

}  // namespace kiv::gui
