// crmath against MPFR: every result must be MPFR's correctly rounded one, bit for bit
// (NaN for NaN). Arguments: the constants behind the code, random doubles of every
// magnitude, the effects' own ranges, arguments next to multiples of pi/4 and pi/2
// (where reduction cancels), every integer pair the Koch routine's atan2 can meet, and
// the special values. Each test counts and prints its arguments.
#include <gtest/gtest.h>
#include <mpfr.h>  // the oracle: correctly rounded sin, cos, atan2 at any precision

#include <stdint.h>
#include <string.h>

#include <cmath>
#include <cstdio>
#include <numeric>  // std::gcd
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "math/crmath.h"
#include "math/crmath_tables.h"

namespace {

using namespace crmath_detail;

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

// MPFR set up as an IEEE double: 53 bits, double's exponent range, subnormals.
class Oracle {
 public:
  Oracle() {
    mpfr_set_emin(-1073);
    mpfr_set_emax(1024);
    mpfr_inits2(53, x_, y_, r_, static_cast<mpfr_ptr>(nullptr));
  }
  ~Oracle() {
    mpfr_clears(x_, y_, r_, static_cast<mpfr_ptr>(nullptr));
    mpfr_set_emin(mpfr_get_emin_min());
    mpfr_set_emax(mpfr_get_emax_max());
  }
  double sin(double x) {
    mpfr_set_d(x_, x, MPFR_RNDN);
    return finish(mpfr_sin(r_, x_, MPFR_RNDN));
  }
  double cos(double x) {
    mpfr_set_d(x_, x, MPFR_RNDN);
    return finish(mpfr_cos(r_, x_, MPFR_RNDN));
  }
  double atan2(double y, double x) {
    mpfr_set_d(y_, y, MPFR_RNDN);
    mpfr_set_d(x_, x, MPFR_RNDN);
    return finish(mpfr_atan2(r_, y_, x_, MPFR_RNDN));
  }

 private:
  double finish(int inexact) {
    mpfr_subnormalize(r_, inexact, MPFR_RNDN);
    return mpfr_get_d(r_, MPFR_RNDN);
  }
  mpfr_t x_, y_, r_;
};

bool same(double a, double b) { return (a != a && b != b) || bitsOf(a) == bitsOf(b); }

// Counts the arguments checked and the results that differ, printing the first few.
struct Tally {
  const char* name;
  long checked = 0, differing = 0;
  // One argument (sin, cos) or two (atan2's y, x).
  void check(double got, double want, double y) { check(got, want, y, 0, false); }
  void check(double got, double want, double y, double x, bool twoArguments = true) {
    ++checked;
    if (same(got, want)) return;
    if (++differing > 10) return;
    std::ostringstream call;
    call << std::hexfloat << name << "(" << y;
    if (twoArguments) call << ", " << x;
    ADD_FAILURE() << call.str() << ") = " << got << ", MPFR " << want;
  }
  ~Tally() {
    std::printf("%s: %ld results, %ld differ\n", name, checked, differing);
    EXPECT_EQ(differing, 0) << name;
  }
};

// sin, cos and sincos (which shares their work) against MPFR.
void checkSinCos(Oracle& oracle, Tally& s, Tally& c, double x) {
  const double wantSin = oracle.sin(x), wantCos = oracle.cos(x);
  s.check(crmath::sin(x), wantSin, x);
  c.check(crmath::cos(x), wantCos, x);
  double both[2];
  crmath::sincos(x, &both[0], &both[1]);
  s.check(both[0], wantSin, x);
  c.check(both[1], wantCos, x);
}

// A double with a random significand and an exponent uniform in [minExp, maxExp].
double randomDouble(std::mt19937_64& rng, int minExp, int maxExp) {
  std::uniform_int_distribution<int> exponent(minExp, maxExp);
  const uint64_t m = rng() & 0xfffffffffffffull;
  const uint64_t e = static_cast<uint64_t>(exponent(rng) + 1023);
  return fromBits((rng() & 1 ? 1ull << 63 : 0) | e << 52 | m);
}

// The constants the code is built on, each worked out again by MPFR.
TEST(CrmathMpfr, TablesAreExact) {
  mpfr_t v, w;
  mpfr_inits2(2000, v, w, static_cast<mpfr_ptr>(nullptr));
  // 2/pi bit by bit.
  mpfr_const_pi(v, MPFR_RNDN);
  mpfr_ui_div(v, 2, v, MPFR_RNDN);
  for (int word = 0; word < 48; ++word) {
    mpfr_mul_2ui(v, v, 32, MPFR_RNDN);
    mpfr_floor(w, v);
    const uint32_t expected = static_cast<uint32_t>(mpfr_get_ui(w, MPFR_RNDN));
    mpfr_sub(v, v, w, MPFR_RNDN);
    EXPECT_EQ(kTwoOverPiBits[word], expected) << "2/pi word " << word;
  }
  // pi/2 and pi in 288-bit fixed point.
  for (int which = 0; which < 2; ++which) {
    const uint32_t* limbs = which ? kPiFixed : kPiOver2Fixed;
    mpfr_const_pi(v, MPFR_RNDN);
    if (!which) mpfr_div_2ui(v, v, 1, MPFR_RNDN);
    mpfr_mul_2ui(v, v, 288, MPFR_RNDN);
    mpfr_floor(v, v);
    for (int i = 0; i < 10; ++i) {
      mpfr_fmod_ui(w, v, 1ul << 16, MPFR_RNDN);
      uint32_t lo = static_cast<uint32_t>(mpfr_get_ui(w, MPFR_RNDN));
      mpfr_div_2ui(v, v, 16, MPFR_RNDN);
      mpfr_floor(v, v);
      mpfr_fmod_ui(w, v, 1ul << 16, MPFR_RNDN);
      const uint32_t hi = static_cast<uint32_t>(mpfr_get_ui(w, MPFR_RNDN));
      mpfr_div_2ui(v, v, 16, MPFR_RNDN);
      mpfr_floor(v, v);
      EXPECT_EQ(limbs[i], (hi << 16) | lo) << (which ? "pi" : "pi/2") << " limb " << i;
    }
  }
  // A value split into doubles: each part the nearest double to what is left.
  auto expectSplit = [&](const double* parts, int count, const char* what) {
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(bitsOf(parts[i]), bitsOf(mpfr_get_d(v, MPFR_RNDN))) << what << " part " << i;
      mpfr_sub_d(v, v, parts[i], MPFR_RNDN);
    }
  };
  mpfr_const_pi(v, MPFR_RNDN);
  mpfr_div_2ui(v, v, 1, MPFR_RNDN);
  expectSplit(kPiOver2, 3, "pi/2 (three parts)");
  mpfr_const_pi(v, MPFR_RNDN);
  mpfr_div_2ui(v, v, 1, MPFR_RNDN);
  expectSplit(kPiOver2Dd, 2, "pi/2");
  // The short pieces: 33 significant bits each, summing to pi/2 within 2^-121.
  mpfr_const_pi(v, MPFR_RNDN);
  mpfr_div_2ui(v, v, 1, MPFR_RNDN);
  for (int i = 0; i < 3; ++i) mpfr_sub_d(v, v, kPiOver2Short[i], MPFR_RNDN);
  EXPECT_LT(std::fabs(mpfr_get_d(v, MPFR_RNDN)), 0x1p-121) << "pi/2 in short pieces";
  EXPECT_EQ(bitsOf(kPiOver2Short[0]) & 0xfffff, 0u);
  EXPECT_EQ(bitsOf(kPiOver2Short[1]) & 0xfffff, 0u);
  mpfr_const_pi(v, MPFR_RNDN);
  expectSplit(kPiDd, 2, "pi");
  mpfr_const_pi(v, MPFR_RNDN);
  mpfr_ui_div(v, 2, v, MPFR_RNDN);
  expectSplit(&kTwoOverPi, 1, "2/pi");
  for (int n = 0; n < 24; ++n) {
    mpfr_fac_ui(v, n, MPFR_RNDN);
    mpfr_ui_div(v, 1, v, MPFR_RNDN);
    if ((n / 2) % 2) mpfr_neg(v, v, MPFR_RNDN);
    mpfr_set(w, v, MPFR_RNDN);
    if (n < 10) expectSplit(kInvFactorialDd[n], 2, ("1/" + std::to_string(n) + "!").c_str());
    mpfr_set(v, w, MPFR_RNDN);
    expectSplit(&kInvFactorial[n], 1, ("1/" + std::to_string(n) + "! in one double").c_str());
  }
  for (int i = 0; i <= 64; ++i) {
    mpfr_set_ui(v, i, MPFR_RNDN);
    mpfr_div_ui(v, v, 64, MPFR_RNDN);
    mpfr_atan(v, v, MPFR_RNDN);
    expectSplit(kAtanTableDd[i], 2, ("atan(" + std::to_string(i) + "/64)").c_str());
  }
  for (int j = 0; j < 53; ++j) {
    const std::string at = std::to_string(j) + "/64)";
    mpfr_set_ui(v, j, MPFR_RNDN);
    mpfr_div_ui(v, v, 64, MPFR_RNDN);
    mpfr_sin(v, v, MPFR_RNDN);
    expectSplit(kSinCosTableDd[j], 2, ("sin(" + at).c_str());
    mpfr_set_ui(v, j, MPFR_RNDN);
    mpfr_div_ui(v, v, 64, MPFR_RNDN);
    mpfr_cos(v, v, MPFR_RNDN);
    expectSplit(kSinCosTableDd[j] + 2, 2, ("cos(" + at).c_str());
  }
  mpfr_clears(v, w, static_cast<mpfr_ptr>(nullptr));
}

TEST(CrmathMpfr, SinCosRandomAndChosen) {
  Oracle oracle;
  Tally s{"sin"}, c{"cos"};
  std::mt19937_64 rng(20261208);
  // Uniform over a few turns, where most of the effects' angles lie.
  std::uniform_real_distribution<double> turns(-8.0, 8.0);
  for (int i = 0; i < 400000; ++i) checkSinCos(oracle, s, c, turns(rng));
  // Headings of a long run: growing without bound, well past any run's length.
  std::uniform_real_distribution<double> headings(-1e6, 1e6);
  for (int i = 0; i < 200000; ++i) checkSinCos(oracle, s, c, headings(rng));
  // Every magnitude, from below 2^-26 (sin x = x) to the largest doubles (Payne-Hanek).
  for (int i = 0; i < 150000; ++i) checkSinCos(oracle, s, c, randomDouble(rng, -40, 40));
  for (int i = 0; i < 20000; ++i) checkSinCos(oracle, s, c, randomDouble(rng, -1074, 1023));
  // Next to multiples of pi/4 and pi/2, where reduction cancels most: the nearest
  // doubles to k pi/4 and a few of their neighbours, k up to 2^20 and then sparser up
  // to about 2^31 (across the fast path's limit of 2^30).
  mpfr_t m;
  mpfr_init2(m, 200);
  auto nearMultiple = [&](uint64_t k) {
    mpfr_const_pi(m, MPFR_RNDN);
    mpfr_mul_ui(m, m, static_cast<unsigned long>(k), MPFR_RNDN);
    mpfr_div_2ui(m, m, 2, MPFR_RNDN);
    const double x = mpfr_get_d(m, MPFR_RNDN);
    for (int d = -2; d <= 2; ++d) {
      const double v = fromBits(bitsOf(x) + d);
      checkSinCos(oracle, s, c, v);
      checkSinCos(oracle, s, c, -v);
    }
  };
  for (uint64_t k = 1; k <= 30000; ++k) nearMultiple(k);
  for (uint64_t k = 30000; k < (1ull << 33); k = k * 1.0008 + 1) nearMultiple(k);
  mpfr_clear(m);
  // The doubles closest to a multiple of pi/2 below 2^30 and overall (reduced
  // arguments of about 2^-30 and 2^-61), the thresholds of the code, special values.
  const double chosen[] = {
      0.0, -0.0, INFINITY, -INFINITY, NAN, 0x1p-1074, -0x1p-1074, 0x1p-1022,
      0x1.fffffffffffffp-27, 0x1p-26, 0x1.fffffffffffffp-28, 0x1p-27,
      0x1.921fb54442d18p-1, 0x1.921fb54442d19p-1, 0x1.921fb54442d18p+0,
      0x1.921fb54442d18p+1, 0x1.fffffffffffffp+29, 0x1p30, 0x1.0000000000001p30,
      0x1.6ac5b262ca1ffp+849, 0x1.6c6cbc45dc8dep+797, 6381956970095103.0 * 0x1p797,
      5706117868072983.0, 0x1.fffffffffffffp+1023, -0x1.fffffffffffffp+1023,
      0x1p1023, 1e22, 0x1.5f90eb96d2ap+39, 355.0, 103993.0, 104348.0, 1.0e9, 2.0e9,
  };
  for (double x : chosen) checkSinCos(oracle, s, c, x);
}

TEST(CrmathMpfr, Atan2RandomAndSpecial) {
  Oracle oracle;
  Tally a{"atan2"};
  std::mt19937_64 rng(8122026);
  auto check = [&](double y, double x) { a.check(crmath::atan2(y, x), oracle.atan2(y, x), y, x); };
  // Pairs of similar magnitude (the effects' kind), then any magnitudes, then
  // quotients below 2^-61 whose atan rounds like the quotient (subnormal results too).
  for (int i = 0; i < 600000; ++i) check(randomDouble(rng, -8, 8), randomDouble(rng, -8, 8));
  for (int i = 0; i < 100000; ++i)
    check(randomDouble(rng, -1074, 1023), randomDouble(rng, -1074, 1023));
  for (int i = 0; i < 50000; ++i) {
    const double x = randomDouble(rng, -1074, 1023);
    check(x * 0x1p-70, x);
    check(randomDouble(rng, -1074, -1000), std::fabs(randomDouble(rng, -60, 60)));
  }
  // Exact quotients at subnormal midpoints: y/x = (2k+1) 2^-1075, atan just below.
  for (int k = 0; k < 64; ++k) {
    check((2 * k + 1) * 0x1p-1011, 0x1p64);
    check(-(2 * k + 1) * 0x1p-1011, 0x1p64);
  }
  const double v[] = {0.0, -0.0, 1.0, -1.0, 0x1p-1074, -0x1p-1074, 0x1.fffffffffffffp+1023,
                      -0x1.fffffffffffffp+1023, INFINITY, -INFINITY, NAN, 3.0, -7.5};
  for (double y : v)
    for (double x : v) check(y, x);
}

// Every atan2(dy, dx) the Koch routine can meet for segments up to 2048 pixels along
// either axis: all 4097^2 pairs. MPFR works each exact value out once per coprime pair
// 0 <= b <= a of the first octant, as a = atan(b/a) to 120 bits; the other seven
// octants are c pi/2 +- a, negated for dy < 0, and each multiple (k a, k b) has the
// same exact value. Each derived value is rounded to a double only when MPFR says its
// 120 bits decide the rounding; otherwise MPFR's atan2 is asked directly.
TEST(CrmathMpfr, Atan2EveryIntegerPairTo2048) {
  const int kReach = 2048;
  Oracle oracle;
  Tally tally{"atan2 of integer pairs"};
  mpfr_t base, halfPi, v;
  mpfr_inits2(120, base, halfPi, v, static_cast<mpfr_ptr>(nullptr));
  mpfr_const_pi(halfPi, MPFR_RNDN);
  mpfr_div_2ui(halfPi, halfPi, 1, MPFR_RNDN);
  struct Octant {
    int quarterTurns, sign;  // value = quarterTurns pi/2 + sign atan(b/a)
    bool swap, negateX;      // (dy, dx) = (b, a), swapped, then dx negated
  };
  const Octant octants[4] = {{0, 1, false, false},   // atan2(b, a)
                             {1, -1, true, false},   // atan2(a, b)
                             {2, -1, false, true},   // atan2(b, -a)
                             {1, 1, true, true}};    // atan2(a, -b)
  tally.check(crmath::atan2(0.0, 0.0), 0.0, 0.0, 0.0);
  for (int a = 1; a <= kReach; ++a)
    for (int b = 0; b <= a; ++b) {
      if (std::gcd(a, b) != 1) continue;  // met below as a multiple of a coprime pair
      mpfr_set_ui(v, b, MPFR_RNDN);
      mpfr_set_ui(base, a, MPFR_RNDN);
      mpfr_atan2(base, v, base, MPFR_RNDN);
      for (const Octant& o : octants) {
        const double y = o.swap ? a : b;
        const double x = (o.swap ? b : a) * (o.negateX ? -1.0 : 1.0);
        mpfr_mul_ui(v, halfPi, o.quarterTurns, MPFR_RNDN);
        if (o.sign > 0)
          mpfr_add(v, v, base, MPFR_RNDN);
        else
          mpfr_sub(v, v, base, MPFR_RNDN);
        // 115 bits are right to within an ulp at 120 (two roundings of half an ulp);
        // can_round with RNDZ at 54 bits is MPFR's test for round-to-nearest at 53.
        const double want = mpfr_can_round(v, 115, MPFR_RNDN, MPFR_RNDZ, 54)
                                ? mpfr_get_d(v, MPFR_RNDN)
                                : oracle.atan2(y, x);
        for (int k = 1; k * a <= kReach; ++k) {
          tally.check(crmath::atan2(k * y, k * x), want, k * y, k * x);
          if (y != 0) tally.check(crmath::atan2(-k * y, k * x), -want, -k * y, k * x);
        }
      }
    }
  mpfr_clears(base, halfPi, v, static_cast<mpfr_ptr>(nullptr));
}

}  // namespace
