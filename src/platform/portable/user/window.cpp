// Windows and window classes of the portable USER32: registration, creation and
// destruction with Win32's message order, the default window procedure, text, the
// user-data slot, geometry (SetWindowPos, MoveWindow, ShowWindow) and the foreground.
//
// The order of messages follows what Windows sends and Wine's message tests record:
//   CreateWindowExA: WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE, and for WS_VISIBLE
//     then WM_SHOWWINDOW, and WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED unless the
//     parent is hidden;
//   SetWindowPos: WM_WINDOWPOSCHANGING, then, if anything changed,
//     WM_WINDOWPOSCHANGED, whose default processing sends WM_SIZE when the size
//     changed and WM_MOVE when the position did;
//   DestroyWindow: hide if visible, owned windows first, WM_DESTROY to the window and
//     then to its children (all of them still alive), then WM_NCDESTROY children first.
// What is not here: non-client areas, menus, focus and activation messages, z-order
// beyond creation order, WM_PARENTNOTIFY, window regions and sibling clipping.
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <map>

#include "../visplatform.h"
#include "window_internal.h"

namespace vis {
namespace user {
namespace {

constexpr int kDefaultWidth = 640;   // CW_USEDEFAULT size of a top-level window
constexpr int kDefaultHeight = 480;
constexpr int64_t kMaxPixels = int64_t{1} << 26;  // a buffer larger than this fails

// Registered classes get atoms from 0xC000 up, as on Windows; an unregistered class's
// atom is free again, so a host that registers and unregisters a class at every
// start never runs out.
constexpr ATOM kFirstAtom = 0xC000;

// Everything the window system knows, for one thread (see window_internal.h).
struct Registry {
  std::map<uintptr_t, std::unique_ptr<Window>> windows;
  std::vector<std::unique_ptr<WindowClass>> classes;
  std::vector<Window*> topLevels;  // creation order
  ATOM nextAtom = kFirstAtom;  // the next atom to try
  HWND foreground = nullptr;
  ThreadQueue queue;
};

// Window serials of the whole process, so that no two threads' handles are equal
// (an atomic counter, not a lock).
std::atomic<unsigned> nextSerial{1};

// The calling thread's registry. The pointer is trivially destructible, so it stays
// readable while the thread's other thread_locals are destroyed; the reaper frees the
// registry with the thread (its windows go with it, as Windows destroys a thread's
// windows when it ends), and a call after that finds a fresh, empty one.
thread_local Registry* threadRegistry = nullptr;
thread_local bool reaped = false;
struct Reaper {
  ~Reaper() {
    delete threadRegistry;
    threadRegistry = nullptr;
    reaped = true;
  }
};
thread_local Reaper reaper;

Registry& registry() {
  if (!threadRegistry) {
    threadRegistry = new Registry;
    if (!reaped) (void)&reaper;  // registers the reaper for this thread
  }
  return *threadRegistry;
}

HWND handleFromSerial(unsigned serial) {
  // Even values, as Windows' own handles are, and never 0; a handle is never reused.
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x10000u + 2u * serial));
}

bool sameName(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

bool isAtom(LPCSTR name) { return reinterpret_cast<uintptr_t>(name) < 0x10000u; }

// Called with the lists locked.
WindowClass* findClass(LPCSTR name, HINSTANCE instance, bool exactInstance) {
  if (!name) return nullptr;
  Registry& r = registry();
  for (auto& c : r.classes) {
    const bool nameMatches = isAtom(name)
                                 ? c->atom == static_cast<ATOM>(reinterpret_cast<uintptr_t>(name))
                                 : sameName(c->name, name);
    if (nameMatches && c->instance == instance) return c.get();
  }
  if (exactInstance) return nullptr;
  // A window may name a class registered by another module of the process, as
  // Windows finds a class registered by any module when none of the caller's matches.
  for (auto& c : r.classes) {
    const bool nameMatches = isAtom(name)
                                 ? c->atom == static_cast<ATOM>(reinterpret_cast<uintptr_t>(name))
                                 : sameName(c->name, name);
    if (nameMatches) return c.get();
  }
  return nullptr;
}

// Sends to a window if it still exists; the procedure may destroy windows.
LRESULT sendIfAlive(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* w = findWindow(handle);
  return w ? callProc(w, message, wParam, lParam) : 0;
}

// A resized window keeps what its old pixels and new size share, in a buffer of the
// layer's own: memory a host lent was of the old size, and goes back to the host.
void resizePixels(Window* w, int oldWidth, int oldHeight) {
  if (w->parent) return;
  std::vector<uint32_t> fresh(static_cast<size_t>(w->width) * static_cast<size_t>(w->height), 0u);
  const int rows = std::min(oldHeight, w->height), cols = std::min(oldWidth, w->width);
  const uint32_t* old = w->pixelData();
  const ptrdiff_t oldStride = w->lent ? w->lentStride : oldWidth;
  for (int y = 0; y < rows; ++y) {
    std::copy_n(old + static_cast<ptrdiff_t>(y) * oldStride, cols,
                fresh.begin() + static_cast<ptrdiff_t>(y) * w->width);
  }
  w->pixels.swap(fresh);
  w->lent = nullptr;
  w->lentStride = 0;
}

int clampSize(int size) { return size < 0 ? 0 : size; }

bool sizeAllowed(int width, int height) {
  return static_cast<int64_t>(width) * height <= kMaxPixels;
}

// The core of SetWindowPos, MoveWindow, ShowWindow and creation.
BOOL positionWindow(Window* w, int x, int y, int cx, int cy, UINT flags) {
  const HWND handle = w->handle;
  WINDOWPOS pos = {handle, nullptr, x, y, clampSize(cx), clampSize(cy), flags};
  if (flags & SWP_NOMOVE) {
    pos.x = w->x;
    pos.y = w->y;
  }
  if (flags & SWP_NOSIZE) {
    pos.cx = w->width;
    pos.cy = w->height;
  }
  if (!(flags & SWP_NOSENDCHANGING)) {
    // The procedure may change the position, size and flags it is offered.
    SendMessageA(handle, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
    w = findWindow(handle);
    if (!w) return FALSE;
    pos.cx = clampSize(pos.cx);
    pos.cy = clampSize(pos.cy);
  }
  // Showing what is shown, or hiding what is hidden, is no change.
  if (w->style & WS_VISIBLE) pos.flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
  if (!(w->style & WS_VISIBLE)) pos.flags &= ~static_cast<UINT>(SWP_HIDEWINDOW);
  const bool moved = !(pos.flags & SWP_NOMOVE) && (pos.x != w->x || pos.y != w->y);
  const bool sized = !(pos.flags & SWP_NOSIZE) && (pos.cx != w->width || pos.cy != w->height);
  if (sized && !w->parent && !sizeAllowed(pos.cx, pos.cy)) return FALSE;
  const bool wasVisible = reallyVisible(w);

  if (w->parent && (moved || sized || (pos.flags & SWP_HIDEWINDOW))) {
    invalidate(w->parent, nullptr, true, true);  // what the child uncovered
  }
  if (moved) {
    w->x = pos.x;
    w->y = pos.y;
  }
  if (sized) {
    const int oldWidth = w->width, oldHeight = w->height;
    w->width = pos.cx;
    w->height = pos.cy;
    resizePixels(w, oldWidth, oldHeight);
  }
  if (pos.flags & SWP_SHOWWINDOW) w->style |= WS_VISIBLE;
  if (pos.flags & SWP_HIDEWINDOW) w->style &= ~static_cast<DWORD>(WS_VISIBLE);
  // A window that changed size or came into view is repainted whole, as a window
  // of a CS_HREDRAW | CS_VREDRAW class is.
  if (!(pos.flags & SWP_NOREDRAW) && (moved || sized || (!wasVisible && reallyVisible(w)))) {
    invalidate(w, nullptr, true, true);
  }

  // Nothing moved, sized, shown or hidden: Windows sends no WM_WINDOWPOSCHANGED.
  if (!moved && !sized && !(pos.flags & (SWP_SHOWWINDOW | SWP_HIDEWINDOW))) return TRUE;
  if (!moved) pos.flags |= SWP_NOCLIENTMOVE;
  if (!sized) pos.flags |= SWP_NOCLIENTSIZE;
  pos.x = w->x;
  pos.y = w->y;
  pos.cx = w->width;
  pos.cy = w->height;
  SendMessageA(handle, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
  return TRUE;
}

BOOL showWindow(Window* w, bool show) {
  const bool wasVisible = (w->style & WS_VISIBLE) != 0;
  if (show == wasVisible) return wasVisible;
  const HWND handle = w->handle;
  SendMessageA(handle, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
  w = findWindow(handle);
  if (!w) return wasVisible;
  if (w->parent && !reallyVisible(w->parent)) {
    // Nothing on screen changes under a hidden parent: the style flips, and no
    // WM_WINDOWPOSCHANGING follows (so a child created visible in a hidden frame gets
    // WM_SHOWWINDOW alone).
    if (show) {
      w->style |= WS_VISIBLE;
    } else {
      w->style &= ~static_cast<DWORD>(WS_VISIBLE);
    }
    return wasVisible;
  }
  positionWindow(w, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE |
                     (show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
  return wasVisible;
}

void collectSubtree(Window* w, std::vector<HWND>* out) {
  out->push_back(w->handle);
  for (Window* child : w->children) collectSubtree(child, out);
}

// Unlinks and frees one window whose WM_NCDESTROY has been sent.
void freeWindow(Window* w) {
  Registry& r = registry();
  purgeMessages(w);
  if (w->parent) {
    auto& siblings = w->parent->children;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), w), siblings.end());
  } else {
    r.topLevels.erase(std::remove(r.topLevels.begin(), r.topLevels.end(), w), r.topLevels.end());
  }
  if (w->windowClass) --w->windowClass->windows;
  if (r.foreground == w->handle) r.foreground = nullptr;
  r.windows.erase(reinterpret_cast<uintptr_t>(w->handle));
}

// Sends WM_NCDESTROY to the subtree, children first, freeing each window after it.
void finishDestroy(HWND handle) {
  Window* w = findWindow(handle);
  if (!w) return;
  std::vector<HWND> children;
  for (Window* child : w->children) children.push_back(child->handle);
  for (HWND child : children) finishDestroy(child);
  w = findWindow(handle);
  if (!w) return;
  callProc(w, WM_NCDESTROY, 0, 0);
  w = findWindow(handle);
  if (w) freeWindow(w);
}

// Sends WM_DESTROY to the window, then to each child, all of them still alive.
void sendDestroy(HWND handle) {
  Window* w = findWindow(handle);
  if (!w) return;
  callProc(w, WM_DESTROY, 0, 0);
  w = findWindow(handle);
  if (!w) return;
  std::vector<HWND> children;
  for (Window* child : w->children) children.push_back(child->handle);
  for (HWND child : children) sendDestroy(child);
}

}  // namespace

Window* findWindow(HWND handle) {
  if (!handle) return nullptr;
  Registry& r = registry();
  auto it = r.windows.find(reinterpret_cast<uintptr_t>(handle));
  return it == r.windows.end() ? nullptr : it->second.get();
}

ThreadQueue& currentQueue() { return registry().queue; }

LRESULT callProc(Window* w, UINT message, WPARAM wParam, LPARAM lParam) {
  return w->proc ? w->proc(w->handle, message, wParam, lParam)
                 : DefWindowProcA(w->handle, message, wParam, lParam);
}

void windowsOfThisThread(std::vector<Window*>* out) {
  out->clear();
  struct Walk {
    static void add(Window* w, std::vector<Window*>* out) {
      out->push_back(w);
      for (Window* child : w->children) add(child, out);
    }
  };
  for (Window* top : registry().topLevels) Walk::add(top, out);
}

bool reallyVisible(const Window* w) {
  for (; w; w = w->parent) {
    if (!(w->style & WS_VISIBLE)) return false;
  }
  return true;
}

Window* topLevelOf(Window* w, int64_t* offsetX, int64_t* offsetY) {
  int64_t x = 0, y = 0;
  while (w->parent) {
    x += w->x;
    y += w->y;
    w = w->parent;
  }
  *offsetX = x;
  *offsetY = y;
  return w;
}

}  // namespace user
}  // namespace vis

using namespace vis::user;

extern "C" {

// ---- Classes -----------------------------------------------------------------------

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
  if (!wc || !wc->lpszClassName || isAtom(wc->lpszClassName) || !wc->lpszClassName[0]) return 0;
  if (wc->cbClsExtra < 0 || wc->cbWndExtra < 0) return 0;
  Registry& r = registry();
  // Windows refuses a second class of the same name for the same module.
  if (findClass(wc->lpszClassName, wc->hInstance, true)) return 0;
  // The next atom no class holds, searching on from the last one given.
  const unsigned atomCount = 0x10000u - kFirstAtom;
  ATOM atom = 0;
  for (unsigned tried = 0; tried < atomCount && !atom; ++tried) {
    const ATOM candidate = r.nextAtom;
    r.nextAtom = candidate == 0xFFFF ? kFirstAtom : static_cast<ATOM>(candidate + 1);
    const bool taken = std::any_of(r.classes.begin(), r.classes.end(),
                                   [candidate](const std::unique_ptr<WindowClass>& c) { return c->atom == candidate; });
    if (!taken) atom = candidate;
  }
  if (!atom) return 0;  // every atom is held
  auto c = std::make_unique<WindowClass>();
  c->name = wc->lpszClassName;
  c->instance = wc->hInstance;
  c->proc = wc->lpfnWndProc;
  c->style = wc->style;
  c->background = wc->hbrBackground;
  c->atom = atom;
  c->windows = 0;
  r.classes.push_back(std::move(c));
  return atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR name, HINSTANCE instance) {
  Registry& r = registry();
  WindowClass* c = findClass(name, instance, true);
  if (!c || c->windows > 0) return FALSE;  // ERROR_CLASS_HAS_WINDOWS keeps it
  auto& classes = r.classes;
  classes.erase(std::find_if(classes.begin(), classes.end(),
                             [c](const std::unique_ptr<WindowClass>& p) { return p.get() == c; }));
  return TRUE;
}

// ---- Creation and destruction --------------------------------------------------------

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style,
                            int x, int y, int width, int height, HWND parentHandle, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
  installGdiHooks();
  Window* parent = nullptr;
  HWND owner = nullptr;
  if (style & WS_CHILD) {
    parent = findWindow(parentHandle);
    if (!parent || parent->destroying) return nullptr;  // a child needs a live parent
  } else if (parentHandle) {
    Window* p = findWindow(parentHandle);
    if (!p) return nullptr;
    int64_t ox, oy;
    owner = topLevelOf(p, &ox, &oy)->handle;  // the owner of a top level is a top level
  }
  // CW_USEDEFAULT: a child gets 0; a top level the screen's corner and a default size
  // (Windows cascades them; one place serves a host that shows one window).
  if (x == CW_USEDEFAULT) x = y = 0;
  if (width == CW_USEDEFAULT) {
    width = parent ? 0 : kDefaultWidth;
    height = parent ? 0 : kDefaultHeight;
  }
  width = clampSize(width);
  height = clampSize(height);
  if (!parent && !sizeAllowed(width, height)) return nullptr;
  Registry& r = registry();
  WindowClass* c = findClass(className, instance, false);
  if (!c) return nullptr;
  ++c->windows;  // counted at once, so the class cannot go while this runs

  auto owned = std::make_unique<Window>();
  Window* w = owned.get();
  w->traceId = nextSerial++;
  w->handle = handleFromSerial(w->traceId);
  w->windowClass = c;
  w->proc = c->proc;
  w->style = style & ~static_cast<DWORD>(WS_VISIBLE);  // shown at the end if asked
  w->exStyle = exStyle;
  w->instance = instance;
  w->parent = parent;
  w->owner = owner;
  w->x = x;
  w->y = y;
  w->width = width;
  w->height = height;
  if (!parent) w->pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
  const HWND handle = w->handle;
  r.windows.emplace(reinterpret_cast<uintptr_t>(handle), std::move(owned));
  if (parent) {
    parent->children.push_back(w);
  } else {
    r.topLevels.push_back(w);
  }

  CREATESTRUCTA cs = {param, instance, menu, parentHandle, height, width, y, x,
                      static_cast<LONG>(style), windowName, className, exStyle};
  // A failed WM_NCCREATE or a WM_CREATE answered with -1 destroys the window with
  // WM_NCDESTROY only, as Wine does, and creation returns null.
  if (!callProc(w, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
    finishDestroy(handle);
    return nullptr;
  }
  if (!(w = findWindow(handle))) return nullptr;
  if (callProc(w, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    finishDestroy(handle);
    return nullptr;
  }
  if (!(w = findWindow(handle))) return nullptr;
  sendIfAlive(handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(w->width, w->height));
  if (!(w = findWindow(handle))) return nullptr;
  sendIfAlive(handle, WM_MOVE, 0, MAKELPARAM(w->x, w->y));
  if (!(w = findWindow(handle))) return nullptr;
  if (style & WS_VISIBLE) showWindow(w, true);
  return findWindow(handle) ? handle : nullptr;
}

BOOL WINAPI DestroyWindow(HWND handle) {
  Window* w = findWindow(handle);
  if (!w || w->destroying) return FALSE;
  if (w->style & WS_VISIBLE) {
    if (w->parent) {
      showWindow(w, false);
    } else {
      positionWindow(w, 0, 0, 0, 0,
                     SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (!(w = findWindow(handle)) || w->destroying) return TRUE;
  }
  // Owned top-level windows go first.
  std::vector<HWND> ownedWindows;
  for (Window* top : registry().topLevels) {
    if (top->owner == handle) ownedWindows.push_back(top->handle);
  }
  for (HWND o : ownedWindows) DestroyWindow(o);
  if (!(w = findWindow(handle)) || w->destroying) return TRUE;

  std::vector<HWND> subtree;
  collectSubtree(w, &subtree);
  for (HWND h : subtree) findWindow(h)->destroying = true;
  sendDestroy(handle);
  finishDestroy(handle);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND handle) { return findWindow(handle) ? TRUE : FALSE; }

HWND WINAPI GetParent(HWND handle) {
  Window* w = findWindow(handle);
  if (!w) return nullptr;
  if (w->parent) return w->parent->handle;
  return (w->style & WS_POPUP) ? w->owner : nullptr;
}

// ---- The default procedure ------------------------------------------------------------

LRESULT WINAPI DefWindowProcA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* w = findWindow(handle);
  if (!w) return 0;
  switch (message) {
    case WM_NCCREATE: {
      const CREATESTRUCTA* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
      if (cs && cs->lpszName) w->text = cs->lpszName;
      return TRUE;
    }
    case WM_SETTEXT:
      w->text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      return TRUE;
    case WM_GETTEXT: {
      char* out = reinterpret_cast<char*>(lParam);
      if (!out || wParam == 0) return 0;
      const size_t n = std::min(w->text.size(), static_cast<size_t>(wParam) - 1);
      memcpy(out, w->text.data(), n);
      out[n] = '\0';
      return static_cast<LRESULT>(n);
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      if (BeginPaint(handle, &ps)) EndPaint(handle, &ps);
      return 0;
    }
    case WM_ERASEBKGND: {
      HBRUSH brush = w->windowClass ? w->windowClass->background : nullptr;
      if (!brush) return 0;
      RECT client = {0, 0, w->width, w->height};
      FillRect(reinterpret_cast<HDC>(wParam), &client, brush);
      return 1;
    }
    case WM_WINDOWPOSCHANGED: {
      const WINDOWPOS* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
      if (!pos) return 0;
      if (!(pos->flags & SWP_NOCLIENTSIZE)) {
        SendMessageA(handle, WM_SIZE, SIZE_RESTORED, MAKELPARAM(w->width, w->height));
        if (!(w = findWindow(handle))) return 0;
      }
      if (!(pos->flags & SWP_NOCLIENTMOVE)) {
        SendMessageA(handle, WM_MOVE, 0, MAKELPARAM(w->x, w->y));
      }
      return 0;
    }
    case WM_CLOSE:
      DestroyWindow(handle);
      return 0;
    default:
      return 0;
  }
}

// ---- Text and the extra slots ------------------------------------------------------------

BOOL WINAPI SetWindowTextA(HWND handle, LPCSTR text) {
  if (!findWindow(handle)) return FALSE;
  return SendMessageA(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND handle, LPSTR text, int maxCount) {
  if (!text || maxCount <= 0) return 0;
  text[0] = '\0';
  if (!findWindow(handle)) return 0;
  return static_cast<int>(
      SendMessageA(handle, WM_GETTEXT, static_cast<WPARAM>(maxCount), reinterpret_cast<LPARAM>(text)));
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND handle, int index, LONG_PTR value) {
  Window* w = findWindow(handle);
  if (!w) return 0;
  LONG_PTR previous = 0;
  switch (index) {
    case GWLP_USERDATA:
      previous = w->userData;
      w->userData = value;
      return previous;
    case GWLP_WNDPROC:
      previous = reinterpret_cast<LONG_PTR>(w->proc);
      w->proc = reinterpret_cast<WNDPROC>(value);
      return previous;
    case GWL_STYLE:
      // WS_VISIBLE changes visibility directly, without messages, as on Windows.
      previous = static_cast<LONG>(w->style);
      w->style = static_cast<DWORD>(value);
      return previous;
    default:
      return 0;
  }
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND handle, int index) {
  Window* w = findWindow(handle);
  if (!w) return 0;
  switch (index) {
    case GWLP_USERDATA: return w->userData;
    case GWLP_WNDPROC: return reinterpret_cast<LONG_PTR>(w->proc);
    case GWL_STYLE: return static_cast<LONG>(w->style);
    default: return 0;
  }
}

// The 32-bit forms store and return 32 bits. A window procedure does not fit in a
// LONG where pointers are 64 bits wide, so GWL_WNDPROC fails there, as on Win64.
LONG WINAPI SetWindowLongA(HWND handle, int index, LONG value) {
  if (index == GWL_WNDPROC && sizeof(LONG_PTR) > sizeof(LONG)) return 0;
  return static_cast<LONG>(SetWindowLongPtrA(handle, index, value));
}

LONG WINAPI GetWindowLongA(HWND handle, int index) {
  if (index == GWL_WNDPROC && sizeof(LONG_PTR) > sizeof(LONG)) return 0;
  return static_cast<LONG>(GetWindowLongPtrA(handle, index));
}

// ---- Geometry ---------------------------------------------------------------------------

BOOL WINAPI GetClientRect(HWND handle, LPRECT rect) {
  Window* w = findWindow(handle);
  if (!w || !rect) return FALSE;
  *rect = {0, 0, w->width, w->height};
  return TRUE;
}

BOOL WINAPI GetWindowRect(HWND handle, LPRECT rect) {
  Window* w = findWindow(handle);
  if (!w || !rect) return FALSE;
  // Sums in 32-bit two's complement, as Windows' own coordinate arithmetic wraps: a
  // window placed near 2147483647 gets a wrapped right edge, whose right - left (taken
  // the same way) is still its width, rather than an undefined signed overflow.
  uint32_t left = 0, top = 0;
  for (Window* p = w; p; p = p->parent) {
    left += static_cast<uint32_t>(p->x);
    top += static_cast<uint32_t>(p->y);
  }
  *rect = {static_cast<LONG>(left), static_cast<LONG>(top),
           static_cast<LONG>(left + static_cast<uint32_t>(w->width)),
           static_cast<LONG>(top + static_cast<uint32_t>(w->height))};
  return TRUE;
}

BOOL WINAPI SetWindowPos(HWND handle, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  Window* w = findWindow(handle);
  if (!w) return FALSE;
  // Only what the flags ask: showing and hiding go through the same path as a move.
  return positionWindow(w, x, y, cx, cy, flags);
}

BOOL WINAPI MoveWindow(HWND handle, int x, int y, int width, int height, BOOL repaint) {
  return SetWindowPos(handle, nullptr, x, y, width, height,
                      SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0 : SWP_NOREDRAW));
}

BOOL WINAPI ShowWindow(HWND handle, int command) {
  Window* w = findWindow(handle);
  if (!w) return FALSE;
  // Every command but SW_HIDE shows; there is no minimised or maximised state.
  return showWindow(w, command != SW_HIDE);
}

BOOL WINAPI IsWindowVisible(HWND handle) {
  Window* w = findWindow(handle);
  return w && reallyVisible(w) ? TRUE : FALSE;
}

BOOL WINAPI SetForegroundWindow(HWND handle) {
  Window* w = findWindow(handle);
  if (!w || w->parent) return FALSE;  // only a top-level window can be the foreground
  registry().foreground = handle;
  return TRUE;
}

HWND WINAPI GetForegroundWindow(void) { return registry().foreground; }

// ---- Hooks --------------------------------------------------------------------------------

int visLiveWindowCount(void) { return static_cast<int>(registry().windows.size()); }

}  // extern "C"
