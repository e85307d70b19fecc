// Window DCs and painting of the portable USER32: GetDC and ReleaseDC, BeginPaint and
// EndPaint, InvalidateRect and UpdateWindow, and the hooks through which the GDI
// layer finds a window DC's pixels and a window's trace id.
//
// A window DC draws into its top-level window's pixel buffer, translated by the
// window's offset inside the top level and clipped to the window's client area and
// those of its ancestors. It does not clip away children or siblings
// (WS_CLIPCHILDREN and WS_CLIPSIBLINGS are not honoured), and a paint DC is clipped
// to the client area rather than to the update region; a hidden window's DC draws
// nothing, as on Windows. The update region is kept as one bounding rectangle.
#include <algorithm>

#include "../gdi/gdi_internal.h"
#include "../visplatform.h"
#include "window_internal.h"

namespace vis {
namespace user {
namespace {

bool resolveTarget(HWND handle, RasterTarget* out) {
  Window* w = findWindow(handle);
  if (!w || !reallyVisible(w)) return false;
  int64_t offsetX, offsetY;
  Window* top = topLevelOf(w, &offsetX, &offsetY);
  if (!top->hasPixels()) return false;
  // In 64 bits: positions and sizes are any ints, and their sums are not.
  int64_t left = offsetX, topEdge = offsetY, right = offsetX + w->width, bottom = offsetY + w->height;
  // Each ancestor's client area, in the top level's coordinates, narrows the clip.
  int64_t ax = offsetX, ay = offsetY;
  for (Window* a = w; a->parent; a = a->parent) {
    ax -= a->x;
    ay -= a->y;
    const Window* p = a->parent;
    left = std::max<int64_t>(left, ax);
    topEdge = std::max<int64_t>(topEdge, ay);
    right = std::min<int64_t>(right, ax + p->width);
    bottom = std::min<int64_t>(bottom, ay + p->height);
  }
  left = std::max<int64_t>(left, 0);
  topEdge = std::max<int64_t>(topEdge, 0);
  right = std::min<int64_t>(right, top->width);
  bottom = std::min<int64_t>(bottom, top->height);
  if (left >= right || topEdge >= bottom) return false;
  // A window that shows part of itself starts less than its width before the top
  // level's left edge and before its right edge, so its offset fits an int.
  const RECT clip = {static_cast<LONG>(left), static_cast<LONG>(topEdge), static_cast<LONG>(right),
                     static_cast<LONG>(bottom)};
  *out = {top->pixelData(), top->width, top->height, top->pixelStride(), static_cast<int>(offsetX),
          static_cast<int>(offsetY), clip};
  return true;
}

unsigned windowId(HWND handle, int* clientWidth, int* clientHeight) {
  Window* w = findWindow(handle);
  if (!w) {
    *clientWidth = *clientHeight = 0;  // the screen, whose size this layer does not fix
    return 0;
  }
  *clientWidth = w->width;
  *clientHeight = w->height;
  return w->traceId;
}

// A window DC whose creation or release writes its own trace line, not GetDC's.
HDC quietWindowDC(HWND handle) {
  const bool was = traceOn;
  traceOn = false;
  HDC dc = createWindowDC(handle);
  traceOn = was;
  return dc;
}

bool quietReleaseDC(HWND handle, HDC dc) {
  const bool was = traceOn;
  traceOn = false;
  const bool released = releaseWindowDC(handle, dc);
  traceOn = was;
  return released;
}

void unionRect(RECT* into, const RECT& add) {
  into->left = std::min(into->left, add.left);
  into->top = std::min(into->top, add.top);
  into->right = std::max(into->right, add.right);
  into->bottom = std::max(into->bottom, add.bottom);
}

}  // namespace

void installGdiHooks() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  setWindowTargetResolver(resolveTarget);
  setWindowIdFn(windowId);
}

void invalidate(Window* w, const RECT* rect, bool erase, bool children) {
  RECT area = rect ? *rect : RECT{0, 0, w->width, w->height};
  area.left = std::max<LONG>(area.left, 0);
  area.top = std::max<LONG>(area.top, 0);
  area.right = std::min<LONG>(area.right, w->width);
  area.bottom = std::min<LONG>(area.bottom, w->height);
  if (area.left >= area.right || area.top >= area.bottom) return;
  if (w->updatePending) {
    unionRect(&w->update, area);
  } else {
    w->update = area;
    w->updatePending = true;
  }
  w->erasePending = w->erasePending || erase;
  if (!children) return;
  // What is invalidated in a parent that does not clip its children shows through
  // them, so they are invalidated where they overlap it.
  for (Window* child : w->children) {
    if (!(child->style & WS_VISIBLE)) continue;
    // The area in the child's coordinates, in 64 bits and then cut to the child (a
    // child far off its parent's client area does not overlap it).
    const int64_t l = std::max<int64_t>(int64_t{area.left} - child->x, 0);
    const int64_t t = std::max<int64_t>(int64_t{area.top} - child->y, 0);
    const int64_t r = std::min<int64_t>(int64_t{area.right} - child->x, child->width);
    const int64_t b = std::min<int64_t>(int64_t{area.bottom} - child->y, child->height);
    if (l >= r || t >= b) continue;
    const RECT inChild = {static_cast<LONG>(l), static_cast<LONG>(t), static_cast<LONG>(r),
                          static_cast<LONG>(b)};
    invalidate(child, &inChild, erase, true);
  }
}

}  // namespace user
}  // namespace vis

using namespace vis::user;

extern "C" {

HDC WINAPI GetDC(HWND handle) {
  installGdiHooks();
  if (handle && !findWindow(handle)) return nullptr;
  return vis::createWindowDC(handle);
}

int WINAPI ReleaseDC(HWND handle, HDC dc) { return vis::releaseWindowDC(handle, dc) ? 1 : 0; }

HDC WINAPI BeginPaint(HWND handle, LPPAINTSTRUCT paint) {
  installGdiHooks();
  Window* w = findWindow(handle);
  if (!w || !paint) return nullptr;
  HDC dc = quietWindowDC(handle);
  if (!dc) return nullptr;
  if (vis::traceOn) {
    vis::trace("#%u = BeginPaint w%u %d %d", vis::traceId(dc), w->traceId, w->width, w->height);
  }
  *paint = {};
  paint->hdc = dc;
  paint->rcPaint = w->updatePending ? w->update : RECT{0, 0, 0, 0};
  const bool erase = w->erasePending;
  w->updatePending = false;  // BeginPaint validates the update region
  w->erasePending = false;
  // The background is erased through WM_ERASEBKGND; a procedure that answers 0 has
  // left it to the painter, which fErase tells.
  paint->fErase = erase ? TRUE : FALSE;
  if (erase && SendMessageA(handle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0)) {
    paint->fErase = FALSE;
  }
  return dc;
}

BOOL WINAPI EndPaint(HWND handle, const PAINTSTRUCT* paint) {
  if (!paint) return FALSE;
  Window* w = findWindow(handle);
  if (vis::traceOn) {
    vis::trace("EndPaint w%u #%u", w ? w->traceId : 0, vis::traceId(paint->hdc));
  }
  quietReleaseDC(handle, paint->hdc);
  return TRUE;
}

BOOL WINAPI InvalidateRect(HWND handle, const RECT* rect, BOOL erase) {
  if (!handle) {
    // Every window: here, those of the calling thread.
    std::vector<Window*> windows;
    windowsOfThisThread(&windows);
    for (Window* w : windows) invalidate(w, nullptr, erase != FALSE, false);
    return TRUE;
  }
  Window* w = findWindow(handle);
  if (!w) return FALSE;
  invalidate(w, rect, erase != FALSE, !(w->style & WS_CLIPCHILDREN));
  return TRUE;
}

BOOL WINAPI UpdateWindow(HWND handle) {
  Window* w = findWindow(handle);
  if (!w) return FALSE;
  // The window, then its children, each painted now if it has something to repaint.
  std::vector<HWND> order;
  struct Walk {
    static void add(Window* w, std::vector<HWND>* out) {
      out->push_back(w->handle);
      for (Window* child : w->children) add(child, out);
    }
  };
  Walk::add(w, &order);
  for (HWND h : order) {
    Window* target = findWindow(h);
    if (target && target->updatePending && reallyVisible(target)) {
      SendMessageA(h, WM_PAINT, 0, 0);
    }
  }
  return TRUE;
}

BOOL visWindowPixels(HWND handle, VisPixels* out) {
  Window* w = findWindow(handle);
  if (!w || !out) return FALSE;
  int64_t offsetX, offsetY;
  Window* top = topLevelOf(w, &offsetX, &offsetY);
  if (!top->hasPixels()) return FALSE;
  if (w == top) {
    *out = {top->pixelData(), top->width, top->height, top->pixelStride()};
    return TRUE;
  }
  // A child: the part of the top level's buffer that it covers.
  // Compared in 64 bits: a grandchild's offset may lie beyond the 32-bit range, and
  // only a part that overlaps the buffer is brought back to int.
  const int64_t left64 = std::max<int64_t>(offsetX, 0);
  const int64_t top64 = std::max<int64_t>(offsetY, 0);
  const int64_t right64 = std::min<int64_t>(offsetX + w->width, top->width);
  const int64_t bottom64 = std::min<int64_t>(offsetY + w->height, top->height);
  if (left64 >= right64 || top64 >= bottom64) return FALSE;
  const int left = static_cast<int>(left64), top_ = static_cast<int>(top64);
  const int right = static_cast<int>(right64), bottom = static_cast<int>(bottom64);
  *out = {top->pixelData() + static_cast<ptrdiff_t>(top_) * top->pixelStride() + left, right - left,
          bottom - top_, top->pixelStride()};
  return TRUE;
}

BOOL visLendWindowPixels(HWND handle, uint32_t* pixels, int width, int height, int stride) {
  Window* w = findWindow(handle);
  if (!w || w->parent) return FALSE;
  const size_t count = static_cast<size_t>(w->width) * static_cast<size_t>(w->height);
  if (!pixels) {
    if (!w->lent) return TRUE;
    // Back to a buffer of the layer's own, with what the lent memory holds.
    std::vector<uint32_t> own(count);
    for (int y = 0; y < w->height; ++y) {
      std::copy_n(w->lent + static_cast<ptrdiff_t>(y) * w->lentStride, w->width,
                  own.begin() + static_cast<ptrdiff_t>(y) * w->width);
    }
    w->pixels.swap(own);
    w->lent = nullptr;
    w->lentStride = 0;
    return TRUE;
  }
  if (width != w->width || height != w->height || stride < width || count == 0) return FALSE;
  if (pixels == w->lent && stride == w->lentStride) return TRUE;
  // The window's pixels move into the lent memory as they are.
  const uint32_t* from = w->pixelData();
  const ptrdiff_t fromStride = w->pixelStride();
  for (int y = 0; y < height; ++y) {
    std::copy_n(from + static_cast<ptrdiff_t>(y) * fromStride, width,
                pixels + static_cast<ptrdiff_t>(y) * stride);
  }
  w->lent = pixels;
  w->lentStride = stride;
  std::vector<uint32_t>().swap(w->pixels);
  return TRUE;
}

}  // extern "C"
