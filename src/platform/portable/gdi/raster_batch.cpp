// Deferred drawing: the polygons a memory DC receives are recorded and drawn together
// when anything else needs the pixels. An effect that paints a stack of large
// overlapping polygons then writes each pixel once, from the topmost down, instead of
// once per polygon.
//
// The records keep device coordinates and the pen and brush as stored pixels, so that
// later selections and deletions cannot change them. The pixels come out as drawing in
// order would leave them (see raster_coverage.h). One list serves the process, like the
// object table; a record for another target flushes it first.
//
// Not here: when to flush. The object layer flushes before every other call that
// touches a DC's pixels.
#include <stdint.h>

#include <algorithm>
#include <vector>

#include "raster_coverage.h"
#include "raster_internal.h"

namespace vis {
namespace {

using raster::Coverage;
using raster::Point64;
using raster::Surface;

struct Record {
  RasterPen pen;  // one-pixel or null
  RasterBrush brush;
  size_t first;   // points[first, first + count)
  int count;
  int64_t left, top, right, bottom;  // the points' box, inclusive: every pixel lies in it
};

bool overlap(const Record& a, const Record& b) {
  return a.left <= b.right && b.left <= a.right && a.top <= b.bottom && b.top <= a.bottom;
}

// Whether any two records' boxes meet; when none do, their order does not matter.
bool anyOverlap(const std::vector<Record>& records) {
  for (size_t i = 0; i < records.size(); ++i) {
    for (size_t j = i + 1; j < records.size(); ++j) {
      if (overlap(records[i], records[j])) return true;
    }
  }
  return false;
}

// The pixels the records' boxes hold inside the clip, summed: an upper bound on the
// pixels drawing them in order writes.
double boxedPixels(const std::vector<Record>& records, const Surface& s) {
  double sum = 0;
  for (const Record& r : records) {
    const int64_t w = std::min<int64_t>(r.right + 1, s.clipRight) - std::max<int64_t>(r.left, s.clipLeft);
    const int64_t h = std::min<int64_t>(r.bottom + 1, s.clipBottom) - std::max<int64_t>(r.top, s.clipTop);
    if (w > 0 && h > 0) sum += static_cast<double>(w) * static_cast<double>(h);
  }
  return sum;
}

// Bounds on what waits, so that a flush never takes unbounded time or memory.
constexpr size_t kMaxRecords = 4096;
constexpr size_t kMaxPoints = size_t{1} << 20;
// Up to this many records, whether any two overlap is checked pair by pair; records
// that do not overlap are drawn in order, without the coverage.
constexpr size_t kFewRecords = 64;
// Painting through the coverage costs more a pixel than a plain store; it pays only
// when the boxes of what waits cover the clip more than twice over.
constexpr double kOverdrawForCoverage = 2.0;

struct Batch {
  RasterTarget target;
  std::vector<Record> records;
  std::vector<Point64> points;
  Coverage coverage;
};
Batch batch;

bool sameTarget(const RasterTarget& a, const RasterTarget& b) {
  return a.pixels == b.pixels && a.width == b.width && a.height == b.height && a.stride == b.stride &&
         a.originX == b.originX && a.originY == b.originY && a.clip.left == b.clip.left &&
         a.clip.top == b.clip.top && a.clip.right == b.clip.right && a.clip.bottom == b.clip.bottom;
}

// Makes room for one record of `points` points for the target.
void prepare(const RasterTarget& target, size_t points) {
  if (batch.records.empty()) {
    batch.target = target;
    return;
  }
  if (!sameTarget(batch.target, target) || batch.records.size() >= kMaxRecords ||
      batch.points.size() + points > kMaxPoints) {
    rasterFlush();
    batch.target = target;
  }
}

void drawRecord(const Surface& s, const Record& r) {
  const Point64* points = batch.points.data() + r.first;
  if (!r.brush.null) raster::fillPolygon(s, points, r.count, r.brush.pixel);
  if (!r.pen.null) raster::strokeClosed(s, points, r.count, r.pen);
}

// The record's parts in reverse order: a polygon's outline lies over its fill.
void paintRecord(Coverage& c, const Surface& s, const Record& r) {
  const Point64* points = batch.points.data() + r.first;
  if (!r.pen.null) raster::strokeClosedCovered(c, s, points, r.count, r.pen.pixel);
  if (!r.brush.null) raster::fillPolygonCovered(c, s, points, r.count, r.brush.pixel);
}

}  // namespace

bool rasterDeferPolygon(const RasterTarget& target, const POINT* points, int count,
                        const RasterPen& pen, const RasterBrush& brush) {
  if (!pen.null && raster::clampPenWidth(pen.width) != 1) return false;
  if (count < 0 || static_cast<size_t>(count) > kMaxPoints) return false;
  if (!points || count < 2) return true;  // draws nothing
  prepare(target, static_cast<size_t>(count));
  Record r = {};
  r.pen = pen;
  r.brush = brush;
  r.first = batch.points.size();
  r.count = count;
  r.left = r.top = INT64_MAX;
  r.right = r.bottom = INT64_MIN;
  for (int i = 0; i < count; ++i) {
    const Point64 p = {int64_t{points[i].x} + target.originX, int64_t{points[i].y} + target.originY};
    batch.points.push_back(p);
    r.left = p.x < r.left ? p.x : r.left;
    r.right = p.x > r.right ? p.x : r.right;
    r.top = p.y < r.top ? p.y : r.top;
    r.bottom = p.y > r.bottom ? p.y : r.bottom;
  }
  batch.records.push_back(r);
  return true;
}

void rasterFlush() {
  if (batch.records.empty()) return;
  const Surface s = raster::surfaceOf(batch.target);
  if (!raster::clipEmpty(s)) {
    const double clipPixels = static_cast<double>(s.clipRight - s.clipLeft) *
                              static_cast<double>(s.clipBottom - s.clipTop);
    if ((batch.records.size() < kFewRecords && !anyOverlap(batch.records)) ||
        boxedPixels(batch.records, s) < kOverdrawForCoverage * clipPixels) {
      for (const Record& r : batch.records) drawRecord(s, r);
    } else {
      // The coverage spans the rows the records can reach.
      int64_t top = INT64_MAX, bottom = INT64_MIN;
      for (const Record& r : batch.records) {
        top = r.top < top ? r.top : top;
        bottom = r.bottom > bottom ? r.bottom : bottom;
      }
      Coverage& c = batch.coverage;
      c.reset(s, top, bottom + 1);
      for (size_t i = batch.records.size(); i-- > 0 && !c.full();) paintRecord(c, s, batch.records[i]);
    }
  }
  batch.records.clear();
  batch.points.clear();
}

}  // namespace vis
