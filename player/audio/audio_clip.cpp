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

namespace {
// The WAV header of `frames` frames of 32-bit float samples; sizes a WAV file cannot
// hold are refused.
bool wavHeader(unsigned channels, int rate, uint64_t frames, std::string* header) {
  const uint64_t dataBytes = frames * channels * 4;
  if (dataBytes > 0xFFFFFF00u) return false;
  header->clear();
  *header = "RIFF";
  put32(header, (uint32_t)(4 + 26 + 12 + 8 + dataBytes));
  *header += "WAVEfmt ";
  put32(header, 18);
  put16(header, 3);  // WAVE_FORMAT_IEEE_FLOAT
  put16(header, channels);
  put32(header, (uint32_t)rate);
  put32(header, (uint32_t)rate * channels * 4);
  put16(header, channels * 4);
  put16(header, 32);
  put16(header, 0);
  *header += "fact";
  put32(header, 4);
  put32(header, (uint32_t)frames);
  *header += "data";
  put32(header, (uint32_t)dataBytes);
  return true;
}
}  // namespace

bool writeWav(const AudioClip& clip, const std::string& path, std::string* error) {
  const unsigned channels = clip.streamChannels >= 2 ? 2 : 1;
  const uint64_t frames = (uint64_t)clip.frameCount();
  std::string header;
  if (!wavHeader(channels, clip.sampleRate, frames, &header)) {
    *error = path + ": cannot write audio: too long for a WAV file";
    return false;
  }

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

bool spoolToWav(AudioSource* source, const std::string& path, const std::string& name,
                bool (*stop)(), std::string* error) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) {
    *error = name + ": cannot keep the decoded audio in " + path + ": " + strerror(errno);
    return false;
  }
  const int rate = source->sampleRate();
  std::string header;
  wavHeader(2, rate, 0, &header);
  bool ok = fwrite(header.data(), 1, header.size(), f) == header.size();
  std::vector<float> chunk(2 * 16384);
  uint64_t frames = 0;
  bool tooLong = false, stopped = false;
  while (ok) {
    int64_t n = source->read(chunk.data(), 16384);
    if (n <= 0) break;
    ok = fwrite(chunk.data(), 8, (size_t)n, f) == (size_t)n;
    frames += (uint64_t)n;
    if ((tooLong = frames * 8 > 0xFFFFFF00u)) ok = false;
    if ((stopped = stop && stop())) ok = false;
  }
  int writeError = ok || tooLong || stopped ? 0 : errno;
  // The real sizes, now that they are known.
  if (ok && wavHeader(2, rate, frames, &header)) {
    ok = fseek(f, 0, SEEK_SET) == 0 && fwrite(header.data(), 1, header.size(), f) == header.size();
    if (!ok) writeError = errno;
  }
  if (fclose(f) != 0 && ok) {
    ok = false;
    writeError = errno;
  }
  if (!ok) {
    remove(path.c_str());
    if (stopped) *error = name + ": interrupted";
    else if (tooLong) *error = name + ": longer than a stream can be kept (a 4 GB WAV file)";
    else *error = name + ": cannot keep the decoded audio in " + path + ": " +
                  strerror(writeError ? writeError : EIO);
    return false;
  }
  if (!source->error().empty()) {
    remove(path.c_str());
    *error = source->error();
    return false;
  }
  return true;
}
