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

// The events from "phase name=<name>" up to the next phase marker (or the end).
std::vector<Event> phase(const std::vector<Event>& events, const std::string& name);
std::vector<Event> ofKind(const std::vector<Event>& events, const std::string& kind);
const Event* first(const std::vector<Event>& events, const std::string& kind);  // or null
// A field of the first event of a kind; "(no <kind>)" when there is no such event.
std::string field(const std::vector<Event>& events, const std::string& kind,
                  const std::string& key);
// The requests as "code/wparam" words, in order.
std::vector<std::string> requestWords(const std::vector<Event>& events);

// The tests' spectrum: 100 frames of 1152 bytes (see the definition for what they hold).
std::string spectrumFrames();

struct HostRun {
  std::string dir;
  RunResult result;
  std::vector<Event> events;
  std::string report;
};

// A fresh folder holding a copy of the DLL, so that each test has its own plugin.ini.
std::string newTestDir(const std::string& name);

// Runs vis_host on the DLL copy in dir with the spectrum frames above (written to
// dir/spectrum.bin) and the given arguments; the report is dir/report.txt.
HostRun runHost(const std::string& dir, std::vector<std::string> args);

}  // namespace winetest

// Fails the test, saying what is missing, unless Wine, Xvfb and the mingw build are there.
#define REQUIRE_WINE_TOOLS()                                   \
  do {                                                         \
    std::string missing = ::winetest::missingTools();            \
    ASSERT_TRUE(missing.empty()) << "cannot run: " << missing; \
  } while (0)

#define ASSERT_RAN(run)                                                                    \
  ASSERT_EQ((run).result.status, 0) << "vis_host failed\nstderr:\n"                      \
                                    << (run).result.err << "\nreport:\n" << (run).report; \
  ASSERT_FALSE((run).events.empty()) << "no report written"; \
  ASSERT_EQ((run).events.back().kind, "end") << "report cut short:\n" << (run).report

