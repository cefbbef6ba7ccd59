// Terminal bytes to key codes for the line editor.
//
// A terminal in raw mode sends characters as UTF-8 and the special keys as
// VT/xterm escape sequences. The decoder turns one key's bytes into one key
// code: a character's code point (Enter 13, Tab 9, Ctrl-A to Ctrl-Z 1 to 26,
// Backspace arrives as DEL 127; a line feed is Enter too, as lines typed
// ahead in the terminal's ordinary mode carry one), or one of the negative
// codes below for a key without a character. Recognised sequences:
//   ESC [ A/B/C/D and ESC O A/B/C/D        Up, Down, Right, Left
//   ESC [ H, ESC O H, ESC [ 1 ~, ESC [ 7 ~  Home
//   ESC [ F, ESC O F, ESC [ 4 ~, ESC [ 8 ~  End
//   ESC [ 2 ~ Insert, ESC [ 3 ~ Delete, ESC [ 5 ~ PageUp, ESC [ 6 ~ PageDown
// Parameters after the first (xterm's modifiers, as in ESC [ 1 ; 5 C) are
// read and left unused. Any other complete sequence is key 0, which the
// editor ignores, so unknown keys never type their bytes into the line.
// ESC with no byte following within escape_wait_ms is the key ESC (27); ESC
// followed by another byte (Alt with a key) consumes both and is key 0.
#pragma once

#include <cstdint>

namespace kiv::key_decoder {

namespace key {
constexpr int up = -20;
constexpr int down = -21;
constexpr int right = -22;
constexpr int left = -23;
constexpr int end = -24;
constexpr int home = -25;
constexpr int insert = -26;
constexpr int del = -27;
constexpr int page_up = -28;
constexpr int page_down = -29;
constexpr int none = 0;
// Reading failed or the input ended.
constexpr int failed = -1;
}  // namespace key

// How long a lone ESC waits for the rest of a sequence.
constexpr int escape_wait_ms = 50;

// Where the bytes come from.
class ByteSource {
public:
    // A byte (0-255); timed_out when none arrives within timeout_ms (a
    // negative timeout waits for ever); failed at the end of the input or on
    // a read error.
    static constexpr int timed_out = -2;
    static constexpr int failed = -1;
    virtual int next(int timeout_ms) = 0;

protected:
    ~ByteSource() = default;
};

// Waits for the next key and answers its code.
int read_key(ByteSource& source);

}  // namespace kiv::key_decoder
