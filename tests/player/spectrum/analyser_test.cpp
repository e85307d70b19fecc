// The analyser on signals whose answer is known. Classic layout: band k at
// k x 44100 / 1152 Hz at every rate; on the linear scale a sine of amplitude A reads
// 255 x A x the sensitivity (less up to 15% between bins), truncated with no floor, and
// the automatic gain's reference reads 192; on the decibel scale (the default) bands 1
// up read 10 levels per dB above their own average power, band 0 as on the linear
// scale. Log layout: bands log-spaced from 45 Hz, band 0 20-80 Hz, tilted +3 dB per
// octave about 1 kHz, a sine at -14 dB of full scale at 255.
#include <math.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <fftw3.h>  // the test noise: a spectrum chosen in advance, inverse-transformed

#include <gtest/gtest.h>

#include "audio/demo_tune.h"
#include "frame_clock.h"
#include "look/look_metrics.h"  // HearingMeter: the effects' rules on the spectrum
#include "spectrum/analyser.h"

namespace {
constexpr double kFullLevelDb = -14;

struct Spectrum {
  unsigned char bands[2][SPECTRUM_BANDS];
};

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

// Appends `seconds` of a sine (amplitude a, 0 for silence) to a clip, phase continuous.
void appendTone(AudioClip* clip, double f, double a, double seconds) {
  int64_t start = clip->frameCount(), n = (int64_t)(seconds * clip->sampleRate);
  for (int64_t i = start; i < start + n; ++i) {
    float v = (float)(a * sin(2 * M_PI * f * i / clip->sampleRate));
    clip->samples.push_back(v);
    clip->samples.push_back(v);
  }
}

// The frame clock of a module that asks for a frame every 25 ms, at the clip's rate.
FrameClock clockOf(const AudioClip& clip) {
  VisModule record = {};
  record.frameIntervalMillis = 25;
  FrameClock clock;
  std::string error;
  EXPECT_TRUE(FrameClock::forModule(record, "test", clip.sampleRate, &clock, &error)) << error;
  return clock;
}

// Analyses frame `tick` of the clip, the analyser's window centred on it by the frame
// clock, with zeros outside the clip: what the player hands the analyser.
Spectrum analyseTick(SpectrumAnalyser* a, const AudioClip& clip, int64_t tick) {
  const int length = spectrumWindowLength(a);
  const FrameWindow w = clockOf(clip).window(tick, length);
  std::vector<float> window((size_t)length * 2, 0.0f);
  for (int i = 0; i < length; ++i) {
    int64_t at = w.first + i;
    if (at < 0 || at >= clip.frameCount()) continue;
    window[(size_t)i * 2] = clip.samples[(size_t)at * 2];
    window[(size_t)i * 2 + 1] = clip.samples[(size_t)at * 2 + 1];
  }
  Spectrum out;
  spectrumExecute(a, window.data(), w.begin, w.end, out.bands);
  return out;
}

// Every whole frame of the clip, in order, through one analyser.
std::vector<Spectrum> analyseAll(SpectrumAnalyser* a, const AudioClip& clip) {
  std::vector<Spectrum> out;
  int64_t frames = clockOf(clip).frameAt(clip.frameCount());
  for (int64_t t = 0; t < frames; ++t) out.push_back(analyseTick(a, clip, t));
  return out;
}

SpectrumAnalyser* classic(int rate, double sensitivity = 0,
                          SpectrumLevels levels = SpectrumLevels::Linear) {
  SpectrumOptions options;
  options.sensitivity = sensitivity;
  options.levels = levels;
  return spectrumCreateWith(rate, options);
}

SpectrumAnalyser* logLayout(int rate) {
  SpectrumOptions options;
  options.layout = SpectrumLayout::Log;
  return spectrumCreateWith(rate, options);
}

Spectrum analyseOnce(const AudioClip& clip, int64_t tick) {
  SpectrumAnalyser* a = logLayout(clip.sampleRate);
  EXPECT_NE(a, nullptr);
  Spectrum out = {};
  if (a) out = analyseTick(a, clip, tick);
  spectrumDestroy(a);
  return out;
}

int loudestBand(const unsigned char* bands) {
  return (int)(std::max_element(bands, bands + SPECTRUM_BANDS) - bands);
}

int highest(const Spectrum& s) {
  return *std::max_element(&s.bands[0][0], &s.bands[1][SPECTRUM_BANDS - 1] + 1);
}

// The level the log mapping gives a sine of amplitude a at frequency f.
double expectedLogLevel(double f, double a) {
  double db = 20 * log10(a) + 3.0 * log2(f / 1000.0);
  return std::min(255.0, 255.0 * pow(10.0, (db - kFullLevelDb) / 20));
}

}  // namespace

TEST(ClassicAnalyser, SineLandsInBandOfItsFrequencyAtEveryRate) {
  // rate, tone: the band is round(f x 1152 / 44100) at 44.1, 48 and 96 kHz alike.
  const struct { int rate; double hz; } cases[] = {
      {44100, 100},   {44100, 440},  {44100, 1000}, {44100, 5000}, {44100, 15000},
      {44100, 20000},                                // band 522, near the top
      {48000, 100},   {48000, 440},  {48000, 3000}, {48000, 21000},
      {96000, 250},   {96000, 1000}, {96000, 12200}, {96000, 21900},
      {22050, 3000},                                 // bands above 11 kHz stay 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz rate, tone " << c.hz << " Hz");
    SpectrumAnalyser* a = classic(c.rate, 1.0);
    ASSERT_NE(a, nullptr);
    AudioClip clip = tone(c.rate, c.hz, 0.5, true, false);
    Spectrum out = analyseTick(a, clip, 8);
    const int want = (int)lround(c.hz * 1152 / 44100);
    const int peak = loudestBand(out.bands[0]);
    EXPECT_EQ(peak, want);
    // 255 x 0.5 on a bin; a Hann window catches a tone between bins at 0.85 of it.
    EXPECT_LE(out.bands[0][peak], 128);
    EXPECT_GE(out.bands[0][peak], 107);
    for (int b = 0; b < SPECTRUM_BANDS; ++b) {
      int away = abs(b - want);
      if (away >= 10) {
        ASSERT_EQ(out.bands[0][b], 0) << "band " << b;
      } else if (away >= 4) {
        ASSERT_LE(out.bands[0][b], 2) << "band " << b;
      }
    }
    EXPECT_EQ(*std::max_element(out.bands[1], out.bands[1] + SPECTRUM_BANDS), 0)
        << "the silent right channel";
    EXPECT_NEAR(spectrumBandFrequency(a, want), want * 44100.0 / 1152, want * 0.01);
    spectrumDestroy(a);
  }
}

TEST(ClassicAnalyser, BandZeroHoldsTheDeepBassSteadilyAndIgnoresAnOffset) {
  SpectrumAnalyser* a = classic(44100, 1.0);
  ASSERT_NE(a, nullptr);
  // hz, lowest and highest band 0 over a second (the bass's phase at the window moves
  // from frame to frame), band 1's level; a sine of amplitude 0.5 reads 127 on a bin.
  const struct { double hz; int low0, high0, band1; const char* note; } cases[] = {
      {44100.0 / 1152, 76, 133, 127, "38.3 Hz, on band 1: band 0 at 0.6 to 1.05 of it"},
      {44100.0 * 1.5 / 1152, 60, 67, 108, "57.4 Hz: half way, band 0 at half level"},  // band 1: 0.85 x 127, its mirror image +-3
      {44100.0 * 6.5 / 1152, 0, 1, 0, "249 Hz: at most the offset follower's ripple"},
      {120, 0, 3, 0, "120 Hz: next to nothing in band 0"},
      {200, 0, 0, 0, "200 Hz: nothing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    AudioClip bass = tone(44100, c.hz, 0.5, true, true, 1.0);
    int lowest0 = 255, highest0 = 0;
    for (int t = 2; t < 38; ++t) {
      Spectrum out = analyseTick(a, bass, t);
      if (c.band1) {
        ASSERT_NEAR(out.bands[0][1], c.band1, 4) << "tick " << t;
      }
      lowest0 = std::min<int>(lowest0, out.bands[0][0]);
      highest0 = std::max<int>(highest0, out.bands[0][0]);
    }
    EXPECT_GE(lowest0, c.low0);
    EXPECT_LE(highest0, c.high0);
  }
  // A constant offset is no sound: followed over a second, it is gone from every band
  // six seconds on (0.25 x e^-6 x 1.7 reads below one step at gain 1).
  AudioClip offset = tone(44100, 0, 0, true, true, 8.0);
  std::fill(offset.samples.begin(), offset.samples.end(), 0.25f);
  std::vector<Spectrum> all = analyseAll(a, offset);
  for (size_t t = 240; t + 1 < all.size(); ++t) ASSERT_EQ(highest(all[t]), 0) << "tick " << t;
  spectrumDestroy(a);
}

TEST(ClassicAnalyser, SilenceAndSignalsBelowOneStepGiveZeros) {
  // sensitivity (0: automatic), amplitude, note
  const struct { double sensitivity, amplitude; const char* note; } cases[] = {
      {0, 0.0, "digital silence, automatic gain"},
      {1, 0.0, "digital silence, fixed gain"},
      {1, 0.9 / 255, "a tone just below one step at gain 1"},
      {100, 0.9 / 25500, "the same at gain 100"},
      {0, 1.0 / 32768, "a tone of one 16-bit step: below one step at the highest gain"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    SpectrumAnalyser* a = classic(44100, c.sensitivity);
    ASSERT_NE(a, nullptr);
    AudioClip clip = tone(44100, 1000, c.amplitude, true, true, 2.0);
    for (const Spectrum& s : analyseAll(a, clip)) ASSERT_EQ(highest(s), 0);
    spectrumDestroy(a);
  }
  // Just above one step, the tone shows.
  SpectrumAnalyser* a = classic(44100, 1.0);
  Spectrum out = analyseTick(a, tone(44100, 44100.0 * 26 / 1152, 1.2 / 255), 8);
  EXPECT_EQ(out.bands[0][26], 1);
  // A window holding a NaN (a broken decoder) reads as silence, not as garbage.
  std::vector<float> window((size_t)spectrumWindowLength(a) * 2, 0.5f);
  window[100] = NAN;
  spectrumExecute(a, window.data(), 0, 1102, out.bands);
  EXPECT_EQ(*std::max_element(out.bands[0], out.bands[0] + SPECTRUM_BANDS), 0);
  spectrumDestroy(a);
}

TEST(ClassicAnalyser, AutomaticGainFollowsLoudnessOverSecondsAndHoldsASteadyTone) {
  const double hz = 44100.0 * 20 / 1152;  // on band 20: reads the reference exactly
  const int band = 20;
  auto levels = [&](const AudioClip& clip) {
    SpectrumAnalyser* a = classic(44100);
    std::vector<int> out;
    for (const Spectrum& s : analyseAll(a, clip)) out.push_back(s.bands[0][band]);
    spectrumDestroy(a);
    return out;
  };
  auto at = [](const std::vector<int>& v, double seconds) { return v[(size_t)(seconds * 40)]; };

  // A steady tone at -30 dB of full scale reads 192 from the first frame on, steadily.
  AudioClip steady = tone(44100, hz, 0.0316, true, true, 0);
  appendTone(&steady, hz, 0.0316, 10);
  std::vector<int> v = levels(steady);
  for (size_t t = 1; t + 1 < v.size(); ++t) ASSERT_NEAR(v[t], 192, 1) << "tick " << t;

  // 20 dB louder at 5 s: pinned at first, within 1 dB of 192 (<= 215) two seconds on and
  // within 0.4 dB (<= 201) four seconds on.
  AudioClip rise = tone(44100, hz, 0.01, true, true, 0);
  appendTone(&rise, hz, 0.01, 5);
  appendTone(&rise, hz, 0.1, 6);
  v = levels(rise);
  EXPECT_EQ(at(v, 5.1), 255);
  EXPECT_LE(at(v, 8.0), 215);
  EXPECT_LE(at(v, 9.0), 201);
  EXPECT_GE(at(v, 9.0), 191);

  // 10 dB quieter at 5 s: the gain comes back up by 1 dB a second, so the tone reads
  // 192 x 10^(-10/20) = 61 at first, about half way (-5 dB: 108) five seconds on, and
  // the reference again after ten.
  AudioClip fall = tone(44100, hz, 0.1, true, true, 0);
  appendTone(&fall, hz, 0.1, 5);
  appendTone(&fall, hz, 0.0316, 12);
  v = levels(fall);
  EXPECT_NEAR(at(v, 5.1), 61, 2);
  EXPECT_NEAR(at(v, 10.0), 108, 6);
  EXPECT_NEAR(at(v, 16.0), 192, 1);

  // 30 dB quieter: a quiet passage, not a new loudness. Ten seconds on it has come up by
  // 2.5 dB only: 192 x 10^(-27.5/20) = 8.
  AudioClip passage = tone(44100, hz, 0.1, true, true, 0);
  appendTone(&passage, hz, 0.1, 5);
  appendTone(&passage, hz, 0.00316, 11);
  v = levels(passage);
  EXPECT_NEAR(at(v, 5.1), 6, 1);
  EXPECT_NEAR(at(v, 15.0), 8, 1);

  // Digital silence between two tones leaves the gain where it was.
  AudioClip gap = tone(44100, hz, 0.05, true, true, 0);
  appendTone(&gap, hz, 0.05, 3);
  appendTone(&gap, hz, 0.0, 5);
  appendTone(&gap, hz, 0.05, 2);
  v = levels(gap);
  EXPECT_NEAR(at(v, 8.2), 192, 1);
}

TEST(ClassicAnalyser, QuietAndLoudMastersOfOneTuneGiveTheSamePicture) {
  AudioClip loud;
  synthesiseDemoTune(DEMO_TUNE_SECONDS, &loud);
  AudioClip quiet = loud;
  for (float& s : quiet.samples) s *= 0.1f;  // the same tune mastered 20 dB lower
  SpectrumAnalyser* a = classic(loud.sampleRate);
  SpectrumAnalyser* b = classic(loud.sampleRate);
  long same = 0, total = 0, pinned = 0, silentTicks = 0;
  int top = 0;
  int64_t ticks = (int64_t)(DEMO_TUNE_SECONDS * 40);
  for (int64_t t = 0; t < ticks; ++t) {
    Spectrum x = analyseTick(a, loud, t), y = analyseTick(b, quiet, t);
    double seconds = t / 40.0;
    if (seconds >= DEMO_SILENCE_START + 0.05 && seconds < DEMO_SILENCE_END - 0.05) {
      ASSERT_EQ(highest(x), 0) << "tick " << t;
      ++silentTicks;
    }
    for (int ch = 0; ch < 2; ++ch) {
      for (int band = 0; band < SPECTRUM_BANDS; ++band) {
        same += abs(x.bands[ch][band] - y.bands[ch][band]) <= 1;
        pinned += x.bands[ch][band] == 255;
        top = std::max<int>(top, x.bands[ch][band]);
        ++total;
      }
    }
  }
  EXPECT_GE(silentTicks, 36);
  EXPECT_GT((double)same / total, 0.99);
  EXPECT_GE(top, 192);                        // the loud parts reach the top quarter...
  EXPECT_LT((double)pinned / total, 0.002);   // ...without pinning the bands there
  EXPECT_NEAR(spectrumSensitivity(b), 10 * spectrumSensitivity(a), 0.01 * spectrumSensitivity(b));
  spectrumDestroy(a);
  spectrumDestroy(b);
}

TEST(ClassicAnalyser, RejectsRatesAndSensitivitiesItCannotServe) {
  // rate, sensitivity, accepted, window length
  const struct { int rate; double sensitivity; bool ok; int length; } cases[] = {
      {44100, 0, true, 1152},   {48000, 0, true, 1254},  {96000, 0, true, 2508},
      {8000, 0, true, 209},     {0, 0, false, 0},        {500, 0, false, 0},
      {1000000, 0, false, 0},   {44100, -1, false, 0},   {44100, 0.001, false, 0},
      {44100, 20000, false, 0}, {44100, NAN, false, 0},  {44100, 10000, true, 1152},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz, sensitivity " << c.sensitivity);
    SpectrumAnalyser* a = classic(c.rate, c.sensitivity);
    EXPECT_EQ(a != nullptr, c.ok);
    if (a) {
      EXPECT_EQ(spectrumWindowLength(a), c.length);
    }
    spectrumDestroy(a);
  }
  SpectrumAnalyser* a = spectrumCreate(44100);  // the default is the classic layout
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(spectrumWindowLength(a), 1152);
  EXPECT_NEAR(spectrumBandFrequency(a, 575), 575 * 44100.0 / 1152, 1e-9);
  spectrumDestroy(a);
}

TEST(LogAnalyser, PureToneLandsInItsBandAndNowhereLoudFarFromIt) {
  // rate, frequency: across the range, at several sample rates.
  const struct { int rate; double hz; } cases[] = {
      {44100, 100},   {44100, 440},  {44100, 1000}, {44100, 5000}, {44100, 12000},
      {48000, 250},   {22050, 3000}, {8000, 440},   {96000, 700},
      {2000, 300},    {192000, 15000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << " Hz rate, tone " << c.hz << " Hz");
    SpectrumAnalyser* a = logLayout(c.rate);
    ASSERT_NE(a, nullptr);
    AudioClip clip = tone(c.rate, c.hz, 0.1);
    Spectrum out = analyseTick(a, clip, 8);
    int peak = loudestBand(out.bands[0]);
    double ratio = spectrumBandFrequency(a, 1) / spectrumBandFrequency(a, 0);
    // The loudest band's centre is within two band steps of the tone, or where bands
    // are finer than the transform's bins, within half a bin.
    double binHz = (double)c.rate / spectrumWindowLength(a);
    double allowed = std::max(0.5 * binHz, c.hz * (pow(ratio, 2.5) - 1));
    EXPECT_LE(fabs(spectrumBandFrequency(a, peak) - c.hz), allowed);
    // A Hann window catches a tone between bins at 0 to -1.4 dB (x 0.85) of its level.
    double want = expectedLogLevel(c.hz, 0.1);
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

TEST(LogAnalyser, SilenceGivesZerosAndOnlySilenceGivesZeroInBandZero) {
  // Exact zeros, and noise below half a 16-bit step, are silence.
  AudioClip quiet = tone(44100, 1000, 0.0);
  Spectrum out = analyseOnce(quiet, 5);
  EXPECT_EQ(highest(out), 0);
  AudioClip hum = tone(44100, 1000, 1.0 / 70000);
  out = analyseOnce(hum, 5);
  EXPECT_EQ(highest(out), 0);

  // A high tone alone has nothing in the bass, yet band 0 is not 0: it is not silence.
  AudioClip high = tone(44100, 9000, 0.2);
  out = analyseOnce(high, 5);
  EXPECT_EQ(out.bands[0][0], 1);
  EXPECT_GT(out.bands[0][loudestBand(out.bands[0])], 150);

  // One channel silent, the other not: each channel is judged on its own.
  AudioClip leftOnly = tone(44100, 440, 0.3, true, false);
  out = analyseOnce(leftOnly, 5);
  EXPECT_GT(out.bands[0][0], 0);
  EXPECT_EQ(*std::max_element(out.bands[1], out.bands[1] + SPECTRUM_BANDS), 0);

  // A tick beyond the end of the clip sees only zeros.
  out = analyseOnce(leftOnly, 1000);
  EXPECT_EQ(out.bands[0][0], 0);
}

TEST(LogAnalyser, LouderToneGivesProportionallyLargerValuesScaledByTheSensitivity) {
  // Ten times the amplitude, ten times the level (both truncated to whole levels).
  AudioClip soft = tone(44100, 1000, 0.01), loud = tone(44100, 1000, 0.1);
  Spectrum a = analyseOnce(soft, 6), b = analyseOnce(loud, 6);
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
  Spectrum full = analyseOnce(tone(44100, 1000, 1.0), 6);
  EXPECT_EQ(full.bands[0][peak], 255);
  // A fixed sensitivity of 0.5 halves it.
  SpectrumOptions half;
  half.layout = SpectrumLayout::Log;
  half.sensitivity = 0.5;
  SpectrumAnalyser* h = spectrumCreateWith(44100, half);
  ASSERT_NE(h, nullptr);
  EXPECT_NEAR(analyseTick(h, loud, 6).bands[0][peak], 127 / 2, 2);
  spectrumDestroy(h);
}

TEST(LogAnalyser, DemoTuneUsesTheRangeWithoutPinningAndItsBreakIsSilent) {
  AudioClip clip;
  synthesiseDemoTune(DEMO_TUNE_SECONDS, &clip);
  SpectrumAnalyser* a = logLayout(clip.sampleRate);
  ASSERT_NE(a, nullptr);
  int64_t ticks = (int64_t)(DEMO_TUNE_SECONDS * 40);
  long pinned = 0, total = 0, silentTicks = 0;
  int top = 0;
  for (int64_t t = 0; t < ticks; ++t) {
    Spectrum out = analyseTick(a, clip, t);
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
    for (int ch = 0; ch < 2; ++ch) {
      for (int b = 0; b < SPECTRUM_BANDS; ++b) {
        pinned += out.bands[ch][b] == 255;
        top = std::max<int>(top, out.bands[ch][b]);
        ++total;
      }
    }
  }
  EXPECT_EQ(silentTicks, 40);
  // The kick, whose long tail keeps band 0 above 0 from one beat to the next, peaks at
  // about -17 dB of full scale in the clipped mix.
  EXPECT_GE(top, 176);                     // the loud parts reach the top third...
  EXPECT_LT((double)pinned / total, 0.02); // ...without pinning the bands there
  spectrumDestroy(a);
}

TEST(LogAnalyser, BandLayout) {
  SpectrumAnalyser* a = logLayout(44100);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(spectrumWindowLength(a), 4096);
  EXPECT_NEAR(spectrumBandFrequency(a, 0), 40.0, 1e-9);  // 20..80 Hz
  EXPECT_NEAR(spectrumBandFrequency(a, 1), 45.0 * pow(16000.0 / 45.0, 1.0 / 575), 1e-9);
  EXPECT_NEAR(spectrumBandFrequency(a, SPECTRUM_BANDS - 1), 16000.0, 1e-6);
  spectrumDestroy(a);
}

// The decibel scale, on signals built so that the answer is known: noise whose bands
// are Gaussian, and a beat of kick, bass line and hi-hat whose parts lie in known bands.
namespace {

// Gaussian noise of a spectrum fixed in advance: every bin of a 20 s transform from
// 20 Hz to `cutoff` gets a random phase and the amplitude 1 / sqrt(f) (pink: the same
// power per octave), nothing above. Inverse-transformed in one piece, it holds exactly
// nothing above the cut-off; each band is then a sum of many independent components, so
// its complex value is Gaussian and its power exponential from frame to frame.
AudioClip colouredNoise(double cutoff, double rms, uint32_t seed) {
  const int rate = 44100, n = 20 * rate;
  std::vector<float> left, right;
  for (int channel = 0; channel < 2; ++channel) {
    float* time = fftwf_alloc_real(n);
    fftwf_complex* freq = fftwf_alloc_complex(n / 2 + 1);
    fftwf_plan plan = fftwf_plan_dft_c2r_1d(n, freq, time, FFTW_ESTIMATE);
    uint32_t state = seed + 977u * channel;
    auto uniform = [&state]() {  // xorshift32, in (0, 1)
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      return (state + 0.5) / 4294967296.0;
    };
    for (int k = 0; k <= n / 2; ++k) {
      double f = (double)k * rate / n, phase = 2 * M_PI * uniform();
      double a = f >= 20 && f <= cutoff ? 1 / sqrt(f) : 0;
      freq[k][0] = (float)(a * cos(phase));
      freq[k][1] = (float)(a * sin(phase));
    }
    fftwf_execute(plan);
    double sum = 0;
    for (int i = 0; i < n; ++i) sum += (double)time[i] * time[i];
    const double scale = rms / sqrt(sum / n);
    std::vector<float>& out = channel ? right : left;
    for (int i = 0; i < n; ++i) out.push_back((float)(time[i] * scale));
    fftwf_destroy_plan(plan);
    fftwf_free(time);
    fftwf_free(freq);
  }
  AudioClip clip;
  clip.sampleRate = rate;
  clip.streamChannels = 2;
  for (int i = 0; i < n; ++i) {
    clip.samples.push_back(left[(size_t)i]);
    clip.samples.push_back(right[(size_t)i]);
  }
  return clip;
}

// Share of frames, from `from` on, in which band b of channel ch is above t.
double shareAbove(const std::vector<Spectrum>& frames, size_t from, int ch, int b, int t) {
  long above = 0;
  for (size_t i = from; i < frames.size(); ++i) above += frames[i].bands[ch][b] > t;
  return (double)above / (double)(frames.size() - from);
}

// A band of Gaussian noise has exponential power E from frame to frame, in units of its
// average power. A level above t needs 10 x 10 log10(E) >= t + 1, so the share of frames
// above t is P(E >= 10^((t + 1) / 100)) = exp(-10^((t + 1) / 100)).
double noiseShareAbove(int t) { return exp(-pow(10.0, (t + 1) / 100.0)); }

SpectrumAnalyser* decibels(int rate) { return classic(rate, 0, SpectrumLevels::Decibels); }

}  // namespace

TEST(DecibelLevels, NoiseGivesEveryBandTheSameShareOverEachThreshold) {
  // Pink noise at -20 dB of full scale up to 21 kHz (bands up to 548) in both channels,
  // measured after 4 s, when the bands' averages have settled. Each band's share of
  // frames above a threshold is the exponential law's (noiseShareAbove), whatever its
  // loudness: band 540 is 13 dB under band 26 here. Averaged over the 1092 bands, the
  // share is the law's to within half a point; each band's, from 640 frames, to within
  // 5 standard deviations of a share counted over 640 independent frames (the bands'
  // averages wander a little too; the worst of 1092 bands comes to about 4).
  AudioClip clip = colouredNoise(21000, 0.1, 12345);
  SpectrumAnalyser* a = decibels(clip.sampleRate);
  ASSERT_NE(a, nullptr);
  std::vector<Spectrum> frames = analyseAll(a, clip);
  spectrumDestroy(a);
  const size_t settled = 160;
  // threshold, what crosses it (particle 0's and 20's reversal, a satellite, one band's
  // half of Koch depth 2)
  const int thresholds[] = {57, 5, 40, 32};
  for (int t : thresholds) {
    const double p = noiseShareAbove(t);
    const double sd = sqrt(p * (1 - p) / (frames.size() - settled));
    double sum = 0, worst = 0;  // the mean share, and the worst band's distance in sd
    int count = 0;
    for (int ch = 0; ch < 2; ++ch) {
      for (int b = 1; b <= 546; ++b) {
        const double share = shareAbove(frames, settled, ch, b, t);
        sum += share;
        ++count;
        worst = std::max(worst, fabs(share - p) / sd);
      }
    }
    EXPECT_NEAR(sum / count, p, 0.005) << "threshold " << t;
    EXPECT_LT(worst, 5.0) << "threshold " << t;
  }
  // Which is what the effects need: particle 0 (band 26 above 57) and particle 20
  // (band 546 above 5) both reverse in 2% to 60% of the frames.
  EXPECT_GT(noiseShareAbove(57), 0.02);
  EXPECT_LT(noiseShareAbove(5), 0.35);
}

TEST(DecibelLevels, BandsAboveACutOffAndSilenceReadZero) {
  // Noise with nothing above 8 kHz (band 209), as a lossy encoder leaves it: the bands
  // from 12 above the cut-off on read 0 in every frame (the Hann window's leakage from
  // the last bins below it is 100 dB down there); those below it are alive.
  AudioClip clip = colouredNoise(8000, 0.1, 777);
  SpectrumAnalyser* a = decibels(clip.sampleRate);
  ASSERT_NE(a, nullptr);
  std::vector<Spectrum> frames = analyseAll(a, clip);
  for (size_t i = 0; i < frames.size(); ++i) {
    for (int ch = 0; ch < 2; ++ch) {
      for (int b = 221; b < SPECTRUM_BANDS; ++b) {
        ASSERT_EQ(frames[i].bands[ch][b], 0) << "frame " << i << ", band " << b;
      }
    }
  }
  for (int b = 1; b <= 200; ++b) EXPECT_GT(shareAbove(frames, 160, 0, b, 40), 0.05) << b;
  spectrumDestroy(a);
  // Digital silence, and the same at a fixed gain: zeros throughout.
  for (double sensitivity : {0.0, 1.0}) {
    SpectrumAnalyser* s = classic(44100, sensitivity, SpectrumLevels::Decibels);
    for (const Spectrum& out : analyseAll(s, tone(44100, 1000, 0.0, true, true, 2.0))) {
      ASSERT_EQ(highest(out), 0);
    }
    spectrumDestroy(s);
  }
}

namespace {
// A beat at 120 bpm: a kick (a sine gliding from 100 Hz down to 45, band 0's bass, 30 dB
// down within a quarter of a second) on every beat, a soft sub-bass at 41 Hz and a bass line
// at 110 Hz (band 3) held throughout, and a closed hi-hat (white noise, first-differenced
// so that it lies mostly above 5 kHz, gone within 50 ms) half way between the kicks:
// kicks at frames 0, 20, 40, ... of the 25 ms clock, hi-hats at frames 10, 30, 50, ...
// Loud for the first `loudSeconds`, then the same 30 dB down.
AudioClip beat(double loudSeconds, double seconds) {
  const int rate = 44100;
  const int64_t n = (int64_t)(seconds * rate);
  std::vector<double> mix((size_t)n, 0.0);
  for (int64_t i = 0; i < n; ++i) {
    mix[(size_t)i] = 0.15 * sin(2 * M_PI * 110 * i / rate) + 0.02 * sin(2 * M_PI * 41 * i / rate);
  }
  uint32_t state = 4242;
  for (double at = 0; at < seconds; at += 0.5) {
    double phase = 0;
    for (int64_t j = 0; j < (int64_t)(0.3 * rate); ++j) {
      const double t = (double)j / rate;
      phase += 2 * M_PI * (45 + 55 * exp(-t * 30)) / rate;
      const int64_t i = (int64_t)(at * rate) + j;
      if (i < n) mix[(size_t)i] += 0.6 * sin(phase) * exp(-t * 14);
    }
    double previous = 0;
    for (int64_t j = 0; j < (int64_t)(0.05 * rate); ++j) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const double white = state / 2147483648.0 - 1.0;
      const int64_t i = (int64_t)((at + 0.25) * rate) + j;
      if (i < n) mix[(size_t)i] += 0.25 * (white - previous) * exp(-(double)j / rate * 80);
      previous = white;
    }
  }
  AudioClip clip;
  clip.sampleRate = rate;
  clip.streamChannels = 2;
  for (int64_t i = 0; i < n; ++i) {
    const float v = (float)(mix[(size_t)i] * ((double)i / rate < loudSeconds ? 1.0 : 0.0316));
    clip.samples.push_back(v);
    clip.samples.push_back(v);
  }
  return clip;
}

// Share of particles 4 to 20 (bands 130 to 546, 5 to 21 kHz) whose band is above its
// Pellox reversal threshold, (576 - 26 i) / 10, in frames [from, to) at the clock's
// phase `phase` of 20, the beat (or in all of them, for phase -1).
double upperReversals(const std::vector<Spectrum>& frames, size_t from, size_t to, int phase) {
  long above = 0, count = 0;
  for (size_t f = from; f < to && f < frames.size(); ++f) {
    if (phase >= 0 && (int)(f % 20) != phase) continue;
    for (int i = 4; i <= 20; ++i) {
      above += frames[f].bands[0][26 * (i + 1)] > (576 - 26 * i) / 10;
      ++count;
    }
  }
  return count ? (double)above / count : 0;
}
}  // namespace

TEST(DecibelLevels, HiHatPulsesTheUpperBandsAndAQuietPassageFallsSilent) {
  AudioClip clip = beat(10, 16);
  // From 3 s (frame 120) to the end of the loud part (frame 400), 14 beats of 20 frames;
  // the quiet part from half a second in (frame 420).
  const size_t loud = 120, quiet = 400, settledQuiet = 420;
  for (SpectrumLevels levels : {SpectrumLevels::Decibels, SpectrumLevels::Linear}) {
    const bool db = levels == SpectrumLevels::Decibels;
    SCOPED_TRACE(db ? "decibels" : "linear");
    SpectrumAnalyser* a = classic(clip.sampleRate, 0, levels);
    std::vector<Spectrum> frames = analyseAll(a, clip);
    spectrumDestroy(a);
    // The hi-hat lands in frame 10 or 11 of each beat (the frame's window is 26 ms
    // long); frames 14 to 7, 75 ms and more away from it, hold only kick and bass.
    // In decibels three quarters of the upper particles or more reverse on each hi-hat
    // (each band of its noise scatters about its average level), and none between
    // them; on the linear scale the hi-hat is never heard.
    long hatsHeard = 0;
    for (size_t beatStart = loud; beatStart < quiet; beatStart += 20) {
      double best = std::max(upperReversals(frames, beatStart + 10, beatStart + 11, -1),
                             upperReversals(frames, beatStart + 11, beatStart + 12, -1));
      hatsHeard += best >= 0.75;
    }
    EXPECT_EQ(hatsHeard, db ? 14 : 0);
    for (int phase : {14, 15, 16, 17, 18, 19, 0, 1, 2, 3, 4, 5, 6, 7}) {
      EXPECT_EQ(upperReversals(frames, loud, quiet, phase), 0) << "phase " << phase;
    }
    // 30 dB down, the same music falls under the thresholds: the bands' averages hold
    // (a quiet passage), and the hi-hat is 30 dB under them.
    EXPECT_LT(upperReversals(frames, settledQuiet, frames.size(), -1), 0.05);
    // Band 0, the same on both scales: the kick turns Zarvenn's background black (a sum
    // of 128 or more) in part of the loud frames, and the sub-bass keeps it above 0
    // there; 30 dB down, the sub-bass reads 0 and so does the kick's tail, and band 0
    // reads 0 in most of the quiet frames: the silence rules fire.
    long silentLoud = 0, black = 0, silentQuiet = 0;
    for (size_t f = loud; f < quiet; ++f) {
      const int bass = frames[f].bands[0][0] + frames[f].bands[1][0];
      silentLoud += bass == 0;
      black += bass >= 128;
    }
    for (size_t f = settledQuiet; f < frames.size(); ++f) {
      silentQuiet += frames[f].bands[0][0] + frames[f].bands[1][0] == 0;
    }
    EXPECT_EQ(silentLoud, 0);
    EXPECT_GT(black, 14 * 2);  // two or more frames per kick
    EXPECT_GT(silentQuiet, (long)(frames.size() - settledQuiet) / 2);
  }
}

TEST(DecibelLevels, EveryParticleHearsTheDemoTune) {
  // The demo tune, a cycle of it, by the effects' own rules (look_metrics.h): on the
  // decibel scale every particle reverses in 2% to 60% of the frames, grows satellites
  // and reaches Koch depth 2; on the linear scale the bands above 1 kHz read too little
  // for any of it. Band 0, linear on both scales, fires the silence rules in the same
  // frames and turns Zarvenn's background black in the same frames.
  AudioClip clip;
  synthesiseDemoTune(DEMO_TUNE_SECONDS, &clip);
  Hearing heard[2];
  for (int linear = 0; linear < 2; ++linear) {
    SpectrumAnalyser* a = classic(clip.sampleRate, 0,
                                  linear ? SpectrumLevels::Linear : SpectrumLevels::Decibels);
    HearingMeter meter(2);
    std::vector<Spectrum> frames = analyseAll(a, clip);
    for (size_t t = 0; t < frames.size(); ++t) {
      const double at = t / 40.0;  // the silent second is no music
      if (at < DEMO_SILENCE_START || at >= DEMO_SILENCE_END) meter.add(frames[t].bands);
    }
    spectrumDestroy(a);
    heard[linear] = meter.hearing();
  }
  EXPECT_EQ(heard[0].aliveCount(), 21);
  EXPECT_EQ(heard[0].satellitesCount(), 21);
  EXPECT_EQ(heard[0].depthCount(), 21);
  EXPECT_LE(heard[1].aliveCount(), 2);
  EXPECT_LE(heard[1].satellitesCount(), 2);
  EXPECT_LE(heard[1].depthCount(), 2);
  EXPECT_EQ(heard[0].silentShare, heard[1].silentShare);
  EXPECT_EQ(heard[0].blackShare, heard[1].blackShare);
  EXPECT_GT(heard[0].silentShare, 0.03);  // the fade before the silent second
  EXPECT_GT(heard[0].blackShare, 0.05);
}
