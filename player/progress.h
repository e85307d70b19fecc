// The progress line of a render: frames done, speed as a multiple of real time and the
// time left, redrawn in place on stderr a few times a second. Silent unless stderr is a
// terminal, so logs and pipes get no carriage-return noise.
#pragma once

#include <stdint.h>

class ProgressLine {
 public:
  ProgressLine(int64_t totalFrames, double secondsPerFrame, bool enabled);
  void update(int64_t framesDone);
  void finish();  // ends the line (when one was drawn)

 private:
  int64_t total_;
  double secondsPerFrame_;
  bool enabled_;
  bool drawn_ = false;
  double start_ = 0, lastDraw_ = 0;
};

double monotonicSeconds();
