// libFuzzer target: GDI calls decoded from the input, drawn into a memory bitmap and
// through a child window's DC, both of fuzzed sizes and the child at a fuzzed place.
//
// Checked on every input: no crash or sanitizer report; no pixel of the top-level
// window outside the places its child has occupied is written (the child's DC must
// clip to it); at the end, once everything made has been deselected, deleted or
// released, no GDI object and no window is left alive. Bitmap overruns are left to
// AddressSanitizer (a bitmap is a heap block of exactly its pixels).
//
// Input: a header of sizes and the child's place, then operations, each an opcode
// byte and its arguments; a number is a selector byte then, by the selector, a small
// value, an edge of int (INT_MIN, INT_MAX and their neighbours, +-2^15, +-2^27...) or
// four raw bytes. fuzz/gdi_seeds.py writes the seed corpus in this form.
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "visplatform.h"

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t raw() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
    return v;
  }
  int number() {
    static const int kEdges[] = {INT_MIN,     INT_MIN + 1,  INT_MIN + 91, INT_MAX,  INT_MAX - 1,
                                 INT_MAX - 91, -(1 << 15),  1 << 15,      -(1 << 27), 1 << 27,
                                 -(1 << 30),  1 << 30,      16384,        32768,    -32768};
    const uint8_t selector = byte();
    if (selector < 160) return static_cast<int>(selector) - 40;  // -40..119: on the surface
    if (selector < 200) return static_cast<int>(byte()) * 4 - 512;
    if (selector < 240) return kEdges[(selector - 200) % (sizeof kEdges / sizeof kEdges[0])];
    return static_cast<int>(raw());
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

LRESULT CALLBACK quietProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // No painting of its own: the only writes into the window are the input's.
  if (message == WM_ERASEBKGND || message == WM_PAINT) {
    if (message == WM_PAINT) {
      PAINTSTRUCT ps;
      if (BeginPaint(window, &ps)) EndPaint(window, &ps);
    }
    return 1;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

constexpr uint32_t kMarker = 0x00A5A5A5;
constexpr int kHandles = 8;
HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x6770000));

[[noreturn]] void finding(const char* what) {
  fprintf(stderr, "gdi_fuzz: %s\n", what);
  abort();
}

struct Session {
  HWND top = nullptr, child = nullptr;
  int topWidth = 0, topHeight = 0;
  HDC memDc = nullptr, windowDc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ originalBitmap = nullptr;
  HGDIOBJ handles[kHandles] = {};  // pens and brushes the input made (maybe deleted)
  std::vector<bool> allowed;       // top-level pixels the child has covered

  // The child's visible part of the top level, as it stands now, becomes writable.
  void allowChild() {
    VisPixels top_, mine;
    if (!visWindowPixels(top, &top_) || !visWindowPixels(child, &mine)) return;
    const ptrdiff_t offset = mine.pixels - top_.pixels;
    const int left = static_cast<int>(offset % top_.stride), topRow = static_cast<int>(offset / top_.stride);
    for (int y = 0; y < mine.height; ++y) {
      for (int x = 0; x < mine.width; ++x) allowed[static_cast<size_t>(topRow + y) * topWidth + left + x] = true;
    }
  }

  HDC dcOf(uint8_t choice) { return choice & 1 ? windowDc : memDc; }

  HGDIOBJ objectOf(uint8_t choice) {
    if (choice < 2 * kHandles) return handles[choice % kHandles];
    switch (choice % 5) {
      case 0: return GetStockObject(NULL_PEN);
      case 1: return GetStockObject(NULL_BRUSH);
      case 2: return GetStockObject(BLACK_PEN);
      case 3: return GetStockObject(WHITE_BRUSH);
      default: return bitmap;
    }
  }

  void keep(HGDIOBJ object, uint8_t choice) {
    HGDIOBJ& slot = handles[choice % kHandles];
    if (slot) DeleteObject(slot);  // an earlier object leaves the table (deferred if selected)
    slot = object;
  }
};

void run(Session& s, Input& in) {
  for (int ops = 0; ops < 400 && !in.empty(); ++ops) {
    const uint8_t op = in.byte() % 16;
    switch (op) {
      case 0: {
        const uint8_t style = in.byte();
        const int width = in.number();
        const COLORREF color = in.raw();
        const uint8_t slot = in.byte();
        s.keep(CreatePen(style & 1 ? PS_NULL : style & 2 ? static_cast<int>(style) : PS_SOLID, width, color),
               slot);
        break;
      }
      case 1: {
        const COLORREF color = in.raw();
        const uint8_t slot = in.byte();
        s.keep(CreateSolidBrush(color), slot);
        break;
      }
      case 2: {
        const uint8_t dc = in.byte();
        SelectObject(s.dcOf(dc), s.objectOf(in.byte()));
        break;
      }
      case 3: {
        // Deleting an object the table still names: later uses of it must fail cleanly.
        const uint8_t choice = in.byte();
        DeleteObject(s.objectOf(choice % kHandles));
        break;
      }
      case 4: {
        const uint8_t dc = in.byte();
        const int x = in.number(), y = in.number();
        POINT previous;
        MoveToEx(s.dcOf(dc), x, y, &previous);
        break;
      }
      case 5: {
        const uint8_t dc = in.byte();
        const int x = in.number(), y = in.number();
        LineTo(s.dcOf(dc), x, y);
        break;
      }
      case 6:
      case 7: {
        const uint8_t dc = in.byte();
        const int l = in.number(), t = in.number(), r = in.number(), b = in.number();
        if (op == 6) {
          Ellipse(s.dcOf(dc), l, t, r, b);
        } else {
          Rectangle(s.dcOf(dc), l, t, r, b);
        }
        break;
      }
      case 8: {
        const uint8_t dc = in.byte();
        const int count = in.byte() % 80;
        std::vector<POINT> points(count);
        for (POINT& p : points) p = {in.number(), in.number()};
        Polygon(s.dcOf(dc), points.data(), count);
        break;
      }
      case 9: {
        const uint8_t dc = in.byte();
        RECT r;
        r.left = in.number();
        r.top = in.number();
        r.right = in.number();
        r.bottom = in.number();
        FillRect(s.dcOf(dc), &r, static_cast<HBRUSH>(s.objectOf(in.byte())));
        break;
      }
      case 10: {
        const uint8_t dcs = in.byte();
        const int x = in.number(), y = in.number(), w = in.number(), h = in.number();
        const int sx = in.number(), sy = in.number();
        BitBlt(s.dcOf(dcs), x, y, w, h, s.dcOf(dcs >> 1), sx, sy, SRCCOPY);
        break;
      }
      case 11: {
        const uint8_t dc = in.byte();
        const int x = in.number(), y = in.number();
        GetPixel(s.dcOf(dc), x, y);
        break;
      }
      case 12: {
        // The child moves or changes size; its new place becomes writable.
        const int x = in.number(), y = in.number(), w = in.number(), h = in.number();
        SetWindowPos(s.child, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
        s.allowChild();
        break;
      }
      case 13: {
        // A new bitmap of a fuzzed size replaces the memory DC's.
        const int w = in.byte() % 200, h = in.byte() % 200;
        HBITMAP fresh = CreateBitmap(w, h, 1, 32, nullptr);
        if (fresh && SelectObject(s.memDc, fresh)) {
          DeleteObject(s.bitmap);
          s.bitmap = fresh;
        } else if (fresh) {
          DeleteObject(fresh);
        }
        break;
      }
      case 14: {
        // The window DC is released and taken again.
        ReleaseDC(s.child, s.windowDc);
        s.windowDc = GetDC(s.child);
        break;
      }
      default: {
        // Messages the window system paints with: the child repaints itself.
        InvalidateRect(s.child, nullptr, TRUE);
        MSG msg;
        for (int i = 0; i < 8 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) DispatchMessageA(&msg);
        break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  Session s;
  s.topWidth = 1 + in.byte() % 160;
  s.topHeight = 1 + in.byte() % 120;
  const int bitmapWidth = in.byte() % 200, bitmapHeight = in.byte() % 200;
  const int childX = in.number(), childY = in.number(), childW = in.number(), childH = in.number();

  WNDCLASSA wc = {};
  wc.lpfnWndProc = quietProc;
  wc.hInstance = kInstance;
  wc.lpszClassName = "GdiFuzz";
  if (!RegisterClassA(&wc)) finding("RegisterClassA failed");
  s.top = CreateWindowExA(0, "GdiFuzz", "", WS_POPUP | WS_VISIBLE, 0, 0, s.topWidth, s.topHeight,
                          nullptr, nullptr, kInstance, nullptr);
  s.child = CreateWindowExA(0, "GdiFuzz", "", WS_CHILD | WS_VISIBLE, childX, childY, childW, childH,
                            s.top, nullptr, kInstance, nullptr);
  if (!s.top || !s.child) finding("CreateWindowExA failed");
  VisPixels top;
  if (!visWindowPixels(s.top, &top)) finding("the top level has no pixels");
  for (int i = 0; i < top.height * top.stride; ++i) top.pixels[i] = kMarker;
  s.allowed.assign(static_cast<size_t>(s.topWidth) * s.topHeight, false);
  s.allowChild();

  s.memDc = CreateCompatibleDC(nullptr);
  s.bitmap = CreateBitmap(bitmapWidth, bitmapHeight, 1, 32, nullptr);
  s.originalBitmap = SelectObject(s.memDc, s.bitmap);
  s.windowDc = GetDC(s.child);

  run(s, in);

  // Pixels outside every place the child has been must be untouched.
  if (!visWindowPixels(s.top, &top)) finding("the top level lost its pixels");
  for (int y = 0; y < s.topHeight; ++y) {
    for (int x = 0; x < s.topWidth; ++x) {
      if (!s.allowed[static_cast<size_t>(y) * s.topWidth + x] &&
          top.pixels[static_cast<ptrdiff_t>(y) * top.stride + x] != kMarker) {
        fprintf(stderr, "pixel (%d, %d) of the top level written outside the child\n", x, y);
        finding("a window DC wrote outside its window");
      }
    }
  }

  // Clean up as a careful caller does: stock objects back in, then every handle out.
  for (HDC dc : {s.memDc, s.windowDc}) {
    SelectObject(dc, GetStockObject(BLACK_PEN));
    SelectObject(dc, GetStockObject(WHITE_BRUSH));
  }
  for (HGDIOBJ& h : s.handles) {
    if (h) DeleteObject(h);
  }
  SelectObject(s.memDc, s.originalBitmap);
  DeleteObject(s.bitmap);
  DeleteDC(s.memDc);
  ReleaseDC(s.child, s.windowDc);
  DestroyWindow(s.top);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  UnregisterClassA("GdiFuzz", kInstance);

  for (DWORD type : {OBJ_PEN, OBJ_BRUSH, OBJ_BITMAP, OBJ_DC, OBJ_MEMDC}) {
    if (visLiveObjectCount(type) != 0) {
      fprintf(stderr, "%d objects of type %u left alive\n", visLiveObjectCount(type), type);
      finding("an object outlived the session");
    }
  }
  if (visLiveWindowCount() != 0) finding("a window outlived the session");
  return 0;
}
