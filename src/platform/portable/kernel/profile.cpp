// Profile (INI) files of the portable KERNEL32: GetPrivateProfileStringA,
// GetPrivateProfileIntA and WritePrivateProfileStringA over the same text Windows
// reads and writes.
//
// The file is read whole on every call (nothing is cached, so another process's edit
// is seen at once). Rules, as Windows applies them:
//   - "[name]" starts a section; "key=value" is an entry; names and values are
//     trimmed of blanks, and compared without regard to case; the first section or
//     key of a name wins;
//   - a value in matching single or double quotes loses the quotes;
//   - lines starting with ';' are comments; comments, blank lines, other sections and
//     keys are kept byte for byte by a write, and the file keeps its line endings
//     (CR LF unless it uses LF alone); Wine, by contrast, rewrites the whole file in
//     its own layout and drops blank lines;
//   - a write to a missing file or section creates it (a new section is appended
//     right after the last line, with no blank line, as Wine writes it); a null value
//     deletes the key, a null key the whole section.
// A write goes to a temporary file beside the target that is then renamed over it, so
// a reader (or a crash) sees the old file or the new one, never a part of either.
// Unlike Windows, a name or value holding a line break, a key holding '=' and a
// section holding ']' are refused, since they would write lines that read back as
// something else. Relative paths are relative to the working directory (Windows
// would look in its own directory).
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../visplatform.h"

namespace {

constexpr size_t kMaxFileSize = 16u << 20;  // larger files are not profiles; unread

struct Profile {
  std::string bom;  // a UTF-8 byte-order mark, kept in front
  std::vector<std::string> lines;
  const char* eol = "\r\n";
};

enum LineKind { kOther, kSection, kEntry };

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Classifies a line; for a section gives its name, for an entry its key and value.
LineKind classify(const std::string& line, std::string* name, std::string* value) {
  const std::string t = trim(line);
  if (t.empty() || t[0] == ';') return kOther;
  if (t[0] == '[') {
    const size_t close = t.find(']');
    *name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return kSection;
  }
  const size_t eq = t.find('=');
  if (eq == std::string::npos) return kOther;
  *name = trim(t.substr(0, eq));
  if (value) *value = trim(t.substr(eq + 1));
  return kEntry;
}

// Reads the file; false when it exists but cannot be read (a missing file is empty).
bool readProfile(const char* path, Profile* out, bool* exists) {
  *exists = false;
  if (!path) return false;
  FILE* f = fopen(path, "rb");
  if (!f) return errno == ENOENT;
  *exists = true;
  std::string text;
  char buffer[8192];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) {
    text.append(buffer, n);
    if (text.size() > kMaxFileSize) break;
  }
  const bool failed = ferror(f) || text.size() > kMaxFileSize;
  fclose(f);
  if (failed) return false;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    out->bom = text.substr(0, 3);
    text.erase(0, 3);
  }
  const size_t firstNewline = text.find('\n');
  if (firstNewline != std::string::npos && (firstNewline == 0 || text[firstNewline - 1] != '\r')) {
    out->eol = "\n";
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t lineEnd = end;
    if (lineEnd > start && text[lineEnd - 1] == '\r') --lineEnd;
    out->lines.push_back(text.substr(start, lineEnd - start));
    start = end + 1;
  }
  return true;
}

// The line range [*begin, *end) of the first section of that name, its header at
// *begin - 1. False when there is none.
bool findSection(const Profile& p, const char* section, size_t* begin, size_t* end) {
  std::string name;
  for (size_t i = 0; i < p.lines.size(); ++i) {
    if (classify(p.lines[i], &name, nullptr) != kSection || strcasecmp(name.c_str(), section))
      continue;
    size_t j = i + 1;
    for (std::string other; j < p.lines.size(); ++j) {
      if (classify(p.lines[j], &other, nullptr) == kSection) break;
    }
    *begin = i + 1;
    *end = j;
    return true;
  }
  return false;
}

bool findKey(const Profile& p, size_t begin, size_t end, const char* key, size_t* line,
             std::string* value) {
  std::string name, v;
  for (size_t i = begin; i < end; ++i) {
    if (classify(p.lines[i], &name, &v) == kEntry && !strcasecmp(name.c_str(), key)) {
      *line = i;
      if (value) *value = v;
      return true;
    }
  }
  return false;
}

std::string unquote(const std::string& v) {
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

// Copies one string: cut to size - 1 characters when it does not fit.
DWORD copyValue(const std::string& v, char* out, DWORD size) {
  const size_t n = v.size() < size ? v.size() : size - 1;
  memcpy(out, v.data(), n);
  out[n] = '\0';
  return static_cast<DWORD>(n);
}

// Copies a list of NUL-terminated names ended by an empty one; a list that does not
// fit is cut and ends in two NULs, and the result is then size - 2, as on Windows.
DWORD copyList(const std::vector<std::string>& names, char* out, DWORD size) {
  if (size < 2) {
    out[0] = '\0';
    return 0;
  }
  size_t used = 0;
  for (const std::string& n : names) {
    if (used + n.size() + 1 > size - 1) {
      const size_t room = size - 2 - used;
      memcpy(out + used, n.data(), room < n.size() ? room : n.size());
      out[size - 2] = '\0';
      out[size - 1] = '\0';
      return size - 2;
    }
    memcpy(out + used, n.c_str(), n.size() + 1);
    used += n.size() + 1;
  }
  out[used] = '\0';
  if (used == 0) out[1] = '\0';
  return static_cast<DWORD>(used);  // the final terminator is not counted
}

bool hasLineBreak(const char* s) { return s && strpbrk(s, "\r\n") != nullptr; }

bool writeAtomically(const char* path, const std::string& text, bool existed) {
  const std::string temp = std::string(path) + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return false;
  bool ok = true;
  struct stat st;
  // Keep the permissions of the file it replaces; a new file gets the usual 0644.
  const mode_t mode = (existed && stat(path, &st) == 0) ? (st.st_mode & 07777) : 0644;
  ok = fchmod(fd, mode) == 0;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(name.data(), path) == 0;
  if (!ok) {
    unlink(name.data());
    return false;
  }
  // Make the rename itself durable.
  std::string dir(path);
  const size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
  const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return true;
}

std::string render(const Profile& p) {
  std::string text = p.bom;
  for (const std::string& line : p.lines) {
    text += line;
    text += p.eol;
  }
  return text;
}

}  // namespace

extern "C" {

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                      LPSTR out, DWORD size, LPCSTR fileName) {
  if (!out || size == 0) return 0;
  Profile p;
  bool exists;
  if (!readProfile(fileName, &p, &exists)) p = Profile();
  std::string name;
  if (!section) {
    std::vector<std::string> names;
    for (const std::string& line : p.lines) {
      if (classify(line, &name, nullptr) == kSection) names.push_back(name);
    }
    return copyList(names, out, size);
  }
  size_t begin = 0, end = 0;
  const bool found = findSection(p, section, &begin, &end);
  if (!key) {
    std::vector<std::string> names;
    for (size_t i = begin; found && i < end; ++i) {
      if (classify(p.lines[i], &name, nullptr) == kEntry) names.push_back(name);
    }
    return copyList(names, out, size);
  }
  size_t line;
  std::string value;
  if (found && findKey(p, begin, end, key, &line, &value)) return copyValue(unquote(value), out, size);
  // The default loses its trailing blanks.
  std::string fallback = defaultValue ? defaultValue : "";
  while (!fallback.empty() && isBlank(fallback.back())) fallback.pop_back();
  return copyValue(fallback, out, size);
}

// The value read as an integer the way the native runtime converts it: blanks, an
// optional sign, an optional base prefix ("0x" hex, "0o" octal, "0b" binary, lower
// case only; otherwise decimal), then digits up to the first that does not belong,
// wrapping at 32 bits. A value without digits reads as 0; a missing key, or an empty
// value, gives the default.
UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, int defaultValue,
                                  LPCSTR fileName) {
  char text[64];
  if (!section || !key) return static_cast<UINT>(defaultValue);
  if (GetPrivateProfileStringA(section, key, "", text, sizeof text, fileName) == 0) {
    return static_cast<UINT>(defaultValue);
  }
  const char* s = text;
  while (isBlank(*s)) ++s;
  bool negative = false;
  if (*s == '-' || *s == '+') negative = *s++ == '-';
  uint32_t base = 10;
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'o' || s[1] == 'b')) {
    base = s[1] == 'x' ? 16 : s[1] == 'o' ? 8 : 2;
    s += 2;
  }
  uint32_t value = 0;
  for (;; ++s) {
    uint32_t digit;
    if (*s >= '0' && *s <= '9') digit = static_cast<uint32_t>(*s - '0');
    else if (*s >= 'a' && *s <= 'f') digit = static_cast<uint32_t>(*s - 'a' + 10);
    else if (*s >= 'A' && *s <= 'F') digit = static_cast<uint32_t>(*s - 'A' + 10);
    else break;
    if (digit >= base) break;
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value,
                                       LPCSTR fileName) {
  if (!section || !fileName || !fileName[0]) return FALSE;
  if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value) || strchr(section, ']') ||
      (key && strchr(key, '='))) {
    return FALSE;
  }
  const std::string sectionName = trim(section);
  const std::string keyName = key ? trim(key) : std::string();
  if (sectionName.empty() || (key && keyName.empty())) return FALSE;
  Profile p;
  bool exists;
  if (!readProfile(fileName, &p, &exists)) return FALSE;  // never overwrite what we cannot read

  size_t begin = 0, end = 0;
  const bool found = findSection(p, sectionName.c_str(), &begin, &end);
  if (!key) {
    if (!found) return TRUE;
    p.lines.erase(p.lines.begin() + static_cast<ptrdiff_t>(begin - 1),
                  p.lines.begin() + static_cast<ptrdiff_t>(end));
  } else if (!value) {
    size_t line;
    if (!found || !findKey(p, begin, end, keyName.c_str(), &line, nullptr)) return TRUE;
    p.lines.erase(p.lines.begin() + static_cast<ptrdiff_t>(line));
  } else if (!found) {
    p.lines.push_back("[" + sectionName + "]");
    p.lines.push_back(keyName + "=" + value);
  } else {
    size_t line;
    std::string existingName;
    if (findKey(p, begin, end, keyName.c_str(), &line, nullptr)) {
      classify(p.lines[line], &existingName, nullptr);
      p.lines[line] = existingName + "=" + value;  // the key keeps its spelling
    } else {
      // After the section's last non-blank line, so that the blank lines that
      // separate it from the next section stay where they are.
      size_t at = end;
      while (at > begin && trim(p.lines[at - 1]).empty()) --at;
      p.lines.insert(p.lines.begin() + static_cast<ptrdiff_t>(at), keyName + "=" + value);
    }
  }
  return writeAtomically(fileName, render(p), exists) ? TRUE : FALSE;
}

}  // extern "C"
