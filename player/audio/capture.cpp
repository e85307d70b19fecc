#include "audio/capture.h"

#include <string.h>

#include <algorithm>

AudioCapture::~AudioCapture() {
  if (device_) SDL_CloseAudioDevice(device_);
}

bool AudioCapture::open(const std::string& device, int historyFrames, std::string* error) {
  std::string chosen = device;
  const char* driver = SDL_GetCurrentAudioDriver();
  bool pulse = driver && strcmp(driver, "pulseaudio") == 0;
  // Through Pulse the default input is already the monitor (see play); elsewhere, the
  // first input that the sound server names as a monitor.
  if (chosen.empty() && !pulse) {
    int count = SDL_GetNumAudioDevices(1);
    for (int i = 0; i < count; ++i) {
      const char* name = SDL_GetAudioDeviceName(i, 1);
      if (name && strstr(name, "Monitor of")) {
        chosen = name;
        break;
      }
    }
  }
  SDL_AudioSpec want = {}, have = {};
  want.freq = 44100;
  want.format = AUDIO_F32SYS;
  want.channels = 2;
  want.samples = 512;
  device_ = SDL_OpenAudioDevice(chosen.empty() ? nullptr : chosen.c_str(), 1, &want, &have,
                                SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
  if (!device_) {
    *error = "cannot open audio input " + (chosen.empty() ? std::string("(default)") : chosen) +
             ": " + SDL_GetError();
    return false;
  }
  name_ = !chosen.empty() ? chosen
          : pulse         ? "the default input (the monitor of the default output, if any)"
                          : "the default input";
  rate_ = have.freq;
  channels_ = 2;
  history_.assign((size_t)historyFrames * 2, 0.0f);
  incoming_.resize(8192);
  SDL_PauseAudioDevice(device_, 0);
  return true;
}

void AudioCapture::collect() {
  if (!device_) return;
  for (;;) {
    Uint32 got = SDL_DequeueAudio(device_, incoming_.data(),
                                  (Uint32)(incoming_.size() * sizeof(float)));
    size_t n = got / sizeof(float);
    n -= n % 2;
    if (n == 0) break;
    if (n >= history_.size()) {
      std::copy(incoming_.begin() + (long)(n - history_.size()), incoming_.begin() + (long)n,
                history_.begin());
    } else {
      std::move(history_.begin() + (long)n, history_.end(), history_.begin());
      std::copy(incoming_.begin(), incoming_.begin() + (long)n,
                history_.end() - (long)n);
    }
  }
}
