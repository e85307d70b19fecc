// The message queue of the portable USER32: posting, retrieval order and filters,
// WM_QUIT, the WM_PAINT that is made while a window is invalid, and the rule that a
// window belongs to its thread.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "visplatform.h"

namespace {

std::vector<UINT> dispatched;
int paintsSeen = 0;
bool validateOnPaint = true;

LRESULT CALLBACK queueProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  dispatched.push_back(message);
  if (message == WM_PAINT) {
    ++paintsSeen;
    if (validateOnPaint) {
      PAINTSTRUCT ps;
      BeginPaint(window, &ps);
      EndPaint(window, &ps);
    }
    return 0;
  }
  if (message == WM_USER + 1) return static_cast<LRESULT>(wParam + 1000);
  return DefWindowProcA(window, message, wParam, lParam);
}

HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x5250000));

class UserQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatched.clear();
    paintsSeen = 0;
    validateOnPaint = true;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = queueProc;
    wc.hInstance = kInstance;
    wc.lpszClassName = "QueueTest";
    ASSERT_NE(RegisterClassA(&wc), 0);
    top = CreateWindowExA(0, "QueueTest", "", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                          nullptr, kInstance, nullptr);
    child = CreateWindowExA(0, "QueueTest", "", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, top, nullptr,
                            kInstance, nullptr);
    other = CreateWindowExA(0, "QueueTest", "", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                            nullptr, kInstance, nullptr);
    ASSERT_TRUE(top && child && other);
    drain();
    dispatched.clear();
  }
  void TearDown() override {
    DestroyWindow(top);
    DestroyWindow(other);
    drain();
    UnregisterClassA("QueueTest", kInstance);
  }
  static void drain() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  HWND top = nullptr, child = nullptr, other = nullptr;
};

TEST_F(UserQueueTest, PostedMessagesComeInOrderThenQuitThenNothing) {
  PostMessageA(top, WM_USER, 1, 0);
  PostMessageA(child, WM_USER, 2, 0);
  PostMessageA(nullptr, WM_USER, 3, 0);  // a thread message
  PostQuitMessage(7);
  PostMessageA(top, WM_USER, 4, 0);      // posted after the quit, still comes first
  MSG msg;
  std::vector<WPARAM> got;
  while (GetMessageA(&msg, nullptr, 0, 0)) got.push_back(msg.wParam);
  EXPECT_EQ(got, (std::vector<WPARAM>{1, 2, 3, 4}));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));  // the quit was taken
  EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234)), WM_USER, 0, 0));
}

TEST_F(UserQueueTest, FiltersSelectByWindowAndRange) {
  PostMessageA(other, WM_USER, 1, 0);
  PostMessageA(child, WM_KEYDOWN, 2, 0);
  PostMessageA(top, WM_USER, 3, 0);
  struct Case {
    HWND window;
    UINT min, max;
    bool found;
    WPARAM wParam;
    const char* note;
  };
  const Case cases[] = {
      {top, 0, 0, true, 2, "a window's filter takes its children's messages"},
      {other, WM_KEYDOWN, WM_KEYUP, false, 0, "range excludes other's WM_USER"},
      {nullptr, WM_USER, WM_USER, true, 1, "the oldest in range"},
      {child, WM_USER, WM_USER, false, 0, "a child's filter does not take its parent's"},
  };
  for (const Case& c : cases) {
    MSG msg;
    const BOOL found = PeekMessageA(&msg, c.window, c.min, c.max, PM_NOREMOVE);
    EXPECT_EQ(found != FALSE, c.found) << c.note;
    if (found && c.found) {
      EXPECT_EQ(msg.wParam, c.wParam) << c.note;
    }
  }
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));  // NOREMOVE left it there
  EXPECT_EQ(msg.wParam, 1u);
  // WM_QUIT passes any range filter once the posted messages in range are gone.
  PostQuitMessage(0);
  int count = 0;
  while (PeekMessageA(&msg, nullptr, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE) && msg.message != WM_QUIT)
    ++count;
  EXPECT_EQ(count, 1);
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  // And a window filter too, as Wine hands it out.
  PostQuitMessage(2);
  ASSERT_TRUE(PeekMessageA(&msg, child, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 2u);
  EXPECT_EQ(GetMessageA(&msg, reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234)), 0, 0), -1);
}

TEST_F(UserQueueTest, DestroyedWindowsLoseTheirPostedMessages) {
  PostMessageA(child, WM_USER, 1, 0);
  PostMessageA(other, WM_USER, 2, 0);
  DestroyWindow(child);
  MSG msg;
  std::vector<WPARAM> got;
  while (PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_REMOVE)) got.push_back(msg.wParam);
  EXPECT_EQ(got, std::vector<WPARAM>{2});
}

TEST_F(UserQueueTest, PaintComesWhenTheQueueIsEmptyAndStopsOnceValidated) {
  ShowWindow(top, SW_SHOW);
  drain();  // showing invalidated both; their paints ran
  EXPECT_GE(paintsSeen, 2);
  paintsSeen = 0;
  dispatched.clear();

  InvalidateRect(child, nullptr, FALSE);
  PostMessageA(child, WM_USER, 0, 0);
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER));  // posted messages first
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
  EXPECT_EQ(msg.hwnd, child);
  // Not removed by PM_REMOVE: it stays until the window is validated.
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
  DispatchMessageA(&msg);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));

  // A procedure that does not validate gets WM_PAINT again and again.
  validateOnPaint = false;
  paintsSeen = 0;
  InvalidateRect(child, nullptr, FALSE);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_PAINT));
    DispatchMessageA(&msg);
  }
  EXPECT_EQ(paintsSeen, 3);
  PAINTSTRUCT ps;
  BeginPaint(child, &ps);
  EndPaint(child, &ps);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));

  // Hidden windows are not painted; UpdateWindow paints at once, bypassing the queue.
  validateOnPaint = true;
  paintsSeen = 0;
  InvalidateRect(other, nullptr, FALSE);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  InvalidateRect(child, nullptr, FALSE);
  UpdateWindow(top);
  EXPECT_EQ(paintsSeen, 1);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(UserQueueTest, TranslateMessageTypesCharacters) {
  const MSG keys[] = {{top, WM_KEYDOWN, 'Q', 5, 0, {0, 0}},
                      {top, WM_KEYDOWN, 0x26 /* arrow: no character */, 6, 0, {0, 0}},
                      {top, WM_KEYUP, 'Q', 7, 0, {0, 0}}};
  for (const MSG& k : keys) EXPECT_TRUE(TranslateMessage(&k));
  const MSG notKey = {top, WM_USER, 0, 0, 0, {0, 0}};
  EXPECT_FALSE(TranslateMessage(&notKey));
  MSG msg;
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_CHAR));
  EXPECT_EQ(msg.wParam, static_cast<WPARAM>('q'));
  EXPECT_EQ(msg.lParam, 5);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

// A window belongs to the thread that made it: from another thread its handle fails
// every call as a destroyed one does, so no thread can run or free a window under its
// owner (the owner's procedure never runs on the other thread, nor is its state read
// there). That thread's own windows, queue and class list are its own, and go with it.
TEST_F(UserQueueTest, WindowsBelongToTheirThread) {
  struct Seen {
    LRESULT send = -1;
    BOOL post = -1, isWindow = -1, foreground = -1, show = -1, destroy = -1, clientRect = -1;
    BOOL getMessage = 0;
    HWND foregroundAfter = reinterpret_cast<HWND>(1);
    int ownWindowsBefore = -1, ownWindowsAfter = -1, ownClass = 0, sharedClass = 0;
    size_t procCalls = 99;
  } seen;
  std::thread worker([&] {
    RECT r;
    seen.send = SendMessageA(top, WM_USER + 1, 5, 0);
    seen.post = PostMessageA(top, WM_USER, 42, 0);
    seen.isWindow = IsWindow(top);
    seen.foreground = SetForegroundWindow(top);
    seen.foregroundAfter = GetForegroundWindow();
    seen.show = ShowWindow(top, SW_SHOW);
    seen.destroy = DestroyWindow(top);
    seen.clientRect = GetClientRect(top, &r);
    // Its own queue is empty and nothing else can fill it: GetMessageA fails rather
    // than waiting for ever.
    MSG msg;
    seen.getMessage = GetMessageA(&msg, nullptr, 0, 0);
    seen.procCalls = dispatched.size();  // the owner's procedure never ran here
    // The class the test's thread registered is not this thread's; it registers its own.
    WNDCLASSA wc = {};
    wc.lpfnWndProc = queueProc;
    wc.hInstance = kInstance;
    wc.lpszClassName = "QueueTest";
    seen.sharedClass = CreateWindowExA(0, "QueueTest", "", 0, 0, 0, 5, 5, nullptr, nullptr, kInstance,
                                       nullptr) != nullptr;
    seen.ownClass = RegisterClassA(&wc) != 0;
    seen.ownWindowsBefore = visLiveWindowCount();
    CreateWindowExA(0, "QueueTest", "", 0, 0, 0, 5, 5, nullptr, nullptr, kInstance, nullptr);
    seen.ownWindowsAfter = visLiveWindowCount();
    // Left alive on purpose: the thread's windows go when it ends.
  });
  worker.join();
  EXPECT_EQ(seen.send, 0) << "a send from another thread runs nothing";
  EXPECT_FALSE(seen.post) << "nor does a post reach the owner's queue";
  EXPECT_FALSE(seen.isWindow);
  EXPECT_FALSE(seen.foreground);
  EXPECT_EQ(seen.foregroundAfter, nullptr);
  EXPECT_FALSE(seen.show);
  EXPECT_FALSE(seen.destroy);
  EXPECT_FALSE(seen.clientRect);
  EXPECT_EQ(seen.getMessage, -1);
  EXPECT_FALSE(seen.sharedClass);
  EXPECT_TRUE(seen.ownClass);
  EXPECT_EQ(seen.ownWindowsBefore, 0);
  EXPECT_EQ(seen.ownWindowsAfter, 1);
  // Nothing happened to the owner's window: no procedure ran, no message waits, the
  // window is whole.
  EXPECT_EQ(seen.procCalls, 0u);
  MSG msg;
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_TRUE(IsWindow(top));
  EXPECT_EQ(SendMessageA(top, WM_USER + 1, 5, 0), 1005);
  EXPECT_EQ(visLiveWindowCount(), 3);
}

}  // namespace
