// port!: making from a spec, the actor calls, the forwarding actions in
// action order, read and write, then the registration.
#include "runtime/datatypes/port.h"

#include <vector>

#include "runtime/cycles.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/eval-api.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/state.h"

namespace kiv::port {

namespace {

// The position of `actor` in a scheme object (system/standard/scheme).
constexpr std::int32_t scheme_actor = 3;

// The native action tables that handles stand for: a handle of class null
// whose value is a table's position plus 1. The tables are static, so the
// handles need no slot in the external handle registry and stay valid
// wherever they are copied.
std::vector<const ActionFns*> native_tables;

// ---------------------------------------------------------------------------
// Helpers.

// The value of a field of the object, by name; none when the value is no
// object or has no such field.
Cell field_of(const Cell& object, const char* name) {
    Cell word;
    word::load(name, &word);
    if (!object.is(Type::object)) return none::value;
    return *object::ks_select(&object, &word);
}

// system/first, or system/first/second; each step an object's field.
Cell system_field(const char* first, const char* second = nullptr) {
    Cell word;
    word::load("system", &word);
    const Cell value = field_of(*word::get_any(&word), first);
    return second ? field_of(value, second) : value;
}

// The cell of a port's field, or null when the context has no such field.
Cell* field_cell(const Cell* port, std::int32_t index) {
    const NodeId ctx = object::context_of(port);
    if (index >= context::word_count(ctx)) return nullptr;
    return object::field_value(ctx, index);
}

// The native table behind a handle, or null for any other handle.
const ActionFns* native_table(const Cell* actor) {
    if (handle::class_of(actor) != static_cast<std::int32_t>(handle::Class::null)) return nullptr;
    const std::uint32_t position = handle::value_of(actor);
    return position >= 1 && position <= native_tables.size() ? native_tables[position - 1] : nullptr;
}

// The native function for action A when the port's actor is a handle!;
// null when it is not. A handle without that function fires access
// no-port-action.
template <Action A>
typename registry::detail::Member<A>::Fn native_fn(const Cell* port) {
    const Cell* actor = field_cell(port, field::actor);
    if (!actor || !actor->is(Type::handle)) [[likely]]
        return nullptr;
    const ActionFns* table = native_table(actor);
    const auto fn = table ? table->*registry::detail::Member<A>::slot_of : nullptr;
    if (!fn) fire(ErrorId::access_no_port_action);
    return fn;
}

// The values an object actor's function receives, port first.
struct Pass {
    Cell cells[16];
    std::int32_t count = 0;

    explicit Pass(const Cell* port) { add(port); }
    Pass& add(const Cell* value) {
        cells[count++] = *value;
        return *this;
    }
    Pass& flag(bool on) {
        logic::make_at(&cells[count++], on);
        return *this;
    }
    // A refinement with an argument: its flag, then the argument or none.
    Pass& refined(const Cell* value) {
        flag(value != nullptr);
        if (value) return add(value);
        none::make_at(&cells[count++]);
        return *this;
    }
    // The same for a count the dispatcher passes as an integer.
    Pass& counted(bool on, std::int32_t n) {
        flag(on);
        if (on) series::make_integer(&cells[count++], n);
        else none::make_at(&cells[count++]);
        return *this;
    }
};

// Calls the actor's function for the action in a function frame named by
// the action's word: the passed values fill its arguments (none for any it
// has beyond them, those it lacks dropped), then its /local slots take
// their defaults. The result goes to `out`; after a break, return or throw
// that leaves the function, `out` is untouched and the code stays pending.
Cell* call_actor(const Cell* actor, Action action, const Pass& pass, Cell* out) {
    Cell name;
    word::load(registry::action_name(action), &name);
    const std::int32_t index = object::find_field(actor, &name);
    const Cell* found = index < 0 ? nullptr : object::field_value(object::context_of(actor), index);
    if (!found || !found->is(Type::function)) {
        // Raised from a frame of the action's name, as from the call.
        stack::push_native_frame(&name);
        fire(ErrorId::access_no_port_action, &name);
    }
    Cell function = *found;
    const std::int32_t slots = context::word_count(function.data1);
    const std::int32_t locals = function::count_locals(function.data2, 0, false);
    const std::int32_t fixed = slots - locals;
    stack::push_function_frame(&name, function.data1);
    for (std::int32_t i = 0; i < fixed; ++i) stack::push_copy(i < pass.count ? &pass.cells[i] : &none::value);
    if (locals > 0) stack::push_copy(&logic::false_value);
    for (std::int32_t i = 1; i < locals; ++i) stack::push_copy(&none::value);
    Cell result;
    if (eval::call_function(&function, &name, state.stack_arguments, slots, &result) == Status::thrown)
        return out;
    stack::pop_frame();
    *out = result;
    return out;
}

// Forwards an action to the port's object actor; the result replaces the
// port in its cell.
Cell* forward(Cell* port, Action action, const Pass& pass) {
    const Cell actor = get_actor(port);
    return call_actor(&actor, action, pass, port);
}

Cell* forward_port(Cell* port, Action action) { return forward(port, action, Pass(port)); }

// An action whose only argument is the port itself: the native table's
// function, or the object actor's with the port alone.
template <Action A>
Cell* alone(Cell* port) {
    if (auto fn = native_fn<A>(port)) return fn(port);
    return forward_port(port, A);
}

// ---------------------------------------------------------------------------
// Actions.

Cell* make(Cell* proto, Cell* spec, Type) { return make_from_spec(spec, proto); }

// "make port! [" and the fields one level deeper; the header and, for a
// nested port, the indentation before "]" are written in every mode.
int mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* part_arg, int part,
         int indent) {
    if (const char* marker = cycles::detect(value, true, &part)) {
        string::append_literal(buffer, marker);
        return part;
    }
    const NodeId ctx = object::context_of(value);
    cycles::Guard guard;
    cycles::push(ctx);
    string::append_literal(buffer, "make port! [");
    part = object::mold_body(ctx, buffer, only, all, flat, part_arg, part - 12, indent);
    const std::int32_t before = string::ks_abs_length(buffer);
    for (int i = 0; i < indent; ++i) string::append_literal(buffer, "    ");
    string::append_literal(buffer, "]");
    return part - (string::ks_abs_length(buffer) - before);
}

int form(Cell* value, Cell* buffer, Cell* part_arg, int part) {
    return mold(value, buffer, false, false, false, part_arg, part, 0);
}

// append and insert: the dispatcher's count becomes the /part flag and
// length, a /dup count above 1 the /dup flag and count.
Cell* insert(Cell* series, Cell* value, int part, bool only, int dup, bool append) {
    if (append) {
        if (auto fn = native_fn<Action::append>(series)) return fn(series, value, part, only, dup, append);
    } else if (auto fn = native_fn<Action::insert>(series)) {
        return fn(series, value, part, only, dup, append);
    }
    Pass pass(series);
    pass.add(value).counted(part >= 0, part).flag(only).counted(dup > 1, dup);
    return forward(series, append ? Action::append : Action::insert, pass);
}

Cell* at(Cell* series, Cell* index) {
    if (auto fn = native_fn<Action::at>(series)) return fn(series, index);
    return forward(series, Action::at, Pass(series).add(index));
}

Cell* change(Cell* series, Cell* value, int part, bool only, int dup) {
    if (auto fn = native_fn<Action::change>(series)) return fn(series, value, part, only, dup);
    Pass pass(series);
    pass.add(value).counted(part >= 0, part).flag(only).counted(dup > 1, dup);
    return forward(series, Action::change, pass);
}

// The actor's result goes to `result`.
Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    if (auto fn = native_fn<Action::copy>(value)) return fn(value, result, part, deep, types);
    Pass pass(value);
    pass.refined(part).flag(deep).refined(types);
    const Cell actor = get_actor(value);
    return call_actor(&actor, Action::copy, pass, result);
}

Cell* find(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
           Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match) {
    if (auto fn = native_fn<Action::find>(series))
        return fn(series, value, part, only, case_, same, any, with, skip, last, reverse, tail, match);
    Pass pass(series);
    pass.add(value).refined(part).flag(only).flag(case_).flag(same).flag(any).refined(with);
    pass.refined(skip).flag(last).flag(reverse).flag(tail).flag(match);
    return forward(series, Action::find, pass);
}

// The actor must answer an integer! (or none, which gives none).
int length_q(Cell* series) {
    if (auto fn = native_fn<Action::length_q>(series)) return fn(series);
    Cell port = *series;
    forward_port(&port, Action::length_q);
    if (state.thrown_code) return 0;
    if (port.is(Type::none)) return -1;
    if (!port.is(Type::integer)) {
        Cell wanted, got;
        registry::make_datatype(&wanted, Type::integer);
        registry::make_datatype(&got, port.type());
        fire(ErrorId::script_expect_val, &wanted, &got);
    }
    return series::int_of(&port);
}

Cell* move(Cell* origin, Cell* target, Cell* part) {
    if (auto fn = native_fn<Action::move>(origin)) return fn(origin, target, part);
    return forward(origin, Action::move, Pass(origin).add(target).refined(part));
}

Cell* pick(Cell* series, int index, Cell* index_arg) {
    if (auto fn = native_fn<Action::pick>(series)) return fn(series, index, index_arg);
    return forward(series, Action::pick, Pass(series).add(index_arg));
}

Cell* poke(Cell* series, int index, Cell* value, Cell* index_arg) {
    if (auto fn = native_fn<Action::poke>(series)) return fn(series, index, value, index_arg);
    return forward(series, Action::poke, Pass(series).add(index_arg).add(value));
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    if (auto fn = native_fn<Action::put>(series)) return fn(series, key, value, case_);
    return forward(series, Action::put, Pass(series).add(key).add(value).flag(case_));
}

// remove/key is not passed on.
Cell* remove(Cell* series, Cell* part, Cell* key) {
    if (auto fn = native_fn<Action::remove>(series)) return fn(series, part, key);
    return forward(series, Action::remove, Pass(series).refined(part));
}

// reverse/skip is not passed on.
Cell* reverse(Cell* series, Cell* part, Cell* skip) {
    if (auto fn = native_fn<Action::reverse>(series)) return fn(series, part, skip);
    return forward(series, Action::reverse, Pass(series).refined(part));
}

Cell* select(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
             Cell* with, Cell* skip, bool last, bool reverse) {
    if (auto fn = native_fn<Action::select>(series))
        return fn(series, value, part, only, case_, same, any, with, skip, last, reverse);
    Pass pass(series);
    pass.add(value).refined(part).flag(only).flag(case_).flag(same).flag(any).refined(with);
    pass.refined(skip).flag(last).flag(reverse);
    return forward(series, Action::select, pass);
}

Cell* sort(Cell* series, bool case_, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
           bool stable) {
    if (auto fn = native_fn<Action::sort>(series))
        return fn(series, case_, skip, comparator, part, all, reverse, stable);
    Pass pass(series);
    pass.flag(case_).refined(skip).refined(comparator).refined(part).flag(all).flag(reverse).flag(stable);
    return forward(series, Action::sort, pass);
}

Cell* skip(Cell* series, Cell* offset) {
    if (auto fn = native_fn<Action::skip>(series)) return fn(series, offset);
    return forward(series, Action::skip, Pass(series).add(offset));
}

Cell* swap(Cell* series1, Cell* series2) {
    if (auto fn = native_fn<Action::swap>(series1)) return fn(series1, series2);
    return forward(series1, Action::swap, Pass(series1).add(series2));
}

Cell* take(Cell* series, Cell* part, bool deep, bool last) {
    if (auto fn = native_fn<Action::take>(series)) return fn(series, part, deep, last);
    return forward(series, Action::take, Pass(series).refined(part).flag(deep).flag(last));
}

Cell* trim(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with) {
    if (auto fn = native_fn<Action::trim>(series)) return fn(series, head, tail, auto_, lines, all, with);
    Pass pass(series);
    pass.flag(head).flag(tail).flag(auto_).flag(lines).flag(all).refined(with);
    return forward(series, Action::trim, pass);
}

Cell* modify(Cell* target, Cell* field, Cell* value, bool case_) {
    if (auto fn = native_fn<Action::modify>(target)) return fn(target, field, value, case_);
    return forward(target, Action::modify, Pass(target).add(field).add(value).flag(case_));
}

Cell* open(Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow) {
    if (auto fn = native_fn<Action::open>(port)) return fn(port, new_, read, write, seek, allow);
    Pass pass(port);
    pass.flag(new_).flag(read).flag(write).flag(seek).refined(allow);
    return forward(port, Action::open, pass);
}

// Only a native actor may take open?.
Cell* open_q(Cell* port) {
    if (auto fn = native_fn<Action::open_q>(port)) return fn(port);
    registry::fire_unsupported(Action::open_q, port);
}

// The end of read and write: a copy with the /part given, then close; the
// copy replaces the port in its cell. A throw leaves the port as it was.
Cell* copy_then_close(Cell* port, Cell* part) {
    Cell result;
    Cell step = *port;
    copy(&step, &result, part, false, nullptr);
    if (state.thrown_code) return port;
    step = *port;
    alone<Action::close>(&step);
    if (state.thrown_code) return port;
    *port = result;
    return port;
}

// open (with /seek when asked, its index not passed), copy with the /part
// of read, close. The other refinements have no effect.
Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    if (auto fn = native_fn<Action::read>(source)) return fn(source, part, seek, binary, lines, info, as);
    Cell step = *source;
    open(&step, false, false, false, seek != nullptr, nullptr);
    if (state.thrown_code) return source;
    return copy_then_close(source, part);
}

Cell* rename(Cell* from, Cell* to) {
    if (auto fn = native_fn<Action::rename>(from)) return fn(from, to);
    return forward(from, Action::rename, Pass(from).add(to));
}

// open/write (and /seek), insert the data (with the /part length when it is
// an integer!), copy with write's /part as given, close; the copy is the
// result. The other refinements have no effect.
Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part,
            Cell* seek, Cell* allow, Cell* as) {
    if (auto fn = native_fn<Action::write>(destination))
        return fn(destination, data, binary, lines, info, append, part, seek, allow, as);
    const std::int32_t length = part && part->is(Type::integer) ? series::int_of(part) : -1;
    Cell step = *destination;
    open(&step, false, false, true, seek != nullptr, nullptr);
    if (state.thrown_code) return destination;
    step = *destination;
    insert(&step, data, length, false, 1, false);
    if (state.thrown_code) return destination;
    return copy_then_close(destination, part);
}

constexpr ActionRow actions{
    .make = make,
    .reflect = inherit,
    .form = form,
    .mold = mold,
    .eval_path = inherit,
    .compare = inherit,
    .append = insert,
    .at = at,
    .back = alone<Action::back>,
    .change = change,
    .clear = alone<Action::clear>,
    .copy = copy,
    .find = find,
    .head = alone<Action::head>,
    .head_q = alone<Action::head_q>,
    .index_q = alone<Action::index_q>,
    .insert = insert,
    .length_q = length_q,
    .move = move,
    .next = alone<Action::next>,
    .pick = pick,
    .poke = poke,
    .put = put,
    .remove = remove,
    .reverse = reverse,
    .select = select,
    .sort = sort,
    .skip = skip,
    .swap = swap,
    .tail = alone<Action::tail>,
    .tail_q = alone<Action::tail_q>,
    .take = take,
    .trim = trim,
    .create = alone<Action::create>,
    .close = alone<Action::close>,
    .delete_ = alone<Action::delete_>,
    .modify = modify,
    .open = open,
    .open_q = open_q,
    .query = alone<Action::query>,
    .read = read,
    .rename = rename,
    .update = alone<Action::update>,
    .write = write,
};

// url!'s open, read and write for a scheme other than http: the url parsed
// into a spec object by the library's parser, a port made from it, opened
// when asked.
void open_url(Cell* url, Cell* port, bool new_, bool read, bool write, bool seek, Cell* allow,
              bool opening) {
    const Cell parser = field_of(*word::get_any(word::load("url-parser", port)), "parse-url");
    Cell spec;
    none::make_at(&spec);
    if (parser.is(Type::function)) {
        Cell function = parser;
        Cell name;
        word::load("parse-url", &name);
        const Cell args[1] = {*url};
        if (eval::call_function(&function, &name, args, 1, &spec) == Status::thrown) return;
    }
    if (!spec.is(Type::object)) fire(ErrorId::script_invalid_arg, url);
    make_from_spec(&spec, port);
    if (opening) open(port, new_, read, write, seek, allow);
}

}  // namespace

Cell* make_native_actor(Cell* out, const ActionFns* table) {
    std::uint32_t position = 0;
    while (position < native_tables.size() && native_tables[position] != table) ++position;
    if (position == native_tables.size()) native_tables.push_back(table);
    return handle::make_at(out, position + 1, static_cast<std::int32_t>(handle::Class::null));
}

Cell get_actor(const Cell* port) {
    const Cell* actor = field_cell(port, field::actor);
    if (!actor || !actor->is(Type::object)) fire(ErrorId::access_invalid_port);
    return *actor;
}

Cell* make_from_spec(Cell* spec, Cell* out) {
    const Cell given = *spec;
    Cell spec_object = given;
    if (!spec_object.is(Type::object)) {
        // A copy of the url parts with no class id and no change handlers,
        // over which the spec runs as object!'s make runs it.
        Cell proto = system_field("standard", "url-parts");
        if (!proto.is(Type::object)) fire(ErrorId::access_invalid_port);
        proto.data2 = 0;
        proto.data3 = 0;
        registry::lookup<Action::make>(Type::object)(&proto, &spec_object, Type::object);
        if (state.thrown_code) return out;  // a throw out of the spec stays pending
        spec_object = proto;
    }
    // GC: the spec object waits on the argument stack while the port is made.
    Cell* kept = stack::push_copy(&spec_object);
    const Cell* scheme = object::field_count(kept) > 0 ? object::field_value(object::context_of(kept), 0) : nullptr;
    if (!scheme || !scheme->is(Type::word)) fire(ErrorId::access_no_scheme, &given);
    const Cell scheme_word = *scheme;

    const Cell standard = system_field("standard", "port");
    if (!standard.is(Type::object) || object::field_count(&standard) < field::count)
        fire(ErrorId::access_invalid_port);
    Cell port;
    object::copy_into(&standard, &port, false, nullptr, false);
    object::make_with_record(&port, object::context_of(&port), port.data3, class_id, Type::port);
    Cell* kept_port = stack::push_copy(&port);
    *field_cell(kept_port, field::spec) = *kept;
    *field_cell(kept_port, field::scheme) = scheme_word;

    // The value after the first key equal to the scheme's name.
    Cell schemes = system_field("schemes");
    Cell scheme_object;
    none::make_at(&scheme_object);
    if (schemes.is(Type::block)) {
        memory::SeriesBuffer* b = memory::buffer_of(schemes.data2);
        for (Cell* c = b->cells() + series::head(&schemes); c + 1 < b->cells_tail(); ++c) {
            if (word::is_any_word(c) && symbol::resolve(c->data2) == symbol::resolve(scheme_word.data2)) {
                scheme_object = c[1];
                break;
            }
        }
    }
    if (!scheme_object.is(Type::object)) fire(ErrorId::access_unknown_scheme, &given);
    // The scheme's fourth field, read by position.
    const Cell* actor = object::field_count(&scheme_object) > scheme_actor
                            ? object::field_value(object::context_of(&scheme_object), scheme_actor)
                            : nullptr;
    if (!actor || (!actor->is(Type::object) && !actor->is(Type::handle))) fire(ErrorId::access_invalid_actor);
    *field_cell(kept_port, field::actor) = *actor;
    *out = *kept_port;
    stack::drop(2);
    return out;
}

void init() {
    registry::register_type(Type::port, Type::object, "port!", actions);
    url::open_port = open_url;
}

}  // namespace kiv::port
