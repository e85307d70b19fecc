// orlimvis_look: renders recordings with every effect and prints how each looks (the
// figures of look_metrics.h), with a contact sheet per track and effect. `make look`
// runs it over Debian's game music (tools/scripts/look.sh fetches it).
//
//   orlimvis_look --plugin PATH --out DIR [--seconds S] [--seed N] [--bands log]
//                 [--levels linear] [--hearing-only] [--shares] [--module N] AUDIO...
//
// Writes DIR/<track>-<effect>.png (frames at 10%..90%, each at half size). Per track, one
// line of how the particles hear their bands (the same for every effect: it is read
// from the spectrum bytes); --hearing-only prints that line alone and draws nothing,
// which takes a fraction of the time, for trying the analyser on many tracks; --shares
// adds each particle's shares of frames under it; --module N draws that effect alone
// (a quarter of the time). Decoding is
// the player's FFmpeg decoder (decodeTrack below).
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "audio/audio_clip.h"
#include "audio/decoder.h"
#include "host/plugin_host.h"
#include "look/look_run.h"
#include "output/output_file.h"
#include "output/png_writer.h"

namespace {

struct Options {
  std::string plugin, out;
  double seconds = 0;  // 0: whole tracks
  unsigned seed = 1;
  SpectrumOptions spectrum;
  bool hearingOnly = false;
  bool shares = false;  // each particle's shares of frames, under the hearing line
  int module = -1;      // one effect only (its index), or all
  std::vector<std::string> tracks;
};

const char kUsage[] =
    "usage: orlimvis_look --plugin PATH --out DIR [--seconds S] [--seed N] [--bands log]\n"
    "                     [--levels linear] [--hearing-only] [--shares] [--module N]\n"
    "                     AUDIO...\n";

bool parseOptions(int argc, char** argv, Options* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool hasValue = i + 1 < argc;
    if (arg == "--plugin" && hasValue) {
      o->plugin = argv[++i];
    } else if (arg == "--out" && hasValue) {
      o->out = argv[++i];
    } else if (arg == "--seconds" && hasValue) {
      char* end;
      o->seconds = strtod(argv[++i], &end);
      if (*end || !(o->seconds > 0 && o->seconds <= 36000))
        return *error = "--seconds wants a number from 0 to 36000", false;
    } else if (arg == "--seed" && hasValue) {
      char* end;
      unsigned long seed = strtoul(argv[++i], &end, 10);
      if (*end || argv[i][0] == '-') return *error = "--seed wants a whole number", false;
      o->seed = (unsigned)seed;
    } else if (arg == "--bands" && hasValue) {
      std::string layout = argv[++i];
      if (layout != "classic" && layout != "log") return *error = "--bands wants classic or log", false;
      o->spectrum.layout = layout == "log" ? SpectrumLayout::Log : SpectrumLayout::Classic;
    } else if (arg == "--levels" && hasValue) {
      std::string levels = argv[++i];
      if (levels != "db" && levels != "linear")
        return *error = "--levels wants db or linear", false;
      o->spectrum.levels = levels == "linear" ? SpectrumLevels::Linear : SpectrumLevels::Decibels;
    } else if (arg == "--hearing-only") {
      o->hearingOnly = true;
    } else if (arg == "--shares") {
      o->shares = true;
    } else if (arg == "--module" && hasValue) {
      char* end;
      long module = strtol(argv[++i], &end, 10);
      if (*end || module < 0 || module > 3) return *error = "--module wants 0, 1, 2 or 3", false;
      o->module = (int)module;
    } else if (!arg.empty() && arg[0] == '-') {
      return *error = "unknown option " + arg, false;
    } else {
      o->tracks.push_back(arg);
    }
  }
  if (o->plugin.empty() || o->out.empty() || o->tracks.empty())
    return *error = "--plugin, --out and at least one AUDIO file are needed", false;
  return true;
}

// The whole track (or its first `seconds`) as two-channel floats, through the player's
// FFmpeg decoder.
bool decodeTrack(const std::string& path, double seconds, AudioClip* clip, std::string* error) {
  AudioDecoder decoder;
  if (!decoder.open(path, error)) return false;
  clip->sampleRate = decoder.sampleRate();
  clip->streamChannels = decoder.streamChannels();
  clip->samples.clear();
  const int64_t limit = seconds > 0 ? (int64_t)(seconds * clip->sampleRate) : INT64_MAX;
  const int64_t chunk = 65536;
  std::vector<float> buffer((size_t)chunk * 2);
  for (int64_t have = 0; have < limit;) {
    int64_t n = decoder.read(buffer.data(), std::min(chunk, limit - have));
    if (n <= 0) break;
    clip->samples.insert(clip->samples.end(), buffer.begin(), buffer.begin() + n * 2);
    have += n;
  }
  if (!decoder.error().empty()) return *error = decoder.error(), false;
  if (clip->frameCount() == 0) return *error = path + ": no audio in it", false;
  return true;
}

std::string trackName(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  return name.substr(0, name.find_last_of('.'));
}

bool writeSheet(const std::string& path, const LookSheet& sheet, std::string* error) {
  PendingFile file;
  FrameView view{sheet.pixels.data(), sheet.width, sheet.height, sheet.width};
  // A sheet of an earlier look run is replaced: the run is there to be repeated.
  return file.reserve(path, IfExists::Replace, error) &&
         writePng(file.temporaryPath(), view, error, path) && file.commit(error);
}

// The particles whose bits are set, as "0-13 16" (or "-" for none).
std::string particleList(uint32_t bits) {
  std::string text;
  for (int i = 0; i < LOOK_PARTICLES;) {
    if (!(bits >> i & 1)) {
      ++i;
      continue;
    }
    int j = i;
    while (j + 1 < LOOK_PARTICLES && (bits >> (j + 1) & 1)) ++j;
    if (!text.empty()) text += ' ';
    text += std::to_string(i);
    if (j > i) text += "-" + std::to_string(j);
    i = j + 1;
  }
  return text.empty() ? "-" : text;
}

void printHearing(const Hearing& h, bool shares) {
  printf("  hearing  alive %2d/21 (%s)  satellites %2d/21 (%s)  depth %2d/21 (%s)"
         "  silent %4.1f%%  black %4.1f%%\n",
         h.aliveCount(), particleList(h.alive).c_str(), h.satellitesCount(),
         particleList(h.satellites).c_str(), h.depthCount(), particleList(h.depth).c_str(),
         100 * h.silentShare, 100 * h.blackShare);
  if (shares) {
    for (int i = 0; i < LOOK_PARTICLES; ++i) {
      printf("    particle %2d (band %3d)  reverses %5.1f%%  satellites %5.1f%%"
             "  depth 2+ %5.1f%%\n",
             i, 26 * (i + 1), 100 * h.reversal[i], 100 * h.satellite[i], 100 * h.deep[i]);
    }
  }
  fflush(stdout);
}

void printFigures(const char* effect, int module, const LookFigures& f) {
  printf("  %-8s blank %5.1f%%  frozen %5.1f s  change %5.2f%%  fires %6.1f/min (%5.1f stretches)",
         effect, 100 * f.blankShare, f.longestFrozenSeconds, 100 * f.meanChange,
         f.firingsPerMinute, f.firingStretchesPerMinute);
  if (module == 0) printf("  bass~background %+.2f", f.bassCorrelation);
  if (module == 3) {
    printf("  cover %4.1f%%, whole %4.1f%%", 100 * f.meanCover, 100 * f.fullCoverShare);
  }
  printf("\n");
  fflush(stdout);
}

int run(const Options& o, int* leftOut, std::string* error) {
  if (!checkWritableFolder(o.out, error)) return 1;
  std::vector<std::string> effects;
  {
    PluginHost host;
    if (!host.load(o.plugin, error)) return 1;
    for (int module = 0; module < host.moduleCount(); ++module)
      effects.push_back(host.moduleName(module));
  }
  const int modules = (int)effects.size();
  for (const std::string& path : o.tracks) {
    AudioClip clip;
    // A damaged recording (Debian's packages hold one or two) is left out, said so, and
    // the run goes on with the others; it still ends with a failure.
    std::string damage;
    if (!decodeTrack(path, o.seconds, &clip, &damage)) {
      fprintf(stderr, "orlimvis_look: left out: %s\n", damage.c_str());
      ++*leftOut;
      continue;
    }
    const std::string name = trackName(path);
    bool heard = false;
    printf("%s (%.0f s at %d Hz, %d channels)\n", name.c_str(), clip.seconds(), clip.sampleRate,
           clip.streamChannels);
    for (int module = 0; module < (o.hearingOnly ? 1 : modules); ++module) {
      if (o.module >= 0 && !o.hearingOnly && module != o.module) continue;
      // The plug-in loaded afresh for every run (a session of its own): what it keeps
      // from one run of a module to the next (flake sizes, the glow, the star dots)
      // would otherwise make a track's figures depend on the tracks before it.
      LookRun settings;
      settings.plugin = o.plugin;
      settings.module = module;
      settings.seed = o.seed;
      settings.spectrum = o.spectrum;
      settings.hearingOnly = o.hearingOnly;
      LookFigures figures;
      LookSheet sheet;
      if (!lookRender(settings, clip, &figures, &sheet, error)) return 1;
      // The hearing is the same in every run of the track: printed after the first.
      if (!heard) printHearing(figures.hearing, o.shares);
      heard = true;
      if (o.hearingOnly) break;
      printFigures(effects[module].c_str(), module, figures);
      std::string sheetPath = o.out + "/" + name + "-" + effects[module] + ".png";
      if (!sheet.pixels.empty() && !writeSheet(sheetPath, sheet, error)) return 1;
    }
  }
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parseOptions(argc, argv, &options, &error)) {
    fprintf(stderr, "orlimvis_look: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  int leftOut = 0;
  int status = run(options, &leftOut, &error);
  if (status != 0) {
    fprintf(stderr, "orlimvis_look: %s\n", error.c_str());
  } else if (leftOut > 0) {
    fprintf(stderr, "orlimvis_look: %d of %zu tracks left out\n", leftOut, options.tracks.size());
    status = 1;
  }
  return status;
}
