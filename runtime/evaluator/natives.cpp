// The natives table, and what the natives share: the truth tests, the
// argument checks for C++ callers and the print scratch block. The natives
// themselves live in natives-*.cpp by group.
#include "runtime/evaluator/natives.h"

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/compiled.h"
#include "runtime/evaluator/interpreter-internal.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"

namespace kiv::natives {

bool last_lf = true;

namespace detail {
const Entry* table = nullptr;
}

namespace {

// A slot whose native is not written yet.
[[maybe_unused]] Status not_done(const std::int32_t*, std::int32_t) {
    fire(ErrorId::internal_not_done);
}

// Each written entry checks its arguments first when its caller asks for
// it (args[0] set: a C++ caller, not the interpreter).
#define KIV_NATIVE_CHECKED_0(slot, ident)
#define KIV_NATIVE_CHECKED_1(slot, ident)                                         \
    Status checked_##ident(const std::int32_t* args, std::int32_t count) {        \
        if (args[0]) [[unlikely]]                                                 \
            check_arguments(true, slot, args);                                    \
        return entries::ident(args, count);                                       \
    }
#define KIV_NATIVE_CHECKED(slot, ident, name, built) KIV_NATIVE_CHECKED_##built(slot, ident)
KIV_NATIVE_LIST(KIV_NATIVE_CHECKED)
#undef KIV_NATIVE_CHECKED
#undef KIV_NATIVE_CHECKED_1
#undef KIV_NATIVE_CHECKED_0

#define KIV_NATIVE_ENTRY_1(ident) &checked_##ident
#define KIV_NATIVE_ENTRY_0(ident) &not_done
#define KIV_NATIVE_ENTRY(built, ident) KIV_NATIVE_ENTRY_##built(ident)

// ORDER NATIVES.
constexpr Entry table[count] = {
#define KIV_NATIVE_TABLE_ROW(slot, ident, name, built) KIV_NATIVE_ENTRY(built, ident),
    KIV_NATIVE_LIST(KIV_NATIVE_TABLE_ROW)
#undef KIV_NATIVE_TABLE_ROW
};

constexpr const char* names[count] = {
#define KIV_NATIVE_NAME_ROW(slot, ident, name, built) name,
    KIV_NATIVE_LIST(KIV_NATIVE_NAME_ROW)
#undef KIV_NATIVE_NAME_ROW
};

#undef KIV_NATIVE_ENTRY
#undef KIV_NATIVE_ENTRY_0
#undef KIV_NATIVE_ENTRY_1


// The callables seen by the interpreter, one cell per native slot and then
// one per action slot, for the checks of C++ callers. GC: a collector root.
NodeId seen = 0;

constexpr std::int32_t seen_cells = capacity + action_count;

}  // namespace

void init() {
    seen = memory::alloc_unset_cells(seen_cells);
    collector::register_root(&seen);
    memory::SeriesBuffer* b = memory::buffer_of(seen);
    for (std::int32_t i = 0; i < seen_cells; ++i) none::make_at(b->cells() + i);
    b->tail = b->offset + seen_cells * sizeof(Cell);
    none::make_at(&state.print_scratch);
    collector::register_root_cell(&state.print_scratch);
    block::make_at(&state.print_scratch, 32);
    compiled::install_tables(table, count, actions::table_start(), action_count);
    detail::table = table;
}

const char* name(std::int32_t slot) { return slot < 1 || slot > count ? "" : names[slot - 1]; }

void fire_no_return() { fire(ErrorId::script_no_return); }

void remember_spec(bool native, std::int32_t slot, const Cell* value) {
    if (!seen || slot < 1) return;
    const std::int32_t at = native ? slot - 1 : capacity + slot - 1;
    if (at >= seen_cells) return;
    Cell* cell = memory::buffer_of(seen)->cells() + at;
    if (cell->is(Type::none)) *cell = *value;
}

void remember_library_specs() {
    const NodeId global = context::global();
    for (std::int32_t i = 0; i < context::word_count(global); ++i) {
        const Cell value = *context::slot(global, i);
        if (value.is(Type::native) || value.is(Type::action))
            remember_spec(value.is(Type::native), static_cast<std::int32_t>(value.data1), &value);
    }
}

namespace {

// Whether a native's argument cache reads its frame as the library's does:
// the same arguments before the first refinement, the same refinements with
// the same argument counts, in order, and no argument accepting a datatype
// the library's refuses (the natives read their arguments by position and
// trust their datatypes). Locals after them are never read.
bool frame_fits(const Cell* cache, const Cell* library) {
    if (cache->data1 != library->data1 || cache->data2 != library->data2) return false;
    const Cell* a = cache + 1;
    const Cell* b = library + 1;
    std::uint32_t arguments = library->data1;
    for (std::uint32_t refinements = library->data2;; --refinements) {
        for (; arguments > 0; --arguments, ++a, ++b) {
            if (!a->is(Type::typeset)) return false;
            for (std::uint32_t id = 1; id <= type_count; ++id)
                if (typeset::has(a, id) && !typeset::has(b, id)) return false;
        }
        if (refinements == 0) return true;
        if (!a->is(Type::refinement) || (a->data1 & 0xFFFF) != (b->data1 & 0xFFFF)) return false;
        arguments = b->data1 & 0xFFFF;
        ++a, ++b;
    }
}

}  // namespace

void check_spec(const Cell* value, const Cell* cache) {
    if (!seen || value->data1 < 1) return;
    const bool native = value->is(Type::native);
    const std::int32_t at = native ? static_cast<std::int32_t>(value->data1) - 1
                                   : capacity + static_cast<std::int32_t>(value->data1) - 1;
    if (at >= seen_cells) return;
    const Cell library = memory::buffer_of(seen)->cells()[at];
    if (library.is(Type::none) || library.data2 == value->data2) return;
    // Building the library's cache may move the value's: its cells are read after.
    const Cell* library_cache = interpreter::internal::argument_cache(&library);
    // The cache block's first cell copies the body; the header follows.
    if (frame_fits(block::buffer(cache)->cells() + 1, library_cache)) return;
    Cell spec;
    block::init_at(&spec, value->data2);
    fire(ErrorId::script_bad_func_def, &spec);
}

void check_arguments(bool native, std::int32_t slot, const std::int32_t* args) {
    if (!seen || slot < 1) return;
    const std::int32_t at = native ? slot - 1 : capacity + slot - 1;
    if (at >= seen_cells) return;
    const Cell fn = memory::buffer_of(seen)->cells()[at];
    if (fn.is(Type::none)) return;
    const Cell* cache = interpreter::internal::argument_cache(&fn);
    const std::int32_t mandatory = static_cast<std::int32_t>(cache->data1);
    const auto fail = [&](const Cell* entry, const Cell* value) {
        Cell name_word;
        Cell type;
        registry::make_datatype(&type, value->type());
        Cell arg_word = *entry;
        const std::uint32_t position = (entry->header >> 8) & 0xFFF;
        memory::SeriesBuffer* sb = memory::buffer_of(fn.data2);
        if (position < sb->length()) arg_word = sb->cells()[position];
        arg_word.header = static_cast<std::uint32_t>(Type::word);
        stack::current_function_word(&name_word);
        fire(ErrorId::script_expect_arg, &name_word, &type, &arg_word);
    };
    for (std::int32_t i = 0; i < mandatory; ++i) {
        const Cell* v = state.stack_arguments + i;
        if (!typeset::has(cache + 1 + i, v->type_id())) fail(cache + 1 + i, v);
    }
    const Cell* e = cache + 1 + mandatory;
    for (std::int32_t k = 1; k <= static_cast<std::int32_t>(cache->data2); ++e) {
        if (!e->is(Type::refinement)) continue;
        const std::int32_t n = static_cast<std::int32_t>(e->data1 & 0xFFFF);
        const std::int32_t p = native ? args[k] : args[k - 1];
        if (p >= 0) {
            for (std::int32_t i = 0; i < n; ++i) {
                const Cell* v = state.stack_arguments + p + i;
                if (!typeset::has(e + 1 + i, v->type_id())) fail(e + 1 + i, v);
            }
        }
        ++k;
    }
}

}  // namespace kiv::natives
