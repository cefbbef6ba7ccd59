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
#include "view/backends/terminal/gui.h"

namespace kiv::gui {

constexpr std::int32_t event_type_count = 38;

// Flag bits beyond gui.h's: `command`, which only made events carry, and
// the key's code point of a made event in bits 0-15.
namespace event_flag {
constexpr std::uint32_t command = 0x80000000;
constexpr std::uint32_t key_mask = 0x0000FFFF;
}  // namespace event_flag

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
    const EventRecord* record() const { return record_; }
    WidgetId widget_id() const { return widget_; }
    const EventBinding* outer() const { return outer_; }

private:
    const EventRecord* record_;
    WidgetId widget_;  // the record's widget when bound; an actor may free it
    std::uint32_t serial_;
    EventBinding* outer_;
};

// Makes `out` a backend event! of the type, the binding's serial and flags.
Cell* make_event(Cell* out, int type, const EventBinding& binding, std::uint32_t flags);
// The record behind a backend event while its dispatch runs, else nullptr
// (also for a language-made event).
const EventRecord* record_of(const Cell* event);
// The record's widget while its dispatch runs and the widget lives, else
// nullptr.
Widget* event_widget(const Cell* event);

// Forgets the symbols and the flags block of an earlier heap. The event!
// datatype's binding calls it at start-up.
void init_event_tables();
// The symbols of the words `awake` and (canonical) `done`.
std::uint32_t awake_symbol();
std::uint32_t done_symbol();

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
