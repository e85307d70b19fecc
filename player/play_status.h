// What `play` keeps of its own state beside the plug-in's, and how it shows it: the
// volume (its steps, the mute, the gain the samples get) and the window's title
// (module, what is heard, the position, and whatever the user should know: paused,
// muted, a volume below full, no sound server). Pure, so both are tested without a
// window or a sound device; the live loop (live.cpp) holds one of each.
#pragma once

#include <stdint.h>

#include <string>

class PlayVolume {
 public:
  // Up or down by one step of kStep percent, within 0 to 100; a step unmutes.
  void step(int direction);
  void toggleMute() { muted_ = !muted_; }
  int percent() const { return percent_; }
  bool muted() const { return muted_; }
  // The factor the samples are multiplied by: 0 when muted, else the level cubed, the
  // scale PulseAudio's volumes use, on which each step sounds about as large.
  float gain() const;

  static constexpr int kStep = 5;

 private:
  int percent_ = 100;
  bool muted_ = false;
};

// Multiplies `count` stereo frames by gain into out (which holds 2 * count floats).
void scaleFrames(const float* in, int64_t count, float gain, float* out);

struct PlayTitle {
  std::string module;        // the frame's title, which the plug-in sets to the module
  std::string heard;         // the track's title, or the input's name when capturing
  bool capturing = false;    // no position for an input
  double seconds = 0;        // where the track is
  double lengthSeconds = 0;  // its length, 0 when unknown
  bool paused = false;
  bool soundLost = false;    // the sound server went away; drawing goes on
  PlayVolume volume;
  int track = 0, tracks = 1; // which file of the play list, and how many it holds
};

// "Pellox - demo tune - 0:05 / 0:24" ("Pellox - [2/5] - song - ..." for a list), then " - paused", " - muted" or " - volume 40%",
// " - no sound server" as they apply.
std::string playTitleText(const PlayTitle& title);
