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
  // Drop what lies before the window, then read until it is covered or the source ends.
  if (first > base_) {
    int64_t drop = std::min<int64_t>(first - base_, (int64_t)buffer_.size() / 2);
    buffer_.erase(buffer_.begin(), buffer_.begin() + drop * 2);
    base_ += drop;
    if (buffer_.empty()) base_ = std::max(base_, first);
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
  out_.assign((size_t)length * 2, 0.0f);
  for (int i = 0; i < length; ++i) {
    int64_t at = first + i;
    if (at >= base_ && at < total()) {
      out_[(size_t)i * 2] = buffer_[(size_t)(at - base_) * 2];
      out_[(size_t)i * 2 + 1] = buffer_[(size_t)(at - base_) * 2 + 1];
    }
  }
  return out_.data();
}
