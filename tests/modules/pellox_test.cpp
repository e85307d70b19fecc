// Pellox: object order per orb, generator draws, radius and palette, turning, the
// edge mirror, reversal thresholds and the channel pick.
#include "module_fixture.h"

namespace {

using modtest::Call;
using modtest::only;

class PelloxTest : public modtest::EffectTest {
 protected:
  std::vector<Call> frame() {
    modtest::TraceRecorder trace;
    renderPellox(&module);
    return trace.calls();
  }
  void setBandPair(int channel, int particle, int lower, int upper) {
    module.spectrum[channel][26 * (particle + 1) - 1] = static_cast<unsigned char>(lower);
    module.spectrum[channel][26 * (particle + 1)] = static_cast<unsigned char>(upper);
  }
  void makeLoud() {  // band 0 non-zero: no clear, no regrouping
    module.spectrum[0][0] = 1;
  }
  // The palettes: loud red and blue 128..254, green 0..126; quiet red 0, green 128..254,
  // blue 0..99.
  static bool inPalette(long colour, bool loud) {
    const int r = GetRValue(colour), g = GetGValue(colour), b = GetBValue(colour);
    return loud ? r >= 128 && r <= 254 && g <= 126 && b >= 128 && b <= 254
                : r == 0 && g >= 128 && g <= 254 && b <= 99;
  }
};

TEST_F(PelloxTest, EveryOrbHasItsOwnPenAndBrush) {
  makeLoud();
  for (int i = 0; i < VIS_PARTICLES; ++i) setBandPair(i % 2, i, 7 * i, 12 * i);
  const std::vector<Call> calls = frame();
  // Background brush, then 105 orbs of seven calls, then the copy and the brush's end.
  ASSERT_EQ(calls.size(), 1u + 105u * 7u + 2u);
  EXPECT_EQ(calls[0].name, "CreateSolidBrush");
  EXPECT_EQ(calls[0].num(0), 0x00320000);
  for (int orb = 0; orb < 105; ++orb) {
    const Call* c = &calls[1 + 7 * orb];
    ASSERT_EQ(c[0].name, "CreatePen") << orb;
    EXPECT_EQ(c[0].num(0), PS_SOLID);
    ASSERT_EQ(c[1].name, "SelectObject");
    EXPECT_EQ(c[1].id(1), c[0].result);
    ASSERT_EQ(c[2].name, "CreateSolidBrush");
    EXPECT_EQ(c[2].num(0), c[0].num(2)) << "pen and brush share the colour";
    ASSERT_EQ(c[3].name, "SelectObject");
    EXPECT_EQ(c[3].id(1), c[2].result);
    ASSERT_EQ(c[4].name, "Ellipse");
    ASSERT_EQ(c[5].name, "DeleteObject");
    EXPECT_EQ(c[5].id(0), c[2].result) << "brush first";
    ASSERT_EQ(c[6].name, "DeleteObject");
    EXPECT_EQ(c[6].id(0), c[0].result);
  }
  EXPECT_EQ(calls[calls.size() - 2].name, "BitBlt");
  EXPECT_EQ(calls.back().name, "DeleteObject");
  EXPECT_EQ(calls.back().id(0), calls[0].result);
  expectNothingAlive();
}

TEST_F(PelloxTest, SilentFrameClearsRegroupsAndDrawsInOrder) {
  // Silent spectrum: every orb is quiet (two draws: green, then blue). With the
  // generator at a known seed the six regrouping draws come first, x then y per group.
  for (int i = 0; i < VIS_PARTICLES; ++i) visState.velX[i] = 0;  // orbs stay put
  visSrand(2024);
  modtest::ReferenceRand ref(2024);
  int groupX[3], groupY[3];
  for (int g = 0; g < 3; ++g) {
    groupX[g] = ref.next() % 640;
    groupY[g] = ref.next() % 480;
  }
  const std::vector<Call> calls = frame();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[1].name, "FillRect");
  EXPECT_EQ(calls[1].args[4], "480");
  EXPECT_EQ(calls[1].id(5), calls[0].result);
  const std::vector<Call> pens = only(calls, "CreatePen");
  const std::vector<Call> ellipses = only(calls, "Ellipse");
  ASSERT_EQ(pens.size(), 105u);
  ASSERT_EQ(ellipses.size(), 105u);
  for (int orb = 0; orb < 105; ++orb) {
    const int i = orb / 5, g = i / 7;
    EXPECT_EQ(visState.posX[i], groupX[g]);
    EXPECT_EQ(visState.posY[i], groupY[g]);
    ref.next(), ref.next();  // a quiet orb's two draws
    EXPECT_TRUE(inPalette(pens[orb].num(2), false)) << orb;
    EXPECT_EQ(pens[orb].num(1), 0) << "R = 2 gives width 0";
    EXPECT_EQ(ellipses[orb].args[1], std::to_string(groupX[g] - 2));
    EXPECT_EQ(ellipses[orb].args[4], std::to_string(groupY[g] + 2));
  }
  EXPECT_EQ(visRand(), ref.next()) << "no draw more, no draw less";
}

TEST_F(PelloxTest, RadiusPenWidthAndPalette) {
  struct Case {
    int lower, upper;
    int width, half;  // pen width and the box's half-size around (300, 200)
    bool loud;
  };
  const Case cases[] = {
      {99, 100, 4, 49, false},   // r = 49: quiet
      {100, 100, 5, 50, true},   // r = 50: loud
      {0, 0, 0, 2, false},       // r = 0 drawn at 2, width 0
      {3, 4, 0, 2, false},       // r = 1 drawn at 2
      {255, 255, 12, 127, true}, // widest
  };
  // Seeded with 1 the runtime draws 41, 18467, 6334 first, so the first orb is loud
  // (41 % 127 + 128, 18467 % 127, 6334 % 127 + 128) or quiet (0, 41 % 127 + 128,
  // 18467 % 100); the others lie in their palette.
  makeLoud();
  for (const Case& c : cases) {
    parkParticles(300, 200);
    setBandPair(0, 0, c.lower, c.upper);
    visSrand(1);
    const std::vector<Call> pens = only(frame(), "CreatePen");
    EXPECT_EQ(pens[0].num(2), c.loud ? RGB(169, 52, 239) : RGB(0, 169, 67)) << c.lower + c.upper;
    for (int orb = 0; orb < 5; ++orb) {
      EXPECT_EQ(pens[orb].num(1), c.width) << c.lower + c.upper;
      EXPECT_TRUE(inPalette(pens[orb].num(2), c.loud)) << c.lower + c.upper << " orb " << orb;
    }
  }
  // The box, in a frame of its own: 300 -/+ half, 200 -/+ half.
  for (const Case& c : cases) {
    parkParticles(300, 200);
    setBandPair(0, 0, c.lower, c.upper);
    const Call first = only(frame(), "Ellipse")[0];
    EXPECT_EQ(first.args, (std::vector<std::string>{
                              first.args[0], std::to_string(300 - c.half), std::to_string(200 - c.half),
                              std::to_string(300 + c.half), std::to_string(200 + c.half)}));
  }
}

TEST_F(PelloxTest, TurnsByBandZeroOfTheLouderChannel) {
  struct Case {
    int s0, s1;
    double perStep;
  };
  const Case cases[] = {
      {0, 3, 0.2 * 3},     // channel 1 louder: adds
      {40, 40, -0.2 * 40}, // a tie subtracts
      {9, 2, -0.2 * 9},
  };
  for (const Case& c : cases) {
    module.spectrum[0][0] = static_cast<unsigned char>(c.s0);
    module.spectrum[1][0] = static_cast<unsigned char>(c.s1);
    parkParticles(300, 200);
    for (int i = 0; i < VIS_PARTICLES; ++i) {
      visState.heading[i] = -c.perStep;  // the first step's heading is then 0
      visState.velX[i] = 4;
    }
    const std::vector<Call> ellipses = only(frame(), "Ellipse");
    double expected = -c.perStep;
    for (int step = 0; step < 5; ++step) expected += c.perStep;
    EXPECT_EQ(visState.heading[3], expected) << c.s0 << "/" << c.s1;
    // Heading 0 at the first step: four pixels to the right, none down; R = 2.
    EXPECT_EQ(ellipses[0].args[1], "302");
    EXPECT_EQ(ellipses[0].args[2], "198");
  }
}

TEST_F(PelloxTest, EdgeRuleMirrorsAcrossTheSurface) {
  struct Case {
    double x;
    double after;
    int left, right;  // first orb's box with R = 2 (no move: velX is 0)
  };
  const Case cases[] = {
      {0, 640, 638, 642},          // exactly 0 becomes the width
      {640, 0, -2, 2},             // exactly the width becomes 0
      {643.5, -3.5, -5, -1},       // -5.5 and -1.5 truncate toward zero
      {0.25, 0.25, -1, 2},         // inside: left alone
      {-10, 650, 648, 652},
  };
  makeLoud();
  for (const Case& c : cases) {
    parkParticles(300, 200);
    visState.posX[0] = c.x;
    const Call first = only(frame(), "Ellipse")[0];
    EXPECT_EQ(visState.posX[0], c.after) << c.x;
    EXPECT_EQ(first.num(1), c.left) << c.x;
    EXPECT_EQ(first.num(3), c.right) << c.x;
  }
  // The same rule on y with the height; and a box edge that truncates toward zero:
  // x = 10.6 with R = 12 spans -1.4 .. 22.6, drawn as -1 .. 22 (the floor would be -2).
  parkParticles(10.6, 480);
  setBandPair(0, 0, 24, 24);
  const Call first = only(frame(), "Ellipse")[0];
  EXPECT_EQ(visState.posY[0], 0);
  EXPECT_EQ(first.num(1), -1);
  EXPECT_EQ(first.num(3), 22);
}

TEST_F(PelloxTest, ReversesAboveItsOwnThreshold) {
  struct Case {
    int channel, particle, level;
    bool reverses;
  };
  const Case cases[] = {
      {0, 0, 57, false}, {0, 0, 58, true},    // threshold 576 / 10 = 57
      {1, 1, 55, false}, {1, 1, 56, true},    // (576 - 26) / 10 = 55, channel 1
      {0, 20, 5, false}, {0, 20, 6, true},    // (576 - 520) / 10 = 5
      {0, 12, 26, false}, {0, 12, 27, true},  // (576 - 312) / 10 = 26
  };
  makeLoud();
  for (const Case& c : cases) {
    fillSpectrum(0);
    makeLoud();
    parkParticles(300, 200);
    for (int i = 0; i < VIS_PARTICLES; ++i) visState.velX[i] = 3;
    module.spectrum[c.channel][26 * (c.particle + 1)] = static_cast<unsigned char>(c.level);
    frame();
    EXPECT_EQ(visState.velX[c.particle], c.reverses ? -3 : 3) << c.particle << " at " << c.level;
  }
}

TEST_F(PelloxTest, ChannelPickStaysInTheSpectrum) {
  // Channel 0 gives every particle r = 50 (width 5), channel 1 r = 100 (width 10).
  struct Case {
    int channels;
    std::vector<int> width;  // particles 0..3
  };
  const Case cases[] = {
      {2, {5, 10, 5, 10}}, {1, {5, 5, 5, 5}}, {0, {5, 5, 5, 5}}, {5, {5, 10, 10, 10}}};
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    setBandPair(0, i, 100, 100);
    setBandPair(1, i, 200, 200);
  }
  makeLoud();
  for (const Case& c : cases) {
    module.channels = c.channels;
    const std::vector<Call> pens = only(frame(), "CreatePen");
    for (int i = 0; i < 4; ++i) EXPECT_EQ(pens[5 * i].num(1), c.width[i]) << c.channels << " " << i;
  }
}

}  // namespace
