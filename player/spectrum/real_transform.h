// The analyser's transform: the discrete Fourier transform of a block of real samples,
// bins 0 to n / 2 (the rest mirror them), unnormalised, as FFTW's r2c computes it.
// Two implementations behind one interface: FFTW where the build has it (the native
// player) and a mixed-radix transform of this program's own, for builds without FFTW
// (the web page). The caller writes the samples into input(), runs execute() and reads
// output(); nothing is allocated after creation.
#pragma once

#include <memory>

class RealTransform {
 public:
  enum class Kind {
    Default,  // FFTW where the build has it, else the own transform
    Own,      // always the own mixed-radix transform
  };
  // A transform of n samples (n >= 2), or null when it cannot be made.
  static std::unique_ptr<RealTransform> create(int n, Kind kind = Kind::Default);
  virtual ~RealTransform() = default;

  int length() const { return n_; }
  float* input() { return input_; }                    // n samples
  const float (*output() const)[2] { return output_; }  // n / 2 + 1 bins, re and im
  virtual void execute() = 0;

 protected:
  explicit RealTransform(int n) : n_(n) {}
  int n_;
  float* input_ = nullptr;
  float (*output_)[2] = nullptr;
};
