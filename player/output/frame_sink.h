// Where `render` sends its frames: nowhere (/dev/null), one PNG snapshot, a folder of
// numbered PNGs, or a video through the ffmpeg program. The sink is chosen, and its
// path checked, from the output name alone before any audio is decoded; it is opened
// once the frame's size is known; its output appears only when finish() succeeds, and
// a sink destroyed unfinished leaves nothing behind.
#pragma once

#include <stdint.h>

#include <memory>
#include <string>

#include "output/frame_view.h"

struct SinkSetup {
  int width = 0, height = 0;
  std::string frameRate;      // frames per second as ffmpeg takes it ("50", "1000/30")
  std::string audioPath;      // the sound under a video: this file...
  double audioStart = 0;      // ...from here...
  double audioDuration = -1;  // ...for this long (< 0: to its end)
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual bool open(const SinkSetup& setup, std::string* error) = 0;
  // Frame `index` (from 0) as the plug-in drew it.
  virtual bool write(const FrameView& frame, int64_t index, std::string* error) = 0;
  // Makes the output appear at its path.
  virtual bool finish(std::string* error) = 0;
  // Whether the sink keeps the pixels of every frame (a snapshot keeps one, discard none).
  virtual bool wantsPixels(int64_t index) const = 0;
  // Whether the sound has to be written out for the sink (a video of audio with no file).
  virtual bool wantsAudio() const { return false; }
};

// The sink for an output name: "/dev/null", a name ending in .png, an existing folder,
// or a video name (.mp4 .mkv .webm .gif). Checks that the folder exists and can be
// written, and that ffmpeg is on the PATH for a video; *error is one line otherwise.
std::unique_ptr<FrameSink> makeFrameSink(const std::string& output, std::string* error);

// A snapshot sink keeps frame `index` only; makeFrameSink's PNG sinks start with none.
// Returns false for a sink that is not a snapshot.
bool setSnapshotFrame(FrameSink* sink, int64_t index);
bool isSnapshotSink(const FrameSink* sink);
