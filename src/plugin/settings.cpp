// The settings file: "plugin.ini" beside the library, one section per module named by
// its description, holding the frame's screen position as "Screen_x" and "Screen_y".
#include <stdio.h>
#include <string.h>

#include "plugin/lifecycle.h"
#include "state/vis_state.h"

namespace {
const char kFileName[] = "plugin.ini";
const char kKeyX[] = "Screen_x";
const char kKeyY[] = "Screen_y";
}  // namespace

bool settingsPath(const VisModule* module, char* path, size_t size) {
  if (!path || size == 0) return false;
  path[0] = '\0';
  char library[MAX_PATH];
  const DWORD length = GetModuleFileNameA(module->moduleInstance, library, MAX_PATH);
  // No name, or one cut short to fit the buffer: its directory cannot be trusted.
  if (length == 0 || length >= MAX_PATH) return false;
  // The directory ends at the last separator. Windows takes '/' as well as '\', and
  // off Windows '/' is the only one, so both count. No separator: a relative name.
  size_t directory = 0;
  for (size_t i = length; i > 0; --i) {
    if (library[i - 1] == '\\' || library[i - 1] == '/') {
      directory = i;
      break;
    }
  }
  const size_t needed = directory + sizeof kFileName;  // with the terminator
  if (needed > MAX_PATH || needed > size) return false;
  memcpy(path, library, directory);
  memcpy(path + directory, kFileName, sizeof kFileName);
  return true;
}

void loadSettings(const VisModule* module) {
  char path[MAX_PATH];
  if (!settingsPath(module, path, sizeof path)) return;
  // The current value is the default, so a missing key leaves the position alone.
  visState.framePosX =
      static_cast<int>(GetPrivateProfileIntA(module->description, kKeyX, visState.framePosX, path));
  visState.framePosY =
      static_cast<int>(GetPrivateProfileIntA(module->description, kKeyY, visState.framePosY, path));
}

void saveSettings(const VisModule* module) {
  char path[MAX_PATH];
  if (!settingsPath(module, path, sizeof path)) return;
  char value[16];
  snprintf(value, sizeof value, "%d", visState.framePosX);
  WritePrivateProfileStringA(module->description, kKeyX, value, path);
  snprintf(value, sizeof value, "%d", visState.framePosY);
  WritePrivateProfileStringA(module->description, kKeyY, value, path);
}
