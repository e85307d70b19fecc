// FFTW3-based analyser. The plan is made with FFTW_ESTIMATE: measured plans may differ
// between runs, and a different plan may round differently, which would break the
// frame-for-frame reproducibility that --seed promises.
#include "spectrum/analyser.h"

#include <fftw3.h>
#include <math.h>

#include <algorithm>
#include <vector>

namespace {
constexpr double kLowestHz = 45.0;
// Band 0 is the bass as a whole, 20 to 80 Hz: the effects read band 0 as the beat (and
// as the silence test), so it has to see a kick drum or a bass line wherever its
// fundamental lies; bands 1 onwards resolve the same range finely.
constexpr double kBassLowHz = 20.0;
constexpr double kBassHighHz = 80.0;
constexpr double kHighestHz = 16000.0;
// Level 255 is a sine at -14 dB of full scale (after the tilt); levels are proportional
// to amplitude below it.
constexpr double kFullLevelDb = -14.0;
constexpr double kTiltDbPerOctave = 3.0;
constexpr float kSilence = 1.0f / 65536.0f;  // half a 16-bit step

struct Band {
  int firstBin, lastBin;  // inclusive range of bins inside the band, or
  int lowBin;             // for a band narrower than a bin: interpolate between
  double fraction;        //   lowBin and lowBin + 1 at this fraction
  bool interpolate;
  double gain;  // the tilt, times 255 over the full level
};
}  // namespace

struct SpectrumAnalyser {
  int sampleRate;
  int length;
  float* input;
  fftwf_complex* output;
  fftwf_plan plan;
  std::vector<float> hann;
  std::vector<double> magnitude;  // per bin: the power of the transform
  std::vector<Band> bands;
  std::vector<double> centre;
  std::vector<float> scratch;     // window gathered from a clip
};

SpectrumAnalyser* spectrumCreate(int sampleRate) {
  if (sampleRate < 1000 || sampleRate > 768000) return nullptr;
  // 85 ms of audio or a little more: 4096 frames at 44.1 and 48 kHz, enough to tell
  // 30 Hz from 40.
  int length = 256;
  while (length < sampleRate * 0.085) length *= 2;

  SpectrumAnalyser* a = new SpectrumAnalyser();
  a->sampleRate = sampleRate;
  a->length = length;
  a->input = fftwf_alloc_real((size_t)length);
  a->output = fftwf_alloc_complex((size_t)length / 2 + 1);
  a->plan = (a->input && a->output)
                ? fftwf_plan_dft_r2c_1d(length, a->input, a->output, FFTW_ESTIMATE)
                : nullptr;
  if (!a->plan) {
    spectrumDestroy(a);
    return nullptr;
  }
  a->hann.resize((size_t)length);
  for (int i = 0; i < length; ++i) {
    a->hann[(size_t)i] = (float)(0.5 - 0.5 * cos(2 * M_PI * i / length));
  }
  a->magnitude.resize((size_t)length / 2 + 1);
  a->scratch.resize((size_t)length * 2);

  // Band centres are geometric steps from the lowest to the highest frequency; a band's
  // edges lie halfway (geometrically) to its neighbours' centres.
  double top = std::min(kHighestHz, sampleRate * 0.5 * 0.92);
  double ratio = pow(top / kLowestHz, 1.0 / (SPECTRUM_BANDS - 1));
  double binHz = (double)sampleRate / length;
  a->centre.resize(SPECTRUM_BANDS);
  a->bands.resize(SPECTRUM_BANDS);
  for (int b = 0; b < SPECTRUM_BANDS; ++b) {
    double f = kLowestHz * pow(ratio, b);
    a->centre[(size_t)b] = f;
    double lowEdge = f / sqrt(ratio), highEdge = f * sqrt(ratio);
    if (b == 0) {
      lowEdge = kBassLowHz;
      highEdge = std::min(kBassHighHz, top);
      f = sqrt(lowEdge * highEdge);
      a->centre[0] = f;
    }
    Band& band = a->bands[(size_t)b];
    band.firstBin = (int)ceil(lowEdge / binHz);
    band.lastBin = std::min((int)floor(highEdge / binHz), length / 2);
    band.interpolate = band.firstBin > band.lastBin;
    double position = f / binHz;
    band.lowBin = std::min((int)position, length / 2 - 1);
    band.fraction = position - band.lowBin;
    double tiltDb = kTiltDbPerOctave * log2(f / 1000.0);
    band.gain = 255.0 * pow(10.0, (tiltDb - kFullLevelDb) / 20.0);
  }
  return a;
}

void spectrumDestroy(SpectrumAnalyser* a) {
  if (!a) return;
  if (a->plan) fftwf_destroy_plan(a->plan);
  if (a->input) fftwf_free(a->input);
  if (a->output) fftwf_free(a->output);
  delete a;
}

int spectrumWindowLength(const SpectrumAnalyser* a) { return a->length; }

double spectrumBandFrequency(const SpectrumAnalyser* a, int band) {
  return a->centre[(size_t)std::max(0, std::min(band, SPECTRUM_BANDS - 1))];
}

void spectrumExecute(SpectrumAnalyser* a, const float* window, int frameBegin, int frameEnd,
                     unsigned char out[2][SPECTRUM_BANDS]) {
  frameBegin = std::max(0, frameBegin);
  frameEnd = std::min(a->length, frameEnd);
  // A full-scale sine of amplitude 1 peaks at length / 4 through a Hann window (the
  // window's mean is 1/2 and a real sine splits between two halves of the spectrum).
  const double scale = 4.0 / a->length;
  for (int channel = 0; channel < 2; ++channel) {
    float peak = 0;
    for (int i = frameBegin; i < frameEnd; ++i) {
      peak = std::max(peak, fabsf(window[i * 2 + channel]));
    }
    if (!(peak >= kSilence)) {  // also catches NaN
      std::fill(out[channel], out[channel] + SPECTRUM_BANDS, 0);
      continue;
    }
    for (int i = 0; i < a->length; ++i) {
      a->input[i] = window[i * 2 + channel] * a->hann[(size_t)i];
    }
    fftwf_execute(a->plan);
    // Powers per bin; the square root is taken per band, of the strongest bin only.
    double* power = a->magnitude.data();
    for (int k = 0; k <= a->length / 2; ++k) {
      double re = a->output[k][0], im = a->output[k][1];
      power[k] = re * re + im * im;
    }
    for (int b = 0; b < SPECTRUM_BANDS; ++b) {
      const Band& band = a->bands[(size_t)b];
      double level;
      if (band.interpolate) {
        level = (sqrt(power[band.lowBin]) * (1.0 - band.fraction) +
                 sqrt(power[band.lowBin + 1]) * band.fraction) * scale;
      } else {
        double strongest = 0;
        for (int k = band.firstBin; k <= band.lastBin; ++k) {
          strongest = std::max(strongest, power[k]);
        }
        level = sqrt(strongest) * scale;
      }
      double value = level * band.gain;
      out[channel][b] = (unsigned char)std::min(255.0, value);
    }
    if (out[channel][0] == 0) out[channel][0] = 1;
  }
}
