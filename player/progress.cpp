#include "progress.h"

#include <math.h>
#include <stdio.h>
#include <time.h>

#include <algorithm>

#include "cli.h"  // oneLine

double monotonicSeconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + now.tv_nsec * 1e-9;
}

std::string formatClock(double seconds) {
  if (!(seconds >= 0)) seconds = 0;
  long long hundredths = llround(seconds * 100);
  char text[48];
  snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%02lld", hundredths / 360000,
           hundredths / 6000 % 60, hundredths / 100 % 60, hundredths % 100);
  return text;
}

std::string formatSize(long long bytes) {
  char text[48];
  if (bytes < 1024) snprintf(text, sizeof text, "%lld bytes", bytes);
  else if (bytes < 1024 * 1024) snprintf(text, sizeof text, "%lld KiB", (bytes + 512) / 1024);
  else if (bytes < 1024LL * 1024 * 1024) snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
  else snprintf(text, sizeof text, "%.1f GiB", bytes / 1073741824.0);
  return text;
}

std::string formatProgress(const ProgressState& s) {
  std::string text = "orlimvis: ";
  if (s.inputs > 1) text += "[" + std::to_string(s.input) + "/" + std::to_string(s.inputs) + "] " + s.name + " ";
  double share = s.duration > 0 ? std::min(1.0, std::max(0.0, s.position / s.duration)) : 1.0;
  char numbers[160];
  // Before the first frame is done there is no speed to tell, nor a time left.
  if (s.position > 0 && s.elapsed > 0) {
    double speed = s.position / s.elapsed;
    double left = (s.duration - s.position) / speed;
    snprintf(numbers, sizeof numbers, "%3d%%  %s/%s  speed=%.2fx  %s left", (int)(share * 100),
             formatClock(s.position).c_str(), formatClock(s.duration).c_str(), speed,
             formatClock(left).substr(0, 8).c_str());
  } else {
    snprintf(numbers, sizeof numbers, "%3d%%  %s/%s  speed=N/A", (int)(share * 100),
             formatClock(s.position).c_str(), formatClock(s.duration).c_str());
  }
  return text + numbers;
}

std::string formatSummary(const std::string& written, long long bytes, double duration) {
  std::string size = bytes >= 0 ? formatSize(bytes) : std::string();
  std::string clock = duration >= 0 ? formatClock(duration) : std::string();
  std::string both = size + (!size.empty() && !clock.empty() ? ", " : "") + clock;
  return "orlimvis: wrote " + written + (both.empty() ? "" : " (" + both + ")");
}

ProgressLine::ProgressLine(int64_t totalFrames, double secondsPerFrame, bool enabled)
    : total_(totalFrames), secondsPerFrame_(secondsPerFrame), enabled_(enabled) {
  start_ = monotonicSeconds();
  state_.duration = total_ * secondsPerFrame_;
}

void ProgressLine::setInput(int input, int inputs, const std::string& name) {
  state_.input = input;
  state_.inputs = inputs;
  state_.name = oneLine(name);  // a newline in a file name would break the line
}

void ProgressLine::update(int64_t done) {
  if (!enabled_) return;
  double now = monotonicSeconds();
  if (now - lastDraw_ < 0.2 && done < total_) return;
  lastDraw_ = now;
  state_.elapsed = now - start_;
  state_.position = done * secondsPerFrame_;
  // "\033[K" clears what a longer line before left at its end.
  fprintf(stderr, "\r%s\033[K", formatProgress(state_).c_str());
  fflush(stderr);
  drawn_ = true;
}

void ProgressLine::finish() {
  if (drawn_) fputc('\n', stderr);
  drawn_ = false;
}

void ProgressLine::summary(const std::string& written, long long bytes, double duration) {
  if (!enabled_) return;
  if (drawn_) fputc('\r', stderr);
  drawn_ = false;
  fprintf(stderr, "%s\033[K\n", formatSummary(oneLine(written), bytes, duration).c_str());
}
