// The look run: the frame loop of a render, with the meter and the contact sheet as its
// only outputs. Frames come at the running module's frame interval; the analyser's
// window is centred on each, zeros outside the clip, as the player's frame clock hands it.
#include "look/look_run.h"

#include <algorithm>

#include "visplatform.h"  // visSetSystemTimeOverride

namespace {
// The plug-in seeds its generator from the milliseconds of the system time.
void pinClock(unsigned seed) {
  SYSTEMTIME time = {};
  time.wYear = 2000;
  time.wMonth = 1;
  time.wDayOfWeek = 6;
  time.wDay = 1;
  time.wMilliseconds = (WORD)(seed % 1000);
  visSetSystemTimeOverride(&time);
}

// Frame `tick`'s window: `length` frames centred on it; *begin, *end its own frames.
void gatherWindow(const AudioClip& clip, int64_t tick, int intervalMillis, int length,
                  std::vector<float>* window, int* begin, int* end, bool* digitalSilence) {
  const int64_t perSecond = (int64_t)clip.sampleRate * intervalMillis;
  int64_t tickBegin = tick * perSecond / 1000, tickEnd = (tick + 1) * perSecond / 1000;
  int64_t first = (tickBegin + tickEnd) / 2 - length / 2;
  *begin = (int)(tickBegin - first);
  *end = (int)(tickEnd - first);
  window->assign((size_t)length * 2, 0.0f);
  const int64_t total = clip.frameCount();
  for (int i = 0; i < length; ++i) {
    int64_t at = first + i;
    if (at < 0 || at >= total) continue;
    (*window)[(size_t)i * 2] = clip.samples[(size_t)at * 2];
    (*window)[(size_t)i * 2 + 1] = clip.samples[(size_t)at * 2 + 1];
  }
  *digitalSilence = true;
  for (int i = *begin * 2; i < *end * 2 && *digitalSilence; ++i) {
    *digitalSilence = (*window)[(size_t)i] == 0.0f;
  }
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
  pinClock(run.seed);
  host->setPreferredFrameSize(run.width, run.height);
  if (!host->start(run.module, error)) {
    spectrumDestroy(analyser);
    return false;
  }
  const int interval = std::max(1, host->module(run.module)->frameIntervalMillis);
  const int64_t ticks = clip.frameCount() * 1000 / ((int64_t)clip.sampleRate * interval);
  const int length = spectrumWindowLength(analyser);
  LookMeter meter(run.module, interval / 1000.0);
  *sheet = LookSheet();
  std::vector<float> window;
  unsigned char spectrum[2][SPECTRUM_BANDS];
  int nextCell = 0;
  bool ok = true;
  for (int64_t tick = 0; tick < ticks && ok; ++tick) {
    int begin, end;
    bool digitalSilence;
    gatherWindow(clip, tick, interval, length, &window, &begin, &end, &digitalSilence);
    spectrumExecute(analyser, window.data(), begin, end, spectrum);
    host->renderFrame(spectrum, std::max(1, clip.streamChannels), clip.sampleRate);
    VisPixels pixels;
    if (!host->framePixels(&pixels)) {
      *error = "the plug-in's frame window went away";
      ok = false;
      break;
    }
    meter.addFrame(pixels.pixels, pixels.width, pixels.height, pixels.stride, spectrum,
                   digitalSilence);
    // Cells at 10%, 20%, ..., 90% of the clip.
    while (nextCell < LookSheet::COLUMNS * LookSheet::ROWS &&
           tick >= ticks * (nextCell + 1) / 10) {
      addToSheet(pixels, nextCell++, sheet);
    }
  }
  host->stop();
  spectrumDestroy(analyser);
  *figures = meter.figures();
  return ok;
}
