// Init, quit and config, shared by all four modules.
//
// Init asks the host for a frame window, creates the visualisation window in it,
// builds the drawing surface and seeds the particles; quit takes all of it down and
// saves where the frame stood. A failed init takes down what it had built itself (the
// frame it was given, the class it registered) before it reports: otherwise the class
// would stay registered and every later init would fail at registration, and the
// host's hidden frame would be left behind, since no quit follows a failed init.
#include "plugin/lifecycle.h"

#include "draw/draw_surface.h"
#include "state/vis_state.h"

EmbedRecord visEmbed = {};

namespace {

const char kFailureCaption[] = "blah";

LRESULT request(HWND host, WPARAM argument, HostRequest code) {
  return SendMessageA(host, WM_USER, argument, static_cast<LPARAM>(code));
}

void reportFailure(const VisModule* module, const char* text) {
  MessageBoxA(module->hostWindow, text, kFailureCaption, MB_OK);
}

// The frame's handle is let go once the window is gone (a stale one could name some
// later window), but kept while it stands: a frame that could not be destroyed (one
// of another thread, or one being destroyed already) is still there to take down.
void destroyFrame() {
  if (!visEmbed.frame) return;
  if (DestroyWindow(visEmbed.frame) || !IsWindow(visEmbed.frame)) visEmbed.frame = nullptr;
}

// The class stays registered while windows of it remain, and the flag says so.
void unregisterClass(const VisModule* module) {
  if (UnregisterClassA(VIS_WINDOW_CLASS, module->moduleInstance)) visState.classRegistered = false;
}

// A coordinate plus an extent as 32-bit Windows adds them, wrapping in two's
// complement, where the plain int sum would be undefined. The plug-in saves whatever
// corner the frame had, so a position near 2147483647 comes back at every init; with
// the wrap the DLL and the .so give such a host the same rectangle, and the host's
// right - left, taken with the same wrap, is still the surface's size.
LONG wrappingAdd(LONG a, LONG b) {
  return static_cast<LONG>(static_cast<unsigned>(a) + static_cast<unsigned>(b));
}

}  // namespace

int visInit(VisModule* module) {
  visState.surfaceWidth = 640;
  visState.surfaceHeight = 480;
  visState.activeModule = module;
  loadSettings(module);
  visEmbed.rect.left = visState.framePosX;
  visEmbed.rect.top = visState.framePosY;
  visEmbed.rect.right = wrappingAdd(visState.framePosX, visState.surfaceWidth);
  visEmbed.rect.bottom = wrappingAdd(visState.framePosY, visState.surfaceHeight);

  const EmbedFactory factory =
      reinterpret_cast<EmbedFactory>(request(module->hostWindow, 0, HOST_GET_EMBED_FACTORY));
  if (!factory) {
    reportFailure(module, "This plugin requires Winamp 5.0+");
    return 1;
  }
  // The host stores the frame in the record too; the returned handle is the one
  // this library parents its window to, so the record is made to agree with it.
  const HWND frame = factory(&visEmbed);
  visEmbed.frame = frame;
  SetWindowTextA(visEmbed.frame, module->description);

  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = visWindowProc;
  windowClass.hInstance = module->moduleInstance;
  windowClass.lpszClassName = VIS_WINDOW_CLASS;
  if (!RegisterClassA(&windowClass)) {
    destroyFrame();
    reportFailure(module, "Error registering window class");
    return 1;
  }
  visState.classRegistered = true;

  // The window system sends the size notification while it creates the window, so
  // the resize rule has set the surface to the frame's client size by the time this
  // returns.
  const HWND window = CreateWindowExA(
      0, VIS_WINDOW_CLASS, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
      visState.framePosX, visState.framePosY, visState.surfaceWidth, visState.surfaceHeight,
      frame, nullptr, module->moduleInstance, nullptr);
  if (!window) {
    releaseSurface();  // a resize may have built one before creation failed
    unregisterClass(module);
    destroyFrame();
    reportFailure(module, "Error creating window");
    return 1;
  }
  visState.visWindow = window;
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(module));
  request(module->hostWindow, reinterpret_cast<WPARAM>(window), HOST_SET_VIS_WINDOW);
  buildSurface(visState.surfaceWidth, visState.surfaceHeight);

  SYSTEMTIME now;
  GetSystemTime(&now);
  visSrand(now.wMilliseconds);
  seedParticles();

  ShowWindow(visEmbed.frame, SW_SHOWNORMAL);
  return 0;
}

void visQuit(VisModule* module) {
  request(module->hostWindow, 0, HOST_SET_VIS_WINDOW);
  saveSettings(module);
  releaseSurface();
  if (visEmbed.frame) {
    const VisModule* active = visState.activeModule ? visState.activeModule : module;
    SetForegroundWindow(active->hostWindow);
    // Destroys the visualisation window with it, which ends the message loop.
    destroyFrame();
  }
  if (!IsWindow(visState.visWindow)) visState.visWindow = nullptr;
  unregisterClass(module);
}

void visConfig(VisModule* module) {
  MessageBoxA(module->hostWindow,
              "Version 1.1\n-New module added based on Koch Curves\n\n(No configuration options yet)",
              "Configuration", MB_OK);
}
