// Extensions of libvisplatform that have no Win32 counterpart: what a host needs to
// show or capture a window's pixels and to answer message boxes, and the hooks that
// tests use to watch the layer. The plug-in never includes this header.
#pragma once

#include <stdio.h>

#include "win32_portable.h"

#ifdef __cplusplus
extern "C" {
#endif

// ---- Pixels ----------------------------------------------------------------------

// A view of 32-bit pixels, 0x00RRGGBB (the byte order of a 32-bit DIB), rows top-down;
// stride counts pixels, not bytes.
typedef struct VisPixels {
  uint32_t* pixels;
  int width;
  int height;
  int stride;
} VisPixels;

// The pixels of a bitmap made by CreateBitmap. Valid until the bitmap is deleted. Polygons
// drawn into a memory DC are deferred: the pixels are current as of this call or of
// the last call that drew otherwise, blitted or read (as a DIB section's after GdiFlush).
VISPLATFORM_API BOOL visBitmapPixels(HBITMAP bitmap, VisPixels* out);

// The pixel buffer of a top-level window (its whole window rectangle; children draw
// into it at their offsets). Valid until the window is resized or destroyed.
VISPLATFORM_API BOOL visWindowPixels(HWND window, VisPixels* out);

// Lends a top-level window memory for its pixels in place of the layer's own buffer, so
// that what is drawn into the window lands straight where the host shows it (a window
// system's shared image) with no copy between. `pixels` holds the window's width x
// height (which must be those given) at `stride` pixels a row, and must stay valid
// until it is taken back (a null `pixels`), the window is resized (the layer then
// returns to a buffer of its own, keeping the content as any resize does) or the window
// is destroyed. The window's present pixels are copied in on lending and out on taking
// back. FALSE, with nothing changed, for a child or unknown window or a size that is not
// the window's.
VISPLATFORM_API BOOL visLendWindowPixels(HWND window, uint32_t* pixels, int width, int height,
                                         int stride);

// ---- Host services ---------------------------------------------------------------

// MessageBoxA calls this handler when one is installed; without one it prints caption
// and text on stderr and returns IDOK.
typedef int (*VisMessageBoxHandler)(void* context, HWND owner, const char* text,
                                    const char* caption, UINT type);
VISPLATFORM_API void visSetMessageBoxHandler(VisMessageBoxHandler handler, void* context);

// ---- Test hooks ------------------------------------------------------------------

// Live objects of one GetObjectType kind (OBJ_PEN, OBJ_BRUSH, OBJ_BITMAP, OBJ_DC,
// OBJ_MEMDC), stock objects excluded. An object whose deletion is deferred because it
// is still selected counts as alive, as it is on Windows.
VISPLATFORM_API int visLiveObjectCount(DWORD objectType);

// Windows of the calling thread that exist (created and not yet destroyed).
VISPLATFORM_API int visLiveWindowCount(void);

// Every GDI call is written to the sink as one line of text (no newline), in a form a
// Win32 program can replay on real GDI. A null sink turns tracing off.
typedef void (*VisTraceSink)(void* context, const char* line);
VISPLATFORM_API void visSetTraceSink(VisTraceSink sink, void* context);

// Overrides of GetSystemTime and of GetModuleFileNameA (for every module handle).
// A null argument removes the override.
VISPLATFORM_API void visSetSystemTimeOverride(const SYSTEMTIME* time);
VISPLATFORM_API void visSetModuleFileNameOverride(const char* path);

#ifdef __cplusplus
}
#endif
