// GDI objects and device contexts of the portable layer: the handle table, pens,
// brushes, bitmaps, memory and window DCs, selection and deletion, and the GDI calls
// that resolve their handles and hand the pixels to the raster.
//
// Handles are table slots with a generation, so a stale or forged handle is detected
// and fails the call instead of touching freed memory. Slots are reused last-in
// first-out: an effect that makes and deletes a pen per line keeps reusing one slot,
// and nothing is allocated per call. Deletion follows Windows: an object still
// selected into a DC is only marked, and is freed when it is deselected or the DC is
// deleted; GetObjectType keeps answering for it until then.
//
// Polygon on a memory DC is deferred (raster.h): the raster records it, and every
// other call that reads or writes a DC's pixels, or changes which pixels a DC draws
// into, flushes the records first. Windows batches its BOOL-returning drawing calls
// the same way (FillRect, which returns an int, is not batched there and is not here);
// pixels read straight from a bitmap's memory (visBitmapPixels) are current as of the
// last flushing call, as a DIB section's are after GdiFlush.
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../visplatform.h"
#include "gdi_internal.h"
#include "raster.h"
#include "raster_thin_line.h"  // LineTo's short path, inline

namespace vis {
namespace {

// A handle's value: slot index + 1 in the low 16 bits (so no handle is 0), the slot's
// generation in the high 16 bits.
constexpr uint32_t kIndexBits = 16;
constexpr uint32_t kMaxObjects = 1u << kIndexBits;  // Windows' own quota is 10,000

enum DcKind : uint8_t { kMemoryDc, kWindowDc };

// Pens and brushes never change, so each keeps the form the raster takes as well.
struct PenData {
  int style;
  int width;
  COLORREF color;
  RasterPen raster;
};
struct BrushData {
  int style;
  COLORREF color;
  RasterBrush raster;
};
struct BitmapData {
  uint32_t* pixels;
  int width;
  int height;
  HDC selectedIn;  // a bitmap can be selected into one DC at a time
};
// A DC keeps its pen and brush as the objects themselves, and for a memory DC the
// pixels of its bitmap: no object is freed while it is selected and slots never move,
// so the pointers stay valid, and a primitive reads the raster form of the pen where
// CreatePen stored it. (A copy into the DC would read back, as one wide load, the
// fields CreatePen has just stored one by one; such a load waits for those stores to
// retire, and an effect that makes a pen per line pays that wait on every line.)
struct GdiObject;
struct DcData {
  DcKind kind;
  HWND window;
  GdiObject* pen;
  GdiObject* brush;
  HGDIOBJ bitmap;
  POINT position;
  RasterTarget target;  // memory DCs only
};

// 128 bytes a slot (the DC is the largest member), so that a handle's slot is one
// shift away.
struct alignas(128) GdiObject {
  uint32_t handle;    // the current handle value of this slot, 0 when free
  uint8_t type;       // OBJ_* or 0
  bool stock;
  bool deletePending;
  uint32_t selections;  // DCs that have it selected
  uint32_t serial;      // trace id, never reused
  union {
    PenData pen;
    BrushData brush;
    BitmapData bitmap;
    DcData dc;
  };
};

// A flat table in zero-initialised static storage: pages that no object ever used are
// never touched, and a slot is one index away from its handle.
struct Table {
  GdiObject objects[kMaxObjects];
  uint16_t freeSlots[kMaxObjects];  // LIFO stack of released slots
  uint32_t freeCount = 0;
  uint32_t used = 0;                // slots ever handed out
  uint32_t nextSerial = 1;
  int live[16] = {};
  HGDIOBJ stock[9] = {};
  HGDIOBJ defaultBitmap = nullptr;
};

// One table for the process, built before any caller can run (a static object, not a
// function-local one, so that the hot paths pay no initialisation guard).
Table objectTable;
inline Table& table() { return objectTable; }

VisTraceSink traceSink = nullptr;
void* traceContext = nullptr;
WindowTargetResolver windowResolver = nullptr;
WindowIdFn windowIdFn = nullptr;

inline GdiObject* slot(uint32_t index) { return &table().objects[index]; }

__attribute__((always_inline)) inline GdiObject* lookup(const void* handle) {
  const uintptr_t raw = reinterpret_cast<uintptr_t>(handle);
  const uint32_t value = static_cast<uint32_t>(raw);
  if (raw != value) return nullptr;
  const uint32_t index = (value & (kMaxObjects - 1)) - 1;
  if (index >= table().used) return nullptr;
  GdiObject* object = slot(index);
  return (object->handle == value && object->type != 0) ? object : nullptr;
}

inline GdiObject* lookupType(const void* handle, uint8_t type) {
  GdiObject* object = lookup(handle);
  return (object && object->type == type) ? object : nullptr;
}

// The DC found last, by handle value: an effect passes the same DC to every call, and
// a hit costs one compare instead of the slot's checks. release() forgets a DC that
// it frees, so a stale handle still misses and then fails the full check. (A null
// handle matches the empty entry and gets its null DC.)
struct DcMemo {
  uintptr_t handle;
  GdiObject* dc;
};
DcMemo lastDc = {0, nullptr};

__attribute__((always_inline)) inline GdiObject* lookupDc(HDC dc) {
  const uintptr_t raw = reinterpret_cast<uintptr_t>(dc);
  if (raw == lastDc.handle) return lastDc.dc;
  GdiObject* object = lookup(dc);
  if (!object || (object->type != OBJ_MEMDC && object->type != OBJ_DC)) return nullptr;
  lastDc = {raw, object};
  return object;
}

void* handleOf(const GdiObject* object) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(object->handle));
}

__attribute__((always_inline)) inline GdiObject* allocate(uint8_t type) {
  Table& t = table();
  uint32_t index;
  if (t.freeCount > 0) {
    index = t.freeSlots[--t.freeCount];
  } else {
    if (t.used == kMaxObjects - 1) return nullptr;  // index + 1 must fit 16 bits
    index = t.used++;
  }
  GdiObject* object = slot(index);
  const uint32_t generation = ((object->handle >> kIndexBits) + 1) & 0xffffu;
  object->handle = (generation << kIndexBits) | (index + 1);
  object->type = type;
  object->stock = false;
  object->deletePending = false;
  object->selections = 0;
  object->serial = t.nextSerial++;
  ++t.live[type];
  return object;
}

// True while the raster holds deferred drawing; flushDeferred draws it.
bool deferred = false;

inline void flushDeferred() {
  if (__builtin_expect(deferred, 0)) {
    deferred = false;
    rasterFlush();
  }
}

__attribute__((always_inline)) inline void release(GdiObject* object) {
  Table& t = table();
  if (object == lastDc.dc) lastDc = {0, nullptr};
  if (object->type == OBJ_BITMAP) free(object->bitmap.pixels);
  --t.live[object->type];
  object->type = 0;
  // Keep the generation in the handle so that the next owner of the slot gets a new
  // value; the type of 0 already makes the old handle fail.
  t.freeSlots[t.freeCount++] = static_cast<uint16_t>((object->handle & (kMaxObjects - 1)) - 1);
}

void makeStock(GdiObject* object) {
  object->stock = true;
  --table().live[object->type];  // stock objects are not counted as live
}

void ensureStock() {
  Table& t = table();
  if (t.stock[WHITE_PEN]) return;
  struct BrushStock {
    int index;
    COLORREF color;
    int style;
  };
  const BrushStock brushes[] = {{WHITE_BRUSH, RGB(255, 255, 255), BS_SOLID},
                                {LTGRAY_BRUSH, RGB(192, 192, 192), BS_SOLID},
                                {GRAY_BRUSH, RGB(128, 128, 128), BS_SOLID},
                                {DKGRAY_BRUSH, RGB(64, 64, 64), BS_SOLID},
                                {BLACK_BRUSH, RGB(0, 0, 0), BS_SOLID},
                                {NULL_BRUSH, 0, BS_NULL}};
  for (const BrushStock& b : brushes) {
    GdiObject* o = allocate(OBJ_BRUSH);
    o->brush = {b.style, b.color, {b.style == BS_NULL, pixelFromColorref(b.color)}};
    makeStock(o);
    t.stock[b.index] = handleOf(o);
  }
  struct PenStock {
    int index;
    COLORREF color;
    int style;
  };
  const PenStock pens[] = {{WHITE_PEN, RGB(255, 255, 255), PS_SOLID},
                           {BLACK_PEN, RGB(0, 0, 0), PS_SOLID},
                           {NULL_PEN, 0, PS_NULL}};
  for (const PenStock& p : pens) {
    GdiObject* o = allocate(OBJ_PEN);
    o->pen = {p.style, 0, p.color, {p.style == PS_NULL, 0, pixelFromColorref(p.color)}};
    makeStock(o);
    t.stock[p.index] = handleOf(o);
  }
  // A new memory DC holds a 1x1 bitmap until the caller selects its own.
  GdiObject* o = allocate(OBJ_BITMAP);
  o->bitmap = {static_cast<uint32_t*>(calloc(1, sizeof(uint32_t))), 1, 1, nullptr};
  makeStock(o);
  t.defaultBitmap = handleOf(o);
}

// Takes one selection off an object, freeing it if its deletion was deferred.
// Stock objects are never freed, so their selections are not counted: a pen that goes
// in and out of every DC thousands of times a frame would otherwise chain every
// SelectObject on one read-modify-write of its counter.
inline void deselectObject(GdiObject* object) {
  if (object->stock) return;
  if (object->selections > 0) --object->selections;
  if (object->type == OBJ_BITMAP) object->bitmap.selectedIn = nullptr;
  if (object->selections == 0 && object->deletePending) release(object);
}

inline void deselect(HGDIOBJ handle) {
  if (GdiObject* object = lookup(handle)) deselectObject(object);
}

void cacheTarget(GdiObject* dc, const GdiObject* bitmap) {
  const BitmapData& b = bitmap->bitmap;
  dc->dc.target = {b.pixels, b.width, b.height, b.width, 0, 0, {0, 0, b.width, b.height}};
}

GdiObject* newDc(DcKind kind, HWND window) {
  ensureStock();
  GdiObject* object = allocate(kind == kMemoryDc ? OBJ_MEMDC : OBJ_DC);
  if (!object) return nullptr;
  Table& t = table();
  object->dc = {kind, window, lookup(t.stock[BLACK_PEN]), lookup(t.stock[WHITE_BRUSH]), nullptr,
                {0, 0}, {}};
  if (kind == kMemoryDc) {
    object->dc.bitmap = t.defaultBitmap;
    cacheTarget(object, lookup(t.defaultBitmap));
  }
  return object;
}

void freeDc(GdiObject* dc) {
  flushDeferred();
  GdiObject* pen = dc->dc.pen;
  GdiObject* brush = dc->dc.brush;
  HGDIOBJ bitmap = dc->dc.bitmap;
  release(dc);
  deselectObject(pen);
  deselectObject(brush);
  if (bitmap) deselect(bitmap);
}

// The pixels a DC draws into: its bitmap's for a memory DC; for a window DC whatever
// the window system says now (into scratch), or null when there is nothing to draw on.
inline const RasterTarget* targetOf(GdiObject* dc, RasterTarget* scratch) {
  if (dc->dc.kind == kMemoryDc) return &dc->dc.target;
  const bool ok = dc->dc.window && windowResolver && windowResolver(dc->dc.window, scratch);
  return ok ? scratch : nullptr;
}

inline const RasterPen& penOf(const GdiObject* dc) { return dc->dc.pen->pen.raster; }
inline const RasterBrush& brushOf(const GdiObject* dc) { return dc->dc.brush->brush.raster; }

// The calls an effect makes thousands of times a frame (CreatePen, SelectObject,
// MoveToEx, LineTo, DeleteObject) are split in two: the work itself, inline, and the
// exported function, which hands over to a traced twin when a trace sink is installed.
// The untraced path then makes no call of its own, so it needs no stack frame and
// saves no registers; the trace, which formats a line, is out of line and cold.
#define VIS_COLD __attribute__((noinline, cold))

inline HPEN createPen(int style, int width, COLORREF color) {
  ensureStock();
  if (style != PS_SOLID && style != PS_NULL) return nullptr;
  GdiObject* object = allocate(OBJ_PEN);
  if (!object) return nullptr;
  // A negative width counts as its magnitude; INT_MIN has none that fits, and the
  // raster draws any width beyond its cap at the cap.
  const int w = width >= 0 ? width : width == INT32_MIN ? INT32_MAX : -width;
  const COLORREF c = color & 0x00ffffffu;
  object->pen = {style, w, c, {style == PS_NULL, w, pixelFromColorref(c)}};
  return static_cast<HPEN>(handleOf(object));
}

// Puts object into a DC's pen or brush place and returns what was there; the previous
// object may be freed here if its deletion was deferred.
inline HGDIOBJ swapSelection(GdiObject** place, GdiObject* object) {
  GdiObject* previous = *place;
  HGDIOBJ previousHandle = handleOf(previous);
  if (previous == object) return previousHandle;
  *place = object;
  if (!object->stock) ++object->selections;
  deselectObject(previous);
  return previousHandle;
}

HGDIOBJ selectBitmap(GdiObject* dc, HDC dcHandle, GdiObject* object, HGDIOBJ handle) {
  if (dc->dc.kind != kMemoryDc) return nullptr;
  flushDeferred();
  if (object->bitmap.selectedIn && object->bitmap.selectedIn != dcHandle && !object->stock) {
    return nullptr;
  }
  HGDIOBJ previous = dc->dc.bitmap;
  if (previous == handle) return previous;
  dc->dc.bitmap = handle;
  if (!object->stock) {
    ++object->selections;
    object->bitmap.selectedIn = dcHandle;
  }
  cacheTarget(dc, object);
  deselect(previous);
  return previous;
}

inline HGDIOBJ selectObject(GdiObject* dc, HDC dcHandle, GdiObject* object, HGDIOBJ handle) {
  if (!dc || !object || object->deletePending) return nullptr;
  switch (object->type) {
    case OBJ_PEN: return swapSelection(&dc->dc.pen, object);
    case OBJ_BRUSH: return swapSelection(&dc->dc.brush, object);
    case OBJ_BITMAP: return selectBitmap(dc, dcHandle, object, handle);
    default: return nullptr;
  }
}

inline BOOL deleteObject(GdiObject* object) {
  if (!object || object->type == OBJ_DC || object->type == OBJ_MEMDC) return FALSE;
  if (object->stock) return TRUE;
  if (object->selections > 0) {
    object->deletePending = true;
    return TRUE;
  }
  release(object);
  return TRUE;
}

inline BOOL moveTo(GdiObject* dc, int x, int y, LPPOINT previous) {
  if (!dc) return FALSE;
  if (previous) {
    previous->x = dc->dc.position.x;
    previous->y = dc->dc.position.y;
  }
  dc->dc.position.x = x;
  dc->dc.position.y = y;
  return TRUE;
}

__attribute__((noinline)) void lineInWindow(GdiObject* dc, int fromX, int fromY, int x, int y) {
  RasterTarget scratch;
  if (const RasterTarget* target = targetOf(dc, &scratch)) {
    rasterLine(*target, fromX, fromY, x, y, penOf(dc));
  }
}

// A memory DC's line goes straight to the raster; a window DC's asks the window
// system for its pixels first (out of line: it needs a scratch target). The start is
// read field by field, as MoveToEx stored it: one load spanning both of its stores
// could not take their values from the store buffer and would wait for them.
inline BOOL lineTo(GdiObject* dc, int x, int y) {
  if (!dc) return FALSE;
  const int fromX = dc->dc.position.x;
  const int fromY = dc->dc.position.y;
  dc->dc.position.x = x;
  dc->dc.position.y = y;
  const RasterPen& pen = penOf(dc);
  if (pen.null) return TRUE;
  flushDeferred();
  if (dc->dc.kind == kMemoryDc) {
    if (!raster::thinLineShortPath(dc->dc.target, fromX, fromY, x, y, pen)) {
      rasterLineFull(dc->dc.target, fromX, fromY, x, y, pen);
    }
  } else {
    lineInWindow(dc, fromX, fromY, x, y);
  }
  return TRUE;
}

}  // namespace

bool traceOn = false;

void trace(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (traceSink) traceSink(traceContext, line);
}

unsigned traceId(const void* handle) {
  GdiObject* object = lookup(handle);
  return object ? object->serial : 0;
}

void setWindowTargetResolver(WindowTargetResolver resolver) { windowResolver = resolver; }
void setWindowIdFn(WindowIdFn fn) { windowIdFn = fn; }

namespace {
void traceWindowDc(const char* call, HWND window, HDC dc) {
  int width = 0, height = 0;
  const unsigned id = windowIdFn ? windowIdFn(window, &width, &height) : 0;
  trace("#%u = %s w%u %d %d", traceId(dc), call, id, width, height);
}
}  // namespace

HDC createWindowDC(HWND window) {
  GdiObject* dc = newDc(kWindowDc, window);
  if (!dc) return nullptr;
  HDC handle = static_cast<HDC>(handleOf(dc));
  if (traceOn) traceWindowDc("GetDC", window, handle);
  return handle;
}

bool releaseWindowDC(HWND window, HDC handle) {
  GdiObject* dc = lookupType(handle, OBJ_DC);
  if (!dc || dc->dc.window != window) return false;
  if (traceOn) {
    int width = 0, height = 0;
    const unsigned id = windowIdFn ? windowIdFn(window, &width, &height) : 0;
    trace("ReleaseDC w%u #%u", id, dc->serial);
  }
  freeDc(dc);
  return true;
}

}  // namespace vis

using namespace vis;

extern "C" {

// ---- Objects -----------------------------------------------------------------------

HGDIOBJ WINAPI GetStockObject(int index) {
  ensureStock();
  if (index < 0 || index > NULL_PEN) return nullptr;
  HGDIOBJ object = table().stock[index];
  if (traceOn) trace("#%u = GetStockObject %d", traceId(object), index);
  return object;
}

VIS_COLD static HPEN tracedCreatePen(int style, int width, COLORREF color) {
  HPEN pen = createPen(style, width, color);
  trace("#%u = CreatePen %d %d 0x%08x", traceId(pen), style, width, color);
  return pen;
}

HPEN WINAPI CreatePen(int style, int width, COLORREF color) {
  if (__builtin_expect(traceOn, 0)) return tracedCreatePen(style, width, color);
  return createPen(style, width, color);
}

HBRUSH WINAPI CreateSolidBrush(COLORREF color) {
  ensureStock();
  GdiObject* object = allocate(OBJ_BRUSH);
  if (object) {
    const COLORREF c = color & 0x00ffffffu;
    object->brush = {BS_SOLID, c, {false, pixelFromColorref(c)}};
  }
  HBRUSH brush = object ? static_cast<HBRUSH>(handleOf(object)) : nullptr;
  if (traceOn) trace("#%u = CreateSolidBrush 0x%08x", traceId(brush), color);
  return brush;
}

HBITMAP WINAPI CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel,
                            const void* bits) {
  ensureStock();
  GdiObject* object = nullptr;
  // Only the one format the plug-in uses: one plane of 32-bit pixels. A 0 x 0 request
  // gets the 1 x 1 default bitmap, as on Windows.
  if (planes == 1 && bitsPerPixel == 32 && width >= 0 && height >= 0 &&
      static_cast<int64_t>(width) * height <= (int64_t{1} << 28)) {
    if (width == 0 || height == 0) {
      if (traceOn) trace("#%u = CreateBitmap %d %d %u %u", traceId(table().defaultBitmap),
                         width, height, planes, bitsPerPixel);
      return static_cast<HBITMAP>(table().defaultBitmap);
    }
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    uint32_t* pixels = static_cast<uint32_t*>(calloc(count, sizeof(uint32_t)));
    if (pixels) {
      object = allocate(OBJ_BITMAP);
      if (object) {
        if (bits) memcpy(pixels, bits, count * sizeof(uint32_t));
        object->bitmap = {pixels, width, height, nullptr};
      } else {
        free(pixels);
      }
    }
  }
  HBITMAP bitmap = object ? static_cast<HBITMAP>(handleOf(object)) : nullptr;
  if (traceOn) trace("#%u = CreateBitmap %d %d %u %u", traceId(bitmap), width, height, planes,
                     bitsPerPixel);
  return bitmap;
}

DWORD WINAPI GetObjectType(HGDIOBJ handle) {
  GdiObject* object = lookup(handle);
  return object ? object->type : 0;
}

VIS_COLD static BOOL tracedDeleteObject(HGDIOBJ handle) {
  GdiObject* object = lookup(handle);
  trace("DeleteObject #%u", object ? object->serial : 0);
  return deleteObject(object);
}

BOOL WINAPI DeleteObject(HGDIOBJ handle) {
  if (__builtin_expect(traceOn, 0)) return tracedDeleteObject(handle);
  return deleteObject(lookup(handle));
}

VIS_COLD static HGDIOBJ tracedSelectObject(HDC dcHandle, HGDIOBJ handle) {
  GdiObject* dc = lookupDc(dcHandle);
  GdiObject* object = lookup(handle);
  trace("SelectObject #%u #%u", dc ? dc->serial : 0, object ? object->serial : 0);
  return selectObject(dc, dcHandle, object, handle);
}

HGDIOBJ WINAPI SelectObject(HDC dcHandle, HGDIOBJ handle) {
  if (__builtin_expect(traceOn, 0)) return tracedSelectObject(dcHandle, handle);
  return selectObject(lookupDc(dcHandle), dcHandle, lookup(handle), handle);
}

// ---- DCs ---------------------------------------------------------------------------

HDC WINAPI CreateCompatibleDC(HDC reference) {
  if (reference && !lookupDc(reference)) {
    if (traceOn) trace("#0 = CreateCompatibleDC #0");
    return nullptr;
  }
  GdiObject* dc = newDc(kMemoryDc, nullptr);
  HDC handle = dc ? static_cast<HDC>(handleOf(dc)) : nullptr;
  if (traceOn) trace("#%u = CreateCompatibleDC #%u", traceId(handle), traceId(reference));
  return handle;
}

BOOL WINAPI DeleteDC(HDC handle) {
  GdiObject* dc = lookupType(handle, OBJ_MEMDC);
  if (traceOn) trace("DeleteDC #%u", dc ? dc->serial : 0);
  if (!dc) return FALSE;
  freeDc(dc);
  return TRUE;
}

// ---- Drawing -----------------------------------------------------------------------

int WINAPI FillRect(HDC dcHandle, const RECT* rect, HBRUSH brushHandle) {
  GdiObject* dc = lookupDc(dcHandle);
  GdiObject* brush = lookupType(brushHandle, OBJ_BRUSH);
  if (traceOn && rect) {
    trace("FillRect #%u %d %d %d %d #%u", dc ? dc->serial : 0, rect->left, rect->top,
          rect->right, rect->bottom, brush ? brush->serial : 0);
  }
  if (!dc || !brush || !rect) return 0;
  flushDeferred();
  RasterTarget scratch;
  const RasterTarget* target = brush->brush.raster.null ? nullptr : targetOf(dc, &scratch);
  if (target) rasterFillRect(*target, *rect, brush->brush.raster.pixel);
  return 1;
}

BOOL WINAPI Ellipse(HDC dcHandle, int left, int top, int right, int bottom) {
  GdiObject* dc = lookupDc(dcHandle);
  if (traceOn) trace("Ellipse #%u %d %d %d %d", dc ? dc->serial : 0, left, top, right, bottom);
  if (!dc) return FALSE;
  flushDeferred();
  RasterTarget scratch;
  if (const RasterTarget* target = targetOf(dc, &scratch)) {
    rasterEllipse(*target, left, top, right, bottom, penOf(dc), brushOf(dc));
  }
  return TRUE;
}

BOOL WINAPI Rectangle(HDC dcHandle, int left, int top, int right, int bottom) {
  GdiObject* dc = lookupDc(dcHandle);
  if (traceOn) trace("Rectangle #%u %d %d %d %d", dc ? dc->serial : 0, left, top, right, bottom);
  if (!dc) return FALSE;
  flushDeferred();
  RasterTarget scratch;
  if (const RasterTarget* target = targetOf(dc, &scratch)) {
    rasterRectangle(*target, left, top, right, bottom, penOf(dc), brushOf(dc));
  }
  return TRUE;
}

BOOL WINAPI Polygon(HDC dcHandle, const POINT* points, int count) {
  GdiObject* dc = lookupDc(dcHandle);
  if (traceOn) {
    // One line per call, however many points: long polygons are written in pieces
    // that the replayer joins ("Polygon" then "+" continuation lines).
    char line[480];
    int used = snprintf(line, sizeof line, "Polygon #%u %d", dc ? dc->serial : 0, count);
    for (int i = 0; points && i < count; ++i) {
      if (used > 440) {
        trace("%s", line);
        used = snprintf(line, sizeof line, "+");
      }
      used += snprintf(line + used, sizeof line - used, " %d %d", points[i].x, points[i].y);
    }
    trace("%s", line);
  }
  if (!dc || !points || count < 2) return FALSE;
  if (dc->dc.kind == kMemoryDc &&
      rasterDeferPolygon(dc->dc.target, points, count, penOf(dc), brushOf(dc))) {
    deferred = true;
    return TRUE;
  }
  flushDeferred();
  RasterTarget scratch;
  if (const RasterTarget* target = targetOf(dc, &scratch)) {
    rasterPolygon(*target, points, count, penOf(dc), brushOf(dc));
  }
  return TRUE;
}

VIS_COLD static BOOL tracedMoveToEx(HDC dcHandle, int x, int y, LPPOINT previous) {
  GdiObject* dc = lookupDc(dcHandle);
  trace("MoveToEx #%u %d %d", dc ? dc->serial : 0, x, y);
  return moveTo(dc, x, y, previous);
}

BOOL WINAPI MoveToEx(HDC dcHandle, int x, int y, LPPOINT previous) {
  if (__builtin_expect(traceOn, 0)) return tracedMoveToEx(dcHandle, x, y, previous);
  return moveTo(lookupDc(dcHandle), x, y, previous);
}

VIS_COLD static BOOL tracedLineTo(HDC dcHandle, int x, int y) {
  GdiObject* dc = lookupDc(dcHandle);
  trace("LineTo #%u %d %d", dc ? dc->serial : 0, x, y);
  return lineTo(dc, x, y);
}

BOOL WINAPI LineTo(HDC dcHandle, int x, int y) {
  if (__builtin_expect(traceOn, 0)) return tracedLineTo(dcHandle, x, y);
  return lineTo(lookupDc(dcHandle), x, y);
}

BOOL WINAPI BitBlt(HDC destHandle, int x, int y, int width, int height, HDC sourceHandle,
                   int sourceX, int sourceY, DWORD rop) {
  GdiObject* dest = lookupDc(destHandle);
  GdiObject* source = lookupDc(sourceHandle);
  if (traceOn) {
    trace("BitBlt #%u %d %d %d %d #%u %d %d 0x%08x", dest ? dest->serial : 0, x, y, width,
          height, source ? source->serial : 0, sourceX, sourceY, rop);
  }
  if (!dest || !source || rop != SRCCOPY) return FALSE;
  flushDeferred();
  RasterTarget toScratch, fromScratch;
  const RasterTarget* to = targetOf(dest, &toScratch);
  const RasterTarget* from = targetOf(source, &fromScratch);
  if (to && from) rasterCopy(*to, x, y, width, height, *from, sourceX, sourceY);
  return TRUE;
}

COLORREF WINAPI GetPixel(HDC dcHandle, int x, int y) {
  flushDeferred();
  GdiObject* dc = lookupDc(dcHandle);
  RasterTarget scratch;
  const RasterTarget* target = dc ? targetOf(dc, &scratch) : nullptr;
  if (!target) return CLR_INVALID;
  const RasterTarget& t = *target;
  const int64_t dx = int64_t{x} + t.originX, dy = int64_t{y} + t.originY;
  if (dx < t.clip.left || dx >= t.clip.right || dy < t.clip.top || dy >= t.clip.bottom) {
    return CLR_INVALID;
  }
  return colorrefFromPixel(t.pixels[static_cast<ptrdiff_t>(dy) * t.stride + static_cast<ptrdiff_t>(dx)]);
}

// ---- Hooks -------------------------------------------------------------------------

BOOL visBitmapPixels(HBITMAP handle, VisPixels* out) {
  GdiObject* bitmap = lookupType(handle, OBJ_BITMAP);
  if (!bitmap || !out) return FALSE;
  flushDeferred();
  *out = {bitmap->bitmap.pixels, bitmap->bitmap.width, bitmap->bitmap.height,
          bitmap->bitmap.width};
  return TRUE;
}

int visLiveObjectCount(DWORD type) { return type < 16 ? table().live[type] : 0; }

void visSetTraceSink(VisTraceSink sink, void* context) {
  traceSink = sink;
  traceContext = context;
  traceOn = sink != nullptr;
}

}  // extern "C"
