// Decoders for the lexer's text tokens: words and their prefixed forms,
// refinements, issues, strings with "^" escapes, chars, files, raw strings,
// binaries, tags, urls, emails, refs and constructs. Each turns a token's
// bytes into a plain C++ result and never reads outside [start, end); the
// loaders that make values build on them. The scanners and checking loaders
// that run inside a scan are declared at the end.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/evaluator/lexer.h"

namespace kiv::lexer {

// A word-family token: its datatype and the name without prefix or suffix.
struct WordForm {
    Type type;
    const std::uint8_t* name;
    const std::uint8_t* name_end;
};

// Words ("a", "'a", ":a", "a:"). Returns 0, or the datatype whose invalid
// error the token raises.
int read_word(const std::uint8_t* s, const std::uint8_t* e, WordForm& out);
// Refinements ("/a"); also "/", "'/", ":/" and "/:", the word "/" in its forms.
int read_refinement(const std::uint8_t* s, const std::uint8_t* e, WordForm& out);
// Issues ("#a"): the name after "#"; false for "#" alone.
bool read_issue(const std::uint8_t* s, const std::uint8_t* e, WordForm& out);

// The first Unicode blank in [s, e), or null. `bad` is set when an
// undecodable sequence comes first.
const std::uint8_t* find_unicode_blank(const std::uint8_t* s, const std::uint8_t* e, bool* bad = nullptr);

// Text between delimiters: its length in code points and the unit width (1,
// 2 or 4 bytes) it needs. The flag word selects the work: without
// `flag::caret` "^" is an ordinary character; without the wide flags the
// bytes are Latin-1 code points. A byte 128-191 without a lead byte stays
// the code point of its value.
struct TextShape {
    int count;
    int width;
};
// False when a sequence or an escape is undecodable.
bool measure_text(const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags, TextShape& out);
// Writes the `shape.count` code points as units of `shape.width` bytes.
void decode_text(const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags,
                 const TextShape& shape, void* out);

// Reads one escape; `p` is just after the "^" and moves past the escape.
// Returns the code point, or -1 when undecodable. `width` receives the unit
// width the escape asks for.
std::int32_t read_escape(const std::uint8_t*& p, const std::uint8_t* e, int& width);

// Chars ('#"x"'): the code point, or -1.
std::int32_t read_char(const std::uint8_t* s, const std::uint8_t* e);

// Files: "%name" (percent-encoded, "^" ordinary) or '%"name"' (escapes).
struct FileText {
    bool quoted;
    const std::uint8_t* text;
    const std::uint8_t* text_end;
};
FileText file_text(const std::uint8_t* s, const std::uint8_t* e);

// Raw strings: the text between "%...{" and "}%...".
void raw_string_text(const std::uint8_t* s, const std::uint8_t* e, const std::uint8_t*& text,
                     const std::uint8_t*& text_end);

// Binaries ("#{...}", "2#{...}", "64#{...}"): decodes into `out` (may be
// null to only check). False on any error.
bool read_binary(const std::uint8_t* s, const std::uint8_t* e, std::string* out);

// Urls: 0, or the datatype of the invalid error (a leading ":" or "'").
int check_url_token(const std::uint8_t* s, const std::uint8_t* e);

// Constructs ("#(none)", "#(integer!)"): what the name stands for.
struct Construct {
    enum Form : std::uint8_t { logic_true, logic_false, none, unset, datatype } form;
    int type;      // the token's datatype: logic!, none!, unset! or datatype!
    int named;     // for `datatype`: the named datatype's id
};
bool read_construct(const std::uint8_t* s, const std::uint8_t* e, Construct& out);

// ---------------------------------------------------------------------------
// Inside a scan
// ---------------------------------------------------------------------------

// The checks that run before loading: strings (s and e are the delimiters),
// words (which may end early at a Unicode blank), issues.
void scan_string(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags);
void scan_word(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags);
void scan_issue(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t flags);

// Checking loaders of the text kinds (see `checking_hooks`).
namespace check {
void path_word(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void construct(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void string(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void word(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void issue(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void refinement(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void char_(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void file(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void binary(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void tag(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void url(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void email(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void raw_string(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
void ref(Lexer&, const std::uint8_t*, const std::uint8_t*, std::uint32_t, bool);
// With `load` set: the invalid error of `type` (no loader for it yet).
void unavailable(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, bool load, int type);
}  // namespace check

}  // namespace kiv::lexer
