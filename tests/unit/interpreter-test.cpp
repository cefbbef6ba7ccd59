// The interpreter's internals that transcripts reach poorly: the stacks
// after every way out of an evaluation, the argument cache, the entries
// the datatypes call, and the argument checks for C++ callers.
#include <gtest/gtest.h>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/compiled.h"
#include "runtime/evaluator/eval-api.h"
#include "runtime/evaluator/natives.h"
#include "tests/unit/eval-support.h"

namespace kiv {
namespace {

using Interpreter = test::EvalTest;

// Evaluates in a try frame and checks that the evaluation left exactly its
// result above the frame's base, no frame of its own and nothing of the
// interpreter's state changed.
void expect_balanced(const std::string& text, const std::string& expected) {
    Cell* const top = state.stack_top;
    stack::CallFrame* const frames = state.frames_top;
    Cell try_word;
    word::load("try", &try_word);
    stack::push_native_frame(&try_word);
    stack::push_try_frame(&try_word);
    Cell* const base = state.stack_arguments;
    stack::CallFrame* const open = state.frames_top;
    Cell code = test::load(text);
    ASSERT_EQ(interpreter::eval_block(&code, false), Status::ok) << text;
    EXPECT_EQ(state.stack_top, base + 1) << text;
    EXPECT_EQ(state.frames_top, open) << text;
    EXPECT_EQ(state.stack_arguments, base) << text;
    EXPECT_EQ(state.thrown_code, 0u) << text;
    EXPECT_TRUE(state.near.is(Type::none)) << text;
    EXPECT_FALSE(state.tracing) << text;
    Cell result = *(state.stack_top - 1);
    Cell s;
    string::make_at(&s, 16);
    actions::mold_into(&result, &s, false, false, true);
    EXPECT_EQ(string::to_utf8(&s), expected) << text;
    state.stack_top = state.stack_arguments = top;
    stack::set_call_top(frames);
}

TEST_F(Interpreter, EveryWayOutLeavesTheStacksAsTheyWere) {
    const struct {
        const char* code;
        const char* result;
    } cases[] = {
        {"1 + 2", "3"},
        {"loop 3 [if true [break]]", "unset"},
        {"f: func [x] [loop 2 [return x]] f 1", "1"},
        {"catch [loop 2 [throw 4]]", "4"},
        {"e: try [g: func [] [1 / 0] g] e/id", "zero-divide"},
        {"e: try/all [break] e/id", "break"},
        {"h: func [n] [if n > 0 [h n - 1]] h 50", "none"},
        {"foreach x [1 2] [continue]", "unset"},
        {"while [true] [break/return 1]", "1"},
        {"catch/name [catch/name [throw/name 5 'b] 'a] 'b", "5"},
        {"k: func [] [catch [return 7] 8] k", "7"},
        {"cb: func [event code offset value ref frame] [[expr] 0] do/trace [1 2] :cb", "2"},
        {"e: try [do/trace [1 / 0] :cb] e/id", "zero-divide"},
        {"m: func [/r x] [either r [x] [0]] reduce [m/r 3 m]", "[3 0]"},
        {"x: 0 repeat i 4 [x: x + i] x", "10"},
    };
    for (const auto& c : cases) expect_balanced(c.code, c.result);
}

TEST_F(Interpreter, TheArgumentCacheIsBuiltOnceAndHoldsTheSpecsLayout) {
    EXPECT_EQ(test::eval("f: func [a [integer!] /r b 'c /local d e] [a] f 1"), "1");
    Cell word;
    word::load("f", &word);
    const Cell f = *context::get(&word);
    const Cell* cache = function::more_cell(&f, 1);
    ASSERT_TRUE(cache->is(Type::block));
    const NodeId node = cache->data2;
    // The body's copy comes first, then the header.
    const Cell* body = block::buffer(cache)->cells();
    ASSERT_TRUE(body->is(Type::block));
    EXPECT_EQ(body->data2, function::more_cell(&f, function::more::body)->data2);
    const Cell* header = body + 1;
    EXPECT_EQ(header->data1, 1u);  // a
    EXPECT_EQ(header->data2, 1u);  // /r
    EXPECT_EQ(header->data3, 7u);  // a r b c local d e
    EXPECT_EQ(test::eval("f/r 2 3 x"), "2");
    EXPECT_EQ(function::more_cell(&f, 1)->data2, node);
    EXPECT_EQ(test::eval("f \"x\""), "error: expect-arg");
}

// A caller-opened function frame runs the body through the entry the
// datatypes call.
TEST_F(Interpreter, TheCallEntryRunsABodyInTheCallersFrame) {
    EXPECT_EQ(test::eval("add3: func [a b /local c] [c: a + b c * 3]"), "func [a b /local c][c: a + b c * 3]");
    Cell word;
    word::load("add3", &word);
    Cell fn = *context::get(&word);
    Cell* const top = state.stack_top;
    stack::push_function_frame(&word, fn.data1);
    *stack::push_cell() = integer::make_cell(2);
    *stack::push_cell() = integer::make_cell(5);
    stack::push_copy(&logic::false_value);
    stack::push_copy(&none::value);
    Cell result;
    ASSERT_EQ(eval::call_function(&fn, &word, state.stack_arguments, 4, &result), Status::ok);
    stack::revert_function();
    EXPECT_EQ(integer::get(&result), 21);
    EXPECT_EQ(state.stack_top, top);

    Cell code = test::load("1 + 2 3 * 4");
    ASSERT_EQ(eval::eval_block(&code, &result), Status::ok);
    EXPECT_EQ(integer::get(&result), 12);
    EXPECT_EQ(state.stack_top, top);
}

// C++ callers ask the entry to check the arguments against the spec.
TEST_F(Interpreter, ACheckedNativeCallRefusesAWrongArgument) {
    EXPECT_EQ(test::eval("if true [1]"), "1");
    Cell name;
    word::load("if", &name);
    stack::push_try_frame(&name);
    stack::push_native_frame(&name);
    *stack::push_cell() = logic::true_value;
    *stack::push_cell() = integer::make_cell(1);
    const std::int32_t slot = static_cast<std::int32_t>(natives::Native::if_);
    try {
        static_cast<void>(compiled::call_with_refinements(slot, true, state.stack_arguments, 0, nullptr, 0));
        ADD_FAILURE() << "no error";
    } catch (const KivError& e) {
        EXPECT_EQ(e.id, ErrorId::script_expect_arg);
    }
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

// The apply mode, through the apply native.
TEST_F(Interpreter, TheApplyModeTakesArgumentsAndRefinementsFromABlock) {
    test::eval("g: func [x /double /add n] [if double [x: x * 2] if add [x: x + n] x]");
    test::eval("h: func [a b] [reduce [a b]]");
    const struct {
        const char* fn;
        const char* args;
        bool all;
        bool safer;
        const char* result;
    } cases[] = {
        {"g", "5", false, false, "5"},
        {"g", "5 /double true", false, false, "10"},
        {"g", "5 /add yes 3 /double true", false, false, "13"},
        {"g", "5 /add false 3", false, false, "5"},
        {"g", "5 /sub true", false, false, "error: no-refine"},
        {"g", "5 6", false, false, "error: bad-refine"},
        {"h", "1 2 3", false, false, "[1 2]"},
        {"h", "1", false, false, "[1 none]"},
        {"h", "1 + 1 2", false, false, "[2 2]"},
        {"h", "1 + 1 2", false, true, "error: no-op-arg"},
        {"g", "5 true false 3", true, false, "10"},
        {"g", "5 false true 3", true, false, "8"},
        {"g", "5 1 false 3", true, false, "error: expect-arg"},
        {"g", "5 true", true, false, "10"},
        {"append", "[1] 2 /dup true 3", false, false, "[1 2 2 2]"},
    };
    for (const auto& c : cases) {
        const std::string call = std::string("apply") + (c.all ? "/all" : "") + (c.safer ? "/safer" : "") +
                                 " :" + c.fn + " [" + c.args + "]";
        EXPECT_EQ(test::eval(call), c.result) << call;
    }
}

}  // namespace
}  // namespace kiv
