#include "audio/audio_stream.h"

#include <sndfile.h>
#include <string.h>

#include <algorithm>

AudioStream::~AudioStream() {
  if (file_) sf_close(file_);
}

bool AudioStream::open(const std::string& path, std::string* error) {
  SF_INFO info = {};
  file_ = sf_open(path.c_str(), SFM_READ, &info);
  if (!file_) {
    *error = path + ": cannot read audio: " + sf_strerror(nullptr);
    return false;
  }
  if (info.channels < 1 || info.samplerate < 1 || info.frames < 1) {
    *error = path + ": cannot read audio: the stream holds no samples";
    return false;
  }
  path_ = path;
  rate_ = info.samplerate;
  channels_ = info.channels;
  frames_ = info.frames;
  left_ = frames_;
  return true;
}

bool AudioStream::select(int64_t first, int64_t count, std::string* error) {
  if (first > 0 && sf_seek(file_, first, SEEK_SET) < 0) {
    *error = path_ + ": cannot read audio: " + sf_strerror(file_);
    return false;
  }
  left_ = count;
  return true;
}

int64_t AudioStream::read(float* out, int64_t frames) {
  frames = std::min(frames, left_);
  if (frames <= 0) return 0;
  block_.resize((size_t)frames * channels_);
  sf_count_t got = sf_readf_float(file_, block_.data(), frames);
  if (got <= 0) return 0;
  for (sf_count_t i = 0; i < got; ++i) {
    const float* in = &block_[(size_t)i * channels_];
    out[i * 2] = in[0];
    out[i * 2 + 1] = channels_ > 1 ? in[1] : in[0];
  }
  left_ -= got;
  return got;
}

std::string AudioStream::error() const {
  return file_ && sf_error(file_) ? path_ + ": cannot read audio: " + sf_strerror(file_) : "";
}

int64_t ClipSource::read(float* out, int64_t frames) {
  int64_t n = std::max<int64_t>(0, std::min(frames, clip_.frameCount() - next_));
  std::copy(clip_.samples.begin() + next_ * 2, clip_.samples.begin() + (next_ + n) * 2, out);
  next_ += n;
  return n;
}

const float* AudioFeed::window(int64_t first, int length) {
  // Forget what lies before the window; the buffer is compacted only once the
  // forgotten part is the larger one, so frames are moved about once, not every tick.
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
  const int64_t want = first + length;
  while (!ended_ && total() < want) {
    int64_t n = std::max<int64_t>(want - total(), 4096);
    size_t at = buffer_.size();
    buffer_.resize(at + (size_t)n * 2);
    int64_t got = source_->read(&buffer_[at], n);
    buffer_.resize(at + (size_t)got * 2);
    if (got < n) ended_ = true;
  }
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
