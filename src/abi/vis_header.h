// The plug-in's boundary with its host: the header and module records whose byte
// layout the host relies on, the request codes the plug-in sends to the host window,
// the frame-window factory's record, and the exported entry point.
//
// The records hold 32-bit fields on the 32-bit host; the layout checks below pin every
// offset there. On a 64-bit build the pointers widen and only the field order holds.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "../platform/win32.h"  // relative: hosts see src/abi alone, not src/

#define VIS_SPECTRUM_BANDS 576
#define VIS_SPECTRUM_CHANNELS 2

struct VisModule {
  const char* description;  // display name, frame title, settings section
  HWND hostWindow;          // filled by the host
  HINSTANCE moduleInstance; // filled by the host
  int sampleRate;           // filled by the host, never read here
  int channels;             // audio channels of the current stream (host)
  int latencyMillis;        // 25
  int frameIntervalMillis;  // 25: interval between two render calls
  int spectrumChannels;     // 2
  int waveformChannels;     // 0
  unsigned char spectrum[VIS_SPECTRUM_CHANNELS][VIS_SPECTRUM_BANDS];
  unsigned char waveform[VIS_SPECTRUM_CHANNELS][VIS_SPECTRUM_BANDS];
  void (*config)(VisModule* module);
  int (*init)(VisModule* module);
  int (*render)(VisModule* module);
  void (*quit)(VisModule* module);
  void* moduleData;         // null, never used
};

struct VisHeader {
  int version;              // 0x101
  const char* description;
  VisModule* (*lookupModule)(int index);
};

// The record handed to the host's frame-window factory.
struct EmbedRecord {
  HWND frame;               // written by the host: the frame window it made
  int flags;                // stays 0
  RECT rect;                // frame rectangle: position and surface size
  unsigned char reserved[260];
};

typedef HWND (*EmbedFactory)(EmbedRecord* record);

// Requests: WM_USER sent to the host window, code in lParam, argument in wParam.
enum HostRequest {
  HOST_QUERY_VIDEO_PLAYING = 501,
  HOST_GET_EMBED_FACTORY = 505,
  HOST_SET_VIS_WINDOW = 611,
  HOST_REPORT_TOGGLE = 628,
  HOST_REQUEST_FULLSCREEN = 631,
};

// Commands the host sends to the visualisation window (low word of WM_COMMAND's wParam).
enum VisCommand {
  CMD_FIRST = 40382,
  CMD_TOGGLE = 40384,
  CMD_FULLSCREEN = 40389,
  CMD_LAST = 40391,
};

enum { VIS_HEADER_VERSION = 0x101 };

#if defined(_WIN32)
#define VIS_EXPORT extern "C" __declspec(dllexport)
#else
#define VIS_EXPORT extern "C" __attribute__((visibility("default")))
#endif

VIS_EXPORT VisHeader* winampVisGetHeader(void);

VisModule* lookupModule(int index);

#if UINTPTR_MAX == 0xffffffffu
static_assert(sizeof(VisModule) == 2360, "VisModule is 2360 bytes");
static_assert(offsetof(VisModule, description) == 0, "description");
static_assert(offsetof(VisModule, hostWindow) == 4, "hostWindow");
static_assert(offsetof(VisModule, moduleInstance) == 8, "moduleInstance");
static_assert(offsetof(VisModule, sampleRate) == 12, "sampleRate");
static_assert(offsetof(VisModule, channels) == 16, "channels");
static_assert(offsetof(VisModule, latencyMillis) == 20, "latencyMillis");
static_assert(offsetof(VisModule, frameIntervalMillis) == 24, "frameIntervalMillis");
static_assert(offsetof(VisModule, spectrumChannels) == 28, "spectrumChannels");
static_assert(offsetof(VisModule, waveformChannels) == 32, "waveformChannels");
static_assert(offsetof(VisModule, spectrum) == 36, "spectrum");
static_assert(offsetof(VisModule, spectrum[1]) == 612, "spectrum channel 1");
static_assert(offsetof(VisModule, waveform) == 1188, "waveform");
static_assert(offsetof(VisModule, config) == 2340, "config");
static_assert(offsetof(VisModule, init) == 2344, "init");
static_assert(offsetof(VisModule, render) == 2348, "render");
static_assert(offsetof(VisModule, quit) == 2352, "quit");
static_assert(offsetof(VisModule, moduleData) == 2356, "moduleData");
static_assert(sizeof(VisHeader) == 12, "VisHeader is 12 bytes");
static_assert(offsetof(VisHeader, description) == 4, "header description");
static_assert(offsetof(VisHeader, lookupModule) == 8, "header lookupModule");
static_assert(sizeof(EmbedRecord) == 284, "EmbedRecord is 284 bytes");
static_assert(offsetof(EmbedRecord, flags) == 4, "embed flags");
static_assert(offsetof(EmbedRecord, rect) == 8, "embed rect");
static_assert(offsetof(EmbedRecord, reserved) == 24, "embed reserved");
#endif
