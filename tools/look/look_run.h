// One look run: a clip rendered with one effect by a session of its own (the plug-in
// loaded afresh), with the default analyser, at a fixed size and seed, every frame
// measured (look_metrics.h), and a contact sheet of the frames at 10%, 20%, ..., 90% of
// the clip. What `orlimvis_look` does per track and effect, and what the tests do over
// the demo tune.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "audio/audio_clip.h"
#include "look/look_metrics.h"
#include "spectrum/analyser.h"

struct LookSheet {
  enum { COLUMNS = 3, ROWS = 3, SHRINK = 2 };  // nine frames, each at half size
  std::vector<uint32_t> pixels;                // 0x00RRGGBB, rows top-down
  int width = 0, height = 0;
};

struct LookRun {
  std::string plugin;  // the plug-in's path
  int module = 0;
  int width = 640, height = 480;
  unsigned seed = 1;          // pins the clock the plug-in seeds from
  SpectrumOptions spectrum;   // the analyser's options (the default: classic, automatic)
  bool hearingOnly = false;   // the spectrum and its hearing figures only, nothing drawn
};

// Renders the whole clip (or, hearingOnly, analyses it: figures then holds the frame counts and the
// hearing alone, and the sheet stays empty); on failure returns false with one line in *error.
bool lookRender(const LookRun& run, const AudioClip& clip, LookFigures* figures, LookSheet* sheet,
                std::string* error);
