// The Koch edge routine: which lines it draws, in which order, and with which pens.
#include <limits.h>
#include <math.h>

#include "module_fixture.h"

namespace {

using modtest::Call;

struct Line {
  int x1, y1, x2, y2;
  bool operator==(const Line& o) const {
    return x1 == o.x1 && y1 == o.y1 && x2 == o.x2 && y2 == o.y2;
  }
};
std::ostream& operator<<(std::ostream& out, const Line& l) {
  return out << "(" << l.x1 << "," << l.y1 << ")->(" << l.x2 << "," << l.y2 << ")";
}

// Each line must be exactly: a white one-pixel pen created and selected, MoveToEx,
// LineTo, and that pen deleted. Returns the lines in drawing order.
std::vector<Line> linesOf(const std::vector<Call>& calls) {
  std::vector<Line> lines;
  EXPECT_EQ(calls.size() % 5, 0u);
  for (size_t i = 0; i + 4 < calls.size(); i += 5) {
    const Call& create = calls[i];
    EXPECT_EQ(create.name, "CreatePen");
    EXPECT_EQ(create.num(0), PS_SOLID);
    EXPECT_EQ(create.num(1), 1);
    EXPECT_EQ(create.num(2), 0x00ffffff);
    EXPECT_EQ(calls[i + 1].name, "SelectObject");
    EXPECT_EQ(calls[i + 1].id(1), create.result);
    EXPECT_EQ(calls[i + 2].name, "MoveToEx");
    EXPECT_EQ(calls[i + 3].name, "LineTo");
    EXPECT_EQ(calls[i + 4].name, "DeleteObject");
    EXPECT_EQ(calls[i + 4].id(0), create.result);
    lines.push_back({static_cast<int>(calls[i + 2].num(1)), static_cast<int>(calls[i + 2].num(2)),
                     static_cast<int>(calls[i + 3].num(1)), static_cast<int>(calls[i + 3].num(2))});
  }
  return lines;
}

class KochTest : public modtest::EffectTest {
 protected:
  std::vector<Line> draw(int x1, int y1, int x2, int y2, int depth) {
    modtest::TraceRecorder trace;
    kochEdge(x1, y1, x2, y2, depth);
    return linesOf(trace.calls());
  }
};

TEST_F(KochTest, WorkedExamples) {
  // Worked by hand with len/3 steps and a peak turned by +1.04719755 rad (about 60
  // degrees) from the segment's direction, each point truncated toward zero.
  struct Case {
    const char* note;
    int x1, y1, x2, y2, depth;
    std::vector<Line> expected;
  };
  const Case cases[] = {
      {"depth 0 is the segment itself, however long", 5, 7, 1900, -40, 0, {{5, 7, 1900, -40}}},
      {"rightwards: the peak lies below (150, 86.6)", 0, 0, 300, 0, 1,
       {{0, 0, 100, 0}, {100, 0, 150, 86}, {150, 86, 200, 0}, {200, 0, 300, 0}}},
      {"leftwards: the peak lies above; 149.9999999 -> 149, -86.6 -> -86", 300, 0, 0, 0, 1,
       {{300, 0, 200, 0}, {200, 0, 149, -86}, {149, -86, 100, 0}, {100, 0, 0, 0}}},
      {"downwards: the peak lies to the left", 0, 0, 0, 300, 1,
       {{0, 0, 0, 100}, {0, 100, -86, 150}, {-86, 150, 0, 200}, {0, 200, 0, 300}}},
      {"a flake's first edge, peak away from the centre (320, 240)", 420, 240, 270, 153, 1,
       {{420, 240, 370, 211}, {370, 211, 370, 153}, {370, 153, 320, 182}, {320, 182, 270, 153}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(draw(c.x1, c.y1, c.x2, c.y2, c.depth), c.expected) << c.note;
  }
  expectNothingAlive();
}

TEST_F(KochTest, DrawsFourToTheDepthConnectedLines) {
  // Every depth 0..5 on a slanted segment: 4^depth lines, each starting where the one
  // before ended, from the start point to the unchanged end point.
  for (int depth = 0; depth <= 5; ++depth) {
    const std::vector<Line> lines = draw(17, 400, 611, 23, depth);
    ASSERT_EQ(lines.size(), size_t{1} << (2 * depth)) << "depth " << depth;
    EXPECT_EQ(lines.front().x1, 17);
    EXPECT_EQ(lines.front().y1, 400);
    EXPECT_EQ(lines.back().x2, 611);
    EXPECT_EQ(lines.back().y2, 23);
    for (size_t i = 1; i < lines.size(); ++i) {
      ASSERT_EQ(lines[i].x1, lines[i - 1].x2) << "depth " << depth << " line " << i;
      ASSERT_EQ(lines[i].y1, lines[i - 1].y2) << "depth " << depth << " line " << i;
    }
  }
  expectNothingAlive();
}

// The subdivision written out plainly, every point from fresh trigonometry, to check
// that the routine's reuse of per-segment offsets never changes a single point.
void plainKoch(int x1, int y1, int x2, int y2, int depth, std::vector<Line>* out) {
  if (depth == 0) {
    out->push_back({x1, y1, x2, y2});
    return;
  }
  const int dx = x2 - x1, dy = y2 - y1;
  const double len = sqrt(static_cast<double>(dx * dx + dy * dy));
  const double a = atan2(static_cast<double>(dy), static_cast<double>(dx));
  const double t = len * 0.3333333333333333, u = len * 0.6666666666666666;
  const double p1x = x1 + t * cos(a), p1y = y1 + t * sin(a);
  const double p2x = p1x + t * cos(a + 1.04719755), p2y = p1y + t * sin(a + 1.04719755);
  const double p3x = x1 + u * cos(a), p3y = y1 + u * sin(a);
  const int q[6] = {static_cast<int>(p1x), static_cast<int>(p1y), static_cast<int>(p2x),
                    static_cast<int>(p2y), static_cast<int>(p3x), static_cast<int>(p3y)};
  plainKoch(x1, y1, q[0], q[1], depth - 1, out);
  plainKoch(q[0], q[1], q[2], q[3], depth - 1, out);
  plainKoch(q[2], q[3], q[4], q[5], depth - 1, out);
  plainKoch(q[4], q[5], x2, y2, depth - 1, out);
}

TEST_F(KochTest, ReusedOffsetsGiveTheSamePointsAsFreshOnes) {
  // Segments of every length from 0 to a flake's largest edge, in every direction,
  // drawn twice so that the second pass meets only offsets the first pass kept.
  for (int pass = 0; pass < 2; ++pass) {
    modtest::ReferenceRand r(99);
    for (int n = 0; n < 300; ++n) {
      const int reach = n < 100 ? 50 : 900;
      const int x1 = r.next() % 1200 - 300, y1 = r.next() % 1000 - 300;
      const int x2 = x1 + r.next() % (2 * reach + 1) - reach;
      const int y2 = y1 + r.next() % (2 * reach + 1) - reach;
      const int depth = 1 + r.next() % 4;
      std::vector<Line> expected;
      plainKoch(x1, y1, x2, y2, depth, &expected);
      ASSERT_EQ(draw(x1, y1, x2, y2, depth), expected)
          << "(" << x1 << "," << y1 << ")->(" << x2 << "," << y2 << ") depth " << depth;
    }
  }
}

TEST_F(KochTest, DegenerateAndNegativeDepths) {
  // A point has length 0 and direction 0: sixteen zero-length lines at it at depth 2.
  const std::vector<Line> point = draw(33, -4, 33, -4, 2);
  ASSERT_EQ(point.size(), 16u);
  for (const Line& l : point) EXPECT_EQ(l, (Line{33, -4, 33, -4}));
  // A negative depth ends at once with the plain segment.
  EXPECT_EQ(draw(1, 2, 3, 4, -3), (std::vector<Line>{{1, 2, 3, 4}}));
}

TEST_F(KochTest, HugeSegmentsNeitherOverflowNorWrap) {
  // dx = 4e9 does not fit 32 bits, nor does its square; the division points are still
  // the thirds (-666666666.7 and 666666666.7, truncated) and the peak lies below, at a
  // height of 4e9 / 3 x sin(60 degrees), about 1.1547e9.
  const std::vector<Line> lines = draw(-2000000000, 0, 2000000000, 0, 1);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], (Line{-2000000000, 0, -666666666, 0}));
  EXPECT_EQ(lines[3], (Line{666666666, 0, 2000000000, 0}));
  EXPECT_NEAR(lines[1].x2, 0, 5);
  EXPECT_NEAR(lines[1].y2, 1154700538, 5);
  // Upwards along the right end of the 32-bit range the peak lies to the right, at
  // x = 2^31 - 1 + about 1.24e9: it saturates to INT_MAX instead of wrapping negative.
  const std::vector<Line> edge = draw(INT_MAX, INT_MAX, INT_MAX, INT_MIN, 1);
  ASSERT_EQ(edge.size(), 4u);
  EXPECT_EQ(edge[0], (Line{INT_MAX, INT_MAX, INT_MAX, 715827882}));
  EXPECT_EQ(edge[1].x2, INT_MAX);
  EXPECT_NEAR(edge[1].y2, 0, 2);
  EXPECT_EQ(edge[3].x2, INT_MAX);
  EXPECT_EQ(edge[3].y2, INT_MIN);
}

}  // namespace
