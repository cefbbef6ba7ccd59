// Face timers. See timers.h.
#include "view/backends/terminal/timers.h"

#include <limits>

#include "runtime/raw-array.h"
#include "view/backends/terminal/dispatch.h"

namespace kiv::gui {

namespace {

raw::RawArray<FaceTimer> timers;
// Passes running (a callback may run a nested event loop, which fires
// timers again); removed records leave the list only when it is 0.
int passes = 0;
bool any_removed = false;

void drop_removed() {
    if (passes > 0 || !any_removed) return;
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < timers.count; ++i)
        if (!timers[i].removed) timers[kept++] = timers[i];
    timers.count = kept;
    any_removed = false;
}

}  // namespace

void make_timers() { timers.reserve(8); }

void add_timer(Widget* w, std::int32_t interval_ms) {
    if (!w) return;
    timers.push(FaceTimer{0, 0, 0, interval_ms, w->id, on_timer, false});
}

void remove_timer(Widget* w) {
    if (!w) return;
    for (std::uint32_t i = timers.count; i-- > 0;) {
        FaceTimer& t = timers[i];
        if (t.removed || t.widget != w->id) continue;
        t.removed = true;
        any_removed = true;
        break;
    }
    drop_removed();
}

std::int32_t advance_timer(FaceTimer& timer, std::int32_t elapsed_ms) {
    // Saturates: a one-shot timer that fired keeps counting forever.
    const std::int64_t sum = static_cast<std::int64_t>(timer.elapsed) + elapsed_ms;
    timer.elapsed = sum > std::numeric_limits<std::int32_t>::max() ? std::numeric_limits<std::int32_t>::max()
                                                                   : static_cast<std::int32_t>(sum);
    if (timer.fired || timer.elapsed < timer.interval) return 0;
    // The time beyond the interval is not carried over.
    timer.elapsed = 0;
    timer.fired = timer.one_shot;
    const WidgetId id = timer.widget;
    const TimerCallback callback = timer.callback;
    // The callback runs user code, which may grow the list (moving `timer`)
    // or free the widget: both were read first.
    if (Widget* w = widget_at(id)) callback(w);
    return 1;
}

void fire_timers(std::int32_t elapsed_ms) {
    if (elapsed_ms < 0) elapsed_ms = 0;
    ++passes;
    const std::uint32_t present = timers.count;
    for (std::uint32_t i = 0; i < present && i < timers.count; ++i) {
        FaceTimer& t = timers[i];
        if (t.removed) continue;
        // A timer whose widget was freed without removing it leaves too.
        if (!widget_at(t.widget)) {
            t.removed = true;
            any_removed = true;
            continue;
        }
        advance_timer(t, elapsed_ms);
    }
    --passes;
    drop_removed();
}

void on_timer(Widget* w) { send_event(event_type::time, w, 0); }

std::uint32_t timer_count() {
    std::uint32_t n = 0;
    for (const FaceTimer& t : timers)
        if (!t.removed && !t.fired && widget_at(t.widget)) ++n;
    return n;
}

void clear_timers() {
    timers.clear();
    any_removed = false;
}

}  // namespace kiv::gui
