// Face rendering and text layout: one face into canvas cells (background,
// image cells, its text or hint, its draw block), all cut to the face's
// visible rectangle; text measuring for the engine; the style runs of
// rich-text faces and their text-box metrics.
//
// Text goes into cells by display width: a wide character takes two cells
// (the second marked as its right half), a character of width 0 takes none
// and is dropped. A control character prints as a space. With the escape
// option, SGR sequences in the text set the style of what follows and other
// CSI sequences are swallowed, so text cannot move the terminal's cursor.
//
// GC: render_face reads the face and may run the draw dialect, which fires
// on a bad draw block; build_runs fires on a bad rich-text dialect block.
// text_to_cells and the measuring functions never allocate.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "view/backends/terminal/cells.h"
#include "view/backends/terminal/gui.h"

namespace kiv::gui {

// The template of one drawing of text.
struct TextStyle {
    std::uint32_t style = 0;  // cell_style bits plus the escapes and no_text options
    std::uint32_t para = 0;   // para_flag bits
    CellColor fore = 0;
    CellColor back = 0;
    const CellRun* runs = nullptr;  // styled characters drawn instead of a text
};

// Canvas cells, right and bottom exclusive.
struct ClipRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool empty() const { return left >= right || top >= bottom; }
};

struct TextSize {
    int width = 0;
    int lines = 0;
};

void render_face(int x, int y, Widget* w, std::uint32_t flags);
ClipRect clip_rect(int x, int y, const Widget* w);
void fill_rect(int left, int top, int columns, int rows, CellColor color);
// Offset of the text inside a box of width x height cells for the para
// flags; escape sequences are skipped when measuring with `escapes`.
void align_text(const TextSpan& text, int width, int height, std::uint32_t para, bool escapes,
                int* dx, int* dy);
// Writes the text (or ts.runs when text is null) from cell x, y into the
// canvas inside the rectangle.
void text_to_cells(const TextSpan* text, int x, int y, ClipRect rect, const TextStyle& ts);
// At an ESC at text position `pos`: the number of characters of the
// sequence (0 when no "[" follows); an SGR sequence changes `style`.
int parse_escape(const TextSpan& text, int pos, CanvasCell& style);
void apply_sgr(CanvasCell& style, int code);
TextSize measure_text(const TextSpan& text, int wrap_width, bool escapes = false);
// Fills the point2D! with the text's width in cells and its line count.
void get_text_size(const Cell* face, const Cell* text, Cell* point);
// The rich-text face's metric of query `type` for `arg`, stored in `out`.
void OS_text_box_metrics(const Cell* face, const Cell* arg, int type, Cell* out);
// The rich-text update handler: the widget's runs made again from the face.
void build_runs(Widget* w);
void style_runs(Widget* w, const Cell* data);

}  // namespace kiv::gui
