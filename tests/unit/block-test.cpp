// block!, paren! and issue!: making, text forms, comparison, path access,
// copying, modification and search.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "runtime/cycles.h"
#include "runtime/hashtable.h"
#include "runtime/state.h"
#include "tests/unit/block-support.h"

namespace kiv {
namespace {

using test::at;
using test::error_of;
using test::integer;
using test::load;
using test::mold;
using test::mold_with;
using test::value;

class Block : public test::BlockTest {};

Cell make(Cell spec, Type type = Type::block) {
    Cell out;
    return *block::make(&out, &spec, type);
}
Cell to(Cell spec, Type type = Type::block) {
    Cell out;
    return *block::to(&out, &spec, type);
}
Cell copy(Cell s, bool deep = false, Cell* types = nullptr) {
    Cell out;
    return *registry::find<Action::copy>(&s)(&s, &out, nullptr, deep, types);
}
Cell insert(Cell s, Cell v, int part = -1, bool only = false, int dup = 1, bool append = false) {
    return *registry::find<Action::insert>(&s)(&s, &v, part, only, dup, append);
}
Cell append(Cell s, Cell v, int part = -1, bool only = false, int dup = 1) {
    return insert(s, v, part, only, dup, true);
}
Cell change(Cell s, Cell v, int part = -1, bool only = false, int dup = 1) {
    return *registry::find<Action::change>(&s)(&s, &v, part, only, dup);
}
Cell float_of(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof d);
    return Cell{static_cast<std::uint32_t>(Type::float_), 0, static_cast<std::uint32_t>(bits),
                static_cast<std::uint32_t>(bits >> 32)};
}
std::uint32_t capacity(const Cell& b) { return block::buffer(&b)->size / sizeof(Cell); }

// ---------------------------------------------------------------------------
// Making and converting.

TEST_F(Block, MakeAndTo) {
    struct Size {
        Cell spec;
        std::uint32_t room;
    } sizes[] = {{integer(0), 1}, {integer(-5), 1}, {integer(10), 10}, {float_of(2.9), 2}};
    for (const Size& s : sizes) {
        Cell b = make(s.spec);
        EXPECT_EQ(mold(b), "[]");
        EXPECT_EQ(capacity(b), s.room);
    }
    EXPECT_EQ(error_of([] { make(float_of(3e10)); }), ErrorId::script_out_of_range);
    EXPECT_EQ(error_of([] { make(test::word_of("x")); }), ErrorId::script_bad_make_arg);

    Cell source = value("[a b c]");
    Cell made = make(at(source, 2));
    EXPECT_EQ(mold(made), "[b c]");
    EXPECT_NE(made.data2, source.data2);
    EXPECT_EQ(mold(make(source, Type::paren)), "(a b c)");

    EXPECT_EQ(mold(to(integer(5))), "[5]");
    Cell paren = to(value("(a b)"));
    EXPECT_TRUE(paren.is(Type::block));
    EXPECT_EQ(mold(paren), "[a b]");
    Cell set;
    typeset::make_at(&set, 0, 0, 0);
    typeset::set_bit(&set, static_cast<std::uint32_t>(Type::none));
    typeset::set_bit(&set, static_cast<std::uint32_t>(Type::block));
    EXPECT_EQ(mold(to(set)), "[none! block!]");

    // Without a lexer installed (the lexer's start-up installs one).
    const block::LoadText installed = block::load_text_hook;
    block::load_text_hook = nullptr;
    EXPECT_EQ(error_of([] { to(test::string_of("a")); }), ErrorId::internal_not_done);
    block::load_text_hook = [](const Cell* text, Cell* out) {
        *out = load(string::to_utf8(text).c_str());
    };
    EXPECT_EQ(mold(to(test::string_of("a [b] 1"))), "[a [b] 1]");
    block::load_text_hook = installed;
}

// ---------------------------------------------------------------------------
// The routines the runtime builds blocks with.

TEST_F(Block, Routines) {
    Cell b = value("[a b]");
    Cell x = test::word_of("x");
    block::insert_value(&b, &x, true, false);
    EXPECT_EQ(mold(b), "[a b]") << "advanced past the inserted value";
    block::insert_value(&b, block::ks_abs_at(&b, 2), false, true);
    series::set_head(&b, 0);
    EXPECT_EQ(mold(b), "[b x a b]") << "a value from the same block, before the first cell";
    Cell rest = at(b, 3);
    block::insert_block(&rest, &b);
    EXPECT_EQ(mold(rest), "[a b]");
    EXPECT_EQ(mold(at(b, 1)), "[b x b x a b a b]");
    block::ks_append_block(&b, &rest);
    EXPECT_EQ(block::ks_length(&b), 10);
    block::ks_truncate(&b, 3);
    EXPECT_TRUE(block::remove_value(&b, &x, true));
    EXPECT_FALSE(block::remove_value(&b, &x, true));
    EXPECT_EQ(mold(b), "[b b]");

    Cell words = value("[a 1 b: 2 'c 3 d]");
    auto select_word = [&](const char* name, bool exact) {
        const Cell w = test::word_of(name);
        return mold(*block::select_word(&words, &w, exact));
    };
    EXPECT_EQ(select_word("B", false), "2");
    EXPECT_EQ(select_word("B", true), "none");
    EXPECT_EQ(select_word("c", true), "3");
    EXPECT_EQ(select_word("d", false), "none") << "the match is the last cell";
    const Cell a = test::word_of("a");
    EXPECT_EQ(mold(*block::select_value(&words, &a)), "1");

    Cell late = at(words, 7);
    block::ks_truncate(&words, 2);
    EXPECT_EQ(block::ks_length(&late), -4);
    EXPECT_EQ(block::ks_head(&late), block::ks_tail(&words));
    EXPECT_EQ(series::head(&late), 2);
    EXPECT_TRUE(block::move_next(&late));
}

TEST_F(Block, MadeBlocksSurviveCollections) {
    Cell root;
    block::make_at_fixed(&root, 8, true);
    EXPECT_TRUE(block::buffer(&root)->flags & memory::series_flag::fixed);
    Cell* stack = block::make_fixed_in(&root, 100);
    const memory::SeriesBuffer* fixed = block::buffer(stack);
    Cell movable;
    block::make_at_fixed(&movable, 3, false);
    EXPECT_TRUE(block::buffer(&movable)->cells()[2].is(Type::unset));
    // The scratch cell is a root: what it holds outlives every other name.
    Cell* scratch = block::make_in(nullptr, 2);
    Cell word = test::word_of("kept");
    Cell inner = value("[deep]");
    block::ks_append(scratch, &word);
    block::ks_append(scratch, &inner);
    scratch = nullptr;
    inner = Cell{};
    test::collect();
    test::collect();
    EXPECT_EQ(block::buffer(block::ks_abs_at(&root, 0)), fixed);
    EXPECT_EQ(mold(state.block_scratch), "[kept [deep]]");
    test::expect_heap_sound();
}

// ---------------------------------------------------------------------------
// Text forms.

TEST_F(Block, MoldLayout) {
    struct Case {
        const char* source;
        bool only;
        bool flat;
        const char* expected;
    } cases[] = {
        {"[a b]", false, false, "[a b]"},
        {"[]", false, false, "[]"},
        {"[a\nb]", false, false, "[a\n    b\n]"},
        {"[\na\nb]", false, false, "[\n    a\n    b\n]"},
        {"[\na b\nc]", false, false, "[\n    a b\n    c\n]"},
        {"[x [\na\nb]]", false, false, "[x [\n    a\n    b\n]]"},
        {"[\nx [\na]]", false, false, "[\n    x [\n        a\n    ]\n]"},
        {"[\na\nb]", false, true, "[a b]"},
        {"[a b]", true, false, "a b"},
        {"[\na\nb]", true, false, "a\nb"},
        {"[a #b 'c d: /e]", false, false, "[a #b 'c d: /e]"},
        {"(1 + 2)", false, false, "(1 + 2)"},
        {"(1 + 2)", true, false, "1 + 2"},
        {"(\na\nb)", false, false, "(\n    a\n    b\n)"},
        {"[(a) [b (c)]]", false, false, "[(a) [b (c)]]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mold_with(value(c.source), c.only, c.flat), c.expected) << c.source;
}

TEST_F(Block, MoldStopsWhenThePartBudgetIsSpent) {
    Cell b;
    block::make_at(&b, 1000);
    for (int i = 0; i < 1000; ++i) {
        Cell w = test::word_of("word");
        block::ks_append(&b, &w);
    }
    Cell out;
    string::make_at(&out, 16);
    Cell limit = integer(10);
    const int left = block::mold(&b, &out, false, false, false, &limit, 10, 0);
    EXPECT_LT(left, 0);
    EXPECT_LT(string::ks_length(&out), 20) << "the caller cuts the text; the walk stops early";
}

TEST_F(Block, Form) {
    Cell b = load("1 [2 3] \"x\"");
    EXPECT_EQ(test::form(b), "1 2 3 x");
    EXPECT_EQ(test::form(value("[]")), "");
    EXPECT_EQ(test::form(value("(a b)")), "a b");
    Cell lines = value("[a]");
    Cell text = test::string_of("x\n");
    block::ks_append(&lines, &text);
    Cell y = test::word_of("y");
    block::ks_append(&lines, &y);
    EXPECT_EQ(test::form(lines), "a x\ny") << "no space after a line feed";
}

TEST_F(Block, CycleMarkersAndLimits) {
    Cell self = value("[a]");
    block::ks_append(&self, &self);
    EXPECT_EQ(mold(self), "[a [...]]");
    EXPECT_EQ(test::form(self), "a ...");
    EXPECT_EQ(error_of([&] { copy(self, true); }), ErrorId::internal_no_cycle);
    EXPECT_EQ(error_of([&] {
                  Cell out;
                  block::clone(&self, true, false, &out);
              }),
              ErrorId::internal_no_cycle);
    EXPECT_EQ(cycles::depth(), 0u);

    Cell other = value("[a]");
    block::ks_append(&other, &other);
    EXPECT_EQ(test::compare(self, other, CompareOp::equal), 0);

    Cell paren = value("(a)");
    block::ks_append(&paren, &paren);
    EXPECT_EQ(error_of([&] { mold(paren); }), ErrorId::internal_too_deep);
    EXPECT_EQ(cycles::depth(), 0u);
    EXPECT_EQ(mold(value("[b]")), "[b]") << "no marker left behind";

    Cell deep = value("[]");
    Cell inner = deep;
    for (int i = 0; i < 1100; ++i) {
        Cell next;
        block::make_at(&next, 1);
        block::ks_append(&inner, &next);
        inner = next;
    }
    EXPECT_EQ(error_of([&] { mold(deep); }), ErrorId::internal_too_deep);
    EXPECT_EQ(cycles::depth(), 0u);
}

// ---------------------------------------------------------------------------
// Comparison.

TEST_F(Block, Compare) {
    struct Case {
        const char* a;
        const char* b;
        CompareOp op;
        int expected;
    } cases[] = {
        {"[1 2]", "[1 2]", CompareOp::equal, 0},
        {"[1 2]", "[1 2 3]", CompareOp::equal, 1},
        {"[1 2]", "[1 2 3]", CompareOp::lesser, -1},
        {"[1 3]", "[1 2 3]", CompareOp::lesser, 1},
        {"[]", "[]", CompareOp::equal, 0},
        {"[a]", "[\"a\"]", CompareOp::sort, 1},
        {"[\"a\"]", "[a]", CompareOp::sort, -1},
        {"[a]", "['a]", CompareOp::equal, 0},
        {"[a]", "[A]", CompareOp::equal, 0},
        {"[a]", "[A]", CompareOp::strict_equal, 1},
        {"[[1] 2]", "[[1] 2]", CompareOp::equal, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(test::compare(value(c.a), value(c.b), c.op), c.expected) << c.a << " " << c.b;
    Cell b = value("[1 2]");
    EXPECT_EQ(test::compare(b, b, CompareOp::same), 0);
    EXPECT_EQ(test::compare(b, copy(b), CompareOp::same), -1);
    EXPECT_EQ(test::compare(b, value("(1 2)"), CompareOp::equal), not_comparable);
    Cell path = b;
    path.set_type(Type::path);
    Cell lit = copy(b);
    lit.set_type(Type::lit_path);
    EXPECT_EQ(block::compare(&path, &lit, CompareOp::equal_word), 0);
    EXPECT_EQ(block::compare(&path, &lit, CompareOp::equal), not_comparable);
}

// ---------------------------------------------------------------------------
// Path access.

TEST_F(Block, EvalPath) {
    auto eval = registry::lookup<Action::eval_path>(Type::block);
    Cell b = value("[x 1 foo: 2 \"k\" 3]");
    auto read = [&](Cell element, bool case_ = false) {
        Cell parent = b;
        return mold(*eval(&parent, &element, nullptr, nullptr, nullptr, nullptr, 0, case_, false,
                          true, false));
    };
    EXPECT_EQ(read(integer(2)), "1");
    EXPECT_EQ(read(integer(9)), "none");
    EXPECT_EQ(read(test::word_of("foo")), "2") << "any word kind matches";
    EXPECT_EQ(read(test::word_of("FOO")), "2");
    EXPECT_EQ(read(test::word_of("FOO"), true), "none");
    EXPECT_EQ(read(test::string_of("k")), "3");
    auto write = [&](Cell element, Cell v) {
        Cell parent = b;
        Cell path = b;
        eval(&parent, &element, &v, &path, nullptr, nullptr, 0, false, false, true, false);
    };
    write(integer(2), integer(7));
    write(test::word_of("foo"), integer(8));
    EXPECT_EQ(mold(b), "[x 7 foo: 8 \"k\" 3]");
    EXPECT_EQ(error_of([&] { write(test::word_of("bar"), integer(1)); }),
              ErrorId::script_bad_path_set);
    EXPECT_EQ(error_of([&] { write(integer(9), integer(1)); }), ErrorId::script_out_of_range);
}

// ---------------------------------------------------------------------------
// Copying.

TEST_F(Block, CopyDeepAndTypes) {
    Cell b = value("[[a] \"s\" (p)]");
    auto node_at = [](const Cell& block, int i) { return block::ks_abs_at(&block, i)->data2; };
    Cell shallow = copy(b);
    EXPECT_EQ(node_at(shallow, 0), node_at(b, 0));
    EXPECT_EQ(node_at(shallow, 1), node_at(b, 1));
    Cell deep = copy(b, true);
    EXPECT_EQ(mold(deep), mold(b));
    for (int i = 0; i < 3; ++i) EXPECT_NE(node_at(deep, i), node_at(b, i)) << i;
    Cell strings = test::datatype_of(Type::string);
    Cell typed = copy(b, false, &strings);
    EXPECT_EQ(node_at(typed, 0), node_at(b, 0));
    EXPECT_NE(node_at(typed, 1), node_at(b, 1));

    Cell marked = value("[\n[a]]");
    Cell cloned;
    block::clone(&marked, true, false, &cloned);
    EXPECT_TRUE(block::ks_abs_at(&cloned, 0)->header & cell_flag::new_line)
        << "a nested clone keeps its cell's marker";
    marked.header |= cell_flag::new_line;
    block::clone(&marked, false, false, &cloned);
    EXPECT_FALSE(cloned.header & cell_flag::new_line) << "the clone's own header is the type alone";
}

// ---------------------------------------------------------------------------
// Modification.

TEST_F(Block, AppendAndInsert) {
    struct Case {
        const char* name;
        std::function<Cell()> run;
        const char* result;
        const char* whole;
    };
    Cell kept;
    const Case cases[] = {
        {"append spreads", [&] { return kept = value("[1 2]"), append(kept, value("[3 4]")); },
         "[1 2 3 4]", "[1 2 3 4]"},
        {"append/only",
         [&] { return kept = value("[1 2]"), append(kept, value("[3 4]"), -1, true); },
         "[1 2 [3 4]]", "[1 2 [3 4]]"},
        {"append empty", [&] { return kept = at(value("[1 2]"), 2), append(kept, value("[]")); },
         "[2]", "[1 2]"},
        {"append/dup", [&] { return kept = value("[]"), append(kept, integer(0), -1, false, 3); },
         "[0 0 0]", "[0 0 0]"},
        {"append/part", [&] { return kept = value("[]"), append(kept, value("[a b c]"), 2); },
         "[a b]", "[a b]"},
        {"append from the middle",
         [&] { return kept = value("[a b]"), append(at(kept, 2), value("c")); }, "[a b c]",
         "[a b c]"},
        {"insert", [&] { return kept = value("[b]"), insert(kept, test::word_of("a")); }, "[b]",
         "[a b]"},
        {"insert/dup",
         [&] { return kept = value("[a d]"), insert(at(kept, 2), value("[b c]"), -1, false, 2); },
         "[d]", "[a b c b c d]"},
        {"insert past the tail",
         [&] {
             kept = value("[a b c]");
             Cell late = at(kept, 3);
             block::ks_truncate(&kept, 1);
             return insert(late, value("x"));
         },
         "[]", "[a x]"},
        {"append itself", [&] { return kept = value("[a b]"), append(kept, kept); }, "[a b a b]",
         "[a b a b]"},
        {"insert itself", [&] { return kept = value("[a b]"), insert(at(kept, 2), kept); }, "[b]",
         "[a a b b]"},
    };
    for (const Case& c : cases) {
        Cell r = c.run();
        EXPECT_EQ(mold(r), c.result) << c.name;
        Cell whole = kept;
        series::set_head(&whole, 0);
        EXPECT_EQ(mold(whole), c.whole) << c.name;
    }
}

TEST_F(Block, Change) {
    struct Case {
        const char* name;
        std::function<Cell()> run;
        const char* result;
        const char* whole;
    };
    Cell kept;
    const Case cases[] = {
        {"one value", [&] { return kept = value("[1 2 3]"), change(kept, integer(9)); }, "[2 3]",
         "[9 2 3]"},
        {"/part", [&] { return kept = value("[1 2 3]"), change(kept, value("[a b]"), 1); },
         "[2 3]", "[a b 2 3]"},
        {"/part longer", [&] { return kept = value("[1 2 3]"), change(kept, value("x"), 2); },
         "[3]", "[x 3]"},
        {"/dup", [&] { return kept = value("[1 2]"), change(kept, integer(0), -1, false, 3); },
         "[]", "[0 0 0]"},
        {"/only", [&] { return kept = value("[1 2]"), change(kept, value("[a b]"), -1, true); },
         "[2]", "[[a b] 2]"},
        {"at the tail", [&] { return kept = value("[1]"), change(at(kept, 2), integer(2)); }, "[]",
         "[1 2]"},
        {"with its own rest", [&] { return kept = value("[1 2 3]"), change(kept, at(kept, 2)); },
         "[3]", "[2 3 3]"},
        {"its head with itself", [&] { return kept = value("[1 2 3]"), change(at(kept, 2), kept); },
         "[]", "[1 1 2 3]"},
        {"a later part of itself", [&] {
             return kept = value("[1 2 3 4 5 6]"), change(kept, at(kept, 4), 5);
         }, "[6]", "[4 5 6 6]"},
        {"an earlier part of itself", [&] {
             return kept = value("[1 2 3 4]"), change(at(kept, 2), kept, 2);
         }, "[4]", "[1 1 2 3 4 4]"},
    };
    for (const Case& c : cases) {
        Cell r = c.run();
        EXPECT_EQ(mold(r), c.result) << c.name;
        Cell whole = kept;
        series::set_head(&whole, 0);
        EXPECT_EQ(mold(whole), c.whole) << c.name;
    }
}

// ---------------------------------------------------------------------------
// Search.

struct FindArgs {
    const char* part = nullptr;  // integer text, or "@n" for a position of the series
    bool only = false, case_ = false, same = false;
    int skip = 0;
    bool last = false, reverse = false, tail = false, match = false;
};

Cell run_find(Cell series, Cell key, const FindArgs& a, bool select) {
    Cell part;
    if (a.part)
        part = a.part[0] == '@' ? at(series, std::atoi(a.part + 1)) : integer(std::atoi(a.part));
    Cell skip = integer(a.skip);
    Cell* p = a.part ? &part : nullptr;
    Cell* k = a.skip ? &skip : nullptr;
    if (select)
        return *registry::find<Action::select>(&series)(&series, &key, p, a.only, a.case_, a.same,
                                                        false, nullptr, k, a.last, a.reverse);
    return *registry::find<Action::find>(&series)(&series, &key, p, a.only, a.case_, a.same, false,
                                                  nullptr, k, a.last, a.reverse, a.tail, a.match);
}

TEST_F(Block, Find) {
    struct Case {
        const char* series;
        int start;
        Cell key;
        FindArgs args;
        const char* expected;  // mold of the result
    };
    const Case cases[] = {
        {"[a b c]", 1, test::word_of("b"), {}, "[b c]"},
        {"[a b c]", 1, test::word_of("b"), {.tail = true}, "[c]"},
        {"[a b c]", 1, test::word_of("z"), {}, "none"},
        {"[a b c]", 4, test::word_of("a"), {}, "none"},
        {"[a b c]", 1, value("[b c]"), {}, "[b c]"},
        {"[a b c]", 1, value("[b c]"), {.tail = true}, "[]"},
        {"[a b c]", 1, value("[c d]"), {}, "none"},
        {"[a [b c]]", 1, value("[b c]"), {.only = true}, "[[b c]]"},
        {"[a [b c]]", 1, value("[b c]"), {}, "none"},
        {"[1 \"a\" 2]", 1, test::datatype_of(Type::string), {}, "[\"a\" 2]"},
        {"[A a]", 1, test::word_of("a"), {}, "[A a]"},
        {"[A a]", 1, test::word_of("a"), {.case_ = true}, "[a]"},
        {"[a 1 b 2]", 1, test::word_of("b"), {.skip = 2}, "[b 2]"},
        {"[a b 1 2]", 1, test::word_of("b"), {.skip = 2}, "none"},
        {"[a b a]", 1, test::word_of("a"), {.last = true}, "[a]"},
        {"[a b a c]", 1, test::word_of("a"), {.last = true, .tail = true}, "[c]"},
        {"[a b a c]", 4, test::word_of("a"), {.reverse = true}, "[a c]"},
        {"[a b a c]", 3, test::word_of("a"), {.reverse = true, .tail = true}, "[b a c]"},
        {"[a b c]", 1, test::word_of("a"), {.reverse = true}, "none"},
        {"[a b c]", 1, test::word_of("a"), {.match = true}, "[a b c]"},
        {"[a b c]", 1, test::word_of("a"), {.tail = true, .match = true}, "[b c]"},
        {"[a b c]", 1, test::word_of("b"), {.match = true}, "none"},
        {"[1 2 3]", 1, integer(2), {.part = "1"}, "none"},
        {"[1 2 3]", 1, integer(2), {.part = "2"}, "[2 3]"},
        {"[1 2 3]", 1, integer(2), {.part = "0"}, "none"},
        {"[1 2 3]", 1, value("[2 3]"), {.part = "2"}, "none"},
        {"[1 2 3]", 1, integer(3), {.part = "@2"}, "none"},
        {"[1 2 3]", 1, integer(2), {.part = "@2"}, "[2 3]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mold(run_find(at(value(c.series), c.start), c.key, c.args, false)), c.expected)
            << c.series << " " << mold(c.key);
    }
    Cell shrunk = value("[a b c]");
    Cell late = at(shrunk, 3);
    block::ks_truncate(&shrunk, 1);
    EXPECT_EQ(mold(run_find(late, test::word_of("a"), {.reverse = true}, false)), "[a]")
        << "a reverse search from past the tail starts at the last cell";
    EXPECT_EQ(mold(run_find(late, test::word_of("a"), {}, false)), "none");
    Cell b = value("[a b]");
    FindArgs zero_skip{.skip = -1};
    EXPECT_EQ(error_of([&] { run_find(b, integer(1), zero_skip, false); }),
              ErrorId::script_out_of_range);
    Cell word = test::word_of("w");
    EXPECT_EQ(error_of([&] {
                  registry::find<Action::find>(&b)(&b, &word, &word, false, false, false, false,
                                                   nullptr, nullptr, false, false, false, false);
              }),
              ErrorId::script_invalid_refine_arg);
}

TEST_F(Block, Select) {
    struct Case {
        const char* series;
        Cell key;
        FindArgs args;
        const char* expected;
    };
    const Case cases[] = {
        {"[a 1 b 2]", test::word_of("b"), {}, "2"},
        {"[a]", test::word_of("a"), {}, "none"},
        {"[a b c d]", value("[a b]"), {}, "c"},
        {"[a b c d]", value("[a b]"), {.only = true}, "none"},
        {"[x [a b] c]", value("[a b]"), {.only = true}, "c"},
        {"[1 \"a\" 2]", test::datatype_of(Type::string), {}, "2"},
        {"[a 1 a 2]", test::word_of("a"), {.last = true}, "2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mold(run_find(value(c.series), c.key, c.args, true)), c.expected) << c.series;
}

TEST_F(Block, Put) {
    struct Case {
        const char* series;
        const char* key;
        Cell value;
        const char* expected;
    } cases[] = {
        {"[a 1]", "a", integer(2), "[a 2]"},
        {"[a]", "a", integer(2), "[a 2]"},
        {"[]", "b", integer(3), "[b 3]"},
        {"[a 1 b 2]", "B", integer(5), "[a 1 b 5]"},
    };
    for (const Case& c : cases) {
        Cell b = value(c.series);
        Cell key = test::word_of(c.key);
        Cell v = c.value;
        Cell* r = registry::find<Action::put>(&b)(&b, &key, &v, false);
        EXPECT_EQ(mold(*r), mold(c.value)) << c.series;
        EXPECT_EQ(mold(b), c.expected) << c.series;
    }
    Cell b = value("[a 1]");
    Cell key = test::word_of("A");
    Cell v = integer(4);
    registry::find<Action::put>(&b)(&b, &key, &v, true);
    EXPECT_EQ(mold(b), "[a 1 A 4]");
}

TEST_F(Block, TakeSwapTrim) {
    Cell b = value("[[x] y]");
    Cell nested = *block::ks_abs_at(&b, 0);
    Cell taken = b;
    registry::find<Action::take>(&taken)(&taken, nullptr, true, false);
    EXPECT_EQ(mold(taken), "[x]");
    EXPECT_NE(taken.data2, nested.data2) << "/deep copies the taken block";
    EXPECT_EQ(mold(b), "[y]");
    Cell two = integer(2);
    Cell c = value("[[1] [2] 3]");
    Cell first = *block::ks_abs_at(&c, 0);
    registry::find<Action::take>(&c)(&c, &two, true, false);
    EXPECT_EQ(mold(c), "[[1] [2]]");
    EXPECT_NE(block::ks_abs_at(&c, 0)->data2, first.data2);

    Cell s1 = value("[1 2]");
    Cell s2 = value("[3 4]");
    registry::find<Action::swap>(&s1)(&s1, &s2);
    EXPECT_EQ(mold(s1) + mold(s2), "[3 2][1 4]");
    Cell end = at(s1, 3);
    registry::find<Action::swap>(&end)(&end, &s2);
    EXPECT_EQ(mold(s1) + mold(s2), "[3 2][1 4]");
    Cell text = test::string_of("x");
    EXPECT_EQ(error_of([&] { registry::find<Action::swap>(&s1)(&s1, &text); }),
              ErrorId::script_invalid_arg);

    struct Trim {
        const char* source;
        int start;
        const char* expected;
    } trims[] = {{"[1 _ 2 _]", 1, "[1 2]"}, {"[1 2]", 1, "[1 2]"}, {"[_ 1 _ 2]", 2, "[none 1 2]"}};
    for (const Trim& t : trims) {
        Cell blk = value(t.source);
        Cell from = at(blk, t.start);
        registry::find<Action::trim>(&from)(&from, false, false, false, false, false, nullptr);
        EXPECT_EQ(mold(blk), t.expected) << t.source;
    }
}

// ---------------------------------------------------------------------------
// Owners hear of every change, before and after, with the action's words.

struct Report {
    std::string word;
    std::int32_t index;
    std::int32_t count;
};
std::vector<Report>* reports = nullptr;

void record_change(Cell*, Cell*, Cell*, Cell* action, Cell*, std::int32_t index,
                   std::int32_t part) {
    reports->push_back({test::form(*action), index, part});
}

TEST_F(Block, OwnersHearOfChanges) {
    std::vector<Report> heard;
    reports = &heard;
    ownership::set_deep_change_handler(record_change);
    struct Case {
        const char* name;
        std::function<void(Cell)> run;
        const char* before;
        const char* after;
        std::int32_t index;
        std::int32_t count;
    } cases[] = {
        {"append", [](Cell b) { append(b, integer(9)); }, "append", "appended", 3, 1},
        {"insert", [](Cell b) { insert(at(b, 2), integer(9)); }, "insert", "inserted", 1, 1},
        {"change", [](Cell b) { change(b, integer(9)); }, "change", "changed", 0, 1},
        {"clear", [](Cell b) { registry::find<Action::clear> (&b)(&b); }, "clear", "cleared", 0, 3},
        {"poke",
         [](Cell b) {
             Cell v = integer(0);
             registry::find<Action::poke>(&b)(&b, 2, &v, nullptr);
         },
         "poke", "poked", 1, 1},
        {"remove", [](Cell b) { registry::find<Action::remove> (&b)(&b, nullptr, nullptr); },
         "remove", "removed", 0, 1},
        {"reverse", [](Cell b) { registry::find<Action::reverse> (&b)(&b, nullptr, nullptr); },
         "reverse", "reversed", 0, 3},
        {"sort",
         [](Cell b) {
             registry::find<Action::sort> (&b)(&b, false, nullptr, nullptr, nullptr, false, false,
                                               false);
         },
         "sort", "sorted", 0, 0},
        {"take", [](Cell b) { registry::find<Action::take> (&b)(&b, nullptr, false, true); },
         "take", "taken", 2, 1},
        {"trim",
         [](Cell b) {
             registry::find<Action::trim>(&b)(&b, false, false, false, false, false, nullptr);
         },
         "trim", "trimmed", 0, 0},
        {"swap",
         [](Cell b) {
             Cell other = value("[x]");
             registry::find<Action::swap>(&b)(&b, &other);
         },
         "swap", "swaped", 0, 1},
        {"put",
         [](Cell b) {
             Cell k = integer(2);
             Cell v = integer(5);
             registry::find<Action::put>(&b)(&b, &k, &v, false);
         },
         "put", "put-ed", 3, 1},
        {"move",
         [](Cell b) {
             Cell end = at(b, 4);
             registry::find<Action::move>(&b)(&b, &end, nullptr);
         },
         "move", "moved", 0, 1},
        {"random", [](Cell b) { registry::find<Action::random> (&b)(&b, false, false, false); },
         "random", "randomized", 0, 3},
    };
    for (const Case& c : cases) {
        heard.clear();
        Cell b = value("[3 1 2]");
        // Any object-typed cell with a handler record serves as the owner.
        Cell owner{static_cast<std::uint32_t>(Type::object), b.data2, 0, 1};
        Cell field = test::word_of("f");
        ownership::bind(&b, &owner, &field);
        c.run(b);
        ASSERT_EQ(heard.size(), 2u) << c.name;
        EXPECT_EQ(heard[0].word, c.before) << c.name;
        EXPECT_EQ(heard[1].word, c.after) << c.name;
        EXPECT_EQ(heard[0].index, c.index) << c.name;
        EXPECT_EQ(heard[0].count, c.count) << c.name;
    }
    ownership::set_deep_change_handler(nullptr);
    reports = nullptr;
}

// A handler that changes the series it hears about: the action goes on from
// the series as the handler left it.
TEST_F(Block, HandlerThatChangesTheSeries) {
    static Cell* target = nullptr;
    ownership::set_deep_change_handler(
        [](Cell*, Cell*, Cell*, Cell* action, Cell*, std::int32_t, std::int32_t) {
            if (test::form(*action) == "remove" || test::form(*action) == "change")
                block::ks_truncate(target, 0);
        });
    Cell b = value("[1 2 3]");
    target = &b;
    Cell owner{static_cast<std::uint32_t>(Type::object), b.data2, 0, 1};
    Cell field = test::word_of("f");
    ownership::bind(&b, &owner, &field);
    Cell late = at(b, 3);
    registry::find<Action::remove>(&late)(&late, nullptr, nullptr);
    EXPECT_EQ(mold(b), "[]");
    b = value("[1 2 3]");
    ownership::bind(&b, &owner, &field);
    change(at(b, 2), value("[x y z]"));
    EXPECT_EQ(mold(b), "[x y z]");
    ownership::set_deep_change_handler(nullptr);
}

// ---------------------------------------------------------------------------
// A hash! keeps its index in step with every change the block actions make.

TEST_F(Block, HashIndexFollowsChanges) {
    Cell h = value("[a b c d]");
    h.data3 = hashtable::init(8, &h, hashtable::Kind::hash);
    h.set_type(Type::hash);
    auto expect_indexed = [&](const char* step) {
        for (std::int32_t i = 0; i < block::ks_length(&h); ++i) {
            const Cell* cell = block::ks_abs_at(&h, i);
            const Cell* hit =
                hashtable::find(h.data3, cell, i, 1, CompareOp::strict_equal, false, false);
            EXPECT_EQ(hit, cell) << step << ": " << mold(*cell) << " at " << i;
        }
        Cell gone = test::word_of("gone");
        EXPECT_EQ(hashtable::find(h.data3, &gone, 0, 1, CompareOp::equal, false, false), nullptr)
            << step;
    };
    auto row = registry::row(Type::block);
    // hash! itself is not registered here: positions are set directly.
    auto pos = [](Cell v, std::int32_t index) {
        series::set_head(&v, index - 1);
        return v;
    };
    Cell x = value("x");
    Cell pair = value("[p q]");
    Cell first = h;
    row.insert(&first, &x, -1, false, 1, false);
    expect_indexed("insert at the head");
    Cell mid = pos(h, 3);
    row.insert(&mid, &pair, -1, false, 3, false);
    expect_indexed("insert/dup in the middle");
    Cell mid2 = pos(h, 2);
    row.change(&mid2, &pair, 3, false, 1);
    expect_indexed("change");
    Cell r = pos(h, 4);
    Cell two = integer(2);
    row.remove(&r, &two, nullptr);
    expect_indexed("remove");
    Cell rv = h;
    row.reverse(&rv, nullptr, nullptr);
    expect_indexed("reverse");
    Cell k = test::word_of("k");
    Cell v = integer(1);
    row.put(&h, &k, &v, false);
    expect_indexed("put");
    Cell t = h;
    row.take(&t, nullptr, false, false);
    expect_indexed("take");
    Cell mv = pos(h, 2);
    Cell dest = pos(h, 5);
    row.move(&mv, &dest, &two);
    expect_indexed("move");
    Cell cl = pos(h, 3);
    row.clear(&cl);
    expect_indexed("clear");
    EXPECT_EQ(block::ks_length(&h), 2);
}

// ---------------------------------------------------------------------------
// paren! and issue!.

TEST_F(Block, ParenBehavesAsABlock) {
    Cell p = value("(a b c)");
    EXPECT_EQ(test::form(p), "a b c");
    Cell c = copy(p);
    EXPECT_TRUE(c.is(Type::paren));
    EXPECT_EQ(mold(append(c, value("[d]"))), "(a b c d)");
    EXPECT_EQ(mold(run_find(p, test::word_of("b"), {}, false)), "(b c)");
    EXPECT_EQ(mold(*registry::find<Action::pick>(&p)(&p, 3, nullptr)), "c");
    EXPECT_FALSE(registry::supports(Type::paren, Action::trim));
    EXPECT_FALSE(registry::supports(Type::paren, Action::add));
}

TEST_F(Block, Issue) {
    auto make = registry::lookup<Action::make>(Type::issue);
    auto to = registry::lookup<Action::to>(Type::issue);
    Cell out;
    Cell spec = test::string_of("abc");
    EXPECT_EQ(mold(*to(&out, &spec, Type::issue)), "#abc");
    spec = test::string_of("xAbC");
    Cell tail = at(spec, 2);
    EXPECT_EQ(mold(*to(&out, &tail, Type::issue)), "#AbC") << "from the index, case kept";
    spec = test::word_of("abc");
    EXPECT_EQ(mold(*to(&out, &spec, Type::issue)), "#abc");
    series::make_char(&spec, 'x');
    EXPECT_EQ(mold(*make(&out, &spec, Type::issue)), "#x");

    Cell a = value("#abc");
    EXPECT_EQ(mold(a), "#abc");
    EXPECT_EQ(test::form(a), "abc");
    Cell upper = value("#ABC");
    EXPECT_EQ(test::compare(a, upper, CompareOp::equal), 0);
    EXPECT_NE(test::compare(a, upper, CompareOp::strict_equal), 0);
    EXPECT_EQ(test::compare(a, test::word_of("abc"), CompareOp::equal), not_comparable);
    Cell word = test::word_of("abc");
    EXPECT_EQ(test::compare(word, a, CompareOp::equal), not_comparable);
    EXPECT_FALSE(registry::supports(Type::issue, Action::append));

    Cell b = value("[x]");
    issue::make_in(&b, "tag");
    EXPECT_EQ(mold(b), "[x #tag]");
}

}  // namespace
}  // namespace kiv
