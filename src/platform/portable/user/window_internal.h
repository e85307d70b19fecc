// The window system's shared internals: the window and class records, the handle
// table, and the message queue. Used by the files of user/ only.
//
// Threads: the window system is per thread and takes no locks. Each thread has its own
// classes, windows, foreground window and queue (one Registry, made on first use and
// freed when the thread ends); a handle is unique in the process, so a window of
// another thread is simply not found, and every call naming one fails as for a
// destroyed window. Nothing can therefore free a window under a caller, and no message
// crosses threads: the plug-in and its host run on one thread, which is all the
// Win32 contract the plug-in relies on.
//
// Geometry is kept simple and documented: no window has a non-client area, so a
// window's client rectangle is its whole window rectangle, for top-level windows as
// for children. A child's position is relative to its parent's client area; a
// top-level window's is in screen coordinates. Every top-level window owns a pixel
// buffer of its own size, and its children draw into it at their offsets.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "../win32_portable.h"

// Win32 flags that SetWindowPos reports in WM_WINDOWPOSCHANGED and that callers may
// pass; the subset header leaves them out because the plug-in never uses them.
#ifndef SWP_NOSENDCHANGING
#define SWP_NOSENDCHANGING 0x0400
#endif
#ifndef SWP_NOCLIENTSIZE
#define SWP_NOCLIENTSIZE 0x0800
#endif
#ifndef SWP_NOCLIENTMOVE
#define SWP_NOCLIENTMOVE 0x1000
#endif

namespace vis {
namespace user {

// The thread's message queue: posted messages, oldest first, and a pending WM_QUIT.
struct ThreadQueue {
  std::deque<MSG> posted;
  bool quitPosted = false;
  int quitCode = 0;
};

struct WindowClass {
  std::string name;
  HINSTANCE instance;
  WNDPROC proc;
  UINT style;
  HBRUSH background;
  ATOM atom;
  int windows;  // live windows of this class; a class with windows cannot go
};

struct Window {
  HWND handle;
  unsigned traceId;       // w1, w2... in creation order; w0 is the screen
  WindowClass* windowClass;
  WNDPROC proc;
  DWORD style;
  DWORD exStyle;
  HINSTANCE instance;
  Window* parent = nullptr;  // WS_CHILD windows only
  HWND owner = nullptr;      // top-level windows created with a parent
  std::vector<Window*> children;
  std::string text;
  LONG_PTR userData = 0;
  int x = 0, y = 0;          // relative to the parent's client area, or screen
  int width = 0, height = 0;
  bool updatePending = false;  // the update region (kept as one bounding box)
  bool erasePending = false;
  RECT update = {0, 0, 0, 0};
  bool destroying = false;
  // Top-level windows: width x height pixels, 0x00RRGGBB, in the layer's own buffer or
  // in memory a host lent (visLendWindowPixels), `lentStride` pixels a row.
  std::vector<uint32_t> pixels;
  uint32_t* lent = nullptr;
  int lentStride = 0;

  bool hasPixels() const { return lent || !pixels.empty(); }
  uint32_t* pixelData() { return lent ? lent : pixels.data(); }
  int pixelStride() const { return lent ? lentStride : width; }
};

// The calling thread's queue.
ThreadQueue& currentQueue();

// The calling thread's window behind a handle, or null for a null, stale or forged one
// and for a window of another thread.
Window* findWindow(HWND handle);

// Calls a window's procedure (DefWindowProcA when it has none).
LRESULT callProc(Window* window, UINT message, WPARAM wParam, LPARAM lParam);

// Every window of the calling thread in paint order: each top level in creation
// order, followed by its descendants, parents before children.
void windowsOfThisThread(std::vector<Window*>* out);

// True when the window and all its ancestors have WS_VISIBLE.
bool reallyVisible(const Window* window);

// The top-level ancestor and the window's offset inside it (in 64 bits: positions are
// any ints, and a chain of them sums beyond one).
Window* topLevelOf(Window* window, int64_t* offsetX, int64_t* offsetY);

// Marks (part of) a window's client area for repainting. Null rect: all of it.
void invalidate(Window* window, const RECT* rect, bool erase, bool children);

// Removes posted messages for a window that is going away.
void purgeMessages(Window* window);

// Trace ids and the window DC target, installed into the GDI layer once.
void installGdiHooks();

}  // namespace user
}  // namespace vis
