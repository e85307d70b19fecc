// The look run: the frame loop of a render, with the meter and the contact sheet as its
// only outputs. The frames and the analyser's windows come from the running module's
// frame clock and the audio feed over the clip, as in a render: zeros outside the clip.
#include "look/look_run.h"

#include <algorithm>

#include "audio/audio_feed.h"
#include "frame_clock.h"
#include "host/host_windows.h"  // pinPluginClock
#include "visplatform.h"  // visSetSystemTimeOverride

namespace {
// Whether the frame's own samples, window samples [begin, end), are all exact zeros.
bool digitalSilence(const float* window, int begin, int end) {
  for (int i = begin * 2; i < end * 2; ++i) {
    if (window[i] != 0.0f) return false;
  }
  return true;
}

// Copies the frame, shrunk by averaging SHRINK x SHRINK blocks, into cell `cell`.
void addToSheet(const VisPixels& frame, int cell, LookSheet* sheet) {
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

bool lookRender(PluginHost* host, const LookRun& run, const AudioClip& clip, LookFigures* figures,
                LookSheet* sheet, std::string* error) {
  SpectrumAnalyser* analyser = spectrumCreateWith(clip.sampleRate, run.spectrum);
  if (!analyser) {
    *error = "cannot set up the spectrum analyser for " + std::to_string(clip.sampleRate) + " Hz";
    return false;
  }
  pinPluginClock(run.seed);
  host->setPreferredFrameSize(run.width, run.height);
  if (!host->start(run.module, error)) {
    visSetSystemTimeOverride(nullptr);
    spectrumDestroy(analyser);
    return false;
  }
  FrameClock clock;
  if (!FrameClock::forModule(*host->module(run.module), host->moduleName(run.module),
                             clip.sampleRate, &clock, error)) {
    host->stop();
    visSetSystemTimeOverride(nullptr);
    spectrumDestroy(analyser);
    return false;
  }
  // Whole frames only: a last, partial frame would be measured on zeros.
  const int64_t ticks = clock.frameAt(clip.frameCount());
  const int length = spectrumWindowLength(analyser);
  ClipSource source(clip, "look");
  AudioFeed feed(&source);
  LookMeter meter(run.module, clock.secondsPerFrame(), std::max(1, clip.streamChannels));
  *sheet = LookSheet();
  unsigned char spectrum[2][SPECTRUM_BANDS];
  int nextCell = 0;
  bool ok = true;
  for (int64_t tick = 0; tick < ticks && ok; ++tick) {
    const FrameWindow w = clock.window(tick, length);
    const float* window = feed.window(w.first, length);
    const bool silent = digitalSilence(window, w.begin, w.end);
    spectrumExecute(analyser, window, w.begin, w.end, spectrum);
    if (run.hearingOnly) {
      meter.addSpectrum(spectrum, silent);
      continue;
    }
    host->renderFrame(spectrum, std::max(1, clip.streamChannels), clip.sampleRate);
    VisPixels pixels;
    if (!host->framePixels(&pixels)) {
      *error = "the plug-in's frame window went away";
      ok = false;
      break;
    }
    meter.addFrame(pixels.pixels, pixels.width, pixels.height, pixels.stride, spectrum, silent);
    // Cells at 10%, 20%, ..., 90% of the clip.
    while (nextCell < LookSheet::COLUMNS * LookSheet::ROWS &&
           tick >= ticks * (nextCell + 1) / 10) {
      addToSheet(pixels, nextCell++, sheet);
    }
  }
  host->stop();
  visSetSystemTimeOverride(nullptr);
  spectrumDestroy(analyser);
  *figures = meter.figures();
  return ok;
}
