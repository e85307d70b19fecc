// The pixel engine behind the portable GDI: pure functions that draw one primitive
// into a block of 32-bit pixels with GDI's rules (half-open rectangles, the end point
// of a line left out, even-odd polygon fill, pens centred on the outline). It knows
// nothing of handles, DCs or windows; the callers in gdi/ resolve those first.
//
// Every function clips once to target.clip and writes spans. None allocates per call:
// the polygon edge table, huge ellipses and pens wider than 64 pixels work in buffers
// kept per thread, which grow past their stack size and are then reused; an ellipse's
// figure is kept per thread for its box size and pen width, built on its first draw.
#pragma once

#include <stdint.h>

#include "../win32_portable.h"

namespace vis {

// A drawing target: pixels 0x00RRGGBB, rows top-down, stride in pixels. Logical
// coordinates are translated by (originX, originY) into device pixels; clip is in
// device pixels and lies inside 0..width x 0..height.
struct RasterTarget {
  uint32_t* pixels;
  int width;
  int height;
  int stride;
  int originX;
  int originY;
  RECT clip;
};

// What a pen or brush contributes to a primitive. A null pen or brush draws nothing.
struct RasterPen {
  bool null;
  int width;        // 0 and 1 both mean one pixel
  uint32_t pixel;   // colour as stored in the target
};
struct RasterBrush {
  bool null;
  uint32_t pixel;
};

// COLORREF 0x00BBGGRR to the stored pixel 0x00RRGGBB.
inline uint32_t pixelFromColorref(COLORREF c) {
  return ((c & 0xffu) << 16) | (c & 0xff00u) | ((c >> 16) & 0xffu);
}
inline COLORREF colorrefFromPixel(uint32_t p) {
  return ((p & 0xffu) << 16) | (p & 0xff00u) | ((p >> 16) & 0xffu);
}

// [left, right) x [top, bottom); an inverted rectangle is swapped first, as GDI does.
void rasterFillRect(const RasterTarget& target, RECT rect, uint32_t pixel);

// The line from (x1, y1) towards (x2, y2), the end point itself not drawn.
void rasterLine(const RasterTarget& target, int x1, int y1, int x2, int y2, const RasterPen& pen);
// rasterLine without its short path (raster_thin_line.h), for a caller that has tried
// that already and been refused: clipped one-pixel lines and wide pens; not a null pen.
void rasterLineFull(const RasterTarget& target, int x1, int y1, int x2, int y2, const RasterPen& pen);

// The ellipse inscribed in the box, filled with the brush, then outlined with the pen.
void rasterEllipse(const RasterTarget& target, int left, int top, int right, int bottom,
                   const RasterPen& pen, const RasterBrush& brush);

// Rectangle(): filled interior, then the pen's outline, as GDI draws it.
void rasterRectangle(const RasterTarget& target, int left, int top, int right, int bottom,
                     const RasterPen& pen, const RasterBrush& brush);

// The closed polygon through the points, filled even-odd, then outlined.
void rasterPolygon(const RasterTarget& target, const POINT* points, int count,
                   const RasterPen& pen, const RasterBrush& brush);

// SRCCOPY of width x height pixels; source and destination may be the same block.
void rasterCopy(const RasterTarget& dest, int x, int y, int width, int height,
                const RasterTarget& source, int sourceX, int sourceY);

// Deferred drawing (raster_batch.cpp): polygons with a one-pixel or null pen recorded
// instead of drawn, then drawn together by rasterFlush, last first, so that a pixel
// that several of them cover is written once. The caller flushes before anything else
// reads or writes the target's pixels. A record for another target flushes the earlier
// ones first. rasterDeferPolygon returns false, recording nothing, for what it cannot
// defer (a wide pen); the caller then flushes and draws.
bool rasterDeferPolygon(const RasterTarget& target, const POINT* points, int count,
                        const RasterPen& pen, const RasterBrush& brush);
void rasterFlush();

}  // namespace vis
