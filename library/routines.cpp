// The library routines: their C++ functions, their specs and their binding.
#include "library/routines.h"

#include <cstring>
#include <iterator>
#include <string>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/boot.h"
#include "runtime/collector.h"
#include "runtime/error-exit.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/platform/os-identity.h"
#include "runtime/platform/platform.h"
#include "runtime/services/file-io.h"
#include "runtime/state.h"
#include "runtime/unicode.h"

namespace kiv::library_routines {

Clipboard clipboard{};

namespace {

using routine::Raw;

constexpr std::uint32_t header_of(Type t) { return static_cast<std::uint32_t>(t); }

Cell integer_cell(std::int32_t n) {
    return Cell{header_of(Type::integer), 0, static_cast<std::uint32_t>(n), 0};
}

// The cell a routine without a result type answers through.
Cell* answer(const Raw* args, int arity) { return args[arity].cell; }

// script expect-arg naming the routine, the datatype of the refused value
// and the argument's word.
[[noreturn]] void fire_expect_arg(const char* routine_name, const Cell* value, const char* argument) {
    Cell name;
    Cell type;
    Cell word;
    word::load(routine_name, &name);
    registry::make_datatype(&type, value->type());
    word::load(argument, &word);
    fire(ErrorId::script_expect_arg, &name, &type, &word);
}

// --- ending the process and quiet setting ---

std::int32_t quit_return(const Raw* args) { runtime::exit_process(args[0].number); }

bool any_word_q(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::get_word || t == Type::lit_word;
}

std::int32_t set_quiet(const Raw* args) {
    Cell* word = args[0].cell;
    const Cell value = *args[1].cell;
    if (!any_word_q(word->type())) fire_expect_arg("set-quiet", word, "word");
    Cell target = *word;
    context::set_in(&target, &value, target.data1, false);
    *answer(args, 2) = value;
    return 0;
}

bool slot_series_q(Type t) {
    return t == Type::block || t == Type::paren || t == Type::path || t == Type::lit_path ||
           t == Type::set_path || t == Type::get_path;
}

std::int32_t set_slot_quiet(const Raw* args) {
    Cell* series = args[0].cell;
    if (!slot_series_q(series->type())) fire_expect_arg("set-slot-quiet", series, "series");
    if (!block::ks_tail_q(series)) *block::ks_head(series) = *args[1].cell;
    return 0;
}

// --- bit shifts: a negative count counts as 0 ---

std::int32_t bit_count(std::int32_t bits) { return bits < 0 ? 0 : bits; }

std::int32_t shift_right(const Raw* args) {
    const std::int32_t data = args[0].number;
    const std::int32_t bits = bit_count(args[1].number);
    *answer(args, 2) = integer_cell(bits > 31 ? (data < 0 ? -1 : 0) : data >> bits);
    return 0;
}

std::int32_t shift_left(const Raw* args) {
    const auto data = static_cast<std::uint32_t>(args[0].number);
    const std::int32_t bits = bit_count(args[1].number);
    *answer(args, 2) = integer_cell(bits > 31 ? 0 : static_cast<std::int32_t>(data << bits));
    return 0;
}

std::int32_t shift_logical(const Raw* args) {
    const auto data = static_cast<std::uint32_t>(args[0].number);
    const std::int32_t bits = bit_count(args[1].number);
    *answer(args, 2) = integer_cell(bits > 31 ? 0 : static_cast<std::int32_t>(data >> bits));
    return 0;
}

std::int32_t last_lf_q(const Raw* args) {
    logic::make_at(answer(args, 0), natives::last_lf);
    return 0;
}

// --- directories and files ---

std::int32_t get_current_dir(const Raw* args) {
    file::get_current_dir(answer(args, 0));
    return 0;
}

std::int32_t set_current_dir(const Raw* args) {
    Cell* path = args[0].cell;
    const char* os_path = file_io::os_path(path);
    if (!os_path || !platform::set_current_dir(os_path)) fire(ErrorId::access_cannot_open, path);
    return 0;
}

std::int32_t create_dir(const Raw* args) {
    Cell* path = args[0].cell;
    if (!file_io::make_dir(file_io::os_path(path))) fire(ErrorId::access_no_create, path);
    return 0;
}

std::int32_t exists_q(const Raw* args) {
    return file_io::file_exists_q(file_io::os_path(args[0].cell)) ? 1 : 0;
}

// --- system information ---

void add_field(Cell* object, const char* name, const Cell* value) {
    Cell word;
    word::load(name, &word);
    context::add_with_value(object::context_of(object), &word, value);
}

// The system's identification as an object of name, arch, version and
// build, in that order.
std::int32_t os_info(const Raw* args) {
    const platform::OsIdentity id = platform::os_identity();
    Cell* out = answer(args, 0);
    object::make_at(out, 8);
    Cell value;
    string::make_at(&value, static_cast<std::int64_t>(id.name.size()));
    string::append_utf8(&value, id.name);
    add_field(out, "name", &value);
    word::load(id.arch, &value);
    add_field(out, "arch", &value);
    value = Cell{};
    tuple::from_integers(&value, 3, id.version);
    add_field(out, "version", &value);
    value = integer_cell(id.build);
    add_field(out, "build", &value);
    return 0;
}

// --- tuples ---

// A tuple of n components, each reduced modulo 256; the first negative
// one fires script invalid-arg.
void make_tuple(const Raw* args, int n) {
    std::int32_t values[4];
    for (int i = 0; i < n; ++i) {
        values[i] = args[i].number;
        if (values[i] < 0) {
            const Cell bad = integer_cell(values[i]);
            fire(ErrorId::script_invalid_arg, &bad);
        }
    }
    Cell* out = answer(args, n);
    *out = Cell{};
    tuple::from_integers(out, n, values);
}

std::int32_t as_color(const Raw* args) {
    make_tuple(args, 3);
    return 0;
}

std::int32_t as_ipv4(const Raw* args) {
    make_tuple(args, 4);
    return 0;
}

// --- UTF-8 counting and the stacks ---

std::int32_t count_chars(const Raw* args) {
    Cell* start = args[0].cell;
    memory::SeriesBuffer* b = binary::buffer(start);
    const std::uint32_t size = b->used_bytes();
    const std::uint32_t from = start->data1 < size ? start->data1 : size;
    const std::uint32_t to = args[1].cell->data1 < size ? args[1].cell->data1 : size;
    const std::uint8_t* p = b->head() + from;
    const std::uint8_t* end = b->head() + to;
    std::int32_t count = 0;
    while (p < end) {
        std::int32_t cp;
        p = unicode::fast_decode_utf8_char(p, end, &cp);
        ++count;
    }
    return count;
}

std::int32_t stack_size_q(const Raw*) {
    return static_cast<std::int32_t>(state.stack_top - state.stack_bottom);
}

std::int32_t frame_index_q(const Raw*) {
    return static_cast<std::int32_t>(state.stack_arguments - state.stack_bottom);
}

std::int32_t pick_stack(const Raw* args) {
    const std::int32_t index = args[0].number;
    Cell* out = answer(args, 1);
    if (index > 0 && index < stack_size_q(args)) *out = state.stack_bottom[index - 1];
    else none::make_at(out);
    return 0;
}

std::int32_t collect_calls(const Raw* args) {
    stack::collect_calls(args[0].cell);
    return 0;
}

std::int32_t tracing_q(const Raw* args) {
    logic::make_at(answer(args, 0), state.tracing);
    return 0;
}

// --- the system object's readers ---

std::int32_t interpreted_q(const Raw* args) {
    logic::make_at(answer(args, 0), stack::eval_q(nullptr, false));
    return 0;
}

std::int32_t collector_active_q(const Raw* args) {
    logic::make_at(answer(args, 0), collector::active());
    return 0;
}

std::int32_t series_cycles(const Raw* args) {
    *answer(args, 0) = integer_cell(static_cast<std::int32_t>(collector::cycle_count()));
    return 0;
}

std::int32_t nodes_cycles(const Raw* args) {
    *answer(args, 0) = integer_cell(static_cast<std::int32_t>(collector::node_compaction_count()));
    return 0;
}

// --- clipboard and standard output ---

std::int32_t read_clipboard(const Raw* args) {
    if (!clipboard.read) fire(ErrorId::internal_not_done);
    clipboard.read(answer(args, 0));
    return 0;
}

std::int32_t write_clipboard(const Raw* args) {
    if (!clipboard.write) fire(ErrorId::internal_not_done);
    return clipboard.write(args[0].cell) ? 1 : 0;
}

std::int32_t write_stdout(const Raw* args) {
    file_io::write(nullptr, args[0].cell, nullptr, nullptr, false, false, false);
    return 0;
}

// --- the float printing switch ---

// Setting system/options/float/pretty? switches pretty float forming; the
// other field, full?, changes nothing.
std::int32_t float_switch(const Raw* args) {
    Cell pretty;
    word::load("pretty?", &pretty);
    if (symbol::resolve(args[0].cell->data2) == symbol::resolve(pretty.data2))
        float_::pretty_print = logic::truthy(args[1].cell, false, nullptr);
    return 0;
}

// Not a global word: bind_float_switch puts it in the handler's body.
constexpr Definition float_switch_definition = {
    "float-switch", R"("Switches a float printing flag" word [word!] value [any-type!])", float_switch};

// ORDER ROUTINES: the binding order of the global words.
constexpr Definition definitions[] = {
    {"quit-return",
     R"("Stops evaluation and exits the program with a given status"
        status [integer!] "Process termination value to return")",
     quit_return},
    {"set-quiet",
     R"("Set an object's field to a value without triggering eventual object's events"
        word [any-type!] value [any-type!] return: [any-type!])",
     set_quiet},
    {"set-slot-quiet",
     R"("Set a value in series without triggering eventual owner's events"
        series [any-type!] value [any-type!])",
     set_slot_quiet},
    {"shift-right", R"("Shift bits to the right" data [integer!] bits [integer!])", shift_right},
    {"shift-left", R"("Shift bits to the left" data [integer!] bits [integer!])", shift_left},
    {"shift-logical", R"~("Shift bits to the right (unsigned)" data [integer!] bits [integer!])~",
     shift_logical},
    {"last-lf?", R"("Internal Use Only")", last_lf_q},
    {"get-current-dir", R"("Returns the platform's current directory for the process")", get_current_dir},
    {"set-current-dir", R"("Sets the platform's current process directory" path [file!])", set_current_dir},
    {"create-dir", R"("Create the given directory" path [file!])", create_dir},
    {"exists?", R"("Returns TRUE if the file exists" path [file!] return: [logic!])", exists_q},
    {"os-info", R"("Returns detailed operating system version information")", os_info},
    {"as-color", R"("Combine R, G and B values into a tuple" r [integer!] g [integer!] b [integer!])",
     as_color},
    {"as-ipv4",
     R"("Combine a, b, c and d values into a tuple" a [integer!] b [integer!] c [integer!] d [integer!])",
     as_ipv4},
    {"as-rgba",
     R"("Combine R, G, B and A color components into a tuple"
        r [integer!] g [integer!] b [integer!] a [integer!])",
     as_ipv4},
    {"count-chars",
     R"("Count UTF-8 encoded characters between two positions in a binary series"
        start [binary!] pos [binary!] return: [integer!])",
     count_chars},
    {"stack-size?", R"(return: [integer!])", stack_size_q},
    {"pick-stack", R"(idx [integer!])", pick_stack},
    {"frame-index?", R"(return: [integer!])", frame_index_q},
    {"collect-calls", R"(blk [block!])", collect_calls},
    {"tracing?", "", tracing_q},
    {"read-clipboard",
     R"("Return the contents of the system clipboard"
        return: [any-type!]
            "false on failure, none if empty, otherwise: string!, block! of files!, or an image!")",
     read_clipboard},
    {"write-clipboard",
     R"("Write content to the system clipboard"
        data [any-type!] "string!, block! of files!, an image! or none!"
        return: [logic!] "indicates success")",
     write_clipboard},
    {"write-stdout", R"("Write data to STDOUT" data [any-type!])", write_stdout},
};

bool same_symbol(const Cell* word, std::uint32_t symbol) {
    return symbol::resolve(word->data2) == symbol::resolve(symbol);
}

// The result type a spec's `return:` names: logic! or integer!, else none.
std::int32_t result_type(Cell* spec) {
    const std::int32_t length = block::ks_length(spec);
    for (std::int32_t i = 0; i + 1 < length; ++i) {
        const Cell* c = block::ks_abs_at(spec, static_cast<std::int32_t>(spec->data1) + i);
        if (!c->is(Type::set_word) || !same_symbol(c, words::symbol(words::Sym::return_))) continue;
        Cell types = c[1];
        if (!types.is(Type::block) || block::ks_length(&types) != 1) return routine::no_result;
        const Cell* name = block::ks_head(&types);
        if (!name->is(Type::word)) return routine::no_result;
        if (same_symbol(name, words::symbol(words::Sym::logic_type)))
            return static_cast<std::int32_t>(Type::logic);
        if (same_symbol(name, words::symbol(words::Sym::integer_type)))
            return static_cast<std::int32_t>(Type::integer);
        return routine::no_result;
    }
    return routine::no_result;
}

}  // namespace

Cell* make(const Definition& definition, Cell* out) {
    if (!block::load_text_hook) fire(ErrorId::internal_not_done);
    std::int32_t slot = routine::find_entry(definition.name);
    if (!slot) slot = routine::register_entry(definition.name, definition.entry);
    Cell text;
    unset::make_at(&text);
    string::make_at(&text, static_cast<std::int64_t>(std::strlen(definition.spec)));
    string::append_utf8(&text, definition.spec);
    Cell spec;
    unset::make_at(&spec);
    block::load_text_hook(&text, &spec);
    return routine::make_at(out, &spec, nullptr, slot, result_type(&spec));
}

void define(const Definition& definition, Cell* out) {
    make(definition, out);
    Cell word;
    word::load(definition.name, &word);
    context::set(&word, out);
}

void set_codec_routine(const char* key, const char* field, const Definition& definition) {
    Cell* codecs = boot::resolve("system/codecs");
    if (!codecs || !codecs->is(Type::map)) fire(ErrorId::internal_not_done);
    Cell word;
    word::load(key, &word);
    const Cell* found = map::get(codecs, &word, false);
    if (!found || !found->is(Type::object)) fire(ErrorId::internal_not_done);
    const Cell codec = *found;
    Cell routine;
    make(definition, &routine);
    word::load(field, &word);
    const std::int32_t index = object::find_field(&codec, &word);
    if (index < 0) fire(ErrorId::internal_not_done);
    *object::field_value(object::context_of(&codec), index) = routine;
}

void set_field_routines(const FieldRoutine* fields, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        Cell routine;
        make(fields[i].definition, &routine);
        Cell* slot = boot::resolve(fields[i].path);
        if (!slot) fire(ErrorId::internal_not_done);
        *slot = routine;
    }
}

void replace_in_body(const char* function_path, const Definition& definition) {
    Cell* function = boot::resolve(function_path);
    if (!function || !function->is(Type::function)) fire(ErrorId::internal_not_done);
    const Cell body = *function::more_cell(function, function::more::body);
    Cell word;
    word::load(definition.name, &word);
    Cell routine;
    make(definition, &routine);
    const std::int32_t length = block::ks_length(&body);
    for (std::int32_t i = 0; i < length; ++i) {
        Cell* c = block::ks_abs_at(&body, static_cast<std::int32_t>(body.data1) + i);
        if (c->is(Type::word) && same_symbol(c, word.data2)) *c = routine;
    }
}

void bind_float_switch() { replace_in_body("system/options/float/on-change*", float_switch_definition); }

namespace {

// Money shows as many decimals as system/options/money-digits holds, read
// at each forming so that a plain set of the field takes effect at once.
bool money_digits(std::int32_t* digits) {
    const Cell* field = boot::resolve("system/options/money-digits");
    if (!field || !field->is(Type::integer)) return false;
    *digits = integer::get(field);
    return true;
}

}  // namespace

void bind_money_digits() { money::set_digits_source(money_digits); }

namespace {

// Routines that are fields of the system object rather than global words.
constexpr FieldRoutine system_fields[] = {
    {"system/state/interpreted?",
     {"interpreted?", R"("Return TRUE if called from the interpreter")", interpreted_q}},
    {"system/state/GC/active?", {"active?", "", collector_active_q}},
    {"system/state/GC/series-cycles", {"series-cycles", "", series_cycles}},
    {"system/state/GC/nodes-cycles", {"nodes-cycles", "", nodes_cycles}},
};

// Dates form their months and money finds its currencies through
// system/locale, read at each use: a field set again takes effect at once.
// Without a locale object the built-in English names and codes serve.
const Cell* locale_months() {
    const Cell* field = boot::resolve("system/locale/months");
    if (!field) return nullptr;
    if (!field->is(Type::block)) fire(ErrorId::script_invalid_months);
    return field;
}

const Cell* locale_currencies() {
    const Cell* field = boot::resolve("system/locale/currencies/list");
    return field && field->is(Type::block) ? field : nullptr;
}

}  // namespace

void bind_system_fields() {
    set_field_routines(system_fields, std::size(system_fields));
    date::set_months_source(locale_months);
    money::set_currency_source(locale_currencies);
}

void bind() {
    for (const Definition& d : definitions) {
        Cell routine;
        define(d, &routine);
    }
}

}  // namespace kiv::library_routines
