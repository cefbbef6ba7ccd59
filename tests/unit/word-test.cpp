#include <gtest/gtest.h>

#include "tests/unit/runtime-support.h"

namespace kiv {

namespace {

using test::compare;
using test::error_of;
using test::form;
using test::integer;
using test::mold;
using test::word_of;

class Words : public test::RuntimeTest {};

TEST_F(Words, LoadedWordsAreBoundGlobally) {
    const Cell a = word_of("alpha");
    EXPECT_EQ(a.data1, context::global());
    EXPECT_EQ(symbol::text(a.data2), "alpha");
    EXPECT_GE(static_cast<std::int32_t>(a.data3), 0);
    // Loading the same spelling again gives the same word.
    const Cell again = word_of("alpha");
    EXPECT_EQ(again.data3, a.data3);
    // A case variant keeps its spelling and shares the binding.
    const Cell upper = word_of("ALPHA");
    EXPECT_EQ(symbol::text(upper.data2), "ALPHA");
    EXPECT_EQ(upper.data3, a.data3);
    Cell made;
    word::make_at(symbol::make("Alpha"), &made);
    EXPECT_TRUE(made.is(Type::word));
    EXPECT_EQ(made.data3, a.data3);
}

TEST_F(Words, ReadAndSet) {
    Cell w = word_of("counter");
    EXPECT_EQ(error_of([&] { word::get(&w); }), ErrorId::script_no_value);
    EXPECT_TRUE(word::get_any(&w)->is(Type::unset));
    EXPECT_EQ(error_of([&] { word::set(&w, &unset::value); }), ErrorId::script_need_value);
    const Cell seven = integer(7);
    word::set(&w, &seven);
    EXPECT_EQ(word::get(&w)->data2, 7u);
    // By context and index.
    const NodeId ctx = context::create(2, false, false, 0, context::Kind::object);
    const Cell field = word_of("field");
    context::add_word(ctx, &field);
    Cell old_value;
    word::set_local(ctx, 0, &seven);
    const Cell eight = integer(8);
    word::set_local_keep_old(ctx, 0, &eight, &old_value);
    EXPECT_EQ(old_value.data2, 7u);
    EXPECT_EQ(word::get_local(ctx, 0)->data2, 8u);
    EXPECT_TRUE(word::get_local_word(ctx, 0)->header & cell_flag::written);
    Cell found;
    word::lookup_in(ctx, symbol::make("field"), &found);
    EXPECT_EQ(found.data1, ctx);
    word::lookup_in(ctx, symbol::make("counter"), &found);
    EXPECT_EQ(found.data1, context::global());
}

TEST_F(Words, FormedAndMolded) {
    struct Case {
        Type kind;
        const char* formed;
        const char* molded;
    } cases[] = {
        {Type::word, "Na\xC3\xAFve", "Na\xC3\xAFve"},
        {Type::set_word, "Na\xC3\xAFve", "Na\xC3\xAFve:"},
        {Type::lit_word, "Na\xC3\xAFve", "'Na\xC3\xAFve"},
        {Type::get_word, "Na\xC3\xAFve", ":Na\xC3\xAFve"},
        {Type::refinement, "Na\xC3\xAFve", "/Na\xC3\xAFve"},
    };
    for (const Case& c : cases) {
        const Cell w = word_of("Na\xC3\xAFve", c.kind);
        EXPECT_EQ(form(w), c.formed);
        EXPECT_EQ(mold(w), c.molded);
    }
    // The budget falls by the code points written.
    Cell out;
    string::make_at(&out, 0);
    Cell w = word_of("Na\xC3\xAFve", Type::set_word);
    EXPECT_EQ(registry::find<Action::mold>(&w)(&w, &out, false, false, false, nullptr, 10, 0), 4);
}

TEST_F(Words, Compared) {
    const Cell a = word_of("a");
    const Cell upper = word_of("A");
    const Cell lit = word_of("a", Type::lit_word);
    const Cell set = word_of("a", Type::set_word);
    const Cell b = word_of("b");
    Cell other_context = a;
    other_context.data1 = context::create(1, false, false, 0, context::Kind::object);
    Cell issue = a;
    issue.set_type(Type::issue);
    struct Case {
        Cell left, right;
        CompareOp op;
        int result;
    } cases[] = {
        {a, upper, CompareOp::equal, 0},
        {a, set, CompareOp::equal, 0},
        {a, b, CompareOp::equal, 1},
        {lit, upper, CompareOp::find, 0},
        {a, upper, CompareOp::strict_equal, 1},
        {a, lit, CompareOp::strict_equal, 1},
        {a, a, CompareOp::strict_equal, 0},
        {a, other_context, CompareOp::same, 1},
        {a, a, CompareOp::same, 0},
        {a, lit, CompareOp::strict_word, 0},
        {a, set, CompareOp::strict_word, 1},
        {a, upper, CompareOp::strict_word, 1},
        {lit, upper, CompareOp::equal_word, 0},
        {set, upper, CompareOp::equal_word, 1},
        {a, b, CompareOp::lesser, -1},
        {b, upper, CompareOp::sort, 1},
        {a, integer(1), CompareOp::equal, not_comparable},
        {a, issue, CompareOp::equal, not_comparable},
    };
    int line = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(line++);
        const int r = compare(c.left, c.right, c.op);
        if (c.result == not_comparable) {
            EXPECT_EQ(r, not_comparable);
        } else if (c.result < 0) {
            EXPECT_LT(r, 0);
        } else if (c.result > 0) {
            EXPECT_GT(r, 0);
        } else {
            EXPECT_EQ(r, 0);
        }
    }
}

TEST_F(Words, MadeAndConverted) {
    const auto& row = registry::row(Type::word);
    Cell result;
    // Word kinds keep spelling and binding; flags are dropped.
    Cell foo = word_of("Foo", Type::lit_word);
    foo.header |= cell_flag::new_line;
    row.to(&result, &foo, Type::set_word);
    EXPECT_EQ(result.header, static_cast<std::uint32_t>(Type::set_word));
    EXPECT_EQ(result.data2, foo.data2);
    EXPECT_EQ(result.data3, foo.data3);
    Cell type = test::datatype_of(Type::typeset);
    row.to(&result, &type, Type::word);
    EXPECT_EQ(mold(result), "typeset!");
    Cell yes = logic::true_value;
    row.make(&result, &yes, Type::word);
    EXPECT_EQ(mold(result), "true");
    EXPECT_EQ(result.data1, context::global());
    Cell one = integer(1);
    EXPECT_EQ(error_of([&] { row.to(&result, &one, Type::word); }), ErrorId::script_bad_to_arg);
}

TEST_F(Words, IndexOf) {
    Cell w = word_of("indexed");
    const std::uint32_t index = w.data3;
    Cell result = *registry::find<Action::index_q>(&w)(&w);
    EXPECT_TRUE(result.is(Type::integer));
    EXPECT_EQ(result.data2, index + 1);
    Cell unbound{static_cast<std::uint32_t>(Type::get_word), 0, symbol::make("x"), static_cast<std::uint32_t>(-1)};
    EXPECT_TRUE(registry::find<Action::index_q>(&unbound)(&unbound)->is(Type::none));
    Cell ref = word_of("x", Type::refinement);
    EXPECT_EQ(error_of([&] { registry::find<Action::index_q>(&ref); }), ErrorId::script_expect_arg);
}

TEST_F(Words, FixedWords) {
    // The fixed spellings are canonical: a later variant aliases them.
    const std::uint32_t windows = words::symbol(words::Sym::windows);
    EXPECT_EQ(symbol::text(windows), "Windows");
    EXPECT_EQ(symbol::alias_of(windows), -1);
    EXPECT_EQ(symbol::alias_of(symbol::make("windows")), static_cast<std::int32_t>(windows));
    // Symbols are numbered in interning order, right after the datatype words.
    EXPECT_EQ(words::symbol(words::Sym::spec), registry::entry(Type::event).symbol + 1);
    EXPECT_EQ(words::symbol(words::Sym::body), words::symbol(words::Sym::spec) + 1);
    // Words that share a spelling share a symbol.
    EXPECT_EQ(words::symbol(words::W::pick), words::symbol(words::Sym::pick));
    EXPECT_EQ(words::symbol(words::W::throw_), symbol::make("throw"));
    // Global words read as the global binding of their spelling.
    Cell w;
    words::word(words::W::swaped, &w);
    EXPECT_EQ(mold(w), "swaped");
    EXPECT_EQ(w.data3, word_of("swaped").data3);
    words::word(words::Sym::bar, &w);
    EXPECT_EQ(w.data3, word_of("|").data3);
    EXPECT_TRUE(words::is(&w, words::Sym::bar));
    words::refinement(words::Ref::local, &w);
    EXPECT_EQ(mold(w), "/local");
    words::ooo(&w);
    EXPECT_EQ(symbol::text(w.data2), "ooo");
}

}  // namespace
}  // namespace kiv
