#include "host/plugin_home.h"

#include <dlfcn.h>  // dladdr: where libvisplatform.so was loaded from
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

// The folder libvisplatform.so was loaded from, found through one of its functions:
// for an installed copy, its private library folder, wherever the install put it.
std::string platformLibraryFolder() {
  Dl_info info;
  if (!dladdr(reinterpret_cast<void*>(&visSetModuleFileNameOverride), &info) || !info.dli_fname)
    return "";
  std::string path = info.dli_fname;
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
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
  std::string library = platformLibraryFolder();
  std::string installed = library + kPluginName;
  if (!exists(beside) && !library.empty() && exists(installed)) return {installed, true};
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
