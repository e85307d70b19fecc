// What the effects' tests share: a surface built without a window, a module record to
// fill, a recorder of the GDI trace that parses each call, and a reference generator.
//
// The trace is normalised before the tests look at it: the slot helpers put the DC's
// stock pen or brush back before each deletion (so a deleted object is really freed),
// and presentation fetches and releases the window's DC; neither is part of an
// effect's own order of calls, so stock selections, GetStockObject, GetDC and
// ReleaseDC are dropped.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "draw/draw_surface.h"
#include "effect_surface.h"
#include "modules/modules.h"
#include "state/vis_state.h"
#include "vis_header.h"
#include "visplatform.h"

namespace modtest {

// One GDI call: "#7 = CreatePen 0 1 0x00ffffff" gives result 7, name CreatePen and
// the arguments; handle arguments ("#3") keep their text.
struct Call {
  unsigned result = 0;
  std::string name;
  std::vector<std::string> args;

  long num(size_t i) const { return std::stol(args.at(i), nullptr, 0); }
  unsigned id(size_t i) const { return static_cast<unsigned>(std::stoul(args.at(i).substr(1))); }
};

class TraceRecorder {
 public:
  TraceRecorder() {
    visSetTraceSink(&TraceRecorder::sink, this);
    // The surface may hold its stock objects from before the trace began: learn their
    // ids from the trace of a lookup of every stock object.
    for (int index = WHITE_BRUSH; index <= NULL_PEN; ++index) GetStockObject(index);
    for (const std::string& line : lines_) stock_.insert(parse(line).result);
    lines_.clear();
  }
  ~TraceRecorder() { visSetTraceSink(nullptr, nullptr); }

  // The effect's own calls, in order.
  std::vector<Call> calls() const {
    std::vector<Call> out;
    std::set<unsigned> stock = stock_;
    for (const std::string& line : lines_) {
      Call call = parse(line);
      if (call.name == "GetStockObject") {
        stock.insert(call.result);
        continue;
      }
      if (call.name == "GetDC" || call.name == "ReleaseDC") continue;
      if (call.name == "SelectObject" && stock.count(call.id(1))) continue;
      if (call.name == "+" && !out.empty()) {  // continuation of a long Polygon line
        out.back().args.insert(out.back().args.end(), call.args.begin(), call.args.end());
        continue;
      }
      out.push_back(call);
    }
    return out;
  }
  void clear() { lines_.clear(); }

 private:
  static void sink(void* context, const char* line) {
    static_cast<TraceRecorder*>(context)->lines_.emplace_back(line);
  }
  std::set<unsigned> stock_;
  static Call parse(const std::string& line) {
    std::istringstream in(line);
    Call call;
    std::string word;
    in >> word;
    if (word[0] == '#') {
      call.result = static_cast<unsigned>(std::stoul(word.substr(1)));
      in >> word;  // "="
      in >> word;
    }
    call.name = word;
    while (in >> word) call.args.push_back(word);
    return call;
  }
  std::vector<std::string> lines_;
};

// The runtime's generator, written out again from its definition so that the tests
// predict draws without asking the code under test.
class ReferenceRand {
 public:
  explicit ReferenceRand(unsigned seed) : state_(seed) {}
  int next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7fff);
  }

 private:
  unsigned state_;
};

struct Counts {
  int pens, brushes;
  static Counts now() { return {visLiveObjectCount(OBJ_PEN), visLiveObjectCount(OBJ_BRUSH)}; }
};

// A fresh state, a surface of the given size and a module record with a silent
// spectrum and two channels.
class EffectTest : public ::testing::Test {
 protected:
  void SetUp() override { setUpSurface(640, 480); }
  void TearDown() override { releaseSurface(); }

  void setUpSurface(int width, int height) {
    releaseSurface();
    resetEffectSurface(width, height);
    module = VisModule{};
    module.channels = 2;
    before = Counts::now();
  }

  // Puts every particle at (x, y) with no velocity, so a frame leaves it in place.
  void parkParticles(double x, double y) {
    for (int i = 0; i < VIS_PARTICLES; ++i) {
      visState.posX[i] = x;
      visState.posY[i] = y;
      visState.velX[i] = 0;
      visState.velY[i] = 0;
    }
  }

  void fillSpectrum(unsigned char value) {
    for (auto& channel : module.spectrum)
      for (auto& band : channel) band = value;
  }

  void expectNothingAlive() {
    const Counts after = Counts::now();
    EXPECT_EQ(after.pens, before.pens);
    EXPECT_EQ(after.brushes, before.brushes);
  }

  // Fills the surface with a marker colour, so that untouched pixels are told apart.
  void markSurface(uint32_t marker) {
    VisPixels p;
    ASSERT_TRUE(visBitmapPixels(drawSurface.bitmap, &p));
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) p.pixels[y * p.stride + x] = marker;
  }
  // The pixel at (x, y) as 0x00RRGGBB.
  uint32_t pixel(int x, int y) {
    VisPixels p;
    EXPECT_TRUE(visBitmapPixels(drawSurface.bitmap, &p));
    return p.pixels[y * p.stride + x];
  }

  VisModule module{};
  Counts before{};
};

// The calls of one name, in order.
inline std::vector<Call> only(const std::vector<Call>& calls, const std::string& name) {
  std::vector<Call> out;
  for (const Call& c : calls)
    if (c.name == name) out.push_back(c);
  return out;
}

inline std::vector<std::string> names(const std::vector<Call>& calls) {
  std::vector<std::string> out;
  for (const Call& c : calls) out.push_back(c.name);
  return out;
}

}  // namespace modtest
