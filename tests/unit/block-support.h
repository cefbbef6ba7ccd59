// Helpers for the tests of series!, block!, paren! and issue!: the runtime
// of runtime-support.h with these datatypes registered, stand-ins for
// integer! and string! where their units are not registered, and a small
// reader that turns test source such as "a [b 1] (c) #d" into values
// (a line break marks the next value with the new-line flag, `_` is none).
#pragma once

#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/paren.h"
#include "runtime/datatypes/series.h"
#include "tests/unit/runtime-support.h"

namespace kiv::test {

namespace stand_in {

inline int int_compare(Cell* a, Cell* b, CompareOp op) {
    if (!b->is(Type::integer)) return not_comparable;
    const std::int32_t x = series::int_of(a);
    const std::int32_t y = series::int_of(b);
    if (op == CompareOp::same && a->header != b->header) return 1;
    return x < y ? -1 : x > y ? 1 : 0;
}

inline int int_form(Cell* v, Cell* buffer, Cell*, int part) {
    const std::string text = std::to_string(series::int_of(v));
    string::append_literal(buffer, text.c_str());
    return part - static_cast<int>(text.size());
}

inline int int_mold(Cell* v, Cell* buffer, bool, bool, bool, Cell*, int part, int) {
    return int_form(v, buffer, nullptr, part);
}

inline int string_compare(Cell* a, Cell* b, CompareOp op) {
    if (!b->is(Type::string)) return not_comparable;
    return string::compare_strings(a, b, op, false);
}

inline int string_form(Cell* v, Cell* buffer, Cell*, int part) {
    Cell text = *v;
    string::append_string(buffer, &text, -1);
    return part - string::ks_length(&text);
}

inline int string_mold(Cell* v, Cell* buffer, bool, bool, bool, Cell*, int part, int) {
    string::append_literal(buffer, "\"");
    part = string_form(v, buffer, nullptr, part);
    string::append_literal(buffer, "\"");
    return part - 2;
}

inline Cell* string_take(Cell* s, Cell* part, bool, bool last) {
    return series::take_value(s, part, last);
}

}  // namespace stand_in

// The runtime of runtime-support.h, then series!, block!, paren! and issue!,
// with stand-ins for integer! and string! when their units are absent.
inline void start_blocks() {
    start_runtime();
    series::init();
    block::init();
    paren::init();
    issue::init();
    if (!registry::entry(Type::integer).registered) {
        constexpr ActionRow row{.form = stand_in::int_form,
                                .mold = stand_in::int_mold,
                                .compare = stand_in::int_compare};
        registry::register_type(Type::integer, registry::no_parent, "integer!", row);
    }
    if (!registry::entry(Type::string).registered) {
        constexpr ActionRow row{.random = inherit, .reflect = inherit,
                                .form = stand_in::string_form,
                                .mold = stand_in::string_mold,
                                .compare = stand_in::string_compare,
                                .at = inherit, .back = inherit, .clear = inherit,
                                .copy = inherit, .head = inherit, .head_q = inherit,
                                .index_q = inherit, .length_q = inherit, .move = inherit,
                                .next = inherit, .pick = inherit, .poke = inherit,
                                .remove = inherit, .reverse = inherit, .skip = inherit,
                                .tail = inherit, .tail_q = inherit,
                                .take = stand_in::string_take, .modify = inherit};
        registry::register_type(Type::string, Type::series, "string!", row);
    }
}

class BlockTest : public ::testing::Test {
protected:
    void SetUp() override { start_blocks(); }
    void TearDown() override { collector::set_active(false); }
};

namespace reader {

inline bool delimiter(char c) {
    return c == ' ' || c == '\n' || c == '[' || c == ']' || c == '(' || c == ')' || c == 0;
}

// Reads values up to `close` (0: the end) into the block.
inline const char* read_into(Cell* block, const char* p, char close) {
    bool new_line = false;
    for (;;) {
        while (*p == ' ' || *p == '\n') new_line |= *p++ == '\n';
        if (*p == close || *p == 0) return *p ? p + 1 : p;
        Cell value;
        if (*p == '[' || *p == '(') {
            const char open = *p;
            Cell inner;
            block::make_at(&inner, 4);
            p = read_into(&inner, p + 1, open == '[' ? ']' : ')');
            if (open == '(') inner.set_type(Type::paren);
            value = inner;
        } else if (*p == '"') {
            const char* end = p + 1;
            while (*end != '"') ++end;
            value = string_of(std::string(p + 1, end).c_str());
            p = end + 1;
        } else {
            const char* end = p;
            while (!delimiter(*end)) ++end;
            std::string token(p, end);
            p = end;
            const bool digits = token.find_first_not_of("-0123456789") == std::string::npos &&
                                token != "-";
            if (digits) value = integer(std::stoi(token));
            else if (token == "_") none::make_at(&value);
            else if (token[0] == '#') issue::make_at(&value, token.c_str() + 1);
            else if (token[0] == '\'') value = word_of(token.c_str() + 1, Type::lit_word);
            else if (token[0] == '/') value = word_of(token.c_str() + 1, Type::refinement);
            else if (token.back() == ':')
                value = word_of(token.substr(0, token.size() - 1).c_str(), Type::set_word);
            else value = word_of(token.c_str());
        }
        if (new_line) value.header |= cell_flag::new_line;
        new_line = false;
        block::ks_append(block, &value);
    }
}

}  // namespace reader

// The values of the source text in a new block.
inline Cell load(const char* source) {
    Cell block;
    block::make_at(&block, 4);
    reader::read_into(&block, source, 0);
    return block;
}

// The one value of the source text ("[a b]" gives that block).
inline Cell value(const char* source) {
    Cell all = load(source);
    return *block::ks_head(&all);
}

// Mold with every refinement a block mold takes.
inline std::string mold_with(Cell value, bool only, bool flat, int indent = 0) {
    Cell out;
    string::make_at(&out, 16);
    registry::find<Action::mold>(&value)(&value, &out, only, false, flat, nullptr, 0, indent);
    return string::to_utf8(&out);
}

inline Cell at(Cell series, std::int32_t index) {
    Cell i = integer(index);
    return *registry::find<Action::at>(&series)(&series, &i);
}

}  // namespace kiv::test
