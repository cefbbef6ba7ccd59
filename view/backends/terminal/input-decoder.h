// The terminal backend's input decoder: the bytes a terminal in raw mode
// sends (UTF-8 text, control keys, VT/xterm key sequences, SGR mouse
// reports, cursor-position reports) turned into key, mouse and cursor
// events.
//
// The event loop appends each frame's bytes to an InputBuffer and decodes
// it once per frame. An element whose bytes have not all arrived (a UTF-8
// character or an escape sequence cut by the end of the buffer) stays in
// the buffer from its first byte and is decoded when the rest arrives.
// Bytes that can never be decoded are dropped one at a time, so they never
// stall the input.
//
// Recognised keys, dispatched with their special code (negative) or, for
// Shift-Tab, as key 9 with the shift flag:
//   ESC [ A/B/C/D, ESC O A/B/C/D             up down right left
//   ESC [ H, ESC O H, ESC [ 1 ~, ESC [ 7 ~    home
//   ESC [ F, ESC O F, ESC [ 4 ~, ESC [ 8 ~    end
//   ESC [ 2 ~ insert, ESC [ 3 ~ delete, ESC [ 5 ~ / 6 ~ page-up / page-down
//   ESC O P/Q/R/S F1-F4; ESC [ 15/17/18/19/20/21/23/24 ~ F5-F12; ESC [ Z
// Parameters after the first of a "~" sequence are not read (ESC [ 3 ; 5 ~
// is delete); a letter sequence with parameters (ESC [ 1 ; 5 A) gives
// nothing. Device-control and operating-system strings are skipped whole.
//
// Nothing here touches language values: the decoder reports to an
// InputSink, which the event loop turns into dispatch.
#pragma once

#include <cstdint>

#include "runtime/raw-array.h"
#include "view/backends/terminal/gui.h"

namespace kiv::gui {

// Shift-Tab is not a key of its own: the dispatch makes this special code
// Tab with the shift flag. The other special codes are gui.h's key_code.
constexpr std::int32_t back_tab_code = 10;

// Where decoded input goes.
class InputSink {
public:
    // A key for the focused widget: a character code with special 0, or
    // code 0 with a special code.
    virtual void key(std::int32_t code, std::int32_t special) = 0;
    // Mouse events, x and y in cells relative to the view; button types as
    // gui.h's event_type (down to alt-up), flags as its event_flag.
    virtual void button(int type, float x, float y, std::uint32_t flags) = 0;
    virtual void move(float x, float y, std::uint32_t flags) = 0;
    virtual void wheel(int delta, float x, float y, std::uint32_t flags) = 0;
    // ESC [ row ; column R, both 1-based as the terminal sends them.
    virtual void cursor_report(int row, int column) = 0;
    // The terminal row (0-based) where the view starts; mouse rows are
    // made relative to it.
    virtual int view_top() = 0;

protected:
    ~InputSink() = default;
};

// The bytes read and not yet decoded. The read position is 0-based.
struct InputBuffer {
    raw::RawArray<std::uint8_t> bytes;
    std::uint32_t read_pos = 0;
    // The element under decoding ran past the last byte.
    bool incomplete = false;
    // 1 after a button release, 0 after a press.
    int last_button = 1;
    // Counts the times the bytes were moved or dropped (an element kept for
    // the next frame, a reset): a decoding pass sees from it that a nested
    // loop rewrote the buffer under it.
    std::uint32_t rewrites = 0;
};

// Room the buffer starts with; it grows as needed.
constexpr std::uint32_t input_buffer_room = 100;

void make_input_buffer(InputBuffer& buffer);
void free_input_buffer(InputBuffer& buffer);
// Empties the buffer: no bytes, position 0, nothing incomplete.
void reset_input_buffer(InputBuffer& buffer);
bool input_exhausted(const InputBuffer& buffer);
void append_input_byte(InputBuffer& buffer, std::uint8_t byte);
void append_input_bytes(InputBuffer& buffer, const std::uint8_t* bytes, std::uint32_t count);
// Appends a code point as UTF-8 (1 to 4 bytes).
void append_input_char(InputBuffer& buffer, std::uint32_t code_point);

// Decodes every complete element of the buffer and reports each to the
// sink, in order; keeps an incomplete one for the next call. The read
// position moves past an element before it is reported, and the buffer is
// read again after each report: the sink runs actors, and a nested event
// loop in one of them may grow or reset the buffer (decoding then goes on
// with what the nested loop left, which is nothing after a reset).
void decode_input(InputBuffer& buffer, InputSink& sink);

}  // namespace kiv::gui
