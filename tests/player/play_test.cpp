// `orlimvis play` in a real X window: an Xvfb server of its own, SDL's dummy audio
// driver, real key events through XTEST (xdotool), and screenshots of the window.
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <math.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "test_support.h"
#include "audio/sound_server.h"

namespace {
// A server the test started, ended with SIGTERM and reaped when the test is done.
class ServerProcess {
 public:
  ServerProcess() = default;
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  // SIGKILL stands for a crash: the server leaves its socket file behind.
  void stop(int signal = SIGTERM) {
    if (pid_ > 0) {
      kill(pid_, signal);
      waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }
  ~ServerProcess() { stop(); }

 protected:
  pid_t pid_ = -1;
};

class XServer : public ServerProcess {
 public:
  // Xvfb picks a free display itself (-displayfd) and reports its number, so tests
  // running side by side never race for the same one.
  bool start() {
    int fds[2];
    if (pipe(fds) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      int devnull = open("/dev/null", O_WRONLY);
      dup2(devnull, 1);
      dup2(devnull, 2);
      std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp", (char*)nullptr);
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (pid_ > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
      stop();
      return false;
    }
    display_ = ":" + number;
    return true;
  }
  // Runs a shell command against this display.
  int run(const std::string& command, std::string* out) const {
    return runCommand("DISPLAY=" + display_ + " " + command, out);
  }
  const std::string& display() const { return display_; }

 private:
  std::string display_;
};

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// Polls a command until its output contains `want`, for up to `seconds`.
bool waitFor(const XServer& x, const std::string& command, const std::string& want,
             double seconds, std::string* last) {
  for (int i = 0; i < (int)(seconds * 10); ++i) {
    x.run(command, last);
    if (last->find(want) != std::string::npos) return true;
    usleep(100000);
  }
  return false;
}
// The id of the first window whose title matches `pattern` (xdotool's regular
// expression) within `seconds`, or "" when none shows.
std::string windowNamed(const XServer& x, const std::string& pattern, int seconds = 10) {
  std::string out;
  if (x.run(
          "timeout " + std::to_string(seconds) + " xdotool search --sync --name '" + pattern + "'",
          &out) != 0) {
    return "";
  }
  return trimmed(out.substr(0, out.find('\n')));
}
// The wait status of `pid` once it ends, within `seconds`; one still running then is
// killed, and its status says so rather than an exit.
int exitStatusWithin(pid_t pid, int seconds) {
  int status = -1;
  for (int i = 0; i < seconds * 10 && waitpid(pid, &status, WNOHANG) == 0; ++i) usleep(100000);
  if (waitpid(pid, nullptr, WNOHANG) == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return status;
}
// Kills and reaps, when a test ends early, each of `pids` that is still running; a
// pid set to -1 has been reaped by the test itself.
struct Reaper {
  std::vector<pid_t> pids;
  ~Reaper() {
    for (pid_t pid : pids) {
      if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
  }
};
// A screenshot of window `id` as rgb24 pixels, through <dir>/<stem>.xwd and .rgb; false
// (with the tools' output in *out) when the window cannot be grabbed yet.
bool grabWindow(const XServer& x, const std::string& id, const ScratchDir& dir,
                const std::string& stem, std::string* pixels, std::string* out) {
  const std::string xwd = dir.file(stem + ".xwd"), rgb = dir.file(stem + ".rgb");
  if (x.run("xwd -silent -id " + id + " -out '" + xwd + "' 2>&1", out) != 0 ||
      runCommand("ffmpeg -v error -i '" + xwd + "' -frames:v 1 -f rawvideo -pix_fmt rgb24 -y '" +
                     rgb + "'",
                 out) != 0) {
    return false;
  }
  *pixels = readWholeFile(rgb);
  return true;
}
// How many pixels each colour of a screenshot covers, most first.
std::vector<long> colourCounts(const std::string& pixels) {
  std::map<uint32_t, long> colours;
  for (size_t i = 0; i + 2 < pixels.size(); i += 3)
    ++colours[(uint32_t)(uint8_t)pixels[i] << 16 | (uint32_t)(uint8_t)pixels[i + 1] << 8 |
              (uint8_t)pixels[i + 2]];
  std::vector<long> counts;
  for (const auto& c : colours) counts.push_back(c.second);
  std::sort(counts.rbegin(), counts.rend());
  return counts;
}
// Takes a screenshot of the window and checks its size, and that it shows more than a
// flat background: at least two colours, the second on more than 1/minimumShare of it.
// (Zarvenn draws white outlines over grey.) A copy goes to $VIS_TEST_OUTPUT/name.
void expectEffectShown(const XServer& x, const std::string& id, int width, int height,
                       const ScratchDir& dir, const char* name, long minimumShare = 100) {
  std::string out, shot = dir.file("shot.rgb");  // grabWindow's "shot"
  // A busy machine can take a moment to map a freshly shown or resized window; xwd
  // refuses an unviewable one, so try for a few seconds.
  std::string pixels;
  bool taken = false;
  for (int attempt = 0; attempt < 20 && !taken; ++attempt) {
    if (attempt > 0) usleep(250000);
    taken = grabWindow(x, id, dir, "shot", &pixels, &out);
  }
  ASSERT_TRUE(taken) << out;
  ASSERT_EQ(pixels.size(), (size_t)width * height * 3);
  std::vector<long> counts = colourCounts(pixels);
  ASSERT_GE(counts.size(), 2u) << "the window shows no effect";
  EXPECT_GT(counts[1], (long)width * height / minimumShare) << "the window shows no effect";
  if (const char* keep = getenv("VIS_TEST_OUTPUT")) {
    runCommand(std::string("mkdir -p '") + keep + "' && ffmpeg -v error -f rawvideo -pix_fmt "
               "rgb24 -s " + std::to_string(width) + "x" + std::to_string(height) + " -i '" +
               shot + "' -y '" + keep + "/" + name + "'", &out);
  }
}
// The pixels of the second most common colour in a screenshot of the window (0 when
// none can be taken): what expectEffectShown checks, without failing, for polling.
long secondColourPixels(const XServer& x, const std::string& id, const ScratchDir& dir) {
  std::string out, pixels;
  if (!grabWindow(x, id, dir, "poll", &pixels, &out)) return 0;
  std::vector<long> counts = colourCounts(pixels);
  return counts.size() >= 2 ? counts[1] : 0;
}
// Starts `orlimvis play ARGS --plugin <dir>/vis_orlim.so` on the X server with SDL's
// dummy audio, its output in <dir>/play.log; returns its pid.
pid_t startPlay(const XServer& x, const ScratchDir& dir, std::vector<std::string> args) {
  pid_t player = fork();
  if (player == 0) {
    setenv("DISPLAY", x.display().c_str(), 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    int log = open(dir.file("play.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(log, 1);
    dup2(log, 2);
    args.insert(args.begin(), {"orlimvis", "play"});
    args.push_back("--plugin");
    args.push_back(dir.file("vis_orlim.so"));
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(ORLIMVIS_BINARY, argv.data());
    _exit(127);
  }
  return player;
}
// A PulseAudio server of the test's own: a private runtime folder, no default script,
// one null sink "vsink" (whose monitor "vsink.monitor" is an input) and a socket that
// needs no cookie. Clients find it through PULSE_SERVER.
class PulseServer : public ServerProcess {
 public:
  bool start(const ScratchDir& dir, std::string* why) {
    std::string script = dir.file("test.pa");
    socket_ = dir.file("native");
    std::ofstream(script) << "load-module module-null-sink sink_name=vsink "
                             "sink_properties=device.description=Virtual_Sink\n"
                             "load-module module-native-protocol-unix auth-anonymous=1 socket="
                          << socket_ << "\n";
    unlink(socket_.c_str());  // a crashed server's, when started again
    pid_ = fork();
    if (pid_ == 0) {
      int log = open(dir.file("pulse.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(log, 1);
      dup2(log, 2);
      setenv("HOME", dir.path().c_str(), 1);
      setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
      setenv("PULSE_RUNTIME_PATH", dir.path().c_str(), 1);
      execlp("pulseaudio", "pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n", "-F",
             script.c_str(), "--log-target=stderr", (char*)nullptr);
      _exit(127);
    }
    for (int i = 0; i < 100 && !fileExists(socket_); ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      usleep(100000);
    }
    if (!fileExists(socket_)) {
      *why = "pulseaudio (scripts/deps.sh) did not start: " + readWholeFile(dir.file("pulse.log"));
      stop();
      return false;
    }
    return true;
  }
  std::string address() const { return "unix:" + socket_; }

 private:
  std::string socket_;
};

// The loudness of what the null sink plays: the root mean square, in 16-bit steps, of
// a quarter of a second of its monitor (parec through PULSE_SERVER), or -1 when it
// cannot be recorded.
double sinkLevel(const ScratchDir& dir) {
  std::string out, file = dir.file("level.raw");
  if (runCommand("parec -d vsink.monitor --raw --format=s16le --channels=1 --rate=8000 "
                 "--latency-msec=20 2>/dev/null | head -c 4000 > '" + file + "'", &out) != 0) {
    return -1;
  }
  std::string raw = readWholeFile(file);
  if (raw.size() < 4000) return -1;
  double sum = 0;
  for (size_t i = 0; i + 1 < raw.size(); i += 2) {
    double v = (int16_t)((uint8_t)raw[i] | (uint8_t)raw[i + 1] << 8);
    sum += v * v;
  }
  return sqrt(sum / (double)(raw.size() / 2));
}
}  // namespace

TEST(Play, ShowsTheEffectAndAnswersKeysInARealWindow) {
  XServer x;
  ASSERT_TRUE(x.start()) << "Xvfb (scripts/deps.sh) did not start";
  ScratchDir dir;
  std::string out;
  ASSERT_EQ(runCommand("cp '" VIS_PLUGIN_PATH "' '" + dir.file("vis_orlim.so") + "'", &out), 0);

  // The logarithmic bands: over the demo tune, which has little above a few kHz, the
  // classic layout leaves Zarvenn's flakes (read from bands up to 22 kHz) a few pixels
  // on grey, too little for a screenshot to tell a drawn frame from a flat one.
  pid_t player = startPlay(x, dir, {"-m", "Zarvenn", "--size", "320x240", "--seed", "5",
                                    "--bands", "log"});
  ASSERT_GT(player, 0);
  Reaper reaper{{player}};

  // The window carries the frame's title, which the plug-in set to the module's name,
  // then the track and where it is.
  std::string id = windowNamed(x, "^Zarvenn - demo tune - ");
  ASSERT_FALSE(id.empty()) << readWholeFile(dir.file("play.log"));
  ASSERT_EQ(x.run("xdotool windowfocus --sync " + id, &out), 0) << out;
  usleep(1500000);  // some frames of music
  EXPECT_TRUE(waitFor(x, "xdotool getwindowname " + id, "Zarvenn - demo tune - 0:01 / 0:24", 5,
                      &out)) << out;
  // Moved by hand: the frame, and so the position the plug-in saves, follows.
  x.run("xdotool windowmove --sync " + id + " 210 130", &out);
  usleep(200000);
  std::string geometry;
  x.run("xdotool getwindowgeometry --shell " + id, &geometry);
  auto field = [&](const char* name) {
    size_t at = geometry.find(name);
    return at == std::string::npos ? std::string("?")
                                   : geometry.substr(at + strlen(name),
                                                     geometry.find('\n', at) - at - strlen(name));
  };
  std::string left = field("X="), top = field("Y=");

  // A screenshot of the window: its size, and more than a flat background in it.
  expectEffectShown(x, id, 320, 240, dir, "play-zarvenn.png");

  // 2: quit Zarvenn, init Pellox; the title follows the new frame's.
  x.run("xdotool key 2", &out);
  EXPECT_TRUE(waitFor(x, "xdotool getwindowname " + id, "Pellox", 5, &out)) << out;
  // F: full screen through the plug-in's command and the host's answer to its request.
  x.run("xdotool key f", &out);
  EXPECT_TRUE(waitFor(x, "xdotool getwindowgeometry " + id, "1024x768", 5, &out)) << out;
  usleep(500000);
  // The frame took the new size; the particles, still where the small window had them,
  // spread out from its corner over a surface rebuilt at the new size.
  expectEffectShown(x, id, 1024, 768, dir, "play-pellox-fullscreen.png", 1000);
  x.run("xdotool key f", &out);
  EXPECT_TRUE(waitFor(x, "xdotool getwindowgeometry " + id, "320x240", 5, &out)) << out;
  // Space, Left and Right: pause, seek; the player keeps running.
  x.run("xdotool key space key space key Right key Left", &out);
  usleep(300000);
  EXPECT_EQ(waitpid(player, nullptr, WNOHANG), 0) << readWholeFile(dir.file("play.log"));
  // Paused, the loop sleeps until an event: the position in the title stands still
  // across more than a second, and the keys below still reach it.
  x.run("xdotool key space", &out);
  usleep(300000);
  std::string pausedTitle, laterTitle;
  x.run("xdotool getwindowname " + id, &pausedTitle);
  usleep(1300000);
  x.run("xdotool getwindowname " + id, &laterTitle);
  EXPECT_EQ(laterTitle, pausedTitle);

  // Esc: the module quits properly (its position is saved) and the program ends.
  x.run("xdotool key Escape", &out);
  int status = exitStatusWithin(player, 5);
  ASSERT_TRUE(WIFEXITED(status)) << readWholeFile(dir.file("play.log"));
  EXPECT_EQ(WEXITSTATUS(status), 0) << readWholeFile(dir.file("play.log"));
  // Each module saved where the window stood: the frame followed the SDL window.
  std::string ini = readWholeFile(dir.file("plugin.ini"));
  for (const char* section : {"[Zarvenn]", "[Pellox]"}) {
    size_t at = ini.find(section);
    ASSERT_NE(at, std::string::npos) << ini;
    std::string body = ini.substr(at, ini.find('[', at + 1) - at);
    auto value = [&](const char* key) {
      size_t k = body.find(key);
      return k == std::string::npos ? std::string("?")
                                    : std::to_string(atoi(body.c_str() + k + strlen(key)));
    };
    EXPECT_EQ(value("Screen_x="), left) << body;
    EXPECT_EQ(value("Screen_y="), top) << body;
  }
}

TEST(Play, CaptureVisualisesAnInputDevice) {
  // SDL's dummy driver offers a silent input: the effect runs on silence, and Q quits.
  XServer x;
  ASSERT_TRUE(x.start()) << "Xvfb (scripts/deps.sh) did not start";
  ScratchDir dir;
  std::string out;
  ASSERT_EQ(runCommand("cp '" VIS_PLUGIN_PATH "' '" + dir.file("vis_orlim.so") + "'", &out), 0);
  pid_t player = startPlay(x, dir, {"-m", "Ambrith", "--capture", "--size", "160x120"});
  ASSERT_GT(player, 0);
  std::string id = windowNamed(x, "^Ambrith - ");
  EXPECT_FALSE(id.empty()) << readWholeFile(dir.file("play.log"));
  x.run("xdotool windowfocus --sync " + id + " key q", &out);
  int status = exitStatusWithin(player, 5);
  ASSERT_TRUE(WIFEXITED(status)) << readWholeFile(dir.file("play.log"));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(readWholeFile(dir.file("play.log")).find("visualising"), std::string::npos);
}

TEST(Play, RefusesToPlayWithoutADisplay) {
  std::string out;
  int status = runCommand("env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "
                          "SDL_AUDIODRIVER=dummy '" ORLIMVIS_BINARY "' play -m Pellox",
                          &out);
  EXPECT_NE(status, 0);
  EXPECT_NE(out.find("orlimvis: play: no display"), std::string::npos) << out;
}

TEST(Play, CapturesASoundServerInputByTheNamesUsersSee) {
  ScratchDir dir;
  PulseServer pulse;
  std::string why;
  if (!pulse.start(dir, &why)) GTEST_SKIP() << why;
  setenv("PULSE_SERVER", pulse.address().c_str(), 1);
  struct Unset {
    ~Unset() { unsetenv("PULSE_SERVER"); }
  } unset;

  // The listing in-process: the monitor is there, by name and by description.
  std::vector<InputDevice> inputs;
  ASSERT_TRUE(listSoundServerInputs(&inputs, &why)) << why;
  const InputDevice* monitor = findInput(inputs, "vsink.monitor");
  ASSERT_NE(monitor, nullptr);
  EXPECT_TRUE(monitor->monitor);
  EXPECT_EQ(monitor->description, "Monitor of Virtual_Sink");
  EXPECT_EQ(findInput(inputs, "monitor of virtual_sink"), monitor);  // any case
  EXPECT_EQ(findInput(inputs, "vsink"), nullptr);                    // the output itself is no input
  // What --capture visualises: wanted, PULSE_SOURCE, PULSE_SERVER (null: the test's
  // server), the lookup's answer, the input's name or the error
  const std::string dead = "unix:" + dir.file("none");
  const struct {
    const char* wanted;
    const char* source;
    const char* server;
    CaptureLookup lookup;
    const char* result;
  } lookups[] = {
      {"", nullptr, nullptr, CaptureLookup::Found, "vsink.monitor"},  // the default output's monitor
      {"", "vsink.monitor", nullptr, CaptureLookup::Found, "vsink.monitor"},  // the user's choice
      {"", "@DEFAULT_MONITOR@", nullptr, CaptureLookup::Found, "vsink.monitor"},  // the server's names
      {"Monitor of Virtual_Sink", nullptr, nullptr, CaptureLookup::Found, "vsink.monitor"},
      {"nowhere", nullptr, nullptr, CaptureLookup::NoSuchInput,
       "--capture nowhere: no such input; `orlimvis devices` lists them"},
      {"", nullptr, dead.c_str(), CaptureLookup::NoServer, ""},  // SDL's names, then
  };
  unsetenv("PULSE_SOURCE");
  for (const auto& c : lookups) {
    SCOPED_TRACE(c.wanted);
    if (c.source) setenv("PULSE_SOURCE", c.source, 1);
    setenv("PULSE_SERVER", c.server ? c.server : pulse.address().c_str(), 1);
    InputDevice input;
    std::string error;
    CaptureLookup lookup = findCaptureInput(c.wanted, &input, &error);
    unsetenv("PULSE_SOURCE");
    EXPECT_EQ(lookup, c.lookup) << error;
    if (c.lookup == CaptureLookup::Found) {
      EXPECT_EQ(input.name, c.result);
    } else if (c.lookup == CaptureLookup::NoSuchInput) {
      EXPECT_EQ(error, c.result);
    }
  }
  setenv("PULSE_SERVER", pulse.address().c_str(), 1);
  // `orlimvis devices` says the same, one input a line, monitors marked.
  std::string out;
  ASSERT_EQ(runCommand("'" ORLIMVIS_BINARY "' devices", &out), 0) << out;
  EXPECT_NE(out.find("vsink.monitor\tMonitor of Virtual_Sink\t[monitor"), std::string::npos) << out;

  // A name that is no input: one line that points to `orlimvis devices`.
  int status = runCommand("'" ORLIMVIS_BINARY "' play -m Pellox --capture nowhere.monitor", &out);
  EXPECT_NE(status, 0);
  EXPECT_EQ(out, "orlimvis: --capture nowhere.monitor: no such input; `orlimvis devices` lists them\n");

  // Something playing into the sink, and a player capturing what the default output
  // plays, its monitor.
  XServer x;
  ASSERT_TRUE(x.start()) << "Xvfb (scripts/deps.sh) did not start";
  ASSERT_EQ(runCommand("cp '" VIS_PLUGIN_PATH "' '" + dir.file("vis_orlim.so") + "'", &out), 0);
  ASSERT_EQ(runCommand("ffmpeg -nostdin -v error -f lavfi -i anoisesrc=d=30:a=0.5 -ac 2 '" +
                       dir.file("noise.wav") + "'", &out), 0) << out;
  // The sound comes from orlimvis itself, its output pointed at the sink.
  ScratchDir sourceDir;
  ASSERT_EQ(runCommand("cp '" VIS_PLUGIN_PATH "' '" + sourceDir.file("vis_orlim.so") + "'", &out), 0);
  pid_t source = fork();
  if (source == 0) {
    setenv("PULSE_SINK", "vsink", 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    setenv("DISPLAY", x.display().c_str(), 1);
    int log = open(sourceDir.file("play.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(log, 1);
    dup2(log, 2);
    execl(ORLIMVIS_BINARY, "orlimvis", "play", dir.file("noise.wav").c_str(), "-m", "Zarvenn",
          "--size", "64x48", "--plugin", sourceDir.file("vis_orlim.so").c_str(), (char*)nullptr);
    _exit(127);
  }
  pid_t player = fork();
  if (player == 0) {
    setenv("DISPLAY", x.display().c_str(), 1);
    int log = open(dir.file("play.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(log, 1);
    dup2(log, 2);
    execl(ORLIMVIS_BINARY, "orlimvis", "play", "-m", "Ambrith", "--capture", "--size",
          "160x120", "--plugin", dir.file("vis_orlim.so").c_str(), (char*)nullptr);
    _exit(127);
  }
  Reaper reaper{{player, source}};
  // The server sees the playing stream under the program's name and the track's.
  std::string playing;
  EXPECT_TRUE(waitFor(x, "pactl list sink-inputs", "media.name = \"noise.wav\"", 10, &playing))
      << playing << readWholeFile(sourceDir.file("play.log"));
  EXPECT_NE(playing.find("application.name = \"orlimvis\""), std::string::npos) << playing;
  // The title names the input as the server does.
  std::string id = windowNamed(x, "^Ambrith - Monitor of Virtual_Sink .vsink.monitor.$");
  ASSERT_FALSE(id.empty()) << readWholeFile(dir.file("play.log"));
  // The server records for it from the monitor's source (the only source there is).
  std::string sources, streams;
  runCommand("pactl list short sources", &sources);
  EXPECT_TRUE(waitFor(x, "pactl list source-outputs", "application.name = \"orlimvis\"", 5, &streams))
      << streams;
  EXPECT_NE(streams.find("Source: " + trimmed(sources.substr(0, sources.find('\t')))),
            std::string::npos) << sources << streams;
  // Until the noise reaches the effect the window may show silence.
  for (int i = 0; i < 100 && secondColourPixels(x, id, dir) <= 160 * 120 / 100; ++i) usleep(100000);
  expectEffectShown(x, id, 160, 120, dir, "capture-monitor.png");
  // The server crashes and comes back: said in the title meanwhile, and the same input
  // is recorded again.
  pulse.stop(SIGKILL);
  EXPECT_TRUE(waitFor(x, "xdotool getwindowname " + id, " - no sound server", 10, &out)) << out;
  ASSERT_TRUE(pulse.start(dir, &why)) << why;
  EXPECT_TRUE(waitFor(x, "pactl list source-outputs", "application.name = \"orlimvis\"", 15, &streams))
      << streams;
  EXPECT_TRUE(waitFor(x, "xdotool getwindowname " + id + " | grep -v 'no sound server' || true",
                      "Ambrith - Monitor of Virtual_Sink (vsink.monitor)", 10, &out)) << out;
  x.run("xdotool windowfocus --sync " + id + " key q", &out);
  status = exitStatusWithin(player, 5);
  ASSERT_TRUE(WIFEXITED(status)) << readWholeFile(dir.file("play.log"));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readWholeFile(dir.file("play.log")),
            "orlimvis: visualising Monitor of Virtual_Sink (vsink.monitor)\n"
            "orlimvis: the sound server went away; drawing on without sound until it is back\n"
            "orlimvis: the sound server is back\n");
}

TEST(Play, EndsWithTheFileAndReportsOneThatTurnsBad) {
  XServer x;
  ASSERT_TRUE(x.start()) << "Xvfb (scripts/deps.sh) did not start";
  ScratchDir dir;
  std::string out;
  ASSERT_EQ(runCommand("cp '" VIS_PLUGIN_PATH "' '" + dir.file("vis_orlim.so") + "'", &out), 0);
  ASSERT_EQ(runCommand("ffmpeg -nostdin -v error -f lavfi -i anoisesrc=r=44100:d=4 -c:a aac "
                       "-movflags +faststart '" + dir.file("whole.m4a") + "'", &out), 0) << out;
  std::string m4a = readWholeFile(dir.file("whole.m4a"));
  std::ofstream(dir.file("cut.m4a"), std::ios::binary) << m4a.substr(0, m4a.size() / 2);
  // file, --from, --strict, exit status, what the log says, its most lines
  const struct {
    const char* file;
    const char* from;
    bool strict;
    int status;
    const char* log;
    int lines;
  } cases[] = {
      {"whole.m4a", "2.5", false, 0, "", 1},  // the last 1.5 s, then the player ends by itself
      // What decodes plays; the place of the damage and the early end are told.
      {"cut.m4a", "0", false, 0, "warning: " /* path */, 3},
      {"cut.m4a", "0", true, 1, "cut.m4a: damaged audio at 0:01.9: Invalid data found", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + (c.strict ? " --strict" : ""));
    std::vector<std::string> args = {dir.file(c.file), "-m", "Tovanel", "--from", c.from,
                                     "--size", "64x48"};
    if (c.strict) args.push_back("--strict");
    pid_t player = startPlay(x, dir, args);
    ASSERT_GT(player, 0);
    int status = exitStatusWithin(player, 30);
    std::string log = readWholeFile(dir.file("play.log"));
    ASSERT_TRUE(WIFEXITED(status)) << log;
    EXPECT_EQ(WEXITSTATUS(status), c.status) << log;
    EXPECT_NE(log.find(c.log), std::string::npos) << log;
    if (!c.strict && c.status == 0 && *c.log) {
      EXPECT_NE(log.find("cut.m4a: damaged audio at 0:01.9 skipped"), std::string::npos) << log;
    }
    EXPECT_LE(std::count(log.begin(), log.end(), '\n'), c.lines) << log;
  }
}

// Several files play one after another; N skips to the next; with no -m the module
// last played (by the run before, kept beside the plug-in's settings) starts.
TEST(Play, PlaysAListWithNextKeyAndStartsWithTheModuleLastPlayed) {
  XServer x;
  ASSERT_TRUE(x.start()) << "Xvfb (scripts/deps.sh) did not start";
  ScratchDir dir;
  std::string out;
  ASSERT_EQ(runCommand("cp '" VIS_PLUGIN_PATH "' '" + dir.file("vis_orlim.so") + "'", &out), 0);
  // The first long enough that only N moves on from it; the second ends the list.
  ASSERT_EQ(runCommand("ffmpeg -nostdin -v error -f lavfi -i sine=r=22050:d=120 '" +
                       dir.file("long.flac") + "' && ffmpeg -nostdin -v error -f lavfi -i "
                       "sine=r=48000:d=1 '" + dir.file("short.ogg") + "'", &out), 0) << out;
  std::ofstream(dir.file("list.m3u")) << "#EXTM3U\nlong.flac\nshort.ogg\n";
  std::ofstream(dir.file("player.ini")) << "[orlimvis]\nmodule=Ambrith\n";
  pid_t player = startPlay(x, dir, {dir.file("list.m3u"), "--size", "64x48"});
  ASSERT_GT(player, 0);
  std::string id = windowNamed(x, "^Ambrith - \\[1/2\\] - long.flac", 30);
  ASSERT_FALSE(id.empty()) << readWholeFile(dir.file("play.log"));
  x.run("xdotool windowfocus --sync " + id, &out);
  // Switch to Pellox: that is what the next run without -m gets.
  x.run("xdotool key 2 key n", &out);
  EXPECT_TRUE(waitFor(x, "xdotool getwindowname " + id, "Pellox - [2/2] - short.ogg", 30, &out))
      << out;
  int status = exitStatusWithin(player, 60);
  ASSERT_TRUE(WIFEXITED(status)) << readWholeFile(dir.file("play.log"));
  EXPECT_EQ(WEXITSTATUS(status), 0) << readWholeFile(dir.file("play.log"));
  EXPECT_NE(readWholeFile(dir.file("player.ini")).find("module=Pellox"), std::string::npos);
}

// With no sound server to reach, the sound libraries under SDL (ALSA's above all) print
// lines of their own before SDL gives up; none of them reach the user, whose standard
// error holds only the player's own one-line messages.
TEST(Play, TheSoundLibrariesOwnLinesStayOut) {
  ScratchDir dir;
  std::string out;
  ASSERT_EQ(runCommand("cp '" VIS_PLUGIN_PATH "' '" + dir.file("vis_orlim.so") + "' && "
                       "ffmpeg -nostdin -v error -f lavfi -i sine=d=0.5 '" + dir.file("a.wav") + "'",
                       &out), 0) << out;
  // A server address that cannot answer (and no autospawn), no X: the dummy video driver.
  const std::string env = "env -u SDL_AUDIODRIVER PULSE_SERVER=unix:" + dir.file("none") +
                          " XDG_RUNTIME_DIR=" + dir.path() + " SDL_VIDEODRIVER=dummy ";
  for (const std::string& command :
       {"play '" + dir.file("a.wav") + "' -m 0 --plugin '" + dir.file("vis_orlim.so") + "'",
        std::string("devices")}) {
    SCOPED_TRACE(command);
    runCommand("{ " + env + "timeout 60 '" ORLIMVIS_BINARY "' " + command + " 2>'" +
                   dir.file("err") + "' >/dev/null; }", &out);
    std::istringstream err(readWholeFile(dir.file("err")));
    for (std::string line; std::getline(err, line);) EXPECT_EQ(line.rfind("orlimvis: ", 0), 0u) << line;
  }
}

TEST(Play, RidesOutTheSoundServerGoingAwayAndSetsItsVolume) {
  ScratchDir dir;
  PulseServer pulse;
  std::string why;
  if (!pulse.start(dir, &why)) GTEST_SKIP() << why;
  setenv("PULSE_SERVER", pulse.address().c_str(), 1);
  struct Unset {
    ~Unset() { unsetenv("PULSE_SERVER"); }
  } unset;
  XServer x;
  ASSERT_TRUE(x.start()) << "Xvfb (scripts/deps.sh) did not start";
  std::string out;
  ASSERT_EQ(runCommand("cp '" VIS_PLUGIN_PATH "' '" + dir.file("vis_orlim.so") + "'", &out), 0);
  // Two minutes of noise, more than any wait below can use up.
  ASSERT_EQ(runCommand("ffmpeg -nostdin -v error -f lavfi -i anoisesrc=d=120:a=0.5:r=22050 -ac 1 '" +
                       dir.file("noise.wav") + "'", &out), 0) << out;
  pid_t player = fork();
  if (player == 0) {
    setenv("DISPLAY", x.display().c_str(), 1);
    setenv("SDL_AUDIODRIVER", "pulseaudio", 1);
    int log = open(dir.file("play.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(log, 1);
    dup2(log, 2);
    execl(ORLIMVIS_BINARY, "orlimvis", "play", dir.file("noise.wav").c_str(), "-m", "Pellox",
          "--size", "160x120", "--plugin", dir.file("vis_orlim.so").c_str(), (char*)nullptr);
    _exit(127);
  }
  Reaper reaper{{player}};
  std::string title, id = windowNamed(x, "^Pellox - noise.wav - ");
  ASSERT_FALSE(id.empty()) << readWholeFile(dir.file("play.log"));
  ASSERT_TRUE(waitFor(x, "pactl list sink-inputs", "media.name = \"noise.wav\"", 10, &out)) << out;

  // The server crashes: said once, on standard error and in the title, and the
  // picture goes on with the position.
  pulse.stop(SIGKILL);
  ASSERT_TRUE(waitFor(x, "xdotool getwindowname " + id, " - no sound server", 10, &title)) << title;
  std::string later;
  EXPECT_TRUE(waitFor(x, "xdotool getwindowname " + id + " | grep -vxF '" + trimmed(title) + "'",
                      " - no sound server", 10, &later)) << title;
  EXPECT_EQ(waitpid(player, nullptr, WNOHANG), 0) << readWholeFile(dir.file("play.log"));
  // Paused meanwhile, it stays paused when the server is back: the stream is there
  // again, under its name, but silent, and the title says nothing more of the server.
  x.run("xdotool windowfocus --sync " + id + " key space", &out);
  ASSERT_TRUE(waitFor(x, "xdotool getwindowname " + id, " - paused", 5, &title)) << title;
  ASSERT_TRUE(pulse.start(dir, &why)) << why;
  EXPECT_TRUE(waitFor(x, "pactl list sink-inputs", "media.name = \"noise.wav\"", 15, &out)) << out;
  EXPECT_TRUE(waitFor(x, "xdotool getwindowname " + id + " | grep -v 'no sound server' || true",
                      "Pellox - noise.wav - ", 10, &title)) << title;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(sinkLevel(dir), 0) << "paused, yet the sink plays";
  x.run("xdotool key space", &out);

  // The volume, heard at the sink: M mutes, M again brings the level back, and ten steps
  // down leave half the level, an eighth of the amplitude. Each change reaches the sink
  // after what was already on its way, so the level is polled until it has moved.
  double full = 0;
  for (int i = 0; i < 40 && full < 1000; ++i) full = sinkLevel(dir);
  ASSERT_GE(full, 1000) << "no sound reaches the sink";
  x.run("xdotool key m", &out);
  double level = full;
  for (int i = 0; i < 40 && level != 0; ++i) level = sinkLevel(dir);
  EXPECT_EQ(level, 0) << "muted, yet the sink plays";
  EXPECT_TRUE(waitFor(x, "xdotool getwindowname " + id, " - muted", 5, &title)) << title;
  x.run("xdotool key m", &out);
  for (int i = 0; i < 40 && level < full * 0.8; ++i) level = sinkLevel(dir);
  EXPECT_NEAR(level, full, full * 0.2) << "unmuted";
  x.run("xdotool key --repeat 10 --delay 20 Down", &out);
  EXPECT_TRUE(waitFor(x, "xdotool getwindowname " + id, " - volume 50%", 5, &title)) << title;
  for (int i = 0; i < 40 && level > full * 0.25; ++i) level = sinkLevel(dir);
  level = sinkLevel(dir);
  EXPECT_NEAR(level / full, 0.125, 0.04) << level << " against " << full;

  x.run("xdotool key q", &out);
  int status = exitStatusWithin(player, 10);
  ASSERT_TRUE(WIFEXITED(status)) << readWholeFile(dir.file("play.log"));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(readWholeFile(dir.file("play.log")),
            "orlimvis: the sound server went away; drawing on without sound until it is back\n"
            "orlimvis: the sound server is back\n");
}

namespace {
// The screen with and without the pointer drawn in (x11grab asks the X server for the
// cursor's image): the number of bytes that differ, or -1 when a grab fails.
long cursorPixels(const XServer& x, const ScratchDir& dir) {
  std::string out;
  for (int draw : {0, 1}) {
    if (x.run("ffmpeg -v error -f x11grab -draw_mouse " + std::to_string(draw) +
                  " -video_size 1024x768 -i " + x.display() + " -frames:v 1 -f rawvideo "
                  "-pix_fmt rgb24 -y '" + dir.file("grab" + std::to_string(draw) + ".rgb") + "'",
              &out) != 0) {
      return -1;
    }
  }
  std::string a = readWholeFile(dir.file("grab0.rgb")), b = readWholeFile(dir.file("grab1.rgb"));
  if (a.empty() || a.size() != b.size()) return -1;
  long differ = 0;
  for (size_t i = 0; i < a.size(); ++i) differ += a[i] != b[i];
  return differ;
}
}  // namespace

TEST(Play, ShowsPauseAndHidesTheCursorInFullScreen) {
  XServer x;
  ASSERT_TRUE(x.start()) << "Xvfb (scripts/deps.sh) did not start";
  ScratchDir dir;
  std::string out;
  ASSERT_EQ(runCommand("cp '" VIS_PLUGIN_PATH "' '" + dir.file("vis_orlim.so") + "'", &out), 0);
  pid_t player = startPlay(x, dir, {"-m", "Zarvenn", "--size", "320x240"});
  ASSERT_GT(player, 0);
  Reaper reaper{{player}};
  std::string title, id = windowNamed(x, "^Zarvenn - demo tune - ");
  ASSERT_FALSE(id.empty()) << readWholeFile(dir.file("play.log"));
  // Paused, the picture stands still, so two grabs differ only by the cursor.
  x.run("xdotool windowfocus --sync " + id + " key space", &out);
  ASSERT_TRUE(waitFor(x, "xdotool getwindowname " + id, " - paused", 5, &title)) << title;
  // pointer over: in a window, full screen, in a window again; is the cursor seen
  const struct { const char* pointer; const char* geometry; bool seen; } steps[] = {
      {"--window ID 160 120", "320x240", true},
      {"512 384", "1024x768", false},
      {"--window ID 160 120", "320x240", true},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.geometry);
    if (&step != &steps[0]) x.run("xdotool key f", &out);
    ASSERT_TRUE(waitFor(x, "xdotool getwindowgeometry " + id, step.geometry, 5, &out)) << out;
    std::string pointer = step.pointer;
    if (pointer.find("ID") != std::string::npos) pointer.replace(pointer.find("ID"), 2, id);
    x.run("xdotool mousemove --sync " + pointer, &out);
    long differ = cursorPixels(x, dir);
    ASSERT_GE(differ, 0) << "x11grab failed";
    if (step.seen) EXPECT_GT(differ, 0) << "no cursor over the window";
    else EXPECT_EQ(differ, 0) << "the cursor shows over the full-screen picture";
  }
  x.run("xdotool key space", &out);
  EXPECT_TRUE(waitFor(x, "xdotool getwindowname " + id + " | grep -v paused || true", "Zarvenn - ",
                      5, &title)) << title;
  x.run("xdotool key q", &out);
  int status = exitStatusWithin(player, 10);
  ASSERT_TRUE(WIFEXITED(status)) << readWholeFile(dir.file("play.log"));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

namespace {
// The n x n blocks of a screenshot of the window (width x height) whose pixels are not
// all alike, and the colours in it; -1 when no screenshot can be taken.
int unevenBlocks(const XServer& x, const std::string& id, const ScratchDir& dir, int width,
                 int height, int n, size_t* colours) {
  std::string out, pixels;
  if (!grabWindow(x, id, dir, "blocks", &pixels, &out)) return -1;
  if (pixels.size() != (size_t)width * height * 3) return -1;
  std::map<std::string, int> seen;
  int uneven = 0;
  for (int by = 0; by + n <= height; by += n) {
    for (int bx = 0; bx + n <= width; bx += n) {
      const size_t corner = ((size_t)by * width + bx) * 3;
      bool alike = true;
      for (int y = by; y < by + n; ++y)
        for (int x = bx; x < bx + n; ++x)
          alike = alike && pixels.compare(((size_t)y * width + x) * 3, 3, pixels, corner, 3) == 0;
      uneven += !alike;
      ++seen[pixels.substr(corner, 3)];
    }
  }
  *colours = seen.size();
  return uneven;
}
}  // namespace

TEST(Play, AScaledWindowShowsTheDrawingInBlocksAndSDrawsAtFullSize) {
  XServer x;
  ASSERT_TRUE(x.start()) << "Xvfb (scripts/deps.sh) did not start";
  ScratchDir dir;
  std::string out;
  ASSERT_EQ(runCommand("cp '" VIS_PLUGIN_PATH "' '" + dir.file("vis_orlim.so") + "'", &out), 0);
  pid_t player = startPlay(x, dir, {"-m", "Pellox", "--size", "320x240", "--scale", "2",
                                    "--seed", "3"});
  ASSERT_GT(player, 0);
  Reaper reaper{{player}};
  std::string id = windowNamed(x, "^Pellox - demo tune - ");
  ASSERT_FALSE(id.empty()) << readWholeFile(dir.file("play.log"));
  ASSERT_EQ(x.run("xdotool windowfocus --sync " + id, &out), 0) << out;
  // The window is the size asked for, and the plug-in's 160x120 drawing fills it in
  // 2x2 blocks: once orbs are drawn, on every screenshot.
  EXPECT_TRUE(waitFor(x, "xdotool getwindowgeometry " + id, "320x240", 5, &out)) << out;
  size_t colours = 0;
  int uneven = -1;
  for (int i = 0; i < 100 && (uneven < 0 || colours < 3); ++i) {
    usleep(100000);
    uneven = unevenBlocks(x, id, dir, 320, 240, 2, &colours);
  }
  ASSERT_GE(colours, 3u) << "no orbs drawn";
  for (int shot = 0; shot < 3; ++shot) {
    EXPECT_EQ(uneven, 0) << "screenshot " << shot;
    usleep(200000);
    uneven = unevenBlocks(x, id, dir, 320, 240, 2, &colours);
  }
  // S: the plug-in draws at the window's full size; edges now fall inside blocks.
  x.run("xdotool key s", &out);
  uneven = 0;
  for (int i = 0; i < 100 && uneven <= 0; ++i) {
    usleep(100000);
    uneven = unevenBlocks(x, id, dir, 320, 240, 2, &colours);
  }
  EXPECT_GT(uneven, 0) << "S left the drawing at half size";
  x.run("xdotool key Escape", &out);
  int status = exitStatusWithin(player, 10);
  ASSERT_TRUE(WIFEXITED(status)) << readWholeFile(dir.file("play.log"));
  EXPECT_EQ(WEXITSTATUS(status), 0) << readWholeFile(dir.file("play.log"));
}
