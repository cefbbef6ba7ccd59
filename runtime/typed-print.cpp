#include "runtime/typed-print.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "runtime/error-exit.h"
#include "view/backends/terminal/gui-print.h"

namespace kiv::console_output {

namespace {

// Write failures are ignored: a diagnostic has nowhere else to go.
void write_stdout(const char* bytes, std::size_t count) {
    while (count > 0) {
        ssize_t n = ::write(STDOUT_FILENO, bytes, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
}

ByteWriter writer = write_stdout;

// Written by hand rather than with printf: the fatal report prints integers
// from a fault handler, where the C library's formatting is not safe to use.
int format_decimal(std::int32_t value, char* out) {
    char digits[12];
    int n = 0;
    // Widened so that the most negative value has a magnitude.
    std::int64_t v = value;
    std::uint64_t magnitude = v < 0 ? static_cast<std::uint64_t>(-v) : static_cast<std::uint64_t>(v);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    int length = 0;
    if (value < 0) out[length++] = '-';
    while (n) out[length++] = digits[--n];
    return length;
}

int format_hex(std::uint32_t value, char* out) {
    static constexpr char digits[] = "0123456789ABCDEF";
    for (int i = 7; i >= 0; --i) {
        out[i] = digits[value & 0xF];
        value >>= 4;
    }
    return 8;
}

int format_float(double value, int digits, char* out) {
    int n = std::snprintf(out, 32, "%.*g", digits, value);
    return n < 0 ? 0 : (n > 31 ? 31 : n);
}

int copy_text(const char* text, char* out) {
    int n = static_cast<int>(std::strlen(text));
    std::memcpy(out, text, static_cast<std::size_t>(n));
    return n;
}

void print_text(const char* text) {
    if (text) writer(text, std::strlen(text));
}

}  // namespace

void set_typed_print_writer(ByteWriter w) { writer = w ? w : write_stdout; }

int format_item(const TypedItem& item, char* out) {
    switch (item.code) {
        case TypedItem::logic: return copy_text(item.i ? "true" : "false", out);
        case TypedItem::integer: return format_decimal(item.i, out);
        // A byte prints as a one-character C string, so a zero byte prints nothing.
        case TypedItem::byte: out[0] = static_cast<char>(item.u); return out[0] ? 1 : 0;
        case TypedItem::float32: return format_float(item.f32, 7, out);
        case TypedItem::float64: return format_float(item.f64, 16, out);
        case TypedItem::text: return -1;
        default: return format_hex(item.u, out);
    }
}

void print_typed_list(const TypedItem* items, int count) {
    gui::before_print();
    for (int i = 0; i < count; ++i) {
        char buffer[32];
        int n = format_item(items[i], buffer);
        if (n < 0)
            print_text(items[i].s);
        else
            writer(buffer, static_cast<std::size_t>(n));
    }
    // A fault may have struck inside the C library's stream code, whose locks
    // would then never be released.
    if (!runtime::handling_fault()) std::fflush(nullptr);
    gui::after_print();
}

std::uint8_t print_byte(std::uint8_t byte) {
    char text = static_cast<char>(byte);
    if (text) writer(&text, 1);
    return byte;
}

}  // namespace kiv::console_output

namespace kiv {

void print_line(const TypedItem* items, int count) {
    console_output::print_typed_list(items, count);
    console_output::print_byte('\n');
}

}  // namespace kiv
