// The whole runtime for tests of the evaluator: start-up as the program
// runs it (every unit's init, the library's sources, a text loader), and
// `eval`, which loads and evaluates text and answers the molded result or
// the error's text.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/unset.h"
#include "runtime/evaluator/actions.h"
#include "runtime/evaluator/interpreter.h"
#include "runtime/evaluator/stack.h"
#include "runtime/init.h"
#include "runtime/boot.h"
#include "runtime/memory.h"
#include "runtime/state.h"

namespace kiv::test {

inline void start_evaluator() {
    memory::reset();
    collector::set_active(false);
    runtime::init();
    boot::run(0, nullptr);
    collector::set_active(true);
}

class EvalTest : public ::testing::Test {
protected:
    void SetUp() override { start_evaluator(); }
    void TearDown() override {
        collector::set_active(false);
        error::forget();
        stack::forget();
    }
};

// The block of values the text loads into.
inline Cell load(const std::string& text) {
    Cell source;
    unset::make_at(&source);
    string::make_at(&source, static_cast<std::int64_t>(text.size()));
    string::append_utf8(&source, text);
    Cell code;
    unset::make_at(&code);
    block::load_text_hook(&source, &code);
    return code;
}

// Loads and evaluates the text in a try frame: the molded value, "unset"
// for unset, or "error: " and the error's id.
inline std::string eval(const std::string& text) {
    Cell* const top = state.stack_top;
    stack::CallFrame* const frames = state.frames_top;
    Cell try_word;
    word::load("try", &try_word);
    stack::push_native_frame(&try_word);
    stack::push_try_frame(&try_word);
    std::string out;
    try {
        Cell code = load(text);
        if (interpreter::eval_block(&code, false) == Status::thrown) {
            out = "thrown";
            state.thrown_code = 0;
        } else {
            Cell result = *(state.stack_top - 1);
            if (result.is(Type::unset)) {
                out = "unset";
            } else {
                Cell s;
                unset::make_at(&s);
                string::make_at(&s, 16);
                actions::mold_into(&result, &s, false, false, true);
                out = string::to_utf8(&s);
            }
        }
    } catch (const KivError& e) {
        out = std::string("error: ") + error_info(e.id).name;
    }
    state.stack_top = state.stack_arguments = top;
    stack::set_call_top(frames);
    return out;
}

}  // namespace kiv::test
