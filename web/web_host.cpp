// The page's side of WebAssembly: the plug-in hosted as `orlimvis` hosts it (the host's
// windows and answers, the frame clock, the analyser, the keys of `play`), with the
// audio coming from JavaScript instead of a decoder. The page writes the samples its
// AudioWorklet hands over into webInput() and calls webFeed(); every frame whose
// analysis window the samples complete is analysed and rendered, in order, so the
// plug-in renders once per interval of audio time whatever the display's refresh. The
// page shows the latest frame with webFramePixels(): the frame's pixels turned into the
// canvas's byte order in a buffer of this memory, which the page hands to the canvas
// as it is.
//
// It does not decode, play or capture anything (the browser does), and it keeps no
// state in JavaScript's place: which module runs, the clock and the feed live here.
// One page, one host: the exported functions work on the one WebPage below.
#include <emscripten/emscripten.h>  // EMSCRIPTEN_KEEPALIVE: the functions the page calls
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>  // strtol
#include <string.h>
#include <strings.h>
#include <sys/stat.h>  // mkdir: the settings file's folder

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "audio/audio_clip.h"
#include "audio/demo_tune.h"
#include "frame_clock.h"
#include "host/host_windows.h"
#include "keys.h"
#include "spectrum/analyser.h"
#include "vis_header.h"
#include "visplatform.h"

namespace {

// Where the plug-in thinks it lives, so its settings file is /orlimvis/plugin.ini in
// the page's memory file system; the page keeps that file in local storage.
const char kSettingsFolder[] = "/orlimvis";
const char kLibraryPath[] = "/orlimvis/vis_orlim.dll";
const char kSettingsPath[] = "/orlimvis/plugin.ini";

// What webKey() tells the page to do; the numbers are the page's too (page.js).
enum PageAction { kNone = 0, kSwitched = 1, kFullscreen = 2, kPause = 3, kSeek = 4, kQuit = 5 };

class WebPage : private HostWindowsListener {
 public:
  bool open(int sampleRate, double sensitivity, std::string* error) {
    close();
    mkdir(kSettingsFolder, 0755);
    visSetModuleFileNameOverride(kLibraryPath);
    header_ = winampVisGetHeader();
    for (int i = 0; header_; ++i) {
      VisModule* m = header_->lookupModule(i);
      if (!m) break;
      modules_.push_back(m);
    }
    if (modules_.empty()) return fail("the plug-in offers no modules", error);
    windows_.reset(new HostWindows(this));
    if (!windows_->create(HostWindowsStyle(), error)) return false;
    if (!(sensitivity == 0 ||
          (sensitivity >= SPECTRUM_SENSITIVITY_MIN && sensitivity <= SPECTRUM_SENSITIVITY_MAX))) {
      char line[160];
      snprintf(line, sizeof line, "sensitivity=%g: give 0 (automatic) or %g to %g.", sensitivity,
               SPECTRUM_SENSITIVITY_MIN, SPECTRUM_SENSITIVITY_MAX);
      return fail(line, error);
    }
    SpectrumOptions options;
    options.sensitivity = sensitivity;
    analyser_.reset(spectrumCreateWith(sampleRate, options));
    if (!analyser_) {
      return fail("no analyser for " + std::to_string(sampleRate) + " Hz at sensitivity " +
                      std::to_string(sensitivity), error);
    }
    rate_ = sampleRate;
    window_.assign((size_t)spectrumWindowLength(analyser_.get()) * 2, 0.0f);
    return true;
  }

  void close() {
    stop();
    windows_.reset();
    modules_.clear();
    analyser_.reset();
  }

  int moduleCount() const { return (int)modules_.size(); }
  const char* moduleName(int i) const {
    return i >= 0 && i < moduleCount() && modules_[(size_t)i]->description ? modules_[(size_t)i]->description : "";
  }
  // By display name (any case) or index, as `-m` takes it; -1 when there is none.
  int findModule(const char* key) const {
    for (int i = 0; i < moduleCount(); ++i) {
      if (strcasecmp(key, moduleName(i)) == 0) return i;
    }
    char* end = nullptr;
    long index = strtol(key, &end, 10);
    if (*key && *end == '\0' && index >= 0 && index < moduleCount()) return (int)index;
    return -1;
  }

  // Quits what runs, pins the clock (seed >= 0) and starts module `index` in a frame of
  // width x height. The feed starts again at frame 0.
  bool start(int index, int width, int height, int seed, std::string* error) {
    stop();
    if (index < 0 || index >= moduleCount()) return fail("no module " + std::to_string(index), error);
    VisModule* m = modules_[(size_t)index];
    if (!FrameClock::forModule(*m, moduleName(index), rate_, &clock_, error)) return false;
    if (seed >= 0) {
      // The plug-in seeds its generator from the milliseconds of the system time, as
      // `orlimvis --seed` pins them.
      pinPluginClock(seed);
    } else {
      visSetSystemTimeOverride(nullptr);
    }
    windows_->setPreferredFrameSize(width, height);
    windows_->attach(m, nullptr);
    m->channels = 2;
    memset(m->spectrum, 0, sizeof m->spectrum);
    message_.clear();
    const int result = m->init(m);
    windows_->pump();
    if (result != 0) {
      windows_->destroyFrame();
      windows_->pump();
      return fail(std::string("module ") + moduleName(index) + " did not start" +
                      (message_.empty() ? "" : ": " + message_), error);
    }
    running_ = index;
    VisPixels p;
    if (!frame(&p)) {
      stop();
      return fail("the plug-in's frame window has no pixels", error);
    }
    restartFeed();
    return true;
  }

  void stop() {
    if (running_ < 0) return;
    VisModule* m = modules_[(size_t)running_];
    m->quit(m);
    running_ = -1;
    windows_->destroyFrame();
    windows_->pump();
  }

  int running() const { return running_; }

  // The feed begins again: the next samples are the first of frame 0 (a new source, a
  // seek, a module started).
  void restartFeed() {
    samples_.clear();
    bufferStart_ = 0;
    nextFrame_ = 0;
  }

  float* input(int frames) {
    input_.resize((size_t)std::max(0, frames) * 2);
    return input_.data();
  }

  // Appends `frames` stereo frames from input() and renders every frame they complete.
  // Returns how many were rendered.
  int feed(int frames) {
    if (running_ < 0 || frames <= 0) return 0;
    samples_.insert(samples_.end(), input_.begin(), input_.begin() + (size_t)frames * 2);
    const int length = spectrumWindowLength(analyser_.get());
    int rendered = 0;
    for (;;) {
      const FrameWindow w = clock_.window(nextFrame_, length);
      const int64_t available = bufferStart_ + (int64_t)samples_.size() / 2;
      if (w.first + length > available) break;
      // Samples before the start of the stream are silence.
      for (int i = 0; i < length; ++i) {
        const int64_t at = w.first + i;
        const bool held = at >= bufferStart_;
        const size_t k = (size_t)(at - bufferStart_) * 2;
        window_[(size_t)i * 2] = held ? samples_[k] : 0.0f;
        window_[(size_t)i * 2 + 1] = held ? samples_[k + 1] : 0.0f;
      }
      unsigned char spectrum[2][SPECTRUM_BANDS];
      spectrumExecute(analyser_.get(), window_.data(), w.begin, w.end, spectrum);
      render(spectrum);
      ++nextFrame_;
      ++rendered;
    }
    // Drop what no later window reads.
    const int64_t keep = std::max<int64_t>(bufferStart_, clock_.window(nextFrame_, length).first);
    const size_t drop = (size_t)std::min<int64_t>((int64_t)samples_.size() / 2, keep - bufferStart_);
    if (drop > 0) {
      samples_.erase(samples_.begin(), samples_.begin() + (ptrdiff_t)drop * 2);
      bufferStart_ += (int64_t)drop;
    }
    return rendered;
  }

  void render(const unsigned char spectrum[2][VIS_SPECTRUM_BANDS]) {
    if (running_ < 0) return;
    VisModule* m = modules_[(size_t)running_];
    m->channels = 2;
    m->sampleRate = rate_;
    memcpy(m->spectrum, spectrum, sizeof m->spectrum);
    m->render(m);
    windows_->pump();
  }

  bool frame(VisPixels* p) const {
    return windows_ && windows_->frame() && visWindowPixels(windows_->frame(), p);
  }

  // The frame in the canvas's byte order (R, G, B, A), or null without a frame.
  uint8_t* rgba(int* width, int* height) {
    VisPixels p;
    if (!frame(&p)) return nullptr;
    rgba_.resize((size_t)p.width * p.height);
    uint32_t* out = rgba_.data();
    for (int y = 0; y < p.height; ++y) {
      const uint32_t* row = p.pixels + (size_t)y * p.stride;
      // 0x00RRGGBB to the bytes R, G, B, 255 of a little-endian word.
      for (int x = 0; x < p.width; ++x) {
        const uint32_t v = row[x];
        *out++ = 0xff000000u | (v & 0x0000ff00u) | ((v >> 16) & 0xffu) | ((v & 0xffu) << 16);
      }
    }
    *width = p.width;
    *height = p.height;
    return reinterpret_cast<uint8_t*>(rgba_.data());
  }

  void resize(int width, int height) {
    HWND f = windows_ ? windows_->frame() : nullptr;
    if (!f) return;
    RECT r;
    GetWindowRect(f, &r);
    if (r.right - r.left == width && r.bottom - r.top == height) return;
    windows_->resizeFrame(width, height);
    windows_->pump();
  }

  // A key as the window system delivers it to the visualisation window; what the
  // plug-in passes on to the host is `play`'s to act on.
  int key(int virtualKey, bool canSeek) {
    if (running_ < 0 || !windows_->visWindow()) return kNone;
    keys_.clear();
    fullscreen_ = false;
    PostMessageA(windows_->visWindow(), WM_KEYDOWN, (WPARAM)virtualKey, 1);
    PostMessageA(windows_->visWindow(), WM_KEYUP, (WPARAM)virtualKey, (LPARAM)0xC0000001u);
    windows_->pump();
    int action = kNone;
    for (WPARAM k : keys_) {
      const KeyOutcome o = keyAction((uint32_t)k, KeyState{moduleCount(), running_, canSeek, false});
      switch (o.action) {
        case KeyAction::SwitchModule:
          keyModule_ = o.module;
          action = kSwitched;
          break;
        case KeyAction::Fullscreen:
          // As a media player does: the menu's command, which the plug-in answers with
          // its request for full screen.
          SendMessageA(windows_->visWindow(), WM_COMMAND, MAKEWPARAM(CMD_FULLSCREEN, 0), 0);
          windows_->pump();
          if (fullscreen_) action = kFullscreen;
          break;
        case KeyAction::TogglePause: action = kPause; break;
        case KeyAction::Seek:
          keySeek_ = o.seekSeconds;
          action = kSeek;
          break;
        case KeyAction::Quit: action = kQuit; break;
        case KeyAction::None: break;
      }
    }
    return action;
  }
  int keyModule() const { return keyModule_; }
  int keySeek() const { return keySeek_; }

  const std::string& error() const { return error_; }
  std::string& errorSlot() { return error_; }

 private:
  static bool fail(const std::string& why, std::string* error) {
    *error = why;
    return false;
  }
  void onKey(UINT message, WPARAM key, LPARAM) override {
    if (message == WM_KEYDOWN) keys_.push_back(key);
  }
  void onFullscreenRequest() override { fullscreen_ = true; }
  bool onFrameClose() override { return true; }  // the page decides, the frame stays
  void onMessageBox(HWND, const char* text, const char*, UINT) override { message_ = text; }

  VisHeader* header_ = nullptr;
  std::vector<VisModule*> modules_;
  std::unique_ptr<HostWindows> windows_;
  SpectrumAnalyserPtr analyser_;
  FrameClock clock_;
  int rate_ = 0;
  int running_ = -1;
  std::string message_;
  // The feed: samples_ holds stream frames from bufferStart_ on, interleaved stereo.
  std::vector<float> input_, samples_, window_;
  int64_t bufferStart_ = 0, nextFrame_ = 0;
  std::vector<uint32_t> rgba_;
  std::vector<WPARAM> keys_;
  bool fullscreen_ = false;
  int keyModule_ = -1, keySeek_ = 0;
  std::string error_;
};

WebPage page;
AudioClip tune;
std::string text;  // the last string handed to the page

}  // namespace

extern "C" {

// Opens the host for audio at sampleRate; sensitivity 0 is automatic. 0 on success,
// else webError() says why.
EMSCRIPTEN_KEEPALIVE int webOpen(int sampleRate, double sensitivity) {
  return page.open(sampleRate, sensitivity, &page.errorSlot()) ? 0 : -1;
}
EMSCRIPTEN_KEEPALIVE const char* webError() { return page.error().c_str(); }
EMSCRIPTEN_KEEPALIVE int webModuleCount() { return page.moduleCount(); }
EMSCRIPTEN_KEEPALIVE const char* webModuleName(int index) { return page.moduleName(index); }
EMSCRIPTEN_KEEPALIVE int webFindModule(const char* key) { return page.findModule(key); }
EMSCRIPTEN_KEEPALIVE int webRunning() { return page.running(); }

// Starts a module (seed < 0: not pinned); 0 on success.
EMSCRIPTEN_KEEPALIVE int webStart(int index, int width, int height, int seed) {
  return page.start(index, width, height, seed, &page.errorSlot()) ? 0 : -1;
}
EMSCRIPTEN_KEEPALIVE void webStop() { page.stop(); }
EMSCRIPTEN_KEEPALIVE void webResize(int width, int height) { page.resize(width, height); }

EMSCRIPTEN_KEEPALIVE float* webInput(int frames) { return page.input(frames); }
EMSCRIPTEN_KEEPALIVE int webFeed(int frames) { return page.feed(frames); }
EMSCRIPTEN_KEEPALIVE void webRestartFeed() { page.restartFeed(); }

// A spectrum of the caller's own (2 x 576 bytes, left then right), rendered as one frame.
EMSCRIPTEN_KEEPALIVE uint8_t* webSpectrumBuffer() {
  static uint8_t spectrum[2 * VIS_SPECTRUM_BANDS];
  return spectrum;
}
EMSCRIPTEN_KEEPALIVE void webRenderSpectrum() {
  unsigned char spectrum[2][VIS_SPECTRUM_BANDS];
  memcpy(spectrum, webSpectrumBuffer(), sizeof spectrum);
  page.render(spectrum);
}

// The frame as R, G, B, A bytes; its size from webFrameWidth() and webFrameHeight().
static int frameWidth = 0, frameHeight = 0;
EMSCRIPTEN_KEEPALIVE uint8_t* webFramePixels() {
  uint8_t* p = page.rgba(&frameWidth, &frameHeight);
  if (!p) frameWidth = frameHeight = 0;
  return p;
}
EMSCRIPTEN_KEEPALIVE int webFrameWidth() { return frameWidth; }
EMSCRIPTEN_KEEPALIVE int webFrameHeight() { return frameHeight; }

// A key (a Win32 virtual-key code) through the plug-in; returns a PageAction.
EMSCRIPTEN_KEEPALIVE int webKey(int virtualKey, int canSeek) { return page.key(virtualKey, canSeek != 0); }
EMSCRIPTEN_KEEPALIVE int webKeyModule() { return page.keyModule(); }
EMSCRIPTEN_KEEPALIVE int webKeySeek() { return page.keySeek(); }

// The demo tune, 44.1 kHz interleaved stereo, made on the first call.
EMSCRIPTEN_KEEPALIVE const float* webDemoTune() {
  if (tune.samples.empty()) synthesiseDemoTune(DEMO_TUNE_SECONDS, &tune);
  return tune.samples.data();
}
EMSCRIPTEN_KEEPALIVE int webDemoTuneFrames() {
  webDemoTune();
  return (int)(tune.samples.size() / 2);
}
EMSCRIPTEN_KEEPALIVE int webDemoTuneRate() { return DEMO_TUNE_RATE; }

// The settings file's text, "" when there is none; and writing it back.
EMSCRIPTEN_KEEPALIVE const char* webSettings() {
  text.clear();
  if (FILE* f = fopen(kSettingsPath, "rb")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    fclose(f);
  }
  return text.c_str();
}
EMSCRIPTEN_KEEPALIVE void webSetSettings(const char* contents) {
  mkdir(kSettingsFolder, 0755);
  if (FILE* f = fopen(kSettingsPath, "wb")) {
    fputs(contents, f);
    fclose(f);
  }
}

}  // extern "C"
