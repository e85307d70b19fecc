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

// Window positions are any 32-bit values, so sums and differences of them are taken
// in 64 bits and brought back saturated: what lies beyond the 32-bit range is outside
// every buffer and every window anyway, so clipping is unchanged.
LONG saturated(int64_t v) {
  return static_cast<LONG>(std::min<int64_t>(std::max<int64_t>(v, INT32_MIN), INT32_MAX));
}

bool resolveTarget(HWND handle, RasterTarget* out) {
  Window* w = findWindow(handle);
  if (!w || !reallyVisible(w)) return false;
  int offsetX, offsetY;
  Window* top = topLevelOf(w, &offsetX, &offsetY);
  if (top->pixels.empty()) return false;
  int64_t left = offsetX, top64 = offsetY;
  int64_t right = left + w->width, bottom = top64 + w->height;
  // Each ancestor's client area, in the top level's coordinates, narrows the clip.
  int64_t ax = offsetX, ay = offsetY;
  for (Window* a = w; a->parent; a = a->parent) {
    ax -= a->x;
    ay -= a->y;
    const Window* p = a->parent;
    left = std::max(left, ax);
    top64 = std::max(top64, ay);
    right = std::min(right, ax + p->width);
    bottom = std::min(bottom, ay + p->height);
  }
  const RECT clip = {saturated(std::max<int64_t>(left, 0)), saturated(std::max<int64_t>(top64, 0)),
                     saturated(std::min<int64_t>(right, top->width)),
                     saturated(std::min<int64_t>(bottom, top->height))};
  if (clip.left >= clip.right || clip.top >= clip.bottom) return false;
  *out = {top->pixels.data(), top->width, top->height, top->width, offsetX, offsetY, clip};
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
    const RECT inChild = {saturated(int64_t{area.left} - child->x),
                          saturated(int64_t{area.top} - child->y),
                          saturated(int64_t{area.right} - child->x),
                          saturated(int64_t{area.bottom} - child->y)};
    invalidate(child, &inChild, erase, true);
  }
  wakeQueue(w->queue.get());
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
  int offsetX, offsetY;
  Window* top = topLevelOf(w, &offsetX, &offsetY);
  if (top->pixels.empty()) return FALSE;
  if (w == top) {
    *out = {top->pixels.data(), top->width, top->height, top->width};
    return TRUE;
  }
  // A child: the part of the top level's buffer that it covers.
  const int left = std::max(offsetX, 0), top_ = std::max(offsetY, 0);
  const int right = saturated(std::min<int64_t>(int64_t{offsetX} + w->width, top->width));
  const int bottom = saturated(std::min<int64_t>(int64_t{offsetY} + w->height, top->height));
  if (left >= right || top_ >= bottom) return FALSE;
  *out = {top->pixels.data() + static_cast<ptrdiff_t>(top_) * top->width + left, right - left,
          bottom - top_, top->width};
  return TRUE;
}

}  // extern "C"
