// The terminal backend's output side: colours to the xterm palette, text
// measured and laid out in cells, the exact bytes of a composed frame, and
// the draw dialect's grammar and shapes on a small canvas.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "tests/unit/error-support.h"
#include "tests/unit/eval-support.h"
#include "view/backends/terminal/cells.h"
#include "view/backends/terminal/draw.h"
#include "view/backends/terminal/lifecycle.h"
#include "view/backends/terminal/render.h"
#include "view/backends/terminal/screen.h"

namespace kiv {
namespace {

using gui::CanvasCell;
using gui::CellColor;

constexpr CellColor xterm(std::uint32_t i) { return gui::make_color(gui::color_kind::xterm, i); }
constexpr CellColor basic(std::uint32_t i) { return gui::make_color(gui::color_kind::basic, i); }

std::uint32_t rgba(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a = 0) {
    return r | (g << 8) | (b << 16) | (a << 24);
}

std::string utf8_of(std::uint32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

// The backend's canvas for one test: w x h zeroed cells, freed afterwards.
class Canvas {
public:
    Canvas(int w, int h) {
        gui::state.canvas = new CanvasCell[static_cast<std::size_t>(w) * h]();
        gui::state.canvas_width = w;
        gui::state.canvas_height = h;
    }
    ~Canvas() {
        delete[] gui::state.canvas;
        gui::state.canvas = nullptr;
        gui::state.canvas_width = gui::state.canvas_height = 0;
        gui::state.focused = nullptr;
        gui::state.view_lines = 0;
        gui::state.alt_screen = false;
        gui::state.caret_x = gui::state.caret_y = -1;
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    CanvasCell& at(int x, int y) { return gui::state.canvas[y * gui::state.canvas_width + x]; }
    // A row as text: 0 as ".", a wide character's right half left out.
    std::string row(int y) {
        std::string s;
        for (int x = 0; x < gui::state.canvas_width; ++x) {
            const CanvasCell& c = at(x, y);
            if (c.style & gui::cell_style::wide_right) continue;
            s += c.ch == 0 ? std::string(".") : utf8_of(c.ch);
        }
        return s;
    }
    std::string frame() {
        EXPECT_TRUE(gui::compose_frame());
        return std::string(gui::state.output.items, gui::state.output.count);
    }
};

gui::ClipRect whole() { return {0, 0, gui::state.canvas_width, gui::state.canvas_height}; }

void put_text(const std::u32string& text, int x, int y, gui::ClipRect rect, std::uint32_t style = 0,
              std::uint32_t para = 0) {
    gui::TextStyle ts;
    ts.style = style;
    ts.para = para;
    const gui::TextSpan span = gui::TextSpan::of(text);
    gui::text_to_cells(&span, x, y, rect, ts);
}

// --- colours and measuring ---

TEST(GuiColors, NearestPaletteColour) {
    struct Case {
        std::uint32_t color;
        CellColor expected;
    };
    const Case cases[] = {
        {rgba(255, 0, 0), xterm(196)},     {rgba(128, 128, 128), xterm(244)},
        {rgba(0, 0, 0), xterm(16)},        {rgba(1, 2, 3, 255), 0},
        {rgba(100, 100, 100), xterm(241)}, {rgba(255, 255, 255), xterm(231)},
        {rgba(10, 10, 10), xterm(232)},    {rgba(0, 0, 95), xterm(17)},
        {rgba(0, 0, 0, 254), xterm(16)},  // only full transparency means none
    };
    for (const Case& c : cases) EXPECT_EQ(gui::rgb_to_xterm(c.color), c.expected) << std::hex << c.color;
}

TEST(GuiMeasure, TextExtentStopsAtTheLimit) {
    struct Case {
        std::u32string text;
        int limit, widest, count, lines;
    };
    const Case cases[] = {
        {U"ab\ncde", 10, 3, 6, 2},
        {U"ab\ncde", 2, 2, 2, 1},
        {U"a\u4E2D", 2, 1, 1, 1},  // the wide character would cross the limit
        {U"a\u4E2D", 3, 3, 2, 1},
        {U"", 5, 0, 0, 1},
    };
    for (const Case& c : cases) {
        int count = -1, lines = -1;
        EXPECT_EQ(gui::text_extent(gui::TextSpan::of(c.text), c.limit, &count, &lines), c.widest);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(lines, c.lines);
    }
}

TEST(GuiMeasure, MeasureTextWrapsAndSkipsEscapes) {
    const std::u32string text = U"abcdef\nxy";
    EXPECT_EQ(gui::measure_text(gui::TextSpan::of(text), 0).width, 6);
    EXPECT_EQ(gui::measure_text(gui::TextSpan::of(text), 0).lines, 2);
    EXPECT_EQ(gui::measure_text(gui::TextSpan::of(text), 4).width, 4);  // abcd / ef / xy
    EXPECT_EQ(gui::measure_text(gui::TextSpan::of(text), 4).lines, 3);
    const std::u32string coloured = U"\x1b[1;31mab\x1b[0m";
    EXPECT_EQ(gui::measure_text(gui::TextSpan::of(coloured), 0, true).width, 2);
}

TEST(GuiMeasure, RunSettersStopAtTheRunsEnd) {
    gui::CellRun* run = gui::make_run();
    gui::reset_run(run, 5);
    gui::set_fore(run, 3, 10, rgba(255, 0, 0));  // cells 4 and 5 only
    gui::set_bold(run, 5, 2);                    // past the end: nothing
    EXPECT_EQ((*run)[2].fore, 0u);
    EXPECT_EQ((*run)[3].fore, xterm(196));
    EXPECT_EQ((*run)[4].fore, xterm(196));
    for (std::uint32_t i = 0; i < 5; ++i) EXPECT_EQ((*run)[i].style, 0u);
    gui::free_run(run);
}

// --- frames ---

TEST(GuiFrame, SgrOnlyWhereCellsDiffer) {
    Canvas c(3, 2);
    for (int x = 0; x < 3; ++x) c.at(x, 0).ch = static_cast<std::uint32_t>('a' + x);
    c.at(0, 1) = {'d', 0, 0, gui::cell_style::bold};
    c.at(1, 1) = {'e', 0, 0, gui::cell_style::bold};
    c.at(2, 1) = {'f', 0, 0, 0};
    EXPECT_EQ(c.frame(), "\r\x1b[0Jabc\x1b[49m\r\n\x1b[1mde\x1b[22mf");
    EXPECT_EQ(gui::state.view_lines, 1);  // the cursor rests on the last row
}

TEST(GuiFrame, CellsAndAttributes) {
    using namespace gui::cell_style;
    struct Case {
        const char* name;
        CanvasCell cells[3];
        const char* expected;  // after "\x1b[H"
    };
    const Case cases[] = {
        {"wide character prints once", {{0x4E2D, 0, 0, 0}, {0, 0, 0, wide_right}, {'x', 0, 0, 0}},
         "\xE4\xB8\xADx"},
        {"password", {{'a', 0, 0, password}, {'b', 0, 0, password}, {0, 0, 0, 0}}, "** "},
        {"bright basic colours",
         {{'a', 0, basic(16), 0}, {'b', basic(17), basic(17), 0}, {'c', 0, 0, 0}},
         "\x1b[96ma\x1b[97m\x1b[107mb\x1b[39m\x1b[49mc"},
        {"xterm and true colour",
         {{'a', 0, xterm(200), 0}, {'b', gui::make_color(4, 0x010203), 0, 0}, {'c', 0, 0, 0}},
         "\x1b[38;5;200ma\x1b[39m\x1b[48;2;1;2;3mb\x1b[49mc"},
        {"dim off keeps bold", {{'a', 0, 0, bold | dim}, {'b', 0, 0, bold}, {'c', 0, 0, 0}},
         "\x1b[2m\x1b[1ma\x1b[22m\x1b[1mb\x1b[22mc"},
        {"bold off keeps dim", {{'a', 0, 0, bold | dim}, {'b', 0, 0, dim}, {'c', 0, 0, 0}},
         "\x1b[2m\x1b[1ma\x1b[22m\x1b[2mb\x1b[22mc"},
        {"styles in their order",
         {{'a', 0, 0, reverse | italic | strike | underline}, {'b', 0, 0, blink | conceal}, {'c', 0, 0, 0}},
         "\x1b[7m\x1b[3m\x1b[9m\x1b[4ma\x1b[27m\x1b[23m\x1b[29m\x1b[24mbc"},
        {"controls print as spaces", {{0x1B, 0, 0, 0}, {'\n', 0, 0, 0}, {0x9B, 0, 0, 0}}, "   "},
        {"stray right half prints a space", {{'a', 0, 0, 0}, {'b', 0, 0, wide_right}, {'c', 0, 0, 0}},
         "a c"},
        {"cut wide character prints a space", {{'a', 0, 0, 0}, {'b', 0, 0, 0}, {0x4E2D, 0, 0, 0}}, "ab "},
    };
    for (const Case& k : cases) {
        Canvas c(3, 1);
        gui::state.alt_screen = true;
        for (int x = 0; x < 3; ++x) c.at(x, 0) = k.cells[x];
        EXPECT_EQ(c.frame(), std::string("\x1b[H") + k.expected) << k.name;
    }
}

TEST(GuiFrame, CaretAndInlinePosition) {
    Canvas c(4, 3);
    gui::Widget field{};
    field.flags = gui::widget_flag::takes_caret;
    gui::state.focused = &field;
    gui::state.view_lines = 2;
    gui::state.caret_x = 2;
    gui::state.caret_y = 0;
    const std::string f = c.frame();
    EXPECT_EQ(f.substr(0, 9), "\r\x1b[2A\x1b[0J");
    EXPECT_EQ(f.substr(f.size() - 9), "\r\x1b[2A\x1b[2C");
    EXPECT_EQ(gui::state.view_lines, 0);
    // Without a caret-taking focus the cursor stays on the last row.
    field.flags = 0;
    const std::string g = c.frame();
    EXPECT_EQ(g.substr(g.size() - 4), "    ");
    EXPECT_EQ(gui::state.view_lines, 2);
}

TEST(GuiFrame, EmptyCanvasComposesNothing) {
    Canvas c(0, 3);
    EXPECT_FALSE(gui::compose_frame());
}

// --- text layout ---

TEST(GuiLayout, TextIntoCells) {
    struct Case {
        const char* name;
        std::u32string text;
        int right;
        std::uint32_t para;
        const char* rows[3];
    };
    const Case cases[] = {
        {"cut without wrap", U"abcdefgh\nxy", 5, 0, {"abcde.", "xy....", "......"}},
        {"wrap", U"abcdefgh\nxy", 5, 0x20, {"abcde.", "fgh...", "xy...."}},
        {"full row then line feed", U"abcde\nxy", 5, 0x20, {"abcde.", "xy....", "......"}},
        {"wide character past the edge", U"abcd\u4E2Dz", 5, 0, {"abcd..", "......", "......"}},
        {"wide character wraps whole", U"abcd\u4E2Dz", 5, 0x20, {"abcd..", "\u4E2Dz...", "......"}},
        {"control as space", U"a\x01" U"b", 6, 0, {"a b...", "......", "......"}},
        {"combining mark takes no cell", U"e\u0301x", 6, 0, {"ex....", "......", "......"}},
    };
    for (const Case& k : cases) {
        Canvas c(6, 3);
        put_text(k.text, 0, 0, gui::ClipRect{0, 0, k.right, 3}, 0, k.para);
        for (int y = 0; y < 3; ++y) EXPECT_EQ(c.row(y), k.rows[y]) << k.name << " row " << y;
    }
}

TEST(GuiLayout, ClippedOnTheLeftAndAbove) {
    Canvas c(6, 2);
    // From row -1: the first row is laid out, not drawn; columns left of 2 stay.
    put_text(U"zzz\nabcdef", 0, -1, gui::ClipRect{2, 0, 6, 2});
    EXPECT_EQ(c.row(0), "..cdef");
    EXPECT_EQ(c.row(1), "......");
}

TEST(GuiLayout, Escapes) {
    using namespace gui::cell_style;
    struct Case {
        const char* name;
        std::u32string text;
        CanvasCell first;
    };
    const Case cases[] = {
        {"bold red", U"\x1b[1;31mA", {'A', 0, basic(1), bold}},
        {"xterm 200", U"\x1b[38;5;200mA", {'A', 0, xterm(200), 0}},
        {"true colour", U"\x1b[48;2;1;2;3mA", {'A', gui::make_color(4, 0x010203), 0, 0}},
        {"erase is swallowed", U"\x1b[2JA", {'A', 0, 0, 0}},
        {"empty reset", U"\x1b[1m\x1b[mA", {'A', 0, 0, 0}},
        {"more than three", U"\x1b[1;3;4;92mA", {'A', 0, basic(12), bold | italic | underline}},
        {"bright background", U"\x1b[104mA", {'A', basic(14), 0, 0}},
        {"not a sequence", U"\x1b" U"A", {' ', 0, 0, 0}},
    };
    for (const Case& k : cases) {
        Canvas c(4, 1);
        put_text(k.text, 0, 0, whole(), escapes);
        const CanvasCell& got = c.at(0, 0);
        EXPECT_EQ(got.ch, k.first.ch) << k.name;
        EXPECT_EQ(got.fore, k.first.fore) << k.name;
        EXPECT_EQ(got.back, k.first.back) << k.name;
        EXPECT_EQ(got.style, k.first.style) << k.name;
    }
}

TEST(GuiLayout, EscapeInACutLineStillApplies) {
    Canvas c(4, 2);
    put_text(U"\x1b[7mabcdefg\x1b[27m\nxy", 0, 0, whole(), gui::cell_style::escapes);
    EXPECT_EQ(c.at(0, 0).style, gui::cell_style::reverse);
    EXPECT_EQ(c.at(0, 1).ch, static_cast<std::uint32_t>('x'));
    EXPECT_EQ(c.at(0, 1).style, 0u);
}

TEST(GuiLayout, Alignment) {
    struct Case {
        std::u32string text;
        int width, height;
        std::uint32_t para;
        int dx, dy;
    };
    const Case cases[] = {
        {U"abcd", 10, 1, 0x2, 3, 0}, {U"abcd", 10, 3, 0x1 | 0x8, 6, 2}, {U"ab\ncd", 4, 5, 0x4, 0, 1},
        {U"abcd", 10, 3, 0, 0, 0},   {U"abcdefghijkl", 10, 1, 0x2, 0, 0},
    };
    for (const Case& k : cases) {
        int dx = -1, dy = -1;
        gui::align_text(gui::TextSpan::of(k.text), k.width, k.height, k.para, false, &dx, &dy);
        EXPECT_EQ(dx, k.dx);
        EXPECT_EQ(dy, k.dy);
    }
}

// --- the draw dialect ---

// One runtime for the whole suite: starting it is the slow part (seconds
// with KIV_GC_STRESS=1), and the tests only read what it made.
class GuiDraw : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::start_evaluator(); }
    static void TearDownTestSuite() {
        collector::set_active(false);
        error::forget();
        stack::forget();
    }

    // Draws the block's text in a face at canvas x, y whose visible
    // rectangle is `rect`.
    static void draw(const std::string& code, int x = 0, int y = 0, gui::ClipRect rect = whole()) {
        gui::Widget w{};
        none::make_at(&w.face);
        const Cell block = test::load(code);
        gui::draw_face_block(&w, x, y, rect, 0, &block);
    }
    // The error id drawing the block raises (count_ for none), its text in
    // `message`.
    static ErrorId draw_error_of(const std::string& code, std::string* message = nullptr) {
        Cell caught;
        const ErrorId id = test::error_in_try([&] { draw(code); }, &caught);
        if (message && id != ErrorId::count_) *message = test::error_text(caught);
        return id;
    }
};

// Rows with "#" for a full block and "." for an untouched cell.
std::string shape_row(Canvas& c, int y) {
    std::string s = c.row(y);
    const std::string block = utf8_of(0x2588);
    for (std::size_t at; (at = s.find(block)) != std::string::npos;) s.replace(at, block.size(), "#");
    return s;
}

TEST_F(GuiDraw, Shapes) {
    struct Case {
        const char* code;
        const char* rows[4];
    };
    const Case cases[] = {
        {"line 0x0 3x3", {"#.......", ".#......", "..#.....", "...#...."}},
        {"line 0x0 3x0 3x2", {"####....", "...#....", "...#....", "........"}},
        {"rotate 45 [line 0x0 2x2]", {"#.......", ".#......", "..#.....", "........"}},
        {"box 0x0 4x2", {"┌───┐...", "│...│...",
                         "└───┘...", "........"}},
        {"box 4x2 0x0 fill-pen 1.2.3 box 6x0 7x1",
         {"┌───┐.┌┐", "│...│.└┘",
          "└───┘...", "........"}},
        {"pen off fill-pen 1.2.3 box 0x0 2x1", {"   .....", "   .....", "........", "........"}},
        {"circle 10x10 0", {"........", "........", "........", "........"}},
        {"circle 4x2 1", {"........", "...###..", "..#...#.", "...###.."}},
        {"fill-pen 1.2.3 pen off triangle 0x0 4x3 0x3", {" .......", "  ......", "   .....", "........"}},
        {"line -5x-5 20000000x20000000", {"#.......", ".#......", "..#.....", "...#...."}},
        {"circle 0x0 100000 ellipse 0x0 99999x99999", {"........", "........", "........", "........"}},
        // Extreme coordinates end quickly; only the triangle's lower-left
        // half meets the canvas.
        {"pen off fill-pen 1.2.3 triangle -2147483648x-2147483648 2147483647x2147483647 -2147483648x2147483647 "
         "pen 1.2.3 fill-pen off box -2147483648x-2147483648 2147483647x2147483647 circle 0x0 2147483647 "
         "text -2147483648x-2147483648 \"x\" line (1e300, 1e300) (-1e300, 0) circle (0, 0) 1e300",
         {" .......", "  ......", "   .....", "    ...."}},
    };
    for (const Case& k : cases) {
        Canvas c(8, 4);
        draw(k.code);
        for (int y = 0; y < 4; ++y) EXPECT_EQ(shape_row(c, y), k.rows[y]) << k.code << " row " << y;
    }
}

TEST_F(GuiDraw, PlacedAndClippedInTheFace) {
    Canvas c(10, 6);
    const gui::ClipRect face{5, 3, 9, 6};
    draw(R"(pen 255.0.0 text 1x1 "hello" line 0x0 20x0)", 5, 3, face);
    EXPECT_EQ(shape_row(c, 3), ".....####.");
    EXPECT_EQ(c.row(4), "......hel.");
    EXPECT_EQ(c.row(5), "......lo..");
    EXPECT_EQ(c.at(6, 4).fore, xterm(196));  // text takes the pen without a font colour
    EXPECT_EQ(shape_row(c, 0), "..........");
}

TEST_F(GuiDraw, AcceptsTheWholeDialect) {
    ASSERT_EQ(test::eval("fnt: make object! [color: 0.0.255] red: 255.0.0 p: 1x1 line: 5 unset 'bad"), "unset");
    const char* blocks[] = {
        "line-width 2 line-join round line-cap square line-pattern 2 3 line-pattern off anti-alias off",
        "polygon 0x0 1x1 2x0 3x3 arc 5x5 3x3 0 90 closed curve 0x0 1x1 2x2 spline 0x0 1x1 closed",
        "shadow 2x2 3 0 0.0.0 inset shadow off",
        "clip 0x0 5x5 [line 0x0 1x1] clip [move 0x0 line 1x1 2x2 close] intersect",
        "shape [move 0x0 hline 3 vline 2 arc 1x1 2 2 0 sweep large curv 1x1 2x2 qcurve 1x1 2x2 'line 3x3 close]",
        "scale 2 2 [box 0x0 1x1] translate 1x1 skew 10 transform 0x0 30 1 1 2x2 rotate 'pen 10",
        "push [pen 1.2.3] matrix [1 0 0 1 0 0] reset-matrix invert-matrix 'pen",
        "pen linear 0x0 0 100 255.0.0 0.0.255 pad fill-pen radial 1.2.3 4.5.6",
        "pen pattern 4x4 [line 0x0 1x1] tile",
        "a: line 0x0 1x1 [pen 1.2.3] box 0x0 1x1 4 circle 3x3 1.5 2",
        "font fnt text 0x0 \"x\" pen red line p 3x3 (2.5, 2.5)",
        "box 0x0 1x1 line 0x0 1x1",  // `line` holds a number here, and still starts a command
    };
    for (const char* code : blocks) {
        Canvas c(8, 8);
        std::string message;
        EXPECT_EQ(draw_error_of(code, &message), ErrorId::count_) << code << ": " << message;
    }
}

TEST_F(GuiDraw, RefusesMalformedBlocks) {
    struct Case {
        const char* code;
        const char* message;
    };
    const Case cases[] = {
        {"line 0x0", "*** Script Error: DRAW - invalid input at: []"},
        {"pen 1.2.3 bogus 1x1", "*** Script Error: DRAW - invalid input at: [bogus 1x1]"},
        {"box 0x0 \"x\"", "*** Script Error: DRAW - invalid input at: [\"x\"]"},
        {"42", "*** Script Error: DRAW - invalid input at: [42]"},
        {"pen 1x1", "*** Script Error: DRAW - invalid input at: [1x1]"},
        {"line-join sideways", "*** Script Error: DRAW - invalid input at: [sideways]"},
        {"matrix [1 0 0 1 0]", "*** Script Error: DRAW - invalid input at: [[1 0 0 1 0]]"},
        {"fill-pen linear 1.2.3 0x0", "*** Script Error: DRAW - invalid input at: []"},
        {"polygon 0x0 1x1", "*** Script Error: DRAW - invalid input at: []"},
        {"shape [jump 1x1]", "*** Script Error: DRAW - invalid input at: [jump 1x1]"},
        {"text 0x0 42", "*** Script Error: DRAW - invalid input at: [42]"},
        {"circle 1x1", "*** Script Error: DRAW - invalid input at: []"},
        {"line 0x0 bad", "*** Script Error: DRAW - invalid input at: [bad]"},
    };
    for (const Case& k : cases) {
        Canvas c(4, 4);
        std::string message;
        EXPECT_EQ(draw_error_of(k.code, &message), ErrorId::script_draw_invalid) << k.code;
        EXPECT_EQ(message.substr(0, message.find('\n')), k.message) << k.code;
    }
}

TEST_F(GuiDraw, SilentEndsTheDrawingQuietly) {
    ASSERT_EQ(test::eval("system/view/silent?: true"), "true");
    Canvas c(4, 1);
    EXPECT_EQ(draw_error_of("line 0x0 3x0 bogus line 0x0 0x0"), ErrorId::count_);
    EXPECT_EQ(shape_row(c, 0), "####");  // drawn up to the bad command
    ASSERT_EQ(test::eval("system/view/silent?: false"), "false");
    EXPECT_EQ(draw_error_of("bogus"), ErrorId::script_draw_invalid);
}

TEST_F(GuiDraw, SelfContainingBlock) {
    ASSERT_EQ(test::eval("b: [pen 1.2.3] append/only b b none"), "none");
    Canvas c(4, 4);
    Cell caught;
    const ErrorId id = test::error_in_try(
        [&] {
            gui::Widget w{};
            none::make_at(&w.face);
            Cell name;
            word::load("b", &name);
            const Cell block = *word::get(&name);
            gui::draw_face_block(&w, 0, 0, whole(), 0, &block);
        },
        &caught);
    EXPECT_EQ(id, ErrorId::script_draw_infinite);
}

// --- faces ---

// A face object's fields in face! order, with the given values over the
// defaults; made by the Kiv function `face` the suite defines.
constexpr const char* face_maker =
    "face: func [spec] [make object! append copy [type: 'base offset: 0x0 size: 10x1 text: none "
    "image: none color: none menu: none data: none enabled?: true visible?: true selected: none "
    "flags: none options: none parent: none pane: none state: none rate: none edge: none para: none "
    "font: none actors: none extra: none draw: none] spec]";

class GuiFace : public GuiDraw {
protected:
    static void SetUpTestSuite() {
        GuiDraw::SetUpTestSuite();
        ASSERT_EQ(test::eval(std::string(face_maker) + " none"), "none");
    }

    // The face the Kiv expression makes, in a record at x, y of w x h cells.
    static gui::Widget widget(const std::string& expression, float x, float y, float w, float h,
                              gui::Widget* parent = nullptr) {
        gui::Widget r{};
        r.face = value(expression);
        const Cell* type = gui::face_value(&r.face, gui::face_field::type);
        r.type = symbol::resolve(type->data2);
        r.x1 = x;
        r.y1 = y;
        r.x2 = x + w;
        r.y2 = y + h;
        r.parent = parent;
        none::make_at(&r.ui);
        return r;
    }
    static Cell value(const std::string& expression) {
        EXPECT_EQ(test::eval("it: " + expression + " none"), "none");
        Cell name;
        word::load("it", &name);
        return *word::get(&name);
    }
};

TEST_F(GuiFace, TextHintAndBackground) {
    Canvas c(12, 2);
    gui::Widget w = widget(R"(face [text: "abcd" color: 0.0.255 para: make object! [wrap?: false align: 'center v-align: 'top]])",
                           1, 0, 10, 1);
    gui::render_face(1, 0, &w, gui::cell_style::escapes);
    EXPECT_EQ(c.row(0), ".   abcd   .");
    EXPECT_EQ(c.at(1, 0).back, xterm(21));
    EXPECT_EQ(c.at(5, 0).back, xterm(21));  // text keeps the face background
    gui::Widget field = widget(R"(face [type: 'field options: [hint: "type here"]])", 0, 1, 12, 1);
    gui::render_face(0, 1, &field, gui::cell_style::escapes);
    EXPECT_EQ(c.row(1), "type here   ");
    EXPECT_EQ(c.at(0, 1).style, gui::cell_style::dim);
}

TEST_F(GuiFace, EveryAncestorClips) {
    Canvas c(12, 1);
    gui::Widget window = widget("face [type: 'window]", 0, 0, 12, 1);
    gui::Widget outer = widget("face [type: 'panel]", 1, 0, 5, 1, &window);
    gui::Widget inner = widget("face [type: 'panel]", 1, 0, 10, 1, &outer);  // wider than outer
    gui::Widget text = widget(R"(face [type: 'text text: "abcdefgh"])", 1, 0, 8, 1, &inner);
    EXPECT_EQ(gui::clip_rect(3, 0, &text).right, 6);
    gui::render_face(3, 0, &text, gui::cell_style::escapes);
    EXPECT_EQ(c.row(0), "...abc......");
    // A box of absurd floats is read within bounds.
    gui::Widget huge = widget("face [type: 'panel]", 0, 0, 1, 1, &window);
    huge.x2 = 1e30f;
    huge.y2 = std::nanf("");
    const gui::ClipRect r = gui::clip_rect(0, 0, &huge);
    EXPECT_EQ(r.right, 12);
    EXPECT_TRUE(r.empty());
}

TEST_F(GuiFace, RichTextRunsAndMetrics) {
    gui::Widget w = widget(
        R"(face [type: 'rich-text size: 3x2 text: "hello" data: [1x2 255.0.0 bold 3x1 backdrop 0.0.255 italic 4x9 underline "Mono" 12]])",
        0, 0, 3, 2);
    gui::build_runs(&w);
    ASSERT_NE(w.runs, nullptr);
    ASSERT_EQ(w.runs->count, 5u);
    using namespace gui::cell_style;
    const CanvasCell expected[5] = {{'h', 0, xterm(196), bold},
                                    {'e', 0, xterm(196), bold},
                                    {'l', xterm(21), 0, italic},
                                    {'l', 0, 0, underline},
                                    {'o', 0, 0, underline}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ((*w.runs)[i].ch, expected[i].ch) << i;
        EXPECT_EQ((*w.runs)[i].fore, expected[i].fore) << i;
        EXPECT_EQ((*w.runs)[i].back, expected[i].back) << i;
        EXPECT_EQ((*w.runs)[i].style, expected[i].style) << i;
    }
    struct Case {
        const char* arg;
        int type;
        const char* expected;
    };
    // "hello" wraps at 3 cells: "hel" and "lo".
    const Case cases[] = {
        {"5", 0, "(1, 1)"}, {"5", 6, "(2, 2)"}, {"1", 0, "(0, 0)"}, {"1x1", 1, "5"},
        {"0x0", 1, "1"},    {"9x1", 5, "5"},    {"none", 2, "1.0"}, {"none", 3, "(3, 2)"},
        {"none", 4, "2"},
    };
    for (const Case& k : cases) {
        const Cell arg = value(k.arg);
        Cell out;
        gui::OS_text_box_metrics(&w.face, &arg, k.type, &out);
        Cell name;
        word::load("it", &name);
        word::set(&name, &out);
        EXPECT_EQ(test::eval("it"), k.expected) << k.arg << " type " << k.type;
    }
    gui::free_run(w.runs);
    gui::Widget bad = widget(R"(face [type: 'rich-text text: "hi" data: [1x1 bold sideways]])", 0, 0, 3, 1);
    std::string message;
    Cell caught;
    EXPECT_EQ(test::error_in_try([&] { gui::build_runs(&bad); }, &caught), ErrorId::script_draw_invalid);
    gui::free_run(bad.runs);
}

TEST_F(GuiFace, TextReadFromTheStringsIndex) {
    const Cell text = value(R"(next remove/part copy "xxhello" 2)");
    const gui::TextSpan span = gui::TextSpan::of(&text);
    ASSERT_EQ(span.length, 4);
    EXPECT_EQ(span.at(0), static_cast<std::uint32_t>('e'));
    EXPECT_EQ(span.at(3), static_cast<std::uint32_t>('o'));
}

TEST_F(GuiFace, FlagsAndPara) {
    EXPECT_EQ(gui::get_flags(&static_cast<const Cell&>(value("[focusable all-over]"))), 3u);
    EXPECT_EQ(gui::get_flags(&static_cast<const Cell&>(value("'resize"))), 0x04000000u);
    EXPECT_EQ(gui::get_flags(&static_cast<const Cell&>(value("42"))), 0u);
    for (const char* bad : {"'over", "[focusable draggable]", "[focusable 42]"}) {
        const Cell v = value(bad);
        EXPECT_EQ(test::error_in_try([&] { gui::get_flags(&v); }), ErrorId::script_invalid_arg) << bad;
    }
    const Cell face = value("face [para: make object! [wrap?: true align: 'right v-align: 'bottom]]");
    EXPECT_EQ(gui::para_flags(&face), 0x20u | 0x1u | 0x8u);
    const Cell plain = value("face [para: make object! [wrap?: 1 align: 'left v-align: 'middle]]");
    EXPECT_EQ(gui::para_flags(&plain), 0x4u);
}

TEST_F(GuiFace, DrawTextOfAFace) {
    ASSERT_EQ(test::eval(R"(rt: face [type: 'rich-text text: "ab" data: [1x1 bold]] pf: face [text: "no"] none)"),
              "none");
    Canvas c(4, 2);
    draw("text 1x0 rt text 0x1 pf");
    EXPECT_EQ(c.row(0), ".ab.");
    EXPECT_EQ(c.at(1, 0).style, gui::cell_style::bold);
    EXPECT_EQ(c.at(2, 0).style, 0u);
    EXPECT_EQ(c.row(1), "....");  // only rich-text faces show through `text`
}

// A window with a coloured text face, a hidden face and a button, made by
// the face lifecycle and composed into one frame.
TEST_F(GuiFace, WindowFrame) {
    Cell window = value("face [type: 'window size: 8x2]");
    Cell label = value(R"(face [type: 'text offset: 1x0 size: 3x1 text: "hi" color: 255.0.0])");
    Cell hidden = value(R"(face [type: 'text offset: 0x0 size: 8x2 text: "HIDDEN" visible?: false])");
    Cell button = value(R"(face [type: 'base offset: 4x1 size: 4x1 text: "ok"])");
    // The engine keeps each face's handle in face/state and the children in
    // the window's pane.
    auto realise = [](Cell* face, gui::Widget* parent) {
        gui::Widget* w = gui::OS_make_view(face, parent);
        Cell st;
        block::make_at(&st, 2);
        Cell h;
        handle::make_at(&h, w->id, static_cast<std::int32_t>(handle::Class::window));
        block::append_value(&st, &h);
        *gui::face_value_mut(face, gui::face_field::state) = st;
        return w;
    };
    gui::state.live = true;
    gui::state.columns = 80;
    gui::state.rows = 24;
    gui::Widget* win = realise(&window, nullptr);
    realise(&label, win);
    realise(&hidden, win);
    realise(&button, win);
    Cell pane;
    block::make_at(&pane, 3);
    block::append_value(&pane, &label);
    block::append_value(&pane, &hidden);
    block::append_value(&pane, &button);
    *gui::face_value_mut(&win->face, gui::face_field::pane) = pane;

    gui::size_canvas(win->window);
    ASSERT_EQ(gui::state.canvas_width, 8);
    ASSERT_EQ(gui::state.canvas_height, 2);
    gui::render_window(win->window);
    ASSERT_TRUE(gui::compose_frame());
    EXPECT_EQ(std::string(gui::state.output.items, gui::state.output.count),
              "\r\x1b[0J \x1b[48;5;196mhi \x1b[49m    \x1b[49m\r\n    ok  ");
    EXPECT_EQ(gui::state.view_lines, 1);
    gui::teardown();
    gui::state.live = false;
    EXPECT_EQ(gui::state.canvas, nullptr);
    EXPECT_EQ(gui::state.windows.count, 0u);
}

}  // namespace
}  // namespace kiv
