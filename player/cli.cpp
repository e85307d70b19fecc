#include "cli.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <numeric>  // std::gcd

#include "audio/demo_tune.h"  // DEMO_TUNE_MAX_SECONDS

enum { MAX_SIDE = 8192 };
// The longest time taken, 100 hours: far beyond any recording, and small enough that a
// time in samples at the highest rate, times the frame clock's 1000, stays in 64 bits.
constexpr double MAX_SECONDS = 100 * 3600.0;

#ifndef ORLIMVIS_VERSION
#define ORLIMVIS_VERSION "0"
#endif

namespace {
// The commands as bits, for the commands an option belongs to.
enum : unsigned {
  RENDER = 1u << (int)Command::Render,
  PLAY = 1u << (int)Command::Play,
  LIST = 1u << (int)Command::List,
  DEVICES = 1u << (int)Command::Devices,
  TUNE = 1u << (int)Command::Tune,
  // On help lines: listed after the command's other options (tune's -y after --duration).
  LISTED_LAST = 1u << 31,
};

unsigned bitOf(Command command) { return 1u << (int)command; }

// Every command in one table: its word, its line in the general help, and the prose of
// its own help (`help COMMAND`, `COMMAND --help`) around the lines of its options, which
// come from the table of options below. The manual page says the same at more length; a
// change here belongs there too.
struct CommandRow {
  const char* name;
  Command command;
  const char* synopsis;  // in the general help, after "orlimvis "
  const char* summary;   // in the general help, beside the synopsis
  const char* usage;     // the first line of its help, after "usage: orlimvis "
  const char* about;     // the lines before its options
  const char* after;     // the lines after them
};

// A row a group of lines, laid out as the help reads.
// clang-format off
const CommandRow kCommands[] = {
    {"render", Command::Render, "render [AUDIO...] -m MODULE -o OUT",
     "render to a video, PNG or frames", "render [AUDIO...] -m MODULE -o OUT [options]",
     "Renders the effect for AUDIO (the built-in demo tune when none), headless and as fast\n"
     "as it can, one frame per interval the module asks for (25 ms for most).\n",
     "AUDIO: a file, - (standard input), a folder (its audio files, sorted) or an .m3u\n"
     "playlist. T: seconds (12.5) or [h:]m:s (1:30). Options take --name=value too; after\n"
     "-- every word is AUDIO. Progress: on a terminal a line redrawn in place; otherwise a\n"
     "line every 5 s; then a line saying what was written.\n"},
    {"play", Command::Play, "play [AUDIO...] [-m MODULE]", "show it in a window",
     "play [AUDIO...] [-m MODULE] [options]",
     "Shows the effect in a window while the audio plays, one AUDIO after another.\n",
     "AUDIO: files, - (standard input), folders, .m3u playlists.\n"
     "Keys: 1-4 module, F full screen (no cursor), S full-size drawing on/off, Space pause,\n"
     "Left/Right seek 5 s, Up/Down volume 5% (a file or the tune), M mute, N/P next or\n"
     "previous AUDIO, Esc or Q quit. The title shows the module, the track and where it is\n"
     "(or the input's name), and paused, muted or the volume.\n"
     "If the sound server goes away, play says so once (and in the title), draws on\n"
     "without sound and takes up the sound again when the server is back.\n"},
    {"list", Command::List, "list", "the plug-in's modules", "list [--plugin PATH]",
     "Prints the plug-in's description and its modules with their indexes.\n", ""},
    {"devices", Command::Devices, "devices", "the inputs --capture takes", "devices",
     "Lists the inputs `play --capture NAME` takes; monitors show what is playing.\n", ""},
    {"tune", Command::Tune, "tune OUT.wav", "write the built-in demo tune",
     "tune OUT.wav [--duration T] [-y]", "Writes the built-in demo tune (24 s) as a WAV file.\n",
     ""},
    {"help", Command::Help, "help COMMAND", "a command's options", "help [COMMAND]",
     "Prints the help of COMMAND, or the list of commands.\n", ""},
};
// clang-format on

const CommandRow* commandRow(const std::string& name) {
  for (const CommandRow& row : kCommands) {
    if (name == row.name) return &row;
  }
  return nullptr;
}

// What an option does with its value: name is the option's long name (its short one if
// it has none), value is null when none was given. Returns false with *error set.
using Apply = bool (*)(const std::string& name, const std::string* value, Options* o,
                       std::string* error);

bool fail(std::string* error, const std::string& text) { return *error = text, false; }

// -m, -o, --plugin, --codec, --preset: text taken as it is.
bool applyText(const std::string& name, const std::string* value, Options* o, std::string*) {
  if (name == "--module") o->module = *value;
  else if (name == "--output") o->output = *value;
  else if (name == "--plugin") o->plugin = *value;
  else if (name == "--codec") o->encoding.codec = *value;
  else o->encoding.preset = *value;
  return true;
}

// The options that take no value, and --capture [NAME].
bool applySwitch(const std::string& name, const std::string* value, Options* o, std::string*) {
  if (name == "-y" || name == "-n") {
    o->overwrite = name == "-y";
  } else if (name == "--strict") {
    o->strict = true;
  } else if (name == "--quiet" || name == "--verbose") {
    o->verbosity = name == "--quiet" ? 0 : 2;
  } else if (name == "--capture") {
    o->capture = true;
    if (value) o->captureDevice = *value;
  } else {  // --help: the help of the command given
    for (const CommandRow& row : kCommands) {
      if (row.command == o->command) o->helpTopic = row.name;
    }
    o->command = Command::Help;
  }
  return true;
}

bool applyTime(const std::string& name, const std::string* value, Options* o, std::string* error) {
  double seconds;
  if (!parseTime(*value, &seconds, error)) return fail(error, name + " " + *error);
  if (name == "--from") {
    o->from = seconds;
  } else if (name == "--at") {
    o->at = seconds;
  } else {
    if (seconds <= 0) return fail(error, "--duration " + *value + ": must be longer than 0");
    o->duration = seconds;
  }
  return true;
}

bool applySeed(const std::string&, const std::string* value, Options* o, std::string* error) {
  char* end = nullptr;
  errno = 0;
  unsigned long seed = strtoul(value->c_str(), &end, 10);
  if (value->empty() || *end != '\0' || (*value)[0] == '-' || errno != 0)
    return fail(error, "--seed " + *value + ": expected a whole number, 0 or more");
  o->seeded = true;
  o->seed = seed;
  return true;
}

// --bands classic|log, --levels db|linear, --sensitivity auto|N.
bool applySpectrum(const std::string& name, const std::string* text, Options* o,
                   std::string* error) {
  const std::string& value = *text;
  SpectrumOptions* spectrum = &o->spectrum;
  if (name == "--bands") {
    if (value == "classic") spectrum->layout = SpectrumLayout::Classic;
    else if (value == "log") spectrum->layout = SpectrumLayout::Log;
    else return *error = "--bands " + value + ": expected classic or log", false;
    return true;
  }
  if (name == "--levels") {
    if (value == "db") spectrum->levels = SpectrumLevels::Decibels;
    else if (value == "linear") spectrum->levels = SpectrumLevels::Linear;
    else return *error = "--levels " + value + ": expected db or linear", false;
    return true;
  }
  if (value == "auto") {
    spectrum->sensitivity = 0;
    return true;
  }
  char* end = nullptr;
  double gain = strtod(value.c_str(), &end);
  if (value.empty() || *end != '\0' ||
      !(gain >= SPECTRUM_SENSITIVITY_MIN && gain <= SPECTRUM_SENSITIVITY_MAX)) {
    *error = "--sensitivity " + value + ": expected auto or a number from 0.01 to 10000";
    return false;
  }
  spectrum->sensitivity = gain;
  return true;
}

// --crf, --audio-bitrate, --audio: the encoding choices checked from their text.
bool applyEncoding(const std::string& name, const std::string* text, Options* o,
                   std::string* error) {
  const std::string& value = *text;
  EncodingChoice& e = o->encoding;
  if (name == "--crf") {
    char* end = nullptr;
    long crf = strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || crf < 0 || crf > 63)
      return fail(error, "--crf " + value + ": expected a whole number from 0 to 63");
    e.crf = (int)crf;
  } else if (name == "--audio-bitrate") {
    return parseAudioBitrate(value, &e.audioBitrate, error);
  } else {
    if (value != "copy" && value != "encode")
      return fail(error, "--audio " + value + ": expected copy or encode");
    e.audioCopy = value == "copy";
  }
  return true;
}

// --size, --scale, --scale-filter, --fps, --format: what the picture looks like.
bool applyPicture(const std::string& name, const std::string* text, Options* o,
                  std::string* error) {
  const std::string& value = *text;
  if (name == "--size") {
    return parseSize(value, &o->width, &o->height, error);
  } else if (name == "--scale") {
    if (value == "auto") return o->scale = SCALE_AUTO, true;
    char* end = nullptr;
    long n = strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || value[0] == '+' || n < 1 || n > SCALE_MAX)
      return fail(error, "--scale " + value + ": expected auto or a whole number from 1 to " +
                             std::to_string(SCALE_MAX));
    o->scale = (int)n;
  } else if (name == "--scale-filter") {
    if (value == "nearest") o->scaleFilter = ScaleFilter::Nearest;
    else if (value == "smooth") o->scaleFilter = ScaleFilter::Smooth;
    else return fail(error, "--scale-filter " + value + ": expected nearest or smooth");
  } else if (name == "--fps") {
    return parseFps(value, &o->fpsNumerator, &o->fpsDenominator, error);
  } else {
    VideoFormat format;
    if (value.find('.') != std::string::npos || !videoFormatFor("." + value, &format))
      return fail(error, "--format " + value + ": expected mp4, mkv, webm or gif");
    o->format = value;
  }
  return true;
}

enum class Value { None, Required, Optional };

// Help lines of an option: the commands whose help shows them, and the text beside the
// option's names ('\n' between lines). Two entries that meet in one command's help
// follow each other.
struct HelpLines {
  unsigned commands;
  const char* text;
};

// Every option once: the parser looks options up here and each command's help lists the
// options whose help lines name it, in this order. `commands` are the commands that take
// it, as the bash completion and the manual page list them. Options marked `refused`
// are refused by any other command ("-q is only for render"); the others are checked
// where the whole command line is known (checkCommand) or ignored by a command they do
// not concern.
struct OptionRow {
  const char* shortName;  // "-m", or null
  const char* longName;   // "--module", or null
  Value value;
  const char* metavar;  // what the help shows after the names, or null
  unsigned commands;
  bool refused;
  Apply apply;
  HelpLines help[2];
};

// A row a group of lines, laid out as the help reads.
// clang-format off
const OptionRow kOptions[] = {
    {"-m", "--module", Value::Required, "MODULE", RENDER | PLAY, false, applyText,
     {{RENDER, "a name from `orlimvis list` or its index"},
      {PLAY, "a name from `orlimvis list` or its index (default: the\n"
             "module last played, else the first)"}}},
    {"-o", "--output", Value::Required, "OUT", RENDER, false, applyText,
     {{RENDER, "a video: .mp4 .mkv .webm .gif (through ffmpeg), or - (Matroska\n"
               "on standard output); .png (one frame, see --at); frames by a\n"
               "pattern, as frames/%06d.png (numbered from 1); a folder (ending\n"
               "in / or existing): FOLDER/<name>.mp4 for each AUDIO;\n"
               "/dev/null (frames made and discarded)"}}},
    {nullptr, "--capture", Value::Optional, "[NAME]", PLAY, false, applySwitch,
     {{PLAY, "visualise a sound server input instead of a file, NAME from\n"
             "`orlimvis devices` (default: what the default output is\n"
             "playing, where the sound server can)"}}},
    {nullptr, "--format", Value::Required, "F", RENDER, true, applyPicture,
     {{RENDER, "the container of videos made in a folder: mp4 (default), mkv,\n"
               "webm, gif"}}},
    {"-y", nullptr, Value::None, nullptr, RENDER | TUNE, true, applySwitch,
     {{RENDER, "replace existing outputs (frames of the pattern too)"},
      {TUNE | LISTED_LAST, "replace an existing OUT.wav"}}},
    {"-n", nullptr, Value::None, nullptr, RENDER | TUNE, true, applySwitch,
     {{RENDER, "never replace them (the default)"}}},
    {nullptr, "--size", Value::Required, "WxH", RENDER | PLAY, false, applyPicture,
     {{RENDER, "frame size (default 640x480)"}, {PLAY, "window size (default 640x480)"}}},
    {nullptr, "--scale", Value::Required, "N|auto", RENDER | PLAY, false, applyPicture,
     {{RENDER | PLAY, "the plug-in draws at the size divided by N and the picture is\n"
                      "scaled up; auto (default) keeps the look of 640x480: the largest\n"
                      "N that leaves the drawing's shorter side 480 or more (1 up to\n"
                      "1280x720, 2 for 1920x1080, 4 for 3840x2160); 1 to 32"}}},
    {nullptr, "--scale-filter", Value::Required, "nearest|smooth", RENDER | PLAY, false,
     applyPicture,
     {{RENDER | PLAY, "nearest (default) makes each drawn pixel a block;\n"
                      "smooth interpolates"},
      {PLAY, "(the rule follows resizes and full screen)"}}},
    {nullptr, "--fps", Value::Required, "R", RENDER, true, applyPicture,
     {{RENDER, "video frame rate (30, 29.97, 30000/1001; 1 to 240): frames are\n"
               "repeated or dropped on the module's clock (default: the\n"
               "module's own rate, 40 for 25 ms)"}}},
    {nullptr, "--seed", Value::Required, "N", RENDER | PLAY, false, applySeed,
     {{RENDER, "pin the plug-in's clock: the same pictures on every run"},
      {PLAY, "pin the plug-in's clock"}}},
    {nullptr, "--from", Value::Required, "T", RENDER | PLAY, false, applyTime,
     {{RENDER, "start T into the audio"}, {PLAY, "start T into the audio (the first of a list)"}}},
    {nullptr, "--duration", Value::Required, "T", RENDER | TUNE, false, applyTime,
     {{RENDER, "render T of audio (default: to the end)"}, {TUNE, "its length"}}},
    {nullptr, "--at", Value::Required, "T", RENDER, false, applyTime,
     {{RENDER, "the time of a .png snapshot (default 5 s in)"}}},
    {nullptr, "--bands", Value::Required, "classic|log", RENDER | PLAY, false, applySpectrum,
     {{RENDER | PLAY, "the spectrum's layout: classic (default), bands evenly spaced\n"
                      "up to 22 kHz, the one the effects were made for; log, bands\n"
                      "spaced logarithmically from 45 Hz to 16 kHz"}}},
    {nullptr, "--levels", Value::Required, "db|linear", RENDER | PLAY, false, applySpectrum,
     {{RENDER | PLAY, "the classic layout's level scale: db (default), each band in dB\n"
                      "above its own recent average, so that every band follows its\n"
                      "own music; linear, proportional to magnitude (band 0 always)"}}},
    {nullptr, "--sensitivity", Value::Required, "auto|N", RENDER | PLAY, false, applySpectrum,
     {{RENDER | PLAY, "the spectrum's gain: auto (default) follows the recording's\n"
                      "loudness over seconds; N is fixed, 0.01 to 10000 (at 1 a\n"
                      "full-scale sine reads 255, at 10 a sine ten times quieter does)"}}},
    {nullptr, "--codec", Value::Required, "C", RENDER, true, applyText,
     {{RENDER, "video codec: h264 (default for .mp4, .mkv), hevc, vp9 (default\n"
               "for .webm), av1"}}},
    {nullptr, "--crf", Value::Required, "N", RENDER, true, applyEncoding,
     {{RENDER, "constant quality, lower is better (defaults: h264 20, hevc 24,\n"
               "vp9 32, av1 35)"}}},
    {nullptr, "--preset", Value::Required, "P", RENDER, true, applyText,
     {{RENDER, "speed against size: h264/hevc ultrafast..veryslow (veryfast),\n"
               "vp9 realtime|good|best (realtime), av1 0..13 (10)"}}},
    {nullptr, "--audio-bitrate", Value::Required, "B", RENDER, true, applyEncoding,
     {{RENDER, "audio bit rate in kbit/s (192k AAC; 128k Opus for .webm)"}}},
    {nullptr, "--audio", Value::Required, "copy", RENDER, true, applyEncoding,
     {{RENDER, "keep the source's audio stream as it is, where the container\n"
               "holds its codec (.mkv holds nearly all)"}}},
    {nullptr, "--strict", Value::None, nullptr, RENDER | PLAY, false, applySwitch,
     {{RENDER, "fail on damaged audio and keep nothing (default: skip it with\n"
               "a warning naming the place, and keep what decodes)"},
      {PLAY, "stop on damaged audio (default: skip it with a warning)"}}},
    {nullptr, "--plugin", Value::Required, "PATH", RENDER | PLAY | LIST, false, applyText,
     {{RENDER, "the plug-in to host (default: the one installed with orlimvis)"},
      {PLAY, "the plug-in to host"}}},
    {"-q", "--quiet", Value::None, nullptr, RENDER, true, applySwitch, {{RENDER, "errors only"}}},
    {"-v", "--verbose", Value::None, nullptr, RENDER, true, applySwitch,
     {{RENDER, "say what is rendered, and log progress every second"}}},
    {"-h", "--help", Value::None, nullptr, RENDER | PLAY | LIST | DEVICES | TUNE, false,
     applySwitch, {}},
};
// clang-format on

const OptionRow* optionRow(const std::string& name) {
  for (const OptionRow& row : kOptions) {
    if ((row.shortName && name == row.shortName) || (row.longName && name == row.longName))
      return &row;
  }
  return nullptr;
}

// The lines of one option in a command's help: its names in a column 21 wide, its help
// lines beside them; empty when the command's help does not show it.
std::string helpLinesOf(const OptionRow& row, Command command, bool last) {
  std::string text;
  for (const HelpLines& h : row.help) {
    if (!h.text || !(h.commands & bitOf(command)) || ((h.commands & LISTED_LAST) != 0) != last)
      continue;
    text += (text.empty() ? "" : "\n") + std::string(h.text);
  }
  if (text.empty()) return text;
  std::string names = row.shortName ? row.shortName : "";
  if (row.longName) names += (names.empty() ? "" : ", ") + std::string(row.longName);
  if (row.metavar) names += " " + std::string(row.metavar);
  names.resize(names.size() < 21 ? 21 : names.size() + 2, ' ');
  std::string lines = "  " + names;
  for (size_t start = 0, end; start <= text.size(); start = end + 1) {
    end = std::min(text.find('\n', start), text.size());
    lines += (start == 0 ? "" : std::string(23, ' ')) + text.substr(start, end - start) + "\n";
  }
  return lines;
}

std::string helpOf(const CommandRow& command) {
  std::string text = "usage: orlimvis " + std::string(command.usage) + "\n" + command.about;
  for (bool last : {false, true}) {
    for (const OptionRow& row : kOptions) text += helpLinesOf(row, command.command, last);
  }
  return text + command.after;
}
}  // namespace

const char* usageText() {
  static const std::string text = [] {
    std::string t = "usage: orlimvis COMMAND [options]\n";
    for (const CommandRow& row : kCommands) {
      std::string synopsis = "orlimvis " + std::string(row.synopsis);
      synopsis.resize(std::max(synopsis.size() + 1, (size_t)46), ' ');
      t += "  " + synopsis + row.summary + "\n";
    }
    return t +
           "  orlimvis --version\n"
           "AUDIO: any file FFmpeg reads (MP3, AAC/M4A, Opus, Vorbis, FLAC, WAV, a video's\n"
           "sound...), - for standard input, a folder, an .m3u playlist.\n"
           "No AUDIO: the built-in demo tune. `man orlimvis` tells more.\n";
  }();
  return text.c_str();
}

const char* helpText(const std::string& command) {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t;
    for (const CommandRow& row : kCommands) t.push_back(helpOf(row));
    return t;
  }();
  for (size_t i = 0; i < texts.size(); ++i) {
    if (command == kCommands[i].name) return texts[i].c_str();
  }
  return nullptr;
}

std::vector<OptionInfo> optionTable() {
  std::vector<OptionInfo> table;
  for (const OptionRow& row : kOptions) {
    OptionInfo info;
    for (const char* name : {row.shortName, row.longName}) {
      if (name) info.names.push_back(name);
    }
    info.takesValue = row.value != Value::None;
    for (const CommandRow& command : kCommands) {
      if (row.commands & bitOf(command.command)) info.commands.push_back(command.name);
    }
    table.push_back(info);
  }
  return table;
}

std::vector<std::string> commandNames() {
  std::vector<std::string> names;
  for (const CommandRow& row : kCommands) names.push_back(row.name);
  return names;
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

bool parseFps(const std::string& text, int* numerator, int* denominator, std::string* error) {
  // A fraction N/D, or a number with at most three decimals (as N * 1000 / 1000).
  long long num = 0, den = 1;
  size_t slash = text.find('/');
  bool ok = !text.empty() && text.find_first_not_of("0123456789./") == std::string::npos;
  if (ok && slash != std::string::npos) {
    std::string a = text.substr(0, slash), b = text.substr(slash + 1);
    ok = !a.empty() && !b.empty() && a.size() <= 9 && b.size() <= 9 &&
         (a + b).find_first_not_of("0123456789") == std::string::npos;
    if (ok) num = atoll(a.c_str()), den = atoll(b.c_str());
  } else if (ok) {
    size_t dot = text.find('.');
    std::string whole = text.substr(0, dot), part = dot == std::string::npos ? "" : text.substr(dot + 1);
    ok = whole.size() <= 6 && part.size() <= 3 && !(whole.empty() && part.empty()) &&
         (whole + part).find_first_not_of("0123456789") == std::string::npos;
    if (ok) {
      num = atoll(whole.c_str());
      for (char c : part) num = num * 10 + (c - '0'), den *= 10;
    }
  }
  if (!ok || den == 0) {
    *error = "--fps " + text + ": expected frames a second, as 30, 29.97 or 30000/1001";
    return false;
  }
  if (num < den || num > 240 * den) {
    *error = "--fps " + text + ": from 1 to 240 frames a second";
    return false;
  }
  const long long common = std::gcd(num, den);  // to lowest terms
  *numerator = (int)(num / common);
  *denominator = (int)(den / common);
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
  if (total > MAX_SECONDS) {
    *error = "'" + text + "': longer than 100 hours, the longest time taken";
    return false;
  }
  *seconds = total;
  return true;
}

namespace {
// The command word. Returns 1 to go on with the options, 0 for a command line that is
// complete (--version, help), -1 with *error set.
int parseCommandWord(int argc, char** argv, Options* o, std::string* error) {
  const std::string command = argv[1];
  if (command == "--version" || command == "-V") {
    o->command = Command::Version;
    return argc == 2 ? 0 : (*error = "--version takes nothing more", -1);
  }
  const CommandRow* row = commandRow(command);
  if (row && row->command != Command::Help) {
    o->command = row->command;
  } else if (command == "help" || command == "--help" || command == "-h") {
    o->command = Command::Help;
    if (argc > 2) o->helpTopic = argv[2];
    if (argc > 3 || (argc == 3 && !helpText(o->helpTopic))) {
      *error = "help: no command '" + std::string(argv[argc - 1]) +
               "' (render, play, list, devices, tune)";
      return -1;
    }
    return 0;
  } else {
    *error = "unknown command '" + command + "' (render, play, list, devices or tune)";
    return -1;
  }
  return 1;
}

// The options of the command line after the command word, one at a time.
class OptionParser {
 public:
  OptionParser(int argc, char** argv, Options* o, std::string* error)
      : argc_(argc), argv_(argv), o_(o), error_(error) {}
  // Returns false on a bad option (*error set) or on --help (o->command is Help).
  bool parseAll();
  // The first option marked `refused` that was given, as it was written, and its row.
  const std::string& refusable() const { return refusable_; }
  const OptionRow* refusableRow() const { return refusableRow_; }

 private:
  bool parseOne(const std::string& arg);
  bool fail(const std::string& text) { return *error_ = text, false; }
  bool positional(const std::string& arg);

  int argc_;
  char** argv_;
  Options* o_;
  std::string* error_;
  int i_ = 2;
  std::string refusable_;
  const OptionRow* refusableRow_ = nullptr;
  bool endOfOptions_ = false;          // "--" was seen
  std::unique_ptr<std::string> inline_;  // the value of "--name=value", until taken
};

bool OptionParser::parseAll() {
  for (i_ = 2; i_ < argc_; ++i_) {
    std::string arg = argv_[i_];
    // After "--" every word is an input, even one that starts with '-'.
    if (endOfOptions_) {
      if (!positional(arg)) return false;
      continue;
    }
    if (arg == "--") {
      endOfOptions_ = true;
      continue;
    }
    // "--name=value" is "--name value"; an option that takes no value refuses one.
    inline_.reset();
    size_t equals = arg.find('=');
    if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
      inline_.reset(new std::string(arg.substr(equals + 1)));
      arg.erase(equals);
    }
    if (!parseOne(arg)) return false;
    if (o_->command == Command::Help) return false;
    if (inline_) return fail(arg + " takes no value (" + arg + "=" + *inline_ + ")");
  }
  return true;
}

// One option (its inline value, if any, waiting in inline_).
bool OptionParser::parseOne(const std::string& arg) {
  const OptionRow* row = optionRow(arg);
  if (!row) return positional(arg);
  if (row->refused && !refusableRow_) refusable_ = arg, refusableRow_ = row;
  std::string value;
  bool given = false;
  if (inline_ && row->value != Value::None) {
    value = *inline_, given = true;
    inline_.reset();
  } else if (row->value == Value::Required) {
    if (i_ + 1 >= argc_)
      return fail(std::string(row->shortName ? row->shortName : row->longName) + ": needs a value");
    value = argv_[++i_], given = true;
  } else if (row->value == Value::Optional && i_ + 1 < argc_ && argv_[i_ + 1][0] != '-') {
    value = argv_[++i_], given = true;
  }
  return row->apply(row->longName ? row->longName : row->shortName, given ? &value : nullptr, o_,
                    error_);
}

// AUDIO (several for render), or tune's OUT.wav.
bool OptionParser::positional(const std::string& arg) {
  if (!endOfOptions_ && !arg.empty() && arg[0] == '-' && arg != "-")
    return fail("unknown option " + arg + " (a file named so goes after --)");
  if (o_->command == Command::Tune && o_->output.empty()) {
    o_->output = arg;
  } else if (o_->command == Command::Render || o_->command == Command::Play ||
             (o_->command != Command::Tune && o_->audio.empty())) {
    o_->inputs.push_back(arg);
    o_->audio = o_->inputs[0];
  } else {
    return fail("unexpected argument '" + arg + "'");
  }
  return true;
}

bool endsWith(const std::string& text, const char* end) {
  size_t n = strlen(end);
  return text.size() > n && strcasecmp(text.c_str() + text.size() - n, end) == 0;
}

// What each command needs, once every option is read.
bool checkCommand(const Options* o, bool haveAt, std::string* error) {
  VideoFormat format;
  VideoEncoding encoding;
  if (o->strict && o->command != Command::Render && o->command != Command::Play)
    return *error = "--strict is only for render and play", false;
  switch (o->command) {
    case Command::Render:
      if (o->module.empty()) return *error = "render: -m MODULE is required", false;
      if (o->output.empty()) return *error = "render: -o OUT is required", false;
      if (o->capture) return *error = "render: --capture is only for play", false;
      if (haveAt && !endsWith(o->output, ".png"))
        return *error = "--at is only for a .png output", false;
      if (!o->encoding.audioCopy && videoFormatFor(o->output, &format) &&
          !resolveEncoding(format, o->encoding, "", &encoding, error))
        return false;
      if (o->inputs.size() > 1 && o->output.back() != '/') {
        struct stat info;
        if (stat(o->output.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
          return *error = "render: several inputs (" + o->inputs[1] +
                          " and more) need -o FOLDER/, not " + o->output, false;
      }
      break;
    case Command::Play:
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
      // The tune is made whole in memory before it is written.
      if (o->duration > DEMO_TUNE_MAX_SECONDS)
        return *error = "tune: --duration: the demo tune is at most " +
                        std::to_string((int)DEMO_TUNE_MAX_SECONDS) + " s long", false;
      break;
    default:
      break;
  }
  return true;
}
}  // namespace

bool parseCommandLine(int argc, char** argv, Options* o, std::string* error) {
  if (argc < 2) {
    *error = "no command given (render, play, list, devices or tune; --help for more)";
    return false;
  }
  int go = parseCommandWord(argc, argv, o, error);
  if (go <= 0) return go == 0;
  OptionParser options(argc, argv, o, error);
  if (!options.parseAll()) return o->command == Command::Help;
  // The first option given that other commands refuse decides, even when a later one
  // is refused too.
  const OptionRow* refused = options.refusableRow();
  if (refused && !(refused->commands & bitOf(o->command))) {
    *error = std::string(argv[1]) + ": " + options.refusable() + " is only for render";
    return false;
  }
  // --at is given when a time is set: times are never negative.
  return checkCommand(o, o->at >= 0, error);
}
