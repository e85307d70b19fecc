// The host core: what a media player does for a visualisation plug-in, and nothing
// more. It loads the plug-in library, reads its header and modules, runs one module at
// a time in the calling order the plug-in expects (init once, render per frame, quit
// once), all on the calling thread, and answers the plug-in's requests through a host
// window of its own. It speaks only the plug-in's exported function and records and the
// Win32 subset of libvisplatform; it knows nothing of audio, SDL or files.
//
// Frames: the factory the host hands out creates a frame window (a borderless top-level
// window, so its client area is its whole rectangle) from the plug-in's EmbedRecord, at
// the record's position and at the host's preferred size when one is set, else the
// record's. Whenever the frame is created, moved or resized, the host sets the
// plug-in's child window to fill the frame's client area; the child therefore sees
// each move and size, and the position the plug-in saves follows the frame.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/host_windows.h"
#include "vis_header.h"
#include "visplatform.h"  // visWindowPixels

// What the host passes on to the program that embeds it.
class HostEvents {
 public:
  virtual ~HostEvents() = default;
  // A key message the plug-in forwarded to the host window.
  virtual void onKey(UINT message, WPARAM key, LPARAM flags) {}
  // The plug-in asked for full screen (request 631).
  virtual void onFullscreenRequest() {}
  // Someone asked the frame window to close.
  virtual void onFrameClose() {}
};

class PluginHost : private HostWindowsListener {
 public:
  PluginHost() = default;
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;
  ~PluginHost();  // quits a running module, destroys the host window, unloads

  // Loads the library and reads its header; sets *error to one line on failure.
  bool load(const std::string& path, std::string* error);
  void setEvents(HostEvents* events) { events_ = events; }

  const char* description() const;
  int moduleCount() const { return (int)modules_.size(); }
  VisModule* module(int index) const { return modules_[(size_t)index]; }
  const char* moduleName(int index) const;
  // A module by display name (any case) or by index; -1 when there is none.
  int findModule(const std::string& nameOrIndex) const;
  std::string moduleNames() const;  // "Zarvenn, Pellox, ..."

  // The client size of frames made from now on; 0 x 0 keeps the plug-in's rectangle.
  void setPreferredFrameSize(int width, int height);

  // Fills the record's host fields and calls init; on failure *error holds the reason
  // (the plug-in's message box text when it showed one).
  bool start(int index, std::string* error);
  // Calls quit and drains the messages it leaves (the end of the vis thread's loop).
  void stop();
  bool running() const { return runningIndex_ >= 0; }
  int runningIndex() const { return runningIndex_; }

  // Fills channels, sample rate and spectrum, calls render, then delivers messages.
  void renderFrame(const unsigned char spectrum[2][VIS_SPECTRUM_BANDS], int channels,
                   int sampleRate);
  // Dispatches every queued message (the plug-in's posted keys among them).
  void pumpMessages();

  // The frame's pixels as the plug-in last presented them.
  bool framePixels(VisPixels* out) const;
  // Has the frame keep its pixels in the caller's memory (its width x height at `stride`
  // pixels a row) until it is resized or the memory is taken back with a null `pixels`
  // (visLendWindowPixels).
  bool lendFramePixels(uint32_t* pixels, int width, int height, int stride);
  std::string frameTitle() const;
  void moveFrame(int x, int y);
  void resizeFrame(int width, int height);

  // Delivers a key to the visualisation window, as the window system does for the
  // window with the keyboard focus (queued, then dispatched).
  void sendKey(UINT message, WPARAM key, LPARAM flags);
  // Sends WM_COMMAND with (code, high word) to the visualisation window.
  void sendCommand(int code, int highWord);

  HWND hostWindow() const { return windows_->hostWindow(); }
  HWND frameWindow() const { return windows_->frame(); }
  HWND visWindow() const { return windows_->visWindow(); }
  const std::vector<HostRequestRecord>& requests() const { return windows_->requests(); }
  void clearRequests() { windows_->clearRequests(); }
  WPARAM reportedToggle() const { return windows_->reportedToggle(); }
  const std::string& lastMessage() const { return lastMessage_; }

 private:
  void onKey(UINT message, WPARAM key, LPARAM flags) override;
  void onFullscreenRequest() override { events_->onFullscreenRequest(); }
  bool onFrameClose() override;
  void onMessageBox(HWND owner, const char* text, const char* caption, UINT type) override;
  void unload();

  HMODULE library_ = nullptr;
  VisHeader* header_ = nullptr;
  std::vector<VisModule*> modules_;
  HostEvents defaultEvents_;
  HostEvents* events_ = &defaultEvents_;
  std::unique_ptr<HostWindows> windows_;  // made by load(), gone before the library
  int runningIndex_ = -1;
  bool starting_ = false;
  std::string lastMessage_;
};
