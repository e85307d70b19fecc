// The generator and the seeding rule.
#include <gtest/gtest.h>

#include "state/vis_state.h"

namespace {

TEST(Generator, ReproducesTheRuntimeSequence) {
  // Sequences of the C runtime's rand() for these seeds, as the host platform's
  // runtime documents and every Windows program observes them.
  struct Case {
    unsigned seed;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {1, {41, 18467, 6334, 26500, 19169}},
      {0, {38, 7719, 21238}},
  };
  for (const Case& c : cases) {
    visSrand(c.seed);
    for (size_t i = 0; i < c.expected.size(); ++i) {
      EXPECT_EQ(visRand(), c.expected[i]) << "seed " << c.seed << " draw " << i;
    }
  }
}

TEST(Generator, StaysIn15BitsAndWrapsItsState) {
  // A seed near 2^32 makes the first multiply overflow; the result must still be the
  // low 32 bits' bits 16..30: (0xffffffff * 214013 + 2531011) mod 2^32 = 0x00235ac6
  // (worked out by hand: -214013 + 2531011 = 2316998), bits 16..30 = 0x23 = 35.
  visSrand(0xffffffffu);
  EXPECT_EQ(visRand(), 35);
  for (int i = 0; i < 100000; ++i) {
    const int r = visRand();
    ASSERT_GE(r, 0);
    ASSERT_LE(r, 32767);
  }
}

TEST(Seeding, FirstParticleTakesTheFirstDrawsAndAllStayInRange) {
  // Seeded with 1 the runtime draws 41, 18467, 6334, 26500, 19169 first (above): the
  // first particle's x, y, x step, y step and heading, in that order.
  resetVisStateForTests();
  visState.surfaceWidth = 640;
  visState.surfaceHeight = 480;
  visSrand(1);
  seedParticles();
  EXPECT_EQ(visState.posX[0], 41);
  EXPECT_EQ(visState.posY[0], 227);  // 18467 - 38 * 480
  EXPECT_EQ(visState.velX[0], 5);    // 6334 mod 10 + 1
  EXPECT_EQ(visState.velY[0], 1);    // 26500 mod 10 + 1
  EXPECT_EQ(visState.heading[0], 19169);
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    EXPECT_TRUE(visState.posX[i] >= 0 && visState.posX[i] < 640 && visState.posY[i] >= 0 &&
                visState.posY[i] < 480)
        << i;
    EXPECT_TRUE(visState.velX[i] >= 1 && visState.velX[i] <= 10 && visState.velY[i] >= 1 &&
                visState.velY[i] <= 10)
        << i;
    EXPECT_TRUE(visState.heading[i] >= 0 && visState.heading[i] <= 32767) << i;
  }
}

TEST(Seeding, EmptySurfaceSeedsAtTheOrigin) {
  // A frame with an empty client area: the size is taken as 1, so every particle is
  // placed at 0 and the draws keep their order.
  resetVisStateForTests();
  visState.surfaceWidth = 0;
  visState.surfaceHeight = 0;
  visSrand(7);
  seedParticles();
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    EXPECT_EQ(visState.posX[i], 0);
    EXPECT_EQ(visState.posY[i], 0);
    EXPECT_GE(visState.velX[i], 1);
  }
}

TEST(Seeding, LeavesTheUnseededValuesAlone) {
  resetVisStateForTests();
  visState.surfaceWidth = 100;
  visState.surfaceHeight = 100;
  visState.spanLen[3] = 42;
  visState.glowLevel = 77;
  visState.stars[5] = {9, 8};
  visState.hostToggle = 1;
  seedParticles();
  EXPECT_EQ(visState.spanLen[3], 42);
  EXPECT_EQ(visState.glowLevel, 77);
  EXPECT_EQ(visState.stars[5].x, 9);
  EXPECT_EQ(visState.hostToggle, 1);
}

}  // namespace
