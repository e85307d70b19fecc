#include "output/live_window.h"

#include <algorithm>

#include "base/clock.h"   // monotonicSeconds
#include "play_status.h"  // scaleFrames

LiveWindow::~LiveWindow() {
  if (source_) SDL_FreeSurface(source_);
  if (window_) SDL_DestroyWindow(window_);
}

bool LiveWindow::open(const std::string& title, int x, int y, int width, int height,
                      std::string* error) {
  // The window's surface in plain memory where the driver has it (X11's shared-memory
  // image): a texture behind it would load the GL driver, which for Mesa's software GL
  // is LLVM and some 80 MB of memory, and add a copy per frame.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  window_ = SDL_CreateWindow(title.c_str(), x, y, width, height, SDL_WINDOW_RESIZABLE);
  if (!window_) {
    *error = std::string("cannot open a window: ") + SDL_GetError();
    return false;
  }
  if (!SDL_GetWindowSurface(window_)) {
    // No framebuffer of the driver's own (Wayland): SDL's streaming texture, then.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "1");
    if (!SDL_GetWindowSurface(window_)) {
      *error = std::string("cannot draw in the window: ") + SDL_GetError();
      return false;
    }
  }
  title_ = title;
  return true;
}

bool LiveWindow::framebuffer(int width, int height, uint32_t** pixels, int* stride) {
  SDL_Surface* target = SDL_GetWindowSurface(window_);
  if (!target || target->w != width || target->h != height || target->pitch % 4 != 0 ||
      target->format->format != SDL_PIXELFORMAT_RGB888 || SDL_MUSTLOCK(target)) {
    return false;
  }
  *pixels = static_cast<uint32_t*>(target->pixels);
  *stride = target->pitch / 4;
  return true;
}

void LiveWindow::show(const FrameView& frame) {
  // SDL makes the surface again after a resize; until then it hands back the same one.
  SDL_Surface* target = SDL_GetWindowSurface(window_);
  if (!target) return;
  if (frame.pixels == target->pixels && frame.width == target->w && frame.height == target->h) {
    SDL_UpdateWindowSurface(window_);  // drawn in place
    return;
  }
  if (!source_ || source_->pixels != frame.pixels || source_->w != frame.width ||
      source_->h != frame.height || source_->pitch != frame.stride * 4) {
    if (source_) SDL_FreeSurface(source_);
    // 0x00RRGGBB words: SDL's XRGB8888 (RGB888), the surface's own format on a 24-bit
    // X display, so the copy converts nothing there.
    source_ = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint32_t*>(frame.pixels), frame.width,
                                                 frame.height, 32, frame.stride * 4,
                                                 SDL_PIXELFORMAT_RGB888);
    if (!source_) return;
    SDL_SetSurfaceBlendMode(source_, SDL_BLENDMODE_NONE);
  }
  // A frame of another size than the window (a resize in flight) is stretched over it.
  if (frame.width == target->w && frame.height == target->h) {
    SDL_BlitSurface(source_, nullptr, target, nullptr);
  } else {
    SDL_BlitScaled(source_, nullptr, target, nullptr);
  }
  SDL_UpdateWindowSurface(window_);
}

void LiveWindow::showScaled(const FrameView& drawn, FrameScaler& scaler) {
  SDL_Surface* target = SDL_GetWindowSurface(window_);
  if (!target) return;
  uint32_t* pixels;
  int stride;
  if (!framebuffer(scaler.width(), scaler.height(), &pixels, &stride)) {
    show(drawn);
    return;
  }
  scaler.scaleInto(drawn, pixels, stride);
  SDL_UpdateWindowSurface(window_);
}

void LiveWindow::setTitle(const std::string& title) {
  if (title == title_) return;
  title_ = title;
  SDL_SetWindowTitle(window_, title.c_str());
}

void LiveWindow::toggleFullscreen() {
  // Full screen as a borderless window over the whole display rather than SDL's
  // window-manager full screen: it behaves the same with or without a window manager
  // (a bare X server has none to honour the request).
  if (!fullscreen_) {
    SDL_GetWindowPosition(window_, &windowed_.x, &windowed_.y);
    SDL_GetWindowSize(window_, &windowed_.w, &windowed_.h);
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(window_), &bounds) != 0) return;
    SDL_SetWindowBordered(window_, SDL_FALSE);
    SDL_SetWindowPosition(window_, bounds.x, bounds.y);
    SDL_SetWindowSize(window_, bounds.w, bounds.h);
    SDL_RaiseWindow(window_);
    SDL_ShowCursor(SDL_DISABLE);
    fullscreen_ = true;
  } else {
    SDL_SetWindowBordered(window_, SDL_TRUE);
    SDL_SetWindowSize(window_, windowed_.w, windowed_.h);
    SDL_SetWindowPosition(window_, windowed_.x, windowed_.y);
    SDL_ShowCursor(SDL_ENABLE);
    fullscreen_ = false;
  }
}

void LiveWindow::drawableSize(int* width, int* height) const {
  SDL_GetWindowSize(window_, width, height);
}

AudioPlayback::~AudioPlayback() { close(); }

void AudioPlayback::close() {
  if (device_) SDL_CloseAudioDevice(device_);
  device_ = 0;
  sent_ = 0;
  stepFrames_ = -1;
}

bool AudioPlayback::lost() const {
  // SDL reports a device it had to give up as stopped; a paused one is "paused".
  return device_ && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED;
}

bool AudioPlayback::open(int sampleRate, const std::string& streamName, std::string* error) {
  // The stream's name as the sound server shows it (read when the device opens).
  SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, streamName.c_str());
  SDL_AudioSpec want = {}, have = {};
  want.freq = sampleRate;
  want.format = AUDIO_F32SYS;
  want.channels = 2;
  want.samples = 1024;
  // Opened again (a file at another rate): the old device goes first.
  if (device_) SDL_CloseAudioDevice(device_);
  sent_ = 0;
  stepFrames_ = -1;
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (!device_) {
    *error = std::string("cannot open audio output: ") + SDL_GetError();
    return false;
  }
  deviceFrames_ = have.samples;
  rate_ = have.freq;
  sent_ = 0;
  stepFrames_ = -1;
  SDL_PauseAudioDevice(device_, paused_ ? 1 : 0);
  return true;
}

void AudioPlayback::queue(const float* frames, int64_t count) {
  if (!device_ || count <= 0) return;
  if (gain_ != 1.0f) {
    scaled_.resize((size_t)count * 2);
    scaleFrames(frames, count, gain_, scaled_.data());
    frames = scaled_.data();
  }
  SDL_QueueAudio(device_, frames, (Uint32)(count * 2 * sizeof(float)));
  sent_ += count;
}

int64_t AudioPlayback::unqueue() {
  if (!device_) return 0;
  // Under the device's lock, so that its thread takes nothing between the count and
  // the clearing.
  SDL_LockAudioDevice(device_);
  int64_t frames = SDL_GetQueuedAudioSize(device_) / (int64_t)(2 * sizeof(float));
  SDL_ClearQueuedAudio(device_);
  SDL_UnlockAudioDevice(device_);
  sent_ -= frames;
  return frames;
}

int64_t AudioPlayback::queuedFrames() const {
  return device_ ? SDL_GetQueuedAudioSize(device_) / (int64_t)(2 * sizeof(float)) : 0;
}

int64_t AudioPlayback::position() const {
  if (!device_) return 0;
  // Past the queue, one device buffer is still on its way to the speakers.
  int64_t step = std::max<int64_t>(0, sent_ - queuedFrames() - deviceFrames_);
  double now = monotonicSeconds();
  if (step != stepFrames_) {
    stepFrames_ = step;
    stepSeconds_ = now;
  }
  // Paused, or nothing left to play, the sound stands where the device left it.
  if (paused_ || step + deviceFrames_ >= sent_) return step;
  int64_t since = (int64_t)((now - stepSeconds_) * rate_);
  return step + std::min(since, deviceFrames_);
}

void AudioPlayback::setPaused(bool paused) {
  paused_ = paused;  // kept for a device opened later
  if (!device_) return;
  SDL_PauseAudioDevice(device_, paused ? 1 : 0);
  stepFrames_ = -1;  // going on, the wall clock counts from the next look
}

void AudioPlayback::clear() {
  if (device_) SDL_ClearQueuedAudio(device_);
  sent_ = 0;
  stepFrames_ = -1;
}

void WallClock::setPaused(bool paused) {
  if (paused == paused_) return;
  int64_t now = position();
  paused_ = paused;
  seek(now);
}

void WallClock::seek(int64_t frame) {
  started_ = true;
  pausedAt_ = std::max<int64_t>(0, frame);
  origin_ = monotonicSeconds() - (double)pausedAt_ / rate_;
}

int64_t WallClock::position() const {
  if (!started_) return 0;
  if (paused_) return pausedAt_;
  return (int64_t)((monotonicSeconds() - origin_) * rate_);
}
