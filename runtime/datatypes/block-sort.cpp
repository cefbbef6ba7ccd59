// block!: sort and the set operations.
//
// Sorting works on records of `size` cells handed to the sorters with one of
// two callbacks: the datatypes' own comparison, or a call of the /compare
// function. The flags word the callbacks receive: bit 0 reverse; bit 1
// compare every field of a record; bits 2 and up the record size (with bit
// 1) or the 0-based field to compare.
//
// The set operations build their result as a hash! while they run, so that
// membership in the result is one lookup; the other argument is looked up
// through its own index (a hash!) or a temporary one.
#include <algorithm>
#include <cstring>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/hashtable.h"
#include "runtime/sorting.h"
#include "runtime/state.h"

namespace kiv::block {

namespace {

using series::head;
using series::int_of;

constexpr std::uint32_t flag_reverse = 1;
constexpr std::uint32_t flag_all = 2;

std::int32_t units(const Cell* value) { return static_cast<std::int32_t>(buffer(value)->length()); }

// What the callbacks need besides the two records. Lives on the sorting
// frame, where the collector sees its cells.
struct SortState {
    CompareOp op;
    Cell function;
    // The sorted series as it was when sorting began: a comparison function
    // that changes it stops the sort.
    NodeId node;
    SeriesBuffer* buffer;
    std::uint32_t offset;
    std::uint32_t tail;
    std::uint32_t unit;
    // The two blocks that carry whole records to a comparison function.
    Cell record_a;
    Cell record_b;
    std::int32_t size;
};

int compare_records(const void* a, const void* b, void* context, std::uint32_t flags) {
    const auto* st = static_cast<const SortState*>(context);
    const Cell* x = static_cast<const Cell*>(a);
    const Cell* y = static_cast<const Cell*>(b);
    if (flags & flag_reverse) std::swap(x, y);
    const std::uint32_t n = flags >> 2;
    const std::uint32_t fields = (flags & flag_all) ? n : 1;
    const std::uint32_t first = (flags & flag_all) ? 0 : n;
    for (std::uint32_t i = first; i < first + fields; ++i) {
        Cell p = x[i];
        Cell q = y[i];
        // PERF: two integers order as their values, whatever the op.
        if (p.is(Type::integer) && q.is(Type::integer)) {
            const auto a = static_cast<std::int32_t>(p.data2), b = static_cast<std::int32_t>(q.data2);
            if (a != b) return a < b ? -1 : 1;
            continue;
        }
        auto compare = registry::lookup<Action::compare>(p.type());
        int r = compare ? compare(&p, &q, st->op) : not_comparable;
        if (r == not_comparable) r = static_cast<int>(p.type_id()) - static_cast<int>(q.type_id());
        if (r != 0) return r;
    }
    return 0;
}

// Copies a record of `size` cells into a carrier block, remaking it when
// the comparison function left it too small.
void load_record(Cell* carrier, const Cell* record, std::int32_t size) {
    SeriesBuffer* b = buffer(carrier);
    if ((cage::offset_of(b->end()) - b->offset) / sizeof(Cell) < static_cast<std::uint32_t>(size)) {
        make_at(carrier, size);
        b = buffer(carrier);
    }
    std::memcpy(b->cells(), record, std::size_t(size) * sizeof(Cell));
    b->tail = b->offset + static_cast<std::uint32_t>(size) * sizeof(Cell);
    series::set_head(carrier, 0);
}

// The answer of a comparison function as an order: true or a positive
// number puts its first argument first.
int order_of(const Cell* result) {
    switch (result->type()) {
        case Type::logic: return logic::get(result) ? 1 : -1;
        case Type::integer: return int_of(result) > 0 ? 1 : int_of(result) < 0 ? -1 : 0;
        case Type::float_: {
            double d;
            const std::uint64_t bits =
                std::uint64_t{result->data2} | (std::uint64_t{result->data3} << 32);
            std::memcpy(&d, &bits, sizeof d);
            return d > 0.0 ? 1 : d < 0.0 ? -1 : 0;
        }
        case Type::none: return -1;
        default: return 1;
    }
}

int compare_call(const void* a, const void* b, void* context, std::uint32_t flags) {
    auto* st = static_cast<SortState*>(context);
    // Once the function has thrown (break, return, throw...), it is not
    // called again: the rest of the sort sees ties.
    if (state.thrown_code) return 0;
    Cell x;
    Cell y;
    if ((flags & flag_all) && st->size >= 1) {
        load_record(&st->record_a, static_cast<const Cell*>(a), st->size);
        load_record(&st->record_b, static_cast<const Cell*>(b), st->size);
        x = st->record_a;
        y = st->record_b;
    } else {
        x = *static_cast<const Cell*>(a);
        y = *static_cast<const Cell*>(b);
    }
    if (!call_comparator_hook) fire(ErrorId::internal_not_done);
    Cell result{};
    // A function that answers whether its first argument comes first sorts
    // ascending: without reverse it receives (b, a).
    if (flags & flag_reverse) call_comparator_hook(&st->function, &x, &y, &result);
    else call_comparator_hook(&st->function, &y, &x, &result);
    // The function may have changed the series under the sorter: stop before
    // anything more is written into it.
    const SeriesBuffer* now = memory::buffer_of(st->node);
    if (now != st->buffer || now->offset != st->offset || now->tail != st->tail ||
        now->unit() != st->unit)
        fire(ErrorId::script_protected_);
    return order_of(&result);
}

[[noreturn]] void fire_bad_refines() { fire(ErrorId::script_bad_refines); }

// The record size of a /skip argument over `len` cells.
std::int32_t record_size(const Cell* skip, std::int32_t len) {
    if (!skip) return 1;
    if (!skip->is(Type::integer)) series::fire_refine_arg(words::Ref::skip, skip);
    const std::int32_t size = int_of(skip);
    if (size < 1 || len < size || len % size != 0) series::fire_refine_arg(words::Ref::skip, skip);
    return size;
}

// The cells to sort from the head after /part; moves the head back for a
// negative length. Answers 0 when nothing is to be sorted.
std::int32_t sort_length(Cell* series, const Cell* part) {
    std::int32_t len = series::ks_length(series);
    if (len <= 0 || !part) return len;
    const std::int32_t l = series::part_length(series, part);
    if (l >= 0) return std::min(l, len);
    const std::int64_t start = std::int64_t{head(series)} + l;
    series::set_head(series, std::max<std::int64_t>(start, 0));
    return start < 0 ? 0 : -l;
}

}  // namespace

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all,
           bool reverse, bool stable) {
    const std::int32_t len = sort_length(series, part);
    if (len <= 0) return series;
    const std::int32_t size = record_size(skip, len);
    if (!skip && all) fire_bad_refines();
    SortState st{};
    st.op = case_ ? CompareOp::sort_case : CompareOp::sort;
    st.size = size;
    std::uint32_t flags = reverse ? flag_reverse : 0;
    sort::Compare callback = compare_records;
    if (comparator && comparator->is(Type::function)) {
        callback = compare_call;
        st.function = *comparator;
        if (all) {
            flags |= flag_all | static_cast<std::uint32_t>(size) << 2;
            make_at(&st.record_a, size);
            make_at(&st.record_b, size);
        }
    } else if (comparator && comparator->is(Type::integer)) {
        if (all || !skip) fire_bad_refines();
        const std::int32_t n = int_of(comparator);
        if (n < 1 || n > size) series::fire_out_of_range(comparator);
        flags |= static_cast<std::uint32_t>(n - 1) << 2;
    } else if (comparator) {
        series::fire_refine_arg(words::Ref::compare, comparator);
    } else if (all) {
        flags |= flag_all | static_cast<std::uint32_t>(size) << 2;
    }
    const std::int32_t h = head(series);
    const bool owned = series::check_owner(series, series::Change::sort, nullptr, h, 0);
    // A throw from the function clears the frame's cells: the hash index is
    // brought up to date through this copy.
    Cell held = *series;
    // The owner's handler may have shortened the series.
    std::int32_t count = std::min(len, units(series) - h) / size;
    if (count > 1) {
        SeriesBuffer* b = buffer(series);
        st.node = series->data2;
        st.buffer = b;
        st.offset = b->offset;
        st.tail = b->tail;
        st.unit = b->unit();
        Cell* base = b->cells() + h;
        const std::size_t bytes = std::size_t(size) * sizeof(Cell);
        if (stable) sort::merge_sort(base, std::size_t(count), bytes, &st, flags, callback, true);
        else sort::quicksort(base, std::size_t(count), bytes, &st, flags, callback);
        series::hash_changed(&held, h, count * size, count * size);
    }
    if (state.thrown_code) return series;
    series::report_owner(owned, series, series::Change::sort, h, 0);
    return series;
}

// ---------------------------------------------------------------------------
// Set operations.

namespace {

struct SetPass {
    CompareOp op;
    bool case_;
    std::int32_t step;
    bool hashed_result;
};

// Whether a cell of a block-like type is found in `set` (records of `step`
// cells from its head) by find/only.
bool find_only(Cell* set, const Cell* value, const SetPass& pass) {
    Cell at = *set;
    Cell key = *value;
    Cell skip;
    series::make_integer(&skip, pass.step);
    find(&at, &key, nullptr, true, pass.case_, false, false, nullptr,
         pass.step > 1 ? &skip : nullptr, false, false, false, false);
    return !at.is(Type::none);
}

bool in_set(Cell* set, NodeId index, const Cell* value, const SetPass& pass) {
    if (series::is_block_like(value->type())) return find_only(set, value, pass);
    return hashtable::find(index, value, head(set), pass.step, pass.op, false, false) != nullptr;
}

// Appends the record at `at` of `from` to the result unless its first cell
// is there already.
void add_record(Cell* result, const Cell* from, std::int32_t at, const SetPass& pass) {
    const Cell first = buffer(from)->cells()[at];
    const NodeId index = result->data3;
    if (in_set(result, index, &first, pass)) return;
    const std::int64_t record_end = std::int64_t{at} + pass.step;
    const auto end = static_cast<std::int32_t>(std::min<std::int64_t>(record_end, units(from)));
    for (std::int32_t i = at; i < end; ++i) {
        const Cell cell = buffer(from)->cells()[i];
        Cell* added = ks_append(result, &cell);
        if (i == at || pass.hashed_result) hashtable::put(result->data3, added, nullptr);
    }
}

// One pass: the records of `set` that pass the membership test against
// `other` (absent for unique and union's tests) join the result.
void run_pass(Cell* result, Cell* set, Cell* other, bool check, bool invert, const SetPass& pass) {
    // GC: a temporary index lives as long as this frame names its node.
    NodeId other_index = 0;
    if (check) {
        other_index =
            other->is(Type::hash) && other->data3
                ? other->data3
                : hashtable::init(std::max(units(other), 1), other, hashtable::Kind::hash);
    }
    // A step up to the integer maximum: the position counts in 64 bits.
    for (std::int64_t at = head(set); at < units(set); at += pass.step) {
        bool include = true;
        if (check) {
            const Cell first = buffer(set)->cells()[at];
            include = in_set(other, other_index, &first, pass);
            if (invert) include = !include;
        }
        if (include) add_record(result, set, static_cast<std::int32_t>(at), pass);
    }
}

}  // namespace

Cell* set_operation(Cell* first, Cell* second, bool case_, Cell* skip, SetOp op, Cell* result) {
    SetPass pass{case_ ? CompareOp::strict_equal : CompareOp::equal, case_, 1, false};
    if (skip) {
        if (!skip->is(Type::integer) || int_of(skip) < 1)
            series::fire_refine_arg(words::Ref::skip, skip);
        pass.step = int_of(skip);
    }
    const bool unique = op == SetOp::unique;
    const bool two_pass = op == SetOp::union_ || op == SetOp::difference;
    const bool check = op == SetOp::intersect || op == SetOp::exclude || op == SetOp::difference;
    const bool invert = op == SetOp::exclude || op == SetOp::difference;
    Cell a = *first;
    Cell b = unique ? Cell{} : *second;
    series::ks_length(&a);
    if (!unique) series::ks_length(&b);
    std::int64_t capacity = series::ks_length(&a);
    if (op == SetOp::union_) capacity += series::ks_length(&b);
    pass.hashed_result = a.is(Type::hash) || (!unique && b.is(Type::hash));
    // GC: `out` sits on this frame while it is built; it is a hash! over its
    // own index from the start.
    Cell out;
    make_at(&out, std::max<std::int64_t>(capacity, 1));
    out.data3 = hashtable::init(static_cast<std::int32_t>(std::max<std::int64_t>(capacity, 1)),
                                &out, hashtable::Kind::hash);
    out.set_type(Type::hash);
    run_pass(&out, &a, &b, check, invert, pass);
    if (two_pass) run_pass(&out, &b, &a, check, invert, pass);
    if (!pass.hashed_result) {
        out.data3 = 0;
        out.header = a.type_id();
    }
    series::set_head(&out, 0);
    *result = out;
    return result;
}

}  // namespace kiv::block
