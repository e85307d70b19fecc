// The live output of `play`: an SDL2 window that shows frames, and SDL2 audio playback
// whose position is the player's clock. Nothing here knows the plug-in; the caller hands
// in pixels and reads back events.
#pragma once

#include <SDL.h>

#include <string>

#include "audio/audio_clip.h"
#include "output/frame_view.h"

class LiveWindow {
 public:
  LiveWindow() = default;
  LiveWindow(const LiveWindow&) = delete;
  LiveWindow& operator=(const LiveWindow&) = delete;
  ~LiveWindow();

  // A window whose client area is width x height at screen position (x, y).
  bool open(const std::string& title, int x, int y, int width, int height, std::string* error);
  void show(const FrameView& frame);
  void setTitle(const std::string& title);
  void toggleFullscreen();
  void drawableSize(int* width, int* height) const;
  SDL_Window* window() const { return window_; }

 private:
  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int textureWidth_ = 0, textureHeight_ = 0;
  std::string title_;
  bool fullscreen_ = false;
  SDL_Rect windowed_ = {0, 0, 0, 0};
};

// Plays a clip through SDL's queue, a fifth of a second ahead; the clock is the frame
// being heard now. Without an audio device, open() fails and callers may use
// WallClock instead.
class AudioPlayback {
 public:
  AudioPlayback() = default;
  AudioPlayback(const AudioPlayback&) = delete;
  AudioPlayback& operator=(const AudioPlayback&) = delete;
  ~AudioPlayback();

  bool open(const AudioClip* clip, std::string* error);
  void setPaused(bool paused);
  void seek(int64_t frame);
  void feed();                 // keeps the queue topped up; call often
  int64_t position() const;    // frame of the clip being heard
  bool finished() const;

 private:
  const AudioClip* clip_ = nullptr;
  SDL_AudioDeviceID device_ = 0;
  int64_t next_ = 0;           // next clip frame to queue
  int64_t deviceFrames_ = 0;   // frames of the device's own buffer
  bool paused_ = false;
};

// A clock for when there is no audio device: wall time, pausable and seekable.
class WallClock {
 public:
  explicit WallClock(int sampleRate) : rate_(sampleRate) {}
  void setPaused(bool paused);
  void seek(int64_t frame);
  int64_t position() const;

 private:
  int rate_;
  double origin_ = 0;          // wall time at which position 0 was (or would have been)
  bool paused_ = false;
  int64_t pausedAt_ = 0;
  bool started_ = false;
};
