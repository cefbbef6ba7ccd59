// The terminal backend's widget records: the widget table's ids, the field's
// editing, check, radio and text-list handling, the group-box border, and
// the face lifecycle (windows, focus, update bits, destruction).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/word.h"
#include "tests/unit/eval-support.h"
#include "view/backends/terminal/cells.h"
#include "view/backends/terminal/lifecycle.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/timers.h"
#include "view/backends/terminal/widgets.h"

namespace kiv {
namespace {

using gui::Widget;

// One runtime for the whole suite: starting it is the slow part (seconds
// under KIV_GC_STRESS=1).
class GuiWidgets : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        test::start_evaluator();
        ASSERT_EQ(test::eval("system/view/platform/init none"), "none");
    }
    static void TearDownTestSuite() {
        collector::set_active(false);
        error::forget();
        stack::forget();
    }
    void TearDown() override {
        // Each test leaves no window behind.
        while (gui::state.windows.count > 0) gui::destroy_window_tree(gui::state.windows[0]->widget);
        gui::reset_session();
        gui::clear_timers();
    }

    // The face the Kiv expression makes (kept in the global word `name`).
    static Cell face(const std::string& name, const std::string& spec) {
        EXPECT_EQ(test::eval(name + ": make face! [" + spec + "] none"), "none");
        return global(name);
    }
    static Cell global(const std::string& name) {
        Cell word;
        word::load(name.c_str(), &word);
        return *word::get(&word);
    }
    // Realises the face under the parent record as `show` would: the
    // record, then the face's state block.
    static Widget* make(const std::string& name, Widget* parent) {
        Cell f = global(name);
        Widget* w = gui::OS_make_view(&f, parent);
        EXPECT_NE(w, nullptr);
        EXPECT_EQ(test::eval("set-quiet in " + name + " 'state reduce [null-handle 0 none false] none"), "none");
        Cell again = global(name);
        Cell* st = gui::face_value_mut(&again, gui::face_field::state);
        Cell* handle = block::ks_abs_at(st, static_cast<std::int32_t>(st->data1));
        handle->data1 = static_cast<std::uint32_t>(handle::Class::window);
        handle->data2 = w->id;
        return w;
    }
    static std::string text_of(const std::string& name) { return test::eval(name + "/text"); }
    static void key(Widget* w, std::int32_t code) {
        gui::EventRecord ev{w, 0, 0, code, 0};
        w->event(gui::event_type::key, &ev);
    }
    static void click(Widget* w, float x, float y) {
        gui::EventRecord ev{w, x, y, 0, 0};
        w->event(gui::event_type::click, &ev);
    }
    Widget* window(const std::string& size = "30x10") {
        face("win", "type: 'window offset: 10x5 size: " + size);
        return make("win", nullptr);
    }
};

TEST_F(GuiWidgets, TableIdsStopResolvingOnceFreed) {
    Widget* a = gui::make_widget(nullptr);
    const gui::WidgetId id = a->id;
    EXPECT_EQ(gui::widget_at(id), a);
    gui::state.focused = gui::state.hovered = gui::state.capture = a;
    gui::state.pressed.push(a);
    gui::free_widget(a);
    EXPECT_EQ(gui::widget_at(id), nullptr);
    EXPECT_EQ(gui::state.focused, nullptr);
    EXPECT_EQ(gui::state.hovered, nullptr);
    EXPECT_EQ(gui::state.capture, nullptr);
    EXPECT_EQ(gui::state.pressed.count, 0u);
    // The slot is reused under a new generation: the old id stays dead.
    Widget* b = gui::make_widget(nullptr);
    EXPECT_NE(b->id, id);
    EXPECT_EQ(gui::widget_at(id), nullptr);
    EXPECT_EQ(gui::widget_at(b->id), b);
    EXPECT_EQ(gui::widget_at(0), nullptr);
    gui::free_widget(b);
}

TEST_F(GuiWidgets, WindowStartsAtTheOriginAndTakesTheFirstFocusable) {
    Widget* win = window();
    EXPECT_EQ(test::eval("win/offset"), "0x0");
    ASSERT_NE(win->window, nullptr);
    EXPECT_EQ(gui::state.last_window, win);
    face("t", "type: 'text offset: 1x1 size: 5x1 text: \"hi\"");
    face("b", "type: 'button offset: 2x8 size: 40x1 flags: 'focusable");
    face("b2", "type: 'button offset: 2x3 size: 4x1 flags: 'focusable");
    Widget* t = make("t", win);
    Widget* b = make("b", win);
    Widget* b2 = make("b2", win);
    EXPECT_EQ(test::eval("b/offset"), "(2, 8)");
    EXPECT_EQ(win->window->focus, b);
    EXPECT_TRUE(gui::has_focus_q(b));
    EXPECT_FALSE(gui::has_focus_q(b2));
    // The record's box covers the window and everything made under it.
    EXPECT_EQ(win->window->max_x, 42.0f);
    EXPECT_EQ(win->window->max_y, 10.0f);
    EXPECT_EQ(test::eval("set-quiet in win 'pane reduce [t b b2] none"), "none");
    EXPECT_EQ(gui::child_at(win, 2.5f, 8.0f), b);
    EXPECT_EQ(gui::child_at(win, 2.5f, 7.9f), nullptr);
    EXPECT_EQ(gui::child_at(win, 1.0f, 1.0f), t);
    t->flags |= gui::widget_flag::hidden;
    EXPECT_EQ(gui::child_at(win, 1.0f, 1.0f), nullptr);
}

TEST_F(GuiWidgets, DestroyingAWindowFreesItsTreeAndActivatesThePrevious) {
    Widget* first = window();
    gui::activate_window(first->window);
    face("win2", "type: 'window size: 20x5 pane: reduce [make face! [type: 'text size: 3x1] make face! [type: 'base size: 3x1]]");
    Widget* second = make("win2", nullptr);
    for (int i = 1; i <= 2; ++i) {
        const std::string child = "c" + std::to_string(i);
        EXPECT_EQ(test::eval(child + ": win2/pane/" + std::to_string(i) + " none"), "none");
        Widget* c = make(child, second);
        EXPECT_EQ(c->parent, second);
    }
    gui::activate_window(second->window);
    const std::uint32_t before = gui::widget_count();
    Cell w2 = global("win2");
    gui::OS_destroy_view(&w2, false);
    EXPECT_EQ(gui::widget_count(), before - 3);
    EXPECT_EQ(gui::state.active_window, first->window);
    EXPECT_EQ(test::eval("reduce [win2/state c1/state c2/state]"), "[none none none]");
}

// A native handler that destroys the window `closing_window` when its
// widget takes the focus, as an on-focus actor calling unview would.
gui::WidgetId closing_window = 0;
int closing_on_focus(int type, gui::EventRecord*) {
    if (type == gui::event_type::focus) gui::destroy_window_tree(gui::widget_at(closing_window));
    return 0;
}

TEST_F(GuiWidgets, AWindowClosedByTheFocusItsActivationGives) {
    Widget* first = window();
    face("win2", "type: 'window size: 20x5");
    Widget* second = make("win2", nullptr);
    face("b", "type: 'button offset: 1x1 size: 4x1 flags: 'focusable");
    Widget* b = make("b", second);
    ASSERT_EQ(second->window->focus, b);
    gui::activate_window(first->window);
    closing_window = second->id;
    b->event = closing_on_focus;
    gui::activate_window(second->window);
    EXPECT_EQ(gui::widget_at(closing_window), nullptr);
    EXPECT_EQ(gui::state.active_window, first->window);
    EXPECT_EQ(gui::state.windows.count, 1u);
}

TEST_F(GuiWidgets, FieldEditing) {
    Widget* win = window();
    struct Case {
        const char* text;
        std::vector<std::int32_t> keys;
        const char* result;
        int index, column;
    };
    const Case cases[] = {
        {"ab", {'c'}, "\"abc\"", 3, 3},
        {"ab", {gui::key_code::left, 'x'}, "\"axb\"", 2, 2},
        {"ab", {2, 2, 2, 127}, "\"ab\"", 0, 0},  // Backspace at the start does nothing
        {"ab", {gui::key_code::left, 8}, "\"b\"", 0, 0},
        {"abcde", {'f'}, "\"abcde\"", 5, 5},      // a full field takes nothing more
        {"abcd", {0x4E2D}, "\"abcd\"", 4, 4},    // a wide character needs two free cells
        {"ab", {0x4E2D}, "\"ab中\"", 3, 4},
        {"ab", {9, 13, 10, 1}, "\"ab\"", 2, 2},  // Tab and Enter pass, controls do nothing
        {"ab", {gui::key_code::right, 6}, "\"ab\"", 2, 2},
    };
    for (const Case& k : cases) {
        face("f", std::string("type: 'field offset: 1x1 size: 5x1 text: \"") + k.text + "\"");
        Widget* f = make("f", win);
        for (std::int32_t code : k.keys) key(f, code);
        EXPECT_EQ(text_of("f"), k.result) << k.text;
        EXPECT_EQ(f->caret.index, k.index) << k.text;
        EXPECT_EQ(f->caret.column, k.column) << k.text;
    }
    // A key that changed the text tells the engine, so the face's data
    // follows its text; one that did not sends nothing.
    face("f", "type: 'field offset: 1x1 size: 8x1 text: \"1\" actors: object [on-change: func [face event] [changes: changes + 1]]");
    EXPECT_EQ(test::eval("changes: 0"), "0");
    Widget* g = make("f", win);
    key(g, '2');
    key(g, gui::key_code::left);
    EXPECT_EQ(test::eval("reduce [changes f/data]"), "[1 12]");
    // An actor that shortens the text leaves the caret past its end: the
    // next keys work on the text as it is now, and read nothing beyond it.
    face("f", "type: 'field offset: 1x1 size: 40x1 text: \"abcdefghijklmnopqrstuvwxyz0123456789\"");
    Widget* cut = make("f", win);
    EXPECT_EQ(cut->caret.index, 36);
    EXPECT_EQ(test::eval("f/text: copy \"a\" none"), "none");
    key(cut, gui::key_code::left);
    EXPECT_EQ(cut->caret.index, 0);
    EXPECT_EQ(cut->caret.column, 0);
    key(cut, 0x4E2D);
    key(cut, gui::key_code::right);
    key(cut, 127);
    EXPECT_EQ(text_of("f"), "\"中\"");
    EXPECT_EQ(cut->caret.index, 1);
    EXPECT_EQ(cut->caret.column, 2);
    // A field without a string gets one; a click moves the caret.
    face("f", "type: 'field offset: 1x1 size: 8x1 text: none");
    Widget* f = make("f", win);
    for (std::int32_t c : {'a', 'b', 'c', 'd'}) key(f, c);
    EXPECT_EQ(text_of("f"), "\"abcd\"");
    click(f, 2.4f, 0);
    EXPECT_EQ(f->caret.index, 2);
    key(f, 'X');
    EXPECT_EQ(text_of("f"), "\"abXcd\"");
}

TEST_F(GuiWidgets, CheckAndRadioData) {
    Widget* win = window();
    struct Case {
        const char* type;
        const char* data;
        const char* after;
    };
    const Case cases[] = {
        {"check", "none", "true"}, {"check", "true", "false"}, {"check", "false", "true"},
        {"check", "5", "false"},   {"radio", "true", "true"},  {"radio", "none", "true"},
    };
    for (const Case& k : cases) {
        face("c", std::string("type: '") + k.type + " size: 5x1 text: \"x\" data: " + k.data);
        Widget* c = make("c", win);
        key(c, 32);
        EXPECT_EQ(test::eval("c/data"), k.after) << k.type << " " << k.data;
    }
    // The drawn mark is there from the start, and follows the data.
    face("c", "type: 'check size: 5x1 text: \"yes\" data: none");
    Widget* c = make("c", win);
    EXPECT_EQ(string::to_utf8(&c->ui), "\u2610 yes");
    click(c, 0, 0);
    EXPECT_EQ(string::to_utf8(&c->ui), "\U0001F795 yes");
    EXPECT_EQ(test::eval("c/data"), "true");
    key(c, 'x');  // only Space toggles
    EXPECT_EQ(test::eval("c/data"), "true");
}

TEST_F(GuiWidgets, TextListNavigation) {
    Widget* win = window();
    face("l", "type: 'text-list size: 10x2 data: [\"a\" \"b\" \"c\" \"d\"] selected: 1 actors: object ["
              "on-select: func [face event] [append seen reduce ['select event/picked]] "
              "on-change: func [face event] [append seen reduce ['change event/picked]]]");
    EXPECT_EQ(test::eval("seen: copy [] none"), "none");
    Widget* l = make("l", win);
    key(l, gui::key_code::up);  // at the first entry
    EXPECT_EQ(test::eval("l/selected"), "1");
    key(l, gui::key_code::down);
    key(l, gui::key_code::down);
    EXPECT_EQ(test::eval("l/selected"), "3");
    EXPECT_EQ(l->head, 1);  // scrolled by one line
    EXPECT_EQ(test::eval("seen"), "[select 2 change 2 select 3 change 3]");
    key(l, gui::key_code::down);
    key(l, gui::key_code::down);  // at the last entry
    EXPECT_EQ(test::eval("l/selected"), "4");
    EXPECT_EQ(l->head, 2);
    key(l, gui::key_code::up);
    key(l, gui::key_code::up);
    EXPECT_EQ(test::eval("l/selected"), "2");
    EXPECT_EQ(l->head, 1);
    click(l, 0, 0.7f);
    EXPECT_EQ(test::eval("l/selected"), "2");
    click(l, 0, 1.0f);
    EXPECT_EQ(test::eval("l/selected"), "3");
    l->head = 3;
    click(l, 0, 1.0f);  // below the last entry: nothing
    EXPECT_EQ(test::eval("l/selected"), "3");
}

// A focused list clamps its selection and reverses the selected line; an
// unfocused one reverses none.
TEST_F(GuiWidgets, TextListTextFollowsTheFocus) {
    Widget* win = window();
    face("l", "type: 'text-list size: 10x3 data: [\"a\" \"b\" \"c\"] selected: 5");
    Widget* l = make("l", win);
    EXPECT_EQ(text_of("l"), "{a^/b^/c^/}");
    gui::set_focus(l, win->window);
    l->update(l);
    EXPECT_EQ(test::eval("l/selected"), "3");
    EXPECT_EQ(text_of("l"), "{a^/b^/^[[7mc^/^[[27m}");
}

TEST_F(GuiWidgets, UpdateViewAppliesTheChangeBits) {
    Widget* win = window();
    face("p", "type: 'base offset: 2x1 size: 4x2");
    Widget* p = make("p", win);
    EXPECT_EQ(test::eval("set-quiet in p 'offset 5x3 set-quiet in p 'visible? false "
                         "p/state/2: 2 + 512 + 4 set-quiet in p 'size 7x1 none"),
              "none");
    Cell f = global("p");
    gui::OS_update_view(&f);
    EXPECT_EQ(p->x1, 5.0f);
    EXPECT_EQ(p->y1, 3.0f);
    EXPECT_EQ(p->x2, 12.0f);
    EXPECT_EQ(p->y2, 4.0f);
    EXPECT_TRUE(p->flags & gui::widget_flag::hidden);
    EXPECT_EQ(test::eval("p/state/2"), "0");
    // Selecting a face in the window gives it the focus.
    EXPECT_EQ(test::eval("set-quiet in win 'selected p win/state/2: 1024 none"), "none");
    Cell w = global("win");
    gui::OS_update_view(&w);
    EXPECT_EQ(gui::state.focused, p);
}

TEST_F(GuiWidgets, TextListDataRemovalKeepsTheViewInRange) {
    Widget* win = window();
    face("l", "type: 'text-list size: 10x2 data: [1 2 3 4 5 6 7 8] selected: 8");
    Widget* l = make("l", win);
    l->head = 5;
    Cell f = global("l");
    Cell word, action, data;
    word::load("data", &word);
    word::load("remove", &action);
    data = *gui::face_value(&f, gui::face_field::data);
    gui::OS_update_facet(&f, &word, &data, &action, nullptr, 0, 2);
    EXPECT_EQ(l->head, 0);
    EXPECT_EQ(test::eval("l/selected"), "6");
}

TEST_F(GuiWidgets, RatesStartAndStopTimers) {
    Widget* win = window();
    face("t", "type: 'base size: 1x1 rate: 4");
    Widget* t = make("t", win);
    EXPECT_EQ(gui::timer_count(), 1u);
    EXPECT_EQ(test::eval("set-quiet in t 'rate none t/state/2: 65536 none"), "none");
    Cell f = global("t");
    gui::OS_update_view(&f);
    EXPECT_EQ(gui::timer_count(), 0u);
    (void)t;
    face("bad", "type: 'base size: 1x1 rate: 0:0:0");
    const std::uint32_t before = gui::widget_count();
    EXPECT_EQ(test::eval("bad/state: none system/view/platform/make-view bad null-handle"),
              "error: invalid-facet-type");
    EXPECT_EQ(gui::widget_count(), before);
}

// Image cells: two pixel rows per cell, the upper one the background of a
// lower half block; a transparent upper pixel leaves a blank cell.
TEST_F(GuiWidgets, ImageCells) {
    Widget* win = window();
    EXPECT_EQ(test::eval("i: make image! 2x4  i/1: 255.0.0  i/3: 0.0.255.255  i/5: 0.0.0.255  none"), "none");
    face("im", "type: 'base size: 2x2 image: i");
    const int saved = gui::state.color_mode;
    gui::state.color_mode = 2;
    Widget* w = make("im", win);
    gui::state.color_mode = saved;
    ASSERT_NE(w->image, nullptr);
    ASSERT_EQ(w->image->count, 4u);
    const auto xterm = [](std::uint32_t i) { return gui::make_color(gui::color_kind::xterm, i); };
    const gui::CanvasCell& red = w->image->items[0];
    EXPECT_EQ(red.ch, 0x2584u);
    EXPECT_EQ(red.back, xterm(196));
    EXPECT_EQ(red.fore, 0u);  // the transparent pixel below
    EXPECT_EQ(w->image->items[1].back, xterm(231));
    EXPECT_EQ(w->image->items[2].ch, static_cast<std::uint32_t>(' '));
    EXPECT_EQ(w->image->items[2].back, 0u);
    // Without an image the cells go.
    EXPECT_EQ(test::eval("set-quiet in im 'image none  im/state/2: 16  none"), "none");
    Cell f = global("im");
    gui::OS_update_view(&f);
    EXPECT_EQ(w->image, nullptr);
}

// A group-box draws its border along its visible rectangle and its title
// from the second column.
TEST_F(GuiWidgets, GroupBoxBorderAndTitle) {
    Widget* win = window("8x3");
    face("g", "type: 'group-box size: 8x3 text: \"Tx\" options: [border-corners: round]");
    Widget* g = make("g", win);
    gui::state.canvas = new gui::CanvasCell[24]();
    gui::state.canvas_width = 8;
    gui::state.canvas_height = 3;
    g->render(0, 0, g);
    auto row = [](int y) {
        std::u32string s;
        for (int x = 0; x < 8; ++x) s += static_cast<char32_t>(gui::state.canvas[y * 8 + x].ch);
        return s;
    };
    EXPECT_EQ(row(0), U"╭Tx────╮");
    EXPECT_EQ(row(1), U"│      │");
    EXPECT_EQ(row(2), U"╰──────╯");
    delete[] gui::state.canvas;
    gui::state.canvas = nullptr;
    gui::state.canvas_width = gui::state.canvas_height = 0;
}

}  // namespace
}  // namespace kiv
