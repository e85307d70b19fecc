// Audio held whole in memory, used only for what is made in code (the demo tune):
// two interleaved float channels, `streamChannels` saying how many the source really
// had. A ClipSource reads a clip as any other source; writeWav puts it in a file (the
// `tune` command, and the sound under a rendered video of the demo tune).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "audio/audio_source.h"

struct AudioClip {
  std::vector<float> samples;  // interleaved L, R
  int sampleRate = 0;
  int streamChannels = 0;      // channel count of the source stream (1, 2, 6...)

  int64_t frameCount() const { return (int64_t)(samples.size() / 2); }
  double seconds() const { return sampleRate > 0 ? (double)frameCount() / sampleRate : 0.0; }
};

class ClipSource : public AudioSource {
 public:
  ClipSource(const AudioClip& clip, std::string title) : clip_(clip), title_(std::move(title)) {}
  int sampleRate() const override { return clip_.sampleRate; }
  int streamChannels() const override { return clip_.streamChannels; }
  int64_t frames() const override { return clip_.frameCount(); }
  std::string title() const override { return title_; }
  bool seek(int64_t frame, std::string* error) override;
  int64_t read(float* out, int64_t frames) override;

 private:
  const AudioClip& clip_;
  std::string title_;
  int64_t next_ = 0;
};

// Writes the clip as a 32-bit float WAV with the stream's channel count capped at two
// (mono stays mono). On failure *error is "<path>: cannot write audio: <reason>".
bool writeWav(const AudioClip& clip, const std::string& path, std::string* error);

// Reads `source` to its end into a 32-bit float stereo WAV file at `path`: a stream
// that can be read only once (a pipe) becomes a file that can be read again, with the
// very samples that were decoded. `stop` is polled between chunks (an interruption).
// Errors name the input as `name`; on any failure the file is removed.
bool spoolToWav(AudioSource* source, const std::string& path, const std::string& name,
                bool (*stop)(), std::string* error);
