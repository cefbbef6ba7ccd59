// The lexer's date and money loaders.
#include "runtime/evaluator/lexer-date-money.h"

#include "runtime/datatypes/date.h"
#include "runtime/datatypes/money.h"
#include "runtime/evaluator/lexer-numbers.h"

namespace kiv::lexer {

namespace {

constexpr int type_id(Type t) { return static_cast<int>(t); }

// Copies a made value into a new output cell, keeping the line-break mark
// that `push` gave it.
void push_value(Lexer& lx, const Cell& value) {
    Cell* out = push(lx);
    const std::uint32_t line_flag = out->header & cell_flag::new_line;
    *out = value;
    out->header |= line_flag;
}

}  // namespace

namespace load {

void date(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    Date d;
    if (!read_date(s, e, d)) throw_error(lx, s, e, type_id(Type::date));
    lx.type = type_id(Type::date);
    if (!load) return;
    Cell value;
    date::make_at_zone(&value, d.year, d.month, d.day, d.seconds, d.zone_minutes / 60, d.zone_minutes % 60,
                       d.has_time);
    push_value(lx, value);
}

void money(Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    MoneyText m;
    Cell value = money::zero_cell();
    if (!read_money(s, e, m) ||
        !money::make_at_text(&value, m.negative, m.currency, m.integer_digits, m.fraction_digits)) {
        throw_error(lx, s, e, type_id(Type::money));
    }
    lx.type = type_id(Type::money);
    if (load) push_value(lx, value);
}

}  // namespace load

namespace {

Hooks make_date_money_hooks() {
    Hooks h = checking_hooks;
    h.loaders[static_cast<int>(Kind::date)] = load::date;
    h.loaders[static_cast<int>(Kind::money)] = load::money;
    return h;
}

}  // namespace

const Hooks& date_money_hooks() {
    static const Hooks hooks = make_date_money_hooks();
    return hooks;
}

}  // namespace kiv::lexer
