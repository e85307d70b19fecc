// The analyser on signals whose answer is known from the documented mapping: a band's
// level is proportional to amplitude, tilted +3 dB per octave about 1 kHz, with a sine
// at -14 dB of full scale at 255; band 0 is 20-80 Hz, bands 1.. log-spaced from 45 Hz.
#include <math.h>

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "audio/demo_tune.h"
#include "frame_clock.h"
#include "spectrum/analyser.h"

namespace {
constexpr double kFullLevelDb = -14;

// A clip of `seconds` with a sine of amplitude a at f Hz on the chosen channels.
AudioClip tone(int rate, double f, double a, bool left = true, bool right = true,
               double seconds = 0.5) {
  AudioClip clip;
  clip.sampleRate = rate;
  clip.streamChannels = 2;
  int64_t n = (int64_t)(seconds * rate);
  clip.samples.resize((size_t)n * 2);
  for (int64_t i = 0; i < n; ++i) {
    float v = (float)(a * sin(2 * M_PI * f * i / rate));
    clip.samples[(size_t)i * 2] = left ? v : 0.0f;
    clip.samples[(size_t)i * 2 + 1] = right ? v : 0.0f;
  }
  return clip;
}

// Analyses frame `tick` of the clip at a module's usual 25 ms clock, the window
// centred on it, zeros outside the clip.
void spectrumAnalyseTick(SpectrumAnalyser* a, const AudioClip& clip, int64_t tick,
                         unsigned char out[2][SPECTRUM_BANDS]) {
  VisModule record = {};
  record.frameIntervalMillis = 25;
  FrameClock clock;
  std::string error;
  ASSERT_TRUE(FrameClock::forModule(record, "test", clip.sampleRate, &clock, &error)) << error;
  const int length = spectrumWindowLength(a);
  FrameWindow w = clock.window(tick, length);
  std::vector<float> window((size_t)length * 2);
  for (int i = 0; i < length; ++i) {
    int64_t at = w.first + i;
    bool inside = at >= 0 && at < clip.frameCount();
    window[(size_t)i * 2] = inside ? clip.samples[(size_t)at * 2] : 0.0f;
    window[(size_t)i * 2 + 1] = inside ? clip.samples[(size_t)at * 2 + 1] : 0.0f;
  }
  spectrumExecute(a, window.data(), w.begin, w.end, out);
}

struct Analysed {
  unsigned char bands[2][SPECTRUM_BANDS];
};

Analysed analyse(const AudioClip& clip, int64_t tick) {
  SpectrumAnalyser* a = spectrumCreate(clip.sampleRate);
  EXPECT_NE(a, nullptr);
  Analysed out = {};
  if (a) spectrumAnalyseTick(a, clip, tick, out.bands);
  spectrumDestroy(a);
  return out;
}

int loudestBand(const unsigned char* bands) {
  return (int)(std::max_element(bands, bands + SPECTRUM_BANDS) - bands);
}

// The level the mapping gives a sine of amplitude a at frequency f.
double expectedLevel(double f, double a) {
  double db = 20 * log10(a) + 3.0 * log2(f / 1000.0);
  return std::min(255.0, 255.0 * pow(10.0, (db - kFullLevelDb) / 20));
}

}  // namespace

TEST(Analyser, PureToneLandsInItsBandAndNowhereLoudFarFromIt) {
  // rate, frequency: across the range, at several sample rates.
  const struct { int rate; double hz; } cases[] = {
      {44100, 100},   {44100, 440},  {44100, 1000}, {44100, 5000}, {44100, 12000},
      {48000, 250},   {22050, 3000}, {8000, 440},   {96000, 700},
      {2000, 300},    {192000, 15000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz rate, tone " << c.hz << " Hz");
    SpectrumAnalyser* a = spectrumCreate(c.rate);
    ASSERT_NE(a, nullptr);
    AudioClip clip = tone(c.rate, c.hz, 0.1);
    Analysed out;
    spectrumAnalyseTick(a, clip, 8, out.bands);
    int peak = loudestBand(out.bands[0]);
    double ratio = spectrumBandFrequency(a, 1) / spectrumBandFrequency(a, 0);
    // The loudest band's centre is within two band steps of the tone, or where bands
    // are finer than the transform's bins, within half a bin.
    double binHz = (double)c.rate / spectrumWindowLength(a);
    double allowed = std::max(0.5 * binHz, c.hz * (pow(ratio, 2.5) - 1));
    EXPECT_LE(fabs(spectrumBandFrequency(a, peak) - c.hz), allowed);
    // A Hann window catches a tone between bins at 0 to -1.4 dB (x 0.85) of its level.
    double want = expectedLevel(c.hz, 0.1);
    EXPECT_LE(out.bands[0][peak], want + 1);
    EXPECT_GE(out.bands[0][peak], std::min(254.0, want * 0.84 - 1));
    // An octave or more away from the tone, nothing is loud.
    for (int b = 0; b < SPECTRUM_BANDS; ++b) {
      if (fabs(log2(spectrumBandFrequency(a, b) / c.hz)) >= 1.0) {
        ASSERT_LT(out.bands[0][b], 40) << "band " << b;
      }
    }
    EXPECT_EQ(memcmp(out.bands[0], out.bands[1], SPECTRUM_BANDS), 0);
    spectrumDestroy(a);
  }
}

TEST(Analyser, SilenceGivesZerosAndOnlySilenceGivesZeroInBandZero) {
  // Exact zeros, and noise below half a 16-bit step, are silence.
  AudioClip quiet = tone(44100, 1000, 0.0);
  Analysed out = analyse(quiet, 5);
  for (int ch = 0; ch < 2; ++ch)
    for (int b = 0; b < SPECTRUM_BANDS; ++b) ASSERT_EQ(out.bands[ch][b], 0);
  AudioClip hum = tone(44100, 1000, 1.0 / 70000);
  out = analyse(hum, 5);
  EXPECT_EQ(*std::max_element(&out.bands[0][0], &out.bands[1][SPECTRUM_BANDS - 1] + 1), 0);

  // A high tone alone has nothing in the bass, yet band 0 is not 0: it is not silence.
  AudioClip high = tone(44100, 9000, 0.2);
  out = analyse(high, 5);
  EXPECT_EQ(out.bands[0][0], 1);
  EXPECT_GT(out.bands[0][loudestBand(out.bands[0])], 150);

  // One channel silent, the other not: each channel is judged on its own.
  AudioClip leftOnly = tone(44100, 440, 0.3, true, false);
  out = analyse(leftOnly, 5);
  EXPECT_GT(out.bands[0][0], 0);
  EXPECT_EQ(*std::max_element(out.bands[1], out.bands[1] + SPECTRUM_BANDS), 0);

  // A tick beyond the end of the clip sees only zeros.
  out = analyse(leftOnly, 1000);
  EXPECT_EQ(out.bands[0][0], 0);
}

TEST(Analyser, LouderToneGivesProportionallyLargerValues) {
  // Ten times the amplitude, ten times the level (both truncated to whole levels).
  AudioClip soft = tone(44100, 1000, 0.01), loud = tone(44100, 1000, 0.1);
  Analysed a = analyse(soft, 6), b = analyse(loud, 6);
  int peak = loudestBand(b.bands[0]);
  EXPECT_EQ(loudestBand(a.bands[0]), peak);
  EXPECT_NEAR(b.bands[0][peak], 10 * a.bands[0][peak], 10);
  // No band near the tone shrinks.
  for (int band = peak - 3; band <= peak + 3; ++band) {
    EXPECT_GE(b.bands[0][band], a.bands[0][band]) << band;
  }
  // -20 dB at 1 kHz, no tilt there: 6 dB below the full level, 255 / 1.995 = 127.8.
  EXPECT_NEAR(b.bands[0][peak], 127, 3);
  // Full scale at 1 kHz is above the ceiling: pinned at 255.
  Analysed full = analyse(tone(44100, 1000, 1.0), 6);
  EXPECT_EQ(full.bands[0][peak], 255);
}

TEST(Analyser, DemoTuneUsesTheRangeWithoutPinningAndItsBreakIsSilent) {
  AudioClip clip;
  synthesiseDemoTune(DEMO_TUNE_SECONDS, &clip);
  SpectrumAnalyser* a = spectrumCreate(clip.sampleRate);
  ASSERT_NE(a, nullptr);
  int64_t ticks = (int64_t)(DEMO_TUNE_SECONDS * 40);
  long pinned = 0, total = 0, silentTicks = 0;
  int highest = 0;
  for (int64_t t = 0; t < ticks; ++t) {
    Analysed out;
    spectrumAnalyseTick(a, clip, t, out.bands);
    double at = t / 40.0;
    bool silent = out.bands[0][0] == 0 && out.bands[1][0] == 0;
    if (at >= DEMO_SILENCE_START && at < DEMO_SILENCE_END) {
      ASSERT_TRUE(silent) << "tick " << t;
      ++silentTicks;
      continue;
    }
    if (at < DEMO_BREAK_FADE_START - 0.5 || at > DEMO_SILENCE_END + 0.1) {
      ASSERT_FALSE(silent) << "tick " << t;
    }
    for (int ch = 0; ch < 2; ++ch)
      for (int b = 0; b < SPECTRUM_BANDS; ++b) {
        pinned += out.bands[ch][b] == 255;
        highest = std::max<int>(highest, out.bands[ch][b]);
        ++total;
      }
  }
  EXPECT_EQ(silentTicks, 40);
  EXPECT_GE(highest, 192);                 // the loud parts reach the top quarter...
  EXPECT_LT((double)pinned / total, 0.02); // ...without pinning the bands there
  spectrumDestroy(a);
}

TEST(Analyser, RejectsRatesItCannotServe) {
  EXPECT_EQ(spectrumCreate(0), nullptr);
  EXPECT_EQ(spectrumCreate(500), nullptr);
  EXPECT_EQ(spectrumCreate(1000000), nullptr);
  SpectrumAnalyser* a = spectrumCreate(44100);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(spectrumWindowLength(a), 4096);
  EXPECT_NEAR(spectrumBandFrequency(a, 0), 40.0, 1e-9);  // 20..80 Hz
  EXPECT_NEAR(spectrumBandFrequency(a, 1), 45.0 * pow(16000.0 / 45.0, 1.0 / 575), 1e-9);
  EXPECT_NEAR(spectrumBandFrequency(a, SPECTRUM_BANDS - 1), 16000.0, 1e-6);
  spectrumDestroy(a);
}
