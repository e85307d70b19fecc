#include "cli.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

enum { MAX_SIDE = 8192 };

const char* usageText() {
  return "usage:\n"
         "  orlimvis render [AUDIO] -m MODULE -o OUT [--size WxH] [--seed N] [--from T]\n"
         "                  [--duration T] [--at T] [--plugin PATH]\n"
         "      OUT: .mp4 .mkv .webm .gif (needs ffmpeg), .png (one frame, at --at T),\n"
         "      an existing folder (numbered PNG frames), or /dev/null (frames discarded)\n"
         "  orlimvis play [AUDIO] -m MODULE [--capture [DEVICE]] [--size WxH] [--seed N]\n"
         "                [--from T] [--plugin PATH]\n"
         "      keys: 1-4 module, F full screen, Space pause, Left/Right seek 5 s, Esc/Q quit\n"
         "  orlimvis list [--plugin PATH]\n"
         "  orlimvis tune OUT.wav [--duration T]   write the built-in demo tune\n"
         "No AUDIO: the built-in demo tune. MODULE: a name from `orlimvis list` or its index.\n"
         "T: seconds (12.5) or [h:]m:s. --seed N pins the plug-in's clock (it seeds from the\n"
         "milliseconds, so seeds that agree modulo 1000 give the same pictures).\n"
         "render and play also take --bands classic|log (the spectrum's layout; classic,\n"
         "the default, is the one the effects were made for) and --sensitivity auto|N\n"
         "(auto, the default, follows the recording's loudness; N is a fixed gain, at 1 a\n"
         "full-scale sine reads 255, at 10 a sine ten times quieter does; 0.01 to 10000).\n";
}

bool parseSize(const std::string& text, int* width, int* height, std::string* error) {
  const char* s = text.c_str();
  char* end = nullptr;
  errno = 0;
  long w = strtol(s, &end, 10);
  bool ok = end != s && (*end == 'x' || *end == 'X') && s[0] != '-' && s[0] != '+';
  long h = 0;
  if (ok) {
    const char* second = end + 1;
    h = strtol(second, &end, 10);
    ok = end != second && *end == '\0' && second[0] != '-' && second[0] != '+' && errno == 0;
  }
  if (!ok) {
    *error = "--size " + text + ": expected WIDTHxHEIGHT, for example 640x480";
    return false;
  }
  if (w < 1 || h < 1 || w > MAX_SIDE || h > MAX_SIDE) {
    *error = "--size " + text + ": each side must be 1 to " + std::to_string(MAX_SIDE);
    return false;
  }
  *width = (int)w;
  *height = (int)h;
  return true;
}

bool parseTime(const std::string& text, double* seconds, std::string* error) {
  std::string body = text;
  if (!body.empty() && (body.back() == 's' || body.back() == 'S')) body.pop_back();
  double total = 0;
  int fields = 0;
  size_t start = 0;
  bool ok = !body.empty();
  while (ok) {
    size_t colon = body.find(':', start);
    std::string part = body.substr(start, colon == std::string::npos ? std::string::npos
                                                                      : colon - start);
    char* end = nullptr;
    bool last = colon == std::string::npos;
    const char* p = part.c_str();
    double value = strtod(p, &end);
    ok = !part.empty() && end != p && *end == '\0' && isfinite(value) && value >= 0 &&
         part[0] != '+' && part[0] != '-' && (last || part.find('.') == std::string::npos);
    if (!ok) break;
    if (fields > 0 && value >= 60) ok = false;
    total = total * 60 + value;
    ++fields;
    if (last) break;
    start = colon + 1;
    if (fields >= 3) ok = false;
  }
  // "1:75" is no time; in h:m:s every field after the first is below 60.
  if (!ok) {
    *error = "'" + text + "': expected a time in seconds (12.5) or [h:]m:s (1:30)";
    return false;
  }
  *seconds = total;
  return true;
}

namespace {
bool takeValue(int argc, char** argv, int* i, const char* name, std::string* value,
               std::string* error) {
  if (*i + 1 >= argc) {
    *error = std::string(name) + ": needs a value";
    return false;
  }
  *value = argv[++*i];
  return true;
}
// --bands classic|log, --sensitivity auto|N.
bool parseSpectrumOption(const std::string& name, const std::string& value,
                         SpectrumOptions* spectrum, std::string* error) {
  if (name == "--bands") {
    if (value == "classic") spectrum->layout = SpectrumLayout::Classic;
    else if (value == "log") spectrum->layout = SpectrumLayout::Log;
    else return *error = "--bands " + value + ": expected classic or log", false;
    return true;
  }
  if (value == "auto") {
    spectrum->sensitivity = 0;
    return true;
  }
  char* end = nullptr;
  double gain = strtod(value.c_str(), &end);
  if (value.empty() || *end != '\0' || !(gain >= SPECTRUM_SENSITIVITY_MIN &&
                                          gain <= SPECTRUM_SENSITIVITY_MAX)) {
    *error = "--sensitivity " + value + ": expected auto or a number from 0.01 to 10000";
    return false;
  }
  spectrum->sensitivity = gain;
  return true;
}
}  // namespace

bool parseCommandLine(int argc, char** argv, Options* o, std::string* error) {
  if (argc < 2) {
    *error = "no command given (render, play, list or tune; --help for more)";
    return false;
  }
  std::string command = argv[1];
  if (command == "render") o->command = Command::Render;
  else if (command == "play") o->command = Command::Play;
  else if (command == "list") o->command = Command::List;
  else if (command == "tune") o->command = Command::Tune;
  else if (command == "help" || command == "--help" || command == "-h") {
    o->command = Command::Help;
    return true;
  } else {
    *error = "unknown command '" + command + "' (render, play, list or tune)";
    return false;
  }

  bool haveAt = false;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i], value;
    auto valueOf = [&](const char* name) { return takeValue(argc, argv, &i, name, &value, error); };
    if (arg == "-h" || arg == "--help") {
      o->command = Command::Help;
      return true;
    } else if (arg == "-m" || arg == "--module") {
      if (!valueOf("-m")) return false;
      o->module = value;
    } else if (arg == "-o" || arg == "--output") {
      if (!valueOf("-o")) return false;
      o->output = value;
    } else if (arg == "--plugin") {
      if (!valueOf("--plugin")) return false;
      o->plugin = value;
    } else if (arg == "--size") {
      if (!valueOf("--size") || !parseSize(value, &o->width, &o->height, error)) return false;
    } else if (arg == "--seed") {
      if (!valueOf("--seed")) return false;
      char* end = nullptr;
      errno = 0;
      unsigned long seed = strtoul(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || value[0] == '-' || errno != 0) {
        *error = "--seed " + value + ": expected a whole number, 0 or more";
        return false;
      }
      o->seeded = true;
      o->seed = seed;
    } else if (arg == "--from" || arg == "--duration" || arg == "--at") {
      if (!valueOf(arg.c_str())) return false;
      double seconds;
      if (!parseTime(value, &seconds, error)) {
        *error = arg + " " + *error;
        return false;
      }
      if (arg == "--from") o->from = seconds;
      else if (arg == "--at") o->at = seconds, haveAt = true;
      else {
        if (seconds <= 0) {
          *error = "--duration " + value + ": must be longer than 0";
          return false;
        }
        o->duration = seconds;
      }
    } else if (arg == "--bands" || arg == "--sensitivity") {
      if (!valueOf(arg.c_str()) || !parseSpectrumOption(arg, value, &o->spectrum, error))
        return false;
    } else if (arg == "--capture") {
      o->capture = true;
      if (i + 1 < argc && argv[i + 1][0] != '-') o->captureDevice = argv[++i];
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      *error = "unknown option " + arg;
      return false;
    } else if (o->command == Command::Tune ? o->output.empty() : o->audio.empty()) {
      (o->command == Command::Tune ? o->output : o->audio) = arg;
    } else {
      *error = "unexpected argument '" + arg + "'";
      return false;
    }
  }

  switch (o->command) {
    case Command::Render:
      if (o->module.empty()) return *error = "render: -m MODULE is required", false;
      if (o->output.empty()) return *error = "render: -o OUT is required", false;
      if (o->capture) return *error = "render: --capture is only for play", false;
      break;
    case Command::Play:
      if (o->module.empty()) return *error = "play: -m MODULE is required", false;
      if (!o->output.empty()) return *error = "play: -o is only for render", false;
      if (o->capture && !o->audio.empty())
        return *error = "play: give an audio file or --capture, not both", false;
      if (haveAt) return *error = "play: --at is only for render", false;
      break;
    case Command::List:
      if (!o->audio.empty()) return *error = "list: unexpected argument '" + o->audio + "'", false;
      break;
    case Command::Tune:
      if (o->output.empty()) return *error = "tune: OUT.wav is required", false;
      if (o->output.size() < 5 || strcasecmp(o->output.c_str() + o->output.size() - 4, ".wav"))
        return *error = "tune: " + o->output + ": the tune is written as WAV; name it .wav", false;
      break;
    default:
      break;
  }
  return true;
}
