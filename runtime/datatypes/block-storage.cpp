// block!: the routines the runtime builds and reads blocks with. See block.h.
#include <algorithm>
#include <cstring>
#include <memory>

#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/fire.h"
#include "runtime/state.h"

namespace kiv::block {

namespace {

constexpr std::uint32_t unset_header = static_cast<std::uint32_t>(Type::unset);

std::int32_t units(const Cell* value) { return static_cast<std::int32_t>(buffer(value)->length()); }
std::int32_t head(const Cell* value) { return series::head(value); }

// Room for `count` more cells at the tail, growing the buffer to `capacity`
// bytes when it lacks them. Answers the buffer to use.
SeriesBuffer* reserve(SeriesBuffer* b, std::uint64_t count, std::uint64_t capacity) {
    const std::uint64_t need = std::uint64_t{b->used_bytes()} + count * sizeof(Cell);
    if (need > 0x7FFFFFFF) fire(ErrorId::internal_no_memory);
    if (need <= static_cast<std::uint64_t>(cage::offset_of(b->end()) - b->offset)) return b;
    return memory::expand_series(
        b, static_cast<std::int64_t>(std::min<std::uint64_t>(capacity, 0x7FFFFFF0)));
}

bool is_word_kind(Type t) {
    return t == Type::word || t == Type::set_word || t == Type::lit_word || t == Type::get_word;
}

}  // namespace

// ---------------------------------------------------------------------------
// Making.

Cell* make_at_fixed(Cell* cell, std::int64_t n, bool fixed) {
    cell->header = unset_header;
    if (n < 1) n = 1;
    const NodeId node = fixed ? memory::alloc_fixed_series(n, sizeof(Cell), 0)
                              : memory::alloc_unset_cells(n);
    return init_at(cell, node);
}

Cell* make_fixed_in(Cell* parent, std::int64_t n) {
    Cell* cell = parent ? memory::append_slot(parent) : &state.block_scratch;
    return make_at_fixed(cell, n, true);
}

Cell* make_in(Cell* parent, std::int64_t n) {
    Cell* cell = parent ? memory::append_slot(parent) : &state.block_scratch;
    return make_at(cell, n);
}

// ---------------------------------------------------------------------------
// Access.

std::int32_t ks_length(const Cell* value) { return units(value) - head(value); }

bool move_next(Cell* value) {
    const std::int32_t n = units(value);
    if (head(value) < n) series::set_head(value, head(value) + 1);
    return head(value) >= n;
}

Cell* ks_head(Cell* value) {
    const std::int32_t n = units(value);
    if (head(value) > n) series::set_head(value, n);
    return buffer(value)->cells() + head(value);
}

Cell* ks_tail(const Cell* value) { return buffer(value)->cells_tail(); }

bool ks_tail_q(const Cell* value) { return head(value) == units(value); }

Cell* ks_abs_at(const Cell* value, std::int32_t position) {
    return buffer(value)->cells() + position;
}

void ks_clear(Cell* value) {
    if (head(value) < units(value)) ks_truncate(value, head(value));
}

void ks_truncate(Cell* value, std::int32_t n) {
    SeriesBuffer* b = buffer(value);
    b->tail = b->offset + static_cast<std::uint32_t>(n) * sizeof(Cell);
}

// ---------------------------------------------------------------------------
// Adding cells.

Cell* ks_append(Cell* block, const Cell* value) {
    const Cell copy = *value;
    Cell* cell = memory::alloc_tail_cell(buffer(block));
    *cell = copy;
    return cell;
}

Cell* ks_append_block(Cell* target, const Cell* source) {
    const Cell from = *source;
    const std::int32_t n = ks_length(&from);
    if (n <= 0) return target;
    std::uint8_t* at = memory::alloc_tail_bytes(buffer(target), std::int64_t{n} * sizeof(Cell));
    // GC: read the source after the allocation, which may have moved it.
    std::memcpy(at, buffer(&from)->cells() + head(&from), std::size_t(n) * sizeof(Cell));
    return target;
}

Cell* insert_value(Cell* block, const Cell* value, bool advance, bool at_head) {
    const Cell copy = *value;
    SeriesBuffer* b = buffer(block);
    const std::uint64_t need = std::uint64_t{b->used_bytes()} + sizeof(Cell);
    b = reserve(b, 1, need * 2);
    const std::int32_t n = units(block);
    if (head(block) > n) series::set_head(block, n);
    const std::int32_t at = at_head ? 0 : head(block);
    Cell* cells = b->cells();
    std::memmove(cells + at + 1, cells + at, std::size_t(n - at) * sizeof(Cell));
    b->tail += sizeof(Cell);
    cells[at] = copy;
    series::hash_changed(block, at, 0, 1);
    if (advance) series::set_head(block, head(block) + 1);
    return buffer(block)->cells() + at;
}

void insert_block(Cell* target, const Cell* source) {
    const Cell from = *source;
    const std::int32_t count = std::max(ks_length(&from), 0);
    if (count == 0) return;
    reserve(
        buffer(target), static_cast<std::uint64_t>(count),
        (std::uint64_t{buffer(target)->used_bytes()} + std::uint64_t(count) * sizeof(Cell)) * 2);
    const std::int32_t n = units(target);
    if (head(target) > n) series::set_head(target, n);
    const std::int32_t at = head(target);
    // The source may be the target itself: take its cells before the gap opens.
    std::unique_ptr<Cell[]> cells(new Cell[static_cast<std::size_t>(count)]);
    std::memcpy(cells.get(), buffer(&from)->cells() + head(&from),
                std::size_t(count) * sizeof(Cell));
    SeriesBuffer* b = buffer(target);
    std::memmove(b->cells() + at + count, b->cells() + at, std::size_t(n - at) * sizeof(Cell));
    std::memcpy(b->cells() + at, cells.get(), std::size_t(count) * sizeof(Cell));
    b->tail += static_cast<std::uint32_t>(count) * sizeof(Cell);
    series::hash_changed(target, at, 0, count);
    series::set_head(target, at + count);
}

Cell* append_value(Cell* block, const Cell* value) {
    Cell* cell = ks_append(block, value);
    const std::int32_t at = static_cast<std::int32_t>(cell - buffer(block)->cells());
    series::hash_changed(block, at, 0, 1);
    return buffer(block)->cells() + at;
}

// ---------------------------------------------------------------------------
// Searching.

const Cell* select_value(Cell* block, const Cell* key) {
    Cell* cells = buffer(block)->cells();
    const std::int32_t n = units(block);
    for (std::int32_t i = std::max(head(block), 0); i < n; ++i) {
        if (!compare_holds(cells + i, key, CompareOp::find)) continue;
        return i + 1 < n ? cells + i + 1 : &none::value;
    }
    return &none::value;
}

const Cell* select_word(Cell* block, const Cell* word, bool exact) {
    const std::uint32_t wanted = exact ? word->data2 : symbol::resolve(word->data2);
    Cell* cells = buffer(block)->cells();
    const std::int32_t n = units(block);
    for (std::int32_t i = std::max(head(block), 0); i < n; ++i) {
        if (!is_word_kind(cells[i].type())) continue;
        const std::uint32_t id = exact ? cells[i].data2 : symbol::resolve(cells[i].data2);
        if (id == wanted) return i + 1 < n ? cells + i + 1 : &none::value;
    }
    return &none::value;
}

bool remove_value(Cell* block, const Cell* value, bool from_head) {
    SeriesBuffer* b = buffer(block);
    Cell* cells = b->cells();
    const std::int32_t n = units(block);
    for (std::int32_t i = from_head ? 0 : std::max(head(block), 0); i < n; ++i) {
        if (!compare_holds(cells + i, value, CompareOp::find)) continue;
        std::memmove(cells + i, cells + i + 1, std::size_t(n - i - 1) * sizeof(Cell));
        b->tail -= sizeof(Cell);
        series::hash_changed(block, i, 1, 0);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Copying.

Cell* clone(const Cell* value, bool deep, bool deep_any, Cell* out) {
    const Cell source = *value;
    const std::int32_t count = std::max(ks_length(&source), 0);
    make_at(out, count);
    std::memcpy(buffer(out)->cells(), buffer(&source)->cells() + head(&source),
                std::size_t(count) * sizeof(Cell));
    buffer(out)->tail += static_cast<std::uint32_t>(count) * sizeof(Cell);
    // A clone of the library's code (a function body made from it) is the
    // library's code too.
    buffer(out)->flags |= buffer(&source)->flags & memory::series_flag::library_code;
    out->header = source.type_id();
    if (!deep || count == 0) return out;
    if (cycles::find(source.data2)) {
        cycles::reset();
        fire(ErrorId::internal_no_cycle);
    }
    cycles::Guard guard;
    cycles::push(source.data2);
    for (std::int32_t i = 0; i < count; ++i) {
        const Cell item = buffer(out)->cells()[i];
        const bool nested =
            item.is(Type::block) ||
            (deep_any && (item.is(Type::paren) || series::is_any_path(item.type())));
        if (!nested) continue;
        Cell copy;
        clone(&item, true, deep_any, &copy);
        copy.header = item.header;
        buffer(out)->cells()[i] = copy;
    }
    return out;
}

void copy_types(Cell* block, std::int32_t from, std::int32_t to, std::int32_t step, bool deep,
                const Cell* types) {
    const Cell kinds = *types;
    for (std::int32_t i = from; i < to && i < units(block); i += step) {
        Cell item = buffer(block)->cells()[i];
        const bool match = kinds.is(Type::typeset) ? typeset::has(&kinds, item.type_id())
                                                   : kinds.data1 == item.type_id();
        const Type t = item.type();
        if (!match || !(series::is_series(t) || t == Type::bitset || t == Type::object ||
                        t == Type::error || t == Type::map))
            continue;
        Cell copy;
        Cell pass = kinds;
        registry::find<Action::copy>(&item)(&item, &copy, nullptr, deep, deep ? &pass : nullptr);
        buffer(block)->cells()[i] = copy;
    }
}

// ---------------------------------------------------------------------------
// Comparing values.

int compare_value(const Cell* a, const Cell* b, CompareOp op) {
    auto fn = registry::lookup<Action::compare>(a->type());
    if (!fn) {
        // A datatype without a comparison: only its own copies are equal.
        if (a->type() != b->type()) return not_comparable;
        return std::memcmp(&a->data1, &b->data1, 12) == 0 ? 0 : not_comparable;
    }
    return fn(const_cast<Cell*>(a), const_cast<Cell*>(b), op);
}

bool compare_holds(const Cell* a, const Cell* b, CompareOp op) {
    const int r = compare_value(a, b, op);
    switch (op) {
        case CompareOp::not_equal: return r != 0;
        case CompareOp::lesser:
        case CompareOp::lesser_or_equal:
        case CompareOp::greater:
        case CompareOp::greater_or_equal:
            if (r == not_comparable) fire(ErrorId::script_invalid_compare, a, b);
            if (op == CompareOp::lesser) return r < 0;
            if (op == CompareOp::lesser_or_equal) return r <= 0;
            if (op == CompareOp::greater) return r > 0;
            return r >= 0;
        default: return r == 0;
    }
}

}  // namespace kiv::block
