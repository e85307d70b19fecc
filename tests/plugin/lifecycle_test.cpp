// Init, quit and config as the host sees them: the requests, the frame, the message
// boxes, the settings file and what carries from one run to the next.
#include <gtest/gtest.h>

#include <string.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "draw/draw_surface.h"
#include "plugin/lifecycle.h"
#include "state/vis_state.h"
#include "test_host.h"
#include "vis_header.h"
#include "visplatform.h"

namespace {

bool sameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string describe(const RECT& r) {
  return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
         std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}

class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetVisStateForTests();
    visEmbed = {};
    seedTime(1);
    windowsBefore = visLiveWindowCount();
    bitmapsBefore = visLiveObjectCount(OBJ_BITMAP);
    memoryDcsBefore = visLiveObjectCount(OBJ_MEMDC);
  }
  void TearDown() override {
    if (visState.visWindow && IsWindow(visState.visWindow)) visQuit(visState.activeModule);
    host.pump();
    visSetSystemTimeOverride(nullptr);
    EXPECT_EQ(visLiveWindowCount(), windowsBefore) << "a window outlived the test";
  }
  static void seedTime(WORD milliseconds) {
    SYSTEMTIME t = {2026, 12, 2, 8, 10, 0, 0, milliseconds};
    visSetSystemTimeOverride(&t);
  }
  VisModule* module(int index) {
    VisModule* m = lookupModule(index);
    host.attach(m);
    return m;
  }

  TestHost host;
  int windowsBefore = 0;
  int bitmapsBefore = 0;
  int memoryDcsBefore = 0;
};

TEST_F(LifecycleTest, WithoutAFactoryInitFailsAndCreatesNothing) {
  host.offerFactory = false;
  VisModule* tovanel = module(3);
  EXPECT_EQ(tovanel->init(tovanel), 1);
  const auto boxes = host.messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "This plugin requires Winamp 5.0+");
  EXPECT_EQ(boxes[0].caption, "blah");
  EXPECT_EQ(boxes[0].owner, host.window());
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(visLiveWindowCount(), windowsBefore);
  EXPECT_EQ(host.factoryCalls, 0);
  const auto requests = host.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].lParam, HOST_GET_EMBED_FACTORY);
  EXPECT_EQ(requests[0].wParam, 0u);

  // Nothing of the failed attempt stands in the way of the next one.
  host.offerFactory = true;
  EXPECT_EQ(tovanel->init(tovanel), 0);
  tovanel->quit(tovanel);
}

TEST_F(LifecycleTest, FrameIsTitledAndPlacedAtTheDefaultCorner) {
  VisModule* tovanel = module(3);
  ASSERT_EQ(tovanel->init(tovanel), 0);
  char title[64];
  GetWindowTextA(host.frame(), title, sizeof title);
  EXPECT_STREQ(title, "Tovanel");
  // No settings file: the corner is 50, 50 and the rectangle 640 x 480.
  const RECT expected = {50, 50, 690, 530};
  EXPECT_TRUE(sameRect(host.factoryRect, expected)) << describe(host.factoryRect);
  RECT frame;
  GetWindowRect(host.frame(), &frame);
  EXPECT_TRUE(sameRect(frame, expected)) << describe(frame);
  EXPECT_TRUE(IsWindowVisible(host.frame()));
  EXPECT_EQ(visEmbed.frame, host.frame());

  // The visualisation window: a visible child that the host has fitted to the frame.
  const HWND vis = visState.visWindow;
  ASSERT_TRUE(IsWindow(vis));
  EXPECT_EQ(vis, host.visWindow());
  EXPECT_EQ(GetParent(vis), host.frame());
  EXPECT_TRUE(IsWindowVisible(vis));
  RECT visRect;
  GetWindowRect(vis, &visRect);
  EXPECT_TRUE(sameRect(visRect, expected)) << describe(visRect);
  EXPECT_EQ(static_cast<LONG>(GetWindowLongA(vis, GWL_STYLE)), static_cast<LONG>(0x56000000));
  EXPECT_EQ(reinterpret_cast<VisModule*>(GetWindowLongPtrA(vis, GWLP_USERDATA)), tovanel);
  EXPECT_EQ(visState.activeModule, tovanel);
  EXPECT_EQ(visState.surfaceWidth, 640);
  EXPECT_EQ(visState.surfaceHeight, 480);
  EXPECT_TRUE(sameRect(visState.surfaceRect, RECT{0, 0, 640, 480}));
  VisPixels surface;
  ASSERT_TRUE(visBitmapPixels(drawSurface.bitmap, &surface));
  EXPECT_EQ(surface.width, 640);
  EXPECT_EQ(surface.height, 480);

  const auto requests = host.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].lParam, HOST_GET_EMBED_FACTORY);
  EXPECT_EQ(requests[1].lParam, HOST_SET_VIS_WINDOW);
  EXPECT_EQ(requests[1].wParam, reinterpret_cast<WPARAM>(vis));
  tovanel->quit(tovanel);
}

TEST_F(LifecycleTest, SavedCornerPlacesTheFrame) {
  struct Case {
    const char* file;
    RECT frame;
    const char* note;
  };
  const Case cases[] = {
      {"[Tovanel]\r\nScreen_x=120\r\nScreen_y=-30\r\n", {120, -30, 760, 450}, "both keys"},
      {"[tovanel]\r\nSCREEN_X=7\r\nscreen_y=8\r\n", {7, 8, 647, 488}, "names in other case"},
      {"[Tovanel]\r\nScreen_y=200\r\n", {50, 200, 690, 680}, "missing x keeps the current x"},
      {"[Pellox]\r\nScreen_x=1\r\nScreen_y=2\r\n", {50, 50, 690, 530}, "another module's section"},
      {"", {50, 50, 690, 530}, "empty file"},
      {"[Tovanel]\r\nScreen_x=2147483647\r\nScreen_y=2147483600\r\n",
       {2147483647, 2147483600, -2147483009, -2147483216},
       "a corner near the limit: the far edges wrap, as 32-bit Windows adds them"},
  };
  VisModule* tovanel = module(3);
  for (const Case& c : cases) {
    resetVisStateForTests();
    host.writeSettings(c.file);
    ASSERT_EQ(tovanel->init(tovanel), 0) << c.note;
    EXPECT_TRUE(sameRect(host.factoryRect, c.frame)) << c.note << " " << describe(host.factoryRect);
    RECT frame;
    GetWindowRect(host.frame(), &frame);
    EXPECT_TRUE(sameRect(frame, c.frame)) << c.note << " " << describe(frame);
    tovanel->quit(tovanel);
    host.pump();
  }
}

TEST_F(LifecycleTest, QuitWithdrawsTheWindowFirstAndSavesBeforeTheFrameGoes) {
  VisModule* pellox = module(1);
  ASSERT_EQ(pellox->init(pellox), 0);
  const HWND vis = visState.visWindow, frame = host.frame();
  host.pump();
  host.clearEvents();
  pellox->quit(pellox);
  host.pump();

  ASSERT_GE(host.events.size(), 3u);
  // 1. the window is withdrawn before anything else happens
  EXPECT_EQ(host.events[0].kind, HostEvent::kRequest);
  EXPECT_EQ(host.events[0].lParam, HOST_SET_VIS_WINDOW);
  EXPECT_EQ(host.events[0].wParam, 0u);
  // 2. when the frame is destroyed the file already holds the module's section
  EXPECT_EQ(host.events[1].kind, HostEvent::kFrameDestroyed);
  EXPECT_EQ(host.events[1].text, "[Pellox]\r\nScreen_x=50\r\nScreen_y=50\r\n");
  // 3. the destruction ended the message loop
  EXPECT_EQ(host.events[2].kind, HostEvent::kQuit);
  EXPECT_EQ(host.events[2].wParam, 0u);
  EXPECT_EQ(host.requests().size(), 1u);

  EXPECT_FALSE(IsWindow(vis));
  EXPECT_FALSE(IsWindow(frame));
  EXPECT_EQ(visEmbed.frame, nullptr);
  EXPECT_EQ(GetForegroundWindow(), host.window());
  EXPECT_EQ(visLiveObjectCount(OBJ_BITMAP), bitmapsBefore);
  EXPECT_EQ(visLiveObjectCount(OBJ_MEMDC), memoryDcsBefore);
  // The class is gone: this module may register it again.
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = pellox->moduleInstance;
  wc.lpszClassName = "SimpleVis";
  EXPECT_NE(RegisterClassA(&wc), 0);
  UnregisterClassA("SimpleVis", pellox->moduleInstance);
  EXPECT_FALSE(visState.classRegistered);
}

TEST_F(LifecycleTest, QuitKeepsWhatItCouldNotTakeDown) {
  // The record names a frame of another thread, which this thread cannot destroy. This
  // layer's windows belong to their thread, so to this one that frame reads as gone and
  // its handle is let go; the class stays, since the visualisation window, in the real
  // frame, is still there.
  HWND foreign = nullptr;
  std::mutex lock;
  std::condition_variable changed;
  bool release = false;
  std::thread owner([&] {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "ForeignFrame";
    RegisterClassA(&wc);
    HWND w = CreateWindowExA(0, "ForeignFrame", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             nullptr, nullptr);
    std::unique_lock<std::mutex> held(lock);
    foreign = w;
    changed.notify_all();
    changed.wait(held, [&] { return release; });
    DestroyWindow(w);
    UnregisterClassA("ForeignFrame", nullptr);
  });
  {
    std::unique_lock<std::mutex> held(lock);
    changed.wait(held, [&] { return foreign != nullptr; });
  }
  VisModule* pellox = module(1);
  ASSERT_EQ(pellox->init(pellox), 0);
  const HWND frame = visEmbed.frame;
  visEmbed.frame = foreign;
  pellox->quit(pellox);
  EXPECT_EQ(visEmbed.frame, nullptr);
  EXPECT_TRUE(visState.classRegistered);
  EXPECT_TRUE(IsWindow(visState.visWindow));

  // With the record's own frame back, a second quit takes everything down.
  visEmbed.frame = frame;
  pellox->quit(pellox);
  host.pump();
  EXPECT_EQ(visEmbed.frame, nullptr);
  EXPECT_FALSE(visState.classRegistered);
  EXPECT_EQ(visState.visWindow, nullptr);
  {
    std::lock_guard<std::mutex> held(lock);
    release = true;
  }
  changed.notify_all();
  owner.join();
}

TEST_F(LifecycleTest, TwoModulesKeepSeparatePositions) {
  VisModule* tovanel = module(3);
  VisModule* ambrith = module(2);
  ASSERT_EQ(tovanel->init(tovanel), 0);
  tovanel->quit(tovanel);
  host.pump();

  ASSERT_EQ(ambrith->init(ambrith), 0);
  host.moveFrame(300, 200);  // the host refits its child, which records the corner
  EXPECT_EQ(visState.framePosX, 300);
  EXPECT_EQ(visState.framePosY, 200);
  ambrith->quit(ambrith);
  host.pump();
  EXPECT_EQ(host.readSettings(),
            "[Tovanel]\r\nScreen_x=50\r\nScreen_y=50\r\n"
            "[Ambrith]\r\nScreen_x=300\r\nScreen_y=200\r\n");

  // Each module comes back where it stood, whatever ran in between.
  ASSERT_EQ(tovanel->init(tovanel), 0);
  EXPECT_TRUE(sameRect(host.factoryRect, RECT{50, 50, 690, 530})) << describe(host.factoryRect);
  tovanel->quit(tovanel);
  host.pump();
  ASSERT_EQ(ambrith->init(ambrith), 0);
  EXPECT_TRUE(sameRect(host.factoryRect, RECT{300, 200, 940, 680})) << describe(host.factoryRect);
  ambrith->quit(ambrith);
}

TEST_F(LifecycleTest, ConfigShowsTheNoticeAndChangesNothing) {
  VisModule* zarvenn = module(0);
  VisState before;
  memcpy(&before, &visState, sizeof before);
  zarvenn->config(zarvenn);
  const auto boxes = host.messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            "Version 1.1\n-New module added based on Koch Curves\n\n(No configuration options yet)");
  EXPECT_EQ(boxes[0].caption, "Configuration");
  EXPECT_EQ(boxes[0].owner, host.window());
  EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
  EXPECT_EQ(memcmp(&before, &visState, sizeof before), 0);
  EXPECT_TRUE(host.requests().empty());
  EXPECT_EQ(visLiveWindowCount(), windowsBefore);
}

TEST_F(LifecycleTest, RunsOfTwoModulesShareWhatInitDoesNotSeed) {
  VisModule* zarvenn = module(0);
  VisModule* pellox = module(1);
  seedTime(1);  // the generator seeded with 1 draws 41, 18467, 6334, 26500, 19169
  ASSERT_EQ(zarvenn->init(zarvenn), 0);
  EXPECT_EQ(visState.posX[0], 41 % 640);
  EXPECT_EQ(visState.posY[0], 18467 % 480);
  EXPECT_EQ(visState.velX[0], 6334 % 10 + 1);
  EXPECT_EQ(visState.velY[0], 26500 % 10 + 1);
  EXPECT_EQ(visState.heading[0], 19169);
  zarvenn->render(zarvenn);
  // What a run leaves behind: a toggle, a position, and values only modules touch.
  host.command(CMD_TOGGLE, 5);
  host.moveFrame(60, 70);
  visState.glowLevel = 77;
  visState.spanLen[3] = 12.5;
  visState.stars[0] = {7, 8};
  zarvenn->quit(zarvenn);
  host.pump();

  seedTime(0);  // seeded with 0: 38, 7719, 21238
  ASSERT_EQ(pellox->init(pellox), 0);
  EXPECT_EQ(visState.activeModule, pellox);
  EXPECT_EQ(visState.posX[0], 38);
  EXPECT_EQ(visState.posY[0], 7719 % 480);
  EXPECT_EQ(visState.velX[0], 21238 % 10 + 1);
  EXPECT_EQ(visState.hostToggle, 1);
  EXPECT_EQ(visState.glowLevel, 77);
  EXPECT_EQ(visState.spanLen[3], 12.5);
  EXPECT_EQ(visState.stars[0].x, 7);
  EXPECT_EQ(visState.stars[0].y, 8);
  // Pellox has no section yet, so its frame opens where Zarvenn's stood.
  EXPECT_TRUE(sameRect(host.factoryRect, RECT{60, 70, 700, 550})) << describe(host.factoryRect);
  pellox->render(pellox);
  pellox->quit(pellox);
}

TEST_F(LifecycleTest, FailedInitTakesDownWhatItBuilt) {
  VisModule* ambrith = module(2);

  // Registration fails: someone holds the class name for this instance.
  WNDCLASSA taken = {};
  taken.lpfnWndProc = DefWindowProcA;
  taken.hInstance = ambrith->moduleInstance;
  taken.lpszClassName = "SimpleVis";
  ASSERT_NE(RegisterClassA(&taken), 0);
  EXPECT_EQ(ambrith->init(ambrith), 1);
  auto boxes = host.messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Error registering window class");
  EXPECT_EQ(boxes[0].caption, "blah");
  EXPECT_EQ(boxes[0].owner, host.window());
  EXPECT_FALSE(IsWindow(host.frame()));  // the frame it was given is gone
  EXPECT_EQ(visEmbed.frame, nullptr);
  EXPECT_EQ(visLiveWindowCount(), windowsBefore);
  ASSERT_TRUE(UnregisterClassA("SimpleVis", ambrith->moduleInstance));

  // Creation fails: the host's factory makes no frame, so the child has no parent.
  host.clearEvents();
  host.factoryReturnsNull = true;
  EXPECT_EQ(ambrith->init(ambrith), 1);
  boxes = host.messageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Error creating window");
  EXPECT_EQ(boxes[0].caption, "blah");
  EXPECT_FALSE(visState.classRegistered);
  EXPECT_EQ(visLiveWindowCount(), windowsBefore);
  EXPECT_EQ(visLiveObjectCount(OBJ_BITMAP), bitmapsBefore);

  // The failed init left the class unregistered, so the next init gets through.
  host.clearEvents();
  host.factoryReturnsNull = false;
  EXPECT_EQ(ambrith->init(ambrith), 0);
  EXPECT_TRUE(host.messageBoxes().empty());
  ambrith->quit(ambrith);
}

}  // namespace
