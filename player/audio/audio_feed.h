// A sliding stretch of a source's samples: it reads ahead only as far as it is asked
// and forgets what lies behind, so a long track costs a few hundred kilobytes, not its
// decoded length. `window` hands out analysis windows that move forward, with zeros
// before the start and past the end; `peek` lets a player queue samples ahead of the
// window without losing what the window still needs.
#pragma once

#include <stdint.h>

#include <vector>

#include "audio/audio_source.h"

class AudioFeed {
 public:
  // Frame 0 of the feed is the source's next frame; at most `limit` frames (< 0: all).
  explicit AudioFeed(AudioSource* source, int64_t limit = -1)
      : source_(source), left_(limit) {}
  // The `length` frames from `first` (relative to frame 0, possibly negative); frames
  // before `first` are forgotten, so `first` must not go back from one call to the next.
  const float* window(int64_t first, int length);
  // The same, without forgetting anything; `first` must not lie before the last window.
  const float* peek(int64_t first, int length);
  // Every frame of the source has been read, and there were this many.
  bool ended() const { return ended_; }
  int64_t total() const { return base_ - dead_ + (int64_t)buffer_.size() / 2; }

 private:
  void readUpTo(int64_t frame);
  const float* copy(int64_t first, int length);

  AudioSource* source_;
  int64_t left_;
  std::vector<float> buffer_;  // frames [base_ - dead_, total()); the first dead_ are spent
  std::vector<float> out_;
  int64_t base_ = 0;
  int64_t dead_ = 0;
  bool ended_ = false;
};
