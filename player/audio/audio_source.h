// Where the player's samples come from: a decoded file or a clip already in memory. A
// source hands out two-channel interleaved 32-bit floats in order, can be positioned,
// and describes itself (rate, the stream's real channel count, length, a title). It
// knows nothing of spectra, windows or frames.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

class AudioSource {
 public:
  virtual ~AudioSource() = default;
  virtual int sampleRate() const = 0;
  // Channels of the stream itself (1, 2, 6...), which is what a host reports to the
  // plug-in; the samples handed out are always two channels.
  virtual int streamChannels() const = 0;
  // Length in frames as the container states it (an estimate for some formats), or -1.
  virtual int64_t frames() const = 0;
  // What to call it: "Artist - Title" from its tags where present, else the file name.
  virtual std::string title() const = 0;
  // Positions the source so that the next read starts at `frame`.
  virtual bool seek(int64_t frame, std::string* error) = 0;
  // Reads up to `frames` stereo frames; fewer (0) at the end or on an error.
  virtual int64_t read(float* out, int64_t frames) = 0;
  // After a short read: the reason, or empty at a clean end.
  virtual std::string error() const { return ""; }
  // What was skipped or cut short since the last call (damaged stretches, an early
  // end), one line each; the reading went on or ended cleanly regardless.
  virtual std::vector<std::string> takeWarnings() { return {}; }
};
