// play's volume steps and gain, and its window title, against values worked out by hand.
#include <gtest/gtest.h>

#include <vector>

#include "play_status.h"

TEST(PlayStatus, VolumeStepsWithinRangeAndMuteKeepsTheLevel) {
  // Each row: the steps taken from a fresh volume (+1 up, -1 down, 0 mute toggle),
  // then the percent, muted, and the gain (the level cubed, 0 when muted).
  const struct {
    std::vector<int> steps;
    int percent;
    bool muted;
    float gain;
    const char* note;
  } cases[] = {
      {{}, 100, false, 1.0f, "starts at full"},
      {{1}, 100, false, 1.0f, "no louder than full"},
      {{-1}, 95, false, 0.857375f, "0.95^3"},
      {std::vector<int>(10, -1), 50, false, 0.125f, "ten steps down: half, an eighth of the amplitude"},
      {std::vector<int>(25, -1), 0, false, 0.0f, "down to nothing, and no lower"},
      {{-1, -1, 0}, 90, true, 0.0f, "muted: silent, the level kept"},
      {{-1, -1, 0, 0}, 90, false, 0.729f, "unmuted: the level as it was"},
      {{0, -1}, 95, false, 0.857375f, "a step while muted unmutes"},
  };
  for (const auto& c : cases) {
    PlayVolume volume;
    for (int step : c.steps) {
      if (step == 0) volume.toggleMute();
      else volume.step(step);
    }
    EXPECT_EQ(volume.percent(), c.percent) << c.note;
    EXPECT_EQ(volume.muted(), c.muted) << c.note;
    EXPECT_NEAR(volume.gain(), c.gain, 1e-6) << c.note;
  }
  // The gain applied to stereo frames: every sample, both channels, nothing beyond.
  const float in[6] = {1.0f, -0.5f, 0.25f, -1.0f, 0.75f, 0.125f};
  float out[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  scaleFrames(in, 3, 0.5f, out);
  const float expected[8] = {0.5f, -0.25f, 0.125f, -0.5f, 0.375f, 0.0625f, 9, 9};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], expected[i]) << i;
}

TEST(PlayStatus, TitleSaysWhatIsHeardAndTheStateItIsIn) {
  PlayVolume quieter, muted;
  quieter.step(-1);
  muted.toggleMute();
  // module, heard, capturing, seconds, length, paused, sound lost, volume; the title
  const struct {
    PlayTitle title;
    const char* expected;
  } cases[] = {
      {{"Pellox", "demo tune", false, 5.9, 24, false, false, {}, 0, 1}, "Pellox - demo tune - 0:05 / 0:24"},
      {{"Pellox", "song", false, 3725, 0, false, false, {}, 0, 1}, "Pellox - song - 1:02:05"},  // length unknown
      {{"Pellox", "song", false, 65, 200, true, false, {}, 0, 1}, "Pellox - song - 1:05 / 3:20 - paused"},
      {{"Pellox", "song", false, 65, 200, false, false, quieter, 0, 1}, "Pellox - song - 1:05 / 3:20 - volume 95%"},
      {{"Pellox", "song", false, 65, 200, true, true, muted, 0, 1},
       "Pellox - song - 1:05 / 3:20 - paused - muted - no sound server"},
      {{"Pellox", "song", false, 65, 200, false, false, {}, 1, 5}, "Pellox - [2/5] - song - 1:05 / 3:20"},
      // An input: its name, no position, and no volume (the player does not play it).
      {{"Ambrith", "Monitor of Built-in Audio (alsa_output.pci.monitor)", true, 65, 0, false, false,
        muted, 0, 1},
       "Ambrith - Monitor of Built-in Audio (alsa_output.pci.monitor)"},
      {{"Ambrith", "default input", true, 0, 0, true, true, {}, 0, 1},
       "Ambrith - default input - paused - no sound server"},
  };
  for (const auto& c : cases) EXPECT_EQ(playTitleText(c.title), c.expected);
}
