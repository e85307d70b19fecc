// The slow, exact path of crmath: sin, cos and atan2 evaluated in 288-bit fixed point
// and rounded once to double. Taken only when the double-double path cannot decide the
// rounding (a few calls in ten million) or for arguments it does not cover: sin and cos
// of |x| >= 2^30 or within 2^-24 of a multiple of pi/2, atan2 of extreme magnitudes.
// The error stays below 2^-250 of the result, far inside the closest cases known for
// doubles (a reduced argument of about 2^-61, results within 2^-120 of a midpoint), so
// the rounding is always the right one. Internal to src/math.
#pragma once

#include <stdint.h>

namespace crmath_detail {

// |x| >= 2^-27, finite.
double exactSin(double x);
double exactCos(double x);
// x and y finite and nonzero.
double exactAtan2(double y, double x);

// 2^e for -1074 <= e <= 1023, exactly.
double pow2(int e);

}  // namespace crmath_detail
