// The same pixels on every architecture and compiler: each effect renders 120 frames
// from a fixed seed (silence, synthetic music, random spectra, every band loud,
// alternating bands, more music), and a running hash of the
// surface after every frame must match frame_hashes.inc. That list was made on x86-64
// and every build checks it: x86-64, the -m32 build and aarch64 under qemu. The
// effects truncate computed coordinates, so one last-bit difference in sin, cos or
// atan2, a fused multiply-add or an 80-bit intermediate shows up as a changed hash.
// On a mismatch the test prints the list this build computed.
#include <stdint.h>

#include <cstdio>
#include <string>

#include "module_fixture.h"
#include "synthetic_music.h"

namespace {

using RenderFn = int (*)(VisModule*);
struct Expected {
  const char* name;
  RenderFn render;
  uint64_t checkpoints[10];  // the running hash after frames 11, 23, ..., 119
};

const Expected kExpected[] = {
#include "frame_hashes.inc"
};

class FrameHashes : public modtest::EffectTest {
 protected:
  // Frame n's spectrum: the same on every build.
  void spectrumFor(int n, modtest::ReferenceRand& noise) {
    if (n < 3) {
      fillSpectrum(0);
    } else if (n < 60) {
      syntheticMusicFrame(n, module.spectrum);
    } else if (n < 80) {
      for (auto& channel : module.spectrum)
        for (auto& band : channel) band = static_cast<unsigned char>(noise.next() & 0xff);
    } else if (n < 84) {
      fillSpectrum(255);
    } else if (n < 90) {
      for (auto& channel : module.spectrum)
        for (int b = 0; b < VIS_SPECTRUM_BANDS; ++b) channel[b] = (b + n) % 2 ? 255 : 1;
    } else {
      syntheticMusicFrame(n * 7, module.spectrum);
    }
  }

  // FNV-1a over the pixels, 32 bits at a time, chained from frame to frame.
  uint64_t hashSurface(uint64_t h) {
    VisPixels p;
    EXPECT_TRUE(visBitmapPixels(drawSurface.bitmap, &p));
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) h = (h ^ p.pixels[y * p.stride + x]) * 0x100000001b3ull;
    return h;
  }
};

TEST_F(FrameHashes, EveryEffectDrawsTheSamePixelsAsOnX8664) {
  std::string computed;
  bool allSame = true;
  for (const Expected& e : kExpected) {
    setUpSurface(640, 480);
    visSrand(20261208);
    seedParticles();
    modtest::ReferenceRand noise(77);
    uint64_t h = 0xcbf29ce484222325ull;
    char line[512];
    int at = std::snprintf(line, sizeof line, "{\"%s\", render%s, {", e.name, e.name);
    int firstDifferent = -1;
    for (int n = 0; n < 120; ++n) {
      spectrumFor(n, noise);
      ASSERT_EQ(e.render(&module), 0);
      h = hashSurface(h);
      if (n % 12 == 11) {
        const int k = n / 12;
        if (h != e.checkpoints[k] && firstDifferent < 0) firstDifferent = n;
        at += std::snprintf(line + at, sizeof line - at, "0x%016llxull%s",
                            static_cast<unsigned long long>(h), k < 9 ? ", " : "}},\n");
      }
    }
    computed += line;
    if (firstDifferent >= 0) {
      allSame = false;
      ADD_FAILURE() << e.name << ": the surfaces differ by frame " << firstDifferent;
    }
  }
  if (!allSame) std::printf("This build's frame hashes:\n%s", computed.c_str());
}

}  // namespace
