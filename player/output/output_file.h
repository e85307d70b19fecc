// Outputs that appear whole or not at all. A file is written under a temporary name in
// its final folder and renamed over the final name only when complete; until commit()
// the destructor removes it, so an error, an early return or an interrupted run leaves
// nothing behind at the output path.
//
// Errors name the output as the user gave it and the system's reason ("out.mp4: No space
// left on device"), never the temporary name, which the user never asked for.
#pragma once

#include <signal.h>
#include <sys/types.h>  // pid_t

#include <string>

// What to do when the output already exists: refuse (ffmpeg's -n, the default) or
// replace it (-y).
enum class IfExists { Refuse, Replace };

class PendingFile {
 public:
  PendingFile() = default;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile() { discard(); }

  // Reserves a temporary name beside finalPath (creating the file, so that a folder
  // that does not exist or cannot be written is found out before any work is done).
  // An existing finalPath is refused unless ifExists is Replace.
  bool reserve(const std::string& finalPath, IfExists ifExists, std::string* error);
  bool reserve(const std::string& finalPath, std::string* error) {
    return reserve(finalPath, IfExists::Refuse, error);
  }
  const std::string& temporaryPath() const { return temporary_; }
  const std::string& finalPath() const { return final_; }
  // Renames the temporary file to the final name (never over a file that appeared in
  // the meantime, unless replacing was asked for).
  bool commit(std::string* error);
  // Removes the temporary file, if any.
  void discard();

 private:
  void releaseLock();

  std::string final_, temporary_;
  IfExists ifExists_ = IfExists::Refuse;
  int lock_ = -1;  // held on the temporary file: it has an owner while this lives
};

// "<path>: <the system's text for errnum>".
std::string writeError(const std::string& path, int errnum);

// The system's text for a failed write found in a library's or program's message ("No
// space left on device" in "... System error : No space left on device."), or "".
std::string systemReasonIn(const std::string& text);

// The refusal of an existing output, the same words for files and folders.
std::string existsError(const std::string& path);

// A new empty file in this run's scratch folder, never in an output's folder:
// "$TMPDIR/orlimvis-run-<pid>-XXXXXX/<what>-XXXXXX<suffix>" ($TMPDIR or /tmp). The run
// folder is made at the first call and goes when removeScratchFile() removes its last
// file; a folder that a killed run left is removed by the next run that makes one.
// Empty on failure, with *error set.
std::string makeScratchFile(const std::string& what, const std::string& suffix,
                            std::string* error);
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

// The folder part of a path ("." for a bare name).
std::string folderOf(const std::string& path);

// Checks that path is an existing folder this process may create files in.
bool checkWritableFolder(const std::string& path, std::string* error);

// Ctrl-C and termination: the handler only records the signal, which the long loops
// and every wait on ffmpeg poll so that they leave through their normal clean-up path.
// SIGPIPE and SIGXFSZ are ignored, so that a dead reader or a file-size limit show up
// as write errors with a reason. A signal that is ignored already (nohup, a background
// job of a non-interactive shell) is left ignored.
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
