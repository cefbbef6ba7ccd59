// The words the widget records and the face lifecycle test values against:
// face types, face options and facet change actions. Interned once at first
// use, as canonical symbols.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv::gui {

// W(identifier, spelling). ORDER: free to change.
#define KIV_WIDGET_WORDS(W)                                                                  \
    /* face types */                                                                         \
    W(window, "window") W(field, "field") W(area, "area") W(button, "button") W(base, "base") \
    W(progress, "progress") W(group_box, "group-box") W(check, "check") W(radio, "radio")    \
    W(text_list, "text-list") W(rich_text, "rich-text") W(screen, "screen")                  \
    W(drop_down, "drop-down") W(drop_list, "drop-list") W(tab_panel, "tab-panel")            \
    /* face options */                                                                       \
    W(caret, "caret") W(border_corners, "border-corners") W(round, "round")                  \
    W(border_color, "border-color")                                                          \
    /* facet change actions */                                                               \
    W(remove, "remove") W(take, "take") W(clear, "clear") W(move, "move")                    \
    /* objects reached by name */                                                            \
    W(tui_helpers, "TUI-helpers")

enum class WidgetWord : std::uint16_t {
#define KIV_WIDGET_WORD_ENUM(ident, spelling) ident,
    KIV_WIDGET_WORDS(KIV_WIDGET_WORD_ENUM)
#undef KIV_WIDGET_WORD_ENUM
    count_
};

// The canonical symbol of a word of the table.
std::uint32_t widget_symbol(WidgetWord word);
// True when the value is a word of any kind whose canonical symbol is the
// word's.
bool is_widget_word(const Cell* value, WidgetWord word);

}  // namespace kiv::gui
