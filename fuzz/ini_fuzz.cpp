// Fuzz target: the profile (INI) functions of the platform layer on a file of any
// content. An input gives a starting file (or none) and a list of calls: writes of
// keys, deletions of keys and sections, reads of values, integers and name lists into
// buffers of any size, the file made read-only, replaced, or turned into a FIFO.
// Checked after every call, besides the sanitizers: a value written reads back as
// written (trimmed of blanks, outer quotes removed, as the reader defines it); a
// failed write leaves the file byte for byte as it was and a read-only file is never
// written; no temporary file stays beside the file; nothing is written past a
// caller's buffer and every result is terminated within it.
// Inputs: fuzz_input.h's format, seeds from ini_seeds.cpp.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fuzz_input.h"
#include "visplatform.h"

namespace {

constexpr int kMaxCalls = 32;
constexpr size_t kCanary = 64;
constexpr char kCanaryByte = '\x5A';

enum Call { kWrite, kGet, kListSections, kListKeys, kGetInt, kReadOnly, kReplace, kFifo, kCallCount };

std::string dir, file;

// The file's bytes; "<missing>" or "<special>" when it is absent or no regular file.
std::string contents() {
  struct stat st;
  if (lstat(file.c_str(), &st) != 0) return "<missing>";
  if (!S_ISREG(st.st_mode)) return "<special>";
  std::string text;
  const int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK);
  if (fd < 0) return "<unreadable>";
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  close(fd);
  return text;
}

std::vector<std::string> entries() {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) names.push_back(e->d_name);
    }
    closedir(d);
  }
  return names;
}

void clear() {
  chmod(file.c_str(), 0644);
  for (const std::string& name : entries()) unlink((dir + "/" + name).c_str());
}

void replace(const std::string& text) {
  clear();
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  FUZZ_CHECK(fd >= 0, "cannot make %s", file.c_str());
  FUZZ_CHECK(write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()), "short write");
  close(fd);
}

// Names as a C caller passes them: up to the first NUL.
std::string cString(const std::string& s) { return std::string(s.c_str()); }

std::string trimBlanks(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

std::string readBack(const std::string& v) {
  const std::string t = trimBlanks(v);
  if (t.size() >= 2 && (t[0] == '"' || t[0] == '\'') && t.back() == t[0]) return t.substr(1, t.size() - 2);
  return t;
}

// A buffer of `size` bytes followed by a canary, which no call may touch.
struct Buffer {
  explicit Buffer(size_t size) : size(size), bytes(size + kCanary, kCanaryByte) {}
  char* data() { return size ? bytes.data() : nullptr; }
  bool canaryIntact() const {
    for (size_t i = size; i < bytes.size(); ++i) {
      if (bytes[i] != kCanaryByte) return false;
    }
    return true;
  }
  size_t size;
  std::vector<char> bytes;
};

void checkTerminated(Buffer& b, DWORD result, const char* what) {
  FUZZ_CHECK(b.canaryIntact(), "%s wrote past a buffer of %zu", what, b.size);
  if (b.size == 0) return;
  FUZZ_CHECK(result < b.size, "%s returned %u for a buffer of %zu", what, result, b.size);
  FUZZ_CHECK(b.bytes[result] == '\0', "%s left its result unterminated", what);
}

// Windows' read-only attribute, as the layer reads it: a regular file with no write bit.
bool readOnlyFile() {
  struct stat st;
  return lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

void write(FuzzInput& in) {
  const std::string section = cString(in.text(48)), key = cString(in.text(48));
  const std::string value = cString(in.text(300));
  const uint8_t nulls = in.u8();
  const char* s = nulls & 1 ? nullptr : section.c_str();
  const char* k = nulls & 2 ? nullptr : key.c_str();
  const char* v = nulls & 4 ? nullptr : value.c_str();
  const std::string before = contents();
  const bool readOnly = readOnlyFile();
  const bool ok = WritePrivateProfileStringA(s, k, v, file.c_str());
  const std::vector<std::string> names = entries();
  FUZZ_CHECK(names.empty() || (names.size() == 1 && names[0] == "plugin.ini"),
             "%zu files beside the profile after a write", names.size());
  if (!ok || readOnly) {
    FUZZ_CHECK(!ok, "a read-only file was written");
    FUZZ_CHECK(contents() == before, "a failed write changed the file");
    return;
  }
  if (s && k && v) {
    char out[512];
    const DWORD n = GetPrivateProfileStringA(s, k, "\x01missing", out, sizeof out, file.c_str());
    const std::string expected = readBack(value);
    FUZZ_CHECK(std::string(out, n) == expected,
               "[%s] %s=%s reads back as \"%s\", not \"%s\"", s, k, v, out, expected.c_str());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // tmpfs when there is one: every write syncs the file, which costs on a disk.
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string pattern = std::string(base) + "/ini-fuzz-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  FUZZ_CHECK(mkdtemp(name.data()), "cannot make a folder in %s", base);
  dir = name.data();
  file = dir + "/plugin.ini";
  atexit([] {
    clear();
    rmdir(dir.c_str());
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t start = in.u8();
  const std::string initial = in.text(4096);
  if (start & 1) {
    replace(initial);
  } else {
    clear();
  }
  for (int call = 0; call < kMaxCalls && !in.empty(); ++call) {
    switch (in.u8() % kCallCount) {
      case kWrite:
        write(in);
        break;
      case kGet: {
        const std::string section = cString(in.text(48)), key = cString(in.text(48));
        Buffer out(in.u16() % 600);
        const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "default",
                                                 out.data(), static_cast<DWORD>(out.size),
                                                 file.c_str());
        checkTerminated(out, n, "GetPrivateProfileStringA");
        break;
      }
      case kListSections:
      case kListKeys: {
        const bool keys = in.u8() & 1;
        const std::string section = cString(in.text(48));
        Buffer out(in.u16() % 600);
        const DWORD n = GetPrivateProfileStringA(keys ? section.c_str() : nullptr, nullptr, "",
                                                 out.data(), static_cast<DWORD>(out.size),
                                                 file.c_str());
        checkTerminated(out, n, "a name list");
        // A list ends in two terminators: the last name's and the list's own.
        if (out.size >= 2 && n > 0) {
          FUZZ_CHECK(out.bytes[n - 1] == '\0' || (n == out.size - 2 && out.bytes[n + 1] == '\0'),
                     "a name list of %u bytes does not end in two terminators", n);
        }
        break;
      }
      case kGetInt: {
        const std::string section = cString(in.text(48)), key = cString(in.text(48));
        GetPrivateProfileIntA(section.c_str(), key.c_str(), in.i32(), file.c_str());
        break;
      }
      case kReadOnly:
        chmod(file.c_str(), readOnlyFile() ? 0644 : 0444);
        break;
      case kReplace:
        replace(in.text(2048));
        break;
      case kFifo: {
        clear();
        FUZZ_CHECK(mkfifo(file.c_str(), 0644) == 0, "cannot make a FIFO");
        char out[16];
        GetPrivateProfileStringA("S", "k", "dflt", out, sizeof out, file.c_str());
        FUZZ_CHECK(strcmp(out, "dflt") == 0, "a FIFO read as \"%s\"", out);
        FUZZ_CHECK(!WritePrivateProfileStringA("S", "k", "1", file.c_str()), "a FIFO was written");
        break;
      }
    }
  }
  return 0;
}
