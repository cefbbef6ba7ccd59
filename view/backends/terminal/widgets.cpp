// Widget records and the behaviour of each face type.
//
// A record is made zeroed with the default handlers; `construct_widget`
// then gives it its type's handlers. The handlers edit the face in place
// (field text, check data, list selection) without running the face's
// change handlers, and tell the engine through events (click, select,
// change), whose global event functions run the reactive checks.
//
// GC: records live in tracked memory; their face and ui cells are marked by
// the widget table's collector hook. Every call into the engine or into the
// text-mode helpers may run user code that frees records, so handlers keep
// the record's WidgetId and look it up again afterwards.
#include "view/backends/terminal/widgets.h"

#include "runtime/boot.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/eval-api.h"
#include "runtime/evaluator/stack.h"
#include "runtime/state.h"
#include "runtime/tracked-alloc.h"
#include "view/backends/terminal/cells.h"
#include "view/backends/terminal/dispatch.h"
#include "view/backends/terminal/render.h"
#include "view/backends/terminal/screen.h"

namespace kiv::gui {

// --- records ---

void no_update(Widget*) {}

void default_render(int x, int y, Widget* w) { render_face(x, y, w, cell_style::escapes); }

int no_event(int, EventRecord*) { return 0; }

Widget* make_widget(Widget* parent) {
    auto* w = static_cast<Widget*>(memory::allocate_zeroed(sizeof(Widget)));
    none::make_at(&w->ui);
    none::make_at(&w->face);
    w->parent = parent;
    w->update = no_update;
    w->render = default_render;
    w->event = no_event;
    register_widget(w);
    return w;
}

void free_widget(Widget* w) {
    if (!w) return;
    WindowRecord* record = w->window;
    unregister_widget(w);
    // A child made under this record but not destroyed with it must not
    // keep a dangling parent.
    for_each_widget([w](Widget* other) {
        if (other->parent == w) other->parent = nullptr;
    });
    free_run(w->image);
    free_run(w->runs);
    w->image = w->runs = nullptr;
    if (record) {
        record->widget = nullptr;
        record->focus = nullptr;
        remove_window(record);
    }
    memory::free(w);
}

// --- small operations ---

Widget* face_handle_q(const Cell* face) { return widget_at(get_face_handle(face)); }

namespace {
// The record whose type constructor is running: its face holds no handle
// yet (the engine stores it once the record is made).
WidgetId constructing = 0;
}  // namespace

Widget* face_widget(const Cell* face) {
    if (Widget* w = face_handle_q(face)) return w;
    Widget* c = widget_at(constructing);
    if (c && face->is(Type::object) && c->face.is(Type::object) &&
        object::context_of(face) == object::context_of(&c->face))
        return c;
    return nullptr;
}

WidgetId get_face_handle(const Cell* face) {
    if (!face->is(Type::object)) return 0;
    const Cell* st = face_value(face, face_field::state);
    if (!st->is(Type::block) || block::ks_length(st) < 1) return 0;
    const Cell* handle = block::ks_abs_at(st, static_cast<std::int32_t>(st->data1));
    return handle->is(Type::handle) ? handle->data2 : 0;
}

bool has_focus_q(const Widget* w) { return w && (w->flags & widget_flag::focused); }

std::int32_t widget_data(const Widget* w) { return w ? w->head : 0; }

void set_widget_ui(Widget* w, const Cell* string) {
    if (!w) return;
    if (string && string->is(Type::string))
        w->ui = *string;
    else
        none::make_at(&w->ui);
}

void widget_size(const Widget* w, int* width, int* height) {
    *width = static_cast<int>(w->x2 - w->x1);
    *height = static_cast<int>(w->y2 - w->y1);
}

void absolute_offset(const Widget* w, int* x, int* y) {
    float fx = 0, fy = 0;
    for (const Widget* p = w; p && !p->window; p = p->parent) {
        fx += p->x1;
        fy += p->y1;
    }
    *x = static_cast<int>(fx);
    *y = static_cast<int>(fy);
}

Widget* child_at(const Widget* w, float x, float y) {
    const Cell* pane = face_value(&w->face, face_field::pane);
    if (!pane->is(Type::block)) return nullptr;
    const std::int32_t start = static_cast<std::int32_t>(pane->data1);
    for (std::int32_t i = block::ks_length(pane) - 1; i >= 0; --i) {
        Widget* c = face_handle_q(block::ks_abs_at(pane, start + i));
        if (!c || (c->flags & widget_flag::hidden)) continue;
        if (c->x1 <= x && x < c->x2 && c->y1 <= y && y < c->y2) return c;
    }
    return nullptr;
}

WindowRecord* window_of(const Widget* w) {
    for (const Widget* p = w; p; p = p->parent)
        if (p->window) return p->window;
    return nullptr;
}

// --- focus and redraw ---

namespace {

// The window record, if its window widget is still alive.
WindowRecord* live_record(WidgetId window_id) {
    Widget* ww = widget_at(window_id);
    return ww ? ww->window : nullptr;
}

}  // namespace

void set_focus(Widget* w, WindowRecord* window) {
    const WidgetId id = w ? w->id : 0;
    WindowRecord* record = window ? window : state.active_window;
    const WidgetId record_id = record && record->widget ? record->widget->id : 0;
    if (Widget* old = state.focused) {
        old->flags &= ~widget_flag::focused;
        // The old focus may be drawn differently (reverse video), whatever
        // the new one's handler does.
        invalidate(old);
        state.focused = nullptr;
        send_event(event_type::unfocus, old, 0);
    }
    // GC: the unfocus actor may have closed windows.
    w = widget_at(id);
    record = live_record(record_id);
    if (record) record->focus = w;
    state.focused = w;
    if (!w) return;
    w->flags |= widget_flag::focused;
    send_event(event_type::focus, w, 0);
}

void invalidate(Widget* w) {
    if (!w) w = state.focused;
    if (!w) return;
    WindowRecord* record = window_of(w);
    if (record && record == state.active_window) mark_dirty();
}

// --- calling the text-mode helpers ---

bool call_tui_helper(const char* name, const Cell* args, std::int32_t count, Cell* result) {
    Cell* helpers = boot::resolve("TUI-helpers");
    if (!helpers || !helpers->is(Type::object)) return false;
    Cell word;
    word::load(name, &word);
    const std::int32_t index = object::find_field(helpers, &word);
    if (index < 0) return false;
    Cell function = *object::field_value(object::context_of(helpers), index);
    if (!function.is(Type::function)) return false;
    const std::int32_t slots = context::word_count(function.data1);
    const std::int32_t locals = function::count_locals(function.data2, 0, false);
    stack::push_function_frame(&word, function.data1);
    for (std::int32_t i = 0; i < slots - locals; ++i) stack::push_copy(i < count ? &args[i] : &none::value);
    if (locals > 0) stack::push_copy(&logic::false_value);
    for (std::int32_t i = 1; i < locals; ++i) stack::push_copy(&none::value);
    Cell answer;
    if (eval::call_function(&function, &word, kiv::state.stack_arguments, slots, &answer) == Status::thrown)
        return false;
    stack::pop_frame();
    if (result) *result = answer;
    return true;
}

namespace {

void call_helper(const char* name, Widget* w) {
    const Cell face = w->face;
    call_tui_helper(name, &face, 1, nullptr);
}

void update_progress(Widget* w) { call_helper("make-progress-ui", w); }
void update_check(Widget* w) { call_helper("make-checkbox-ui", w); }
void update_radio(Widget* w) { call_helper("make-radio-ui", w); }
void update_text_list(Widget* w) { call_helper("make-text-list-ui", w); }

// Runs the widget's update handler; answers the record if it survived.
Widget* run_update(Widget* w) {
    const WidgetId id = w->id;
    w->update(w);
    return widget_at(id);
}

}  // namespace

// --- window ---

namespace {

void render_nothing(int, int, Widget*) {}

void construct_window(Widget* w) {
    auto* record = static_cast<WindowRecord*>(memory::allocate_zeroed(sizeof(WindowRecord)));
    record->widget = w;
    // The record's box starts as the window's own box (windows sit at the
    // canvas origin) and grows over the faces made under it.
    record->max_x = w->x2 - w->x1;
    record->max_y = w->y2 - w->y1;
    w->window = record;
    w->render = render_nothing;
    state.last_window = w;
    if (!state.focused) state.focused = w;
    make_window(record);
    if (w->flags & widget_flag::fullscreen) state.fullscreen = true;
}

}  // namespace

// --- field ---

namespace {

Cell* face_text(Widget* w) { return face_value_mut(&w->face, face_field::text); }

void construct_field(Widget* w) {
    w->flags |= widget_flag::takes_caret;
    const Cell* text = face_value(&w->face, face_field::text);
    if (!text->is(Type::string)) return;
    int width = 0, height = 0;
    widget_size(w, &width, &height);
    int count = 0;
    const int extent = text_extent(text, width, &count, nullptr);
    w->caret = Caret{count, extent, extent};
}

void render_field(int x, int y, Widget* w) {
    w->y2 = w->y1 + 1.0f;
    render_face(x, y, w, (w->flags & widget_flag::password) ? cell_style::escapes | cell_style::password
                                                            : cell_style::escapes);
    if (has_focus_q(w)) {
        state.caret_x = x + w->caret.column;
        state.caret_y = y;
    }
}

// The code point at character `i` of the string from its index.
std::uint32_t char_at(const Cell* text, std::int32_t i) {
    return string::ks_abs_at(text, static_cast<std::int32_t>(text->data1) + i);
}

// Answers true when the text changed.
bool field_key(Widget* w, std::int32_t k) {
    Cell* text = face_text(w);
    if (!text) return false;
    if (!text->is(Type::string)) {
        // GC: the face's context is not expanded by making a string, so the
        // field cell stays where it is.
        Cell fresh;
        string::make_at(&fresh, 16);
        text = face_text(w);
        *text = fresh;
    }
    Caret& c = w->caret;
    const std::int32_t length = string::ks_length(text);
    const std::int64_t base = static_cast<std::int32_t>(text->data1);
    // An actor may have replaced or cut the text since the caret was placed:
    // keep the caret within the text and measure its cells from the text,
    // so that no key reads past the text's end.
    if (c.index > length) c.index = length;
    if (c.index < 0) c.index = 0;
    c.column = c.width = 0;
    for (std::int32_t i = 0; i < length; ++i) {
        const int cw = char_width(char_at(text, i));
        if (i < c.index) c.column += cw;
        c.width += cw;
    }
    switch (k) {
    case 2:
    case key_code::left:
        if (c.index > 0) {
            --c.index;
            c.column -= char_width(char_at(text, c.index));
        }
        return false;
    case 6:
    case key_code::right:
        if (c.index < length) {
            c.column += char_width(char_at(text, c.index));
            ++c.index;
        }
        return false;
    case 8:
    case 127:
        if (c.index <= 0) return false;
        {
            --c.index;
            const int cw = char_width(char_at(text, c.index));
            c.column -= cw;
            c.width -= cw;
            string::remove_chars(string::buffer(text), base + c.index, 1);
        }
        return true;
    default:
        break;
    }
    if (k < 32) return false;
    const auto cp = static_cast<std::uint32_t>(k);
    const int cw = char_width(cp);
    int width = 0, height = 0;
    widget_size(w, &width, &height);
    if (width - cw < c.width) return false;
    string::insert_char(string::buffer(text), base + c.index, cp);
    ++c.index;
    c.column += cw;
    c.width += cw;
    return true;
}

int field_event(int type, EventRecord* ev) {
    Widget* w = ev->widget;
    if (type == event_type::click) {
        const Cell* text = face_value(&w->face, face_field::text);
        if (text->is(Type::string)) {
            int count = 0;
            const int extent = text_extent(text, static_cast<int>(ev->x), &count, nullptr);
            w->caret.index = count;
            w->caret.column = extent;
        } else {
            w->caret.index = w->caret.column = 0;
        }
        mark_dirty();
        return 0;
    }
    if (type != event_type::key) return 0;
    const std::int32_t k = ev->value;
    if (k == 0 || k == 9 || k == 13) return 0;
    const bool changed = field_key(w, k);
    mark_dirty();
    // The engine keeps the face's data in step with its text on change.
    if (changed) send_value_event(event_type::change, w, 0);
    return 0;
}

}  // namespace

// --- button ---

namespace {

void render_button(int x, int y, Widget* w) {
    render_face(x, y, w, has_focus_q(w) ? cell_style::escapes | cell_style::reverse : cell_style::escapes);
}

int button_event(int type, EventRecord* ev) {
    if (type != event_type::key) return 0;
    Widget* w = ev->widget;
    const WidgetId id = w->id;
    if (ev->value == 32) send_event(event_type::click, w, 0);
    if (widget_at(id)) mark_dirty();
    return 0;
}

}  // namespace

// --- base ---

namespace {

// The caret options of a base: calls fn with each face named by a `caret`
// pair of face/options (a block of word/value pairs).
template <class F>
void for_each_caret_face(const Widget* w, F fn) {
    const Cell* options = face_value(&w->face, face_field::options);
    if (!options->is(Type::block)) return;
    const std::int32_t n = block::ks_length(options);
    if (n % 2 != 0) return;
    const std::int32_t start = static_cast<std::int32_t>(options->data1);
    for (std::int32_t i = 0; i < n; i += 2) {
        if (!is_word(block::ks_abs_at(options, start + i), Word::caret)) continue;
        const Cell* face = value_of_word(block::ks_abs_at(options, start + i + 1));
        fn(face);
    }
}

void render_caret_base(int x, int y, Widget* w) {
    Widget* focused = state.focused;
    if (!focused || !(focused->flags & widget_flag::takes_caret)) return;
    for_each_caret_face(w, [&](const Cell* face) {
        if (face_handle_q(face) == focused) {
            state.caret_x = x;
            state.caret_y = y;
        }
    });
}

void construct_base(Widget* w) {
    bool any = false;
    for_each_caret_face(w, [&](const Cell* face) {
        any = true;
        if (Widget* named = face_handle_q(face)) named->flags |= widget_flag::takes_caret;
    });
    if (!any) return;
    w->flags |= widget_flag::caret_base;
    w->render = render_caret_base;
}

}  // namespace

// --- progress, check, radio, rich-text ---

namespace {

void render_plain(int x, int y, Widget* w) { render_face(x, y, w, 0); }

void render_mark(int x, int y, Widget* w) {
    const std::uint32_t flags = cell_style::escapes | cell_style::no_text;
    render_face(x, y, w, has_focus_q(w) ? flags | cell_style::reverse : flags);
}

// Toggles (check) or sets (radio) the data, redraws, and tells the engine.
void mark_changed(Widget* w, bool toggle) {
    Cell* data = face_value_mut(&w->face, face_field::data);
    if (!data) return;
    bool next = true;
    if (toggle) {
        if (data->is(Type::none))
            next = true;
        else if (data->is(Type::logic))
            next = data->data1 == 0;
        else
            next = false;
    }
    logic::make_at(data, next);
    w = run_update(w);
    if (!w) return;
    mark_dirty();
    send_value_event(event_type::change, w, 0);
}

int check_event(int type, EventRecord* ev) {
    if ((type == event_type::key && ev->value == 32) || type == event_type::click)
        mark_changed(ev->widget, true);
    else if (type == event_type::focus)
        mark_dirty();
    return 0;
}

int radio_event(int type, EventRecord* ev) {
    if ((type == event_type::key && ev->value == 32) || type == event_type::click)
        mark_changed(ev->widget, false);
    else if (type == event_type::focus)
        mark_dirty();
    return 0;
}

}  // namespace

// --- group-box ---

namespace {

void put_border(int col, int row, std::uint32_t ch, bool colored, CellColor color) {
    if (col < 0 || row < 0 || col >= state.canvas_width || row >= state.canvas_height) return;
    CanvasCell* c = canvas_at(col, row);
    c->ch = ch;
    c->style = 0;
    if (colored) c->fore = color;
}

void render_group_box(int x, int y, Widget* w) {
    render_face(x, y, w, cell_style::no_text);
    const ClipRect r = clip_rect(x, y, w);
    if (r.empty() || !state.canvas) return;
    bool round = false, colored = false;
    CellColor color = 0;
    const Cell* options = face_value(&w->face, face_field::options);
    if (options->is(Type::block)) {
        const std::int32_t n = block::ks_length(options);
        const std::int32_t start = static_cast<std::int32_t>(options->data1);
        for (std::int32_t i = 0; i + 1 < n; ++i) {
            const Cell* key = block::ks_abs_at(options, start + i);
            const Cell* value = block::ks_abs_at(options, start + i + 1);
            if (is_word(key, Word::border_corners))
                round = is_word(value, Word::round);
            else if (is_word(key, Word::border_color) && value->is(Type::tuple)) {
                colored = true;
                color = rgb_to_xterm(tuple_to_color(value));
            }
        }
    }
    const int right = r.right - 1, bottom = r.bottom - 1;
    for (int col = r.left + 1; col < right; ++col) {
        put_border(col, r.top, 0x2500, colored, color);
        put_border(col, bottom, 0x2500, colored, color);
    }
    for (int row = r.top + 1; row < bottom; ++row) {
        put_border(r.left, row, 0x2502, colored, color);
        put_border(right, row, 0x2502, colored, color);
    }
    put_border(r.left, r.top, round ? 0x256D : 0x250C, colored, color);
    put_border(right, r.top, round ? 0x256E : 0x2510, colored, color);
    put_border(r.left, bottom, round ? 0x2570 : 0x2514, colored, color);
    put_border(right, bottom, round ? 0x256F : 0x2518, colored, color);
    const Cell* text = face_value(&w->face, face_field::text);
    if (!text->is(Type::string)) return;
    TextStyle ts;
    ts.style = cell_style::escapes;
    const Cell* font = face_value(&w->face, face_field::font);
    if (font->is(Type::object)) ts.fore = rgb_to_xterm(font_color(font));
    // The title stays between the top corners.
    ClipRect title = r;
    title.right = right;
    title.bottom = r.top + 1;
    const TextSpan span = TextSpan::of(text);
    text_to_cells(&span, x + 1, y, title, ts);
}

}  // namespace

// --- text-list ---

namespace {

std::int32_t entry_count(const Cell* data) {
    if (data->is(Type::block) || data->is(Type::hash)) return block::ks_length(data);
    if (data->is(Type::map)) return block::ks_length(data) / 2;
    return 0;
}

bool same_selected(const Cell* a, const Cell* b) {
    if (a->type() != b->type()) return false;
    if (a->is(Type::integer)) return a->data2 == b->data2;
    return a->is(Type::none);
}

int text_list_event(int type, EventRecord* ev) {
    Widget* w = ev->widget;
    const WidgetId id = w->id;
    const Cell* data = face_value(&w->face, face_field::data);
    const std::int32_t n = entry_count(data);
    Cell* selected = face_value_mut(&w->face, face_field::selected);
    if (!selected) return 0;
    Cell old = *selected;
    std::int32_t sel = old.is(Type::integer) ? integer::get(&old) : 0;
    const std::int32_t old_sel = sel;
    int width = 0, height = 0;
    widget_size(w, &width, &height);
    if (type == event_type::key) {
        if (ev->value == key_code::up) {
            if (sel > 1) --sel;
            if (sel - 1 < w->head && w->head > 0) --w->head;
        } else if (ev->value == key_code::down) {
            if (sel < n) ++sel;
            if (w->head < sel - height) ++w->head;
        } else {
            return 0;
        }
    } else if (type == event_type::click) {
        const std::int32_t picked = w->head + static_cast<std::int32_t>(ev->y) + 1;
        // A click below the last entry selects nothing.
        if (picked > n || picked < 1) return 0;
        sel = picked;
        if (!old.is(Type::integer)) {
            integer::make_at(selected, 0);
            old = *selected;
        }
    } else if (type == event_type::focus) {
        if (run_update(w)) mark_dirty();
        return 0;
    } else {
        return 0;
    }
    if (sel == old_sel) return 0;
    const int answer = send_value_event(event_type::select, w, sel);
    w = widget_at(id);
    if (!w) return 0;
    const Cell* st = face_value(&w->face, face_field::state);
    selected = face_value_mut(&w->face, face_field::selected);
    if (!st->is(Type::block) || !selected) return 0;
    const Cell now = *selected;
    if (!same_selected(&now, &old)) return 0;
    integer::make_at(selected, sel);
    w = run_update(w);
    if (!w) return 0;
    mark_dirty();
    if (answer == 0) send_value_event(event_type::change, w, sel);
    return 0;
}

}  // namespace

// --- the table of types ---

namespace {

void construct_by_type(Widget* w);

}  // namespace

void construct_widget(Widget* w) {
    // The text-mode helpers that the constructors run reach the record
    // through its face, which has no handle yet.
    const WidgetId outer = constructing;
    constructing = w->id;
    try {
        construct_by_type(w);
    } catch (...) {
        constructing = outer;
        throw;
    }
    constructing = outer;
}

namespace {

void construct_by_type(Widget* w) {
    const std::uint32_t t = w->type;
    auto is = [t](Word word) { return t == symbol_of(word); };
    if (is(Word::window)) {
        construct_window(w);
    } else if (is(Word::field)) {
        construct_field(w);
        w->render = render_field;
        w->event = field_event;
    } else if (is(Word::button)) {
        w->render = render_button;
        w->event = button_event;
    } else if (is(Word::base)) {
        construct_base(w);
    } else if (is(Word::progress)) {
        w->update = update_progress;
        w->render = render_plain;
        run_update(w);
    } else if (is(Word::group_box)) {
        w->render = render_group_box;
    } else if (is(Word::check)) {
        w->update = update_check;
        w->render = render_mark;
        w->event = check_event;
        run_update(w);
    } else if (is(Word::radio)) {
        w->update = update_radio;
        w->render = render_mark;
        w->event = radio_event;
        run_update(w);
    } else if (is(Word::text_list)) {
        w->update = update_text_list;
        w->event = text_list_event;
        run_update(w);
    } else if (is(Word::rich_text)) {
        w->update = build_runs;
        w->render = render_plain;
        run_update(w);
    }
}

}  // namespace

}  // namespace kiv::gui
