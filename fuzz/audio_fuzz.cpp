// Fuzz target: the player's audio decoding (AudioDecoder over FFmpeg's demuxers,
// decoders and resampler) on a file of any content. The input is written to a file,
// opened as `render` and `play` open one, read to the end in blocks of varied size,
// then sought back to the start and to the middle and read on. Checked besides the
// sanitizers (no memory error, no leak, no hang): every message and warning is one line
// naming the file; a stream that opens has a rate and channels; a read never returns more than
// asked or less than nothing.
// Inputs: any bytes; seeds from audio_seeds.cpp (tiny files of every kind the player
// reads, made by the ffmpeg program).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "audio/decoder.h"

namespace {

// A decoder can turn a few bytes into a great deal of sound (a header that states a
// long silence); past this many frames the rest is not read, to keep each input quick.
constexpr int64_t kMaxFrames = int64_t(1) << 22;

void check(bool condition, const char* what, const std::string& detail) {
  if (condition) return;
  fprintf(stderr, "fuzz check failed: %s: %s\n", what, detail.c_str());
  abort();
}

void checkMessage(const std::string& message, const std::string& path) {
  check(message.find('\n') == std::string::npos, "one line", message);
  check(message.rfind(path + ": ", 0) == 0, "names the file", message);
}

std::string inputPath() {
  const char* tmp = getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/audio_fuzz-" + std::to_string(getpid()) +
         ".bin";
}

// Reads up to `limit` frames in blocks of 1 to 8192 frames; the frames read.
int64_t readOn(AudioDecoder& decoder, int64_t limit, const std::string& path) {
  static std::vector<float> buffer(8192 * 2);
  int64_t total = 0;
  for (int block = 1; total < limit; block = block * 3 % 8191 + 1) {
    int64_t got = decoder.read(buffer.data(), block);
    check(got >= 0 && got <= block, "read's count", std::to_string(got));
    total += got;
    if (got < block) break;
  }
  if (!decoder.error().empty()) checkMessage(decoder.error(), path);
  // Damage skipped by default: each warning is a line of its own, and a handful at
  // most per reading (the rest are counted), however damaged the input.
  std::vector<std::string> warnings = decoder.takeWarnings();
  check(warnings.size() <= 4, "warnings counted, not repeated", std::to_string(warnings.size()));
  for (const std::string& w : warnings) checkMessage(w, path);
  return total;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = inputPath();
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return 0;
  bool written = fwrite(data, 1, size, file) == size;
  if (fclose(file) != 0 || !written) return 0;

  AudioDecoder decoder;
  std::string error;
  if (!decoder.open(path, &error)) {
    check(!error.empty(), "a reason", path);
    checkMessage(error, path);
    unlink(path.c_str());
    return 0;
  }
  check(decoder.sampleRate() > 0 && decoder.streamChannels() > 0, "rate and channels",
        std::to_string(decoder.sampleRate()) + " Hz, " +
            std::to_string(decoder.streamChannels()) + " channels");
  int64_t frames = readOn(decoder, kMaxFrames, path);
  for (int64_t target : {int64_t(0), frames / 2}) {
    if (decoder.seek(target, &error)) {
      readOn(decoder, std::min<int64_t>(frames + 1, 65536), path);
    } else {
      checkMessage(error, path);
    }
  }
  unlink(path.c_str());
  return 0;
}
