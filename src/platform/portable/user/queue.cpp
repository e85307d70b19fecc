// Message passing of the portable USER32: SendMessageA (a direct call of the window's
// procedure), PostMessageA into the thread's queue, GetMessageA, PeekMessageA,
// DispatchMessageA, TranslateMessage and PostQuitMessage.
//
// Retrieval order, as GetMessage documents it and Windows behaves: posted messages,
// oldest first; then WM_QUIT once the posted messages are gone; then WM_PAINT for a
// visible window with something to repaint (parents before children), which is never
// queued but made while the window stays invalid: a procedure that neither calls
// BeginPaint nor leaves WM_PAINT to DefWindowProcA gets it again and again, as on
// Windows.
//
// Only the calling thread's windows are reached (window_internal.h): a send or post to
// another thread's window fails. So nothing can arrive while a thread waits, and a
// GetMessageA that finds nothing fails with -1 instead of waiting forever.
#include <chrono>

#include "../visplatform.h"
#include "window_internal.h"

namespace vis {
namespace user {
namespace {

DWORD tickCount() {
  static const auto start = std::chrono::steady_clock::now();
  return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count());
}

const HWND kThreadMessagesOnly = reinterpret_cast<HWND>(static_cast<intptr_t>(-1));

// The window filter of GetMessage: null takes everything, -1 only thread messages,
// a window its own messages and those of its descendants.
bool windowMatches(HWND message, HWND filter) {
  if (!filter) return true;
  if (filter == kThreadMessagesOnly) return message == nullptr;
  for (Window* w = findWindow(message); w; w = w->parent) {
    if (w->handle == filter) return true;
  }
  return false;
}

bool rangeMatches(UINT message, UINT min, UINT max) {
  return (min == 0 && max == 0) || (message >= min && message <= max);
}

bool retrieve(MSG* out, HWND filter, UINT min, UINT max, bool remove) {
  ThreadQueue& queue = currentQueue();
  for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
    if (!rangeMatches(it->message, min, max) || !windowMatches(it->hwnd, filter)) continue;
    *out = *it;
    if (remove) queue.posted.erase(it);
    return true;
  }
  // WM_QUIT passes any window or range filter (Wine hands it to a reader that
  // filters on a window, too).
  if (queue.quitPosted) {
    *out = {nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0, tickCount(), {0, 0}};
    if (remove) queue.quitPosted = false;
    return true;
  }
  if (!rangeMatches(WM_PAINT, min, max) || filter == kThreadMessagesOnly) return false;
  std::vector<Window*> windows;
  windowsOfThisThread(&windows);
  for (Window* w : windows) {
    if (w->updatePending && !w->destroying && reallyVisible(w) && windowMatches(w->handle, filter)) {
      *out = {w->handle, WM_PAINT, 0, 0, tickCount(), {0, 0}};
      return true;
    }
  }
  return false;
}

}  // namespace

void purgeMessages(Window* window) {
  auto& posted = currentQueue().posted;
  for (auto it = posted.begin(); it != posted.end();) {
    it = it->hwnd == window->handle ? posted.erase(it) : it + 1;
  }
}

}  // namespace user
}  // namespace vis

using namespace vis::user;

extern "C" {

LRESULT WINAPI SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* w = findWindow(handle);
  return w ? callProc(w, message, wParam, lParam) : 0;
}

BOOL WINAPI PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  // A null window posts a thread message; any other must be one of this thread's.
  if (handle && !findWindow(handle)) return FALSE;
  currentQueue().posted.push_back({handle, message, wParam, lParam, tickCount(), {0, 0}});
  return TRUE;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND filter, UINT filterMin, UINT filterMax) {
  if (!msg) return -1;
  if (filter && filter != kThreadMessagesOnly && !findWindow(filter)) return -1;
  // Nothing else can post to this thread while it waits: an empty queue stays empty.
  if (!retrieve(msg, filter, filterMin, filterMax, true)) return -1;
  return msg->message != WM_QUIT;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND filter, UINT filterMin, UINT filterMax, UINT flags) {
  if (!msg) return FALSE;
  return retrieve(msg, filter, filterMin, filterMax, (flags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  Window* w = findWindow(msg->hwnd);
  if (!w) return 0;
  return callProc(w, msg->message, msg->wParam, msg->lParam);
}

// Key-down messages of keys that type a character gain a WM_CHAR. The layer keeps no
// keyboard state, so letters come out in lower case.
BOOL WINAPI TranslateMessage(const MSG* msg) {
  if (!msg || (msg->message != WM_KEYDOWN && msg->message != WM_KEYUP)) return FALSE;
  if (msg->message == WM_KEYDOWN) {
    const WPARAM key = msg->wParam;
    int ch = -1;
    if (key >= 'A' && key <= 'Z') ch = static_cast<int>(key - 'A' + 'a');
    else if (key >= '0' && key <= '9') ch = static_cast<int>(key);
    else if (key == 0x20 || key == 0x0D || key == 0x08 || key == 0x09 || key == 0x1B)
      ch = static_cast<int>(key);  // space, return, backspace, tab, escape
    if (ch >= 0) PostMessageA(msg->hwnd, WM_CHAR, static_cast<WPARAM>(ch), msg->lParam);
  }
  return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
  ThreadQueue& queue = currentQueue();
  queue.quitPosted = true;
  queue.quitCode = exitCode;
}

}  // extern "C"
