// The Linux side of the GDI oracle: records the GDI calls a test makes on our layer as a
// trace, keeps our own pixels at every dump point, runs the Win32 replayer on the trace
// under Wine (one Wine start for the whole trace) and hands back Wine's pixels.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "visdiff.h"
#include "visplatform.h"

namespace oracle {

// A memory DC with a 32-bpp bitmap of our layer, filled with a marker colour.
struct Canvas {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ originalBitmap = nullptr;
  unsigned dcId = 0;  // trace serial of the DC
  int width = 0;
  int height = 0;
};

// Installs itself as the trace sink for its lifetime.
class Recorder {
 public:
  Recorder();
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  Canvas newCanvas(int width, int height, COLORREF marker);
  void clear(const Canvas& canvas, COLORREF marker);
  void deleteCanvas(Canvas* canvas);
  // Appends a "Dump" of the whole canvas and keeps our pixels; returns the image index.
  int dump(const Canvas& canvas);

  // A line written straight into the trace (for calls our layer does not make here,
  // such as a window's DC), and an image the replayer is expected to dump for it.
  void appendLine(const std::string& line) { trace_ += line + "\n"; }
  int expectImage(visdiff::Image image) {
    ours_.push_back(std::move(image));
    return static_cast<int>(ours_.size()) - 1;
  }
  // The serial of the object made by the latest "#N = <call> ..." line, 0 if none.
  unsigned lastSerialOf(const std::string& call) const;
  // A block of a canvas's pixels as it is now.
  visdiff::Image block(const Canvas& canvas, int x, int y, int width, int height) const;

  const std::string& trace() const { return trace_; }
  const std::vector<visdiff::Image>& ours() const { return ours_; }

 private:
  static void sink(void* context, const char* line);
  std::string trace_;
  std::string lastLine_;
  std::vector<visdiff::Image> ours_;
};

// Runs the replayer under Wine on the trace. The replayer is found through the
// environment (VIS_REPLAYER, set by CTest from VIS_MINGW_BUILD_DIR); its absence is an
// error that says to build the mingw-i686 preset.
bool runReplayer(const std::string& trace, const std::string& name,
                 std::vector<visdiff::Image>* images, std::string* error);

// Where tests write their files (traces, dumps, diff PNGs).
std::string outputDir();

}  // namespace oracle
