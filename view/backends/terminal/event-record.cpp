// The backend's events: serial bindings, the type and key-name tables, the
// field readers. See event-record.h.
#include "view/backends/terminal/event-record.h"

#include <cmath>
#include <cstdint>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"

namespace kiv::gui {

namespace {

// ORDER EVENT-TYPES.
constexpr const char* type_names[event_type_count] = {
    "down",     "up",        "mid-down", "mid-up",    "alt-down",  "alt-up",   "aux-down",
    "aux-up",   "click",     "dbl-click", "wheel",    "over",      "key",      "key-down",
    "key-up",   "ime",       "focus",    "unfocus",   "enter",     "zoom",     "pan",
    "rotate",   "two-tap",   "press-tap", "select",   "change",    "menu",     "close",
    "move",     "resize",    "moving",   "resizing",  "time",      "drawing",  "scroll",
    "minimize", "maximize",  "restore",
};

// Special key codes from -20 (index 0) to -42; -30 has no key.
constexpr std::int32_t first_special = -20;
constexpr std::int32_t last_special = -42;
constexpr const char* key_names[first_special - last_special + 1] = {
    "up",  "down", "right", "left", "end", "home", "insert", "delete", "page-up", "page-down", nullptr,
    "F1",  "F2",   "F3",    "F4",   "F5",  "F6",   "F7",     "F8",     "F9",      "F10",       "F11",
    "F12",
};
constexpr int key_name_count = static_cast<int>(sizeof key_names / sizeof key_names[0]);

// The flag words of the flags reader, in the order it lists them.
struct FlagWord {
    std::uint32_t bit;
    const char* name;
};
constexpr FlagWord flag_words[] = {
    {event_flag::away, "away"},         {event_flag::down, "down"},
    {event_flag::mid_down, "mid-down"}, {event_flag::alt_down, "alt-down"},
    {event_flag::aux_down, "aux-down"}, {event_flag::control, "control"},
    {event_flag::shift, "shift"},       {event_flag::alt, "alt"},
};
constexpr int flag_word_count = static_cast<int>(sizeof flag_words / sizeof flag_words[0]);

// Symbols of the tables, interned on first use (symbols are never removed,
// so the ids stay valid for the process).
struct Symbols {
    bool made = false;
    std::uint32_t types[event_type_count];
    std::uint32_t canonical_types[event_type_count];
    std::uint32_t keys[key_name_count];
    std::uint32_t flags[flag_word_count];
    std::uint32_t awake;
    std::uint32_t done;
};
Symbols symbols;

const Symbols& tables() {
    if (symbols.made) return symbols;
    for (int i = 0; i < event_type_count; ++i) {
        symbols.types[i] = symbol::make(type_names[i]);
        symbols.canonical_types[i] = symbol::resolve(symbols.types[i]);
    }
    for (int i = 0; i < key_name_count; ++i) symbols.keys[i] = key_names[i] ? symbol::make(key_names[i]) : 0;
    for (int i = 0; i < flag_word_count; ++i) symbols.flags[i] = symbol::make(flag_words[i].name);
    symbols.awake = symbol::make("awake");
    symbols.done = symbol::resolve(symbol::make("done"));
    symbols.made = true;
    return symbols;
}

// GC: the flags reader's block, a root from its first use.
Cell flags_block{static_cast<std::uint32_t>(Type::none), 0, 0, 0};

// The innermost binding, and the last serial given (0 is never given).
EventBinding* innermost = nullptr;
std::uint32_t last_serial = 0;

bool is_wheel(const Cell* event) { return event->data1 == static_cast<std::uint32_t>(event_type::wheel); }

// Truncated toward zero; a value no integer! holds (a NaN, say) reads 0.
std::int32_t to_cells(float v) {
    if (!(std::fabs(v) < 2147483520.0f)) return 0;
    return static_cast<std::int32_t>(v);
}

}  // namespace

void init_event_tables() {
    symbols.made = false;
    none::make_at(&flags_block);
}

std::uint32_t awake_symbol() { return tables().awake; }
std::uint32_t done_symbol() { return tables().done; }

EventBinding::EventBinding(const EventRecord* record)
    : record_(record), widget_(record->widget ? record->widget->id : 0), outer_(innermost) {
    if (++last_serial == 0) ++last_serial;
    serial_ = last_serial;
    innermost = this;
}

EventBinding::~EventBinding() { innermost = outer_; }

Cell* make_event(Cell* out, int type, const EventBinding& binding, std::uint32_t flags) {
    *out = Cell{static_cast<std::uint32_t>(Type::event), static_cast<std::uint32_t>(type), binding.serial(),
                flags};
    return out;
}

namespace {

const EventBinding* binding_of(const Cell* event) {
    if (!event->is(Type::event) || event::is_made(event) || event->data2 == 0) return nullptr;
    for (const EventBinding* b = innermost; b; b = b->outer())
        if (b->serial() == event->data2) return b;
    return nullptr;
}

}  // namespace

const EventRecord* record_of(const Cell* event) {
    const EventBinding* b = binding_of(event);
    return b ? b->record() : nullptr;
}

Widget* event_widget(const Cell* event) {
    const EventBinding* b = binding_of(event);
    return b && b->widget_id() ? widget_at(b->widget_id()) : nullptr;
}

std::uint32_t event_type_symbol(std::int32_t id) {
    if (id < 1 || id > event_type_count) return 0;
    return tables().types[id - 1];
}

std::int32_t event_type_of(const Cell* word) {
    if (!word::is_word_family(word)) return 0;
    const std::uint32_t canonical = symbol::resolve(word->data2);
    const Symbols& t = tables();
    for (int i = 0; i < event_type_count; ++i)
        if (t.canonical_types[i] == canonical) return i + 1;
    return 0;
}

std::uint32_t special_key_symbol(std::int32_t code) {
    if (code > first_special || code < last_special) return 0;
    return tables().keys[first_special - code];
}

Cell* get_event_type(const Cell* event, Cell* out) {
    const std::uint32_t s = event_type_symbol(static_cast<std::int32_t>(event->data1));
    return s ? word::make_at(s, out) : none::make_at(out);
}

Cell* get_event_face(const Cell* event, Cell* out) {
    const Widget* w = event_widget(event);
    return w ? cell::copy(&w->face, out) : none::make_at(out);
}

Cell* get_event_window(const Cell*, Cell* out) { return none::make_at(out); }

Cell* get_event_offset(const Cell* event, Cell* out) {
    *out = pair::make_cell(0, 0);
    if (const EventRecord* r = record_of(event)) pair::make_at(out, to_cells(r->x), to_cells(r->y));
    return out;
}

Cell* get_event_key(const Cell* event, Cell* out) {
    const EventRecord* r = record_of(event);
    if (!r) return none::make_at(out);
    if (event->data3 & event_flag::special_key) {
        const std::uint32_t s = special_key_symbol(r->value);
        return s ? word::make_at(s, out) : none::make_at(out);
    }
    return char_::make_at(out, static_cast<std::uint32_t>(r->value));
}

Cell* get_event_picked(const Cell* event, Cell* out) {
    const EventRecord* r = record_of(event);
    if (is_wheel(event)) return float_::make_at(out, r ? r->delta : 0.0);
    return integer::make_at(out, r ? r->value : 0);
}

Cell* get_event_flags(const Cell* event, Cell* out) {
    if (!flags_block.is(Type::block)) {
        block::make_at(&flags_block, flag_word_count);
        collector::register_root_cell(&flags_block);
    }
    block::ks_clear(&flags_block);
    const Symbols& t = tables();
    for (int i = 0; i < flag_word_count; ++i) {
        if (!(event->data3 & flag_words[i].bit)) continue;
        Cell w;
        word::make_at(t.flags[i], &w);
        block::ks_append(&flags_block, &w);
    }
    flags_block.data1 = 0;
    *out = flags_block;
    return out;
}

Cell* get_event_flag(const Cell* event, std::uint32_t bit, Cell* out) {
    return logic::make_at(out, (event->data3 & bit) != 0);
}

Cell* get_event_orientation(const Cell*, Cell* out) { return none::make_at(out); }

Cell* set_event_type(Cell* event, const Cell* word) {
    const std::int32_t id = event_type_of(word);
    if (id == 0) fire(ErrorId::script_not_event_type, word);
    event->data1 = static_cast<std::uint32_t>(id);
    return event;
}

std::int32_t OS_send_event(const Cell*, bool) { return 0; }

}  // namespace kiv::gui
