// The frame clock's arithmetic against values worked out by hand, and play's keys
// against what its help says they do.
#include <gtest/gtest.h>
#include <math.h>

#include <algorithm>
#include <vector>

#include "cli.h"  // play's help, which says what the keys do
#include "frame_clock.h"
#include "keys.h"

namespace {
FrameClock clockOf(int intervalMillis, int rate) {
  VisModule record = {};
  record.frameIntervalMillis = intervalMillis;
  FrameClock clock;
  std::string error;
  EXPECT_TRUE(FrameClock::forModule(record, "M", rate, &clock, &error)) << error;
  return clock;
}
}  // namespace

TEST(FrameClock, FramesLieWhereTheIntervalPutsThemWithoutDrift) {
  // interval, rate, frame k, its first sample (k * interval * rate / 1000, floored),
  // the frames for `samples` samples, the rate text
  const struct {
    int interval, rate;
    int64_t frame, start, samples, frames;
    const char* rateText;
  } cases[] = {
      {25, 44100, 1, 1102, 44100, 40, "40"},            // 1102.5 floored
      {25, 44100, 21600, 23814000, 23814000, 21600, "40"},  // nine minutes: no drift
      {25, 44100, 3, 3307, 44101, 41, "40"},            // one sample more: one frame more
      {30, 44100, 1, 1323, 44100, 34, "1000/30"},       // 33.3 per second
      {30, 48000, 18000, 25920000, 48000, 34, "1000/30"},
      {50, 22050, 7, 7717, 22050, 20, "20"},
      {1, 96000, 5, 480, 96, 1, "1000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.interval) + " ms at " + std::to_string(c.rate));
    FrameClock clock = clockOf(c.interval, c.rate);
    EXPECT_EQ(clock.frameStart(c.frame), c.start);
    EXPECT_EQ(clock.frameAt(c.start), c.frame);
    EXPECT_EQ(clock.frameAt(c.start - 1), c.frame - 1);
    EXPECT_EQ(clock.framesFor(c.samples), c.frames);
    EXPECT_EQ(clock.frameRateText(), c.rateText);
    // The analysis window is centred on the frame and holds it.
    FrameWindow w = clock.window(c.frame, 4096);
    EXPECT_EQ(w.first + w.begin, c.start);
    EXPECT_EQ(w.end - w.begin, clock.frameStart(c.frame + 1) - c.start);
    EXPECT_LE(std::abs((w.begin + w.end) - 4096), 1);
  }
  // Records a host cannot serve.
  for (int interval : {0, -25, 1001}) {
    VisModule record = {};
    record.frameIntervalMillis = interval;
    FrameClock clock;
    std::string error;
    EXPECT_FALSE(FrameClock::forModule(record, "Odd", 44100, &clock, &error));
    EXPECT_NE(error.find("Odd asks for a frame every " + std::to_string(interval) + " ms"),
              std::string::npos) << error;
  }
}

TEST(FrameClock, AVideoAtItsOwnRateRepeatsOrDropsTheModulesFrames) {
  // interval, video frames a second (num / den), module frames, the video frames they
  // fill, the most times one module frame is shown and the fewest
  const struct { int interval, num, den; int64_t frames, video; int most, fewest; } cases[] = {
      {25, 40, 1, 40, 40, 1, 1},          // the module's own rate: one for one
      {25, 30, 1, 40, 30, 1, 0},          // every fourth frame dropped
      {25, 60, 1, 40, 60, 2, 1},          // every other one shown twice
      {25, 24, 1, 41, 25, 1, 0},          // a partial last frame still ends the video
      {25, 30000, 1001, 400, 300, 1, 0},  // 29.97: 299.7 rounded up
      {30, 50, 1, 34, 51, 2, 1},          // 33.3 a second into 50
      {50, 240, 1, 20, 240, 12, 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.interval) + " ms into " + std::to_string(c.num) + "/" +
                 std::to_string(c.den));
    FrameClock clock = clockOf(c.interval, 44100);
    EXPECT_EQ(clock.videoFramesBefore(c.frames, c.num, c.den), c.video);
    // Each video frame j shows the module frame under way at j den / num seconds: count
    // them one by one.
    std::vector<int> shown((size_t)c.frames, 0);
    for (int64_t j = 0; j < c.video; ++j) {
      int64_t k = (int64_t)floor((double)j * c.den * 1000 / ((double)c.num * c.interval) + 1e-9);
      if (k < c.frames) ++shown[(size_t)k];
    }
    int most = 0, fewest = 1 << 30;
    for (int64_t k = 0; k < c.frames; ++k) {
      int times = (int)(clock.videoFramesBefore(k + 1, c.num, c.den) -
                        clock.videoFramesBefore(k, c.num, c.den));
      EXPECT_EQ(times, shown[(size_t)k]) << "frame " << k;
      most = std::max(most, times);
      fewest = std::min(fewest, times);
    }
    EXPECT_EQ(most, c.most);
    EXPECT_EQ(fewest, c.fewest);
  }
}

TEST(Keys, DoWhatPlaysHelpSays) {
  // What play's help promises (its words, which must be in it) or a rule of when a key
  // does nothing, the key, the state; then the action, module, seek seconds and volume step.
  const std::string help = helpText("play");
  const KeyState playing{4, 0, true, true}, capturing{4, 2, false, false},
      list{4, 0, true, true, 3};
  const struct {
    const char* promise;
    uint32_t key;
    KeyState state;
    KeyAction action;
    int module, seek, volume = 0;
  } cases[] = {
      {"1-4 module", '2', playing, KeyAction::SwitchModule, 1, 0},  // digits count from 1
      {"1-4 module", '4', playing, KeyAction::SwitchModule, 3, 0},
      {"F full screen", 'F', playing, KeyAction::Fullscreen, -1, 0},
      {"S full-size drawing on/off", 'S', playing, KeyAction::ToggleScale, -1, 0},
      {"Space pause", KEY_SPACE, playing, KeyAction::TogglePause, -1, 0},
      {"Left/Right seek 5 s", KEY_LEFT, playing, KeyAction::Seek, -1, -5},
      {"Left/Right seek 5 s", KEY_RIGHT, playing, KeyAction::Seek, -1, 5},
      {"Up/Down volume 5%", KEY_UP, playing, KeyAction::Volume, -1, 0, 1},
      {"Up/Down volume 5%", KEY_DOWN, playing, KeyAction::Volume, -1, 0, -1},
      {"M mute", 'M', playing, KeyAction::Mute, -1, 0},
      {"N/P next or\nprevious", 'N', list, KeyAction::NextTrack, -1, 0},
      {"N/P next or\nprevious", 'P', list, KeyAction::PreviousTrack, -1, 0},
      {"Esc or Q quit", KEY_ESCAPE, playing, KeyAction::Quit, -1, 0},
      {"Esc or Q quit", 'Q', capturing, KeyAction::Quit, -1, 0},
      {"", '1', playing, KeyAction::None, -1, 0},  // the running one
      {"", '5', playing, KeyAction::None, -1, 0},  // no fifth module
      {"", '0', playing, KeyAction::None, -1, 0},
      {"", 'X', playing, KeyAction::None, -1, 0},
      {"", KEY_LEFT, capturing, KeyAction::None, -1, 0},  // live input cannot seek
      {"", KEY_UP, capturing, KeyAction::None, -1, 0},    // an input's volume is not ours
      {"", 'M', capturing, KeyAction::None, -1, 0},
      {"", 'N', playing, KeyAction::None, -1, 0},  // one file: nothing to skip to
      {"", 'P', capturing, KeyAction::None, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_NE(help.find(c.promise), std::string::npos) << c.promise;
    KeyOutcome out = keyAction(c.key, c.state);
    EXPECT_EQ(out.action, c.action);
    EXPECT_EQ(out.module, c.module);
    EXPECT_EQ(out.seekSeconds, c.seek);
    EXPECT_EQ(out.volumeStep, c.volume);
  }
}
