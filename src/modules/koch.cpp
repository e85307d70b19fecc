// The Koch edge routine: the Koch curve of a given depth between two integer points,
// drawn as white one-pixel lines, each with a pen of its own. Only the leaves of the
// subdivision are drawn, so a call at depth d draws exactly 4^d lines, in order along
// the curve. It allocates nothing.
#include <math.h>  // sqrt: correctly rounded by IEEE on every build
#include <stdint.h>

#include "draw/draw_surface.h"
#include "math/crmath.h"  // sincos, atan2: the same bits on every build
#include "modules/module_common.h"
#include "modules/modules.h"

namespace {

const double kOneThird = 0.3333333333333333;
const double kTwoThirds = 0.6666666666666666;
const double kPeakAngle = 1.04719755;  // this value, not a more exact pi / 3

// The offsets of the three division points from where they are measured: P1 and P3
// from the start, P2 from the untruncated P1. They depend on the segment's integer
// differences alone, so they are worked out once per (dx, dy) and kept: the deep
// levels of a large flake subdivide the same few short segments thousands of times a
// frame, and the square root, arctangent and two sine-cosine pairs are most of the cost.
// Adding a kept offset is the same double operation as adding a fresh one, so the
// points are bit for bit the same.
struct Offsets {
  double p1x, p1y;  // t cos a, t sin a
  double p2x, p2y;  // t cos(a + peak), t sin(a + peak)
  double p3x, p3y;  // u cos a, u sin a
};

// Out of line: the cold path, once per new short segment or per long one. Every offset
// is thus a double in memory on both paths, kept or fresh.
__attribute__((noinline)) void computeOffsets(int64_t dx, int64_t dy, Offsets* out) {
  // Taken wide, so that saturated far-away coordinates cannot overflow; for
  // screen-sized values every square and the sum are exact in a double, which is what
  // a 32-bit integer sum gives.
  const double fx = static_cast<double>(dx);
  const double fy = static_cast<double>(dy);
  const double len = sqrt(fx * fx + fy * fy);
  const double a = crmath::atan2(fy, fx);  // atan2(0, 0) is 0: a point stays a point
  const double t = len * kOneThird;
  const double u = len * kTwoThirds;
  double sinA, cosA, sinPeak, cosPeak;
  crmath::sincos(a, &sinA, &cosA);
  crmath::sincos(a + kPeakAngle, &sinPeak, &cosPeak);
  out->p1x = t * cosA;
  out->p1y = t * sinA;
  out->p2x = t * cosPeak;
  out->p2y = t * sinPeak;
  out->p3x = u * cosA;
  out->p3y = u * sinA;
}

// Kept offsets for |dx|, |dy| <= 48, which covers the three deepest levels of the
// largest flakes (edges of about 883 pixels have segments of 11, 33 and 98). Static,
// zero-initialised storage, filled as segments first appear; larger segments are
// computed each time.
const int kReach = 48;
const int kSide = 2 * kReach + 1;
struct OffsetCache {
  Offsets offsets[kSide * kSide];
  bool known[kSide * kSide];
};
OffsetCache cache;

inline const Offsets& offsetsFor(int64_t dx, int64_t dy, Offsets* scratch) {
  if (dx >= -kReach && dx <= kReach && dy >= -kReach && dy <= kReach) {
    const int index = static_cast<int>((dy + kReach) * kSide + (dx + kReach));
    if (!cache.known[index]) {
      computeOffsets(dx, dy, &cache.offsets[index]);
      cache.known[index] = true;
    }
    return cache.offsets[index];
  }
  computeOffsets(dx, dy, scratch);
  return *scratch;
}

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
    Offsets scratch;
    const Offsets& o =
        offsetsFor(static_cast<int64_t>(x2) - x1, static_cast<int64_t>(y2) - y1, &scratch);
    // The peak is built from the first division point before its truncation, the
    // second division point from the start, not from the peak.
    const double p1x = x1 + o.p1x;
    const double p1y = y1 + o.p1y;
    const int q1x = truncToInt(p1x), q1y = truncToInt(p1y);
    const int q2x = truncToInt(p1x + o.p2x), q2y = truncToInt(p1y + o.p2y);
    const int q3x = truncToInt(x1 + o.p3x), q3y = truncToInt(y1 + o.p3y);
    --depth;
    kochEdge(x1, y1, q1x, q1y, depth);
    kochEdge(q1x, q1y, q2x, q2y, depth);
    kochEdge(q2x, q2y, q3x, q3y, depth);
    x1 = q3x;
    y1 = q3y;
  }
}
