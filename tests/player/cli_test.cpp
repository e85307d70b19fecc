// The command line: values that are checked from their text alone, and the bash
// completion and the manual page held to the table of options.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <vector>

#include "cli.h"

namespace {
bool parse(std::vector<const char*> args, Options* o, std::string* error) {
  args.insert(args.begin(), "orlimvis");
  return parseCommandLine((int)args.size(), const_cast<char**>(args.data()), o, error);
}

// The source tree, as the build's CMakeCache.txt in a folder above this program names it.
std::string sourceDir() {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  for (std::string dir(exe, n > 0 ? n : 0); !dir.empty();) {
    dir.erase(dir.rfind('/'));
    std::ifstream cache(dir + "/CMakeCache.txt");
    for (std::string line; std::getline(cache, line);) {
      if (line.rfind("CMAKE_HOME_DIRECTORY:INTERNAL=", 0) == 0) return line.substr(30);
    }
  }
  return "";
}

std::vector<std::string> linesOf(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The words of text, split at spaces and at any of `more`.
std::set<std::string> wordsOf(std::string text, const std::string& more = "") {
  for (char& c : text) {
    if (more.find(c) != std::string::npos) c = ' ';
  }
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

std::string joined(const std::set<std::string>& words) {
  std::string text;
  for (const std::string& w : words) text += (text.empty() ? "" : " ") + w;
  return text;
}

// Each key on which a file disagrees with the table: missing, extra, or different.
void expectSame(const std::map<std::string, std::string>& table,
                const std::map<std::string, std::string>& file, const std::string& what) {
  for (const auto& [key, value] : table) {
    auto found = file.find(key);
    if (found == file.end()) ADD_FAILURE() << what << ": no " << key << " (" << value << ")";
    else EXPECT_EQ(found->second, value) << what << ": " << key;
  }
  for (const auto& [key, value] : file) {
    if (!table.count(key)) ADD_FAILURE() << what << ": " << key << " is not in the table";
  }
}
}  // namespace

TEST(Cli, Sizes) {
  const struct { const char* text; bool ok; int w, h; } cases[] = {
      {"640x480", true, 640, 480},
      {"1x1", true, 1, 1},
      {"8192x8192", true, 8192, 8192},  // the largest side allowed
      {"320X200", true, 320, 200},
      {"0x0", false, 0, 0},             // empty
      {"0x480", false, 0, 0},
      {"8193x100", false, 0, 0},        // larger than 8192 on a side
      {"100x9000", false, 0, 0},
      {"abc", false, 0, 0},
      {"640", false, 0, 0},
      {"640x", false, 0, 0},
      {"x480", false, 0, 0},
      {"-640x480", false, 0, 0},
      {"640x-480", false, 0, 0},
      {"640x480x2", false, 0, 0},
      {"99999999999999999999x1", false, 0, 0},  // overflow
  };
  for (const auto& c : cases) {
    int w = -1, h = -1;
    std::string error;
    EXPECT_EQ(parseSize(c.text, &w, &h, &error), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(w, c.w) << c.text;
      EXPECT_EQ(h, c.h) << c.text;
    } else {
      EXPECT_NE(error.find(c.text), std::string::npos) << error;
    }
  }
}

TEST(Cli, Times) {
  const struct { const char* text; bool ok; double seconds; } cases[] = {
      {"0", true, 0},        {"12.5", true, 12.5},    {"7s", true, 7},
      {"1:30", true, 90},    {"1:02:03.5", true, 3723.5}, {"0:59", true, 59},
      {"-1", false, 0},      {"abc", false, 0},       {"", false, 0},
      {"1:75", false, 0},    // seconds field of 60 or more
      {"1.5:00", false, 0},  // fractions only in the last field
      {"1:2:3:4", false, 0}, {"1:", false, 0},        {"nan", false, 0},
      {"inf", false, 0},     {"+3", false, 0},
      {"100:00:00", true, 360000},  // the longest time taken
      {"360000.5", false, 0},       // beyond it: refused, not overflowed into a frame count
      {"1e15", false, 0},
  };
  for (const auto& c : cases) {
    double s = -1;
    std::string error;
    EXPECT_EQ(parseTime(c.text, &s, &error), c.ok) << "'" << c.text << "'";
    if (c.ok) {
      EXPECT_DOUBLE_EQ(s, c.seconds) << c.text;
    }
  }
}

TEST(Cli, Commands) {
  Options o;
  std::string e;
  ASSERT_TRUE(parse({"render", "song.flac", "-m", "Pellox", "-o", "x.mp4", "--size", "320x240",
                     "--seed", "42", "--from", "1:00", "--duration", "10"},
                    &o, &e))
      << e;
  EXPECT_EQ(o.command, Command::Render);
  EXPECT_EQ(o.audio, "song.flac");
  EXPECT_EQ(o.module, "Pellox");
  EXPECT_EQ(o.width, 320);
  EXPECT_TRUE(o.seeded);
  EXPECT_EQ(o.seed, 42u);
  EXPECT_DOUBLE_EQ(o.from, 60);
  EXPECT_DOUBLE_EQ(o.duration, 10);
  EXPECT_EQ(o.spectrum.layout, SpectrumLayout::Classic);  // the defaults
  EXPECT_EQ(o.spectrum.sensitivity, 0);
  EXPECT_EQ(o.spectrum.levels, SpectrumLevels::Decibels);
  Options s;
  ASSERT_TRUE(parse({"render", "-m", "0", "-o", "x.png", "--bands", "log", "--sensitivity", "2.5",
                     "--levels", "linear"},
                    &s, &e)) << e;
  EXPECT_EQ(s.spectrum.levels, SpectrumLevels::Linear);
  EXPECT_EQ(s.spectrum.layout, SpectrumLayout::Log);
  EXPECT_DOUBLE_EQ(s.spectrum.sensitivity, 2.5);
  Options t;
  ASSERT_TRUE(parse({"play", "-m", "0", "--sensitivity", "3", "--sensitivity", "auto", "--levels",
                     "linear", "--levels", "db"}, &t, &e));
  EXPECT_EQ(t.spectrum.sensitivity, 0);
  EXPECT_EQ(t.spectrum.levels, SpectrumLevels::Decibels);

  Options p;
  ASSERT_TRUE(parse({"play", "-m", "1", "--capture", "Monitor of Speakers"}, &p, &e)) << e;
  EXPECT_TRUE(p.capture);
  EXPECT_EQ(p.captureDevice, "Monitor of Speakers");
  Options q;
  ASSERT_TRUE(parse({"play", "-m", "1", "--capture", "--size", "64x64"}, &q, &e)) << e;
  EXPECT_TRUE(q.capture);
  EXPECT_EQ(q.captureDevice, "");
  Options u;
  ASSERT_TRUE(parse({"tune", "t.wav", "--duration", "10:00"}, &u, &e)) << e;  // the longest

  // Each rejected line, with a word its message must name (null: the line is accepted).
  const struct { std::vector<const char*> args; const char* named; } bad[] = {
      {{}, "command"},
      {{"draw"}, "draw"},
      {{"render", "-o", "x.mp4"}, "-m"},
      {{"render", "-m", "Pellox"}, "-o"},
      {{"render", "-m", "Pellox", "-o"}, "-o"},
      {{"render", "-m", "P", "-o", "x.mp4", "--size", "0x0"}, "0x0"},
      {{"render", "-m", "P", "-o", "x.mp4", "--size", "abc"}, "abc"},
      {{"render", "-m", "P", "-o", "x.mp4", "--seed", "-3"}, "--seed"},
      {{"render", "-m", "P", "-o", "x.mp4", "--from", "soon"}, "--from"},
      {{"render", "-m", "P", "-o", "x.mp4", "--duration", "0"}, "--duration"},
      {{"render", "-m", "P", "-o", "x.mp4", "--bogus"}, "--bogus"},
      {{"render", "a.wav", "b.wav", "-m", "P", "-o", "x.mp4"}, "b.wav"},
      {{"play", "a.wav", "-m", "P", "--capture"}, "capture"},
      {{"play", "-m", "P", "-o", "x.mp4"}, "-o"},
      {{"render", "-m", "P", "-o", "x.mp4", "--bands", "linear"}, "linear"},
      {{"render", "-m", "P", "-o", "x.mp4", "--levels", "log"},
       "--levels log: expected db or linear"},
      {{"play", "-m", "P", "--levels"}, "--levels"},
      {{"render", "-m", "P", "-o", "x.mp4", "--sensitivity", "0"}, "--sensitivity"},
      {{"render", "-m", "P", "-o", "x.mp4", "--sensitivity", "loud"}, "loud"},
      {{"render", "-m", "P", "-o", "x.mp4", "--sensitivity", "1e9"}, "10000"},
      {{"list", "extra"}, "extra"},
      {{"devices", "extra"}, "devices: unexpected argument 'extra'"},
      {{"tune"}, "OUT.wav"},
      {{"tune", "tune.flac"}, "tune.flac"},
      {{"render", "-m", "P", "-o", "x.mp4", "--crf", "64"}, "--crf 64"},
      {{"render", "-m", "P", "-o", "x.mp4", "--crf", "high"}, "--crf high"},
      {{"render", "-m", "P", "-o", "x.mp4", "--audio-bitrate", "9000k"}, "--audio-bitrate 9000k"},
      {{"render", "-m", "P", "-o", "x.mp4", "--audio", "keep"}, "--audio keep"},
      {{"render", "a.wav", "b.wav", "-m", "P", "-o", "/nonexistent/"}, nullptr},  // a folder: allowed
      {{"play", "-m", "P", "--crf", "20"}, "--crf is only for render"},
      {{"list", "-y"}, "-y is only for render"},
      {{"help", "draw"}, "draw"},
      {{"--version", "extra"}, "--version"},
      // Made whole in memory: a bound with its reason, not bad_alloc or a spin.
      {{"tune", "t.wav", "--duration", "100000"}, "at most 600 s"},
      {{"tune", "t.wav", "--duration", "1e15"}, "--duration '1e15': longer than 100 hours"},
      {{"render", "-m", "P", "-o", "x.mp4", "--duration", "1e15"}, "100 hours"},
      {{"render", "-m", "P", "-o", "x.mp4", "--from", "400000"}, "--from"},
      // --name=value is checked as --name value; options without a value refuse one.
      {{"render", "-m", "P", "-o", "x.mp4", "--size=0x0"}, "0x0"},
      {{"render", "-m", "P", "-o", "x.mp4", "-y", "--strict=yes"}, "--strict takes no value"},
      {{"render", "-m", "P", "-o", "x.mp4", "--bogus=1"}, "--bogus"},
      {{"render", "-m", "P", "-o", "x.mp4", "-odd.flac"}, "after --"},  // says how to name it
      {{"list", "--strict"}, "--strict is only for render and play"},
      // Choices that the output's name alone rules out are usage errors, found here.
      {{"render", "-m", "P", "-o", "x.webm", "--codec", "h264"}, "--codec h264: WebM takes"},
      {{"render", "-m", "P", "-o", "x.gif", "--crf=3"}, "--crf: not for GIF"},
      {{"render", "-m", "P", "-o", "x.mp4", "--at", "3"}, "--at is only for a .png"},
      {{"render", "-m", "P", "-o", "x.png", "--at", "3"}, nullptr},
      {{"play"}, nullptr},  // no -m: the module last played
      {{"render", "-m", "P", "-o", "x.mp4", "--scale", "0"}, "--scale 0: expected auto or a whole number from 1 to 32"},
      {{"render", "-m", "P", "-o", "x.mp4", "--scale", "33"}, "--scale 33"},
      {{"render", "-m", "P", "-o", "x.mp4", "--scale", "2.5"}, "--scale 2.5"},
      {{"render", "-m", "P", "-o", "x.mp4", "--scale-filter", "cubic"}, "nearest or smooth"},
      {{"render", "-m", "P", "-o", "x.mp4", "--fps", "0"}, "--fps 0: from 1 to 240"},
      {{"render", "-m", "P", "-o", "x.mp4", "--fps", "240.001"}, "from 1 to 240"},
      {{"render", "-m", "P", "-o", "x.mp4", "--fps", "30/0"}, "--fps 30/0: expected frames a second"},
      {{"render", "-m", "P", "-o", "x.mp4", "--fps", "2.5.1"}, "--fps 2.5.1"},
      {{"render", "-m", "P", "-o", "x.mp4", "--fps", "29.9701"}, "--fps 29.9701"},  // three decimals at most
      {{"render", "-m", "P", "-o", "x/", "--format", "avi"}, "--format avi: expected mp4, mkv, webm or gif"},
      {{"render", "-m", "P", "-o", "x/", "--format", ".mp4"}, "--format .mp4"},
      {{"play", "-m", "P", "--fps", "30"}, "--fps is only for render"},
      {{"play", "-m", "P", "-q"}, "-q is only for render"},
  };
  for (const auto& c : bad) {
    Options r;
    std::string error;
    EXPECT_EQ(parse(c.args, &r, &error), c.named == nullptr) << (c.named ? c.named : "") << error;
    if (c.named) {
      EXPECT_NE(error.find(c.named), std::string::npos) << error;
    }
  }
}

TEST(Cli, NameEqualsValueAndDoubleDash) {
  Options o;
  std::string e;
  ASSERT_TRUE(parse({"render", "--module=Pellox", "--output=out/", "--from=5", "--size=320x240",
                     "--capture-not", "x"}, &o, &e) == false);  // an unknown --name stays unknown
  ASSERT_TRUE(parse({"render", "--module=Pellox", "--output=out/", "--from=5", "--size=320x240",
                     "--crf=18", "--sensitivity=auto", "--strict", "--", "-a.flac", "--b.ogg",
                     "-", "--"},
                    &o, &e))
      << e;
  EXPECT_EQ(o.module, "Pellox");
  EXPECT_EQ(o.output, "out/");
  EXPECT_EQ(o.from, 5);
  EXPECT_EQ(o.width, 320);
  EXPECT_EQ(o.encoding.crf, 18);
  EXPECT_TRUE(o.strict);
  // After "--" everything is an input, "--" itself too.
  EXPECT_EQ(o.inputs, (std::vector<std::string>{"-a.flac", "--b.ogg", "-", "--"}));
  Options p, captured;
  ASSERT_TRUE(parse({"play", "a.flac", "b.ogg", "--capture=Monitor=1"}, &captured, &e) == false);
  ASSERT_TRUE(parse({"play", "a.flac", "list.m3u", "--plugin=./my=plugin.so"}, &p, &e)) << e;
  EXPECT_EQ(p.inputs, (std::vector<std::string>{"a.flac", "list.m3u"}));  // several for play
  EXPECT_EQ(p.plugin, "./my=plugin.so");  // the first '=' splits
  EXPECT_EQ(p.module, "");
  Options q;
  ASSERT_TRUE(parse({"play", "-m", "1", "--capture=Monitor of Speakers"}, &q, &e)) << e;
  EXPECT_EQ(q.captureDevice, "Monitor of Speakers");
}

TEST(Cli, RenderChoicesSeveralInputsVersionAndHelp) {
  Options o;
  std::string e;
  ASSERT_TRUE(parse({"render", "a.flac", "b.ogg", "c.wav", "-m", "1", "-o", "out/", "-y", "--codec",
                     "hevc", "--crf", "18", "--preset", "slow", "--audio-bitrate", "256k"},
                    &o, &e))
      << e;
  EXPECT_EQ(o.inputs, (std::vector<std::string>{"a.flac", "b.ogg", "c.wav"}));
  EXPECT_EQ(o.audio, "a.flac");
  EXPECT_TRUE(o.overwrite);
  EXPECT_EQ(o.encoding.codec, "hevc");
  EXPECT_EQ(o.encoding.crf, 18);
  EXPECT_EQ(o.encoding.preset, "slow");
  EXPECT_EQ(o.encoding.audioBitrate, 256);
  // The picture and the report: --scale, its filter, --fps as a fraction in lowest terms,
  // --format, -q and -v (the last of each wins).
  const struct { std::vector<const char*> args; int scale; ScaleFilter filter; int num, den, verbosity; } looks[] = {
      {{}, SCALE_AUTO, ScaleFilter::Nearest, 0, 1, 1},  // the defaults
      {{"--scale", "3", "--scale-filter", "smooth"}, 3, ScaleFilter::Smooth, 0, 1, 1},
      {{"--scale", "3", "--scale", "auto", "-q"}, SCALE_AUTO, ScaleFilter::Nearest, 0, 1, 0},
      {{"--fps", "29.97", "-v"}, SCALE_AUTO, ScaleFilter::Nearest, 2997, 100, 2},
      {{"--fps", "30000/1001", "--quiet", "--verbose"}, SCALE_AUTO, ScaleFilter::Nearest, 30000, 1001, 2},
      {{"--fps", "60/2", "--scale", "32"}, 32, ScaleFilter::Nearest, 30, 1, 1},
      {{"--fps", "1", "--scale-filter", "nearest"}, SCALE_AUTO, ScaleFilter::Nearest, 1, 1, 1},
      {{"--fps", "23.976"}, SCALE_AUTO, ScaleFilter::Nearest, 2997, 125, 1},
  };
  for (const auto& l : looks) {
    std::vector<const char*> args = {"render", "-m", "1", "-o", "x.mp4"};
    args.insert(args.end(), l.args.begin(), l.args.end());
    Options p;
    ASSERT_TRUE(parse(args, &p, &e)) << e;
    EXPECT_EQ(p.scale, l.scale);
    EXPECT_EQ(p.scaleFilter, l.filter);
    EXPECT_EQ(p.fpsNumerator, l.num);
    EXPECT_EQ(p.fpsDenominator, l.den);
    EXPECT_EQ(p.verbosity, l.verbosity);
  }
  Options folder, live;
  ASSERT_TRUE(parse({"render", "-m", "1", "-o", "videos/", "--format", "webm"}, &folder, &e)) << e;
  EXPECT_EQ(folder.format, "webm");
  ASSERT_TRUE(parse({"play", "-m", "1", "--scale", "2", "--scale-filter", "smooth"}, &live, &e)) << e;
  EXPECT_EQ(live.scale, 2);
  EXPECT_EQ(live.scaleFilter, ScaleFilter::Smooth);

  Options copy;
  ASSERT_TRUE(parse({"render", "-m", "1", "-o", "x.mkv", "-y", "-n", "--audio", "copy"}, &copy, &e));
  EXPECT_FALSE(copy.overwrite);  // the last of -y and -n wins
  EXPECT_TRUE(copy.encoding.audioCopy);

  // --version; help for each command, from `help COMMAND` and `COMMAND --help` alike,
  // naming the options that command takes.
  Options v;
  ASSERT_TRUE(parse({"--version"}, &v, &e));
  EXPECT_EQ(v.command, Command::Version);
  EXPECT_EQ(std::string(versionText()).rfind("orlimvis ", 0), 0u);
  const struct { const char* command; std::vector<const char*> mentions; } helps[] = {
      {"render", {"-o", "-y", "--crf", "--preset", "--codec", "--audio-bitrate", "--audio copy", "--at",
                  "--bands", "--levels", "--sensitivity", "--scale", "--scale-filter", "--fps",
                  "--format", "%06d.png", "--quiet", "--verbose"}},
      {"play", {"--capture", "Space", "--bands", "--levels", "--sensitivity", "Up/Down volume", "M mute",
                "sound server goes away", "--scale", "--scale-filter", "S full-size"}},
      {"list", {"--plugin"}},
      {"tune", {"OUT.wav", "--duration"}},
  };
  for (const auto& h : helps) {
    Options a, b;
    ASSERT_TRUE(parse({"help", h.command}, &a, &e)) << e;
    ASSERT_TRUE(parse({h.command, "--help"}, &b, &e)) << e;
    EXPECT_EQ(a.command, Command::Help);
    EXPECT_EQ(b.command, Command::Help);
    EXPECT_EQ(a.helpTopic, h.command);
    EXPECT_EQ(b.helpTopic, h.command);
    const char* text = helpText(h.command);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text).find(std::string("usage: orlimvis ") + h.command), 0u) << text;
    for (const char* option : h.mentions)
      EXPECT_NE(std::string(text).find(option), std::string::npos) << h.command << " " << option;
  }
  EXPECT_EQ(helpText("draw"), nullptr);
}

// The bash completion and the manual page against the one table of options: each
// command's list of options in the completion, the options whose values it completes,
// and each entry of the manual's OPTIONS section with its note of the commands that
// take it ("(render, play)"). Neither may miss an option nor list one the table has not.
TEST(Cli, CompletionAndManualFollowTheTable) {
  const std::string root = sourceDir();
  ASSERT_FALSE(root.empty()) << "no CMakeCache.txt above the test program";
  std::map<std::string, std::string> byCommand, byOption, valued;
  for (const std::string& command : commandNames()) {
    std::set<std::string> names;
    for (const OptionInfo& o : optionTable()) {
      for (const std::string& c : o.commands) {
        if (c == command) names.insert(o.names.begin(), o.names.end());
      }
    }
    if (!names.empty()) byCommand[command] = joined(names);
  }
  for (const OptionInfo& o : optionTable()) {
    for (const std::string& name : o.names) {
      byOption[name] = joined({o.commands.begin(), o.commands.end()});
      if (o.takesValue) valued[name] = "takes a value";
    }
  }

  // The completion: `local commands=...`, the patterns of `case $prev in` (the options
  // whose values it completes) and the lists of `case $command in`.
  const std::vector<std::string> completion = linesOf(root + "/player/orlimvis.bash-completion");
  ASSERT_FALSE(completion.empty()) << root;
  std::map<std::string, std::string> listed, completed;
  std::string words, block;
  const std::regex caseLine(R"(case \$(\w+) in)"), commandsLine(R"(local commands="([^"]*)\")"),
      pattern(R"(^\s*(-[-a-z|]*)\))"), optionsLine(R"(^\s*(\w+)\) options="([^"]*)\")");
  std::smatch m;
  for (const std::string& line : completion) {
    if (std::regex_search(line, m, caseLine)) block = m[1];
    else if (std::regex_search(line, m, commandsLine)) words = joined(wordsOf(m[1]));
    else if (block == "prev" && std::regex_search(line, m, pattern))
      for (const std::string& name : wordsOf(m[1], "|")) completed[name] = "takes a value";
    else if (block == "command" && std::regex_search(line, m, optionsLine))
      listed[m[1]] = joined(wordsOf(m[2]));
  }
  std::vector<std::string> commands = commandNames();
  EXPECT_EQ(words, joined({commands.begin(), commands.end()}));
  expectSame(byCommand, listed, "the completion's options of");
  expectSame(valued, completed, "the completion's values");

  // The manual: the line after each .TP of OPTIONS names the options, the next one, a
  // note such as `.RB ( render ", " play )`, the commands.
  const std::vector<std::string> manual = linesOf(root + "/player/orlimvis.1");
  ASSERT_FALSE(manual.empty()) << root;
  std::map<std::string, std::string> documented;
  const std::set<std::string> commandSet(commands.begin(), commands.end());
  const std::regex optionName(R"((^|[ "])(--?[a-z][a-z-]*))");
  bool inOptions = false;
  for (size_t i = 0; i + 2 < manual.size(); ++i) {
    if (manual[i].rfind(".SH", 0) == 0) inOptions = manual[i] == ".SH OPTIONS";
    if (!inOptions || manual[i] != ".TP") continue;
    std::string header = std::regex_replace(manual[i + 1], std::regex(R"(\\f[RPIB])"), "");
    header = std::regex_replace(header, std::regex(R"(\\-)"), "-");
    std::set<std::string> noted;
    if (manual[i + 2].rfind(".RB (", 0) == 0) {
      for (const std::string& w : wordsOf(manual[i + 2], "(),\""))
        if (commandSet.count(w)) noted.insert(w);
    }
    for (auto it = std::sregex_iterator(header.begin(), header.end(), optionName);
         it != std::sregex_iterator(); ++it)
      documented[(*it)[2]] = joined(noted);
  }
  expectSame(byOption, documented, "the manual's OPTIONS");
}
