#include <gtest/gtest.h>

#include <vector>

#include "tests/unit/runtime-support.h"

namespace kiv {

namespace {

using test::compare;
using test::datatype_of;
using test::error_of;
using test::form;
using test::mold;

class Typesets : public test::RuntimeTest {};

Cell make_typeset(std::initializer_list<Cell> spec_items) {
    Cell spec = test::block_of(spec_items);
    Cell result;
    registry::row(Type::typeset).make(&result, &spec, Type::typeset);
    return result;
}

TEST_F(Typesets, MadeAndTested) {
    const Cell set = make_typeset({datatype_of(Type::logic), datatype_of(Type::none)});
    auto find = [](Cell s, Type t) {
        Cell type = datatype_of(t);
        return logic::get(registry::row(Type::typeset)
                              .find(&s, &type, nullptr, false, false, false, false, nullptr,
                                    nullptr, false, false, false, false));
    };
    EXPECT_TRUE(find(set, Type::logic));
    EXPECT_TRUE(find(set, Type::none));
    EXPECT_FALSE(find(set, Type::word));
    // Bits run most significant first: logic! (4) is 0x08 of byte 0.
    EXPECT_EQ(typeset::bytes(&set)[0], 0x18);
    Cell s = set;
    Cell one = test::integer(1);
    EXPECT_EQ(error_of([&] {
                  registry::row(Type::typeset)
                      .find(&s, &one, nullptr, false, false, false, false, nullptr, nullptr, false,
                            false, false, false);
              }),
              ErrorId::script_invalid_arg);
    // A word stands for its value; a typeset joins with its members.
    Cell named = test::word_of("my-types");
    word::set(&named, &set);
    const Cell via = make_typeset({named, datatype_of(Type::word)});
    EXPECT_TRUE(typeset::has(&via, static_cast<std::uint32_t>(Type::none)));
    EXPECT_TRUE(typeset::has(&via, static_cast<std::uint32_t>(Type::word)));
    EXPECT_EQ(typeset::count(&via), 3);
    EXPECT_EQ(error_of([] { make_typeset({test::integer(3)}); }), ErrorId::script_invalid_arg);
    Cell result;
    Cell bad = test::integer(3);
    EXPECT_EQ(error_of([&] { registry::row(Type::typeset).make(&result, &bad, Type::typeset); }),
              ErrorId::script_bad_to_arg);
}

TEST_F(Typesets, FormedAndMolded) {
    const Cell set = make_typeset({datatype_of(Type::word), datatype_of(Type::logic)});
    EXPECT_EQ(mold(set), "make typeset! [logic! word!]");
    EXPECT_EQ(form(set), "make typeset! [logic! word!]");
    EXPECT_EQ(mold(set, false, true), "logic! word!");
    EXPECT_EQ(mold(make_typeset({})), "make typeset! []");
    // A /part budget stops the names once it runs out.
    Cell out;
    string::make_at(&out, 0);
    Cell s = set;
    Cell part_arg = test::integer(18);
    const int left = registry::row(Type::typeset).mold(&s, &out, false, false, false, &part_arg, 18, 0);
    EXPECT_EQ(string::to_utf8(&out), "make typeset! [logic!");
    EXPECT_EQ(left, -4);
}

TEST_F(Typesets, Combined) {
    const Cell set = make_typeset({datatype_of(Type::logic), datatype_of(Type::none)});
    const Cell other = make_typeset({datatype_of(Type::none), datatype_of(Type::word)});
    struct Case {
        int op;
        Cell second;
        std::vector<Type> members;
    } cases[] = {
        {5, datatype_of(Type::word), {Type::none, Type::logic, Type::word}},   // or~ with a datatype
        {9, other, {Type::none, Type::logic, Type::word}},                     // union
        {10, other, {Type::none}},                                             // intersect
        {12, other, {Type::logic, Type::word}},                                // difference
        {11, datatype_of(Type::none), {Type::logic}},                          // exclude
        {8, other, {Type::none, Type::logic}},                                 // unique
    };
    for (const Case& c : cases) {
        Cell result = set;
        typeset::do_bitwise(&result, &c.second, c.op);
        EXPECT_EQ(typeset::count(&result), static_cast<int>(c.members.size())) << c.op;
        for (Type t : c.members) EXPECT_TRUE(typeset::has(&result, static_cast<std::uint32_t>(t))) << c.op;
    }
    Cell s = set;
    const Cell one = test::integer(1);
    EXPECT_EQ(error_of([&] { typeset::do_bitwise(&s, &one, 5); }), ErrorId::script_invalid_arg);
    // complement inverts all 96 bits.
    registry::row(Type::typeset).complement(&s);
    EXPECT_FALSE(typeset::has(&s, static_cast<std::uint32_t>(Type::logic)));
    EXPECT_TRUE(typeset::has(&s, 95));
}

TEST_F(Typesets, Compared) {
    const Cell ab = make_typeset({datatype_of(Type::logic), datatype_of(Type::none)});
    const Cell ba = make_typeset({datatype_of(Type::none), datatype_of(Type::logic)});
    const Cell three = make_typeset({ab, datatype_of(Type::word)});
    EXPECT_EQ(compare(ab, ba, CompareOp::equal), 0);
    EXPECT_EQ(compare(ab, ba, CompareOp::strict_equal), 0);
    EXPECT_NE(compare(ab, three, CompareOp::equal), 0);
    EXPECT_LT(compare(ab, three, CompareOp::sort), 0);
    EXPECT_GT(compare(three, ab, CompareOp::sort_case), 0);
    EXPECT_EQ(compare(ab, three, CompareOp::lesser), not_comparable);
    EXPECT_EQ(compare(ab, datatype_of(Type::none), CompareOp::equal), not_comparable);
}

TEST_F(Typesets, DefaultAndFromFunctionSpecs) {
    Cell block = test::block_of({});
    Cell* def = typeset::make_default_in(&block);
    EXPECT_EQ(typeset::bytes(def)[0], 0xDF);
    EXPECT_FALSE(typeset::has(def, static_cast<std::uint32_t>(Type::unset)));
    EXPECT_TRUE(typeset::has(def, static_cast<std::uint32_t>(Type::event)));
    // Function spec types: inner blocks are skipped, a word whose value is a
    // word stands for object!, anything else is refused.
    Cell alias = test::word_of("type-alias");
    const Cell target = test::word_of("anything");
    word::set(&alias, &target);
    Cell spec = test::block_of({datatype_of(Type::logic), test::block_of({}), alias});
    Cell* made = typeset::make_from_block(&block, &spec);
    EXPECT_TRUE(typeset::has(made, static_cast<std::uint32_t>(Type::logic)));
    EXPECT_TRUE(typeset::has(made, static_cast<std::uint32_t>(Type::object)));
    EXPECT_EQ(typeset::count(made), 2);
    Cell bad = test::block_of({test::integer(1)});
    EXPECT_EQ(error_of([&] { typeset::make_from_block(&block, &bad); }), ErrorId::script_invalid_type_spec);
    // to block! gives the datatype words in id order.
    Cell words;
    typeset::to_block(made, &words);
    // object! is not registered here, but every datatype has its name.
    EXPECT_EQ(memory::buffer_of(words.data2)->length(), 2u);
    EXPECT_EQ(mold(memory::buffer_of(words.data2)->cells()[0]), "logic!");
    EXPECT_EQ(mold(memory::buffer_of(words.data2)->cells()[1]), "object!");
}

}  // namespace
}  // namespace kiv
