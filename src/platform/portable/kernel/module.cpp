// Modules of the portable KERNEL32: LoadLibraryA, GetProcAddress and FreeLibrary over
// the dynamic loader, and GetModuleFileNameA.
//
// As on Windows, a module handle is the address at which the module is loaded (its
// first mapped byte), so any handle a host holds, whether from LoadLibraryA or the
// base of an object loaded some other way, names its file: handles from LoadLibraryA
// are looked up in the table of loaded modules, any other handle is taken as an
// address inside a loaded object and resolved with dladdr. The null handle is the
// program itself. A test may override the file name for every handle.
#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>

#include "../visplatform.h"

namespace {

struct Loaded {
  void* library;  // the dlopen handle; each LoadLibraryA holds one reference
  int references;
  std::string path;
};

struct Modules {
  std::mutex mutex;
  std::map<uintptr_t, Loaded> loaded;
  bool overridden = false;
  std::string overridePath;
};

Modules& modules() {
  static Modules* m = new Modules;  // lives as long as the process: modules may outlive statics
  return *m;
}

std::string absolutePath(const char* path) {
  char resolved[PATH_MAX];
  if (path && realpath(path, resolved)) return resolved;
  return path ? path : "";
}

std::string programPath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  buffer[n] = '\0';
  return buffer;
}

// The path of the object that contains an address, or "" when none does.
std::string objectContaining(const void* address) {
  Dl_info info;
  if (!dladdr(address, &info) || !info.dli_fname) return "";
  if (!info.dli_fname[0]) return programPath();  // the main program has no name here
  return absolutePath(info.dli_fname);
}

}  // namespace

extern "C" {

void visSetModuleFileNameOverride(const char* path) {
  Modules& m = modules();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.overridden = path != nullptr;
  m.overridePath = path ? path : "";
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
  if (!fileName || !fileName[0]) return nullptr;
  void* library = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
  if (!library) return nullptr;
  struct link_map* map = nullptr;
  Dl_info info;
  if (dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || !map || !dladdr(map->l_ld, &info) ||
      !info.dli_fbase) {
    dlclose(library);
    return nullptr;
  }
  const uintptr_t base = reinterpret_cast<uintptr_t>(info.dli_fbase);
  Modules& m = modules();
  std::lock_guard<std::mutex> lock(m.mutex);
  auto it = m.loaded.find(base);
  if (it != m.loaded.end()) {
    ++it->second.references;
    dlclose(library);  // the table's handle already holds the object
  } else {
    m.loaded.emplace(base, Loaded{library, 1, absolutePath(info.dli_fname)});
  }
  return reinterpret_cast<HMODULE>(base);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  Modules& m = modules();
  void* library = nullptr;
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    auto it = m.loaded.find(reinterpret_cast<uintptr_t>(module));
    if (it == m.loaded.end()) return FALSE;
    if (--it->second.references == 0) {
      library = it->second.library;
      m.loaded.erase(it);
    }
  }
  if (library) dlclose(library);
  return TRUE;
}

void* WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
  // Ordinals (values below 0x10000) have no counterpart in ELF objects.
  if (!name || reinterpret_cast<uintptr_t>(name) < 0x10000u) return nullptr;
  Modules& m = modules();
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    auto it = m.loaded.find(reinterpret_cast<uintptr_t>(module));
    if (it != m.loaded.end()) return dlsym(it->second.library, name);
  }
  void* library = nullptr;
  if (!module) {
    library = dlopen(nullptr, RTLD_NOW);
  } else {
    const std::string path = objectContaining(module);
    if (path.empty()) return nullptr;
    library = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);  // only if already loaded
  }
  if (!library) return nullptr;
  void* symbol = dlsym(library, name);
  dlclose(library);
  return symbol;
}

// Copies as Windows Vista and later do: a path that does not fit is cut to size - 1
// characters, terminated, and the result is size.
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  if (!fileName || size == 0) return 0;
  std::string path;
  Modules& m = modules();
  {
    std::lock_guard<std::mutex> lock(m.mutex);
    if (m.overridden) {
      path = m.overridePath;
    } else {
      auto it = m.loaded.find(reinterpret_cast<uintptr_t>(module));
      if (it != m.loaded.end()) path = it->second.path;
    }
  }
  if (path.empty() && !m.overridden) path = module ? objectContaining(module) : programPath();
  if (path.empty()) {
    fileName[0] = '\0';
    return 0;
  }
  if (path.size() < size) {
    memcpy(fileName, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
  }
  memcpy(fileName, path.data(), size - 1);
  fileName[size - 1] = '\0';
  return size;
}

}  // extern "C"
