// Loading source text into values: each literal loads and molds back, each
// malformed text raises its syntax error with the line and the text near it,
// and the scan entries (modes, /next, /part, /into, byte-order marks,
// callbacks) deliver what `transcode` promises.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/datatypes/function.h"
#include "runtime/evaluator/eval-api.h"
#include "runtime/evaluator/lexer-loaders.h"
#include "tests/unit/load-support.h"

namespace kiv {

using namespace test;

namespace {

class Loaders : public LoadTest {};

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace

TEST_F(Loaders, LiteralsLoadAndMoldBack) {
    struct Case { const char* source; const char* molded; };
    const Case cases[] = {
        // words of every kind, and the words made of symbols
        {"a 'b :c d: /e #f", "a 'b :c d: /e #f"},
        {"/ '/ :/ /: < <= <> << <- > >= % + -", "/ '/ :/ /: < <= <> << <- > >= % + -"},
        {"Abc abc ABC", "Abc abc ABC"},
        {"#a-b #1", "#a-b #1"},
        // strings: escapes, braces, widths
        {R"~("x^/y^-^(tab)^(TAB)^(41)^(line)^^^"^@^a")~", R"~({x^/y^-^-^-A^/^^"^@^A})~"},
        {R"~("^(1F600)" "é" "€")~", "\"\xF0\x9F\x98\x80\" \"\xC3\xA9\" \"\xE2\x82\xAC\""},
        {"{a{b}c} {a^}b} {}", R"("a{b}c" "a}b" "")"},
        {"%%{a}%b}%% %{a^/b}%", R"("a}%b" "a^^/b")"},
        // chars, files, urls
        {R"~(#"a" #"^(line)" #"^"" #"^(1F600)")~", "#\"a\" #\"^/\" #\"^\"\" #\"\xF0\x9F\x98\x80\""},
        {R"(%a/b.txt %a%20b %"a b" %"a^/b")", R"(%a/b.txt %"a b" %"a b" %"a^/b")"},
        {"http://x.y/a?b=1 ftp://u@h mailto:a", "http://x.y/a?b=1 ftp://u@h mailto:a"},
        // numbers
        {"1 -2 +3 -0 1'000'000 FFh 0Ah", "1 -2 3 0 1000000 255 10"},
        {"2147483647 2147483648 -2147483648 12345678901", "2147483647 2147483648.0 -2147483648 12345678901.0"},
        {"1.5 1e3 .5 1'0.5 -1.5E-2", "1.5 1000.0 0.5 10.5 -0.015"},
        {"1.#INF -1.#inf 1.#NaN", "1.#INF -1.#INF 1.#NaN"},
        {"5% 1.5% -10%", "5% 1.5% -10%"},
        {"1:30 -1:30 1:30:45.5 1:30.5 0:0:0.25", "1:30:00 -1:30:00 1:30:45.5 0:01:30.5 0:00:00.25"},
        // constructs
        {"#(true) #(FALSE) #(none) #(integer!) #(Block)", "true false none integer! block!"},
        // the compound scalars
        {"1.2.3.4.5.6.7.8.9.10.11.12", "1.2.3.4.5.6.7.8.9.10.11.12"},
        {"1x2 1.2.3 #{0A0B} 64#{QQ==} <a href=\">\"> a@b.c @r (1, 2) (1,2,3)",
         "1x2 1.2.3 #{0A0B} #{41} <a href=\">\"> a@b.c @r (1, 2) (1, 2, 3)"},
        // dates, money, maps
        {"1-Jan-2000 2000-01-02 1/3/2000 1-1-49 1-1-50", "1-Jan-2000 2-Jan-2000 1-Mar-2000 1-Jan-2049 1-Jan-1950"},
        {"$1.50 USD$2 -$0.01", "$1.50 USD$2.00 -$0.01"},
        {"#[a 1 \"b\" [c]]", "#[\n    a: 1\n    \"b\" [c]\n]"},
        // containers and paths
        {"[1 (2 3)] [] () [[[]]]", "[1 (2 3)] [] () [[[]]]"},
        {"a/b/c 'a/b :a/b a/b: a/1/(b)/\"c\" a/b/:c", "a/b/c 'a/b :a/b a/b: a/1/(b)/\"c\" a/b/:c"},
        // line breaks before values are kept
        {"[a\nb]\n[\nc]", "[a\n    b\n]\n[\n    c\n]"},
        // comments and Unicode blanks are no values
        {"a ; note\nb", "a\nb"},
        {"\xC2\xA0" "a\xE3\x80\x80" "b", "a b"},
    };
    for (const Case& c : cases) EXPECT_EQ(load_mold(c.source), c.molded) << c.source;
}

TEST_F(Loaders, LoadedValuesHaveTheirDatatypes) {
    struct Case { const char* source; Type type; };
    const Case cases[] = {
        {"a", Type::word},         {"a:", Type::set_word},     {"'a", Type::lit_word},
        {":a", Type::get_word},    {"/a", Type::refinement},   {"#a", Type::issue},
        {"\"a\"", Type::string},   {"{a}", Type::string},      {"%{a}%", Type::string},
        {"%a", Type::file},        {"a:b", Type::url},         {"#\"a\"", Type::char_},
        {"1", Type::integer},      {"1Ah", Type::integer},     {"9999999999", Type::float_},
        {"1.0", Type::float_},     {"1%", Type::percent},      {"1:00", Type::time},
        {"#(none)", Type::none},   {"#(unset)", Type::unset},  {"#(true)", Type::logic},
        {"#(url!)", Type::datatype}, {"(a)", Type::paren},     {"a/b", Type::path},
        {"'a/b", Type::lit_path},  {":a/b", Type::get_path},   {"a/b:", Type::set_path},
    };
    for (const Case& c : cases) {
        Cell b = load(c.source);
        ASSERT_EQ(block::ks_length(&b), 1) << c.source;
        EXPECT_EQ(block::ks_head(&b)->type(), c.type) << c.source;
    }
}

TEST_F(Loaders, WordsShareTheirGlobalWord) {
    Cell b = load("abc abc: 'abc");
    const Cell* v = block::ks_head(&b);
    EXPECT_EQ(v[0].data2, v[1].data2);
    EXPECT_EQ(v[0].data3, v[2].data3);
    EXPECT_EQ(v[0].data1, context::global());
}

TEST_F(Loaders, SyntaxErrorsNameTheirLineAndText) {
    struct Case { const char* source; const char* message; };
    const Case cases[] = {
        {"1''0", "(line 1) invalid integer at 1''0"},
        {"a\nb\n 1''0 c", "(line 3) invalid integer at 1''0 c"},
        {"[a", "(line 1) missing ] at [a"},
        {"a]", "(line 1) missing [ at a]"},
        {"(a", "(line 1) missing ) at (a"},
        {"[a)", "(line 1) missing ( at [a)"},
        {"a\n[b\n(c", "(line 3) missing ) at (c"},
        {"(1 + x , 2)", "(line 1) missing ( at (1 + x , 2)"},
        {"}", "(line 1) invalid character at }"},
        {"#(int)", "(line 1) invalid construction spec at #(int)"},
        {"\"ab", "(line 1) invalid string at \"ab"},
        {"\"a\nb\"", "(line 1) invalid string at \"a"},
        {"{ab", "(line 1) invalid string at {ab"},
        {"\"^(1234567)\"", "(line 1) invalid string at \"^(1234567)\""},
        {"\"^(110000)\"", "(line 1) invalid string at \"^(110000)\""},
        {"%{abc", "(line 1) invalid string at %{abc"},
        {"#\"\" ", "(line 1) invalid char at #\"\" "},
        {"#\"ab\"", "(line 1) invalid char at #\"ab\""},
        {"#", "(line 1) invalid issue at #"},
        {"'a:", "(line 1) invalid lit-word at 'a:"},
        {":a:", "(line 1) invalid word at :a:"},
        {"1..2", "(line 1) invalid float at 1..2"},
        {"1.#INX", "(line 1) invalid float at 1.#INX"},
        {"12x", "(line 1) invalid pair at 12x"},
        {"1.5x2", "(line 1) invalid pair at 1.5x2"},
        {"1.256.3", "(line 1) invalid tuple at 1.256.3"},
        {"1.2.3.4.5.6.7.8.9.10.11.12.13", "(line 1) invalid tuple at 1.2.3.4.5.6.7.8.9.10.11.12.13"},
        {"29-Feb-2001", "(line 1) invalid date at 29-Feb-2001"},
        {"$1.123456", "(line 1) invalid money at $1.123456"},
        {"#[a 1 b]", "(line 1) invalid map at #[a 1 b]"},
        {"2#{0100000}", "(line 1) invalid binary at 2#{0100000}"},
        {",", "(line 1) invalid point2D at ,"},
        {"a/b:/c", "(line 1) invalid path at a/b:/c"},
        {"a/", "(line 1) invalid path at a/"},
        // the near text stops at the line's end or after about 30 bytes
        {"x 1''0 123456789012345678901234567890", "(line 1) invalid integer at 1''0 1234567890123456789012345"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(first_line(load_mold(c.source)), std::string("*** Syntax Error: ") + c.message) << c.source;
}

// Datatypes that are not registered fail clearly.
class WithoutSomeTypes : public Loaders {
protected:
    void SetUp() override { start_load_runtime(false); }
};

TEST_F(WithoutSomeTypes, TokensOfDatatypesNotBuiltRaise) {
    struct Case { const char* source; const char* message; };
    const Case cases[] = {
        {"1-Jan-2000", "(line 1) invalid date at 1-Jan-2000"},
        {"$1.50", "(line 1) invalid money at $1.50"},
        {"#[a 1]", "(line 1) invalid map at #[a 1]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(first_line(load_mold(c.source)), std::string("*** Syntax Error: ") + c.message) << c.source;
}

TEST_F(Loaders, MapLiteralsGoThroughTheInstalledMaker) {
    // A stand-in maker: a map of two keys becomes the integer 2.
    lexer::install_map_maker([](const Cell* items, std::int32_t count, Cell* out) {
        if (count % 2 != 0 || !items[0].is(Type::word)) return false;
        *out = Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(count / 2), 0};
        return true;
    });
    struct Case { const char* source; const char* result; };
    const Case cases[] = {
        {"[#[a 1 b 2]]", "[2]"},
        {"#[a 1 b]", "*** Syntax Error: (line 1) invalid map at #[a 1 b]"},
        {"#[1 a]", "*** Syntax Error: (line 1) invalid map at #[1 a]"},
        {"#[a 1)", "*** Syntax Error: (line 1) missing ( at #[a 1)"},
    };
    for (const Case& c : cases) EXPECT_EQ(first_line(load_mold(c.source)), c.result) << c.source;
    lexer::install_map_maker(map::make_from_items);
}

// ---------------------------------------------------------------------------
// transcode

namespace {

struct Transcoded {
    Cell result;
    std::string molded;
};

Transcoded transcode(Cell src, const lexer::TranscodeRefinements& r = {}) {
    Transcoded t;
    EXPECT_EQ(lexer::transcode_native(&src, r, &t.result), Status::ok);
    t.molded = mold(t.result);
    return t;
}

Cell bytes_of(const std::string& s) {
    Cell b;
    binary::load_at(&b, reinterpret_cast<const std::uint8_t*>(s.data()), static_cast<std::int64_t>(s.size()));
    return b;
}

}  // namespace

TEST_F(Loaders, TranscodeModes) {
    lexer::TranscodeRefinements scan;
    scan.scan = true;
    lexer::TranscodeRefinements prescan;
    prescan.prescan = true;
    struct Case { const char* source; const lexer::TranscodeRefinements* r; const char* molded; };
    const Case cases[] = {
        {"12x", &scan, "error!"},        {"1x2", &scan, "pair!"},         {"", &prescan, "none"},
        {"", &scan, "none"},             {"  ", &scan, "none"},           {"[a b]", &scan, "block!"},
        {"\"ab", &prescan, "error!"},    {"abc def", &scan, "word!"},     {"1-Jan-2000", &scan, "date!"},
        {"#[a 1]", &scan, "map!"},
        {"a b", nullptr, "[a b]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(transcode(string_of(c.source), c.r ? *c.r : lexer::TranscodeRefinements{}).molded, c.molded)
            << c.source;
    }
}

TEST_F(Loaders, TranscodeNextOnePartInto) {
    lexer::TranscodeRefinements next;
    next.next = true;
    EXPECT_EQ(transcode(string_of("[a] b c"), next).molded, R"([[a] " b c"])");
    EXPECT_EQ(transcode(string_of("é b"), next).molded, R"([é " b"])");
    EXPECT_EQ(transcode(bytes_of("1 2"), next).molded, "[1 #{2032}]");

    lexer::TranscodeRefinements one;
    one.one = true;
    EXPECT_EQ(transcode(string_of("x y"), one).molded, "x");

    Cell part = integer::make_cell(3);
    lexer::TranscodeRefinements r;
    r.part = &part;
    EXPECT_EQ(transcode(string_of("éé 1 2"), r).molded, "[éé]");
    Cell src = string_of("1 2 3");
    Cell at = src;
    at.data1 = 3;
    r.part = &at;
    EXPECT_EQ(transcode(src, r).molded, "[1 2]");
    Cell other = bytes_of("1");
    r.part = &other;
    EXPECT_EQ(error_in_try([&] { transcode(src, r); }), ErrorId::script_not_same_type);

    Cell into = load("x");
    lexer::TranscodeRefinements i;
    i.into = &into;
    EXPECT_EQ(transcode(string_of("y z"), i).molded, "[x y z]");
}

TEST_F(Loaders, BinarySourcesAreBytes) {
    // Bytes that start no UTF-8 sequence reach the lexer only from a binary.
    Cell caught;
    ASSERT_EQ(error_in_try([&] { transcode(bytes_of("a \xFF")); }, &caught), ErrorId::syntax_bad_char);
    EXPECT_EQ(first_line(error_text(caught)), "*** Syntax Error: (line 1) invalid character at \xC3\xBF");
    lexer::TranscodeRefinements next;
    next.next = true;
    EXPECT_EQ(transcode(bytes_of("\xC3\xA9 b"), next).molded, "[\xC3\xA9 #{2062}]");
}

TEST_F(Loaders, TranscodeSkipsAByteOrderMarkOnBinaries) {
    EXPECT_EQ(transcode(bytes_of("\xEF\xBB\xBF" "a 1")).molded, "[a 1]");
    lexer::TranscodeRefinements next;
    next.next = true;
    EXPECT_EQ(transcode(bytes_of("\xEF\xBB\xBF" "a 1"), next).molded, "[a #{2031}]");
}

// ---------------------------------------------------------------------------
// Callbacks

namespace {

// A stand-in for the interpreter's call: records each event as "event type
// token line @index" and answers what `decide` says; `decide` may move the
// input (the frame's cell 1).
struct Recorder {
    std::vector<std::string> events;
    bool (*decide)(Cell* args) = nullptr;
};
Recorder* recorder = nullptr;

Status record_call(Cell*, const Cell* name, const Cell* args, std::int32_t count, Cell* result) {
    EXPECT_EQ(symbol::text(name->data2), "<lexer-callback>");
    EXPECT_GE(count, 5);
    Cell* a = const_cast<Cell*>(args);
    recorder->events.push_back(form(a[0]) + " " + mold(a[2]) + " " + mold(a[4]) + " " + mold(a[3]) + " @" +
                               std::to_string(a[1].data1));
    const bool answer = recorder->decide ? recorder->decide(a) : true;
    logic::make_at(result, answer);
    return Status::ok;
}

class Callbacks : public Loaders {
protected:
    void SetUp() override {
        Loaders::SetUp();
        recorder = &rec;
        before = eval::install(eval::Entries{nullptr, record_call});
    }
    void TearDown() override {
        eval::install(before);
        recorder = nullptr;
        Loaders::TearDown();
    }

    // A function whose body begins with `body`.
    Cell callback(const char* body) {
        Cell spec = load("event input type line token");
        Cell code = load(body);
        Cell f;
        function::make_at(&f, &spec, &code, 0, 0, 0);
        return f;
    }

    std::string trace(const char* source, const char* body = "print 1") {
        Cell f = callback(body);
        lexer::TranscodeRefinements r;
        r.trace = &f;
        Cell src = string_of(source);
        Cell caught;
        std::string out;
        const ErrorId id = error_in_try([&] { out = transcode(src, r).molded; }, &caught);
        return id == ErrorId::count_ ? out : first_line(error_text(caught));
    }

    Recorder rec;
    eval::Entries before;
};

}  // namespace

TEST_F(Callbacks, EveryEventInOrder) {
    EXPECT_EQ(trace("[a \"é\"] x"), "[[a \"é\"] x]");
    const std::vector<std::string> expected = {
        "open block! 1x2 1 @0",      "scan word! 2x3 1 @2",       "load word! a 1 @2",
        "scan string! 4x6 1 @6",     "load string! \"é\" 1 @6",   "close block! 7x8 1 @7",
        "scan word! 9x10 1 @9",      "load word! x 1 @9",
    };
    EXPECT_EQ(rec.events, expected);
}

TEST_F(Callbacks, ABlockAtTheBodyStartSelectsTheEvents) {
    EXPECT_EQ(trace("[a] (b)", "[open close error] print 1"), "[[a] (b)]");
    const std::vector<std::string> expected = {
        "open block! 1x2 1 @0", "close block! 3x4 1 @3", "open paren! 5x6 1 @4", "close paren! 7x8 1 @7",
    };
    EXPECT_EQ(rec.events, expected);
    Cell body = load("[[load other] x]");
    EXPECT_EQ(lexer::event_mask_of(block::ks_head(&body)), lexer::ev_load);
}

TEST_F(Callbacks, AnErrorRefusedWithTheInputMovedIsSkipped) {
    rec.decide = [](Cell* args) {
        if (form(args[0]) != "error") return true;
        args[1].data1 += 1;  // one character on, as a tracer does
        return false;
    };
    EXPECT_EQ(trace("a 1''0 b", "[error] x"), "[a b]");
    ASSERT_EQ(rec.events.size(), 1u);
    EXPECT_EQ(rec.events[0], "error integer! 3x7 1 @6");
}

TEST_F(Callbacks, AnErrorAcceptedIsRaised) {
    EXPECT_EQ(trace("a\n1''0", "[error] x"), "*** Syntax Error: (line 2) invalid integer at 1''0");
}

TEST_F(Callbacks, ALoadRefusedDropsTheValue) {
    rec.decide = [](Cell* args) { return !(form(args[0]) == "load" && args[4].is(Type::integer)); };
    EXPECT_EQ(trace("a 1 [2 b]", "[load] x"), "[a [b]]");
}

TEST_F(Callbacks, ExitStatesNameTheKindsWithoutADatatype) {
    Cell states;
    lexer::make_exit_states(&states);
    EXPECT_EQ(block::ks_length(&states), 34);
    EXPECT_EQ(mold(*block::ks_abs_at(&states, 0)), "eof");
    EXPECT_EQ(mold(*block::ks_abs_at(&states, 11)), "comment");
    EXPECT_EQ(mold(*block::ks_abs_at(&states, 33)), "ref!");
}

// ---------------------------------------------------------------------------
// Hooks and sizes

TEST_F(Loaders, WordsAndBlocksLoadFromText) {
    Cell text = string_of("a [b] 1");
    Cell out;
    block::to(&out, &text, Type::block);
    EXPECT_EQ(mold(out), "[a [b] 1]");
    Cell name = string_of("set-me:");
    Cell w;
    word::make(&w, &name, Type::word);
    EXPECT_EQ(mold(w), "set-me");
    Cell two = string_of("a b");
    EXPECT_EQ(error_in_try([&] { word::make(&w, &two, Type::word); }), ErrorId::script_invalid_chars);
}

TEST_F(Loaders, LongTextsLeaveTheScratchBuffer) {
    // Longer than the scratch buffer, and scanned again from inside a scan
    // of text (a nested scan takes the next region).
    std::string text = "[";
    for (int i = 0; i < 30000; ++i) text += "abc \"é\" ";
    text += "]";
    Cell b = load(text);
    Cell inner = *block::ks_head(&b);
    EXPECT_EQ(block::ks_length(&inner), 60000);
    EXPECT_EQ(mold(*block::ks_abs_at(&inner, 59999)), "\"é\"");
}

}  // namespace kiv
