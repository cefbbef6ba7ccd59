// The lexer's language entries: scans with modes and callbacks, syntax
// errors through `fire`, `transcode`. See lexer-scan.h.
#include "runtime/evaluator/lexer-scan.h"

#include <cstring>
#include <string>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/eval-api.h"
#include "runtime/evaluator/lexer-loaders.h"
#include "runtime/evaluator/stack.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/state.h"
#include "runtime/tracked-alloc.h"
#include "runtime/unicode-strings.h"
#include "runtime/unicode.h"

namespace kiv::lexer {

namespace {

constexpr int type_id(Type t) { return static_cast<int>(t); }

// ---------------------------------------------------------------------------
// UTF-8 of string input
// ---------------------------------------------------------------------------

// Nested scans of string input take consecutive regions of the scratch
// buffer and give them back in reverse order.
constexpr std::size_t scratch_size = 100000;
std::uint8_t scratch[scratch_size];
std::size_t scratch_used = 0;

// The UTF-8 of `count` characters of a string from its index, in the
// scratch buffer or, when it has too little room, in a tracked block of its
// own; released by the destructor.
class Utf8Text {
public:
    Utf8Text(Cell* string, std::int64_t count) {
        const std::uint32_t unit = string::buffer(string)->unit();
        const std::size_t estimate = static_cast<std::size_t>(count) * (unit == 1 ? 2 : unit == 2 ? 3 : 4);
        if (scratch_size - scratch_used >= estimate + 1) {
            bytes_ = scratch + scratch_used;
            taken_ = estimate + 1;
            scratch_used += taken_;
        } else {
            own_ = static_cast<std::uint8_t*>(memory::allocate(estimate + 1));
            bytes_ = own_;
        }
        if (count > 0)
            size_ = unicode::write_utf8_bounded(string, bytes_, estimate + 1, static_cast<long>(count), false);
    }
    ~Utf8Text() {
        if (own_) memory::free(own_);
        else scratch_used -= taken_;
    }
    Utf8Text(const Utf8Text&) = delete;
    Utf8Text& operator=(const Utf8Text&) = delete;
    const std::uint8_t* bytes() const { return bytes_; }
    std::size_t size() const { return size_; }

private:
    std::uint8_t* bytes_ = nullptr;
    std::uint8_t* own_ = nullptr;
    std::size_t taken_ = 0;
    std::size_t size_ = 0;
};

// Characters of a string from its index to its tail (or `length` of them).
std::int64_t characters(Cell* string, std::int64_t length) {
    const std::int64_t available = string::ks_length(string);
    return length < 0 || length > available ? available : length;
}

// ---------------------------------------------------------------------------
// Syntax errors as language errors
// ---------------------------------------------------------------------------

Cell text_cell(const std::string& utf8) {
    Cell s;
    string::make_at(&s, static_cast<std::int64_t>(utf8.size()));
    string::append_utf8(&s, utf8);
    return s;
}

// A datatype! value for the id. A datatype that is not registered yet
// has no value that could form or mold; a word of its name stands in: with
// the "!" where the value is given to the language, without it in an error
// message, which then forms as the datatype would.
Cell type_value(int id, bool in_message) {
    Cell t;
    const auto type = static_cast<Type>(id);
    if (registry::entry(type).registered) return *registry::make_datatype(&t, type);
    static constexpr const char* names[] = {
        "",
#define KIV_LEXER_TYPE_NAME(n, ident, name) name,
        KIV_TYPE_LIST(KIV_LEXER_TYPE_NAME)
#undef KIV_LEXER_TYPE_NAME
    };
    std::string name = names[id];
    if (in_message) name.pop_back();
    return *word::make_at(symbol::make(name.c_str()), &t);
}

[[noreturn]] void raise_syntax_error(Lexer&, const SyntaxError& e) {
    // GC: the argument cells sit on the C++ stack while the later ones are made.
    Cell line = text_cell("(line " + std::to_string(e.line) + ")");
    Cell near = text_cell(e.near);
    Cell second;
    switch (e.id) {
        case SyntaxError::invalid:
            second = type_value(e.datatype, true);
            fire(ErrorId::syntax_invalid_, &line, &second, &near);
        case SyntaxError::missing:
            char_::make_at(&second, static_cast<std::uint8_t>(e.missing_char));
            fire(ErrorId::syntax_missing_, &line, &second, &near);
        case SyntaxError::malconstruct:
            fire(ErrorId::syntax_malconstruct, &line, &near);
        case SyntaxError::bad_char:
            break;
    }
    fire(ErrorId::syntax_bad_char, &line, &near);
}

// ---------------------------------------------------------------------------
// Callbacks
// ---------------------------------------------------------------------------

// Raised out of the token loop when a callback left a throw pending.
struct CallbackThrow {};

// What an active language scan keeps beside its lexer state.
// GC: the cells live on the C++ stack with the record.
struct ScanContext {
    Cell input;          // the string! or binary! scanned (none when there is none)
    Cell callback;
    bool characters;     // positions count characters (string! input)
    std::int64_t base;   // the input's index where the scanned text starts
    const std::uint8_t* cached_position;
    std::int64_t cached_count;
};

// The event words, by bit: prescan, scan, load, open, close, error.
constexpr words::W event_words[] = {words::W::prescan, words::W::scan,  words::W::load,
                                    words::W::open,    words::W::close, words::W::error};

// The words a callback gets as the type of a token kind without a
// datatype that are no fixed words, interned on first use.
struct KindWords {
    bool ready;
    std::uint32_t eof, comma, hex, rawstring;
};
KindWords kind_words{};

const KindWords& words_of_kinds() {
    KindWords& w = kind_words;
    if (w.ready) return w;
    w.eof = symbol::make("eof");
    w.comma = symbol::make("comma");
    w.hex = symbol::make("hex");
    w.rawstring = symbol::make("rawstring");
    w.ready = true;
    return w;
}

int event_index(Event e) {
    int i = 0;
    for (std::uint32_t bit = e; bit > 1; bit >>= 1) ++i;
    return i;
}

// Offset of `p` from the scan's start: characters for string! input.
std::int64_t offset_of(Lexer& lx, ScanContext& ctx, const std::uint8_t* p) {
    if (p < lx.input_start) p = lx.input_start;
    if (p > lx.input_end) p = lx.input_end;
    if (!ctx.characters) return p - lx.input_start;
    // PERF: counted from the last converted position, not from the start.
    const std::uint8_t* from = ctx.cached_position;
    if (p >= from) {
        ctx.cached_count += static_cast<std::int64_t>(unicode::count_codepoints(from, p));
    } else {
        ctx.cached_count -= static_cast<std::int64_t>(unicode::count_codepoints(p, from));
    }
    ctx.cached_position = p;
    return ctx.cached_count;
}

// The byte position of a character (or byte) offset from the scan's start.
const std::uint8_t* position_at(Lexer& lx, ScanContext& ctx, std::int64_t offset) {
    if (offset <= 0) return lx.input_start;
    if (!ctx.characters) {
        const std::int64_t size = lx.input_end - lx.input_start;
        return lx.input_start + (offset < size ? offset : size);
    }
    return unicode::skip_codepoints(lx.input_start, lx.input_end, static_cast<std::size_t>(offset));
}

// The type argument of an event.
Cell event_type(const EventInfo& info) {
    Cell t;
    if (info.type > 0) return type_value(info.type, false);
    switch (info.kind) {
        case Kind::eof: return *word::make_at(words_of_kinds().eof, &t);
        case Kind::comment: return *words::word(words::W::comment, &t);
        case Kind::comma: return *word::make_at(words_of_kinds().comma, &t);
        default: break;
    }
    const int k = static_cast<int>(info.kind);
    if (k <= static_cast<int>(Kind::construct)) {
        static constexpr Type kind_types[] = {Type::none, Type::error, Type::block, Type::block,
                                              Type::paren, Type::paren, Type::string, Type::string,
                                              Type::map, Type::path, Type::datatype};
        return type_value(type_id(kind_types[k]), false);
    }
    return *none::make_at(&t);
}

// Routines keep their body as given, in the same place as functions.
std::uint32_t event_mask_of_callback(const Cell* callback) {
    return event_mask_of(function::more_cell(callback, function::more::body));
}

// Pushes the cells of a function's frame for a call with the event's
// arguments, in the order of its spec: its arguments (the event's first
// ones; none for any beyond five), false for each refinement and for /local,
// none for a refinement's arguments and for each local word. Answers how
// many of the event's arguments the frame holds.
int push_callback_cells(NodeId spec, const Cell* args) {
    const std::uint32_t local = symbol::resolve(words::symbol(words::Ref::local));
    bool in_refinements = false;
    bool in_locals = false;
    int taken = 0;
    memory::SeriesBuffer* b = memory::buffer_of(spec);
    for (std::int32_t i = 0; i < static_cast<std::int32_t>(b->length()); ++i) {
        const Cell c = b->cells()[i];
        switch (c.type()) {
            case Type::word:
            case Type::get_word:
            case Type::lit_word:
                if (in_locals) {
                    if (c.is(Type::word)) stack::push_copy(&none::value);
                } else if (in_refinements || taken >= 5) {
                    stack::push_copy(&none::value);
                } else {
                    stack::push_copy(&args[taken++]);
                }
                break;
            case Type::refinement:
                if (in_locals) break;
                if (symbol::resolve(c.data2) == local) in_locals = true;
                else in_refinements = true;
                stack::push_copy(&logic::false_value);
                break;
            case Type::set_word:
                // return: and its type block take no frame cell.
                if (i + 1 < static_cast<std::int32_t>(b->length()) && b->cells()[i + 1].is(Type::block)) ++i;
                break;
            default: break;
        }
        b = memory::buffer_of(spec);
    }
    return taken;
}

// Calls a function! in a frame named <lexer-callback> shaped by its spec
// (a callback that declares other than five arguments gets no stray cells).
// The arguments are read back before the frame closes, which gives the top
// back where the frame began: the native's own frame below stays whole for
// the next event. Answers true when the callback left a throw pending.
bool call_callback(const Cell* callback, Cell* args, Cell* result) {
    Cell function = *callback;
    Cell name;
    words::word(words::W::lexer_callback, &name);
    if (function.is(Type::routine)) {
        // A routine takes its arguments converted by its spec.
        stack::push_native_frame(&name);
        for (int i = 0; i < 5; ++i) stack::push_copy(&args[i]);
        routine::call(&function, state.stack_arguments, result);
        for (int i = 0; i < 5; ++i) args[i] = state.stack_arguments[i];
        stack::pop_frame();
        return false;
    }
    stack::push_function_frame(&name, function.data1);
    const int taken = push_callback_cells(function.data2, args);
    const auto count = static_cast<std::int32_t>(state.stack_top - state.stack_arguments);
    if (eval::call_function(&function, &name, state.stack_arguments, count, result) == Status::thrown)
        return true;
    for (int i = 0; i < taken; ++i) args[i] = state.stack_arguments[i];
    stack::pop_frame();
    return false;
}

bool send_to_callback(Lexer& lx, const EventInfo& info) {
    auto& ctx = *static_cast<ScanContext*>(lx.hooks->user);
    const bool at_start = info.event == ev_open || (info.event == ev_prescan && info.type == 0);
    const std::uint8_t* at = at_start ? info.start : lx.position;
    // GC: the five arguments sit on the C++ stack while the others are made.
    Cell args[5];
    words::word(event_words[event_index(info.event)], &args[0]);
    args[1] = ctx.input;
    const std::int64_t given = ctx.base + offset_of(lx, ctx, at);
    args[1].data1 = static_cast<std::uint32_t>(given);
    args[2] = event_type(info);
    args[3] = integer::make_cell(lx.line);
    if (info.event == ev_load && info.value) {
        args[4] = *info.value;
        args[4].clear_new_line();
    } else {
        const std::int64_t start = offset_of(lx, ctx, info.start) + 1;
        const std::int64_t end = offset_of(lx, ctx, info.end) + 1;
        args[4] = pair::make_cell(static_cast<std::int32_t>(start), static_cast<std::int32_t>(end));
    }
    Cell result;
    none::make_at(&result);
    if (call_callback(&ctx.callback, args, &result)) throw CallbackThrow{};
    // A callback that moved its input makes the scan go on from there.
    if (!ctx.input.is(Type::none) && args[1].data2 == ctx.input.data2 &&
        args[1].data1 != static_cast<std::uint32_t>(given))
        lx.position = position_at(lx, ctx, static_cast<std::int32_t>(args[1].data1) - ctx.base);
    return !(result.is(Type::none) || (result.is(Type::logic) && result.data1 == 0));
}

// ---------------------------------------------------------------------------
// Delivering the values
// ---------------------------------------------------------------------------

Cell block_of(const Cell* values, int count) {
    Cell b;
    block::make_at(&b, count);
    memory::SeriesBuffer* buf = block::buffer(&b);
    if (count > 0) std::memcpy(buf->cells(), values, sizeof(Cell) * static_cast<std::size_t>(count));
    buf->set_tail(buf->cells() + count);
    return b;
}

// GC: the scan is still active, so its values are marked while the block
// is made; a Cell* into the output stays good (nothing pushes meanwhile).
void deliver(Scan& scan, bool one, bool keep_block, Cell* result, Cell* into) {
    const int count = scan.value_count();
    if (one && !keep_block && count >= 1) {
        if (into) block::ks_append(into, scan.values());
        else if (result) *result = *scan.values();
        return;
    }
    if (into) {
        for (int i = 0; i < count; ++i) block::ks_append(into, scan.values() + i);
        return;
    }
    if (result) *result = block_of(scan.values(), count);
}

}  // namespace

// ---------------------------------------------------------------------------
// Entries
// ---------------------------------------------------------------------------

int scan(Cell* result, const std::uint8_t* bytes, std::size_t count, bool one, bool not_prescan,
         bool not_scan, bool keep_block, std::int64_t* consumed, const Cell* callback,
         const Cell* input, Cell* into) {
    ScanContext ctx{};
    none::make_at(&ctx.input);
    none::make_at(&ctx.callback);
    if (input) {
        ctx.input = *input;
        ctx.characters = !input->is(Type::binary);
        ctx.base = static_cast<std::int32_t>(input->data1);
    }
    ctx.cached_position = bytes;
    Hooks hooks = value_hooks();
    hooks.raise = raise_syntax_error;
    hooks.user = &ctx;
    if (callback) {
        if (!callback->is(Type::function) && !callback->is(Type::routine))
            fire(ErrorId::script_invalid_arg, callback);
        ctx.callback = *callback;
        hooks.event = send_to_callback;
        hooks.event_mask = event_mask_of_callback(callback);
    }
    const Mode mode = !not_prescan ? Mode::prescan : !not_scan ? Mode::scan : Mode::load;
    Scan s(hooks, bytes, count, mode, one);
    int type;
    try {
        type = s.run();
    } catch (const CallbackThrow&) {
        if (result) none::make_at(result);
        return 0;
    }
    if (consumed) *consumed = offset_of(s.state(), ctx, s.state().position);
    if (type == type_id(Type::error) && mode != Mode::load) {
        if (result) none::make_at(result);
        return type;
    }
    if (not_scan) deliver(s, one, keep_block, result, into);
    return type;
}

int scan_string(Cell* result, Cell* string, std::int64_t length, bool one, bool not_prescan,
                bool not_scan, bool keep_block, std::int64_t* consumed, const Cell* callback,
                Cell* into) {
    // GC: a copy on the C++ stack keeps the string while its UTF-8 is scanned.
    Cell input = *string;
    const std::int64_t count = characters(&input, length);
    Utf8Text text(&input, count);
    return scan(result, text.bytes(), text.size(), one, not_prescan, not_scan, keep_block, consumed,
                callback, &input, into);
}

void transcode(Cell* slot, Cell* string, std::int64_t size, bool one, std::int64_t* consumed) {
    scan_string(slot, string, size, one, true, true, false, consumed, nullptr, nullptr);
}

Cell* load_utf8(const char* text, std::size_t length, Cell* out) {
    scan(out, reinterpret_cast<const std::uint8_t*>(text), length, false, true, true, false, nullptr, nullptr,
         nullptr, nullptr);
    return out;
}

int scan_type(const std::uint8_t* bytes, std::size_t count) {
    return scan(nullptr, bytes, count, true, true, false, false, nullptr, nullptr, nullptr, nullptr);
}

// ---------------------------------------------------------------------------
// The transcode native
// ---------------------------------------------------------------------------

namespace {

// The length /part gives, in the source's units from its index.
std::int64_t part_length(Cell* src, const Cell* part, std::int64_t available) {
    std::int64_t n;
    if (part->is(Type::integer)) {
        n = integer::get(part);
    } else {
        const bool same_kind = src->is(Type::binary) ? part->is(Type::binary) : !part->is(Type::binary);
        if (!same_kind) fire(ErrorId::script_not_same_type);
        n = static_cast<std::int32_t>(part->data1) - static_cast<std::int32_t>(src->data1);
    }
    if (n < 0) n = 0;
    return n < available ? n : available;
}

bool bom_at(const std::uint8_t* p, std::int64_t n) {
    return n > 2 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF;
}

}  // namespace

Status transcode_native(Cell* src, const TranscodeRefinements& r, Cell* result) {
    // GC: the source's copy on the C++ stack keeps its buffer while scanning.
    Cell source = *src;
    const bool binary = source.is(Type::binary);
    std::int64_t available = binary ? binary::ks_length(&source) : string::ks_length(&source);
    if (binary && bom_at(binary::ks_head(&source), available)) {
        source.data1 += 3;
        available -= 3;
    }
    const std::int64_t length = r.part ? part_length(&source, r.part, available) : available;
    const bool one = r.next || r.one || r.scan;
    const bool types = r.scan || r.prescan;
    const bool keep_block = r.next && !r.one;
    std::int64_t consumed = 0;
    Cell values;
    none::make_at(&values);
    int type;
    if (binary) {
        type = scan(&values, binary::ks_head(&source), static_cast<std::size_t>(length), one, !r.prescan,
                    !r.scan, keep_block, &consumed, r.trace, &source, types ? nullptr : r.into);
    } else {
        type = scan_string(&values, &source, length, one, !r.prescan, !r.scan, keep_block, &consumed,
                           r.trace, types ? nullptr : r.into);
    }
    if (r.trace && stack::pending()) return Status::thrown;
    if (types) {
        if (length == 0 || type == 0) none::make_at(result);
        else *result = type_value(type, false);
        return Status::ok;
    }
    if (r.into) values = *r.into;
    if (keep_block) {
        Cell rest = source;
        rest.data1 += static_cast<std::uint32_t>(consumed);
        block::ks_append(&values, &rest);
    }
    *result = values;
    return Status::ok;
}

Status transcode_entry(const std::int32_t* args, std::int32_t) {
    Cell* frame = state.stack_arguments;
    auto given = [&](int k) { return args[1 + k] >= 0; };
    auto arg = [&](int k) { return given(k) ? frame + args[1 + k] : nullptr; };
    TranscodeRefinements r;
    r.next = given(0);
    r.one = given(1);
    r.prescan = given(2);
    r.scan = given(3);
    r.part = arg(4);
    r.into = arg(5);
    r.trace = arg(6);
    Cell src = frame[0];
    Cell result;
    KIV_PROPAGATE(transcode_native(&src, r, &result));
    state.stack_arguments[0] = result;
    return Status::ok;
}

// ---------------------------------------------------------------------------
// Callbacks, exit states
// ---------------------------------------------------------------------------

std::uint32_t event_mask_of(const Cell* body) {
    if (!body || !body->is(Type::block)) return 0x3F;
    Cell list = *body;
    if (block::ks_length(&list) <= 0) return 0x3F;
    Cell first = *block::ks_head(&list);
    if (!first.is(Type::block)) return 0x3F;
    std::uint32_t mask = 0;
    const std::int32_t n = block::ks_length(&first);
    for (std::int32_t i = 0; i < n; ++i) {
        const Cell* w = block::ks_head(&first) + i;
        if (!w->is(Type::word)) continue;
        const std::uint32_t canon = symbol::resolve(w->data2);
        for (int k = 0; k < 6; ++k)
            if (canon == symbol::resolve(words::symbol(event_words[k]))) mask |= 1u << k;
    }
    return mask;
}

Cell* make_exit_states(Cell* out) {
    // ORDER KINDS: entries 0 to 33 of the token kinds' types.
    static constexpr Type types[] = {
        Type::none,   Type::error,    Type::block,   Type::block,    Type::paren,   Type::paren,
        Type::string, Type::string,   Type::map,     Type::path,     Type::datatype, Type::none,
        Type::string, Type::word,     Type::issue,   Type::integer,  Type::refinement, Type::char_,
        Type::file,   Type::binary,   Type::percent, Type::float_,   Type::float_,  Type::tuple,
        Type::date,   Type::pair,     Type::time,    Type::money,    Type::tag,     Type::url,
        Type::email,  Type::none,     Type::none,    Type::ref,
    };
    block::make_at(out, 34);
    for (int i = 0; i < 34; ++i) {
        Cell v;
        if (i == 0) word::make_at(words_of_kinds().eof, &v);
        else if (i == 11) words::word(words::W::comment, &v);
        else if (i == 31) word::make_at(words_of_kinds().hex, &v);
        else if (i == 32) word::make_at(words_of_kinds().rawstring, &v);
        else registry::make_datatype(&v, types[i]);
        block::ks_append(out, &v);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Loading words and blocks from text
// ---------------------------------------------------------------------------

namespace {

// Exactly one value from the text, or false (a syntax error included).
bool load_one_value(Cell* text, Cell* out) {
    Cell input = *text;
    Utf8Text utf8(&input, characters(&input, -1));
    try {
        Scan s(value_hooks(), utf8.bytes(), utf8.size(), Mode::load, false);
        s.run();
        if (s.value_count() != 1) return false;
        *out = *s.values();
        out->clear_new_line();
        return true;
    } catch (const SyntaxError&) {
        return false;
    }
}

void load_block(const Cell* text, Cell* out) {
    Cell input = *text;
    scan_string(out, &input, -1, false, true, true, false, nullptr, nullptr, nullptr);
}

}  // namespace

void init_scan() {
    scratch_used = 0;
    kind_words.ready = false;
    word::set_text_loader(load_one_value);
    block::load_text_hook = load_block;
}

}  // namespace kiv::lexer
