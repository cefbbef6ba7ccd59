// issue!: making, molding and comparing; word! forms it.
#include "runtime/datatypes/issue.h"

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace kiv::issue {

namespace {

constexpr std::uint32_t no_index = static_cast<std::uint32_t>(-1);

Cell* make_for_symbol(Cell* cell, std::uint32_t symbol, Type type) {
    *cell = Cell{static_cast<std::uint32_t>(type), context::global(), symbol, no_index};
    return cell;
}

}  // namespace

Cell* make_at(Cell* cell, const char* text) {
    return make_for_symbol(cell, symbol::make(text), Type::issue);
}

Cell* make_in(Cell* block, const char* text) {
    const std::uint32_t symbol = symbol::make(text);
    return make_for_symbol(memory::append_slot(block), symbol, Type::issue);
}

Cell* make(Cell* proto, Cell* spec, Type type) {
    switch (spec->type()) {
        case Type::char_: {
            std::uint8_t text[5] = {};
            unicode::encode_utf8_char(spec->data2, text);
            return make_for_symbol(proto, symbol::make(reinterpret_cast<const char*>(text)), type);
        }
        case Type::string: {
            Cell text = *spec;
            return make_for_symbol(proto, symbol::make_from_string(&text), type);
        }
        case Type::word: case Type::set_word: case Type::lit_word: case Type::get_word:
        case Type::refinement: case Type::issue:
            *proto = *spec;
            proto->set_type(type);
            return proto;
        default:
            word::make(proto, spec, type);
            proto->set_type(type);
            return proto;
    }
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell*, int part, int) {
    string::append_literal(buffer, "#");
    return word::form(value, buffer, nullptr, part - 1);
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(Type::issue)) return not_comparable;
    return word::compare(value1, value2, op);
}

namespace {

constexpr ActionRow actions{
    .make = make,
    .to = make,
    .form = inherit,
    .mold = mold,
    .compare = compare,
};

}  // namespace

void init() { registry::register_type(Type::issue, Type::word, "issue!", actions); }

}  // namespace kiv::issue
