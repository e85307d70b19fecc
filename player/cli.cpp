#include "cli.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

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
// Every command's help in one table: the general help lists the synopses, `help
// COMMAND` and `COMMAND --help` print the whole row. The manual page says the same at
// more length; a change here belongs there too.
struct CommandHelp {
  const char* name;
  const char* text;
};

// The spectrum's options, which render and play share.
#define SPECTRUM_OPTIONS_HELP                                                              \
  "  --bands classic|log  the spectrum's layout: classic (default), bands evenly spaced\n"  \
  "                       up to 22 kHz, the one the effects were made for; log, bands\n"    \
  "                       spaced logarithmically from 45 Hz to 16 kHz\n"                    \
  "  --levels db|linear   the classic layout's level scale: db (default), each band in dB\n" \
  "                       above its own recent average, so that every band follows its\n"  \
  "                       own music; linear, proportional to magnitude (band 0 always)\n"   \
  "  --sensitivity auto|N the spectrum's gain: auto (default) follows the recording's\n"    \
  "                       loudness over seconds; N is fixed, 0.01 to 10000 (at 1 a\n"       \
  "                       full-scale sine reads 255, at 10 a sine ten times quieter does)\n"

// How the drawing is scaled up, which render and play share.
#define SCALE_OPTIONS_HELP                                                                 \
  "  --scale N|auto       the plug-in draws at the size divided by N and the picture is\n"  \
  "                       scaled up; auto (default) keeps the look of 640x480: the largest\n"\
  "                       N that leaves the drawing's shorter side 480 or more (1 up to\n"   \
  "                       1280x720, 2 for 1920x1080, 4 for 3840x2160); 1 to 32\n"           \
  "  --scale-filter nearest|smooth  nearest (default) makes each drawn pixel a block;\n"   \
  "                       smooth interpolates\n"

const CommandHelp kHelp[] = {
    {"render",
     "usage: orlimvis render [AUDIO...] -m MODULE -o OUT [options]\n"
     "Renders the effect for AUDIO (the built-in demo tune when none), headless and as fast\n"
     "as it can, one frame per interval the module asks for (25 ms for most).\n"
     "  -m, --module MODULE  a name from `orlimvis list` or its index\n"
     "  -o, --output OUT     a video: .mp4 .mkv .webm .gif (through ffmpeg), or - (Matroska\n"
     "                       on standard output); .png (one frame, see --at); frames by a\n"
     "                       pattern, as frames/%06d.png (numbered from 1); a folder (ending\n"
     "                       in / or existing): FOLDER/<name>.mp4 for each AUDIO;\n"
     "                       /dev/null (frames made and discarded)\n"
     "  --format F           the container of videos made in a folder: mp4 (default), mkv,\n"
     "                       webm, gif\n"
     "  -y                   replace existing outputs (frames of the pattern too)\n"
     "  -n                   never replace them (the default)\n"
     "  --size WxH           frame size (default 640x480)\n"
     SCALE_OPTIONS_HELP
     "  --fps R              video frame rate (30, 29.97, 30000/1001; 1 to 240): frames are\n"
     "                       repeated or dropped on the module's clock (default: the\n"
     "                       module's own rate, 40 for 25 ms)\n"
     "  --seed N             pin the plug-in's clock: the same pictures on every run\n"
     "  --from T             start T into the audio\n"
     "  --duration T         render T of audio (default: to the end)\n"
     "  --at T               the time of a .png snapshot (default 5 s in)\n"
     SPECTRUM_OPTIONS_HELP
     "  --codec C            video codec: h264 (default for .mp4, .mkv), hevc, vp9 (default\n"
     "                       for .webm), av1\n"
     "  --crf N              constant quality, lower is better (defaults: h264 20, hevc 24,\n"
     "                       vp9 32, av1 35)\n"
     "  --preset P           speed against size: h264/hevc ultrafast..veryslow (veryfast),\n"
     "                       vp9 realtime|good|best (realtime), av1 0..13 (10)\n"
     "  --audio-bitrate B    audio bit rate in kbit/s (192k AAC; 128k Opus for .webm)\n"
     "  --audio copy         keep the source's audio stream as it is, where the container\n"
     "                       holds its codec (.mkv holds nearly all)\n"
     "  --strict             fail on damaged audio and keep nothing (default: skip it with\n"
     "                       a warning naming the place, and keep what decodes)\n"
     "  --plugin PATH        the plug-in to host (default: the one installed with orlimvis)\n"
     "  -q, --quiet          errors only\n"
     "  -v, --verbose        say what is rendered, and log progress every second\n"
     "AUDIO: a file, - (standard input), a folder (its audio files, sorted) or an .m3u\n"
     "playlist. T: seconds (12.5) or [h:]m:s (1:30). Options take --name=value too; after\n"
     "-- every word is AUDIO. Progress: on a terminal a line redrawn in place; otherwise a\n"
     "line every 5 s; then a line saying what was written.\n"},
    {"play",
     "usage: orlimvis play [AUDIO...] [-m MODULE] [options]\n"
     "Shows the effect in a window while the audio plays, one AUDIO after another.\n"
     "  -m, --module MODULE  a name from `orlimvis list` or its index (default: the\n"
     "                       module last played, else the first)\n"
     "  --capture [NAME]     visualise a sound server input instead of a file, NAME from\n"
     "                       `orlimvis devices` (default: what the default output is\n"
     "                       playing, where the sound server can)\n"
     "  --size WxH           window size (default 640x480)\n"
     SCALE_OPTIONS_HELP
     "                       (the rule follows resizes and full screen)\n"
     "  --seed N             pin the plug-in's clock\n"
     "  --from T             start T into the audio (the first of a list)\n"
     SPECTRUM_OPTIONS_HELP
     "  --strict             stop on damaged audio (default: skip it with a warning)\n"
     "  --plugin PATH        the plug-in to host\n"
     "AUDIO: files, - (standard input), folders, .m3u playlists.\n"
     "Keys: 1-4 module, F full screen (no cursor), S full-size drawing on/off, Space pause,\n"
     "Left/Right seek 5 s, Up/Down volume 5% (a file or the tune), M mute, N/P next or\n"
     "previous AUDIO, Esc or Q quit. The title shows the module, the track and where it is\n"
     "(or the input's name), and paused, muted or the volume.\n"
     "If the sound server goes away, play says so once (and in the title), draws on\n"
     "without sound and takes up the sound again when the server is back.\n"},
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
                                   "--audio-bitrate", "--audio", "--fps", "--format",
                                   "-q", "--quiet", "-v", "--verbose"};
}  // namespace

const char* usageText() {
  return "usage: orlimvis COMMAND [options]\n"
         "  orlimvis render [AUDIO...] -m MODULE -o OUT   render to a video, PNG or frames\n"
         "  orlimvis play [AUDIO...] [-m MODULE]          show it in a window\n"
         "  orlimvis list                                 the plug-in's modules\n"
         "  orlimvis devices                              the inputs --capture takes\n"
         "  orlimvis tune OUT.wav                         write the built-in demo tune\n"
         "  orlimvis help COMMAND                         a command's options\n"
         "  orlimvis --version\n"
         "AUDIO: any file FFmpeg reads (MP3, AAC/M4A, Opus, Vorbis, FLAC, WAV, a video's\n"
         "sound...), - for standard input, a folder, an .m3u playlist.\n"
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
bool takeValue(int argc, char** argv, int* i, const char* name, std::string* value,
               std::string* error) {
  if (*i + 1 >= argc) {
    *error = std::string(name) + ": needs a value";
    return false;
  }
  *value = argv[++*i];
  return true;
}

// --bands classic|log, --levels db|linear, --sensitivity auto|N.
bool parseSpectrumOption(const std::string& name, const std::string& value,
                         SpectrumOptions* spectrum, std::string* error) {
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
  if (value.empty() || *end != '\0' || !(gain >= SPECTRUM_SENSITIVITY_MIN &&
                                          gain <= SPECTRUM_SENSITIVITY_MAX)) {
    *error = "--sensitivity " + value + ": expected auto or a number from 0.01 to 10000";
    return false;
  }
  spectrum->sensitivity = gain;
  return true;
}

// The command word. Returns 1 to go on with the options, 0 for a command line that is
// complete (--version, help), -1 with *error set.
int parseCommandWord(int argc, char** argv, Options* o, std::string* error) {
  const std::string command = argv[1];
  if (command == "--version" || command == "-V") {
    o->command = Command::Version;
    return argc == 2 ? 0 : (*error = "--version takes nothing more", -1);
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
  bool sawAt() const { return haveAt_; }
  const std::string& renderOnly() const { return renderOnly_; }

 private:
  bool valueOf(const std::string& name) {
    if (inline_) {
      value_ = *inline_;
      inline_.reset();
      return true;
    }
    return takeValue(argc_, argv_, &i_, name.c_str(), &value_, error_);
  }
  bool parseOne(const std::string& arg);
  bool fail(const std::string& text) { return *error_ = text, false; }
  bool encodingOption(const std::string& arg, bool* known);
  bool pictureOption(const std::string& arg, bool* known);
  bool timeOption(const std::string& arg);
  bool seedOption();
  bool positional(const std::string& arg);

  int argc_;
  char** argv_;
  Options* o_;
  std::string* error_;
  int i_ = 2;
  std::string value_;
  bool haveAt_ = false;
  std::string renderOnly_;  // the first render-only option seen
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
  for (const char* name : kRenderOnly) {
    if (arg == name && renderOnly_.empty()) renderOnly_ = name;
  }
  bool known = true;
  if (arg == "-h" || arg == "--help") {
    o_->helpTopic = argv_[1];
    o_->command = Command::Help;
    return true;
  }
  if (!encodingOption(arg, &known) || (!known && !pictureOption(arg, &known))) return false;
  if (known) return true;
  if (arg == "-m" || arg == "--module") {
    if (!valueOf("-m")) return false;
    o_->module = value_;
  } else if (arg == "-o" || arg == "--output") {
    if (!valueOf("-o")) return false;
    o_->output = value_;
  } else if (arg == "--plugin") {
    if (!valueOf("--plugin")) return false;
    o_->plugin = value_;
  } else if (arg == "--size") {
    if (!valueOf("--size") || !parseSize(value_, &o_->width, &o_->height, error_)) return false;
  } else if (arg == "--seed") {
    if (!seedOption()) return false;
  } else if (arg == "--from" || arg == "--duration" || arg == "--at") {
    if (!timeOption(arg)) return false;
  } else if (arg == "--bands" || arg == "--levels" || arg == "--sensitivity") {
    if (!valueOf(arg) || !parseSpectrumOption(arg, value_, &o_->spectrum, error_)) return false;
  } else if (arg == "--capture") {
    o_->capture = true;
    if (inline_) {
      o_->captureDevice = *inline_;
      inline_.reset();
    } else if (i_ + 1 < argc_ && argv_[i_ + 1][0] != '-') {
      o_->captureDevice = argv_[++i_];
    }
  } else if (arg == "--strict") {
    o_->strict = true;
  } else if (!positional(arg)) {
    return false;
  }
  return true;
}

// -y, -n and the encoding choices; *known says whether arg was one of them.
bool OptionParser::encodingOption(const std::string& arg, bool* known) {
  *known = true;
  EncodingChoice& e = o_->encoding;
  if (arg == "-y" || arg == "-n") {
    o_->overwrite = arg == "-y";
  } else if (arg == "--codec" || arg == "--preset") {
    if (!valueOf(arg)) return false;
    (arg == "--codec" ? e.codec : e.preset) = value_;
  } else if (arg == "--crf") {
    if (!valueOf("--crf")) return false;
    char* end = nullptr;
    long crf = strtol(value_.c_str(), &end, 10);
    if (value_.empty() || *end != '\0' || crf < 0 || crf > 63)
      return fail("--crf " + value_ + ": expected a whole number from 0 to 63");
    e.crf = (int)crf;
  } else if (arg == "--audio-bitrate") {
    return valueOf("--audio-bitrate") && parseAudioBitrate(value_, &e.audioBitrate, error_);
  } else if (arg == "--audio") {
    if (!valueOf("--audio")) return false;
    if (value_ != "copy" && value_ != "encode")
      return fail("--audio " + value_ + ": expected copy or encode");
    e.audioCopy = value_ == "copy";
  } else {
    *known = false;
  }
  return true;
}

// --scale, --scale-filter, --fps, --format, -q and -v: what the picture and the report
// look like; *known says whether arg was one of them.
bool OptionParser::pictureOption(const std::string& arg, bool* known) {
  *known = true;
  if (arg == "--scale") {
    if (!valueOf(arg)) return false;
    if (value_ == "auto") return o_->scale = SCALE_AUTO, true;
    char* end = nullptr;
    long n = strtol(value_.c_str(), &end, 10);
    if (value_.empty() || *end != '\0' || value_[0] == '+' || n < 1 || n > SCALE_MAX)
      return fail("--scale " + value_ + ": expected auto or a whole number from 1 to " +
                  std::to_string(SCALE_MAX));
    o_->scale = (int)n;
  } else if (arg == "--scale-filter") {
    if (!valueOf(arg)) return false;
    if (value_ == "nearest") o_->scaleFilter = ScaleFilter::Nearest;
    else if (value_ == "smooth") o_->scaleFilter = ScaleFilter::Smooth;
    else return fail("--scale-filter " + value_ + ": expected nearest or smooth");
  } else if (arg == "--fps") {
    return valueOf(arg) && parseFps(value_, &o_->fpsNumerator, &o_->fpsDenominator, error_);
  } else if (arg == "--format") {
    if (!valueOf(arg)) return false;
    VideoFormat format;
    if (value_.find('.') != std::string::npos || !videoFormatFor("." + value_, &format))
      return fail("--format " + value_ + ": expected mp4, mkv, webm or gif");
    o_->format = value_;
  } else if (arg == "-q" || arg == "--quiet") {
    o_->verbosity = 0;
  } else if (arg == "-v" || arg == "--verbose") {
    o_->verbosity = 2;
  } else {
    *known = false;
  }
  return true;
}

bool OptionParser::timeOption(const std::string& arg) {
  if (!valueOf(arg)) return false;
  double seconds;
  if (!parseTime(value_, &seconds, error_)) return fail(arg + " " + *error_);
  if (arg == "--from") {
    o_->from = seconds;
  } else if (arg == "--at") {
    o_->at = seconds;
    haveAt_ = true;
  } else {
    if (seconds <= 0) return fail("--duration " + value_ + ": must be longer than 0");
    o_->duration = seconds;
  }
  return true;
}

bool OptionParser::seedOption() {
  if (!valueOf("--seed")) return false;
  char* end = nullptr;
  errno = 0;
  unsigned long seed = strtoul(value_.c_str(), &end, 10);
  if (value_.empty() || *end != '\0' || value_[0] == '-' || errno != 0)
    return fail("--seed " + value_ + ": expected a whole number, 0 or more");
  o_->seeded = true;
  o_->seed = seed;
  return true;
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
  const std::string& renderOnly = options.renderOnly();
  if (!renderOnly.empty() && o->command != Command::Render &&
      !(o->command == Command::Tune && (renderOnly == "-y" || renderOnly == "-n"))) {
    *error = std::string(argv[1]) + ": " + renderOnly + " is only for render";
    return false;
  }
  return checkCommand(o, options.sawAt(), error);
}
