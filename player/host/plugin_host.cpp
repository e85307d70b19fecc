#include "host/plugin_host.h"

#include <dlfcn.h>   // dlopen/dlerror: only to report why a library does not load
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <map>

namespace {
const char kHostClass[] = "OrlimvisHost";
const char kFrameClass[] = "OrlimvisFrame";

// Window procedures and the factory are plain functions with no context argument, so
// they find their host here. Only the thread that runs the plug-in touches these: the
// plug-in itself requires that init, render, quit and its messages share one thread.
std::map<HWND, PluginHost*>& windowOwners() {
  static std::map<HWND, PluginHost*> owners;
  return owners;
}
thread_local PluginHost* factoryOwner = nullptr;

PluginHost* ownerOf(HWND window) {
  auto it = windowOwners().find(window);
  return it == windowOwners().end() ? nullptr : it->second;
}
}  // namespace

PluginHost::~PluginHost() {
  stop();
  if (hostWindow_) {
    windowOwners().erase(hostWindow_);
    DestroyWindow(hostWindow_);
    hostWindow_ = nullptr;
  }
  pumpMessages();
  if (classesRegistered_) {
    UnregisterClassA(kFrameClass, nullptr);
    UnregisterClassA(kHostClass, nullptr);
  }
  visSetMessageBoxHandler(nullptr, nullptr);
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

  WNDCLASSA hostClass = {};
  hostClass.lpfnWndProc = &PluginHost::hostProc;
  hostClass.lpszClassName = kHostClass;
  WNDCLASSA frameClass = {};
  frameClass.lpfnWndProc = &PluginHost::frameProc;
  frameClass.lpszClassName = kFrameClass;
  if (!RegisterClassA(&hostClass)) {
    *error = "cannot register the host window class";
    unload();
    return false;
  }
  if (!RegisterClassA(&frameClass)) {
    UnregisterClassA(kHostClass, nullptr);
    *error = "cannot register the frame window class";
    unload();
    return false;
  }
  classesRegistered_ = true;
  hostWindow_ = CreateWindowExA(0, kHostClass, "orlimvis", WS_POPUP, 0, 0, 1, 1, nullptr,
                                nullptr, nullptr, nullptr);
  if (!hostWindow_) {
    *error = "cannot create the host window";
    return false;
  }
  windowOwners()[hostWindow_] = this;
  visSetMessageBoxHandler(&PluginHost::onMessageBox, this);
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
  preferredWidth_ = width;
  preferredHeight_ = height;
}

bool PluginHost::start(int index, std::string* error) {
  stop();
  if (index < 0 || index >= moduleCount()) {
    *error = "no module " + std::to_string(index);
    return false;
  }
  VisModule* m = modules_[(size_t)index];
  m->hostWindow = hostWindow_;
  m->moduleInstance = library_;
  m->channels = 2;
  memset(m->spectrum, 0, sizeof m->spectrum);
  lastMessage_.clear();
  factoryOwner = this;
  starting_ = true;
  int result = m->init(m);
  starting_ = false;
  pumpMessages();
  if (result != 0) {
    *error = std::string("module ") + moduleName(index) + " did not start" +
             (lastMessage_.empty() ? "" : ": " + lastMessage_);
    // A failed init leaves what it built; the frame is the host's to take back.
    if (frame_) DestroyWindow(frame_);
    frame_ = nullptr;
    visWindow_ = nullptr;
    factoryOwner = nullptr;
    pumpMessages();
    return false;
  }
  runningIndex_ = index;
  fitChild();
  return true;
}

void PluginHost::stop() {
  if (runningIndex_ < 0) return;
  VisModule* m = modules_[(size_t)runningIndex_];
  m->quit(m);
  runningIndex_ = -1;
  if (frame_) {
    // A plug-in that left its frame behind: the host owns it and takes it down.
    DestroyWindow(frame_);
    frame_ = nullptr;
  }
  visWindow_ = nullptr;
  factoryOwner = nullptr;
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

void PluginHost::pumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    // WM_QUIT is the end of the visualisation thread's loop, posted when the plug-in's
    // window goes; this host runs modules one after another on one thread and keeps
    // going (the module has already been quit by then).
    if (msg.message == WM_QUIT) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

bool PluginHost::framePixels(VisPixels* out) const {
  return frame_ && visWindowPixels(frame_, out);
}

std::string PluginHost::frameTitle() const {
  if (!frame_) return "";
  char title[256] = {};
  GetWindowTextA(frame_, title, sizeof title);
  return title;
}

void PluginHost::moveFrame(int x, int y) {
  if (!frame_) return;
  RECT r;
  GetWindowRect(frame_, &r);
  MoveWindow(frame_, x, y, r.right - r.left, r.bottom - r.top, TRUE);
  pumpMessages();
}

void PluginHost::resizeFrame(int width, int height) {
  if (!frame_) return;
  RECT r;
  GetWindowRect(frame_, &r);
  if (r.right - r.left == width && r.bottom - r.top == height) return;
  MoveWindow(frame_, r.left, r.top, width, height, TRUE);
  pumpMessages();
}

void PluginHost::sendKey(UINT message, WPARAM key, LPARAM flags) {
  if (!visWindow_) return;
  PostMessageA(visWindow_, message, key, flags);
  pumpMessages();
}

void PluginHost::sendCommand(int code, int highWord) {
  if (!visWindow_) return;
  SendMessageA(visWindow_, WM_COMMAND, MAKEWPARAM(code, highWord), 0);
  pumpMessages();
}

void PluginHost::fitChild() {
  if (!frame_ || !visWindow_ || !IsWindow(visWindow_)) return;
  RECT client;
  GetClientRect(frame_, &client);
  SetWindowPos(visWindow_, nullptr, 0, 0, client.right - client.left,
               client.bottom - client.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT PluginHost::onRequest(LPARAM code, WPARAM argument) {
  requests_.push_back({code, argument});
  switch (code) {
    case HOST_QUERY_VIDEO_PLAYING:
      return 0;  // this host never plays video
    case HOST_GET_EMBED_FACTORY:
      return (LRESULT)(EmbedFactory)&PluginHost::embedFactory;
    case HOST_SET_VIS_WINDOW:
      visWindow_ = (HWND)argument;
      fitChild();
      return 0;
    case HOST_REPORT_TOGGLE:
      reportedToggle_ = argument;
      return 0;
    case HOST_REQUEST_FULLSCREEN:
      events_->onFullscreenRequest();
      return 0;
    default:
      return 0;
  }
}

LRESULT CALLBACK PluginHost::hostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  PluginHost* host = ownerOf(window);
  if (host) {
    switch (message) {
      case WM_USER:
        return host->onRequest(lParam, wParam);
      case WM_KEYDOWN:
      case WM_KEYUP:
        host->events_->onKey(message, wParam, lParam);
        return 0;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK PluginHost::frameProc(HWND window, UINT message, WPARAM wParam,
                                       LPARAM lParam) {
  PluginHost* host = ownerOf(window);
  if (host) {
    switch (message) {
      case WM_SIZE:
      case WM_MOVE:
        host->fitChild();
        break;
      case WM_CLOSE:
        host->events_->onFrameClose();
        return 0;
      case WM_DESTROY:
        if (host->frame_ == window) {
          host->frame_ = nullptr;
          host->visWindow_ = nullptr;
        }
        windowOwners().erase(window);
        break;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND PluginHost::embedFactory(EmbedRecord* record) {
  PluginHost* host = factoryOwner;
  if (!host || !record) return nullptr;
  int width = static_cast<int>(static_cast<uint32_t>(record->rect.right) - static_cast<uint32_t>(record->rect.left));  // wraps as Win32 does
  int height = static_cast<int>(static_cast<uint32_t>(record->rect.bottom) - static_cast<uint32_t>(record->rect.top));
  if (host->preferredWidth_ > 0 && host->preferredHeight_ > 0) {
    width = host->preferredWidth_;
    height = host->preferredHeight_;
  }
  if (host->frame_) DestroyWindow(host->frame_);
  HWND frame = CreateWindowExA(0, kFrameClass, "", WS_POPUP, record->rect.left,
                               record->rect.top, width, height, nullptr, nullptr, nullptr,
                               nullptr);
  if (!frame) return nullptr;
  windowOwners()[frame] = host;
  host->frame_ = frame;
  record->frame = frame;
  return frame;
}

int PluginHost::onMessageBox(void* context, HWND owner, const char* text, const char* caption,
                             UINT type) {
  PluginHost* host = static_cast<PluginHost*>(context);
  host->lastMessage_ = text ? text : "";
  if (!host->starting_) {
    fprintf(stderr, "orlimvis: %s: %s\n", caption ? caption : "plug-in", text ? text : "");
  }
  return IDOK;
}
