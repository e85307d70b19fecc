#include "output/live_window.h"

#include <algorithm>

#include "progress.h"  // monotonicSeconds

LiveWindow::~LiveWindow() {
  if (texture_) SDL_DestroyTexture(texture_);
  if (renderer_) SDL_DestroyRenderer(renderer_);
  if (window_) SDL_DestroyWindow(window_);
}

bool LiveWindow::open(const std::string& title, int x, int y, int width, int height,
                      std::string* error) {
  // A frame is a copy of the plug-in's pixels at the window's own size (the plug-in
  // redraws at every size), so SDL's software renderer is all it takes; an OpenGL one
  // would load the GL driver, which for Mesa's software GL is LLVM and some 80 MB of
  // memory, for nothing. SDL_RENDER_DRIVER still chooses another.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  window_ = SDL_CreateWindow(title.c_str(), x, y, width, height, SDL_WINDOW_RESIZABLE);
  if (!window_) {
    *error = std::string("cannot open a window: ") + SDL_GetError();
    return false;
  }
  renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
  if (!renderer_) {
    *error = std::string("cannot draw in the window: ") + SDL_GetError();
    return false;
  }
  title_ = title;
  return true;
}

void LiveWindow::show(const FrameView& frame) {
  if (!texture_ || textureWidth_ != frame.width || textureHeight_ != frame.height) {
    if (texture_) SDL_DestroyTexture(texture_);
    // 0x00RRGGBB words: SDL's XRGB8888 (RGB888) format.
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                 frame.width, frame.height);
    textureWidth_ = frame.width;
    textureHeight_ = frame.height;
    if (!texture_) return;
  }
  SDL_UpdateTexture(texture_, nullptr, frame.pixels, frame.stride * 4);
  SDL_RenderClear(renderer_);
  SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
  SDL_RenderPresent(renderer_);
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
    fullscreen_ = true;
  } else {
    SDL_SetWindowBordered(window_, SDL_TRUE);
    SDL_SetWindowSize(window_, windowed_.w, windowed_.h);
    SDL_SetWindowPosition(window_, windowed_.x, windowed_.y);
    fullscreen_ = false;
  }
}

void LiveWindow::drawableSize(int* width, int* height) const {
  SDL_GetRendererOutputSize(renderer_, width, height);
}

AudioPlayback::~AudioPlayback() {
  if (device_) SDL_CloseAudioDevice(device_);
}

bool AudioPlayback::open(int sampleRate, const std::string& streamName, std::string* error) {
  // The stream's name as the sound server shows it (read when the device opens).
  SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, streamName.c_str());
  SDL_AudioSpec want = {}, have = {};
  want.freq = sampleRate;
  want.format = AUDIO_F32SYS;
  want.channels = 2;
  want.samples = 1024;
  device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (!device_) {
    *error = std::string("cannot open audio output: ") + SDL_GetError();
    return false;
  }
  deviceFrames_ = have.samples;
  SDL_PauseAudioDevice(device_, 0);
  return true;
}

void AudioPlayback::queue(const float* frames, int64_t count) {
  if (!device_ || count <= 0) return;
  SDL_QueueAudio(device_, frames, (Uint32)(count * 2 * sizeof(float)));
  sent_ += count;
}

int64_t AudioPlayback::queuedFrames() const {
  return device_ ? SDL_GetQueuedAudioSize(device_) / (int64_t)(2 * sizeof(float)) : 0;
}

int64_t AudioPlayback::position() const {
  if (!device_) return 0;
  // Past the queue, one device buffer is still on its way to the speakers.
  return std::max<int64_t>(0, sent_ - queuedFrames() - deviceFrames_);
}

void AudioPlayback::setPaused(bool paused) {
  if (device_) SDL_PauseAudioDevice(device_, paused ? 1 : 0);
}

void AudioPlayback::clear() {
  if (device_) SDL_ClearQueuedAudio(device_);
  sent_ = 0;
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
