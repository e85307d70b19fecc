// Polygons: the even-odd scan fill shared by Polygon() and the wide pen's segment
// bodies, and Polygon() itself (fill, then the closed outline).
//
// Not here: winding fill (the layer has no SetPolyFillMode) and PolyPolygon.
#include <stdint.h>

#include <algorithm>
#include <vector>

#include "raster_coverage.h"
#include "raster_internal.h"

namespace vis {
namespace raster {
namespace {

// One non-horizontal edge, from its first visible row yTop to its bottom row yEnd
// (exclusive, at most the clip's bottom). Its crossing of row y is
// xTop + ceil((y - yTop') dx / dy), yTop' being its top vertex's row, kept as x and a
// remainder: (y - yTop') dx = (x - xTop) dy - rem, 0 <= rem < dy.
// In 64 bits: a flat edge between far-off points steps further than an int holds.
struct Edge {
  int yTop, yEnd;
  int64_t x;
  int64_t rem;
  int64_t dy;
  int64_t step;   // floor(dx / dy)
  int64_t extra;  // dx - step dy, in [0, dy)
};

inline int64_t floorDiv(int64_t n, int64_t d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }

constexpr int kStackEdges = 64;

// Storage for one polygon's edges: on the stack up to kStackEdges, beyond that in
// buffers that one thread keeps and reuses.
struct EdgeStore {
  Edge stackEdges[kStackEdges];
  Edge* stackActive[kStackEdges];
  int64_t stackCrossings[kStackEdges];
  Edge* edges;
  Edge** active;
  int64_t* crossings;

  explicit EdgeStore(int count) : edges(stackEdges), active(stackActive), crossings(stackCrossings) {
    if (count <= kStackEdges) return;
    thread_local std::vector<Edge> heapEdges;
    thread_local std::vector<Edge*> heapActive;
    thread_local std::vector<int64_t> heapCrossings;
    if (heapEdges.size() < static_cast<size_t>(count)) {
      heapEdges.resize(count);
      heapActive.resize(count);
      heapCrossings.resize(count);
    }
    edges = heapEdges.data();
    active = heapActive.data();
    crossings = heapCrossings.data();
  }
};

inline int clampToInt(int64_t v) {
  return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<int>(v);
}

// The scan itself: an edge table sorted by top row and an active list. Each row takes
// in the edges that start on it, drops those that ended, sorts the active edges'
// crossings (insertion sort: from row to row they are nearly in order) and hands the
// spans between pairs of crossings to the sink.
template <class Sink>
void scanPolygon(const Point64* points, int count, int clipTop, int clipBottom, Sink&& sink) {
  if (count < 3) return;
  EdgeStore store(count);
  Edge* const edges = store.edges;
  int n = 0;
  for (int i = 0; i < count; ++i) {
    Point64 p = points[i], q = points[i + 1 < count ? i + 1 : 0];
    if (p.y == q.y) continue;
    if (p.y > q.y) {
      const Point64 t = p;
      p = q;
      q = t;
    }
    if (q.y <= clipTop || p.y >= clipBottom) continue;  // no visible row
    Edge e;
    e.yTop = static_cast<int>(p.y < clipTop ? clipTop : p.y);  // the first visible row
    e.yEnd = static_cast<int>(q.y > clipBottom ? clipBottom : q.y);
    e.dy = q.y - p.y;
    const int64_t dx = q.x - p.x;
    e.step = floorDiv(dx, e.dy);
    e.extra = dx - e.step * e.dy;
    // The crossing of the first visible row, t = yTop - p.y rows down the edge:
    // p.x + ceil(t dx / dy), whose product can exceed 64 bits.
    const int64_t t = e.yTop - p.y;
    if (dx >= 0) {
      // ceil(t dx / dy) = floor((t dx + dy - 1) / dy) = q; rem = q dy - t dx.
      const QuotRem up = mulAddDiv(t, dx, e.dy - 1, e.dy);
      e.x = p.x + up.quot;
      e.rem = e.dy - 1 - up.rem;
    } else {
      // ceil(-t |dx| / dy) = -floor(t |dx| / dy); rem is that division's remainder.
      const QuotRem down = mulAddDiv(t, -dx, 0, e.dy);
      e.x = p.x - down.quot;
      e.rem = down.rem;
    }
    edges[n++] = e;
  }
  if (n < 2) return;
  // The edge table, in order of first row.
  std::sort(edges, edges + n, [](const Edge& a, const Edge& b) { return a.yTop < b.yTop; });
  Edge** const active = store.active;
  int64_t* const crossings = store.crossings;
  int next = 0, live = 0;
  for (int y = edges[0].yTop; y < clipBottom && (next < n || live > 0); ++y) {
    // Drop the edges that ended above this row, take in those that start on it.
    int kept = 0;
    for (int i = 0; i < live; ++i) {
      if (active[i]->yEnd > y) active[kept++] = active[i];
    }
    live = kept;
    while (next < n && edges[next].yTop == y) active[live++] = &edges[next++];
    if (live == 0) {
      if (next < n) y = edges[next].yTop - 1;  // skip to the next edge's first row
      continue;
    }
    for (int i = 0; i < live; ++i) {
      Edge& e = *active[i];
      int k = i;
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
    for (int i = 0; i + 1 < live; i += 2) {
      if (crossings[i] < crossings[i + 1]) sink(y, clampToInt(crossings[i]), clampToInt(crossings[i + 1]));
    }
  }
}

}  // namespace

void fillPolygon(const Surface& s, const Point64* points, int count, uint32_t pixel) {
  scanPolygon(points, count, s.clipTop, s.clipBottom,
              [&](int y, int x0, int x1) { fillSpan(s, y, x0, x1, pixel); });
}

void polygonRows(const Point64* points, int count, int rowMin, int rowMax, int* left, int* right) {
  for (int y = rowMin; y < rowMax; ++y) {
    left[y - rowMin] = INT32_MAX;
    right[y - rowMin] = INT32_MIN;
  }
  scanPolygon(points, count, rowMin, rowMax, [&](int y, int x0, int x1) {
    if (x0 < left[y - rowMin]) left[y - rowMin] = x0;
    if (x1 > right[y - rowMin]) right[y - rowMin] = x1;
  });
}

// The closed outline of a polygon: with a one-pixel pen, one line per edge, each leaving
// out its end point; with a wide pen, every edge's body and a disc at every vertex
// (round joins; a closed figure has no caps).
void strokeClosed(const Surface& s, const Point64* points, int count, const RasterPen& pen) {
  const int width = clampPenWidth(pen.width);
  for (int i = 0; i < count; ++i) {
    const Point64 p = points[i], q = points[i + 1 < count ? i + 1 : 0];
    if (width == 1) {
      thinLine(s, p.x, p.y, q.x, q.y, pen.pixel);
    } else {
      penSegment(s, p.x, p.y, q.x, q.y, width, pen.pixel);
      penDisc(s, p.x, p.y, width, pen.pixel);
    }
  }
}

void fillPolygonCovered(Coverage& c, const Surface& s, const Point64* points, int count,
                        uint32_t pixel) {
  scanPolygon(points, count, s.clipTop, s.clipBottom,
              [&](int y, int x0, int x1) { c.span(y, x0, x1, pixel); });
}

void strokeClosedCovered(Coverage& c, const Surface& s, const Point64* points, int count,
                         uint32_t pixel) {
  for (int i = count - 1; i >= 0; --i) {
    const Point64 p = points[i], q = points[i + 1 < count ? i + 1 : 0];
    thinLineCovered(c, s, p.x, p.y, q.x, q.y, pixel);
  }
}

}  // namespace raster

using namespace raster;

void rasterPolygon(const RasterTarget& target, const POINT* points, int count,
                   const RasterPen& pen, const RasterBrush& brush) {
  if (!points || count < 2) return;
  const Surface s = surfaceOf(target);
  if (clipEmpty(s)) return;
  Point64 stackPoints[kStackEdges];
  Point64* device = stackPoints;
  if (count > kStackEdges) {
    thread_local std::vector<Point64> heap;
    if (heap.size() < static_cast<size_t>(count)) heap.resize(count);
    device = heap.data();
  }
  for (int i = 0; i < count; ++i) {
    device[i] = {int64_t{points[i].x} + s.originX, int64_t{points[i].y} + s.originY};
  }
  if (!brush.null) fillPolygon(s, device, count, brush.pixel);
  if (!pen.null) strokeClosed(s, device, count, pen);
}

}  // namespace vis
