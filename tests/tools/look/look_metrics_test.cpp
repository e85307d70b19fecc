// The look figures on frames whose answer is plain from their construction.
#include <math.h>

#include <vector>

#include <gtest/gtest.h>

#include "look/look_metrics.h"

namespace {
constexpr int kW = 100, kH = 100;  // 10000 pixels: 50 of them are 0.5%

struct Frame {
  std::vector<uint32_t> pixels = std::vector<uint32_t>(kW * kH, 0x102030);
  unsigned char spectrum[2][576] = {};
  bool silence = false;
};

void add(LookMeter* meter, const Frame& f) {
  meter->addFrame(f.pixels.data(), kW, kH, kW, f.spectrum, f.silence);
}
}  // namespace

TEST(LookMetrics, BlankFramesAreWithinTwoLevelsOfOneColour) {
  // changed pixel, its value, blank?
  const struct { int at; uint32_t value; bool blank; const char* note; } cases[] = {
      {0, 0x102030, true, "one colour"},
      {5000, 0x142434, true, "every component 4 above: all within 2 of 0x122232"},
      {9999, 0x152030, false, "red 5 above, the last pixel of the frame"},
      {77, 0x10201B, false, "blue 21 below"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    LookMeter meter(1, 0.025);
    Frame f;
    f.spectrum[0][0] = 3;
    f.pixels[(size_t)c.at] = c.value;
    add(&meter, f);
    EXPECT_EQ(meter.figures().blankShare, c.blank ? 1.0 : 0.0);
  }
}

TEST(LookMetrics, FrozenStretchesSilenceFiringsAndDigitalSilence) {
  LookMeter meter(2, 0.025);
  Frame f;
  f.spectrum[0][0] = f.spectrum[1][0] = 9;
  add(&meter, f);
  // 40 frames that each change 49 pixels (under 0.5%): a frozen stretch of 1 s; then one
  // that changes 50, which ends it.
  for (int i = 1; i <= 41; ++i) {
    int changed = i <= 40 ? 49 : 50;
    for (int p = 0; p < changed; ++p) f.pixels[(size_t)p] ^= 0x010000;
    add(&meter, f);
  }
  // 20 frames of music with band 0 at 0 in both channels, in two stretches, one of
  // them with band 0 at 1 in one channel between; then 10 of digital silence, which
  // count as neither firings nor frozen frames, nor as music.
  for (int i = 0; i < 21; ++i) {
    f.spectrum[0][0] = 0;
    f.spectrum[1][0] = i == 10 ? 1 : 0;
    f.pixels[(size_t)(i * 60)] ^= 0xFFFFFF;  // 1 pixel: frozen, but only 21 frames
    add(&meter, f);
  }
  f.silence = true;
  for (int i = 0; i < 10; ++i) add(&meter, f);
  LookFigures figures = meter.figures();
  EXPECT_EQ(figures.frames, 73);
  EXPECT_EQ(figures.silentFrames, 10);
  EXPECT_DOUBLE_EQ(figures.longestFrozenSeconds, 1.0);
  // Frames 2..63 changed 40 x 49 + 50 + 21 x 1 pixels of 10000.
  EXPECT_NEAR(figures.meanChange, (40 * 49 + 50 + 21) / 62.0 / 10000, 1e-12);
  const double minutes = 63 * 0.025 / 60;
  EXPECT_NEAR(figures.firingsPerMinute, 20 / minutes, 1e-9);
  EXPECT_NEAR(figures.firingStretchesPerMinute, 2 / minutes, 1e-9);
  // Uniform but for red at 0x10 or 0x11 up to frame 42; inverted pixels after.
  EXPECT_NEAR(figures.blankShare, 42.0 / 63, 1e-12);
}

TEST(LookMetrics, ZarvennBackgroundAgainstBassAndTovanelCover) {
  LookMeter zarvenn(0, 0.025);
  for (int bass = 0; bass < 60; bass += 7) {
    Frame f;
    int grey = 255 - 2 * bass;
    std::fill(f.pixels.begin(), f.pixels.end(), (uint32_t)grey * 0x010101);
    for (int p = 0; p < 3000; p += 3) f.pixels[(size_t)p] = 0xFFFFFF;  // white flakes
    f.spectrum[0][0] = (unsigned char)(bass / 2);
    f.spectrum[1][0] = (unsigned char)(bass - bass / 2);
    add(&zarvenn, f);
  }
  EXPECT_NEAR(zarvenn.figures().bassCorrelation, -1.0, 1e-9);

  LookMeter tovanel(3, 0.025);
  Frame f;
  f.spectrum[0][0] = 1;
  std::fill(f.pixels.begin(), f.pixels.end(), 0x000032u);  // the dark-blue background
  std::fill(f.pixels.begin(), f.pixels.begin() + kW * kH / 4, 0xFF0000u);
  add(&tovanel, f);
  std::fill(f.pixels.begin(), f.pixels.end() - 49, 0x00FF00u);  // 99.51% covered
  add(&tovanel, f);
  LookFigures figures = tovanel.figures();
  EXPECT_NEAR(figures.meanCover, (0.25 + 0.9951) / 2, 1e-9);
  EXPECT_DOUBLE_EQ(figures.fullCoverShare, 0.5);
  EXPECT_TRUE(isnan(LookMeter(1, 0.025).figures().bassCorrelation));
}

TEST(LookMetrics, HearingByTheEffectsRules) {
  // 100 frames of music. Each row sets, for one particle, its reversal band in `rev`
  // frames to one above its threshold (and to the threshold itself otherwise), its
  // radius band to 41 in `sat` frames (40 otherwise), and its two size bands to a sum of
  // 64 in `deep` frames (Koch depth 2) and of 63 otherwise (depth 1).
  const struct { int particle, rev, sat, deep; bool alive, satellites, depth; const char* note; }
      cases[] = {
          {0, 2, 2, 5, true, true, true, "each at its lower bound"},
          {1, 1, 1, 4, false, false, false, "each just under it: deaf, no satellite, shallow"},
          {2, 60, 0, 0, true, false, false, "reverses in 60%: still alive"},
          {3, 61, 100, 100, false, true, true, "61%: jitters"},
          {20, 30, 50, 50, true, true, true, "the last, band 546 above 5, on channel 0"},
          {19, 30, 0, 0, true, false, false, "an odd one, on channel 1"},
      };
  LookMeter meter(1, 0.025, 2);
  for (int frame = 0; frame < 100; ++frame) {
    Frame f;
    f.spectrum[0][0] = 64;  // black (64 + 64) in frames 0..9, silent in 10..14
    f.spectrum[1][0] = frame < 10 ? 64 : frame < 15 ? 0 : 1;
    if (frame >= 10 && frame < 15) f.spectrum[0][0] = 0;
    for (const auto& c : cases) {
      unsigned char* s = f.spectrum[c.particle % 2];
      const int k = 26 * (c.particle + 1);
      s[k] = (unsigned char)((576 - 26 * c.particle) / 10 + (frame < c.rev));
      s[k - 2] = frame < c.sat ? 41 : 40;
      // Band k is also half of the size: band k - 1 makes the sum 64 or 63.
      s[k - 1] = (unsigned char)((frame < c.deep ? 64 : 63) - s[k]);
    }
    add(&meter, f);
  }
  const Hearing h = meter.figures().hearing;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.note);
    EXPECT_EQ((h.alive >> c.particle & 1) != 0, c.alive);
    EXPECT_EQ((h.satellites >> c.particle & 1) != 0, c.satellites);
    EXPECT_EQ((h.depth >> c.particle & 1) != 0, c.depth);
    EXPECT_DOUBLE_EQ(h.reversal[c.particle], c.rev / 100.0);
  }
  EXPECT_EQ(h.aliveCount(), 4);
  EXPECT_EQ(h.satellitesCount(), 3);
  EXPECT_EQ(h.depthCount(), 3);
  EXPECT_DOUBLE_EQ(h.blackShare, 0.10);
  EXPECT_DOUBLE_EQ(h.silentShare, 0.05);
}
