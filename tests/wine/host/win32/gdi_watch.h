// Watches the GDI objects a loaded plug-in makes, by patching the plug-in's own import
// address table: every pen, brush, bitmap and memory DC it creates is recorded with
// the render it was made in, so that the host can later ask GDI (GetObjectType)
// whether each one is still alive. The same patching counts the plug-in's copies to
// its window, can report one render's drawing calls, and can fix the milliseconds
// that GetSystemTime gives it (the generator's seed). The host's own GDI calls are not patched and never
// show up here.
//
// Wine's GetGuiResources(GR_GDIOBJECTS) answers 0 whatever the process holds, so
// counting handles is not an option under Wine; asking about each handle is.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct GdiRecord {
  HGDIOBJ handle;
  DWORD type;        // OBJ_PEN, OBJ_BRUSH, OBJ_BITMAP or OBJ_MEMDC
  int render;        // index of the render that made it, -1 outside renders
  bool superseded;   // the same handle value was handed out again later
};

// Something the watcher wants the host's report to show: bitmaps and DCs as they come
// and go (pens and brushes are too many and only counted), and the drawing calls of
// the traced render.
typedef void (*GdiEventSink)(const std::string& line);

struct GdiWatch {
  std::vector<GdiRecord> records;
  std::vector<std::string> gdiImports;   // every GDI32 function the plug-in imports
  std::vector<std::string> untracked;    // GDI32 Create* imports the watcher does not wrap
  int patched = 0;                       // import slots redirected
  int currentRender = -1;
  int traceRender = -1;                  // render whose drawing calls are reported
  HDC surfaceDc = nullptr;               // the last memory DC the plug-in made
  int windowBlits = 0;                   // BitBlt calls whose target is not a memory DC
  int windowBlitsThisRender = 0;
  bool overrideTime = false;
  WORD overrideMillis = 0;
  GdiEventSink sink = nullptr;
};

extern GdiWatch gdiWatch;

// Redirects the plug-in's GDI32 and KERNEL32 imports that the watcher wraps. Returns
// false (with a reason) when the module's import table cannot be read.
bool installGdiWatch(HMODULE plugin, std::string* error);

// Live pens and brushes made in the given render, looking at records from index
// `from` on (the size of the record list when the render began).
std::vector<const GdiRecord*> liveObjectsOfRender(int render, size_t from);

// Records still alive now, by type, superseded handles excluded.
int liveRecordsOfType(DWORD type);
int recordsOfType(DWORD type);
