#include <gtest/gtest.h>

#include <cstring>

#include "runtime/cycles.h"
#include "runtime/fire.h"

namespace kiv {

TEST(Cycles, TheThousandthLevelFiresTooDeepAndEmptiesTheStack) {
    cycles::reset();
    for (NodeId n = 1; n < cycles::capacity; ++n) cycles::push(n);
    EXPECT_EQ(cycles::depth(), 999u);
    try {
        cycles::push(1000);
        ADD_FAILURE() << "no error";
    } catch (const KivError& e) {
        EXPECT_EQ(e.id, ErrorId::internal_too_deep);
    }
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST(Cycles, AWalkLeftByAnErrorRestoresTheStack) {
    cycles::reset();
    cycles::push(5);
    try {
        cycles::Guard guard;
        cycles::push(6);
        cycles::push(7);
        fire(ErrorId::script_invalid_arg);
    } catch (const KivError&) {
    }
    EXPECT_EQ(cycles::depth(), 1u);
    EXPECT_TRUE(cycles::find(5));
    EXPECT_FALSE(cycles::find(6));
    cycles::pop_n(5);
    EXPECT_EQ(cycles::depth(), 0u);
    cycles::pop();
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST(Cycles, MarkersReplaceValuesAlreadyBeingWalked) {
    auto cell = [](Type t, NodeId context, NodeId series) {
        return Cell{static_cast<std::uint32_t>(t), context, series, 0};
    };
    struct Case {
        Cell value;
        bool mold;
        const char* marker;
        std::int32_t remaining;  // of 10
    } cases[] = {
        {cell(Type::block, 0, 40), true, "[...]", 5},
        {cell(Type::hash, 0, 40), true, "[...]", 5},
        {cell(Type::paren, 0, 40), true, "(...)", 5},
        {cell(Type::map, 0, 40), true, "#[...]", 4},
        {cell(Type::object, 40, 99), true, "make object! [...]", -8},
        {cell(Type::set_path, 0, 40), true, "...", 7},
        {cell(Type::object, 40, 99), false, "...", 7},
        {cell(Type::block, 0, 40), false, "...", 7},
        {cell(Type::block, 0, 41), true, nullptr, 10},
        {cell(Type::object, 99, 40), true, nullptr, 10},
    };
    cycles::reset();
    cycles::push(40);
    for (const Case& c : cases) {
        std::int32_t remaining = 10;
        const char* marker = cycles::detect(&c.value, c.mold, &remaining);
        if (c.marker) {
            ASSERT_NE(marker, nullptr) << c.marker;
            EXPECT_STREQ(marker, c.marker);
        } else {
            EXPECT_EQ(marker, nullptr);
        }
        EXPECT_EQ(remaining, c.remaining) << (c.marker ? c.marker : "none");
    }
    cycles::reset();
}

}  // namespace kiv
