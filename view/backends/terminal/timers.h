// Face timers: a face whose rate is set receives `time` events at that
// rate. The backend keeps one list of timers, in the order they were added,
// and the event loop advances them by the measured length of each frame.
//
// A timer names its widget by WidgetId, so a timer whose widget was freed
// without removing it never reaches freed memory: the next pass drops it.
//
// Callbacks run actors, which may add or remove timers (or destroy
// widgets): a pass advances only the timers present when it began, skips
// those removed meanwhile, and leaves added ones for the next pass. Removed
// records stay in the list, marked, until no pass is running.
#pragma once

#include <cstdint>

#include "view/backends/terminal/gui.h"

namespace kiv::gui {

using TimerCallback = void (*)(Widget* w);

struct FaceTimer {
    std::int32_t one_shot;  // fire once, then stay fired
    std::int32_t fired;     // a one-shot timer has fired: skipped from then on
    std::int32_t elapsed;   // ms since it last fired
    std::int32_t interval;  // ms between firings
    WidgetId widget;
    TimerCallback callback;
    bool removed;  // waiting to leave the list once no pass runs
};

// Makes the (empty) list. The backend's start calls it; repeated calls keep
// the timers.
void make_timers();
// Appends a repeating timer of the widget with on_timer as its callback.
void add_timer(Widget* w, std::int32_t interval_ms);
// Removes the timer of the widget added last; nothing when it has none.
void remove_timer(Widget* w);
// Advances every timer by the frame's length, first to last; a negative
// length counts as 0.
void fire_timers(std::int32_t elapsed_ms);
// Advances one timer; answers 1 when it fired.
std::int32_t advance_timer(FaceTimer& timer, std::int32_t elapsed_ms);
// Sends `time` to the widget.
void on_timer(Widget* w);
// Timers that may still fire.
std::uint32_t timer_count();
// Forgets every timer (tests, and a backend started again).
void clear_timers();

}  // namespace kiv::gui
