#include "view/backends/terminal/render.h"

#include <algorithm>
#include <climits>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "view/backends/terminal/draw.h"

namespace kiv::gui {

namespace {

constexpr std::uint32_t options_mask = cell_style::escapes | cell_style::no_text;

int widget_width(const Widget* w) { return cells_of(w->x2 - w->x1); }
int widget_height(const Widget* w) { return cells_of(w->y2 - w->y1); }

bool is_window(const Widget* w) { return w->type == symbol_of(Word::window); }

// What a character of text becomes in a cell: controls print as spaces.
std::uint32_t cell_char(std::uint32_t cp) {
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return ' ';
    return cp;
}

// Columns a character of text takes: controls one, like the space they
// print as.
int text_width(std::uint32_t cp) {
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return 1;
    return char_width(cp);
}

ClipRect cut_to_canvas(ClipRect r) {
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    r.right = std::min(r.right, state.canvas_width);
    r.bottom = std::min(r.bottom, state.canvas_height);
    return r;
}

// The characters text_to_cells reads: a text, or the cells of a run.
struct Source {
    const TextSpan* text;
    const CellRun* runs;
    int length() const { return text ? text->length : (runs ? static_cast<int>(runs->count) : 0); }
    std::uint32_t at(int i) const { return text ? text->at(i) : runs->items[i].ch; }
};

}  // namespace

// --- the visible rectangle and fills ---

ClipRect clip_rect(int x, int y, const Widget* w) {
    // 64 bits: boxes far outside the canvas add up without overflowing.
    std::int64_t left = x, top = y;
    std::int64_t right = left + widget_width(w), bottom = top + widget_height(w);
    // Every ancestor up to the window cuts the rectangle, so a face nested
    // in panels never paints outside any of them.
    std::int64_t px = x, py = y;
    for (const Widget* child = w; child->parent && !is_window(child->parent); child = child->parent) {
        const Widget* parent = child->parent;
        px -= cells_of(child->x1);
        py -= cells_of(child->y1);
        left = std::max(left, px);
        top = std::max(top, py);
        right = std::min(right, px + widget_width(parent));
        bottom = std::min(bottom, py + widget_height(parent));
    }
    auto cut = [](std::int64_t v, int limit) { return static_cast<int>(std::clamp<std::int64_t>(v, 0, limit)); };
    return ClipRect{cut(left, state.canvas_width), cut(top, state.canvas_height), cut(right, state.canvas_width),
                    cut(bottom, state.canvas_height)};
}

void fill_rect(int left, int top, int columns, int rows, CellColor color) {
    const ClipRect r = cut_to_canvas(ClipRect{left, top, left + columns, top + rows});
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) {
            CanvasCell* c = canvas_at(x, y);
            // A fill is a fresh background: nothing of a face drawn
            // beneath (a reversed or underlined cell) shows through.
            *c = CanvasCell{' ', color, 0, 0};
        }
}

// --- escapes ---

void apply_sgr(CanvasCell& s, int code) {
    static constexpr std::uint32_t bits[10] = {0,
                                               cell_style::bold,
                                               cell_style::dim,
                                               cell_style::italic,
                                               cell_style::underline,
                                               cell_style::blink,
                                               0,
                                               cell_style::reverse,
                                               cell_style::conceal,
                                               cell_style::strike};
    if (code == 0) {
        s.fore = s.back = s.style = 0;
    } else if (code >= 1 && code <= 9) {
        s.style |= bits[code];
    } else if (code >= 21 && code <= 29) {
        s.style &= ~bits[code - 20];
    } else if ((code >= 30 && code <= 37) || code == 39) {
        s.fore = make_color(color_kind::basic, static_cast<std::uint32_t>(code - 30));
    } else if ((code >= 40 && code <= 47) || code == 49) {
        s.back = make_color(color_kind::basic, static_cast<std::uint32_t>(code - 40));
    } else if (code >= 90 && code <= 97) {
        s.fore = make_color(color_kind::basic, static_cast<std::uint32_t>(code - 80));
    } else if (code >= 100 && code <= 107) {
        s.back = make_color(color_kind::basic, static_cast<std::uint32_t>(code - 90));
    }
}

namespace {

// An SGR sequence's parameters, in order; an empty list counts as one 0.
void apply_sgr_list(CanvasCell& s, const int* p, int n) {
    if (n == 0) {
        apply_sgr(s, 0);
        return;
    }
    for (int i = 0; i < n; ++i) {
        if ((p[i] == 38 || p[i] == 48) && i + 1 < n) {
            CellColor* target = p[i] == 38 ? &s.fore : &s.back;
            if (p[i + 1] == 5 && i + 2 < n) {
                *target = make_color(color_kind::xterm, static_cast<std::uint32_t>(p[i + 2] & 0xFF));
                i += 2;
                continue;
            }
            if (p[i + 1] == 2 && i + 4 < n) {
                const auto channel = [&](int k) { return static_cast<std::uint32_t>(p[k] & 0xFF); };
                *target = make_color(color_kind::truecolor,
                                     (channel(i + 2) << 16) | (channel(i + 3) << 8) | channel(i + 4));
                i += 4;
                continue;
            }
            return;  // an unfinished colour leaves the rest unread
        }
        apply_sgr(s, p[i]);
    }
}

}  // namespace

int parse_escape(const TextSpan& text, int pos, CanvasCell& style) {
    if (pos + 1 >= text.length || text.at(pos + 1) != '[') return 0;
    constexpr int max_params = 16;
    int params[max_params];
    int n = 0;
    int value = 0;
    bool digits = false;
    int i = pos + 2;
    for (; i < text.length; ++i) {
        const std::uint32_t c = text.at(i);
        if (c >= '0' && c <= '9') {
            value = (value * 10 + static_cast<int>(c - '0')) % 65535;
            digits = true;
        } else if (c == ';') {
            if (n < max_params) params[n++] = value;
            value = 0;
            digits = true;  // "1;" has two parameters, the second empty (0)
        } else if ((c >= 0x20 && c <= 0x2F) || (c >= 0x3C && c <= 0x3F)) {
            // intermediate and private-parameter bytes: part of the sequence
        } else if (c < 0x20) {
            // A control (ESC included) ends a broken sequence before it, so
            // a line feed keeps its row and an ESC starts the next sequence.
            return i - pos;
        } else {
            if (c == 'm') {
                if (digits && n < max_params) params[n++] = value;
                apply_sgr_list(style, params, n);
            }
            return i - pos + 1;  // other finals are read and do nothing
        }
    }
    return i - pos;
}

// --- measuring ---

TextSize measure_text(const TextSpan& text, int wrap_width, bool escapes) {
    int lines = 1, current = 0, widest = 0;
    CanvasCell ignored{};
    for (int i = 0; i < text.length; ++i) {
        const std::uint32_t cp = text.at(i);
        if (escapes && cp == 27) {
            const int k = parse_escape(text, i, ignored);
            if (k > 0) {
                i += k - 1;
                continue;
            }
        }
        if (cp == '\n') {
            widest = std::max(widest, current);
            current = 0;
            ++lines;
            continue;
        }
        const int w = text_width(cp);
        if (wrap_width > 0) {
            if (w > wrap_width) break;
            if (current + w > wrap_width) {
                widest = std::max(widest, current);
                current = 0;
                ++lines;
            }
        }
        current += w;
    }
    return TextSize{std::max(widest, current), lines};
}

void align_text(const TextSpan& text, int width, int height, std::uint32_t para, bool escapes, int* dx,
                int* dy) {
    *dx = *dy = 0;
    if (para == 0) return;
    const TextSize size = measure_text(text, 0, escapes);
    if (size.width < width) {
        if (para & para_flag::center) *dx = (width - size.width) / 2;
        else if (para & para_flag::right) *dx = width - size.width;
    }
    if (size.lines < height) {
        if (para & para_flag::middle) *dy = (height - size.lines) / 2;
        else if (para & para_flag::bottom) *dy = height - size.lines;
    }
}

// --- text into cells ---

void text_to_cells(const TextSpan* text, int x0, int y, ClipRect rect, const TextStyle& ts) {
    if (!state.canvas) return;
    rect = cut_to_canvas(rect);
    const Source src{text, text ? nullptr : ts.runs};
    const int n = src.length();
    const bool wrap = (ts.para & para_flag::wrap) != 0;
    const bool escapes = text && (ts.style & cell_style::escapes);
    CanvasCell cur{0, 0, ts.fore, ts.style & ~options_mask};
    int i = 0;
    int x = x0;
    // An escape at i: its sequence is read into the current style.
    auto escape_at = [&](int at) { return escapes && src.at(at) == 27 ? parse_escape(*text, at, cur) : 0; };

    // Steps over an escape sequence or a line feed at i; true when it did.
    auto skip_control = [&] {
        if (const int k = escape_at(i)) {
            i += k;
            return true;
        }
        if (src.at(i) != '\n') return false;
        ++y;
        x = x0;
        ++i;
        return true;
    };

    // Rows above the rectangle are laid out without drawing.
    while (y < rect.top && i < n) {
        if (skip_control()) continue;
        const std::uint32_t cp = src.at(i);
        const int w = text_width(cp);
        if (wrap && w > 0 && x > x0 && x + w > rect.right) {
            ++y;
            x = x0;
            continue;
        }
        x += w;
        ++i;
    }
    x = x0;
    const int left = std::max(rect.left, x0);
    while (y < rect.bottom && i < n) {
        if (skip_control()) continue;
        const std::uint32_t cp = src.at(i);
        const int w = text_width(cp);
        if (w == 0) {  // a combining mark has no cell of its own
            ++i;
            continue;
        }
        if (x + w > rect.right) {
            if (wrap && x > x0) {  // the character starts the next row
                ++y;
                x = x0;
                continue;
            }
            if (wrap) {  // wider than the whole row: never drawn
                ++i;
                continue;
            }
            // Without wrap the rest of the line is cut; escapes in it still
            // change the style of what follows.
            while (i < n && src.at(i) != '\n') {
                const int k = escape_at(i);
                i += k > 0 ? k : 1;
            }
            continue;
        }
        if (x >= left) {
            CanvasCell* c = canvas_at(x, y);
            if (text) {
                c->ch = cell_char(cp);
                c->fore = cur.fore;
                if (cur.back) c->back = cur.back;
                c->style = cur.style;
            } else {
                const CanvasCell& r = ts.runs->items[i];
                *c = CanvasCell{cell_char(r.ch), r.back, r.fore, r.style | cur.style};
            }
            if (w == 2) {
                CanvasCell* right = canvas_at(x + 1, y);
                right->ch = 0;
                right->back = c->back;
                right->style = cell_style::wide_right;
            }
        }
        x += w;
        ++i;
    }
}

// --- rendering a face ---

namespace {

bool non_empty_string(const Cell* v) { return v->is(Type::string) && TextSpan::of(v).length > 0; }

// The value after the word `hint` in an options block, when a string!.
const Cell* hint_of(const Cell* options) {
    const std::int32_t n = block::ks_length(options);
    const std::int32_t start = static_cast<std::int32_t>(options->data1);
    for (std::int32_t i = 0; i + 1 < n; ++i) {
        const Cell* item = block::ks_abs_at(options, start + i);
        if (!is_word(item, Word::hint)) continue;
        const Cell* value = block::ks_abs_at(options, start + i + 1);
        return value->is(Type::string) ? value : nullptr;
    }
    return nullptr;
}

// Image cells: one image row per canvas row, as wide as the face.
void draw_image_cells(int x, int y, const Widget* w, ClipRect rect) {
    const CellRun* cells = w->image;
    const int width = widget_width(w);
    if (!cells || width <= 0) return;
    const int rows = static_cast<int>(cells->count) / width;
    for (int r = 0; r < rows; ++r) {
        const int cy = y + r;
        if (cy < rect.top || cy >= rect.bottom) continue;
        for (int c = 0; c < width; ++c) {
            const int cx = x + c;
            if (cx < rect.left || cx >= rect.right) continue;
            const CanvasCell& from = cells->items[r * width + c];
            *canvas_at(cx, cy) = CanvasCell{cell_char(from.ch), from.back, from.fore,
                                            from.style & ~cell_style::wide_right};
        }
    }
}

}  // namespace

void render_face(int x, int y, Widget* w, std::uint32_t flags) {
    if (!w || !state.canvas) return;
    const Cell* face = &w->face;
    TextStyle ts;
    const Cell* color = face_value(face, face_field::color);
    if (color->is(Type::tuple)) ts.back = rgb_to_xterm(tuple_to_color(color));
    const Cell* font = face_value(face, face_field::font);
    if (font->is(Type::object) && field_named(font, Word::color)->is(Type::tuple))
        ts.fore = rgb_to_xterm(font_color(font));
    if (face_value(face, face_field::para)->is(Type::object)) ts.para = para_flags(face);

    const ClipRect rect = clip_rect(x, y, w);
    if (rect.empty()) return;
    fill_rect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, ts.back);
    draw_image_cells(x, y, w, rect);

    ts.style = flags;
    if (w->ui.is(Type::string)) {
        const TextSpan ui = TextSpan::of(&w->ui);
        text_to_cells(&ui, x, y, rect, ts);
    }
    if (!(flags & cell_style::no_text)) {
        const Cell* text = face_value(face, face_field::text);
        const bool escapes = (flags & cell_style::escapes) != 0;
        if (w->type == symbol_of(Word::rich_text) && text->is(Type::string) && w->runs) {
            const TextSpan span = TextSpan::of(text);
            int dx = 0, dy = 0;
            align_text(span, widget_width(w), widget_height(w), ts.para, false, &dx, &dy);
            TextStyle runs = ts;
            runs.runs = w->runs;
            text_to_cells(nullptr, x + dx, y + dy, rect, runs);
        } else {
            if (!non_empty_string(text)) {
                const Cell* options = face_value(face, face_field::options);
                if (options->is(Type::block)) {
                    if (const Cell* hint = hint_of(options)) {
                        text = hint;
                        ts.style |= cell_style::dim;
                    }
                }
            }
            if (text->is(Type::string)) {
                const TextSpan span = TextSpan::of(text);
                int dx = 0, dy = 0;
                align_text(span, widget_width(w), widget_height(w), ts.para, escapes, &dx, &dy);
                text_to_cells(&span, x + dx, y + dy, rect, ts);
            }
        }
    }
    const Cell* draw = face_value(face, face_field::draw);
    if (draw->is(Type::block) && block::ks_length(draw) > 0) draw_face_block(w, x, y, rect, flags, draw);
}

// --- measuring for the engine ---

void get_text_size(const Cell*, const Cell* text, Cell* point) {
    int lines = 1;
    const int width = text_extent(TextSpan::of(text), INT_MAX, nullptr, &lines);
    point2d::make_at(point, width, lines);
}

namespace {

// A character's place in the laid-out text of a rich-text box: line from
// 0 and the width of the line before it.
struct Place {
    int line = 0;
    int x = 0;
};

// Walks the text the way the box lays it out (line feeds and wraps at
// `wrap`), calling f(index, place, width, code point) for each character; f returns
// false to stop. Answers the place after the last character walked.
template <class F>
Place walk_box(const TextSpan& text, int wrap, F f) {
    Place at;
    for (int i = 0; i < text.length; ++i) {
        const std::uint32_t cp = text.at(i);
        const int w = cp == '\n' ? 0 : text_width(cp);
        if (cp != '\n' && wrap > 0 && at.x > 0 && at.x + w > wrap) {
            ++at.line;
            at.x = 0;
        }
        if (!f(i, at, w, cp)) return at;
        if (cp == '\n') {
            ++at.line;
            at.x = 0;
        } else {
            at.x += w;
        }
    }
    return at;
}

int box_wrap_width(const Cell* face) {
    const Cell* size = face_value(face, face_field::size);
    if (size->is(Type::pair)) return static_cast<std::int32_t>(size->data2);
    if (size->is(Type::point2d)) return cells_of(point::get(size, 0));
    return 0;
}

bool point_of(const Cell* arg, int* x, int* y) {
    if (arg->is(Type::pair)) {
        *x = static_cast<std::int32_t>(arg->data2);
        *y = static_cast<std::int32_t>(arg->data3);
        return true;
    }
    if (arg->is(Type::point2d)) {
        *x = cells_of(point::get(arg, 0));
        *y = cells_of(point::get(arg, 1));
        return true;
    }
    return false;
}

}  // namespace

void OS_text_box_metrics(const Cell* face, const Cell* arg, int type, Cell* out) {
    const Cell* text = face_value(face, face_field::text);
    const TextSpan span = text->is(Type::string) ? TextSpan::of(text) : TextSpan{};
    const int wrap = box_wrap_width(face);
    switch (type) {
    case 0:
    case 6: {
        int index = arg->is(Type::integer) ? static_cast<std::int32_t>(arg->data2) : 1;
        index = std::clamp(index, 1, span.length + 1) - 1;
        Place found;
        int width = 0;
        bool seen = false;
        const Place end = walk_box(span, wrap, [&](int i, Place at, int w, std::uint32_t) {
            if (i < index) return true;
            found = at;
            width = w;
            seen = true;
            return false;
        });
        if (!seen) found = end;
        if (type == 0) point2d::make_at(out, found.x, found.line);
        else point2d::make_at(out, found.x + width, found.line + 1);
        return;
    }
    case 1:
    case 5: {
        int px = 0, py = 0;
        if (!point_of(arg, &px, &py)) {
            none::make_at(out);
            return;
        }
        int index = span.length;  // past the end unless the walk stops earlier
        walk_box(span, wrap, [&](int i, Place at, int, std::uint32_t cp) {
            if (at.line < py) return true;
            // The row was reached: stop at its end, or at the first character
            // whose start is not left of the point.
            if (at.line > py || cp == '\n' || at.x >= px) {
                index = i;
                return false;
            }
            return true;
        });
        int result = index + 1;
        if (type == 5 && index == span.length && span.length > 0) --result;
        *out = Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(result), 0};
        return;
    }
    case 2:
        float_::make_at(out, 1.0);
        return;
    case 3: {
        const TextSize size = measure_text(span, wrap);
        point2d::make_at(out, size.width, size.lines);
        return;
    }
    default: {
        const TextSize size = measure_text(span, wrap);
        *out = Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(size.lines), 0};
    }
    }
}

// --- rich-text runs ---

void build_runs(Widget* w) {
    const Cell* text = face_value(&w->face, face_field::text);
    if (!text->is(Type::string)) return;
    const TextSpan span = TextSpan::of(text);
    if (!w->runs) w->runs = make_run();
    reset_run(w->runs, static_cast<std::uint32_t>(span.length));
    const Cell* color = face_value(&w->face, face_field::color);
    const CellColor back = color->is(Type::tuple) ? rgb_to_xterm(tuple_to_color(color)) : 0;
    for (int i = 0; i < span.length; ++i) w->runs->items[i] = CanvasCell{span.at(i), back, 0, 0};
    const Cell* data = face_value(&w->face, face_field::data);
    if (span.length == 0 || !data->is(Type::block)) return;
    try {
        const Cell copy = *data;
        style_runs(w, &copy);
    } catch (const DrawQuietStop&) {
    }
}

void style_runs(Widget* w, const Cell* data) {
    CellRun* run = w->runs;
    const std::int32_t n = block::ks_length(data);
    const std::int32_t start = static_cast<std::int32_t>(data->data1);
    int from = 0, count = 0;
    // The value at position k of the block, or null past its end.
    auto item = [&](std::int32_t k) -> const Cell* {
        return k < n ? block::ks_abs_at(data, start + k) : nullptr;
    };
    // A colour given directly or through a word.
    auto color_value = [&](const Cell* v) -> const Cell* {
        v = value_of_word(v);
        return v && v->is(Type::tuple) ? v : nullptr;
    };
    for (std::int32_t k = 0; k < n; ++k) {
        const Cell* v = item(k);
        if (v->is(Type::pair)) {
            // Ranges count characters, as the runs hold one cell per
            // character whatever the string's unit.
            from = static_cast<std::int32_t>(v->data2) - 1;
            count = static_cast<std::int32_t>(v->data3);
            if (from < 0) {
                count += from;
                from = 0;
            }
        } else if (v->is(Type::tuple)) {
            set_fore(run, from, count, tuple_to_color(v));
        } else if (is_word(v, Word::backdrop)) {
            const Cell* c = color_value(item(k + 1));
            if (!c) draw_error(data, start + k);
            set_back(run, from, count, tuple_to_color(c));
            ++k;
        } else if (is_word(v, Word::bold) || is_word(v, Word::italic) || is_word(v, Word::underline) ||
                   is_word(v, Word::strike) || is_word(v, Word::border)) {
            if (is_word(v, Word::bold)) set_bold(run, from, count);
            else if (is_word(v, Word::italic)) set_italic(run, from, count);
            else if (is_word(v, Word::underline)) set_underline(run, from, count);
            else if (is_word(v, Word::strike)) set_strike(run, from, count);
            if (item(k + 1) && item(k + 1)->is(Type::tuple)) ++k;
            if (item(k + 1) && item(k + 1)->is(Type::lit_word)) ++k;
        } else if (v->is(Type::string) || v->is(Type::integer) || v->is(Type::float_)) {
            // font names and sizes mean nothing in a terminal
        } else {
            draw_error(data, start + k);
        }
    }
}

}  // namespace kiv::gui
