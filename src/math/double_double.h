// Double-double arithmetic: an unevaluated sum hi + lo of two doubles, |lo| <= ulp(hi)/2,
// carrying about 106 bits. Every step is made of IEEE double operations whose rounding
// errors are recovered exactly (Knuth's two-sum, Dekker's product with Veltkamp's
// split), which holds only when each operation is rounded once to double: the plug-in
// builds with SSE2 doubles and -ffp-contract=off, so no step is fused or widened.
// Arguments must stay far from overflow (|x| < 2^995) for the split to be exact.
#pragma once

namespace crmath_detail {

struct DD {
  double hi, lo;
};

// a + b = s + e exactly, any order of magnitude.
inline DD twoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  const double e = (a - (s - bb)) + (b - bb);
  return {s, e};
}

// a + b = s + e exactly, given |a| >= |b| (or a == 0).
inline DD fastTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// a = hi + lo with hi holding the upper 26 bits of the significand.
inline DD split(double a) {
  const double c = 134217729.0 * a;  // 2^27 + 1
  const double hi = c - (c - a);
  return {hi, a - hi};
}

// a * b = p + e exactly (no underflow in e assumed).
inline DD twoProd(double a, double b) {
  const double p = a * b;
  const DD as = split(a), bs = split(b);
  const double e = ((as.hi * bs.hi - p) + as.hi * bs.lo + as.lo * bs.hi) + as.lo * bs.lo;
  return {p, e};
}

inline DD add(DD a, DD b) {
  DD s = twoSum(a.hi, b.hi);
  const DD t = twoSum(a.lo, b.lo);
  s.lo += t.hi;
  s = fastTwoSum(s.hi, s.lo);
  s.lo += t.lo;
  return fastTwoSum(s.hi, s.lo);
}

inline DD add(DD a, double b) {
  DD s = twoSum(a.hi, b);
  s.lo += a.lo;
  return fastTwoSum(s.hi, s.lo);
}

inline DD neg(DD a) { return {-a.hi, -a.lo}; }

inline DD mul(DD a, DD b) {
  DD p = twoProd(a.hi, b.hi);
  p.lo += a.hi * b.lo + a.lo * b.hi;
  return fastTwoSum(p.hi, p.lo);
}

inline DD mul(DD a, double b) {
  DD p = twoProd(a.hi, b);
  p.lo += a.lo * b;
  return fastTwoSum(p.hi, p.lo);
}

inline DD div(DD a, DD b) {
  const double q1 = a.hi / b.hi;
  DD r = add(a, neg(mul(b, q1)));
  const double q2 = r.hi / b.hi;
  r = add(r, neg(mul(b, q2)));
  const double q3 = r.hi / b.hi;
  DD q = fastTwoSum(q1, q2);
  return add(q, q3);
}

}  // namespace crmath_detail
