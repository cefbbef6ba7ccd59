// object!: the value over a context, field lookup, class ids, the change
// handlers, making, copying, construct and set, and the actions make,
// reflect, form, mold, eval-path, compare, copy, put, select and modify.
#include "runtime/datatypes/object.h"

#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/state.h"

namespace kiv::object {

namespace {

// The result of a path step that reads an unset field.
Cell path_result;

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
    word.header = static_cast<std::uint32_t>(Type::word);  // without its marks
    Cell value = *field_value(ctx, i);
    registry::find<Action::form>(&word)(&word, buffer, nullptr, 0);
    string::append_literal(buffer, ": ");
    if (value.is(Type::word)) string::append_literal(buffer, "'");
    registry::find<Action::mold>(&value)(&value, buffer, false, all, flat, nullptr, 0, indent + 1);
}

int form(Cell* value, Cell* buffer, Cell*, int part) {
    if (const char* marker = cycles::detect(value, false, &part)) {
        string::append_literal(buffer, marker);
        return part;
    }
    const NodeId ctx = context_of(value);
    // Walked under the guard, so that a field holding the object itself
    // molds as the marker rather than once more in full.
    cycles::Guard guard;
    cycles::push(ctx);
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
    if (a->type() == b->type() || (word::is_word_family(a) && word::is_word_family(b)) || (number(a) && number(b)))
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
    if (!word::is_word_family(value)) {
        Cell type;
        registry::make_datatype(&type, value->type());
        fire(ErrorId::script_invalid_type, &type);
    }
    *series = *ks_select(series, value);
    return series;
}

}  // namespace

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
    if (!word::is_any_word(element)) fire(ErrorId::script_invalid_path, path, element);
    const NodeId ctx = context_of(parent);
    const std::int32_t index = find_field(parent, element);
    const auto missing = [&]() -> Cell* {
        if (get && last) {
            path_result = unset::value;
            return &path_result;
        }
        if (last) fire(ErrorId::script_invalid_path, path, element);
        // The message reads "<word> is unset in path <path>".
        fire(ErrorId::script_unset_path, element, path);
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


// ---------------------------------------------------------------------------
// Class ids and flags.

std::int32_t get_new_class_id() { return ++state.class_id_counter; }

Cell* make_with_record(Cell* out, NodeId context, NodeId record, std::int32_t class_id, Type type) {
    *out = Cell{static_cast<std::uint32_t>(type), context, static_cast<std::uint32_t>(class_id), record};
    *context::owner(context) = *out;
    return out;
}

Cell* push(NodeId context, NodeId record, std::int32_t class_id) {
    return make_with_record(stack::push_cell(), context, record, class_id);
}

void clear_cells_flag(memory::SeriesBuffer* buffer) {
    for (Cell* c = buffer->cells(); c < buffer->cells_tail(); ++c) c->clear_new_line();
}

void clear_written(NodeId context) {
    memory::SeriesBuffer* words = context::get_words(context);
    for (Cell* c = words->cells(); c < words->cells_tail(); ++c) c->header &= ~cell_flag::written;
}

bool unchanged_q(const Cell* word, std::int32_t class_id) {
    const Cell* value = context::get(word);
    return value->is(Type::object) && object::class_id(value) == class_id;
}

bool unchanged_at_q(NodeId context, std::int32_t index, std::int32_t class_id) {
    const Cell* value = field_value(context, index);
    return value->is(Type::object) && object::class_id(value) == class_id;
}

// ---------------------------------------------------------------------------
// Change handlers.

namespace {

constexpr std::uint32_t pair_header = static_cast<std::uint32_t>(Type::pair);

Cell* record_cell(NodeId record, std::int32_t which) { return memory::buffer_of(record)->cells() + which; }

std::int32_t index_in(const Cell* entry) { return static_cast<std::int16_t>(entry->data1 >> 16); }

Cell record_entry(std::int32_t index, std::int32_t locals, NodeId spec) {
    return Cell{pair_header,
                (static_cast<std::uint32_t>(index) << 16) | (static_cast<std::uint32_t>(locals) & 0xFFFF),
                spec, 0};
}

NodeId make_record(std::int32_t on_change, std::int32_t on_change_locals, std::int32_t on_deep,
                   std::int32_t on_deep_locals) {
    const NodeId record = memory::alloc_cells(2);
    memory::SeriesBuffer* b = memory::buffer_of(record);
    b->cells()[0] = record_entry(on_change, on_change_locals, 0);
    b->cells()[1] = record_entry(on_deep, on_deep_locals, 0);
    b->tail = b->offset + 2 * sizeof(Cell);
    return record;
}

// The handler's local slots: the count is taken from its spec at every call
// (and written to the record for the record's readers), as a spec node of
// a handler replaced since may have been reused by another spec.
std::int32_t handler_locals(NodeId record, std::int32_t which, const Cell* handler) {
    const std::int32_t locals = function::count_locals(handler->data2, 0, false);
    *record_cell(record, which) = record_entry(index_in(record_cell(record, which)), locals, handler->data2);
    return locals;
}

// Calls a handler in a function frame named `name`: the given arguments and
// then its local slots (false for /local, none for the words after it) are
// the frame's cells. The handler's result is dropped with the frame, so the
// frame of the code that made the change stays as it was.
Status call_handler(Cell* handler, words::W name, const Cell* fixed, std::int32_t count,
                    std::int32_t locals, bool passes_codes) {
    Cell function = *handler;
    Cell name_word;
    words::word(name, &name_word);
    stack::push_function_frame(&name_word, function.data1);
    // A break, return or throw whose target lies below a caller that cannot
    // hand it on stops here and raises its error from inside the handler:
    // unwinding to the target first would leave that caller, and any try
    // between, over stacks no longer theirs.
    if (!passes_codes) state.frames_top[-1].header |= stack::flag::barrier;
    for (std::int32_t i = 0; i < count; ++i) stack::push_copy(&fixed[i]);
    if (locals > 0) stack::push_copy(&logic::false_value);
    for (std::int32_t i = 1; i < locals; ++i) stack::push_copy(&none::value);
    Cell result;
    KIV_PROPAGATE(eval::call_function(&function, &name_word, state.stack_arguments, count + locals, &result));
    // The top goes back to the handler frame's base, above the caller's
    // cells: a native or action that made the change still reads its
    // arguments there.
    stack::pop_frame();
    return Status::ok;
}

// Whether the code setting fields hands a break, return or throw out of
// an on-change* handler on (set_many does, checking the pending code after
// each field).
bool setter_passes_codes = false;

// What contexts and the ownership table call. A setter that cannot hand a
// pending code on (a set-word, `set` of a word, a loop's word, a series
// action in the middle of its change) calls the handler behind a barrier
// (see call_handler), so no code comes back pending; set_many hands them on.
void on_set_hook(Cell* owner, Cell* word, Cell* old_value, Cell* new_value) {
    // The handler's own sets are its own setters'.
    const bool passes = setter_passes_codes;
    setter_passes_codes = false;
    static_cast<void>(fire_on_set(owner, word, old_value, new_value, passes));
    setter_passes_codes = passes;
}

void on_deep_hook(Cell* owner, Cell* word, Cell* series, Cell* action, Cell* new_value,
                  std::int32_t index, std::int32_t part) {
    static_cast<void>(fire_on_deep(owner, word, series, action, new_value, index, part));
}

// The object comes to own the series of its fields.
void own_series(const Cell* object) {
    const Cell owner = *object;
    ownership::bind_object(&owner, &owner, &none::value);
}

}  // namespace

std::int32_t on_change_index(NodeId record) { return record ? index_in(record_cell(record, 0)) : -1; }
std::int32_t on_deep_index(NodeId record) { return record ? index_in(record_cell(record, 1)) : -1; }

NodeId make_on_set_record(NodeId context) {
    const std::int32_t indexes[2] = {
        context::find_word(context, words::symbol(words::W::on_change), true),
        context::find_word(context, words::symbol(words::W::on_deep_change), true)};
    if (indexes[0] < 0 && indexes[1] < 0) return 0;
    std::int32_t locals[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        if (indexes[i] < 0) continue;
        const Cell handler = *field_value(context, indexes[i]);
        if (!handler.is(Type::function) && !handler.is(Type::routine)) {
            Cell type;
            registry::make_datatype(&type, handler.type());
            fire(ErrorId::script_bad_field_set, get_word_at(context, indexes[i]), &type);
        }
        locals[i] = function::count_locals(handler.data2, 0, false);
    }
    return make_record(indexes[0], locals[0], indexes[1], locals[1]);
}

Cell* init_events(Cell* object, std::int32_t on_change, std::int32_t on_change_locals,
                  std::int32_t on_deep, std::int32_t on_deep_locals) {
    const NodeId record = make_record(on_change, on_change_locals, on_deep, on_deep_locals);
    make_with_record(object, context_of(object), record, class_id(object), object->type());
    if (on_deep >= 0) own_series(object);
    return object;
}

bool on_deep_q(const Cell* object) { return on_deep_index(object->data3) >= 0; }

Status fire_on_set(Cell* object, Cell* word, Cell* old_value, Cell* new_value, bool passes_codes) {
    const Cell target = *object;
    const std::int32_t index = on_change_index(target.data3);
    if (index < 0) return Status::ok;
    const NodeId ctx = context_of(&target);
    Cell handler = *field_value(ctx, index);
    if (!handler.is(Type::function)) fire(ErrorId::script_invalid_obj_evt, &handler);
    const std::int32_t locals = handler_locals(target.data3, 0, &handler);
    Cell args[3] = {*word, *old_value, *new_value};
    if (args[0].data1 != ctx) {
        args[0].data1 = ctx;
        args[0].data3 = static_cast<std::uint32_t>(context::find_word(ctx, args[0].data2, true));
    }
    return call_handler(&handler, words::W::on_change, args, 3, locals, passes_codes);
}

Status fire_on_set_stack(Cell* object, Cell* word) {
    Cell old_value = state.stack_top[-1];
    Cell new_value = state.stack_top[-2];
    return fire_on_set(object, word, &old_value, &new_value);
}

Status fire_on_set_by_word(const Cell* holder, Cell* word, Cell* old_value, Cell* new_value) {
    Cell object = *context::get(holder);
    return fire_on_set(&object, word, old_value, new_value);
}

Status fire_on_deep(Cell* owner, Cell* word, Cell* target, Cell* action, Cell* new_value,
                          std::int32_t index, std::int32_t part) {
    const Cell object = *owner;
    if (!object.data3) fire(ErrorId::script_invalid_obj_evt, &object);
    const std::int32_t at = on_deep_index(object.data3);
    if (at < 0) return Status::ok;
    Cell handler = *field_value(context_of(&object), at);
    if (!handler.is(Type::function)) return Status::ok;
    const std::int32_t locals = handler_locals(object.data3, 1, &handler);
    const Cell args[7] = {
        object,
        *word,
        *target,
        *action,
        new_value ? *new_value : none::value,
        Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(index), 0},
        Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(part), 0},
    };
    return call_handler(&handler, words::W::on_deep_change, args, 7, locals, false);
}

// ---------------------------------------------------------------------------
// Making and copying.

namespace {

// The series that deep copies of objects replace by copies.
bool copies_deeply(const Cell* value) {
    switch (value->type()) {
        case Type::block: case Type::paren: case Type::string: case Type::file: case Type::url:
        case Type::path: case Type::lit_path: case Type::set_path: case Type::get_path:
        case Type::tag: case Type::email: case Type::ref:
            return true;
        default: return false;
    }
}

// A new function from the old one's spec and a deep copy of its body,
// bound to the object's context and then to a fresh copy of the function's
// own context. It has no compiled entry, so it runs interpreted.
void remake_function(const Cell* old, NodeId object_context, Cell* out) {
    const Cell fn = *old;
    Cell body = *function::more_cell(&fn, function::more::body);
    if (!body.is(Type::block)) fire(ErrorId::script_bad_func_def, &fn);
    Cell copy;
    block::clone(&body, true, true, &copy);
    context::bind(&copy, object_context, true);
    Cell fresh = fn;
    const NodeId fn_context = context::clone_words(&fresh, context::Kind::function);
    context::bind(&copy, fn_context, false);
    Cell spec;
    block::init_at(&spec, fn.data2);
    function::make_at(out, &spec, &copy, fn_context, 0, fn.header & ~0xFFu);
}

void remake_functions(NodeId context) {
    for (std::int32_t i = 0; i < context::word_count(context); ++i) {
        const Cell value = *field_value(context, i);
        if (!value.is(Type::function)) continue;
        Cell remade;
        remake_function(&value, context, &remade);
        *context::slot(context, i) = remade;
    }
}

void copy_series_fields(NodeId context) {
    for (std::int32_t i = 0; i < context::word_count(context); ++i) {
        Cell value = *field_value(context, i);
        if (!copies_deeply(&value)) continue;
        Cell copied;
        registry::find<Action::copy>(&value)(&value, &copied, nullptr, true, nullptr);
        *context::slot(context, i) = copied;
    }
}

void bind_block_fields(NodeId context) {
    for (std::int32_t i = 0; i < context::word_count(context); ++i) {
        Cell value = *field_value(context, i);
        if (series::is_block_like(value.type())) context::bind(&value, context, true);
    }
}

// The last step of every maker: the record, ownership, self.
void finish(Cell* object) {
    const NodeId record = make_on_set_record(context_of(object));
    make_with_record(object, context_of(object), record, class_id(object), object->type());
    if (on_deep_q(object)) own_series(object);
}

void copy_typed_values(NodeId context, NodeId source_context, bool deep, Cell* types) {
    if (cycles::find(source_context)) {
        cycles::reset();
        fire(ErrorId::internal_no_cycle);
    }
    cycles::Guard guard;
    cycles::push(source_context);
    Cell values;
    block::init_at(&values, context::header(context)->data2);
    const Cell kinds = *types;
    block::copy_types(&values, 0, block::ks_length(&values), 1, deep, &kinds);
}

// Sets the fields of a spec object in the context, adding the missing ones;
// whether any was added.
bool set_from_object(NodeId context, const Cell* spec) {
    const Cell source = *spec;
    const std::int32_t before = context::word_count(context);
    for (std::int32_t i = 0; i < field_count(&source); ++i) {
        const Cell word = *get_word_at(context_of(&source), i);
        const Cell value = *field_value(context_of(&source), i);
        context::add_or_set(context, &word, &value);
    }
    return context::word_count(context) > before;
}

}  // namespace

Cell* copy_into(const Cell* source, Cell* target, bool deep, Cell* types, bool copy) {
    const Cell from = *source;
    const NodeId from_context = context_of(&from);
    const std::int32_t count = context::word_count(from_context);
    const NodeId ctx = context::create(count, false, true, from_context, context::Kind::object);
    memory::SeriesBuffer* values = memory::buffer_of(context::header(ctx)->data2);
    values->tail = values->offset + static_cast<std::uint32_t>(count) * sizeof(Cell);
    for (std::int32_t i = 0; i < count; ++i) *context::slot(ctx, i) = *field_value(from_context, i);
    make_with_record(target, ctx, copy ? 0 : from.data3, class_id(&from), from.type());
    if (types) {
        copy_typed_values(ctx, from_context, deep, types);
    } else if (deep) {
        copy_series_fields(ctx);
    }
    remake_functions(ctx);
    if (copy) finish(target);
    return target;
}

Cell* construct(Cell* spec, const Cell* prototype, bool only, Cell* out) {
    if (prototype && prototype->is(Type::object)) {
        copy_into(prototype, out, true, nullptr, false);
    } else {
        make_at(out, 4);
        make_with_record(out, context_of(out), 0, get_new_class_id());
    }
    const NodeId ctx = context_of(out);
    Cell list = *spec;
    const std::int32_t length = block::ks_length(&list);
    const std::int32_t head = series::head(&list) < 0 ? 0 : series::head(&list);
    for (std::int32_t i = 0; i < length;) {
        std::int32_t run_end = i;
        while (run_end < length && block::ks_abs_at(&list, head + run_end)->is(Type::set_word)) ++run_end;
        Cell value = run_end < length ? *block::ks_abs_at(&list, head + run_end) : none::value;
        if (!only && value.is(Type::word)) {
            if (words::is(&value, words::Sym::true_) || words::is(&value, words::Sym::yes) ||
                words::is(&value, words::Sym::on))
                value = logic::true_value;
            else if (words::is(&value, words::Sym::false_) || words::is(&value, words::Sym::no) ||
                     words::is(&value, words::Sym::off))
                value = logic::false_value;
            else if (words::is(&value, words::Sym::none))
                value = none::value;
        }
        for (std::int32_t j = i; j < run_end; ++j) {
            const Cell word = *block::ks_abs_at(&list, head + j);
            context::add_or_set(ctx, &word, &value);
        }
        i = run_end + 1;
    }
    *context::owner(ctx) = *out;
    return out;
}

Status set_many(Cell* object, Cell* value, bool any, bool only, bool some) {
    const Cell target = *object;
    const Cell source = *value;
    const NodeId ctx = context_of(&target);
    const std::int32_t count = context::word_count(ctx);
    const bool has_record = target.data3 != 0;
    const bool spread = !only && (source.is(Type::block) || source.is(Type::object));
    // The value for field i, or null when the source does not cover it.
    const auto source_for = [&](std::int32_t i) -> const Cell* {
        if (!spread) return &source;
        if (source.is(Type::object)) {
            const std::int32_t at = find_field(&source, get_word_at(ctx, i));
            return at < 0 ? nullptr : field_value(context_of(&source), at);
        }
        Cell list = source;
        return i < block::ks_length(&list) ? block::ks_head(&list) + i : nullptr;
    };
    if (spread && !some && !any) {
        for (std::int32_t i = 0; i < count; ++i) {
            const Cell* v = source_for(i);
            if (v && v->is(Type::unset)) fire(ErrorId::script_need_value, get_word_at(ctx, i));
        }
    }
    // The handlers' codes come back pending: checked after each field.
    struct PassCodes {
        bool was = setter_passes_codes;
        PassCodes() { setter_passes_codes = true; }
        ~PassCodes() { setter_passes_codes = was; }
    } pass;
    for (std::int32_t i = 0; i < count; ++i) {
        Cell word = *get_word_at(ctx, i);
        if (has_record && is_handler_field(&word)) continue;
        const Cell* v = source_for(i);
        if (!v || (some && v->is(Type::none))) continue;
        const Cell new_value = *v;
        // GC: set_in keeps the old value and runs the handler itself.
        context::set_in(&word, &new_value, ctx, true);
        if (state.thrown_code) return Status::thrown;
    }
    return Status::ok;
}

// ---------------------------------------------------------------------------
// The actions of this part.

namespace {

Cell* make(Cell* proto, Cell* spec, Type) {
    const bool from_object = proto->is(Type::object);
    Cell made;
    if (from_object) copy_into(proto, &made, true, nullptr, false);
    else make_at(&made, 4);
    const NodeId ctx = context_of(&made);
    bool added = true;
    if (spec->is(Type::block)) {
        Cell body = *spec;
        added = context::collect_set_words(ctx, &body);
        context::bind(&body, ctx, true);
        if (from_object) {
            bind_block_fields(ctx);
            remake_functions(ctx);
        }
        Cell result;
        // A throw out of the spec stays pending for the caller to meet.
        static_cast<void>(eval::eval_block(&body, &result));
        clear_written(ctx);
        clear_cells_flag(memory::buffer_of(context::header(ctx)->data2));
    } else if (spec->is(Type::object)) {
        added = set_from_object(ctx, spec);
        copy_series_fields(ctx);
        remake_functions(ctx);
    } else {
        fire(ErrorId::syntax_malconstruct, spec);
    }
    const std::int32_t id = added || !from_object ? get_new_class_id() : class_id(proto);
    make_with_record(&made, ctx, made.data3, id);
    finish(&made);
    *proto = made;
    return proto;
}

Cell* integer_cell(Cell* out, std::int32_t n) {
    *out = Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(n), 0};
    return out;
}

// A copy of a field's word, without the written mark.
Cell plain_word(NodeId context, std::int32_t index) {
    Cell word = *get_word_at(context, index);
    word.header &= ~cell_flag::written;
    return word;
}

// Each field as a set-word bound to the object, on a line of its own, and
// its value; a word! or path! value is quoted so that the block evaluates
// back to the same values.
Cell* body_of(const Cell* object, Cell* out) {
    const NodeId ctx = context_of(object);
    const std::int32_t count = context::word_count(ctx);
    block::make_at(out, 2 * count);
    for (std::int32_t i = 0; i < count; ++i) {
        Cell word = plain_word(ctx, i);
        word.set_type(Type::set_word);
        word.header |= cell_flag::new_line;
        block::ks_append(out, &word);
        Cell value = *field_value(ctx, i);
        if (value.is(Type::word)) value.set_type(Type::lit_word);
        if (value.is(Type::path)) value.set_type(Type::lit_path);
        block::ks_append(out, &value);
    }
    return out;
}

// reflect: changed, class, words, values, body, owner, events?.
Cell* reflect(Cell* value, Cell* field) {
    if (!field->is(Type::word)) fire(ErrorId::script_invalid_arg, field);
    const Cell object = *value;
    const NodeId ctx = context_of(&object);
    const std::int32_t count = context::word_count(ctx);
    if (words::is(field, words::W::changed)) {
        block::make_at(value, count);
        for (std::int32_t i = 0; i < count; ++i) {
            if (!(get_word_at(ctx, i)->header & cell_flag::written)) continue;
            const Cell word = plain_word(ctx, i);
            block::ks_append(value, &word);
        }
        return value;
    }
    if (words::is(field, words::Sym::class_))
        return integer_cell(value, class_id(&object));
    if (words::is(field, words::Sym::words)) {
        block::make_at(value, count);
        for (std::int32_t i = 0; i < count; ++i) {
            const Cell word = plain_word(ctx, i);
            block::ks_append(value, &word);
        }
        return value;
    }
    if (words::is(field, words::Sym::values)) {
        block::make_at(value, count);
        for (std::int32_t i = 0; i < count; ++i) {
            const Cell v = *field_value(ctx, i);
            block::ks_append(value, &v);
        }
        return value;
    }
    if (words::is(field, words::Sym::body)) return body_of(&object, value);
    if (words::is(field, words::Sym::owner))
        return logic::make_at(value, (context::header(ctx)->header & context::flag::owner) != 0);
    if (words::is(field, words::Sym::events_q)) return logic::make_at(value, object.data3 != 0);
    fire(ErrorId::internal_not_done);
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    if (part) {
        Cell refinement;
        words::refinement(words::Ref::part, &refinement);
        fire(ErrorId::script_invalid_refine_arg, &refinement, part);
    }
    const Cell source = *value;
    return copy_into(&source, result, deep, types, true);
}

Cell* put(Cell* series, Cell* key, Cell* value, bool) {
    if (!key->is(Type::word)) {
        Cell type;
        registry::make_datatype(&type, key->type());
        fire(ErrorId::script_invalid_key_type, &type);
    }
    const Cell object = *series;
    const std::int32_t index = find_field(&object, key);
    if (index < 0) fire(ErrorId::script_invalid_path, &none::value, key);
    Cell word = *get_word_at(context_of(&object), index);
    const Cell new_value = *value;
    context::set_in(&word, &new_value, context_of(&object), true);
    *series = new_value;
    return series;
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    const Cell object = *target;
    const Cell argument = *value;
    // Like an unknown word, a field that is no word names nothing to change.
    if (!field->is(Type::word)) {
    } else if (words::is(field, words::W::changed)) {
        if (!argument.is(Type::none)) fire(ErrorId::script_invalid_arg, &argument);
        clear_written(context_of(&object));
    } else if (words::is(field, words::Sym::owner)) {
        own_series(&object);
    } else if (words::is(field, words::Sym::owned)) {
        if (argument.is(Type::none)) {
            ownership::unbind(&object);
        } else if (argument.is(Type::block)) {
            Cell list = argument;
            if (block::ks_length(&list) >= 2) {
                const Cell owner = block::ks_head(&list)[0];
                const Cell word = block::ks_head(&list)[1];
                if (!owner.is(Type::object)) fire(ErrorId::script_invalid_arg, &owner);
                ownership::bind(&object, &owner, &word);
            }
        }
    }
    *target = argument;
    return target;
}

constexpr ActionRow actions{
    .make = make,
    .reflect = reflect,
    .form = form,
    .mold = mold,
    .eval_path = eval_path,
    .compare = compare,
    .copy = copy,
    .put = put,
    .select = select,
    .modify = modify,
};

}  // namespace

void init() {
    registry::register_type(Type::object, registry::no_parent, "object!", actions);
    state.class_id_counter = first_class_id;
    context::set_change_handler(on_set_hook);
    ownership::set_deep_change_handler(on_deep_hook);
}

}  // namespace kiv::object
