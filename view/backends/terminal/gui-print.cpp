#include "view/backends/terminal/gui-print.h"

#include <cstdio>

#include "runtime/error-exit.h"
#include "view/backends/terminal/gui.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/terminal-control.h"

namespace kiv::gui {

// LINUX: the terminal's output modes are never changed while a view is
// live, so printed text needs no mode switched back and forth; only the
// view itself steps aside.
void before_print() {
    if (!state.live) return;
    // A fault report is printed from a signal handler: the view is left as
    // it is and the exit path restores the terminal.
    if (runtime::handling_fault()) return;
    erase_view();
    state.shown = false;
    std::fflush(nullptr);
}

void after_print() {
    if (!state.live || runtime::handling_fault()) return;
    state.dirty = true;
    // The answer tells where the printed text ended: the view is drawn
    // again from there at the next frame.
    query_cursor();
}

}  // namespace kiv::gui
