// The feed's buffer holds what was read and not yet forgotten; reads come in blocks of
// at least 4096 frames so that a decoder is not asked for a few samples at a time.
#include "audio/audio_feed.h"

#include <algorithm>

void AudioFeed::readUpTo(int64_t want) {
  while (!ended_ && total() < want) {
    int64_t n = std::max<int64_t>(want - total(), 4096);
    if (left_ >= 0) n = std::min(n, left_);
    if (n <= 0) {
      ended_ = true;
      break;
    }
    size_t at = buffer_.size();
    buffer_.resize(at + (size_t)n * 2);
    int64_t got = source_->read(&buffer_[at], n);
    buffer_.resize(at + (size_t)got * 2);
    if (left_ >= 0) left_ -= got;
    if (got < n) ended_ = true;
  }
}

const float* AudioFeed::copy(int64_t first, int length) {
  const int64_t want = first + length;
  readUpTo(want);
  // The stretch the buffer has, copied whole; zeros before and after it.
  out_.resize((size_t)length * 2);
  int64_t from = std::max(first, base_), to = std::min(want, total());
  float* out = out_.data();
  if (to <= from) {
    std::fill(out, out + (size_t)length * 2, 0.0f);
    return out;
  }
  std::fill(out, out + (size_t)(from - first) * 2, 0.0f);
  const float* in = buffer_.data() + (size_t)(dead_ + from - base_) * 2;
  std::copy(in, in + (size_t)(to - from) * 2, out + (size_t)(from - first) * 2);
  std::fill(out + (size_t)(to - first) * 2, out + (size_t)length * 2, 0.0f);
  return out;
}

const float* AudioFeed::peek(int64_t first, int length) { return copy(first, length); }

const float* AudioFeed::window(int64_t first, int length) {
  // Forget what lies before the window; the buffer is compacted only once the
  // forgotten part is the larger one, so frames are moved about once, not every frame.
  // (A window that starts past everything read so far drops only what was read; the
  // frames in between are read below and dropped on the next call.)
  if (first > base_) {
    int64_t drop = std::min(first - base_, total() - base_);
    base_ += drop;
    dead_ += drop;
    if ((size_t)dead_ * 4 > buffer_.size()) {
      buffer_.erase(buffer_.begin(), buffer_.begin() + dead_ * 2);
      dead_ = 0;
    }
  }
  return copy(first, length);
}
