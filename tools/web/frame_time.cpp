// Each effect's frame time through a host's calls (init once, then render per frame,
// the frame presented to the host's window each time), from the same source natively
// and in a browser, so tools/scripts/bench_web.py can put the two side by side. The spectra
// are the synthetic music of the effects' tests; the clock the plug-in seeds from is
// pinned, so both builds draw the same frames.
//
// Natively: web_frame_time PLUGIN WIDTH HEIGHT FRAMES loads the real vis_orlim.so as a
// media player does and prints "name milliseconds-per-frame" per effect. In the browser
// (bench.html): benchFrameTime() on the plug-in linked into the WebAssembly.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "host/host_windows.h"
#include "synthetic_music.h"
#include "vis_header.h"
#include "visplatform.h"

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>  // EMSCRIPTEN_KEEPALIVE, emscripten_get_now
#endif

namespace {

double nowMillis() {
#ifdef __EMSCRIPTEN__
  return emscripten_get_now();
#else
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
#endif
}

class Bench : private HostWindowsListener {
 public:
  explicit Bench(VisHeader* header) : header_(header) {
    std::string error;
    ok_ = header_ && windows_.create(HostWindowsStyle(), &error);
  }
  const char* name(int module) {
    VisModule* m = header_->lookupModule(module);
    return m && m->description ? m->description : "";
  }
  // Milliseconds per frame over `frames` frames after a warm-up; -1 when the module
  // does not start.
  double frameTime(int module, int width, int height, int frames) {
    VisModule* m = ok_ ? header_->lookupModule(module) : nullptr;
    if (!m) return -1;
    SYSTEMTIME time = {};
    time.wYear = 2000;
    time.wMonth = 1;
    time.wDay = 1;
    time.wMilliseconds = 7;
    visSetSystemTimeOverride(&time);
    windows_.setPreferredFrameSize(width, height);
    windows_.attach(m, instance_);
    m->channels = 2;
    if (m->init(m) != 0) return -1;
    windows_.pump();
    // The spectra are made before the clock starts: the synthetic music's own sin and
    // exp are the C library's, whose speed differs between the builds.
    const int warmUp = 40;
    spectra_.resize((size_t)(warmUp + frames));
    for (int n = 0; n < warmUp + frames; ++n) syntheticMusicFrame(n, spectra_[(size_t)n].bands);
    double start = 0;
    for (int n = 0; n < warmUp + frames; ++n) {
      if (n == warmUp) start = nowMillis();
      memcpy(m->spectrum, spectra_[(size_t)n].bands, sizeof m->spectrum);
      m->render(m);
      windows_.pump();
    }
    const double elapsed = nowMillis() - start;
    m->quit(m);
    windows_.destroyFrame();
    windows_.pump();
    visSetSystemTimeOverride(nullptr);
    return elapsed / frames;
  }
  HINSTANCE instance_ = nullptr;

 private:
  struct Spectrum {
    unsigned char bands[MUSIC_CHANNELS][MUSIC_BANDS];
  };
  VisHeader* header_;
  HostWindows windows_{this};
  std::vector<Spectrum> spectra_;
  bool ok_ = false;
};

}  // namespace

#ifdef __EMSCRIPTEN__
extern "C" {
EMSCRIPTEN_KEEPALIVE double benchFrameTime(int module, int width, int height, int frames) {
  static Bench bench(winampVisGetHeader());
  return bench.frameTime(module, width, height, frames);
}
EMSCRIPTEN_KEEPALIVE const char* benchModuleName(int module) {
  VisModule* m = winampVisGetHeader()->lookupModule(module);
  return m && m->description ? m->description : "";
}
}
#else
int main(int argc, char** argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: web_frame_time PLUGIN WIDTH HEIGHT FRAMES\n");
    return 2;
  }
  const int width = atoi(argv[2]), height = atoi(argv[3]), frames = atoi(argv[4]);
  if (width < 1 || height < 1 || frames < 1) {
    fprintf(stderr, "web_frame_time: bad size or frame count\n");
    return 2;
  }
  HMODULE library = LoadLibraryA(argv[1]);
  typedef VisHeader* (*GetHeader)(void);
  GetHeader getHeader = library ? (GetHeader)GetProcAddress(library, "winampVisGetHeader") : nullptr;
  if (!getHeader) {
    fprintf(stderr, "web_frame_time: %s: not a visualisation plug-in\n", argv[1]);
    return 1;
  }
  int status = 0;
  {
    Bench bench(getHeader());
    bench.instance_ = library;
    for (int module = 0; getHeader()->lookupModule(module); ++module) {
      const double ms = bench.frameTime(module, width, height, frames);
      if (ms < 0) {
        fprintf(stderr, "web_frame_time: module %d did not start\n", module);
        status = 1;
        continue;
      }
      printf("%s %.4f\n", bench.name(module), ms);
    }
  }
  FreeLibrary(library);
  return status;
}
#endif
