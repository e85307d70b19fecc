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

int64_t FrameClock::videoFramesBefore(int64_t frame, int num, int den) const {
  // Video frame j shows module frame floor(j den 1000 / (num interval)), which is below
  // `frame` for j < frame interval num / (1000 den): the count is that, rounded up.
  // frame * interval stays below 2^39 (100 hours in ms) and num below 2^18 (240 fps
  // with three decimals), so the product fits.
  if (frame <= 0) return 0;
  const int64_t over = frame * interval_ * (int64_t)num;
  const int64_t under = (int64_t)1000 * den;
  return (over + under - 1) / under;
}

FrameWindow FrameClock::window(int64_t frame, int length) const {
  int64_t begin = frameStart(frame), end = frameStart(frame + 1);
  FrameWindow w;
  w.first = (begin + end) / 2 - length / 2;
  w.begin = (int)(begin - w.first);
  w.end = (int)(end - w.first);
  return w;
}
