#include "runtime/boot.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>

#include "console/console-routines.h"
#include "library/image-codecs.h"
#include "library/kivbin-codec.h"
#include "library/routines.h"
#include "library/tools-routines.h"
#include "library/type-predicates.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/embedded.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/lexer-scan.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/stack.h"
#include "runtime/services/kivbin.h"
#include "runtime/fire.h"
#include "runtime/memory.h"
#include "runtime/state.h"
#include "view/backends/terminal/gui-routines.h"
#include "view/view-routines.h"

namespace kiv::boot {

namespace {

// The command line, kept for the binder that hands it to the library.
int boot_argc = 0;
const char* const* boot_argv = nullptr;

// ---------------------------------------------------------------------------
// The built-in words.

// Every datatype word holds its datatype!, registered or not, so that
// type blocks may name datatypes whose units come later.
void bind_datatype_words() {
    for (int id = 1; id <= type_count; ++id) {
        Cell word;
        word::load(registry::entry(static_cast<std::uint32_t>(id)).name, &word);
        Cell type;
        registry::make_datatype(&type, static_cast<Type>(id));
        context::set(&word, &type);
    }
}

// `make`, which the sources need to bind everything else.
void bind_make() {
    Cell spec;
    unset::make_at(&spec);
    block::make_at(&spec, 2);
    Cell w;
    block::ks_append(&spec, word::load("type", &w));
    block::ks_append(&spec, word::load("spec", &w));
    Cell make;
    native::make_at(&make, Type::action, &spec, static_cast<std::int32_t>(Action::make));
    Cell name;
    word::load("make", &name);
    context::set(&name, &make);
}

void bind_built_in_words() {
    bind_datatype_words();
    bind_make();
}

// ---------------------------------------------------------------------------
// Values of the runtime handed to the library.

void set_path(const char* path, const Cell* value) {
    const char* slash = std::strrchr(path, '/');
    Cell* holder = resolve(std::string(path, static_cast<std::size_t>(slash - path)).c_str());
    if (!holder || !holder->is(Type::object)) fire(ErrorId::internal_not_done);
    const Cell object = *holder;
    Cell word;
    word::load(slash + 1, &word);
    const std::int32_t index = object::find_field(&object, &word);
    if (index < 0) fire(ErrorId::internal_not_done);
    *object::field_value(object::context_of(&object), index) = *value;
}

// The catalogue and the error prototype that the runtime built, the state
// values errors read, the lexer's exit states and the global context become
// fields of the system object.
void bind_system_values() {
    Cell value = *error::catalog();
    set_path("system/catalog/errors", &value);
    value = *error::standard();
    set_path("system/standard/error", &value);
    value = *resolve("system/state");
    error::attach_state(&value);
    lexer::make_exit_states(&value);
    set_path("system/lexer/exit-states", &value);
    // system/words: the global context seen as an object, which is also
    // that context's owner value.
    object::make_from_context(&value, state.global_context, -1);
    set_path("system/words", &value);
}

// system/script/args holds the whole command line.
void bind_script_args() {
    const std::string line = command_line(boot_argc, boot_argv);
    Cell text;
    unset::make_at(&text);
    string::make_at(&text, static_cast<std::int64_t>(line.size()));
    string::append_utf8(&text, line);
    set_path("system/script/args", &text);
}

// Calls a function of no arguments bound to a global word, in a function
// frame named by that word; answers its result in `result`.
void call_global(const char* name, Cell* result) {
    Cell word;
    word::load(name, &word);
    const Cell function = *context::get(&word);
    if (interpreter::call_with_arguments(&function, &word, nullptr, 0, result) == Status::thrown)
        state.thrown_code = 0;
}

void run_extract_boot_args() {
    Cell result;
    unset::make_at(&result);
    call_global("extract-boot-args", &result);
}

void bind_editor_routines() { console_routines::bind(console_routines::Part::editor); }
void bind_stdin_routines() { console_routines::bind(console_routines::Part::stdin_readers); }
void bind_console_init() { console_routines::bind(console_routines::Part::console_init); }

// q is quit, and dir is ls once ls is built.
void bind_aliases() {
    const char* const pairs[][2] = {{"q", "quit"}, {"dir", "ls"}};
    for (const auto& pair : pairs) {
        Cell from;
        word::load(pair[1], &from);
        const Cell value = *context::get(&from);
        if (value.is(Type::unset)) continue;
        Cell to;
        word::load(pair[0], &to);
        context::set(&to, &value);
    }
}

// ---------------------------------------------------------------------------
// The groups.

constexpr Step source(const char* path) { return Step{path, nullptr, path}; }
constexpr Step binder(void (*bind)(), const char* name) { return Step{nullptr, bind, name}; }

// ORDER BOOT: each group's steps in binding order.
constexpr Step built_in_steps[] = {
    binder(bind_built_in_words, "datatype words and make"),
    source("library/actions.kiv"),
    source("library/base-types.kiv"),
    source("library/natives.kiv"),
    source("library/operators.kiv"),
    binder(natives::remember_library_specs, "native and action specs"),
};
constexpr Step routine_steps[] = {binder(library_routines::bind, "library routines")};
constexpr Step first_function_steps[] = {
    source("library/characters.kiv"),
    source("library/evaluation.kiv"),
    source("library/series.kiv"),
};
constexpr Step predicate_steps[] = {binder(type_predicates::bind, "type predicates")};
constexpr Step conversion_steps[] = {
    source("library/conversions.kiv"),
    source("library/math.kiv"),
};
constexpr Step library_function_steps[] = {
    source("library/files.kiv"),
    source("library/load-save.kiv"),
    source("library/scripts.kiv"),
};
constexpr Step system_steps[] = {
    source("library/system.kiv"),
    binder(bind_system_values, "catalogue, error prototype and state"),
    binder(bind_script_args, "system/script/args"),
    binder(library_routines::bind_float_switch, "system/options/float switches"),
    binder(library_routines::bind_money_digits, "system/options/money-digits"),
    binder(library_routines::bind_system_fields, "system/state readers and system/locale"),
};
constexpr Step codec_steps[] = {
    source("library/codecs.kiv"),
    binder(image_codecs::bind, "image codec routines"),
    binder(kivbin_codec::bind, "kivbin codec routines"),
};
constexpr Step reactivity_steps[] = {source("library/reactivity.kiv")};
constexpr Step url_steps[] = {source("library/url.kiv")};
constexpr Step preprocessor_steps[] = {source("library/preprocessor.kiv")};
constexpr Step tools_steps[] = {
    binder(tools_routines::bind, "_set-tracing"),
    source("library/tools.kiv"),
    source("library/tracers.kiv"),
};
constexpr Step json_csv_steps[] = {source("library/json.kiv"), source("library/csv.kiv")};
constexpr Step graphics_steps[] = {
    binder(event::bind, "event! and its routines"),
    binder(view_routines::bind, "view routines"),
    source("view/system-view.kiv"),
    source("view/faces.kiv"),
    source("view/helpers.kiv"),
    source("view/focus.kiv"),
    source("view/rich-text.kiv"),
    source("view/vid.kiv"),
    source("view/gui-rules.kiv"),
    source("view/show.kiv"),
    source("view/actors.kiv"),
    source("view/backends/terminal/tui-helpers.kiv"),
    source("view/backends/terminal/platform.kiv"),
    binder(gui::bind_routines, "terminal backend routines"),
};
constexpr Step command_line_steps[] = {binder(run_extract_boot_args, "extract-boot-args")};
constexpr Step console_steps[] = {
    source("console/complete.kiv"),
    binder(bind_editor_routines, "line-editor routines"),
    source("console/input.kiv"),
    binder(bind_stdin_routines, "standard input routines"),
    source("console/engine.kiv"),
    binder(bind_console_init, "system/console/init"),
    source("console/shell.kiv"),
    source("console/help.kiv"),
    binder(bind_aliases, "q and dir"),
    source("console/settings.kiv"),
};

#define KIV_BOOT_GROUP(number, name, steps) {number, name, steps, static_cast<int>(std::size(steps))}
#define KIV_BOOT_EMPTY(number, name) {number, name, nullptr, 0}
constexpr Group group_table[] = {
    KIV_BOOT_GROUP(0, "built-in words", built_in_steps),
    KIV_BOOT_GROUP(1, "low-level routines", routine_steps),
    KIV_BOOT_GROUP(2, "first library functions", first_function_steps),
    KIV_BOOT_GROUP(3, "type predicates", predicate_steps),
    KIV_BOOT_GROUP(4, "conversions and helpers", conversion_steps),
    KIV_BOOT_EMPTY(5, "parse tracing"),
    KIV_BOOT_GROUP(6, "library functions", library_function_steps),
    KIV_BOOT_GROUP(7, "the system object", system_steps),
    KIV_BOOT_GROUP(8, "codecs", codec_steps),
    KIV_BOOT_GROUP(9, "reactivity", reactivity_steps),
    KIV_BOOT_GROUP(10, "schemes and URLs", url_steps),
    KIV_BOOT_GROUP(11, "preprocessor", preprocessor_steps),
    KIV_BOOT_GROUP(12, "tools", tools_steps),
    KIV_BOOT_GROUP(13, "command line", command_line_steps),
    KIV_BOOT_GROUP(14, "JSON and CSV", json_csv_steps),
    KIV_BOOT_GROUP(15, "graphics", graphics_steps),
    KIV_BOOT_GROUP(16, "console", console_steps),
};
#undef KIV_BOOT_GROUP
#undef KIV_BOOT_EMPTY

// ORDER CLASS-IDS: the boot objects built so far, in the order they are
// made, with the class ids that compiled code and `class-of` know them by.
#define KIV_CLASS_IDS(X)                                                                 \
    X("parse-trace-ctx", 122, 2)                                                         \
    X("system/build/config", 180, 7) X("system/build", 176, 7) X("system/catalog", 182, 7)  \
    X("system/state/callbacks", 209, 7) X("system/state/GC", 212, 7) X("system/state", 206, 7) \
    X("system/locale/currencies", 218, 7) X("system/locale", 216, 7)                     \
    X("system/options/float", 224, 7) X("system/options", 222, 7)                        \
    X("system/script", 229, 7) X("system/standard/header", 233, 7)                       \
    X("system/standard/port", 243, 7) X("system/standard/url-parts", 250, 7)            \
    X("system/standard/scheme", 252, 7)                                                  \
    X("system/standard", 231, 7) X("system/lexer", 254, 7) X("system", 174, 7)           \
    X("system/codecs/kivbin", 273, 8) X("system/codecs/json", 386, 8)                    \
    X("system/codecs/csv", 393, 8) X("reactor!", 277, 9) X("deep-reactor!", 280, 9)      \
    X("system/reactivity", 286, 9) X("load-json-ctx", 373, 14) X("to-json-ctx", 379, 14)   \
    X("load-csv-ctx", 398, 14) X("url-parser", 303, 10) X("preprocessor", 309, 11)       \
    X("system/tools/options/debug", 332, 12) X("system/tools/options/trace", 334, 12)    \
    X("system/tools/options/profile", 336, 12) X("system/tools/options", 330, 12)        \
    X("system/tools/tracers/free", 354, 12) X("system/tools/tracers/data", 358, 12)      \
    X("system/tools/tracers/inspector", 365, 12) X("system/tools/tracers", 345, 12)      \
    X("system/tools", 328, 12)                                                           \
    X("rich-text/rtd", 424, 15) X("rich-text", 422, 15) X("face!", 444, 15)              \
    X("font!", 448, 15) X("para!", 452, 15) X("scroller!", 455, 15)                      \
    X("system/view/metrics", 460, 15) X("system/view/fonts", 462, 15)                    \
    X("system/view", 458, 15) X("TUI-helpers", 467, 15) X("system/view/platform", 477, 15) \
    X("system/view/VID/GUI-rules/processors", 488, 15)                                   \
    X("system/view/VID/GUI-rules", 486, 15) X("system/view/VID/opts-proto", 495, 15)     \
    X("system/view/VID", 484, 15)                                                        \
    X("kiv-complete-ctx", 549, 16) X("help-ctx/func-spec-ctx/func-spec", 581, 16)         \
    X("help-ctx/func-spec-ctx", 579, 16) X("help-ctx", 557, 16) X("system/console", 600, 16) \
    X("cli-console-ctx/settings", 621, 16) X("cli-console-ctx", 619, 16)
constexpr ClassId class_id_table[] = {
#define KIV_CLASS_ID_ROW(path, id, group) {path, id, group},
    KIV_CLASS_IDS(KIV_CLASS_ID_ROW)
#undef KIV_CLASS_ID_ROW
};

// Gives the object at the path its class id, in its holder's cell and in
// its context's owner cell, and marks its context as the library's; an
// object not built yet is left out.
void assign_class_id(const ClassId& row) {
    Cell* cell = resolve(row.path);
    if (!cell || !cell->is(Type::object)) return;
    cell->data2 = static_cast<std::uint32_t>(row.id);
    const NodeId ctx = object::context_of(cell);
    context::header(ctx)->header |= context::flag::library;
    Cell* owner = context::owner(ctx);
    if (owner->is(Type::object)) owner->data2 = static_cast<std::uint32_t>(row.id);
}

void run_step(const Step& step) {
    if (step.bind) {
        step.bind();
        return;
    }
    // PERF: the values as the build loaded them, decoded from the boot image
    // at start-up; the text is lexed only in a program built without one.
    Cell code;
    if (kivbin::boot_source(step.source, &code)) return eval_loaded(&code);
    for (const embedded::Source* s = embedded::sources; s->path; ++s)
        if (std::strcmp(s->path, step.source) == 0) return eval_source(s->text, s->size);
}

bool holds_code(const Cell* c) {
    switch (c->type()) {
        case Type::block:
        case Type::paren:
        case Type::path:
        case Type::lit_path:
        case Type::set_path:
        case Type::get_path:
            return true;
        default:
            return false;
    }
}

// Marks the loaded source's blocks, at every depth, as the library's code.
void mark_library_code(NodeId node) {
    memory::SeriesBuffer* b = memory::buffer_of(node);
    if (b->flags & memory::series_flag::library_code) return;
    b->flags |= memory::series_flag::library_code;
    for (const Cell* c = b->cells(); c < b->cells_tail(); ++c)
        if (holds_code(c)) mark_library_code(c->data2);
}

bool needs_quotes(const char* arg) {
    if (*arg == '\0') return true;
    return std::strpbrk(arg, " \t") != nullptr;
}

}  // namespace

const Group* groups() { return group_table; }
int group_count() { return static_cast<int>(std::size(group_table)); }
const ClassId* class_ids() { return class_id_table; }
int class_id_count() { return static_cast<int>(std::size(class_id_table)); }

const char* source_text(const char* path) {
    for (const embedded::Source* s = embedded::sources; s->path; ++s)
        if (std::strcmp(s->path, path) == 0) return s->text;
    return nullptr;
}

void eval_source(const char* text, std::size_t size) {
    // The embedded text is UTF-8 in the program's own data: the lexer reads
    // it in place.
    Cell code;
    unset::make_at(&code);
    lexer::scan(&code, reinterpret_cast<const std::uint8_t*>(text), size, false, true, true, true,
                nullptr, nullptr, nullptr, nullptr);
    eval_loaded(&code);
}

void eval_loaded(Cell* loaded) {
    Cell code = *loaded;
    mark_library_code(code.data2);
    memory::SeriesBuffer* b = block::buffer(&code);
    if (b->length() >= 2 && b->cells()[0].is(Type::word) && b->cells()[1].is(Type::block) &&
        symbol::resolve(b->cells()[0].data2) == symbol::resolve(symbol::make("Kiv")))
        series::set_head(&code, 2);
    Cell* const top = state.stack_top;
    if (interpreter::eval_block(&code, false) == Status::thrown) state.thrown_code = 0;
    state.stack_top = top;
}

Cell* resolve(const char* path) {
    Cell* cell = nullptr;
    NodeId ctx = context::global();
    for (std::string_view rest(path); !rest.empty();) {
        const std::size_t slash = rest.find('/');
        const std::string name(rest.substr(0, slash));
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (cell && cell->is(Type::map)) {
            // A registry such as system/codecs: the step is a key.
            Cell key;
            word::load(name.c_str(), &key);
            cell = map::get(cell, &key, false);
            if (!cell) return nullptr;
            continue;
        }
        if (cell) {
            if (!cell->is(Type::object)) return nullptr;
            ctx = object::context_of(cell);
        }
        const std::int32_t index = context::find_word(ctx, symbol::make(name.c_str()), true);
        if (index < 0) return nullptr;
        cell = ctx == context::global() ? context::slot(ctx, index) : object::field_value(ctx, index);
    }
    return cell;
}

void run(int argc, const char* const* argv) {
    boot_argc = argc;
    boot_argv = argv;
    // Every process runs the same start-up, so a stressed collector (a
    // collection at every allocation) spends most of each test process on
    // it. Stress starts after the start-up unless KIV_GC_STRESS_BOOT asks
    // for the start-up too; the boot-stress check does, once.
    const std::uint32_t stress = memory::stress_interval();
    if (!std::getenv("KIV_GC_STRESS_BOOT")) memory::set_stress_interval(0);
    for (const Group& group : group_table) {
        for (int i = 0; i < group.count; ++i) run_step(group.steps[i]);
        for (const ClassId& row : class_id_table)
            if (row.group == group.number) assign_class_id(row);
    }
    memory::set_stress_interval(stress);
}

int launch() {
    Cell* ctx = resolve("cli-console-ctx/launch");
    if (!ctx) fire(ErrorId::internal_not_done);
    const Cell function = *ctx;
    Cell name;
    word::load("launch", &name);
    Cell result;
    unset::make_at(&result);
    if (interpreter::call_with_arguments(&function, &name, nullptr, 0, &result) == Status::thrown)
        state.thrown_code = 0;
    return result.is(Type::integer) ? static_cast<std::int32_t>(result.data2) : 0;
}

std::string command_line(int argc, const char* const* argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) line += ' ';
        if (needs_quotes(argv[i])) {
            line += '"';
            line += argv[i];
            line += '"';
        } else {
            line += argv[i];
        }
    }
    return line;
}

}  // namespace kiv::boot
