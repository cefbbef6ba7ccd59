// The backend's global state and the widget table.
//
// The table is an array of record pointers indexed by slot (slot 0 unused)
// with a generation per slot; a WidgetId packs both, so an id whose record
// was freed (or whose slot was reused) resolves to null.
#include "view/backends/terminal/gui.h"

#include "runtime/collector.h"
#include "runtime/tracked-alloc.h"

namespace kiv::gui {

State state;

namespace table_detail {
raw::RawArray<Widget*> slots;
}

namespace {

constexpr std::uint32_t slot_bits = 20;
constexpr std::uint32_t slot_mask = (1u << slot_bits) - 1;
constexpr std::uint32_t generation_mask = 0xFFF;

raw::RawArray<std::uint16_t> generations;  // per slot, parallel to `slots`
raw::RawArray<std::uint32_t> free_slots;
std::uint32_t live_count = 0;

std::uint32_t slot_of(WidgetId id) { return id & slot_mask; }
std::uint32_t generation_of(WidgetId id) { return id >> slot_bits; }

WidgetId make_id(std::uint32_t slot) {
    // Generation 0 is skipped so that no id of a live record is ever a bare
    // slot number that an uninitialised word could equal by accident.
    return (static_cast<std::uint32_t>(generations[slot]) << slot_bits) | slot;
}

void forget(Widget*& ref, Widget* w) {
    if (ref == w) ref = nullptr;
}

void mark_widgets() {
    for_each_widget([](Widget* w) {
        collector::mark_cell(&w->face);
        collector::mark_cell(&w->ui);
    });
}

}  // namespace

WidgetId register_widget(Widget* w) {
    using table_detail::slots;
    if (slots.count == 0) {
        slots.push(nullptr);
        generations.push(0);
    }
    std::uint32_t slot;
    if (!free_slots.empty()) {
        slot = free_slots.pop();
    } else {
        if (slots.count > slot_mask) raw::out_of_memory();
        slot = slots.count;
        slots.push(nullptr);
        generations.push(0);
    }
    generations[slot] = static_cast<std::uint16_t>((generations[slot] % generation_mask) + 1);
    slots[slot] = w;
    w->id = make_id(slot);
    ++live_count;
    return w->id;
}

void unregister_widget(Widget* w) {
    if (!w) return;
    std::uint32_t slot = slot_of(w->id);
    if (slot != 0 && slot < table_detail::slots.count && table_detail::slots[slot] == w) {
        table_detail::slots[slot] = nullptr;
        free_slots.push(slot);
        --live_count;
    }
    w->id = 0;
    forget(state.focused, w);
    forget(state.hovered, w);
    forget(state.capture, w);
    forget(state.last_window, w);
    forget(state.last_release, w);
    for (std::uint32_t i = 0; i < state.pressed.count;) {
        if (state.pressed[i] == w)
            state.pressed.erase_at(i);
        else
            ++i;
    }
    for (WindowRecord* r : state.windows) forget(r->focus, w);
}

Widget* widget_at(WidgetId id) {
    std::uint32_t slot = slot_of(id);
    if (slot == 0 || slot >= table_detail::slots.count) return nullptr;
    if (generations[slot] != generation_of(id)) return nullptr;
    return table_detail::slots[slot];
}

std::uint32_t widget_count() { return live_count; }

void register_marking() {
    // A runtime started afresh (tests) has a new heap: records left from
    // the old one hold node ids that mean nothing now. They are dropped
    // from the table (their memory stays tracked until exit).
    for (std::uint32_t i = 1; i < table_detail::slots.count; ++i) {
        if (!table_detail::slots[i]) continue;
        table_detail::slots[i] = nullptr;
        free_slots.push(i);
    }
    live_count = 0;
    reset_session();
    collector::register_hook(mark_widgets);
}

void reset_session() {
    state.windows.clear();
    state.active_window = nullptr;
    state.last_window = nullptr;
    state.focused = nullptr;
    state.hovered = nullptr;
    state.capture = nullptr;
    state.pressed.clear();
    state.last_x = state.last_y = 0;
    state.click_state = 0;
    state.click_timer = 0;
    state.last_release = nullptr;
    state.mouse_tracking = false;
    memory::free(state.canvas);
    state.canvas = nullptr;
    state.canvas_width = state.canvas_height = 0;
    state.output.clear();
    state.dirty = false;
    state.view_lines = 0;
    state.shown = false;
    state.fullscreen = false;
    state.alt_screen = false;
    state.view_top = 0;
    state.view_left = 0;
    state.caret_x = state.caret_y = -1;
}

}  // namespace kiv::gui
