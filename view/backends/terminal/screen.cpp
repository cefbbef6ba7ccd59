#include "view/backends/terminal/screen.h"

#include <cstdio>
#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/handle.h"
#include "runtime/tracked-alloc.h"
#include "runtime/unicode.h"
#include "view/backends/terminal/cells.h"
#include "view/backends/terminal/dispatch.h"
#include "view/backends/terminal/render.h"
#include "view/backends/terminal/terminal-control.h"
#include "view/backends/terminal/widgets.h"

namespace kiv::gui {

namespace {

void append(raw::RawArray<char>& out, const char* text) {
    const std::size_t n = std::strlen(text);
    out.reserve(out.count + static_cast<std::uint32_t>(n));
    std::memcpy(out.items + out.count, text, n);
    out.count += static_cast<std::uint32_t>(n);
}

void appendf(raw::RawArray<char>& out, const char* format, int a, int b = 0, int c = 0) {
    char text[48];
    std::snprintf(text, sizeof text, format, a, b, c);
    append(out, text);
}

// cp is printable (a code point up to 0x10FFFF), so the encoder never fires.
void append_utf8(raw::RawArray<char>& out, std::uint32_t cp) {
    out.reserve(out.count + 4);
    out.count += static_cast<std::uint32_t>(
        unicode::encode_utf8_char(cp, reinterpret_cast<std::uint8_t*>(out.items + out.count)));
}

// What a cell's character prints as: controls, surrogates and values past
// the last code point become a space, so cell contents can never reach the
// terminal as control sequences.
std::uint32_t printable(std::uint32_t cp) {
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return ' ';
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return ' ';
    return cp;
}

// The SGR parameters of a colour, foreground or background.
void append_color(raw::RawArray<char>& out, CellColor color, bool back) {
    const std::uint32_t value = color_value_of(color);
    switch (color_kind_of(color)) {
    case color_kind::none:
        append(out, back ? "49" : "39");
        return;
    case color_kind::basic: {
        const std::uint32_t v = value & 0x1F;
        if (v <= 7) appendf(out, "%d", static_cast<int>(v + (back ? 40 : 30)));
        else if (v == 8) append(out, "0");
        else if (v == 9) append(out, back ? "49" : "39");
        else if (v <= 17) appendf(out, "%d", static_cast<int>(v - 10 + (back ? 100 : 90)));
        else append(out, back ? "49" : "39");
        return;
    }
    case color_kind::xterm:
        appendf(out, back ? "48;5;%d" : "38;5;%d", static_cast<int>(value & 0xFF));
        return;
    case color_kind::truecolor:
        appendf(out, back ? "48;2;%d;%d;%d" : "38;2;%d;%d;%d", static_cast<int>((value >> 16) & 0xFF),
                static_cast<int>((value >> 8) & 0xFF), static_cast<int>(value & 0xFF));
        return;
    default:
        append(out, "0");
    }
}

}  // namespace

// --- the window stack ---

void make_window(WindowRecord* record) {
    if (state.windows.room == 0) state.windows.reserve(4);
    state.windows.push(record);
}

void activate_window(WindowRecord* record) {
    state.active_window = record;
    const WidgetId window_id = record->widget ? record->widget->id : 0;
    set_focus(record->focus ? record->focus : record->widget, record);
    // The focus actors may have closed this window and freed its record.
    Widget* window = widget_at(window_id);
    record = window ? window->window : nullptr;
    if (record && record->caret_count == 0 && state.live) hide_cursor();
    state.pressed.clear();
    state.hovered = nullptr;
    state.capture = nullptr;
}

void remove_window(WindowRecord* record) {
    for (std::uint32_t i = 0; i < state.windows.count; ++i) {
        if (state.windows[i] != record) continue;
        state.windows.erase_at(i);
        break;
    }
    if (state.active_window == record) state.active_window = nullptr;
    memory::resize(record, 0);
    if (state.windows.count > 0) activate_window(state.windows[state.windows.count - 1]);
}

// --- frames ---

void mark_dirty() { state.dirty = true; }

void size_canvas(WindowRecord* record) {
    if (!state.live || !record) return;
    int width = cells_of(record->max_x - record->min_x);
    int height = cells_of(record->max_y - record->min_y);
    if (width > state.columns) width = state.columns;
    if (height > state.rows) height = state.rows;
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    if (width == state.canvas_width && height == state.canvas_height) return;
    if (width > state.canvas_width || height > state.canvas_height || !state.canvas) {
        memory::resize(state.canvas, 0);
        state.canvas = nullptr;
        if (width > 0 && height > 0)
            state.canvas = static_cast<CanvasCell*>(
                memory::allocate_zeroed(sizeof(CanvasCell) * static_cast<std::size_t>(width) * height));
    }
    state.canvas_width = width;
    state.canvas_height = height;
}

namespace {

void render_tree(Widget* w) {
    if (!w || (w->flags & widget_flag::hidden)) return;
    int x = 0, y = 0;
    absolute_offset(w, &x, &y);
    const WidgetId id = w->id;
    w->render(x, y, w);
    // GC: a draw block's set-word may run a change handler, which could
    // close the window: the record is looked up again.
    if (id && !(w = widget_at(id))) return;
    const Cell* pane = face_value(&w->face, face_field::pane);
    if (!pane->is(Type::block)) return;
    const std::int32_t n = block::ks_length(pane);
    const std::int32_t start = static_cast<std::int32_t>(pane->data1);
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell* child = block::ks_abs_at(pane, start + i);
        if (Widget* cw = face_handle_q(child)) render_tree(cw);
    }
}

}  // namespace

void render_window(WindowRecord* record) {
    if (state.canvas)
        std::memset(state.canvas, 0,
                    sizeof(CanvasCell) * static_cast<std::size_t>(state.canvas_width) * state.canvas_height);
    if (record && state.canvas) render_tree(record->widget);
}

Widget* caret_focus() {
    Widget* f = state.focused;
    return f && (f->flags & widget_flag::takes_caret) ? f : nullptr;
}

void style_difference(const CanvasCell& p, const CanvasCell& q, raw::RawArray<char>& out) {
    using namespace cell_style;
    // SGR 22 ends bold and dim together, so `term` follows what the
    // terminal shows and a cell keeping one of them gets it back.
    std::uint32_t term = p.style;
    auto toggle = [&](std::uint32_t bit, const char* on, const char* off) {
        if ((q.style & bit) == (term & bit)) return;
        if (q.style & bit) {
            append(out, on);
            term |= bit;
        } else {
            append(out, off);
            term &= ~bit;
        }
    };
    auto normal_intensity = [&](std::uint32_t bit, const char* on) {
        if ((q.style & bit) == (term & bit)) return;
        if (q.style & bit) {
            append(out, on);
            term |= bit;
        } else {
            append(out, "\x1b[22m");
            term &= ~(bold | dim);
        }
    };
    normal_intensity(dim, "\x1b[2m");
    toggle(reverse, "\x1b[7m", "\x1b[27m");
    normal_intensity(bold, "\x1b[1m");
    if ((q.style & dim) && !(term & dim)) {
        append(out, "\x1b[2m");
        term |= dim;
    }
    toggle(italic, "\x1b[3m", "\x1b[23m");
    toggle(strike, "\x1b[9m", "\x1b[29m");
    toggle(underline, "\x1b[4m", "\x1b[24m");
    if (p.fore != q.fore) {
        append(out, "\x1b[");
        append_color(out, q.fore, false);
        append(out, "m");
    }
    if (p.back != q.back) {
        append(out, "\x1b[");
        append_color(out, q.back, true);
        append(out, "m");
    }
}

bool compose_frame() {
    const int width = state.canvas_width, height = state.canvas_height;
    if (width < 1 || height < 1 || !state.canvas) return false;
    raw::RawArray<char>& out = state.output;
    if (out.room == 0) out.reserve(2000);
    out.clear();
    if (state.alt_screen) {
        append(out, "\x1b[H");
    } else {
        append(out, "\r");
        if (state.view_lines > 0) appendf(out, "\x1b[%dA", state.view_lines);
        append(out, "\x1b[0J");
    }
    CanvasCell current{};
    for (int row = 0; row < height; ++row) {
        const CanvasCell* cells = state.canvas + static_cast<std::size_t>(row) * width;
        for (int col = 0; col < width; ++col) {
            const CanvasCell& cell = cells[col];
            // Every row prints exactly `width` columns: a wide character
            // only together with its right half, a right half or a
            // zero-width character left alone by later drawing as a space.
            std::uint32_t ch = cell.ch == 0 ? ' ' : printable(cell.ch);
            const bool right_half = (cell.style & cell_style::wide_right) != 0;
            if (right_half && col > 0 &&
                !(cells[col - 1].style & (cell_style::wide_right | cell_style::password)) &&
                char_width(printable(cells[col - 1].ch)) == 2)
                continue;
            if (right_half) {
                ch = ' ';
            } else {
                const int w = char_width(ch);
                const bool has_right = col + 1 < width && (cells[col + 1].style & cell_style::wide_right);
                if (w == 0 || (w == 2 && !has_right)) ch = ' ';
            }
            style_difference(current, cell, out);
            current = cell;
            if (cell.style & cell_style::password) append(out, "*");
            else append_utf8(out, ch);
        }
        if (row + 1 < height) {
            current.back = 0;
            append(out, "\x1b[49m\r\n");
        }
    }
    style_difference(current, CanvasCell{}, out);
    if (caret_focus() && !(state.caret_x < 0 && state.caret_y < 0)) {
        append(out, "\r");
        const int up = height - (state.caret_y + 1);
        if (up > 0) appendf(out, "\x1b[%dA", up);
        if (state.caret_x > 0) appendf(out, "\x1b[%dC", state.caret_x);
        state.view_lines = state.caret_y;
    } else {
        state.view_lines = height - 1;
    }
    return true;
}

void present() {
    // The canvas is sized before the inline view's top is clamped, so the
    // clamp sees the height about to be drawn.
    if (state.dirty && state.active_window) size_canvas(state.active_window);
    if (state.alt_screen) {
        state.view_top = 0;
    } else if (state.rows < state.view_top + state.canvas_height) {
        state.view_top = state.rows - state.canvas_height;
    }
    if (!state.dirty || !state.active_window) return;
    state.caret_x = -1;
    state.caret_y = -1;
    render_window(state.active_window);
    Widget* caret = caret_focus();
    if (!caret) hide_cursor();
    std::fflush(stdout);
    if (!compose_frame()) return;
    write_raw(state.output.items, state.output.count);
    state.output.clear();
    state.shown = true;
    state.dirty = false;
    if (caret) show_cursor();
    std::fflush(stdout);
}

// --- inline and fullscreen ---

void erase_view() {
    if (!state.shown) return;
    raw::RawArray<char> text;
    append(text, "\r");
    if (state.view_lines > 0) appendf(text, "\x1b[%dA", state.view_lines);
    // The rows from the view's top down are cleared even when the cursor
    // rests on the top row (a one-row view, a caret on row 0).
    append(text, "\x1b[0J");
    write_raw(text.items, text.count);
    memory::resize(text.items, 0);
    state.view_lines = 0;
}

void leave_inline() {
    // The cursor rests view_lines rows below the view's top; move it under
    // the view's last row whatever row the caret was on.
    const int down = state.canvas_height - 1 - state.view_lines;
    if (down > 0) cursor_down(down);
    write_raw("\r\n", 2);
}

void enter_alt_screen() {
    if (!state.fullscreen || state.alt_screen) return;
    alt_screen_on();
    state.alt_screen = true;
}

void leave_alt_screen() {
    if (!state.alt_screen) return;
    alt_screen_off();
    state.alt_screen = false;
}

void resized(int columns, int rows) {
    for (std::uint32_t i = 0; i < state.windows.count; ++i) {
        Widget* w = state.windows[i]->widget;
        if (!w) continue;
        const WidgetId id = w->id;
        EventRecord record{};
        record.widget = w;
        record.x = static_cast<float>(columns);
        record.y = static_cast<float>(rows);
        w->event(event_type::resize, &record);
        // GC: the engine runs actors, which may close windows.
        if (widget_at(id) && w->face.is(Type::object)) send_to_awake(event_type::resize, &record, 0);
        // The window may have closed meanwhile: later windows are looked up
        // afresh, and the loop stops if this one vanished.
        if (!widget_at(id)) break;
    }
    // The alternate screen's old contents mean nothing at the new size:
    // the frame is drawn whole.
    if (state.alt_screen) {
        mark_dirty();
        present();
    }
}

void teardown() {
    // Destroying a window removes it from the stack: walk a copy.
    raw::RawArray<WindowRecord*> windows;
    for (WindowRecord* r : state.windows) windows.push(r);
    for (WindowRecord* r : windows) {
        bool alive = false;
        for (WindowRecord* s : state.windows) alive |= s == r;
        if (alive && r->widget) destroy_window_tree(r->widget);
    }
    memory::resize(windows.items, 0);
    memory::resize(state.canvas, 0);
    state.canvas = nullptr;
    reset_session();
}

}  // namespace kiv::gui
