// hash!: making an index over a block, then the actions hash! adds to
// block!'s, in action order, and the registration.
#include "runtime/datatypes/hash.h"

#include <algorithm>
#include <cmath>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/fire.h"
#include "runtime/hashtable.h"

namespace kiv::hash {

Cell* make_at(Cell* out, const Cell* block, std::int32_t size) {
    const Cell b = *block;
    const NodeId table = hashtable::init(std::max(size, 1), &b, hashtable::Kind::hash);
    *out = Cell{static_cast<std::uint32_t>(Type::hash), b.data1, b.data2, table};
    return out;
}

namespace {

std::int32_t size_arg(const Cell* spec) {
    if (spec->is(Type::integer)) return integer::get(spec);
    const double d = std::trunc(float_::get(spec));
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) fire(ErrorId::script_out_of_range, spec);
    return static_cast<std::int32_t>(d);
}

std::int32_t length_of(const Cell* block) { return std::max(block::ks_length(block), 1); }

// block!'s copy of the hash! as a plain block.
Cell* copy_cells(const Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    Cell source = *value;
    source.set_type(Type::block);
    source.data3 = 0;
    registry::lookup<Action::copy>(Type::block)(&source, result, part, deep, types);
    result->set_type(Type::block);
    result->data3 = 0;
    return result;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    const Cell source = *value;
    Cell cells;
    copy_cells(&source, &cells, part, deep, types);
    if (source.data1 == 0 && !part && !deep && !types && source.data3) {
        // The whole block from its head: the positions stay, so the index
        // can be duplicated rather than rebuilt.
        const NodeId table = hashtable::copy(source.data3, cells.data2);
        *result = Cell{static_cast<std::uint32_t>(Type::hash), 0, cells.data2, table};
        return result;
    }
    return make_at(result, &cells, length_of(&cells));
}

Cell* to(Cell* proto, Cell* spec, Type) {
    if (spec->is(Type::hash)) return copy(spec, proto, nullptr, false, nullptr);
    if (spec->is(Type::block)) {
        const Cell given = *spec;
        return make_at(proto, &given, length_of(&given));
    }
    Cell converted;
    block::to(&converted, spec, Type::block);
    return make_at(proto, &converted, length_of(&converted));
}

Cell* make(Cell* proto, Cell* spec, Type type) {
    switch (spec->type()) {
        case Type::integer:
        case Type::float_: {
            const std::int32_t size = std::max(size_arg(spec), 1);
            Cell empty;
            block::make_at(&empty, size);
            return make_at(proto, &empty, size);
        }
        case Type::block: {
            const Cell source = *spec;
            Cell cells;
            copy_cells(&source, &cells, nullptr, false, nullptr);
            return make_at(proto, &cells, length_of(&cells));
        }
        default: return to(proto, spec, type);
    }
}

int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part, int indent) {
    if (!only) {
        string::append_literal(buffer, "make hash! ");
        part -= 11;
    }
    return block::mold(value, buffer, only, all, flat, part_arg, part, indent);
}

// After block!'s sort or trim: the positions from the head on are indexed
// afresh, so the index follows the new order and content.
void reindex_rest(Cell* series) {
    const NodeId table = series->data3;
    if (!table) return;
    const std::int32_t from = std::max(series::head(series), 0);
    const std::int32_t total = series::ks_abs_length(series);
    hashtable::remove_range(table, from, std::max(total - from, 0));
    hashtable::rehash_block(table, from);
}

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
           bool stable) {
    block::sort(series, case_, skip, comparator, part, all, reverse, stable);
    reindex_rest(series);
    return series;
}

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    Cell* result = registry::lookup<Action::trim>(Type::block)(series, head, tail, auto_, lines, all, with);
    reindex_rest(series);
    return result;
}

constexpr ActionRow actions{
    .make = make,
    .reflect = inherit,
    .to = to,
    .form = inherit,
    .mold = mold,
    .eval_path = inherit,
    .compare = inherit,
    .append = inherit,
    .at = inherit,
    .back = inherit,
    .change = inherit,
    .clear = inherit,
    .copy = copy,
    .find = inherit,
    .head = inherit,
    .head_q = inherit,
    .index_q = inherit,
    .insert = inherit,
    .length_q = inherit,
    .move = inherit,
    .next = inherit,
    .pick = inherit,
    .poke = inherit,
    .put = inherit,
    .remove = inherit,
    .reverse = inherit,
    .select = inherit,
    .sort = sort,
    .skip = inherit,
    .swap = inherit,
    .tail = inherit,
    .tail_q = inherit,
    .take = inherit,
    .trim = trim,
    .modify = inherit,
};

}  // namespace

void init() { registry::register_type(Type::hash, Type::block, "hash!", actions); }

}  // namespace kiv::hash
