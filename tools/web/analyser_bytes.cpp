// The analyser's bytes over the demo tune, from the same source natively (FFTW's
// transform) and in WebAssembly under node (the program's own transform and the C
// library's sin and cos of Emscripten), so tools/scripts/bench_web.py can count how often the
// two builds' spectra differ on the same samples.
//
//   web_spectrum_dump RATE classic|log OUT   writes 2 x 576 bytes per 25 ms frame
//
// The tune's samples are taken as being at RATE, so 48000 gives 1254-sample windows.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "audio/demo_tune.h"
#include "spectrum/analyser.h"

int main(int argc, char** argv) {
  if (argc != 4 || (strcmp(argv[2], "classic") && strcmp(argv[2], "log"))) {
    fprintf(stderr, "usage: web_spectrum_dump RATE classic|log OUT\n");
    return 2;
  }
  const int rate = atoi(argv[1]);
  SpectrumOptions options;
  options.layout = strcmp(argv[2], "log") ? SpectrumLayout::Classic : SpectrumLayout::Log;
  SpectrumAnalyser* analyser = spectrumCreateWith(rate, options);
  if (!analyser) {
    fprintf(stderr, "web_spectrum_dump: no analyser at %s Hz\n", argv[1]);
    return 1;
  }
  AudioClip tune;
  synthesiseDemoTune(DEMO_TUNE_SECONDS, &tune);
  FILE* out = fopen(argv[3], "wb");
  if (!out) {
    fprintf(stderr, "web_spectrum_dump: cannot write %s\n", argv[3]);
    return 1;
  }
  const int length = spectrumWindowLength(analyser);
  const int step = rate / 40;
  bool ok = true;
  for (int64_t start = 0; ok && start + length <= tune.frameCount(); start += step) {
    unsigned char bands[2][SPECTRUM_BANDS];
    const int begin = length / 2 - step / 2;
    spectrumExecute(analyser, tune.samples.data() + start * 2, begin, begin + step, bands);
    ok = fwrite(bands, sizeof bands, 1, out) == 1;
  }
  spectrumDestroy(analyser);
  if (fclose(out) != 0 || !ok) {
    fprintf(stderr, "web_spectrum_dump: cannot write %s\n", argv[3]);
    remove(argv[3]);
    return 1;
  }
  return 0;
}
