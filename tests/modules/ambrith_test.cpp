// Ambrith: bubbles, satellite rings, generator draws, reversals and the silent frame.
#include "module_fixture.h"

namespace {

using modtest::Call;
using modtest::only;

class AmbrithTest : public modtest::EffectTest {
 protected:
  std::vector<Call> frame() {
    modtest::TraceRecorder trace;
    renderAmbrith(&module);
    return trace.calls();
  }
  // Particle i's bands: radius 26(i+1)-2, vertical 26(i+1)-1, horizontal 26(i+1).
  unsigned char& radiusBand(int channel, int i) { return module.spectrum[channel][26 * (i + 1) - 2]; }
  unsigned char& verticalBand(int channel, int i) { return module.spectrum[channel][26 * (i + 1) - 1]; }
  unsigned char& horizontalBand(int channel, int i) { return module.spectrum[channel][26 * (i + 1)]; }
};

TEST_F(AmbrithTest, BubbleAndItsRingOfSatellites) {
  // Radius 70 at (300, 200): pen width 7, 8 satellites at 45-degree steps. With the
  // constant 0.0174532925 the angles 90, 180 and 270 degrees fall a few 1e-9 rad short
  // of pi/2, pi and 3pi/2: cos stays just above 0 at 90 (x stays 300), just above -1 at
  // 180 (rounds to -1), and just below 0 at 270, so that satellite lands in column 299.
  module.spectrum[0][0] = 1;
  parkParticles(300, 200);
  radiusBand(0, 0) = 70;
  visSrand(99);
  modtest::ReferenceRand ref(99);
  const int d1 = ref.next() % 255, d2 = ref.next() % 255, d3 = ref.next() % 255;
  const int rho = ref.next() % 210;
  const int s = ref.next() % 35;
  const std::vector<Call> calls = frame();

  // Particle 0's calls come right after the background brush.
  ASSERT_GE(calls.size(), 6u + 8u * 4u + 2u);
  const Call* c = &calls[1];
  EXPECT_EQ(c[0].name, "CreatePen");
  EXPECT_EQ(c[0].num(1), 7);
  EXPECT_EQ(c[0].num(2), RGB(255 - d1, 255 - d2, 255 - d3));
  EXPECT_EQ(c[1].name, "SelectObject");
  EXPECT_EQ(c[2].name, "CreateSolidBrush");
  EXPECT_EQ(c[2].num(0), RGB(d1, d2, d3));
  EXPECT_EQ(c[2].num(0) + c[0].num(2), 0x00ffffff) << "the pen is the fill's complement";
  EXPECT_EQ(c[3].name, "SelectObject");
  EXPECT_EQ(c[4].name, "Ellipse");
  EXPECT_EQ(c[4].args, (std::vector<std::string>{c[4].args[0], "230", "130", "370", "270"}));
  struct Expected {
    int k, x, y;
  };
  const Expected where[] = {{0, 300 + rho, 200}, {2, 300, 200 + rho}, {4, 300 - rho, 200},
                            {6, rho > 0 ? 299 : 300, 200 - rho}};
  unsigned previousBrush = c[2].result;
  for (int k = 0; k < 8; ++k) {
    const Call* sat = &c[5 + 4 * k];
    ASSERT_EQ(sat[0].name, "DeleteObject") << k;
    EXPECT_EQ(sat[0].id(0), previousBrush) << "each satellite replaces the brush before it";
    ASSERT_EQ(sat[1].name, "CreateSolidBrush");
    const int q1 = ref.next() % 255, q2 = ref.next() % 255, q3 = ref.next() % 255;
    EXPECT_EQ(sat[1].num(0), RGB(q3, q2, q1)) << "first draw to blue";
    ASSERT_EQ(sat[2].name, "SelectObject");
    ASSERT_EQ(sat[3].name, "Ellipse");
    for (const Expected& e : where) {
      if (e.k != k) continue;
      EXPECT_EQ(sat[3].args, (std::vector<std::string>{
                                 sat[3].args[0], std::to_string(e.x - s), std::to_string(e.y - s),
                                 std::to_string(e.x + s), std::to_string(e.y + s)}))
          << "satellite " << k << " rho " << rho << " s " << s;
    }
    previousBrush = sat[1].result;
  }
  // The last satellite's brush, then the pen; the next particle starts.
  EXPECT_EQ(c[37].name, "DeleteObject");
  EXPECT_EQ(c[37].id(0), previousBrush);
  EXPECT_EQ(c[38].name, "DeleteObject");
  EXPECT_EQ(c[38].id(0), c[0].result);
  EXPECT_EQ(c[39].name, "CreatePen");
  expectNothingAlive();
}

TEST_F(AmbrithTest, RadiusDecidesBubblePenAndRing) {
  struct Case {
    int r;
    bool bubble;
    int width;
    int satellites;  // 0: no ring
  };
  const Case cases[] = {
      {0, false, 0, 0},   // nothing drawn, yet three draws, a pen and a brush
      {9, true, 0, 0},    {10, true, 1, 0},  {40, true, 4, 0},
      {41, true, 4, 5},   // 72-degree steps, rho < 123, s < 20
      {255, true, 25, 26},
  };
  module.spectrum[0][0] = 1;
  for (const Case& c : cases) {
    parkParticles(300, 200);
    radiusBand(0, 0) = static_cast<unsigned char>(c.r);
    visSrand(5);
    modtest::ReferenceRand ref(5);
    const std::vector<Call> calls = frame();
    const std::vector<Call> pens = only(calls, "CreatePen");
    const std::vector<Call> ellipses = only(calls, "Ellipse");
    ASSERT_EQ(pens.size(), 21u);
    EXPECT_EQ(pens[0].num(1), c.width) << c.r;
    EXPECT_EQ(ellipses.size(), size_t((c.bubble ? 1 : 0) + c.satellites)) << c.r;
    EXPECT_EQ(only(calls, "CreateSolidBrush").size(), size_t(1 + 21 + c.satellites)) << c.r;
    // Draws: 3 for the bubble, then rho, s and 3 per satellite; 3 for each other one.
    for (int k = 0; k < 3; ++k) ref.next();
    if (c.satellites) {
      const int rho = ref.next() % (3 * c.r), s = ref.next() % (c.r / 2);
      EXPECT_LT(rho, 3 * c.r);
      // Satellite 0 lies straight to the right of the centre.
      EXPECT_EQ(ellipses[1].num(1), 300 + rho - s) << c.r;
      EXPECT_EQ(ellipses[1].num(3), 300 + rho + s) << c.r;
      for (int k = 0; k < 3 * c.satellites; ++k) ref.next();
    }
    for (int k = 0; k < 3 * 20; ++k) ref.next();
    EXPECT_EQ(visRand(), ref.next()) << "draws of radius " << c.r;
  }
  expectNothingAlive();
}

TEST_F(AmbrithTest, EdgeAndSpectrumReversals) {
  struct Case {
    const char* note;
    int i;
    double x, vx, y, vy;
    int horizontal, vertical;  // band levels
    double nx, nvx, ny, nvy;
  };
  const Case cases[] = {
      {"right edge exactly", 0, 635, 5, 100, 2, 0, 0, 640, -5, 102, 2},
      {"left edge exactly", 0, 5, -5, 100, 2, 0, 0, 0, 5, 102, 2},
      {"bottom edge exactly", 0, 100, 1, 470, 10, 0, 0, 101, 1, 480, -10},
      {"edge and spectrum cancel: goes on beyond", 0, 635, 5, 100, 2, 116, 0, 640, 5, 102, 2},
      {"at the threshold 115: no reversal", 0, 100, 5, 100, 2, 115, 115, 105, 5, 102, 2},
      {"above it: both reverse", 0, 100, 5, 100, 2, 116, 116, 105, -5, 102, -2},
      {"particle 20, threshold 11", 20, 100, 5, 100, 2, 12, 11, 105, -5, 102, 2},
      {"particle 17 on channel 1, threshold 26", 17, 100, 5, 100, 2, 26, 27, 105, 5, 102, -2},
  };
  module.spectrum[0][0] = 1;
  for (const Case& c : cases) {
    fillSpectrum(0);
    module.spectrum[0][0] = 1;
    parkParticles(300, 200);
    const int ch = c.i % 2;
    visState.posX[c.i] = c.x;
    visState.velX[c.i] = c.vx;
    visState.posY[c.i] = c.y;
    visState.velY[c.i] = c.vy;
    horizontalBand(ch, c.i) = static_cast<unsigned char>(c.horizontal);
    verticalBand(ch, c.i) = static_cast<unsigned char>(c.vertical);
    frame();
    EXPECT_EQ(visState.posX[c.i], c.nx) << c.note;
    EXPECT_EQ(visState.velX[c.i], c.nvx) << c.note;
    EXPECT_EQ(visState.posY[c.i], c.ny) << c.note;
    EXPECT_EQ(visState.velY[c.i], c.nvy) << c.note;
  }
}

TEST_F(AmbrithTest, SilentFrameClearsToBlackAndScatters) {
  // Band 0 zero in both channels, other bands loud: a clear, 42 draws alternating x
  // and y, each particle moved by its unchanged velocity, then bubbles on black.
  fillSpectrum(30);
  module.spectrum[0][0] = 0;
  module.spectrum[1][0] = 0;
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    visState.velX[i] = 3;
    visState.velY[i] = -2;
  }
  visSrand(4242);
  modtest::ReferenceRand ref(4242);
  int x[VIS_PARTICLES], y[VIS_PARTICLES];
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    x[i] = ref.next() % 640;
    y[i] = ref.next() % 480;
  }
  const std::vector<Call> calls = frame();
  EXPECT_EQ(calls[0].name, "CreateSolidBrush");
  EXPECT_EQ(calls[0].num(0), 0);
  EXPECT_EQ(calls[1].name, "FillRect");
  EXPECT_EQ(calls[1].id(5), calls[0].result);
  const std::vector<Call> ellipses = only(calls, "Ellipse");
  ASSERT_EQ(ellipses.size(), 21u);
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    EXPECT_EQ(visState.posX[i], x[i] + 3) << i;
    EXPECT_EQ(visState.posY[i], y[i] - 2) << i;
    EXPECT_EQ(ellipses[i].num(1), x[i] + 3 - 30) << i;
    EXPECT_EQ(ellipses[i].num(2), y[i] - 2 - 30) << i;
  }
  // A frame with band 0 non-zero in one channel clears and scatters nothing.
  module.spectrum[1][0] = 1;
  const std::vector<Call> loud = frame();
  EXPECT_TRUE(only(loud, "FillRect").empty());
  // Particles 17..20 (thresholds 26, 21, 16, 11) reversed on their bands of 30 in
  // the first frame, after it had moved them.
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    const int threshold = (576 - 26 * i) / 5;
    EXPECT_EQ(visState.posX[i], x[i] + (30 > threshold ? 0 : 6)) << i;
  }
}

TEST_F(AmbrithTest, ChannelPickStaysInTheSpectrum) {
  // Radius 20 on channel 0 (pen width 2), 50 on channel 1 (pen width 5).
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    radiusBand(0, i) = 20;
    radiusBand(1, i) = 50;
  }
  module.spectrum[0][0] = 1;
  struct Case {
    int channels;
    std::vector<int> width;
  };
  const Case cases[] = {{2, {2, 5, 2, 5}}, {1, {2, 2, 2, 2}}, {0, {2, 2, 2, 2}}, {3, {2, 5, 5, 2}}};
  for (const Case& c : cases) {
    module.channels = c.channels;
    parkParticles(300, 200);
    const std::vector<Call> pens = only(frame(), "CreatePen");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(pens[i].num(1), c.width[i]) << c.channels << " " << i;
  }
}

}  // namespace
