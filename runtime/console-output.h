// The console output layer: everything the language prints ends here.
//
// Text arrives as the raw units of a string buffer (1, 2 or 4 bytes per code
// point) or as a NUL-terminated byte string, and leaves as UTF-8 with LF line
// ends, in one of two ways chosen at start-up:
// - on a terminal, the escape dialect below is interpreted and carried out
//   as standard VT sequences; an ESC that starts no sequence prints as the
//   visible symbol U+241B rather than reaching the terminal;
// - redirected (a file or a pipe), the bytes pass through untouched.
//
// The dialect: ESC [ followed by s (save cursor), u (restore), K (erase to
// the end of the row), J (erase from the cursor's row down), H or f (home),
// ? (print a report of the screen), or numbers and a letter: n A/B/C/D move
// the cursor n cells (0 moves nothing), 1J/2J and 1K/2K erase above / all
// and left / the whole row, c ; r H places the cursor at column c, row r
// (column first, both from 0), and m sets colours through a console
// attribute word (the table in apply_sgr). Numbers are taken modulo 65,535.
//
// Output is buffered in a fixed 1 KB buffer and every write call flushes it
// before returning; nothing here allocates. Bytes go to a Sink, standard
// output unless a test installs its own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::console_output {

struct Sink {
    void (*write)(void* context, const std::uint8_t* bytes, std::size_t count);
    // The terminal's size and cursor position (0-based); null or false when
    // unknown. Used only on a terminal.
    bool (*size)(void* context, int* columns, int* rows);
    bool (*cursor)(void* context, int* column, int* row);
    void* context;
    bool terminal;  // interpret the escape dialect
};

// Chooses standard output and whether it is a terminal, and takes the
// default attributes. Called by the platform init.
void init();
// Sends all further output to sink (tests).
void set_sink(const Sink& sink);
bool is_console();

// Console attribute bits: colours are B + 2G + 4R.
namespace attribute {
constexpr std::uint32_t foreground_intensity = 0x08;
constexpr std::uint32_t background_intensity = 0x80;
constexpr std::uint32_t underscore = 0x8000;
}  // namespace attribute

// LINUX: the terminal's own colours stand for the attributes the console
// starts with: a foreground or background equal to the default's is written
// as the terminal's default colour.
constexpr std::uint32_t default_attributes = 0x07;

// Makes the default attributes the current ones.
void save_default_attributes();
std::uint32_t current_attributes();

// The attributes after SGR code `code` applied to `attributes` (-1: the
// current ones). Sets nothing.
std::int32_t apply_sgr(std::int32_t attributes, int code);

// Interprets the sequence whose ESC is at p (text up to end, in units of
// `unit`) and answers the bytes it takes, 0 when no sequence starts there. A
// sequence cut by end takes what it saw and has no effect.
std::size_t interpret_escape(const std::uint8_t* p, const std::uint8_t* end, int unit);

// Writes `bytes` bytes of text in units of `unit` (1, 2 or 4), with a line
// end when `newline`. A code point above 0x10FFFF fires script invalid-char.
void write(const void* text, std::size_t bytes, int unit, bool newline);
inline void write_latin1(const void* text, std::size_t bytes) { write(text, bytes, 1, false); }
inline void write_latin1_line(const void* text, std::size_t bytes) { write(text, bytes, 1, true); }
inline void write_ucs2(const void* text, std::size_t bytes) { write(text, bytes, 2, false); }
inline void write_ucs2_line(const void* text, std::size_t bytes) { write(text, bytes, 2, true); }
inline void write_ucs4(const void* text, std::size_t bytes) { write(text, bytes, 4, false); }
inline void write_ucs4_line(const void* text, std::size_t bytes) { write(text, bytes, 4, true); }

// Writes the bytes as they are (no escapes interpreted), then calls the
// line hooks with the text.
const char* print_c_string(const char* text);
void print_bytes(const char* bytes, std::size_t count);

// The low-level number printers; each answers its argument and calls the
// line hooks with the text it wrote.
std::int32_t print_integer(std::int32_t value);    // "%i"
std::int32_t print_hex_byte(std::int32_t value);   // "%02X"
std::int32_t print_hex(std::int32_t value);        // "%08X"
double print_float(double value);                  // "%.16g"
float print_float32(float value);                  // "%.7g"

}  // namespace kiv::console_output
