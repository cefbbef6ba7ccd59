// The datatype registry: one type entry and one row of action functions per
// datatype id. Every datatype unit registers itself once at start-up, parents
// before children; a slot that a child marks `inherit` takes the parent's
// function as it stands at that moment (a later change to the parent's row
// does not reach the child). A missing function means the datatype does not
// support the action: looking it up raises the "does not allow" script error.
//
// Dispatch is two loads and an indirect call: `registry::find<Action::form>`
// gives the typed function of a value's datatype for one slot.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/action-list.h"

namespace kiv {

// The comparison op codes passed to every datatype's compare action.
enum class CompareOp : int {
    equal = 0,
    not_equal = 1,
    strict_equal = 2,
    lesser = 3,
    lesser_or_equal = 4,
    greater = 5,
    greater_or_equal = 6,
    sort = 7,       // sort order without regard to case
    sort_case = 8,  // sort order with case
    same = 9,
    strict_word = 10,  // strict, but word! and lit-word! (path! and lit-path!) are one type
    equal_word = 11,   // case-blind, with the same pairing of types
    find = 12,         // the equality of find and select without /case
};

// A compare action answers 0 (equal), a negative or a positive number, or
// this when the two values cannot be compared under the op.
constexpr int not_comparable = -2;

// Whether an op code asks for an ordering (3-8) rather than an equality.
constexpr bool is_ordering(CompareOp op) {
    return op >= CompareOp::lesser && op <= CompareOp::sort_case;
}

enum class Action : std::uint8_t {
#define KIV_ACTION_ENUM(slot, ident, name, arg, ret, params) ident = slot,
    KIV_ACTION_LIST(KIV_ACTION_ENUM)
#undef KIV_ACTION_ENUM
};

#define KIV_ACTION_COUNT(slot, ident, name, arg, ret, params) +1
constexpr int action_count = 0 KIV_ACTION_LIST(KIV_ACTION_COUNT);
#undef KIV_ACTION_COUNT
static_assert(action_count == 62, "every datatype row has 62 action slots");

// Typed function pointers, one per slot: action_fn::form and so on.
namespace action_fn {
#define KIV_ACTION_FN_TYPE(slot, ident, name, arg, ret, params) using ident = ret(*) params;
KIV_ACTION_LIST(KIV_ACTION_FN_TYPE)
#undef KIV_ACTION_FN_TYPE
}  // namespace action_fn

// The -1 of a registration: take the parent's function for this slot.
struct Inherit {};
inline constexpr Inherit inherit{};

// One slot of a registration row: a function, `inherit`, or (omitted) none.
template <class Fn>
struct ActionSlot {
    Fn fn = nullptr;
    bool inherits = false;
    constexpr ActionSlot() = default;
    constexpr ActionSlot(Fn f) : fn(f) {}
    constexpr ActionSlot(Inherit) : inherits(true) {}
};

// What a datatype unit registers. Name the slots with designated
// initializers in slot order; an omitted slot is unsupported:
//     constexpr ActionRow row{.make = make, .form = form, .compare = inherit};
struct ActionRow {
#define KIV_ACTION_ROW_SLOT(slot, ident, name, arg, ret, params) ActionSlot<action_fn::ident> ident{};
    KIV_ACTION_LIST(KIV_ACTION_ROW_SLOT)
#undef KIV_ACTION_ROW_SLOT
};
static_assert(sizeof(ActionRow) == action_count * sizeof(ActionSlot<void (*)()>),
              "a registration row holds exactly one slot per action");

// A registered datatype's resolved functions (nullptr: unsupported).
struct ActionFns {
#define KIV_ACTION_FNS_SLOT(slot, ident, name, arg, ret, params) action_fn::ident ident;
    KIV_ACTION_LIST(KIV_ACTION_FNS_SLOT)
#undef KIV_ACTION_FNS_SLOT
};

namespace registry {

// Ids 0-56: the datatypes, and internal kinds above them (0 is no datatype).
constexpr int table_size = 57;

// No parent in a registration.
constexpr Type no_parent = Type{0};

struct TypeEntry {
    const char* name = nullptr;  // with the trailing "!"
    int length = 0;              // of the name without the "!"
    std::uint32_t symbol = 0;    // symbol of the name, 0 until the words are built
    Type parent = no_parent;
    bool registered = false;
};

// Empties the registry. Start-up calls it before the first registration.
void init();

// Registers one datatype. The parent must be registered already; an
// `inherit` slot without a parent, or over a parent's empty slot, stays
// unsupported. When the words already exist (a registration after start-up)
// the name's symbol is made at once.
void register_type(Type id, Type parent, const char* name, const ActionRow& row);

// For every datatype, registered or not, interns its name and makes its
// global word.
// Start-up calls it once the symbol table and the global context exist.
void build_words();

// The highest registered id.
int top_id();

const TypeEntry& entry(Type id);
inline const TypeEntry& entry(std::uint32_t id) { return entry(static_cast<Type>(id)); }
const ActionFns& row(Type id);

// The language name of an action ("append"), and its first argument's name.
const char* action_name(Action action);
const char* action_first_arg(Action action);

// Whether a datatype's row holds a function in a slot.
bool supports(Type id, Action action);

// Raises script expect-arg naming the action, the value's datatype and the
// action's first argument. Never returns.
[[noreturn, gnu::cold, gnu::noinline]] void fire_unsupported(Action action, const Cell* value);

// As fire_unsupported, naming datatype `id`: make and to dispatch on the
// datatype a prototype names, not on the prototype's own.
[[noreturn, gnu::cold, gnu::noinline]] void fire_unsupported_type(Action action, Type id);

// Raises script bad-to-arg: `spec` cannot make or convert to a value of
// datatype `id`. Never returns.
[[noreturn, gnu::cold, gnu::noinline]] void fire_bad_to(Type id, const Cell* spec);

// Makes `out` a datatype! value naming `id`.
inline Cell* make_datatype(Cell* out, Type id) {
    *out = Cell{static_cast<std::uint32_t>(Type::datatype), static_cast<std::uint32_t>(id), 0, 0};
    return out;
}

namespace detail {
extern ActionFns table[table_size];
// The same functions by slot, then by datatype id, untyped: the dispatch of
// one action reads one word at the datatype's index, with no multiply by
// the row's size.
using AnyFn = void (*)();
extern AnyFn by_action[action_count + 1][table_size];
template <Action A>
struct Member;
#define KIV_ACTION_MEMBER(slot, ident, name, arg, ret, params)                    \
    template <>                                                                   \
    struct Member<Action::ident> {                                                \
        using Fn = action_fn::ident;                                              \
        static constexpr Fn ActionFns::*slot_of = &ActionFns::ident;              \
    };
KIV_ACTION_LIST(KIV_ACTION_MEMBER)
#undef KIV_ACTION_MEMBER
}  // namespace detail

// The function of `type` for action A, or nullptr.
template <Action A>
inline typename detail::Member<A>::Fn lookup(Type type) {
    return reinterpret_cast<typename detail::Member<A>::Fn>(
        detail::by_action[static_cast<int>(A)][static_cast<std::uint8_t>(type)]);
}

// The function of the value's datatype for action A; raises the
// "does not allow" error when the datatype does not support it.
template <Action A>
inline typename detail::Member<A>::Fn find(const Cell* value) {
    auto fn = lookup<A>(value->type());
    if (!fn) fire_unsupported(A, value);
    return fn;
}

}  // namespace registry
}  // namespace kiv
