// Import-table patching of a loaded plug-in: wrappers for the GDI32 functions that make
// and free objects, for BitBlt (to count presentations) and for GetSystemTime (so that
// a test can fix the generator's seed).
#include "gdi_watch.h"

#include <stdio.h>
#include <string.h>

#include <unordered_map>

GdiWatch gdiWatch;

namespace {

typedef HPEN(WINAPI* CreatePenFn)(int, int, COLORREF);
typedef HBRUSH(WINAPI* CreateSolidBrushFn)(COLORREF);
typedef HDC(WINAPI* CreateCompatibleDCFn)(HDC);
typedef HBITMAP(WINAPI* CreateBitmapFn)(int, int, UINT, UINT, const void*);
typedef BOOL(WINAPI* DeleteObjectFn)(HGDIOBJ);
typedef BOOL(WINAPI* DeleteDCFn)(HDC);
typedef BOOL(WINAPI* BitBltFn)(HDC, int, int, int, int, HDC, int, int, DWORD);
typedef void(WINAPI* GetSystemTimeFn)(LPSYSTEMTIME);
typedef BOOL(WINAPI* MoveToExFn)(HDC, int, int, LPPOINT);
typedef BOOL(WINAPI* LineToFn)(HDC, int, int);
typedef BOOL(WINAPI* EllipseFn)(HDC, int, int, int, int);
typedef BOOL(WINAPI* PolygonFn)(HDC, const POINT*, int);

CreatePenFn realCreatePen;
CreateSolidBrushFn realCreateSolidBrush;
CreateCompatibleDCFn realCreateCompatibleDC;
CreateBitmapFn realCreateBitmap;
DeleteObjectFn realDeleteObject;
DeleteDCFn realDeleteDC;
BitBltFn realBitBlt;
GetSystemTimeFn realGetSystemTime;
MoveToExFn realMoveToEx;
LineToFn realLineTo;
EllipseFn realEllipse;
PolygonFn realPolygon;

bool tracing() { return gdiWatch.traceRender >= 0 && gdiWatch.currentRender == gdiWatch.traceRender; }

void emit(const std::string& line) {
  if (gdiWatch.sink) gdiWatch.sink(line);
}

// The latest record of each handle value; effects make thousands of pens a frame.
std::unordered_map<HGDIOBJ, size_t> latestRecord;

void remember(HGDIOBJ handle, DWORD type) {
  if (!handle) return;
  // A handle value seen before belongs to an object that GDI has freed since: the
  // old record can no longer be asked about.
  auto it = latestRecord.find(handle);
  if (it != latestRecord.end()) gdiWatch.records[it->second].superseded = true;
  latestRecord[handle] = gdiWatch.records.size();
  gdiWatch.records.push_back({handle, type, gdiWatch.currentRender, false});
}

const GdiRecord* find(HGDIOBJ handle) {
  auto it = latestRecord.find(handle);
  return it == latestRecord.end() ? nullptr : &gdiWatch.records[it->second];
}

HPEN WINAPI watchCreatePen(int style, int width, COLORREF color) {
  HPEN pen = realCreatePen(style, width, color);
  remember(pen, OBJ_PEN);
  return pen;
}

HBRUSH WINAPI watchCreateSolidBrush(COLORREF color) {
  HBRUSH brush = realCreateSolidBrush(color);
  remember(brush, OBJ_BRUSH);
  return brush;
}

HDC WINAPI watchCreateCompatibleDC(HDC reference) {
  HDC dc = realCreateCompatibleDC(reference);
  remember(dc, OBJ_MEMDC);
  gdiWatch.surfaceDc = dc;
  char line[96];
  snprintf(line, sizeof line, "memdc_created ok=%d", dc ? 1 : 0);
  emit(line);
  return dc;
}

HBITMAP WINAPI watchCreateBitmap(int width, int height, UINT planes, UINT bits,
                                 const void* data) {
  HBITMAP bitmap = realCreateBitmap(width, height, planes, bits, data);
  remember(bitmap, OBJ_BITMAP);
  char line[160];
  snprintf(line, sizeof line, "bitmap_created width=%d height=%d planes=%u bits=%u data=%d ok=%d",
           width, height, planes, bits, data ? 1 : 0, bitmap ? 1 : 0);
  emit(line);
  return bitmap;
}

BOOL WINAPI watchDeleteObject(HGDIOBJ object) {
  const GdiRecord* r = find(object);
  const DWORD type = r ? r->type : 0;
  BOOL ok = realDeleteObject(object);
  if (type == OBJ_BITMAP) {
    char line[96];
    snprintf(line, sizeof line, "bitmap_deleted ok=%d alive_after=%d", ok ? 1 : 0,
             GetObjectType(object) != 0 ? 1 : 0);
    emit(line);
  }
  return ok;
}

BOOL WINAPI watchDeleteDC(HDC dc) {
  BOOL ok = realDeleteDC(dc);
  if (dc == gdiWatch.surfaceDc) gdiWatch.surfaceDc = nullptr;
  char line[96];
  snprintf(line, sizeof line, "memdc_deleted ok=%d", ok ? 1 : 0);
  emit(line);
  return ok;
}

BOOL WINAPI watchBitBlt(HDC target, int x, int y, int width, int height, HDC source, int sx,
                        int sy, DWORD rop) {
  if (GetObjectType(target) != OBJ_MEMDC) {
    ++gdiWatch.windowBlits;
    ++gdiWatch.windowBlitsThisRender;
  }
  return realBitBlt(target, x, y, width, height, source, sx, sy, rop);
}

void WINAPI watchGetSystemTime(LPSYSTEMTIME time) {
  realGetSystemTime(time);
  if (gdiWatch.overrideTime) time->wMilliseconds = gdiWatch.overrideMillis;
}

// The geometry of the traced render, in the portable layer's trace wording without
// the DC serial, so that the two can be compared call by call.
BOOL WINAPI watchMoveToEx(HDC dc, int x, int y, LPPOINT previous) {
  if (tracing()) emit("gdi_call text=\"MoveToEx " + std::to_string(x) + " " + std::to_string(y) + "\"");
  return realMoveToEx(dc, x, y, previous);
}

BOOL WINAPI watchLineTo(HDC dc, int x, int y) {
  if (tracing()) emit("gdi_call text=\"LineTo " + std::to_string(x) + " " + std::to_string(y) + "\"");
  return realLineTo(dc, x, y);
}

BOOL WINAPI watchEllipse(HDC dc, int left, int top, int right, int bottom) {
  if (tracing())
    emit("gdi_call text=\"Ellipse " + std::to_string(left) + " " + std::to_string(top) + " " +
         std::to_string(right) + " " + std::to_string(bottom) + "\"");
  return realEllipse(dc, left, top, right, bottom);
}

BOOL WINAPI watchPolygon(HDC dc, const POINT* points, int count) {
  if (tracing()) {
    std::string text = "Polygon " + std::to_string(count);
    for (int i = 0; i < count; ++i)
      text += " " + std::to_string(points[i].x) + " " + std::to_string(points[i].y);
    emit("gdi_call text=\"" + text + "\"");
  }
  return realPolygon(dc, points, count);
}

struct Wrapper {
  const char* dll;
  const char* name;
  void* replacement;
  void** original;
};

const Wrapper wrappers[] = {
    {"gdi32.dll", "CreatePen", (void*)watchCreatePen, (void**)&realCreatePen},
    {"gdi32.dll", "CreateSolidBrush", (void*)watchCreateSolidBrush, (void**)&realCreateSolidBrush},
    {"gdi32.dll", "CreateCompatibleDC", (void*)watchCreateCompatibleDC,
     (void**)&realCreateCompatibleDC},
    {"gdi32.dll", "CreateBitmap", (void*)watchCreateBitmap, (void**)&realCreateBitmap},
    {"gdi32.dll", "DeleteObject", (void*)watchDeleteObject, (void**)&realDeleteObject},
    {"gdi32.dll", "DeleteDC", (void*)watchDeleteDC, (void**)&realDeleteDC},
    {"gdi32.dll", "BitBlt", (void*)watchBitBlt, (void**)&realBitBlt},
    {"gdi32.dll", "MoveToEx", (void*)watchMoveToEx, (void**)&realMoveToEx},
    {"gdi32.dll", "LineTo", (void*)watchLineTo, (void**)&realLineTo},
    {"gdi32.dll", "Ellipse", (void*)watchEllipse, (void**)&realEllipse},
    {"gdi32.dll", "Polygon", (void*)watchPolygon, (void**)&realPolygon},
    {"kernel32.dll", "GetSystemTime", (void*)watchGetSystemTime, (void**)&realGetSystemTime},
};

}  // namespace

bool installGdiWatch(HMODULE plugin, std::string* error) {
  // Every wrapper needs the real function even when the plug-in does not import it
  // (the watcher calls through these pointers only for slots it patched, but keeping
  // them valid costs nothing).
  for (const Wrapper& w : wrappers)
    *w.original = (void*)GetProcAddress(GetModuleHandleA(w.dll), w.name);

  BYTE* base = reinterpret_cast<BYTE*>(plugin);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) {
    *error = "no DOS header";
    return false;
  }
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) {
    *error = "no PE header";
    return false;
  }
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (!dir.VirtualAddress) {
    *error = "no import table";
    return false;
  }
  for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       desc->Name; ++desc) {
    const char* dllName = reinterpret_cast<const char*>(base + desc->Name);
    // The names come from the lookup table; the address table beside it holds the
    // bound addresses that calls go through.
    DWORD lookupRva = desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + lookupRva);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      const char* fn = reinterpret_cast<const char*>(byName->Name);
      const bool isGdi = _stricmp(dllName, "gdi32.dll") == 0;
      if (isGdi) gdiWatch.gdiImports.push_back(fn);
      bool wrapped = false;
      for (const Wrapper& w : wrappers) {
        if (_stricmp(dllName, w.dll) != 0 || strcmp(fn, w.name) != 0) continue;
        DWORD old;
        void** slot = reinterpret_cast<void**>(&slots->u1.Function);
        if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old)) {
          *error = std::string("cannot unprotect the import slot of ") + fn;
          return false;
        }
        *w.original = *slot;
        *slot = w.replacement;
        VirtualProtect(slot, sizeof(void*), old, &old);
        ++gdiWatch.patched;
        wrapped = true;
      }
      if (isGdi && !wrapped && strncmp(fn, "Create", 6) == 0) gdiWatch.untracked.push_back(fn);
    }
  }
  return true;
}

std::vector<const GdiRecord*> liveObjectsOfRender(int render, size_t from) {
  std::vector<const GdiRecord*> live;
  for (size_t i = from; i < gdiWatch.records.size(); ++i) {
    const GdiRecord& r = gdiWatch.records[i];
    if (r.render == render && !r.superseded && (r.type == OBJ_PEN || r.type == OBJ_BRUSH) &&
        GetObjectType(r.handle) == r.type)
      live.push_back(&r);
  }
  return live;
}

int liveRecordsOfType(DWORD type) {
  int n = 0;
  for (const GdiRecord& r : gdiWatch.records)
    if (r.type == type && !r.superseded && GetObjectType(r.handle) == type) ++n;
  return n;
}

int recordsOfType(DWORD type) {
  int n = 0;
  for (const GdiRecord& r : gdiWatch.records)
    if (r.type == type) ++n;
  return n;
}
