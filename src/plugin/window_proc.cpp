// The procedure of the "SimpleVis" window: keeps the drawing surface the size of the
// frame's client area, repaints from it, tracks where the frame stands, passes keys
// on to the host window and answers the host's toggle and full-screen commands.
#include "draw/draw_surface.h"
#include "plugin/lifecycle.h"
#include "state/vis_state.h"

namespace {

LRESULT request(HWND host, WPARAM argument, HostRequest code) {
  return SendMessageA(host, WM_USER, argument, static_cast<LPARAM>(code));
}

// The surface follows the frame's client area, not the size the message carries: the
// host may not have fitted this window into the frame yet.
void resizeRule() {
  RECT client;
  if (!GetClientRect(visEmbed.frame, &client)) return;
  visState.surfaceWidth = client.right - client.left;
  visState.surfaceHeight = client.bottom - client.top;
  buildSurface(visState.surfaceWidth, visState.surfaceHeight);
  visState.surfaceRect.left = 0;
  visState.surfaceRect.top = 0;
  visState.surfaceRect.right = visState.surfaceWidth;
  visState.surfaceRect.bottom = visState.surfaceHeight;
}

// The frame's screen position as it stands when this window is about to move.
void positionRule() {
  RECT frame;
  if (!GetWindowRect(visEmbed.frame, &frame)) return;
  visState.framePosX = frame.left;
  visState.framePosY = frame.top;
}

// Keys go on to the host window unchanged. Before init has stored the module there is
// no host to tell, and the key is dropped.
void keyRule(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const VisModule* module =
      reinterpret_cast<const VisModule*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (module) PostMessageA(module->hostWindow, message, wParam, lParam);
}

void commandRule(WPARAM wParam) {
  const VisModule* module = visState.activeModule;
  if (!module) return;
  const unsigned argument = HIWORD(wParam);
  switch (LOWORD(wParam)) {
    case CMD_TOGGLE:
      if (argument == 0xFFFF) {
        request(module->hostWindow, static_cast<WPARAM>(visState.hostToggle), HOST_REPORT_TOGGLE);
      } else {
        visState.hostToggle = argument != 0 ? 1 : 0;
      }
      break;
    case CMD_FULLSCREEN:
      if (request(module->hostWindow, 0, HOST_QUERY_VIDEO_PLAYING) > 1) {
        MessageBoxA(module->hostWindow, "Can't go fullscreen while video is playing", "OVis",
                    MB_OK);
      } else {
        request(module->hostWindow, 1, HOST_REQUEST_FULLSCREEN);
      }
      break;
    default:  // the rest of 40382..40391, and every other command: nothing
      break;
  }
}

}  // namespace

LRESULT CALLBACK visWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      resizeRule();
      break;
    case WM_PAINT:
      repaintSurface(window);
      return 0;
    case WM_ERASEBKGND:
      return 0;
    case WM_WINDOWPOSCHANGING:
      positionRule();
      return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
      keyRule(window, message, wParam, lParam);
      return 0;
    case WM_COMMAND:
      commandRule(wParam);
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
