// What the effects leave in the surface's pixels, against values worked out from
// GDI's rules: FillRect covers [left, right) x [top, bottom), a line draws its start
// pixel and leaves out its end pixel, an ellipse's brush fills its interior and a
// one-pixel pen outlines it on the box's left column. Pixels read 0x00RRGGBB. Every
// check starts from a surface filled with a marker colour.
#include "module_fixture.h"

namespace {

const uint32_t kMarker = 0x00123456;
const uint32_t kWhite = 0x00ffffff;

// COLORREF 0x00BBGGRR as a stored pixel 0x00RRGGBB.
uint32_t pixelOf(COLORREF c) { return ((c & 0xff) << 16) | (c & 0xff00) | ((c >> 16) & 0xff); }

class PixelsTest : public modtest::EffectTest {};

TEST_F(PixelsTest, KochLinesLeaveOutOnlyTheCurveEnd) {
  markSurface(kMarker);
  // A vertical depth-0 edge: (10, 20) .. (10, 29) drawn, (10, 30) not.
  kochEdge(10, 20, 10, 30, 0);
  for (int y = 20; y < 30; ++y) EXPECT_EQ(pixel(10, y), kWhite) << y;
  EXPECT_EQ(pixel(10, 30), kMarker);
  EXPECT_EQ(pixel(9, 25), kMarker);
  EXPECT_EQ(pixel(11, 25), kMarker);
  // (0, 200) -> (300, 200) at depth 1: the two flat thirds are drawn, each line's end
  // is the next one's start, so only the curve's own end (300, 200) stays undrawn;
  // the peak at (150, 286) is the start of the third line. Rows between hold one pixel
  // of each side of the peak.
  kochEdge(0, 200, 300, 200, 1);
  for (int x = 0; x < 100; ++x) EXPECT_EQ(pixel(x, 200), kWhite) << x;
  for (int x = 200; x < 300; ++x) EXPECT_EQ(pixel(x, 200), kWhite) << x;
  EXPECT_EQ(pixel(300, 200), kMarker);
  EXPECT_EQ(pixel(150, 200), kMarker);
  EXPECT_EQ(pixel(150, 286), kWhite);
  for (int y = 201; y < 286; ++y) {
    int white = 0;
    for (int x = 95; x <= 205; ++x) white += pixel(x, y) == kWhite;
    EXPECT_EQ(white, 2) << "row " << y;
  }
  expectNothingAlive();
}

TEST_F(PixelsTest, ZarvennGreyBackgroundAndFlakeCorner) {
  markSurface(kMarker);
  visState.glowLevel = 100;  // silence: level 105
  parkParticles(320, 240);
  for (int i = 0; i < VIS_PARTICLES; ++i) visState.heading[i] = 0;
  // Flake 0 of size 20 (depth 1) at (320, 240): corner A (340, 240) starts a line.
  module.spectrum[0][25] = 10;
  module.spectrum[0][26] = 10;
  renderZarvenn(&module);
  EXPECT_EQ(pixel(0, 0), 0x00696969u);
  EXPECT_EQ(pixel(639, 0), 0x00696969u);
  EXPECT_EQ(pixel(0, 479), 0x00696969u);
  EXPECT_EQ(pixel(639, 479), 0x00696969u);
  EXPECT_EQ(pixel(340, 240), kWhite);
  // The other twenty flakes have size 0 and draw zero-length lines at (320, 240),
  // which leave nothing: the centre keeps the background.
  EXPECT_EQ(pixel(320, 240), 0x00696969u);
}

TEST_F(PixelsTest, PelloxClearsDarkBlueAndPaintsItsClusters) {
  markSurface(kMarker);
  // A silent frame with band pairs of 40 (r = R = 10, quiet palette, width 1): three
  // clusters of seven particles that stay put (velX 0), five orbs each; the last orb
  // drawn at a cluster is particle 7g + 6's fifth.
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    module.spectrum[i % 2][26 * (i + 1) - 1] = 20;
    module.spectrum[i % 2][26 * (i + 1)] = 20;
    visState.velX[i] = 0;
  }
  visSrand(555);
  modtest::ReferenceRand ref(555);
  int cx[3], cy[3];
  for (int g = 0; g < 3; ++g) {
    cx[g] = ref.next() % 640;
    cy[g] = ref.next() % 480;
  }
  COLORREF last[3] = {};
  for (int orb = 0; orb < 105; ++orb) {
    const int green = ref.next() % 127 + 128;
    const int blue = ref.next() % 100;
    last[orb / 35] = RGB(0, green, blue);
  }
  for (int g = 0; g < 3; ++g)
    for (int h = g + 1; h < 3; ++h)
      ASSERT_TRUE(abs(cx[g] - cx[h]) > 30 || abs(cy[g] - cy[h]) > 30) << "clusters apart";
  renderPellox(&module);
  for (int g = 0; g < 3; ++g) {
    EXPECT_EQ(pixel(cx[g], cy[g]), pixelOf(last[g])) << "cluster " << g;
  }
  // Far from every cluster: the background, red 0, green 0, blue 50.
  int background = 0, marker = 0;
  for (int y = 0; y < 480; y += 7) {
    for (int x = 0; x < 640; x += 7) {
      bool near = false;
      for (int g = 0; g < 3; ++g) near |= abs(x - cx[g]) <= 12 && abs(y - cy[g]) <= 12;
      if (near) continue;
      background += pixel(x, y) == 0x00000032u;
      marker += pixel(x, y) == kMarker;
    }
  }
  EXPECT_GT(background, 5000);
  EXPECT_EQ(marker, 0);
}

TEST_F(PixelsTest, AmbrithBubbleFillAndOutline) {
  markSurface(kMarker);
  // Silent frame: black clear, particles scattered, then moved by (0, 0). Only particle
  // 0 has a radius (15: pen width 1, no satellites).
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    visState.velX[i] = 0;
    visState.velY[i] = 0;
  }
  module.spectrum[0][24] = 15;
  visSrand(808);
  modtest::ReferenceRand ref(808);
  int x[VIS_PARTICLES], y[VIS_PARTICLES];
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    x[i] = ref.next() % 640;
    y[i] = ref.next() % 480;
  }
  const int d1 = ref.next() % 255, d2 = ref.next() % 255, d3 = ref.next() % 255;
  ASSERT_TRUE(x[0] >= 20 && x[0] < 620 && y[0] >= 20 && y[0] < 460);
  renderAmbrith(&module);
  EXPECT_EQ(pixel(x[0], y[0]), pixelOf(RGB(d1, d2, d3)));
  EXPECT_EQ(pixel(x[0] - 15, y[0]), pixelOf(RGB(255 - d1, 255 - d2, 255 - d3)));
  EXPECT_EQ(pixel(x[0] - 16, y[0]), 0u) << "cleared to black";
  EXPECT_EQ(pixel(x[0] + 15, y[0]), 0u) << "the box's right edge is left out";
}

TEST_F(PixelsTest, TovanelBackgroundStarsAndPolygon) {
  markSurface(kMarker);
  // A silent frame from glow 0: level 50, stars in (50, 50, 0); zero bands give every
  // polygon radius 5; all centres at (100, 100), polygon 20 (green 240) on top.
  parkParticles(100, 100);
  visSrand(31);
  modtest::ReferenceRand ref(31);
  POINT stars[100];
  for (POINT& s : stars) {
    s.x = ref.next() % 640;
    s.y = ref.next() % 480;
  }
  renderTovanel(&module);
  EXPECT_EQ(visState.glowLevel, 50);
  EXPECT_EQ(pixel(100, 100), 0x0000f000u);
  EXPECT_EQ(pixel(102, 100), 0x0000f000u);
  int checked = 0;
  for (const POINT& s : stars) {
    if (abs(s.x - 100) < 12 && abs(s.y - 100) < 12) continue;
    EXPECT_EQ(pixel(s.x, s.y), 0x00323200u) << s.x << "," << s.y;
    ++checked;
  }
  EXPECT_GT(checked, 90);
  // A corner no star box reaches is dark blue.
  bool starNear = false;
  for (const POINT& s : stars) starNear |= s.x >= 637 && s.y >= 477;
  if (!starNear) {
    EXPECT_EQ(pixel(639, 479), 0x00000032u);
  }
}

}  // namespace
