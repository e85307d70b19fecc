// Small rules the four effects share: turning a computed double into a pixel value,
// and choosing the spectrum channel a particle listens to.
#pragma once

#include <stdint.h>

#include "abi/vis_header.h"

// Truncation toward zero, as a C cast does, but saturated to the 32-bit range: a
// particle can drift arbitrarily far off the surface, and a cast of a double that does
// not fit is undefined. A NaN (never produced by the effects) gives 0.
inline int truncToInt(double value) {
  if (value >= 2147483647.0) return INT32_MAX;
  if (value <= -2147483648.0) return INT32_MIN;
  if (value != value) return 0;
  return static_cast<int>(value);
}

// A 64-bit sum or difference brought back into 32 bits, saturated; used where the
// effects add an integer size to a coordinate that may already be saturated.
inline int clampToInt(int64_t value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int>(value);
}

// Particle i reads channel i mod channels. The host can report no channels (taken as
// one) or more channels than the two the spectrum carries (a pick of 2 or more reads
// the second channel), so the pick always lands inside the spectrum.
inline int channelPick(int particle, int channels) {
  const int count = channels < 1 ? 1 : channels;
  const int pick = particle % count;
  return pick < VIS_SPECTRUM_CHANNELS ? pick : VIS_SPECTRUM_CHANNELS - 1;
}

// True in a frame where band 0 of both channels is zero.
inline bool silentFrame(const VisModule* module) {
  return module->spectrum[0][0] + module->spectrum[1][0] == 0;
}
