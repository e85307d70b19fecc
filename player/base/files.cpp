// Files in general: names, reasons, scratch files, leftovers. See files.h.
#include "base/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>  // kill(pid, 0): whether a leftover's owner still runs
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>  // flock: a run's hold on its leftovers-to-be
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <vector>

std::string folderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::string writeError(const std::string& path, int errnum) {
  return path + ": " + strerror(errnum);
}

std::string systemReasonIn(const std::string& text) {
  // The reasons a write fails for want of room or rights, most telling first.
  static const int kWriteErrnos[] = {ENOSPC, EDQUOT, EFBIG, EROFS, EACCES, EPERM, EIO, EPIPE};
  for (int errnum : kWriteErrnos) {
    if (text.find(strerror(errnum)) != std::string::npos) return strerror(errnum);
  }
  return "";
}

int holdAsOwner(const std::string& path, int flags) {
  int fd = open(path.c_str(), flags | O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  while (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EINTR) {
  }
  return fd;
}

pid_t leftoverOwner(const char* name, const std::string& prefix, const std::string& suffix) {
  if (strncmp(name, prefix.c_str(), prefix.size()) != 0) return 0;
  const char* digits = name + prefix.size();
  size_t count = 0;
  pid_t pid = 0;
  for (; digits[count] >= '0' && digits[count] <= '9' && count < 9; ++count) {
    pid = pid * 10 + (digits[count] - '0');
  }
  const char* rest = digits + count;
  const bool anyEnding = !suffix.empty() && suffix.back() == '*';
  const bool matches =
      anyEnding ? strncmp(rest, suffix.c_str(), suffix.size() - 1) == 0 : suffix == rest;
  return count > 0 && matches ? pid : 0;
}

bool ownerGone(int folderFd, const char* name, pid_t pid) {
  if (pid <= 0 || kill(pid, 0) == 0 || errno != ESRCH) return false;  // alive, or not ours to see
  int fd = openat(folderFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info;
  bool gone =
      fstat(fd, &info) == 0 && info.st_uid == geteuid() && flock(fd, LOCK_EX | LOCK_NB) == 0;
  close(fd);  // and the lock with it
  return gone;
}

void removeLeftover(int folderFd, const char* name) {
  struct stat info;
  if (fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISDIR(info.st_mode)) {
    // A run's folders hold only files: remove those, then the folder.
    int fd = openat(folderFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!dir && fd >= 0) close(fd);
    if (dir) {
      while (struct dirent* entry = readdir(dir)) unlinkat(fd, entry->d_name, 0);
      closedir(dir);
    }
    unlinkat(folderFd, name, AT_REMOVEDIR);
  } else {
    unlinkat(folderFd, name, 0);
  }
}

void removeDeadLeftovers(const std::string& folder, const std::string& prefix,
                         const std::string& suffix) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> dead;
  while (struct dirent* entry = readdir(dir)) {
    pid_t pid = leftoverOwner(entry->d_name, prefix, suffix);
    if (pid > 0 && ownerGone(dirfd(dir), entry->d_name, pid)) dead.push_back(entry->d_name);
  }
  for (const std::string& name : dead) removeLeftover(dirfd(dir), name.c_str());
  closedir(dir);
}

namespace {
// The run's scratch folder, "$TMPDIR/orlimvis-run-<pid>-XXXXXX": made at the first
// scratch file, locked for as long as it exists, removed when its last file goes. It is
// the process's by nature (the next run finds a dead one by the pid in its name), so it
// lives for the process, behind a mutex for the threads that make scratch files.
class ScratchFolder {
 public:
  std::string makeFile(const std::string& what, const std::string& suffix, std::string* error) {
    std::lock_guard<std::mutex> hold(mutex_);
    const char* tmp = getenv("TMPDIR");
    const std::string parent = tmp && *tmp ? tmp : "/tmp";
    struct stat info;
    // A new folder where $TMPDIR has changed, or someone removed the folder.
    if (path_.empty() || folderOf(path_) != parent || stat(path_.c_str(), &info) != 0) {
      release();
      const std::string prefix = "orlimvis-run-";
      // The killed runs' folders go first; this run's own is never among them.
      removeDeadLeftovers(parent, prefix, "-*");
      std::string pattern = parent + "/" + prefix + std::to_string(getpid()) + "-XXXXXX";
      if (!mkdtemp(&pattern[0])) {
        *error = writeError(parent + " (scratch folder)", errno);
        return "";
      }
      path_ = pattern;
      lock_ = holdAsOwner(path_, O_DIRECTORY);
    }
    std::string path = path_ + "/" + what + "-XXXXXX" + suffix;
    int fd = mkostemps(&path[0], (int)suffix.size(), O_CLOEXEC);
    if (fd < 0) {
      *error = writeError(parent + " (scratch folder)", errno);
      return "";
    }
    close(fd);
    return path;
  }
  void removeFile(const std::string& path) {
    std::lock_guard<std::mutex> hold(mutex_);
    unlink(path.c_str());
    // The folder goes with its last file (rmdir refuses a folder that still holds any).
    if (!path_.empty() && folderOf(path) == path_ && rmdir(path_.c_str()) == 0) release();
  }

 private:
  void release() {
    if (lock_ >= 0) close(lock_);
    lock_ = -1;
    path_.clear();
  }
  std::mutex mutex_;
  std::string path_;
  int lock_ = -1;
};

ScratchFolder& scratchFolder() {
  static ScratchFolder* folder = new ScratchFolder();  // never destroyed: used until exit
  return *folder;
}
}  // namespace

std::string makeScratchFile(const std::string& what, const std::string& suffix,
                            std::string* error) {
  return scratchFolder().makeFile(what, suffix, error);
}

void removeScratchFile(const std::string& path) { scratchFolder().removeFile(path); }
