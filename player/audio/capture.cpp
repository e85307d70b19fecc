#include "audio/capture.h"

#include <string.h>

#include <algorithm>

AudioCapture::~AudioCapture() { close(); }

void AudioCapture::close() {
  if (device_) SDL_CloseAudioDevice(device_);
  device_ = 0;
}

bool AudioCapture::lost() const {
  return device_ && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED;
}

void AudioCapture::silence() { std::fill(history_.begin(), history_.end(), 0.0f); }

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
  if (!openDevice(chosen, 44100, true, error)) return false;
  name_ = chosen;
  if (name_.empty()) {
    // SDL's own name for the default input, where its driver can tell (Pulse, PipeWire).
    char* name = nullptr;
    SDL_AudioSpec format;  // filled in by SDL, not needed here
    if (SDL_GetDefaultAudioInfo(&name, &format, 1) == 0 && name && *name) name_ = name;
    SDL_free(name);
    if (name_.empty()) name_ = "default input";
  }
  channels_ = 2;
  history_.assign((size_t)historyFrames * 2, 0.0f);
  incoming_.resize(8192);
  return true;
}

bool AudioCapture::reopen(std::string* error) {
  close();
  return openDevice(chosen_, rate_, false, error);
}

bool AudioCapture::openDevice(const std::string& device, int rate, bool anyRate,
                              std::string* error) {
  SDL_AudioSpec want = {}, have = {};
  want.freq = rate;
  want.format = AUDIO_F32SYS;
  want.channels = 2;
  want.samples = 512;
  device_ = SDL_OpenAudioDevice(device.empty() ? nullptr : device.c_str(), 1, &want, &have,
                                anyRate ? SDL_AUDIO_ALLOW_FREQUENCY_CHANGE : 0);
  if (!device_) {
    *error = "cannot open audio input " + (device.empty() ? std::string("(default)") : device) +
             ": " + SDL_GetError();
    return false;
  }
  chosen_ = device;
  rate_ = have.freq;
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
