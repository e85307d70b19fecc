// The command line of orlimvis: the commands, their options and the checks on values
// that need nothing but the text (sizes, times, seeds). Checks that need the world (does
// the file decode, does the module exist) happen where that is known.
#pragma once

#include <string>
#include <vector>

#include "base/text.h"            // oneLine: how a refused line's reason is printed
#include "output/encoding.h"      // EncodingChoice, filled from --codec, --crf and the like
#include "output/scale_choice.h"  // ScaleFilter, SCALE_AUTO, for --scale and --scale-filter
#include "spectrum/analyser.h"    // SpectrumOptions, filled from --bands and --sensitivity

enum class Command { None, Help, Version, List, Render, Play, Tune, Devices };

struct Options {
  Command command = Command::None;
  std::string audio;         // empty: the built-in demo tune
  std::string module;        // -m
  std::string output;        // -o
  std::string plugin;        // --plugin; empty: vis_orlim.so beside the program
  int width = 0, height = 0; // --size; 0: the plug-in's own 640 x 480
  bool seeded = false;
  unsigned long seed = 0;    // --seed
  double from = 0;           // --from, seconds
  double duration = -1;      // --duration, seconds; < 0: to the end
  double at = -1;            // --at, seconds; < 0: the default snapshot time
  bool capture = false;      // --capture
  std::string captureDevice; // --capture NAME: a name from `orlimvis devices`
  std::vector<std::string> inputs;  // every AUDIO given; render takes several, audio is the first
  bool overwrite = false;    // -y replaces existing outputs; -n (the default) refuses them
  EncodingChoice encoding;   // --codec, --crf, --preset, --audio-bitrate, --audio copy
  std::string helpTopic;     // help COMMAND, COMMAND --help; empty: the general help
  SpectrumOptions spectrum;  // --bands, --levels, --sensitivity (render and play)
  bool strict = false;       // --strict: damaged audio fails the run instead of a warning
  int scale = SCALE_AUTO;    // --scale N|auto: the plug-in draws at the size / N
  ScaleFilter scaleFilter = ScaleFilter::Nearest;  // --scale-filter
  int fpsNumerator = 0, fpsDenominator = 1;  // --fps; 0: the module's own rate
  std::string format;        // --format: the container of videos made in a folder
  int verbosity = 1;         // -q 0, -v 2
};

// Exit statuses: a command that failed, and a command line that cannot be used (also
// when that is found only later, as a module name the plug-in does not have).
enum { EXIT_FAILED = 1, EXIT_USAGE = 2 };

// Parses argv; on failure returns false with a one-line reason in *error. Options take
// their value as "--name value" or "--name=value"; after "--" every word is an input.
bool parseCommandLine(int argc, char** argv, Options* options, std::string* error);

// "640x480" -> 640, 480. Each side 1..8192.
bool parseSize(const std::string& text, int* width, int* height, std::string* error);
// "30", "29.97", "30000/1001" -> a frame rate as a fraction, from 1 to 240 a second.
bool parseFps(const std::string& text, int* numerator, int* denominator, std::string* error);
// "90", "12.5", "1:30", "1:02:03.25", "7s" -> seconds (>= 0).
bool parseTime(const std::string& text, double* seconds, std::string* error);

// The general help: every command's synopsis.
const char* usageText();
// One command's help with its options, or null for a name that is no command.
const char* helpText(const std::string& command);
// "orlimvis 1.0.0"
const char* versionText();

// The options as the one table in cli.cpp has them, which drives the parser and the
// help; the tests hold the bash completion and the manual page to it.
struct OptionInfo {
  std::vector<std::string> names;     // "-m", "--module"
  bool takesValue = false;            // always, or when one follows (--capture [NAME])
  std::vector<std::string> commands;  // the commands that take it
};
std::vector<OptionInfo> optionTable();
// The command words, as the general help lists them.
std::vector<std::string> commandNames();
