// The WAV file is written by hand: a RIFF header, a 'fmt ' chunk for IEEE float
// samples (format 3, with the 'fact' chunk that non-PCM WAV files carry) and the data.
#include "audio/audio_clip.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

bool ClipSource::seek(int64_t frame, std::string*) {
  next_ = std::max<int64_t>(0, std::min(frame, clip_.frameCount()));
  return true;
}

int64_t ClipSource::read(float* out, int64_t frames) {
  int64_t n = std::max<int64_t>(0, std::min(frames, clip_.frameCount() - next_));
  std::copy(clip_.samples.begin() + next_ * 2, clip_.samples.begin() + (next_ + n) * 2, out);
  next_ += n;
  return n;
}

namespace {
void put16(std::string* s, unsigned v) {
  s->push_back((char)(v & 0xFF));
  s->push_back((char)(v >> 8 & 0xFF));
}
void put32(std::string* s, uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}
}  // namespace

bool writeWav(const AudioClip& clip, const std::string& path, std::string* error) {
  const unsigned channels = clip.streamChannels >= 2 ? 2 : 1;
  const uint64_t frames = (uint64_t)clip.frameCount();
  const uint64_t dataBytes = frames * channels * 4;
  if (dataBytes > 0xFFFFFF00u) {
    *error = path + ": cannot write audio: too long for a WAV file";
    return false;
  }
  std::string header = "RIFF";
  put32(&header, (uint32_t)(4 + 26 + 12 + 8 + dataBytes));
  header += "WAVEfmt ";
  put32(&header, 18);
  put16(&header, 3);  // WAVE_FORMAT_IEEE_FLOAT
  put16(&header, channels);
  put32(&header, (uint32_t)clip.sampleRate);
  put32(&header, (uint32_t)clip.sampleRate * channels * 4);
  put16(&header, channels * 4);
  put16(&header, 32);
  put16(&header, 0);
  header += "fact";
  put32(&header, 4);
  put32(&header, (uint32_t)frames);
  header += "data";
  put32(&header, (uint32_t)dataBytes);

  FILE* f = fopen(path.c_str(), "wb");
  if (!f) {
    *error = path + ": cannot write audio: " + strerror(errno);
    return false;
  }
  bool ok = fwrite(header.data(), 1, header.size(), f) == header.size();
  // The samples are little-endian floats, which is how this machine holds them.
  if (channels == 2) {
    ok = ok && fwrite(clip.samples.data(), 4, (size_t)frames * 2, f) == (size_t)frames * 2;
  } else {
    for (uint64_t i = 0; ok && i < frames; ++i) {
      ok = fwrite(&clip.samples[(size_t)i * 2], 4, 1, f) == 1;
    }
  }
  int writeError = ok ? 0 : errno;
  if (fclose(f) != 0 && ok) {
    ok = false;
    writeError = errno;
  }
  if (!ok) {
    *error = path + ": cannot write audio: " + strerror(writeError ? writeError : EIO);
    remove(path.c_str());
  }
  return ok;
}
