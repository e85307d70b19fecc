// Small helpers shared by the player's tests: scratch folders, running commands.
#pragma once

#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

// A fresh scratch folder, removed with its contents at the end of the test.
class ScratchDir {
 public:
  ScratchDir() {
    char pattern[] = "/tmp/orlimvis-test-XXXXXX";
    path_ = mkdtemp(pattern) ? pattern : "/tmp";
  }
  ~ScratchDir() {
    if (path_ != "/tmp" && !getenv("ORLIMVIS_KEEP_SCRATCH")) {
      std::string command = "rm -rf '" + path_ + "'";
      if (system(command.c_str()) != 0) {
      }
    }
  }
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs a shell command, returns its exit status and fills *output with stdout+stderr
// (or only what the command itself redirects).
inline int runCommand(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline bool fileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

inline std::string readWholeFile(const std::string& path) {
  std::string data;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return data;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, n);
  fclose(f);
  return data;
}

// ffprobe's `-show_entries ENTRIES` of a media file, as key=value lines.
inline std::string probe(const std::string& path, const std::string& entries) {
  std::string out;
  runCommand("ffprobe -v error -show_entries " + entries + " -of default=noprint_wrappers=1 '" +
                 path + "'",
             &out);
  return out;
}

// Names in a folder (no . and ..), one per line, sorted.
inline std::string listFolder(const std::string& path) {
  std::string out;
  runCommand("ls -A '" + path + "'", &out);
  return out;
}
