// What the rest of libvisplatform needs from the GDI object layer: window DCs, whose
// pixels belong to the window system, and the trace writer. Not exported.
#pragma once

#include "../win32_portable.h"
#include "raster.h"

namespace vis {

// Finds the pixels a window DC draws into. The window system installs it; a window DC
// asks at every call, because a window's buffer moves when its top level is resized.
// Returns false when the window has nothing to draw into (the screen, a destroyed
// window), and the call then draws nothing.
typedef bool (*WindowTargetResolver)(HWND window, RasterTarget* out);
void setWindowTargetResolver(WindowTargetResolver resolver);

// A DC that draws into a window (null: the screen). Kept until releaseWindowDC.
HDC createWindowDC(HWND window);
bool releaseWindowDC(HWND window, HDC dc);

// The trace id of a window, as written in GetDC lines ("w3"); 0 is the screen.
typedef unsigned (*WindowIdFn)(HWND window, int* clientWidth, int* clientHeight);
void setWindowIdFn(WindowIdFn fn);

// True when a trace sink is installed; trace() formats and sends one line.
extern bool traceOn;
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The trace id ("#N") of a handle, 0 for a null or unknown one.
unsigned traceId(const void* handle);

}  // namespace vis
