// The datatype registry: type entries and the resolved action rows. Rows are
// filled once at registration and only read afterwards; nothing here
// allocates except the words made by build_words and the error path.
#include "runtime/datatypes/registry.h"

#include <cstring>
#include <iterator>

#include "runtime/datatypes/word.h"
#include "runtime/fire.h"

namespace kiv::registry {

namespace detail {
ActionFns table[table_size];
AnyFn by_action[action_count + 1][table_size];
}  // namespace detail

namespace {

TypeEntry entries[table_size];
int highest_id = 0;
bool words_built = false;

struct ActionNames {
    const char* name;
    const char* first_arg;
};

constexpr ActionNames action_names[action_count + 1] = {
    {nullptr, nullptr},
#define KIV_ACTION_NAME(slot, ident, name, arg, ret, params) {name, arg},
    KIV_ACTION_LIST(KIV_ACTION_NAME)
#undef KIV_ACTION_NAME
};

// One slot: the registered function, the parent's for `inherit`, or none.
template <class Fn>
Fn resolve(const ActionSlot<Fn>& slot, Fn parent_fn) {
    return slot.inherits ? parent_fn : slot.fn;
}

void make_name_word(TypeEntry& e) {
    Cell word;
    word::load(e.name, &word);
    e.symbol = word.data2;
}

// Every datatype of the language has its name from the start, registered
// or not, so that a datatype! value whose unit is not built yet still molds,
// forms and converts to a word.
constexpr const char* type_names[] = {
#define KIV_TYPE_NAME(id, ident, name) name,
    KIV_TYPE_LIST(KIV_TYPE_NAME)
#undef KIV_TYPE_NAME
};

void set_name(TypeEntry& e, const char* name) {
    e.name = name;
    e.length = static_cast<int>(std::strlen(name)) - 1;
}

}  // namespace

void init() {
    for (auto& e : entries) e = TypeEntry{};
    for (std::size_t id = 1; id <= std::size(type_names); ++id) set_name(entries[id], type_names[id - 1]);
    for (auto& r : detail::table) r = ActionFns{};
    for (auto& slots : detail::by_action)
        for (auto& fn : slots) fn = nullptr;
    highest_id = 0;
    words_built = false;
}

void register_type(Type id, Type parent, const char* name, const ActionRow& row) {
    const int n = static_cast<int>(id);
    if (n > highest_id) highest_id = n;
    TypeEntry& e = entries[n];
    set_name(e, name);
    e.parent = parent;
    e.registered = true;
    // An unregistered or absent parent has an empty row, so `inherit` then
    // resolves to unsupported.
    const ActionFns& up = detail::table[static_cast<int>(parent)];
    ActionFns& fns = detail::table[n];
#define KIV_ACTION_RESOLVE(slot, ident, name, arg, ret, params) fns.ident = resolve(row.ident, up.ident);
    KIV_ACTION_LIST(KIV_ACTION_RESOLVE)
#undef KIV_ACTION_RESOLVE
#define KIV_ACTION_BY_SLOT(slot, ident, name, arg, ret, params) \
    detail::by_action[slot][n] = reinterpret_cast<detail::AnyFn>(fns.ident);
    KIV_ACTION_LIST(KIV_ACTION_BY_SLOT)
#undef KIV_ACTION_BY_SLOT
    if (words_built) make_name_word(e);
}

void build_words() {
    for (auto& e : entries) {
        if (e.name) make_name_word(e);
    }
    words_built = true;
}

int top_id() { return highest_id; }

const TypeEntry& entry(Type id) { return entries[static_cast<std::uint8_t>(id)]; }

const ActionFns& row(Type id) { return detail::table[static_cast<std::uint8_t>(id)]; }

const char* action_name(Action action) { return action_names[static_cast<int>(action)].name; }

const char* action_first_arg(Action action) {
    return action_names[static_cast<int>(action)].first_arg;
}

bool supports(Type id, Action action) {
    const ActionFns& fns = row(id);
    switch (action) {
#define KIV_ACTION_SUPPORTS(slot, ident, name, arg, ret, params) \
    case Action::ident: return fns.ident != nullptr;
        KIV_ACTION_LIST(KIV_ACTION_SUPPORTS)
#undef KIV_ACTION_SUPPORTS
    }
    return false;
}

void fire_unsupported(Action action, const Cell* value) { fire_unsupported_type(action, value->type()); }

void fire_unsupported_type(Action action, Type id) {
    // GC: the three argument cells live on this frame, where the stack scan
    // sees the nodes they name.
    Cell action_word;
    Cell type;
    Cell arg_word;
    word::load(action_name(action), &action_word);
    make_datatype(&type, id);
    word::load(action_first_arg(action), &arg_word);
    fire(ErrorId::script_expect_arg, &action_word, &type, &arg_word);
}

void fire_bad_to(Type id, const Cell* spec) {
    Cell type;
    make_datatype(&type, id);
    fire(ErrorId::script_bad_to_arg, &type, spec);
}

}  // namespace kiv::registry
