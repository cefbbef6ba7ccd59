// The terminal backend's event loop: frames of 33 ms that read the
// terminal's input, advance the face timers, draw the active window and
// dispatch the decoded keys and mouse reports.
//
// Loops nest: a dialog opened from an actor runs a loop inside the outer
// one, and `wait` runs no-wait passes while a view is live. Only the
// outermost loop sets the terminal up and puts it back (terminal-control.h)
// and resets the backend's window state when it ends.
//
// Input is read only while the terminal is live. With standard input or
// output redirected no key can ever arrive, so a loop then runs only while
// a face timer exists (a timer's actor can close the view); with none it
// ends at once.
//
// GC: every frame runs user code (actors through the dispatch and the
// timers); the loop itself holds no language values.
#pragma once

namespace kiv::gui {

// Makes the input buffer and hooks the no-wait pass into `wait`. The
// backend's start-up calls it; later calls do nothing.
void init_event_loop();

// Runs the loop until it is ended (post_quit_msg, the closing of a window,
// a throw out of a frame); with no_wait, one pass that returns at once when
// no input is pending. Answers whether the last frame read any input.
bool do_events(bool no_wait);

// Ends the innermost running loop.
void post_quit_msg();

// One no-wait pass when the terminal is live; otherwise nothing. Answers 0.
int poll_events();

// The loops running now (no-wait passes not counted).
int loop_depth();

}  // namespace kiv::gui
