// Files in general, for every part of the player: names (the folder of a path, whether
// two paths are one file), the one-line reasons of failed writes, the run's scratch
// files in $TMPDIR, and the leftovers of killed runs. Outputs that appear whole or not
// at all are output/output_file.h's, on top of this.
#pragma once

#include <sys/types.h>  // pid_t

#include <string>

// The folder part of a path ("." for a bare name).
std::string folderOf(const std::string& path);

// Whether two paths name one file (device and inode, through symbolic and hard links);
// false when either does not exist.
bool sameFile(const std::string& a, const std::string& b);

// "<path>: <the system's text for errnum>".
std::string writeError(const std::string& path, int errnum);

// The system's text for a failed write found in a library's or program's message ("No
// space left on device" in "... System error : No space left on device."), or "".
std::string systemReasonIn(const std::string& text);

// A new empty file in this run's scratch folder, never in an output's folder:
// "$TMPDIR/orlimvis-run-<pid>-XXXXXX/<what>-XXXXXX<suffix>" ($TMPDIR or /tmp). The run
// folder is made at the first call and goes when removeScratchFile() removes its last
// file; a folder that a killed run left is removed by the next run that makes one.
// Empty on failure, with *error set.
std::string makeScratchFile(const std::string& what, const std::string& suffix, std::string* error);
// Removes a file that makeScratchFile() made (and the run's folder with its last file).
void removeScratchFile(const std::string& path);

// A scratch file for as long as this lives.
class ScratchFile {
 public:
  ScratchFile() = default;
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;
  ~ScratchFile() {
    if (!path_.empty()) removeScratchFile(path_);
  }
  bool make(const std::string& what, const std::string& suffix, std::string* error) {
    path_ = makeScratchFile(what, suffix, error);
    return !path_.empty();
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Leftovers of killed runs. A run names what it leaves while it works (a .part file, a
// staging or scratch folder) with its process id, and holds a lock on it (an open file
// description, which the kernel closes with the process). Its owner is gone when that
// process no longer exists and no one holds the lock; a reused process id keeps it a
// little longer, never the other way round.

// Opens path (a folder with O_DIRECTORY in flags) and locks it; the descriptor, to be
// closed when the run is done with it, or -1.
int holdAsOwner(const std::string& path, int flags);
// The process id in a name "<prefix><pid><suffix>", or 0 for a name of another form. A
// suffix that ends in '*' stands for any ending that starts with the rest of it.
pid_t leftoverOwner(const char* name, const std::string& prefix, const std::string& suffix);
// Whether the entry `name` of the folder open on folderFd, left by process pid, is this
// user's and has no owner any more.
bool ownerGone(int folderFd, const char* name, pid_t pid);
// Removes a file, or a folder and the files in it.
void removeLeftover(int folderFd, const char* name);
// Removes every leftover "<prefix><pid><suffix>" in folder whose owner is gone.
void removeDeadLeftovers(const std::string& folder, const std::string& prefix,
                         const std::string& suffix);
