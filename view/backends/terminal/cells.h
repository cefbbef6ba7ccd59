// Small services of the terminal backend that the widgets, the renderer and
// the draw dialect share: colours to the xterm-256 palette, text measured in
// terminal cells, styles and colours set over runs of canvas cells, face
// flag words and para objects read into bits, font objects, and the loop's
// clock.
//
// Colours arrive in tuple byte order: R in bits 0-7, G 8-15, B 16-23, and
// transparency in 24-31 (0 opaque, 255 invisible).
//
// A run (CellRun) is a growable array of canvas cells: the styled
// characters of a rich-text face, the image cells of a face. Runs come from
// make_run and are released with free_run.
//
// GC: only get_flags (fires) and update_para allocate; the rest never
// touch the heap.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "view/backends/terminal/gui.h"

namespace kiv::gui {

// The words the backend tests values against (the renderer, the draw
// dialect, the widget records and the face lifecycle), interned once at
// first use. W(identifier, spelling). ORDER: free to change.
#define KIV_GUI_WORDS(W)                                                                    \
    /* face types */                                                                        \
    W(field, "field") W(area, "area") W(button, "button") W(base, "base")                    \
    W(progress, "progress") W(group_box, "group-box") W(check, "check") W(radio, "radio")   \
    W(text_list, "text-list") W(screen, "screen") W(drop_down, "drop-down")                 \
    W(drop_list, "drop-list") W(tab_panel, "tab-panel")                                     \
    /* widget options, facet change actions, objects reached by name */                     \
    W(caret, "caret") W(data, "data") W(border_corners, "border-corners") W(border_color, "border-color")   \
    W(remove, "remove") W(take, "take") W(clear, "clear") W(tui_helpers, "TUI-helpers")     \
    /* face flags */                                                                        \
    W(all_over, "all-over") W(focusable, "focusable") W(tri_state, "tri-state")             \
    W(scrollable, "scrollable") W(password, "password") W(no_sync, "no-sync")               \
    W(fullscreen, "fullscreen") W(popup, "popup") W(modal, "modal") W(resize, "resize")     \
    W(no_buttons, "no-buttons") W(no_max, "no-max") W(no_min, "no-min")                     \
    W(no_title, "no-title") W(no_border, "no-border")                                       \
    /* para, font and face fields */                                                        \
    W(wrap_q, "wrap?") W(align, "align") W(v_align, "v-align") W(center, "center")          \
    W(right, "right") W(left, "left") W(middle, "middle") W(bottom, "bottom") W(top, "top") \
    W(color, "color") W(state, "state") W(parent, "parent") W(hint, "hint")                 \
    W(rich_text, "rich-text") W(window, "window") W(silent_q, "silent?")                    \
    /* rich-text dialect */                                                                 \
    W(backdrop, "backdrop") W(bold, "bold") W(italic, "italic") W(underline, "underline")    \
    W(strike, "strike") W(border, "border")                                                 \
    /* draw dialect commands */                                                             \
    W(pen, "pen") W(fill_pen, "fill-pen") W(font, "font") W(text, "text") W(box, "box")     \
    W(line, "line") W(triangle, "triangle") W(circle, "circle") W(ellipse, "ellipse")       \
    W(line_width, "line-width") W(line_join, "line-join") W(line_cap, "line-cap")           \
    W(line_pattern, "line-pattern") W(anti_alias, "anti-alias") W(polygon, "polygon")       \
    W(arc, "arc") W(curve, "curve") W(spline, "spline") W(image, "image")                   \
    W(shadow, "shadow") W(clip, "clip") W(shape, "shape") W(rotate, "rotate")               \
    W(scale, "scale") W(translate, "translate") W(skew, "skew") W(transform, "transform")   \
    W(push, "push") W(matrix, "matrix") W(reset_matrix, "reset-matrix")                     \
    W(invert_matrix, "invert-matrix")                                                       \
    /* draw dialect keywords */                                                             \
    W(off, "off") W(on, "on") W(miter, "miter") W(round, "round") W(bevel, "bevel")         \
    W(miter_bevel, "miter-bevel") W(flat, "flat") W(square, "square") W(closed, "closed")   \
    W(crop, "crop") W(inset, "inset") W(replace, "replace")          \
    W(intersect, "intersect") W(union_, "union") W(xor_, "xor") W(exclude, "exclude")       \
    W(move, "move") W(hline, "hline") W(vline, "vline") W(sweep, "sweep") W(large, "large") \
    W(curv, "curv") W(qcurve, "qcurve") W(qcurv, "qcurv") W(close, "close")                 \
    W(linear, "linear") W(radial, "radial") W(diamond, "diamond") W(pad, "pad")             \
    W(repeat, "repeat") W(reflect, "reflect") W(pattern, "pattern") W(bitmap, "bitmap")     \
    W(tile, "tile") W(flip_x, "flip-x") W(flip_y, "flip-y") W(flip_xy, "flip-xy")           \
    W(clamp, "clamp")

enum class Word : std::uint16_t {
#define KIV_GUI_WORD_ENUM(ident, spelling) ident,
    KIV_GUI_WORDS(KIV_GUI_WORD_ENUM)
#undef KIV_GUI_WORD_ENUM
    count_
};

// The canonical symbol of a word of the table.
std::uint32_t symbol_of(Word word);
// True when the value is a word of any kind whose symbol is the word's.
bool is_word(const Cell* value, Word word);

// A word! that is bound and set stands for its value; any other value
// (and an unset or unbound word) stands for itself. Never fires.
const Cell* value_of_word(const Cell* value);

// Para flags of text drawing.
namespace para_flag {
constexpr std::uint32_t right = 0x1;
constexpr std::uint32_t center = 0x2;
constexpr std::uint32_t middle = 0x4;
constexpr std::uint32_t bottom = 0x8;
constexpr std::uint32_t wrap = 0x20;
}  // namespace para_flag

// The characters of a string from its index to its tail, read in place.
// GC: the pointer stays valid while the string is not modified (the stack
// scan pins the buffer it points into).
struct TextSpan {
    const std::uint8_t* data = nullptr;
    std::uint32_t unit = 1;
    std::int32_t length = 0;

    std::uint32_t at(std::int32_t i) const {
        const std::uint8_t* p = data + (static_cast<std::size_t>(i) << (unit >> 1));
        return unit == 1 ? *p
               : unit == 2 ? *reinterpret_cast<const std::uint16_t*>(p)
                           : *reinterpret_cast<const std::uint32_t*>(p);
    }
    // A string! (or any string family value) from its index.
    static TextSpan of(const Cell* string);
    // 4-byte code points held elsewhere (tests, composed texts).
    static TextSpan of(const std::u32string& text) {
        return TextSpan{reinterpret_cast<const std::uint8_t*>(text.data()), 4,
                        static_cast<std::int32_t>(text.size())};
    }
};

// --- colours ---

std::uint32_t color_level(std::uint32_t channel);
// The nearest xterm-256 palette colour, as a kind 2 cell colour; 0 (the
// terminal's default) for a fully transparent colour.
CellColor rgb_to_xterm(std::uint32_t color);
// A tuple's first four bytes as a colour (alpha 0 for a 3-byte tuple).
std::uint32_t tuple_to_color(const Cell* tuple);

// A box coordinate or extent in cells, truncated toward zero; NaN reads as
// 0 and the value is held within +-1e9, so no float of a face's box can
// overflow an int.
inline int cells_of(float v) {
    if (!(v == v)) return 0;
    if (v > 1e9f) return 1000000000;
    if (v < -1e9f) return -1000000000;
    return static_cast<int>(v);
}

// --- measuring ---

int char_width(std::uint32_t cp);
// Width in cells of the widest line, stopping once a line reaches `limit`
// cells; the characters read and the lines seen go to the out-arguments
// when given.
int text_extent(const TextSpan& text, int limit, int* count, int* lines);
// The same over a string! from its index.
int text_extent(const Cell* string, int limit, int* count, int* lines);

// --- runs of cells ---

// An empty run in tracked memory; free_run releases it and its cells
// (null is ignored).
CellRun* make_run();
void free_run(CellRun* run);
// Gives the run exactly `count` cells, all zero.
void reset_run(CellRun* run, std::uint32_t count);

// Setters over the cells after `start` (0-based: cells start .. start +
// count - 1), cut at the run's end. Colours are mapped by rgb_to_xterm.
void set_fore(CellRun* run, int start, int count, std::uint32_t color);
void set_back(CellRun* run, int start, int count, std::uint32_t color);
void set_bold(CellRun* run, int start, int count);
void set_italic(CellRun* run, int start, int count);
void set_underline(CellRun* run, int start, int count);
void set_strike(CellRun* run, int start, int count);

// --- faces, paras and fonts ---

// The face flag bits of a word or a block of words; 0 for other values.
// Fires script invalid-arg for a word outside the table.
std::uint32_t get_flags(const Cell* value);
std::uint32_t para_flags(const Cell* face);
void update_para(Cell* face, std::uint32_t flags);
std::uint32_t font_color(const Cell* font);
void free_font(Cell* font);
Cell* OS_request_font(Cell* font, const Cell* selected, bool mono);
void pair_to_point(Cell* cell);

// A field of a face, read by its index in face! (0-based); the shared
// none value when the object has fewer fields.
const Cell* face_value(const Cell* face, int index);
Cell* face_value_mut(Cell* face, int index);
// A field of any object by name, or the shared none value.
const Cell* field_named(const Cell* object, Word name);

// --- the loop's clock ---

void get_ticks(std::int64_t* count);
double elapsed_ms(std::int64_t saved);

}  // namespace kiv::gui
