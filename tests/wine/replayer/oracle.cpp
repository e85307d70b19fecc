// The Linux side of the GDI oracle (see oracle.h).
#include "oracle.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace oracle {

Recorder::Recorder() { visSetTraceSink(&Recorder::sink, this); }
Recorder::~Recorder() { visSetTraceSink(nullptr, nullptr); }

void Recorder::sink(void* context, const char* line) {
  Recorder* self = static_cast<Recorder*>(context);
  self->trace_ += line;
  self->trace_ += '\n';
  self->lastLine_ = line;
}

Canvas Recorder::newCanvas(int width, int height, COLORREF marker) {
  Canvas c;
  c.width = width;
  c.height = height;
  c.dc = CreateCompatibleDC(nullptr);
  // The trace line just written names the DC's serial: "#N = CreateCompatibleDC #0".
  c.dcId = static_cast<unsigned>(strtoul(lastLine_.c_str() + 1, nullptr, 10));
  c.bitmap = CreateBitmap(width, height, 1, 32, nullptr);
  c.originalBitmap = SelectObject(c.dc, c.bitmap);
  clear(c, marker);
  return c;
}

void Recorder::clear(const Canvas& canvas, COLORREF marker) {
  HBRUSH brush = CreateSolidBrush(marker);
  RECT all = {0, 0, canvas.width, canvas.height};
  FillRect(canvas.dc, &all, brush);
  DeleteObject(brush);
}

void Recorder::deleteCanvas(Canvas* canvas) {
  SelectObject(canvas->dc, canvas->originalBitmap);
  DeleteObject(canvas->bitmap);
  DeleteDC(canvas->dc);
  *canvas = Canvas();
}

visdiff::Image Recorder::block(const Canvas& canvas, int x, int y, int width, int height) const {
  VisPixels view;
  visdiff::Image image;
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<size_t>(width) * height, 0xdeadbeef);
  if (visBitmapPixels(canvas.bitmap, &view)) {
    for (int r = 0; r < height; ++r) {
      for (int c = 0; c < width; ++c) {
        image.pixels[static_cast<size_t>(r) * width + c] =
            view.pixels[static_cast<size_t>(y + r) * view.stride + x + c] & 0x00ffffffu;
      }
    }
  }
  return image;
}

unsigned Recorder::lastSerialOf(const std::string& call) const {
  const std::string key = " = " + call + " ";
  size_t at = trace_.rfind(key);
  if (at == std::string::npos) return 0;
  const size_t start = trace_.rfind('\n', at);
  const size_t hash = start == std::string::npos ? 0 : start + 1;
  return trace_[hash] == '#' ? static_cast<unsigned>(strtoul(trace_.c_str() + hash + 1, nullptr, 10)) : 0;
}

int Recorder::dump(const Canvas& canvas) {
  char line[96];
  snprintf(line, sizeof line, "Dump #%u 0 0 %d %d\n", canvas.dcId, canvas.width, canvas.height);
  trace_ += line;
  visdiff::Image image = block(canvas, 0, 0, canvas.width, canvas.height);
  ours_.push_back(std::move(image));
  return static_cast<int>(ours_.size()) - 1;
}

std::string outputDir() {
  const char* dir = getenv("VIS_TEST_OUTPUT");
  std::string path = dir && *dir ? dir : "test-output";
  mkdir(path.c_str(), 0777);
  path += "/wine";
  mkdir(path.c_str(), 0777);
  return path;
}

namespace {
std::string quoted(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}
}  // namespace

bool runReplayer(const std::string& trace, const std::string& name,
                 std::vector<visdiff::Image>* images, std::string* error) {
  const char* replayer = getenv("VIS_REPLAYER");
  struct stat info;
  if (!replayer || !*replayer || stat(replayer, &info) != 0) {
    *error = std::string("the GDI replayer ") + (replayer && *replayer ? replayer : "(unset)") +
             " is missing: build the mingw-i686 preset first "
             "(cmake --preset mingw-i686 && cmake --build --preset mingw-i686), "
             "or run `make test`, which builds it";
    return false;
  }
  const char* prefix = getenv("VIS_WINEPREFIX");
  const std::string dir = outputDir();
  const std::string tracePath = dir + "/" + name + ".trace";
  const std::string dumpPath = dir + "/" + name + ".wine.bin";
  const std::string logPath = dir + "/" + name + ".wine.log";
  FILE* f = fopen(tracePath.c_str(), "wb");
  if (!f || fwrite(trace.data(), 1, trace.size(), f) != trace.size() || fclose(f) != 0) {
    *error = "cannot write " + tracePath;
    return false;
  }
  remove(dumpPath.c_str());
  // No display is needed: the replayer draws only into memory DCs. Mono and Gecko are
  // switched off so that a fresh prefix starts without offering to install them.
  std::string command = "env -u DISPLAY WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' ";
  if (prefix && *prefix) command += "WINEPREFIX=" + quoted(prefix) + " ";
  command += "wine " + quoted(replayer) + " " + quoted(tracePath) + " " + quoted(dumpPath) +
             " >" + quoted(logPath) + " 2>&1";
  const int status = system(command.c_str());
  if (status != 0) {
    std::string log;
    if (FILE* l = fopen(logPath.c_str(), "rb")) {
      char buffer[2048];
      size_t n = fread(buffer, 1, sizeof buffer, l);
      log.assign(buffer, n);
      fclose(l);
    }
    *error = "wine replayer failed (status " + std::to_string(status) + "): " + log;
    return false;
  }
  return visdiff::readDumpFile(dumpPath, images, error);
}

}  // namespace oracle
