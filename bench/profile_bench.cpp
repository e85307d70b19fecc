// Settings-file timings: a read and a write of one key through the profile functions,
// on the plug-in's own small file and on files that are mostly padding (16.7 million
// empty lines, just under the largest file read; 400,000 comment lines). A call walks
// the whole text once per section it looks up, so the figure to watch is bytes per
// second over the file's size, which should not fall with the kind of padding. Writes
// include the fsync that makes them durable.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "visplatform.h"

namespace {

// The plug-in's file as its four effects leave it.
std::string smallFile() {
  std::string text;
  for (const char* module : {"Pellox", "Ambrith", "Tovanel", "Zarvenn"}) {
    text += std::string("[") + module + "]\r\nScreen_x=50\r\nScreen_y=50\r\n";
  }
  return text;
}

std::string emptyLines() { return std::string(16700000, '\n'); }

std::string commentLines() {
  std::string text;
  for (int i = 0; i < 400000; ++i) text += "; a comment line of some length\n";
  return text + "[Pellox]\nScreen_x=50\n";
}

// A file of that text in the scratch folder, removed at the end.
struct ScratchProfile {
  std::string path;
  explicit ScratchProfile(const std::string& text) {
    const char* tmp = getenv("TMPDIR");
    path = std::string(tmp && *tmp ? tmp : "/tmp") + "/profile-bench-" +
           std::to_string(getpid()) + ".ini";
    std::ofstream(path, std::ios::binary) << text;
  }
  ~ScratchProfile() { unlink(path.c_str()); }
};

void BM_ProfileRead(benchmark::State& state, std::string (*make)()) {
  const std::string text = make();
  ScratchProfile file(text);
  char out[64];
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        GetPrivateProfileStringA("Zarvenn", "Screen_y", "0", out, sizeof out, file.path.c_str()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.size());
}

void BM_ProfileWrite(benchmark::State& state, std::string (*make)()) {
  const std::string text = make();
  ScratchProfile file(text);
  int value = 0;
  for (auto _ : state) {
    const std::string v = std::to_string(value++ % 2);
    benchmark::DoNotOptimize(
        WritePrivateProfileStringA("Zarvenn", "Screen_y", v.c_str(), file.path.c_str()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * text.size());
}

BENCHMARK_CAPTURE(BM_ProfileRead, small, smallFile)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ProfileRead, empty_lines, emptyLines)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ProfileRead, comments, commentLines)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ProfileWrite, small, smallFile)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ProfileWrite, empty_lines, emptyLines)->Unit(benchmark::kMillisecond);

}  // namespace
