// One frame of each effect, at 640 x 480 and 1920 x 1080, for three inputs: silence
// (every band 0), the worst case (every band 255 in every frame) and a music-like
// sequence of spectra from a synthetic signal. Frames run back to back on one state,
// as the host runs them, after a short warm-up that lets sizes and levels settle; the
// trace is off, as in a real run.
#include <benchmark/benchmark.h>

#include <string.h>

#include <string>
#include <vector>

#include "draw/draw_surface.h"
#include "effect_surface.h"
#include "modules/modules.h"
#include "state/vis_state.h"
#include "synthetic_music.h"
#include "vis_header.h"

namespace {

using RenderFn = int (*)(VisModule*);

enum Input { kSilence, kWorstCase, kMusic };

// Eight seconds of music, made once; the benchmark loops over it.
const std::vector<VisModule>& musicFrames() {
  static const std::vector<VisModule> frames = [] {
    std::vector<VisModule> out(320);
    for (size_t n = 0; n < out.size(); ++n) {
      out[n] = VisModule{};
      out[n].channels = 2;
      syntheticMusicFrame(static_cast<int>(n), out[n].spectrum);
    }
    return out;
  }();
  return frames;
}

void runEffect(benchmark::State& state, RenderFn render, int width, int height, Input input) {
  startEffect(width, height, 12345);

  VisModule fixed{};
  fixed.channels = 2;
  memset(fixed.spectrum, input == kWorstCase ? 255 : 0, sizeof fixed.spectrum);
  static const std::vector<VisModule> none;
  const std::vector<VisModule>& music = input == kMusic ? musicFrames() : none;
  size_t next = 0;
  auto frameInput = [&]() -> VisModule* {
    if (input != kMusic) return &fixed;
    VisModule* m = const_cast<VisModule*>(&music[next]);
    next = (next + 1) % music.size();
    return m;
  };
  for (int n = 0; n < 120; ++n) render(frameInput());  // 3 s to settle

  for (auto _ : state) {
    benchmark::DoNotOptimize(render(frameInput()));
    benchmark::ClobberMemory();
  }
  releaseSurface();
}

struct Registrar {
  Registrar() {
    struct Effect {
      const char* name;
      RenderFn render;
    };
    const Effect effects[] = {{"Zarvenn", renderZarvenn},
                              {"Pellox", renderPellox},
                              {"Ambrith", renderAmbrith},
                              {"Tovanel", renderTovanel}};
    struct Size {
      int width, height;
    };
    const Size sizes[] = {{640, 480}, {1920, 1080}};
    struct Kind {
      const char* name;
      Input input;
    };
    const Kind kinds[] = {{"silence", kSilence}, {"worst", kWorstCase}, {"music", kMusic}};
    for (const Effect& e : effects) {
      for (const Size& s : sizes) {
        for (const Kind& k : kinds) {
          const std::string name = std::string(e.name) + "/" + std::to_string(s.width) + "x" +
                                   std::to_string(s.height) + "/" + k.name;
          benchmark::RegisterBenchmark(name.c_str(), runEffect, e.render, s.width, s.height, k.input)
              ->Unit(benchmark::kMicrosecond);
        }
      }
    }
  }
} registrar;

}  // namespace
