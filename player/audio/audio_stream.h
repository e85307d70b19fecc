// Audio read as it is needed rather than decoded whole: what `render` uses, so that a
// long track costs a few hundred kilobytes of samples, not its whole decoded length.
//
// An AudioStream reads a file sequentially through libsndfile as two-channel floats
// (as AudioClip holds them), from a start frame and for at most a given count. An
// AudioFeed keeps a sliding stretch of a source and hands out analysis windows that move
// forward through it, with zeros before the start and past the end.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "audio/audio_clip.h"

// Where the feed's samples come from: a file, or a clip already in memory.
class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // Reads up to `frames` stereo frames; fewer (0) at the end or on an error.
  virtual int64_t read(float* out, int64_t frames) = 0;
};

class AudioStream : public AudioSource {
 public:
  AudioStream() = default;
  AudioStream(const AudioStream&) = delete;
  AudioStream& operator=(const AudioStream&) = delete;
  ~AudioStream() override;

  // Opens the file; errors read "<path>: cannot read audio: <libsndfile's reason>".
  bool open(const std::string& path, std::string* error);
  int sampleRate() const { return rate_; }
  int streamChannels() const { return channels_; }
  int64_t frames() const { return frames_; }  // as the file's header gives it
  // Positions the stream at `first` and lets it give at most `count` frames from there.
  bool select(int64_t first, int64_t count, std::string* error);
  int64_t read(float* out, int64_t frames) override;
  // The decoder's error after a short read, or empty at a clean end.
  std::string error() const;

 private:
  struct sf_private_tag* file_ = nullptr;  // SNDFILE, without including sndfile.h
  std::string path_;
  int rate_ = 0, channels_ = 0;
  int64_t frames_ = 0, left_ = 0;
  std::vector<float> block_;
};

class ClipSource : public AudioSource {
 public:
  explicit ClipSource(const AudioClip& clip) : clip_(clip) {}
  int64_t read(float* out, int64_t frames) override;

 private:
  const AudioClip& clip_;
  int64_t next_ = 0;
};

class AudioFeed {
 public:
  explicit AudioFeed(AudioSource* source) : source_(source) {}
  // The `length` frames from `first` (relative to the source's start, possibly
  // negative); `first` must not go back from one call to the next.
  const float* window(int64_t first, int length);
  // Every frame of the source has been read, and there were this many.
  bool ended() const { return ended_; }
  int64_t total() const { return base_ - dead_ + (int64_t)buffer_.size() / 2; }

 private:
  AudioSource* source_;
  std::vector<float> buffer_;  // frames [base_ - dead_, total()); the first dead_ are spent
  std::vector<float> out_;
  int64_t base_ = 0;
  int64_t dead_ = 0;
  bool ended_ = false;
};
