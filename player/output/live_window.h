// The live output of `play`: an SDL2 window that shows frames, and SDL2 audio playback
// whose position is the player's clock. Nothing here knows the plug-in; the caller hands
// in pixels and reads back events.
//
// The window's surface is memory SDL keeps for the window's size and updates in place
// (on X11 an image in memory shared with the server; where the video driver has no such
// framebuffer, SDL backs it with one streaming texture of its own renderer). A caller
// that draws straight into it (framebuffer()) has its frames shown with no copy at all;
// other pixels reach it with one copy (wrapped, not copied, and the wrapper made again
// only when they move or change size).
#pragma once

#include <SDL.h>

#include <string>
#include <vector>

#include "output/frame_scale.h"
#include "output/frame_view.h"

class LiveWindow {
 public:
  LiveWindow() = default;
  LiveWindow(const LiveWindow&) = delete;
  LiveWindow& operator=(const LiveWindow&) = delete;
  ~LiveWindow();

  // A window whose client area is width x height at screen position (x, y).
  bool open(const std::string& title, int x, int y, int width, int height, std::string* error);
  // The surface's memory when it is width x height of 0x00RRGGBB words, stride in pixels.
  // It moves when the window changes size: a caller drawing there stops as soon as it
  // sees SDL_WINDOWEVENT_SIZE_CHANGED or calls toggleFullscreen(), before the next
  // show() or framebuffer(), which is when SDL lets the old memory go.
  bool framebuffer(int width, int height, uint32_t** pixels, int* stride);
  void show(const FrameView& frame);
  // A frame drawn smaller than the window, scaled up straight into the window's surface
  // when that is the scaler's size (else, a resize in flight, stretched as show() does).
  void showScaled(const FrameView& drawn, FrameScaler& scaler);
  void setTitle(const std::string& title);
  // Full screen hides the mouse cursor, which would otherwise sit over the picture;
  // back in a window it shows again.
  void toggleFullscreen();
  void drawableSize(int* width, int* height) const;
  SDL_Window* window() const { return window_; }

 private:
  SDL_Window* window_ = nullptr;
  SDL_Surface* source_ = nullptr;  // wraps the caller's pixels; owns none
  std::string title_;
  bool fullscreen_ = false;
  SDL_Rect windowed_ = {0, 0, 0, 0};
};

// Plays what the caller queues through SDL's queue; the caller keeps it a fifth of a
// second ahead. The position is the frame being heard now, counted from the last
// clear(): SDL moves it on a device buffer at a time, and between two such steps it
// goes on with the wall clock (never past the next step), so that frames fall due
// evenly and the player wakes once per frame rather than waiting for the step. Without an audio device, open() fails and callers may use WallClock instead.
// The sound server sees the stream under the program's name and `streamName`.
//
// When the device goes away under it (the sound server stopped or crashed), SDL stops
// the device for good: lost() says so, and the caller closes it and opens another once
// the server is back.
class AudioPlayback {
 public:
  AudioPlayback() = default;
  AudioPlayback(const AudioPlayback&) = delete;
  AudioPlayback& operator=(const AudioPlayback&) = delete;
  ~AudioPlayback();

  bool open(int sampleRate, const std::string& streamName, std::string* error);
  void close();
  bool isOpen() const { return device_ != 0; }
  // The device has gone with its sound server; nothing queued will be heard.
  bool lost() const;
  void setPaused(bool paused);
  // What the samples queued from now on are multiplied by.
  void setGain(float gain) { gain_ = gain; }
  // Frames (stereo floats) to play after those already queued.
  void queue(const float* frames, int64_t count);
  int64_t queuedFrames() const;
  // Takes back what is queued but not yet handed to the device, and returns how many
  // frames that was: the caller queues them again (at a new volume) from there, and
  // the position goes on as before.
  int64_t unqueue();
  // Drops everything queued; the position starts again from 0.
  void clear();
  int64_t position() const;

 private:
  SDL_AudioDeviceID device_ = 0;
  int rate_ = 0;
  bool paused_ = false;
  float gain_ = 1.0f;
  std::vector<float> scaled_;  // the frames being queued, times the gain
  int64_t sent_ = 0;           // frames queued since the last clear
  int64_t deviceFrames_ = 0;   // frames of the device's own buffer
  // The last step seen and the wall time it was first seen at.
  mutable int64_t stepFrames_ = -1;
  mutable double stepSeconds_ = 0;
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
