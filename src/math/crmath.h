// The plug-in's sin, cos and atan2: correctly rounded (round to nearest) for every
// double argument, the same bits on every compiler, C library and processor, so that
// every build truncates the same computed coordinates to the same pixels. The plug-in
// calls these and never the C library's trigonometry.
//
// Each function first evaluates with a known error bound and returns when the bound
// shows on which side of a rounding boundary the exact value lies (Ziv's rounding
// test): sin and cos from a table and short series (about 2^-64), then, in about one
// call in a hundred, from double-double polynomials (2^-80); atan2 likewise. In the
// rare case that still cannot tell, each evaluates again in 288-bit fixed point, far
// beyond the closest cases known for doubles. Arguments are reduced with Cody-Waite's
// pi/2 in pieces up to 2^30 and with the bits of 2/pi (Payne-Hanek) beyond.
//
// Only round-to-nearest is supported, the mode the plug-in runs in; special values
// follow C99's Annex F (sin(-0) = -0, sin(inf) = NaN, atan2's signed zeros and
// infinities).
#pragma once

namespace crmath {

double sin(double x);
double cos(double x);
// Both at once, sharing the argument reduction: the same results as sin and cos.
void sincos(double x, double* sinOut, double* cosOut);
double atan2(double y, double x);

}  // namespace crmath
