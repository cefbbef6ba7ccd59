// Helpers for tests that load source text into values: a runtime with
// every datatype present registered (in start-up order), the stacks, the
// error catalogue and the lexer, and the text of the syntax error a text
// raises. `load` (eval-support.h) loads a text into a block.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/email.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/paren.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/ref.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/tag.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/url.h"
#include "runtime/evaluator/lexer-scan.h"
#include "runtime/evaluator/lexer.h"
#include "tests/unit/error-support.h"
#include "tests/unit/eval-support.h"

namespace kiv::test {

// The runtime's start-up steps for loading: the datatypes present, the
// stacks, the catalogue and the lexer. The collector runs, so
// KIV_GC_STRESS=1 collects at every allocation.
// Without `everything`, map!, hash!, date! and money! stay unregistered.
inline void start_load_runtime(bool everything = true) {
    memory::reset();
    collector::set_active(false);
    registry::init();
    using Init = void (*)();
    const Init types[] = {
        datatype::init,   unset::init,    none::init,     logic::init,    series::init,
        block::init,      string::init,   binary::init,   integer::init,  symbol::init,
        context::init,    word::init,     lit_word::init, set_word::init, get_word::init,
        refinement::init, char_::init,    native::init,   action::init,   op::init,
        path::init,       function::init, routine::init,  paren::init,    issue::init,
        url::init,        file::init,     object::init,   bitset::init,   triple::init,
        float_::init,     typeset::init,  error::init,    everything ? map::init : nullptr,
        everything ? hash::init : nullptr, pair::init,    percent::init,  tuple::init,
        time::init,       tag::init,      email::init,    everything ? date::init : nullptr,
        everything ? money::init : nullptr, ref::init,    point2d::init,  point3d::init,
    };
    for (Init init : types)
        if (init) init();
    symbol::init_table(4000);
    context::init_global(4000);
    case_folding::init();
    symbol::init_index(4000);
    registry::build_words();
    words::init();
    ownership::init();
    lexer::init();
    stack::make_argument_stack();
    stack::make_call_stack();
    stack::init();
    error::init_catalog();
    collector::set_active(true);
}

class LoadTest : public ::testing::Test {
protected:
    void SetUp() override { start_load_runtime(); }
    void TearDown() override {
        error::forget();
        stack::forget();
        collector::set_active(false);
    }
};

// The values the text loads to, molded (without the outer brackets), or
// the printed form of the error it raises.
inline std::string load_mold(const std::string& text) {
    std::string result;
    Cell caught;
    const ErrorId id = error_in_try([&] { result = mold(load(text), false, true); }, &caught);
    if (id != ErrorId::count_) return error_text(caught);
    return result;
}

}  // namespace kiv::test
