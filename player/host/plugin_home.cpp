#include "host/plugin_home.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "visplatform.h"  // visSetModuleFileNameOverride

namespace {
const char kPluginName[] = "vis_orlim.so";

std::string programFolder() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "";
  self[n] = '\0';
  std::string path = self;
  return path.substr(0, path.find_last_of('/') + 1);
}

bool exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

// mkdir -p, new folders private to the user as the XDG rules ask.
bool makeFolders(const std::string& path) {
  for (size_t at = path.find('/', 1); ; at = path.find('/', at + 1)) {
    std::string part = path.substr(0, at);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (at == std::string::npos) break;
  }
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}
}  // namespace

PluginLocation defaultPluginLocation() {
  std::string folder = programFolder();
  if (folder.empty()) return {kPluginName, false};
  std::string beside = folder + kPluginName;
  std::string installed = folder + "../lib/orlimvis/" + kPluginName;
  if (!exists(beside) && exists(installed)) return {installed, true};
  return {beside, false};
}

std::string settingsFolderFor(const PluginLocation& plugin) {
  size_t slash = plugin.path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : plugin.path.substr(0, slash + 1);
  if (!plugin.installed && access(folder.c_str(), W_OK) == 0) return "";
  // XDG: a relative $XDG_CONFIG_HOME is to be ignored.
  const char* config = getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return std::string(config) + "/orlimvis";
  const char* home = getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.config/orlimvis";
  return "";
}

std::string redirectPluginSettings(const PluginLocation& plugin) {
  std::string folder = settingsFolderFor(plugin);
  if (folder.empty() || !makeFolders(folder)) return "";
  // The plug-in cuts its file name after the last separator and appends "plugin.ini".
  visSetModuleFileNameOverride((folder + "/" + kPluginName).c_str());
  return folder;
}
