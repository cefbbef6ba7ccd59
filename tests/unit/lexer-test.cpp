#include <gtest/gtest.h>

#include "tests/unit/lexer-harness.h"

namespace kiv::lexer {

TEST(Lexer, Smoke) {
    EXPECT_EQ(test::load("a b: [1 \"x\"] 'c/d"), "a b: [1 \"x\"] 'c/d");
}

}  // namespace kiv::lexer
