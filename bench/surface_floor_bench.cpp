// Each effect's heaviest frame on a big surface, as a multiple of the floor: the time
// the memory system needs to write the pixels the frame writes and to copy the whole
// surface once (the present), measured side by side in the same run. A frame near 1x
// spends its time writing pixels it must; far above, the raster wastes time elsewhere.
//
// The frame: every band 255 in both channels (the loudest input), after 3 s of it to
// let sizes settle, presented into a real top-level window as the host sees it. The
// written share: before a frame every pixel's unused top byte is set, and the pixels
// that come out with it cleared are the ones the frame wrote (the raster stores
// 0x00RRGGBB). Counters: floor_ms, frame_ms, x_floor, written (share of the surface).
// Times are the thread's CPU time, medians of the frames and of the floor's rounds, so
// that other programs on a busy machine weigh on neither side.
#include <benchmark/benchmark.h>

#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "draw/draw_surface.h"
#include "effect_surface.h"
#include "modules/modules.h"
#include "state/vis_state.h"
#include "vis_header.h"
#include "visplatform.h"

namespace {

using RenderFn = int (*)(VisModule*);
// The calling thread's CPU time in milliseconds.
double cpuMillis() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The memory floor of a surface of `pixels`: a write of every pixel (a fill) and,
// separately, a copy of every pixel into a second buffer, medians of a few rounds.
void measureFloor(size_t pixels, double* writeMs, double* copyMs) {
  std::vector<uint32_t> a(pixels, 1), b(pixels, 2);
  std::vector<double> writes, copies;
  for (int round = 0; round < 9; ++round) {
    double t = cpuMillis();
    std::fill(a.begin(), a.end(), static_cast<uint32_t>(round));
    benchmark::DoNotOptimize(a.data());
    benchmark::ClobberMemory();
    writes.push_back(cpuMillis() - t);
    t = cpuMillis();
    memcpy(b.data(), a.data(), pixels * sizeof(uint32_t));
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
    copies.push_back(cpuMillis() - t);
  }
  *writeMs = median(writes);
  *copyMs = median(copies);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

void heaviestFrame(benchmark::State& state, RenderFn render, int width, int height) {
  HINSTANCE const instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x7350000));
  WNDCLASSA wc = {};
  wc.lpfnWndProc = windowProc;
  wc.hInstance = instance;
  wc.lpszClassName = "FloorBench";
  RegisterClassA(&wc);
  HWND window = CreateWindowExA(0, "FloorBench", "", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                                nullptr, instance, nullptr);
  startEffect(width, height, 12345, window);
  VisModule loud{};
  loud.channels = 2;
  memset(loud.spectrum, 255, sizeof loud.spectrum);
  for (int n = 0; n < 120; ++n) render(&loud);

  VisPixels surface;
  visBitmapPixels(drawSurface.bitmap, &surface);
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::vector<double> frameTimes;
  double writtenShare = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (size_t i = 0; i < pixels; ++i) surface.pixels[i] |= 0xff000000u;
    state.ResumeTiming();
    const double t = cpuMillis();
    benchmark::DoNotOptimize(render(&loud));
    frameTimes.push_back(cpuMillis() - t);
    state.PauseTiming();
    size_t written = 0;
    for (size_t i = 0; i < pixels; ++i) written += (surface.pixels[i] >> 24) == 0;
    writtenShare += static_cast<double>(written) / static_cast<double>(pixels);
    state.ResumeTiming();
  }
  double writeMs, copyMs;
  measureFloor(pixels, &writeMs, &copyMs);
  const double frameMs = median(frameTimes);
  writtenShare /= static_cast<double>(frameTimes.size());
  const double floorMs = writeMs * writtenShare + copyMs;
  state.counters["frame_ms"] = frameMs;
  state.counters["floor_ms"] = floorMs;
  state.counters["x_floor"] = frameMs / floorMs;
  state.counters["written"] = writtenShare;

  releaseSurface();
  DestroyWindow(window);
  UnregisterClassA("FloorBench", instance);
}

struct Registrar {
  Registrar() {
    const struct {
      const char* name;
      RenderFn render;
    } effects[] = {{"Zarvenn", renderZarvenn}, {"Pellox", renderPellox}, {"Ambrith", renderAmbrith},
                   {"Tovanel", renderTovanel}};
    const struct {
      int width, height;
    } sizes[] = {{1920, 1080}, {3840, 2160}};
    for (const auto& e : effects) {
      for (const auto& s : sizes) {
        const std::string name = std::string("Floor/") + e.name + "/" + std::to_string(s.width) + "x" +
                                 std::to_string(s.height);
        benchmark::RegisterBenchmark(name.c_str(), heaviestFrame, e.render, s.width, s.height)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(40);
      }
    }
  }
} registrar;

}  // namespace
