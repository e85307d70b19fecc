// Polygons: the even-odd scan fill shared by Polygon() and the wide pen's segment
// bodies, and Polygon() itself (fill, then the closed outline).
//
// Not here: winding fill (the layer has no SetPolyFillMode) and PolyPolygon.
#include <stdint.h>

#include <vector>

#include "raster_internal.h"

namespace vis {
namespace raster {
namespace {

// One non-horizontal edge, from its top vertex (xTop, yTop) to its bottom row yEnd
// (exclusive). Its crossing of row y is xTop + ceil((y - yTop) dx / dy), kept as
// x + ceil part and a remainder: (y - yTop) dx = (x - xTop) dy - rem, 0 <= rem < dy.
struct Edge {
  int yTop, yEnd;
  int x;
  int64_t rem;
  int64_t dy;
  int step;       // floor(dx / dy)
  int64_t extra;  // dx - step dy, in [0, dy)
};

inline int64_t floorDiv(int64_t n, int64_t d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }

constexpr int kStackEdges = 64;

}  // namespace

// Even-odd fill, sampled at integer pixel positions: row y belongs to the edges with
// yTop <= y < yBottom (so a horizontal edge adds nothing, and of two edges meeting at a
// vertex only one counts), each edge's crossing is rounded up, and the pixels from one
// crossing up to, not including, the next are filled, pairs taken left to right. This
// is the classic region scan conversion's rule: exactly the pixels whose position lies
// inside, with the left and top boundaries included and the right and bottom left out.
void fillPolygon(const Surface& s, const POINT* points, int count, uint32_t pixel) {
  if (count < 3) return;
  Edge stackEdges[kStackEdges];
  Edge* edges = stackEdges;
  if (count > kStackEdges) {
    thread_local std::vector<Edge> heap;
    if (heap.size() < static_cast<size_t>(count)) heap.resize(count);
    edges = heap.data();
  }
  int n = 0;
  int yMin = INT32_MAX, yMax = INT32_MIN;
  for (int i = 0; i < count; ++i) {
    POINT p = points[i], q = points[i + 1 < count ? i + 1 : 0];
    if (p.y == q.y) continue;
    if (p.y > q.y) {
      const POINT t = p;
      p = q;
      q = t;
    }
    Edge& e = edges[n++];
    e.yTop = p.y;
    e.yEnd = q.y;
    e.dy = int64_t{q.y} - p.y;
    const int64_t dx = int64_t{q.x} - p.x;
    e.step = static_cast<int>(floorDiv(dx, e.dy));
    e.extra = dx - e.step * e.dy;
    // Start at the first visible row.
    const int y0 = p.y < s.clipTop ? s.clipTop : p.y;
    const int64_t num = (int64_t{y0} - p.y) * dx;
    const int64_t up = -floorDiv(-num, e.dy);  // ceil(num / dy)
    e.x = static_cast<int>(p.x + up);
    e.rem = up * e.dy - num;
    if (e.yTop < y0) e.yTop = y0;
    if (e.yTop < yMin) yMin = e.yTop;
    if (e.yEnd > yMax) yMax = e.yEnd;
  }
  if (n < 2) return;
  if (yMax > s.clipBottom) yMax = s.clipBottom;
  int xs[kStackEdges];
  int* crossings = xs;
  if (n > kStackEdges) {
    thread_local std::vector<int> heapX;
    if (heapX.size() < static_cast<size_t>(n)) heapX.resize(n);
    crossings = heapX.data();
  }
  for (int y = yMin; y < yMax; ++y) {
    int c = 0;
    for (int i = 0; i < n; ++i) {
      Edge& e = edges[i];
      if (y < e.yTop || y >= e.yEnd) continue;
      // Insertion into the sorted crossings.
      int k = c++;
      while (k > 0 && crossings[k - 1] > e.x) {
        crossings[k] = crossings[k - 1];
        --k;
      }
      crossings[k] = e.x;
      // Advance to the next row: x dy - rem grows by dx.
      e.x += e.step;
      e.rem -= e.extra;
      if (e.rem < 0) {
        ++e.x;
        e.rem += e.dy;
      }
    }
    for (int i = 0; i + 1 < c; i += 2) {
      if (crossings[i] < crossings[i + 1]) fillSpan(s, y, crossings[i], crossings[i + 1], pixel);
    }
  }
}

// The closed outline of a polygon: with a one-pixel pen, one line per edge, each leaving
// out its end point; with a wide pen, every edge's body and a disc at every vertex
// (round joins; a closed figure has no caps).
void strokeClosed(const Surface& s, const POINT* points, int count, const RasterPen& pen) {
  for (int i = 0; i < count; ++i) {
    const POINT p = points[i], q = points[i + 1 < count ? i + 1 : 0];
    if (pen.width <= 1) {
      thinLine(s, p.x, p.y, q.x, q.y, pen.pixel);
    } else {
      penSegment(s, p.x, p.y, q.x, q.y, pen.width, pen.pixel);
      penDisc(s, p.x, p.y, pen.width, pen.pixel);
    }
  }
}

}  // namespace raster

using namespace raster;

void rasterPolygon(const RasterTarget& target, const POINT* points, int count,
                   const RasterPen& pen, const RasterBrush& brush) {
  if (!points || count < 2) return;
  const Surface s = surfaceOf(target);
  if (clipEmpty(s)) return;
  POINT stackPoints[kStackEdges];
  POINT* device = stackPoints;
  if (count > kStackEdges) {
    thread_local std::vector<POINT> heap;
    if (heap.size() < static_cast<size_t>(count)) heap.resize(count);
    device = heap.data();
  }
  for (int i = 0; i < count; ++i) device[i] = {points[i].x + s.originX, points[i].y + s.originY};
  if (!brush.null) fillPolygon(s, device, count, brush.pixel);
  if (!pen.null) strokeClosed(s, device, count, pen);
}

}  // namespace vis
