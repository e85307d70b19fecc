// Outputs that appear whole or not at all. A file is written under a temporary name in
// its final folder and renamed over the final name only when complete; until commit()
// the destructor removes it, so an error, an early return or an interrupted run leaves
// nothing behind at the output path.
#pragma once

#include <signal.h>

#include <string>

class PendingFile {
 public:
  PendingFile() = default;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile() { discard(); }

  // Reserves a temporary name beside finalPath (creating the file, so that a folder
  // that does not exist or cannot be written is found out before any work is done).
  bool reserve(const std::string& finalPath, std::string* error);
  const std::string& temporaryPath() const { return temporary_; }
  const std::string& finalPath() const { return final_; }
  // Renames the temporary file to the final name.
  bool commit(std::string* error);
  // Removes the temporary file, if any.
  void discard();

 private:
  std::string final_, temporary_;
};

// The folder part of a path ("." for a bare name).
std::string folderOf(const std::string& path);

// Checks that path is an existing folder this process may create files in.
bool checkWritableFolder(const std::string& path, std::string* error);

// Ctrl-C and termination: the handler only records the signal, which the long loops
// and every wait on ffmpeg poll so that they leave through their normal clean-up path.
void installInterruptHandler();
bool interruptRequested();
// The exit status of a run stopped by that signal, by the shell's convention of 128 plus
// its number: 130 for SIGINT (Ctrl-C), 143 for SIGTERM, 129 for SIGHUP.
int interruptExitStatus();
// Forgets a signal received (the tests run many commands in one process).
void clearInterrupt();

// Whether two paths name one file (device and inode, through symbolic and hard links);
// false when either does not exist.
bool sameFile(const std::string& a, const std::string& b);
