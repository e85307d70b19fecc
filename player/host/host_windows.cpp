// The host's window procedures, the frame factory and the request answers. See
// host_windows.h.
#include "host/host_windows.h"

#include "visplatform.h"  // the message-box hook

namespace {
const char kHostClass[] = "OrlimvisHost";
const char kFrameClass[] = "OrlimvisFrame";

// Window procedures and the factory are plain functions with no context argument; they
// find their HostWindows here. Only the thread that runs the plug-in touches it.
thread_local HostWindows* current = nullptr;
}  // namespace

HostWindows::~HostWindows() {
  destroyFrame();
  if (hostWindow_) DestroyWindow(hostWindow_);
  hostWindow_ = nullptr;
  pump();
  if (registered_) {
    UnregisterClassA(kFrameClass, style_.instance);
    UnregisterClassA(kHostClass, style_.instance);
  }
  visSetMessageBoxHandler(nullptr, nullptr);
  if (current == this) current = previous_;
}

bool HostWindows::create(const HostWindowsStyle& style, std::string* error) {
  style_ = style;
  previous_ = current;
  current = this;
  WNDCLASSA hostClass = {};
  hostClass.lpfnWndProc = &HostWindows::hostProc;
  hostClass.hInstance = style.instance;
  hostClass.lpszClassName = kHostClass;
  WNDCLASSA frameClass = hostClass;
  frameClass.lpfnWndProc = &HostWindows::frameProc;
  frameClass.lpszClassName = kFrameClass;
  if (!RegisterClassA(&hostClass)) {
    *error = "cannot register the host window class";
    return false;
  }
  if (!RegisterClassA(&frameClass)) {
    UnregisterClassA(kHostClass, style.instance);
    *error = "cannot register the frame window class";
    return false;
  }
  registered_ = true;
  const RECT& r = style.hostRect;
  hostWindow_ = CreateWindowExA(0, kHostClass, style.hostTitle, style.hostStyle, r.left, r.top,
                                r.right - r.left, r.bottom - r.top, nullptr, nullptr,
                                style.instance, nullptr);
  if (!hostWindow_) {
    *error = "cannot create the host window";
    return false;
  }
  visSetMessageBoxHandler(&HostWindows::messageBox, this);
  return true;
}

void HostWindows::attach(VisModule* module, HINSTANCE moduleInstance) const {
  module->hostWindow = hostWindow_;
  module->moduleInstance = moduleInstance;
}

int HostWindows::pump() {
  MSG msg;
  int count = 0;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      listener_->onQuit(msg.wParam);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    ++count;
  }
  return count;
}

void HostWindows::setPreferredFrameSize(int width, int height) {
  preferredWidth_ = width;
  preferredHeight_ = height;
}

void HostWindows::destroyFrame() {
  if (frame_ && IsWindow(frame_)) DestroyWindow(frame_);
  frame_ = nullptr;
  visWindow_ = nullptr;
}

void HostWindows::moveFrame(int x, int y) {
  if (!frame_) return;
  SetWindowPos(frame_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void HostWindows::resizeFrame(int width, int height) {
  if (!frame_) return;
  SetWindowPos(frame_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void HostWindows::fitChild() {
  if (!frame_ || !visWindow_ || !IsWindow(visWindow_) || GetParent(visWindow_) != frame_) return;
  RECT client;
  GetClientRect(frame_, &client);
  SetWindowPos(visWindow_, nullptr, 0, 0, client.right - client.left, client.bottom - client.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT HostWindows::answer(LPARAM code, WPARAM argument) {
  requests_.push_back({code, argument});
  listener_->onRequest(code, argument);
  switch (code) {
    case HOST_QUERY_VIDEO_PLAYING:
      return videoPlaying;
    case HOST_GET_EMBED_FACTORY:
      return offerFactory ? (LRESULT)(EmbedFactory)&HostWindows::factory : 0;
    case HOST_SET_VIS_WINDOW:
      visWindow_ = (HWND)argument;
      fitChild();
      return 0;
    case HOST_REPORT_TOGGLE:
      reportedToggle_ = argument;
      return 0;
    case HOST_REQUEST_FULLSCREEN:
      listener_->onFullscreenRequest();
      return 0;
    default:
      return 0;
  }
}

LRESULT CALLBACK HostWindows::hostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  HostWindows* host = current;
  if (host && window == host->hostWindow_) {
    switch (message) {
      case WM_USER:
        return host->answer(lParam, wParam);
      case WM_KEYDOWN:
      case WM_KEYUP:
      case WM_CHAR:
        host->listener_->onKey(message, wParam, lParam);
        return 0;
      default:
        break;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK HostWindows::frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  HostWindows* host = current;
  if (host && window == host->frame_) {
    switch (message) {
      case WM_SIZE:
      case WM_MOVE:
        host->fitChild();
        break;
      case WM_CLOSE:
        if (host->listener_->onFrameClose()) return 0;
        break;
      case WM_DESTROY:
        host->listener_->onFrameDestroyed();
        host->frame_ = nullptr;
        host->visWindow_ = nullptr;
        break;
      default:
        break;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND HostWindows::factory(EmbedRecord* record) {
  HostWindows* host = current;
  if (!host || !record) return nullptr;
  ++host->factoryCalls;
  host->factoryRect = record->rect;
  if (host->factoryReturnsNull) return nullptr;
  // The size as a Win32 host computes it: the subtraction wraps, so a corner near
  // 2147483647 with a wrapped far edge still gives the requested size.
  int width = static_cast<int>(static_cast<uint32_t>(record->rect.right) -
                               static_cast<uint32_t>(record->rect.left));
  int height = static_cast<int>(static_cast<uint32_t>(record->rect.bottom) -
                                static_cast<uint32_t>(record->rect.top));
  if (host->preferredWidth_ > 0 && host->preferredHeight_ > 0) {
    width = host->preferredWidth_;
    height = host->preferredHeight_;
  }
  host->destroyFrame();
  // A hidden top-level frame owned by the host window; the plug-in shows it.
  host->frame_ = CreateWindowExA(0, kFrameClass, "", host->style_.frameStyle, record->rect.left,
                                 record->rect.top, width, height, host->hostWindow_, nullptr,
                                 host->style_.instance, nullptr);
  record->frame = host->frame_;
  return host->frame_;
}

int HostWindows::messageBox(void* context, HWND owner, const char* text, const char* caption,
                            UINT type) {
  static_cast<HostWindows*>(context)->listener_->onMessageBox(owner, text ? text : "",
                                                               caption ? caption : "", type);
  return IDOK;
}

void pinPluginClock(unsigned long seed) {
  SYSTEMTIME time = {};
  time.wYear = 2000;
  time.wMonth = 1;
  time.wDayOfWeek = 6;
  time.wDay = 1;
  time.wMilliseconds = (WORD)(seed % 1000);
  visSetSystemTimeOverride(&time);
}
