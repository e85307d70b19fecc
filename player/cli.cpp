#include "cli.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

enum { MAX_SIDE = 8192 };

#ifndef ORLIMVIS_VERSION
#define ORLIMVIS_VERSION "0"
#endif

namespace {
// Every command's help in one table: the general help lists the synopses, `help
// COMMAND` and `COMMAND --help` print the whole row. The manual page says the same at
// more length; a change here belongs there too.
struct CommandHelp {
  const char* name;
  const char* text;
};

const CommandHelp kHelp[] = {
    {"render",
     "usage: orlimvis render [AUDIO...] -m MODULE -o OUT [options]\n"
     "Renders the effect for AUDIO (the built-in demo tune when none), headless and as fast\n"
     "as it can, one frame per interval the module asks for (25 ms for most).\n"
     "  -m, --module MODULE  a name from `orlimvis list` or its index\n"
     "  -o, --output OUT     .mp4 .mkv .webm .gif (through ffmpeg); - (Matroska on standard\n"
     "                       output); .png (one frame, see --at); a folder (numbered PNG\n"
     "                       frames); /dev/null (frames discarded). With several AUDIO\n"
     "                       files: a folder, which gets FOLDER/<name>.mp4 for each\n"
     "  -y                   replace existing outputs (a non-empty frames folder too)\n"
     "  -n                   never replace them (the default)\n"
     "  --size WxH           frame size (default 640x480)\n"
     "  --seed N             pin the plug-in's clock: the same pictures on every run\n"
     "  --from T             start T into the audio\n"
     "  --duration T         render T of audio (default: to the end)\n"
     "  --at T               the time of a .png snapshot (default 5 s in)\n"
     "  --codec C            video codec: h264 (default for .mp4, .mkv), hevc, vp9 (default\n"
     "                       for .webm), av1\n"
     "  --crf N              constant quality, lower is better (defaults: h264 20, hevc 24,\n"
     "                       vp9 32, av1 35)\n"
     "  --preset P           speed against size: h264/hevc ultrafast..veryslow (veryfast),\n"
     "                       vp9 realtime|good|best (realtime), av1 0..13 (10)\n"
     "  --audio-bitrate B    audio bit rate in kbit/s (192k AAC; 128k Opus for .webm)\n"
     "  --audio copy         keep the source's audio stream as it is, where the container\n"
     "                       holds its codec (.mkv holds nearly all)\n"
     "  --plugin PATH        the plug-in to host (default: the one installed with orlimvis)\n"
     "T: seconds (12.5) or [h:]m:s (1:30). A progress line shows on a terminal.\n"},
    {"play",
     "usage: orlimvis play [AUDIO] -m MODULE [options]\n"
     "Shows the effect in a window while the audio plays.\n"
     "  -m, --module MODULE  a name from `orlimvis list` or its index\n"
     "  --capture [NAME]     visualise a sound server input instead of a file, NAME from\n"
     "                       `orlimvis devices` (default: what the default output is\n"
     "                       playing, where the sound server can)\n"
     "  --size WxH           window size (default 640x480)\n"
     "  --seed N             pin the plug-in's clock\n"
     "  --from T             start T into the audio\n"
     "  --plugin PATH        the plug-in to host\n"
     "Keys: 1-4 module, F full screen, Space pause, Left/Right seek 5 s, Esc or Q quit.\n"},
    {"list",
     "usage: orlimvis list [--plugin PATH]\n"
     "Prints the plug-in's description and its modules with their indexes.\n"},
    {"devices",
     "usage: orlimvis devices\n"
     "Lists the inputs `play --capture NAME` takes; monitors show what is playing.\n"},
    {"tune",
     "usage: orlimvis tune OUT.wav [--duration T] [-y]\n"
     "Writes the built-in demo tune (24 s) as a WAV file.\n"
     "  --duration T         its length\n"
     "  -y                   replace an existing OUT.wav\n"},
    {"help",
     "usage: orlimvis help [COMMAND]\n"
     "Prints the help of COMMAND, or the list of commands.\n"},
};

// Options that only `render` takes (all but the first two also need a video output).
const char* const kRenderOnly[] = {"-y", "-n", "--codec", "--crf", "--preset",
                                   "--audio-bitrate", "--audio"};
}  // namespace

const char* usageText() {
  return "usage: orlimvis COMMAND [options]\n"
         "  orlimvis render [AUDIO...] -m MODULE -o OUT   render to a video, PNG or frames\n"
         "  orlimvis play [AUDIO] -m MODULE               show it in a window\n"
         "  orlimvis list                                 the plug-in's modules\n"
         "  orlimvis devices                              the inputs --capture takes\n"
         "  orlimvis tune OUT.wav                         write the built-in demo tune\n"
         "  orlimvis help COMMAND                         a command's options\n"
         "  orlimvis --version\n"
         "AUDIO: any file FFmpeg reads (MP3, AAC/M4A, Opus, Vorbis, FLAC, WAV, a video's sound...).\n"
         "No AUDIO: the built-in demo tune. `man orlimvis` tells more.\n";
}

const char* helpText(const std::string& command) {
  for (const CommandHelp& h : kHelp) {
    if (command == h.name) return h.text;
  }
  return nullptr;
}

const char* versionText() { return "orlimvis " ORLIMVIS_VERSION; }

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
}  // namespace

bool parseCommandLine(int argc, char** argv, Options* o, std::string* error) {
  if (argc < 2) {
    *error = "no command given (render, play, list, devices or tune; --help for more)";
    return false;
  }
  std::string command = argv[1];
  if (command == "--version" || command == "-V") {
    o->command = Command::Version;
    return argc == 2 || (*error = "--version takes nothing more", false);
  }
  if (command == "render") o->command = Command::Render;
  else if (command == "play") o->command = Command::Play;
  else if (command == "list") o->command = Command::List;
  else if (command == "tune") o->command = Command::Tune;
  else if (command == "devices") o->command = Command::Devices;
  else if (command == "help" || command == "--help" || command == "-h") {
    o->command = Command::Help;
    if (argc > 2) o->helpTopic = argv[2];
    if (argc > 3 || (argc == 3 && !helpText(o->helpTopic))) {
      *error = "help: no command '" + std::string(argv[argc - 1]) +
               "' (render, play, list, devices, tune)";
      return false;
    }
    return true;
  } else {
    *error = "unknown command '" + command + "' (render, play, list, devices or tune)";
    return false;
  }

  bool haveAt = false;
  std::string renderOnly;  // the first render-only option seen
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i], value;
    auto valueOf = [&](const char* name) { return takeValue(argc, argv, &i, name, &value, error); };
    for (const char* name : kRenderOnly) {
      if (arg == name && renderOnly.empty()) renderOnly = name;
    }
    if (arg == "-h" || arg == "--help") {
      o->helpTopic = command;
      o->command = Command::Help;
      return true;
    } else if (arg == "-y" || arg == "-n") {
      o->overwrite = arg == "-y";
    } else if (arg == "--codec" || arg == "--preset") {
      if (!valueOf(arg.c_str())) return false;
      (arg == "--codec" ? o->encoding.codec : o->encoding.preset) = value;
    } else if (arg == "--crf") {
      if (!valueOf("--crf")) return false;
      char* end = nullptr;
      long crf = strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || crf < 0 || crf > 63) {
        *error = "--crf " + value + ": expected a whole number from 0 to 63";
        return false;
      }
      o->encoding.crf = (int)crf;
    } else if (arg == "--audio-bitrate") {
      if (!valueOf("--audio-bitrate") ||
          !parseAudioBitrate(value, &o->encoding.audioBitrate, error))
        return false;
    } else if (arg == "--audio") {
      if (!valueOf("--audio")) return false;
      if (value != "copy" && value != "encode") {
        *error = "--audio " + value + ": expected copy or encode";
        return false;
      }
      o->encoding.audioCopy = value == "copy";
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
    } else if (arg == "--capture") {
      o->capture = true;
      if (i + 1 < argc && argv[i + 1][0] != '-') o->captureDevice = argv[++i];
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      *error = "unknown option " + arg;
      return false;
    } else if (o->command == Command::Tune && o->output.empty()) {
      o->output = arg;
    } else if (o->command != Command::Tune &&
               (o->audio.empty() || o->command == Command::Render)) {
      o->inputs.push_back(arg);
      o->audio = o->inputs[0];
    } else {
      *error = "unexpected argument '" + arg + "'";
      return false;
    }
  }

  if (!renderOnly.empty() && o->command != Command::Render &&
      !(o->command == Command::Tune && (renderOnly == "-y" || renderOnly == "-n"))) {
    return *error = command + ": " + renderOnly + " is only for render", false;
  }
  switch (o->command) {
    case Command::Render:
      if (o->module.empty()) return *error = "render: -m MODULE is required", false;
      if (o->output.empty()) return *error = "render: -o OUT is required", false;
      if (o->capture) return *error = "render: --capture is only for play", false;
      if (o->inputs.size() > 1 && o->output.back() != '/') {
        struct stat info;
        if (stat(o->output.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
          return *error = "render: several inputs (" + o->inputs[1] +
                          " and more) need -o FOLDER/, not " + o->output, false;
      }
      break;
    case Command::Play:
      if (o->module.empty()) return *error = "play: -m MODULE is required", false;
      if (!o->output.empty()) return *error = "play: -o is only for render", false;
      if (o->capture && !o->audio.empty())
        return *error = "play: give an audio file or --capture, not both", false;
      if (haveAt) return *error = "play: --at is only for render", false;
      break;
    case Command::List:
    case Command::Devices:
      if (!o->audio.empty())
        return *error = std::string(o->command == Command::List ? "list" : "devices") +
                        ": unexpected argument '" + o->audio + "'", false;
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
