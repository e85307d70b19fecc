// The look figures; see the header for their definitions.
#include "look/look_metrics.h"

#include <math.h>

#include <algorithm>

namespace {
constexpr uint32_t kTovanelBackground = 0x000032;  // red 0, green 0, blue 50

bool isBlank(const uint32_t* pixels, int width, int height, int stride) {
  int low[3] = {255, 255, 255}, high[3] = {0, 0, 0};
  for (int y = 0; y < height; ++y) {
    const uint32_t* row = pixels + (size_t)y * stride;
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        int v = (int)(row[x] >> (16 - 8 * c)) & 0xFF;
        low[c] = std::min(low[c], v);
        high[c] = std::max(high[c], v);
      }
    }
    // Most frames that are not blank show it within a few rows.
    if (high[0] - low[0] > 4 || high[1] - low[1] > 4 || high[2] - low[2] > 4) return false;
  }
  return true;
}

// The commonest grey level of the frame (Zarvenn's background; its flakes are white).
int commonestGrey(const uint32_t* pixels, int width, int height, int stride) {
  long count[256] = {};
  for (int y = 0; y < height; ++y) {
    const uint32_t* row = pixels + (size_t)y * stride;
    for (int x = 0; x < width; ++x) {
      uint32_t p = row[x] & 0xFFFFFF;
      uint32_t r = p >> 16, g = (p >> 8) & 0xFF, b = p & 0xFF;
      if (r == g && g == b) ++count[r];
    }
  }
  return (int)(std::max_element(count, count + 256) - count);
}
}  // namespace

void HearingMeter::add(const unsigned char spectrum[2][576]) {
  ++frames_;
  const int bass = spectrum[0][0] + spectrum[1][0];
  silent_ += bass == 0;
  black_ += bass >= 128;
  for (int i = 0; i < LOOK_PARTICLES; ++i) {
    // The channel pick i mod channels, kept within the two spectrum channels.
    const unsigned char* s = spectrum[std::min(1, i % channels_)];
    const int k = 26 * (i + 1);
    reversal_[i] += s[k] > (576 - 26 * i) / 10;
    satellite_[i] += s[k - 2] > 40;
    // Koch depth is trunc(sqrt(size) / 4): 2 from a size of 64 on.
    deep_[i] += s[k] + s[k - 1] >= 64;
  }
}

Hearing HearingMeter::hearing() const {
  Hearing h;
  if (frames_ == 0) return h;
  const double n = (double)frames_;
  h.silentShare = silent_ / n;
  h.blackShare = black_ / n;
  for (int i = 0; i < LOOK_PARTICLES; ++i) {
    h.reversal[i] = reversal_[i] / n;
    h.satellite[i] = satellite_[i] / n;
    h.deep[i] = deep_[i] / n;
    // Counts against shares, so that the bounds are exact: 2% of n is 50 x count >= n.
    const uint32_t bit = 1u << i;
    if (50 * reversal_[i] >= frames_ && 5 * reversal_[i] <= 3 * frames_) h.alive |= bit;
    if (50 * satellite_[i] >= frames_) h.satellites |= bit;
    if (20 * deep_[i] >= frames_) h.depth |= bit;
  }
  return h;
}

void LookMeter::addSpectrum(const unsigned char spectrum[2][576], bool digitalSilence) {
  ++frames_;
  if (digitalSilence) {
    ++silent_;
    return;
  }
  ++music_;
  hearing_.add(spectrum);
}

void LookMeter::addFrame(const uint32_t* pixels, int width, int height, int stride,
                         const unsigned char spectrum[2][576], bool digitalSilence) {
  ++frames_;
  const long area = (long)width * height;
  // Pixels changed since the frame before (a frame of another size changes them all).
  long changed = area;
  if (previousWidth_ == width && previousHeight_ == height) {
    changed = 0;
    for (int y = 0; y < height; ++y) {
      const uint32_t* row = pixels + (size_t)y * stride;
      const uint32_t* before = previous_.data() + (size_t)y * width;
      for (int x = 0; x < width; ++x) changed += (row[x] & 0xFFFFFF) != before[x];
    }
  }
  previous_.resize((size_t)area);
  for (int y = 0; y < height; ++y) {
    const uint32_t* row = pixels + (size_t)y * stride;
    for (int x = 0; x < width; ++x) previous_[(size_t)y * width + x] = row[x] & 0xFFFFFF;
  }
  previousWidth_ = width;
  previousHeight_ = height;

  if (digitalSilence) {
    ++silent_;
    frozenRun_ = 0;
    firing_ = false;
    return;
  }
  ++music_;
  hearing_.add(spectrum);
  if (isBlank(pixels, width, height, stride)) ++blank_;
  if (frames_ > 1 && area > 0) {
    ++compared_;
    changeSum_ += (double)changed / area;
  }
  // Under 0.5% changed: 200 x changed < area.
  if (frames_ > 1 && 200 * changed < area) {
    longestFrozen_ = std::max(longestFrozen_, ++frozenRun_);
  } else {
    frozenRun_ = 0;
  }
  const bool fires = spectrum[0][0] == 0 && spectrum[1][0] == 0;
  if (fires) {
    ++firings_;
    if (!firing_) ++stretches_;
  }
  firing_ = fires;

  if (module_ == 0) {
    double x = spectrum[0][0] + spectrum[1][0];
    double y = commonestGrey(pixels, width, height, stride);
    sx_ += x, sy_ += y, sxx_ += x * x, syy_ += y * y, sxy_ += x * y;
  } else if (module_ == 3 && area > 0) {
    long covered = 0;
    for (int y = 0; y < height; ++y) {
      const uint32_t* row = pixels + (size_t)y * stride;
      for (int x = 0; x < width; ++x) covered += (row[x] & 0xFFFFFF) != kTovanelBackground;
    }
    double share = (double)covered / area;
    coverSum_ += share;
    if (share >= 0.995) ++fullCover_;
  }
}

LookFigures LookMeter::figures() const {
  LookFigures f;
  f.frames = frames_;
  f.silentFrames = silent_;
  const double n = (double)music_;
  const double minutes = n * frameSeconds_ / 60;
  if (music_ > 0) {
    f.blankShare = blank_ / n;
    f.firingsPerMinute = firings_ / minutes;
    f.firingStretchesPerMinute = stretches_ / minutes;
    f.meanCover = coverSum_ / n;
    f.fullCoverShare = fullCover_ / n;
  }
  f.longestFrozenSeconds = longestFrozen_ * frameSeconds_;
  if (compared_ > 0) f.meanChange = changeSum_ / compared_;
  double vx = n * sxx_ - sx_ * sx_, vy = n * syy_ - sy_ * sy_;
  f.hearing = hearing_.hearing();
  f.bassCorrelation = vx > 0 && vy > 0 ? (n * sxy_ - sx_ * sy_) / sqrt(vx * vy) : NAN;
  return f;
}
