#include "progress.h"

#include <stdio.h>
#include <time.h>

double monotonicSeconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + now.tv_nsec * 1e-9;
}

ProgressLine::ProgressLine(int64_t totalFrames, double secondsPerFrame, bool enabled)
    : total_(totalFrames), secondsPerFrame_(secondsPerFrame), enabled_(enabled) {
  start_ = monotonicSeconds();
}

void ProgressLine::update(int64_t done) {
  if (!enabled_) return;
  double now = monotonicSeconds();
  if (now - lastDraw_ < 0.2 && done < total_) return;
  lastDraw_ = now;
  double elapsed = now - start_;
  double speed = elapsed > 0 ? done * secondsPerFrame_ / elapsed : 0;
  double left = done > 0 ? elapsed * (double)(total_ - done) / done : 0;
  int leftSeconds = (int)(left + 0.5);
  fprintf(stderr, "\rorlimvis: frame %lld/%lld  %.1fx real time  %d:%02d left ",
          (long long)done, (long long)total_, speed, leftSeconds / 60, leftSeconds % 60);
  fflush(stderr);
  drawn_ = true;
}

void ProgressLine::finish() {
  if (drawn_) fputc('\n', stderr);
  drawn_ = false;
}
