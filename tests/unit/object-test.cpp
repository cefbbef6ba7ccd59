// object!: making from spec blocks and prototypes, class ids, the change
// handlers and the arguments they get, mold and form, compare, reflect,
// copy, construct, set, and paths over nested objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/evaluator/compiled.h"
#include "runtime/evaluator/stack.h"
#include "runtime/state.h"
#include "tests/unit/callables-support.h"

namespace kiv {

namespace {

using test::error_of;
using test::read;
using test::read_one;

// A stand-in for the interpreter: a spec block of set-words and values,
// where a word stands for its value and a lit-word for the word.
Status eval_assignments(Cell* block, Cell* result) {
    Cell list = *block;
    const std::int32_t length = block::ks_length(&list);
    const std::int32_t head = series::head(&list);
    for (std::int32_t i = 0; i < length;) {
        std::int32_t end = i;
        while (end < length && block::ks_abs_at(&list, head + end)->is(Type::set_word)) ++end;
        Cell value = *block::ks_abs_at(&list, head + end);
        if (value.is(Type::word)) value = *context::get(&value);
        if (value.is(Type::lit_word)) value.set_type(Type::word);
        for (std::int32_t j = i; j < end; ++j) {
            Cell target = *block::ks_abs_at(&list, head + j);
            context::set(&target, &value);
        }
        *result = value;
        i = end + 1;
    }
    return Status::ok;
}

// The calls that reached the interpreter: the frame's name and the
// arguments molded.
std::vector<std::string> calls;

Status record_call(Cell* function, const Cell* name, const Cell* args, std::int32_t count, Cell* result) {
    // The frame is open, named after the handler, and holds the arguments.
    EXPECT_EQ(stack::top_frame()->function_context, function->data1);
    EXPECT_EQ(stack::top_frame()->symbol, name->data2);
    EXPECT_EQ(state.stack_arguments, args);
    EXPECT_EQ(state.stack_top - state.stack_arguments, count);
    std::string line = test::mold(*name) + ":";
    for (std::int32_t i = 0; i < count; ++i) line += " " + test::mold(args[i]);
    calls.push_back(line);
    *result = unset::value;
    return Status::ok;
}

class Objects : public test::CallableTest {
protected:
    void SetUp() override {
        test::CallableTest::SetUp();
        eval::install(eval::Entries{eval_assignments, record_call});
        calls.clear();
        // Handlers are called in frames of the call stack; errors stay bare
        // (no catalogue), so they reach the tests as they are raised.
        stack::make_argument_stack();
        stack::make_call_stack();
        stack::init();
    }
    void TearDown() override {
        stack::forget();
        test::CallableTest::TearDown();
    }

    static void define(const char* name, Cell value) {
        Cell w = test::word_of(name);
        context::set(&w, &value);
    }
    static Cell func(const char* spec, const char* body) {
        Cell s = read(spec);
        Cell b = read(body);
        Cell out;
        function::func(&out, &s, &b);
        return out;
    }
    static Cell make(const char* spec) { return test::make(Type::object, read(spec)); }
    static Cell make_from(Cell proto, const char* spec) {
        Cell s = read(spec);
        return *registry::find<Action::make>(&proto)(&proto, &s, Type::object);
    }
    static Cell field(Cell object, const char* name) {
        const Cell w = test::word_of(name);
        return *object::ks_select(&object, &w);
    }
    static Cell reflected(Cell value, const char* field_name) {
        Cell w = test::word_of(field_name);
        return *registry::find<Action::reflect>(&value)(&value, &w);
    }
    static std::int32_t id(Cell o) { return object::class_id(&o); }
    static Cell global(const char* name) {
        const Cell w = test::word_of(name);
        return *context::get(&w);
    }
    static Cell first_of(Cell block) { return *block::ks_head(&block); }
    static Cell path(const char* text, const Cell* value = nullptr) {
        Cell p = read_one(text);
        Cell result;
        return *compiled::eval_path(&p, value, &result);
    }
};

TEST_F(Objects, ClassIds) {
    const Cell a = make("x: 1");
    const Cell b = make("x: 1");
    EXPECT_EQ(object::class_id(&a), object::first_class_id + 1);
    EXPECT_EQ(object::class_id(&b), object::first_class_id + 2);
    EXPECT_EQ(object::class_id(&a), object::class_id(context::owner(a.data1)));
    // Setting existing fields keeps the prototype's class; a new field or
    // no prototype makes a new one.
    EXPECT_EQ(id(make_from(a, "x: 2")), object::class_id(&a));
    EXPECT_EQ(id(make_from(a, "y: 2")), object::first_class_id + 3);
    EXPECT_EQ(id(make("")), object::first_class_id + 4);
    Cell spec = b;
    Cell proto = a;
    EXPECT_EQ(object::class_id(registry::find<Action::make>(&proto)(&proto, &spec, Type::object)),
              object::class_id(&a));
    EXPECT_EQ(error_of([&] { test::make(Type::object, test::integer(1)); }), ErrorId::syntax_malconstruct);
}

TEST_F(Objects, MakingEvaluatesTheSpecInTheNewContext) {
    define("x", test::integer(100));
    const Cell o = make("x: 1 y: z: x w: 'x");
    EXPECT_EQ(test::mold(o), "make object! [\n    x: 1\n    y: 1\n    z: 1\n    w: 'x\n]");
    // Written marks and new-line flags are cleared afterwards.
    EXPECT_EQ(test::mold(reflected(o, "changed")), "[]");
    // The prototype's series are copied and bound to the new object.
    const Cell p = make("items: [n] n: 1");
    const Cell c = make_from(p, "n: 2");
    EXPECT_NE(field(c, "items").data2, field(p, "items").data2);
    EXPECT_EQ(first_of(field(c, "items")).data1, c.data1);
    EXPECT_EQ(field(p, "n").data2, 1u);
    EXPECT_EQ(field(c, "n").data2, 2u);
    // An object spec sets and adds fields.
    Cell proto = p;
    Cell spec = make("n: 3 extra: 4");
    const Cell merged = *registry::find<Action::make>(&proto)(&proto, &spec, Type::object);
    EXPECT_EQ(test::mold(merged), "make object! [\n    items: [n]\n    n: 3\n    extra: 4\n]");
}

TEST_F(Objects, HandlerFieldsMustHoldFunctions) {
    try {
        make("on-change*: 1");
        ADD_FAILURE();
    } catch (const KivError& e) {
        EXPECT_EQ(e.id, ErrorId::script_bad_field_set);
        EXPECT_EQ(test::mold(e.args[0]), "on-change*");
        EXPECT_EQ(test::mold(e.args[1]), "integer!");
    }
    define("handler", func("word old new", ""));
    const Cell o = make("a: 1 on-change*: handler");
    EXPECT_TRUE(reflected(o, "events?").data1);
    EXPECT_FALSE(reflected(make("a: 1"), "events?").data1);
    EXPECT_EQ(object::on_change_index(o.data3), 1);
    EXPECT_EQ(object::on_deep_index(o.data3), -1);
}

TEST_F(Objects, ChangeHandlerGetsTheWordAndBothValues) {
    define("handler", func("word old new /local x y", ""));
    define("o", make("a: 1 b: 2 on-change*: handler"));
    const Cell two = test::integer(20);
    path("o/a:", &two);
    Cell o = global("o");
    Cell key = test::word_of("b");
    Cell thirty = test::integer(30);
    registry::find<Action::put>(&o)(&o, &key, &thirty, false);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], "on-change*: a 1 20 false none none");
    EXPECT_EQ(calls[1], "on-change*: b 2 30 false none none");
    o = global("o");
    EXPECT_EQ(test::mold(reflected(o, "changed")), "[a b]");
    // set on the object leaves the handler field alone and reports the
    // others.
    calls.clear();
    Cell values = read("7 8 9");
    ASSERT_EQ(object::set_many(&o, &values, false, false, false), Status::ok);
    EXPECT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], "on-change*: b 30 8 false none none");
    EXPECT_TRUE(field(o, "on-change*").is(Type::function));
    // A handler field that no longer holds a function.
    Cell handler_word = *object::get_word_at(o.data1, 2);
    Cell one = test::integer(1);
    context::set_in(&handler_word, &one, o.data1, false);
    EXPECT_EQ(error_of([&] { path("o/a:", &one); }), ErrorId::script_invalid_obj_evt);
}

TEST_F(Objects, DeepChangeHandlerHearsOfOwnedSeries) {
    define("handler", func("owner word target action new index part", ""));
    const Cell o = make("items: [1 2] on-deep-change*: handler");
    Cell items = field(o, "items");
    ASSERT_NE(ownership::get_owner(items.data2), nullptr);
    Cell action;
    words::word(words::W::append, &action);
    const Cell three = test::integer(3);
    EXPECT_TRUE(ownership::check(&items, &action, &three, 2, 1));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].substr(0, 33), "on-deep-change*: make object! [\n ");
    EXPECT_NE(calls[0].find("] items [1 2] append 3 2 1"), std::string::npos) << calls[0];
    // Without a record the object cannot be told.
    Cell plain = make("a: 1");
    Cell word = test::word_of("a");
    EXPECT_EQ(error_of([&] { (void)object::fire_on_deep(&plain, &word, &items, &action, nullptr, 0, 0); }),
              ErrorId::script_invalid_obj_evt);
}

TEST_F(Objects, MoldAndForm) {
    define("handler", func("word old new", ""));
    define("inner", make("b: 2"));
    const Cell o = make("a: 1 s: \"x\" w: 'y i: inner on-change*: handler");
    EXPECT_EQ(test::mold(o),
              "make object! [\n    a: 1\n    s: \"x\"\n    w: 'y\n    i: make object! [\n        b: 2\n    ]\n]");
    EXPECT_NE(test::mold(o, true).find("on-change*: func [word old new][]"), std::string::npos);
    EXPECT_EQ(test::mold(make("")), "make object! []");
    EXPECT_EQ(test::form(make("a: 1 w: 'y")), "a: 1\nw: 'y");
    Cell out;
    string::make_at(&out, 16);
    Cell flat = make("a: 1 b: [2]");
    registry::find<Action::mold>(&flat)(&flat, &out, false, false, true, nullptr, 0, 0);
    EXPECT_EQ(string::to_utf8(&out), "make object! [a: 1 b: [2]]");
}

TEST_F(Objects, Compare) {
    const Cell a = make("x: 1 y: \"s\"");
    const Cell b = make("x: 1 y: \"S\"");
    const Cell swapped = make("y: \"s\" x: 1");
    const Cell longer = make("x: 1 y: \"s\" z: 3");
    EXPECT_EQ(test::compare(a, b, CompareOp::equal), 0);
    EXPECT_NE(test::compare(a, b, CompareOp::strict_equal), 0);
    EXPECT_NE(test::compare(a, swapped, CompareOp::equal), 0);
    EXPECT_LT(test::compare(a, longer, CompareOp::sort), 0);
    EXPECT_EQ(test::compare(a, b, CompareOp::same), -1);
    EXPECT_EQ(test::compare(a, a, CompareOp::same), 0);
    EXPECT_EQ(test::compare(a, test::integer(1), CompareOp::equal), not_comparable);
}

TEST_F(Objects, Reflect) {
    define("q", read_one("a/b"));
    const Cell o = make("n: 1 w: 'x p: q");
    EXPECT_EQ(reflected(o, "class").data2, static_cast<std::uint32_t>(object::class_id(&o)));
    EXPECT_EQ(test::mold(reflected(o, "words")), "[n w p]");
    EXPECT_EQ(first_of(reflected(o, "words")).data1, o.data1);
    EXPECT_EQ(test::mold(reflected(o, "values")), "[1 x a/b]");
    const Cell body = reflected(o, "body");
    EXPECT_EQ(test::mold(body), "[\n    n: 1\n    w: 'x\n    p: 'a/b\n]");
    EXPECT_EQ(block::ks_abs_at(&body, 5)->type(), Type::lit_path);
    EXPECT_FALSE(reflected(o, "owner").data1);
    EXPECT_EQ(error_of([&] { reflected(o, "spec"); }), ErrorId::internal_not_done);
}

TEST_F(Objects, CopyRemakesFunctions) {
    define("o", make("n: 1 items: [1 [2]] get-n: none"));
    Cell o = global("o");
    // A method whose body names the object's field.
    Cell method = func("", "n");
    Cell method_word = *object::get_word_at(o.data1, 2);
    context::set_in(&method_word, &method, o.data1, false);
    context::bind(function::more_cell(&method, 0), o.data1, true);
    Cell copy;
    registry::find<Action::copy>(&o)(&o, &copy, nullptr, false, nullptr);
    EXPECT_EQ(object::class_id(&copy), object::class_id(&o));
    const Cell remade = field(copy, "get-n");
    EXPECT_NE(remade.data3, method.data3);
    EXPECT_EQ(block::ks_head(function::more_cell(&remade, 0))->data1, copy.data1);
    EXPECT_TRUE(function::more_cell(&remade, function::more::entry)->is(Type::unset));
    // Without deep the series are shared; with it they are copied.
    EXPECT_EQ(field(copy, "items").data2, field(o, "items").data2);
    registry::find<Action::copy>(&o)(&o, &copy, nullptr, true, nullptr);
    EXPECT_NE(field(copy, "items").data2, field(o, "items").data2);
    Cell part = test::integer(1);
    EXPECT_EQ(error_of([&] { registry::find<Action::copy>(&o)(&o, &copy, &part, false, nullptr); }),
              ErrorId::script_invalid_refine_arg);
    // A function without a body cannot be remade.
    Cell spec = read("");
    Cell bodiless;
    function::make_at(&bodiless, &spec, nullptr, 0, 0, 0);
    context::set_in(&method_word, &bodiless, o.data1, false);
    EXPECT_EQ(error_of([&] { registry::find<Action::copy>(&o)(&o, &copy, nullptr, false, nullptr); }),
              ErrorId::script_bad_func_def);
}

TEST_F(Objects, Construct) {
    Cell spec = read("a: b: 1 c: true d: none e: off f: word g:");
    Cell made;
    object::construct(&spec, nullptr, false, &made);
    EXPECT_EQ(test::mold(made),
              "make object! [\n    a: 1\n    b: 1\n    c: true\n    d: none\n    e: false\n    f: 'word\n    g: none\n]");
    EXPECT_GT(object::class_id(&made), object::first_class_id);
    object::construct(&spec, nullptr, true, &made);
    EXPECT_TRUE(field(made, "c").is(Type::word));
    Cell more = read("h: 8");
    Cell extended;
    object::construct(&more, &made, false, &extended);
    EXPECT_EQ(field(extended, "a").data2, 1u);
    EXPECT_EQ(field(extended, "h").data2, 8u);
}

TEST_F(Objects, SetMany) {
    Cell o = make("a: 1 b: 2 c: 3");
    Cell source = make("c: 30 a: 10 z: 0");
    ASSERT_EQ(object::set_many(&o, &source, false, false, false), Status::ok);
    EXPECT_EQ(test::mold(reflected(o, "values")), "[10 2 30]");
    Cell with_none = read("none 5");
    *block::ks_head(&with_none) = none::value;
    ASSERT_EQ(object::set_many(&o, &with_none, false, false, true), Status::ok);
    EXPECT_EQ(test::mold(reflected(o, "values")), "[10 5 30]");
    Cell one = test::integer(1);
    ASSERT_EQ(object::set_many(&o, &one, false, false, false), Status::ok);
    EXPECT_EQ(test::mold(reflected(o, "values")), "[1 1 1]");
    Cell holes = read("4 x");
    *block::ks_abs_at(&holes, 1) = unset::value;
    EXPECT_EQ(error_of([&] { static_cast<void>(object::set_many(&o, &holes, false, false, false)); }),
              ErrorId::script_need_value);
    EXPECT_EQ(test::mold(reflected(o, "values")), "[1 1 1]");
    ASSERT_EQ(object::set_many(&o, &holes, true, false, false), Status::ok);
    EXPECT_EQ(field(o, "b").type(), Type::unset);
}

TEST_F(Objects, SelectPutAndModify) {
    const Cell o = make("a: 1");
    Cell key = test::integer(1);
    EXPECT_EQ(error_of([&] {
                  Cell t = o;
                  registry::find<Action::select>(&t)(&t, &key, nullptr, false, false, false, false,
                                                     nullptr, nullptr, false, false);
              }),
              ErrorId::script_invalid_type);
    Cell value = test::integer(2);
    EXPECT_EQ(error_of([&] {
                  Cell t = o;
                  registry::find<Action::put>(&t)(&t, &key, &value, false);
              }),
              ErrorId::script_invalid_key_type);
    Cell missing = test::word_of("zz");
    EXPECT_EQ(error_of([&] {
                  Cell t = o;
                  registry::find<Action::put>(&t)(&t, &missing, &value, false);
              }),
              ErrorId::script_invalid_path);
    Cell a = test::word_of("A");
    Cell target = o;
    registry::find<Action::put>(&target)(&target, &a, &value, false);
    EXPECT_EQ(target.data2, 2u);
    EXPECT_EQ(field(o, "a").data2, 2u);
    EXPECT_EQ(test::mold(reflected(o, "changed")), "[a]");
    target = o;
    Cell changed = test::word_of("changed");
    Cell none_value = none::value;
    registry::find<Action::modify>(&target)(&target, &changed, &none_value, false);
    EXPECT_EQ(test::mold(reflected(o, "changed")), "[]");
    target = o;
    EXPECT_EQ(error_of([&] { registry::find<Action::modify>(&target)(&target, &changed, &value, false); }),
              ErrorId::script_invalid_arg);
    Cell owner_word = test::word_of("owner");
    target = o;
    registry::find<Action::modify>(&target)(&target, &owner_word, &none_value, false);
    EXPECT_TRUE(reflected(o, "owner").data1);
}

TEST_F(Objects, PathsReadAndSetNestedFields) {
    define("leaf", make("c: 3 list: [x 10 y 20]"));
    define("mid", make("b: leaf"));
    define("top", make("a: mid n: 1"));
    EXPECT_EQ(path("top/a/b/c").data2, 3u);
    EXPECT_EQ(path("top/A/b/list/y").data2, 20u);
    EXPECT_EQ(path("top/a/b/list/2").data2, 10u);
    const Cell five = test::integer(5);
    EXPECT_EQ(path("top/a/b/c:", &five).data2, 5u);
    EXPECT_EQ(path("leaf/c").data2, 5u);
    const Cell eleven = test::integer(11);
    path("top/a/b/list/x:", &eleven);
    EXPECT_EQ(test::mold(path("leaf/list")), "[x 11 y 20]");
    // The element is rebound to the object it selected in.
    Cell p = read_one("top/n");
    Cell result;
    compiled::eval_path(&p, nullptr, &result);
    const Cell top = global("top");
    EXPECT_EQ(block::ks_abs_at(&p, 1)->data1, top.data1);
    const struct {
        const char* path;
        ErrorId expected;
    } errors[] = {
        {"top/missing", ErrorId::script_invalid_path},
        {"top/missing/x", ErrorId::script_unset_path},
        {"top/1", ErrorId::script_invalid_path},
    };
    for (const auto& e : errors) EXPECT_EQ(error_of([&] { path(e.path); }), e.expected) << e.path;
    EXPECT_EQ(error_of([&] { path("top/missing:", &five); }), ErrorId::script_invalid_path);
}

TEST_F(Objects, MakersThatPushOnTheArgumentStack) {
    Cell* const base = state.stack_top;
    Cell spec = read("a");
    Cell body = read("a");
    const NodeId ctx = function::push(&spec, &body, 0, 0, 0);
    ASSERT_EQ(state.stack_top, base + 1);
    EXPECT_TRUE(base[0].is(Type::function));
    EXPECT_EQ(base[0].data1, ctx);
    function::push_refinement_defaults(3);
    EXPECT_EQ(test::mold(base[1]) + " " + test::mold(base[2]) + " " + test::mold(base[3]), "false none none");
    Cell p = read_one("a/b");
    EXPECT_EQ(test::mold(*path::push(&p, Type::set_path)), "a/b:");
    define("handler", func("word old new", ""));
    Cell o = make("a: 1 on-change*: handler");
    Cell* pushed = object::push(o.data1, o.data3, 5);
    EXPECT_EQ(object::class_id(pushed), 5);
    // The new value below the old one at the top.
    *stack::push_cell() = test::integer(2);
    *stack::push_cell() = test::integer(1);
    Cell a = test::word_of("a");
    ASSERT_EQ(object::fire_on_set_stack(&o, &a), Status::ok);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], "on-change*: a 1 2");
}

}  // namespace

}  // namespace kiv
