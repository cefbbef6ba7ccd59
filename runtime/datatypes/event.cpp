// event!: the field table, the spec reader of make, field reading; then the
// actions in action order, the registration and the two routines.
#include "runtime/datatypes/event.h"

#include "library/routines.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "view/backends/terminal/event-record.h"

namespace kiv::event {

namespace {

namespace flag = gui::event_flag;

using words::Sym;

// The fields, by index from 1. ORDER EVENT-FIELDS.
enum Field : int {
    type = 1, face, window, offset, key, picked, flags, away_q, down_q, mid_down_q, alt_down_q,
    aux_down_q, ctrl_q, shift_q, orientation,
};
constexpr int field_count = 15;
constexpr Sym field_words[field_count] = {
    Sym::type,       Sym::face,       Sym::window,      Sym::offset,     Sym::key,
    Sym::picked,     Sym::flags,      Sym::away_q,      Sym::down_q,     Sym::mid_down_q,
    Sym::alt_down_q, Sym::aux_down_q, Sym::ctrl_q,      Sym::shift_q,    Sym::orientation,
};
// The bit each of the fields away? to shift? tests.
constexpr std::uint32_t field_bits[] = {flag::away,     flag::down,    flag::mid_down, flag::alt_down,
                                        flag::aux_down, flag::control, flag::shift};

// The flag words of a made event's `flags:` block.
struct FlagName {
    const char* name;
    std::uint32_t bit;
};
constexpr FlagName flag_names[] = {
    {"away", flag::away},         {"down", flag::down},       {"mid-down", flag::mid_down},
    {"alt-down", flag::alt_down}, {"aux-down", flag::aux_down}, {"control", flag::control},
    {"shift", flag::shift},       {"alt", flag::alt},         {"command", flag::command},
};

// The index of a field word (by canonical symbol), 0 for any other value.
int field_of(const Cell* element) {
    if (!element->is(Type::word)) return 0;
    for (int i = 0; i < field_count; ++i)
        if (words::is(element, field_words[i])) return i + 1;
    return 0;
}

std::uint32_t flag_bit(const Cell* word) {
    if (!word->is(Type::word)) return 0;
    const std::uint32_t canonical = symbol::resolve(word->data2);
    for (const FlagName& f : flag_names)
        if (symbol::resolve(symbol::make_any_case(f.name)) == canonical) return f.bit;
    return 0;
}

// The fields block's cells: face, window, offset, picked.
constexpr std::int32_t slot_face = 0, slot_window = 1, slot_offset = 2, slot_picked = 3;

Cell* field_slot(const Cell* event, std::int32_t slot) {
    Cell fields;
    block::init_at(&fields, event->data2);
    return block::ks_abs_at(&fields, slot);
}

// ---------------------------------------------------------------------------
// make

// A word or get-word that has a value stands for it; any other value, and
// a word that is unbound or has none, for itself. So `type: click` names
// the type as `type: 'click` does, while `face: f` takes the face in f.
Cell spec_value(const Cell* value) {
    if (!value->is(Type::word) && !value->is(Type::get_word)) return *value;
    const NodeId ctx = value->data1;
    const auto index = static_cast<std::int32_t>(value->data3);
    if (ctx == 0 || index < 0 || !context::header(ctx)->data2) return *value;
    const Cell* found = context::slot(ctx, index);
    return found->is(Type::unset) ? *value : *found;
}

// What the spec gave for the fields block.
struct Given {
    bool any = false;
    Cell face = none::value;
    Cell window = none::value;
    Cell offset = pair::make_cell(0, 0);
    Cell picked = integer::make_cell(0);
};

void take_entry(Cell* event, const Cell* set_word, const Cell* value, Given& given) {
    if (words::is(set_word, Sym::type)) {
        if (!value->is(Type::word) && !value->is(Type::lit_word)) return;
        const std::int32_t id = gui::event_type_of(value);
        if (id == 0) fire(ErrorId::script_not_event_type, value);
        event->data1 = static_cast<std::uint32_t>(id);
    } else if (words::is(set_word, Sym::key)) {
        // The key field is 16 bits wide: a code point above U+FFFF keeps
        // its low bits. Nothing clears an earlier key.
        if (value->is(Type::char_)) event->data3 |= char_::get(value) & flag::key_mask;
    } else if (words::is(set_word, Sym::flags)) {
        if (!value->is(Type::block)) return;
        const Cell list = *value;
        const std::int32_t n = block::ks_length(&list);
        for (std::int32_t i = 0; i < n; ++i) {
            // GC: flag_bit may intern a symbol; the cell is copied first.
            const Cell item = *block::ks_abs_at(&list, static_cast<std::int32_t>(list.data1) + i);
            event->data3 |= flag_bit(&item);
        }
    } else if (words::is(set_word, Sym::face) || words::is(set_word, Sym::window)) {
        if (!value->is(Type::object)) return;
        (words::is(set_word, Sym::face) ? given.face : given.window) = *value;
        given.any = true;
    } else if (words::is(set_word, Sym::offset)) {
        if (!value->is(Type::pair) && !value->is(Type::point2d)) return;
        given.offset = *value;
        given.any = true;
    } else if (words::is(set_word, Sym::picked)) {
        if (!value->is(Type::integer)) return;
        given.picked = *value;
        given.any = true;
    }
}

Cell* make(Cell* proto, Cell* spec, Type) {
    Cell event{static_cast<std::uint32_t>(Type::event) | made_by_language, 0, 0, 0};
    if (spec->is(Type::block)) {
        const Cell list = *spec;
        const auto head = static_cast<std::int32_t>(list.data1);
        const std::int32_t n = block::ks_length(&list);
        Given given;
        for (std::int32_t i = 0; i < n; ++i) {
            // GC: entries may intern symbols, so cells are re-read by index.
            const Cell item = *block::ks_abs_at(&list, head + i);
            if (!item.is(Type::set_word) || i + 1 == n) continue;
            const Cell value = spec_value(block::ks_abs_at(&list, head + i + 1));
            take_entry(&event, &item, &value, given);
            ++i;
        }
        if (given.any) {
            Cell fields;
            block::make_at(&fields, 4);
            block::ks_append(&fields, &given.face);
            block::ks_append(&fields, &given.window);
            block::ks_append(&fields, &given.offset);
            block::ks_append(&fields, &given.picked);
            event.data2 = fields.data2;
        }
    }
    *proto = event;
    return proto;
}

// ---------------------------------------------------------------------------
// Reading fields

Cell* read_field(const Cell* event, int field, Cell* out) {
    if (is_made(event)) {
        const bool fields = event->data2 != 0;
        switch (field) {
            case face: return fields ? cell::copy(field_slot(event, slot_face), out) : none::make_at(out);
            case window: return fields ? cell::copy(field_slot(event, slot_window), out) : none::make_at(out);
            case offset:
                if (fields) return cell::copy(field_slot(event, slot_offset), out);
                *out = pair::make_cell(0, 0);
                return out;
            case key: {
                const std::uint32_t cp = event->data3 & flag::key_mask;
                return cp ? char_::make_at(out, cp) : none::make_at(out);
            }
            case picked:
                return fields ? cell::copy(field_slot(event, slot_picked), out) : integer::make_at(out, 0);
            case orientation: return none::make_at(out);
            default: break;
        }
    }
    switch (field) {
        case type: return gui::get_event_type(event, out);
        case face: return gui::get_event_face(event, out);
        case window: return gui::get_event_window(event, out);
        case offset: return gui::get_event_offset(event, out);
        case key: return gui::get_event_key(event, out);
        case picked: return gui::get_event_picked(event, out);
        case flags: return gui::get_event_flags(event, out);
        case orientation: return gui::get_event_orientation(event, out);
        default: return gui::get_event_flag(event, field_bits[field - away_q], out);
    }
}

// ---------------------------------------------------------------------------
// Actions

int form(Cell*, Cell* buffer, Cell*, int part) {
    string::append_literal(buffer, "event");
    return part - 5;
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part_arg, int part, int) {
    return form(value, buffer, part_arg, part);
}

// A field read answers a copy that the caller takes at once.
Cell path_result;

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int, bool, bool, bool,
                bool) {
    const int field = field_of(element);
    if (!value) {
        if (field == 0) fire(ErrorId::script_invalid_path, path, element);
        return read_field(parent, field, &path_result);
    }
    if (field != type) fire(ErrorId::script_bad_path_set, path, element);
    if (!value->is(Type::word)) fire(ErrorId::script_bad_path_set, path, value);
    gui::set_event_type(parent, value);
    return value;
}

// Any two events are equal; they have no order.
int compare(Cell*, Cell* value2, CompareOp op) {
    if (!value2->is(Type::event)) return not_comparable;
    switch (op) {
        case CompareOp::equal:
        case CompareOp::not_equal:
        case CompareOp::strict_equal:
        case CompareOp::sort:
        case CompareOp::sort_case:
        case CompareOp::same:
        case CompareOp::find: return 0;
        default: return not_comparable;
    }
}

Cell* pick(Cell* series, int index, Cell* index_arg) {
    int field = index;
    if (index_arg && index_arg->is(Type::word)) {
        field = field_of(index_arg);
        if (field == 0) fire(ErrorId::script_cannot_use, index_arg, series);
    } else if (field < 1 || field > field_count) {
        const Cell n = index_arg ? *index_arg : integer::make_cell(index);
        fire(ErrorId::script_out_of_range, &n);
    }
    const Cell event = *series;
    return read_field(&event, field, series);
}

constexpr ActionRow actions{
    .make = make,
    .form = form,
    .mold = mold,
    .eval_path = eval_path,
    .compare = compare,
    .pick = pick,
};

// ---------------------------------------------------------------------------
// Routines

using routine::Raw;

std::int32_t event_q(const Raw* args) { return args[0].cell->is(Type::event) ? 1 : 0; }

std::int32_t send_event_os(const Raw* args) { return gui::OS_send_event(args[0].cell, args[1].number != 0); }

constexpr library_routines::Definition routines[] = {
    {"event?", R"("Returns true if the value is this type" value [any-type!] return: [logic!])", event_q},
    {"send-event-os", R"(event [event!] queued? [logic!] return: [logic!])", send_event_os},
};

}  // namespace

void bind() {
    gui::init_event_tables();
    if (!registry::entry(Type::event).registered)
        registry::register_type(Type::event, registry::no_parent, "event!", actions);
    for (const auto& d : routines) {
        Cell routine;
        library_routines::define(d, &routine);
    }
}

}  // namespace kiv::event
