// The runtime's fixed words: the vocabulary that the runtime's own code tests
// words against (parse keywords, event and date fields, series actions and
// their past tenses, trace events, error categories, internal frame names).
// Start-up interns them once, right after the datatype words, so a hot path
// compares one symbol id and never looks a spelling up. ORDER WORDS: symbols
// are numbered in interning order and the first spelling interned becomes
// the canonical one; never reorder these lists.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

// Symbols, interned first. S(identifier, spelling)
#define KIV_FIXED_SYMBOLS(S)                                                             \
    /* spec and reflection */                                                            \
    S(spec, "spec") S(body, "body") S(words, "words") S(class_, "class")                 \
    /* datatype names the runtime tests */                                               \
    S(logic_type, "logic!") S(integer_type, "integer!") S(char_type, "char!")            \
    S(float_type, "float!") S(percent_type, "percent!") S(any_type, "any-type!")         \
    S(exit, "exit") S(return_, "return")                                                 \
    /* operating system names */                                                         \
    S(windows, "Windows") S(syllable, "Syllable") S(macos, "macOS") S(linux, "Linux")    \
    S(netbsd, "NetBSD")                                                                  \
    /* loops whose word arguments become locals */                                       \
    S(repeat, "repeat") S(foreach, "foreach") S(map_each, "map-each")                    \
    S(remove_each, "remove-each")                                                        \
    /* parse keywords */                                                                 \
    S(any, "any") S(break_, "break") S(copy, "copy") S(end, "end") S(fail, "fail")       \
    S(into, "into") S(opt, "opt") S(not_, "not") S(quote, "quote") S(case_, "case")      \
    S(reject, "reject") S(set, "set") S(skip, "skip") S(some, "some") S(thru, "thru")    \
    S(to, "to") S(none, "none") S(bar, "|") S(dash, "-") S(if_, "if") S(remove, "remove") \
    S(while_, "while") S(insert, "insert") S(only, "only") S(collect, "collect")         \
    S(keep, "keep") S(pick, "pick") S(ahead, "ahead") S(after, "after")                  \
    /* coordinates */                                                                    \
    S(x, "x") S(y, "y") S(z, "z")                                                        \
    /* object reflection and ownership */                                                \
    S(self, "self") S(values, "values") S(owner, "owner") S(owned, "owned")              \
    S(events_q, "events?")                                                               \
    /* logic words of construct */                                                       \
    S(true_, "true") S(false_, "false") S(yes, "yes") S(no, "no") S(on, "on")            \
    S(off, "off")                                                                        \
    /* event fields */                                                                   \
    S(type, "type") S(face, "face") S(window, "window") S(offset, "offset") S(key, "key") \
    S(flag, "flag") S(code, "code") S(picked, "picked") S(flags, "flags")                \
    S(away_q, "away?") S(ctrl_q, "ctrl?") S(shift_q, "shift?") S(down_q, "down?")        \
    S(mid_down_q, "mid-down?") S(alt_down_q, "alt-down?") S(aux_down_q, "aux-down?")     \
    S(orientation, "orientation")                                                        \
    /* HTTP methods */                                                                   \
    S(get, "get") S(put, "put") S(post, "post") S(head, "head")                          \
    /* image fields */                                                                   \
    S(size, "size") S(rgb, "rgb") S(alpha, "alpha") S(argb, "argb")                      \
    /* date and time fields */                                                           \
    S(date, "date") S(year, "year") S(month, "month") S(day, "day") S(zone, "zone")      \
    S(isoweek, "isoweek") S(week, "week") S(weekday, "weekday") S(yearday, "yearday")    \
    S(julian, "julian") S(time, "time") S(hour, "hour") S(minute, "minute")              \
    S(second, "second") S(timezone, "timezone")                                          \
    /* money fields: code is the event field's symbol */                                 \
    S(amount, "amount")                                                                  \
    /* email fields */                                                                   \
    S(user, "user") S(host, "host")                                                      \
    S(system, "system") S(system_global, "system-global") S(stack, "stack")              \
    /* function attributes */                                                            \
    S(trace, "trace") S(no_trace, "no-trace")

// Global words made for symbols above, compared as word values. G(identifier)
#define KIV_FIXED_GLOBALS(G)                                                             \
    G(windows) G(syllable) G(macos) G(linux) G(netbsd)                                   \
    G(to) G(thru) G(not_) G(remove) G(while_) G(collect) G(keep) G(ahead) G(bar) G(any)  \
    G(some) G(copy) G(opt) G(into) G(insert) G(if_) G(quote) G(set) G(case_)

// Global words made after them. W(identifier, spelling)
#define KIV_FIXED_WORDS(W)                                                               \
    /* series actions and the past tenses reported to owners */                          \
    W(at, "at") W(back, "back") W(find, "find") W(head, "head") W(head_q, "head?")       \
    W(index_q, "index?") W(length_q, "length?") W(next, "next") W(pick, "pick")          \
    W(skip, "skip") W(select, "select") W(tail, "tail") W(tail_q, "tail?")               \
    W(change, "change") W(changed, "changed") W(clear, "clear") W(cleared, "cleared")    \
    W(set_path, "set-path") W(append, "append") W(appended, "appended") W(move, "move")  \
    W(moved, "moved") W(poke, "poke") W(poked, "poked") W(put, "put") W(put_ed, "put-ed") \
    W(removed, "removed") W(random, "random") W(randomized, "randomized")                \
    W(reverse, "reverse") W(reversed, "reversed") W(sort, "sort") W(sorted, "sorted")    \
    W(swap, "swap") W(swaped, "swaped") W(take, "take") W(taken, "taken")                \
    W(trim, "trim") W(trimmed, "trimmed") W(inserted, "inserted")                        \
    W(uppercase, "uppercase") W(lowercase, "lowercase") W(checksum, "checksum")          \
    /* parse events */                                                                   \
    W(push, "push") W(pop, "pop") W(fetch, "fetch") W(match, "match")                    \
    W(iterate, "iterate") W(paren, "paren")                                              \
    /* internal frame names */                                                           \
    W(anon, "<anon>") W(body_frame, "<body>") W(not_found, "<not-found>")                \
    /* the global word for the parse keyword end */                                      \
    W(end, "end")                                                                        \
    /* math actions */                                                                   \
    W(add, "add") W(subtract, "subtract") W(divide, "divide")                            \
    /* handler words */                                                                  \
    W(on_parse_event, "on-parse-event") W(on_change, "on-change*")                       \
    W(on_deep_change, "on-deep-change*")                                                 \
    /* error fields and frame words */                                                   \
    W(type, "type") W(id, "id") W(try_, "try") W(catch_, "catch") W(name, "name")        \
    W(multiply, "multiply")                                                              \
    /* port actions */                                                                   \
    W(browse, "browse") W(open, "open") W(create, "create") W(close, "close")            \
    W(delete_, "delete") W(modify, "modify") W(query, "query") W(read, "read")           \
    W(rename, "rename") W(update, "update") W(write, "write")                            \
    /* lexer events */                                                                   \
    W(prescan, "prescan") W(scan, "scan") W(load, "load") W(error, "error")              \
    W(comment, "comment")                                                                \
    /* interpreter trace events */                                                       \
    W(init, "init") W(exec, "exec") W(call, "call") W(return_, "return")                 \
    W(enter, "enter") W(exit, "exit") W(prolog, "prolog") W(epilog, "epilog")            \
    W(throw_, "throw") W(expr, "expr")                                                   \
    /* callback frame names */                                                           \
    W(interp_callback, "<interp-callback>") W(lexer_callback, "<lexer-callback>")        \
    W(parse_callback, "<parse-callback>") W(compare_callback, "<compare-callback>")      \
    /* error categories (throw is the trace event's word) */                             \
    W(note, "note") W(syntax, "syntax") W(script, "script") W(math, "math")              \
    W(access, "access") W(user, "user") W(internal, "internal")                          \
    W(invalid_error, "invalid-error")                                                    \
    W(local, "local") W(applied, "<applied>")

// Refinements tested by function specs, series actions and natives.
#define KIV_FIXED_REFINEMENTS(R) \
    R(local, "local") R(extern_, "extern") R(compare, "compare") R(part, "part") \
    R(skip, "skip") R(with, "with")

namespace kiv::words {

enum class Sym : std::uint16_t {
#define KIV_FIXED_SYM_ENUM(ident, text) ident,
    KIV_FIXED_SYMBOLS(KIV_FIXED_SYM_ENUM)
#undef KIV_FIXED_SYM_ENUM
    count_
};

enum class W : std::uint16_t {
#define KIV_FIXED_W_ENUM(ident, text) ident,
    KIV_FIXED_WORDS(KIV_FIXED_W_ENUM)
#undef KIV_FIXED_W_ENUM
    count_
};

enum class Ref : std::uint8_t {
#define KIV_FIXED_REF_ENUM(ident, text) ident,
    KIV_FIXED_REFINEMENTS(KIV_FIXED_REF_ENUM)
#undef KIV_FIXED_REF_ENUM
    count_
};

// Interns the symbols, makes the global words, the refinements and the
// issue #ooo, in that order. Start-up calls it once, after the datatype
// words and before the natives.
void init();

std::uint32_t symbol(Sym s);
std::uint32_t symbol(W w);
std::uint32_t symbol(Ref r);
// The symbol of the issue #ooo.
std::uint32_t ooo_symbol();

// The global word cells.
Cell* word(Sym s, Cell* out);  // only for the symbols with a global word
Cell* word(W w, Cell* out);
// A refinement! value (unbound).
Cell* refinement(Ref r, Cell* out);
// The issue #ooo.
Cell* ooo(Cell* out);

// Whether a word's canonical symbol is that of a fixed symbol; false for a
// value that holds no symbol.
bool is(const Cell* word, Sym s);
bool is(const Cell* word, W w);

}  // namespace kiv::words
