// The two transforms behind RealTransform.
//
// The own transform is a recursive decimation in time over the prime factors of n, in
// double precision, with the twiddles taken from one table of the n-th roots of unity
// by exact index (so no rounding accumulates from stage to stage). The classic window
// lengths have awkward factors (1152 = 2^7 3^2 at 44.1 kHz, 1254 = 2 3 11 19 at 48
// kHz), so every radix goes through the same general butterfly: a p-point DFT per
// output, O(n times the sum of the factors), some 13 000 (44.1 kHz) to 40 000 (48 kHz)
// complex multiplications per transform, far below anything a frame notices. The input is real; it is carried
// as complex with a zero imaginary part, which costs twice the work of a packed real
// transform and keeps the code short.
#include "spectrum/real_transform.h"

#include <math.h>

#include <complex>
#include <vector>

#ifdef VIS_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

using Complex = std::complex<double>;

class OwnTransform : public RealTransform {
 public:
  explicit OwnTransform(int n) : RealTransform(n) {
    samples_.assign((size_t)n, 0.0f);
    bins_.assign(((size_t)n / 2 + 1) * 2, 0.0f);
    input_ = samples_.data();
    output_ = reinterpret_cast<float (*)[2]>(bins_.data());
    in_.resize((size_t)n);
    out_.resize((size_t)n);
    // The roots of unity e^(-2 pi i j / n). Each is computed from the smallest angle
    // with the same sine and cosine up to sign, so that the table's symmetries hold
    // exactly: the transform of a real input then mirrors exactly too.
    twiddles_.resize((size_t)n);
    for (int j = 0; j < n; ++j) twiddles_[(size_t)j] = root(j, n);
    // The prime factors in increasing order: the general butterfly costs p - 1 complex
    // multiplications per output and stage, so small factors are the cheapest.
    int rest = n;
    for (int p = 2; rest > 1; ++p) {
      if (p * p > rest) p = rest;
      while (rest % p == 0) factors_.push_back(p), rest /= p;
    }
    int largest = 1;
    for (int p : factors_) largest = p > largest ? p : largest;
    scratch_.resize((size_t)largest);
  }

  void execute() override {
    const int n = n_;
    for (int i = 0; i < n; ++i) in_[(size_t)i] = Complex(samples_[(size_t)i], 0.0);
    transform(out_.data(), in_.data(), 1, 0);
    for (int k = 0; k <= n / 2; ++k) {
      bins_[(size_t)k * 2] = (float)out_[(size_t)k].real();
      bins_[(size_t)k * 2 + 1] = (float)out_[(size_t)k].imag();
    }
  }

 private:
  // e^(-2 pi i j / n), from the first octant's angle by symmetry.
  static Complex root(int j, int n) {
    // Reduce to an angle in [0, pi/4] by the symmetries of the circle, in integers:
    // 8 j / n says which octant j lies in.
    const long long jj = j, nn = n;
    const int octant = (int)((8 * jj) / nn);
    long long num;  // the reduced angle is 2 pi num / (8 n), num in [0, n]
    switch (octant) {
      case 0: num = 8 * jj; break;
      case 1: num = 2 * nn - 8 * jj; break;
      case 2: num = 8 * jj - 2 * nn; break;
      case 3: num = 4 * nn - 8 * jj; break;
      case 4: num = 8 * jj - 4 * nn; break;
      case 5: num = 6 * nn - 8 * jj; break;
      case 6: num = 8 * jj - 6 * nn; break;
      default: num = 8 * nn - 8 * jj; break;
    }
    const double angle = 2 * M_PI * (double)num / (double)(8 * nn);
    const double c = cos(angle), s = sin(angle);
    double re, im;  // cos and sin of 2 pi j / n
    switch (octant) {
      case 0: re = c, im = s; break;
      case 1: re = s, im = c; break;
      case 2: re = -s, im = c; break;
      case 3: re = -c, im = s; break;
      case 4: re = -c, im = -s; break;
      case 5: re = -s, im = -c; break;
      case 6: re = s, im = -c; break;
      default: re = c, im = -s; break;
    }
    return Complex(re, -im);
  }

  // out[0..length) = DFT of in[0], in[stride], ... where length = n / stride, using
  // factors_[level..]. The sub-transforms of each residue land side by side in out,
  // then each group of p is combined in place.
  void transform(Complex* out, const Complex* in, int stride, size_t level) {
    const int p = factors_[level];
    const int m = n_ / stride / p;
    if (m == 1) {
      for (int i = 0; i < p; ++i) out[i] = in[(size_t)i * stride];
    } else {
      for (int i = 0; i < p; ++i) {
        transform(out + (size_t)i * m, in + (size_t)i * stride, stride * p, level + 1);
      }
    }
    // X[k] = sum over q of F_q[k mod m] w^(q k), with w = e^(-2 pi i / (p m)), which is
    // the table's entry q k stride (mod n).
    Complex* scratch = scratch_.data();
    for (int u = 0; u < m; ++u) {
      for (int q = 0; q < p; ++q) scratch[q] = out[u + q * m];
      for (int q1 = 0; q1 < p; ++q1) {
        const int k = u + q1 * m;
        const int step = stride * k % n_;
        int index = 0;
        Complex sum = scratch[0];
        for (int q = 1; q < p; ++q) {
          index += step;
          if (index >= n_) index -= n_;
          sum += scratch[q] * twiddles_[(size_t)index];
        }
        out[k] = sum;
      }
    }
  }

  std::vector<float> samples_;
  std::vector<float> bins_;  // re, im pairs
  std::vector<Complex> in_, out_, twiddles_, scratch_;
  std::vector<int> factors_;
};

#ifdef VIS_HAVE_FFTW
// FFTW's plan is made with FFTW_ESTIMATE: measured plans may differ between runs, and a
// different plan may round differently, which would break the frame-for-frame
// reproducibility that --seed promises.
class FftwTransform : public RealTransform {
 public:
  explicit FftwTransform(int n) : RealTransform(n) {
    samples_ = fftwf_alloc_real((size_t)n);
    bins_ = fftwf_alloc_complex((size_t)n / 2 + 1);
    if (samples_ && bins_) plan_ = fftwf_plan_dft_r2c_1d(n, samples_, bins_, FFTW_ESTIMATE);
    input_ = samples_;
    output_ = bins_;
  }
  ~FftwTransform() override {
    if (plan_) fftwf_destroy_plan(plan_);
    if (samples_) fftwf_free(samples_);
    if (bins_) fftwf_free(bins_);
  }
  bool ready() const { return plan_ != nullptr; }
  void execute() override { fftwf_execute(plan_); }

 private:
  float* samples_ = nullptr;
  fftwf_complex* bins_ = nullptr;
  fftwf_plan plan_ = nullptr;
};
#endif

}  // namespace

std::unique_ptr<RealTransform> RealTransform::create(int n, Kind kind) {
  if (n < 2) return nullptr;
#ifdef VIS_HAVE_FFTW
  if (kind == Kind::Default) {
    std::unique_ptr<FftwTransform> fftw(new FftwTransform(n));
    if (!fftw->ready()) return nullptr;
    return fftw;
  }
#endif
  return std::unique_ptr<RealTransform>(new OwnTransform(n));
}
