#include "view/backends/terminal/input-decoder.h"

#include <cstring>

#include "runtime/unicode.h"

namespace kiv::gui {

namespace {

constexpr std::uint8_t esc = 0x1B;
constexpr std::uint8_t bel = 0x07;

// A control sequence carries at most this many parameters that matter; the
// rest are counted and dropped.
constexpr int max_params = 16;
// Larger parameter values saturate instead of overflowing.
constexpr std::int32_t max_param_value = 1000000;

// Mouse report bits.
constexpr int cb_shift = 4;
constexpr int cb_alt = 8;
constexpr int cb_control = 16;
constexpr int cb_wheel = 64;
constexpr int cb_extra_buttons = 128;

constexpr std::int32_t f5 = key_code::f1 - 4;

constexpr int button_none = 3;
constexpr int wheel_up = 4;
constexpr int wheel_down = 5;

void set_incomplete(InputBuffer& buffer) { buffer.incomplete = true; }

// Keeps the element that starts at `start` for the next frame, moved to the
// front of the buffer.
void keep_from(InputBuffer& buffer, std::uint32_t start) {
    if (start > 0) {
        std::uint32_t left = buffer.bytes.count - start;
        std::memmove(buffer.bytes.items, buffer.bytes.items + start, left);
        buffer.bytes.count = left;
    }
    buffer.read_pos = 0;
    ++buffer.rewrites;
}

std::int32_t control_key(std::uint8_t b) {
    if (b == 8) return 127;
    if (b == 10) return 13;
    return b;
}

// ESC O x and ESC [ x (x a letter, no parameters).
std::int32_t letter_key(std::uint8_t b) {
    switch (b) {
        case 'A': return key_code::up;
        case 'B': return key_code::down;
        case 'C': return key_code::right;
        case 'D': return key_code::left;
        case 'F': return key_code::end;
        case 'H': return key_code::home;
        default: return 0;
    }
}

std::int32_t ss3_key(std::uint8_t b) {
    if (b >= 'P' && b <= 'S') return key_code::f1 - (b - 'P');
    return letter_key(b);
}

// ESC [ n ~, by n.
std::int32_t tilde_key(std::int32_t n) {
    switch (n) {
        case 1:
        case 7: return key_code::home;
        case 2: return key_code::insert;
        case 3: return key_code::delete_;
        case 4:
        case 8: return key_code::end;
        case 5: return key_code::page_up;
        case 6: return key_code::page_down;
        case 15: return f5;
        case 17: return f5 - 1;
        case 18: return f5 - 2;
        case 19: return f5 - 3;
        case 20: return f5 - 4;
        case 21: return f5 - 5;
        case 23: return f5 - 6;
        case 24: return f5 - 7;
        default: return 0;
    }
}

struct ControlSequence {
    std::uint32_t start;  // the ESC
    std::uint32_t final_at;
    std::int32_t params[max_params];
    int count;
};

// The key of a control sequence that is neither a mouse nor a cursor
// report: the bytes after "[" decide. Modifier parameters are not read.
std::int32_t csi_key(const InputBuffer& buffer, const ControlSequence& seq) {
    const std::uint8_t* p = buffer.bytes.items;
    std::uint8_t final_byte = p[seq.final_at];
    std::uint32_t first = seq.start + 2;
    if (final_byte == 'Z') return seq.final_at == first ? back_tab_code : 0;
    if (final_byte != '~') return seq.final_at == first ? letter_key(final_byte) : 0;
    std::int32_t n = 0;
    std::uint32_t i = first;
    while (i < seq.final_at && p[i] >= '0' && p[i] <= '9' && n < max_param_value) n = n * 10 + (p[i++] - '0');
    if (i == first || (p[i] != '~' && p[i] != ';')) return 0;
    return tilde_key(n);
}

void mouse_report(InputBuffer& buffer, InputSink& sink, const ControlSequence& seq, bool release) {
    const int cb = seq.params[0];
    // Buttons 8 to 11 (back, forward...) mean nothing here; by their low
    // bits alone they would pass for the left button.
    if (cb & cb_extra_buttons) return;
    const int button = (cb & 3) + ((cb & cb_wheel) >> 4);
    const float x = static_cast<float>(seq.params[1] - 1);
    const float y = static_cast<float>(seq.params[2] - sink.view_top() - 1);
    std::uint32_t flags = 0;
    if (cb & cb_shift) flags |= event_flag::shift;
    if (cb & cb_alt) flags |= event_flag::alt;
    if (cb & cb_control) flags |= event_flag::control;
    if (button < button_none) {
        const int released = release ? 1 : 0;
        if (released != buffer.last_button) {
            buffer.last_button = released;
            sink.button(button * 2 + released + 1, x, y, flags);
        } else {
            sink.move(x, y, flags | event_flag::down);
        }
    } else if (button == button_none) {
        sink.move(x, y, flags);
    } else if (button == wheel_up) {
        sink.wheel(1, x, y, flags);
    } else if (button == wheel_down) {
        sink.wheel(-1, x, y, flags);
    }
}

// ESC [ ...: parameters, then one final byte. An ESC before the final byte
// breaks the sequence off; that ESC starts the next element.
void decode_csi(InputBuffer& buffer, InputSink& sink, std::uint32_t start) {
    ControlSequence seq{};
    seq.start = start;
    std::int32_t current = 0;
    auto store = [&] {
        if (seq.count < max_params) seq.params[seq.count] = current;
        ++seq.count;
        current = 0;
    };
    for (std::uint32_t i = start + 2;; ++i) {
        if (i >= buffer.bytes.count) return set_incomplete(buffer);
        const std::uint8_t c = buffer.bytes[i];
        if (c >= '0' && c <= '9') {
            if (current < max_param_value) current = current * 10 + (c - '0');
        } else if (c == ';') {
            store();
        } else if (c == esc) {
            buffer.read_pos = i;
            return;
        } else if (c >= 64 && c <= 126 && c != '[') {
            store();
            seq.final_at = i;
            buffer.read_pos = i + 1;
            break;
        }
        // Anything else ("<", "?", intermediate bytes) only marks the
        // sequence's kind.
    }
    const std::uint8_t final_byte = buffer.bytes[seq.final_at];
    if ((final_byte == 'M' || final_byte == 'm') && seq.count == 3)
        return mouse_report(buffer, sink, seq, final_byte == 'm');
    if (final_byte == 'R' && seq.count == 2) return sink.cursor_report(seq.params[0], seq.params[1]);
    if (std::int32_t key = csi_key(buffer, seq)) sink.key(0, key);
}

// ESC P (device control) and ESC ] (operating-system command) run to the
// string terminator ESC \; an OSC may also end with BEL. Any other escape
// sequence met inside cancels the string and is decoded itself.
void skip_string(InputBuffer& buffer, std::uint32_t start) {
    const bool osc = buffer.bytes[start + 1] == ']';
    for (std::uint32_t i = start + 2; i < buffer.bytes.count; ++i) {
        const std::uint8_t c = buffer.bytes[i];
        if (osc && c == bel) {
            buffer.read_pos = i + 1;
            return;
        }
        if (c != esc) continue;
        if (i + 1 >= buffer.bytes.count) break;
        buffer.read_pos = buffer.bytes[i + 1] == '\\' ? i + 2 : i;
        return;
    }
    set_incomplete(buffer);
}

void decode_escape(InputBuffer& buffer, InputSink& sink, std::uint32_t start) {
    if (start + 1 >= buffer.bytes.count) return set_incomplete(buffer);
    const std::uint8_t kind = buffer.bytes[start + 1];
    if (kind == 'P' || kind == ']') return skip_string(buffer, start);
    if (kind == '[') return decode_csi(buffer, sink, start);
    if (kind == 'O') {
        if (buffer.bytes.count - start < 3) return set_incomplete(buffer);
        buffer.read_pos = start + 3;
        if (std::int32_t key = ss3_key(buffer.bytes[start + 2])) sink.key(0, key);
        return;
    }
    // Alt with a key, or anything unknown: both bytes go, nothing is sent.
    buffer.read_pos = start + 2;
}

bool continuation(std::uint8_t b) { return (b & 0xC0) == 0x80; }

void decode_text(InputBuffer& buffer, InputSink& sink, std::uint32_t start) {
    const std::uint8_t* p = buffer.bytes.items + start;
    const std::uint32_t available = buffer.bytes.count - start;
    const int need = p[0] < 0x80 ? 1 : unicode::utf8_sequence_length(p[0]);
    if (need == 0) {
        buffer.read_pos = start + 1;
        return;
    }
    if (available < static_cast<std::uint32_t>(need)) {
        for (std::uint32_t i = 1; i < available; ++i)
            if (!continuation(p[i])) {
                buffer.read_pos = start + 1;
                return;
            }
        return set_incomplete(buffer);
    }
    std::int32_t cp = -1;
    unicode::fast_decode_utf8_char(p, p + need, &cp);
    if (cp < 0) {
        // Never decodable: drop the lead byte, the rest follows one by one.
        buffer.read_pos = start + 1;
        return;
    }
    buffer.read_pos = start + static_cast<std::uint32_t>(need);
    sink.key(cp, 0);
}

}  // namespace

void make_input_buffer(InputBuffer& buffer) {
    buffer = InputBuffer{};
    buffer.bytes.reserve(input_buffer_room);
}

void free_input_buffer(InputBuffer& buffer) {
    memory::free(buffer.bytes.items);
    buffer = InputBuffer{};
}

void reset_input_buffer(InputBuffer& buffer) {
    buffer.bytes.clear();
    buffer.read_pos = 0;
    buffer.incomplete = false;
    ++buffer.rewrites;
}

bool input_exhausted(const InputBuffer& buffer) { return buffer.read_pos >= buffer.bytes.count; }

void append_input_byte(InputBuffer& buffer, std::uint8_t byte) { buffer.bytes.push(byte); }

void append_input_bytes(InputBuffer& buffer, const std::uint8_t* bytes, std::uint32_t count) {
    const std::uint32_t need = buffer.bytes.count + count;
    if (need > buffer.bytes.room) buffer.bytes.reserve(need > buffer.bytes.room * 2 ? need : buffer.bytes.room * 2);
    std::memcpy(buffer.bytes.items + buffer.bytes.count, bytes, count);
    buffer.bytes.count += count;
}

void append_input_char(InputBuffer& buffer, std::uint32_t code_point) {
    std::uint8_t utf8[4];
    int n = unicode::encode_utf8_char(code_point, utf8);
    append_input_bytes(buffer, utf8, static_cast<std::uint32_t>(n));
}

void decode_input(InputBuffer& buffer, InputSink& sink) {
    buffer.incomplete = false;
    while (buffer.read_pos < buffer.bytes.count) {
        const std::uint32_t start = buffer.read_pos;
        const std::uint32_t rewrites = buffer.rewrites;
        const std::uint8_t b = buffer.bytes[start];
        // An ESC alone in the pass is the Escape key; one among other bytes
        // starts a sequence, which may still be arriving.
        if (b == esc && buffer.bytes.count > 1) {
            decode_escape(buffer, sink, start);
        } else if (b < 32 || b == 127) {
            buffer.read_pos = start + 1;
            sink.key(control_key(b), 0);
        } else {
            decode_text(buffer, sink, start);
        }
        // A nested loop run by the report decoded this buffer itself and
        // kept or dropped its bytes: `start` no longer points into it. What
        // that loop kept (an incomplete element) waits for the next frame.
        if (buffer.rewrites != rewrites) {
            if (buffer.incomplete) return;
            continue;
        }
        // Only an element that reported nothing can be incomplete, so the
        // buffer is still the one `start` points into.
        if (buffer.incomplete) return keep_from(buffer, start);
    }
    reset_input_buffer(buffer);
}

}  // namespace kiv::gui
