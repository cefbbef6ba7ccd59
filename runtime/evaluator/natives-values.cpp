// The comparison natives, not, reduce, and the memory figures of stats.
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter-internal.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"

namespace kiv::natives {

namespace {

bool is_function(Type t) {
    return t == Type::native || t == Type::action || t == Type::op || t == Type::function ||
           t == Type::routine;
}

// Puts the values of `from` into `out`: appended when out is at its tail,
// else inserted at its index (which then moves past them). The result is
// out.
void put_values(Cell* out, Cell* from) {
    const bool at_tail = series::ks_tail_q(out);
    if (at_tail) actions::dispatch<Action::append>(out, from, -1, false, 1, true);
    else actions::dispatch<Action::insert>(out, from, -1, false, 1, false);
}

// A number of bytes as stats reports it: integer! up to 2147483647, else
// float!.
Cell* make_size(Cell* out, std::uint64_t n) {
    if (n <= 2147483647u) *out = integer::make_cell(static_cast<std::int32_t>(n));
    else *out = float_::make_cell(static_cast<double>(n));
    return out;
}

std::uint64_t tracked_bytes() {
    std::uint64_t n = 0;
    for (memory::TrackedBlock* b = state.tracked.first; b; b = b->next)
        n += b->size + memory::tracked_header_size;
    return n;
}

std::uint64_t bytes_in_use() {
    using namespace memory;
    std::uint64_t n = 0;
    for (NodeFrame* f = node_frame(record.node_head); f; f = node_frame(f->next)) n += 4ull * f->used;
    for (SeriesFrame* f = series_frame(record.series_head); f; f = series_frame(f->next))
        n += f->heap - cage::offset_of(f->data());
    for (BigFrame* f = big_frame(record.big_head); f; f = big_frame(f->next)) n += f->requested;
    return n;
}

// A block of three sizes, marked to mold on a new line.
void append_triple(Cell* list, std::uint64_t a, std::uint64_t b, std::uint64_t c) {
    Cell triple;
    block::make_at(&triple, 3);
    Cell n;
    block::append_value(&triple, make_size(&n, a));
    block::append_value(&triple, make_size(&n, b));
    block::append_value(&triple, make_size(&n, c));
    triple.header |= cell_flag::new_line;
    block::append_value(list, &triple);
}

// The detailed figures appended to the block.
void append_details(Cell* out) {
    using namespace memory;
    Cell list;
    block::make_at(&list, 4);
    for (NodeFrame* f = node_frame(record.node_head); f; f = node_frame(f->next))
        append_triple(&list, f->capacity - f->used, f->used, f->capacity);
    list.header |= cell_flag::new_line;
    block::append_value(out, &list);
    block::make_at(&list, 4);
    for (SeriesFrame* f = series_frame(record.series_head); f; f = series_frame(f->next)) {
        const std::uint64_t used = f->heap - cage::offset_of(f->data());
        const std::uint64_t size = f->end - cage::offset_of(f->data());
        append_triple(&list, size - used, used, size);
    }
    list.header |= cell_flag::new_line;
    block::append_value(out, &list);
    block::make_at(&list, 4);
    Cell n;
    for (BigFrame* f = big_frame(record.big_head); f; f = big_frame(f->next))
        block::append_value(&list, make_size(&n, f->requested));
    list.header |= cell_flag::new_line;
    block::append_value(out, &list);
    const std::uint64_t tracked = tracked_bytes();
    block::append_value(out, make_size(&n, record.total + tracked));
    block::append_value(out, make_size(&n, tracked));
}

}  // namespace

Status reduce_into(Cell* block, Cell* out) {
    const Cell code = *block;
    memory::SeriesBuffer* b = block::buffer(&code);
    const std::int32_t head = series::head(&code) < 0 ? 0 : series::head(&code);
    Cell* pos = b->cells() + head;
    Cell* end = b->cells_tail();
    Cell* results = stack::push_cell();
    unset::make_at(results);
    block::make_at(results, end > pos ? end - pos : 1);
    while (pos < end) {
        KIV_PROPAGATE(interpreter::eval_next_at(&code, pos, end, true));
        Cell* v = state.stack_top - 1;
        v->clear_new_line();
        block::append_value(results, v);
        stack::drop(1);
    }
    put_values(out, results);
    stack::drop(1);
    return Status::ok;
}

namespace entries {

#define KIV_COMPARE_ENTRY(ident, op)                                \
    Status ident(const std::int32_t*, std::int32_t) {               \
        actions::compare_args(op);                                  \
        return Status::ok;                                          \
    }
KIV_COMPARE_ENTRY(equal_q, CompareOp::equal)
KIV_COMPARE_ENTRY(not_equal_q, CompareOp::not_equal)
KIV_COMPARE_ENTRY(strict_equal_q, CompareOp::strict_equal)
KIV_COMPARE_ENTRY(lesser_q, CompareOp::lesser)
KIV_COMPARE_ENTRY(greater_q, CompareOp::greater)
KIV_COMPARE_ENTRY(lesser_or_equal_q, CompareOp::lesser_or_equal)
KIV_COMPARE_ENTRY(greater_or_equal_q, CompareOp::greater_or_equal)
#undef KIV_COMPARE_ENTRY

Status not_(const std::int32_t*, std::int32_t) {
    logic::make_at(arg(0), !truthy(arg(0)));
    return Status::ok;
}

Status reduce(const std::int32_t* args, std::int32_t) {
    Cell* value = arg(0);
    Cell* into = ref_arg(args, 1);
    if (value->is(Type::block)) {
        Cell* out = into;
        if (!out) {
            out = stack::push_cell();
            unset::make_at(out);
            block::make_at(out, block::ks_length(value));
        }
        const Cell source = *value;
        KIV_PROPAGATE(reduce_into(const_cast<Cell*>(&source), out));
        *arg(0) = *out;
        return Status::ok;
    }
    if (!is_function(value->type())) {
        Cell* pos = value;
        KIV_PROPAGATE(interpreter::eval_expression(pos, value + 1, nullptr, 0));
        *value = *(state.stack_top - 1);
        stack::drop(1);
    }
    if (into) {
        Cell one;
        block::make_at(&one, 1);
        block::append_value(&one, value);
        put_values(into, &one);
        *arg(0) = *into;
    }
    return Status::ok;
}

Status stats(const std::int32_t* args, std::int32_t) {
    const bool show = ref_used(args, 1);
    const bool info = ref_used(args, 2);
    const bool was_active = collector::active();
    collector::set_active(false);
    if (!show && !info) {
        make_size(arg(0), bytes_in_use());
        collector::set_active(was_active);
        return Status::ok;
    }
    Cell* out = arg(0);
    unset::make_at(out);
    block::make_at(out, 8);
    append_details(out);
    collector::set_active(was_active);
    if (!show) return Status::ok;
    // The library's show-memory-stats prints the figures; stats/show
    // answers unset.
    // GC: the call block sits on the stack, above the frame, for the whole
    // call: evaluating it reuses the result slot that held the figures.
    stack::keep_first();
    Cell* call = stack::push_cell();
    unset::make_at(call);
    block::make_at(call, 2);
    Cell item;
    block::append_value(call, word::load("show-memory-stats", &item));
    block::append_value(call, arg(0));
    KIV_PROPAGATE(interpreter::eval_block(call, true));
    unset::make_at(arg(0));
    stack::keep_first();
    return Status::ok;
}

}  // namespace entries

}  // namespace kiv::natives
