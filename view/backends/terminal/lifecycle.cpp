// The face lifecycle: records made from faces, changes applied, trees
// destroyed, and the backend's start-up.
//
// The engine records a face's changed facets as bits in face/state/2 (bit
// 1 << index of the face! field); update-view applies them in a fixed order
// and clears them.
#include "view/backends/terminal/lifecycle.h"

#include <algorithm>
#include <cmath>

#include "runtime/boot.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/fire.h"
#include "runtime/services/imaging.h"
#include "view/backends/terminal/cells.h"
#include "view/backends/terminal/event-loop.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/timers.h"
#include "view/backends/terminal/widgets.h"

namespace kiv::gui {

namespace {

constexpr std::uint32_t bit(int field) { return 1u << field; }

bool is_true(const Cell* v) { return v->is(Type::logic) && v->data1 != 0; }

// Width and height of a size facet: a pair! in whole cells, a point2D! as
// floats; anything else 0x0.
// A face's coordinate in cells as the widget keeps it: NaN reads as 0 and
// a value beyond a million cells is held there, so the sums and the
// conversions to int made from it stay in range (no terminal is that big).
float cell_coordinate(float v) {
    constexpr float limit = 1e6f;
    return std::isnan(v) ? 0.0f : std::clamp(v, -limit, limit);
}

// Reads a pair! or point2D! (a face's offset or size) into two
// coordinates, 0 for anything else.
void read_coordinates(const Cell* value, float* x, float* y) {
    if (value->is(Type::pair)) {
        *x = static_cast<float>(pair::x(value));
        *y = static_cast<float>(pair::y(value));
    } else if (value->is(Type::point2d)) {
        *x = point::get(value, 0);
        *y = point::get(value, 1);
    } else {
        *x = *y = 0;
    }
    *x = cell_coordinate(*x);
    *y = cell_coordinate(*y);
}

// The widget bits of the face flags the backend keeps.
std::uint32_t widget_flags_of(std::uint32_t face_flags) {
    std::uint32_t f = 0;
    if (face_flags & face_flag::all_over) f |= widget_flag::all_over;
    if (face_flags & face_flag::password) f |= widget_flag::password;
    if (face_flags & face_flag::focusable) f |= widget_flag::focusable;
    if (face_flags & face_flag::fullscreen) f |= widget_flag::fullscreen;
    return f;
}

void grow_box(WindowRecord* r, const Widget* w) {
    r->min_x = std::min(r->min_x, w->x1);
    r->min_y = std::min(r->min_y, w->y1);
    r->max_x = std::max(r->max_x, w->x2);
    r->max_y = std::max(r->max_y, w->y2);
}

// The state block's cell at `i` (0-based), or null.
Cell* state_at(Cell* face, std::int32_t i) {
    Cell* st = face_value_mut(face, face_field::state);
    if (!st || !st->is(Type::block) || block::ks_length(st) <= i) return nullptr;
    return block::ks_abs_at(st, static_cast<std::int32_t>(st->data1) + i);
}

// The timer period of a rate value in milliseconds: 0 for none; fires
// script invalid-facet-type for anything but a positive integer! or time!.
int rate_interval(const Cell* rate) {
    if (rate->is(Type::none)) return 0;
    if (rate->is(Type::integer) && integer::get(rate) > 0) return std::max(1000 / integer::get(rate), 0);
    if (rate->is(Type::time) && time::get(rate) > 0) {
        const double ms = time::get(rate) * 1000.0;
        return ms >= 2147483647.0 ? 2147483647 : static_cast<int>(ms);
    }
    Cell value = *rate;
    fire(ErrorId::script_invalid_facet_type, &value);
}

}  // namespace

// --- start-up ---

namespace {

void set_platform_field(const char* path, const Cell& value) {
    if (Cell* slot = boot::resolve(path)) *slot = value;
}

}  // namespace

void init() {
    Cell version{static_cast<std::uint32_t>(Type::tuple), 0, 0, 0};
    tuple::set_length(&version, 3);
    tuple::bytes(&version)[0] = tuple::bytes(&version)[1] = tuple::bytes(&version)[2] = 10;
    set_platform_field("system/view/platform/version", version);
    set_platform_field("system/view/platform/build", integer::make_cell(1000));
    set_platform_field("system/view/platform/product", integer::make_cell(0));
    Cell mode;
    if (call_tui_helper("check-color-support", nullptr, 0, &mode) && mode.is(Type::integer))
        state.color_mode = integer::get(&mode);
    if (state.started) return;
    state.windows.reserve(4);
    state.pressed.reserve(16);
    state.output.reserve(2000);
    make_timers();
    init_event_loop();
    state.started = true;
}

// --- making ---

Widget* OS_make_view(Cell* face, Widget* parent) {
    // A bad rate is refused before anything is made, so no record is left
    // behind without a face that holds it.
    rate_interval(face_value(face, face_field::rate));
    if (Cell* offset = face_value_mut(face, face_field::offset)) pair_to_point(offset);
    std::uint32_t flags = widget_flags_of(get_flags(face_value(face, face_field::flags)));
    float width = 0, height = 0;
    read_coordinates(face_value(face, face_field::size), &width, &height);
    if (!is_true(face_value(face, face_field::visible_q))) flags |= widget_flag::hidden;
    if (!is_true(face_value(face, face_field::enabled_q))) flags |= widget_flag::disabled;
    const Cell* type = face_value(face, face_field::type);
    const std::uint32_t type_symbol = is_word(type, Word::window) || type->is(Type::word)
                                          ? symbol::resolve(type->data2)
                                          : 0;
    const bool window = type_symbol == symbol_of(Word::window);
    if (window) {
        if (Cell* offset = face_value_mut(face, face_field::offset)) pair::make_at(offset, 0, 0);
    }
    float x = 0, y = 0;
    read_coordinates(face_value(face, face_field::offset), &x, &y);

    Widget* w = make_widget(parent);
    w->flags = flags;
    w->x1 = x;
    w->y1 = y;
    w->x2 = x + width;
    w->y2 = y + height;
    w->type = type_symbol;
    w->face = *face;
    const WidgetId id = w->id;
    construct_widget(w);
    // GC: the update handlers run Kiv code.
    w = widget_at(id);
    if (!w) return nullptr;

    if (w->parent) {
        WindowRecord* record = w->window ? w->window : w->parent->window;
        if (record) grow_box(record, w);
        if (w->flags & widget_flag::takes_caret) {
            if (WindowRecord* r = window_of(w)) ++r->caret_count;
        }
        Widget* last = state.last_window;
        if (last && last->window && !last->window->focus && (w->flags & widget_flag::focusable)) {
            set_focus(w, last->window);
            w = widget_at(id);
            if (!w) return nullptr;
        }
        const Cell* image = face_value(&w->face, face_field::image);
        if (image->is(Type::image)) image_to_cells(w, image);
    }
    set_rate(w, face_value(&w->face, face_field::rate));
    return w;
}

// --- image cells and rates ---

namespace {

// A pixel word (bytes B, G, R, A in memory, A the opacity) as a cell colour
// of the colour mode.
CellColor pixel_color(std::uint32_t px) {
    if (state.color_mode == 4) return make_color(color_kind::truecolor, px & 0xFFFFFF);
    const std::uint32_t r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, b = px & 0xFF;
    const std::uint32_t transparency = 255 - (px >> 24);
    return rgb_to_xterm(r | (g << 8) | (b << 16) | (transparency << 24));
}

}  // namespace

void image_to_cells(Widget* w, const Cell* image) {
    free_run(w->image);
    w->image = nullptr;
    if (!image->is(Type::image)) return;
    int width = 0, height = 0;
    widget_size(w, &width, &height);
    const std::uint32_t iw = image::width(image), ih = image::height(image);
    const NodeId record = image->data2;
    if (iw == 0 || ih == 0 || record == 0 || width <= 0 || height <= 0) return;
    // Two pixel rows per cell: the upper one the background of a lower half
    // block, the lower one its foreground.
    const NodeId scaled = imaging::resize(record, iw, ih, static_cast<std::uint32_t>(width),
                                          static_cast<std::uint32_t>(height) * 2);
    CellRun* run = make_run();
    reset_run(run, static_cast<std::uint32_t>(width * height));
    // GC: nothing allocates below; the pixel pointer stays valid.
    const std::uint32_t* px = imaging::pixels(scaled);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const std::uint32_t upper = px[static_cast<std::size_t>(2 * r) * width + c];
            const std::uint32_t lower = px[static_cast<std::size_t>(2 * r + 1) * width + c];
            CanvasCell& cell = run->items[r * width + c];
            if ((upper >> 24) == 0) {
                cell = CanvasCell{' ', 0, 0, 0};
                continue;
            }
            cell = CanvasCell{0x2584, pixel_color(upper), pixel_color(lower), 0};
        }
    }
    w->image = run;
}

void set_rate(Widget* w, const Cell* rate) {
    remove_timer(w);
    if (!rate->is(Type::none)) add_timer(w, rate_interval(rate));
}

// --- updating ---

namespace {

// Switches system/view/auto-sync? off for its lifetime and puts the old
// value back on every exit path.
class NoAutoSync {
public:
    NoAutoSync() {
        if (Cell* slot = boot::resolve("system/view/auto-sync?")) {
            saved_ = *slot;
            have_ = true;
            logic::make_at(slot, false);
        }
    }
    ~NoAutoSync() {
        if (!have_) return;
        if (Cell* slot = boot::resolve("system/view/auto-sync?")) *slot = saved_;
    }
    NoAutoSync(const NoAutoSync&) = delete;
    NoAutoSync& operator=(const NoAutoSync&) = delete;

private:
    Cell saved_{};
    bool have_ = false;
};

void set_flag(Widget* w, std::uint32_t flag, bool on) {
    if (on)
        w->flags |= flag;
    else
        w->flags &= ~flag;
}

}  // namespace

void OS_update_view(Cell* face) {
    Cell* first = state_at(face, 0);
    Cell* bits_cell = state_at(face, 1);
    if (!first) return;
    Widget* w = face_handle_q(face);
    if (!w) return;
    const std::uint32_t bits = bits_cell && bits_cell->is(Type::integer) ? bits_cell->data2 : 0;
    const WidgetId id = w->id;

    if (bits & bit(face_field::rate)) {
        set_rate(w, face_value(face, face_field::rate));
    }
    if (bits & bit(face_field::offset)) {
        float x = 0, y = 0;
        read_coordinates(face_value(face, face_field::offset), &x, &y);
        w->x2 += x - w->x1;
        w->y2 += y - w->y1;
        w->x1 = x;
        w->y1 = y;
    }
    if (bits & bit(face_field::size)) {
        float width = 0, height = 0;
        read_coordinates(face_value(face, face_field::size), &width, &height);
        w->x2 = w->x1 + width;
        w->y2 = w->y1 + height;
        if (WindowRecord* r = w->window) {
            r->min_x = w->x1;
            r->min_y = w->y1;
            r->max_x = w->x2;
            r->max_y = w->y2;
            size_canvas(r);
        }
    }
    if (bits & bit(face_field::selected)) {
        if (WindowRecord* r = w->window) {
            const Cell* selected = face_value(face, face_field::selected);
            if (selected->is(Type::object)) {
                if (Widget* target = face_handle_q(selected)) set_focus(target, r);
            } else if (selected->is(Type::none)) {
                set_focus(w, r);
            }
            w = widget_at(id);
            if (!w) return;
        }
    }
    if (bits & bit(face_field::enabled_q))
        set_flag(w, widget_flag::disabled, !is_true(face_value(face, face_field::enabled_q)));
    if (bits & bit(face_field::visible_q))
        set_flag(w, widget_flag::hidden, !is_true(face_value(face, face_field::visible_q)));
    if (bits & bit(face_field::flags)) {
        const std::uint32_t f = widget_flags_of(get_flags(face_value(face, face_field::flags)));
        set_flag(w, widget_flag::all_over, f & widget_flag::all_over);
        set_flag(w, widget_flag::password, f & widget_flag::password);
    }
    if (bits & bit(face_field::image)) image_to_cells(w, face_value(face, face_field::image));
    {
        NoAutoSync guard;
        w->update(w);
    }
    if (!widget_at(id)) return;
    mark_dirty();
    if (Cell* b = state_at(face, 1); b && b->is(Type::integer)) integer::make_at(b, 0);
}

void OS_update_facet(Cell* owner, const Cell* word, const Cell* value, const Cell* action,
                     const Cell*, std::int32_t index, std::int32_t part) {
    Widget* w = face_handle_q(owner);
    if (!w) return;
    const std::uint32_t field = symbol::resolve(word->data2);
    if (field == symbol_of(Word::data)) {
        if (w->type == symbol_of(Word::text_list)) {
            if (!value->is(Type::block)) return;
            if (is_word(action, Word::remove) || is_word(action, Word::take) ||
                is_word(action, Word::clear) || is_word(action, Word::move)) {
                const std::int32_t length = block::ks_length(value);
                if (w->head > index) w->head = index;
                if (index == 0 && part >= length) w->head = 0;
                Cell* selected = face_value_mut(owner, face_field::selected);
                if (selected && selected->is(Type::integer)) {
                    const std::int32_t most = std::max(length - part, 0);
                    if (integer::get(selected) > most) integer::make_at(selected, most);
                }
            }
        } else if ((w->type == symbol_of(Word::drop_down) ||
                    w->type == symbol_of(Word::drop_list) ||
                    w->type == symbol_of(Word::tab_panel)) &&
                   part == 0) {
            return;
        }
    }
    OS_update_view(owner);
}

// --- destroying ---

namespace {

// Takes the face out of the `parent` block of its font or para object; a
// font left with no faces forgets its backend state.
void unlink_sub(const Cell* face, Cell* sub, bool font) {
    if (!sub->is(Type::object)) return;
    Cell list = *field_named(sub, Word::parent);
    if (!list.is(Type::block)) return;
    const Cell self = *face;
    block::remove_value(&list, &self, true);
    // The block is kept positioned at its tail: count from its first cell.
    if (font && series::ks_abs_length(&list) == 0) free_font(sub);
}

}  // namespace

void OS_destroy_view(Cell* face, bool empty) {
    Widget* w = face_handle_q(face);
    if (!w) return;
    const bool window = w->window != nullptr;
    if (!face_value(face, face_field::rate)->is(Type::none)) remove_timer(w);
    if (Cell* font = face_value_mut(face, face_field::font)) unlink_sub(face, font, true);
    if (Cell* para = face_value_mut(face, face_field::para)) unlink_sub(face, para, false);
    const WidgetId id = w->id;
    // The face counts as destroyed before its pane is walked: a face that
    // is in its own pane (or below it) is then met again without a handle.
    if (Cell* st = face_value_mut(face, face_field::state)) none::make_at(st);
    const Cell* pane = face_value(face, face_field::pane);
    if (pane->is(Type::block)) {
        const Cell list = *pane;
        const std::int32_t start = static_cast<std::int32_t>(list.data1);
        for (std::int32_t i = 0; i < block::ks_length(&list); ++i) {
            Cell child = *block::ks_abs_at(&list, start + i);
            OS_destroy_view(&child, false);
        }
    }
    free_widget(widget_at(id));
    if (state.windows.count > 0) mark_dirty();
    // Closing a window whose closing ends the event loop ends it.
    if (window && empty) post_quit_msg();
}

void destroy_window_tree(Widget* window) {
    if (!window) return;
    Cell face = window->face;
    OS_destroy_view(&face, false);
}

void update_font(Cell* font, std::int32_t kind) {
    if ((kind >= 0 && kind <= 3) || kind == 5) free_font(font);
}

}  // namespace kiv::gui
