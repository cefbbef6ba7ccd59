// char!: conversion from numbers, text and UTF-8 bytes, form and mold,
// comparison with chars and integers, and arithmetic held to the code point
// range. Arithmetic works in 64 bits, so any result outside 0..0x10FFFF,
// however far, is seen and refused.
#include "runtime/datatypes/char.h"

#include <cmath>
#include <cstring>

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/fire.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace kiv::char_ {

VectorScalarMath vector_scalar_math = nullptr;

Cell* make_in(Cell* block, std::uint32_t cp) { return make_at(memory::append_slot(block), cp); }

namespace {

double float_of(const Cell* value) {
    double d;
    const std::uint32_t words[2] = {value->data2, value->data3};
    std::memcpy(&d, words, sizeof d);
    return d;
}

// The code point of the first UTF-8 sequence of a binary!, reading nothing
// past its tail.
std::uint32_t from_utf8(Cell* spec) {
    const std::int64_t available = string::ks_length(spec);
    if (available == 0) registry::fire_bad_to(Type::char_, spec);
    const std::uint8_t* p = string::ks_head(spec);
    if (p[0] < 0x80) return p[0];
    if (p[0] <= 0xBF) return 0xFFFE;
    int length = static_cast<int>(available < 4 ? available : 4);
    const std::int32_t cp = unicode::read_utf8_char(p, &length);
    if (cp < 0) {
        // The sequence is cut by the end of the binary!.
        Cell rest;
        string::make_binary(&rest, p, available);
        fire(ErrorId::access_invalid_utf8, &rest);
    }
    return static_cast<std::uint32_t>(cp);
}

Cell* make(Cell* proto, Cell* spec, Type) {
    std::int64_t cp;
    switch (spec->type()) {
        case Type::char_:
        case Type::integer: cp = static_cast<std::int32_t>(spec->data2); break;
        case Type::float_:
        case Type::percent: {
            const double d = std::trunc(float_of(spec));
            // NaN fails both tests and lands out of range as well.
            cp = d >= 0 && d <= max_code_point ? static_cast<std::int64_t>(d) : -1;
            break;
        }
        case Type::binary: return make_at(proto, from_utf8(spec));
        default:
            if (!string::is_any_string(spec->type())) registry::fire_bad_to(Type::char_, spec);
            if (string::ks_length(spec) == 0) registry::fire_bad_to(Type::char_, spec);
            return make_at(proto,
                           string::get_char(string::ks_head(spec), string::buffer(spec)->unit()));
    }
    if (cp < 0 || cp > max_code_point) fire(ErrorId::script_out_of_range, spec);
    return make_at(proto, static_cast<std::uint32_t>(cp));
}

int form(Cell* value, Cell* buffer, Cell*, int part) {
    string::append_char(string::buffer(buffer), get(value));
    return part - 1;
}

int mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int part, int) {
    string::append_literal(buffer, "#\"");
    string::append_escaped_char(buffer, get(value), all);
    string::append_literal(buffer, "\"");
    return part - 4;
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if ((op == CompareOp::strict_equal || op == CompareOp::find) && !value2->is(Type::char_)) return 1;
    if (!value2->is(Type::char_) && !value2->is(Type::integer)) return not_comparable;
    const std::int64_t a = static_cast<std::int32_t>(value1->data2);
    const std::int64_t b = static_cast<std::int32_t>(value2->data2);
    return a < b ? -1 : a > b ? 1 : 0;
}

enum Op { add_op, subtract_op, multiply_op, divide_op, remainder_op, or_op, and_op, xor_op };

// The operand as an integer; a float is truncated toward zero.
std::int64_t operand_of(Cell* operand) {
    switch (operand->type()) {
        case Type::char_:
        case Type::integer: return static_cast<std::int32_t>(operand->data2);
        case Type::float_: {
            const double d = std::trunc(float_of(operand));
            // Beyond 32 bits no operation can come back into range except by
            // wrapping, which integers never do.
            if (!(d >= -2147483648.0 && d <= 2147483647.0)) fire(ErrorId::math_overflow);
            return static_cast<std::int64_t>(d);
        }
        default: {
            Cell type;
            registry::make_datatype(&type, operand->type());
            fire(ErrorId::script_invalid_type, &type);
        }
    }
}

Cell* do_math(Cell* value1, Cell* value2, Op op) {
    if (value2->is(Type::vector) && vector_scalar_math) return vector_scalar_math(op, value2, value1);
    const std::int64_t a = get(value1);
    const std::int64_t b = operand_of(value2);
    std::int64_t r = 0;
    switch (op) {
        case add_op: r = a + b; break;
        case subtract_op: r = a - b; break;
        case multiply_op: r = a * b; break;
        case divide_op:
        case remainder_op:
            if (b == 0) fire(ErrorId::math_zero_divide);
            r = op == divide_op ? a / b : a % b;
            break;
        case or_op: r = static_cast<std::int32_t>(a | b); break;
        case and_op: r = static_cast<std::int32_t>(a & b); break;
        case xor_op: r = static_cast<std::int32_t>(a ^ b); break;
    }
    if (r < 0 || r > max_code_point) fire(ErrorId::math_overflow);
    return make_at(value1, static_cast<std::uint32_t>(r));
}

Cell* add(Cell* a, Cell* b) { return do_math(a, b, add_op); }
Cell* divide(Cell* a, Cell* b) { return do_math(a, b, divide_op); }
Cell* multiply(Cell* a, Cell* b) { return do_math(a, b, multiply_op); }
Cell* remainder(Cell* a, Cell* b) { return do_math(a, b, remainder_op); }
Cell* subtract(Cell* a, Cell* b) { return do_math(a, b, subtract_op); }
Cell* and_(Cell* a, Cell* b) { return do_math(a, b, and_op); }
Cell* or_(Cell* a, Cell* b) { return do_math(a, b, or_op); }
Cell* xor_(Cell* a, Cell* b) { return do_math(a, b, xor_op); }

constexpr ActionRow actions{
    .make = make,
    .random = inherit,
    .to = make,
    .form = form,
    .mold = mold,
    .compare = compare,
    .absolute = inherit,
    .add = add,
    .divide = divide,
    .multiply = multiply,
    .remainder = remainder,
    .subtract = subtract,
    .even_q = inherit,
    .odd_q = inherit,
    .and_ = and_,
    .or_ = or_,
    .xor_ = xor_,
};

}  // namespace

void init() { registry::register_type(Type::char_, Type::integer, "char!", actions); }

}  // namespace kiv::char_
