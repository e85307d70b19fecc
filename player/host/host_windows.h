// The host's windows: what a media player puts up for a visualisation plug-in, whatever
// loaded the plug-in. A host window that answers the plug-in's requests (WM_USER, code
// in lParam), a frame-window factory, the frame it makes, and the rule that the
// plug-in's child window always fills the frame's client area. Every request is
// recorded; keys, message boxes, the frame's closing and destruction and the end of
// the visualisation thread's loop are passed to a listener. Used by the player's host
// core (PluginHost, which loads the library) and by the tests' host (which links the
// plug-in's code in).
//
// All on one thread, as the plug-in requires; the factory, a plain function, finds the
// HostWindows of the thread that is current (the newest one alive).
#pragma once

#include <string>
#include <vector>

#include "vis_header.h"

// One request the plug-in sent to the host window (WM_USER, code in lParam).
struct HostRequestRecord {
  LPARAM code;
  WPARAM argument;
};

class HostWindowsListener {
 public:
  virtual ~HostWindowsListener() = default;
  // Every request, before it is answered.
  virtual void onRequest(LPARAM code, WPARAM argument) {}
  // WM_KEYDOWN, WM_KEYUP or WM_CHAR reaching the host window (the plug-in forwards keys).
  virtual void onKey(UINT message, WPARAM key, LPARAM flags) {}
  // The plug-in asked for full screen (request 631).
  virtual void onFullscreenRequest() {}
  // WM_CLOSE reached the frame; true when the listener deals with it (the frame stays).
  virtual bool onFrameClose() { return false; }
  // The frame is being destroyed (WM_DESTROY).
  virtual void onFrameDestroyed() {}
  // A message box the plug-in showed (the portable layer's hook); the answer is IDOK.
  virtual void onMessageBox(HWND owner, const char* text, const char* caption, UINT type) {}
  // WM_QUIT came out of the queue: the visualisation thread's loop would end here.
  virtual void onQuit(WPARAM code) {}
};

struct HostWindowsStyle {
  const char* hostTitle = "orlimvis";
  DWORD hostStyle = WS_POPUP;
  RECT hostRect = {0, 0, 1, 1};
  DWORD frameStyle = WS_POPUP;     // the frame has no non-client area either way
  HINSTANCE instance = nullptr;    // of the classes and windows
};

class HostWindows {
 public:
  explicit HostWindows(HostWindowsListener* listener) : listener_(listener) {}
  HostWindows(const HostWindows&) = delete;
  HostWindows& operator=(const HostWindows&) = delete;
  // Destroys the frame and the host window, unregisters the classes, unhooks.
  ~HostWindows();

  // Registers the classes, creates the host window, hooks message boxes.
  bool create(const HostWindowsStyle& style, std::string* error);

  // Fills a record's host fields, as a host does before init.
  void attach(VisModule* module, HINSTANCE moduleInstance) const;
  // Runs every waiting message; WM_QUIT goes to the listener. Returns how many ran.
  int pump();

  // What the host answers.
  bool offerFactory = true;          // request 505
  LRESULT videoPlaying = 0;          // request 501
  bool factoryReturnsNull = false;   // a factory that fails
  // The client size of frames made from now on; 0 x 0 keeps the record's rectangle.
  void setPreferredFrameSize(int width, int height);

  HWND hostWindow() const { return hostWindow_; }
  HWND frame() const { return frame_; }
  HWND visWindow() const { return visWindow_; }
  // Destroys the frame if there is one (a host takes back what a plug-in left).
  void destroyFrame();
  void moveFrame(int x, int y);
  void resizeFrame(int width, int height);  // the frame's client area, width x height

  const std::vector<HostRequestRecord>& requests() const { return requests_; }
  void clearRequests() { requests_.clear(); }
  WPARAM reportedToggle() const { return reportedToggle_; }
  RECT factoryRect = {0, 0, 0, 0};   // the record's rectangle when the factory last ran
  int factoryCalls = 0;

 private:
  static LRESULT CALLBACK hostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK frameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static HWND factory(EmbedRecord* record);
  static int messageBox(void* context, HWND owner, const char* text, const char* caption,
                        UINT type);
  LRESULT answer(LPARAM code, WPARAM argument);
  void fitChild();

  HostWindowsListener* listener_;
  HostWindowsStyle style_;
  HostWindows* previous_ = nullptr;  // the thread's current HostWindows before this one
  bool registered_ = false;
  HWND hostWindow_ = nullptr;
  HWND frame_ = nullptr;
  HWND visWindow_ = nullptr;
  int preferredWidth_ = 0, preferredHeight_ = 0;
  std::vector<HostRequestRecord> requests_;
  WPARAM reportedToggle_ = 0;
};

// Pins the system time the plug-in reads to a fixed day whose milliseconds are
// seed mod 1000: the plug-in seeds its generator from them at every init, so each init,
// and each run, starts from the same state. visSetSystemTimeOverride(nullptr) unpins.
void pinPluginClock(unsigned long seed);
