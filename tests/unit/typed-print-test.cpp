#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "runtime/typed-print.h"

namespace kiv {

namespace {

std::string captured;

void capture(const char* bytes, std::size_t count) { captured.append(bytes, count); }

std::string printed(std::initializer_list<TypedItem> items, bool line = false) {
    captured.clear();
    console_output::set_typed_print_writer(capture);
    if (line)
        print_line(items);
    else
        console_output::print_typed_list(items);
    console_output::set_typed_print_writer(nullptr);
    return captured;
}

}  // namespace

TEST(TypedPrint, EachItemByItsCode) {
    struct Case { TypedItem item; const char* text; };
    TypedItem unknown = TypedItem::of_hex(0xABC);
    unknown.code = 9;
    const Case cases[] = {
        {TypedItem::of_logic(2), "true"},
        {TypedItem::of_logic(-1), "true"},
        {TypedItem::of_logic(0), "false"},
        {TypedItem::of_integer(0), "0"},
        {TypedItem::of_integer(-2147483647 - 1), "-2147483648"},
        {TypedItem::of_integer(2147483647), "2147483647"},
        {TypedItem::of_byte('A'), "A"},
        {TypedItem::of_byte(0), ""},
        {TypedItem::of_float32(0.1f), "0.1"},
        {TypedItem::of_float32(1.0f / 3.0f), "0.3333333"},
        {TypedItem::of_float64(0.1), "0.1"},
        {TypedItem::of_float64(1.0 / 3.0), "0.3333333333333333"},
        {TypedItem::of_float64(1e300), "1e+300"},
        {TypedItem::of_float64(-0.0), "-0"},
        {TypedItem::of_text("out of memory"), "out of memory"},
        {TypedItem::of_text(""), ""},
        {TypedItem::of_hex(255), "000000FF"},
        {TypedItem::of_hex(0xDEADBEEF), "DEADBEEF"},
        {unknown, "00000ABC"},
    };
    for (const Case& c : cases) EXPECT_EQ(printed({c.item}), c.text) << "code " << c.item.code;
}

TEST(TypedPrint, ItemsFollowEachOtherAndALineEnds) {
    EXPECT_EQ(printed({TypedItem::of_text("n="), TypedItem::of_integer(-7), TypedItem::of_byte(' '),
                       TypedItem::of_logic(1)}),
              "n=-7 true");
    EXPECT_EQ(printed({TypedItem::of_text("out of memory")}, true), "out of memory\n");
}

}  // namespace kiv
