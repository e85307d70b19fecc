// What all four effects share: number conversion, the channel pick, object lifetimes
// over many frames of music, and surfaces without pixels.
#include <limits.h>
#include <math.h>

#include "module_fixture.h"
#include "modules/module_common.h"
#include "synthetic_music.h"

namespace {

using RenderFn = int (*)(VisModule*);
struct Effect {
  const char* name;
  RenderFn render;
};
const Effect kEffects[] = {{"Zarvenn", renderZarvenn},
                           {"Pellox", renderPellox},
                           {"Ambrith", renderAmbrith},
                           {"Tovanel", renderTovanel}};

TEST(ModuleCommon, TruncationSaturates) {
  struct Case {
    double value;
    int expected;
  };
  const Case cases[] = {
      {-3.7, -3},                       // toward zero, not down
      {149.9999999, 149},
      {-0.99, 0},
      {2147483646.9, 2147483646},
      {2147483647.0, INT_MAX},
      {2147483647.9, INT_MAX},          // still truncates to INT_MAX
      {1e300, INT_MAX},
      {-2147483648.9, INT_MIN},
      {-1e300, INT_MIN},
      {INFINITY, INT_MAX},
      {-INFINITY, INT_MIN},
      {NAN, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(truncToInt(c.value), c.expected) << c.value;
  EXPECT_EQ(clampToInt(int64_t{INT_MIN} - 5), INT_MIN);
  EXPECT_EQ(clampToInt(int64_t{INT_MAX} + 5), INT_MAX);
  EXPECT_EQ(clampToInt(-12), -12);
}

TEST(ModuleCommon, ChannelPick) {
  struct Case {
    int particle, channels, expected;
  };
  const Case cases[] = {
      {0, 2, 0}, {1, 2, 1}, {20, 2, 0}, {19, 2, 1},
      {7, 1, 0},
      {3, 0, 0},    // no channels: taken as one, never a division by zero
      {5, -4, 0},
      {2, 6, 1},    // pick 2 of six channels reads the second spectrum channel
      {5, 6, 1}, {6, 6, 0}, {20, 21, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(channelPick(c.particle, c.channels), c.expected) << c.particle << " of " << c.channels;
  }
}

class EffectsTest : public modtest::EffectTest {};

TEST_F(EffectsTest, NoPenOrBrushOutlivesAnyFrame) {
  // Four seconds of music after a short silence, each effect in turn, with the shared
  // state carried from one to the next as in a session that switches effects.
  std::vector<VisModule> frames(160, module);
  for (int n = 3; n < 160; ++n) syntheticMusicFrame(n, frames[n].spectrum);
  visSrand(31337);
  seedParticles();
  for (const Effect& e : kEffects) {
    for (int n = 0; n < 160; ++n) {
      e.render(&frames[n]);
      const modtest::Counts now = modtest::Counts::now();
      ASSERT_EQ(now.pens, before.pens) << e.name << " frame " << n;
      ASSERT_EQ(now.brushes, before.brushes) << e.name << " frame " << n;
    }
  }
  // Worst case too: every band at 255.
  fillSpectrum(255);
  for (const Effect& e : kEffects) {
    for (int n = 0; n < 3; ++n) e.render(&module);
    expectNothingAlive();
  }
}

TEST_F(EffectsTest, EmptySurfaceAndFarAwayParticles) {
  // A surface of 0 x 0 in silent frames: random placements take the size as 1, so
  // they land on 0. Particles a long way off and huge headings must still give
  // defined (saturated) coordinates in every effect.
  setUpSurface(0, 0);
  auto scatterFar = [] {
    for (int i = 0; i < VIS_PARTICLES; ++i) {
      visState.posX[i] = i % 2 ? 1e12 : -1e15;
      visState.posY[i] = i % 3 ? -3e11 : 7e14;
      visState.velX[i] = 10;
      visState.velY[i] = -10;
      visState.heading[i] = 1e9;
      visState.spanLen[i] = 0;
    }
  };
  for (const Effect& e : kEffects) {
    scatterFar();
    e.render(&module);
    if (e.render == renderAmbrith) {
      for (int i = 0; i < VIS_PARTICLES; ++i) {
        EXPECT_EQ(visState.posX[i], 10) << i;   // placed at 0, then moved
        EXPECT_EQ(visState.posY[i], -10) << i;
      }
    }
    if (e.render == renderTovanel) {
      // Beyond the right or bottom edge (x > 0 or y > 0): brought back to 0 and moved.
      for (int i = 0; i < VIS_PARTICLES; ++i) {
        const bool back = (i % 2) || !(i % 3);
        EXPECT_EQ(visState.posX[i], back ? 10 : -1e15 + 10) << i;
      }
    }
  }
  // Loud frames far away: Zarvenn's largest flakes around saturated centres.
  fillSpectrum(255);
  for (const Effect& e : kEffects) {
    scatterFar();
    for (int n = 0; n < 2; ++n) e.render(&module);
  }
  expectNothingAlive();
}

}  // namespace
