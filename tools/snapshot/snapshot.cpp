// vis_snapshot: renders each of the four effects for a few seconds of synthetic music
// (after a short silence, as a track begins) and writes the last frame of each as a
// PNG, to see that the effects look right without a window.
//
//   vis_snapshot OUTDIR [--seconds S] [--size WxH] [--seed N]
//
// Writes OUTDIR/zarvenn.png, pellox.png, ambrith.png and tovanel.png. Each file is
// written under a temporary name and renamed when complete, so a failure never leaves
// a half-written PNG behind.
#include <errno.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "draw/draw_surface.h"
#include "effect_surface.h"
#include "modules/modules.h"
#include "synthetic_music.h"
#include "vis_header.h"
#include "visplatform.h"

namespace {

struct Options {
  std::string outDir;
  double seconds = 4.0;
  int width = 640;
  int height = 480;
  unsigned seed = 1;
};

const char kUsage[] = "usage: vis_snapshot OUTDIR [--seconds S] [--size WxH] [--seed N]\n";

bool parseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (!strcmp(arg, "--seconds") && hasValue) {
      char* end;
      options->seconds = strtod(argv[++i], &end);
      if (*end || !(options->seconds >= 0.025 && options->seconds <= 3600)) {
        fprintf(stderr, "vis_snapshot: --seconds wants a number from 0.025 to 3600\n");
        return false;
      }
    } else if (!strcmp(arg, "--size") && hasValue) {
      int w, h;
      char extra;
      if (sscanf(argv[++i], "%dx%d%c", &w, &h, &extra) != 2 || w < 1 || h < 1 || w > 8192 ||
          h > 8192) {
        fprintf(stderr, "vis_snapshot: --size wants WxH, each 1..8192\n");
        return false;
      }
      options->width = w;
      options->height = h;
    } else if (!strcmp(arg, "--seed") && hasValue) {
      char* end;
      const unsigned long seed = strtoul(argv[++i], &end, 10);
      if (*end || seed > 0xffffffffu) {
        fprintf(stderr, "vis_snapshot: --seed wants a number from 0 to 4294967295\n");
        return false;
      }
      options->seed = static_cast<unsigned>(seed);
    } else if (arg[0] != '-' && options->outDir.empty()) {
      options->outDir = arg;
    } else {
      fprintf(stderr, "vis_snapshot: unexpected argument '%s'\n%s", arg, kUsage);
      return false;
    }
  }
  if (options->outDir.empty()) {
    fprintf(stderr, "%s", kUsage);
    return false;
  }
  return true;
}

struct PngError {
  char message[256];
};

void onPngError(png_structp png, png_const_charp message) {
  PngError* error = static_cast<PngError*>(png_get_error_ptr(png));
  snprintf(error->message, sizeof error->message, "%s", message);
  png_longjmp(png, 1);
}

// libpng reports errors by longjmp to here; nothing this function changes after
// setjmp is read after the jump.
bool encodeRows(png_structp png, png_infop info, FILE* file, const VisPixels& pixels,
                unsigned char* row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_set_IHDR(png, info, pixels.width, pixels.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < pixels.height; ++y) {
    const uint32_t* source = pixels.pixels + static_cast<size_t>(y) * pixels.stride;
    for (int x = 0; x < pixels.width; ++x) {
      row[3 * x] = static_cast<unsigned char>(source[x] >> 16);
      row[3 * x + 1] = static_cast<unsigned char>(source[x] >> 8);
      row[3 * x + 2] = static_cast<unsigned char>(source[x]);
    }
    png_write_row(png, row);
  }
  png_write_end(png, info);
  return true;
}

// Writes the surface's pixels (0x00RRGGBB) as an 8-bit RGB PNG.
bool writePng(const std::string& path, const VisPixels& pixels) {
  const std::string partial = path + ".partial";
  FILE* file = fopen(partial.c_str(), "wb");
  if (!file) {
    fprintf(stderr, "vis_snapshot: cannot create %s: %s\n", partial.c_str(), strerror(errno));
    return false;
  }
  PngError error = {"unknown libpng error"};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error, onPngError, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  unsigned char* row = static_cast<unsigned char*>(malloc(static_cast<size_t>(pixels.width) * 3));
  bool ok = png && info && row;
  if (!ok) snprintf(error.message, sizeof error.message, "out of memory");
  if (ok) ok = encodeRows(png, info, file, pixels, row);
  if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  free(row);
  if (fclose(file) != 0 && ok) {
    snprintf(error.message, sizeof error.message, "%s", strerror(errno));
    ok = false;
  }
  if (ok && rename(partial.c_str(), path.c_str()) != 0) {
    snprintf(error.message, sizeof error.message, "rename: %s", strerror(errno));
    ok = false;
  }
  if (!ok) {
    remove(partial.c_str());
    fprintf(stderr, "vis_snapshot: cannot write %s: %s\n", path.c_str(), error.message);
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) return 2;
  if (mkdir(options.outDir.c_str(), 0777) != 0 && errno != EEXIST) {
    fprintf(stderr, "vis_snapshot: cannot create %s: %s\n", options.outDir.c_str(), strerror(errno));
    return 1;
  }

  struct Effect {
    const char* file;
    int (*render)(VisModule*);
  };
  const Effect effects[] = {{"zarvenn.png", renderZarvenn},
                            {"pellox.png", renderPellox},
                            {"ambrith.png", renderAmbrith},
                            {"tovanel.png", renderTovanel}};
  const int leadIn = 4;  // silent frames before the music starts
  const int frames = static_cast<int>(options.seconds / 0.025);
  VisModule module{};
  module.channels = 2;
  for (const Effect& effect : effects) {
    // As init leaves things for a fresh run: the surface at its size, the generator
    // seeded, the particles placed; glowLevel, spanLen and stars start as at load.
    startEffect(options.width, options.height, options.seed);
    for (int n = 0; n < leadIn + frames; ++n) {
      if (n < leadIn) {
        memset(module.spectrum, 0, sizeof module.spectrum);
      } else {
        syntheticMusicFrame(n - leadIn, module.spectrum);
      }
      effect.render(&module);
    }
    VisPixels pixels;
    if (!visBitmapPixels(drawSurface.bitmap, &pixels)) {
      fprintf(stderr, "vis_snapshot: the drawing surface could not be built\n");
      releaseSurface();
      return 1;
    }
    const std::string path = options.outDir + "/" + effect.file;
    const bool written = writePng(path, pixels);
    releaseSurface();
    if (!written) return 1;
    fprintf(stderr, "vis_snapshot: wrote %s\n", path.c_str());
  }
  return 0;
}
