// The window system's shared internals: the window and class records, the handle
// table, and the per-thread message queues. Used by the files of user/ only.
//
// Geometry is kept simple and documented: no window has a non-client area, so a
// window's client rectangle is its whole window rectangle, for top-level windows as
// for children. A child's position is relative to its parent's client area; a
// top-level window's is in screen coordinates. Every top-level window owns a pixel
// buffer of its own size, and its children draw into it at their offsets.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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

struct ThreadQueue;

// A message sent to a window of another thread: the sender waits until the owner
// thread has run the procedure and filled in the result.
struct SentMessage {
  MSG msg;
  LRESULT result = 0;
  bool done = false;
  std::shared_ptr<ThreadQueue> sender;
};

// One thread's message queue. Posted messages and cross-thread sends may come from
// any thread, so they are guarded by the mutex; everything else about a window is
// touched by its own thread only.
struct ThreadQueue {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<MSG> posted;
  std::deque<SentMessage*> incoming;
  bool quitPosted = false;
  int quitCode = 0;
  bool dead = false;  // the thread has ended; sends to it complete with 0
  uint64_t changes = 0;  // counts posts and sends, so a waiting reader sees new ones
  std::thread::id thread;
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
  std::shared_ptr<ThreadQueue> queue;
  std::vector<uint32_t> pixels;  // top-level windows: width x height, 0x00RRGGBB
};

// The calling thread's queue, made on first use.
std::shared_ptr<ThreadQueue> currentQueue();

// The window behind a handle, or null for a null, stale or forged one.
Window* findWindow(HWND handle);

// The queue of the thread that owns a window, safe to call from any thread.
std::shared_ptr<ThreadQueue> queueOfWindow(HWND handle);

// Calls a window's procedure (DefWindowProcA when it has none).
LRESULT callProc(Window* window, UINT message, WPARAM wParam, LPARAM lParam);

// Every window of the calling thread in paint order: each top level in creation
// order, followed by its descendants, parents before children.
void windowsOfThisThread(std::vector<Window*>* out);

// True when the window and all its ancestors have WS_VISIBLE.
bool reallyVisible(const Window* window);

// The top-level ancestor and the window's offset inside it.
Window* topLevelOf(Window* window, int* offsetX, int* offsetY);

// Marks (part of) a window's client area for repainting. Null rect: all of it.
void invalidate(Window* window, const RECT* rect, bool erase, bool children);

// Removes posted messages for a window that is going away.
void purgeMessages(Window* window);

// Wakes a thread blocked in GetMessageA (a window of its became invalid, say).
void wakeQueue(ThreadQueue* queue);

// Trace ids and the window DC target, installed into the GDI layer once.
void installGdiHooks();

}  // namespace user
}  // namespace vis
