#include "output/output_file.h"

#include <errno.h>
#include <fcntl.h>
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

bool PendingFile::reserve(const std::string& finalPath, std::string* error) {
  discard();
  std::string folder = folderOf(finalPath);
  if (!checkWritableFolder(folder, error)) return false;
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
  return true;
}

bool PendingFile::commit(std::string* error) {
  if (temporary_.empty()) {
    *error = final_ + ": nothing to commit";
    return false;
  }
  if (rename(temporary_.c_str(), final_.c_str()) != 0) {
    *error = final_ + ": cannot be written: " + strerror(errno);
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
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  // A dead ffmpeg must show up as a failed write, not kill the player mid-file.
  signal(SIGPIPE, SIG_IGN);
}

bool interruptRequested() { return interrupted != 0; }

int interruptExitStatus() { return 128 + (interrupted ? (int)interrupted : SIGINT); }

void clearInterrupt() { interrupted = 0; }

bool sameFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}
