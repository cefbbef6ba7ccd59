// vector!: element access and makers, the arithmetic, then the actions in
// action order, then the registration. See vector.h.
#include "runtime/datatypes/vector.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/fire.h"
#include "runtime/memory.h"

namespace kiv::vector {

using memory::SeriesBuffer;
using series::buffer;

// ---------------------------------------------------------------------------
// Element access.

std::int64_t get_integer(const std::uint8_t* p, std::uint32_t size, Type element) {
    const bool zero_extend = element == Type::char_;
    switch (size) {
        case 1: return zero_extend ? std::int64_t{p[0]} : std::int64_t{static_cast<std::int8_t>(p[0])};
        case 2: {
            const auto u = static_cast<std::uint16_t>(p[0] | p[1] << 8);
            return zero_extend ? std::int64_t{u} : std::int64_t{static_cast<std::int16_t>(u)};
        }
        default: {
            const std::uint32_t u = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                    std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
            return zero_extend ? std::int64_t{u} : std::int64_t{static_cast<std::int32_t>(u)};
        }
    }
}

double get_real(const std::uint8_t* p, std::uint32_t size) {
    if (size == 8) {
        double d;
        std::memcpy(&d, p, 8);
        return d;
    }
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

namespace {

// Writes the low `size` bytes of n, least significant first.
void put_integer(std::uint8_t* dst, std::int64_t n, std::uint32_t size) {
    const auto u = static_cast<std::uint32_t>(n);
    for (std::uint32_t i = 0; i < size; ++i) dst[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

void put_real(std::uint8_t* dst, double d, std::uint32_t size) {
    if (size == 8) {
        std::memcpy(dst, &d, 8);
    } else {
        const auto f = static_cast<float>(d);
        std::memcpy(dst, &f, 4);
    }
}

}  // namespace

void push_value(const std::uint8_t* p, std::uint32_t size, Type element, Cell* out) {
    if (floats_q(element)) {
        *out = float_::make_cell(get_real(p, size), element);
    } else {
        *out = Cell{static_cast<std::uint32_t>(element), 0,
                    static_cast<std::uint32_t>(get_integer(p, size, element)), 0};
    }
}

void set_value(std::uint8_t* dst, const Cell* value, std::uint32_t size) {
    switch (value->type()) {
        case Type::char_:
        case Type::integer: put_integer(dst, static_cast<std::int32_t>(value->data2), size); return;
        case Type::float_:
        case Type::percent: put_real(dst, float_::get(value), size); return;
        default: integer::fire_invalid_type(value);
    }
}

Cell* make_at(Cell* cell, std::int64_t count, Type element, std::uint32_t size) {
    count = std::max<std::int64_t>(count, 0);
    if (count > 0x7FFFFFFF / std::int64_t{size}) fire(ErrorId::internal_no_memory);
    // The cell names no buffer while the allocation may collect.
    *cell = Cell{static_cast<std::uint32_t>(Type::unset), 0, 0, 0};
    const NodeId node = memory::alloc_series(count, size, 0);
    *cell = Cell{static_cast<std::uint32_t>(Type::vector), 0, node, static_cast<std::uint32_t>(element)};
    return cell;
}

namespace {

// Elements from the index to the tail (an index past the tail is set to
// the tail), and the element at a position from the index.
std::int32_t length_of(Cell* value) { return series::ks_length(value); }
std::uint8_t* element_at(const Cell* value, std::int64_t i) {
    SeriesBuffer* b = buffer(value);
    return b->head() + (series::head(value) + i) * b->unit();
}

// ---------------------------------------------------------------------------
// Arithmetic.

// One element op on integers: add, subtract and multiply wrap to 32 bits;
// divide truncates; a zero divisor fires integer!'s math error.
std::int64_t integer_op(std::int64_t a, std::int64_t b, MathOp op) {
    switch (op) {
        case MathOp::add: return static_cast<std::int32_t>(static_cast<std::uint32_t>(a + b));
        case MathOp::subtract: return static_cast<std::int32_t>(static_cast<std::uint32_t>(a - b));
        case MathOp::multiply: return static_cast<std::int32_t>(static_cast<std::uint32_t>(a * b));
        case MathOp::divide:
            return integer::do_math_op(static_cast<std::int32_t>(a), static_cast<std::int32_t>(b), op, nullptr);
        default: {
            Cell scratch = integer::make_cell(0);
            return integer::do_math_op(static_cast<std::int32_t>(a), static_cast<std::int32_t>(b), op, &scratch);
        }
    }
}

// A char! element must read back as a code point. 8- and 16-bit ones keep
// the low bytes of a result and read them back unsigned, so they always do;
// a 32-bit one takes only a result from 0 to the last code point, as char!
// arithmetic does, and math overflow fires for any other.
void check_code_point(std::int64_t r, Type element, std::uint32_t size) {
    if (element == Type::char_ && size == 4 && (r < 0 || r > char_::max_code_point)) {
        fire(ErrorId::math_overflow);
    }
}

// The op of the element at `a` with a number, written to `out` at the
// output's size.
void element_op(MathOp op, Type element, const std::uint8_t* a, std::uint32_t a_size, double real,
                std::int64_t n, std::uint8_t* out, std::uint32_t out_size) {
    if (floats_q(element)) {
        put_real(out, float_::do_math_op(get_real(a, a_size), real, op), out_size);
    } else {
        const std::int64_t r = integer_op(get_integer(a, a_size, element), n, op);
        check_code_point(r, element, out_size);
        put_integer(out, r, out_size);
    }
}

[[noreturn]] void fire_not_same_type() { fire(ErrorId::script_not_same_type); }

Cell* math_with_vector(Cell* value1, Cell* value2, MathOp op) {
    const Type element = element_type(value1);
    if (element_type(value2) != element) fire_not_same_type();
    const std::int32_t n = std::min(length_of(value1), length_of(value2));
    const std::uint32_t size1 = buffer(value1)->unit();
    const std::uint32_t size2 = buffer(value2)->unit();
    const std::uint32_t size = std::max(size1, size2);
    Cell result;
    make_at(&result, n, element, size);
    // GC: the allocation may have moved the operands' buffers.
    std::uint8_t* out = buffer(&result)->head();
    for (std::int32_t i = 0; i < n; ++i) {
        const std::uint8_t* b = element_at(value2, i);
        const double real = floats_q(element) ? get_real(b, size2) : 0;
        const std::int64_t m = floats_q(element) ? 0 : get_integer(b, size2, element);
        element_op(op, element, element_at(value1, i), size1, real, m, out + std::size_t(i) * size, size);
    }
    buffer(&result)->tail += static_cast<std::uint32_t>(n) * size;
    *value1 = result;
    return value1;
}

}  // namespace

Cell* do_math_scalar(MathOp op, Cell* vector, Cell* scalar) {
    const Type element = element_type(vector);
    double real = 0;
    std::int64_t n = 0;
    switch (scalar->type()) {
        case Type::char_:
        case Type::integer:
            n = static_cast<std::int32_t>(scalar->data2);
            real = static_cast<double>(n);
            break;
        case Type::float_:
        case Type::percent: {
            real = float_::get(scalar);
            if (!floats_q(element)) {
                const double t = std::trunc(real);
                if (!(t >= -2147483648.0 && t <= 2147483647.0)) series::fire_out_of_range(scalar);
                n = static_cast<std::int64_t>(t);
            }
            break;
        }
        default: fire(ErrorId::internal_not_done);
    }
    // Adding or subtracting 0, multiplying or dividing by 1 rewrite nothing.
    const bool floats = floats_q(element);
    const bool zero = floats ? real == 0 : n == 0;
    const bool one = floats ? real == 1 : n == 1;
    if (((op == MathOp::add || op == MathOp::subtract) && zero) ||
        ((op == MathOp::multiply || op == MathOp::divide) && one)) {
        return vector;
    }
    const std::uint32_t size = buffer(vector)->unit();
    if (element == Type::char_ && size == 4) {
        // Every result is checked before any is written, so a failure leaves
        // the vector as it was.
        for (std::int32_t i = 0, count = length_of(vector); i < count; ++i) {
            check_code_point(integer_op(get_integer(element_at(vector, i), size, element), n, op), element, size);
        }
    }
    for (std::int32_t i = 0, count = length_of(vector); i < count; ++i) {
        std::uint8_t* p = element_at(vector, i);
        element_op(op, element, p, size, real, n, p, size);
    }
    return vector;
}

Cell* do_math(Cell* value1, Cell* value2, MathOp op) {
    if (value2->is(Type::vector)) return math_with_vector(value1, value2, op);
    return do_math_scalar(op, value1, value2);
}

namespace {

// ---------------------------------------------------------------------------
// Making.

[[noreturn]] void fire_bad_make(const Cell* spec) {
    Cell datatype;
    registry::make_datatype(&datatype, Type::vector);
    fire(ErrorId::script_bad_make_arg, &datatype, spec);
}

// The element type a word names, or 0.
Type type_named(const Cell* word) {
    const std::uint32_t symbol = symbol::resolve(word->data2);
    for (Type t : {Type::char_, Type::integer, Type::float_, Type::percent}) {
        const std::uint32_t name = registry::entry(t).symbol;
        if (name && symbol::resolve(name) == symbol) return t;
    }
    return Type{0};
}

// Whether a value can be stored in a vector of the element type: it must
// be of exactly that type.
void check_element(const Cell* value, Type element) {
    if (value->type() != element) fire(ErrorId::script_invalid_arg, value);
}

// Makes `out` a vector of `count` elements (at least the values' number)
// from the cells [first, first + values) of a block, the rest zero.
void make_filled(Cell* out, Type element, std::uint32_t size, std::int64_t count, NodeId block,
                 std::int32_t first, std::int32_t values) {
    for (std::int32_t i = 0; i < values; ++i) check_element(memory::buffer_of(block)->cells() + first + i, element);
    count = std::max<std::int64_t>(count, values);
    Cell made;
    make_at(&made, count, element, size);
    if (count > 0) {
        SeriesBuffer* b = buffer(&made);
        std::uint8_t* p = b->head();
        // GC: the allocation may have moved the block; read it afresh.
        for (std::int32_t i = 0; i < values; ++i) {
            set_value(p + std::size_t(i) * size, memory::buffer_of(block)->cells() + first + i, size);
        }
        std::memset(p + std::size_t(values) * size, 0, static_cast<std::size_t>(count - values) * size);
        b->tail += static_cast<std::uint32_t>(count) * size;
    }
    *out = made;
}

// The element count of an integer! or float! field (a float is truncated;
// one outside the 32-bit range fires script out-of-range).
std::int64_t count_of(const Cell* field) {
    if (field->is(Type::integer)) return static_cast<std::int32_t>(field->data2);
    const double t = std::trunc(float_::get(field));
    if (!(t >= -2147483648.0 && t <= 2147483647.0)) series::fire_out_of_range(field);
    return static_cast<std::int64_t>(t);
}

// make from a block that starts with a type word: the type, an optional
// size in bits, then a count, a count and values, or values.
void make_typed(Cell* out, const Cell* spec) {
    const NodeId node = spec->data2;
    const std::int32_t first = series::head(spec);
    const std::int32_t length = static_cast<std::int32_t>(memory::buffer_of(node)->length()) - first;
    const auto cell = [&](std::int32_t i) -> const Cell* {
        return i < length ? memory::buffer_of(node)->cells() + first + i : nullptr;
    };
    const Type element = type_named(cell(0));
    if (element == Type{0} || length < 2) fire_bad_make(spec);
    std::int32_t at = 1;
    std::uint32_t size;
    if (cell(1)->is(Type::integer)) {
        const std::int32_t bits = static_cast<std::int32_t>(cell(1)->data2);
        if (element == Type::percent) {
            size = 8;
        } else if (element == Type::float_ ? (bits == 32 || bits == 64)
                                           : (bits == 8 || bits == 16 || bits == 32)) {
            size = static_cast<std::uint32_t>(bits) / 8;
        } else {
            fire_bad_make(spec);
        }
        at = 2;
    } else if (element == Type::percent) {
        size = 8;
    } else {
        fire(ErrorId::script_invalid_spec_field, spec);
    }
    const Cell* field = cell(at);
    if (field && field->is(Type::integer)) {
        const std::int64_t count = count_of(field);
        const Cell* values = cell(at + 1);
        if (values && values->is(Type::block)) {
            const Cell block = *values;
            const std::int32_t n = std::max(series::ks_length(const_cast<Cell*>(&block)), 0);
            make_filled(out, element, size, count, block.data2, series::head(&block), n);
        } else {
            make_filled(out, element, size, count, node, 0, 0);
        }
    } else if (field && field->is(Type::block)) {
        const Cell block = *field;
        const std::int32_t n = std::max(series::ks_length(const_cast<Cell*>(&block)), 0);
        make_filled(out, element, size, n, block.data2, series::head(&block), n);
    } else {
        fire(ErrorId::script_invalid_spec_field, spec);
    }
}

Cell* make(Cell* proto, Cell* spec, Type) {
    Cell made;
    if (spec->is(Type::integer) || spec->is(Type::float_)) {
        make_filled(&made, Type::integer, 4, count_of(spec), 0, 0, 0);
    } else if (spec->is(Type::block)) {
        Cell block = *spec;
        const std::int32_t n = std::max(series::ks_length(&block), 0);
        const Cell* first = n ? memory::buffer_of(block.data2)->cells() + series::head(&block) : nullptr;
        if (!first) {
            make_at(&made, 0, Type::integer, 4);
        } else if (first->is(Type::word)) {
            make_typed(&made, &block);
        } else {
            const Type element = first->type();
            if (!element_type_q(element)) integer::fire_invalid_type(first);
            make_filled(&made, element, default_size(element), n, block.data2, series::head(&block), n);
        }
    } else {
        fire(ErrorId::internal_not_done);
    }
    *proto = made;
    return proto;
}

// ---------------------------------------------------------------------------
// Text forms.

// Appends one element's text (a char! molded as #"c" when `molded`) and
// answers its length in characters.
int append_element(Cell* out, const std::uint8_t* p, std::uint32_t size, Type element, bool molded,
                   bool all) {
    const std::uint32_t before = string::buffer(out)->length();
    switch (element) {
        case Type::char_: {
            const auto cp = static_cast<std::uint32_t>(get_integer(p, size, element));
            if (molded) {
                string::append_literal(out, "#\"");
                string::append_escaped_char(out, cp, all);
                string::append_literal(out, "\"");
            } else {
                string::append_char(string::buffer(out), cp);
            }
            break;
        }
        case Type::integer:
            string::append_literal(out, integer::form_signed(static_cast<std::int32_t>(get_integer(p, size, element))));
            break;
        case Type::float_:
            string::append_literal(out, float_::form_float(get_real(p, size),
                                                           size == 8 ? float_::Kind::float64 : float_::Kind::float32));
            break;
        default:
            string::append_literal(out, float_::form_float(get_real(p, size) * 100.0, float_::Kind::percent64));
            break;
    }
    return static_cast<int>(string::buffer(out)->length() - before);
}

// The elements from the index separated by spaces; with a /part limit,
// stops before an element once the budget is below 1.
int append_elements(Cell* value, Cell* out, bool molded, bool all, Cell* part_arg, int part) {
    const Type element = element_type(value);
    const std::uint32_t size = buffer(value)->unit();
    for (std::int32_t i = 0, n = length_of(value); i < n; ++i) {
        if (part_arg && part < 1) break;
        if (i > 0) {
            string::append_literal(out, " ");
            --part;
        }
        // GC: appending to the text may collect; the element is read afresh.
        part -= append_element(out, element_at(value, i), size, element, molded, all);
    }
    return part;
}

int form(Cell* value, Cell* buffer, Cell* part_arg, int part) {
    return append_elements(value, buffer, false, false, part_arg, part);
}

int mold(Cell* value, Cell* out, bool only, bool all, bool, Cell* part_arg, int part, int) {
    const Type element = element_type(value);
    const std::uint32_t size = buffer(value)->unit();
    if (!only) {
        string::append_literal(out, "make vector! [");
        part -= 14;
    }
    if (series::ks_abs_length(value) >= 1 && size == default_size(element)) {
        part = append_elements(value, out, true, all, part_arg, part);
    } else {
        // The type, the size in bits and the elements in a block of their
        // own; with /only the inner block is kept whole.
        const std::uint32_t before = string::buffer(out)->length();
        string::append_literal(out, registry::entry(element).name);
        string::append_literal(out, " ");
        string::append_literal(out, integer::form_signed(static_cast<std::int32_t>(size * 8)));
        string::append_literal(out, " [");
        part -= static_cast<int>(string::buffer(out)->length() - before);
        part = append_elements(value, out, true, all, part_arg, part);
        string::append_literal(out, "]");
        --part;
    }
    if (!only) {
        string::append_literal(out, "]");
        --part;
    }
    return part;
}

// ---------------------------------------------------------------------------
// Comparison.

bool is_equality(CompareOp op) {
    return op == CompareOp::equal || op == CompareOp::not_equal || op == CompareOp::strict_equal ||
           op == CompareOp::find;
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!value2->is(Type::vector)) return not_comparable;
    const Type element = element_type(value1);
    if (element_type(value2) != element) fire_not_same_type();
    const bool same_view = value1->data2 == value2->data2 && value1->data1 == value2->data1;
    if (op == CompareOp::same) return same_view ? 0 : 1;
    if (same_view && is_equality(op)) return 0;
    const std::int32_t n1 = length_of(value1);
    const std::int32_t n2 = length_of(value2);
    if (n1 != n2 && is_equality(op)) return 1;
    const std::uint32_t size1 = buffer(value1)->unit();
    const std::uint32_t size2 = buffer(value2)->unit();
    for (std::int32_t i = 0, n = std::min(n1, n2); i < n; ++i) {
        const std::uint8_t* a = element_at(value1, i);
        const std::uint8_t* b = element_at(value2, i);
        if (floats_q(element)) {
            const double x = get_real(a, size1);
            const double y = get_real(b, size2);
            if (x < y) return -1;
            if (x > y) return 1;
            // An unordered pair ends the comparison.
            if (x != y) return 0;
        } else {
            const std::int64_t x = get_integer(a, size1, element);
            const std::int64_t y = get_integer(b, size2, element);
            if (x != y) return x < y ? -1 : 1;
        }
    }
    return (n1 > n2) - (n1 < n2);
}

// ---------------------------------------------------------------------------
// Arithmetic actions.

Cell* add(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::add); }
Cell* divide(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::divide); }
Cell* multiply(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::multiply); }
Cell* remainder(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::remainder); }
Cell* subtract(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::subtract); }
Cell* and_(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::and_); }
Cell* or_(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::or_); }
Cell* xor_(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::xor_); }

// ---------------------------------------------------------------------------
// Series changes.

// The encoded elements of the new values, once, then repeated `dup` times.
// They are gathered apart before the target changes, so a value that is
// the target itself reads its elements as they were.
std::vector<std::uint8_t> repeat(std::vector<std::uint8_t> once, std::int64_t dup) {
    dup = std::max<std::int64_t>(dup, 0);
    const auto n = static_cast<std::int64_t>(once.size());
    if (n == 0) return once;
    if (dup > 0x7FFFFFFF / n) fire(ErrorId::internal_no_memory);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n * dup));
    for (std::int64_t i = 0; i < dup; ++i) {
        std::memcpy(bytes.data() + i * n, once.data(), static_cast<std::size_t>(n));
    }
    return bytes;
}

// The cells of a block-like value from its index when `many` (at most
// `limit` of them when not negative), else the value itself, checked
// against the element type and encoded at the size.
std::vector<std::uint8_t> encode_values(Cell* value, bool many, std::int64_t limit, Type element,
                                        std::uint32_t size) {
    std::vector<std::uint8_t> bytes;
    const auto put = [&](const Cell* v) {
        check_element(v, element);
        bytes.resize(bytes.size() + size);
        set_value(bytes.data() + bytes.size() - size, v, size);
    };
    if (many) {
        std::int64_t n = std::max(series::ks_length(value), 0);
        if (limit >= 0) n = std::min(n, limit);
        const Cell* cells = buffer(value)->cells() + series::head(value);
        for (std::int64_t i = 0; i < n; ++i) put(cells + i);
    } else {
        put(value);
    }
    return bytes;
}

// The elements of another vector of the same element type, re-encoded at
// the target's size.
std::vector<std::uint8_t> encode_vector(Cell* source, Type element, std::uint32_t size) {
    if (element_type(source) != element) fire_not_same_type();
    const std::uint32_t from = buffer(source)->unit();
    const std::int32_t n = length_of(source);
    std::vector<std::uint8_t> bytes(std::size_t(n) * size);
    for (std::int32_t i = 0; i < n; ++i) {
        Cell v;
        push_value(element_at(source, i), from, element, &v);
        set_value(bytes.data() + std::size_t(i) * size, &v, size);
    }
    return bytes;
}

// Makes room for a used size of `used` bytes: to that size, or twice the
// capacity when that is more.
SeriesBuffer* reserve(SeriesBuffer* b, std::int64_t used) {
    if (used > 0x7FFFFFFF) fire(ErrorId::internal_no_memory);
    if (used - b->used_bytes() <= std::int64_t{b->room()}) return b;
    const std::int64_t twice = 2 * std::int64_t{b->size};
    return memory::expand_series(b, used < twice ? twice : used);
}

Cell* insert_series(Cell* series, Cell* value, int part, bool, int dup, bool append) {
    length_of(series);  // clamps the index
    const Type element = element_type(series);
    const std::uint32_t size = buffer(series)->unit();
    const bool many = value->is(Type::block) || value->is(Type::paren) || value->is(Type::hash);
    const std::vector<std::uint8_t> bytes = repeat(encode_values(value, many, part, element, size), dup);
    const std::uint32_t units = static_cast<std::uint32_t>(bytes.size() / size);
    if (units == 0) return series;
    const bool owned = series::check_owner(series, append ? series::Change::append : series::Change::insert, value,
                                           series::head(series), static_cast<std::int32_t>(units));
    length_of(series);  // an owner's handler may have cut the buffer
    SeriesBuffer* b = buffer(series);
    const std::uint32_t used = b->used_bytes();
    const std::uint32_t index_at = static_cast<std::uint32_t>(series::head(series)) * size;
    const std::uint32_t at = append || index_at >= used ? used : index_at;
    b = reserve(b, std::int64_t{used} + static_cast<std::int64_t>(bytes.size()));
    std::uint8_t* p = b->head() + at;
    std::memmove(p + bytes.size(), p, used - at);
    std::memcpy(p, bytes.data(), bytes.size());
    b->tail += static_cast<std::uint32_t>(bytes.size());
    series::report_owner(owned, series, append ? series::Change::append : series::Change::insert,
                         static_cast<std::int32_t>(at / size), static_cast<std::int32_t>(units));
    if (!append) series::set_head(series, at / size + units);
    return series;
}

Cell* change(Cell* series, Cell* value, int part, bool, int dup) {
    length_of(series);
    const Type element = element_type(series);
    const std::uint32_t size = buffer(series)->unit();
    const bool many = series::is_block_like(value->type());
    const std::vector<std::uint8_t> bytes =
        repeat(value->is(Type::vector) ? encode_vector(value, element, size)
                                       : encode_values(value, many, -1, element, size),
               dup);
    const auto units = static_cast<std::int64_t>(bytes.size() / size);
    const std::int64_t remaining = length_of(series);
    const std::int64_t count = std::min<std::int64_t>(part >= 0 ? part : units, remaining);
    const bool owned = series::check_owner(series, series::Change::change, value, series::head(series),
                                           static_cast<std::int32_t>(count));
    // An owner's handler may have changed the buffer: measure afresh.
    const std::int64_t left = length_of(series);
    const std::int64_t cut = std::min(count, left);
    SeriesBuffer* b = buffer(series);
    const std::uint32_t used = b->used_bytes();
    const std::uint32_t index = static_cast<std::uint32_t>(series::head(series)) * size;
    const auto removed = static_cast<std::uint32_t>(cut * size);
    b = reserve(b, std::int64_t{used} - removed + static_cast<std::int64_t>(bytes.size()));
    std::uint8_t* p = b->head() + index;
    std::memmove(p + bytes.size(), p + removed, used - index - removed);
    if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
    b->tail = b->offset + used - removed + static_cast<std::uint32_t>(bytes.size());
    series::report_owner(owned, series, series::Change::change, series::head(series),
                         static_cast<std::int32_t>(units));
    series::set_head(series, series::head(series) + units);
    return series;
}

constexpr ActionRow actions{
    .make = make,
    .random = inherit,
    .reflect = inherit,
    .form = form,
    .mold = mold,
    .eval_path = inherit,
    .compare = compare,
    .add = add,
    .divide = divide,
    .multiply = multiply,
    .remainder = remainder,
    .subtract = subtract,
    .and_ = and_,
    .or_ = or_,
    .xor_ = xor_,
    .append = insert_series,
    .at = inherit,
    .back = inherit,
    .change = change,
    .clear = inherit,
    .copy = inherit,
    .find = inherit,
    .head = inherit,
    .head_q = inherit,
    .index_q = inherit,
    .insert = insert_series,
    .length_q = inherit,
    .move = inherit,
    .next = inherit,
    .pick = inherit,
    .poke = inherit,
    .remove = inherit,
    .reverse = inherit,
    .select = inherit,
    .sort = inherit,
    .skip = inherit,
    .tail = inherit,
    .tail_q = inherit,
    .take = inherit,
    .modify = inherit,
};

Cell* scalar_math(int op, Cell* vector, Cell* scalar) {
    return do_math_scalar(static_cast<MathOp>(op), vector, scalar);
}

}  // namespace

void init() {
    registry::register_type(Type::vector, Type::string, "vector!", actions);
    series::vector_hooks.push_value = push_value;
    series::vector_hooks.set_value = set_value;
    char_::vector_scalar_math = scalar_math;
}

}  // namespace kiv::vector
