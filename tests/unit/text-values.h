// Helpers for tests of the string family: the runtime's start-up steps
// plus the text datatypes, text values in a chosen unit, and error
// arguments.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/datatypes/char.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "tests/unit/block-support.h"

namespace kiv::test {

// The runtime's start-up steps with series!, the block types and the text
// datatypes registered. The
// collector runs, so KIV_GC_STRESS=1 collects at every allocation.
class TextTest : public ::testing::Test {
protected:
    void SetUp() override {
        start_runtime();
        series::init();
        block::init();
        paren::init();
        issue::init();
        string::init();
        // integer! stands in for its unit until that is merged; char! takes
        // its slots.
        if (!registry::entry(Type::integer).registered) {
            constexpr ActionRow row{.form = stand_in::int_form,
                                    .mold = stand_in::int_mold,
                                    .compare = stand_in::int_compare};
            registry::register_type(Type::integer, registry::no_parent, "integer!", row);
        }
        char_::init();
        url::init();
        file::init();
    }
    void TearDown() override { collector::set_active(false); }
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
