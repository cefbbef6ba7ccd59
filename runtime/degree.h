// Degree reduction for sine, cosine and tangent: the angle is folded into a
// small range by the function's period and symmetry before it becomes
// radians, so that multiples of 90 and 180 degrees give exact results (the
// sine of 180 degrees is exactly 0).
#pragma once

namespace kiv::math {

enum class TrigMode : int { tangent = 0, cosine = 1, sine = 2 };

// Radians for an angle in degrees, reduced for the given function.
double degrees_to_radians(double degrees, TrigMode mode);

}  // namespace kiv::math
