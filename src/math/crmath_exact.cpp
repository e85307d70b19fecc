// The exact path of crmath (see crmath_exact.h): unsigned 288-bit fixed point in 32-bit
// limbs, which every target multiplies natively (no 128-bit integers on 32-bit x86).
// Speed does not matter here; clarity of the error bound does.
#include "math/crmath_exact.h"

#include <string.h>  // memcpy: a double's bits

#include "math/crmath_tables.h"

namespace crmath_detail {

namespace {

// limb[0] is the least significant; limb[9] is the integer part, limb[0..8] the 288
// fraction bits. Every value used here is below 4, so the integer limb never overflows.
const int kLimbs = 10;
const int kFracBits = 288;
struct Fixed {
  uint32_t limb[kLimbs];
};

Fixed fromInt(uint32_t v) {
  Fixed r = {};
  r.limb[kLimbs - 1] = v;
  return r;
}

Fixed fromTable(const uint32_t* limbs) {
  Fixed r;
  memcpy(r.limb, limbs, sizeof r.limb);
  return r;
}

bool isZero(const Fixed& a) {
  for (uint32_t l : a.limb)
    if (l) return false;
  return true;
}

bool bitOf(const Fixed& a, int i) { return (a.limb[i / 32] >> (i % 32)) & 1u; }

int highestBit(const Fixed& a) {
  for (int i = kLimbs - 1; i >= 0; --i)
    if (a.limb[i])
      for (int b = 31; b >= 0; --b)
        if ((a.limb[i] >> b) & 1u) return 32 * i + b;
  return -1;
}

Fixed add(const Fixed& a, const Fixed& b) {
  Fixed r;
  uint64_t carry = 0;
  for (int i = 0; i < kLimbs; ++i) {
    carry += static_cast<uint64_t>(a.limb[i]) + b.limb[i];
    r.limb[i] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  return r;
}

// a - b, a >= b.
Fixed sub(const Fixed& a, const Fixed& b) {
  Fixed r;
  uint64_t borrow = 0;
  for (int i = 0; i < kLimbs; ++i) {
    const uint64_t d = static_cast<uint64_t>(a.limb[i]) - b.limb[i] - borrow;
    r.limb[i] = static_cast<uint32_t>(d);
    borrow = d >> 63;
  }
  return r;
}

// a * b truncated to 288 fraction bits (error below 2^-288).
Fixed mul(const Fixed& a, const Fixed& b) {
  uint32_t prod[2 * kLimbs] = {};
  for (int i = 0; i < kLimbs; ++i) {
    uint64_t carry = 0;
    for (int j = 0; j < kLimbs; ++j) {
      const uint64_t t = static_cast<uint64_t>(a.limb[i]) * b.limb[j] + prod[i + j] + carry;
      prod[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    prod[i + kLimbs] = static_cast<uint32_t>(carry);
  }
  Fixed r;
  memcpy(r.limb, prod + kLimbs - 1, sizeof r.limb);
  return r;
}

Fixed mulSmall(const Fixed& a, uint32_t m) {
  Fixed r;
  uint64_t carry = 0;
  for (int i = 0; i < kLimbs; ++i) {
    carry += static_cast<uint64_t>(a.limb[i]) * m;
    r.limb[i] = static_cast<uint32_t>(carry);
    carry >>= 32;
  }
  return r;
}

// a / d truncated.
Fixed divSmall(const Fixed& a, uint32_t d) {
  Fixed r;
  uint64_t rem = 0;
  for (int i = kLimbs - 1; i >= 0; --i) {
    const uint64_t t = (rem << 32) | a.limb[i];
    r.limb[i] = static_cast<uint32_t>(t / d);
    rem = t % d;
  }
  return r;
}

void shiftLeftOne(Fixed* a) {
  for (int i = kLimbs - 1; i > 0; --i) a->limb[i] = (a->limb[i] << 1) | (a->limb[i - 1] >> 31);
  a->limb[0] <<= 1;
}

uint64_t bitsOf(double x) {
  uint64_t b;
  memcpy(&b, &x, sizeof b);
  return b;
}

double fromBits(uint64_t b) {
  double x;
  memcpy(&x, &b, sizeof x);
  return x;
}

// x = mantissa * 2^exponent with the mantissa's bit 52 set (subnormals normalised).
void decompose(double x, uint64_t* mantissa, int* exponent) {
  const uint64_t b = bitsOf(x) & 0x7fffffffffffffffull;
  const int field = static_cast<int>(b >> 52);
  uint64_t m = b & 0xfffffffffffffull;
  int e;
  if (field) {
    m |= 1ull << 52;
    e = field - 1075;
  } else {
    e = -1074;
    while (!(m >> 52)) {
      m <<= 1;
      --e;
    }
  }
  *mantissa = m;
  *exponent = e;
}

// The exact double v (0 < v < 2^32) as a Fixed; v's lowest bit must be at or above 2^-288.
Fixed fromDouble(double v) {
  uint64_t m;
  int e;
  decompose(v, &m, &e);
  Fixed r = {};
  const int pos = e + kFracBits;  // bit index of m's bit 0
  for (int i = 0; i < 53; ++i)
    if ((m >> i) & 1u) r.limb[(pos + i) / 32] |= 1u << ((pos + i) % 32);
  return r;
}

// Rounds a nonzero value to the nearest double, ties to even. Results here are at least
// 2^-200, far inside the normal range.
double toDouble(const Fixed& a, bool negative) {
  const int top = highestBit(a);
  uint64_t m = 0;
  for (int i = top; i > top - 53; --i) m = (m << 1) | (i >= 0 ? bitOf(a, i) : 0u);
  const int guardIndex = top - 53;
  const bool guard = guardIndex >= 0 && bitOf(a, guardIndex);
  bool sticky = false;
  for (int i = guardIndex - 1; i >= 0 && !sticky; --i) sticky = bitOf(a, i);
  if (guard && (sticky || (m & 1u))) ++m;  // 2^53 after a carry is still exact
  const double v = static_cast<double>(m) * pow2(top - 52 - kFracBits);
  return negative ? -v : v;
}

// 1 / a for 1 <= a <= 2 by Newton's iteration g' = g (2 - a g), which doubles the
// correct bits from the 53 of a double start: four steps pass 288.
Fixed reciprocal(const Fixed& a) {
  Fixed g = fromDouble(1.0 / toDouble(a, false));
  const Fixed two = fromInt(2);
  for (int i = 0; i < 4; ++i) g = mul(g, sub(two, mul(a, g)));
  return g;
}

// sin r and cos r for 0 <= r <= pi/4 (plus a little), by Taylor series: the terms fall
// below 2^-288 by n = 60. Positive and negative terms are summed apart so that every
// Fixed stays unsigned.
void sinCosSeries(const Fixed& r, Fixed* sinOut, Fixed* cosOut) {
  const Fixed r2 = mul(r, r);
  Fixed pos = r, neg = {}, term = r;
  for (uint32_t n = 2; !isZero(term); n += 2) {
    term = divSmall(divSmall(mul(term, r2), n), n + 1);
    Fixed* sum = (n / 2) % 2 ? &neg : &pos;
    *sum = add(*sum, term);
  }
  *sinOut = sub(pos, neg);
  pos = fromInt(1);
  neg = Fixed{};
  term = pos;
  for (uint32_t n = 1; !isZero(term); n += 2) {
    term = divSmall(divSmall(mul(term, r2), n), n + 1);
    Fixed* sum = ((n + 1) / 2) % 2 ? &neg : &pos;
    *sum = add(*sum, term);
  }
  *cosOut = sub(pos, neg);
}

bool twoOverPiBit(int i) {
  if (i < 1) return false;
  const int k = i - 1;
  return (kTwoOverPiBits[k / 32] >> (31 - k % 32)) & 1u;
}

// Payne-Hanek: for x = M 2^E, the bits of 2/pi above index E - 1 make M 2^E 2/pi a
// multiple of 4, which changes neither sin nor cos; the 352 bits from index E - 1 give
// x 2/pi mod 4 with 350 fraction bits, the omitted tail adding less than M 2^-350.
// Returns |r| (0 <= |r| <= pi/4) with its sign and the quadrant: x = 4n + quadrant
// times pi/2, plus or minus r.
struct Reduced {
  Fixed r;
  bool negative;
  unsigned quadrant;
};

Reduced reduce(double ax) {
  uint64_t m;
  int e;
  decompose(ax, &m, &e);
  const int window = 11;  // limbs: 352 bits
  uint32_t w[window] = {};
  for (int j = 0; j < 32 * window; ++j)
    if (twoOverPiBit(e - 1 + j)) {
      const int bit = 32 * window - 1 - j;
      w[bit / 32] |= 1u << (bit % 32);
    }
  // m * w, low 352 bits.
  uint32_t p[window] = {};
  const uint32_t mLimbs[2] = {static_cast<uint32_t>(m), static_cast<uint32_t>(m >> 32)};
  for (int i = 0; i < 2; ++i) {
    uint64_t carry = 0;
    for (int j = 0; i + j < window; ++j) {
      const uint64_t t = static_cast<uint64_t>(mLimbs[i]) * w[j] + p[i + j] + carry;
      p[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
  }
  Reduced out;
  out.quadrant = p[window - 1] >> 30;
  // Fraction bits 62..349 of the product become the 288 fraction bits.
  Fixed f = {};
  for (int k = 0; k < 9; ++k) f.limb[k] = (p[k + 1] >> 30) | (p[k + 2] << 2);
  out.negative = bitOf(f, kFracBits - 1);
  if (out.negative) {  // f >= 1/2: measure from the next multiple of pi/2
    f = sub(fromInt(1), f);
    out.quadrant = (out.quadrant + 1) & 3u;
  }
  out.r = mul(f, fromTable(kPiOver2Fixed));
  return out;
}

double exactSinCos(double x, bool wantCos) {
  const bool xNegative = x < 0;
  const Reduced red = reduce(xNegative ? -x : x);
  Fixed s, c;
  sinCosSeries(red.r, &s, &c);
  // x = q pi/2 + sigma r: sin and cos of each quadrant in terms of sin r and cos r.
  const unsigned q = wantCos ? (red.quadrant + 1) & 3u : red.quadrant;  // cos x = sin(x + pi/2)
  bool negative;
  const Fixed* v;
  switch (q) {
    case 0: v = &s; negative = red.negative; break;
    case 1: v = &c; negative = false; break;
    case 2: v = &s; negative = !red.negative; break;
    default: v = &c; negative = true; break;
  }
  if (xNegative && !wantCos) negative = !negative;
  return toDouble(*v, negative);
}

// atan t for 0 <= t <= 1 by Euler's series
//   atan t = sum_n (2^2n (n!)^2 / (2n+1)!) t^(2n+1) / (1+t^2)^(n+1),
// whose terms shrink by y = t^2 / (1+t^2) <= 1/2 times (2n+2)/(2n+3): under 300 terms.
Fixed atanSeries(const Fixed& t) {
  if (isZero(t)) return t;
  const Fixed t2 = mul(t, t);
  const Fixed inv = reciprocal(add(fromInt(1), t2));
  const Fixed y = mul(t2, inv);
  Fixed term = mul(t, inv);
  Fixed sum = term;
  for (uint32_t n = 0; !isZero(term); ++n) {
    term = divSmall(mulSmall(mul(term, y), 2 * n + 2), 2 * n + 3);
    sum = add(sum, term);
  }
  return sum;
}

// The value (mn / md) 2^d, mantissas of 53 bits, rounded to nearest as if lowered by an
// amount far smaller than any gap between it and a rounding boundary: that is atan t
// for t < 2^-61, since t - atan t < t^3/3 < t 2^-122, while a quotient of two doubles
// that is not itself a boundary lies further than t 2^-110 from one. An exact midpoint
// thus rounds toward zero. Covers subnormal results and underflow to zero.
double roundQuotientBelow(uint64_t mn, uint64_t md, int d, bool negative) {
  const int s = mn < md ? 1 : 0;
  uint64_t rem = mn << s;  // md <= rem < 2 md
  const int e = d - s;     // value = (rem / md) 2^e
  uint64_t q = 0;          // 54 quotient bits; bit 53 weighs 2^e
  for (int i = 0; i < 54; ++i) {
    q <<= 1;
    if (rem >= md) {
      rem -= md;
      q |= 1u;
    }
    rem <<= 1;
  }
  const int precision = e >= -1022 ? 53 : 53 - (-1022 - e);
  double v = 0.0;
  if (precision >= 0) {
    const int drop = 54 - precision;
    uint64_t kept = drop >= 64 ? 0 : q >> drop;
    const bool guard = (q >> (drop - 1)) & 1u;
    const bool sticky = (q & ((1ull << (drop - 1)) - 1)) != 0 || rem != 0;
    if (guard && sticky) ++kept;
    // kept 2^(e - precision + 1) is a double: two exact scalings keep the
    // intermediate normal.
    v = static_cast<double>(kept) * pow2(e - precision + 1 + 600) * pow2(-600);
  }
  return negative ? -v : v;
}

}  // namespace

double pow2(int e) {
  if (e >= -1022) return fromBits(static_cast<uint64_t>(e + 1023) << 52);
  return fromBits(1ull << (e + 1074));
}

double exactSin(double x) { return exactSinCos(x, false); }
double exactCos(double x) { return exactSinCos(x, true); }

double exactAtan2(double y, double x) {
  const double ax = x < 0 ? -x : x, ay = y < 0 ? -y : y;
  const bool swapped = ay > ax;  // atan2 = pi/2 - atan(ax / ay)
  uint64_t mn, md;
  int en, ed;
  decompose(swapped ? ax : ay, &mn, &en);
  decompose(swapped ? ay : ax, &md, &ed);
  const int d = en - ed;  // t = (mn / md) 2^d <= 1
  if (!swapped && x > 0 && d < -62) return roundQuotientBelow(mn, md, d, y < 0);
  // t in fixed point: floor(mn 2^(288 + d) / md) by long division.
  Fixed t = {};
  const int shifts = kFracBits + d;
  if (shifts >= 0) {
    uint64_t rem = mn;
    t.limb[0] = static_cast<uint32_t>(rem / md);
    rem %= md;
    for (int i = 0; i < shifts; ++i) {
      shiftLeftOne(&t);
      rem <<= 1;
      if (rem >= md) {
        rem -= md;
        t.limb[0] |= 1u;
      }
    }
  }
  Fixed a = atanSeries(t);
  if (swapped) a = sub(fromTable(kPiOver2Fixed), a);
  if (x < 0) a = sub(fromTable(kPiFixed), a);
  return toDouble(a, y < 0);
}

}  // namespace crmath_detail
