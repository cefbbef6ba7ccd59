#include "view/backends/terminal/event-loop.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "runtime/boot.h"
#include "runtime/datatypes/logic.h"
#include "runtime/evaluator/natives-system.h"
#include "runtime/state.h"
#include "view/backends/terminal/cells.h"
#include "view/backends/terminal/dispatch.h"
#include "view/backends/terminal/gui.h"
#include "view/backends/terminal/input-decoder.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/terminal-control.h"
#include "view/backends/terminal/timers.h"

namespace kiv::gui {

namespace {

constexpr int frame_ms = 33;
// The click timer stops counting here; a double click needs far less.
constexpr int click_timer_limit = 800;

InputBuffer input;
bool ready = false;
// The terminal hung up (its input reports only the hang-up): no key can
// come any more, as with redirected input.
bool input_gone = false;

Widget* window_widget() { return state.active_window ? state.active_window->widget : nullptr; }

// Decoded input to the dispatch: keys to the focused widget, mouse reports
// to the active window's widget.
class DispatchSink final : public InputSink {
public:
    void key(std::int32_t code, std::int32_t special) override { send_key_event(nullptr, code, special); }
    void button(int type, float x, float y, std::uint32_t flags) override {
        if (Widget* w = window_widget()) on_button(type, w, x, y, flags);
    }
    void move(float x, float y, std::uint32_t flags) override {
        if (Widget* w = window_widget()) process_over(event_type::over, w, x, y, flags, true);
    }
    void wheel(int delta, float x, float y, std::uint32_t flags) override {
        if (Widget* w = window_widget()) process_wheel(delta, w, x, y, flags);
    }
    void cursor_report(int row, int column) override {
        cursor_report_seen();
        state.view_top = row - 1;
        state.view_left = column - 1;
    }
    int view_top() override { return state.view_top; }
};

// Reads the pending input into the buffer (only while live: redirected
// input belongs to the script and the console). A resize counts as one
// record. Answers the records read; with process false the bytes are
// dropped.
int read_console_input(bool process) {
    if (!state.live) return 0;
    int records = 0;
    if (process && take_resize()) {
        on_resize();
        ++records;
    }
    int pending = 0;
    if (::ioctl(STDIN_FILENO, FIONREAD, &pending) != 0 || pending <= 0) return records;
    std::uint8_t bytes[512];
    while (pending > 0) {
        const std::size_t want = static_cast<std::size_t>(pending) < sizeof bytes ? pending : sizeof bytes;
        const ssize_t n = ::read(STDIN_FILENO, bytes, want);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (process) append_input_bytes(input, bytes, static_cast<std::uint32_t>(n));
        records += static_cast<int>(n);
        pending -= static_cast<int>(n);
    }
    return records;
}

// The rest of the frame: until input arrives while live, else a sleep.
void wait_frame(int ms) {
    if (ms <= 0) return;
    if (state.live && !input_gone) {
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        // A signal (a resize) ends the wait early, as input does.
        if (::poll(&pfd, 1, ms) <= 0 || !(pfd.revents & (POLLHUP | POLLERR | POLLNVAL))) return;
        // A hang-up answers every wait at once; from now on the frames sleep.
        input_gone = true;
    }
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    ::nanosleep(&ts, nullptr);
}

// Whether a key can still end the loop.
bool input_possible() { return state.live && !input_gone; }

bool platform_mouse_wanted() {
    const Cell* field = boot::resolve("system/view/platform/mouse-event?");
    return field && field->is(Type::logic) && logic::get(field);
}

void set_up_terminal() {
    enter_terminal();
    enter_alt_screen();
    const bool wanted = platform_mouse_wanted();
    if (wanted != state.mouse_tracking) {
        state.mouse_tracking = wanted;
        if (wanted) mouse_on();
        else mouse_off();
    }
}

// The end of the outermost loop: the terminal as it was found, the window
// state reset.
void tear_down_terminal() {
    if (state.live && state.shown && !state.alt_screen) leave_inline();
    if (state.mouse_tracking) {
        mouse_off();
        state.mouse_tracking = false;
    }
    leave_alt_screen();
    show_cursor();
    leave_terminal();
    reset_input_buffer(input);
    input_gone = false;
    teardown();
}

// Runs the leaving steps however the loop is left, a language error
// escaping a frame included.
struct LoopExit {
    bool nested;
    bool no_wait;
    int entry;
    ~LoopExit() {
        if (state.nesting > entry) state.nesting = entry;
        if (no_wait) return;
        if (nested) {
            drain_pending_input();
            reset_input_buffer(input);
            return;
        }
        // Also runs while an error unwinds through the loop: nothing may
        // escape from here then.
        try {
            tear_down_terminal();
        } catch (...) {
        }
    }
};

}  // namespace

void init_event_loop() {
    if (ready) return;
    ready = true;
    make_input_buffer(input);
    natives_system::wait_events = [] { poll_events(); };
}

bool do_events(bool no_wait) {
    init_event_loop();
    // Nested inside a running loop, or a no-wait pass. A second open window
    // alone does not make a loop nested: windows shown without waiting run
    // no loop, and the first waiting loop must still set the terminal up.
    const bool nested = no_wait || state.nesting > 0;
    const int entry = state.nesting;
    if (!no_wait) ++state.nesting;
    if (!nested) set_up_terminal();
    else if (!no_wait) reset_input_buffer(input);
    LoopExit exit{nested, no_wait, entry};

    DispatchSink sink;
    bool got_input = false;
    int elapsed = 0;
    for (;;) {
        const int records = read_console_input(true);
        got_input = records > 0;
        if (no_wait && records == 0) break;
        // LINUX: without a terminal no key can end the loop; only a timer's
        // actor still can.
        if (!input_possible() && timer_count() == 0) {
            if (state.nesting > entry) state.nesting = entry;
            break;
        }
        if (elapsed <= frame_ms) {
            wait_frame(frame_ms - elapsed);
            elapsed = frame_ms;
        }
        std::int64_t start = 0;
        get_ticks(&start);
        fire_timers(elapsed);
        present();
        decode_input(input, sink);
        if (state.click_state == 2 && state.click_timer < click_timer_limit) state.click_timer += frame_ms;
        elapsed = static_cast<int>(elapsed_ms(start));
        // A throw that got out of a frame ends the loop.
        if (kiv::state.thrown_code) {
            kiv::state.thrown_code = 0;
            --state.nesting;
        }
        if (no_wait || state.nesting <= entry) break;
    }
    return got_input;
}

void post_quit_msg() {
    if (state.nesting > 0) --state.nesting;
}

int poll_events() {
    if (state.live) (void)do_events(true);
    return 0;
}

int loop_depth() { return state.nesting; }

}  // namespace kiv::gui
