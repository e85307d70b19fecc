// The test host's windows, answers and records. See test_host.h.
#include "support/test_host.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/portable/visplatform.h"

namespace {
TestHost* current = nullptr;
const char kMainClass[] = "TestHostMain";
const char kFrameClass[] = "TestHostFrame";

std::string makeDirectory() {
  const char* base = getenv("VIS_TEST_OUTPUT");
  std::string root = base && base[0] ? base : "/tmp";
  std::string pattern = root + "/host-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) {
    pattern = "/tmp/host-XXXXXX";  // the output folder may not exist yet
    name.assign(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (!mkdtemp(name.data())) throw std::runtime_error("cannot make a test directory");
  }
  return name.data();
}
}  // namespace

TestHost::TestHost() : instance_(reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x7e570000))) {
  if (current) throw std::logic_error("one TestHost at a time");
  current = this;
  directory_ = makeDirectory();
  libraryPath_ = directory_ + "/vis_orlim.so";
  visSetModuleFileNameOverride(libraryPath_.c_str());
  visSetMessageBoxHandler(messageBox, this);

  WNDCLASSA mainClass = {};
  mainClass.lpfnWndProc = mainProc;
  mainClass.hInstance = instance_;
  mainClass.lpszClassName = kMainClass;
  WNDCLASSA frameClass = mainClass;
  frameClass.lpfnWndProc = frameProc;
  frameClass.lpszClassName = kFrameClass;
  if (!RegisterClassA(&mainClass) || !RegisterClassA(&frameClass)) {
    throw std::runtime_error("cannot register the host's classes");
  }
  window_ = CreateWindowExA(0, kMainClass, "Test host", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200,
                            nullptr, nullptr, instance_, nullptr);
  if (!window_) throw std::runtime_error("cannot create the host window");
}

TestHost::~TestHost() {
  if (IsWindow(frame_)) DestroyWindow(frame_);
  DestroyWindow(window_);
  pump();
  UnregisterClassA(kFrameClass, instance_);
  UnregisterClassA(kMainClass, instance_);
  visSetMessageBoxHandler(nullptr, nullptr);
  visSetModuleFileNameOverride(nullptr);
  unlink(settingsPath().c_str());
  rmdir(directory_.c_str());
  current = nullptr;
}

void TestHost::attach(VisModule* module, HINSTANCE instance) {
  module->hostWindow = window_;
  module->moduleInstance = instance ? instance : instance_;
}

int TestHost::pump() {
  MSG msg;
  int count = 0;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      HostEvent e(HostEvent::kQuit);
      e.wParam = msg.wParam;
      events.push_back(e);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    ++count;
  }
  return count;
}

void TestHost::resizeFrame(int width, int height) {
  // The frame has no non-client area here, so its window size is its client size.
  SetWindowPos(frame_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TestHost::moveFrame(int x, int y) {
  SetWindowPos(frame_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT TestHost::command(WORD code, WORD argument) {
  return SendMessageA(visWindow_, WM_COMMAND, MAKEWPARAM(code, argument), 0);
}

std::string TestHost::readSettings() const {
  std::ifstream in(settingsPath(), std::ios::binary);
  if (!in) return "";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void TestHost::writeSettings(const std::string& text) const {
  std::ofstream out(settingsPath(), std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<HostEvent> TestHost::requests() const {
  std::vector<HostEvent> out;
  for (const HostEvent& e : events) {
    if (e.kind == HostEvent::kRequest) out.push_back(e);
  }
  return out;
}

std::vector<HostEvent> TestHost::messageBoxes() const {
  std::vector<HostEvent> out;
  for (const HostEvent& e : events) {
    if (e.kind == HostEvent::kMessageBox) out.push_back(e);
  }
  return out;
}

void TestHost::fitChild() {
  if (!IsWindow(visWindow_) || GetParent(visWindow_) != frame_) return;
  RECT client;
  GetClientRect(frame_, &client);
  SetWindowPos(visWindow_, nullptr, 0, 0, client.right, client.bottom,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CALLBACK TestHost::mainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TestHost* host = current;
  if (!host || (window != host->window_ && host->window_)) {
    return DefWindowProcA(window, message, wParam, lParam);
  }
  switch (message) {
    case WM_USER: {
      HostEvent e(HostEvent::kRequest);
      e.message = message;
      e.wParam = wParam;
      e.lParam = lParam;
      host->events.push_back(e);
      switch (lParam) {
        case HOST_QUERY_VIDEO_PLAYING:
          return host->videoPlaying;
        case HOST_GET_EMBED_FACTORY:
          return host->offerFactory ? reinterpret_cast<LRESULT>(&TestHost::factory) : 0;
        case HOST_SET_VIS_WINDOW:
          host->visWindow_ = reinterpret_cast<HWND>(wParam);
          host->fitChild();
          return 0;
        default:
          return 0;
      }
    }
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR: {
      HostEvent e(HostEvent::kMessage);
      e.message = message;
      e.wParam = wParam;
      e.lParam = lParam;
      host->events.push_back(e);
      return 0;
    }
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

LRESULT CALLBACK TestHost::frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  TestHost* host = current;
  if (host && window == host->frame_) {
    switch (message) {
      case WM_SIZE:
      case WM_MOVE:
        host->fitChild();
        break;
      case WM_DESTROY: {
        HostEvent e(HostEvent::kFrameDestroyed);
        e.text = host->readSettings();
        host->events.push_back(e);
        break;
      }
      default:
        break;
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND TestHost::factory(EmbedRecord* record) {
  TestHost* host = current;
  ++host->factoryCalls;
  host->factoryRect = record->rect;
  if (host->factoryReturnsNull) return nullptr;
  // A hidden top-level frame over the requested rectangle; the plug-in shows it.
  // The size as a Win32 host computes it: the subtraction wraps, so a corner near
  // 2147483647 with a wrapped far edge still gives the requested size.
  const int width = static_cast<int>(static_cast<uint32_t>(record->rect.right) -
                                     static_cast<uint32_t>(record->rect.left));
  const int height = static_cast<int>(static_cast<uint32_t>(record->rect.bottom) -
                                      static_cast<uint32_t>(record->rect.top));
  host->frame_ = CreateWindowExA(0, kFrameClass, "", WS_OVERLAPPEDWINDOW, record->rect.left,
                                 record->rect.top, width, height, host->window_, nullptr,
                                 host->instance_, nullptr);
  record->frame = host->frame_;
  return host->frame_;
}

int TestHost::messageBox(void* context, HWND owner, const char* text, const char* caption,
                         UINT type) {
  TestHost* host = static_cast<TestHost*>(context);
  HostEvent e(HostEvent::kMessageBox);
  e.owner = owner;
  e.text = text;
  e.caption = caption;
  e.type = type;
  host->events.push_back(e);
  return IDOK;
}
