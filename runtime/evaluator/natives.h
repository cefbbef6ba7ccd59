// The natives: the built-in functions that are neither actions nor library
// functions. A native! value names a slot of the natives table; the table
// holds one C++ entry per slot.
//
// Calling convention: an entry takes no argument values. Its arguments are
// the cells of the current frame, from `state.stack_arguments` on, in spec
// order; refinement arguments follow, each where its position says. `args`
// holds the check flag in args[0] (0 from the interpreter, which has checked
// every argument against the spec; 1 from C++ callers, which asks the entry
// to check them) and, from args[1], one position per refinement in spec
// order: -1 when the refinement is not used, else the cell index from the
// frame base of the refinement's first argument. The result goes into the
// frame's first cell.
//
// An entry answers Status::thrown when a break, continue, return, exit or
// throw code is pending (the stacks then stand as the thrower set them); an
// error leaves it as a C++ exception.
//
// GC: entries run any code.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/state.h"
#include "runtime/throw.h"

// ORDER NATIVES: the slot numbers are stored in native! values and in the
// boot image; never reorder. X(slot, identifier, name, built): `built` is 0
// for a slot whose native is not written yet (calling it fires internal
// not-done); its issue turns it to 1 and defines the entry.
#define KIV_NATIVE_LIST(X)                                                                    \
    X(1, if_, "if", 1) X(2, unless, "unless", 1) X(3, either, "either", 1)                    \
    X(4, any, "any", 1) X(5, all, "all", 1) X(6, while_, "while", 1)                          \
    X(7, until, "until", 1) X(8, loop, "loop", 1) X(9, repeat, "repeat", 1)                   \
    X(10, forever, "forever", 1) X(11, foreach, "foreach", 1) X(12, forall, "forall", 1)      \
    X(13, remove_each, "remove-each", 1) X(14, func, "func", 1)                               \
    X(15, function, "function", 1) X(16, does, "does", 1) X(17, has, "has", 1)                \
    X(18, switch_, "switch", 1) X(19, case_, "case", 1) X(20, do_, "do", 1)                   \
    X(21, get, "get", 1) X(22, set, "set", 1) X(23, print, "print", 1)                        \
    X(24, prin, "prin", 1) X(25, equal_q, "equal?", 1) X(26, not_equal_q, "not-equal?", 1)    \
    X(27, strict_equal_q, "strict-equal?", 1) X(28, lesser_q, "lesser?", 1)                   \
    X(29, greater_q, "greater?", 1) X(30, lesser_or_equal_q, "lesser-or-equal?", 1)           \
    X(31, greater_or_equal_q, "greater-or-equal?", 1) X(32, same_q, "same?", 1)               \
    X(33, not_, "not", 1) X(34, type_q, "type?", 1) X(35, reduce, "reduce", 1)                \
    X(36, compose, "compose", 1) X(37, stats, "stats", 1) X(38, bind, "bind", 1)              \
    X(39, in, "in", 1) X(40, parse, "parse", 1) X(41, union_, "union", 1)                     \
    X(42, intersect, "intersect", 1) X(43, unique, "unique", 1)                               \
    X(44, difference, "difference", 1) X(45, exclude, "exclude", 1)                           \
    X(46, complement_q, "complement?", 1) X(47, dehex, "dehex", 1) X(48, enhex, "enhex", 1)   \
    X(49, negative_q, "negative?", 1) X(50, positive_q, "positive?", 1) X(51, max, "max", 1)  \
    X(52, min, "min", 1) X(53, shift, "shift", 1) X(54, to_hex, "to-hex", 1)                  \
    X(55, sine, "sine", 1) X(56, cosine, "cosine", 1) X(57, tangent, "tangent", 1)            \
    X(58, arcsine, "arcsine", 1) X(59, arccosine, "arccosine", 1)                             \
    X(60, arctangent, "arctangent", 1) X(61, arctangent2, "arctangent2", 1)                   \
    X(62, nan_q, "NaN?", 1) X(63, log_2, "log-2", 1) X(64, log_10, "log-10", 1)               \
    X(65, log_e, "log-e", 1) X(66, exp, "exp", 1) X(67, square_root, "square-root", 1)        \
    X(68, construct, "construct", 1) X(69, value_q, "value?", 1) X(70, try_, "try", 1)        \
    X(71, uppercase, "uppercase", 1) X(72, lowercase, "lowercase", 1)                         \
    X(73, as_pair, "as-pair", 1) X(74, as_point2d, "as-point2D", 1)                           \
    X(75, as_point3d, "as-point3D", 1) X(76, as_money, "as-money", 1)                         \
    X(77, break_, "break", 1) X(78, continue_, "continue", 1) X(79, exit, "exit", 1)          \
    X(80, return_, "return", 1) X(81, throw_, "throw", 1) X(82, catch_, "catch", 1)           \
    X(83, extend, "extend", 1) X(84, debase, "debase", 1)                                     \
    X(85, to_local_file, "to-local-file", 1) X(86, wait, "wait", 1)                           \
    X(87, checksum, "checksum", 1) X(88, unset, "unset", 1) X(89, new_line, "new-line", 1)    \
    X(90, new_line_q, "new-line?", 1) X(91, enbase, "enbase", 1)                              \
    X(92, context_q, "context?", 1) X(93, set_env, "set-env", 1)                              \
    X(94, get_env, "get-env", 1) X(95, list_env, "list-env", 1) X(96, now, "now", 1)          \
    X(97, sign_q, "sign?", 1) X(98, as, "as", 1) X(99, call, "call", 1)                       \
    X(100, zero_q, "zero?", 1) X(101, size_q, "size?", 1) X(102, browse, "browse", 1)         \
    X(103, compress, "compress", 1) X(104, decompress, "decompress", 1)                       \
    X(105, recycle, "recycle", 1) X(106, transcode, "transcode", 1) X(107, apply, "apply", 1)

namespace kiv::natives {

// The entry of a native or an action (see the calling convention above;
// an action's `args` hold the refinement positions alone, from args[0]).
using Entry = Status (*)(const std::int32_t* args, std::int32_t count);

enum class Native : std::uint8_t {
#define KIV_NATIVE_ENUM(slot, ident, name, built) ident = slot,
    KIV_NATIVE_LIST(KIV_NATIVE_ENUM)
#undef KIV_NATIVE_ENUM
};

#define KIV_NATIVE_COUNT(slot, ident, name, built) +1
constexpr std::int32_t count = 0 KIV_NATIVE_LIST(KIV_NATIVE_COUNT);
#undef KIV_NATIVE_COUNT
static_assert(count == 107, "the natives table holds 107 natives");
constexpr std::int32_t capacity = 120;

// The entries, one per slot: `natives::entries::if_` and so on.
namespace entries {
#define KIV_NATIVE_DECLARE(slot, ident, name, built) \
    Status ident(const std::int32_t* args, std::int32_t count);
KIV_NATIVE_LIST(KIV_NATIVE_DECLARE)
#undef KIV_NATIVE_DECLARE
}  // namespace entries

// Fills the table with the entries in slot order and makes the print
// scratch block. Start-up calls it once, after the fixed words.
void init();

namespace detail {
extern const Entry* table;  // null until init
}
// The entry of a 1-based slot, or null outside the table.
inline Entry entry(std::int32_t slot) {
    if (slot < 1 || slot > count || !detail::table) [[unlikely]]
        return nullptr;
    return detail::table[slot - 1];
}
// The language name of a slot ("if").
const char* name(std::int32_t slot);

// ---------------------------------------------------------------------------
// What the entries share.

// The frame's cell i (0: the first argument, also the result slot).
inline Cell* arg(std::int32_t i) { return state.stack_arguments + i; }
// Refinement k's first argument cell (k from 1 in spec order), or null when
// the refinement is not used.
inline Cell* ref_arg(const std::int32_t* args, std::int32_t k) {
    return args[k] < 0 ? nullptr : state.stack_arguments + args[k];
}
inline bool ref_used(const std::int32_t* args, std::int32_t k) { return args[k] >= 0; }

// The lenient truth test: none! and false are false, everything else
// (unset! included) is true.
inline bool truthy(const Cell* value) {
    return !(value->is(Type::none) || (value->is(Type::logic) && value->data1 == 0));
}
// The strict test: an unset! value fires script no-return.
[[noreturn, gnu::cold]] void fire_no_return();
inline bool truthy_strict(const Cell* value) {
    if (value->is(Type::unset)) [[unlikely]]
        fire_no_return();
    return truthy(value);
}

// Whether the last print ended its output with a newline (`print`), or
// not (`prin`).
extern bool last_lf;

// When `check` is set, checks the frame's arguments against the spec of
// the native or action at `slot` (as the interpreter does when it fetches
// them); a mismatch fires script expect-arg.
void check_arguments(bool native, std::int32_t slot, const std::int32_t* args);
// The interpreter records each native and action value it first calls,
// for check_arguments.
void remember_spec(bool native, std::int32_t slot, const Cell* value);
// Remembers every native and action of the global context: the library's
// own, made before any user code runs.
void remember_library_specs();
// Fires script bad-func-def (with the spec) when a native or action made
// from another spec than the library's for its slot would read its frame
// otherwise: other argument or refinement counts, or an argument accepting
// a datatype the library's refuses. `cache` is the block of the value's
// argument cache.
void check_spec(const Cell* value, const Cell* cache);

// The shared steps of the loops, also used by `set` and map!.
// Sets `count` words of the block `words` from `values`: element-wise when
// values is a block-like series or map! (and not `only`), else each word
// gets `values` itself. Element-wise, word i must be a word of any kind
// (script invalid-arg) and, unless `any`, value i set (script need-value);
// with `some` a none value leaves its word alone.
void assign_words(Cell* words, Cell* values, std::int32_t count, bool any, bool only, bool some);

// Reduces a block into `out` (a block, appended at its tail or inserted at
// its index), each value without its new-line marker. A function value
// among the results is kept as a value.
Status reduce_into(Cell* block, Cell* out);

}  // namespace kiv::natives
