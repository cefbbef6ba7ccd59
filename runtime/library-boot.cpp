// The library's top level from the embedded sources.
#include "runtime/library-boot.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/embedded.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"

namespace kiv::library_boot {

namespace {

constexpr const char* type_names[] = {
#define KIV_TYPE_NAME(id, ident, name) name,
    KIV_TYPE_LIST(KIV_TYPE_NAME)
#undef KIV_TYPE_NAME
};

// Every datatype word holds its datatype!, registered or not, so that
// type blocks may name datatypes whose units come later.
void bind_datatype_words() {
    for (std::uint32_t id = 1; id <= sizeof type_names / sizeof *type_names; ++id) {
        Cell word;
        word::load(type_names[id - 1], &word);
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

bool is_library_source(const char* path) { return std::string_view(path).starts_with("library/"); }

}  // namespace

void eval_source(const char* text, std::size_t size) {
    if (!block::load_text_hook) fire(ErrorId::internal_not_done);
    Cell source;
    unset::make_at(&source);
    string::make_at(&source, static_cast<std::int64_t>(size));
    string::append_utf8(&source, std::string_view(text, size));
    Cell code;
    unset::make_at(&code);
    block::load_text_hook(&source, &code);
    memory::SeriesBuffer* b = block::buffer(&code);
    if (b->length() >= 2 && b->cells()[0].is(Type::word) && b->cells()[1].is(Type::block) &&
        symbol::resolve(b->cells()[0].data2) == symbol::resolve(symbol::make("Kiv")))
        series::set_head(&code, 2);
    if (interpreter::eval_block(&code, false) == Status::thrown) state.thrown_code = 0;
    state.stack_top = state.stack_arguments;
}

void run() {
    bind_datatype_words();
    bind_make();
    for (const embedded::Source* s = embedded::sources; s->path; ++s)
        if (is_library_source(s->path)) eval_source(s->text, s->size);
}

}  // namespace kiv::library_boot
