#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "runtime/compiled-setters.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/unset.h"
#include "runtime/typecheck.h"
#include "tests/unit/error-support.h"

namespace kiv {

using test::error_in_try;
using test::open_native;
using test::word_of;

namespace {

class Stacks : public test::ErrorRuntimeTest {};

// ---------------------------------------------------------------------------
// Stand-ins for the natives that take throw codes, each following its
// protocol over the stack API.

Cell body_word() {
    Cell w;
    return *words::word(words::W::body_frame, &w);
}

// A loop native: a loop frame; break leaves, continue goes on, any other
// code is passed on. Counts the rounds that ran to their end.
template <class Body>
Status run_loop(int rounds, Body body, int* completed) {
    open_native("loop");
    const Cell body_name = body_word();
    stack::push_loop_frame(&body_name);
    for (int i = 0; i < rounds; ++i) {
        stack::reset();
        if (body(i) == Status::ok) {
            ++*completed;
            continue;
        }
        if (stack::take(throw_code::continue_)) continue;
        if (stack::take(throw_code::break_)) break;
        return Status::thrown;
    }
    stack::close_copy();  // the loop frame: its result to the native's
    stack::close();
    return Status::ok;
}

Status do_break(bool continue_, const Cell* value = nullptr) {
    open_native(continue_ ? "continue" : "break");
    return stack::throw_break(value != nullptr, continue_, value);
}

Status do_return(const Cell* value) {
    open_native(value ? "return" : "exit");
    return stack::throw_return(value != nullptr, false, value);
}

// A function call: its frame with the body flag; return and exit end it.
template <class Body>
Status call_function(const char* name, NodeId ctx, Body body) {
    const Cell w = word_of(name);
    stack::push_function_frame(&w, ctx);
    if (ctx) context::header(ctx)->data2 = cage::offset_of(state.stack_arguments);
    stack::set_body_flag(true);
    const Status s = body();
    if (s != Status::ok && !stack::take(throw_code::return_) && !stack::take(throw_code::exit))
        return Status::thrown;
    stack::close_function();
    return Status::ok;
}

// catch, with a name to match (null: any); `took` tells whether this
// catch took a throw.
template <class Body>
Status run_catch(const char* name, Body body, bool* took = nullptr) {
    open_native("catch");
    const Cell body_name = body_word();
    stack::push_catch_frame(&body_name);
    if (body() == Status::ok) {
        stack::close_copy();
        stack::close();
        return Status::ok;
    }
    if (stack::pending() != throw_code::throw_) return Status::thrown;
    const Cell value = state.stack_arguments[0];
    const Cell thrown_name = state.stack_arguments[1];
    if (name && !(thrown_name.is(Type::word) &&
                  symbol::resolve(thrown_name.data2) == symbol::resolve(word_of(name).data2))) {
        stack::revert();  // the catch frame; the throw goes on from the native
        return stack::throw_value(throw_code::throw_, &value, &thrown_name);
    }
    stack::took_throw();
    if (took) *took = true;
    stack::set_result(&value);
    stack::close_copy();
    stack::close();
    return Status::ok;
}

Status do_throw(const Cell* value, const char* name = nullptr) {
    open_native("throw");
    const Cell w = name ? word_of(name) : unset::value;
    return stack::throw_value(throw_code::throw_, value, &w);
}

void reset_stacks() {
    state.frames_top = state.frames_bottom;
    state.stack_top = state.stack_arguments = state.stack_bottom;
}

// The result a native left for its caller: the cell at the caller's base.
std::int32_t result_integer() { return integer::get(state.stack_arguments); }

// A function context that keeps its values on the argument stack.
NodeId stack_context(const char* arg) {
    const Cell spec = test::block_of({word_of(arg)});
    return context::make(&spec, true, false, context::Kind::function);
}

volatile int descent_stop = -1;

// Opens a frame per level, with a few KB of native stack each.
[[gnu::noinline]] int descend(int depth) {
    volatile char pad[4096];
    pad[depth % sizeof pad] = 1;
    if (depth == descent_stop) return 0;
    open_native("deep");
    return descend(depth + 1) + pad[0];
}

// ---------------------------------------------------------------------------

TEST_F(Stacks, ClosingOperationsLeaveTopBaseAndResult) {
    struct Case {
        const char* what;
        void (*close)();
        int top;           // cells above the caller's base afterwards
        bool copied;       // the caller's result slot received the result
        bool restored;     // the function context's values came back
    };
    const Case cases[] = {
        {"pop_frame", stack::pop_frame, 2, false, true},
        {"close", stack::close, 3, false, false},
        {"close_function", stack::close_function, 3, false, true},
        {"close_copy", stack::close_copy, 3, true, false},
        {"close_function_copy", stack::close_function_copy, 3, true, true},
        {"revert", stack::revert, 0, false, false},
        {"revert_function", stack::revert_function, 0, false, true},
    };
    const NodeId ctx = stack_context("x");
    for (const Case& c : cases) {
        open_native("caller");
        Cell* caller = state.stack_arguments;
        *stack::push_cell() = integer::make_cell(1);
        *stack::push_cell() = integer::make_cell(2);
        context::header(ctx)->data2 = 1234;
        const Cell f = word_of("f");
        stack::push_function_frame(&f, ctx);
        context::header(ctx)->data2 = cage::offset_of(state.stack_arguments);
        *stack::push_cell() = integer::make_cell(7);
        stack::push_copy(&unset::value);
        c.close();
        EXPECT_EQ(state.stack_arguments, caller) << c.what;
        EXPECT_EQ(state.stack_top - caller, c.top) << c.what;
        EXPECT_EQ(integer::get(caller), c.copied ? 7 : 1) << c.what;
        EXPECT_EQ(context::header(ctx)->data2 == 1234, c.restored) << c.what;
        EXPECT_EQ(stack::frame_count(), 1) << c.what;
        stack::pop_frame();
    }
    // The last frame popped leaves both stacks empty.
    EXPECT_TRUE(stack::empty());
    EXPECT_EQ(state.stack_top, state.stack_bottom);
}

TEST_F(Stacks, CellQueries) {
    EXPECT_EQ(stack::top_value(), state.stack_bottom);
    *stack::push_cell() = integer::make_cell(5);
    EXPECT_EQ(stack::top_type(), Type::integer);
    stack::drop(10);
    EXPECT_EQ(state.stack_top, state.stack_bottom);

    open_native("f");
    const Cell foo = word_of("foo");
    const Cell* e = error::create(ErrorId::script_no_value, &foo, nullptr, nullptr);
    EXPECT_TRUE(e->is(Type::error));
    stack::keep_error();
    EXPECT_TRUE(state.stack_arguments->is(Type::error));
    EXPECT_EQ(state.stack_top, state.stack_arguments + 1);
}

TEST_F(Stacks, UnrollingStopsAtTheKindATryAllOrTheBottom) {
    open_native("caller");                 // 0
    Cell* caller_base = state.stack_arguments;
    const Cell body_name = body_word();
    stack::push_loop_frame(&body_name);    // 1
    Cell* loop_base = state.stack_arguments;
    *stack::push_cell() = integer::make_cell(3);
    open_native("inner");                  // 2
    *stack::push_cell() = integer::make_cell(9);
    Cell* inner_base = state.stack_arguments;

    stack::unroll_frames(stack::Kind::loop, true);
    EXPECT_EQ(stack::frame_count(), 2);
    EXPECT_EQ(state.stack_arguments, loop_base);
    EXPECT_EQ(state.stack_top, inner_base + 1);

    open_native("inner");
    stack::unroll_frames(stack::Kind::loop, false);
    EXPECT_EQ(stack::frame_count(), 2);
    EXPECT_EQ(state.stack_arguments, caller_base);

    // Nothing of the kind: the bottom-most entry stays, both bases at the
    // bottom.
    stack::unroll_frames(stack::Kind::catch_, false);
    EXPECT_EQ(stack::frame_count(), 1);
    EXPECT_EQ(state.stack_arguments, state.stack_bottom);
}

TEST_F(Stacks, UnrollCopyHandsTheInnermostResultToTheMatchedFrame) {
    open_native("caller");
    const NodeId ctx = stack_context("x");
    const Cell f = word_of("f");
    stack::push_function_frame(&f, ctx);
    Cell* f_base = state.stack_arguments;
    *stack::push_cell() = integer::make_cell(0);
    open_native("return");
    *state.stack_arguments = integer::make_cell(42);
    stack::unroll_copy(stack::Kind::function);
    EXPECT_EQ(stack::frame_count(), 2);
    EXPECT_EQ(state.stack_arguments, f_base);
    EXPECT_EQ(integer::get(f_base), 42);
}

TEST_F(Stacks, BreakAndContinueTakeTheirLoop) {
    struct Case {
        const char* what;
        int break_at;      // round that breaks (-1: none)
        int continue_at;   // round that continues (-1: none)
        bool with_value;   // break/return 99
        bool in_function;  // break from a function called by the body
        int completed;
        int result;        // the loop's result when an integer
    };
    const Case cases[] = {
        {"break", 2, -1, false, false, 2, -1},
        {"continue", -1, 1, false, false, 3, -1},
        {"break/return", 1, -1, true, false, 1, 99},
        {"break from a called function", 2, -1, true, true, 2, 99},
        {"continue, then break", 3, 0, false, false, 2, -1},
    };
    for (const Case& c : cases) {
        open_native("caller");
        Cell* caller = state.stack_arguments;
        int completed = 0;
        const Cell ninety_nine = integer::make_cell(99);
        auto body = [&](int round) {
            auto leave = [&] {
                if (round == c.break_at) return do_break(false, c.with_value ? &ninety_nine : nullptr);
                if (round == c.continue_at) return do_break(true);
                return Status::ok;
            };
            if (!c.in_function) return leave();
            return call_function("f", 0, leave);
        };
        ASSERT_EQ(run_loop(4, body, &completed), Status::ok) << c.what;
        EXPECT_EQ(stack::pending(), 0u) << c.what;
        EXPECT_EQ(completed, c.completed) << c.what;
        EXPECT_EQ(stack::frame_count(), 1) << c.what;
        EXPECT_EQ(state.stack_arguments, caller) << c.what;
        if (c.result >= 0) {
            EXPECT_EQ(result_integer(), c.result) << c.what;
        }
        stack::pop_frame();
    }
}

TEST_F(Stacks, ExitsWithoutTargetRaiseTheirThrowErrors) {
    struct Case {
        const char* what;
        Status (*exit)();
        ErrorId raised;
        const char* where;  // throw names the frame below its own
    };
    const Case cases[] = {
        {"break", [] { return do_break(false); }, ErrorId::throw__break_, "break"},
        {"continue", [] { return do_break(true); }, ErrorId::throw__continue_, "continue"},
        {"return", [] { return do_return(&none::value); }, ErrorId::throw__return_, "return"},
        {"throw", [] { return do_throw(&none::value); }, ErrorId::throw__throw_, "try"},
    };
    for (const Case& c : cases) {
        // No target at all, and targets beyond a try-all frame.
        EXPECT_EQ(error_in_try([&] { (void)c.exit(); }), c.raised) << c.what;
        const Cell target = word_of("target");
        stack::push_loop_frame(&target);
        stack::set_body_flag(true);
        stack::push_catch_frame(&target);
        stack::push_try_all_frame(&target);
        Cell caught;
        EXPECT_EQ(error_in_try([&] { (void)c.exit(); }, &caught), c.raised) << c.what;
        EXPECT_EQ(stack::frame_count(), 3) << c.what;
        // The stacks were as at the call: the error names the native.
        EXPECT_EQ(symbol::text(error::field(&caught, error::Field::where)->data2), c.where) << c.what;
        reset_stacks();
    }
}

TEST_F(Stacks, ReturnAndExitEndTheFunctionFromNestedFrames) {
    open_native("caller");
    Cell* caller = state.stack_arguments;
    const Cell seven = integer::make_cell(7);
    int completed = 0;
    auto nested_return = [&] {
        const Cell eval = word_of("do");
        stack::push_eval_frame(&eval);
        return run_loop(3, [&](int) { return do_return(&seven); }, &completed);
    };
    ASSERT_EQ(call_function("f", 0, nested_return), Status::ok);
    EXPECT_EQ(stack::pending(), 0u);
    EXPECT_EQ(completed, 0);
    EXPECT_EQ(stack::frame_count(), 1);
    EXPECT_EQ(state.stack_arguments, caller);
    EXPECT_EQ(result_integer(), 7);

    stack::reset();
    ASSERT_EQ(call_function("g", 0, [] { return do_return(nullptr); }), Status::ok);
    EXPECT_TRUE(caller->is(Type::unset));
}

TEST_F(Stacks, ThrowFindsTheCatchByName) {
    enum Taker { inner, outer, nobody };
    struct Case {
        const char* what;
        const char* outer;  // the name the outer catch takes (null: any)
        const char* inner;
        const char* thrown;
        Taker taker;
    };
    const Case cases[] = {
        {"any catch takes an unnamed throw", nullptr, nullptr, nullptr, inner},
        {"any catch takes a named throw", nullptr, nullptr, "a", inner},
        {"a named catch passes an unnamed throw on", nullptr, "a", nullptr, outer},
        {"the inner name matches", "b", "a", "a", inner},
        {"the outer name matches", "a", "b", "a", outer},
        {"names match without regard to case", "x", "A", "a", inner},
        {"no name matches", "b", "c", "a", nobody},
    };
    for (const Case& c : cases) {
        open_native("caller");
        Cell* caller = state.stack_arguments;
        const Cell one = integer::make_cell(1);
        bool inner_took = false, outer_took = false;
        Status s = Status::ok;
        const ErrorId raised = error_in_try([&] {
            s = run_catch(
                c.outer,
                [&] { return run_catch(c.inner, [&] { return do_throw(&one, c.thrown); }, &inner_took); },
                &outer_took);
        });
        if (c.taker == nobody) {
            EXPECT_EQ(raised, ErrorId::throw__throw_) << c.what;
        } else {
            EXPECT_EQ(raised, ErrorId::count_) << c.what;
            ASSERT_EQ(s, Status::ok) << c.what;
            EXPECT_EQ(inner_took, c.taker == inner) << c.what;
            EXPECT_EQ(outer_took, c.taker == outer) << c.what;
            EXPECT_EQ(stack::pending(), 0u) << c.what;
            EXPECT_EQ(state.throw_start, nullptr) << c.what;
            EXPECT_EQ(state.stack_arguments, caller) << c.what;
            EXPECT_EQ(result_integer(), 1) << c.what;
        }
        reset_stacks();
    }
}

TEST_F(Stacks, AnErrorPassesThroughLoopsAndCallsToTheNearestTry) {
    open_native("caller");
    Cell* caller = state.stack_arguments;
    *stack::push_cell() = integer::make_cell(1);
    Cell* top = state.stack_top;
    const NodeId ctx = stack_context("n");
    context::header(ctx)->data2 = 4321;
    int completed = 0;
    Cell caught;
    const ErrorId id = error_in_try(
        [&] {
            (void)run_loop(
                3,
                [&](int) {
                    return call_function("f", ctx, [] {
                        open_native("divide");
                        fire(ErrorId::math_zero_divide);
                        return Status::ok;
                    });
                },
                &completed);
        },
        &caught);
    EXPECT_EQ(id, ErrorId::math_zero_divide);
    EXPECT_EQ(completed, 0);
    EXPECT_EQ(stack::frame_count(), 1);
    EXPECT_EQ(state.stack_arguments, caller);
    EXPECT_EQ(state.stack_top, top);
    // The function frame that the error passed gave its context's values back.
    EXPECT_EQ(context::header(ctx)->data2, 4321u);
    EXPECT_EQ(symbol::text(error::field(&caught, error::Field::where)->data2), "divide");
    EXPECT_EQ(integer::get(error::field(&caught, error::Field::stack)), 6);
}

TEST_F(Stacks, RaisingLeavesTheErrorAboveTheTryCallersFrame) {
    open_native("try");
    Cell* try_base = state.stack_arguments;
    const Cell w = word_of("try");
    stack::push_try_frame(&w);
    open_native("inner");
    for (int i = 0; i < 5; ++i) *stack::push_cell() = integer::make_cell(i);
    Cell* top = state.stack_top;
    try {
        fire(ErrorId::math_overflow);
    } catch (const KivError& e) {
        EXPECT_EQ(e.id, ErrorId::math_overflow);
        EXPECT_EQ(stack::frame_count(), 1);
        EXPECT_EQ(state.stack_arguments, try_base);
        // The error made at the top, then its copy pushed above it.
        EXPECT_EQ(state.stack_top, top + 2);
        EXPECT_TRUE(error::caught()->is(Type::error));
        stack::keep_error();
        EXPECT_TRUE(try_base->is(Type::error));
        EXPECT_EQ(state.stack_top, try_base + 1);
    }
}

TEST_F(Stacks, ACaughtThrowLeavesNoStaleWhere) {
    open_native("caller");
    const Cell one = integer::make_cell(1);
    ASSERT_EQ(run_catch(nullptr, [&] {
                  return call_function("h", 0, [&] {
                      open_native("p");
                      open_native("q");
                      return do_throw(&one);
                  });
              }),
              Status::ok);
    // Deeper than the throw was: an error here is named by its own frame.
    open_native("p");
    open_native("q");
    open_native("r");
    open_native("s");
    Cell caught;
    error_in_try(
        [] {
            open_native("g");
            fire(ErrorId::math_overflow);
        },
        &caught);
    EXPECT_EQ(symbol::text(error::field(&caught, error::Field::where)->data2), "g");
}

TEST_F(Stacks, RecursionKeepsEachCallsArguments) {
    // f n: pushes n as its argument, calls f n - 1, then checks that its
    // argument is still n. The innermost call ends by return, by an error
    // caught two levels up, or by break out of a loop around the calls.
    enum class End { normal, return_, error, break_ };
    const NodeId ctx = stack_context("n");
    for (End end : {End::normal, End::return_, End::error, End::break_}) {
        open_native("caller");
        bool kept = true;
        std::function<Status(int)> f = [&](int n) -> Status {
            return call_function("f", ctx, [&]() -> Status {
                *stack::push_cell() = integer::make_cell(n);
                if (n == 0) {
                    if (end == End::return_) return do_return(&none::value);
                    if (end == End::error) fire(ErrorId::math_overflow);
                    if (end == End::break_) return do_break(false);
                    return Status::ok;
                }
                if (n == 2 && end == End::error) {
                    error_in_try([&] { (void)f(n - 1); });
                } else {
                    KIV_PROPAGATE(f(n - 1));
                }
                kept = kept && integer::get(context::slot(ctx, 0)) == n;
                return Status::ok;
            });
        };
        int completed = 0;
        context::header(ctx)->data2 = 777;
        ASSERT_EQ(run_loop(1, [&](int) { return f(4); }, &completed), Status::ok);
        EXPECT_TRUE(kept) << static_cast<int>(end);
        // Every call's frame gave the context's values back.
        EXPECT_EQ(context::header(ctx)->data2, 777u) << static_cast<int>(end);
        stack::pop_frame();
    }
}

TEST_F(Stacks, OverflowIsALanguageErrorATryCatches) {
    // The call stack's 12,000 frames.
    Cell caught;
    EXPECT_EQ(error_in_try(
                  [] {
                      for (;;) open_native("deep");
                  },
                  &caught),
              ErrorId::internal_stack_overflow);
    EXPECT_EQ(integer::get(error::field(&caught, error::Field::stack)), stack::max_frames);
    EXPECT_TRUE(stack::empty());

    // The argument stack's 20,000 cells.
    EXPECT_EQ(error_in_try([] {
                  for (;;) *stack::push_cell() = integer::make_cell(0);
              }),
              ErrorId::internal_stack_overflow);
    EXPECT_EQ(state.stack_top, state.stack_bottom);

    // The native stack, when it runs short first: here it looks nearly used
    // up a little below this frame.
    char* saved_low = state.stack_low;
    state.stack_low = static_cast<char*>(__builtin_frame_address(0)) - stack::native_reserve - 200000;
    std::int32_t frames = 0;
    EXPECT_EQ(error_in_try([] { descend(0); }, &caught), ErrorId::internal_stack_overflow);
    frames = integer::get(error::field(&caught, error::Field::stack));
    state.stack_low = saved_low;
    EXPECT_GT(frames, 10);
    EXPECT_LT(frames, 100);
}

TEST_F(Stacks, FrameNamesSkipBodyAndAnon) {
    Cell w;
    EXPECT_EQ(symbol::text(stack::current_function_word(&w)->data2), "<not-found>");
    open_native("outer");
    stack::push_named_frame(words::symbol(words::W::anon), stack::header::native);
    EXPECT_EQ(symbol::text(stack::current_function_word(&w)->data2), "outer");

    // collect-calls: from the newest down to, not including, the
    // bottom-most, each word with the position of its saved base.
    *stack::push_cell() = integer::make_cell(0);
    open_native("mid");
    *stack::push_cell() = integer::make_cell(0);
    stack::push_named_frame(words::symbol(words::W::body_frame), stack::header::native);
    open_native("top");
    EXPECT_EQ(symbol::text(stack::current_function_word(&w)->data2), "top");
    Cell block = test::block_of({});
    stack::collect_calls(&block);
    EXPECT_EQ(test::mold(block), "[top 2 mid 0]");
}

TEST_F(Stacks, FlagsAndEval) {
    open_native("a");
    const Cell n = word_of("n");
    stack::push_interpreted_native_frame(&n);
    EXPECT_TRUE(stack::eval_q(nullptr, false));
    EXPECT_TRUE(stack::eval_q(nullptr, true));
    open_native("b");
    EXPECT_TRUE(stack::eval_q(nullptr, false));
    EXPECT_FALSE(stack::eval_q(nullptr, true));
    EXPECT_FALSE(stack::eval_q(stack::top_frame() - 1, false));

    stack::CallFrame* caller = stack::claim_caller_body_flag();
    ASSERT_NE(caller, nullptr);
    EXPECT_TRUE(caller->has_body_flag());
    EXPECT_EQ(stack::claim_caller_body_flag(), nullptr);
    stack::release_body_flag(caller);
    EXPECT_FALSE(caller->has_body_flag());
}

TEST_F(Stacks, TypeChecksNameTheFunctionAndArgument) {
    Cell typeset;
    typeset::make_at(&typeset, 0, 0, 0);
    typeset::set_bit(&typeset, static_cast<std::uint32_t>(Type::integer));
    Cell caught;
    const ErrorId id = error_in_try(
        [&] {
            open_native("append");
            *stack::push_cell() = integer::make_cell(1);
            *stack::push_cell() = word_of("x");
            typecheck::check_arg(-1, &typeset, 0);
            typecheck::check_arg(0, &typeset, 0);
            typecheck::check_arg(1, &typeset, 1);
        },
        &caught);
    EXPECT_EQ(id, ErrorId::script_expect_arg);
    const std::string text = test::error_text(caught);
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "*** Script Error: append does not allow word! for its <anon> argument");
    const Cell refinement_off{static_cast<std::uint32_t>(Type::logic), 0, 0, 0};
    const Cell x = word_of("x");
    EXPECT_EQ(typecheck::check_optional_arg(&refinement_off, &typeset, 0, &x), &x);
    typeset::set_bit(&typeset, static_cast<std::uint32_t>(Type::unset));
    EXPECT_EQ(typecheck::check_type(&typeset, 0, &unset::value), &unset::value);
    EXPECT_EQ(error_in_try([] { typecheck::check_set(0, &unset::value); }), ErrorId::script_expect_arg);
}

TEST_F(Stacks, CompiledSettersRefuseUnsetAndMarkObjectFields) {
    Cell foo = word_of("foo");
    *stack::push_cell() = integer::make_cell(5);
    compiled::set_word(&foo);
    EXPECT_EQ(state.stack_top, state.stack_arguments);
    EXPECT_EQ(integer::get(context::get(&foo)), 5);
    stack::push_copy(&unset::value);
    EXPECT_EQ(error_in_try([&] { compiled::set_word(&foo); }), ErrorId::script_need_value);
    EXPECT_EQ(integer::get(context::get(&foo)), 5);

    Cell object;
    object::make_at(&object, 2);
    const Cell field = word_of("field");
    context::add_word(object.data1, &field);
    *stack::push_cell() = integer::make_cell(8);
    compiled::set_slot_unchecked(object.data1, 0);
    EXPECT_TRUE(context::get_word_at(object.data1, 0)->header & cell_flag::written);
    EXPECT_EQ(integer::get(compiled::get_slot(object.data1, 0)), 8);

    const NodeId ctx = stack_context("n");
    context::header(ctx)->data2 = 0;
    EXPECT_EQ(error_in_try([&] { compiled::get_slot(ctx, 0); }), ErrorId::script_not_defined);
}

TEST_F(Stacks, TheCollectorKeepsFramesAndTravellingErrors) {
    // A function context only the call stack names.
    const Cell f = word_of("f");
    stack::push_function_frame(&f, stack_context("n"));
    const Cell foo = word_of("foo");
    Cell caught;
    error_in_try([&] { fire(ErrorId::script_no_value, &foo); }, &caught);
    test::collect();
    test::expect_heap_sound();
    EXPECT_TRUE(context::header(stack::top_frame()->function_context)->is(Type::context));
    EXPECT_EQ(test::error_text(caught).substr(0, 34), "*** Script Error: foo has no value");
}

}  // namespace
}  // namespace kiv
