// The native side of the page's pixel check: runs one module of the real vis_orlim.so
// through the player's host core on spectra read from standard input (2 x 576 bytes a
// frame, left then right) and writes each frame's pixels to standard output as the
// canvas gives them back (R, G, B, A bytes, rows top-down), so page_test.py can compare
// the page's canvas with the native build frame by frame.
//
//   web_reference_frames PLUGIN MODULE WIDTH HEIGHT SEED FRAMES < spectra > pixels
//
// The plug-in is seeded as `orlimvis --seed` seeds it; its settings file goes to a
// scratch folder of its own, removed at the end.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/plugin_host.h"
#include "visplatform.h"

namespace {

int fail(const std::string& why) {
  fprintf(stderr, "web_reference_frames: %s\n", why.c_str());
  return 1;
}

// Removes the scratch folder and what the plug-in left in it.
struct ScratchFolder {
  std::string path;
  ~ScratchFolder() {
    if (path.empty()) return;
    unlink((path + "/plugin.ini").c_str());
    rmdir(path.c_str());
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    return fail("usage: web_reference_frames PLUGIN MODULE WIDTH HEIGHT SEED FRAMES");
  }
  const int width = atoi(argv[3]), height = atoi(argv[4]), seed = atoi(argv[5]);
  const int frames = atoi(argv[6]);
  if (width < 1 || height < 1 || seed < 0 || frames < 1) return fail("bad size, seed or frame count");

  ScratchFolder scratch;
  char folder[] = "/tmp/web_reference_XXXXXX";
  if (!mkdtemp(folder)) return fail("cannot make a scratch folder");
  scratch.path = folder;

  PluginHost host;
  std::string error;
  if (!host.load(argv[1], &error)) return fail(error);
  visSetModuleFileNameOverride((scratch.path + "/vis_orlim.so").c_str());
  const int index = host.findModule(argv[2]);
  if (index < 0) return fail(std::string("no module ") + argv[2]);
  pinPluginClock(seed);
  host.setPreferredFrameSize(width, height);
  if (!host.start(index, &error)) return fail(error);

  unsigned char spectrum[2][VIS_SPECTRUM_BANDS];
  std::vector<unsigned char> rgba;
  for (int n = 0; n < frames; ++n) {
    if (fread(spectrum, sizeof spectrum, 1, stdin) != 1) return fail("short input at frame " + std::to_string(n));
    host.renderFrame(spectrum, 2, 44100);
    VisPixels p;
    if (!host.framePixels(&p) || p.width != width || p.height != height) {
      return fail("no frame of " + std::to_string(width) + "x" + std::to_string(height));
    }
    rgba.resize((size_t)width * height * 4);
    unsigned char* out = rgba.data();
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const uint32_t v = p.pixels[(size_t)y * p.stride + x];
        *out++ = (unsigned char)(v >> 16);
        *out++ = (unsigned char)(v >> 8);
        *out++ = (unsigned char)v;
        *out++ = 255;
      }
    }
    if (fwrite(rgba.data(), rgba.size(), 1, stdout) != 1) return fail("cannot write the pixels");
  }
  host.stop();
  visSetSystemTimeOverride(nullptr);
  return fflush(stdout) == 0 ? 0 : fail("cannot write the pixels");
}
