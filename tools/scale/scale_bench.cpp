// What scaling the drawing up costs per output frame, beside the floor of writing the
// output's pixels once (a memset of the frame) measured in the same run: a 960x540
// drawing to 1920x1080 and to 3840x2160, nearest and smooth, as rows handed out band by
// band (a video's or a PNG's path) and into a frame (a window's). Counters: ms a frame
// and x_floor, the multiple of the floor. Times are the thread's CPU time, so other
// programs on a busy machine weigh on neither side.
#include <benchmark/benchmark.h>
#include <string.h>
#include <time.h>

#include <vector>

#include "output/frame_scale.h"

namespace {
double cpuMillis() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// args: output width, output height, filter (0 nearest, 1 smooth), path (0 rows, 1 frame)
void ScaleUp(benchmark::State& state) {
  const int w = (int)state.range(0), h = (int)state.range(1);
  const ScaleFilter filter = state.range(2) ? ScaleFilter::Smooth : ScaleFilter::Nearest;
  const FrameSizes sizes = frameSizesFor(w, h, SCALE_AUTO);
  std::vector<uint32_t> drawing((size_t)sizes.drawWidth * sizes.drawHeight);
  for (size_t i = 0; i < drawing.size(); ++i) drawing[i] = (uint32_t)(i * 2654435761u) & 0xFFFFFF;
  const FrameView drawn{drawing.data(), sizes.drawWidth, sizes.drawHeight, sizes.drawWidth};
  FrameScaler scaler;
  scaler.setUp(w, h, sizes.factor, filter);
  std::vector<uint32_t> frame((size_t)w * h);
  double scaled = 0, floor = 0;
  int frames = 0;
  uint32_t sink = 0;
  for (auto _ : state) {
    double t0 = cpuMillis();
    if (state.range(3)) {
      scaler.scaleInto(drawn, frame.data(), w);
      sink += frame[(size_t)w * h / 2];
    } else {
      for (int y = 0, count = 0; y < h; y += count) sink += scaler.rows(drawn, y, &count)[0];
    }
    double t1 = cpuMillis();
    memset(frame.data(), (int)(sink & 1), frame.size() * 4);
    benchmark::DoNotOptimize(frame.data());
    double t2 = cpuMillis();
    scaled += t1 - t0;
    floor += t2 - t1;
    ++frames;
  }
  benchmark::DoNotOptimize(sink);
  state.counters["ms"] = scaled / frames;
  state.counters["floor_ms"] = floor / frames;
  state.counters["x_floor"] = scaled / floor;
}
}  // namespace

BENCHMARK(ScaleUp)
    ->ArgNames({"w", "h", "smooth", "frame"})
    ->Args({1920, 1080, 0, 0})
    ->Args({3840, 2160, 0, 0})
    ->Args({3840, 2160, 0, 1})
    ->Args({1920, 1080, 1, 0})
    ->Args({3840, 2160, 1, 0})
    ->Unit(benchmark::kMillisecond);
