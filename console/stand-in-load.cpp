// The stand-in loader: the lexer's automaton with value-making loaders for
// the common datatypes.
#include "console/stand-in-load.h"

#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/lexer-numbers.h"
#include "runtime/evaluator/lexer-text.h"
#include "runtime/evaluator/lexer.h"
#include "runtime/fire.h"

namespace kiv::console {

namespace {

using lexer::Lexer;
using Bytes = const std::uint8_t*;

int id_of(Type t) { return static_cast<int>(t); }

// Pushes a copy of the value as the scan's next output cell.
void emit(Lexer& lx, const Cell& value, Type type) {
    Cell* out = lexer::push(lx);
    const std::uint32_t line = out->header & cell_flag::new_line;
    *out = value;
    out->header |= line;
    lx.type = id_of(type);
}

Cell word_cell(Bytes name, Bytes name_end, Type type) {
    const std::uint32_t sym = symbol::make_from_buffer(name, static_cast<std::int32_t>(name_end - name));
    Cell w;
    word::make_at(sym, &w);
    w.set_type(type);
    return w;
}

// A text of the string family from token bytes.
Cell text_cell(Lexer& lx, Bytes s, Bytes e, std::uint32_t flags, Type type, Bytes token, Bytes token_end) {
    lexer::TextShape shape;
    if (!lexer::measure_text(s, e, flags, shape)) lexer::throw_error(lx, token, token_end, id_of(type));
    Cell text;
    unset::make_at(&text);
    string::make_at_unit(&text, shape.count, static_cast<std::uint32_t>(shape.width));
    memory::SeriesBuffer* b = string::buffer(&text);
    lexer::decode_text(s, e, flags, shape, b->head());
    b->tail = b->offset + static_cast<std::uint32_t>(shape.count * shape.width);
    text.set_type(type);
    return text;
}

void load_word(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    lexer::WordForm form;
    if (int error = lexer::read_word(s, e, form)) lexer::throw_error(lx, s, e, error);
    lx.type = id_of(form.type);
    if (load) emit(lx, word_cell(form.name, form.name_end, form.type), form.type);
}

void load_path_word(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    lx.type = id_of(Type::path);
    if (load) emit(lx, word_cell(s, e, Type::word), Type::word);
}

void load_refinement(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    lexer::WordForm form;
    if (int error = lexer::read_refinement(s, e, form)) lexer::throw_error(lx, s, e, error);
    lx.type = id_of(form.type);
    if (!load) return;
    Cell v = word_cell(form.name, form.name_end, form.type == Type::refinement ? Type::word : form.type);
    if (form.type == Type::refinement) {
        const std::string name(reinterpret_cast<const char*>(form.name),
                               static_cast<std::size_t>(form.name_end - form.name));
        refinement::load(name.c_str(), &v);
    }
    emit(lx, v, form.type);
}

void load_issue(Lexer& lx, Bytes s, Bytes e, std::uint32_t flags, bool load) {
    lexer::scan_issue(lx, s, e, flags);
    lexer::WordForm form;
    if (!lexer::read_issue(s, e, form)) lexer::throw_error(lx, s, e, id_of(Type::issue));
    lx.type = id_of(Type::issue);
    if (load) emit(lx, word_cell(form.name, form.name_end, Type::issue), Type::issue);
}

void load_integer(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    const lexer::IntegerToken t = lexer::read_integer(s, e);
    if (t.result == lexer::IntegerToken::invalid) lexer::throw_error(lx, s, e, id_of(Type::integer));
    if (t.result == lexer::IntegerToken::floating) {
        double v;
        if (!lexer::read_float(s, e, v)) lexer::throw_error(lx, s, e, id_of(Type::float_));
        lx.type = id_of(Type::float_);
        if (load) emit(lx, float_::make_cell(v), Type::float_);
        return;
    }
    lx.type = id_of(Type::integer);
    if (load) emit(lx, integer::make_cell(t.value), Type::integer);
}

void load_hex(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    std::int32_t v;
    if (int error = lexer::read_hex(s, e, v)) lexer::throw_error(lx, s, e, error);
    lx.type = id_of(Type::integer);
    if (load) emit(lx, integer::make_cell(v), Type::integer);
}

void load_float(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    double v;
    if (!lexer::read_float(s, e, v)) lexer::throw_error(lx, s, e, id_of(Type::float_));
    lx.type = id_of(Type::float_);
    if (load) emit(lx, float_::make_cell(v), Type::float_);
}

void load_special_float(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    double v;
    if (!lexer::read_special_float(s, e, v)) lexer::throw_error(lx, s, e, id_of(Type::float_));
    lx.type = id_of(Type::float_);
    if (load) emit(lx, float_::make_cell(v), Type::float_);
}

void load_percent(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    double v;
    if (!lexer::read_percent(s, e, v)) lexer::throw_error(lx, s, e, id_of(Type::percent));
    lx.type = id_of(Type::percent);
    if (load) emit(lx, float_::make_cell(v, Type::percent), Type::percent);
}

void load_string(Lexer& lx, Bytes s, Bytes e, std::uint32_t flags, bool load) {
    lexer::scan_string(lx, s, e, flags);
    lx.type = id_of(Type::string);
    if (load) emit(lx, text_cell(lx, s + 1, e, flags, Type::string, s, e), Type::string);
}

void load_char(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    const std::int32_t cp = lexer::read_char(s, e);
    if (cp < 0) lexer::throw_error(lx, s, e, id_of(Type::char_));
    lx.type = id_of(Type::char_);
    Cell c;
    if (load) emit(lx, *char_::make_at(&c, static_cast<std::uint32_t>(cp)), Type::char_);
}

void load_file(Lexer& lx, Bytes s, Bytes e, std::uint32_t flags, bool load) {
    const lexer::FileText f = lexer::file_text(s, e);
    const std::uint32_t used = f.quoted ? flags : flags & ~lexer::flag::caret;
    lx.type = id_of(Type::file);
    if (load) emit(lx, text_cell(lx, f.text, f.text_end, used, Type::file, s, e), Type::file);
}

void load_construct(Lexer& lx, Bytes s, Bytes e, std::uint32_t, bool load) {
    lexer::Construct value;
    if (!lexer::read_construct(s, e, value)) lexer::throw_error(lx, s, e, lexer::code::malconstruct);
    lx.type = value.type;
    if (!load) return;
    Cell v;
    switch (value.form) {
        case lexer::Construct::logic_true: logic::make_at(&v, true); break;
        case lexer::Construct::logic_false: logic::make_at(&v, false); break;
        case lexer::Construct::none: none::make_at(&v); break;
        case lexer::Construct::unset: unset::make_at(&v); break;
        case lexer::Construct::datatype: registry::make_datatype(&v, static_cast<Type>(value.named)); break;
    }
    emit(lx, v, v.type());
}

bool make_container(Lexer&, int type, Cell* items, int count, Cell* out) {
    const auto t = static_cast<Type>(type);
    if (t == Type::map) return false;
    Cell made;
    unset::make_at(&made);
    block::make_at(&made, count);
    for (int i = 0; i < count; ++i) {
        // GC: the items are the scan's output cells, marked by the lexer.
        block::ks_append(&made, items + i);
    }
    made.set_type(t);
    const std::uint32_t line = out->header & cell_flag::new_line;
    *out = made;
    out->header |= line;
    return true;
}

[[noreturn]] void raise(Lexer&, const lexer::SyntaxError& error) {
    Cell where;
    string::make_at(&where, 16);
    string::append_utf8(&where, "(line " + std::to_string(error.line) + ")");
    Cell near;
    string::make_at(&near, 16);
    string::append_utf8(&near, error.near);
    switch (error.id) {
        case lexer::SyntaxError::invalid: {
            Cell type;
            registry::make_datatype(&type, static_cast<Type>(error.datatype));
            fire(error.error_id(), &where, &type, &near);
        }
        case lexer::SyntaxError::missing: {
            Cell c;
            char_::make_at(&c, static_cast<std::uint8_t>(error.missing_char));
            fire(error.error_id(), &where, &c, &near);
        }
        default: fire(error.error_id(), &where, &near);
    }
}

lexer::Hooks make_hooks() {
    lexer::Hooks h = lexer::checking_hooks;
    using K = lexer::Kind;
    const auto set = [&h](K k, lexer::LoaderFn fn) { h.loaders[static_cast<int>(k)] = fn; };
    set(K::path_open, load_path_word);
    set(K::construct, load_construct);
    set(K::string, load_string);
    set(K::word, load_word);
    set(K::issue, load_issue);
    set(K::integer, load_integer);
    set(K::refinement, load_refinement);
    set(K::char_, load_char);
    set(K::file, load_file);
    set(K::percent, load_percent);
    set(K::float_, load_float);
    set(K::special_float, load_special_float);
    set(K::hex, load_hex);
    h.make_container = make_container;
    h.raise = raise;
    return h;
}

const lexer::Hooks hooks = make_hooks();

void load_string_value(const Cell* string_value, Cell* out) {
    Cell text = *string_value;
    const std::string utf8 = string::to_utf8(&text);
    load_text(utf8.data(), utf8.size(), out);
}

}  // namespace

Cell* load_text(const char* text, std::size_t length, Cell* out) {
    lexer::Scan scan(hooks, reinterpret_cast<const std::uint8_t*>(text), length, lexer::Mode::load, false);
    scan.run();
    Cell made;
    unset::make_at(&made);
    block::make_at(&made, scan.value_count());
    for (int i = 0; i < scan.value_count(); ++i) block::ks_append(&made, scan.values() + i);
    *out = made;
    return out;
}

void install_stand_in_loader() {
    if (!block::load_text_hook) block::load_text_hook = load_string_value;
}

}  // namespace kiv::console
