// Helpers for tests of the string family: a registry holding the datatypes
// that text needs, text values in a chosen unit, and error catching.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/case-folding.h"
#include "runtime/collector.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/fire.h"
#include "runtime/memory.h"

namespace kiv::test {

// Registers what text values need and lets the collector run, so that a
// run with KIV_GC_STRESS=1 collects at every allocation.
class TextTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        memory::init();
        case_folding::init();
        registry::init();
        datatype::init();
        none::init();
        logic::init();
        string::init();
        char_::init();
        url::init();
        file::init();
        collector::set_active(true);
    }
    static void TearDownTestSuite() { collector::set_active(false); }
};

// A value of `type` holding the UTF-8 text, its buffer widened to `unit`.
inline Cell text(const char* utf8, std::uint32_t unit = 1, Type type = Type::string) {
    Cell c;
    string::make_at(&c, 0);
    string::append_utf8(&c, utf8);
    memory::SeriesBuffer* b = string::buffer(&c);
    if (b->unit() < unit) string::widen_buffer(b, b->unit(), unit);
    c.set_type(type);
    return c;
}

inline std::string utf8(const Cell& c) { return string::to_utf8(&c); }

inline std::uint32_t unit_of(const Cell& c) { return string::buffer(&c)->unit(); }

inline Cell integer(std::int32_t n) {
    return Cell{static_cast<std::uint32_t>(Type::integer), 0, static_cast<std::uint32_t>(n), 0};
}

inline Cell character(std::uint32_t cp) {
    Cell c;
    return *char_::make_at(&c, cp);
}

inline Cell real(double d) {
    Cell c{static_cast<std::uint32_t>(Type::float_), 0, 0, 0};
    std::uint32_t words[2];
    std::memcpy(words, &d, 8);
    c.data2 = words[0];
    c.data3 = words[1];
    return c;
}

// A block holding copies of the cells.
inline Cell block(std::initializer_list<Cell> cells) {
    Cell b{static_cast<std::uint32_t>(Type::block), 0, memory::alloc_cells(4), 0};
    for (const Cell& c : cells) *memory::append_slot(&b) = c;
    return b;
}

// Runs f and answers the id of the language error it raised.
template <class F>
ErrorId error_of(F f) {
    try {
        f();
    } catch (const KivError& e) {
        return e.id;
    }
    ADD_FAILURE() << "no error raised";
    return ErrorId::count_;
}

// The UTF-8 bytes of the first argument of the error f raised, when it is a
// text or binary value.
template <class F>
std::string error_arg_text(F f) {
    try {
        f();
    } catch (const KivError& e) {
        if (e.arg_count == 0) return "<none>";
        Cell arg = e.args[0];
        if (arg.is(Type::binary)) {
            memory::SeriesBuffer* b = string::buffer(&arg);
            return std::string(reinterpret_cast<char*>(b->head()), b->used_bytes());
        }
        return utf8(arg);
    }
    ADD_FAILURE() << "no error raised";
    return "";
}

}  // namespace kiv::test
