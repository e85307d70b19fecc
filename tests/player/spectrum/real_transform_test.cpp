// The analyser's own transform (the web build's, which has no FFTW): against a direct
// sum of the definition in long double, and against FFTW where both run, first bin by
// bin and then as the spectrum bytes the effects read.
#include <math.h>

#include <algorithm>
#include <complex>
#include <cstdio>
#include <vector>

#include <gtest/gtest.h>

#include "audio/demo_tune.h"
#include "spectrum/analyser.h"
#include "spectrum/real_transform.h"

namespace {

// Samples in [-1, 1) from a fixed linear congruential generator.
std::vector<float> noise(int n, unsigned seed) {
  std::vector<float> out((size_t)n);
  for (float& v : out) {
    seed = seed * 1664525u + 1013904223u;
    v = (float)((seed >> 8) / 8388608.0 - 1.0);
  }
  return out;
}

TEST(RealTransform, OwnTransformIsTheDefinitionToFloatRounding) {
  // n: the lengths met in practice and the shapes of factorisation the code handles.
  const int lengths[] = {
      2, 3, 4, 5,  // one butterfly of each small radix
      7, 97,       // primes: the general butterfly alone
      16, 60,      // twos only; twos, a three and a five
      1152,        // the classic window at 44.1 kHz: 2^7 3^2
      1254,        // at 48 kHz: 2 3 11 19
      2508,        // at 96 kHz
      4096,        // the log layout's window
  };
  for (int n : lengths) {
    std::unique_ptr<RealTransform> t = RealTransform::create(n, RealTransform::Kind::Own);
    ASSERT_TRUE(t) << n;
    const std::vector<float> x = noise(n, (unsigned)n);
    std::copy(x.begin(), x.end(), t->input());
    t->execute();
    // The definition, X[k] = sum x[j] e^(-2 pi i j k / n), in long double with the
    // angle reduced exactly (j k mod n) before the trigonometry.
    std::vector<long double> cosine((size_t)n), sine((size_t)n);
    for (int j = 0; j < n; ++j) {
      cosine[(size_t)j] = cosl(2 * M_PIl * j / n);
      sine[(size_t)j] = sinl(2 * M_PIl * j / n);
    }
    double worst = 0;
    int worstBin = 0;
    for (int k = 0; k <= n / 2; ++k) {
      long double re = 0, im = 0;
      for (int j = 0; j < n; ++j) {
        const size_t at = (size_t)(((long long)j * k) % n);
        re += x[(size_t)j] * cosine[at];
        im -= x[(size_t)j] * sine[at];
      }
      const double error = std::hypot((double)(t->output()[k][0] - re), (double)(t->output()[k][1] - im));
      if (error > worst) worst = error, worstBin = k;
    }
    // Rounding the result to float costs up to 2^-24 of each bin's magnitude, and the
    // bins are at most sum |x| <= n; a wrong twiddle or a misplaced sub-transform is
    // off by the order of the signal itself (about sqrt(n)).
    const double bound = n * std::ldexp(1.0, -23);
    EXPECT_LE(worst, bound) << "n = " << n << ", bin " << worstBin;
  }
}

// Frames of the demo tune, 25 ms apart, analysed by two analysers; counts the bytes that
// differ.
struct Agreement {
  long bytes = 0, differing = 0, frames = 0, framesDiffering = 0;
  int largest = 0;
};

Agreement compareOnTheDemoTune(int rate, SpectrumLayout layout) {
  AudioClip tune;
  synthesiseDemoTune(DEMO_TUNE_SECONDS, &tune);  // played at `rate`: the samples are the same
  SpectrumOptions options;
  options.layout = layout;
  SpectrumAnalyser* fftw = spectrumCreateWith(rate, options);
  SpectrumAnalyser* own = spectrumCreateWithOwnTransform(rate, options);
  Agreement a;
  if (!fftw || !own) return a;
  const int length = spectrumWindowLength(fftw);
  const int64_t frames = tune.frameCount();
  std::vector<float> window((size_t)length * 2);
  for (int64_t start = 0; start + length <= frames; start += rate / 40) {
    std::copy(tune.samples.begin() + start * 2, tune.samples.begin() + (start + length) * 2,
              window.begin());
    const int begin = length / 2 - rate / 80, end = begin + rate / 40;
    unsigned char x[2][SPECTRUM_BANDS], y[2][SPECTRUM_BANDS];
    spectrumExecute(fftw, window.data(), begin, end, x);
    spectrumExecute(own, window.data(), begin, end, y);
    bool any = false;
    for (int c = 0; c < 2; ++c) {
      for (int b = 0; b < SPECTRUM_BANDS; ++b) {
        const int d = std::abs(x[c][b] - y[c][b]);
        a.bytes++;
        if (d) a.differing++, any = true;
        a.largest = std::max(a.largest, d);
      }
    }
    a.frames++;
    a.framesDiffering += any;
  }
  spectrumDestroy(fftw);
  spectrumDestroy(own);
  return a;
}

TEST(RealTransform, SpectrumBytesAgreeWithFftwOnTheDemoTune) {
  // Both transforms are correct to float rounding, so a byte can differ only where a
  // level lies within rounding of a whole step (levels are truncated): rarely, and by
  // one. The automatic gain follows each analyser's own levels, so it could drift
  // apart; it must not.
  const struct {
    int rate;
    SpectrumLayout layout;
  } cases[] = {
      {44100, SpectrumLayout::Classic},  // 1152-sample transforms
      {48000, SpectrumLayout::Classic},  // 1254
      {44100, SpectrumLayout::Log},      // 4096, a power of two
  };
  for (const auto& c : cases) {
    const Agreement a = compareOnTheDemoTune(c.rate, c.layout);
    ASSERT_GT(a.frames, 800) << c.rate;
    std::printf("%d Hz, %s layout: %ld of %ld bytes differ (%.4f%%), in %ld of %ld frames; "
                "largest difference %d\n",
                c.rate, c.layout == SpectrumLayout::Classic ? "classic" : "log", a.differing,
                a.bytes, 100.0 * a.differing / a.bytes, a.framesDiffering, a.frames, a.largest);
    EXPECT_LE(a.largest, 1) << c.rate;
    EXPECT_LE(a.differing * 1000, a.bytes) << c.rate << ": more than one byte in a thousand differs";
  }
}

}  // namespace
