// The look run: a session over the clip, as a render's, with the meter and the contact
// sheet as its only outputs. The frames and the analyser's windows are the session's:
// the running module's frame clock over the clip, zeros outside it.
#include "look/look_run.h"

#include <algorithm>

#include "session.h"

namespace {
// Whether the frame's own samples, window samples [begin, end), are all exact zeros.
bool digitalSilence(const float* window, int begin, int end) {
  for (int i = begin * 2; i < end * 2; ++i) {
    if (window[i] != 0.0f) return false;
  }
  return true;
}

// Copies the frame, shrunk by averaging SHRINK x SHRINK blocks, into cell `cell`.
void addToSheet(const FrameView& frame, int cell, LookSheet* sheet) {
  const int s = LookSheet::SHRINK;
  const int cw = frame.width / s, ch = frame.height / s;
  if (sheet->pixels.empty()) {
    sheet->width = cw * LookSheet::COLUMNS;
    sheet->height = ch * LookSheet::ROWS;
    sheet->pixels.assign((size_t)sheet->width * sheet->height, 0);
  }
  if (cw * LookSheet::COLUMNS != sheet->width || ch * LookSheet::ROWS != sheet->height) return;
  const int x0 = (cell % LookSheet::COLUMNS) * cw, y0 = (cell / LookSheet::COLUMNS) * ch;
  for (int y = 0; y < ch; ++y) {
    for (int x = 0; x < cw; ++x) {
      unsigned sum[3] = {0, 0, 0};
      for (int dy = 0; dy < s; ++dy)
        for (int dx = 0; dx < s; ++dx) {
          uint32_t p = frame.pixels[(size_t)(y * s + dy) * frame.stride + x * s + dx];
          sum[0] += (p >> 16) & 0xFF, sum[1] += (p >> 8) & 0xFF, sum[2] += p & 0xFF;
        }
      const unsigned n = s * s;
      sheet->pixels[(size_t)(y0 + y) * sheet->width + x0 + x] =
          (sum[0] / n) << 16 | (sum[1] / n) << 8 | sum[2] / n;
    }
  }
}
}  // namespace

bool lookRender(const LookRun& run, const AudioClip& clip, LookFigures* figures, LookSheet* sheet,
                std::string* error) {
  SessionSettings settings;
  settings.plugin = run.plugin;
  settings.module = std::to_string(run.module);
  settings.clip = &clip;
  settings.seeded = true;
  settings.seed = run.seed;
  settings.width = run.width;
  settings.height = run.height;
  settings.spectrum = run.spectrum;
  // Whole frames only: a last, partial frame would be measured on zeros.
  settings.wholeFramesOnly = true;
  Session session(settings);
  if (!session.open(error)) return false;
  const int64_t ticks = session.frames();
  LookMeter meter(run.module, session.clock().secondsPerFrame(), std::max(1, clip.streamChannels));
  *sheet = LookSheet();
  int nextCell = 0;
  while (session.analyseNext()) {
    const FrameAudio& audio = session.frameAudio();
    const bool silent = digitalSilence(audio.window, audio.begin, audio.end);
    if (run.hearingOnly) {
      meter.addSpectrum(audio.spectrum, silent);
      continue;
    }
    session.draw();
    FrameView pixels;
    if (!session.pixels(&pixels)) {
      *error = "the plug-in's frame window went away";
      return false;
    }
    meter.addFrame(pixels.pixels, pixels.width, pixels.height, pixels.stride, audio.spectrum,
                   silent);
    // Cells at 10%, 20%, ..., 90% of the clip.
    const int64_t tick = session.frame();
    while (nextCell < LookSheet::COLUMNS * LookSheet::ROWS && tick >= ticks * (nextCell + 1) / 10) {
      addToSheet(pixels, nextCell++, sheet);
    }
  }
  *figures = meter.figures();
  return true;
}
