// vis_wine_bench: how much faster the portable raster draws the effects than Wine's GDI.
// For each effect it renders the worst-case frames (every band 255, the input that
// draws the most: the deepest snowflakes, the widest pens, the largest discs and
// polygons) at 640 x 480 on our layer, timing the frames with the trace off, and
// records the same frames' GDI calls as a trace, which the replayer performs under Wine
// with --time (the trace is read into memory first; the replayer reports the whole
// loop and the GDI calls alone). It prints milliseconds per frame for both and the
// ratio. Run through tools/scripts/bench_wine.sh; not a test.
//
//   vis_wine_bench REPLAYER.exe WORKDIR
//
// WINEPREFIX, if set, is passed on to Wine.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "draw/draw_surface.h"
#include "effect_surface.h"
#include "modules/modules.h"
#include "oracle.h"
#include "state/vis_state.h"
#include "synthetic_music.h"
#include "vis_header.h"

namespace {

using RenderFn = int (*)(VisModule*);
struct Effect {
  const char* name;
  RenderFn render;
  int frames;  // a loud Zarvenn frame is 64,512 lines: about a second of Wine each
};
const Effect kEffects[] = {{"Zarvenn", renderZarvenn, 10},
                           {"Pellox", renderPellox, 100},
                           {"Ambrith", renderAmbrith, 100},
                           {"Tovanel", renderTovanel, 100}};
const int kWidth = 640, kHeight = 480;

// A fresh state and surface, the same before every run of an effect's frames.
void start() { startEffect(kWidth, kHeight, 777); }

// The inputs, made before any timing: every band 255, or the synthetic music (from
// 4 s in, past its quiet start).
std::vector<VisModule> inputs(bool loud, int frames) {
  std::vector<VisModule> out(frames);
  for (int n = 0; n < frames; ++n) {
    out[n] = VisModule{};
    out[n].channels = 2;
    if (loud) {
      memset(out[n].spectrum, 255, sizeof out[n].spectrum);
    } else {
      syntheticMusicFrame(160 + n, out[n].spectrum);
    }
  }
  return out;
}

void runFrames(const Effect& e, std::vector<VisModule>& frames) {
  for (VisModule& m : frames) e.render(&m);
}

double seconds() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: vis_wine_bench REPLAYER.exe WORKDIR\n");
    return 2;
  }
  const std::string replayer = argv[1], dir = argv[2];
  struct stat info;
  if (stat(replayer.c_str(), &info) != 0) {
    fprintf(stderr, "vis_wine_bench: %s is missing: build the mingw-i686 preset first\n", replayer.c_str());
    return 1;
  }
  if (stat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    fprintf(stderr, "vis_wine_bench: %s is not a directory\n", dir.c_str());
    return 1;
  }
  printf("%d x %d, ms per frame; loud (every band 255) is each effect's worst case, music for comparison\n",
         kWidth, kHeight);
  printf("%-8s %-6s %6s %10s %14s %12s %12s %10s %10s\n", "effect", "input", "frames", "trace MB", "portable", "wine gdi",
         "wine loop", "gdi/ours", "loop/ours");
  bool allFast = true;
  for (const Effect& e : kEffects) {
   for (const bool loud : {true, false}) {
    std::vector<VisModule> frames = inputs(loud, e.frames);
    // Ours: the best of five runs, each from the same fresh state, trace off.
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
      start();
      const double t0 = seconds();
      runFrames(e, frames);
      best = std::min(best, seconds() - t0);
      releaseSurface();
    }
    const double oursMs = best * 1000.0 / e.frames;

    // The same frames as a trace.
    std::string trace;
    {
      oracle::Recorder rec;
      start();
      runFrames(e, frames);
      releaseSurface();
      trace = rec.trace();
    }
    const std::string base = dir + "/" + e.name + (loud ? "-loud" : "-music");
    const std::string tracePath = base + ".trace";
    const std::string dumpPath = base + ".bin";
    const std::string logPath = base + ".log";
    FILE* f = fopen(tracePath.c_str(), "wb");
    if (!f || fwrite(trace.data(), 1, trace.size(), f) != trace.size() || fclose(f) != 0) {
      fprintf(stderr, "vis_wine_bench: cannot write %s\n", tracePath.c_str());
      return 1;
    }
    std::string command = "env -u DISPLAY WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' wine " +
                          quoted(replayer) + " --time " + quoted(tracePath) + " " + quoted(dumpPath) +
                          " >" + quoted(logPath) + " 2>&1";
    if (system(command.c_str()) != 0) {
      fprintf(stderr, "vis_wine_bench: the replayer failed on %s (see %s)\n", tracePath.c_str(),
              logPath.c_str());
      return 1;
    }
    double loopMs = -1, gdiMs = -1;
    long lines = 0, dumps = 0;
    if (FILE* l = fopen(logPath.c_str(), "rb")) {
      char buffer[4096];
      while (fgets(buffer, sizeof buffer, l)) {
        if (sscanf(buffer, "replay: %ld lines, loop %lf ms, gdi %lf ms, %ld dumps", &lines, &loopMs,
                   &gdiMs, &dumps) == 4) {
          break;
        }
      }
      fclose(l);
    }
    if (gdiMs < 0) {
      fprintf(stderr, "vis_wine_bench: no timing line from the replayer in %s\n", logPath.c_str());
      return 1;
    }
    remove(tracePath.c_str());
    remove(dumpPath.c_str());
    const double wineGdi = gdiMs / e.frames, wineLoop = loopMs / e.frames;
    printf("%-8s %-6s %6d %10.1f %14.3f %12.3f %12.3f %9.1fx %9.1fx\n", e.name, loud ? "loud" : "music", e.frames,
           trace.size() / 1e6, oursMs, wineGdi, wineLoop, wineGdi / oursMs, wineLoop / oursMs);
    if (loud && wineGdi / oursMs < 10) allFast = false;
   }
  }
  printf("goal: the portable raster at least 10x faster than Wine's GDI calls on every effect's worst case: %s\n",
         allFast ? "met" : "NOT met");
  printf("(portable: the effect's whole frame, its own arithmetic included, trace off, best of 5;\n"
         " wine gdi: the GDI calls alone; wine loop: the replay loop, tokenizing included)\n");
  return 0;
}
