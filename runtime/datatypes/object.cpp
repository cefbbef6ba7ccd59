// object!: the value over a context, field lookup, and the actions form,
// mold, compare, eval-path and select.
#include "runtime/datatypes/object.h"

#include "runtime/cycles.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"

namespace kiv::object {

namespace {

// The result of a path step that reads an unset field.
Cell path_result;

bool is_word_kind(const Cell* c) {
    switch (c->type()) {
        case Type::word: case Type::set_word: case Type::get_word: case Type::lit_word:
            return true;
        default: return false;
    }
}

bool is_word_family(const Cell* c) {
    return c->type_id() >= static_cast<std::uint32_t>(Type::word) &&
           c->type_id() <= static_cast<std::uint32_t>(Type::issue);
}

bool is_handler_field(const Cell* word) {
    return words::is(word, words::W::on_change) || words::is(word, words::W::on_deep_change);
}

std::int32_t text_length(const Cell* buffer) { return string::ks_abs_length(buffer); }

void append_blanks(Cell* buffer, int levels) {
    for (int i = 0; i < levels; ++i) string::append_literal(buffer, "    ");
}

// Molds one field: its word, ": ", and the value (a word! quoted).
void mold_field(NodeId ctx, std::int32_t i, Cell* buffer, bool all, bool flat, int indent) {
    Cell word = *get_word_at(ctx, i);
    word.set_type(Type::word);
    word.header &= 0xFF;
    Cell value = *field_value(ctx, i);
    registry::find<Action::form>(&word)(&word, buffer, nullptr, 0);
    string::append_literal(buffer, ": ");
    if (value.is(Type::word)) string::append_literal(buffer, "'");
    registry::find<Action::mold>(&value)(&value, buffer, false, all, flat, nullptr, 0, indent + 1);
}

int form(Cell* value, Cell* buffer, Cell*, int part) {
    const NodeId ctx = context_of(value);
    const std::int32_t before = text_length(buffer);
    for (std::int32_t i = 0, n = context::word_count(ctx); i < n; ++i) {
        if (i) string::append_literal(buffer, "\n");
        mold_field(ctx, i, buffer, false, false, -1);
    }
    return part - (text_length(buffer) - before);
}

// The order of two field values: by their own compare when their types
// match, are both words or both numbers; else by type id.
int compare_values(Cell* a, Cell* b, CompareOp op) {
    auto number = [](const Cell* c) {
        return c->is(Type::integer) || c->is(Type::float_) || c->is(Type::percent);
    };
    if (a->type() == b->type() || (is_word_family(a) && is_word_family(b)) || (number(a) && number(b)))
        return registry::find<Action::compare>(a)(a, b, op);
    return static_cast<int>(a->type_id()) - static_cast<int>(b->type_id());
}

int compare_fields(NodeId c1, NodeId c2, CompareOp op) {
    const std::int32_t n1 = context::word_count(c1), n2 = context::word_count(c2);
    if (n1 != n2) return n1 > n2 ? 1 : -1;
    cycles::Guard guard;
    cycles::push(c1);
    cycles::push(c2);
    for (std::int32_t i = 0; i < n1; ++i) {
        const std::uint32_t s1 = symbol::resolve(get_word_at(c1, i)->data2);
        const std::uint32_t s2 = symbol::resolve(get_word_at(c2, i)->data2);
        if (s1 != s2) return s1 < s2 ? -1 : 1;
        Cell v1 = *field_value(c1, i), v2 = *field_value(c2, i);
        const int r = compare_values(&v1, &v2, op);
        if (r) return r;
    }
    return 0;
}

Cell* select(Cell* series, Cell* value, Cell*, bool, bool, bool, bool, Cell*, Cell*, bool, bool) {
    if (!is_word_family(value)) {
        Cell type;
        registry::make_datatype(&type, value->type());
        fire(ErrorId::script_invalid_type, &type);
    }
    *series = *ks_select(series, value);
    return series;
}

constexpr ActionRow actions{
    .form = form,
    .mold = mold,
    .eval_path = eval_path,
    .compare = compare,
    .select = select,
};

}  // namespace

void init() { registry::register_type(Type::object, registry::no_parent, "object!", actions); }

Cell* make_from_context(Cell* out, NodeId context, std::int32_t class_id, Type type) {
    *out = Cell{static_cast<std::uint32_t>(type), context, static_cast<std::uint32_t>(class_id), 0};
    *context::owner(context) = *out;
    return out;
}

Cell* make_at(Cell* out, std::int32_t size) {
    const NodeId ctx = context::create(size, false, true, 0, context::Kind::object);
    return make_from_context(out, ctx, 0);
}

Cell* get_word_at(NodeId context, std::int32_t index) { return context::get_word_at(context, index); }

std::int32_t field_count(const Cell* object) { return context::word_count(context_of(object)); }

std::int32_t find_field(const Cell* object, const Cell* word) {
    return context::find_word(context_of(object), word->data2, true);
}

const Cell* ks_select(const Cell* object, const Cell* word) {
    const std::int32_t i = find_field(object, word);
    return i < 0 ? &none::value : field_value(context_of(object), i);
}

Cell* field_value(NodeId context, std::int32_t index) {
    memory::SeriesBuffer* values = memory::buffer_of(context::header(context)->data2);
    if (static_cast<std::uint32_t>(index) >= values->length()) {
        path_result = unset::value;
        return &path_result;
    }
    return values->cells() + index;
}

int mold_body(NodeId ctx, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part,
              int indent) {
    const std::int32_t before = text_length(buffer);
    const auto used = [&] { return text_length(buffer) - before; };
    bool first = true;
    for (std::int32_t i = 0, n = context::word_count(ctx); i < n; ++i) {
        if (part_arg && part - used() <= 0) break;
        if (!all && is_handler_field(get_word_at(ctx, i))) continue;
        if (flat) {
            if (!first) string::append_literal(buffer, " ");
        } else if (only) {
            if (!first) string::append_literal(buffer, "\n");
        } else {
            string::append_literal(buffer, "\n");
            append_blanks(buffer, indent + 1);
        }
        first = false;
        mold_field(ctx, i, buffer, all, flat, indent);
    }
    if (!first && !flat && !only) string::append_literal(buffer, "\n");
    return part - used();
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part,
         int indent) {
    return mold_with(value, buffer, "make object! [", only, all, flat, part_arg, part, indent);
}

int mold_with(Cell* value, Cell* buffer, const char* opening, bool only, bool all, bool flat,
              Cell* part_arg, int part, int indent) {
    if (const char* marker = cycles::detect(value, true, &part)) {
        string::append_literal(buffer, marker);
        return part;
    }
    const NodeId ctx = context_of(value);
    cycles::Guard guard;
    cycles::push(ctx);
    const std::int32_t before = text_length(buffer);
    if (!only) string::append_literal(buffer, opening);
    const std::int32_t body_start = text_length(buffer);
    part = mold_body(ctx, buffer, only, all, flat, part_arg, part - (body_start - before), indent);
    const std::int32_t after_body = text_length(buffer);
    if (!flat && indent > 0 && after_body > body_start) append_blanks(buffer, indent);
    if (!only) string::append_literal(buffer, "]");
    return part - (text_length(buffer) - after_body);
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (value2->type() != value1->type()) return not_comparable;
    const NodeId c1 = context_of(value1), c2 = context_of(value2);
    if (c1 == c2) return 0;
    if (op == CompareOp::same) return -1;
    if (cycles::find(c1)) return cycles::find(c2) ? 0 : -1;
    return compare_fields(c1, c2, op);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int, bool,
                bool get, bool last, bool) {
    if (!is_word_kind(element)) fire(ErrorId::script_invalid_path, path, element);
    const NodeId ctx = context_of(parent);
    const std::int32_t index = find_field(parent, element);
    const auto missing = [&]() -> Cell* {
        if (get && last) {
            path_result = unset::value;
            return &path_result;
        }
        if (last) fire(ErrorId::script_invalid_path, path, element);
        fire(ErrorId::script_unset_path, path, element);
    };
    if (index < 0) return missing();
    element->data1 = ctx;
    element->data3 = static_cast<std::uint32_t>(index);
    if (value) {
        context::set_in(element, value, ctx, true);
        return value;
    }
    Cell* field = field_value(ctx, index);
    return field->is(Type::unset) ? missing() : field;
}

}  // namespace kiv::object
