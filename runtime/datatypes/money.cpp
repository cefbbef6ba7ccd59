// money!: digit access, currencies, conversions, the digit arithmetic and
// rounding; then the actions in action order and the registration.
//
// The 22 digits are read as one unsigned 128-bit count of 1/100000 units
// (below 10^22 < 2^74), and every operation is exact integer arithmetic on
// such counts, with the overflow tests the digit layout sets: a result must
// fit 22 digits, a product's digits are estimated before multiplying and a
// quotient's before dividing.
#include "runtime/datatypes/money.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/datatypes/float.h"
#include "runtime/datatypes/none.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string-storage.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unset.h"
#include "runtime/datatypes/word.h"
#include "runtime/evaluator/lexer-numbers.h"
#include "runtime/evaluator/random.h"
#include "runtime/fire.h"
#include "runtime/fixed-words.h"
#include "runtime/float-text.h"
#include "runtime/memory.h"

namespace kiv::money {

static_assert(std::endian::native == std::endian::little, "the digit bytes follow the header's bytes");

namespace {

__extension__ typedef unsigned __int128 Units;

constexpr Units power10(int n) {
    Units p = 1;
    for (int i = 0; i < n; ++i) p *= 10;
    return p;
}
constexpr Units unit = power10(decimals);  // 1.00000
constexpr Units limit = power10(digit_count);

// A signed amount in 1/100000 units.
struct Amount {
    bool negative;
    Units units;
};

CurrencySource currency_source = nullptr;
DigitsSource digits_source = nullptr;

const std::uint8_t* digit_bytes(const Cell* value) {
    return reinterpret_cast<const std::uint8_t*>(value) + 5;
}
std::uint8_t* digit_bytes(Cell* value) { return reinterpret_cast<std::uint8_t*>(value) + 5; }

Units units_of(const Cell* value) {
    Units u = 0;
    for (int n = 1; n <= digit_count; ++n) u = u * 10 + static_cast<unsigned>(digit(value, n));
    return u;
}

Amount amount_of(const Cell* value) { return Amount{get_sign(value), units_of(value)}; }

[[noreturn, gnu::cold]] void fire_type_limit(Type type) {
    Cell datatype;
    registry::make_datatype(&datatype, type);
    fire(ErrorId::script_type_limit, &datatype);
}

[[noreturn, gnu::cold]] void fire_with_type(ErrorId id, const Cell* value) {
    Cell datatype;
    registry::make_datatype(&datatype, Type::money);
    fire(id, &datatype, value);
}

// Writes the amount into `out` as a money! of the currency, keeping the
// cell's header flags. A zero amount is stored without sign.
Cell* write(Cell* out, Amount a, int currency) {
    if (a.units >= limit) fire_type_limit(Type::money);
    out->header = (out->header & ~(0xFFu | sign_mask)) | static_cast<std::uint32_t>(Type::money);
    out->data1 = out->data2 = out->data3 = 0;
    set_sign(out, a.negative && a.units != 0);
    set_currency(out, currency);
    std::uint8_t* bytes = digit_bytes(out);
    Units u = a.units;
    for (int n = digit_count; n >= 1; --n, u /= 10) {
        const auto d = static_cast<std::uint8_t>(u % 10);
        std::uint8_t& b = bytes[(n - 1) >> 1];
        b = (n & 1) ? static_cast<std::uint8_t>((b & 0x0F) | (d << 4)) : static_cast<std::uint8_t>((b & 0xF0) | d);
    }
    return out;
}

int significant(Units u) {
    int n = 0;
    for (; u != 0; u /= 10) ++n;
    return n == 0 ? 1 : n;
}

bool same_code(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
    }
    return true;
}

// The start-up currency list, as system/locale/currencies/list holds it.
constexpr const char* builtin_codes[builtin_currency_count] = {
    "AED", "AFN", "ALL", "AMD", "ANG", "AOA", "ARS", "AUD", "AWG", "AZN", "BAM", "BBD", "BDT",
    "BTC", "BGN", "BHD", "BIF", "BMD", "BND", "BOB", "BRL", "BSD", "BTN", "BWP", "BYN", "BZD",
    "CAD", "CDF", "CHF", "CKD", "CLP", "CNY", "COP", "CRC", "CUC", "CUP", "CVE", "CZK", "DJF",
    "DKK", "DOP", "DZD", "EGP", "ERN", "ETB", "ETH", "EUR", "FJD", "FKP", "FOK", "GBP", "GEL",
    "GGP", "GHS", "GIP", "GMD", "GNF", "GTQ", "GYD", "HKD", "HNL", "HRK", "HTG", "HUF", "IDR",
    "ILS", "IMP", "INR", "IQD", "IRR", "ISK", "JEP", "JMD", "JOD", "JPY", "KES", "KGS", "KHR",
    "KID", "KMF", "KPW", "KRW", "KWD", "KYD", "KZT", "LAK", "LBP", "LKR", "LRD", "LSL", "LYD",
    "MAD", "MDL", "MGA", "MKD", "MMK", "MNT", "MOP", "MRU", "MUR", "MVR", "MWK", "MXN", "MYR",
    "MZN", "NAD", "NGN", "NIO", "NOK", "NPR", "NZD", "OMR", "PAB", "PEN", "PGK", "PHP", "PKR",
    "PLN", "PND", "PRB", "PYG", "QAR", "KIV", "RON", "RSD", "RUB", "RWF", "SAR", "SBD", "SCR",
    "SDG", "SEK", "SGD", "SHP", "SLL", "SLS", "SOS", "SRD", "SSP", "STN", "SYP", "SZL", "THB",
    "TJS", "TMT", "TND", "TOP", "TRY", "TTD", "TVD", "TWD", "TZS", "UAH", "UGX", "USD", "UYU",
    "UZS", "VES", "VND", "VUV", "WST", "CFA", "XAF", "XCD", "XOF", "CFP", "XPF", "YER", "ZAR",
    "ZMW",
};

// The words of the list from its index, or nullptr for the built-in codes.
const Cell* currency_list(std::uint32_t* count) {
    const Cell* list = currency_source ? currency_source() : nullptr;
    if (!list) {
        *count = builtin_currency_count;
        return nullptr;
    }
    memory::SeriesBuffer* b = memory::buffer_of(list->data2);
    *count = list->data1 < b->length() ? b->length() - list->data1 : 0;
    return b->cells() + list->data1;
}

}  // namespace

// ---------------------------------------------------------------------------
// The cell.

int digit(const Cell* value, int n) {
    const std::uint8_t b = digit_bytes(value)[(n - 1) >> 1];
    return (n & 1) ? b >> 4 : b & 0x0F;
}

int significant_digits(const Cell* value) { return significant(units_of(value)); }

bool zero_q(const Cell* value) {
    const std::uint8_t* b = digit_bytes(value);
    for (int i = 0; i < 11; ++i) {
        if (b[i]) return false;
    }
    return true;
}

int sign(const Cell* value) { return zero_q(value) ? 0 : get_sign(value) ? -1 : 1; }

Cell* make_at(Cell* out, bool negative, int currency, const std::uint8_t digits[11]) {
    *out = zero_cell();
    set_sign(out, negative);
    set_currency(out, currency);
    std::memcpy(digit_bytes(out), digits, 11);
    return out;
}

// ---------------------------------------------------------------------------
// Currencies.

int find_currency_code(std::string_view code) {
    std::uint32_t count;
    const Cell* words = currency_list(&count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const bool match = words ? word::is_any_word(words + i) && same_code(symbol::text(words[i].data2), code)
                                 : same_code(builtin_codes[i], code);
        if (match) return static_cast<int>(i) + 1;
    }
    return -1;
}

int find_currency(const Cell* word) {
    std::uint32_t count;
    const Cell* words = currency_list(&count);
    if (!words) return find_currency_code(symbol::text(word->data2));
    const std::uint32_t canonical = symbol::resolve(word->data2);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (word::is_any_word(words + i) && symbol::resolve(words[i].data2) == canonical) return static_cast<int>(i) + 1;
    }
    return -1;
}

Cell* currency_word(const Cell* value, Cell* out) {
    const int index = get_currency(value);
    std::uint32_t count;
    const Cell* words = currency_list(&count);
    if (index == 0 || static_cast<std::uint32_t>(index) > count) return none::make_at(out);
    if (!words) return word::load(builtin_codes[index - 1], out);
    *out = words[index - 1];
    out->set_type(Type::word);
    out->clear_new_line();
    return out;
}

void set_currency_source(CurrencySource source) { currency_source = source; }
void set_digits_source(DigitsSource source) { digits_source = source; }

// ---------------------------------------------------------------------------
// Conversions.

bool make_at_text(Cell* out, bool negative, std::string_view currency, std::string_view integer_text,
                  std::string_view fraction_text) {
    int index = 0;
    if (!currency.empty()) {
        index = find_currency_code(currency);
        if (index < 0) return false;
    }
    Units whole = 0;
    int count = 0;
    for (char c : integer_text) {
        if (c == '\'') continue;
        if (count == 0 && c == '0') continue;
        if (++count > integer_digits) return false;
        whole = whole * 10 + static_cast<unsigned>(c - '0');
    }
    Units fraction = 0;
    for (int i = 0; i < decimals; ++i) {
        const bool has = static_cast<std::size_t>(i) < fraction_text.size();
        fraction = fraction * 10 + (has ? static_cast<unsigned>(fraction_text[i] - '0') : 0);
    }
    *out = zero_cell();
    write(out, Amount{negative, whole * unit + fraction}, index);
    return true;
}

Cell* from_integer(Cell* out, std::int32_t n) {
    const auto magnitude = static_cast<Units>(n < 0 ? -static_cast<std::int64_t>(n) : n);
    *out = zero_cell();
    return write(out, Amount{n < 0, magnitude * unit}, 0);
}

Cell* from_float(Cell* out, double d, bool strict) {
    const double m = std::fabs(d);
    if (!std::isfinite(d) || m >= 1e17 || (m != 0.0 && m < 1e-5)) {
        const Cell number = float_::make_cell(d);
        fire_with_type(ErrorId::script_bad_make_arg, &number);
    }
    *out = zero_cell();
    if (m == 0.0) return out;
    int point, count;
    bool negative;
    const char* digits = dtoa::float_to_digits(d, 0, &point, &negative, &count, false);
    // d = 0.digits x 10^point: the digits are a count of 10^(point - count).
    if (strict && count - point > decimals) {
        const Cell number = float_::make_cell(d);
        fire_with_type(ErrorId::script_bad_make_arg, &number);
    }
    Units units = 0;
    const int shift = point - count + decimals;  // to 1/100000 units
    const int kept = shift >= 0 ? count : count + shift;
    for (int i = 0; i < kept; ++i) units = units * 10 + static_cast<unsigned>(digits[i] - '0');
    if (shift > 0) units *= power10(shift);
    return write(out, Amount{d < 0, units}, 0);
}

std::int32_t to_integer(const Cell* value) {
    const Amount a = amount_of(value);
    const Units bound = (a.negative ? Units{2147483648u} : Units{2147483647u}) * unit;
    if (a.units > bound) fire_type_limit(Type::integer);
    const auto whole = static_cast<std::int64_t>(a.units / unit);
    return static_cast<std::int32_t>(a.negative ? -whole : whole);
}

namespace {

// The digits as text: the integer part from its first non-zero digit ("0"
// when there is none), grouped by "'" in threes when asked, then "." and
// `count` decimals.
std::string digits_text(const Cell* value, bool grouping, int count) {
    std::string text;
    for (int n = 1; n <= integer_digits; ++n) {
        const int d = digit(value, n);
        if (text.empty() && d == 0 && n < integer_digits) continue;
        text.push_back(static_cast<char>('0' + d));
        if (grouping && n % 3 == 2 && n < integer_digits) text.push_back('\'');
    }
    if (count > 0) {
        text.push_back('.');
        for (int n = integer_digits + 1; n <= integer_digits + count; ++n) {
            text.push_back(static_cast<char>('0' + digit(value, n)));
        }
    }
    return text;
}

}  // namespace

double to_float(const Cell* value) {
    if (zero_q(value)) return 0.0;
    const std::string text = digits_text(value, false, decimals);
    int unread = 0;
    const double d = dtoa::text_to_float(text.data(), text.data() + text.size(), 0, &unread);
    if (unread != 0) {
        Cell datatype;
        registry::make_datatype(&datatype, Type::float_);
        fire(ErrorId::script_bad_make_arg, &datatype, value);
    }
    return get_sign(value) ? -d : d;
}

int form(const Cell* value, Cell* buffer, int part, bool all_decimals, bool grouping) {
    std::int32_t count = 2;
    if (digits_source && !digits_source(&count)) count = 2;
    if (all_decimals || count > decimals) count = decimals;
    std::string text = negative_q(value) ? "-" : "";
    if (get_currency(value) != 0) {
        Cell code;
        currency_word(value, &code);
        if (code.is(Type::word)) text += symbol::text(code.data2);
    }
    text += '$';
    text += digits_text(value, grouping, count < 1 ? 0 : count);
    string::append_bytes(buffer, text.data(), static_cast<std::int64_t>(text.size()));
    return part - static_cast<int>(text.size());
}

// ---------------------------------------------------------------------------
// Arithmetic.

namespace {

Amount add_amounts(Amount a, Amount b) {
    if (b.units == 0) return a;
    if (a.units == 0) return b;
    if (a.negative == b.negative) {
        const Units sum = a.units + b.units;
        if (sum >= limit) fire_type_limit(Type::money);
        return Amount{a.negative, sum};
    }
    // Mixed signs: the larger magnitude keeps its sign.
    if (a.units >= b.units) return Amount{a.negative, a.units - b.units};
    return Amount{b.negative, b.units - a.units};
}

Amount negated(Amount a) { return Amount{!a.negative, a.units}; }

Amount multiply_amounts(Amount a, Amount b) {
    if (a.units == 0) return a;
    if (b.units == 0) return b;
    if (significant(a.units) + significant(b.units) > 28) fire_type_limit(Type::money);
    // Both below 10^28 together, so the product fits: the extra five
    // decimals are dropped, not rounded.
    const Units product = a.units * b.units / unit;
    if (product >= limit) fire_type_limit(Type::money);
    return Amount{a.negative != b.negative, product};
}

Amount divide_amounts(Amount a, Amount b) {
    if (b.units == 0) fire(ErrorId::math_zero_divide);
    if (a.units == 0) return a;
    if (significant(a.units) - significant(b.units) + 6 > digit_count) fire_type_limit(Type::money);
    const Units quotient = a.units * unit / b.units;
    if (quotient >= limit) fire_type_limit(Type::money);
    return Amount{a.negative != b.negative, quotient};
}

// The remainder has the sign of a and never exceeds it, so it cannot
// overflow whatever the quotient would have been.
Amount remainder_amounts(Amount a, Amount b) {
    if (b.units == 0) fire(ErrorId::math_zero_divide);
    if (a.units == 0) return a;
    return Amount{a.negative, a.units % b.units};
}

// An operand of the arithmetic as money.
Cell operand(const Cell* value) {
    Cell m = zero_cell();
    switch (value->type()) {
        case Type::money: return *value;
        case Type::integer: from_integer(&m, integer::get(value)); break;
        case Type::float_:
        case Type::percent: from_float(&m, float_::get(value), false); break;
        default: integer::fire_invalid_type(value);
    }
    return m;
}

bool currencies_agree(const Cell* a, const Cell* b) {
    const int ca = get_currency(a);
    const int cb = get_currency(b);
    return ca == cb || ca == 0 || cb == 0;
}

}  // namespace

Cell* do_math(Cell* left, Cell* right, MathOp op) {
    const bool both = left->is(Type::money) && right->is(Type::money);
    if ((op == MathOp::multiply && both) ||
        ((op == MathOp::divide || op == MathOp::remainder) && right->is(Type::money) && !left->is(Type::money))) {
        integer::fire_invalid_type(left);
    }
    const Cell a = operand(left);
    const Cell b = operand(right);
    if (!currencies_agree(&a, &b)) fire(ErrorId::script_wrong_denom, left, right);
    const int currency = get_currency(&b) != 0 ? get_currency(&b) : get_currency(&a);
    const Amount x = amount_of(&a);
    const Amount y = amount_of(&b);
    Amount r;
    switch (op) {
        case MathOp::add: r = add_amounts(x, y); break;
        case MathOp::subtract: r = add_amounts(x, negated(y)); break;
        case MathOp::multiply: r = multiply_amounts(x, y); break;
        case MathOp::divide: r = divide_amounts(x, y); break;
        case MathOp::remainder: r = remainder_amounts(x, y); break;
        default: integer::fire_invalid_type(right);
    }
    write(left, r, currency);
    if (op == MathOp::divide && both) float_::make_at(left, to_float(left));
    return left;
}

// ---------------------------------------------------------------------------
// Actions.

namespace {

// The magnitudes of two amounts: -1, 0 or 1.
int compare_units(Units a, Units b) { return (a > b) - (a < b); }

// Two amounts: by sign first, then by magnitude (reversed when negative).
int compare_amounts(const Cell* a, const Cell* b) {
    const int sa = sign(a);
    const int sb = sign(b);
    if (sa != sb) return sa < sb ? -1 : 1;
    const int c = compare_units(units_of(a), units_of(b));
    return sa < 0 ? -c : c;
}

int compare_currency_words(const Cell* a, const Cell* b, CompareOp op) {
    if (get_currency(a) == get_currency(b)) return 0;
    if (get_currency(a) == 0) return -1;
    if (get_currency(b) == 0) return 1;
    Cell wa, wb;
    currency_word(a, &wa);
    currency_word(b, &wb);
    const auto words = registry::lookup<Action::compare>(Type::word);
    if (words) return words(&wa, &wb, op);
    return get_currency(a) < get_currency(b) ? -1 : 1;
}

int compare_money(Cell* value1, Cell* value2, CompareOp op) {
    if (op >= CompareOp::lesser && op <= CompareOp::greater_or_equal) {
        if (!currencies_agree(value1, value2)) fire(ErrorId::script_wrong_denom, value1, value2);
        return compare_amounts(value1, value2);
    }
    if (op == CompareOp::sort || op == CompareOp::sort_case) {
        const int c = compare_currency_words(value1, value2, op);
        return c != 0 ? c : compare_amounts(value1, value2);
    }
    const bool strict = op == CompareOp::strict_equal || op == CompareOp::same ||
                        (op == CompareOp::find && get_currency(value2) != 0);
    const bool agree = strict ? get_currency(value1) == get_currency(value2) : currencies_agree(value1, value2);
    if (!agree) return 1;
    return compare_amounts(value1, value2);
}

int compare(Cell* value1, Cell* value2, CompareOp op) {
    const bool exact_type = op == CompareOp::strict_equal || op == CompareOp::same || op == CompareOp::find;
    if (exact_type && !value2->is(Type::money)) return 1;
    Cell other = zero_cell();
    switch (value2->type()) {
        case Type::money: return compare_money(value1, value2, op);
        case Type::integer: from_integer(&other, integer::get(value2)); break;
        case Type::float_: {
            // Floats outside the money range order by their sign: a huge
            // one lies beyond every amount, a tiny non-zero one between
            // zero and the smallest amount.
            const double f = float_::get(value2);
            const double m = std::fabs(f);
            if (m != 0.0 && m < 1e-5) {
                const int s = sign(value1);
                return s != 0 ? s : (f > 0 ? -1 : 1);
            }
            if (m >= 1e17) return f > 0 ? -1 : 1;
            from_float(&other, f, true);
            break;
        }
        default: return not_comparable;
    }
    return compare_amounts(value1, &other);
}

// A draw from 0 to n.
int draw(bool secure, int n) { return random::uniform(secure, n + 1) - 1; }

Cell* random(Cell* value, bool seed, bool secure, bool) {
    if (seed) {
        random::seed(static_cast<std::int32_t>(value->data1 ^ value->data2 ^ value->data3 ^ (value->header & sign_mask)));
        return unset::make_at(value);
    }
    Cell drawn = *value;
    std::uint8_t* bytes = digit_bytes(&drawn);
    bool bounded = true;  // the digits drawn so far equal the value's
    bool started = false;
    for (int n = 1; n <= digit_count; ++n) {
        const int d = digit(value, n);
        if (!started && d == 0) continue;
        started = true;
        int r;
        if (!bounded) {
            r = draw(secure, 9);
        } else {
            // The value's own digit is kept only when two further draws
            // agree, so the bound itself comes out rarely.
            do {
                r = draw(secure, d);
            } while (r == d && random::next() % 1000 != random::next() % 1000);
            bounded = r == d;
        }
        std::uint8_t& b = bytes[(n - 1) >> 1];
        b = (n & 1) ? static_cast<std::uint8_t>((b & 0x0F) | (r << 4)) : static_cast<std::uint8_t>((b & 0xF0) | r);
    }
    *value = drawn;
    return value;
}

Cell* make_from_block(Cell* proto, Cell* spec) {
    memory::SeriesBuffer* b = memory::buffer_of(spec->data2);
    const std::uint32_t length = b->length();
    std::uint32_t at = spec->data1 < length ? spec->data1 : length;
    const std::uint32_t count = length - at;
    if (count < 1 || count > 3) fire_with_type(ErrorId::script_bad_make_arg, spec);
    Cell values[3];
    for (std::uint32_t k = 0; k < count; ++k) values[k] = b->cells()[at + k];
    std::uint32_t k = 0;
    int currency = 0;
    if (values[0].is(Type::word)) {
        currency = find_currency(&values[0]);
        if (currency < 0) fire_with_type(ErrorId::script_bad_make_arg, &values[0]);
        ++k;
    }
    if (k >= count) fire_with_type(ErrorId::script_bad_make_arg, spec);
    Cell result = zero_cell();
    const Cell& amount = values[k++];
    if (amount.is(Type::integer)) {
        from_integer(&result, integer::get(&amount));
        if (k < count) {
            const Cell& fraction = values[k++];
            if (!fraction.is(Type::integer) || integer::get(&fraction) < 0 || integer::get(&fraction) > 99999) {
                fire_with_type(ErrorId::script_bad_make_arg, &fraction);
            }
            Amount a = amount_of(&result);
            a.negative = integer::get(&amount) < 0;
            a.units += static_cast<Units>(integer::get(&fraction));
            write(&result, a, 0);
        }
    } else if (amount.is(Type::float_)) {
        from_float(&result, float_::get(&amount), true);
    } else {
        fire_with_type(ErrorId::script_bad_make_arg, &amount);
    }
    if (k != count) fire_with_type(ErrorId::script_bad_make_arg, &values[k]);
    set_currency(&result, currency);
    *proto = result;
    return proto;
}

bool is_text(Type t) {
    return t == Type::string || t == Type::file || t == Type::url || t == Type::tag || t == Type::email ||
           t == Type::ref;
}

Cell* from_text(Cell* proto, Cell* spec) {
    Cell text = *spec;
    const std::int32_t count = string::ks_length(&text);
    const std::uint8_t* chars = string::ks_head(&text);
    lexer::MoneyText m;
    Cell result;
    if (lexer::scan_money(chars, count, static_cast<int>(string::buffer(&text)->unit()), m) != 0 ||
        !make_at_text(&result, m.negative, m.currency, m.integer_digits, m.fraction_digits)) {
        fire_with_type(ErrorId::script_bad_to_arg, spec);
    }
    *proto = result;
    return proto;
}

Cell* to(Cell* proto, Cell* spec, Type) {
    Cell result = zero_cell();
    switch (spec->type()) {
        case Type::money: return cell::copy(spec, proto);
        case Type::integer: from_integer(&result, integer::get(spec)); break;
        case Type::float_: from_float(&result, float_::get(spec), true); break;
        default:
            if (!is_text(spec->type())) fire_with_type(ErrorId::script_bad_to_arg, spec);
            return from_text(proto, spec);
    }
    *proto = result;
    return proto;
}

Cell* make(Cell* proto, Cell* spec, Type type) {
    if (spec->is(Type::word)) {
        const int currency = find_currency(spec);
        if (currency < 0) fire_with_type(ErrorId::script_bad_make_arg, spec);
        *proto = zero_cell();
        set_currency(proto, currency);
        return proto;
    }
    if (spec->is(Type::block)) return make_from_block(proto, spec);
    return to(proto, spec, type);
}

int form_action(Cell* value, Cell* buffer, Cell*, int part) { return form(value, buffer, part, false, true); }

int mold(Cell* value, Cell* buffer, bool, bool all, bool, Cell*, int part, int) {
    return form(value, buffer, part, all, false);
}

// A field read is a word, none or a money! copy, none of which names a
// series; the caller copies it at once.
// FIXME: push on the argument stack once it exists.
Cell path_result;

// 1 (code) or 2 (amount); -1 for anything else.
int field_of(const Cell* element) {
    if (element->is(Type::integer)) {
        const std::int32_t n = integer::get(element);
        return n == 1 || n == 2 ? n : -1;
    }
    if (element->is(Type::word)) {
        if (words::is(element, words::Sym::code)) return 1;
        if (words::is(element, words::Sym::amount)) return 2;
    }
    return -1;
}

Cell* field_value(const Cell* value, int field, Cell* out) {
    if (field == 1) return currency_word(value, out);
    const Cell copy = *value;
    *out = copy;
    set_currency(out, 0);
    return out;
}

Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, Cell*, Cell*, int, bool, bool, bool,
                bool) {
    if (value) fire(ErrorId::script_bad_path_set, path, element);
    const int field = field_of(element);
    if (field < 0) fire(ErrorId::script_invalid_path, path, element);
    return field_value(parent, field, &path_result);
}

Cell* absolute(Cell* value) {
    set_sign(value, false);
    return value;
}

Cell* add(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::add); }
Cell* divide(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::divide); }
Cell* multiply(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::multiply); }

Cell* negate(Cell* number) {
    set_sign(number, !get_sign(number));
    return number;
}

Cell* remainder(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::remainder); }

// The scale of round/to as a positive count of units (0: leave alone).
Units round_scale(const Cell* scale) {
    if (!scale) return unit;
    Cell m = zero_cell();
    switch (scale->type()) {
        case Type::money: m = *scale; break;
        case Type::integer: from_integer(&m, integer::get(scale)); break;
        case Type::float_: from_float(&m, float_::get(scale), true); break;
        default: integer::fire_not_related("round", scale->type());
    }
    return units_of(&m);
}

// v rounded to a multiple of `step` (both magnitudes); r = v mod step.
// A tie is a remainder of exactly half the step.
Units round_units(Units v, Units step, bool negative, const RoundMode& mode) {
    const Units r = v % step;
    if (r == 0) return v;
    const Units down = v - r;
    const Units up = v + (step - r);
    const bool tie = 2 * r == step;
    const Units nearest = r < step - r ? down : up;
    // toward +infinity for a positive value is away from zero
    if (mode.down) return down;
    if (mode.floor) return negative ? up : down;
    if (mode.ceiling) return negative ? down : up;
    if (mode.even) return tie ? ((down / step) % 2 == 0 ? down : up) : nearest;
    if (mode.half_down) return tie ? down : nearest;
    if (mode.half_ceiling) return tie ? (negative ? down : up) : nearest;
    return nearest;
}

Cell* round(Cell* n, Cell* scale, bool even, bool down, bool half_down, bool floor, bool ceiling,
            bool half_ceiling) {
    if (zero_q(n)) return n;
    const Units step = round_scale(scale);
    if (step == 0) return n;
    const RoundMode mode{even, down, half_down, floor, ceiling, half_ceiling};
    const Amount a = amount_of(n);
    return write(n, Amount{a.negative, round_units(a.units, step, a.negative, mode)}, get_currency(n));
}

Cell* subtract(Cell* value1, Cell* value2) { return do_math(value1, value2, MathOp::subtract); }

bool even_q(Cell* number) { return digit(number, integer_digits) % 2 == 0; }
bool odd_q(Cell* number) { return digit(number, integer_digits) % 2 != 0; }

Cell* pick(Cell* series, int index, Cell* index_arg) {
    const Cell n = index_arg ? *index_arg : integer::make_cell(index);
    const int field = field_of(&n);
    if (field < 0) fire(ErrorId::script_out_of_range, &n);
    const Cell value = *series;
    return field_value(&value, field, series);
}

constexpr ActionRow actions{
    .make = make,
    .random = random,
    .to = to,
    .form = form_action,
    .mold = mold,
    .eval_path = eval_path,
    .compare = compare,
    .absolute = absolute,
    .add = add,
    .divide = divide,
    .multiply = multiply,
    .negate = negate,
    .remainder = remainder,
    .round = round,
    .subtract = subtract,
    .even_q = even_q,
    .odd_q = odd_q,
    .pick = pick,
};

}  // namespace

void init() { registry::register_type(Type::money, registry::no_parent, "money!", actions); }

}  // namespace kiv::money
