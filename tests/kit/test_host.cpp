// The test host's records and settings folder over the player's host windows. See
// test_host.h.
#include "test_host.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "visplatform.h"

namespace {
bool alive = false;

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

TestHost::TestHost()
    : offerFactory(windows_.offerFactory),
      videoPlaying(windows_.videoPlaying),
      factoryReturnsNull(windows_.factoryReturnsNull),
      factoryRect(windows_.factoryRect),
      factoryCalls(windows_.factoryCalls),
      instance_(reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x7e570000))) {
  if (alive) throw std::logic_error("one TestHost at a time");
  alive = true;
  directory_ = makeDirectory();
  libraryPath_ = directory_ + "/vis_orlim.so";
  visSetModuleFileNameOverride(libraryPath_.c_str());

  // A host window as a media player's main window: titled, with a size of its own.
  HostWindowsStyle style;
  style.hostTitle = "Test host";
  style.hostStyle = WS_OVERLAPPEDWINDOW;
  style.hostRect = RECT{0, 0, 320, 200};
  style.frameStyle = WS_OVERLAPPEDWINDOW;
  style.instance = instance_;
  std::string error;
  if (!windows_.create(style, &error)) throw std::runtime_error(error);
}

TestHost::~TestHost() {
  windows_.destroyFrame();
  pump();
  visSetModuleFileNameOverride(nullptr);
  unlink(settingsPath().c_str());
  rmdir(directory_.c_str());
  alive = false;
}

void TestHost::attach(VisModule* module, HINSTANCE instance) {
  windows_.attach(module, instance ? instance : instance_);
}

int TestHost::pump() { return windows_.pump(); }

void TestHost::resizeFrame(int width, int height) { windows_.resizeFrame(width, height); }

void TestHost::moveFrame(int x, int y) { windows_.moveFrame(x, y); }

LRESULT TestHost::command(WORD code, WORD argument) {
  return SendMessageA(visWindow(), WM_COMMAND, MAKEWPARAM(code, argument), 0);
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

void TestHost::onRequest(LPARAM code, WPARAM argument) {
  HostEvent e(HostEvent::kRequest);
  e.message = WM_USER;
  e.wParam = argument;
  e.lParam = code;
  events.push_back(e);
}

void TestHost::onKey(UINT message, WPARAM key, LPARAM flags) {
  HostEvent e(HostEvent::kMessage);
  e.message = message;
  e.wParam = key;
  e.lParam = flags;
  events.push_back(e);
}

void TestHost::onFrameDestroyed() {
  HostEvent e(HostEvent::kFrameDestroyed);
  e.text = readSettings();
  events.push_back(e);
}

void TestHost::onMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
  HostEvent e(HostEvent::kMessageBox);
  e.owner = owner;
  e.text = text;
  e.caption = caption;
  e.type = type;
  events.push_back(e);
}

void TestHost::onQuit(WPARAM code) {
  HostEvent e(HostEvent::kQuit);
  e.wParam = code;
  events.push_back(e);
}
