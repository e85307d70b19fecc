// The real vis_orlim.dll run by a real Win32 host (vis_host.exe) under Wine: the
// module table as the host sees it, each module's whole life (init, renders, window
// commands, keys, a resize, quit), the failed init without a frame factory, and the
// settings file across runs. The host writes what it saw; these tests judge it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "wine_run.h"

using namespace winetest;

namespace {

const char* moduleNames[] = {"Zarvenn", "Pellox", "Ambrith", "Tovanel"};

// The kinds of the events in order, keeping only the given kinds.
std::vector<std::string> kindsAmong(const std::vector<Event>& events,
                                    const std::vector<std::string>& keep) {
  std::vector<std::string> out;
  for (const Event& e : events)
    if (std::find(keep.begin(), keep.end(), e.kind) != keep.end())
      out.push_back(e.kind == "request" ? "request " + e.at("code") + "/" + e.at("wparam") : e.kind);
  return out;
}

void expectCleanRenders(const Event* renders, int count) {
  ASSERT_NE(renders, nullptr);
  SCOPED_TRACE(renders->line);
  EXPECT_EQ(renders->at("count"), std::to_string(count));
  EXPECT_EQ(renders->at("nonzero_results"), "0") << "render must return 0";
  EXPECT_EQ(renders->at("blits_not_one"), "0") << "each render copies exactly one block to the window";
  EXPECT_EQ(renders->at("leaking_renders"), "0") << "a pen or brush outlived its render";
  EXPECT_EQ(renders->at("compared"), std::to_string(count)) << "frames not captured";
  EXPECT_EQ(renders->at("mismatched"), "0") << "the window does not show the surface";
  EXPECT_EQ(renders->at("marked"), "0") << "part of the window was not presented";
}

}  // namespace

TEST(WineHost, ListsTheHeaderAndTheFourModules) {
  REQUIRE_WINE_TOOLS();
  std::string dir = newTestDir("wine-host-list");
  HostRun run;
  run.dir = dir;
  run.result = winetest::runWine(winetest::programPath("vis_host.exe"),
                                 {"--dll", winetest::windowsPath(dir + "/vis_orlim.dll"), "--report",
                                  winetest::windowsPath(dir + "/report.txt"), "--list"});
  run.report = winetest::readFile(dir + "/report.txt");
  run.events = winetest::parseReport(run.report);
  ASSERT_RAN(run);
  const Event* header = first(run.events, "header");
  ASSERT_NE(header, nullptr) << run.report;
  EXPECT_EQ(header->at("version"), "257");
  EXPECT_EQ(header->at("description"), "Orlim's Visualizations Volume 1");
  EXPECT_EQ(header->at("same_on_second_call"), "1");
  auto modules = ofKind(run.events, "module");
  ASSERT_EQ(modules.size(), 4u) << run.report;
  std::vector<std::string> renders;
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(modules[i].line);
    EXPECT_EQ(modules[i].at("description"), moduleNames[i]);
    EXPECT_EQ(modules[i].at("latency"), "25");
    EXPECT_EQ(modules[i].at("interval"), "25");
    EXPECT_EQ(modules[i].at("spectrum_channels"), "2");
    EXPECT_EQ(modules[i].at("waveform_channels"), "0");
    EXPECT_EQ(modules[i].at("config") + modules[i].at("init") + modules[i].at("quit"), "111");
    EXPECT_EQ(modules[i].at("data"), "0");
    renders.push_back(modules[i].at("render"));
  }
  std::sort(renders.begin(), renders.end());
  EXPECT_EQ(std::unique(renders.begin(), renders.end()), renders.end())
      << "each module has its own render";
  // Indexes outside 0..3, negative ones included, give no module.
  auto lookups = ofKind(run.events, "lookup");
  ASSERT_EQ(lookups.size(), 3u);
  for (const Event& e : lookups) EXPECT_EQ(e.at("null"), "1") << e.line;
}

class WineHostModule : public ::testing::TestWithParam<int> {};

// One module's whole life as a host drives it, 100 renders in all, with every window
// command, four keys and a resize of the frame to 800 x 600 at (123, 77) halfway.
TEST_P(WineHostModule, RunsInitRendersCommandsResizeAndQuit) {
  REQUIRE_WINE_TOOLS();
  const int index = GetParam();
  const std::string name = moduleNames[index];
  std::string dir = newTestDir("wine-host-" + name);
  HostRun run = runHost(dir, {"--module", std::to_string(index), "--frames", "100", "--commands",
                              "--keys", "--resize", "123,77,800,600", "--config", "--time-ms", "417"});
  ASSERT_RAN(run);
  SCOPED_TRACE("report:\n" + run.report);

  // Every GDI function that makes an object is watched, so the leak checks below see
  // every object the plug-in makes.
  const Event* untracked = first(run.events, "gdi_untracked");
  ASSERT_NE(untracked, nullptr);
  EXPECT_EQ(untracked->at("names"), "") << "the host does not watch these creators";

  // Config: its notice, owned by the host, one OK button; no request.
  auto config = phase(run.events, "config");
  auto configBoxes = ofKind(config, "messagebox");
  ASSERT_EQ(configBoxes.size(), 1u);
  EXPECT_EQ(configBoxes[0].at("caption"), "Configuration");
  EXPECT_EQ(configBoxes[0].at("text"),
            "Version 1.1\n-New module added based on Koch Curves\n\n(No configuration options yet)");
  EXPECT_EQ(configBoxes[0].at("owner"), "host");
  EXPECT_EQ(configBoxes[0].at("buttons"), "1");
  EXPECT_TRUE(requestWords(config).empty());

  // Init: the factory is asked for, called with the 640 x 480 rectangle at 50, 50 (no
  // settings file yet), the frame gets the module's name, the window is announced and
  // the frame shown, in that order; the surface is built during the window's creation
  // (its size notification) and again after the announcement.
  auto init = phase(run.events, "init");
  EXPECT_EQ(kindsAmong(init, {"request", "factory", "frame_text", "frame_show", "init"}),
            (std::vector<std::string>{"request 505/0", "factory", "frame_text", "request 611/vis",
                                      "frame_show", "init"}));
  const Event* factory = first(init, "factory");
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(factory->at("left") + "," + factory->at("top") + "," + factory->at("right") + "," +
                factory->at("bottom"),
            "50,50,690,530");
  EXPECT_EQ(factory->at("flags"), "0");
  EXPECT_EQ(field(init, "frame_text", "text"), name);
  ASSERT_GE(ofKind(init, "request").size(), 2u);
  auto announce = ofKind(init, "request")[1];
  EXPECT_EQ(announce.at("class"), "SimpleVis");
  EXPECT_EQ(announce.at("parent"), "frame");
  EXPECT_EQ(announce.at("style"), "0x56000000");
  EXPECT_EQ(field(init, "init", "result"), "0");
  auto bitmaps = ofKind(init, "bitmap_created");
  ASSERT_FALSE(bitmaps.empty());
  for (const Event& b : bitmaps) {
    EXPECT_EQ(b.at("width") + "x" + b.at("height"), "640x480") << b.line;
    EXPECT_EQ(b.at("planes") + "/" + b.at("bits") + "/" + b.at("data"), "1/32/0") << b.line;
  }
  std::vector<std::string> order = kindsAmong(init, {"request", "bitmap_created"});
  ASSERT_GE(order.size(), 2u);
  EXPECT_EQ(order.back(), "bitmap_created") << "the surface is built after the announcement";
  const Event* cls = first(init, "class_registered");
  ASSERT_NE(cls, nullptr);
  EXPECT_EQ(cls->at("value"), "1");
  const Event* frame = first(init, "frame");
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->at("title"), name);
  EXPECT_EQ(frame->at("visible"), "1");
  EXPECT_EQ(frame->at("left") + "," + frame->at("top"), "50,50");
  EXPECT_EQ(frame->at("client"), "640x480");
  const Event* vis = first(init, "vis");
  ASSERT_NE(vis, nullptr);
  EXPECT_EQ(vis->at("client"), "640x480") << "the host keeps the child filling the frame";
  EXPECT_EQ(vis->at("user_data_is_module"), "1");

  // The first 50 renders: each returns 0, presents once, frees its pens and brushes,
  // and the window then shows exactly the plug-in's surface.
  auto render = phase(run.events, "render");
  expectCleanRenders(first(render, "renders"), 50);
  EXPECT_TRUE(requestWords(render).empty()) << "renders send no request";
  const Event* rendered = first(render, "gdi");
  ASSERT_NE(rendered, nullptr);
  EXPECT_EQ(rendered->at("live_pens") + "/" + rendered->at("live_brushes"), "0/0");
  EXPECT_EQ(rendered->at("live_bitmaps") + "/" + rendered->at("live_memdcs"), "1/1")
      << "exactly one surface alive while running";

  // Window commands. Each row: the command as sent, then the requests it must cause.
  // The toggle starts at 0 in a fresh process; the video answer is the host's.
  struct CommandCase {
    const char* id;
    const char* high;
    std::vector<std::string> requests;
    const char* box;  // caption of the message box it must show, or null
  } cases[] = {
      {"40384", "0xFFFF", {"628/0"}, nullptr},                  // report the toggle: 0
      {"40384", "0x5", {}, nullptr},                            // non-zero argument sets it
      {"40384", "0xFFFF", {"628/1"}, nullptr},                  // ... reported as 1
      {"40384", "0x0", {}, nullptr},                            // zero clears it
      {"40384", "0xFFFF", {"628/0"}, nullptr},                  // ... reported as 0
      {"40389", "0x0", {"501/0", "631/1"}, nullptr},            // no video: full screen
      {"40389", "0x0", {"501/0", "631/1"}, nullptr},            // answer 1 is not video
      {"40389", "0x0", {"501/0"}, "OVis"},                      // answer 2: refused
      {"40382", "0x1", {}, nullptr}, {"40383", "0x1", {}, nullptr},  // the rest of the
      {"40385", "0x1", {}, nullptr}, {"40386", "0x1", {}, nullptr},  // range does nothing
      {"40387", "0x1", {}, nullptr}, {"40388", "0x1", {}, nullptr},
      {"40390", "0x1", {}, nullptr}, {"40391", "0x1", {}, nullptr},
      {"40392", "0x1", {}, nullptr},                            // outside the range
      {"40384", "0xFFFF", {"628/0"}, nullptr},                  // and none touched the toggle
  };
  auto commands = phase(run.events, "commands");
  std::vector<std::vector<Event>> perCommand;
  for (const Event& e : commands) {
    if (e.kind == "command") perCommand.emplace_back();
    else if (!perCommand.empty() && e.kind != "command_done") perCommand.back().push_back(e);
  }
  auto sent = ofKind(commands, "command");
  ASSERT_EQ(sent.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(sent[i].line);
    EXPECT_EQ(sent[i].at("id"), cases[i].id);
    EXPECT_EQ(sent[i].at("high"), cases[i].high);
    EXPECT_EQ(requestWords(perCommand[i]), cases[i].requests);
    auto boxes = ofKind(perCommand[i], "messagebox");
    if (cases[i].box) {
      ASSERT_EQ(boxes.size(), 1u);
      EXPECT_EQ(boxes[0].at("caption"), cases[i].box);
      EXPECT_EQ(boxes[0].at("text"), "Can't go fullscreen while video is playing");
      EXPECT_EQ(boxes[0].at("owner"), "host");
      EXPECT_EQ(boxes[0].at("buttons"), "1");
    } else {
      EXPECT_TRUE(boxes.empty());
    }
  }
  for (const Event& done : ofKind(commands, "command_done")) EXPECT_EQ(done.at("result"), "0");

  // Keys: each arrives at the host's main window as the same message with the same
  // parameters, and the window procedure answers 0.
  auto keys = phase(run.events, "keys");
  auto pressed = ofKind(keys, "key"), arrived = ofKind(keys, "host_key");
  ASSERT_EQ(pressed.size(), 4u);
  ASSERT_EQ(arrived.size(), pressed.size());
  for (size_t i = 0; i < pressed.size(); ++i) {
    EXPECT_EQ(pressed[i].at("result"), "0");
    EXPECT_EQ(arrived[i].at("message") + " " + arrived[i].at("wparam") + " " + arrived[i].at("lparam"),
              pressed[i].at("message") + " " + pressed[i].at("wparam") + " " + pressed[i].at("lparam"));
  }
  EXPECT_TRUE(requestWords(keys).empty());

  // Resize: the old surface goes, one of the frame's new client size comes, and the
  // remaining renders present it whole.
  auto resize = phase(run.events, "resize");
  EXPECT_EQ(kindsAmong(resize, {"memdc_deleted", "bitmap_deleted", "bitmap_created"}),
            (std::vector<std::string>{"memdc_deleted", "bitmap_deleted", "bitmap_created"}));
  for (const Event& d : ofKind(resize, "bitmap_deleted")) EXPECT_EQ(d.at("alive_after"), "0");
  const Event* rebuilt = first(resize, "bitmap_created");
  ASSERT_NE(rebuilt, nullptr);
  EXPECT_EQ(rebuilt->at("width") + "x" + rebuilt->at("height"), "800x600");
  const Event* resized = first(resize, "resized");
  ASSERT_NE(resized, nullptr);
  EXPECT_EQ(resized->at("frame_client"), "800x600");
  EXPECT_EQ(resized->at("vis_client"), "800x600");
  auto after = phase(run.events, "render_after_resize");
  expectCleanRenders(first(after, "renders"), 50);
  const Event* last = first(after, "last_capture");
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->at("width") + "x" + last->at("height"), "800x600");

  // Quit: the window is withdrawn first and is the only request; the settings are on
  // disk before the frame is destroyed (the frame now stands at 123, 77); the loop gets
  // its quit message; nothing the plug-in made is left, nor its class.
  auto quit = phase(run.events, "quit");
  EXPECT_EQ(requestWords(quit), (std::vector<std::string>{"611/0"}));
  EXPECT_EQ(quit.front().kind, "request") << "withdrawing the window comes first";
  const Event* destroyed = first(quit, "frame_destroy");
  ASSERT_NE(destroyed, nullptr);
  EXPECT_EQ(destroyed->at("ini_x") + "," + destroyed->at("ini_y"), "123,77");
  const Event* afterQuit = first(quit, "after_quit");
  ASSERT_NE(afterQuit, nullptr);
  EXPECT_EQ(afterQuit->at("wm_quit"), "1");
  EXPECT_EQ(afterQuit->at("frame_alive") + afterQuit->at("vis_alive"), "00");
  EXPECT_EQ(field(quit, "class_registered", "value"), "0");
  const Event* gdi = first(quit, "gdi");
  ASSERT_NE(gdi, nullptr);
  EXPECT_EQ(gdi->at("live_pens"), "0");
  EXPECT_EQ(gdi->at("live_brushes"), "0");
  EXPECT_EQ(gdi->at("live_bitmaps"), "0");
  EXPECT_EQ(gdi->at("live_memdcs"), "0");
  EXPECT_GT(std::stoi(gdi->at("brushes")), 0) << "the watch saw no brush at all";
  // Wine's GetGuiResources(GR_GDIOBJECTS) answers 0 however many objects exist; where
  // it does count (Windows), it must be back where it started.
  const Event* gui = first(quit, "gui_resources");
  ASSERT_NE(gui, nullptr);
  if (gui->at("after_init") != gui->at("before")) {
    EXPECT_EQ(gui->at("after_quit"), gui->at("before"));
  }

  // The settings file beside the DLL: the module's section with both keys, nothing else.
  std::vector<std::string> ini;
  for (const Event& e : ofKind(quit, "ini_line"))
    if (!e.at("text").empty()) ini.push_back(e.at("text"));
  EXPECT_EQ(ini, (std::vector<std::string>{"[" + name + "]", "Screen_x=123", "Screen_y=77"}));

  EXPECT_EQ(field(run.events, "messageboxes", "count"), "2");
}

INSTANTIATE_TEST_SUITE_P(AllModules, WineHostModule, ::testing::Range(0, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(moduleNames[info.param]);
                         });

// A host without a frame factory: the notice, result 1, and nothing built.
TEST(WineHost, NoFactoryGivesTheWinamp5Message) {
  REQUIRE_WINE_TOOLS();
  std::string dir = newTestDir("wine-host-no-factory");
  HostRun run = runHost(dir, {"--module", "3", "--no-factory"});
  ASSERT_RAN(run);
  SCOPED_TRACE("report:\n" + run.report);
  auto init = phase(run.events, "init");
  EXPECT_EQ(requestWords(init), (std::vector<std::string>{"505/0"}));
  auto boxes = ofKind(init, "messagebox");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].at("caption"), "blah");
  EXPECT_EQ(boxes[0].at("text"), "This plugin requires Winamp 5.0+");
  EXPECT_EQ(boxes[0].at("owner"), "host");
  EXPECT_EQ(boxes[0].at("buttons"), "1");
  EXPECT_EQ(field(init, "init", "result"), "1");
  EXPECT_EQ(field(init, "windows", "frame") + field(init, "windows", "vis"), "00");
  EXPECT_EQ(field(init, "class_registered", "value"), "0");
  EXPECT_EQ(first(init, "factory"), nullptr);
  const Event* gdi = first(init, "gdi");
  ASSERT_NE(gdi, nullptr);
  EXPECT_EQ(gdi->at("bitmaps") + gdi->at("memdcs"), "00") << "no surface without a window";
  EXPECT_EQ(field(init, "ini_file", "exists"), "0");
}

// The settings file across runs of one DLL copy: a module's saved corner is where its
// next frame opens; another module's run keeps its own section beside it.
TEST(WineHost, SavedPositionsAreReadBackPerModule) {
  REQUIRE_WINE_TOOLS();
  std::string dir = newTestDir("wine-host-settings");
  HostRun ambrith = runHost(dir, {"--module", "2", "--frames", "10", "--interval", "0", "--resize",
                                  "140,90,700,500"});
  ASSERT_RAN(ambrith);
  HostRun tovanel = runHost(dir, {"--module", "3", "--frames", "10", "--interval", "0"});
  ASSERT_RAN(tovanel);
  HostRun again = runHost(dir, {"--module", "2", "--frames", "10", "--interval", "0"});
  ASSERT_RAN(again);
  SCOPED_TRACE("last report:\n" + again.report);

  // Tovanel had no section: 50, 50.
  const Event* tf = first(phase(tovanel.events, "init"), "factory");
  ASSERT_NE(tf, nullptr);
  EXPECT_EQ(tf->at("left") + "," + tf->at("top") + "," + tf->at("right") + "," + tf->at("bottom"),
            "50,50,690,530");
  // Ambrith's second run opens where the first one's frame was left, 640 x 480.
  const Event* af = first(phase(again.events, "init"), "factory");
  ASSERT_NE(af, nullptr);
  EXPECT_EQ(af->at("left") + "," + af->at("top") + "," + af->at("right") + "," + af->at("bottom"),
            "140,90,780,570");
  const Event* frame = first(phase(again.events, "init"), "frame");
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->at("left") + "," + frame->at("top"), "140,90");

  // Blank lines between sections are the profile writer's business, not the plug-in's.
  std::vector<std::string> ini;
  for (const Event& e : ofKind(again.events, "ini_line"))
    if (!e.at("text").empty()) ini.push_back(e.at("text"));
  EXPECT_EQ(ini, (std::vector<std::string>{"[Ambrith]", "Screen_x=140", "Screen_y=90",
                                           "[Tovanel]", "Screen_x=50", "Screen_y=50"}));
}

// Two modules one after the other in one process, as a host switches effects: the
// second init succeeds (the first quit unregistered the window class), and the values
// init does not reset come along: the toggle the first run set, and the frame corner
// it left, which the second module (no section of its own yet) opens at.
TEST(WineHost, SecondModuleInOneProcessInheritsSharedValues) {
  REQUIRE_WINE_TOOLS();
  std::string dir = newTestDir("wine-host-two-modules");
  HostRun run = runHost(dir, {"--module", "3", "--frames", "10", "--interval", "0", "--resize",
                              "123,77,800,600", "--then-module", "0"});
  ASSERT_RAN(run);
  SCOPED_TRACE("report:\n" + run.report);
  EXPECT_TRUE(requestWords(phase(run.events, "carry")).empty());
  EXPECT_EQ(requestWords(phase(run.events, "quit")), (std::vector<std::string>{"611/0"}));

  auto init = phase(run.events, "second_init");
  EXPECT_EQ(requestWords(init), (std::vector<std::string>{"505/0", "611/vis"}));
  EXPECT_TRUE(ofKind(init, "messagebox").empty()) << "the class was left registered";
  ASSERT_NE(first(init, "init"), nullptr);
  EXPECT_EQ(field(init, "init", "result"), "0");
  const Event* factory = first(init, "factory");
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(factory->at("left") + "," + factory->at("top") + "," + factory->at("right") + "," +
                factory->at("bottom"),
            "123,77,763,557")
      << "640 x 480 again, at the corner the first run left";
  EXPECT_EQ(field(init, "frame_text", "text"), "Zarvenn");
  const Event* renders = first(phase(run.events, "second_render"), "renders");
  ASSERT_NE(renders, nullptr);
  EXPECT_EQ(renders->at("count"), "5");
  EXPECT_EQ(renders->at("leaking_renders") + renders->at("mismatched") + renders->at("marked"), "000");
  EXPECT_EQ(requestWords(phase(run.events, "second_toggle")), (std::vector<std::string>{"628/1"}));

  auto quit = phase(run.events, "second_quit");
  EXPECT_EQ(requestWords(quit), (std::vector<std::string>{"611/0"}));
  EXPECT_EQ(field(quit, "class_registered", "value"), "0");
  const Event* gdi = first(quit, "gdi");
  ASSERT_NE(gdi, nullptr);
  EXPECT_EQ(gdi->at("live_pens") + gdi->at("live_brushes") + gdi->at("live_bitmaps") +
                gdi->at("live_memdcs"),
            "0000");
  std::vector<std::string> ini;
  for (const Event& e : ofKind(quit, "ini_line"))
    if (!e.at("text").empty()) ini.push_back(e.at("text"));
  EXPECT_EQ(ini, (std::vector<std::string>{"[Tovanel]", "Screen_x=123", "Screen_y=77",
                                           "[Zarvenn]", "Screen_x=123", "Screen_y=77"}));
}

// Bad invocations end with a message and a non-zero status, before anything runs.
TEST(WineHost, RefusesBadInput) {
  REQUIRE_WINE_TOOLS();
  std::string dir = newTestDir("wine-host-bad-input");
  writeFile(dir + "/short.bin", std::string(1000, '\1'));  // not a whole 1152-byte frame
  const std::string dll = windowsPath(dir + "/vis_orlim.dll");
  const std::string report = windowsPath(dir + "/report.txt");
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      // a spectrum file that is not whole frames
      {{"--dll", dll, "--report", report, "--spectrum", windowsPath(dir + "/short.bin")}, 2,
       "not a whole non-zero number of 1152-byte frames"},
      // a spectrum file that does not exist
      {{"--dll", dll, "--report", report, "--spectrum", windowsPath(dir + "/none.bin")}, 2,
       "cannot open the spectrum file"},
      // no DLL at that path
      {{"--dll", windowsPath(dir + "/missing.dll"), "--report", report, "--list"}, 3,
       "LoadLibraryA"},
      // a negative module index, and an unknown option
      {{"--dll", dll, "--report", report, "--list", "--module", "-1"}, 2, "non-negative"},
      {{"--dll", dll, "--report", report, "--lsit"}, 2, "unknown argument --lsit"},
  };
  for (const Case& c : cases) {
    RunResult r = runWine(programPath("vis_host.exe"), c.args);
    EXPECT_EQ(r.status, c.status) << c.message << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}
