// The lexer's value loaders: the loaders that turn word, text and number
// tokens into language values (words of every kind, refinements, issues,
// strings, chars, files, urls, raw strings, integers, floats, percents,
// times, constructs) and the maker of blocks, parens, paths and maps when a
// container closes. Together with the compound scalars' loaders
// (lexer-scalars.h) they fill `value_hooks`, the hooks every scan that makes
// values runs with.
//
// A token whose datatype is not registered raises the invalid error of
// that datatype when loaded: never a wrong value.
//
// GC: loading interns symbols, adds global words and makes series; every
// loader may allocate. A loader builds its value in a local cell (seen by
// the stack scan) and only then takes an output cell.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/evaluator/lexer.h"

namespace kiv::lexer {

namespace load {
void word(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void path_word(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void refinement(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void issue(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void string(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void char_(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void file(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void url(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void raw_string(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void integer(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void hex(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void float_(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void special_float(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void percent(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void time(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void construct(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);

// Makes a block!, paren!, path-family value or map! of the items (see
// `ContainerFn`).
bool container(Lexer& lx, int type, Cell* items, int count, Cell* out);
}  // namespace load

// Pushes a string-family value of `type` holding the text of [text,
// text_end), escapes decoded when `flags` has flag::caret. [s, e) is the
// token the invalid error of `type` names when the text is undecodable.
// Without `load` only checks and sets the token's type.
void load_text(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, const std::uint8_t* text,
               const std::uint8_t* text_end, std::uint32_t flags, bool load, Type type);

// Takes an output cell and copies `value` into it, keeping the cell's
// new-line flag. A value of a datatype that is not registered raises the
// invalid error of that datatype for [s, e) instead.
void put(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, const Cell& value);

// The hooks that make values: every loader above, the compound scalars',
// and those of dates and money.
// Syntax errors leave as `SyntaxError` exceptions and no events are sent;
// the scan entries (lexer-scan.h) add the language's error raising and
// callbacks on a copy.
const Hooks& value_hooks();

// Installs the loader of a token kind (a unit that arrives later, or a
// test's stand-in); later scans use it.
void install_loader(Kind kind, LoaderFn loader);

// Makes `out` a map of a map literal's `count` loaded cells ("#[a 1]":
// keys and values in turn); false, making nothing, when the count is odd or
// a key's datatype cannot be a key. map::make_from_items unless a test puts
// a stand-in; null makes a map literal raise the invalid error for map!.
using MapMaker = bool (*)(const Cell* items, std::int32_t count, Cell* out);
void install_map_maker(MapMaker maker);

}  // namespace kiv::lexer
