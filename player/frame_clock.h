// The frame clock: when the running module wants its frames, in samples of the audio.
// It is built from the module's own record (frameIntervalMillis), and it is the one
// place in the player that knows the interval; everything that counts, times or paces
// frames (render's loop, the video's frame rate, play's display, the analysis window
// around each frame) asks it.
//
// Frame k covers samples [frameStart(k), frameStart(k + 1)), with
// frameStart(k) = floor(k * interval * rate / 1000), so no rounding error builds up
// over a long track, whatever the rate.
#pragma once

#include <stdint.h>

#include <string>

#include "vis_header.h"  // VisModule

// The window an analyser reads for one frame: it starts at sample `first` (which may
// be before 0) and the frame's own samples are window samples [begin, end).
struct FrameWindow {
  int64_t first;
  int begin, end;
};

class FrameClock {
 public:
  FrameClock() = default;
  // The clock a module asks for, at the audio's rate. A record whose interval is not
  // 1 to 1000 ms is refused with a one-line reason.
  static bool forModule(const VisModule& module, const std::string& name, int sampleRate,
                        FrameClock* clock, std::string* error);

  int intervalMillis() const { return interval_; }
  int sampleRate() const { return rate_; }
  double secondsPerFrame() const { return interval_ / 1000.0; }
  // The frame rate as ffmpeg takes it: "40", or "1000/30" where it is not whole.
  std::string frameRateText() const;

  int64_t frameStart(int64_t frame) const { return frame * interval_ * rate_ / 1000; }
  // The frame that sample `sample` belongs to.
  int64_t frameAt(int64_t sample) const;
  // The frames needed to show `samples` samples, the last, partial one included.
  int64_t framesFor(int64_t samples) const;
  // The frame showing the moment `seconds` after the start.
  int64_t frameAtSeconds(double seconds) const;
  // A video at num / den frames a second shows, at its frame j (j den / num seconds in),
  // the module's frame under way then; this is how many video frames come before module
  // frame `frame`, so module frame k is shown videoFramesBefore(k + 1) - videoFramesBefore(k)
  // times: repeated when the video is faster, dropped (0) when it is slower.
  int64_t videoFramesBefore(int64_t frame, int num, int den) const;
  // The analysis window of `length` samples centred on frame `frame`.
  FrameWindow window(int64_t frame, int length) const;

 private:
  FrameClock(int intervalMillis, int sampleRate) : interval_(intervalMillis), rate_(sampleRate) {}
  int interval_ = 0;
  int rate_ = 0;
};
