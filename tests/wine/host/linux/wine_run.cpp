// Wine runs and report parsing for the Linux-side tests of the Win32 host.
#include "wine_run.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace winetest {

namespace {

bool onPath(const std::string& tool) {
  const char* path = getenv("PATH");
  std::stringstream dirs(path ? path : "");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && access((dir + "/" + tool).c_str(), X_OK) == 0) return true;
  return false;
}

const char* buildHint =
    "build the mingw-i686 preset first: cmake --preset mingw-i686 && cmake --build "
    "--preset mingw-i686 (make test does this)";

RunResult runOnce(const std::string& program, const std::vector<std::string>& args) {
  RunResult result;
  const std::string dir = freshDir("wine-run-" + std::to_string(getpid()));
  const std::string outPath = dir + "/stdout", errPath = dir + "/stderr";
  // Wine's server outlives its last program by a few seconds, and a program that
  // meets a running server joins the desktop that server already has: one started by
  // a run without a display cannot show windows. So each run first waits for any
  // server of the prefix to end, and waits for its own within the display's lifetime.
  std::vector<std::string> argv = {
      "xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "sh", "-c",
      "wineserver -w; wine \"$@\"; status=$?; wineserver -w; exit $status", "sh", program};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    setenv("WINEPREFIX", VIS_WINE_PREFIX, 1);
    setenv("WINEDEBUG", "-all", 1);
    // No Mono or Gecko installer dialogs when the prefix is first made.
    setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(const_cast<char*>(a.c_str()));
    raw.push_back(nullptr);
    execvp(raw[0], raw.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  fs::remove_all(dir);
  return result;
}

}  // namespace

std::string dllPath() { return std::string(VIS_MINGW_DIR) + "/vis_orlim.dll"; }

std::string programPath(const std::string& name) {
  return std::string(VIS_MINGW_DIR) + "/tests/wine/" + name;
}

std::string missingTools() {
  std::string missing;
  for (const char* tool : {"wine", "wineserver", "xvfb-run"})
    if (!onPath(tool))
      missing += std::string(tool) + " is not installed (make deps installs wine, wine32:i386 and xvfb); ";
  if (std::string(VIS_MINGW_DIR).empty()) {
    missing += std::string("VIS_MINGW_BUILD_DIR is not set; ") + buildHint;
    return missing;
  }
  for (const std::string& file :
       {dllPath(), programPath("vis_host.exe"), programPath("crt_rand.exe")})
    if (!fs::exists(file)) missing += file + " is missing; " + buildHint + "; ";
  return missing;
}

std::string windowsPath(const std::string& linuxPath) {
  std::string w = "Z:" + fs::absolute(linuxPath).lexically_normal().string();
  for (char& c : w)
    if (c == '/') c = '\\';
  return w;
}

std::string freshDir(const std::string& name) {
  fs::path dir = fs::path(VIS_WINE_OUTPUT) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir.string();
}

void copyFile(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

RunResult runWine(const std::string& program, const std::vector<std::string>& args) {
  RunResult r = runOnce(program, args);
  // xvfb-run -a can lose a race for a display number against another test's server;
  // a second attempt picks another.
  if (r.status != 0 && r.err.find("Xvfb failed to start") != std::string::npos)
    r = runOnce(program, args);
  return r;
}

std::string Event::at(const std::string& key) const {
  auto it = fields.find(key);
  return it == fields.end() ? std::string() : it->second;
}

std::vector<Event> parseReport(const std::string& text) {
  std::vector<Event> events;
  std::stringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    Event e;
    e.line = line;
    size_t i = line.find(' ');
    e.kind = line.substr(0, i);
    while (i != std::string::npos && i < line.size()) {
      while (i < line.size() && line[i] == ' ') ++i;
      size_t eq = line.find('=', i);
      if (eq == std::string::npos) break;
      std::string key = line.substr(i, eq - i), value;
      i = eq + 1;
      if (i < line.size() && line[i] == '"') {
        for (++i; i < line.size() && line[i] != '"'; ++i) {
          if (line[i] == '\\' && i + 1 < line.size()) {
            char c = line[++i];
            value += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
          } else {
            value += line[i];
          }
        }
        ++i;
      } else {
        size_t end = line.find(' ', i);
        value = line.substr(i, end == std::string::npos ? std::string::npos : end - i);
        i = end;
      }
      e.fields[key] = value;
    }
    events.push_back(e);
  }
  return events;
}

// The events from "phase name=<name>" up to the next phase marker (or the end).
std::vector<Event> phase(const std::vector<Event>& events, const std::string& name) {
  std::vector<Event> out;
  bool in = false;
  for (const Event& e : events) {
    if (e.kind == "phase") {
      in = e.at("name") == name;
      continue;
    }
    if (in) out.push_back(e);
  }
  return out;
}

std::vector<Event> ofKind(const std::vector<Event>& events, const std::string& kind) {
  std::vector<Event> out;
  for (const Event& e : events)
    if (e.kind == kind) out.push_back(e);
  return out;
}

const Event* first(const std::vector<Event>& events, const std::string& kind) {
  for (const Event& e : events)
    if (e.kind == kind) return &e;
  return nullptr;
}

std::string field(const std::vector<Event>& events, const std::string& kind,
                  const std::string& key) {
  const Event* e = first(events, kind);
  return e ? e->at(key) : "(no " + kind + ")";
}

// The requests as "code/wparam" words, in order.
std::vector<std::string> requestWords(const std::vector<Event>& events) {
  std::vector<std::string> out;
  for (const Event& e : ofKind(events, "request")) out.push_back(e.at("code") + "/" + e.at("wparam"));
  return out;
}

// 100 frames of spectrum, each 576 bands of channel 0 then 576 of channel 1:
//   0..9    silence (band 0 of both channels 0: the effects' silent-frame rules fire)
//   10..19  every band at 255
//   20..99  music-like: bass loudest, falling towards the treble, beating with the
//           frame, never silent; frame 50 has channel 0's band 0 at 0 but channel 1's
//           not, which is not a silent frame.
std::string spectrumFrames() {
  std::string bytes;
  unsigned state = 12345;
  for (int frame = 0; frame < 100; ++frame) {
    for (int ch = 0; ch < 2; ++ch) {
      for (int band = 0; band < 576; ++band) {
        int v;
        if (frame < 10) {
          v = 0;
        } else if (frame < 20) {
          v = 255;
        } else {
          state = state * 1103515245u + 12345u;
          int noise = (state >> 16) % 40;
          int envelope = 230 - band * 200 / 576;
          int beat = (frame % 8) < 2 ? 25 : 0;
          v = std::min(255, std::max(1, envelope - noise + beat - ch * 10));
          if (frame == 50 && ch == 0 && band == 0) v = 0;
        }
        bytes += static_cast<char>(v);
      }
    }
  }
  return bytes;
}

// Runs vis_host on the copy of the DLL in dir (so that each test has its own
// "plugin.ini"), with the spectrum frames above.
HostRun runHost(const std::string& dir, std::vector<std::string> args) {
  HostRun run;
  run.dir = dir;
  const std::string spectrum = dir + "/spectrum.bin";
  writeFile(spectrum, spectrumFrames());
  std::vector<std::string> all = {"--dll", windowsPath(dir + "/vis_orlim.dll"),
                                  "--report", windowsPath(dir + "/report.txt"),
                                  "--spectrum", windowsPath(spectrum)};
  all.insert(all.end(), args.begin(), args.end());
  run.result = runWine(programPath("vis_host.exe"), all);
  run.report = readFile(dir + "/report.txt");
  run.events = parseReport(run.report);
  return run;
}

std::string newTestDir(const std::string& name) {
  std::string dir = freshDir(name);
  copyFile(dllPath(), dir + "/vis_orlim.dll");
  return dir;
}

}  // namespace winetest
