// Event dispatch, focus, hover and mouse capture. See dispatch.h.
#include "view/backends/terminal/dispatch.h"

#include "runtime/boot.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/state.h"
#include "view/backends/terminal/event-record.h"
#include "view/backends/terminal/widgets.h"

namespace kiv::gui {

namespace {

// A double click is a second release within this time of the first.
constexpr int double_click_ms = 500;

// Masks of the capture rule: `any_mask` passes every event (the `up`).
constexpr std::uint32_t any_mask = 0xFFFFFFFF;

bool disabled(const Widget* w) { return !w || (w->flags & widget_flag::disabled); }
bool has_face(const Widget* w) { return w->face.is(Type::object); }

// Saves what a call into the language may leave changed, and puts it back
// on every way out of the call.
struct Saved {
    Cell* top = kiv::state.stack_top;
    Cell* arguments = kiv::state.stack_arguments;
    stack::CallFrame* frames = kiv::state.frames_top;
    Cell near = kiv::state.near;
    bool tracing = kiv::state.tracing;
    void restore() const {
        kiv::state.stack_top = top;
        kiv::state.stack_arguments = arguments;
        kiv::state.frames_top = frames;
        kiv::state.near = near;
        kiv::state.tracing = tracing;
        kiv::state.thrown_code = 0;
    }
};

}  // namespace

// ---------------------------------------------------------------------------
// Into the language.

int send_to_awake(int type, EventRecord* record, std::uint32_t flags) {
    const Cell* found = boot::resolve("system/view/awake");
    if (!found || !found->is(Type::function)) return 0;
    const Cell awake = *found;
    const EventBinding binding(record);
    // GC: the arguments stay in this frame, where the stack scan finds them.
    Cell args[3];
    make_event(&args[0], type, binding, flags);
    logic::make_at(&args[1], false);
    none::make_at(&args[2]);
    Cell name;
    word::make_at(awake_symbol(), &name);
    Cell result;
    none::make_at(&result);
    const Saved saved;
    kiv::state.tracing = false;
    // Every throw ends here: the try-all frame turns a stray break, return
    // or throw into an error, and errors are dropped without a message.
    try {
        stack::push_try_all_frame(&name);
        if (interpreter::call_with_arguments(&awake, &name, args, 3, &result) == Status::thrown)
            none::make_at(&result);
    } catch (const KivError&) {
        none::make_at(&result);
    }
    saved.restore();
    return result.is(Type::word) && symbol::resolve(result.data2) == done_symbol() ? 1 : 0;
}

int send_event(int type, Widget* w, std::uint32_t flags) { return send_mouse_event(type, w, 0.0f, 0.0f, flags); }

int send_value_event(int type, Widget* w, std::int32_t value) {
    if (disabled(w) || !has_face(w)) return 0;
    EventRecord record{w, 0.0f, 0.0f, value, 0.0f};
    return send_to_awake(type, &record, 0);
}

int send_mouse_event(int type, Widget* w, float x, float y, std::uint32_t flags) {
    if (disabled(w)) return 0;
    const WidgetId id = w->id;
    EventRecord record{w, x, y, 0, 0.0f};
    if (w->event) {
        w->event(type, &record);
        if (!(w = widget_at(id))) return 0;
        record.widget = w;
    }
    return has_face(w) ? send_to_awake(type, &record, flags) : 0;
}

void send_key_event(Widget* w, std::int32_t code, std::int32_t special) {
    if (!w) w = state.focused;
    // Keys always reach a window, so that Escape and Tab still work: with no
    // focus (an actor destroyed the focused face) they go to the window
    // shown, and a disabled widget, which gets no keys, passes them to its
    // window (the first focusable face may be disabled, or an actor may
    // disable the focus).
    if (!w && state.active_window) w = state.active_window->widget;
    if (w && disabled(w)) {
        if (WindowRecord* record = window_of(w)) w = record->widget;
    }
    if (disabled(w)) return;
    std::int32_t key = code;
    std::uint32_t flags = 0;
    if (special == 10) {
        key = 9;
        flags = event_flag::shift;
    } else if (special != 0) {
        key = special;
        flags = event_flag::special_key;
    }
    if (key == 0) return;
    const WidgetId id = w->id;
    EventRecord record{w, 0.0f, 0.0f, key, 0.0f};
    if (has_face(w)) {
        if (send_to_awake(event_type::key_down, &record, flags)) return;
        if (!(w = widget_at(id)) || disabled(w)) return;
        record.widget = w;
        if (send_to_awake(event_type::key, &record, flags)) return;
        if (!(w = widget_at(id)) || disabled(w)) return;
        record.widget = w;
    }
    if (w->event) w->event(event_type::key, &record);
}

// ---------------------------------------------------------------------------
// Geometry.

bool related_q(const Widget* a, const Widget* b) {
    if (!a || !b) return false;
    if (a->parent == b->parent) return true;
    for (const Widget* p = a->parent; p; p = p->parent)
        if (p == b) return true;
    return false;
}

void to_widget_offset(const Widget* w, float* x, float* y) {
    for (const Widget* p = w; p && p->parent; p = p->parent) {
        *x -= p->x1;
        *y -= p->y1;
    }
}

namespace {

// The capture rule: the capture widget, when the pointer is outside it and
// it takes the event (mask), receives it at its own coordinates.
void send_to_capture(int type, float x, float y, std::uint32_t flags, std::uint32_t mask) {
    Widget* c = state.capture;
    if (!c || !(c->flags & widget_flag::pointer_away)) return;
    if (mask != any_mask && !(c->flags & mask)) return;
    to_widget_offset(c, &x, &y);
    send_mouse_event(type, c, x, y, flags);
}

bool in_pressed(const Widget* w) {
    for (Widget* p : state.pressed)
        if (p == w) return true;
    return false;
}

struct ButtonResult {
    bool handled = false;  // an actor answered done for the button event
    bool clicked = false;  // an actor answered done for a click or double click
    int delivered = 0;     // the type this level delivered
};

// `released_on` gets the deepest widget that took a click.
ButtonResult process_button(int type, Widget* w, float x, float y, std::uint32_t flags, WidgetId* released_on) {
    ButtonResult r;
    r.delivered = type;
    if (disabled(w)) return r;
    const WidgetId id = w->id;
    int child_delivered = type;
    Widget* child = child_at(w, x, y);
    if (child) {
        const ButtonResult c = process_button(type, child, x - child->x1, y - child->y1, flags, released_on);
        r.handled = c.handled;
        r.clicked = c.clicked;
        child_delivered = c.delivered;
        if (!(w = widget_at(id))) return r;
    }
    if (!r.handled) {
        r.handled = send_mouse_event(type, w, x, y, flags) != 0;
        if (!(w = widget_at(id))) return r;
    }
    if (type == event_type::down) state.pressed.push(w);
    if (type != event_type::up || r.clicked || !in_pressed(w)) return r;
    // A double click needs the second release on the same widget.
    const bool twice = child_delivered == event_type::dbl_click ||
                       (state.click_state == 2 && state.click_timer < double_click_ms && state.last_release == w);
    r.delivered = event_type::click;
    if (twice) {
        send_mouse_event(event_type::click, w, x, y, flags);
        if (!(w = widget_at(id))) return r;
        state.click_state = 10;
        r.delivered = event_type::dbl_click;
    }
    if (!*released_on) *released_on = id;
    r.clicked = send_mouse_event(r.delivered, w, x, y, flags) != 0;
    if (!(w = widget_at(id))) return r;
    const bool deepest = child_at(w, x, y) == nullptr;
    if (deepest && (w->flags & widget_flag::focusable) && !(w->flags & widget_flag::focused))
        set_focus(w, state.active_window);
    return r;
}

}  // namespace

int on_button(int type, Widget* window, float x, float y, std::uint32_t flags) {
    if (disabled(window)) return 0;
    const bool left = type == event_type::down || type == event_type::up;
    if (type == event_type::down) state.capture = state.hovered;
    WidgetId released_on = 0;
    const ButtonResult r = process_button(type, window, x, y, flags, &released_on);
    if (!left || type != event_type::up) return r.handled ? 1 : 0;
    send_to_capture(event_type::up, x, y, flags, any_mask);
    state.capture = nullptr;
    state.pressed.clear();
    state.click_state = state.click_state == 10 ? 0 : 2;
    state.click_timer = 0;
    state.last_release = widget_at(released_on);
    return r.handled ? 1 : 0;
}

int process_over(int type, Widget* w, float x, float y, std::uint32_t flags, bool top) {
    if (disabled(w)) return 0;
    const WidgetId id = w->id;
    if (!state.hovered) {
        send_mouse_event(type, w, x, y, flags);
        if (!(w = widget_at(id))) return 0;
    }
    int handled = 0;
    if (Widget* child = child_at(w, x, y)) {
        handled = process_over(type, child, x - child->x1, y - child->y1, flags, false);
        if (!(w = widget_at(id))) return handled;
    } else {
        // The deepest widget under the pointer becomes the hover widget. A
        // move between siblings leaves the old one and enters the new one.
        Widget* h = state.hovered;
        if (h && h != w) {
            const bool leaving = related_q(h, w);
            const bool entering = related_q(w, h);
            if (leaving) {
                if (h == state.capture) h->flags |= widget_flag::pointer_away;
                send_mouse_event(type, h, state.last_x, state.last_y, flags | event_flag::away);
                if (!(w = widget_at(id))) return 0;
            }
            if (entering) {
                w->flags &= ~widget_flag::pointer_away;
                send_mouse_event(type, w, x, y, flags);
                if (!(w = widget_at(id))) return 0;
            }
        }
        state.hovered = w;
        state.last_x = x;
        state.last_y = y;
    }
    if ((w->flags & widget_flag::all_over) && !handled) handled = send_mouse_event(type, w, x, y, flags);
    if (top) send_to_capture(type, x, y, flags, widget_flag::all_over);
    return handled;
}

int process_wheel(int delta, Widget* w, float x, float y, std::uint32_t flags) {
    if (disabled(w)) return 0;
    const WidgetId id = w->id;
    int handled = 0;
    if (Widget* child = child_at(w, x, y)) {
        handled = process_wheel(delta, child, x - child->x1, y - child->y1, flags);
        if (!(w = widget_at(id))) return handled;
    }
    if (handled || disabled(w) || !has_face(w)) return handled;
    EventRecord record{w, x, y, 0, delta < 0 ? -1.0f : 1.0f};
    return send_to_awake(event_type::wheel, &record, flags);
}

}  // namespace kiv::gui
