// The analyser on signals whose answer is known. Classic layout: band k at
// k x 44100 / 1152 Hz at every rate, a sine of amplitude A reading 255 x A x the
// sensitivity (less up to 15% between bins), truncated with no floor; the automatic
// gain's reference reads 192. Log layout: bands log-spaced from 45 Hz, band 0 20-80 Hz,
// tilted +3 dB per octave about 1 kHz, a sine at -14 dB of full scale at 255.
#include <math.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/demo_tune.h"
#include "frame_clock.h"
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

SpectrumAnalyser* classic(int rate, double sensitivity = 0) {
  SpectrumOptions options;
  options.sensitivity = sensitivity;
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
  EXPECT_GE(top, 192);                     // the loud parts reach the top quarter...
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
