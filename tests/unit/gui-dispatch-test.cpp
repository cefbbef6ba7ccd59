// The terminal backend's event side: backend events as the language reads
// them, keys, buttons, clicks and double clicks, hover and capture, the
// wheel, widgets that die during their dispatch, and face timers.
//
// The suite replaces system/view/awake with a function that logs each event
// as "face type details" and answers `done` for the "face type" pairs in
// `done-on`, so every test reads what the language saw, in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/word.h"
#include "runtime/tracked-alloc.h"
#include "tests/unit/eval-support.h"
#include "view/backends/terminal/cells.h"
#include "view/backends/terminal/dispatch.h"
#include "view/backends/terminal/event-record.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/timers.h"
#include "view/backends/terminal/widgets.h"

namespace kiv {
namespace {

using gui::Widget;
namespace et = gui::event_type;

constexpr const char* suite_code = R"(
face: func [spec] [make object! append copy [type: 'base offset: 0x0 size: 10x1 text: none
    image: none color: none menu: none data: none enabled?: true visible?: true selected: none
    flags: none options: none parent: none pane: none state: none rate: none edge: none
    para: none font: none actors: none extra: none draw: none] spec]
log: copy []
done-on: copy []
kept: none
system/view/awake: func [event [event!] /with face /local s] [
    s: rejoin [event/face/name " " event/type]
    if find [down up click dbl-click over wheel alt-down alt-up] event/type [
        append s rejoin [" " event/offset]]
    if event/type = 'wheel [append s rejoin [" " mold event/picked]]
    if find [key key-down] event/type [append s rejoin [" " form event/key]]
    if event/away? [append s " away"]
    if event/shift? [append s " shift"]
    if event/type = 'select [append s rejoin [" " mold event/picked]]
    append log s
    kept: event
    if find done-on rejoin [event/face/name " " event/type] ['done]
]
none)";

// How often each widget's native handler ran, by type, for the widget it
// was counting.
int native_calls = 0;
int native_keys = 0;
int counting(int type, gui::EventRecord*) {
    ++native_calls;
    if (type == et::key) ++native_keys;
    return 0;
}
// A native handler that frees its widget on `down`, as a window closed by
// its own button would be.
int freeing(int type, gui::EventRecord* record) {
    if (type == et::down) gui::free_widget(record->widget);
    return 0;
}

class GuiDispatch : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::start_evaluator();
        ASSERT_EQ(test::eval(suite_code), "none");
    }
    static void TearDownTestSuite() {
        collector::set_active(false);
        error::forget();
        stack::forget();
    }
    void SetUp() override { reset(); }
    void TearDown() override {
        for (gui::WidgetId id : made) gui::free_widget(gui::widget_at(id));
        made.clear();
        gui::clear_timers();
        reset();
    }
    static void reset() {
        gui::state.hovered = gui::state.capture = gui::state.focused = gui::state.last_release = nullptr;
        gui::state.pressed.clear();
        gui::state.click_state = gui::state.click_timer = 0;
        gui::state.last_x = gui::state.last_y = 0;
        native_calls = native_keys = 0;
        EXPECT_EQ(test::eval("clear log clear done-on kept: none"), "none");
    }

    // A widget with a face named `name` at x, y of w x h cells in `parent`
    // (whose face lists it in its pane).
    Widget* add(const char* name, Widget* parent, float x, float y, float w, float h,
                std::uint32_t flags = 0) {
        EXPECT_EQ(test::eval(std::string("it: face [name: \"") + name + "\" pane: copy []] none"), "none");
        Cell word;
        word::load("it", &word);
        Widget* r = gui::make_widget(parent);
        r->face = *word::get(&word);
        Cell state;
        block::make_at(&state, 4);
        Cell handle;
        handle::make_at(&handle, r->id, static_cast<std::int32_t>(handle::Class::window));
        block::ks_append(&state, &handle);
        *gui::face_value_mut(&r->face, gui::face_field::state) = state;
        if (parent) block::ks_append(gui::face_value_mut(&parent->face, gui::face_field::pane), &r->face);
        r->x1 = x;
        r->y1 = y;
        r->x2 = x + w;
        r->y2 = y + h;
        r->flags = flags;
        made.push_back(r->id);
        return r;
    }
    static std::string log() { return test::eval("also log log: copy []"); }
    static void done_on(const char* what) {
        EXPECT_EQ(test::eval(std::string("append done-on \"") + what + "\" none"), "none");
    }

    std::vector<gui::WidgetId> made;
};

// --- events as the language reads them ---

TEST_F(GuiDispatch, BackendEventFieldsAndStaleEvents) {
    Widget* win = add("win", nullptr, 0, 0, 20, 5);
    gui::EventRecord r{win, 3.9f, 0.5f, 0, 0.0f};
    gui::send_to_awake(et::down, &r, gui::event_flag::down | gui::event_flag::control);
    EXPECT_EQ(log(), R"(["win down 3x0"])");
    EXPECT_EQ(test::eval("reduce [kept/type kept/face kept/window kept/offset kept/key kept/picked kept/ctrl? "
                         "kept/orientation kept/flags]"),
              "[down none none 0x0 none 0 true none [down control]]");
    // The flags reader refills one block.
    EXPECT_EQ(test::eval("a: kept/flags b: make event! [flags: [shift]] b/flags reduce [a same? a b/flags]"),
              "[[shift] true]");

    r.delta = -1.0f;
    gui::send_to_awake(et::wheel, &r, 0);
    gui::send_value_event(et::select, win, 7);
    gui::send_key_event(win, 0, gui::key_code::f12);
    gui::send_key_event(win, 0, -30);  // a special code without a name
    EXPECT_EQ(log(), R"(["win wheel 3x0 -1.0" "win select 7" "win key-down F12" "win key F12")"
                     R"( "win key-down none" "win key none"])");
}

TEST_F(GuiDispatch, ErrorsAndThrowsFromActorsEndAtTheDispatch) {
    Widget* win = add("win", nullptr, 0, 0, 20, 5);
    Cell* const top = state.stack_top;
    stack::CallFrame* const frames = state.frames_top;
    for (const char* body : {"1 / 0", "throw 1", "break", "exit", "do make error! \"x\""}) {
        ASSERT_EQ(test::eval(std::string("saved: :system/view/awake system/view/awake: func [e [event!] /with f] [") +
                             body + "] none"),
                  "none");
        gui::EventRecord r{win, 0, 0, 0, 0};
        EXPECT_EQ(gui::send_to_awake(et::click, &r, 0), 0) << body;
        EXPECT_EQ(state.stack_top, top) << body;
        EXPECT_EQ(state.frames_top, frames) << body;
        EXPECT_EQ(state.thrown_code, 0u) << body;
        ASSERT_EQ(test::eval("system/view/awake: :saved none"), "none");
    }
}

// --- keys ---

TEST_F(GuiDispatch, KeysGoToKeyDownThenKeyThenTheWidget) {
    Widget* field = add("f", nullptr, 0, 0, 10, 1);
    field->event = counting;
    gui::state.focused = field;
    gui::send_key_event(nullptr, 'a', 0);
    gui::send_key_event(nullptr, 0, 10);  // back-tab
    gui::send_key_event(nullptr, 0, 0);   // nothing
    EXPECT_EQ(log(), R"(["f key-down a" "f key a" "f key-down ^- shift" "f key ^- shift"])");
    EXPECT_EQ(native_keys, 2);

    done_on("f key-down");
    gui::send_key_event(nullptr, 'b', 0);
    EXPECT_EQ(log(), R"(["f key-down b"])");
    EXPECT_EQ(native_keys, 2);

    field->flags |= gui::widget_flag::disabled;
    gui::send_key_event(nullptr, 'c', 0);
    EXPECT_EQ(log(), "[]");
    EXPECT_EQ(native_calls, 2);
}

// --- buttons, clicks, hover, capture ---

class GuiPointer : public GuiDispatch {
protected:
    void SetUp() override {
        GuiDispatch::SetUp();
        win = add("win", nullptr, 0, 0, 30, 10);
        panel = add("panel", win, 10, 2, 10, 5);
        inner = add("inner", panel, 1, 1, 4, 1);
        btn = add("btn", win, 2, 1, 6, 1);
        other = add("other", win, 2, 3, 6, 1);
        gui::state.hovered = win;
    }
    void move(float x, float y) { gui::process_over(et::over, win, x, y, 0, true); }
    void press(float x, float y) { gui::on_button(et::down, win, x, y, gui::event_flag::down); }
    void release(float x, float y) { gui::on_button(et::up, win, x, y, 0); }

    Widget* win = nullptr;
    Widget* panel = nullptr;
    Widget* inner = nullptr;
    Widget* btn = nullptr;
    Widget* other = nullptr;
};

TEST_F(GuiPointer, ClickThenDoubleClickThenClickAgain) {
    // Each level under the pointer that got the press takes the release's
    // click, unless a deeper actor answered done.
    done_on("btn click");
    done_on("btn dbl-click");
    move(3, 1);
    log();
    press(3, 1);
    release(3, 1);
    EXPECT_EQ(log(), R"(["btn down 1x0" "win down 3x1" "btn up 1x0" "btn click 1x0" "win up 3x1"])");
    press(3, 1);
    release(3, 1);
    EXPECT_EQ(log(), R"(["btn down 1x0" "win down 3x1" "btn up 1x0" "btn click 1x0" "btn dbl-click 1x0")"
                     R"( "win up 3x1"])");
    press(3, 1);
    release(3, 1);
    EXPECT_EQ(log(), R"(["btn down 1x0" "win down 3x1" "btn up 1x0" "btn click 1x0" "win up 3x1"])");
}

TEST_F(GuiPointer, DoubleClickNeedsTheSameWidgetAndTime) {
    done_on("btn click");
    done_on("other click");
    move(3, 1);
    press(3, 1);
    release(3, 1);
    move(3, 3);
    log();
    const char* plain = R"(["other down 1x0" "win down 3x3" "other up 1x0" "other click 1x0" "win up 3x3"])";
    press(3, 3);
    release(3, 3);
    EXPECT_EQ(log(), plain);
    press(3, 3);
    gui::state.click_timer = 500;
    release(3, 3);
    EXPECT_EQ(log(), plain);
}

TEST_F(GuiPointer, DragOutOfThePressedButton) {
    move(3, 1);
    press(3, 1);
    move(25, 8);
    release(25, 8);
    // The button hears the pointer leave, then the release at its own
    // coordinates; the window, pressed too, takes the click.
    EXPECT_EQ(log(), R"(["btn over 1x0" "btn down 1x0" "win down 3x1" "btn over 1x0 away" "win up 25x8")"
                     R"( "win click 25x8" "btn up 23x7"])");
    EXPECT_EQ(gui::state.capture, nullptr);
    EXPECT_TRUE(gui::state.pressed.empty());
}

TEST_F(GuiPointer, HoverEntersAndLeaves) {
    move(11, 2);  // into the panel
    move(12, 3);  // into its child
    move(14, 5);  // back to the panel
    EXPECT_EQ(log(), R"(["panel over 1x0" "inner over 1x0" "inner over 1x0 away"])");
    move(3, 1);  // from the panel to a sibling
    move(3, 3);
    EXPECT_EQ(log(), R"(["panel over 4x3 away" "btn over 1x0" "btn over 1x0 away" "other over 1x0"])");
    move(12, 3);  // between widgets related neither way
    EXPECT_EQ(log(), "[]");
    EXPECT_EQ(gui::state.hovered, inner);

    // An all-over widget hears every move over it.
    inner->flags |= gui::widget_flag::all_over;
    move(13, 3);
    EXPECT_EQ(log(), R"(["inner over 2x0"])");
}

TEST_F(GuiPointer, DisabledWidgetsGetNothing) {
    btn->event = counting;
    btn->flags |= gui::widget_flag::disabled;
    move(3, 1);
    press(3, 1);
    release(3, 1);
    EXPECT_EQ(native_calls, 0);
    EXPECT_EQ(log(), R"(["win down 3x1" "win up 3x1" "win click 3x1"])");
}

TEST_F(GuiPointer, WheelReachesTheDeepestFaceFirst) {
    gui::process_wheel(1, win, 12, 3, 0);
    EXPECT_EQ(log(), R"(["inner wheel 1x0 1.0" "panel wheel 2x1 1.0" "win wheel 12x3 1.0"])");
    done_on("inner wheel");
    gui::process_wheel(-1, win, 12, 3, 0);
    EXPECT_EQ(log(), R"(["inner wheel 1x0 -1.0"])");
}

TEST_F(GuiPointer, ClickOnAFocusableWidgetTakesTheFocus) {
    other->flags |= gui::widget_flag::focusable;
    move(3, 3);
    press(3, 3);
    release(3, 3);
    EXPECT_EQ(gui::state.focused, other);
    EXPECT_TRUE(other->flags & gui::widget_flag::focused);
    EXPECT_EQ(log(), R"(["other over 1x0" "other down 1x0" "win down 3x3" "other up 1x0" "other click 1x0")"
                     R"( "other focus" "win up 3x3" "win click 3x3"])");
}

TEST_F(GuiPointer, AWidgetFreedDuringItsDispatch) {
    btn->event = freeing;
    const gui::WidgetId id = btn->id;
    move(3, 1);
    log();
    press(3, 1);
    EXPECT_EQ(gui::widget_at(id), nullptr);
    release(3, 1);
    EXPECT_EQ(log(), R"(["win down 3x1" "win up 3x1" "win click 3x1"])");
    EXPECT_EQ(gui::state.hovered, nullptr);
}

TEST_F(GuiPointer, KeysWithoutAnEnabledFocusGoToTheWindow) {
    auto* record = static_cast<gui::WindowRecord*>(memory::allocate_zeroed(sizeof(gui::WindowRecord)));
    record->widget = win;
    win->window = record;
    gui::make_window(record);
    inner->flags |= gui::widget_flag::disabled;
    gui::state.focused = inner;
    gui::send_key_event(nullptr, 27, 0);
    gui::send_key_event(nullptr, 0, 10);
    EXPECT_EQ(log(), R"(["win key-down ^[" "win key ^[" "win key-down ^- shift" "win key ^- shift"])");
    // With no focus at all (its face was destroyed) the window shown takes
    // the keys.
    gui::state.focused = nullptr;
    gui::state.active_window = record;
    gui::send_key_event(nullptr, 27, 0);
    EXPECT_EQ(log(), R"(["win key-down ^[" "win key ^["])");
    // A disabled window takes nothing either.
    win->flags |= gui::widget_flag::disabled;
    gui::send_key_event(nullptr, 27, 0);
    EXPECT_EQ(log(), "[]");
}

// --- timers ---

int time_events = 0;
int timing(int type, gui::EventRecord*) {
    if (type == et::time) ++time_events;
    return 0;
}

TEST_F(GuiDispatch, TimerFiresOncePerIntervalWithoutCarry) {
    Widget* w = gui::make_widget(nullptr);
    made.push_back(w->id);
    w->event = timing;
    time_events = 0;
    gui::add_timer(w, 500);
    int first = 0;
    for (int frame = 1; frame <= 32; ++frame) {
        gui::fire_timers(33);
        if (time_events == 1 && !first) first = frame;
    }
    EXPECT_EQ(first, 16);
    EXPECT_EQ(time_events, 2);
    gui::fire_timers(1200);
    EXPECT_EQ(time_events, 3);
    gui::fire_timers(-5);
    EXPECT_EQ(time_events, 3);
}

TEST_F(GuiDispatch, RemoveTimerTakesTheLastAddedOfTheWidget) {
    Widget* w = gui::make_widget(nullptr);
    made.push_back(w->id);
    w->event = timing;
    time_events = 0;
    gui::add_timer(w, 100);
    gui::add_timer(w, 300);
    gui::remove_timer(w);
    gui::fire_timers(100);
    EXPECT_EQ(time_events, 1);  // the 100 ms timer is left
    gui::remove_timer(w);
    gui::remove_timer(w);
    gui::fire_timers(1000);
    EXPECT_EQ(time_events, 1);
    EXPECT_EQ(gui::timer_count(), 0u);
}

// A callback that removes the other widget's timer and adds timers of its
// own during the pass.
Widget* victim = nullptr;
int meddling(int type, gui::EventRecord* record) {
    if (type != et::time) return 0;
    ++time_events;
    gui::remove_timer(victim);
    for (int i = 0; i < 20; ++i) gui::add_timer(record->widget, 10);
    return 0;
}

TEST_F(GuiDispatch, TimersAddedOrRemovedDuringAPass) {
    Widget* a = gui::make_widget(nullptr);
    victim = gui::make_widget(nullptr);
    made.push_back(a->id);
    made.push_back(victim->id);
    a->event = meddling;
    victim->event = timing;
    time_events = 0;
    gui::add_timer(a, 10);
    gui::add_timer(victim, 10);
    gui::fire_timers(10);
    EXPECT_EQ(time_events, 1);  // the victim was removed, the new ones wait
    EXPECT_EQ(gui::timer_count(), 21u);
    gui::free_widget(a);
    gui::fire_timers(10);  // the freed widget's timers are skipped
    EXPECT_EQ(time_events, 1);
    EXPECT_EQ(gui::timer_count(), 0u);
}

}  // namespace
}  // namespace kiv
