// native!, action! and op!: make, reflect, form, mold and compare.
#include "runtime/datatypes/native.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"

namespace kiv {

namespace {

constexpr std::uint32_t type_header(Type t) { return static_cast<std::uint32_t>(t); }

bool made_from_function(const Cell* value) {
    if (!value->is(Type::op)) return false;
    const Type source = op::source_type(value);
    return source == Type::function || source == Type::routine;
}

Cell* spec_block(const Cell* value, Cell* out) { return block::init_at(out, value->data2); }

// The spec molded as a block, between the given texts.
int mold_spec(const Cell* value, Cell* buffer, const char* before, const char* after, bool all,
              bool flat, Cell* part_arg, int part, int indent) {
    string::append_literal(buffer, before);
    Cell spec;
    spec_block(value, &spec);
    part = block::mold(&spec, buffer, false, all, flat, part_arg,
                       part - static_cast<int>(std::char_traits<char>::length(before)), indent);
    string::append_literal(buffer, after);
    return part - static_cast<int>(std::char_traits<char>::length(after));
}

int form_text(Cell* buffer, const char* text, int part) {
    string::append_literal(buffer, text);
    return part - static_cast<int>(std::char_traits<char>::length(text));
}

// Natives, actions and ops compare by entry (or by function context for an
// op made from a function): only the equalities and sort orders apply.
int compare_entries(Cell* value1, Cell* value2, CompareOp op) {
    if (value1->type() != value2->type()) return not_comparable;
    switch (op) {
        case CompareOp::lesser: case CompareOp::lesser_or_equal: case CompareOp::greater:
        case CompareOp::greater_or_equal:
            return not_comparable;
        default: break;
    }
    const auto a = static_cast<std::int32_t>(value1->data1);
    const auto b = static_cast<std::int32_t>(value2->data1);
    return a == b ? 0 : a < b ? -1 : 1;
}

// make native! [spec-block slot] and make action! [spec-block slot].
Cell* make_table_callable(Cell* proto, Cell* spec, Type type, std::int32_t slots) {
    Cell datatype;
    registry::make_datatype(&datatype, type);
    if (!spec->is(Type::block) || block::ks_length(spec) != 2) fire(ErrorId::script_bad_make_arg, &datatype, spec);
    Cell parts = *spec;
    const Cell* first = block::ks_head(&parts);
    Cell fn_spec = first[0];
    const Cell slot = first[1];
    if (!fn_spec.is(Type::block) || !slot.is(Type::integer)) fire(ErrorId::script_bad_make_arg, &datatype, spec);
    const auto index = static_cast<std::int32_t>(slot.data2);
    if (index < 1 || index > slots) fire(ErrorId::script_bad_make_arg, &datatype, spec);
    return native::make_at(proto, type, &fn_spec, index);
}

}  // namespace

// ---------------------------------------------------------------------------
// native!

namespace native {

Cell* make_at(Cell* out, Type type, Cell* spec, std::int32_t slot) {
    out->header = type_header(Type::unset);
    const NodeId spec_node = spec->data2;
    const NodeId more = memory::alloc_unset_cells(2);
    memory::SeriesBuffer* b = memory::buffer_of(more);
    b->tail = b->offset + 2 * sizeof(Cell);
    const NodeId context = context::make(spec, true, false, context::Kind::function);
    b = memory::buffer_of(more);
    b->cells()[0] = *context::header(context);
    none::make_at(&b->cells()[1]);
    *out = Cell{type_header(Type::unset), static_cast<std::uint32_t>(slot), spec_node, more};
    out->set_type(type);
    return out;
}

Cell* reflect(Cell* value, Cell* field) {
    if (!field->is(Type::word)) fire(ErrorId::script_invalid_arg, field);
    const Cell callable = *value;
    if (words::is(field, words::Sym::spec)) return spec_block(&callable, value);
    if (!words::is(field, words::Sym::body)) fire(ErrorId::internal_not_done);
    if (made_from_function(&callable))
        return cell::copy(function::more_cell(&callable, function::more::body), value);
    *value = Cell{type_header(Type::integer), 0, callable.data1, 0};
    return value;
}

namespace {

Cell* make(Cell* proto, Cell* spec, Type type) {
    return make_table_callable(proto, spec, type, natives_present);
}

int form(Cell*, Cell* buffer, Cell*, int part) { return form_text(buffer, "?native?", part); }

int mold(Cell* value, Cell* buffer, bool, bool all, bool flat, Cell* part_arg, int part, int indent) {
    return mold_spec(value, buffer, "make native! [", "]", all, flat, part_arg, part, indent);
}

constexpr ActionRow actions{
    .make = make,
    .reflect = reflect,
    .form = form,
    .mold = mold,
    .compare = compare_entries,
};

}  // namespace

void init() { registry::register_type(Type::native, registry::no_parent, "native!", actions); }

}  // namespace native

// ---------------------------------------------------------------------------
// action!

namespace action {

namespace {

Cell* make(Cell* proto, Cell* spec, Type type) {
    return make_table_callable(proto, spec, type, action_count);
}

int form(Cell*, Cell* buffer, Cell*, int part) { return form_text(buffer, "?action?", part); }

int mold(Cell* value, Cell* buffer, bool, bool all, bool flat, Cell* part_arg, int part, int indent) {
    return mold_spec(value, buffer, "make action! [", "]", all, flat, part_arg, part, indent);
}

constexpr ActionRow actions{
    .make = make,
    .reflect = inherit,
    .form = form,
    .mold = mold,
    .compare = compare_entries,
};

}  // namespace

void init() { registry::register_type(Type::action, Type::native, "action!", actions); }

}  // namespace action

// ---------------------------------------------------------------------------
// op!

namespace op {

bool valid_spec_q(NodeId spec) {
    memory::SeriesBuffer* b = memory::buffer_of(spec);
    int count = 0;
    for (Cell* c = b->cells(); c < b->cells_tail(); ++c) {
        switch (c->type()) {
            case Type::word: ++count; break;
            case Type::lit_word: case Type::get_word:
                if (count == 0) return false;
                ++count;
                break;
            case Type::set_word: return count == 2;
            case Type::refinement: {
                const std::uint32_t s = symbol::resolve(c->data2);
                if (s == symbol::resolve(words::symbol(words::Ref::local)) ||
                    s == symbol::resolve(words::symbol(words::Ref::extern_)))
                    return count == 2;
                return false;
            }
            default: break;
        }
    }
    return count == 2;
}

namespace {

Cell* make(Cell* proto, Cell* spec, Type) {
    switch (spec->type()) {
        case Type::native: case Type::action: case Type::function: case Type::routine: break;
        default: {
            Cell datatype;
            registry::make_datatype(&datatype, spec->type());
            fire(ErrorId::script_invalid_type, &datatype);
        }
    }
    if (!valid_spec_q(spec->data2)) fire(ErrorId::script_bad_op_spec);
    const Cell source = *spec;
    if (source.is(Type::function) || source.is(Type::routine))
        *function::more_cell(&source, function::more::source) = source;
    *proto = source;
    proto->header = type_header(Type::op) | (source.type_id() << source_shift);
    return proto;
}

int form(Cell*, Cell* buffer, Cell*, int part) { return form_text(buffer, "?op?", part); }

int mold(Cell* value, Cell* buffer, bool, bool all, bool flat, Cell* part_arg, int part, int indent) {
    const Cell op = *value;
    if (!made_from_function(&op) || source_type(&op) == Type::routine)
        return mold_spec(&op, buffer, "make op! [", "]", all, flat, part_arg, part, indent);
    part = mold_spec(&op, buffer, "make op! func ", "", all, flat, part_arg, part, indent);
    Cell body = *function::more_cell(&op, function::more::body);
    if (!body.is(Type::block)) return part;
    return block::mold(&body, buffer, false, all, flat, part_arg, part, indent);
}

constexpr ActionRow actions{
    .make = make,
    .reflect = inherit,
    .form = form,
    .mold = mold,
    .compare = compare_entries,
};

}  // namespace

void init() { registry::register_type(Type::op, Type::native, "op!", actions); }

}  // namespace op

}  // namespace kiv
