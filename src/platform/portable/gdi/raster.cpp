// The raster's rectangles and block copies: FillRect, Rectangle and BitBlt's SRCCOPY.
// Lines, ellipses and polygons live in raster_line.cpp, raster_ellipse.cpp and
// raster_polygon.cpp; the helpers they share in raster_internal.h.
#include <string.h>

#include "raster_internal.h"

namespace vis {
namespace raster {
void strokeClosed(const Surface& s, const Point64* points, int count, const RasterPen& pen);
}  // namespace raster

using namespace raster;

void rasterFillRect(const RasterTarget& target, RECT rect, uint32_t pixel) {
  const Surface s = surfaceOf(target);
  if (rect.left > rect.right) {
    const LONG t = rect.left;
    rect.left = rect.right;
    rect.right = t;
  }
  if (rect.top > rect.bottom) {
    const LONG t = rect.top;
    rect.top = rect.bottom;
    rect.bottom = t;
  }
  fillBox(s, int64_t{rect.left} + s.originX, int64_t{rect.top} + s.originY,
          int64_t{rect.right} + s.originX, int64_t{rect.bottom} + s.originY, pixel);
}

// Rectangle on an ordered device box: the interior, one pixel in from the box's edges,
// then the closed outline through the corners (left, top), (right - 1, top),
// (right - 1, bottom - 1), (left, bottom - 1), drawn like a polygon's.
void rasterRectangleDevice(const Surface& s, int64_t left, int64_t top, int64_t right,
                           int64_t bottom, const RasterPen& pen, const RasterBrush& brush) {
  if (left == right || top == bottom) return;
  if (!brush.null) {
    if (pen.null) {
      fillBox(s, left, top, right - 1, bottom - 1, brush.pixel);
    } else {
      fillBox(s, left + 1, top + 1, right - 1, bottom - 1, brush.pixel);
    }
  }
  if (pen.null) return;
  const Point64 corners[4] = {{left, top}, {right - 1, top}, {right - 1, bottom - 1}, {left, bottom - 1}};
  strokeClosed(s, corners, 4, pen);
}

void rasterRectangle(const RasterTarget& target, int left, int top, int right, int bottom,
                     const RasterPen& pen, const RasterBrush& brush) {
  const Surface s = surfaceOf(target);
  if (clipEmpty(s)) return;
  orderBox(left, top, right, bottom);
  rasterRectangleDevice(s, int64_t{left} + s.originX, int64_t{top} + s.originY,
                        int64_t{right} + s.originX, int64_t{bottom} + s.originY, pen, brush);
}

// SRCCOPY: the block is clipped to both the source's and the destination's clip (pixels
// whose source lies outside are left alone, as GDI does), then copied row by row; when
// source and destination share pixels, rows are taken in the order that reads each
// before it is overwritten, and memmove handles the overlap within a row.
void rasterCopy(const RasterTarget& dest, int x, int y, int width, int height,
                const RasterTarget& source, int sourceX, int sourceY) {
  const Surface d = surfaceOf(dest), src = surfaceOf(source);
  // A negative extent counts back from one past the given corner, for both blocks
  // alike (no mirroring): the block is [x + width + 1, x + 1), as GDI orders it.
  int64_t width64 = width, height64 = height, x64 = x, y64 = y, sx64 = sourceX, sy64 = sourceY;
  if (width64 < 0) {
    x64 += width64 + 1;
    sx64 += width64 + 1;
    width64 = -width64;
  }
  if (height64 < 0) {
    y64 += height64 + 1;
    sy64 += height64 + 1;
    height64 = -height64;
  }
  // Clip in 64 bits (a far-off block's corners overflow an int): the left and top edges
  // against both clips, then the extents.
  int64_t dx0 = x64 + d.originX, dy0 = y64 + d.originY;
  int64_t sx0 = sx64 + src.originX, sy0 = sy64 + src.originY;
  int64_t w = width64, h = height64;
  int64_t cut = 0;
  if (d.clipLeft - dx0 > cut) cut = d.clipLeft - dx0;
  if (src.clipLeft - sx0 > cut) cut = src.clipLeft - sx0;
  dx0 += cut;
  sx0 += cut;
  w -= cut;
  cut = 0;
  if (d.clipTop - dy0 > cut) cut = d.clipTop - dy0;
  if (src.clipTop - sy0 > cut) cut = src.clipTop - sy0;
  dy0 += cut;
  sy0 += cut;
  h -= cut;
  if (w > d.clipRight - dx0) w = d.clipRight - dx0;
  if (w > src.clipRight - sx0) w = src.clipRight - sx0;
  if (h > d.clipBottom - dy0) h = d.clipBottom - dy0;
  if (h > src.clipBottom - sy0) h = src.clipBottom - sy0;
  if (w <= 0 || h <= 0) return;
  const size_t bytes = static_cast<size_t>(w) * sizeof(uint32_t);
  const int rows = static_cast<int>(h);
  uint32_t* to = d.pixels + static_cast<ptrdiff_t>(dy0) * d.stride + dx0;
  const uint32_t* from = src.pixels + static_cast<ptrdiff_t>(sy0) * src.stride + sx0;
  if (to > from) {
    // Possibly overlapping with the destination further on: copy bottom-up.
    for (int r = rows - 1; r >= 0; --r) {
      memmove(to + static_cast<ptrdiff_t>(r) * d.stride,
              from + static_cast<ptrdiff_t>(r) * src.stride, bytes);
    }
  } else {
    for (int r = 0; r < rows; ++r) {
      memmove(to + static_cast<ptrdiff_t>(r) * d.stride,
              from + static_cast<ptrdiff_t>(r) * src.stride, bytes);
    }
  }
}

}  // namespace vis
