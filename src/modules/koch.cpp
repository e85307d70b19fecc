// The Koch edge routine: the Koch curve of a given depth between two integer points,
// drawn as white one-pixel lines, each with a pen of its own. Only the leaves of the
// subdivision are drawn, so a call at depth d draws exactly 4^d lines, in order along
// the curve. It keeps no state and allocates nothing.
#include <math.h>
#include <stdint.h>

#include "draw/draw_surface.h"
#include "modules/module_common.h"
#include "modules/modules.h"

namespace {

const double kOneThird = 0.3333333333333333;
const double kTwoThirds = 0.6666666666666666;
const double kPeakAngle = 1.04719755;  // this value, not a more exact pi / 3

void drawWhiteLine(int x1, int y1, int x2, int y2) {
  selectNewPen(1, RGB(255, 255, 255));
  MoveToEx(drawSurface.dc, x1, y1, nullptr);
  LineTo(drawSurface.dc, x2, y2);
  deletePenSlot();
}

}  // namespace

void kochEdge(int x1, int y1, int x2, int y2, int depth) {
  // The fourth sub-segment continues in this invocation (start moves to the third
  // division point, depth drops by one), so nesting never goes deeper than depth + 1.
  // A negative depth is treated as 0: one straight line.
  for (;;) {
    if (depth <= 0) {
      drawWhiteLine(x1, y1, x2, y2);
      return;
    }
    // The differences and the sum of squares are taken wide, so saturated far-away
    // coordinates cannot overflow; for screen-sized values every square and the sum
    // are exact in a double, which is what a 32-bit integer sum would give.
    const double dx = static_cast<double>(static_cast<int64_t>(x2) - x1);
    const double dy = static_cast<double>(static_cast<int64_t>(y2) - y1);
    const double len = sqrt(dx * dx + dy * dy);
    const double a = atan2(dy, dx);  // atan2(0, 0) is 0: a point stays a point
    const double t = len * kOneThird;
    const double u = len * kTwoThirds;
    // The peak is built from the first division point before its truncation, and the
    // second division point from the start, not from the peak.
    const double p1x = x1 + t * cos(a);
    const double p1y = y1 + t * sin(a);
    const double p2x = p1x + t * cos(a + kPeakAngle);
    const double p2y = p1y + t * sin(a + kPeakAngle);
    const double p3x = x1 + u * cos(a);
    const double p3y = y1 + u * sin(a);
    const int q1x = truncToInt(p1x), q1y = truncToInt(p1y);
    const int q2x = truncToInt(p2x), q2y = truncToInt(p2y);
    const int q3x = truncToInt(p3x), q3y = truncToInt(p3y);
    --depth;
    kochEdge(x1, y1, q1x, q1y, depth);
    kochEdge(q1x, q1y, q2x, q2y, depth);
    kochEdge(q2x, q2y, q3x, q3y, depth);
    x1 = q3x;
    y1 = q3y;
  }
}
