// Low-level typed print: the runtime's own diagnostics (the fatal report,
// loading failures, registration errors) print without any language value,
// as a list of raw items each tagged with a small type code. Printing pauses
// a live text-mode view while it writes. Nothing here allocates, so it works
// on the way out of an out-of-memory failure and inside a fault handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace kiv {

struct TypedItem {
    enum Code : std::uint32_t {
        logic = 1,    // "true" when non-zero, else "false"
        integer = 2,  // signed decimal
        byte = 3,     // that one byte
        float32 = 4,  // 7 significant digits
        float64 = 5,  // 16 significant digits
        text = 6,     // NUL-terminated bytes
        hex = 7,      // eight upper-case hex digits; any other code prints so too
    };
    std::uint32_t code;
    union {
        std::int32_t i;
        std::uint32_t u;
        float f32;
        double f64;
        const char* s;
    };

    static TypedItem of_logic(std::int32_t v) { TypedItem t{logic, {}}; t.i = v; return t; }
    static TypedItem of_integer(std::int32_t v) { TypedItem t{integer, {}}; t.i = v; return t; }
    static TypedItem of_byte(std::uint8_t v) { TypedItem t{byte, {}}; t.u = v; return t; }
    static TypedItem of_float32(float v) { TypedItem t{float32, {}}; t.f32 = v; return t; }
    static TypedItem of_float64(double v) { TypedItem t{float64, {}}; t.f64 = v; return t; }
    static TypedItem of_text(const char* v) { TypedItem t{text, {}}; t.s = v; return t; }
    static TypedItem of_hex(std::uint32_t v) { TypedItem t{hex, {}}; t.u = v; return t; }
};

namespace console_output {

// Where typed print's bytes go. Standard output until the console output
// layer installs its own writer.
using ByteWriter = void (*)(const char* bytes, std::size_t count);
void set_typed_print_writer(ByteWriter writer);

// Prints the items one after the other, with nothing between them, then
// flushes the C library's streams.
void print_typed_list(const TypedItem* items, int count);
inline void print_typed_list(std::initializer_list<TypedItem> items) {
    print_typed_list(items.begin(), static_cast<int>(items.size()));
}

// Prints one byte as a one-character text; answers the byte.
std::uint8_t print_byte(std::uint8_t byte);

// The text of one item, as print_typed_list writes it. Answers the length;
// `out` needs room for 32 bytes. Text items are not copied: answers -1.
int format_item(const TypedItem& item, char* out);

}  // namespace console_output

// The items, then a line feed, written after a live view got its console
// back.
void print_line(const TypedItem* items, int count);
inline void print_line(std::initializer_list<TypedItem> items) {
    print_line(items.begin(), static_cast<int>(items.size()));
}

}  // namespace kiv
