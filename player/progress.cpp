#include "progress.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>  // TIOCGWINSZ: the terminal's width

#include <algorithm>

#include "base/clock.h"  // monotonicSeconds
#include "base/text.h"   // formatClock, oneLine

std::string formatSize(long long bytes) {
  char text[48];
  if (bytes < 1024) snprintf(text, sizeof text, "%lld bytes", bytes);
  else if (bytes < 1024 * 1024) snprintf(text, sizeof text, "%lld KiB", (bytes + 512) / 1024);
  else if (bytes < 1024LL * 1024 * 1024) snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
  else snprintf(text, sizeof text, "%.1f GiB", bytes / 1073741824.0);
  return text;
}

namespace {
// The room a name is given before numbers are dropped from the line, and the least it
// is shortened to on a terminal too narrow for anything: its start and end kept (the
// end tells the files of an album apart), "..." between.
constexpr size_t kShortestName = 12, kLeastName = 5;

std::string shortenName(const std::string& name, size_t room) {
  if (name.size() <= room) return name;
  if (room < kLeastName) room = kLeastName;
  size_t tail = (room - 3) / 2, head = room - 3 - tail;
  return name.substr(0, head) + "..." + name.substr(name.size() - tail);
}
}  // namespace

std::string formatProgress(const ProgressState& s, int width) {
  double share = s.duration > 0 ? std::min(1.0, std::max(0.0, s.position / s.duration)) : 1.0;
  char percent[64], speed[32] = "speed=N/A", left[48] = "";
  snprintf(percent, sizeof percent, "%3d%%  %s/%s", (int)(share * 100),
           formatClock(s.position).c_str(), formatClock(s.duration).c_str());
  // Before the first frame is done there is no speed to tell, nor a time left.
  if (s.position > 0 && s.elapsed > 0) {
    double rate = s.position / s.elapsed;
    snprintf(speed, sizeof speed, "speed=%.2fx", rate);
    snprintf(left, sizeof left, "  %s left",
             formatClock((s.duration - s.position) / rate).substr(0, 8).c_str());
  }
  std::string numbers = std::string(percent) + "  " + speed + left;
  if (width > 0) {
    // Kept below the width by at least one column, so that no terminal wraps it.
    const size_t limit = (size_t)width - 1;
    // "orlimvis: ", and "[i/n] " with the name and a space when there are several.
    const bool named = s.inputs > 1;
    const size_t fixed = 10 + (named ? 5 + std::to_string(s.input).size() +
                                           std::to_string(s.inputs).size() : 0);
    const size_t name = named ? std::min(s.name.size(), kShortestName) : 0;
    if (fixed + name + numbers.size() > limit) numbers = std::string(percent) + "  " + speed;
    if (fixed + name + numbers.size() > limit) numbers = percent;
    std::string text = "orlimvis: ";
    if (s.inputs > 1) {
      size_t room = limit > fixed + numbers.size() ? limit - fixed - numbers.size() : 0;
      text += "[" + std::to_string(s.input) + "/" + std::to_string(s.inputs) + "] " +
              shortenName(s.name, room) + " ";
    }
    return text + numbers;
  }
  std::string text = "orlimvis: ";
  if (s.inputs > 1) text += "[" + std::to_string(s.input) + "/" + std::to_string(s.inputs) + "] " + s.name + " ";
  return text + numbers;
}

ProgressMode progressModeFor(int verbosity, bool terminal) {
  if (verbosity <= 0) return ProgressMode::Quiet;
  return terminal ? ProgressMode::Terminal : ProgressMode::Log;
}

int terminalColumns() {
  struct winsize size;
  if (ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  const char* columns = getenv("COLUMNS");
  int n = columns ? atoi(columns) : 0;
  return n > 0 ? n : 80;
}

std::string formatSummary(const std::string& written, long long bytes, double duration) {
  std::string size = bytes >= 0 ? formatSize(bytes) : std::string();
  std::string clock = duration >= 0 ? formatClock(duration) : std::string();
  std::string both = size + (!size.empty() && !clock.empty() ? ", " : "") + clock;
  return "orlimvis: wrote " + written + (both.empty() ? "" : " (" + both + ")");
}

ProgressLine::ProgressLine(int64_t totalFrames, double secondsPerFrame, ProgressMode mode,
                           double logSeconds)
    : total_(totalFrames), secondsPerFrame_(secondsPerFrame), mode_(mode), logSeconds_(logSeconds) {
  start_ = lastDraw_ = monotonicSeconds();
  state_.duration = total_ * secondsPerFrame_;
  if (mode_ == ProgressMode::Terminal) width_ = terminalColumns();
}

void ProgressLine::setInput(int input, int inputs, const std::string& name) {
  state_.input = input;
  state_.inputs = inputs;
  state_.name = oneLine(name);  // a newline in a file name would break the line
}

void ProgressLine::update(int64_t done) {
  if (mode_ == ProgressMode::Quiet) return;
  double now = monotonicSeconds();
  state_.elapsed = now - start_;
  state_.position = done * secondsPerFrame_;
  if (mode_ == ProgressMode::Log) {
    // A log gets whole lines, a few; the closing summary says the end.
    if (now - lastDraw_ < logSeconds_ || done >= total_) return;
    lastDraw_ = now;
    fprintf(stderr, "%s\n", formatProgress(state_).c_str());
    fflush(stderr);
    return;
  }
  if (now - lastDraw_ < 0.2 && done < total_) return;
  lastDraw_ = now;
  // "\033[K" clears what a longer line before left at its end.
  fprintf(stderr, "\r%s\033[K", formatProgress(state_, width_).c_str());
  fflush(stderr);
  drawn_ = true;
}

void ProgressLine::finish() {
  if (drawn_) fputc('\n', stderr);
  drawn_ = false;
}

void ProgressLine::summary(const std::string& written, long long bytes, double duration) {
  if (mode_ == ProgressMode::Quiet) return;
  std::string line = formatSummary(oneLine(written), bytes, duration);
  if (mode_ == ProgressMode::Log) {
    fprintf(stderr, "%s\n", line.c_str());
    return;
  }
  if (drawn_) fputc('\r', stderr);
  drawn_ = false;
  fprintf(stderr, "%s\033[K\n", line.c_str());
}
