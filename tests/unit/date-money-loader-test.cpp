// The lexer's date and money loaders and map literals: each literal loads
// and molds back, and the mold loads again to the same value; malformed
// ones raise the invalid error of their datatype.
#include <gtest/gtest.h>

#include <string>

#include "runtime/datatypes/date.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/percent.h"
#include "runtime/datatypes/time.h"
#include "runtime/evaluator/lexer-date-money.h"
#include "tests/unit/block-support.h"

namespace kiv {

namespace {

class DateMoneyLoaders : public ::testing::Test {
protected:
    void SetUp() override {
        test::start_blocks();
        float_::init();
        percent::init();
        time::init();
        date::init();
        money::init();
        map::init();
    }
    void TearDown() override { collector::set_active(false); }
};

// Plain words and decimal integers, for the map literals of these tests.
void load_word(lexer::Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    const bool set = e > s && e[-1] == ':';
    lx.type = static_cast<int>(set ? Type::set_word : Type::word);
    if (!load) return;
    Cell* out = lexer::push(lx);
    word::load(std::string(s, set ? e - 1 : e).c_str(), out);
    if (set) out->set_type(Type::set_word);
}

void load_integer(lexer::Lexer& lx, const std::uint8_t* s, const std::uint8_t* e, std::uint32_t, bool load) {
    lx.type = static_cast<int>(Type::integer);
    if (load) *lexer::push(lx) = test::integer(std::stoi(std::string(s, e)));
}

bool make_container(lexer::Lexer&, int type, Cell* items, int count, Cell* out) {
    return type == static_cast<int>(Type::map) && map::make_from_items(items, count, out);
}

const lexer::Hooks& hooks() {
    static const lexer::Hooks h = [] {
        lexer::Hooks made = lexer::date_money_hooks();
        made.loaders[static_cast<int>(lexer::Kind::word)] = load_word;
        made.loaders[static_cast<int>(lexer::Kind::integer)] = load_integer;
        made.make_container = make_container;
        return made;
    }();
    return h;
}

// The values a text loads to, molded and separated by spaces, or the
// datatype of the invalid error it raises.
std::string load(const std::string& text, std::vector<Cell>* values = nullptr) {
    try {
        lexer::Scan scan(hooks(), reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                         lexer::Mode::load, false);
        scan.run();
        std::string out;
        for (int k = 0; k < scan.value_count(); ++k) {
            if (!out.empty()) out += ' ';
            out += test::mold(scan.values()[k]);
            if (values) values->push_back(scan.values()[k]);
        }
        return out;
    } catch (const lexer::SyntaxError& e) {
        return "invalid " + std::string(registry::entry(static_cast<Type>(e.datatype)).name);
    }
}

}  // namespace

TEST_F(DateMoneyLoaders, LiteralsLoadAndMoldBack) {
    // `exact`: the mold keeps every digit, so it loads to an equal value.
    struct Case { const char* text; const char* molded; bool exact = true; };
    const Case cases[] = {
        {"1-Jan-2000", "1-Jan-2000"},
        {"2000-01-01", "1-Jan-2000"},
        {"1/1/2000", "1-Jan-2000"},
        {"2000-W01-1", "3-Jan-2000"},
        {"2000-032", "1-Feb-2000"},
        {"20000101T120000Z", "1-Jan-2000/12:00:00"},
        {"1-1-49", "1-Jan-2049"},
        {"1-1-50", "1-Jan-1950"},
        {"29-feb-2000", "29-Feb-2000"},
        {"5-March-2024/14:30+5:30", "5-Mar-2024/14:30:00+05:30"},
        {"2024-03-05T14:30:15.25-07:00", "5-Mar-2024/14:30:15.25-07:00"},
        {"1/Jan/-0044", "1/Jan/-0044"},
        {"$1.23", "$1.23"},
        {"USD$1", "USD$1.00"},
        {"-eur$1'234.5", "-EUR$1234.50"},
        {"$0.00001", "$0.00", false},
        {"$0", "$0.00"},
        {"$00012", "$12.00"},
        {"$99999999999999999.99999", "$99999999999999999.99", false},
        {"#[a 1 b 2]", "#[\n    a: 1\n    b: 2\n]"},
        {"#[]", "#[]"},
        {"#[1-Jan-2000 $1 USD$2 3]", "#[\n    1-Jan-2000 $1.00\n    USD$2.00 3\n]"},
    };
    for (const Case& c : cases) {
        std::vector<Cell> first;
        EXPECT_EQ(load(c.text, &first), c.molded) << c.text;
        // The molded text loads to an equal value.
        std::vector<Cell> again;
        EXPECT_EQ(load(c.molded, &again), c.molded) << c.text;
        if (c.exact && first.size() == 1 && again.size() == 1 && !first[0].is(Type::map)) {
            EXPECT_EQ(test::compare(first[0], again[0], CompareOp::strict_equal), 0) << c.text;
        }
    }
}

TEST_F(DateMoneyLoaders, MalformedLiteralsRaiseTheirInvalidError) {
    struct Case { const char* text; const char* error; };
    const Case cases[] = {
        {"29-Feb-2001", "invalid date!"},
        {"32-Jan-2000", "invalid date!"},
        {"1-13-2000", "invalid date!"},
        {"1-Jan-2000/24:00", "invalid date!"},
        {"1-Jan-2000/10:00+16:00", "invalid date!"},
        {"2001-366", "invalid date!"},
        {"$1.123456", "invalid money!"},
        {"$'1", "invalid money!"},
        {"$1''0", "invalid money!"},
        {"QQQ$1", "invalid money!"},
        {"$123456789012345678", "invalid money!"},
        {"#[a]", "invalid map!"},
        {"#[#[a 1] 2]", "invalid map!"},
    };
    for (const Case& c : cases) EXPECT_EQ(load(c.text), c.error) << c.text;
}

}  // namespace kiv
