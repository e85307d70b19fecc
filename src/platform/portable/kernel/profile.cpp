// Profile (INI) files of the portable KERNEL32: GetPrivateProfileStringA,
// GetPrivateProfileIntA and WritePrivateProfileStringA over the same text Windows
// reads and writes.
//
// The file is read whole on every call (nothing is cached, so another process's edit
// is seen at once). Its text is held once and walked in place: a line is a range of it,
// and only the names and values a call returns are copied, so a call costs the file's
// size in memory (at most 16 MiB, the largest file read as a profile) plus what it
// returns, and one pass over the text per section looked up in time, however many blank
// lines, comments or other sections there are. A write writes the text around its one
// edit straight from what was read.
// Rules, as Windows applies them:
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
// A file name that is a symbolic link (as dotfile managers make them) is written through:
// the file it finally leads to is replaced in its own folder, under that folder's lock,
// and the link stays. A link that leads nowhere, like a folder with no write permission
// bit (or one this process may not write in), fails the write as a read-only file does.
// Unlike Windows, a name or value holding a line break, a key holding '=' or starting
// with '[' or ';', and a section holding ']' are refused, since they would write lines
// that read back as something else (a section header, a comment, another key).
// Relative paths are relative to the working directory (Windows would look in its own
// directory).
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

struct Profile {
  std::string text;          // the whole file, byte for byte
  size_t body = 0;           // where its lines start: after a UTF-8 byte-order mark
  std::string eol = "\r\n";  // for lines a write adds
  mode_t mode = 0;           // of the file read, when it exists
};

// One line of the text: its characters [begin, textEnd), then its line end up to next
// ("\r\n", "\n", or nothing for a last line with none).
struct LineSpan {
  size_t begin, textEnd, next;
};

// The line that starts at `at` (< text.size()). One CR before the LF belongs to the line
// end; any other CR is the line's own.
LineSpan lineAt(const std::string& text, size_t at) {
  const void* newline = memchr(text.data() + at, '\n', text.size() - at);
  if (!newline) return {at, text.size(), text.size()};
  const size_t end = static_cast<size_t>(static_cast<const char*>(newline) - text.data());
  return {at, end > at && text[end - 1] == '\r' ? end - 1 : end, end + 1};
}

// The first line at or after `at` that is not empty (a bare "\n" or "\r\n"): a tight
// loop over the bytes, so that runs of empty lines cost a compare each, not a line.
size_t skipEmptyLines(const std::string& text, size_t at) {
  const size_t size = text.size();
  for (;;) {
    if (at < size && text[at] == '\n') ++at;
    else if (at + 1 < size && text[at] == '\r' && text[at + 1] == '\n') at += 2;
    else return at;
  }
}

enum LineKind { kOther, kSection, kEntry };

// A line classified in place: for a section its name, for an entry its key and value,
// each as a range of the text, trimmed. Nothing is copied, so that blank lines, comments
// and lines of other sections cost no memory.
struct Parsed {
  LineKind kind = kOther;
  size_t nameBegin = 0, nameEnd = 0, valueBegin = 0, valueEnd = 0;
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

void trimRange(const std::string& text, size_t* begin, size_t* end) {
  while (*begin < *end && isBlank(text[*begin])) ++*begin;
  while (*end > *begin && isBlank(text[*end - 1])) --*end;
}

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  trimRange(s, &b, &e);
  return s.substr(b, e - b);
}

Parsed classify(const std::string& text, const LineSpan& line) {
  Parsed p;
  size_t b = line.begin, e = line.textEnd;
  trimRange(text, &b, &e);
  if (b == e || text[b] == ';') return p;
  if (text[b] == '[') {
    const void* close = memchr(text.data() + b + 1, ']', e - b - 1);
    p.kind = kSection;
    p.nameBegin = b + 1;
    p.nameEnd = close ? static_cast<size_t>(static_cast<const char*>(close) - text.data()) : e;
    trimRange(text, &p.nameBegin, &p.nameEnd);
    return p;
  }
  const void* eq = memchr(text.data() + b, '=', e - b);
  if (!eq) return p;
  p.kind = kEntry;
  p.nameBegin = b;
  p.nameEnd = static_cast<size_t>(static_cast<const char*>(eq) - text.data());
  p.valueBegin = p.nameEnd + 1;
  p.valueEnd = e;
  trimRange(text, &p.nameBegin, &p.nameEnd);
  trimRange(text, &p.valueBegin, &p.valueEnd);
  return p;
}

// Whether the name [begin, end) of the text is `name`, without regard to case. Names are
// compared as C strings (up to a NUL), as strcasecmp compares them.
bool sameName(const std::string& text, size_t begin, size_t end, const char* name) {
  for (; begin < end && text[begin] != '\0'; ++begin, ++name) {
    const int a = tolower(static_cast<unsigned char>(text[begin]));
    if (a != tolower(static_cast<unsigned char>(*name))) return false;  // also where name ended
  }
  return *name == '\0';
}

// Reads all of a regular file of `size` bytes that is open on fd; false on a read error
// or when it is too large to be a profile.
bool readAll(int fd, off_t size, std::string* text) {
  text->reserve(static_cast<size_t>(size) < kMaxFileSize ? static_cast<size_t>(size) + 1
                                                         : kMaxFileSize + 1);
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
  const bool ok =
      fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && readAll(fd, st.st_size, &out->text);
  close(fd);
  if (!ok) return false;
  out->mode = st.st_mode;
  const std::string& text = out->text;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) out->body = 3;
  const size_t firstNewline = text.find('\n', out->body);
  if (firstNewline != std::string::npos &&
      (firstNewline == out->body || text[firstNewline - 1] != '\r')) {
    out->eol = "\n";
  }
  return true;
}

// The first section of a name: its header line starts at `header`, its lines run from
// `begin` to `end` (the next section's header, or the end of the text), and `afterLast`
// is where its last non-blank line ends (`begin` when it has none).
struct SectionSpan {
  size_t header, begin, end, afterLast;
};

bool findSection(const Profile& p, const char* section, SectionSpan* out) {
  const std::string& text = p.text;
  for (size_t at = skipEmptyLines(text, p.body); at < text.size(); at = skipEmptyLines(text, at)) {
    const LineSpan line = lineAt(text, at);
    at = line.next;
    const Parsed c = classify(text, line);
    if (c.kind != kSection || !sameName(text, c.nameBegin, c.nameEnd, section)) continue;
    out->header = line.begin;
    out->begin = out->afterLast = line.next;
    size_t j = skipEmptyLines(text, line.next);
    for (; j < text.size(); j = skipEmptyLines(text, j)) {
      const LineSpan inside = lineAt(text, j);
      const Parsed k = classify(text, inside);
      if (k.kind == kSection) break;
      size_t b = inside.begin, e = inside.textEnd;
      trimRange(text, &b, &e);
      if (b < e) out->afterLast = inside.next;
      j = inside.next;
    }
    out->end = j;
    return true;
  }
  return false;
}

// The first entry of a key within [begin, end).
bool findKey(const Profile& p, size_t begin, size_t end, const char* key, LineSpan* line,
             Parsed* entry) {
  for (size_t at = skipEmptyLines(p.text, begin); at < end; at = skipEmptyLines(p.text, at)) {
    const LineSpan l = lineAt(p.text, at);
    at = l.next;
    const Parsed c = classify(p.text, l);
    if (c.kind == kEntry && sameName(p.text, c.nameBegin, c.nameEnd, key)) {
      *line = l;
      *entry = c;
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

// A write is one edit of the text: the bytes [from, to) replaced by `insert`.
struct Edit {
  size_t from, to;
  std::string insert;
};

bool writeAll(int fd, const char* data, size_t size) {
  for (size_t done = 0; done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes the edited text to a temporary file in the folder of `path` and renames it over
// `path`. The text is written in three pieces from the one read, never copied whole.
bool writeAtomically(const std::string& path, const Profile& old, const Edit& edit, bool existed) {
  std::string dir, name;
  splitPath(path.c_str(), &dir, &name);
  std::vector<char> temp;
  const std::string pattern = dir + "/" + tempPrefix(name) + "XXXXXX";
  temp.assign(pattern.begin(), pattern.end());
  temp.push_back('\0');
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  // Keep the permissions of the file it replaces; a new file gets the usual 0644.
  const mode_t mode = existed ? (old.mode & 07777) : 0644;
  const std::string& text = old.text;
  bool ok = fchmod(fd, mode) == 0 && writeAll(fd, text.data(), edit.from) &&
            writeAll(fd, edit.insert.data(), edit.insert.size()) &&
            writeAll(fd, text.data() + edit.to, text.size() - edit.to);
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temp.data(), path.c_str()) == 0;
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

// The line end a line added at `at` needs in front: the line before it, if it had no
// line end (the file's last), gets one.
std::string endBefore(const Profile& p, size_t at) {
  return at > p.body && p.text[at - 1] != '\n' ? p.eol : std::string();
}

// Windows' read-only attribute: no write bit at all. Also a file that this process
// may not write (root may write any file, but a read-only one still stays as it is).
// The file is replaced in its folder, so a folder of either kind makes it read-only too.
bool isReadOnly(const std::string& path, const Profile& p, bool exists) {
  std::string dir, name;
  splitPath(path.c_str(), &dir, &name);
  struct stat folder;
  if (stat(dir.c_str(), &folder) != 0 || (folder.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 ||
      access(dir.c_str(), W_OK) != 0) {
    return true;
  }
  return exists &&
         ((p.mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(path.c_str(), W_OK) != 0);
}

// The key would not read back as itself: a line starting with '[' is a section, one
// starting with ';' a comment, and a '=' would end the key early.
bool isUnwritableKey(const std::string& key) {
  return key.empty() || key[0] == '[' || key[0] == ';' || key.find('=') != std::string::npos;
}

// The file a write replaces: the path itself, or, for a symbolic link (as dotfile
// managers make them), the file it finally leads to, so that the link stays and its
// target gets the new text. False for a link that leads nowhere.
bool writeTarget(const char* fileName, std::string* target) {
  struct stat st;
  if (lstat(fileName, &st) != 0 || !S_ISLNK(st.st_mode)) {
    *target = fileName;
    return true;
  }
  char* resolved = realpath(fileName, nullptr);
  if (!resolved) return false;
  *target = resolved;
  free(resolved);
  return true;
}

BOOL writeLocked(const std::string& fileName, const std::string& sectionName, const char* key,
                 const std::string& keyName, const char* value) {
  Profile p;
  bool exists;
  // Never overwrite what we cannot read.
  if (!readProfile(fileName.c_str(), &p, &exists)) return FALSE;
  if (isReadOnly(fileName, p, exists)) return FALSE;

  SectionSpan section;
  const bool found = findSection(p, sectionName.c_str(), &section);
  Edit edit;
  if (!key) {
    if (!found) return TRUE;
    edit = {section.header, section.end, ""};
  } else if (!value) {
    LineSpan line;
    Parsed entry;
    if (!found || !findKey(p, section.begin, section.end, keyName.c_str(), &line, &entry)) {
      return TRUE;
    }
    edit = {line.begin, line.next, ""};
  } else if (!found) {
    // A new section goes right after the last line, with no blank line, as Wine writes it.
    const size_t at = p.text.size();
    edit = {at, at,
            endBefore(p, at) + "[" + sectionName + "]" + p.eol + keyName + "=" + value + p.eol};
  } else {
    LineSpan line;
    Parsed entry;
    if (findKey(p, section.begin, section.end, keyName.c_str(), &line, &entry)) {
      // The key keeps its spelling; the line keeps its line end.
      edit = {line.begin, line.textEnd,
              p.text.substr(entry.nameBegin, entry.nameEnd - entry.nameBegin) + "=" + value};
    } else {
      // After the section's last non-blank line, so that the blank lines that
      // separate it from the next section stay where they are.
      const size_t at = section.afterLast;
      edit = {at, at, endBefore(p, at) + keyName + "=" + value + p.eol};
    }
  }
  return writeAtomically(fileName, p, edit, exists) ? TRUE : FALSE;
}

}  // namespace

extern "C" {

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                      LPSTR out, DWORD size, LPCSTR fileName) {
  if (!out || size == 0) return 0;
  Profile p;
  bool exists;
  if (!readProfile(fileName, &p, &exists)) p = Profile();
  const std::string& text = p.text;
  if (!section) {
    std::vector<std::string> names;
    for (size_t at = skipEmptyLines(text, p.body); at < text.size();
         at = skipEmptyLines(text, at)) {
      const LineSpan line = lineAt(text, at);
      at = line.next;
      const Parsed c = classify(text, line);
      if (c.kind == kSection) names.push_back(text.substr(c.nameBegin, c.nameEnd - c.nameBegin));
    }
    return copyList(names, out, size);
  }
  // The names asked for are trimmed as the file's names are, as on Windows, so that
  // " key " finds what a write of " key " wrote as "key".
  const std::string sectionName = trim(section);
  SectionSpan span;
  const bool found = findSection(p, sectionName.c_str(), &span);
  if (!key) {
    std::vector<std::string> names;
    for (size_t at = found ? skipEmptyLines(text, span.begin) : 0; found && at < span.end;
         at = skipEmptyLines(text, at)) {
      const LineSpan line = lineAt(text, at);
      at = line.next;
      const Parsed c = classify(text, line);
      if (c.kind == kEntry) names.push_back(text.substr(c.nameBegin, c.nameEnd - c.nameBegin));
    }
    return copyList(names, out, size);
  }
  LineSpan line;
  Parsed entry;
  if (found && findKey(p, span.begin, span.end, trim(key).c_str(), &line, &entry)) {
    return copyValue(unquote(text.substr(entry.valueBegin, entry.valueEnd - entry.valueBegin)), out,
                     size);
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
  std::string target, dir, name;
  if (!writeTarget(fileName, &target)) return FALSE;  // a dangling link: nothing to write
  splitPath(target.c_str(), &dir, &name);
  const DirectoryLock lock(dir);
  removeStaleTemporaries(lock, name);
  return writeLocked(target, sectionName, key, keyName, value);
}

}  // extern "C"
