// word!: making, reading and setting words, and the actions the word family
// shares.
#include "runtime/datatypes/word.h"

#include <cstring>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"

namespace kiv::word {

namespace {

TextLoader text_loader = nullptr;

// Loads text into `out` as one value; false when it is not one value.
bool load_text(Cell* text, Cell* out) {
    // FIXME: until the lexer installs its loader, no text makes a word.
    return text_loader && text_loader(text, out);
}

// Steps of make and to that go through the lexer.
Cell* make_from_text(Cell* proto, Cell* spec, Type type) {
    if (spec->is(Type::issue) || spec->is(Type::refinement)) {
        Cell text;
        name_string(spec, &text);
        Cell loaded;
        if (!load_text(&text, &loaded) || !is_any_word(&loaded)) registry::fire_bad_to(type, spec);
        context::bind_word(context::global(), &loaded);
        *proto = loaded;
        return proto;
    }
    Cell text = *spec;
    if (spec->is(Type::char_)) {
        string::make_at(&text, 4);
        string::append_char(string::buffer(&text), spec->data2);
    }
    Cell loaded;
    if (!load_text(&text, &loaded) || !is_word_family(&loaded)) fire(ErrorId::script_invalid_chars);
    *proto = loaded;
    return proto;
}

}  // namespace

Cell* load(const char* text, Cell* out) {
    return context::add_global(symbol::make(text), true, true, out);
}

Cell* make_at(std::uint32_t symbol, Cell* cell) {
    cell->header = static_cast<std::uint32_t>(Type::unset);
    Cell word;
    context::get_global_word(symbol, &word);
    *cell = Cell{static_cast<std::uint32_t>(Type::word), word.data1, symbol, word.data3};
    return cell;
}

Cell* lookup_in(NodeId ctx, std::uint32_t symbol, Cell* out) {
    const std::int32_t index = context::find_word(ctx, symbol, false);
    if (index < 0) return context::get_global_word(symbol, out);
    *out = *context::get_word_at(ctx, index);
    return out;
}

Cell* get_local_word(NodeId ctx, std::int32_t index) { return context::get_word_at(ctx, index); }

Cell* get_in(NodeId ctx, std::int32_t index) {
    return memory::buffer_of(context::header(ctx)->data2)->cells() + index;
}

Cell* get_local(NodeId ctx, std::int32_t index) {
    if (!context::header(ctx)->data2) fire(ErrorId::script_not_defined, context::get_word_at(ctx, index));
    return context::slot(ctx, index);
}

Cell* set_local(NodeId ctx, std::int32_t index, const Cell* value) {
    if (context::kind_of(ctx) == context::Kind::object)
        context::get_word_at(ctx, index)->header |= cell_flag::written;
    return cell::copy(value, get_in(ctx, index));
}

Cell* set_local_keep_old(NodeId ctx, std::int32_t index, const Cell* value, Cell* old_value) {
    *old_value = *get_in(ctx, index);
    return set_local(ctx, index, value);
}

Cell* get(const Cell* word) {
    Cell* value = context::get(word);
    if (value->is(Type::unset)) fire(ErrorId::script_no_value, word);
    return value;
}

Cell* get_any(const Cell* word) { return context::get(word); }

Cell* set(Cell* word, const Cell* value) {
    if (value->is(Type::unset)) fire(ErrorId::script_need_value, word);
    return context::set(word, value);
}

Cell* symbol_cell(const Cell* word) { return symbol::get(word->data2); }

Cell* name_string(const Cell* word, Cell* out) {
    const NodeId string = symbol::get(word->data2)->data2;
    *out = Cell{static_cast<std::uint32_t>(Type::string), 0, string, 0};
    return out;
}

// ---------------------------------------------------------------------------
// The family's actions.

Cell* make(Cell* proto, Cell* spec, Type type) {
    switch (spec->type()) {
        case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
            *proto = *spec;
            break;
        case Type::issue: case Type::refinement: case Type::string: case Type::char_:
            make_from_text(proto, spec, type);
            break;
        case Type::datatype: {
            const std::uint32_t name = registry::entry(spec->data1).symbol;
            if (!name) registry::fire_bad_to(type, spec);
            make_at(name, proto);
            break;
        }
        case Type::logic:
            make_at(words::symbol(logic::get(spec) ? words::Sym::true_ : words::Sym::false_), proto);
            break;
        default: registry::fire_bad_to(type, spec);
    }
    proto->header = static_cast<std::uint32_t>(type);
    return proto;
}

int form(Cell* value, Cell* buffer, Cell*, int part) {
    Cell text;
    name_string(value, &text);
    const std::int32_t length = string::ks_length(&text);
    string::append_string(buffer, &text, -1);
    return part - length;
}

int mold_with(Cell* value, Cell* buffer, const char* prefix, const char* suffix, int part) {
    if (*prefix) string::append_literal(buffer, prefix);
    part = form(value, buffer, nullptr, part);
    if (*suffix) string::append_literal(buffer, suffix);
    return part - static_cast<int>(std::strlen(prefix) + std::strlen(suffix));
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_word_family(value2)) return not_comparable;
    if (value2->is(Type::issue) && !value1->is(Type::issue)) return not_comparable;
    const bool same_symbol = value1->data2 == value2->data2;
    const bool same_canonical = symbol::resolve(value1->data2) == symbol::resolve(value2->data2);
    const bool same_type = value1->type() == value2->type();
    const bool word_pair = (value1->is(Type::word) && value2->is(Type::lit_word)) ||
                           (value1->is(Type::lit_word) && value2->is(Type::word));
    bool equal;
    switch (op) {
        case CompareOp::equal: case CompareOp::not_equal: case CompareOp::find:
            equal = same_canonical;
            break;
        case CompareOp::strict_equal: equal = same_type && same_symbol; break;
        case CompareOp::same: equal = same_symbol && same_type && value1->data1 == value2->data1; break;
        case CompareOp::strict_word: equal = same_symbol && (same_type || word_pair); break;
        case CompareOp::equal_word: equal = same_canonical && (same_type || word_pair); break;
        default: {
            // GC: each symbol's string is built before its copy is taken.
            symbol::cache_string(value1->data2);
            symbol::cache_string(value2->data2);
            Cell text1 = *symbol::get(value1->data2);
            Cell text2 = *symbol::get(value2->data2);
            return string::compare_strings(&text1, &text2, op, false);
        }
    }
    return equal ? 0 : 1;
}

namespace {

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int part, int) {
    return form(value, buffer, nullptr, part);
}

Cell* index_q(Cell* series) {
    const auto index = static_cast<std::int32_t>(series->data3);
    if (index < 0) return none::make_at(series);
    *series = Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(index + 1), 0};
    return series;
}

constexpr ActionRow actions{
    .make = make,
    .to = make,
    .form = form,
    .mold = mold,
    .compare = compare,
    .index_q = index_q,
};

}  // namespace

void init() { registry::register_type(Type::word, Type::symbol, "word!", actions); }

void set_text_loader(TextLoader loader) { text_loader = loader; }

}  // namespace kiv::word
