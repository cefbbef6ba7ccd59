// The console output layer: see console-output.h.
#include "runtime/console-output.h"

#include <cstdio>
#include <cstring>

#include "runtime/output-hooks.h"
#include "runtime/platform/terminal-output.h"
#include "runtime/typed-print.h"
#include "runtime/unicode.h"

namespace kiv::console_output {

namespace {

// ---------------------------------------------------------------- state

void stdout_write(void*, const std::uint8_t* bytes, std::size_t count) {
    platform::write_stdout(bytes, count);
}
bool stdout_size(void*, int* columns, int* rows) { return platform::terminal_size(columns, rows); }
bool stdout_cursor(void*, int* column, int* row) { return platform::terminal_cursor(column, row); }

Sink sink{stdout_write, stdout_size, stdout_cursor, nullptr, false};

constexpr std::size_t buffer_size = 1024;
// Flushed before an append could pass the end; a code point or one
// translated sequence is far below this.
constexpr std::size_t buffer_room = 64;
std::uint8_t buffer[buffer_size];
std::size_t buffered = 0;

std::uint32_t current = default_attributes;
std::uint32_t defaults = default_attributes;

// The size the report shows when the terminal does not tell.
constexpr int fallback_columns = 80;
constexpr int fallback_rows = 50;

constexpr std::uint32_t esc = 0x1B;
constexpr std::uint32_t escape_symbol = 0x241B;  // what a stray ESC prints as
constexpr int number_modulus = 65535;

void flush() {
    if (buffered) sink.write(sink.context, buffer, buffered);
    buffered = 0;
}

// Flushes on every way out of a write, so a write that fires midway leaves
// nothing behind for the next one.
struct FlushOnExit {
    ~FlushOnExit() { flush(); }
};

void make_room(std::size_t n) {
    if (buffered + n > buffer_size) flush();
}

void append(const char* bytes, std::size_t n) {
    while (n > 0) {
        make_room(1);
        std::size_t take = n < buffer_size - buffered ? n : buffer_size - buffered;
        std::memcpy(buffer + buffered, bytes, take);
        buffered += take;
        bytes += take;
        n -= take;
    }
}

void append(const char* text) { append(text, std::strlen(text)); }

void append_code_point(std::uint32_t cp) {
    make_room(buffer_room);
    buffered += static_cast<std::size_t>(unicode::encode_utf8_char(cp, buffer + buffered));
}

// printf into the buffer: the translated sequences and the report.
template <typename... Args>
void appendf(const char* format, Args... args) {
    make_room(buffer_room);
    int n = std::snprintf(reinterpret_cast<char*>(buffer + buffered), buffer_room, format, args...);
    if (n > 0) buffered += static_cast<std::size_t>(n < static_cast<int>(buffer_room) ? n : buffer_room - 1);
}

// ---------------------------------------------------------------- terminal

bool screen_size(int* columns, int* rows) { return sink.size && sink.size(sink.context, columns, rows); }

bool cursor_position(int* column, int* row) {
    flush();  // the terminal must have seen everything before it answers
    return sink.cursor && sink.cursor(sink.context, column, row);
}

// Console colour numbers are B + 2G + 4R, terminal ones R + 2G + 4B.
int terminal_colour(std::uint32_t c) { return ((c & 1) << 2) | (c & 2) | ((c & 4) >> 2); }

// One colour field: the terminal default, a normal or a bright colour.
int colour_code(std::uint32_t field, std::uint32_t default_field, int normal, int bright, int deflt) {
    if (field == default_field) return deflt;
    return ((field & 8) ? bright : normal) + terminal_colour(field & 7);
}

void emit_attributes(std::uint32_t a) {
    int fg = colour_code(a & 0x0F, defaults & 0x0F, 30, 90, 39);
    int bg = colour_code((a >> 4) & 0x0F, (defaults >> 4) & 0x0F, 40, 100, 49);
    appendf("\x1b[0;%d;%d%sm", fg, bg, (a & attribute::underscore) ? ";4" : "");
}

void set_attributes(std::uint32_t a) {
    current = a;
    emit_attributes(a);
}

void move_cursor(std::uint32_t count, char direction) {
    if (count > 0) appendf("\x1b[%u%c", count, direction);
}

void set_cursor(std::uint32_t column, std::uint32_t row) {
    int columns, rows;
    // a position off the screen leaves the cursor where it is
    if (screen_size(&columns, &rows) && (column >= static_cast<std::uint32_t>(columns) ||
                                         row >= static_cast<std::uint32_t>(rows)))
        return;
    appendf("\x1b[%u;%uH", row + 1, column + 1);
}

// The rows above the cursor's row.
void erase_above() {
    int column, row, columns, rows;
    if (cursor_position(&column, &row)) {
        if (row == 0) return;
        if (!screen_size(&columns, &rows)) columns = 9999;
        appendf("\x1b[%d;%dH\x1b[1J\x1b[%d;%dH", row, columns, row + 1, column + 1);
        return;
    }
    // FIXME: without an answer from the terminal, the row above is erased
    // even when the cursor sits on the top row.
    append("\x1b" "7\x1b[A\x1b[9999C\x1b[1J\x1b" "8");
    emit_attributes(current);
}

// The cells left of the cursor; the cursor goes to column 0.
void erase_left() {
    int column, row;
    if (!cursor_position(&column, &row)) {
        append("\x1b[1K\r");  // FIXME: erases the cursor's cell too
        return;
    }
    append("\r");
    if (column > 0) appendf("\x1b[%dX", column);
}

// Erase modes: 0 the cursor's row and all below, 1 the rows above, 2 the
// whole screen (home), 3 the cursor's row (to column 0), 4 from the cursor
// to the end of its row, 5 left of the cursor (to column 0). Erased cells
// take the default attributes.
void erase(int mode) {
    bool plain = current == defaults;
    if (!plain) emit_attributes(defaults);
    switch (mode) {
        case 0: append("\x1b[2K\x1b[J"); break;
        case 1: erase_above(); break;
        case 2: append("\x1b[2J\x1b[H"); break;
        case 3: append("\x1b[2K\r"); break;
        case 4: append("\x1b[K"); break;
        default: erase_left(); break;
    }
    if (!plain) emit_attributes(current);
}

void screen_report() {
    int columns = fallback_columns, rows = fallback_rows, column = 0, row = 0;
    if (!screen_size(&columns, &rows)) {
        columns = fallback_columns;
        rows = fallback_rows;
    }
    cursor_position(&column, &row);
    append("Screen buffer info:\n");
    appendf("   size______ %dx%d\n", columns, rows);
    appendf("   cursor____ %dx%d\n", column, row);
    appendf("   attribute_ %08X %08X\n", current, defaults);
    appendf("   left______ %d top: %d\n", 0, 0);
    appendf("   right_____ %d bottom: %d\n", columns - 1, rows - 1);
    appendf("   max_______ %dx%d\n", columns, rows);
}

// ---------------------------------------------------------------- escapes

struct EscapeState {
    int state = 1;
    std::uint32_t first = 0, second = 0;
    std::int32_t attributes = -1;
};

void accumulate(std::uint32_t& n, std::uint32_t digit) { n = (n * 10 + digit) % number_modulus; }

bool is_digit(std::uint32_t c) { return c >= '0' && c <= '9'; }

// One character of the sequence; answers false when the sequence is done.
bool escape_step(EscapeState& s, std::uint32_t c) {
    switch (s.state) {
        case 1:
            if (is_digit(c)) { s.first = c - '0'; s.state = 2; return true; }
            if (c == ';') return true;
            if (c == 's') append("\x1b" "7");
            else if (c == 'u') { append("\x1b" "8"); emit_attributes(current); }
            else if (c == 'K') erase(4);
            else if (c == 'J') erase(0);
            else if (c == 'H' || c == 'f') append("\x1b[H");
            else if (c == '?') screen_report();
            return false;
        case 2:
            if (is_digit(c)) { accumulate(s.first, c - '0'); return true; }
            if (c == ';') { s.state = 3; return true; }
            if (c == 'm') set_attributes(static_cast<std::uint32_t>(apply_sgr(s.attributes, static_cast<int>(s.first))));
            else if (c >= 'A' && c <= 'D') move_cursor(s.first, static_cast<char>(c));
            else if (c == 'J' && (s.first == 1 || s.first == 2)) erase(s.first == 1 ? 1 : 2);
            else if (c == 'K' && (s.first == 1 || s.first == 2)) erase(s.first == 1 ? 5 : 3);
            return false;
        case 3:
            if (is_digit(c)) { s.second = c - '0'; s.state = 4; return true; }
            return c == ';';
        default:
            if (is_digit(c)) { accumulate(s.second, c - '0'); return true; }
            if (c == 'm' || c == ';') {
                std::int32_t a = apply_sgr(apply_sgr(s.attributes, static_cast<int>(s.first)),
                                           static_cast<int>(s.second));
                if (c == 'm') {
                    set_attributes(static_cast<std::uint32_t>(a));
                    return false;
                }
                s = EscapeState{1, 0, 0, a};
                return true;
            }
            if (c == 'H' || c == 'f') set_cursor(s.first, s.second);
            return false;
    }
}

// ---------------------------------------------------------------- writing

void write_terminal(const std::uint8_t* p, const std::uint8_t* end, int unit) {
    while (p < end) {
        std::uint32_t cp = unicode::unit_at(p, unit);
        if (cp == esc) {
            std::size_t n = interpret_escape(p, end, unit);
            if (n) {
                p += n;
                continue;
            }
            cp = escape_symbol;
        }
        append_code_point(cp);
        p += unit;
    }
}

void write_redirected(const std::uint8_t* p, const std::uint8_t* end, int unit) {
    for (; p < end; p += unit) append_code_point(unicode::unit_at(p, unit));
}

char format_buffer[64];

// Writes the first n bytes of the format buffer, then tells the line hooks.
void write_formatted(int n) {
    if (n < 0) return;
    if (n >= static_cast<int>(sizeof format_buffer)) n = sizeof format_buffer - 1;
    write(format_buffer, static_cast<std::size_t>(n), 1, false);
    call_line_hooks(format_buffer, static_cast<std::size_t>(n), 0);
}

}  // namespace

void init() {
    sink = Sink{stdout_write, stdout_size, stdout_cursor, nullptr, platform::stdout_is_terminal()};
    buffered = 0;
    save_default_attributes();
    set_typed_print_writer(print_bytes);
}

void set_sink(const Sink& s) {
    flush();
    sink = s;
}

bool is_console() { return sink.terminal; }

void save_default_attributes() {
    defaults = default_attributes;
    current = defaults;
}

std::uint32_t current_attributes() { return current; }

std::int32_t apply_sgr(std::int32_t attributes, int code) {
    std::uint32_t a = attributes == -1 ? current : static_cast<std::uint32_t>(attributes);
    // the console colour number of each code from 30 to 37 and 40 to 47
    static constexpr std::uint32_t colour[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    if (code == 0) return static_cast<std::int32_t>(defaults);
    if (code == 1) a |= attribute::foreground_intensity | attribute::background_intensity;
    else if (code == 4) a |= attribute::underscore;
    else if (code == 7) a = ((a & 0x0F) << 4) | ((a & 0xF0) >> 4);
    else if (code >= 30 && code <= 37) a = (a & 0xF8) | colour[code - 30];
    else if (code == 39) a |= attribute::foreground_intensity;
    else if (code >= 40 && code <= 47) a = (a & 0x8F) | (colour[code - 40] << 4);
    else if (code == 49) a |= attribute::background_intensity;
    return static_cast<std::int32_t>(a);
}

std::size_t interpret_escape(const std::uint8_t* p, const std::uint8_t* end, int unit) {
    std::size_t u = static_cast<std::size_t>(unit);
    std::size_t available = static_cast<std::size_t>(end - p) / u;
    if (available < 2 || unicode::unit_at(p + u, unit) != '[') return 0;
    std::size_t taken = 2;
    EscapeState s;
    while (taken < available) {
        std::uint32_t c = unicode::unit_at(p + taken * u, unit);
        ++taken;
        if (!escape_step(s, c)) break;
    }
    return taken * u;
}

void write(const void* text, std::size_t bytes, int unit, bool newline) {
    FlushOnExit guard;
    auto* p = static_cast<const std::uint8_t*>(text);
    const std::uint8_t* end = p + bytes / static_cast<std::size_t>(unit) * static_cast<std::size_t>(unit);
    if (sink.terminal) {
        write_terminal(p, end, unit);
    } else {
        write_redirected(p, end, unit);
    }
    if (newline) append("\n");
}

void print_bytes(const char* bytes, std::size_t count) {
    {
        FlushOnExit guard;
        append(bytes, count);
    }
    call_line_hooks(bytes, count, 0);
}

const char* print_c_string(const char* text) {
    print_bytes(text, std::strlen(text));
    return text;
}

std::int32_t print_integer(std::int32_t value) {
    write_formatted(std::snprintf(format_buffer, sizeof format_buffer, "%i", value));
    return value;
}

std::int32_t print_hex_byte(std::int32_t value) {
    write_formatted(std::snprintf(format_buffer, sizeof format_buffer, "%02X", static_cast<unsigned>(value)));
    return value;
}

std::int32_t print_hex(std::int32_t value) {
    write_formatted(std::snprintf(format_buffer, sizeof format_buffer, "%08X", static_cast<unsigned>(value)));
    return value;
}

double print_float(double value) {
    write_formatted(std::snprintf(format_buffer, sizeof format_buffer, "%.16g", value));
    return value;
}

float print_float32(float value) {
    write_formatted(std::snprintf(format_buffer, sizeof format_buffer, "%.7g", static_cast<double>(value)));
    return value;
}

}  // namespace kiv::console_output
