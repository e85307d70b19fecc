// Ellipses: the integer quadrant shared by the outline, the interior and the round pen,
// mirrored into the other three, and Ellipse() itself. Figures of boxes up to 512 a
// side with pens up to 64 wide are kept per size and pen as row spans and drawn from
// them; larger ones are walked, clipped, on every draw.
//
// Not here: arcs, chords, pies and round rectangles (no caller).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>  // memcpy: four pixels in one store

#include <algorithm>  // sort: a shape's spans by row
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
  // The walk never leaves the box (checked for every box up to 260 a side and for
  // extreme shapes); the row bound keeps the mirrored rows inside it regardless.
  while (x >= width / 2 && y < height && count < limit) {
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
    for (int w = 1; w <= kCachedDiscs; ++w) buildDisc(w, &discs[w]);
    return discs;
  }();
  if (width <= kCachedDiscs) return cached[width];
  thread_local Disc wide;
  if (wide.width != width) buildDisc(width, &wide);
  return wide;
}

// The body of a wide pen's diagonal one-pixel step from (0, 0) to (dx, dy), as row
// spans: rows top .. top + left.size() - 1, relative to the step's start.
struct Body {
  int width = 0;
  int top = 0;
  std::vector<int> left, right;
};

void buildBody(int width, int dx, int dy, Body* body) {
  Point64 quad[4];
  penSegmentQuad(0, 0, dx, dy, width, quad);
  int top = static_cast<int>(quad[0].y), bottom = top;  // within the pen's width
  for (const Point64& p : quad) {
    if (p.y < top) top = static_cast<int>(p.y);
    if (p.y > bottom) bottom = static_cast<int>(p.y);
  }
  body->width = width;
  body->top = top;
  body->left.assign(bottom - top, 0);
  body->right.assign(bottom - top, 0);
  polygonRows(quad, 4, top, bottom, body->left.data(), body->right.data());
}

// Directions: 0 (+1, +1), 1 (-1, +1), 2 (+1, -1), 3 (-1, -1).
const Body& bodyOf(int width, int direction) {
  static const std::vector<Body> cached = [] {
    std::vector<Body> bodies(4 * (kCachedDiscs + 1));
    for (int w = 2; w <= kCachedDiscs; ++w) {
      for (int d = 0; d < 4; ++d) buildBody(w, d & 1 ? -1 : 1, d & 2 ? -1 : 1, &bodies[4 * w + d]);
    }
    return bodies;
  }();
  if (width <= kCachedDiscs) return cached[4 * width + direction];
  thread_local Body wide[4];
  if (wide[direction].width != width) {
    buildBody(width, direction & 1 ? -1 : 1, direction & 2 ? -1 : 1, &wide[direction]);
  }
  return wide[direction];
}

}  // namespace

void penDisc(const Surface& s, int64_t x, int64_t y, int width, uint32_t pixel) {
  const int64_t left = x - width / 2, top = y - width / 2;
  // Only the rows inside the clip: a wide pen stamped many times off the surface
  // costs nothing per row it does not reach.
  if (top >= s.clipBottom || top + width <= s.clipTop || left >= s.clipRight ||
      left + width <= s.clipLeft) {
    return;
  }
  const int first = top < s.clipTop ? static_cast<int>(s.clipTop - top) : 0;
  const int end = top + width > s.clipBottom ? static_cast<int>(s.clipBottom - top) : width;
  const Disc& d = discOf(width);
  for (int r = first; r < end; ++r) fillSpan(s, top + r, left + d.left[r], left + d.right[r], pixel);
}

namespace {

// Reused point storage for ellipses too large for the stack buffer.
POINT* pointBuffer(size_t count, POINT* stack, size_t stackCount) {
  if (count <= stackCount) return stack;
  thread_local std::vector<POINT> heap;
  if (heap.size() < count) heap.resize(count);
  return heap.data();
}

// The pen along the closed outline: the union of the pen's disc stamped at every
// outline pixel and of the segment body between neighbours (a one-pixel pen's disc is
// the pixel itself). Bodies between neighbours in one row or column lie inside the
// discs; diagonal ones stick out a little and are stamped from a table; a pair further
// apart (which the quadrant walk never produces) gets its body drawn directly.
//
// Painting every disc would write each ring pixel about w times. Instead each half of
// the outline (the left one and the right one, each a y-monotone chain of 8-connected
// pixels) accumulates, per row, the leftmost and rightmost pixel of its discs: the
// discs of such a chain that reach a row overlap one another in that row, so their
// union there is that one span. A row then gets one span, or two when the halves'
// spans do not touch (the hole). Runs of pixels in one row stamp one stretched disc,
// runs in one column one capsule (the disc's upper half, full rows, its lower half).
struct RowExtent {
  int left[2];
  int right[2];
};

struct WideOutline {
  RowExtent* rows;
  int top;     // device row of rows[0]
  int count;   // rows held
  const Disc* disc;
  int width;
  int clipLeft, clipRight;

  // A run's discs only matter in the rows held and where they reach the clip's
  // columns: whatever a row's span holds outside them is cut off when it is filled,
  // and a visible pixel of the span's union always belongs to a disc that reaches the
  // clip. So the walk skips the rest, and a huge pen costs rows of the surface, not
  // rows of the pen, per run.
  bool outside(int x0, int x1) const {
    const int64_t left = int64_t{x0} - width / 2, right = int64_t{x1} - width / 2 + width;
    return right <= clipLeft || left >= clipRight;
  }
  // The disc rows r in [0, width) whose device row rowTop + r is held.
  void rowsHeld(int rowTop, int* first, int* end) const {
    *first = top > rowTop ? top - rowTop : 0;
    *end = top + count - rowTop < width ? top + count - rowTop : width;
  }

  void add(int half, int y, int x0, int x1) {
    const int i = y - top;
    if (i < 0 || i >= count) return;
    RowExtent& r = rows[i];
    if (x0 < r.left[half]) r.left[half] = x0;
    if (x1 > r.right[half]) r.right[half] = x1;
  }
  // Discs at (x0..x1, y): one row of outline pixels.
  void rowRun(int half, int x0, int x1, int y) {
    if (outside(x0, x1)) return;
    const int left = x0 - width / 2, right = x1 - width / 2, rowTop = y - width / 2;
    int first, end;
    rowsHeld(rowTop, &first, &end);
    for (int r = first; r < end; ++r) add(half, rowTop + r, left + disc->left[r], right + disc->right[r]);
  }
  // Discs at (x, y0..y1), y0 < y1: one column of outline pixels.
  void columnRun(int half, int x, int y0, int y1) {
    if (outside(x, x)) return;
    const int left = x - width / 2, mid = width / 2;
    int first, end;
    rowsHeld(y0 - mid, &first, &end);
    if (end > mid) end = mid;
    for (int r = first; r < end; ++r) add(half, y0 - mid + r, left + disc->left[r], left + disc->right[r]);
    const int from = y0 > top ? y0 : top, to = y1 < top + count - 1 ? y1 : top + count - 1;
    for (int y = from; y <= to; ++y) add(half, y, left + disc->left[mid], left + disc->right[mid]);
    rowsHeld(y1 - mid, &first, &end);
    if (first < mid + 1) first = mid + 1;
    for (int r = first; r < end; ++r) add(half, y1 - mid + r, left + disc->left[r], left + disc->right[r]);
  }
  // A chain of outline pixels, cut into row and column runs.
  void chain(int half, const POINT* p, int n) {
    for (int i = 0; i < n;) {
      int j = i;
      // A run may turn back on itself where the halves' quadrants meet, so its
      // extent is its minimum and maximum, not its ends.
      if (i + 1 < n && p[i + 1].y == p[i].y) {
        int lo = p[i].x, hi = p[i].x;
        while (j + 1 < n && p[j + 1].y == p[i].y) {
          ++j;
          if (p[j].x < lo) lo = p[j].x;
          if (p[j].x > hi) hi = p[j].x;
        }
        rowRun(half, lo, hi, p[i].y);
      } else if (i + 1 < n && p[i + 1].x == p[i].x) {
        int lo = p[i].y, hi = p[i].y;
        while (j + 1 < n && p[j + 1].x == p[i].x) {
          ++j;
          if (p[j].y < lo) lo = p[j].y;
          if (p[j].y > hi) hi = p[j].y;
        }
        if (lo == hi) {
          rowRun(half, p[i].x, p[i].x, lo);
        } else {
          columnRun(half, p[i].x, lo, hi);
        }
      } else {
        rowRun(half, p[i].x, p[i].x, p[i].y);
      }
      i = j + 1;
    }
  }
};

// Where strokeOutline's spans go: drawn (DrawSpans) or kept for the shape cache. The
// rows' spans come to span() top to bottom and left to right in a row, the bodies
// standing apart from them to island() before those, in no order. A pair of
// neighbours further apart than one pixel goes to apart(), which returns false when
// the sink cannot take it.
struct DrawSpans {
  const Surface& s;
  int width;
  uint32_t pixel;
  void span(int y, int x0, int x1) { fillSpan(s, y, x0, x1, pixel); }
  void island(int y, int x0, int x1) { fillSpan(s, y, x0, x1, pixel); }
  bool apart(POINT p, POINT q) {
    if (width > 1) {
      penSegment(s, p.x, p.y, q.x, q.y, width, pixel);
    } else {
      thinLine(s, p.x, p.y, q.x, q.y, pixel);
    }
    return true;
  }
};

template <typename Sink>
bool strokeOutline(const Surface& s, const POINT* loop, int count, int width, Sink& sink) {
  // Rows the pen can reach, limited to the clip.
  int yMin = loop[0].y, yMax = loop[0].y;
  for (int i = 0; i < count; ++i) {
    if (loop[i].y < yMin) yMin = loop[i].y;
    if (loop[i].y > yMax) yMax = loop[i].y;
  }
  int top = yMin - width / 2, bottom = yMax - width / 2 + width;  // exclusive
  if (top < s.clipTop) top = s.clipTop;
  if (bottom > s.clipBottom) bottom = s.clipBottom;
  if (top >= bottom) return true;
  RowExtent stackRows[1024];
  RowExtent* rows = stackRows;
  const int n = bottom - top;
  if (n > 1024) {
    thread_local std::vector<RowExtent> heap;
    if (heap.size() < static_cast<size_t>(n)) heap.resize(n);
    rows = heap.data();
  }
  for (int i = 0; i < n; ++i) rows[i] = {{INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MIN}};
  WideOutline w{rows, top, n, &discOf(width), width, s.clipLeft, s.clipRight};
  // The loop runs bottom-right, bottom-left, top-left, top-right, each quadrant count / 4
  // pixels: the left half is the middle two quadrants, the right half the outer two.
  const int quarter = count / 4;
  w.chain(0, loop + quarter, 2 * quarter);
  w.chain(1, loop + 3 * quarter, quarter);
  w.chain(1, loop, quarter);
  // Diagonal neighbours: the body, into the half that holds the step, once every disc
  // is in (the discs' union of a half is one span per row; a body may not touch it).
  // A one-pixel pen has none: its line to a neighbour draws only its start.
  for (int i = 0; width > 1 && i < count; ++i) {
    const POINT p = loop[i], q = loop[i + 1 < count ? i + 1 : 0];
    const int dx = q.x - p.x, dy = q.y - p.y;
    if (dx == 0 || dy == 0 || dx < -1 || dx > 1 || dy < -1 || dy > 1) continue;
    // A body lies within the pen's width of its start: the rows held and the clip's
    // columns bound it as they bound the discs.
    if (w.outside(p.x - width, p.x + width)) continue;
    const Body& b = bodyOf(width, (dx < 0 ? 1 : 0) | (dy < 0 ? 2 : 0));
    const int half = i >= quarter && i < 3 * quarter ? 0 : 1;
    const int bodyRows = static_cast<int>(b.left.size());
    const int rowTop = p.y + b.top;
    const int first = top > rowTop ? top - rowTop : 0;
    const int end = bottom - rowTop < bodyRows ? bottom - rowTop : bodyRows;
    for (int r = first; r < end; ++r) {
      if (b.left[r] >= b.right[r]) continue;
      const int y = rowTop + r, x0 = p.x + b.left[r], x1 = p.x + b.right[r];
      // A body reaching past the discs' span leaves a gap when it does not touch it:
      // then it is an island of its own, painted as it is.
      RowExtent& e = rows[y - top];
      if (x1 >= e.left[half] && x0 <= e.right[half]) {
        w.add(half, y, x0, x1);
      } else {
        sink.island(y, x0, x1);
      }
    }
  }
  for (int i = 0; i < n; ++i) {
    const RowExtent& r = rows[i];
    const int y = top + i;
    const bool left = r.left[0] < r.right[0], right = r.left[1] < r.right[1];
    if (left && right && r.right[0] >= r.left[1] && r.right[1] >= r.left[0]) {
      sink.span(y, r.left[0] < r.left[1] ? r.left[0] : r.left[1],
                r.right[0] > r.right[1] ? r.right[0] : r.right[1]);
    } else if (left && right && r.left[1] < r.left[0]) {
      sink.span(y, r.left[1], r.right[1]);
      sink.span(y, r.left[0], r.right[0]);
    } else {
      if (left) sink.span(y, r.left[0], r.right[0]);
      if (right) sink.span(y, r.left[1], r.right[1]);
    }
  }
  // Neighbours further apart than one pixel get the body between them.
  for (int i = 0; i < count; ++i) {
    const POINT p = loop[i], q = loop[i + 1 < count ? i + 1 : 0];
    if (abs(q.x - p.x) <= 1 && abs(q.y - p.y) <= 1) continue;
    if (!sink.apart(p, q)) return false;
  }
  return true;
}

// The closed outline of the quadrant q (n points) of a box whose top-left is (left, top)
// and whose far corner is (left + a, top + b): bottom-right quadrant downwards,
// bottom-left upwards, top-left upwards, top-right downwards. Returns 4 n.
int outlineLoop(const POINT* q, int n, int left, int top, int a, int b, POINT* loop) {
  int count = 0;
  for (int i = 0; i < n; ++i) loop[count++] = {left + q[i].x, top + q[i].y};
  for (int i = n - 1; i >= 0; --i) loop[count++] = {left + a - q[i].x, top + q[i].y};
  for (int i = 0; i < n; ++i) loop[count++] = {left + a - q[i].x, top + b - q[i].y};
  for (int i = n - 1; i >= 0; --i) loop[count++] = {left + q[i].x, top + b - q[i].y};
  return count;
}

// The effects draw many ellipses of a few sizes with one pen, each anywhere: the same
// figure moved. So the figure of a box size and pen width is worked out once, relative
// to the box's top-left and without a clip, as row spans: the pen's (sorted and
// disjoint, same-coloured pieces merged) and the interior's. Drawing it is then a few
// spans a row, each pixel written once: the interior only where the pen leaves it
// uncovered, which is what filling it first and drawing the outline over it leaves.
//
// The figure without a clip is the figure with one, cut to it: strokeOutline leaves
// out only discs and bodies that cannot reach the clip, which change no visible pixel.
struct Span {
  int x0, x1;
};

// A shape's rows live in the store's shared arrays (ShapeStore), from `rows` on:
// rowCount + 1 entries of rowStart (where each row's pen spans begin in the store's
// pen spans, the last one where the shape's end) and as many of interior ({0, 0}
// where a row has none; the last one unused, so that both arrays share `rows`).
struct EllipseShape {
  int width = 0, height = 0, penWidth = 0;  // the key; width 0 marks a free slot
  bool drawable = false;                    // false: the outline has neighbours apart
  int rowTop = 0;                           // row of the first row, relative to the box
  int rowCount = 0;
  size_t rows = 0;
};

// Shapes are kept only for boxes up to this side and pens up to kCachedDiscs wide, so
// that a shape costs little to work out whole. The store is emptied (its arrays keep
// their storage) when it holds kShapesKept shapes or kStoreSpans spans, which bounds
// its memory to a few megabytes.
constexpr int kCachedSide = 512;
constexpr int kShapeSlots = 1024;
constexpr int kShapesKept = 512;
constexpr size_t kStoreSpans = size_t{1} << 18;

struct ShapeStore {
  std::vector<EllipseShape> slots = std::vector<EllipseShape>(kShapeSlots);
  int kept = 0;
  std::vector<int> rowStart;
  std::vector<Span> interior;
  std::vector<Span> pen;
};

struct RecordSpans {
  struct Piece {
    int y, x0, x1;
  };
  std::vector<Piece>* rows;
  std::vector<Piece>* islands;
  void span(int y, int x0, int x1) { rows->push_back({y, x0, x1}); }
  void island(int y, int x0, int x1) { islands->push_back({y, x0, x1}); }
  bool apart(POINT, POINT) { return false; }
};

void buildShape(int width, int height, int penWidth, ShapeStore* store, EllipseShape* shape) {
  shape->width = width;
  shape->height = height;
  shape->penWidth = penWidth;
  shape->drawable = false;
  thread_local std::vector<POINT> points;
  thread_local std::vector<RecordSpans::Piece> rows, islands;
  const size_t quadrantMax = static_cast<size_t>(width) + height;
  if (points.size() < 5 * quadrantMax) points.resize(5 * quadrantMax);
  POINT* q = points.data();
  const int n = ellipseQuadrant(width, height, q);
  const int a = width - 1, b = height - 1;
  const int count = outlineLoop(q, n, 0, 0, a, b, q + n);

  // A clip wider than anything the pen reaches: nothing is left out.
  Surface open = {};
  open.clipLeft = -2 * penWidth - 2;
  open.clipTop = -2 * penWidth - 2;
  open.clipRight = width + 2 * penWidth + 2;
  open.clipBottom = height + 2 * penWidth + 2;
  rows.clear();
  islands.clear();
  RecordSpans record{&rows, &islands};
  if (!strokeOutline(open, q + n, count, penWidth, record)) return;
  // The rows' spans are in order already; the few islands are sorted and merged in.
  using Piece = RecordSpans::Piece;
  std::sort(islands.begin(), islands.end(),
            [](const Piece& l, const Piece& r) { return l.y != r.y ? l.y < r.y : l.x0 < r.x0; });
  int rowTop = 0, rowEnd = height;
  for (const std::vector<Piece>* v : {&rows, &islands}) {
    if (v->empty()) continue;
    if (v->front().y < rowTop) rowTop = v->front().y;
    if (v->back().y + 1 > rowEnd) rowEnd = v->back().y + 1;
  }
  shape->rowTop = rowTop;
  shape->rowCount = rowEnd - rowTop;
  shape->rows = store->rowStart.size();
  std::vector<Span>& pen = store->pen;
  size_t nextRow = 0, nextIsland = 0;
  for (int row = 0; row < shape->rowCount; ++row) {
    const int y = rowTop + row;
    store->rowStart.push_back(static_cast<int>(pen.size()));
    const size_t first = pen.size();
    for (;;) {
      const bool fromRows = nextRow < rows.size() && rows[nextRow].y == y;
      const bool fromIslands = nextIsland < islands.size() && islands[nextIsland].y == y;
      if (!fromRows && !fromIslands) break;
      const Piece p = fromRows && (!fromIslands || rows[nextRow].x0 <= islands[nextIsland].x0)
                          ? rows[nextRow++]
                          : islands[nextIsland++];
      if (p.x0 >= p.x1) continue;
      if (pen.size() > first && p.x0 <= pen.back().x1) {
        if (p.x1 > pen.back().x1) pen.back().x1 = p.x1;
      } else {
        pen.push_back({p.x0, p.x1});
      }
    }
  }
  store->rowStart.push_back(static_cast<int>(pen.size()));

  // The interior as rasterEllipse fills it without a pen.
  // One entry past the rows, as rowStart has, so that both arrays share `rows`.
  store->interior.resize(shape->rows + shape->rowCount + 1, Span{0, 0});
  Span* const interior = store->interior.data() + shape->rows;
  for (int i = 0; i < n;) {
    const int y = q[i].y;
    int j = i;
    while (j + 1 < n && q[j + 1].y == y) ++j;
    const int outer = q[i].x;
    if (y <= b && a - outer < outer + 1) {
      interior[y - rowTop] = {a - outer, outer + 1};
      interior[b - y - rowTop] = {a - outer, outer + 1};
    }
    i = j + 1;
  }
  shape->drawable = true;
}

// The shape of a box size and pen width, worked out on first use; the slots are open
// addressing. Kept out of line, as is drawShape: inlined, they cost the small
// one-pixel ellipses' path in rasterEllipse a fifth of its speed.
__attribute__((noinline)) const EllipseShape& shapeOf(ShapeStore* store, int width, int height,
                                                    int penWidth) {
  std::vector<EllipseShape>& slots = store->slots;
  const uint32_t key = (static_cast<uint32_t>(width) * 0x9e3779b1u) ^
                       (static_cast<uint32_t>(height) * 0x85ebca77u) ^
                       (static_cast<uint32_t>(penWidth) * 0xc2b2ae3du);
  size_t slot = (key ^ (key >> 15)) & (kShapeSlots - 1);
  for (;; slot = (slot + 1) & (kShapeSlots - 1)) {
    EllipseShape& e = slots[slot];
    if (e.width == 0) break;
    if (e.width == width && e.height == height && e.penWidth == penWidth) return e;
  }
  if (store->kept >= kShapesKept || store->pen.size() >= kStoreSpans) {
    for (EllipseShape& e : slots) e.width = 0;
    store->kept = 0;
    store->rowStart.clear();
    store->interior.clear();
    store->pen.clear();
    slot = (key ^ (key >> 15)) & (kShapeSlots - 1);
  }
  ++store->kept;
  buildShape(width, height, penWidth, store, &slots[slot]);
  return slots[slot];
}

// Stores the pixel n (> 0) times from p. A ring's spans are mostly a few dozen pixels:
// below kShortRun they are stored here four pixels at a time, the last four
// overlapping the previous ones, which beats both a loop of single stores and
// wmemset's call and dispatch; longer runs go to fillPixels. Below four pixels, the
// first, middle and last pixel are all of them.
constexpr int kShortRun = 64;
inline void fillRun(uint32_t* p, int n, uint32_t pixel) {
  if (n < 4) {
    p[0] = pixel;
    p[n / 2] = pixel;
    p[n - 1] = pixel;
  } else if (n < kShortRun) {
    typedef uint32_t Quad __attribute__((vector_size(16)));
    const Quad four = {pixel, pixel, pixel, pixel};
    uint32_t* const last = p + n - 4;
    for (; p < last; p += 4) memcpy(p, &four, sizeof four);
    memcpy(last, &four, sizeof four);
  } else {
    fillPixels(p, n, pixel);
  }
}

// Stores [left + x0, left + x1) of a row, cut to the clip's columns.
inline void clippedRun(uint32_t* row, int left, int x0, int x1, const Surface& s, uint32_t pixel) {
  x0 += left;
  x1 += left;
  if (x0 < s.clipLeft) x0 = s.clipLeft;
  if (x1 > s.clipRight) x1 = s.clipRight;
  if (x0 < x1) fillRun(row + x0, x1 - x0, pixel);
}

// fillSpan through fillRun, for device rows and columns that fit an int.
inline void shortSpan(const Surface& s, int y, int x0, int x1, uint32_t pixel) {
  if (y >= s.clipTop && y < s.clipBottom) clippedRun(s.pixels + static_cast<ptrdiff_t>(y) * s.stride, 0, x0, x1, s, pixel);
}

__attribute__((noinline)) void drawShape(const Surface& s, const ShapeStore& store, const EllipseShape& shape,
                                         int left, int top, uint32_t penPixel, const RasterBrush& brush) {
  const int64_t firstRow = int64_t{top} + shape.rowTop;
  int from = 0, to = shape.rowCount;
  if (firstRow < s.clipTop) from = static_cast<int>(s.clipTop - firstRow);
  if (firstRow + to > s.clipBottom) to = static_cast<int>(s.clipBottom - firstRow);
  const Span* const spans = store.pen.data();
  const int* const rowStart = store.rowStart.data() + shape.rows;
  const Span* const interior = store.interior.data() + shape.rows;
  for (int i = from; i < to; ++i) {
    uint32_t* const row = s.pixels + static_cast<ptrdiff_t>(firstRow + i) * s.stride;
    const Span* const first = spans + rowStart[i];
    const Span* const end = spans + rowStart[i + 1];
    const Span inside = interior[i];
    if (!brush.null && inside.x0 < inside.x1) {
      // The interior's pieces between the pen's spans.
      int x = inside.x0;
      for (const Span* p = first; p < end && x < inside.x1; ++p) {
        if (p->x0 > x) clippedRun(row, left, x, p->x0 < inside.x1 ? p->x0 : inside.x1, s, brush.pixel);
        if (p->x1 > x) x = p->x1;
      }
      if (x < inside.x1) clippedRun(row, left, x, inside.x1, s, brush.pixel);
    }
    for (const Span* p = first; p < end; ++p) clippedRun(row, left, p->x0, p->x1, s, penPixel);
  }
}

}  // namespace
}  // namespace raster

using namespace raster;

void rasterRectangleDevice(const Surface& s, int64_t left, int64_t top, int64_t right,
                           int64_t bottom, const RasterPen& pen, const RasterBrush& brush);

// GDI's Ellipse: the box is made ordered; a box 0 pixels wide or high draws nothing and
// one of 1 or 2 is drawn as Rectangle. Otherwise the interior (each row from the
// outline's leftmost to its rightmost pixel, so that without a pen the figure keeps the
// outline's extent) is filled first, and the outline, the quadrant mirrored about the
// box's centre, is drawn over it as a closed figure: a one-pixel pen draws the
// outline's pixels, a wide pen a disc at each of them and its body between neighbours.
//
// Rows the quadrant walk never reaches (narrow, tall boxes, where it meets the middle
// column before the bottom row) get neither interior nor outline; Wine leaves the same
// rows of its interior unwritten (and so shows whatever memory held there).
void rasterEllipse(const RasterTarget& target, int logicalLeft, int logicalTop, int logicalRight,
                   int logicalBottom, const RasterPen& pen, const RasterBrush& brush) {
  const Surface s = surfaceOf(target);
  if (clipEmpty(s)) return;
  // In 64 bits: the box of far-off corners, moved by the origin, overflows an int.
  int64_t l = int64_t{logicalLeft} + s.originX, r = int64_t{logicalRight} + s.originX;
  int64_t t = int64_t{logicalTop} + s.originY, u = int64_t{logicalBottom} + s.originY;
  if (l > r) {
    const int64_t swap = l;
    l = r;
    r = swap;
  }
  if (t > u) {
    const int64_t swap = t;
    t = u;
    u = swap;
  }
  const int64_t boxWidth = r - l, boxHeight = u - t;
  if (boxWidth == 0 || boxHeight == 0) return;
  if (boxWidth <= 2 || boxHeight <= 2) {
    rasterRectangleDevice(s, l, t, r, u, pen, brush);
    return;
  }
  // The quadrant walk takes time and memory in proportion to the box; boxes beyond any
  // screen are refused (drawn as nothing) rather than walked.
  if (boxWidth > kMaxEllipseSide || boxHeight > kMaxEllipseSide) return;
  const int penWidth = pen.null ? 0 : clampPenWidth(pen.width);
  // Nothing of it can reach the clip: done. Past this test the box lies within a box
  // side and a pen width of the clip, so every coordinate below fits an int.
  const int reach = penWidth;
  if (l - reach >= s.clipRight || r + reach <= s.clipLeft || t - reach >= s.clipBottom ||
      u + reach <= s.clipTop) {
    return;
  }
  const int left = static_cast<int>(l), right = static_cast<int>(r);
  const int top = static_cast<int>(t), bottom = static_cast<int>(u);
  const int width = right - left, height = bottom - top;

  if (!pen.null && penWidth <= kCachedDiscs && width <= kCachedSide && height <= kCachedSide &&
      !(penWidth == 1 && left >= s.clipLeft && right <= s.clipRight && top >= s.clipTop &&
        bottom <= s.clipBottom)) {
    thread_local ShapeStore store;
    const EllipseShape& shape = shapeOf(&store, width, height, penWidth);
    if (shape.drawable) {
      drawShape(s, store, shape, left, top, pen.pixel, brush);
      return;
    }
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
          shortSpan(s, top + y, x0, x1, brush.pixel);
          if (b - y != y) shortSpan(s, top + b - y, x0, x1, brush.pixel);
        }
      }
      i = j + 1;
    }
  }
  if (pen.null) return;

  if (penWidth == 1 && left >= s.clipLeft && right <= s.clipRight && top >= s.clipTop &&
      bottom <= s.clipBottom) {
    // Wholly inside: the outline's pixels are the quadrant's four mirror images (its
    // neighbours are all one pixel apart, so each line of the figure draws just its start).
    uint32_t* const origin = s.pixels + static_cast<ptrdiff_t>(top) * s.stride + left;
    for (int i = 0; i < n; ++i) {
      uint32_t* const lower = origin + static_cast<ptrdiff_t>(q[i].y) * s.stride;
      uint32_t* const upper = origin + static_cast<ptrdiff_t>(b - q[i].y) * s.stride;
      lower[q[i].x] = pen.pixel;
      lower[a - q[i].x] = pen.pixel;
      upper[q[i].x] = pen.pixel;
      upper[a - q[i].x] = pen.pixel;
    }
    return;
  }

  // The closed outline, drawn as it goes.
  POINT* loop = q + n;
  const int count = outlineLoop(q, n, left, top, a, b, loop);
  DrawSpans draw{s, penWidth, pen.pixel};
  strokeOutline(s, loop, count, penWidth, draw);
}

}  // namespace vis
