// Live input for `play --capture`: an SDL2 capture device, whose newest samples are kept
// in a short stereo history for the analyser. By default it takes the monitor of the
// default output when the sound server offers one (through Pulse, the default source
// that the player points at "@DEFAULT_MONITOR@"; elsewhere, the first capture device
// named "Monitor of ..."), so whatever is playing on the machine gets visualised.
//
// When the sound server goes away SDL stops the device for good (lost()); the caller
// shows silence meanwhile (silence()) and reopen()s the same input once the server is
// back.
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
  // The same input again, at the same rate (SDL converts if the server's differs now).
  bool reopen(std::string* error);
  void close();
  // The device has gone with its sound server.
  bool lost() const;
  // Forgets what was heard: the history reads as silence.
  void silence();
  // Takes everything captured since the last call into the history.
  void collect();
  // The newest `frames` stereo frames (at most the history's length), oldest first.
  const float* newest(int frames) const {
    return history_.data() + history_.size() - (size_t)frames * 2;
  }
  int sampleRate() const { return rate_; }
  int channels() const { return channels_; }
  // The input's own name where SDL knows it, else "default input".
  const std::string& deviceName() const { return name_; }

 private:
  bool openDevice(const std::string& device, int rate, bool anyRate, std::string* error);

  SDL_AudioDeviceID device_ = 0;
  std::string chosen_;  // the name the device was opened by; empty: the default
  int rate_ = 0, channels_ = 0;
  std::vector<float> history_, incoming_;
  std::string name_;
};
