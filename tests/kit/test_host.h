// A host for tests, on the portable window system: it plays the media player's part
// towards the plug-in. It owns a main window that answers the plug-in's requests,
// offers a frame-window factory, keeps the frame's child filling the frame's client
// area (on every size and move of the frame, and when the child is announced), and
// records, in order, every request with its arguments, every message box, every
// message that reaches its main window through the queue, and the frame's destruction
// together with what the settings file held at that moment.
//
// The windows, the answers and the frame rules are the player's own host core
// (player/host/host_windows.h); this class adds the records and a settings folder.
// One host at a time. It points GetModuleFileNameA at a library name inside a fresh
// directory of its own, so the plug-in's settings file lands there.
#pragma once

#include <string>
#include <vector>

#include "host/host_windows.h"
#include "vis_header.h"

struct HostEvent {
  enum Kind { kRequest, kMessageBox, kMessage, kFrameDestroyed, kQuit };
  explicit HostEvent(Kind k) : kind(k) {}
  Kind kind;
  UINT message = 0;  // kRequest: WM_USER; kMessage: the message
  WPARAM wParam = 0;
  LPARAM lParam = 0;  // kRequest: the request code
  HWND owner = nullptr;  // kMessageBox
  std::string text;      // kMessageBox: text; kFrameDestroyed: the settings file's contents
  std::string caption;   // kMessageBox
  UINT type = 0;         // kMessageBox
};

class TestHost : private HostWindowsListener {
 public:
  TestHost();
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // Fills the record's host fields, as the host does before init.
  void attach(VisModule* module, HINSTANCE instance = nullptr);

  // Runs every message waiting on this thread; WM_QUIT is recorded, not acted on.
  // Returns the number of messages dispatched.
  int pump();

  // Resizes the frame so that its client area is width x height / moves its corner.
  void resizeFrame(int width, int height);
  void moveFrame(int x, int y);

  // Sends the visualisation window a command, as the host's menu does.
  LRESULT command(WORD code, WORD argument);

  HWND window() const { return windows_.hostWindow(); }
  HWND frame() const { return windows_.frame(); }
  HWND visWindow() const { return windows_.visWindow(); }
  const std::string& directory() const { return directory_; }
  std::string settingsPath() const { return directory_ + "/plugin.ini"; }
  std::string readSettings() const;  // "" when there is no file
  void writeSettings(const std::string& text) const;

  // The requests alone, and the message boxes alone, in order.
  std::vector<HostEvent> requests() const;
  std::vector<HostEvent> messageBoxes() const;
  void clearEvents() { events.clear(); }

  // What the host answers (request 505, request 501, a factory that fails).
  bool& offerFactory;
  LRESULT& videoPlaying;
  bool& factoryReturnsNull;

  std::vector<HostEvent> events;
  RECT& factoryRect;  // the record's rectangle when the factory ran
  int& factoryCalls;
  HINSTANCE instance() const { return instance_; }

 private:
  void onRequest(LPARAM code, WPARAM argument) override;
  void onKey(UINT message, WPARAM key, LPARAM flags) override;
  void onFrameDestroyed() override;
  void onMessageBox(HWND owner, const char* text, const char* caption, UINT type) override;
  void onQuit(WPARAM code) override;

  HostWindows windows_{this};
  HINSTANCE instance_;
  std::string directory_;
  std::string libraryPath_;
};
