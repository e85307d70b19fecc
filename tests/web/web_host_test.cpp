// The page's host (web/web_host.cpp) under node: the feed renders one frame per 25 ms of
// audio as the samples arrive, however the browser cuts them into blocks, and the keys
// reach play's table through the plug-in.
#include <stdint.h>

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

#include "audio/audio_clip.h"
#include "audio/demo_tune.h"

extern "C" {
int webOpen(int sampleRate, double sensitivity);
int webStart(int index, int width, int height, int seed);
float* webInput(int frames);
int webFeed(int frames);
uint8_t* webFramePixels();
int webFrameWidth();
int webFrameHeight();
int webKey(int virtualKey, int canSeek);
int webKeyModule();
int webRunning();
}

namespace {

// FNV-1a over the frame's bytes.
uint64_t frameHash() {
  const uint8_t* p = webFramePixels();
  uint64_t h = 0xcbf29ce484222325ull;
  for (int i = 0; p && i < webFrameWidth() * webFrameHeight() * 4; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
  return h;
}

struct FedRun {
  int frames = 0;
  std::vector<uint64_t> hashes;  // after each feed call that rendered
  uint64_t last = 0;
};

// Opens the host afresh (a new analyser, whose automatic gain starts over), starts
// Pellox and feeds `seconds` of the demo tune in blocks of `block` frames.
FedRun feedTune(const AudioClip& tune, double seconds, int block) {
  FedRun run;
  EXPECT_EQ(webOpen(DEMO_TUNE_RATE, 0), 0);
  EXPECT_EQ(webStart(1, 160, 120, 7), 0);
  const int total = (int)(seconds * DEMO_TUNE_RATE);
  for (int at = 0; at < total; at += block) {
    const int n = std::min(block, total - at);
    std::copy(tune.samples.begin() + at * 2, tune.samples.begin() + (at + n) * 2, webInput(n));
    run.frames += webFeed(n);
  }
  run.last = frameHash();
  return run;
}

TEST(WebHost, RendersOneFramePerIntervalOfAudioHoweverItArrives) {
  AudioClip tune;
  synthesiseDemoTune(10.0, &tune);
  // block: how the samples arrive.
  const int blocks[] = {
      441000,  // all at once
      128,     // one render quantum of Web Audio at a time
      1024,    // the tap's batches
      1103,    // just over one frame's samples: a frame's window completes mid-block
      37,      // far less than a frame
  };
  const FedRun first = feedTune(tune, 10.0, blocks[0]);
  // 10 s hold 400 frames of 25 ms; the last waits for half a window (13 ms) more.
  EXPECT_GE(first.frames, 399);
  EXPECT_LE(first.frames, 400);
  for (int block : blocks) {
    const FedRun run = feedTune(tune, 10.0, block);
    EXPECT_EQ(run.frames, first.frames) << "blocks of " << block;
    EXPECT_EQ(run.last, first.last) << "blocks of " << block << ": the last frame differs";
  }
}

TEST(WebHost, KeysGoThroughThePluginToPlaysTable) {
  ASSERT_EQ(webOpen(48000, 0), 0);
  ASSERT_EQ(webStart(0, 160, 120, 7), 0);
  // '3' starts the third effect (action 1, "switched"); Space pauses (3); Right seeks
  // (4) only where seeking makes sense; an unbound key does nothing (0).
  EXPECT_EQ(webKey('3', 1), 1);
  EXPECT_EQ(webKeyModule(), 2);
  EXPECT_EQ(webKey(' ', 1), 3);
  EXPECT_EQ(webKey(0x27, 1), 4);
  EXPECT_EQ(webKey(0x27, 0), 0);
  EXPECT_EQ(webKey('Z', 1), 0);
  EXPECT_EQ(webRunning(), 0);  // the page, not the host, starts the next module
}

}  // namespace
