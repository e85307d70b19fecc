// The progress of a render as ffmpeg's users read it: percent, position / duration,
// speed as a multiple of real time, and the time left; at the end one line saying what
// was written, its size and its duration. The texts come from pure functions; the
// ProgressLine redraws them in place on stderr a few times a second, and is silent
// unless stderr is a terminal, so logs and pipes get no carriage-return noise.
#pragma once

#include <stdint.h>

#include <string>

struct ProgressState {
  double position = 0;  // seconds of the input rendered
  double duration = 0;  // seconds of the input in all
  double elapsed = 0;   // wall-clock seconds since the input's render began
  int input = 1;        // with several inputs: this one (from 1)...
  int inputs = 1;       // ...of this many
  std::string name;     // ...and its name
};

// "00:01:02.50": hours, minutes, seconds and hundredths, as ffmpeg's time=.
std::string formatClock(double seconds);
// "812 KiB", "3.4 MiB": binary units, one decimal from MiB up.
std::string formatSize(long long bytes);
// "orlimvis:  42%  00:00:10.50/00:00:24.00  speed=3.10x  00:00:04 left", with
// "[2/3] name " after the colon when there are several inputs.
std::string formatProgress(const ProgressState& state);
// "orlimvis: wrote out.mp4 (1.2 MiB, 00:00:24.00)"; a negative size or duration is left
// out (a pipe has no size, a snapshot no duration).
std::string formatSummary(const std::string& written, long long bytes, double duration);

class ProgressLine {
 public:
  ProgressLine(int64_t totalFrames, double secondsPerFrame, bool enabled);
  // Several inputs share the line: which one this is, and its name.
  void setInput(int input, int inputs, const std::string& name);
  void update(int64_t framesDone);
  void finish();  // ends the line (when one was drawn)
  // Ends the line and prints the closing summary (when enabled).
  void summary(const std::string& written, long long bytes, double duration);

 private:
  int64_t total_;
  double secondsPerFrame_;
  bool enabled_;
  bool drawn_ = false;
  double start_ = 0, lastDraw_ = 0;
  ProgressState state_;
};

double monotonicSeconds();
