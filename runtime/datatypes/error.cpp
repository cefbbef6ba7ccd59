// error!: the catalogue, making errors, their fields and call-stack capture,
// the text form, and the actions make, form, mold, compare and eval-path.
#include "runtime/datatypes/error.h"

#include <climits>
#include <cstring>

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/error-exit.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"
#include "runtime/output-hooks.h"
#include "runtime/state.h"

namespace kiv::error {

namespace {

// GC: a collector root; the block holds the catalogue, the prototype and
// the state values, at these positions.
NodeId roots = 0;
enum RootSlot : std::int32_t {
    catalog_slot,
    standard_slot,
    stack_trace_slot,
    source_files_slot,
    state_slot,
    root_count
};

// The class ids of the boot objects built here.
constexpr std::int32_t catalog_class_id = 184;
constexpr std::int32_t first_category_class_id = 186;
constexpr std::int32_t standard_class_id = 245;

bool is_ready = false;
SpecEvaluator spec_evaluator = nullptr;

constexpr const char* field_names[field_count] = {"code", "type", "id",    "arg1",  "arg2",
                                                  "arg3", "near", "where", "stack", "files"};

struct CategoryRow {
    const char* name;
    const char* title;
};
constexpr CategoryRow category_rows[] = {
#define KIV_ERROR_CATEGORY_ROW(index, ident, name, title) {name, title},
    KIV_ERROR_CATEGORIES(KIV_ERROR_CATEGORY_ROW)
#undef KIV_ERROR_CATEGORY_ROW
};
constexpr std::int32_t syntax_index = static_cast<std::int32_t>(ErrorCategory::syntax);
constexpr std::int32_t internal_index = static_cast<std::int32_t>(ErrorCategory::internal);
// Where a template's arguments are cut, and where near is.
constexpr int argument_limit = 80;
constexpr int near_limit = 40;
// The budget of a text that asks for no limit.
constexpr int unlimited = INT_MAX / 2;

Cell* root_cell(RootSlot slot) { return memory::buffer_of(roots)->cells() + slot; }

Cell integer_cell(std::int32_t n) {
    return Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(n), 0};
}

Cell block_cell(NodeId node) { return Cell{static_cast<std::uint32_t>(Type::block), 0, node, 0}; }

// A word cell copied out of a words table, without its marks.
Cell plain_word(const Cell* w) {
    Cell c = *w;
    c.header = static_cast<std::uint32_t>(Type::word);
    return c;
}

bool is_word_kind(const Cell* c) {
    return c->type_id() >= static_cast<std::uint32_t>(Type::word) &&
           c->type_id() <= static_cast<std::uint32_t>(Type::refinement);
}

std::int32_t text_length(const Cell* buffer) { return string::ks_abs_length(buffer); }

void cut_text(Cell* buffer, std::int32_t length) {
    memory::SeriesBuffer* b = string::buffer(buffer);
    b->tail = b->offset + static_cast<std::uint32_t>(length) * b->unit();
}

// A string's text as it is; any other value formed.
void append_text(Cell* buffer, const Cell* value) {
    Cell copy = *value;
    if (copy.is(Type::string)) string::append_string(buffer, &copy, -1);
    else form_limited(&copy, buffer, unlimited);
}

// ---------------------------------------------------------------------------
// The catalogue, read from the templates as written in the catalogue list.

class TemplateReader {
public:
    explicit TemplateReader(const char* text) : p_(text) {}

    Cell read() {
        skip_blanks();
        return *p_ == '[' ? read_block() : read_item();
    }

private:
    const char* p_;

    void skip_blanks() {
        while (*p_ == ' ') ++p_;
    }

    Cell read_item() {
        Cell out;
        if (*p_ == '"') {
            const char* start = ++p_;
            while (*p_ != '"') ++p_;
            string::make_at(&out, p_ - start);
            string::append_bytes(&out, start, p_ - start);
            ++p_;
            return out;
        }
        const bool get = *p_ == ':';
        if (get) ++p_;
        const char* start = p_;
        while (*p_ && *p_ != ' ' && *p_ != ']') ++p_;
        char name[16] = {};
        std::memcpy(name, start, static_cast<std::size_t>(p_ - start));
        word::load(name, &out);
        if (get) out.set_type(Type::get_word);
        return out;
    }

    Cell read_block() {
        ++p_;
        // GC: the items wait in this frame, where the stack scan sees them.
        Cell items[16];
        std::int32_t n = 0;
        for (skip_blanks(); *p_ != ']'; skip_blanks()) items[n++] = read_item();
        ++p_;
        const NodeId node = memory::alloc_cells(n);
        memory::SeriesBuffer* b = memory::buffer_of(node);
        for (std::int32_t i = 0; i < n; ++i) b->cells()[i] = items[i];
        b->tail = b->offset + static_cast<std::uint32_t>(n) * sizeof(Cell);
        return block_cell(node);
    }
};

void add_field(NodeId ctx, const char* name, const Cell* value) {
    Cell w;
    word::load(name, &w);
    context::add_with_value(ctx, &w, value);
}

NodeId new_object_context(std::int32_t size) {
    return context::create(size, false, true, 0, context::Kind::object);
}

Cell build_category(std::int32_t index) {
    std::int32_t count = 0;
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(ErrorId::count_); ++i)
        if (static_cast<std::int32_t>(error_info(static_cast<ErrorId>(i)).category) == index) ++count;
    const NodeId ctx = new_object_context(2 + count);
    const Cell code = integer_cell(index * 100);
    add_field(ctx, "code", &code);
    Cell title;
    string::make_at(&title, 16);
    string::append_literal(&title, category_rows[index].title);
    add_field(ctx, "type", &title);
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(ErrorId::count_); ++i) {
        const ErrorIdInfo& info = error_info(static_cast<ErrorId>(i));
        if (static_cast<std::int32_t>(info.category) != index) continue;
        const Cell message = TemplateReader(info.message).read();
        add_field(ctx, info.name, &message);
    }
    Cell category;
    return *object::make_from_context(&category, ctx, first_category_class_id + 2 * index);
}

Cell build_catalog() {
    const NodeId ctx = new_object_context(error_category_count);
    for (std::int32_t i = 0; i < error_category_count; ++i) {
        const Cell category = build_category(i);
        add_field(ctx, category_rows[i].name, &category);
    }
    Cell catalog;
    return *object::make_from_context(&catalog, ctx, catalog_class_id);
}

Cell build_standard() {
    const NodeId ctx = new_object_context(field_count);
    for (const char* name : field_names) add_field(ctx, name, &none::value);
    Cell standard;
    return *object::make_from_context(&standard, ctx, standard_class_id);
}

// ---------------------------------------------------------------------------
// Catalogue lookups.

NodeId catalog_context() { return catalog()->data1; }
NodeId category_context(std::int32_t index) { return category(index)->data1; }

// The index of the category a word names, or -1.
std::int32_t category_index(const Cell* word) {
    if (!is_word_kind(word)) return -1;
    return context::find_word(catalog_context(), word->data2, true);
}

// The field index of the id a word names in a category, or -1 (code and
// type are no ids).
std::int32_t id_field(std::int32_t category, const Cell* word) {
    if (!is_word_kind(word)) return -1;
    const std::int32_t i = context::find_word(category_context(category), word->data2, true);
    return i >= 2 ? i : -1;
}

std::int32_t id_field_of(ErrorId id) { return error_info(id).index + 2; }

// `type` and `id` as the catalogue's words for the two positions.
void set_type_and_id(Cell* error, std::int32_t category, std::int32_t id_index) {
    const Cell type_word = plain_word(context::get_word_at(catalog_context(), category));
    const Cell id_word = plain_word(context::get_word_at(category_context(category), id_index));
    *field(error, Field::type) = type_word;
    *field(error, Field::id) = id_word;
}

void set_identity(Cell* error, std::int32_t category, std::int32_t id_index) {
    *field(error, Field::code) = integer_cell(category * 100 + id_index - 2);
    set_type_and_id(error, category, id_index);
}

// Turns the error into internal invalid-error naming the culprit.
void make_invalid(Cell* error, const Cell* culprit) {
    const Cell old = *culprit;
    *field(error, Field::arg1) = old;
    set_type_and_id(error, internal_index, id_field_of(ErrorId::internal_invalid_error));
}

// The error's own field named by a word, or null.
Cell* field_named(const Cell* error, const Cell* word) {
    const std::int32_t i = context::find_word(error->data1, word->data2, true);
    return i < 0 ? nullptr : object::field_value(error->data1, i);
}

// ---------------------------------------------------------------------------
// Making.

// A copy of the prototype, typed error!, class id 1, no record.
Cell* new_error(Cell* out) {
    const NodeId proto = standard()->data1;
    const NodeId ctx = context::create(field_count, false, true, proto, context::Kind::object);
    for (std::int32_t i = 0; i < field_count; ++i) *context::slot(ctx, i) = *object::field_value(proto, i);
    return object::make_from_context(out, ctx, class_id, Type::error);
}

void set_near(Cell* error) {
    const Cell near_value = state.near.type_id() ? state.near : none::value;
    *field(error, Field::near) = near_value;
}

[[noreturn]] void fire_spec_field(words::W which) {
    Cell w;
    words::word(which, &w);
    fire(ErrorId::script_invalid_spec_field, &w);
}

void make_from_code(Cell* error, const Cell* spec) {
    const auto code = static_cast<std::int32_t>(spec->data2);
    if (code < 0 || code / 100 >= error_category_count) fire(ErrorId::script_out_of_range, spec);
    const std::int32_t category = code / 100;
    const std::int32_t id_index = code % 100 + 2;
    if (id_index >= context::word_count(category_context(category)))
        fire(ErrorId::script_out_of_range, spec);
    set_identity(error, category, id_index);
}

void make_from_words(Cell* error, const Cell* first, const Cell* end) {
    const std::int32_t category = category_index(first);
    if (category < 0) fire_spec_field(words::W::type);
    if (first + 1 >= end) fire_spec_field(words::W::id);
    const Cell type_word = first[0];
    const Cell id_word = first[1];
    if (!id_word.is(Type::word)) fire(ErrorId::script_invalid_arg, &id_word);
    const std::int32_t id_index = id_field(category, &id_word);
    if (id_index < 0) fire_spec_field(words::W::id);
    *field(error, Field::code) = integer_cell(category * 100 + id_index - 2);
    *field(error, Field::type) = type_word;
    *field(error, Field::id) = id_word;
}

// Answers false when a throw left the spec (its code stays pending).
bool make_from_set_words(Cell* error, Cell* spec) {
    context::bind(spec, error->data1, false);
    // FIXME: until the interpreter installs its evaluator, such a spec
    // cannot run.
    if (!spec_evaluator) fire(ErrorId::internal_not_done);
    if (spec_evaluator(spec) != Status::ok) return false;
    const std::int32_t category =
        field(error, Field::type)->is(Type::word) ? category_index(field(error, Field::type)) : -1;
    if (category < 0) fire_spec_field(words::W::type);
    const std::int32_t id_index =
        field(error, Field::id)->is(Type::word) ? id_field(category, field(error, Field::id)) : -1;
    if (id_index < 0) fire_spec_field(words::W::id);
    *field(error, Field::code) = integer_cell(category * 100 + id_index - 2);
    return true;
}

bool make_from_block(Cell* error, Cell* spec) {
    memory::SeriesBuffer* b = memory::buffer_of(spec->data2);
    const Cell* first = b->cells() + spec->data1;
    const Cell* end = b->cells_tail();
    if (first < end && first->is(Type::word)) {
        make_from_words(error, first, end);
        return true;
    }
    if (first < end && first->is(Type::set_word)) return make_from_set_words(error, spec);
    fire(ErrorId::internal_invalid_error);
}

Cell* make(Cell* proto, Cell* spec, Type) {
    Cell error;
    new_error(&error);
    switch (spec->type()) {
        case Type::integer: make_from_code(&error, spec); break;
        case Type::block:
            if (!make_from_block(&error, spec)) return proto;
            break;
        case Type::string: {
            const Cell text = *spec;
            *proto = *create(ErrorId::user_message, &text, nullptr, nullptr);
            stack::drop(1);
            return proto;
        }
        default: fire_bad_make_arg(spec, Type::error);
    }
    set_near(&error);
    *proto = error;
    return proto;
}

// ---------------------------------------------------------------------------
// The text form.

// The template of the error's id, as the catalogue holds it, with a word
// template read from the error's own fields. Rewrites an error whose id is
// not in its category into internal invalid-error.
Cell message_of(Cell* error, std::int32_t* category) {
    std::int32_t index = -1;
    if (is_word_kind(field(error, Field::id)))
        index = context::find_word(category_context(*category), field(error, Field::id)->data2, true);
    if (index < 0) {
        make_invalid(error, field(error, Field::id));
        *category = internal_index;
        index = id_field_of(ErrorId::internal_invalid_error);
    }
    Cell message = *object::field_value(category_context(*category), index);
    if (message.is(Type::word)) {
        const Cell* value = field_named(error, &message);
        message = value ? *value : none::value;
    }
    return message;
}

// One element of a block template: a string as it is, an argument formed
// (syntax errors) or molded flat, within its limit.
void append_element(Cell* error, std::int32_t category, const Cell* element, Cell* buffer) {
    if (element->is(Type::string)) {
        append_text(buffer, element);
    } else if (element->is(Type::word) || element->is(Type::get_word)) {
        const Cell* value = field_named(error, element);
        if (!value) return;
        Cell copy = *value;
        if (category == syntax_index) {
            // A formed argument may hold the error itself: while it is
            // formed, the error is on the cycle stack (see form).
            cycles::Guard guard;
            cycles::push(error->data1);
            form_limited(&copy, buffer, argument_limit);
        } else {
            mold_limited(&copy, buffer, false, argument_limit);
        }
    }
}

void append_message(Cell* error, std::int32_t category, Cell* message, Cell* buffer) {
    if (message->is(Type::string)) {
        append_text(buffer, message);
        return;
    }
    if (!message->is(Type::block)) {
        make_invalid(error, field(error, Field::type));
        return;
    }
    const NodeId node = message->data2;
    const std::uint32_t count = memory::buffer_of(node)->length();
    for (std::uint32_t i = message->data1; i < count; ++i) {
        // GC: the element is copied out; the template block does not move
        // while it is referred to from this frame.
        const Cell element = memory::buffer_of(node)->cells()[i];
        append_element(error, category, &element, buffer);
        if (i + 1 < count) string::append_literal(buffer, " ");
    }
}

void append_where(Cell* error, Cell* buffer) {
    string::append_literal(buffer, "\n*** Where: ");
    const Cell* where = field(error, Field::where);
    if (where->is(Type::word) || where->is(Type::string)) append_text(buffer, where);
    else string::append_literal(buffer, "???");
}

// The words of the listed frames below call-stack position `end`, outermost
// first, of which only the innermost `level` are kept: the trace is that
// many frames deep, so a runaway recursion does not list thousands.
Cell recent_frames(std::int32_t level, std::int32_t end) {
    // GC: `words` is on this frame while the block grows.
    Cell words = block_cell(memory::alloc_cells(20));
    stack::collect_words(level, &words, end);
    memory::SeriesBuffer* b = memory::buffer_of(words.data2);
    const auto count = static_cast<std::int32_t>(b->length());
    if (count > level) b->set_offset(b->cells() + (count - level));
    return words;
}

void append_stack(Cell* error, Cell* buffer, int budget) {
    const Cell* level = stack_trace();
    if (!level->is(Type::integer) || static_cast<std::int32_t>(level->data2) <= 0) return;
    Cell trace = *field(error, Field::stack);
    if (trace.is(Type::integer)) {
        string::append_literal(buffer, "\n*** Stack: ");
        Cell words = recent_frames(static_cast<std::int32_t>(level->data2),
                                   static_cast<std::int32_t>(trace.data2));
        const std::uint32_t count = memory::buffer_of(words.data2)->length();
        for (std::uint32_t i = 0; i < count && budget > 0; ++i) {
            Cell word = memory::buffer_of(words.data2)->cells()[i];
            budget = form_limited(&word, buffer, budget);
            if (budget > 0) {
                string::append_literal(buffer, " ");
                --budget;
            }
        }
    } else if (trace.is(Type::block)) {
        string::append_literal(buffer, "\n*** Stack: ");
        form_limited(&trace, buffer, budget);
    }
}

int form(Cell* error, Cell* buffer, Cell* part_arg, int part) {
    // Met again inside one of its own formed arguments: the marker.
    if (const char* marker = cycles::detect(error, false, &part)) {
        string::append_literal(buffer, marker);
        return part;
    }
    const std::int32_t start = text_length(buffer);
    string::append_literal(buffer, "*** ");
    std::int32_t category = category_index(field(error, Field::type));
    if (category < 0) {
        make_invalid(error, field(error, Field::type));
        category = internal_index;
    }
    Cell message = message_of(error, &category);
    append_text(buffer, object::field_value(category_context(category), 1));
    string::append_literal(buffer, ": ");
    append_message(error, category, &message, buffer);
    append_where(error, buffer);
    string::append_literal(buffer, "\n*** Near : ");
    Cell near_value = *field(error, Field::near);
    mold_limited(&near_value, buffer, true, near_limit);
    append_stack(error, buffer, part_arg ? part - (text_length(buffer) - start) : unlimited);
    Cell files_value = *field(error, Field::files);
    if (files_value.is(Type::block)) {
        string::append_literal(buffer, "\n*** Files: ");
        mold_limited(&files_value, buffer, true, near_limit);
    }
    return part - (text_length(buffer) - start);
}

// ---------------------------------------------------------------------------
// The other actions.

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part,
         int indent) {
    return object::mold_with(value, buffer, "make error! [", only, all, flat, part_arg, part, indent);
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(Type::error)) return not_comparable;
    Cell a = *value1, b = *value2;
    a.set_type(Type::object);
    b.set_type(Type::object);
    return object::compare(&a, &b, op);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell* grand_parent,
                Cell* previous, int index, bool case_, bool get, bool last, bool report) {
    if (is_word_kind(element) && words::is(element, words::Sym::stack))
        fire(ErrorId::script_invalid_path_set, path);
    return object::eval_path(parent, element, value, path, grand_parent, previous, index, case_, get,
                             last, report);
}

// The value a bound word holds, or null when its context has no values.
const Cell* bound_value(const Cell* word) {
    const auto index = static_cast<std::int32_t>(word->data3);
    if (!word->data1 || index < 0 || !context::header(word->data1)->data2) return nullptr;
    return context::slot(word->data1, index);
}

bool is_callable(const Cell* c) {
    switch (c->type()) {
        case Type::function: case Type::action: case Type::native: case Type::op: case Type::routine:
            return true;
        default: return false;
    }
}

bool is_argument_word(const Cell* c) {
    switch (c->type()) {
        case Type::word: case Type::lit_word: case Type::get_word: case Type::refinement:
            return true;
        default: return false;
    }
}

bool nth_spec_word(NodeId spec, std::int32_t n, Cell* out) {
    memory::SeriesBuffer* b = memory::buffer_of(spec);
    for (Cell* c = b->cells(); c < b->cells_tail(); ++c) {
        if (!is_argument_word(c)) continue;
        if (n-- == 0) {
            *out = *c;
            return true;
        }
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Set-up.

void init() {
    constexpr ActionRow actions{
        .make = make,
        .reflect = inherit,
        .form = form,
        .mold = mold,
        .eval_path = eval_path,
        .compare = compare,
        .copy = inherit,
        .find = inherit,
        .select = inherit,
    };
    registry::register_type(Type::error, Type::object, "error!", actions);
}

void init_catalog() {
    roots = 0;
    collector::register_root(&roots);
    // GC: the pieces wait in this frame until the root block holds them.
    const Cell built_catalog = build_catalog();
    const Cell built_standard = build_standard();
    const Cell files = block_cell(memory::alloc_cells(4));
    const NodeId node = memory::alloc_cells(root_count);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    b->cells()[catalog_slot] = built_catalog;
    b->cells()[standard_slot] = built_standard;
    b->cells()[stack_trace_slot] = integer_cell(1);
    b->cells()[source_files_slot] = files;
    b->cells()[state_slot] = none::value;
    b->tail = b->offset + root_count * sizeof(Cell);
    roots = node;
    is_ready = true;
}

bool catalog_ready() { return is_ready; }

void forget() {
    is_ready = false;
    roots = 0;
}

Cell* catalog() { return root_cell(catalog_slot); }
Cell* category(std::int32_t index) { return object::field_value(catalog_context(), index); }
Cell* standard() { return root_cell(standard_slot); }
// A field of the attached system/state object, else the runtime's own cell.
Cell* state_field(const char* name, RootSlot own) {
    const Cell state = *root_cell(state_slot);
    if (state.is(Type::object)) {
        Cell word;
        word::load(name, &word);
        const std::int32_t index = object::find_field(&state, &word);
        if (index >= 0) return object::field_value(object::context_of(&state), index);
    }
    return root_cell(own);
}

Cell* stack_trace() { return state_field("stack-trace", stack_trace_slot); }
Cell* source_files() { return state_field("source-files", source_files_slot); }

void attach_state(const Cell* state) { *root_cell(state_slot) = *state; }

// ---------------------------------------------------------------------------
// Making and raising.

Cell* create(const Cell* category_word, const Cell* id_word, const Cell* arg1, const Cell* arg2,
             const Cell* arg3) {
    const std::int32_t category = category_index(category_word);
    if (category < 0) fire_spec_field(words::W::type);
    const std::int32_t id_index = id_field(category, id_word);
    if (id_index < 0) fire_spec_field(words::W::id);
    // GC: the arguments are copied before anything allocates.
    const Cell args[3] = {arg1 ? *arg1 : none::value, arg2 ? *arg2 : none::value,
                          arg3 ? *arg3 : none::value};
    Cell error;
    new_error(&error);
    *field(&error, Field::code) = integer_cell(category * 100 + id_index - 2);
    *field(&error, Field::type) = *category_word;
    *field(&error, Field::id) = *id_word;
    for (std::int32_t i = 0; i < 3; ++i)
        *field(&error, static_cast<Field>(static_cast<std::int32_t>(Field::arg1) + i)) = args[i];
    set_near(&error);
    return stack::push_copy(&error);
}

Cell* create(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    const auto category = static_cast<std::int32_t>(error_info(id).category);
    const Cell category_word = plain_word(context::get_word_at(catalog_context(), category));
    const Cell id_word = plain_word(context::get_word_at(category_context(category), id_field_of(id)));
    return create(&category_word, &id_word, arg1, arg2, arg3);
}

void report(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    stack::push_named_frame(words::symbol(words::W::body_frame), stack::header::native);
    Cell* error = create(id, arg1, arg2, arg3);
    stack::set_last(error);
    Cell text;
    form_text(state.stack_arguments, &text);
    console_output::call_print_hooks(&text, true);
    *state.stack_arguments = unset::value;
    stack::close();
}

Cell* field(const Cell* error, Field which) {
    return object::field_value(error->data1, static_cast<std::int32_t>(which));
}

void set_where(Cell* error, const Cell* value) {
    const Cell copy = *value;
    if (field(error, Field::where)->is(Type::none)) *field(error, Field::where) = copy;
}

void mark_stack(Cell* error, std::int32_t position) {
    if (!field(error, Field::stack)->is(Type::block)) *field(error, Field::stack) = integer_cell(position);
}

std::uint32_t get_type(const Cell* error) {
    const Cell* w = field(error, Field::type);
    return is_word_kind(w) ? w->data2 : 0;
}

std::uint32_t get_id(const Cell* error) {
    const Cell* w = field(error, Field::id);
    return is_word_kind(w) ? w->data2 : 0;
}

ErrorId id_of(const Cell* error) {
    const std::int32_t category = category_index(field(error, Field::type));
    if (category < 0) return ErrorId::count_;
    const std::int32_t id_index = id_field(category, field(error, Field::id));
    if (id_index < 0) return ErrorId::count_;
    return error_of_code(category * 100 + id_index - 2);
}

KivError exception_for(const Cell* error) {
    KivError e{id_of(error), 0, {}};
    for (std::int32_t i = 0; i < 3; ++i) {
        e.args[i] = *field(error, static_cast<Field>(static_cast<std::int32_t>(Field::arg1) + i));
        if (!e.args[i].is(Type::none)) e.arg_count = i + 1;
    }
    return e;
}

Cell* caught() { return stack::top_value(); }

Cell* get_arg_word(std::int32_t n, Cell* out) {
    Cell function_word;
    stack::current_function_word(&function_word);
    const Cell* value = bound_value(&function_word);
    if (value && is_callable(value) && nth_spec_word(value->data2, n, out)) return out;
    return words::word(words::W::anon, out);
}

void capture_stack(Cell* error) {
    const Cell position = *field(error, Field::stack);
    if (!position.is(Type::integer)) return;
    const Cell* trace = stack_trace();
    const auto level = trace->is(Type::integer) && static_cast<std::int32_t>(trace->data2) > 0
                           ? static_cast<std::int32_t>(trace->data2)
                           : 1;
    const Cell block = recent_frames(level, static_cast<std::int32_t>(position.data2));
    *field(error, Field::stack) = block;
    const Cell files = *source_files();
    if (files.is(Type::block) && memory::buffer_of(files.data2)->length() > files.data1) {
        const NodeId copy = memory::copy_series(memory::buffer_of(files.data2));
        *field(error, Field::files) = Cell{files.header, files.data1, copy, 0};
    }
}

// ---------------------------------------------------------------------------
// Text.

Cell* form_text(Cell* error, Cell* out) {
    string::make_at(out, 256);
    // GC: `out` is this caller's cell; the string grows through its node.
    form(error, out, nullptr, unlimited);
    return out;
}

// The limit also goes as a part argument, so that a huge value stops
// being formed or molded at the limit instead of being cut after.
int form_limited(Cell* value, Cell* buffer, int limit) {
    const std::int32_t start = text_length(buffer);
    Cell part = integer_cell(limit);
    registry::find<Action::form>(value)(value, buffer, limit < unlimited ? &part : nullptr, limit);
    const std::int32_t written = text_length(buffer) - start;
    if (written > limit) cut_text(buffer, start + limit);
    return written > limit ? 0 : limit - written;
}

int mold_limited(Cell* value, Cell* buffer, bool only, int limit) {
    const std::int32_t start = text_length(buffer);
    Cell part = integer_cell(limit);
    registry::find<Action::mold>(value)(value, buffer, only, false, true, limit < unlimited ? &part : nullptr, limit, 0);
    const std::int32_t written = text_length(buffer) - start;
    if (written > limit) cut_text(buffer, start + limit);
    return written > limit ? 0 : limit - written;
}

void report_uncaught(Cell* error) {
    // An error while printing an error has nothing left to print it.
    static bool reporting = false;
    if (reporting) runtime::exit_process(-2);
    reporting = true;
    if (stack::ready()) stack::set_last(error);
    Cell text;
    form_text(error, &text);
    console_output::call_print_hooks(&text, true);
    runtime::exit_process(-2);
}

void fire_bad_make_arg(const Cell* value, Type type) {
    Cell datatype;
    registry::make_datatype(&datatype, type);
    fire(ErrorId::script_bad_make_arg, &datatype, value);
}

void set_spec_evaluator(SpecEvaluator evaluator) { spec_evaluator = evaluator; }

}  // namespace kiv::error
