#include <gtest/gtest.h>

#include "runtime/cell.h"

namespace kiv {

TEST(Cell, RetypingKeepsFlags) {
    Cell c{cell_flag::new_line | static_cast<std::uint32_t>(Type::integer), 5, 0, 0};
    c.set_type(Type::float_);
    EXPECT_EQ(c.type(), Type::float_);
    EXPECT_TRUE(c.header & cell_flag::new_line);
    EXPECT_EQ(cell::copy(&c, &c), &c);
}

}  // namespace kiv
