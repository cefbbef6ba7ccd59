// function!: spec validation, gathering locals, making, reflection, mold and
// comparison.
#include <gtest/gtest.h>

#include "tests/unit/callables-support.h"

namespace kiv {

namespace {

using test::error_of;
using test::read;
using test::read_one;

class Functions : public test::CallableTest {
protected:
    void SetUp() override {
        test::CallableTest::SetUp();
        Cell numbers;
        typeset::make_at(&numbers, 0, 0, 0);
        typeset::set_bit(&numbers, static_cast<std::uint32_t>(Type::integer));
        define("number!", numbers);
        define("alias!", test::word_of("integer!"));
        define("one", test::integer(1));
    }

    static void define(const char* name, Cell value) {
        Cell w = test::word_of(name);
        context::set(&w, &value);
    }

    static Cell reflected(Cell value, const char* field) {
        Cell w = test::word_of(field);
        return *registry::find<Action::reflect>(&value)(&value, &w);
    }

    static Cell func(const char* spec, const char* body) {
        Cell s = read(spec);
        Cell b = read(body);
        Cell out;
        function::func(&out, &s, &b);
        return out;
    }
};

TEST_F(Functions, SpecsAreAcceptedOrRefused) {
    constexpr ErrorId ok = ErrorId::count_;
    constexpr ErrorId bad = ErrorId::script_bad_func_def;
    const struct {
        const char* spec;
        ErrorId expected;
    } cases[] = {
        {"", ok},
        {"a 'b :c", ok},
        {"a [integer!] \"doc\"", ok},
        {"a \"doc\" [integer!]", bad},
        {"\"doc\" a [integer! number! alias!] \"doc\" /ref b \"doc\" /other", ok},
        {"a return: [integer!]", ok},
        {"a return: [integer!] \"doc\"", ok},
        {"return: [integer!] a", bad},
        {"a return: [integer!] /ref", bad},
        {"a return: [integer!] /local b", ok},
        {"a return: [integer!] return: [block!]", bad},
        {"a return: integer!", bad},
        {"a result: [integer!]", bad},
        {"/ref 'a :b c", ok},
        {"/ref [integer!]", bad},
        {"/ref 1", bad},
        {"/local a [integer!] b", ok},
        {"/local :a", bad},
        {"/local 'a", bad},
        {"/local a /ref", bad},
        {"a 1", bad},
        {"[trace] a", ok},
        {"[catch] a", ok},
        {"[1] a", bad},
        {"a a", ErrorId::script_dup_vars},
        {"a /A", ErrorId::script_dup_vars},
        {"a /local a", ErrorId::script_dup_vars},
        {"a [one]", ErrorId::script_invalid_type_spec},
        {"a [2]", ErrorId::script_invalid_type_spec},
    };
    for (const auto& c : cases) {
        Cell spec = read(c.spec);
        EXPECT_EQ(error_of([&] { function::validate_spec(&spec); }), c.expected) << c.spec;
    }
}

TEST_F(Functions, AttributeBitsAndErrorArguments) {
    Cell spec = read("[trace no-trace other] a");
    EXPECT_EQ(function::validate_spec(&spec), function::flag::trace | function::flag::no_trace);
    spec = read("[catch] a");
    EXPECT_EQ(function::validate_spec(&spec), 0u);
    const Cell f = func("[trace] a", "a");
    EXPECT_TRUE(f.header & function::flag::trace);

    // bad-func-def names the whole spec, dup-vars the later name,
    // invalid-type-spec the value the entry stands for.
    const auto args_of = [](const char* text) {
        Cell s = read(text);
        try {
            function::validate_spec(&s);
        } catch (const KivError& e) {
            return test::mold(e.args[0]);
        }
        return std::string("accepted");
    };
    EXPECT_EQ(args_of("a \"x\" [integer!]"), "[a \"x\" [integer!]]");
    EXPECT_EQ(args_of("a /b c /A"), "/A");
    EXPECT_EQ(args_of("a [one]"), "1");
    // The walk starts at the spec's index.
    Cell s = read("1 a");
    s.data1 = 1;
    EXPECT_EQ(function::validate_spec(&s), 0u);
}

TEST_F(Functions, FunctionGathersLocals) {
    const struct {
        const char* spec;
        const char* body;
        const char* result;
    } cases[] = {
        {"a", "b: 1 foreach [c d] x [] repeat e 3 []", "[a /local b c d e]"},
        {"a", "b: 1 foreach c x [] remove-each [:d] x [] remove-each :f x [] repeat e: 3 []", "[a /local b c d e]"},
        {"a /extern b", "b: 1 c: 2", "[a /local c]"},
        {"a /extern b /local z", "b: 1 y: 2", "[a /local z y]"},
        {"a /local z", "z: 1 y: 2", "[a /local z y]"},
        {"a /ref r", "a: 1 r: 2 (p: [q: 3]) x/y: 4", "[a /ref r /local p q]"},
        {"a", "b: 1 b: 2 local: 3", "[a /local b]"},
        {"a return: [integer!]", "return: 1", "[a return: [integer!]]"},
        {"a", "a", "[a]"},
    };
    for (const auto& c : cases) {
        Cell spec = read(c.spec);
        Cell body = read(c.body);
        Cell f;
        function::function(&f, &spec, &body);
        EXPECT_EQ(test::mold(reflected(f, "spec")), c.result) << c.spec << " | " << c.body;
        // The caller's spec is left alone.
        EXPECT_EQ(test::mold(read(c.spec)), "[" + std::string(c.spec) + "]");
    }
    Cell spec = read("/extern b 1");
    Cell body = read("");
    Cell f;
    EXPECT_EQ(error_of([&] { function::function(&f, &spec, &body); }), ErrorId::script_bad_func_extern);
}

TEST_F(Functions, CountingLocals) {
    const struct {
        const char* spec;
        std::int32_t plain, required;
    } cases[] = {
        {"a b", 0, -1},
        {"a /local b c", 3, 3},
        {"a /local", 1, 1},
        {"/ref r /local x /local y", 3, 3},
    };
    for (const auto& c : cases) {
        const Cell spec = read(c.spec);
        EXPECT_EQ(function::count_locals(spec.data2, 0, false), c.plain) << c.spec;
        EXPECT_EQ(function::count_locals(spec.data2, 0, true), c.required) << c.spec;
    }
    EXPECT_EQ(function::count_locals(read("/local a b").data2, 1, true), -1);
}

TEST_F(Functions, MakingCopiesAndBinds) {
    Cell spec = read("x a b");
    spec.data1 = 1;
    Cell body = read("a + [b (b) c/b]");
    Cell f;
    const NodeId ctx = function::make_at(&f, &spec, &body, 0, 0, 0);
    EXPECT_EQ(f.type(), Type::function);
    // A spec not at its head is copied from its index; the body is copied
    // deeply and bound to the new context, words it does not name included
    // not.
    EXPECT_NE(f.data2, spec.data2);
    EXPECT_EQ(test::mold(f), "func [a b][a + [b (b) c/b]]");
    Cell* copy = function::more_cell(&f, function::more::body);
    EXPECT_NE(copy->data2, body.data2);
    Cell* inner = block::ks_abs_at(copy, 2);
    EXPECT_NE(inner->data2, block::ks_abs_at(&body, 2)->data2);
    EXPECT_EQ(block::ks_abs_at(copy, 0)->data1, ctx);
    EXPECT_EQ(block::ks_abs_at(inner, 0)->data1, ctx);
    EXPECT_EQ(block::ks_abs_at(block::ks_abs_at(inner, 1), 0)->data1, ctx);
    EXPECT_EQ(block::ks_abs_at(block::ks_abs_at(inner, 2), 1)->data1, ctx);
    EXPECT_EQ(block::ks_abs_at(copy, 1)->data1, context::global());
    EXPECT_EQ(block::ks_abs_at(&body, 0)->data1, context::global());
    // The context leads back to the function; the more block's layout.
    EXPECT_EQ(context::owner(ctx)->data3, f.data3);
    EXPECT_EQ(context::kind_of(ctx), context::Kind::function);
    EXPECT_TRUE(function::more_cell(&f, function::more::entry)->is(Type::unset));
    EXPECT_TRUE(function::more_cell(&f, 4)->is(Type::unset));
    // A given context and entry are kept and the body is not bound.
    Cell compiled;
    function::make_at(&compiled, &spec, &body, ctx, 42, 0);
    EXPECT_EQ(compiled.data1, ctx);
    EXPECT_EQ(function::more_cell(&compiled, function::more::entry)->data2, 42u);
    EXPECT_EQ(block::ks_abs_at(function::more_cell(&compiled, 0), 0)->data1, context::global());
    // Without a body.
    Cell bodiless;
    function::make_at(&bodiless, &spec, nullptr, 0, 0, 0);
    EXPECT_EQ(test::mold(bodiless), "func [a b] none");
    EXPECT_EQ(test::form(bodiless), "?function?");
}

TEST_F(Functions, MakeAction) {
    EXPECT_EQ(test::mold(test::make(Type::function, read("[a] [a]"))), "func [a][a]");
    const struct {
        Cell spec;
        ErrorId expected;
    } cases[] = {
        {read("[a]"), ErrorId::script_bad_func_def},
        {read("[a] 1"), ErrorId::script_bad_func_def},
        {read("1 [a]"), ErrorId::script_bad_func_def},
        {read("[a a] [a]"), ErrorId::script_dup_vars},
        {test::integer(1), ErrorId::script_bad_func_def},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(error_of([&] { test::make(Type::function, c.spec); }), c.expected) << test::mold(c.spec);
    }
}

TEST_F(Functions, Reflection) {
    Cell spec = read("a /ref b");
    Cell body = read("a");
    Cell f;
    function::func(&f, &spec, &body);
    Cell v = f;
    Cell field = test::word_of("spec");
    function::reflect(&v, &field);
    EXPECT_EQ(v.type(), Type::block);
    EXPECT_EQ(v.data2, spec.data2);  // the spec itself, not a copy
    v = f;
    field = test::word_of("body");
    function::reflect(&v, &field);
    EXPECT_EQ(v.data2, function::more_cell(&f, 0)->data2);
    v = f;
    field = test::word_of("words");
    function::reflect(&v, &field);
    EXPECT_EQ(test::mold(v), "[a ref b]");
    for (std::int32_t i = 0; i < 3; ++i) EXPECT_EQ(block::ks_abs_at(&v, i)->data1, f.data1);
    v = f;
    field = test::word_of("values");
    EXPECT_EQ(error_of([&] { function::reflect(&v, &field); }), ErrorId::internal_not_done);
}

TEST_F(Functions, ComparedByIdentity) {
    const Cell f = func("a", "a");
    const Cell g = func("a", "a");
    Cell copy = f;
    EXPECT_EQ(test::compare(f, copy, CompareOp::equal), 0);
    EXPECT_EQ(test::compare(f, copy, CompareOp::same), 0);
    EXPECT_NE(test::compare(f, g, CompareOp::equal), 0);
    EXPECT_EQ(test::compare(f, g, CompareOp::equal), -test::compare(g, f, CompareOp::equal));
    EXPECT_EQ(test::compare(f, g, CompareOp::lesser), not_comparable);
    EXPECT_EQ(test::compare(f, test::integer(1), CompareOp::equal), not_comparable);
}

TEST_F(Functions, RefinementDefaults) {
    Cell slots[3];
    function::refinement_defaults(slots, 3);
    EXPECT_TRUE(slots[0].is(Type::logic));
    EXPECT_EQ(slots[0].data1, 0u);
    EXPECT_TRUE(slots[1].is(Type::none));
    EXPECT_TRUE(slots[2].is(Type::none));
}

}  // namespace

}  // namespace kiv
