// libsndfile decoding into the player's two-channel float clip, and WAV writing for the
// ranges that ffmpeg muxes under a rendered video.
#include "audio/audio_clip.h"

#include <sndfile.h>

#include <algorithm>

bool loadAudioFile(const std::string& path, AudioClip* clip, std::string* error) {
  SF_INFO info = {};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) {
    *error = path + ": cannot read audio: " + sf_strerror(nullptr);
    return false;
  }
  if (info.channels < 1 || info.samplerate < 1 || info.frames < 1) {
    sf_close(file);
    *error = path + ": cannot read audio: the stream holds no samples";
    return false;
  }
  clip->sampleRate = info.samplerate;
  clip->streamChannels = info.channels;
  clip->source = path;
  clip->samples.clear();
  if (info.frames > 0 && info.frames < (sf_count_t)(1LL << 31)) {
    clip->samples.reserve((size_t)info.frames * 2);
  }

  // Decode in blocks: the frame count of compressed formats is only an estimate, and a
  // damaged file can end early, so the read loop, not the header, decides the length.
  const int channels = info.channels;
  std::vector<float> block((size_t)4096 * channels);
  for (;;) {
    sf_count_t got = sf_readf_float(file, block.data(), 4096);
    if (got <= 0) {
      break;
    }
    for (sf_count_t i = 0; i < got; ++i) {
      const float* in = &block[(size_t)i * channels];
      clip->samples.push_back(in[0]);
      clip->samples.push_back(channels > 1 ? in[1] : in[0]);
    }
  }
  int status = sf_error(file);
  std::string reason = status ? sf_strerror(file) : "";
  sf_close(file);
  if (status) {
    *error = path + ": cannot read audio: " + reason;
    return false;
  }
  if (clip->samples.empty()) {
    *error = path + ": cannot read audio: the stream holds no samples";
    return false;
  }
  return true;
}

bool writeWavRange(const AudioClip& clip, int64_t first, int64_t count, const std::string& path,
                   std::string* error) {
  first = std::max<int64_t>(0, std::min(first, clip.frameCount()));
  count = std::max<int64_t>(0, std::min(count, clip.frameCount() - first));
  SF_INFO info = {};
  info.samplerate = clip.sampleRate;
  info.channels = clip.streamChannels >= 2 ? 2 : 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!file) {
    *error = path + ": cannot write audio: " + sf_strerror(nullptr);
    return false;
  }
  const float* begin = clip.samples.data() + first * 2;
  sf_count_t written = 0;
  if (info.channels == 2) {
    written = sf_writef_float(file, begin, count);
  } else {
    std::vector<float> mono((size_t)count);
    for (int64_t i = 0; i < count; ++i) {
      mono[(size_t)i] = begin[i * 2];
    }
    written = sf_writef_float(file, mono.data(), count);
  }
  std::string reason = sf_strerror(file);
  sf_close(file);
  if (written != count) {
    *error = path + ": cannot write audio: " + reason;
    return false;
  }
  return true;
}
