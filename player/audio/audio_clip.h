// Decoded audio held in memory: what the player analyses, plays and muxes.
//
// Samples are 32-bit floats, always two interleaved channels (a mono stream is doubled,
// a stream with more channels keeps its first two); `streamChannels` remembers how many
// the stream really had, since that is what a host reports to the plug-in. This file
// decodes files through libsndfile and writes ranges back out as WAV; it knows nothing of
// spectra or video.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct AudioClip {
  std::vector<float> samples;  // interleaved L, R
  int sampleRate = 0;
  int streamChannels = 0;      // channel count of the source stream (1, 2, 6...)
  std::string source;          // the file it came from; empty for synthesised audio

  int64_t frameCount() const { return (int64_t)(samples.size() / 2); }
  double seconds() const { return sampleRate > 0 ? (double)frameCount() / sampleRate : 0.0; }
};

// Decodes a whole file (any format libsndfile reads: WAV, FLAC, Ogg/Vorbis, Opus, MP3).
// On failure returns false and sets *error to "<path>: <reason>" with libsndfile's reason.
bool loadAudioFile(const std::string& path, AudioClip* clip, std::string* error);

// Writes frames [first, first + count) as a float WAV with the stream's channel count
// capped at two (mono stays mono).
bool writeWavRange(const AudioClip& clip, int64_t first, int64_t count, const std::string& path,
                   std::string* error);
