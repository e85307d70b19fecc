// replayer: performs a trace of GDI calls, as written by libvisplatform's trace hook, on
// real GDI (Windows or Wine) over 32-bit memory bitmaps, and dumps the pixels that were
// presented, so that the portable raster can be compared pixel by pixel with GDI's.
//
//   replayer.exe [--time] TRACE OUT
//
// With --time, the trace is read into memory before the replay starts and the replayer
// prints on stdout how long the replay took, measured with QueryPerformanceCounter:
// "replay: LINES lines, loop MS ms, gdi MS ms, DUMPS dumps", where loop is the whole
// loop over the lines (tokenizing included) and gdi the GDI calls alone (each call
// timed on its own, dumps excluded). Without it, nothing is printed on success.
//
// Trace format: one call per line, numbers decimal, colours hex (0x00BBGGRR). "#N" is the
// trace serial of a GDI object (never reused; #0 is a null or failed handle, replayed as
// NULL so that the call fails here as it failed there). "wK" names a window, w0 the screen.
//
//   #N = GetStockObject index          #N = CreatePen style width 0xCOLORREF
//   #N = CreateSolidBrush 0xCOLORREF   #N = CreateBitmap w h planes bpp
//   #N = CreateCompatibleDC #M         #N = GetDC wK clientW clientH
//   #N = BeginPaint wK clientW clientH SelectObject #dc #obj
//   DeleteObject #obj                  DeleteDC #dc
//   ReleaseDC wK #dc                   EndPaint wK #dc
//   FillRect #dc l t r b #brush        Ellipse #dc l t r b
//   Rectangle #dc l t r b              MoveToEx #dc x y
//   LineTo #dc x y                     BitBlt #dst x y w h #src sx sy 0xROP
//   Polygon #dc count x y x y ...      (long point lists go on in lines starting "+")
//   Dump #dc x y w h                   (test directive: dump a block of a DC's pixels)
//   Digest #dc x y w h                 (test directive: a hash of the block instead)
//
// Blank lines and lines starting with "//" are ignored. A window of the trace becomes a
// memory DC holding a DIB section of its client size, created at its first GetDC or
// BeginPaint and kept (with its pixels) until the end; each GetDC/BeginPaint hands out
// that DC with the default pen, brush and position, as a window DC starts out.
//
// Every BitBlt onto a window DC is a presentation: after performing it, the replayer
// dumps the pixels of the destination block it wrote (the source block as it landed).
// "Dump" dumps a block of any DC directly. "Digest" reads the same block the same way
// but writes a 4 x 1 record in its place: the 64-bit FNV-1a hash of its pixels (each
// pixel 0x00RRGGBB as four little-endian bytes, rows top-down), 16 bits per word, low
// word first, so that long runs can check every frame without dumping every frame.
//
// Dump file: the 8 bytes "VISDUMP1", then per dump a little-endian int32 width, int32
// height and width x height uint32 pixels 0x00RRGGBB, rows top-down. The file is written
// under a temporary name and renamed when the whole trace has been replayed; on any error
// the replayer prints the line number and the reason, leaves no output and exits with 1.
//
// It does not check the results of the GDI calls (a failing call fails on both sides);
// it is an oracle, not a test of GDI.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

namespace {

struct Window {
  HDC dc = nullptr;
  HBITMAP dib = nullptr;
  HGDIOBJ originalBitmap = nullptr;
  int width = 0;
  int height = 0;
};

// The replay's clock (--time): the GDI calls' total, in counter ticks.
struct Clock {
  bool on = false;
  LONGLONG gdi = 0;
  LONGLONG now() const {
    if (!on) return 0;
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
  }
  void add(LONGLONG start) {
    if (on) gdi += now() - start;
  }
};

// One GDI call, timed when the replay is.
#define TIMED(call)                   \
  do {                                \
    const LONGLONG started_ = timer.now(); \
    call;                             \
    timer.add(started_);              \
  } while (0)

struct Replayer {
  Clock timer;
  long dumps = 0;
  std::map<unsigned, HGDIOBJ> objects;  // trace serial -> handle
  std::map<unsigned, Window> windows;
  std::map<unsigned, unsigned> windowOfDc;  // serial of a window DC -> window id
  std::vector<uint32_t> output;           // dump file body, in 32-bit words
  long lineNumber = 0;
  std::string error;

  HGDIOBJ handle(unsigned serial) const {
    auto it = objects.find(serial);
    return it == objects.end() ? nullptr : it->second;
  }
  HDC dc(unsigned serial) const { return static_cast<HDC>(handle(serial)); }

  bool fail(const std::string& why) {
    if (error.empty()) error = why;
    return false;
  }

  bool windowDc(unsigned id, int width, int height, unsigned serial);
  bool dump(HDC source, int x, int y, int width, int height, bool digest = false);
  bool line(const std::string& text, FILE* in);
};

// A small tokenizer over one line: "#N", "wK", decimal and hex numbers.
struct Tokens {
  const char* p;
  bool ok = true;

  void skipSpace() {
    while (*p == ' ' || *p == '\t' || *p == '\r') ++p;
  }
  bool atEnd() {
    skipSpace();
    return *p == 0;
  }
  bool word(const char* expected) {
    skipSpace();
    const size_t n = strlen(expected);
    if (strncmp(p, expected, n) != 0 || (p[n] != 0 && p[n] != ' ' && p[n] != '\t' && p[n] != '\r')) {
      return false;
    }
    p += n;
    return true;
  }
  long long number() {
    skipSpace();
    char* end = nullptr;
    long long v = strtoll(p, &end, 0);  // base 0: decimal or 0x... hex
    if (end == p) {
      ok = false;
      return 0;
    }
    p = end;
    return v;
  }
  int integer() {
    const long long v = number();
    if (v < INT32_MIN || v > 0xffffffffLL) ok = false;
    return static_cast<int>(v);
  }
  unsigned prefixed(char prefix) {
    skipSpace();
    if (*p != prefix) {
      ok = false;
      return 0;
    }
    ++p;
    const long long v = number();
    if (v < 0 || v > 0xffffffffLL) ok = false;
    return static_cast<unsigned>(v);
  }
  unsigned object() { return prefixed('#'); }
  unsigned window() { return prefixed('w'); }
};

bool Replayer::windowDc(unsigned id, int width, int height, unsigned serial) {
  if (width < 0 || height < 0 || width > 16384 || height > 16384) {
    return fail("window client size out of range");
  }
  Window& w = windows[id];
  if (!w.dc) {
    w.dc = CreateCompatibleDC(nullptr);
    if (!w.dc) return fail("CreateCompatibleDC for a window failed");
  }
  if (!w.dib || w.width != width || w.height != height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width > 0 ? width : 1;
    info.bmiHeader.biHeight = -(height > 0 ? height : 1);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!dib) return fail("CreateDIBSection for a window failed");
    HGDIOBJ previous = SelectObject(w.dc, dib);
    if (!w.originalBitmap) w.originalBitmap = previous;
    if (w.dib) DeleteObject(w.dib);
    w.dib = dib;
    w.width = width;
    w.height = height;
  }
  SelectObject(w.dc, GetStockObject(BLACK_PEN));
  SelectObject(w.dc, GetStockObject(WHITE_BRUSH));
  MoveToEx(w.dc, 0, 0, nullptr);
  if (serial) {
    objects[serial] = w.dc;
    windowOfDc[serial] = id;
  }
  return true;
}

// Copies a block of a DC through a top-down 32-bit DIB section and appends it.
bool Replayer::dump(HDC source, int x, int y, int width, int height, bool digest) {
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384) {
    return fail("dump block size out of range");
  }
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dib || !dc) return fail("cannot create the dump bitmap");
  HGDIOBJ old = SelectObject(dc, dib);
  // Pixels outside the source come out as this marker, which no test draws with.
  const uint32_t outside = 0x00fe01fe;
  uint32_t* p = static_cast<uint32_t*>(bits);
  for (int i = 0; i < width * height; ++i) p[i] = outside;
  if (source) BitBlt(dc, 0, 0, width, height, source, x, y, SRCCOPY);
  GdiFlush();
  if (digest) {
    uint64_t hash = 14695981039346656037ULL;
    for (int i = 0; i < width * height; ++i) {
      const uint32_t v = p[i] & 0x00ffffffu;
      for (int b = 0; b < 4; ++b) {
        hash ^= (v >> (8 * b)) & 0xffu;
        hash *= 1099511628211ULL;
      }
    }
    output.push_back(4);
    output.push_back(1);
    for (int k = 0; k < 4; ++k) output.push_back(static_cast<uint32_t>(hash >> (16 * k)) & 0xffffu);
  } else {
    output.push_back(static_cast<uint32_t>(width));
    output.push_back(static_cast<uint32_t>(height));
    for (int i = 0; i < width * height; ++i) output.push_back(p[i] & 0x00ffffffu);
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(dib);
  return true;
}

bool Replayer::line(const std::string& text, FILE* in) {
  Tokens t{text.c_str()};
  if (t.atEnd() || strncmp(t.p, "//", 2) == 0) return true;

  if (*t.p == '#') {
    // "#N = Call ..."
    const unsigned serial = t.object();
    if (!t.ok || !t.word("=")) return fail("expected \"#N = Call\"");
    HGDIOBJ made = nullptr;
    if (t.word("GetStockObject")) {
      TIMED(made = GetStockObject(t.integer()));
    } else if (t.word("CreatePen")) {
      const int style = t.integer();
      const int width = t.integer();
      const COLORREF color = static_cast<COLORREF>(t.number());
      TIMED(made = CreatePen(style, width, color));
    } else if (t.word("CreateSolidBrush")) {
      TIMED(made = CreateSolidBrush(static_cast<COLORREF>(t.number())));
    } else if (t.word("CreateBitmap")) {
      const int w = t.integer(), h = t.integer(), planes = t.integer(), bpp = t.integer();
      if (t.ok && static_cast<long long>(w) * h > (1LL << 26)) return fail("bitmap too large");
      if (t.ok) TIMED(made = CreateBitmap(w, h, planes, bpp, nullptr));
    } else if (t.word("CreateCompatibleDC")) {
      const unsigned reference = t.object();
      if (t.ok) TIMED(made = CreateCompatibleDC(reference ? dc(reference) : nullptr));
    } else if (t.word("GetDC") || t.word("BeginPaint")) {
      const unsigned id = t.window();
      const int w = t.integer(), h = t.integer();
      if (!t.ok || !t.atEnd()) return fail("bad window DC line");
      if (id == 0) return true;  // the screen: nothing to draw into, calls fail
      return windowDc(id, w, h, serial);
    } else {
      return fail("unknown call");
    }
    if (!t.ok || !t.atEnd()) return fail("bad arguments");
    if (serial && made) objects[serial] = made;
    return true;
  }

  if (t.word("SelectObject")) {
    const unsigned d = t.object(), o = t.object();
    if (!t.ok || !t.atEnd()) return fail("bad arguments");
    TIMED(SelectObject(dc(d), handle(o)));
  } else if (t.word("DeleteObject")) {
    const unsigned o = t.object();
    if (!t.ok || !t.atEnd()) return fail("bad arguments");
    TIMED(DeleteObject(handle(o)));
  } else if (t.word("DeleteDC")) {
    const unsigned d = t.object();
    if (!t.ok || !t.atEnd()) return fail("bad arguments");
    if (windowOfDc.count(d)) return fail("DeleteDC of a window DC");
    TIMED(DeleteDC(dc(d)));
    objects.erase(d);
  } else if (t.word("ReleaseDC") || t.word("EndPaint")) {
    t.window();
    const unsigned d = t.object();
    if (!t.ok || !t.atEnd()) return fail("bad arguments");
    objects.erase(d);
    windowOfDc.erase(d);
  } else if (t.word("FillRect")) {
    const unsigned d = t.object();
    RECT r;
    r.left = t.integer();
    r.top = t.integer();
    r.right = t.integer();
    r.bottom = t.integer();
    const unsigned b = t.object();
    if (!t.ok || !t.atEnd()) return fail("bad arguments");
    TIMED(FillRect(dc(d), &r, static_cast<HBRUSH>(handle(b))));
  } else if (t.word("Ellipse") || t.word("Rectangle")) {
    const bool ellipse = text.find("Ellipse") != std::string::npos;
    const unsigned d = t.object();
    const int l = t.integer(), tp = t.integer(), r = t.integer(), b = t.integer();
    if (!t.ok || !t.atEnd()) return fail("bad arguments");
    if (ellipse) {
      TIMED(Ellipse(dc(d), l, tp, r, b));
    } else {
      TIMED(Rectangle(dc(d), l, tp, r, b));
    }
  } else if (t.word("MoveToEx") || t.word("LineTo")) {
    const bool move = text.find("MoveToEx") != std::string::npos;
    const unsigned d = t.object();
    const int x = t.integer(), y = t.integer();
    if (!t.ok || !t.atEnd()) return fail("bad arguments");
    if (move) {
      TIMED(MoveToEx(dc(d), x, y, nullptr));
    } else {
      TIMED(LineTo(dc(d), x, y));
    }
  } else if (t.word("BitBlt")) {
    const unsigned d = t.object();
    const int x = t.integer(), y = t.integer(), w = t.integer(), h = t.integer();
    const unsigned s = t.object();
    const int sx = t.integer(), sy = t.integer();
    const DWORD rop = static_cast<DWORD>(t.number());
    if (!t.ok || !t.atEnd()) return fail("bad arguments");
    TIMED(BitBlt(dc(d), x, y, w, h, dc(s), sx, sy, rop));
    auto it = windowOfDc.find(d);
    if (it != windowOfDc.end() && w > 0 && h > 0) {
      // The block as it landed in the window, clipped to the client area.
      const Window& win = windows[it->second];
      const int left = x < 0 ? 0 : x, top = y < 0 ? 0 : y;
      const int right = x + w > win.width ? win.width : x + w;
      const int bottom = y + h > win.height ? win.height : y + h;
      if (right > left && bottom > top) return dump(dc(d), left, top, right - left, bottom - top);
    }
  } else if (t.word("Polygon")) {
    const unsigned d = t.object();
    const int count = t.integer();
    if (!t.ok || count < 0 || count > 1000000) return fail("bad point count");
    std::vector<POINT> points(count);
    std::string more;
    for (int i = 0; i < count; ++i) {
      for (int k = 0; k < 2; ++k) {
        while (t.ok && t.atEnd()) {
          // Continuation line: "+ x y x y ..."
          char buffer[1024];
          if (!fgets(buffer, sizeof buffer, in)) return fail("polygon points missing");
          ++lineNumber;
          more.assign(buffer);
          while (!more.empty() && (more.back() == '\n' || more.back() == '\r')) more.pop_back();
          if (more.empty() || more[0] != '+') return fail("expected a \"+\" continuation line");
          t.p = more.c_str() + 1;
        }
        const int v = t.integer();
        if (k == 0) {
          points[i].x = v;
        } else {
          points[i].y = v;
        }
      }
    }
    if (!t.ok || !t.atEnd()) return fail("bad polygon points");
    TIMED(Polygon(dc(d), count ? points.data() : nullptr, count));
  } else if (t.word("Dump") || t.word("Digest")) {
    const bool digest = text.find("Digest") != std::string::npos;
    const unsigned d = t.object();
    const int x = t.integer(), y = t.integer(), w = t.integer(), h = t.integer();
    if (!t.ok || !t.atEnd()) return fail("bad arguments");
    ++dumps;
    return dump(dc(d), x, y, w, h, digest);
  } else {
    return fail("unknown call");
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool timed = argc == 4 && strcmp(argv[1], "--time") == 0;
  if (timed) {
    --argc;
    ++argv;
  }
  if (argc != 3) {
    fprintf(stderr, "usage: replayer [--time] TRACE OUT\n");
    return 2;
  }
  FILE* in = fopen(argv[1], "rb");
  if (!in) {
    fprintf(stderr, "replayer: cannot open %s\n", argv[1]);
    return 1;
  }
  Replayer replayer;
  std::vector<char> whole;
  if (timed) {
    // The whole file becomes the stream's buffer, filled by the first read here, so
    // the timed loop reads from memory.
    fseek(in, 0, SEEK_END);
    const long size = ftell(in);
    fseek(in, 0, SEEK_SET);
    if (size < 0 || size > 0x70000000L) {
      fprintf(stderr, "replayer: cannot size %s\n", argv[1]);
      fclose(in);
      return 1;
    }
    whole.resize(static_cast<size_t>(size) + 2);
    setvbuf(in, whole.data(), _IOFBF, whole.size());
    const int first = fgetc(in);
    if (first != EOF) ungetc(first, in);
    replayer.timer.on = true;
  }
  LARGE_INTEGER frequency, loopStart, loopEnd;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&loopStart);
  std::string text;
  char buffer[1024];
  bool good = true;
  while (good && fgets(buffer, sizeof buffer, in)) {
    text.assign(buffer);
    // A line longer than the buffer comes in pieces; join them.
    while (!text.empty() && text.back() != '\n' && fgets(buffer, sizeof buffer, in)) text += buffer;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    ++replayer.lineNumber;
    good = replayer.line(text, in);
  }
  QueryPerformanceCounter(&loopEnd);
  if (good && ferror(in)) {
    replayer.error = "read error";
    good = false;
  }
  fclose(in);
  if (!good) {
    fprintf(stderr, "replayer: %s:%ld: %s\n", argv[1], replayer.lineNumber, replayer.error.c_str());
    return 1;
  }

  const std::string part = std::string(argv[2]) + ".part";
  FILE* out = fopen(part.c_str(), "wb");
  if (!out) {
    fprintf(stderr, "replayer: cannot write %s\n", part.c_str());
    return 1;
  }
  bool written = fwrite("VISDUMP1", 1, 8, out) == 8;
  if (!replayer.output.empty()) {
    written = written && fwrite(replayer.output.data(), 4, replayer.output.size(), out) ==
                             replayer.output.size();
  }
  written = (fclose(out) == 0) && written;
  if (timed && written) {
    const double ms = 1000.0 / static_cast<double>(frequency.QuadPart);
    printf("replay: %ld lines, loop %.3f ms, gdi %.3f ms, %ld dumps\n", replayer.lineNumber,
           static_cast<double>(loopEnd.QuadPart - loopStart.QuadPart) * ms,
           static_cast<double>(replayer.timer.gdi) * ms, replayer.dumps);
  }
  if (!written || !MoveFileExA(part.c_str(), argv[2], MOVEFILE_REPLACE_EXISTING)) {
    remove(part.c_str());
    fprintf(stderr, "replayer: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
