// The raster's rules, checked through the GDI calls on memory bitmaps against pixels
// worked out by hand from GDI's documented behaviour (no Wine here; the Wine parity
// sweeps live in tests/wine). Every canvas starts filled with a marker colour, so an
// undrawn pixel is never mistaken for black.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "visplatform.h"

namespace {

constexpr COLORREF kMarker = RGB(0, 0, 255);
constexpr COLORREF kPen = RGB(255, 0, 0);
constexpr COLORREF kBrush = RGB(0, 255, 0);
constexpr uint32_t kMarkerPixel = 0x0000ff, kPenPixel = 0xff0000, kBrushPixel = 0x00ff00;

using Pixels = std::set<std::pair<int, int>>;

class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height) {
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateBitmap(width, height, 1, 32, nullptr);
    old_ = SelectObject(dc_, bitmap_);
    clear();
  }
  ~Canvas() {
    SelectObject(dc_, GetStockObject(BLACK_PEN));
    SelectObject(dc_, GetStockObject(WHITE_BRUSH));
    if (pen_) DeleteObject(pen_);
    if (brush_) DeleteObject(brush_);
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  void clear() {
    HBRUSH b = CreateSolidBrush(kMarker);
    RECT r = {0, 0, width_, height_};
    FillRect(dc_, &r, b);
    DeleteObject(b);
  }
  // Selects a pen of this width (style PS_NULL when width < 0) and the brush (null
  // when `nullBrush`).
  void use(int penWidth, bool nullBrush = false) {
    SelectObject(dc_, GetStockObject(BLACK_PEN));
    SelectObject(dc_, GetStockObject(WHITE_BRUSH));
    if (pen_) DeleteObject(pen_);
    if (brush_) DeleteObject(brush_);
    pen_ = CreatePen(penWidth < 0 ? PS_NULL : PS_SOLID, penWidth < 0 ? 0 : penWidth, kPen);
    brush_ = nullBrush ? nullptr : CreateSolidBrush(kBrush);
    SelectObject(dc_, pen_);
    SelectObject(dc_, nullBrush ? GetStockObject(NULL_BRUSH) : brush_);
  }
  uint32_t at(int x, int y) const {
    VisPixels v;
    EXPECT_TRUE(visBitmapPixels(bitmap_, &v));
    return v.pixels[y * v.stride + x] & 0xffffff;
  }
  Pixels all(uint32_t pixel) const {
    Pixels found;
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        if (at(x, y) == pixel) found.insert({x, y});
      }
    }
    return found;
  }
  void line(int x1, int y1, int x2, int y2) {
    MoveToEx(dc_, x1, y1, nullptr);
    LineTo(dc_, x2, y2);
  }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  int width_, height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
  HPEN pen_ = nullptr;
  HBRUSH brush_ = nullptr;
};

std::string show(const Pixels& p) {
  std::string s;
  for (auto [x, y] : p) s += "(" + std::to_string(x) + "," + std::to_string(y) + ")";
  return s;
}

// Rows y0..y0+n-1 each filled over [left[i], right[i]) as a pixel set.
Pixels rows(int y0, const std::vector<std::pair<int, int>>& spans) {
  Pixels p;
  for (size_t i = 0; i < spans.size(); ++i) {
    for (int x = spans[i].first; x < spans[i].second; ++x) p.insert({x, y0 + static_cast<int>(i)});
  }
  return p;
}

// Bresenham with the octant bias, worked by hand. Major extent 4, minor 2, so that
// err_0 = 2m - M = 0: the very first decision is a tie, which the bias settles. In
// octants 3, 5, 6 and 8 (bias 1) the tie steps the minor axis at once; in the others it
// waits. The end point is never drawn.
TEST(RasterLine, EightOctantsWithTheirBias) {
  struct Row {
    const char* octant;
    int x2, y2;
    Pixels expected;
  };
  const Row table[] = {
      {"1: right, down, x-major (bias 0)", 14, 12, {{10, 10}, {11, 10}, {12, 11}, {13, 11}}},
      {"2: down, right, y-major (bias 0)", 12, 14, {{10, 10}, {10, 11}, {11, 12}, {11, 13}}},
      {"3: down, left, y-major (bias 1)", 8, 14, {{10, 10}, {9, 11}, {9, 12}, {8, 13}}},
      {"4: left, down, x-major (bias 0)", 6, 12, {{10, 10}, {9, 10}, {8, 11}, {7, 11}}},
      {"5: left, up, x-major (bias 1)", 6, 8, {{10, 10}, {9, 9}, {8, 9}, {7, 8}}},
      {"6: up, left, y-major (bias 1)", 8, 6, {{10, 10}, {9, 9}, {9, 8}, {8, 7}}},
      {"7: up, right, y-major (bias 0)", 12, 6, {{10, 10}, {10, 9}, {11, 8}, {11, 7}}},
      {"8: right, up, x-major (bias 1)", 14, 8, {{10, 10}, {11, 9}, {12, 9}, {13, 8}}},
  };
  Canvas c(20, 20);
  for (const Row& row : table) {
    for (int width : {0, 1}) {
      c.clear();
      c.use(width);
      c.line(10, 10, row.x2, row.y2);
      EXPECT_EQ(c.all(kPenPixel), row.expected) << "octant " << row.octant << ", width " << width
                                                << ": " << show(c.all(kPenPixel));
    }
  }
}

// Reversing a line covers the same pixels, its two end points swapped in and out.
TEST(RasterLine, ReversedLineCoversTheSamePixels) {
  Canvas c(40, 40);
  for (int dy = -9; dy <= 9; ++dy) {
    for (int dx = -9; dx <= 9; ++dx) {
      if (dx == 0 && dy == 0) continue;
      c.clear();
      c.use(1);
      c.line(20, 20, 20 + dx, 20 + dy);
      Pixels forward = c.all(kPenPixel);
      c.clear();
      c.line(20 + dx, 20 + dy, 20, 20);
      Pixels backward = c.all(kPenPixel);
      forward.insert({20 + dx, 20 + dy});
      backward.insert({20, 20});
      EXPECT_EQ(forward, backward) << "(" << dx << "," << dy << ")";
    }
  }
}

// Horizontal and vertical lines are half-open in either direction; a zero-length line
// draws nothing; exact diagonals draw one pixel per row.
TEST(RasterLine, AxisLinesHalfOpenAndDegenerate) {
  struct Row {
    int x1, y1, x2, y2;
    Pixels expected;
  };
  const Row table[] = {
      {5, 5, 9, 5, {{5, 5}, {6, 5}, {7, 5}, {8, 5}}},   // right: end left out
      {9, 5, 5, 5, {{9, 5}, {8, 5}, {7, 5}, {6, 5}}},   // left: start drawn, end left out
      {3, 2, 3, 5, {{3, 2}, {3, 3}, {3, 4}}},           // down
      {3, 5, 3, 2, {{3, 5}, {3, 4}, {3, 3}}},           // up
      {4, 4, 4, 4, {}},                                 // zero length
      {1, 1, 4, 4, {{1, 1}, {2, 2}, {3, 3}}},           // diagonal
      {4, 1, 1, 4, {{4, 1}, {3, 2}, {2, 3}}},           // anti-diagonal
  };
  Canvas c(12, 8);
  for (const Row& r : table) {
    c.clear();
    c.use(1);
    c.line(r.x1, r.y1, r.x2, r.y2);
    EXPECT_EQ(c.all(kPenPixel), r.expected)
        << "(" << r.x1 << "," << r.y1 << ")-(" << r.x2 << "," << r.y2 << "): " << show(c.all(kPenPixel));
  }
}

// Clipping never changes which pixels are drawn: a line crossing any edge of a small
// canvas draws exactly the pixels of the same line, drawn whole on a canvas 30 pixels
// larger on every side, that fall inside; and when the end point lies outside, the
// last pixel inside is drawn.
TEST(RasterLine, ClippingKeepsThePixelsOfTheWholeLine) {
  const int W = 16, H = 12, M = 30;
  Canvas small(W, H), big(W + 2 * M, H + 2 * M);
  // Starts and ends on, just inside and just outside each edge, and far away.
  const int xs[] = {-25, -1, 0, 1, 8, 14, 15, 16, 17, 40};
  const int ys[] = {-20, -1, 0, 1, 6, 10, 11, 12, 13, 37};
  int checked = 0;
  for (int x1 : xs) {
    for (int y1 : ys) {
      for (int k = 0; k < 3; ++k) {
        const int x2 = k == 0 ? W - 1 - x1 : k == 1 ? x1 + 23 : x1 - 7;
        const int y2 = k == 0 ? H - 1 - y1 / 2 : k == 1 ? y1 - 5 : y1 + 17;
        small.clear();
        small.use(1);
        small.line(x1, y1, x2, y2);
        big.clear();
        big.use(1);
        big.line(x1 + M, y1 + M, x2 + M, y2 + M);
        for (int y = 0; y < H; ++y) {
          for (int x = 0; x < W; ++x) {
            ASSERT_EQ(small.at(x, y), big.at(x + M, y + M))
                << "(" << x1 << "," << y1 << ")-(" << x2 << "," << y2 << ") at " << x << "," << y;
          }
        }
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 300);
  // A line along the top row from far left to far right: the whole row, both ends.
  small.clear();
  small.line(-100, 0, 100, 0);
  EXPECT_EQ(small.all(kPenPixel).size(), static_cast<size_t>(W));
  EXPECT_EQ(small.at(W - 1, 0), kPenPixel);
}

// A wide pen is centred: a zero-length line is the pen's disc, the filled ellipse of a
// w x w box starting w / 2 before the point; a horizontal line is a band w rows high
// starting w / 2 above the line, with the disc at both ends.
TEST(RasterWidePen, DiscAndBandExtents) {
  Canvas c(32, 24);
  c.use(5);
  c.line(10, 10, 10, 10);
  // The 5 x 5 ellipse: top and bottom rows three pixels, the three rows between full.
  EXPECT_EQ(c.all(kPenPixel), rows(8, {{9, 12}, {8, 13}, {8, 13}, {8, 13}, {9, 12}}));

  c.clear();
  c.use(2);
  c.line(10, 10, 10, 10);  // 2 x 2: a square up and left of the point
  EXPECT_EQ(c.all(kPenPixel), rows(9, {{9, 11}, {9, 11}}));

  c.clear();
  c.use(4);
  c.line(10, 10, 20, 10);
  // Band [10, 20) x [8, 12); discs 4 x 4 (".##." "####" "####" ".##.") at x 8..11 and
  // 18..21.
  EXPECT_EQ(c.all(kPenPixel), rows(8, {{9, 21}, {8, 22}, {8, 22}, {9, 21}}));

  c.clear();
  c.use(3);
  c.line(5, 4, 5, 14);  // vertical, width 3: columns 4..6, caps one row beyond each end
  EXPECT_EQ(c.all(kPenPixel), rows(3, {{5, 6}, {4, 7}, {4, 7}, {4, 7}, {4, 7}, {4, 7}, {4, 7},
                                       {4, 7}, {4, 7}, {4, 7}, {4, 7}, {4, 7}, {5, 6}}));
}

// Ellipse boxes 0, 1 and 2 wide, inverted boxes, and the smallest true ellipse.
TEST(RasterEllipse, SmallAndInvertedBoxes) {
  Canvas c(16, 16);
  struct Row {
    const char* what;
    int l, t, r, b;
    Pixels pen, brush;
  };
  const Row table[] = {
      {"0 wide: nothing", 3, 3, 3, 9, {}, {}},
      {"0 high: nothing", 3, 3, 9, 3, {}, {}},
      {"1 wide: drawn as Rectangle, a column of pen", 3, 3, 4, 7, rows(3, {{3, 4}, {3, 4}, {3, 4}, {3, 4}}), {}},
      {"2 x 2: Rectangle, all outline", 3, 3, 5, 5, rows(3, {{3, 5}, {3, 5}}), {}},
      {"2 x 4: Rectangle, all outline", 3, 3, 5, 7, rows(3, {{3, 5}, {3, 5}, {3, 5}, {3, 5}}), {}},
      // 3 x 3: the quadrant is (2,1), (1,2): a diamond around one brush pixel.
      {"3 x 3: a diamond", 3, 3, 6, 6, {{4, 3}, {3, 4}, {5, 4}, {4, 5}}, {{4, 4}}},
      {"3 x 3 inverted horizontally", 6, 3, 3, 6, {{4, 3}, {3, 4}, {5, 4}, {4, 5}}, {{4, 4}}},
      {"3 x 3 inverted both ways", 6, 6, 3, 3, {{4, 3}, {3, 4}, {5, 4}, {4, 5}}, {{4, 4}}},
      {"2 x 2 inverted: Rectangle of the swapped box", 5, 5, 3, 3, rows(3, {{3, 5}, {3, 5}}), {}},
  };
  for (const Row& row : table) {
    c.clear();
    c.use(1);
    Ellipse(c.dc(), row.l, row.t, row.r, row.b);
    EXPECT_EQ(c.all(kPenPixel), row.pen) << row.what << ": " << show(c.all(kPenPixel));
    EXPECT_EQ(c.all(kBrushPixel), row.brush) << row.what << ": " << show(c.all(kBrushPixel));
  }
}

// A circle is symmetric about its box's centre and touches each side of the box
// (right and bottom excluded), whatever the pen width; a wide pen reaches w / 2 beyond.
TEST(RasterEllipse, CircleExtentsAndSymmetry) {
  for (int pw : {1, 4, 7}) {
    Canvas c(60, 60);
    c.use(pw);
    Ellipse(c.dc(), 10, 12, 41, 43);  // 31 x 31
    int minX = 99, maxX = -1, minY = 99, maxY = -1;
    for (int y = 0; y < 60; ++y) {
      for (int x = 0; x < 60; ++x) {
        if (c.at(x, y) == kMarkerPixel) continue;
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
        // Mirror about the box's centre (25, 27): x -> 50 - x, y -> 54 - y.
        if (pw == 1) {
          EXPECT_EQ(c.at(50 - x, y), c.at(x, y)) << x << "," << y;
          EXPECT_EQ(c.at(x, 54 - y), c.at(x, y)) << x << "," << y;
        }
      }
    }
    const int h = pw > 1 ? pw / 2 : 0, h2 = pw > 1 ? (pw - 1) / 2 : 0;
    EXPECT_EQ(minX, 10 - h) << pw;
    EXPECT_EQ(maxX, 40 + h2) << pw;
    EXPECT_EQ(minY, 12 - h) << pw;
    EXPECT_EQ(maxY, 42 + h2) << pw;
    EXPECT_EQ(c.at(25, 27), kBrushPixel);  // the centre is brush
  }
}

// Even-odd fill of self-intersecting polygons, null pen so that only the fill shows.
TEST(RasterPolygon, EvenOddSelfIntersecting) {
  Canvas c(20, 20);
  c.use(-1);
  // A bow tie crossing at (4, 4): edges x = y and x = 8 - y (the horizontal ones add
  // nothing). Row y spans from the smaller crossing to the larger, left in, right out;
  // row 4 is empty, the rows below 8 are not filled.
  const POINT bowtie[] = {{0, 0}, {8, 0}, {0, 8}, {8, 8}};
  Polygon(c.dc(), bowtie, 4);
  EXPECT_EQ(c.all(kBrushPixel),
            rows(0, {{0, 8}, {1, 7}, {2, 6}, {3, 5}, {4, 4}, {3, 5}, {2, 6}, {1, 7}}));

  // A square traced twice: every pixel has two crossings to its left, so nothing is
  // filled (a winding fill would fill it all).
  c.clear();
  const POINT twice[] = {{2, 2}, {12, 2}, {12, 12}, {2, 12}, {2, 2}, {12, 2}, {12, 12}, {2, 12}};
  Polygon(c.dc(), twice, 8);
  EXPECT_TRUE(c.all(kBrushPixel).empty());

  // A square with a square hole traced inside it, joined by a seam.
  c.clear();
  const POINT holed[] = {{0, 0}, {12, 0}, {12, 12}, {0, 12}, {0, 0}, {4, 4}, {4, 8}, {8, 8}, {8, 4}, {4, 4}};
  Polygon(c.dc(), holed, 10);
  EXPECT_EQ(c.at(1, 6), kBrushPixel);
  EXPECT_EQ(c.at(6, 6), kMarkerPixel);  // the hole
  EXPECT_EQ(c.at(11, 11), kBrushPixel);
  EXPECT_EQ(c.at(12, 6), kMarkerPixel);  // right edge left out
  EXPECT_EQ(c.at(6, 12), kMarkerPixel);  // bottom edge left out
}

// A polygon with vertices off the canvas fills what falls inside, clipped.
TEST(RasterPolygon, VerticesOffTheCanvas) {
  Canvas c(10, 10);
  c.use(-1);
  const POINT big[] = {{-100, -100}, {100, -100}, {100, 100}, {-100, 100}};
  Polygon(c.dc(), big, 4);
  EXPECT_EQ(c.all(kBrushPixel).size(), 100u);
  c.clear();
  // The triangle x >= 0, y >= 0, x + y < 5 (the hypotenuse runs from (5, 0) to
  // (0, 5) through (-3, 8): its crossing of row y is 5 - y, right edge left out).
  const POINT tri[] = {{0, -20}, {25, -20}, {-3, 8}, {0, 8}, {0, -20}};
  Polygon(c.dc(), tri, 4);
  Pixels expected;
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 5 - y; ++x) expected.insert({x, y});
  }
  // Rows 5..7 between the hypotenuse (x < 0 there) and the left edge x = 0: empty.
  EXPECT_EQ(c.all(kBrushPixel), expected) << show(c.all(kBrushPixel));
}

// Rectangle: a one-pixel outline just inside the box, brush inside that; FillRect
// half-open; both clipped at every edge and swapped when inverted.
TEST(RasterRectangle, OutlineInteriorAndClipping) {
  Canvas c(12, 10);
  c.use(1);
  Rectangle(c.dc(), 2, 2, 7, 6);
  Pixels outline;
  for (int x = 2; x < 7; ++x) {
    outline.insert({x, 2});
    outline.insert({x, 5});
  }
  for (int y = 2; y < 6; ++y) {
    outline.insert({2, y});
    outline.insert({6, y});
  }
  EXPECT_EQ(c.all(kPenPixel), outline);
  EXPECT_EQ(c.all(kBrushPixel), rows(3, {{3, 6}, {3, 6}}));

  c.clear();
  Rectangle(c.dc(), 7, 6, 2, 2);  // inverted: the same
  EXPECT_EQ(c.all(kPenPixel), outline);

  struct Row {
    RECT r;
    size_t count;
  };
  const Row fills[] = {
      {{-5, -5, 3, 2}, 6},     // top-left corner: 3 x 2
      {{10, 8, 20, 20}, 4},    // bottom-right: 2 x 2
      {{-5, 4, 40, 5}, 12},    // a whole row
      {{4, -9, 5, 99}, 10},    // a whole column
      {{5, 5, 5, 9}, 0},       // empty
      {{6, 5, 3, 2}, 9},       // inverted: [3, 6) x [2, 5)
      {{20, 20, 30, 30}, 0},   // wholly outside
  };
  for (const Row& f : fills) {
    c.clear();
    HBRUSH b = CreateSolidBrush(kBrush);
    FillRect(c.dc(), &f.r, b);
    DeleteObject(b);
    EXPECT_EQ(c.all(kBrushPixel).size(), f.count)
        << f.r.left << "," << f.r.top << "," << f.r.right << "," << f.r.bottom;
  }
}

// BitBlt within one bitmap, overlapping in each direction: the result is the block
// as it was before the copy.
TEST(RasterCopy, OverlappingCopiesReadBeforeWriting) {
  const int W = 9, H = 7;
  struct Row {
    int x, y, sx, sy;
  };
  const Row table[] = {{1, 0, 0, 0}, {0, 0, 1, 0}, {0, 1, 0, 0}, {0, 0, 0, 1},
                       {2, 1, 0, 0}, {0, 0, 2, 1}, {1, 0, 0, 2}, {0, 2, 1, 0}};
  for (const Row& r : table) {
    Canvas c(W, H);
    // A pattern of distinct pixels, one per pixel, drawn with one-pixel lines.
    std::vector<uint32_t> before(W * H);
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        const COLORREF colour = RGB(x * 20, y * 30, 7);
        HPEN pen = CreatePen(PS_SOLID, 1, colour);
        HGDIOBJ old = SelectObject(c.dc(), pen);
        c.line(x, y, x + 1, y);
        SelectObject(c.dc(), old);
        DeleteObject(pen);
        before[y * W + x] = c.at(x, y);
      }
    }
    const int w = 6, h = 4;
    BitBlt(c.dc(), r.x, r.y, w, h, c.dc(), r.sx, r.sy, SRCCOPY);
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        const bool inBlock = x >= r.x && x < r.x + w && y >= r.y && y < r.y + h;
        const uint32_t expected =
            inBlock ? before[(y - r.y + r.sy) * W + (x - r.x + r.sx)] : before[y * W + x];
        ASSERT_EQ(c.at(x, y), expected) << "copy to " << r.x << "," << r.y << " from " << r.sx
                                        << "," << r.sy << " at " << x << "," << y;
      }
    }
  }
}

// Absurd arguments neither hang nor crash: a box beyond any screen draws nothing, a
// pen a million pixels wide is drawn at the cap, coordinates far off the canvas clip.
TEST(RasterLimits, AbsurdArgumentsStayBounded) {
  Canvas c(16, 12);
  c.use(1);
  EXPECT_TRUE(Ellipse(c.dc(), -2000000, -2000000, 2000000, 2000000));
  EXPECT_EQ(c.all(kMarkerPixel).size(), 16u * 12u);
  c.use(1000000);
  c.line(5, 5, 6, 6);
  EXPECT_TRUE(c.all(kMarkerPixel).empty());  // the capped pen still covers the canvas
  c.clear();
  c.use(1);
  c.line(-2000000000, -1000000000, 2000000000, 1000000000);  // through (0, 0) at slope 1/2
  EXPECT_EQ(c.at(0, 0), kPenPixel);
  EXPECT_EQ(c.at(2, 1), kPenPixel);
  const POINT far[] = {{-2000000000, 5}, {2000000000, 5}, {2000000000, 7}, {-2000000000, 7}};
  c.use(-1);
  Polygon(c.dc(), far, 4);
  EXPECT_EQ(c.all(kBrushPixel).size(), 32u);  // rows 5 and 6, whole width
}

}  // namespace
