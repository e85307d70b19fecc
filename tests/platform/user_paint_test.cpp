// Window DCs and painting of the portable USER32: where a window DC's pixels are, how
// they are clipped, BeginPaint's erase protocol and update rectangle, and the trace
// lines of GetDC and BeginPaint.
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "visplatform.h"

namespace {

int erasesSeen = 0;
LRESULT eraseAnswer = 0;

LRESULT CALLBACK paintProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) {
    ++erasesSeen;
    if (eraseAnswer >= 0) return eraseAnswer;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x5350000));
constexpr uint32_t kMarker = 0x00FF00FF;

void traceInto(void* context, const char* line) {
  static_cast<std::vector<std::string>*>(context)->push_back(line);
}

class UserPaintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    erasesSeen = 0;
    eraseAnswer = 0;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = paintProc;
    wc.hInstance = kInstance;
    wc.lpszClassName = "PaintTest";
    ASSERT_NE(RegisterClassA(&wc), 0);
    // A 40 x 30 top level; a child at (10, 5) of 20 x 20; a grandchild at (15, 15)
    // of 10 x 10 that sticks out of the child by 5 pixels each way.
    top = CreateWindowExA(0, "PaintTest", "", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 200, 100, 40, 30,
                          nullptr, nullptr, kInstance, nullptr);
    child = CreateWindowExA(0, "PaintTest", "", WS_CHILD | WS_VISIBLE, 10, 5, 20, 20, top,
                            nullptr, kInstance, nullptr);
    grandchild = CreateWindowExA(0, "PaintTest", "", WS_CHILD | WS_VISIBLE, 15, 15, 10, 10, child,
                                 nullptr, kInstance, nullptr);
    ASSERT_TRUE(top && child && grandchild);
    drain();
    ASSERT_TRUE(visWindowPixels(top, &pixels));
    for (int i = 0; i < pixels.height * pixels.stride; ++i) pixels.pixels[i] = kMarker;
  }
  void TearDown() override {
    visSetTraceSink(nullptr, nullptr);
    DestroyWindow(top);
    drain();
    UnregisterClassA("PaintTest", kInstance);
  }
  static void drain() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  uint32_t& at(int x, int y) { return pixels.pixels[y * pixels.stride + x]; }
  // A FillRect far past the grandchild's edges through its window DC.
  void fillGrandchild(COLORREF colour) {
    HDC dc = GetDC(grandchild);
    HBRUSH brush = CreateSolidBrush(colour);
    const RECT all = {-100, -100, 100, 100};
    FillRect(dc, &all, brush);
    ReleaseDC(grandchild, dc);
    DeleteObject(brush);
  }
  HWND top = nullptr, child = nullptr, grandchild = nullptr;
  VisPixels pixels;
};

TEST_F(UserPaintTest, WindowDcReadsItsTopLevelsPixelsAtItsOffset) {
  ASSERT_EQ(pixels.width, 40);
  ASSERT_EQ(pixels.height, 30);
  at(10, 5) = 0x00112233;   // the child's (0, 0)
  at(25, 20) = 0x00445566;  // the grandchild's (0, 0)
  at(29, 24) = 0x00778899;  // the grandchild's (4, 4), the child's last pixel
  HDC childDc = GetDC(child);
  HDC grandDc = GetDC(grandchild);
  struct Probe {
    HDC dc;
    int x, y;
    COLORREF expected;
    const char* note;
  };
  const Probe probes[] = {
      {childDc, 0, 0, RGB(0x11, 0x22, 0x33), "child origin: pixel (10, 5), read as a COLORREF"},
      {childDc, 19, 19, RGB(0x77, 0x88, 0x99), "child's last pixel"},
      {childDc, 20, 0, CLR_INVALID, "right of the child's client area"},
      {childDc, -1, 0, CLR_INVALID, "left of it"},
      {grandDc, 0, 0, RGB(0x44, 0x55, 0x66), "grandchild origin: offsets add up"},
      {grandDc, 4, 4, RGB(0x77, 0x88, 0x99), "inside the child too"},
      {grandDc, 5, 5, CLR_INVALID, "outside the child: clipped by the ancestor"},
  };
  for (const Probe& p : probes) EXPECT_EQ(GetPixel(p.dc, p.x, p.y), p.expected) << p.note;
  EXPECT_EQ(ReleaseDC(child, childDc), 1);
  EXPECT_EQ(ReleaseDC(child, grandDc), 0);  // not that window's DC
  EXPECT_EQ(ReleaseDC(grandchild, grandDc), 1);

  // The screen and hidden windows have nothing to draw into.
  HDC screen = GetDC(nullptr);
  ASSERT_NE(screen, nullptr);
  EXPECT_EQ(GetPixel(screen, 0, 0), CLR_INVALID);
  ReleaseDC(nullptr, screen);
  ShowWindow(child, SW_HIDE);
  HDC hidden = GetDC(child);
  EXPECT_EQ(GetPixel(hidden, 0, 0), CLR_INVALID);
  ReleaseDC(child, hidden);
  EXPECT_EQ(GetDC(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234))), nullptr);
}

TEST_F(UserPaintTest, ChildPixelsAreAViewIntoTheTopLevel) {
  VisPixels view;
  ASSERT_TRUE(visWindowPixels(child, &view));
  EXPECT_EQ(view.width, 20);
  EXPECT_EQ(view.height, 20);
  EXPECT_EQ(view.stride, 40);
  EXPECT_EQ(view.pixels, &at(10, 5));
  // Resizing the top level keeps what fits, and the new part starts at 0.
  SetWindowPos(top, nullptr, 0, 0, 50, 20, SWP_NOMOVE | SWP_NOZORDER);
  ASSERT_TRUE(visWindowPixels(top, &pixels));
  EXPECT_EQ(pixels.width, 50);
  EXPECT_EQ(at(39, 19), kMarker);
  EXPECT_EQ(at(40, 0), 0u);
}

TEST_F(UserPaintTest, FillRectThroughAWindowDcIsOffsetAndClipped) {
  fillGrandchild(RGB(0x12, 0x34, 0x56));
  // The grandchild covers (25..35, 20..30) of the top level; the child clips it to
  // (25..30, 20..25). Pixels are 0x00RRGGBB.
  int wrong = 0;
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      const bool inside = x >= 25 && x < 30 && y >= 20 && y < 25;
      wrong += at(x, y) != (inside ? 0x00123456u : kMarker);
    }
  }
  EXPECT_EQ(wrong, 0);
}

// A host lends the top level memory with a wider stride than the window (as a window
// system's image may have): drawing lands there row by row and nowhere past the width;
// a resize or taking it back returns the pixels to the layer with their content.
TEST_F(UserPaintTest, LentMemoryHoldsTheWindowsPixelsUntilResizedOrTakenBack) {
  constexpr int kStride = 48;
  constexpr uint32_t kGap = 0x00ABCDEF;
  std::vector<uint32_t> lent(kStride * 30, kGap);
  EXPECT_FALSE(visLendWindowPixels(child, lent.data(), 20, 20, kStride));
  EXPECT_FALSE(visLendWindowPixels(top, lent.data(), 41, 30, kStride));
  EXPECT_FALSE(visLendWindowPixels(top, lent.data(), 40, 30, 39));
  at(3, 2) = 0x00010203;
  ASSERT_TRUE(visLendWindowPixels(top, lent.data(), 40, 30, kStride));
  EXPECT_EQ(lent[2 * kStride + 3], 0x00010203u);  // what the window showed moves in
  EXPECT_EQ(lent[0 * kStride + 39], kMarker);
  EXPECT_EQ(lent[0 * kStride + 40], kGap);

  fillGrandchild(RGB(0x12, 0x34, 0x56));
  int wrong = 0;
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < kStride; ++x) {
      const bool inside = x >= 25 && x < 30 && y >= 20 && y < 25;
      const uint32_t expected = x >= 40                ? kGap
                                : inside                 ? 0x00123456u
                                : y == 2 && x == 3       ? 0x00010203u
                                                         : kMarker;
      wrong += lent[y * kStride + x] != expected;
    }
  }
  EXPECT_EQ(wrong, 0);
  VisPixels view;
  ASSERT_TRUE(visWindowPixels(child, &view));
  EXPECT_EQ(view.pixels, &lent[5 * kStride + 10]);
  EXPECT_EQ(view.stride, kStride);

  // Taken back: the content comes out, and the lent memory is drawn on no more.
  ASSERT_TRUE(visLendWindowPixels(top, nullptr, 0, 0, 0));
  ASSERT_TRUE(visWindowPixels(top, &pixels));
  EXPECT_NE(pixels.pixels, lent.data());
  EXPECT_EQ(pixels.stride, 40);
  EXPECT_EQ(at(27, 22), 0x00123456u);
  EXPECT_EQ(at(3, 2), 0x00010203u);
  lent[22 * kStride + 27] = kGap;
  HDC topDc = GetDC(top);
  EXPECT_EQ(GetPixel(topDc, 27, 22), RGB(0x12, 0x34, 0x56));
  ReleaseDC(top, topDc);

  // Lent again, then resized: the layer keeps what fits in a buffer of its own.
  ASSERT_TRUE(visLendWindowPixels(top, lent.data(), 40, 30, kStride));
  SetWindowPos(top, nullptr, 0, 0, 30, 25, SWP_NOMOVE | SWP_NOZORDER);
  ASSERT_TRUE(visWindowPixels(top, &pixels));
  EXPECT_NE(pixels.pixels, lent.data());
  EXPECT_EQ(pixels.stride, 30);
  EXPECT_EQ(at(27, 22), 0x00123456u);
  EXPECT_EQ(at(3, 2), 0x00010203u);
}

TEST_F(UserPaintTest, ChildrenAtTheEndsOfTheCoordinateRangeDrawNothing) {
  // A child placed where its offset plus its size leaves the 32-bit range: invalidating
  // its parent, painting through its DC and finding its pixels stay defined and touch
  // nothing of the top level.
  const POINT places[] = {{2147483647, 0}, {2147483647 - 5, 2147483647 - 5},
                          {-2147483647 - 1, -2147483647 - 1}, {0, 2147483647}};
  HBRUSH brush = CreateSolidBrush(RGB(0x12, 0x34, 0x56));
  for (const POINT& p : places) {
    MoveWindow(child, p.x, p.y, 20, 20, TRUE);
    InvalidateRect(top, nullptr, TRUE);
    drain();
    for (HWND w : {child, grandchild}) {
      HDC dc = GetDC(w);
      const RECT all = {-100, -100, 100, 100};
      FillRect(dc, &all, brush);
      ReleaseDC(w, dc);
      VisPixels view;
      EXPECT_FALSE(visWindowPixels(w, &view)) << p.x << ", " << p.y;
    }
    int touched = 0;
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 40; ++x) touched += at(x, y) != kMarker;
    }
    EXPECT_EQ(touched, 0) << p.x << ", " << p.y;
  }
  DeleteObject(brush);
}

TEST_F(UserPaintTest, BeginPaintErasesWhenAskedAndValidates) {
  struct Case {
    BOOL erase;
    LRESULT answer;  // WM_ERASEBKGND's result
    int erases;
    BOOL fErase;
    const char* note;
  };
  const Case cases[] = {
      {FALSE, 0, 0, FALSE, "no erase asked: no WM_ERASEBKGND"},
      {TRUE, 0, 1, TRUE, "erase asked, not done: the painter must erase"},
      {TRUE, 1, 1, FALSE, "erase asked and done"},
  };
  for (const Case& c : cases) {
    erasesSeen = 0;
    eraseAnswer = c.answer;
    const RECT a = {2, 3, 5, 6}, b = {8, 1, 9, 4};
    InvalidateRect(child, &a, c.erase);
    InvalidateRect(child, &b, FALSE);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(child, &ps);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(erasesSeen, c.erases) << c.note;
    EXPECT_EQ(ps.fErase, c.fErase) << c.note;
    // The update rectangle is the bounding box of what was invalidated.
    EXPECT_EQ(ps.rcPaint.left, 2);
    EXPECT_EQ(ps.rcPaint.top, 1);
    EXPECT_EQ(ps.rcPaint.right, 9);
    EXPECT_EQ(ps.rcPaint.bottom, 6);
    EXPECT_TRUE(EndPaint(child, &ps));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, child, WM_PAINT, WM_PAINT, PM_NOREMOVE)) << c.note;
  }
  // Invalidating outside the client area invalidates nothing.
  const RECT outside = {100, 100, 200, 200};
  InvalidateRect(child, &outside, TRUE);
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, child, WM_PAINT, WM_PAINT, PM_NOREMOVE));
}

TEST_F(UserPaintTest, TraceNamesWindowsAndPaintDcs) {
  std::vector<std::string> lines;
  visSetTraceSink(traceInto, &lines);
  HDC dc = GetDC(child);
  ReleaseDC(child, dc);
  InvalidateRect(top, nullptr, FALSE);
  PAINTSTRUCT ps;
  HDC paintDc = BeginPaint(top, &ps);
  EndPaint(top, &ps);
  HDC screen = GetDC(nullptr);
  ReleaseDC(nullptr, screen);
  visSetTraceSink(nullptr, nullptr);

  ASSERT_EQ(lines.size(), 6u);
  unsigned dcId, childId, releaseChild, releaseDc, paintId, topId, endTop, endDc;
  int w, h;
  ASSERT_EQ(sscanf(lines[0].c_str(), "#%u = GetDC w%u %d %d", &dcId, &childId, &w, &h), 4)
      << lines[0];
  EXPECT_EQ(w, 20);
  EXPECT_EQ(h, 20);
  ASSERT_EQ(sscanf(lines[1].c_str(), "ReleaseDC w%u #%u", &releaseChild, &releaseDc), 2)
      << lines[1];
  EXPECT_EQ(releaseChild, childId);
  EXPECT_EQ(releaseDc, dcId);
  ASSERT_EQ(sscanf(lines[2].c_str(), "#%u = BeginPaint w%u %d %d", &paintId, &topId, &w, &h), 4)
      << lines[2];
  EXPECT_EQ(w, 40);
  EXPECT_EQ(h, 30);
  EXPECT_NE(topId, childId);
  EXPECT_NE(topId, 0u);
  EXPECT_NE(paintId, dcId);  // a new DC, with a new id
  ASSERT_EQ(sscanf(lines[3].c_str(), "EndPaint w%u #%u", &endTop, &endDc), 2) << lines[3];
  EXPECT_EQ(endTop, topId);
  EXPECT_EQ(endDc, paintId);
  unsigned screenDc;
  ASSERT_EQ(sscanf(lines[4].c_str(), "#%u = GetDC w0 %d %d", &screenDc, &w, &h), 3) << lines[4];
  EXPECT_EQ(lines[5], "ReleaseDC w0 #" + std::to_string(screenDc));
  (void)paintDc;
}

}  // namespace
