// The progress of a render as ffmpeg's users read it: percent, position / duration,
// speed as a multiple of real time, and the time left; at the end one line saying what
// was written, its size and its duration. The texts come from pure functions; the
// ProgressLine writes them to stderr: on a terminal redrawn in place a few times a
// second and fitted to its width; into a log or a pipe as plain lines every few
// seconds, with no carriage-return noise; with -q not at all.
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

// "812 KiB", "3.4 MiB": binary units, one decimal from MiB up.
std::string formatSize(long long bytes);
// "orlimvis:  42%  00:00:10.50/00:00:24.00  speed=3.10x  00:00:04 left", with
// "[2/3] name " after the colon when there are several inputs. With a width above 0
// the line is kept shorter than it (a line as wide as the terminal wraps on some): the
// name is shortened in its middle first, then the time left and the speed are dropped.
std::string formatProgress(const ProgressState& state, int width = 0);
// "orlimvis: wrote out.mp4 (1.2 MiB, 00:00:24.00)"; a negative size or duration is left
// out (a pipe has no size, a snapshot no duration).
std::string formatSummary(const std::string& written, long long bytes, double duration);

// How a render reports: nothing but errors (-q); lines for a log (stderr not a
// terminal), one every few seconds, every second with -v; a line redrawn in place on a
// terminal.
enum class ProgressMode { Quiet, Log, Terminal };
// The mode for -q (verbosity 0), the default (1) or -v (2), on a terminal or not.
ProgressMode progressModeFor(int verbosity, bool terminal);
// The width of the terminal on stderr: its window size, else $COLUMNS, else 80.
int terminalColumns();

class ProgressLine {
 public:
  // logSeconds: how often a log gets a line.
  ProgressLine(int64_t totalFrames, double secondsPerFrame, ProgressMode mode,
               double logSeconds = 5);
  // Several inputs share the line: which one this is, and its name.
  void setInput(int input, int inputs, const std::string& name);
  void update(int64_t framesDone);
  void finish();  // ends the line (when one was drawn)
  // Ends the line and prints the closing summary (when enabled).
  void summary(const std::string& written, long long bytes, double duration);

 private:
  int64_t total_;
  double secondsPerFrame_;
  ProgressMode mode_;
  double logSeconds_;
  int width_ = 0;
  bool drawn_ = false;
  double start_ = 0, lastDraw_ = 0;
  ProgressState state_;
};
