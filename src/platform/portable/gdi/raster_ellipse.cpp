// Ellipses: the integer quadrant shared by the outline, the interior and the round pen,
// mirrored into the other three, and Ellipse() itself.
//
// Not here: arcs, chords, pies and round rectangles (no caller).
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "raster_internal.h"

namespace vis {
namespace raster {

// Alois Zingl's error-driven ellipse for a box a = width - 1 wide and b = height - 1
// high ("A Rasterizing Algorithm for Drawing Curves", 2012), run over one quadrant from
// the rightmost pixel of the middle row (height / 2) downwards. The error of the next
// candidate pixel is kept relative to the ideal ellipse b^2 x^2 + a^2 y^2 = a^2 b^2 /4
// scaled by 4, with its x and y increments; an odd height starts half a row off, which
// the (b & 1) terms account for. Each step moves left when the doubled error says the
// pixel to the left is closer (e2 >= dx), down when the one below is (e2 <= dy), or both.
int ellipseQuadrant(int width, int height, POINT* out) {
  const int64_t a = width - 1, b = height - 1;
  const int64_t a8 = 8 * a * a, b8 = 8 * b * b;
  int64_t dx = 4 * b * b * (1 - a);
  int64_t dy = 4 * a * a * (1 + (b & 1));
  int64_t err = dx + dy + a * a * (b & 1);
  int x = static_cast<int>(a), y = height / 2;
  int count = 0;
  const int limit = width + height;
  while (x >= width / 2 && count < limit) {
    out[count++] = {x, y};
    const int64_t e2 = 2 * err;
    if (e2 >= dx) {
      --x;
      dx += b8;
      err += dx;
    }
    if (e2 <= dy) {
      ++y;
      dy += a8;
      err += dy;
    }
  }
  return count;
}

namespace {

// Filled-ellipse rows of a width x height box (both > 2): for each row, the span
// [left, right) relative to the box. The outline's outermost pixel of each row bounds it.
void filledRows(int width, int height, const POINT* q, int n, int* left, int* right) {
  const int a = width - 1, b = height - 1;
  for (int y = 0; y < height; ++y) {
    left[y] = 0;
    right[y] = 0;
  }
  for (int i = 0; i < n; ++i) {
    const int y = q[i].y;
    if (y < 0 || y >= height) continue;
    if (q[i].x + 1 > right[y]) {
      right[y] = q[i].x + 1;
      left[y] = a - q[i].x;
      right[b - y] = right[y];
      left[b - y] = left[y];
    }
  }
}

// The pen's disc for one width, as row spans relative to the disc's top-left.
struct Disc {
  int width = 0;
  std::vector<int> left, right;
};

void buildDisc(int width, Disc* disc) {
  disc->width = width;
  disc->left.assign(width, 0);
  disc->right.assign(width, width);
  if (width <= 2) return;
  std::vector<POINT> q(2 * width);
  const int n = ellipseQuadrant(width, width, q.data());
  filledRows(width, width, q.data(), n, disc->left.data(), disc->right.data());
}

constexpr int kCachedDiscs = 64;

const Disc& discOf(int width) {
  // Widths the effects use are computed once; wider ones reuse one slot per thread.
  static const std::vector<Disc> cached = [] {
    std::vector<Disc> discs(kCachedDiscs + 1);
    for (int w = 2; w <= kCachedDiscs; ++w) buildDisc(w, &discs[w]);
    return discs;
  }();
  if (width <= kCachedDiscs) return cached[width];
  thread_local Disc wide;
  if (wide.width != width) buildDisc(width, &wide);
  return wide;
}

}  // namespace

void penDisc(const Surface& s, int x, int y, int width, uint32_t pixel) {
  const Disc& d = discOf(width);
  const int left = x - width / 2, top = y - width / 2;
  for (int r = 0; r < width; ++r) fillSpan(s, top + r, left + d.left[r], left + d.right[r], pixel);
}

namespace {

// Reused point storage for ellipses too large for the stack buffer.
POINT* pointBuffer(size_t count, POINT* stack, size_t stackCount) {
  if (count <= stackCount) return stack;
  thread_local std::vector<POINT> heap;
  if (heap.size() < count) heap.resize(count);
  return heap.data();
}

}  // namespace
}  // namespace raster

using namespace raster;

void rasterRectangleDevice(const Surface& s, int left, int top, int right, int bottom,
                           const RasterPen& pen, const RasterBrush& brush);

// GDI's Ellipse: the box is made ordered; a box 0 pixels wide or high draws nothing and
// one of 1 or 2 is drawn as Rectangle. Otherwise the interior (the pixels strictly
// between the outline's left and right pixels of each row) is filled first, and the
// outline, the quadrant mirrored about the box's centre, is drawn over it as a closed
// figure: a one-pixel pen draws the outline's pixels, a wide pen a disc at each of them
// and its body between neighbours.
void rasterEllipse(const RasterTarget& target, int left, int top, int right, int bottom,
                   const RasterPen& pen, const RasterBrush& brush) {
  const Surface s = surfaceOf(target);
  if (clipEmpty(s)) return;
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
  left += s.originX;
  right += s.originX;
  top += s.originY;
  bottom += s.originY;
  const int width = right - left, height = bottom - top;
  if (width == 0 || height == 0) return;
  if (width <= 2 || height <= 2) {
    rasterRectangleDevice(s, left, top, right, bottom, pen, brush);
    return;
  }
  const int penWidth = pen.null ? 0 : (pen.width > 1 ? pen.width : 1);
  // Nothing of it can reach the clip: done.
  const int reach = penWidth;
  if (left - reach >= s.clipRight || right + reach <= s.clipLeft || top - reach >= s.clipBottom ||
      bottom + reach <= s.clipTop) {
    return;
  }

  POINT stackPoints[4 * 512];
  const size_t quadrantMax = static_cast<size_t>(width) + height;
  POINT* q = pointBuffer(4 * quadrantMax, stackPoints, sizeof stackPoints / sizeof stackPoints[0]);
  const int n = ellipseQuadrant(width, height, q);
  const int a = width - 1, b = height - 1;

  if (!brush.null) {
    // Points come in rows of non-decreasing y; the first point of a row is its
    // outermost. The interior is the whole filled ellipse, so that without a pen the
    // figure has the outline's extent.
    for (int i = 0; i < n;) {
      const int y = q[i].y;
      int j = i;
      while (j + 1 < n && q[j + 1].y == y) ++j;
      const int outer = q[i].x;
      if (y <= b) {
        const int x0 = left + a - outer, x1 = left + outer + 1;
        if (x0 < x1) {
          fillSpan(s, top + y, x0, x1, brush.pixel);
          if (b - y != y) fillSpan(s, top + b - y, x0, x1, brush.pixel);
        }
      }
      i = j + 1;
    }
  }
  if (pen.null) return;

  // The closed outline: bottom-right quadrant downwards, bottom-left upwards, top-left
  // upwards, top-right downwards.
  POINT* loop = q + n;
  int count = 0;
  for (int i = 0; i < n; ++i) loop[count++] = {left + q[i].x, top + q[i].y};
  for (int i = n - 1; i >= 0; --i) loop[count++] = {left + a - q[i].x, top + q[i].y};
  for (int i = 0; i < n; ++i) loop[count++] = {left + a - q[i].x, top + b - q[i].y};
  for (int i = n - 1; i >= 0; --i) loop[count++] = {left + q[i].x, top + b - q[i].y};

  if (penWidth <= 1) {
    const bool inside = left >= s.clipLeft && right <= s.clipRight && top >= s.clipTop &&
                        bottom <= s.clipBottom;
    for (int i = 0; i < count; ++i) {
      const POINT p = loop[i], next = loop[i + 1 < count ? i + 1 : 0];
      const int ddx = next.x - p.x, ddy = next.y - p.y;
      if (ddx == 0 && ddy == 0) continue;
      if (ddx < -1 || ddx > 1 || ddy < -1 || ddy > 1) {
        thinLine(s, p.x, p.y, next.x, next.y, pen.pixel);
      } else if (inside || (p.x >= s.clipLeft && p.x < s.clipRight && p.y >= s.clipTop &&
                            p.y < s.clipBottom)) {
        s.pixels[static_cast<ptrdiff_t>(p.y) * s.stride + p.x] = pen.pixel;
      }
    }
    return;
  }
  for (int i = 0; i < count; ++i) {
    const POINT p = loop[i], next = loop[i + 1 < count ? i + 1 : 0];
    penDisc(s, p.x, p.y, penWidth, pen.pixel);
    if (p.x != next.x && p.y != next.y) {
      penSegment(s, p.x, p.y, next.x, next.y, penWidth, pen.pixel);
    } else if (abs(next.x - p.x) + abs(next.y - p.y) > 1) {
      penSegment(s, p.x, p.y, next.x, next.y, penWidth, pen.pixel);
    }
  }
}

}  // namespace vis
