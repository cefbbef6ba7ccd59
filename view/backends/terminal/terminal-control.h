// Terminal control for the text-mode backend: the terminal modes a live
// view needs, the VT sequences the backend writes, the terminal size and
// resizes.
//
// Terminal mode is entered only when standard input and standard output are
// both terminals (state.live then holds). Entering saves the terminal's
// modes once and puts standard input into raw mode: no line editing, no
// echo, no signal keys (Ctrl-C arrives as key 3), no flow control. Output
// modes are left as they are, so printed text still ends lines as usual.
// Leaving puts the saved modes back. The same restore runs on every other
// way out of the process (quit, fatal errors, SIGINT, SIGTERM, SIGHUP)
// through the runtime's terminal-restore hook: mouse reporting off, the
// alternate screen left, the cursor shown, the modes restored.
//
// Cursor-position queries are counted; the answers still owed when the
// terminal is left are awaited for a short while and swallowed, so a late
// answer never reaches the shell or the console as typed text.
//
// Every sequence goes to standard output in one write. While the terminal
// is not live nothing is written except by write_raw itself.
#pragma once

#include <cstddef>

namespace kiv::gui {

void write_raw(const void* bytes, std::size_t count);

// ESC [ ? n h and ESC [ ? n l.
void set_private_mode(int n);
void reset_private_mode(int n);
// Asks for the cursor position (ESC [ 6 n); the answer arrives as input.
void query_cursor();
// A cursor-position answer was decoded.
void cursor_report_seen();
void alt_screen_on();
void alt_screen_off();
// Mouse reporting: any-motion tracking with SGR coordinates.
void mouse_on();
void mouse_off();
// Written only when the cursor's visibility changes.
void hide_cursor();
void show_cursor();
// Nothing for rows below 1.
void cursor_down(int rows);

// Whether standard input and standard output are both terminals.
bool terminal_available();
// Enters terminal mode when not live and the terminal is available; then,
// unless a fullscreen window wants the alternate screen, asks for the
// cursor position (only while live).
void enter_terminal();
// Restores the saved modes; answers 0 when not live. First the answers
// still owed are awaited for a short while and dropped with any other
// pending input.
int leave_terminal();
// Drops the input pending now (a nested loop's end), counting the
// cursor-position answers among it.
void drain_pending_input();

// Reads the terminal size into state.columns and state.rows; answers 0, or
// -1 when it fell back to 80x24.
int fetch_console_size();
// A resize: the size read again, the first screen face's size updated in
// place, and while live every window told and the frame redrawn.
void on_resize();
// True once after each SIGWINCH (the event loop's frames ask).
bool take_resize();

}  // namespace kiv::gui
