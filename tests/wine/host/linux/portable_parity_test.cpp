// The real DLL under Wine against the same plug-in code on the portable layer: the
// same module, seed and spectrum must give the same surface pixels frame after frame,
// and the window commands must cause the same requests and message boxes.
//
// The Wine side is vis_host.exe with the generator's seed fixed through its
// GetSystemTime override; the portable side is the plug-in core linked into this test
// and driven by the portable test host, with the portable layer's time override.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <iostream>
#include <string>
#include <vector>

#include "draw/draw_surface.h"
#include "state/vis_state.h"
#include "test_host.h"
#include "vis_header.h"
#include "visdiff.h"
#include "visplatform.h"
#include "wine_run.h"

using namespace winetest;

namespace {

const char* moduleNames[] = {"Zarvenn", "Pellox", "Ambrith", "Tovanel"};
const int kFrames = 40;        // silence, full scale, then music (see spectrumFrames)
const int kCompareEvery = 4;   // frames whose surfaces are compared
const int kSeedMillis = 417;
const int kTraceFrame = 12;    // a full-scale frame whose drawing calls are compared

// Nothing may differ: the DLL and the portable build run the same plug-in code with
// the same arithmetic (SSE2 doubles, no fused multiply-add) and the plug-in's own
// correctly rounded sin, cos and atan2, so every truncated coordinate lands on the
// same pixel. Any compared frame that differs fails, with a PNG marking where.

// The drawing calls of one render on the portable layer, in vis_host's wording: the
// operation and its numbers, without the DC serial; Polygon continuation lines joined.
std::vector<std::string> portableCalls;

void collectCall(void*, const char* line) {
  std::string text = line;
  if (text.rfind("+", 0) == 0) {
    if (!portableCalls.empty()) portableCalls.back() += text.substr(1);
    return;
  }
  for (const char* op : {"MoveToEx #", "LineTo #", "Ellipse #", "Polygon #"}) {
    if (text.rfind(op, 0) != 0) continue;
    size_t serialEnd = text.find(' ', strlen(op));
    portableCalls.push_back(std::string(op, strlen(op) - 2) +
                            (serialEnd == std::string::npos ? "" : text.substr(serialEnd)));
  }
}

// Reads the binary PPM that vis_host writes; false with a reason on anything else.
bool readPpm(const std::string& path, visdiff::Image* image, std::string* error) {
  std::string bytes = readFile(path);
  int w, h, max, consumed = 0;
  if (sscanf(bytes.c_str(), "P6 %d %d %d%n", &w, &h, &max, &consumed) != 3 || max != 255 ||
      w < 1 || h < 1) {
    *error = path + " is not a PPM from vis_host";
    return false;
  }
  size_t at = static_cast<size_t>(consumed) + 1;  // one whitespace byte after the maximum
  if (bytes.size() != at + static_cast<size_t>(w) * h * 3) {
    *error = path + " is cut short";
    return false;
  }
  image->width = w;
  image->height = h;
  image->pixels.resize(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < image->pixels.size(); ++i) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(&bytes[at + i * 3]);
    image->pixels[i] = (p[0] << 16) | (p[1] << 8) | p[2];
  }
  return true;
}

// The portable surface as an image the diff works on.
visdiff::Image imageOf(const VisPixels& pixels) {
  visdiff::Image image;
  image.width = pixels.width;
  image.height = pixels.height;
  for (int y = 0; y < pixels.height; ++y)
    for (int x = 0; x < pixels.width; ++x)
      image.pixels.push_back(pixels.pixels[y * pixels.stride + x] & 0xffffff);
  return image;
}

// The command sequence vis_host sends with --commands, and the video answer in force
// for each (the host's answer is 0 outside the full-screen rows).
struct Command {
  WORD id, high;
  LRESULT video;
};
const Command commands[] = {
    {40384, 0xFFFF, 0}, {40384, 5, 0}, {40384, 0xFFFF, 0}, {40384, 0, 0}, {40384, 0xFFFF, 0},
    {40389, 0, 0},      {40389, 0, 1}, {40389, 0, 2},      {40382, 1, 0}, {40383, 1, 0},
    {40385, 1, 0},      {40386, 1, 0}, {40387, 1, 0},      {40388, 1, 0}, {40390, 1, 0},
    {40391, 1, 0},      {40392, 1, 0}, {40384, 0xFFFF, 0},
};

// What one command caused, as words: "request code/wparam" or "box caption|text".
std::vector<std::string> wineEffects(const std::vector<Event>& afterCommand) {
  std::vector<std::string> out;
  for (const Event& e : afterCommand) {
    if (e.kind == "request") out.push_back("request " + e.at("code") + "/" + e.at("wparam"));
    if (e.kind == "messagebox") out.push_back("box " + e.at("caption") + "|" + e.at("text"));
  }
  return out;
}

class PortableParity : public ::testing::TestWithParam<int> {};

TEST_P(PortableParity, SurfacesAndCommandsMatchTheDllUnderWine) {
  REQUIRE_WINE_TOOLS();
  const int index = GetParam();
  const std::string dir = newTestDir(std::string("wine-parity-") + moduleNames[index]);
  const std::string capture = dir + "/capture";
  ASSERT_EQ(system(("mkdir -p '" + capture + "'").c_str()), 0);
  HostRun run = runHost(dir, {"--module", std::to_string(index), "--frames", std::to_string(kFrames),
                              "--interval", "0", "--time-ms", std::to_string(kSeedMillis),
                              "--capture", windowsPath(capture), "--capture-every",
                              std::to_string(kCompareEvery), "--trace-frame",
                              std::to_string(kTraceFrame), "--commands"});
  ASSERT_RAN(run);

  // The same run on the portable layer, from the state a freshly loaded library has.
  resetVisStateForTests();
  SYSTEMTIME time = {};
  time.wYear = 2026;
  time.wMonth = 1;
  time.wDay = 1;
  time.wMilliseconds = kSeedMillis;
  visSetSystemTimeOverride(&time);
  TestHost host;
  VisModule* module = lookupModule(index);
  ASSERT_NE(module, nullptr);
  host.attach(module);
  ASSERT_EQ(module->init(module), 0);
  host.pump();
  const std::string spectrum = spectrumFrames();
  int compared = 0, differingFrames = 0;
  std::string report;
  for (int frame = 0; frame < kFrames; ++frame) {
    memcpy(module->spectrum, &spectrum[static_cast<size_t>(frame) * 1152], 1152);
    module->channels = 2;
    if (frame == kTraceFrame) visSetTraceSink(collectCall, nullptr);
    module->render(module);
    visSetTraceSink(nullptr, nullptr);
    host.pump();
    if (frame % kCompareEvery) continue;
    char name[64];
    snprintf(name, sizeof name, "/surface_%04d.ppm", frame);
    visdiff::Image wine;
    std::string error;
    ASSERT_TRUE(readPpm(capture + name, &wine, &error)) << error;
    // Only the captures that show a difference are worth keeping, as a marked PNG.
    remove((capture + name).c_str());
    snprintf(name, sizeof name, "/window_%04d.ppm", frame);
    remove((capture + name).c_str());
    VisPixels pixels;
    ASSERT_TRUE(visBitmapPixels(drawSurface.bitmap, &pixels));
    const visdiff::Image ours = imageOf(pixels);
    const visdiff::Diff diff = visdiff::diffImages(wine, ours, 5);
    ASSERT_GE(diff.count, 0) << "sizes differ: Wine " << wine.width << "x" << wine.height
                             << ", portable " << ours.width << "x" << ours.height;
    ++compared;
    if (diff.count) {
      ++differingFrames;
      const std::string png = dir + "/frame_" + std::to_string(frame) + "_diff.png";
      visdiff::writeDiffPng(png, wine, ours, &error);
      report += "frame " + std::to_string(frame) + ": " + std::to_string(diff.count) +
                " pixels differ (" + png + ")\n" + visdiff::describe(diff);
    }
  }
  EXPECT_EQ(compared, kFrames / kCompareEvery);
  EXPECT_EQ(differingFrames, 0) << moduleNames[index] << ", seed " << kSeedMillis << ":\n"
                                << report;

  // The drawing calls of the traced frame, call by call: where these differ, the
  // plug-in's own arithmetic went another way on the DLL; where they agree and the
  // pixels do not, the rasters differ.
  std::vector<std::string> wineCalls;
  for (const Event& e : ofKind(run.events, "gdi_call")) wineCalls.push_back(e.at("text"));
  EXPECT_FALSE(wineCalls.empty()) << "no drawing calls traced";
  size_t sameCalls = 0;
  while (sameCalls < wineCalls.size() && sameCalls < portableCalls.size() &&
         wineCalls[sameCalls] == portableCalls[sameCalls])
    ++sameCalls;
  const bool callsDiffer = sameCalls < wineCalls.size() || sameCalls < portableCalls.size();
  EXPECT_FALSE(callsDiffer) << "the first drawing call that differs is " << sameCalls;
  if (callsDiffer) {
    std::cout << "frame " << kTraceFrame << ": " << wineCalls.size() << " calls on the DLL, "
              << portableCalls.size() << " on the portable build; the first difference is call "
              << sameCalls << ": DLL \""
              << (sameCalls < wineCalls.size() ? wineCalls[sameCalls] : "(none)")
              << "\", portable \""
              << (sameCalls < portableCalls.size() ? portableCalls[sameCalls] : "(none)") << "\"\n";
  }
  portableCalls.clear();

  // The commands, after the renders as in the Wine run.
  std::vector<std::vector<Event>> perCommand;
  for (const Event& e : phase(run.events, "commands")) {
    if (e.kind == "command") perCommand.emplace_back();
    else if (!perCommand.empty()) perCommand.back().push_back(e);
  }
  ASSERT_EQ(perCommand.size(), std::size(commands));
  for (size_t i = 0; i < std::size(commands); ++i) {
    host.clearEvents();
    host.videoPlaying = commands[i].video;
    host.command(commands[i].id, commands[i].high);
    host.pump();
    std::vector<std::string> ours;
    for (const HostEvent& e : host.events) {
      if (e.kind == HostEvent::kRequest)
        ours.push_back("request " + std::to_string(e.lParam) + "/" + std::to_string(e.wParam));
      if (e.kind == HostEvent::kMessageBox) ours.push_back("box " + e.caption + "|" + e.text);
    }
    EXPECT_EQ(ours, wineEffects(perCommand[i]))
        << "command " << commands[i].id << " with 0x" << std::hex << commands[i].high;
  }
  module->quit(module);
  host.pump();
  visSetSystemTimeOverride(nullptr);
}

INSTANTIATE_TEST_SUITE_P(AllModules, PortableParity, ::testing::Range(0, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(moduleNames[info.param]);
                         });

}  // namespace
