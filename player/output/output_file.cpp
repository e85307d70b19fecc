#include "output/output_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>   // renameat2, with RENAME_NOREPLACE
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>  // flock: a run's hold on its leftovers-to-be
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <vector>


namespace {
// The one piece of process-wide state: a signal handler can reach nothing else. It
// holds the number of the signal received, 0 for none.
volatile sig_atomic_t interrupted = 0;

void onInterrupt(int signal) { interrupted = signal; }
}  // namespace

std::string folderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool checkWritableFolder(const std::string& path, std::string* error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *error = path + ": output folder does not exist";
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    *error = path + ": not a folder";
    return false;
  }
  if (access(path.c_str(), W_OK | X_OK) != 0) {
    *error = path + ": output folder cannot be written: " + strerror(errno);
    return false;
  }
  return true;
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

std::string existsError(const std::string& path) {
  return path + ": already exists (-y replaces it)";
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
  const bool matches = anyEnding ? strncmp(rest, suffix.c_str(), suffix.size() - 1) == 0
                                 : suffix == rest;
  return count > 0 && matches ? pid : 0;
}

bool ownerGone(int folderFd, const char* name, pid_t pid) {
  if (pid <= 0 || kill(pid, 0) == 0 || errno != ESRCH) return false;  // alive, or not ours to see
  int fd = openat(folderFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info;
  bool gone = fstat(fd, &info) == 0 && info.st_uid == geteuid() &&
              flock(fd, LOCK_EX | LOCK_NB) == 0;
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

bool PendingFile::reserve(const std::string& finalPath, IfExists ifExists, std::string* error) {
  discard();
  std::string folder = folderOf(finalPath);
  if (!checkWritableFolder(folder, error)) return false;
  struct stat existing;
  if (ifExists == IfExists::Refuse && lstat(finalPath.c_str(), &existing) == 0) {
    *error = existsError(finalPath);
    return false;
  }
  size_t slash = finalPath.find_last_of('/');
  std::string prefix = slash == std::string::npos ? "" : finalPath.substr(0, slash + 1);
  std::string name = finalPath.substr(prefix.size());
  size_t dot = name.find_last_of('.');
  std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  // What a killed run on this output left goes first.
  removeDeadLeftovers(folder, "." + name + ".part-", extension);
  std::string candidate =
      prefix + "." + name + ".part-" + std::to_string(getpid()) + extension;
  int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = finalPath + ": cannot be written: " + strerror(errno);
    return false;
  }
  close(fd);
  lock_ = holdAsOwner(candidate, 0);
  final_ = finalPath;
  temporary_ = candidate;
  ifExists_ = ifExists;
  return true;
}

bool PendingFile::commit(std::string* error) {
  if (temporary_.empty()) {
    *error = final_ + ": nothing to commit";
    return false;
  }
  // Without -y, a file that appeared at the final name since reserve() is kept: the
  // kernel refuses the rename rather than replacing it.
  int flags = ifExists_ == IfExists::Refuse ? RENAME_NOREPLACE : 0;
  int result = renameat2(AT_FDCWD, temporary_.c_str(), AT_FDCWD, final_.c_str(), flags);
  if (result != 0 && errno == EINVAL && flags != 0) {
    // A file system without the flag: check, then rename (a narrow race remains).
    struct stat existing;
    if (lstat(final_.c_str(), &existing) == 0) errno = EEXIST;
    else result = rename(temporary_.c_str(), final_.c_str());
  }
  if (result != 0) {
    *error = errno == EEXIST ? existsError(final_) : writeError(final_, errno);
    discard();
    return false;
  }
  temporary_.clear();
  releaseLock();
  return true;
}

void PendingFile::discard() {
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    temporary_.clear();
  }
  releaseLock();
}

void PendingFile::releaseLock() {
  if (lock_ >= 0) close(lock_);
  lock_ = -1;
}

void installInterruptHandler() {
  struct sigaction action = {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  for (int number : {SIGINT, SIGTERM, SIGHUP}) {
    // A signal ignored when the program started stays ignored, as the one who started
    // it asked: SIGHUP under nohup, SIGINT in a background job of a script.
    struct sigaction before;
    if (sigaction(number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    sigaction(number, &action, nullptr);
  }
  // A dead ffmpeg must show up as a failed write, not kill the player mid-file; a file
  // over the size limit (ulimit -f) as "File too large", not a killed process.
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

bool interruptRequested() { return interrupted != 0; }

int interruptExitStatus() { return 128 + (interrupted ? (int)interrupted : SIGINT); }

void clearInterrupt() { interrupted = 0; }

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}
