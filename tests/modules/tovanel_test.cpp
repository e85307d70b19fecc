// Tovanel: glow sequence, star field, polygon vertices, windows, colours and the order
// of its 45 objects.
#include "module_fixture.h"

namespace {

using modtest::Call;
using modtest::only;

class TovanelTest : public modtest::EffectTest {
 protected:
  std::vector<Call> frame() {
    modtest::TraceRecorder trace;
    renderTovanel(&module);
    return trace.calls();
  }
  static POINT vertex(const Call& polygon, int k) {
    return {static_cast<int>(polygon.num(2 + 2 * k)), static_cast<int>(polygon.num(3 + 2 * k))};
  }
};

TEST_F(TovanelTest, GlowRisesAtOnceAndFallsByTen) {
  // From 255 in silence: 245, 235, ..., 55, then 50 on the 21st frame and after.
  visState.glowLevel = 255;
  for (int n = 1; n <= 25; ++n) {
    frame();
    EXPECT_EQ(visState.glowLevel, n <= 20 ? 255 - 10 * n : 50) << "frame " << n;
  }
  struct Case {
    int before, s0, s1, after;
  };
  const Case cases[] = {
      {50, 64, 64, 255},   // a = 256
      {50, 127, 0, 254},   // a = 254, more than 50 - 10
      {200, 20, 10, 190},  // a = 60 is less than 200 - 10
      {0, 0, 0, 50},       // first silent frame after load
      {0, 10, 0, 50},      // a = 20 is raised to the floor
      {53, 0, 0, 50},
  };
  for (const Case& c : cases) {
    visState.glowLevel = c.before;
    module.spectrum[0][0] = static_cast<unsigned char>(c.s0);
    module.spectrum[1][0] = static_cast<unsigned char>(c.s1);
    frame();
    EXPECT_EQ(visState.glowLevel, c.after) << c.before << " " << c.s0 << " " << c.s1;
  }
}

TEST_F(TovanelTest, FrameOrderAndObjects) {
  module.spectrum[0][0] = 40;  // a = 80: glow 80, not silent
  const std::vector<Call> calls = frame();
  // Background brush, clear, star pen and brush, 100 dots, their deletion (pen first),
  // then per polygon pen, brush, Polygon and their deletion (pen first), the copy and
  // the background brush's deletion.
  ASSERT_EQ(calls.size(), 2u + 4u + 100u + 2u + 21u * 7u + 2u);
  EXPECT_EQ(calls[0].name, "CreateSolidBrush");
  EXPECT_EQ(calls[0].num(0), 0x00320000);
  EXPECT_EQ(calls[1].name, "FillRect");
  EXPECT_EQ(calls[1].id(5), calls[0].result);
  EXPECT_EQ(calls[2].name, "CreatePen");
  EXPECT_EQ(calls[2].num(1), 1);
  EXPECT_EQ(calls[2].num(2), 257 * 80) << "yellow at the glow level";
  EXPECT_EQ(calls[4].name, "CreateSolidBrush");
  EXPECT_EQ(calls[4].num(0), 257 * 80);
  for (int k = 0; k < 100; ++k) {
    // No silent frame since load: every dot is at (0, 0).
    EXPECT_EQ(calls[6 + k].args, (std::vector<std::string>{calls[6 + k].args[0], "-2", "-2", "2", "2"}));
  }
  EXPECT_EQ(calls[106].name, "DeleteObject");
  EXPECT_EQ(calls[106].id(0), calls[2].result);
  EXPECT_EQ(calls[107].id(0), calls[4].result);
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    const Call* c = &calls[108 + 7 * i];
    ASSERT_EQ(c[0].name, "CreatePen");
    EXPECT_EQ(c[0].num(1), 1);
    EXPECT_EQ(c[0].num(2), 3072 * i) << "red 0, green 12 i";
    ASSERT_EQ(c[2].name, "CreateSolidBrush");
    EXPECT_EQ(c[2].num(0), 3072 * i);
    ASSERT_EQ(c[4].name, "Polygon");
    EXPECT_EQ(c[4].num(1), 36);
    EXPECT_EQ(c[5].id(0), c[0].result);
    EXPECT_EQ(c[6].id(0), c[2].result);
  }
  EXPECT_EQ(calls[calls.size() - 2].name, "BitBlt");
  EXPECT_EQ(calls.back().id(0), calls[0].result);
  expectNothingAlive();
}

TEST_F(TovanelTest, VerticesAroundACentre) {
  // Radius 5 about (100, 100). The constant 0.0174532925 puts 270 degrees a little
  // short of 3pi/2, where the cosine is slightly negative: vertex 27 is (99, 95).
  parkParticles(100, 100);
  const std::vector<Call> polygons = only(frame(), "Polygon");
  ASSERT_EQ(polygons.size(), 21u);
  const Call& p = polygons[0];
  const POINT expected[][2] = {{{0, 0}, {105, 100}}, {{9, 0}, {100, 105}}, {{18, 0}, {95, 100}},
                               {{27, 0}, {99, 95}}};
  for (const auto& e : expected) {
    const POINT v = vertex(p, e[0].x);
    EXPECT_EQ(v.x, e[1].x) << "vertex " << e[0].x;
    EXPECT_EQ(v.y, e[1].y) << "vertex " << e[0].x;
  }
}

TEST_F(TovanelTest, WindowsAndColours) {
  // Polygon i reads bands 26 i .. 26 i + 35 of channel i mod 2; vertex 0 lies r to the
  // right of the centre, r = 4 b + 5, and red is 2 x the window's last byte, at most 255.
  module.spectrum[0][0] = 9;
  parkParticles(300, 200);
  module.spectrum[0][520] = 10;   // polygon 20, vertex 0: r = 45
  module.spectrum[0][555] = 128;  // its last byte: red 255
  module.spectrum[1][494] = 20;   // polygon 19, vertex 0: r = 85
  module.spectrum[1][529] = 127;  // red 254
  module.spectrum[1][26] = 255;   // polygon 1, vertex 0: r = 1025
  const std::vector<Call> calls = frame();
  const std::vector<Call> polygons = only(calls, "Polygon");
  EXPECT_EQ(vertex(polygons[20], 0).x, 345);
  EXPECT_EQ(vertex(polygons[19], 0).x, 385);
  EXPECT_EQ(vertex(polygons[1], 0).x, 1325);
  EXPECT_EQ(vertex(polygons[0], 0).x, 300 + 4 * 9 + 5) << "polygon 0 starts at band 0";
  const std::vector<Call> pens = only(calls, "CreatePen");
  EXPECT_EQ(pens[21].num(2), 3072 * 20 + 255);
  EXPECT_EQ(pens[20].num(2), 3072 * 19 + 254);
  // With one channel polygon 19 reads channel 0 instead, which is 0 there.
  module.channels = 1;
  parkParticles(300, 200);
  EXPECT_EQ(vertex(only(frame(), "Polygon")[19], 0).x, 305);
  // With three, polygon 2 picks channel 2, read as channel 1.
  module.channels = 3;
  module.spectrum[1][52] = 3;
  parkParticles(300, 200);
  EXPECT_EQ(vertex(only(frame(), "Polygon")[2], 0).x, 317);
}

TEST_F(TovanelTest, SilentFrameScattersStarsAndBringsBackTheFarOnes) {
  // Particle 0 beyond the right edge, 1 beyond the bottom, 2 exactly on the right edge,
  // 3 at a negative x: only 0 and 1 come back, two draws each, before the 200 star
  // draws. Velocities are kept and moved by at once.
  parkParticles(300, 200);
  visState.posX[0] = 641;
  visState.posX[1] = 100;
  visState.posY[1] = 480.5;
  visState.posX[2] = 640;
  visState.posX[3] = -30;
  visState.velX[0] = 2;
  visSrand(77);
  modtest::ReferenceRand ref(77);
  const int x0 = ref.next() % 640, y0 = ref.next() % 480;
  const int x1 = ref.next() % 640, y1 = ref.next() % 480;
  int sx[100], sy[100];
  for (int k = 0; k < 100; ++k) {
    sx[k] = ref.next() % 640;
    sy[k] = ref.next() % 480;
  }
  const std::vector<Call> calls = frame();
  EXPECT_EQ(visState.posX[0], x0 + 2);
  EXPECT_EQ(visState.posY[0], y0);
  EXPECT_EQ(visState.posX[1], x1);
  EXPECT_EQ(visState.posY[1], y1);
  EXPECT_EQ(visState.posX[2], 640);
  EXPECT_EQ(visState.posX[3], -30);
  const std::vector<Call> ellipses = only(calls, "Ellipse");
  ASSERT_EQ(ellipses.size(), 100u);
  for (int k = 0; k < 100; ++k) {
    EXPECT_EQ(ellipses[k].args, (std::vector<std::string>{
                                    ellipses[k].args[0], std::to_string(sx[k] - 2), std::to_string(sy[k] - 2),
                                    std::to_string(sx[k] + 2), std::to_string(sy[k] + 2)}));
  }
  EXPECT_EQ(visRand(), ref.next());
  // A frame with band 0 non-zero draws nothing from the generator and keeps the stars.
  module.spectrum[1][0] = 5;
  visSrand(77);
  const std::vector<Call> loud = only(frame(), "Ellipse");
  EXPECT_EQ(loud[0].args, ellipses[0].args);
  EXPECT_EQ(visRand(), modtest::ReferenceRand(77).next());
}

TEST_F(TovanelTest, BouncesTakeEffectNextFrame) {
  parkParticles(300, 200);
  visState.posX[0] = 636;
  visState.velX[0] = 4;
  visState.posY[1] = 3;
  visState.velY[1] = -3;
  module.spectrum[1][0] = 1;  // not silent; polygon 0 reads channel 0
  const std::vector<Call> polygons = only(frame(), "Polygon");
  EXPECT_EQ(visState.velX[0], -4);
  EXPECT_EQ(vertex(polygons[0], 0).x, 645) << "drawn at 640, radius 5";
  EXPECT_EQ(visState.velY[1], 3);
  EXPECT_EQ(vertex(polygons[1], 9).y, 5) << "drawn at y 0, radius 5";
}

}  // namespace
