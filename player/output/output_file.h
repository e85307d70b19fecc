// Outputs that appear whole or not at all. A file is written under a temporary name in
// its final folder and renamed over the final name only when complete; until commit()
// the destructor removes it, so an error, an early return or an interrupted run leaves
// nothing behind at the output path.
//
// Errors name the output as the user gave it and the system's reason ("out.mp4: No space
// left on device"), never the temporary name, which the user never asked for. Files in
// general (scratch files, the leftovers of killed runs, sameFile) are base/files.h's.
#pragma once

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

// The refusal of an existing output, the same words for files and folders.
std::string existsError(const std::string& path);

// Checks that path is an existing folder this process may create files in.
bool checkWritableFolder(const std::string& path, std::string* error);
