// vis_host: a Win32 host for vis_orlim.dll, run under Wine by the Linux-side tests.
//
// It plays the media player's part as a real host does: loads the DLL by path, reads
// the header, lists the modules, and runs one module on this one thread with a message
// loop: a main window that answers the plug-in's requests, a frame-window factory,
// init, a render every frame interval with spectrum read from a file, the window
// commands, key presses, a resize of the frame, and quit. Everything the plug-in does
// that a host can see goes into a text report, one event per line, in order; the
// Linux side checks the report. It does not judge the run itself, beyond refusing bad
// arguments and input.
//
// Usage: vis_host --dll PATH --report FILE [--list] [--module N] [--frames N]
//          [--interval MS] [--spectrum FILE] [--no-factory] [--video N]
//          [--time-ms N] [--commands] [--keys] [--resize X,Y,W,H] [--config]
//          [--capture DIR] [--capture-every N] [--trace-frame N] [--then-module N]
// The spectrum file holds frames of 1152 bytes (channel 0's 576 bands, then channel
// 1's); the frames are used in order and repeat. --capture writes, every N-th frame
// (every frame by default), the window's pixels as read from its DC and the plug-in's
// surface, as window_NNNN.ppm and surface_NNNN.ppm. --trace-frame reports the
// MoveToEx, LineTo, Ellipse and Polygon calls of one render. --then-module runs a
// second module in the same process after the first one's quit (its phases are named
// second_*): before that quit the toggle is set to 1, and the second run reports it.
#include <windows.h>

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "gdi_watch.h"
#include "vis_header.h"

namespace {

// ---- Options ---------------------------------------------------------------------

struct Options {
  std::string dll;
  std::string report;
  bool list = false;
  int module = 0;
  int frames = 100;
  int interval = 25;
  std::string spectrum;
  bool noFactory = false;
  int video = 0;
  bool fixTime = false;
  int timeMs = 0;
  bool commands = false;
  bool keys = false;
  bool resize = false;
  int resizeX = 0, resizeY = 0, resizeW = 0, resizeH = 0;
  bool config = false;
  std::string capture;
  int captureEvery = 1;
  int traceFrame = -1;
  int thenModule = -1;
};

bool parseInt(const char* text, int* out) {
  char* end = nullptr;
  long v = strtol(text, &end, 10);
  if (!*text || *end) return false;
  *out = static_cast<int>(v);
  return true;
}

bool parseOptions(int argc, char** argv, Options* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const char** out) {
      if (i + 1 >= argc) {
        *error = "missing value after " + a;
        return false;
      }
      *out = argv[++i];
      return true;
    };
    const char* v = nullptr;
    if (a == "--list") {
      o->list = true;
    } else if (a == "--no-factory") {
      o->noFactory = true;
    } else if (a == "--commands") {
      o->commands = true;
    } else if (a == "--keys") {
      o->keys = true;
    } else if (a == "--config") {
      o->config = true;
    } else if (a == "--dll" || a == "--report" || a == "--spectrum" || a == "--capture") {
      if (!value(&v)) return false;
      (a == "--dll" ? o->dll : a == "--report" ? o->report : a == "--spectrum" ? o->spectrum
                                                                              : o->capture) = v;
    } else if (a == "--module" || a == "--frames" || a == "--interval" || a == "--video" ||
               a == "--time-ms" || a == "--capture-every" || a == "--trace-frame" ||
               a == "--then-module") {
      if (!value(&v)) return false;
      int n;
      if (!parseInt(v, &n) || n < 0) {
        *error = "not a non-negative integer after " + a + ": " + v;
        return false;
      }
      if (a == "--module") o->module = n;
      if (a == "--frames") o->frames = n;
      if (a == "--interval") o->interval = n;
      if (a == "--video") o->video = n;
      if (a == "--trace-frame") o->traceFrame = n;
      if (a == "--then-module") o->thenModule = n;
      if (a == "--capture-every") {
        if (n < 1) {
          *error = "--capture-every wants at least 1";
          return false;
        }
        o->captureEvery = n;
      }
      if (a == "--time-ms") {
        o->fixTime = true;
        o->timeMs = n;
      }
    } else if (a == "--resize") {
      if (!value(&v)) return false;
      if (sscanf(v, "%d,%d,%d,%d", &o->resizeX, &o->resizeY, &o->resizeW, &o->resizeH) != 4 ||
          o->resizeW < 1 || o->resizeH < 1) {
        *error = std::string("--resize wants X,Y,W,H with W and H at least 1, not ") + v;
        return false;
      }
      o->resize = true;
    } else {
      *error = "unknown argument " + a;
      return false;
    }
  }
  if (o->dll.empty() || o->report.empty()) {
    *error = "--dll and --report are required";
    return false;
  }
  if (!o->list && o->spectrum.empty()) {
    *error = "--spectrum is required to run a module";
    return false;
  }
  return true;
}

// ---- Report ----------------------------------------------------------------------

FILE* reportFile = nullptr;

void event(const std::string& line) {
  fputs(line.c_str(), reportFile);
  fputc('\n', reportFile);
  fflush(reportFile);
}

void eventf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void eventf(const char* format, ...) {
  char line[2048];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  event(line);
}

// Texts go into the report between double quotes, with line breaks, quotes and
// backslashes escaped, so that one event stays one line.
std::string quoted(const char* text) {
  std::string q = "\"";
  for (const char* p = text; *p; ++p) {
    if (*p == '\n') q += "\\n";
    else if (*p == '\r') q += "\\r";
    else if (*p == '"') q += "\\\"";
    else if (*p == '\\') q += "\\\\";
    else q += *p;
  }
  return q + "\"";
}

// ---- Host state ------------------------------------------------------------------

Options options;
HMODULE plugin = nullptr;
VisModule* running = nullptr;
HWND mainWindow = nullptr;
HWND frameWindow = nullptr;
HWND visWindow = nullptr;       // as announced by HOST_SET_VIS_WINDOW
int videoAnswer = 0;
std::string iniPath;
HHOOK cbtHook = nullptr;
int boxes = 0;

const char* windowName(HWND w) {
  if (!w) return "0";
  if (w == mainWindow) return "host";
  if (w == frameWindow) return "frame";
  if (w == visWindow) return "vis";
  return "other";
}

// ---- Message boxes ---------------------------------------------------------------

LRESULT CALLBACK cbtProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    HWND box = reinterpret_cast<HWND>(wParam);
    char cls[64] = "";
    GetClassNameA(box, cls, sizeof cls);
    if (strcmp(cls, "#32770") == 0) {
      char caption[512] = "", text[2048] = "";
      GetWindowTextA(box, caption, sizeof caption);
      // A message box's text is the static control with identifier 0xFFFF.
      GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
      std::string buttons;
      for (int id = IDOK; id <= IDCONTINUE; ++id)
        if (GetDlgItem(box, id)) buttons += (buttons.empty() ? "" : ",") + std::to_string(id);
      ++boxes;
      eventf("messagebox caption=%s text=%s owner=%s buttons=%s", quoted(caption).c_str(),
             quoted(text).c_str(), windowName(GetWindow(box, GW_OWNER)),
             buttons.empty() ? "none" : buttons.c_str());
      // Answer as a user pressing OK would; the box returns once this is handled.
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  }
  return CallNextHookEx(cbtHook, code, wParam, lParam);
}

// ---- Windows ---------------------------------------------------------------------

void fitChild(HWND frame) {
  HWND child = GetWindow(frame, GW_CHILD);
  if (!child) return;
  RECT client;
  GetClientRect(frame, &client);
  MoveWindow(child, 0, 0, client.right, client.bottom, TRUE);
}

const DWORD frameStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

// The frame's outer rectangle for a client area of width x height with its top-left
// window corner at (x, y).
RECT outerRect(int x, int y, int width, int height) {
  RECT r = {0, 0, width, height};
  AdjustWindowRectEx(&r, frameStyle, FALSE, 0);
  return {x, y, x + (r.right - r.left), y + (r.bottom - r.top)};
}

std::string readIniValue(const char* key) {
  if (!running) return "none";
  int v = GetPrivateProfileIntA(running->description, key, -999999, iniPath.c_str());
  return v == -999999 ? std::string("missing") : std::to_string(v);
}

LRESULT CALLBACK frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      fitChild(window);
      break;
    case WM_PARENTNOTIFY:
      // A real host lays its embedded child out as soon as it appears.
      if (LOWORD(wParam) == WM_CREATE) fitChild(window);
      break;
    case WM_SETTEXT:
      eventf("frame_text text=%s", quoted(reinterpret_cast<const char*>(lParam)).c_str());
      break;
    case WM_SHOWWINDOW:
      eventf("frame_show show=%d", static_cast<int>(wParam));
      break;
    case WM_DESTROY: {
      // What the settings file holds at the moment the frame goes.
      eventf("frame_destroy ini_x=%s ini_y=%s vis_alive=%d", readIniValue("Screen_x").c_str(),
             readIniValue("Screen_y").c_str(), IsWindow(visWindow) ? 1 : 0);
      break;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND embedFactory(EmbedRecord* record) {
  const RECT& r = record->rect;
  eventf("factory left=%ld top=%ld right=%ld bottom=%ld flags=%d frame_before=%s", r.left, r.top,
         r.right, r.bottom, record->flags, record->frame ? "set" : "0");
  const int width = r.right - r.left, height = r.bottom - r.top;
  RECT outer = outerRect(r.left, r.top, width > 0 ? width : 1, height > 0 ? height : 1);
  frameWindow = CreateWindowExA(0, "VisHostFrame", "", frameStyle, outer.left, outer.top,
                                outer.right - outer.left, outer.bottom - outer.top, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  record->frame = frameWindow;
  return frameWindow;
}

LRESULT CALLBACK mainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER) {
    LRESULT result = 0;
    std::string extra;
    switch (lParam) {
      case HOST_QUERY_VIDEO_PLAYING:
        result = videoAnswer;
        break;
      case HOST_GET_EMBED_FACTORY:
        result = options.noFactory ? 0 : reinterpret_cast<LRESULT>(&embedFactory);
        break;
      case HOST_SET_VIS_WINDOW: {
        HWND w = reinterpret_cast<HWND>(wParam);
        if (w) {
          visWindow = w;
          char cls[64] = "";
          GetClassNameA(w, cls, sizeof cls);
          RECT client;
          GetClientRect(w, &client);
          char buf[256];
          snprintf(buf, sizeof buf, " class=%s parent=%s style=0x%08lx client=%ldx%ld",
                   quoted(cls).c_str(), windowName(GetParent(w)),
                   static_cast<unsigned long>(GetWindowLongA(w, GWL_STYLE)), client.right,
                   client.bottom);
          extra = buf;
        }
        break;
      }
    }
    const char* arg = lParam == HOST_SET_VIS_WINDOW ? windowName(reinterpret_cast<HWND>(wParam))
                                                    : nullptr;
    if (arg)
      eventf("request code=%ld wparam=%s result=%ld%s", static_cast<long>(lParam), arg,
             static_cast<long>(result), extra.c_str());
    else
      eventf("request code=%ld wparam=%ld result=%s", static_cast<long>(lParam),
             static_cast<long>(wParam),
             lParam == HOST_GET_EMBED_FACTORY ? (result ? "factory" : "0")
                                              : std::to_string(result).c_str());
    return result;
  }
  if (message == WM_KEYDOWN || message == WM_KEYUP) {
    eventf("host_key message=%u wparam=%lu lparam=0x%08lx", message,
           static_cast<unsigned long>(wParam), static_cast<unsigned long>(lParam));
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

bool quitMessageSeen = false;

// Serves the thread's queue until the deadline (GetTickCount) passes.
void pumpUntil(DWORD deadline) {
  for (;;) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quitMessageSeen = true;
        continue;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    DWORD now = GetTickCount();
    if (static_cast<int>(deadline - now) <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, deadline - now, QS_ALLINPUT);
  }
}

void pump() { pumpUntil(GetTickCount()); }

// ---- Frames ----------------------------------------------------------------------

std::vector<unsigned char> spectrumData;
size_t spectrumFrames = 0;
const size_t spectrumFrameBytes = VIS_SPECTRUM_CHANNELS * VIS_SPECTRUM_BANDS;

bool loadSpectrum(const std::string& path, std::string* error) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) {
    *error = "cannot open the spectrum file " + path;
    return false;
  }
  unsigned char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) spectrumData.insert(spectrumData.end(), buf, buf + n);
  fclose(f);
  if (spectrumData.empty() || spectrumData.size() % spectrumFrameBytes) {
    *error = "the spectrum file " + path + " holds " + std::to_string(spectrumData.size()) +
             " bytes, not a whole non-zero number of 1152-byte frames";
    return false;
  }
  spectrumFrames = spectrumData.size() / spectrumFrameBytes;
  return true;
}

struct Capture {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
  uint32_t* pixels = nullptr;
  int width = 0, height = 0;
};

void releaseCapture(Capture* c) {
  if (!c->dc) return;
  SelectObject(c->dc, c->previous);
  DeleteDC(c->dc);
  DeleteObject(c->bitmap);
  *c = Capture();
}

// A top-down 32-bit DIB section that the host copies a DC's pixels into.
bool makeCapture(Capture* c, int width, int height) {
  if (c->dc && c->width == width && c->height == height) return true;
  releaseCapture(c);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  c->bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!c->bitmap) return false;
  c->dc = CreateCompatibleDC(nullptr);
  c->previous = SelectObject(c->dc, c->bitmap);
  c->pixels = static_cast<uint32_t*>(bits);
  c->width = width;
  c->height = height;
  return true;
}

Capture windowCapture, surfaceCapture;

// Writes the pixels as a binary PPM: easy to read back, easy to look at.
void writePpm(const std::string& path, const Capture& c) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) {
    eventf("capture_error path=%s", quoted(path.c_str()).c_str());
    return;
  }
  fprintf(f, "P6\n%d %d\n255\n", c.width, c.height);
  std::vector<unsigned char> row(c.width * 3);
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      uint32_t p = c.pixels[y * c.width + x];
      row[x * 3] = (p >> 16) & 0xff;
      row[x * 3 + 1] = (p >> 8) & 0xff;
      row[x * 3 + 2] = p & 0xff;
    }
    fwrite(row.data(), 1, row.size(), f);
  }
  fclose(f);
}

struct RenderTotals {
  int renders = 0;
  int nonZero = 0;
  int blitsNotOne = 0;      // renders that did not copy exactly one block to the window
  int leakingRenders = 0;   // renders after which a pen or brush they made was alive
  int leakedObjects = 0;
  int compared = 0;         // presented frames compared with the surface
  int mismatched = 0;       // ... that differed from it
  int marked = 0;           // ... that still showed the host's marker somewhere
  double renderSeconds = 0; // time spent inside render
};
RenderTotals totals;

const uint32_t markerColor = 0x00FF00FF;  // magenta in a 32-bit DIB, never drawn by an effect

// Reads back what the last render presented: the visualisation window's pixels, from
// its DC, against the plug-in's own surface.
void captureFrame(int frame) {
  if (!visWindow || !IsWindow(visWindow)) return;
  RECT client;
  GetClientRect(visWindow, &client);
  if (client.right < 1 || client.bottom < 1) return;
  if (!makeCapture(&windowCapture, client.right, client.bottom)) return;
  HDC dc = GetDC(visWindow);
  BitBlt(windowCapture.dc, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
  ReleaseDC(visWindow, dc);
  HDC surface = gdiWatch.surfaceDc;
  HGDIOBJ bitmap = surface ? GetCurrentObject(surface, OBJ_BITMAP) : nullptr;
  BITMAP info = {};
  if (bitmap && GetObjectA(bitmap, sizeof info, &info) && makeCapture(&surfaceCapture, info.bmWidth, info.bmHeight)) {
    BitBlt(surfaceCapture.dc, 0, 0, info.bmWidth, info.bmHeight, surface, 0, 0, SRCCOPY);
    const int w = info.bmWidth < client.right ? info.bmWidth : client.right;
    const int h = info.bmHeight < client.bottom ? info.bmHeight : client.bottom;
    int differ = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if ((windowCapture.pixels[y * windowCapture.width + x] & 0xffffff) !=
            (surfaceCapture.pixels[y * surfaceCapture.width + x] & 0xffffff))
          ++differ;
    ++totals.compared;
    if (differ) ++totals.mismatched;
    if (differ && totals.mismatched <= 3)
      eventf("present_mismatch frame=%d pixels=%d window=%ldx%ld surface=%ldx%ld", frame, differ,
             client.right, client.bottom, info.bmWidth, info.bmHeight);
  }
  int marked = 0;
  for (int i = 0; i < windowCapture.width * windowCapture.height; ++i)
    if ((windowCapture.pixels[i] & 0xffffff) == markerColor) ++marked;
  if (marked) ++totals.marked;
  if (!options.capture.empty() && frame % options.captureEvery == 0) {
    char name[64];
    snprintf(name, sizeof name, "\\window_%04d.ppm", frame);
    writePpm(options.capture + name, windowCapture);
    if (surfaceCapture.dc) {
      snprintf(name, sizeof name, "\\surface_%04d.ppm", frame);
      writePpm(options.capture + name, surfaceCapture);
    }
  }
}

// Paints the window with the marker colour, so that a frame the plug-in failed to
// present shows up as the marker in the capture.
void markWindow() {
  if (!visWindow || !IsWindow(visWindow)) return;
  RECT client;
  GetClientRect(visWindow, &client);
  HDC dc = GetDC(visWindow);
  HBRUSH marker = CreateSolidBrush(RGB(0xFF, 0x00, 0xFF));
  FillRect(dc, &client, marker);
  DeleteObject(marker);
  ReleaseDC(visWindow, dc);
}

int frameCounter = 0;

// Phases of a second module's run in the same process are reported with a prefix.
std::string phasePrefix;
void beginPhase(const char* name) { event("phase name=" + phasePrefix + name); }

void renderOnce() {
  const unsigned char* src = &spectrumData[(frameCounter % spectrumFrames) * spectrumFrameBytes];
  memcpy(running->spectrum, src, spectrumFrameBytes);
  running->channels = 2;
  markWindow();
  gdiWatch.currentRender = frameCounter;
  gdiWatch.windowBlitsThisRender = 0;
  const size_t firstRecord = gdiWatch.records.size();
  LARGE_INTEGER start, stop, frequency;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  int result = running->render(running);
  QueryPerformanceCounter(&stop);
  totals.renderSeconds += double(stop.QuadPart - start.QuadPart) / double(frequency.QuadPart);
  gdiWatch.currentRender = -1;
  ++totals.renders;
  if (result != 0) ++totals.nonZero;
  if (gdiWatch.windowBlitsThisRender != 1) ++totals.blitsNotOne;
  auto live = liveObjectsOfRender(frameCounter, firstRecord);
  if (!live.empty()) {
    ++totals.leakingRenders;
    totals.leakedObjects += static_cast<int>(live.size());
    if (totals.leakingRenders <= 3) {
      int pens = 0, brushes = 0;
      for (auto* r : live) (r->type == OBJ_PEN ? pens : brushes)++;
      eventf("render_leak frame=%d pens=%d brushes=%d", frameCounter, pens, brushes);
    }
  }
  captureFrame(frameCounter);
  ++frameCounter;
}

void renderFrames(int count) {
  DWORD next = GetTickCount();
  for (int i = 0; i < count; ++i) {
    renderOnce();
    if (options.interval > 0) {
      next += options.interval;
      pumpUntil(next);
    } else {
      pump();
    }
  }
}

void reportRenders(const char* phase) {
  eventf("renders phase=%s count=%d nonzero_results=%d blits_not_one=%d leaking_renders=%d "
         "leaked_objects=%d compared=%d mismatched=%d marked=%d ms_per_render=%.3f",
         phase, totals.renders, totals.nonZero, totals.blitsNotOne, totals.leakingRenders,
         totals.leakedObjects, totals.compared, totals.mismatched, totals.marked,
         totals.renders ? 1000.0 * totals.renderSeconds / totals.renders : 0.0);
  totals = RenderTotals();
}

void sendCommand(int id, int high) {
  eventf("command id=%d high=0x%X video=%d", id, high, videoAnswer);
  LRESULT r = SendMessageA(visWindow, WM_COMMAND, MAKEWPARAM(id, high), 0);
  pump();
  eventf("command_done result=%ld", static_cast<long>(r));
}

void runCommands() {
  beginPhase("commands");
  // Toggle: report, set with a non-zero argument, report, clear, report.
  sendCommand(CMD_TOGGLE, 0xFFFF);
  sendCommand(CMD_TOGGLE, 5);
  sendCommand(CMD_TOGGLE, 0xFFFF);
  sendCommand(CMD_TOGGLE, 0);
  sendCommand(CMD_TOGGLE, 0xFFFF);
  // Full screen under each video answer.
  for (int video : {0, 1, 2}) {
    videoAnswer = video;
    sendCommand(CMD_FULLSCREEN, 0);
  }
  videoAnswer = options.video;
  // The rest of the command range, and one code outside it, do nothing.
  for (int id : {40382, 40383, 40385, 40386, 40387, 40388, 40390, 40391, 40392})
    sendCommand(id, 1);
  sendCommand(CMD_TOGGLE, 0xFFFF);
}

void runKeys() {
  beginPhase("keys");
  struct Key {
    UINT message;
    WPARAM key;
    LPARAM bits;
  } keys[] = {{WM_KEYDOWN, 'A', 0x001E0001}, {WM_KEYUP, 'A', static_cast<LPARAM>(0xC01E0001u)},
              {WM_KEYDOWN, VK_ESCAPE, 0x00010001}, {WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001u)}};
  for (const Key& k : keys) {
    LRESULT r = SendMessageA(visWindow, k.message, k.key, k.bits);
    eventf("key message=%u wparam=%lu lparam=0x%08lx result=%ld", k.message,
           static_cast<unsigned long>(k.key), static_cast<unsigned long>(k.bits),
           static_cast<long>(r));
    pump();
  }
}

void runResize() {
  beginPhase("resize");
  RECT outer = outerRect(options.resizeX, options.resizeY, options.resizeW, options.resizeH);
  SetWindowPos(frameWindow, nullptr, outer.left, outer.top, outer.right - outer.left,
               outer.bottom - outer.top, SWP_NOZORDER | SWP_NOACTIVATE);
  pump();
  RECT frameRect, client, visClient;
  GetWindowRect(frameWindow, &frameRect);
  GetClientRect(frameWindow, &client);
  GetClientRect(visWindow, &visClient);
  eventf("resized frame_left=%ld frame_top=%ld frame_client=%ldx%ld vis_client=%ldx%ld",
         frameRect.left, frameRect.top, client.right, client.bottom, visClient.right,
         visClient.bottom);
}

void reportGdi(const char* when) {
  eventf("gdi when=%s pens=%d brushes=%d bitmaps=%d memdcs=%d live_pens=%d live_brushes=%d "
         "live_bitmaps=%d live_memdcs=%d",
         when, recordsOfType(OBJ_PEN), recordsOfType(OBJ_BRUSH), recordsOfType(OBJ_BITMAP),
         recordsOfType(OBJ_MEMDC), liveRecordsOfType(OBJ_PEN), liveRecordsOfType(OBJ_BRUSH),
         liveRecordsOfType(OBJ_BITMAP), liveRecordsOfType(OBJ_MEMDC));
}

unsigned long guiObjects() { return GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS); }

bool classRegistered() {
  WNDCLASSA wc;
  return GetClassInfoA(reinterpret_cast<HINSTANCE>(plugin), "SimpleVis", &wc) != 0;
}

void reportIniFile() {
  FILE* f = fopen(iniPath.c_str(), "rb");
  if (!f) {
    event("ini_file exists=0");
    return;
  }
  event("ini_file exists=1");
  char line[512];
  while (fgets(line, sizeof line, f)) {
    size_t n = strlen(line);
    while (n && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = 0;
    eventf("ini_line text=%s", quoted(line).c_str());
  }
  fclose(f);
}

int runModule(int index, bool second) {
  VisHeader* (*getHeader)() = nullptr;
  getHeader = reinterpret_cast<VisHeader* (*)()>(reinterpret_cast<void*>(GetProcAddress(plugin, "winampVisGetHeader")));
  VisHeader* header = getHeader();
  running = header->lookupModule(index);
  if (!running) {
    eventf("error text=%s", quoted("no module with that index").c_str());
    return 2;
  }
  eventf("run module=%d description=%s", index, quoted(running->description).c_str());

  WNDCLASSA frameClass = {};
  frameClass.lpfnWndProc = frameProc;
  frameClass.hInstance = GetModuleHandleA(nullptr);
  frameClass.lpszClassName = "VisHostFrame";
  frameClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  if (!second) RegisterClassA(&frameClass);

  running->hostWindow = mainWindow;
  running->moduleInstance = reinterpret_cast<HINSTANCE>(plugin);
  running->sampleRate = 44100;
  running->channels = 2;

  if (options.config && !second) {
    beginPhase("config");
    running->config(running);
    event("config_returned");
  }

  const unsigned long guiBefore = guiObjects();
  beginPhase("init");
  int result = running->init(running);
  pump();
  eventf("init result=%d", result);
  const unsigned long guiAfterInit = guiObjects();
  eventf("class_registered when=init value=%d", classRegistered() ? 1 : 0);
  if (frameWindow) {
    RECT fr, fc;
    GetWindowRect(frameWindow, &fr);
    GetClientRect(frameWindow, &fc);
    char title[256] = "";
    GetWindowTextA(frameWindow, title, sizeof title);
    eventf("frame left=%ld top=%ld client=%ldx%ld visible=%d title=%s", fr.left, fr.top,
           fc.right, fc.bottom, IsWindowVisible(frameWindow) ? 1 : 0, quoted(title).c_str());
  }
  if (visWindow) {
    RECT vc;
    GetClientRect(visWindow, &vc);
    eventf("vis client=%ldx%ld user_data_is_module=%d", vc.right, vc.bottom,
           GetWindowLongA(visWindow, GWL_USERDATA) == reinterpret_cast<LONG>(running) ? 1 : 0);
  }
  if (result != 0) {
    eventf("windows frame=%d vis=%d", frameWindow ? 1 : 0, visWindow ? 1 : 0);
    eventf("gui_resources before=%lu after_init=%lu", guiBefore, guiAfterInit);
    reportGdi("failed_init");
    reportIniFile();
    return 0;
  }

  beginPhase("render");
  const int firstPart = options.resize ? options.frames / 2 : options.frames;
  renderFrames(firstPart);
  reportRenders("render");
  reportGdi("rendered");
  if (options.commands && !second) runCommands();
  if (options.keys && !second) runKeys();
  if (second) {
    beginPhase("toggle");
    sendCommand(CMD_TOGGLE, 0xFFFF);
  } else if (options.thenModule >= 0) {
    // A value the next run must inherit.
    beginPhase("carry");
    sendCommand(CMD_TOGGLE, 1);
  }
  if (options.resize && !second) {
    runResize();
    beginPhase("render_after_resize");
    renderFrames(options.frames - firstPart);
    reportRenders("render_after_resize");
    eventf("last_capture width=%d height=%d", windowCapture.width, windowCapture.height);
  }

  beginPhase("quit");
  HWND visBefore = visWindow;
  running->quit(running);
  event("quit_returned");
  pumpUntil(GetTickCount() + 200);
  eventf("after_quit wm_quit=%d frame_alive=%d vis_alive=%d", quitMessageSeen ? 1 : 0,
         IsWindow(frameWindow) ? 1 : 0, IsWindow(visBefore) ? 1 : 0);
  eventf("class_registered when=quit value=%d", classRegistered() ? 1 : 0);
  releaseCapture(&windowCapture);
  releaseCapture(&surfaceCapture);
  eventf("gui_resources before=%lu after_init=%lu after_quit=%lu", guiBefore, guiAfterInit,
         guiObjects());
  reportGdi("quit");
  eventf("ini read_x=%s read_y=%s", readIniValue("Screen_x").c_str(),
         readIniValue("Screen_y").c_str());
  reportIniFile();
  return 0;
}

int listModules() {
  auto getHeader = reinterpret_cast<VisHeader* (*)()>(reinterpret_cast<void*>(GetProcAddress(plugin, "winampVisGetHeader")));
  VisHeader* header = getHeader();
  eventf("header version=%d description=%s same_on_second_call=%d", header->version,
         quoted(header->description).c_str(), getHeader() == header ? 1 : 0);
  for (int i = 0; i < 4; ++i) {
    VisModule* m = header->lookupModule(i);
    if (!m) {
      eventf("module index=%d null=1", i);
      continue;
    }
    eventf("module index=%d description=%s latency=%d interval=%d spectrum_channels=%d "
           "waveform_channels=%d config=%d init=%d render=%p quit=%d data=%d",
           i, quoted(m->description).c_str(), m->latencyMillis, m->frameIntervalMillis,
           m->spectrumChannels, m->waveformChannels, m->config ? 1 : 0, m->init ? 1 : 0,
           reinterpret_cast<void*>(m->render), m->quit ? 1 : 0, m->moduleData ? 1 : 0);
  }
  for (int i : {4, -1, 1000000}) eventf("lookup index=%d null=%d", i, header->lookupModule(i) ? 0 : 1);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  if (!parseOptions(argc, argv, &options, &error)) {
    fprintf(stderr, "vis_host: %s\n", error.c_str());
    return 2;
  }
  if (!options.list && !loadSpectrum(options.spectrum, &error)) {
    fprintf(stderr, "vis_host: %s\n", error.c_str());
    return 2;
  }
  reportFile = fopen(options.report.c_str(), "wb");
  if (!reportFile) {
    fprintf(stderr, "vis_host: cannot write the report %s\n", options.report.c_str());
    return 2;
  }
  videoAnswer = options.video;
  gdiWatch.sink = event;
  gdiWatch.overrideTime = options.fixTime;
  gdiWatch.traceRender = options.traceFrame;
  gdiWatch.overrideMillis = static_cast<WORD>(options.timeMs);

  plugin = LoadLibraryA(options.dll.c_str());
  if (!plugin) {
    eventf("error text=%s code=%lu", quoted("LoadLibraryA failed").c_str(), GetLastError());
    fclose(reportFile);
    fprintf(stderr, "vis_host: LoadLibraryA(%s) failed, error %lu\n", options.dll.c_str(),
            GetLastError());
    return 3;
  }
  char path[MAX_PATH] = "";
  GetModuleFileNameA(plugin, path, sizeof path);
  iniPath = path;
  iniPath = iniPath.substr(0, iniPath.find_last_of("\\/") + 1) + "plugin.ini";
  eventf("dll path=%s", quoted(path).c_str());
  if (!GetProcAddress(plugin, "winampVisGetHeader")) {
    eventf("error text=%s", quoted("winampVisGetHeader is not exported").c_str());
    fclose(reportFile);
    fprintf(stderr, "vis_host: winampVisGetHeader is not exported by %s\n", options.dll.c_str());
    return 3;
  }
  if (!installGdiWatch(plugin, &error)) {
    eventf("error text=%s", quoted(error.c_str()).c_str());
    fclose(reportFile);
    fprintf(stderr, "vis_host: %s\n", error.c_str());
    return 3;
  }
  std::string imports, untracked;
  for (auto& n : gdiWatch.gdiImports) imports += (imports.empty() ? "" : ",") + n;
  for (auto& n : gdiWatch.untracked) untracked += (untracked.empty() ? "" : ",") + n;
  eventf("gdi_imports names=%s", imports.c_str());
  eventf("gdi_untracked names=%s", untracked.c_str());
  eventf("watch patched=%d", gdiWatch.patched);

  int status;
  if (options.list) {
    status = listModules();
  } else {
    WNDCLASSA mainClass = {};
    mainClass.lpfnWndProc = mainProc;
    mainClass.hInstance = GetModuleHandleA(nullptr);
    mainClass.lpszClassName = "VisHostMain";
    RegisterClassA(&mainClass);
    mainWindow = CreateWindowExA(0, "VisHostMain", "vis_host", WS_OVERLAPPEDWINDOW, 0, 0, 200,
                                 100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!mainWindow) {
      eventf("error text=%s code=%lu", quoted("cannot create the host window").c_str(),
             GetLastError());
      fclose(reportFile);
      fprintf(stderr, "vis_host: cannot create the host window (no display?), error %lu\n",
              GetLastError());
      return 3;
    }
    cbtHook = SetWindowsHookExA(WH_CBT, cbtProc, nullptr, GetCurrentThreadId());
    if (!cbtHook) {
      fclose(reportFile);
      fprintf(stderr, "vis_host: cannot install the message box hook, error %lu\n", GetLastError());
      return 3;
    }
    status = runModule(options.module, false);
    if (status == 0 && options.thenModule >= 0) {
      phasePrefix = "second_";
      frameWindow = visWindow = nullptr;
      quitMessageSeen = false;
      status = runModule(options.thenModule, true);
    }
    UnhookWindowsHookEx(cbtHook);
    if (IsWindow(mainWindow)) DestroyWindow(mainWindow);
  }
  eventf("messageboxes count=%d", boxes);
  event("end");
  fclose(reportFile);
  return status;
}
