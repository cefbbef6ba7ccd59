#include <gtest/gtest.h>

#include "tests/unit/runtime-support.h"

namespace kiv {

namespace {

using test::error_of;
using test::integer;
using test::word_of;

class Contexts : public test::RuntimeTest {};

// A word of the given kind, unbound (as the loader makes it).
Cell loose(const char* text, Type kind = Type::word) {
    return Cell{static_cast<std::uint32_t>(kind), 0, symbol::make(text), static_cast<std::uint32_t>(-1)};
}

NodeId object_context(std::initializer_list<const char*> fields) {
    const NodeId ctx = context::create(static_cast<std::int32_t>(fields.size()), false, true, 0,
                                       context::Kind::object);
    for (const char* f : fields) {
        const Cell w = loose(f);
        context::add_word(ctx, &w);
    }
    return ctx;
}

TEST_F(Contexts, CreatedExtendedAndSearched) {
    const NodeId ctx = object_context({"alpha", "beta"});
    EXPECT_EQ(context::word_count(ctx), 2);
    EXPECT_EQ(context::kind_of(ctx), context::Kind::object);
    EXPECT_TRUE(context::owner(ctx)->is(Type::unset));
    // Lookup by canonical symbol finds any spelling; by exact symbol only one.
    EXPECT_EQ(context::find_word(ctx, symbol::make("BETA"), true), 1);
    EXPECT_EQ(context::find_word(ctx, symbol::make("BETA"), false), -1);
    EXPECT_EQ(context::find_word(ctx, symbol::make("gamma"), true), -1);
    // Adding an existing word answers its index and adds nothing.
    const Cell alpha = loose("ALPHA");
    EXPECT_EQ(context::add_word(ctx, &alpha), 0);
    const Cell gamma = loose("gamma");
    const Cell three = integer(3);
    EXPECT_NE(context::add_with_value(ctx, &gamma, &three), nullptr);
    EXPECT_EQ(context::add_with_value(ctx, &gamma, &three), nullptr);
    EXPECT_EQ(context::slot(ctx, 2)->data2, 3u);
    const Cell four = integer(4);
    context::add_or_set(ctx, &gamma, &four);
    EXPECT_EQ(context::slot(ctx, 2)->data2, 4u);
    // Every word of the words block is bound to the context at its index.
    for (std::int32_t i = 0; i < context::word_count(ctx); ++i) {
        EXPECT_EQ(context::get_word_at(ctx, i)->data1, ctx);
        EXPECT_EQ(static_cast<std::int32_t>(context::get_word_at(ctx, i)->data3), i);
    }
    // Set-words of a block join the context, once.
    Cell body = test::block_of({loose("delta", Type::set_word), loose("alpha", Type::set_word), integer(1)});
    EXPECT_TRUE(context::collect_set_words(ctx, &body));
    EXPECT_FALSE(context::collect_set_words(ctx, &body));
    EXPECT_EQ(context::word_count(ctx), 4);
}

TEST_F(Contexts, MadeFromASpec) {
    // Words, refinements, get-words and lit-words join; set-words do not.
    Cell spec = test::block_of({loose("a"), loose("only", Type::refinement), loose("b", Type::get_word),
                                loose("r", Type::set_word), loose("all", Type::refinement),
                                loose("c", Type::lit_word), integer(5)});
    spec.data1 = 3;  // the whole series counts, whatever the index
    const NodeId ctx = context::make(&spec, false, false, context::Kind::function);
    EXPECT_EQ(context::word_count(ctx), 5);
    EXPECT_EQ(context::find_word(ctx, symbol::make("r"), true), -1);
    EXPECT_EQ(context::find_word(ctx, symbol::make("all"), true), 3);
    EXPECT_EQ(memory::buffer_of(context::header(ctx)->data2)->length(), 5u);
}

TEST_F(Contexts, DeepBinding) {
    const NodeId ctx = object_context({"a", "b", "c", "d", "f", "g", "h"});
    Cell inner_paren = test::block_of({loose("c")});
    inner_paren.set_type(Type::paren);
    Cell inner = test::block_of({loose("b"), inner_paren});
    Cell path = test::block_of({loose("d"), loose("e")});
    path.set_type(Type::path);
    Cell outer = test::block_of({loose("a"), inner, path, loose("f", Type::lit_word),
                                 loose("g", Type::get_word), loose("h", Type::refinement), loose("zz")});
    // The block also contains itself.
    *memory::append_slot(&outer) = outer;
    context::bind(&outer, ctx, false);
    auto bound_index = [&](const Cell& block, int i) {
        const Cell* w = memory::buffer_of(block.data2)->cells() + i;
        return w->data1 == ctx ? static_cast<std::int32_t>(w->data3) : -99;
    };
    EXPECT_EQ(bound_index(outer, 0), 0);
    EXPECT_EQ(bound_index(inner, 0), 1);
    EXPECT_EQ(bound_index(inner_paren, 0), 2);
    EXPECT_EQ(bound_index(path, 0), 3);
    EXPECT_EQ(bound_index(path, 1), -99);  // e is not in the context
    EXPECT_EQ(bound_index(outer, 3), 4);
    EXPECT_EQ(bound_index(outer, 4), 5);
    EXPECT_EQ(bound_index(outer, 5), 6);
    EXPECT_EQ(bound_index(outer, 6), -99);
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Contexts, SelfReadsAsTheOwner) {
    const NodeId ctx = object_context({"x"});
    *context::owner(ctx) = Cell{static_cast<std::uint32_t>(Type::object), ctx, 0, 0};
    Cell body = test::block_of({loose("self"), loose("self", Type::get_word)});
    context::bind(&body, ctx, true);
    const Cell* self = memory::buffer_of(body.data2)->cells();
    EXPECT_EQ(self->data1, ctx);
    EXPECT_EQ(static_cast<std::int32_t>(self->data3), -1);
    EXPECT_TRUE(context::get(self)->is(Type::object));
    // Other word kinds named self are ordinary words: this context has none.
    EXPECT_EQ(self[1].data1, 0u);
}

TEST_F(Contexts, GlobalCaseVariantsShareOneValue) {
    Cell foo = word_of("foo");
    const Cell one = integer(1);
    context::set(&foo, &one);
    Cell upper = word_of("FOO");
    EXPECT_EQ(symbol::text(upper.data2), "FOO");
    EXPECT_EQ(context::get(&upper)->data2, 1u);
    const Cell two = integer(2);
    context::set(&upper, &two);
    EXPECT_EQ(context::get(&foo)->data2, 2u);
    // An unresolved variant resolves to the shared value too.
    Cell later = loose("Foo");
    later.data1 = context::global();
    const Cell three = integer(3);
    context::set(&later, &three);
    EXPECT_EQ(context::get(&foo)->data2, 3u);
    // The exact lookup of a variant keeps its spelling and the shared slot.
    Cell exact;
    context::get_global_word(upper.data2, &exact);
    EXPECT_EQ(exact.data2, upper.data2);
    EXPECT_EQ(exact.data3, foo.data3);
}

TEST_F(Contexts, ObjectFieldsAreMarkedWrittenGlobalsAreNot) {
    const NodeId ctx = object_context({"field"});
    Cell field = *context::get_word_at(ctx, 0);
    const Cell value = integer(9);
    context::set(&field, &value);
    EXPECT_TRUE(context::get_word_at(ctx, 0)->header & cell_flag::written);
    Cell global = word_of("some-global");
    context::set(&global, &value);
    EXPECT_FALSE(context::get_word_at(context::global(), static_cast<std::int32_t>(global.data3))->header &
                 cell_flag::written);
}

TEST_F(Contexts, ChangeHandlerHearsOfObjectFieldChanges) {
    static int calls;
    static std::uint32_t old_seen, new_seen;
    calls = 0;
    context::set_change_handler([](Cell*, Cell*, Cell* old_value, Cell* new_value) {
        ++calls;
        old_seen = old_value->data2;
        new_seen = new_value->data2;
    });
    const NodeId ctx = object_context({"field"});
    *context::owner(ctx) = Cell{static_cast<std::uint32_t>(Type::object), ctx, 0, 0};
    Cell field = *context::get_word_at(ctx, 0);
    const Cell one = integer(1);
    context::set(&field, &one);
    EXPECT_EQ(calls, 0);  // no handler record
    context::owner(ctx)->data3 = context::global();  // stands for a handler record
    const Cell two = integer(2);
    context::set(&field, &two);
    context::set_in(&field, &one, ctx, false);
    context::set_change_handler(nullptr);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(old_seen, 1u);
    EXPECT_EQ(new_seen, 2u);
}

TEST_F(Contexts, ReadingAndSettingErrors) {
    // A function context whose function does not run has no values.
    const NodeId fn = context::create(2, true, false, 0, context::Kind::function);
    Cell arg = loose("arg");
    context::add_word(fn, &arg);
    Cell bound = *context::get_word_at(fn, 0);
    const Cell one = integer(1);
    EXPECT_EQ(error_of([&] { context::set(&bound, &one); }), ErrorId::script_not_defined);
    EXPECT_EQ(error_of([&] { context::get(&bound); }), ErrorId::script_not_in_context);
    Cell unresolved = loose("nowhere");
    unresolved.data1 = context::global();
    EXPECT_EQ(error_of([&] { context::get(&unresolved); }), ErrorId::script_no_value);
}

TEST_F(Contexts, ClonedWordsAreBoundToTheClone) {
    const NodeId ctx = object_context({"p", "q"});
    const Cell five = integer(5);
    *context::slot(ctx, 1) = five;
    Cell object{static_cast<std::uint32_t>(Type::object), ctx, 0, 0};
    const NodeId clone = context::clone_words(&object, context::Kind::object);
    EXPECT_EQ(object.data1, clone);
    EXPECT_NE(clone, ctx);
    EXPECT_EQ(context::word_count(clone), 2);
    EXPECT_EQ(context::get_word_at(clone, 1)->data1, clone);
    EXPECT_TRUE(context::slot(clone, 1)->is(Type::unset));
    EXPECT_EQ(context::slot(ctx, 1)->data2, 5u);
    // The clone grows apart from the original.
    const Cell r = loose("r");
    context::add_word(clone, &r);
    EXPECT_EQ(context::word_count(ctx), 2);
    EXPECT_EQ(context::find_word(clone, r.data2, true), 2);
}

}  // namespace
}  // namespace kiv
