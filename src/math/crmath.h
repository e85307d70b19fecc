// The plug-in's sin, cos and atan2: correctly rounded (round to nearest) for every
// double argument, the same bits on every compiler, C library and processor, so that
// every build truncates the same computed coordinates to the same pixels. The plug-in
// calls these and never the C library's trigonometry.
//
// Each function first evaluates in double-double arithmetic with a known error bound
// and returns when the bound shows on which side of a rounding boundary the exact
// value lies (Ziv's rounding test); in the rare case it cannot tell, it evaluates
// again in 288-bit fixed point, far beyond the closest cases known for doubles.
// Arguments are reduced with Cody-Waite's three-part pi/2 up to 2^30 and with the
// bits of 2/pi (Payne-Hanek) beyond.
//
// Only round-to-nearest is supported, the mode the plug-in runs in; special values
// follow C99's Annex F (sin(-0) = -0, sin(inf) = NaN, atan2's signed zeros and
// infinities).
#pragma once

namespace crmath {

double sin(double x);
double cos(double x);
double atan2(double y, double x);

}  // namespace crmath
