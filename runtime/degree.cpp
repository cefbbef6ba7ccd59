#include "runtime/degree.h"

#include <cmath>
#include <numbers>

namespace kiv::math {

double degrees_to_radians(double x, TrigMode mode) {
    x = std::fmod(x, 360.0);  // keeps the sign of x
    if (x > 180.0 || x < -180.0) x = x >= 0.0 ? x - 360.0 : x + 360.0;
    if (x > 90.0 || x < -90.0) {
        switch (mode) {
            case TrigMode::tangent: x = x >= 0.0 ? x - 180.0 : x + 180.0; break;  // period 180
            case TrigMode::sine: x = x >= 0.0 ? 180.0 - x : -180.0 - x; break;    // symmetric about ±90
            case TrigMode::cosine: break;
        }
    }
    // Multiplied first, then divided: the order is part of the result's bits.
    return x * std::numbers::pi / 180.0;
}

}  // namespace kiv::math
