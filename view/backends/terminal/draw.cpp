#include "view/backends/terminal/draw.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"
#include "view/backends/terminal/cells.h"
#include "view/backends/terminal/widgets.h"

namespace kiv::gui {

namespace {


// A shape wider or taller than this is walked only over the rectangle it
// meets (lines) or not drawn (ellipses): no terminal is that large.
constexpr std::int64_t walk_limit = 1 << 14;

constexpr std::uint32_t full_block = 0x2588;

// A coordinate or radius given as a float: truncated, kept within a range
// no shape arithmetic can overflow, NaN read as 0.
std::int64_t truncated(double d) {
    if (std::isnan(d)) return 0;
    return static_cast<std::int64_t>(std::trunc(std::clamp(d, -1e9, 1e9)));
}

bool silent_q() {
    Cell system;
    word::make_at(symbol::make("system"), &system);
    const Cell* sys = word::get_any(&system);
    if (!sys->is(Type::object)) return false;
    const NodeId ctx = object::context_of(sys);
    const std::int32_t i = context::find_word(ctx, symbol::make("view"), true);
    if (i < 0) return false;
    const Cell* view = object::field_value(ctx, i);
    const Cell* silent = field_named(view, Word::silent_q);
    return silent->is(Type::logic) && silent->data1 != 0;
}

// --- plotting ---

bool inside(const DrawContext& ctx, std::int64_t x, std::int64_t y) {
    return ctx.widget && x >= ctx.clip_left && x < ctx.clip_right && y >= ctx.clip_top && y < ctx.clip_bottom;
}

// x, y in canvas coordinates.
void plot_pen(const DrawContext& ctx, std::int64_t x, std::int64_t y) {
    if (!inside(ctx, x, y)) return;
    CanvasCell* c = canvas_at(x, y);
    c->ch = full_block;
    c->fore = ctx.pen;
    c->style &= ~cell_style::wide_right;
}

void plot_fill(const DrawContext& ctx, std::int64_t x, std::int64_t y) {
    if (!inside(ctx, x, y)) return;
    CanvasCell* c = canvas_at(x, y);
    c->ch = ' ';
    c->back = ctx.fill;
    c->style &= ~cell_style::wide_right;
}

// A horizontal run of fill from x0 to x1 inclusive, cut to the rectangle.
void fill_span(const DrawContext& ctx, std::int64_t x0, std::int64_t x1, std::int64_t y) {
    if (x0 > x1) std::swap(x0, x1);
    x0 = std::max<std::int64_t>(x0, ctx.clip_left);
    x1 = std::min<std::int64_t>(x1, ctx.clip_right - 1);
    for (std::int64_t x = x0; x <= x1; ++x) plot_fill(ctx, x, y);
}

// A line between canvas points.
void line_cells(const DrawContext& ctx, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1) {
    const std::int64_t dx = std::llabs(x1 - x0), dy = -std::llabs(y1 - y0);
    if (dx <= walk_limit && -dy <= walk_limit) {
        const std::int64_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        std::int64_t err = dx + dy;
        for (;;) {
            plot_pen(ctx, x0, y0);
            if (x0 == x1 && y0 == y1) return;
            const std::int64_t e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y0 += sy;
            }
        }
    }
    // A long line: walk its major axis only over the rectangle, rounding
    // the minor coordinate.
    const bool x_major = dx >= -dy;
    const std::int64_t a0 = x_major ? x0 : y0, a1 = x_major ? x1 : y1;
    const std::int64_t b0 = x_major ? y0 : x0, b1 = x_major ? y1 : x1;
    const std::int64_t lo = x_major ? ctx.clip_left : ctx.clip_top;
    const std::int64_t hi = (x_major ? ctx.clip_right : ctx.clip_bottom) - 1;
    const std::int64_t from = std::max(std::min(a0, a1), lo), to = std::min(std::max(a0, a1), hi);
    const double slope = static_cast<double>(b1 - b0) / static_cast<double>(a1 - a0);
    for (std::int64_t a = from; a <= to; ++a) {
        const auto b = static_cast<std::int64_t>(std::llround(static_cast<double>(b0) + slope * static_cast<double>(a - a0)));
        if (x_major) plot_pen(ctx, a, b);
        else plot_pen(ctx, b, a);
    }
}

}  // namespace

// --- shapes ---

void draw_line(DrawContext& ctx, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1) {
    if (!ctx.widget || !ctx.pen_on) return;
    line_cells(ctx, x0 + ctx.origin_x, y0 + ctx.origin_y, x1 + ctx.origin_x, y1 + ctx.origin_y);
}

void draw_box(DrawContext& ctx, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1) {
    if (!ctx.widget) return;
    const std::int64_t left = std::min(x0, x1) + ctx.origin_x, right = std::max(x0, x1) + ctx.origin_x;
    const std::int64_t top = std::min(y0, y1) + ctx.origin_y, bottom = std::max(y0, y1) + ctx.origin_y;
    const std::int64_t r0 = std::max<std::int64_t>(top, ctx.clip_top);
    const std::int64_t r1 = std::min<std::int64_t>(bottom, ctx.clip_bottom - 1);
    const std::int64_t c0 = std::max<std::int64_t>(left, ctx.clip_left);
    const std::int64_t c1 = std::min<std::int64_t>(right, ctx.clip_right - 1);
    for (std::int64_t y = r0; y <= r1; ++y) {
        for (std::int64_t x = c0; x <= c1; ++x) {
            CanvasCell* c = canvas_at(x, y);
            if (ctx.fill_on) {
                c->ch = ' ';
                c->back = ctx.fill;
                c->style &= ~cell_style::wide_right;
            }
            if (!ctx.pen_on) continue;
            const bool at_top = y == top, at_bottom = y == bottom, at_left = x == left, at_right = x == right;
            std::uint32_t ch = 0;
            if (at_top && at_left) ch = 0x250C;            // ┌
            else if (at_top && at_right) ch = 0x2510;      // ┐
            else if (at_bottom && at_left) ch = 0x2514;    // └
            else if (at_bottom && at_right) ch = 0x2518;   // ┘
            else if (at_left || at_right) ch = 0x2502;     // │
            else if (at_top || at_bottom) ch = 0x2500;     // ─
            if (ch) {
                c->ch = ch;
                c->fore = ctx.pen;
                c->style &= ~cell_style::wide_right;
            }
        }
    }
}

void draw_triangle(DrawContext& ctx, const std::int64_t* xs, const std::int64_t* ys) {
    if (!ctx.widget) return;
    struct P {
        std::int64_t x, y;
    } p[3] = {{xs[0] + ctx.origin_x, ys[0] + ctx.origin_y},
              {xs[1] + ctx.origin_x, ys[1] + ctx.origin_y},
              {xs[2] + ctx.origin_x, ys[2] + ctx.origin_y}};
    std::stable_sort(p, p + 3, [](const P& a, const P& b) { return a.y < b.y; });
    if (ctx.fill_on) {
        const std::int64_t from = std::max<std::int64_t>(p[0].y, ctx.clip_top);
        const std::int64_t to = std::min<std::int64_t>(p[2].y, ctx.clip_bottom);
        // Linear interpolation along an edge, truncated.
        auto along = [](const P& a, const P& b, std::int64_t y) {
            if (b.y == a.y) return a.x;
            // 128 bits: the product of two 33-bit spans does not fit in 64.
            const __int128 step = static_cast<__int128>(b.x - a.x) * (y - a.y) / (b.y - a.y);
            return a.x + static_cast<std::int64_t>(step);
        };
        for (std::int64_t y = from; y < to; ++y) {
            const std::int64_t xa = along(p[0], p[2], y);
            const std::int64_t xb = y < p[1].y ? along(p[0], p[1], y) : along(p[1], p[2], y);
            fill_span(ctx, xa, xb, y);
        }
    }
    if (ctx.pen_on) {
        line_cells(ctx, p[0].x, p[0].y, p[1].x, p[1].y);
        line_cells(ctx, p[1].x, p[1].y, p[2].x, p[2].y);
        line_cells(ctx, p[2].x, p[2].y, p[0].x, p[0].y);
    }
}

void draw_ellipse(DrawContext& ctx, std::int64_t cx, std::int64_t cy, std::int64_t a, std::int64_t b) {
    if (!ctx.widget || a < 0 || b < 0 || a > walk_limit || b > walk_limit) return;
    cx += ctx.origin_x;
    cy += ctx.origin_y;
    // The midpoint walk, run once for the fill and once for the outline so
    // that later rows of the fill never cover points of the outline.
    auto walk = [&](auto plot) {
        const double a2 = static_cast<double>(a) * a, b2 = static_cast<double>(b) * b;
        std::int64_t x = 0, y = b;
        double dx = 0, dy = 2 * a2 * y;
        double d1 = b2 - a2 * b + 0.25 * a2;
        while (dx < dy) {
            plot(x, y);
            ++x;
            dx += 2 * b2;
            if (d1 < 0) {
                d1 += dx + b2;
            } else {
                --y;
                dy -= 2 * a2;
                d1 += dx - dy + b2;
            }
        }
        double d2 = b2 * (x + 0.5) * (x + 0.5) + a2 * (y - 1.0) * (y - 1.0) - a2 * b2;
        while (y >= 0) {
            plot(x, y);
            --y;
            dy -= 2 * a2;
            if (d2 > 0) {
                d2 += a2 - dy;
            } else {
                ++x;
                dx += 2 * b2;
                d2 += dx - dy + a2;
            }
        }
    };
    if (ctx.fill_on)
        walk([&](std::int64_t x, std::int64_t y) {
            fill_span(ctx, cx - x, cx + x, cy + y);
            if (y != 0) fill_span(ctx, cx - x, cx + x, cy - y);
        });
    if (ctx.pen_on)
        walk([&](std::int64_t x, std::int64_t y) {
            plot_pen(ctx, cx + x, cy + y);
            plot_pen(ctx, cx - x, cy + y);
            plot_pen(ctx, cx + x, cy - y);
            plot_pen(ctx, cx - x, cy - y);
        });
}

namespace {

// The rectangle of a context as text_to_cells takes it.
ClipRect rect_of(const DrawContext& ctx) {
    return ClipRect{ctx.clip_left, ctx.clip_top, ctx.clip_right, ctx.clip_bottom};
}

int to_int(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, -(1 << 30), 1 << 30));
}

}  // namespace

void draw_text(DrawContext& ctx, std::int64_t x, std::int64_t y, const Cell* value) {
    if (!ctx.widget) return;
    TextStyle ts;
    ts.style = ctx.style | cell_style::escapes;
    ts.para = para_flag::wrap;
    ts.fore = ctx.font_color_set ? ctx.font_color : ctx.pen_on ? ctx.pen : 0;
    const int px = to_int(x + ctx.origin_x), py = to_int(y + ctx.origin_y);
    if (value->is(Type::string)) {
        const TextSpan span = TextSpan::of(value);
        text_to_cells(&span, px, py, rect_of(ctx), ts);
        return;
    }
    // A face: its styled runs, when it is a rich-text face.
    if (!is_word(face_value(value, face_field::type), Word::rich_text)) return;
    if (face_value(value, face_field::para)->is(Type::object)) ts.para = para_flags(value);
    Widget* w = face_handle_q(value);
    // A face without a record is styled in a record of its own for this
    // drawing; its runs go when the drawing does, by error too.
    struct Temporary {
        Widget record{};
        ~Temporary() { free_run(record.runs); }
    } temporary;
    if (!w) {
        temporary.record.face = *value;
        temporary.record.type = symbol_of(Word::rich_text);
        w = &temporary.record;
    }
    if (w == &temporary.record || !w->runs) build_runs(w);
    ts.runs = w->runs;
    if (ts.runs) text_to_cells(nullptr, px, py, rect_of(ctx), ts);
}

// --- the parser ---

namespace {

using Pos = std::int32_t;

class Parser {
public:
    Parser(DrawContext& ctx, const Cell* block) : ctx_(ctx), block_(*block) {
        start_ = static_cast<Pos>(block_.data1);
        end_ = start_ + std::max(block::ks_length(&block_), 0);
    }

    void run() {
        pos_ = start_;
        while (pos_ < end_) command();
    }

private:
    DrawContext& ctx_;
    Cell block_;
    Pos start_ = 0, end_ = 0, pos_ = 0;

    const Cell* at(Pos p) const { return p < end_ ? block::ks_abs_at(&block_, p) : nullptr; }
    const Cell* peek() const { return at(pos_); }
    [[noreturn]] void fail(Pos p) const { draw_error(&block_, p); }
    [[noreturn]] void fail() const { fail(std::min(pos_, end_)); }

    // A word argument stands for its value, as in the rest of the language.
    // A command's name stays a command, so an optional argument never
    // swallows the next command when a word of that name has a value.
    static const Cell* value_of(const Cell* v) {
        if (v && v->is(Type::word) && command_word_q(v)) return v;
        return value_of_word(v);
    }

    static bool command_word_q(const Cell* v) {
        static constexpr Word commands[] = {
            Word::pen,          Word::fill_pen,  Word::font,          Word::text,          Word::box,
            Word::line,         Word::triangle,  Word::circle,        Word::ellipse,       Word::line_width,
            Word::line_join,    Word::line_cap,  Word::line_pattern,  Word::anti_alias,    Word::polygon,
            Word::arc,          Word::curve,     Word::spline,        Word::image,         Word::shadow,
            Word::clip,         Word::shape,     Word::rotate,        Word::scale,         Word::translate,
            Word::skew,         Word::transform, Word::push,          Word::matrix,        Word::reset_matrix,
            Word::invert_matrix};
        for (Word w : commands)
            if (is_word(v, w)) return true;
        return false;
    }

    // --- argument readers: each answers whether the value at pos is of its
    // kind and, when it is, consumes it.
    bool point(std::int64_t* x = nullptr, std::int64_t* y = nullptr) {
        const Cell* v = value_of(peek());
        if (!v) return false;
        std::int64_t px, py;
        if (v->is(Type::pair)) {
            px = static_cast<std::int32_t>(v->data2);
            py = static_cast<std::int32_t>(v->data3);
        } else if (v->is(Type::point2d)) {
            px = truncated(point::get(v, 0));
            py = truncated(point::get(v, 1));
        } else {
            return false;
        }
        if (x) *x = px;
        if (y) *y = py;
        ++pos_;
        return true;
    }
    void need_point(std::int64_t* x = nullptr, std::int64_t* y = nullptr) {
        if (!point(x, y)) fail();
    }
    bool number(double* out = nullptr) {
        const Cell* v = value_of(peek());
        if (!v) return false;
        double d;
        if (v->is(Type::integer)) d = static_cast<std::int32_t>(v->data2);
        else if (v->is(Type::float_)) d = float_::get(v);
        else return false;
        if (out) *out = d;
        ++pos_;
        return true;
    }
    void need_number(double* out = nullptr) {
        if (!number(out)) fail();
    }
    bool integer() {
        const Cell* v = value_of(peek());
        if (!v || !v->is(Type::integer)) return false;
        ++pos_;
        return true;
    }
    bool color(const Cell** out = nullptr) {
        const Cell* v = value_of(peek());
        if (!v || !v->is(Type::tuple)) return false;
        if (out) *out = v;
        ++pos_;
        return true;
    }
    bool block_arg(const Cell** out = nullptr) {
        const Cell* v = peek();
        if (!v || !v->is(Type::block)) return false;
        if (out) *out = v;
        ++pos_;
        return true;
    }
    bool of_type(Type t) {
        const Cell* v = value_of(peek());
        if (!v || !v->is(t)) return false;
        ++pos_;
        return true;
    }
    // One of the keywords, as a word or a lit-word.
    bool keyword(std::initializer_list<Word> words) {
        const Cell* v = peek();
        if (!v || !(v->is(Type::word) || v->is(Type::lit_word))) return false;
        for (Word w : words)
            if (is_word(v, w)) {
                ++pos_;
                return true;
            }
        return false;
    }
    void need_keyword(std::initializer_list<Word> words) {
        if (!keyword(words)) fail();
    }


    // A nested block (read from position p) drawn with the same context.
    void nested(Pos p, const Cell* inner) {
        if (cycles::find(inner->data2)) fail(p);
        parse_draw(ctx_, inner);
    }
    void optional_nested() {
        const Cell* inner;
        const Pos p = pos_;
        if (block_arg(&inner)) nested(p, inner);
    }
    void optional_target() { keyword({Word::pen, Word::fill_pen}); }

    // --- commands ---

    void command() {
        const Cell* v = peek();
        if (v->is(Type::set_word)) {
            Cell here = block_;
            here.data1 = static_cast<std::uint32_t>(pos_ + 1);
            Cell target = *v;
            if (target.data1 != 0) word::set(&target, &here);
            // GC: setting a word may run a change handler, which may change
            // the block: its length is read again.
            end_ = std::min(end_, start_ + std::max(block::ks_length(&block_), 0));
            ++pos_;
            return;
        }
        if (v->is(Type::block)) {
            ++pos_;
            nested(pos_ - 1, v);
            return;
        }
        if (!v->is(Type::word)) fail();
        const Pos at_command = pos_;
        ++pos_;
        if (is_word(v, Word::pen)) return pen_command(true);
        if (is_word(v, Word::fill_pen)) return pen_command(false);
        if (is_word(v, Word::font)) return font_command();
        if (is_word(v, Word::text)) return text_command();
        if (is_word(v, Word::box)) return box_command();
        if (is_word(v, Word::line)) return line_command();
        if (is_word(v, Word::triangle)) return triangle_command();
        if (is_word(v, Word::circle)) return circle_command();
        if (is_word(v, Word::ellipse)) return ellipse_command();
        if (is_word(v, Word::line_width)) return need_number();
        if (is_word(v, Word::line_join))
            return need_keyword({Word::miter, Word::round, Word::bevel, Word::miter_bevel});
        if (is_word(v, Word::line_cap)) return need_keyword({Word::flat, Word::square, Word::round});
        if (is_word(v, Word::line_pattern)) return line_pattern_command();
        if (is_word(v, Word::anti_alias)) return need_keyword({Word::on, Word::off});
        if (is_word(v, Word::polygon)) return points_command(3);
        if (is_word(v, Word::arc)) return arc_command();
        if (is_word(v, Word::curve)) return curve_command();
        if (is_word(v, Word::spline)) {
            points_command(2);
            keyword({Word::closed});
            return;
        }
        if (is_word(v, Word::image)) return image_command();
        if (is_word(v, Word::shadow)) return shadow_command();
        if (is_word(v, Word::clip)) return clip_command();
        if (is_word(v, Word::shape)) {
            const Cell* inner;
            if (!block_arg(&inner)) fail();
            return shape_block(inner);
        }
        if (is_word(v, Word::rotate)) return transformation([&] {
                need_number();
                point();
            });
        if (is_word(v, Word::scale)) return transformation([&] {
                need_number();
                need_number();
            });
        if (is_word(v, Word::translate)) return transformation([&] { need_point(); });
        if (is_word(v, Word::skew)) return transformation([&] {
                need_number();
                number();
            });
        if (is_word(v, Word::transform)) return transformation([&] {
                point();
                need_number();
                need_number();
                need_number();
                need_point();
            });
        if (is_word(v, Word::push)) {
            const Cell* inner;
            const Pos p = pos_;
            if (!block_arg(&inner)) fail();
            return nested(p, inner);
        }
        if (is_word(v, Word::matrix)) return matrix_command();
        if (is_word(v, Word::reset_matrix) || is_word(v, Word::invert_matrix)) return optional_target();
        fail(at_command);
    }

    void pen_command(bool outline) {
        const Cell* c;
        if (keyword({Word::off})) {
            (outline ? ctx_.pen_on : ctx_.fill_on) = false;
            return;
        }
        if (color(&c)) {
            const CellColor mapped = rgb_to_xterm(tuple_to_color(c));
            if (outline) {
                ctx_.pen = mapped;
                ctx_.pen_on = true;
                if (!ctx_.font_color_set) ctx_.font_color = mapped;
            } else {
                ctx_.fill = mapped;
                ctx_.fill_on = true;
            }
            return;
        }
        if (keyword({Word::linear, Word::radial, Word::diamond})) return gradient();
        if (keyword({Word::pattern})) {
            need_point();
            if (!block_arg()) fail();
            keyword({Word::tile, Word::flip_x, Word::flip_y, Word::flip_xy, Word::clamp});
            return;
        }
        if (keyword({Word::bitmap})) {
            if (!of_type(Type::image)) fail();
            keyword({Word::tile, Word::flip_x, Word::flip_y, Word::flip_xy, Word::clamp});
            return;
        }
        fail();
    }

    // Points, numbers and colours in any order, at least two colours,
    // then an optional spread method.
    void gradient() {
        int colors = 0;
        for (;;) {
            if (color()) ++colors;
            else if (!point() && !number()) break;
        }
        if (colors < 2) fail();
        keyword({Word::pad, Word::repeat, Word::reflect});
    }

    void font_command() {
        const Cell* v = value_of(peek());
        if (!v || !v->is(Type::object)) fail();
        ++pos_;
        const Cell* c = field_named(v, Word::color);
        if (c->is(Type::tuple)) {
            ctx_.font_color = rgb_to_xterm(tuple_to_color(c));
            ctx_.font_color_set = true;
        } else {
            ctx_.font_color_set = false;
        }
    }

    void text_command() {
        std::int64_t x, y;
        need_point(&x, &y);
        const Cell* v = value_of(peek());
        if (!v || !(v->is(Type::string) || v->is(Type::object))) fail();
        ++pos_;
        const Cell text = *v;
        draw_text(ctx_, x, y, &text);
    }

    void box_command() {
        std::int64_t x0, y0, x1, y1;
        need_point(&x0, &y0);
        need_point(&x1, &y1);
        number();  // corner radius: cells have no round corners
        draw_box(ctx_, x0, y0, x1, y1);
    }

    void line_command() {
        std::int64_t x0, y0, x1, y1;
        need_point(&x0, &y0);
        need_point(&x1, &y1);
        draw_line(ctx_, x0, y0, x1, y1);
        while (point(&x0, &y0)) {
            draw_line(ctx_, x1, y1, x0, y0);
            x1 = x0;
            y1 = y0;
        }
    }

    void triangle_command() {
        std::int64_t xs[3], ys[3];
        for (int i = 0; i < 3; ++i) need_point(&xs[i], &ys[i]);
        draw_triangle(ctx_, xs, ys);
    }

    void circle_command() {
        std::int64_t x, y;
        double r;
        need_point(&x, &y);
        need_number(&r);
        number();  // a second radius: circles stay circles in cells
        const std::int64_t radius = truncated(r);
        if (radius > 0) draw_ellipse(ctx_, x, y, 2 * radius, radius);
    }

    void ellipse_command() {
        std::int64_t x, y, sx, sy;
        need_point(&x, &y);
        need_point(&sx, &sy);
        if (sx < 1 || sy < 1) return;
        const auto rx = static_cast<std::int64_t>((static_cast<double>(sx) + 0.5) / 2);
        const auto ry = static_cast<std::int64_t>((static_cast<double>(sy) + 0.5) / 2);
        draw_ellipse(ctx_, x + rx, y + ry, rx, ry);
    }

    void line_pattern_command() {
        if (keyword({Word::off})) return;
        if (!integer()) fail();
        while (integer()) {
        }
    }

    void points_command(int least) {
        for (int i = 0; i < least; ++i) need_point();
        while (point()) {
        }
    }

    void arc_command() {
        need_point();
        need_point();
        need_number();
        need_number();
        keyword({Word::closed});
    }

    void curve_command() {
        for (int i = 0; i < 3; ++i) need_point();
        point();
    }

    void image_command() {
        if (!of_type(Type::image)) fail();
        for (int i = 0; i < 4 && point(); ++i) {
        }
        for (;;) {
            if (keyword({Word::border})) continue;
            if (keyword({Word::crop})) {
                need_point();
                need_point();
                continue;
            }
            break;
        }
    }

    void shadow_command() {
        if (keyword({Word::off})) return;
        need_point();
        if (number()) number();
        color();
        keyword({Word::inset});
    }

    void clip_command() {
        const Cell* shape;
        if (point()) need_point();
        else if (block_arg(&shape)) shape_block(shape);
        else fail();
        keyword({Word::replace, Word::intersect, Word::union_, Word::xor_, Word::exclude});
        optional_nested();
    }

    template <class F>
    void transformation(F arguments) {
        optional_target();
        arguments();
        optional_nested();
    }

    void matrix_command() {
        const Cell* numbers;
        const Pos at_block = pos_;
        if (!block_arg(&numbers)) fail();
        const std::int32_t n = block::ks_length(numbers);
        if (n != 6) fail(at_block);
        for (std::int32_t i = 0; i < 6; ++i) {
            const Cell* v = value_of(block::ks_abs_at(numbers, static_cast<std::int32_t>(numbers->data1) + i));
            if (!v->is(Type::integer) && !v->is(Type::float_)) fail(at_block);
        }
        optional_target();
    }

    // The shape sub-dialect is checked in a parser of its own over the
    // inner block, so errors point into it.
    void shape_block(const Cell* inner) {
        Parser shape(ctx_, inner);
        shape.run_shape();
    }

    void run_shape() {
        pos_ = start_;
        while (pos_ < end_) {
            const Pos at_command = pos_;
            if (keyword({Word::move})) {
                need_point();
            } else if (keyword({Word::line}) || keyword({Word::curv}) || keyword({Word::qcurv}) ||
                       keyword({Word::curve}) || keyword({Word::qcurve})) {
                need_point();
                while (point()) {
                }
            } else if (keyword({Word::hline}) || keyword({Word::vline})) {
                need_number();
            } else if (keyword({Word::arc})) {
                need_point();
                while (number()) {
                }
                while (keyword({Word::sweep, Word::large})) {
                }
            } else if (keyword({Word::close})) {
            } else {
                fail(at_command);
            }
        }
    }
};

// The entry points' guard: the block is marked as being drawn for the
// parse, and a quiet stop ends it.
void checked_parse(DrawContext& ctx, const Cell* block) {
    cycles::Guard guard;
    try {
        parse_draw(ctx, block);
    } catch (const DrawQuietStop&) {
    }
}

}  // namespace

void parse_draw(DrawContext& ctx, const Cell* block) {
    const NodeId node = block->data2;
    if (cycles::find(node)) {
        Cell whole = *block;
        whole.data1 = 0;
        // GC: the error names the block from its head.
        if (silent_q()) throw DrawQuietStop{};
        fire(ErrorId::script_draw_infinite, &whole);
    }
    cycles::push(node);
    Parser(ctx, block).run();
    cycles::pop();
}

void draw_error(const Cell* block, std::int32_t position) {
    if (silent_q()) throw DrawQuietStop{};
    Cell rest = *block;
    rest.data1 = static_cast<std::uint32_t>(position);
    const Cell* v = position < static_cast<std::int32_t>(block::buffer(block)->length()) ? block::ks_abs_at(block, position) : nullptr;
    if (v && v->is(Type::block) && cycles::find(v->data2)) fire(ErrorId::script_draw_infinite, &rest);
    fire(ErrorId::script_draw_invalid, &rest);
}

void draw_face_block(Widget* w, int x, int y, ClipRect rect, std::uint32_t flags, const Cell* block) {
    DrawContext ctx;
    ctx.widget = w;
    ctx.origin_x = x;
    ctx.origin_y = y;
    ctx.clip_left = rect.left;
    ctx.clip_top = rect.top;
    ctx.clip_right = rect.right;
    ctx.clip_bottom = rect.bottom;
    ctx.style = flags & ~(cell_style::escapes | cell_style::no_text);
    const Cell copy = *block;
    checked_parse(ctx, &copy);
}

void OS_do_draw(const Cell*, const Cell* block) {
    if (!block->is(Type::block) || block::ks_length(block) <= 0) return;
    DrawContext ctx;
    const Cell copy = *block;
    checked_parse(ctx, &copy);
}

}  // namespace kiv::gui
