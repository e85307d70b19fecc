// Windows of the portable USER32: the order of messages at creation, positioning and
// destruction (as Windows sends them; Wine's message tests record the same order),
// geometry, text, the user-data slot and classes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "visplatform.h"

namespace {

struct Logged {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

std::vector<Logged> logged;
LRESULT createAnswer = 0;     // what WM_CREATE returns
BOOL ncCreateAnswer = TRUE;   // what WM_NCCREATE returns
WINDOWPOS lastChanged;        // WM_WINDOWPOSCHANGED's record
bool clampWidthTo100 = false; // WM_WINDOWPOSCHANGING shrinks wide requests

LRESULT CALLBACK recordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  logged.push_back({window, message, wParam, lParam});
  switch (message) {
    case WM_NCCREATE:
      if (!ncCreateAnswer) return FALSE;
      break;
    case WM_CREATE:
      return createAnswer;
    case WM_WINDOWPOSCHANGING:
      if (clampWidthTo100) {
        WINDOWPOS* pos = reinterpret_cast<WINDOWPOS*>(lParam);
        if (pos->cx > 100) pos->cx = 100;
      }
      break;
    case WM_WINDOWPOSCHANGED:
      lastChanged = *reinterpret_cast<WINDOWPOS*>(lParam);
      break;
    case WM_USER:
      return static_cast<LRESULT>(wParam * 2 + lParam);
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// The messages logged for one window, in order, without the ones a test ignores.
std::vector<UINT> messagesOf(HWND window) {
  std::vector<UINT> out;
  for (const Logged& l : logged) {
    if (l.window == window) out.push_back(l.message);
  }
  return out;
}

std::vector<std::pair<HWND, UINT>> allMessages() {
  std::vector<std::pair<HWND, UINT>> out;
  for (const Logged& l : logged) out.push_back({l.window, l.message});
  return out;
}

HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x5150000));

class UserWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logged.clear();
    createAnswer = 0;
    ncCreateAnswer = TRUE;
    clampWidthTo100 = false;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = recordingProc;
    wc.hInstance = kInstance;
    wc.lpszClassName = "Recorder";
    ASSERT_NE(RegisterClassA(&wc), 0);
    windowsBefore = visLiveWindowCount();
  }
  void TearDown() override {
    for (HWND w : made) {
      if (IsWindow(w)) DestroyWindow(w);
    }
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_TRUE(UnregisterClassA("Recorder", kInstance));
    EXPECT_EQ(visLiveWindowCount(), windowsBefore);
  }
  HWND make(DWORD style, int x, int y, int w, int h, HWND parent = nullptr,
            const char* title = nullptr) {
    HWND window = CreateWindowExA(0, "Recorder", title, style, x, y, w, h, parent, nullptr,
                                  kInstance, nullptr);
    made.push_back(window);
    return window;
  }
  std::vector<HWND> made;
  int windowsBefore = 0;
};

TEST_F(UserWindowTest, CreationSendsItsMessagesInWindowsOrder) {
  HWND top = make(WS_OVERLAPPEDWINDOW, 10, 20, 300, 200);
  ASSERT_NE(top, nullptr);
  // A hidden window: created, then told its size and position.
  const std::vector<UINT> hidden = {WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE};
  EXPECT_EQ(messagesOf(top), hidden);
  EXPECT_EQ(logged[2].lParam, MAKELPARAM(300, 200));
  EXPECT_EQ(logged[3].lParam, MAKELPARAM(10, 20));

  logged.clear();
  HWND child = make(WS_CHILD | WS_VISIBLE, 5, 6, 50, 40, top);
  ASSERT_NE(child, nullptr);
  // A visible child of a hidden window: the same, then WM_SHOWWINDOW alone, since
  // nothing on screen changes.
  const std::vector<UINT> underHidden = {WM_NCCREATE, WM_CREATE, WM_SIZE, WM_MOVE,
                                         WM_SHOWWINDOW};
  EXPECT_EQ(messagesOf(child), underHidden);
  EXPECT_EQ(logged[2].lParam, MAKELPARAM(50, 40));
  EXPECT_EQ(logged[4].wParam, static_cast<WPARAM>(TRUE));
  EXPECT_FALSE(IsWindowVisible(child));  // its top level is hidden
  ShowWindow(top, SW_SHOWNORMAL);
  EXPECT_TRUE(IsWindowVisible(child));

  logged.clear();
  HWND second = make(WS_CHILD | WS_VISIBLE, 1, 2, 30, 20, top);
  // A visible child of a visible window is shown through SetWindowPos; showing moves
  // and sizes nothing, so no second WM_SIZE follows.
  const std::vector<UINT> underVisible = {WM_NCCREATE,   WM_CREATE,           WM_SIZE,
                                          WM_MOVE,       WM_SHOWWINDOW,       WM_WINDOWPOSCHANGING,
                                          WM_WINDOWPOSCHANGED};
  EXPECT_EQ(messagesOf(second), underVisible);
  // 0x0800 and 0x1000: SWP_NOCLIENTSIZE and SWP_NOCLIENTMOVE, which the reader of
  // WM_WINDOWPOSCHANGED finds set when neither changed.
  const UINT unchanged = SWP_SHOWWINDOW | SWP_NOSIZE | SWP_NOMOVE | 0x0800 | 0x1000;
  EXPECT_EQ(lastChanged.flags & unchanged, unchanged);
}

TEST_F(UserWindowTest, FailedCreationReturnsNullAndLeavesNoWindow) {
  struct Case {
    BOOL ncCreate;
    LRESULT create;
    std::vector<UINT> messages;
    const char* note;
  };
  const Case cases[] = {
      {FALSE, 0, {WM_NCCREATE, WM_NCDESTROY}, "WM_NCCREATE refuses"},
      {TRUE, -1, {WM_NCCREATE, WM_CREATE, WM_NCDESTROY}, "WM_CREATE answers -1"},
  };
  for (const Case& c : cases) {
    logged.clear();
    ncCreateAnswer = c.ncCreate;
    createAnswer = c.create;
    const int before = visLiveWindowCount();
    EXPECT_EQ(make(WS_OVERLAPPEDWINDOW, 0, 0, 10, 10), nullptr) << c.note;
    EXPECT_EQ(visLiveWindowCount(), before) << c.note;
    std::vector<UINT> got;
    for (const Logged& l : logged) got.push_back(l.message);
    EXPECT_EQ(got, c.messages) << c.note;
  }
  // Other refusals: no class, a child without a live parent.
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, kInstance,
                            nullptr),
            nullptr);
  ncCreateAnswer = TRUE;
  createAnswer = 0;
  EXPECT_EQ(make(WS_CHILD, 0, 0, 1, 1, nullptr), nullptr);
  HWND gone = make(WS_OVERLAPPEDWINDOW, 0, 0, 1, 1);
  DestroyWindow(gone);
  EXPECT_EQ(make(WS_CHILD, 0, 0, 1, 1, gone), nullptr);
}

TEST_F(UserWindowTest, DestroyGoesParentFirstForDestroyAndChildrenFirstForNcDestroy) {
  HWND top = make(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100);
  HWND child = make(WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, top);
  HWND grandchild = make(WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, child);
  HWND owned = make(WS_POPUP, 0, 0, 10, 10, top);  // owned, not a child
  ASSERT_TRUE(grandchild && owned);
  EXPECT_EQ(GetParent(owned), top);
  logged.clear();
  EXPECT_TRUE(DestroyWindow(top));

  std::vector<std::pair<HWND, UINT>> order;
  for (const auto& m : allMessages()) {
    if (m.second == WM_DESTROY || m.second == WM_NCDESTROY) order.push_back(m);
  }
  const std::vector<std::pair<HWND, UINT>> expected = {
      {owned, WM_DESTROY},     {owned, WM_NCDESTROY},       // owned windows go first
      {top, WM_DESTROY},       {child, WM_DESTROY},         {grandchild, WM_DESTROY},
      {grandchild, WM_NCDESTROY}, {child, WM_NCDESTROY},    {top, WM_NCDESTROY},
  };
  EXPECT_EQ(order, expected);
  // The visible top level was hidden first.
  EXPECT_EQ(messagesOf(top).front(), static_cast<UINT>(WM_WINDOWPOSCHANGING));
  for (HWND w : {top, child, grandchild, owned}) EXPECT_FALSE(IsWindow(w));
  EXPECT_FALSE(DestroyWindow(top));  // a stale handle fails
  EXPECT_EQ(SendMessageA(top, WM_USER, 1, 2), 0);
}

TEST_F(UserWindowTest, SetWindowPosReportsWhatChanged) {
  HWND top = make(WS_OVERLAPPEDWINDOW, 0, 0, 400, 300);
  HWND child = make(WS_CHILD | WS_VISIBLE, 10, 10, 100, 80, top);
  struct Case {
    int x, y, cx, cy;
    UINT flags;
    std::vector<UINT> messages;
    const char* note;
  };
  const Case cases[] = {
      {20, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER,
       {WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_MOVE}, "move only"},
      {0, 0, 120, 90, SWP_NOMOVE | SWP_NOZORDER,
       {WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_SIZE}, "size only"},
      {5, 5, 60, 60, SWP_NOZORDER,
       {WM_WINDOWPOSCHANGING, WM_WINDOWPOSCHANGED, WM_SIZE, WM_MOVE}, "both: size, then move"},
      {5, 5, 60, 60, SWP_NOZORDER, {WM_WINDOWPOSCHANGING}, "no change: no WM_WINDOWPOSCHANGED"},
  };
  for (const Case& c : cases) {
    logged.clear();
    EXPECT_TRUE(SetWindowPos(child, nullptr, c.x, c.y, c.cx, c.cy, c.flags)) << c.note;
    EXPECT_EQ(messagesOf(child), c.messages) << c.note;
  }
  RECT r;
  GetClientRect(child, &r);
  EXPECT_EQ(r.right, 60);
  EXPECT_EQ(r.bottom, 60);
  // MoveWindow is SetWindowPos; WM_SIZE carries the client size.
  logged.clear();
  MoveWindow(child, 1, 2, 33, 44, TRUE);
  ASSERT_EQ(messagesOf(child).size(), 4u);
  EXPECT_EQ(logged[2].message, static_cast<UINT>(WM_SIZE));
  EXPECT_EQ(logged[2].lParam, MAKELPARAM(33, 44));
  EXPECT_EQ(logged[3].lParam, MAKELPARAM(1, 2));
  // The procedure may change the offered size in WM_WINDOWPOSCHANGING.
  clampWidthTo100 = true;
  SetWindowPos(child, nullptr, 0, 0, 250, 50, SWP_NOMOVE | SWP_NOZORDER);
  GetClientRect(child, &r);
  EXPECT_EQ(r.right, 100);
  EXPECT_EQ(r.bottom, 50);
  EXPECT_EQ(lastChanged.cx, 100);
}

TEST_F(UserWindowTest, RectanglesAreInScreenAndParentCoordinates) {
  HWND top = make(WS_OVERLAPPEDWINDOW, 100, 50, 400, 300);
  HWND child = make(WS_CHILD, 10, 20, 200, 100, top);
  HWND grandchild = make(WS_CHILD, -5, 7, 30, 40, child);
  struct Case {
    HWND window;
    RECT windowRect;
    RECT clientRect;
  };
  const Case cases[] = {
      {top, {100, 50, 500, 350}, {0, 0, 400, 300}},          // no non-client area
      {child, {110, 70, 310, 170}, {0, 0, 200, 100}},        // offset by the parent
      {grandchild, {105, 77, 135, 117}, {0, 0, 30, 40}},     // may stick out of it
  };
  for (const Case& c : cases) {
    RECT w, cl;
    ASSERT_TRUE(GetWindowRect(c.window, &w));
    ASSERT_TRUE(GetClientRect(c.window, &cl));
    EXPECT_EQ(w.left, c.windowRect.left);
    EXPECT_EQ(w.top, c.windowRect.top);
    EXPECT_EQ(w.right, c.windowRect.right);
    EXPECT_EQ(w.bottom, c.windowRect.bottom);
    EXPECT_EQ(cl.right, c.clientRect.right);
    EXPECT_EQ(cl.bottom, c.clientRect.bottom);
  }
  RECT r;
  EXPECT_FALSE(GetWindowRect(nullptr, &r));
  EXPECT_EQ(GetParent(grandchild), child);
  EXPECT_EQ(GetParent(top), nullptr);
}

TEST_F(UserWindowTest, TextUserDataAndSendMessage) {
  HWND top = make(WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, "First");
  char text[8];
  EXPECT_EQ(GetWindowTextA(top, text, sizeof text), 5);
  EXPECT_STREQ(text, "First");
  EXPECT_TRUE(SetWindowTextA(top, "A longer title"));
  EXPECT_EQ(GetWindowTextA(top, text, sizeof text), 7);  // cut to fit, terminated
  EXPECT_STREQ(text, "A longe");
  EXPECT_EQ(GetWindowTextA(top, text, 0), 0);

  int anchor = 0;
  EXPECT_EQ(SetWindowLongPtrA(top, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&anchor)), 0);
  EXPECT_EQ(GetWindowLongPtrA(top, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&anchor));
  EXPECT_EQ(SetWindowLongA(top, GWL_USERDATA, 77), static_cast<LONG>(reinterpret_cast<LONG_PTR>(&anchor)));
  EXPECT_EQ(GetWindowLongA(top, GWL_USERDATA), 77);
  EXPECT_EQ(GetWindowLongA(nullptr, GWL_USERDATA), 0);

  EXPECT_EQ(SendMessageA(top, WM_USER, 20, 3), 43);  // synchronous, with the result
}

TEST_F(UserWindowTest, ClassesAreRegisteredOncePerInstance) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = recordingProc;
  wc.hInstance = kInstance;
  wc.lpszClassName = "recorder";  // names ignore case
  EXPECT_EQ(RegisterClassA(&wc), 0);
  wc.hInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x6160000));
  const ATOM other = RegisterClassA(&wc);
  EXPECT_NE(other, 0);  // another module may use the name
  EXPECT_TRUE(UnregisterClassA("RECORDER", wc.hInstance));
  EXPECT_FALSE(UnregisterClassA("RECORDER", wc.hInstance));
  // A class with windows stays registered.
  HWND top = make(WS_OVERLAPPEDWINDOW, 0, 0, 1, 1);
  EXPECT_FALSE(UnregisterClassA("Recorder", kInstance));
  DestroyWindow(top);
  // An unregistered class's atom is free again: a host that registers and unregisters
  // its class at every start (as the plug-in does) never runs out of the 16,384.
  int failures = 0;
  for (int i = 0; i < 20000; ++i) {
    failures += RegisterClassA(&wc) == 0;
    UnregisterClassA("recorder", wc.hInstance);
  }
  EXPECT_EQ(failures, 0);
}

TEST_F(UserWindowTest, ShowHideAndForeground) {
  HWND top = make(WS_OVERLAPPEDWINDOW, 0, 0, 10, 10);
  HWND child = make(WS_CHILD | WS_VISIBLE, 0, 0, 5, 5, top);
  EXPECT_FALSE(ShowWindow(top, SW_SHOWNORMAL));  // was hidden
  EXPECT_TRUE(IsWindowVisible(top));
  logged.clear();
  EXPECT_TRUE(ShowWindow(top, SW_SHOW));  // was visible; nothing to do
  EXPECT_TRUE(messagesOf(top).empty());
  EXPECT_TRUE(ShowWindow(top, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(child));
  EXPECT_EQ(messagesOf(top).front(), static_cast<UINT>(WM_SHOWWINDOW));

  EXPECT_TRUE(SetForegroundWindow(top));
  EXPECT_EQ(GetForegroundWindow(), top);
  EXPECT_FALSE(SetForegroundWindow(child));  // only a top level can be the foreground
  EXPECT_EQ(GetForegroundWindow(), top);
  DestroyWindow(top);
  EXPECT_EQ(GetForegroundWindow(), nullptr);
  EXPECT_FALSE(SetForegroundWindow(top));
}

}  // namespace
