// The draw dialect on the cell canvas. A face's draw block is checked
// command by command, whatever a cell grid can show of it: lines, shapes
// and text are rendered, every other command is read with its arguments
// and ignored, so a block is accepted or refused as on any backend.
//
// Everything drawn is placed relative to the face and cut to its visible
// rectangle; drawing on an image checks the block and renders nothing.
// Shapes far larger than any terminal are walked only where they meet the
// rectangle, so no coordinate can make a drawing hang.
//
// Errors: a malformed command fires script draw-invalid at the offending
// value, a block that contains itself draw-infinite. With
// system/view/silent? set either error ends the drawing quietly.
//
// GC: parsing sets the block's set-words (which may run a change handler)
// and fires errors; rendering never allocates.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "view/backends/terminal/gui.h"
#include "view/backends/terminal/render.h"

namespace kiv::gui {

struct DrawContext {
    Widget* widget = nullptr;  // null when drawing on an image
    int origin_x = 0, origin_y = 0;
    int clip_left = 0, clip_top = 0, clip_right = 0, clip_bottom = 0;
    bool pen_on = true;
    CellColor pen = 0;
    CellColor fill = 0;
    bool fill_on = false;
    CellColor font_color = 0;
    bool font_color_set = false;
    std::uint32_t style = 0;
};

// Runs the block (from its index) command by command.
void parse_draw(DrawContext& ctx, const Cell* block);
// Draws a face's draw block at canvas x, y inside its visible rectangle.
void draw_face_block(Widget* w, int x, int y, ClipRect rect, std::uint32_t flags, const Cell* block);
// Checks a block drawn on an image; nothing is rendered.
void OS_do_draw(const Cell* image, const Cell* block);

// What draw_error throws instead of firing when system/view/silent? is
// set; the drawing's entry points (and the rich-text styling) catch it.
struct DrawQuietStop {};

// Fires draw-invalid with the block from `position` (an absolute index), or
// draw-infinite when the value there is a block being drawn. Ends the
// drawing quietly instead when system/view/silent? is true.
[[noreturn]] void draw_error(const Cell* block, std::int32_t position);

// Shapes, in face coordinates (the context's origin is added).
void draw_line(DrawContext& ctx, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1);
void draw_box(DrawContext& ctx, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1);
void draw_triangle(DrawContext& ctx, const std::int64_t* xs, const std::int64_t* ys);
void draw_ellipse(DrawContext& ctx, std::int64_t cx, std::int64_t cy, std::int64_t a, std::int64_t b);
void draw_text(DrawContext& ctx, std::int64_t x, std::int64_t y, const Cell* value);

}  // namespace kiv::gui
