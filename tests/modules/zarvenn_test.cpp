// Zarvenn: background level, flake movement, turning, sizes, corners and depths.
#include "module_fixture.h"

namespace {

using modtest::Call;
using modtest::only;

struct Point {
  int x, y;
  bool operator==(const Point& o) const { return x == o.x && y == o.y; }
};
std::ostream& operator<<(std::ostream& out, const Point& p) {
  return out << "(" << p.x << "," << p.y << ")";
}

class ZarvennTest : public modtest::EffectTest {
 protected:
  // Runs one frame and returns its calls.
  std::vector<Call> frame() {
    modtest::TraceRecorder trace;
    renderZarvenn(&module);
    return trace.calls();
  }
  // The start points of the frame's lines, in order, and the end of the last.
  static std::vector<Point> lineStarts(const std::vector<Call>& calls) {
    std::vector<Point> out;
    for (const Call& c : only(calls, "MoveToEx")) out.push_back({int(c.num(1)), int(c.num(2))});
    return out;
  }
  // Flake i's size comes from bands 26(i+1)-1 and 26(i+1) of its channel.
  void setBandPair(int channel, int flake, int lower, int upper) {
    module.spectrum[channel][26 * (flake + 1) - 1] = static_cast<unsigned char>(lower);
    module.spectrum[channel][26 * (flake + 1)] = static_cast<unsigned char>(upper);
  }
};

TEST_F(ZarvennTest, BackgroundLevelAndItsBrush) {
  struct Case {
    const char* note;
    int glowBefore, s0, s1, level;
  };
  const Case cases[] = {
      {"silence rises by 5", 100, 0, 0, 105},
      {"silence stops at 255", 252, 0, 0, 255},
      {"stays white in silence", 255, 0, 0, 255},
      {"sum 128: b = 256 is black", 200, 64, 64, 0},
      {"sum 127 after black: min(255 - 254, 0 + 5) = 1", 0, 127, 0, 1},
      {"drops at once to 255 - b", 250, 10, 20, 195},
      {"louder than 255: black", 17, 255, 255, 0},
      {"starts from what another effect left", 50, 0, 0, 55},
  };
  for (const Case& c : cases) {
    visState.glowLevel = c.glowBefore;
    module.spectrum[0][0] = static_cast<unsigned char>(c.s0);
    module.spectrum[1][0] = static_cast<unsigned char>(c.s1);
    const std::vector<Call> calls = frame();
    EXPECT_EQ(visState.glowLevel, c.level) << c.note;
    // The brush is made, fills the surface rectangle without being selected, and goes.
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0].name, "CreateSolidBrush");
    EXPECT_EQ(calls[0].num(0), c.level * 0x010101) << c.note;
    EXPECT_EQ(calls[1].name, "FillRect");
    EXPECT_EQ(calls[1].args, (std::vector<std::string>{calls[1].args[0], "0", "0", "640", "480",
                                                        "#" + std::to_string(calls[0].result)}));
    EXPECT_EQ(calls[2].name, "DeleteObject");
    EXPECT_EQ(calls[2].id(0), calls[0].result);
    for (const Call& c2 : only(calls, "SelectObject")) EXPECT_NE(c2.id(1), calls[0].result);
    EXPECT_EQ(only(calls, "CreateSolidBrush").size(), 1u);
  }
  expectNothingAlive();
}

TEST_F(ZarvennTest, HeadingsTurnTogetherByWholeRadians) {
  struct Case {
    int s0, s1;
    double turn;
  };
  const Case cases[] = {
      {100, 200, 5},   // channel 1 louder: + 200 / 36
      {200, 100, -5},  // channel 0 louder: - 200 / 36
      {40, 40, -1},    // a tie subtracts 40 / 36
      {0, 35, 0},      // 35 / 36 is 0
      {255, 0, -7},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < VIS_PARTICLES; ++i) visState.heading[i] = 0.25 * i;
    module.spectrum[0][0] = static_cast<unsigned char>(c.s0);
    module.spectrum[1][0] = static_cast<unsigned char>(c.s1);
    frame();
    for (int i = 0; i < VIS_PARTICLES; ++i) {
      EXPECT_EQ(visState.heading[i], 0.25 * i + c.turn) << c.s0 << "/" << c.s1 << " flake " << i;
    }
  }
}

TEST_F(ZarvennTest, SizeFollowsItsBandsAndDecaysByFive) {
  struct Case {
    double before;
    int lower, upper;
    double after;
  };
  const Case cases[] = {
      {300, 0, 0, 295},     // falls by 5
      {300, 150, 147, 297}, // 297 is not below 295: taken at once
      {300, 145, 150, 295}, // 295 is not below 295 either
      {3, 0, 0, 0},         // -2 truncates toward zero
      {0, 255, 255, 510},   // grows at once
  };
  for (const Case& c : cases) {
    visState.spanLen[0] = c.before;
    setBandPair(0, 0, c.lower, c.upper);
    frame();
    EXPECT_EQ(visState.spanLen[0], c.after) << c.before << " with " << c.lower + c.upper;
  }
}

TEST_F(ZarvennTest, CornersOfWorkedFlakes) {
  parkParticles(320, 240);
  for (int i = 0; i < VIS_PARTICLES; ++i) visState.heading[i] = 0;
  // Flake 0: size 100 at (320, 240): A (420, 240), B at -120 degrees (270, 153.4),
  // C at +120 degrees (270, 326.6); depth trunc(10 x 0.25) = 2, 16 lines per edge.
  setBandPair(0, 0, 40, 60);
  // Flake 1, on channel 1: centre (-5.5, 10.9) truncates to (-5, 10); size 10 gives
  // (5, 10), (-9.99999998, 1.34), (-9.99999998, 18.66), depth trunc(3.16 x 0.25) = 0.
  visState.posX[1] = -5.5;
  visState.posY[1] = 10.9;
  setBandPair(1, 1, 4, 6);
  const std::vector<Point> starts = lineStarts(frame());
  // Flakes 2..20 have size 0 and draw three zero-length lines at their centres.
  ASSERT_EQ(starts.size(), 48u + 3u + 19u * 3u);
  EXPECT_EQ(starts[0], (Point{420, 240}));
  EXPECT_EQ(starts[16], (Point{270, 153}));
  EXPECT_EQ(starts[32], (Point{270, 326}));
  // The first line of edge A->B at depth 2 is the first quarter of A->(370, 211).
  EXPECT_EQ(starts[4], (Point{370, 211}));
  EXPECT_EQ(starts[8], (Point{370, 153}));
  EXPECT_EQ(starts[12], (Point{320, 182}));
  EXPECT_EQ(starts[48], (Point{5, 10}));
  EXPECT_EQ(starts[49], (Point{-9, 1}));
  EXPECT_EQ(starts[50], (Point{-9, 18}));
  for (size_t k = 51; k < starts.size(); ++k) EXPECT_EQ(starts[k], (Point{320, 240}));
}

TEST_F(ZarvennTest, DepthFollowsSize) {
  // Lines per flake for sizes on both sides of each depth step (depth = trunc(sqrt(size)
  // / 4): 16, 64, 144, 256 and 400 are where it rises).
  struct Case {
    int size;
    size_t lines;
  };
  const Case cases[] = {{15, 3},    {16, 12},   {63, 12},   {64, 48},    {143, 48},  {144, 192},
                        {255, 192}, {256, 768}, {399, 768}, {400, 3072}, {510, 3072}};
  parkParticles(300, 200);
  for (const Case& c : cases) {
    for (int i = 0; i < VIS_PARTICLES; ++i) visState.spanLen[i] = 0;
    fillSpectrum(0);
    setBandPair(0, 0, c.size / 2, c.size - c.size / 2);
    const std::vector<Call> calls = frame();
    EXPECT_EQ(only(calls, "LineTo").size(), c.lines + 20 * 3) << "size " << c.size;
  }
}

TEST_F(ZarvennTest, MovesAndBouncesWithoutClamping) {
  parkParticles(100, 100);
  struct Case {
    double x, vx, y, vy;        // before the frame
    double nx, nvx, ny, nvy;    // after it
  };
  const Case cases[] = {
      {636, 4, 100, 3, 640, -4, 103, 3},    // reaches the right edge exactly: reverses
      {5, -5, 478, 2, 0, 5, 480, -2},       // exactly 0 and exactly the height reverse
      {700, 3, -20, -1, 703, -3, -21, 1},   // beyond the edges: reversed every frame
      {320, -2.5, 240, 7, 317.5, -2.5, 247, 7},
  };
  for (int i = 0; i < 4; ++i) {
    visState.posX[i] = cases[i].x;
    visState.velX[i] = cases[i].vx;
    visState.posY[i] = cases[i].y;
    visState.velY[i] = cases[i].vy;
  }
  const std::vector<Point> starts = lineStarts(frame());
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(visState.posX[i], cases[i].nx) << i;
    EXPECT_EQ(visState.velX[i], cases[i].nvx) << i;
    EXPECT_EQ(visState.posY[i], cases[i].ny) << i;
    EXPECT_EQ(visState.velY[i], cases[i].nvy) << i;
    // Size 0: the flake is drawn at its moved, truncated centre.
    EXPECT_EQ(starts[3 * i], (Point{int(cases[i].nx), int(cases[i].ny)})) << i;
  }
  // The far-out flake steps back and forth outside: 703 -> 700 -> 703.
  frame();
  EXPECT_EQ(visState.posX[2], 700);
  EXPECT_EQ(visState.velX[2], 3);
}

TEST_F(ZarvennTest, ChannelPickStaysInTheSpectrum) {
  // Flake i reads channel i mod channels; no channels counts as one, and a pick of 2 or
  // more reads channel 1. Channel 0 holds size 20 for every flake, channel 1 size 40.
  struct Case {
    int channels;
    std::vector<int> channelOfFlake;  // flakes 0..4
  };
  const Case cases[] = {
      {1, {0, 0, 0, 0, 0}},
      {2, {0, 1, 0, 1, 0}},
      {0, {0, 0, 0, 0, 0}},
      {4, {0, 1, 1, 1, 0}},
      {-3, {0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < VIS_PARTICLES; ++i) {
      visState.spanLen[i] = 0;
      setBandPair(0, i, 10, 10);
      setBandPair(1, i, 20, 20);
    }
    module.channels = c.channels;
    frame();
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(visState.spanLen[i], c.channelOfFlake[i] ? 40 : 20)
          << "channels " << c.channels << " flake " << i;
    }
  }
}

TEST_F(ZarvennTest, SilenceWhitensAndShrinksToPoints) {
  // From a loud state, 60 silent frames: sizes fall 5 a frame to 0, the background
  // climbs 5 a frame to 255, headings stay.
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    visState.spanLen[i] = 100 + i;
    visState.heading[i] = i;
  }
  visState.glowLevel = 0;
  for (int n = 1; n <= 60; ++n) {
    frame();
    EXPECT_EQ(visState.glowLevel, n * 5 < 255 ? n * 5 : 255);
    EXPECT_EQ(visState.spanLen[0], 100 - 5 * n > 0 ? 100 - 5 * n : 0);
  }
  const std::vector<Call> calls = frame();
  for (int i = 0; i < VIS_PARTICLES; ++i) {
    EXPECT_EQ(visState.spanLen[i], 0);
    EXPECT_EQ(visState.heading[i], i);
  }
  EXPECT_EQ(only(calls, "LineTo").size(), 63u);
  EXPECT_EQ(calls.back().name, "BitBlt");
}

TEST_F(ZarvennTest, LoudestFrameDrawsEveryLineWithItsOwnPen) {
  fillSpectrum(255);
  const std::vector<Call> calls = frame();
  // 21 flakes of size 510, depth 5: 21 x 3 x 1024 lines, a pen each.
  EXPECT_EQ(only(calls, "LineTo").size(), 64512u);
  EXPECT_EQ(only(calls, "CreatePen").size(), 64512u);
  EXPECT_EQ(only(calls, "DeleteObject").size(), 64512u + 1u);
  const Call& blit = calls.back();
  EXPECT_EQ(blit.name, "BitBlt");
  EXPECT_EQ(blit.args[1], "0");
  EXPECT_EQ(blit.args[3], "640");
  EXPECT_EQ(blit.args[4], "480");
  EXPECT_EQ(blit.args[8], "0x00cc0020");  // SRCCOPY
  expectNothingAlive();
}

}  // namespace
