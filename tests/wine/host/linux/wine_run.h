// Running the Win32 test programs under Wine from the Linux-side tests, and reading the
// host's report back.
//
// Every run uses the build folder's one Wine prefix, with Wine's debug output off, on a
// private Xvfb display (the host makes real windows), and waits for the Wine server to
// finish before the display goes away. Missing tools or a missing mingw-i686 build are
// failures with a message that says what to do, never a silent skip.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace winetest {

// Empty when wine, xvfb-run, the DLL and the Win32 programs are all there; otherwise
// what is missing and how to get it.
std::string missingTools();

// Paths of the mingw-i686 build's outputs.
std::string dllPath();
std::string programPath(const std::string& name);  // e.g. "vis_host.exe"

// The Windows spelling of a Linux path (Wine maps / to drive Z:).
std::string windowsPath(const std::string& linuxPath);

// A fresh, empty folder for one test's files, under the build's test output.
std::string freshDir(const std::string& name);
void copyFile(const std::string& from, const std::string& to);
void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

struct RunResult {
  int status = -1;        // the program's exit status, -1 when it could not be run
  std::string out;        // its standard output
  std::string err;        // its standard error (Xvfb's and Wine's too)
};

// Runs a Win32 program under Wine on a private display.
RunResult runWine(const std::string& program, const std::vector<std::string>& args);

// One line of the host's report: its kind (the first word) and its key=value fields,
// quoted values unescaped.
struct Event {
  std::string kind;
  std::map<std::string, std::string> fields;
  std::string line;
  std::string at(const std::string& key) const;  // "" when absent
};

std::vector<Event> parseReport(const std::string& text);

}  // namespace winetest
