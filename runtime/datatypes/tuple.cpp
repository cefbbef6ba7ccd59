// tuple!: helpers, then the actions in action order, then the registration.
#include "runtime/datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/lexer-scalars.h"
#include "runtime/evaluator/random.h"
#include "runtime/fire.h"
#include "runtime/memory.h"

namespace kiv::tuple {

// ---------------------------------------------------------------------------
// Helpers.

Cell* make_at(Cell* cell, int n, const std::uint8_t* source) {
    std::uint8_t b[max_length] = {};
    std::memcpy(b, source, static_cast<std::size_t>(n));
    cell->set_type(Type::tuple);
    set_length(cell, std::max(n, min_length));
    std::memcpy(bytes(cell), b, sizeof b);
    return cell;
}

Cell* from_integers(Cell* cell, int n, const std::int32_t* values) {
    std::uint8_t b[max_length];
    for (int i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(values[i]);
    return make_at(cell, n, b);
}

Cell* from_binary(const Cell* binary, Cell* result) {
    memory::SeriesBuffer* buffer = memory::buffer_of(binary->data2);
    const std::uint32_t size = buffer->used_bytes();
    const std::uint32_t index = std::min(binary->data1, size);
    const int n = static_cast<int>(std::min<std::uint32_t>(size - index, max_length));
    *result = Cell{static_cast<std::uint32_t>(Type::tuple), 0, 0, 0};
    return make_at(result, n, buffer->head() + index);
}

namespace {

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

Cell* from_issue(const Cell* issue, Cell* result) {
    // Bytes of the UTF-8 spelling: a character beyond ASCII is no hex digit
    // whatever its length, so counting bytes rejects the same names.
    const std::string_view name = symbol::text(issue->data2);
    const std::size_t n = name.size();
    if (n != 3 && n != 6 && n != 8) fire(ErrorId::script_invalid_data, issue);
    int digits[8];
    for (std::size_t i = 0; i < n; ++i) {
        digits[i] = hex_value(static_cast<unsigned char>(name[i]));
        if (digits[i] < 0) fire(ErrorId::script_invalid_data, issue);
    }
    std::uint8_t b[4];
    if (n == 3) {
        for (int i = 0; i < 3; ++i) b[i] = static_cast<std::uint8_t>(digits[i] * 17);
    } else {
        for (std::size_t i = 0; i < n / 2; ++i) b[i] = static_cast<std::uint8_t>(digits[2 * i] * 16 + digits[2 * i + 1]);
    }
    *result = Cell{static_cast<std::uint32_t>(Type::tuple), 0, 0, 0};
    return make_at(result, n == 8 ? 4 : 3, b);
}

Cell* set_rgba(Cell* cell, std::uint8_t r, std::uint8_t g, std::uint8_t b, int alpha) {
    const std::uint8_t rgba[4] = {r, g, b, static_cast<std::uint8_t>(alpha)};
    return make_at(cell, alpha < 0 ? 3 : 4, rgba);
}

bool zero_q(const Cell* value) {
    const std::uint8_t* b = bytes(value);
    return std::all_of(b, b + length(value), [](std::uint8_t x) { return x == 0; });
}

Cell* pick(const Cell* value, std::int32_t index, Cell* out) {
    if (index < 1 || index > length(value)) {
        const Cell n = integer::make_cell(index);
        fire(ErrorId::script_out_of_range, &n);
    }
    *out = integer::make_cell(bytes(value)[index - 1]);
    return out;
}

void poke(Cell* value, std::int32_t index, const Cell* new_value) {
    const int n = length(value);
    if (index < 1 || index > n) {
        const Cell k = integer::make_cell(index);
        fire(ErrorId::script_out_of_range, &k);
    }
    std::uint8_t* b = bytes(value);
    if (new_value->is(Type::none)) {
        std::fill(b + index - 1, b + max_length, std::uint8_t{0});
        set_length(value, std::max(index - 1, min_length));
        return;
    }
    b[index - 1] = static_cast<std::uint8_t>(std::clamp(integer::get(new_value), 0, 255));
}

namespace {

std::uint8_t clamp_byte(std::int64_t v) { return static_cast<std::uint8_t>(std::clamp<std::int64_t>(v, 0, 255)); }

// Truncated toward zero, then clamped; a NaN gives 0.
std::uint8_t clamp_byte(double d) {
    if (!(d > 0.0)) return 0;
    return d >= 255.0 ? 255 : static_cast<std::uint8_t>(d);
}

// The integer operation on a byte and an operand, in 64 bits so that what
// would overflow 32 bits clamps by its true sign.
std::int64_t byte_op(std::int64_t a, std::int64_t b, MathOp op) {
    switch (op) {
        case MathOp::add: return a + b;
        case MathOp::subtract: return a - b;
        case MathOp::multiply: return a * b;
        case MathOp::divide:
        case MathOp::remainder:
            if (b == 0) fire(ErrorId::math_zero_divide);
            return op == MathOp::divide ? a / b : a % b;
        case MathOp::or_: return a | b;
        case MathOp::and_: return a & b;
        case MathOp::xor_: return a ^ b;
    }
    return 0;
}

}  // namespace

Cell* do_math(Cell* left, Cell* right, MathOp op) {
    if (!left->is(Type::tuple)) {
        if (op == MathOp::subtract || op == MathOp::divide || op == MathOp::remainder) {
            integer::fire_not_related(registry::action_name(integer::action_of(op)), left->type());
        }
        std::swap(*left, *right);
    }
    std::uint8_t* a = bytes(left);
    int n = length(left);
    switch (right->type()) {
        case Type::float_:
        case Type::percent: {
            const double f = float_::get(right);
            for (int i = 0; i < n; ++i) a[i] = clamp_byte(std::trunc(float_::do_math_op(a[i], f, op)));
            return left;
        }
        case Type::integer: {
            const std::int64_t k = integer::get(right);
            for (int i = 0; i < n; ++i) a[i] = clamp_byte(byte_op(a[i], k, op));
            return left;
        }
        case Type::tuple: break;
        default: integer::fire_invalid_type(right);
    }
    // Bytes past either tuple's length count as 0 (they are kept zero).
    const std::uint8_t* b = bytes(right);
    const int m = length(right);
    std::uint8_t result[max_length] = {};
    n = std::max(n, m);
    for (int i = 0; i < n; ++i) {
        const std::int64_t x = i < length(left) ? a[i] : 0;
        const std::int64_t y = i < m ? b[i] : 0;
        result[i] = clamp_byte(byte_op(x, y, op));
    }
    return make_at(left, n, result);
}

}  // namespace kiv::tuple

// ---------------------------------------------------------------------------
// Actions.

namespace kiv::tuple {
namespace {

// A byte read through a path: an integer, which names no series.
Cell path_result;

[[noreturn]] void fire_refine(const char* name, const Cell* value) {
    Cell word;
    word::load(name, &word);
    fire(ErrorId::script_invalid_refine_arg, &word, value);
}

// One byte from a block element: integer!, char! (its code point) or float!
// (truncated toward zero), within 0..255.
bool byte_of(const Cell* item, std::uint8_t* out) {
    double d;
    if (item->is(Type::integer)) {
        d = integer::get(item);
    } else if (item->is(Type::char_)) {
        d = item->data2;
    } else if (item->is(Type::float_)) {
        d = std::trunc(float_::get(item));
    } else {
        return false;
    }
    if (!(d >= 0.0 && d <= 255.0)) return false;
    *out = static_cast<std::uint8_t>(d);
    return true;
}

Cell* from_block(Cell* proto, const Cell* spec) {
    memory::SeriesBuffer* buffer = memory::buffer_of(spec->data2);
    const std::uint32_t length = buffer->length();
    const std::uint32_t index = std::min(spec->data1, length);
    if (length - index > max_length) registry::fire_bad_to(Type::tuple, spec);
    std::uint8_t b[max_length];
    const Cell* items = buffer->cells() + index;
    const int n = static_cast<int>(length - index);
    for (int i = 0; i < n; ++i) {
        if (!byte_of(items + i, b + i)) registry::fire_bad_to(Type::tuple, spec);
    }
    *proto = Cell{static_cast<std::uint32_t>(Type::tuple), 0, 0, 0};
    return make_at(proto, n, b);
}

// make and to alike.
Cell* to(Cell* proto, Cell* spec, Type) {
    switch (spec->type()) {
        case Type::block:
        case Type::paren:
        case Type::hash: return from_block(proto, spec);
        case Type::string:
        case Type::file:
        case Type::url:
        case Type::tag:
        case Type::email:
        case Type::ref: {
            Cell loaded;
            if (!lexer::load_one(spec, Type::tuple, &loaded)) registry::fire_bad_to(Type::tuple, spec);
            *proto = loaded;
            proto->clear_new_line();
            return proto;
        }
        case Type::issue: return from_issue(spec, proto);
        case Type::tuple: *proto = *spec; return proto;
        case Type::binary: return from_binary(spec, proto);
        default: registry::fire_bad_to(Type::tuple, spec);
    }
}

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(static_cast<std::int32_t>(value->data1 ^ value->data2 ^ value->data3));
        return unset::make_at(value);
    }
    std::uint8_t* b = bytes(value);
    for (int i = 0, n = length(value); i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(random::uniform(secure, b[i] + 1) - 1);
    }
    return value;
}

int form(Cell* value, Cell* buffer, Cell*, int part) {
    char text[4 * max_length];
    int used = 0;
    const std::uint8_t* b = bytes(value);
    for (int i = 0, n = length(value); i < n; ++i) {
        used += std::snprintf(text + used, sizeof text - static_cast<std::size_t>(used), i ? ".%u" : "%u",
                              static_cast<unsigned>(b[i]));
    }
    string::append_literal(buffer, text);
    return part - used;
}

int mold(Cell* value, Cell* buffer, bool, bool, bool, Cell* part_arg, int part, int) {
    return form(value, buffer, part_arg, part);
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell*, Cell* grand_parent,
                Cell* previous, int, bool, bool, bool, bool report) {
    if (!element->is(Type::integer)) integer::fire_invalid_type(element);
    const std::int32_t index = integer::get(element);
    if (!value) return pick(parent, index, &path_result);
    if (!value->is(Type::integer) && !value->is(Type::none)) integer::fire_invalid_type(value);
    const Cell old = *parent;
    poke(parent, index, value);
    if (report) pair::report_path_write(grand_parent, previous, &old, parent, value, index);
    return value;
}

int compare(Cell* value1, Cell* value2, CompareOp) {
    if (!value2->is(Type::tuple)) return not_comparable;
    const int n1 = length(value1);
    const int n2 = length(value2);
    const std::uint8_t* a = bytes(value1);
    const std::uint8_t* b = bytes(value2);
    for (int i = 0, n = std::max(n1, n2); i < n; ++i) {
        const int x = i < n1 ? a[i] : 0;
        const int y = i < n2 ? b[i] : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

Cell* add(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::add); }
Cell* divide(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::divide); }
Cell* multiply(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::multiply); }
Cell* remainder(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::remainder); }
Cell* subtract(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::subtract); }
Cell* and_(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::and_); }

Cell* complement(Cell* value) {
    std::uint8_t* b = bytes(value);
    for (int i = 0, n = length(value); i < n; ++i) b[i] = static_cast<std::uint8_t>(~b[i]);
    return value;
}

Cell* or_(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::or_); }
Cell* xor_(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::xor_); }

int length_q(Cell* series) { return length(series); }

Cell* pick_action(Cell* series, int index, Cell* index_arg) {
    const std::int32_t k = index_arg && index_arg->is(Type::integer) ? integer::get(index_arg) : index;
    return pick(series, k, series);
}

// The /part count (the length without it), checked.
int part_of(const Cell* value, const Cell* part) {
    if (!part) return length(value);
    if (!part->is(Type::integer)) fire_refine("part", part);
    if (integer::get(part) < 0) fire(ErrorId::script_out_of_range, part);
    return integer::get(part);
}

Cell* reverse(Cell* series, Cell* part_arg, Cell* skip_arg) {
    int part = part_of(series, part_arg);
    int size = 1;
    if (skip_arg) {
        if (!skip_arg->is(Type::integer)) fire_refine("skip", skip_arg);
        size = integer::get(skip_arg);
        if (size == part) return series;
        if (size < 1) fire(ErrorId::script_out_of_range, skip_arg);
        if (size > part || part % size != 0) fire_refine("skip", skip_arg);
    }
    part = std::min(part, length(series));
    // Only whole records take part once the part is cut to the length.
    part -= part % size;
    std::uint8_t* b = bytes(series);
    if (size == 1) {
        std::reverse(b, b + part);
        return series;
    }
    for (int i = 0, j = part - size; i < j; i += size, j -= size) {
        std::swap_ranges(b + i, b + i + size, b + j);
    }
    return series;
}

constexpr ActionRow actions{
    .make = to,
    .random = random,
    .to = to,
    .form = form,
    .mold = mold,
    .eval_path = eval_path,
    .compare = compare,
    .add = add,
    .divide = divide,
    .multiply = multiply,
    .remainder = remainder,
    .subtract = subtract,
    .and_ = and_,
    .complement = complement,
    .or_ = or_,
    .xor_ = xor_,
    .length_q = length_q,
    .pick = pick_action,
    .reverse = reverse,
};

}  // namespace

void init() { registry::register_type(Type::tuple, registry::no_parent, "tuple!", actions); }

}  // namespace kiv::tuple
