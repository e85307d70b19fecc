// Shared helpers of the raster's source files: the clipped span writer and the shapes
// that more than one primitive stamps (the pen's disc, convex quads, one-pixel lines).
// Not part of the raster's interface (raster.h).
//
// Device coordinates are 64-bit: a logical coordinate (any int) plus the DC's origin
// (any int) does not fit 32 bits, and neither do the extents of a figure between
// far-off points. Spans become ints only once clipped. Where a rule needs the product
// of two such values (a line's or an edge's position at a row), mulAddDiv keeps it
// exact beyond 64 bits.
#pragma once

#include <math.h>  // hypot, floor: the wide pen's segment offsets
#include <stdint.h>
#include <wchar.h>  // wmemset: long runs of one pixel

#include "raster.h"

namespace vis {
namespace raster {

// A target reduced to what the inner loops need: device clip and a pixel pointer.
struct Surface {
  uint32_t* pixels;
  int stride;
  int clipLeft, clipTop, clipRight, clipBottom;  // device pixels, half-open
  int originX, originY;                          // logical to device
};

inline Surface surfaceOf(const RasterTarget& t) {
  Surface s;
  s.pixels = t.pixels;
  s.stride = t.stride;
  s.clipLeft = t.clip.left < 0 ? 0 : t.clip.left;
  s.clipTop = t.clip.top < 0 ? 0 : t.clip.top;
  s.clipRight = t.clip.right > t.width ? t.width : t.clip.right;
  s.clipBottom = t.clip.bottom > t.height ? t.height : t.clip.bottom;
  s.originX = t.originX;
  s.originY = t.originY;
  return s;
}

inline bool clipEmpty(const Surface& s) {
  return s.clipLeft >= s.clipRight || s.clipTop >= s.clipBottom;
}

// Stores the pixel n times from p. Long runs go to wmemset, which the C library
// vectorises (wchar_t is 32 bits on the platforms this layer serves).
inline void fillPixels(uint32_t* p, int n, uint32_t pixel) {
  static_assert(sizeof(wchar_t) == sizeof(uint32_t), "wmemset stores 32-bit pixels");
  if (n >= 16) {
    wmemset(reinterpret_cast<wchar_t*>(p), static_cast<wchar_t>(pixel), static_cast<size_t>(n));
    return;
  }
  for (; n > 0; --n) *p++ = pixel;
}

// A point in device coordinates.
struct Point64 {
  int64_t x, y;
};

// Fills [x0, x1) of row y (device coordinates) with the pixel; clips the span itself.
inline void fillSpan(const Surface& s, int64_t y, int64_t x0, int64_t x1, uint32_t pixel) {
  if (y < s.clipTop || y >= s.clipBottom) return;
  if (x0 < s.clipLeft) x0 = s.clipLeft;
  if (x1 > s.clipRight) x1 = s.clipRight;
  if (x0 < x1) {
    fillPixels(s.pixels + static_cast<ptrdiff_t>(y) * s.stride + static_cast<ptrdiff_t>(x0),
               static_cast<int>(x1 - x0), pixel);
  }
}

// floor((a b + c) / d) and the remainder, for a, b >= 0, d > 0 and a b + c >= 0, exact
// when a b exceeds 64 bits (the quotient itself must fit). Small operands take plain
// 64-bit arithmetic; the rest a 128-bit product and long division.
struct QuotRem {
  int64_t quot, rem;
};
QuotRem mulAddDiv(int64_t a, int64_t b, int64_t c, int64_t d);

// Limits that keep absurd arguments from taking unbounded time or memory: an ellipse's
// box side (larger boxes draw nothing) and a pen's width (wider pens draw this wide).
constexpr int kMaxEllipseSide = 1 << 15;
constexpr int kMaxPenWidth = 1 << 14;
inline int clampPenWidth(int width) { return width < 1 ? 1 : width > kMaxPenWidth ? kMaxPenWidth : width; }

// GDI draws an inverted box as the box with its corners swapped.
inline void orderBox(int& left, int& top, int& right, int& bottom) {
  if (left > right) {
    const int t = left;
    left = right;
    right = t;
  }
  if (top > bottom) {
    const int t = top;
    top = bottom;
    bottom = t;
  }
}

inline int roundHalfUp(double v) { return static_cast<int>(floor(v + 0.5)); }

// Fills the device rectangle [x0, x1) x [y0, y1), clipped.
void fillBox(const Surface& s, int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t pixel);

// A one-pixel line in device coordinates, end point left out (see raster_line.cpp).
void thinLine(const Surface& s, int64_t x1, int64_t y1, int64_t x2, int64_t y2, uint32_t pixel);

// The round pen of width w (> 1) stamped with its centre pixel at (x, y): the filled
// ellipse of a w x w box whose left and top lie w / 2 before the centre.
void penDisc(const Surface& s, int64_t x, int64_t y, int width, uint32_t pixel);

// The body of a wide pen's segment from (x1, y1) to (x2, y2), without its ends.
void penSegment(const Surface& s, int64_t x1, int64_t y1, int64_t x2, int64_t y2, int width,
                uint32_t pixel);

// Even-odd fill of a closed polygon in device coordinates, pixel (x, y) filled when an
// odd number of edges cross row y at or left of x, crossings rounded up (see
// raster_polygon.cpp). Edges beyond a stack buffer go to a reused heap buffer.
void fillPolygon(const Surface& s, const Point64* points, int count, uint32_t pixel);

// The same fill's extent per row, for rows [rowMin, rowMax): left[i], right[i] of row
// rowMin + i (INT32_MAX, INT32_MIN when the row is empty). For small convex shapes.
void polygonRows(const Point64* points, int count, int rowMin, int rowMax, int* left, int* right);

// The corners of a wide pen's body from (x1, y1) to (x2, y2), both slanted (see
// raster_line.cpp).
void penSegmentQuad(int64_t x1, int64_t y1, int64_t x2, int64_t y2, int width, Point64 quad[4]);

// One quadrant of the integer ellipse inscribed in a width x height pixel box (both
// > 2): the points (x, y) relative to the box's top-left with x >= width / 2 and
// y >= height / 2, from the rightmost point of the middle row down to the bottom.
// Writes at most width + height points and returns their count.
int ellipseQuadrant(int width, int height, POINT* out);

}  // namespace raster
}  // namespace vis
