// Fuzz target: the four effects run by a host, as a media player drives them. An input
// picks a module and then a list of host actions: frames with any spectrum and any
// channel count (INT_MIN..INT_MAX), resizes of the frame from 0 x 0 to 8192 x 8192,
// moves of the frame anywhere, switches of module (quit, then init of another),
// commands, keys and repaints. Findings: any sanitizer report, a frame that makes more
// GDI calls than kFrameCallLimit (work counted, not timed, so that a finding never
// depends on how busy the machine is), and any pen, brush, bitmap, DC or window left
// alive after the last quit.
// Every input starts afresh (shared state reset, no settings file, the clock pinned), so
// that a finding replays on its own. Inputs: fuzz_input.h's format, seeds from
// effects_seeds.cpp.
#include <stdint.h>
#include <string.h>
#include <stdlib.h>
#include <unistd.h>

#include "fuzz_input.h"
#include "state/vis_state.h"
#include "test_host.h"
#include "vis_header.h"
#include "visplatform.h"

namespace {

constexpr int kMaxActions = 48;
constexpr int kMaxFrames = 24;
constexpr int kMaxSide = 8192;
constexpr int kSmallSide = 1024;
// The most GDI calls one frame may make. A frame's calls follow its particles and the
// Koch outline's depth, which the effects bound, not the size of the frame (a large
// frame costs more per call, and every call is clipped to the surface once). The worst
// is Zarvenn under a full spectrum: 21 flakes of 3 Koch edges at depth 5 (a size of at
// most 510, the sum of two bands, gives trunc(sqrt(510) / 4)), 4^5 lines an edge, each
// line 6 calls (pen made, selected, MoveToEx, LineTo, pen put back and deleted), plus 7
// for the background and the present: 387,079, which the fuzzer reaches. The limit
// leaves ample headroom above that and still stops a runaway frame at once.
constexpr long kFrameCallLimit = 1000000;

enum Action { kFrames, kResize, kMove, kSwitch, kCommand, kKey, kRepaint, kRestart, kActionCount };

struct Counts {
  int pens, brushes, bitmaps, memoryDcs, windowDcs, windows;
  static Counts now() {
    return {visLiveObjectCount(OBJ_PEN),   visLiveObjectCount(OBJ_BRUSH),
            visLiveObjectCount(OBJ_BITMAP), visLiveObjectCount(OBJ_MEMDC),
            visLiveObjectCount(OBJ_DC),     visLiveWindowCount()};
  }
  bool operator==(const Counts& o) const {
    return pens == o.pens && brushes == o.brushes && bitmaps == o.bitmaps &&
           memoryDcs == o.memoryDcs && windowDcs == o.windowDcs && windows == o.windows;
  }
};

// Counts the GDI calls, through the platform's trace of them (one line per call).
long gdiCalls = 0;
void countCall(void*, const char*) { ++gdiCalls; }

// Fills both channels: a constant level, the bytes of the input, or a ramp.
void fillSpectrum(FuzzInput& in, VisModule* module) {
  const uint8_t mode = in.u8() % 3;
  unsigned char* bands = &module->spectrum[0][0];
  const size_t count = sizeof module->spectrum;
  if (mode == 0) {
    memset(bands, in.u8(), count);
  } else if (mode == 1) {
    const std::string bytes = in.text(count);
    memset(bands, 0, count);
    memcpy(bands, bytes.data(), bytes.size());
  } else {
    const uint8_t start = in.u8(), step = in.u8();
    for (size_t i = 0; i < count; ++i) bands[i] = static_cast<unsigned char>(start + step * i);
  }
}

class Session {
 public:
  explicit Session(TestHost& host) : host_(host) {}
  ~Session() { stop(); }

  bool start(int index) {
    module_ = lookupModule(index);
    if (!module_) return false;
    host_.attach(module_);
    running_ = module_->init(module_) == 0;
    host_.pump();
    return running_;
  }
  void stop() {
    if (running_) module_->quit(module_);
    running_ = false;
    host_.pump();
    host_.clearEvents();
  }
  void frames(FuzzInput& in, int* budget) {
    module_->channels = in.i32();
    fillSpectrum(in, module_);
    const int count = 1 + in.u8() % 4;
    for (int i = 0; i < count && *budget > 0; ++i, --*budget) {
      gdiCalls = 0;
      module_->render(module_);
      FUZZ_CHECK(gdiCalls <= kFrameCallLimit, "%s frame made %ld GDI calls (channels %d, %d x %d)",
                 module_->description, gdiCalls, module_->channels, width_, height_);
    }
    host_.pump();
  }
  // Mostly up to 1024 pixels a side, one side in eight up to 8192: a frame of the
  // largest surface takes long enough under the sanitizers to slow the search.
  static int side(FuzzInput& in) {
    const uint16_t raw = in.u16();
    return (raw & 0xE000) == 0xE000 ? raw % (kMaxSide + 1) : raw % (kSmallSide + 1);
  }
  void resize(FuzzInput& in) {
    width_ = side(in);
    height_ = side(in);
    host_.resizeFrame(width_, height_);
    host_.pump();
  }
  bool running() const { return running_; }
  VisModule* module() const { return module_; }

 private:
  TestHost& host_;
  VisModule* module_ = nullptr;
  bool running_ = false;
  int width_ = 640, height_ = 480;
};

TestHost* host = nullptr;
Counts baseline;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Never destroyed: at exit the window system's per-thread queues are gone before
  // static destructors would run, and a host taking its windows down then would call
  // into them.
  // The plug-in saves its settings at every quit, and a save syncs the file: on tmpfs
  // that costs nothing.
  if (!getenv("VIS_TEST_OUTPUT") && access("/dev/shm", W_OK) == 0) setenv("VIS_TEST_OUTPUT", "/dev/shm", 0);
  host = new TestHost();
  visSetTraceSink(countCall, nullptr);
  // Its folder goes at exit, with the settings file the last input left.
  atexit([] {
    unlink(host->settingsPath().c_str());
    rmdir(host->directory().c_str());
  });
  baseline = Counts::now();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  // Each input starts from the state a freshly loaded library has, with no settings
  // file and a pinned clock, so that it replays alike on its own: the first byte picks
  // the module and the millisecond the generator is seeded from.
  resetVisStateForTests();
  unlink(host->settingsPath().c_str());
  const uint8_t first = in.u8();
  SYSTEMTIME now = {2026, 12, 2, 8, 12, 0, 0, static_cast<WORD>(first / 4 * 15)};
  visSetSystemTimeOverride(&now);
  {
    Session session(*host);
    int frameBudget = kMaxFrames;
    if (!session.start(first % 4)) return 0;
    for (int action = 0; action < kMaxActions && !in.empty(); ++action) {
      switch (in.u8() % kActionCount) {
        case kFrames:
          session.frames(in, &frameBudget);
          break;
        case kResize:
          session.resize(in);
          break;
        case kMove: {
          const int x = in.i32(), y = in.i32();
          host->moveFrame(x, y);
          host->pump();
          break;
        }
        case kSwitch:
        case kRestart: {
          const int next = in.u8() % 4;
          session.stop();
          if (!session.start(next)) return 0;
          break;
        }
        case kCommand: {
          // Mostly the host's own command range, sometimes any command at all.
          const uint16_t raw = in.u16();
          const WORD code = raw & 0x8000 ? raw : static_cast<WORD>(CMD_FIRST + raw % 12);
          host->videoPlaying = in.u8() % 3;
          host->command(code, in.u16());
          host->pump();
          break;
        }
        case kKey: {
          const UINT message = in.u8() & 1 ? WM_KEYUP : WM_KEYDOWN;
          const WPARAM key = in.u32();
          SendMessageA(host->visWindow(), message, key, static_cast<LPARAM>(in.u32()));
          host->pump();
          break;
        }
        case kRepaint:
          InvalidateRect(host->visWindow(), nullptr, in.u8() & 1);
          UpdateWindow(host->visWindow());
          host->pump();
          break;
      }
    }
  }
  const Counts after = Counts::now();
  FUZZ_CHECK(after == baseline,
             "left alive: pens %d, brushes %d, bitmaps %d, memory DCs %d, DCs %d, windows %d "
             "(before: %d, %d, %d, %d, %d, %d)",
             after.pens, after.brushes, after.bitmaps, after.memoryDcs, after.windowDcs,
             after.windows, baseline.pens, baseline.brushes, baseline.bitmaps, baseline.memoryDcs,
             baseline.windowDcs, baseline.windows);
  return 0;
}
