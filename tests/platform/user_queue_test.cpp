// The message queue of the portable USER32: posting, retrieval order and filters,
// WM_QUIT, the WM_PAINT that is made while a window is invalid, and sends between
// threads.
#include <gtest/gtest.h>

#include <atomic>
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

TEST_F(UserQueueTest, OtherThreadsPostAndSendThroughTheOwnersQueue) {
  std::atomic<LRESULT> sendResult{0};
  std::thread worker([&] {
    PostMessageA(top, WM_USER, 42, 0);
    // Runs on this test's thread, the window's owner, when it reads its queue.
    sendResult = SendMessageA(top, WM_USER + 1, 5, 0);
    PostMessageA(top, WM_USER, 43, 0);
  });
  MSG msg;
  std::vector<WPARAM> got;
  while (got.size() < 2 && GetMessageA(&msg, nullptr, 0, 0)) {
    if (msg.message == WM_USER) got.push_back(msg.wParam);
    DispatchMessageA(&msg);
  }
  worker.join();
  EXPECT_EQ(got, (std::vector<WPARAM>{42, 43}));
  EXPECT_EQ(sendResult.load(), 1005);
  // The procedure ran here, between the two posts.
  int sent = 0;
  for (UINT m : dispatched) sent += m == WM_USER + 1;
  EXPECT_EQ(sent, 1);
}

}  // namespace
