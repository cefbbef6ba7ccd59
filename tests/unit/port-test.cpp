// handle! (form, mold, compare) and ports over native action tables: the
// dispatch of every action from append on to the table, and the errors of
// a table or handle without the action.
#include <gtest/gtest.h>

#include "runtime/collector.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/port.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/actions.h"
#include "tests/unit/eval-support.h"

namespace kiv {

using namespace test;

namespace {

class Handles : public EvalTest {};

std::string text_of(Cell value, bool mold, bool all) {
    Cell s;
    unset::make_at(&s);
    string::make_at(&s, 16);
    if (mold) actions::mold_into(&value, &s, false, all, false);
    else actions::form_into(&value, &s);
    return string::to_utf8(&s);
}

Cell handle_of(std::uint32_t value, std::int32_t klass) {
    Cell h;
    return *handle::make_at(&h, value, klass);
}

TEST_F(Handles, FormAndMold) {
    struct Case {
        std::uint32_t value;
        std::int32_t klass;
        const char* form;
        const char* mold_all;
    } cases[] = {
        {255, 3, "000000FFh", "#[handle! 000000FFh window]"},
        {0xABCD, 0, "0000ABCDh", "#[handle! 0000ABCDh]"},
        {0xFFFFFFFF, 1, "FFFFFFFFh", "#[handle! FFFFFFFFh fd]"},
        {7, 5, "00000007h", "#[handle! 00000007h rich-text]"},
        // A class without a name shows none rather than reading past the names.
        {7, 6, "00000007h", "#[handle! 00000007h]"},
        {7, -1, "00000007h", "#[handle! 00000007h]"},
    };
    for (const Case& c : cases) {
        const Cell h = handle_of(c.value, c.klass);
        EXPECT_EQ(text_of(h, false, false), c.form);
        EXPECT_EQ(text_of(h, true, false), "handle!");
        EXPECT_EQ(text_of(h, true, true), c.mold_all);
    }
}

TEST_F(Handles, CompareByValueOnly) {
    Cell a = handle_of(5, 1), b = handle_of(5, 3), minus = handle_of(0xFFFFFFFF, 1);
    EXPECT_TRUE(actions::compare(&a, &b, CompareOp::equal));
    EXPECT_TRUE(actions::compare(&a, &b, CompareOp::strict_equal));
    EXPECT_TRUE(actions::compare(&minus, &a, CompareOp::lesser));  // signed values
    Cell five;
    series::make_integer(&five, 5);
    EXPECT_FALSE(actions::compare(&a, &five, CompareOp::equal));
    EXPECT_TRUE(actions::compare(&a, &five, CompareOp::not_equal));
}

TEST_F(Handles, NothingElseApplies) {
    EXPECT_EQ(registry::entry(Type::handle).parent, Type::integer);
    for (Action a : {Action::make, Action::add, Action::to, Action::random, Action::append})
        EXPECT_FALSE(registry::supports(Type::handle, a)) << registry::action_name(a);
}

// A native scheme: length? answers 5 and counts its calls, close answers
// the port; nothing else is provided.
int native_calls = 0;
int native_length(Cell*) {
    ++native_calls;
    return 5;
}
Cell* native_close(Cell* port) {
    ++native_calls;
    return port;
}
ActionFns native_table() {
    ActionFns t{};
    t.length_q = native_length;
    t.close = native_close;
    return t;
}
const ActionFns table = native_table();

void set_global(const char* name, const Cell& value) {
    Cell word;
    word::load(name, &word);
    word::set(&word, &value);
}

class NativePorts : public EvalTest {
protected:
    void SetUp() override {
        EvalTest::SetUp();
        native_calls = 0;
        Cell actor;
        port::make_native_actor(&actor, &table);
        set_global("nat-actor", actor);
        set_global("plain-handle", handle_of(3, 1));
        ASSERT_EQ(eval("register-scheme/native object [name: 'nat title: info: actor: awake: none] "
                       ":nat-actor p: make port! [scheme: 'nat] type? p/actor"),
                  "handle!");
    }
};

TEST_F(NativePorts, ActionsGoToTheTable) {
    // The table outlives collections while a port holds its handle.
    collector::do_cycle();
    EXPECT_EQ(eval("length? p"), "5");
    EXPECT_EQ(eval("same? p close p"), "true");
    EXPECT_EQ(native_calls, 2);
    for (const char* missing : {"insert p 1", "read p", "write p 1", "open p", "open? p", "pick p 1"})
        EXPECT_EQ(eval(missing), "error: no-port-action") << missing;
    // make, form and mold stay with port!.
    EXPECT_EQ(eval("to logic! find mold p {^/    actor: handle!^/}"), "true");
}

TEST_F(NativePorts, AnyOtherHandleProvidesNothing) {
    Cell again, word;
    port::make_native_actor(&again, &table);
    EXPECT_EQ(handle::value_of(&again), handle::value_of(word::get(word::load("nat-actor", &word))));
    eval("register-scheme/native object [name: 'raw title: info: actor: awake: none] :plain-handle");
    EXPECT_EQ(eval("type? q: make port! [scheme: 'raw]"), "port!");
    EXPECT_EQ(eval("length? q"), "error: no-port-action");
    EXPECT_EQ(native_calls, 0);
}

}  // namespace
}  // namespace kiv
