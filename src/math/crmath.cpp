// The fast paths of crmath and its special cases (see crmath.h). Everything in here is
// plain IEEE double arithmetic whose every rounding is known; the error bounds below
// are what the rounding test relies on, with a wide margin.
#include "math/crmath.h"

#include <cmath>  // std::fabs, std::signbit, std::copysign: no trigonometry

#include "math/crmath_exact.h"
#include "math/crmath_tables.h"
#include "math/double_double.h"

namespace crmath {

namespace {

using namespace crmath_detail;

DD ddOf(const double (&c)[2]) { return {c[0], c[1]}; }

// Ziv's rounding test. The exact value lies within |v| * 2^-bound of v = hi + lo,
// with the bound at least twice the real error: if hi + lo plus and minus that much
// round to the same double, so does the exact value (rounding is monotonic), and that
// double is returned. Adding err to lo first loses only about 2^-53 |lo|, far below err.
inline bool roundsTo(DD v, double relativeError, double* out) {
  const double err = std::fabs(v.hi) * relativeError;
  const double up = v.hi + (v.lo + err);
  const double down = v.hi + (v.lo - err);
  if (up != down) return false;
  *out = up;
  return true;
}

// sin r and cos r for |r| <= pi/4 (plus the little a rounded quotient adds), r as a
// double-double. With u = r^2, sin r = r (1 + u (c3 + u (c5 + u (c7 + u T)))) and
// cos r = 1 + u (c2 + u (c4 + u (c6 + u (c8 + u T')))): the leading coefficients in
// double-double, the tails T (from 1/9!) and T' (from 1/10!) in double, where their
// rounding weighs under 2^-74 of the result. Truncation after r^23 and r^22 is below
// 2^-86. Each double-double step adds about 2^-104: the whole stays below 2^-73.
DD sinPoly(DD r) {
  const DD u = mul(r, r);
  double t = kInvFactorial[23];
  for (int n = 21; n >= 9; n -= 2) t = kInvFactorial[n] + u.hi * t;
  DD s = add(ddOf(kInvFactorialDd[7]), u.hi * t);
  s = add(ddOf(kInvFactorialDd[5]), mul(u, s));
  s = add(ddOf(kInvFactorialDd[3]), mul(u, s));
  return add(r, mul(r, mul(u, s)));
}

DD cosPoly(DD r) {
  const DD u = mul(r, r);
  double t = kInvFactorial[22];
  for (int n = 20; n >= 10; n -= 2) t = kInvFactorial[n] + u.hi * t;
  DD c = add(ddOf(kInvFactorialDd[8]), u.hi * t);
  c = add(ddOf(kInvFactorialDd[6]), mul(u, c));
  c = add(ddOf(kInvFactorialDd[4]), mul(u, c));
  c = add(ddOf(kInvFactorialDd[2]), mul(u, c));
  return add(mul(u, c), 1.0);
}

// Cody-Waite: r = x - k pi/2 with pi/2 in three doubles (about 160 bits) and each
// product k C split exactly by Dekker's method, for |x| < 2^30 (|k| < 2^30). x - k C1
// is exact by Sterbenz's lemma (k C1 is within a factor of two of x); the remaining
// terms are summed in double-double, so r carries an absolute error below 2^-100
// (the pi/2 constants contribute under 2^-128). That is relative 2^-76 while
// |r| >= 2^-24; closer to a multiple of pi/2, the exact path takes over.
bool reduceFast(double x, DD* r, unsigned* quadrant) {
  if (std::fabs(x) <= 0x1.921fb54442d18p-1) {  // pi/4 rounded
    *r = {x, 0.0};
    *quadrant = 0;
    return true;
  }
  const double kd = x * kTwoOverPi;
  const int ki = static_cast<int>(kd + (kd >= 0 ? 0.5 : -0.5));
  const double k = ki;
  const DD p1 = twoProd(k, kPiOver2[0]);
  const DD p2 = twoProd(k, kPiOver2[1]);
  const double terms[4] = {-p1.lo, -p2.hi, -p2.lo, -(k * kPiOver2[2])};
  double hi = x - p1.hi;
  double lo = 0.0;
  for (double term : terms) {
    const DD s = twoSum(hi, term);
    hi = s.hi;
    lo += s.lo;
  }
  *r = fastTwoSum(hi, lo);
  if (std::fabs(r->hi) < 0x1p-24) return false;
  *quadrant = static_cast<unsigned>(ki) & 3u;
  return true;
}

const double kFastLimit = 0x1p30;
const double kSinCosBound = 0x1p-68;
const double kAtanBound = 0x1p-76;

// The special values of atan2 (NaN, zeros, infinities), C99's Annex F.
const double kPi = 0x1.921fb54442d18p+1;
const double kPiOver2Rounded = 0x1.921fb54442d18p+0;
const double kPiOver4Rounded = 0x1.921fb54442d18p-1;
const double kThreePiOver4Rounded = 0x1.2d97c7f3321d2p+1;

// atan(s) for |s| <= 2^-7: s + s u (-1/3 + u P(u)) with u = s^2, the -1/3 in
// double-double and u P(u) (under 2^-16) in double; the first term left out,
// s^15 / 15, is below 2^-98 of s.
DD atanSmall(DD s) {
  const DD u = mul(s, s);
  const double h = u.hi;
  const double tail = h * (1.0 / 5 - h * (1.0 / 7 - h * (1.0 / 9 - h * (1.0 / 11 - h / 13))));
  const DD q = add(DD{-0x1.5555555555555p-2, -0x1.5555555555555p-56}, tail);
  return add(s, mul(mul(s, u), q));
}

// The double-double path for finite nonzero x and y within 2^±500 and a quotient
// t = min / max >= 2^-25: atan t = atan(i/64) + atan((t - c) / (1 + t c)), c = i/64
// the nearest, from a table, which leaves |s| <= 2^-7. About fifteen double-double
// operations of 2^-104 each and the tables' 2^-106: well below 2^-90 in all, the
// reflections pi/2 - a and pi - a never cancelling (a <= pi/2 <= their result).
bool atan2Fast(double y, double x, double* out) {
  const double ax = std::fabs(x), ay = std::fabs(y);
  if (!(ax >= 0x1p-500 && ax <= 0x1p500 && ay >= 0x1p-500 && ay <= 0x1p500)) return false;
  const bool swapped = ay > ax;
  const double num = swapped ? ax : ay;
  const double den = swapped ? ay : ax;
  const double th = num / den;
  if (th < 0x1p-25) return false;
  // t = th + tl: num - th den is exact (Sterbenz, then the exact product's tail).
  const DD p = twoProd(th, den);
  const double tl = ((num - p.hi) - p.lo) / den;
  const DD t = fastTwoSum(th, tl);
  const int i = static_cast<int>(th * 64 + 0.5);
  const double c = i / 64.0;
  const DD numerator = twoSum(th - c, tl);  // th - c exact: c/2 <= th <= 2c or c = 0
  const DD denominator = add(mul(t, c), 1.0);
  DD a = add(ddOf(kAtanTableDd[i]), atanSmall(div(numerator, denominator)));
  if (swapped) a = add(ddOf(kPiOver2Dd), neg(a));
  if (x < 0) a = add(ddOf(kPiDd), neg(a));
  if (y < 0) a = neg(a);
  return roundsTo(a, kAtanBound, out);
}

}  // namespace

// sin x = x for |x| < 2^-26: x - sin x < |x|^3 / 6 < |x| 2^-54, under half the gap
// below |x| even when |x| is a power of two. Signed zeros pass through.
double sin(double x) {
  if (!(std::fabs(x) <= 0x1.fffffffffffffp+1023)) return x - x;  // NaN, infinity: NaN
  if (std::fabs(x) < 0x1p-26) return x;
  if (std::fabs(x) < kFastLimit) {
    DD r;
    unsigned q;
    if (reduceFast(x, &r, &q)) {
      DD v = (q & 1u) ? cosPoly(r) : sinPoly(r);
      if (q & 2u) v = neg(v);
      double result;
      if (roundsTo(v, kSinCosBound, &result)) return result;
    }
  }
  return exactSin(x);
}

// cos x = 1 for |x| < 2^-27: 1 - cos x < x^2 / 2 < 2^-55, under half the gap below 1.
double cos(double x) {
  if (!(std::fabs(x) <= 0x1.fffffffffffffp+1023)) return x - x;
  if (std::fabs(x) < 0x1p-27) return 1.0;
  if (std::fabs(x) < kFastLimit) {
    DD r;
    unsigned q;
    if (reduceFast(x, &r, &q)) {
      DD v = (q & 1u) ? sinPoly(r) : cosPoly(r);
      if (((q + 1) & 2u)) v = neg(v);  // quadrants 1 and 2 are negative
      double result;
      if (roundsTo(v, kSinCosBound, &result)) return result;
    }
  }
  return exactCos(x);
}

double atan2(double y, double x) {
  if (x != x || y != y) return x + y;
  const bool yNegative = std::signbit(y);
  if (y == 0) {
    if (std::signbit(x)) return yNegative ? -kPi : kPi;  // x < 0 or x = -0
    return y;
  }
  if (x == 0) return yNegative ? -kPiOver2Rounded : kPiOver2Rounded;
  const bool xInfinite = std::fabs(x) > 0x1.fffffffffffffp+1023;
  if (std::fabs(y) > 0x1.fffffffffffffp+1023) {
    const double a = xInfinite ? (x < 0 ? kThreePiOver4Rounded : kPiOver4Rounded) : kPiOver2Rounded;
    return yNegative ? -a : a;
  }
  if (xInfinite) return x > 0 ? std::copysign(0.0, y) : (yNegative ? -kPi : kPi);
  double result;
  if (atan2Fast(y, x, &result)) return result;
  return exactAtan2(y, x);
}

}  // namespace crmath
