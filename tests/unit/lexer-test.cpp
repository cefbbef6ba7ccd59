// The automaton and the token loop: how text is cut into tokens, how
// containers and paths nest, and the syntax errors of malformed text.
#include <gtest/gtest.h>

#include <string>

#include "runtime/evaluator/lexer.h"
#include "tests/unit/lexer-harness.h"

namespace kiv::lexer {

using namespace std::literals;

namespace {

const std::uint8_t* bytes(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

const char* const kind_identifiers[] = {
#define KIV_TEST_KIND_IDENTIFIER(n, ident, name) #ident,
    KIV_TOKEN_KINDS(KIV_TEST_KIND_IDENTIFIER)
#undef KIV_TEST_KIND_IDENTIFIER
};

// The first token of `source` from `entry` state: "kind start-end" (byte
// offsets, end being the byte that stopped it).
std::string first_token(const std::string& source, int entry = 0) {
    Token t = read_token(bytes(source), bytes(source) + source.size(), entry);
    return std::string(kind_identifiers[static_cast<int>(t.kind)]) + " " + std::to_string(t.start - bytes(source)) +
           "-" + std::to_string(t.end - bytes(source));
}

}  // namespace

TEST(LexerTokens, EveryKindFromItsText) {
    struct Case { std::string_view source; int entry; const char* token; };
    const Case cases[] = {
        {"", 0, "eof 0-0"},                   {" \t\r\n\x01", 0, "eof 5-5"},
        {"}", 0, "error 0-0"},                {"a\x80", 0, "word 0-2"},
        {"[", 0, "block_open 0-0"},           {" ]", 0, "block_close 1-1"},
        {"(", 0, "paren_open 0-0"},           {")", 0, "paren_close 0-0"},
        {"{", 0, "brace_open 0-0"},           {"ab}", 4, "brace_close 0-2"},
        {"ab{", 4, "brace_open 0-2"},         {"#[a", 0, "map_open 0-1"},
        {"abc/d", 0, "path_open 0-3"},        {"#(none) ", 0, "construct 0-6"},
        {"; note\nx", 0, "comment 0-6"},      {",", 0, "comma 0-0"},
        {"\"a^\"b\"", 0, "string 0-5"},       {"ab-c? ", 0, "word 0-5"},
        {"#abc]", 0, "issue 0-4"},            {"-12'3 ", 0, "integer 0-5"},
        {"/ref ", 0, "refinement 0-4"},       {"#\"^\"\"", 0, "char_ 0-4"},
        {"%a/b.txt ", 0, "file 0-8"},         {"%\"a b\"", 0, "file 0-5"},
        {"16#{0A}", 0, "binary 0-6"},         {"5%", 0, "percent 0-1"},
        {"1.5e3", 0, "float_ 0-5"},           {".5", 0, "float_ 0-2"},
        {"1.#INF", 0, "special_float 0-6"},   {"1.2.3", 0, "tuple 0-5"},
        {"1-Jan-2000", 0, "date 0-10"},       {"1x2", 0, "pair 0-3"},
        {"1, 2)", 35, "point 0-4"},           {"12:30:00", 0, "time 0-8"},
        {"$1.50", 0, "money 0-5"},            {"<a href=\">\">", 0, "tag 0-11"},
        {"http://x.y", 0, "url 0-10"},        {"a@b.c", 0, "email 0-5"},
        {"0FFh", 0, "hex 0-4"},               {"%%{a}%b}%%", 0, "raw_string 0-10"},
        {"@ref", 0, "ref 0-4"},
        // path elements
        {"1]", 59, "integer 0-1"},            {"(", 59, "paren_open 0-0"},
        {":b", 59, "word 0-2"},
        // delimiters end words and numbers without being part of them
        {"abc[", 0, "word 0-3"},              {"12;", 0, "integer 0-2"},
        {"a:", 0, "word 0-2"},                {"a:b", 0, "url 0-3"},
        // malformed tokens stop in the error kind
        {"12x", 0, "error 0-3"},              {"1..2", 0, "error 0-2"},
        {"\"ab\ncd\"", 0, "error 0-3"},       {"a,b", 0, "error 0-1"},
        {"%{a}%%", 0, "error 0-6"},           {"%{abc", 0, "error 0-5"},
        {"\xFF", 0, "error 0-0"},
        // a NUL byte ends the input
        {"a\0b"sv, 0, "word 0-1"},            {"\0a"sv, 0, "eof 0-0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(first_token(std::string(c.source), c.entry), c.token) << c.source;
    }
}

}  // namespace kiv::lexer

namespace kiv::lexer {

namespace {

struct LoadCase {
    std::string_view source;
    const char* loaded;  // the values described, or "error: " and the message
};

void expect_loads(const LoadCase* cases, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        EXPECT_EQ(test::load(std::string(cases[i].source)), cases[i].loaded) << cases[i].source;
}

template <std::size_t N>
void expect_loads(const LoadCase (&cases)[N]) {
    expect_loads(cases, N);
}

}  // namespace

TEST(LexerLoad, WordsAndTheirForms) {
    const LoadCase cases[] = {
        {"a b: :c 'd /e #f", "a b: :c 'd /e #f"},
        {"/ '/ :/ /: // %  %%", "/ '/ :/ /: // % %%"},
        {"< << <= <> <- > >= = == + - +a -a", "< << <= <> <- > >= = == + - +a -a"},
        {"a'b ab? _x ~y |z &w *v !u `t", "a'b ab? _x ~y |z &w *v !u `t"},
        {"éte 日本", "éte 日本"},
        // Unicode blanks around and inside words
        {"\u00A0a\u3000b\u2028", "a b"},
        {"ab\u00A0cd", "ab cd"},
        {"\u00A0123", "123"},
        {"\u00A0", ""},
        {"x\u00A0/y", "x /y"},
    };
    expect_loads(cases);
}

TEST(LexerLoad, ContainersAndPaths) {
    const LoadCase cases[] = {
        {"[a (b c) #[d 1]] () []", "[a (b c) #[d 1]] () []"},
        {"[[[]]]", "[[[]]]"},
        {"a/b a/b/c 'a/b :a/b a/b:", "a/b a/b/c 'a/b :a/b a/b:"},
        {"a/1/(b c)/\"s\"/#\"c\"/x:", "a/1/(b c)/\"s\"/#\"c\"/x:"},
        {"x/:y x/'y x/#i x/@r x/$1 x/<t>", "x/:y x/'y x/#i x/@r x/$1 x/<t>"},
        {"[a/b] (a/b)", "[a/b] (a/b)"},
        {"a/(b/c)/d", "a/(b/c)/d"},
        {"a/b:c", "error: (line 1) invalid word! at b:c"},
        {"a/b:z", "a/b: z"},
        {"a/1.5 a/1x2", "a/1.5 a/1x2"},
        {"(1, 2) (1.5,-2,3) ( 1 , 2 )", "(1.0, 2.0) (1.5, -2.0, 3.0) (1.0, 2.0)"},
        {"(1.#INF, 2) a/(1, 2)", "(inf, 2.0) a/(1.0, 2.0)"},
        {"(1e3,2)", "(1000.0, 2.0)"},
        {"{a{b}c} {a^}b} {} \"\"", "\"a{b}c\" \"a}b\" \"\" \"\""},
        {"; comment\na ;x\n;", "a"},
        {"#[a 1]", "#[a 1]"},
    };
    expect_loads(cases);
}

TEST(LexerLoad, StringsCharsAndFiles) {
    const LoadCase cases[] = {
        {"\"ab^(tab)^(TAB)c^-^/\"", "\"ab^(9)^(9)c^(9)^(A)\""},
        {"\"^(null)^(back)^(page)^(esc)^(del)\"", "\"^(0)^(8)^(C)^(1B)^(7F)\""},
        {"\"^@^a^Z^[^_^~^^^{^}^\"^x^1\"", "\"^(0)^(1)^(1A)^(1B)^(1F)^(7F)^(5E){}\"^(18)1\""},
        // unit width: from the lead bytes, and from long escapes
        {"\"^(1F600)\" \"^(100)\" \"^(0041)\" \"^(00041)\" \"^(41)\"",
         "\"^(1F600)~4\" \"^(100)~2\" \"A~2\" \"A~4\" \"A\""},
        {"\"é^(41)\" \"^é\" \"😀\"", "\"^(E9)A~2\" \"^(E9)~2\" \"^(1F600)~4\""},
        {"\"^(10FFFF)\"", "\"^(10FFFF)~4\""},
        {"\"\x80\xBF\"", "\"^(80)^(BF)\""},
        {"{line\nbreak}", "\"line^(A)break\""},
        {"#\"a\" #\"^(line)\" #\"é\" #\"^\"\" #\"^^\" #\"^(10FFFF)\"",
         "#\"a\" #\"^(A)\" #\"^(E9)\" #\"\"\" #\"^(5E)\" #\"^(10FFFF)\""},
        {"%a%20b %\"a b\" %\"a^/b\" %a^b %a:b", "%a%20b %\"a b\" %\"a^(A)b\" %a^b %a :b"},
        {"%%{a}%b}%% %{x}% %{}% %{a\"b}%", "\"a}%b\" \"x\" \"\" \"a\"b\""},
        {"%{a^(tab)}% %%{}%}%%", "\"a^(5E)(tab)\" \"}%\""},
        {"<a> <a href=\"x>y\"> <b c='>'> <é>", "<a> <a href=\"x>y\"> <b c='>'> <^(E9)~2>"},
    };
    expect_loads(cases);
}

TEST(LexerLoad, BinariesAndOtherSharpForms) {
    const LoadCase cases[] = {
        {"#{0A 0b ;c\n FF} 16#{} #{}", "#{0A0BFF} #{} #{}"},
        {"2#{01000001 00000010}", "#{4102}"},
        {"64#{QQ==} 64#{QUJD} 64#{QUI=} 64#{QU\nJD}", "#{41} #{414243} #{4142} #{414243}"},
        {"#(TRUE) #(false) #(none) #(unset) #(integer) #(integer!) #(Point2D)",
         "#(true) #(false) #(none) #(unset) #(integer!) #(integer!) #(point2D!)"},
        {"#abc #a'b", "#abc #a'b"},
        {"http://a.b/c?d=%20 a:b mailto:x@y", "url:http://a.b/c?d=%20 url:a:b url:mailto:x@y"},
        {"a@b.c 1@b a@", "email:a@b.c email:1@b email:a@"},
        {"@ref @ @a.b", "@ref @ @a.b"},
    };
    expect_loads(cases);
}

TEST(LexerLoad, Numbers) {
    const LoadCase cases[] = {
        {"1 -2 +3 0 -0 1'000'000 1'", "1 -2 3 0 0 1000000 1"},
        // beyond 32 bits, or more than 10 digits: a float
        {"2147483647 2147483648 -2147483648 -2147483649", "2147483647 2147483648.0 -2147483648 -2147483649.0"},
        {"12345678901 00000000001 -2'147'483'648", "12345678901.0 1.0 -2147483648.0"},
        {"0Ah FFh 12h FFFFFFFFh 12345678h", "10 255 18 -1 305419896"},
        {"1.5 .5 1. 1e3 1E-3 1'0.5 1.5'5 +.5 -1.5 1.5e+2", "1.5 0.5 1.0 1000.0 0.001 10.5 1.55 0.5 -1.5 150.0"},
        {"1e400 -1e400 1e-400 0.1", "inf -inf 0.0 0.1"},
        {"1.#INF -1.#inf +1.#INF 1.#NaN", "inf -inf inf nan"},
        {"5% -5% 1.5% 0% 50%", "pct:0.05 pct:-0.05 pct:0.015 pct:0.0 pct:0.5"},
        {"1x2 -1x-2 1X2 0x0", "1x2 -1x-2 1x2 0x0"},
        {"1.2.3 0.0.0 255.255.255.255", "tuple:1.2.3 tuple:0.0.0 tuple:255.255.255.255"},
        {"1.2.3.4.5.6.7.8.9.10.11.12", "tuple:1.2.3.4.5.6.7.8.9.10.11.12"},
        {"12:30 1:30:45.5 +1:30 1:30.5 0:0 1:60 1'000:00", "time:45000.0 time:5445.5 time:5400.0 time:90.5 time:0.0 time:7200.0 time:3600000.0"},
        // a negative time is negated once
        {"-1:30 -0:30", "time:-5400.0 time:-1800.0"},
        {"$1.23 USD$1 -$1 +$5 $0.5 $00.5 $0 $1'000.50 $1.12345", "$1.23 USD$1 -$1 $5 $0.5 $0.5 $0 $1000.50 $1.12345"},
    };
    expect_loads(cases);
}

TEST(LexerLoad, Dates) {
    const LoadCase cases[] = {
        {"1-Jan-2000 2000-01-01 1/1/2000", "date:2000-1-1 date:2000-1-1 date:2000-1-1"},
        {"1-Janu-2000 15-December-2020 1-jan-99 1-Jan-099", "date:2000-1-1 date:2020-12-15 date:1999-1-1 date:99-1-1"},
        // two-digit years pivot at 50; the day comes first when the year is plain
        {"1-1-49 1-1-50 10-10-10 29-Feb-2000", "date:2049-1-1 date:1950-1-1 date:2010-10-10 date:2000-2-29"},
        {"1-Jan--2000", "date:-2000-1-1"},
        {"2000-W01-1 2000-W01-7 2009-W01-1 2000-W52", "date:2000-1-3 date:2000-1-9 date:2008-12-29 date:2000-12-25"},
        {"2000-032 2000-366", "date:2000-2-1 date:2000-12-31"},
        {"20000101T120000Z 20000101T120000.5+0530", "date:2000-1-1T43200.0Z0 date:2000-1-1T43200.5Z330"},
        {"1-Jan-2000/10:30 1-jan-2000/10:30Z", "date:2000-1-1T37800.0 date:2000-1-1T37800.0Z0"},
        {"2000-01-01T10:30:15.5+05:30 1-Jan-2000/10:30-8:00", "date:2000-1-1T37815.5Z330 date:2000-1-1T37800.0Z-480"},
    };
    expect_loads(cases);
}

TEST(LexerLoad, SyntaxErrorsCarryTheirCatalogueIds) {
    struct Case { const char* source; ErrorId id; };
    const Case cases[] = {
        {"1''0", ErrorId::syntax_invalid_},
        {"[", ErrorId::syntax_missing_},
        {"#(x)", ErrorId::syntax_malconstruct},
        {"}", ErrorId::syntax_bad_char},
    };
    for (const Case& c : cases) {
        std::string source = c.source;
        Scan scan(test::describing_hooks(), bytes(source), source.size(), Mode::load, false);
        try {
            scan.run();
            ADD_FAILURE() << c.source;
        } catch (const SyntaxError& e) {
            EXPECT_EQ(e.error_id(), c.id) << c.source;
        }
    }
}

TEST(LexerLoad, NewLineFlagAndLineNumbers) {
    EXPECT_EQ(test::load("a\nb [\n c]\n{x}\n(1, 2) \"s\"", true), "a |b [|c] |\"x\" |(1.0, 2.0) \"s\"");
    EXPECT_EQ(test::load("a/b\n'c/d", true), "a/b |'c/d");
    EXPECT_EQ(test::load("[a\n\n1''0]"), "error: (line 3) invalid integer! at 1''0]");
    EXPECT_EQ(test::load("{a\nb\n} \"x\ny\""), "error: (line 3) invalid string! at \"x");
    EXPECT_EQ(test::load("%{\n\n}% 1''0"), "error: (line 3) invalid integer! at 1''0");
    EXPECT_EQ(test::load("64#{QQ\n==} 1''0"), "error: (line 2) invalid integer! at 1''0");
}

TEST(LexerLoad, SyntaxErrors) {
    const LoadCase cases[] = {
        // containers
        {"[a", "error: (line 1) missing ] at [a"},
        {"a]", "error: (line 1) missing [ at a]"},
        {"(a", "error: (line 1) missing ) at (a"},
        {"a)", "error: (line 1) missing ( at a)"},
        {"[a)", "error: (line 1) missing ( at [a)"},
        {"(a]", "error: (line 1) missing [ at (a]"},
        {"[x #[a", "error: (line 1) missing ] at #[a"},
        {"#[a 1 b]", "error: (line 1) invalid map! at #[a 1 b]"},
        {"(1 + x , 2)", "error: (line 1) missing ( at (1 + x , 2)"},
        {", a", "error: (line 1) invalid point2D! at , a"},
        {"[a , b]", "error: (line 1) invalid point2D! at , b]"},
        {"(a, b)", "error: (line 1) invalid float! at a, b)"},
        {"(1,2,3,4)", "error: (line 1) invalid point3D! at 1,2,3,4)"},
        {"(1 2, 3)", "error: (line 1) invalid point2D! at 1 2, 3)"},
        {"(1, 2", "error: (line 1) invalid point2D! at 1, 2"},
        {"(1,2", "error: (line 1) missing ) at (1,2"},
        {"(1, a/b)", "error: (line 1) invalid point2D! at 1, a/b)"},
        {"(x , a/b)", "error: (line 1) invalid point2D! at (x , a/b)"},
        // paths
        {"a/b:/c", "error: (line 1) invalid path! at a/b:/c"},
        {"a/", "error: (line 1) invalid path! at a/"},
        {"a/b}", "error: (line 1) invalid path! at a/b}"},
        {"a/[b]", "error: (line 1) invalid path! at a/[b]"},
        {"'a/b:", "error: (line 1) invalid character at 'a/b:"},
        {"[x a/b c", "error: (line 1) missing ] at [x a/b c"},
        // braced and other strings
        {"{abc", "error: (line 1) invalid string! at {abc"},
        {"x {a{b}", "error: (line 1) invalid string! at {a{b}"},
        {"{a^", "error: (line 1) invalid string! at {a^"},
        {"\"abc", "error: (line 1) invalid string! at \"abc"},
        {"\"ab\ncd\"", "error: (line 1) invalid string! at \"ab"},
        {"\"^(1234567)\"", "error: (line 1) invalid string! at \"^(1234567)\""},
        {"\"a^(110000)\"", "error: (line 1) invalid string! at \"a^(110000)\""},
        {"\"^(\" \"^(12\" \"a^(zz)b\"", "error: (line 1) invalid string! at \"^(\" \"^(12\" \"a^(zz)b\""},
        {"\"\xC3\x28\"", "error: (line 1) invalid string! at \"\xC3(\""},
        {"\"\xED\xA0\x80\"", "error: (line 1) invalid string! at \"\xED\xA0\x80\""},
        {"%{a}%% %{a}%x %{abc", "error: (line 1) invalid string! at %{a}%% %{a}%x %{abc"},
        {"%\"ab", "error: (line 1) invalid file! at %\"ab"},
        {"%\"a^(zz)\"", "error: (line 1) invalid file! at %\"a^(zz)\""},
        {"#\"\" #\"ab\"", "error: (line 1) invalid char! at #\"\" #\"ab\""},
        {"#\"^(110000)\"", "error: (line 1) invalid char! at #\"^(110000)\""},
        {"2#{0100000}", "error: (line 1) invalid binary! at 2#{0100000}"},
        {"64#{QQ} 64#{Q===} 16#{0} 8#{00} 016#{00} #{0g}",
         "error: (line 1) invalid binary! at 64#{QQ} 64#{Q===} 16#{0} 8#{00"},
        {"#{'}", "error: (line 1) invalid binary! at #{'}"},
        {"<a", "error: (line 1) invalid tag! at <a"},
        // words and sharp forms
        {"a,b", "error: (line 1) invalid word! at a,b"},
        {":a:", "error: (line 1) invalid word! at :a:"},
        {"'a:", "error: (line 1) invalid lit-word! at 'a:"},
        {"+:a", "error: (line 1) invalid word! at +:a"},
        {":a:b", "error: (line 1) invalid get-word! at :a:b"},
        {"'a:b", "error: (line 1) invalid lit-word! at 'a:b"},
        {"/a:", "error: (line 1) invalid refinement! at /a:"},
        {"'/a", "error: (line 1) invalid refinement! at '/a"},
        {"# #a/b", "error: (line 1) invalid issue! at # #a/b"},
        {"#a:b", "error: (line 1) invalid issue! at #a:b"},
        {"#(int)", "error: (line 1) invalid construction spec at #(int)"},
        {"#(none", "error: (line 1) invalid datatype! at #(none"},
        {"a@b@c", "error: (line 1) invalid email! at a@b@c"},
        {"@a@b", "error: (line 1) invalid ref! at @a@b"},
        {"http://a^b", "error: (line 1) invalid url! at http://a^b"},
        {"}", "error: (line 1) invalid character at }"},
        {"a \\b", "error: (line 1) invalid character at \\b"},
        {"\xFF", "error: (line 1) invalid character at \xFF"},
        {"\x80", "error: (line 1) invalid character at \x80"},
        {"\xC2\x41", "error: (line 1) invalid word! at \xC2\x41"},
        // numbers
        {"1''0", "error: (line 1) invalid integer! at 1''0"},
        {"12x", "error: (line 1) invalid pair! at 12x"},
        {"1.5x2 1x2.5", "error: (line 1) invalid pair! at 1.5x2 1x2.5"},
        {"99999999999x1", "error: (line 1) invalid pair! at 99999999999x1"},
        {"1x2e3", "error: (line 1) invalid pair! at 1x2e3"},
        {"1e", "error: (line 1) invalid float! at 1e"},
        {"1.e5", "error: (line 1) invalid float! at 1.e5"},
        {"1..2", "error: (line 1) invalid float! at 1..2"},
        {"1.#INX 2.#INF", "error: (line 1) invalid float! at 1.#INX 2.#INF"},
        {"1e%", "error: (line 1) invalid float! at 1e%"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", "error: (line 1) invalid tuple! at 1.2.3.4.5.6.7.8.9.10.11.12.13"},
        {"1.256.3", "error: (line 1) invalid tuple! at 1.256.3"},
        {"1.2..3", "error: (line 1) invalid tuple! at 1.2..3"},
        {"1.2.", "error: (line 1) invalid tuple! at 1.2."},
        {"1:30:", "error: (line 1) invalid time! at 1:30:"},
        {"99999999999:00", "error: (line 1) invalid time! at 99999999999:00"},
        {"1:2:3:4", "error: (line 1) invalid time! at 1:2:3:4"},
        {"1:30:45,5", "error: (line 1) invalid time! at 1:30:45,5"},
        {"Ah", "error: (line 1) invalid word! at Ah"},
        {"1h 123456789h +0Ah 1'2h", "error: (line 1) invalid integer! at 1h 123456789h +0Ah 1'2h"},
        {"$1.123456", "error: (line 1) invalid money! at $1.123456"},
        {"$1234567890123456789", "error: (line 1) invalid money! at $1234567890123456789"},
        {"$'1", "error: (line 1) invalid money! at $'1"},
        {"$1''0 $1' $1. USD$ ABCD$1", "error: (line 1) invalid money! at $1''0 $1' $1. USD$ ABCD$1"},
        // dates
        {"29-Feb-2001", "error: (line 1) invalid date! at 29-Feb-2001"},
        {"31-Apr-2000 1-Ja-2000", "error: (line 1) invalid date! at 31-Apr-2000 1-Ja-2000"},
        {"1-Jan/2000", "error: (line 1) invalid date! at 1-Jan/2000"},
        {"1-Decembers-2020", "error: (line 1) invalid date! at 1-Decembers-2020"},
        {"2001-366", "error: (line 1) invalid date! at 2001-366"},
        {"2000-000", "error: (line 1) invalid date! at 2000-000"},
        {"-1-Jan-2000", "error: (line 1) invalid date! at -1-Jan-2000"},
        {"1-Jan-2000/24:00", "error: (line 1) invalid date! at 1-Jan-2000/24:00"},
        {"1-Jan-2000/10:30+16:00", "error: (line 1) invalid date! at 1-Jan-2000/10:30+16:00"},
        {"1-Jan-10000", "error: (line 1) invalid date! at 1-Jan-10000"},
        // the near text stops at a line feed or after about 30 bytes of whole characters
        {"1''0 aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "error: (line 1) invalid integer! at 1''0 aaaaaaaaaaaaaaaaaaaaaaaaa"},
        {"1''0 aaaaaaaaaaaaaaaaaaaaaaaaé", "error: (line 1) invalid integer! at 1''0 aaaaaaaaaaaaaaaaaaaaaaaaé"},
    };
    expect_loads(cases);
}

}  // namespace kiv::lexer
