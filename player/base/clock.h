// The player's one clock for intervals: monotonic, so that a change of the system's
// time (which the plug-in's own clock may be pinned to) never stretches a wait, a
// progress line's speed or the live window's pace.
#pragma once

#include <time.h>

// Seconds since an arbitrary start, for differences only.
inline double monotonicSeconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + now.tv_nsec * 1e-9;
}
