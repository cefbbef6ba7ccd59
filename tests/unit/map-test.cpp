#include <gtest/gtest.h>

#include <string>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/hashtable.h"
#include "tests/unit/block-support.h"
#include "tests/unit/text-values.h"

namespace kiv {

namespace {

using test::error_of;
using test::load;

class MapTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::start_runtime();
        series::init();
        block::init();
        string::init();
        integer::init();
        float_::init();
        char_::init();
        paren::init();
        issue::init();
        map::init();
    }
    void TearDown() override { collector::set_active(false); }
};

Cell make_map(Cell spec) {
    Cell proto;
    return *registry::lookup<Action::make>(Type::map)(&proto, &spec, Type::map);
}

Cell map_of(const char* source) { return make_map(load(source)); }

Cell w(const char* text, Type kind = Type::word) { return test::word_of(text, kind); }

// m/key, or none.
Cell path_get(Cell m, Cell key, bool case_ = false) {
    Cell path = none::value;
    return *registry::lookup<Action::eval_path>(Type::map)(&m, &key, nullptr, &path, nullptr, nullptr, 0,
                                                           case_, false, true, false);
}

void path_set(Cell& m, Cell key, Cell value) {
    Cell path = none::value;
    registry::lookup<Action::eval_path>(Type::map)(&m, &key, &value, &path, nullptr, nullptr, 0, false,
                                                   false, true, false);
}

Cell select(Cell m, Cell key, bool case_ = false) {
    return *registry::lookup<Action::select>(Type::map)(&m, &key, nullptr, false, case_, false, false, nullptr,
                                                        nullptr, false, false);
}

Cell find(Cell m, Cell key, bool case_ = false, bool same = false) {
    return *registry::lookup<Action::find>(Type::map)(&m, &key, nullptr, false, case_, same, false, nullptr,
                                                      nullptr, false, false, false, false);
}

void remove_key(Cell& m, Cell key) { registry::lookup<Action::remove>(Type::map)(&m, nullptr, &key); }

std::string words_of(Cell m) {
    Cell field = w("words");
    return test::mold(*registry::lookup<Action::reflect>(Type::map)(&m, &field));
}

std::string mold(Cell m, bool only = false, bool flat = false, int indent = 0) {
    return test::mold_with(m, only, flat, indent);
}

int length(Cell m) { return registry::lookup<Action::length_q>(Type::map)(&m); }

}  // namespace

TEST_F(MapTest, LookupIgnoresCaseUnlessAsked) {
    const Cell m = map_of("a 1 \"B\" 2");
    EXPECT_EQ(test::mold(path_get(m, w("A"))), "1");
    EXPECT_EQ(test::mold(path_get(m, test::string_of("b"))), "2");
    EXPECT_TRUE(select(m, test::string_of("b"), true).is(Type::none));
    EXPECT_EQ(test::mold(select(m, test::string_of("B"), true)), "2");
    EXPECT_TRUE(path_get(m, w("a", Type::set_word), true).is(Type::integer));
    EXPECT_TRUE(path_get(m, w("A"), true).is(Type::none));
    // Every word kind names the one key.
    for (Type kind : {Type::word, Type::set_word, Type::lit_word, Type::get_word}) {
        EXPECT_EQ(test::mold(select(m, w("a", kind))), "1");
    }
    EXPECT_EQ(test::mold(find(m, w("a"))), "a");
    EXPECT_TRUE(find(m, w("a")).is(Type::word));
    EXPECT_EQ(test::mold(find(m, test::string_of("b"))), "\"B\"");
    EXPECT_TRUE(find(m, w("zz")).is(Type::none));
}

TEST_F(MapTest, RemovalAndRevivalKeepOrder) {
    Cell m = map_of("a 1 \"B\" 2");
    path_set(m, w("c"), test::integer(3));
    EXPECT_EQ(length(m), 3);
    remove_key(m, w("c"));
    EXPECT_EQ(length(m), 2);
    EXPECT_TRUE(path_get(m, w("c")).is(Type::none));
    EXPECT_TRUE(find(m, w("c")).is(Type::none));
    path_set(m, w("d"), test::integer(5));
    path_set(m, w("c"), test::integer(4));
    EXPECT_EQ(length(m), 4);
    EXPECT_EQ(words_of(m), "[a \"B\" c d]");
    // remove/key is case-sensitive, and needs /key.
    remove_key(m, w("A"));
    EXPECT_EQ(length(m), 4);
    EXPECT_EQ(error_of([&] { registry::lookup<Action::remove>(Type::map)(&m, nullptr, nullptr); }),
              ErrorId::script_missing_arg);
    // put through any word kind replaces the value stored under a.
    Cell key = w("a", Type::set_word);
    Cell five = test::integer(5);
    registry::lookup<Action::put>(Type::map)(&m, &key, &five, false);
    EXPECT_EQ(test::mold(path_get(m, w("a"))), "5");
    EXPECT_EQ(length(m), 4);
}

TEST_F(MapTest, MakeAndTo) {
    struct Case { Cell spec; bool to; const char* result; };
    const Case cases[] = {
        {load("a 1 b 2"), false, "#[\n    a: 1\n    b: 2\n]"},
        {load("a 1 a 2"), false, "#[\n    a: 2\n]"},
        {load("a 1 A 2 'a 3"), true, "#[\n    a: 3\n]"},
        {load(""), false, "#[]"},
        {load("a"), false, "error invalid-arg"},
        {load("[x] 1"), false, "error invalid-path"},
        {test::integer(10), false, "#[]"},
        {float_::make_cell(2.5), false, "#[]"},
        {test::integer(-1), false, "error out-of-range"},
        {test::integer(10), true, "error bad-to-arg"},
        {test::string_of("a 1"), false, "error bad-to-arg"},
    };
    for (const Case& c : cases) {
        std::string got;
        try {
            Cell proto;
            Cell spec = c.spec;
            auto fn = c.to ? registry::lookup<Action::to>(Type::map) : registry::lookup<Action::make>(Type::map);
            got = mold(*fn(&proto, &spec, Type::map));
        } catch (const KivError& e) {
            got = std::string("error ") + error_info(e.id).name;
        }
        EXPECT_EQ(got, c.result) << test::mold(c.spec);
    }
    // A map spec gives a copy.
    const Cell m = map_of("a 1");
    Cell copy = make_map(m);
    path_set(copy, w("b"), test::integer(2));
    EXPECT_EQ(length(m), 1);
    EXPECT_EQ(length(copy), 2);
}

TEST_F(MapTest, KeysAndValuesAreCopies) {
    Cell spec = load("\"k\" \"v\"");
    Cell m = make_map(spec);
    Cell key = *block::ks_head(&spec);
    Cell* v = block::ks_head(&spec) + 1;
    string::append_utf8(&key, "x");
    string::append_utf8(v, "y");
    EXPECT_EQ(mold(m, false, true), "#[\"k\" \"v\"]");
    Cell caller = test::string_of("key");
    path_set(m, caller, test::integer(1));
    string::append_utf8(&caller, "!");
    EXPECT_EQ(test::mold(select(m, test::string_of("KEY"))), "1");
    EXPECT_TRUE(select(m, test::string_of("key!")).is(Type::none));
    // Scalar keys are stored as they are.
    path_set(m, test::integer(7), test::integer(70));
    path_set(m, Cell{static_cast<std::uint32_t>(Type::char_), 0, 'c', 0}, test::integer(99));
    EXPECT_EQ(test::mold(path_get(m, test::integer(7))), "70");
    EXPECT_EQ(test::mold(path_get(m, Cell{static_cast<std::uint32_t>(Type::char_), 0, 'c', 0})), "99");
    Cell bad = load("[1]");
    EXPECT_EQ(error_of([&] { path_set(m, *block::ks_head(&bad), test::integer(1)); }), ErrorId::script_invalid_path);
}

TEST_F(MapTest, MoldAndForm) {
    Cell m = map_of("a 1 b \"x\"");
    struct Case { bool only; bool flat; int indent; const char* text; };
    const Case cases[] = {
        {false, false, 0, "#[\n    a: 1\n    b: \"x\"\n]"},
        {false, true, 0, "#[a: 1 b: \"x\"]"},
        {true, false, 0, "a: 1\nb: \"x\""},
        {true, true, 0, "a: 1 b: \"x\""},
        {false, false, 1, "#[\n        a: 1\n        b: \"x\"\n    ]"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(m, c.only, c.flat, c.indent), c.text) << c.only << c.flat << c.indent;
    EXPECT_EQ(test::form(m), "a: 1\nb: \"x\"");
    // A map inside a map is indented one level deeper.
    path_set(m, w("c"), map_of("d 2"));
    EXPECT_EQ(mold(m), "#[\n    a: 1\n    b: \"x\"\n    c: #[\n        d: 2\n    ]\n]");
    // A map that holds itself molds the marker.
    Cell self = map_of("a 1");
    path_set(self, w("me"), self);
    EXPECT_EQ(mold(self, false, true), "#[a: 1 me: #[...]]");
}

TEST_F(MapTest, MoldAfterRemovals) {
    struct Case { const char* removed; const char* text; const char* flat; const char* formed; };
    const Case cases[] = {
        {"c", "#[\n    a: 1\n    b: 2\n]", "#[a: 1 b: 2]", "a: 1\nb: 2"},
        {"a", "#[\n    b: 2\n    c: 3\n]", "#[b: 2 c: 3]", "b: 2\nc: 3"},
        {"b", "#[\n    a: 1\n    c: 3\n]", "#[a: 1 c: 3]", "a: 1\nc: 3"},
        {"a b c", "#[]", "#[]", ""},
    };
    for (const Case& c : cases) {
        Cell m = map_of("a 1 b 2 c 3");
        Cell keys = load(c.removed);
        for (std::int32_t i = 0; i < block::ks_length(&keys); ++i) remove_key(m, block::ks_head(&keys)[i]);
        EXPECT_EQ(mold(m), c.text) << c.removed;
        EXPECT_EQ(mold(m, false, true), c.flat) << c.removed;
        EXPECT_EQ(test::form(m), c.formed) << c.removed;
    }
}

TEST_F(MapTest, CompareCopyClearReflect) {
    struct Case { const char* a; const char* b; CompareOp op; int result; };
    const Case cases[] = {
        {"a 1 b 2", "b 2 a 1", CompareOp::equal, 0},
        {"a 1 b 2", "b 2 a 3", CompareOp::equal, 1},
        {"a 1", "a 1 b 2", CompareOp::equal, 1},
        {"\"k\" 1", "\"K\" 1", CompareOp::equal, 0},
        {"\"k\" 1", "\"K\" 1", CompareOp::strict_equal, 1},
        {"\"k\" 1", "\"k\" 1", CompareOp::strict_equal, 0},
        {"", "", CompareOp::equal, 0},
        {"a 1", "a 1", CompareOp::same, 1},
        {"a 1", "a 1 b 2", CompareOp::lesser, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(test::compare(map_of(c.a), map_of(c.b), c.op), c.result) << c.a << " / " << c.b;
    }
    const Cell m = map_of("a 1 b \"s\"");
    EXPECT_EQ(test::compare(m, m, CompareOp::same), 0);
    EXPECT_EQ(test::compare(m, test::integer(1), CompareOp::equal), not_comparable);

    Cell original = map_of("a 1 b \"s\" c 3");
    remove_key(original, w("c"));
    Cell shallow, deep;
    registry::lookup<Action::copy>(Type::map)(&original, &shallow, nullptr, false, nullptr);
    registry::lookup<Action::copy>(Type::map)(&original, &deep, nullptr, true, nullptr);
    Cell shared = path_get(shallow, w("b"));
    string::append_utf8(&shared, "!");
    EXPECT_EQ(test::mold(path_get(original, w("b"))), "\"s!\"");
    EXPECT_EQ(test::mold(path_get(deep, w("b"))), "\"s\"");
    path_set(deep, w("c"), test::integer(4));
    EXPECT_TRUE(path_get(original, w("c")).is(Type::none));
    EXPECT_EQ(length(deep), 3);
    EXPECT_EQ(length(original), 2);

    Cell field = w("values");
    Cell r = original;
    EXPECT_EQ(test::mold(*registry::lookup<Action::reflect>(Type::map)(&r, &field)), "[1 \"s!\"]");
    field = w("body");
    r = original;
    EXPECT_EQ(test::mold(*registry::lookup<Action::reflect>(Type::map)(&r, &field)), "[\n    a: 1\n    b: \"s!\"\n]");
    field = w("spec");
    r = original;
    EXPECT_EQ(error_of([&] { registry::lookup<Action::reflect>(Type::map)(&r, &field); }), ErrorId::internal_not_done);

    registry::lookup<Action::clear>(Type::map)(&original);
    EXPECT_EQ(length(original), 0);
    EXPECT_EQ(mold(original), "#[]");
    path_set(original, w("a"), test::integer(9));
    EXPECT_EQ(mold(original, false, true), "#[a: 9]");
}

TEST_F(MapTest, ExtendAndForeach) {
    Cell m = map_of("a 1 b 2");
    remove_key(m, w("b"));
    const Cell pairs = load("b 20 c 30 A 10");
    map::extend(&m, &pairs, false);
    EXPECT_EQ(mold(m, false, true), "#[a: 10 b: 20 c: 30]");
    const Cell odd = load("d");
    EXPECT_EQ(error_of([&] { map::extend(&m, &odd, false); }), ErrorId::script_invalid_arg);

    remove_key(m, w("a"));
    Cell words = load("k v extra");
    Cell cursor = m;
    std::string seen;
    while (map::foreach_next(&words, &cursor)) {
        const Cell* k = block::ks_head(&words);
        seen += test::mold(*word::get_any(k)) + "=" + test::mold(*word::get_any(k + 1)) + ";" +
                test::mold(*word::get_any(k + 2)) + " ";
    }
    EXPECT_EQ(seen, "b=20;none c=30;none ");
    Cell bad = load("k 1");
    cursor = m;
    EXPECT_EQ(error_of([&] { map::foreach_next(&bad, &cursor); }), ErrorId::script_invalid_arg);
}

TEST_F(MapTest, ManyKeysGrowTheTable) {
    Cell m = make_map(test::integer(0));
    for (int i = 0; i < 1000; ++i) {
        path_set(m, test::string_of(("key" + std::to_string(i)).c_str()), test::integer(i));
    }
    for (int i = 0; i < 1000; i += 2) remove_key(m, test::string_of(("key" + std::to_string(i)).c_str()));
    EXPECT_EQ(length(m), 500);
    // A copy made before more growth answers as its original did.
    const Cell copy = make_map(m);
    for (int i = 1000; i < 3000; ++i) {
        path_set(m, test::string_of(("key" + std::to_string(i)).c_str()), test::integer(i));
    }
    EXPECT_EQ(length(m), 2500);
    EXPECT_EQ(length(copy), 500);
    for (const Cell& map : {m, copy}) {
        for (int i = 0; i < 1000; ++i) {
            const Cell v = select(map, test::string_of(("KEY" + std::to_string(i)).c_str()));
            if (i % 2) {
                EXPECT_EQ(test::mold(v), std::to_string(i));
            } else {
                EXPECT_TRUE(v.is(Type::none)) << i;
            }
        }
    }
    EXPECT_TRUE(select(copy, test::string_of("key2000")).is(Type::none));
    EXPECT_EQ(test::mold(select(m, test::string_of("key2999"))), "2999");
}

}  // namespace kiv
