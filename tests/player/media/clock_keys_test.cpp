// The frame clock's arithmetic against values worked out by hand, and play's key
// table.
#include <gtest/gtest.h>

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

TEST(Keys, EachKeyHasItsAction) {
  const KeyState playing{4, 0, true, true}, capturing{4, 2, false, false},
      list{4, 0, true, true, 3};
  // key, state, action, module, seek seconds, volume step; note
  const struct {
    uint32_t key;
    KeyState state;
    KeyAction action;
    int module, seek, volume = 0;
  } cases[] = {
      {'2', playing, KeyAction::SwitchModule, 1, 0},   // digits pick modules from 1
      {'4', playing, KeyAction::SwitchModule, 3, 0},
      {'1', playing, KeyAction::None, -1, 0},          // the running one: nothing to do
      {'5', playing, KeyAction::None, -1, 0},          // no fifth module
      {'0', playing, KeyAction::None, -1, 0},
      {'F', playing, KeyAction::Fullscreen, -1, 0},
      {KEY_SPACE, playing, KeyAction::TogglePause, -1, 0},
      {KEY_LEFT, playing, KeyAction::Seek, -1, -5},
      {KEY_RIGHT, playing, KeyAction::Seek, -1, 5},
      {KEY_LEFT, capturing, KeyAction::None, -1, 0},   // live input cannot seek
      {KEY_ESCAPE, playing, KeyAction::Quit, -1, 0},
      {'Q', capturing, KeyAction::Quit, -1, 0},
      {'X', playing, KeyAction::None, -1, 0},
      {KEY_UP, playing, KeyAction::Volume, -1, 0, 1},
      {KEY_DOWN, playing, KeyAction::Volume, -1, 0, -1},
      {'M', playing, KeyAction::Mute, -1, 0},
      {KEY_UP, capturing, KeyAction::None, -1, 0},     // an input's volume is not ours
      {'M', capturing, KeyAction::None, -1, 0},
      {'N', list, KeyAction::NextTrack, -1, 0},
      {'P', list, KeyAction::PreviousTrack, -1, 0},
      {'N', playing, KeyAction::None, -1, 0},          // one file: nothing to skip to
      {'P', capturing, KeyAction::None, -1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    KeyOutcome out = keyAction(c.key, c.state);
    EXPECT_EQ(out.action, c.action);
    EXPECT_EQ(out.module, c.module);
    EXPECT_EQ(out.seekSeconds, c.seek);
    EXPECT_EQ(out.volumeStep, c.volume);
  }
}
