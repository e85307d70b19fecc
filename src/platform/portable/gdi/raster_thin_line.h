// The short path of a one-pixel line, inline for its callers (LineTo, rasterLine):
// an effect that draws tens of thousands of short lines a frame spends more on calls
// and set-up than on pixels. Only lines whose ends both lie inside the clip are drawn
// here; those beyond one side of it are dropped; the rest go to rasterLine's full path
// (raster_line.cpp), which clips in error space.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "raster.h"
#include "raster_internal.h"  // fillPixels

namespace vis {
namespace raster {

// Bresenham's inner loop from a pixel whose decision error is err. The decision is
// applied through a mask rather than a branch: on a short slanted line it has no
// pattern that a predictor could learn, and a missed branch costs more than the pixel.
template <class Int>
inline void stepLine(uint32_t* p, Int n, Int err, int bias, Int stepped, Int straight,
                     ptrdiff_t majorStep, ptrdiff_t minorStep, uint32_t pixel) {
  const Int turn = stepped - straight;
  for (; n > 0; --n) {
    *p = pixel;
    const Int take = -static_cast<Int>(err + bias > 0);  // all ones when stepping
    p += majorStep + (minorStep & static_cast<ptrdiff_t>(take));
    err += straight + (turn & take);
  }
}

// thinLine for a line whose two ends lie inside the clip, as most do: every pixel is
// then inside, nothing needs clipping, and the extents fit an int because the clip
// does. The same pixels as thinLine's unclipped start (first = 0, err = 2m - M); this
// path only leaves out the 64-bit set-up, which costs more than the few pixels of a
// short line.
inline void thinLineInside(uint32_t* pixels, int stride, int x1, int y1, int x2, int y2,
                           uint32_t pixel) {
  const int dx = x2 - x1, dy = y2 - y1;
  uint32_t* const p = pixels + static_cast<ptrdiff_t>(y1) * stride + x1;
  if (dy == 0) {
    // Half-open towards the end point, in either direction.
    if (dx > 0) {
      fillPixels(p, dx, pixel);
    } else {
      fillPixels(p + dx + 1, -dx, pixel);
    }
    return;
  }
  const ptrdiff_t rowStep = dy > 0 ? stride : -static_cast<ptrdiff_t>(stride);
  if (dx == 0) {
    uint32_t* q = p;
    for (int n = dy > 0 ? dy : -dy; n > 0; --n, q += rowStep) *q = pixel;
    return;
  }
  const int adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
  const bool xMajor = adx > ady;
  const int bias = (xMajor ? dy < 0 : dx < 0) ? 1 : 0;
  const int M = xMajor ? adx : ady, m = xMajor ? ady : adx;
  const ptrdiff_t columnStep = dx > 0 ? 1 : -1;
  stepLine<int>(p, M, 2 * m - M, bias, 2 * m - 2 * M, 2 * m, xMajor ? columnStep : rowStep,
                xMajor ? rowStep : columnStep, pixel);
}

// Draws a one-pixel line of the pen (width 0 or 1, not null) when both its ends lie
// inside the target's clip, drops it when both lie beyond the same side of the clip
// (its pixels lie within the box of its ends), and returns whether it did either.
// False for wide pens and for lines that need clipping (rasterLineFull draws those).
inline bool thinLineShortPath(const RasterTarget& target, int fromX, int fromY, int toX, int toY,
                              const RasterPen& pen) {
  if (pen.width > 1) return false;
  const Surface s = surfaceOf(target);
  const int64_t x1 = int64_t{fromX} + s.originX, y1 = int64_t{fromY} + s.originY;
  const int64_t x2 = int64_t{toX} + s.originX, y2 = int64_t{toY} + s.originY;
  const int64_t left = s.clipLeft, top = s.clipTop, right = s.clipRight, bottom = s.clipBottom;
  if (x1 >= left && x1 < right && x2 >= left && x2 < right && y1 >= top && y1 < bottom && y2 >= top &&
      y2 < bottom) {
    thinLineInside(s.pixels, s.stride, static_cast<int>(x1), static_cast<int>(y1),
                   static_cast<int>(x2), static_cast<int>(y2), pen.pixel);
    return true;
  }
  return (x1 < left && x2 < left) || (x1 >= right && x2 >= right) || (y1 < top && y2 < top) ||
         (y1 >= bottom && y2 >= bottom);
}

}  // namespace raster
}  // namespace vis
