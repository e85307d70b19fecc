// Lines: the one-pixel Bresenham line with GDI's octant bias, clipped in error-term
// space, and the wide round pen (a body plus a disc at each end).
//
// Not here: dashed or cosmetic styles (only PS_SOLID and PS_NULL exist in this layer).
#include <stdint.h>
#include <stdlib.h>

#include "raster_coverage.h"
#include "raster_internal.h"
#include "raster_thin_line.h"

namespace vis {
namespace raster {
namespace {

// Narrows the steps [*first, *last] of a line (see thinLine) to those whose pixel lies
// in [aMin, aMax] on the major axis and [bMin, bMax] on the minor one. False: none.
// Extents and start are device values (up to 2^33); the products of the error form
// go through mulAddDiv.
bool clipSteps(int64_t M, int64_t m, int bias, int64_t a0, int sa, int64_t b0, int sb,
               int64_t aMin, int64_t aMax, int64_t bMin, int64_t bMax, int64_t* first,
               int64_t* last) {
  // Major axis: a0 + sa j within [aMin, aMax].
  if (sa > 0) {
    if (aMin - a0 > *first) *first = aMin - a0;
    if (aMax - a0 < *last) *last = aMax - a0;
  } else {
    if (a0 - aMax > *first) *first = a0 - aMax;
    if (a0 - aMin < *last) *last = a0 - aMin;
  }
  if (*first > *last) return false;
  // Minor axis: b0 + sb k_j within [bMin, bMax], i.e. k_j within [kLow, kHigh]. The
  // steps k_j run from 0 to at most m (k_M = m), so a range beyond m is never reached
  // and a bound at or past it constrains nothing.
  const int64_t kLow = sb > 0 ? bMin - b0 : b0 - bMax;
  const int64_t kHigh = sb > 0 ? bMax - b0 : b0 - bMin;
  if (kHigh < 0 || kLow > m) return false;
  if (kLow > 0) {
    // k_j >= kLow  <=>  2mj >= 2M kLow - M - bias + 1; j is that over 2m, rounded up.
    const int64_t j = mulAddDiv(2 * M, kLow, 2 * m - M - bias, 2 * m).quot;
    if (j > *first) *first = j;
  }
  if (kHigh < m) {
    // k_j <= kHigh  <=>  2mj < 2M (kHigh + 1) - M - bias + 1
    const int64_t j = mulAddDiv(2 * M, kHigh + 1, 2 * m - M - bias, 2 * m).quot - 1;
    if (j < *last) *last = j;
  }
  return *first <= *last;
}

}  // namespace

QuotRem mulAddDiv(int64_t a, int64_t b, int64_t c, int64_t d) {
  constexpr int64_t kSmall = int64_t{1} << 31;
  if (a < kSmall && b < kSmall && c > -(int64_t{1} << 62) && c < (int64_t{1} << 62)) {
    const int64_t n = a * b + c;  // below 2^63 in magnitude
    return {n / d, n % d};
  }
  // The product in two 64-bit halves, from 32-bit limbs.
  const uint64_t ua = static_cast<uint64_t>(a), ub = static_cast<uint64_t>(b);
  const uint64_t aLo = ua & 0xffffffffu, aHi = ua >> 32, bLo = ub & 0xffffffffu, bHi = ub >> 32;
  const uint64_t ll = aLo * bLo, lh = aLo * bHi, hl = aHi * bLo, hh = aHi * bHi;
  const uint64_t middle = (ll >> 32) + (lh & 0xffffffffu) + (hl & 0xffffffffu);
  uint64_t lo = (ll & 0xffffffffu) | (middle << 32);
  uint64_t hi = hh + (lh >> 32) + (hl >> 32) + (middle >> 32);
  // Plus c (the sum is not negative).
  if (c >= 0) {
    const uint64_t sum = lo + static_cast<uint64_t>(c);
    hi += sum < lo ? 1 : 0;
    lo = sum;
  } else {
    const uint64_t sub = static_cast<uint64_t>(-(c + 1)) + 1;  // |c|, without overflow
    hi -= lo < sub ? 1 : 0;
    lo -= sub;
  }
  // Long division by d, one bit at a time; hi < d since the quotient fits 64 bits, so
  // the running remainder stays below d <= 2^63 and its doubling fits.
  const uint64_t ud = static_cast<uint64_t>(d);
  uint64_t rem = hi % ud, quot = 0;
  for (int bit = 63; bit >= 0; --bit) {
    rem = (rem << 1) | ((lo >> bit) & 1u);
    quot <<= 1;
    if (rem >= ud) {
      rem -= ud;
      quot |= 1u;
    }
  }
  return {static_cast<int64_t>(quot), static_cast<int64_t>(rem)};
}

void fillBox(const Surface& s, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t pixel) {
  if (x0 < s.clipLeft) x0 = s.clipLeft;
  if (x1 > s.clipRight) x1 = s.clipRight;
  if (y0 < s.clipTop) y0 = s.clipTop;
  if (y1 > s.clipBottom) y1 = s.clipBottom;
  if (x0 >= x1 || y0 >= y1) return;
  uint32_t* row = s.pixels + static_cast<ptrdiff_t>(y0) * s.stride + static_cast<ptrdiff_t>(x0);
  const int n = static_cast<int>(x1 - x0);
  for (int64_t y = y0; y < y1; ++y, row += s.stride) fillPixels(row, n, pixel);
}

// The line's pixels, numbered j = 0 .. M-1 along the major axis (M = the major extent;
// pixel M is the end point, which GDI leaves out). With m the minor extent, Bresenham's
// decision after pixel j is "step the minor axis when err_j + bias > 0", where
//   err_0 = 2m - M,  err_{j+1} = err_j + 2m - 2M [stepped],
// so that err_j = 2m(j + 1) - M - 2M k_j, k_j being the minor steps taken before pixel j.
// Solving the decision for k gives the closed form
//   k_j = floor((2mj + M + bias - 1) / 2M),
// by induction: k_{j+1} - k_j is 1 exactly when k_j < (2m(j+1) - M + bias) / 2M.
// Clipping inverts that form to find the first and last j whose pixel is inside, and
// the loop starts at the first with err_j recomputed; so a clipped line draws exactly
// the pixels of the unclipped one that fall inside, as GDI's clipper does.
//
// The bias is 1 in the octants 3, 5, 6 and 8 (numbered clockwise from +x, y down): the
// x-major lines going up and the y-major lines going left. Ties then round the other
// way, which makes A->B and B->A cover the same pixels. Exact diagonals are y-major.
namespace {

// Where a slanted line's pixels inside the clip begin, how many there are, and
// Bresenham's state at the first: its error, the error's steps (minor step taken or
// not), the bias, and the directions of the major and minor axes.
struct LineWalk {
  int64_t x, y;
  int64_t count;
  int64_t major;  // M
  int64_t err, stepped, straight;
  int bias;
  bool xMajor;
  int sx, sy;
};

// The line from (x1, y1) to (x2, y2), neither dx nor dy 0. False: nothing inside.
bool walkLine(const Surface& s, int64_t x1, int64_t y1, int64_t x2, int64_t y2, LineWalk* w) {
  const int64_t dx = x2 - x1, dy = y2 - y1;
  const int64_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
  const bool xMajor = adx > ady;
  const int bias = (xMajor ? dy < 0 : dx < 0) ? 1 : 0;
  // Major axis a, minor axis b, in device coordinates.
  const int64_t M = xMajor ? adx : ady;
  const int64_t m = xMajor ? ady : adx;
  const int64_t a0 = xMajor ? x1 : y1, b0 = xMajor ? y1 : x1;
  const int sa = (xMajor ? dx : dy) > 0 ? 1 : -1;
  const int sb = (xMajor ? dy : dx) > 0 ? 1 : -1;

  int64_t first = 0, last = M - 1;
  const bool inside = x1 >= s.clipLeft && x1 < s.clipRight && x2 >= s.clipLeft &&
                      x2 < s.clipRight && y1 >= s.clipTop && y1 < s.clipBottom &&
                      y2 >= s.clipTop && y2 < s.clipBottom;
  // With both ends inside, so is every pixel between them.
  if (!inside && !clipSteps(M, m, bias, a0, sa, b0, sb, xMajor ? s.clipLeft : s.clipTop,
                            (xMajor ? s.clipRight : s.clipBottom) - 1,
                            xMajor ? s.clipTop : s.clipLeft,
                            (xMajor ? s.clipBottom : s.clipRight) - 1, &first, &last)) {
    return false;
  }

  // The minor steps before the first pixel and its error, from the closed form:
  // with N = 2m first + M + bias - 1 = 2M k + r (0 <= r < 2M),
  // err = 2m (first + 1) - M - 2M k = r + 2m - 2M - bias + 1.
  // An unclipped start needs no division: k = 0, r = M + bias - 1, err = 2m - M.
  const QuotRem kr = first == 0 ? QuotRem{0, M + bias - 1} : mulAddDiv(2 * m, first, M + bias - 1, 2 * M);
  const int64_t err = kr.rem + 2 * m - 2 * M - bias + 1;
  const int64_t a = a0 + sa * first, b = b0 + sb * kr.quot;  // inside the clip
  w->x = xMajor ? a : b;
  w->y = xMajor ? b : a;
  w->count = last - first + 1;
  w->major = M;
  w->err = err;
  w->stepped = 2 * m - 2 * M;
  w->straight = 2 * m;
  w->bias = bias;
  w->xMajor = xMajor;
  w->sx = xMajor ? sa : sb;
  w->sy = xMajor ? sb : sa;
  return true;
}

}  // namespace

void thinLine(const Surface& s, int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint32_t pixel) {
  const int64_t dx = x2 - x1, dy = y2 - y1;
  if (dy == 0) {
    fillSpan(s, y1, dx > 0 ? x1 : x2 + 1, dx > 0 ? x2 : x1 + 1, pixel);
    return;
  }
  if (dx == 0) {
    fillBox(s, x1, dy > 0 ? y1 : y2 + 1, x1 + 1, dy > 0 ? y2 : y1 + 1, pixel);
    return;
  }
  LineWalk w;
  if (!walkLine(s, x1, y1, x2, y2, &w)) return;
  uint32_t* p = s.pixels + static_cast<ptrdiff_t>(w.y) * s.stride + static_cast<ptrdiff_t>(w.x);
  const ptrdiff_t xStep = w.sx, yStep = static_cast<ptrdiff_t>(w.sy) * s.stride;
  const ptrdiff_t majorStep = w.xMajor ? xStep : yStep;
  const ptrdiff_t minorStep = w.xMajor ? yStep : xStep;
  // The error stays within (-2M, 2m]: 32 bits do unless the line is over 2^29 long.
  if (w.major < (int64_t{1} << 29)) {
    stepLine<int>(p, static_cast<int>(w.count), static_cast<int>(w.err), w.bias,
                  static_cast<int>(w.stepped), static_cast<int>(w.straight), majorStep, minorStep, pixel);
  } else {
    stepLine<int64_t>(p, w.count, w.err, w.bias, w.stepped, w.straight, majorStep, minorStep, pixel);
  }
}

// The same pixels as thinLine, each painted through the coverage.
void thinLineCovered(Coverage& c, const Surface& s, int64_t x1, int64_t y1, int64_t x2,
                     int64_t y2, uint32_t pixel) {
  const int64_t dx = x2 - x1, dy = y2 - y1;
  if (dy == 0) {
    c.span(y1, dx > 0 ? x1 : x2 + 1, dx > 0 ? x2 : x1 + 1, pixel);
    return;
  }
  if (dx == 0) {
    c.box(x1, dy > 0 ? y1 : y2 + 1, x1 + 1, dy > 0 ? y2 : y1 + 1, pixel);
    return;
  }
  LineWalk w;
  if (!walkLine(s, x1, y1, x2, y2, &w)) return;
  int64_t x = w.x, y = w.y, err = w.err;
  const int64_t majorX = w.xMajor ? w.sx : 0, majorY = w.xMajor ? 0 : w.sy;
  const int64_t minorX = w.xMajor ? 0 : w.sx, minorY = w.xMajor ? w.sy : 0;
  for (int64_t n = w.count; n > 0; --n) {
    c.point(x, y, pixel);
    if (err + w.bias > 0) {
      x += minorX;
      y += minorY;
      err += w.stepped;
    } else {
      err += w.straight;
    }
    x += majorX;
    y += majorY;
  }
}

// A wide segment's body. Axis-aligned ones are rectangles w pixels across, starting
// w / 2 before the centre line and leaving out the far end (the end disc covers it).
// Slanted ones are the parallelogram whose sides are offset from the centre line by
// the pen's half-width, measured along x and y: with the width's projections
//   wx = w |dy| / len,  wy = w |dx| / len,
// one side lies round(wx / 2), round(wy / 2) away and the other round((wx + 1) / 2),
// round((wy + 1) / 2), rounding halves up; the narrow side is to the left of the
// direction of travel when it goes down-right, and the sides swap with the signs.
// The parallelogram is filled with the polygon rule.
void penSegmentQuad(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int width, Point64 quad[4]) {
  const double dx = static_cast<double>(x2) - x1, dy = static_cast<double>(y2) - y1;
  const double len = hypot(dx, dy);
  const double wx = width * fabs(dy) / len, wy = width * fabs(dx) / len;
  Point64 narrow = {roundHalfUp(wx / 2), roundHalfUp(wy / 2)};
  Point64 wide = {roundHalfUp((wx + 1) / 2), roundHalfUp((wy + 1) / 2)};
  if (dx < 0) {
    narrow.y = -narrow.y;
    wide.y = -wide.y;
  }
  if (dy < 0) {
    const Point64 t = narrow;
    narrow = wide;
    wide = t;
    narrow.x = -narrow.x;
    wide.x = -wide.x;
  }
  quad[0] = {x1 - narrow.x, y1 + narrow.y};
  quad[1] = {x1 + wide.x, y1 - wide.y};
  quad[2] = {x2 + wide.x, y2 - wide.y};
  quad[3] = {x2 - narrow.x, y2 + narrow.y};
}

void penSegment(const Surface& s, int64_t x1, int64_t y1, int64_t x2, int64_t y2, int width,
                uint32_t pixel) {
  if (x1 == x2 && y1 == y2) return;
  if (y1 == y2) {
    const int64_t top = y1 - width / 2;
    fillBox(s, x1 < x2 ? x1 : x2, top, x1 < x2 ? x2 : x1, top + width, pixel);
    return;
  }
  if (x1 == x2) {
    const int64_t left = x1 - width / 2;
    fillBox(s, left, y1 < y2 ? y1 : y2, left + width, y1 < y2 ? y2 : y1, pixel);
    return;
  }
  Point64 quad[4];
  penSegmentQuad(x1, y1, x2, y2, width, quad);
  fillPolygon(s, quad, 4, pixel);
}

}  // namespace raster

using namespace raster;

void rasterLineFull(const RasterTarget& target, int fromX, int fromY, int toX, int toY,
                    const RasterPen& pen) {
  const Surface s = surfaceOf(target);
  if (clipEmpty(s)) return;
  const int64_t x1 = int64_t{fromX} + s.originX, y1 = int64_t{fromY} + s.originY;
  const int64_t x2 = int64_t{toX} + s.originX, y2 = int64_t{toY} + s.originY;
  const int width = clampPenWidth(pen.width);
  if (width == 1) {
    thinLine(s, x1, y1, x2, y2, pen.pixel);
    return;
  }
  // A wide line is its body with a round cap at each end; a zero-length one is a dot.
  penSegment(s, x1, y1, x2, y2, width, pen.pixel);
  penDisc(s, x1, y1, width, pen.pixel);
  if (x1 != x2 || y1 != y2) penDisc(s, x2, y2, width, pen.pixel);
}

void rasterLine(const RasterTarget& target, int fromX, int fromY, int toX, int toY,
                const RasterPen& pen) {
  if (pen.null || thinLineShortPath(target, fromX, fromY, toX, toY, pen)) return;
  rasterLineFull(target, fromX, fromY, toX, toY, pen);
}

}  // namespace vis
