// The lexer's loaders for pairs, tuples, points, binaries, tags, emails and
// refs, and the one-value load that conversions from text go through.
#include "runtime/evaluator/lexer-scalars.h"

#include <string>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/evaluator/lexer-loaders.h"
#include "runtime/evaluator/lexer-numbers.h"
#include "runtime/evaluator/lexer-text.h"

namespace kiv::lexer {

namespace {

constexpr int type_id(Type t) { return static_cast<int>(t); }

}  // namespace

namespace load {

void pair(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    std::int32_t x;
    std::int32_t y;
    if (!read_pair(s, e, x, y)) throw_error(lx, s, e, type_id(Type::pair));
    lx.type = type_id(Type::pair);
    if (load) pair::make_at(push(lx), x, y);
}

void tuple(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    std::uint8_t bytes[tuple::max_length];
    const int n = read_tuple(s, e, bytes);
    if (n == 0) throw_error(lx, s, e, type_id(Type::tuple));
    lx.type = type_id(Type::tuple);
    if (load) tuple::make_at(push(lx), n, bytes);
}

void point(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    Point p;
    if (int error = read_point(s, e, p)) throw_error(lx, s, e, error);
    lx.type = type_id(p.count == 3 ? Type::point3d : Type::point2d);
    if (!load) return;
    Cell* out = push(lx);
    if (p.count == 3) {
        point3d::make_at(out, p.xyz[0], p.xyz[1], p.xyz[2]);
    } else {
        point2d::make_at(out, p.xyz[0], p.xyz[1]);
    }
}

void binary(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    std::string bytes;
    if (!read_binary(s, e, load ? &bytes : nullptr)) throw_error(lx, s, e, type_id(Type::binary));
    lx.type = type_id(Type::binary);
    if (!load) return;
    Cell value;
    binary::load_at(&value, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                    static_cast<std::int64_t>(bytes.size()));
    put(lx, s, e, value);
}

// "<a href>": the text between "<" and ">" (`e`).
void tag(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, bool load) {
    load_text(lx, s, e, s + 1, e, flags & ~flag::caret, load, Type::tag);
}

// "user@host": the whole token.
void email(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, bool load) {
    load_text(lx, s, e, s, e, flags & ~flag::caret, load, Type::email);
}

// "@name": the text after "@".
void ref(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, bool load) {
    load_text(lx, s, e, s + 1, e, flags & ~flag::caret, load, Type::ref);
}

}  // namespace load

namespace {

Hooks make_scalar_hooks() {
    Hooks h = checking_hooks;
    h.loaders[static_cast<int>(Kind::pair)] = load::pair;
    h.loaders[static_cast<int>(Kind::tuple)] = load::tuple;
    h.loaders[static_cast<int>(Kind::point)] = load::point;
    h.loaders[static_cast<int>(Kind::binary)] = load::binary;
    h.loaders[static_cast<int>(Kind::tag)] = load::tag;
    h.loaders[static_cast<int>(Kind::email)] = load::email;
    h.loaders[static_cast<int>(Kind::ref)] = load::ref;
    return h;
}

}  // namespace

const Hooks& scalar_hooks() {
    static const Hooks hooks = make_scalar_hooks();
    return hooks;
}

bool load_one(Cell* text, Type type, Cell* out) {
    const std::string utf8 = string::to_utf8(text);
    try {
        Scan scan(value_hooks(), reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size(),
                  Mode::load, false);
        scan.run();
        if (scan.value_count() != 1 || !scan.values()->is(type)) return false;
        *out = *scan.values();
        return true;
    } catch (const SyntaxError&) {
        return false;
    }
}

}  // namespace kiv::lexer
