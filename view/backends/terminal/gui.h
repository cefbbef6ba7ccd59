// The terminal backend's shared records and its one global state.
//
// Every face the backend shows has a Widget record. Records live in tracked
// memory and are reached through the widget table: a face's handle! (in
// face/state/1) holds a WidgetId, a slot number plus a generation, never an
// address. A freed record's slot stops resolving at once, so code that runs
// user code (an actor may close the window) re-resolves its WidgetId after
// the call instead of keeping the pointer.
//
// The records here are plain data; each unit of the backend declares the
// functions it provides in its own header (widgets.h, dispatch.h, cells.h,
// screen.h, ...).
//
// GC: a Widget holds a copy of its face value and the string value it draws
// instead of the face text (`ui`). Both live in tracked memory, invisible to
// the stack scan: the collector hook registered by `register_marking` marks
// them (and re-points their node ids when nodes move). Other units that keep
// language values in the backend's state register their own hooks.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/raw-array.h"

namespace kiv::gui {

// ---------------------------------------------------------------------------
// Cell colours and canvas cells.

// The top byte is the kind, the low bytes the value.
using CellColor = std::uint32_t;

namespace color_kind {
constexpr std::uint32_t none = 0;       // the terminal's default colour
constexpr std::uint32_t basic = 1;      // SGR basic colour 0-17 (low 5 bits)
constexpr std::uint32_t xterm = 2;      // xterm-256 index (low 8 bits)
constexpr std::uint32_t truecolor = 4;  // R bits 16-23, G 8-15, B 0-7
}  // namespace color_kind

constexpr CellColor make_color(std::uint32_t kind, std::uint32_t value) {
    return (kind << 24) | (value & 0xFFFFFF);
}
constexpr std::uint32_t color_kind_of(CellColor c) { return c >> 24; }
constexpr std::uint32_t color_value_of(CellColor c) { return c & 0xFFFFFF; }

// Style flags of a canvas cell, and two options of text drawing.
namespace cell_style {
constexpr std::uint32_t blink = 0x1;
constexpr std::uint32_t bold = 0x2;
constexpr std::uint32_t dim = 0x4;
constexpr std::uint32_t reverse = 0x8;
constexpr std::uint32_t underline = 0x10;
constexpr std::uint32_t strike = 0x40;
constexpr std::uint32_t italic = 0x100;
constexpr std::uint32_t conceal = 0x200;
constexpr std::uint32_t wide_right = 0x400;  // second cell of a wide character: not printed
constexpr std::uint32_t password = 0x800;    // printed as "*"
// Text-drawing options only, never printed:
constexpr std::uint32_t escapes = 0x1000;  // interpret SGR escapes in the text
constexpr std::uint32_t no_text = 0x2000;  // do not draw the face text
}  // namespace cell_style

struct CanvasCell {
    std::uint32_t ch;  // code point; 0 prints as a space
    CellColor back;
    CellColor fore;
    std::uint32_t style;
};
static_assert(sizeof(CanvasCell) == 16);

// A run of cells: image cells of a face, rich-text style runs. `count` is
// the number of cells in use.
using CellRun = raw::RawArray<CanvasCell>;

// ---------------------------------------------------------------------------
// Widget records.

// Slot number (low 20 bits, 1-based) and generation (high 12 bits); 0 is no
// widget. A handle! of class window carries it as its value.
using WidgetId = std::uint32_t;

namespace widget_flag {
constexpr std::uint32_t hidden = 0x20000;         // face/visible? not true
constexpr std::uint32_t disabled = 0x40000;       // face/enabled? not true
constexpr std::uint32_t all_over = 0x100000;      // receives every pointer move
constexpr std::uint32_t takes_caret = 0x200000;   // shows the text caret
constexpr std::uint32_t focusable = 0x400000;
constexpr std::uint32_t pointer_away = 0x1000000; // pointer left it while it held the capture
constexpr std::uint32_t focused = 0x2000000;
constexpr std::uint32_t password = 0x10000000;
constexpr std::uint32_t fullscreen = 0x40000000;
constexpr std::uint32_t caret_base = 0x80000000; // a base whose options name caret faces
}  // namespace widget_flag

// Face flag bits as `get_flags` answers them.
namespace face_flag {
constexpr std::uint32_t all_over = 0x1;
constexpr std::uint32_t focusable = 0x2;
constexpr std::uint32_t tri_state = 0x20000;
constexpr std::uint32_t scrollable = 0x40000;
constexpr std::uint32_t password = 0x80000;
constexpr std::uint32_t no_sync = 0x100000;
constexpr std::uint32_t fullscreen = 0x200000;
constexpr std::uint32_t popup = 0x1000000;
constexpr std::uint32_t modal = 0x2000000;
constexpr std::uint32_t resize = 0x4000000;
constexpr std::uint32_t no_buttons = 0x8000000;
constexpr std::uint32_t no_max = 0x10000000;
constexpr std::uint32_t no_min = 0x20000000;
constexpr std::uint32_t no_title = 0x40000000;
constexpr std::uint32_t no_border = 0x80000000;
}  // namespace face_flag

// Field indexes of face! (0-based), as the change bits of face/state/2 use
// them (bit 1 << index).
namespace face_field {
constexpr int type = 0, offset = 1, size = 2, text = 3, image = 4, color = 5, menu = 6, data = 7,
              enabled_q = 8, visible_q = 9, selected = 10, flags = 11, options = 12, parent = 13,
              pane = 14, state = 15, rate = 16, edge = 17, para = 18, font = 19, actors = 20,
              extra = 21, draw = 22, on_change = 23, on_deep_change = 24;
}  // namespace face_field

// Event type ids of backend events (1-38); the ones the backend itself sends.
namespace event_type {
constexpr int down = 1, up = 2, mid_down = 3, mid_up = 4, alt_down = 5, alt_up = 6, aux_down = 7,
              aux_up = 8, click = 9, dbl_click = 10, wheel = 11, over = 12, key = 13,
              key_down = 14, key_up = 15, focus = 17, unfocus = 18, select = 25, change = 26,
              close = 28, resize = 30, time = 33;
}  // namespace event_type

// Key codes of special keys (negative), as events and widgets see them.
namespace key_code {
constexpr std::int32_t up = -20, down = -21, right = -22, left = -23, end = -24, home = -25,
                       insert = -26, delete_ = -27, page_up = -28, page_down = -29, f1 = -31,
                       f12 = -42;
}  // namespace key_code

// Event flag bits (payload 3 of an event!).
namespace event_flag {
constexpr std::uint32_t special_key = 0x1;
constexpr std::uint32_t aux_down = 0x400000;
constexpr std::uint32_t alt_down = 0x800000;
constexpr std::uint32_t mid_down = 0x1000000;
constexpr std::uint32_t down = 0x2000000;
constexpr std::uint32_t away = 0x4000000;
constexpr std::uint32_t control = 0x10000000;
constexpr std::uint32_t shift = 0x20000000;
constexpr std::uint32_t alt = 0x40000000;
}  // namespace event_flag

struct Widget;
struct WindowRecord;

// The record behind a backend event while it is dispatched. Only the fields
// its kind of event uses are filled (keys: widget and value; pointer events:
// widget, x, y; wheel: also delta; value events: widget and value).
struct EventRecord {
    Widget* widget;
    float x;             // pointer column relative to the widget, in cells
    float y;             // pointer row relative to the widget
    std::int32_t value;  // key code, or the integer `picked` reads
    float delta;         // wheel: +1 or -1
};

using UpdateHandler = void (*)(Widget* w);
// Draws the widget's face with its top-left corner at canvas cell x, y.
using RenderHandler = void (*)(int x, int y, Widget* w);
// Reacts to an event of the type id; answers 0.
using EventHandler = int (*)(int type, EventRecord* event);

// A text field's caret: positions in characters and cells.
struct Caret {
    std::int32_t index;   // caret position in characters
    std::int32_t column;  // caret position in cells
    std::int32_t width;   // width of the text in cells
};

struct Widget {
    WidgetId id;          // its own slot in the widget table
    std::uint32_t type;   // canonical symbol of face/type
    std::uint32_t flags;  // widget_flag bits
    float x1, y1;         // top-left corner in cells, relative to the parent
    float x2, y2;         // x1 + width, y1 + height
    Widget* parent;       // the parent face's record; null for a window made without parent
    CellRun* image;       // the face image as cells, or null
    Cell ui;              // a string! drawn instead of the face text, or none
    // Per-type data; which member is used depends on the type.
    WindowRecord* window;  // window: its record
    Caret caret;           // field
    CellRun* runs;         // rich-text: the style runs
    std::int32_t head;     // text-list: first visible line (from 0)
    UpdateHandler update;
    RenderHandler render;
    EventHandler event;
    Cell face;  // a copy of the face object value (none when the record has no face)
};

// One per window widget.
struct WindowRecord {
    float min_x, min_y, max_x, max_y;  // box covering the window and everything made under it
    Widget* widget;                    // the window's own record
    Widget* focus;                     // focused widget of this window, or null
    std::int32_t caret_count;          // caret-taking widgets made under the window
};

// ---------------------------------------------------------------------------
// The global state.

// Everything the backend keeps between calls. The part marked "session" is
// reset by `reset_session` when the outermost event loop ends; the rest
// lives as long as the process.
struct State {
    // --- session: windows, focus, pointer, canvas ---
    raw::RawArray<WindowRecord*> windows;  // open windows, oldest first
    WindowRecord* active_window = nullptr; // the window being shown
    Widget* last_window = nullptr;         // the window widget made last
    Widget* focused = nullptr;
    Widget* hovered = nullptr;
    Widget* capture = nullptr;
    raw::RawArray<Widget*> pressed;  // widgets that got the last down, deepest first
    float last_x = 0, last_y = 0;    // last pointer position relative to `hovered`
    int click_state = 0;             // 0 none, 2 a button went up, 10 double click delivered
    int click_timer = 0;             // ms since the last button release
    Widget* last_release = nullptr;  // widget of the last release (double clicks need the same)
    bool mouse_tracking = false;     // mouse reporting modes are on

    CanvasCell* canvas = nullptr;  // canvas_width x canvas_height cells, row by row
    int canvas_width = 0, canvas_height = 0;
    raw::RawArray<char> output;  // the frame's text
    bool dirty = false;          // the next frame must be drawn
    int view_lines = 0;          // rows above the terminal cursor where the inline view begins
    bool shown = false;          // a drawn view is on the terminal
    bool fullscreen = false;     // a fullscreen window was made
    bool alt_screen = false;     // the alternate screen is in use
    int view_top = 0;            // terminal row where the inline view starts
    int view_left = 0;           // terminal column of the inline view's origin
    int caret_x = -1, caret_y = -1;  // caret cell, set while rendering

    // --- process: terminal, loop, colours ---
    bool live = false;       // terminal mode is entered
    int columns = 80, rows = 24;
    bool cursor_hidden = false;
    int nesting = 0;         // running event loops (no-wait passes not counted)
    int color_mode = 4;      // 4 true colour, 2 xterm-256
    bool started = false;    // `gui/init` ran
};

extern State state;

// The canvas cell at column x, row y (both inside the canvas).
inline CanvasCell* canvas_at(std::int64_t x, std::int64_t y) {
    return state.canvas + static_cast<std::size_t>(y) * state.canvas_width + static_cast<std::size_t>(x);
}

// Resets the session part: called by the teardown at the end of the
// outermost event loop, after the window trees are destroyed. Frees the
// canvas; keeps the arrays' memory.
void reset_session();

// ---------------------------------------------------------------------------
// The widget table.

// Gives the record a slot and stores its id in `w->id`. Slots of freed
// records are reused with the next generation, so an old id never resolves
// to a new record.
WidgetId register_widget(Widget* w);
// Frees the record's slot and clears every reference the state keeps to it:
// focus, hover, capture, the pressed list, the last window, the last
// release and each window record's focus. The record itself is the caller's
// to free (widgets.h `free_widget`). Null is ignored.
void unregister_widget(Widget* w);
// The live record of the id, or null (0, a freed slot, an old generation).
Widget* widget_at(WidgetId id);
// Live records in slot order: calls fn on each.
template <class F>
void for_each_widget(F fn);
std::uint32_t widget_count();

// Registers the collector hook that marks every live record's face and ui
// values. The backend's routine binding calls it once per heap; records
// left from an earlier heap are forgotten first.
void register_marking();

// ---- internals of the table, for for_each_widget ----
namespace table_detail {
extern raw::RawArray<Widget*> slots;  // index 0 unused; null for a free slot
}

template <class F>
void for_each_widget(F fn) {
    for (std::uint32_t i = 1; i < table_detail::slots.count; ++i)
        if (Widget* w = table_detail::slots[i]) fn(w);
}

}  // namespace kiv::gui
