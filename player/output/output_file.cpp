#include "output/output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>  // renameat2, with RENAME_NOREPLACE
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/files.h"  // folderOf, writeError, the leftovers of killed runs

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

std::string existsError(const std::string& path) {
  return path + ": already exists (-y replaces it)";
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
