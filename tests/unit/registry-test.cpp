#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "tests/unit/runtime-support.h"

namespace kiv {

using test::compare;
using test::datatype_of;
using test::error_of;
using test::form;
using test::mold;

namespace {

int parent_form(Cell*, Cell*, Cell*, int part) { return part - 1; }
int child_form(Cell*, Cell*, Cell*, int part) { return part - 2; }
int parent_compare(Cell*, Cell*, CompareOp) { return 7; }
Cell* parent_negate(Cell* v) { return v; }

class Registry : public test::RuntimeTest {};

TEST_F(Registry, InheritCopiesTheParentsSlotOnce) {
    // Two spare ids stand for a parent and its child.
    const Type parent = Type::vector;
    const Type child = Type::image;
    registry::register_type(parent, registry::no_parent, "parent!",
                            ActionRow{.form = parent_form, .compare = parent_compare});
    registry::register_type(child, parent, "child!",
                            ActionRow{.form = inherit, .compare = inherit, .negate = inherit});
    EXPECT_EQ(registry::row(child).form, parent_form);
    EXPECT_EQ(registry::row(child).compare, parent_compare);
    // An inherited empty slot stays unsupported.
    EXPECT_FALSE(registry::supports(child, Action::negate));

    // A later change to the parent does not reach the child.
    registry::register_type(parent, registry::no_parent, "parent!",
                            ActionRow{.form = child_form, .negate = parent_negate});
    EXPECT_EQ(registry::row(child).form, parent_form);
    EXPECT_FALSE(registry::supports(child, Action::negate));

    // `inherit` without a parent is unsupported.
    registry::register_type(child, registry::no_parent, "child!", ActionRow{.form = inherit});
    EXPECT_FALSE(registry::supports(child, Action::form));
    EXPECT_EQ(registry::entry(child).length, 5);
}

TEST_F(Registry, UnsupportedActionNamesActionTypeAndArgument) {
    Cell value = test::word_of("foo", Type::refinement);
    try {
        registry::find<Action::index_q>(&value);
        FAIL() << "no error";
    } catch (const KivError& e) {
        EXPECT_EQ(e.id, ErrorId::script_expect_arg);
        ASSERT_EQ(e.arg_count, 3);
        EXPECT_EQ(symbol::text(e.args[0].data2), "index?");
        EXPECT_EQ(e.args[1].data1, static_cast<std::uint32_t>(Type::refinement));
        EXPECT_EQ(symbol::text(e.args[2].data2), "series");
    }
}

TEST_F(Registry, EveryRegisteredRowIsReachable) {
    struct Case {
        Type type;
        std::vector<Action> supported;
    } cases[] = {
        {Type::datatype, {Action::form, Action::mold, Action::compare}},
        {Type::unset, {Action::make, Action::to, Action::form, Action::mold, Action::compare}},
        {Type::none,
         {Action::make, Action::to, Action::form, Action::mold, Action::compare, Action::clear,
          Action::find, Action::length_q, Action::remove, Action::select, Action::take}},
        {Type::logic,
         {Action::make, Action::random, Action::to, Action::form, Action::mold, Action::compare,
          Action::and_, Action::complement, Action::or_, Action::xor_}},
        {Type::symbol, {Action::compare}},
        {Type::context, {}},
        {Type::word,
         {Action::make, Action::to, Action::form, Action::mold, Action::compare, Action::index_q}},
        {Type::lit_word,
         {Action::make, Action::to, Action::form, Action::mold, Action::compare, Action::index_q}},
        {Type::set_word,
         {Action::make, Action::to, Action::form, Action::mold, Action::compare, Action::index_q}},
        {Type::get_word,
         {Action::make, Action::to, Action::form, Action::mold, Action::compare, Action::index_q}},
        {Type::refinement, {Action::make, Action::to, Action::form, Action::mold, Action::compare}},
        {Type::typeset,
         {Action::make, Action::to, Action::form, Action::mold, Action::compare, Action::and_,
          Action::complement, Action::or_, Action::xor_, Action::find}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(registry::entry(c.type).name);
        EXPECT_TRUE(registry::entry(c.type).registered);
        for (int slot = 1; slot <= action_count; ++slot) {
            const auto action = static_cast<Action>(slot);
            const bool expected = std::find(c.supported.begin(), c.supported.end(), action) !=
                                  c.supported.end();
            EXPECT_EQ(registry::supports(c.type, action), expected) << registry::action_name(action);
        }
    }
    // The family shares word!'s functions; each member molds its own way.
    EXPECT_EQ(registry::row(Type::set_word).form, registry::row(Type::word).form);
    EXPECT_NE(registry::row(Type::set_word).mold, registry::row(Type::word).mold);
}

TEST_F(Registry, DatatypeValues) {
    const Cell logic = datatype_of(Type::logic);
    EXPECT_EQ(form(logic), "logic");
    EXPECT_EQ(mold(logic), "logic!");
    EXPECT_EQ(mold(logic, true), "#(logic!)");
    EXPECT_EQ(compare(logic, datatype_of(Type::logic), CompareOp::equal), 0);
    EXPECT_NE(compare(logic, datatype_of(Type::none), CompareOp::equal), 0);
    EXPECT_EQ(compare(logic, datatype_of(Type::none), CompareOp::lesser), not_comparable);
    // Every registered datatype molds as its name, which is also its word.
    const char* names[] = {"datatype!", "unset!",   "none!",      "logic!",    "symbol!",
                           "context!",  "word!",    "set-word!",  "lit-word!", "get-word!",
                           "refinement!", "typeset!"};
    const Type types[] = {Type::datatype, Type::unset,    Type::none,     Type::logic,
                          Type::symbol,   Type::context,  Type::word,     Type::set_word,
                          Type::lit_word, Type::get_word, Type::refinement, Type::typeset};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(mold(datatype_of(types[i])), names[i]);
        EXPECT_EQ(symbol::text(registry::entry(types[i]).symbol), names[i]);
    }
}

TEST_F(Registry, FormAndMoldReturnTheBudgetLeft) {
    Cell out;
    string::make_at(&out, 16);
    Cell none = none::value;
    Cell t = logic::false_value;
    Cell u = unset::value;
    Cell type = datatype_of(Type::logic);
    EXPECT_EQ(registry::find<Action::mold>(&none)(&none, &out, false, true, false, nullptr, 10, 0), 3);
    EXPECT_EQ(registry::find<Action::form>(&t)(&t, &out, nullptr, 10), 5);
    EXPECT_EQ(registry::find<Action::form>(&u)(&u, &out, nullptr, 10), 10);
    EXPECT_EQ(registry::find<Action::mold>(&type)(&type, &out, false, true, false, nullptr, 20, 0), 11);
    EXPECT_EQ(string::to_utf8(&out), "#(none)false#(logic!)");
}

TEST_F(Registry, SimpleValuesFormMoldAndCompare) {
    struct Case {
        Cell value;
        const char* formed;
        const char* molded;
        const char* molded_all;
    } cases[] = {
        {unset::value, "", "unset", "#(unset)"},
        {none::value, "none", "none", "#(none)"},
        {logic::true_value, "true", "true", "#(true)"},
        {logic::false_value, "false", "false", "#(false)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(form(c.value), c.formed);
        EXPECT_EQ(mold(c.value), c.molded);
        EXPECT_EQ(mold(c.value, true), c.molded_all);
        EXPECT_EQ(compare(c.value, c.value, CompareOp::equal), 0);
        EXPECT_EQ(compare(c.value, c.value, CompareOp::lesser), not_comparable);
        EXPECT_EQ(compare(c.value, test::integer(1), CompareOp::equal), not_comparable);
    }
    // false sorts before true.
    EXPECT_LT(compare(logic::false_value, logic::true_value, CompareOp::sort), 0);
    EXPECT_NE(compare(logic::false_value, logic::true_value, CompareOp::equal), 0);
}

TEST_F(Registry, LogicMakeTestsNumbersToTestsNone) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto float_cell = [](double d) {
        Cell c{static_cast<std::uint32_t>(Type::float_), 0, 0, 0};
        std::memcpy(&c.data2, &d, 8);
        return c;
    };
    struct Case {
        Cell spec;
        bool made;
        bool converted;
    } cases[] = {
        {test::integer(0), false, true},   {test::integer(-3), true, true},
        {float_cell(0.0), false, true},    {float_cell(nan), true, true},
        {none::value, false, false},       {unset::value, true, true},
        {logic::false_value, false, false}, {test::string_of(""), true, true},
    };
    const auto& row = registry::row(Type::logic);
    for (const Case& c : cases) {
        Cell spec = c.spec;
        Cell result;
        EXPECT_EQ(logic::get(row.make(&result, &spec, Type::logic)), c.made);
        EXPECT_EQ(logic::get(row.to(&result, &spec, Type::logic)), c.converted);
    }
}

TEST_F(Registry, LogicOperations) {
    const auto& row = registry::row(Type::logic);
    Cell a = logic::true_value;
    Cell b = logic::false_value;
    EXPECT_FALSE(logic::get(row.and_(&a, &b)));
    a = logic::true_value;
    EXPECT_TRUE(logic::get(row.or_(&a, &b)));
    a = logic::true_value;
    Cell t = logic::true_value;
    EXPECT_FALSE(logic::get(row.xor_(&a, &t)));
    EXPECT_TRUE(logic::get(row.complement(&a)));
    Cell one = test::integer(1);
    EXPECT_EQ(error_of([&] { row.and_(&a, &one); }), ErrorId::script_expect_arg);
    // random/seed leaves unset; a draw gives either value, reproducibly.
    Cell seed = logic::true_value;
    EXPECT_TRUE(row.random(&seed, true, false, false)->is(Type::unset));
    int trues = 0;
    for (int i = 0; i < 64; ++i) {
        Cell draw = logic::false_value;
        trues += logic::get(row.random(&draw, false, false, false));
    }
    EXPECT_GT(trues, 0);
    EXPECT_LT(trues, 64);
    seed = logic::true_value;
    row.random(&seed, true, false, false);
    Cell first = logic::false_value;
    const bool again = logic::get(row.random(&first, false, false, false));
    seed = logic::true_value;
    row.random(&seed, true, false, false);
    Cell second = logic::false_value;
    EXPECT_EQ(logic::get(row.random(&second, false, false, false)), again);
}

TEST_F(Registry, NoneAnswersNone) {
    const auto& row = registry::row(Type::none);
    Cell n = none::value;
    Cell key = test::word_of("a");
    EXPECT_TRUE(row.select(&n, &key, nullptr, false, false, false, false, nullptr, nullptr, false, false)
                    ->is(Type::none));
    EXPECT_TRUE(row.clear(&n)->is(Type::none));
    EXPECT_EQ(row.length_q(&n), -1);
}

TEST_F(Registry, Truthiness) {
    Cell arg = test::word_of("x");
    EXPECT_FALSE(logic::truthy(&none::value, true, &arg));
    EXPECT_FALSE(logic::truthy(&logic::false_value, true, &arg));
    EXPECT_TRUE(logic::truthy(&unset::value, false, &arg));
    EXPECT_EQ(error_of([&] { logic::truthy(&unset::value, true, &arg); }), ErrorId::script_no_value);
    EXPECT_EQ(error_of([&] { logic::result_truthy(&unset::value); }), ErrorId::script_no_return);
    EXPECT_FALSE(logic::result_falsy(&unset::value));
    const Cell zero = test::integer(0);
    EXPECT_TRUE(logic::result_truthy(&zero));
}

}  // namespace
}  // namespace kiv
