#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "runtime/degree.h"

namespace kiv {

using math::TrigMode;

TEST(Degrees, ReduceByPeriodAndSymmetry) {
    struct Case { double degrees; TrigMode mode; double reduced; };
    const Case cases[] = {
        {540, TrigMode::sine, 0},        {-270, TrigMode::sine, 90},
        {135, TrigMode::tangent, -45},   {135, TrigMode::cosine, 135},
        {-135, TrigMode::tangent, 45},   {-100, TrigMode::sine, -80},
        {-200, TrigMode::cosine, 160},   {725, TrigMode::sine, 5},
        {90, TrigMode::tangent, 90},     {-720, TrigMode::sine, -0.0},
        {180, TrigMode::cosine, 180},    {270, TrigMode::cosine, -90},
    };
    for (const Case& c : cases) {
        double expected = c.reduced * std::numbers::pi / 180.0;
        EXPECT_EQ(math::degrees_to_radians(c.degrees, c.mode), expected)
            << c.degrees << " mode " << static_cast<int>(c.mode);
    }
}

TEST(Degrees, MultiplesOf180GiveExactZeros) {
    for (double d : {180.0, 360.0, 540.0, -180.0, -900.0}) {
        EXPECT_EQ(std::sin(math::degrees_to_radians(d, TrigMode::sine)), 0.0) << d;
        EXPECT_EQ(std::tan(math::degrees_to_radians(d, TrigMode::tangent)), 0.0) << d;
    }
    EXPECT_TRUE(std::isnan(math::degrees_to_radians(NAN, TrigMode::sine)));
    EXPECT_TRUE(std::isnan(math::degrees_to_radians(INFINITY, TrigMode::cosine)));
}

}  // namespace kiv
