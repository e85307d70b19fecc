// Live input for `play --capture`: an SDL2 capture device, whose newest samples are kept
// in a short stereo history for the analyser. By default it takes the monitor of the
// default output when the sound server offers one (through Pulse, the default source
// that the player points at "@DEFAULT_MONITOR@"; elsewhere, the first capture device
// named "Monitor of ..."), so whatever is playing on the machine gets visualised.
#pragma once

#include <SDL.h>

#include <string>
#include <vector>

class AudioCapture {
 public:
  AudioCapture() = default;
  AudioCapture(const AudioCapture&) = delete;
  AudioCapture& operator=(const AudioCapture&) = delete;
  ~AudioCapture();

  // device: a capture device name, or empty for the default choice above.
  bool open(const std::string& device, int historyFrames, std::string* error);
  // Takes everything captured since the last call into the history.
  void collect();
  // The newest `frames` stereo frames (at most the history's length), oldest first.
  const float* newest(int frames) const {
    return history_.data() + history_.size() - (size_t)frames * 2;
  }
  int sampleRate() const { return rate_; }
  int channels() const { return channels_; }
  const std::string& deviceName() const { return name_; }

 private:
  SDL_AudioDeviceID device_ = 0;
  int rate_ = 0, channels_ = 0;
  std::vector<float> history_, incoming_;
  std::string name_;
};
