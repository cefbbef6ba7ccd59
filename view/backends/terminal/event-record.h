// The backend's events: the record an event! made by the terminal backend
// stands for, the event type and key-name tables, and the field readers
// that event! uses for every field it does not keep itself.
//
// A backend event! cell: data1 the type id (1-38), data2 the serial of its
// record, data3 the flag bits. A record is bound to a fresh serial while it
// is dispatched (an EventBinding on the dispatcher's stack) and unbound when
// that dispatch returns; an event kept beyond it (set into a word by an
// actor, say) finds no record and reads as empty: face none, offset 0x0,
// key none, picked 0. Type and flags live in the cell and stay readable.
// No address ever goes into a cell.
//
// GC: the readers may make words (interning their symbols on first use) and
// the flags reader refills one block the unit keeps as a root; nothing else
// allocates.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::gui {

struct Widget;

// Event type ids. ORDER EVENT-TYPES: the ids are the type words' positions
// in the type table of event-record.cpp.
enum class EventType : std::int32_t {
    none = 0,
    down = 1, up, mid_down, mid_up, alt_down, alt_up, aux_down, aux_up,
    click, dbl_click, wheel, over, key, key_down, key_up, ime,
    focus, unfocus, enter, zoom, pan, rotate, two_tap, press_tap,
    select, change, menu, close, move, resize, moving, resizing,
    time, drawing, scroll, minimize, maximize, restore,
};
constexpr std::int32_t event_type_count = 38;

// Flag bits of an event's data3. Language-made events keep the key's code
// point in bits 0-15 instead of `special_key`.
namespace event_flag {
constexpr std::uint32_t special_key = 0x00000001;  // value holds a special key code
constexpr std::uint32_t away = 0x04000000;
constexpr std::uint32_t down = 0x02000000;
constexpr std::uint32_t mid_down = 0x01000000;
constexpr std::uint32_t alt_down = 0x00800000;
constexpr std::uint32_t aux_down = 0x00400000;
constexpr std::uint32_t control = 0x10000000;
constexpr std::uint32_t shift = 0x20000000;
constexpr std::uint32_t alt = 0x40000000;
constexpr std::uint32_t command = 0x80000000;
constexpr std::uint32_t key_mask = 0x0000FFFF;
}  // namespace event_flag

// Special key codes (the value of a key event with `special_key`).
namespace special_key {
constexpr std::int32_t up = -20, down = -21, right = -22, left = -23, end = -24, home = -25;
constexpr std::int32_t insert = -26, delete_ = -27, page_up = -28, page_down = -29;
constexpr std::int32_t f1 = -31, f12 = -42;
}  // namespace special_key

// What the dispatcher knows of one event. Which fields mean something
// depends on the type: keys fill widget and value; buttons, clicks and
// moves widget, x and y; wheels widget, x, y and delta; value events widget
// and value; time, focus, unfocus widget only; resize widget and the new
// columns and rows in x and y.
struct EventRecord {
    Widget* widget = nullptr;
    float x = 0.0f;  // pointer column relative to the widget, in cells
    float y = 0.0f;  // pointer row relative to the widget
    std::int32_t value = 0;
    float delta = 0.0f;  // wheel: +1 or -1
};

// Binds a record to a new serial for the scope of one dispatch. Bindings
// nest (an actor may run a nested event loop) and are found innermost
// first. The record must outlive the binding.
class EventBinding {
public:
    explicit EventBinding(const EventRecord* record);
    ~EventBinding();
    EventBinding(const EventBinding&) = delete;
    EventBinding& operator=(const EventBinding&) = delete;
    std::uint32_t serial() const { return serial_; }

private:
    const EventRecord* record_;
    std::uint32_t serial_;
    EventBinding* outer_;
    friend const EventRecord* record_of(const Cell* event);
};

// Makes `out` a backend event! of the type, the binding's serial and flags.
Cell* make_event(Cell* out, EventType type, const EventBinding& binding, std::uint32_t flags);
// The record behind a backend event while its dispatch runs, else nullptr
// (also for a language-made event).
const EventRecord* record_of(const Cell* event);

// The face of a widget (none when it has none or is gone). Supplied by the
// widget unit.
Cell* widget_face(const Widget* widget, Cell* out);

// The type and key-name tables.
// The symbol of a type id's word (1-38), 0 for any other id.
std::uint32_t event_type_symbol(std::int32_t id);
// The type id of a word's canonical symbol, 0 when it names no type.
std::int32_t event_type_of(const Cell* word);
// The symbol of a special key code's word, 0 for a code not in the table.
std::uint32_t special_key_symbol(std::int32_t code);

// The field readers. Each makes `out` the field's value and answers it.
Cell* get_event_type(const Cell* event, Cell* out);  // none for an id outside 1-38
Cell* get_event_face(const Cell* event, Cell* out);
Cell* get_event_window(const Cell* event, Cell* out);
Cell* get_event_offset(const Cell* event, Cell* out);
Cell* get_event_key(const Cell* event, Cell* out);
Cell* get_event_picked(const Cell* event, Cell* out);
// One block kept for this reader alone, emptied and refilled at each read:
// away, down, mid-down, alt-down, aux-down, control, shift, alt.
Cell* get_event_flags(const Cell* event, Cell* out);
Cell* get_event_flag(const Cell* event, std::uint32_t bit, Cell* out);
Cell* get_event_orientation(const Cell* event, Cell* out);

// Stores the type id of the word's canonical symbol in the event; a word
// that names no type raises script not-event-type.
Cell* set_event_type(Cell* event, const Cell* word);

// The terminal keeps no event queue: nothing is sent; answers 0.
std::int32_t OS_send_event(const Cell* event, bool queued);

}  // namespace kiv::gui
