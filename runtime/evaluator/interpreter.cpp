// The interpreter: blocks, expressions, words, infix operators, calls with
// their argument fetching, and the argument cache. Paths are in
// interpreter-paths.cpp, trace events in interpreter-trace.cpp.
#include "runtime/evaluator/interpreter.h"

#include <cstring>

#include <emmintrin.h>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/eval-api.h"
#include "runtime/evaluator/interpreter-internal.h"
#include "runtime/evaluator/native-code.h"
#include "runtime/evaluator/natives.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"

namespace kiv::interpreter {

using namespace internal;

namespace internal {

std::uint32_t body_symbol = 0;
std::uint32_t anon_symbol = 0;

[[noreturn, gnu::cold, gnu::noinline]] void fire_with_word(ErrorId id, const Cell* word) {
    Cell w = *word;
    fire(id, &w);
}

Cell* word_slot_slow(const Cell* word) { return context::get(word); }

GlobalValues global_values = {no_context, nullptr};

namespace {
void forget_global_values() {
    global_values = GlobalValues{no_context, nullptr};
    memory::move_watch = memory::MoveWatch{0, nullptr};
}
}  // namespace

void cache_global_values(NodeId context) {
    const Cell* h = memory::buffer_of(context)->cells();
    if (!h->data2 || (h->header & context::flag::values_on_stack)) return;
    global_values = GlobalValues{context, memory::buffer_of(h->data2)->cells()};
    memory::move_watch = memory::MoveWatch{h->data2, forget_global_values};
}

LocalContext local_context = {no_context, nullptr};

// The argument caches of the callables called lately, by their more
// block's node. PERF: the cache is otherwise four dependent loads away
// (the more block, its cache cell, the cache block). Neither block moves
// but in a collection, which clears the table. Two ways a set: with one,
// two callables of a loop sharing a set (node numbering decides) missed on
// every call (the return bench at 50,000 rounds: 113.0M instructions with
// such a pair, 111.0M without).
struct CallEntry {
    NodeId more;         // 0: empty
    const Cell* cache;   // the argument cache's header cell
};
constexpr std::uint32_t call_set_count = 128;
CallEntry call_entries[call_set_count * 2];

// The argument caches of the `if` (index 0) and `either` (1) natives
// found to hold the library's spec: evaluated arguments, branches that take
// blocks, no refinements. PERF: such a call needs no table lookup and no
// check of its branch entries (fib 20: 37.06M instructions before, 36.60M
// after; the return bench at 50,000 rounds: 95.00M before, 94.14M after).
// Every collection clears them, as the call table.
CallEntry conditional_entries[2];
// The same for the `return` native: one evaluated argument, no
// refinements.
CallEntry return_entry;

[[gnu::noinline]] const Cell* fill_call_entry(const Cell* function, CallEntry* set) {
    const Cell* cache = argument_cache(function);
    // After building the cache: a collection it ran cleared the table.
    set[1] = set[0];
    set[0] = CallEntry{function->data3, cache};
    return cache;
}

// The table's set for a more block.
KIV_HOT CallEntry* call_set(NodeId more) {
    // The set's byte offset straight from the node id: ((more >> 1) & mask)
    // entries of 16 bytes. PERF: a shift and a mask, where the entry index
    // took two shifts (fib 20: 29.60M instructions before, 29.53M after;
    // the return bench at 50,000 rounds: 65.90M -> 65.55M; alloc of
    // 100,000 rounds: 222.14M -> 220.91M; while unchanged).
    static_assert(sizeof(CallEntry) == 16);
    const std::uintptr_t offset = (std::uintptr_t{more} << 3) & (((call_set_count - 1) << 1) * sizeof(CallEntry));
    return reinterpret_cast<CallEntry*>(reinterpret_cast<char*>(call_entries) + offset);
}

// The argument cache of a callable, through the table.
KIV_HOT const Cell* cached_arguments(const Cell* function) {
    CallEntry* set = call_set(function->data3);
    if (set[0].more == function->data3) [[likely]]
        return set[0].cache;
    if (set[1].more == function->data3) return set[1].cache;
    return fill_call_entry(function, set);
}

NativeCodeTables native_code_tables() {
    return NativeCodeTables{call_entries, ((call_set_count - 1) << 1) * sizeof(CallEntry), &conditional_entries[0],
                            &return_entry};
}

const Cell* cached_arguments_of(const Cell* function) { return cached_arguments(function); }

void forget_lookup_caches() {
    forget_global_values();
    local_context = LocalContext{no_context, nullptr};
    for (CallEntry& e : call_entries) e = CallEntry{};
    conditional_entries[0] = conditional_entries[1] = return_entry = CallEntry{};
}

}  // namespace internal

namespace {

// ---------------------------------------------------------------------------
// The argument cache.
//
// A block of cells: cell 0 is a copy of the callable's body cell (a
// function's body block, read from here by its calls: PERF, see
// call_function_plain); the cache proper, as the callers see it, starts at
// cell 1, a header (integer!: data1 the arguments
// before the first refinement, data2 the refinements, data3 the frame cells
// of a function: arguments, refinement slots and locals); then one entry
// per spec item in spec order: a typeset! per argument (kind in header bits
// 20-21, the argument's position in the spec in bits 8-19), a refinement!
// per refinement (data1: its frame slot << 16 | its argument count; data2:
// its canonical symbol; data3: its ordinal from 1), and an integer! for the
// locals (data2: /local and the words after it).

constexpr std::uint32_t kind_shift = 20;
// An argument entry's flag: its typeset is the default one, every datatype
// but unset!.
constexpr std::uint32_t any_but_unset = 0x00400000;
constexpr std::uint32_t spec_position_shift = 8;
constexpr std::uint32_t spec_position_mask = 0xFFF;

enum ArgKind : std::uint32_t { evaluated = 0, get_argument = 1, literal = 2 };

// Whether an argument entry's typeset holds the datatype. PERF: the first
// 64 bits in one load; bit i of the set is bit i ^ 7 of those bytes read
// in memory order.
KIV_HOT bool accepts(const Cell* entry, std::uint32_t type_id) {
    if (type_id >= 64) [[unlikely]]
        return typeset::has(entry, type_id);
    std::uint64_t bits;
    std::memcpy(&bits, &entry->data1, 8);
    return (bits >> (type_id ^ 7)) & 1;
}

// Flags of the cache's header cell.
namespace cache_flag {
// Exactly two arguments, both evaluated and taking integer! and float!
// values, and no refinements.
constexpr std::uint32_t two_numbers = 0x00100000;
// Two arguments before the first refinement, the second evaluated: an op
// evaluates its right operand in its frame. PERF: one test for two (fib
// 20: 35.54M instructions before, 35.53M after; the return bench at 50,000
// rounds: 84.52M before, 84.47M after).
constexpr std::uint32_t infix_ready = 0x00200000;
// The body (copied before the header) is a block of user code, not the
// library's, at a head of 0 or more: it runs from its head (see
// call_function_plain).
constexpr std::uint32_t user_body = 0x00800000;
// With two_numbers: the callable's Fast kind (see fast_kind) in these
// bits, so a call picks its arithmetic without the dispatch on its slot.
constexpr std::uint32_t fast_shift = 24;
constexpr std::uint32_t fast_mask = 0x0F000000;
}  // namespace cache_flag

// The Fast kind of a native or action, as cache header bits.
std::uint32_t fast_bits(const Cell* fn);

// Whether an argument entry is evaluated and takes integer! and float!.
bool takes_numbers(const Cell* entry) {
    return !(entry->header & (3u << kind_shift)) && accepts(entry, static_cast<std::uint32_t>(Type::integer)) &&
           accepts(entry, static_cast<std::uint32_t>(Type::float_));
}

bool is_local_refinement(const Cell* c) {
    return c->is(Type::refinement) && symbol::resolve(c->data2) == symbol::resolve(words::symbol(words::Ref::local));
}

struct CacheBuild {
    std::int32_t mandatory = 0;
    std::int32_t refinements = 0;
    std::int32_t slots = 0;
    std::int32_t locals = 0;
    std::int32_t current_refinement = -1;  // cache index of the refinement being filled
    bool in_locals = false;
};

void add_argument(Cell* cache, CacheBuild& b, NodeId spec, std::int32_t& i, ArgKind kind) {
    memory::SeriesBuffer* sb = memory::buffer_of(spec);
    Cell* added;
    if (i + 1 < static_cast<std::int32_t>(sb->length()) && sb->cells()[i + 1].is(Type::block)) {
        Cell types = sb->cells()[i + 1];
        added = typeset::make_from_block(cache, &types);
    } else {
        added = typeset::make_default_in(cache);
        added->header |= any_but_unset;
    }
    const std::uint32_t position = i > static_cast<std::int32_t>(spec_position_mask) ? spec_position_mask
                                                                          : static_cast<std::uint32_t>(i);
    added->header |= (static_cast<std::uint32_t>(kind) << kind_shift) | (position << spec_position_shift);
    if (i + 1 < static_cast<std::int32_t>(memory::buffer_of(spec)->length()) &&
        memory::buffer_of(spec)->cells()[i + 1].is(Type::block))
        ++i;
    ++b.slots;
    if (b.current_refinement < 0) {
        ++b.mandatory;
    } else {
        Cell* r = block::buffer(cache)->cells() + b.current_refinement;
        r->data1 += 1;
    }
}

void add_refinement(Cell* cache, CacheBuild& b, const Cell* c) {
    ++b.refinements;
    Cell entry = *c;
    entry.header = static_cast<std::uint32_t>(Type::refinement);
    entry.data1 = static_cast<std::uint32_t>(b.slots) << 16;
    entry.data2 = symbol::resolve(c->data2);
    entry.data3 = static_cast<std::uint32_t>(b.refinements);
    b.current_refinement = static_cast<std::int32_t>(block::buffer(cache)->length());
    *memory::append_slot(cache) = entry;
    ++b.slots;
}

}  // namespace

namespace internal {

// Builds the cache of a callable from its spec and keeps it in its more
// block. GC: allocates; the spec is read again after each allocation.
const Cell* build_cache(const Cell* function) {
    const Cell fn = *function;
    Cell cache;
    block::make_at(&cache, 8);
    none::make_in(&cache);  // the body, copied at the end
    none::make_in(&cache);  // the header, filled at the end
    CacheBuild b;
    const NodeId spec = fn.data2;
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(memory::buffer_of(spec)->length()); ++i) {
        const Cell c = memory::buffer_of(spec)->cells()[i];
        switch (c.type()) {
            case Type::word: case Type::get_word: case Type::lit_word:
                if (b.in_locals) {
                    if (c.is(Type::word)) ++b.locals, ++b.slots;
                    break;
                }
                add_argument(&cache, b, spec, i,
                             c.is(Type::word) ? evaluated : c.is(Type::get_word) ? get_argument : literal);
                break;
            case Type::refinement:
                if (b.in_locals) break;
                if (is_local_refinement(&c)) {
                    b.in_locals = true;
                    b.locals = 1;
                    ++b.slots;
                    break;
                }
                add_refinement(&cache, b, &c);
                break;
            case Type::set_word: {
                // return: and its type block take no frame cell.
                memory::SeriesBuffer* sb = memory::buffer_of(spec);
                if (i + 1 < static_cast<std::int32_t>(sb->length()) && sb->cells()[i + 1].is(Type::block)) ++i;
                break;
            }
            default: break;
        }
    }
    if (b.locals) {
        Cell* n = memory::append_slot(&cache);
        *n = integer::make_cell(b.locals);
    }
    memory::SeriesBuffer* cb = block::buffer(&cache);
    Cell* c = cb->cells() + 1;
    c[-1] = *function::more_cell(&fn, function::more::body);
    std::uint32_t header = static_cast<std::uint32_t>(Type::integer);
    if (b.mandatory == 2 && b.refinements == 0 && takes_numbers(c + 1) && takes_numbers(c + 2))
        header |= cache_flag::two_numbers | fast_bits(&fn);
    if (b.mandatory == 2 && !(c[2].header & (3u << kind_shift))) header |= cache_flag::infix_ready;
    if (c[-1].is(Type::block) && series::head(c - 1) >= 0 &&
        !(block::buffer(c - 1)->flags & memory::series_flag::library_code))
        header |= cache_flag::user_body;
    c[0] = Cell{header, static_cast<std::uint32_t>(b.mandatory), static_cast<std::uint32_t>(b.refinements),
                static_cast<std::uint32_t>(b.slots)};
    if (fn.is(Type::native) || fn.is(Type::action)) {
        // A native made from a spec its entry cannot read never gets a
        // cache, so every call of it fails here.
        natives::check_spec(&fn, &cache);
        natives::remember_spec(fn.is(Type::native), static_cast<std::int32_t>(fn.data1), &fn);
    }
    *function::more_cell(&fn, 1) = cache;
    return block::buffer(&cache)->cells() + 1;
}

}  // namespace internal

std::int32_t arity(const Cell* function) {
    return static_cast<std::int32_t>(argument_cache(function)->data1);
}

namespace {

// Applies the operators from the one at `pos` (a word holding `op`) on,
// left to right, to the value on top of the stack.
Status infix_loop_from(const Cell* op, Cell*& pos, Cell* end, const Cell* code);
// A set-word expression at `pos`, its value not simple, while not tracing:
// `v` is the value of the word that starts it, or null. PERF: the block
// loop's simple attempt looked that word up already (alloc of 100,000
// rounds: 242.05M instructions before, 240.86M after; block bench at
// 100,000 rounds: 99.10M -> 98.29M; fib 20 and return within 0.1%; while,
// 1,000,000 rounds: 232.6M -> 233.6M, its loop laid out otherwise).
Status eval_set_word_value(Cell*& pos, const Cell* v, Cell* end, const Cell* code);
// An expression that starts with a path, at `pos`, while not tracing.
Status eval_path_expression(Cell*& pos, Cell* end, const Cell* code);
// A set-word expression whose value's start, `left`, is computed: `pos`
// stands at the operator that follows it.
Status eval_set_word_from(Cell* word, Cell*& pos, Cell* end, const Cell* code, const Cell* left,
                          unsigned flags);
// A set-word expression at `pos` whose value, computed up to the operator
// at `stop` (its value `op`), is in the stack's next cell (not pushed),
// while not tracing.
KIV_HOT Status eval_set_word_partly(Cell*& pos, Cell* stop, const Cell* op, Cell* end, const Cell* code);

// Applies the operators that follow `pos`, left to right, to the value on
// top of the stack. PERF: the common case, a word that starts the next
// expression, costs no call; one that found the operator already goes
// straight to infix_loop_from without looking it up again (fib 20: 32.09M
// instructions before, 31.91M after; return at 50,000 rounds: 71.23M ->
// 70.45M; alloc of 100,000 rounds: 242.60M -> 242.06M; while, 1,000,000
// rounds: 230.6M -> 232.6M, two register copies more in its loop).
KIV_HOT Status infix_loop(Cell*& pos, Cell* end, const Cell* code) {
    if (pos >= end || !pos->is(Type::word)) return Status::ok;
    const Cell* v = word_slot_fast(pos);
    if (!v || !v->is(Type::op)) [[likely]]
        return Status::ok;
    return infix_loop_from(v, pos, end, code);
}
// infix_loop unless `flags` hold no_infix.
KIV_HOT Status infix_unless(unsigned flags, Cell*& pos, Cell* end, const Cell* code) {
    if (flags & flag::no_infix) return Status::ok;
    return infix_loop(pos, end, code);
}

// ---------------------------------------------------------------------------
// Argument errors.

// The spec word of a cache entry, as a word!.
Cell* entry_word(const Cell* fn, const Cell* entry, Cell* out) {
    const std::uint32_t position = (entry->header >> spec_position_shift) & spec_position_mask;
    memory::SeriesBuffer* sb = memory::buffer_of(fn->data2);
    if (position < sb->length()) {
        *out = sb->cells()[position];
        out->header = static_cast<std::uint32_t>(Type::word);
        return out;
    }
    return words::word(words::W::anon, out);
}

[[noreturn, gnu::cold, gnu::noinline]] void fire_no_arg(const Call& c, const Cell* entry) {
    Cell name = *c.fn_word;
    Cell arg;
    entry_word(c.fn, entry, &arg);
    fire(ErrorId::script_no_arg, &name, &arg);
}

[[noreturn, gnu::cold, gnu::noinline]] void fire_expect_arg(const Call& c, const Cell* entry,
                                                            const Cell* value) {
    Cell name = *c.fn_word;
    Cell type;
    registry::make_datatype(&type, value->type());
    Cell arg;
    entry_word(c.fn, entry, &arg);
    fire(ErrorId::script_expect_arg, &name, &type, &arg);
}

// ---------------------------------------------------------------------------
// Fetching arguments.

Status fetch_literal(Call& c) {
    Cell* v = c.pos++;
    switch (v->type()) {
        case Type::paren: return eval_paren(v, anon_symbol);
        case Type::get_word: stack::push_copy(word_slot(v)); return Status::ok;
        case Type::get_path: return eval_path(v, c.pos, c.end, c.code, nullptr);
        default: stack::push_copy(v); return Status::ok;
    }
}

// Fetches one argument as the entry says and pushes it; with `check` its
// datatype must be in the entry's typeset.
Status fetch_argument(Call& c, const Cell* entry, bool check, bool infix_second) {
    const std::uint32_t kind = (entry->header >> kind_shift) & 3;
    if (c.pos >= c.end) {
        if (kind == literal && typeset::has(entry, static_cast<std::uint32_t>(Type::unset))) {
            unset::make_at(stack::push_cell());
            return Status::ok;
        }
        fire_no_arg(c, entry);
    }
    switch (kind) {
        case evaluated:
            KIV_PROPAGATE(eval_expression(c.pos, c.end, c.code,
                                          flag::sub | (infix_second ? flag::no_infix : 0)));
            break;
        case get_argument:
            if (tracing()) [[unlikely]]
                KIV_PROPAGATE(fire_event(Event::fetch, c.code, c.pos, nullptr, c.pos));
            stack::push_copy(c.pos++);
            break;
        default:
            if (tracing()) [[unlikely]]
                KIV_PROPAGATE(fire_event(Event::fetch, c.code, c.pos, nullptr, c.pos));
            KIV_PROPAGATE(fetch_literal(c));
            break;
    }
    const Cell* got = state.stack_top - 1;
    if (tracing()) [[unlikely]]
        KIV_PROPAGATE(fire_event(Event::push, c.code, nullptr, nullptr, got));
    if (check && !accepts(entry, got->type_id())) fire_expect_arg(c, entry, got);
    return Status::ok;
}

// The cells of a function's frame after its mandatory arguments: false and
// none for each refinement and its arguments, false and none for the locals.
void push_defaults(const Cell* cache) {
    const Cell* e = cache + 1 + cache->data1;
    const std::int32_t n = static_cast<std::int32_t>(cache->data3) - static_cast<std::int32_t>(cache->data1);
    Cell* out = state.stack_top;
    if (n <= 0) return;
    if (out + n >= state.stack_end) stack::overflow_arguments();
    Cell* const last = out + n;
    for (; out < last; ++e) {
        std::int32_t k;
        if (e->is(Type::refinement)) k = static_cast<std::int32_t>(e->data1 & 0xFFFF) + 1;
        else if (e->is(Type::integer)) k = static_cast<std::int32_t>(e->data2);
        else continue;
        logic::make_at(out++, false);
        for (std::int32_t i = 1; i < k; ++i) none::make_at(out++);
    }
    state.stack_top = last;
}

// The cache entry of the refinement with the symbol (canonical).
const Cell* find_refinement_symbol(const Cell* cache, std::uint32_t wanted) {
    const Cell* e = cache + 1 + cache->data1;
    for (std::int32_t left = static_cast<std::int32_t>(cache->data2); left > 0; ++e) {
        if (!e->is(Type::refinement)) continue;
        if (e->data2 == wanted) return e;
        --left;
    }
    return nullptr;
}

const Cell* find_refinement(const Cell* cache, const Cell* item) {
    // PERF: a path item spelled as the spec's refinement (its canonical
    // symbol, which resolves to itself) needs no resolving.
    if (const Cell* e = find_refinement_symbol(cache, item->data2)) return e;
    return find_refinement_symbol(cache, symbol::resolve(item->data2));
}

// The refinements a calling path asks for, in path order. `used` holds the
// bits (by ordinal) of those already applied.
Status apply_refinements(Call& c, const Cell* cache, std::int32_t* positions, std::uint64_t used = 0) {
    const bool slots = c.fn->is(Type::function) || c.fn->is(Type::routine);
    Cell* base = state.stack_arguments;
    for (Cell* item = c.refs; item < c.refs_end; ++item) {
        bool active;
        if (item->is(Type::word)) {
            active = true;
        } else if (item->is(Type::get_word)) {
            const Cell* v = word_slot(item);
            if (v->is(Type::unset)) fire_with_word(ErrorId::script_no_value, item);
            active = natives::truthy(v);
        } else {
            Cell bad = *item;
            fire(ErrorId::script_bad_refine, &bad);
        }
        const Cell* e = find_refinement(cache, item);
        if (!e) {
            Cell name = *c.fn_word;
            Cell bad = *item;
            fire(ErrorId::script_no_refine, &name, &bad);
        }
        const std::uint64_t bit = std::uint64_t{1} << (e->data3 & 63);
        if (used & bit) {
            Cell path = c.path ? *c.path : *item;
            fire(ErrorId::script_dup_refine, &path);
        }
        used |= bit;
        const std::int32_t count = static_cast<std::int32_t>(e->data1 & 0xFFFF);
        const std::int32_t slot = static_cast<std::int32_t>(e->data1 >> 16);
        if (slots) logic::make_at(base + slot, active);
        else if (active) positions[e->data3] = static_cast<std::int32_t>(state.stack_top - base);
        for (std::int32_t i = 0; i < count; ++i) {
            KIV_PROPAGATE(fetch_argument(c, e + 1 + i, active, false));
            if (!active) {
                stack::drop(1);
            } else if (slots) {
                base[slot + 1 + i] = *(state.stack_top - 1);
                stack::drop(1);
            }
        }
    }
    return Status::ok;
}


// What a code value of each datatype does when evaluated: true when it is
// pushed as it is.
struct Literals {
    bool plain[256] = {};
    constexpr Literals() {
        for (int t = 0; t < 256; ++t) plain[t] = true;
        for (Type t : {Type::word, Type::set_word, Type::get_word, Type::lit_word, Type::paren,
                       Type::path, Type::lit_path, Type::get_path, Type::set_path, Type::op,
                       Type::native, Type::action, Type::function, Type::routine, Type::issue})
            plain[static_cast<int>(t)] = false;
    }
};
constexpr Literals literals;

// Whether a word's value is pushed as it is (not called, not an error).
struct WordValues {
    bool plain[256] = {};
    constexpr WordValues() {
        for (int t = 0; t < 256; ++t) plain[t] = true;
        for (Type t : {Type::op, Type::native, Type::action, Type::function, Type::routine, Type::unset})
            plain[static_cast<int>(t)] = false;
    }
};
constexpr WordValues word_values;

// ---------------------------------------------------------------------------
// Infix operators, with the fast paths of integer and float arithmetic and
// comparison.

// The op's action or native, when the fast path knows it. The
// comparisons come in the order of their natives, equal? first.
// PERF: one dispatch in fast_math picks the operation, a comparison
// included (a while round: 295 instructions before, 291 after; fib 20:
// 36.20M -> 36.18M).
enum class Fast : std::uint8_t {
    none, add, subtract, multiply, remainder,
    equal, not_equal, strict_equal, lesser, greater, lesser_or_equal, greater_or_equal
};

KIV_HOT Fast fast_kind(Type source, std::uint32_t slot) {
    if (source == Type::action) {
        switch (static_cast<Action>(slot)) {
            case Action::add: return Fast::add;
            case Action::subtract: return Fast::subtract;
            case Action::multiply: return Fast::multiply;
            case Action::remainder: return Fast::remainder;
            default: return Fast::none;
        }
    }
    constexpr auto first = static_cast<std::uint32_t>(natives::Native::equal_q);
    if (source == Type::native && slot - first <= static_cast<std::uint32_t>(natives::Native::greater_or_equal_q) - first) {
        return static_cast<Fast>(static_cast<std::uint32_t>(Fast::equal) + slot - first);
    }
    return Fast::none;
}

std::uint32_t fast_bits(const Cell* fn) {
    static_assert(static_cast<std::uint32_t>(Fast::greater_or_equal) <= cache_flag::fast_mask >> cache_flag::fast_shift);
    return static_cast<std::uint32_t>(fast_kind(fn->type(), fn->data1)) << cache_flag::fast_shift;
}

// The right operand when reading it cannot raise anything nor call
// anything: a number literal, or a word holding a number.
KIV_HOT const Cell* plain_number(const Cell* pos) {
    if (pos->is(Type::integer) || pos->is(Type::float_)) return pos;
    if (!pos->is(Type::word)) return nullptr;
    const Cell* v = word_slot_fast(pos);
    if (v && (v->is(Type::integer) || v->is(Type::float_))) return v;
    return nullptr;
}

// Sets an integer result in place of the left operand: the cell's second
// payload word, written with the rest of the cell as one 16-byte store.
// PERF: the result is often copied whole soon after (a set-word storing
// it, an operand read again); a 16-byte load that needs a 4-byte store
// still in the store buffer waits until that store reaches the cache, and
// in a loop such as `i: i + 1` the wait lies on the chain from one round to
// the next. Best CPU time of 10 runs: while 0.182 s before, 0.158 s after;
// iterate 0.085 -> 0.080; block 0.272 -> 0.256; fib, return and alloc
// within the noise; for 5 more instructions a result (while, 1,000,000
// rounds: 250.6M -> 255.6M; fib 20: 47.92M -> 48.07M).
KIV_HOT void store_data2(Cell* cell, std::uint32_t value) {
    const __m128i low = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(cell));
    const __m128i high = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(value)),
                                            _mm_cvtsi32_si128(static_cast<int>(cell->data3)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cell), _mm_unpacklo_epi64(low, high));
}

// Integer and float operands computed in place of the left operand; false
// when the operands are not both of those datatypes (floats: not for a
// comparison nor remainder).
KIV_HOT bool fast_math(Fast kind, Cell* left, const Cell* right) {
    if (left->is(Type::integer) && right->is(Type::integer)) {
        const std::int32_t a = integer::get(left);
        const std::int32_t b = integer::get(right);
        std::int32_t r;
        bool overflow;
        bool yes;
        switch (kind) {
            case Fast::add: overflow = __builtin_add_overflow(a, b, &r); break;
            case Fast::subtract: overflow = __builtin_sub_overflow(a, b, &r); break;
            case Fast::multiply: overflow = __builtin_mul_overflow(a, b, &r); break;
            case Fast::remainder:
                // A zero divisor raises its error in the action; -1 could
                // overflow.
                if (b == 0 || b == -1) return false;
                store_data2(left, static_cast<std::uint32_t>(a % b));
                return true;
            case Fast::equal: case Fast::strict_equal: yes = a == b; goto logic;
            case Fast::not_equal: yes = a != b; goto logic;
            case Fast::lesser: yes = a < b; goto logic;
            case Fast::greater: yes = a > b; goto logic;
            case Fast::lesser_or_equal: yes = a <= b; goto logic;
            case Fast::greater_or_equal: yes = a >= b; goto logic;
            default: return false;
        }
        if (!overflow) [[likely]] {
            store_data2(left, static_cast<std::uint32_t>(r));
            return true;
        }
        {
            // Out of the 32-bit range: the exact result as a float!.
            const double x = a, y = b;
            const double d = kind == Fast::add ? x + y : kind == Fast::subtract ? x - y : x * y;
            *left = float_::make_cell(d);
            return true;
        }
    logic:
        *left = Cell{static_cast<std::uint32_t>(Type::logic), yes ? 1u : 0u, 0, 0};
        return true;
    }
    if (left->is(Type::float_) && right->is(Type::float_) &&
        (kind == Fast::add || kind == Fast::subtract || kind == Fast::multiply)) {
        const double x = float_::get(left), y = float_::get(right);
        const double d = kind == Fast::add ? x + y : kind == Fast::subtract ? x - y : x * y;
        float_::set(left, d);
        left->header = static_cast<std::uint32_t>(Type::float_) | (left->header & cell_flag::new_line);
        return true;
    }
    return false;
}

// A value that evaluating cannot turn into a call or an error: a literal,
// or a word holding a plain value; null otherwise.
KIV_HOT const Cell* plain_operand(const Cell* pos) {
    if (pos->is(Type::word)) {
        const Cell* v = word_slot_fast(pos);
        return v && word_values.plain[v->type_id()] ? v : nullptr;
    }
    return literals.plain[pos->type_id()] ? pos : nullptr;
}

// The operator `op` applied to plain numbers, in place of the left operand:
// false when its fast path does not know it or the operands. PERF: with two
// integers the op's action or native picks the operation in one dispatch,
// without going through its Fast kind (while, 1,000,000 rounds: 281.6M
// instructions before, 272.6M after; fib 20: 35.81M -> 35.43M; iterate at
// 100,000: 151.34M -> 148.69M).
KIV_HOT bool op_math(const Cell* op, Cell* left, const Cell* right) {
    if (left->is(Type::integer) && right->is(Type::integer)) [[likely]] {
        const std::int32_t a = integer::get(left);
        const std::int32_t b = integer::get(right);
        const Type source = op::source_type(op);
        if (source == Type::action) {
            std::int32_t r;
            bool overflow;
            Fast kind;
            switch (static_cast<Action>(op->data1)) {
                case Action::add: overflow = __builtin_add_overflow(a, b, &r); kind = Fast::add; break;
                case Action::subtract: overflow = __builtin_sub_overflow(a, b, &r); kind = Fast::subtract; break;
                case Action::multiply: overflow = __builtin_mul_overflow(a, b, &r); kind = Fast::multiply; break;
                case Action::remainder:
                    if (b == 0 || b == -1) return false;
                    store_data2(left, static_cast<std::uint32_t>(a % b));
                    return true;
                default: return false;
            }
            if (!overflow) [[likely]] {
                store_data2(left, static_cast<std::uint32_t>(r));
                return true;
            }
            return fast_math(kind, left, right);
        }
        if (source != Type::native) return false;
        bool yes;
        switch (static_cast<natives::Native>(op->data1)) {
            case natives::Native::equal_q: case natives::Native::strict_equal_q: yes = a == b; break;
            case natives::Native::not_equal_q: yes = a != b; break;
            case natives::Native::lesser_q: yes = a < b; break;
            case natives::Native::greater_q: yes = a > b; break;
            case natives::Native::lesser_or_equal_q: yes = a <= b; break;
            case natives::Native::greater_or_equal_q: yes = a >= b; break;
            default: return false;
        }
        *left = Cell{static_cast<std::uint32_t>(Type::logic), yes ? 1u : 0u, 0, 0};
        return true;
    }
    const Fast kind = fast_kind(op::source_type(op), op->data1);
    return kind != Fast::none && fast_math(kind, left, right);
}

// How far simple_value got: not at all, the whole expression, or up to an
// operator it cannot compute (the value so far is its left operand).
enum class Simple : std::uint8_t { no, whole, partly };

// Computes an expression of plain values and fast operators into `out`
// without running anything; `pos` moves past what was computed.
// Applies the fast operators that follow `p` to `out` while their right
// operands are plain numbers; `p` moves past what was applied. When it
// stops at an operator (partly), `*stop_op`, if given, receives its value.
KIV_HOT Simple simple_tail(Cell*& p, Cell* end, Cell* out, const Cell** stop_op = nullptr) {
    while (p < end && p->is(Type::word)) {
        const Cell* op = word_slot_fast(p);
        if (!op || !op->is(Type::op)) break;
        // p < end here, so the right operand is there unless p + 1 is the
        // end. PERF: tested so, the compiler keeps no bound of its own for
        // the loop (while, 1,000,000 rounds: 306.6M instructions before,
        // 294.6M after; fib 20: 36.20M -> 36.03M; iterate at 100,000:
        // 153.14M -> 151.94M).
        const Cell* right = p + 1 != end ? plain_number(p + 1) : nullptr;
        if (!right || !op_math(op, out, right)) {
            if (stop_op) *stop_op = op;
            return Simple::partly;
        }
        p += 2;
    }
    return Simple::whole;
}

// With `stop_op`: when it stops at an operator (partly), the operator's
// value; when the value does not start simple (no) and starts with a word,
// the word's value, or null (else it is left as it is).
KIV_HOT Simple simple_value(Cell*& pos, Cell* end, unsigned flags, Cell* out, const Cell** stop_op = nullptr) {
    const Cell* v;
    if (pos->is(Type::word)) {
        v = word_slot_fast(pos);
        if (!v || !word_values.plain[v->type_id()]) [[unlikely]] {
            if (stop_op) *stop_op = v;
            return Simple::no;
        }
    } else {
        v = literals.plain[pos->type_id()] ? pos : nullptr;
        if (!v) return Simple::no;
    }
    *out = *v;
    ++pos;
    if (flags & flag::no_infix) return Simple::whole;
    return simple_tail(pos, end, out, stop_op);
}

bool is_callable_type(Type t) {
    return t == Type::native || t == Type::action || t == Type::function || t == Type::routine;
}

// Fetches the arguments of a call whose frame is open (its first
// `already` arguments in place).
Status fetch_arguments(Call& c, const Cell* cache, std::int32_t already, std::int32_t* positions) {
    const std::int32_t mandatory = static_cast<std::int32_t>(cache->data1);
    for (std::int32_t i = already; i < mandatory; ++i) {
        const Cell* entry = cache + 1 + i;
        const bool infix_second = c.infix && i == 1;
        // PERF: an evaluated argument with code left is the common case;
        // one of plain values and fast operators is computed in the next
        // stack cell itself.
        if (!(entry->header & (3u << kind_shift)) && c.pos < c.end && !tracing()) [[likely]] {
            const unsigned flags = flag::sub | (infix_second ? flag::no_infix : 0);
            Cell* const next = state.stack_top;
            Cell* after = c.pos;
            if (simple_value(after, c.end, flags, next) == Simple::whole) {
                stack::push_cell();
                c.pos = after;
            } else {
                KIV_PROPAGATE(eval_expression(c.pos, c.end, c.code, flags));
            }
            const Cell* got = state.stack_top - 1;
            if (!accepts(entry, got->type_id())) [[unlikely]]
                fire_expect_arg(c, entry, got);
        } else {
            KIV_PROPAGATE(fetch_argument(c, entry, true, infix_second));
        }
    }
    if (c.fn->is(Type::function) || c.fn->is(Type::routine)) push_defaults(cache);
    if (c.refs < c.refs_end) [[unlikely]]
        KIV_PROPAGATE(apply_refinements(c, cache, positions));
    return Status::ok;
}

// ---------------------------------------------------------------------------
// Calls.

// Opens the frame of a call. An infix call's frame starts at its left
// operand, already pushed.
void open_call_frame(const Call& c, bool function_frame) {
    if (c.infix) --state.stack_top;
    if (function_frame)
        open_frame(c.frame_name->data2, c.frame_name->data1, stack::header::interpreted_function, c.fn->data1);
    else
        open_frame(c.frame_name->data2, c.frame_name->data1, stack::header::interpreted_native, 0);
    if (c.infix) ++state.stack_top;
}

// Checks an infix call's left operand against the first argument.
void check_left(const Call& c, const Cell* cache) {
    if (cache->data1 < 1) return;
    const Cell* left = state.stack_arguments;
    if (!accepts(cache + 1, left->type_id())) fire_expect_arg(c, cache + 1, left);
}

// Runs the entry of a native or action whose frame holds its arguments:
// a native's takes the check flag and the refinement positions, an
// action's the positions alone.
KIV_HOT Status run_entry(const Cell* fn, std::int32_t* positions, std::int32_t refinements) {
    const auto slot = static_cast<std::int32_t>(fn->data1);
    if (fn->is(Type::native)) {
        const natives::Entry entry = natives::entry(slot);
        if (!entry) fire(ErrorId::internal_not_done);
        return entry(positions, refinements + 1);
    }
    const natives::Entry entry = actions::entry(slot);
    if (!entry) fire(ErrorId::internal_not_done);
    return entry(positions + 1, refinements);
}

Status invoke_native(Call& c) {
    const Cell* cache = cached_arguments(c.fn);
    const std::int32_t refinements = static_cast<std::int32_t>(cache->data2);
    // positions[0] is a native's check flag; positions[k] refinement k's.
    // An action receives them from positions[1].
    std::int32_t positions[1 + compiled_max_refinements];
    if (refinements > compiled_max_refinements) fire(ErrorId::internal_not_done);
    clear_positions(positions, refinements);
    open_call_frame(c, false);
    if (c.infix) check_left(c, cache);
    KIV_PROPAGATE(fetch_arguments(c, cache, c.infix ? 1 : 0, positions));
    if (tracing()) [[unlikely]]
        KIV_PROPAGATE(fire_event(Event::call, c.code, nullptr, c.fn_word, c.fn));
    if (c.infix && !tracing()) {
        // An operator whose right operand needed a call: the arithmetic of
        // integers and floats still needs no entry.
        const Fast kind = fast_kind(c.fn->type(), c.fn->data1);
        if (kind != Fast::none && fast_math(kind, state.stack_arguments, state.stack_arguments + 1)) {
            close_frame();
            return Status::ok;
        }
    }
    KIV_PROPAGATE(run_entry(c.fn, positions, refinements));
    close_frame();
    return Status::ok;
}

Status invoke_routine(Call& c) {
    const Cell* cache = argument_cache(c.fn);
    open_call_frame(c, false);
    if (c.infix) check_left(c, cache);
    KIV_PROPAGATE(fetch_arguments(c, cache, c.infix ? 1 : 0, nullptr));
    if (tracing()) [[unlikely]]
        KIV_PROPAGATE(fire_event(Event::call, c.code, nullptr, c.fn_word, c.fn));
    Cell* base = state.stack_arguments;
    routine::call(c.fn, base, base);
    close_frame();
    return Status::ok;
}

Status invoke_function(Call& c) {
    const Cell* cache = argument_cache(c.fn);
    open_call_frame(c, true);
    if (c.infix) check_left(c, cache);
    KIV_PROPAGATE(fetch_arguments(c, cache, c.infix ? 1 : 0, nullptr));
    if (tracing()) [[unlikely]]
        KIV_PROPAGATE(fire_event(Event::call, c.code, nullptr, c.fn_word, c.fn));
    KIV_PROPAGATE(run_body(c.fn, c.fn_word));
    close_frame();
    return Status::ok;
}

}  // namespace

namespace internal {

// A word holding a function value of any kind, at `pos`, called with no
// refinements while not tracing; `pos` moves past its arguments and the
// operators that follow.
Status eval_call_word(const Cell* fn, Cell*& pos, Cell* end, const Cell* code, unsigned flags);

// What simple_expression did.
enum class Step : std::uint8_t { done, call, set, partly, set_partly, path, paren, other };

// One whole expression of plain values and fast operators (or a set-word
// taking one), computed in `next`, the block's result cell, and pushed:
// done. A word holding a function value: call, with the value in `fn`. A
// set-word whose value does not start simple: set, with the value of the
// word that starts it in `fn` (left as it was, null, for anything else). A
// plain value, or a set-word's, computed up to an operator it cannot
// apply: partly or set_partly, the value so far in `next` (not pushed) and
// `*stop` at the operator (for set_partly, its value in `fn`). A paren or
// a path: paren or path. Anything else: other. `pos` moves only when done.
// Runs nothing, so it neither raises an error nor switches tracing on; the
// caller knows tracing is off.
KIV_HOT Step simple_expression(Cell*& pos, Cell* end, Cell* next, const Cell** fn, Cell** stop) {
    // PERF: the value is computed in the next stack cell itself, `next`,
    // which is always inside the stack; the push checks the room.
    Cell* after = pos;
    if (pos->is(Type::word)) {
        const Cell* v = word_slot_fast(pos);
        if (!v) return Step::other;
        if (!word_values.plain[v->type_id()]) {
            if (!is_callable_type(v->type())) return Step::other;
            *fn = v;
            return Step::call;
        }
        *next = *v;
        ++after;
        if (simple_tail(after, end, next) != Simple::whole) {
            *stop = after;
            return Step::partly;
        }
    } else if (pos->is(Type::set_word)) {
        Cell* slot = pos + 1 < end ? plain_slot(pos) : nullptr;
        if (!slot) return Step::other;
        ++after;
        const Simple got = simple_value(after, end, 0, next, fn);
        if (got != Simple::whole) [[unlikely]] {
            *stop = after;
            return got == Simple::no ? Step::set : Step::set_partly;
        }
        *slot = *next;
    } else {
        const Simple got = simple_value(after, end, 0, next);
        if (got == Simple::no)
            return pos->is(Type::path) ? Step::path : pos->is(Type::paren) ? Step::paren : Step::other;
        if (got == Simple::partly) {
            *stop = after;
            return Step::partly;
        }
    }
    // The push, from the cell already at hand. PERF: the top is not read
    // again (while, 1,000,000 rounds: 308.6M instructions before, 306.6M
    // after; iterate at 100,000: 153.29M -> 153.14M; fib 20 unchanged).
    state.stack_top = next + 1;
    if (next + 1 >= state.stack_end) [[unlikely]]
        stack::overflow_arguments();
    pos = after;
    return Step::done;
}

// eval_block's body, inlined into the call paths. PERF: a function body
// and a conditional's branch skip one call level (fib 20: 45.8M
// instructions before, 44.9M after).
// `near` is put back as it was when the block ends, unless `leaves_near`:
// then the caller puts it back (a loop does, once, for all its rounds).
// With `user_code` the caller knows the block is not the library's own
// code and gives its start index (see user_block). `entry_traced`:
// whether tracing is on as the block starts (run_block knows).
// A paren met by the untraced block loop, run while tracing is still off.
// PERF: without eval_block's tracing test and its chain flag (a statement
// `(i)` in a loop of 100,000 rounds: 31.11M instructions before, 30.20M
// after; fib 20: 31.91M -> 31.80M).
Status run_paren(const Cell* paren);

// A statement simple_expression left (`step`, with its `fn` and `stop`),
// from `pos` in the block whose cells start at `first` and whose value
// goes at `base`: the top back at `base`, `near` at the statement, then its
// evaluation. Shared by the block loop and resume_block.
[[gnu::always_inline]] inline Status run_statement(Step step, const Cell* fn, Cell* stop, Cell*& pos, Cell* first,
                                                   Cell* end, Cell* base, const Cell* code) {
    state.stack_top = base;
    state.near.data1 = static_cast<std::uint32_t>(pos - first);
    switch (step) {
        case Step::call: return eval_call_word(fn, pos, end, code, 0);
        case Step::set: return eval_set_word_value(pos, fn, end, code);
        case Step::path: return eval_path_expression(pos, end, code);
        case Step::paren: {
            // PERF: a paren goes without the general dispatch (fib 20:
            // 35.43M instructions before, 35.22M after; iterate at 100,000:
            // 148.59M -> 148.04M).
            const Status s = run_paren(pos++);
            if (s == Status::ok && pos < end && pos->is(Type::word)) return infix_loop(pos, end, code);
            return s;
        }
        case Step::partly:
            // PERF: the operators go on from where the simple attempt
            // stopped, without computing its part again.
            stack::push_cell();
            pos = stop;
            return infix_loop_from(word_slot_fast(pos), pos, end, code);
        case Step::set_partly: return eval_set_word_partly(pos, stop, fn, end, code);
        default: return eval_expression(pos, end, code, 0);
    }
}

template <bool leaves_near, bool user_code, bool entry_traced>
KIV_HOT Status run_block_body(const Cell* block, bool chain, std::int32_t start) {
    // PERF: a block evaluation opens no call frame: nothing unwinds to one
    // (break, return and throw target loops, bodies and catches), and names
    // of <body> frames never show. Its cells start at the current top.
    [[maybe_unused]] Cell saved_near;
    if constexpr (!leaves_near) saved_near = state.near;
    Cell code = *block;
    // Whether tracing is on, read again after anything that ran code (only
    // that can switch it on). PERF: kept in a local, the simple
    // expressions and the exit of a block of them test nothing (while,
    // 1,000,000 rounds: 291.6M instructions before, 281.6M after; fib 20:
    // 35.95M -> 35.81M; iterate at 100,000: 151.59M -> 151.34M).
    bool traced = entry_traced;
    if constexpr (entry_traced) {
        KIV_PROPAGATE(fire_event(Event::enter, &code, nullptr, nullptr, nullptr));
        traced = tracing();
    }
    memory::SeriesBuffer* b = block::buffer(&code);
    Cell* first = b->cells();
    Cell* end = b->cells_tail();
    std::int32_t index = start;
    if constexpr (!user_code) {
        index = series::head(&code);
        if (index < 0) index = 0;
    }
    Cell* pos = first + index;
    Cell* const base = state.stack_top;
    if (pos >= end) {
        unset::make_at(stack::push_cell());
    } else if (!user_code && (b->flags & memory::series_flag::library_code)) [[unlikely]] {
        // The library's own code leaves `near` at the user's expression.
        while (pos < end) {
            state.stack_top = base;
            if (eval_expression(pos, end, &code, 0) == Status::thrown) [[unlikely]] {
                if constexpr (!leaves_near) state.near = saved_near;
                return Status::thrown;
            }
        }
        traced = tracing();
    } else {
        state.near = code;
        if (!traced) [[likely]] {
            for (;;) {
                // PERF: an expression of plain values and fast operators,
                // or a set-word taking one, is computed here without a
                // call; it cannot raise an error, so `near` need not
                // follow it. A word calling a function goes straight to the
                // call (a while round: 520 instructions before, 452 after;
                // a one-argument function call in a loop: 439 before, 413
                // after).
                const Cell* fn = nullptr;
                Cell* stop = nullptr;
                const Step step = simple_expression(pos, end, base, &fn, &stop);
                if (step == Step::done) {
                    if (pos < end) continue;
                    break;
                }
                // PERF: the top goes back to the block's cell only before
                // an expression that pushes on its own; a simple one writes
                // that cell directly (while, 1,000,000 rounds: 294.6M
                // instructions before, 291.6M after; fib 20: 36.03M ->
                // 35.95M).
                const Status s = run_statement(step, fn, stop, pos, first, end, base, &code);
                if (s == Status::thrown) [[unlikely]] {
                    if constexpr (!leaves_near) state.near = saved_near;
                    return Status::thrown;
                }
                // Code ran: tracing may be on now, for the rest. PERF: the
                // untraced expressions loop on their own, so none of them
                // tests the flag again (while, 1,000,000 rounds: 248.6M
                // instructions before, 238.6M after; fib 20: 35.22M ->
                // 35.17M; iterate at 100,000: 145.33M -> 144.24M).
                if (tracing()) [[unlikely]] {
                    traced = true;
                    break;
                }
                if (pos >= end) break;
            }
        }
        if (traced) [[unlikely]] {
            // The rest of the block, expression by expression, with their
            // events.
            while (pos < end) {
                state.stack_top = base;
                state.near.data1 = static_cast<std::uint32_t>(pos - first);
                if (eval_expression(pos, end, &code, 0) == Status::thrown) [[unlikely]] {
                    if constexpr (!leaves_near) state.near = saved_near;
                    return Status::thrown;
                }
            }
            traced = tracing();
        }
    }
    if (traced) [[unlikely]]
        KIV_PROPAGATE(fire_event(Event::exit, &code, nullptr, nullptr, state.stack_top - 1));
    if constexpr (!leaves_near) state.near = saved_near;
    if (chain) *state.stack_arguments = *base;
    state.stack_top = base + 1;
    return Status::ok;
}

[[gnu::noinline]] Status run_paren(const Cell* paren) { return run_block_body<false, false, false>(paren, false, 0); }

template <bool leaves_near, bool user_code>
[[gnu::noinline]] Status run_block_traced(const Cell* block, bool chain, std::int32_t start) {
    return run_block_body<leaves_near, user_code, true>(block, chain, start);
}

// PERF: a block that starts while tracing is off knows it in its first
// expression. For loop rounds: while, 1,000,000 rounds: 253.6M
// instructions before, 248.6M after; iterate at 100,000: 145.57M ->
// 145.33M. For the other blocks too, once untraced expressions had their
// own loop: fib 20: 35.06M -> 34.83M, iterate 144.24M -> 144.43M.
template <bool leaves_near = false, bool user_code = false>
KIV_HOT Status run_block(const Cell* block, bool chain, std::int32_t start = 0) {
    if (tracing()) [[unlikely]]
        return run_block_traced<leaves_near, user_code>(block, chain, start);
    return run_block_body<leaves_near, user_code, false>(block, chain, start);
}

bool entry_takes(const Cell* entry, Type type) {
    if (entry->header & (3u << kind_shift)) return false;
    if (entry->header & any_but_unset) return type != Type::unset;
    return accepts(entry, static_cast<std::uint32_t>(type));
}

std::uint32_t cache_infix_mask() { return cache_flag::fast_mask | cache_flag::infix_ready; }
std::uint32_t cache_user_body() { return cache_flag::user_body; }
std::uint32_t fast_bits_of(const Cell* callable) {
    if (callable->is(Type::op)) return static_cast<std::uint32_t>(fast_kind(op::source_type(callable), callable->data1))
                                       << cache_flag::fast_shift;
    return fast_bits(callable);
}

// The rest of a block that native code started (see native-code.h), from
// `pos`: a statement's start, or with `infix` an operator whose left value
// is pushed at `base`. Does what run_block_body's loops do from there:
// `first` and `end` are the cells the block had when it started, `near`
// holds what that loop would have left in it, and `saved_near` is the
// value to put back when the block ends.
Status resume_block(const Cell* code_cell, Cell* first, Cell* pos, Cell* end, Cell* base, const Cell* saved_near,
                    bool chain, bool infix) {
    const Cell code = *code_cell;
    auto leave = [&](Status s) {
        if (saved_near) state.near = *saved_near;
        return s;
    };
    if (infix) {
        state.stack_top = base + 1;
        if (infix_loop(pos, end, &code) == Status::thrown) return leave(Status::thrown);
    }
    while (pos < end) {
        state.stack_top = base;
        Status s;
        if (!tracing()) {
            const Cell* fn = nullptr;
            Cell* stop = nullptr;
            const Step step = simple_expression(pos, end, base, &fn, &stop);
            if (step == Step::done) continue;
            s = run_statement(step, fn, stop, pos, first, end, base, &code);
        } else {
            state.near.data1 = static_cast<std::uint32_t>(pos - first);
            s = eval_expression(pos, end, &code, 0);
        }
        if (s == Status::thrown) return leave(Status::thrown);
    }
    if (tracing()) [[unlikely]]
        if (fire_event(Event::exit, &code, nullptr, nullptr, state.stack_top - 1) == Status::thrown)
            return leave(Status::thrown);
    if (saved_near) state.near = *saved_near;
    if (chain) *state.stack_arguments = *base;
    state.stack_top = base + 1;
    return Status::ok;
}

namespace {

[[gnu::noinline]] Status invoke_traced(Call& c) {
    KIV_PROPAGATE(fire_event(Event::open, c.code, nullptr, c.fn_word, c.fn));
    switch (c.fn->type()) {
        case Type::native: case Type::action: KIV_PROPAGATE(invoke_native(c)); break;
        case Type::function: KIV_PROPAGATE(invoke_function(c)); break;
        case Type::routine: KIV_PROPAGATE(invoke_routine(c)); break;
        default: fire(ErrorId::internal_not_done);
    }
    return fire_event(Event::return_, c.code, nullptr, c.fn_word, state.stack_top - 1);
}

}  // namespace

Status invoke(Call& c) {
    if (tracing()) [[unlikely]]
        return invoke_traced(c);
    switch (c.fn->type()) {
        case Type::native: case Type::action: return invoke_native(c);
        case Type::function: return invoke_function(c);
        case Type::routine: return invoke_routine(c);
        default: fire(ErrorId::internal_not_done);
    }
}

namespace {

// An evaluated argument, pushed. PERF: one of plain values and fast
// operators is computed here, in the next stack cell itself (always inside
// the stack; the push checks the room); a word calling a function goes
// straight to the call; the operators the simple part cannot apply go on
// from where it stopped. Anything else takes the whole evaluation.
// `untraced`: the caller knows tracing is off. PERF: a call's first
// argument is fetched before anything could switch tracing on, so it
// skips the test (fib 20: 31.99M instructions before, 31.61M after; the
// return bench at 50,000 rounds: 72.54M -> 72.39M; alloc of 100,000
// rounds: 243.09M -> 242.51M; iterate at 100,000: 129.85M -> 129.41M).
template <bool untraced = false>
KIV_HOT Status eval_argument(Cell*& pos, Cell* end, const Cell* code) {
    if (!untraced && tracing()) [[unlikely]]
        return eval_expression(pos, end, code, flag::sub);
    const Cell* v = pos;
    if (pos->is(Type::word)) {
        v = word_slot_fast(pos);
        if (!v) [[unlikely]]
            return eval_expression(pos, end, code, flag::sub);
        if (!word_values.plain[v->type_id()]) {
            if (is_callable_type(v->type())) return eval_call_word(v, pos, end, code, flag::sub);
            return eval_expression(pos, end, code, flag::sub);
        }
    } else if (!literals.plain[pos->type_id()]) {
        return eval_expression(pos, end, code, flag::sub);
    }
    Cell* const next = state.stack_top;
    *next = *v;
    Cell* after = pos + 1;
    const Simple got = simple_tail(after, end, next);
    stack::push_cell();
    pos = after;
    // PERF: where it stopped, simple_tail found a word holding an op, so
    // the loop starts from it without infix_loop's tests (alloc of 100,000
    // rounds, `if 0 = remainder i 10`: 224.27M instructions before,
    // 222.17M after; the return bench at 50,000 rounds, which never stops
    // here: 65.78M -> 65.90M, by register choices in the call path).
    if (got == Simple::partly) return infix_loop_from(word_slot_fast(pos), pos, end, code);
    return Status::ok;
}

// One argument of a call whose frame is open, pushed and checked against
// its entry: an evaluated one (when `evaluate`) through eval_argument, any
// other kind, or the end of the code, the general way. `path`, `refs` and
// `refs_end` name the call in messages. `untraced` as eval_argument's.
template <bool untraced = false>
KIV_HOT Status fetch_entry(const Cell* fn, const Cell* word, const Cell* path, Cell* refs, Cell* refs_end,
                           const Cell* entry, bool evaluate, Cell*& pos, Cell* end, const Cell* code) {
    if (!(entry->header & (3u << kind_shift)) && pos < end && evaluate) [[likely]] {
        KIV_PROPAGATE(eval_argument<untraced>(pos, end, code));
        const Cell* got = state.stack_top - 1;
        // PERF: the default typeset needs no bit lookup (fib 20: 35.65M
        // instructions before, 35.54M after; the return bench at 50,000
        // rounds: 84.77M before, 84.52M after).
        const bool taken = entry->header & any_but_unset ? !got->is(Type::unset) : accepts(entry, got->type_id());
        if (!taken) [[unlikely]] {
            Call c{fn, word, word, pos, end, code, path, refs, refs_end, false};
            fire_expect_arg(c, entry, got);
        }
    } else {
        Call c{fn, word, word, pos, end, code, path, refs, refs_end, false};
        KIV_PROPAGATE(fetch_argument(c, entry, true, false));
    }
    return Status::ok;
}

// The mandatory arguments of a call without refinements whose frame is
// open, called while not tracing: nothing has run since the call started
// when the first is fetched. PERF: the common call needs no Call record unless an argument is
// not a plain evaluated one. Inlined into the call, a call level less
// (fib 20: 46.7M instructions before, 45.8M after).
KIV_HOT Status fetch_plain_arguments(const Cell* fn, const Cell* word, const Cell* cache, Cell*& pos,
                             Cell* end, const Cell* code, std::int32_t from = 0) {
    const auto mandatory = static_cast<std::int32_t>(cache->data1);
    // PERF: a single argument without the loop's set-up (fib 20: 35.71M
    // instructions before, 35.65M after; the return bench at 50,000 rounds:
    // 85.35M before, 84.77M after).
    if (mandatory == 1 && from == 0)
        return fetch_entry<true>(fn, word, nullptr, nullptr, nullptr, cache + 1, true, pos, end, code);
    if (from == 0 && mandatory > 0) {
        KIV_PROPAGATE(fetch_entry<true>(fn, word, nullptr, nullptr, nullptr, cache + 1, true, pos, end, code));
        from = 1;
    }
    for (std::int32_t i = from; i < mandatory; ++i)
        KIV_PROPAGATE(fetch_entry(fn, word, nullptr, nullptr, nullptr, cache + 1 + i, true, pos, end, code));
    return Status::ok;
}

// The general fetch from the argument `from` on, out of line.
[[gnu::noinline]] Status fetch_plain_from(const Cell* fn, const Cell* word, const Cell* cache, Cell*& pos,
                                          Cell* end, const Cell* code, std::int32_t from = 0) {
    return fetch_plain_arguments(fn, word, cache, pos, end, code, from);
}

// The argument cache of an `if` or `either` native when it holds the
// library's spec, which is then remembered; else null. GC: may build the
// cache.
template <std::int32_t branches>
[[gnu::noinline]] const Cell* standard_conditional(const Cell* fn) {
    // Not through the call table, whose entry it would take for nothing.
    const Cell* cache = argument_cache(fn);
    if (cache->data2 != 0 || cache->data1 != static_cast<std::uint32_t>(branches + 1)) return nullptr;
    for (std::int32_t i = 1; i <= branches + 1; ++i)
        if (cache[i].header & (3u << kind_shift)) return nullptr;
    for (std::int32_t i = 2; i <= branches + 1; ++i)
        if (!accepts(cache + i, static_cast<std::uint32_t>(Type::block))) return nullptr;
    conditional_entries[branches - 1] = CallEntry{fn->data3, cache};
    return cache;
}

// The arguments of `either` or `if` with the library's spec called by a
// word with no refinements, their frame open; `branch` receives the first
// branch. PERF: branches written as blocks in the code, with no operator
// after the last, are taken where they stand, without an evaluation and a
// type check each (fib 20: 38.57M instructions before, 37.10M after, with
// call_conditional), nor a push (29.52M -> 29.30M; the return bench at
// 50,000 rounds: 65.48M -> 65.14M). Anything else, or tracing turned on
// by the condition, takes the general fetch from the first branch on,
// which pushes them after the condition.
template <std::int32_t branches>
KIV_HOT Status fetch_conditional(const Cell* fn, const Cell* word, const Cell* cache, Cell*& pos,
                                 Cell* end, const Cell* code, const Cell*& branch) {
    branch = state.stack_arguments + 1;
    if (pos >= end) [[unlikely]]
        return fetch_plain_from(fn, word, cache, pos, end, code);
    KIV_PROPAGATE(eval_argument<true>(pos, end, code));
    const Cell* const condition = cache + 1;
    const Cell* got = state.stack_top - 1;
    if (!accepts(condition, got->type_id())) [[unlikely]] {
        Call c{fn, word, word, pos, end, code, nullptr, nullptr, nullptr, false};
        fire_expect_arg(c, condition, got);
    }
    Cell* const after = pos + branches;
    bool plain = !tracing() && after <= end && pos[0].is(Type::block);
    if constexpr (branches == 2) plain = plain && pos[1].is(Type::block);
    if (plain && after < end && after->is(Type::word)) {
        const Cell* v = word_slot_fast(after);
        plain = v && !v->is(Type::op);
    }
    if (!plain) [[unlikely]]
        return fetch_plain_from(fn, word, cache, pos, end, code, 1);
    // The block that runs is copied before anything can change the code.
    branch = pos;
    pos = after;
    return Status::ok;
}

// Runs a function!'s body as run_body does, for a function that changes
// no trace flag while not tracing. PERF: skips the tracing set-up (the
// call bench, `f i` 20,000 times: 31.7M instructions before, 31.1M after).
Status run_plain_body(const Cell* fn, const Cell* name) {
    if (fn->header & (function::flag::trace | function::flag::no_trace)) [[unlikely]]
        return run_body(fn, name);
    Cell* base = state.stack_arguments;
    memory::buffer_of(fn->data1)->cells()->data2 = cage::offset_of(base);
    state.frames_top[-1].header |= stack::flag::body;
    // eval_block copies the body cell before anything can move it.
    const Cell* body = memory::buffer_of(fn->data3)->cells() + function::more::body;
    if (!body->is(Type::block)) [[unlikely]] {
        none::make_at(base);
    } else if (run_block(body, true) == Status::thrown) [[unlikely]] {
        const std::uint32_t code = state.thrown_code;
        if (code != throw_code::return_ && code != throw_code::exit) return Status::thrown;
        // return and exit end here: the thrower made this frame current
        // with the value in its result slot.
        state.thrown_code = 0;
    }
    state.frames_top[-1].header &= ~stack::flag::body;
    state.stack_top = state.stack_arguments + 1;
    return Status::ok;
}

Status call_native_other(const Cell* native, const Cell* word, Cell*& pos, Cell* end, const Cell* code);

// A function body that is not a block of user code from its head: a block
// of the library's, or anything else (the result is none).
[[gnu::noinline]] Status run_other_body(const Cell* body, Cell* base) {
    if (!body->is(Type::block)) {
        none::make_at(base);
        return Status::ok;
    }
    return run_block(body, true);
}

// `either` (2 branches) or `if` (1) called by a word with no refinements
// while not tracing, as call_native_plain: its chosen block runs here,
// without the entry's dispatch (fib 20: 48.6M instructions before, 47.4M
// after; the return bench at 50,000 rounds: 133.5M before, 132.3M after).
// A native of either slot made with another spec takes the general call,
// out of line.

template <std::int32_t branches>
KIV_HOT Status call_conditional(const Cell* native, const Cell* word, Cell*& pos, Cell* end,
                                          const Cell* code) {
    const Cell f = *native;
    const Cell* const fn = &f;
    const CallEntry& known = conditional_entries[branches - 1];
    const Cell* cache = known.cache;
    if (f.data3 != known.more) [[unlikely]] {
        cache = standard_conditional<branches>(fn);
        if (!cache) return call_native_other(native, word, pos, end, code);
    }
    open_frame<false>(word->data2, word->data1, stack::header::interpreted_native, 0);
    const Cell* branch;
    KIV_PROPAGATE(fetch_conditional<branches>(fn, word, cache, pos, end, code, branch));
    Cell* base = state.stack_arguments;
    // PERF: a logic! condition, the common one, is read first (fib 20:
    // 31.61M instructions before, 31.52M after; the return bench at 50,000
    // rounds: 72.39M -> 72.23M).
    const bool yes = base->is(Type::logic) ? base->data1 != 0
                     : branches == 2        ? natives::truthy_strict(base)
                                            : natives::truthy(base);
    // PERF: the branch's values start at the condition's cell, the frame's
    // result slot, so its last value needs no copy there (fib 20: 29.30M
    // instructions before, 29.20M after).
    if (branches == 2 || yes) {
        state.stack_top = base;
        KIV_PROPAGATE(run_block(yes ? branch : branch + 1, false));
    } else {
        none::make_at(base);
        state.stack_top = base + 1;
    }
    close_native_frame();
    return Status::ok;
}

// A native or action called by a word, with no refinements, while not
// tracing. PERF: its frame starts at the current top, with no copy of the
// native pushed below it: the frame's base is the result slot, and the
// native itself is copied into a local for messages, since the word may be
// set again while its arguments are evaluated. With the direct dispatch
// from eval_expression: a fib round 1,176 instructions before, 1,129 after.
// With `frameless`, arithmetic on plain arguments may skip the frame (see
// below).
template <bool frameless = false>
KIV_HOT Status call_native_general(const Cell* native, const Cell* word, Cell*& pos, Cell* end, const Cell* code,
                                   unsigned flags) {
    const Cell f = *native;
    const Cell* const fn = &f;
    const Cell* cache = cached_arguments(fn);
    const auto refinements = static_cast<std::int32_t>(cache->data2);
    // PERF: the Fast kind is in the cache header (the return bench at
    // 50,000 rounds: 72.23M instructions before, 71.73M after; alloc of
    // 100,000 rounds: 242.53M -> 241.23M; iterate at 100,000: 129.41M ->
    // 128.32M).
    const auto kind = static_cast<Fast>((cache->header & cache_flag::fast_mask) >> cache_flag::fast_shift);
    std::int32_t computed = 0;  // arguments computed before the frame opens
    if (frameless && kind != Fast::none) {
        // PERF: integer and float arithmetic or comparison whose two
        // arguments are plain values (or simple expressions of them) opens
        // no frame: computing them can neither raise an error nor run
        // anything, so nothing could see the frame. They are computed in
        // the next stack cells, where the frame would hold them; the general
        // way goes on from the first it could not compute (the return bench
        // at 50,000 rounds, `remainder i 1000` each round: 92.57M
        // instructions before, 89.69M after). The price of a second
        // argument that is a call, looked up once more: `add i f i` as a
        // statement 50,000 times, 51.98M instructions with this path, 49.38M
        // without (and 2.7M more when the general way computed the first
        // argument again).
        Cell* const next = state.stack_top;
        Cell* after = pos;
        if (next + 2 < state.stack_end && after < end &&
            simple_value(after, end, flag::sub, next) == Simple::whole) [[likely]] {
            pos = after;
            computed = 1;
            if (after < end && simple_value(after, end, flag::sub, next + 1) == Simple::whole) [[likely]] {
                pos = after;
                computed = 2;
                if (fast_math(kind, next, next + 1)) [[likely]] {
                    state.stack_top = next + 1;
                    return Status::ok;
                }
            }
        }
    }
    open_frame(word->data2, word->data1, stack::header::interpreted_native, 0);
    if (frameless && computed) [[unlikely]] {
        // The computed arguments are the frame's first cells: their
        // datatypes are checked as the fetch checks them.
        Cell* const base = state.stack_top;
        state.stack_top = base + computed;
        for (std::int32_t i = 0; i < computed; ++i) {
            if (!accepts(cache + 1 + i, base[i].type_id())) [[unlikely]] {
                Call c{fn, word, word, pos, end, code, nullptr, nullptr, nullptr, false};
                fire_expect_arg(c, cache + 1 + i, base + i);
            }
        }
    }
    KIV_PROPAGATE(fetch_plain_arguments(fn, word, cache, pos, end, code, computed));
    const auto slot = static_cast<std::int32_t>(fn->data1);
    if (kind != Fast::none) {
        // PERF: the arithmetic and comparison of integers and floats
        // called by name needs no entry, as their operators (add i 1, in a
        // loop: 338 instructions a round before, 302 after).
        Cell* base = state.stack_arguments;
        if (fast_math(kind, base, base + 1)) {
            close_native_frame();
            return Status::ok;
        }
    }
    if (frameless && fn->is(Type::action) && slot == static_cast<std::int32_t>(Action::append)) {
        // PERF: one value appended to a block with room, as the entry's own
        // fast path does, without the entry's dispatch and refinement
        // positions (no refinement is used here; the cache check made sure
        // the spec has the library's arguments). Alloc of 100,000 rounds:
        // 240.23M instructions before, 231.69M after; iterate at 100,000:
        // 128.32M -> 125.90M; block at 100,000: 322.27M -> 318.34M; string
        // at 50,000, whose appends take strings: 175.68M -> 176.16M. Only
        // calls through eval_call_word try it: in the set-word path's copy
        // of this call the compiler stopped inlining the stack pushes
        // (string: 3.3M instructions more).
        Cell* base = state.stack_arguments;
        if (base->is(Type::block) && !series::is_block_like(base[1].type()) &&
            !(cache[2].header & (3u << kind_shift)) && block::append_cell_in_room(base, base + 1)) [[likely]] {
            close_native_frame();
            return Status::ok;
        }
    }
    if (fn->is(Type::native) && slot == static_cast<std::int32_t>(natives::Native::return_) && refinements == 0) {
        // PERF: straight to the unwinding, without the entry's dispatch.
        const Cell value = *state.stack_arguments;
        return stack::return_value(&value);
    }
    // The refinement positions are set up only for an entry: the paths
    // above read none.
    std::int32_t positions[1 + compiled_max_refinements];
    if (refinements > compiled_max_refinements) fire(ErrorId::internal_not_done);
    clear_positions(positions, refinements);
    KIV_PROPAGATE(run_entry(fn, positions, refinements));
    close_native_frame();
    return infix_unless(flags, pos, end, code);
}

// call_native_general out of line.
[[gnu::noinline]] Status call_native_other(const Cell* native, const Cell* word, Cell*& pos, Cell* end,
                                          const Cell* code) {
    return call_native_general(native, word, pos, end, code, flag::no_infix);
}

// The argument cache of a `return` native when it holds the library's
// spec, which is then remembered; else null. GC: may build the cache.
[[gnu::noinline]] const Cell* standard_return(const Cell* fn) {
    const Cell* cache = argument_cache(fn);
    if (cache->data2 != 0 || cache->data1 != 1 || (cache[1].header & (3u << kind_shift))) return nullptr;
    return_entry = CallEntry{fn->data3, cache};
    return cache;
}

// `return` with the library's spec called by a word with no refinements,
// while not tracing. PERF: a value of plain values and fast operators
// (which can neither raise an error nor run anything) returned to a body
// frame that the inline unwinding reaches opens no frame for the return
// (the return bench at 50,000 rounds: 88.02M instructions before, 85.60M
// after). Anything else takes
// the general call, which computes the value again.
KIV_HOT Status call_return(const Cell* native, const Cell* word, Cell*& pos, Cell* end, const Cell* code) {
    const Cell* cache = return_entry.cache;
    if (native->data3 != return_entry.more) [[unlikely]] {
        cache = standard_return(native);
        if (!cache) return call_native_other(native, word, pos, end, code);
    }
    Cell* const next = state.stack_top;
    Cell* after = pos;
    if (after < end && simple_value(after, end, flag::sub, next) == Simple::whole &&
        accepts(cache + 1, next->type_id())) [[likely]] {
        if (stack::CallFrame* target = stack::near_body_frame(state.frames_top - 1)) [[likely]] {
            pos = after;
            const Cell value = *next;
            return stack::return_to(target, &value);
        }
    }
    return call_native_other(native, word, pos, end, code);
}

// call_native_general, with `either`, `if` and `return` on their own
// paths. (With the general call out of line, the recursion point spilled
// fewer registers: fib 20 and the return bench lost 0.9% and 0.4% of their
// instructions, but every other native call paid a second prologue, 3.6%
// more for the string bench.)
template <bool frameless = false>
KIV_HOT Status call_native_plain(const Cell* native, const Cell* word, Cell*& pos, Cell* end, const Cell* code,
                                 unsigned flags) {
    if (native->is(Type::native)) {
        if (native->data1 == static_cast<std::uint32_t>(natives::Native::either)) {
            KIV_PROPAGATE(call_conditional<2>(native, word, pos, end, code));
            return infix_unless(flags, pos, end, code);
        }
        if (native->data1 == static_cast<std::uint32_t>(natives::Native::if_)) {
            KIV_PROPAGATE(call_conditional<1>(native, word, pos, end, code));
            return infix_unless(flags, pos, end, code);
        }
        if (native->data1 == static_cast<std::uint32_t>(natives::Native::return_)) {
            KIV_PROPAGATE(call_return(native, word, pos, end, code));
            return infix_unless(flags, pos, end, code);
        }
    }
    return call_native_general<frameless>(native, word, pos, end, code, flags);
}

// The refinements a path asks of a native or action whose mandatory
// arguments are fetched, in path order: as apply_refinements, with each
// evaluated argument fetched as a mandatory one is. PERF: append/part in a
// loop: see the commit.
KIV_HOT Status native_refinements(const Cell* fn, const Cell* word, const Cell* path, const Cell* cache,
                                  Cell* refs, Cell* refs_end, std::int32_t* positions, Cell*& pos, Cell* end,
                                  const Cell* code) {
    std::uint64_t used = 0;
    Cell* const base = state.stack_arguments;
    for (Cell* item = refs; item < refs_end; ++item) {
        if (!item->is(Type::word)) [[unlikely]] {
            // A get-word or anything else: the general way, from here on.
            Call c{fn, word, word, pos, end, code, path, item, refs_end, false};
            return apply_refinements(c, cache, positions, used);
        }
        const Cell* e = find_refinement(cache, item);
        if (!e) [[unlikely]] {
            Cell name = *word;
            Cell bad = *item;
            fire(ErrorId::script_no_refine, &name, &bad);
        }
        const std::uint64_t bit = std::uint64_t{1} << (e->data3 & 63);
        if (used & bit) [[unlikely]] {
            Cell p = *path;
            fire(ErrorId::script_dup_refine, &p);
        }
        used |= bit;
        positions[e->data3] = static_cast<std::int32_t>(state.stack_top - base);
        const auto count = static_cast<std::int32_t>(e->data1 & 0xFFFF);
        for (std::int32_t i = 0; i < count; ++i)
            KIV_PROPAGATE(fetch_entry(fn, word, path, refs, refs_end, e + 1 + i, !tracing(), pos, end, code));
    }
    return Status::ok;
}

// A native or action called through a path from a word holding it, while
// not tracing: as call_native_plain, without the general path walk or
// call_value's Call record set-up. The frame is named as a path call's is.
// GC: `refs` point into the path's buffer, as the general path call's do.
KIV_HOT Status native_path_call(const Cell* native, const Cell* word, const Cell* path, Cell* refs,
                                Cell* refs_end, Cell*& pos, Cell* end, const Cell* code) {
    const Cell f = *native;
    const Cell* const fn = &f;
    const Cell* cache = cached_arguments(fn);
    const auto refinements = static_cast<std::int32_t>(cache->data2);
    std::int32_t positions[1 + compiled_max_refinements];
    if (refinements > compiled_max_refinements) fire(ErrorId::internal_not_done);
    clear_positions(positions, refinements);
    open_frame(anon_symbol, state.global_context, stack::header::interpreted_native, 0);
    KIV_PROPAGATE(fetch_plain_arguments(fn, word, cache, pos, end, code));
    KIV_PROPAGATE(native_refinements(fn, word, path, cache, refs, refs_end, positions, pos, end, code));
    KIV_PROPAGATE(run_entry(fn, positions, refinements));
    // PERF: the frame has no function context to put back (alloc of
    // 100,000 rounds, append/only every tenth: 222.17M instructions
    // before, 222.14M after).
    close_native_frame();
    return Status::ok;
}

// native_path_call, as a call.
Status call_native_path(const Cell* native, const Cell* word, const Cell* path, Cell* refs,
                        Cell* refs_end, Cell*& pos, Cell* end, const Cell* code) {
    return native_path_call(native, word, path, refs, refs_end, pos, end, code);
}

// A function or routine called by a word, with no refinements, while not
// tracing.
Status call_plain(Cell* fn, const Cell* word, Cell*& pos, Cell* end, const Cell* code) {
    const Cell* cache = argument_cache(fn);
    if (fn->is(Type::function)) {
        open_frame(word->data2, word->data1, stack::header::interpreted_function, fn->data1);
        KIV_PROPAGATE(fetch_plain_arguments(fn, word, cache, pos, end, code));
        if (cache->data3 != cache->data1) push_defaults(cache);
        KIV_PROPAGATE(run_plain_body(fn, word));
        close_frame();
        return Status::ok;
    }
    Call c{fn, word, word, pos, end, code, nullptr, nullptr, nullptr, false};
    return invoke(c);
}

// A function! that changes no trace flag, called by a word with no
// refinements while not tracing. PERF: as a native's, its frame starts at
// the current top with the function copied into a local (whose node ids
// keep it alive); its more block gives both the argument cache and the body
// (a one-argument call in a loop: 413 instructions before, 386 after).
// The body of function `fn` (its argument cache `cache`, its body cell
// `body`) run in its open frame whose values start at `base`: by its native
// code when it has some, else by the interpreter; return and exit end here.
[[gnu::always_inline]] inline Status run_body(const Cell* fn, const Cell* cache, const Cell* body, Cell* base) {
    // PERF: a body of user code runs from its head as a loop's rounds do,
    // with no test for library code nor for a negative head (fib 20:
    // 32.02M instructions before, 31.99M after; the return bench at 50,000
    // rounds: 72.76M before, 72.54M after).
    Status s;
    if (cache->header & cache_flag::user_body) [[likely]] {
        const native_code::Ran ran =
            native_code::worth_running(fn->data3) ? native_code::run(fn, cache, base) : native_code::Ran::not_run;
        if (ran == native_code::Ran::not_run) s = run_block<false, true>(body, true, series::head(body));
        else s = ran == native_code::Ran::ok ? Status::ok : Status::thrown;
    } else {
        s = run_other_body(body, base);
    }
    if (s == Status::thrown) [[unlikely]] {
        const std::uint32_t thrown = state.thrown_code;
        if (thrown != throw_code::return_ && thrown != throw_code::exit) return Status::thrown;
        // return and exit end here: the thrower made this frame current
        // with the value in its result slot.
        state.thrown_code = 0;
    }
    return Status::ok;
}

KIV_HOT Status call_function_plain(const Cell* function, const Cell* word, Cell*& pos, Cell* end, const Cell* code) {
    const Cell f = *function;
    const Cell* const fn = &f;
    const Cell* cache = cached_arguments(fn);
    // PERF: a function's context is never 0, so opening and closing its
    // frame test for none (fib 20: 35.82M instructions before, 35.71M
    // after; the return bench at 50,000 rounds: 85.60M before, 85.35M
    // after).
    open_function_frame(word->data2, word->data1, f.data1);
    KIV_PROPAGATE(fetch_plain_arguments(fn, word, cache, pos, end, code));
    if (cache->data3 != cache->data1) push_defaults(cache);
    Cell* base = state.stack_arguments;
    memory::buffer_of(f.data1)->cells()->data2 = cage::offset_of(base);
    state.frames_top[-1].header |= stack::flag::body;
    // PERF: the body cell's copy just before the cache header, without the
    // more block's lookup (fib 20: 35.94M instructions before, 35.83M
    // after; the return bench at 50,000 rounds: 88.21M before, 87.97M
    // after). GC: `cache`, held across the arguments' evaluation, pins the
    // cache block.
    const Cell* body = cache - 1;
    KIV_PROPAGATE(run_body(fn, cache, body, base));
    close_function_frame();
    return Status::ok;
}

}  // namespace

Status run_function_body(const Cell* function, Cell* base) {
    const Cell f = *function;
    const Cell* cache = cached_arguments(&f);
    return run_body(&f, cache, cache - 1, base);
}

// With `frameless`, as call_native_general.
template <bool frameless = false>
KIV_HOT Status call_word(const Cell* fn, Cell*& pos, Cell* end, const Cell* code, unsigned flags) {
    Cell* const word = pos++;
    // PERF: straight to the plain call paths, without call_value's checks
    // and arguments.
    if (fn->is(Type::native) || fn->is(Type::action)) {
        // The native call applies the operators that follow itself, unless
        // it knows that none can: its last argument, evaluated, stopped at
        // no operator, and its arithmetic or append ran nothing since.
        // PERF: alloc of 100,000 rounds: 231.69M instructions before,
        // 226.82M after; the return bench at 50,000 rounds: 71.13M ->
        // 70.96M; block at 100,000: 318.34M -> 315.56M; string at 50,000:
        // 176.16M -> 174.88M.
        return call_native_plain<frameless>(fn, word, pos, end, code, flags);
    } else if (fn->is(Type::function) && !(fn->header & (function::flag::trace | function::flag::no_trace))) {
        KIV_PROPAGATE(call_function_plain(fn, word, pos, end, code));
    } else {
        Cell* slot = stack::push_copy(fn);
        KIV_PROPAGATE(call_plain(slot, word, pos, end, code));
        *slot = *(state.stack_top - 1);
        state.stack_top = slot + 1;
    }
    return infix_unless(flags, pos, end, code);
}

// PERF: only calls made here (an argument, a statement of a block) try
// the frameless arithmetic; the set-word and expression paths, which inline
// call_word too, keep a leaner general call (the string bench at 50,000
// rounds: 200.50M instructions with the attempt everywhere, 199.37M with
// it here only; fib 20: 35.70M before, 35.64M after).
Status eval_call_word(const Cell* fn, Cell*& pos, Cell* end, const Cell* code, unsigned flags) {
    return call_word<true>(fn, pos, end, code, flags);
}

Status call_value(const Cell* fn, const Cell* word, const Cell* frame_name, Cell*& pos, Cell* end,
                  const Cell* code, const Cell* path, Cell* refs, Cell* refs_end) {
    const bool plain = !tracing() && refs == refs_end && word == frame_name;
    const bool native = fn->is(Type::native) || fn->is(Type::action);
    if (plain && native) [[likely]]
        return call_native_plain(fn, word, pos, end, code, flag::no_infix);
    if (native && !tracing()) {
        // As call_native_plain: the frame at the top, the native copied.
        const Cell f = *fn;
        Call c{&f, word, frame_name, pos, end, code, path, refs, refs_end, false};
        return invoke_native(c);
    }
    // The function stays below its frame while the call runs; the result
    // takes its cell.
    Cell* slot = stack::push_copy(fn);
    if (plain) [[likely]] {
        KIV_PROPAGATE(call_plain(slot, word, pos, end, code));
    } else {
        Call c{slot, word, frame_name, pos, end, code, path, refs, refs_end, false};
        KIV_PROPAGATE(invoke(c));
    }
    *slot = *(state.stack_top - 1);
    state.stack_top = slot + 1;
    return Status::ok;
}

Status run_body(const Cell* fn, const Cell* name) {
    const NodeId ctx = fn->data1;
    Cell* base = state.stack_arguments;
    memory::buffer_of(ctx)->cells()->data2 = cage::offset_of(base);
    state.frames_top[-1].header |= stack::flag::body;
    // A body with a trace attribute switches the events for itself and puts
    // the switch back when it ends; any other body leaves the switch as its
    // code set it (`trace false` inside a traced run stays switched off).
    const bool was_tracing = state.tracing;
    const bool own_switch = fn->header & (function::flag::trace | function::flag::no_trace);
    if (fn->header & function::flag::no_trace) state.tracing = false;
    else if (fn->header & function::flag::trace) state.tracing = state.trace_run;
    if (tracing()) [[unlikely]] {
        if (fire_event(Event::prolog, nullptr, nullptr, name, fn) == Status::thrown) {
            if (own_switch) state.tracing = was_tracing;
            return Status::thrown;
        }
    }
    const Cell body = memory::buffer_of(fn->data3)->cells()[function::more::body];
    Status s = Status::ok;
    if (body.is(Type::block)) s = eval_block(&body, true);
    else none::make_at(base);
    if (s == Status::thrown) {
        const std::uint32_t code = state.thrown_code;
        if (code != throw_code::return_ && code != throw_code::exit) {
            if (own_switch) state.tracing = was_tracing;
            return Status::thrown;
        }
        // return and exit end here: the thrower made this frame current
        // with the value in its result slot.
        state.thrown_code = 0;
    }
    if (tracing()) [[unlikely]] {
        const Cell result = *state.stack_arguments;
        if (fire_event(Event::epilog, nullptr, nullptr, name, fn) == Status::thrown) {
            if (own_switch) state.tracing = was_tracing;
            return Status::thrown;
        }
        *state.stack_arguments = result;
    }
    if (own_switch) state.tracing = was_tracing;
    state.frames_top[-1].header &= ~stack::flag::body;
    state.stack_top = state.stack_arguments + 1;
    return Status::ok;
}

Status eval_paren(const Cell* paren, std::uint32_t) { return eval_block(paren, false); }

namespace {

// The loops below run their blocks leaving `near` where the round left
// it, and put the loop's own back once, when they end or before anything
// between rounds can raise an error. PERF: a while round: 2 blocks without
// their own save and restore.

// Sets a loop's word: a word of a global or function context directly.
// Anything else goes through the context unit, which may raise an error or
// run a change handler: `near` is the loop's again first.
KIV_HOT void store_word(const Cell* word, const Cell* value, const Cell& loop_near) {
    if (Cell* slot = plain_slot(word)) [[likely]] {
        *slot = *value;
        return;
    }
    state.near = loop_near;
    Cell w = *word;
    context::set(&w, value);
}

// A loop's blocks are read once before the rounds: whether they are all
// user code (not the library's own, which leaves `near` alone; a series
// never changes that) and where each starts (its head, which the loop's
// frame cell keeps, 0 when negative). PERF: a round's block skips both
// (while, 1,000,000 rounds: 267.6M instructions before, 253.6M after;
// iterate at 100,000: 148.04M -> 145.57M; start-up 17.41M -> 17.44M, its
// loops being short).
KIV_HOT bool user_block(const Cell* block) {
    return !(block::buffer(block)->flags & memory::series_flag::library_code);
}
KIV_HOT std::int32_t start_of(const Cell* block) {
    const std::int32_t index = series::head(block);
    return index < 0 ? 0 : index;
}

// A round whose body left a code pending: continue goes on, break stops
// (`*broke`), any other code passes on.
Status round_exit(bool* broke) {
    switch (stack::take_loop_exit()) {
        case stack::LoopExit::continued: return Status::ok;
        case stack::LoopExit::broke: *broke = true; return Status::ok;
        case stack::LoopExit::passes_on: break;
    }
    return Status::thrown;
}

// One round of a loop's body: the stack top goes back to the loop frame
// first; continue goes on, break stops (`*broke`), any other code passes on.
// With `user_code`, the body starts at `start` (see user_block).
template <bool user_code>
KIV_HOT Status loop_round(const Cell* body, bool* broke, std::int32_t start) {
    state.stack_top = state.stack_arguments;
    // The block's result cell is the frame's first cell already: no copy.
    // PERF: with the same in while's condition and its logic! test before
    // the general one, a while round: 306 instructions before, 295 after.
    if (run_block<true, user_code>(body, false, start) == Status::ok) [[likely]]
        return Status::ok;
    return round_exit(broke);
}

// Ends a loop's rounds: `near` is the loop's again.
KIV_HOT Status end_rounds(Status s, const Cell& loop_near) {
    state.near = loop_near;
    return s;
}

}  // namespace

namespace {

// A loop of user code runs its first rounds in the interpreter, then the
// rest in native code when its blocks allow (see native-code.h), going on
// here from where the native code returned. PERF: while, 1,000,000 rounds:
// 222 instructions a round before, 56 after; the return bench, 100,000 rounds,
// 870 -> 435 with its calls and their arguments in native code too.
template <bool user_code>
Status while_loop(Cell* f, std::int32_t cond_start, std::int32_t body_start) {
    const Cell loop_near = state.near;
    Cell* const result = state.stack_arguments;
    [[maybe_unused]] std::uint32_t rounds = 0;
    for (;;) {
        if constexpr (user_code) {
            if (++rounds == native_code::loop_rounds_first) [[unlikely]] {
                switch (native_code::run_while(f, result)) {
                    case native_code::LoopAt::ended: return end_rounds(Status::ok, loop_near);
                    case native_code::LoopAt::cond_thrown: goto cond_thrown;
                    case native_code::LoopAt::test: goto test;
                    case native_code::LoopAt::body: goto body;
                    case native_code::LoopAt::body_thrown: {
                        bool broke = false;
                        if (round_exit(&broke) == Status::thrown) return end_rounds(Status::thrown, loop_near);
                        if (broke) return end_rounds(Status::ok, loop_near);
                        continue;
                    }
                    default: break;
                }
            }
        }
        state.stack_top = result;
        if (run_block<true, user_code>(f, false, cond_start) == Status::thrown) {
        [[maybe_unused]] cond_thrown:
            state.near = loop_near;
            if (state.thrown_code != throw_code::break_ && state.thrown_code != throw_code::continue_)
                return Status::thrown;
            state.thrown_code = 0;
            fire(ErrorId::throw__while_cond);
        }
    [[maybe_unused]] test:
        // PERF: a logic! condition is read without the general test.
        bool go;
        if (result->is(Type::logic)) [[likely]] {
            go = result->data1 != 0;
        } else {
            if (result->is(Type::unset)) state.near = loop_near;
            go = natives::truthy_strict(result);
        }
        if (!go) {
            unset::make_at(result);
            return end_rounds(Status::ok, loop_near);
        }
    [[maybe_unused]] body:
        bool broke = false;
        if (loop_round<user_code>(f + 1, &broke, body_start) == Status::thrown)
            return end_rounds(Status::thrown, loop_near);
        if (broke) return end_rounds(Status::ok, loop_near);
    }
}

template <bool user_code>
Status count_loop(Cell* f, std::int32_t count, std::int32_t start) {
    const Cell loop_near = state.near;
    for (; count > 0; --count) {
        bool broke = false;
        if (loop_round<user_code>(f + 1, &broke, start) == Status::thrown)
            return end_rounds(Status::thrown, loop_near);
        if (broke) break;
    }
    return end_rounds(Status::ok, loop_near);
}

template <bool user_code>
Status foreach_block_loop(Cell* cursor, const Cell* word, const Cell* body, std::int32_t start) {
    const Cell loop_near = state.near;
    Cell* const result = state.stack_arguments;
    for (;;) {
        // PERF: the tail test is done here, in cells, without a call.
        memory::SeriesBuffer* b = block::buffer(cursor);
        const std::int64_t at = series::head(cursor);
        if (at >= static_cast<std::int64_t>(b->used_bytes() / sizeof(Cell))) break;
        const Cell value = at < 0 ? none::value : b->cells()[at];
        store_word(word, &value, loop_near);
        series::set_head(cursor, at + 1);
        bool broke = false;
        if (loop_round<user_code>(body, &broke, start) == Status::thrown)
            return end_rounds(Status::thrown, loop_near);
        if (broke) break;
        state.stack_top = result + 1;
    }
    return end_rounds(Status::ok, loop_near);
}

template <bool user_code>
Status repeat_loop(Cell* f, std::int32_t count, std::int32_t start) {
    const Cell loop_near = state.near;
    // The counter is 64-bit, so a count of 2147483647 ends without
    // overflowing it; the word still receives integer! values.
    for (std::int64_t i = 1; i <= count; ++i) {
        if constexpr (user_code) {
            if (i == native_code::loop_rounds_first) [[unlikely]] {
                native_code::LoopCounter counter{i, count};
                const native_code::LoopAt at = native_code::run_repeat(f, state.stack_arguments, &counter);
                i = counter.i;
                if (at == native_code::LoopAt::ended) break;
                if (at == native_code::LoopAt::after_body) continue;
                if (at == native_code::LoopAt::body_thrown) {
                    bool broke = false;
                    if (round_exit(&broke) == Status::thrown) return end_rounds(Status::thrown, loop_near);
                    if (broke) break;
                    continue;
                }
                // A round's start: its count is tested again (the last
                // round may have ended there).
                if (i > count) break;
            }
        }
        // PERF: the counter is written into a plain slot in place, without
        // a copy on the native stack first (return at 50,000 rounds: 68.82M
        // instructions before, 68.72M after; alloc of 100,000 rounds:
        // 240.67M -> 240.47M).
        if (Cell* slot = plain_slot(f)) [[likely]] {
            *slot = integer::make_cell(static_cast<std::int32_t>(i));
        } else {
            const Cell counter = integer::make_cell(static_cast<std::int32_t>(i));
            store_word(f, &counter, loop_near);
        }
        bool broke = false;
        if (loop_round<user_code>(f + 2, &broke, start) == Status::thrown)
            return end_rounds(Status::thrown, loop_near);
        if (broke) break;
    }
    return end_rounds(Status::ok, loop_near);
}

}  // namespace

Status while_rounds(Cell* f) {
    if (user_block(f) && user_block(f + 1)) [[likely]]
        return while_loop<true>(f, start_of(f), start_of(f + 1));
    return while_loop<false>(f, 0, 0);
}

Status count_rounds(Cell* f, std::int32_t count) {
    if (user_block(f + 1)) [[likely]]
        return count_loop<true>(f, count, start_of(f + 1));
    return count_loop<false>(f, count, 0);
}

Status foreach_block_rounds(Cell* cursor, const Cell* word, const Cell* body) {
    if (user_block(body)) [[likely]]
        return foreach_block_loop<true>(cursor, word, body, start_of(body));
    return foreach_block_loop<false>(cursor, word, body, 0);
}

Status repeat_rounds(Cell* f, std::int32_t count) {
    if (user_block(f + 2)) [[likely]]
        return repeat_loop<true>(f, count, start_of(f + 2));
    return repeat_loop<false>(f, count, 0);
}

}  // namespace internal

namespace {

// The op as the function it wraps.
Cell op_function(const Cell* op) {
    Cell fn = *op;
    fn.header = (fn.header & ~0x00FF00FFu) | static_cast<std::uint32_t>(op::source_type(op));
    return fn;
}

// The argument cache of the function an op wraps, through the table.
KIV_HOT const Cell* cached_op_arguments(const Cell* op) {
    CallEntry* set = call_set(op->data3);
    if (set[0].more == op->data3) [[likely]]
        return set[0].cache;
    if (set[1].more == op->data3) return set[1].cache;
    const Cell fn = op_function(op);
    return fill_call_entry(&fn, set);
}

// An op of Fast kind `kind` applied to the operands at `left` (its frame
// open on them, `pos` past the right one): the arithmetic, else the
// argument checks and the entry; the frame closes. `kept_op` is a copy of
// the op's value taken before the right operand ran.
[[gnu::always_inline]] inline Status apply_infix(Fast kind, const Cell* cache, Cell* left, const Cell* kept_op,
                                                 const Cell* word, Cell*& pos, Cell* end, const Cell* code) {
    if (fast_math(kind, left, left + 1)) {
        close_native_frame();
        return Status::ok;
    }
    const Cell fn = op_function(kept_op);
    Call c{&fn, word, word, pos, end, code, nullptr, nullptr, nullptr, true};
    check_left(c, cache);
    if (!accepts(cache + 2, left[1].type_id())) fire_expect_arg(c, cache + 2, left + 1);
    std::int32_t positions[1] = {0};
    KIV_PROPAGATE(run_entry(&fn, positions, 0));
    close_native_frame();
    return Status::ok;
}

// `op` is a copy the caller keeps (its node ids stay seen by the collector
// while the right operand is evaluated). PERF: the op's function value is
// made only where a message or the entry needs it (fib 20: 36.57M
// instructions before, 36.44M after; the return bench at 50,000 rounds:
// 89.69M before, 89.09M after).
Status call_infix(const Cell* op, const Cell* word, Cell*& pos, Cell* end, const Cell* code) {
    if (!tracing() && pos < end) [[likely]] {
        // The right operand: a number, or a word holding a number or
        // (looked up once) a function to call.
        const Cell* right = nullptr;
        const Cell* callee = nullptr;
        if (pos->is(Type::integer) || pos->is(Type::float_)) {
            right = pos;
        } else if (pos->is(Type::word)) {
            if (const Cell* v = word_slot_fast(pos)) {
                if (v->is(Type::integer) || v->is(Type::float_)) right = v;
                else if (is_callable_type(v->type())) callee = v;
            }
        }
        // PERF: a number on the right goes to the op's arithmetic in one
        // dispatch; one that needs evaluating finds the op's Fast kind in
        // its cache header, without the dispatch on its slot (fib 20:
        // 31.52M instructions before, 31.40M after; the return bench at
        // 50,000 rounds: 71.73M -> 71.18M; alloc of 100,000 rounds:
        // 241.23M -> 240.23M).
        if (right && op_math(op, state.stack_top - 1, right)) {
            ++pos;
            return Status::ok;
        }
        const Cell* cache = cached_op_arguments(op);
        const auto kind = static_cast<Fast>((cache->header & cache_flag::fast_mask) >> cache_flag::fast_shift);
        if (kind != Fast::none && (cache->header & cache_flag::infix_ready)) {
            // The right operand is evaluated in the operator's frame,
            // which starts at the left operand.
            --state.stack_top;
            open_frame<false>(word->data2, word->data1, stack::header::interpreted_native, 0);
            ++state.stack_top;
            Cell* left = state.stack_arguments;
            // The op's cell lies in the values of its context, which the
            // right operand's code may grow and so move: kept here.
            const Cell kept_op = *op;
            KIV_PROPAGATE(callee ? eval_call_word(callee, pos, end, code, flag::sub | flag::no_infix)
                                 : eval_expression(pos, end, code, flag::sub | flag::no_infix));
            return apply_infix(kind, cache, left, &kept_op, word, pos, end, code);
        }
    }
    const Cell fn = op_function(op);
    Call c{&fn, word, word, pos, end, code, nullptr, nullptr, nullptr, true};
    return invoke(c);
}

}  // namespace

namespace internal {

// The end of call_infix for an op whose frame is open with both operands
// in it, when native code computed the right one: the arithmetic, else
// the argument checks and the entry; the frame closes. `pos` stands past
// the right operand.
Status finish_infix(const Cell* kept_op, const Cell* word, Cell* pos, Cell* end, const Cell* code) {
    const Cell* cache = cached_op_arguments(kept_op);
    const auto kind = static_cast<Fast>((cache->header & cache_flag::fast_mask) >> cache_flag::fast_shift);
    return apply_infix(kind, cache, state.stack_arguments, kept_op, word, pos, end, code);
}

}  // namespace internal

namespace {

Status infix_loop_from(const Cell* v, Cell*& pos, Cell* end, const Cell* code) {
    for (;;) {
        Cell* word = pos++;
        // call_infix copies the op before its right operand runs (it must
        // keep doing so: the value cell may move with the global values); only
        // the fetch event, which can run code, needs it copied first.
        // PERF: fib 20: 35.17M instructions before, 35.06M after.
        Cell op;
        if (tracing()) [[unlikely]] {
            op = *v;
            v = &op;
            KIV_PROPAGATE(fire_event(Event::fetch, code, word, nullptr, word));
        }
        KIV_PROPAGATE(call_infix(v, word, pos, end, code));
        if (pos >= end || !pos->is(Type::word)) return Status::ok;
        v = word_slot_fast(pos);
        if (!v || !v->is(Type::op)) return Status::ok;
    }
}

// ---------------------------------------------------------------------------
// Expressions.

// `left`, when given, is the value's left operand, already computed from
// the code before `pos` (which stands at an operator).
// `stored`, when given, tells whether the value went straight into its
// slot with nothing run after the value was computed.
Status eval_set_word(Cell* word, Cell*& pos, Cell* end, const Cell* code, const Cell* left,
                     bool* stored = nullptr) {
    if (pos >= end) fire_with_word(ErrorId::script_need_value, word);
    // The frame, named by the set-word, holds it and then the value.
    open_frame<false>(word->data2, word->data1, stack::header::interpreted_native, 0);
    *stack::push_cell() = *word;
    if (left) {
        stack::push_copy(left);
        KIV_PROPAGATE(infix_loop(pos, end, code));
    } else {
        // PERF: a value that starts with a word holding a function goes
        // straight to the call.
        const Cell* v = !tracing() && pos->is(Type::word) ? word_slot_fast(pos) : nullptr;
        if (v && is_callable_type(v->type())) KIV_PROPAGATE(eval_call_word(v, pos, end, code, flag::sub));
        else KIV_PROPAGATE(eval_expression(pos, end, code, flag::sub));
    }
    Cell* base = state.stack_arguments;
    if (tracing()) [[unlikely]]
        KIV_PROPAGATE(fire_event(Event::set, code, nullptr, word, base + 1));
    if (base[1].is(Type::unset)) fire_with_word(ErrorId::script_need_value, word);
    if (Cell* slot = plain_slot(word)) [[likely]] {
        *slot = base[1];
        if (stored) *stored = !tracing();
    } else {
        context::set(word, base + 1);
    }
    base[0] = base[1];
    close_native_frame();
    return Status::ok;
}

// The native or action a path calls when its first element is a word
// holding one, while not tracing; null for any other path, which takes the
// general walk. The other elements are its refinements: the call checks
// them as the general walk's call does.
KIV_HOT const Cell* native_path_head(const Cell* path, Cell** first, Cell** last) {
    if (tracing()) [[unlikely]]
        return nullptr;
    memory::SeriesBuffer* b = block::buffer(path);
    const std::int32_t head = series::head(path);
    if (head < 0) [[unlikely]]
        return nullptr;
    Cell* f = b->cells() + head;
    Cell* l = b->cells_tail();
    if (f >= l || !f->is(Type::word)) [[unlikely]]
        return nullptr;
    const Cell* v = word_slot_fast(f);
    if (!v || !(v->is(Type::native) || v->is(Type::action))) return nullptr;
    *first = f;
    *last = l;
    return v;
}

// A set-word whose value starts with a call, while not tracing: `value`
// makes the call, pushing its result, and applies the operators after it.
// As eval_set_word does, in the same frame, without its general dispatch.
#ifdef __OPTIMIZE__
#define KIV_HOT_LAMBDA __attribute__((always_inline))
#else
#define KIV_HOT_LAMBDA
#endif
// The end of set_word_to, once the value is pushed in its frame.
[[gnu::always_inline]] inline Status set_word_end(Cell* word, Cell*& pos, Cell* end, const Cell* code) {
    Cell* base = state.stack_arguments;
    if (tracing()) [[unlikely]]
        KIV_PROPAGATE(fire_event(Event::set, code, nullptr, word, base + 1));
    if (base[1].is(Type::unset)) [[unlikely]]
        fire_with_word(ErrorId::script_need_value, word);
    Cell* slot = plain_slot(word);
    if (slot) [[likely]]
        *slot = base[1];
    else
        context::set(word, base + 1);
    base[0] = base[1];
    // PERF: the frame has no function context to put back (return at
    // 50,000 rounds: 69.02M instructions before, 68.82M after; alloc of
    // 100,000 rounds: 241.17M -> 240.67M).
    close_native_frame();
    // As below: the call applied the operators that follow.
    if (slot && !tracing()) [[likely]]
        return Status::ok;
    return infix_loop(pos, end, code);
}

template <class Value>
KIV_HOT Status set_word_to(Cell* word, Cell*& pos, Cell* end, const Cell* code, Value value) {
    open_frame<false>(word->data2, word->data1, stack::header::interpreted_native, 0);
    *stack::push_cell() = *word;
    KIV_PROPAGATE(value());
    return set_word_end(word, pos, end, code);
}

}  // namespace

namespace internal {

Status resume_set_word(const Cell* code_cell, Cell* first, Cell* word, Cell* pos, Cell* end, Cell* base,
                       const Cell* saved_near, bool chain, bool infix) {
    const Cell code = *code_cell;
    state.stack_top = base + 2;
    Status s = infix ? infix_loop(pos, end, &code) : Status::ok;
    if (s == Status::ok) s = set_word_end(word, pos, end, &code);
    if (s == Status::thrown) {
        if (saved_near) state.near = *saved_near;
        return s;
    }
    return resume_block(code_cell, first, pos, end, base, saved_near, chain, false);
}

}  // namespace internal

namespace {

// A set-word whose value starts with a path calling the native or action
// `fn`, while not tracing; `pos` stands at the path.
KIV_HOT Status set_word_path(Cell* word, const Cell* fn, Cell* first, Cell* last, Cell*& pos,
                              Cell* end, const Cell* code) {
    return set_word_to(word, pos, end, code, [&]() KIV_HOT_LAMBDA {
        Cell* const path = pos++;
        KIV_PROPAGATE(call_native_path(fn, first, path, first + 1, last, pos, end, code));
        return infix_loop(pos, end, code);
    });
}

Status eval_set_word_value(Cell*& pos, const Cell* v, Cell* end, const Cell* code) {
    Cell* word = pos++;
    if (v && is_callable_type(v->type())) {
        // PERF: arithmetic and comparison natives try the frameless
        // arithmetic here too; the others keep the leaner call, which
        // that attempt would cost a few instructions (block bench at
        // 100,000 rounds, `x: remainder x * 75 + 74 65537`: 106.80M
        // instructions before, 99.10M after; alloc of 100,000 rounds
        // 242.95M -> 242.60M; string at 50,000 rounds 176.12M ->
        // 176.52M; `x: add i f i` 50,000 times, whose second argument
        // is a call, 48.39M -> 50.34M).
        if (fast_kind(v->type(), v->data1) != Fast::none)
            return set_word_to(word, pos, end, code, [&]() KIV_HOT_LAMBDA { return call_word<true>(v, pos, end, code, flag::sub); });
        return set_word_to(word, pos, end, code, [&]() KIV_HOT_LAMBDA { return call_word(v, pos, end, code, flag::sub); });
    }
    if (pos < end && pos->is(Type::path) && !tracing()) {
        Cell* first;
        Cell* last;
        if (const Cell* fn = native_path_head(pos, &first, &last))
            return set_word_path(word, fn, first, last, pos, end, code);
    }
    bool stored = false;
    KIV_PROPAGATE(eval_set_word(word, pos, end, code, nullptr, &stored));
    // PERF: the value's own evaluation already applied the operators that
    // follow; only a change handler or a trace hook, run after it, could
    // have made the next word an operator.
    if (stored) return Status::ok;
    return infix_loop(pos, end, code);
}

Status eval_set_word_from(Cell* word, Cell*& pos, Cell* end, const Cell* code, const Cell* left,
                          unsigned flags) {
    bool stored = false;
    KIV_PROPAGATE(eval_set_word(word, pos, end, code, left, &stored));
    if (stored) return Status::ok;
    if (!(flags & flag::no_infix) && pos < end && pos->is(Type::word)) return infix_loop(pos, end, code);
    return Status::ok;
}

// PERF: as a set-word taking a call, in set_word_to's frame, without
// eval_set_word's general dispatch and the second stored test (the return
// bench at 50,000 rounds: 72.76M instructions before, 71.23M after; fib 20
// 32.03M -> 32.09M, while of 1,000,000 rounds 232.6M -> 230.6M, both by
// the block loop's code layout). Inline in the block loop, without a call
// level of its own: return 70.34M -> 69.02M, fib 20 31.80M -> 31.75M,
// alloc of 100,000 rounds 240.86M -> 241.17M; 31 KB more code.
KIV_HOT Status eval_set_word_partly(Cell*& pos, Cell* stop, const Cell* op, Cell* end, const Cell* code) {
    Cell* const word = pos;
    pos = stop;
    const Cell left = *state.stack_top;
    return set_word_to(word, pos, end, code, [&]() KIV_HOT_LAMBDA {
        stack::push_copy(&left);
        return infix_loop_from(op, pos, end, code);
    });
}

Status eval_set_path(Cell* path, Cell*& pos, Cell* end, const Cell* code) {
    if (pos >= end) {
        Cell p = *path;
        fire(ErrorId::script_need_value, &p);
    }
    Cell name;
    words::word(words::W::set_path, &name);
    stack::push_interpreted_native_frame(&name);
    stack::push_copy(path);
    KIV_PROPAGATE(eval_expression(pos, end, code, flag::sub));
    Cell* base = state.stack_arguments;
    if (tracing()) [[unlikely]]
        KIV_PROPAGATE(fire_event(Event::set, code, nullptr, path, base + 1));
    const Cell value = base[1];
    Cell* after = pos;
    KIV_PROPAGATE(eval_path(path, after, end, code, &value));
    base = state.stack_arguments;
    base[0] = value;
    stack::close();
    return Status::ok;
}

Status eval_word(Cell* word, Cell*& pos, Cell* end, const Cell* code, unsigned flags) {
    const Cell* v = word_slot(word);
    switch (v->type()) {
        case Type::native: case Type::action: case Type::function: case Type::routine:
            if (flags & flag::literal_functions) break;
            return call_value(v, word, word, pos, end, code, nullptr, nullptr, nullptr);
        case Type::op: fire(ErrorId::script_no_op_arg);
        case Type::unset: fire_with_word(ErrorId::script_no_value, word);
        default: break;
    }
    stack::push_copy(v);
    return Status::ok;
}

bool is_system_issue(const Cell* issue) {
    return words::is(issue, words::Sym::system) || words::is(issue, words::Sym::system_global);
}

Status eval_path_expression(Cell*& pos, Cell* end, const Cell* code) {
    Cell* const start = pos;
    Cell* first;
    Cell* last;
    const Cell* fn = native_path_head(start, &first, &last);
    if (!fn) [[unlikely]]
        return eval_expression(pos, end, code, 0);
    ++pos;
    KIV_PROPAGATE(native_path_call(fn, first, start, first + 1, last, pos, end, code));
    return infix_loop(pos, end, code);
}

Status eval_value(Cell* value, Cell*& pos, Cell* end, const Cell* code, unsigned flags) {
    switch (value->type()) {
        case Type::word: return eval_word(value, pos, end, code, flags);
        case Type::set_word: return eval_set_word(value, pos, end, code, nullptr);
        case Type::get_word: stack::push_copy(word_slot(value)); return Status::ok;
        case Type::lit_word: stack::push_copy(value)->set_type(Type::word); return Status::ok;
        case Type::paren: return eval_paren(value, body_symbol);
        case Type::path: {
            // PERF: a native or action called through refinement words
            // goes straight to the call.
            Cell* first;
            Cell* last;
            if (const Cell* fn = native_path_head(value, &first, &last))
                return call_native_path(fn, first, value, first + 1, last, pos, end, code);
            return eval_path(value, pos, end, code, nullptr);
        }
        case Type::get_path: return eval_path(value, pos, end, code, nullptr);
        case Type::lit_path: stack::push_copy(value)->set_type(Type::path); return Status::ok;
        case Type::set_path: return eval_set_path(value, pos, end, code);
        case Type::op: fire(ErrorId::internal_not_done);
        case Type::native: case Type::action: case Type::function: case Type::routine: {
            if (flags & flag::literal_functions) break;
            Cell anon;
            words::word(words::W::anon, &anon);
            return call_value(value, &anon, &anon, pos, end, code, nullptr, nullptr, nullptr);
        }
        case Type::issue:
            if (pos < end && pos->is(Type::block) && is_system_issue(value)) fire(ErrorId::internal_kiv_system);
            break;
        default: break;
    }
    stack::push_copy(value);
    return Status::ok;
}


// The whole evaluation of one expression, with its trace events.
[[gnu::noinline]] Status eval_expression_full(Cell*& pos, Cell* end, const Cell* code, unsigned flags) {
    if (tracing()) [[unlikely]]
        KIV_PROPAGATE(fire_event(Event::fetch, code, pos, nullptr, pos));
    Cell* value = pos++;
    KIV_PROPAGATE(eval_value(value, pos, end, code, flags));
    if (!(flags & flag::no_infix) && pos < end) KIV_PROPAGATE(infix_loop(pos, end, code));
    if (tracing() && !(flags & flag::sub)) [[unlikely]]
        KIV_PROPAGATE(fire_event(Event::expr, code, nullptr, nullptr, state.stack_top - 1));
    return Status::ok;
}

}  // namespace

Status eval_expression(Cell*& pos, Cell* end, const Cell* code, unsigned flags) {
    // PERF: an expression made of plain values (literals, words holding
    // them) and operators with a fast path is computed here without a
    // call; anything else goes through the whole evaluation, from where
    // this stopped.
    if (tracing()) [[unlikely]]
        return eval_expression_full(pos, end, code, flags);
    // PERF: a simple value is computed in the next stack cell itself,
    // which is always inside the stack; the push checks the room.
    Cell* const next = state.stack_top;
    Simple done;
    Cell* const start = pos;
    switch (start->type()) {
        case Type::word: {
            const Cell* v = word_slot_fast(start);
            if (!v) return eval_expression_full(pos, end, code, flags);
            if (word_values.plain[v->type_id()]) {
                *next = *v;
                ++pos;
                done = flags & flag::no_infix ? Simple::whole : simple_tail(pos, end, next);
                break;
            }
            if (!is_callable_type(v->type()) || (flags & flag::literal_functions))
                return eval_expression_full(pos, end, code, flags);
            return call_word(v, pos, end, code, flags);
        }
        case Type::set_word: {
            // A set-word whose whole value is simple needs no frame: nothing
            // can raise an error or run while it is computed and stored.
            Cell* slot = pos + 1 < end ? plain_slot(start) : nullptr;
            if (!slot) return eval_expression_full(pos, end, code, flags);
            Cell* after = pos + 1;
            done = simple_value(after, end, flag::sub, next);
            if (done == Simple::no) return eval_expression_full(pos, end, code, flags);
            pos = after;
            if (done == Simple::whole) {
                *slot = *next;
                stack::push_cell();
                if (!(flags & flag::no_infix) && pos < end && pos->is(Type::word)) return infix_loop(pos, end, code);
                return Status::ok;
            }
            const Cell left = *next;
            return eval_set_word_from(start, pos, end, code, &left, flags);
        }
        case Type::path: {
            // PERF: a native or action called through refinement words,
            // without the whole evaluation's dispatch.
            Cell* first;
            Cell* last;
            const Cell* fn = native_path_head(start, &first, &last);
            if (!fn) return eval_expression_full(pos, end, code, flags);
            ++pos;
            KIV_PROPAGATE(call_native_path(fn, first, start, first + 1, last, pos, end, code));
            if (!(flags & flag::no_infix) && pos < end) return infix_loop(pos, end, code);
            return Status::ok;
        }
        case Type::paren:
            ++pos;
            KIV_PROPAGATE(run_block(start, false));
            if (!(flags & flag::no_infix) && pos < end && pos->is(Type::word)) return infix_loop(pos, end, code);
            return Status::ok;
        default:
            if (!literals.plain[start->type_id()]) return eval_expression_full(pos, end, code, flags);
            *next = *start;
            ++pos;
            done = flags & flag::no_infix ? Simple::whole : simple_tail(pos, end, next);
            break;
    }
    stack::push_cell();
    if (done == Simple::partly) return infix_loop(pos, end, code);
    return Status::ok;
}

// ---------------------------------------------------------------------------
// Blocks.

Status eval_block(const Cell* block, bool chain) { return run_block(block, chain); }

Status eval_next_at(const Cell* code, Cell*& pos, Cell* end, bool sub) {
    Cell* const base = state.stack_top;
    if (pos >= end) unset::make_at(stack::push_cell());
    else KIV_PROPAGATE(eval_expression(pos, end, code, 0));
    if (!sub) *state.stack_arguments = *base;
    state.stack_top = base + 1;
    return Status::ok;
}

Status eval_next(Cell* block) {
    memory::SeriesBuffer* b = block::buffer(block);
    Cell* first = b->cells();
    std::int32_t index = series::head(block);
    if (index < 0) index = 0;
    Cell* pos = first + index;
    const Cell code = *block;
    KIV_PROPAGATE(eval_next_at(&code, pos, b->cells_tail(), false));
    if (pos > first + index) series::set_head(block, pos - first);
    return Status::ok;
}

// ---------------------------------------------------------------------------
// Calls from C++.

Status call_with_arguments(const Cell* function, const Cell* name, const Cell* args,
                           std::int32_t count, Cell* result) {
    Cell anon;
    if (!name) name = words::word(words::W::anon, &anon);
    Cell* slot = stack::push_copy(function);
    const Cell* fn = slot;
    if (!fn->is(Type::native) && !fn->is(Type::action) && !fn->is(Type::function) &&
        !fn->is(Type::routine)) {
        Cell bad = *fn;
        fire(ErrorId::script_invalid_arg, &bad);
    }
    const Cell* cache = argument_cache(fn);
    const bool is_function = fn->is(Type::function);
    if (is_function) stack::push_interpreted_function_frame(name, fn->data1);
    else stack::push_interpreted_native_frame(name);
    const std::int32_t wanted = is_function ? static_cast<std::int32_t>(cache->data3)
                                            : static_cast<std::int32_t>(cache->data1);
    for (std::int32_t i = 0; i < count && i < wanted; ++i) stack::push_copy(args + i);
    if (count < static_cast<std::int32_t>(cache->data1)) {
        for (std::int32_t i = count; i < static_cast<std::int32_t>(cache->data1); ++i)
            none::make_at(stack::push_cell());
    }
    if (is_function && count <= static_cast<std::int32_t>(cache->data1)) push_defaults(cache);
    else if (is_function) {
        for (std::int32_t i = count; i < wanted; ++i) none::make_at(stack::push_cell());
    }
    switch (fn->type()) {
        case Type::function:
            KIV_PROPAGATE(run_body(fn, name));
            stack::close_function();
            break;
        case Type::routine:
            routine::call(fn, state.stack_arguments, state.stack_arguments);
            stack::close();
            break;
        default: {
            std::int32_t positions[1 + compiled_max_refinements];
            const std::int32_t refinements = static_cast<std::int32_t>(cache->data2);
            if (refinements > compiled_max_refinements) fire(ErrorId::internal_not_done);
            clear_positions(positions, refinements);
            KIV_PROPAGATE(run_entry(fn, positions, refinements));
            stack::close();
            break;
        }
    }
    *result = *(state.stack_top - 1);
    state.stack_top = slot;
    return Status::ok;
}

// ---------------------------------------------------------------------------
// Hooks for the units below the interpreter.

namespace {

Status api_eval_block(Cell* block, Cell* result) {
    if (eval_block(block, false) == Status::thrown) return Status::thrown;
    *result = *(state.stack_top - 1);
    stack::drop(1);
    return Status::ok;
}

// The caller has opened the function's frame and pushed its cells: the body
// runs in that frame, which the caller closes.
Status api_call(Cell* function, const Cell* name, const Cell* args, std::int32_t count,
                Cell* result) {
    if (!function->is(Type::function) || args != state.stack_arguments)
        return call_with_arguments(function, name, args, count, result);
    const Cell fn = *function;
    KIV_PROPAGATE(run_body(&fn, name));
    *result = *state.stack_arguments;
    return Status::ok;
}

Status eval_error_spec(Cell* block) {
    KIV_PROPAGATE(eval_block(block, false));
    stack::drop(1);
    return Status::ok;
}

void call_comparator(Cell* function, Cell* a, Cell* b, Cell* result) {
    const Cell args[2] = {*a, *b};
    Cell name;
    words::word(words::W::compare_callback, &name);
    if (call_with_arguments(function, &name, args, 2, result) == Status::thrown) none::make_at(result);
}

}  // namespace

void init() {
    body_symbol = words::symbol(words::W::body_frame);
    anon_symbol = words::symbol(words::W::anon);
    none::make_at(&state.near);
    state.tracing = false;
    state.trace_run = false;
    state.trace_mask = 0;
    state.trace_extra = 0;
    none::make_at(&state.trace_callback);
    collector::register_root_cell(&state.trace_callback);
    forget_lookup_caches();
    collector::register_hook(forget_lookup_caches);
    native_code::init();
    eval::install(eval::Entries{api_eval_block, api_call});
    error::set_spec_evaluator(eval_error_spec);
    block::call_comparator_hook = call_comparator;
    init_tracing();
}

}  // namespace kiv::interpreter
