// play's volume and title. See play_status.h.
#include "play_status.h"

#include <algorithm>

#include "base/text.h"  // formatClock

void PlayVolume::step(int direction) {
  muted_ = false;
  percent_ = std::clamp(percent_ + (direction < 0 ? -kStep : kStep), 0, 100);
}

float PlayVolume::gain() const {
  if (muted_) return 0.0f;
  float level = (float)percent_ / 100.0f;
  return level * level * level;
}

void scaleFrames(const float* in, int64_t count, float gain, float* out) {
  for (int64_t i = 0; i < count * 2; ++i) out[i] = in[i] * gain;
}

std::string playTitleText(const PlayTitle& t) {
  std::string title = t.module;
  if (t.tracks > 1) title += " - [" + std::to_string(t.track + 1) + "/" + std::to_string(t.tracks) + "]";
  title += " - " + t.heard;
  if (!t.capturing) {
    title += " - " + formatClock(t.seconds, ClockStyle::Seconds);
    if (t.lengthSeconds > 0) title += " / " + formatClock(t.lengthSeconds, ClockStyle::Seconds);
  }
  if (t.paused) title += " - paused";
  // An input is not played back: its volume is the sound server's business.
  if (!t.capturing) {
    if (t.volume.muted()) title += " - muted";
    else if (t.volume.percent() < 100) title += " - volume " + std::to_string(t.volume.percent()) + "%";
  }
  if (t.soundLost) title += " - no sound server";
  return title;
}
