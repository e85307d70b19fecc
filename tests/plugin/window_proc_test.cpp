// The visualisation window's procedure, driven through the test host: the host's
// commands, keys, resizing and repainting.
#include <gtest/gtest.h>

#include <vector>

#include "draw/draw_surface.h"
#include "plugin/lifecycle.h"
#include "state/vis_state.h"
#include "test_host.h"
#include "visplatform.h"

namespace {

class WindowProcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetVisStateForTests();
    visEmbed = {};
    bitmapsBefore = visLiveObjectCount(OBJ_BITMAP);
    tovanel = lookupModule(3);
    host.attach(tovanel);
    ASSERT_EQ(tovanel->init(tovanel), 0);
    host.pump();
    host.clearEvents();
  }
  void TearDown() override {
    tovanel->quit(tovanel);
    host.pump();
  }

  TestHost host;
  VisModule* tovanel = nullptr;
  int bitmapsBefore = 0;
};

TEST_F(WindowProcTest, ToggleCommandStoresOrReportsTheToggle) {
  struct Step {
    WORD argument;
    bool reports;  // sends HOST_REPORT_TOGGLE with the stored value
    int toggleAfter;
    const char* note;
  };
  const Step steps[] = {
      {0xFFFF, true, 0, "report the initial 0, leave it"},
      {5, false, 1, "any non-zero argument stores 1"},
      {0xFFFF, true, 1, "report the stored 1"},
      {1, false, 1, "1 stores 1"},
      {0, false, 0, "0 stores 0"},
      {0xFFFF, true, 0, "report 0 again"},
      {0xFFFE, false, 1, "only 0xFFFF reports"},
  };
  for (const Step& s : steps) {
    host.clearEvents();
    const int before = visState.hostToggle;
    host.command(CMD_TOGGLE, s.argument);
    EXPECT_EQ(visState.hostToggle, s.toggleAfter) << s.note;
    const auto requests = host.requests();
    if (s.reports) {
      ASSERT_EQ(requests.size(), 1u) << s.note;
      EXPECT_EQ(requests[0].lParam, HOST_REPORT_TOGGLE) << s.note;
      EXPECT_EQ(requests[0].wParam, static_cast<WPARAM>(before)) << s.note;
    } else {
      EXPECT_TRUE(requests.empty()) << s.note;
    }
  }
}

TEST_F(WindowProcTest, OtherCommandsChangeNothing) {
  const WORD codes[] = {40382, 40383, 40385, 40386, 40387, 40388, 40390, 40391, 40381, 40392, 0};
  const WORD arguments[] = {0, 1, 5, 0xFFFF};
  visState.hostToggle = 1;
  for (WORD code : codes) {
    for (WORD argument : arguments) {
      host.clearEvents();
      host.command(code, argument);
      EXPECT_EQ(visState.hostToggle, 1) << code << " " << argument;
      EXPECT_TRUE(host.events.empty()) << code << " " << argument;
    }
  }
}

TEST_F(WindowProcTest, FullScreenAsksTheHostUnlessVideoIsPlaying) {
  struct Case {
    LRESULT videoAnswer;
    bool refused;
  };
  const Case cases[] = {{0, false}, {1, false}, {2, true}, {3, true}, {-1, false}};
  for (const Case& c : cases) {
    host.clearEvents();
    host.videoPlaying = c.videoAnswer;
    host.command(CMD_FULLSCREEN, 0);
    const auto requests = host.requests();
    const auto boxes = host.messageBoxes();
    ASSERT_GE(requests.size(), 1u) << c.videoAnswer;
    EXPECT_EQ(requests[0].lParam, HOST_QUERY_VIDEO_PLAYING) << c.videoAnswer;
    EXPECT_EQ(requests[0].wParam, 0u);
    if (c.refused) {
      EXPECT_EQ(requests.size(), 1u) << c.videoAnswer;
      ASSERT_EQ(boxes.size(), 1u) << c.videoAnswer;
      EXPECT_EQ(boxes[0].text, "Can't go fullscreen while video is playing");
      EXPECT_EQ(boxes[0].caption, "OVis");
      EXPECT_EQ(boxes[0].owner, host.window());
      EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK));
    } else {
      ASSERT_EQ(requests.size(), 2u) << c.videoAnswer;
      EXPECT_EQ(requests[1].lParam, HOST_REQUEST_FULLSCREEN);
      EXPECT_EQ(requests[1].wParam, 1u);
      EXPECT_TRUE(boxes.empty());
    }
  }
  // The plug-in itself never resizes for full screen.
  RECT vis;
  GetClientRect(visState.visWindow, &vis);
  EXPECT_EQ(vis.right, 640);
  EXPECT_EQ(vis.bottom, 480);
}

TEST_F(WindowProcTest, KeysReachTheHostWindowUnchanged) {
  const HWND vis = visState.visWindow;
  // Sent directly, and posted through the queue as the window system delivers input.
  EXPECT_EQ(SendMessageA(vis, WM_KEYDOWN, 'F', 0x00210001), 0);
  EXPECT_EQ(SendMessageA(vis, WM_KEYUP, 'F', static_cast<LPARAM>(0xC0210001u)), 0);
  PostMessageA(vis, WM_KEYDOWN, 0x26 /* up arrow */, 0x01480001);
  host.pump();

  std::vector<HostEvent> keys;
  for (const HostEvent& e : host.events) {
    if (e.kind == HostEvent::kMessage && e.message != WM_CHAR) keys.push_back(e);
  }
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0].message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(keys[0].wParam, static_cast<WPARAM>('F'));
  EXPECT_EQ(keys[0].lParam, 0x00210001);
  EXPECT_EQ(keys[1].message, static_cast<UINT>(WM_KEYUP));
  EXPECT_EQ(keys[1].wParam, static_cast<WPARAM>('F'));
  EXPECT_EQ(keys[1].lParam, static_cast<LPARAM>(0xC0210001u));
  EXPECT_EQ(keys[2].message, static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(keys[2].wParam, 0x26u);
  EXPECT_EQ(keys[2].lParam, 0x01480001);
  EXPECT_TRUE(host.requests().empty());
}

TEST_F(WindowProcTest, ResizingTheFrameRebuildsTheSurfaceAtItsClientSize) {
  struct Size {
    int width, height;
  };
  const Size sizes[] = {{800, 600}, {1024, 300}, {320, 240}};
  for (const Size& s : sizes) {
    host.resizeFrame(s.width, s.height);
    EXPECT_EQ(visState.surfaceWidth, s.width);
    EXPECT_EQ(visState.surfaceHeight, s.height);
    EXPECT_EQ(visState.surfaceRect.left, 0);
    EXPECT_EQ(visState.surfaceRect.top, 0);
    EXPECT_EQ(visState.surfaceRect.right, s.width);
    EXPECT_EQ(visState.surfaceRect.bottom, s.height);
    VisPixels surface;
    ASSERT_TRUE(visBitmapPixels(drawSurface.bitmap, &surface));
    EXPECT_EQ(surface.width, s.width);
    EXPECT_EQ(surface.height, s.height);
    // Exactly one surface alive, whatever the number of resizes.
    EXPECT_EQ(visLiveObjectCount(OBJ_BITMAP), bitmapsBefore + 1);
    RECT vis;
    GetClientRect(visState.visWindow, &vis);
    EXPECT_EQ(vis.right, s.width);
    EXPECT_EQ(vis.bottom, s.height);
  }
  // A pure move is not a resize, but records where the frame stands.
  host.moveFrame(-20, 35);
  EXPECT_EQ(visState.surfaceWidth, 320);
  EXPECT_EQ(visState.framePosX, -20);
  EXPECT_EQ(visState.framePosY, 35);
}

TEST_F(WindowProcTest, SizeNotificationReadsTheFrameNotTheMessage) {
  // The message claims 10 x 10; the frame's client area is what counts.
  SendMessageA(visState.visWindow, WM_SIZE, SIZE_RESTORED, MAKELPARAM(10, 10));
  EXPECT_EQ(visState.surfaceWidth, 640);
  EXPECT_EQ(visState.surfaceHeight, 480);
}

TEST_F(WindowProcTest, RepaintShowsTheSurfaceAndWhiteStrips) {
  // A surface smaller than the window: 600 x 400 in a 640 x 480 window.
  visState.surfaceWidth = 600;
  visState.surfaceHeight = 400;
  buildSurface(600, 400);
  VisPixels surface, window;
  ASSERT_TRUE(visBitmapPixels(drawSurface.bitmap, &surface));
  for (int i = 0; i < surface.width * surface.height; ++i) surface.pixels[i] = 0x00ABCDEF;
  ASSERT_TRUE(visWindowPixels(host.frame(), &window));
  ASSERT_EQ(window.width, 640);
  ASSERT_EQ(window.height, 480);
  for (int y = 0; y < window.height; ++y) {
    for (int x = 0; x < window.width; ++x) window.pixels[y * window.stride + x] = 0x00FF00FF;
  }
  InvalidateRect(visState.visWindow, nullptr, FALSE);
  host.pump();

  // Expected by the repaint rule: surface at the top-left, white to its right and below.
  struct Probe {
    int x, y;
    uint32_t pixel;
    const char* note;
  };
  const Probe probes[] = {
      {0, 0, 0x00ABCDEF, "surface corner"},       {599, 399, 0x00ABCDEF, "surface's last pixel"},
      {600, 0, 0x00FFFFFF, "first column right"},  {639, 479, 0x00FFFFFF, "window's last pixel"},
      {0, 400, 0x00FFFFFF, "first row below"},     {599, 400, 0x00FFFFFF, "below the last column"},
      {600, 399, 0x00FFFFFF, "right of last row"},
  };
  for (const Probe& p : probes) {
    EXPECT_EQ(window.pixels[p.y * window.stride + p.x], p.pixel) << p.note;
  }
  int wrong = 0;
  for (int y = 0; y < 480; ++y) {
    for (int x = 0; x < 640; ++x) {
      const uint32_t expected = (x < 600 && y < 400) ? 0x00ABCDEF : 0x00FFFFFF;
      wrong += window.pixels[y * window.stride + x] != expected;
    }
  }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
