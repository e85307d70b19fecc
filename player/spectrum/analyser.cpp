// The analyser, both layouts, over a real transform (FFTW's, or the program's own where
// the build has no FFTW: spectrum/real_transform.h).
//
// The automatic gain (classic layout). Music is mastered anywhere from quiet to loud, so
// a fixed scale leaves one recording in the bottom of the byte range and pins another at
// the top. The gain follows a reference loudness instead: the strongest band of each
// frame, in dB, smoothed over seconds so that it follows the recording and not the beat.
// The reference reads kTargetLevel; louder moments have the headroom above it.
// - Louder frames pull the reference up with a time constant of kRiseSeconds: a loud
//   entry 20 dB above the reference pins the loudest bands for about two seconds, and
//   one loud click barely counts.
// - Quieter frames let it down by at most kFallDbPerSecond, so a quieter master (or a
//   quieter movement) comes up to the range within seconds...
// - ...but a frame more than kGateDb below the reference is a quiet passage, not a new
//   loudness: it lets the reference down only by kQuietFallDbPerSecond. Quiet passages
//   therefore stay quiet, with zeros in band 0 where the music has no deep bass, which
//   is what the effects' silence rules are made for.
// - A frame too quiet to reach one step at the highest gain does not move it at all, so
//   silence between tracks changes nothing. The first frame that does sets it.
// The gain stays within kAutoMin..kAutoMax; at the highest, a band of 16-bit dither
// still reads 0. Nothing here is random and nothing depends on the clock.
//
// The level scale (classic layout). Linear, levels proportional to amplitude at that
// gain, for every band; or, by default, decibels for bands 1 up: each band's level in dB
// above its own average power over seconds, with the gain's reference setting what counts as
// nothing (decibelLevels says why and how). Band 0 is linear in both.
#include "spectrum/analyser.h"

#include <math.h>

#include <algorithm>
#include <vector>

#include "spectrum/real_transform.h"

namespace {
// Classic layout: band k at k x 44100 / 1152 Hz at every rate.
constexpr double kClassicBandHz = 44100.0 / 1152.0;

constexpr double kOffsetSeconds = 1.0;
constexpr double kTargetLevel = 192;
constexpr double kRiseSeconds = 1.0;
constexpr double kFallDbPerSecond = 1.0;
constexpr double kGateDb = 20;
constexpr double kQuietFallDbPerSecond = 0.25;
constexpr double kAutoMin = 0.5;   // a full-scale sine reads 127
constexpr double kAutoMax = 100;   // a sine at -88 dB of full scale reads 1
constexpr double kAutoFloor = 1.0 / (255 * kAutoMax);

// Decibel levels (classic layout, bands 1 up; see decibelLevels).
constexpr double kStepsPerDb = 10;     // 255 is 25.5 dB above the band's own average
constexpr double kBandSeconds = 3.0;   // time constant of that average
constexpr double kRangeDb = 80;        // below the reference, a band holds nothing...
constexpr double kNoiseFloorDb = -100; // ...nor below this (amplitude, dB of full scale),
                                       // far above a band of 16-bit dither (about -119)

// Log layout.
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

struct LogBand {
  int firstBin, lastBin;  // inclusive range of bins inside the band, or
  int lowBin;             // for a band narrower than a bin: interpolate between
  double fraction;        //   lowBin and lowBin + 1 at this fraction
  bool interpolate;
  double gain;  // the tilt, times 255 over the full level, times the sensitivity
};

unsigned char quantise(double value) {
  // Truncation: a band below one step is 0, with no floor.
  return (unsigned char)std::min(255.0, value);
}
}  // namespace

struct SpectrumAnalyser {
  int sampleRate;
  SpectrumOptions options;
  int length;
  std::unique_ptr<RealTransform> transform;
  float* input;               // the transform's samples and bins
  const float (*output)[2];
  std::vector<double> centre;
  // Classic layout.
  int usableBands;               // bands below the Nyquist frequency
  std::vector<double> amplitude; // 2 x SPECTRUM_BANDS, sine amplitude per band
  std::vector<double> halfBand;  // Hann weights times e^(-i pi n / N), re and im
  double offset[2];              // each channel's constant offset, followed slowly
  bool referenceSet;
  double referenceDb;
  double sensitivity;            // the gain in use
  std::vector<double> bandPower; // 2 x SPECTRUM_BANDS, each band's average power
  double bandsSeconds;           // music the averages have followed so far
  // Log layout.
  std::vector<float> hann;
  std::vector<double> power;  // per bin
  std::vector<LogBand> bands;
};

namespace {

void setUpLog(SpectrumAnalyser* a) {
  const int length = a->length;
  a->hann.resize((size_t)length);
  for (int i = 0; i < length; ++i) {
    a->hann[(size_t)i] = (float)(0.5 - 0.5 * cos(2 * M_PI * i / length));
  }
  a->power.resize((size_t)length / 2 + 1);
  // Band centres are geometric steps from the lowest to the highest frequency; a band's
  // edges lie halfway (geometrically) to its neighbours' centres.
  const int rate = a->sampleRate;
  double top = std::min(kHighestHz, rate * 0.5 * 0.92);
  double ratio = pow(top / kLowestHz, 1.0 / (SPECTRUM_BANDS - 1));
  double binHz = (double)rate / length;
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
    LogBand& band = a->bands[(size_t)b];
    band.firstBin = (int)ceil(lowEdge / binHz);
    band.lastBin = std::min((int)floor(highEdge / binHz), length / 2);
    band.interpolate = band.firstBin > band.lastBin;
    double position = f / binHz;
    band.lowBin = std::min((int)position, length / 2 - 1);
    band.fraction = position - band.lowBin;
    double tiltDb = kTiltDbPerOctave * log2(f / 1000.0);
    band.gain = 255.0 * pow(10.0, (tiltDb - kFullLevelDb) / 20.0) * a->sensitivity;
  }
}

void executeLog(SpectrumAnalyser* a, const float* window, int frameBegin, int frameEnd,
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
    a->transform->execute();
    // Powers per bin; the square root is taken per band, of the strongest bin only.
    double* power = a->power.data();
    for (int k = 0; k <= a->length / 2; ++k) {
      double re = a->output[k][0], im = a->output[k][1];
      power[k] = re * re + im * im;
    }
    for (int b = 0; b < SPECTRUM_BANDS; ++b) {
      const LogBand& band = a->bands[(size_t)b];
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
      out[channel][b] = quantise(level * band.gain);
    }
    if (out[channel][0] == 0) out[channel][0] = 1;
  }
}

// Sine amplitudes of the classic bands of one channel, into amp[0..SPECTRUM_BANDS).
//
// The window less the channel's offset (see followOffset) is transformed as it is (a
// rectangular window), X[k]; the Hann window (periodic, w[n] = 1/2 - 1/2 cos(2 pi n/N))
// is then applied in the frequency domain, where it is three taps:
// Y[k] = X[k] / 2 - (X[k - 1] + X[k + 1]) / 4. A sine of amplitude A on a bin gives
// |Y[k]| = A N / 4, hence the scale 4 / N.
//
// Band 0 is taken half a band up, at 19 Hz, rather than at 0 Hz. At 0 Hz a real
// signal's spectrum meets its own mirror image, and Y[0] = X[0] / 2 - Re(X[1]) / 2: a
// steady 40 Hz bass note would swing between 0 and full level from frame to frame with
// its phase, and the effects read band 0 as the beat and its zero as silence. Half a
// bin up, the mirror image lies a whole bin further off than the note itself, so a note
// reads steadily (to within 17% at 41 Hz, the lowest E of a bass guitar), and the Hann
// window's tails keep everything above 100 Hz out of band 0. It is a direct sum.
void classicAmplitudes(SpectrumAnalyser* a, const float* window, int channel, double offset,
                       double* amp) {
  const int n = a->length;
  const double scale = 4.0 / n;
  double re = 0, im = 0;
  for (int i = 0; i < n; ++i) {
    double v = window[i * 2 + channel] - offset;
    a->input[i] = (float)v;
    re += v * a->halfBand[(size_t)i * 2];
    im += v * a->halfBand[(size_t)i * 2 + 1];
  }
  amp[0] = sqrt(re * re + im * im) * scale;
  a->transform->execute();
  const float (*x)[2] = a->output;
  for (int k = 1; k < a->usableBands; ++k) {
    re = 0.5 * x[k][0] - 0.25 * (x[k - 1][0] + x[k + 1][0]);
    im = 0.5 * x[k][1] - 0.25 * (x[k - 1][1] + x[k + 1][1]);
    amp[k] = sqrt(re * re + im * im) * scale;
  }
  std::fill(amp + std::max(1, a->usableBands), amp + SPECTRUM_BANDS, 0.0);
}

// A constant offset is no sound, yet Hann-weighted it lands in bands 0 and 1, where it
// would keep the effects from ever seeing silence. It is taken out by following each
// channel's mean over about kOffsetSeconds. Taking out each window's own mean instead
// would not do: the mean of a window holding a part of a cycle of a 1 kHz tone is not
// 0, and band 0 would read it, 30 dB below the tone.
void followOffset(SpectrumAnalyser* a, const float* window, int channel, double seconds) {
  double mean = 0;
  for (int i = 0; i < a->length; ++i) mean += window[i * 2 + channel];
  mean /= a->length;
  if (!(seconds > 0) || !isfinite(mean)) return;
  a->offset[channel] += (mean - a->offset[channel]) * (1 - exp(-seconds / kOffsetSeconds));
}

void setSensitivityFromReference(SpectrumAnalyser* a) {
  double reference = pow(10.0, a->referenceDb / 20);
  a->sensitivity = std::min(kAutoMax, std::max(kAutoMin, kTargetLevel / (255 * reference)));
}

// One step of the automatic gain (see the top of the file) over `seconds` of audio whose
// strongest band has amplitude `peak`.
void followLoudness(SpectrumAnalyser* a, double peak, double seconds) {
  if (a->options.sensitivity > 0 || !(seconds > 0) || !(peak >= kAutoFloor)) return;
  const double p = 20 * log10(peak);
  double& r = a->referenceDb;
  if (!a->referenceSet) {
    r = p;
    a->referenceSet = true;
  } else if (p > r) {
    r += (p - r) * (1 - exp(-seconds / kRiseSeconds));
  } else if (p >= r - kGateDb) {
    r = std::max(p, r - kFallDbPerSecond * seconds);
  } else {
    r -= kQuietFallDbPerSecond * seconds;
  }
  // Keep the reference where the gain's bounds put it, so that it never strays beyond
  // them and takes time to come back.
  const double lowest = 20 * log10(kTargetLevel / (255 * kAutoMax));
  const double highest = 20 * log10(kTargetLevel / (255 * kAutoMin));
  r = std::min(highest, std::max(lowest, r));
  setSensitivityFromReference(a);
}

// Levels of bands 1 up in decibels above each band's own average power
// (SpectrumLevels::Decibels). Music's bands differ in loudness by 40 dB and more, the
// bass on top and the upper bands far below it, while the effects' thresholds for a band
// fall only about tenfold from band 26 to band 546. So each band is measured against
// itself: its power averaged over about kBandSeconds, and it reads kStepsPerDb levels per
// dB above that average, 0 at or below it. The average is of power, not of dB, so that
// a band that is mostly empty between loud hits (a hi-hat's) has an average close to its
// hits and they do not all read 255; a band of steady noise, whose power from frame to
// frame is exponential, reads above 5 in about 32% of its frames, above 40 in 7.6% and
// above 57 in 2.2%, whatever its loudness. A transient (a cymbal, a plucked string, a
// syllable) stands out of its band; a held note sinks back over seconds as the average
// takes it in.
//
// What counts as nothing: a band below floorDb, kRangeDb under the automatic gain's
// reference (the loudest band, followed slowly), or under kNoiseFloorDb, reads 0 and its
// average is held at the floor, so that the emptiness above a lossy encoder's cut-off,
// or dither, is never scaled up into a signal.
//
// The averages follow only frames of music: not the frames too quiet to set the gain,
// and not those of a quiet passage (kGateDb under the reference), in which every band
// then reads below its average, and mostly 0, as the passage is quiet. Band 0 keeps its
// linear level: it is the beat and the silence test, so its 0 must mean a quiet moment,
// not a moment quieter than the last few seconds.
void decibelLevels(SpectrumAnalyser* a, const double* amp, double peak, double seconds,
                   unsigned char out[2][SPECTRUM_BANDS]) {
  const double reference = 20 * log10(kTargetLevel / (255 * a->sensitivity));
  const double floorDb = std::max(kNoiseFloorDb, reference - kRangeDb);
  const double floorPower = pow(10.0, floorDb / 10);
  const bool music = seconds > 0 && peak >= kAutoFloor && 20 * log10(peak) >= reference - kGateDb;
  // Over the first kBandSeconds of music the averages are plain averages of the frames
  // so far (the first frame of music sets them), so that a track that opens softly and
  // then comes in loud, or a short one, is measured against its own music within a
  // second, not against its first frame.
  double follow = 0;
  if (music) {
    a->bandsSeconds += seconds;
    follow = std::max(1 - exp(-seconds / kBandSeconds), seconds / a->bandsSeconds);
  }
  for (int channel = 0; channel < 2; ++channel) {
    for (int b = 1; b < SPECTRUM_BANDS; ++b) {
      const int i = channel * SPECTRUM_BANDS + b;
      const double power = std::max(floorPower, amp[i] * amp[i]);
      double& average = a->bandPower[(size_t)i];
      if (music) average += (power - average) * follow;
      // Before the first frame of music there is no average: nothing stands out yet.
      const double above = a->bandsSeconds > 0
                               ? 10 * log10(power / std::max(floorPower, average)) : 0;
      out[channel][b] = quantise(std::max(0.0, kStepsPerDb * above));
    }
  }
}

void executeClassic(SpectrumAnalyser* a, const float* window, int frameBegin, int frameEnd,
                    unsigned char out[2][SPECTRUM_BANDS]) {
  double* amp = a->amplitude.data();
  int frames = std::min(a->length, frameEnd) - std::max(0, frameBegin);
  const double seconds = (double)std::max(0, frames) / a->sampleRate;
  for (int channel = 0; channel < 2; ++channel) {
    double* channelAmp = amp + channel * SPECTRUM_BANDS;
    followOffset(a, window, channel, seconds);
    classicAmplitudes(a, window, channel, a->offset[channel], channelAmp);
    // A NaN or an infinity anywhere (a broken decoder) gives a channel of silence.
    if (!std::all_of(channelAmp, channelAmp + SPECTRUM_BANDS,
                     [](double v) { return isfinite(v); })) {
      std::fill(channelAmp, channelAmp + SPECTRUM_BANDS, 0.0);
    }
  }
  double peak = *std::max_element(amp, amp + 2 * SPECTRUM_BANDS);
  followLoudness(a, peak, seconds);
  const double scale = 255 * a->sensitivity;
  for (int channel = 0; channel < 2; ++channel) {
    for (int b = 0; b < SPECTRUM_BANDS; ++b) {
      out[channel][b] = quantise(amp[channel * SPECTRUM_BANDS + b] * scale);
    }
  }
  if (a->options.levels == SpectrumLevels::Decibels) decibelLevels(a, amp, peak, seconds, out);
}

}  // namespace

SpectrumAnalyser* spectrumCreate(int sampleRate) {
  return spectrumCreateWith(sampleRate, SpectrumOptions());
}

namespace {
SpectrumAnalyser* createAnalyser(int sampleRate, const SpectrumOptions& options,
                                 RealTransform::Kind kind) {
  if (sampleRate < 1000 || sampleRate > 768000) return nullptr;
  const double s = options.sensitivity;
  if (!(s == 0 || (s >= SPECTRUM_SENSITIVITY_MIN && s <= SPECTRUM_SENSITIVITY_MAX))) {
    return nullptr;
  }
  int length;
  if (options.layout == SpectrumLayout::Classic) {
    // As many samples as 1152 are at 44.1 kHz, so that bin k lies at k x 38.28 Hz
    // (to 0.01% at 48 and 96 kHz) with no interpolation between bins.
    length = (int)lround(sampleRate / kClassicBandHz);
  } else {
    // 85 ms of audio or a little more: 4096 frames at 44.1 and 48 kHz, enough to tell
    // 30 Hz from 40.
    length = 256;
    while (length < sampleRate * 0.085) length *= 2;
  }

  SpectrumAnalyser* a = new SpectrumAnalyser();
  a->sampleRate = sampleRate;
  a->options = options;
  a->length = length;
  a->sensitivity = s > 0 ? s : 1;
  a->transform = RealTransform::create(length, kind);
  if (!a->transform) {
    spectrumDestroy(a);
    return nullptr;
  }
  a->input = a->transform->input();
  a->output = a->transform->output();
  a->centre.resize(SPECTRUM_BANDS);
  if (options.layout == SpectrumLayout::Classic) {
    // Band k needs bin k + 1, and bins run up to length / 2.
    a->usableBands = std::min<int>(SPECTRUM_BANDS, length / 2);
    a->amplitude.resize(2 * SPECTRUM_BANDS);
    a->bandPower.assign(2 * SPECTRUM_BANDS, 0.0);
    a->halfBand.resize((size_t)length * 2);
    for (int i = 0; i < length; ++i) {
      double w = 0.5 - 0.5 * cos(2 * M_PI * i / length);
      a->halfBand[(size_t)i * 2] = w * cos(M_PI * i / length);
      a->halfBand[(size_t)i * 2 + 1] = -w * sin(M_PI * i / length);
    }
    for (int b = 0; b < SPECTRUM_BANDS; ++b) {
      a->centre[(size_t)b] = (double)b * sampleRate / length;
    }
    a->centre[0] = 0.5 * sampleRate / length;
  } else {
    setUpLog(a);
  }
  return a;
}
}  // namespace

SpectrumAnalyser* spectrumCreateWith(int sampleRate, const SpectrumOptions& options) {
  return createAnalyser(sampleRate, options, RealTransform::Kind::Default);
}

SpectrumAnalyser* spectrumCreateWithOwnTransform(int sampleRate, const SpectrumOptions& options) {
  return createAnalyser(sampleRate, options, RealTransform::Kind::Own);
}

void spectrumDestroy(SpectrumAnalyser* a) {
  delete a;
}

int spectrumWindowLength(const SpectrumAnalyser* a) { return a->length; }

double spectrumBandFrequency(const SpectrumAnalyser* a, int band) {
  return a->centre[(size_t)std::max(0, std::min(band, SPECTRUM_BANDS - 1))];
}

double spectrumSensitivity(const SpectrumAnalyser* a) { return a->sensitivity; }

void spectrumExecute(SpectrumAnalyser* a, const float* window, int frameBegin, int frameEnd,
                     unsigned char out[2][SPECTRUM_BANDS]) {
  if (a->options.layout == SpectrumLayout::Classic) {
    executeClassic(a, window, frameBegin, frameEnd, out);
  } else {
    executeLog(a, window, frameBegin, frameEnd, out);
  }
}
