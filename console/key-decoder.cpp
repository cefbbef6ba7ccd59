#include "console/key-decoder.h"

#include "runtime/unicode.h"

namespace kiv::key_decoder {

namespace {

constexpr int esc = 0x1B;

int letter_key(int final_byte) {
    switch (final_byte) {
        case 'A': return key::up;
        case 'B': return key::down;
        case 'C': return key::right;
        case 'D': return key::left;
        case 'H': return key::home;
        case 'F': return key::end;
        default: return key::none;
    }
}

int tilde_key(int number) {
    switch (number) {
        case 1:
        case 7: return key::home;
        case 2: return key::insert;
        case 3: return key::del;
        case 4:
        case 8: return key::end;
        case 5: return key::page_up;
        case 6: return key::page_down;
        default: return key::none;
    }
}

// ESC [ has been read: parameter bytes, intermediate bytes, one final byte.
// A sequence cut short (the input ends or pauses) is key 0.
int read_csi(ByteSource& source) {
    int first = 0;
    bool in_first = true;
    for (;;) {
        int b = source.next(escape_wait_ms);
        if (b < 0) return b == ByteSource::failed ? key::failed : key::none;
        if (b >= '0' && b <= '9') {
            if (in_first && first < 1000) first = first * 10 + (b - '0');
            continue;
        }
        if (b >= 0x3A && b <= 0x3F) {  // ; : < = > ?
            in_first = false;
            continue;
        }
        if (b >= 0x20 && b <= 0x2F) continue;  // intermediate bytes
        if (b == '~') return tilde_key(first);
        return b >= 0x40 && b <= 0x7E ? letter_key(b) : key::none;
    }
}

int read_escape(ByteSource& source) {
    int b = source.next(escape_wait_ms);
    if (b == ByteSource::timed_out) return esc;
    if (b == ByteSource::failed) return key::failed;
    if (b == '[') return read_csi(source);
    if (b == 'O') {
        int f = source.next(escape_wait_ms);
        if (f == ByteSource::failed) return key::failed;
        return f < 0 ? key::none : letter_key(f);
    }
    // Alt with a key: the key's remaining UTF-8 bytes go with it.
    int more = unicode::utf8_sequence_length(static_cast<std::uint8_t>(b));
    for (int i = 1; i < more; ++i)
        if (source.next(escape_wait_ms) < 0) break;
    return key::none;
}

// The lead byte is read; the rest of the character follows. A broken
// sequence is key 0 (it cannot be typed into the line).
int read_utf8(ByteSource& source, int lead) {
    int length = unicode::utf8_sequence_length(static_cast<std::uint8_t>(lead));
    if (length == 0) return key::none;
    std::uint8_t bytes[4] = {static_cast<std::uint8_t>(lead)};
    for (int i = 1; i < length; ++i) {
        int b = source.next(escape_wait_ms);
        if (b == ByteSource::failed) return key::failed;
        if (b < 0 || (b & 0xC0) != 0x80) return key::none;
        bytes[i] = static_cast<std::uint8_t>(b);
    }
    std::int32_t cp;
    unicode::fast_decode_utf8_char(bytes, bytes + length, &cp);
    return cp < 0 ? key::none : cp;
}

}  // namespace

int read_key(ByteSource& source) {
    int b;
    do b = source.next(-1);
    while (b == ByteSource::timed_out);
    if (b == ByteSource::failed) return key::failed;
    if (b == esc) return read_escape(source);
    // A line feed is Enter: lines typed ahead while code ran went through
    // the terminal's ordinary mode, which turns each Enter into one.
    if (b == '\n') return '\r';
    if (b < 0x80) return b;
    return read_utf8(source, b);
}

}  // namespace kiv::key_decoder
