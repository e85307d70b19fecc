// The frame clock's arithmetic, in 64-bit integers so that frame k of a long track
// lies exactly where k intervals put it. See frame_clock.h.
#include "frame_clock.h"

#include <math.h>

bool FrameClock::forModule(const VisModule& module, const std::string& name, int sampleRate,
                           FrameClock* clock, std::string* error) {
  const int interval = module.frameIntervalMillis;
  if (interval < 1 || interval > 1000) {
    *error = "module " + name + " asks for a frame every " + std::to_string(interval) +
             " ms; a host can serve 1 to 1000 ms";
    return false;
  }
  if (sampleRate < 1) {
    *error = "no audio rate to time the frames by";
    return false;
  }
  *clock = FrameClock(interval, sampleRate);
  return true;
}

std::string FrameClock::frameRateText() const {
  if (1000 % interval_ == 0) return std::to_string(1000 / interval_);
  return "1000/" + std::to_string(interval_);
}

int64_t FrameClock::frameAt(int64_t sample) const {
  // The largest k with k * interval * rate / 1000 <= sample (floored).
  if (sample <= 0) return 0;
  int64_t k = sample * 1000 / ((int64_t)interval_ * rate_);
  while (frameStart(k + 1) <= sample) ++k;
  while (k > 0 && frameStart(k) > sample) --k;
  return k;
}

int64_t FrameClock::framesFor(int64_t samples) const {
  if (samples <= 0) return 0;
  // The smallest k with frameStart(k) >= samples.
  int64_t k = frameAt(samples - 1) + 1;
  return k;
}

int64_t FrameClock::frameAtSeconds(double seconds) const {
  return seconds <= 0 ? 0 : (int64_t)floor(seconds * 1000.0 / interval_);
}

FrameWindow FrameClock::window(int64_t frame, int length) const {
  int64_t begin = frameStart(frame), end = frameStart(frame + 1);
  FrameWindow w;
  w.first = (begin + end) / 2 - length / 2;
  w.begin = (int)(begin - w.first);
  w.end = (int)(end - w.first);
  return w;
}
