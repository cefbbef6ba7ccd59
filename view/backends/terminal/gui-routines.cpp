// The terminal backend's routines: the members of system/view/platform
// that the engine calls, the three routines of TUI-helpers, and the
// backend's start-up, which the platform's `init` calls in place of the word
// `gui-init` in its body. Each routine checks and unpacks its arguments and
// calls one operation of the backend.
#include "view/backends/terminal/gui-routines.h"

#include <iterator>

#include "library/routines.h"
#include "runtime/boot.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/ownership.h"
#include "view/backends/terminal/cells.h"
#include "view/backends/terminal/draw.h"
#include "view/backends/terminal/event-loop.h"
#include "view/backends/terminal/gui.h"
#include "view/backends/terminal/lifecycle.h"
#include "view/backends/terminal/render.h"
#include "view/backends/terminal/screen.h"
#include "view/backends/terminal/terminal-control.h"
#include "view/backends/terminal/widgets.h"

namespace kiv::gui {

namespace {

using library_routines::Definition;
using routine::Raw;

constexpr auto window_class = static_cast<std::int32_t>(handle::Class::window);
constexpr auto null_class = static_cast<std::int32_t>(handle::Class::null);

Cell* answer(const Raw* args, int arity) { return args[arity].cell; }

[[noreturn]] void fire_invalid_type(const Cell* value) {
    Cell type;
    registry::make_datatype(&type, value->type());
    fire(ErrorId::script_invalid_type, &type);
}

// --- screens and measuring ---

std::int32_t make_null_handle(const Raw* args) {
    handle::make_at(answer(args, 0), 0, null_class);
    return 0;
}

std::int32_t fetch_all_screens(const Raw* args) {
    none::make_at(answer(args, 0));
    return 0;
}

std::int32_t get_screen_size(const Raw* args) {
    fetch_console_size();
    pair::make_at(answer(args, 1), state.columns, state.rows);
    return 0;
}

std::int32_t size_text(const Raw* args) {
    const Cell face = *args[0].cell;
    Cell value = *args[1].cell;
    Cell* out = answer(args, 2);
    Cell text;
    if (value.is(Type::string))
        text = value;
    else if (value.is(Type::none))
        text = *face_value(&face, face_field::text);
    else
        fire_invalid_type(&value);
    if (!text.is(Type::string)) {
        none::make_at(out);
        return 0;
    }
    Cell point = point2d::make_cell(0, 0);
    get_text_size(&face, &text, &point);
    *out = point;
    return 0;
}

// --- face changes ---

std::int32_t on_change_facet(const Raw* args) {
    Cell owner = *args[0].cell;
    const Cell word = *args[1].cell;
    const Cell value = *args[2].cell;
    const Cell action = *args[3].cell;
    const Cell new_value = *args[4].cell;
    OS_update_facet(&owner, &word, &value, &action, new_value.is(Type::none) ? nullptr : &new_value,
                    args[5].number, args[6].number);
    return 0;
}

std::int32_t update_text(const Raw* args) {
    none::make_at(answer(args, 1));
    return 0;
}

std::int32_t update_font_routine(const Raw* args) {
    Cell font = *args[0].cell;
    update_font(&font, args[1].number);
    none::make_at(answer(args, 2));
    return 0;
}

std::int32_t update_para_routine(const Raw* args) {
    Cell face = *args[0].cell;
    update_para(&face, static_cast<std::uint32_t>(args[1].number));
    none::make_at(answer(args, 2));
    return 0;
}

std::int32_t destroy_view(const Raw* args) {
    Cell face = *args[0].cell;
    OS_destroy_view(&face, args[1].number != 0);
    none::make_at(answer(args, 2));
    return 0;
}

std::int32_t detach_image(const Raw* args) {
    ownership::unbind(args[0].cell);
    none::make_at(answer(args, 1));
    return 0;
}

bool screen_face_q(const Cell* face) {
    return is_word(face_value(face, face_field::type), Word::screen);
}

std::int32_t update_view(const Raw* args) {
    Cell value = *args[0].cell;
    none::make_at(answer(args, 1));
    if (value.is(Type::block)) {
        // Every entry is checked before any face is updated.
        const std::int32_t n = block::ks_length(&value);
        const std::int32_t start = static_cast<std::int32_t>(value.data1);
        for (std::int32_t i = 0; i < n; ++i) {
            const Cell* entry = block::ks_abs_at(&value, start + i);
            if (!entry->is(Type::object)) fire_invalid_type(entry);
        }
        // GC: an update runs Kiv code, which may change the block: each
        // entry is read afresh and the walk stops at its current end.
        for (std::int32_t i = 0; i < block::ks_length(&value); ++i) {
            Cell face = *block::ks_abs_at(&value, start + i);
            if (face.is(Type::object) && face_value(&face, face_field::state)->is(Type::block))
                OS_update_view(&face);
        }
        return 0;
    }
    if (value.is(Type::object)) {
        if (!screen_face_q(&value)) OS_update_view(&value);
        return 0;
    }
    fire_invalid_type(&value);
}

// --- windows ---

std::int32_t refresh_window(const Raw* args) {
    if (Widget* w = widget_at(handle::value_of(args[0].cell))) invalidate(w);
    return 0;
}

std::int32_t redraw(const Raw* args) {
    if (Widget* w = face_handle_q(args[0].cell)) invalidate(w);
    return 0;
}

std::int32_t show_window(const Raw* args) {
    none::make_at(answer(args, 1));
    Widget* w = widget_at(handle::value_of(args[0].cell));
    if (!w || !w->window) return 0;
    activate_window(w->window);
    mark_dirty();
    return 0;
}

std::int32_t make_view(const Raw* args) {
    Cell face = *args[0].cell;
    Widget* parent = widget_at(handle::value_of(args[1].cell));
    Widget* w = OS_make_view(&face, parent);
    handle::make_at(answer(args, 2), w ? w->id : 0, window_class);
    return 0;
}

// --- drawing ---

std::int32_t draw_image(const Raw* args) {
    const Cell image = *args[0].cell;
    const Cell block = *args[1].cell;
    if (image::width(&image) == 0 || image::height(&image) == 0) return 0;
    OS_do_draw(&image, &block);
    Cell target = image;
    Cell action;
    word::load("poke", &action);
    ownership::check(&target, &action, nullptr, -1, -1);
    return 0;
}

std::int32_t draw_face(const Raw* args) {
    get_flags(face_value(args[0].cell, face_field::flags));
    return 0;
}

// --- the event loop ---

std::int32_t do_event_loop(const Raw* args) {
    const bool got = do_events(args[0].number != 0);
    logic::make_at(answer(args, 1), got);
    return 0;
}

std::int32_t exit_event_loop(const Raw*) {
    post_quit_msg();
    return 0;
}

// --- requesters ---

std::int32_t request_font(const Raw* args) {
    Cell font = *args[0].cell;
    *answer(args, 3) = *OS_request_font(&font, args[1].cell, args[2].number != 0);
    return 0;
}

// Calls the text-mode requester with the routine's five values.
std::int32_t request(const char* helper, const Raw* args) {
    Cell values[5] = {*args[0].cell, *args[1].cell, *args[2].cell, Cell{}, Cell{}};
    logic::make_at(&values[3], args[3].number != 0);
    logic::make_at(&values[4], args[4].number != 0);
    Cell result;
    none::make_at(&result);
    if (!call_tui_helper(helper, values, 5, &result)) none::make_at(&result);
    *answer(args, 5) = result;
    return 0;
}

std::int32_t request_file(const Raw* args) { return request("request-file", args); }
std::int32_t request_dir(const Raw* args) { return request("request-dir", args); }

std::int32_t text_box_metrics(const Raw* args) {
    const Cell box = *args[0].cell;
    const Cell arg = *args[1].cell;
    Cell* out = answer(args, 3);
    Cell type = *face_value(&box, face_field::type);
    if (!is_word(&type, Word::rich_text)) fire(ErrorId::script_face_type, &type);
    if (!face_value(&box, face_field::text)->is(Type::string)) {
        none::make_at(out);
        return 0;
    }
    Cell result;
    none::make_at(&result);
    OS_text_box_metrics(&box, &arg, args[2].number, &result);
    *answer(args, 3) = result;
    return 0;
}

std::int32_t update_scroller(const Raw* args) {
    none::make_at(answer(args, 2));
    return 0;
}

std::int32_t set_dark_mode(const Raw*) { return 0; }
std::int32_t support_dark_mode_q(const Raw*) { return 0; }
std::int32_t toggle_gpu(const Raw*) { return 0; }

// --- TUI-helpers and start-up ---

std::int32_t focused_q(const Raw* args) { return has_focus_q(face_widget(args[0].cell)) ? 1 : 0; }

std::int32_t widget_data_routine(const Raw* args) { return widget_data(face_widget(args[0].cell)); }

std::int32_t set_face_ui(const Raw* args) {
    set_widget_ui(face_widget(args[0].cell), args[1].cell);
    return 0;
}

std::int32_t gui_init(const Raw*) {
    init();
    return 0;
}

// ORDER: the fields of system/view/platform, then those of TUI-helpers.
constexpr library_routines::FieldRoutine fields[] = {
    {"system/view/platform/make-null-handle", {"make-null-handle", "", make_null_handle}},
    {"system/view/platform/fetch-all-screens", {"fetch-all-screens", "", fetch_all_screens}},
    {"system/view/platform/get-screen-size", {"get-screen-size", "id [integer!]", get_screen_size}},
    {"system/view/platform/size-text", {"size-text", "face [object!] value [any-type!]", size_text}},
    {"system/view/platform/on-change-facet",
     {"on-change-facet",
      "owner [object!] word [any-word!] value [any-type!] action [word!] new [any-type!] "
      "index [integer!] part [integer!]",
      on_change_facet}},
    {"system/view/platform/update-text", {"update-text", "face [object!]", update_text}},
    {"system/view/platform/update-font",
     {"update-font", "font [object!] flags [integer!]", update_font_routine}},
    {"system/view/platform/update-para",
     {"update-para", "face [object!] flags [integer!]", update_para_routine}},
    {"system/view/platform/destroy-view",
     {"destroy-view", "face [object!] empty? [logic!]", destroy_view}},
    {"system/view/platform/detach-image", {"detach-image", "img [image!]", detach_image}},
    {"system/view/platform/update-view", {"update-view", "face [any-type!]", update_view}},
    {"system/view/platform/refresh-window", {"refresh-window", "h [handle!]", refresh_window}},
    {"system/view/platform/redraw", {"redraw", "face [object!]", redraw}},
    {"system/view/platform/show-window", {"show-window", "id [handle!]", show_window}},
    {"system/view/platform/make-view", {"make-view", "face [object!] parent [handle!]", make_view}},
    {"system/view/platform/draw-image", {"draw-image", "image [image!] cmds [block!]", draw_image}},
    {"system/view/platform/draw-face", {"draw-face", "face [object!] cmds [block!]", draw_face}},
    {"system/view/platform/do-event-loop", {"do-event-loop", "no-wait? [logic!]", do_event_loop}},
    {"system/view/platform/exit-event-loop", {"exit-event-loop", "", exit_event_loop}},
    {"system/view/platform/request-font",
     {"request-font", "font [object!] selected [any-type!] mono? [logic!]", request_font}},
    {"system/view/platform/request-file",
     {"request-file",
      "title [any-type!] name [any-type!] filter [any-type!] save? [logic!] multi? [logic!]",
      request_file}},
    {"system/view/platform/request-dir",
     {"request-dir",
      "title [any-type!] dir [any-type!] filter [any-type!] keep? [logic!] multi? [logic!]",
      request_dir}},
    {"system/view/platform/text-box-metrics",
     {"text-box-metrics", "box [object!] arg0 [any-type!] type [integer!]", text_box_metrics}},
    {"system/view/platform/update-scroller",
     {"update-scroller", "scroller [object!] flags [integer!]", update_scroller}},
    {"system/view/platform/set-dark-mode",
     {"set-dark-mode", "face [object!] dark? [logic!]", set_dark_mode}},
    {"system/view/platform/support-dark-mode?",
     {"support-dark-mode?", "return: [logic!]", support_dark_mode_q}},
    {"system/view/platform/toggle-GPU", {"toggle-GPU", "", toggle_gpu}},
    {"TUI-helpers/focused?", {"focused?", "face [object!] return: [logic!]", focused_q}},
    {"TUI-helpers/widget-data", {"widget-data", "face [object!] return: [integer!]", widget_data_routine}},
    {"TUI-helpers/set-face-ui", {"set-face-ui", "face [object!] ui [string!]", set_face_ui}},
};

constexpr Definition init_definition = {"gui-init", "", gui_init};

}  // namespace

void bind_routines() {
    register_marking();
    library_routines::set_field_routines(fields, std::size(fields));
    library_routines::replace_in_body("system/view/platform/init", init_definition);
    // The parent handle of a face shown without a parent.
    Cell word;
    word::load("null-handle", &word);
    Cell null_handle;
    handle::make_at(&null_handle, 0, null_class);
    context::set(&word, &null_handle);
}

}  // namespace kiv::gui
