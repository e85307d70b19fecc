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

// Ziv's rounding test. The exact value lies within err = |v| relativeError +
// absoluteError of v = hi + lo, err being at least twice the real error: if hi + lo
// plus and minus err round to the same double, so does the exact value (rounding is
// monotonic), and that double is returned. Adding err to lo first loses only about
// 2^-53 |lo|, far below err.
inline bool roundsTo(DD v, double relativeError, double* out, double absoluteError = 0) {
  const double err = std::fabs(v.hi) * relativeError + absoluteError;
  const double up = v.hi + (v.lo + err);
  const double down = v.hi + (v.lo - err);
  if (up != down) return false;
  *out = up;
  return true;
}

// sin r and cos r for |r| <= pi/4 (plus the little a rounded quotient adds), r as a
// double-double: the careful phase. With u = r^2,
//   sin r = r (1 + u (c3 + u (c5 + u (c7 + u (c9 + u T))))),
//   cos r = 1 + u (c2 + u (c4 + u (c6 + u (c8 + u (c10 + u T'))))),
// the leading coefficients in double-double, the tails T (from 1/11!) and T' (from
// 1/12!) in double, where their rounding weighs under 2^-81 of the result. Truncation
// after r^23 and r^22 leaves under 2^-86; the double-double steps add about 2^-100.
DD sinPoly(DD r) {
  const DD u = mul(r, r);
  double t = kInvFactorial[23];
  for (int n = 21; n >= 11; n -= 2) t = kInvFactorial[n] + u.hi * t;
  DD s = add(ddOf(kInvFactorialDd[9]), u.hi * t);
  for (int n = 7; n >= 3; n -= 2) s = add(ddOf(kInvFactorialDd[n]), mul(u, s));
  return add(r, mul(r, mul(u, s)));
}

DD cosPoly(DD r) {
  const DD u = mul(r, r);
  double t = kInvFactorial[22];
  for (int n = 20; n >= 12; n -= 2) t = kInvFactorial[n] + u.hi * t;
  DD c = add(ddOf(kInvFactorialDd[10]), u.hi * t);
  for (int n = 8; n >= 2; n -= 2) c = add(ddOf(kInvFactorialDd[n]), mul(u, c));
  return add(mul(u, c), 1.0);
}

// The first, quick phase: with a = j/64 the nearest table point to |r| and h = |r| - a
// (|h| <= 2^-7, exact), sin(a + h) = S + C h + S (cos h - 1) + C (sin h - h) and
// cos(a + h) = C - S h + C (cos h - 1) - S (sin h - h), S and C from a double-double
// table. C h and S h are split exactly; the rest, under 2^-14 of the result, is summed
// in double, smallest first, so its roundings stay below 2^-64.5 of the result; the
// truncated series add under 2^-70. The rounding test is run at 2^-61 and fails in
// about one call in a hundred, which then takes the double-double polynomials.
struct Quick {
  DD sin, cos;
};

Quick sinCosQuick(DD r) {
  const bool negative = r.hi < 0;
  if (negative) r = neg(r);
  const int j = static_cast<int>(r.hi * 64 + 0.5);
  const double hh = r.hi - j * (1.0 / 64);  // Sterbenz: exact
  const double hl = r.lo;
  const double h2 = hh * hh;
  const double ch1 = h2 * (-0.5 + h2 * (1.0 / 24 - h2 * (1.0 / 720)));
  const double sh1 = hh * h2 * (-1.0 / 6 + h2 * (1.0 / 120 - h2 * (1.0 / 5040)));
  const double* t = kSinCosTableDd[j];
  const double sHi = t[0], sLo = t[1], cHi = t[2], cLo = t[3];
  const DD p = twoProd(cHi, hh);
  const DD s0 = twoSum(sHi, p.hi);
  const double sTail =
      ((((p.lo + cLo * hh) + cHi * hl) + sLo) + s0.lo + cHi * sh1) + sHi * ch1;
  const DD q = twoProd(sHi, hh);
  const DD c0 = twoSum(cHi, -q.hi);
  const double cTail =
      ((((-q.lo - sLo * hh) - sHi * hl) + cLo) + c0.lo - sHi * sh1) + cHi * ch1;
  Quick out;
  out.sin = negative ? DD{-s0.hi, -sTail} : DD{s0.hi, sTail};
  out.cos = {c0.hi, cTail};
  return out;
}

// Cody-Waite: r = x - k pi/2 for |x| < 2^30 (|k| < 2^30). Beyond |k| = 2^20, pi/2 is
// three doubles (about 160 bits) and each product k C is split exactly by Dekker's
// method. Either way x - k C1 is exact by Sterbenz's lemma (k C1 is within a factor
// of two of x) and the rest is summed in double-double, so r carries an absolute error
// below 2^-99. That is relative 2^-76 while
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
  double hi, lo;
  if (ki > -(1 << 20) && ki < (1 << 20)) {
    // The usual case: pi/2 with two 33-bit pieces, each product with k exact, and a
    // rounded rest, about 120 bits in all: x - k C1 exact, then the exact sum with
    // -k C2, then k C3 with an error under 2^-101.
    const DD s = twoSum(x - k * kPiOver2Short[0], -(k * kPiOver2Short[1]));
    hi = s.hi;
    lo = s.lo - k * kPiOver2Short[2];
  } else {
    const DD p1 = twoProd(k, kPiOver2[0]);
    const DD p2 = twoProd(k, kPiOver2[1]);
    const double terms[4] = {-p1.lo, -p2.hi, -p2.lo, -(k * kPiOver2[2])};
    hi = x - p1.hi;
    lo = 0.0;
    for (double term : terms) {
      const DD s = twoSum(hi, term);
      hi = s.hi;
      lo += s.lo;
    }
  }
  *r = fastTwoSum(hi, lo);
  if (std::fabs(r->hi) < 0x1p-24) return false;
  *quadrant = static_cast<unsigned>(ki) & 3u;
  return true;
}

const double kFastLimit = 0x1p30;
const double kQuickBound = 0x1p-61;
// The careful phase: 2^-80 of the result, and 2^-97 for the reduced argument's error.
const double kSinCosBound = 0x1p-80;
const double kReductionError = 0x1p-97;
const double kAtanQuickBound = 0x1p-62;
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

// atan2 for finite nonzero x and y within 2^+-500 and a quotient t = min / max >= 2^-25,
// which is every call the effects make: atan t = atan(i/64) + atan(s) with c = i/64 the
// nearest table point and s = (t - c) / (1 + t c), |s| <= 2^-7. t and s are carried as
// double-doubles to about 2^-100 (each split by an exact product: num - th den and
// n - sh d are exact by Sterbenz's lemma, th - c too, as c/2 <= th <= 2c or c = 0).
// The quick phase then sums atan(i/64) + s + (atan s - s) with the last (under 2^-14
// of the result) in double, its roundings under 2^-66 of the result; the series left
// out after s^9 is below 2^-73. The reflections pi/2 - a and pi - a are double-double
// and never cancel (a <= pi/2 <= their result). The careful phase, taken in a few
// calls in a thousand, redoes atan s in double-double: well below 2^-90 in all.
struct Reflection {
  bool swapped, xNegative, yNegative;
};

DD reflect(DD a, Reflection how) {
  if (how.swapped) a = add(ddOf(kPiOver2Dd), neg(a));
  if (how.xNegative) a = add(ddOf(kPiDd), neg(a));
  return how.yNegative ? neg(a) : a;
}

bool atan2Fast(double y, double x, double* out) {
  const double ax = std::fabs(x), ay = std::fabs(y);
  if (!(ax >= 0x1p-500 && ax <= 0x1p500 && ay >= 0x1p-500 && ay <= 0x1p500)) return false;
  const Reflection how = {ay > ax, x < 0, y < 0};
  const double num = how.swapped ? ax : ay;
  const double den = how.swapped ? ay : ax;
  const double th = num / den;
  if (th < 0x1p-25) return false;
  const DD p = twoProd(th, den);
  const double tl = ((num - p.hi) - p.lo) / den;
  const int i = static_cast<int>(th * 64 + 0.5);
  const double c = i / 64.0;
  // s = n / d, n = t - c, d = 1 + t c.
  const DD n = twoSum(th - c, tl);
  const DD tc = twoProd(th, c);
  const DD d0 = fastTwoSum(1.0, tc.hi);
  const double dl = d0.lo + (tc.lo + tl * c);
  const double sh = n.hi / d0.hi;
  const DD sd = twoProd(sh, d0.hi);
  const double sl = (((n.hi - sd.hi) - sd.lo) + n.lo - sh * dl) / d0.hi;
  const double* table = kAtanTableDd[i];
  {
    const double s2 = sh * sh;
    const double series = sh * s2 * (-1.0 / 3 + s2 * (1.0 / 5 - s2 * (1.0 / 7 - s2 * (1.0 / 9))));
    const DD a0 = twoSum(table[0], sh);
    const DD a = {a0.hi, ((sl + table[1]) + a0.lo) + series};
    if (roundsTo(reflect(a, how), kAtanQuickBound, out)) return true;
  }
  const DD s = fastTwoSum(sh, sl);
  const DD a = add(DD{table[0], table[1]}, atanSmall(s));
  return roundsTo(reflect(a, how), kAtanBound, out);
}

// sin x = x for |x| < 2^-26: x - sin x < |x|^3 / 6 < |x| 2^-54, under half the gap
// below |x| even when |x| is a power of two. Signed zeros pass through. cos x = 1 for
// |x| < 2^-27: 1 - cos x < x^2 / 2 < 2^-55, under half the gap below 1.
// In quadrant q (x = q pi/2 + r), sin x is sin r, cos r, -sin r, -cos r and cos x is
// cos r, -sin r, -cos r, sin r.
// Either output may be null when not wanted.
void sinCos(double x, double* sinOut, double* cosOut) {
  const double ax = std::fabs(x);
  if (!(ax <= 0x1.fffffffffffffp+1023)) {  // NaN, infinity: NaN
    if (sinOut) *sinOut = x - x;
    if (cosOut) *cosOut = x - x;
    return;
  }
  if (ax < 0x1p-27) {
    if (sinOut) *sinOut = x;
    if (cosOut) *cosOut = 1.0;
    return;
  }
  bool sinDone = !sinOut, cosDone = !cosOut;
  DD r;
  unsigned q;
  if (ax < kFastLimit && reduceFast(x, &r, &q)) {
    const Quick v = sinCosQuick(r);
    if (!sinDone) {
      const DD w = (q & 1u) ? v.cos : v.sin;
      sinDone = roundsTo((q & 2u) ? neg(w) : w, kQuickBound, sinOut);
    }
    if (!cosDone) {
      const DD w = (q & 1u) ? v.sin : v.cos;
      cosDone = roundsTo(((q + 1) & 2u) ? neg(w) : w, kQuickBound, cosOut);
    }
    if (!sinDone) {
      const DD w = (q & 1u) ? cosPoly(r) : sinPoly(r);
      sinDone = roundsTo((q & 2u) ? neg(w) : w, kSinCosBound, sinOut, kReductionError);
    }
    if (!cosDone) {
      const DD w = (q & 1u) ? sinPoly(r) : cosPoly(r);
      cosDone = roundsTo(((q + 1) & 2u) ? neg(w) : w, kSinCosBound, cosOut, kReductionError);
    }
  }
  if (!sinDone) *sinOut = ax < 0x1p-26 ? x : exactSin(x);
  if (!cosDone) *cosOut = exactCos(x);
}

}  // namespace

void sincos(double x, double* sinOut, double* cosOut) { sinCos(x, sinOut, cosOut); }

double sin(double x) {
  double s;
  sinCos(x, &s, nullptr);
  return s;
}

double cos(double x) {
  double c;
  sinCos(x, nullptr, &c);
  return c;
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
