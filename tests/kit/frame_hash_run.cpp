// The frame-hash run (frame_hash_run.h): the fixed spectra of each frame and the hash.
#include "frame_hash_run.h"

#include <stdio.h>

#include "draw/draw_surface.h"
#include "effect_surface.h"
#include "modules/modules.h"
#include "synthetic_music.h"
#include "visplatform.h"

const FrameHashExpected kFrameHashExpected[FRAME_HASH_EFFECTS] = {
#include "frame_hashes.inc"
};

namespace {

// The runtime's generator, for the random spectra: the same on every build.
struct Noise {
  unsigned state;
  int next() {
    state = state * 214013u + 2531011u;
    return (int)((state >> 16) & 0x7fff);
  }
};

void fill(VisModule& module, unsigned char value) {
  for (auto& channel : module.spectrum)
    for (auto& band : channel) band = value;
}

// Frame n's spectrum: the same on every build.
void spectrumFor(int n, VisModule& module, Noise& noise) {
  if (n < 3) {
    fill(module, 0);
  } else if (n < 60) {
    syntheticMusicFrame(n, module.spectrum);
  } else if (n < 80) {
    for (auto& channel : module.spectrum)
      for (auto& band : channel) band = (unsigned char)(noise.next() & 0xff);
  } else if (n < 84) {
    fill(module, 255);
  } else if (n < 90) {
    for (auto& channel : module.spectrum)
      for (int b = 0; b < VIS_SPECTRUM_BANDS; ++b) channel[b] = (b + n) % 2 ? 255 : 1;
  } else {
    syntheticMusicFrame(n * 7, module.spectrum);
  }
}

}  // namespace

uint64_t hashSurfacePixels(uint64_t h, bool* ok) {
  VisPixels p;
  *ok = visBitmapPixels(drawSurface.bitmap, &p);
  if (!*ok) return h;
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) h = (h ^ p.pixels[y * p.stride + x]) * 0x100000001b3ull;
  return h;
}

int runFrameHashes(int effect, uint64_t computed[FRAME_HASH_CHECKPOINTS]) {
  const FrameHashExpected& e = kFrameHashExpected[effect];
  releaseSurface();
  startEffect(640, 480, 20261208);
  VisModule module{};
  module.channels = 2;
  Noise noise{77};
  uint64_t h = 0xcbf29ce484222325ull;
  int firstDifferent = -1;
  for (int n = 0; n < FRAME_HASH_FRAMES; ++n) {
    spectrumFor(n, module, noise);
    e.render(&module);
    bool ok;
    h = hashSurfacePixels(h, &ok);
    if (!ok) {
      releaseSurface();
      return -2;
    }
    if (n % 12 == 11) {
      computed[n / 12] = h;
      if (h != e.checkpoints[n / 12] && firstDifferent < 0) firstDifferent = n;
    }
  }
  releaseSurface();
  return firstDifferent;
}

void formatFrameHashRow(int effect, const uint64_t computed[FRAME_HASH_CHECKPOINTS], char* line,
                        int size) {
  const char* name = kFrameHashExpected[effect].name;
  int at = snprintf(line, (size_t)size, "{\"%s\", render%s, {", name, name);
  for (int k = 0; k < FRAME_HASH_CHECKPOINTS && at < size; ++k) {
    at += snprintf(line + at, (size_t)(size - at), "0x%016llxull%s", (unsigned long long)computed[k],
                   k < FRAME_HASH_CHECKPOINTS - 1 ? ", " : "}},\n");
  }
}
