// Where `render` sends its frames: nowhere (/dev/null), one PNG snapshot, a folder of
// numbered PNGs, or a video through the ffmpeg program. The sink is chosen, and its
// path checked, from the output name alone before any audio is decoded; it is opened
// once the frame's size is known; its output appears only when finish() succeeds, and
// a sink destroyed unfinished leaves nothing behind.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>

#include "output/encoding.h"  // EncodingChoice
#include "output/frame_scale.h"
#include "output/frame_view.h"
#include "output/output_file.h"  // IfExists

// What the user chose about the output beyond its name (-y/-n, the encoding options).
struct SinkChoice {
  IfExists ifExists = IfExists::Refuse;
  EncodingChoice encoding;
};

struct SinkSetup {
  int width = 0, height = 0;  // the output's frame: the drawing scaled up by `scale`
  int scale = 1;
  ScaleFilter scaleFilter = ScaleFilter::Nearest;
  std::string frameRate;      // frames per second as ffmpeg takes it ("50", "1000/30")
  std::string audioPath;      // the sound under a video: this file...
  double audioStart = 0;      // ...from here...
  double audioDuration = -1;  // ...for this long (< 0: to its end)
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual bool open(const SinkSetup& setup, std::string* error) = 0;
  // Frame `index` (from 0) as the plug-in drew it, at the drawing's size.
  virtual bool write(const FrameView& frame, int64_t index, std::string* error) = 0;
  // Makes the output appear at its path.
  virtual bool finish(std::string* error) = 0;
  // Whether the sink keeps the pixels of every frame (a snapshot keeps one, discard none).
  virtual bool wantsPixels(int64_t index) const = 0;
  // Whether the sound has to be written out for the sink (a video of audio with no file).
  virtual bool wantsAudio() const { return false; }
  // For the closing report, after finish(): what was written ("" for nothing, as
  // /dev/null), its size in bytes (< 0: unknown, a pipe) and whether it has a
  // duration (a snapshot is one moment).
  virtual std::string written() const { return ""; }
  virtual long long bytes() const { return -1; }
  virtual bool hasDuration() const { return true; }
  // After open(): what the user should know about the output that they did not ask
  // for (a size made even), or "".
  virtual std::string note() const { return ""; }
};

// The sink for an output name: "/dev/null", a name ending in .png (one frame), a frames
// pattern ending in .png ("frames/%06d.png": numbered frames from 1), a video name (.mp4
// .mkv .webm .gif), or "-" (Matroska on standard output). A folder is no sink: the
// command picks a video name inside it. Checks that the folder exists and can be
// written (a device other than /dev/null, or a pipe, is refused by name), that an
// existing output (or frames of the pattern) may be replaced, that the encoding choice
// suits the container and that ffmpeg is on the PATH for a video; *error is one line
// otherwise.
std::unique_ptr<FrameSink> makeFrameSink(const std::string& output, const SinkChoice& choice,
                                         std::string* error);
inline std::unique_ptr<FrameSink> makeFrameSink(const std::string& output, std::string* error) {
  return makeFrameSink(output, SinkChoice(), error);
}

// A snapshot sink keeps frame `index` only; makeFrameSink's PNG sinks start with none.
// Returns false for a sink that is not a snapshot.
bool setSnapshotFrame(FrameSink* sink, int64_t index);
bool isSnapshotSink(const FrameSink* sink);
bool isVideoSink(const FrameSink* sink);

// Whether a name is a frames pattern: one %d or %0Nd (N 1 to 9) in its file name, which
// ends in .png, and no other '%'. A name with a '%' that is no such pattern is refused
// by makeFrameSink with the reason.
bool isFramesPattern(const std::string& output);
