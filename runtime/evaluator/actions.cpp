// The generic action table: the entries and the checks they share.
#include "runtime/evaluator/actions.h"

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/compiled.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"

namespace kiv::actions {

namespace {

using natives::arg;

// Refinement k's first argument cell (k from 0 in spec order), or null.
Cell* ref(const std::int32_t* args, int k) {
    return args[k] < 0 ? nullptr : state.stack_arguments + args[k];
}
bool used(const std::int32_t* args, int k) { return args[k] >= 0; }
// Whether none of the first N refinements is used (every position is -1):
// the common call then skips decoding them one by one.
template <int N>
inline bool none_used(const std::int32_t* args) {
    std::int32_t all = -1;
#pragma GCC unroll 16
    for (int k = 0; k < N; ++k) all &= args[k];
    return all < 0;
}

// The result of an action: copied into the frame's result slot unless a
// callback inside the action left a code pending (the stacks then belong to
// the code's target).
Status finish(const Cell* result) {
    if (state.thrown_code) [[unlikely]]
        return Status::thrown;
    if (result != state.stack_arguments) *state.stack_arguments = *result;
    return Status::ok;
}

Status finish_logic(bool flag) {
    if (state.thrown_code) [[unlikely]]
        return Status::thrown;
    logic::make_at(state.stack_arguments, flag);
    return Status::ok;
}

// The typed make or to: the datatype named by a datatype! prototype, else
// the prototype's own.
template <Action A>
Cell* make_by_type(Cell* proto, Cell* spec) {
    const Type type = proto->is(Type::datatype) ? static_cast<Type>(proto->data1) : proto->type();
    auto fn = registry::lookup<A>(type);
    if (!fn) registry::fire_unsupported_type(A, type);
    return fn(proto, spec, type);
}

// Whether a value is a series with a buffer of its own.
bool has_buffer(Type t) {
    return series::is_series(t) || t == Type::hash || t == Type::map;
}

// The /part count of append and insert: -1 without /part. Answers false
// when nothing is to be inserted. May move the value's start back.
bool insertion_part(Cell* series, Cell* value, Cell* part, std::int32_t* count) {
    *count = -1;
    if (!part) return true;
    if (!has_buffer(value->type())) {
        // The string family takes /part for any value: it limits the
        // value's formed text.
        if (!series::is_any_string(series->type())) fire(ErrorId::script_invalid_part, part);
        if (!part->is(Type::integer)) series::fire_refine_arg(words::Ref::part, part);
        *count = series::int_of(part);
        return *count != 0;
    }
    const std::int32_t length = series::ks_abs_length(value);
    if (series::head(value) > length) series::set_head(value, length);
    const std::int32_t head = series::head(value);
    std::int32_t n;
    if (part->is(Type::integer)) {
        n = series::int_of(part);
    } else if (part->type() == value->type() && part->data2 == value->data2 &&
               !part->is(Type::port)) {
        n = series::head(part) - head;
    } else {
        series::fire_refine_arg(words::Ref::part, part);
    }
    if (n == 0 || (n < 0 && head == 0)) return false;
    if (n < 0) {
        const std::int32_t start = head + n < 0 ? 0 : head + n;
        series::set_head(value, start);
        n = head - start;
    }
    *count = n;
    return true;
}

[[gnu::noinline]] Status insertion(const std::int32_t* args, bool append) {
    Cell* series = arg(0);
    Cell* value = arg(1);
    std::int32_t part;
    if (!insertion_part(series, value, ref(args, 0), &part)) return Status::ok;
    std::int32_t dup = 1;
    if (Cell* d = ref(args, 2)) {
        dup = compiled::integer_arg(d);
        if (dup < 1) return Status::ok;
    }
    // Each action dispatches through its own slot: the datatypes that share
    // one function for both still see which one ran, and a datatype may
    // support one without the other (ref! takes insert but not append).
    Cell* r = append ? dispatch<Action::append>(series, value, part, used(args, 1), dup, true)
                     : dispatch<Action::insert>(series, value, part, used(args, 1), dup, false);
    return finish(r);
}

// form and mold with their /part limit: the text goes into a new string
// that becomes the result.
template <class Write>
Status write_text(Cell* limit_arg, Write write) {
    std::int32_t limit = -1;
    if (limit_arg) {
        limit = compiled::integer_arg(limit_arg);
        if (limit < 1) limit = 0;
    }
    Cell* value = arg(0);
    state.stack_top = state.stack_arguments + 1;
    Cell* buffer = stack::push_cell();
    unset::make_at(buffer);
    string::make_at_unit(buffer, 16, 1);
    if (limit != 0) write(value, buffer, limit_arg, limit);
    if (limit >= 0) string::truncate_buffer(string::buffer(buffer), limit);
    return finish(buffer);
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared operations.

Cell* make(Cell* proto, Cell* spec) { return make_by_type<Action::make>(proto, spec); }
Cell* to(Cell* proto, Cell* spec) { return make_by_type<Action::to>(proto, spec); }

bool compare(Cell* value1, Cell* value2, CompareOp op) {
    const int r = dispatch<Action::compare>(value1, value2, op);
    switch (op) {
        case CompareOp::not_equal: return r != 0;
        case CompareOp::lesser: case CompareOp::lesser_or_equal: case CompareOp::greater:
        case CompareOp::greater_or_equal:
            if (r == not_comparable) fire(ErrorId::script_invalid_compare, value1, value2);
            if (op == CompareOp::lesser) return r < 0;
            if (op == CompareOp::lesser_or_equal) return r <= 0;
            if (op == CompareOp::greater) return r > 0;
            return r >= 0;
        default: return r == 0;
    }
}

int compare_values(Cell* value1, Cell* value2, CompareOp op) {
    if (value1->type() == value2->type()) {
        std::uint32_t a = 0, b = 0;
        switch (value1->type()) {
            case Type::logic: case Type::native: case Type::action:
                a = value1->data1, b = value2->data1;
                break;
            case Type::op: a = value1->data1, b = value2->data1; break;
            case Type::function: case Type::routine: a = value1->data3, b = value2->data3; break;
            default: return dispatch<Action::compare>(value1, value2, op);
        }
        return a == b ? 0 : a < b ? -1 : 1;
    }
    return dispatch<Action::compare>(value1, value2, op);
}

void compare_args(CompareOp op) {
    const bool r = compare(arg(0), arg(1), op);
    logic::make_at(arg(0), r);
}

std::int32_t get_index_argument() {
    const Cell* index = arg(1);
    switch (index->type()) {
        case Type::integer: case Type::char_: return static_cast<std::int32_t>(index->data2);
        case Type::logic: return index->data1 ? 1 : 2;
        default: return 0;
    }
}

void form_into(Cell* value, Cell* out, std::int32_t limit) {
    Cell part;
    series::make_integer(&part, limit < 0 ? 0 : limit);
    dispatch<Action::form>(value, out, limit < 0 ? nullptr : &part, limit);
    if (limit >= 0) string::truncate_buffer(string::buffer(out), limit);
}

void mold_into(Cell* value, Cell* out, bool only, bool all, bool flat, std::int32_t limit) {
    Cell part;
    series::make_integer(&part, limit < 0 ? 0 : limit);
    dispatch<Action::mold>(value, out, only, all, flat, limit < 0 ? nullptr : &part, limit, 0);
    if (limit >= 0) string::truncate_buffer(string::buffer(out), limit);
}

// ---------------------------------------------------------------------------
// The entries, in slot order.

namespace entries {

namespace {

// Out of line, so that the fast path of make needs no stack frame.
[[gnu::noinline]] Status make_by_datatype(Cell* proto, Cell* spec) {
    return finish(actions::make(proto, spec));
}

}  // namespace

Status make(const std::int32_t*, std::int32_t) {
    Cell* proto = arg(0);
    Cell* spec = arg(1);
    // PERF: `make block! n`, the usual way to start a block, goes straight
    // to the allocator; the datatype's make would do the same. The block
    // takes the prototype's cell, the result slot, and an allocation runs no
    // code that could leave a code pending (a collection runs no language
    // code), so no finish is needed: 5 instructions a call.
    if (proto->is(Type::datatype) && proto->data1 == static_cast<std::uint32_t>(Type::block) &&
        spec->is(Type::integer)) {
        block::make_at(proto, series::int_of(spec));
        return Status::ok;
    }
    return make_by_datatype(proto, spec);
}

Status random(const std::int32_t* args, std::int32_t) {
    return finish(dispatch<Action::random>(arg(0), used(args, 0), used(args, 1), used(args, 2)));
}

Status reflect(const std::int32_t*, std::int32_t) {
    return finish(dispatch<Action::reflect>(arg(0), arg(1)));
}

Status to(const std::int32_t*, std::int32_t) { return finish(actions::to(arg(0), arg(1))); }

Status form(const std::int32_t* args, std::int32_t) {
    return write_text(ref(args, 0), [](Cell* value, Cell* buffer, Cell* part_arg, int limit) {
        dispatch<Action::form>(value, buffer, part_arg, limit);
    });
}

Status mold(const std::int32_t* args, std::int32_t) {
    const bool only = used(args, 0), all = used(args, 1), flat = used(args, 2);
    return write_text(ref(args, 3), [=](Cell* value, Cell* buffer, Cell* part_arg, int limit) {
        dispatch<Action::mold>(value, buffer, only, all, flat, part_arg, limit, 0);
    });
}

Status eval_path(const std::int32_t*, std::int32_t) {
    Cell* parent = arg(0);
    Cell none = none::value;
    const bool setting = state.stack_top - state.stack_arguments > 2;
    Cell* r = dispatch<Action::eval_path>(parent, arg(1), setting ? arg(2) : nullptr, &none, &none,
                                          &none, 0, false, false, true, false);
    return finish(r);
}

Status set_path(const std::int32_t*, std::int32_t) { fire(ErrorId::internal_not_done); }

Status compare(const std::int32_t*, std::int32_t) {
    const auto op = static_cast<CompareOp>(compiled::integer_arg(arg(2)));
    return finish_logic(actions::compare(arg(0), arg(1), op));
}

#define KIV_ONE_ARG_ENTRY(ident)                                          \
    Status ident(const std::int32_t*, std::int32_t) {                     \
        return finish(dispatch<Action::ident>(arg(0)));                   \
    }
#define KIV_TWO_ARG_ENTRY(ident)                                          \
    Status ident(const std::int32_t*, std::int32_t) {                     \
        return finish(dispatch<Action::ident>(arg(0), arg(1)));           \
    }

KIV_ONE_ARG_ENTRY(absolute)
KIV_TWO_ARG_ENTRY(add)
KIV_TWO_ARG_ENTRY(divide)
KIV_TWO_ARG_ENTRY(multiply)
KIV_ONE_ARG_ENTRY(negate)
KIV_TWO_ARG_ENTRY(power)
KIV_TWO_ARG_ENTRY(remainder)

Status round(const std::int32_t* args, std::int32_t) {
    return finish(dispatch<Action::round>(arg(0), ref(args, 0), used(args, 1), used(args, 2),
                                          used(args, 3), used(args, 4), used(args, 5),
                                          used(args, 6)));
}

KIV_TWO_ARG_ENTRY(subtract)

Status even_q(const std::int32_t*, std::int32_t) {
    return finish_logic(dispatch<Action::even_q>(arg(0)));
}
Status odd_q(const std::int32_t*, std::int32_t) {
    return finish_logic(dispatch<Action::odd_q>(arg(0)));
}

KIV_TWO_ARG_ENTRY(and_)
KIV_ONE_ARG_ENTRY(complement)
KIV_TWO_ARG_ENTRY(or_)
KIV_TWO_ARG_ENTRY(xor_)

Status append(const std::int32_t* args, std::int32_t) {
    if (none_used<3>(args)) [[likely]] {
        // PERF: one value into a block with room, the usual append, is a
        // copy and a tail bump; the series stays the result, in place.
        Cell* series = arg(0);
        Cell* value = arg(1);
        if (series->is(Type::block) && !series::is_block_like(value->type()) &&
            block::append_cell_in_room(series, value))
            return Status::ok;
        return finish(dispatch<Action::append>(series, value, -1, false, 1, true));
    }
    return insertion(args, true);
}

KIV_TWO_ARG_ENTRY(at)
KIV_ONE_ARG_ENTRY(back)

Status change(const std::int32_t* args, std::int32_t) {
    Cell* series = arg(0);
    std::int32_t part = -1;
    // An image takes no /part at all: its change refuses it as not done
    // rather than as a bad argument.
    if (Cell* p = ref(args, 0)) part = series->is(Type::image) ? 0 : series::part_length(series, p);
    std::int32_t dup = 1;
    if (Cell* d = ref(args, 2)) {
        dup = compiled::integer_arg(d);
        if (dup < 1) return Status::ok;
    }
    return finish(dispatch<Action::change>(series, arg(1), part, used(args, 1), dup));
}

KIV_ONE_ARG_ENTRY(clear)

namespace {
[[gnu::noinline]] Status copy_refined(const std::int32_t* args) {
    Cell* types = ref(args, 2);
    if (types && !types->is(Type::datatype) && !types->is(Type::typeset)) {
        Cell name;
        word::load("copy", &name);
        Cell type;
        registry::make_datatype(&type, types->type());
        Cell kind;
        word::load("kind", &kind);
        fire(ErrorId::script_expect_arg, &name, &type, &kind);
    }
    Cell* result = stack::push_cell();
    unset::make_at(result);
    return finish(dispatch<Action::copy>(arg(0), result, ref(args, 0), used(args, 1), types));
}
}  // namespace

Status copy(const std::int32_t* args, std::int32_t) {
    if (!none_used<3>(args)) [[unlikely]]
        return copy_refined(args);
    Cell* result = stack::push_cell();
    unset::make_at(result);
    return finish(dispatch<Action::copy>(arg(0), result, nullptr, false, nullptr));
}

namespace {
[[gnu::noinline]] Status find_refined(const std::int32_t* args) {
    return finish(dispatch<Action::find>(arg(0), arg(1), ref(args, 0), used(args, 1), used(args, 2),
                                         used(args, 3), used(args, 4), ref(args, 5), ref(args, 6),
                                         used(args, 7), used(args, 8), used(args, 9),
                                         used(args, 10)));
}
}  // namespace

Status find(const std::int32_t* args, std::int32_t) {
    if (!none_used<11>(args)) [[unlikely]]
        return find_refined(args);
    return finish(dispatch<Action::find>(arg(0), arg(1), nullptr, false, false, false, false,
                                         nullptr, nullptr, false, false, false, false));
}

KIV_ONE_ARG_ENTRY(head)
KIV_ONE_ARG_ENTRY(head_q)
KIV_ONE_ARG_ENTRY(index_q)

Status insert(const std::int32_t* args, std::int32_t) {
    if (none_used<3>(args)) [[likely]]
        return finish(dispatch<Action::insert>(arg(0), arg(1), -1, false, 1, false));
    return insertion(args, false);
}

Status length_q(const std::int32_t*, std::int32_t) {
    const int n = dispatch<Action::length_q>(arg(0));
    if (state.thrown_code) [[unlikely]]
        return Status::thrown;
    if (n == -1) none::make_at(arg(0));
    else series::make_integer(arg(0), n);
    return Status::ok;
}

Status move(const std::int32_t* args, std::int32_t) {
    return finish(dispatch<Action::move>(arg(0), arg(1), ref(args, 0)));
}

KIV_ONE_ARG_ENTRY(next)

Status pick(const std::int32_t*, std::int32_t) {
    return finish(dispatch<Action::pick>(arg(0), get_index_argument(), arg(1)));
}

Status poke(const std::int32_t*, std::int32_t) {
    return finish(dispatch<Action::poke>(arg(0), get_index_argument(), arg(2), arg(1)));
}

Status put(const std::int32_t* args, std::int32_t) {
    return finish(dispatch<Action::put>(arg(0), arg(1), arg(2), used(args, 0)));
}

Status remove(const std::int32_t* args, std::int32_t) {
    return finish(dispatch<Action::remove>(arg(0), ref(args, 0), ref(args, 1)));
}

Status reverse(const std::int32_t* args, std::int32_t) {
    return finish(dispatch<Action::reverse>(arg(0), ref(args, 0), ref(args, 1)));
}

namespace {
[[gnu::noinline]] Status select_refined(const std::int32_t* args) {
    return finish(dispatch<Action::select>(arg(0), arg(1), ref(args, 0), used(args, 1),
                                           used(args, 2), used(args, 3), used(args, 4),
                                           ref(args, 5), ref(args, 6), used(args, 7),
                                           used(args, 8)));
}
}  // namespace

Status select(const std::int32_t* args, std::int32_t) {
    if (!none_used<9>(args)) [[unlikely]]
        return select_refined(args);
    return finish(dispatch<Action::select>(arg(0), arg(1), nullptr, false, false, false, false,
                                           nullptr, nullptr, false, false));
}

Status sort(const std::int32_t* args, std::int32_t) {
    return finish(dispatch<Action::sort>(arg(0), used(args, 0), ref(args, 1), ref(args, 2),
                                         ref(args, 3), used(args, 4), used(args, 5),
                                         used(args, 6)));
}

KIV_TWO_ARG_ENTRY(skip)
KIV_TWO_ARG_ENTRY(swap)
KIV_ONE_ARG_ENTRY(tail)
KIV_ONE_ARG_ENTRY(tail_q)

Status take(const std::int32_t* args, std::int32_t) {
    return finish(dispatch<Action::take>(arg(0), ref(args, 0), used(args, 1), used(args, 2)));
}

Status trim(const std::int32_t* args, std::int32_t) {
    return finish(dispatch<Action::trim>(arg(0), used(args, 0), used(args, 1), used(args, 2),
                                         used(args, 3), used(args, 4), ref(args, 5)));
}

KIV_ONE_ARG_ENTRY(create)
KIV_ONE_ARG_ENTRY(close)
KIV_ONE_ARG_ENTRY(delete_)

Status modify(const std::int32_t* args, std::int32_t) {
    return finish(dispatch<Action::modify>(arg(0), arg(1), arg(2), used(args, 0)));
}

Status open(const std::int32_t* args, std::int32_t) {
    return finish(dispatch<Action::open>(arg(0), used(args, 0), used(args, 1), used(args, 2),
                                         used(args, 3), ref(args, 4)));
}

KIV_ONE_ARG_ENTRY(open_q)
KIV_ONE_ARG_ENTRY(query)

Status read(const std::int32_t* args, std::int32_t) {
    return finish(dispatch<Action::read>(arg(0), ref(args, 0), ref(args, 1), used(args, 2),
                                         used(args, 3), used(args, 4), ref(args, 5)));
}

KIV_TWO_ARG_ENTRY(rename)
KIV_ONE_ARG_ENTRY(update)

Status write(const std::int32_t* args, std::int32_t) {
    return finish(dispatch<Action::write>(arg(0), arg(1), used(args, 0), used(args, 1),
                                          used(args, 2), used(args, 3), ref(args, 4), ref(args, 5),
                                          ref(args, 6), ref(args, 7)));
}

#undef KIV_ONE_ARG_ENTRY
#undef KIV_TWO_ARG_ENTRY

}  // namespace entries

// ---------------------------------------------------------------------------
// The table.

namespace {

// ORDER ACTIONS. set-path has no entry: a path assignment goes through
// eval-path with a value.
constexpr natives::Entry table[action_count] = {
#define KIV_ACTION_TABLE_ROW(slot, ident, name, arg, ret, params) \
    Action::ident == Action::set_path ? nullptr : &entries::ident,
    KIV_ACTION_LIST(KIV_ACTION_TABLE_ROW)
#undef KIV_ACTION_TABLE_ROW
};

}  // namespace

namespace {
constexpr natives::Entry no_entries[action_count] = {};
}  // namespace

namespace detail {
// Set once start-up reaches the action table's step; entries answer null
// before.
const natives::Entry* table = no_entries;
}  // namespace detail

void init() { detail::table = table; }

const natives::Entry* table_start() { return table; }

}  // namespace kiv::actions
