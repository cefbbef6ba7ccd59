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
