// Every primitive at the ends of int: coordinates anywhere in 32 bits, the DC's origin
// added to them, pen widths near INT_MIN and INT_MAX, children placed far off. Each
// case draws through a child window's DC into a top level filled with a marker, so a
// pixel written outside the child shows, and compares every pixel with a rule worked
// out by hand: where GDI's arithmetic defines the figure (a line across all of int is
// still one Bresenham line), its pixels; where the figure lies wholly off the child,
// nothing. Every case overflowed somewhere before (the sanitizer build reports it).
#include <gtest/gtest.h>

#include <limits.h>
#include <stdint.h>

#include <functional>
#include <string>

#include "visplatform.h"

namespace {

constexpr uint32_t kMarker = 0x0000ff, kPenPixel = 0xff0000, kBrushPixel = 0x00ff00;
constexpr COLORREF kPen = RGB(255, 0, 0), kBrush = RGB(0, 255, 0);
HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x5850000));

struct Case {
  const char* note;
  int topWidth, topHeight;
  int childX, childY, childWidth, childHeight;
  int penWidth;    // -1: the null pen
  bool nullBrush;
  std::function<void(HDC dc, HWND top)> draw;
  // The pixel expected at (x, y) of the child (64 bits: a child may start far off).
  std::function<uint32_t(int64_t x, int64_t y)> expected;
};

uint32_t nothing(int64_t, int64_t) { return kMarker; }

void line(HDC dc, int x1, int y1, int x2, int y2) {
  MoveToEx(dc, x1, y1, nullptr);
  LineTo(dc, x2, y2);
}

void check(const Case& c) {
  SCOPED_TRACE(c.note);
  HWND top = CreateWindowExA(0, "Extremes", "", WS_POPUP | WS_VISIBLE, 0, 0, c.topWidth, c.topHeight,
                             nullptr, nullptr, kInstance, nullptr);
  HWND child = CreateWindowExA(0, "Extremes", "", WS_CHILD | WS_VISIBLE, c.childX, c.childY,
                               c.childWidth, c.childHeight, top, nullptr, kInstance, nullptr);
  ASSERT_TRUE(top && child);
  VisPixels pixels;
  ASSERT_TRUE(visWindowPixels(top, &pixels));
  for (int i = 0; i < pixels.height * pixels.stride; ++i) pixels.pixels[i] = kMarker;

  HDC dc = GetDC(child);
  HPEN pen = CreatePen(c.penWidth == -1 ? PS_NULL : PS_SOLID, c.penWidth == -1 ? 0 : c.penWidth, kPen);
  HBRUSH brush = CreateSolidBrush(kBrush);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HGDIOBJ oldBrush = SelectObject(dc, c.nullBrush ? GetStockObject(NULL_BRUSH) : brush);
  c.draw(dc, top);
  SelectObject(dc, oldPen);
  SelectObject(dc, oldBrush);
  DeleteObject(pen);
  DeleteObject(brush);
  ReleaseDC(child, dc);

  ASSERT_TRUE(visWindowPixels(top, &pixels));
  int wrong = 0;
  std::string first;
  for (int y = 0; y < c.topHeight; ++y) {
    for (int x = 0; x < c.topWidth; ++x) {
      const int64_t cx = int64_t{x} - c.childX, cy = int64_t{y} - c.childY;
      const bool inChild = cx >= 0 && cx < c.childWidth && cy >= 0 && cy < c.childHeight;
      const uint32_t want = inChild ? c.expected(cx, cy) : kMarker;
      const uint32_t got = pixels.pixels[y * pixels.stride + x] & 0xffffff;
      if (got != want && wrong++ == 0) {
        first = "(" + std::to_string(x) + ", " + std::to_string(y) + ") of the top level: got " +
                std::to_string(got) + ", expected " + std::to_string(want);
      }
    }
  }
  EXPECT_EQ(wrong, 0) << "first at " << first;
  DestroyWindow(top);
}

TEST(RasterExtremes, EveryPrimitiveClipsEveryInt) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = kInstance;
  wc.lpszClassName = "Extremes";
  ASSERT_NE(RegisterClassA(&wc), 0);
  const Case cases[] = {
      // The line clipper's 2 M kLow overflowed 64 bits and the line was drawn outside
      // a 258 x 279 surface. Its x stays within 91 of INT_MIN: nothing to draw.
      {"LineTo from (INT_MIN, INT_MAX) to (-2147483557, INT_MIN)", 258, 279, 0, 0, 258, 279, 1, false,
       [](HDC dc, HWND) { line(dc, INT_MIN, INT_MAX, -2147483557, INT_MIN); }, nothing},
      // x-major, M = 2^32 - 1, m = 1, bias 0: k_j = 1 from j = 2^31, which is device
      // x = INT_MIN + 20 + 2^31 = 20, the child's x = 0. So the child shows row 6 only.
      {"a line across all of int, origin (20, 10) added", 64, 48, 20, 10, 16, 12, 1, false,
       [](HDC dc, HWND) { line(dc, INT_MIN, 5, INT_MAX, 6); },
       [](int64_t, int64_t y) { return y == 6 ? kPenPixel : kMarker; }},
      // Reversed: bias 1, k_j = 1 from 2j >= M, j = 2^31, device x 19: the same row.
      {"the same line reversed covers the same pixels", 64, 48, 20, 10, 16, 12, 1, false,
       [](HDC dc, HWND) { line(dc, INT_MAX, 6, INT_MIN, 5); },
       [](int64_t, int64_t y) { return y == 6 ? kPenPixel : kMarker; }},
      // y-major the same way: the step to x = 8 comes at device y = 10, the child's 0.
      {"a steep line across all of int", 64, 48, 20, 10, 16, 12, 0, false,
       [](HDC dc, HWND) { line(dc, 7, INT_MIN, 8, INT_MAX); },
       [](int64_t x, int64_t) { return x == 8 ? kPenPixel : kMarker; }},
      // The origin was added to the rectangle in 32 bits: the right edge wrapped.
      {"FillRect over all of int with the origin added", 64, 48, 20, 10, 16, 12, 1, false,
       [](HDC dc, HWND) {
         const RECT all = {INT_MIN, INT_MIN, INT_MAX, INT_MAX};
         HBRUSH b = CreateSolidBrush(kBrush);
         FillRect(dc, &all, b);
         DeleteObject(b);
       },
       [](int64_t, int64_t) { return kBrushPixel; }},
      {"Rectangle over all of int: the outline lies past every edge", 64, 48, 20, 10, 16, 12, 1, false,
       [](HDC dc, HWND) { Rectangle(dc, INT_MIN, INT_MIN, INT_MAX, INT_MAX); },
       [](int64_t, int64_t) { return kBrushPixel; }},
      // The diagonal edge crosses row y at x = y (dx = dy), so the fill is x < y; its
      // first visible row lies 2^31 + 5 rows down an edge 2^32 - 1 wide, a product
      // past 64 bits. The child starts at (-5, -5), so the clip's top is below its origin.
      {"Polygon fill across all of int", 24, 16, -5, -5, 30, 30, -1, false,
       [](HDC dc, HWND) {
         const POINT triangle[] = {{INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MIN, INT_MAX}};
         Polygon(dc, triangle, 3);
       },
       [](int64_t x, int64_t y) { return x < y ? kBrushPixel : kMarker; }},
      {"Polygon outline through the far vertices of the first case", 258, 279, 0, 0, 258, 279, 1, true,
       [](HDC dc, HWND) {
         const POINT far[] = {{INT_MIN, INT_MAX}, {-2147483557, INT_MIN}, {INT_MIN, INT_MIN}};
         Polygon(dc, far, 3);
       },
       nothing},
      // Its magnitude overflowed; wider than the cap draws at the cap (16384), and a
      // dot of the capped pen covers the child.
      {"a pen of width INT_MIN", 64, 48, 20, 10, 16, 12, INT_MIN, false,
       [](HDC dc, HWND) { line(dc, 8, 6, 8, 6); }, [](int64_t, int64_t) { return kPenPixel; }},
      {"a pen of width INT_MAX", 64, 48, 20, 10, 16, 12, INT_MAX, false,
       [](HDC dc, HWND) { line(dc, 8, 6, 8, 6); }, [](int64_t, int64_t) { return kPenPixel; }},
      // A horizontal wide line is a band w rows high from w / 2 above it.
      {"a 5-pixel band across all of int", 64, 48, 20, 10, 16, 12, 5, false,
       [](HDC dc, HWND) { line(dc, INT_MIN, 6, INT_MAX, 6); },
       [](int64_t, int64_t y) { return y >= 4 && y < 9 ? kPenPixel : kMarker; }},
      {"Ellipse whose box passes INT_MAX once the origin is added", 64, 48, 20, 10, 16, 12, 3, false,
       [](HDC dc, HWND) { Ellipse(dc, INT_MAX - 40, 0, INT_MAX, 30); }, nothing},
      // The child lies deep inside the interior of the widest ellipse allowed.
      {"Ellipse box 32768 with a 16384 pen around the child", 64, 48, 20, 10, 16, 12, 16384, false,
       [](HDC dc, HWND) { Ellipse(dc, 8 - 16384, 6 - 16384, 8 + 16384, 6 + 16384); },
       [](int64_t, int64_t) { return kBrushPixel; }},
      {"GetPixel beyond INT_MAX once the origin is added", 64, 48, 20, 10, 16, 12, 1, false,
       [](HDC dc, HWND) {
         EXPECT_EQ(GetPixel(dc, INT_MAX, INT_MAX), CLR_INVALID);
         EXPECT_EQ(GetPixel(dc, INT_MIN, 0), CLR_INVALID);
       },
       nothing},
      // Its offset plus its width overflowed the clip.
      {"a child at INT_MAX - 5, 100 wide: nothing of it shows", 64, 48, INT_MAX - 5, 0, 100, 10, 1, false,
       [](HDC dc, HWND) {
         const RECT all = {INT_MIN, INT_MIN, INT_MAX, INT_MAX};
         FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
       },
       nothing},
      // Its right edge is at INT_MIN + 10 + INT_MAX = 9: columns 0..8 show. The
      // parent's invalidated area moved into it overflowed too.
      {"a child from INT_MIN + 10, INT_MAX wide, reaching back in", 64, 48, INT_MIN + 10, 0, INT_MAX, 10, 1,
       false,
       [](HDC dc, HWND top) {
         InvalidateRect(top, nullptr, TRUE);
         const RECT all = {INT_MIN, INT_MIN, INT_MAX, INT_MAX};
         HBRUSH b = CreateSolidBrush(kBrush);
         FillRect(dc, &all, b);
         DeleteObject(b);
       },
       [](int64_t, int64_t) { return kBrushPixel; }},
  };
  for (const Case& c : cases) check(c);
  EXPECT_TRUE(UnregisterClassA("Extremes", kInstance));
  for (DWORD type : {OBJ_PEN, OBJ_BRUSH, OBJ_DC}) EXPECT_EQ(visLiveObjectCount(type), 0) << type;
}

}  // namespace
