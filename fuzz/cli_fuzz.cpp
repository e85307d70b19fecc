// Fuzz target: the command line of orlimvis (parseCommandLine, parseTime, parseSize).
// The input is the argument list, arguments separated by NUL bytes, after the program's
// name. Checked besides the sanitizers: a refused line has a reason, printed as one
// line; an accepted one holds only values the commands can take (sizes 1 to 8192 on
// both sides or neither, times finite and within the longest taken, a duration above
// 0, a scale and a frame rate in range, what each command requires present and what it
// forbids absent); every time and size the parsers accept on their own is in range.
// Inputs: any bytes; seeds from cli_seeds.cpp (command lines of every command).
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <strings.h>

#include <string>
#include <vector>

#include "cli.h"

namespace {

constexpr size_t kMaxArguments = 64;
constexpr double kLongest = 100 * 3600.0;

void check(bool condition, const char* what, const std::string& detail) {
  if (condition) return;
  fprintf(stderr, "fuzz check failed: %s: %s\n", what, detail.c_str());
  abort();
}

bool time(double t) { return isfinite(t) && t >= 0 && t <= kLongest; }

void checkOptions(const Options& o) {
  check(o.command != Command::None, "a command", "");
  if (o.command == Command::Help) return;
  check((o.width == 0 && o.height == 0) ||
            (o.width >= 1 && o.width <= 8192 && o.height >= 1 && o.height <= 8192),
        "size", std::to_string(o.width) + "x" + std::to_string(o.height));
  check(time(o.from), "--from", std::to_string(o.from));
  check(o.duration == -1 || (o.duration > 0 && time(o.duration)), "--duration",
        std::to_string(o.duration));
  check(o.at == -1 || time(o.at), "--at", std::to_string(o.at));
  check(o.scale == SCALE_AUTO || (o.scale >= 1 && o.scale <= SCALE_MAX), "--scale",
        std::to_string(o.scale));
  // No --fps, or 1 to 240 frames a second as a fraction in lowest terms.
  check(o.fpsNumerator == 0 ||
            (o.fpsDenominator >= 1 && o.fpsNumerator >= o.fpsDenominator &&
             (long long)o.fpsNumerator <= 240LL * o.fpsDenominator),
        "--fps", std::to_string(o.fpsNumerator) + "/" + std::to_string(o.fpsDenominator));
  check(o.verbosity >= 0 && o.verbosity <= 2, "-q/-v", std::to_string(o.verbosity));
  switch (o.command) {
    case Command::Render:
      check(!o.module.empty() && !o.output.empty() && !o.capture, "render's options", o.output);
      break;
    case Command::Play:
      // No -m is allowed: play starts with the module last played.
      check(o.output.empty() && o.at == -1, "play's options", o.output);
      check(!(o.capture && !o.audio.empty()), "play: file or capture", o.audio);
      break;
    case Command::Tune:
      check(o.output.size() >= 5 && strcasecmp(o.output.c_str() + o.output.size() - 4, ".wav") == 0,
            "tune writes .wav", o.output);
      check(o.duration <= 600, "tune's length", std::to_string(o.duration));
      break;
    case Command::List:
    case Command::Devices:
      check(o.audio.empty(), "no argument", o.audio);
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words(1, "orlimvis");
  std::string word;
  for (size_t i = 0; i <= size && words.size() <= kMaxArguments; ++i) {
    if (i == size || data[i] == 0) {
      if (i < size || !word.empty()) words.push_back(word);
      word.clear();
    } else {
      word.push_back((char)data[i]);
    }
  }
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);

  Options options;
  std::string error;
  if (parseCommandLine((int)words.size(), argv.data(), &options, &error)) {
    checkOptions(options);
  } else {
    check(!error.empty(), "a reason", words.size() > 1 ? words[1] : "");
    const std::string line = oneLine(error);
    check(line.size() == error.size() && line.find('\n') == std::string::npos, "one line", line);
  }
  for (size_t i = 1; i < words.size(); ++i) {
    double seconds = -1;
    std::string why;
    if (parseTime(words[i], &seconds, &why)) check(time(seconds), "parseTime", words[i]);
    else check(!why.empty(), "parseTime's reason", words[i]);
    int w = 0, h = 0;
    if (parseSize(words[i], &w, &h, &why)) {
      check(w >= 1 && w <= 8192 && h >= 1 && h <= 8192, "parseSize", words[i]);
    }
  }
  return 0;
}
