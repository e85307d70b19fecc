// The host core: loads the plug-in library, reads its header and module table, and
// runs one module at a time over the host windows. See plugin_host.h.
#include "host/plugin_host.h"

#include <dlfcn.h>   // dlopen/dlerror: only to report why a library does not load
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

PluginHost::~PluginHost() {
  stop();
  windows_.reset();  // the host window and the classes go while the plug-in is loaded
  unload();
}

void PluginHost::unload() {
  if (library_) FreeLibrary(library_);
  library_ = nullptr;
  header_ = nullptr;
  modules_.clear();
}

bool PluginHost::load(const std::string& path, std::string* error) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) {
    *error = path + ": cannot load plug-in: no such file";
    return false;
  }
  // The window system's loader keeps the library's file name for the plug-in; plain
  // dlopen first, to have the dynamic linker's reason when the file is not loadable.
  void* probe = dlopen(resolved, RTLD_NOW | RTLD_LOCAL);
  if (!probe) {
    const char* reason = dlerror();
    *error = path + ": cannot load plug-in: " + (reason ? reason : "unknown reason");
    return false;
  }
  library_ = LoadLibraryA(resolved);
  dlclose(probe);
  if (!library_) {
    *error = path + ": cannot load plug-in";
    return false;
  }
  typedef VisHeader* (*GetHeader)(void);
  GetHeader getHeader = (GetHeader)GetProcAddress(library_, "winampVisGetHeader");
  if (!getHeader) {
    *error = path + ": not a visualisation plug-in: no winampVisGetHeader";
    unload();
    return false;
  }
  header_ = getHeader();
  if (!header_ || !header_->lookupModule) {
    *error = path + ": not a visualisation plug-in: winampVisGetHeader gave no header";
    unload();
    return false;
  }
  // The module table ends at the first index without a record.
  for (int i = 0; i < 64; ++i) {
    VisModule* m = header_->lookupModule(i);
    if (!m) break;
    modules_.push_back(m);
  }
  if (modules_.empty()) {
    *error = path + ": the plug-in offers no modules";
    unload();
    return false;
  }
  windows_.reset(new HostWindows(this));
  if (!windows_->create(HostWindowsStyle(), error)) {
    windows_.reset();
    unload();
    return false;
  }
  return true;
}

const char* PluginHost::description() const {
  return header_ && header_->description ? header_->description : "";
}

const char* PluginHost::moduleName(int index) const {
  const char* name = modules_[(size_t)index]->description;
  return name ? name : "";
}

int PluginHost::findModule(const std::string& key) const {
  for (int i = 0; i < moduleCount(); ++i) {
    if (strcasecmp(key.c_str(), moduleName(i)) == 0) return i;
  }
  char* end = nullptr;
  long index = strtol(key.c_str(), &end, 10);
  if (!key.empty() && *end == '\0' && index >= 0 && index < moduleCount()) return (int)index;
  return -1;
}

std::string PluginHost::moduleNames() const {
  std::string names;
  for (int i = 0; i < moduleCount(); ++i) {
    if (i) names += ", ";
    names += moduleName(i);
  }
  return names;
}

void PluginHost::setPreferredFrameSize(int width, int height) {
  windows_->setPreferredFrameSize(width, height);
}

bool PluginHost::start(int index, std::string* error) {
  stop();
  if (index < 0 || index >= moduleCount()) {
    *error = "no module " + std::to_string(index);
    return false;
  }
  VisModule* m = modules_[(size_t)index];
  windows_->attach(m, library_);
  m->channels = 2;
  memset(m->spectrum, 0, sizeof m->spectrum);
  lastMessage_.clear();
  starting_ = true;
  int result = m->init(m);
  starting_ = false;
  pumpMessages();
  if (result != 0) {
    *error = std::string("module ") + moduleName(index) + " did not start" +
             (lastMessage_.empty() ? "" : ": " + lastMessage_);
    // A failed init leaves what it built; the frame is the host's to take back.
    windows_->destroyFrame();
    pumpMessages();
    return false;
  }
  runningIndex_ = index;
  return true;
}

void PluginHost::stop() {
  if (runningIndex_ < 0) return;
  VisModule* m = modules_[(size_t)runningIndex_];
  m->quit(m);
  runningIndex_ = -1;
  // A plug-in that left its frame behind: the host owns it and takes it down.
  windows_->destroyFrame();
  pumpMessages();
}

void PluginHost::renderFrame(const unsigned char spectrum[2][VIS_SPECTRUM_BANDS], int channels,
                             int sampleRate) {
  if (runningIndex_ < 0) return;
  VisModule* m = modules_[(size_t)runningIndex_];
  m->channels = channels;
  m->sampleRate = sampleRate;
  memcpy(m->spectrum, spectrum, sizeof m->spectrum);
  m->render(m);
  pumpMessages();
}

// WM_QUIT is the end of the visualisation thread's loop, posted when the plug-in's
// window goes; this host runs modules one after another on one thread and keeps going
// (the module has already been quit by then), so the listener ignores it.
void PluginHost::pumpMessages() {
  if (windows_) windows_->pump();
}

bool PluginHost::framePixels(VisPixels* out) const {
  return windows_ && windows_->frame() && visWindowPixels(windows_->frame(), out);
}

bool PluginHost::lendFramePixels(uint32_t* pixels, int width, int height, int stride) {
  return windows_ && windows_->frame() &&
         visLendWindowPixels(windows_->frame(), pixels, width, height, stride);
}

std::string PluginHost::frameTitle() const {
  if (!windows_ || !windows_->frame()) return "";
  char title[256] = {};
  GetWindowTextA(windows_->frame(), title, sizeof title);
  return title;
}

void PluginHost::moveFrame(int x, int y) {
  windows_->moveFrame(x, y);
  pumpMessages();
}

void PluginHost::resizeFrame(int width, int height) {
  HWND frame = windows_->frame();
  if (!frame) return;
  RECT r;
  GetWindowRect(frame, &r);
  if (r.right - r.left == width && r.bottom - r.top == height) return;
  windows_->resizeFrame(width, height);
  pumpMessages();
}

void PluginHost::sendKey(UINT message, WPARAM key, LPARAM flags) {
  if (!windows_->visWindow()) return;
  PostMessageA(windows_->visWindow(), message, key, flags);
  pumpMessages();
}

void PluginHost::sendCommand(int code, int highWord) {
  if (!windows_->visWindow()) return;
  SendMessageA(windows_->visWindow(), WM_COMMAND, MAKEWPARAM(code, highWord), 0);
  pumpMessages();
}

void PluginHost::onKey(UINT message, WPARAM key, LPARAM flags) {
  if (message == WM_KEYDOWN || message == WM_KEYUP) events_->onKey(message, key, flags);
}

// Closing the frame is the user's wish to stop; the program decides, the frame stays.
bool PluginHost::onFrameClose() {
  events_->onFrameClose();
  return true;
}

void PluginHost::onMessageBox(HWND, const char* text, const char* caption, UINT) {
  lastMessage_ = text;
  if (!starting_) fprintf(stderr, "orlimvis: %s: %s\n", caption, text);
}
