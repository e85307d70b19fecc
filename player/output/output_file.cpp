#include "output/output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>   // renameat2, with RENAME_NOREPLACE
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>


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

std::string makeScratchFile(const std::string& what, const std::string& suffix,
                            std::string* error) {
  const char* tmp = getenv("TMPDIR");
  std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/orlimvis-" + what + "-XXXXXX" +
                     suffix;
  int fd = mkostemps(&path[0], (int)suffix.size(), O_CLOEXEC);
  if (fd < 0) {
    *error = writeError(folderOf(path) + " (scratch folder)", errno);
    return "";
  }
  close(fd);
  return path;
}

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
  std::string candidate =
      prefix + "." + name + ".part-" + std::to_string(getpid()) + extension;
  int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = finalPath + ": cannot be written: " + strerror(errno);
    return false;
  }
  close(fd);
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
  return true;
}

void PendingFile::discard() {
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    temporary_.clear();
  }
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
