// Message passing of the portable USER32: SendMessageA (synchronous, across threads
// too), PostMessageA into the owner thread's queue, GetMessageA, PeekMessageA,
// DispatchMessageA, TranslateMessage and PostQuitMessage.
//
// Retrieval order, as GetMessage documents it and Windows behaves: messages that other
// threads sent are run first; then posted messages, oldest first; then WM_QUIT once
// the posted messages are gone; then WM_PAINT for a visible window with something to
// repaint (parents before children), which is never queued but made while the window
// stays invalid: a procedure that neither calls BeginPaint nor leaves WM_PAINT to
// DefWindowProcA gets it again and again, as on Windows.
#include <chrono>

#include "../visplatform.h"
#include "window_internal.h"

namespace vis {
namespace user {
namespace {

// Ends a thread's queue with the thread: sends still waiting on it complete with 0.
struct QueueHolder {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueHolder();
};
thread_local QueueHolder holder;

void completeSent(SentMessage* sent, LRESULT result) {
  std::lock_guard<std::mutex> lock(sent->sender->mutex);
  sent->result = result;
  sent->done = true;
  sent->sender->wake.notify_all();
}

QueueHolder::~QueueHolder() {
  if (!queue) return;
  std::deque<SentMessage*> waiting;
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->dead = true;
    waiting.swap(queue->incoming);
  }
  for (SentMessage* sent : waiting) completeSent(sent, 0);
}

DWORD tickCount() {
  static const auto start = std::chrono::steady_clock::now();
  return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count());
}

// Runs the messages that other threads have sent to this thread's windows.
void processIncoming(ThreadQueue& queue) {
  for (;;) {
    SentMessage* sent;
    {
      std::lock_guard<std::mutex> lock(queue.mutex);
      if (queue.incoming.empty()) return;
      sent = queue.incoming.front();
      queue.incoming.pop_front();
    }
    Window* w = findWindow(sent->msg.hwnd);
    const LRESULT result =
        w ? callProc(w, sent->msg.message, sent->msg.wParam, sent->msg.lParam) : 0;
    completeSent(sent, result);
  }
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
  const std::shared_ptr<ThreadQueue> queue = currentQueue();
  processIncoming(*queue);
  {
    std::unique_lock<std::mutex> lock(queue->mutex);
    // Lock order: a queue's mutex may be held while the handle table is looked up,
    // never the other way round.
    for (auto it = queue->posted.begin(); it != queue->posted.end(); ++it) {
      if (!rangeMatches(it->message, min, max) || !windowMatches(it->hwnd, filter)) continue;
      *out = *it;
      if (remove) queue->posted.erase(it);
      return true;
    }
    // WM_QUIT passes any window or range filter (Wine hands it to a reader that
    // filters on a window, too).
    if (queue->quitPosted) {
      *out = {nullptr, WM_QUIT, static_cast<WPARAM>(queue->quitCode), 0, tickCount(), {0, 0}};
      if (remove) queue->quitPosted = false;
      return true;
    }
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

bool post(const std::shared_ptr<ThreadQueue>& queue, HWND window, UINT message, WPARAM wParam,
          LPARAM lParam) {
  if (!queue) return false;
  std::lock_guard<std::mutex> lock(queue->mutex);
  if (queue->dead) return false;
  queue->posted.push_back({window, message, wParam, lParam, tickCount(), {0, 0}});
  ++queue->changes;
  queue->wake.notify_all();
  return true;
}

}  // namespace

std::shared_ptr<ThreadQueue> currentQueue() {
  if (!holder.queue) {
    holder.queue = std::make_shared<ThreadQueue>();
    holder.queue->thread = std::this_thread::get_id();
  }
  return holder.queue;
}

void purgeMessages(Window* window) {
  std::lock_guard<std::mutex> lock(window->queue->mutex);
  auto& posted = window->queue->posted;
  for (auto it = posted.begin(); it != posted.end();) {
    it = it->hwnd == window->handle ? posted.erase(it) : it + 1;
  }
}

void wakeQueue(ThreadQueue* queue) {
  std::lock_guard<std::mutex> lock(queue->mutex);
  ++queue->changes;
  queue->wake.notify_all();
}

}  // namespace user
}  // namespace vis

using namespace vis::user;

extern "C" {

LRESULT WINAPI SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  Window* w = findWindow(handle);
  if (!w) return 0;
  if (w->queue->thread == std::this_thread::get_id()) {
    return callProc(w, message, wParam, lParam);
  }
  // Another thread's window: its thread runs the procedure the next time it reads its
  // queue, and this thread waits, running what is sent to it meanwhile (so two threads
  // that send to each other cannot deadlock).
  const std::shared_ptr<ThreadQueue> target = queueOfWindow(handle);
  const std::shared_ptr<ThreadQueue> self = currentQueue();
  if (!target) return 0;
  SentMessage sent;
  sent.msg = {handle, message, wParam, lParam, 0, {0, 0}};
  sent.sender = self;
  {
    std::lock_guard<std::mutex> lock(target->mutex);
    if (target->dead) return 0;
    target->incoming.push_back(&sent);
    ++target->changes;
    target->wake.notify_all();
  }
  for (;;) {
    processIncoming(*self);
    std::unique_lock<std::mutex> lock(self->mutex);
    if (sent.done) break;
    self->wake.wait(lock, [&] { return sent.done || !self->incoming.empty(); });
    if (sent.done) break;
  }
  return sent.result;
}

BOOL WINAPI PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!handle) return post(currentQueue(), nullptr, message, wParam, lParam) ? TRUE : FALSE;
  return post(queueOfWindow(handle), handle, message, wParam, lParam) ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND filter, UINT filterMin, UINT filterMax) {
  if (!msg) return -1;
  if (filter && filter != kThreadMessagesOnly && !findWindow(filter)) return -1;
  const std::shared_ptr<ThreadQueue> queue = currentQueue();
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard<std::mutex> lock(queue->mutex);
      seen = queue->changes;
    }
    if (retrieve(msg, filter, filterMin, filterMax, true)) return msg->message != WM_QUIT;
    std::unique_lock<std::mutex> lock(queue->mutex);
    queue->wake.wait(lock, [&] { return queue->changes != seen || !queue->incoming.empty(); });
  }
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND filter, UINT filterMin, UINT filterMax, UINT flags) {
  if (!msg) return FALSE;
  return retrieve(msg, filter, filterMin, filterMax, (flags & PM_REMOVE) != 0) ? TRUE : FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  if (!msg || !msg->hwnd) return 0;
  Window* w = findWindow(msg->hwnd);
  if (!w || w->queue->thread != std::this_thread::get_id()) return 0;
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
  const std::shared_ptr<ThreadQueue> queue = currentQueue();
  std::lock_guard<std::mutex> lock(queue->mutex);
  queue->quitPosted = true;
  queue->quitCode = exitCode;
  ++queue->changes;
  queue->wake.notify_all();
}

}  // extern "C"
