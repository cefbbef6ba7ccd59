// Helpers for tests of the stacks and of error!: the runtime with both
// stacks, the error catalogue and the datatypes errors print.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/stack.h"
#include "runtime/state.h"
#include "tests/unit/runtime-support.h"

namespace kiv::test {

// The stacks and the catalogue over a fresh runtime, with the datatypes that
// errors print.
inline void start_error_runtime() {
    start_runtime();
    series::init();
    block::init();
    string::init();
    integer::init();
    object::init();
    error::init();
    stack::make_argument_stack();
    stack::make_call_stack();
    stack::init();
    error::init_catalog();
}

class ErrorRuntimeTest : public ::testing::Test {
protected:
    void SetUp() override { start_error_runtime(); }
    void TearDown() override {
        error::forget();
        stack::forget();
        collector::set_active(false);
    }
};

inline std::string text_of(Cell* string_value) { return string::to_utf8(string_value); }

// The printed form of an error.
inline std::string error_text(Cell error) {
    Cell out;
    error::form_text(&error, &out);
    return text_of(&out);
}

inline Cell block_of_words(std::initializer_list<const char*> spellings) {
    const Cell block{static_cast<std::uint32_t>(Type::block), 0,
                     memory::alloc_cells(spellings.size() ? spellings.size() : 1), 0};
    for (const char* s : spellings) {
        const Cell w = word_of(s);
        *memory::append_slot(&block) = w;
    }
    return block;
}

// A frame named by a word, as a native opens it.
inline void open_native(const char* name) {
    const Cell w = word_of(name);
    stack::push_native_frame(&w);
}

// Runs the body inside a try frame and answers the id of the error it
// raised (ErrorId::count_ when none), with the error! value in `caught`.
// The stacks are put back as they were.
template <class Body>
ErrorId error_in_try(Body&& body, Cell* caught = nullptr) {
    stack::CallFrame* frames = state.frames_top;
    Cell* top = state.stack_top;
    Cell* arguments = state.stack_arguments;
    const Cell name = word_of("try");
    stack::push_try_frame(&name);
    ErrorId id = ErrorId::count_;
    try {
        body();
    } catch (const KivError& e) {
        id = e.id;
        if (caught) *caught = *error::caught();
    }
    state.frames_top = frames;
    state.stack_top = top;
    state.stack_arguments = arguments;
    return id;
}

}  // namespace kiv::test
