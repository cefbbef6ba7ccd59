// The runtime for tests of callables, paths and objects: the registry's
// start-up plus the series, number and callable datatypes, registered
// parents first.
#pragma once

#include <string>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/paren.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/evaluator/eval-api.h"
#include "tests/unit/runtime-support.h"
#include "tests/unit/value-reader.h"

namespace kiv::test {

inline void start_callables() {
    start_runtime();
    collector::set_active(false);
    series::init();
    block::init();
    string::init();
    integer::init();
    native::init();
    action::init();
    op::init();
    path::init();
    function::init();
    routine::init();
    paren::init();
    object::init();
    // The datatype words stand for their datatypes, as the library sets them.
    for (int id = 1; id <= registry::top_id(); ++id) {
        if (!registry::entry(id).registered) continue;
        Cell word = word_of(registry::entry(id).name);
        Cell type = datatype_of(static_cast<Type>(id));
        context::set(&word, &type);
    }
    collector::set_active(true);
}

class CallableTest : public ::testing::Test {
protected:
    void SetUp() override { start_callables(); }
    void TearDown() override {
        collector::set_active(false);
        eval::install(eval::Entries{});
    }
};

// make of a datatype: the datatype's own make action, as the generic
// dispatcher calls it for a datatype! prototype.
inline Cell make(Type type, Cell spec) {
    Cell proto = datatype_of(type);
    auto fn = registry::lookup<Action::make>(type);
    if (!fn) registry::fire_unsupported(Action::make, &proto);
    return *fn(&proto, &spec, type);
}

}  // namespace kiv::test
