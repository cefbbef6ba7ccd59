// The lexer: UTF-8 source text to language values.
//
// A table-driven automaton (lexer-tables.h) cuts the input into tokens; each
// token ends in a final state that names its kind. Structural kinds (blocks,
// parens, maps, paths, braced strings, commas, comments) are handled here; the
// kinds that make a value are handed to a loader, one per kind, through the
// `Hooks` table. Loaders push their values on the lexer-wide output stack;
// open containers sit on that stack as marker cells (triple! cells) until
// they close, when the items after a marker become one container value
// written into the marker's cell.
//
// This file knows nothing about how a value is made: word symbols, strings,
// blocks and errors are made by the hooks. The decoders in lexer-text.h and
// lexer-numbers.h turn a token's bytes into plain C++ results for them.
//
// Scans nest (a hook may start another scan): every active scan is a `Lexer`
// record on the C++ stack, linked into a chain, and owns the output cells
// from its head to its tail. The output stack grows by doubling; cells are
// addressed by index so that growth moves nothing a scan holds.
// GC: the output stack is not on the C++ stack; `init` registers a marking
// hook that marks, for every active scan, the output cells from head to tail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/evaluator/lexer-tables.h"
#include "runtime/fire.h"

namespace kiv::lexer {

// Token kinds, in final-state order (kind = final state - 66).
// ORDER KINDS: the kinds index the loader table and follow the automaton's
// final states; never reorder.
// X(kind, identifier, name given to a callback for a kind without a datatype)
#define KIV_TOKEN_KINDS(X)               \
    X(0, eof, "eof")                     \
    X(1, error, "error!")                \
    X(2, block_open, "block!")           \
    X(3, block_close, "block!")          \
    X(4, paren_open, "paren!")           \
    X(5, paren_close, "paren!")          \
    X(6, brace_open, "string!")          \
    X(7, brace_close, "string!")         \
    X(8, map_open, "map!")               \
    X(9, path_open, "path!")             \
    X(10, construct, "datatype!")        \
    X(11, comment, "comment")            \
    X(12, comma, "comma")                \
    X(13, string, "string!")             \
    X(14, word, "word!")                 \
    X(15, issue, "issue!")               \
    X(16, integer, "integer!")           \
    X(17, refinement, "refinement!")     \
    X(18, char_, "char!")                \
    X(19, file, "file!")                 \
    X(20, binary, "binary!")             \
    X(21, percent, "percent!")           \
    X(22, float_, "float!")              \
    X(23, special_float, "float!")       \
    X(24, tuple, "tuple!")               \
    X(25, date, "date!")                 \
    X(26, pair, "pair!")                 \
    X(27, point, "point2D!")             \
    X(28, time, "time!")                 \
    X(29, money, "money!")               \
    X(30, tag, "tag!")                   \
    X(31, url, "url!")                   \
    X(32, email, "email!")               \
    X(33, hex, "hex")                    \
    X(34, raw_string, "rawstring")       \
    X(35, ref, "ref!")

enum class Kind : std::uint8_t {
#define KIV_TOKEN_KIND_ENUM(n, ident, name) ident = n,
    KIV_TOKEN_KINDS(KIV_TOKEN_KIND_ENUM)
#undef KIV_TOKEN_KIND_ENUM
};
constexpr int kind_count = 36;
const char* kind_name(Kind kind);

// One token as the automaton cut it.
struct Token {
    const std::uint8_t* start;  // first byte (leading blanks skipped)
    const std::uint8_t* end;    // the byte that ended it (not part of most tokens)
    Kind kind;
    std::uint8_t prev_state;    // the working state the final transition left
    std::uint32_t flags;        // OR of the flag bits of its bytes
    int lines_before;           // line breaks skipped before it
    int lines_inside;           // line breaks consumed inside it
};

// Runs the automaton for one token from `pos`, in `entry_state`, never
// reading at or past `end`. Raw strings ("%{...}%") are cut by their own
// scanner so that "}" followed by too few "%" stays text.
Token read_token(const std::uint8_t* pos, const std::uint8_t* end, int entry_state);

enum class Mode : std::uint8_t { load, scan, prescan };

// Lexical events, with their bit in an event mask.
enum Event : std::uint32_t {
    ev_prescan = 1,
    ev_scan = 2,
    ev_load = 4,
    ev_open = 8,
    ev_close = 16,
    ev_error = 32,
};

// Syntax error codes besides a datatype id (which means "invalid").
namespace code {
constexpr int bad_char = -1;
constexpr int malconstruct = -2;
constexpr int missing_opener = -3;  // a closer without its opener, or a mismatch
constexpr int missing_closer = -4;  // input ended with a container open
}  // namespace code

// A syntax error, as plain data; `Hooks::raise` turns it into the language
// error (category syntax).
struct SyntaxError {
    enum Id : std::uint8_t { invalid, missing, malconstruct, bad_char } id;
    int line;
    int datatype;         // invalid: the datatype id
    char missing_char;    // missing: the character that is missing ('\0' for none)
    std::string near;     // the text near the error (UTF-8 bytes)
    // The error's message: "(line 3) invalid integer! at 1''0".
    std::string message() const;
    // Its catalogue id. The language error's arguments are the text "(line
    // 3)", then the datatype (invalid), the missing character as a char!
    // (missing) or the near text (the others), then the near text (invalid,
    // missing).
    ErrorId error_id() const;
};

struct Lexer;

// What an event hook is told. For a load event `value` is the loaded cell.
struct EventInfo {
    Event event;
    Kind kind;
    int type;  // datatype id, 0 for none
    int line;
    const std::uint8_t* start;
    const std::uint8_t* end;
    const Cell* value;
};

// A loader checks one token and, with `load` set, pushes its value (one
// output cell from `push`). It sets `lx.type` to the datatype it made (an
// integer token that spells a float makes a float!). The readers of
// lexer-text.h and lexer-numbers.h decode the token; errors go through
// `throw_error`. `lx.position` already stands after the token.
using LoaderFn = void (*)(Lexer& lx, const std::uint8_t* start, const std::uint8_t* end,
                          std::uint32_t flags, bool load);
// Makes a container value of `type` (block!, paren!, map!, a path type) from
// `count` items and writes it into `out`, the marker's cell just before the
// items. Returns false when the items cannot make that container (a map with
// an odd count or a bad key).
using ContainerFn = bool (*)(Lexer& lx, int type, Cell* items, int count, Cell* out);
// Reports an event; false refuses it. The hook may move `lx.position` to
// make the scan go on elsewhere.
using EventFn = bool (*)(Lexer& lx, const EventInfo& info);
// Turns a syntax error into the language error; never returns.
using RaiseFn = void (*)(Lexer& lx, const SyntaxError& error);

struct Hooks {
    // Indexed by kind. Slot 9 loads a path's first word (the text without its
    // prefix); slot 10 makes the value of a construct ("#(none)"); slot 13
    // also loads braced strings; slots of structural kinds are otherwise
    // unused.
    LoaderFn loaders[kind_count];
    ContainerFn make_container;
    EventFn event;    // may be null
    RaiseFn raise;    // null: throws the SyntaxError itself as a C++ exception
    std::uint32_t event_mask;
    void* user;       // for the hooks' own use
};

// The loaders that only check: with `load` set they raise the invalid
// error of their datatype, so that a token whose datatype cannot be loaded
// yet fails clearly instead of giving a wrong value.
extern const Hooks checking_hooks;

// The state of one active scan.
struct Lexer {
    Lexer* previous = nullptr;  // the scan this one runs inside, or null
    Lexer* next = nullptr;
    const Hooks* hooks = nullptr;
    int head = 0;               // first output cell of this scan
    int base = 0;               // first item of the innermost open container
    int tail = 0;               // next free output cell
    const std::uint8_t* input_start = nullptr;
    const std::uint8_t* input_end = nullptr;
    const std::uint8_t* position = nullptr;   // where the next token starts
    const std::uint8_t* token_start = nullptr;
    const std::uint8_t* token_end = nullptr;
    int line = 1;
    int token_lines = 0;        // line breaks before the current token
    int forced_type = -1;       // datatype a reused loader must give its value
    int type = 0;               // datatype of the last token; error! after a failed check
    int entry_state = 0;        // 0, 4 (braced string), 35 (point literal), 59 (path)
    int prev_state = 0;
    int closing_type = 0;       // container datatype a "missing" error refers to
    int last_type = 0;
    const std::uint8_t* brace_start = nullptr;
    int brace_depth = 0;
    std::uint32_t brace_flags = 0;
    int point_lines = 0;
    Kind kind = Kind::eof;      // kind of the current token
    bool load = true;           // values are made
    bool prescan = false;
    bool one = false;           // stop after one value
    bool path_element = false;  // the current token was scanned as a path element
};

// Runs one scan over `count` bytes. The constructor links the scan into the
// chain of active scans; the destructor drops its output and unlinks it,
// also when a language error leaves `run`.
class Scan {
public:
    Scan(const Hooks& hooks, const std::uint8_t* bytes, std::size_t count, Mode mode, bool one);
    ~Scan();
    Scan(const Scan&) = delete;
    Scan& operator=(const Scan&) = delete;

    // Scans; returns the datatype id of the last token (error! after a failed
    // scan or prescan, 0 when there was none). In load mode a syntax error
    // leaves through `Hooks::raise`.
    int run();
    // The values this scan made (load mode), valid until the next push.
    Cell* values();
    int value_count() const;
    // Bytes consumed from the start.
    std::size_t consumed() const;
    Lexer& state() { return lx_; }

private:
    Lexer lx_;
};

// Output stack access for loaders.
// A new output cell: unset!, with the new-line flag when the token had line
// breaks before it. The pointer stays valid until the next push.
Cell* push(Lexer& lx);
Cell* cell_at(int index);
// Drops the last output cell (a load event refused it).
void drop_last(Lexer& lx);

// Raises a syntax error for [start, end) with a datatype id or a code. A
// null start means the opening character of the innermost open container
// (or the input start). When values are not being made, the scan only stops
// with its type set to error!.
[[noreturn]] void throw_error(Lexer& lx, const std::uint8_t* start, const std::uint8_t* end,
                              int type_or_code);

// The text an error shows near its position: up to the first line feed or
// the input end, at most about 30 bytes (whole UTF-8 characters).
std::string near_text(const std::uint8_t* start, const std::uint8_t* end);

// Registers the marking of the active scans' output with the collector.
void init();

// Visits every active scan, innermost first.
template <class F>
void for_each_active_scan(F&& visit);
Lexer* innermost_scan();

// True for the members of the Unicode blank set.
bool is_unicode_blank(std::uint32_t code_point);

// Decodes one UTF-8 sequence from [p, end): returns its length and sets
// `code_point`, or returns the bytes to skip with `code_point` = -1 for an
// undecodable sequence (overlong forms, surrogates, above U+10FFFF, cut short).
int decode_utf8(const std::uint8_t* p, const std::uint8_t* end, std::int32_t& code_point);

template <class F>
void for_each_active_scan(F&& visit) {
    for (Lexer* lx = innermost_scan(); lx; lx = lx->previous) visit(*lx);
}

}  // namespace kiv::lexer
