#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "tests/unit/runtime-support.h"

namespace kiv {

namespace {

using test::error_of;

class BitsetTest : public test::RuntimeTest {
protected:
    void SetUp() override {
        test::RuntimeTest::SetUp();
        integer::init();
        float_::init();
        bitset::init();
    }
};

Cell i(std::int32_t n) { return integer::make_cell(n); }
Cell ch(std::uint32_t c) { return Cell{static_cast<std::uint32_t>(Type::char_), 0, c, 0}; }
Cell dash() { return test::word_of("-"); }

Cell binary_of(std::initializer_list<std::uint8_t> bytes) {
    const NodeId node = memory::alloc_bytes(static_cast<std::int64_t>(bytes.size()));
    memory::SeriesBuffer* b = memory::buffer_of(node);
    for (std::uint8_t byte : bytes) *b->tail_ptr() = byte, ++b->tail;
    return Cell{static_cast<std::uint32_t>(Type::binary), 0, node, 0};
}

Cell made(Cell spec, bool make = true) {
    Cell proto;
    if (make) return *registry::lookup<Action::make>(Type::bitset)(&proto, &spec, Type::bitset);
    return *registry::lookup<Action::to>(Type::bitset)(&proto, &spec, Type::bitset);
}

std::string outcome(std::function<Cell()> body) {
    try {
        return test::mold(body());
    } catch (const KivError& e) {
        return std::string("error ") + error_info(e.id).name;
    }
}

int length_of(Cell bs) { return registry::lookup<Action::length_q>(Type::bitset)(&bs); }

}  // namespace

TEST_F(BitsetTest, MakeAndMold) {
    struct Case { Cell spec; bool make; const char* result; };
    const Case cases[] = {
        {i(10), true, "make bitset! #{0000}"},
        {i(0), true, "make bitset! #{}"},
        {float_::make_cell(9.9), true, "make bitset! #{0000}"},
        {i(-1), true, "error out-of-range"},
        {i(10), false, "error bad-to-arg"},
        {test::string_of("AB"), true, "make bitset! #{000000000000000060}"},
        {ch('a'), true, "make bitset! #{00000000000000000000000040}"},
        {test::block_of({test::word_of("not"), ch('a')}), true,
         "make bitset! [not #{00000000000000000000000040}]"},
        {test::block_of({ch('a'), dash(), ch('c')}), true, "make bitset! #{00000000000000000000000070}"},
        {test::block_of({i(0), dash(), i(9), i(15)}), false, "make bitset! #{FFC1}"},
        {test::block_of({i(1), i(5), float_::make_cell(10.7)}), true, "make bitset! #{4420}"},
        {test::block_of({}), true, "make bitset! #{00}"},
        {test::block_of({ch('c'), dash(), ch('a')}), true, "error past-end"},
        {test::block_of({ch('a'), dash()}), true, "error past-end"},
        {test::block_of({ch('a'), dash(), i(5)}), true, "error invalid-arg"},
        {test::block_of({i(-1)}), true, "error bad-make-arg"},
        {test::block_of({i(-1)}), false, "error bad-to-arg"},
        {test::block_of({test::word_of("x")}), true, "error bad-make-arg"},
        {test::block_of({binary_of({1})}), true, "error not-done"},
        {binary_of({0xFF, 0x01}), true, "make bitset! #{FF01}"},
        {test::block_of({test::word_of("not"), binary_of({0x80})}), true, "make bitset! [not #{80}]"},
        {test::word_of("x"), false, "error bad-to-arg"},
    };
    for (const Case& c : cases) EXPECT_EQ(outcome([&] { return made(c.spec, c.make); }), c.result) << c.result;
    EXPECT_EQ(length_of(made(i(10))), 16);
    EXPECT_EQ(length_of(made(test::string_of("AB"))), 72);
    // A /part limit cuts the text.
    Cell bs = made(test::string_of("AB"));
    Cell out;
    string::make_at(&out, 0);
    Cell limit = i(16);
    registry::lookup<Action::mold>(Type::bitset)(&bs, &out, false, false, false, &limit, 16, 0);
    EXPECT_EQ(string::to_utf8(&out), "make bitset! #{0");
}

TEST_F(BitsetTest, MembershipAndGrowth) {
    Cell plain = made(i(8));
    Cell not_a = made(test::block_of({test::word_of("not"), ch('a')}));
    EXPECT_FALSE(bitset::member_q(&plain, 1000000));
    EXPECT_TRUE(bitset::member_q(&not_a, 1000000));
    EXPECT_FALSE(bitset::member_q(&not_a, 'a'));
    EXPECT_TRUE(bitset::member_q(&not_a, 'b'));

    auto poke = registry::lookup<Action::poke>(Type::bitset);
    auto pick = registry::lookup<Action::pick>(Type::bitset);
    Cell yes = logic::true_value;
    Cell no = logic::false_value;
    Cell hundred = i(100);
    poke(&plain, 0, &yes, &hundred);
    EXPECT_EQ(length_of(plain), 13 * 8);
    EXPECT_TRUE(bitset::member_q(&plain, 100));
    // Setting beyond a complemented set changes nothing; clearing grows it.
    Cell far = i(500);
    poke(&not_a, 0, &yes, &far);
    EXPECT_EQ(length_of(not_a), 13 * 8);
    poke(&not_a, 0, &no, &far);
    EXPECT_EQ(length_of(not_a), 63 * 8);
    EXPECT_FALSE(bitset::member_q(&not_a, 500));
    EXPECT_TRUE(bitset::member_q(&not_a, 499));
    EXPECT_TRUE(bitset::member_q(&not_a, 5000));
    // none, false, 0 and 0.0 clear; anything else sets.
    for (Cell v : {none::value, i(0), float_::make_cell(0.0), float_::make_cell(-0.0)}) {
        Cell bs = made(test::string_of("d"));
        Cell d = ch('d');
        poke(&bs, 0, &v, &d);
        EXPECT_FALSE(bitset::member_q(&bs, 'd')) << test::mold(v);
    }

    Cell abc = made(test::block_of({ch('a'), dash(), ch('c')}));
    struct Probe { Cell spec; bool member; };
    const Probe probes[] = {
        {ch('b'), true}, {ch('d'), false}, {test::string_of("cab"), true}, {test::string_of("abd"), false},
        {test::block_of({ch('a'), dash(), ch('c')}), true}, {test::block_of({i(97), dash(), i(100)}), false},
        {i(1000), false}, {test::string_of(""), true},
    };
    for (const Probe& p : probes) {
        Cell bs = abc;
        Cell spec = p.spec;
        EXPECT_EQ(logic::get(pick(&bs, 0, &spec)), p.member) << test::mold(p.spec);
        bs = abc;
        const Cell* found = registry::lookup<Action::find>(Type::bitset)(&bs, &spec, nullptr, false, false, false,
                                                                          false, nullptr, nullptr, false, false, false, false);
        EXPECT_EQ(found->is(Type::logic), p.member);
    }
    // Beyond a complemented buffer every number is a member, also when a
    // string names several.
    Cell bs = not_a;
    Cell spec = test::string_of("\xF0\x9F\x98\x80z");
    EXPECT_TRUE(logic::get(pick(&bs, 0, &spec)));
    bs = not_a;
    spec = test::string_of("\xF0\x9F\x98\x80" "a");
    EXPECT_FALSE(logic::get(pick(&bs, 0, &spec)));
}

TEST_F(BitsetTest, RemoveClearCopyAndComplement) {
    auto remove = registry::lookup<Action::remove>(Type::bitset);
    auto append = registry::lookup<Action::append>(Type::bitset);
    for (bool negated : {false, true}) {
        Cell bs = negated ? made(test::block_of({test::word_of("not"), ch('z')})) : made(test::string_of("abz"));
        Cell a = test::string_of("a");
        remove(&bs, &a, nullptr);
        EXPECT_FALSE(bitset::member_q(&bs, 'a')) << negated;
        EXPECT_TRUE(bitset::member_q(&bs, 'b')) << negated;
        EXPECT_EQ(error_of([&] { remove(&bs, nullptr, nullptr); }), ErrorId::script_missing_arg);
    }
    Cell bs = made(i(8));
    Cell spec = test::block_of({ch('A'), test::string_of("xy"), i(3)});
    append(&bs, &spec, -1, false, 1, true);
    for (int n : {int{'A'}, int{'x'}, int{'y'}, 3}) EXPECT_TRUE(bitset::member_q(&bs, n)) << n;
    Cell copy;
    registry::lookup<Action::copy>(Type::bitset)(&bs, &copy, nullptr, false, nullptr);
    registry::lookup<Action::clear>(Type::bitset)(&bs);
    EXPECT_FALSE(bitset::member_q(&bs, 'A'));
    EXPECT_TRUE(bitset::member_q(&copy, 'A'));
    EXPECT_EQ(length_of(bs), length_of(copy));
    Cell not_z = made(test::block_of({test::word_of("not"), ch('z')}));
    registry::lookup<Action::clear>(Type::bitset)(&not_z);
    EXPECT_TRUE(bitset::member_q(&not_z, 'z'));
    EXPECT_TRUE(bitset::complemented_q(&not_z));

    Cell inverted = copy;
    registry::lookup<Action::complement>(Type::bitset)(&inverted);
    for (int n : {0, int{'A'}, int{'x'}, int{'B'}, 5000}) {
        EXPECT_NE(bitset::member_q(&inverted, n), bitset::member_q(&copy, n)) << n;
    }
    EXPECT_TRUE(bitset::member_q(&copy, 'A'));
    EXPECT_EQ(test::mold(inverted).rfind("make bitset! [not #{", 0), 0u);
}

// Every set operation must hold for every number, whatever mix of plain and
// complemented sets of any lengths takes part.
TEST_F(BitsetTest, SetOperationsMatchMembership) {
    const Cell samples[] = {
        made(test::block_of({i(1), i(9)})),                                  // plain, 2 bytes
        made(test::block_of({i(3), i(9), i(38)})),                           // plain, 5 bytes
        made(test::block_of({test::word_of("not"), i(2), i(9)})),            // complemented, 2 bytes
        made(test::block_of({test::word_of("not"), i(9), i(30), i(60)})),    // complemented, 8 bytes
        made(i(0)),                                                          // empty
    };
    using bitset::SetOp;
    struct Op { SetOp op; bool (*expected)(bool, bool); };
    const Op ops[] = {
        {SetOp::or_, [](bool a, bool b) { return a || b; }},
        {SetOp::union_, [](bool a, bool b) { return a || b; }},
        {SetOp::and_, [](bool a, bool b) { return a && b; }},
        {SetOp::intersect, [](bool a, bool b) { return a && b; }},
        {SetOp::xor_, [](bool a, bool b) { return a != b; }},
        {SetOp::difference, [](bool a, bool b) { return a != b; }},
        {SetOp::exclude, [](bool a, bool b) { return a && !b; }},
        {SetOp::first, [](bool a, bool) { return a; }},
    };
    for (const Cell& a : samples) {
        for (const Cell& b : samples) {
            for (const Op& op : ops) {
                Cell result = a;
                Cell right = b;
                bitset::do_bitwise(&result, &right, op.op);
                for (int n : {0, 1, 2, 3, 9, 15, 16, 30, 38, 39, 60, 63, 64, 1000}) {
                    EXPECT_EQ(bitset::member_q(&result, n), op.expected(bitset::member_q(&a, n), bitset::member_q(&b, n)))
                        << test::mold(a) << " op " << static_cast<int>(op.op) << " " << test::mold(b) << " at " << n;
                }
            }
        }
    }
    // The result takes the longer length; and~ of plain sets the shorter.
    Cell two = samples[0];
    Cell five = samples[1];
    bitset::do_bitwise(&two, &five, SetOp::union_);
    EXPECT_EQ(length_of(two), 40);
    two = samples[0];
    bitset::do_bitwise(&two, &five, SetOp::and_);
    EXPECT_EQ(length_of(two), 16);
    Cell number = i(1);
    two = samples[0];
    EXPECT_EQ(error_of([&] { bitset::do_bitwise(&two, &number, SetOp::union_); }), ErrorId::script_invalid_type);
}

TEST_F(BitsetTest, ComparePathsAndReflect) {
    struct Case { Cell a; Cell b; int result; };
    const Case cases[] = {
        {made(i(8)), made(i(16)), -1},
        {made(test::string_of("a")), made(test::string_of("a")), 0},
        {made(test::string_of("a")), made(test::string_of("b")), 1},
        {made(test::block_of({i(0), i(15)})), made(test::block_of({i(1), i(8)})), -1},
        {made(test::block_of({test::word_of("not"), i(3)})), made(test::string_of("\x03")), 1},
        {made(i(0)), made(test::block_of({test::word_of("not"), binary_of({})})), 0},
        {made(i(8)), i(0), not_comparable},
    };
    for (const Case& c : cases) EXPECT_EQ(test::compare(c.a, c.b, CompareOp::equal), c.result) << test::mold(c.a);
    const Cell bs = made(test::string_of("a"));
    EXPECT_EQ(test::compare(bs, made(test::string_of("a")), CompareOp::same), 1);
    EXPECT_EQ(test::compare(bs, bs, CompareOp::same), 0);

    auto eval_path = registry::lookup<Action::eval_path>(Type::bitset);
    Cell path = none::value;
    Cell target = made(test::string_of("a"));
    Cell a = ch('a');
    Cell n98 = i(98);
    EXPECT_TRUE(logic::get(eval_path(&target, &a, nullptr, &path, nullptr, nullptr, 0, false, false, true, false)));
    Cell yes = logic::true_value;
    eval_path(&target, &n98, &yes, &path, nullptr, nullptr, 0, false, false, true, false);
    EXPECT_TRUE(bitset::member_q(&target, 98));
    Cell text = test::string_of("a");
    EXPECT_EQ(error_of([&] { eval_path(&target, &text, nullptr, &path, nullptr, nullptr, 0, false, false, true, false); }),
              ErrorId::script_invalid_type);

    auto reflect = registry::lookup<Action::reflect>(Type::bitset);
    Cell owned = test::word_of("owned");
    Cell r = target;
    EXPECT_TRUE(reflect(&r, &owned)->is(Type::none));
    Cell other = test::word_of("words");
    r = target;
    EXPECT_EQ(error_of([&] { reflect(&r, &other); }), ErrorId::internal_not_done);
}

}  // namespace kiv
