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
//     keys are kept byte for byte by a write, each with its own line end (a CR in the
//     middle of a line, a file that mixes CR LF and LF, a last line with no line end);
//     a line the write adds ends like the file's first line (CR LF in a new file);
//     Wine, by contrast, rewrites the whole file in its own layout and drops blank
//     lines;
//   - a write to a missing file or section creates it (a new section is appended
//     right after the last line, with no blank line, as Wine writes it); a null value
//     deletes the key, a null key the whole section;
//   - a read-only file (no write permission bit, Windows' read-only attribute) is not
//     written: the write fails, as it does on Windows.
// Only regular files are profiles: a FIFO, a device or a directory of that name reads
// as unreadable and is never written (it is opened without blocking, so a FIFO that
// no one writes does not hang the caller).
// A write is a read-modify-write under an exclusive flock on the file's directory, so
// that two processes (or threads) saving different keys at once both keep theirs. The
// new text goes to a temporary file beside the target (".plugin.ini.tmp-XXXXXX"),
// renamed over it, so that a reader (or a crash) sees the old file or the new one,
// never a part of either. A writer killed before its rename leaves its temporary file;
// the next writer, holding the lock, knows that no other writer is under way and
// removes it.
// Unlike Windows, a name or value holding a line break, a key holding '=' or starting
// with '[' or ';', and a section holding ']' are refused, since they would write lines
// that read back as something else (a section header, a comment, another key).
// Relative paths are relative to the working directory (Windows would look in its own
// directory).
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/file.h>  // flock
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../visplatform.h"

namespace {

constexpr size_t kMaxFileSize = 16u << 20;  // larger files are not profiles; unread
const char kTempTag[] = ".tmp-";             // ".<name>.tmp-XXXXXX" beside the file
constexpr size_t kTempRandomChars = 6;       // the XXXXXX that mkstemp fills in

struct Line {
  std::string text;  // without its line end
  std::string end;   // "\r\n", "\n", or "" for a last line with none
};

struct Profile {
  std::string bom;  // a UTF-8 byte-order mark, kept in front
  std::vector<Line> lines;
  std::string eol = "\r\n";  // for lines a write adds
  mode_t mode = 0;           // of the file read, when it exists
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

// Reads all of a regular file that is open on fd; false on a read error or when it is
// too large to be a profile.
bool readAll(int fd, std::string* text) {
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text->append(buffer, static_cast<size_t>(n));
    if (text->size() > kMaxFileSize) return false;
  }
}

// Reads the file; false when it exists but cannot be read or is not a regular file (a
// missing file is empty).
bool readProfile(const char* path, Profile* out, bool* exists) {
  *exists = false;
  if (!path) return false;
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno == ENOENT;
  *exists = true;
  struct stat st;
  std::string text;
  const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && readAll(fd, &text);
  close(fd);
  if (!ok) return false;
  out->mode = st.st_mode;
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
    Line line;
    if (end == std::string::npos) {
      line.text = text.substr(start);
      end = text.size();
    } else {
      // One CR before the LF belongs to the line end; any other CR is the line's own.
      const size_t textEnd = end > start && text[end - 1] == '\r' ? end - 1 : end;
      line.text = text.substr(start, textEnd - start);
      line.end = text.substr(textEnd, end + 1 - textEnd);
    }
    out->lines.push_back(std::move(line));
    start = end + 1;
  }
  return true;
}

// The line range [*begin, *end) of the first section of that name, its header at
// *begin - 1. False when there is none.
bool findSection(const Profile& p, const char* section, size_t* begin, size_t* end) {
  std::string name;
  for (size_t i = 0; i < p.lines.size(); ++i) {
    if (classify(p.lines[i].text, &name, nullptr) != kSection || strcasecmp(name.c_str(), section))
      continue;
    size_t j = i + 1;
    for (std::string other; j < p.lines.size(); ++j) {
      if (classify(p.lines[j].text, &other, nullptr) == kSection) break;
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
    if (classify(p.lines[i].text, &name, &v) == kEntry && !strcasecmp(name.c_str(), key)) {
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
// A list fits when its names and their terminators take at most size - 1 bytes, the
// last byte holding the final terminator. Names that filled the buffer to exactly
// size - 1 leave no room for any part of a next one: the cut then lands on the
// terminator of the last whole name, at size - 2.
DWORD copyList(const std::vector<std::string>& names, char* out, DWORD size) {
  if (size < 2) {
    out[0] = '\0';
    return 0;
  }
  size_t used = 0;
  for (const std::string& n : names) {
    if (used + n.size() + 1 > size - 1) {
      const size_t room = used < size - 2 ? size - 2 - used : 0;
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

// The directory part of a path ("." for a bare name) and the name in it.
void splitPath(const char* path, std::string* dir, std::string* name) {
  const std::string p(path);
  const size_t slash = p.rfind('/');
  *dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : p.substr(0, slash));
  *name = slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string tempPrefix(const std::string& name) { return "." + name + kTempTag; }

// Holds an exclusive flock on a directory for as long as it lives. flock locks belong
// to an open file description, so two threads of one process exclude each other as
// two processes do. A file system that cannot lock (the call fails with other than
// EINTR) gets no lock rather than no writes.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& dir)
      : fd_(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) return;
    while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~DirectoryLock() {
    if (fd_ >= 0) close(fd_);  // closing the last descriptor releases the lock
  }
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Removes what writers killed before their rename left behind. Called under the
// directory lock: every live writer makes its temporary file only while it holds that
// lock, so any file of the temporary pattern seen now belongs to no one. Only our own
// regular files of exactly that pattern go.
void removeStaleTemporaries(const DirectoryLock& lock, const std::string& name) {
  if (lock.fd() < 0) return;
  const int scanFd = dup(lock.fd());
  if (scanFd < 0) return;
  DIR* d = fdopendir(scanFd);
  if (!d) {
    close(scanFd);
    return;
  }
  const std::string prefix = tempPrefix(name);
  while (const dirent* e = readdir(d)) {
    const size_t length = strlen(e->d_name);
    if (length != prefix.size() + kTempRandomChars || strncmp(e->d_name, prefix.c_str(), prefix.size()))
      continue;
    struct stat st;
    if (fstatat(lock.fd(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == geteuid()) {
      unlinkat(lock.fd(), e->d_name, 0);
    }
  }
  closedir(d);
}

bool writeAtomically(const char* path, const std::string& text, const Profile& old, bool existed) {
  std::string dir, name;
  splitPath(path, &dir, &name);
  std::vector<char> temp;
  const std::string pattern = dir + "/" + tempPrefix(name) + "XXXXXX";
  temp.assign(pattern.begin(), pattern.end());
  temp.push_back('\0');
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  // Keep the permissions of the file it replaces; a new file gets the usual 0644.
  const mode_t mode = existed ? (old.mode & 07777) : 0644;
  bool ok = fchmod(fd, mode) == 0;
  for (size_t done = 0; ok && done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<size_t>(n);
  }
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temp.data(), path) == 0;
  if (!ok) {
    unlink(temp.data());
    return false;
  }
  // Make the rename itself durable.
  const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    fsync(dirFd);
    close(dirFd);
  }
  return true;
}

std::string render(const Profile& p) {
  std::string text = p.bom;
  for (const Line& line : p.lines) {
    text += line.text;
    text += line.end;
  }
  return text;
}

// Inserts a line the write adds; the line before it, if it had no line end (the
// file's last), gets one.
void insertLine(Profile* p, size_t at, std::string text) {
  if (at > 0 && p->lines[at - 1].end.empty()) p->lines[at - 1].end = p->eol;
  p->lines.insert(p->lines.begin() + static_cast<ptrdiff_t>(at), Line{std::move(text), p->eol});
}

// Windows' read-only attribute: no write bit at all. Also a file that this process
// may not write (root may write any file, but a read-only one still stays as it is).
bool isReadOnly(const char* path, const Profile& p) {
  return (p.mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path, W_OK) != 0;
}

// The key would not read back as itself: a line starting with '[' is a section, one
// starting with ';' a comment, and a '=' would end the key early.
bool isUnwritableKey(const std::string& key) {
  return key.empty() || key[0] == '[' || key[0] == ';' || key.find('=') != std::string::npos;
}

BOOL writeLocked(const char* fileName, const std::string& sectionName, const char* key,
                 const std::string& keyName, const char* value) {
  Profile p;
  bool exists;
  if (!readProfile(fileName, &p, &exists)) return FALSE;  // never overwrite what we cannot read
  if (exists && isReadOnly(fileName, p)) return FALSE;

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
    insertLine(&p, p.lines.size(), "[" + sectionName + "]");
    insertLine(&p, p.lines.size(), keyName + "=" + value);
  } else {
    size_t line;
    std::string existingName;
    if (findKey(p, begin, end, keyName.c_str(), &line, nullptr)) {
      classify(p.lines[line].text, &existingName, nullptr);
      p.lines[line].text = existingName + "=" + value;  // the key keeps its spelling
    } else {
      // After the section's last non-blank line, so that the blank lines that
      // separate it from the next section stay where they are.
      size_t at = end;
      while (at > begin && trim(p.lines[at - 1].text).empty()) --at;
      insertLine(&p, at, keyName + "=" + value);
    }
  }
  return writeAtomically(fileName, render(p), p, exists) ? TRUE : FALSE;
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
    for (const Line& line : p.lines) {
      if (classify(line.text, &name, nullptr) == kSection) names.push_back(name);
    }
    return copyList(names, out, size);
  }
  // The names asked for are trimmed as the file's names are, as on Windows, so that
  // " key " finds what a write of " key " wrote as "key".
  const std::string sectionName = trim(section);
  size_t begin = 0, end = 0;
  const bool found = findSection(p, sectionName.c_str(), &begin, &end);
  if (!key) {
    std::vector<std::string> names;
    for (size_t i = begin; found && i < end; ++i) {
      if (classify(p.lines[i].text, &name, nullptr) == kEntry) names.push_back(name);
    }
    return copyList(names, out, size);
  }
  size_t line;
  std::string value;
  if (found && findKey(p, begin, end, trim(key).c_str(), &line, &value)) {
    return copyValue(unquote(value), out, size);
  }
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
  if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value) || strchr(section, ']')) {
    return FALSE;
  }
  const std::string sectionName = trim(section);
  const std::string keyName = key ? trim(key) : std::string();
  if (sectionName.empty() || (key && isUnwritableKey(keyName))) return FALSE;
  std::string dir, name;
  splitPath(fileName, &dir, &name);
  const DirectoryLock lock(dir);
  removeStaleTemporaries(lock, name);
  return writeLocked(fileName, sectionName, key, keyName, value);
}

}  // extern "C"
