// The four effects at length on the portable raster and on Wine's GDI: for each
// scenario below, every effect runs its frames from a fresh state on our layer while the
// trace hook records its GDI calls, and after every frame the drawing surface is checked
// against Wine's: the trace carries a "Digest" of the whole surface after each frame
// (the replayer hashes the surface as GDI drew it, we hash ours), so every frame's
// drawing is compared, not a sample. The last frame of each effect is also dumped in
// full and compared pixel by pixel, which checks the digests against the pixels.
//
// One trace and one Wine start per scenario; two replays run at a time. When digests
// differ, the scenario is recorded and replayed again with full dumps of the first
// differing frames (kRedumpFrames per effect), so that the failure names exact pixel
// counts and writes diff PNGs under $VIS_TEST_OUTPUT/wine (effects-<scenario>-...png).
//
// The goal is no differing frame. A difference that remains is listed in kKnown with
// its exact counts; a change either way fails the test.
#include <gtest/gtest.h>

#include <glob.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
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
};
const Effect kEffects[] = {{"Zarvenn", renderZarvenn}, {"Pellox", renderPellox},
                           {"Ambrith", renderAmbrith}, {"Tovanel", renderTovanel}};

enum Input { kSilence, kLoud, kMusic, kHalfMusic, kQuarterMusic };

// The scenarios. Every effect runs `frames` frames, except under loud input, the
// heaviest for Wine: each loud Zarvenn frame is 21 flakes of depth 5, 64,512 lines and
// six trace lines per line (pen made, selected, moved to, line, deselected, deleted),
// about 10 MB of trace and a third of a second of Wine; a loud Pellox frame (105 discs
// of radius 127 with 12-pixel pens) takes Wine a fifth of a second and a loud Ambrith
// frame (21 discs of radius 255 with 25-pixel pens and 26 satellites each) a third, so
// loud runs 20 frames of Zarvenn (200 MB of trace) and 200 of the others
// (kLoudFrames). Music starts with two silent frames (the clearing and scattering
// paths) and has a short silence at frame 120.
// The resizes play it at half level (every band halved), the size edge cases, whose
// surfaces clip nearly everything, at a quarter: smaller bands make Zarvenn's flakes
// smaller and shallower (a half-size flake has a quarter of the lines), which keeps
// these seven replays at a few seconds each; full-level music at 640 x 480 alone is
// 6.7 million trace lines of Zarvenn.
// A resize rebuilds the surface at the new size at frame `resizeAt`, as the window's
// WM_SIZE does, leaving the particles where they were (most of them outside).
struct Scenario {
  const char* name;
  Input input;
  int width, height;
  int frames;
  int resizeAt;  // 0: no resize
  int newWidth, newHeight;
};
constexpr int kFrames = 200;
constexpr int kLoudFrames[4] = {20, kFrames, kFrames, kFrames};  // in the order of kEffects
// Music first: the longest replay starts first.
const Scenario kScenarios[] = {
    {"music", kMusic, 640, 480, kFrames, 0, 0, 0},
    {"silence", kSilence, 640, 480, kFrames, 0, 0, 0},
    {"loud", kLoud, 640, 480, kFrames, 0, 0, 0},
    {"pixel_1x1", kQuarterMusic, 1, 1, kFrames, 0, 0, 0},
    {"column_1x480", kQuarterMusic, 1, 480, kFrames, 0, 0, 0},
    {"row_640x1", kQuarterMusic, 640, 1, kFrames, 0, 0, 0},
    {"empty_0x0", kQuarterMusic, 0, 0, kFrames, 0, 0, 0},  // nothing to compare: must not fail
    {"odd_333x197", kQuarterMusic, 333, 197, kFrames, 0, 0, 0},
    {"resize_640x480_to_211x157", kHalfMusic, 640, 480, kFrames, 100, 211, 157},
    {"resize_211x157_to_640x480", kHalfMusic, 211, 157, kFrames, 100, 640, 480},
};
constexpr int kRedumpFrames = 6;

// Known differences from Wine: "scenario/effect" -> differing frames. None so far.
const std::map<std::string, int> kKnown = {};

int framesOf(const Scenario& s, int effect) {
  return s.input == kLoud ? kLoudFrames[effect] : s.frames;
}

// The replayer's digest: 64-bit FNV-1a over each pixel's four little-endian bytes,
// written as four 16-bit words, low first.
std::vector<uint32_t> digestOf(const visdiff::Image& image) {
  uint64_t hash = 14695981039346656037ULL;
  for (uint32_t p : image.pixels) {
    const uint32_t v = p & 0x00ffffffu;
    for (int b = 0; b < 4; ++b) {
      hash ^= (v >> (8 * b)) & 0xffu;
      hash *= 1099511628211ULL;
    }
  }
  std::vector<uint32_t> words;
  for (int k = 0; k < 4; ++k) words.push_back(static_cast<uint32_t>(hash >> (16 * k)) & 0xffffu);
  return words;
}
visdiff::Image digestImage(const visdiff::Image& image) {
  visdiff::Image d;
  d.width = 4;
  d.height = 1;
  d.pixels = digestOf(image);
  return d;
}

// The music's spectra, made once: the synthesiser costs more than the drawing.
const unsigned char (*musicFrame(int n))[MUSIC_BANDS] {
  static std::vector<VisModule> frames;
  while (static_cast<int>(frames.size()) <= n) {
    frames.emplace_back();
    syntheticMusicFrame(static_cast<int>(frames.size()) - 1, frames.back().spectrum);
  }
  return frames[n].spectrum;
}

// One expected record of the replayer's output.
struct Check {
  int effect;
  int frame;
  bool full;  // a whole-surface dump; otherwise a digest
};

struct Recording {
  std::string trace;
  std::vector<Check> checks;
  std::vector<visdiff::Image> ours;  // per check: the image or its digest
  long framesRun[4] = {0, 0, 0, 0};
  long long pixelsPerEffect[4] = {0, 0, 0, 0};  // pixels covered by the digests
  size_t traceLines[4] = {0, 0, 0, 0};
};

// Runs every effect through the scenario on our layer, recording the trace. `redump`
// names frames (effect * 100000 + frame) to dump in full instead of digesting.
Recording record(const Scenario& s, const std::set<long>& redump) {
  Recording out;
  oracle::Recorder rec;
  for (int e = 0; e < 4; ++e) {
    const size_t startSize = rec.trace().size();
    startEffect(s.width, s.height, 1000 + e);
    unsigned dcId = rec.lastSerialOf("CreateCompatibleDC");
    VisModule module{};
    module.channels = 2;
    const int frames = framesOf(s, e);
    const int resizeAt = frames < s.frames ? frames / 2 : s.resizeAt;  // fewer frames: halfway
    for (int n = 0; n < frames; ++n) {
      if (s.resizeAt && n == resizeAt) {
        setEffectSurface(s.newWidth, s.newHeight);
        dcId = rec.lastSerialOf("CreateCompatibleDC");
      }
      if (s.input == kLoud) {
        memset(module.spectrum, 255, sizeof module.spectrum);
      } else if (s.input == kSilence || n < 2 || (n >= 120 && n < 123)) {
        memset(module.spectrum, 0, sizeof module.spectrum);
      } else {
        memcpy(module.spectrum, musicFrame(n), sizeof module.spectrum);
        if (s.input != kMusic) {
          for (auto& channel : module.spectrum)
            for (auto& band : channel) band /= s.input == kHalfMusic ? 2 : 4;
        }
      }
      kEffects[e].render(&module);
      ++out.framesRun[e];
      const int w = visState.surfaceWidth, h = visState.surfaceHeight;
      if (w <= 0 || h <= 0) continue;  // an empty surface has no pixels to compare
      oracle::Canvas surface;
      surface.bitmap = drawSurface.bitmap;
      surface.width = w;
      surface.height = h;
      visdiff::Image image = rec.block(surface, 0, 0, w, h);
      char line[96];
      const bool last = n == frames - 1;
      const bool full = last || redump.count(e * 100000L + n);
      if (full) {
        snprintf(line, sizeof line, "Dump #%u 0 0 %d %d", dcId, w, h);
        rec.appendLine(line);
        out.checks.push_back({e, n, true});
        out.ours.push_back(image);
      }
      if (!full || last) {
        snprintf(line, sizeof line, "Digest #%u 0 0 %d %d", dcId, w, h);
        rec.appendLine(line);
        out.checks.push_back({e, n, false});
        out.ours.push_back(digestImage(image));
        out.pixelsPerEffect[e] += static_cast<long long>(w) * h;
      }
    }
    releaseSurface();
    size_t lines = 0;
    for (size_t i = startSize; i < rec.trace().size(); ++i) lines += rec.trace()[i] == '\n';
    out.traceLines[e] = lines;
  }
  out.trace = rec.trace();
  return out;
}

struct Outcome {
  bool ready = false;
  std::string error;
  Recording recording;
  std::vector<visdiff::Image> wine;
  // Filled by the check of the first pass.
  int differingFrames[4] = {0, 0, 0, 0};
  std::vector<long> differing[4];  // frame keys, in order
};

std::string traceName(const Scenario& s, bool redump) {
  return std::string("effects-") + s.name + (redump ? "-redump" : "");
}

// Replays a recording; on success the trace and dump files are removed (they run to
// hundreds of megabytes) unless VIS_EFFECTS_KEEP is set, on failure they stay for a look.
void replay(const Scenario& s, bool redump, Outcome* o) {
  const std::string name = traceName(s, redump);
  o->ready = oracle::runReplayer(o->recording.trace, name, &o->wine, &o->error);
  if (o->ready && o->wine.size() != o->recording.ours.size()) {
    o->ready = false;
    o->error = "the replayer wrote " + std::to_string(o->wine.size()) + " records, expected " +
               std::to_string(o->recording.ours.size());
  }
  std::string().swap(o->recording.trace);
  if (o->ready && !getenv("VIS_EFFECTS_KEEP")) {
    const std::string base = oracle::outputDir() + "/" + name;
    remove((base + ".trace").c_str());
    remove((base + ".wine.bin").c_str());
  }
}

// First pass over every scenario: recorded one after another (the trace hook and the
// effects' state are global), replayed two at a time while the next one records.
std::map<std::string, Outcome>& outcomes() {
  static std::map<std::string, Outcome> all = [] {
    std::map<std::string, Outcome> result;
    for (const Scenario& s : kScenarios) result[s.name];
    // At most two replays at a time (VIS_EFFECTS_JOBS); the next scenario records while
    // they run.
    std::mutex mutex;
    std::condition_variable done;
    int running = 0;
    const int jobs = getenv("VIS_EFFECTS_JOBS") ? atoi(getenv("VIS_EFFECTS_JOBS")) : 2;
    std::vector<std::thread> threads;
    const char* only = getenv("VIS_EFFECTS_ONLY");
    for (const Scenario& s : kScenarios) {
      if (only && std::string(only) != s.name) continue;
      Outcome* o = &result[s.name];
      o->recording = record(s, {});
      std::unique_lock<std::mutex> lock(mutex);
      done.wait(lock, [&] { return running < (jobs < 1 ? 1 : jobs); });
      ++running;
      threads.emplace_back([&, o, sp = &s] {
        replay(*sp, false, o);
        std::lock_guard<std::mutex> guard(mutex);
        --running;
        done.notify_all();
      });
    }
    for (std::thread& t : threads) t.join();
    return result;
  }();
  return all;
}

void checkScenario(const Scenario& s) {
  Outcome& o = outcomes()[s.name];
  if (getenv("VIS_EFFECTS_ONLY") && std::string(getenv("VIS_EFFECTS_ONLY")) != s.name) {
    GTEST_SKIP() << "VIS_EFFECTS_ONLY";
  }
  ASSERT_TRUE(o.ready) << s.name << ": " << o.error;
  const Recording& r = o.recording;
  std::set<long> redump;
  long fullPixels[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < r.checks.size(); ++i) {
    const Check& c = r.checks[i];
    const visdiff::Image& wine = o.wine[i];
    const visdiff::Image& ours = r.ours[i];
    ASSERT_EQ(wine.width, ours.width) << s.name << " " << kEffects[c.effect].name << " frame " << c.frame;
    ASSERT_EQ(wine.height, ours.height) << s.name << " " << kEffects[c.effect].name << " frame " << c.frame;
    if (c.full) {
      // The last frame in full: pixels, and the digest the replayer wrote next to it.
      const visdiff::Diff diff = visdiff::diffImages(wine, ours, 4);
      fullPixels[c.effect] += diff.count;
      EXPECT_EQ(digestOf(wine), o.wine[i + 1].pixels)
          << s.name << ": the replayer's digest disagrees with its own dump";
    } else if (wine.pixels != ours.pixels) {
      const long key = c.effect * 100000L + c.frame;
      if (o.differing[c.effect].size() < kRedumpFrames) redump.insert(key);
      o.differing[c.effect].push_back(key);
      ++o.differingFrames[c.effect];
    }
  }
  std::string report;
  for (int e = 0; e < 4; ++e) {
    printf("[effects] %-28s %-8s %3ld frames, %8zu trace lines, %10lld pixels compared, %d frames differ\n",
           s.name, kEffects[e].name, r.framesRun[e], r.traceLines[e], r.pixelsPerEffect[e],
           o.differingFrames[e]);
    EXPECT_EQ(r.framesRun[e], framesOf(s, e)) << s.name << " " << kEffects[e].name;
    const std::string key = std::string(s.name) + "/" + kEffects[e].name;
    const auto known = kKnown.find(key);
    EXPECT_EQ(o.differingFrames[e], known == kKnown.end() ? 0 : known->second)
        << key << ": frames whose pixels differ from Wine's";
    EXPECT_EQ(o.differingFrames[e] == 0 ? fullPixels[e] : 0, 0)
        << key << ": the last frame differs but its digest matched";
  }
  if (redump.empty()) {
    // No diff PNGs left from an earlier, failing run.
    glob_t old;
    const std::string pattern = oracle::outputDir() + "/effects-" + s.name + "-*.png";
    if (glob(pattern.c_str(), 0, nullptr, &old) == 0) {
      for (size_t i = 0; i < old.gl_pathc; ++i) remove(old.gl_pathv[i]);
    }
    globfree(&old);
    return;
  }

  // Differences: again with full dumps of the first differing frames of each effect.
  Outcome again;
  again.recording = record(s, redump);
  replay(s, true, &again);
  ASSERT_TRUE(again.ready) << s.name << " (redump): " << again.error;
  for (size_t i = 0; i < again.recording.checks.size(); ++i) {
    const Check& c = again.recording.checks[i];
    if (!c.full || !redump.count(c.effect * 100000L + c.frame)) continue;
    const visdiff::Diff diff = visdiff::diffImages(again.wine[i], again.recording.ours[i], 4);
    char label[160];
    snprintf(label, sizeof label, "effects-%s-%s-%03d", s.name, kEffects[c.effect].name, c.frame);
    report += std::string("  ") + label + ": " + std::to_string(diff.count) + " pixels\n" +
              visdiff::describe(diff);
    std::string error;
    EXPECT_TRUE(visdiff::writeDiffPng(oracle::outputDir() + "/" + label + ".png", again.wine[i],
                                      again.recording.ours[i], &error))
        << error;
  }
  ADD_FAILURE() << s.name << ": differing frames, the first of each effect in full:\n" << report;
}

TEST(WineEffectsParity, Music) { checkScenario(kScenarios[0]); }
TEST(WineEffectsParity, Silence) { checkScenario(kScenarios[1]); }
TEST(WineEffectsParity, Loud) { checkScenario(kScenarios[2]); }
TEST(WineEffectsParity, OnePixel) { checkScenario(kScenarios[3]); }
TEST(WineEffectsParity, OneColumn) { checkScenario(kScenarios[4]); }
TEST(WineEffectsParity, OneRow) { checkScenario(kScenarios[5]); }
TEST(WineEffectsParity, EmptySurface) { checkScenario(kScenarios[6]); }
TEST(WineEffectsParity, OddSize) { checkScenario(kScenarios[7]); }
TEST(WineEffectsParity, ShrinkMidRun) { checkScenario(kScenarios[8]); }
TEST(WineEffectsParity, GrowMidRun) { checkScenario(kScenarios[9]); }

}  // namespace
