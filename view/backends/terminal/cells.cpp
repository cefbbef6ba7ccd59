#include "view/backends/terminal/cells.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "runtime/case-folding.h"
#include "runtime/unicode.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/fire.h"
#include "runtime/tracked-alloc.h"

namespace kiv::gui {

TextSpan TextSpan::of(const Cell* string) {
    memory::SeriesBuffer* b = string::buffer(string);
    const std::uint32_t unit = b->unit();
    const std::int32_t total = string::ks_abs_length(string);
    const std::int32_t index = std::max(static_cast<std::int32_t>(string->data1), 0);
    if (index >= total) return TextSpan{nullptr, unit, 0};
    return TextSpan{b->head() + (static_cast<std::size_t>(index) * unit), unit, total - index};
}

// --- words ---

namespace {

constexpr const char* word_spellings[] = {
#define KIV_GUI_WORD_TEXT(ident, spelling) spelling,
    KIV_GUI_WORDS(KIV_GUI_WORD_TEXT)
#undef KIV_GUI_WORD_TEXT
};
constexpr int word_count = static_cast<int>(Word::count_);
static_assert(std::size(word_spellings) == word_count);

// Symbol ids never change once interned, so a static table is safe. A
// runtime started afresh (tests) has a new symbol table. To notice that,
// the table is made together with a sentinel symbol whose spelling no
// source can hold (it has a space): only make_words interns it, so it
// reads back under its id only in the runtime that made the table.
constexpr const char* sentinel_spelling = "gui words";
std::uint32_t word_symbols[word_count] = {};
std::uint32_t sentinel = 0;
bool words_made = false;

void make_words() {
    sentinel = symbol::make(sentinel_spelling);
    for (int i = 0; i < word_count; ++i) word_symbols[i] = symbol::resolve(symbol::make(word_spellings[i]));
    words_made = true;
}

bool words_current() {
    return words_made && sentinel <= symbol::count() && symbol::text(sentinel) == sentinel_spelling;
}


}  // namespace

std::uint32_t symbol_of(Word word) {
    if (!words_current()) [[unlikely]]
        make_words();
    return word_symbols[static_cast<int>(word)];
}

bool is_word(const Cell* value, Word word) {
    return kiv::word::is_any_word(value) && symbol::resolve(value->data2) == symbol_of(word);
}

const Cell* value_of_word(const Cell* v) {
    if (!v || !v->is(Type::word) || v->data1 == 0 || static_cast<std::int32_t>(v->data3) < 0) return v;
    if (!context::header(v->data1)->data2) return v;
    const Cell* got = context::get(v);
    return got->is(Type::unset) ? v : got;
}

// --- colours ---

namespace {

struct Rgb {
    std::uint8_t r, g, b;
};

constexpr std::uint8_t cube_levels[6] = {0, 95, 135, 175, 215, 255};

// The palette's colour of an index (16 basic, 216 cube, 24 grey).
constexpr Rgb palette_rgb(std::uint32_t index) {
    constexpr Rgb basic[16] = {{0, 0, 0},     {128, 0, 0},   {0, 128, 0},     {128, 128, 0},
                               {0, 0, 128},   {128, 0, 128}, {0, 128, 128},   {192, 192, 192},
                               {128, 128, 128}, {255, 0, 0}, {0, 255, 0},     {255, 255, 0},
                               {0, 0, 255},   {255, 0, 255}, {0, 255, 255},   {255, 255, 255}};
    if (index < 16) return basic[index];
    if (index < 232) {
        const std::uint32_t i = index - 16;
        return Rgb{cube_levels[i / 36], cube_levels[(i / 6) % 6], cube_levels[i % 6]};
    }
    const auto v = static_cast<std::uint8_t>(8 + 10 * (index - 232));
    return Rgb{v, v, v};
}

int distance2(Rgb p, int r, int g, int b) {
    const int dr = p.r - r, dg = p.g - g, db = p.b - b;
    return dr * dr + dg * dg + db * db;
}

}  // namespace

std::uint32_t color_level(std::uint32_t c) {
    if (c < 48) return 0;
    if (c < 115) return 1;
    return (c - 35) / 40;
}

CellColor rgb_to_xterm(std::uint32_t color) {
    if ((color >> 24) == 255) return 0;
    const int r = static_cast<int>(color & 0xFF);
    const int g = static_cast<int>((color >> 8) & 0xFF);
    const int b = static_cast<int>((color >> 16) & 0xFF);
    const std::uint32_t cube = 16 + 36 * color_level(r) + 6 * color_level(g) + color_level(b);
    const int average = (r + g + b) / 3;
    const int step = average > 238 ? 23 : (average - 3) / 10;  // truncates toward zero
    const std::uint32_t grey = static_cast<std::uint32_t>(232 + step);
    const bool cube_nearer = distance2(palette_rgb(cube), r, g, b) < distance2(palette_rgb(grey), r, g, b);
    return make_color(color_kind::xterm, cube_nearer ? cube : grey);
}

std::uint32_t tuple_to_color(const Cell* value) {
    const std::uint8_t* b = tuple::bytes(value);
    const std::uint32_t alpha = tuple::length(value) > 3 ? b[3] : 0;
    return b[0] | (static_cast<std::uint32_t>(b[1]) << 8) | (static_cast<std::uint32_t>(b[2]) << 16) |
           (alpha << 24);
}

// --- measuring ---

int char_width(std::uint32_t cp) { return unicode::display_width(cp); }

int text_extent(const TextSpan& text, int limit, int* count, int* lines) {
    int n_lines = 1, current = 0, widest = 0, n = 0, last = 0;
    for (std::int32_t i = 0; i < text.length; ++i) {
        if (current >= limit) break;
        const std::uint32_t cp = text.at(i);
        if (cp == '\n') {
            ++n_lines;
            widest = std::max(widest, current);
            current = 0;
            last = 0;
        } else {
            last = char_width(cp);
            current += last;
        }
        ++n;
    }
    widest = std::max(widest, current);
    if (widest > limit) {  // the last character crossed the limit: it does not count
        widest -= last;
        --n;
    }
    if (count) *count = n;
    if (lines) *lines = n_lines;
    return widest;
}

int text_extent(const Cell* string, int limit, int* count, int* lines) {
    return text_extent(TextSpan::of(string), limit, count, lines);
}

// --- runs of cells ---

CellRun* make_run() { return static_cast<CellRun*>(memory::allocate_zeroed(sizeof(CellRun))); }

void free_run(CellRun* run) {
    if (!run) return;
    memory::resize(run->items, 0);
    memory::resize(run, 0);
}

void reset_run(CellRun* run, std::uint32_t count) {
    run->reserve(count);
    run->count = count;
    if (count) std::memset(run->items, 0, sizeof(CanvasCell) * count);
}

namespace {

template <class F>
void over_cells(CellRun* run, int start, int count, F f) {
    if (!run || start < 0 || count <= 0) return;
    const int end = std::min<std::int64_t>(static_cast<std::int64_t>(start) + count, run->count);
    for (int i = start; i < end; ++i) f((*run)[static_cast<std::uint32_t>(i)]);
}

}  // namespace

void set_fore(CellRun* run, int start, int count, std::uint32_t color) {
    const CellColor c = rgb_to_xterm(color);
    over_cells(run, start, count, [c](CanvasCell& cell) { cell.fore = c; });
}
void set_back(CellRun* run, int start, int count, std::uint32_t color) {
    const CellColor c = rgb_to_xterm(color);
    over_cells(run, start, count, [c](CanvasCell& cell) { cell.back = c; });
}
void set_bold(CellRun* run, int start, int count) {
    over_cells(run, start, count, [](CanvasCell& cell) { cell.style |= cell_style::bold; });
}
void set_italic(CellRun* run, int start, int count) {
    over_cells(run, start, count, [](CanvasCell& cell) { cell.style |= cell_style::italic; });
}
void set_underline(CellRun* run, int start, int count) {
    over_cells(run, start, count, [](CanvasCell& cell) { cell.style |= cell_style::underline; });
}
void set_strike(CellRun* run, int start, int count) {
    over_cells(run, start, count, [](CanvasCell& cell) { cell.style |= cell_style::strike; });
}

// --- faces, paras and fonts ---

const Cell* face_value(const Cell* face, int index) {
    if (!face->is(Type::object) || index >= object::field_count(face)) return &none::value;
    return object::field_value(object::context_of(face), index);
}

Cell* face_value_mut(Cell* face, int index) {
    if (!face->is(Type::object) || index >= object::field_count(face)) return nullptr;
    return object::field_value(object::context_of(face), index);
}

const Cell* field_named(const Cell* object, Word name) {
    if (!object->is(Type::object)) return &none::value;
    const std::int32_t i = context::find_word(object::context_of(object), symbol_of(name), true);
    return i < 0 ? &none::value : object::field_value(object::context_of(object), i);
}

namespace {

std::uint32_t flag_of_word(const Cell* word) {
    struct Row {
        Word word;
        std::uint32_t bit;
    };
    static constexpr Row table[] = {
        {Word::all_over, face_flag::all_over},     {Word::focusable, face_flag::focusable},
        {Word::tri_state, face_flag::tri_state},   {Word::scrollable, face_flag::scrollable},
        {Word::password, face_flag::password},     {Word::no_sync, face_flag::no_sync},
        {Word::fullscreen, face_flag::fullscreen}, {Word::popup, face_flag::popup},
        {Word::modal, face_flag::modal},           {Word::resize, face_flag::resize},
        {Word::no_buttons, face_flag::no_buttons}, {Word::no_max, face_flag::no_max},
        {Word::no_min, face_flag::no_min},         {Word::no_title, face_flag::no_title},
        {Word::no_border, face_flag::no_border},
    };
    const std::uint32_t s = symbol::resolve(word->data2);
    for (const Row& row : table)
        if (symbol_of(row.word) == s) return row.bit;
    fire(ErrorId::script_invalid_arg, word);
}

}  // namespace

std::uint32_t get_flags(const Cell* value) {
    if (word::is_any_word(value)) return flag_of_word(value);
    if (!value->is(Type::block)) return 0;
    std::uint32_t bits = 0;
    const std::int32_t n = block::ks_length(value);
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell* item = block::ks_abs_at(value, static_cast<std::int32_t>(value->data1) + i);
        if (!word::is_any_word(item)) fire(ErrorId::script_invalid_arg, item);
        bits |= flag_of_word(item);
    }
    return bits;
}

std::uint32_t para_flags(const Cell* face) {
    const Cell* para = face_value(face, face_field::para);
    if (!para->is(Type::object)) return 0;
    std::uint32_t flags = 0;
    const Cell* wrap = field_named(para, Word::wrap_q);
    if (wrap->is(Type::logic) && wrap->data1 != 0) flags |= para_flag::wrap;
    const Cell* align = field_named(para, Word::align);
    if (word::is_any_word(align)) {
        const std::uint32_t s = symbol::resolve(align->data2);
        if (s == symbol_of(Word::center)) flags |= para_flag::center;
        else if (s == symbol_of(Word::right)) flags |= para_flag::right;
    }
    const Cell* v_align = field_named(para, Word::v_align);
    if (word::is_any_word(v_align)) {
        const std::uint32_t s = symbol::resolve(v_align->data2);
        if (s == symbol_of(Word::middle)) flags |= para_flag::middle;
        else if (s == symbol_of(Word::bottom)) flags |= para_flag::bottom;
    }
    return flags;
}

void update_para(Cell* face, std::uint32_t) {
    if (!word::is_any_word(face_value(face, face_field::type))) return;
    const Cell* state = face_value(face, face_field::state);
    if (!state->is(Type::block) || block::ks_length(state) < 2) return;
    Cell* bits = block::ks_abs_at(state, static_cast<std::int32_t>(state->data1) + 1);
    // The para change rides in the second payload word: the integer's
    // value (the engine's change bits) is left as it is.
    if (bits->is(Type::integer)) bits->data3 |= 0x40000;
}

std::uint32_t font_color(const Cell* font) {
    const Cell* color = field_named(font, Word::color);
    return color->is(Type::tuple) ? tuple_to_color(color) : 0;
}

void free_font(Cell* font) {
    if (!font->is(Type::object)) return;
    const std::int32_t i = context::find_word(object::context_of(font), symbol_of(Word::state), true);
    if (i >= 0) none::make_at(object::field_value(object::context_of(font), i));
}

Cell* OS_request_font(Cell* font, const Cell*, bool) { return font; }

void pair_to_point(Cell* cell) {
    if (!cell->is(Type::pair)) return;
    const double x = static_cast<std::int32_t>(cell->data2);
    const double y = static_cast<std::int32_t>(cell->data3);
    point2d::make_at(cell, x, y);
}

// --- the loop's clock ---

// LINUX: the monotonic clock in nanoseconds stands in for the performance
// counter; differences are taken in 64 bits, so no wrap-around.
void get_ticks(std::int64_t* count) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    *count = static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double elapsed_ms(std::int64_t saved) {
    std::int64_t now = 0;
    get_ticks(&now);
    return static_cast<double>(now - saved) / 1e6;
}

}  // namespace kiv::gui
