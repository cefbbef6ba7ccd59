// Helpers for the tests of pair!, point2D!, point3D!, tuple!, triple!,
// binary! and the text values: a runtime with the number and scalar
// datatypes registered, makers, and the value as it molds.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/email.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/ref.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tag.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/triple.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/evaluator/lexer-scalars.h"
#include "runtime/evaluator/lexer.h"
#include "tests/unit/runtime-support.h"

namespace kiv::test {

class ScalarTest : public RuntimeTest {
protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        lexer::init();
        series::init();
        block::init();
        string::init();
        integer::init();
        char_::init();
        float_::init();
        percent::init();
        time::init();
        triple::init();
        pair::init();
        tuple::init();
        binary::init();
        tag::init();
        email::init();
        ref::init();
        point2d::init();
        point3d::init();
    }
};

inline Cell i(std::int32_t n) { return integer::make_cell(n); }
inline Cell f(double d) { return float_::make_cell(d); }
inline Cell pc(double d) { return float_::make_cell(d, Type::percent); }
inline Cell ch(std::uint32_t cp) { return Cell{static_cast<std::uint32_t>(Type::char_), 0, cp, 0}; }
inline Cell xy(std::int32_t x, std::int32_t y) { return pair::make_cell(x, y); }
inline Cell p2(double x, double y) { return point2d::make_cell(x, y); }
inline Cell p3(double x, double y, double z) { return point3d::make_cell(x, y, z); }
inline Cell text_of(const char* utf8, Type type) {
    Cell s = string_of(utf8);
    s.set_type(type);
    return s;
}
inline Cell none_value() { return Cell{static_cast<std::uint32_t>(Type::none), 0, 0, 0}; }

inline Cell tup(std::vector<int> bytes) {
    std::vector<std::uint8_t> b(bytes.begin(), bytes.end());
    Cell c{static_cast<std::uint32_t>(Type::tuple), 0, 0, 0};
    return *tuple::make_at(&c, static_cast<int>(b.size()), b.data());
}

inline Cell bin(std::vector<int> bytes) {
    std::vector<std::uint8_t> b(bytes.begin(), bytes.end());
    Cell c;
    return *binary::load_at(&c, b.data(), static_cast<std::int64_t>(b.size()));
}

// A value loaded from its literal text by the scalar loaders.
inline Cell lit(const char* text, Type type) {
    Cell s = string_of(text);
    Cell out{};
    EXPECT_TRUE(lexer::load_one(&s, type, &out)) << text;
    return out;
}

// The arithmetic action of the left operand's datatype.
inline Cell math(Cell a, MathOp op, Cell b) {
    return *integer::run_math_action(&a, &a, &b, op);
}

// The mold of the value the arithmetic leaves.
inline std::string math_mold(Cell a, MathOp op, Cell b) { return mold(math(a, op, b)); }

}  // namespace kiv::test
