// A small additive synthesiser and a direct Fourier transform of one analysis window
// per frame. Speed does not matter here (frames are generated ahead of the timed
// loops), so the transform is the plain sum over a precomputed table of twiddles.
#include "synthetic_music.h"

#include <math.h>
#include <stdint.h>

namespace {

const double kPi = 3.14159265358979323846;
const double kSampleRate = 44100.0;
const int kWindow = 2 * MUSIC_BANDS;              // 1152 samples, bins 38 Hz apart
const double kFrameSamples = kSampleRate * 0.025;  // 1102.5
const double kBeat = 0.5;                          // 120 beats per minute

// A deterministic white noise in -1..1 from the sample index (an integer hash).
double noise(int64_t n) {
  uint32_t x = static_cast<uint32_t>(n) * 2654435761u;
  x ^= x >> 15;
  x *= 2246822519u;
  x ^= x >> 13;
  return (x & 0xffffff) / 8388608.0 - 1.0;
}

double noteHz(int semitonesFromA4) { return 440.0 * pow(2.0, semitonesFromA4 / 12.0); }

// One sample of channel ch at sample index n.
double sample(int64_t n, int ch) {
  const double t = n / kSampleRate;
  const int beat = static_cast<int>(t / kBeat);
  const double inBeat = t - beat * kBeat;
  const int bar = beat / 4;

  // Kick: a sine falling from 110 Hz to 45 Hz, fading over 0.25 s.
  const double kickPhase = 2 * kPi * (45.0 * inBeat + 65.0 * 0.03 * (1 - exp(-inBeat / 0.03)));
  const double kick = 0.9 * exp(-inBeat / 0.12) * sin(kickPhase);

  // Bass line and chord follow a four-bar progression.
  static const int roots[4] = {-24, -19, -21, -17};  // A2, D3, C3, E3 relative to A4
  const int root = roots[bar % 4];
  const double bass = 0.35 * sin(2 * kPi * noteHz(root - 12) * t) * (0.6 + 0.4 * exp(-inBeat / 0.2));
  double chord = 0;
  const int intervals[3] = {0, 4, 7};
  for (int k = 0; k < 3; ++k) {
    const double f = noteHz(root + 12 + intervals[k]);
    for (int h = 1; h <= 8; ++h) chord += 0.06 / h * sin(2 * kPi * f * h * t + k);
  }
  // Melody: one note per half beat from a pentatonic scale, a bright sawtooth-like
  // tone (harmonics up to 10 kHz) with a quick decay.
  static const int scale[8] = {0, 3, 5, 7, 10, 12, 15, 17};
  const int step = static_cast<int>(t / (kBeat / 2));
  const double inStep = t - step * (kBeat / 2);
  const double melodyHz = noteHz(scale[(step * 5 + bar) % 8]);
  double melody = 0;
  for (int h = 1; h * melodyHz < 10000.0; ++h) melody += 0.12 / h * sin(2 * kPi * melodyHz * h * t);
  melody *= 0.3 + 0.7 * exp(-inStep / 0.15);
  // Hi-hat on every eighth note, snare on beats 2 and 4, and a faint hiss throughout,
  // so that the upper bands are never empty.
  const double inEighth = fmod(t, kBeat / 2);
  const double hat = 0.12 * exp(-inEighth / 0.04) * noise(n * 2 + ch);
  const double snare =
      (beat % 2 == 1) ? exp(-inBeat / 0.09) * (0.3 * noise(n * 3 + 7) + 0.2 * sin(2 * kPi * 185.0 * t)) : 0;
  const double hiss = 0.004 * noise(n * 5 + 11 * ch);
  const double drums = snare + hiss;
  // Channel 1 carries more melody and hat, channel 0 more chord.
  return ch == 0 ? kick + bass + drums + 1.2 * chord + 0.7 * melody + 0.7 * hat
                 : kick + bass + drums + 0.8 * chord + 1.3 * melody + 1.3 * hat;
}

struct Tables {
  double window[kWindow];
  double cosine[kWindow];
  double sine[kWindow];
  Tables() {
    for (int n = 0; n < kWindow; ++n) {
      window[n] = 0.5 - 0.5 * cos(2 * kPi * n / kWindow);
      cosine[n] = cos(2 * kPi * n / kWindow);
      sine[n] = sin(2 * kPi * n / kWindow);
    }
  }
};

}  // namespace

void syntheticMusicFrame(int frame, unsigned char out[MUSIC_CHANNELS][MUSIC_BANDS]) {
  static const Tables tables;
  const int64_t start = static_cast<int64_t>(frame * kFrameSamples);
  double x[kWindow];
  for (int ch = 0; ch < MUSIC_CHANNELS; ++ch) {
    for (int n = 0; n < kWindow; ++n) x[n] = sample(start + n, ch) * tables.window[n];
    for (int band = 0; band < MUSIC_BANDS; ++band) {
      // Band j is bin j + 1: the lowest band starts above the DC term.
      const int bin = band + 1;
      double re = 0, im = 0;
      int index = 0;
      for (int n = 0; n < kWindow; ++n) {
        re += x[n] * tables.cosine[index];
        im -= x[n] * tables.sine[index];
        index += bin;
        if (index >= kWindow) index -= kWindow;
      }
      // A full-scale sine gives a magnitude of about kWindow / 4 under a Hann window;
      // 0 dB there maps to 255 and -84 dB to 0.
      const double magnitude = sqrt(re * re + im * im) / (kWindow / 4.0);
      const double db = 20 * log10(magnitude + 1e-12);
      double level = (db + 84.0) * (255.0 / 84.0);
      if (level < 1) level = 1;  // music is never digital silence
      if (level > 255) level = 255;
      out[ch][band] = static_cast<unsigned char>(level);
    }
  }
}
