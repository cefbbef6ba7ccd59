// The lexer's value loaders and container maker. See lexer-loaders.h.
#include "runtime/evaluator/lexer-loaders.h"

#include <cstring>
#include <utility>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/lexer-date-money.h"
#include "runtime/evaluator/lexer-numbers.h"
#include "runtime/evaluator/lexer-scalars.h"
#include "runtime/evaluator/lexer-text.h"

namespace kiv::lexer {

namespace {

constexpr int type_id(Type t) { return static_cast<int>(t); }
constexpr std::uint32_t no_index = static_cast<std::uint32_t>(-1);

bool registered(Type t) { return registry::entry(t).registered; }

std::uint32_t intern(const std::uint8_t* s, const std::uint8_t* e) {
    return symbol::make_from_buffer(s, static_cast<std::int32_t>(e - s));
}

// A word of the family bound in the global context (the global word is
// made when new).
Cell word_value(const WordForm& form) {
    Cell w;
    word::make_at(intern(form.name, form.name_end), &w);
    w.set_type(form.type);
    return w;
}

void put_word(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, const WordForm& form, bool load) {
    lx.type = type_id(form.type);
    if (!load) return;
    if (form.type == Type::refinement) {
        const std::uint32_t sym = intern(form.name, form.name_end);
        put(lx, s, e, Cell{static_cast<std::uint32_t>(Type::refinement), 0, sym, no_index});
        return;
    }
    put(lx, s, e, word_value(form));
}

void put_number(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, double v, Type type, bool load) {
    lx.type = type_id(type);
    if (load) put(lx, s, e, float_::make_cell(v, type));
}

MapMaker map_maker = map::make_from_items;

}  // namespace

// ---------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------

void put(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, const Cell& value) {
    if (!registered(value.type())) throw_error(lx, s, e, static_cast<int>(value.type_id()));
    Cell* out = push(lx);
    const std::uint32_t line_flag = out->header & cell_flag::new_line;
    *out = value;
    out->header = (out->header & ~cell_flag::new_line) | line_flag;
}

namespace {

// The text of [text, text_end) as a new value of `type`, shaped as measured.
Cell text_value(const std::uint8_t* text, const std::uint8_t* text_end, std::uint32_t flags,
                const TextShape& shape, Type type) {
    Cell value;
    string::make_at_unit(&value, shape.count, static_cast<std::uint32_t>(shape.width));
    memory::SeriesBuffer* b = string::buffer(&value);
    decode_text(text, text_end, flags, shape, b->head());
    b->tail = b->offset + static_cast<std::uint32_t>(shape.count * shape.width);
    value.set_type(type);
    return value;
}

// Measures the text; an undecodable one raises the invalid error of `type`.
TextShape measure(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, const std::uint8_t* text,
                  const std::uint8_t* text_end, std::uint32_t flags, Type type) {
    TextShape shape;
    if (!measure_text(text, text_end, flags, shape)) throw_error(lx, s, e, type_id(type));
    lx.type = type_id(type);
    return shape;
}

}  // namespace

void load_text(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, const std::uint8_t* text,
               const std::uint8_t* text_end, std::uint32_t flags, bool load, Type type) {
    const TextShape shape = measure(lx, s, e, text, text_end, flags, type);
    if (!load) return;
    if (!registered(type)) throw_error(lx, s, e, type_id(type));
    put(lx, s, e, text_value(text, text_end, flags, shape, type));
}

namespace load {

// ---------------------------------------------------------------------------
// Words
// ---------------------------------------------------------------------------

void word(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    WordForm form;
    if (int error = read_word(s, e, form)) throw_error(lx, s, e, error);
    put_word(lx, s, e, form, load);
}

// The first word of a path: [s, e) is its name, the prefix already gone.
void path_word(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    put_word(lx, s, e, WordForm{Type::word, s, e}, load);
}

void refinement(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    WordForm form;
    if (int error = read_refinement(s, e, form)) throw_error(lx, s, e, error);
    put_word(lx, s, e, form, load);
}

void issue(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    WordForm form;
    if (!read_issue(s, e, form)) throw_error(lx, s, e, type_id(Type::issue));
    lx.type = type_id(Type::issue);
    if (!load) return;
    const std::uint32_t sym = intern(form.name, form.name_end);
    put(lx, s, e, Cell{static_cast<std::uint32_t>(Type::issue), context::global(), sym, no_index});
}

// ---------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------

// "..." and {...}: [s, e) are the delimiters. A loader reused for another
// text datatype names it in the forced type.
void string(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, bool load) {
    const Type type = lx.forced_type > 0 ? static_cast<Type>(lx.forced_type) : Type::string;
    load_text(lx, s, e, s + 1, e, flags, load, type);
}

void char_(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    const std::int32_t cp = read_char(s, e);
    if (cp < 0) throw_error(lx, s, e, type_id(Type::char_));
    lx.type = type_id(Type::char_);
    if (!load) return;
    Cell c;
    put(lx, s, e, *char_::make_at(&c, static_cast<std::uint32_t>(cp)));
}

namespace {

// A text value of `type` made from the bytes with "^" ordinary, then
// percent-decoded when a "%" is among them.
void load_encoded(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, const std::uint8_t* text,
                  const std::uint8_t* text_end, std::uint32_t flags, bool load, Type type) {
    flags &= ~flag::caret;
    const TextShape shape = measure(lx, s, e, text, text_end, flags, type);
    if (!load) return;
    if (!registered(type)) throw_error(lx, s, e, type_id(type));
    Cell value = text_value(text, text_end, flags, shape, type);
    if (std::memchr(text, '%', static_cast<std::size_t>(text_end - text))) {
        Cell decoded;
        string::make_at(&decoded, shape.count);
        url::decode_text(&value, &decoded);
        decoded.set_type(type);
        value = decoded;
    }
    put(lx, s, e, value);
}

}  // namespace

// "%name" (percent-decoded, "^" ordinary) or '%"name"' (escapes decoded).
void file(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, bool load) {
    const FileText f = file_text(s, e);
    if (f.quoted) {
        load_text(lx, s, e, f.text, f.text_end, flags, load, Type::file);
        return;
    }
    load_encoded(lx, s, e, f.text, f.text_end, flags, load, Type::file);
}

// "scheme:rest": the whole token, percent-decoded when it holds a "%".
void url(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, bool load) {
    if (int error = check_url_token(s, e)) throw_error(lx, s, e, error);
    load_encoded(lx, s, e, s, e, flags, load, Type::url);
}

void raw_string(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, bool load) {
    const std::uint8_t* text;
    const std::uint8_t* text_end;
    raw_string_text(s, e, text, text_end);
    load_text(lx, s, e, text, text_end, flags & ~flag::caret, load, Type::string);
}

// ---------------------------------------------------------------------------
// Numbers
// ---------------------------------------------------------------------------

void integer(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    const IntegerToken t = read_integer(s, e);
    if (t.result == IntegerToken::invalid) throw_error(lx, s, e, type_id(Type::integer));
    if (t.result == IntegerToken::floating) {
        // Too long or too large for 32 bits: the float it spells.
        double v;
        if (!read_float(s, e, v)) throw_error(lx, s, e, type_id(Type::float_));
        put_number(lx, s, e, v, Type::float_, load);
        return;
    }
    lx.type = type_id(Type::integer);
    if (load) put(lx, s, e, integer::make_cell(t.value));
}

void hex(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    std::int32_t v = 0;
    if (int error = read_hex(s, e, v)) throw_error(lx, s, e, error);
    lx.type = type_id(Type::integer);
    if (load) put(lx, s, e, integer::make_cell(v));
}

void float_(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    double v;
    if (!read_float(s, e, v)) throw_error(lx, s, e, type_id(Type::float_));
    put_number(lx, s, e, v, Type::float_, load);
}

void special_float(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    double v;
    if (!read_special_float(s, e, v)) throw_error(lx, s, e, type_id(Type::float_));
    put_number(lx, s, e, v, Type::float_, load);
}

// "5%": [s, e) is the number, `e` the "%".
void percent(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    double v;
    if (!read_percent(s, e, v)) throw_error(lx, s, e, type_id(Type::float_));
    put_number(lx, s, e, v, Type::percent, load);
}

void time(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    double v;
    if (!read_time(s, e, v)) throw_error(lx, s, e, type_id(Type::time));
    put_number(lx, s, e, v, Type::time, load);
}

// ---------------------------------------------------------------------------
// Constructs and containers
// ---------------------------------------------------------------------------

// "#(none)", "#(integer!)": a datatype that is not registered is no
// datatype's name yet.
void construct(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    Construct c;
    if (!read_construct(s, e, c)) throw_error(lx, s, e, code::malconstruct);
    if (c.form == Construct::datatype && !registered(static_cast<Type>(c.named)))
        throw_error(lx, s, e, code::malconstruct);
    lx.type = c.type;
    if (!load) return;
    Cell v;
    switch (c.form) {
        case Construct::logic_true: logic::make_at(&v, true); break;
        case Construct::logic_false: logic::make_at(&v, false); break;
        case Construct::none: none::make_at(&v); break;
        case Construct::unset: unset::make_at(&v); break;
        case Construct::datatype: registry::make_datatype(&v, static_cast<Type>(c.named)); break;
    }
    put(lx, s, e, v);
}

namespace {

// A new block of the items. GC: `items` lies in the output stack, which an
// allocation does not move.
Cell block_of(const Cell* items, int count) {
    Cell b;
    block::make_at(&b, count);
    memory::SeriesBuffer* buf = block::buffer(&b);
    if (count > 0) std::memcpy(buf->cells(), items, sizeof(Cell) * static_cast<std::size_t>(count));
    buf->set_tail(buf->cells() + count);
    return b;
}

}  // namespace

bool container(Lexer& lx, int type, Cell* items, int count, Cell* out) {
    // A paren that a comma marked as a point is closed only when a callback
    // has let the scan go on past its errors: its items stay a paren.
    const auto t = type == type_id(Type::point2d) ? Type::paren : static_cast<Type>(type);
    const std::uint8_t* opening = lx.input_start + out->data3;
    if (t == Type::map) {
        if (!map_maker || !registered(t)) throw_error(lx, opening, lx.position, type);
        Cell map;
        if (!map_maker(items, count, &map)) return false;
        *out = map;
        return true;
    }
    if (!registered(t)) throw_error(lx, opening, lx.position, type);
    Cell b = block_of(items, count);
    b.set_type(t);
    *out = b;
    return true;
}

}  // namespace load

// ---------------------------------------------------------------------------
// The hooks
// ---------------------------------------------------------------------------

namespace {

// The loaders themselves; the hooks' slots of the value kinds hold gates
// that refuse a kind whose datatype is not registered before calling them.
LoaderFn loaders[kind_count];

template <int K>
void gated(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, bool load) {
    constexpr int type = state_types[K + first_final_state];
    if (load && !registered(static_cast<Type>(type))) throw_error(lx, s, e, type);
    loaders[K](lx, s, e, flags, load);
}

template <int... K>
void gate_value_kinds(Hooks& h, std::integer_sequence<int, K...>) {
    constexpr int first = static_cast<int>(Kind::string);
    ((h.loaders[first + K] = gated<first + K>), ...);
}

Hooks make_value_hooks() {
    Hooks h = scalar_hooks();
    auto set = [&](Kind k, LoaderFn f) { h.loaders[static_cast<int>(k)] = f; };
    set(Kind::path_open, load::path_word);
    set(Kind::construct, load::construct);
    set(Kind::string, load::string);
    set(Kind::word, load::word);
    set(Kind::issue, load::issue);
    set(Kind::integer, load::integer);
    set(Kind::refinement, load::refinement);
    set(Kind::char_, load::char_);
    set(Kind::file, load::file);
    set(Kind::percent, load::percent);
    set(Kind::float_, load::float_);
    set(Kind::special_float, load::special_float);
    set(Kind::date, load::date);
    set(Kind::time, load::time);
    set(Kind::money, load::money);
    set(Kind::url, load::url);
    set(Kind::hex, load::hex);
    set(Kind::raw_string, load::raw_string);
    h.make_container = load::container;
    for (int k = 0; k < kind_count; ++k) loaders[k] = h.loaders[k];
    constexpr int value_kinds = kind_count - static_cast<int>(Kind::string);
    gate_value_kinds(h, std::make_integer_sequence<int, value_kinds>{});
    return h;
}

Hooks& hooks() {
    static Hooks h = make_value_hooks();
    return h;
}

}  // namespace

const Hooks& value_hooks() { return hooks(); }

void install_loader(Kind kind, LoaderFn loader) {
    hooks();  // made first, so that the gates stand
    loaders[static_cast<int>(kind)] = loader;
}

void install_map_maker(MapMaker maker) { map_maker = maker; }

}  // namespace kiv::lexer
