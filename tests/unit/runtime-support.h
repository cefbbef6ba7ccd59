// Helpers for tests of the datatype registry and the values built on it: a
// fresh registry, symbol table, global context and fixed words, and small
// makers and printers for values.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "runtime/case-folding.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "tests/unit/heap-support.h"

namespace kiv::test {

// The start-up steps that concern these units, in start-up order, on a fresh
// heap. The collector is switched on, so KIV_GC_STRESS=1 collects at every
// allocation.
inline void start_runtime(std::int32_t symbols = 4000, std::int32_t globals = 4000) {
    memory::reset();
    collector::set_active(false);
    registry::init();
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    symbol::init();
    context::init();
    word::init();
    lit_word::init();
    set_word::init();
    get_word::init();
    refinement::init();
    typeset::init();
    symbol::init_table(symbols);
    context::init_global(globals);
    case_folding::init();
    symbol::init_index(symbols);
    registry::build_words();
    words::init();
    ownership::init();
    collector::set_active(true);
}

class RuntimeTest : public ::testing::Test {
protected:
    void SetUp() override { start_runtime(); }
    void TearDown() override { collector::set_active(false); }
};

inline Cell integer(std::int32_t v) {
    return Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(v), 0};
}

inline Cell datatype_of(Type t) {
    Cell c;
    return *registry::make_datatype(&c, t);
}

// A word of the given kind for a spelling, bound in the global context.
inline Cell word_of(const char* text, Type kind = Type::word) {
    Cell w;
    word::load(text, &w);
    w.set_type(kind);
    return w;
}

inline Cell block_of(std::initializer_list<Cell> items) {
    const NodeId node = memory::alloc_cells(items.size() ? items.size() : 1);
    memory::SeriesBuffer* b = memory::buffer_of(node);
    for (const Cell& c : items) {
        *b->cells_tail() = c;
        b->tail += sizeof(Cell);
    }
    return Cell{static_cast<std::uint32_t>(Type::block), 0, node, 0};
}

inline Cell string_of(const char* utf8) {
    Cell s;
    string::make_at(&s, 0);
    string::append_utf8(&s, utf8);
    return s;
}

inline std::string mold(Cell value, bool all = false, bool only = false) {
    Cell out;
    string::make_at(&out, 16);
    registry::find<Action::mold>(&value)(&value, &out, only, all, false, nullptr, 0, 0);
    return string::to_utf8(&out);
}

inline std::string form(Cell value) {
    Cell out;
    string::make_at(&out, 16);
    registry::find<Action::form>(&value)(&value, &out, nullptr, 0);
    return string::to_utf8(&out);
}

inline int compare(Cell a, Cell b, CompareOp op) {
    return registry::find<Action::compare>(&a)(&a, &b, op);
}

// The id of the error raised by `body`, or ErrorId::count_ when none.
template <class Body>
ErrorId error_of(Body&& body) {
    try {
        body();
    } catch (const KivError& e) {
        return e.id;
    }
    return ErrorId::count_;
}

}  // namespace kiv::test
