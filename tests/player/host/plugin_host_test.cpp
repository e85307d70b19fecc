// The host core against the real vis_orlim.so: the requests it sees in order, the frame
// window rules, keys and commands through the plug-in, and one module after another in
// one process. The library is copied into a scratch folder first, so the settings file
// it writes beside itself is this test's own.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "test_support.h"
#include "host/plugin_host.h"

namespace {
struct Recorder : HostEvents {
  std::vector<std::pair<UINT, WPARAM>> keys;
  std::vector<LPARAM> keyFlags;
  int fullscreen = 0, closes = 0;
  void onKey(UINT message, WPARAM key, LPARAM flags) override {
    keys.push_back({message, key});
    keyFlags.push_back(flags);
  }
  void onFullscreenRequest() override { ++fullscreen; }
  void onFrameClose() override { ++closes; }
};

std::vector<std::pair<LPARAM, WPARAM>> codes(const PluginHost& host) {
  std::vector<std::pair<LPARAM, WPARAM>> out;
  for (const HostRequestRecord& r : host.requests()) out.push_back({r.code, r.argument});
  return out;
}

RECT windowRect(HWND window) {
  RECT r = {-1, -1, -1, -1};
  GetWindowRect(window, &r);
  return r;
}

// Paints the frame's pixels with a marker, renders one frame, and counts the pixels the
// plug-in left untouched: zero when its surface covers the frame's client area.
long untouchedAfterRender(PluginHost& host) {
  VisPixels p;
  if (!host.framePixels(&p)) return -1;
  const uint32_t marker = 0x00FF00FE;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) p.pixels[(size_t)y * p.stride + x] = marker;
  unsigned char spectrum[2][VIS_SPECTRUM_BANDS];
  memset(spectrum, 100, sizeof spectrum);
  host.renderFrame(spectrum, 2, 44100);
  if (!host.framePixels(&p)) return -1;
  long left = 0;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) left += p.pixels[(size_t)y * p.stride + x] == marker;
  return left;
}

class HostCore : public testing::Test {
 protected:
  void SetUp() override {
    plugin = dir.file("vis_orlim.so");
    std::string out;
    ASSERT_EQ(runCommand("cp '" VIS_PLUGIN_PATH "' '" + plugin + "'", &out), 0) << out;
    std::string error;
    ASSERT_TRUE(host.load(plugin, &error)) << error;
    host.setEvents(&events);
  }
  std::string settings() { return readWholeFile(dir.file("plugin.ini")); }

  ScratchDir dir;
  std::string plugin;
  PluginHost host;
  Recorder events;
};
}  // namespace

TEST_F(HostCore, ListsTheHeaderAndModules) {
  EXPECT_STREQ(host.description(), "Orlim's Visualizations Volume 1");
  ASSERT_EQ(host.moduleCount(), 4);
  EXPECT_EQ(host.moduleNames(), "Zarvenn, Pellox, Ambrith, Tovanel");
  // name or index, any case; anything else is no module
  const struct { const char* key; int index; } cases[] = {
      {"Zarvenn", 0}, {"pellox", 1}, {"AMBRITH", 2}, {"3", 3}, {"0", 0},
      {"4", -1},      {"-1", -1},    {"Foo", -1},    {"", -1}, {"1x", -1},
  };
  for (const auto& c : cases) EXPECT_EQ(host.findModule(c.key), c.index) << c.key;
}

TEST_F(HostCore, RunsAModuleInTheCallingOrderAndTheFrameFollowsTheWindowRules) {
  std::string error;
  ASSERT_TRUE(host.start(3, &error)) << error;
  // init: the factory, then the visualisation window.
  ASSERT_EQ(host.requests().size(), 2u);
  EXPECT_EQ(host.requests()[0].code, HOST_GET_EMBED_FACTORY);
  EXPECT_EQ(host.requests()[1].code, HOST_SET_VIS_WINDOW);
  HWND vis = host.visWindow();
  ASSERT_NE(vis, nullptr);
  EXPECT_EQ(host.requests()[1].argument, (WPARAM)vis);
  EXPECT_EQ(GetParent(vis), host.frameWindow());
  EXPECT_EQ(host.frameTitle(), "Tovanel");
  EXPECT_TRUE(IsWindowVisible(host.frameWindow()));

  // The frame is the plug-in's 640 x 480 rectangle and the child fills it.
  RECT frame = windowRect(host.frameWindow());
  EXPECT_EQ(frame.right - frame.left, 640);
  EXPECT_EQ(frame.bottom - frame.top, 480);
  RECT child = windowRect(vis);
  EXPECT_EQ(memcmp(&child, &frame, sizeof frame), 0);
  EXPECT_EQ(untouchedAfterRender(host), 0);

  // Moved and resized: the child follows, the plug-in draws the whole new area.
  host.moveFrame(120, 70);
  host.resizeFrame(800, 600);
  frame = windowRect(host.frameWindow());
  child = windowRect(vis);
  EXPECT_EQ(frame.left, 120);
  EXPECT_EQ(frame.top, 70);
  EXPECT_EQ(memcmp(&child, &frame, sizeof frame), 0);
  VisPixels p;
  ASSERT_TRUE(host.framePixels(&p));
  EXPECT_EQ(p.width, 800);
  EXPECT_EQ(p.height, 600);
  EXPECT_EQ(untouchedAfterRender(host), 0);

  // Full screen through the plug-in's command path: it asks whether video plays
  // (this host says no), then requests full screen, which the host acts on.
  host.clearRequests();
  host.sendCommand(CMD_FULLSCREEN, 0);
  ASSERT_EQ(host.requests().size(), 2u);
  EXPECT_EQ(host.requests()[0].code, HOST_QUERY_VIDEO_PLAYING);
  EXPECT_EQ(host.requests()[1].code, HOST_REQUEST_FULLSCREEN);
  EXPECT_EQ(host.requests()[1].argument, 1u);
  EXPECT_EQ(events.fullscreen, 1);

  // The toggle: set with a non-zero high word, reported with 0xFFFF.
  host.clearRequests();
  host.sendCommand(CMD_TOGGLE, 5);
  host.sendCommand(CMD_TOGGLE, 0xFFFF);
  ASSERT_EQ(host.requests().size(), 1u);
  EXPECT_EQ(host.requests()[0].code, HOST_REPORT_TOGGLE);
  EXPECT_EQ(host.reportedToggle(), 1u);

  // A key in the visualisation window reaches the host as the same message.
  host.sendKey(WM_KEYDOWN, 'Q', 0x00100001);
  host.sendKey(WM_KEYUP, 'Q', (LPARAM)0xC0100001u);
  ASSERT_EQ(events.keys.size(), 2u);
  EXPECT_EQ(events.keys[0], std::make_pair((UINT)WM_KEYDOWN, (WPARAM)'Q'));
  EXPECT_EQ(events.keyFlags[0], 0x00100001);
  EXPECT_EQ(events.keys[1].first, (UINT)WM_KEYUP);
  EXPECT_EQ(events.keyFlags[1], (LPARAM)0xC0100001u);

  // quit: the window is withdrawn, the frame goes, its position is saved.
  host.clearRequests();
  host.stop();
  ASSERT_EQ(host.requests().size(), 1u);
  EXPECT_EQ(host.requests()[0].code, HOST_SET_VIS_WINDOW);
  EXPECT_EQ(host.requests()[0].argument, 0u);
  EXPECT_EQ(host.frameWindow(), nullptr);
  EXPECT_FALSE(IsWindow(vis));
  std::string ini = settings();
  EXPECT_NE(ini.find("[Tovanel]"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Screen_x=120"), std::string::npos) << ini;
  EXPECT_NE(ini.find("Screen_y=70"), std::string::npos) << ini;
}

TEST_F(HostCore, SwitchesModulesInOneProcessAndFramesStartWhereTheyWereSaved) {
  std::string error;
  ASSERT_TRUE(host.start(0, &error)) << error;
  EXPECT_EQ(host.frameTitle(), "Zarvenn");
  host.moveFrame(33, 44);
  EXPECT_EQ(untouchedAfterRender(host), 0);

  // Quit, then init of the other, as a host switching modules does.
  host.stop();
  host.clearRequests();
  host.setPreferredFrameSize(320, 200);
  ASSERT_TRUE(host.start(1, &error)) << error;
  EXPECT_EQ(host.frameTitle(), "Pellox");
  ASSERT_EQ(codes(host).size(), 2u);
  EXPECT_EQ(codes(host)[0].first, HOST_GET_EMBED_FACTORY);
  VisPixels p;
  ASSERT_TRUE(host.framePixels(&p));
  EXPECT_EQ(p.width, 320);  // the host's size for frames it makes
  EXPECT_EQ(p.height, 200);
  EXPECT_EQ(untouchedAfterRender(host), 0);
  host.stop();

  // Back to the first module: its frame opens where it was saved.
  ASSERT_TRUE(host.start(0, &error)) << error;
  RECT frame = windowRect(host.frameWindow());
  EXPECT_EQ(frame.left, 33);
  EXPECT_EQ(frame.top, 44);
  EXPECT_EQ(untouchedAfterRender(host), 0);
  host.stop();
  EXPECT_NE(settings().find("[Pellox]"), std::string::npos);
}

TEST(HostLoad, LibrariesThatAreNotPluginsAreRefusedWithTheReason) {
  ScratchDir dir;
  std::string text = dir.file("notes.so");
  std::ofstream(text) << "not a library\n";
  // path, words the message must contain
  const struct { std::string path; const char* reason; } cases[] = {
      {dir.file("missing.so"), "cannot load plug-in"},
      {text, "cannot load plug-in"},              // the dynamic linker's reason follows
      {"libm.so.6", "cannot load plug-in"},       // not a path to a file
  };
  for (const auto& c : cases) {
    PluginHost host;
    std::string error;
    EXPECT_FALSE(host.load(c.path, &error));
    EXPECT_EQ(error.find(c.path), 0u) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  // A real library without the exported function.
  std::string out;
  runCommand("ldd '" VIS_PLUGIN_PATH "' | awk '/libvisplatform/ {print $3}'", &out);
  std::string platform = out.substr(0, out.find('\n'));
  ASSERT_FALSE(platform.empty());
  PluginHost host;
  std::string error;
  EXPECT_FALSE(host.load(platform, &error));
  EXPECT_NE(error.find("no winampVisGetHeader"), std::string::npos) << error;
}

TEST_F(HostCore, AFailedInitIsReportedWithThePluginsMessageAndLeavesNoFrame) {
  std::string error;
  ASSERT_TRUE(host.start(0, &error)) << error;
  HINSTANCE instance = host.module(0)->moduleInstance;
  host.stop();
  // The plug-in's class name taken already for its instance: its init must fail.
  WNDCLASSA taken = {};
  taken.lpfnWndProc = DefWindowProcA;
  taken.hInstance = instance;
  taken.lpszClassName = "SimpleVis";
  ASSERT_TRUE(RegisterClassA(&taken));
  EXPECT_FALSE(host.start(1, &error));
  EXPECT_NE(error.find("Pellox"), std::string::npos) << error;
  EXPECT_NE(error.find("Error registering window class"), std::string::npos) << error;
  EXPECT_FALSE(host.running());
  EXPECT_EQ(host.frameWindow(), nullptr);
  ASSERT_TRUE(UnregisterClassA("SimpleVis", instance));
  // And the next start is clean.
  ASSERT_TRUE(host.start(1, &error)) << error;
  EXPECT_EQ(host.frameTitle(), "Pellox");
  host.stop();
}
