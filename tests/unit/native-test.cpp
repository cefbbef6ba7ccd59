// native!, action!, op! and routine!: making, reflection, form, mold and
// comparison; calling routines through the routine table.
#include <gtest/gtest.h>

#include "tests/unit/callables-support.h"

namespace kiv {

namespace {

using test::error_of;
using test::read;

class Natives : public test::CallableTest {
protected:
    static Cell func(const char* spec, const char* body) {
        Cell s = read(spec);
        Cell b = read(body);
        Cell out;
        function::func(&out, &s, &b);
        return out;
    }
    static Cell reflected(Cell value, const char* field) {
        Cell w = test::word_of(field);
        return *registry::find<Action::reflect>(&value)(&value, &w);
    }
};

TEST_F(Natives, MakeChecksTheSpecAndSlot) {
    constexpr ErrorId ok = ErrorId::count_;
    constexpr ErrorId bad = ErrorId::script_bad_make_arg;
    const struct {
        Type type;
        const char* spec;
        ErrorId expected;
    } cases[] = {
        {Type::action, "[value] 62", ok},
        {Type::action, "[value] 1", ok},
        {Type::action, "[value] 63", bad},
        {Type::native, "[value] 107", ok},
        {Type::native, "[value] 108", bad},
        {Type::native, "[value] 120", bad},
        {Type::native, "[value] 0", bad},
        {Type::native, "[value] -1", bad},
        {Type::native, "[value] 5 6", bad},
        {Type::native, "[value]", bad},
        {Type::native, "5 [value]", bad},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(error_of([&] { test::make(c.type, read(c.spec)); }), c.expected) << c.spec;
    }
    try {
        test::make(Type::native, read("[value] 0"));
    } catch (const KivError& e) {
        EXPECT_EQ(test::mold(e.args[0]), "native!");
        EXPECT_EQ(test::mold(e.args[1]), "[[value] 0]");
    }
}

TEST_F(Natives, ReflectFormAndMold) {
    const Cell add = test::make(Type::action, read("[value1 value2] 11"));
    EXPECT_EQ(reflected(add, "body").data2, 11u);
    EXPECT_EQ(test::mold(reflected(add, "spec")), "[value1 value2]");
    EXPECT_EQ(reflected(add, "spec").data2, add.data2);
    EXPECT_EQ(error_of([&] { reflected(add, "words"); }), ErrorId::internal_not_done);
    EXPECT_EQ(test::form(add), "?action?");
    EXPECT_EQ(test::mold(add), "make action! [[value1 value2]]");
    const Cell print = test::make(Type::native, read("[value \"doc\"] 3"));
    EXPECT_EQ(test::form(print), "?native?");
    EXPECT_EQ(test::mold(print), "make native! [[value \"doc\"]]");
    // The argument context holds the spec's words.
    const Cell* arguments = function::more_cell(&print, 0);
    EXPECT_TRUE(arguments->is(Type::context));
    EXPECT_TRUE(function::more_cell(&print, 1)->is(Type::none));
}

TEST_F(Natives, OpsFromEveryCallable) {
    const Cell add = test::make(Type::action, read("[value1 value2] 11"));
    const Cell infix = test::make(Type::op, add);
    EXPECT_EQ(op::source_type(&infix), Type::action);
    EXPECT_EQ(test::mold(infix), "make op! [[value1 value2]]");
    EXPECT_EQ(test::form(infix), "?op?");
    EXPECT_EQ(reflected(infix, "body").data2, 11u);

    const Cell minus = func("a b", "a - b");
    const Cell from_func = test::make(Type::op, minus);
    EXPECT_EQ(op::source_type(&from_func), Type::function);
    EXPECT_EQ(test::mold(from_func), "make op! func [a b][a - b]");
    EXPECT_EQ(test::mold(reflected(from_func, "body")), "[a - b]");
    // The source leads back to its function.
    EXPECT_EQ(function::more_cell(&minus, function::more::source)->data3, minus.data3);

    constexpr ErrorId ok = ErrorId::count_;
    const struct {
        const char* spec;
        ErrorId expected;
    } cases[] = {
        {"a", ErrorId::script_bad_op_spec},
        {":a b", ErrorId::script_bad_op_spec},
        {"'a b", ErrorId::script_bad_op_spec},
        {"a :b", ok},
        {"a b /local c", ok},
        {"a b /extern c", ok},
        {"a b return: [integer!]", ok},
        {"a b /ref", ErrorId::script_bad_op_spec},
        {"a b c", ErrorId::script_bad_op_spec},
        {"\"doc\" a [integer!] b", ok},
    };
    for (const auto& c : cases) {
        const Cell f = func(c.spec, "a");
        EXPECT_EQ(error_of([&] { test::make(Type::op, f); }), c.expected) << c.spec;
    }
    EXPECT_EQ(error_of([&] { test::make(Type::op, test::integer(1)); }), ErrorId::script_invalid_type);
}

TEST_F(Natives, ComparedByEntry) {
    const Cell print = test::make(Type::native, read("[value] 3"));
    const Cell print_too = test::make(Type::native, read("[v] 3"));
    const Cell prin = test::make(Type::native, read("[value] 4"));
    EXPECT_EQ(test::compare(print, print_too, CompareOp::equal), 0);
    EXPECT_EQ(test::compare(print, prin, CompareOp::equal), -1);
    EXPECT_EQ(test::compare(prin, print, CompareOp::sort), 1);
    EXPECT_EQ(test::compare(print, prin, CompareOp::lesser), not_comparable);
    const Cell action = test::make(Type::action, read("[value] 3"));
    EXPECT_EQ(test::compare(print, action, CompareOp::equal), not_comparable);
    // Ops made from functions compare by the function's context.
    const Cell f = func("a b", "a");
    const Cell op1 = test::make(Type::op, f);
    const Cell op2 = test::make(Type::op, f);
    const Cell op3 = test::make(Type::op, func("a b", "a"));
    EXPECT_EQ(test::compare(op1, op2, CompareOp::equal), 0);
    EXPECT_NE(test::compare(op1, op3, CompareOp::equal), 0);
}

std::int32_t add_numbers(const routine::Raw* args) { return args[0].number + args[1].number; }
std::int32_t is_block(const routine::Raw* args) { return args[0].cell->is(Type::block) ? 1 : 0; }
std::int32_t nothing(const routine::Raw*) { return 99; }

TEST_F(Natives, Routines) {
    routine::clear_table();
    const std::int32_t add_slot = routine::register_entry("add-numbers", add_numbers);
    const std::int32_t block_slot = routine::register_entry("is-block", is_block);
    routine::register_entry("nothing", nothing);
    EXPECT_EQ(routine::find_entry("is-block"), block_slot);
    EXPECT_EQ(routine::find_entry("missing"), 0);

    Cell spec = read("a [integer!] b [integer!] return: [integer!]");
    Cell adder;
    routine::make_at(&adder, &spec, nullptr, add_slot, static_cast<std::int32_t>(Type::integer));
    EXPECT_EQ(routine::get_arity(&adder), 2);
    EXPECT_EQ(adder.data2, spec.data2);  // the spec given, not a copy
    Cell args[2] = {test::integer(40), test::integer(2)};
    Cell result;
    routine::call(&adder, args, &result);
    EXPECT_TRUE(result.is(Type::integer));
    EXPECT_EQ(result.data2, 42u);

    spec = read("value [any-type!]");
    Cell body = read("dialect code");
    Cell tester;
    routine::make_at(&tester, &spec, &body, block_slot, static_cast<std::int32_t>(Type::logic));
    Cell arg = read("x");
    routine::call(&tester, &arg, &result);
    EXPECT_TRUE(result.is(Type::logic));
    EXPECT_EQ(result.data1, 1u);

    Cell quiet;
    Cell empty = read("");
    routine::make_at(&quiet, &empty, nullptr, routine::find_entry("nothing"), routine::no_result);
    routine::call(&quiet, nullptr, &result);
    EXPECT_TRUE(result.is(Type::unset));

    EXPECT_EQ(test::form(adder), "?routine?");
    EXPECT_EQ(test::mold(adder), "routine [a [integer!] b [integer!] return: [integer!]] none");
    EXPECT_EQ(test::mold(tester), "routine [value [any-type!]][dialect code]");
    EXPECT_EQ(test::mold(reflected(tester, "words")), "[value]");
    EXPECT_EQ(reflected(tester, "spec").data2, tester.data2);
    EXPECT_EQ(test::compare(adder, adder, CompareOp::equal), 0);
    EXPECT_NE(test::compare(adder, tester, CompareOp::equal), 0);
    EXPECT_EQ(error_of([&] { test::make(Type::routine, read("[a] [a]")); }), ErrorId::script_expect_arg);
    // The form's budget counts its nine characters.
    Cell out;
    string::make_at(&out, 16);
    EXPECT_EQ(registry::find<Action::form>(&adder)(&adder, &out, nullptr, 20), 11);
    routine::clear_table();
}

}  // namespace

}  // namespace kiv
